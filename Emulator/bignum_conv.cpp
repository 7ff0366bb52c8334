/* bignum_conv.cpp: bignums from and to text, bytes and floats.
 *
 * Text and bytes come from the number reader, the atom/number built-ins and
 * the foreign interface; the float conversion is a bn_call routine used by
 * bn_call itself for float operands and by the float-to-integer functions.
 * Text goes out through the atom buffer BASE_ATOMBUF, which is also the
 * work area of the simple conversion.  Radix and base are checked here: a
 * radix below 2 would never finish.
 *
 * Short numbers convert by the simple loops (multiply-add of one digit's
 * worth of characters at a time, repeated division by the largest power of
 * the base below 2^32), which are quadratic.  Above a threshold (tuning)
 * both directions divide and conquer over the powers P_k = R^(2^k) of that
 * power R, computed once per conversion by squaring:
 *   text to number: the text's low chunk * 2^k characters (k the largest
 *     with fewer characters than the text) and its high rest convert
 *     separately and combine as high * P_k + low;
 *   number to text: x, with P_(K-1) <= x < P_K, splits as x = q P_(K-1) + r,
 *     q and r converting to exactly chunk * 2^(K-1) characters each (r with
 *     leading zeros), and so on down; a division goes by long division where
 *     that is cheaper, otherwise by a reciprocal of the power, made once.
 * With Karatsuba products both cost O(M(n) log n).  Both give exactly the
 * text and the vector of the simple loops.  Text to number works in the
 * free area after its result (asking for room as every routine does);
 * number to text takes a work area from the memory manager that may fail,
 * and falls back to the simple loop when it does.
 */
#include "bignum.h"

#include <cassert>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "atoms.h"
#include "bignum_impl.h"
#include "float_conv.h"
#include "memman.h"

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

/* (hi * 2^32 + lo) / d with hi < d, and its remainder: one divl on x86
   instead of the library's 64-bit division, which costs many times more
   and sits in the inner loop of every conversion to text. */
inline digit div_step(digit hi, digit lo, digit d, digit *rem)
{
#if defined(__i386__) || defined(__x86_64__)
  digit q, r;
  __asm__("divl %4" : "=a"(q), "=d"(r) : "a"(lo), "d"(hi), "rm"(d) : "cc");
  *rem = r;
  return q;
#else
  const std::uint64_t t = (static_cast<std::uint64_t>(hi) << 32) | lo;
  *rem = static_cast<digit>(t % d);
  return static_cast<digit>(t / d);
#endif
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

/* ---- Text to number ---- */

/* Digits that `len` characters can need: each chunk of them is below
   R < 2^32. */
inline std::uint64_t text_digits(std::size_t len, unsigned chunk)
{
  return (static_cast<std::uint64_t>(len) + chunk - 1) / chunk;
}

/* out[0..used) = the value of text[0..len) without leading zero digits
   (used = 0 for zero), by the simple loop: value = value * r^k + the next
   k characters.  Returns used. */
unsigned simple_text_to_nat(const char *text, std::size_t len, unsigned r, unsigned chunk, digit *out)
{
  unsigned used = 0;
  for (std::size_t pos = 0; pos < len;) {
    std::uint32_t mult = 1, val = 0;
    for (unsigned k = 0; k < chunk && pos < len; k++, pos++) {
      val = val * r + char_value(static_cast<unsigned char>(text[pos]));
      mult *= r;
    }
    digit carry = val;
    for (unsigned i = 0; i < used; i++) {
      const std::uint64_t t = static_cast<std::uint64_t>(out[i]) * mult + carry;
      out[i] = static_cast<digit>(t);
      carry = static_cast<digit>(t >> 32);
    }
    if (carry != 0)
      out[used++] = static_cast<digit>(carry);
  }
  return used;
}

/* P_k = R^(2^k), k = 0..top: P_k at its own slot of 2^k digits. */
struct power_table {
  digit *p[32];
  unsigned len[32];
};

struct text_conv {
  unsigned r, chunk;
  std::size_t simple_chars; /* texts up to this length convert simply */
  power_table pw;
};

/* The level of the split of a text of len > chunk characters: the largest
   k with chunk * 2^k < len, so that the high part is not longer than the
   low part. */
unsigned split_level(std::size_t len, unsigned chunk)
{
  unsigned k = 0;
  while ((static_cast<std::uint64_t>(chunk) << (k + 1)) < len)
    k++;
  return k;
}

std::size_t max_of(std::size_t a, std::size_t b) { return a > b ? a : b; }

std::size_t text_to_nat_scratch(std::size_t len, unsigned chunk, std::size_t simple_chars)
{
  if (len <= simple_chars)
    return 0;
  const unsigned k = split_level(len, chunk);
  const std::size_t low = static_cast<std::size_t>(chunk) << k, high = len - low;
  const auto nh = static_cast<unsigned>(text_digits(high, chunk));
  const unsigned nk = 1u << k;
  return max_of(text_to_nat_scratch(low, chunk, simple_chars),
                nh + max_of(text_to_nat_scratch(high, chunk, simple_chars),
                            (nh + nk) + mul_scratch(nh, nk)));
}

/* out[0..text_digits(len)) = the value of text[0..len). */
void text_to_nat(const text_conv &c, const char *text, std::size_t len, digit *out, digit *sc, digit *end)
{
  const auto n = static_cast<unsigned>(text_digits(len, c.chunk));
  if (len <= c.simple_chars) {
    for (unsigned i = simple_text_to_nat(text, len, c.r, c.chunk, out); i < n; i++)
      out[i] = 0;
    return;
  }
  const unsigned k = split_level(len, c.chunk);
  const std::size_t low = static_cast<std::size_t>(c.chunk) << k, high = len - low;
  const auto nh = static_cast<unsigned>(text_digits(high, c.chunk));
  const unsigned nk = 1u << k; /* n = nh + nk */
  text_to_nat(c, text + high, low, out, sc, end);
  digit *hi = sc, *prod = sc + nh;
  text_to_nat(c, text, high, hi, prod, end);
  nat_mul(hi, nh, c.pw.p[k], c.pw.len[k], prod, prod + nh + c.pw.len[k], end);
  for (unsigned i = nk; i < n; i++)
    out[i] = 0;
  const digit carry = nat_add(out, n, prod, nh + c.pw.len[k]);
  assert(carry == 0);
  (void)carry;
}

/* P_0 .. P_top into table (slot k at 2^k - 1, 2^k digits), squaring with
   scratch [sc, end). */
void fill_powers(power_table &pw, digit power, unsigned top, digit *table, digit *sc, digit *end)
{
  pw.p[0] = table;
  pw.p[0][0] = power;
  pw.len[0] = 1;
  for (unsigned k = 1; k <= top; k++) {
    pw.p[k] = table + (1u << k) - 1;
    nat_mul(pw.p[k - 1], pw.len[k - 1], pw.p[k - 1], pw.len[k - 1], pw.p[k], sc, end);
    pw.len[k] = nat_len(pw.p[k], 2 * pw.len[k - 1]);
  }
}

/* ---- Number to text ---- */

std::uint64_t bit_length(const digit *a, unsigned n)
{
  n = nat_len(a, n);
  return n == 0 ? 0 : 32ull * n - static_cast<unsigned>(__builtin_clz(a[n - 1]));
}

struct number_conv {
  unsigned b, chunk;
  digit power;
  const char *digit_chars;
  unsigned top;             /* K: P_(K-1) <= x < P_K (P_K is not always made) */
  power_table pw;           /* P_0 .. P_K */
  digit *d[32];             /* P_k normalised (shifted left by shift[k]) */
  unsigned shift[32];
  digit *v[32];             /* floor(B^2n / d[k]), n = pw.len[k], made at first use */
  bool have_v[32];
};

/* text[0..chars) = y zero-padded, y below b^chars, by the simple loop;
   y is copied to sc and divided there. */
void simple_nat_to_text(const number_conv &c, const digit *y, unsigned ny, char *text, std::size_t chars, digit *sc)
{
  for (unsigned i = 0; i < ny; i++)
    sc[i] = y[i];
  unsigned len = nat_len(sc, ny);
  std::size_t pos = chars;
  while (len > 0) {
    digit rem = 0;
    for (unsigned i = len; i-- > 0;)
      sc[i] = div_step(rem, sc[i], c.power, &rem);
    len = nat_len(sc, len);
    assert(pos >= c.chunk);
    for (unsigned k = 0; k < c.chunk; k++) {
      text[--pos] = c.digit_chars[rem % c.b];
      rem /= c.b;
    }
  }
  while (pos > 0)
    text[--pos] = '0';
}

/* Whether numbers are split by P_j (j >= 1): a number below P_(j+1) of
   more than tuning.to_text digits can be met. */
bool level_splits(const number_conv &c, unsigned j, unsigned nx)
{
  return j >= 1 && j + 1 <= c.top && (j + 1 == c.top ? nx : c.pw.len[j + 1]) > tuning.to_text;
}

/* Whether long division is cheaper than division by a reciprocal of the
   divisor: for divisors below tuning.div_recip digits (Karatsuba gains too
   little there), and for quotients of at most a quarter of the divisor's
   length (the top split of a number just above a power meets them), which
   cost at most n^2 / 4 digit products against the two products of n
   digits of the division, plus the reciprocal's own. */
inline bool long_division_cheaper(unsigned ny, unsigned n)
{
  return n < tuning.div_recip || 4ull * (ny - n + 1) <= n;
}

/* q[0..n) = floor(y / p), r[0..n) = y mod p by long division, for d = p <<
   shift and y below p^2. */
void short_divrem(const digit *y, unsigned ny, const digit *d, unsigned n, unsigned shift, digit *q, digit *r,
                  digit *sc)
{
  digit *u = sc, *dc = u + ny + 2, *qq = dc + n;
  for (unsigned i = 0; i <= ny; i++)
    u[i] = i < ny ? y[i] : 0;
  if (shift != 0) {
    for (unsigned i = ny; i > 0; i--)
      u[i] = (u[i] << shift) | (u[i - 1] >> (32 - shift));
    u[0] <<= shift;
  }
  const unsigned nu = nat_len(u, ny + 1);
  assert(nu >= n);
  for (unsigned i = 0; i < n; i++)
    dc[i] = d[i];
  long_division(u, nu, dc, n, qq);
  const unsigned nq = nu - n + 1;
  for (unsigned i = 0; i < n; i++) {
    q[i] = i < nq ? qq[i] : 0;
    r[i] = shift == 0 ? u[i] : (u[i] >> shift) | (i + 1 < n ? u[i + 1] << (32 - shift) : 0);
  }
}

std::size_t nat_to_text_scratch(const number_conv &c, unsigned j, unsigned ny)
{
  if (j == 0 || ny <= tuning.to_text)
    return ny;
  const unsigned n = c.pw.len[j - 1];
  /* Long division takes at most 4n + 4 words. */
  const std::size_t split = n < tuning.div_recip ? 4ull * n + 4 : max_of(divrem_scratch(n), recip_scratch(n));
  return 2ull * n + max_of(split, nat_to_text_scratch(c, j - 1, n));
}

/* text[0..chunk * 2^j) = y zero-padded, for y[0..ny) below P_j. */
void nat_to_text(number_conv &c, const digit *y, unsigned ny, unsigned j, char *text, digit *sc, digit *end)
{
  ny = nat_len(y, ny);
  const std::size_t chars = static_cast<std::size_t>(c.chunk) << j;
  if (j == 0 || ny <= tuning.to_text) {
    assert(static_cast<std::size_t>(end - sc) >= ny);
    simple_nat_to_text(c, y, ny, text, chars, sc);
    return;
  }
  const unsigned i = j - 1, n = c.pw.len[i];
  if (nat_cmp(y, ny, c.pw.p[i], n) < 0) {
    /* The high half is all zeros: no division. */
    for (std::size_t k = 0; k < chars / 2; k++)
      text[k] = '0';
    nat_to_text(c, y, ny, i, text + chars / 2, sc, end);
    return;
  }
  digit *q = sc, *r = sc + n, *rest = sc + 2 * n;
  if (long_division_cheaper(ny, n)) {
    short_divrem(y, ny, c.d[i], n, c.shift[i], q, r, rest);
  } else {
    if (!c.have_v[i]) {
      nat_recip(c.d[i], n, c.v[i], rest, end);
      c.have_v[i] = true;
    }
    nat_divrem(y, ny, c.d[i], n, c.shift[i], c.v[i], q, r, rest, end);
  }
  nat_to_text(c, q, n, i, text, rest, end);
  nat_to_text(c, r, n, i, text + chars / 2, rest, end);
}

/* The text of a magnitude of more than tuning.to_text digits by divide and
   conquer into BASE_ATOMBUF, with its sign; null when a work area cannot
   be had (the caller then converts simply). */
char *dc_to_string(const TAGGED *x, unsigned b, const char *digit_chars)
{
  number_conv c;
  c.b = b;
  c.digit_chars = digit_chars;
  digit_power(b, &c.power, &c.chunk);
  const unsigned n = ndigits(x);
  /* P_k >= 2^(lg 2^k) with lg = floor(log2 R) >= 26, so P_kmax > x. */
  const unsigned lg = 31u - static_cast<unsigned>(__builtin_clz(c.power));
  unsigned kmax = 0;
  while ((static_cast<std::uint64_t>(lg) << kmax) < 32ull * n)
    kmax++;
  /* Work area 1: the magnitude, the powers up to the first above x (each
     at most 2n digits: the one before is at most x), squaring scratch. */
  std::size_t table = 0;
  std::size_t slot[33];
  for (unsigned k = 0; k <= kmax; k++) {
    slot[k] = table;
    table += (1ull << k) < 2ull * n ? (1ull << k) : 2ull * n;
  }
  const unsigned half = (1u << (kmax > 0 ? kmax - 1 : 0)) < n ? (1u << (kmax > 0 ? kmax - 1 : 0)) : n;
  const std::size_t words1 = n + table + mul_scratch(half, half);
  auto *area1 = static_cast<digit *>(checkalloc(4 * words1, mm_code(MM_BIN_ATOM_BUFFER, true)));
  if (area1 == nullptr)
    return nullptr;
  digit *mag = area1, *end1 = area1 + words1, *sq = area1 + n + table;
  const unsigned nx = load_magnitude(x, mag);
  if (nx <= tuning.to_text) {
    checkdealloc(area1, 4 * words1, mm_code(MM_BIN_ATOM_BUFFER));
    return nullptr;
  }
  c.pw.p[0] = area1 + n + slot[0];
  c.pw.p[0][0] = c.power;
  c.pw.len[0] = 1;
  /* Square while the square can be at most x; the bit lengths decide
     unless x has as many bits as the square might have. */
  const std::uint64_t xbits = bit_length(mag, nx);
  for (unsigned k = 0;; k++) { /* P_k <= x */
    const std::uint64_t pbits = bit_length(c.pw.p[k], c.pw.len[k]);
    c.top = k + 1;
    if (xbits < 2 * pbits - 1) /* x < 2^(2 pbits - 2) <= P_k^2 */
      break;
    assert(k < kmax);
    c.pw.p[k + 1] = area1 + n + slot[k + 1];
    nat_mul(c.pw.p[k], c.pw.len[k], c.pw.p[k], c.pw.len[k], c.pw.p[k + 1], sq, end1);
    c.pw.len[k + 1] = nat_len(c.pw.p[k + 1], 2 * c.pw.len[k]);
    if (nat_cmp(c.pw.p[k + 1], c.pw.len[k + 1], mag, nx) > 0)
      break;
  }
  /* Work area 2: the normalised powers of the levels that split numbers,
     room for the reciprocals of those long enough, and the scratch of the conversion (which
     makes the reciprocals when first needed). */
  std::size_t words2 = 0;
  for (unsigned j = 1; j < c.top; j++)
    if (level_splits(c, j, nx))
      words2 += c.pw.len[j] + (c.pw.len[j] >= tuning.div_recip ? c.pw.len[j] + 1 : 0);
  const std::size_t work2 = nat_to_text_scratch(c, c.top, nx);
  words2 += work2;
  auto *area2 = static_cast<digit *>(checkalloc(4 * words2, mm_code(MM_BIN_ATOM_BUFFER, true)));
  if (area2 == nullptr) {
    checkdealloc(area1, 4 * words1, mm_code(MM_BIN_ATOM_BUFFER));
    return nullptr;
  }
  digit *at = area2, *end2 = area2 + words2, *work = end2 - work2;
  for (unsigned j = 0; j < c.top; j++) {
    c.have_v[j] = false;
    if (!level_splits(c, j, nx))
      continue;
    const unsigned len = c.pw.len[j];
    const digit *p = c.pw.p[j];
    const unsigned s = static_cast<unsigned>(__builtin_clz(p[len - 1]));
    c.d[j] = at;
    at += len;
    if (len >= tuning.div_recip) {
      c.v[j] = at;
      at += len + 1;
    }
    c.shift[j] = s;
    for (unsigned i = len; i-- > 0;)
      c.d[j][i] = s == 0 ? p[i] : (p[i] << s) | (i > 0 ? p[i - 1] >> (32 - s) : 0);
  }
  const std::size_t chars = static_cast<std::size_t>(c.chunk) << c.top;
  char *buf = ensure_atom_buffers(BASE_ATOMBUF, static_cast<unsigned>(chars + 2));
  nat_to_text(c, mag, nx, c.top, buf + 1, work, end2);

  checkdealloc(area2, 4 * words2, mm_code(MM_BIN_ATOM_BUFFER));
  checkdealloc(area1, 4 * words1, mm_code(MM_BIN_ATOM_BUFFER));
  std::size_t first = 1;
  while (first < chars && buf[first] == '0')
    first++;
  std::size_t out = 0;
  if (negative(x))
    buf[out++] = '-';
  std::memmove(buf + out, buf + first, chars + 1 - first);
  out += chars + 1 - first;
  buf[out] = '\0';
  return buf;
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
  std::uint32_t power;
  unsigned chunk;
  digit_power(r, &power, &chunk);
  const std::uint64_t simple_bound = static_cast<std::uint64_t>(tuning.from_text) * chunk;
  const std::size_t simple_chars = simple_bound < SIZE_MAX ? static_cast<std::size_t>(simple_bound) : SIZE_MAX;
  if (len > simple_chars) {
    /* Magnitude, sign digit; then the powers P_0 .. P_top in slots of 2^k
       digits, and the larger of the squaring's and the conversion's
       scratch. */
    const std::uint64_t n = text_digits(len, chunk);
    if (n + 1 > BN_MAX_DIGITS)
      return -BN_ERR_TOO_LONG;
    const unsigned top = split_level(len, chunk);
    const std::size_t table = (2ull << top) - 1;
    const std::size_t work = max_of(top > 0 ? mul_scratch(1u << (top - 1), 1u << (top - 1)) : 0,
                                    text_to_nat_scratch(len, chunk, simple_chars));
    if (int res = room(z, zmax, n + 1, table + work))
      return res;
    text_conv c;
    c.r = r;
    c.chunk = chunk;
    c.simple_chars = simple_chars;
    digit *sc = z + n + 3 + table;
    fill_powers(c.pw, power, top, z + n + 3, sc, zmax);
    text_to_nat(c, text, len, z + 1, sc, zmax);
    z[n + 1] = 0; /* sign digit */
    z[0] = BoxHeader(static_cast<unsigned>(n + 1), false);
  } else {
    /* Magnitude digits, plus one for the sign. */
    const std::uint64_t digits = (static_cast<std::uint64_t>(len) * bits_per_char(r) + 31) / 32 + 1;
    if (int res = room(z, zmax, digits))
      return res;
    digit *d = z + 1;
    unsigned used = simple_text_to_nat(text, len, r, chunk, d);
    if (used == 0)
      d[used++] = 0;
    d[used++] = 0; /* sign digit; bn_canonize drops it when not needed */
    z[0] = BoxHeader(used, false);
  }
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
  if (n > tuning.to_text)
    if (char *text = dc_to_string(x, b, digit_chars))
      return text;
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
    digit rem = 0;
    for (unsigned i = len; i-- > 0;)
      mag[i] = div_step(rem, mag[i], power, &rem);
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
