// Sizes of the cases whose point is scale (million-element lists that must
// not recurse natively, clauses past a size limit).  The release build runs
// them at full size; the sanitizer build, many times slower (slower still
// under the emulator), runs them at a size that still overflows the machine
// stack if anything recurses per element, or skips the one case whose point
// is only the size and whose mechanism a smaller test covers there.
#pragma once
#include <gtest/gtest.h>

#ifdef TRELIX_SANITIZE
constexpr int heavy_list_length = 200000;
#define SKIP_SIZE_ONLY_CASE_UNDER_SANITIZERS(covered_by) \
  GTEST_SKIP() << "size-only case: runs in the release build; under the sanitizers " covered_by
#else
constexpr int heavy_list_length = 1000000;
#define SKIP_SIZE_ONLY_CASE_UNDER_SANITIZERS(covered_by) ((void)0)
#endif
