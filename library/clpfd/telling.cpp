/* telling.cpp: telling domains and waking (see telling.h).
 *
 * Every tell re-reads the attribute from argument register 3 after any
 * point where the heap may move (heap room is made with the five registers
 * 0..4 live).  A dom/4 term younger than the newest choicepoint is changed
 * in place; an older one is replaced through fd_update_mutable, so one
 * trail entry per choicepoint segment restores the domain.  A one-interval
 * domain keeps its interval in dom's own Min and Max words: the set's only
 * cell points at them.
 *
 * A variable that becomes fixed and carries nothing but the FD attribute
 * is bound here, directly: no wake-up is raised (the change is already
 * told), so the engine never hands the binding to the attribute's
 * unification handler.  Its trail entry goes below the entries of
 * wake-ups still pending (as the engine does for attribute changes), so
 * the engine's wake-up collector, which takes the newest wake_count
 * constrained bindings, still finds exactly the pending ones.
 */
#include "telling.h"

#include "dvar.h"
#include "fd_attribute.h"
#include "fdsets.h"
#include "initial_atoms.h"
#include "propagation.h"

namespace {

constexpr int LIVE = 5; /* registers 0..4 are kept across heap growth */
constexpr TAGGED functor_minus2 = MakeFunctor(MakeAtom(atom_minus_enum), 2);
constexpr TAGGED S1 = MakeSmall_checked(1);

inline TAGGED ref_term(worker *w, VR_term_ref r) { return deref(w->fli_stack_start[r].term); }
inline void fail_call(VREnv *env) { env->dispatch_API_VOSTREL_H->pVR_fail(); }
inline bool older_than_choice(const worker *w, const TAGGED *p) { return p < w->node_->global_top; }

/* The last DomMutable of the attribute in register 3. */
TAGGED dom_mutable(worker *w)
{
  TAGGED m = deref(TagToSTR(fd_last_attribute(w->term[FD_REG_ATTR]))[FD_ATTR_DOM]);
  for (TAGGED v = deref(TagToSTR(m)[1]); IsStructure(v) && *TagToSTR(v) == functor_Dmutable;
       v = deref(TagToSTR(v)[1]))
    m = v;
  return m;
}
inline TAGGED *dom_of(TAGGED dm) { return TagToSTR(deref(TagToSTR(dm)[1])); }

/* Size of lo..hi: a small integer below 2^28, else sup. */
TAGGED interval_size(TAGGED lo, TAGGED hi)
{
  if (!IsSmall(lo) || !IsSmall(hi))
    return atom_sup;
  const std::int64_t n = static_cast<std::int64_t>(GetSmall(hi)) - GetSmall(lo) + 1;
  return n < (std::int64_t{1} << 28) ? MakeSmall_checked(static_cast<VR_INTEGER>(n)) : atom_sup;
}

/* Stores the one-interval domain lo..hi into the mutable dm as a new
   7-word block: the set's cell, whose interval is the new dom/4's own Min
   and Max, then dom/4.  The heap room is the caller's. */
void replace_interval_dom(VREnv *env, worker *w, TAGGED dm, TAGGED lo, TAGGED hi, TAGGED size)
{
  TAGGED *h = w->global_top;
  h[0] = MakeLST(h + 4);
  h[1] = atom_nil;
  h[2] = fd_state_of(env)->functor_dom4;
  h[3] = MakeLST(h);
  h[4] = lo;
  h[5] = hi;
  h[6] = size;
  w->global_top = h + 7;
  fd_update_mutable(env, w, MakeSTR(h + 2), dm);
}

/* Stores the one-interval domain lo..hi: in place when the dom/4 term and
   its set's first cell are younger than the newest choicepoint, else as a
   new 7-word block (set cell, dom/4) stored into the mutable. */
void store_interval(VREnv *env, worker *w, TAGGED lo, TAGGED hi, TAGGED size)
{
  TAGGED dm = dom_mutable(w);
  TAGGED *dom = dom_of(dm);
  const TAGGED set = deref(dom[FD_DOM_SET]);
  if (!older_than_choice(w, dom) && IsList(set) && !older_than_choice(w, TagToLST(set)) &&
      TagToLST(set) >= w->heap_start) {
    dom[FD_DOM_MIN] = lo;
    dom[FD_DOM_MAX] = hi;
    dom[FD_DOM_SIZE] = size;
    TagToLST(set)[0] = MakeLST(dom + FD_DOM_MIN);
    TagToLST(set)[1] = atom_nil;
    return;
  }
  fd_heap_room(env, w, 135, LIVE);
  replace_interval_dom(env, w, dom_mutable(w), lo, hi, size);
}

/* The change code of a new domain with bounds lo..hi against the old. */
int bounds_change(const TAGGED *dom, TAGGED lo, TAGGED hi)
{
  int why = 1;
  if (lo != deref(dom[FD_DOM_MIN]))
    why |= 2 | 8;
  if (hi != deref(dom[FD_DOM_MAX]))
    why |= 4 | 8;
  return why;
}

int tell_set(VREnv *env, worker *w, TAGGED set, bool unsafe)
{
  if (fd_is_empty(set))
    return 0; /* never store an empty domain; callers fail before */
  if (fd_is_empty(fd_rest(set))) {
    const TAGGED lo = fd_min(set), hi = fd_interval_max(fd_first_interval(set));
    return fd_tell_interval(env, w, lo, hi, bounds_change(dom_of(dom_mutable(w)), lo, hi));
  }
  TAGGED size = MakeSmall_checked(0);
  std::int64_t n = 0;
  for (TAGGED s = set; !fd_is_empty(s); s = fd_rest(s)) {
    const TAGGED iv = fd_first_interval(s);
    const TAGGED b = fd_interval_min(iv), e = fd_interval_max(iv);
    if (!IsSmall(b) || !IsSmall(e)) {
      n = -1;
      break;
    }
    n += static_cast<std::int64_t>(GetSmall(e)) - GetSmall(b) + 1;
  }
  size = n < 0 || n >= (std::int64_t{1} << 28) ? atom_sup : MakeSmall_checked(static_cast<VR_INTEGER>(n));
  const TAGGED lo = fd_min(set);
  TAGGED hi = 0;
  for (TAGGED s = set; !fd_is_empty(s); s = fd_rest(s))
    hi = fd_interval_max(fd_first_interval(s));
  const bool overflow_before = fd_state_of(env)->fd_overflow != 0;
  fd_state_of(env)->fd_overflow = 0;
  const TAGGED heap_set = unsafe ? fd_globalize_unsafe(env, w, set, 5, LIVE)
                                 : fd_globalize(env, w, fd_localize(env, w, set), 5, LIVE);
  if (fd_state_of(env)->fd_overflow)
    return 0; /* an overflow interval: the domain is left as it was */
  fd_state_of(env)->fd_overflow = overflow_before;
  const TAGGED dm = dom_mutable(w);
  TAGGED *dom = dom_of(dm);
  const int why = bounds_change(dom, lo, hi);
  if (!older_than_choice(w, dom)) {
    dom[FD_DOM_SET] = heap_set;
    dom[FD_DOM_MIN] = lo;
    dom[FD_DOM_MAX] = hi;
    dom[FD_DOM_SIZE] = size;
    return why;
  }
  TAGGED *h = w->global_top; /* the 5 pad words of the copy */
  h[0] = fd_state_of(env)->functor_dom4;
  h[1] = heap_set;
  h[2] = lo;
  h[3] = hi;
  h[4] = size;
  w->global_top = h + 5;
  fd_update_mutable(env, w, MakeSTR(h), dm);
  return why;
}

/* Binds the fixed variable's cell to value; see the file comment. */
void bind_fixed(VREnv *env, worker *w, TAGGED var, TAGGED value)
{
  TAGGED *cell = TagToRef(var);
  *cell = value;
  if (!older_than_choice(w, cell))
    return;
  TAGGED *hole = w->trail_top++;
  if (w->heap_warn_soft == nullptr && w->wake_count != 0) {
    std::uint32_t moved = 0;
    TAGGED *p = hole;
    TAGGED *const low = w->trail_start + 1;
    while (moved < w->wake_count && p > low) {
      const TAGGED t = p[-1];
      if (trail_ends_mutable(t) && p - TRAIL_MUTABLE_WORDS >= low) {
        p -= TRAIL_MUTABLE_WORDS;
        continue;
      }
      p--;
      if (trail_is_binding(t) && TagToRef(t) >= w->heap_start && TagToRef(t) < w->global_top &&
          TagToRef(t)[-1] == CVA_MARKER) {
        *hole = t;
        hole = p;
        moved++;
      }
    }
  }
  *hole = var;
  fd_trail_room(env, w);
}

} // namespace

int fd_tell_value(VREnv *env, worker *w, TAGGED value)
{
  if (!IsSmall(value)) {
    fd_state_of(env)->fd_overflow = 1;
    return 0;
  }
  const TAGGED *dom = dom_of(dom_mutable(w));
  const bool at_min = deref(dom[FD_DOM_MIN]) == value, at_max = deref(dom[FD_DOM_MAX]) == value;
  const int why = at_min && at_max ? 25 : at_max ? 27 : at_min ? 29 : 31;
  store_interval(env, w, value, value, S1);
  return why;
}

int fd_tell_interval(VREnv *env, worker *w, TAGGED lo, TAGGED hi, int why)
{
  if (lo == hi)
    return fd_tell_value(env, w, lo);
  if (lo == atom_sup || hi == atom_inf) {
    fd_state_of(env)->fd_overflow = 1;
    return 0;
  }
  store_interval(env, w, lo, hi, interval_size(lo, hi));
  return why;
}

int fd_tell(VREnv *env, worker *w, TAGGED set) { return tell_set(env, w, set, false); }

int fd_tell_unsafe(VREnv *env, worker *w, TAGGED set) { return tell_set(env, w, set, true); }

void fd_told(VREnv *env, worker *w, int why, TAGGED filter)
{
  fd_state *st = fd_state_of(env);
  if (why & 6)
    why |= 8;
  const TAGGED *dom = dom_of(dom_mutable(w));
  const TAGGED value = deref(dom[FD_DOM_MIN]);
  if (deref(dom[FD_DOM_SIZE]) == S1)
    why |= 16;
  st->prunings++;
  const TAGGED attr = fd_last_attribute(w->term[FD_REG_ATTR]);
  const TAGGED lists_mutable = deref(TagToSTR(attr)[FD_ATTR_LISTS]);
  if (!IsStructure(lists_mutable))
    return; /* an integer's pseudo-attribute */
  const TAGGED *lists = TagToSTR(fd_attribute_lists(attr));
  int bits = why & static_cast<int>(GetSmall(deref(lists[FD_LISTS_MASK])));
  if (why & 16) {
    const TAGGED var = deref(w->term[FD_REG_VAR]);
    if (IsVar(var)) {
      if (fd_single_attribute(env, var, st->fd_module)) {
        bind_fixed(env, w, var, value);
      } else {
        fd_heap_room(env, w, 131, LIVE);
        TAGGED *h = w->global_top;
        h[0] = functor_minus2;
        h[1] = deref(w->term[FD_REG_VAR]);
        h[2] = value;
        w->global_top = h + 3;
        fd_enqueue_general(env, w, MakeSTR(h), 11);
      }
    }
    bits |= FD_WAKE_FAST;
  }
  if (bits & 0x1f) {
    const TAGGED lm = deref(TagToSTR(fd_last_attribute(w->term[FD_REG_ATTR]))[FD_ATTR_LISTS]);
    /* The wake-up may collect and keeps no argument register; the tells'
       callers (a global constraint's run: state, item, Actions) rely on
       registers 0 to 4, so they wait in term references meanwhile. */
    auto *api = env->dispatch_API_VOSTREL_H;
    const VR_term_ref keep = api->pVR_new_term_refs(LIVE);
    for (int i = 0; i < LIVE; i++)
      w->fli_stack_start[keep + i].term = w->term[i];
    fd_enqueue_all(env, w, bits, filter, lm);
    for (int i = 0; i < LIVE; i++)
      w->term[i] = w->fli_stack_start[keep + i].term;
    api->pVR_reset_term_refs(keep);
  }
}

int set_singleton(VREnv *env, worker *w, TAGGED value, TAGGED dom_mutable_)
{
  TAGGED dm = deref(dom_mutable_);
  for (TAGGED v = deref(TagToSTR(dm)[1]); IsStructure(v) && *TagToSTR(v) == functor_Dmutable;
       v = deref(TagToSTR(v)[1]))
    dm = v;
  TAGGED *dom = dom_of(dm);
  value = deref(value);
  if (!IsSmall(value) || !fd_member(value, deref(dom[FD_DOM_SET])))
    return 0;
  if (older_than_choice(w, dom)) {
    replace_interval_dom(env, w, dm, value, value, S1);
    return 1;
  }
  TAGGED *h = w->global_top;
  h[0] = MakeLST(dom + FD_DOM_MIN);
  h[1] = atom_nil;
  w->global_top = h + 2;
  dom[FD_DOM_SET] = MakeLST(h);
  dom[FD_DOM_MIN] = value;
  dom[FD_DOM_MAX] = value;
  dom[FD_DOM_SIZE] = S1;
  return 1;
}

/* ---- Built-ins ---- */

namespace {

/* Fills a cache from Var (making it a domain variable), loads registers
   1 with the attribute; null attribute for a term that can be none. */
bool init_cache(VREnv *env, worker *w, VR_term_ref var, dvar *dv)
{
  fd_heap_room(env, w, 414);
  const TAGGED attr = fd_check_argument(env, w, ref_term(w, var), atom_inf, atom_sup, atom_sup);
  if (attr == 0)
    return false;
  w->term[1] = attr;
  dvar_init_ix(dv, attr, ref_term(w, var));
  return true;
}

/* Ends a restricting built-in: a failure counts, and so does nothing
   else; a positive change is written back. */
void finish(VREnv *env, worker *w, dvar *dv, int result)
{
  if (result < 0) {
    fd_state_of(env)->failures++;
    return fail_call(env);
  }
  if (result > 0)
    dvar_export_ix(env, w, dv, 0);
}

inline bool is_bound_word(TAGGED t) { return IsSmall(t) || t == atom_inf || t == atom_sup; }

} // namespace

void prolog_fd_in_set_vrenv_multi_vr(VREnv *env, VR_term_ref var, VR_term_ref set, long init)
{
  worker *w = fd_current_worker(env);
  fd_state *st = fd_state_of(env);
  w->numstack_end = nullptr;
  TAGGED d = fd_plain_set(env, w, ref_term(w, set));
  if (d == 0 || fd_is_empty(d)) {
    st->failures++;
    return fail_call(env);
  }
  if (init)
    prolog_fd_begin_vrenv_multi_vr(env);
  const TAGGED v = ref_term(w, var);
  if (IsSmall(v)) {
    if (!fd_member(v, d)) {
      st->failures++;
      fail_call(env);
    }
    return;
  }
  fd_sync(env, w);
  dvar dv;
  if (!init_cache(env, w, var, &dv)) {
    st->failures++;
    return fail_call(env);
  }
  w->numstack_end = nullptr;
  d = fd_localize(env, w, fd_plain_set(env, w, ref_term(w, set)));
  const int r = fd_is_empty(fd_rest(d)) ? dvar_fix_interval_t(&dv, fd_min(d), fd_interval_max(fd_first_interval(d)))
                                        : dvar_fix_set(env, &dv, d, w);
  finish(env, w, &dv, r);
}

void prolog_fd_in_interval_vrenv_multi_vr(VREnv *env, VR_term_ref var, VR_term_ref min, VR_term_ref max, long init)
{
  worker *w = fd_current_worker(env);
  fd_state *st = fd_state_of(env);
  if (init)
    prolog_fd_begin_vrenv_multi_vr(env);
  const TAGGED lo = ref_term(w, min), hi = ref_term(w, max), v = ref_term(w, var);
  if (!is_bound_word(lo) || !is_bound_word(hi) || fd_order(lo) > fd_order(hi)) {
    st->failures++;
    return fail_call(env);
  }
  if (IsSmall(v)) {
    if (fd_order(v) < fd_order(lo) || fd_order(v) > fd_order(hi)) {
      st->failures++;
      fail_call(env);
    }
    return;
  }
  fd_sync(env, w);
  w->numstack_end = nullptr;
  dvar dv;
  if (!init_cache(env, w, var, &dv)) {
    st->failures++;
    return fail_call(env);
  }
  finish(env, w, &dv, dvar_fix_interval_t(&dv, ref_term(w, min), ref_term(w, max)));
}

long prolog_fd_tell_vrenv_multi_vr(VREnv *env, VR_term_ref var, VR_term_ref set)
{
  worker *w = fd_current_worker(env);
  w->numstack_end = nullptr;
  TAGGED d = fd_plain_set(env, w, ref_term(w, set));
  if (d == 0 || fd_is_empty(d)) {
    fail_call(env);
    return 0;
  }
  const TAGGED v = ref_term(w, var);
  if (IsSmall(v)) {
    if (!fd_member(v, d))
      fail_call(env);
    return 0;
  }
  fd_heap_room(env, w, 414);
  const TAGGED attr = fd_check_argument(env, w, ref_term(w, var), atom_inf, atom_sup, atom_sup);
  if (attr == 0) {
    fail_call(env);
    return 0;
  }
  w->term[FD_REG_ATTR] = attr;
  w->term[FD_REG_VAR] = ref_term(w, var);
  w->numstack_end = nullptr;
  d = fd_plain_set(env, w, ref_term(w, set));
  const TAGGED cur = deref(TagToSTR(fd_attribute_dom(attr))[FD_DOM_SET]);
  switch (fd_compare(cur, d)) {
  case FD_DISJOINT:
    fail_call(env);
    return 0;
  case FD_SUPERSET:
    return fd_tell_unsafe(env, w, d) & 7;
  case FD_INTERSECT:
    return fd_tell_unsafe(env, w, fd_intersection(env, w, cur, d)) & 7;
  default:
    return 0;
  }
}

void prolog_fd_set_singleton_vrenv_multi_vr(VREnv *env, VR_term_ref value, VR_term_ref dom_mutable_)
{
  worker *w = fd_current_worker(env);
  fd_heap_room(env, w, 16);
  if (!set_singleton(env, w, ref_term(w, value), ref_term(w, dom_mutable_)))
    fail_call(env);
}
