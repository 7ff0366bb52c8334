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
 *
 * The natural-number products at the end (nat_mul, Karatsuba above a
 * threshold) serve the text conversions of long numbers; bn_multiply itself
 * stays the schoolbook product.
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

/* ---- Natural-number products ---- */

namespace bn_detail {

bn_tuning tuning = bn_default_tuning;

digit nat_add(digit *a, unsigned na, const digit *b, unsigned nb)
{
  std::uint64_t carry = 0;
  unsigned i = 0;
  for (; i < nb; i++) {
    carry += static_cast<std::uint64_t>(a[i]) + b[i];
    a[i] = static_cast<digit>(carry);
    carry >>= 32;
  }
  for (; carry != 0 && i < na; i++)
    carry = ++a[i] == 0;
  return static_cast<digit>(carry);
}

digit nat_sub(digit *a, unsigned na, const digit *b, unsigned nb)
{
  digit borrow = 0;
  unsigned i = 0;
  for (; i < nb; i++) {
    const digit x = a[i], y = b[i];
    const digit d = x - y - borrow;
    borrow = x < y || (x == y && borrow);
    a[i] = d;
  }
  for (; borrow != 0 && i < na; i++)
    borrow = a[i]-- == 0;
  return borrow;
}

int nat_cmp(const digit *a, unsigned na, const digit *b, unsigned nb)
{
  na = nat_len(a, na);
  nb = nat_len(b, nb);
  if (na != nb)
    return na < nb ? -1 : 1;
  for (unsigned i = na; i-- > 0;)
    if (a[i] != b[i])
      return a[i] < b[i] ? -1 : 1;
  return 0;
}

std::size_t mul_scratch_exact(unsigned na, unsigned nb)
{
  if (na < nb) {
    const unsigned t = na;
    na = nb;
    nb = t;
  }
  if (nb < tuning.karatsuba)
    return 0;
  if (na == nb) {
    const unsigned h = na - na / 2;
    const std::size_t inner = mul_scratch_exact(h, h);
    return 4ull * h + (inner > 2ull * h + 1 ? inner : 2ull * h + 1);
  }
  const std::size_t full = mul_scratch_exact(nb, nb);
  const std::size_t last = na % nb != 0 ? mul_scratch_exact(nb, na % nb) : 0;
  return 2ull * nb + (full > last ? full : last);
}

std::size_t mul_scratch(unsigned na, unsigned nb)
{
  /* The exact need (above) is not monotone in the lengths; this bound is,
     and the unit tests check that it covers the exact need. */
  const unsigned lo = na < nb ? na : nb;
  return lo < tuning.karatsuba ? 0 : 12ull * lo + 32;
}

namespace {

void school_mul(const digit *a, unsigned na, const digit *b, unsigned nb, digit *out)
{
  for (unsigned j = 0; j < nb; j++)
    out[j] = 0;
  for (unsigned i = 0; i < na; i++) {
    const std::uint64_t d = a[i];
    digit carry = 0;
    digit *row = out + i;
    if (d != 0)
      for (unsigned j = 0; j < nb; j++) {
        const std::uint64_t t = d * b[j] + row[j] + carry;
        row[j] = static_cast<digit>(t);
        carry = static_cast<digit>(t >> 32);
      }
    row[nb] = carry;
  }
}

/* out[0..nx) = |x - y| for x[0..nx), y[0..ny), ny <= nx; true when x < y. */
bool abs_diff(const digit *x, unsigned nx, const digit *y, unsigned ny, digit *out)
{
  const bool less = nat_cmp(x, nx, y, ny) < 0;
  if (less) {
    for (unsigned i = 0; i < nx; i++)
      out[i] = i < ny ? y[i] : 0;
    nat_sub(out, nx, x, nx);
  } else {
    for (unsigned i = 0; i < nx; i++)
      out[i] = x[i];
    nat_sub(out, nx, y, ny);
  }
  return less;
}

/* Karatsuba on two n-digit operands (n >= 2):
   a b = a0 b0 + (a0 b0 + a1 b1 - (a1 - a0)(b1 - b0)) B^m + a1 b1 B^2m,
   with the differences taken as magnitude and sign so that every
   intermediate is a natural number of at most 2h + 1 digits. */
void karatsuba(const digit *a, const digit *b, unsigned n, digit *out, digit *sc, digit *end)
{
  const unsigned m = n / 2, h = n - m;
  nat_mul(a, m, b, m, out, sc, end);
  nat_mul(a + m, h, b + m, h, out + 2 * m, sc, end);
  digit *da = sc, *db = sc + h, *t = sc + 2 * h, *mid = t + 2 * h;
  assert(mid + 2 * h + 1 <= end);
  const bool sa = abs_diff(a + m, h, a, m, da);
  const bool sb = abs_diff(b + m, h, b, m, db);
  nat_mul(da, h, db, h, t, mid, end);
  for (unsigned i = 0; i < 2 * h + 1; i++)
    mid[i] = i < 2 * m ? out[i] : 0;
  nat_add(mid, 2 * h + 1, out + 2 * m, 2 * h);
  const digit over = sa == sb ? nat_sub(mid, 2 * h + 1, t, 2 * h) : nat_add(mid, 2 * h + 1, t, 2 * h);
  const digit carry = nat_add(out + m, 2 * n - m, mid, 2 * h + 1);
  assert(over == 0 && carry == 0);
  (void)over;
  (void)carry;
}

} // namespace

void nat_mul(const digit *a, unsigned na, const digit *b, unsigned nb, digit *out, digit *sc, digit *end)
{
  if (na < nb) {
    const digit *t = a;
    a = b;
    b = t;
    const unsigned tn = na;
    na = nb;
    nb = tn;
  }
  assert(static_cast<std::size_t>(end - sc) >= mul_scratch_exact(na, nb));
  if (nb < tuning.karatsuba) {
    school_mul(a, na, b, nb, out);
    return;
  }
  if (na == nb) {
    karatsuba(a, b, na, out, sc, end);
    return;
  }
  /* Unbalanced: a in blocks of nb digits, each block's product added in. */
  for (unsigned i = 0; i < na + nb; i++)
    out[i] = 0;
  digit *tmp = sc;
  for (unsigned i = 0; i < na; i += nb) {
    const unsigned blk = na - i < nb ? na - i : nb;
    nat_mul(a + i, blk, b, nb, tmp, tmp + 2 * nb, end);
    nat_add(out + i, na + nb - i, tmp, blk + nb);
  }
}

} // namespace bn_detail
