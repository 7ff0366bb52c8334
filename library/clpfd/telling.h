/* telling.h: telling a domain variable a smaller domain and waking what
 * the change concerns.
 *
 * The tell functions work on the attribute in argument register 3 and the
 * variable in register 4, which the caller loads; they store the new
 * domain (in place when the dom/4 term, and for one-interval domains its
 * first list cell, is younger than the newest choicepoint, else as a new
 * dom/4 term through fd_update_mutable) and return change bits: 1 domain,
 * 2 lower bound, 4 upper bound, 8 minmax, 16 fixed (val).  fd_told then
 * binds a variable that became fixed (at once, or through queue 5 when it
 * carries other attributes or goals) and wakes the suspension lists the
 * bits select.  A filter is an indexical's Ent that must not be woken, or
 * 0 for none.
 *
 * Callers: the domain-variable write-back, the propagation loop, the
 * indexicals, and module clpfd through the built-ins below.
 */
#ifndef TRELIX_CLPFD_TELLING_H
#define TRELIX_CLPFD_TELLING_H

#include "fd_state.h"

/* Argument registers that the tell functions read. */
constexpr int FD_REG_ATTR = 3;
constexpr int FD_REG_VAR = 4;

int fd_tell_value(VREnv *env, worker *w, TAGGED value);
int fd_tell_interval(VREnv *env, worker *w, TAGGED lo, TAGGED hi, int why);
int fd_tell(VREnv *env, worker *w, TAGGED set);
int fd_tell_unsafe(VREnv *env, worker *w, TAGGED set);
void fd_told(VREnv *env, worker *w, int why, TAGGED filter);
/* Makes the domain in dom_mutable the one value: 0 when value is not in
   it, else 1. */
int set_singleton(VREnv *env, worker *w, TAGGED value, TAGGED dom_mutable);

/* ---- Built-ins (rows 16, 28, 30, 31 of the resource's table) ---- */

/* $fd_tell(Var, Set, Result) */
long prolog_fd_tell_vrenv_multi_vr(VREnv *env, VR_term_ref var, VR_term_ref set);
/* $fd_in_set(Var, Set, Init) */
void prolog_fd_in_set_vrenv_multi_vr(VREnv *env, VR_term_ref var, VR_term_ref set, long init);
/* $fd_in_interval(Var, Min, Max, Init) */
void prolog_fd_in_interval_vrenv_multi_vr(VREnv *env, VR_term_ref var, VR_term_ref min, VR_term_ref max, long init);
/* $fd_set_singleton(Value, DomMutable) */
void prolog_fd_set_singleton_vrenv_multi_vr(VREnv *env, VR_term_ref value, VR_term_ref dom_mutable);

#endif
