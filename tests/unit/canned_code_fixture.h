// canned_code_fixture.h: a test fixture with the memory manager and the
// canned code (fail code, try nodes, the preds table cleared) and nothing
// else, for tests that walk or build code by hand; and addr(), the 32-bit
// value of an address as code operands hold it.
#ifndef TRELIX_TESTS_CANNED_CODE_FIXTURE_H
#define TRELIX_TESTS_CANNED_CODE_FIXTURE_H

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "memman.h"
#include "preds.h"
#include "wamsup.h"

inline std::uint32_t addr(const void *p) { return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(p)); }

struct CannedCodeTest : ::testing::Test {
  void SetUp() override
  {
    ASSERT_EQ(memman_init(), 0);
    std::memset(&preds, 0, sizeof preds);
    ASSERT_EQ(init_wamsup(), 1);
  }
  void TearDown() override
  {
    deinit_wamsup();
    std::memset(&preds, 0, sizeof preds);
    def_call_n_install = nullptr;
    memman_deinit();
  }
};

#endif
