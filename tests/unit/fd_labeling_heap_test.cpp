// The labeling constraint's heap: order by (key, variable index), the
// positions kept in vheap, entries taken out from anywhere (including the
// case where the entry moved into the hole must go up, not down), keys
// that move either way, and a bottom-up build; every state is checked
// against the rules and the top against a scan, on hand-made cases and on
// random sequences of operations.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "labeling.h"

namespace {

// A block's heap part over owned arrays.
struct Heap {
  std::vector<long> key;
  std::vector<int> heap, vheap;
  labeling_data d{};

  explicit Heap(std::vector<long> keys) : key(std::move(keys)), heap(key.size()), vheap(key.size())
  {
    for (std::size_t i = 0; i < key.size(); i++)
      heap[i] = vheap[i] = static_cast<int>(i);
    d.key = key.data();
    d.heap = heap.data();
    d.vheap = vheap.data();
    d.nvars = d.heapsize = d.heapsize_committed = static_cast<int>(key.size());
    labeling_heap_build(&d);
  }

  // The index a scan of the entries still in the heap would choose.
  int scan_best() const
  {
    int best = heap[0];
    for (int p = 1; p < d.heapsize; p++)
      if (cmp_items(&d, heap[p], best))
        best = heap[p];
    return best;
  }

  // Empty when every rule holds, else what broke.
  std::string broken() const
  {
    std::vector<int> seen(key.size(), 0);
    for (std::size_t p = 0; p < heap.size(); p++) {
      if (heap[p] < 0 || heap[p] >= d.nvars || seen[heap[p]]++)
        return "heap[0..nvars) is no permutation at " + std::to_string(p);
      if (vheap[heap[p]] != static_cast<int>(p))
        return "vheap of index " + std::to_string(heap[p]) + " is not " + std::to_string(p);
    }
    for (int p = 1; p < d.heapsize; p++)
      if (cmp_items(&d, heap[p], heap[(p - 1) / 2]))
        return "position " + std::to_string(p) + " comes before its parent";
    return "";
  }
};

TEST(LabelingHeap, EqualKeysGoToTheEarlierVariable)
{
  Heap h({5, 3, 3, 7, 3});
  EXPECT_EQ(h.broken(), "");
  std::vector<int> order;
  while (h.d.heapsize > 0) {
    order.push_back(h.heap[0]);
    labeling_heap_remove(&h.d, 0);
    ASSERT_EQ(h.broken(), "");
  }
  EXPECT_EQ(order, (std::vector<int>{1, 2, 4, 0, 3}));
}

// Removing from the middle: the last entry moved into the hole has a key
// below the hole's parent, so it must go up.  Sifting it down only would
// leave index 6 (key 4) under index 1 (key 10) and the next choice wrong
// once index 0 is gone.
TEST(LabelingHeap, RemovalFromTheMiddleSiftsUpWhenNeeded)
{
  Heap h({1, 10, 2, 11, 12, 3, 4});
  ASSERT_EQ(h.heap, (std::vector<int>{0, 1, 2, 3, 4, 5, 6})) << "already in heap order";
  labeling_heap_remove(&h.d, 3); // index 3, key 11, a child of index 1
  EXPECT_EQ(h.broken(), "");
  EXPECT_EQ(h.d.heapsize, 6);
  EXPECT_EQ(h.vheap[3], 6) << "the removed index waits just past the end";
  labeling_heap_remove(&h.d, 0);
  EXPECT_EQ(h.heap[0], 2);
  labeling_heap_remove(&h.d, 0);
  EXPECT_EQ(h.heap[0], 5);
  labeling_heap_remove(&h.d, 0);
  EXPECT_EQ(h.heap[0], 6) << "key 4 before key 10";
  EXPECT_EQ(h.broken(), "");
}

// A key that moves either way is put back in place from its position.
TEST(LabelingHeap, KeysMovingEitherWay)
{
  struct Case {
    const char *why;
    int index;
    long key;
    int top;
  } cases[] = {
      {"a bound grows: the top goes down", 0, 20, 2},
      {"a size shrinks: a leaf goes up to the top", 6, 0, 6},
      {"a tie with the top: the earlier index stays", 3, 1, 0},
      {"the top tied with a child: the earlier index keeps the top", 0, 2, 0},
      {"a leaf whose key grows stays a leaf", 6, 10, 0},
  };
  for (const Case &c : cases) {
    Heap h({1, 10, 2, 11, 12, 3, 4});
    h.key[c.index] = c.key;
    labeling_heap_fix(&h.d, h.vheap[c.index]);
    EXPECT_EQ(h.broken(), "") << c.why;
    EXPECT_EQ(h.heap[0], c.top) << c.why;
  }
}

TEST(LabelingHeap, EdgeSizes)
{
  Heap none({});
  EXPECT_EQ(none.broken(), "");
  Heap one({7});
  labeling_heap_remove(&one.d, 0);
  EXPECT_EQ(one.d.heapsize, 0);
  EXPECT_EQ(one.broken(), "");
  Heap two({9, 8});
  EXPECT_EQ(two.heap[0], 1);
  labeling_heap_remove(&two.d, 1); // the last position: nothing moves
  EXPECT_EQ(two.heap[0], 1);
  EXPECT_EQ(two.broken(), "");
}

// A rebuild from a larger (committed) size finds every entry again, in
// order, whatever was removed and moved since.
TEST(LabelingHeap, RebuildAfterRemovalsRestoresEveryEntry)
{
  Heap h({6, 2, 9, 2, 5, 1, 7, 3});
  for (int index : {3, 5, 0})
    labeling_heap_remove(&h.d, h.vheap[index]);
  h.key[4] = 0;
  labeling_heap_fix(&h.d, h.vheap[4]);
  ASSERT_EQ(h.broken(), "");
  h.d.heapsize = h.d.heapsize_committed;
  labeling_heap_build(&h.d);
  EXPECT_EQ(h.broken(), "");
  std::vector<int> order;
  while (h.d.heapsize > 0) {
    order.push_back(h.heap[0]);
    labeling_heap_remove(&h.d, 0);
  }
  EXPECT_EQ(order, (std::vector<int>{4, 5, 1, 3, 7, 0, 6, 2}));
}

// Random operations (removal anywhere, keys up or down, rebuilds) on
// random keys with many ties: after each, the rules hold and the top is
// the scan's choice.
TEST(LabelingHeap, RandomOperationsKeepOrder)
{
  std::mt19937 rng(110);
  for (int round = 0; round < 300; round++) {
    const int n = 1 + static_cast<int>(rng() % 40);
    const long spread = 1 + static_cast<long>(rng() % 8);
    std::vector<long> keys(n);
    for (long &k : keys)
      k = static_cast<long>(rng() % spread);
    Heap h(keys);
    ASSERT_EQ(h.broken(), "") << "round " << round << " build";
    for (int step = 0; step < 3 * n; step++) {
      const int op = static_cast<int>(rng() % 5);
      if (h.d.heapsize == 0 || op == 4) {
        h.d.heapsize = static_cast<int>(rng() % (n + 1));
        for (int p = 0; p < h.d.heapsize; p++)
          h.key[h.heap[p]] = static_cast<long>(rng() % spread);
        labeling_heap_build(&h.d);
      } else {
        const int pos = static_cast<int>(rng() % h.d.heapsize);
        if (op < 2) {
          labeling_heap_remove(&h.d, pos);
        } else {
          h.key[h.heap[pos]] += op == 2 ? 1 + static_cast<long>(rng() % 3) : -1 - static_cast<long>(rng() % 3);
          labeling_heap_fix(&h.d, pos);
        }
      }
      ASSERT_EQ(h.broken(), "") << "round " << round << " step " << step << " op " << op;
      if (h.d.heapsize > 0) {
        ASSERT_EQ(h.heap[0], h.scan_best()) << "round " << round << " step " << step;
      }
    }
  }
}

} // namespace
