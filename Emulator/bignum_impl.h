/* bignum_impl.h: helpers shared by the bignum files (bignum.cpp,
 * bignum_div.cpp, bignum_conv.cpp); not for other users.
 *
 * Digits of an operand x are x[1..n], n = ndigits(x); the sign of the
 * vector is bit 31 of x[n].
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
   -1027 when no header can describe that many digits. */
inline int room(const TAGGED *z, const TAGGED *zmax, std::uint64_t digits, std::uint64_t scratch = 0)
{
  if (digits > BN_MAX_DIGITS)
    return -BN_ERR_TOO_LONG;
  const std::uint64_t words = digits + 2 + scratch;
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

} // namespace bn_detail

#endif
