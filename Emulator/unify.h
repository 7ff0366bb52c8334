/* unify.h: binding, general unification and mutable updates for native
 * code (built-ins, the foreign interface, the database).
 *
 * Binding rules, the same as the emulator's:
 *   - a cell at or above global_top is a local-stack cell;
 *   - of two unbound variables the younger (higher address) is bound to the
 *     older, which also binds a local variable rather than a heap one;
 *     but a plain variable is bound to a constrained one (a heap cell
 *     preceded by the marker -1), never the other way round;
 *   - binding a constrained variable counts a wake-up (wake_count), clears
 *     heap_warn_soft so that the emulator runs it at its next predicate
 *     entry, and is always trailed;
 *   - any other binding is trailed only when the cell is older than the
 *     newest choicepoint (heap cell below global_uncond, local cell below
 *     local_uncond).
 * After every trail push at least TRAIL_MARGIN words stay free below the
 * value trail (choice_overflow otherwise).
 *
 * Nothing here recurses on the native stack: pending pairs of cunify live on
 * the value trail, so deep and cyclic terms are safe.
 */
#ifndef VOSTREL_UNIFY_H
#define VOSTREL_UNIFY_H

#include <cstdarg>

#include "termdefs.h"

struct worker;

/* Bind the unbound cell `var` (a reference word) to `value` by the rules
   above.  `value` is dereferenced; when it is an unbound variable too the
   caller has already chosen `var` as the one to bind (see bind_vars). */
void bind(worker *w, TAGGED var, TAGGED value);
/* Two distinct unbound variables: binds the one the rules choose. */
void bind_vars(worker *w, TAGGED u, TAGGED v);
/* True when the cell is a constrained variable's cell: on the heap and
   preceded by the marker -1.  Reads the word before the cell only for cells
   inside [heap_start, global_top); the stack block keeps a guard word
   (never -1) before heap_start, so the first heap cell is safe too. */
bool is_constrained_cell(const worker *w, const TAGGED *cell);

/* Unify two terms; 1 on success, 0 on failure (bindings made before the
   failure stay; the caller backtracks). */
int cunify(worker *w, TAGGED u, TAGGED v);
/* Unify the n pairs (u[i], v[i]); 1 or 0. */
int cunify_args(worker *w, int n, TAGGED *u, TAGGED *v);

/* Store `value` into the mutable term `mutable_` ($mutable(Value, Stamp),
   both dereferenced), trailing the old value and stamp once per
   choicepoint. */
void do_update_mutable(worker *w, TAGGED value, TAGGED mutable_);

/* Pushes a one-word trail entry and keeps the trail margin. */
void trail_push_checked(worker *w, TAGGED entry);

/* The concatenation of the strings up to a null argument, in a new
   VR_malloc block; null when memory is exhausted. */
char *vr_stralloc(const char *first, ...);

#endif
