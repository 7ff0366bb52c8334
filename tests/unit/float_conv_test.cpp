// Decimal <-> double conversion: correctly rounded input (hard cases,
// halfway points, subnormals, the overflow edge, long digit strings),
// shortest round-trip output, the fixed-length output modes, and the
// integer split of a double.
//
// The C library's strtod and printf are correctly rounded on this platform
// and serve as independent oracles here; exact decimal expansions of
// midpoints between doubles come from printf on long double (64-bit
// mantissa, so every such midpoint is exact).
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "datadefs.h"
#include "float_conv.h"
#include "memman.h"

namespace {

struct FloatConv : ::testing::Test {
  bool started_memman = false;
  void SetUp() override
  {
    if (!mem_initialized) {
      ASSERT_EQ(memman_init(), 0);
      started_memman = true;
    }
  }
  void TearDown() override
  {
    // The cache belongs to this manager; drop it before the manager goes.
    float_conv_release_cache();
    if (started_memman)
      memman_deinit();
  }
};

std::uint64_t bits(double d)
{
  std::uint64_t u;
  std::memcpy(&u, &d, sizeof u);
  return u;
}

double from_bits(std::uint64_t u)
{
  double d;
  std::memcpy(&d, &u, sizeof d);
  return d;
}

std::string hex(double d)
{
  char buf[64];
  std::snprintf(buf, sizeof buf, "%a", d);
  return buf;
}

// The exact decimal expansion of v (v must be exact in long double).
std::string exact_decimal(long double v)
{
  std::vector<char> buf(1200);
  std::snprintf(buf.data(), buf.size(), "%.850Le", v);
  std::string s = buf.data();
  std::size_t epos = s.find('e');
  std::string mant = s.substr(0, epos), ex = s.substr(epos);
  while (mant.back() == '0')
    mant.pop_back();
  if (mant.back() == '.')
    mant.pop_back();
  return mant + ex;
}

// Text that reads as 0.digits * 10^decpt.
std::string as_text(const char *digits, int decpt)
{
  return std::string("0.") + digits + "e" + std::to_string(decpt);
}

double libc_read(const std::string &s)
{
  return std::strtod(s.c_str(), nullptr);
}

struct dtoa_out {
  std::string digits;
  int decpt = 0, sign = 0;
};

dtoa_out dtoa(double d, int mode, int ndigits)
{
  std::vector<char> buf(1200, '\x7f');
  dtoa_out o;
  vr_dtoa(d, mode, ndigits, &o.decpt, &o.sign, buf.data());
  o.digits = buf.data();
  return o;
}

std::string show(const dtoa_out &o)
{
  return "\"" + o.digits + "\" decpt " + std::to_string(o.decpt) + " sign " + std::to_string(o.sign);
}

// ---- Input ----

struct read_case {
  const char *why;
  std::string text;
  double expect;
  int end;        // offset of the first unused character
  bool erange;
};

TEST_F(FloatConv, ReadsHardAndEdgeCases)
{
  const double max = DBL_MAX, min_sub = 0x1p-1074, min_norm = DBL_MIN;
  const std::string tie_to_inf = exact_decimal(static_cast<long double>(DBL_MAX) + 0x1p970L);
  const std::string tie_to_zero = exact_decimal(0x1p-1075L);
  const std::string just_above_zero_tie = tie_to_zero.substr(0, tie_to_zero.find('e')) + "1" +
                                          tie_to_zero.substr(tie_to_zero.find('e'));
  const std::string one_plus_half_ulp = "1.00000000000000011102230246251565404236316680908203125";
  const std::string big_mid_sticky = "9007199254740993." + std::string(900, '0') + "1";
  const std::string big_mid_long = "9007199254740993." + std::string(900, '0');
  // 917 integer digits: the digits past the kept ones still scale the value.
  const std::string long_int_tie = "9007199254740993" + std::string(901, '0') + "e-901";
  const std::string long_int_above = "9007199254740993" + std::string(900, '0') + "1e-901";
  const std::string sub_tie_8 = exact_decimal(8.5L * 0x1p-1074L);
  const std::string sub_tie_10 = exact_decimal(9.5L * 0x1p-1074L);
  const std::string many_leading = "0." + std::string(19990, '0') + "1e19999";  // 1e8
  std::vector<read_case> cases = {
    {"halfway, even below", "9007199254740993", 0x1p53, 16, false},
    {"halfway, even above", "9007199254740995", 9007199254740996.0, 16, false},
    {"just above halfway", "9007199254740993.0000000000000000000000000001", 9007199254740994.0, 45, false},
    {"halfway with 900 zero digits", big_mid_long, 0x1p53, static_cast<int>(big_mid_long.size()), false},
    {"a non-zero digit after 900 zeros", big_mid_sticky, 9007199254740994.0,
     static_cast<int>(big_mid_sticky.size()), false},
    {"long integer part at the tie", long_int_tie, 0x1p53, static_cast<int>(long_int_tie.size()), false},
    {"long integer part a hair above the tie", long_int_above, 9007199254740994.0,
     static_cast<int>(long_int_above.size()), false},
    {"1 + half ulp: tie to even", one_plus_half_ulp, 1.0, static_cast<int>(one_plus_half_ulp.size()), false},
    {"1 + half ulp + tiny", one_plus_half_ulp + "1", 0x1.0000000000001p0,
     static_cast<int>(one_plus_half_ulp.size()) + 1, false},
    {"1 + half ulp - tiny", one_plus_half_ulp.substr(0, one_plus_half_ulp.size() - 1) + "49999", 1.0,
     static_cast<int>(one_plus_half_ulp.size()) + 4, false},
    {"least subnormal", "4.9e-324", min_sub, 8, false},
    {"below half the least subnormal", "2.4703282292062327e-324", 0.0, 23, true},
    {"above half the least subnormal", "2.4703282292062328e-324", min_sub, 23, false},
    {"exactly half the least subnormal: to even 0", tie_to_zero, 0.0, static_cast<int>(tie_to_zero.size()), true},
    {"a hair above half the least subnormal", just_above_zero_tie, min_sub,
     static_cast<int>(just_above_zero_tie.size()), false},
    {"largest double", "1.7976931348623157e308", max, 22, false},
    {"rounds down to the largest double", "1.7976931348623158e308", max, 22, false},
    {"just below the overflow tie", "1.797693134862315807e308", max, 24, false},
    {"exactly the overflow tie: to even, infinity", tie_to_inf, HUGE_VAL, static_cast<int>(tie_to_inf.size()), true},
    {"smallest normal", "2.2250738585072014e-308", min_norm, 23, false},
    {"largest subnormal (a classic refinement hang)", "2.2250738585072011e-308", 0x0.fffffffffffffp-1022, 23, false},
    {"rounds up to the smallest normal", "2.2250738585072012e-308", min_norm, 23, false},
    {"1e23 is not exact", "1e23", 0x1.52d02c7e14af6p76, 4, false},
    {"subnormal tie 8.5 ulps: to even 8", sub_tie_8, 8 * min_sub, static_cast<int>(sub_tie_8.size()), false},
    {"subnormal tie 9.5 ulps: to even 10", sub_tie_10, 10 * min_sub, static_cast<int>(sub_tie_10.size()), false},
    {"4.2e-323 is 8.501 ulps", "4.2e-323", 9 * min_sub, 8, false},
    {"overflow", "1e400", HUGE_VAL, 5, true},
    {"negative overflow", "-1e400", -HUGE_VAL, 6, true},
    {"underflow", "1e-400", 0.0, 6, true},
    {"negative underflow keeps the sign", "-1e-400", -0.0, 7, true},
    {"minus zero", "-0.0", -0.0, 4, false},
    {"zero with a huge exponent is exact", "0e99999999999", 0.0, 13, false},
    {"white space and sign", " \t\n-1.5e3xyz", -1500.0, 9, false},
    {"plus sign, no integer part", "+.5", 0.5, 3, false},
    {"trailing point is used", "5.", 5.0, 2, false},
    {"exponent letter without digits", "12e", 12.0, 2, false},
    {"exponent sign without digits", "12e+", 12.0, 2, false},
    {"exponent with upper-case letter", "12E-1", 1.2, 5, false},
    {"no digits: exponent only", "e5", 0.0, 0, false},
    {"no digits: lone point", ".", 0.0, 0, false},
    {"no digits: sign only", "-", 0.0, 0, false},
    {"no digits: words are not numbers", "inf", 0.0, 0, false},
    {"no digits: nor is nan", "-nan", 0.0, 0, false},
    {"no hexadecimal", "0x1p3", 0.0, 1, false},
    {"leading zeros in the exponent carry no value", "1e0000000000000001", 10.0, 18, false},
    {"leading zeros only", "1e000000000000000000000000000000", 1.0, 32, false},
    {"leading zeros, negative", "25e-0000000000000000000000002", 0.25, 29, false},
    {"nine significant exponent digits saturate", "1e123456789", HUGE_VAL, 11, true},
    {"exponent above 19999 saturates", "1e20000", HUGE_VAL, 7, true},
    {"saturated negative exponent", "1e-123456789", 0.0, 12, true},
    {"long fraction zeros do not count against the exponent", many_leading, 1e8,
     static_cast<int>(many_leading.size()), false},
  };
  for (const read_case &c : cases) {
    errno = 0;
    char *end = nullptr;
    double got = vr_strtod(c.text.c_str(), &end);
    int err = errno;
    EXPECT_EQ(bits(got), bits(c.expect))
        << c.why << ": \"" << c.text.substr(0, 60) << "\" expected " << hex(c.expect) << " got " << hex(got);
    EXPECT_EQ(end - c.text.c_str(), c.end) << c.why << ": end offset";
    EXPECT_EQ(err == ERANGE, c.erange) << c.why << ": errno " << err;
    EXPECT_EQ(vr_strtod(c.text.c_str(), nullptr), got) << c.why << ": null end pointer";
  }
}

// Random decimal texts of every length class and exponent range, and texts
// at, just below and just above the midpoints between random neighbours.
TEST_F(FloatConv, ReadsLikeTheCorrectlyRoundedOracle)
{
  std::mt19937_64 rng(20240611);
  auto check = [](const std::string &t) {
    double got = vr_strtod(t.c_str(), nullptr), want = libc_read(t);
    EXPECT_EQ(bits(got), bits(want)) << "\"" << t.substr(0, 120) << "\" expected " << hex(want) << " got "
                                     << hex(got);
    return bits(got) == bits(want);
  };
  int failures = 0;
  for (int i = 0; i < 60000 && failures < 10; i++) {
    int nd = 1 + static_cast<int>(rng() % (i % 4 == 0 ? 60 : 20));
    std::string t;
    for (int j = 0; j < nd; j++)
      t += static_cast<char>('0' + rng() % 10);
    if (rng() % 2)
      t.insert(rng() % (t.size() + 1), ".");
    int ex = static_cast<int>(rng() % 700) - 360;
    t += "e" + std::to_string(ex);
    failures += !check(t);
  }
  for (int i = 0; i < 4000 && failures < 10; i++) {
    double d;
    do
      d = std::fabs(from_bits(rng()));
    while (!std::isfinite(d) || d == DBL_MAX);
    if (i % 4 == 0)
      d = from_bits(rng() & 0x000fffffffffffffULL);  // subnormal
    double up = std::nextafter(d, HUGE_VAL);
    long double mid = (static_cast<long double>(d) + static_cast<long double>(up)) / 2;
    std::string m = exact_decimal(mid);
    std::size_t epos = m.find('e');
    std::string mant = m.substr(0, epos), ex = m.substr(epos);
    // The midpoint itself (ties to even), a hair above, a hair below.
    failures += !check(m);
    failures += !check(mant + "0000000000000000000001" + ex);
    std::string below = mant;
    below.back() = static_cast<char>(below.back() - 1);
    failures += !check(below + "99999999999999999999" + ex);
    // Its 17-digit rounding (what a writer prints) must read back as d.
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.16e", d);
    failures += !check(buf);
  }
}

TEST_F(FloatConv, ShortInputsDoNotAllocate)
{
  std::size_t before = eglobal->mm.mm_bins[MM_BIN_INSTANCE];
  const char *texts[] = {"1.5", "123.456e10", "0.1", "9007199254740991", "1e22", "1e-22",
                         "123456789012345e20", "-3.25e-5"};
  for (const char *t : texts) {
    double want = libc_read(t);
    EXPECT_EQ(bits(vr_strtod(t, nullptr)), bits(want)) << t;
    EXPECT_EQ(eglobal->mm.mm_bins[MM_BIN_INSTANCE], before) << t << " allocated";
  }
}

TEST_F(FloatConv, BigIntegersAreReturnedAfterEachConversion)
{
  std::size_t before = eglobal->mm.mm_bins[MM_BIN_INSTANCE];
  double sink = 0;
  sink += vr_strtod("2.2250738585072011e-308", nullptr);
  sink += vr_strtod("1.7976931348623157e308", nullptr);
  sink += vr_strtod(("0." + std::string(500, '3') + "e-200").c_str(), nullptr);
  for (int mode : {0, 2, 3, 4, 5}) {
    dtoa(5e-324, mode, 40);
    dtoa(1.7976931348623157e308, mode, 40);
    dtoa(0.1, mode, 30);
  }
  EXPECT_GT(eglobal->mm.mm_bins[MM_BIN_INSTANCE], before) << "the powers-of-five cache stays";
  float_conv_release_cache();
  EXPECT_EQ(eglobal->mm.mm_bins[MM_BIN_INSTANCE], before) << "bytes still held after release (sink " << sink << ")";
}

// ---- Output ----

struct dtoa_case {
  const char *why;
  double d;
  int mode, ndigits;
  const char *digits;
  int decpt, sign;
};

TEST_F(FloatConv, WritesEdgeCases)
{
  const dtoa_case cases[] = {
    {"0.1 shortest", 0.1, 0, 0, "1", 0, 0},
    {"100 shortest", 100.0, 0, 0, "1", 3, 0},
    {"negative", -2.5, 0, 0, "25", 1, 1},
    {"zero", 0.0, 0, 0, "0", 1, 0},
    {"minus zero keeps its sign", -0.0, 0, 0, "0", 1, 1},
    {"minus zero in mode 3", -0.0, 3, 2, "0", 1, 1},
    {"infinity", HUGE_VAL, 0, 0, "Infinity", 9999, 0},
    {"minus infinity", -HUGE_VAL, 2, 5, "Infinity", 9999, 1},
    {"NaN with the sign bit", -std::nan(""), 0, 0, "NaN", 9999, 1},
    {"NaN", std::nan(""), 3, 4, "NaN", 9999, 0},
    {"0.0004 to 2 places: no digit", 0.0004, 3, 2, "0", 1, 0},
    {"-0.0004 to 2 places keeps the sign", -0.0004, 3, 2, "0", 1, 1},
    {"0.0004 to 2 places in mode 5", 0.0004, 5, 2, "0", 1, 0},
    {"0.5 to 0 places: tie to even 0", 0.5, 3, 0, "0", 1, 0},
    {"1.5 to 0 places: tie to even 2", 1.5, 3, 0, "2", 1, 0},
    {"2.5 to 0 places: tie to even 2", 2.5, 3, 0, "2", 1, 0},
    {"0.6 to 0 places: one digit in the place above", 0.6, 3, 0, "1", 1, 0},
    {"0.06 to 0 places: nothing", 0.06, 3, 0, "0", 1, 0},
    {"9.96 to 1 place carries", 9.96, 3, 1, "1", 2, 0},
    {"12345 to -2 places", 12345.0, 3, -2, "123", 5, 0},
    {"1250 to -2 places: tie to even", 1250.0, 3, -2, "12", 4, 0},
    {"1350 to -2 places: tie to even", 1350.0, 3, -2, "14", 4, 0},
    {"49 to -2 places: nothing", 49.0, 3, -2, "0", 1, 0},
    {"51 to -2 places: one digit", 51.0, 3, -2, "1", 3, 0},
    {"mode 2 asks at least one digit", 0.75, 2, 0, "8", 0, 0},
    {"mode 2 trailing zeros removed", 0.5, 2, 10, "5", 0, 0},
    {"least subnormal shortest", 0x1p-1074, 0, 0, "5", -323, 0},
    {"least subnormal, 3 digits", 0x1p-1074, 2, 3, "494", -323, 0},
    {"least subnormal, 3 digits, stop early", 0x1p-1074, 4, 3, "5", -323, 0},
    {"largest double shortest", DBL_MAX, 0, 0, "17976931348623157", 309, 0},
    {"smallest normal shortest", DBL_MIN, 0, 0, "22250738585072014", -307, 0},
    {"1e23: the tie reads back, so shortest is 1", 1e23, 0, 0, "1", 24, 0},
    {"1e23 mode 1 excludes the tie", 1e23, 1, 0, "9999999999999999", 23, 0},
    {"5e-324 mode 1", 5e-324, 1, 0, "5", -323, 0},
    {"2^63 shortest", 0x1p63, 0, 0, "9223372036854776", 19, 0},
    {"unknown mode 10 is mode 0", 0.3, 10, 3, "3", 0, 0},
    {"negative mode is mode 0", 1.0 / 3, -1, 3, "3333333333333333", 0, 0},
    {"mode 6 is mode 2", 1.0 / 3, 6, 3, "333", 0, 0},
    {"mode 7 is mode 3", 2.0 / 3, 7, 3, "667", 0, 0},
  };
  for (const dtoa_case &c : cases) {
    dtoa_out got = dtoa(c.d, c.mode, c.ndigits);
    dtoa_out want{c.digits, c.decpt, c.sign};
    EXPECT_TRUE(got.digits == want.digits && got.decpt == want.decpt && got.sign == want.sign)
        << c.why << ": expected " << show(want) << " got " << show(got);
  }
}

// Doubles of every exponent: random bit patterns, subnormals, powers of two
// (where the gap below is half the gap above) and their neighbours.
std::vector<double> sample_doubles(std::size_t n_random)
{
  std::mt19937_64 rng(77);
  std::vector<double> v;
  while (v.size() < n_random) {
    double d = std::fabs(from_bits(rng()));
    if (std::isfinite(d) && d != 0)
      v.push_back(d);
  }
  for (int i = 0; i < 3000; i++)
    v.push_back(from_bits(1 + rng() % 0x000fffffffffffffULL));
  for (int e = -1074; e <= 1023; e++) {
    double p = std::ldexp(1.0, e);
    v.push_back(p);
    if (e > -1074)
      v.push_back(std::nextafter(p, 0.0));
    v.push_back(std::nextafter(p, HUGE_VAL));
  }
  for (double x : {1e22, 1e23, 1e15, 123456.0, 0.3, 5e-324, 1.7976931348623157e308})
    v.push_back(x);
  return v;
}

TEST_F(FloatConv, ShortestOutputReadsBackAndIsShortest)
{
  int failures = 0;
  for (double d : sample_doubles(40000)) {
    if (failures >= 10)
      break;
    dtoa_out o = dtoa(d, 0, 0);
    std::string t = as_text(o.digits.c_str(), o.decpt);
    double back = vr_strtod(t.c_str(), nullptr);
    bool ok = bits(back) == bits(d) && bits(libc_read(t)) == bits(d) && o.sign == 0 && o.digits.size() <= 17 &&
              o.digits.back() != '0';
    EXPECT_TRUE(ok) << hex(d) << ": " << show(o) << " reads back as " << hex(back);
    // No string one digit shorter reads back: the two candidates around d
    // are its truncation and the truncation raised by one unit.
    std::size_t n = o.digits.size();
    if (ok && n > 1) {
      char buf[64];
      std::snprintf(buf, sizeof buf, "%.*e", static_cast<int>(n) - 2, d);
      std::string s = buf;
      std::size_t epos = s.find('e');
      int ex = std::atoi(s.c_str() + epos + 1);
      std::string dig = s.substr(0, epos);
      dig.erase(std::remove(dig.begin(), dig.end(), '.'), dig.end());
      // dig is the nearest (n-1)-digit string; its neighbours one unit
      // away are the only others that could be closer than d's next double.
      long long base = std::atoll(dig.c_str());
      for (long long cand : {base - 1, base, base + 1}) {
        if (cand <= 0)
          continue;
        std::string ct = "0." + std::to_string(cand) + "e" +
                         std::to_string(ex + 1 + static_cast<int>(std::to_string(cand).size()) -
                                        static_cast<int>(dig.size()));
        if (bits(libc_read(ct)) == bits(d)) {
          ADD_FAILURE() << hex(d) << ": " << show(o) << " but the shorter " << ct << " reads back too";
          ok = false;
        }
      }
      // Among strings of the shortest length it is the nearest one when the
      // nearest reads back.
      std::snprintf(buf, sizeof buf, "%.*e", static_cast<int>(n) - 1, d);
      if (bits(libc_read(buf)) == bits(d)) {
        std::string near = buf;
        near = near.substr(0, near.find('e'));
        near.erase(std::remove(near.begin(), near.end(), '.'), near.end());
        while (near.size() > 1 && near.back() == '0')
          near.pop_back();
        if (near != o.digits) {
          ADD_FAILURE() << hex(d) << ": " << show(o) << " but the nearest is " << buf;
          ok = false;
        }
      }
    }
    failures += !ok;
  }
}

// printf's %.*e / %.*f digits in dtoa's form: digits without trailing
// zeros and the decimal point position.
dtoa_out from_printf_e(double d, int ndigits)
{
  std::vector<char> buf(1200);
  std::snprintf(buf.data(), buf.size(), "%.*e", ndigits - 1, d);
  std::string s = buf.data();
  std::size_t epos = s.find('e');
  dtoa_out o;
  o.decpt = std::atoi(s.c_str() + epos + 1) + 1;
  for (std::size_t i = 0; i < epos; i++)
    if (s[i] != '.')
      o.digits += s[i];
  while (o.digits.size() > 1 && o.digits.back() == '0')
    o.digits.pop_back();
  return o;
}

dtoa_out from_printf_f(double d, int places)
{
  std::vector<char> buf(1200);
  std::snprintf(buf.data(), buf.size(), "%.*f", places, d);
  std::string s = buf.data();
  std::size_t point = s.find('.');
  dtoa_out o;
  o.decpt = static_cast<int>(point == std::string::npos ? s.size() : point);
  for (char c : s)
    if (c != '.')
      o.digits += c;
  std::size_t lead = 0;
  while (lead < o.digits.size() && o.digits[lead] == '0')
    lead++;
  if (lead == o.digits.size())
    return dtoa_out{"0", 1, 0};
  o.digits = o.digits.substr(lead);
  o.decpt -= static_cast<int>(lead);
  while (o.digits.size() > 1 && o.digits.back() == '0')
    o.digits.pop_back();
  return o;
}

bool same(const dtoa_out &a, const dtoa_out &b)
{
  return a.digits == b.digits && a.decpt == b.decpt;
}

// Modes 2 and 3 against printf, with and without the floating-point
// attempt (modes 6/7); modes 4/5 (and 8/9) are the shortest string when it
// fits in the requested length, else the fixed-length result.
TEST_F(FloatConv, FixedLengthModesMatchPrintf)
{
  std::mt19937_64 rng(4242);
  std::vector<double> sample = sample_doubles(6000);
  // Values whose digits are decided in the last place: short decimals and
  // exact ties.
  for (int i = 0; i < 3000; i++) {
    double base = static_cast<double>(rng() % 100000) / std::pow(10.0, static_cast<double>(rng() % 8));
    sample.push_back(base);
    sample.push_back(static_cast<double>(rng() % 4096) / 64.0);
  }
  int failures = 0;
  for (std::size_t i = 0; i < sample.size() && failures < 10; i++) {
    double d = sample[i];
    if (i % 3 == 0)
      d = -d;
    int nd = 1 + static_cast<int>(rng() % 22);
    int places = static_cast<int>(rng() % 25);
    dtoa_out m2 = from_printf_e(std::fabs(d), nd), m3 = from_printf_f(std::fabs(d), places);
    m2.sign = m3.sign = std::signbit(d) ? 1 : 0;
    dtoa_out shortest = dtoa(d, 0, 0);
    int k = shortest.decpt - 1;
    int ilim3 = k + 1 + places;
    bool short_fits2 = static_cast<int>(shortest.digits.size()) <= nd;
    bool short_fits3 = ilim3 > 0 && static_cast<int>(shortest.digits.size()) <= ilim3;
    struct { int mode, ndigits; dtoa_out want; } checks[] = {
      {2, nd, m2}, {6, nd, m2}, {3, places, m3}, {7, places, m3},
      {4, nd, short_fits2 ? shortest : m2}, {8, nd, short_fits2 ? shortest : m2},
      {5, places, short_fits3 ? shortest : m3}, {9, places, short_fits3 ? shortest : m3},
    };
    for (auto &c : checks) {
      c.want.sign = m2.sign;
      dtoa_out got = dtoa(d, c.mode, c.ndigits);
      if (!same(got, c.want) || got.sign != c.want.sign) {
        ADD_FAILURE() << hex(d) << " mode " << c.mode << " ndigits " << c.ndigits << ": expected " << show(c.want)
                      << " got " << show(got);
        failures++;
      }
    }
  }
}

// ---- Integer split ----

TEST_F(FloatConv, SplitsTheIntegerPart)
{
  struct {
    const char *why;
    double f;
    int sign, scale, nbits;
    std::uint64_t mantissa;
  } cases[] = {
    {"-2.5 truncates to -2", -2.5, 1, 1, 1, 1},
    {"odd integer", 3.75, 0, 0, 2, 3},
    {"power of two", 0x1p40, 0, 40, 1, 1},
    {"53 significant bits", 0x1p53 + 2, 0, 1, 53, (1ULL << 52) + 1},
    {"33 significant bits use the second word", -(0x1p32 + 1) * 8, 1, 3, 33, (1ULL << 32) + 1},
    {"largest double", DBL_MAX, 0, 971, 53, (1ULL << 53) - 1},
    {"fraction only truncates to zero", 0.7, 0, 0, 0, 0},
    {"negative fraction truncates to minus zero: not negative", -0.3, 0, 0, 0, 0},
  };
  for (const auto &c : cases) {
    int sign = -1, scale = -1, nbits = -1, mant[2] = {-1, -1};
    vr_double_parts(c.f, &sign, &scale, &nbits, mant);
    std::uint64_t m = static_cast<std::uint32_t>(mant[0]);
    if (nbits > 32)
      m |= static_cast<std::uint64_t>(static_cast<std::uint32_t>(mant[1])) << 32;
    EXPECT_EQ(sign, c.sign) << c.why;
    EXPECT_EQ(nbits, c.nbits) << c.why;
    if (c.nbits != 0) {
      EXPECT_EQ(scale, c.scale) << c.why;
      EXPECT_EQ(m, c.mantissa) << c.why;
    }
  }
  for (double f : {HUGE_VAL, -HUGE_VAL, std::nan("")}) {
    int sign = -1, nbits = -1, scale = 12345, mant[2] = {7, 7};
    vr_double_parts(f, &sign, &scale, &nbits, mant);
    EXPECT_EQ(nbits, 0) << f;
    EXPECT_EQ(sign, f < 0 ? 1 : 0) << f;
    EXPECT_EQ(scale, 12345) << f << ": nothing else is stored";
  }
  // Random integers of every size split exactly.
  std::mt19937_64 rng(9);
  for (int i = 0; i < 2000; i++) {
    double f = std::ldexp(static_cast<double>(rng() >> 11), static_cast<int>(rng() % 1000) - 60);
    int sign, scale, nbits, mant[2];
    vr_double_parts(f, &sign, &scale, &nbits, mant);
    double t = std::trunc(f);
    if (t == 0) {
      EXPECT_EQ(nbits, 0);
      continue;
    }
    std::uint64_t m = static_cast<std::uint32_t>(mant[0]);
    if (nbits > 32)
      m |= static_cast<std::uint64_t>(static_cast<std::uint32_t>(mant[1])) << 32;
    EXPECT_EQ(m & 1, 1u) << hex(f);
    EXPECT_EQ(std::ldexp(static_cast<double>(m), scale), t) << hex(f);
    EXPECT_TRUE(nbits == 64 - __builtin_clzll(m)) << hex(f);
  }
}

}  // namespace
