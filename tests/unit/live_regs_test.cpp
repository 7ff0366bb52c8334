// Live argument registers at a code address: the backward marking of every
// kind of operand, the clearing of dead registers, else targets, and the
// reuse of the mark array across many analyses.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "insn_table.h"
#include "live_regs.h"
#include "memman.h"
#include "preds.h"
#include "wamsup.h"
#include "worker.h"
#include "code_buf.h"

namespace {

std::uint32_t addr(const void *p) { return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(p)); }

// Stand-ins for predicate records: the test's arity hook reads the arity
// from the first word.
int arity0[2] = {0}, arity1[2] = {1}, arity3[2] = {3}, arity5[2] = {5};
int arity_of(const definition *d) { return *reinterpret_cast<const int *>(d); }



worker test_worker;

TAGGED mark(unsigned i) { return MakeSmall_checked(static_cast<VR_INTEGER>(1000 + i)); }

struct LiveRegs : ::testing::Test {
  void SetUp() override
  {
    ASSERT_EQ(memman_init(), 0);
    std::memset(&preds, 0, sizeof preds);
    ASSERT_EQ(init_wamsup(), 1);
    live_regs_pred_arity = arity_of;
    reset_registers();
  }
  static void reset_registers()
  {
    for (unsigned i = 0; i < 256; i++)
      test_worker.term[i] = mark(i);
  }
  void TearDown() override
  {
    live_regs_pred_arity = nullptr;
    deinit_wamsup();
    memman_deinit();
  }
  // The registers set to [] by the last analysis.
  static std::set<unsigned> cleared()
  {
    std::set<unsigned> s;
    for (unsigned i = 0; i < 256; i++)
      if (test_worker.term[i] == atom_nil)
        s.insert(i);
      else
        EXPECT_EQ(test_worker.term[i], mark(i)) << "X" << i << " changed but not to []";
    return s;
  }
};

TEST_F(LiveRegs, ReadThenCallClearsTheDeadBelow)
{
  // X2 := X5, then a call of arity 3: X0, X1 and X5 are read, X2 is
  // written before it is read, X3 and X4 are never read.
  code_buf b;
  b.op(GET_X_VARIABLE).x(5).x(2);
  b.op(EXECUTE).ptr(arity3);
  EXPECT_EQ(live_x_regs(&test_worker, b.h, 0), 6);
  EXPECT_EQ(cleared(), (std::set<unsigned>{2, 3, 4}));
}

TEST_F(LiveRegs, NestedAnalysisClearsNothing)
{
  code_buf b;
  b.op(GET_X_VARIABLE).x(5).x(2);
  b.op(EXECUTE).ptr(arity3);
  EXPECT_EQ(live_x_regs(&test_worker, b.h, 1), 6);
  EXPECT_TRUE(cleared().empty());
}

TEST_F(LiveRegs, DoneInstructionReadingNothing)
{
  code_buf b;
  b.op(PROCEED);
  b.op(GET_X_VALUE).x(9).x(9); // beyond the end of the path
  EXPECT_EQ(live_x_regs(&test_worker, b.h, 0), 0);
  EXPECT_TRUE(cleared().empty());
}

TEST_F(LiveRegs, OperandKinds)
{
  const INSN Y0 = y_operand(0);
  struct tc {
    const char *why;
    std::vector<INSN> code; // ends in a done or call instruction
    int live;
    std::set<unsigned> cleared;
  };
  const auto D = [](const int *d) {
    return std::vector<INSN>{static_cast<INSN>(addr(d) & 0xFFFF), static_cast<INSN>(addr(d) >> 16)};
  };
  auto cat = [](std::vector<INSN> a, const std::vector<INSN> &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  const std::vector<tc> cases = {
      {"GET_X0_X1: X0 written, X1 read", {OPCODE(GET_X0_X1), OPCODE(PROCEED)}, 2, {0}},
      {"GET_X2_Xn: X2 written, Xn read", {OPCODE(GET_X2_Xn), x_operand(4), OPCODE(PROCEED)}, 5, {0, 1, 2, 3}},
      {"GET_Xn_X3: Xn written, X3 read", {OPCODE(GET_Xn_X3), x_operand(1), OPCODE(PROCEED)}, 4, {0, 1, 2}},
      {"GET_FACT_3: X1 and X2 read", {OPCODE(GET_FACT_3), 7, 0, 7, 0}, 3, {0}},
      {"GET_FACT_4Q: X1 to X3 read", {OPCODE(GET_FACT_4Q), 0, 7, 0, 7, 0, 7, 0}, 4, {0}},
      {"GET_STRUCTURE_XVAR_XVAR: u read, both d written",
       cat({OPCODE(GET_STRUCTURE_XVAR_XVAR), x_operand(0), 0x0A07, 0x100, x_operand(1), x_operand(2), OPCODE(EXECUTE)},
           D(arity3)),
       1, {}},
      {"GET moves: every X read", {OPCODE(GET), 2, x_operand(1), Y0, x_operand(4), y_operand(1), OPCODE(PROCEED)}, 5, {0, 2, 3}},
      {"PUT_X_VARIABLE before a call: written registers above the top drop out",
       cat({OPCODE(PUT_X_VARIABLE), x_operand(3), x_operand(4), OPCODE(EXECUTE)}, D(arity5)), 3, {}},
      {"CALL loads its Z registers itself",
       cat({OPCODE(CALL), (2 << 8) | 0, Y0, y_operand(1)}, cat(D(arity3), {16})), 3, {0, 1}},
      {"PUT Z list writes", cat({OPCODE(PUT), (1 << 8) | 1, Y0, OPCODE(EXECUTE)}, D(arity3)), 3, {1}},
      {"EXECUTE_CALL reads r registers", {OPCODE(EXECUTE_CALL), 2}, 2, {}},
      {"LASTCALL_CALL reads r, Z loaded", {OPCODE(LASTCALL_CALL), (1 << 8) | 0, Y0, 3}, 3, {0}},
      {"OPEN_FOREIGN_CALL reads its first count",
       {OPCODE(OPEN_FOREIGN_CALL), 4, 1, 0, 0, 0, 0, OPCODE(CALL_FOREIGN), 0, 0, 16}, 4, {}},
      {"a call of an unknown predicate reads everything", cat({OPCODE(EXECUTE)}, {0, 0}), 255, {}},
  };
  for (const auto &c : cases) {
    reset_registers();
    code_buf b;
    for (INSN h : c.code)
      b.half(h);
    EXPECT_EQ(live_x_regs(&test_worker, b.h, 0), c.live) << c.why;
    EXPECT_EQ(cleared(), c.cleared) << c.why;
  }
}

TEST_F(LiveRegs, WithoutArityHookACallReadsEveryArgumentRegister)
{
  live_regs_pred_arity = nullptr;
  code_buf b;
  b.op(EXECUTE).ptr(arity1);
  EXPECT_EQ(live_x_regs(&test_worker, b.h, 0), 255);
}

// The code of an else path that reads X4 and then proceeds.
void else_path_reading_x4(code_buf &b)
{
  b.op(GET_X_VALUE).x(4).x(0);
  b.op(PROCEED);
}

TEST_F(LiveRegs, TypeTestElsePathKeepsItsRegisters)
{
  // atom(X0) else -> T: on the else path X4 is read.  A suspension at the
  // test must keep X4 (and, the else path being taken as a whole, every
  // register below it).
  code_buf b;
  b.op(ATOM).x(0).word(0); // target filled below
  b.op(EXECUTE).ptr(arity1);
  INSN *target = b.here();
  else_path_reading_x4(b);
  set_code_word(b.h + 2, addr(target));
  EXPECT_EQ(live_x_regs(&test_worker, b.h, 0), 5);
  EXPECT_TRUE(cleared().empty());
}

TEST_F(LiveRegs, EveryElseTargetCountsNotOnlyTheLast)
{
  // Two comparisons: the first's else path reads X4, the second's reads
  // nothing.  X4 stays live at the first test whatever the order.
  for (bool reading_first : {true, false}) {
    reset_registers();
    code_buf b;
    b.op(LESS_THAN).word(0);
    b.op(GREATER_THANQ).half(0).word(0);
    b.op(EXECUTE).ptr(arity1);
    INSN *reads = b.here();
    else_path_reading_x4(b);
    INSN *plain = b.here();
    b.op(EXECUTE).ptr(arity0);
    set_code_word(b.h + 1, addr(reading_first ? reads : plain));
    set_code_word(b.h + 5, addr(reading_first ? plain : reads));
    EXPECT_EQ(live_x_regs(&test_worker, b.h, 0), 5) << (reading_first ? "first" : "second") << " target reads X4";
    EXPECT_EQ(test_worker.term[4], mark(4));
  }
}

TEST_F(LiveRegs, CannedTargetsAndSharedTargets)
{
  // Else labels still unwired or failing are not followed; many tests that
  // share one target see its liveness.
  code_buf b;
  b.op(EQUAL_TO).word(addr(failcode));
  b.op(NOT_EQUAL_TO).word(addr(elsecode));
  const unsigned first_shared = b.n;
  for (int k = 0; k < 40; k++)
    b.op(LESS_THAN).word(0);
  b.op(EXECUTE).ptr(arity0);
  INSN *target = b.here();
  b.op(GET_X_VALUE).x(2).x(2);
  b.op(PROCEED);
  for (int k = 0; k < 40; k++)
    set_code_word(b.h + first_shared + 3 * k + 1, addr(target));
  EXPECT_EQ(live_x_regs(&test_worker, b.h, 0), 3);
}

TEST_F(LiveRegs, ChainedElseTargets)
{
  // Guards whose else labels lead from clause to clause: the last reads X6.
  code_buf b;
  std::vector<unsigned> label_at;
  for (int k = 0; k < 20; k++) {
    b.op(NOT_LESS_THAN).word(0);
    label_at.push_back(b.n - 2);
    b.op(PROCEED);
  }
  b.op(GET_X_VALUE).x(6).x(0);
  b.op(PROCEED);
  for (int k = 0; k < 20; k++)
    set_code_word(b.h + label_at[static_cast<std::size_t>(k)], addr(b.h + label_at[static_cast<std::size_t>(k)] + 3));
  EXPECT_EQ(live_x_regs(&test_worker, b.h, 0), 7);
}

TEST_F(LiveRegs, ManyAnalysesReuseTheMarks)
{
  // More analyses than the stamp has values: each must still see only its
  // own marks.
  code_buf a, b;
  a.op(GET_X_VARIABLE).x(5).x(2);
  a.op(EXECUTE).ptr(arity3);
  b.op(GET_X0_X1);
  b.op(PROCEED);
  for (int k = 0; k < 600; k++) {
    for (unsigned i = 0; i < 256; i++)
      test_worker.term[i] = mark(i);
    const bool first = k % 3 != 0;
    ASSERT_EQ(live_x_regs(&test_worker, first ? a.h : b.h, 0), first ? 6 : 2) << "analysis " << k;
    const std::set<unsigned> dead = first ? std::set<unsigned>{2, 3, 4} : std::set<unsigned>{0};
    ASSERT_EQ(cleared(), dead) << "analysis " << k;
  }
}

} // namespace
