/* copy_term.h: copying a term with fresh variables, in the free heap space.
 *
 * copy_term copies the term held in the cell at global_top (R) to the cells
 * from R + 1 upward without moving global_top, so the caller decides how
 * much of the copy to keep.  It leaves two things for the caller to undo
 * with copy_term_undo, whether the copy fit or not:
 *   - forwarding: the first cell of every copied compound source term holds
 *     a pointer to its copy, the old word saved on the value trail;
 *   - bindings: every source variable met is bound to its copy and trailed.
 * Callers: compile_term (instances.cpp), $copy_term/2 (prolog_copy_term).
 */
#ifndef VOSTREL_COPY_TERM_H
#define VOSTREL_COPY_TERM_H

#include <cstddef>
#include <cstdint>

#include "termdefs.h"

struct worker;

/* The decision-diagram nodes copied by the last copy, in copy (address)
   order; rank is filled by compile_term.  Starts at 32 bytes (misc. space)
   on the first node and doubles. */
struct ct_entry {
  TAGGED *node;
  std::int32_t rank;
};
struct copy_table {
  ct_entry *entries;
  std::int32_t count;
  std::int32_t capacity; /* bytes */
};
extern copy_table ct;
void ct_clear(void);
void ct_free(void);

/* Copies the term in *global_top to the cells after it; returns the end of
   the copy, or null when it would come within 512 bytes of the local
   stack.  In compress mode nothing ground at its first level is copied
   (boxed numbers, decision-diagram nodes, compound terms and list pairs
   whose arguments are all constants): the copy shares it with the source.
   Attributes of constrained variables are not copied, a mutable's copy has
   the stamp 0. */
TAGGED *copy_term(worker *w, int compress);

/* Undoes what copy_term left: old words back into forwarded source cells
   (value trail down to vt_level) and trail entries above trail_mark words
   from trail_start unbound again. */
void copy_term_undo(worker *w, std::int32_t vt_level, std::size_t trail_mark);

/* $copy_term(+Term, ?Copy): Copy shares with Term every compound subterm
   that holds no variable and no mutable term. */
int prolog_copy_term(worker *w);

#endif
