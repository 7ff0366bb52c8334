// The default memory source: its settings from the environment and the
// data-segment limit, the ceiling, the mapping quanta and the keep size.
#include <gtest/gtest.h>

#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "memman.h"

namespace {

const char *const source_env[] = {"PROLOGINITSIZE", "PROLOGINCSIZE", "PROLOGKEEPSIZE", "PROLOGMAXSIZE"};

class MemSource : public ::testing::Test {
protected:
  su_state saved;
  struct region { void *mem; std::size_t size; };
  std::vector<region> mapped;
  std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));

  void SetUp() override
  {
    saved = su_get_state();
    for (const char *name : source_env)
      unsetenv(name);
  }
  void TearDown() override
  {
    for (auto &r : mapped)
      SU_free_mem(r.mem, r.size, 1, nullptr);
    for (const char *name : source_env)
      unsetenv(name);
    su_set_state(saved);
  }
  void init(const char *init = nullptr, const char *inc = nullptr, const char *keep = nullptr,
            const char *max = nullptr)
  {
    const char *values[] = {init, inc, keep, max};
    for (int i = 0; i < 4; i++)
      values[i] ? setenv(source_env[i], values[i], 1) : unsetenv(source_env[i]);
    ASSERT_EQ(SU_init_alloc_mem(8, nullptr), 1);
  }
  /* Maps through the source; the size actually mapped, 0 when refused. */
  std::size_t map(std::size_t size, void **where = nullptr)
  {
    std::size_t actual = 0;
    void *p = SU_alloc_mem(size, &actual, nullptr);
    if (p == nullptr)
      return 0;
    mapped.push_back({p, actual});
    if (where)
      *where = p;
    return actual;
  }
  /* Initialises with the data-segment soft limit set to `limit` for the
     moment of reading it. */
  // What the source decides from a data-segment limit it read; the kernel
  // need not apply (or even accept) such a limit for this to hold.
  void init_with_data_limit(std::uint64_t limit, const char *max = nullptr)
  {
    if (max)
      setenv("PROLOGMAXSIZE", max, 1);
    ASSERT_EQ(su_init_with_data_limit(8, limit), 1);
  }
};

TEST_F(MemSource, DefaultsAndMinimums)
{
  init();
  su_state s = su_get_state();
  EXPECT_EQ(s.inc_size, page);
  EXPECT_EQ(s.init_size, 20480u);
  EXPECT_EQ(s.keep_size, 0u);
  EXPECT_EQ(s.quanta, page);
  EXPECT_EQ(s.bigmem_total, 0u);

  init("100", "100");
  s = su_get_state();
  EXPECT_EQ(s.init_size, 20480u) << "PROLOGINITSIZE is raised to 20480";
  EXPECT_EQ(s.inc_size, page) << "PROLOGINCSIZE is raised to the page size";
}

TEST_F(MemSource, MappingSizesFollowInitAndIncSizes)
{
  ASSERT_EQ(page, 4096u) << "the cases below assume 4 KiB pages";
  struct { const char *init, *inc; std::size_t first_ask, first, second_ask, second; } cases[] = {
    {nullptr, nullptr, 65544, 69632, 100, 4096},
    {nullptr, nullptr, 100, 20480, 100, 4096},      // the first mapping is at least InitSize
    {"1M", nullptr, 100, 1u << 20, 100, 4096},
    {nullptr, "64K", 100, 65536, 70000, 73728},
    {nullptr, "5000", 100, 20480, 100, 8192},      // IncSize is rounded to whole pages
  };
  for (auto &c : cases) {
    init(c.init, c.inc);
    EXPECT_EQ(map(c.first_ask), c.first) << (c.init ? c.init : "-") << " / " << (c.inc ? c.inc : "-");
    EXPECT_EQ(map(c.second_ask), c.second) << (c.init ? c.init : "-") << " / " << (c.inc ? c.inc : "-");
    EXPECT_EQ(su_get_state().bigmem_total, c.first + c.second);
    for (auto &r : mapped)
      SU_free_mem(r.mem, r.size, 1, nullptr);
    mapped.clear();
  }
}

TEST_F(MemSource, MappedMemoryIsWritableButNotExecutable)
{
  init();
  void *p = nullptr;
  ASSERT_NE(map(4096, &p), 0u);
  static_cast<char *>(p)[100] = 1;
  FILE *maps = std::fopen("/proc/self/maps", "r");
  ASSERT_NE(maps, nullptr);
  char line[512];
  bool found = false;
  while (std::fgets(line, sizeof line, maps)) {
    unsigned long lo, hi;
    char perms[8];
    if (std::sscanf(line, "%lx-%lx %7s", &lo, &hi, perms) == 3 &&
        lo <= reinterpret_cast<unsigned long>(p) && reinterpret_cast<unsigned long>(p) < hi) {
      found = true;
      EXPECT_EQ(perms[0], 'r');
      EXPECT_EQ(perms[1], 'w');
      EXPECT_EQ(perms[2], '-') << line;
    }
  }
  std::fclose(maps);
  EXPECT_TRUE(found);
}

TEST_F(MemSource, MaxSizeIsRaisedToOneMegabyteAndEnforced)
{
  init(nullptr, nullptr, nullptr, "100000");
  EXPECT_EQ(su_get_state().max_size, 1048576u);
  EXPECT_EQ(map(600000), 602112u) << "whole pages";
  EXPECT_EQ(map(600000), 0u) << "beyond the ceiling";
  EXPECT_EQ(map(1048576 - 602112), 1048576u - 602112) << "up to the ceiling exactly";
  EXPECT_EQ(map(1), 0u);
  EXPECT_EQ(su_get_state().bigmem_total, 1048576u);

  // A ceiling below the first mapping's least size lowers that size.
  init("2M", nullptr, nullptr, "1M");
  EXPECT_EQ(su_get_state().init_size, 1048576u);
}

TEST_F(MemSource, DataSegmentLimitGivesTheDefaultCeiling)
{
  struct { rlim64_t limit; std::size_t want; const char *why; } cases[] = {
    {RLIM64_INFINITY, 0, "unlimited: no ceiling"},
    {5ull << 30, 0, "beyond 32 bits: no ceiling, not its low bits (1 GiB)"},
    {1ull << 32, 0, "exactly 2^32: no ceiling, not 0 raised to 1 MiB"},
    {3ull << 30, 3u << 30, "a real limit"},
    {100000, 1048576, "a small limit is raised to the minimum"},
  };
  for (auto &c : cases) {
    init_with_data_limit(c.limit);
    EXPECT_EQ(su_get_state().max_size, c.want) << c.why;
  }
  // Without a ceiling a large request is not refused by the arithmetic.
  init_with_data_limit(RLIM64_INFINITY);
  EXPECT_EQ(map(2u << 20), 2u << 20);
  // An explicit setting still applies and is raised to the minimum.
  init_with_data_limit(RLIM64_INFINITY, "1000");
  EXPECT_EQ(su_get_state().max_size, 1048576u);
}

TEST_F(MemSource, KeepSizeRefusesUnforcedReleases)
{
  init(nullptr, nullptr, "1048576");
  void *p = nullptr;
  ASSERT_EQ(map(1572864, &p), 1572864u);
  mapped.clear();  // released piecewise below
  char *c = static_cast<char *>(p);
  EXPECT_EQ(SU_free_mem(c, 262144, 0, nullptr), 1) << "1310720 stay mapped, above the keep size";
  EXPECT_EQ(su_get_state().bigmem_total, 1310720u);
  EXPECT_EQ(SU_free_mem(c + 262144, 1048576, 0, nullptr), 0) << "only 262144 would stay mapped";
  EXPECT_EQ(su_get_state().bigmem_total, 1310720u);
  c[262144] = 1;  // still mapped
  EXPECT_EQ(SU_free_mem(c + 262144, 1310720, 1, nullptr), 1) << "a forced release always unmaps";
  EXPECT_EQ(su_get_state().bigmem_total, 0u);
}

int noop_init(std::size_t, void *) { return 1; }
void *noop_alloc(std::size_t, std::size_t *, void *) { return nullptr; }

TEST_F(MemSource, UserHooksAreNotReplacedByTheDefault)
{
  memman_hooks before = memman_get_hooks();
  int saved_flag = memman_user_hooks_set;
  memman_user_hooks_set = 0;
  set_memalloc_default();
  EXPECT_EQ(memman_get_hooks().alloc, &SU_alloc_mem);
  vr_memman_set_hooks(0, noop_init, nullptr, noop_alloc, nullptr, nullptr);
  set_memalloc_default();
  EXPECT_EQ(memman_get_hooks().alloc, &noop_alloc);
  memman_user_hooks_set = saved_flag;
  memman_set_hooks_raw(before.hints == 1 ? 0 : before.hints, before.init, before.deinit, before.alloc,
                       before.free_, before.cookie);
}

}  // namespace
