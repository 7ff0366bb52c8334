// The clause verifier: clauses of every shape the compiler makes are
// accepted, and each rule rejects a clause that breaks only it, naming
// the rule.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "code_builder.h"
#include "code_records.h"
#include "indexing.h"
#include "insn_table.h"
#include "memman.h"
#include "preds.h"
#include "random_code.h"
#include "terms.h"
#include "verifier.h"
#include "wamsup.h"

namespace {

constexpr unsigned IX_ANY = IX_CASES;             // fits every first argument
constexpr unsigned IX_KEY = IX_VAR | IX_OTHER;    // keyed on an atom, functor or number
constexpr unsigned IX_LISTKEY = IX_VAR | IX_LIST; // keyed on a list cell

struct Verifier : ::testing::Test {
  std::vector<std::pair<emul_info *, std::uint32_t>> made;

  void SetUp() override
  {
    ASSERT_EQ(memman_init(), 0);
    std::memset(&preds, 0, sizeof preds);
    ASSERT_EQ(init_wamsup(), 1);
  }
  void TearDown() override
  {
    for (auto &[c, size] : made)
      checkdealloc(c, size, mm_code(MM_BIN_EMUL_INFO));
    made.clear();
    deinit_wamsup();
    memman_deinit();
  }

  emul_info *clause(const code_builder &b, unsigned ix)
  {
    emul_info *c = b.finish(elsecode, ix);
    made.push_back({c, emul_objsize(c)});
    return c;
  }
};

definition *pred() { return random_code::fake_definition(); }

TAGGED atom(int k) { return MakeAtom(100 + k); }

// p(X) :- (atom(X) ; true), as a block of arity 1 called from the clause.
void two_alternatives(code_builder &b)
{
  cb_label head = b.new_label(), a1 = b.new_label(), a2 = b.new_label();
  b.emit(EXECUTE, {cb::def(head)});
  b.choice_block(1, {a1, a2}, head);
  b.bind(a1);
  b.emit(ATOM, {cb::x(0), cb::else_to(failcode)});
  b.emit(PROCEED);
  b.bind(a2);
  b.emit(PROCEED);
}

struct good_case {
  const char *why;
  int arity;
  unsigned ix;
  std::function<void(code_builder &)> build;
};

std::vector<good_case> good_cases()
{
  const TAGGED g2 = MakeFunctor(atom(1), 2);
  return {
      {"fact p(a)", 1, IX_KEY,
       [](code_builder &b) {
         b.emit(GET_CONSTANT_X0, {cb::t(atom(0))});
         b.emit(PROCEED);
       }},
      {"fact p([_|_]) keyed on a list", 1, IX_LISTKEY,
       [](code_builder &b) {
         b.emit(GET_LIST_X0);
         b.emit(UNIFY_VOID_2);
         b.emit(PROCEED);
       }},
      {"chain rule p(X) :- q(X)", 1, IX_ANY, [](code_builder &b) { b.emit(EXECUTE, {cb::def(pred())}); }},
      {"rule with environment p(X,Y) :- q(X,Z), r(Z,Y)", 2, IX_ANY,
       [](code_builder &b) {
         b.emit(GET_Y_FIRST_VARIABLE, {cb::x(1), cb::y(0)});
         b.emit(FIRSTCALL, {cb::args(1, {cb::fresh(1)}), cb::def(pred()), cb::env(2)});
         b.emit(LASTCALL, {cb::args(0, {cb::value(1), cb::value(0)}), cb::def(pred())});
       }},
      {"environment made by INITCALL, left by PROGRESS", 0, IX_ANY,
       [](code_builder &b) {
         b.emit(INITCALL, {cb::args(0, {cb::fresh(0)}), cb::def(pred()), cb::env(1)});
         b.emit(CALL, {cb::args(0, {cb::unsafe(0)}), cb::def(pred()), cb::env(0)});
         b.emit(PROGRESS);
       }},
      {"choice block with two alternatives and an in-clause else", 1, IX_ANY,
       [](code_builder &b) {
         cb_label head = b.new_label(), a1 = b.new_label(), a2 = b.new_label(), no = b.new_label();
         b.emit(EXECUTE, {cb::def(head)});
         b.choice_block(1, {a1, a2}, head);
         b.bind(a1);
         b.emit(ATOM, {cb::x(0), cb::else_to(no)});
         b.emit(PROCEED);
         b.bind(no);
         b.emit(FAIL);
         b.bind(a2);
         b.emit(GET_CONSTANT, {cb::x(0), cb::t(atom(2))});
         b.emit(PROCEED);
       }},
      {"block whose first alternative fails to the failure code", 1, IX_ANY, two_alternatives},
      {"single-alternative block", 2, IX_ANY,
       [](code_builder &b) {
         cb_label head = b.new_label(), alt = b.new_label();
         b.emit(PUT_NIL, {cb::x(2)});
         b.emit(EXECUTE, {cb::def(head)});
         b.choice_block(3, {alt}, head);
         b.bind(alt);
         b.emit(PROCEED);
       }},
      {"large numbers: X0 key, float, structure ending in one", 2, IX_KEY,
       [g2](code_builder &b) {
         b.emit(GET_LARGE_X0, {cb::large_int(12345678901234LL)});
         b.emit(GET_STRUCTURE, {cb::x(1), cb::f(g2)});
         b.emit(UNIFY_VOID_1);
         b.emit(UNIFY_LARGE, {cb::large_float(2.5)});
         b.emit(PROCEED);
       }},
      {"profiled entry before the X0 test", 1, IX_KEY,
       [g2](code_builder &b) {
         b.emit(BUMP_ENTRY, {cb::counter(0), cb::counter(0)});
         b.emit(GET_STRUCTURE_X0, {cb::f(g2)});
         b.emit(UNIFY_X_VARIABLE, {cb::x(3)});
         b.emit(UNIFY_X_VALUE_PROCEED, {cb::x(1)});
       }},
      {"paired forms without overlap", 3, IX_ANY,
       [g2](code_builder &b) {
         b.emit(GET_XVAR_XVAR, {cb::x(1), cb::x(4), cb::x(2), cb::x(5)});
         b.emit(GET_STRUCTURE_XVAR_XVAR, {cb::x(0), cb::f(g2), cb::x(0), cb::x(6)});
         b.emit(EXECUTE, {cb::def(pred())});
       }},
  };
}

TEST_F(Verifier, AcceptsWhatTheCompilerMakes)
{
  for (const good_case &c : good_cases()) {
    code_builder b;
    c.build(b);
    emul_info *cl = clause(b, c.ix);
    std::string why;
    EXPECT_TRUE(verify_clause(cl, c.arity, &why)) << c.why << ": rejected with \"" << why << "\"";
  }
}

struct bad_case {
  const char *why;
  const char *rule;
  int arity;
  std::function<emul_info *(Verifier &)> make;
};

// A clause from a builder, changed afterwards when the builder cannot
// write the fault itself.
emul_info *built(Verifier &f, unsigned ix, const std::function<void(code_builder &)> &build,
                 const std::function<void(emul_info *)> &spoil = {})
{
  code_builder b;
  build(b);
  emul_info *c = f.clause(b, ix);
  if (spoil)
    spoil(c);
  return c;
}

TEST_F(Verifier, RejectsEachBrokenRuleByName)
{
  const TAGGED g2 = MakeFunctor(atom(1), 2);
  const std::vector<bad_case> cases = {
      {"odd halfword in place of an opcode", "opcode", 1,
       [](Verifier &f) {
         return built(f, IX_ANY, [](code_builder &b) {
           b.halfword(7);
           b.emit(PROCEED);
         });
       }},
      {"opcode past the last instruction", "opcode", 1,
       [](Verifier &f) {
         return built(f, IX_ANY, [](code_builder &b) {
           b.halfword(static_cast<INSN>(8 * INSN_COUNT));
           b.emit(PROCEED);
         });
       }},
      {"plain form where the Q form is needed", "alignment", 1,
       [](Verifier &f) {
         return built(f, IX_KEY, [](code_builder &b) {
           b.halfword(OPCODE(GET_CONSTANT_X0));
           b.word(atom(0));
           b.emit(PROCEED);
         });
       }},
      {"Q form where the plain form is needed", "alignment", 1,
       [](Verifier &f) {
         return built(f, IX_ANY, [](code_builder &b) {
           b.emit(PUT_NIL, {cb::x(1)});
           b.emit(PUT_NIL, {cb::x(2)});
           b.emit(GET_X1_X2); // five halfwords: EXECUTEQ's operand lands at 7
           b.halfword(OPCODE(EXECUTEQ));
           b.halfword(0);
           b.word(static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(pred())));
         });
       }},
      {"non-zero pad", "pad", 1,
       [](Verifier &f) {
         return built(
             f, IX_KEY,
             [](code_builder &b) {
               b.emit(GET_CONSTANT_X0, {cb::t(atom(0))});
               b.emit(PROCEED);
             },
             [](emul_info *c) { c->emulcode[1] = 1; });
       }},
      {"X operand 256", "x operand", 2,
       [](Verifier &f) {
         return built(f, IX_ANY, [](code_builder &b) {
           b.halfword(OPCODE(GET_X_VALUE_PROCEED));
           b.halfword(x_operand(1));
           b.halfword(x_operand(256));
         });
       }},
      {"X operand off the word grid", "x operand", 2,
       [](Verifier &f) {
         return built(f, IX_ANY, [](code_builder &b) {
           b.halfword(OPCODE(GET_X_VALUE_PROCEED));
           b.halfword(181);
           b.halfword(x_operand(0));
         });
       }},
      {"Y operand below the frame header", "y operand", 1,
       [](Verifier &f) {
         return built(f, IX_ANY, [](code_builder &b) {
           b.halfword(OPCODE(GET_Y_FIRST_VARIABLE));
           b.halfword(x_operand(0));
           b.halfword(4);
           b.emit(PROCEED);
         });
       }},
      {"else address into another clause, main part", "else address", 1,
       [](Verifier &f) {
         emul_info *other = built(f, IX_ANY, [](code_builder &b) { b.emit(PROCEED); });
         return built(f, IX_ANY, [other](code_builder &b) {
           b.emit(ATOM, {cb::x(0), cb::else_to(other->emulcode)});
           b.emit(PROCEED);
         });
       }},
      {"else address into another clause, after a block", "else address", 1,
       [](Verifier &f) {
         emul_info *other = built(f, IX_ANY, [](code_builder &b) { b.emit(PROCEED); });
         return built(f, IX_ANY, [other](code_builder &b) {
           cb_label head = b.new_label(), a1 = b.new_label(), a2 = b.new_label();
           b.emit(EXECUTE, {cb::def(head)});
           b.choice_block(1, {a1, a2}, head);
           b.bind(a1);
           b.emit(ATOM, {cb::x(0), cb::else_to(other->emulcode)});
           b.emit(PROCEED);
           b.bind(a2);
           b.emit(PROCEED);
         });
       }},
      {"else address inside an instruction", "else address", 1,
       [](Verifier &f) {
         return built(
             f, IX_ANY,
             [](code_builder &b) {
               cb_label head = b.new_label(), a1 = b.new_label(), a2 = b.new_label(), no = b.new_label();
               b.emit(EXECUTE, {cb::def(head)});
               b.choice_block(1, {a1, a2}, head);
               b.bind(a1);
               b.emit(ATOM, {cb::x(0), cb::else_to(no)});
               b.bind(no);
               b.emit(PROCEED);
               b.bind(a2);
               b.emit(PROCEED);
             },
             [](emul_info *c) {
               // ATOM (4 halfwords) starts the first alternative at 4 + 8 + 16.
               INSN *atom_insn = c->emulcode + 28;
               set_code_word(atom_insn + 2, static_cast<std::uint32_t>(
                                                reinterpret_cast<std::uintptr_t>(atom_insn + 1)));
             });
       }},
      {"call into the clause that is not a block head", "call target", 1,
       [](Verifier &f) {
         return built(
             f, IX_ANY,
             [](code_builder &b) {
               cb_label head = b.new_label(), alt = b.new_label();
               b.emit(EXECUTE, {cb::def(head)});
               b.choice_block(1, {alt}, head);
               b.bind(alt);
               b.emit(PROCEED);
             },
             [](emul_info *c) {
               set_code_word(c->emulcode + 2,
                             static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(c->emulcode + 12)));
             });
       }},
      // Blocks below: EXECUTEQ at 0, head at 4, try nodes at 12 and 20,
      // the alternatives from 28.
      {"try chain cut to one node", "choice block", 1,
       [](Verifier &f) {
         return built(f, IX_ANY, two_alternatives,
                      [](emul_info *c) { reinterpret_cast<try_node *>(c->emulcode + 12)->next = nullptr; });
       }},
      {"try entry in another clause", "try entry", 1,
       [](Verifier &f) {
         emul_info *other = built(f, IX_ANY, [](code_builder &b) { b.emit(PROCEED); });
         return built(f, IX_ANY, two_alternatives, [other](emul_info *c) {
           reinterpret_cast<try_node *>(c->emulcode + 20)->entry = other->emulcode;
         });
       }},
      {"try entry inside an instruction", "try entry", 1,
       [](Verifier &f) {
         return built(f, IX_ANY, two_alternatives, [](emul_info *c) {
           reinterpret_cast<try_node *>(c->emulcode + 20)->entry = c->emulcode + 29;
         });
       }},
      {"try node with a wrong node offset", "choice block", 1,
       [](Verifier &f) {
         return built(f, IX_ANY, two_alternatives,
                      [](emul_info *c) { reinterpret_cast<try_node *>(c->emulcode + 12)->node_offset = 24; });
       }},
      {"FIRSTCALL before the environment is allocated", "firstcall", 1,
       [](Verifier &f) {
         return built(f, IX_ANY, [](code_builder &b) {
           b.emit(FIRSTCALL, {cb::args(1, {cb::fresh(0)}), cb::def(pred()), cb::env(1)});
           b.emit(PROGRESS);
         });
       }},
      {"FIRSTCALL twice", "firstcall", 1,
       [](Verifier &f) {
         return built(f, IX_ANY, [](code_builder &b) {
           b.emit(PUT_Y_FIRST_VARIABLE, {cb::x(1), cb::y(0)});
           b.emit(FIRSTCALL, {cb::args(2, {}), cb::def(pred()), cb::env(1)});
           b.emit(FIRSTCALL, {cb::args(2, {}), cb::def(pred()), cb::env(1)});
           b.emit(PROGRESS);
         });
       }},
      {"INITCALL after allocation", "initcall", 1,
       [](Verifier &f) {
         return built(f, IX_ANY, [](code_builder &b) {
           b.emit(GET_Y_FIRST_VARIABLE, {cb::x(0), cb::y(0)});
           b.emit(INITCALL, {cb::args(0, {cb::value(0)}), cb::def(pred()), cb::env(1)});
           b.emit(PROGRESS);
         });
       }},
      {"PROGRESS without an environment", "progress", 0,
       [](Verifier &f) { return built(f, IX_ANY, [](code_builder &b) { b.emit(PROGRESS); }); }},
      {"X0 test after another test", "x0 form", 2,
       [](Verifier &f) {
         return built(f, IX_ANY, [](code_builder &b) {
           b.emit(GET_NIL, {cb::x(1)});
           b.emit(GET_NIL_X0);
           b.emit(PROCEED);
         });
       }},
      {"X0 test after a heap check", "x0 form", 1,
       [](Verifier &f) {
         return built(f, IX_ANY, [](code_builder &b) {
           b.emit(CHECK_HEAP, {cb::l(64)});
           b.emit(GET_LIST_X0);
           b.emit(PROCEED);
         });
       }},
      {"X0 test but index bits fit every argument", "ix", 1,
       [](Verifier &f) {
         return built(f, IX_ANY, [](code_builder &b) {
           b.emit(GET_CONSTANT_X0, {cb::t(atom(0))});
           b.emit(PROCEED);
         });
       }},
      {"index bits keyed but no X0 test", "ix", 1,
       [](Verifier &f) {
         return built(f, IX_KEY, [](code_builder &b) {
           b.emit(GET_CONSTANT, {cb::x(1), cb::t(atom(0))});
           b.emit(PROCEED);
         });
       }},
      {"list test with the other-keys bits", "ix", 1,
       [](Verifier &f) {
         return built(f, IX_KEY, [](code_builder &b) {
           b.emit(GET_LIST_X0);
           b.emit(UNIFY_VOID_2);
           b.emit(PROCEED);
         });
       }},
      {"objsize cuts the last instruction", "objsize", 1,
       [](Verifier &f) {
         return built(
             f, IX_ANY, [](code_builder &b) { b.emit(EXECUTE, {cb::def(pred())}); },
             [](emul_info *c) { set_emul_ix_objsize(c, emul_ix(c), emul_objsize(c) - 2); });
       }},
      {"objsize of half a halfword", "objsize", 1,
       [](Verifier &f) {
         return built(
             f, IX_ANY, [](code_builder &b) { b.emit(PROCEED); },
             [](emul_info *c) { set_emul_ix_objsize(c, emul_ix(c), emul_objsize(c) - 1); });
       }},
      {"no done instruction at the end", "done", 2,
       [](Verifier &f) {
         return built(f, IX_ANY, [](code_builder &b) { b.emit(GET_NIL, {cb::x(1)}); });
       }},
      {"code runs into a choice block", "done", 1,
       [](Verifier &f) {
         return built(f, IX_ANY, [](code_builder &b) {
           cb_label head = b.new_label(), alt = b.new_label();
           b.emit(PUT_NIL, {cb::x(0)});
           b.choice_block(1, {alt}, head);
           b.bind(alt);
           b.emit(PROCEED);
         });
       }},
      {"GET_XVAR_XVAR writes a register it then reads", "overlap", 3,
       [](Verifier &f) {
         return built(f, IX_ANY, [](code_builder &b) {
           b.emit(GET_XVAR_XVAR, {cb::x(1), cb::x(2), cb::x(2), cb::x(3)});
           b.emit(PROCEED);
         });
       }},
      {"U2_XVAR_XVAL reads the register it just wrote", "overlap", 1,
       [g2](Verifier &f) {
         return built(f, IX_ANY, [g2](code_builder &b) {
           b.emit(GET_STRUCTURE, {cb::x(0), cb::f(g2)});
           b.emit(U2_XVAR_XVAL, {cb::x(3), cb::x(3)});
           b.emit(PROCEED);
         });
       }},
      {"GET_STRUCTURE_XVAR_XVAR writes one register twice", "overlap", 1,
       [g2](Verifier &f) {
         return built(f, IX_ANY, [g2](code_builder &b) {
           b.emit(GET_STRUCTURE_XVAR_XVAR, {cb::x(0), cb::f(g2), cb::x(4), cb::x(4)});
           b.emit(PROCEED);
         });
       }},
      {"inline number before another argument", "unify_large", 1,
       [g2](Verifier &f) {
         return built(f, IX_ANY, [g2](code_builder &b) {
           b.emit(GET_STRUCTURE, {cb::x(0), cb::f(g2)});
           b.emit(UNIFY_LARGE, {cb::large_float(1.5)});
           b.emit(UNIFY_VOID_1);
           b.emit(PROCEED);
         });
       }},
  };
  for (const bad_case &c : cases) {
    emul_info *cl = c.make(*this);
    std::string why;
    const bool ok = verify_clause(cl, c.arity, &why);
    EXPECT_FALSE(ok) << c.why << ": accepted, expected a \"" << c.rule << "\" fault";
    if (!ok) {
      EXPECT_EQ(why.rfind(std::string(c.rule) + ":", 0), 0u)
          << c.why << ": expected rule \"" << c.rule << "\", got \"" << why << "\"";
    }
  }
}

// Damaged code is judged, never followed: one halfword at a time of every
// sound clause is overwritten with an arbitrary value (an operand that
// claims a huge count, an opcode into the middle of an operand, a block
// unit), and the verifier must come back with a verdict and, when it
// rejects, a reason.  Under the sanitizers this also catches reads past
// the clause.
TEST_F(Verifier, DamagedCodeGetsAVerdict)
{
  std::mt19937 rng(2026);
  const INSN specials[] = {5, 0, 0xFFFF, 0xFF00, 0x0100, OPCODE(PROCEED), OPCODE(NOP), 3, 180};
  for (const good_case &c : good_cases()) {
    code_builder b;
    c.build(b);
    emul_info *cl = clause(b, c.ix);
    const std::size_t n = (emul_objsize(cl) - EMUL_INFO_HEADER) / 2;
    for (int round = 0; round < 300; round++) {
      const std::size_t k = rng() % n;
      const INSN saved = cl->emulcode[k];
      cl->emulcode[k] = round % 2 ? static_cast<INSN>(rng()) : specials[rng() % std::size(specials)];
      std::string why;
      if (!verify_clause(cl, c.arity, &why)) {
        EXPECT_FALSE(why.empty()) << c.why << ": halfword " << k << " rejected without a reason";
      }
      cl->emulcode[k] = saved;
    }
    std::string why;
    EXPECT_TRUE(verify_clause(cl, c.arity, &why)) << c.why << ": the verifier changed the clause: " << why;
  }
}

// The message names the form that belongs at a misaligned operand, so the
// compiler's author sees the Q choice that went wrong.
TEST_F(Verifier, AlignmentFaultNamesTheRightForm)
{
  code_builder b;
  b.halfword(OPCODE(GET_CONSTANT_X0));
  b.word(atom(0));
  b.emit(PROCEED);
  std::string why;
  ASSERT_FALSE(verify_clause(clause(b, IX_KEY), 1, &why));
  EXPECT_NE(why.find("GET_CONSTANT_X0Q belongs here"), std::string::npos) << "got \"" << why << "\"";
}

} // namespace
