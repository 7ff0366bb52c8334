/* bignum.cpp: the bignum routines: tests, sign, addition, bitwise
 * operations, shifts, comparison and multiplication, and the shared helpers
 * of the other bignum files (bignum_div.cpp, bignum_conv.cpp).
 *
 * A routine computes into the free area [z, zmax) it is given and never
 * allocates; when the area is short it returns the words it needs (header
 * and trailer included) and bn_call retries on a larger area.  Errors are
 * decided before room, so the retry cannot fail differently.  Operands that
 * a routine negates for the work are restored before it returns.  Every
 * result goes through bn_canonize, so it is the minimal vector.
 */
#include "bignum.h"

#include <cassert>

#include "bignum_impl.h"

using namespace bn_detail;

/* ---- Tests and in-place helpers ---- */

bool bn_positive(const TAGGED *x)
{
  return !negative(x);
}

bool bn_isulong(const TAGGED *x)
{
  const unsigned n = ndigits(x);
  return (n == 1 && !negative(x)) || (n == 2 && x[2] == 0);
}

int bn_compare(const TAGGED *x, const TAGGED *y)
{
  const bool xneg = negative(x), yneg = negative(y);
  if (xneg != yneg)
    return xneg ? -1 : 1;
  const unsigned nx = ndigits(x), ny = ndigits(y);
  if (nx != ny) {
    /* Minimal operands: more digits means a larger magnitude. */
    const int longer_is_larger = xneg ? -1 : 1;
    return nx > ny ? longer_is_larger : -longer_is_larger;
  }
  for (unsigned i = nx; i >= 1; i--)
    if (x[i] != y[i])
      return x[i] > y[i] ? 1 : -1;
  return 0;
}

void bn_negate(TAGGED *x)
{
  const unsigned n = ndigits(x);
  std::uint32_t carry = 1;
  for (unsigned i = 1; i <= n; i++) {
    const std::uint32_t d = ~x[i] + carry;
    carry = carry && d == 0;
    x[i] = d;
  }
}

void bn_canonize(TAGGED *x)
{
  unsigned n = ndigits(x);
  while (n > 1 && ((x[n] == 0 && (x[n - 1] >> 31) == 0) ||
                   (x[n] == 0xFFFFFFFFu && (x[n - 1] >> 31) != 0)))
    n--;
  x[0] = BoxHeader(n, false);
}

/* ---- One-operand routines ---- */

int bn_msb(TAGGED *x, TAGGED *, TAGGED *z, TAGGED *zmax)
{
  if (negative(x))
    return -BN_ERR_NOT_POSITIVE;
  unsigned i = ndigits(x);
  while (i >= 1 && x[i] == 0)
    i--;
  if (i == 0)
    return -BN_ERR_NOT_POSITIVE; /* zero has no 1 bit */
  if (int r = room(z, zmax, 1))
    return r;
  z[0] = BoxHeader(1, false);
  z[1] = 32 * (i - 1) + 31 - static_cast<unsigned>(__builtin_clz(x[i]));
  return 0;
}

int bn_plus(TAGGED *x, TAGGED *, TAGGED *z, TAGGED *zmax)
{
  const unsigned n = ndigits(x);
  if (int r = room(z, zmax, n))
    return r;
  for (unsigned i = 1; i <= n; i++)
    z[i] = x[i];
  z[0] = BoxHeader(n, false);
  bn_canonize(z);
  return 0;
}

int bn_minus(TAGGED *x, TAGGED *, TAGGED *z, TAGGED *zmax)
{
  const unsigned n = ndigits(x);
  /* The negation of -2^(32n-1) needs a digit more. */
  const unsigned len = n + (negative(x) ? 1 : 0);
  if (int r = room(z, zmax, len))
    return r;
  for (unsigned i = 0; i < len; i++)
    z[1 + i] = digit_ext(x, n, i);
  z[0] = BoxHeader(len, false);
  bn_negate(z);
  bn_canonize(z);
  return 0;
}

namespace {

/* x + delta for delta = +1 or -1, with a digit more when the carry or
   borrow can leave the vector. */
int step(TAGGED *x, TAGGED *z, TAGGED *zmax, bool up)
{
  const unsigned n = ndigits(x);
  const unsigned len = n + (negative(x) != up ? 1 : 0);
  if (int r = room(z, zmax, len))
    return r;
  for (unsigned i = 0; i < len; i++)
    z[1 + i] = digit_ext(x, n, i);
  for (unsigned i = 1; i <= len; i++) {
    const std::uint32_t before = z[i];
    z[i] = up ? before + 1 : before - 1;
    if (before != (up ? 0xFFFFFFFFu : 0u))
      break;
  }
  z[0] = BoxHeader(len, false);
  bn_canonize(z);
  return 0;
}

/* x + y, or x - y computed as x + ~y + 1, on a digit more than the longer
   operand so that no carry is lost. */
int add_sub(TAGGED *x, TAGGED *y, TAGGED *z, TAGGED *zmax, bool subtract)
{
  const unsigned nx = ndigits(x), ny = ndigits(y);
  const unsigned len = (nx > ny ? nx : ny) + 1;
  if (int r = room(z, zmax, len))
    return r;
  std::uint64_t carry = subtract ? 1 : 0;
  for (unsigned i = 0; i < len; i++) {
    const std::uint32_t b = digit_ext(y, ny, i);
    const std::uint64_t t = static_cast<std::uint64_t>(digit_ext(x, nx, i)) + (subtract ? ~b : b) + carry;
    z[1 + i] = static_cast<std::uint32_t>(t);
    carry = t >> 32;
  }
  z[0] = BoxHeader(len, false);
  bn_canonize(z);
  return 0;
}

enum bitop { OP_AND, OP_OR, OP_XOR };

/* Above the shorter operand its sign extension takes part, which is what
   the two's-complement values of unbounded width would give. */
int bitwise(TAGGED *x, TAGGED *y, TAGGED *z, TAGGED *zmax, bitop op)
{
  const unsigned nx = ndigits(x), ny = ndigits(y);
  const unsigned len = nx > ny ? nx : ny;
  if (int r = room(z, zmax, len))
    return r;
  for (unsigned i = 0; i < len; i++) {
    const std::uint32_t a = digit_ext(x, nx, i), b = digit_ext(y, ny, i);
    z[1 + i] = op == OP_AND ? (a & b) : op == OP_OR ? (a | b) : (a ^ b);
  }
  z[0] = BoxHeader(len, false);
  bn_canonize(z);
  return 0;
}

/* The shift count in y, a one-digit non-negative box; false when it is
   larger than any digit can hold, which only a caller outside the contract
   gives, and which no result could be shifted by anyway. */
bool shift_count(const TAGGED *y, std::uint32_t *count)
{
  assert(bn_positive(y));
  if (ndigits(y) != 1 || negative(y)) {
    *count = 0xFFFFFFFFu;
    return false;
  }
  *count = y[1];
  return true;
}

bool is_zero(const TAGGED *x)
{
  for (unsigned i = ndigits(x); i >= 1; i--)
    if (x[i] != 0)
      return false;
  return true;
}

} // namespace

int bn_incr(TAGGED *x, TAGGED *, TAGGED *z, TAGGED *zmax) { return step(x, z, zmax, true); }
int bn_decr(TAGGED *x, TAGGED *, TAGGED *z, TAGGED *zmax) { return step(x, z, zmax, false); }
int bn_add(TAGGED *x, TAGGED *y, TAGGED *z, TAGGED *zmax) { return add_sub(x, y, z, zmax, false); }
int bn_subtract(TAGGED *x, TAGGED *y, TAGGED *z, TAGGED *zmax) { return add_sub(x, y, z, zmax, true); }
int bn_and(TAGGED *x, TAGGED *y, TAGGED *z, TAGGED *zmax) { return bitwise(x, y, z, zmax, OP_AND); }
int bn_or(TAGGED *x, TAGGED *y, TAGGED *z, TAGGED *zmax) { return bitwise(x, y, z, zmax, OP_OR); }
int bn_xor(TAGGED *x, TAGGED *y, TAGGED *z, TAGGED *zmax) { return bitwise(x, y, z, zmax, OP_XOR); }

int bn_not(TAGGED *x, TAGGED *, TAGGED *z, TAGGED *zmax)
{
  const unsigned n = ndigits(x);
  if (int r = room(z, zmax, n))
    return r;
  for (unsigned i = 1; i <= n; i++)
    z[i] = ~x[i];
  z[0] = BoxHeader(n, false);
  bn_canonize(z);
  return 0;
}

/* ---- Shifts ---- */

int bn_lshift(TAGGED *x, TAGGED *y, TAGGED *z, TAGGED *zmax)
{
  const unsigned n = ndigits(x);
  std::uint32_t s;
  const bool fits = shift_count(y, &s);
  if (is_zero(x)) {
    if (int r = room(z, zmax, 1))
      return r;
    z[0] = BoxHeader(1, false);
    z[1] = 0;
    return 0;
  }
  if (!fits)
    return -BN_ERR_TOO_LONG;
  const unsigned w = s / 32, b = s % 32;
  const std::uint64_t len = static_cast<std::uint64_t>(n) + w + (b > 0 ? 1 : 0);
  if (int r = room(z, zmax, len))
    return r;
  for (unsigned i = 1; i <= w; i++)
    z[i] = 0;
  if (b == 0) {
    for (unsigned i = 1; i <= n; i++)
      z[w + i] = x[i];
  } else {
    std::uint32_t carry = 0;
    for (unsigned i = 1; i <= n; i++) {
      z[w + i] = (x[i] << b) | carry;
      carry = x[i] >> (32 - b);
    }
    /* The new top digit is the old top digit shifted arithmetically: the
       bits shifted out below, and copies of the sign in all the 32 - b bits
       above them.  Filling only b high bits with the sign (and leaving the
       middle zero) would turn a negative x into a wrong, smaller value. */
    z[w + n + 1] = static_cast<std::uint32_t>(static_cast<std::int32_t>(x[n]) >> (32 - b));
  }
  z[0] = BoxHeader(static_cast<unsigned>(len), false);
  bn_canonize(z);
  return 0;
}

int bn_rshift(TAGGED *x, TAGGED *y, TAGGED *z, TAGGED *zmax)
{
  const unsigned n = ndigits(x);
  std::uint32_t s;
  const bool fits = shift_count(y, &s);
  const std::uint32_t sign = sign_digit(x);
  const unsigned w = s / 32, b = s % 32;
  if (!fits || w >= n) {
    if (int r = room(z, zmax, 1))
      return r;
    z[0] = BoxHeader(1, false);
    z[1] = sign;
    return 0;
  }
  const unsigned len = n - w;
  if (int r = room(z, zmax, len))
    return r;
  for (unsigned i = 0; i < len; i++) {
    const std::uint32_t lo = x[1 + w + i];
    const std::uint32_t hi = w + i + 1 < n ? x[2 + w + i] : sign;
    z[1 + i] = b == 0 ? lo : (lo >> b) | (hi << (32 - b));
  }
  z[0] = BoxHeader(len, false);
  bn_canonize(z);
  return 0;
}

/* ---- Multiplication ---- */

int bn_multiply(TAGGED *x, TAGGED *y, TAGGED *z, TAGGED *zmax)
{
  const unsigned nx = ndigits(x), ny = ndigits(y);
  const std::uint64_t len = static_cast<std::uint64_t>(nx) + ny;
  if (int r = room(z, zmax, len))
    return r;
  const bool xneg = negative(x), yneg = negative(y);
  const bool same = x == y;
  /* Work on magnitudes: the n-digit negation of an n-digit value, read
     unsigned, is its magnitude even for -2^(32n-1). */
  if (xneg)
    bn_negate(x);
  if (yneg && !same)
    bn_negate(y);
  for (unsigned i = 1; i <= len; i++)
    z[i] = 0;
  /* Schoolbook product on 32-bit digits; each step's product plus two
     carries stays below 2^64. */
  for (unsigned i = 1; i <= nx; i++) {
    const std::uint64_t d = x[i];
    if (d == 0)
      continue;
    std::uint64_t carry = 0;
    for (unsigned j = 1; j <= ny; j++) {
      const std::uint64_t t = d * y[j] + z[i + j - 1] + carry;
      z[i + j - 1] = static_cast<std::uint32_t>(t);
      carry = t >> 32;
    }
    z[i + ny] = static_cast<std::uint32_t>(carry);
  }
  if (xneg)
    bn_negate(x);
  if (yneg && !same)
    bn_negate(y);
  z[0] = BoxHeader(static_cast<unsigned>(len), false);
  /* |x| * |y| < 2^(32(nx+ny) - 2), so the sign bit of the product is free. */
  if (xneg != yneg && !same)
    bn_negate(z);
  bn_canonize(z);
  return 0;
}
