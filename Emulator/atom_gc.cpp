/* atom_gc.cpp: the atom garbage collector and the built-ins that run or
 * tune it (garbage_collect_atoms/0, $agc_margin/2).
 *
 * Mark and sweep over the atom table.  The mark bit lives in the atom
 * record and is clear outside a collection.  Roots are the kernel's own
 * (the stacks, the argument registers, the engine variables, the stored
 * exception, the prompt, the quick-load array, the open resources and the
 * compiled-code table's hook) plus every marker that later layers register
 * with agc_add_root_marker (modules, predicates, code, stored terms ...).
 * An atom survives when it is marked or registered (non-zero refcount).
 *
 * Every stack walk tolerates missing stacks: the collector can run before
 * the worker's areas exist (start-up, unit tests).
 *
 * Callers: atom creation (automatically, once the runtime is initialised),
 * the built-ins, and anything that wants the table trimmed.
 */
#include <cstring>

#include "atoms.h"
#include "datadefs.h"
#include "terms.h"
#include "timing.h"
#include "unify.h"
#include "worker.h"

void (*agc_reclaim_hook)(worker *w) = nullptr;
void (*agc_instance_marker)(const instance *ins) = nullptr;

namespace {

constexpr unsigned MAX_ROOT_MARKERS = 32;
agc_root_marker root_markers[MAX_ROOT_MARKERS];
unsigned root_marker_count = 0;

inline bool is_atom_or_functor(TAGGED t)
{
  return (t & 7) == ATOM_TAG && static_cast<std::int32_t>(t) >= 0;
}

/* A worker or global variable holds a constant, or a stored term as its
   instance's address plus 1; 0 before start-up has set it. */
void mark_engine_var(TAGGED t)
{
  if (is_atom_or_functor(t))
    agc_atom(t);
  else if (t != 0 && !IsAtomic(t) && agc_instance_marker != nullptr)
    agc_instance_marker(reinterpret_cast<const instance *>(t - 1));
}

void mark_kernel_roots(worker *w)
{
  if (w != nullptr) {
    if (w->heap_start != nullptr && w->global_top != nullptr)
      agc_mark_heap_words(w->heap_start, w->global_top);
    if (w->stack_start != nullptr && w->local_top != nullptr)
      agc_mark_words(w->stack_start, w->local_top);
    if (w->trail_start != nullptr && w->trail_top != nullptr)
      agc_mark_words(w->trail_start, w->trail_top);
    /* The choice stack grows downwards from choice_start to the newest
       choicepoint. */
    if (w->choice_start != nullptr && w->node_ != nullptr)
      agc_mark_words(reinterpret_cast<const TAGGED *>(w->node_), w->choice_start);
    agc_mark_words(w->term, w->term + 256);
    /* Term and global references: globref.cpp's root marker. */
    for (TAGGED t : w->worker_vars)
      mark_engine_var(t);
  }
  if (eglobal->qlarray != nullptr) {
    const TAGGED *base = eglobal->qlarray - eglobal->qloffset;
    agc_mark_words(base, base + eglobal->qlarray_size);
  }
  if (eglobal->agc_table_comp != nullptr)
    eglobal->agc_table_comp();
  agc_atom(eglobal->current_prompt);
  for (TAGGED t : eglobal->global_vars)
    mark_engine_var(t);
  /* Between a throw and its catcher the ball lives only in the store, and
     clean-up goals run meanwhile may make atoms. */
  if (eglobal->exception != 0 && agc_instance_marker != nullptr)
    agc_instance_marker(reinterpret_cast<const instance *>(eglobal->exception));
  for (open_resource *r = eglobal->open_resources; r != nullptr; r = r->next)
    agc_atom(r->rname);
}

/* Frees, from the highest index down, every atom neither marked nor
   registered; clears the marks of the others. */
void sweep(void)
{
  for (std::uint32_t i = eglobal->atmtabsize; i-- > 0;) {
    atom *a = eglobal->atmtab[i >> 13][i & (ATOM_PAGE_SLOTS - 1)];
    if ((reinterpret_cast<std::uintptr_t>(a) & 1) != 0)
      continue;
    if (a->marked || a->refcount != 0)
      a->marked = 0;
    else
      atom_table_release(a);
  }
}

std::uint32_t limit_after(std::uint32_t count, std::int64_t margin)
{
  std::int64_t limit = static_cast<std::int64_t>(count) + margin;
  if (limit > MAX_ATOM_COUNT)
    limit = MAX_ATOM_COUNT;
  if (limit < 0)
    limit = 0;
  return static_cast<std::uint32_t>(limit);
}

} // namespace

void agc_add_root_marker(agc_root_marker fn)
{
  for (unsigned i = 0; i < root_marker_count; ++i)
    if (root_markers[i] == fn)
      return;
  if (root_marker_count < MAX_ROOT_MARKERS)
    root_markers[root_marker_count++] = fn;
}

void agc_remove_root_marker(agc_root_marker fn)
{
  for (unsigned i = 0; i < root_marker_count; ++i)
    if (root_markers[i] == fn) {
      std::memmove(&root_markers[i], &root_markers[i + 1],
                   (root_marker_count - i - 1) * sizeof root_markers[0]);
      --root_marker_count;
      return;
    }
}

void agc_atom(TAGGED t)
{
  std::uint32_t i = AtomIndex(t);
  if ((t & 7) != ATOM_TAG || i >= eglobal->atmtabsize)
    return;
  atom *a = eglobal->atmtab[i >> 13][i & (ATOM_PAGE_SLOTS - 1)];
  if ((reinterpret_cast<std::uintptr_t>(a) & 1) == 0)
    a->marked = 1;
}

void agc_mark_words(const TAGGED *start, const TAGGED *end)
{
  for (const TAGGED *p = start; p < end; ++p)
    if (is_atom_or_functor(*p))
      agc_atom(*p);
}

/* A boxed number's digits may look like atom words; skip the box (header,
   payload, trailer) whole. */
void agc_mark_heap_words(const TAGGED *start, const TAGGED *end)
{
  for (const TAGGED *p = start; p < end; ++p) {
    TAGGED t = *p;
    if ((t & 7) != ATOM_TAG)
      continue;
    if (static_cast<std::int32_t>(t) >= 0)
      agc_atom(t);
    else if (IsBoxHeader(t))
      p += BoxWords(t);  /* lands on the trailer; the loop steps past it */
  }
}

int prolog_garbage_collect_atoms(worker *w)
{
  if (agc_reclaim_hook != nullptr)
    agc_reclaim_hook(w);
  std::int64_t t0 = vr_usertime_ms();

  for (unsigned i = 0; i < root_marker_count; ++i)
    root_markers[i](w);
  mark_kernel_roots(w);
  sweep();

  eglobal->stats.agc_time += vr_usertime_ms() - t0;
  ++eglobal->stats.agc_count;
  eglobal->atom_count_limit = limit_after(eglobal->atom_count, GetSmall(eglobal->current_agcmargin));
  return 1;
}

int prolog_agc_margin(worker *w)
{
  TAGGED old_margin = eglobal->current_agcmargin;
  if (!cunify(w, w->term[0], old_margin))
    return 0;
  TAGGED new_margin = deref(w->term[1]);
  if (!IsSmall(new_margin))
    return 0;
  eglobal->current_agcmargin = new_margin;
  std::int64_t moved = static_cast<std::int64_t>(eglobal->atom_count_limit) +
                       GetSmall(new_margin) - GetSmall(old_margin);
  eglobal->atom_count_limit = limit_after(0, moved);
  if (eglobal->atom_count >= eglobal->atom_count_limit)
    prolog_garbage_collect_atoms(w);
  return 1;
}
