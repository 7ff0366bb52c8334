// Canned code, the standard try nodes, retry blocks, the call/N clause and
// the first-instruction readers of first-argument indexing.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "code_records.h"
#include "canned_code_fixture.h"
#include "insn_table.h"
#include "memman.h"
#include "preds.h"
#include "wamsup.h"
#include "code_buf.h"

namespace {


using Wamsup = CannedCodeTest;

TEST_F(Wamsup, CannedBlockHasItsFixedIndices)
{
  ASSERT_NE(canned_code, nullptr);
  const INSN *c = canned_code;
  struct expect {
    std::size_t index;
    INSN value;
  };
  const expect cases[] = {
      {0, 8}, {1, OPCODE(FAIL)}, {2, 8}, {3, OPCODE(FAIL)}, {4, 8}, {5, OPCODE(BUMP_ENTRY)},
      {10, OPCODE(BUMP_COUNTERQ)}, {11, 0 /* Q pad */}, {14, OPCODE(FAIL)}, {15, 8},
      {16, OPCODE(SWITCH_ON_PRED)}, {17, 8}, {18, OPCODE(PROCEED)}, {19, 8}, {20, OPCODE(KONTINUE)},
      {529, 8 + 4 * 255}, {530, OPCODE(KONTINUE)},
  };
  for (const auto &e : cases)
    EXPECT_EQ(c[e.index], e.value) << "halfword " << e.index;

  EXPECT_EQ(elsecode, canned_code + 1);
  EXPECT_EQ(failcode, canned_code + 3);
  EXPECT_EQ(pfailcode, canned_code + 5);
  EXPECT_EQ(dispatchcode, canned_code + 16);
  EXPECT_EQ(proceedcode, canned_code + 18);
  EXPECT_EQ(contcode, canned_code + 20);

  // Every stub is a return point: the halfword before it is a frame size.
  for (unsigned k = 0; k < 256; k++) {
    EXPECT_EQ(contcode[2 * k - 1], 8 + 4 * k) << "frame size before contcode + 2*" << k;
    EXPECT_EQ(contcode[2 * k], OPCODE(KONTINUE)) << "contcode + 2*" << k;
  }
  for (const INSN *stub : {elsecode, failcode, pfailcode, dispatchcode, proceedcode})
    EXPECT_EQ(stub[-1], 8) << "halfword before stub at index " << (stub - canned_code);
}

TEST_F(Wamsup, ProfiledFailCodeIsWellFormedAndAligned)
{
  // BUMP_ENTRY (5 halfwords), BUMP_COUNTERQ (4), FAIL: the instructions
  // must chain by their lengths and their counters lie on 4-byte boundaries.
  const INSN *p = pfailcode;
  ASSERT_EQ(insn_length(p), 5u);
  p += insn_length(p);
  ASSERT_EQ(p, canned_code + 10);
  ASSERT_EQ(insn_length(p), 4u);
  p += insn_length(p);
  EXPECT_EQ(p, canned_code + 14);
  EXPECT_EQ(*p, OPCODE(FAIL));
  EXPECT_EQ(addr(canned_code + 6) % 4, 0u);
  EXPECT_EQ(addr(canned_code + 12) % 4, 0u);
}

TEST_F(Wamsup, ExitCodeIsTheQueryContinuation)
{
  ASSERT_NE(exitcode, nullptr);
  EXPECT_EQ(exitcode[-1], 8);
  EXPECT_EQ(exitcode[0], OPCODE(EXIT_TOPLEVEL));
  EXPECT_EQ(exitcode[1], 1);
}

TEST_F(Wamsup, StandardTryNodes)
{
  struct expect {
    const char *name;
    try_node *node;
    try_node *next;
    INSN *entry;
    std::int16_t node_offset;
  };
  const expect cases[] = {
      {"fail_alt", fail_alt, nullptr, failcode, 24},
      {"proceed_alt", proceed_alt, nullptr, proceedcode, 24},
      {"termcode", termcode, termcode /* its own next: the query's choicepoint stays */,
       reinterpret_cast<INSN *>(termcode + 1), 36},
      {"excpcode", excpcode, nullptr, reinterpret_cast<INSN *>(excpcode + 1), 36},
  };
  for (const auto &e : cases) {
    ASSERT_NE(e.node, nullptr) << e.name;
    EXPECT_EQ(e.node->next, e.next) << e.name;
    EXPECT_EQ(e.node->entry, e.entry) << e.name;
    EXPECT_EQ(e.node->link, e.node) << e.name;
    EXPECT_EQ(e.node->node_offset, e.node_offset) << e.name;
    EXPECT_EQ(e.node->opcode, 1096) << e.name;
  }
  EXPECT_EQ(termcode->entry[0], OPCODE(EXIT_TOPLEVEL));
  EXPECT_EQ(termcode->entry[1], 0);
  EXPECT_EQ(excpcode->entry[0], OPCODE(EXIT_TOPLEVEL));
  EXPECT_EQ(excpcode->entry[1], 0xFFFF) << "result -1";
}

TEST_F(Wamsup, PatchesCurrentInstanceNodeWhenPresent)
{
  deinit_wamsup();
  preds.nd_current_instance = def_retry_c(nullptr, 6);
  ASSERT_EQ(init_wamsup(), 1);
  try_node *n = preds.nd_current_instance;
  EXPECT_EQ(n->entry[0], 2592) << "RETRY_INSTANCE";
  EXPECT_EQ(n->next, n);
  EXPECT_EQ(n->node_offset, 24 + 4 * 6);
  checkdealloc(n, RETRY_BLOCK_SIZE, mm_code(MM_BIN_MISC));
}

TEST_F(Wamsup, RetryBlocks)
{
  static int fake_definition[4];
  auto *def = reinterpret_cast<definition *>(fake_definition);
  auto fn = [](worker *) { return 1; };
  retry_c_fn function = fn;

  try_node *pro = def_retry_prolog(def, 3);
  try_node *nat = def_retry_c(function, 7);
  struct expect {
    const char *name;
    try_node *node;
    try_node *next;
    INSN opcode;
    std::uint32_t operand;
    std::int16_t node_offset;
  };
  const expect cases[] = {
      {"def_retry_prolog", pro, nullptr, OPCODE(EXECUTEQ), addr(def), 36},
      {"def_retry_c", nat, nat, OPCODE(RETRY_CQ), addr(reinterpret_cast<void *>(function)), 52},
  };
  for (const auto &e : cases) {
    const INSN *code = reinterpret_cast<const INSN *>(e.node + 1);
    EXPECT_EQ(e.node->entry, code) << e.name << ": code follows the node";
    EXPECT_EQ(e.node->next, e.next) << e.name;
    EXPECT_EQ(e.node->link, e.node) << e.name;
    EXPECT_EQ(e.node->node_offset, e.node_offset) << e.name;
    EXPECT_EQ(e.node->opcode, OPCODE(TRY)) << e.name;
    EXPECT_EQ(code[0], e.opcode) << e.name;
    EXPECT_EQ(code[1], 0) << e.name << ": pad";
    EXPECT_EQ(code_word(code + 2), e.operand) << e.name;
    EXPECT_EQ(addr(code + 2) % 4, 0u) << e.name << ": operand aligned";
    EXPECT_EQ(insn_length(code), 4u) << e.name;
  }
  checkdealloc(pro, RETRY_BLOCK_SIZE, mm_code(MM_BIN_MISC));
  checkdealloc(nat, RETRY_BLOCK_SIZE, mm_code(MM_BIN_MISC));
  EXPECT_EQ(RETRY_BLOCK_SIZE, 44u);
}

TEST_F(Wamsup, MakeTryNode)
{
  INSN code[2] = {OPCODE(PROCEED), 0};
  try_node *n = make_try_node(5, code);
  EXPECT_EQ(n->next, nullptr);
  EXPECT_EQ(n->entry, code);
  EXPECT_EQ(n->link, n);
  EXPECT_EQ(n->node_offset, 44);
  EXPECT_EQ(n->opcode, 1096);
  checkdealloc(n, TRY_NODE_SIZE, mm_code(MM_BIN_TRY_NODE));
}

TEST_F(Wamsup, DeinitClearsAndInitAgainRebuilds)
{
  deinit_wamsup();
  EXPECT_EQ(canned_code, nullptr);
  EXPECT_EQ(failcode, nullptr);
  EXPECT_EQ(contcode, nullptr);
  EXPECT_EQ(exitcode, nullptr);
  EXPECT_EQ(fail_alt, nullptr);
  EXPECT_EQ(termcode, nullptr);
  deinit_wamsup(); // nothing left to free: harmless
  ASSERT_EQ(init_wamsup(), 1);
  EXPECT_EQ(failcode[0], OPCODE(FAIL));
}

TEST_F(Wamsup, InitReportsAllocationFailure)
{
  deinit_wamsup();
  memman_deinit(); // VR_malloc cannot allocate without the memory manager
  EXPECT_EQ(init_wamsup(), 0);
  EXPECT_EQ(canned_code, nullptr);
  EXPECT_EQ(exitcode, nullptr);
  EXPECT_EQ(fail_alt, nullptr);
  ASSERT_EQ(memman_init(), 0);
}

TEST_F(Wamsup, CallNClause)
{
  static emul_info *got = nullptr;
  static definition *got_def = nullptr;
  static int fake_definition[4];
  auto *def = reinterpret_cast<definition *>(fake_definition);

  EXPECT_EQ(def_call_n(def, 3), 0) << "no database to take the clause";

  def_call_n_install = [](definition *d, emul_info *clause) {
    got_def = d;
    got = clause;
  };
  ASSERT_EQ(def_call_n(def, 3), 1);
  ASSERT_NE(got, nullptr);
  EXPECT_EQ(got_def, def);
  EXPECT_EQ(got->next, nullptr);
  EXPECT_EQ(got->elsecode, failcode);
  EXPECT_EQ(emul_objsize(got), 20u);
  EXPECT_EQ(emul_ix(got), 0u);
  EXPECT_EQ(got->filename, 7u);
  EXPECT_EQ(got->emulcode[0], OPCODE(EXECUTE_CALL));
  EXPECT_EQ(got->emulcode[1], 3);
  EXPECT_EQ(EMUL_INFO_HEADER + 2 * insn_length(got->emulcode), 20u) << "the code fills the record";
  checkdealloc(got, CALL_N_CLAUSE_SIZE, mm_code(MM_BIN_EMUL_INFO));
}

constexpr TAGGED F = 0x1000A07;    // some functor of arity 2
constexpr TAGGED C = 0x0000AB7;    // some atom
constexpr TAGGED HDR = 0xFFFFFFE7; // a one-digit boxed integer

TEST(KeyOfClause, RecognisedFirstInstructions)
{
  struct tc {
    const char *why;
    clause_buf code;
    TAGGED key;
  };
  const INSN X0 = x_operand(0), X1 = x_operand(1), X2 = x_operand(2);
  std::vector<tc> cases;
  cases.push_back({"GET_LIST_X0", clause_buf().op(GET_LIST_X0), functor_list});
  cases.push_back({"GET_NIL_X0", clause_buf().op(GET_NIL_X0), atom_nil});
  cases.push_back({"GET_STRUCTURE_X0Q", clause_buf().op(GET_STRUCTURE_X0Q).half(0).word(F), F});
  cases.push_back({"GET_CONSTANT_X0Q", clause_buf().op(GET_CONSTANT_X0Q).half(0).word(C), C});
  cases.push_back({"GET_LARGE_X0Q: the box header", clause_buf().op(GET_LARGE_X0Q).half(0).word(HDR).word(1u << 30), HDR});
  cases.push_back({"plain GET_CONSTANT_X0 at a clause start is not recognised",
                   clause_buf().op(GET_CONSTANT_X0).word(C), 0});
  cases.push_back({"plain GET_STRUCTURE_X0", clause_buf().op(GET_STRUCTURE_X0).word(F), 0});
  cases.push_back({"CHECK_HEAPQ, GET_STRUCTURE X0",
                   clause_buf().op(CHECK_HEAPQ).half(0).word(10).op(GET_STRUCTURE).half(X0).word(F), F});
  cases.push_back({"CHECK_HEAPQ, GET_STRUCTURE on X1 is no key",
                   clause_buf().op(CHECK_HEAPQ).half(0).word(10).op(GET_STRUCTURE).half(X1).word(F), 0});
  cases.push_back({"CHECK_HEAPQ, GET_STRUCTURE_XVAR_XVAR X0",
                   clause_buf().op(CHECK_HEAPQ).half(0).word(10).op(GET_STRUCTURE_XVAR_XVAR).half(X0).word(F).half(X1).half(X2), F});
  cases.push_back({"CHECK_HEAPQ, GET_LARGE X0",
                   clause_buf().op(CHECK_HEAPQ).half(0).word(10).op(GET_LARGE).half(X0).word(HDR).word(1u << 30), HDR});
  cases.push_back({"CHECK_HEAPQ, GET_LIST X0", clause_buf().op(CHECK_HEAPQ).half(0).word(10).op(GET_LIST).half(X0), functor_list});
  cases.push_back({"CHECK_HEAPQ, GET_LIST_XVAR_XVAR X0",
                   clause_buf().op(CHECK_HEAPQ).half(0).word(10).op(GET_LIST_XVAR_XVAR).half(X0).half(X1).half(X2), functor_list});
  cases.push_back({"CHECK_HEAPQ, GET_CONSTANT X0 is not among the looked-through forms",
                   clause_buf().op(CHECK_HEAPQ).half(0).word(10).op(GET_CONSTANT).half(X0).word(C), 0});
  cases.push_back({"BUMP_COUNTERQ skipped", clause_buf().op(BUMP_COUNTERQ).half(0).word(9).op(GET_CONSTANT_X0Q).half(0).word(C), C});
  cases.push_back({"BUMP_ENTRYQ skipped", clause_buf().op(BUMP_ENTRYQ).half(0).word(1).word(2).op(GET_STRUCTURE_X0Q).half(0).word(F), F});
  cases.push_back({"BUMP_ENTRYQ, BUMP_COUNTERQ, CHECK_HEAPQ, GET_LIST X0",
                   clause_buf().op(BUMP_ENTRYQ).half(0).word(1).word(2).op(BUMP_COUNTERQ).half(0).word(9)
                       .op(CHECK_HEAPQ).half(0).word(10).op(GET_LIST).half(X0), functor_list});
  cases.push_back({"a clause without a first-argument test", clause_buf().op(GET_X_VALUE).half(X0).half(X1), 0});
  cases.push_back({"a fact that proceeds at once", clause_buf().op(PROCEED), 0});
  for (auto &c : cases)
    EXPECT_EQ(key_of_clause(c.code.clause()), c.key) << c.why;
}

TEST(P2Offset, LengthOfTheFirstArgumentTest)
{
  struct tc {
    int insn;
    int offset;
  };
  const tc cases[] = {
      {GET_CONSTANT_X0Q, 4}, {GET_STRUCTURE_X0Q, 4}, {GET_CONSTANT_X0, 3}, {GET_STRUCTURE_X0, 3},
      {GET_NIL_X0, 1},       {GET_LIST_X0, 1},       {GET_LARGE_X0Q, 0},   {GET_LARGE_X0, 0},
      {GET_CONSTANT, 0},     {PROCEED, 0},
  };
  for (const auto &c : cases) {
    clause_buf b;
    b.op(c.insn).half(0).word(C);
    EXPECT_EQ(p2_offset(b.code()), c.offset) << insnname[c.insn];
  }
}

TEST(P2Unoffset, StepsBackOverAMatchingQTest)
{
  struct tc {
    const char *why;
    int insn;
    TAGGED operand;
    TAGGED key;
    int expected;
  };
  const tc cases[] = {
      {"constant test for the key", GET_CONSTANT_X0Q, C, C, -4},
      {"structure test for the key", GET_STRUCTURE_X0Q, F, F, -4},
      {"constant test for another key", GET_CONSTANT_X0Q, C, C + 8, 0},
      {"another instruction", GET_CONSTANTQ, C, C, 0},
  };
  for (const auto &c : cases) {
    clause_buf b;
    b.op(c.insn).half(0).word(c.operand).op(PROCEED);
    EXPECT_EQ(p2_unoffset(b.code() + 4, c.key), c.expected) << c.why;
  }
  // An unaligned label, even right after a matching test.
  clause_buf b;
  b.op(PROCEED).op(GET_CONSTANT_X0Q).half(0).word(C).op(PROCEED);
  EXPECT_EQ(p2_unoffset(b.code() + 5, C), -1);
  EXPECT_EQ(p2_unoffset(b.code() + 1, C), -1);
}

} // namespace
