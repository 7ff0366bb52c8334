/* posting.h: posting constraints into the propagation queues, and the
 * unification of FD variables with values.
 *
 * A global constraint becomes one item global/5, linked into the
 * suspension lists its Susp argument names and queued on queue 1.  A
 * reified indexical constraint becomes one item ix/7 per compiled
 * indexical, queued on queue 0 or parked on a val list until the values it
 * needs are known; it links itself into its dom/min/max/minmax lists on its
 * first run (link_indexical).
 *
 * Callers: Prolog (module clpfd) through the foreign predicates; the
 * indexical interpreter (link_indexical).
 */
#ifndef TRELIX_CLPFD_POSTING_H
#define TRELIX_CLPFD_POSTING_H

#include "fd_state.h"
#include "indexical_store.h"

/* $fd_post_global(Constraint, State, Status, Source, Susp, Global) */
void prolog_fd_post_global_vrenv_multi_vr(VREnv *env, VR_term_ref constraint, VR_term_ref state, long status,
                                          VR_term_ref source, VR_term_ref susp, VR_term_ref global);
/* $fd_post_reified(Definition, Goal, Attv, B, BAttr); Definition is the
   FD predicate's handle (its definition record's address + 3, as
   $fd_find_definition/3 gives it and the engine passes it to
   solve_fd_constraint/2); anything that is no FD predicate's fails. */
void prolog_fd_post_reified_vrenv_multi_vr(VREnv *env, VR_term_ref definition, VR_term_ref goal, VR_term_ref attv,
                                           VR_term_ref b, VR_term_ref battr);
/* Links the ix/7 item in argument register 0 into the suspension lists of
   its arguments that it does not wait for. */
void link_indexical(VREnv *env, worker *w, indexical_info *ix);
/* $fd_unify(X, Y) */
void prolog_fd_unify_vrenv_multi_vr(VREnv *env, VR_term_ref x, VR_term_ref y);

#endif
