// Text conversion of long bignums: the divide-and-conquer conversions and
// the natural-number layer under them (Karatsuba products, reciprocals,
// division by a reciprocal).  The conversions are checked against the
// simple quadratic loops (the same routines with the divide-and-conquer
// threshold out of reach), on numbers around the thresholds, with the
// thresholds lowered so that small numbers recurse deeply, and at large
// sizes; the products and reciprocals against schoolbook arithmetic and the
// independent reference of bignum_ref.h.
#include <gtest/gtest.h>

#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "atoms.h"
#include "bignum.h"
#include "bignum_impl.h"
#include "bignum_ref.h"
#include "heavy_tests.h"
#include "memman.h"

using namespace bnref;
using bn_detail::bn_default_tuning;
using bn_detail::bn_tuning;
using bn_detail::digit;
using bn_detail::tuning;

namespace {

// The simple loops only: no number is long enough to divide and conquer.
constexpr bn_tuning simple_only{bn_default_tuning.karatsuba, 1u << 30, 1u << 30, bn_default_tuning.recip,
                                bn_default_tuning.div_recip};

struct BignumText : ::testing::Test {
  void SetUp() override { ASSERT_EQ(memman_init(), 0); }
  void TearDown() override
  {
    tuning = bn_default_tuning;
    atom_buffer_remove();
    memman_deinit();
  }

  static std::string to_text(const std::vector<TAGGED> &box, int base, bn_tuning t)
  {
    tuning = t;
    const char *s = bn_to_string(box.data(), base);
    tuning = bn_default_tuning;
    return s == nullptr ? std::string("<null>") : std::string(s);
  }
  // The box read from text, asking for room as the number reader does.
  static std::vector<TAGGED> from_text(const std::string &text, int radix, bn_tuning t)
  {
    tuning = t;
    std::vector<TAGGED> z(8);
    int rc = bn_from_string(text.c_str(), z.data(), z.data() + z.size(), radix);
    if (rc > 0) {
      z.assign(static_cast<std::size_t>(rc), 0xDEADBEEF);
      rc = bn_from_string(text.c_str(), z.data(), z.data() + z.size(), radix);
    }
    tuning = bn_default_tuning;
    if (rc != 0)
      return {static_cast<TAGGED>(rc)};
    return std::vector<TAGGED>(z.begin(), z.begin() + BoxWords(z[0]));
  }

  // Both directions under tuning t give what the simple loops give, and
  // the text reads back as the number.
  static void check_number(const Ref &a, int base, bn_tuning t, const std::string &what)
  {
    const std::vector<TAGGED> box = box_of(a);
    const std::string simple = to_text(box, base, simple_only);
    const std::string text = to_text(box, base, t);
    ASSERT_EQ(text, simple) << what << ": " << box.size() - 1 << " digits in base " << base;
    const int radix = base < 0 ? -base : base;
    EXPECT_EQ(from_text(text, radix, t), box) << what << ": reading back in base " << radix;
  }
  // A text under tuning t reads as under the simple loops.
  static void check_text(const std::string &text, int radix, bn_tuning t, const std::string &what)
  {
    const std::vector<TAGGED> simple = from_text(text, radix, simple_only);
    ASSERT_EQ(from_text(text, radix, t), simple) << what << ": " << text.size() << " characters in radix " << radix;
  }
};

Ref random_magnitude(Gen &gen, unsigned digits)
{
  Ref r;
  r.m.resize(digits);
  for (auto &d : r.m)
    d = gen.digit();
  r.m.back() |= 1; // exactly `digits` digits
  return r;
}

// Tunings that drive the recursion on small numbers, and the default.
const bn_tuning tunings[] = {
    bn_default_tuning, {2, 2, 2, 2, 2}, {3, 4, 4, 3, 2}, {5, 3, 3, 2, 3}, {2, 7, 7, 5, 4}, {4, 5, 2, 2, 40},
};

TEST_F(BignumText, NumbersAroundTheThresholdsMatchTheSimpleLoops)
{
  Gen gen(71);
  for (const bn_tuning &t : tunings) {
    const std::string tn = "tuning {" + std::to_string(t.karatsuba) + "," + std::to_string(t.from_text) + "," +
                           std::to_string(t.to_text) + "," + std::to_string(t.recip) + "," +
                           std::to_string(t.div_recip) + "}";
    const bool lowered = t.to_text < 100;
    for (int base = 2; base <= 36; base++) {
      // The default thresholds are long: there a few bases suffice.
      if (!lowered && base != 2 && base != 7 && base != 10 && base != 36)
        continue;
      // Lengths just below, at and above the thresholds, and (with lowered
      // thresholds) a few times them, where several levels of powers,
      // reciprocals and long divisions meet.
      std::vector<unsigned> lengths{t.to_text - 1, t.to_text, t.to_text + 1, 2 * t.to_text + 1,
                                    t.from_text / 8, t.from_text / 8 + 1};
      if (lowered)
        lengths.insert(lengths.end(), {5 * t.to_text + 3, 11 * t.to_text, 3 * t.from_text, 40});
      for (unsigned len : lengths) {
        if (len == 0)
          continue;
        Ref a = random_magnitude(gen, len);
        a.neg = gen.rng() % 2 == 0;
        check_number(a, gen.rng() % 3 == 0 ? -base : base, t, tn);
        if (HasFatalFailure())
          return;
      }
    }
  }
}

TEST_F(BignumText, PowersOfTheBaseAndTheirNeighboursMatchTheSimpleLoops)
{
  // Texts of all-highest digits (R^k - 1), a one and zeros (R^k), and a one,
  // zeros and a one (R^k + 1): the quotient estimates of the division and the
  // reciprocals sit on their boundaries there, and leading-zero stripping
  // of the chunks is exercised.
  for (const bn_tuning &t : {bn_default_tuning, bn_tuning{2, 2, 2, 2, 2}, bn_tuning{3, 5, 5, 2, 3}}) {
    for (int radix : {2, 3, 7, 10, 16, 35, 36}) {
      const char high = radix <= 10 ? static_cast<char>('0' + radix - 1) : static_cast<char>('a' + radix - 11);
      for (std::size_t len : {std::size_t{31}, std::size_t{300}, std::size_t{1000}, std::size_t{4099}}) {
        const std::string nines(len, high);
        const std::string power = "1" + std::string(len, '0');
        const std::string next = "1" + std::string(len - 1, '0') + "1";
        for (const std::string &text : {nines, power, next, "-" + nines}) {
          check_text(text, radix, t, "pattern");
          const std::vector<TAGGED> box = from_text(text, radix, simple_only);
          EXPECT_EQ(to_text(box, radix, t), text) << "radix " << radix << ", " << len << " characters";
          if (HasFatalFailure())
            return;
        }
      }
    }
  }
}

TEST_F(BignumText, LargeNumbersMatchTheSimpleLoops)
{
  // Above the default threshold of conversion to text (2048 digits), where
  // the top split has a short quotient and the levels below divide by
  // reciprocals.
#ifdef TRELIX_SANITIZE
  const unsigned sizes[] = {2500, 5000};
#else
  const unsigned sizes[] = {3000, 12000};
#endif
  Gen gen(73);
  for (unsigned digits : sizes)
    for (int base : {10, 2, 7, 36, -16}) {
      Ref a = random_magnitude(gen, digits);
      a.neg = base == 7;
      check_number(a, base, bn_default_tuning, "large");
      if (HasFatalFailure())
        return;
    }
}

TEST_F(BignumText, LongTextsWithLeadingZerosAndSigns)
{
  // Leading zeros make the text longer than its number needs; the
  // divide-and-conquer path sizes by the text and must still canonicalise.
  for (const bn_tuning &t : {bn_default_tuning, bn_tuning{2, 2, 2, 2, 2}}) {
    const std::string zeros(5000, '0');
    check_text(zeros, 10, t, "zeros");
    check_text(zeros + "12345678901234567890", 10, t, "zeros then digits");
    check_text("-" + zeros + "4294967296", 10, t, "negative, zeros");
    check_text("+" + std::string(3000, '7'), 8, t, "plus sign");
    check_text(std::string(2000, 'Z'), -36, t, "no sign allowed, upper case");
  }
}

// ---- The natural-number layer ----

std::vector<digit> random_digits(Gen &gen, unsigned n)
{
  std::vector<digit> v(n);
  for (auto &d : v)
    d = gen.digit();
  return v;
}

TEST_F(BignumText, KaratsubaProductsMatchSchoolbook)
{
  Gen gen(79);
  for (unsigned threshold : {2u, 3u, 7u, bn_default_tuning.karatsuba}) {
    for (int i = 0; i < 60; i++) {
      const unsigned na = 1 + gen.rng() % 170, nb = i % 5 == 0 ? na : 1 + gen.rng() % 170;
      std::vector<digit> a = random_digits(gen, na), b = random_digits(gen, nb);
      if (i % 7 == 0)
        std::fill(a.begin(), a.end(), 0xFFFFFFFFu); // every carry propagates
      std::vector<digit> want(na + nb), got(na + nb, 0xDEADBEEF);
      tuning.karatsuba = 1u << 30;
      bn_detail::nat_mul(a.data(), na, b.data(), nb, want.data(), nullptr, nullptr);
      tuning.karatsuba = threshold;
      std::vector<digit> sc(bn_detail::mul_scratch(na, nb));
      bn_detail::nat_mul(a.data(), na, b.data(), nb, got.data(), sc.data(), sc.data() + sc.size());
      ASSERT_EQ(got, want) << na << " x " << nb << " digits, threshold " << threshold;
      // Squaring: both operands one vector.
      std::vector<digit> sq(2 * na), sq_want(2 * na);
      std::vector<digit> sc2(bn_detail::mul_scratch(na, na));
      bn_detail::nat_mul(a.data(), na, a.data(), na, sq.data(), sc2.data(), sc2.data() + sc2.size());
      tuning.karatsuba = 1u << 30;
      bn_detail::nat_mul(a.data(), na, a.data(), na, sq_want.data(), nullptr, nullptr);
      ASSERT_EQ(sq, sq_want) << "square of " << na << " digits, threshold " << threshold;
    }
  }
}

TEST_F(BignumText, ProductScratchBoundCoversTheExactNeed)
{
  // Callers size scratch areas from upper bounds of lengths, so the bound
  // must cover the exact need of every length up to them.
  for (unsigned threshold : {2u, 3u, 5u, 32u}) {
    tuning.karatsuba = threshold;
    for (unsigned na = 1; na <= 300; na++)
      for (unsigned nb = 1; nb <= na; nb++)
        ASSERT_LE(bn_detail::mul_scratch_exact(na, nb), bn_detail::mul_scratch(na, nb))
            << na << " x " << nb << ", threshold " << threshold;
  }
}

TEST_F(BignumText, ReciprocalsAreTheFloor)
{
  Gen gen(83);
  for (unsigned threshold : {2u, 3u, bn_default_tuning.recip}) {
    tuning.recip = threshold;
    tuning.karatsuba = threshold < 3 ? 2 : bn_default_tuning.karatsuba;
    for (unsigned n = 2; n <= 40; n++) {
      for (int pattern = 0; pattern < 4; pattern++) {
        std::vector<digit> d = random_digits(gen, n);
        if (pattern == 1)
          std::fill(d.begin(), d.end(), 0xFFFFFFFFu); // B^n - 1
        if (pattern == 2)
          std::fill(d.begin(), d.end(), 0u); // B^n / 2: v = 2 B^n
        d[n - 1] |= 0x80000000u;
        std::vector<digit> v(n + 1), sc(bn_detail::recip_scratch(n));
        bn_detail::nat_recip(d.data(), n, v.data(), sc.data(), sc.data() + sc.size());
        // 0 <= B^2n - d v < d
        Ref top;
        top.m.assign(2 * n + 1, 0);
        top.m[2 * n] = 1;
        Ref dr = norm({false, d}), vr = norm({false, v});
        Ref rest = sub(top, mul(dr, vr));
        ASSERT_FALSE(rest.neg) << "reciprocal too large, n = " << n << ", threshold " << threshold;
        ASSERT_LT(cmp(rest, dr), 0) << "reciprocal too small, n = " << n << ", threshold " << threshold;
      }
    }
  }
}

TEST_F(BignumText, DivisionByAReciprocalMatchesLongDivision)
{
  Gen gen(89);
  tuning.karatsuba = 2;
  tuning.recip = 2;
  for (int i = 0; i < 120; i++) {
    const unsigned n = 2 + gen.rng() % 24;
    std::vector<digit> p = random_digits(gen, n);
    p[n - 1] |= 1u << (gen.rng() % 32);
    const unsigned shift = static_cast<unsigned>(__builtin_clz(p[n - 1]));
    std::vector<digit> d(n);
    for (unsigned k = n; k-- > 0;)
      d[k] = shift == 0 ? p[k] : (p[k] << shift) | (k > 0 ? p[k - 1] >> (32 - shift) : 0);
    std::vector<digit> v(n + 1), sc(bn_detail::recip_scratch(n));
    bn_detail::nat_recip(d.data(), n, v.data(), sc.data(), sc.data() + sc.size());
    // y below p^2: random, p^2 - 1, p * (p - 1), or small.
    Ref pr = norm({false, p});
    Ref y;
    switch (i % 4) {
    case 0: y = sub(mul(pr, pr), from_i64(1)); break;
    case 1: y = mul(pr, sub(pr, from_i64(1))); break;
    case 2: y = from_i64(12345); break;
    default: {
      Ref raw = norm({false, random_digits(gen, 2 * n)});
      mag_t q, r;
      divmod_mag(raw.m, mul(pr, pr).m, q, r);
      y = norm({false, r});
    }
    }
    std::vector<digit> ym = y.m;
    ym.resize(2 * n, 0);
    std::vector<digit> q(n), r(n), sc2(bn_detail::divrem_scratch(n));
    bn_detail::nat_divrem(ym.data(), 2 * n, d.data(), n, shift, v.data(), q.data(), r.data(), sc2.data(),
                          sc2.data() + sc2.size());
    mag_t wq, wr;
    divmod_mag(y.m, pr.m, wq, wr);
    trim(wq);
    trim(wr);
    EXPECT_EQ(norm({false, q}).m, wq) << "quotient, case " << i;
    EXPECT_EQ(norm({false, r}).m, wr) << "remainder, case " << i;
  }
}

// ---- Scale ----

TEST_F(BignumText, MillionDigitTextsConvertInSubquadraticTime)
{
  SKIP_SIZE_ONLY_CASE_UNDER_SANITIZERS("the cases above run the same code at smaller sizes");
  // A million decimal digits both ways.  Under the emulator the quadratic
  // loops took about 20 s to read such a text and over two minutes to write
  // it; the divide-and-conquer conversions take a few seconds each.  The
  // limits leave room for a slow machine.
  std::mt19937 rng(97);
  std::string text(1000000, '0');
  text[0] = '7';
  for (std::size_t i = 1; i < text.size(); i++)
    text[i] = static_cast<char>('0' + rng() % 10);
  // CPU time of this process, not wall time: a machine busy with other
  // tests must not fail the case.
  const auto cpu_seconds = [] {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
  };
  const double t0 = cpu_seconds();
  const std::vector<TAGGED> box = from_text(text, 10, bn_default_tuning);
  const double t1 = cpu_seconds();
  ASSERT_GT(box.size(), 100000u);
  EXPECT_EQ(to_text(box, 10, bn_default_tuning), text);
  const double t2 = cpu_seconds();
  const double read_s = t1 - t0;
  const double write_s = t2 - t1;
  std::printf("reading 10^6 digits: %.2f s, writing them: %.2f s\n", read_s, write_s);
  EXPECT_LT(read_s, 12.0) << "reading a million digits";
  EXPECT_LT(write_s, 40.0) << "writing a million digits";
}

} // namespace
