/* element.h: the global constraints element/3, minimum/2 and maximum/2.
 *
 * element(I, List, Y): Y is the I-th element (from 1) of a list of
 * integers or domain variables; I is kept domain-consistent (restricted to
 * 1..N first, then to the indices whose element can still equal Y), Y
 * bounds-consistent.  State element(I-IA, Y-YA, List, N, Kind, Handle,
 * Stamp): Kind 0 when List holds X-Attribute pairs, else List holds the
 * integers themselves.  The state is never changed.
 *
 * minimum(Y, Xs) and maximum(Y, Xs) share one function: state
 * minmax(Y-YA, Targets, Count, Kind, Handle, Stamp), Kind 0 for minimum,
 * else maximum.  Targets (X-Attribute pairs) are read at posting and then
 * replaced by []; Count is the number of targets that can still be the
 * extreme and shrinks along a branch (the state is restamped, so
 * backtracking restores it).
 *
 * Both attach daemons to the list's variables, so that a change of an
 * element or target runs the constraint only when it can matter.
 * Callers: the propagation loop through clpfd::pred_table, and the
 * foreign predicates $fd_element/3 and $fd_minmax/3.
 */
#ifndef TRELIX_CLPFD_ELEMENT_H
#define TRELIX_CLPFD_ELEMENT_H

#include "fd_state.h"

void prolog_fd_element_vrenv_multi_vr(VREnv *env, VR_term_ref state, VR_term_ref new_state, VR_term_ref actions);
void prolog_fd_minmax_vrenv_multi_vr(VREnv *env, VR_term_ref state, VR_term_ref new_state, VR_term_ref actions);

/* The daemons: attr_ref is the reference of the changed variable's
   attribute within the block's references. */
void element_daemon(VREnv *env, worker *w, void *block, VR_globref attr_ref, TAGGED global);
void minmax_daemon(VREnv *env, worker *w, void *block, VR_globref attr_ref, TAGGED global);

#endif
