/* reif.h: the reified comparisons X in S <=> B, X = Y <=> B and
 * X =< Y <=> B, oneof (Z = X or Z = Y) and abs (Y = |X|), five small
 * global constraints (globals.h) posted by clpfd/reif.pl.
 *
 * State terms (never changed by a run):
 *     in_set_iff(X, XA, Set, B, BA, Handle, Stamp)
 *     eq_iff(X, XA, Y, YA, B, BA, Handle, Stamp)
 *     le_iff(X, XA, Y, YA, B, BA, Handle, Stamp)
 *     oneof(X, XA, Y, YA, Z, ZA, Handle, Stamp)
 *     abs(X, XA, Y, YA, Handle, Stamp)
 * Each instance's data block is an arith_data (arith.h): two global
 * references per variable (attribute, then variable), in_set_iff's Set in
 * a fifth, and the caches.  A run prunes once from the domains it finds
 * and reports 1 entailed, 0 not yet, -1 failed; the propagation loop runs
 * it again.  Only eq_iff wakes itself (eq_iff_daemon, attached at its
 * first run); the others are re-run through the suspensions of reif.pl.
 *
 * Callers: the propagation loop through clpfd::pred_table, and the
 * foreign predicates $fd_in_set_iff/3, $fd_eq_iff/3, $fd_le_iff/3,
 * $fd_oneof/3 and $fd_abs/3.
 */
#ifndef TRELIX_CLPFD_REIF_H
#define TRELIX_CLPFD_REIF_H

#include "dvar.h"
#include "fd_state.h"

/* Imposes X = Y given rel, the relation (fdsets.h codes) of X's domain to
   Y's: fixes the one still unbound when that decides it, else unifies the
   two variables; the entailment code. */
int tell_eq(VREnv *env, worker *w, Dvar dvx, Dvar dvy, int rel);
/* {-v : v in d} on the number stack (inf and sup swap). */
TAGGED negdom(VREnv *env, worker *w, TAGGED d);
/* eq_iff's daemon: enqueues the constraint when a change may decide it. */
void eq_iff_daemon(VREnv *env, worker *w, void *block, VR_globref attr_ref, TAGGED global);

void prolog_fd_in_set_iff_vrenv_multi_vr(VREnv *env, VR_term_ref state, VR_term_ref new_state, VR_term_ref actions);
void prolog_fd_eq_iff_vrenv_multi_vr(VREnv *env, VR_term_ref state, VR_term_ref new_state, VR_term_ref actions);
void prolog_fd_le_iff_vrenv_multi_vr(VREnv *env, VR_term_ref state, VR_term_ref new_state, VR_term_ref actions);
void prolog_fd_oneof_vrenv_multi_vr(VREnv *env, VR_term_ref state, VR_term_ref new_state, VR_term_ref actions);
void prolog_fd_abs_vrenv_multi_vr(VREnv *env, VR_term_ref state, VR_term_ref new_state, VR_term_ref actions);

#endif
