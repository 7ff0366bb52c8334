/* term_walkers.h: walks over terms that terminate on cyclic terms and use
 * no native stack, and the built-ins made from them.
 *
 * A walk visits the term depth first, arguments left to right, by pointer
 * reversal, and records what it passed in the mark bitmap above the local
 * stack (two bits per word of heap and local stack).  The bitmap must be
 * clean before a walk; every dfs_acyclic or dfs_ground must be followed by
 * dfs_undo on the same term, before anything else (the garbage collector,
 * another walk) looks at the bitmap.  Cells outside the heap and local
 * stack (constants of compiled code) are not entered.
 *
 * Callers: the emulator's ground/1 test, unify_with_occurs_check/2,
 * term_variables/2 and the attributed-variable collector, subsumption, the
 * variable set of a most general unifier.  Engine thread only.
 */
#ifndef VOSTREL_TERM_WALKERS_H
#define VOSTREL_TERM_WALKERS_H

#include "termdefs.h"

struct worker;

/* 1 when t is acyclic; leaves marks. */
int dfs_acyclic(worker *w, TAGGED t);
/* 1 when t has no unbound variable and no $mutable/2 term; leaves marks. */
int dfs_ground(worker *w, TAGGED t);
/* Clears the marks a walk over t left. */
void dfs_undo(worker *w, TAGGED t);

/* Built-ins; arguments in the argument registers from X0. */
int prolog_acyclic(worker *w);                   /* $acyclic/1 */
int prolog_unify_with_occurs_check(worker *w);   /* $unify_with_occurs_check/2 */
int prolog_term_variables(worker *w);            /* $term_variables/2 */
int prolog_term_attributed_variables(worker *w); /* $term_attributed_variables/2 */
int prolog_subsumes(worker *w);                  /* $subsumes/2 */
int prolog_mgu_variables(worker *w);             /* $mgu_variables/3 */
int prolog_eq(worker *w);                        /* $eq/2 */

#endif
