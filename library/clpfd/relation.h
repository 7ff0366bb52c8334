/* relation.h: the global constraint relation/3, pairs (X, Y) of domain
 * variables kept inside one relation between two variables.
 *
 * The relation comes as entries XSet-YSet (FD sets): for X in XSet, Y may
 * take the values of YSet.  At posting it is compiled into a map from the
 * X intervals of every entry to that entry's YSet, sorted by X; the
 * entries' XSets must not overlap (the Prolog wrapper merges the rows of
 * one X value).  State relation(Relation, Opt, Tuples, Open, Handle,
 * Stamp): Opt's bits are 1 bounds mode, 2 incremental scan of removed X
 * values allowed (cleared at posting unless no Y value belongs to two map
 * entries), 4 computed at posting (every YSet one interval and the Y
 * intervals ascending along the map); Tuples holds terms t(X, XA, XMut,
 * Y, YA, YMut) whose $mutable terms record the domains as this constraint
 * last saw them; Open counts the tuples with neither X nor Y fixed.  After
 * posting Relation, Opt and Tuples read [] and Open shrinks along a branch
 * (the state is restamped, so backtracking restores it).
 *
 * Callers: the propagation loop through clpfd::pred_table, the foreign
 * predicate $fd_relation/3, and the daemons on X and Y of every tuple.
 */
#ifndef TRELIX_CLPFD_RELATION_H
#define TRELIX_CLPFD_RELATION_H

#include "fd_state.h"

void prolog_fd_relation_vrenv_multi_vr(VREnv *env, VR_term_ref state, VR_term_ref new_state, VR_term_ref actions);

/* Lists the tuple whose X or Y changed (attr_ref: that variable's attribute
   reference within the block) and enqueues the constraint when the list
   was empty. */
void relation_daemon(VREnv *env, worker *w, void *block, VR_globref attr_ref, TAGGED global);

#endif
