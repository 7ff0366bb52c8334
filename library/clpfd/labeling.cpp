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
 */
#include "labeling.h"

#include "bounds.h"
#include "fd_attribute.h"

namespace {

inline TAGGED ref_term(worker *w, VR_term_ref r) { return deref(w->fli_stack_start[r].term); }
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
