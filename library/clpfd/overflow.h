/* overflow.h: what happens when a bound left the small-integer range.
 *
 * Operations that had to saturate a bound, or met an overflow interval
 * while copying a set to the heap, set the state's fd_overflow flag.  The
 * built-in that owns the computation then calls fd_check_overflow with the
 * goal to blame: by the state's overflow mode the foreign call fails, or
 * (mode "error") clpfd:overflow_action/1 runs on the goal first and the
 * exception it raises is passed on.
 */
#ifndef TRELIX_CLPFD_OVERFLOW_H
#define TRELIX_CLPFD_OVERFLOW_H

#include "fd_state.h"

/* 1 when fd_overflow is clear.  Otherwise arranges the failure (or the
   exception) of the current foreign call and returns 0. */
int fd_check_overflow(VREnv *env, TAGGED goal);

#endif
