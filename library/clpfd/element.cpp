/* element.cpp: element/3, minimum/2 and maximum/2 as native global
 * constraints (see element.h).
 *
 * Each instance owns one data block (globals.h): the daemon frame, the
 * library's VREnv (the destructor has no other way to reach the
 * allocator), a block of global references (attribute, then variable, per
 * variable) and the domain-variable caches, which follow the block.  A
 * cache of a variable is refilled from its references before every use,
 * so nothing the collector moves is read from the block; only the caches
 * of element's integer elements, interval caches holding the value, are
 * filled once.
 *
 * Order within a run: everything that may grow the heap (allocating the
 * block, attaching daemons) happens before the caches are filled for
 * pruning; after dvar_pruning_settle no cache holds a heap cell; the block is
 * disposed of (fd_perm_free) only after its caches were last used.
 */
#include "element.h"

#include <cstdint>

#include "dvar.h"
#include "fd_attribute.h"
#include "globals.h"
#include "propagation.h"

namespace {

inline TAGGED arg(TAGGED t, int i) { return TagToSTR(t)[i]; }
inline TAGGED &slot(worker *w, VR_term_ref r) { return w->fli_stack_start[r].term; }
inline std::int32_t ord(TAGGED t) { return fd_order(t); }
void free_block(VREnv *env, VR_globref refs, void *block)
{
  env->dispatch_API_VOSTREL_H->pVR_free_globrefs(refs);
  env->dispatch_API_VOSTREL_H->pVR_free(block);
}

/* ---- element ---- */

/* References: I's pair at 0, Y's at 2, element k's (from 1) at 2 + 2k,
   each attribute then variable; integer elements (kind 1) have none.
   Caches: I, Y, then the elements. */
struct element_data {
  daemon_frame frame;
  VREnv *vrenv;
  VR_globref refbase;
  int nrefs;
  int n;
  int kind;
  dvar *dv;
};

/* The attribute reference of element k (from 1). */
inline VR_globref element_ref(const element_data *d, int k) { return d->refbase + 2 * k + 2; }

void element_destructor(void *block)
{
  auto *d = static_cast<element_data *>(block);
  free_block(d->vrenv, d->refbase, d);
}

/* The block of a new instance, filled from the state in register 0. */
element_data *element_post(VREnv *env, worker *w, TAGGED handle, long n, int kind)
{
  const std::size_t bytes = sizeof(element_data) + static_cast<std::size_t>(n + 2) * sizeof(dvar);
  auto *d = static_cast<element_data *>(fd_perm_alloc(env, w, bytes, handle));
  d->frame.destructor = &element_destructor;
  d->frame.daemon = &element_daemon;
  d->vrenv = env;
  d->n = static_cast<int>(n);
  d->kind = kind;
  d->nrefs = kind == 0 ? 4 + 2 * d->n : 4;
  d->dv = reinterpret_cast<dvar *>(d + 1);
  d->refbase = env->dispatch_API_VOSTREL_H->pVR_alloc_globrefs(d->nrefs);
  const TAGGED s = deref(w->term[0]);
  fd_get_var_and_attr(deref(arg(s, 1)), d->refbase);
  fd_get_var_and_attr(deref(arg(s, 2)), d->refbase + 2);
  TAGGED list = deref(arg(s, 3));
  for (int k = 1; k <= d->n; k++, list = deref(TagToLST(list)[1])) {
    const TAGGED e = deref(TagToLST(list)[0]);
    if (kind == 0)
      fd_get_var_and_attr(e, element_ref(d, k));
    else
      dvar_init_temp(&d->dv[k + 1], e, e);
  }
  if (kind == 0) {
    const TAGGED dom = fd_state_of(env)->functor_dom;
    for (int k = 1; k <= d->n; k++) {
      dvar *e = &d->dv[k + 1];
      dvar_init(e, element_ref(d, k), element_ref(d, k) + 1);
      dvar_attach_daemon(env, w, e, d, w->term[1], dom);
    }
  }
  return d;
}

/* Whether element e can still equal a value of Y. */
bool supports(VREnv *env, worker *w, Dvar e, Dvar y)
{
  if (e->flags & DV_INTERVAL)
    return dvar_compare_interval_t(env, y, e->min, e->max, w) != FD_DISJOINT;
  return dvar_compare_set(env, y, dvar_set(env, e, w), w) != FD_DISJOINT;
}

/* One run; the entailment code. */
int element_run(VREnv *env, worker *w, element_data *d)
{
  dvar *i = &d->dv[0], *y = &d->dv[1];
  dvar_init(i, d->refbase, d->refbase + 1);
  dvar_init(y, d->refbase + 2, d->refbase + 3);
  /* An index outside 1..N names no element. */
  if (dvar_fix_interval_t(i, MakeSmall_checked(1), MakeSmall_checked(d->n)) < 0)
    return -1;
  FDCONS unsupported;
  fdcons_init(&unsupported);
  std::int32_t lo = FD_ORDER_SUP, hi = FD_ORDER_INF;
  DVITER it;
  dviter_init(&it, i);
  while (!dviter_empty(&it)) {
    const TAGGED kt = dviter_next_value_t(&it);
    const int k = static_cast<int>(GetSmall(kt));
    dvar *e = &d->dv[k + 1];
    if (d->kind == 0)
      dvar_init(e, element_ref(d, k), element_ref(d, k) + 1);
    if (!supports(env, w, e, y)) {
      fdcons_add(env, &unsupported, w, kt);
      continue;
    }
    if (ord(e->min) < lo)
      lo = ord(e->min);
    if (ord(e->max) > hi)
      hi = ord(e->max);
  }
  if (!fd_is_empty(unsupported.head) && dvar_prune_set(env, i, unsupported.head, w) < 0)
    return -1;
  if (dvar_fix_interval_t(y, fd_from_order(lo), fd_from_order(hi)) < 0)
    return -1;
  dvar_pruning_settle(env, w, i);
  dvar_pruning_settle(env, w, y);
  dvar_export_changed(env, w, i);
  dvar_export_changed(env, w, y);
  if (lo == hi)
    return 1;
  if (i->flags & DV_FIXED) {
    /* An integer element has lo = hi above. */
    dvar_export_equal(env, w, y, &d->dv[GetSmall(i->min) + 1]);
    return 1;
  }
  return 0;
}

/* ---- minimum and maximum ---- */

/* References: Y's pair at 0, target t's (from 1) at 2t.  target[0..n-1]
   holds the target numbers, the first Count of them the candidates;
   place[t] is t's index in target.  Caches: Y, then the targets by
   number. */
struct minmax_data {
  daemon_frame frame;
  VREnv *vrenv;
  VR_globref refbase;
  int nrefs;
  int n;
  int *target;
  int *place;
  dvar *dv;
};

void minmax_destructor(void *block)
{
  auto *d = static_cast<minmax_data *>(block);
  free_block(d->vrenv, d->refbase, d);
}

minmax_data *minmax_post(VREnv *env, worker *w, TAGGED handle, long n)
{
  const std::size_t bytes = sizeof(minmax_data) + static_cast<std::size_t>(n + 1) * sizeof(dvar) +
                            static_cast<std::size_t>(2 * n + 1) * sizeof(int);
  auto *d = static_cast<minmax_data *>(fd_perm_alloc(env, w, bytes, handle));
  d->frame.destructor = &minmax_destructor;
  d->frame.daemon = &minmax_daemon;
  d->vrenv = env;
  d->n = static_cast<int>(n);
  d->nrefs = 2 * (d->n + 1);
  d->dv = reinterpret_cast<dvar *>(d + 1);
  d->target = reinterpret_cast<int *>(d->dv + d->n + 1);
  d->place = d->target + d->n; /* indexed by target number: place[0] unused */
  d->refbase = env->dispatch_API_VOSTREL_H->pVR_alloc_globrefs(d->nrefs);
  TAGGED s = deref(w->term[0]);
  fd_get_var_and_attr(deref(arg(s, 1)), d->refbase);
  TAGGED list = deref(arg(s, 2));
  for (int t = 1; t <= d->n; t++, list = deref(TagToLST(list)[1])) {
    fd_get_var_and_attr(deref(TagToLST(list)[0]), d->refbase + 2 * t);
    d->target[t - 1] = t;
    d->place[t] = t - 1;
  }
  const TAGGED minmax = fd_state_of(env)->functor_minmax;
  for (int t = 1; t <= d->n; t++) {
    dvar_init(&d->dv[t], d->refbase + 2 * t, d->refbase + 2 * t + 1);
    dvar_attach_daemon(env, w, &d->dv[t], d, w->term[1], minmax);
  }
  /* The block holds the targets now; the state (this run's own term)
     need not keep them alive. */
  s = deref(w->term[0]);
  TagToSTR(s)[2] = atom_nil;
  return d;
}

/* One run over the first count candidates; the entailment code, and in
   *count the candidates that stay. */
int minmax_run(VREnv *env, worker *w, minmax_data *d, bool minimum, int *count)
{
  dvar *y = &d->dv[0];
  dvar_init(y, d->refbase, d->refbase + 1);
  const TAGGED ymin = y->min, ymax = y->max;
  const int live = *count;
  std::int32_t lo = minimum ? FD_ORDER_SUP : FD_ORDER_INF, hi = lo;
  for (int j = 0; j < live; j++) {
    const int t = d->target[j];
    dvar *c = &d->dv[t];
    dvar_init(c, d->refbase + 2 * t, d->refbase + 2 * t + 1);
    if (minimum) {
      if (dvar_fix_interval_t(c, ymin, atom_sup) < 0)
        return -1;
      if (ord(c->min) < lo)
        lo = ord(c->min);
      if (ord(c->max) < hi)
        hi = ord(c->max);
    } else {
      if (dvar_fix_interval_t(c, atom_inf, ymax) < 0)
        return -1;
      if (ord(c->min) > lo)
        lo = ord(c->min);
      if (ord(c->max) > hi)
        hi = ord(c->max);
    }
  }
  if (dvar_fix_interval_t(y, fd_from_order(lo), fd_from_order(hi)) < 0)
    return -1;
  dvar_pruning_settle(env, w, y);
  for (int j = 0; j < live; j++)
    dvar_pruning_settle(env, w, &d->dv[d->target[j]]);
  dvar_export_changed(env, w, y);
  for (int j = 0; j < live; j++)
    dvar_export_changed(env, w, &d->dv[d->target[j]]);
  /* Candidates that can no longer be the extreme move behind the others;
     any order of the prefix is as good, so backtracking (which restores
     Count only) needs no undoing here. */
  int stay = 0;
  for (int j = 0; j < live; j++) {
    const int t = d->target[j];
    const dvar *c = &d->dv[t];
    if (minimum ? ord(c->min) <= ord(ymax) : ord(c->max) >= ord(ymin)) {
      const int other = d->target[stay];
      d->target[stay] = t;
      d->place[t] = stay;
      d->target[j] = other;
      d->place[other] = j;
      stay++;
    }
  }
  *count = stay;
  if (stay == 1) {
    dvar_export_equal(env, w, y, &d->dv[d->target[0]]);
    return 1;
  }
  return 0;
}

} // namespace

void prolog_fd_element_vrenv_multi_vr(VREnv *env, VR_term_ref, VR_term_ref new_state, VR_term_ref actions)
{
  worker *w = fd_global_run_start(env);
  TAGGED handle;
  int committed;
  const TAGGED s = fd_static_output_state(w, &handle, &committed);
  slot(w, new_state) = s;
  const long n = GetSmall(deref(arg(s, 4)));
  if (n <= 0) {
    dvar_export_done(env, w, actions, -1);
    return;
  }
  const int kind = deref(arg(s, 5)) == MakeSmall_checked(0) ? 0 : 1;
  auto *d = IsVar(handle) ? element_post(env, w, handle, n, kind) : static_cast<element_data *>(fd_perm_data(handle));
  fd_state_of(env)->gdata = d;
  const int code = element_run(env, w, d);
  if (code == 1)
    fd_perm_free(env, w);
  dvar_export_done(env, w, actions, code);
}

void element_daemon(VREnv *env, worker *w, void *block, VR_globref attr_ref, TAGGED global)
{
  auto *d = static_cast<element_data *>(block);
  dvar *i = &d->dv[0];
  dvar_init(i, d->refbase, d->refbase + 1);
  const long k = (attr_ref - d->refbase) / 2 - 1;
  if (dvar_contains_value_t(i, MakeSmall_checked(k)))
    fd_enqueue_global(env, w, global, 7);
}

void prolog_fd_minmax_vrenv_multi_vr(VREnv *env, VR_term_ref, VR_term_ref new_state, VR_term_ref actions)
{
  TAGGED handle;
  long stamp;
  int committed;
  worker *w = fd_run_begin(env, new_state, &handle, &stamp, &committed);
  TAGGED s = deref(w->term[0]);
  int count = static_cast<int>(GetSmall(deref(arg(s, 3))));
  const bool minimum = deref(arg(s, 4)) == MakeSmall_checked(0);
  minmax_data *d;
  if (IsVar(handle)) {
    /* Count is the number of targets at posting; never read more cells
       than the list has. */
    const long n = fd_list_length(deref(arg(s, 2)));
    if (n < count)
      count = static_cast<int>(n);
    if (count <= 0) {
      dvar_export_done(env, w, actions, -1);
      return;
    }
    d = minmax_post(env, w, handle, count);
  } else {
    if (count <= 0) {
      dvar_export_done(env, w, actions, -1);
      return;
    }
    d = static_cast<minmax_data *>(fd_perm_data(handle));
  }
  fd_state_of(env)->gdata = d;
  const int code = minmax_run(env, w, d, minimum, &count);
  if (code >= 0) {
    s = deref(w->term[0]);
    TagToSTR(s)[3] = MakeSmall_checked(count);
  }
  if (code == 1)
    fd_perm_free(env, w);
  dvar_export_done(env, w, actions, code);
}

void minmax_daemon(VREnv *env, worker *w, void *block, VR_globref attr_ref, TAGGED global)
{
  auto *d = static_cast<minmax_data *>(block);
  const TAGGED s = deref(fd_mutable_value(deref(arg(global, 1))));
  const long count = GetSmall(deref(arg(s, 3)));
  if (count == 0)
    return;
  const long t = (attr_ref - d->refbase) / 2;
  if (t >= 1 && t <= d->n && d->place[t] < count)
    fd_enqueue_global(env, w, global, 5);
}
