// Bignum routines through bn_call, checked against the independent
// reference of bignum_ref.h and against 64-bit machine arithmetic; every
// result is also checked for canonical form (minimal vector, small range
// never boxed, trailer present).
#include <gtest/gtest.h>

#include <cmath>
#include <csetjmp>
#include <cstring>
#include <deque>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "atoms.h"
#include "bignum.h"
#include "bignum_ref.h"
#include "errors.h"
#include "memman.h"
#include "numstack.h"
#include "terms.h"
#include "worker.h"

using namespace bnref;

namespace {

struct Bignum : ::testing::Test {
  worker w{};
  std::deque<std::vector<TAGGED>> boxes; // stable storage for operand boxes

  void SetUp() override
  {
    ASSERT_EQ(memman_init(), 0);
    numstack_init(&w);
  }
  void TearDown() override
  {
    numstack_deinit();
    mm_free_numstack_hook = nullptr;
    mm_init_numstack_hook = nullptr;
    atom_buffer_remove();
    memman_deinit();
  }

  // A heap-style box (with trailer) for the digit vector.
  TAGGED box(std::vector<TAGGED> v)
  {
    v.push_back(v[0]);
    boxes.push_back(std::move(v));
    return MakeSTR(boxes.back().data());
  }
  TAGGED term(const Ref &r)
  {
    if (fits_small(r))
      return MakeSmall_checked(static_cast<VR_INTEGER>(small_value(r)));
    return box(box_of(r));
  }
  TAGGED float_term(double d)
  {
    std::vector<TAGGED> v(3);
    v[0] = BOX_FLOAT;
    std::memcpy(&v[1], &d, sizeof d);
    return box(v);
  }

  // The result term against the expected value, canonical form included.
  static ::testing::AssertionResult matches(TAGGED t, const Ref &want)
  {
    if (t == 0)
      return ::testing::AssertionFailure() << "no result, expected " << show(want);
    if (IsSmall(t)) {
      if (!fits_small(want))
        return ::testing::AssertionFailure() << "got small " << GetSmall(t) << ", expected box of " << show(want);
      if (GetSmall(t) != small_value(want))
        return ::testing::AssertionFailure() << "got " << GetSmall(t) << ", expected " << small_value(want);
      return ::testing::AssertionSuccess();
    }
    if (!IsStructure(t))
      return ::testing::AssertionFailure() << "result is neither a small integer nor a box";
    const TAGGED *p = TagToSTR(t);
    if (fits_small(want))
      return ::testing::AssertionFailure() << "got a box for small value " << small_value(want);
    std::vector<TAGGED> expect = box_of(want);
    std::vector<TAGGED> got(p, p + BoxWords(p[0]));
    if (got != expect) {
      std::ostringstream os;
      os << "box differs for " << show(want) << ": got [";
      for (TAGGED g : got)
        os << std::hex << g << ' ';
      os << "] expected [";
      for (TAGGED e : expect)
        os << std::hex << e << ' ';
      return ::testing::AssertionFailure() << os.str() << "]";
    }
    if (p[got.size()] != p[0])
      return ::testing::AssertionFailure() << "no trailer after the result";
    return ::testing::AssertionSuccess();
  }

  TAGGED call(bn_routine f, TAGGED x, TAGGED y, int *err)
  {
    *err = 12345;
    return bn_call(&w, f, x, y, err);
  }
  TAGGED call(bn_routine f, TAGGED x, TAGGED y = 0)
  {
    int err;
    TAGGED t = call(f, x, y, &err);
    EXPECT_EQ(err, 0);
    return t;
  }
};

std::int64_t floor_mod(std::int64_t a, std::int64_t b)
{
  std::int64_t r = a % b;
  return (r != 0 && ((r < 0) != (b < 0))) ? r + b : r;
}

std::int64_t value64(TAGGED t)
{
  return IsSmall(t) ? GetSmall(t) : vri_get_int64(t);
}

struct BinCase {
  const char *name;
  bn_routine f;
  std::function<Ref(const Ref &, const Ref &)> ref;
  bool divides;
};

const BinCase bin_cases[] = {
    {"add", bn_add, add, false},
    {"subtract", bn_subtract, sub, false},
    {"multiply", bn_multiply, mul, false},
    {"quotient", bn_quotient, quot, true},
    {"remainder", bn_remainder, rem, true},
    {"modulus", bn_modulus, mod, true},
    {"and", bn_and, [](const Ref &a, const Ref &b) { return bitwise(a, b, [](auto x, auto y) { return x & y; }); }, false},
    {"or", bn_or, [](const Ref &a, const Ref &b) { return bitwise(a, b, [](auto x, auto y) { return x | y; }); }, false},
    {"xor", bn_xor, [](const Ref &a, const Ref &b) { return bitwise(a, b, [](auto x, auto y) { return x ^ y; }); }, false},
};

} // namespace

TEST_F(Bignum, BinaryRoutinesAgreeWithReference)
{
  Gen gen(20240611);
  for (const BinCase &c : bin_cases) {
    for (int i = 0; i < 400; i++) {
      Ref a = gen.value(7), b = gen.value(i % 2 ? 3 : 7);
      if (c.divides && is_zero(b))
        continue;
      TAGGED *mark = w.numstack_top;
      TAGGED t = call(c.f, term(a), term(b));
      EXPECT_TRUE(matches(t, c.ref(a, b))) << c.name << " of " << show(a) << " and " << show(b);
      numstack_trim(&w, mark);
    }
  }
}

TEST_F(Bignum, NonMinimalOperandsGiveCanonicalResults)
{
  Gen gen(7);
  for (const BinCase &c : bin_cases) {
    for (int i = 0; i < 60; i++) {
      Ref a = gen.value(4), b = gen.value(4);
      if (c.divides && is_zero(b))
        continue;
      TAGGED x = box(loose_box_of(a, 1 + i % 2)), y = box(loose_box_of(b, i % 3));
      EXPECT_TRUE(matches(call(c.f, x, y), c.ref(a, b))) << c.name << " of " << show(a) << " and " << show(b);
    }
  }
}

TEST_F(Bignum, ThirtyTwoBitOperandsAgreeWithMachineArithmetic)
{
  std::mt19937 rng(99);
  const std::int32_t edges[] = {0, 1, -1, 2, -2, SMALL_MAX, SMALL_MIN, SMALL_MAX + 1, SMALL_MIN - 1,
                                INT32_MAX, INT32_MIN, INT32_MIN + 1, 0x40000000, -0x40000000};
  auto pick = [&](int i) -> std::int32_t {
    if (i % 3 == 0)
      return edges[rng() % (sizeof edges / sizeof edges[0])];
    return static_cast<std::int32_t>(rng()) >> (rng() % 31);
  };
  for (int i = 0; i < 3000; i++) {
    const std::int64_t a = pick(i), b = pick(i + 1);
    TAGGED x = term(from_i64(a)), y = term(from_i64(b));
    EXPECT_EQ(value64(call(bn_add, x, y)), a + b) << a << " + " << b;
    EXPECT_EQ(value64(call(bn_subtract, x, y)), a - b) << a << " - " << b;
    EXPECT_EQ(value64(call(bn_multiply, x, y)), a * b) << a << " * " << b;
    EXPECT_EQ(value64(call(bn_and, x, y)), a & b);
    EXPECT_EQ(value64(call(bn_or, x, y)), a | b);
    EXPECT_EQ(value64(call(bn_xor, x, y)), a ^ b);
    EXPECT_EQ(value64(call(bn_not, x)), ~a);
    EXPECT_EQ(value64(call(bn_minus, x)), -a);
    EXPECT_EQ(value64(call(bn_incr, x)), a + 1);
    EXPECT_EQ(value64(call(bn_decr, x)), a - 1);
    if (b != 0) {
      EXPECT_EQ(value64(call(bn_quotient, x, y)), a / b) << a << " // " << b;
      EXPECT_EQ(value64(call(bn_remainder, x, y)), a % b) << a << " rem " << b;
      EXPECT_EQ(value64(call(bn_modulus, x, y)), floor_mod(a, b)) << a << " mod " << b;
    }
    const int s = static_cast<int>(rng() % 32);
    TAGGED st = MakeSmall_checked(s);
    EXPECT_EQ(value64(call(bn_lshift, x, st)), a * (std::int64_t{1} << s)) << a << " << " << s;
    EXPECT_EQ(value64(call(bn_rshift, x, st)), a >> s) << a << " >> " << s;
    numstack_trim(&w, nullptr);
  }
}

TEST_F(Bignum, UnaryRoutinesAgreeWithReference)
{
  Gen gen(3);
  for (int i = 0; i < 500; i++) {
    Ref a = gen.value(6);
    TAGGED x = term(a);
    EXPECT_TRUE(matches(call(bn_minus, x), neg(a))) << "minus " << show(a);
    EXPECT_TRUE(matches(call(bn_plus, x), a)) << "plus " << show(a);
    EXPECT_TRUE(matches(call(bn_incr, x), add(a, from_i64(1)))) << "incr " << show(a);
    EXPECT_TRUE(matches(call(bn_decr, x), sub(a, from_i64(1)))) << "decr " << show(a);
    EXPECT_TRUE(matches(call(bn_not, x), sub(neg(a), from_i64(1)))) << "not " << show(a);
    if (!a.neg && !is_zero(a)) {
      EXPECT_TRUE(matches(call(bn_msb, x), from_i64(static_cast<std::int64_t>(bit_length(a.m)) - 1)));
    }
    numstack_trim(&w, nullptr);
  }
}

TEST_F(Bignum, DivisionIdentitiesForAllThreeConventions)
{
  Gen gen(11);
  for (int i = 0; i < 400; i++) {
    Ref a = gen.value(8), b = gen.value(1 + i % 5);
    if (is_zero(b))
      continue;
    TAGGED x = term(a), y = term(b);
    // Truncating: x = q*y + rem, |rem| < |y|, rem has the sign of x.
    TAGGED tq = call(bn_quotient, x, y), tr = call(bn_remainder, x, y), tm = call(bn_modulus, x, y);
    TAGGED back = call(bn_add, call(bn_multiply, tq, y), tr);
    EXPECT_TRUE(matches(back, a)) << "quotient*divisor + remainder for " << show(a) << " / " << show(b);
    // Flooring: x = floor(x/y)*y + mod, mod has the sign of y.
    Ref m = mod(a, b);
    EXPECT_TRUE(matches(tm, m));
    EXPECT_TRUE(is_zero(m) || m.neg == b.neg) << "modulus sign";
    Ref fq = quot(sub(a, m), b);
    EXPECT_TRUE(matches(call(bn_add, call(bn_multiply, term(fq), y), tm), a));
    EXPECT_TRUE(cmp_mag(m.m, b.m) < 0);
    numstack_trim(&w, nullptr);
  }
}

TEST_F(Bignum, SameOperandDivisionAndSquare)
{
  Gen gen(5);
  for (int i = 0; i < 100; i++) {
    Ref a = gen.value(5);
    if (fits_small(a))
      continue;
    TAGGED x = term(a);
    std::vector<TAGGED> before(TagToSTR(x), TagToSTR(x) + BoxWords(*TagToSTR(x)) + 1);
    EXPECT_TRUE(matches(call(bn_quotient, x, x), from_i64(1)));
    EXPECT_TRUE(matches(call(bn_remainder, x, x), from_i64(0)));
    EXPECT_TRUE(matches(call(bn_modulus, x, x), from_i64(0)));
    EXPECT_TRUE(matches(call(bn_multiply, x, x), mul(a, a))) << "square of " << show(a);
    std::vector<TAGGED> after(TagToSTR(x), TagToSTR(x) + before.size());
    EXPECT_EQ(before, after) << "an operand negated for the work must be restored";
  }
}

TEST_F(Bignum, OperandsAreRestoredAfterMultiplyAndDivide)
{
  Gen gen(17);
  for (int i = 0; i < 100; i++) {
    Ref a = gen.value(5), b = gen.value(5);
    if (is_zero(b) || fits_small(a) || fits_small(b))
      continue;
    TAGGED x = term(a), y = term(b);
    std::vector<TAGGED> xb(box_of(a)), yb(box_of(b));
    for (bn_routine f : {bn_multiply, bn_quotient, bn_remainder, bn_modulus})
      call(f, x, y);
    EXPECT_EQ(std::vector<TAGGED>(TagToSTR(x), TagToSTR(x) + xb.size()), xb);
    EXPECT_EQ(std::vector<TAGGED>(TagToSTR(y), TagToSTR(y) + yb.size()), yb);
  }
}

TEST_F(Bignum, ShiftsAgreeWithReferenceAndRoundTrip)
{
  Gen gen(23);
  for (int i = 0; i < 600; i++) {
    Ref a = gen.value(5);
    const unsigned s = (i % 4 == 0) ? 32 * (gen.rng() % 4) : gen.rng() % 200;
    TAGGED x = term(a), st = MakeSmall_checked(static_cast<VR_INTEGER>(s));
    TAGGED l = call(bn_lshift, x, st);
    EXPECT_TRUE(matches(l, lshift(a, s))) << show(a) << " << " << s;
    EXPECT_TRUE(matches(call(bn_rshift, x, st), rshift(a, s))) << show(a) << " >> " << s;
    EXPECT_TRUE(matches(call(bn_rshift, l, st), a)) << "(" << show(a) << " << " << s << ") >> " << s;
    numstack_trim(&w, nullptr);
  }
}

// The new top digit of a left shift must be the old top digit shifted
// arithmetically; filling only b high bits with the sign corrupts negative
// values whenever b < 16.
TEST_F(Bignum, LeftShiftOfNegativeValues)
{
  struct { std::int64_t x; int s; } cases[] = {
      {-1, 1}, {-3, 5}, {-268435457LL, 1}, {INT32_MIN, 1}, {INT32_MIN, 33},
      {-5, 33}, {-0x7FFFFFFFLL, 3}, {-(1LL << 40) - 1, 7}, {-(1LL << 40) - 1, 31},
  };
  for (auto c : cases) {
    Ref want = lshift(from_i64(c.x), static_cast<std::size_t>(c.s));
    EXPECT_TRUE(matches(call(bn_lshift, term(from_i64(c.x)), MakeSmall_checked(c.s)), want))
        << c.x << " << " << c.s;
  }
}

TEST_F(Bignum, EdgeCasesOfTheDigitRepresentation)
{
  auto T = [&](std::int64_t v) { return term(from_i64(v)); };
  // Carries that need a new digit, and the asymmetric range of one digit.
  EXPECT_TRUE(matches(call(bn_add, T(INT32_MAX), T(1)), from_i64(1LL << 31)));
  const TAGGED *sum = TagToSTR(call(bn_add, T(INT32_MAX), T(1)));
  EXPECT_EQ(std::vector<TAGGED>(sum, sum + 4), (std::vector<TAGGED>{BOX_INT2, 0x80000000u, 0, BOX_INT2}));
  EXPECT_TRUE(matches(call(bn_subtract, T(INT32_MIN), T(1)), from_i64(-(1LL << 31) - 1)));
  EXPECT_TRUE(matches(call(bn_minus, T(INT32_MIN)), from_i64(1LL << 31)));
  EXPECT_TRUE(matches(call(bn_incr, T(INT32_MAX)), from_i64(1LL << 31)));
  EXPECT_TRUE(matches(call(bn_decr, T(INT32_MIN)), from_i64(-(1LL << 31) - 1)));
  EXPECT_TRUE(matches(call(bn_minus, T(INT64_MIN)), lshift(from_i64(1), 63)));
  // Results that come back into the small range are never boxed.
  EXPECT_EQ(call(bn_subtract, T(SMALL_MAX + 1LL), T(1)), MakeSmall_checked(SMALL_MAX));
  EXPECT_EQ(call(bn_add, T(SMALL_MAX), T(1)) != 0, true);
  EXPECT_TRUE(matches(call(bn_add, T(SMALL_MAX), T(1)), from_i64(SMALL_MAX + 1LL)));
  EXPECT_EQ(call(bn_multiply, T(1LL << 32), T(0)), MakeSmall_checked(0));
  // Comparison across lengths and signs.
  std::vector<TAGGED> m63{BOX_INT2, 0, 0x80000000u}, p32{BOX_INT2, 0, 1}, i31{BOX_INT1, 0x7FFFFFFFu};
  EXPECT_EQ(bn_compare(m63.data(), i31.data()), -1);
  EXPECT_EQ(bn_compare(p32.data(), i31.data()), 1);
  EXPECT_EQ(bn_compare(i31.data(), i31.data()), 0);
  std::vector<TAGGED> m1{BOX_INT1, 0xFFFFFFFFu}, m2big{BOX_INT2, 0, 0xFFFFFFFFu};
  EXPECT_EQ(bn_compare(m2big.data(), m1.data()), -1) << "-2^32 < -1";
  EXPECT_EQ(bn_compare(m1.data(), m2big.data()), 1);
  // Division conventions on mixed signs.
  Ref big = add(lshift(from_i64(1), 40), from_i64(1));
  EXPECT_TRUE(matches(call(bn_quotient, term(neg(big)), T(2)), neg(lshift(from_i64(1), 39))));
  EXPECT_TRUE(matches(call(bn_remainder, term(neg(big)), T(2)), from_i64(-1)));
  EXPECT_TRUE(matches(call(bn_modulus, term(neg(big)), T(2)), from_i64(1)));
  EXPECT_TRUE(matches(call(bn_quotient, term(big), T(-2)), neg(lshift(from_i64(1), 39))));
  EXPECT_TRUE(matches(call(bn_remainder, term(big), T(-2)), from_i64(1)));
  EXPECT_TRUE(matches(call(bn_modulus, term(big), T(-2)), from_i64(-1)));
  // Shifts far past the value.
  EXPECT_EQ(call(bn_rshift, T(-1), T(1000)), MakeSmall_checked(-1));
  EXPECT_EQ(call(bn_rshift, term(lshift(from_i64(1), 100)), T(1000)), MakeSmall_checked(0));
  EXPECT_TRUE(matches(call(bn_lshift, T(1), T(64)), lshift(from_i64(1), 64)));
  // msb.
  EXPECT_EQ(call(bn_msb, T(1LL << 31)), MakeSmall_checked(31));
  EXPECT_EQ(call(bn_msb, T(1LL << 32)), MakeSmall_checked(32));
  // Unsigned tests.
  std::vector<TAGGED> u1{BOX_INT1, 5}, u2{BOX_INT2, 0xFFFFFFFFu, 0}, u3{BOX_INT2, 0, 1}, n1{BOX_INT1, 0x80000000u};
  EXPECT_TRUE(bn_isulong(u1.data()));
  EXPECT_TRUE(bn_isulong(u2.data()));
  EXPECT_FALSE(bn_isulong(u3.data()));
  EXPECT_FALSE(bn_isulong(n1.data()));
  EXPECT_FALSE(bn_positive(n1.data()));
  EXPECT_TRUE(bn_positive(u2.data()));
}

TEST_F(Bignum, ErrorWordsCarryCodeAndPosition)
{
  int err;
  struct { const char *what; bn_routine f; TAGGED x, y; int expect; } cases[] = {
      {"division by zero", bn_quotient, term(from_i64(1LL << 40)), MakeSmall_checked(0), -(770 + 2 * 65536)},
      {"remainder by zero", bn_remainder, MakeSmall_checked(7), MakeSmall_checked(0), -(770 + 2 * 65536)},
      {"modulus by zero", bn_modulus, MakeSmall_checked(-7), MakeSmall_checked(0), -(770 + 2 * 65536)},
      {"msb of a negative", bn_msb, MakeSmall_checked(-4), 0, -(1026 + 65536)},
      {"msb of zero", bn_msb, MakeSmall_checked(0), 0, -(1026 + 65536)},
      {"integer of infinity", bn_from_float, float_term(ieee_plus_inf), 0, -(771 + 65536)},
      {"integer of NaN", bn_from_float, float_term(ieee_nan), 0, -(771 + 65536)},
      {"x is an infinite float", bn_add, float_term(ieee_minus_inf), MakeSmall_checked(1), -(771 + 2 * 65536)},
      {"y is a NaN float", bn_add, MakeSmall_checked(1), float_term(ieee_nan), -(771 + 3 * 65536)},
      {"result too long for a header", bn_lshift, MakeSmall_checked(1), term(from_i64(1LL << 32)), -(1027 + 65536)},
  };
  for (auto &c : cases) {
    EXPECT_EQ(call(c.f, c.x, c.y, &err), 0u) << c.what;
    EXPECT_EQ(err, c.expect) << c.what;
  }
  EXPECT_EQ(-(770 + 2 * 65536), -131842);
  // A zero dividend shifted by any count stays zero, and a huge right shift
  // gives the sign.
  EXPECT_EQ(call(bn_lshift, MakeSmall_checked(0), term(from_i64(1LL << 32))), MakeSmall_checked(0));
  EXPECT_EQ(call(bn_rshift, MakeSmall_checked(-9), term(from_i64(1LL << 32))), MakeSmall_checked(-1));
}

TEST_F(Bignum, HeaderLimitIsChecked)
{
  // A shift count that fits a digit but whose result needs 2^27 digits.
  std::vector<TAGGED> x{BOX_INT1, 1}, y{BOX_INT1, 0x7FFFFFFFu};
  std::vector<TAGGED> z(16);
  EXPECT_GT(bn_lshift(x.data(), y.data(), z.data(), z.data() + z.size()), 0) << "2^26 digits still fit a header";
  // Text long enough to need more digits than a header can hold is refused
  // before any work.
  EXPECT_EQ(bn_from_bytes(reinterpret_cast<const unsigned char *>(z.data()), 4ull * ((1u << 27) - 1), z.data(),
                          z.data() + z.size()),
            -1027);
}

TEST_F(Bignum, FloatsTruncateTowardZero)
{
  std::mt19937 rng(31);
  std::vector<double> values = {1.0e20, -0.5e9, 268435455.9, 268435456.0, -268435456.0, -268435456.5,
                                -268435457.0, 2147483648.0, -2147483648.0, 4294967296.0, -4294967296.0,
                                9007199254740993.0, std::numeric_limits<double>::max(), -std::numeric_limits<double>::max(), 0.0, -0.0, 0.75, -0.75, 1e300,
                                std::ldexp(1.0, 63), -std::ldexp(1.0, 63), -std::ldexp(1.0, 95), -std::ldexp(1.0, 64)};
  for (int i = 0; i < 1500; i++) {
    double m = std::ldexp(static_cast<double>(rng() | (static_cast<std::uint64_t>(rng()) << 32)), -64);
    double d = std::ldexp(m, static_cast<int>(rng() % 300));
    values.push_back(rng() % 2 ? -d : d);
  }
  for (double d : values) {
    TAGGED t = call(bn_from_float, float_term(d));
    Ref want = from_double(d);
    EXPECT_TRUE(matches(t, want)) << "bn_from_float(" << d << ")";
    // The truncated value is an exact double, so it reads back exactly.
    if (!IsSmall(t)) {
      EXPECT_EQ(vri_get_float(t), std::trunc(d)) << d;
    }
    numstack_trim(&w, nullptr);
  }
  EXPECT_TRUE(matches(call(bn_from_float, float_term(1.0e20)), mul(from_i64(10000000000LL), from_i64(10000000000LL))));
  EXPECT_TRUE(matches(call(bn_from_float, float_term(-0.5e9)), from_i64(-500000000)));
  EXPECT_EQ(call(bn_from_float, float_term(-2.5e8)), MakeSmall_checked(-250000000));
  // bn_call converts float operands first.
  EXPECT_TRUE(matches(call(bn_add, float_term(1.0e20), MakeSmall_checked(1)),
                      add(from_double(1.0e20), from_i64(1))));
  EXPECT_TRUE(matches(call(bn_subtract, MakeSmall_checked(1), float_term(-2.5)), from_i64(3)));
}

TEST_F(Bignum, TextRoundTripsInEveryBase)
{
  Gen gen(41);
  for (int i = 0; i < 700; i++) {
    Ref a = gen.value(6);
    const int base = 2 + i % 35;
    const bool upper = i % 3 == 0;
    TAGGED x = term(a);
    std::vector<TAGGED> xb = fits_small(a) ? std::vector<TAGGED>{BOX_INT1, static_cast<TAGGED>(small_value(a))}
                                           : std::vector<TAGGED>(TagToSTR(x), TagToSTR(x) + BoxWords(*TagToSTR(x)));
    const char *text = bn_to_string(xb.data(), upper ? -base : base);
    ASSERT_NE(text, nullptr);
    const std::string s = text;
    EXPECT_EQ(s, to_text(a, static_cast<unsigned>(base), upper)) << "base " << base;
    std::vector<TAGGED> z(s.size() + 8);
    ASSERT_EQ(bn_from_string(s.c_str(), z.data(), z.data() + z.size(), base), 0) << s;
    EXPECT_EQ(std::vector<TAGGED>(z.begin(), z.begin() + BoxWords(z[0])), box_of(a))
        << "reading back " << s << " in base " << base;
  }
}

TEST_F(Bignum, TextEdgeCases)
{
  std::vector<TAGGED> x{BOX_INT2, 0, 255}; // 255 * 2^32
  EXPECT_STREQ(bn_to_string(x.data(), 16), "ff00000000");
  EXPECT_STREQ(bn_to_string(x.data(), -16), "FF00000000");
  std::vector<TAGGED> zero{BOX_INT1, 0}, m1{BOX_INT1, 0xFFFFFFFFu}, mn{BOX_INT1, 0x80000000u};
  EXPECT_STREQ(bn_to_string(zero.data(), 10), "0");
  EXPECT_STREQ(bn_to_string(m1.data(), 2), "-1");
  EXPECT_STREQ(bn_to_string(mn.data(), 10), "-2147483648");
  EXPECT_STREQ(bn_to_string(mn.data(), 2), "-10000000000000000000000000000000");
  // Bases outside 2..36 are refused (base 1 would never finish).
  for (int bad : {0, 1, -1, 37, -37, 1000, INT32_MIN})
    EXPECT_EQ(bn_to_string(x.data(), bad), nullptr) << "base " << bad;

  struct { const char *text; int radix; std::int64_t v; } reads[] = {
      {"-ff00000000", 16, -(255LL << 32)}, {"+123", 10, 123}, {"zz", 36, 35 * 36 + 35},
      {"ZZ", 36, 35 * 36 + 35}, {"", 10, 0}, {"-0", 10, 0}, {"2147483648", 10, 1LL << 31},
      {"-2147483648", 10, -(1LL << 31)}, {"777777777777777777777", 8, INT64_MAX},
      {"101", -2, 5}, // negative radix: no sign allowed, digits read
  };
  for (auto r : reads) {
    std::vector<TAGGED> z(32);
    ASSERT_EQ(bn_from_string(r.text, z.data(), z.data() + z.size(), r.radix), 0) << r.text;
    EXPECT_EQ(std::vector<TAGGED>(z.begin(), z.begin() + BoxWords(z[0])), box_of(from_i64(r.v))) << r.text;
  }
  std::vector<TAGGED> z(32);
  EXPECT_EQ(bn_from_string("12", z.data(), z.data() + z.size(), 1), -1) << "radix 1 refused";
  EXPECT_EQ(bn_from_string("12", z.data(), z.data() + z.size(), 0), -1) << "radix 0 refused";
  // A text too long for the area reports the words it needs; these
  // suffice.
  std::string digits(400, '9');
  std::vector<TAGGED> small(4);
  int need = bn_from_string(digits.c_str(), small.data(), small.data() + small.size(), 10);
  ASSERT_GT(need, 4);
  std::vector<TAGGED> area(static_cast<std::size_t>(need));
  EXPECT_EQ(bn_from_string(digits.c_str(), area.data(), area.data() + area.size(), 10), 0);
  EXPECT_STREQ(bn_to_string(area.data(), 10), digits.c_str());
}

TEST_F(Bignum, BytesRoundTrip)
{
  Gen gen(43);
  for (int i = 0; i < 500; i++) {
    Ref a = gen.value(5);
    std::vector<TAGGED> xb = box_of(a);
    std::size_t size = 0;
    EXPECT_EQ(bn_to_bytes(xb.data(), nullptr, &size), 0);
    // The fewest bytes whose sign extension is the value.
    std::size_t k = bit_length(a.neg ? sub_mag(a.m, {1}) : a.m) / 8 + 1;
    EXPECT_EQ(size, k) << show(a);
    std::vector<unsigned char> buf(k + 3, 0x5A);
    std::size_t cap = buf.size();
    ASSERT_EQ(bn_to_bytes(xb.data(), buf.data(), &cap), 1);
    EXPECT_EQ(cap, k);
    for (std::size_t j = k; j < buf.size(); j++)
      EXPECT_EQ(buf[j], a.neg ? 0xFF : 0x00) << "sign fill";
    std::vector<TAGGED> z(16);
    ASSERT_EQ(bn_from_bytes(buf.data(), k, z.data(), z.data() + z.size()), 0);
    bn_canonize(z.data());
    EXPECT_EQ(std::vector<TAGGED>(z.begin(), z.begin() + BoxWords(z[0])), xb) << show(a);
  }
  std::vector<TAGGED> p31{BOX_INT2, 0x80000000u, 0}, m31{BOX_INT1, 0x80000000u};
  std::size_t size = 0;
  bn_to_bytes(p31.data(), nullptr, &size);
  EXPECT_EQ(size, 5u) << "2^31 needs 5 bytes";
  unsigned char b5[5];
  size = 5;
  ASSERT_EQ(bn_to_bytes(p31.data(), b5, &size), 1);
  EXPECT_EQ(std::vector<unsigned char>(b5, b5 + 5), (std::vector<unsigned char>{0, 0, 0, 0x80, 0}));
  size = 0;
  bn_to_bytes(m31.data(), nullptr, &size);
  EXPECT_EQ(size, 4u) << "-2^31 needs 4 bytes";
  // Count 0 reads as zero; a short tail is sign-extended.
  std::vector<TAGGED> z(8);
  ASSERT_EQ(bn_from_bytes(nullptr, 0, z.data(), z.data() + z.size()), 0);
  EXPECT_EQ(std::vector<TAGGED>(z.begin(), z.begin() + 2), (std::vector<TAGGED>{BOX_INT1, 0}));
  const unsigned char tail[] = {1, 2, 3, 4, 0x85};
  ASSERT_EQ(bn_from_bytes(tail, 5, z.data(), z.data() + z.size()), 0);
  EXPECT_EQ(std::vector<TAGGED>(z.begin(), z.begin() + 3), (std::vector<TAGGED>{BOX_INT2, 0x04030201u, 0xFFFFFF85u}));
}

TEST_F(Bignum, FloatTextAndBytesAgree)
{
  // bignum -> text -> bignum -> bytes -> bignum -> float, on values that are
  // exact doubles.
  std::mt19937 rng(47);
  for (int i = 0; i < 300; i++) {
    double d = std::ldexp(static_cast<double>(rng() >> 5) + 1.0, static_cast<int>(rng() % 200));
    if (rng() % 2)
      d = -d;
    TAGGED t = call(bn_from_float, float_term(d));
    std::vector<TAGGED> b = IsSmall(t) ? std::vector<TAGGED>{BOX_INT1, static_cast<TAGGED>(GetSmall(t))}
                                       : std::vector<TAGGED>(TagToSTR(t), TagToSTR(t) + BoxWords(*TagToSTR(t)));
    const int base = 2 + static_cast<int>(rng() % 35);
    std::string s = bn_to_string(b.data(), base);
    std::vector<TAGGED> z(s.size() + 8);
    ASSERT_EQ(bn_from_string(s.c_str(), z.data(), z.data() + z.size(), base), 0);
    std::size_t n = 0;
    bn_to_bytes(z.data(), nullptr, &n);
    std::vector<unsigned char> bytes(n);
    ASSERT_EQ(bn_to_bytes(z.data(), bytes.data(), &n), 1);
    std::vector<TAGGED> back(n / 4 + 4);
    ASSERT_EQ(bn_from_bytes(bytes.data(), n, back.data(), back.data() + back.size()), 0);
    back.resize(BoxWords(back[0]));
    back.push_back(back[0]);
    const double f = vri_get_float(MakeSTR(back.data()));
    EXPECT_EQ(f, d) << "round trip of " << d << " through base " << base << " text " << s;
  }
}
