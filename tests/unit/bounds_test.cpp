// Bound arithmetic: tables of the cases at the 32-bit and small-integer
// limits and with inf and sup, and a sweep over operands near the limits
// against exact 64-bit reference values.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bounds.h"

namespace {

TAGGED S(long long v) { return MakeSmall_checked(static_cast<VR_INTEGER>(v)); }
constexpr long long MIN = SMALL_MIN, MAX = SMALL_MAX;

std::string show(TAGGED t)
{
  if (t == atom_inf)
    return "inf";
  if (t == atom_sup)
    return "sup";
  if (t == FD_UNDEFINED)
    return "undefined";
  return std::to_string(GetSmall(t));
}

// The reference: an exact value, saturated.
TAGGED ref_saturate(long long v) { return v < MIN ? atom_inf : v > MAX ? atom_sup : S(v); }
long long floor_div(long long a, long long b)
{
  long long q = a / b;
  if (a % b != 0 && ((a < 0) != (b < 0)))
    q--;
  return q;
}
long long ceil_div(long long a, long long b) { return -floor_div(-a, b); }

const std::vector<long long> near_limits = {MIN, MIN + 1, -32769, -32768, -16384, -7, -2, -1, 0, 1, 2, 7,
                                            16384, 32767, 32768, MAX - 1, MAX};

struct row {
  TAGGED (*op)(TAGGED, TAGGED);
  const char *name;
  TAGGED a, b, want;
};

TEST(Bounds, EdgeCases)
{
  const TAGGED inf = atom_inf, sup = atom_sup;
  const row rows[] = {
      {fd_safe_plus, "plus", S(MAX), S(1), sup},
      {fd_safe_plus, "plus", S(MIN), S(-1), inf},
      {fd_safe_plus, "plus", inf, sup, inf}, // the first infinity wins
      {fd_safe_plus, "plus", sup, inf, sup},
      {fd_safe_plus, "plus", S(3), inf, inf},
      {fd_safe_plus, "plus", S(MAX), S(MIN), S(-1)},
      {fd_safe_minus, "minus", S(5), inf, sup},
      {fd_safe_minus, "minus", S(5), sup, inf},
      {fd_safe_minus, "minus", S(MIN), S(1), inf},
      {fd_safe_minus, "minus", S(0), S(MIN), sup},
      {fd_safe_minus, "minus", S(-1), S(MIN), S(MAX)},
      {fd_safe_minus, "minus", sup, sup, sup},
      {fd_safe_mul, "mul", S(0), sup, FD_UNDEFINED},
      {fd_safe_mul, "mul", inf, S(0), FD_UNDEFINED},
      {fd_safe_mul, "mul", S(-3), sup, inf},
      {fd_safe_mul, "mul", S(-3), inf, sup},
      {fd_safe_mul, "mul", inf, inf, sup},
      {fd_safe_mul, "mul", inf, sup, inf},
      {fd_safe_mul, "mul", S(16384), S(16384), sup}, // 2^28 is one beyond
      {fd_safe_mul, "mul", S(16384), S(-16384), S(MIN)},
      {fd_safe_mul, "mul", S(65536), S(65536), sup}, // 2^32 wraps 32 bits
      {fd_safe_mul, "mul", S(MIN), S(-1), sup},
      {fd_safe_mul, "mul", S(MIN), S(MIN), sup},
      {fd_safe_divu, "divu", S(7), S(2), S(4)},
      {fd_safe_divu, "divu", S(-7), S(2), S(-3)},
      {fd_safe_divu, "divu", S(-7), S(-2), S(4)},
      {fd_safe_divu, "divu", S(7), S(-2), S(-3)},
      {fd_safe_divd, "divd", S(7), S(2), S(3)},
      {fd_safe_divd, "divd", S(-7), S(2), S(-4)},
      {fd_safe_divd, "divd", S(7), S(-2), S(-4)},
      {fd_safe_divd, "divd", S(-7), S(-2), S(3)},
      {fd_safe_divu, "divu", S(5), sup, S(1)},
      {fd_safe_divu, "divu", S(5), inf, S(0)},
      {fd_safe_divu, "divu", S(-5), inf, S(1)},
      {fd_safe_divd, "divd", S(5), sup, S(0)},
      {fd_safe_divd, "divd", S(5), inf, S(-1)},
      {fd_safe_divd, "divd", S(-5), sup, S(-1)},
      {fd_safe_divd, "divd", S(0), sup, S(0)},
      {fd_safe_divd, "divd", S(0), S(0), FD_UNDEFINED},
      {fd_safe_divd, "divd", S(3), S(0), sup},
      {fd_safe_divd, "divd", S(-3), S(0), inf},
      {fd_safe_divu, "divu", S(0), S(-4), S(0)},
      {fd_safe_divu, "divu", inf, S(2), inf},
      {fd_safe_divu, "divu", inf, S(-2), sup},
      {fd_safe_divu, "divu", sup, S(-2), inf},
      {fd_safe_divu, "divu", sup, S(0), sup}, // a zero divisor counts as positive
      {fd_safe_divd, "divd", inf, S(0), inf},
      {fd_safe_divd, "divd", sup, inf, FD_UNDEFINED},
      // -2^28 / -1 = 2^28 is no small integer: it saturates, where a
      // plain tagging would wrap it round to -2^28.
      {fd_safe_divu, "divu", S(MIN), S(-1), sup},
      {fd_safe_divd, "divd", S(MIN), S(-1), sup},
      {fd_safe_min, "min", inf, S(MIN), inf},
      {fd_safe_min, "min", S(MAX), sup, S(MAX)},
      {fd_safe_min, "min", S(-4), S(3), S(-4)},
      {fd_safe_max, "max", S(MAX), sup, sup},
      {fd_safe_max, "max", inf, S(MIN), S(MIN)},
      {fd_safe_max, "max", S(-4), S(3), S(3)},
  };
  for (const row &r : rows)
    EXPECT_EQ(show(r.op(r.a, r.b)), show(r.want)) << r.name << "(" << show(r.a) << ", " << show(r.b) << ")";

  EXPECT_EQ(show(fd_safe_negate(S(MIN))), "sup");
  EXPECT_EQ(show(fd_safe_negate(S(MAX))), show(S(-MAX)));
  EXPECT_EQ(show(fd_safe_negate(atom_inf)), "sup");
  EXPECT_EQ(show(fd_safe_negate(atom_sup)), "inf");
  EXPECT_EQ(show(fd_safe_negate_val(S(-5))), "5");
}

// Every pair of operands near the limits against the exact results.
TEST(Bounds, SweepNearTheLimitsAgainstExactValues)
{
  for (long long x : near_limits)
    for (long long y : near_limits) {
      const std::string args = "(" + std::to_string(x) + ", " + std::to_string(y) + ")";
      EXPECT_EQ(show(fd_safe_plus(S(x), S(y))), show(ref_saturate(x + y))) << "plus" << args;
      EXPECT_EQ(show(fd_safe_minus(S(x), S(y))), show(ref_saturate(x - y))) << "minus" << args;
      EXPECT_EQ(show(fd_safe_mul(S(x), S(y))), show(ref_saturate(x * y))) << "mul" << args;
      EXPECT_EQ(show(fd_safe_mul_val(S(x), S(y))), show(ref_saturate(x * y))) << "mul_val" << args;
      if (y != 0) {
        EXPECT_EQ(show(fd_safe_divu(S(x), S(y))), show(ref_saturate(ceil_div(x, y)))) << "divu" << args;
        EXPECT_EQ(show(fd_safe_divd(S(x), S(y))), show(ref_saturate(floor_div(x, y)))) << "divd" << args;
      }
      EXPECT_EQ(show(fd_safe_min(S(x), S(y))), show(S(x < y ? x : y))) << "min" << args;
      EXPECT_EQ(show(fd_safe_max(S(x), S(y))), show(S(x > y ? x : y))) << "max" << args;
    }
  // Rounding both ways for every sign combination of small operands.
  for (long long x = -13; x <= 13; x++)
    for (long long y = -5; y <= 5; y++) {
      if (y == 0)
        continue;
      EXPECT_EQ(show(fd_safe_divu(S(x), S(y))), show(S(ceil_div(x, y)))) << x << " / " << y;
      EXPECT_EQ(show(fd_safe_divd(S(x), S(y))), show(S(floor_div(x, y)))) << x << " / " << y;
    }
}

TEST(Bounds, FloorModulo)
{
  struct mrow {
    long a, b, want;
  };
  const mrow rows[] = {{-7, 3, 2},  {7, -3, -2}, {-6, 3, 0},  {7, 3, 1}, {-7, -3, -1}, {0, 5, 0},
                       // the one quotient that traps in 32 bits
                       {-2147483647L - 1, -1, 0}, {-2147483647L - 1, 2147483647L, 2147483646L}};
  for (const mrow &r : rows)
    EXPECT_EQ(fast_modi(r.a, r.b), r.want) << r.a << " mod " << r.b;
}

} // namespace
