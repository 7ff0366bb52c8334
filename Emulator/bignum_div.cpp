/* bignum_div.cpp: integer division of bignums, with its three rounding
 * conventions: quotient toward zero, remainder with the sign of the
 * dividend, modulus with the sign of the divisor.
 *
 * All three share one long division of the magnitudes.  The operands are
 * only read: their magnitudes are copied into a work area after the result
 * (the copy is needed anyway for normalisation), so the room a division asks
 * for covers result, copies and quotient digits.  Called through bn_call by
 * the evaluable functions.
 *
 * For the text conversions of long numbers this file also divides natural
 * numbers by a precomputed reciprocal (nat_recip, nat_divrem): a division
 * then costs two products instead of a quadratic long division.
 */
#include "bignum.h"

#include <cassert>

#include "bignum_impl.h"

using namespace bn_detail;

namespace bn_detail {

/* The divisor is normalised in place so that its leading digit has its top
   bit set, which keeps each quotient estimate at most two too large. */
void long_division(std::uint32_t *u, unsigned nu, std::uint32_t *v, unsigned nv, std::uint32_t *q)
{
  const unsigned s = static_cast<unsigned>(__builtin_clz(v[nv - 1]));
  if (s > 0) {
    for (unsigned i = nv - 1; i > 0; i--)
      v[i] = (v[i] << s) | (v[i - 1] >> (32 - s));
    v[0] <<= s;
    u[nu] = u[nu - 1] >> (32 - s);
    for (unsigned i = nu - 1; i > 0; i--)
      u[i] = (u[i] << s) | (u[i - 1] >> (32 - s));
    u[0] <<= s;
  } else {
    u[nu] = 0;
  }
  const std::uint64_t base = 1ull << 32;
  const std::uint64_t vtop = v[nv - 1], vnext = v[nv - 2];
  for (unsigned j = nu - nv + 1; j-- > 0;) {
    const std::uint64_t num = (static_cast<std::uint64_t>(u[j + nv]) << 32) | u[j + nv - 1];
    std::uint64_t qhat = num / vtop;
    std::uint64_t rhat = num % vtop;
    while (qhat >= base || qhat * vnext > ((rhat << 32) | u[j + nv - 2])) {
      qhat--;
      rhat += vtop;
      if (rhat >= base)
        break;
    }
    /* u[j..j+nv] -= qhat * v */
    std::int64_t borrow = 0, t;
    for (unsigned i = 0; i < nv; i++) {
      const std::uint64_t p = qhat * v[i];
      t = static_cast<std::int64_t>(u[i + j]) - borrow - static_cast<std::int64_t>(p & 0xFFFFFFFFu);
      u[i + j] = static_cast<std::uint32_t>(t);
      borrow = static_cast<std::int64_t>(p >> 32) - (t >> 32);
    }
    t = static_cast<std::int64_t>(u[j + nv]) - borrow;
    u[j + nv] = static_cast<std::uint32_t>(t);
    if (t < 0) {
      /* The estimate was one too large: add the divisor back. */
      qhat--;
      std::uint64_t carry = 0;
      for (unsigned i = 0; i < nv; i++) {
        const std::uint64_t sum = static_cast<std::uint64_t>(u[i + j]) + v[i] + carry;
        u[i + j] = static_cast<std::uint32_t>(sum);
        carry = sum >> 32;
      }
      u[j + nv] += static_cast<std::uint32_t>(carry);
    }
    q[j] = static_cast<std::uint32_t>(qhat);
  }
  if (s > 0) {
    for (unsigned i = 0; i + 1 < nv; i++)
      u[i] = (u[i] >> s) | (u[i + 1] << (32 - s));
    u[nv - 1] >>= s;
  }
}

} // namespace bn_detail

namespace {

enum div_kind { DIV_QUOTIENT, DIV_REMAINDER, DIV_MODULUS };

bool all_zero(const TAGGED *x)
{
  for (unsigned i = ndigits(x); i >= 1; i--)
    if (x[i] != 0)
      return false;
  return true;
}

unsigned trimmed(const std::uint32_t *d, unsigned n)
{
  while (n > 0 && d[n - 1] == 0)
    n--;
  return n;
}

int bn_div_mod(TAGGED *x, TAGGED *y, TAGGED *z, TAGGED *zmax, div_kind kind)
{
  if (all_zero(y))
    return -BN_ERR_ZERO_DIVISOR;
  if (x == y) {
    if (int r = room(z, zmax, 1))
      return r;
    z[0] = BoxHeader(1, false);
    z[1] = kind == DIV_QUOTIENT ? 1 : 0;
    return 0;
  }
  const unsigned nx = ndigits(x), ny = ndigits(y);
  /* Result: |quotient| <= |x|, |remainder| < |y|, each with a sign digit.
     Work: |x| with a digit for normalisation, |y|, the quotient digits. */
  const std::uint64_t result = static_cast<std::uint64_t>(nx > ny ? nx : ny) + 1;
  const std::uint64_t work = static_cast<std::uint64_t>(nx) + 1 + ny + nx;
  if (int r = room(z, zmax, result, work))
    return r;
  std::uint32_t *u = z + 2 + result; /* past the result and its trailer slot */
  std::uint32_t *v = u + nx + 1;
  std::uint32_t *q = v + ny;
  const bool xneg = negative(x), yneg = negative(y);
  unsigned nu = load_magnitude(x, u);
  const unsigned nv = load_magnitude(y, v);
  unsigned nq, nr;
  if (nu < nv) {
    nq = 0;
    nr = nu;
  } else if (nv == 1) {
    const std::uint64_t d = v[0];
    std::uint64_t rem = 0;
    for (unsigned i = nu; i-- > 0;) {
      const std::uint64_t t = (rem << 32) | u[i];
      q[i] = static_cast<std::uint32_t>(t / d);
      rem = t % d;
    }
    nq = nu;
    u[0] = static_cast<std::uint32_t>(rem);
    nr = 1;
  } else {
    long_division(u, nu, v, nv, q);
    nq = nu - nv + 1;
    nr = nv;
  }
  nq = trimmed(q, nq);
  nr = trimmed(u, nr);
  switch (kind) {
  case DIV_QUOTIENT:
    store_magnitude(z, q, nq, xneg != yneg);
    break;
  case DIV_REMAINDER:
    store_magnitude(z, u, nr, xneg);
    break;
  case DIV_MODULUS:
    if (nr != 0 && xneg != yneg) {
      /* floor rounding moved the quotient one further from zero, so the
         magnitude of the result is |y| - r. */
      const unsigned nv2 = load_magnitude(y, v); /* v was normalised */
      std::int64_t borrow = 0;
      for (unsigned i = 0; i < nv2; i++) {
        const std::int64_t t = static_cast<std::int64_t>(v[i]) - (i < nr ? u[i] : 0) - borrow;
        u[i] = static_cast<std::uint32_t>(t);
        borrow = t < 0 ? 1 : 0;
      }
      nr = trimmed(u, nv2);
    }
    store_magnitude(z, u, nr, yneg);
    break;
  }
  return 0;
}

} // namespace

int bn_quotient(TAGGED *x, TAGGED *y, TAGGED *z, TAGGED *zmax)
{
  return bn_div_mod(x, y, z, zmax, DIV_QUOTIENT);
}

int bn_remainder(TAGGED *x, TAGGED *y, TAGGED *z, TAGGED *zmax)
{
  return bn_div_mod(x, y, z, zmax, DIV_REMAINDER);
}

int bn_modulus(TAGGED *x, TAGGED *y, TAGGED *z, TAGGED *zmax)
{
  return bn_div_mod(x, y, z, zmax, DIV_MODULUS);
}

/* ---- Division by a reciprocal ---- */

namespace bn_detail {

namespace {

/* x[0..n) = B^n - x[0..n) for 0 < x < B^n. */
void negate_digits(digit *x, unsigned n)
{
  digit carry = 1;
  for (unsigned i = 0; i < n; i++) {
    const digit d = ~x[i] + carry;
    carry = carry && d == 0;
    x[i] = d;
  }
}

inline std::size_t max_of(std::size_t a, std::size_t b) { return a > b ? a : b; }

} // namespace

std::size_t recip_scratch(unsigned n)
{
  if (n <= tuning.recip)
    return (2ull * n + 2) + (n + 2) + n;
  const unsigned h = (n + 1) / 2, l = n - h;
  const std::size_t check = (n + l + 2) + mul_scratch(n, l + 2);
  const std::size_t step = (n + h + 2) + max_of(mul_scratch(h + 1, n + 1), check);
  const std::size_t newton = (n + h + 1) + max_of(mul_scratch(n, h + 1), step);
  return (h + 1) + max_of(recip_scratch(h), newton);
}

/* With V = B^2n / d (a real number, B^n < V <= 2 B^n for a normalised d)
   and h = ceil(n/2), l = n - h:
   1. vh = floor(B^2h / dh) for dh, the top h digits of d, by recursion.
   2. v0 = (vh - 4) B^l lies below V by less than 5 B^l: dh B^l <= d <
      (dh + 1) B^l puts vh B^l within 4 B^l above V and B^l below it.
   3. One Newton step from below, v1 = v0 + floor(v0 e / B^2n) with
      e = B^2n - d v0 > 0, leaves V - v1 < (V - v0)^2 / V + 1 <= 26 and
      v1 <= V.  With e' = e / B^l = B^(n+h) - d (vh - 4) < 5 B^n the step is
      v1 = v0 + floor((vh - 4) e' / B^2h).
   4. r = B^2n - d v1 = e' B^l - d (v1 - v0) then says how many times d
      still fits: at most 26 steps of one subtraction make v1 the floor. */
void nat_recip(const digit *d, unsigned n, digit *v, digit *sc, digit *end)
{
  assert(n >= 2 && (d[n - 1] >> 31) != 0);
  assert(static_cast<std::size_t>(end - sc) >= recip_scratch(n));
  if (n <= tuning.recip) {
    digit *u = sc, *dc = u + 2 * n + 2, *q = dc + n;
    for (unsigned i = 0; i < 2 * n; i++)
      u[i] = 0;
    u[2 * n] = 1;
    for (unsigned i = 0; i < n; i++)
      dc[i] = d[i];
    long_division(u, 2 * n + 1, dc, n, q);
    assert(q[n + 1] == 0);
    for (unsigned i = 0; i <= n; i++)
      v[i] = q[i];
    return;
  }
  const unsigned h = (n + 1) / 2, l = n - h;
  digit *vh = sc, *e = sc + h + 1;
  nat_recip(d + l, h, vh, e, end);
  const digit four = 4;
  nat_sub(vh, h + 1, &four, 1);
  digit *p = e + n + h + 1;
  nat_mul(d, n, vh, h + 1, e, p, end);
  assert(e[n + h] == 0);
  negate_digits(e, n + h); /* e' */
  assert(nat_len(e, n + h) <= n + 1);
  nat_mul(vh, h + 1, e, n + 1, p, p + n + h + 2, end);
  const digit *add = p + 2 * h; /* v1 - v0: l + 2 digits */
  for (unsigned i = 0; i < l; i++)
    v[i] = add[i];
  for (unsigned i = 0; i <= h; i++)
    v[l + i] = vh[i];
  const digit carry = nat_add(v + l, h + 1, add + l, 2);
  assert(carry == 0);
  (void)carry;
  /* r = e' B^l - d add, below 27 d (n + 1 digits), computed modulo
     B^(n+l+2) as e' B^l + (the complement of d add) + 1. */
  digit *r = p + n + h + 2;
  nat_mul(d, n, add, l + 2, r, r + n + l + 2, end);
  for (unsigned i = 0; i < n + l + 2; i++)
    r[i] = ~r[i];
  const digit one = 1;
  nat_add(r, n + l + 2, &one, 1);
  nat_add(r + l, n + 2, e, n + 1);
  assert(nat_len(r, n + l + 2) <= n + 1);
  for (int steps = 0; nat_cmp(r, n + 1, d, n) >= 0; steps++) {
    assert(steps < 27);
    nat_sub(r, n + 1, d, n);
    nat_add(v, n + 1, &one, 1);
  }
}

std::size_t divrem_scratch(unsigned n)
{
  return (2ull * n + 1) + (n + 1) +
         max_of((2ull * n + 2) + mul_scratch(n + 1, n + 1), (2ull * n + 1) + mul_scratch(n + 1, n));
}

/* With X = y << shift < B^2n and v = floor(B^2n / d), floor(X v / B^2n)
   is the quotient or one below it (X v / B^2n lies within X / B^2n < 1
   under X / d).  Only the top n + 1 digits Xh of X enter the estimate
   floor(Xh v / B^(n+1)): the digits left out add less than 2 / B to
   X v / B^2n, so the estimate is at most two below the quotient. */
void nat_divrem(const digit *y, unsigned ny, const digit *d, unsigned n, unsigned shift, const digit *v,
                digit *q, digit *r, digit *sc, digit *end)
{
  assert(ny <= 2 * n && static_cast<std::size_t>(end - sc) >= divrem_scratch(n));
  digit *x = sc, *qq = x + 2 * n + 1, *p = qq + n + 1;
  for (unsigned i = 0; i <= 2 * n; i++)
    x[i] = i < ny ? y[i] : 0;
  if (shift != 0) {
    for (unsigned i = 2 * n; i > 0; i--)
      x[i] = (x[i] << shift) | (x[i - 1] >> (32 - shift));
    x[0] <<= shift;
  }
  assert(x[2 * n] == 0);
  nat_mul(x + n - 1, n + 1, v, n + 1, p, p + 2 * n + 2, end);
  for (unsigned i = 0; i <= n; i++)
    qq[i] = p[n + 1 + i];
  nat_mul(qq, n + 1, d, n, p, p + 2 * n + 1, end);
  const digit borrow = nat_sub(x, 2 * n + 1, p, 2 * n + 1);
  assert(borrow == 0);
  (void)borrow;
  const digit one = 1;
  for (int steps = 0; nat_cmp(x, n + 1, d, n) >= 0; steps++) {
    assert(steps < 3 && nat_len(x, 2 * n + 1) <= n + 1);
    nat_sub(x, n + 1, d, n);
    nat_add(qq, n + 1, &one, 1);
  }
  assert(nat_len(x, 2 * n + 1) <= n && qq[n] == 0);
  for (unsigned i = 0; i < n; i++) {
    q[i] = qq[i];
    r[i] = shift == 0 ? x[i] : (x[i] >> shift) | (x[i + 1] << (32 - shift));
  }
}

} // namespace bn_detail
