/* dvar.cpp: domain-variable caches (see dvar.h).
 *
 * A set cache's set may hold values outside min..max (bounds move without
 * touching the set); every reader clips to the bounds, and dvar_set trims
 * the set once when a caller needs it exact.  dvar_adjust_bounds is the
 * one place where the bounds of a set cache are recomputed from its set,
 * so that they always land on values of the domain.
 */
#include "dvar.h"

#include <cstdint>

#include "fd_attribute.h"
#include "initial_atoms.h"
#include "telling.h"

namespace {

inline std::int32_t ord(TAGGED t) { return fd_order(t); }

inline bool is_interval(const dvar *dv) { return (dv->flags & DV_INTERVAL) != 0; }

/* The set relation code seen from the other side. */
inline int mirror(int code) { return code == FD_SUPERSET ? FD_SUBSET : code == FD_SUBSET ? FD_SUPERSET : code; }

/* The exact relation of interval a..b to interval c..d (both non-empty). */
int interval_relation(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d)
{
  if (b < c || d < a)
    return FD_DISJOINT;
  if (a == c && b == d)
    return FD_EQUAL;
  if (a <= c && b >= d)
    return FD_SUPERSET;
  if (a >= c && b <= d)
    return FD_SUBSET;
  return FD_INTERSECT;
}

/* New bounds of a set cache, requested rmin..rmax (within the old ones),
   moved onto the values of its set. */
int dvar_adjust_bounds(Dvar dv, std::int32_t rmin, std::int32_t rmax)
{
  TAGGED s = dv->set;
  bool trimmed = false;
  /* The first interval that reaches rmin. */
  while (!fd_is_empty(s) && ord(fd_interval_max(fd_first_interval(s))) < rmin) {
    s = fd_rest(s);
    trimmed = true;
  }
  if (fd_is_empty(s))
    return -1;
  const TAGGED low_iv = fd_first_interval(s);
  const std::int32_t lo_b = ord(fd_interval_min(low_iv));
  if (lo_b > rmax)
    return -1;
  const std::int32_t nmin = rmin > lo_b ? rmin : lo_b;
  if (nmin != lo_b)
    trimmed = true;
  /* The last interval that starts at or below rmax. */
  TAGGED high = s;
  while (!fd_is_empty(fd_rest(high)) && ord(fd_interval_min(fd_first_interval(fd_rest(high)))) <= rmax)
    high = fd_rest(high);
  const std::int32_t hi_e = ord(fd_interval_max(fd_first_interval(high)));
  const std::int32_t nmax = rmax < hi_e ? rmax : hi_e;
  if (nmax != hi_e || !fd_is_empty(fd_rest(high)))
    trimmed = true;

  int result = 0;
  const TAGGED tmin = fd_from_order(nmin), tmax = fd_from_order(nmax);
  if (tmin != dv->min)
    result |= DV_CHANGED | DV_MIN;
  if (tmax != dv->max)
    result |= DV_CHANGED | DV_MAX;
  dv->min = tmin;
  dv->max = tmax;
  unsigned flags = dv->flags & ~(DV_INTERVAL | DV_SYNCED | DV_FIXED);
  if (high == s)
    flags |= DV_INTERVAL;
  if (!trimmed)
    flags |= DV_SYNCED;
  if (tmin == tmax) {
    flags |= DV_FIXED;
    if (result != 0)
      result |= DV_FIXED;
  }
  dv->flags = flags | (result & (DV_MIN | DV_MAX | DV_FIXED));
  return result;
}

} // namespace

void dvar_init_temp(Dvar dv, TAGGED min, TAGGED max)
{
  dv->min = min;
  dv->max = max;
  dv->set = 0;
  dv->cookie = 0;
  dv->attr_ref = nullptr;
  dv->var_ref = nullptr;
  dv->flags = min == max ? DV_INTERVAL | DV_FIXED : DV_INTERVAL;
}

bool dvar_contains_value_t(Dvar dv, TAGGED value)
{
  const std::int32_t v = ord(value);
  if (v < ord(dv->min) || v > ord(dv->max))
    return false;
  return is_interval(dv) || fd_member(value, dv->set);
}

TAGGED dvar_set(VREnv *env, Dvar dv, worker *w)
{
  if (dv->flags & DV_EXPORTED)
    return 0;
  if (!(dv->flags & DV_SYNCED)) {
    dv->set = is_interval(dv) ? fd_interval(env, w, dv->min, dv->max)
                              : fd_intersection_interval(env, w, dv->set, dv->min, dv->max);
    dv->flags |= DV_SYNCED;
  }
  return dv->set;
}

void dvar_assign(VREnv *env, Dvar dst, Dvar src, worker *w)
{
  dst->min = src->min;
  dst->max = src->max;
  dst->set = dvar_set(env, src, w);
  dst->flags = (src->flags & (DV_FIXED | DV_INTERVAL)) | DV_SYNCED;
}

int dvar_compare_set(VREnv *env, Dvar dv, TAGGED set, worker *w)
{
  if (is_interval(dv)) {
    if (fd_is_empty(set))
      return FD_SUPERSET;
    return mirror(fd_compare_interval(set, dv->min, dv->max));
  }
  return fd_compare(dvar_set(env, dv, w), set);
}

int dvar_compare_interval_t(VREnv *env, Dvar dv, TAGGED min, TAGGED max, worker *w)
{
  if (is_interval(dv))
    return interval_relation(ord(dv->min), ord(dv->max), ord(min), ord(max));
  return fd_compare_interval(dvar_set(env, dv, w), min, max);
}

TAGGED dvar_successor_t(Dvar dv, TAGGED value)
{
  const std::int32_t v = ord(value);
  if (v < ord(dv->min))
    return dv->min;
  if (v >= ord(dv->max))
    return atom_sup;
  if (is_interval(dv))
    return fd_from_order(static_cast<std::int64_t>(v) + 1);
  const TAGGED s = fd_successor(dv->set, value);
  return ord(s) > ord(dv->max) ? atom_sup : s;
}

TAGGED dvar_predecessor_t(Dvar dv, TAGGED value)
{
  const std::int32_t v = ord(value);
  if (v > ord(dv->max))
    return dv->max;
  if (v <= ord(dv->min))
    return atom_inf;
  if (is_interval(dv))
    return fd_from_order(static_cast<std::int64_t>(v) - 1);
  const TAGGED p = fd_predecessor(dv->set, value);
  return ord(p) < ord(dv->min) ? atom_inf : p;
}

namespace {

constexpr long PLAIN_SUP = 2147483647L;
constexpr long PLAIN_INF = -2147483647L;

TAGGED from_plain(long v)
{
  if (v < SMALL_MIN)
    return atom_inf;
  if (v > SMALL_MAX)
    return atom_sup;
  return MakeSmall_checked(static_cast<VR_INTEGER>(v));
}

long to_plain(TAGGED t)
{
  if (t == atom_inf)
    return PLAIN_INF;
  if (t == atom_sup)
    return PLAIN_SUP;
  return GetSmall(t);
}

} // namespace

long dvar_successor_l(Dvar dv, long value) { return to_plain(dvar_successor_t(dv, from_plain(value))); }

long dvar_predecessor_l(Dvar dv, long value) { return to_plain(dvar_predecessor_t(dv, from_plain(value))); }

int dvar_interval_count(Dvar dv)
{
  if (dv->flags & DV_EXPORTED)
    return 0;
  if (is_interval(dv))
    return 1;
  int n = 0;
  const std::int32_t lo = ord(dv->min), hi = ord(dv->max);
  for (TAGGED s = dv->set; !fd_is_empty(s); s = fd_rest(s)) {
    const TAGGED iv = fd_first_interval(s);
    if (ord(fd_interval_min(iv)) > hi)
      break;
    if (ord(fd_interval_max(iv)) >= lo)
      n++;
  }
  return n;
}

long dvar_value_count(Dvar dv)
{
  if (dv->flags & DV_EXPORTED)
    return 0;
  const std::int32_t lo = ord(dv->min), hi = ord(dv->max);
  if (is_interval(dv))
    return hi - lo + 1;
  long n = 0;
  for (TAGGED s = dv->set; !fd_is_empty(s); s = fd_rest(s)) {
    const TAGGED iv = fd_first_interval(s);
    const std::int32_t b = ord(fd_interval_min(iv)), e = ord(fd_interval_max(iv));
    if (b > hi)
      break;
    const std::int32_t cb = b > lo ? b : lo, ce = e < hi ? e : hi;
    if (cb <= ce)
      n += ce - cb + 1;
  }
  return n;
}

/* ---- Iteration ---- */

namespace {

/* The end of the iterator's current interval, clipped to its max. */
std::int32_t current_end(const DVITER *it)
{
  if (it->fdset == 0)
    return ord(it->max);
  const std::int32_t e = ord(fd_interval_max(fd_first_interval(it->fdset)));
  return e < ord(it->max) ? e : ord(it->max);
}

/* On to the next interval (after the current one), or exhausted. */
void next_interval(DVITER *it)
{
  if (it->fdset == 0) {
    it->fdset = fd_empty_set;
    return;
  }
  const TAGGED rest = fd_rest(it->fdset);
  if (fd_is_empty(rest) || ord(fd_min(rest)) > ord(it->max)) {
    it->fdset = fd_empty_set;
    return;
  }
  it->fdset = rest;
  it->min = fd_min(rest);
}

} // namespace

void dviter_init(DVITER *it, Dvar dv)
{
  it->min = dv->min;
  it->max = dv->max;
  if (is_interval(dv)) {
    it->fdset = 0;
    return;
  }
  TAGGED s = dv->set;
  while (!fd_is_empty(s) && ord(fd_interval_max(fd_first_interval(s))) < ord(dv->min))
    s = fd_rest(s);
  it->fdset = s;
  if (!fd_is_empty(s) && ord(fd_min(s)) > ord(it->min))
    it->min = fd_min(s);
  if (!fd_is_empty(s) && ord(it->min) > ord(it->max))
    it->fdset = fd_empty_set;
}

TAGGED dviter_next_value_t(DVITER *it)
{
  const TAGGED v = it->min;
  if (ord(v) >= current_end(it))
    next_interval(it);
  else
    it->min = fd_from_order(static_cast<std::int64_t>(ord(v)) + 1);
  return v;
}

void dviter_next_interval_t(DVITER *it, TAGGED *min, TAGGED *max)
{
  *min = it->min;
  *max = fd_from_order(current_end(it));
  next_interval(it);
}

void dviter_next_interval_l(DVITER *it, long *min, long *max)
{
  TAGGED lo, hi;
  dviter_next_interval_t(it, &lo, &hi);
  *min = to_plain(lo);
  *max = to_plain(hi);
}

void dviter_skip_t(DVITER *it, TAGGED value)
{
  const std::int32_t v = ord(value);
  while (!dviter_empty(it) && v >= ord(it->min)) {
    if (v < current_end(it)) {
      it->min = fd_from_order(static_cast<std::int64_t>(v) + 1);
      return;
    }
    next_interval(it);
  }
}

/* ---- Pruning ---- */

int dvar_fix_interval_t(Dvar dv, TAGGED lb, TAGGED ub)
{
  const std::int32_t omin = ord(dv->min), omax = ord(dv->max);
  const std::int32_t rmin = ord(lb) > omin ? ord(lb) : omin;
  const std::int32_t rmax = ord(ub) < omax ? ord(ub) : omax;
  if (rmin == omin && rmax == omax)
    return 0;
  if (rmin > rmax)
    return -1;
  if (!is_interval(dv))
    return dvar_adjust_bounds(dv, rmin, rmax);
  int result = DV_CHANGED;
  if (rmin != omin)
    result |= DV_MIN;
  if (rmax != omax)
    result |= DV_MAX;
  dv->min = fd_from_order(rmin);
  dv->max = fd_from_order(rmax);
  dv->flags &= ~DV_SYNCED;
  if (rmin == rmax)
    result |= DV_FIXED;
  dv->flags |= result & (DV_MIN | DV_MAX | DV_FIXED);
  return result;
}

int dvar_fix_set(VREnv *env, Dvar dv, TAGGED set, worker *w)
{
  if (fd_is_empty(set))
    return -1;
  const int rel = dvar_compare_set(env, dv, set, w);
  if (rel == FD_DISJOINT)
    return -1;
  if (rel == FD_EQUAL || rel == FD_SUBSET)
    return 0;
  if (is_interval(dv) && rel == FD_SUPERSET)
    dv->set = set;
  else
    dv->set = fd_intersection(env, w, dvar_set(env, dv, w), set);
  dv->flags = (dv->flags & ~DV_INTERVAL) | DV_CHANGED;
  return dvar_adjust_bounds(dv, ord(dv->min), ord(dv->max)) | DV_CHANGED;
}

int dvar_prune_set(VREnv *env, Dvar dv, TAGGED set, worker *w)
{
  if (fd_is_empty(set))
    return 0;
  const int rel = dvar_compare_set(env, dv, set, w);
  if (rel == FD_DISJOINT)
    return 0;
  if (rel == FD_EQUAL || rel == FD_SUBSET)
    return -1;
  dv->set = fd_subtract(env, w, dvar_set(env, dv, w), set);
  dv->flags = (dv->flags & ~DV_INTERVAL) | DV_CHANGED;
  return dvar_adjust_bounds(dv, ord(dv->min), ord(dv->max)) | DV_CHANGED;
}

int dvar_prune_interval_t(VREnv *env, Dvar dv, TAGGED lb, TAGGED ub, worker *w)
{
  const std::int32_t lo = ord(lb), hi = ord(ub), omin = ord(dv->min), omax = ord(dv->max);
  if (lo > hi || hi < omin || lo > omax)
    return 0;
  if (lo <= omin && hi >= omax)
    return -1;
  if (lo <= omin) { /* cuts off the lower end */
    if (hi >= SMALL_MAX) {
      fd_state_of(env)->fd_overflow = 1;
      return -1;
    }
    return dvar_fix_interval_t(dv, fd_from_order(static_cast<std::int64_t>(hi) + 1), dv->max);
  }
  if (hi >= omax) { /* cuts off the upper end */
    if (lo <= SMALL_MIN) {
      fd_state_of(env)->fd_overflow = 1;
      return -1;
    }
    return dvar_fix_interval_t(dv, dv->min, fd_from_order(static_cast<std::int64_t>(lo) - 1));
  }
  /* A hole inside the bounds. */
  if (is_interval(dv)) {
    dv->set = fd_subtract_interval(env, w, fd_interval(env, w, dv->min, dv->max), lb, ub);
  } else {
    if (fd_compare_interval(dv->set, lb, ub) == FD_DISJOINT)
      return 0;
    dv->set = fd_subtract_interval(env, w, dv->set, lb, ub);
  }
  dv->flags = (dv->flags & ~(DV_INTERVAL | DV_SYNCED)) | DV_CHANGED;
  return DV_CHANGED;
}

int dvar_fix_min_safe(VREnv *env, Dvar dv, long lb)
{
  if (lb < SMALL_MIN || lb > SMALL_MAX) {
    fd_state_of(env)->fd_overflow = 1;
    return -1;
  }
  return dvar_fix_interval_t(dv, MakeSmall_checked(static_cast<VR_INTEGER>(lb)), atom_sup);
}

int dvar_fix_max_safe(VREnv *env, Dvar dv, long ub)
{
  if (ub < SMALL_MIN || ub > SMALL_MAX) {
    fd_state_of(env)->fd_overflow = 1;
    return -1;
  }
  return dvar_fix_interval_t(dv, atom_inf, MakeSmall_checked(static_cast<VR_INTEGER>(ub)));
}

void dvar_pruning_done(VREnv *env, worker *w, Dvar dv)
{
  if ((dv->flags & DV_CHANGED) && !is_interval(dv))
    dv->set = fd_localize(env, w, dvar_set(env, dv, w));
}

/* ---- Filling from a variable's attribute ---- */

namespace {

/* The words of a cache filled by dvar_init_ix: the terms themselves sit
   in the two reference fields. */
inline TAGGED ix_term(VR_globref r) { return static_cast<TAGGED>(reinterpret_cast<std::uintptr_t>(r)); }
inline VR_globref ix_ref(TAGGED t) { return reinterpret_cast<VR_globref>(static_cast<std::uintptr_t>(t)); }

void fill_from_attribute(Dvar dv, TAGGED attr)
{
  const TAGGED *dom = TagToSTR(fd_attribute_dom(attr));
  dv->set = deref(dom[FD_DOM_SET]);
  dv->min = deref(dom[FD_DOM_MIN]);
  dv->max = deref(dom[FD_DOM_MAX]);
  dv->cookie = deref(dom[FD_DOM_SIZE]);
  dv->flags = dv->cookie == MakeSmall_checked(1) ? DV_SYNCED | DV_FIXED : DV_SYNCED;
  if (fd_is_empty(fd_rest(dv->set)))
    dv->flags |= DV_INTERVAL;
}

constexpr int LIVE = 5; /* argument registers 0..4 hold live terms */

/* The current domain of the attribute in register 3. */
inline const TAGGED *current_dom(worker *w) { return TagToSTR(fd_attribute_dom(w->term[FD_REG_ATTR])); }

/* Prepends x to the Actions accumulator in register 2. */
void prepend_action(VREnv *env, worker *w, TAGGED x)
{
  TAGGED *h = w->global_top;
  h[0] = x;
  h[1] = w->term[2];
  w->global_top = h + 2;
  w->term[2] = MakeLST(h);
}

void prepend_fail(VREnv *env, worker *w)
{
  fd_heap_room(env, w, 130, LIVE);
  prepend_action(env, w, MakeAtom(atom_fail_enum));
}

/* Wakes after a reconciling tell, unless the variable got bound. */
void told_if_unbound(VREnv *env, worker *w, int why)
{
  if (why > 0 && IsVar(deref(w->term[FD_REG_VAR])))
    fd_told(env, w, why, 0);
}

} // namespace

void dvar_init(Dvar dv, VR_globref attr_ref, VR_globref var_ref)
{
  dv->attr_ref = attr_ref;
  dv->var_ref = var_ref;
  fill_from_attribute(dv, deref(attr_ref->term));
}

void dvar_init_ix(Dvar dv, TAGGED attr, TAGGED var)
{
  dv->attr_ref = ix_ref(attr);
  dv->var_ref = ix_ref(var);
  fill_from_attribute(dv, deref(attr));
}

/* ---- Writing back ---- */

void request_tell_value_fast(VREnv *env, worker *w, TAGGED value, TAGGED filter)
{
  const int why = fd_tell_value(env, w, value);
  if (why > 0)
    fd_told(env, w, why & 7, filter);
}

void request_tell_interval_fast(VREnv *env, worker *w, TAGGED min, TAGGED max, unsigned flags, TAGGED filter)
{
  const TAGGED d = deref(current_dom(w)[FD_DOM_SET]);
  int why;
  if (fd_is_empty(fd_rest(d)) || fd_compare_interval(d, min, max) != FD_INTERSECT)
    why = fd_tell_interval(env, w, min, max, 9 | static_cast<int>(flags & (DV_MIN | DV_MAX)));
  else
    why = fd_tell_unsafe(env, w, fd_intersection_interval(env, w, d, min, max));
  if (why > 0)
    fd_told(env, w, why & 7, filter);
}

void dvar_export_do(VREnv *env, worker *w, Dvar dv)
{
  fd_state *st = fd_state_of(env);
  const TAGGED set = (dv->flags & DV_INTERVAL) ? 0 : dvar_set(env, dv, w);
  dv->flags |= DV_EXPORTED;
  w->term[FD_REG_ATTR] = deref(dv->attr_ref->term);
  w->term[FD_REG_VAR] = deref(dv->var_ref->term);
  const bool fixed = (dv->flags & DV_FIXED) != 0;

  /* Nobody changed the domain since the cache was filled: tell the cache. */
  if (dv->cookie != atom_sup && !st->debugging && deref(current_dom(w)[FD_DOM_SIZE]) == dv->cookie) {
    if (fixed)
      request_tell_value_fast(env, w, dv->min, 0);
    else if (!(dv->flags & DV_CHANGED) || set == 0)
      request_tell_interval_fast(env, w, dv->min, dv->max, dv->flags, 0);
    else {
      const int why = fd_tell(env, w, set);
      if (why > 0)
        fd_told(env, w, why & 7, 0);
    }
    return;
  }

  /* Reconcile with the current domain D, keeping every value another
     propagator removed meanwhile. */
  const TAGGED d = deref(current_dom(w)[FD_DOM_SET]);
  if (fixed) {
    if (!fd_member(dv->min, d))
      return prepend_fail(env, w);
    if (st->debugging) {
      fd_heap_room(env, w, 133, LIVE);
      TAGGED *h = w->global_top;
      h[0] = st->functor_eq;
      h[1] = deref(w->term[FD_REG_VAR]);
      h[2] = dv->min;
      w->global_top = h + 3;
      return prepend_action(env, w, MakeSTR(h));
    }
    if (deref(current_dom(w)[FD_DOM_SIZE]) != MakeSmall_checked(1))
      told_if_unbound(env, w, fd_tell_value(env, w, dv->min));
    return;
  }
  if (st->debugging) {
    const TAGGED s = set != 0 ? set : fd_interval(env, w, dv->min, dv->max);
    const TAGGED hs = fd_globalize(env, w, fd_localize(env, w, s), 133, LIVE);
    TAGGED *h = w->global_top;
    h[0] = st->functor_in_set2;
    h[1] = deref(w->term[FD_REG_VAR]);
    h[2] = hs;
    w->global_top = h + 3;
    return prepend_action(env, w, MakeSTR(h));
  }
  const bool d_interval = fd_is_empty(fd_rest(d));
  if (set != 0) {
    switch (fd_compare(d, set)) {
    case FD_DISJOINT:
      return prepend_fail(env, w);
    case FD_SUPERSET:
      return told_if_unbound(env, w, fd_tell(env, w, set));
    case FD_INTERSECT: {
      const TAGGED r = d_interval ? fd_intersection_interval(env, w, set, fd_min(d), fd_interval_max(fd_first_interval(d)))
                                  : fd_intersection(env, w, d, set);
      return told_if_unbound(env, w, fd_tell(env, w, r));
    }
    default:
      return;
    }
  }
  switch (fd_compare_interval(d, dv->min, dv->max)) {
  case FD_DISJOINT:
    return prepend_fail(env, w);
  case FD_SUPERSET: {
    const TAGGED dmin = fd_min(d);
    TAGGED dmax = 0;
    for (TAGGED s = d; !fd_is_empty(s); s = fd_rest(s))
      dmax = fd_interval_max(fd_first_interval(s));
    int why = 1;
    if (dv->min != dmin)
      why |= 2;
    if (dv->max != dmax)
      why |= 4;
    return told_if_unbound(env, w, d_interval ? fd_tell_interval(env, w, dv->min, dv->max, why)
                                              : fd_tell(env, w, fd_intersection_interval(env, w, d, dv->min, dv->max)));
  }
  case FD_INTERSECT:
    return told_if_unbound(env, w, fd_tell(env, w, fd_intersection_interval(env, w, d, dv->min, dv->max)));
  default:
    return;
  }
}

void dvar_export_ix(VREnv *env, worker *w, Dvar dv, TAGGED filter)
{
  const TAGGED set = (dv->flags & (DV_CHANGED | DV_INTERVAL)) == DV_CHANGED ? dvar_set(env, dv, w) : 0;
  dv->flags |= DV_EXPORTED;
  w->term[FD_REG_ATTR] = deref(ix_term(dv->attr_ref));
  w->term[FD_REG_VAR] = deref(ix_term(dv->var_ref));
  if (dv->flags & DV_FIXED)
    return request_tell_value_fast(env, w, dv->min, filter);
  if (set == 0)
    return request_tell_interval_fast(env, w, dv->min, dv->max, dv->flags, filter);
  const int why = fd_tell_unsafe(env, w, set);
  if (why > 0)
    fd_told(env, w, why & 7, 0);
}
