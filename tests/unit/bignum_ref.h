// bignum_ref.h: a slow, independent reference for the bignum tests: signed
// magnitudes on std::vector<uint32_t>, with bit-by-bit division and
// shift-and-add multiplication, so that it shares no algorithm with the
// engine's routines.  Also turns reference values into number terms and
// checks result terms against them (canonical form included).
#ifndef TRELIX_TEST_BIGNUM_REF_H
#define TRELIX_TEST_BIGNUM_REF_H

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "termdefs.h"

namespace bnref {

using mag_t = std::vector<std::uint32_t>;

struct Ref {
  bool neg = false;
  mag_t m; // magnitude, least significant first, no leading zeros
};

inline void trim(mag_t &m)
{
  while (!m.empty() && m.back() == 0)
    m.pop_back();
}
inline Ref norm(Ref r)
{
  trim(r.m);
  if (r.m.empty())
    r.neg = false;
  return r;
}
inline Ref from_i64(std::int64_t v)
{
  Ref r;
  r.neg = v < 0;
  std::uint64_t u = r.neg ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
  r.m = {static_cast<std::uint32_t>(u), static_cast<std::uint32_t>(u >> 32)};
  return norm(r);
}
inline bool is_zero(const Ref &r) { return r.m.empty(); }

inline int cmp_mag(const mag_t &a, const mag_t &b)
{
  if (a.size() != b.size())
    return a.size() < b.size() ? -1 : 1;
  for (std::size_t i = a.size(); i-- > 0;)
    if (a[i] != b[i])
      return a[i] < b[i] ? -1 : 1;
  return 0;
}
inline int cmp(const Ref &a, const Ref &b)
{
  if (a.neg != b.neg)
    return a.neg ? -1 : 1;
  int c = cmp_mag(a.m, b.m);
  return a.neg ? -c : c;
}
inline mag_t add_mag(const mag_t &a, const mag_t &b)
{
  mag_t r(std::max(a.size(), b.size()) + 1, 0);
  std::uint64_t c = 0;
  for (std::size_t i = 0; i < r.size(); i++) {
    c += (i < a.size() ? a[i] : 0);
    c += (i < b.size() ? b[i] : 0);
    r[i] = static_cast<std::uint32_t>(c);
    c >>= 32;
  }
  trim(r);
  return r;
}
inline mag_t sub_mag(const mag_t &a, const mag_t &b) // a >= b
{
  mag_t r(a.size(), 0);
  std::int64_t br = 0;
  for (std::size_t i = 0; i < a.size(); i++) {
    std::int64_t t = static_cast<std::int64_t>(a[i]) - (i < b.size() ? b[i] : 0) - br;
    br = t < 0;
    r[i] = static_cast<std::uint32_t>(t);
  }
  trim(r);
  return r;
}
inline Ref neg(Ref a)
{
  a.neg = !a.neg;
  return norm(a);
}
inline Ref add(const Ref &a, const Ref &b)
{
  if (a.neg == b.neg)
    return norm({a.neg, add_mag(a.m, b.m)});
  int c = cmp_mag(a.m, b.m);
  if (c == 0)
    return {};
  if (c > 0)
    return norm({a.neg, sub_mag(a.m, b.m)});
  return norm({b.neg, sub_mag(b.m, a.m)});
}
inline Ref sub(const Ref &a, const Ref &b) { return add(a, neg(b)); }

inline bool bit(const mag_t &m, std::size_t i) { return i / 32 < m.size() && ((m[i / 32] >> (i % 32)) & 1); }
inline std::size_t bit_length(const mag_t &m)
{
  if (m.empty())
    return 0;
  std::size_t n = 32 * (m.size() - 1);
  std::uint32_t t = m.back();
  while (t) {
    n++;
    t >>= 1;
  }
  return n;
}
inline mag_t shl_mag(const mag_t &a, std::size_t s)
{
  mag_t r(a.size() + s / 32 + 1, 0);
  for (std::size_t i = 0; i < 32 * a.size(); i++)
    if (bit(a, i))
      r[(i + s) / 32] |= 1u << ((i + s) % 32);
  trim(r);
  return r;
}
inline mag_t shr_mag(const mag_t &a, std::size_t s, bool *lost)
{
  mag_t r(a.size(), 0);
  *lost = false;
  for (std::size_t i = 0; i < 32 * a.size(); i++)
    if (bit(a, i)) {
      if (i >= s)
        r[(i - s) / 32] |= 1u << ((i - s) % 32);
      else
        *lost = true;
    }
  trim(r);
  return r;
}
// Shift-and-add.
inline Ref mul(const Ref &a, const Ref &b)
{
  mag_t acc;
  for (std::size_t i = 0; i < 32 * b.m.size(); i++)
    if (bit(b.m, i))
      acc = add_mag(acc, shl_mag(a.m, i));
  return norm({a.neg != b.neg, acc});
}
// Restoring binary long division of magnitudes.
inline void divmod_mag(const mag_t &a, const mag_t &b, mag_t &q, mag_t &r)
{
  q.assign(a.size() + 1, 0);
  r.clear();
  for (std::size_t i = bit_length(a); i-- > 0;) {
    r = shl_mag(r, 1);
    if (bit(a, i)) {
      if (r.empty())
        r.push_back(0);
      r[0] |= 1;
    }
    if (cmp_mag(r, b) >= 0) {
      r = sub_mag(r, b);
      q[i / 32] |= 1u << (i % 32);
    }
  }
  trim(q);
  trim(r);
}
inline Ref quot(const Ref &a, const Ref &b)
{
  mag_t q, r;
  divmod_mag(a.m, b.m, q, r);
  return norm({a.neg != b.neg, q});
}
inline Ref rem(const Ref &a, const Ref &b)
{
  mag_t q, r;
  divmod_mag(a.m, b.m, q, r);
  return norm({a.neg, r});
}
inline Ref mod(const Ref &a, const Ref &b) // sign of b (floor)
{
  mag_t q, r;
  divmod_mag(a.m, b.m, q, r);
  if (!r.empty() && a.neg != b.neg)
    r = sub_mag(b.m, r);
  return norm({b.neg, r});
}
// Two's complement in len digits.
inline mag_t twos(const Ref &a, std::size_t len)
{
  mag_t d(len, 0);
  for (std::size_t i = 0; i < len && i < a.m.size(); i++)
    d[i] = a.m[i];
  if (a.neg) {
    std::uint64_t c = 1;
    for (auto &x : d) {
      c += static_cast<std::uint32_t>(~x);
      x = static_cast<std::uint32_t>(c);
      c >>= 32;
    }
  }
  return d;
}
inline Ref from_twos(mag_t d)
{
  Ref r;
  if (!d.empty() && (d.back() >> 31)) {
    r.neg = true;
    std::uint64_t c = 1;
    for (auto &x : d) {
      c += static_cast<std::uint32_t>(~x);
      x = static_cast<std::uint32_t>(c);
      c >>= 32;
    }
  }
  r.m = d;
  return norm(r);
}
template <class Op> Ref bitwise(const Ref &a, const Ref &b, Op op)
{
  std::size_t len = std::max(a.m.size(), b.m.size()) + 1;
  mag_t x = twos(a, len), y = twos(b, len), z(len);
  for (std::size_t i = 0; i < len; i++)
    z[i] = op(x[i], y[i]);
  return from_twos(z);
}
inline Ref lshift(const Ref &a, std::size_t s) { return norm({a.neg, shl_mag(a.m, s)}); }
inline Ref rshift(const Ref &a, std::size_t s) // floor
{
  bool lost;
  mag_t q = shr_mag(a.m, s, &lost);
  if (a.neg && lost)
    q = add_mag(q, {1});
  return norm({a.neg, q});
}

inline bool fits_small(const Ref &a)
{
  if (bit_length(a.m) > 29)
    return false;
  std::int64_t v = a.m.empty() ? 0 : a.m[0];
  if (a.neg)
    v = -v;
  return v >= SMALL_MIN && v <= SMALL_MAX;
}
inline std::int64_t small_value(const Ref &a)
{
  std::int64_t v = a.m.empty() ? 0 : a.m[0];
  return a.neg ? -v : v;
}
// The minimal digit count: the least n with -2^(32n-1) <= v < 2^(32n-1).
inline std::size_t minimal_digits(const Ref &a)
{
  if (!a.neg)
    return bit_length(a.m) / 32 + 1;
  return bit_length(sub_mag(a.m, {1})) / 32 + 1;
}
// The canonical box (header then digits, no trailer).
inline std::vector<TAGGED> box_of(const Ref &a)
{
  std::size_t n = minimal_digits(a);
  mag_t d = twos(a, n);
  std::vector<TAGGED> v{BoxHeader(static_cast<unsigned>(n), false)};
  v.insert(v.end(), d.begin(), d.end());
  return v;
}
// A box holding the value in `extra` more digits than it needs (a valid,
// non-minimal operand).
inline std::vector<TAGGED> loose_box_of(const Ref &a, std::size_t extra)
{
  std::size_t n = minimal_digits(a) + extra;
  mag_t d = twos(a, n);
  std::vector<TAGGED> v{BoxHeader(static_cast<unsigned>(n), false)};
  v.insert(v.end(), d.begin(), d.end());
  return v;
}

inline std::string to_text(const Ref &a, unsigned base, bool upper)
{
  const char *chars = upper ? "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ" : "0123456789abcdefghijklmnopqrstuvwxyz";
  mag_t m = a.m;
  std::string s;
  while (!m.empty()) {
    std::uint64_t r = 0;
    for (std::size_t i = m.size(); i-- > 0;) {
      std::uint64_t t = (r << 32) | m[i];
      m[i] = static_cast<std::uint32_t>(t / base);
      r = t % base;
    }
    trim(m);
    s.insert(s.begin(), chars[r]);
  }
  if (s.empty())
    s = "0";
  if (a.neg)
    s.insert(s.begin(), '-');
  return s;
}
inline std::string show(const Ref &a) { return to_text(a, 16, false); }

// trunc(f) exactly, from frexp (no shared code with the engine's split).
inline Ref from_double(double f)
{
  f = std::trunc(f);
  if (f == 0)
    return {};
  int e;
  double m = std::frexp(std::fabs(f), &e);
  auto mant = static_cast<std::uint64_t>(std::ldexp(m, 53));
  Ref r = from_i64(static_cast<std::int64_t>(mant));
  if (e >= 53)
    r = lshift(r, static_cast<std::size_t>(e - 53));
  else
    r = rshift(r, static_cast<std::size_t>(53 - e));
  r.neg = f < 0;
  return norm(r);
}

// Random values biased towards the digit patterns where carries, signs and
// normalisation go wrong.
struct Gen {
  std::mt19937 rng;
  explicit Gen(unsigned seed) : rng(seed) {}
  std::uint32_t digit()
  {
    switch (rng() % 8) {
    case 0: return 0;
    case 1: return 0xFFFFFFFFu;
    case 2: return 0x80000000u;
    case 3: return 0x7FFFFFFFu;
    case 4: return 1u << (rng() % 32);
    default: return static_cast<std::uint32_t>(rng());
    }
  }
  Ref value(unsigned max_digits)
  {
    unsigned n = 1 + rng() % max_digits;
    mag_t d(n);
    for (auto &x : d)
      x = digit();
    if (rng() % 4 == 0) // small values too, where boxes meet small integers
      return from_i64(static_cast<std::int32_t>(rng()) >> (rng() % 32));
    return from_twos(d);
  }
};

} // namespace bnref

#endif
