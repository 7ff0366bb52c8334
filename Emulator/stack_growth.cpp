/* stack_growth.cpp: heap and local-stack overflow, trail and choicepoint
 * overflow, and the relocation that keeps every root right when a stack
 * area moves.
 *
 * Relocation is one linear pass per area with no side tables: the tag of a
 * word says whether it is an address, and the old bounds of the moved area
 * say where it points.  Only words that point inside the old heap in use
 * ([H0, T0)) or the old local stack ([S0, E0)) change; every other word is
 * left as it stands.  In particular a trail hole or a null link (the word
 * 0) never becomes an address: that would make a bogus trail entry that
 * untrailing later writes through.
 *
 * What is relocated: global references, term-reference stack entries, the
 * trail, heap words (boxed-number payloads skipped), live local-stack words,
 * and every choicepoint's saved tops, frame and arguments.  A trail entry
 * for a local-stack cell at or above the old local_top belongs to an
 * environment that is gone (nothing below local_top reaches it, and no
 * choicepoint's local_top lies above local_top); it becomes a trail hole,
 * since the re-divided stack may not reach that far any more, and an entry
 * left pointing past its end would be written through by untrailing.  What is not:
 * argument registers, `structure`, `insn` and native pointers (callers save
 * live registers in an environment first; call_overflow does that).
 *
 * Called by the emulator at predicate entry, by native built-ins and by
 * whatever pushes trail entries or choicepoints.  Engine thread only.
 */
#include "stack_growth.h"

#include <vector>

#include <cstring>

#include "code_records.h"
#include "datadefs.h"
#include "gc.h"
#include "globref.h"
#include "initial_atoms.h"
#include "memman.h"
#include "stack_walk.h"
#include "stacks.h"
#include "support.h"
#include "timing.h"
#include "wamsup.h"
#include "worker.h"

stack_gc_hooks gc_hooks = {nullptr, nullptr, nullptr, nullptr};
void (*call_fd_manager_hook)(int message, void *argument) = nullptr;
void (*bdd_heap_overflow_hook)(worker *w, int delta, TAGGED *global_top) = nullptr;
int (*prolog_free_hook)(worker *w) = nullptr;
int (*pure_attributes_hook)(TAGGED var, void *fd_module) = nullptr;
heap_overflow_counters overflow_counts = {};

void call_fd_manager(int message, void *argument)
{
  if (call_fd_manager_hook != nullptr)
    call_fd_manager_hook(message, argument);
}

/* ---------------------------------------------------------------------- */
/* Relocation */

namespace {

/* Displacements are computed on addresses as integers: a block may move
   by more than half the address space, which no pointer difference or
   pointer offset can express.  The sum wraps modulo 2^32, which is exactly
   the move. */
template <typename T> inline T *shifted(T *p, std::intptr_t bytes)
{
  return reinterpret_cast<T *>(reinterpret_cast<std::uintptr_t>(p) + static_cast<std::uintptr_t>(bytes));
}

/* The signed distance in bytes from `from` to `to`, modulo 2^32. */
inline std::intptr_t displacement(const void *from, const void *to)
{
  return static_cast<std::intptr_t>(reinterpret_cast<std::uintptr_t>(to) - reinterpret_cast<std::uintptr_t>(from));
}

/* The old bounds of a move and the byte distances the two stacks moved. */
struct move_plan {
  std::uintptr_t h0, t0; /* old heap start and top */
  std::uintptr_t s0, e0; /* old local stack start and end */
  std::uintptr_t l0;     /* old local_top */
  std::intptr_t dh, ds;
};

/* The new value of a word that may hold an address into the moved areas.
   Constants and words pointing elsewhere (0 among them) are unchanged. */
inline TAGGED relocate_word(TAGGED t, const move_plan &m)
{
  std::uintptr_t a = t & ~TAG_MASK;
  if (a >= m.h0 && a < m.t0)
    return tag_of(t) == CONST_TAG ? t : static_cast<TAGGED>(t + m.dh);
  if (IsVar(t) && a >= m.s0 && a < m.e0)
    return static_cast<TAGGED>(t + m.ds);
  return t;
}

inline void relocate_range(TAGGED *from, TAGGED *to, const move_plan &m)
{
  for (TAGGED *p = from; p < to; p++)
    *p = relocate_word(*p, m);
}

/* Heap words never point into the local stack; boxed-number payloads are
   raw bits and are stepped over with their trailer. */
void relocate_heap(TAGGED *from, TAGGED *to, const move_plan &m)
{
  for (TAGGED *p = from; p < to; p++) {
    TAGGED t = *p;
    if (IsBoxHeader(t) && (t & 7) == 7) {
      p += BoxWords(t); /* payload; the loop step passes the trailer */
      continue;
    }
    if (tag_of(t) != CONST_TAG)
      *p = relocate_word(t, m);
  }
}

void relocate_roots(worker *w, const move_plan &m)
{
  GlobRefIter it;
  globref_iter_init(&it);
  while (!globref_iter_empty(&it)) {
    VR_globref g = globref_iter_next(&it);
    g->term = relocate_word(g->term, m);
  }
  if (w->fli_stack_start != nullptr)
    for (int i = 0; i < w->fli_stack_index; i++)
      w->fli_stack_start[i].term = relocate_word(w->fli_stack_start[i].term, m);
  /* The first trail word is always 0 and stays so. */
  for (TAGGED *p = w->trail_start + 1; p < w->trail_top; p++) {
    const std::uintptr_t a = *p & ~TAG_MASK;
    if (IsVar(*p) && a >= m.l0 && a < m.e0)
      *p = TRAIL_HOLE; /* a cell of an environment that is gone */
    else
      *p = relocate_word(*p, m);
  }
}

void relocate_choicepoints(worker *w, const move_plan &m)
{
  for (choice_walk c(w); !c.done(); c.step()) {
    node *b = c.cp;
    b->global_top = shifted(b->global_top, m.dh);
    b->local_top = shifted(b->local_top, m.ds);
    b->frame_ = shifted(b->frame_, m.ds);
    relocate_range(b->term, b->term + c.arity(), m);
  }
}

inline void clear_soft_limits(worker *w)
{
  w->int_heap_warn = nullptr;
  w->heap_warn_soft = nullptr;
}

inline void uncond_from_node(worker *w)
{
  node *b = w->node_;
  w->global_uncond = b->global_top;
  w->local_uncond = b->local_top;
}

/* After the local stack moved by d bytes inside its block. */
void shift_local_stack(worker *w, TAGGED *old_start, TAGGED *old_end, std::intptr_t d)
{
  std::int64_t t0 = vr_usertime_ms();
  move_plan m;
  m.h0 = m.t0 = 0; /* the heap did not move */
  m.s0 = reinterpret_cast<std::uintptr_t>(old_start);
  m.e0 = reinterpret_cast<std::uintptr_t>(old_end);
  m.l0 = reinterpret_cast<std::uintptr_t>(w->local_top);
  m.dh = 0;
  m.ds = d;
  w->local_top = shifted(w->local_top, d);
  w->frame_ = shifted(w->frame_, d);
  relocate_roots(w, m);
  relocate_range(w->stack_start + 2, w->local_top, m);
  relocate_choicepoints(w, m);
  uncond_from_node(w);
  eglobal->stats.ss_local++;
  eglobal->stats.ss_time += vr_usertime_ms() - t0;
}

} // namespace

/* ---------------------------------------------------------------------- */
/* Heap and local stack */

void resize_heap_and_stack(worker *w, unsigned cur_bytes, unsigned new_bytes, int min_heap,
                           int min_stack)
{
  std::int64_t time0 = vr_usertime_ms();
  TAGGED *h0 = w->heap_start, *t0 = w->global_top, *s0 = w->stack_start, *e0 = w->stack_end;
  int in_use = static_cast<int>(w->local_top - w->stack_start);

  if (new_bytes < cur_bytes) {
    /* Bring the local stack down to just above the heap so that it lies in
       the part of the block that survives the shrink. */
    int rest = static_cast<int>(w->stack_end - w->heap_start) - min_heap;
    split_heap_and_stack(w, min_heap, rest, in_use);
  }

  /* The block starts with the guard words before heap_start. */
  std::size_t actual = 0;
  TAGGED *old_block = heap_block_start(w);
  TAGGED *block = static_cast<TAGGED *>(stackrealloc(old_block, cur_bytes, new_bytes, &actual, HEAP_AREA));
  std::intptr_t dh = displacement(old_block, block);
  set_heap_block(w, block, actual);
  w->stack_start = shifted(w->stack_start, dh);
  w->stack_end = shifted(w->stack_end, dh);
  w->stack_warn = shifted(w->stack_warn, dh);
  w->heap_warn = shifted(w->heap_warn, dh);

  split_heap_and_stack(w, min_heap, min_stack, in_use);
  std::intptr_t ds = displacement(s0, w->stack_start);
  if (dh == 0 && ds == 0)
    return;

  move_plan m;
  m.h0 = reinterpret_cast<std::uintptr_t>(h0);
  m.t0 = reinterpret_cast<std::uintptr_t>(t0);
  m.s0 = reinterpret_cast<std::uintptr_t>(s0);
  m.e0 = reinterpret_cast<std::uintptr_t>(e0);
  m.l0 = m.s0 + static_cast<std::uintptr_t>(in_use) * sizeof(TAGGED);
  m.dh = dh;
  m.ds = ds;
  w->global_top = shifted(w->global_top, dh);
  w->local_top = shifted(w->local_top, ds);
  w->frame_ = shifted(w->frame_, ds);
  relocate_roots(w, m);
  relocate_heap(w->heap_start, w->global_top, m);
  relocate_range(w->stack_start + 2, w->local_top, m);
  relocate_choicepoints(w, m);

  uncond_from_node(w);
  if (bdd_heap_overflow_hook != nullptr)
    bdd_heap_overflow_hook(w, static_cast<int>(dh), w->global_top);
  call_fd_manager(1, reinterpret_cast<void *>(dh));
  clear_soft_limits(w);
  eglobal->stats.ss_global++;
  eglobal->stats.ss_local++;
  eglobal->stats.ss_time += vr_usertime_ms() - time0;
}

void heap_overflow(worker *w, int heap_margin, int stack_margin)
{
  heap_overflow_counters &c = overflow_counts;
  c.heap_overflows++;
  bool heap_short = w->global_top + heap_margin >= w->stack_start;
  bool stack_short = w->local_top + stack_margin >= w->stack_end;
  if (heap_short)
    c.heap_margin_overflows++;
  if (stack_short) {
    c.stack_margin_overflows++;
    if (!heap_short)
      c.stack_margin_only_overflows++;
  }
  bool stack_only = stack_short && !heap_short;

  /* A torture collection (gc.h) runs whatever the margin says. */
  const bool torture = gc_torture.forced;
  gc_torture.forced = false;
  if (torture)
    gc_torture_collection_starts(w);

  if (verbose_proofread)
    vr_ttyprintf("%% CALL heap_overflow\n");
  if ((verbose_proofread || assert_proofread) && gc_hooks.init_choicepoints != nullptr)
    gc_hooks.init_choicepoints(w);

  calculate_segment_node(w);
  if (gc_hooks.trail_gc != nullptr)
    gc_hooks.trail_gc(w);
  if (gc_hooks.compress_trail_gc != nullptr)
    gc_hooks.compress_trail_gc(w, 0);

  long margin = static_cast<long>(GetSmall(eglobal->current_gcmargin)) * 1024;
  long heap_bytes = static_cast<long>((w->global_top - w->heap_start) * sizeof(TAGGED));
  bool gc = heap_margin == 0 ||
            (eglobal->current_gcmode != MakeAtom(atom_off_enum) && (heap_bytes >= margin || torture) && !stack_only);
  if (gc && heap_margin != 0 && gc_deferred(w))
    gc = false;
  long slack = 528;
  if (gc && gc_hooks.garbage_collect != nullptr) {
    TAGGED *before = w->global_top;
    std::int64_t grey = gc_hooks.garbage_collect(w);
    long reclaimed = static_cast<long>((before - w->global_top) * sizeof(TAGGED));
    node *bottom = bottom_choicepoint(w);
    if (reclaimed < margin && reclaimed + 4 * grey >= margin && w->segment_node != bottom) {
      /* The grey words would have made the difference: collect the whole
         heap. */
      w->segment_node = bottom;
      gc_hooks.garbage_collect(w);
    }
    c.heap_overflow_gcs++;
    if (stack_only)
      c.stack_margin_only_overflow_gcs++;
    slack = margin / 4 + 528;
  }

  if (torture && !heap_short && !stack_short) {
    /* Nothing was short: leave the stacks where they are. */
    clear_soft_limits(w);
    return;
  }

  long heap_used = static_cast<long>(w->global_top - w->heap_start);
  long stack_used = static_cast<long>(w->local_top - w->stack_start);
  long want_heap = heap_used + (slack > heap_margin + 1152 ? slack : heap_margin + 1152);
  long want_stack = stack_used + stack_margin + 4;

  TAGGED *old_start = w->stack_start, *old_end = w->stack_end;
  if (split_heap_and_stack(w, static_cast<int>(want_heap), static_cast<int>(want_stack),
                           static_cast<int>(stack_used))) {
    std::intptr_t d = displacement(old_start, w->stack_start);
    if (d != 0)
      shift_local_stack(w, old_start, old_end, d);
  } else {
    unsigned cur = static_cast<unsigned>(heap_block_bytes(w));
    unsigned want = static_cast<unsigned>(heap_block_words(static_cast<int>(want_heap),
                                                           static_cast<int>(want_stack))) *
                    sizeof(TAGGED);
    resize_heap_and_stack(w, cur, want, static_cast<int>(want_heap), static_cast<int>(want_stack));
  }
  clear_soft_limits(w);
  if (verbose_proofread)
    vr_ttyprintf("%% EXIT heap_overflow\n");
}

namespace {

/* Choice-stack depths (words from its start) of the open deferrals,
   innermost last. */
std::vector<long> gc_deferrals;

long choice_depth(worker *w) { return static_cast<long>(w->choice_start - reinterpret_cast<TAGGED *>(w->node_)); }

/* Drops the deferrals whose choicepoint is gone. */
void drop_stale_deferrals(worker *w)
{
  const long depth = choice_depth(w);
  while (!gc_deferrals.empty() && gc_deferrals.back() > depth)
    gc_deferrals.pop_back();
}

} // namespace

bool gc_deferred(worker *w)
{
  drop_stale_deferrals(w);
  return !gc_deferrals.empty();
}

int prolog_defer_gc(worker *w)
{
  drop_stale_deferrals(w);
  gc_deferrals.push_back(choice_depth(w));
  return 1;
}

int prolog_resume_gc(worker *w)
{
  drop_stale_deferrals(w);
  if (!gc_deferrals.empty())
    gc_deferrals.pop_back();
  return 1;
}

INSN *call_overflow(worker *w, int pad, int arity)
{
  TAGGED *e = w->local_top;
  e[0] = PointerToTerm(w->frame_);
  e[1] = PointerToTerm(w->next_insn);
  for (int i = 0; i < arity; i++)
    e[2 + i] = w->term[i];
  w->frame_ = reinterpret_cast<frame *>(e);
  w->next_insn = contcode + 2 * arity;
  w->local_top = e + 2 + arity;

  heap_overflow(w, pad, 528);

  e = reinterpret_cast<TAGGED *>(w->frame_); /* wherever it now is */
  for (int i = 0; i < arity; i++)
    w->term[i] = e[2 + i];
  if (e >= w->node_->local_top)
    w->local_top = e;
  w->frame_ = reinterpret_cast<frame *>(e[0]);
  w->next_insn = reinterpret_cast<INSN *>(e[1]);
  return w->next_insn;
}

void shrink_stacks(worker *w)
{
  const int heap_words = static_cast<int>(w->global_top - w->heap_start) + HEAP_WARN_MARGIN;
  const int stack_words = static_cast<int>(w->local_top - w->stack_start) + STACK_WARN_MARGIN;
  std::size_t want = adjust_stack_size(static_cast<std::size_t>(heap_block_words(heap_words, stack_words)) *
                                       sizeof(TAGGED));
  if (want < eglobal->min_heap)
    want = eglobal->min_heap;
  const std::size_t cur = heap_block_bytes(w);
  if (want < cur)
    resize_heap_and_stack(w, static_cast<unsigned>(cur), static_cast<unsigned>(want), heap_words, stack_words);

  calculate_segment_node(w);
  if (gc_hooks.trail_gc != nullptr)
    gc_hooks.trail_gc(w);
  if (gc_hooks.compress_trail_gc != nullptr)
    gc_hooks.compress_trail_gc(w, 0);
  const long needed = static_cast<long>(w->trail_top - w->trail_start) +
                      static_cast<long>(w->choice_start - reinterpret_cast<TAGGED *>(w->node_)) - w->value_trail +
                      512;
  std::size_t choice_want =
      adjust_stack_size(static_cast<std::size_t>(required_choice_size(static_cast<int>(needed))) * sizeof(TAGGED));
  if (choice_want < eglobal->min_choice)
    choice_want = eglobal->min_choice;
  const std::size_t choice_cur = static_cast<std::size_t>(w->trail_end - w->trail_start) * sizeof(TAGGED);
  if (choice_want < choice_cur)
    resize_trail_and_choice(w, static_cast<unsigned>(choice_cur), static_cast<unsigned>(choice_want));
}

/* ---------------------------------------------------------------------- */
/* Trail and choicepoints */

namespace {

/* The newest open query: its choicepoint's alternative is termcode or
   excpcode. */
void refresh_query(worker *w)
{
  w->current_query = nullptr;
  for (choice_walk c(w); !c.done(); c.step()) {
    try_node *alt = c.alt();
    if (alt != nullptr && (alt == termcode || alt == excpcode)) {
      w->current_query = reinterpret_cast<node *>(c.cp);
      return;
    }
  }
}

} // namespace

void resize_trail_and_choice(worker *w, unsigned cur_bytes, unsigned new_bytes)
{
  TAGGED *old_trail = w->trail_start, *old_cs = w->choice_start;
  TAGGED *region = reinterpret_cast<TAGGED *>(w->node_) + w->value_trail;
  std::size_t region_words = static_cast<std::size_t>(old_cs - region);
  /* Where the region's end lies inside the block, as an offset from its
     start, while we move it about. */
  std::ptrdiff_t region_end = old_cs - old_trail;

  if (new_bytes < cur_bytes) {
    std::size_t predicted = adjust_stack_size(new_bytes);
    TAGGED *cs = choice_bitmask_start(old_trail, old_trail + predicted / sizeof(TAGGED));
    std::memmove(cs - region_words, region, region_words * sizeof(TAGGED));
    region_end = cs - old_trail;
  }

  std::size_t actual = 0;
  TAGGED *block = static_cast<TAGGED *>(stackrealloc(old_trail, cur_bytes, new_bytes, &actual, CHOICE_AREA));
  std::intptr_t dt = displacement(old_trail, block);
  w->trail_start = block;
  w->choice_end = block;
  w->trail_end = block + actual / sizeof(TAGGED);
  w->choice_start = choice_bitmask_start(w->trail_start, w->trail_end);
  std::intptr_t dc = displacement(old_cs, w->choice_start);

  std::memmove(w->choice_start - region_words, block + region_end - region_words,
               region_words * sizeof(TAGGED));
  std::memset(w->choice_start, 0, (w->trail_end - w->choice_start) * sizeof(TAGGED));

  w->node_ = shifted(w->node_, dc);
  if (w->next_node != nullptr)
    w->next_node = shifted(w->next_node, dc);
  if (w->current_query != nullptr)
    w->current_query = shifted(w->current_query, dc);
  w->trail_top = shifted(w->trail_top, dt);
  for (choice_walk c(w); !c.done(); c.step())
    c.cp->trail_top = shifted(c.cp->trail_top, dt); /* flag bits ride along: dt is word-aligned */

  calculate_segment_node(w);
  refresh_query(w);
}

void choice_overflow(worker *w, int pad)
{
  /* Before the first choicepoint exists (a worker being set up) there is no
     laid-out trail-and-choice block to measure or grow: room is only
     defined relative to the newest choicepoint. */
  if (w->node_ == nullptr)
    return;
  std::int64_t t0 = vr_usertime_ms();
  if (pad < 0) {
    pad = -pad;
  } else {
    calculate_segment_node(w);
    if (gc_hooks.trail_gc != nullptr)
      gc_hooks.trail_gc(w);
    if (gc_hooks.compress_trail_gc != nullptr)
      gc_hooks.compress_trail_gc(w, 0);
  }
  TAGGED *low = reinterpret_cast<TAGGED *>(w->node_) + w->value_trail - 2 * pad;
  if (low < w->trail_top) {
    long needed = static_cast<long>(w->trail_top - w->trail_start) +
                  static_cast<long>(w->choice_start - reinterpret_cast<TAGGED *>(w->node_)) -
                  w->value_trail + 2L * pad;
    unsigned cur = static_cast<unsigned>((w->trail_end - w->trail_start) * sizeof(TAGGED));
    resize_trail_and_choice(w, cur, static_cast<unsigned>(required_choice_size(static_cast<int>(needed)) *
                                                           sizeof(TAGGED)));
  }
  eglobal->stats.ss_control++;
  eglobal->stats.ss_time += vr_usertime_ms() - t0;
}
