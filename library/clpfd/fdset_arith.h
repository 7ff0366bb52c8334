/* fdset_arith.h: arithmetic over whole FD sets, for the indexical
 * interpreter and the constraints that need value sets.
 *
 * Every result is an FD set built on the worker's number stack (see
 * fdsets.h), like the other set builders; operands may lie on the heap or
 * on the number stack and are never changed.  Bounds saturate to inf and
 * sup as in bounds.h: a sum beyond the small-integer range gives an
 * interval ending (or starting) at an infinity, which the copy to the heap
 * reports as an overflow.
 *
 * Callers: the indexical interpreter (instructions on sets), the
 * scheduling constraints (fd_multiples).
 */
#ifndef TRELIX_CLPFD_FDSET_ARITH_H
#define TRELIX_CLPFD_FDSET_ARITH_H

#include "fdsets.h"

/* {x + y : x in s1, y in s2}, leaving out the sums of interval pairs that
   lie wholly outside lb..ub (a pair partly inside enters whole); [] when
   either set is empty.  lb..ub = inf..sup gives the whole sum. */
TAGGED fd_plus(VREnv *env, worker *w, TAGGED s1, TAGGED s2, TAGGED lb, TAGGED ub);
/* {x - y : x in s1, y in s2}, likewise. */
TAGGED fd_minus(VREnv *env, worker *w, TAGGED s1, TAGGED s2, TAGGED lb, TAGGED ub);
/* The remainders (truncated division, sign of the dividend) of the values
   lo..hi by d (d a non-zero plain integer, its sign ignored); lo..hi lies
   on one side of 0 (both bounds negative, or both non-negative). */
TAGGED fd_setrem_interval(VREnv *env, worker *w, TAGGED lo, TAGGED hi, long d);
/* {x rem k : x in s}; k a non-zero plain integer. */
TAGGED fd_setrem(VREnv *env, worker *w, TAGGED s, long k);
/* {x mod k : x in s}, the floored modulo with the sign of k; k a non-zero
   plain integer. */
TAGGED fd_setmod(VREnv *env, worker *w, TAGGED s, long k);
/* {0, v, 2v, ..., nv} (the multiples beyond the small-integer range left
   out); {0} when n < 1 or v = 0. */
TAGGED fd_multiples(VREnv *env, worker *w, long n, long v);

#endif
