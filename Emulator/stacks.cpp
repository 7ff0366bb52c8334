/* stacks.cpp: building, dividing and releasing the worker's two stack
 * blocks, and the usage figures the statistics report.
 *
 * Layout and formulas are in stacks.h.  Invariants kept here: after any
 * division heap_warn + HEAP_WARN_MARGIN = stack_start, stack_warn +
 * STACK_WARN_MARGIN = stack_end, the bitmap region is zero, and the guard
 * words before heap_start are HEAP_GUARD_WORD.
 *
 * Callers: create_worker/dealloc_worker (engine_state.cpp), stack growth,
 * the garbage collector and statistics.
 */
#include "stacks.h"

#include <cstring>

#include "config.h"
#include "datadefs.h"
#include "errors.h"
#include "memman.h"
#include "stack_growth.h"
#include "wamsup.h"

TAGGED *choice_bitmask_start(TAGGED *start, TAGGED *end)
{
  const std::ptrdiff_t n = end - start;
  return end - ((n - 1) / 33 + 1);
}

void set_heap_block(worker *w, TAGGED *block, std::size_t bytes)
{
  for (int i = 0; i < HEAP_GUARD_WORDS; ++i)
    block[i] = HEAP_GUARD_WORD;
  w->heap_start = block + HEAP_GUARD_WORDS;
  w->heap_end = block + bytes / sizeof(TAGGED);
}

int split_heap_and_stack(worker *w, int min_heap, int min_stack, int stack_in_use)
{
  const std::ptrdiff_t cells = (static_cast<std::ptrdiff_t>(min_heap) + min_stack + 15) & ~static_cast<std::ptrdiff_t>(15);
  const std::ptrdiff_t excess = (w->heap_end - w->heap_start) - cells - cells / 16;
  if (excess < 0)
    return 0;
  const std::ptrdiff_t extra = (excess / 17) * 16;
  /* The room beyond the minimums goes to each stack in proportion to its
     minimum. */
  const std::ptrdiff_t stack =
      min_stack + static_cast<std::ptrdiff_t>(static_cast<double>(min_stack) /
                                              (static_cast<double>(min_heap) + min_stack) * extra);
  const std::ptrdiff_t heap = cells + extra - stack;

  TAGGED *new_stack_start = w->heap_start + heap;
  if (stack_in_use > 0)
    std::memmove(new_stack_start, w->stack_start, static_cast<std::size_t>(stack_in_use) * sizeof(TAGGED));
  w->stack_start = new_stack_start;
  w->stack_end = new_stack_start + stack;
  w->stack_warn = w->stack_end - STACK_WARN_MARGIN;
  w->heap_warn = w->stack_start - HEAP_WARN_MARGIN;
  std::memset(w->stack_end, 0, static_cast<std::size_t>(w->heap_end - w->stack_end) * sizeof(TAGGED));
  return 1;
}

void init_stacks(worker *w)
{
  const unsigned h = get_stack_size("GLOBALSTKSIZE", DEFAULT_STACK_BYTES, MIN_STACK_BYTES) / 4;
  const unsigned l = get_stack_size("LOCALSTKSIZE", DEFAULT_STACK_BYTES, MIN_STACK_BYTES) / 4;
  init_stack_sizes(static_cast<int>(get_stack_size("GROWTHFACTOR", DEFAULT_GROWTH_PERCENT, MIN_GROWTH_PERCENT)));

  std::size_t actual = 0;
  const std::size_t heap_bytes =
      4 * static_cast<std::size_t>(heap_block_words(static_cast<int>(h), static_cast<int>(l)));
  TAGGED *block = static_cast<TAGGED *>(stackalloc(heap_bytes, &actual, HEAP_AREA));
  eglobal->min_heap = static_cast<std::uint32_t>(actual);
  std::memset(block, 0, actual);
  set_heap_block(w, block, actual);
  w->local_top = w->stack_start = w->stack_end = w->heap_start;
  if (!split_heap_and_stack(w, static_cast<int>(h), static_cast<int>(l), 0))
    VR_raise_fault("stack block smaller than asked for");

  w->events_disabled = 0;
  w->wake_count = 0;
  w->heap_warn = w->stack_start - HEAP_WARN_MARGIN;
  w->heap_warn_soft = w->heap_warn;
  w->int_heap_warn = w->heap_warn;

  const std::size_t choice_bytes =
      static_cast<std::size_t>(get_stack_size("CHOICESTKSIZE", DEFAULT_STACK_BYTES, MIN_STACK_BYTES)) +
      get_stack_size("TRAILSTKSIZE", DEFAULT_STACK_BYTES, MIN_STACK_BYTES);
  TAGGED *trail = static_cast<TAGGED *>(stackalloc(choice_bytes, &actual, CHOICE_AREA));
  eglobal->min_choice = static_cast<std::uint32_t>(actual);
  std::memset(trail, 0, actual);
  w->trail_start = w->choice_end = trail;
  w->trail_end = trail + actual / sizeof(TAGGED);
  w->choice_start = choice_bitmask_start(w->trail_start, w->trail_end);

  /* The consistency checker is a debugging aid switched on by hand. */
  verbose_proofread = 0;
  assert_proofread = 0;
  assert_minfo_guts = 0;
}

void deinit_stacks(worker *w)
{
  if (w->heap_start != nullptr) {
    stackdealloc(heap_block_start(w), heap_block_bytes(w), HEAP_AREA);
    w->heap_start = w->heap_end = nullptr;
  }
  if (w->trail_start != nullptr) {
    stackdealloc(w->trail_start, static_cast<std::size_t>(w->trail_end - w->trail_start) * sizeof(TAGGED),
                 CHOICE_AREA);
    w->trail_start = w->trail_end = w->choice_end = nullptr;
  }
}

namespace {

/* The newest choicepoint that counts: a temporary fail_alt choicepoint
   pushed below node is not part of the choice stack. */
const TAGGED *choice_bottom(const worker *w)
{
  const node *b = w->node_;
  if (b == nullptr)
    return w->choice_start;
  if (fail_alt != nullptr && node_alt(b) == fail_alt)
    b = node_previous(b);
  return reinterpret_cast<const TAGGED *>(b);
}

std::int64_t choice_block_free(const worker *w)
{
  const std::int64_t block = static_cast<std::int64_t>(w->trail_end - w->trail_start) * 4;
  const std::int64_t trail = static_cast<std::int64_t>(w->trail_top - w->trail_start) * 4;
  const std::int64_t choice = static_cast<std::int64_t>(w->choice_start - choice_bottom(w)) * 4;
  return (block - trail - choice) / 2;
}

} // namespace

void trail_usage(worker *w, std::int64_t *used, std::int64_t *free_)
{
  *used = static_cast<std::int64_t>(w->trail_top - w->trail_start) * 4;
  *free_ = choice_block_free(w);
}

void choice_usage(worker *w, std::int64_t *used, std::int64_t *free_)
{
  *used = static_cast<std::int64_t>(w->choice_start - choice_bottom(w)) * 4;
  *free_ = choice_block_free(w);
}

void calculate_segment_node(worker *w)
{
  node *b = w->node_;
  while ((reinterpret_cast<std::uintptr_t>(b->trail_top) & NODE_SEGMENT_MARK) == 0)
    b = node_previous(b);
  w->segment_node = b;
}
