/* bignum_div.cpp: integer division of bignums, with its three rounding
 * conventions: quotient toward zero, remainder with the sign of the
 * dividend, modulus with the sign of the divisor.
 *
 * All three share one long division of the magnitudes.  The operands are
 * only read: their magnitudes are copied into a work area after the result
 * (the copy is needed anyway for normalisation), so the room a division asks
 * for covers result, copies and quotient digits.  Called through bn_call by
 * the evaluable functions.
 */
#include "bignum.h"

#include "bignum_impl.h"

using namespace bn_detail;

namespace {

enum div_kind { DIV_QUOTIENT, DIV_REMAINDER, DIV_MODULUS };

bool all_zero(const TAGGED *x)
{
  for (unsigned i = ndigits(x); i >= 1; i--)
    if (x[i] != 0)
      return false;
  return true;
}

/* Long division of u[0..nu) by v[0..nv), nv >= 2, v[nv-1] != 0, nu >= nv;
   u has room for nu + 1 digits.  Leaves the quotient in q[0..nu-nv] and the
   remainder in u[0..nv).  The divisor is normalised in place so that its
   leading digit has its top bit set, which keeps each quotient estimate at
   most two too large. */
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
