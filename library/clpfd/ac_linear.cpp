/* ac_linear.cpp: the domain-consistent linear equation (see ac_linear.h).
 *
 * Partial sums: s(0) = -rhs, s(k+1) = s(k) + c(k)*x(k); the equation
 * holds when s(n) = 0.  eval_interval(k, b1, e1) gives the values of s(k)
 * in b1..e1 that the terms k..n-1 can complete to 0, walking the terms left
 * to right over sets of partial sums, an interval of sums and an interval
 * of x(k) at a time for unit coefficients, value by value otherwise.  On
 * the way it records which values of x(k) took part in a completion
 * (`unsupported` loses them) and memoises per term the sums known to
 * complete (`succeeded`, this run only) and those known not to
 * (`failed`).  A sum that failed keeps failing while domains only shrink,
 * so `failed` survives the run in the term's mutable: it grows along a
 * branch of the search, and backtracking restores it (fd_update_mutable
 * trails the old value).
 *
 * Terms from `nrelevant` on need no more support: once every later term's
 * values are supported, a sum that can complete is enough and the search
 * stops early.  min[k]..max[k] bound the feasible s(k+1), from the bounds
 * of the terms on both sides; the walk never leaves them, so every set it
 * builds holds small integers.  Bounds of partial sums beyond the small
 * integers are an overflow (the overflow mode decides: error or failure).
 *
 * Order within a run: the output state and the block first (they may
 * grow the heap), then the caches are filled and the walk runs on the
 * number stack; the grown memos are moved off the heap and the caches
 * settled before the first heap allocation (storing a memo, writing a
 * domain back), which may collect.
 */
#include "ac_linear.h"

#include <cstdint>

#include "bounds.h"
#include "dvar.h"
#include "fd_attribute.h"
#include "fdsets.h"
#include "globals.h"

namespace {

typedef long long sum_t;

inline TAGGED arg(TAGGED t, int i) { return TagToSTR(t)[i]; }
inline TAGGED &slot(worker *w, VR_term_ref r) { return w->fli_stack_start[r].term; }
inline int arity_of(TAGGED t) { return static_cast<int>(Arity(*TagToSTR(t))); }
inline TAGGED tag(sum_t v) { return MakeSmall_checked(static_cast<VR_INTEGER>(v)); }
inline sum_t val(TAGGED t) { return GetSmall(t); }
inline bool small(sum_t v) { return v >= SMALL_MIN && v <= SMALL_MAX; }

constexpr int LIVE = 3; /* registers 0..2: state, item, Actions accumulator */
constexpr int REFS_PER_TERM = 4; /* attribute, variable, failed mutable, spare */

/* Sums of many products stay far inside 64 bits by saturating here: any
   saturated value lies outside the small integers and reads as an
   overflow. */
constexpr sum_t SUM_LIMIT = sum_t{1} << 60;
inline sum_t sat_add(sum_t a, sum_t b)
{
  const sum_t s = a + b;
  return s > SUM_LIMIT ? SUM_LIMIT : s < -SUM_LIMIT ? -SUM_LIMIT : s;
}

sum_t floor_div(sum_t a, sum_t b)
{
  sum_t q = a / b;
  if (a % b != 0 && ((a < 0) != (b < 0)))
    q--;
  return q;
}
sum_t ceil_div(sum_t a, sum_t b)
{
  sum_t q = a / b;
  if (a % b != 0 && ((a < 0) == (b < 0)))
    q++;
  return q;
}

struct ac_term {
  dvar dv;
  long coeff;
  TAGGED min, max;    /* bounds of the feasible s(k+1) */
  TAGGED failed;      /* sums s(k) known not to complete */
  TAGGED succeeded;   /* sums s(k) known to complete, this run */
  TAGGED unsupported; /* values of x(k) in no solution seen yet */
  TAGGED loaded;      /* failed as read from the mutable */
};

struct ac_linear_data {
  daemon_frame frame; /* destructor only: the constraint has no daemons */
  VREnv *vrenv;
  VR_globref refbase;
  long stamp;
  int nvars;
  int nrelevant;
  long rhs;
  TAGGED singleton_zero;
  ac_term *term;
};

inline VR_globref term_ref(const ac_linear_data *d, int k, int which)
{
  return d->refbase + REFS_PER_TERM * k + which;
}

void ac_linear_destructor(void *block)
{
  auto *d = static_cast<ac_linear_data *>(block);
  if (d->nvars > 0)
    d->vrenv->dispatch_API_VOSTREL_H->pVR_free_globrefs(d->refbase);
  d->vrenv->dispatch_API_VOSTREL_H->pVR_free(d);
}

/* Whether the state in register 0 is one this function can run: N
   records t(C, X, A, M) with C a non-zero small integer and M a mutable,
   Rhs a small integer. */
bool state_ok(TAGGED s, long *n)
{
  const TAGGED nt = deref(arg(s, 2)), rhs = deref(arg(s, 3));
  if (!IsSmall(nt) || GetSmall(nt) < 0 || !IsSmall(rhs))
    return false;
  *n = GetSmall(nt);
  TAGGED list = deref(arg(s, 1));
  for (long k = 0; k < *n; k++, list = deref(TagToLST(list)[1])) {
    if (!IsList(list))
      return false;
    const TAGGED r = deref(TagToLST(list)[0]);
    if (!IsStructure(r) || arity_of(r) != 4)
      return false;
    const TAGGED c = deref(arg(r, 1)), m = deref(arg(r, 4));
    if (!IsSmall(c) || c == MakeSmall_checked(0) || !IsStructure(m))
      return false;
  }
  return list == atom_nil;
}

ac_linear_data *ac_linear_post(VREnv *env, worker *w, TAGGED handle, int n)
{
  const std::size_t bytes = sizeof(ac_linear_data) + static_cast<std::size_t>(n) * sizeof(ac_term);
  auto *d = static_cast<ac_linear_data *>(fd_perm_alloc(env, w, bytes, handle));
  d->frame.destructor = &ac_linear_destructor;
  d->frame.daemon = nullptr;
  d->vrenv = env;
  d->nvars = n;
  d->term = reinterpret_cast<ac_term *>(d + 1);
  d->refbase = n > 0 ? env->dispatch_API_VOSTREL_H->pVR_alloc_globrefs(REFS_PER_TERM * n) : nullptr;
  const TAGGED s = deref(w->term[0]);
  d->rhs = GetSmall(deref(arg(s, 3)));
  TAGGED list = deref(arg(s, 1));
  for (int k = 0; k < n; k++, list = deref(TagToLST(list)[1])) {
    const TAGGED r = deref(TagToLST(list)[0]);
    d->term[k].coeff = GetSmall(deref(arg(r, 1)));
    term_ref(d, k, 0)->term = arg(r, 3);
    term_ref(d, k, 1)->term = deref(arg(r, 2));
    term_ref(d, k, 2)->term = deref(arg(r, 4));
    term_ref(d, k, 3)->term = atom_nil;
  }
  return d;
}

/* {v - off : v in r}; the caller knows the results are small integers. */
TAGGED shifted(VREnv *env, worker *w, TAGGED r, sum_t off)
{
  if (off == 0)
    return r;
  FDCONS cons;
  fdcons_init(&cons);
  for (; !fd_is_empty(r); r = fd_rest(r)) {
    const TAGGED iv = fd_first_interval(r);
    fdcons_add_interval(env, &cons, w, tag(val(fd_interval_min(iv)) - off), tag(val(fd_interval_max(iv)) - off));
  }
  return cons.head;
}

/* dom within a..b, each end clipped to the small integers first. */
TAGGED dom_within(VREnv *env, worker *w, TAGGED dom, sum_t a, sum_t b)
{
  if (a < SMALL_MIN)
    a = SMALL_MIN;
  if (b > SMALL_MAX)
    b = SMALL_MAX;
  if (a > b || fd_is_empty(dom))
    return fd_empty_set;
  return fd_intersection_interval(env, w, dom, tag(a), tag(b));
}

inline TAGGED add_interval(VREnv *env, worker *w, TAGGED set, sum_t a, sum_t b)
{
  return a > b ? set : fd_union_interval(env, w, set, tag(a), tag(b));
}

/* Whether set holds all of b..e. */
inline bool covers(TAGGED set, sum_t b, sum_t e)
{
  const int rel = fd_compare_interval(set, tag(b), tag(e));
  return rel == FD_EQUAL || rel == FD_SUPERSET;
}

/* The values s of b1..e1 for which s + c(k)*x(k) + ... + c(n-1)*x(n-1) =
   0 has a solution within the current domains (see the file comment). */
TAGGED eval_interval(VREnv *env, ac_linear_data *d, worker *w, int k, sum_t b1, sum_t e1)
{
  if (k == d->nvars)
    return d->singleton_zero;
  if (b1 > e1)
    return fd_empty_set;
  /* The rest needs no support and its sum is forced to an extreme of its
     bounds, which the domains reach. */
  if (k > 0 && k >= d->nrelevant && d->term[k - 1].min == d->term[k - 1].max) {
    const sum_t t = val(d->term[k - 1].min);
    return t >= b1 && t <= e1 ? fd_interval(env, w, tag(t), tag(t)) : fd_empty_set;
  }
  ac_term *t = &d->term[k];
  const sum_t c = t->coeff;
  const sum_t lo = val(t->min), hi = val(t->max);
  if (t->dv.flags & DV_FIXED) {
    const sum_t l = c * val(t->dv.min);
    const sum_t b = b1 + l < lo ? lo : b1 + l, e = e1 + l > hi ? hi : e1 + l;
    if (b > e)
      return fd_empty_set;
    return shifted(env, w, eval_interval(env, d, w, k + 1, b, e), l);
  }
  const TAGGED window_less_known = fd_interval_subtract(env, w, tag(b1), tag(e1), t->succeeded);
  const TAGGED pending = fd_subtract(env, w, window_less_known, t->failed);
  TAGGED values = fd_intersection_interval(env, w, t->succeeded, tag(b1), tag(e1));
  TAGGED newx = fd_empty_set;
  const TAGGED dom = dvar_set(env, &t->dv, w);
  const bool cutoff = k >= d->nrelevant;
  /* s(k+1) forced to lo: the sum is settled without asking the terms
     after k, which is right only when they need no support (always for
     the last term, whose s(k+1) is 0).  Otherwise they are asked with the
     window {lo}, so that their values at the forced extreme are marked
     supported; skipping them would leave every value of theirs
     unsupported and prune their domains empty. */
  const bool forced = lo == hi && k + 1 >= d->nrelevant;
  for (TAGGED p = pending; !fd_is_empty(p); p = fd_rest(p)) {
    const sum_t b2 = val(fd_interval_min(fd_first_interval(p)));
    const sum_t e2 = val(fd_interval_max(fd_first_interval(p)));
    if (forced && (c == 1 || c == -1)) {
      /* x is fixed by s: x = lo - s (c = 1) or s - lo (c = -1). */
      const TAGGED xs = c == 1 ? dom_within(env, w, dom, lo - e2, lo - b2) : dom_within(env, w, dom, b2 - lo, e2 - lo);
      for (TAGGED x = xs; !fd_is_empty(x); x = fd_rest(x)) {
        const sum_t p3 = val(fd_interval_min(fd_first_interval(x)));
        const sum_t q3 = val(fd_interval_max(fd_first_interval(x)));
        newx = add_interval(env, w, newx, p3, q3);
        values = c == 1 ? add_interval(env, w, values, lo - q3, lo - p3) : add_interval(env, w, values, p3 + lo, q3 + lo);
      }
      continue;
    }
    /* The x for which s + c*x can lie in lo..hi for some s in b2..e2. */
    const sum_t xmin = c > 0 ? ceil_div(lo - e2, c) : ceil_div(hi - b2, c);
    const sum_t xmax = c > 0 ? floor_div(hi - b2, c) : floor_div(lo - e2, c);
    if (xmin > xmax)
      continue;
    const TAGGED xs = dom_within(env, w, dom, xmin, xmax);
    if (c == 1 || c == -1) {
      for (TAGGED x = xs; !fd_is_empty(x); x = fd_rest(x)) {
        if (cutoff && covers(values, b2, e2))
          break;
        const sum_t b3 = val(fd_interval_min(fd_first_interval(x)));
        const sum_t e3 = val(fd_interval_max(fd_first_interval(x)));
        const sum_t wb = c == 1 ? b2 + b3 : b2 - e3, we = c == 1 ? e2 + e3 : e2 - b3;
        const TAGGED r = eval_interval(env, d, w, k + 1, wb < lo ? lo : wb, we > hi ? hi : we);
        for (TAGGED q = r; !fd_is_empty(q); q = fd_rest(q)) {
          const sum_t b4 = val(fd_interval_min(fd_first_interval(q)));
          const sum_t e4 = val(fd_interval_max(fd_first_interval(q)));
          if (c == 1) {
            values = add_interval(env, w, values, b4 - e3 > b2 ? b4 - e3 : b2, e4 - b3 < e2 ? e4 - b3 : e2);
            newx = add_interval(env, w, newx, b4 - e2 > b3 ? b4 - e2 : b3, e4 - b2 < e3 ? e4 - b2 : e3);
          } else {
            values = add_interval(env, w, values, b4 + b3 > b2 ? b4 + b3 : b2, e4 + e3 < e2 ? e4 + e3 : e2);
            newx = add_interval(env, w, newx, b2 - e4 > b3 ? b2 - e4 : b3, e2 - b4 < e3 ? e2 - b4 : e3);
          }
        }
      }
      continue;
    }
    FDITER it;
    fditer_init(&it, xs);
    while (it.cur != FDITER_END) {
      if (cutoff && covers(values, b2, e2))
        break;
      const sum_t y = val(fditer_next(&it));
      const sum_t l = c * y;
      if (forced) {
        newx = add_interval(env, w, newx, y, y);
        values = add_interval(env, w, values, lo - l, lo - l);
        continue;
      }
      const sum_t wb = b2 + l < lo ? lo : b2 + l, we = e2 + l > hi ? hi : e2 + l;
      const TAGGED r = eval_interval(env, d, w, k + 1, wb, we);
      if (fd_is_empty(r))
        continue;
      newx = add_interval(env, w, newx, y, y);
      values = fd_union(env, w, values, shifted(env, w, r, l));
    }
  }
  if (!fd_is_empty(newx) && !fd_is_empty(t->unsupported) &&
      fd_compare(newx, t->unsupported) != FD_DISJOINT) {
    t->unsupported = fd_subtract(env, w, t->unsupported, newx);
    if (fd_is_empty(t->unsupported) && k + 1 == d->nrelevant) {
      int j = k - 1;
      while (j >= 0 && fd_is_empty(d->term[j].unsupported))
        j--;
      d->nrelevant = j + 1;
    }
  }
  t->succeeded = fd_union(env, w, t->succeeded, values);
  t->failed = fd_union(env, w, t->failed, fd_interval_subtract(env, w, tag(b1), tag(e1), values));
  return values;
}

/* Bounds of the partial sums (see the file comment): -1 when the
   equation has no solution within the bounds, -2 on an overflow, else
   0. */
int sum_bounds(ac_linear_data *d)
{
  const int n = d->nvars;
  /* Backwards: the bounds that the terms after k leave for s(k+1),
     saturated to inf and sup beyond the small integers. */
  sum_t after_min = 0, after_max = 0;
  for (int k = n - 1; k >= 0; k--) {
    ac_term *t = &d->term[k];
    if (!IsSmall(t->dv.min) || !IsSmall(t->dv.max))
      return -2;
    t->min = fd_from_order(-after_max);
    t->max = fd_from_order(-after_min);
    const sum_t a = t->coeff * val(t->dv.min), b = t->coeff * val(t->dv.max);
    after_min = sat_add(after_min, a < b ? a : b);
    after_max = sat_add(after_max, a < b ? b : a);
  }
  const sum_t s0 = -static_cast<sum_t>(d->rhs);
  if (s0 < -after_max || s0 > -after_min)
    return -1;
  if (!small(s0))
    return -2;
  /* Forwards: what the terms up to k can reach from s(0). */
  sum_t fmin = s0, fmax = s0;
  for (int k = 0; k < n; k++) {
    ac_term *t = &d->term[k];
    const sum_t a = t->coeff * val(t->dv.min), b = t->coeff * val(t->dv.max);
    fmin = sat_add(fmin, a < b ? a : b);
    fmax = sat_add(fmax, a < b ? b : a);
    const sum_t lo = fd_order(t->min) > fmin ? fd_order(t->min) : fmin;
    const sum_t hi = fd_order(t->max) < fmax ? fd_order(t->max) : fmax;
    if (lo > hi)
      return -1;
    if (!small(lo) || !small(hi))
      return -2;
    t->min = tag(lo);
    t->max = tag(hi);
  }
  return 0;
}

/* One run on the block; the entailment code. */
int ac_linear_run(VREnv *env, worker *w, ac_linear_data *d)
{
  const int n = d->nvars;
  d->nrelevant = 0;
  for (int k = 0; k < n; k++) {
    ac_term *t = &d->term[k];
    dvar_init(&t->dv, term_ref(d, k, 0), term_ref(d, k, 1));
    t->succeeded = fd_empty_set;
    if (t->dv.flags & DV_FIXED) {
      t->failed = t->loaded = t->unsupported = fd_empty_set;
      continue;
    }
    t->failed = t->loaded = fd_mutable_value(deref(term_ref(d, k, 2)->term));
    t->unsupported = dvar_set(env, &t->dv, w);
    d->nrelevant = k + 1;
  }
  switch (sum_bounds(d)) {
  case -1:
    return -1;
  case -2:
    fd_state_of(env)->fd_overflow = 1;
    return -1;
  }
  d->singleton_zero = fd_interval(env, w, tag(0), tag(0));
  const sum_t s0 = -static_cast<sum_t>(d->rhs);
  if (fd_is_empty(eval_interval(env, d, w, 0, s0, s0)))
    return -1;
  if (n == 0)
    return 1;
  /* Prune, then take every grown memo off the heap and settle the
     caches: nothing below may read a heap cell from before a collection. */
  for (int k = 0; k < n; k++) {
    ac_term *t = &d->term[k];
    if (t->dv.flags & DV_FIXED)
      continue;
    if (fd_is_empty(t->failed) || t->failed == t->loaded)
      t->loaded = 0; /* nothing to store */
    else
      t->failed = fd_localize(env, w, t->failed);
    if (k < d->nrelevant && !fd_is_empty(t->unsupported) && dvar_prune_set(env, &t->dv, t->unsupported, w) < 0)
      return -1;
  }
  for (int k = 0; k < d->nrelevant; k++)
    dvar_pruning_settle(env, w, &d->term[k].dv);
  int unfixed = 0;
  for (int k = 0; k < n; k++) {
    ac_term *t = &d->term[k];
    if (t->dv.flags & DV_FIXED)
      continue;
    unfixed++;
    if (t->loaded != 0) {
      const TAGGED h = fd_globalize(env, w, t->failed, 0, LIVE);
      fd_update_mutable(env, w, h, deref(term_ref(d, k, 2)->term));
    }
  }
  for (int k = 0; k < d->nrelevant; k++)
    dvar_export_changed(env, w, &d->term[k].dv);
  return unfixed < 2 ? 1 : 0;
}

} // namespace

void prolog_fd_ac_linear_vrenv_multi_vr(VREnv *env, VR_term_ref, VR_term_ref new_state, VR_term_ref actions)
{
  TAGGED handle;
  long stamp;
  int committed;
  worker *w = fd_run_begin(env, new_state, &handle, &stamp, &committed);
  ac_linear_data *d;
  if (IsVar(handle)) {
    long n;
    if (!state_ok(deref(w->term[0]), &n)) {
      dvar_export_done(env, w, actions, -1);
      return;
    }
    d = ac_linear_post(env, w, handle, static_cast<int>(n));
  } else {
    d = static_cast<ac_linear_data *>(fd_perm_data(handle));
  }
  fd_state_of(env)->gdata = d;
  d->stamp = stamp + 1;
  const int code = ac_linear_run(env, w, d);
  if (code == 1)
    fd_perm_free(env, w);
  dvar_export_done(env, w, actions, code);
}
