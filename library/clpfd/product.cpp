/* product.cpp: the propagators of X*Y = Z ($fd_product/3) and X*X = Y
 * ($fd_square/3), see arith.h.
 *
 * X*Y = Z narrows Z to the hull of the products of X's and Y's bounds,
 * then X and Y in turn to the quotients of Z's bounds by the other
 * factor's (lower bounds rounded up, upper bounds down), skipping bounds
 * that no factor within the other's bounds supports when Z lies on one
 * side of 0.  Zero and infinite operands are settled before any division,
 * so no division by 0 or by an infinity happens.  X*X = Y narrows Y by the
 * squares of X's bounds and X to the two branches of the square root of
 * Y's bounds.
 */
#include <algorithm>

#include "arith.h"
#include "bounds.h"

namespace {

inline int sgn(ext v) { return (v > 0) - (v < 0); }
inline ext mag(ext v) { return std::min(v < 0 ? -v : v, ARITH_INFINITY); }
inline bool infinite(ext v) { return mag(v) >= ARITH_INFINITY; }

/* a*b with infinities; 0 times an infinity counts as 0. */
ext smul(ext a, ext b) { return sgn(a) * sgn(b) * mag_mul(mag(a), mag(b)); }

/* The least integer at or above (up) or greatest at or below (!up) the
   quotient p/f, f non-zero.  A finite p by an infinite f is a quotient
   as close to 0 as one likes with the sign of p*f; an infinite p by an
   infinite f any quotient of that sign. */
ext quotient_bound(ext p, ext f, bool up)
{
  const int s = sgn(p) * sgn(f);
  if (s == 0)
    return 0;
  if (infinite(f)) {
    if (infinite(p))
      return up ? (s < 0 ? -ARITH_INFINITY : 1) : (s < 0 ? -1 : ARITH_INFINITY);
    return up ? (s > 0 ? 1 : 0) : (s > 0 ? 0 : -1);
  }
  if (infinite(p))
    return s * ARITH_INFINITY;
  /* Exact: both finite, |f| >= 1. */
  const ext q = p / f, r = p % f;
  if (r == 0)
    return q;
  /* q was truncated towards 0: the exact quotient lies between q and
     q + s. */
  if (up)
    return s > 0 ? q + 1 : q;
  return s > 0 ? q : q - 1;
}

/* Lower (ceil) and upper (floor) bounds of p/f over the corners of the
   boxes p in pl..ph, f in fl..fh, f of one sign. */
void corner_quotients(ext pl, ext ph, ext fl, ext fh, ext *lo, ext *hi)
{
  const ext ps[2] = {pl, ph}, fs[2] = {fl, fh};
  *lo = ARITH_INFINITY;
  *hi = -ARITH_INFINITY;
  for (ext p : ps)
    for (ext f : fs) {
      *lo = std::min(*lo, quotient_bound(p, f, true));
      *hi = std::max(*hi, quotient_bound(p, f, false));
    }
}

/* Above this many jumps the search for a supported bound gives up and
   keeps the candidate it reached: every magnitude it passed was
   unsupported, so the bound is sound, and the constraint, rescheduled by
   its own prunings, goes on from there in its next run. */
constexpr int SUPPORT_STEPS = 4096;

/* The supports of one sign of the target: the product's magnitudes
   pmin..pmax (pmin >= 1) and the magnitudes gmin..gmax of the factor's
   values of the sign that gives the product's (present when has). */
struct support_range {
  bool has;
  ext pmin, pmax, gmin, gmax;
};

/* The first magnitude from u on, going up (dir 1) or down (dir -1) but
   not past `end`, that has a factor g in gmin..gmax with u*g within
   pmin..pmax; -1 when there is none.  Instead of trying every magnitude
   it jumps to the next one where the nearest factor fits: magnitude u
   has the factors ceil(pmin/u)..floor(pmax/u). */
ext next_supported(const support_range &r, ext u, int dir, ext end)
{
  if (!r.has)
    return -1;
  for (int steps = 0; steps < SUPPORT_STEPS; steps++) {
    if (u < 1 || (dir > 0 ? u > end : u < end))
      return -1;
    const ext lo = (r.pmin + u - 1) / u, hi = r.pmax / u;
    if (lo <= hi && lo <= r.gmax && hi >= r.gmin)
      return u;
    if (dir > 0) {
      if (hi < r.gmin) /* larger magnitudes only need smaller factors */
        return -1;
      u = lo > r.gmax ? (r.pmin + r.gmax - 1) / r.gmax : (r.pmin + hi - 1) / hi;
    } else {
      if (lo > r.gmax)
        return -1;
      u = hi < r.gmin ? r.pmax / r.gmin : r.pmax / lo;
    }
  }
  return u < 1 || (dir > 0 ? u > end : u < end) ? -1 : u;
}

/* Narrows target T of P = F*T from P's and F's bounds: 0 when T became
   empty, -1 when that was an overflow, 1 when T was restricted, 2 when
   nothing is known. */
int fd_product_inverse_dispatch(VREnv *env, Dvar p, Dvar f, Dvar t)
{
  const ext pl = arith_ext(p->min), ph = arith_ext(p->max);
  const ext fl = arith_ext(f->min), fh = arith_ext(f->max);
  const bool p0 = pl <= 0 && ph >= 0, f0 = fl <= 0 && fh >= 0;
  if (fl == 0 && fh == 0)
    return p0 ? 2 : 0;
  if (p0 && f0)
    return 2;
  ext lo, hi;
  if (!f0) {
    corner_quotients(pl, ph, fl, fh, &lo, &hi);
  } else if (fl == 0) {
    corner_quotients(pl, ph, 1, fh, &lo, &hi);
  } else if (fh == 0) {
    corner_quotients(pl, ph, fl, -1, &lo, &hi);
  } else {
    /* F takes both signs (and 1 or -1): T within the greatest magnitude
       of P on either side. */
    const ext m = std::max(mag(pl), mag(ph));
    lo = -m;
    hi = m;
  }
  if (!p0 && !infinite(pl) && !infinite(ph)) {
    /* P finite on one side of 0: a bound t is supported when some f
       within F's bounds has t*f within P's bounds; f has the sign of P
       for a positive t, the other one for a negative t. */
    const int ps = pl > 0 ? 1 : -1;
    const ext pmin = ps > 0 ? pl : -ph, pmax = ps > 0 ? ph : -pl;
    const support_range fpos = {fh >= 1, pmin, pmax, std::max<ext>(fl, 1), fh};
    const support_range fneg = {fl <= -1, pmin, pmax, std::max<ext>(-fh, 1), -fl};
    const support_range &tpos = ps > 0 ? fpos : fneg, &tneg = ps > 0 ? fneg : fpos;
    lo = std::max(lo, arith_ext(t->min));
    hi = std::min(hi, arith_ext(t->max));
    if (lo > hi)
      return 0;
    /* The least supported value: among the negative ones (magnitudes
       going down), else among the positive ones. */
    ext u = lo < 0 ? next_supported(tneg, -lo, -1, hi < 0 ? -hi : 1) : -1;
    ext nlo = u > 0 ? -u : -1;
    if (u <= 0) {
      u = hi > 0 ? next_supported(tpos, std::max<ext>(lo, 1), 1, hi) : -1;
      if (u <= 0)
        return 0;
      nlo = u;
    }
    /* The greatest: among the positive ones, else the negative ones. */
    u = hi > 0 ? next_supported(tpos, hi, -1, std::max<ext>(nlo, 1)) : -1;
    ext nhi = u;
    if (u <= 0) {
      u = next_supported(tneg, hi < 0 ? -hi : 1, 1, -nlo);
      if (u <= 0)
        return 0;
      nhi = -u;
    }
    lo = nlo;
    hi = nhi;
  }
  const TAGGED lb = arith_bound(lo), ub = arith_bound(hi);
  if (arith_fix(env, t, lb, ub) < 0)
    return (lb == atom_sup || ub == atom_inf) ? -1 : 0;
  return 1;
}

int product_run(VREnv *env, dvar *x, dvar *y, dvar *z)
{
  ext lo = ARITH_INFINITY, hi = -ARITH_INFINITY;
  const ext xs[2] = {arith_ext(x->min), arith_ext(x->max)}, ys[2] = {arith_ext(y->min), arith_ext(y->max)};
  for (ext a : xs)
    for (ext b : ys) {
      lo = std::min(lo, smul(a, b));
      hi = std::max(hi, smul(a, b));
    }
  if (arith_fix(env, z, arith_bound(lo), arith_bound(hi)) < 0)
    return -1;
  for (int k = 0; k < 2; k++) {
    const int r = k == 0 ? fd_product_inverse_dispatch(env, z, y, x) : fd_product_inverse_dispatch(env, z, x, y);
    if (r == -1)
      fd_state_of(env)->fd_overflow = 1;
    if (r <= 0)
      return -1;
  }
  if ((x->flags & y->flags & z->flags & DV_FIXED) == 0)
    return 0;
  return GetSmall(x->min) * static_cast<ext>(GetSmall(y->min)) == GetSmall(z->min) ? 1 : -1;
}

/* floor(sqrt(n)) for n >= 0 by integer Newton iteration. */
ext isqrt(ext n)
{
  if (n < 2)
    return n;
  ext b = n / 2;
  for (ext next = (b + n / b) / 2; next < b; next = (b + n / b) / 2)
    b = next;
  return b;
}

int square_run(VREnv *env, worker *w, dvar *x, dvar *y)
{
  const bool x_was_fixed = (x->flags & DV_FIXED) != 0;
  const ext ylo = std::max<ext>(arith_ext(y->min), 0), yhi = arith_ext(y->max);
  const ext r = yhi < 0 ? -1 : infinite(yhi) ? ARITH_INFINITY : isqrt(yhi);
  const ext fm = isqrt(ylo), m = fm * fm == ylo ? fm : fm + 1;
  /* Y from X. */
  const ext xl = arith_ext(x->min), xh = arith_ext(x->max);
  ext lo, hi;
  if (xl >= 0) {
    lo = mag_mul(xl, xl);
    hi = mag_mul(xh, xh);
  } else if (xh < 0) {
    lo = mag_mul(-xh, -xh);
    hi = mag_mul(-xl, -xl);
  } else {
    lo = 0;
    const ext big = std::max(mag(xl), xh);
    hi = mag_mul(big, big);
  }
  lo = std::max(lo, mag_mul(m, m));
  if (arith_fix(env, y, arith_bound(lo), arith_bound(hi)) < 0)
    return -1;
  /* X from Y: the branches -r..-m and m..r. */
  if (m > r)
    return -1;
  const TAGGED rb = arith_bound(r), mb = arith_bound(m);
  const TAGGED nr = arith_bound(-r), nm = arith_bound(-m);
  const bool negative = dvar_compare_interval_t(env, x, nr, nm, w) != FD_DISJOINT;
  int res;
  if (negative)
    res = dvar_compare_interval_t(env, x, mb, rb, w) != FD_DISJOINT ? arith_fix(env, x, nr, rb)
                                                                    : arith_fix(env, x, nr, nm);
  else
    res = arith_fix(env, x, mb, rb);
  if (res < 0)
    return -1;
  return x_was_fixed ? 1 : 0;
}

} // namespace

void prolog_fd_product_vrenv_multi_vr(VREnv *env, VR_term_ref, VR_term_ref new_state, VR_term_ref actions)
{
  arith_run run = arith_begin(env, new_state, {3, true, {1, 3, 5}, 0});
  dvar *v = run.d->dvar;
  arith_end(env, run, 3, product_run(env, &v[0], &v[1], &v[2]), actions);
}

void prolog_fd_square_vrenv_multi_vr(VREnv *env, VR_term_ref, VR_term_ref new_state, VR_term_ref actions)
{
  arith_run run = arith_begin(env, new_state, {2, true, {1, 3, 0}, 0});
  dvar *v = run.d->dvar;
  arith_end(env, run, 2, square_run(env, run.w, &v[0], &v[1]), actions);
}
