// The I/O library's allocator hook (which allocator serves, chosen by
// properties at start-up) and its Unicode range sets.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <iterator>

#include "vostrel/vrio.h"

namespace {

// The default hook over a cookie of the test's own counts the calls.
using counting_hook = vrio_t_default_allocator_cookie;
const vrio_t_allocator_hook counting = vrio_default_allocator_hook;

struct mallocs_case {
  const char *allocator_mallocs; // null: unset
  const char *use_malloc;
  bool hook_used;
};

TEST(VrioAllocator, PropertiesChooseBetweenHookAndHeap)
{
  const mallocs_case cases[] = {
      {"false", "true", true},  // the library's own switch wins
      {nullptr, nullptr, true}, // neither: the hook
      {nullptr, "true", false}, // only the runtime's switch
      {"YES", nullptr, false},  {"maybe", "no", true}, {"no", "yes", true},
  };
  for (const auto &c : cases) {
    if (c.allocator_mallocs)
      setenv("VRIO_ALLOCATOR_MALLOCS", c.allocator_mallocs, 1);
    else
      unsetenv("VRIO_ALLOCATOR_MALLOCS");
    if (c.use_malloc)
      setenv("VR_USE_MALLOC", c.use_malloc, 1);
    else
      unsetenv("VR_USE_MALLOC");
    counting_hook hook{};
    ASSERT_EQ(vrio_init_allocator(counting, &hook), VRIO_S_NOERR);
    void *p = vrio_alloc(10);
    p = vrio_realloc(p, 100);
    vrio_free(p);
    int calls = hook.allocs + hook.reallocs + hook.frees;
    EXPECT_EQ(calls, c.hook_used ? 3 : 0)
        << "VRIO_ALLOCATOR_MALLOCS=" << (c.allocator_mallocs ? c.allocator_mallocs : "(unset)")
        << " VR_USE_MALLOC=" << (c.use_malloc ? c.use_malloc : "(unset)");
    vrio_init_allocator(nullptr, nullptr);
  }
}

TEST(VrioAllocator, InitialisationInstallsTheHookForTheWholeLibrary)
{
  counting_hook hook{};
  ASSERT_EQ(vrio_init(counting, &hook, nullptr, 0), VRIO_S_NOERR);
  EXPECT_GT(hook.allocs, 0) << "the modules allocate through it";
  vrio_t_buf *b = vrio_buf_alloc(nullptr, 0, 0);
  int before = hook.frees;
  vrio_buf_free(b);
  EXPECT_EQ(hook.frees, before + 2) << "data and record";
  ASSERT_EQ(vrio_init(nullptr, nullptr, nullptr, 1), VRIO_S_NOERR);
  EXPECT_EQ(hook.allocs + hook.reallocs, hook.frees + hook.reallocs)
      << "a stop gives back everything the library took";
}

TEST(VrioAllocator, DefaultHookCountsAndZeroSizesStillAllocate)
{
  ASSERT_EQ(vrio_init_allocator(nullptr, nullptr), VRIO_S_NOERR);
  vrio_t_default_allocator_cookie before = default_allocator_cookie;
  auto *p = static_cast<char *>(vrio_allocator_alloc(0));
  ASSERT_NE(p, nullptr);
  p[0] = 'x'; // at least one byte
  p = static_cast<char *>(vrio_allocator_realloc(p, 0));
  ASSERT_NE(p, nullptr);
  vrio_allocator_free(p);
  vrio_allocator_free(nullptr);
  EXPECT_EQ(default_allocator_cookie.allocs, before.allocs + 1);
  EXPECT_EQ(default_allocator_cookie.reallocs, before.reallocs + 1);
  EXPECT_EQ(default_allocator_cookie.frees, before.frees + 1);
  EXPECT_EQ(default_allocator_cookie.calls, before.calls + 3);
  char *s = vrio_alloc_string("copied");
  EXPECT_STREQ(s, "copied");
  vrio_free(s);
  EXPECT_EQ(vrio_default_allocator_hook(&default_allocator_cookie, nullptr, 0), nullptr);
}

struct membership_case {
  uint32_t code;
  int non_private_abstract, nfc_yes;
};

TEST(VrioUnicode, MembershipOfTellingCodePoints)
{
  const membership_case cases[] = {
      {0x41, 1, 1},     {0xFFFD, 1, 1},   {0xD800, 0, 0},   {0xE000, 0, 0},
      {0xFFFE, 0, 0},   {0x370, 0, 0},    {0x514, 0, 0},    {0x340, 1, 0}, // never in NFC
      {0x0, 1, 1},      {0x2FF, 1, 1},    {0x300, 1, 0},    {0x305, 1, 1},
      {0x36F, 1, 1},    {0x374, 1, 0},    {0x2A6D6, 1, 1},  {0x2A6D7, 0, 0},
      {0x2F800, 1, 0},  {0xE0001, 1, 1},  {0xE01EF, 1, 1},  {0xE01F0, 0, 0},
      {0xFDD0, 0, 0},   {0x10FFFF, 0, 0}, {0xF0000, 0, 0},  {0xAC00, 1, 1},
  };
  for (auto c : cases) {
    EXPECT_EQ(vrio_unicode_non_private_abstract_char(c.code), c.non_private_abstract)
        << std::hex << "U+" << c.code;
    EXPECT_EQ(vrio_unicode_nfc_quick_check_yes(c.code), c.nfc_yes) << std::hex << "U+" << c.code;
  }
  EXPECT_EQ(vrio_unicode_non_private_abstract_char(0x110000), VRIO_E_ENCODING_UNMAPPABLE);
  EXPECT_EQ(vrio_unicode_nfc_quick_check_yes(0xFFFFFFFFu), VRIO_E_ENCODING_UNMAPPABLE);
}

// The binary search against a plain scan, over every code point.
TEST(VrioUnicode, BinarySearchAgreesWithAScan)
{
  const vrio_t_utf32_range set[] = {{2, 4}, {10, 10}, {12, 20}, {100, 0x10FFFF}};
  for (uint32_t code = 0; code < 0x110000; code += (code < 200 ? 1 : 977)) {
    int scanned = 0;
    for (auto r : set)
      scanned |= r.low <= code && code <= r.high;
    ASSERT_EQ(vrio_utf32_set_member(code, set, std::size(set)), scanned) << code;
  }
  EXPECT_EQ(vrio_utf32_set_member(5, set, 0), 0);
  EXPECT_EQ(vrio_utf32_set_member(3, set, 1), 1);
}

} // namespace
