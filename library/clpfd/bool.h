/* bool.h: the global constraint bool/4, Z = Op(X, Y) for three 0/1
 * domain variables and one of eight Boolean operators (codes 0..7: and,
 * and-not, nand, or, or-not, nor, xor, equivalence).
 *
 * State bool(X-XA, Y-YA, Z-ZA, Op, Handle, Stamp); no data block, no
 * daemons: every run is one look-up in a fixed table by the operator and
 * the states of X, Y, Z.  The Prolog wrapper (bool.pl) guarantees that X,
 * Y and Z range over 0..1 and that Op is 0..7; the table is only correct
 * under that guarantee.
 * Callers: the propagation loop through clpfd::pred_table, and the foreign
 * predicate $fd_bool/3.
 */
#ifndef TRELIX_CLPFD_BOOL_H
#define TRELIX_CLPFD_BOOL_H

#include "fd_state.h"

void prolog_fd_bool_vrenv_multi_vr(VREnv *env, VR_term_ref state, VR_term_ref new_state, VR_term_ref actions);

#endif
