// System properties and initialisation options of the I/O library: where a
// value comes from, how booleans and sizes read, compact environments and
// their merging, and the process-environment snapshot.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "vostrel/vrio.h"
#include "vrio_fixture.h"

extern char **environ;

namespace {

std::string property(const char *key, vrio_t_bits flags = 0)
{
  char buf[200];
  size_t size = sizeof buf;
  vrio_t_error_code rc = vrio_get_system_property(key, buf, &size, flags);
  return rc < 0 ? std::string("<") + vrio_error_name(rc) + ">" : std::string(buf);
}

vrio_t_init_option prop(const char *key, const char *value)
{
  vrio_t_init_option o{};
  o.type = VRIO_INIT_OPTION_TYPE_SYSTEM_PROPERTY;
  o.u.prop = {key, value};
  return o;
}

// Entries of a compact environment as "key=value" strings, in order.
std::vector<std::string> entries(char *const *env)
{
  std::vector<std::string> out;
  for (; *env != nullptr; ++env)
    out.push_back(std::string(*env) + "=" + (*env + std::strlen(*env) + 1));
  return out;
}

using strings = std::vector<std::string>;

TEST(VrioProps, BooleansReadFourWordsInEitherCase)
{
  const struct { const char *value; int expected; } cases[] = {
      {"Yes", 1},  {"yEs", 1},  {"TRUE", 1}, {"no", 0},   {"False", 0}, {"fAlSe", 0},
      {"0", -1},   {"", -1},    {"y", -1},   {"on", -1},  {" yes", -1}, {"yes ", -1},
      {"yess", -1}, {"truE", 1},
  };
  for (auto c : cases) {
    setenv("VRIO_TEST_BOOL", c.value, 1);
    EXPECT_EQ(vrio_get_boolean_system_property("VRIO_TEST_BOOL", -1), c.expected)
        << '"' << c.value << '"';
  }
  unsetenv("VRIO_TEST_BOOL");
  EXPECT_EQ(vrio_get_boolean_system_property("VRIO_TEST_BOOL", -1), -1);
  EXPECT_EQ(vrio_get_boolean_system_property("VRIO_TEST_BOOL", 7), 7);
  setenv("VRIO_TEST_BOOL", std::string(150, 'y').c_str(), 1);
  EXPECT_EQ(vrio_get_boolean_system_property("VRIO_TEST_BOOL", -1), -1) << "too long";
}

TEST(VrioProps, SizesReadWithSuffixes)
{
  const struct { const char *value; int32_t expected; } cases[] = {
      {"64K", 65536},        {" 2 M", 2097152},      {"-3", -3},          {"-12", -12},
      {"1G", 1073741824},    {"2G", 99},             {"3000000000", 99},  {"12abc", 12},
      {"abc", 0},            {"2147483647", 2147483647}, {"-2147483648", INT32_MIN},
      {"2147483648", 99},    {"2097151k", 2147482624}, {"2097152K", 99}, {"2047m", 2146435072},
      {"2048M", 99},         {"- \t5", -5},          {"-1g", -1073741824}, {"7 Kilo", 7168},
      {"", 0},
  };
  for (auto c : cases) {
    setenv("VRIO_TEST_SIZE", c.value, 1);
    EXPECT_EQ(vrio_get_ssize_system_property("VRIO_TEST_SIZE", 99), c.expected)
        << '"' << c.value << '"';
  }
  setenv("VRIO_TEST_SIZE", std::string(150, '1').c_str(), 1);
  EXPECT_EQ(vrio_get_ssize_system_property("VRIO_TEST_SIZE", 99), 99) << "too long";
  unsetenv("VRIO_TEST_SIZE");
  EXPECT_EQ(vrio_get_ssize_system_property("VRIO_TEST_SIZE", 99), 99);
}

TEST(VrioProps, BufferTooSmallReportsTheSize)
{
  setenv("VRIO_TEST_VALUE", "twelve chars", 1);
  char buf[8] = "keep";
  size_t size = sizeof buf;
  EXPECT_EQ(vrio_get_system_property("VRIO_TEST_VALUE", buf, &size, 0), VRIO_E_INSUFFICIENT_BUFFER);
  EXPECT_EQ(size, 13u);
  EXPECT_STREQ(buf, "keep");
  size = 13;
  char fits[13];
  EXPECT_EQ(vrio_get_system_property("VRIO_TEST_VALUE", fits, &size, 0), VRIO_S_NOERR);
  EXPECT_STREQ(fits, "twelve chars");

  setenv("VRIO_TEST_VALUE", std::string(1000, 'v').c_str(), 1);
  char *value = vrio_get_system_property_allocate("VRIO_TEST_VALUE");
  ASSERT_NE(value, nullptr);
  EXPECT_EQ(std::string(value), std::string(1000, 'v'));
  vrio_free(value);
  EXPECT_EQ(vrio_get_system_property_allocate("VRIO_TEST_ABSENT"), nullptr);
}

TEST(VrioProps, BadInitialOptionsStopTheStart)
{
  vrio_t_init_option ok[2] = {prop("A", "1"), {}};
  ok[1].type = VRIO_INIT_OPTION_TYPE_NULL;
  vrio_t_init_option invalid[1] = {{}};
  vrio_t_init_option no_value[1] = {prop("A", nullptr)};
  const struct { vrio_t_init_options options; vrio_t_error_code expected; } cases[] = {
      {{2, 2, ok}, VRIO_E_VERSION_ERROR},
      {{0, 0, nullptr}, VRIO_E_VERSION_ERROR},
      {{1, 1, nullptr}, VRIO_E_PARAMETER_ERROR},
      {{1, 1, invalid}, VRIO_E_PARAMETER_ERROR},
      {{1, 1, no_value}, VRIO_E_PARAMETER_ERROR},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(vrio_init(nullptr, nullptr, &c.options, 0), c.expected);
    EXPECT_EQ(vrio_set_system_property("A", "x"), VRIO_E_NOT_FOUND) << "not started";
  }
  vrio_t_init_options good = {1, 2, ok};
  ASSERT_EQ(vrio_init(nullptr, nullptr, &good, 0), VRIO_S_NOERR);
  EXPECT_EQ(property("A"), "1");
  ASSERT_EQ(vrio_init(nullptr, nullptr, nullptr, 1), VRIO_S_NOERR);
}

TEST(VrioProps, InitialOptionsWinBeforeAndAfterInitialisation)
{
  setenv("VRIO_TEST_TIER", "from the environment", 1);
  setenv("VRIO_TEST_ENV_ONLY", "env", 1);
  vrio_t_init_option opts[3] = {prop("VRIO_TEST_TIER", "first option"),
                                prop("VRIO_TEST_TIER", "second option"),
                                prop("VRIO_DEFAULT_BUFITEMS", "0x20")};
  vrio_t_init_options options = {1, 3, opts};
  ASSERT_EQ(vrio_init(nullptr, nullptr, &options, 0), VRIO_S_NOERR);
  // The buffer module read its property during the start, from the options.
  vrio_t_buf *b = vrio_buf_alloc(nullptr, 0, 0);
  EXPECT_EQ(b->writable_size, 128u);
  vrio_buf_free(b);
  opts[1].u.prop.value = "changed after the start"; // never read again
  EXPECT_EQ(property("VRIO_TEST_TIER"), "second option");
  EXPECT_EQ(property("VRIO_TEST_ENV_ONLY"), "env");
  EXPECT_EQ(property("VRIO_TEST_TIER", VRIO_PROP_ONLY_PROCESS), "from the environment");
  EXPECT_EQ(property("VRIO_TEST_ENV_ONLY", VRIO_PROP_NOT_PROCESS), "<VRIO_E_NOT_FOUND>");

  ASSERT_EQ(vrio_set_system_property("VRIO_TEST_ENV_ONLY", "set"), VRIO_S_NOERR);
  EXPECT_EQ(property("VRIO_TEST_ENV_ONLY"), "set") << "hides the environment";
  ASSERT_EQ(vrio_set_system_property("VRIO_TEST_ENV_ONLY", "set again"), VRIO_S_NOERR);
  EXPECT_EQ(property("VRIO_TEST_ENV_ONLY"), "set again");

  setenv("VRIO_TEST_LATE", "too late", 1);
  EXPECT_EQ(property("VRIO_TEST_LATE"), "<VRIO_E_NOT_FOUND>") << "the snapshot is older";
  ASSERT_EQ(vrio_init(nullptr, nullptr, nullptr, 1), VRIO_S_NOERR);
  EXPECT_EQ(property("VRIO_TEST_LATE"), "too late") << "stopped: the live environment";
  EXPECT_EQ(property("VRIO_TEST_ENV_ONLY"), "env") << "set properties are gone";
  EXPECT_EQ(vrio_set_system_property("X", "y"), VRIO_E_NOT_FOUND);
}

TEST_F(VrioLibrary, CompactEnvironmentFromKeyValueStrings)
{
  const char *good[] = {"A=1", "B==2", "C=", nullptr};
  char **env;
  size_t size;
  ASSERT_EQ(vrio_make_compact_env(good, &env, &size, 1), VRIO_S_NOERR);
  EXPECT_EQ(entries(env), (strings{"A=1", "B==2", "C="}));
  EXPECT_EQ(size, 4 * sizeof(char *) + (1 + 1 + 2) + (1 + 2 + 2) + (1 + 0 + 2));
  vrio_free(env);

  const char *bad[][3] = {{"A=1", "=x", nullptr}, {"noequals", nullptr, nullptr}};
  for (auto &b : bad)
    EXPECT_EQ(vrio_make_compact_env(b, &env, &size, 1), VRIO_E_PARAMETER_ERROR) << b[0];

  char **empty;
  const char *none[] = {nullptr};
  ASSERT_EQ(vrio_make_compact_env(none, &empty, &size, 0), VRIO_S_NOERR);
  EXPECT_EQ(size, sizeof(char *));
  EXPECT_EQ(empty[0], nullptr);
  vrio_free(empty);
}

TEST_F(VrioLibrary, MergingCompactEnvironments)
{
  const char *first[] = {"A=1", "B=2", nullptr};
  const char *second[] = {"D=4", "B=3", nullptr};
  char **env1, **env2;
  size_t size1, size2;
  ASSERT_EQ(vrio_make_compact_env(first, &env1, &size1, 1), VRIO_S_NOERR);
  ASSERT_EQ(vrio_make_compact_env(second, &env2, &size2, 1), VRIO_S_NOERR);
  const struct { vrio_t_bits flags; strings expected; } cases[] = {
      {0, {"A=1", "B=2", "D=4"}},
      {2, {"A=1", "B=2", "D=4"}},
      {4, {"A=1", "B=2", "D=4"}},
      {1, {"A=1", "B=2", "B=3", "D=4"}},
      {1 | 4, {"A=1", "B=2", "D=4", "B=3"}},
  };
  for (const auto &c : cases) {
    char **merged;
    size_t size;
    ASSERT_EQ(vrio_merge_compact_envs(env1, size1, env2, size2, &merged, &size, c.flags),
              VRIO_S_NOERR);
    EXPECT_EQ(entries(merged), c.expected) << "flags " << c.flags;
    EXPECT_EQ(size, size1 + size2 - sizeof(char *));
    vrio_free(merged);
  }
  char **merged;
  EXPECT_EQ(vrio_merge_compact_envs(env1, size1, env2, size2, &merged, nullptr, 6),
            VRIO_E_PARAMETER_ERROR);
  vrio_free(env1);
  vrio_free(env2);
}

TEST(VrioProps, KeyOrder)
{
  const struct { const char *a, *b; int sign; } cases[] = {
      {"A", "A", 0},          {"A", "B", -1},      {"AB", "A", 1},
      {"a", "B", 1},          {"\xc3\xa9", "z", 1}, // unsigned bytes
      {"A\xc0\x80", "A\x01", -1},                  // character code 0 first
      {"A\x01", "A\xc0\x80", 1},
      {"A\xc0\x80", "A\xc0\x81", -1},              // differing at the 80
      {"A\xc0\x80", "A", 1},                       // a prefix first
  };
  for (auto c : cases) {
    int r = vrio_compare_environment_keys(c.a, c.b);
    EXPECT_EQ((r > 0) - (r < 0), c.sign) << c.a << " vs " << c.b;
  }
}

TEST(VrioProps, SnapshotOfTheProcessEnvironment)
{
  // Strings that setenv and putenv refuse to make, put into the array
  // itself.
  static char no_equals[] = "VRIO_TEST_BARE";
  static char empty_key[] = "=VRIO_TEST_HIDDEN";
  static char latin1[] = "VRIO_TEST_LATIN1=caf\xe9";
  static std::vector<char *> grown;
  for (char **e = environ; *e != nullptr; ++e)
    grown.push_back(*e);
  grown.insert(grown.end(), {no_equals, empty_key, latin1, nullptr});
  environ = grown.data();
  ASSERT_EQ(vrio_init(nullptr, nullptr, nullptr, 0), VRIO_S_NOERR);
  EXPECT_EQ(property("VRIO_TEST_BARE"), "");
  EXPECT_EQ(property("VRIO_TEST_LATIN1"), "caf\xc3\xa9");
  char **snapshot;
  size_t size;
  ASSERT_EQ(vrio_unix_get_environ(&snapshot, &size, 1), VRIO_S_NOERR);
  for (const std::string &e : entries(snapshot))
    EXPECT_NE(e.rfind("=VRIO_TEST_HIDDEN", 0), 0u) << "an empty key is dropped";
  EXPECT_EQ(vrio_unix_get_environ(&snapshot, &size, 0), VRIO_E_PARAMETER_ERROR);
  EXPECT_EQ(vrio_unix_get_environ(&snapshot, &size, 2 | 1), VRIO_E_PARAMETER_ERROR);

  setenv("VRIO_TEST_FRESH", "fresh", 1);
  char **fresh;
  ASSERT_EQ(vrio_unix_get_environ(&fresh, &size, 2), VRIO_S_NOERR);
  bool seen = false;
  for (const std::string &e : entries(fresh))
    seen = seen || e == "VRIO_TEST_FRESH=fresh";
  EXPECT_TRUE(seen) << "a fresh copy sees the live environment";
  vrio_free(fresh);
  EXPECT_EQ(property("VRIO_TEST_FRESH"), "<VRIO_E_NOT_FOUND>");
  ASSERT_EQ(vrio_unix_get_environ(&snapshot, &size, 1 | 4), VRIO_S_NOERR);
  EXPECT_EQ(property("VRIO_TEST_FRESH"), "fresh") << "after a new snapshot";
  ASSERT_EQ(vrio_init(nullptr, nullptr, nullptr, 1), VRIO_S_NOERR);
}

TEST(VrioProps, AllPropertiesAsOneList)
{
  setenv("VRIO_TEST_P", "process", 1);
  setenv("VRIO_TEST_Q", "process only", 1);
  vrio_t_init_option opts[2] = {prop("VRIO_TEST_P", "own"), prop("VRIO_TEST_K=EY", "v")};
  vrio_t_init_options options = {1, 2, opts};
  ASSERT_EQ(vrio_init(nullptr, nullptr, &options, 0), VRIO_S_NOERR);
  char **env;
  size_t size;
  ASSERT_EQ(vrio_get_system_properties(&env, &size, 0), VRIO_S_NOERR);
  strings all = entries(env);
  ASSERT_GE(all.size(), 3u);
  EXPECT_EQ(all[0], "VRIO_TEST_P=own") << "the library's own entries first";
  EXPECT_EQ(all[1], "VRIO_TEST_K=EY=v");
  int p = 0, q = 0;
  for (const std::string &e : all) {
    p += e.rfind("VRIO_TEST_P=", 0) == 0;
    q += e == "VRIO_TEST_Q=process only";
  }
  EXPECT_EQ(p, 1) << "the process's value is overridden";
  EXPECT_EQ(q, 1);
  vrio_free(env);

  ASSERT_EQ(vrio_get_system_properties(&env, &size, 1), VRIO_S_NOERR);
  p = 0;
  for (const std::string &e : entries(env))
    p += e.rfind("VRIO_TEST_P=", 0) == 0;
  EXPECT_EQ(p, 2) << "flag 1 keeps both";
  vrio_free(env);

  ASSERT_EQ(vrio_get_system_properties(&env, &size, 2 | 8), VRIO_S_NOERR);
  strings own;
  for (char **e = env; *e != nullptr; ++e)
    own.push_back(*e);
  EXPECT_EQ(own, (strings{"VRIO_TEST_P=own"})) << "a key with = cannot be written so";
  vrio_free(env);

  ASSERT_EQ(vrio_get_system_properties(&env, &size, 4), VRIO_S_NOERR);
  for (const std::string &e : entries(env))
    EXPECT_NE(e, "VRIO_TEST_P=own") << "flag 4: no library part";
  vrio_free(env);
  ASSERT_EQ(vrio_get_system_properties(nullptr, &size, 0), VRIO_S_NOERR);
  EXPECT_EQ(size, 0u);
  ASSERT_EQ(vrio_init(nullptr, nullptr, nullptr, 1), VRIO_S_NOERR);
}

TEST(VrioProps, UnixGetenvBeforeAndAfterTheSnapshot)
{
  setenv("VRIO_TEST_U", "u", 1);
  char buf[10];
  size_t size = sizeof buf;
  EXPECT_EQ(vrio_unix_getenv("VRIO_TEST_U", buf, &size, 1), VRIO_E_INVALID_STATE)
      << "flag 1 needs a snapshot";
  size = sizeof buf;
  ASSERT_EQ(vrio_unix_getenv("VRIO_TEST_U", buf, &size, 0), VRIO_S_NOERR);
  EXPECT_STREQ(buf, "u");
  EXPECT_EQ(size, 2u);
  ASSERT_EQ(vrio_init(nullptr, nullptr, nullptr, 0), VRIO_S_NOERR);
  setenv("VRIO_TEST_U", "changed", 1);
  size = sizeof buf;
  ASSERT_EQ(vrio_unix_getenv("VRIO_TEST_U", buf, &size, 1), VRIO_S_NOERR);
  EXPECT_STREQ(buf, "u");
  size = sizeof buf;
  ASSERT_EQ(vrio_unix_getenv("VRIO_TEST_U", buf, &size, 2), VRIO_S_NOERR);
  EXPECT_STREQ(buf, "changed") << "flag 2: the live environment";
  size = sizeof buf;
  EXPECT_EQ(vrio_unix_getenv("VRIO_TEST_NONE", buf, &size, 0), VRIO_E_NOT_FOUND);
  ASSERT_EQ(vrio_init(nullptr, nullptr, nullptr, 1), VRIO_S_NOERR);
}

} // namespace
