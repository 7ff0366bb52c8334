/* run_determ.h: running a goal whose predicate is a native built-in of
 * module prolog directly, without the emulator.
 *
 * Used where no emulator activation can be started (the quick-load boot
 * path).  Only ENTER_C predicates qualify: anything else needs the emulator,
 * and the call then reports 0 without running anything.  Engine thread only.
 */
#ifndef VOSTREL_RUN_DETERM_H
#define VOSTREL_RUN_DETERM_H

#include "termdefs.h"

struct worker;

/* The built-in's result (1 success, 0 failure) after copying the goal's
   arguments into X0...; 0 when the goal's predicate is not a native
   built-in of module prolog. */
int run_determ_c(worker *w, TAGGED goal);

#endif
