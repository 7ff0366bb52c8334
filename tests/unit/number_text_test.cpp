// Number text to terms and back: prefixes, signs and layout, the
// small/boxed boundary, big integers, floats, malformed texts, printing in
// every base, float printing that reads back, and the special float texts.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "atoms.h"
#include "memman.h"
#include "number_text.h"
#include "terms.h"
#include "worker.h"

namespace {

class NumberTextTest : public ::testing::Test {
protected:
  static constexpr int HEAP_WORDS = 4096;
  TAGGED heap[HEAP_WORDS];
  worker saved{};
  void SetUp() override
  {
    ASSERT_EQ(memman_init(), 0);
    saved = *self;
    self->heap_start = self->global_top = heap;
    self->stack_start = heap + HEAP_WORDS;
  }
  void TearDown() override
  {
    *self = saved;
    atom_buffer_remove();
    memman_deinit();
  }
  // What a text parses to, as one comparable string.
  std::string parse(const char *text, int radix = 10)
  {
    TAGGED t = vr_string_to_number(text, radix, 0, 0);
    if (t == 0)
      return "none";
    if (IsSmall(t))
      return "small " + std::to_string(GetSmall(t));
    if (!IsStructure(t))
      return "bad word";
    const TAGGED *box = TagToSTR(t);
    if (box[BoxWords(box[0])] != box[0])
      return "box without trailer";
    if (BoxIsFloat(box[0])) {
      char buf[40];
      std::snprintf(buf, sizeof buf, "float %.17g", vri_get_float(t));
      return buf;
    }
    return std::string("big ") + vr_number_to_string(t, 10, 0);
  }
};

} // namespace

TEST_F(NumberTextTest, ParseTable)
{
  struct { const char *text; int radix; const char *result; } cases[] = {
      // layout and signs
      {"  -  12", 10, "small -12"}, {"+7", 10, "small 7"}, {"\t\n42", 10, "small 42"},
      {"12 ", 10, "none"}, {"", 10, "none"}, {"   ", 10, "none"}, {"-", 10, "none"},
      {"+-1", 10, "none"}, {"1 2", 10, "none"},
      // prefixes
      {"0x1F", 10, "small 31"}, {"-0x1F", 10, "small -31"}, {"0b101", 10, "small 5"},
      {"0o17", 10, "small 15"}, {"0x", 10, "none"}, {"0b2", 10, "none"}, {"0X1F", 10, "none"},
      {"0xfF", 10, "small 255"}, {"0o8", 10, "none"}, {"007", 10, "small 7"},
      // character codes
      {"0'a", 10, "small 97"}, {"0'''", 10, "small 39"}, {"0' ", 10, "small 32"},
      {"-0'a", 10, "small -97"}, {"0''", 10, "none"}, {"0'ab", 10, "none"}, {"0'", 10, "none"},
      {"0'\xC3\xA9", 10, "none"},  // takes two bytes
      {"0'\t", 10, "none"},        // layout other than space
      // small/boxed boundary
      {"268435455", 10, "small 268435455"}, {"268435456", 10, "big 268435456"},
      {"-268435456", 10, "small -268435456"}, {"-268435457", 10, "big -268435457"},
      {"123456789", 10, "small 123456789"}, {"99999999", 10, "small 99999999"},
      {"0000000000000000000001", 10, "small 1"},
      {"2147483648", 10, "big 2147483648"}, {"-2147483648", 10, "big -2147483648"},
      {"18446744073709551616", 10, "big 18446744073709551616"},
      {"-123456789012345678901234567890", 10, "big -123456789012345678901234567890"},
      {"0x10000000", 10, "big 268435456"}, {"0xFFFFFFFFFFFFFFFF", 10, "big 18446744073709551615"},
      // other radixes
      {"ff", 16, "small 255"}, {"FF", 16, "small 255"}, {"0x10", 16, "none"}, {"z", 36, "small 35"},
      {"-101", 2, "small -5"}, {"2", 2, "none"}, {"10", 37, "none"}, {"1", 1, "none"},
      {"1.5", 16, "none"}, {"0b1", 16, "small 177"},
      // floats
      {"1.5e3", 10, "float 1500"}, {"-2.5", 10, "float -2.5"}, {"0.1", 10, "float 0.10000000000000001"},
      {"1.0E-2", 10, "float 0.01"}, {"1.0e+2", 10, "float 100"}, {"1e10", 10, "none"},
      {"1.", 10, "none"}, {"1.5e+", 10, "none"}, {"1.5e", 10, "none"}, {".5", 10, "none"},
      {"1.5 ", 10, "none"}, {"1.5x", 10, "none"}, {"0x1.5", 10, "none"},
      {"1.0e400", 10, "float inf"}, {"-0.0", 10, "float -0"},
      {"inf", 10, "none"}, {"nan", 10, "none"}, {"+inf", 10, "none"},
  };
  for (auto c : cases)
    EXPECT_EQ(parse(c.text, c.radix), c.result) << "text \"" << c.text << "\" in radix " << c.radix;
}

TEST_F(NumberTextTest, SmallResultsUseNoHeapAndBoxesAreCommitted)
{
  TAGGED *top = self->global_top;
  EXPECT_NE(vr_string_to_number("123456789012", 10, 0, 0), 0u);
  EXPECT_EQ(self->global_top, top + 4) << "two digits, header and trailer";
  top = self->global_top;
  EXPECT_NE(vr_string_to_number("123456789", 10, 0, 0), 0u);
  EXPECT_NE(vr_string_to_number("0x7", 10, 0, 0), 0u);
  EXPECT_EQ(self->global_top, top) << "a small result leaves the heap alone";
  EXPECT_NE(vr_string_to_number("2.0", 10, 0, 0), 0u);
  EXPECT_EQ(self->global_top, top + 4);
}

TEST_F(NumberTextTest, IntegerTextRoundTripInEveryBase)
{
  const char *values[] = {"0", "1", "-1", "35", "268435455", "268435456", "-268435457", "2147483647",
                          "-2147483648", "4294967296", "-18446744073709551616",
                          "123456789012345678901234567890123"};
  for (const char *v : values) {
    TAGGED t = vr_string_to_number(v, 10, 0, 0);
    ASSERT_NE(t, 0u) << v;
    for (int base = 2; base <= 36; ++base) {
      for (int b : {base, -base}) {
        const char *s = vr_number_to_string(t, b, 0);
        ASSERT_NE(s, nullptr) << v << " in base " << b;
        std::string text = s;
        for (char ch : text)
          if (std::isalpha(static_cast<unsigned char>(ch))) {
            ASSERT_EQ(std::isupper(static_cast<unsigned char>(ch)) != 0, b < 0)
                << "letter case of " << text << " in base " << b;
          }
        TAGGED back = vr_string_to_number(text.c_str(), base, 0, 0);
        ASSERT_NE(back, 0u) << "text " << text << " of " << v << " in base " << b;
        EXPECT_STREQ(vr_number_to_string(back, 10, 0), v) << "via base " << b << " text " << text;
      }
    }
  }
  struct { const char *value; int base; const char *text; } fixed[] = {
      {"255", 16, "ff"}, {"255", -16, "FF"}, {"-255", 16, "-ff"}, {"5", 2, "101"},
      {"1095216660480", 16, "ff00000000"}, {"1095216660480", -16, "FF00000000"},
      {"35", 36, "z"}, {"-268435456", 10, "-268435456"},
  };
  for (auto f : fixed)
    EXPECT_STREQ(vr_number_to_string(vr_string_to_number(f.value, 10, 0, 0), f.base, 0), f.text)
        << f.value << " in base " << f.base;
}

TEST_F(NumberTextTest, BadBaseOrTermGivesNoText)
{
  TAGGED t = MakeSmall_checked(10);
  for (int base : {0, 1, -1, 37, -37})
    EXPECT_EQ(vr_number_to_string(t, base, 0), nullptr) << "base " << base;
  EXPECT_EQ(vr_number_to_string(MakeAtom(3), 10, 0), nullptr);
  char buf[40] = "untouched";
  EXPECT_EQ(vr_ltostr(5, 1, buf), nullptr);
  EXPECT_EQ(vr_ltostr(5, 0, buf), nullptr);
  EXPECT_STREQ(buf, "untouched");
}

TEST_F(NumberTextTest, LtostrTable)
{
  struct { VR_INTEGER v; int base; const char *text; } cases[] = {
      {-255, -16, "-FF"}, {-255, 16, "-ff"}, {0, 10, "0"}, {0, 2, "0"},
      {-2147483647 - 1, 10, "-2147483648"},  // no positive twin in 32 bits
      {-2147483647 - 1, 2, "-10000000000000000000000000000000"},
      {2147483647, 36, "zik0zj"}, {2147483647, -36, "ZIK0ZJ"}, {7, 8, "7"}, {8, 8, "10"},
  };
  for (auto c : cases) {
    char buf[40];
    EXPECT_STREQ(vr_ltostr(c.v, c.base, buf), c.text) << c.v << " in base " << c.base;
  }
}

TEST_F(NumberTextTest, FloatTextReadsBack)
{
  double values[] = {0.1, 1.0 / 3, 100.0, 12345.0, 1.0e10, 1.0e-5, 5e-324, 1.7976931348623157e308,
                     -2.5, 123456789.125, 1e22, 0.0, -0.0};
  for (double d : values) {
    TAGGED t = make_float(self, d);
    std::string text = vr_number_to_string(t, 10, 0);
    TAGGED back = vr_string_to_number(text.c_str(), 10, 0, 0);
    ASSERT_NE(back, 0u) << "text " << text << " of " << d << " is not a number";
    double e = vri_get_float(back);
    std::uint64_t a, b;
    std::memcpy(&a, &d, 8);
    std::memcpy(&b, &e, 8);
    EXPECT_EQ(a, b) << d << " printed as " << text << " read back as " << e;
  }
  struct { double d; const char *text; } shown[] = {
      {0.1, "0.1"}, {100.0, "100.0"}, {12345.0, "12345.0"}, {1.0e10, "1.0E+10"},
      {1.0e-5, "1.0E-05"}, {-2.5, "-2.5"}, {1e100, "1.0E+100"},
      {HUGE_VAL, "+inf"}, {-HUGE_VAL, "-inf"},
  };
  for (auto s : shown)
    EXPECT_STREQ(vr_number_to_string(make_float(self, s.d), 10, 0), s.text) << s.d;
  EXPECT_STREQ(vr_number_to_string(make_float(self, std::nan("")), 10, 0), "+nan");
}

TEST_F(NumberTextTest, IeeeAtofSpecialTexts)
{
  struct { const char *text; int special; std::uint64_t bits; } cases[] = {
      {"+inf", 1, 0x7FF0000000000000ull}, {"-inf", 1, 0xFFF0000000000000ull},
      {"+nan", 1, 0xFFF8000000000000ull}, {"-nan", 1, 0x7FF8000000000000ull},
      {"inf", 0, 0}, {"1.5", 0, 0x3FF8000000000000ull}, {"-1.5", 0, 0xBFF8000000000000ull},
      {"-0.0", 0, 0x8000000000000000ull}, {"+inf ", 0, 0},
  };
  for (auto c : cases) {
    int special = -1;
    double d = ieee_atof(c.text, &special);
    std::uint64_t bits;
    std::memcpy(&bits, &d, 8);
    EXPECT_EQ(special, c.special) << c.text;
    EXPECT_EQ(bits, c.bits) << c.text << " gave " << d;
  }
}
