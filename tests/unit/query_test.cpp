// Queries opened from native code: the report of an uncaught exception
// runs a query of its own and then gives its heap back, but only when no
// collection ran meanwhile (a collection may have compacted the heap below
// the mark, and raising the top again would put words no one owns back on
// the heap).
#include <gtest/gtest.h>

#include <cstddef>

#include "gc.h"
#include "initial_atoms.h"
#include "query.h"
#include "runtime_fixture.h"

using Query = RuntimeFixture;

TEST_F(Query, ReportingAnUncaughtExceptionKeepsTheHeapACollectionLeft)
{
  // Unreachable words under the mark: a whole-heap collection reclaims
  // them, so the heap top it leaves lies below the mark.
  // Half the free heap, leaving the report room of its own.
  const int garbage = static_cast<int>(w->stack_start - w->global_top - 2048) / 2;
  ASSERT_GT(garbage, 1000);
  for (int i = 0; i < garbage; i++)
    w->global_top[i] = atom_nil;
  w->global_top += garbage;
  TAGGED *const mark = w->global_top;

  const gc_torture_settings saved = gc_torture;
  gc_torture = {1, 1, false, 1, 0, false};
  const std::int64_t collections = eglobal->stats.gc_count;
  report_uncaught_exception(w, atom("report_me"));
  gc_torture = saved;

  ASSERT_GT(eglobal->stats.gc_count, collections);
  EXPECT_LT(w->global_top, mark - garbage / 2);
}
