/* globals.cpp: the protocol of native global constraints (see globals.h):
 * output states and stamps, the data block of a constraint instance and
 * its disposal, daemons, the end of a run and its rewrite requests, and
 * running a constraint's function from the loop or from Prolog.
 *
 * Invariants:
 * - A block's handle word is the block's address plus 3 (a small integer
 *   the collector never follows), issued through the engine's $free/1
 *   registry, so that untrailing and the clean-up of cut choicepoints call
 *   the destructor in the block's first word exactly once; a block that
 *   the library frees itself has its handle revoked first.
 * - Argument registers 0, 1 and 2 (state, item, Actions accumulator) are
 *   live across every heap allocation made during a run.
 * - A native function runs only on registers that hold a proper item of
 *   that very function and a state term of the protocol's shape: anything
 *   else is rejected with a domain error before the function reads it.
 *
 * Callers: the native global constraints, the propagation loop
 * (propagation.cpp), the resource's tables (fd_init.cpp), Prolog.
 */
#include "globals.h"

#include <cstring>

#include "fd_attribute.h"
#include "fd_errors.h"
#include "fd_init.h"
#include "initial_atoms.h"
#include "overflow.h"
#include "stack_walk.h"

namespace {

constexpr int LIVE = 3; /* registers 0..2: state, item, Actions accumulator */
constexpr int REG_HANDLE = 3;

const TAGGED functor_global5 = MakeFunctor(MakeAtom(atom_global_enum), 5);
const TAGGED functor_daemon5 = MakeFunctor(MakeAtom(atom_daemon_enum), 5);
const TAGGED functor_free1 = MakeFunctor(MakeAtom(atom_Dfree_enum), 1);
const TAGGED functor_colon2 = MakeFunctor(MakeAtom(atom_colon_enum), 2);
const TAGGED atom_exit = MakeAtom(atom_exit_enum);
const TAGGED atom_fail = MakeAtom(atom_fail_enum);
const TAGGED atom_clpfd = MakeAtom(atom_clpfd_enum);

inline TAGGED arg(TAGGED t, int i) { return TagToSTR(t)[i]; }
inline TAGGED &slot(worker *w, VR_term_ref r) { return w->fli_stack_start[r].term; }
inline int arity_of(TAGGED t) { return static_cast<int>(Arity(*TagToSTR(t))); }

/* Is the heap term at p younger than the newest choicepoint? */
inline bool younger(const worker *w, const TAGGED *p) { return p >= w->global_uncond; }

inline bool committed_handle(const worker *w, TAGGED handle)
{
  return IsVar(handle) || younger(w, TagToLST(handle));
}

inline void *block_of_word(TAGGED word) { return reinterpret_cast<void *>(word - 3); }

/* The block of a bound handle cell [Flag | $free(Block + 3)], or null when
   the term is no such cell. */
void *handle_block(TAGGED handle)
{
  if (!IsList(handle))
    return nullptr;
  const TAGGED tail = deref(TagToLST(handle)[1]);
  if (!IsStructure(tail) || *TagToSTR(tail) != functor_free1)
    return nullptr;
  const TAGGED word = deref(arg(tail, 1));
  return IsSmall(word) ? block_of_word(word) : nullptr;
}

inline bool is_mutable(TAGGED t) { return IsStructure(t) && *TagToSTR(t) == functor_Dmutable; }

/* Prepends x to the Actions accumulator; the room is made. */
void prepend(worker *w, TAGGED x)
{
  TAGGED *h = w->global_top;
  h[0] = x;
  h[1] = w->term[2];
  w->global_top = h + 2;
  w->term[2] = MakeLST(h);
}

/* call(clpfd:Goal) at h (5 words) around the goal term at goal. */
TAGGED call_clpfd(TAGGED *h, TAGGED goal, fd_state *fd)
{
  h[0] = functor_colon2;
  h[1] = atom_clpfd;
  h[2] = goal;
  h[3] = fd->functor_call;
  h[4] = MakeSTR(h);
  return MakeSTR(h + 3);
}

/* Marks every choicepoint from the newest down to the first one already
   marked as having clean-up work. */
void mark_cleanup(worker *w)
{
  for (choice_walk c(w); !c.done(); c.step()) {
    const auto bits = reinterpret_cast<std::uintptr_t>(c.cp->next_alt);
    if (bits & NODE_CLEANUP_PENDING)
      break;
    c.cp->next_alt = reinterpret_cast<try_node *>(bits | NODE_CLEANUP_PENDING);
  }
  w->heap_warn_soft = nullptr; /* the next call looks at the mark */
}

} // namespace

/* ---- Checks of what a function is run on ---- */

/* 1 when register 1 holds a global-constraint item whose constraint runs
   fn, and register 0 a state term with a Handle and a Stamp; otherwise
   raises a domain error naming the culprit and gives 0. */
static int proper_global_item(VREnv *env, worker *w, fd_global_fn fn, const char *name, int arity)
{
  const TAGGED item = deref(w->term[1]);
  bool ok = IsStructure(item) && *TagToSTR(item) == functor_global5 && is_mutable(deref(arg(item, 1))) &&
            is_mutable(deref(arg(item, 3)));
  if (ok) {
    const TAGGED status = fd_mutable_value(deref(arg(item, 3)));
    ok = IsSmall(status) && (GetSmall(status) & 2) != 0 && fd_global_function(env, deref(arg(item, 2))) == fn;
  }
  if (!ok) {
    fd_raise_domain_error(env, "global_constraint_item", item, name, arity);
    return 0;
  }
  const TAGGED state = deref(w->term[0]);
  ok = IsStructure(state) && arity_of(state) >= 2 && IsSmall(deref(arg(state, arity_of(state))));
  if (ok) {
    const TAGGED handle = deref(arg(state, arity_of(state) - 1));
    if (!IsVar(handle)) {
      void *block = handle_block(handle);
      ok = block != nullptr && fd_free_handle_issued(env, block);
    }
  }
  if (!ok) {
    fd_raise_domain_error(env, "global_constraint_state", state, name, arity);
    return 0;
  }
  return 1;
}

/* ---- Output states ---- */

worker *fd_run_begin(VREnv *env, VR_term_ref new_state, TAGGED *handle, long *stamp, int *committed)
{
  worker *w = fd_global_run_start(env);
  slot(w, new_state) = fd_unify_output_state(env, w, handle, stamp, committed);
  return w;
}

TAGGED fd_unify_output_state(VREnv *env, worker *w, TAGGED *handle, long *stamp, int *committed)
{
  w->term[0] = deref(w->term[0]);
  const int a = arity_of(w->term[0]);
  w->term[REG_HANDLE] = arg(w->term[0], a - 1);
  fd_heap_room(env, w, a + 129, LIVE + 1);
  TAGGED t = deref(w->term[0]);
  *handle = deref(w->term[REG_HANDLE]);
  *stamp = static_cast<long>(GetSmall(deref(arg(t, a))));
  *committed = committed_handle(w, *handle);
  const TAGGED next = MakeSmall_checked(static_cast<VR_INTEGER>(*stamp + 1));
  if (younger(w, TagToSTR(t))) {
    TagToSTR(t)[a] = next;
    return t;
  }
  TAGGED *h = w->global_top;
  std::memcpy(h, TagToSTR(t), static_cast<std::size_t>(a + 1) * sizeof(TAGGED));
  h[a] = next;
  w->global_top = h + a + 1;
  t = MakeSTR(h);
  w->term[0] = t;
  return t;
}

TAGGED fd_static_output_state(worker *w, TAGGED *handle, int *committed)
{
  const TAGGED t = deref(w->term[0]);
  *handle = deref(arg(t, arity_of(t) - 1));
  *committed = committed_handle(w, *handle);
  return t;
}

/* ---- The data block ---- */

void *fd_perm_alloc(VREnv *env, worker *w, std::size_t bytes, TAGGED handle)
{
  void *block = fd_malloc(env, bytes < sizeof(daemon_frame) ? sizeof(daemon_frame) : bytes);
  if (block == nullptr)
    return nullptr;
  std::memset(block, 0, sizeof(daemon_frame));
  w->term[REG_HANDLE] = handle;
  fd_heap_room(env, w, 132, LIVE + 1);
  handle = deref(w->term[REG_HANDLE]);
  /* The caller stores the destructor before anything can release the
     block: until then the handle's release function is null, which $free/1
     skips. */
  const TAGGED word = fd_issue_free_handle(env, block);
  if (word == 0) {
    env->dispatch_API_VOSTREL_H->pVR_free(block);
    fd_raise_system_error(env, "clpfd_block_handle");
    return nullptr;
  }
  TAGGED *h = w->global_top;
  h[0] = functor_free1;
  h[1] = word;
  h[2] = PointerToTerm(h + 2); /* Flag */
  h[3] = MakeSTR(h);
  w->global_top = h + 4;
  const TAGGED cell = MakeLST(h + 2);
  fd_trail_push(env, w, cell);
  fd_bind(env, w, handle, cell);
  return block;
}

void *fd_perm_data(TAGGED handle) { return handle_block(deref(handle)); }

void fd_perm_free(VREnv *env, worker *w)
{
  const TAGGED state = deref(w->term[0]);
  const TAGGED handle = deref(arg(state, arity_of(state) - 1));
  void *block = handle_block(handle);
  if (block == nullptr)
    return;
  const TAGGED flag = deref(TagToLST(handle)[0]);
  if (!IsVar(flag))
    return; /* disposed of, or waiting for it, already */
  if (committed_handle(w, handle)) {
    fd_bind(env, w, flag, MakeSmall_checked(0));
    fd_revoke_free_handle(env, block);
    static_cast<daemon_frame *>(block)->destructor(block);
    if (w->trail_top[-1] == handle)
      w->trail_top--;
    return;
  }
  fd_bind(env, w, flag, MakeSmall_checked(1));
  mark_cleanup(w);
}

void *fd_perm_alloc2(VREnv *env, std::size_t bytes, size_mem *sm)
{
  auto *api = env->dispatch_API_VOSTREL_H;
  if (sm->size == 0) {
    sm->mem = fd_malloc(env, bytes);
    return sm->mem;
  }
  if (sm->size < bytes) {
    void *p = api->pVR_realloc(sm->mem, bytes);
    if (p == nullptr) {
      api->pvr_memory_fault(0, -1);
      return nullptr;
    }
    sm->mem = p;
    sm->size = bytes;
  }
  return sm->mem;
}

void fd_perm_free2(VREnv *env, void *block, size_mem *sm)
{
  if (sm->size == 0)
    env->dispatch_API_VOSTREL_H->pVR_free(block);
}

void *fd_temp_alloc(VREnv *env, worker *w, std::size_t bytes)
{
  return fd_numstack_words(env, w, static_cast<int>((bytes + 3) / 4));
}

/* ---- Daemons ---- */

TAGGED fd_daemon_copy_state(VREnv *env, worker *w, TAGGED *global)
{
  auto *api = env->dispatch_API_VOSTREL_H;
  TAGGED item = deref(*global);
  TAGGED state = deref(fd_mutable_value(deref(arg(item, 1))));
  const int a = arity_of(state);
  const TAGGED next = MakeSmall_checked(GetSmall(deref(arg(state, a))) + 1);
  if (younger(w, TagToSTR(state))) {
    TagToSTR(state)[a] = next;
    return state;
  }
  const VR_term_ref keep = api->pVR_new_term_ref();
  slot(w, keep) = item;
  fd_heap_room(env, w, a + 129, LIVE);
  item = deref(slot(w, keep));
  api->pVR_reset_term_refs(keep);
  *global = item;
  state = deref(fd_mutable_value(deref(arg(item, 1))));
  TAGGED *h = w->global_top;
  std::memcpy(h, TagToSTR(state), static_cast<std::size_t>(a + 1) * sizeof(TAGGED));
  h[a] = next;
  w->global_top = h + a + 1;
  fd_update_mutable(env, w, MakeSTR(h), deref(arg(item, 1)));
  return MakeSTR(h);
}

void dvar_attach_daemon(VREnv *env, worker *w, Dvar dv, void *block, TAGGED global, TAGGED list_functor)
{
  if (dv->min == dv->max)
    return;
  auto *api = env->dispatch_API_VOSTREL_H;
  const VR_term_ref keep = api->pVR_new_term_ref();
  slot(w, keep) = global;
  fd_heap_room(env, w, 431, LIVE);
  global = deref(slot(w, keep));
  api->pVR_reset_term_refs(keep);
  TAGGED *h = w->global_top;
  h[0] = functor_daemon5;
  h[1] = global;
  h[2] = PointerToTerm(dv->attr_ref) + 3;
  h[3] = arg(global, 3);
  h[4] = arg(global, 4);
  h[5] = PointerToTerm(block) + 3;
  w->global_top = h + 6;
  fd_link(env, w, deref(dv->var_ref->term), list_functor, MakeSTR(h));
}

/* ---- The end of a run and its rewrite requests ---- */

namespace {
inline bool cache_changed(const dvar *dv) { return (dv->flags & (DV_CHANGED | DV_MIN | DV_MAX)) != 0; }
} // namespace

void dvar_pruning_settle(VREnv *env, worker *w, Dvar dv)
{
  if (!cache_changed(dv))
    return;
  dvar_pruning_done(env, w, dv);
  if (!(dv->flags & (DV_INTERVAL | DV_CHANGED)))
    dv->set = fd_localize(env, w, dvar_set(env, dv, w));
}

void dvar_export_changed(VREnv *env, worker *w, Dvar dv)
{
  if (cache_changed(dv))
    dvar_export_do(env, w, dv);
}

int dvar_export_done(VREnv *env, worker *w, VR_term_ref actions, int code)
{
  fd_heap_room(env, w, 130, LIVE);
  if (code == 1)
    prepend(w, atom_exit);
  else if (code == -1)
    prepend(w, atom_fail);
  slot(w, actions) = w->term[2];
  return fd_check_overflow(env, deref(arg(deref(w->term[1]), 2)));
}

void dvar_export_equal(VREnv *env, worker *w, Dvar x, Dvar y)
{
  fd_state *fd = fd_state_of(env);
  TAGGED vx = deref(x->var_ref->term), vy = deref(y->var_ref->term);
  if (vx == vy)
    return;
  if (!fd->debugging) {
    if (!fd_cunify(env, w, vx, vy)) {
      fd_heap_room(env, w, 130, LIVE);
      prepend(w, atom_fail);
    }
    return;
  }
  fd_heap_room(env, w, 135, LIVE);
  vx = deref(x->var_ref->term);
  vy = deref(y->var_ref->term);
  TAGGED *h = w->global_top;
  h[0] = fd->functor_eq;
  h[1] = vx;
  h[2] = vy;
  h[3] = fd->functor_call;
  h[4] = MakeSTR(h);
  w->global_top = h + 5;
  prepend(w, MakeSTR(h + 3));
}

void dvar_export_leqc(VREnv *env, worker *w, Dvar x, Dvar y, long k)
{
  fd_state *fd = fd_state_of(env);
  fd_heap_room(env, w, 139, LIVE);
  TAGGED *h = w->global_top;
  h[0] = fd->functor_leqc;
  h[1] = deref(x->var_ref->term);
  h[2] = deref(y->var_ref->term);
  h[3] = MakeSmall_checked(static_cast<VR_INTEGER>(k));
  const TAGGED call = call_clpfd(h + 4, MakeSTR(h), fd);
  w->global_top = h + 9;
  prepend(w, call);
}

void dvar_export_alldiff(VREnv *env, worker *w, Dvar dvs, int n)
{
  fd_state *fd = fd_state_of(env);
  TAGGED *const saved = w->numstack_top;
  /* The caches may live on the number stack themselves: their variable
     references are copied before it is trimmed back. */
  auto **refs = static_cast<VR_globref *>(fd_temp_alloc(env, w, static_cast<std::size_t>(n) * sizeof(VR_globref)));
  for (int i = 0; i < n; i++)
    refs[i] = dvs[i].var_ref;
  fd_heap_room(env, w, 2L * n + 137, LIVE);
  TAGGED *h = w->global_top;
  TAGGED list = atom_nil;
  for (int i = n - 1; i >= 0; i--) {
    h[2 * i] = deref(refs[i]->term);
    h[2 * i + 1] = list;
    list = MakeLST(h + 2 * i);
  }
  TAGGED *g = h + 2 * n;
  g[0] = fd->functor_alldiff;
  g[1] = list;
  const TAGGED call = call_clpfd(g + 2, MakeSTR(g), fd);
  w->global_top = g + 7;
  prepend(w, call);
  w->numstack_top = saved;
}

/* ---- Small helpers of the front ends' terms ---- */

long fd_list_length(TAGGED list)
{
  long n = 0;
  for (list = deref(list); IsList(list); list = deref(TagToLST(list)[1]))
    n++;
  return n;
}

void fd_get_var_and_attr(TAGGED pair, VR_globref refs)
{
  pair = deref(pair);
  refs[1].term = deref(arg(pair, 1));
  refs[0].term = arg(pair, 2);
}

/* ---- Running a constraint's function ---- */

int dispatch_global_fast(VREnv *env, worker *w, TAGGED constraint, VR_term_ref state, VR_term_ref new_state,
                         VR_term_ref actions, VR_term_ref global)
{
  fd_state *fd = fd_state_of(env);
  const fd_global_fn fn = fd_global_function(env, constraint);
  if (fn == nullptr)
    return 0;
  fd->fd_overflow = 0;
  w->term[0] = deref(slot(w, state));
  w->term[1] = deref(slot(w, global));
  w->term[2] = atom_nil;
  if (!proper_global_item(env, w, fn, "$fd_dispatch_global_fast", 6))
    return 0;
  fn(env, state, new_state, actions);
  return fd->fd_overflow ? 0 : 1;
}

long prolog_fd_dispatch_global_fast_vrenv_multi_vr(VREnv *env, VR_term_ref constraint, VR_term_ref state,
                                                   VR_term_ref new_state, VR_term_ref actions, VR_term_ref global)
{
  auto *api = env->dispatch_API_VOSTREL_H;
  worker *w = fd_current_worker(env);
  const VR_term_ref out = api->pVR_new_term_refs(2), out_actions = out + 1;
  slot(w, state) = deref(slot(w, state));
  slot(w, global) = deref(slot(w, global));
  const int r = dispatch_global_fast(env, w, deref(slot(w, constraint)), state, out, out_actions, global);
  if (r == 0 || w->fli_data->excp_flag == 0)
    return 0;
  if (!api->pVR_unify(new_state, out) || !api->pVR_unify(actions, out_actions)) {
    api->pVR_fail();
    return 0;
  }
  return r;
}

void fd_run_global_entry(VREnv *env, fd_global_fn fn, const char *name, VR_term_ref state, VR_term_ref new_state,
                         VR_term_ref actions)
{
  auto *api = env->dispatch_API_VOSTREL_H;
  worker *w = fd_current_worker(env);
  fd_state_of(env)->fd_overflow = 0;
  if (!proper_global_item(env, w, fn, name, 3))
    return;
  const VR_term_ref in = api->pVR_new_term_refs(3), out = in + 1, out_actions = in + 2;
  slot(w, in) = deref(w->term[0]);
  w->term[2] = atom_nil;
  fn(env, in, out, out_actions);
  if (w->fli_data->excp_flag == 0)
    return;
  if (!api->pVR_unify(new_state, out) || !api->pVR_unify(actions, out_actions))
    api->pVR_fail();
}
