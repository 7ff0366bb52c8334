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

TEST_F(Config, BooleansAcceptYesNoTrueFalseInAnyCase)
{
  struct { const char *value; int dflt, want; } cases[] = {
    {nullptr, -1, -1}, {nullptr, 1, 1},
    {"yes", -1, 1}, {"YES", -1, 1}, {"True", -1, 1}, {"true", 0, 1},
    {"no", -1, 0}, {"No", 1, 0}, {"FALSE", -1, 0}, {"false", 1, 0},
    {"", -1, -1}, {"1", -1, -1}, {"y", -1, -1}, {"yes ", -1, -1}, {"maybe", 0, 0},
  };
  for (auto &c : cases) {
    set(c.value);
    EXPECT_EQ(get_boolean(VAR, c.dflt), c.want) << "value '" << (c.value ? c.value : "(unset)") << "'";
  }
}

TEST_F(Config, SizesAreDecimalWithOptionalSuffix)
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
    {"", 7, 0, 7},                // malformed values give the default
    {"K", 7, 0, 7},
    {"-5", 7, 0, 7},
    {"12KB", 7, 0, 7},
    {"12k", 7, 0, 7},
    {"12 x", 7, 0, 7},
    {"0x10", 7, 0, 7},
    {"100", 1, 16384, 16384},     // never below the minimum
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
