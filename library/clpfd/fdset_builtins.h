/* fdset_builtins.h: the FD-set built-ins of the solver, foreign predicates
 * of the resource "clpfd" called by module clpfd's set library.
 *
 * Every function takes the resource's interface structure first, then one
 * term reference per argument; a "returned integer" argument is the
 * function's result.  Set arguments must be well-formed FD sets (checked;
 * a malformed or unbound set fails the call) and may be built by Prolog
 * with bound variables inside.  Sets that are returned are computed on the
 * number stack and copied to the heap.  Failure goes through VR_fail.
 * Registered (rows 0 to 11 of the resource's predicate table) by the
 * foreign-resource loader.
 */
#ifndef TRELIX_CLPFD_FDSET_BUILTINS_H
#define TRELIX_CLPFD_FDSET_BUILTINS_H

#include "vostrel/vostrel.h"

/* $fd_size(Set, Size, Ok): Ok 1 and Size the number of values (sup when
   infinite or beyond the small integers) for a well-formed set, else 0. */
long prolog_fd_size_vrenv_multi_vr(VREnv *env, VR_term_ref set, VR_term_ref size);
/* $fd_range(A, B, Set, Ok): Set the set A..B. */
long prolog_fd_range_vrenv_multi_vr(VREnv *env, VR_term_ref a, VR_term_ref b, VR_term_ref set);
/* $fd_cons(A, B, Rest, Set, Ok): Set = [[A|B]|Rest]. */
long prolog_fd_cons_vrenv_multi_vr(VREnv *env, VR_term_ref a, VR_term_ref b, VR_term_ref rest, VR_term_ref set);
void prolog_fd_dom_complement_vrenv_multi_vr(VREnv *env, VR_term_ref d1, VR_term_ref d);
void prolog_fd_dom_subtract_vrenv_multi_vr(VREnv *env, VR_term_ref d1, VR_term_ref d2, VR_term_ref d);
void prolog_fd_dom_intersection_vrenv_multi_vr(VREnv *env, VR_term_ref d1, VR_term_ref d2, VR_term_ref d);
void prolog_fd_dom_union_vrenv_multi_vr(VREnv *env, VR_term_ref d1, VR_term_ref d2, VR_term_ref d);
void prolog_fd_dom_contains_vrenv_multi_vr(VREnv *env, VR_term_ref set, VR_term_ref value);
void prolog_fd_dom_insert_vrenv_multi_vr(VREnv *env, VR_term_ref d1, VR_term_ref value, VR_term_ref d);
void prolog_fd_dom_delete_vrenv_multi_vr(VREnv *env, VR_term_ref d1, VR_term_ref value, VR_term_ref d);
/* $fd_dom_intersect(D1, D2, R): R 1 disjoint, 2 D1 within D2, 3 otherwise. */
long prolog_fd_dom_intersect_vrenv_multi_vr(VREnv *env, VR_term_ref d1, VR_term_ref d2);
/* $fd_negate(Set, Offset, D): D = {Offset - x : x in Set}. */
void prolog_fd_negate_vrenv_multi_vr(VREnv *env, VR_term_ref set, VR_term_ref offset, VR_term_ref d);

#endif
