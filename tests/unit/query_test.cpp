// Queries opened from native code: closing keeps what the query did,
// undoing takes it back as a failure would (bindings, clean-ups on the
// trail, the heap top); the report of an uncaught exception runs a query
// of its own and undoes it, leaving the heap as a collection during the
// report left it (a collection may have compacted the heap below the
// mark, and raising the top again would put words no one owns back on
// the heap).
#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

#include "exception_store.h"
#include "gc.h"
#include "initial_atoms.h"
#include "query.h"
#include "runtime_fixture.h"
#include "terms.h"

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

// q/1 binds its argument, an older variable, and leaves a clean-up
// pending behind a choicepoint: closing keeps both, undoing undoes the
// binding and runs the clean-up (which is how the loader and the test
// runner release the constraints a goal left live).
TEST_F(Query, UndoingUndoesBindingsAndRunsCleanupsClosingKeepsThem)
{
  std::vector<std::string> errors;
  consult_text(w,
               ":- dynamic(undone/0).\n"
               "q(X) :- X = bound, call_cleanup(member(_, [1, 2]), assertz(undone)).\n"
               "member(X, [X|_]).\n"
               "member(X, [_|T]) :- member(X, T).\n",
               find_module(atom("user"), 1), &errors);
  ASSERT_TRUE(errors.empty()) << errors.front();
  definition *q1 = insert_definition(find_module(atom("user"), 1), atom("q"), 1, 0);
  for (const bool undo : {false, true}) {
    SCOPED_TRACE(undo ? "undo" : "close");
    TAGGED *cell = w->global_top++;
    *cell = PointerToTerm(cell);
    TAGGED *const top = w->global_top;
    TAGGED *const trail = w->trail_top;
    query q;
    const TAGGED arg = *cell;
    ASSERT_EQ(query_open(w, &q, q1, &arg), 1);
    ASSERT_EQ(deref(*cell), atom("bound"));
    if (undo) {
      EXPECT_EQ(query_undo(w, &q), 0);
      EXPECT_EQ(*cell, PointerToTerm(cell)) << "the binding stayed";
      EXPECT_EQ(w->global_top, top);
      EXPECT_EQ(w->trail_top, trail);
      EXPECT_EQ(run("undone"), 1) << "the clean-up did not run";
    } else {
      query_close(w, &q);
      EXPECT_EQ(deref(*cell), atom("bound"));
      EXPECT_EQ(run("\\+ undone"), 1) << "the clean-up ran on closing";
    }
    query_undo(w, &q); /* closed already: nothing happens */
    EXPECT_EQ(q.base_depth, -1);
  }
}

// After a failure or an uncaught exception the query has undone itself;
// undoing it again changes nothing.
TEST_F(Query, UndoingAfterFailureOrExceptionChangesNothing)
{
  std::vector<std::string> errors;
  consult_text(w, "f(_) :- fail.\ne(_) :- throw(oops).\n", find_module(atom("user"), 1), &errors);
  ASSERT_TRUE(errors.empty()) << errors.front();
  const struct {
    const char *name;
    int result;
  } cases[] = {{"f", 0}, {"e", -1}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    definition *d = insert_definition(find_module(atom("user"), 1), atom(c.name), 1, 0);
    node *const before = w->node_;
    TAGGED *const top = w->global_top;
    query q;
    const TAGGED arg = atom_nil;
    ASSERT_EQ(query_open(w, &q, d, &arg), c.result);
    erase_stored_exception();
    EXPECT_EQ(query_undo(w, &q), 0);
    EXPECT_EQ(w->node_, before);
    EXPECT_EQ(w->global_top, top);
  }
}
