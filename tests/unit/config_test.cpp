// Readers of boolean and size settings from the environment.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "config.h"

namespace {

constexpr const char *VAR = "TRELIX_CONFIG_TEST_SETTING";

class Config : public ::testing::Test {
protected:
  void TearDown() override { unsetenv(VAR); }
  void set(const char *v) { v ? setenv(VAR, v, 1) : unsetenv(VAR); }
};

TEST_F(Config, BooleansAreYesOrNoInAnyCase)
{
  struct { const char *value; int dflt, want; } cases[] = {
    {nullptr, -1, -1}, {nullptr, 1, 1},
    {"yes", -1, 1}, {"YES", -1, 1}, {"yEs", 0, 1},
    {"no", -1, 0}, {"No", 1, 0}, {"NO", 1, 0},
    // Anything else gives the default: true and false are not settings.
    {"True", -1, -1}, {"false", 1, 1},
    {"", -1, -1}, {"1", -1, -1}, {"y", -1, -1}, {"yes ", -1, -1}, {"no ", 1, 1}, {"maybe", 0, 0},
  };
  for (auto &c : cases) {
    set(c.value);
    EXPECT_EQ(get_boolean(VAR, c.dflt), c.want) << "value '" << (c.value ? c.value : "(unset)") << "'";
  }
}

TEST(StrToBoolean, ExactlyYesOrNo)
{
  struct { const char *text; int result, value; } cases[] = {
    {"Yes", 0, 1}, {"yes", 0, 1}, {"nO", 0, 0},
    {"no ", STR_TO_BOOLEAN_ERROR, -1}, {" no", STR_TO_BOOLEAN_ERROR, -1},
    {"true", STR_TO_BOOLEAN_ERROR, -1}, {"", STR_TO_BOOLEAN_ERROR, -1}, {"ye", STR_TO_BOOLEAN_ERROR, -1},
  };
  for (auto &c : cases) {
    int value = -1;
    EXPECT_EQ(str_to_boolean(c.text, &value), c.result) << "'" << c.text << "'";
    EXPECT_EQ(value, c.value) << "'" << c.text << "'";
  }
}

TEST(StrToSize, DigitsThenAnOptionalUnitThenAnything)
{
  constexpr unsigned untouched = 77;
  struct { const char *text; int result; unsigned size; } cases[] = {
    {" \t10K \t", 0, 10240},            // blanks and tabs around
    {"10 k", 0, 10240},                  // either case, blanks before the unit
    {"3G", 0, 3221225472u},
    {"4G", STR_TO_SIZE_ERROR, untouched},
    {"4095M", 0, 4095u << 20},
    {"4096m", STR_TO_SIZE_ERROR, untouched},
    {"4194303K", 0, 4194303u << 10},
    {"4194304K", STR_TO_SIZE_ERROR, untouched},
    {"4294967295", 0, 4294967295u},
    {"4294967296", STR_TO_SIZE_ERROR, untouched},
    {"99999999999999999999", STR_TO_SIZE_ERROR, untouched},
    {"12x", 0, 12},                      // other text after the number is ignored
    {"12KB", 0, 12288},                  // and after the unit
    {"", 0, 0},                          // no digits: 0
    {"K", 0, 0},
    {"-5", 0, 0},
    {"0x10", 0, 0},
  };
  for (auto &c : cases) {
    unsigned size = untouched;
    EXPECT_EQ(str_to_size(c.text, &size), c.result) << "'" << c.text << "'";
    EXPECT_EQ(size, c.size) << "'" << c.text << "'";
  }
}

TEST_F(Config, SizesAreParsedAsStrToSizeAndNeverBelowTheMinimum)
{
  struct { const char *value; unsigned dflt, minimum, want; } cases[] = {
    {nullptr, 16384, 0, 16384},
    {"65536", 1, 0, 65536},
    {"64K", 1, 0, 65536},
    {"3M", 1, 0, 3u << 20},
    {"2G", 1, 0, 2u << 30},
    {"3G", 1, 0, 3u << 30},
    {"  12", 1, 0, 12},           // blanks before the number
    {"12 K", 1, 0, 12 << 10},     // and before the suffix
    {"12\tM", 1, 0, 12 << 20},
    {"4294967295", 1, 0, 4294967295u},
    {"4294967296", 7, 0, 7},      // overflow gives the default
    {"4G", 7, 0, 7},
    {"99999999999999999999", 7, 0, 7},
    {"4194304K", 7, 0, 7},
    {"", 7, 0, 0},                // no digits read as 0
    {"K", 7, 0, 0},
    {"-5", 7, 0, 0},
    {"12KB", 7, 0, 12 << 10},     // text after the unit is ignored
    {"12k", 7, 0, 12 << 10},
    {"12 x", 7, 0, 12},
    {"0x10", 7, 0, 0},
    {"100", 1, 16384, 16384},     // never below the minimum
    {"", 1, 16384, 16384},
    {nullptr, 10, 16384, 16384},  // not even by default
    {"3G", 1, 16384, 3u << 30},   // unsigned comparison
  };
  for (auto &c : cases) {
    set(c.value);
    EXPECT_EQ(get_stack_size(VAR, c.dflt, c.minimum), c.want) << "value '" << (c.value ? c.value : "(unset)") << "'";
  }
}

TEST_F(Config, OverlongValuesCountAsAbsent)
{
  std::string digits(CONFIG_VALUE_MAX, '0');
  digits.back() = '5';
  set(digits.c_str());
  EXPECT_EQ(get_stack_size(VAR, 7, 0), 5u) << "a value of exactly the limit is read";
  digits.insert(0, "0");
  set(digits.c_str());
  EXPECT_EQ(get_stack_size(VAR, 7, 0), 7u);
  char buf[CONFIG_VALUE_MAX + 1];
  EXPECT_EQ(config_lookup(VAR, buf), nullptr);
}

}  // namespace
