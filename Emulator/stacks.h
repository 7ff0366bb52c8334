/* stacks.h: the worker's two stack blocks, their sizes, bitmaps and
 * safety margins.
 *
 * heap-and-local block (stack-block area 1), for h heap and l local words:
 *   required_heap_size(h, l) = ((h + l + 15) / 16) * 17 words of stacks
 *   and bitmap, preceded by HEAP_GUARD_WORDS guard words (0, never -1).
 *   The guard is what lets "the word before a cell is -1" recognise a
 *   constrained variable without reading outside the block for the first
 *   heap cell.  Whoever moves or frees the block works from
 *   heap_block_start(w) and heap_block_bytes(w), never from heap_start.
 *   Bitmap (stack_end .. heap_end): one word per 16 words of heap and
 *   local stack; the word at byte offset a from heap_start has its mark bit
 *   at bit 2 * ((a / 4) % 4) of bitmap byte a / 16, its relocation bit next
 *   to it.
 * trail-and-choice block (area 0), n words wanted:
 *   required_choice_size(n) = ((n + 31) / 32) * 33 words; choice_start =
 *   choice_bitmask_start(trail_start, trail_end); the bitmap above it has
 *   bit (a / 4) % 8 of byte a / 32 for the word at byte offset a from
 *   trail_start.
 * Bitmaps are all zero outside a garbage collection.
 *
 * Margins: heap_warn = stack_start - HEAP_WARN_MARGIN words, stack_warn =
 * stack_end - STACK_WARN_MARGIN words.
 *
 * Callers: create_worker (init_stacks), dealloc_worker (deinit_stacks),
 * stack growth (split_heap_and_stack and the size formulas), the garbage
 * collector (bitmaps, calculate_segment_node), statistics (usage reports).
 */
#ifndef VOSTREL_STACKS_H
#define VOSTREL_STACKS_H

#include <cstddef>
#include <cstdint>

#include "termdefs.h"
#include "worker.h"

constexpr int HEAP_WARN_MARGIN = 1152;
constexpr int STACK_WARN_MARGIN = 528;

/* Stack-block areas of the memory manager (stackalloc's last argument). */
constexpr int HEAP_AREA = 1;
constexpr int CHOICE_AREA = 0;

/* Two words keep heap_start 8-byte aligned like the block itself. */
constexpr int HEAP_GUARD_WORDS = 2;
constexpr TAGGED HEAP_GUARD_WORD = 0;
static_assert(HEAP_GUARD_WORD != CVA_MARKER);

/* Sizes in bytes when no setting is given, and the smallest accepted. */
constexpr unsigned DEFAULT_STACK_BYTES = 16384;
constexpr unsigned MIN_STACK_BYTES = 16384;
constexpr unsigned DEFAULT_GROWTH_PERCENT = 62;
constexpr unsigned MIN_GROWTH_PERCENT = 10;

constexpr int required_heap_size(int h, int l) { return ((h + l + 15) / 16) * 17; }
constexpr int required_choice_size(int n) { return ((n + 31) / 32) * 33; }
/* Words to ask for a heap-and-local block holding h heap and l local
   words: the stacks, their bitmap and the guard. */
constexpr int heap_block_words(int h, int l) { return required_heap_size(h, l) + HEAP_GUARD_WORDS; }
TAGGED *choice_bitmask_start(TAGGED *start, TAGGED *end);

inline TAGGED *heap_block_start(const worker *w) { return w->heap_start - HEAP_GUARD_WORDS; }
inline std::size_t heap_block_bytes(const worker *w)
{
  return static_cast<std::size_t>(w->heap_end - heap_block_start(w)) * sizeof(TAGGED);
}
/* Points heap_start and heap_end into a (new) block of `bytes` bytes and
   writes its guard; the rest of the block is left alone. */
void set_heap_block(worker *w, TAGGED *block, std::size_t bytes);

/* Builds both blocks from the size settings (GLOBALSTKSIZE, LOCALSTKSIZE,
   CHOICESTKSIZE, TRAILSTKSIZE, GROWTHFACTOR) and records their sizes in
   eglobal->min_heap and min_choice. */
void init_stacks(worker *w);
void deinit_stacks(worker *w);
/* Re-divides the heap-and-local block for at least min_heap heap and
   min_stack local words, moving the stack_in_use bottom words of the local
   stack; 1 when done, 0 (nothing changed) when the block is too small.
   Pointers into the moved local stack are the caller's to relocate;
   heap_warn_soft is left alone. */
int split_heap_and_stack(worker *w, int min_heap, int min_stack, int stack_in_use);

/* In bytes.  Free is the same figure for both: half of what neither uses. */
void trail_usage(worker *w, std::int64_t *used, std::int64_t *free_);
void choice_usage(worker *w, std::int64_t *used, std::int64_t *free_);

/* segment_node := the newest choicepoint whose saved trail_top carries the
   segment mark. */
void calculate_segment_node(worker *w);

#endif
