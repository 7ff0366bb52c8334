// Stepping through compiled code: instruction lengths and classes for every
// instruction, else wiring, environment preparation, continuation kinds and
// the profiling counters held in code.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "code_records.h"
#include "code_walkers.h"
#include "initial_atoms.h"
#include "canned_code_fixture.h"
#include "insn_table.h"
#include "memman.h"
#include "preds.h"
#include "wamsup.h"
#include "code_buf.h"

namespace {



using CodeWalkers = CannedCodeTest;

// Writes one instruction with sensible operands for every letter of its
// format and records where each operand starts; returns the halfwords
// written.
unsigned write_sample(code_buf &b, int insn, std::vector<std::pair<char, unsigned>> &where)
{
  const unsigned start = b.n;
  b.op(insn);
  for (const char *f = fmt_letters[insn_fmt[insn]]; *f != '\0'; f++) {
    where.emplace_back(*f, b.n - start);
    switch (*f) {
    case 'Q': b.half(0); break;
    case 'u': case 'd': b.half(x_operand(7)); break;
    case 'y': case 'v': b.half(y_operand(3)); break;
    case 'i': b.half(2); break;
    case 'r': b.half(3); break;
    case 'e': b.half(16); break;
    case 's': b.half(3).half(0xFFFF).half(0x5555); break; // NOP of 3: two arbitrary halfwords
    case 't': b.word(MakeSmall_checked(42)); break;
    case 'f': b.word(0x1000A07); break;
    case 'l': b.word(0x12345678); break;
    case 'p': b.word(addr(b.h)); break;
    case 'P': b.word(99); break;
    case 'C': b.word(0x0804A000); break;
    case 'E': b.word(0x0805B008); break;
    case 'L': b.word(0xFFFFFFDF).word(0).word(0x3FF00000); break; // a float: 3 words, 6 halfwords
    case 'Z': b.half((3 << 8) | 1).half(y_operand(0)).half(y_operand(1) + 1).half(3); break;
    case 'G': b.half(2).half(x_operand(1)).half(y_operand(0)).half(x_operand(2)).half(y_operand(1)); break;
    default: break; // digits, a, A
    }
  }
  return b.n - start;
}

TEST_F(CodeWalkers, SkipInsnOverEveryInstruction)
{
  const std::set<int> call_insns = {INITCALLQ,     INITCALL,         INITCALL_CALL,      FIRSTCALLQ,
                                    FIRSTCALL,     FIRSTCALL_CALL,   CALLQ,              CALL,
                                    CALL_CALL,     CALL_FOREIGNQ,    CALL_FOREIGN,       CALL_FOREIGN_FASTQ,
                                    CALL_FOREIGN_FAST};
  for (int insn = 0; insn < INSN_COUNT; insn++) {
    code_buf b;
    std::vector<std::pair<char, unsigned>> where;
    const unsigned written = write_sample(b, insn, where);
    int cls = -1;
    INSN *next = skip_insn(b.h, &cls, nullptr);
    EXPECT_EQ(next - b.h, static_cast<long>(written)) << insnname[insn];
    EXPECT_EQ(insn_length(b.h), written) << insnname[insn];
    const int want = insn_class[insn] == iclass_done ? 2 : call_insns.count(insn) ? 1 : 0;
    EXPECT_EQ(cls, want) << insnname[insn];

    std::vector<std::pair<char, unsigned>> seen;
    for_each_operand(b.h, [&](char letter, INSN *at) { seen.emplace_back(letter, static_cast<unsigned>(at - b.h)); });
    EXPECT_EQ(seen, where) << insnname[insn] << ": operand positions";
  }
}

TEST_F(CodeWalkers, SkipInsnZListOfThreeInQForm)
{
  code_buf b;
  b.op(CALLQ).half(0).half((3 << 8) | 0).half(y_operand(0)).half(y_operand(1)).half(y_operand(2))
      .word(0x0805B008).half(20);
  int cls = -1;
  EXPECT_EQ(skip_insn(b.h, &cls, nullptr), b.h + 9);
  EXPECT_EQ(cls, 1);
  // The class may be ignored.
  EXPECT_EQ(skip_insn(b.h, nullptr, nullptr), b.h + 9);
}

TEST_F(CodeWalkers, SkipInsnWiresOnlyUnwiredElseOperands)
{
  code_buf target;
  INSN *label = target.h + 4;
  INSN *elsewhere = target.h + 8;
  struct tc {
    int insn;
    unsigned p_at; // halfword of the else operand
  };
  const tc cases[] = {
      {LESS_THAN_IMMQ, 4}, {LESS_THAN_IMM, 3}, {EQUAL_TOQ, 2}, {EQUAL_TO, 1}, {ATOMQ, 3}, {ATOM, 2},
  };
  for (const auto &c : cases) {
    for (INSN *initial : {elsecode, elsewhere}) {
      code_buf b;
      std::vector<std::pair<char, unsigned>> where;
      write_sample(b, c.insn, where);
      set_code_word(b.h + c.p_at, addr(initial));
      skip_insn(b.h, nullptr, nullptr);
      EXPECT_EQ(code_word(b.h + c.p_at), addr(initial)) << insnname[c.insn] << ": no label, no change";
      skip_insn(b.h, nullptr, label);
      const std::uint32_t want = initial == elsecode ? addr(label) : addr(elsewhere);
      EXPECT_EQ(code_word(b.h + c.p_at), want)
          << insnname[c.insn] << (initial == elsecode ? ": marker wired" : ": wired label left alone");
    }
  }
}

TEST_F(CodeWalkers, WireElseSkipsAnEntryCounterOfTheContinuation)
{
  struct tc {
    const char *why;
    int first; // first instruction of the else continuation
    unsigned skip;
  };
  const tc cases[] = {
      {"BUMP_ENTRYQ", BUMP_ENTRYQ, 6},
      {"BUMP_ENTRY", BUMP_ENTRY, 5},
      {"no counter", GET_NIL_X0, 0},
  };
  for (const auto &c : cases) {
    code_buf next_clause;
    next_clause.op(c.first).half(0).word(0).word(0).op(PROCEED);
    INSN *label = next_clause.h + c.skip;

    clause_buf cl;
    const INSN X0 = x_operand(0), X1 = x_operand(1);
    cl.op(INTEGER).half(X0).word(addr(elsecode));                 // 0: wired
    cl.op(LESS_THAN_IMMQ).half(0).word(5).word(addr(elsecode));   // 4: wired
    cl.op(GREATER_THANQ).half(0).word(addr(failcode));            // 10: already another address
    cl.op(CALLQ).half(0).half((1 << 8) | 0).half(y_operand(0)).word(0x0805B008).half(12); // 14: class 1
    INSN *after_call = cl.here();
    cl.op(ATOM).half(X1).word(addr(elsecode));                    // past the call: untouched
    cl.op(PROCEED);
    cl.finish(next_clause.h);

    EXPECT_EQ(wire_else(cl.clause()), after_call) << c.why;
    EXPECT_EQ(code_word(cl.code() + 2), addr(label)) << c.why << ": type test";
    EXPECT_EQ(code_word(cl.code() + 8), addr(label)) << c.why << ": comparison";
    EXPECT_EQ(code_word(cl.code() + 12), addr(failcode)) << c.why << ": already wired";
    EXPECT_EQ(code_word(after_call + 2), addr(elsecode)) << c.why << ": after the first call";
  }
}

TEST_F(CodeWalkers, InitEnvironmentMarksVariablesWrittenLater)
{
  const TAGGED uninit = MakeAtom(atom_Duninit_enum);
  const TAGGED junk = 0xDEAD0000;
  TAGGED env[2 + 16];
  for (auto &w : env)
    w = junk;

  code_buf b;
  b.op(PUT_Y_VARIABLE).half(x_operand(0)).half(y_operand(1));              // writes Y1
  b.op(GET_Y_VARIABLE).half(x_operand(1)).half(y_operand(2));              // writes Y2
  b.op(GET).half(2).half(x_operand(1)).half(y_operand(3)).half(x_operand(2)).half(y_operand(4)); // Y3, Y4
  b.op(PUT_Y_VALUE).half(x_operand(0)).half(y_operand(0));                 // reads Y0
  b.op(CALL).half((4 << 8) | 0).half(y_operand(5) + 1).half(y_operand(6)).half(y_operand(7) + 2).half(3)
      .word(0x0805B008).half(48);                                          // Y5 first occurrence; class 1
  b.op(UNIFY_Y_VARIABLE).half(y_operand(8));                               // after the call: still written later
  b.op(LASTCALL).half((1 << 8) | 0).half(y_operand(9) + 1).word(0x0805B008); // done, its Y9 included
  b.op(PUT_Y_VARIABLE).half(x_operand(0)).half(y_operand(10));             // unreachable on this path

  EXPECT_EQ(init_environment(reinterpret_cast<frame *>(env), b.h), 1);
  const std::set<unsigned> marked = {1, 2, 3, 4, 5, 8, 9};
  EXPECT_EQ(env[0], junk) << "frame header untouched";
  EXPECT_EQ(env[1], junk) << "frame header untouched";
  for (unsigned y = 0; y < 16; y++)
    EXPECT_EQ(env[2 + y], marked.count(y) ? uninit : junk) << "Y" << y;
}

TEST_F(CodeWalkers, InitEnvironmentWithNothingToMark)
{
  TAGGED env[2 + 4] = {1, 2, 3, 4, 5, 6};
  code_buf b;
  b.op(PUT_Y_VALUE).half(x_operand(0)).half(y_operand(0));
  b.op(CALL).half((1 << 8) | 1).half(y_operand(1)).word(0x0805B008).half(16);
  b.op(PROCEED);
  EXPECT_EQ(init_environment(reinterpret_cast<frame *>(env), b.h), 0);
  const TAGGED want[6] = {1, 2, 3, 4, 5, 6};
  EXPECT_EQ(std::memcmp(env, want, sizeof env), 0);
}

TEST_F(CodeWalkers, ContinuationType)
{
  const INSN X0 = x_operand(0), X1 = x_operand(1);
  struct tc {
    const char *why;
    std::vector<std::vector<INSN>> insns; // the first call-related one last unless noted
    int type;
    bool stores; // the return point is the address after the last instruction
  };
  const std::uint32_t D = 0x0805B008;
  const INSN dlo = static_cast<INSN>(D & 0xFFFF), dhi = static_cast<INSN>(D >> 16);
  const INSN Z1 = (1 << 8) | 0, A0 = y_operand(0);
  const std::vector<tc> cases = {
      {"execute", {{OPCODE(GET_X_VALUE), X0, X1}, {OPCODE(EXECUTE), dlo, dhi}}, 0, false},
      {"execute Q", {{OPCODE(EXECUTEQ), 0, dlo, dhi}}, 0, false},
      {"meta execute", {{OPCODE(EXECUTE_CALL), 2}}, 0, false},
      {"environment allocation first", {{OPCODE(PUT_Y_FIRST_VARIABLE), X0, A0}}, 0, false},
      {"allocation by GET_FIRST", {{OPCODE(GET_FIRST), 1, X0, A0}}, 0, false},
      {"first call", {{OPCODE(PUT_X_VOID), X1}, {OPCODE(FIRSTCALL), Z1, A0, dlo, dhi, 12}}, 1, true},
      {"first call Q", {{OPCODE(FIRSTCALLQ), 0, Z1, A0, dlo, dhi, 12}}, 1, true},
      {"first meta call", {{OPCODE(FIRSTCALL_CALL), Z1, A0, 2, 12}}, 1, true},
      {"call", {{OPCODE(CALL), Z1, A0, dlo, dhi, 12}}, 2, true},
      {"call Q", {{OPCODE(CALLQ), 0, Z1, A0, dlo, dhi, 12}}, 2, true},
      {"meta call", {{OPCODE(CALL_CALL), Z1, A0, 2, 12}}, 2, true},
      {"last call", {{OPCODE(LASTCALL), Z1, A0, dlo, dhi}}, 3, false},
      {"last meta call", {{OPCODE(LASTCALL_CALL), Z1, A0, 2}}, 3, false},
      {"progress", {{OPCODE(GET_X_VALUE), X0, X1}, {OPCODE(PROGRESS)}}, 3, false},
      {"cut and progress", {{OPCODE(CUT_Y_PROGRESS), A0}}, 3, false},
      {"unify constant and progress", {{OPCODE(UNIFY_CONSTANT_PROGRESSQ), 0, 7, 0}}, 3, false},
      {"restore operands and progress", {{OPCODE(RESTORE_OPERANDS_PROGRESS)}}, 3, false},
      {"proceed", {{OPCODE(PROCEED)}}, 0, false},
      {"fail", {{OPCODE(FAIL)}}, 0, false},
      {"a foreign call is stepped over", {{OPCODE(CALL_FOREIGN), 0, 0, 12}, {OPCODE(PROCEED)}}, 0, false},
  };
  for (const auto &c : cases) {
    code_buf b;
    for (const auto &i : c.insns)
      for (INSN h : i)
        b.half(h);
    b.op(FAIL); // never reached by a correct walk
    INSN *ret = nullptr;
    EXPECT_EQ(continuation_type(b.h, &ret), c.type) << c.why;
    if (c.stores)
      EXPECT_EQ(ret, b.h + b.n - 1) << c.why << ": return point";
    else
      EXPECT_EQ(ret, nullptr) << c.why;
    EXPECT_EQ(continuation_type(b.h, nullptr), c.type) << c.why << " (no result pointer)";
  }
}

// An embedded choice block of `nalt` alternatives at the current (4-byte
// aligned) position; the try nodes hold words that would read as counters
// or opcodes if a walker decoded them.
void choice_block(clause_buf &cl, int arity, int nalt)
{
  ASSERT_EQ(addr(cl.here()) % 4, 0u);
  INSN *head = cl.here();
  cl.half(EMBEDDED_CHOICE_UNIT).half(static_cast<INSN>(arity)).half(static_cast<INSN>(8 + 4 * arity))
      .op(KONTINUE).word(0x0804C000);
  if (nalt == 1) {
    cl.word(addr(head + 8));
    return;
  }
  cl.word(addr(head + 8 + 7)); // the opcode of the first node
  for (int k = 0; k < nalt; k++) {
    auto *node = reinterpret_cast<try_node *>(cl.here());
    node->next = k + 1 < nalt ? node + 1 : nullptr;
    node->entry = reinterpret_cast<INSN *>(static_cast<std::uintptr_t>(OPCODE(BUMP_COUNTER) | (OPCODE(BUMP_COUNTER) << 16)));
    node->link = node;
    node->node_offset = node_offset_for(static_cast<unsigned>(arity));
    node->opcode = OPCODE(TRY);
    cl.n += 8;
  }
}

TEST_F(CodeWalkers, CountersGatheredAndResetAroundChoiceBlocks)
{
  clause_buf cl;
  const INSN X0 = x_operand(0), X1 = x_operand(1);
  cl.op(BUMP_ENTRYQ).half(0).word(5).word(2);        // 0: 5 calls, 2 choicepoints
  cl.op(BUMP_COUNTERQ).half(0).word(7);              // 6: the block ran 7 times
  cl.op(GET_X_VALUE).half(X0).half(X1);              // +7
  cl.op(PUT_X_VOID).half(X1);                        // +7
  cl.op(EXECUTE).word(0x0805B008);                   // +7 (done)
  cl.op(PUT_X_VOID).half(X0);                        // follows a done one: not counted
  cl.op(BUMP_COUNTER).word(3);                       // 20: the next block ran 3 times
  cl.op(NOP).half(2).half(0);                        // 23: +3, brings the block to a multiple of 4
  ASSERT_EQ(cl.n, 26u);
  choice_block(cl, 2, 3);                            // 26: head and three try nodes
  ASSERT_EQ(cl.n, 58u);
  cl.op(GET_X_VALUE).half(X0).half(X1);              // +3
  cl.op(PROCEED);                                    // +3 (done)
  ASSERT_EQ(cl.n, 62u);
  choice_block(cl, 1, 1);                            // 62: a single alternative, no nodes
  cl.op(GET_NIL_X0);                                 // +3: follows the block, not the done one
  cl.op(PROCEED);                                    // +3
  cl.finish(failcode);

  int calls = 100, choicepoints = 200, instructions = 300;
  wam_gather_counters(cl.clause(), &calls, &choicepoints, &instructions);
  EXPECT_EQ(calls, 105);
  EXPECT_EQ(choicepoints, 202);
  EXPECT_EQ(instructions, 300 + 7 * 3 + 3 + 3 * 2 + 3 * 2);

  std::vector<INSN> before(cl.code(), cl.code() + cl.n);
  wam_reset_counters(cl.clause());
  std::vector<INSN> after(cl.code(), cl.code() + cl.n);
  for (unsigned i : {2u, 3u, 4u, 5u, 8u, 9u, 21u, 22u}) {
    EXPECT_EQ(after[i], 0) << "counter halfword " << i;
    before[i] = 0;
  }
  EXPECT_EQ(after, before) << "only counter words change";

  calls = 1, choicepoints = 2, instructions = 3;
  wam_gather_counters(cl.clause(), &calls, &choicepoints, &instructions);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(choicepoints, 2);
  EXPECT_EQ(instructions, 3);
}

TEST_F(CodeWalkers, GatherWithoutCountersChangesNothing)
{
  clause_buf cl;
  cl.op(GET_NIL_X0).op(GET_X_VALUE).half(x_operand(1)).half(x_operand(2)).op(PROCEED);
  cl.finish(failcode);
  int calls = 4, choicepoints = 5, instructions = 6;
  wam_gather_counters(cl.clause(), &calls, &choicepoints, &instructions);
  EXPECT_EQ(calls, 4);
  EXPECT_EQ(choicepoints, 5);
  EXPECT_EQ(instructions, 6);
}

TEST(ChoiceBlock, SkipOverSingleAndChainedAlternatives)
{
  for (int nalt : {1, 2, 4}) {
    clause_buf cl;
    choice_block(cl, 3, nalt);
    const unsigned end = cl.n;
    EXPECT_EQ(skip_choice_block(cl.code()), cl.code() + end) << nalt << " alternatives";
    EXPECT_EQ(end, 8u + (nalt == 1 ? 0u : 8u * static_cast<unsigned>(nalt))) << nalt << " alternatives";
  }
  checkasserts(); // nothing to check; must not fail
}

} // namespace
