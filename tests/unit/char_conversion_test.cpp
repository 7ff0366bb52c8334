// The character conversion table: replacing, removing and the full table,
// and that a removal from the middle keeps every other pair.
#include <gtest/gtest.h>

#include "char_conversion.h"
#include "datadefs.h"
#include "initial_atoms.h"

namespace {

struct CharConversionTest : ::testing::Test {
  void SetUp() override { init_char_conversion(); }
  void TearDown() override
  {
    init_char_conversion();
    eglobal->current_char_conversion = 0;
  }
};

TEST_F(CharConversionTest, InitEmptiesTheTableAndTurnsTheFlagOn)
{
  ASSERT_EQ(add_char_conversion('a', 'b'), 1);
  eglobal->current_char_conversion = MakeAtom(atom_off_enum);
  init_char_conversion();
  EXPECT_EQ(pcharconv, 0);
  EXPECT_EQ(conv_char('a'), 'a');
  EXPECT_EQ(eglobal->current_char_conversion, MakeAtom(atom_on_enum));
}

TEST_F(CharConversionTest, PairsReplaceAndRemove)
{
  struct { int from, to, pairs_after; int lookup_a; } steps[] = {
      {'a', 'b', 1, 'b'},  // new pair
      {'a', 'c', 1, 'c'},  // a second pair for a replaces the first
      {'x', 'x', 1, 'c'},  // identity for a code without pair: no change
      {'a', 'a', 0, 'a'},  // identity removes the pair
      {'a', 'a', 0, 'a'},  // and again changes nothing
  };
  for (const auto &s : steps) {
    EXPECT_EQ(add_char_conversion(s.from, s.to), 1) << s.from << "->" << s.to;
    EXPECT_EQ(pcharconv, s.pairs_after) << "after " << s.from << "->" << s.to;
    EXPECT_EQ(conv_char('a'), s.lookup_a) << "after " << s.from << "->" << s.to;
  }
  EXPECT_EQ(conv_char('x'), 'x');
  EXPECT_EQ(conv_char(-1), -1);
}

TEST_F(CharConversionTest, RemovingFromTheMiddleKeepsTheOtherPairs)
{
  for (int c = 100; c < 110; ++c)
    ASSERT_EQ(add_char_conversion(c, c + 1000), 1);
  ASSERT_EQ(add_char_conversion(103, 103), 1);
  EXPECT_EQ(pcharconv, 9);
  EXPECT_EQ(charconv_from[3], 109) << "the last pair should fill the hole";
  for (int c = 100; c < 110; ++c)
    EXPECT_EQ(conv_char(c), c == 103 ? 103 : c + 1000) << "code " << c;
  ASSERT_EQ(add_char_conversion(109, 109), 1);  // the pair now in the middle slot
  ASSERT_EQ(add_char_conversion(108, 108), 1);  // the last pair: nothing moves
  EXPECT_EQ(pcharconv, 7);
  for (int c = 100; c < 110; ++c)
    EXPECT_EQ(conv_char(c), (c == 103 || c >= 108) ? c : c + 1000) << "code " << c;
}

TEST_F(CharConversionTest, FullTableRefusesOnlyNewCodes)
{
  for (int i = 0; i < CHARCONV_MAX; ++i)
    ASSERT_EQ(add_char_conversion(0x1000 + i, 'z'), 1) << "pair " << i;
  EXPECT_EQ(add_char_conversion('a', 'b'), 0) << "a new code must not fit";
  EXPECT_EQ(pcharconv, CHARCONV_MAX);
  EXPECT_EQ(conv_char('a'), 'a') << "a failed addition must leave the table unchanged";
  EXPECT_EQ(add_char_conversion(0x1000, 'y'), 1) << "changing a pair of a full table";
  EXPECT_EQ(conv_char(0x1000), 'y');
  EXPECT_EQ(add_char_conversion(0x1001, 0x1001), 1) << "removing from a full table";
  EXPECT_EQ(pcharconv, CHARCONV_MAX - 1);
  EXPECT_EQ(add_char_conversion('a', 'b'), 1) << "room again after a removal";
}

} // namespace
