// The instruction table: numbering, formats, Q pairs and lengths.
#include <gtest/gtest.h>

#include <string>

#include "insn_table.h"

TEST(InsnTable, WorkedOpcodesAndNames)
{
  EXPECT_EQ(OPCODE(GET_STRUCTUREQ), 328);
  EXPECT_EQ(OPCODE(CALL), 1008);
  EXPECT_EQ(OPCODE(TRY), 1096);
  EXPECT_EQ(OPCODE(UNKNOWN_PREDECESSOR), 2792);
  EXPECT_EQ(OPCODE(RETRY_INSTANCE), 2592);
  EXPECT_EQ(OPCODE(BUMP_ENTRY), 2680);
  EXPECT_EQ(OPCODE(BUMP_ENTRYQ), 2672);
  EXPECT_STREQ(insnname[0], "GET_X0_X1");
  EXPECT_STREQ(insnname[349], "UNKNOWN_PREDECESSOR");
  EXPECT_EQ(insnname[350], nullptr);
  EXPECT_EQ(insn_fmt[350], 0);
  EXPECT_EQ(insn_by_name("CALL"), CALL);
  EXPECT_EQ(insn_by_name("NO_SUCH"), -1);
  EXPECT_STREQ(pred_type_name[ENTER_C], "ENTER_C");
  EXPECT_EQ(BLOCKPOINT, 48);
  EXPECT_EQ(STRUCTS_PUT_FLOAT_32, 46);
}

TEST(InsnTable, QFormsPairWithTheirTwins)
{
  int pairs = 0;
  for (int i = 0; i < INSN_COUNT; i++) {
    const int plain = insn_plain_of(i);
    if (plain < 0)
      continue;
    pairs++;
    EXPECT_EQ(insn_q_of(plain), i);
    const std::string qf = fmt_letters[insn_fmt[i]], pf = fmt_letters[insn_fmt[plain]];
    EXPECT_EQ(qf, "Q" + pf) << insnname[i] << " must be its twin's format with a pad";
    EXPECT_EQ(insn_class[i], insn_class[plain]) << insnname[i];
  }
  EXPECT_EQ(pairs, 70);
  for (int i = 0; i < INSN_COUNT; i++)
    if (fmt_letters[insn_fmt[i]][0] == 'Q') {
      EXPECT_GE(insn_plain_of(i), 0) << insnname[i] << " has a pad but no twin";
    }
}

TEST(InsnTable, UnusedFormats)
{
  for (int i = 0; i < INSN_COUNT; i++) {
    EXPECT_NE(insn_fmt[i], fmt_Quutt);
    EXPECT_NE(insn_fmt[i], fmt_uutt);
    EXPECT_NE(insn_fmt[i], fmt_uud);
    EXPECT_NE(insn_fmt[i], fmt_dudu);
  }
  EXPECT_STREQ(fmt_letters[fmt_], "");
  EXPECT_STREQ(fmt_letters[fmt_QaAZEe], "QaAZEe");
}

TEST(InsnTable, InstructionLengths)
{
  // A three-argument CALL: opcode, Z header, 3 arguments, E (2), e.
  INSN call[8] = {OPCODE(CALL), 0x0300, 8, 12, 3, 0, 0, 16};
  EXPECT_EQ(insn_length(call), 8u);
  INSN call0[5] = {OPCODE(CALL), 0x0000, 0, 0, 8};
  EXPECT_EQ(insn_length(call0), 5u) << "empty Z list";
  INSN callq[10] = {OPCODE(CALLQ), 0, 0x0301, 8, 12, 3, 0, 0, 16};
  EXPECT_EQ(insn_length(callq), 9u);
  INSN nop1[2] = {OPCODE(NOP), 1};
  EXPECT_EQ(insn_length(nop1), 2u);
  INSN nop5[6] = {OPCODE(NOP), 5, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF};
  EXPECT_EQ(insn_length(nop5), 6u);
  INSN gf[7] = {OPCODE(GET_FIRST), 2, 180, 8, 184, 12};
  EXPECT_EQ(insn_length(gf), 6u);
  // Inline boxed numbers: a float is 3 words, a one-digit integer 2.
  INSN large_float[8] = {OPCODE(GET_LARGE), 180};
  set_code_word(large_float + 2, BOX_FLOAT);
  EXPECT_EQ(insn_length(large_float), 2u + 6u);
  INSN large_int[6] = {OPCODE(PUT_LARGEQ), 0, 184};
  set_code_word(large_int + 3, BOX_INT1);
  EXPECT_EQ(insn_length(large_int), 3u + 4u);
  INSN proceed[1] = {OPCODE(PROCEED)};
  EXPECT_EQ(insn_length(proceed), 1u);
  INSN gsq[5] = {OPCODE(GET_STRUCTUREQ), 0, 184, 0, 0};
  EXPECT_EQ(insn_length(gsq), 5u);
}
