/* labeling.h: the native helpers of labeling's variable choice.
 *
 * Criteria: FD_LABEL_MIN (1) smallest lower bound first, FD_LABEL_MAX (2)
 * greatest upper bound first, FD_LABEL_FF (3) smallest domain first,
 * FD_LABEL_FFC (4) smallest domain first, then the most suspensions.  A
 * variable's rank is a pair of keys, smaller better, compared first key
 * first; among equal ranks the variable earlier in the list wins.
 *
 * $fd_delete/3 scans a list once.  $fd_labeling/4 keeps the unbound
 * variables of one labeling run in a heap ordered by rank, as a global
 * constraint that never prunes: daemons on its variables keep the heap in
 * order, and its block goes when no variable is left.
 *
 * Callers: labeling/2 (library/clpfd/enum.pl), the resource's table.
 */
#ifndef TRELIX_CLPFD_LABELING_H
#define TRELIX_CLPFD_LABELING_H

#include "fd_state.h"

enum : int { FD_LABEL_MIN = 1, FD_LABEL_MAX = 2, FD_LABEL_FF = 3, FD_LABEL_FFC = 4 };

/* The rank of the unbound variable var by criterion (its attribute made
   when it has none; heap room for one attribute is the caller's). */
void rank_var(VREnv *env, worker *w, TAGGED var, int criterion, long *key1, long *key2);

/* $fd_delete(List, Var, Criterion): Var is the best unbound variable of
   List; fails when List has none. */
void prolog_fd_delete_vrenv_multi_vr(VREnv *env, VR_term_ref list, VR_term_ref var, long criterion);

/* $fd_labeling(State, NewState, Selected, Global): one step of the heap
   constraint; State = labeling(Vars, Key, Handle, Stamp) with Key min, max
   or another atom (smallest domain first).  Selected is the best unbound
   variable, or [] when none is left. */
void prolog_fd_labeling_vrenv_multi_vr(VREnv *env, VR_term_ref state, VR_term_ref new_state,
                                       VR_term_ref selected, VR_term_ref global);

#endif
