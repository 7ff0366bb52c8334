/* divmod.cpp: the propagators of X//Y = Z ($fd_quotient/3, truncating),
 * X mod Y = Z ($fd_modulo/3, Z with the sign of Y) and X rem Y = Z
 * ($fd_remainder/3, Z with the sign of X); see arith.h.
 *
 * A run removes 0 from Y, then narrows Z from X and Y, Y from X and Z,
 * and X from Y and Z, each once.  Each step works side by side: the
 * values of a variable on one side of 0 as a range of magnitudes, and for
 * every combination of sides of the two known variables the magnitudes
 * (and the side) the target can take; the target is restricted to the
 * union of these ranges, which removes the holes around 0 that the
 * quotient or remainder structure leaves.  All divisions are by
 * magnitudes of at least 1.  With a fixed divisor, mod and rem instead
 * narrow Z to the remainders of X's bounds and move X's bounds to the
 * nearest values whose remainder lies within Z's bounds.
 */
#include <algorithm>

#include "arith.h"
#include "bounds.h"

namespace {

constexpr ext INF = ARITH_INFINITY;

enum class divop { quotient, modulo, remainder };

/* The sides of one variable: [0] positive, [1] negative, with the sign
   of each. */
struct sides {
  arith_side s[2];
  bool zero;
  explicit sides(Dvar dv) : s{arith_positive(dv), arith_negative(dv)}, zero(arith_has_zero(dv)) {}
  static int sign(int i) { return i == 0 ? 1 : -1; }
  ext magmin() const
  {
    ext m = INF;
    for (const arith_side &p : s)
      if (p.has)
        m = std::min(m, p.mn);
    return m;
  }
  ext magmax() const
  {
    ext m = 0;
    for (const arith_side &p : s)
      if (p.has)
        m = std::max(m, p.mx);
    return m;
  }
};

/* a - b for magnitudes, a possibly infinite. */
inline ext mag_sub(ext a, ext b) { return a >= INF ? INF : a - b; }
inline ext mag_dec(ext a) { return mag_sub(a, 1); }

/* The magnitudes l..h on both sides of 0. */
void add_both(arith_pieces &p, ext l, ext h)
{
  p.add_signed(1, l, h);
  p.add_signed(-1, l, h);
}

/* One narrowing step: target restricted to the union of the pieces that
   fill gives from the sides of the two known variables a and b. */
template <typename Fill> bool narrow(VREnv *env, worker *w, Dvar target, Dvar a, Dvar b, Fill fill)
{
  const sides A(a), B(b);
  arith_pieces p;
  fill(A, B, p);
  return arith_restrict(env, w, target, p) >= 0;
}

/* ---- x // y = z ---- */

bool quotient_steps(VREnv *env, worker *w, dvar *x, dvar *y, dvar *z)
{
  return narrow(env, w, z, x, y,
                [](const sides &X, const sides &Y, arith_pieces &p) {
                  for (int i = 0; i < 2; i++)
                    for (int j = 0; j < 2; j++)
                      if (X.s[i].has && Y.s[j].has)
                        p.add_signed(sides::sign(i) * sides::sign(j), mag_div(X.s[i].mn, Y.s[j].mx),
                                     mag_div(X.s[i].mx, Y.s[j].mn));
                  if (X.zero)
                    p.add(0, 0);
                }) &&
         narrow(env, w, y, x, z,
                [](const sides &X, const sides &Z, arith_pieces &p) {
                  for (int i = 0; i < 2; i++) {
                    if (!X.s[i].has)
                      continue;
                    for (int j = 0; j < 2; j++)
                      if (Z.s[j].has)
                        p.add_signed(sides::sign(i) * sides::sign(j), mag_div(X.s[i].mn, mag_add(Z.s[j].mx, 1)) + 1,
                                     mag_div(X.s[i].mx, Z.s[j].mn));
                    /* A zero quotient: |y| > |x|. */
                    if (Z.zero)
                      add_both(p, X.s[i].mn + 1, INF);
                  }
                  if (X.zero && Z.zero)
                    add_both(p, 1, INF);
                }) &&
         narrow(env, w, x, y, z, [](const sides &Y, const sides &Z, arith_pieces &p) {
           for (int i = 0; i < 2; i++)
             for (int j = 0; j < 2; j++)
               if (Y.s[i].has && Z.s[j].has)
                 p.add_signed(sides::sign(i) * sides::sign(j), mag_mul(Z.s[j].mn, Y.s[i].mn),
                              mag_dec(mag_mul(mag_add(Z.s[j].mx, 1), Y.s[i].mx)));
           if (Z.zero) {
             const ext m = mag_dec(Y.magmax());
             p.add(-m, m);
           }
         });
}

/* ---- x rem y = z ---- */

bool remainder_steps(VREnv *env, worker *w, dvar *x, dvar *y, dvar *z)
{
  return narrow(env, w, z, x, y,
                [](const sides &X, const sides &Y, arith_pieces &p) {
                  const ext ymin = Y.magmin(), m = mag_dec(Y.magmax());
                  for (int i = 0; i < 2; i++) {
                    const arith_side &xs = X.s[i];
                    if (!xs.has)
                      continue;
                    if (xs.mx < ymin) /* |x| < |y|: the remainder is x itself */
                      p.add_signed(sides::sign(i), xs.mn, xs.mx);
                    else
                      p.add_signed(sides::sign(i), 0, std::min(xs.mx, m));
                  }
                  if (X.zero)
                    p.add(0, 0);
                }) &&
         narrow(env, w, y, x, z,
                [](const sides &X, const sides &Z, arith_pieces &p) {
                  for (int i = 0; i < 2; i++) {
                    const arith_side &xs = X.s[i], &zs = Z.s[i]; /* z takes x's sign */
                    if (!xs.has)
                      continue;
                    if (Z.zero) /* y divides x */
                      add_both(p, 1, xs.mx);
                    if (zs.has) {
                      /* A non-zero quotient: |x| = |q|*|y| + |z|, |y| > |z|. */
                      add_both(p, zs.mn + 1, mag_sub(xs.mx, zs.mn));
                      /* A zero one: x = z, |y| > |x|. */
                      if (xs.mn <= zs.mx && zs.mn <= xs.mx)
                        add_both(p, std::max(xs.mn, zs.mn) + 1, INF);
                    }
                  }
                  if (X.zero && Z.zero)
                    add_both(p, 1, INF);
                }) &&
         narrow(env, w, x, y, z, [](const sides &Y, const sides &Z, arith_pieces &p) {
           const ext ymin = Y.magmin(), ymax = Y.magmax();
           for (int i = 0; i < 2; i++) {
             const arith_side &zs = Z.s[i];
             if (!zs.has || zs.mn >= ymax)
               continue;
             p.add_signed(sides::sign(i), zs.mn, std::min(zs.mx, mag_dec(ymax)));
             p.add_signed(sides::sign(i), mag_add(std::max(ymin, zs.mn + 1), zs.mn), INF);
           }
           if (Z.zero) {
             p.add(0, 0);
             add_both(p, ymin, INF);
           }
         });
}

/* ---- x mod y = z ---- */

bool modulo_steps(VREnv *env, worker *w, dvar *x, dvar *y, dvar *z)
{
  if (!narrow(env, w, z, x, y,
              [](const sides &X, const sides &Y, arith_pieces &p) {
                for (int i = 0; i < 2; i++) {
                  const arith_side &ys = Y.s[i], &xs = X.s[i];
                  if (!ys.has)
                    continue;
                  if (xs.has) { /* x and y of one sign */
                    if (xs.mx < ys.mn)
                      p.add_signed(sides::sign(i), xs.mn, xs.mx);
                    else
                      p.add_signed(sides::sign(i), 0, std::min(xs.mx, mag_dec(ys.mx)));
                  }
                  if (X.s[1 - i].has)
                    p.add_signed(sides::sign(i), 0, mag_dec(ys.mx));
                }
                if (X.zero)
                  p.add(0, 0);
              }) ||
      !narrow(env, w, y, x, z, [](const sides &X, const sides &Z, arith_pieces &p) {
        for (int i = 0; i < 2; i++) {
          const arith_side &zs = Z.s[i], &same = X.s[i], &other = X.s[1 - i];
          if (zs.has) { /* y takes z's sign, |y| > |z| */
            if (same.has) {
              p.add_signed(sides::sign(i), zs.mn + 1, mag_sub(same.mx, zs.mn));
              if (same.mn <= zs.mx && zs.mn <= same.mx)
                p.add_signed(sides::sign(i), std::max(same.mn, zs.mn) + 1, INF);
            }
            if (other.has) /* x = q*y + z with q < 0: |y| =< |x| + |z| */
              p.add_signed(sides::sign(i), zs.mn + 1, mag_add(other.mx, zs.mx));
          }
          if (Z.zero && X.s[i].has)
            add_both(p, 1, X.s[i].mx);
        }
        if (X.zero && Z.zero)
          add_both(p, 1, INF);
      }))
    return false;
  /* X only by sign: a non-zero z needs a non-zero x. */
  const TAGGED zero = MakeSmall_checked(0);
  return arith_has_zero(z) || dvar_prune_interval_t(env, x, zero, zero, w) >= 0;
}

/* ---- A fixed divisor (mod and rem) ---- */

ext remainder_of(divop op, ext v, ext c) { return op == divop::modulo ? fast_modi(v, c) : v % c; }

int fixed_divisor_step(VREnv *env, worker *w, divop op, dvar *x, dvar *y, dvar *z)
{
  const ext c = GetSmall(y->min), ac = c < 0 ? -c : c;
  const ext xl = arith_ext(x->min), xh = arith_ext(x->max);
  const bool finite = xl > -INF && xh < INF, narrow = finite && xh - xl + 1 < ac;
  /* The remainders of a range of fewer than |c| values: l..h, or wrapped
     around within the full range. */
  arith_pieces p;
  auto remainders = [&](ext flo, ext fhi) {
    const ext l = remainder_of(op, xl, c), h = remainder_of(op, xh, c);
    if (l <= h) {
      p.add(l, h);
    } else {
      p.add(flo, h);
      p.add(l, fhi);
    }
  };
  if (op == divop::remainder) {
    if (xl > 0 || xh < 0) {
      const ext flo = xl > 0 ? 0 : 1 - ac, fhi = xl > 0 ? ac - 1 : 0;
      if (narrow)
        remainders(flo, fhi);
      else
        p.add(flo, fhi);
    } else {
      p.add(std::max(xl, 1 - ac), std::min(xh, ac - 1));
    }
  } else {
    const ext flo = c > 0 ? 0 : c + 1, fhi = c > 0 ? c - 1 : 0;
    if (narrow)
      remainders(flo, fhi);
    else
      p.add(flo, fhi);
  }
  if (arith_restrict(env, w, z, p) < 0)
    return -1;
  /* X's integer bounds moved to the nearest values whose remainders lie
     within Z's bounds: within the same period, else the next one. */
  const ext zl = arith_ext(z->min), zh = arith_ext(z->max);
  if (xl > -INF) {
    const ext l = remainder_of(op, xl, c), k = xl - l;
    const ext lb = l < zl ? k + zl : l > zh ? k + ac + zl : xl;
    if (lb != xl && dvar_fix_min_safe(env, x, static_cast<long>(lb)) < 0)
      return -1;
  }
  if (xh < INF) {
    const ext h = remainder_of(op, xh, c), k = xh - h;
    const ext ub = h > zh ? k + zh : h < zl ? k - ac + zh : xh;
    if (ub != xh && dvar_fix_max_safe(env, x, static_cast<long>(ub)) < 0)
      return -1;
  }
  return 0;
}

bool holds(divop op, ext x, ext y, ext z)
{
  switch (op) {
  case divop::quotient:
    return x / y == z;
  case divop::modulo:
    return fast_modi(x, y) == z;
  case divop::remainder:
    return x % y == z;
  }
  return false;
}

void divmod_run(VREnv *env, divop op, VR_term_ref new_state, VR_term_ref actions)
{
  arith_run run = arith_begin(env, new_state, {3, false, {1, 2, 3}, 0});
  dvar *x = &run.d->dvar[0], *y = x + 1, *z = x + 2;
  int code = 0;
  if (!plan_divmodrem(env, run.d, run.w)) {
    code = -1;
  } else if (op != divop::quotient && (y->flags & DV_FIXED)) {
    code = fixed_divisor_step(env, run.w, op, x, y, z);
  } else {
    bool ok = false;
    switch (op) {
    case divop::quotient:
      ok = quotient_steps(env, run.w, x, y, z);
      break;
    case divop::modulo:
      ok = modulo_steps(env, run.w, x, y, z);
      break;
    case divop::remainder:
      ok = remainder_steps(env, run.w, x, y, z);
      break;
    }
    code = ok ? 0 : -1;
  }
  if (code == 0 && (x->flags & y->flags & z->flags & DV_FIXED))
    code = holds(op, GetSmall(x->min), GetSmall(y->min), GetSmall(z->min)) ? 1 : -1;
  arith_end(env, run, 3, code, actions);
}

} // namespace

void prolog_fd_quotient_vrenv_multi_vr(VREnv *env, VR_term_ref, VR_term_ref new_state, VR_term_ref actions)
{
  divmod_run(env, divop::quotient, new_state, actions);
}

void prolog_fd_modulo_vrenv_multi_vr(VREnv *env, VR_term_ref, VR_term_ref new_state, VR_term_ref actions)
{
  divmod_run(env, divop::modulo, new_state, actions);
}

void prolog_fd_remainder_vrenv_multi_vr(VREnv *env, VR_term_ref, VR_term_ref new_state, VR_term_ref actions)
{
  divmod_run(env, divop::remainder, new_state, actions);
}
