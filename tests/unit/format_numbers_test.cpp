// Float layout of format's directives against the C library's printf for
// a table of values and precisions (the digits are correctly rounded both
// ways, so they must agree exactly), the shortest texts that read back,
// and the special values.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "atoms.h"
#include "float_conv.h"
#include "format_numbers.h"
#include "memman.h"

namespace {

class FormatNumbers : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_EQ(memman_init(), 0); }
  void TearDown() override
  {
    atom_buffer_remove();
    memman_deinit();
  }
  static std::string ours(int letter, int n, double v) { return format_float(letter, n, v); }
  static std::string printf_text(const char *conversion, int n, double v)
  {
    char fmt[16];
    std::snprintf(fmt, sizeof fmt, "%%.%d%s", n, conversion);
    std::vector<char> buf(2048);
    std::snprintf(buf.data(), buf.size(), fmt, v);
    return buf.data();
  }
};

const double values[] = {
    0.0, -0.0, 1.0, -1.0, 0.5, 2.5, 3.5, -2.5, 0.125, 1.005, 0.1, 0.2, 0.3, 2.0 / 3.0, 3.14159265358979,
    -2.5e-7, 1e-10, 1.5e-300, 5e-324, 9.9999999, 0.95, 0.05, 99.5, 123456.789, 1234567.0, 1e15, 1e16,
    1e20, 1e22, 1e23, 4.35e100, 1e300, 1.7976931348623157e308, 2.2250738585072014e-308, 8.5, 0.45,
};
const int precisions[] = {1, 2, 3, 4, 5, 6, 7, 9, 10, 12, 15, 16, 17, 20, 30};

// ~Nf is printf's %.Nf for every N of at least 1 (for 0 the directive keeps
// one fraction digit: "4.0" where printf gives "4").
TEST_F(FormatNumbers, FixedMatchesPrintf)
{
  for (double v : values)
    for (int n : precisions)
      EXPECT_EQ(ours('f', n, v), printf_text("f", n, v)) << "~" << n << "f of " << v;
  EXPECT_EQ(ours('f', 0, 3.7), "4.0");
  EXPECT_EQ(ours('f', 0, 0.4), "0.0");
}

// ~Ne is printf's %.Ne, ~NE printf's %.NE (for N of at least 1).
TEST_F(FormatNumbers, ExponentialMatchesPrintf)
{
  for (double v : values)
    for (int n : precisions) {
      EXPECT_EQ(ours('e', n, v), printf_text("e", n, v)) << "~" << n << "e of " << v;
      EXPECT_EQ(ours('E', n, v), printf_text("E", n, v)) << "~" << n << "E of " << v;
    }
  EXPECT_EQ(ours('e', 0, 3.7), "4.0e+00");
  EXPECT_EQ(ours('e', -1, 3.7), "4.0e+00");
}

// ~Ng chooses fixed or exponential notation as printf's %.Ng does and has
// the same digits; printf drops a point with nothing after it, which the
// directive writes as ".0" so that the text reads back as a float.
TEST_F(FormatNumbers, GeneralMatchesPrintfUpToTheTrailingPoint)
{
  auto with_point = [](std::string s) {
    const std::size_t e = s.find_first_of("eE");
    std::string mantissa = e == std::string::npos ? s : s.substr(0, e);
    if (mantissa.find('.') == std::string::npos && mantissa.find("inf") == std::string::npos)
      mantissa += ".0";
    return mantissa + (e == std::string::npos ? std::string() : s.substr(e));
  };
  for (double v : values)
    for (int n : precisions)
      EXPECT_EQ(ours('g', n, v), with_point(printf_text("g", n, v))) << "~" << n << "g of " << v;
}

// Without an argument ~h, and with the writer's H and 3, give the shortest
// digits that read back as the same double.
TEST_F(FormatNumbers, ShortestTextsReadBack)
{
  std::uint64_t x = 88172645463325252ull;
  for (int i = 0; i < 20000; ++i) {
    x ^= x << 13, x ^= x >> 7, x ^= x << 17;
    double v;
    std::memcpy(&v, &x, sizeof v);
    if (!std::isfinite(v))
      continue;
    for (int letter : {'h', 'H'}) {
      const std::string text = ours(letter, letter == 'h' ? -1 : 3, v);
      ASSERT_EQ(vr_strtod(text.c_str(), nullptr), v) << text;
      ASSERT_NE(text.find('.'), std::string::npos) << text;
    }
  }
}

TEST_F(FormatNumbers, WriterLayoutAndSpecialValues)
{
  struct {
    int letter, n;
    double v;
    const char *want;
  } cases[] = {
      {'H', 3, 0.1, "0.1"},
      {'H', 3, 100.0, "100.0"},
      {'H', 3, 12345.0, "12345.0"},
      {'H', 3, 1.0e10, "1.0E+10"},
      {'H', 3, 1.0e-5, "1.0E-05"},
      {'H', 3, -0.0, "-0.0"},
      {'h', -1, 0.1, "1.0e-01"},
      {'h', 3, 0.1, "0.1"},
      {'g', 6, 12345.678, "12345.7"},
      {'g', 6, 0.00001, "1.0e-05"},
      {'e', 3, 12345.678, "1.235e+04"},
      {'e', 1, 1e100, "1.0e+100"},
      {'f', 2, std::numeric_limits<double>::infinity(), "+inf"},
      {'e', 2, -std::numeric_limits<double>::infinity(), "-inf"},
      {'H', 3, std::numeric_limits<double>::quiet_NaN(), "+nan"},
      {'g', 3, -std::numeric_limits<double>::quiet_NaN(), "+nan"},
  };
  for (const auto &c : cases)
    EXPECT_EQ(ours(c.letter, c.n, c.v), c.want) << static_cast<char>(c.letter) << " " << c.n << " " << c.v;
}

// A digit count beyond the limit is clamped, not allocated.
TEST_F(FormatNumbers, HugeDigitCountsAreClamped)
{
  const std::string text = ours('f', 1 << 30, 1.5);
  EXPECT_EQ(text.size(), static_cast<std::size_t>(FORMAT_MAX_DIGITS) + 2);
  EXPECT_EQ(text.substr(0, 4), "1.50");
}

} // namespace
