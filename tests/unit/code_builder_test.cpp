// The code builder: Q-form choice, worked layouts, alignment of every 32-bit
// operand over a random mix of all instructions, labels, embedded choice
// blocks, inline numbers, clause records and operand checking.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "code_builder.h"
#include "code_records.h"
#include "datadefs.h"
#include "insn_table.h"
#include "memman.h"
#include "random_code.h"
#include "terms.h"

namespace {

std::uint32_t addr(const void *p)
{
  return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(p));
}

// Which form comes out depends only on where the plain form's first 32-bit
// operand would land; the caller may name either form.
TEST(CodeBuilder, QFormChosenByAlignment)
{
  const TAGGED fun = MakeFunctor(MakeAtom(40), 2);
  struct qcase {
    const char *why;
    int prefix_halfwords; // UNIFY_VOID_1 instructions before it
    int named;
    std::vector<cb_operand> ops;
    int expected;
  };
  const std::vector<qcase> cases = {
      {"uf at start: functor at halfword 2", 0, GET_STRUCTURE, {cb::x(1), cb::f(fun)}, GET_STRUCTURE},
      {"uf at start, Q form named", 0, GET_STRUCTUREQ, {cb::x(1), cb::f(fun)}, GET_STRUCTURE},
      {"uf after one halfword", 1, GET_STRUCTURE, {cb::x(1), cb::f(fun)}, GET_STRUCTUREQ},
      {"X0 test at clause start", 0, GET_STRUCTURE_X0, {cb::f(fun)}, GET_STRUCTURE_X0Q},
      {"X0 test after one halfword", 1, GET_STRUCTURE_X0Q, {cb::f(fun)}, GET_STRUCTURE_X0},
      {"heap check at clause start", 0, CHECK_HEAP, {cb::l(100)}, CHECK_HEAPQ},
      {"constant at start", 0, GET_CONSTANT_X0, {cb::t(atom_nil)}, GET_CONSTANT_X0Q},
      {"EXECUTE at start", 0, EXECUTE, {cb::def(random_code::fake_definition())}, EXECUTEQ},
      {"EXECUTE after one halfword", 1, EXECUTEQ, {cb::def(random_code::fake_definition())}, EXECUTE},
      {"CALL, 3 args at start: E at halfword 5", 0, CALL,
       {cb::args(0, {cb::value(0), cb::value(1), cb::value(2)}), cb::def(random_code::fake_definition()), cb::env(3)},
       CALLQ},
      {"CALL, 2 args at start: E at halfword 4", 0, CALL,
       {cb::args(0, {cb::value(0), cb::value(1)}), cb::def(random_code::fake_definition()), cb::env(3)}, CALL},
      {"CALL, 0 args after one halfword", 1, CALLQ, {cb::args(0, {}), cb::def(random_code::fake_definition()), cb::env(0)},
       CALLQ},
      {"FIRSTCALL, 1 arg after one halfword", 1, FIRSTCALL,
       {cb::args(0, {cb::fresh(0)}), cb::def(random_code::fake_definition()), cb::env(1)}, FIRSTCALL},
      {"L after X at start", 0, GET_LARGE, {cb::x(0), cb::large_float(2.5)}, GET_LARGE},
      {"L after X, odd start", 1, GET_LARGE, {cb::x(0), cb::large_float(2.5)}, GET_LARGEQ},
      {"open foreign call: E after two counts", 0, OPEN_FOREIGN_CALL,
       {cb::n(2), cb::n(1), cb::def(random_code::fake_definition()), cb::native(reinterpret_cast<const void *>(0x1000))},
       OPEN_FOREIGN_CALLQ},
      {"no 32-bit operand: never a pad", 1, GET_LIST, {cb::x(2)}, GET_LIST},
  };
  for (const qcase &c : cases) {
    code_builder b;
    for (int i = 0; i < c.prefix_halfwords; i++)
      b.emit(UNIFY_VOID_1);
    EXPECT_EQ(b.emit(c.named, c.ops), c.expected)
        << c.why << ": expected " << insnname[c.expected];
  }
}

TEST(CodeBuilder, WorkedLayouts)
{
  // CALL with three arguments where its definition lands aligned: opcode
  // 1008, header 0x0300, three argument halfwords, definition, env size.
  code_builder b;
  b.emit(UNIFY_VOID_1);
  EXPECT_EQ(b.emit(CALL, {cb::args(0, {cb::value(1), cb::fresh(2), cb::heap_var()}),
                          cb::def(random_code::fake_definition()), cb::env(3)}),
            CALL);
  const std::size_t call_end = b.size();
  // GET_STRUCTUREQ: opcode 328, pad 0, X operand, functor.
  const TAGGED fun = MakeFunctor(MakeAtom(50), 3);
  ASSERT_EQ(call_end % 2, 1u) << "CALL ends at an odd halfword";
  EXPECT_EQ(b.emit(GET_STRUCTURE, {cb::x(1), cb::f(fun)}), GET_STRUCTUREQ);
  const std::vector<INSN> img = b.image(0x1000);
  const std::uint32_t d = addr(random_code::fake_definition());
  const std::vector<INSN> call(img.begin() + 1, img.begin() + call_end);
  EXPECT_EQ(call, (std::vector<INSN>{1008, 0x0300, y_operand(1), static_cast<INSN>(y_operand(2) + 1), 3,
                                     static_cast<INSN>(d & 0xFFFF), static_cast<INSN>(d >> 16), 20}));
  const std::vector<INSN> gs(img.begin() + call_end, img.end());
  EXPECT_EQ(gs, (std::vector<INSN>{328, 0, x_operand(1), static_cast<INSN>(fun & 0xFFFF), static_cast<INSN>(fun >> 16)}));
}

// Over every instruction number, in random order with random operands and
// choice blocks between: the placed code walks back into exactly what was
// emitted, and every 32-bit operand is 4-byte aligned (which, given that a
// Q form differs from its twin by one halfword, also shows that no pad was
// added where the plain form was aligned already).
TEST(CodeBuilder, EveryWordOperandAlignedInRandomMix)
{
  for (unsigned seed : {1u, 2u, 3u}) {
    random_code::generator g(seed);
    g.run(3);
    alignas(8) static INSN buf[40000];
    const std::size_t n = g.b.place(buf);
    ASSERT_LE(n, sizeof buf / sizeof buf[0]);
    std::size_t at = 0, misaligned = 0;
    for (const random_code::emitted &e : g.log) {
      if (e.insn < 0) {
        // A NOP pads an odd position before a block.
        if (at != e.at) {
          ASSERT_EQ(buf[at], OPCODE(NOP)) << "seed " << seed << " at " << at;
          at += insn_length(buf + at);
        }
        ASSERT_EQ(at, e.at) << "seed " << seed;
        ASSERT_EQ(buf[at], EMBEDDED_CHOICE_UNIT);
        ASSERT_EQ(at % 2, 0u) << "choice block at an odd halfword";
        at += 8 + (e.alternatives > 1 ? 8 * e.alternatives : 0);
        continue;
      }
      ASSERT_EQ(at, e.at) << "seed " << seed << ": instruction " << insnname[e.insn] << " misplaced";
      ASSERT_EQ(buf[at], OPCODE(e.insn)) << "seed " << seed << " at " << at;
      for (std::size_t off : random_code::word_offsets(buf + at))
        if ((addr(buf + at + off)) % 4 != 0) {
          misaligned++;
          ADD_FAILURE() << "seed " << seed << ": " << insnname[e.insn] << " at halfword " << at
                        << " has a 32-bit operand at halfword offset " << off << " not 4-byte aligned";
        }
      at += insn_length(buf + at) + (e.insn == EXIT_TOPLEVEL ? 1 : 0);
    }
    EXPECT_EQ(at, n) << "seed " << seed;
    EXPECT_EQ(misaligned, 0u);
  }
}

TEST(CodeBuilder, LabelsResolveForwardAndBackward)
{
  code_builder b;
  cb_label top = b.here();
  cb_label out = b.new_label();
  b.emit(FIRST_X_VALUE, {cb::x(0)});                            // 0..1
  b.emit(LESS_THAN_IMM, {cb::l(10), cb::else_to(out)});         // forward; Q form at 2
  b.emit(EQUAL_TO, {cb::else_to(top)});                         // backward
  b.emit(EQUAL_TO, {cb::else_to(random_code::fake_failcode())}); // fixed address
  b.bind(out);
  b.emit(PROCEED);
  alignas(8) INSN buf[64];
  const std::size_t n = b.place(buf);
  ASSERT_EQ(n, b.size());
  EXPECT_EQ(buf[2], OPCODE(LESS_THAN_IMMQ));
  EXPECT_EQ(code_word(buf + 6), addr(buf + b.offset_of(out)));
  EXPECT_EQ(b.offset_of(out), n - 1);
  std::size_t at = 2;
  at += insn_length(buf + at);
  ASSERT_EQ(buf[at], OPCODE(EQUAL_TOQ));
  EXPECT_EQ(code_word(buf + at + 2), addr(buf)) << "backward label to the clause start";
  at += insn_length(buf + at);
  EXPECT_EQ(code_word(buf + at + (buf[at] == OPCODE(EQUAL_TOQ) ? 2 : 1)), addr(random_code::fake_failcode()));
  // The same builder placed elsewhere resolves against the new address.
  const std::vector<INSN> img = b.image(0x40000);
  EXPECT_EQ(code_word(img.data() + 6), 0x40000u + 2 * b.offset_of(out));
}

// One alternative: the head's code is the code right after it.  Two or
// more: the head's code is the first node's TRY opcode, nodes chained in
// order, each {next, entry, itself, 24 + 4 * arity, TRY}.
TEST(CodeBuilder, EmbeddedChoiceBlocksLaidOutExactly)
{
  void *const saved_entry = pred_tab[ENTER_INTERNAL];
  pred_tab[ENTER_INTERNAL] = reinterpret_cast<void *>(0x5550);

  code_builder b;
  cb_label a1 = b.new_label(), a2 = b.new_label(), a3 = b.new_label();
  cb_label head = b.new_label();
  EXPECT_EQ(b.emit(EXECUTE, {cb::def(head)}), EXECUTEQ); // 0..3
  cb_label h = b.choice_block(2, {a1, a2, a3}, head);
  EXPECT_EQ(h.id, head.id);
  EXPECT_EQ(b.offset_of(h), 4u);
  b.bind(a1);
  b.emit(PROCEED);
  b.bind(a2);
  b.emit(PROGRESS);
  b.bind(a3);
  b.emit(FAIL);
  EXPECT_EQ(b.offset_of(a1), 4u + 8 + 3 * 8);

  alignas(8) INSN buf[64];
  b.place(buf);
  INSN *hd = buf + 4;
  EXPECT_EQ(hd[0], 5);
  EXPECT_EQ(hd[1], 2);
  EXPECT_EQ(hd[2], 16);
  EXPECT_EQ(hd[3], OPCODE(KONTINUE));
  EXPECT_EQ(code_word(hd + 4), 0x5550u) << "the head's entry handler is that of ENTER_INTERNAL";
  auto *n1 = reinterpret_cast<try_node *>(hd + 8);
  auto *n2 = n1 + 1, *n3 = n1 + 2;
  EXPECT_EQ(code_word(hd + 6), addr(&n1->opcode));
  const INSN *entries[] = {buf + b.offset_of(a1), buf + b.offset_of(a2), buf + b.offset_of(a3)};
  try_node *nodes[] = {n1, n2, n3};
  for (int k = 0; k < 3; k++) {
    SCOPED_TRACE("node " + std::to_string(k + 1));
    EXPECT_EQ(nodes[k]->next, k < 2 ? nodes[k + 1] : nullptr);
    EXPECT_EQ(nodes[k]->entry, entries[k]);
    EXPECT_EQ(nodes[k]->link, nodes[k]);
    EXPECT_EQ(nodes[k]->node_offset, 32);
    EXPECT_EQ(nodes[k]->opcode, OPCODE(TRY));
  }
  EXPECT_EQ(code_word(buf + 2), addr(buf + 4)) << "EXECUTEQ head label resolved";

  // A single alternative; an odd position gets a three-halfword NOP first.
  code_builder s;
  s.emit(UNIFY_VOID_1);
  cb_label alt = s.new_label();
  cb_label sh = s.choice_block(0, {alt});
  s.bind(alt);
  s.emit(PROCEED);
  EXPECT_EQ(s.offset_of(sh), 4u);
  EXPECT_EQ(s.size(), 4u + 8 + 1) << "a single alternative has no try nodes";
  s.place(buf);
  EXPECT_EQ((std::vector<INSN>(buf + 1, buf + 8)),
            (std::vector<INSN>{OPCODE(NOP), 2, 0, 5, 0, 8, OPCODE(KONTINUE)}));
  EXPECT_EQ(code_word(buf + 10), addr(buf + 12));

  pred_tab[ENTER_INTERNAL] = saved_entry;
}

// The loaders call asm_try_insn piece by piece at the final address.
TEST(CodeBuilder, AsmTryInsnStepByStep)
{
  alignas(8) INSN buf[48] = {};
  INSN *t1 = buf + 40, *t2 = buf + 42, *t3 = buf + 44;
  INSN *p = asm_try_insn(buf, t1, 3, 1);
  EXPECT_EQ(p, buf + 8);
  EXPECT_EQ((std::vector<INSN>(buf, buf + 4)), (std::vector<INSN>{5, 3, 20, OPCODE(KONTINUE)}));
  EXPECT_EQ(code_word(buf + 6), addr(t1)) << "one alternative: the head's code is the target";
  p = asm_try_insn(p, t2, 3, 2);
  EXPECT_EQ(p, buf + 24);
  auto *n1 = reinterpret_cast<try_node *>(buf + 8);
  EXPECT_EQ(code_word(buf + 6), addr(&n1->opcode));
  EXPECT_EQ(n1->entry, t1) << "the first target moves into the first node";
  EXPECT_EQ(n1->next, n1 + 1);
  EXPECT_EQ(n1[1].entry, t2);
  EXPECT_EQ(n1[1].next, nullptr);
  p = asm_try_insn(p, t3, 3, 3);
  EXPECT_EQ(p, buf + 32);
  EXPECT_EQ(n1[1].next, n1 + 2);
  EXPECT_EQ(n1[2].entry, t3);
  EXPECT_EQ(n1[2].next, nullptr);
  EXPECT_EQ(n1[2].link, n1 + 2);
  EXPECT_EQ(n1[2].node_offset, node_offset_for(3));
  EXPECT_EQ(n1[2].opcode, OPCODE(TRY));
}

TEST(CodeBuilder, InlineNumbers)
{
  double nan_bits_probe = std::nan("7");
  std::uint64_t canon;
  std::memcpy(&canon, &ieee_nan, sizeof canon);
  double one_half = 1.5;
  std::uint32_t fw[2];
  std::memcpy(fw, &one_half, sizeof fw);
  const TAGGED heap_box[] = {BOX_INT2, 0x89ABCDEF, 0x12, BOX_INT2}; // trailer not copied
  struct ncase {
    const char *why;
    cb_operand op;
    std::vector<std::uint32_t> words;
  };
  const std::vector<ncase> cases = {
      {"float: three words, low word first", cb::large_float(1.5), {BOX_FLOAT, fw[0], fw[1]}},
      {"NaN made canonical", cb::large_float(nan_bits_probe),
       {BOX_FLOAT, static_cast<std::uint32_t>(canon), static_cast<std::uint32_t>(canon >> 32)}},
      {"one digit", cb::large_int(7), {BOX_INT1, 7}},
      {"most negative 32-bit: one digit", cb::large_int(INT32_MIN), {BOX_INT1, 0x80000000u}},
      {"2^31 needs a second digit", cb::large_int(0x80000000LL), {BOX_INT2, 0x80000000u, 0}},
      {"negative 64-bit", cb::large_int(-5000000000LL),
       {BOX_INT2, static_cast<std::uint32_t>(-5000000000LL), static_cast<std::uint32_t>(-5000000000LL >> 32)}},
      {"digit vector", cb::large_digits({1, 2, 3}), {BoxHeader(3, false), 1, 2, 3}},
      {"from a heap box, trailer dropped", cb::large(heap_box), {BOX_INT2, 0x89ABCDEF, 0x12}},
  };
  for (const ncase &c : cases) {
    code_builder b;
    b.emit(PUT_LARGE, {cb::x(2), c.op});
    b.emit(PROCEED);
    const std::vector<INSN> img = b.image(0);
    ASSERT_EQ(img[0], OPCODE(PUT_LARGE)) << c.why;
    std::vector<std::uint32_t> got;
    for (std::size_t w = 0; w < c.words.size(); w++)
      got.push_back(code_word(img.data() + 2 + 2 * w));
    EXPECT_EQ(got, c.words) << c.why;
    EXPECT_EQ(img.size(), 2 + 2 * c.words.size() + 1) << c.why << ": PROCEED right behind the payload";
    EXPECT_EQ(img.back(), OPCODE(PROCEED)) << c.why;
    EXPECT_EQ(insn_length(img.data()), 2 + 2 * c.words.size()) << c.why;
  }
}

struct ClauseRecord : ::testing::Test {
  void SetUp() override { ASSERT_EQ(memman_init(), 0); }
  void TearDown() override { memman_deinit(); }
};

TEST_F(ClauseRecord, FieldsAndCode)
{
  code_builder b;
  cb_label out = b.new_label();
  b.emit(GET_CONSTANT_X0, {cb::t(MakeAtom(60))});
  b.emit(EQUAL_TO, {cb::else_to(out)});
  b.bind(out);
  b.emit(PROCEED);
  const TAGGED file = MakeAtom(77);
  INSN *else_cont = const_cast<INSN *>(random_code::fake_failcode());
  emul_info *c = b.finish(else_cont, 0x16 | 0x20 | 0x100, file);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->next, nullptr);
  EXPECT_EQ(c->elsecode, else_cont);
  EXPECT_EQ(emul_ix(c), 0x136u);
  EXPECT_EQ(emul_objsize(c), 16 + 2 * b.size());
  EXPECT_EQ(c->filename, file);
  EXPECT_EQ(addr(c->emulcode) % 4, 0u);
  const std::vector<INSN> img = b.image(addr(c->emulcode));
  EXPECT_EQ(std::vector<INSN>(c->emulcode, c->emulcode + b.size()), img);
  EXPECT_EQ(code_word(c->emulcode + 6), addr(c->emulcode + b.offset_of(out)));
  checkdealloc(c, emul_objsize(c), mm_code(MM_BIN_EMUL_INFO));

  // The record of a call/N clause: two halfwords of code, 20 bytes.
  code_builder n;
  n.emit(EXECUTE_CALL, {cb::n(3)});
  emul_info *cn = n.finish(else_cont, 31);
  EXPECT_EQ(emul_objsize(cn), 20u);
  EXPECT_EQ(cn->filename, atom_nil);
  EXPECT_EQ(cn->emulcode[0], OPCODE(EXECUTE_CALL));
  EXPECT_EQ(cn->emulcode[1], 3);
  checkdealloc(cn, emul_objsize(cn), mm_code(MM_BIN_EMUL_INFO));
}

// The record's size has 23 bits: the largest clause that fits is built
// whole, one halfword more is refused before anything is allocated,
// never stored with its size cut short.
TEST_F(ClauseRecord, AClauseTooLargeForTheSizeFieldIsRefused)
{
  const std::size_t largest = (EMUL_OBJSIZE_MAX - EMUL_INFO_HEADER) / 2;
  code_builder b;
  for (std::size_t i = 0; i < largest; i++)
    b.halfword(OPCODE(PROCEED));
  INSN *else_cont = const_cast<INSN *>(random_code::fake_failcode());
  emul_info *c = b.finish(else_cont, 0);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(emul_objsize(c), EMUL_INFO_HEADER + 2 * largest);
  EXPECT_EQ(c->emulcode[largest - 1], OPCODE(PROCEED));
  checkdealloc(c, emul_objsize(c), mm_code(MM_BIN_EMUL_INFO));

  b.halfword(OPCODE(PROCEED));
  const std::size_t before = eglobal->mm.mm_bins[MM_BIN_EMUL_INFO];
  try {
    b.finish(else_cont, 0);
    ADD_FAILURE() << "a clause of " << EMUL_INFO_HEADER + 2 * b.size() << " bytes was built";
  } catch (const std::invalid_argument &e) {
    EXPECT_NE(std::string(e.what()).find("exceeds the largest clause"), std::string::npos) << e.what();
  }
  EXPECT_EQ(eglobal->mm.mm_bins[MM_BIN_EMUL_INFO], before) << "the refused record was allocated";
}

// Every mistake is refused with a message naming it, before any code is
// placed.
TEST(CodeBuilder, RejectsMalformedOperands)
{
  struct rcase {
    const char *why;
    std::function<void()> run;
    const char *message;
  };
  const std::vector<rcase> cases = {
      {"Y where an X is due", [] { code_builder b; b.emit(GET_NIL, {cb::y(1)}); }, "expected an X register, got a Y variable"},
      {"atom where a functor is due", [] { code_builder b; b.emit(GET_STRUCTURE, {cb::x(1), cb::t(atom_nil)}); },
       "expected a functor"},
      {"missing operand", [] { code_builder b; b.emit(GET_STRUCTURE, {cb::x(1)}); }, "missing"},
      {"extra operand", [] { code_builder b; b.emit(PROCEED, {cb::x(1)}); }, "operands given"},
      {"unsafe value in a linking call",
       [] { code_builder b; b.emit(FIRSTCALL, {cb::args(0, {cb::unsafe(1)}), cb::def(random_code::fake_definition()), cb::env(2)}); },
       "unsafe value"},
      {"unsafe value in PUT_FIRST", [] { code_builder b; b.emit(PUT_FIRST, {cb::args(0, {cb::unsafe(1)})}); }, "unsafe value"},
      {"environment size not a multiple of 4",
       [] { code_builder b; b.emit(CALL, {cb::args(0, {}), cb::def(random_code::fake_definition()), cb::n(10)}); },
       "multiple of 4"},
      {"NOP of length 0", [] { code_builder b; b.emit(NOP, {cb::n(0)}); }, "at least 1"},
      {"no such instruction", [] { code_builder b; b.emit("GET_NOTHING"); }, "no instruction named"},
      {"instruction number out of range", [] { code_builder b; b.emit(350); }, "out of range"},
      {"X256", [] { cb::x(256); }, "out of range"},
      {"functor of arity 0", [] { cb::f(MakeAtom(3)); }, "functor word"},
      {"structure pointer as a constant", [] { cb::t(0x1001); }, "atom or a small integer"},
      {"non-minimal digits", [] { cb::large_digits({5, 0}); }, "not minimal"},
      {"non-minimal negative digits", [] { cb::large_digits({0x80000000u, 0xFFFFFFFFu}); }, "not minimal"},
      {"argument list past X255", [] { cb::args(254, {cb::value(0), cb::value(1), cb::value(2)}); }, "past X255"},
      {"unbound label at placement",
       [] { code_builder b; cb_label l = b.new_label(); b.emit(EQUAL_TO, {cb::else_to(l)}); b.image(0); }, "never bound"},
      {"label bound twice", [] { code_builder b; cb_label l = b.here(); b.bind(l); }, "bound twice"},
      {"placement off a multiple of 4", [] { code_builder b; b.emit(PROCEED); b.image(2); }, "multiple of 4"},
      {"single alternative elsewhere",
       [] {
         code_builder b;
         cb_label l = b.here();
         b.emit(PROCEED);
         b.choice_block(1, {l});
         b.image(0);
       },
       "followed directly"},
      {"call into the code that is not a choice block",
       [] {
         code_builder b;
         cb_label l = b.here();
         b.emit(EXECUTE, {cb::def(l)});
         b.image(0);
       },
       "head of a choice block"},
      {"choice block without alternatives", [] { code_builder b; b.choice_block(1, {}); }, "without alternatives"},
      {"choice block arity 256", [] { code_builder b; cb_label l = b.new_label(); b.choice_block(256, {l}); }, "out of range"},
  };
  for (const rcase &c : cases) {
    try {
      c.run();
      ADD_FAILURE() << c.why << ": accepted, expected a refusal mentioning \"" << c.message << "\"";
    } catch (const std::invalid_argument &e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos)
          << c.why << ": expected the message to mention \"" << c.message << "\", got \"" << e.what() << "\"";
    }
  }
}

TEST(CodeBuilder, NopAndRawHalfwords)
{
  code_builder b;
  b.emit("NOP", {cb::n(4)});
  b.emit(EXIT_TOPLEVEL);
  b.halfword(static_cast<INSN>(-1));
  b.word(0xDEADBEEF);
  const std::vector<INSN> img = b.image(0);
  EXPECT_EQ(img, (std::vector<INSN>{OPCODE(NOP), 4, 0, 0, 0, OPCODE(EXIT_TOPLEVEL), 0xFFFF, 0xBEEF, 0xDEAD}));
  EXPECT_EQ(insn_length(img.data()), 5u);
  // The name and the number give the same code.
  code_builder a, c;
  a.emit("GET_X_VARIABLE", {cb::x(1), cb::x(2)});
  c.emit(GET_X_VARIABLE, {cb::x(1), cb::x(2)});
  EXPECT_EQ(a.image(0), c.image(0));
}

} // namespace
