/* case.h: the table constraint case/4, whose rows of domain variables must
 * each be accepted by one shared layered decision graph of interval tests.
 *
 * State case(Description, Open, Handle, Stamp).  Description is
 * case(NVars, NNodes, NChildren, Rows, Nodes, On, Prune): Rows a list of
 * rows, each a list of NVars X-Attribute pairs; Nodes a list of
 * node(Id, Column, _, Children), node 0 the root, every child
 * (Min..Max)-Successor with Successor a node index or any non-integer for
 * an accepting leaf, children ascending and disjoint, columns increasing
 * by one along every path; On and Prune one atom per column (dom, minmax,
 * min, max, val; anything else: none) saying which suspension list wakes
 * the constraint and how much the column is pruned.  Open is the number of
 * rows at posting; the count of open rows itself lives in a trailed
 * mutable of the block.  The first run replaces Description by [].
 *
 * Callers: the propagation loop through clpfd::pred_table, the foreign
 * predicate $fd_case/3 (posted by case.pl).
 */
#ifndef TRELIX_CLPFD_CASE_H
#define TRELIX_CLPFD_CASE_H

#include "fd_state.h"

void prolog_fd_case_vrenv_multi_vr(VREnv *env, VR_term_ref state, VR_term_ref new_state, VR_term_ref actions);

/* The daemon of every row variable: lists the row for the next run. */
void case_daemon(VREnv *env, worker *w, void *vdata, VR_globref attr_ref, TAGGED global);

#endif
