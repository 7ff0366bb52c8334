/* propagation.h: the propagation contexts, their six queues and the loop.
 *
 * Telling a variable a smaller domain wakes the items suspended on it by
 * putting them into the queues of the current context; the loop
 * ($fd_evaluate_indexical/2) takes them out by priority and runs them until
 * every queue is empty, a run fails, the heap needs attention or an item
 * must be handed to Prolog.  Contexts nest: $fd_begin/0 pushes one, the
 * loop's normal end pops it.
 *
 * Queues (index: contents):
 *   0 indexical items ix/7      1 global items just posted or woken by val
 *   2 globals woken by min/max  3 globals woken by dom
 *   4 daemon items daemon/5     5 pairs Variable-Value still to be bound
 * Service order: queue 4 completely, then the lowest non-empty of 0..3 one
 * item at a time, queue 5 only when 0..4 are empty.
 *
 * The current context is named by the $mutable in term-reference slot 5
 * (value: context address + 3, or 0 for none).  The mutable is trailed, so
 * backtracking restores it; fd_sync brings the context stack into line.
 * Queue slots are engine memory; the manager hook keeps the items they
 * hold valid across heap moves and collections.
 *
 * "where" codes of fd_enqueue_general: queue = where / 2, odd = tail.
 *
 * Callers: the telling layer (fd_told), posting, the global constraints
 * (daemons), and Prolog through the foreign predicates below.
 */
#ifndef TRELIX_CLPFD_PROPAGATION_H
#define TRELIX_CLPFD_PROPAGATION_H

#include <cstddef>

#include "fd_state.h"

/* One ring buffer of items; empty when first == last, at most size - 1
   items, size a power of two. */
struct prop_queue {
  VR_globref items; /* size two-word slots; the item is the first word */
  int first;
  int last;
  int size;
};
static_assert(sizeof(prop_queue) == 16);

/* One propagation context. */
struct propagator {
  propagator *next; /* enclosing context, or next free one */
  prop_queue queue[6];
  int hint; /* no queue among 0..3 below hint holds anything */
};
static_assert(sizeof(propagator) == 104 && offsetof(propagator, queue) == 4 && offsetof(propagator, hint) == 100);

/* Status bits of global-constraint and indexical items. */
enum : unsigned {
  FD_STATUS_INDEXICAL = 0x1,
  FD_STATUS_GLOBAL = 0x2,
  FD_STATUS_COREF = 0x4,
  FD_STATUS_QUEUED = 0x8,
  FD_STATUS_LINKED = 0x10,
  FD_STATUS_RESCHEDULE = 0x20,
  FD_STATUS_RUNNING = 0x40
};

/* Suspension-list bits of fd_enqueue_all; FD_WAKE_FAST selects the fast
   walk. */
enum : int { FD_WAKE_DOM = 1, FD_WAKE_MIN = 2, FD_WAKE_MAX = 4, FD_WAKE_MINMAX = 8, FD_WAKE_VAL = 0x10,
             FD_WAKE_FAST = 0x20 };

/* $fd_begin/0: pushes a fresh context and names it in slot 5. */
void prolog_fd_begin_vrenv_multi_vr(VREnv *env);
/* Pops contexts that backtracking made stale (emptying their queues), or
   re-pushes free ones, until the current context is the one slot 5 names. */
void fd_sync(VREnv *env, worker *w);
/* Pops the current context. */
void fd_end(VREnv *env, worker *w);
/* Discards every context and its queue buffers (library shutdown). */
void fd_dealloc(VREnv *env);

void fd_enqueue_general(VREnv *env, worker *w, TAGGED item, int where);
/* What daemons use: does nothing when the item is queued already. */
void fd_enqueue_global(VREnv *env, worker *w, TAGGED item, int where);
/* $fd_global_enqueue(Item) */
void prolog_fd_global_enqueue_vrenv_multi_vr(VREnv *env, VR_term_ref item);
/* $fd_enqueue_all(ListsMutable) */
void prolog_fd_enqueue_all_vrenv_multi_vr(VREnv *env, VR_term_ref lists_mutable);
/* Wakes the suspension lists of a $fdlists mutable selected by bits;
   items whose Ent is filter are not woken. */
void fd_enqueue_all(VREnv *env, worker *w, int bits, TAGGED filter, TAGGED lists_mutable);
/* The two walks of one list: list index 3 dom, 4 min, 5 max, 6 minmax. */
void fd_enqueue_list(VREnv *env, worker *w, int list_index, TAGGED filter, TAGGED lists_term);
void fd_enqueue_list_gc(VREnv *env, worker *w, int list_index, TAGGED filter, TAGGED lists_mutable);
/* The walk of the val list (pairs Vars-Item). */
void fd_enqueue_val(VREnv *env, worker *w, TAGGED filter, TAGGED lists_mutable);

/* Takes the next item: 0 nothing left (queue 5 performed), 1 an indexical,
   2 a global-constraint item, 3 the heap reached the soft limit. */
int fd_dequeue(VREnv *env, worker *w, TAGGED *item);

/* $fd_evaluate_indexical(Global, Result): the loop.  0 the queues are
   empty and the context ended; 1 the heap needs attention; 2 the global
   item now in Global must be run by Prolog. */
long prolog_fd_evaluate_indexical_vrenv_multi_vr(VREnv *env, VR_term_ref global);

/* Applies the Actions list in argument register 0 for the item in global:
   1 done, 0 failure, -1 an exception (its term left in actions). */
int fd_prune_and_enqueue(VREnv *env, worker *w, VR_term_ref actions, VR_term_ref global, VR_term_ref scratch);
/* $fd_prune_and_enqueue(Actions, Global) */
void prolog_fd_prune_and_enqueue_vrenv_multi_vr(VREnv *env, VR_term_ref actions, VR_term_ref global);

/* The engine's notifications: 1 heap moved (pointer: displacement in
   bytes), 2 collection marking, 3 collection compaction (pointer: lowest
   heap address moved), 4 consistency check (pointer: function to call with
   each slot's address). */
int fd_manager_hook(void *cookie, worker *w, int message, void *pointer);

#endif
