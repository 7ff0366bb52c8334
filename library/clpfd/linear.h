/* linear.h: the linear constraint Σ Ci*Xi Op Rhs as a native global
 * constraint (scalar_product/4 in clpfd::pred_table, $fd_linear/3).
 *
 * State linear(Terms, Flags, Rhs, Eliminated, Handle, Stamp), made by
 * library/clpfd/linear.pl: Terms a list of t(C, X, Attribute) with C a
 * non-zero small integer, read at the first run and then replaced by [];
 * Flags the relation (1 =<, 2 >=, 3 =, 4 \=) plus 8 for the single-word
 * variant; Rhs the right-hand side less the fixed terms already folded in
 * (an integer of at most 64 bits); Eliminated the number of such terms.
 * The propagator writes the last two back after each run.
 *
 * The single-word variant computes in machine words and is correct only
 * when every variable's bounds are finite and every product, slack and
 * partial sum fits 32 bits for the constraint's whole life (the posting
 * side decides); the multi-word one computes in dwords (dword.h), handles
 * infinite bounds and reports overflow.  Both keep bounds consistency,
 * reason about divisibility on equations, and are woken by daemons on the
 * variables only when a pruning may be possible.
 *
 * Callers: the propagation loop, $fd_linear/3, the daemons.
 */
#ifndef TRELIX_CLPFD_LINEAR_H
#define TRELIX_CLPFD_LINEAR_H

#include "fd_state.h"

void prolog_fd_linear_vrenv_multi_vr(VREnv *env, VR_term_ref state, VR_term_ref new_state, VR_term_ref actions);

/* Of both variants: attr_ref is the changed variable's attribute
   reference within the block's references. */
void linear_daemon(VREnv *env, worker *w, void *block, VR_globref attr_ref, TAGGED global);

/* The solution of a·x ≡ b (mod m) least in 0..m-1, for 0 < a < m with
   gcd(a, m) = 1 and 0 =< b < m.  (Exposed for the tests.) */
long long solve_gcd(long long a, long long b, long long m);

#endif
