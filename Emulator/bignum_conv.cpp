/* bignum_conv.cpp: bignums from and to text, bytes and floats.
 *
 * Text and bytes come from the number reader, the atom/number built-ins and
 * the foreign interface; the float conversion is a bn_call routine used by
 * bn_call itself for float operands and by the float-to-integer functions.
 * Text goes out through the atom buffer BASE_ATOMBUF, which is also the
 * work area of that conversion (the routines themselves never allocate).
 * Radix and base are checked here: a radix below 2 would never finish.
 */
#include "bignum.h"

#include <cmath>
#include <cstring>

#include "atoms.h"
#include "bignum_impl.h"
#include "float_conv.h"

using namespace bn_detail;

namespace {

/* The largest power of radix that a digit holds, and its exponent. */
void digit_power(unsigned radix, std::uint32_t *power, unsigned *count)
{
  std::uint64_t p = radix;
  unsigned k = 1;
  while (p * radix <= 0xFFFFFFFFull) {
    p *= radix;
    k++;
  }
  *power = static_cast<std::uint32_t>(p);
  *count = k;
}

/* Bits that one digit of the radix can add: ceil(log2(radix)). */
unsigned bits_per_char(unsigned radix)
{
  unsigned b = 0;
  while ((1u << b) < radix)
    b++;
  return b;
}

inline unsigned char_value(unsigned char c)
{
  if (c >= 'a' && c <= 'z')
    return c - 87u;
  if (c >= 'A')
    return c - 55u;
  return c - 48u;
}

} // namespace

int bn_from_string(const char *text, TAGGED *z, TAGGED *zmax, int radix)
{
  bool sign_allowed = radix >= 0;
  const unsigned r = static_cast<unsigned>(radix < 0 ? -radix : radix);
  if (r < 2 || r > 36)
    return -1; /* outside the contract; refused rather than looping */
  bool minus = false;
  if (sign_allowed && (*text == '-' || *text == '+')) {
    minus = *text == '-';
    text++;
  }
  const std::size_t len = std::strlen(text);
  /* Magnitude digits, plus one for the sign. */
  const std::uint64_t digits = (static_cast<std::uint64_t>(len) * bits_per_char(r) + 31) / 32 + 1;
  if (int res = room(z, zmax, digits))
    return res;
  std::uint32_t power;
  unsigned chunk;
  digit_power(r, &power, &chunk);
  std::uint32_t *d = z + 1;
  unsigned n = 0;
  /* Characters are taken `chunk` at a time: value = value * r^k + chunk. */
  for (std::size_t pos = 0; pos < len;) {
    std::uint32_t mult = 1, val = 0;
    for (unsigned k = 0; k < chunk && pos < len; k++, pos++) {
      val = val * r + char_value(static_cast<unsigned char>(text[pos]));
      mult *= r;
    }
    std::uint64_t carry = val;
    for (unsigned i = 0; i < n; i++) {
      const std::uint64_t t = static_cast<std::uint64_t>(d[i]) * mult + carry;
      d[i] = static_cast<std::uint32_t>(t);
      carry = t >> 32;
    }
    if (carry != 0)
      d[n++] = static_cast<std::uint32_t>(carry);
  }
  if (n == 0)
    d[n++] = 0;
  d[n++] = 0; /* sign digit; bn_canonize drops it when not needed */
  z[0] = BoxHeader(n, false);
  if (minus)
    bn_negate(z);
  bn_canonize(z);
  return 0;
}

char *bn_to_string(const TAGGED *x, int base)
{
  const bool upper = base < 0;
  const unsigned b = static_cast<unsigned>(upper ? -base : base);
  if (b < 2 || b > 36)
    return nullptr;
  const char *const digit_chars = upper ? "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                        : "0123456789abcdefghijklmnopqrstuvwxyz";
  const unsigned n = ndigits(x);
  std::uint32_t power;
  unsigned chunk;
  digit_power(b, &power, &chunk);
  /* At most one character per floor(log2 b) bits, written a whole chunk at
     a time, then a sign and the zero; the magnitude is divided in place
     above the text. */
  unsigned lg = 0;
  while ((2u << lg) <= b)
    lg++;
  const std::size_t chars = (32ull * n + lg - 1) / lg;
  const std::size_t text_max = (chars + chunk - 1) / chunk * chunk + 2;
  const std::size_t mag_at = (text_max + 3) & ~static_cast<std::size_t>(3);
  char *buf = ensure_atom_buffers(BASE_ATOMBUF, static_cast<unsigned>(mag_at + 4ull * n));
  auto *mag = reinterpret_cast<std::uint32_t *>(buf + mag_at);
  unsigned len = load_magnitude(x, mag);
  /* Each division by b^chunk gives chunk characters, least significant
     first; the text is reversed at the end. */
  std::size_t out = 0;
  do {
    std::uint64_t rem = 0;
    for (unsigned i = len; i-- > 0;) {
      const std::uint64_t t = (rem << 32) | mag[i];
      mag[i] = static_cast<std::uint32_t>(t / power);
      rem = t % power;
    }
    while (len > 0 && mag[len - 1] == 0)
      len--;
    for (unsigned k = 0; k < chunk; k++) {
      buf[out++] = digit_chars[rem % b];
      rem /= b;
    }
  } while (len > 0);
  while (out > 1 && buf[out - 1] == '0')
    out--;
  if (negative(x))
    buf[out++] = '-';
  for (std::size_t i = 0, j = out - 1; i < j; i++, j--) {
    const char c = buf[i];
    buf[i] = buf[j];
    buf[j] = c;
  }
  buf[out] = '\0';
  return buf;
}

int bn_to_bytes(const TAGGED *x, unsigned char *buffer, std::size_t *size)
{
  const unsigned n = ndigits(x);
  const unsigned char sign = negative(x) ? 0xFF : 0x00;
  auto byte = [x](std::size_t i) {
    return static_cast<unsigned char>(x[1 + i / 4] >> (8 * (i % 4)));
  };
  std::size_t k = 4ull * n;
  while (k > 1 && byte(k - 1) == sign && ((byte(k - 2) ^ sign) & 0x80) == 0)
    k--;
  const std::size_t cap = *size;
  *size = k;
  if (cap < k)
    return 0;
  for (std::size_t i = 0; i < k; i++)
    buffer[i] = byte(i);
  for (std::size_t i = k; i < cap; i++)
    buffer[i] = sign;
  return 1;
}

int bn_from_bytes(const unsigned char *bytes, std::size_t count, TAGGED *z, TAGGED *zmax)
{
  const std::uint64_t digits = count == 0 ? 1 : (static_cast<std::uint64_t>(count) + 3) / 4;
  if (int r = room(z, zmax, digits))
    return r;
  const unsigned char sign = count > 0 && (bytes[count - 1] & 0x80) ? 0xFF : 0x00;
  for (unsigned i = 0; i < digits; i++) {
    std::uint32_t d = 0;
    for (unsigned k = 4; k-- > 0;) {
      const std::size_t at = 4ull * i + k;
      d = (d << 8) | (at < count ? bytes[at] : sign);
    }
    z[1 + i] = d;
  }
  z[0] = BoxHeader(static_cast<unsigned>(digits), false);
  return 0;
}

int bn_from_float(TAGGED *x, TAGGED *, TAGGED *z, TAGGED *zmax)
{
  double f;
  std::memcpy(&f, x + 1, sizeof f);
  if (!std::isfinite(f))
    return -BN_ERR_NOT_FINITE;
  if (f >= -268435456.0 && f < 268435456.0) {
    if (int r = room(z, zmax, 1))
      return r;
    z[0] = BoxHeader(1, false);
    z[1] = static_cast<std::uint32_t>(static_cast<std::int32_t>(f));
    return 0;
  }
  int sign, scale, bits, mantissa[2];
  vr_double_parts(f, &sign, &scale, &bits, mantissa);
  /* |trunc(f)| = m * 2^scale has bits + scale bits; one more for the sign. */
  const unsigned total = static_cast<unsigned>(bits + scale);
  const unsigned digits = total / 32 + 1;
  if (int r = room(z, zmax, digits))
    return r;
  for (unsigned i = 1; i <= digits; i++)
    z[i] = 0;
  const auto lo = static_cast<std::uint32_t>(mantissa[0]);
  const auto hi = bits > 32 ? static_cast<std::uint32_t>(mantissa[1]) : 0u;
  const unsigned w = static_cast<unsigned>(scale) / 32, b = static_cast<unsigned>(scale) % 32;
  const std::uint32_t parts[3] = {lo << b, b ? (hi << b) | (lo >> (32 - b)) : hi, b ? hi >> (32 - b) : 0};
  for (unsigned i = 0; i < 3; i++)
    if (w + i < digits)
      z[1 + w + i] = parts[i];
  z[0] = BoxHeader(digits, false);
  if (sign)
    bn_negate(z);
  bn_canonize(z);
  return 0;
}
