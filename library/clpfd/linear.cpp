/* linear.cpp: the linear propagator, Σ Ci*Xi Op Rhs (see linear.h).
 *
 * Both variants run one algorithm, written once over the number type N:
 * long (single-word) or dword (multi-word, dword.h).  Per term j with
 * coefficient c: cmin[j] and cmax[j], the least and greatest value of
 * c*Xj, and interval[j] = cmax[j] - cmin[j] (0 exactly when Xj is
 * fixed).  The slacks F = rhs - Σ cmin and E = Σ cmax - rhs over the terms
 * not yet eliminated say how far the sum may still rise and fall; a term
 * whose interval exceeds F (E) can be narrowed by the =< (>=) side.  A
 * max-heap of terms keyed by interval puts the only candidate on top.
 * Equations also reason about divisibility: the gcd of the unfixed
 * coefficients must divide rhs, and a term whose coefficient is not a
 * multiple of the others' gcd m has its bounds moved onto the solutions
 * of c*x ≡ rhs (mod m).
 *
 * Block and stamps: the block (globals.h) holds the terms' references
 * (attribute, then variable), the sums and the per-term arrays.  Its
 * stamp is the stamp of the state for which F, E, rhs and the arrays are
 * current; daemons keep them current between runs and advance both
 * stamps together.  A run that finds another stamp (first run,
 * backtracking) rebuilds everything from the state's Rhs and Eliminated
 * and the first ntargets entries of target: only fixed terms are ever
 * moved behind ntargets, so after backtracking that prefix still holds
 * every term the older state had not eliminated.  rhs in the block is
 * always the right-hand side less every fixed term seen so far.
 *
 * Order within a run as in element.cpp: the block and the daemons are
 * made first (they may grow the heap), then the caches are filled, and
 * after dvar_pruning_settle no cache holds a heap cell.
 */
#include "linear.h"

#include <cstdint>

#include "bounds.h"
#include "dvar.h"
#include "dword.h"
#include "fd_attribute.h"
#include "globals.h"
#include "propagation.h"

long long solve_gcd(long long a, long long b, long long m)
{
  if (b == 0)
    return 0;
  if (b % a == 0)
    return b / a;
  return (b + m * solve_gcd(m % a, a - b % a, a)) / a;
}

namespace {

inline TAGGED arg(TAGGED t, int i) { return TagToSTR(t)[i]; }
inline TAGGED &slot(worker *w, VR_term_ref r) { return w->fli_stack_start[r].term; }

enum { OP_LE = 1, OP_GE = 2, OP_EQ = 3, OP_NE = 4, SINGLE_WORD = 8 };

/* ---- The two number types ----
   Single-word: plain longs; the posting side guarantees they never
   overflow and that every bound is finite.  Multi-word: dwords, whose sums
   set fd_overflow. */

inline void n_add(VREnv *, long *x, long y) { *x += y; }
inline void n_sub(VREnv *, long *x, long y) { *x -= y; }
inline int n_cmp(long x, long y) { return x < y ? -1 : x > y ? 1 : 0; }
inline int n_sign(long x) { return n_cmp(x, 0); }
inline long n_low(long x) { return x; }
inline void n_product(long c, TAGGED bound, long *z) { *z = c * GetSmall(bound); }
inline void n_read(TAGGED t, long *x) { *x = GetSmall(t); }
inline std::uint32_t n_mod(long x, std::uint32_t m)
{
  const long r = x % static_cast<long>(m);
  return static_cast<std::uint32_t>(r < 0 ? r + static_cast<long>(m) : r);
}
/* x / c exactly, when c divides x: the value or, beyond the small
   integers, false. */
inline bool n_quotient_small(VREnv *, long x, long c, long *q)
{
  *q = x / c;
  return *q >= SMALL_MIN && *q <= SMALL_MAX;
}
inline bool n_is_zero(long x) { return x == 0; }

inline void n_add(VREnv *env, dword *x, const dword &y) { add_ddd(env, x, &y, x); }
inline void n_sub(VREnv *env, dword *x, const dword &y) { sub_ddd(env, x, &y, x); }
inline int n_cmp(const dword &x, const dword &y) { return cmp_dd(&x, &y); }
inline int n_sign(const dword &x) { return sign_d(&x); }
inline void n_product(long c, TAGGED bound, dword *z) { mul_ltd(c, bound, z); }
inline void n_read(TAGGED t, dword *x) { add_ztd(t, x); }
inline std::uint32_t n_mod(const dword &x, std::uint32_t m) { return mod_duu(&x, m); }
inline bool n_quotient_small(VREnv *env, const dword &x, long c, dword *q)
{
  div_dldf(env, &x, c, q);
  return fits_small_d(q);
}
inline bool n_is_zero(const dword &x) { return sign_d(&x) == 0; }
inline long n_low(const dword &x) { return low_l(&x); }

template <typename N> struct num_traits;
template <> struct num_traits<long> {
  static constexpr bool multi = false;
};
template <> struct num_traits<dword> {
  static constexpr bool multi = true;
};

/* ---- The block ---- */

template <typename N> struct linear_data {
  daemon_frame frame;
  VREnv *vrenv;
  VR_globref refbase; /* 2n: attribute, variable per term */
  int op;
  long stamp;
  int units;    /* unfixed terms with |c| = 1 */
  int nonunits; /* the other unfixed terms */
  long gcdall;
  int nvars;
  int ntargets;
  int overflow; /* a daemon met an overflow (multi-word) */
  int heapsize;
  N rhs, bige, bigf;
  N *cmin, *cmax, *interval;
  dvar *dv;
  long *coeff, *abscoeff, *gcd;
  int *target, *heap, *vheap;
};

template <typename N> std::size_t block_bytes(int n)
{
  return sizeof(linear_data<N>) + static_cast<std::size_t>(n) * (3 * sizeof(N) + sizeof(dvar) + 3 * sizeof(long) +
                                                                  3 * sizeof(int));
}

template <typename N> void linear_destructor(void *block)
{
  auto *d = static_cast<linear_data<N> *>(block);
  VREnv *env = d->vrenv;
  env->dispatch_API_VOSTREL_H->pVR_free_globrefs(d->refbase);
  env->dispatch_API_VOSTREL_H->pVR_free(d);
}

template <typename N> void linear_daemon_t(VREnv *env, worker *w, linear_data<N> *d, VR_globref attr_ref,
                                           TAGGED global);

void linear_daemon_single(VREnv *env, worker *w, void *block, VR_globref attr_ref, TAGGED global)
{
  linear_daemon_t(env, w, static_cast<linear_data<long> *>(block), attr_ref, global);
}

void linear_daemon_multi(VREnv *env, worker *w, void *block, VR_globref attr_ref, TAGGED global)
{
  linear_daemon_t(env, w, static_cast<linear_data<dword> *>(block), attr_ref, global);
}

/* The block of a new instance, from the state in register 0; daemons
   attached to every variable. */
template <typename N> linear_data<N> *linear_post(VREnv *env, worker *w, TAGGED handle, long stamp, int n, int op)
{
  auto *d = static_cast<linear_data<N> *>(fd_perm_alloc(env, w, block_bytes<N>(n), handle));
  d->frame.destructor = &linear_destructor<N>;
  d->frame.daemon = num_traits<N>::multi ? &linear_daemon_multi : &linear_daemon_single;
  d->vrenv = env;
  d->refbase = env->dispatch_API_VOSTREL_H->pVR_alloc_globrefs(2 * n);
  d->op = op;
  d->stamp = stamp - 1;
  d->units = d->nonunits = 0;
  d->gcdall = 1;
  d->nvars = d->ntargets = n;
  d->overflow = 0;
  d->heapsize = 0;
  char *p = reinterpret_cast<char *>(d + 1);
  d->cmin = reinterpret_cast<N *>(p);
  d->cmax = reinterpret_cast<N *>(p += n * sizeof(N));
  d->interval = reinterpret_cast<N *>(p += n * sizeof(N));
  d->dv = reinterpret_cast<dvar *>(p += n * sizeof(N));
  d->coeff = reinterpret_cast<long *>(p += n * sizeof(dvar));
  d->abscoeff = d->coeff + n;
  d->gcd = d->abscoeff + n;
  d->target = reinterpret_cast<int *>(d->gcd + n);
  d->heap = d->target + n;
  d->vheap = d->heap + n;
  TAGGED s = deref(w->term[0]);
  TAGGED list = deref(arg(s, 1));
  for (int i = 0; i < n; i++, list = deref(TagToLST(list)[1])) {
    const TAGGED t = deref(TagToLST(list)[0]);
    const long c = GetSmall(deref(arg(t, 1)));
    d->coeff[i] = c;
    d->abscoeff[i] = c < 0 ? -c : c;
    d->gcd[i] = 1;
    d->refbase[2 * i + 1].term = deref(arg(t, 2));
    d->refbase[2 * i].term = arg(t, 3);
    d->target[i] = i;
    d->heap[i] = d->vheap[i] = i;
  }
  /* The block holds the terms now. */
  TagToSTR(s)[1] = atom_nil;
  fd_state *fd = fd_state_of(env);
  const TAGGED list_functor = op == OP_NE ? fd->functor_val : fd->functor_minmax;
  for (int i = 0; i < n; i++) {
    dvar_init(&d->dv[i], d->refbase + 2 * i, d->refbase + 2 * i + 1);
    dvar_attach_daemon(env, w, &d->dv[i], d, w->term[1], list_functor);
  }
  return d;
}

/* ---- The heap of terms by interval, widest on top ---- */

template <typename N> void heap_swap(linear_data<N> *d, int a, int b)
{
  const int ja = d->heap[a], jb = d->heap[b];
  d->heap[a] = jb;
  d->vheap[jb] = a;
  d->heap[b] = ja;
  d->vheap[ja] = b;
}

template <typename N> void spheapify(linear_data<N> *d, int i)
{
  for (;;) {
    const int l = 2 * i + 1, r = l + 1;
    int top = i;
    if (l < d->heapsize && n_cmp(d->interval[d->heap[l]], d->interval[d->heap[top]]) > 0)
      top = l;
    if (r < d->heapsize && n_cmp(d->interval[d->heap[r]], d->interval[d->heap[top]]) > 0)
      top = r;
    if (top == i)
      return;
    heap_swap(d, i, top);
    i = top;
  }
}

/* Term j's interval changed: restore the heap order around it.  It
   usually shrinks; it grows only where the multi-word variant had taken
   an infinite product down to the exact product of its bound and a later
   change of the variable brings the infinity back. */
template <typename N> void heap_update(linear_data<N> *d, int j)
{
  int i = d->vheap[j];
  while (i > 0) {
    const int up = (i - 1) / 2;
    if (n_cmp(d->interval[d->heap[i]], d->interval[d->heap[up]]) <= 0)
      break;
    heap_swap(d, i, up);
    i = up;
  }
  spheapify(d, i);
}

/* The widest term, or -1. */
template <typename N> int heap_top(const linear_data<N> *d) { return d->heapsize > 0 ? d->heap[0] : -1; }

/* ---- Per-term quantities ---- */

template <typename N> void term_bounds(const linear_data<N> *d, int j, N *lo, N *hi)
{
  const dvar *x = &d->dv[j];
  const long c = d->coeff[j];
  n_product(c, c > 0 ? x->min : x->max, lo);
  n_product(c, c > 0 ? x->max : x->min, hi);
}

template <typename N> void count_unfixed(linear_data<N> *d, int j, int delta)
{
  if (d->abscoeff[j] == 1)
    d->units += delta;
  else
    d->nonunits += delta;
}

/* Term j's cache changed: cmin, cmax, interval, F and E follow it; a term
   that became fixed leaves the unfixed counts (and, with fold, its value
   leaves rhs). */
template <typename N> void term_update(VREnv *env, linear_data<N> *d, int j, bool fold)
{
  N lo, hi;
  term_bounds(d, j, &lo, &hi);
  const bool was_fixed = n_is_zero(d->interval[j]);
  N delta = lo;
  n_sub(env, &delta, d->cmin[j]);
  n_sub(env, &d->bigf, delta);
  delta = hi;
  n_sub(env, &delta, d->cmax[j]);
  n_add(env, &d->bige, delta);
  d->cmin[j] = lo;
  d->cmax[j] = hi;
  d->interval[j] = hi;
  n_sub(env, &d->interval[j], lo);
  if (!was_fixed && n_is_zero(d->interval[j])) {
    count_unfixed(d, j, -1);
    if (fold)
      n_sub(env, &d->rhs, lo);
  }
}

/* ---- Initialisation ---- */

template <typename N> void scalar_product_init(VREnv *env, linear_data<N> *d, bool full)
{
  if (!full) {
    for (int i = 0; i < d->ntargets; i++) {
      const int j = d->target[i];
      dvar_init(&d->dv[j], d->refbase + 2 * j, d->refbase + 2 * j + 1);
      if (n_is_zero(d->interval[j]))
        n_sub(env, &d->rhs, d->cmin[j]);
    }
    return;
  }
  d->bigf = d->rhs;
  d->bige = N{};
  n_sub(env, &d->bige, d->rhs);
  d->units = d->nonunits = 0;
  for (int i = 0; i < d->ntargets; i++) {
    const int j = d->target[i];
    dvar_init(&d->dv[j], d->refbase + 2 * j, d->refbase + 2 * j + 1);
    term_bounds(d, j, &d->cmin[j], &d->cmax[j]);
    d->interval[j] = d->cmax[j];
    n_sub(env, &d->interval[j], d->cmin[j]);
    d->heap[i] = j;
    d->vheap[j] = i;
    n_sub(env, &d->bigf, d->cmin[j]);
    n_add(env, &d->bige, d->cmax[j]);
    if (n_is_zero(d->interval[j]))
      n_sub(env, &d->rhs, d->cmin[j]);
    else
      count_unfixed(d, j, 1);
  }
  d->heapsize = d->op == OP_NE ? 0 : d->ntargets;
  for (int i = (d->heapsize - 2) / 2; i >= 0; i--)
    spheapify(d, i);
}

/* ---- Narrowing one term ---- */

/* Restricts term j's variable to lb..ub (plain integers; an end beyond
   the small integers leaves that side open) and brings its quantities up
   to date.  -1 on an empty domain. */
template <typename N> int restrict_term(VREnv *env, linear_data<N> *d, int j, long long lb, long long ub)
{
  const TAGGED lo = lb < SMALL_MIN ? atom_inf : lb > SMALL_MAX ? atom_sup : MakeSmall_checked(static_cast<long>(lb));
  const TAGGED hi = ub > SMALL_MAX ? atom_sup : ub < SMALL_MIN ? atom_inf : MakeSmall_checked(static_cast<long>(ub));
  if (lb > SMALL_MAX || ub < SMALL_MIN || lb > ub)
    return -1;
  const int r = dvar_fix_interval_t(&d->dv[j], lo, hi);
  if (r < 0)
    return -1;
  if (r > 0) {
    term_update(env, d, j, true);
    heap_update(d, j);
  }
  return r;
}

/* The =< side on term j: c*x may rise at most by F. */
int scalar_product_le(VREnv *env, linear_data<long> *d, int j)
{
  if (d->bigf < 0)
    return -1;
  const long c = d->coeff[j];
  const dvar *x = &d->dv[j];
  if (c > 0)
    return restrict_term(env, d, j, SMALL_MIN - 1LL, static_cast<long long>(GetSmall(x->min)) + d->bigf / c);
  return restrict_term(env, d, j, static_cast<long long>(GetSmall(x->max)) + d->bigf / c, SMALL_MAX + 1LL);
}

/* The >= side on term j: c*x may fall at most by E. */
int scalar_product_ge(VREnv *env, linear_data<long> *d, int j)
{
  if (d->bige < 0)
    return -1;
  const long c = d->coeff[j];
  const dvar *x = &d->dv[j];
  if (c > 0)
    return restrict_term(env, d, j, static_cast<long long>(GetSmall(x->max)) - d->bige / c, SMALL_MAX + 1LL);
  return restrict_term(env, d, j, SMALL_MIN - 1LL, static_cast<long long>(GetSmall(x->min)) + d->bige / -c);
}

/* Multi-word: the new bound q = (slack + own product) / c, rounded
   inwards.  Beyond the small integers on the side the domain satisfies
   anyway (an infinite bound), the domain stays and the product becomes
   the exact product of q (never looser than before); on the other side
   no small integer is left: overflow. */
int multi_narrow(VREnv *env, linear_data<dword> *d, int j, bool le)
{
  const dword &slack = le ? d->bigf : d->bige;
  if (sign_d(&slack) < 0)
    return -1;
  const long c = d->coeff[j];
  dword t, q;
  if (le)
    add_ddd(env, &slack, &d->cmin[j], &t); /* c*x =< F + cmin */
  else
    sub_ddd(env, &d->cmax[j], &slack, &t); /* c*x >= cmax - E */
  if (fd_state_of(env)->fd_overflow)
    return -1;
  /* An upper bound on x when (le and c > 0) or (ge and c < 0). */
  const bool upper = le == (c > 0);
  if (upper)
    div_dldf(env, &t, c, &q);
  else
    div_dldc(env, &t, c, &q);
  if (fits_small_d(&q)) {
    const long v = low_l(&q);
    return upper ? restrict_term(env, d, j, SMALL_MIN - 1LL, v) : restrict_term(env, d, j, v, SMALL_MAX + 1LL);
  }
  if (upper ? sign_d(&q) < 0 : sign_d(&q) > 0) {
    fd_state_of(env)->fd_overflow = 1;
    return -1;
  }
  /* c*q: t less its remainder towards the slack's side. */
  const std::uint32_t r = mod_duu(&slack, static_cast<std::uint32_t>(d->abscoeff[j]));
  dword exact;
  if (le)
    sub_dud(&t, r, &exact);
  else
    add_dud(&t, r, &exact);
  dword &bound = le ? d->cmax[j] : d->cmin[j];
  if (le ? cmp_dd(&exact, &bound) >= 0 : cmp_dd(&exact, &bound) <= 0)
    return 0;
  dword delta;
  if (le) {
    sub_ddd(env, &bound, &exact, &delta);
    sub_ddd(env, &d->bige, &delta, &d->bige);
  } else {
    sub_ddd(env, &exact, &bound, &delta);
    sub_ddd(env, &d->bigf, &delta, &d->bigf);
  }
  bound = exact;
  sub_ddd(env, &d->interval[j], &delta, &d->interval[j]);
  heap_update(d, j);
  return fd_state_of(env)->fd_overflow ? -1 : 1;
}

int scalar_product_le(VREnv *env, linear_data<dword> *d, int j) { return multi_narrow(env, d, j, true); }
int scalar_product_ge(VREnv *env, linear_data<dword> *d, int j) { return multi_narrow(env, d, j, false); }

/* ---- Divisibility ---- */

long gcd2(long a, long b)
{
  if (a < 2 || b < 2)
    return 1;
  while (b != 0) {
    const long r = a % b;
    a = b;
    b = r;
  }
  return a;
}

/* gcdall: the gcd of the unfixed coefficients; gcd[j]: that of the
   unfixed coefficients other than j's (1 wherever a unit coefficient
   makes every such gcd 1). */
template <typename N> void refresh_gcd(linear_data<N> *d)
{
  int units = 0, unit = -1, nonunits = 0;
  for (int i = 0; i < d->ntargets; i++) {
    const int j = d->target[i];
    d->gcd[j] = 1;
    if (n_is_zero(d->interval[j]))
      continue;
    if (d->abscoeff[j] == 1) {
      units++;
      unit = j;
    } else {
      nonunits++;
    }
  }
  d->gcdall = 1;
  if (nonunits == 0 || units >= 2)
    return;
  if (units == 1) {
    long g = 0;
    for (int i = 0; i < d->ntargets; i++) {
      const int j = d->target[i];
      if (!n_is_zero(d->interval[j]) && j != unit)
        g = g == 0 ? d->abscoeff[j] : gcd2(g, d->abscoeff[j]);
    }
    d->gcd[unit] = g;
    return;
  }
  /* Forward: the gcd of the coefficients before each term (0 for none);
     backward: fold in the gcd of those after it. */
  long g = 0;
  for (int i = 0; i < d->ntargets; i++) {
    const int j = d->target[i];
    if (n_is_zero(d->interval[j]))
      continue;
    d->gcd[j] = g;
    g = g == 0 ? d->abscoeff[j] : gcd2(g, d->abscoeff[j]);
  }
  d->gcdall = g;
  g = 0;
  for (int i = d->ntargets - 1; i >= 0; i--) {
    const int j = d->target[i];
    if (n_is_zero(d->interval[j]))
      continue;
    const long before = d->gcd[j];
    d->gcd[j] = before == 0 ? g : g == 0 ? before : gcd2(before, g);
    if (d->gcd[j] == 0)
      d->gcd[j] = 1;
    g = g == 0 ? d->abscoeff[j] : gcd2(g, d->abscoeff[j]);
  }
}

template <typename N> bool gcd_divides_rhs(const linear_data<N> *d)
{
  return d->gcdall <= 1 || n_mod(d->rhs, static_cast<std::uint32_t>(d->gcdall)) == 0;
}

/* The congruence step on term j (finite bounds, m = gcd[j] > gcdall = g):
   c*x ≡ rhs (mod m), so x ≡ x0 (mod m/g).  The bounds move onto the
   nearest solutions; -1 when none is left, else the narrowing result. */
template <typename N> int congruence(VREnv *env, linear_data<N> *d, int j)
{
  const long long m = d->gcd[j], g = d->gcdall, v = m / g;
  long long a = d->abscoeff[j] % m;
  long long b = n_mod(d->rhs, static_cast<std::uint32_t>(m));
  if (d->coeff[j] < 0)
    b = (m - b) % m;
  /* a*x ≡ b (mod m) with g dividing a, b and m. */
  const long long x0 = solve_gcd(a / g, b / g, v);
  const long long lo = GetSmall(d->dv[j].min), hi = GetSmall(d->dv[j].max);
  const long long nlo = lo + (((x0 - lo) % v) + v) % v;
  const long long nhi = hi - (((hi - x0) % v) + v) % v;
  if (nlo > nhi)
    return -1;
  return restrict_term(env, d, j, nlo, nhi);
}

/* ---- One run ---- */

template <typename N> int prune_le(VREnv *env, linear_data<N> *d)
{
  for (int j; (j = heap_top(d)) >= 0 && n_cmp(d->interval[j], d->bigf) > 0;) {
    const int r = scalar_product_le(env, d, j);
    if (r < 0)
      return -1;
    if (r == 0) /* cannot happen while interval > F; never loop on it */
      break;
  }
  if (n_sign(d->bigf) < 0)
    return -1;
  return n_sign(d->bige) <= 0 ? 1 : 0;
}

template <typename N> int prune_ge(VREnv *env, linear_data<N> *d)
{
  for (int j; (j = heap_top(d)) >= 0 && n_cmp(d->interval[j], d->bige) > 0;) {
    const int r = scalar_product_ge(env, d, j);
    if (r < 0)
      return -1;
    if (r == 0)
      break;
  }
  if (n_sign(d->bige) < 0)
    return -1;
  return n_sign(d->bigf) <= 0 ? 1 : 0;
}

template <typename N> int prune_eq(VREnv *env, linear_data<N> *d)
{
  for (;;) {
    const int j = heap_top(d);
    int r = 0;
    if (j >= 0 && n_cmp(d->interval[j], d->bigf) > 0)
      r = scalar_product_le(env, d, j);
    if (r == 0 && j >= 0 && n_cmp(d->interval[j], d->bige) > 0)
      r = scalar_product_ge(env, d, j);
    if (r < 0)
      return -1;
    if (r > 0)
      continue;
    refresh_gcd(d);
    if (!gcd_divides_rhs(d))
      return -1;
    bool narrowed = false;
    if (d->units <= 1) {
      for (int i = 0; i < d->ntargets && !narrowed; i++) {
        const int k = d->target[i];
        const dvar *x = &d->dv[k];
        if (d->gcd[k] <= d->gcdall || n_is_zero(d->interval[k]) || !IsSmall(x->min) || !IsSmall(x->max))
          continue;
        const int r = congruence(env, d, k);
        if (r < 0)
          return -1;
        narrowed = r > 0;
      }
    }
    if (!narrowed)
      break;
  }
  if (n_sign(d->bigf) < 0 || n_sign(d->bige) < 0)
    return -1;
  return n_sign(d->bigf) == 0 && n_sign(d->bige) == 0 ? 1 : 0;
}

template <typename N> int prune_ne(VREnv *env, worker *w, linear_data<N> *d)
{
  const int unfixed = d->units + d->nonunits;
  if (unfixed == 0)
    return n_is_zero(d->rhs) ? -1 : 1;
  refresh_gcd(d);
  if (!gcd_divides_rhs(d))
    return 1;
  if (unfixed > 1)
    return 0;
  for (int i = 0; i < d->ntargets; i++) {
    const int j = d->target[i];
    if (n_is_zero(d->interval[j]))
      continue;
    N q;
    if (n_mod(d->rhs, static_cast<std::uint32_t>(d->abscoeff[j])) == 0 &&
        n_quotient_small(env, d->rhs, d->coeff[j], &q)) {
      const TAGGED v = MakeSmall_checked(static_cast<long>(n_low(q)));
      if (dvar_prune_interval_t(env, &d->dv[j], v, v, w) < 0)
        return -1;
    }
    return 1;
  }
  return 1;
}

/* ---- Compaction and write-back ---- */

/* A boxed integer of `digits` 32-bit digits (least significant first) on
   the heap; the first three argument registers are kept. */
TAGGED make_box(VREnv *env, worker *w, const std::uint32_t *digit, int digits)
{
  fd_heap_room(env, w, digits + 2, 3);
  TAGGED *p = w->global_top;
  const TAGGED header = digits == 1 ? BOX_INT1 : BOX_INT2;
  p[0] = header;
  for (int i = 0; i < digits; i++)
    p[1 + i] = digit[i];
  p[1 + digits] = header;
  w->global_top = p + digits + 2;
  return MakeSTR(p);
}

/* The residual right-hand side as an integer term, or 0 beyond 64 bits. */
TAGGED rhs_term(VREnv *env, worker *w, long rhs)
{
  if (rhs >= SMALL_MIN && rhs <= SMALL_MAX)
    return MakeSmall_checked(rhs);
  const std::uint32_t digit = static_cast<std::uint32_t>(rhs);
  return make_box(env, w, &digit, 1);
}

TAGGED rhs_term(VREnv *env, worker *w, const dword &rhs)
{
  if (fits_small_d(&rhs))
    return MakeSmall_checked(low_l(&rhs));
  const std::int32_t lsw = static_cast<std::int32_t>(rhs.lsw), msw = static_cast<std::int32_t>(rhs.msw);
  const std::int32_t lsw_sign = lsw < 0 ? -1 : 0, msw_sign = msw < 0 ? -1 : 0;
  const std::uint32_t digits[2] = {rhs.lsw, rhs.msw};
  if (rhs.infw == lsw_sign && msw == lsw_sign)
    return make_box(env, w, digits, 1);
  if (rhs.infw == msw_sign)
    return make_box(env, w, digits, 2);
  return 0;
}

/* The right-hand side from the state: the multi-word variant reads up to
   two digits; anything longer is an overflow. */
bool read_rhs(VREnv *env, TAGGED t, long *rhs)
{
  (void)env;
  *rhs = IsSmall(t) ? GetSmall(t) : static_cast<std::int32_t>(TagToSTR(t)[1]);
  return true;
}

bool read_rhs(VREnv *env, TAGGED t, dword *rhs)
{
  if (!IsSmall(t) && TagToSTR(t)[0] != BOX_INT1 && TagToSTR(t)[0] != BOX_INT2) {
    fd_state_of(env)->fd_overflow = 1;
    return false;
  }
  add_ztd(t, rhs);
  return true;
}

/* One run of variant N on the state in register 0; the entailment code. */
template <typename N> int fd_linear_filter(VREnv *env, worker *w, TAGGED handle, long stamp)
{
  TAGGED s = deref(w->term[0]);
  const int op = static_cast<int>(GetSmall(deref(arg(s, 2))) & 7);
  if (op < OP_LE || op > OP_NE)
    return -1;
  linear_data<N> *d;
  if (IsVar(handle)) {
    const long n = fd_list_length(deref(arg(s, 1)));
    if (n <= 0)
      return -1; /* the posting side never posts an empty sum */
    d = linear_post<N>(env, w, handle, stamp, static_cast<int>(n), op);
  } else {
    d = static_cast<linear_data<N> *>(fd_perm_data(handle));
  }
  fd_state_of(env)->gdata = d;
  if (d->overflow) {
    fd_state_of(env)->fd_overflow = 1;
    return -1;
  }
  s = deref(w->term[0]);
  if (op == OP_NE || d->stamp != stamp) {
    if (!read_rhs(env, deref(arg(s, 3)), &d->rhs))
      return -1;
    d->ntargets = d->nvars - static_cast<int>(GetSmall(deref(arg(s, 4))));
    scalar_product_init(env, d, true);
  } else {
    scalar_product_init(env, d, false);
  }
  d->stamp = stamp + 1;
  if (fd_state_of(env)->fd_overflow)
    return -1;
  int code;
  switch (op) {
  case OP_LE: code = prune_le(env, d); break;
  case OP_GE: code = prune_ge(env, d); break;
  case OP_EQ: code = prune_eq(env, d); break;
  default: code = prune_ne(env, w, d); break;
  }
  if (code < 0 || fd_state_of(env)->fd_overflow)
    return -1;
  /* Compaction: write back the changed domains, move the fixed terms
     behind the others. */
  for (int i = 0; i < d->ntargets; i++)
    dvar_pruning_settle(env, w, &d->dv[d->target[i]]);
  for (int i = 0; i < d->ntargets; i++)
    dvar_export_changed(env, w, &d->dv[d->target[i]]);
  int live = 0;
  for (int i = 0; i < d->ntargets; i++) {
    const int j = d->target[i];
    if (!n_is_zero(d->interval[j])) {
      d->target[i] = d->target[live];
      d->target[live++] = j;
    }
  }
  d->ntargets = live;
  /* c*x - c*y = 0: the two variables are one. */
  if (op == OP_EQ && code == 0 && live == 2 && n_is_zero(d->rhs) && d->coeff[d->target[0]] + d->coeff[d->target[1]] == 0) {
    dvar_export_equal(env, w, &d->dv[d->target[0]], &d->dv[d->target[1]]);
    code = 1;
  }
  const TAGGED rhs = rhs_term(env, w, d->rhs);
  if (rhs == 0) {
    fd_state_of(env)->fd_overflow = 1;
    return -1;
  }
  s = deref(w->term[0]);
  TagToSTR(s)[3] = rhs;
  TagToSTR(s)[4] = MakeSmall_checked(d->nvars - d->ntargets);
  return code;
}

/* The daemon: brings term j's quantities up to date and queues the
   constraint only when a pruning may now be possible. */
template <typename N> void linear_daemon_t(VREnv *env, worker *w, linear_data<N> *d, VR_globref attr_ref,
                                           TAGGED global)
{
  const TAGGED s = deref(fd_mutable_value(deref(arg(global, 1))));
  if (GetSmall(deref(arg(s, 6))) != d->stamp || d->overflow) {
    fd_enqueue_global(env, w, global, 5);
    return;
  }
  const int j = static_cast<int>((attr_ref - d->refbase) / 2);
  dvar_init(&d->dv[j], d->refbase + 2 * j, d->refbase + 2 * j + 1);
  N lo, hi;
  term_bounds(d, j, &lo, &hi);
  if (n_cmp(lo, d->cmin[j]) == 0 && n_cmp(hi, d->cmax[j]) == 0)
    return;
  const TAGGED s2 = fd_daemon_copy_state(env, w, &global);
  d->stamp = GetSmall(deref(arg(s2, 6)));
  fd_state *fd = fd_state_of(env);
  const VR_BOOL saved = fd->fd_overflow;
  fd->fd_overflow = 0;
  term_update(env, d, j, false);
  if (fd->fd_overflow) {
    d->overflow = 1;
    fd->fd_overflow = saved;
    fd_enqueue_global(env, w, global, 5);
    return;
  }
  fd->fd_overflow = saved;
  const int unfixed = d->units + d->nonunits;
  bool wake = unfixed == 0;
  /* An equation's divisibility reasoning may also apply where no slack
     is exceeded: when j's own bounds may now lie off its congruence
     (gcd[j] from the last run: the unfixed terms are the same), or when
     j became fixed, which changes rhs and the others' gcds. */
  if (d->op == OP_EQ && d->units <= 1 && d->nonunits > 0 &&
      (d->gcd[j] > d->gcdall || n_is_zero(d->interval[j])))
    wake = true;
  if (d->op == OP_NE) {
    wake = unfixed <= 1;
  } else {
    heap_update(d, j);
    const int top = heap_top(d);
    if (top >= 0 && d->op != OP_GE && n_cmp(d->interval[top], d->bigf) > 0)
      wake = true;
    if (top >= 0 && d->op != OP_LE && n_cmp(d->interval[top], d->bige) > 0)
      wake = true;
  }
  if (wake)
    fd_enqueue_global(env, w, global, 5);
}

} // namespace

void prolog_fd_linear_vrenv_multi_vr(VREnv *env, VR_term_ref, VR_term_ref new_state, VR_term_ref actions)
{
  TAGGED handle;
  long stamp;
  int committed;
  worker *w = fd_run_begin(env, new_state, &handle, &stamp, &committed);
  const long flags = GetSmall(deref(arg(deref(w->term[0]), 2)));
  const int code = (flags & SINGLE_WORD) ? fd_linear_filter<long>(env, w, handle, stamp)
                                         : fd_linear_filter<dword>(env, w, handle, stamp);
  if (code == 1)
    fd_perm_free(env, w);
  dvar_export_done(env, w, actions, code);
}

void linear_daemon(VREnv *env, worker *w, void *block, VR_globref attr_ref, TAGGED global)
{
  /* Both variants' blocks start alike up to the daemon: the daemon slot
     itself says which variant the block is. */
  static_cast<daemon_frame *>(block)->daemon(env, w, block, attr_ref, global);
}
