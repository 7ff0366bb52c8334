// The memory manager: size classes, carving, list discipline, resizing,
// defragmentation, trimming, statistics, stack sizes and interface blocks.
//
// Each test runs its own manager over an arena source that hands out
// consecutive regions of one mapping, so addresses are predictable and
// neighbouring big blocks are adjacent.  The engine's own manager (if
// another suite left one running) is set aside and put back afterwards.
#include <gtest/gtest.h>

#include <sys/mman.h>

#include <algorithm>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "datadefs.h"
#include "errors.h"
#include "death_tests.h"
#include "memman.h"
#include "stacks.h"
#include "terms.h"
#include "worker.h"

namespace {

constexpr std::size_t ARENA_SIZE = 64u << 20;
constexpr std::size_t FIRST_BIGMEM = 0x1A0000;

struct arena_source {
  char *base = nullptr;
  std::size_t used = 0;
  bool refuse_alloc = false;
  bool refuse_unforced_free = false;
  int allocs = 0;
  int forced_frees = 0;
  int unforced_frees = 0;
  std::vector<std::size_t> asked;
};
arena_source arena;

int arena_init(std::size_t, void *) { return 1; }
void arena_deinit(void *) {}
void *arena_alloc(std::size_t size, std::size_t *actual, void *)
{
  arena.asked.push_back(size);
  std::size_t s = (size + 7) & ~std::size_t{7};
  if (arena.refuse_alloc || arena.used + s > ARENA_SIZE)
    return nullptr;
  void *p = arena.base + arena.used;
  arena.used += s;
  arena.allocs++;
  *actual = s;
  return p;
}
int arena_free(void *, std::size_t, int force, void *)
{
  if (!force && arena.refuse_unforced_free)
    return 0;
  (force ? arena.forced_frees : arena.unforced_frees)++;
  return 1;
}

/* Runs f; true when it raised a fault (through the abort point). */
template <class F> bool faults(F f)
{
  static std::jmp_buf env;
  if (setjmp(env) == 0) {
    vr_set_abort_env(&env);
    f();
    vr_set_abort_env(nullptr);
    return false;
  }
  return true;
}

const char *const alloc_env[] = {"VR_USE_MALLOC", "VR_MALLOC_MALLOCS", "VR_CHECKALLOC_MALLOCS"};

class Memman : public ::testing::Test {
protected:
  mm_record saved_mm;
  engine_stats saved_stats;
  memman_hooks saved_hooks;
  int saved_initialized, saved_mallocs, saved_checkalloc, saved_use_opt, saved_m_opt, saved_c_opt;
  std::uint32_t *saved_sizes;
  int saved_nsizes;
  void (*saved_reclaim)(void);

  void SetUp() override
  {
    saved_mm = eglobal->mm;
    saved_stats = eglobal->stats;
    saved_hooks = memman_get_hooks();
    saved_initialized = mem_initialized;
    saved_mallocs = vr_malloc_mallocs;
    saved_checkalloc = vr_checkalloc_mallocs;
    saved_use_opt = vr_use_malloc_option;
    saved_m_opt = vr_malloc_mallocs_option;
    saved_c_opt = vr_checkalloc_mallocs_option;
    saved_sizes = valid_stack_sizes;
    saved_nsizes = nvalid_stack_sizes;
    saved_reclaim = mm_reclaim_dead_clauses_hook;

    mem_initialized = 0;
    valid_stack_sizes = nullptr;
    nvalid_stack_sizes = 0;
    vr_use_malloc_option = -1;
    for (const char *name : alloc_env)
      unsetenv(name);
    std::memset(&eglobal->stats, 0, sizeof eglobal->stats);

    arena = arena_source{};
    arena.base = static_cast<char *>(mmap(nullptr, ARENA_SIZE, PROT_READ | PROT_WRITE,
                                          MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(arena.base, MAP_FAILED);
    memman_set_hooks_raw(0, arena_init, arena_deinit, arena_alloc, arena_free, nullptr);
    ASSERT_EQ(memman_init(), 0);
  }

  void TearDown() override
  {
    memman_deinit();
    munmap(arena.base, ARENA_SIZE);
    for (const char *name : alloc_env)
      unsetenv(name);
    mm_reclaim_dead_clauses_hook = saved_reclaim;
    eglobal->mm = saved_mm;
    eglobal->stats = saved_stats;
    memman_set_hooks_raw(saved_hooks.hints == 1 ? 0 : saved_hooks.hints, saved_hooks.init, saved_hooks.deinit,
                         saved_hooks.alloc, saved_hooks.free_, saved_hooks.cookie);
    mem_initialized = saved_initialized;
    vr_malloc_mallocs = saved_mallocs;
    vr_checkalloc_mallocs = saved_checkalloc;
    vr_use_malloc_option = saved_use_opt;
    vr_malloc_mallocs_option = saved_m_opt;
    vr_checkalloc_mallocs_option = saved_c_opt;
    valid_stack_sizes = saved_sizes;
    nvalid_stack_sizes = saved_nsizes;
  }

  mm_record &mm() { return eglobal->mm; }
  char *at(std::size_t offset) { return arena.base + offset; }

  int list_length(int c)
  {
    int n = 0;
    for (free_block *b = mm().free_arr[c]; b != nullptr; b = b->next)
      n++;
    return n;
  }

  /* Takes every free block of classes lo..24 by its exact size, highest
     class first, so that nothing is split. */
  void drain_from(int lo)
  {
    for (int c = MM_CLASSES - 1; c >= lo; c--)
      while (mm().free_arr[c] != nullptr)
        checkalloc(mm().free_arr[c]->size, mm_code(MM_BIN_MISC));
  }
};

constexpr int MISC = mm_code(MM_BIN_MISC);

TEST_F(Memman, SizeClassesFollowTheTable)
{
  struct { std::size_t size; int cls; } cases[] = {
    {0, 0}, {1, 0}, {8, 0}, {9, 1}, {120, 14}, {121, 15}, {128, 15}, {248, 15},
    {255, 16} /* rounds to 256 */, {256, 16}, {504, 16}, {512, 17}, {32768, 23}, {65528, 23},
    {65529, 24}, {65536, 24}, {1u << 24, 24},
  };
  for (auto &c : cases)
    EXPECT_EQ(mm_size_class(c.size), c.cls) << "size " << c.size;
}

TEST_F(Memman, RequestsAreRoundedUpToTheirBlockSize)
{
  // Consecutive small requests are carved side by side, so the distance
  // between them is the rounded size.
  struct { std::size_t size, block; } cases[] = {{1, 8}, {8, 8}, {9, 16}, {121, 128}, {200, 200}, {1001, 1008}};
  for (auto &c : cases) {
    char *a = static_cast<char *>(checkalloc(c.size, MISC));
    char *b = static_cast<char *>(checkalloc(c.size, MISC));
    EXPECT_EQ(b - a, static_cast<std::ptrdiff_t>(c.block)) << "size " << c.size;
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(a) % 8, 0u);
  }
}

TEST_F(Memman, SmallRequestsAreCutFromTheCarvingBlock)
{
  // The first small request takes an 8192-byte chunk of the big block; what
  // is left of the chunk becomes the carving block.
  char *first = static_cast<char *>(checkalloc(8, MISC));
  EXPECT_EQ(first, at(0));
  ASSERT_NE(mm().free_cache, nullptr);
  EXPECT_EQ(reinterpret_cast<char *>(mm().free_cache), at(8));
  EXPECT_EQ(mm().free_cache->size, 8192u - 8);
  // The rest of the big block went back to class 24.
  ASSERT_EQ(list_length(24), 1);
  EXPECT_EQ(reinterpret_cast<char *>(mm().free_arr[24]), at(8192));

  char *sixteen = static_cast<char *>(checkalloc(16, MISC));
  EXPECT_EQ(sixteen, at(8));
  EXPECT_EQ(mm().free_cache->size, 8192u - 24);

  // Carve 120-byte blocks until the remainder drops under 128 bytes: it then
  // leaves the carving block for its exact list.
  std::size_t left = 8192 - 24;
  while (left >= 128 + 120) {
    checkalloc(120, MISC);
    left -= 120;
  }
  ASSERT_NE(mm().free_cache, nullptr);
  char *last = static_cast<char *>(checkalloc(120, MISC));
  left -= 120;
  EXPECT_EQ(mm().free_cache, nullptr);
  int cls = mm_size_class(left);
  ASSERT_EQ(list_length(cls), 1) << "remainder of " << left << " bytes";
  EXPECT_EQ(reinterpret_cast<char *>(mm().free_arr[cls]), last + 120);
  EXPECT_EQ(checkalloc(left, MISC), last + 120);
}

TEST_F(Memman, ClassFifteenIsUsedOnlyWhenLargerClassesAreEmpty)
{
  char *a = static_cast<char *>(checkalloc(200, MISC));
  checkalloc(8, MISC);  // keeps a from touching the big block's rest
  checkdealloc(a, 200, MISC);
  ASSERT_EQ(mm().free_arr[15], reinterpret_cast<free_block *>(a));

  char *b = static_cast<char *>(checkalloc(130, MISC));
  EXPECT_NE(b, a) << "a 136-byte request must come from class 16..24 while any is non-empty";

  drain_from(16);
  char *c = static_cast<char *>(checkalloc(130, MISC));
  EXPECT_EQ(c, a) << "with classes 16..24 empty the class-15 block serves";
}

TEST_F(Memman, ReallocGrowsInPlaceIntoTheFollowingBlock)
{
  char *a = static_cast<char *>(checkalloc(1000, MISC));
  std::memset(a, 0x5A, 1000);
  std::size_t in_use = mm().total_in_use, bin = mm().mm_bins[MM_BIN_MISC];

  char *g = static_cast<char *>(checkrealloc(a, 1000, 3000, MISC));
  EXPECT_EQ(g, a) << "the block after a was free: growth must not move it";
  EXPECT_EQ(g[999], 0x5A);
  // The fresh 3000 bytes started at a + 1000; a keeps 3000 bytes, so the
  // 1000 bytes from a + 3000 are free again.
  ASSERT_NE(mm().free_arr[mm_size_class(1000)], nullptr);
  EXPECT_EQ(reinterpret_cast<char *>(mm().free_arr[mm_size_class(1000)]), a + 3000);
  EXPECT_EQ(mm().free_arr[mm_size_class(1000)]->size, 1000u);
  EXPECT_EQ(mm().total_in_use, in_use + 2000);
  EXPECT_EQ(mm().mm_bins[MM_BIN_MISC], bin + 2000);
  EXPECT_EQ(mm().alloc_dist[mm_size_class(3000)], 1);
  EXPECT_EQ(mm().alloc_dist[mm_size_class(1000)], 0);
}

TEST_F(Memman, ReallocToTheSameRoundedSizeKeepsTheBlock)
{
  char *a = static_cast<char *>(checkalloc(1001, MISC));
  std::size_t in_use = mm().total_in_use;
  EXPECT_EQ(checkrealloc(a, 1001, 1008, MISC), a);
  EXPECT_EQ(mm().total_in_use, in_use);
}

TEST_F(Memman, ReallocElsewhereCopiesAndFreesTheOldBlock)
{
  char *a = static_cast<char *>(checkalloc(1000, MISC));
  char *b = static_cast<char *>(checkalloc(1000, MISC));
  ASSERT_EQ(b, a + 1000);
  for (int i = 0; i < 1000; i++)
    a[i] = static_cast<char>(i);
  char *m = static_cast<char *>(checkrealloc(a, 1000, 3000, MISC));
  ASSERT_NE(m, a);
  for (int i = 0; i < 1000; i++)
    ASSERT_EQ(m[i], static_cast<char>(i)) << "byte " << i;
  EXPECT_EQ(mm().free_arr[mm_size_class(1000)], reinterpret_cast<free_block *>(a));
}

TEST_F(Memman, ShrinkKeepsTheBlockWhenMemoryIsExhausted)
{
  char *a = static_cast<char *>(checkalloc(1000, MISC));
  drain_from(0);
  arena.refuse_alloc = true;
  std::size_t in_use = mm().total_in_use;
  EXPECT_EQ(checkrealloc(a, 1000, 200, MISC), a);
  // The tail went back to the lists, accounted as free.
  EXPECT_EQ(mm().free_arr[mm_size_class(800)], reinterpret_cast<free_block *>(a + 200));
  EXPECT_EQ(mm().total_in_use, in_use - 800);
  // Growing now fails: null with may-fail, a memory fault without.
  EXPECT_EQ(checkrealloc(a, 200, 5000, mm_code(MM_BIN_MISC, true)), nullptr);
  EXPECT_TRUE(faults([&] { checkrealloc(a, 200, 5000, MISC); }));
  EXPECT_EQ(mm().culprit, MM_BIN_MISC);
}

TEST_F(Memman, ExhaustionIsNullOrAFaultChargedToTheBin)
{
  drain_from(0);
  arena.refuse_alloc = true;
  std::size_t bin = mm().mm_bins[MM_BIN_ATOM];
  EXPECT_EQ(checkalloc(100, mm_code(MM_BIN_ATOM, true)), nullptr);
  EXPECT_EQ(mm().mm_bins[MM_BIN_ATOM], bin) << "a failed request must not stay charged";
  EXPECT_TRUE(faults([] { checkalloc(100, mm_code(MM_BIN_ATOM)); }));
  EXPECT_EQ(mm().culprit, MM_BIN_ATOM);
  // A size that cannot even be rounded is exhaustion, not a tiny block.
  EXPECT_EQ(checkalloc(SIZE_MAX - 2, mm_code(MM_BIN_MISC, true)), nullptr);
}

TEST_F(Memman, NewBigBlocksAreAskedWithRoomForAlignment)
{
  ASSERT_EQ(arena.asked.size(), 1u);
  EXPECT_EQ(arena.asked[0], FIRST_BIGMEM);
  checkalloc(4u << 20, MISC);
  ASSERT_EQ(arena.asked.size(), 2u);
  EXPECT_EQ(arena.asked[1], (4u << 20) + 8);
  EXPECT_EQ(mm().dir_pop, 2);
}

TEST_F(Memman, FreeingNeverMergesDefragmentationDoes)
{
  char *a = static_cast<char *>(checkalloc(1000, MISC));
  char *b = static_cast<char *>(checkalloc(1000, MISC));
  char *c = static_cast<char *>(checkalloc(1000, MISC));
  checkdealloc(a, 1000, MISC);
  checkdealloc(b, 1000, MISC);
  int cls = mm_size_class(1000);
  EXPECT_EQ(list_length(cls), 2) << "two adjacent freed blocks stay two blocks";

  std::int64_t count = eglobal->stats.defrag_count;
  defragment_memory(&mm());
  EXPECT_EQ(list_length(cls), 0);
  ASSERT_EQ(mm().free_arr[mm_size_class(2000)], reinterpret_cast<free_block *>(a));
  EXPECT_EQ(mm().free_arr[mm_size_class(2000)]->size, 2000u);
  EXPECT_EQ(mm().recently_freed, 0u);
  EXPECT_EQ(eglobal->stats.defrag_count, count + 1);

  // Once c is free too, everything merges back into the whole big block.
  checkdealloc(c, 1000, MISC);
  defragment_memory(&mm());
  ASSERT_EQ(list_length(24), 1);
  EXPECT_EQ(reinterpret_cast<char *>(mm().free_arr[24]), a);
  EXPECT_EQ(mm().free_arr[24]->size, FIRST_BIGMEM);
  EXPECT_EQ(mm().total_free, FIRST_BIGMEM);
  EXPECT_EQ(mm().total_in_use, 0u);
  EXPECT_EQ(minfo_guts(1), 0);
}

/* Every free block, with its size, from the lists and the carving block. */
static std::vector<std::pair<char *, std::size_t>> free_blocks(const mm_record &m)
{
  std::vector<std::pair<char *, std::size_t>> v;
  for (int c = 0; c < MM_CLASSES; c++)
    for (free_block *b = m.free_arr[c]; b != nullptr; b = b->next)
      v.emplace_back(reinterpret_cast<char *>(b), b->size);
  if (m.free_cache != nullptr)
    v.emplace_back(reinterpret_cast<char *>(m.free_cache), m.free_cache->size);
  std::sort(v.begin(), v.end());
  return v;
}

TEST_F(Memman, RandomWorkloadKeepsBlocksDisjointAndCountsExact)
{
  // A fixed pseudo-random mix of allocations, frees, resizes and
  // defragmentations; every live block carries a pattern that must survive.
  struct live { unsigned char *p; std::size_t size; unsigned char tag; };
  std::vector<live> blocks;
  unsigned seed = 12345;
  auto rnd = [&seed](unsigned n) { seed = seed * 1103515245 + 12345; return (seed >> 16) % n; };
  auto pick_size = [&]() -> std::size_t {
    switch (rnd(4)) {
    case 0: return 1 + rnd(120);
    case 1: return 121 + rnd(2000);
    case 2: return 2000 + rnd(60000);
    default: return 60000 + rnd(200000);
    }
  };
  for (int step = 0; step < 4000; step++) {
    unsigned op = rnd(10);
    if (op < 5 || blocks.empty()) {
      std::size_t size = pick_size();
      auto *p = static_cast<unsigned char *>(checkalloc(size, MISC));
      unsigned char tag = static_cast<unsigned char>(step);
      std::memset(p, tag, size);
      blocks.push_back({p, size, tag});
    } else if (op < 8) {
      std::size_t i = rnd(static_cast<unsigned>(blocks.size()));
      live b = blocks[i];
      for (std::size_t k = 0; k < b.size; k += 7)
        ASSERT_EQ(b.p[k], b.tag) << "block of " << b.size << " bytes overwritten at step " << step;
      checkdealloc(b.p, b.size, MISC);
      blocks[i] = blocks.back();
      blocks.pop_back();
    } else if (op < 9) {
      std::size_t i = rnd(static_cast<unsigned>(blocks.size()));
      live &b = blocks[i];
      std::size_t size = pick_size();
      b.p = static_cast<unsigned char *>(checkrealloc(b.p, b.size, size, MISC));
      for (std::size_t k = 0; k < std::min(b.size, size); k += 7)
        ASSERT_EQ(b.p[k], b.tag) << "contents lost by a resize at step " << step;
      std::memset(b.p, b.tag, size);
      b.size = size;
    } else {
      defragment_memory(&mm());
      auto v = free_blocks(mm());
      for (std::size_t k = 1; k < v.size(); k++)
        ASSERT_NE(v[k - 1].first + v[k - 1].second, v[k].first) << "adjacent free blocks left after defragmentation";
    }
  }
  std::size_t live_bytes = 0;
  for (auto &b : blocks)
    live_bytes += (b.size + 7) & ~std::size_t{7};
  EXPECT_EQ(mm().total_in_use, live_bytes);
  EXPECT_EQ(mm().mm_bins[MM_BIN_MISC], live_bytes);
  std::size_t free_bytes = 0;
  auto v = free_blocks(mm());
  for (std::size_t k = 0; k < v.size(); k++) {
    free_bytes += v[k].second;
    if (k > 0) {
      ASSERT_LE(v[k - 1].first + v[k - 1].second, v[k].first) << "free blocks overlap";
    }
  }
  EXPECT_EQ(mm().total_free, free_bytes);
  EXPECT_EQ(minfo_guts(1), 0);
  for (auto &b : blocks)
    checkdealloc(b.p, b.size, MISC);
  trimcore(nullptr, 1);
  EXPECT_EQ(mm().total_in_use, 0u);
  EXPECT_EQ(mm().dir_pop, 0) << "with nothing in use every big block goes back";
  EXPECT_EQ(mm().total_free, 0u);
  EXPECT_NE(checkalloc(100, mm_code(MM_BIN_MISC, true)), nullptr) << "and the manager still serves";
}

TEST_F(Memman, AllocationDefragmentsBeforeAskingTheSource)
{
  std::vector<char *> blocks;
  for (int i = 0; i < 8; i++)
    blocks.push_back(static_cast<char *>(checkalloc(30000, MISC)));
  drain_from(0);
  arena.refuse_alloc = true;
  for (int i = 0; i < 8; i++)
    checkdealloc(blocks[i], 30000, MISC);
  // No single free block holds 240000 bytes, but the eight adjacent ones do
  // once merged, and more than an eighth of all memory was freed.
  ASSERT_GE(mm().recently_freed * 8, mm().total_in_use + mm().total_free);
  EXPECT_EQ(checkalloc(240000, mm_code(MM_BIN_MISC, true)), blocks[0]);
  EXPECT_EQ(arena.allocs, 1);
}

TEST_F(Memman, ReclaimHooksDoNotReenterThemselves)
{
  static int calls;
  calls = 0;
  mm_reclaim_dead_clauses_hook = [] {
    calls++;
    // A reclaimer that frees and allocates may drive the manager into
    // defragmentation again; that must not call the reclaimer again.
    defragment_memory(&eglobal->mm);
  };
  defragment_memory(&mm());
  EXPECT_EQ(calls, 1);
  trimcore(nullptr, 0);
  EXPECT_EQ(calls, 2);
}

TEST_F(Memman, TrimcoreGivesFreeBigBlocksBack)
{
  char *keep = static_cast<char *>(checkalloc(64, MISC));
  char *big = static_cast<char *>(checkalloc(4u << 20, MISC));
  ASSERT_EQ(mm().dir_pop, 2);
  checkdealloc(big, 4u << 20, MISC);

  trimcore(nullptr, 1);
  // The second big block (adjacent to the first in the arena) lies wholly
  // in one free block after defragmentation and goes back unforced; the
  // first still holds `keep`.
  EXPECT_EQ(arena.unforced_frees, 1);
  EXPECT_EQ(mm().dir_pop, 1);
  EXPECT_EQ(mm().total_free, FIRST_BIGMEM - 64);
  EXPECT_EQ(mm().directory[0].bigmem, arena.base);
  EXPECT_EQ(eglobal->stats.trim_bigmems_count, 1);
  EXPECT_EQ(minfo_guts(1), 0);
  // The part of the merged free block inside the first big block is usable.
  EXPECT_NE(checkalloc(FIRST_BIGMEM - 8192, mm_code(MM_BIN_MISC, true)), nullptr);
  checkdealloc(keep, 64, MISC);
}

TEST_F(Memman, TrimcoreStopsWhenTheSourceRefuses)
{
  char *big = static_cast<char *>(checkalloc(4u << 20, MISC));
  checkdealloc(big, 4u << 20, MISC);
  arena.refuse_unforced_free = true;
  std::size_t total_free = mm().total_free;
  trimcore(nullptr, 2);
  EXPECT_EQ(mm().dir_pop, 2);
  EXPECT_EQ(mm().total_free, total_free);
  EXPECT_EQ(minfo_guts(1), 0);
  EXPECT_NE(checkalloc(4u << 20, mm_code(MM_BIN_MISC, true)), nullptr) << "refused blocks stay on the lists";
}

// Level 2's stack shrinking is start-up's hook, tested on a real worker in
// startup_test.cpp (TrimLevelTwoGivesBackTheStackSpaceNotInUse);
// without a choicepoint there are no stacks to shrink, hook or not.
TEST_F(Memman, TrimcoreLevelsCallTheLayersAboveInOrder)
{
  static std::string calls;
  auto saved_free_ns = mm_free_numstack_hook;
  auto saved_init_ns = mm_init_numstack_hook;
  mm_reclaim_dead_clauses_hook = [] { calls += "R"; };
  mm_free_numstack_hook = [](worker *) { calls += "F"; };
  mm_init_numstack_hook = [](worker *) { calls += "I"; };
  worker without_node{};
  struct { int level; const char *want; } cases[] = {
    {0, "R"},
    {1, "FRI"},      // reclaiming happens inside defragmentation
    {2, "FRI"},
  };
  for (auto &c : cases) {
    calls.clear();
    trimcore(&without_node, c.level);
    EXPECT_EQ(calls, c.want) << "level " << c.level;
  }
  mm_free_numstack_hook = saved_free_ns;
  mm_init_numstack_hook = saved_init_ns;
}

TEST_F(Memman, StatisticsBinsRiseAndFall)
{
  struct { int bin; std::size_t size, charged; } cases[] = {
    {MM_BIN_ATOM, 1, 8}, {MM_BIN_INSTANCE, 121, 128}, {MM_BIN_NUMSTACK, 5000, 5000}, {MM_BIN_FLI_STACK, 70000, 70000},
  };
  for (auto &c : cases) {
    std::size_t bin = mm().mm_bins[c.bin], in_use = mm().total_in_use;
    int cls = mm_size_class(c.size), dist = mm().alloc_dist[cls];
    void *p = checkalloc(c.size, mm_code(c.bin));
    EXPECT_EQ(mm().mm_bins[c.bin], bin + c.charged) << mm_msgs[c.bin];
    EXPECT_EQ(mm().total_in_use, in_use + c.charged);
    EXPECT_EQ(mm().alloc_dist[cls], dist + 1);
    checkdealloc(p, c.size, mm_code(c.bin));
    EXPECT_EQ(mm().mm_bins[c.bin], bin) << mm_msgs[c.bin];
    EXPECT_EQ(mm().total_in_use, in_use);
    EXPECT_EQ(mm().alloc_dist[cls], dist);
  }
  // The interface entries charge FLI stack space or misc. space.
  void *p = vr_checkalloc(100, 1);
  EXPECT_EQ(mm().mm_bins[MM_BIN_FLI_STACK], 104u);
  vr_checkdealloc(p, 100, 1);
  EXPECT_EQ(mm().mm_bins[MM_BIN_FLI_STACK], 0u);
}

TEST_F(Memman, StatisticsTermHasOneIntegerPerBin)
{
  void *p = checkalloc(1000, mm_code(MM_BIN_BTREE));
  static TAGGED heap[256];
  worker w{};
  w.global_top = heap;
  TAGGED t = mm_statistics(&w);
  ASSERT_TRUE(IsStructure(t));
  TAGGED *s = TagToSTR(t);
  EXPECT_EQ(s[0], MakeFunctor(atom_dot, 30));
  for (int i = 0; i < MM_BINS; i++) {
    ASSERT_TRUE(IsSmall(s[1 + i])) << "bin " << i;
    EXPECT_EQ(static_cast<std::size_t>(GetSmall(s[1 + i])), mm().mm_bins[i]) << "bin " << i;
  }
  EXPECT_EQ(GetSmall(s[1 + MM_BIN_BTREE]), 1000);
  checkdealloc(p, 1000, mm_code(MM_BIN_BTREE));
}

TEST_F(Memman, StackSizeTableForGrowthFactor62)
{
  init_stack_sizes(62);
  ASSERT_EQ(nvalid_stack_sizes, 25);
  const std::uint32_t first[] = {32768, 53088, 86016, 139360, 225792};
  for (int i = 0; i < 5; i++)
    EXPECT_EQ(valid_stack_sizes[i], first[i]) << "entry " << i;
  EXPECT_EQ(valid_stack_sizes[23], 2160419584u);
  EXPECT_EQ(valid_stack_sizes[24], 3499879744u);
  for (int i = 1; i < 25; i++) {
    EXPECT_EQ(valid_stack_sizes[i] % 32, 0u);
    EXPECT_GT(valid_stack_sizes[i], valid_stack_sizes[i - 1]);
  }
  struct { std::size_t in, out; } cases[] = {
    {1, 32768}, {32768, 32768}, {32769, 53088}, {53088, 53088}, {3499879744u, 3499879744u},
  };
  for (auto &c : cases)
    EXPECT_EQ(adjust_stack_size(c.in), c.out) << "size " << c.in;
  EXPECT_TRUE(faults([] { adjust_stack_size(3499879745u); }));
  EXPECT_EQ(mm().culprit, MM_BIN_STACK);

  // A rebuilt table replaces the old one without leaking it.
  std::size_t misc = mm().mm_bins[MM_BIN_MISC];
  init_stack_sizes(10);
  EXPECT_GT(nvalid_stack_sizes, 25);
  auto table_bytes = [](int n) { return (n * 4u + 7) & ~7u; };
  EXPECT_EQ(mm().mm_bins[MM_BIN_MISC], misc - table_bytes(25) + table_bytes(nvalid_stack_sizes));
}

TEST_F(Memman, StackAreasAreBigBlocksOfValidSizes)
{
  init_stack_sizes(62);
  std::size_t actual = 0;
  int before = arena.allocs;
  char *area = static_cast<char *>(stackalloc(40000, &actual, 1));
  EXPECT_EQ(actual, 53088u);
  EXPECT_EQ(arena.allocs, before + 1);
  EXPECT_EQ(mm().mm_bins[MM_BIN_STACK], 53088u);
  EXPECT_EQ(mm().link[1].bigmem, area);
  std::memset(area, 7, actual);

  std::size_t grown = 0;
  char *moved = static_cast<char *>(stackrealloc(area, actual, 60000, &grown, 1));
  EXPECT_EQ(grown, 86016u);
  EXPECT_EQ(moved[53087], 7);
  EXPECT_EQ(arena.forced_frees, 1) << "the old area goes back with force";
  EXPECT_EQ(mm().mm_bins[MM_BIN_STACK], 86016u);

  std::size_t same = 0;
  EXPECT_EQ(stackrealloc(moved, grown, 86000, &same, 1), moved);
  EXPECT_EQ(same, grown);

  arena.refuse_alloc = true;
  std::size_t shrunk = 0;
  EXPECT_EQ(stackrealloc(moved, grown, 32768, &shrunk, 1), moved) << "a refused shrink keeps the area";
  EXPECT_EQ(shrunk, grown);
  EXPECT_TRUE(faults([&] { std::size_t a; stackrealloc(moved, grown, 200000, &a, 1); }));

  stackdealloc(moved, grown, 1);
  EXPECT_EQ(arena.forced_frees, 2);
  EXPECT_EQ(mm().mm_bins[MM_BIN_STACK], 0u);
}

TEST_F(Memman, InterfaceBlocksCarryAHeader)
{
  struct { std::size_t size, total; } cases[] = {{0, 9}, {1, 9}, {100, 108}};
  for (auto &c : cases) {
    std::uint32_t *p = static_cast<std::uint32_t *>(VR_malloc(c.size));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p[-2], c.total) << "size " << c.size;
    EXPECT_EQ(p[-1], VR_MALLOC_MARKER);
    EXPECT_EQ(mm().mm_bins[MM_BIN_VR_MALLOC], (c.total + 7) & ~7u);
    VR_free(p);
    EXPECT_EQ(mm().mm_bins[MM_BIN_VR_MALLOC], 0u);
  }
  VR_free(nullptr);
  EXPECT_EQ(VR_realloc(nullptr, 10), nullptr);
  EXPECT_EQ(VR_malloc(SIZE_MAX - 3), nullptr) << "header arithmetic must not wrap";

  char *p = static_cast<char *>(VR_malloc(10));
  std::strcpy(p, "contents");
  char *q = static_cast<char *>(VR_realloc(p, 5000));
  ASSERT_NE(q, nullptr);
  EXPECT_STREQ(q, "contents");
  EXPECT_EQ(reinterpret_cast<std::uint32_t *>(q)[-2], 5008u);
  char *r = static_cast<char *>(VR_realloc(q, 0));
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(reinterpret_cast<std::uint32_t *>(r)[-2], 9u);
  VR_free(r);
  EXPECT_EQ(mm().mm_bins[MM_BIN_VR_MALLOC], 0u);
}

TEST_F(Memman, InterfaceBlockWithoutMarkerIsAFault)
{
  std::uint32_t *raw = static_cast<std::uint32_t *>(checkalloc(64, MISC));
  raw[0] = 64;
  raw[1] = 0x12345678;
  EXPECT_TRUE(faults([&] { VR_realloc(raw + 2, 100); }));
  EXPECT_EQ(mm().culprit, MM_BIN_VR_MALLOC);
  EXPECT_TRUE(faults([&] { VR_free(raw + 2); }));
  // A block freed twice has lost its marker to the free list's size word.
  void *p = VR_malloc(32);
  VR_free(p);
  EXPECT_TRUE(faults([&] { VR_free(p); }));
}

TEST_F(Memman, InterfaceBlockWithoutMarkerEndsTheProcessOutsideAnAbortPoint)
{
  use_fresh_process_death_tests();
  std::uint32_t *raw = static_cast<std::uint32_t *>(checkalloc(64, MISC));
  raw[1] = 0;
  EXPECT_EXIT(VR_realloc(raw + 2, 100), ::testing::ExitedWithCode(255), "insufficient memory");
}

TEST_F(Memman, InterfaceAllocatorNeedsAnInitialisedManager)
{
  memman_deinit();
  EXPECT_EQ(VR_malloc(10), nullptr);
  EXPECT_EQ(memman_init(), 0);
  EXPECT_NE(VR_malloc(10), nullptr);
  EXPECT_EQ(memman_init(), 0) << "a second init is a no-op";
  EXPECT_EQ(arena.allocs, 2);
}

TEST_F(Memman, DeinitGivesEveryBigBlockBackWithForce)
{
  checkalloc(4u << 20, MISC);
  checkalloc(4u << 20, MISC);
  ASSERT_EQ(mm().dir_pop, 3);
  memman_deinit();
  EXPECT_EQ(arena.forced_frees, 3);
  EXPECT_EQ(mem_initialized, 0);
  EXPECT_EQ(memman_init(), 0) << "a later init starts afresh";
  EXPECT_EQ(mm().total_in_use, 0u);
  EXPECT_EQ(mm().dir_pop, 1);
}

TEST_F(Memman, ReportFlagsBlocksOutsideTheirClass)
{
  char *a = static_cast<char *>(checkalloc(1000, MISC));
  checkalloc(8, MISC);
  checkdealloc(a, 1000, MISC);
  EXPECT_EQ(minfo_guts(1), 0);
  mm().free_arr[mm_size_class(1000)]->size = 4000;  // corrupt it
  testing::internal::CaptureStderr();
  testing::internal::CaptureStdout();
  EXPECT_EQ(minfo_guts(1), 1);
  std::string out = testing::internal::GetCapturedStdout() + testing::internal::GetCapturedStderr();
  EXPECT_NE(out.find("expected 8-aligned size in [512,1024), found 4000"), std::string::npos) << out;
  mm().free_arr[mm_size_class(1000)]->size = 1000;
}

/* The switches that put the manager over the system allocator. */
TEST_F(Memman, SystemAllocatorSwitches)
{
  struct {
    const char *use, *mallocs, *checkalloc;
    int hints;
    int want_mallocs, want_checkalloc;
  } cases[] = {
    {nullptr, nullptr, nullptr, 0, 0, 0},
    {"yes", nullptr, nullptr, 0, 1, 1},
    {"yes", "no", nullptr, 0, 0, 1},
    {"no", nullptr, "Yes", 0, 0, 1},
    {nullptr, "YES", nullptr, 0, 1, 0},
    {nullptr, nullptr, nullptr, 1, 1, 1},  // hints 1 forces the system allocator
    {"no", nullptr, nullptr, 1, 1, 1},     // ... whatever VR_USE_MALLOC says
  };
  for (auto &c : cases) {
    memman_deinit();
    vr_use_malloc_option = -1;
    auto set = [](const char *name, const char *v) { v ? setenv(name, v, 1) : unsetenv(name); };
    set("VR_USE_MALLOC", c.use);
    set("VR_MALLOC_MALLOCS", c.mallocs);
    set("VR_CHECKALLOC_MALLOCS", c.checkalloc);
    memman_set_hooks_raw(c.hints, arena_init, arena_deinit, arena_alloc, arena_free, nullptr);
    ASSERT_EQ(memman_init(), 0);
    EXPECT_EQ(vr_malloc_mallocs, c.want_mallocs) << (c.use ? c.use : "-") << " hints " << c.hints;
    EXPECT_EQ(vr_checkalloc_mallocs, c.want_checkalloc) << (c.use ? c.use : "-") << " hints " << c.hints;
  }
}

TEST_F(Memman, CheckallocModeKeepsCountsOverTheSystemAllocator)
{
  memman_deinit();
  setenv("VR_CHECKALLOC_MALLOCS", "yes", 1);
  ASSERT_EQ(memman_init(), 0);
  ASSERT_EQ(vr_checkalloc_mallocs, 1);
  EXPECT_EQ(mm().directory, nullptr);
  void *p = checkalloc(13, mm_code(MM_BIN_ATOM));
  EXPECT_EQ(mm().total_in_use, 13u) << "sizes are not rounded in this mode";
  EXPECT_EQ(mm().mm_bins[MM_BIN_ATOM], 13u);
  p = checkrealloc(p, 13, 50, mm_code(MM_BIN_ATOM));
  EXPECT_EQ(mm().mm_bins[MM_BIN_ATOM], 50u);
  checkdealloc(p, 50, mm_code(MM_BIN_ATOM));
  EXPECT_EQ(mm().total_in_use, 0u);
  void *z = checkalloc(0, MISC);
  EXPECT_NE(z, nullptr);
  checkdealloc(z, 0, MISC);
}

TEST_F(Memman, TrimcoreBuiltinTakesASmallIntegerLevel)
{
  static TAGGED heap[64];
  worker w{};
  w.global_top = heap;
  w.term[0] = atom_nil;
  EXPECT_EQ(prolog_trimcore(&w), 0);
  std::int64_t count = eglobal->stats.defrag_count;
  w.term[0] = MakeSmall_checked(1);
  EXPECT_EQ(prolog_trimcore(&w), 1);
  EXPECT_EQ(eglobal->stats.defrag_count, count + 1);
}

TEST_F(Memman, ReclaimMiscUsageUnifiesAThirteenElementList)
{
  // heap[0] is the guard word the real heap keeps before its first cell.
  static TAGGED block[257];
  TAGGED *heap = block + 1;
  block[0] = HEAP_GUARD_WORD;
  worker w{};
  w.heap_start = heap;
  w.global_top = heap;
  eglobal->stats.reclaim_dead_clauses_count = 3;
  eglobal->stats.trim_bigmems_time = 77;
  std::int64_t saved_total = eglobal->clauses_total;
  eglobal->clauses_total = 5000000000LL;  // beyond 32 bits
  heap[0] = PointerToTerm(&heap[0]);      // an unbound variable
  w.global_top = heap + 1;
  w.term[0] = PointerToTerm(&heap[0]);
  ASSERT_EQ(prolog_reclaim_misc_usage(&w), 1);
  TAGGED l = deref(w.term[0]);
  std::vector<TAGGED> items;
  while (IsList(l)) {
    items.push_back(TagToLST(l)[0]);
    l = deref(TagToLST(l)[1]);
  }
  EXPECT_EQ(l, atom_nil);
  ASSERT_EQ(items.size(), 13u);
  EXPECT_EQ(items[0], MakeSmall_checked(3));
  EXPECT_EQ(items[12], MakeSmall_checked(77));
  EXPECT_TRUE(IsStructure(items[6])) << "a large counter becomes a boxed integer";
  eglobal->clauses_total = saved_total;
}

}  // namespace
