/* labeling.cpp: the native helpers of labeling's variable choice (see
 * labeling.h).
 *
 * Ranks are read from the variable's attribute, forwarding followed.
 * Bounds and sizes are compared in their order as plain integers
 * (fd_order: inf below and sup above every integer), so an infinite
 * domain ranks last by ff and ffc without special cases.
 *
 * $fd_delete/3 looks only at list elements that are unbound variables
 * (an integer, wherever it stands, is never chosen) and fails when it
 * finds none, so an empty list or a list of integers gives no variable.
 *
 * The heap constraint ($fd_labeling/4) never prunes and is never queued:
 * its daemons only keep the heap in order, and Prolog runs it once per
 * labeling step.  The block's stamp equals the Stamp of the state in the
 * item's StateMutable while the heap is up to date (each step and each
 * daemon call raise both); a difference means the engine backtracked, and
 * the next step rebuilds the heap from the committed size.  A variable
 * counts as bound from the moment its domain is one value: the binding
 * itself may come later, after the wake-ups (the propagation loop's bind
 * queue), and wakes nothing more.
 */
#include "labeling.h"

#include "bounds.h"
#include "fd_attribute.h"
#include "fd_errors.h"
#include "initial_atoms.h"

namespace {

inline TAGGED ref_term(worker *w, VR_term_ref r) { return deref(w->fli_stack_start[r].term); }
inline TAGGED &slot(worker *w, VR_term_ref r) { return w->fli_stack_start[r].term; }
inline TAGGED arg(TAGGED t, int i) { return TagToSTR(t)[i]; }
inline int arity_of(TAGGED t) { return static_cast<int>(Arity(*TagToSTR(t))); }
inline void fail_call(VREnv *env) { env->dispatch_API_VOSTREL_H->pVR_fail(); }

/* Heap words one fresh attribute may need (as the other built-ins that
   make attributes reserve). */
constexpr long ATTRIBUTE_ROOM = 414;

} // namespace

void rank_var(VREnv *env, worker *w, TAGGED var, int criterion, long *key1, long *key2)
{
  const TAGGED a = fd_check_argument(env, w, var, atom_inf, atom_sup, atom_sup);
  const TAGGED *dom = TagToSTR(fd_attribute_dom(a));
  *key2 = 0;
  switch (criterion) {
  case FD_LABEL_MIN:
    *key1 = fd_order(deref(dom[FD_DOM_MIN]));
    break;
  case FD_LABEL_MAX:
    *key1 = -static_cast<long>(fd_order(deref(dom[FD_DOM_MAX])));
    break;
  case FD_LABEL_FFC:
    *key2 = -GetSmall(deref(TagToSTR(fd_attribute_lists(a))[FD_LISTS_COUNT]));
    [[fallthrough]];
  default:
    *key1 = fd_order(deref(dom[FD_DOM_SIZE]));
    break;
  }
}

void prolog_fd_delete_vrenv_multi_vr(VREnv *env, VR_term_ref list, VR_term_ref var, long criterion)
{
  worker *w = fd_current_worker(env);
  DISPATCH_TABLE_STRUCT_VOSTREL_H *api = env->dispatch_API_VOSTREL_H;
  if (criterion < FD_LABEL_MIN || criterion > FD_LABEL_FFC)
    return fail_call(env);
  /* The cursor and the best variable so far live in term references: making
     an attribute may collect the heap. */
  const VR_term_ref rest = api->pVR_new_term_ref();
  const VR_term_ref best = api->pVR_new_term_ref();
  w->fli_stack_start[rest].term = ref_term(w, list);
  bool found = false;
  long best1 = 0, best2 = 0;
  for (TAGGED l = ref_term(w, rest); IsList(l); l = ref_term(w, rest)) {
    if (IsVar(deref(TagToLST(l)[0]))) {
      fd_heap_room(env, w, ATTRIBUTE_ROOM);
      const TAGGED x = deref(TagToLST(ref_term(w, rest))[0]);
      long k1, k2;
      rank_var(env, w, x, static_cast<int>(criterion), &k1, &k2);
      if (!found || k1 < best1 || (k1 == best1 && k2 < best2)) {
        found = true;
        best1 = k1;
        best2 = k2;
        w->fli_stack_start[best].term = x;
      }
      /* No unbound variable has a smaller domain. */
      if (criterion == FD_LABEL_FF && best1 == 2)
        break;
    }
    w->fli_stack_start[rest].term = TagToLST(ref_term(w, rest))[1];
  }
  const bool ok = found && fd_cunify(env, w, ref_term(w, var), ref_term(w, best));
  api->pVR_reset_term_refs(rest);
  if (!ok)
    fail_call(env);
}

/* ---- The heap ---- */

namespace {

inline void place(labeling_data *d, int pos, int index)
{
  d->heap[pos] = index;
  d->vheap[index] = pos;
}

} // namespace

void spheapify(labeling_data *d, int pos)
{
  const int index = d->heap[pos];
  for (;;) {
    int child = 2 * pos + 1;
    if (child >= d->heapsize)
      break;
    if (child + 1 < d->heapsize && cmp_items(d, d->heap[child + 1], d->heap[child]))
      child++;
    if (!cmp_items(d, d->heap[child], index))
      break;
    place(d, pos, d->heap[child]);
    pos = child;
  }
  place(d, pos, index);
}

void labeling_sift_up(labeling_data *d, int pos)
{
  const int index = d->heap[pos];
  while (pos > 0) {
    const int parent = (pos - 1) / 2;
    if (!cmp_items(d, index, d->heap[parent]))
      break;
    place(d, pos, d->heap[parent]);
    pos = parent;
  }
  place(d, pos, index);
}

void labeling_heap_fix(labeling_data *d, int pos)
{
  if (pos > 0 && cmp_items(d, d->heap[pos], d->heap[(pos - 1) / 2]))
    labeling_sift_up(d, pos);
  else
    spheapify(d, pos);
}

void labeling_heap_remove(labeling_data *d, int pos)
{
  const int last = --d->heapsize;
  const int gone = d->heap[pos];
  if (pos != last) {
    place(d, pos, d->heap[last]);
    place(d, last, gone);
    /* The entry from the end may come before pos's parent as well as after
       pos's children. */
    labeling_heap_fix(d, pos);
  }
}

void labeling_heap_build(labeling_data *d)
{
  for (int pos = (d->heapsize - 2) / 2; pos >= 0; pos--)
    spheapify(d, pos);
}

/* ---- The heap constraint ---- */

namespace {

const TAGGED functor_global5 = MakeFunctor(MakeAtom(atom_global_enum), 5);

inline TAGGED var_of(const labeling_data *d, int index) { return deref(d->refbase[2 * index + 1].term); }

/* key[index] from the variable's attribute: its lower bound, minus its
   upper bound, or its domain size by type; LABEL_KEY_BOUND when it is
   bound or down to one value. */
void set_key(labeling_data *d, int index)
{
  const TAGGED *dom = TagToSTR(fd_attribute_dom(deref(d->refbase[2 * index].term)));
  const TAGGED size = deref(dom[FD_DOM_SIZE]);
  long &key = d->key[index];
  if (!IsVar(var_of(d, index)) || size == MakeSmall_checked(1))
    key = LABEL_KEY_BOUND;
  else if (d->type == FD_LABEL_MIN)
    key = fd_order(deref(dom[FD_DOM_MIN]));
  else if (d->type == FD_LABEL_MAX)
    key = -static_cast<long>(fd_order(deref(dom[FD_DOM_MAX])));
  else
    key = fd_order(size);
}

inline bool is_mutable(TAGGED t) { return IsStructure(t) && *TagToSTR(t) == functor_Dmutable; }

/* Whether global is an item global(StateMutable, _, StatusMutable, _, _)
   of a global constraint whose StateMutable holds state itself, and state
   a labeling state whose Handle, once bound, names a live labeling block:
   the daemons read the state through the item and trust the block. */
bool proper_labeling_call(VREnv *env, TAGGED state, TAGGED item)
{
  bool ok = IsStructure(item) && *TagToSTR(item) == functor_global5 && is_mutable(deref(arg(item, 1))) &&
            is_mutable(deref(arg(item, 3)));
  if (ok) {
    const TAGGED status = deref(fd_mutable_value(deref(arg(item, 3))));
    ok = IsSmall(status) && (GetSmall(status) & 2) != 0;
  }
  if (!ok) {
    fd_raise_domain_error(env, "labeling_constraint_item", item, "$fd_labeling", 4);
    return false;
  }
  ok = deref(fd_mutable_value(deref(arg(item, 1)))) == state && IsStructure(state) && arity_of(state) >= 4 &&
       IsAtom(deref(arg(state, 2))) && IsSmall(deref(arg(state, arity_of(state))));
  if (ok) {
    TAGGED l = deref(arg(state, 1));
    while (IsList(l))
      l = deref(TagToLST(l)[1]);
    ok = l == atom_nil;
  }
  if (ok) {
    const TAGGED handle = deref(arg(state, arity_of(state) - 1));
    if (!IsVar(handle)) {
      const void *block = fd_perm_data(handle);
      ok = block != nullptr && fd_free_handle_issued(env, block) &&
           static_cast<const daemon_frame *>(block)->destructor == &labeling_destructor;
    }
  }
  if (!ok)
    fd_raise_domain_error(env, "labeling_constraint_state", state, "$fd_labeling", 4);
  return ok;
}

/* The first run: the block over the unbound variables of the state in
   register 0 (the item in register 1), their daemons attached. */
labeling_data *labeling_post(VREnv *env, worker *w, TAGGED handle, long stamp)
{
  auto *api = env->dispatch_API_VOSTREL_H;
  int n = 0;
  for (TAGGED l = deref(arg(deref(w->term[0]), 1)); IsList(l); l = deref(TagToLST(l)[1]))
    if (IsVar(deref(TagToLST(l)[0])))
      n++;
  const std::size_t bytes = sizeof(labeling_data) + static_cast<std::size_t>(n) * (sizeof(long) + 2 * sizeof(int));
  auto *d = static_cast<labeling_data *>(fd_perm_alloc(env, w, bytes, handle));
  if (d == nullptr)
    return nullptr;
  d->frame.destructor = &labeling_destructor;
  d->frame.daemon = &labeling_daemon;
  d->vrenv = env;
  d->key = reinterpret_cast<long *>(d + 1);
  d->heap = reinterpret_cast<int *>(d->key + n);
  d->vheap = d->heap + n;
  d->nvars = n;
  d->heapsize = d->heapsize_committed = n;
  d->stamp = stamp - 1;
  d->refbase = api->pVR_alloc_globrefs(2 * n);
  /* Room for the attributes first (the variables are domain variables
     already, as a rule), so that the list is walked without a collection. */
  fd_heap_room(env, w, 26L * n + 128, 3);
  const TAGGED s = deref(w->term[0]);
  const TAGGED key = deref(arg(s, 2));
  const fd_state *fd = fd_state_of(env);
  const TAGGED list_functor = MakeFunctor(key, 1);
  d->type = list_functor == fd->functor_min ? FD_LABEL_MIN : list_functor == fd->functor_max ? FD_LABEL_MAX : 3;
  int i = 0;
  for (TAGGED l = deref(arg(s, 1)); IsList(l); l = deref(TagToLST(l)[1])) {
    const TAGGED x = deref(TagToLST(l)[0]);
    if (!IsVar(x))
      continue;
    d->refbase[2 * i].term = fd_check_argument(env, w, x, atom_inf, atom_sup, atom_sup);
    d->refbase[2 * i + 1].term = x;
    d->heap[i] = d->vheap[i] = i;
    i++;
  }
  for (i = 0; i < n; i++) {
    dvar dv;
    dvar_init(&dv, d->refbase + 2 * i, d->refbase + 2 * i + 1);
    dvar_attach_daemon(env, w, &dv, d, w->term[1], list_functor);
  }
  return d;
}

} // namespace

void labeling_destructor(void *block)
{
  auto *d = static_cast<labeling_data *>(block);
  auto *api = d->vrenv->dispatch_API_VOSTREL_H;
  api->pVR_free_globrefs(d->refbase);
  api->pVR_free(d);
}

void prolog_fd_labeling_vrenv_multi_vr(VREnv *env, VR_term_ref state, VR_term_ref new_state, VR_term_ref selected,
                                       VR_term_ref global)
{
  auto *api = env->dispatch_API_VOSTREL_H;
  worker *w = fd_current_worker(env);
  w->term[0] = ref_term(w, state);
  w->term[1] = ref_term(w, global);
  if (!proper_labeling_call(env, w->term[0], w->term[1]))
    return;
  fd_global_run_start(env);
  TAGGED handle;
  long stamp;
  int committed;
  const VR_term_ref out = api->pVR_new_term_refs(2), best = out + 1;
  slot(w, out) = fd_unify_output_state(env, w, &handle, &stamp, &committed);
  auto *d = IsVar(handle) ? labeling_post(env, w, handle, stamp) : static_cast<labeling_data *>(fd_perm_data(handle));
  if (d == nullptr)
    return;
  if (d->stamp != stamp) {
    /* First run, or back from backtracking: the heap from what the last
       committed run left, every key read afresh. */
    d->heapsize = d->heapsize_committed;
    for (int pos = 0; pos < d->heapsize; pos++)
      set_key(d, d->heap[pos]);
    labeling_heap_build(d);
    while (d->heapsize > 0 && d->key[d->heap[0]] == LABEL_KEY_BOUND)
      labeling_heap_remove(d, 0);
  }
  d->stamp = stamp + 1;
  if (committed)
    d->heapsize_committed = d->heapsize;
  if (d->heapsize == 0) {
    fd_perm_free(env, w);
    /* The item dies with its block: a daemon still on a variable (one
       fixed but bound later, or woken in the same run) must never reach
       the block again, which may be freed already and its memory reused. */
    const TAGGED ent = deref(arg(deref(ref_term(w, global)), 4));
    if (IsVar(ent))
      fd_bind(env, w, ent, MakeSmall_checked(1));
    slot(w, best) = atom_nil;
  } else {
    slot(w, best) = var_of(d, d->heap[0]);
  }
  if (!api->pVR_unify(new_state, out) || !api->pVR_unify(selected, best))
    api->pVR_fail();
  api->pVR_reset_term_refs(out);
}

void labeling_daemon(VREnv *env, worker *w, void *block, VR_globref attr_ref, TAGGED global)
{
  auto *d = static_cast<labeling_data *>(block);
  TAGGED item = deref(global);
  const TAGGED s = deref(fd_mutable_value(deref(arg(item, 1))));
  if (GetSmall(deref(arg(s, arity_of(s)))) != d->stamp)
    return; /* backtracked since the last step: the next one rebuilds */
  const int index = static_cast<int>((attr_ref - d->refbase) / 2);
  const int vh = d->vheap[index];
  /* Out of the heap already: a further wake-up of a variable found bound. */
  if (vh >= d->heapsize)
    return;
  fd_daemon_copy_state(env, w, &item);
  d->stamp++;
  set_key(d, index);
  if (d->key[index] == LABEL_KEY_BOUND)
    labeling_heap_remove(d, vh);
  else
    labeling_heap_fix(d, vh);
}
