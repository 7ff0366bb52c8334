/* ac_linear.h: the domain-consistent linear equation c1*x1 + ... + cn*xn = rhs.
 *
 * After a run every value left in every variable's domain takes part in
 * some solution of the equation within the current domains.  State
 * ac_linear(Terms, N, Rhs, Handle, Stamp): Terms a list of N records
 * t(C, X, Attribute, FailedMutable), C a non-zero small integer, the X
 * distinct domain variables with finite bounds, FailedMutable a $mutable
 * holding an FD set (the term's failed partial sums, see ac_linear.cpp).
 * The constraint has no daemons: its item sits on the dom/1 lists of its
 * variables.
 *
 * Callers: the propagation loop through clpfd::pred_table (row
 * ac_linear/3) and the foreign predicate $fd_ac_linear/3; posted by
 * ac_linear/3,6 of module clpfd (ac_linear.pl).
 */
#ifndef TRELIX_CLPFD_AC_LINEAR_H
#define TRELIX_CLPFD_AC_LINEAR_H

#include "fd_state.h"

void prolog_fd_ac_linear_vrenv_multi_vr(VREnv *env, VR_term_ref state, VR_term_ref new_state, VR_term_ref actions);

#endif
