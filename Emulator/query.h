/* query.h: running a predicate as a query from native code.
 *
 * A query is opened the way the embedding interface opens one: a
 * choicepoint whose alternative is termcode (the query's failure), the
 * continuation exitcode (its success), then the emulator with message 3;
 * further solutions with message 0.  Closing drops whatever choicepoints
 * the query left, found again by their distance from the top of the
 * trail-and-choice block, since that block may move while the query runs;
 * the query's bindings, and whatever its trail would release on
 * backtracking, stay.  Undoing backtracks into the query's choicepoint
 * instead, as a failure would: every binding is undone and every clean-up
 * its trail holds runs (the blocks of constraints posted in it are
 * released), and the heap top goes back to where the query began, as the
 * collector has kept it.
 * Used by program loading (directives and initialization goals), the
 * stand-in launcher, the test runner and the tests; one query at a time,
 * engine thread only.
 */
#ifndef VOSTREL_QUERY_H
#define VOSTREL_QUERY_H

#include <cstddef>

#include "termdefs.h"

struct worker;
struct definition;

struct query {
  std::ptrdiff_t base_depth = -1; /* bytes from choice_start to the choicepoint before the query */
  std::ptrdiff_t own_depth = -1;  /* the same for the query's own choicepoint */
};

/* Opens a query of d with arguments args[0..arity-1] (d's arity); returns
   1 for a first solution, 0 for failure, -1 for an uncaught exception
   (then in eglobal->exception). */
int query_open(worker *w, query *q, definition *d, const TAGGED *args);
/* The next solution (1, 0 or -1 as above). */
int query_next(worker *w, query *q);
/* Drops the query's choicepoints; harmless on a closed query. */
void query_close(worker *w, query *q);
/* Undoes the query and closes it; harmless on a closed query.  Callers
   that read nothing the query bound, or have read it already, use this
   rather than query_close, so that what the query posted does not outlive
   the terms it refers to.  Returns -1 when a clean-up raised an exception
   (then in eglobal->exception), else 0. */
int query_undo(worker *w, query *q);

/* Prints the message of an exception that nothing caught (ball, on the
   heap) on user_error, through the runtime library's '$print_uncaught'/1;
   nothing when the library is not loaded.  The caller has taken the ball
   out of the exception store; an exception of the report itself is
   dropped, and the heap top is left as it was. */
void report_uncaught_exception(worker *w, TAGGED ball);

#endif
