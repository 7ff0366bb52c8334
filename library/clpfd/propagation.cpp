/* propagation.cpp: propagation contexts, their queues, the wake-up walks of
 * the suspension lists and the propagation loop (see propagation.h).
 *
 * Invariants:
 * - fd_state.current_propagator is the innermost context once fd_sync has
 *   run; the slot-5 mutable names it (address + 3, 0 for none).  Every
 *   entry point that queues or takes work runs fd_sync first or is called
 *   by one that did.
 * - Items in queues 0 to 3 carry the queued status bit; status changes go
 *   through fd_update_mutable, so backtracking undoes them together with
 *   the queue contents (which fd_sync empties lazily).
 * - Between first and last every slot holds a live heap term; nothing else
 *   of a queue is read.  The manager hook relocates, marks and threads
 *   exactly those words.
 * - Functions that may collect keep heap terms in term references, never in
 *   C variables; argument registers are not kept by fd_enqueue_all.
 *
 * Callers: see propagation.h.
 */
#include "propagation.h"

#include "fd_attribute.h"
#include "fd_errors.h"
#include "fd_init.h"
#include "globals.h"
#include "globref.h"
#include "indexical_interpreter.h"
#include "overflow.h"
#include "telling.h"

namespace {

static_assert(FLI_SLOT_CLPFD == 5, "the library's context mutable is term-reference slot 5");

constexpr int QUEUE_INITIAL_SLOTS = 4;
constexpr int HINT_FRESH = 6;
constexpr int DAEMON_QUEUE = 4, BIND_QUEUE = 5;

/* Item arguments (1-based) shared by global/5, ix/7, daemon/5 and iff/4. */
constexpr int ITEM_STATUS = 3, ITEM_ENT = 4;

inline TAGGED arg(TAGGED t, int i) { return TagToSTR(t)[i]; }
inline TAGGED &slot(worker *w, VR_term_ref r) { return w->fli_stack_start[r].term; }

inline bool queue_empty(const prop_queue *q) { return q->first == q->last; }

enum item_kind { KIND_INDEXICAL, KIND_GLOBAL, KIND_DAEMON };

/* ix/7 by its arity; global/5 holds a $mutable first, daemon/5 the
   global item. */
item_kind kind_of(TAGGED item)
{
  const TAGGED f = *TagToSTR(item);
  if (Arity(f) == 7)
    return KIND_INDEXICAL;
  const TAGGED first = deref(arg(item, 1));
  return IsStructure(first) && *TagToSTR(first) == functor_Dmutable ? KIND_GLOBAL : KIND_DAEMON;
}

inline bool dead(TAGGED item) { return !IsVar(deref(arg(item, ITEM_ENT))); }

inline unsigned status_of(TAGGED item)
{
  return static_cast<unsigned>(GetSmall(fd_mutable_value(deref(arg(item, ITEM_STATUS)))));
}

inline void set_status(VREnv *env, worker *w, TAGGED item, unsigned s)
{
  fd_update_mutable(env, w, MakeSmall_checked(static_cast<VR_INTEGER>(s)), deref(arg(item, ITEM_STATUS)));
}

propagator *named_context(worker *w)
{
  const TAGGED v = fd_mutable_value(deref(slot(w, FLI_SLOT_CLPFD)));
  return v == MakeSmall_checked(0) ? nullptr : reinterpret_cast<propagator *>(v - 3);
}

inline TAGGED context_word(propagator *p)
{
  return p == nullptr ? MakeSmall_checked(0) : PointerToTerm(p) + 3;
}

void empty_queues(propagator *p)
{
  for (prop_queue &q : p->queue)
    q.first = q.last = 0;
  p->hint = HINT_FRESH;
}

/* The current context, or null after arranging the error: a step must
   never run without one. */
propagator *current_or_raise(VREnv *env)
{
  propagator *p = fd_state_of(env)->current_propagator;
  if (p == nullptr)
    fd_raise_system_error(env, "clpfd_no_propagation_context");
  return p;
}

TAGGED take_first(prop_queue *q)
{
  const TAGGED item = q->items[q->first].term;
  q->first = (q->first + 1) & (q->size - 1);
  return item;
}

void call_daemon(VREnv *env, worker *w, TAGGED item)
{
  auto *block = reinterpret_cast<daemon_frame *>(deref(arg(item, 5)) - 3);
  auto attr_ref = reinterpret_cast<VR_globref>(deref(arg(item, 2)) - 3);
  block->daemon(env, w, block, attr_ref, deref(arg(item, 1)));
}

/* Wakes one item: a daemon to the tail of queue 4, an indexical to queue
   0, a global constraint to queue global_queue.  front: insertion at the
   front of queues 0 to 3 (the fast and val walks). */
void wake_item(VREnv *env, worker *w, TAGGED item, TAGGED filter, int global_queue, bool front)
{
  if (dead(item))
    return;
  const unsigned s = status_of(item);
  switch (kind_of(item)) {
  case KIND_DAEMON:
    if ((s & (FD_STATUS_RUNNING | FD_STATUS_RESCHEDULE)) != FD_STATUS_RUNNING)
      fd_enqueue_general(env, w, item, 2 * DAEMON_QUEUE + 1);
    return;
  case KIND_INDEXICAL:
    if ((s & FD_STATUS_QUEUED) || deref(arg(item, ITEM_ENT)) == filter)
      return;
    fd_enqueue_general(env, w, item, front ? 0 : 1);
    return;
  case KIND_GLOBAL:
    if (s & FD_STATUS_QUEUED)
      return;
    fd_enqueue_general(env, w, item, 2 * global_queue + (front ? 0 : 1));
    return;
  }
}

/* Whether a variable of a val dependency is still to be fixed: unbound and
   not already reduced to one value (a variable fixed but waiting in queue 5
   counts as fixed, or whatever is parked on it would never wake). */
bool unfixed(VREnv *env, TAGGED t)
{
  t = deref(t);
  if (!IsVar(t))
    return false;
  const TAGGED attr = fd_get_attributes(env, t, fd_state_of(env)->fd_module);
  if (attr == 0)
    return true;
  return deref(arg(fd_attribute_dom(attr), FD_DOM_SIZE)) != MakeSmall_checked(1);
}

/* The value of a 0/1 variable: itself when bound, else its lower bound. */
TAGGED value_of(VREnv *env, TAGGED b)
{
  b = deref(b);
  if (!IsVar(b))
    return b;
  const TAGGED attr = fd_get_attributes(env, b, fd_state_of(env)->fd_module);
  return attr == 0 ? b : deref(arg(fd_attribute_dom(attr), FD_DOM_MIN));
}

/* The first cell of list vars whose head is unfixed, or 0. */
TAGGED first_unfixed(VREnv *env, TAGGED vars)
{
  for (vars = deref(vars); IsList(vars); vars = deref(TagToLST(vars)[1]))
    if (unfixed(env, TagToLST(vars)[0]))
      return vars;
  return 0;
}

bool is_iff(TAGGED x) { return Arity(*TagToSTR(x)) == 4; }

} // namespace

/* ---- Contexts ---- */

void fd_sync(VREnv *env, worker *w)
{
  fd_state *fd = fd_state_of(env);
  propagator *want = named_context(w);
  while (fd->current_propagator != nullptr && fd->current_propagator != want) {
    propagator *p = fd->current_propagator;
    fd->current_propagator = p->next;
    empty_queues(p);
    p->next = fd->free_propagators;
    fd->free_propagators = p;
  }
  if (fd->current_propagator == nullptr && want != nullptr) {
    while (fd->free_propagators != nullptr && fd->current_propagator != want) {
      propagator *p = fd->free_propagators;
      fd->free_propagators = p->next;
      p->next = fd->current_propagator;
      fd->current_propagator = p;
    }
  }
}

void prolog_fd_begin_vrenv_multi_vr(VREnv *env)
{
  worker *w = fd_current_worker(env);
  fd_state *fd = fd_state_of(env);
  fd_sync(env, w);
  propagator *p = fd->free_propagators;
  if (p != nullptr) {
    fd->free_propagators = p->next;
  } else {
    p = static_cast<propagator *>(fd_checkalloc(env, sizeof(propagator), 1));
    for (prop_queue &q : p->queue) {
      q.items = static_cast<VR_globref>(fd_checkalloc(env, QUEUE_INITIAL_SLOTS * sizeof(VR_globref_), 1));
      for (int i = 0; i < QUEUE_INITIAL_SLOTS; i++)
        q.items[i] = VR_globref_{0, 0};
      q.size = QUEUE_INITIAL_SLOTS;
    }
  }
  empty_queues(p);
  p->next = fd->current_propagator;
  fd->current_propagator = p;
  fd_update_mutable(env, w, context_word(p), deref(slot(w, FLI_SLOT_CLPFD)));
}

void fd_end(VREnv *env, worker *w)
{
  fd_state *fd = fd_state_of(env);
  fd_sync(env, w);
  propagator *p = fd->current_propagator;
  if (p != nullptr) {
    fd->current_propagator = p->next;
    empty_queues(p);
    p->next = fd->free_propagators;
    fd->free_propagators = p;
  }
  fd_update_mutable(env, w, context_word(fd->current_propagator), deref(slot(w, FLI_SLOT_CLPFD)));
}

void fd_dealloc(VREnv *env)
{
  worker *w = fd_current_worker(env);
  fd_state *fd = fd_state_of(env);
  /* Directly: the whole context stack goes, and no backtracking may name
     a context again. */
  TAGGED m = deref(slot(w, FLI_SLOT_CLPFD));
  while (IsStructure(deref(arg(m, 1))) && *TagToSTR(deref(arg(m, 1))) == functor_Dmutable)
    m = deref(arg(m, 1));
  TagToSTR(m)[1] = MakeSmall_checked(0);
  fd_sync(env, w);
  while (fd->free_propagators != nullptr) {
    propagator *p = fd->free_propagators;
    fd->free_propagators = p->next;
    for (prop_queue &q : p->queue)
      fd_checkdealloc(env, q.items, static_cast<std::size_t>(q.size) * sizeof(VR_globref_), 1);
    fd_checkdealloc(env, p, sizeof(propagator), 1);
  }
}

/* ---- Queues ---- */

void fd_enqueue_general(VREnv *env, worker *w, TAGGED item, int where)
{
  propagator *p = current_or_raise(env);
  if (p == nullptr)
    return;
  const int k = where >> 1;
  if (where < 8)
    set_status(env, w, item, status_of(item) | FD_STATUS_QUEUED);
  prop_queue *q = &p->queue[k];
  if (((q->last - q->first) & (q->size - 1)) == q->size - 1) {
    const int old = q->size;
    q->items = static_cast<VR_globref>(fd_checkrealloc(env, q->items, static_cast<std::size_t>(old) * sizeof(VR_globref_),
                                                       static_cast<std::size_t>(old) * 2 * sizeof(VR_globref_), 1));
    for (int i = old; i < 2 * old; i++)
      q->items[i] = VR_globref_{0, 0};
    if (q->last < q->first) {
      for (int i = q->first; i < old; i++)
        q->items[i + old] = q->items[i];
      q->first += old;
    }
    q->size = 2 * old;
  }
  if (where & 1) {
    q->items[q->last].term = item;
    q->last = (q->last + 1) & (q->size - 1);
  } else {
    q->first = (q->first - 1) & (q->size - 1);
    q->items[q->first].term = item;
  }
  if (k < p->hint)
    p->hint = k;
}

void fd_enqueue_global(VREnv *env, worker *w, TAGGED item, int where)
{
  item = deref(item);
  if (status_of(item) & FD_STATUS_QUEUED)
    return;
  fd_enqueue_general(env, w, item, where);
}

void prolog_fd_global_enqueue_vrenv_multi_vr(VREnv *env, VR_term_ref item)
{
  prolog_fd_begin_vrenv_multi_vr(env);
  worker *w = fd_current_worker(env);
  const TAGGED t = deref(slot(w, item));
  set_status(env, w, t, status_of(t) | FD_STATUS_QUEUED | FD_STATUS_RUNNING);
}

/* ---- Waking suspension lists ---- */

void fd_enqueue_list(VREnv *env, worker *w, int list_index, TAGGED filter, TAGGED lists_term)
{
  const int queue = list_index == FD_LISTS_DOM ? 3 : 2;
  for (TAGGED l = deref(arg(lists_term, list_index)); IsList(l); l = deref(TagToLST(l)[1]))
    wake_item(env, w, deref(TagToLST(l)[0]), filter, queue, true);
}

void fd_enqueue_list_gc(VREnv *env, worker *w, int list_index, TAGGED filter, TAGGED lists_mutable)
{
  const int queue = list_index == FD_LISTS_DOM ? 3 : 2;
  TAGGED lists = fd_mutable_value(lists_mutable);
  long removed = 0;
  for (TAGGED l = deref(arg(lists, list_index)); IsList(l); l = deref(TagToLST(l)[1])) {
    const TAGGED item = deref(TagToLST(l)[0]);
    if (dead(item))
      removed++;
    else
      wake_item(env, w, item, filter, queue, false);
  }
  if (removed == 0)
    return;

  /* Rebuild the list without its dead elements: what a choicepoint may
     come back to is copied, younger cells are relinked in place.  The
     caller made the room (2 words a cell, 8 for the lists term). */
  lists = fd_mutable_value(lists_mutable);
  if (TagToSTR(lists) < w->global_uncond) {
    TAGGED *h = w->global_top;
    for (int i = 0; i < 8; i++)
      h[i] = TagToSTR(lists)[i];
    w->global_top = h + 8;
    fd_update_mutable(env, w, MakeSTR(h), lists_mutable);
    lists = MakeSTR(h);
  }
  TAGGED *tail = &TagToSTR(lists)[list_index];
  for (TAGGED l = deref(*tail); IsList(l);) {
    TAGGED *cell = TagToLST(l);
    const TAGGED next = deref(cell[1]);
    if (!dead(deref(cell[0]))) {
      if (cell < w->global_uncond) {
        TAGGED *h = w->global_top;
        w->global_top = h + 2;
        h[0] = cell[0];
        cell = h;
      }
      *tail = MakeLST(cell);
      tail = &cell[1];
    }
    l = next;
  }
  *tail = atom_nil;
  TAGGED *lt = TagToSTR(lists);
  lt[FD_LISTS_COUNT] = MakeSmall_checked(GetSmall(deref(lt[FD_LISTS_COUNT])) - removed);
  if (deref(lt[list_index]) == atom_nil) {
    long mask = GetSmall(deref(lt[FD_LISTS_MASK])) & FD_MASK_VAL;
    const int bits[4] = {FD_MASK_DOM, FD_MASK_MIN, FD_MASK_MAX, FD_MASK_MINMAX};
    for (int i = 0; i < 4; i++)
      if (deref(lt[FD_LISTS_DOM + i]) != atom_nil)
        mask |= bits[i];
    lt[FD_LISTS_MASK] = MakeSmall_checked(mask);
  }
}

void fd_enqueue_val(VREnv *env, worker *w, TAGGED filter, TAGGED lists_mutable)
{
  auto *api = env->dispatch_API_VOSTREL_H;
  /* Room for relinking what must still wait: counted before anything
     changes, so that no collection runs in the walk itself.  fd_link may
     also make a variable an FD variable (a fresh attribute). */
  long aside = 0;
  for (TAGGED l = deref(arg(fd_mutable_value(lists_mutable), FD_LISTS_VAL)); IsList(l); l = deref(TagToLST(l)[1])) {
    const TAGGED pair = deref(TagToLST(l)[0]);
    if (!dead(deref(arg(pair, 2))) && first_unfixed(env, arg(pair, 1)) != 0)
      aside++;
  }
  const long room = (13 + FD_ATTRIBUTE_WORDS + 10) * aside + 128;
  if (w->heap_warn - w->global_top < room) {
    const VR_term_ref r = api->pVR_new_term_refs(2);
    slot(w, r) = lists_mutable;
    slot(w, r + 1) = filter == 0 ? atom_nil : filter;
    fd_heap_room(env, w, room);
    lists_mutable = slot(w, r);
    filter = filter == 0 ? 0 : slot(w, r + 1);
    api->pVR_reset_term_refs(r);
  }

  fd_state *fd = fd_state_of(env);
  const TAGGED list = deref(arg(fd_mutable_value(lists_mutable), FD_LISTS_VAL));
  for (TAGGED l = list; IsList(l); l = deref(TagToLST(l)[1])) {
    const TAGGED pair = deref(TagToLST(l)[0]);
    const TAGGED item = deref(arg(pair, 2));
    if (dead(item) || first_unfixed(env, arg(pair, 1)) != 0)
      continue;
    if (is_iff(item)) {
      const TAGGED ix = deref(arg(item, 1));
      if (value_of(env, arg(item, 2)) == deref(arg(item, 3)) && !dead(ix) && !(status_of(ix) & FD_STATUS_QUEUED))
        fd_enqueue_general(env, w, ix, 0);
      continue;
    }
    wake_item(env, w, item, filter, 1, true);
  }

  /* The reification is decided: its checking indexicals die. */
  for (TAGGED l = list; IsList(l); l = deref(TagToLST(l)[1])) {
    const TAGGED item = deref(arg(deref(TagToLST(l)[0]), 2));
    if (is_iff(item)) {
      const TAGGED ent = deref(arg(item, ITEM_ENT));
      if (IsVar(ent))
        fd_bind(env, w, ent, deref(arg(item, 3)));
    }
  }

  for (TAGGED l = list; IsList(l); l = deref(TagToLST(l)[1])) {
    const TAGGED pair = deref(TagToLST(l)[0]);
    TAGGED item = deref(arg(pair, 2));
    const TAGGED vars = first_unfixed(env, arg(pair, 1));
    if (vars == 0)
      continue;
    if (is_iff(item)) {
      if (value_of(env, arg(item, 2)) != deref(arg(item, 3)))
        continue;
      item = deref(arg(item, 1));
    }
    if (dead(item))
      continue;
    TAGGED *h = w->global_top;
    w->global_top = h + 3;
    h[0] = *TagToSTR(pair); /* -/2 */
    h[1] = TagToLST(vars)[1];
    h[2] = item;
    fd_link(env, w, deref(TagToLST(vars)[0]), fd->functor_val, MakeSTR(h));
  }
}

void fd_enqueue_all(VREnv *env, worker *w, int bits, TAGGED filter, TAGGED lists_mutable)
{
  auto *api = env->dispatch_API_VOSTREL_H;
  const long count = GetSmall(deref(arg(fd_mutable_value(lists_mutable), FD_LISTS_COUNT)));
  if (w->heap_warn - w->global_top < 2 * count + 136) {
    const VR_term_ref r = api->pVR_new_term_refs(2);
    slot(w, r) = lists_mutable;
    slot(w, r + 1) = filter == 0 ? atom_nil : filter;
    fd_heap_room(env, w, 2 * count + 136);
    lists_mutable = slot(w, r);
    filter = filter == 0 ? 0 : slot(w, r + 1);
    api->pVR_reset_term_refs(r);
  }
  if (!(bits & FD_WAKE_FAST)) {
    const int order[4][2] = {{FD_WAKE_MINMAX, FD_LISTS_MINMAX}, {FD_WAKE_MAX, FD_LISTS_MAX},
                             {FD_WAKE_MIN, FD_LISTS_MIN}, {FD_WAKE_DOM, FD_LISTS_DOM}};
    for (auto [bit, index] : order)
      if (bits & bit)
        fd_enqueue_list_gc(env, w, index, filter, lists_mutable);
    return;
  }
  const TAGGED lists = fd_mutable_value(lists_mutable);
  bits |= static_cast<int>(GetSmall(deref(arg(lists, FD_LISTS_MASK))));
  const int order[4][2] = {{FD_WAKE_DOM, FD_LISTS_DOM}, {FD_WAKE_MIN, FD_LISTS_MIN},
                           {FD_WAKE_MAX, FD_LISTS_MAX}, {FD_WAKE_MINMAX, FD_LISTS_MINMAX}};
  for (auto [bit, index] : order)
    if (bits & bit)
      fd_enqueue_list(env, w, index, filter, lists);
  if (bits & FD_WAKE_VAL)
    fd_enqueue_val(env, w, filter, lists_mutable);
}

void prolog_fd_enqueue_all_vrenv_multi_vr(VREnv *env, VR_term_ref lists_mutable)
{
  prolog_fd_begin_vrenv_multi_vr(env);
  worker *w = fd_current_worker(env);
  const TAGGED m = deref(slot(w, lists_mutable));
  const long mask = GetSmall(deref(arg(fd_mutable_value(m), FD_LISTS_MASK)));
  if (mask != 0) {
    fd_sync(env, w);
    fd_enqueue_all(env, w, static_cast<int>(mask) + FD_WAKE_FAST, 0, m);
  }
}

/* ---- Taking work ---- */

int fd_dequeue(VREnv *env, worker *w, TAGGED *item)
{
  fd_state *fd = fd_state_of(env);
  propagator *p = current_or_raise(env);
  if (p == nullptr)
    return 0;
  while (!queue_empty(&p->queue[DAEMON_QUEUE])) {
    const TAGGED d = deref(take_first(&p->queue[DAEMON_QUEUE]));
    if (!dead(d))
      call_daemon(env, w, d);
    p = fd->current_propagator;
  }
  if (heap_soft_limit_reached(w, w->global_top))
    return 3;
  for (int j = p->hint; j <= 3; j++) {
    prop_queue *q = &p->queue[j];
    if (queue_empty(q))
      continue;
    *item = deref(take_first(q));
    if (queue_empty(q))
      p->hint = j + 1;
    return j == 0 ? 1 : 2;
  }
  if (p->hint < 4)
    p->hint = 4;
  prop_queue *q5 = &p->queue[BIND_QUEUE];
  if (queue_empty(q5))
    return 0;
  auto *api = env->dispatch_API_VOSTREL_H;
  const VR_term_ref pair_ref = api->pVR_new_term_ref();
  while (!queue_empty(q5)) {
    slot(w, pair_ref) = deref(take_first(q5));
    const TAGGED var = deref(arg(slot(w, pair_ref), 1));
    if (!IsVar(var))
      continue;
    TAGGED cell = deref(fd_delete_attributes(env, w, var, fd->fd_module, 3));
    q5 = &fd->current_propagator->queue[BIND_QUEUE];
    if (!IsVar(cell))
      continue;
    *TagToRef(cell) = deref(arg(slot(w, pair_ref), 2));
    fd_trail_push(env, w, cell);
    if (TagToRef(cell)[-1] == CVA_MARKER) {
      w->wake_count++;
      w->heap_warn_soft = nullptr;
    }
  }
  api->pVR_reset_term_refs(pair_ref);
  return 0;
}

/* ---- Applying a run's results ---- */

int fd_prune_and_enqueue(VREnv *env, worker *w, VR_term_ref actions, VR_term_ref global, VR_term_ref scratch)
{
  auto *api = env->dispatch_API_VOSTREL_H;
  fd_state *fd = fd_state_of(env);
  fd_sync(env, w);
  slot(w, scratch) = w->term[0];
  for (;;) {
    const TAGGED l = deref(slot(w, scratch));
    if (!IsList(l))
      break;
    const TAGGED e = deref(TagToLST(l)[0]);
    slot(w, scratch) = TagToLST(l)[1];
    if (IsAtom(e)) {
      if (e == api->pVR_atom_from_string("fail"))
        return 0;
      fd->entailments++;
      const TAGGED ent = deref(arg(deref(slot(w, global)), ITEM_ENT));
      if (IsVar(ent))
        fd_bind(env, w, ent, MakeSmall_checked(1));
      continue;
    }
    if (IsStructure(e)) {
      const TAGGED f = *TagToSTR(e);
      const int why = f == fd->functor_dom      ? 1
                      : f == fd->functor_min    ? 3
                      : f == fd->functor_max    ? 5
                      : f == fd->functor_minmax ? 7
                                                : 0;
      if (why != 0) {
        const TAGGED x = deref(arg(e, 1));
        const TAGGED attr = IsVar(x) ? fd_get_attributes(env, x, fd->fd_module) : 0;
        if (attr != 0) {
          w->term[FD_REG_ATTR] = attr;
          w->term[FD_REG_VAR] = x;
          fd_told(env, w, why, 0);
          if (w->fli_data->excp_flag == 0)
            return 0;
        }
        continue;
      }
    }
    /* The resource is loaded before module clpfd's Prolog is compiled:
       the predicate may be found only now. */
    if (fd->call_action1 == nullptr)
      fd->call_action1 = api->pVR_predicate("call_action", 1, "clpfd");
    if (fd->call_action1 == nullptr) {
      fd_raise_system_error(env, "clpfd_call_action_missing");
      return 0;
    }
    slot(w, actions) = e;
    const int r = api->pVR_query(fd->call_action1, actions);
    if (r <= 0)
      return r;
  }
  const TAGGED item = deref(slot(w, global));
  unsigned s = status_of(item) & ~FD_STATUS_RUNNING;
  if (!(s & FD_STATUS_RESCHEDULE))
    s &= ~FD_STATUS_QUEUED;
  set_status(env, w, item, s);
  return 1;
}

void prolog_fd_prune_and_enqueue_vrenv_multi_vr(VREnv *env, VR_term_ref actions, VR_term_ref global)
{
  auto *api = env->dispatch_API_VOSTREL_H;
  worker *w = fd_current_worker(env);
  fd_state *fd = fd_state_of(env);
  fd->fd_overflow = 0;
  const VR_term_ref scratch = api->pVR_new_term_ref();
  w->term[0] = slot(w, actions);
  const int r = fd_prune_and_enqueue(env, w, actions, global, scratch);
  if (r < 0) {
    api->pVR_exception_term(actions);
    api->pVR_raise_exception(actions);
  } else if (r == 0) {
    fd->failures++;
    api->pVR_fail();
  }
}

/* ---- The loop ---- */

long prolog_fd_evaluate_indexical_vrenv_multi_vr(VREnv *env, VR_term_ref global)
{
  auto *api = env->dispatch_API_VOSTREL_H;
  worker *w = fd_current_worker(env);
  fd_state *fd = fd_state_of(env);
  const VR_term_ref state = api->pVR_new_term_refs(4), actions = state + 1, scratch = state + 2;
  if (global == 0)
    return 0;
  /* The caller's variable: a Prolog caller sees the item handed over only
     through a binding of it (the stub passes the term, not the slot). */
  const VR_term_ref caller = state + 3;
  slot(w, caller) = slot(w, global);
  auto hand_over = [&] {
    fd_cunify(env, w, deref(slot(w, caller)), deref(slot(w, global)));
    return 2;
  };
  fd_sync(env, w);
  fd->fd_overflow = 0;
  w->term[2] = atom_nil;
  if (current_or_raise(env) == nullptr)
    return 0;
  for (;;) {
    TAGGED item;
    const int r = fd_dequeue(env, w, &item);
    if (w->fli_data->excp_flag == 0)
      return 0;
    if (r == 3)
      return 1;
    if (r == 0) {
      fd_end(env, w);
      return 0;
    }
    if (r == 1) {
      if (dead(item))
        continue;
      w->term[0] = item;
      fd->fd_overflow = 0;
      const ix_result ran = run_indexical(env, w);
      if (w->fli_data->excp_flag == 0)
        return 0;
      if (ran != IX_SUCCEEDED) {
        if (ran == IX_FAILED)
          fd->failures++;
        api->pVR_fail();
        return 0;
      }
      if (fd->fd_overflow) {
        fd_check_overflow(env, deref(TagToSTR(deref(w->term[0]))[2]));
        return 0;
      }
      continue;
    }
    w->term[0] = item;
    slot(w, global) = item;
    if (dead(item))
      continue;
    unsigned s = status_of(item);
    if (s & FD_STATUS_RESCHEDULE)
      s &= ~FD_STATUS_QUEUED;
    set_status(env, w, item, s | FD_STATUS_RUNNING);
    fd->resumptions++;
    if (fd->debugging)
      return hand_over();
    item = deref(slot(w, global));
    slot(w, state) = fd_mutable_value(deref(arg(item, 1)));
    if (!dispatch_global_fast(env, w, deref(arg(item, 2)), state, state, actions, global)) {
      if (w->fli_data->excp_flag == 0)
        return 0;
      return hand_over();
    }
    if (w->fli_data->excp_flag == 0)
      return 0;
    item = deref(slot(w, global));
    fd_update_mutable(env, w, deref(slot(w, state)), deref(arg(item, 1)));
    w->term[0] = deref(slot(w, actions));
    const int applied = fd_prune_and_enqueue(env, w, actions, global, scratch);
    if (applied < 0) {
      api->pVR_exception_term(actions);
      api->pVR_raise_exception(actions);
      return 0;
    }
    if (applied == 0) {
      if (w->fli_data->excp_flag != 0) {
        fd->failures++;
        api->pVR_fail();
      }
      return 0;
    }
  }
}

/* ---- The engine's notifications ---- */

int fd_manager_hook(void *cookie, worker *w, int message, void *pointer)
{
  auto *env = static_cast<VREnv *>(cookie);
  if (env == nullptr || env->stash == nullptr)
    return 0;
  if (message != 3)
    fd_sync(env, w);
  for (propagator *p = fd_state_of(env)->current_propagator; p != nullptr; p = p->next)
    for (prop_queue &q : p->queue)
      for (int i = q.first; i != q.last; i = (i + 1) & (q.size - 1)) {
        TAGGED *word = &q.items[i].term;
        switch (message) {
        case 1:
          *word += static_cast<TAGGED>(reinterpret_cast<std::intptr_t>(pointer));
          break;
        case 2:
          fd_mark_term(env, *word);
          break;
        case 3:
          if (TagToPointer(*word) >= static_cast<TAGGED *>(pointer))
            fd_into_relocation_chain(env, w, TagToPointer(*word), word);
          break;
        case 4:
          if (pointer != nullptr)
            reinterpret_cast<void (*)(TAGGED *)>(pointer)(word);
          break;
        }
      }
  return 0;
}
