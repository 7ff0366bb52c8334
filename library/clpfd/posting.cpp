/* posting.cpp: posting global constraints and reified indexical
 * constraints into the propagation queues, linking indexicals into their
 * suspension lists, and the unification of FD variables with values (see
 * posting.h).
 *
 * Every heap construction is preceded by a room check that covers the whole
 * construction, so that no collection runs while C variables hold heap
 * terms; what must survive a check is kept in argument registers (passed as
 * live) or term references.
 */
#include "posting.h"

#include "fd_attribute.h"
#include "propagation.h"
#include "telling.h"

namespace {

inline TAGGED arg(TAGGED t, int i) { return TagToSTR(t)[i]; }
inline TAGGED &slot(worker *w, VR_term_ref r) { return w->fli_stack_start[r].term; }

inline TAGGED new_var(TAGGED *h)
{
  *h = PointerToTerm(h);
  return *h;
}

/* A fresh $mutable(value, 0) at h (3 words). */
inline TAGGED new_mutable(TAGGED *h, TAGGED value)
{
  h[0] = functor_Dmutable;
  h[1] = value;
  h[2] = MakeSmall_checked(0);
  return MakeSTR(h);
}

/* Whether some unbound variable occurs twice among goal's arguments. */
bool shares_a_variable(TAGGED goal)
{
  if (!IsStructure(goal))
    return false;
  const int n = static_cast<int>(Arity(*TagToSTR(goal)));
  for (int i = 1; i <= n; i++) {
    const TAGGED a = deref(arg(goal, i));
    if (!IsVar(a))
      continue;
    for (int j = i + 1; j <= n; j++)
      if (deref(arg(goal, j)) == a)
        return true;
  }
  return false;
}

inline TAGGED goal_arg(TAGGED goal, unsigned index) { return deref(arg(goal, static_cast<int>(index) + 1)); }

} // namespace

void prolog_fd_post_global_vrenv_multi_vr(VREnv *env, VR_term_ref constraint, VR_term_ref state, long status,
                                          VR_term_ref source, VR_term_ref susp, VR_term_ref global)
{
  auto *api = env->dispatch_API_VOSTREL_H;
  worker *w = fd_current_worker(env);
  fd_state *fd = fd_state_of(env);
  fd->constraints++;
  fd_heap_room(env, w, 12 + 128);
  TAGGED *h = w->global_top;
  w->global_top = h + 12;
  const TAGGED state_m = new_mutable(h, slot(w, state));
  const TAGGED status_m = new_mutable(h + 3, MakeSmall_checked(status | FD_STATUS_GLOBAL));
  h[6] = MakeFunctor(api->pVR_atom_from_string("global"), 5);
  h[7] = state_m;
  h[8] = slot(w, constraint);
  h[9] = status_m;
  new_var(h + 10);
  h[11] = slot(w, source);
  if (!fd_cunify(env, w, slot(w, global), MakeSTR(h + 6))) {
    api->pVR_fail();
    return;
  }
  const VR_term_ref item = api->pVR_new_term_refs(2), rest = item + 1;
  slot(w, item) = MakeSTR(h + 6);
  for (slot(w, rest) = deref(slot(w, susp)); IsList(slot(w, rest)); slot(w, rest) = deref(TagToLST(slot(w, rest))[1])) {
    const TAGGED spec = deref(TagToLST(slot(w, rest))[0]);
    if (!IsStructure(spec) || *TagToSTR(spec) == fd->functor_none || !IsVar(deref(arg(spec, 1))))
      continue;
    fd_heap_room(env, w, 422);
    const TAGGED e = deref(TagToLST(slot(w, rest))[0]);
    fd_link(env, w, deref(arg(e, 1)), *TagToSTR(e), slot(w, item));
  }
  fd_sync(env, w);
  fd_enqueue_general(env, w, slot(w, item), 3);
  api->pVR_reset_term_refs(item);
}

void link_indexical(VREnv *env, worker *w, indexical_info *ix)
{
  fd_state *fd = fd_state_of(env);
  fd_heap_room(env, w, static_cast<long>(ix->length_of_linkage) * 294 + 128, 1);
  const TAGGED item = deref(w->term[0]);
  const TAGGED goal = deref(arg(item, 2));
  const unsigned wait = ix->checking ? FD_LINK_WAIT_CHECKING : FD_LINK_WAIT_PROPAGATING;
  for (unsigned i = 0; i < ix->length_of_linkage; i++) {
    const ix_byte link = ix->linkage[i];
    if (link & wait)
      continue;
    const TAGGED a = goal_arg(goal, link >> 8);
    if (IsVar(a))
      fd_link(env, w, a, fd->linkage_keys[link & FD_LINK_KEY_MASK], item);
  }
}

namespace {

/* Posts one indexical of type `type`; registers as set up by
   $fd_post_reified/5 (0 Goal, 1 Attv, 2 B, 3 checking Ent, 4 spare B,
   5 propagating Ent, 6 BAttr).  The room is made. */
void post_indexical(VREnv *env, worker *w, indexical_info *ix, int type, unsigned coref, TAGGED ix_functor,
                    TAGGED iff_functor, TAGGED minus_functor)
{
  fd_state *fd = fd_state_of(env);
  const TAGGED goal = deref(w->term[0]);
  const TAGGED b = deref(w->term[2]);
  const bool propagating = !ix->checking;
  const unsigned wait = propagating ? FD_LINK_WAIT_PROPAGATING : FD_LINK_WAIT_CHECKING;

  /* The variables it waits for, as a list. */
  TAGGED vars = atom_nil, *tail = &vars;
  for (unsigned i = 0; i < ix->length_of_linkage; i++) {
    const ix_byte link = ix->linkage[i];
    const TAGGED a = goal_arg(goal, link >> 8);
    if (!(link & wait) || !IsVar(a))
      continue;
    TAGGED *h = w->global_top;
    w->global_top = h + 2;
    h[0] = a;
    *tail = MakeLST(h);
    tail = &h[1];
  }
  *tail = atom_nil;

  ix->posted = 1;
  TAGGED *h = w->global_top;
  w->global_top = h + 11;
  const TAGGED status = new_mutable(h, MakeSmall_checked(FD_STATUS_INDEXICAL | coref));
  h[3] = ix_functor;
  h[4] = PointerToTerm(ix) + 3;
  h[5] = goal;
  h[6] = status;
  h[7] = propagating ? w->term[5] : w->term[3];
  h[8] = propagating ? w->term[4] : w->term[2];
  h[9] = w->term[1];
  h[10] = w->term[6];
  const TAGGED item = MakeSTR(h + 3);

  if (propagating && IsVar(b)) {
    TAGGED *p = w->global_top;
    w->global_top = p + 8;
    p[0] = iff_functor;
    p[1] = item;
    p[2] = b;
    p[3] = MakeSmall_checked(type);
    p[4] = w->term[3];
    p[5] = minus_functor;
    p[6] = vars;
    p[7] = MakeSTR(p);
    fd_link(env, w, b, fd->functor_val, MakeSTR(p + 5));
  } else if (vars != atom_nil) {
    TAGGED *p = w->global_top;
    w->global_top = p + 3;
    p[0] = minus_functor;
    p[1] = TagToLST(vars)[1];
    p[2] = item;
    fd_link(env, w, TagToLST(vars)[0], fd->functor_val, MakeSTR(p));
  } else {
    fd_enqueue_general(env, w, item, 1);
  }
}

} // namespace

void prolog_fd_post_reified_vrenv_multi_vr(VREnv *env, VR_term_ref definition_, VR_term_ref goal, VR_term_ref attv,
                                           VR_term_ref b, VR_term_ref battr)
{
  auto *api = env->dispatch_API_VOSTREL_H;
  worker *w = fd_current_worker(env);
  fd_state *fd = fd_state_of(env);
  /* The handle $fd_find_definition/3 gives and the engine passes to
     solve_fd_constraint/2: the record's address + 3. */
  const TAGGED handle = deref(slot(w, definition_));
  auto *def = IsSmall(handle) ? static_cast<definition *>(fd_handle_pointer(handle)) : nullptr;
  if (def == nullptr || predtyp(def) != FD_CONSTRAINT || def->proc.code.fdinfo == nullptr) {
    api->pVR_fail();
    return;
  }
  const VR_term_ref fresh = api->pVR_new_term_refs(3);
  for (int i = 0; i < 3; i++)
    api->pVR_put_variable(fresh + i);
  w->term[0] = slot(w, goal);
  w->term[1] = slot(w, attv);
  w->term[2] = slot(w, b);
  for (int i = 0; i < 3; i++)
    w->term[3 + i] = slot(w, fresh + i);
  w->term[6] = slot(w, battr);
  api->pVR_reset_term_refs(fresh);
  fd->constraints++;
  fd_sync(env, w);

  const TAGGED bv = deref(w->term[2]);
  int lo = 0, hi = 3;
  if (bv == MakeSmall_checked(1))
    lo = hi = 1;
  else if (bv == MakeSmall_checked(0))
    lo = hi = 0;
  const TAGGED g = deref(w->term[0]);
  const unsigned coref = shares_a_variable(g) ? static_cast<unsigned>(FD_STATUS_COREF) : 0u;
  const long arity = IsStructure(g) ? Arity(*TagToSTR(g)) : 0;
  long count = 0;
  for (int t = lo; t <= hi; t++)
    for (indexical_info *ix = fd_indexicals(def, t); ix != nullptr; ix = ix->next)
      count++;
  /* Beyond the items themselves, each link may give a variable its
     attribute. */
  fd_heap_room(env, w, count * (2 * arity + 29 + FD_ATTRIBUTE_WORDS) + 128, 7);

  const TAGGED ix_functor = MakeFunctor(api->pVR_atom_from_string("ix"), 7);
  const TAGGED iff_functor = MakeFunctor(api->pVR_atom_from_string("iff"), 4);
  const TAGGED minus_functor = MakeFunctor(api->pVR_atom_from_string("-"), 2);
  for (int t = lo; t <= hi; t++) {
    indexical_info *first = fd_indexicals(def, t);
    /* Those whose pruned argument is bound, last first... */
    int n = 0;
    for (indexical_info *ix = first; ix != nullptr; ix = ix->next)
      n++;
    for (int k = n - 1; k >= 0; k--) {
      indexical_info *ix = first;
      for (int i = 0; i < k; i++)
        ix = ix->next;
      if (!IsVar(goal_arg(deref(w->term[0]), ix->pruned)))
        post_indexical(env, w, ix, t, coref, ix_functor, iff_functor, minus_functor);
    }
    /* ...then the others in order. */
    for (indexical_info *ix = first; ix != nullptr; ix = ix->next)
      if (IsVar(goal_arg(deref(w->term[0]), ix->pruned)))
        post_indexical(env, w, ix, t, coref, ix_functor, iff_functor, minus_functor);
  }
}

void prolog_fd_unify_vrenv_multi_vr(VREnv *env, VR_term_ref x, VR_term_ref y)
{
  auto *api = env->dispatch_API_VOSTREL_H;
  worker *w = fd_current_worker(env);
  fd_state *fd = fd_state_of(env);
  TAGGED *const mark = w->trail_top;
  const std::uint32_t woken_before = w->wake_count;
  if (!fd_cunify(env, w, slot(w, x), slot(w, y))) {
    api->pVR_fail();
    return;
  }
  if (w->wake_count == woken_before)
    return;

  /* The constrained variables this unification bound: the binding entries
     above mark whose cell is a constrained variable's. */
  auto woken = [&](TAGGED *p) { return TagToRef(*p)[-1] == CVA_MARKER; };
  int n = 0;
  for (TAGGED *p = mark; p < w->trail_top; p++) {
    if (trail_starts_mutable(*p)) {
      p += TRAIL_MUTABLE_WORDS - 1;
      continue;
    }
    if (!trail_is_binding(*p) || !woken(p))
      continue;
    if (!IsSmall(deref(*TagToRef(*p))) || !fd_pure_attributes(env, *p, fd->fd_module)) {
      prolog_fd_begin_vrenv_multi_vr(env);
      return;
    }
    n++;
  }

  /* Take the wake-up over: remember (attribute, value) of each, and drop
     the entries that no choicepoint needs. */
  const VR_term_ref pairs = api->pVR_new_term_refs(2 * (n > 0 ? n : 1));
  int k = 0;
  TAGGED *to = mark;
  for (TAGGED *p = mark; p < w->trail_top; p++) {
    if (trail_starts_mutable(*p)) {
      for (unsigned i = 0; i < TRAIL_MUTABLE_WORDS; i++)
        *to++ = p[i];
      p += TRAIL_MUTABLE_WORDS - 1;
      continue;
    }
    if (trail_is_binding(*p) && woken(p)) {
      const TAGGED attr = fd_get_attributes(env, *p, fd->fd_module);
      slot(w, pairs + 2 * k) = attr == 0 ? atom_nil : attr;
      slot(w, pairs + 2 * k + 1) = deref(*TagToRef(*p));
      k++;
      if (TagToRef(*p) >= w->global_uncond)
        continue;
    }
    *to++ = *p;
  }
  w->trail_top = to;
  w->wake_count = woken_before;
  if (woken_before == 0)
    w->heap_warn_soft = w->int_heap_warn;

  prolog_fd_begin_vrenv_multi_vr(env);
  for (int i = 0; i < k; i++) {
    const TAGGED attr = deref(slot(w, pairs + 2 * i));
    if (attr == atom_nil)
      continue;
    const TAGGED last = fd_last_attribute(attr);
    if (!set_singleton(env, w, slot(w, pairs + 2 * i + 1), deref(arg(last, FD_ATTR_DOM)))) {
      api->pVR_fail();
      return;
    }
    const TAGGED lists = deref(arg(fd_last_attribute(deref(slot(w, pairs + 2 * i))), FD_ATTR_LISTS));
    fd_enqueue_all(env, w, FD_WAKE_FAST, 0, lists);
  }
  api->pVR_reset_term_refs(pairs);
}
