/* gc.h: the heap garbage collector.
 *
 * A sliding mark-and-compact collector over the heap (global stack),
 * generational by choicepoint segments: a collection normally covers only
 * the heap built since the segment choicepoint (segment_node, the newest
 * choicepoint whose saved trail_top carries bit 0); whatever is older is
 * treated as live and never moves.  Marking reverses pointers (no mark
 * stack); compaction threads every pointer into a relocation chain of the
 * cell it points to (no forwarding table).  The only workspace is the two
 * bitmaps of the stack blocks (stacks.h): a mark bit M and a chain bit R per
 * heap-and-local word, an R bit per trail-and-choice word, and the second
 * word of a term-reference or global-reference cell.  All bits are zero
 * outside a collection.
 *
 * Before marking, the trail is tidied (trail_gc), environments that code
 * will still initialise get $uninit (initChoicepoints), and, for a
 * whole-heap collection, chains of bound variables are shortened (variable
 * shunting).  While marking, bindings of unreachable cells that only
 * backtracking would reveal are undone (early reset).
 *
 * Roots: the trail (bindings of older cells, mutable updates, clean-up
 * records, pending wake-ups), term references, global references, the
 * environments and saved arguments of every choicepoint of the segment and
 * of the current state, and the finite-domain library's queues (manager
 * messages 2 and 3).  Argument registers are not roots: whoever calls
 * heap_overflow saves the live ones in an environment first.
 *
 * Callers: heap_overflow, choice_overflow and shrink_stacks through
 * gc_hooks (install_gc_hooks, at start-up), $garbage_collect/1, foreign
 * code (markTerm, intoRelocationChain).  Engine thread only; the emulator
 * is stopped at a predicate entry or inside a native built-in.
 */
#ifndef VOSTREL_GC_H
#define VOSTREL_GC_H

#include <cstdint>

#include "termdefs.h"

struct worker;

/* Collects from segment_node (the bottom choicepoint: the whole heap) and
   returns the words kept alive only by older heap cells or mutables since
   the last whole-heap collection. */
std::int64_t GarbageCollect(worker *w);

/* Drops the trail entries no choicepoint from node down to segment_node
   needs; mutable stamp chains inside that part are left unthreaded for
   compressTrail, which must follow. */
void trail_gc(worker *w);
/* Squeezes the holes out of the trail above segment_node's trail mark,
   moving every newer choicepoint's saved trail_top (with from_gc, also
   marking each as a segment boundary) and rethreading mutable stamps. */
void compressTrail(worker *w, int from_gc);
/* Stores $uninit into the environment slots that the code after each
   choicepoint's continuation (and the current one) writes before reading. */
void initChoicepoints(worker *w);

/* Marks everything reachable from t during a collection (the finite-domain
   library marks its queued items with it). */
void markTerm(TAGGED t);
/* Marks everything reachable from the root word at cell, which lies outside
   the collected part of the heap. */
void markVariable(worker *w, TAGGED *cell);
/* Threads the word at source, which points to target, into target's
   relocation chain. */
void intoRelocationChain(worker *w, TAGGED *target, TAGGED *source);
/* Points every word of cell's relocation chain at new_address and gives
   cell its own contents back. */
void updateRelocationChain(worker *w, TAGGED *cell, TAGGED *new_address);

/* The decision-diagram tables after a collection compacted the heap from
   segment_start to new_top, nodes of which survived; null until that
   library lands. */
extern void (*bdd_garbage_collect_hook)(worker *w, TAGGED *segment_start, TAGGED *new_top, int nodes);

/* Wires gc_hooks and reads the torture settings (start-up). */
void install_gc_hooks(void);

/* Torture mode, for testing the collector: TRELIX_GC_TORTURE=N[,W[,check]]
   makes the emulator collect at every N-th predicate entry (or suspended
   instruction) reached after the heap has grown, whatever the margin;
   every W-th of those collections covers the whole heap; with `check`,
   every collection is followed by the consistency checker and a fault if
   it finds anything wrong.  interval 0: off. */
struct gc_torture_settings {
  int interval;
  int whole_every;
  bool check;
  int countdown;
  int collections;
  bool forced; /* set by the emulator for the heap_overflow call it makes */
};
extern gc_torture_settings gc_torture;
/* Counts one heap check; true when a torture collection is due. */
inline bool gc_torture_due(void)
{
  if (gc_torture.interval == 0 || --gc_torture.countdown > 0)
    return false;
  gc_torture.countdown = gc_torture.interval;
  return true;
}
/* Called by heap_overflow when torture forced the collection: every
   whole_every-th one first clears the segment boundaries. */
void gc_torture_collection_starts(worker *w);
/* After a collection in torture mode with checking on. */
void gc_torture_check(worker *w);

/* Built-ins. */
int prolog_garbage_collect(worker *w); /* $garbage_collect(Full) */
int prolog_gc_margin(worker *w);       /* $gc_margin(Old, New) */
int prolog_gc_mode(worker *w);         /* $gc_mode(Old, New) */
int prolog_gc_trace(worker *w);        /* $gc_trace(Old, New) */

#endif
