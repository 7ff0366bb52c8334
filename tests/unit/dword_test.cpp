// The three-word integers of the multi-word linear propagator (dword.h):
// carries and borrows across the words, infinities, the rounding of the
// divisions, the remainders of negative values, boxed integers read; then
// random finite values against 64-bit arithmetic; and solve_gcd against
// a search.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>

#include "bounds.h"
#include "dword.h"
#include "linear.h"

namespace {

struct DwordTest : ::testing::Test {
  fd_state st{};
  VREnv env{};
  void SetUp() override { env.stash = &st; }
};

dword of(std::int64_t v)
{
  dword d;
  d.infw = v < 0 ? -1 : 0;
  d.msw = static_cast<std::uint32_t>(static_cast<std::uint64_t>(v) >> 32);
  d.lsw = static_cast<std::uint32_t>(v);
  return d;
}

dword words(std::int32_t infw, std::uint32_t msw, std::uint32_t lsw) { return dword{infw, msw, lsw}; }

std::string text(const dword &d)
{
  return std::to_string(d.infw) + ":" + std::to_string(d.msw) + ":" + std::to_string(d.lsw);
}

TEST_F(DwordTest, SumsCarryBorrowAndOverflow)
{
  struct Case {
    const char *why;
    dword x, y;
    bool subtract;
    dword expected;
    bool overflow;
  } cases[] = {
      {"low word carries into msw", words(0, 0, 0xffffffffu), of(1), false, words(0, 1, 0), false},
      {"msw carries into infw", words(0, 0xffffffffu, 0xffffffffu), of(1), false, words(1, 0, 0), false},
      {"-1 + 1 is 0 in all words", of(-1), of(1), false, words(0, 0, 0), false},
      {"borrow from msw", words(0, 1, 0), of(1), true, words(0, 0, 0xffffffffu), false},
      {"0 - 1 sign-extends", of(0), of(1), true, words(-1, 0xffffffffu, 0xffffffffu), false},
      {"+inf less 5 is 2^64 - 5, above any finite sum of bounds", words(1, 0, 0), of(-5), false, words(0, 0xffffffffu, 0xfffffffbu), false},
      {"+inf minus -inf", words(1, 0, 0), words(-1, 0, 0), true, words(2, 0, 0), false},
      {"top word overflows", words(INT32_MAX, 0xffffffffu, 0xffffffffu), of(1), false, words(INT32_MIN, 0, 0), true},
      {"top word underflows", words(INT32_MIN, 0, 0), of(1), true, words(INT32_MAX, 0xffffffffu, 0xffffffffu), true},
  };
  for (const Case &c : cases) {
    st.fd_overflow = 0;
    dword z;
    if (c.subtract)
      sub_ddd(&env, &c.x, &c.y, &z);
    else
      add_ddd(&env, &c.x, &c.y, &z);
    EXPECT_EQ(text(z), text(c.expected)) << c.why;
    EXPECT_EQ(st.fd_overflow != 0, c.overflow) << c.why;
  }
}

TEST_F(DwordTest, ProductsOfBoundsAndInfinities)
{
  struct Case {
    const char *why;
    long c;
    TAGGED bound;
    dword expected;
  } cases[] = {
      {"inf times a positive coefficient is minus infinity", 3, atom_inf, words(-1, 0, 0)},
      {"inf times a negative coefficient is plus infinity", -3, atom_inf, words(1, 0, 0)},
      {"sup times a negative coefficient is minus infinity", -3, atom_sup, words(-1, 0, 0)},
      {"sup times a positive coefficient is plus infinity", 3, atom_sup, words(1, 0, 0)},
      {"short operands", -32767, MakeSmall_checked(32767), of(-32767LL * 32767)},
      {"long operands, signs differ", 268435455, MakeSmall_checked(-268435456), of(-268435455LL * 268435456)},
      {"long operands, both negative", -268435456, MakeSmall_checked(-268435456), of(268435456LL * 268435456)},
      {"one long operand", 2, MakeSmall_checked(100000), of(200000)},
  };
  for (const Case &c : cases) {
    dword z;
    mul_ltd(c.c, c.bound, &z);
    EXPECT_EQ(text(z), text(c.expected)) << c.why;
  }
}

TEST_F(DwordTest, DivisionsRoundAndRemaindersAreNonNegative)
{
  struct Case {
    std::int64_t x;
    long y;
    std::int64_t floor, ceiling, truncated;
    std::uint32_t mod; // for y > 0
  } cases[] = {
      {-7, 2, -4, -3, -3, 1},
      {7, -2, -4, -3, -3, 0},
      {7, 2, 3, 4, 3, 1},
      {-7, -2, 3, 4, 3, 0},
      {-6, 3, -2, -2, -2, 0},
      {-7, 3, -3, -2, -2, 2},
      {5, 1, 5, 5, 5, 0},
      {0, -5, 0, 0, 0, 0},
      {(1LL << 40) + 1, 3, ((1LL << 40) + 1) / 3, ((1LL << 40) + 1) / 3 + 1, ((1LL << 40) + 1) / 3, 2},
      {-(1LL << 62), 7, -((1LL << 62) / 7) - 1, -((1LL << 62) / 7), -((1LL << 62) / 7), 7 - (1LL << 62) % 7},
  };
  for (const Case &c : cases) {
    const dword x = of(c.x);
    dword f, k;
    div_dldf(&env, &x, c.y, &f);
    div_dldc(&env, &x, c.y, &k);
    EXPECT_EQ(text(f), text(of(c.floor))) << c.x << " floor/ " << c.y;
    EXPECT_EQ(text(k), text(of(c.ceiling))) << c.x << " ceiling/ " << c.y;
    EXPECT_EQ(text(x), text(of(c.x))) << "the dividend is left unchanged";
    if (c.y > 0) {
      EXPECT_EQ(div_dll(&env, &x, c.y), static_cast<long>(static_cast<std::int32_t>(c.truncated))) << c.x;
      EXPECT_EQ(mod_duu(&x, static_cast<std::uint32_t>(c.y)), c.mod) << c.x << " mod " << c.y;
    }
  }
  // An infinity divided stays beyond the small integers, with the quotient's sign.
  const dword inf = words(1, 0, 0);
  dword q;
  div_dldf(&env, &inf, -3, &q);
  EXPECT_EQ(sign_d(&q), -1);
  EXPECT_FALSE(fits_small_d(&q));
  div_dldc(&env, &inf, 3, &q);
  EXPECT_EQ(sign_d(&q), 1);
  EXPECT_FALSE(fits_small_d(&q));
}

TEST_F(DwordTest, IntegerTermsAndTheSmallIntegerRange)
{
  TAGGED two_digits[4] = {BOX_INT2, 0, 256, BOX_INT2};           // 2^40
  TAGGED negative[4] = {BOX_INT2, 0, 0xffffff00u, BOX_INT2};     // -2^40
  TAGGED one_digit[3] = {BOX_INT1, 0x80000000u, BOX_INT1};       // -2^31
  struct Case {
    const char *why;
    TAGGED t;
    dword expected;
  } cases[] = {
      {"small", MakeSmall_checked(-5), of(-5)},
      {"two digits 2^40", MakeSTR(two_digits), words(0, 256, 0)},
      {"two digits -2^40", MakeSTR(negative), of(-(1LL << 40))},
      {"one digit sign-extended", MakeSTR(one_digit), of(INT32_MIN)},
  };
  for (const Case &c : cases) {
    dword z;
    add_ztd(c.t, &z);
    EXPECT_EQ(text(z), text(c.expected)) << c.why;
  }
  const std::int64_t fits[] = {0, -1, SMALL_MIN, SMALL_MAX};
  const std::int64_t does_not[] = {SMALL_MIN - 1LL, SMALL_MAX + 1LL, 1LL << 32, -(1LL << 32), INT32_MIN};
  for (std::int64_t v : fits) {
    const dword d = of(v);
    EXPECT_TRUE(fits_small_d(&d)) << v;
  }
  for (std::int64_t v : does_not) {
    const dword d = of(v);
    EXPECT_FALSE(fits_small_d(&d)) << v;
  }
  const dword pinf = words(1, 0, 0), ninf = words(-1, 0, 0);
  EXPECT_FALSE(fits_small_d(&pinf));
  EXPECT_FALSE(fits_small_d(&ninf));
}

// Random finite values below 2^62 in magnitude against 64-bit arithmetic.
TEST_F(DwordTest, RandomValuesAgreeWith64BitArithmetic)
{
  std::mt19937_64 rng(20261211);
  for (int i = 0; i < 20000; i++) {
    const int shift = static_cast<int>(rng() % 62);
    const std::int64_t a = static_cast<std::int64_t>(rng() >> (2 + shift)) * ((rng() & 1) ? 1 : -1);
    const std::int64_t b = static_cast<std::int64_t>(rng() >> (2 + rng() % 62)) * ((rng() & 1) ? 1 : -1);
    long y = static_cast<long>(static_cast<std::int32_t>(rng()) >> (rng() % 31));
    if (y == 0)
      y = 1;
    const dword x = of(a), z = of(b);
    dword r;
    st.fd_overflow = 0;
    add_ddd(&env, &x, &z, &r);
    ASSERT_EQ(text(r), text(of(a + b))) << a << " + " << b;
    sub_ddd(&env, &x, &z, &r);
    ASSERT_EQ(text(r), text(of(a - b))) << a << " - " << b;
    ASSERT_EQ(st.fd_overflow, 0);
    ASSERT_EQ(cmp_dd(&x, &z), a < b ? -1 : a > b ? 1 : 0) << a << " <=> " << b;
    std::int64_t fl = a / y, ce = a / y;
    if (a % y != 0 && ((a < 0) != (y < 0)))
      fl--;
    if (a % y != 0 && ((a < 0) == (y < 0)))
      ce++;
    div_dldf(&env, &x, y, &r);
    ASSERT_EQ(text(r), text(of(fl))) << a << " floor/ " << y;
    div_dldc(&env, &x, y, &r);
    ASSERT_EQ(text(r), text(of(ce))) << a << " ceiling/ " << y;
    const std::uint32_t uy = static_cast<std::uint32_t>(y < 0 ? -static_cast<std::int64_t>(y) : y);
    std::int64_t m = a % static_cast<std::int64_t>(uy);
    if (m < 0)
      m += uy;
    ASSERT_EQ(mod_duu(&x, uy), static_cast<std::uint32_t>(m)) << a << " mod " << uy;
  }
}

// solve_gcd(a, b, m): the least x in 0..m-1 with a*x ≡ b (mod m), for
// coprime a and m.
TEST(SolveGcd, AgreesWithSearch)
{
  for (long long m = 2; m <= 40; m++)
    for (long long a = 1; a < m; a++) {
      long long g = m, r = a;
      while (r != 0) {
        const long long t = g % r;
        g = r;
        r = t;
      }
      if (g != 1)
        continue;
      for (long long b = 0; b < m; b++) {
        long long x = 0;
        while ((a * x - b) % m != 0)
          x++;
        ASSERT_EQ(solve_gcd(a, b, m), x) << a << "x = " << b << " mod " << m;
      }
    }
}

} // namespace
