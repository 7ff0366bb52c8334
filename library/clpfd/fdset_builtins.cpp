/* fdset_builtins.cpp: the FD-set built-ins (see fdset_builtins.h).
 *
 * Each call that builds a set restarts the number stack (numstack_end :=
 * null), computes there, moves every heap cell of the result off the heap
 * (fd_localize: the copy to the heap may collect) and copies it to the
 * heap (fd_globalize).  Term words are read from the term references only
 * after the last point where the heap may move.
 */
#include "fdset_builtins.h"

#include "fdsets.h"
#include "overflow.h"

namespace {

inline TAGGED ref_term(worker *w, VR_term_ref r) { return deref(w->fli_stack_start[r].term); }

inline void fail_call(VREnv *env) { env->dispatch_API_VOSTREL_H->pVR_fail(); }

/* A bound word that $fd_range/4 accepts. */
inline bool is_bound_word(TAGGED t) { return IsSmall(t) || t == atom_inf || t == atom_sup; }

/* The number-stack result r copied to the heap and unified with out. */
void give_set(VREnv *env, worker *w, TAGGED r, VR_term_ref out)
{
  r = fd_globalize(env, w, fd_localize(env, w, r), 0);
  if (!fd_cunify(env, w, ref_term(w, out), r))
    fail_call(env);
}

/* The common shape: one or two set operands, a set result. */
template <typename Op>
void set_operation(VREnv *env, VR_term_ref a, VR_term_ref b, VR_term_ref out, Op op)
{
  worker *w = fd_current_worker(env);
  w->numstack_end = nullptr;
  const TAGGED d1 = fd_plain_set(env, w, ref_term(w, a));
  const TAGGED d2 = fd_plain_set(env, w, ref_term(w, b));
  if (d1 == 0 || d2 == 0)
    return fail_call(env);
  give_set(env, w, op(w, d1, d2), out);
}

/* The common shape with an integer operand. */
template <typename Op>
void value_operation(VREnv *env, VR_term_ref set, VR_term_ref value, VR_term_ref out, Op op)
{
  worker *w = fd_current_worker(env);
  w->numstack_end = nullptr;
  const TAGGED d = fd_plain_set(env, w, ref_term(w, set));
  const TAGGED v = ref_term(w, value);
  if (d == 0 || !IsSmall(v))
    return fail_call(env);
  give_set(env, w, op(w, d, v), out);
}

} // namespace

long prolog_fd_size_vrenv_multi_vr(VREnv *env, VR_term_ref set, VR_term_ref size)
{
  worker *w = fd_current_worker(env);
  std::int64_t n;
  bool plain;
  if (!fd_check_set(ref_term(w, set), &n, &plain))
    return 0;
  const TAGGED s = n < 0 || n > SMALL_MAX ? atom_sup : MakeSmall_checked(static_cast<VR_INTEGER>(n));
  return fd_cunify(env, w, ref_term(w, size), s) ? 1 : 0;
}

long prolog_fd_range_vrenv_multi_vr(VREnv *env, VR_term_ref a, VR_term_ref b, VR_term_ref set)
{
  worker *w = fd_current_worker(env);
  fd_heap_room(env, w, 4);
  const TAGGED lo = ref_term(w, a), hi = ref_term(w, b);
  if (!is_bound_word(lo) || !is_bound_word(hi))
    return 0;
  TAGGED r = fd_empty_set;
  const bool empty = hi == atom_inf || lo == atom_sup ||
                     (IsSmall(lo) && IsSmall(hi) && GetSmall(hi) < GetSmall(lo));
  if (!empty) {
    TAGGED *p = w->global_top;
    w->global_top += 4;
    p[0] = MakeLST(p + 2);
    p[1] = fd_empty_set;
    p[2] = lo;
    p[3] = hi;
    r = MakeLST(p);
  }
  return fd_cunify(env, w, ref_term(w, set), r) ? 1 : 0;
}

long prolog_fd_cons_vrenv_multi_vr(VREnv *env, VR_term_ref a, VR_term_ref b, VR_term_ref rest, VR_term_ref set)
{
  worker *w = fd_current_worker(env);
  fd_heap_room(env, w, 4);
  const TAGGED lo = ref_term(w, a), hi = ref_term(w, b), tail = ref_term(w, rest);
  if (!(IsSmall(lo) || lo == atom_inf) || !(IsSmall(hi) || hi == atom_sup))
    return 0;
  if (IsSmall(lo) && IsSmall(hi) && GetSmall(hi) < GetSmall(lo))
    return 0;
  if (tail != fd_empty_set) {
    /* B + 1 must lie below the rest's minimum. */
    if (!IsList(tail) || !IsSmall(hi))
      return 0;
    const TAGGED iv = deref(fd_first_interval(tail));
    if (!IsList(iv))
      return 0;
    const TAGGED next = deref(fd_interval_min(iv));
    if (!IsSmall(next) || GetSmall(hi) + 1 >= GetSmall(next))
      return 0;
  }
  TAGGED *p = w->global_top;
  w->global_top += 4;
  p[0] = MakeLST(p + 2);
  p[1] = tail;
  p[2] = lo;
  p[3] = hi;
  return fd_cunify(env, w, ref_term(w, set), MakeLST(p)) ? 1 : 0;
}

void prolog_fd_dom_complement_vrenv_multi_vr(VREnv *env, VR_term_ref d1, VR_term_ref d)
{
  worker *w = fd_current_worker(env);
  w->numstack_end = nullptr;
  const TAGGED s = fd_plain_set(env, w, ref_term(w, d1));
  if (s == 0)
    return fail_call(env);
  fd_state *st = fd_state_of(env);
  st->fd_overflow = 0;
  /* Three spare words for the goal to blame. */
  const TAGGED r = fd_globalize(env, w, fd_localize(env, w, fd_complement(env, w, s)), 3);
  if (st->fd_overflow) {
    const TAGGED name = env->dispatch_API_VOSTREL_H->pVR_atom_from_string("fdset_complement");
    TAGGED *p = w->global_top;
    w->global_top += 3;
    p[0] = MakeFunctor(name, 2);
    p[1] = PointerToTerm(p + 1);
    p[2] = PointerToTerm(p + 2);
    fd_check_overflow(env, MakeSTR(p));
    return;
  }
  if (!fd_cunify(env, w, ref_term(w, d), r))
    fail_call(env);
}

void prolog_fd_dom_subtract_vrenv_multi_vr(VREnv *env, VR_term_ref d1, VR_term_ref d2, VR_term_ref d)
{
  set_operation(env, d1, d2, d, [env](worker *w, TAGGED x, TAGGED y) { return fd_subtract(env, w, x, y); });
}

void prolog_fd_dom_intersection_vrenv_multi_vr(VREnv *env, VR_term_ref d1, VR_term_ref d2, VR_term_ref d)
{
  set_operation(env, d1, d2, d, [env](worker *w, TAGGED x, TAGGED y) { return fd_intersection(env, w, x, y); });
}

void prolog_fd_dom_union_vrenv_multi_vr(VREnv *env, VR_term_ref d1, VR_term_ref d2, VR_term_ref d)
{
  set_operation(env, d1, d2, d, [env](worker *w, TAGGED x, TAGGED y) { return fd_union(env, w, x, y); });
}

void prolog_fd_dom_contains_vrenv_multi_vr(VREnv *env, VR_term_ref set, VR_term_ref value)
{
  worker *w = fd_current_worker(env);
  w->numstack_end = nullptr;
  const TAGGED d = fd_plain_set(env, w, ref_term(w, set));
  const TAGGED v = ref_term(w, value);
  if (d == 0 || !IsSmall(v) || !fd_member(v, d))
    fail_call(env);
}

void prolog_fd_dom_insert_vrenv_multi_vr(VREnv *env, VR_term_ref d1, VR_term_ref value, VR_term_ref d)
{
  value_operation(env, d1, value, d, [env](worker *w, TAGGED s, TAGGED v) { return fd_insert_into(env, w, v, s); });
}

void prolog_fd_dom_delete_vrenv_multi_vr(VREnv *env, VR_term_ref d1, VR_term_ref value, VR_term_ref d)
{
  value_operation(env, d1, value, d, [env](worker *w, TAGGED s, TAGGED v) { return fd_delete(env, w, s, v); });
}

long prolog_fd_dom_intersect_vrenv_multi_vr(VREnv *env, VR_term_ref d1, VR_term_ref d2)
{
  worker *w = fd_current_worker(env);
  w->numstack_end = nullptr;
  const TAGGED s1 = fd_plain_set(env, w, ref_term(w, d1));
  const TAGGED s2 = fd_plain_set(env, w, ref_term(w, d2));
  if (s1 == 0 || s2 == 0) {
    fail_call(env);
    return 0;
  }
  switch (fd_compare(s1, s2)) {
  case FD_DISJOINT:
    return 1;
  case FD_EQUAL:
  case FD_SUBSET:
    return 2;
  case FD_SUPERSET:
    /* A set and the empty set share nothing: disjoint, not intersecting. */
    return fd_is_empty(s2) ? 1 : 3;
  default:
    return 3;
  }
}

void prolog_fd_negate_vrenv_multi_vr(VREnv *env, VR_term_ref set, VR_term_ref offset, VR_term_ref d)
{
  value_operation(env, set, offset, d, [env](worker *w, TAGGED s, TAGGED off) { return fd_neg_offset(env, w, s, off); });
}
