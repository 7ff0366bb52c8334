// The two stack blocks: sizes from the settings, layout, bitmaps, margins,
// re-division and the usage figures.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "stacks.h"
#include "worker_fixture.h"

namespace {

// ---- Pure formulas ----

TEST(StackFormulas, BlockSizes)
{
  struct Case {
    int h, l, words;
  };
  const Case heap[] = {
      {4096, 4096, 8704},  // the defaults: 16384 bytes each
      {1, 0, 17},          // a partial group of 16 takes a whole one
      {16, 0, 17},
      {16, 1, 34},
      {0, 0, 0},
  };
  for (const Case &c : heap)
    EXPECT_EQ(required_heap_size(c.h, c.l), c.words) << c.h << "+" << c.l;
  EXPECT_EQ(heap_block_words(4096, 4096), 8704 + HEAP_GUARD_WORDS);

  struct ChoiceCase {
    int n, words;
  };
  const ChoiceCase choice[] = {{8192, 8448}, {1, 33}, {32, 33}, {33, 66}, {0, 0}};
  for (const ChoiceCase &c : choice)
    EXPECT_EQ(required_choice_size(c.n), c.words) << c.n;
}

TEST(StackFormulas, ChoiceBitmapCoversEveryWordBelowIt)
{
  std::vector<TAGGED> block(9000);
  struct Case {
    int n, bitmap_words;
  };
  const Case cases[] = {{33, 1}, {34, 2}, {66, 2}, {67, 3}, {8192, 249}};
  for (const Case &c : cases)
    EXPECT_EQ(block.data() + c.n - choice_bitmask_start(block.data(), block.data() + c.n), c.bitmap_words)
        << "block of " << c.n << " words";
  // One bit per word: the bitmap must cover the words below it and be no
  // larger than needed.
  for (int n = 1; n <= 9000; ++n) {
    const TAGGED *cs = choice_bitmask_start(block.data(), block.data() + n);
    const long bitmap = block.data() + n - cs;
    ASSERT_LE(n - bitmap, 32 * bitmap) << "block of " << n << " words";
    ASSERT_GT(n - (bitmap - 1), 32 * (bitmap - 1)) << "block of " << n << " words: bitmap too large";
  }
}

// ---- Dividing a heap-and-local block (no memory manager needed) ----

struct Split : ::testing::Test {
  std::vector<TAGGED> block;
  worker w{};

  void make_block(std::size_t words)
  {
    block.assign(words, 0xDEADBEEF);
    set_heap_block(&w, block.data(), words * sizeof(TAGGED));
    w.stack_start = w.stack_end = w.local_top = w.heap_start;
  }
};

TEST_F(Split, SetHeapBlockWritesTheGuardOverWhateverWasThere)
{
  block.assign(64, CVA_MARKER);
  set_heap_block(&w, block.data(), 64 * sizeof(TAGGED));
  EXPECT_EQ(w.heap_start, block.data() + HEAP_GUARD_WORDS);
  EXPECT_EQ(w.heap_end, block.data() + 64);
  for (int i = 1; i <= HEAP_GUARD_WORDS; ++i)
    EXPECT_NE(w.heap_start[-i], CVA_MARKER) << "guard word " << i << " before heap_start";
  EXPECT_EQ(heap_block_start(&w), block.data());
  EXPECT_EQ(heap_block_bytes(&w), 64 * sizeof(TAGGED));
}

TEST_F(Split, SharesTheSpareRoomInProportionToTheMinimums)
{
  struct Case {
    const char *why;
    int min_heap, min_stack;
    std::size_t usable;  // words from heap_start to heap_end
    long heap, stack;
  };
  const Case cases[] = {
      {"exact fit", 1024, 1024, 2176, 1024, 1024},
      {"equal minimums share equally", 1024, 1024, 2176 + 17 * 100, 1824, 1824},
      {"a quarter of the room to the stack", 3000, 1000, 4250 + 17 * 64 + 5, 3768, 1256},
      {"minimums rounded up to 16 together", 1000, 10, 1088, 1014, 10},
  };
  for (const Case &c : cases) {
    make_block(c.usable + HEAP_GUARD_WORDS);
    ASSERT_EQ(split_heap_and_stack(&w, c.min_heap, c.min_stack, 0), 1) << c.why;
    EXPECT_EQ(w.stack_start - w.heap_start, c.heap) << c.why;
    EXPECT_EQ(w.stack_end - w.stack_start, c.stack) << c.why;
    EXPECT_EQ(w.heap_warn + HEAP_WARN_MARGIN, w.stack_start) << c.why;
    EXPECT_EQ(w.stack_warn + STACK_WARN_MARGIN, w.stack_end) << c.why;
    EXPECT_GE((w.heap_end - w.stack_end) * 16, w.stack_end - w.heap_start) << c.why << ": bitmap too small";
    for (TAGGED *p = w.stack_end; p < w.heap_end; ++p)
      ASSERT_EQ(*p, 0u) << c.why << ": bitmap word " << (p - w.stack_end) << " not cleared";
  }
}

TEST_F(Split, TooSmallChangesNothing)
{
  make_block(2176 - 1 + HEAP_GUARD_WORDS);
  w.heap_warn_soft = w.heap_start;
  unsigned char before[sizeof(worker)];
  std::memcpy(before, static_cast<void *>(&w), sizeof w);
  const std::vector<TAGGED> contents = block;
  EXPECT_EQ(split_heap_and_stack(&w, 1024, 1024, 0), 0);
  EXPECT_EQ(std::memcmp(before, static_cast<void *>(&w), sizeof w), 0) << "a refused division changed the worker";
  EXPECT_EQ(contents, block) << "a refused division changed the block";
}

TEST_F(Split, MovesTheLocalStackInUse)
{
  make_block(2176 + 17 * 200 + HEAP_GUARD_WORDS);
  ASSERT_EQ(split_heap_and_stack(&w, 2048, 128, 0), 1);
  for (int i = 0; i < 40; ++i)
    w.stack_start[i] = 1000 + i;
  TAGGED *const heap_warn_soft = w.heap_start + 3;
  w.heap_warn_soft = heap_warn_soft;
  // Giving the local stack more room moves it down (overlapping move).
  ASSERT_EQ(split_heap_and_stack(&w, 1024, 1024, 40), 1);
  for (int i = 0; i < 40; ++i)
    ASSERT_EQ(w.stack_start[i], TAGGED(1000 + i)) << "local word " << i;
  // ... and back up again.
  ASSERT_EQ(split_heap_and_stack(&w, 2048, 128, 40), 1);
  for (int i = 0; i < 40; ++i)
    ASSERT_EQ(w.stack_start[i], TAGGED(1000 + i)) << "local word " << i << " after moving up";
  EXPECT_EQ(w.heap_warn_soft, heap_warn_soft) << "the soft limit is the caller's business";
}

// ---- Blocks of a real worker ----

struct Stacks : WorkerFixture {
  bool create_in_setup() const override { return false; }
};

// Smallest stack-table size holding `bytes`.
std::size_t table_size(std::size_t bytes) { return adjust_stack_size(bytes); }

TEST_F(Stacks, DefaultSizes)
{
  start();
  // 8704 words of stacks and bitmap (plus the guard), 32768 bytes of trail
  // and choicepoints, each rounded up to the table.
  EXPECT_EQ(eglobal->min_heap, table_size(4 * (8704 + HEAP_GUARD_WORDS)));
  EXPECT_EQ(eglobal->min_choice, table_size(32768));
  EXPECT_EQ(eglobal->min_choice, 32768u) << "32768 bytes is a table size itself";
  EXPECT_EQ(heap_block_bytes(w), eglobal->min_heap);
  EXPECT_EQ((w->trail_end - w->trail_start) * 4, eglobal->min_choice);
  EXPECT_GE(w->stack_start - w->heap_start, 4096);
  EXPECT_GE(w->stack_end - w->stack_start, 4096);
  ASSERT_GE(nvalid_stack_sizes, 2);
  EXPECT_EQ(valid_stack_sizes[1], 53088u) << "growth 62%: 32768 * 1.62 rounded up to 32 bytes";
}

TEST_F(Stacks, SizesFromTheSettings)
{
  struct Case {
    const char *why;
    const char *global, *local, *choice, *trail, *growth;
    unsigned h, l, choice_bytes, second_table_size;
  };
  const Case cases[] = {
      {"below the minimum", "1000", "0", "100", "16383", "5", 4096, 4096, 32768, 36064},
      {"no digits read as 0", "lots", "-1", "12Q", "", "x", 4096, 4096, 32768, 36064},
      {"suffixes", "64K", "1M", "32K", " 16 K", "100", 16384, 262144, 32768 + 16384, 65536},
      {"plain bytes", "40000", "20000", "20000", "30000", "62", 10000, 5000, 50000, 53088},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.why);
    setenv("GLOBALSTKSIZE", c.global, 1);
    setenv("LOCALSTKSIZE", c.local, 1);
    setenv("CHOICESTKSIZE", c.choice, 1);
    setenv("TRAILSTKSIZE", c.trail, 1);
    setenv("GROWTHFACTOR", c.growth, 1);
    start();
    EXPECT_EQ(valid_stack_sizes[1], c.second_table_size);
    EXPECT_EQ(eglobal->min_heap, table_size(4 * static_cast<std::size_t>(heap_block_words(c.h, c.l))));
    EXPECT_EQ(eglobal->min_choice, table_size(c.choice_bytes));
    EXPECT_GE(w->stack_start - w->heap_start, static_cast<long>(c.h));
    EXPECT_GE(w->stack_end - w->stack_start, static_cast<long>(c.l));
    dealloc_worker(w);
    w = nullptr;
  }
}

TEST_F(Stacks, LayoutMarginsAndBitmaps)
{
  start();
  // heap-and-local block
  EXPECT_EQ(w->heap_start - heap_block_start(w), HEAP_GUARD_WORDS);
  EXPECT_LT(w->heap_start, w->stack_start);
  EXPECT_LT(w->stack_start, w->stack_end);
  EXPECT_LT(w->stack_end, w->heap_end);
  EXPECT_EQ(w->heap_warn + 1152, w->stack_start);
  EXPECT_EQ(w->stack_warn + 528, w->stack_end);
  EXPECT_EQ(w->heap_warn_soft, w->heap_warn);
  EXPECT_EQ(w->int_heap_warn, w->heap_warn);
  EXPECT_GE((w->heap_end - w->stack_end) * 16, w->stack_end - w->heap_start);
  for (TAGGED *p = w->stack_end; p < w->heap_end; ++p)
    ASSERT_EQ(*p, 0u) << "heap bitmap word " << (p - w->stack_end);
  // trail-and-choice block
  EXPECT_EQ(w->choice_end, w->trail_start);
  EXPECT_EQ(w->choice_start, choice_bitmask_start(w->trail_start, w->trail_end));
  EXPECT_EQ(w->trail_end - w->choice_start, (8192 - 1) / 33 + 1);
  for (TAGGED *p = w->choice_start; p < w->trail_end; ++p)
    ASSERT_EQ(*p, 0u) << "choice bitmap word " << (p - w->choice_start);
}

TEST_F(Stacks, UsageReportsAgreeOnFreeRoom)
{
  start();
  std::int64_t trail_used, trail_free, choice_used, choice_free;
  trail_usage(w, &trail_used, &trail_free);
  choice_usage(w, &choice_used, &choice_free);
  EXPECT_EQ(trail_used, 4) << "the trail's first word";
  EXPECT_EQ(choice_used, 36) << "the bottom choicepoint";
  const std::int64_t block = (w->trail_end - w->trail_start) * 4;
  EXPECT_EQ(trail_free, (block - 4 - 36) / 2);
  EXPECT_EQ(choice_free, trail_free);

  // A temporary fail_alt choicepoint below node is not counted.
  node *tmp = reinterpret_cast<node *>(reinterpret_cast<TAGGED *>(w->node_) - 6);
  tmp->next_alt = fail_alt;
  w->node_ = tmp;
  w->trail_top += 5;
  trail_usage(w, &trail_used, &trail_free);
  choice_usage(w, &choice_used, &choice_free);
  EXPECT_EQ(trail_used, 24);
  EXPECT_EQ(choice_used, 36) << "the temporary choicepoint was counted";
  EXPECT_EQ(choice_free, trail_free);
}

TEST_F(Stacks, SegmentNodeIsTheNewestMarkedChoicepoint)
{
  start();
  node *bottom = w->node_;
  calculate_segment_node(w);
  EXPECT_EQ(w->segment_node, bottom);

  // Two choicepoints of one saved argument on top; only the lower one
  // carries the segment mark.
  node *marked = reinterpret_cast<node *>(reinterpret_cast<TAGGED *>(bottom) - 7);
  node *newest = reinterpret_cast<node *>(reinterpret_cast<TAGGED *>(marked) - 7);
  try_node *alt = make_try_node(1, failcode);
  for (node *b : {marked, newest}) {
    b->next_alt = alt;
    b->trail_top = w->trail_top;
  }
  marked->trail_top = reinterpret_cast<TAGGED *>(reinterpret_cast<std::uintptr_t>(w->trail_top) | 1);
  w->node_ = newest;
  calculate_segment_node(w);
  EXPECT_EQ(w->segment_node, marked);
  checkdealloc(alt, TRY_NODE_SIZE, mm_code(MM_BIN_TRY_NODE));
}

} // namespace
