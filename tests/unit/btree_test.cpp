// The address B-tree: insertion with splits, range deletion with joins and
// balancing, and nearest-not-above search, each checked against a
// std::multimap model and a walker that verifies the tree's invariants.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "btree.h"
#include "datadefs.h"
#include "memman.h"

namespace {

using model = std::multimap<std::uint32_t, TAGGED>;

struct BTree : ::testing::Test {
  btree *root = nullptr;
  model ref;

  void SetUp() override { ASSERT_EQ(memman_init(), 0); }
  void TearDown() override
  {
    btree_free(&root);
    EXPECT_EQ(eglobal->mm.mm_bins[MM_BIN_BTREE], 0u) << "B-tree nodes left allocated";
    memman_deinit();
  }

  void insert(std::uint32_t key, TAGGED value)
  {
    btree_insert(&root, key, value);
    ref.emplace_hint(ref.upper_bound(key), key, value);
  }

  void erase(std::uint32_t a, std::uint32_t b)
  {
    btree_delete(&root, a, b);
    std::uint32_t lo = std::min(a, b), hi = std::max(a, b);
    ref.erase(ref.lower_bound(lo), ref.upper_bound(hi));
  }

  // Walks the subtree, appending its entries in order; returns a complaint
  // or "" and the leaf depth through *depth.
  std::string walk(const btree *b, bool is_root, std::uint32_t lb, std::uint32_t ub, int level, int *leaf_depth,
                   std::vector<std::pair<std::uint32_t, TAGGED>> &out)
  {
    std::ostringstream why;
    if (btree_is_leaf(b)) {
      if (b->keynum < 1 || b->keynum > BTREE_LEAF_KEYS)
        return (why << "leaf with " << b->keynum << " keys", why.str());
      if (*leaf_depth < 0)
        *leaf_depth = level;
      else if (*leaf_depth != level)
        return (why << "leaves at depths " << *leaf_depth << " and " << level, why.str());
      for (int i = 0; i < b->keynum; ++i) {
        std::uint32_t k = b->data.l.key[i];
        if (k < lb || k > ub)
          return (why << "leaf key " << k << " outside [" << lb << ", " << ub << "]", why.str());
        if (i > 0 && k < b->data.l.key[i - 1])
          return (why << "leaf keys descend at " << i, why.str());
        out.emplace_back(k, b->data.l.val[i]);
      }
      return "";
    }
    if (b->keynum < (is_root ? 1 : 0) || b->keynum > BTREE_INNER_KEYS)
      return (why << "inner node with " << b->keynum << " keys", why.str());
    for (int i = 0; i < b->keynum; ++i)
      if (i > 0 && b->data.n.key[i] < b->data.n.key[i - 1])
        return (why << "separators descend at " << i, why.str());
    for (int i = 0; i <= b->keynum; ++i) {
      if (b->data.n.ptr[i] == nullptr)
        return (why << "null child " << i, why.str());
      std::uint32_t cl = i > 0 ? b->data.n.key[i - 1] : lb;
      std::uint32_t cu = i < b->keynum ? b->data.n.key[i] : ub;
      std::string s = walk(b->data.n.ptr[i], false, cl, cu, level + 1, leaf_depth, out);
      if (!s.empty())
        return s;
    }
    return "";
  }

  // The tree holds exactly the model's entries in the model's order.
  void check(const char *when)
  {
    if (ref.empty()) {
      EXPECT_EQ(root, nullptr) << when << ": an empty tree must have a null handle";
      return;
    }
    ASSERT_NE(root, nullptr) << when << ": " << ref.size() << " entries expected";
    std::vector<std::pair<std::uint32_t, TAGGED>> got;
    int depth = -1;
    std::string s = walk(root, true, 0, 0xFFFFFFFFu, 0, &depth, got);
    ASSERT_EQ(s, "") << when;
    std::vector<std::pair<std::uint32_t, TAGGED>> want(ref.begin(), ref.end());
    ASSERT_EQ(got.size(), want.size()) << when;
    for (std::size_t i = 0; i < want.size(); ++i)
      ASSERT_EQ(got[i], want[i]) << when << ": entry " << i;
  }

  // The model's answer: the last entry not above key, within distance.
  const TAGGED *expected(std::uint32_t key, std::uint32_t distance) const
  {
    auto it = ref.upper_bound(key);
    if (it == ref.begin())
      return nullptr;
    --it;
    return key - it->first <= distance ? &it->second : nullptr;
  }

  void check_search(std::uint32_t key, std::uint32_t distance)
  {
    const TAGGED *want = expected(key, distance);
    TAGGED *got = btree_search(&root, key, distance);
    if (want == nullptr)
      EXPECT_EQ(got, nullptr) << "search " << key << " within " << distance << ": expected none, found " << *got;
    else if (got == nullptr)
      ADD_FAILURE() << "search " << key << " within " << distance << ": expected value " << *want << ", found none";
    else
      EXPECT_EQ(*got, *want) << "search " << key << " within " << distance;
  }
};

TEST_F(BTree, SearchDistanceAndBounds)
{
  for (std::uint32_t k = 100; k <= 1000; k += 100)
    insert(k, k + 1);
  struct {
    std::uint32_t key, distance;
    bool found;
    TAGGED value;
  } cases[] = {
      {500, 0, true, 501},    // exact key, distance 0
      {1010, 8, false, 0},    // 10 above the greatest key, too far
      {1010, 16, true, 1001}, // within reach
      {99, 0xFFFFFFFFu, false, 0}, // below every key
      {0, 0, false, 0},
      {550, 49, false, 0},
      {550, 50, true, 501},
      {0xFFFFFFFFu, 0xFFFFFFFFu, true, 1001},
  };
  for (const auto &c : cases) {
    TAGGED *v = btree_search(&root, c.key, c.distance);
    if (!c.found) {
      EXPECT_EQ(v, nullptr) << "key " << c.key << " distance " << c.distance;
    } else {
      ASSERT_NE(v, nullptr) << "key " << c.key << " distance " << c.distance;
      EXPECT_EQ(*v, c.value) << "key " << c.key;
    }
  }
  btree *empty = nullptr;
  EXPECT_EQ(btree_search(&empty, 5, 100), nullptr);
}

TEST_F(BTree, ThirtyTwoAscendingKeysSplitTheRootOnce)
{
  for (std::uint32_t k = 0; k < 31; ++k)
    insert(k * 8, k);
  ASSERT_TRUE(btree_is_leaf(root));
  EXPECT_EQ(root->keynum, 31);
  insert(31 * 8, 31);
  ASSERT_FALSE(btree_is_leaf(root)) << "the 32nd key must split the root leaf";
  EXPECT_EQ(root->keynum, 1);
  EXPECT_EQ(root->data.n.ptr[0]->keynum, 16);
  EXPECT_EQ(root->data.n.ptr[1]->keynum, 16);
  EXPECT_EQ(root->data.n.key[0], 16u * 8) << "the right leaf's first key goes up";
  check("after 32 keys");
}

TEST_F(BTree, InsertOrdersAgainstModel)
{
  struct order {
    const char *name;
    std::vector<std::uint32_t> keys;
  };
  std::mt19937 rng(20240611);
  std::vector<order> orders;
  {
    order asc{"ascending", {}}, desc{"descending", {}}, rnd{"random", {}}, dup{"few distinct keys", {}},
        inward{"alternating ends", {}};
    for (std::uint32_t i = 0; i < 6000; ++i) {
      asc.keys.push_back(i * 8);
      desc.keys.push_back((6000 - i) * 8);
      rnd.keys.push_back(rng());
      dup.keys.push_back(rng() % 97 * 16);
      inward.keys.push_back(i % 2 == 0 ? i * 4 : 0xFFFFFFFFu - i * 4);
    }
    orders = {asc, desc, rnd, dup, inward};
  }
  for (const order &o : orders) {
    SCOPED_TRACE(o.name);
    TAGGED v = 0;
    for (std::uint32_t k : o.keys)
      insert(k, ++v);
    check(o.name);
    for (int i = 0; i < 2000; ++i) {
      std::uint32_t probe = i % 2 == 0 ? o.keys[rng() % o.keys.size()] + rng() % 20 : rng();
      check_search(probe, i % 3 == 0 ? 0xFFFFFFFFu : 12);
    }
    btree_free(&root);
    ref.clear();
  }
}

TEST_F(BTree, DuplicatesStayInInsertionOrderAndSearchFindsTheLast)
{
  // 200 equal keys straddle several leaves; the newest must be found.
  for (TAGGED v = 1; v <= 200; ++v) {
    insert(4096, v);
    insert(v * 64, 10000 + v);
  }
  check("duplicates");
  TAGGED *v = btree_search(&root, 4096, 0);
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(*v, 200u) << "the last inserted of equal keys";
  erase(4096, 4096);
  check("duplicates removed");
  check_search(4096, 0);
}

TEST_F(BTree, RandomRangeDeletesDownToEmpty)
{
  std::mt19937 rng(7);
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    for (TAGGED v = 0; v < 5000; ++v)
      insert(round == 1 ? v * 8 : rng() % 100000, v);
    check("filled");
    int steps = 0;
    while (!ref.empty()) {
      std::uint32_t a = rng() % 100000, width = rng() % (round == 2 ? 50 : 3000);
      // Either order of the bounds.
      if (steps % 2 == 0)
        erase(a, a + width);
      else
        erase(a + width, a);
      check("after a range delete");
      if (HasFatalFailure())
        return;
      for (int i = 0; i < 20; ++i)
        check_search(rng() % 100000, rng() % 400);
      // Sparse leftovers would take long to hit at random.
      if (++steps == 300) {
        erase(0, 0xFFFFFFFFu);
        check("after clearing the rest");
      }
    }
    EXPECT_EQ(root, nullptr);
  }
}

TEST_F(BTree, SingleKeyDeletesInRandomOrder)
{
  std::mt19937 rng(99);
  std::vector<std::uint32_t> keys;
  for (std::uint32_t i = 0; i < 3000; ++i) {
    keys.push_back(i * 4);
    insert(i * 4, i);
  }
  std::shuffle(keys.begin(), keys.end(), rng);
  for (std::size_t i = 0; i < keys.size(); ++i) {
    erase(keys[i], keys[i]);
    if (i % 37 == 0 || keys.size() - i < 40) {
      check("after a single delete");
      if (HasFatalFailure())
        return;
    }
  }
  EXPECT_EQ(root, nullptr);
}

TEST_F(BTree, WholeRangeDeleteEmptiesTheTree)
{
  for (TAGGED v = 0; v < 4000; ++v)
    insert(v * 12 + 8, v);
  erase(0xFFFFFFFFu, 0);
  EXPECT_EQ(root, nullptr);
  EXPECT_EQ(eglobal->mm.mm_bins[MM_BIN_BTREE], 0u);
  erase(0, 10);  // deleting from an empty tree is harmless
  EXPECT_EQ(root, nullptr);
}

// A separator stays behind when the entries it was copied from are
// deleted; a key just above it must still find the entry of the previous
// leaf instead of nothing.
TEST_F(BTree, SearchBelowAStaleSeparatorFindsThePreviousLeaf)
{
  for (std::uint32_t k = 0; k < 60; ++k)
    insert(k * 10, k);
  ASSERT_FALSE(btree_is_leaf(root));
  const std::uint32_t sep = root->data.n.key[root->keynum - 1];
  ASSERT_GT(root->data.n.ptr[root->keynum]->keynum, 20) << "the last leaf must stay above underfull";
  erase(sep, sep + 10);
  ASSERT_EQ(root->data.n.key[root->keynum - 1], sep) << "the separator is expected to stay";
  TAGGED *v = btree_search(&root, sep + 5, 100);
  ASSERT_NE(v, nullptr) << "expected the entry at " << sep - 10 << ", found none";
  EXPECT_EQ(*v, (sep - 10) / 10);
  check("after deleting the start of a leaf");
}

} // namespace
