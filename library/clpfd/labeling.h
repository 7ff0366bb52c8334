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
 * order, and its block goes when no variable is left.  Only the first
 * key enters the heap, so ff and ffc order it alike.
 *
 * Callers: labeling/2 (library/clpfd/enum.pl: $fd_delete/3; the heap is
 * meant for min, max and ff once the collector fault listed in
 * docs/architecture.md is mended), the resource's table, the tests.
 */
#ifndef TRELIX_CLPFD_LABELING_H
#define TRELIX_CLPFD_LABELING_H

#include <climits>

#include "fd_state.h"
#include "globals.h"

enum : int { FD_LABEL_MIN = 1, FD_LABEL_MAX = 2, FD_LABEL_FF = 3, FD_LABEL_FFC = 4 };

/* The rank of the unbound variable var by criterion (its attribute made
   when it has none; heap room for one attribute is the caller's). */
void rank_var(VREnv *env, worker *w, TAGGED var, int criterion, long *key1, long *key2);

/* $fd_delete(List, Var, Criterion): Var is the best unbound variable of
   List; fails when List has none. */
void prolog_fd_delete_vrenv_multi_vr(VREnv *env, VR_term_ref list, VR_term_ref var, long criterion);

/* $fd_labeling(State, NewState, Selected, Global): one step of the heap
   constraint.  State = labeling(Vars, Key, Handle, Stamp), Key min, max or
   another atom (smallest domain first); the key atom as a functor of arity
   1 names the suspension list the daemons wait in (dom for smallest
   domain).  Global = global(StateMutable, Constraint, StatusMutable, Ent,
   Source) is the constraint's item, made by the caller, whose StateMutable
   holds State itself and is to receive NewState.  Selected is the best
   unbound variable, or [] when none is left (the block is then freed). */
void prolog_fd_labeling_vrenv_multi_vr(VREnv *env, VR_term_ref state, VR_term_ref new_state,
                                       VR_term_ref selected, VR_term_ref global);

/* ---- The heap constraint's block ---- */

/* One allocation: these fields, then key (long), heap and vheap (int),
   nvars entries each.  heap[0..heapsize) is a min-heap of variable indices
   (children of position i at 2i + 1 and 2i + 2) and heap[0..nvars) always
   a permutation of them: an entry leaving the heap is swapped to just past
   its end, so a rebuild from a larger committed size finds every variable
   that backtracking may have unbound again.  vheap[i] is index i's
   position.  refbase: two global references per variable, attribute then
   variable. */
struct labeling_data {
  daemon_frame frame;
  VREnv *vrenv;
  long stamp;
  long *key;
  int *heap;
  int *vheap;
  VR_globref refbase;
  int heapsize;
  int heapsize_committed;
  int nvars;
  int type; /* FD_LABEL_MIN, FD_LABEL_MAX, else smallest domain */
};
static_assert(sizeof(void *) != 4 || sizeof(labeling_data) == 48, "the block's fixed fields on the 32-bit target");

/* The key of a variable found bound: before every other key. */
constexpr long LABEL_KEY_BOUND = LONG_MIN;

/* Whether index a comes before index b: smaller key, or the same key and
   the variable earlier in the list. */
inline bool cmp_items(const labeling_data *d, int a, int b)
{
  return d->key[a] < d->key[b] || (d->key[a] == d->key[b] && a < b);
}

/* Heap order restored around position pos of d's heap: spheapify sifts
   down, labeling_sift_up up, labeling_heap_fix whichever the entry needs
   (a key that moved either way). */
void spheapify(labeling_data *d, int pos);
void labeling_sift_up(labeling_data *d, int pos);
void labeling_heap_fix(labeling_data *d, int pos);
/* Takes the entry at pos out of the heap (swapped past its end); the entry
   that takes its place is sifted up or down as it needs. */
void labeling_heap_remove(labeling_data *d, int pos);
/* Heap order over heap[0..heapsize) from any order, bottom-up. */
void labeling_heap_build(labeling_data *d);

/* The labeling constraint's daemon and destructor (globals.h). */
void labeling_daemon(VREnv *env, worker *w, void *block, VR_globref attr_ref, TAGGED global);
void labeling_destructor(void *block);

#endif
