// Fixed layouts that the bytecode and saved-state formats depend on.
#include <gtest/gtest.h>

#include "atoms.h"
#include "worker.h"

TEST(Layout, ArgumentRegistersSitAtTheirBytecodeOffsets)
{
  worker w;
  EXPECT_EQ(reinterpret_cast<char *>(&w.term[0]) - reinterpret_cast<char *>(&w), 180);
  EXPECT_EQ(reinterpret_cast<char *>(&w.term[255]) - reinterpret_cast<char *>(&w), 180 + 4 * 255);
  EXPECT_EQ(x_offset(3), 192u);
}

TEST(Layout, AtomRecordIsTwentyOneBytesPlusText)
{
  EXPECT_EQ(atom_record_size(0), 21u);
  EXPECT_EQ(offsetof(atom, name), 20u);
}
