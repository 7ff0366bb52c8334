/* bignum_impl.h: helpers shared by the bignum files (bignum.cpp,
 * bignum_div.cpp, bignum_conv.cpp); not for other users (the unit tests
 * reach the natural-number layer and the thresholds through it).
 *
 * Digits of an operand x are x[1..n], n = ndigits(x); the sign of the
 * vector is bit 31 of x[n].
 *
 * The natural-number layer below works on plain magnitudes: vectors of
 * 32-bit digits, least significant first, with explicit lengths (leading
 * zero digits allowed).  It serves the subquadratic text conversions of
 * long numbers.  Nothing in it allocates: every function takes a scratch
 * area [sc, end) that its *_scratch companion sizes, and outputs never
 * overlap inputs.  The functions recurse, to a depth logarithmic in the
 * length.
 */
#ifndef VOSTREL_BIGNUM_IMPL_H
#define VOSTREL_BIGNUM_IMPL_H

#include <cstddef>
#include <cstdint>

#include "bignum.h"
#include "termdefs.h"

namespace bn_detail {

inline unsigned ndigits(const TAGGED *x) { return BoxPayload(x[0]); }
inline bool negative(const TAGGED *x) { return (x[ndigits(x)] >> 31) != 0; }
/* 0 or 0xFFFFFFFF: the digit that extends x upward. */
inline std::uint32_t sign_digit(const TAGGED *x)
{
  return static_cast<std::uint32_t>(static_cast<std::int32_t>(x[ndigits(x)]) >> 31);
}
/* Digit i (from 0) of x, sign-extended past its n digits. */
inline std::uint32_t digit_ext(const TAGGED *x, unsigned n, unsigned i)
{
  return i < n ? x[1 + i] : sign_digit(x);
}

/* 0 when a result of `digits` digits plus `scratch` work words fits at z
   below zmax; else the words to ask for (header and trailer counted), or
   -1027 when no header can describe that many digits or the words would
   pass 2^31. */
inline int room(const TAGGED *z, const TAGGED *zmax, std::uint64_t digits, std::uint64_t scratch = 0)
{
  if (digits > BN_MAX_DIGITS)
    return -BN_ERR_TOO_LONG;
  const std::uint64_t words = digits + 2 + scratch;
  if (words > 0x7FFFFFFF)
    return -BN_ERR_TOO_LONG; /* no count to ask for: more than the address space */
  if (static_cast<std::uint64_t>(zmax - z) < words)
    return static_cast<int>(words);
  return 0;
}

/* The magnitude of x into dst (ndigits(x) digits, read unsigned); returns
   the count without leading zero digits (0 for zero). */
inline unsigned load_magnitude(const TAGGED *x, std::uint32_t *dst)
{
  const unsigned n = ndigits(x);
  const bool neg = negative(x);
  std::uint32_t carry = 1;
  for (unsigned i = 0; i < n; i++) {
    std::uint32_t d = x[1 + i];
    if (neg) {
      d = ~d + carry;
      carry = carry && d == 0;
    }
    dst[i] = d;
  }
  unsigned len = n;
  while (len > 0 && dst[len - 1] == 0)
    len--;
  return len;
}

/* Writes the magnitude mag[0..len) as a result at z, negated when asked,
   one digit more for the sign; mag must not overlap z[0..len+1]. */
inline void store_magnitude(TAGGED *z, const std::uint32_t *mag, unsigned len, bool negate)
{
  for (unsigned i = 0; i < len; i++)
    z[1 + i] = mag[i];
  z[1 + len] = 0;
  z[0] = BoxHeader(len + 1, false);
  if (negate)
    bn_negate(z);
  bn_canonize(z);
}

/* ---- Natural numbers (bignum.cpp: multiplication; bignum_div.cpp:
   reciprocals and division by a reciprocal) ---- */

using digit = std::uint32_t;

/* Size thresholds, in digits.  Below `karatsuba` a product is schoolbook;
   a text of at most `from_text` digits' worth of characters converts to a
   number by the simple loop, and a number of at most `to_text` digits to
   text; a reciprocal of at most `recip` digits comes from one long
   division; conversion to text divides by divisors below `div_recip`
   digits by long division, by a reciprocal from there on.  Every threshold
   must be at least 2.  Tests lower them to drive the recursive paths on
   small numbers. */
struct bn_tuning {
  unsigned karatsuba;
  unsigned from_text;
  unsigned to_text;
  unsigned recip;
  unsigned div_recip;
};
constexpr bn_tuning bn_default_tuning{32, 256, 2048, 32, 256};
extern bn_tuning tuning;

/* a[0..na) += b[0..nb), nb <= na; returns the carry out of a[na-1]. */
digit nat_add(digit *a, unsigned na, const digit *b, unsigned nb);
/* a[0..na) -= b[0..nb), nb <= na; returns the borrow out of a[na-1]. */
digit nat_sub(digit *a, unsigned na, const digit *b, unsigned nb);
/* -1, 0, 1 comparing a[0..na) with b[0..nb). */
int nat_cmp(const digit *a, unsigned na, const digit *b, unsigned nb);
/* Length without leading zero digits. */
inline unsigned nat_len(const digit *a, unsigned n)
{
  while (n > 0 && a[n - 1] == 0)
    n--;
  return n;
}

/* Scratch words that nat_mul needs for operands of na and nb digits: a
   bound that never decreases as either length grows, so areas may be sized
   from upper bounds of the lengths. */
std::size_t mul_scratch(unsigned na, unsigned nb);
/* The exact need of nat_mul (checked by its assertions). */
std::size_t mul_scratch_exact(unsigned na, unsigned nb);
/* out[0..na+nb) = a * b (Karatsuba above tuning.karatsuba); a and b may be
   the same vector, out overlaps neither. */
void nat_mul(const digit *a, unsigned na, const digit *b, unsigned nb, digit *out, digit *sc, digit *end);

/* Long division (bignum_div.cpp) of u[0..nu) by v[0..nv), nv >= 2,
   v[nv-1] != 0, nu >= nv; u has room for nu + 1 digits.  The quotient goes
   to q[0..nu-nv], the remainder to u[0..nv); v is normalised in place
   (shifted until its top bit is set). */
void long_division(digit *u, unsigned nu, digit *v, unsigned nv, digit *q);

/* Scratch of nat_recip for a divisor of n digits. */
std::size_t recip_scratch(unsigned n);
/* v[0..n] = floor(B^2n / d) for d[0..n), n >= 2, normalised (top bit of
   d[n-1] set), B = 2^32; Newton's iteration from the reciprocal of d's top
   half, so the cost is a few products of n digits. */
void nat_recip(const digit *d, unsigned n, digit *v, digit *sc, digit *end);

/* Scratch of nat_divrem for a divisor of n digits. */
std::size_t divrem_scratch(unsigned n);
/* q[0..n) = floor(y / p) and r[0..n) = y mod p, where d = p << shift is
   normalised with n >= 2 digits, v = nat_recip(d), and y[0..ny), ny <= 2n,
   is below p^2 (so that y << shift stays below B^2n and the quotient below
   p). */
void nat_divrem(const digit *y, unsigned ny, const digit *d, unsigned n, unsigned shift, const digit *v,
                digit *q, digit *r, digit *sc, digit *end);

} // namespace bn_detail

#endif
