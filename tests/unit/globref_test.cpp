// Term references (the worker's term-reference stack) and global
// references (blocks on the circular list) with their iterator.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <vector>

#include "atoms.h"
#include "globref.h"
#include "worker_fixture.h"

namespace {

using TermRefs = WorkerFixture;

TEST_F(TermRefs, NewRefsHoldNilAndKeepTheirIndicesWhenTheStackDoubles)
{
  ASSERT_EQ(VR_new_term_refs(0), 10) << "n 0 gives the current mark";
  // Fill the first 256 slots, each with its own term.
  const VR_term_ref first = VR_new_term_refs(246);
  ASSERT_EQ(first, 10);
  for (VR_term_ref r = first; r < 256; ++r) {
    EXPECT_EQ(vr_ref_term(r), atom_nil) << "slot " << r;
    w->fli_stack_start[r].term = MakeSmall_checked(r);
  }
  ASSERT_EQ(w->fli_stack_size, 256);
  // One more doubles the stack without moving any index.
  const VR_term_ref r256 = VR_new_term_ref();
  EXPECT_EQ(r256, 256);
  EXPECT_EQ(w->fli_stack_size, 512);
  EXPECT_EQ(eglobal->mm.mm_bins[MM_BIN_FLI_STACK], 512u * 8) << "charged to FLI stack space";
  EXPECT_EQ(w->flidata.fli_stack_start, w->fli_stack_start) << "the interface frame must follow the move";
  for (VR_term_ref r = first; r < 256; ++r)
    ASSERT_EQ(vr_ref_term(r), MakeSmall_checked(r)) << "slot " << r << " lost its term";
  EXPECT_EQ(vr_ref_term(r256), atom_nil);
  EXPECT_EQ(w->fli_stack_start[r256].gc_word, 0u);
  // A request far past the end doubles as often as needed.
  EXPECT_EQ(VR_new_term_refs(2000), 257);
  EXPECT_EQ(w->fli_stack_size, 4096);
  EXPECT_EQ(w->fli_stack_index, 2257);
}

TEST_F(TermRefs, ResetToAMark)
{
  const VR_term_ref mark = VR_new_term_refs(0);
  VR_new_term_refs(5);
  w->fli_stack_start[mark].term = MakeSmall_checked(9);
  struct Case {
    VR_term_ref mark;
    int index_after, errno_after;
  };
  const Case cases[] = {
      {-1, 15, VR_ERR_DOMAIN},  // below 0
      {16, 15, VR_ERR_DOMAIN},  // above the index
      {15, 15, 0},              // the index itself: nothing released
      {mark, mark, 0},
  };
  for (const Case &c : cases) {
    vr_errno = 0;
    VR_reset_term_refs(c.mark);
    EXPECT_EQ(w->fli_stack_index, c.index_after) << "mark " << c.mark;
    EXPECT_EQ(vr_errno, c.errno_after) << "mark " << c.mark;
  }
  EXPECT_EQ(VR_new_term_ref(), mark);
  EXPECT_EQ(vr_ref_term(mark), atom_nil) << "a reused slot must hold [] again";
}

TEST_F(TermRefs, CheckedLookup)
{
  EXPECT_EQ(vr_get_globref_checked(0, w), w->fli_stack_start);
  EXPECT_EQ(vr_get_globref_checked(9, w), w->fli_stack_start + 9);
  EXPECT_EQ(vr_get_globref_checked(10, w), nullptr) << "not in use";
  EXPECT_EQ(vr_get_globref_checked(-1, w), nullptr);
}

using GlobRefs = WorkerFixture;

std::vector<VR_globref> visited()
{
  std::vector<VR_globref> cells;
  GlobRefIter it;
  globref_iter_init(&it);
  while (!globref_iter_empty(&it))
    cells.push_back(globref_iter_next(&it));
  return cells;
}

TEST_F(GlobRefs, IteratorVisitsExactlyTheLiveSlots)
{
  EXPECT_TRUE(visited().empty()) << "a new worker has no global references";

  // Blocks of varied sizes, including empty ones, freed in a shuffled
  // order; after every step the iterator must visit every live slot once
  // and nothing else.
  std::mt19937 rng(12345);
  std::vector<std::pair<VR_globref, int>> live;
  int serial = 0;
  auto check = [&](const char *when) {
    std::multiset<VR_globref> want;
    for (auto &[slots, n] : live)
      for (int i = 0; i < n; ++i)
        want.insert(slots + i);
    const std::vector<VR_globref> got = visited();
    EXPECT_EQ(got.size(), want.size()) << when;
    EXPECT_EQ(std::multiset<VR_globref>(got.begin(), got.end()), want) << when;
  };
  for (int round = 0; round < 40; ++round) {
    const int n = static_cast<int>(rng() % 7);  // 0 .. 6 slots
    VR_globref slots = VR_alloc_globrefs(n);
    ASSERT_NE(slots, nullptr);
    for (int i = 0; i < n; ++i) {
      EXPECT_EQ(slots[i].term, atom_nil) << "new global slot";
      EXPECT_EQ(slots[i].gc_word, 0u);
      slots[i].term = MakeSmall_checked(++serial);
    }
    live.emplace_back(slots, n);
    if (rng() % 3 == 0) {
      const std::size_t k = rng() % live.size();
      VR_free_globrefs(live[k].first);
      live.erase(live.begin() + static_cast<long>(k));
    }
    check("after a round of creation and deletion");
  }
  // The terms of the survivors are untouched by their neighbours' deaths.
  std::set<TAGGED> terms;
  for (auto &[slots, n] : live)
    for (int i = 0; i < n; ++i)
      EXPECT_TRUE(terms.insert(slots[i].term).second) << "two slots share a term";
  std::shuffle(live.begin(), live.end(), rng);
  while (!live.empty()) {
    VR_free_globrefs(live.back().first);
    live.pop_back();
    check("while freeing the rest");
  }
  EXPECT_EQ(eglobal->globref_blk.forward, &eglobal->globref_blk) << "the circle must be empty again";
  EXPECT_EQ(VR_alloc_globrefs(-1), nullptr);
  VR_free_globrefs(nullptr);
}

// Blocks that outlive a worker stay linked when the worker is replaced
// (after an abort): their owners free them later, and an unlink must then
// find its neighbours in the current circle.  Their terms pointed into
// the old heap and are reset to [].
TEST_F(GlobRefs, BlocksSurviveWorkerReplacement)
{
  VR_globref a = VR_alloc_globrefs(2);
  VR_globref b = VR_alloc_globrefs(3);
  a[0].term = w->fli_stack_start[0].term;  // a heap variable of the old worker
  b[2].term = MakeSmall_checked(7);

  dealloc_worker(w);
  w = create_worker();
  ASSERT_NE(w, nullptr);
  set_current_worker(w);

  for (VR_globref cell : visited())
    EXPECT_EQ(cell->term, atom_nil) << "a surviving slot still refers to the old heap";
  EXPECT_EQ(visited().size(), 5u);

  VR_globref c = VR_alloc_globrefs(1);
  VR_free_globrefs(b);
  // c must still be visited: freeing an old block must not cut the new one
  // out of the circle.
  const std::vector<VR_globref> cells = visited();
  EXPECT_EQ(cells.size(), 3u);
  EXPECT_NE(std::find(cells.begin(), cells.end(), c), cells.end()) << "the new block was lost";
  VR_free_globrefs(a);
  VR_free_globrefs(c);
  EXPECT_TRUE(visited().empty());
}

// Atoms held only by references survive atom garbage collection.
struct RefAtoms : WorkerFixture {
  void SetUp() override
  {
    WorkerFixture::SetUp();
    ASSERT_EQ(init_atoms_once(), 1);
  }
  void TearDown() override
  {
    deinit_atoms();
    WorkerFixture::TearDown();
  }
};

TEST_F(RefAtoms, ReferencesAreAtomRoots)
{
  const TAGGED by_term_ref = init_atom_check("held_by_a_term_ref", 0);
  const TAGGED by_global = init_atom_check("held_by_a_global_ref", 0);
  const TAGGED released = init_atom_check("held_by_a_released_ref", 0);
  const TAGGED nowhere = init_atom_check("held_nowhere", 0);
  ASSERT_NE(by_term_ref, 0u);
  w->fli_stack_start[VR_new_term_ref()].term = by_term_ref;
  VR_globref g = VR_alloc_globrefs(1);
  g->term = by_global;
  const VR_term_ref mark = VR_new_term_refs(0);
  w->fli_stack_start[VR_new_term_ref()].term = released;
  VR_reset_term_refs(mark);

  prolog_garbage_collect_atoms(w);
  EXPECT_EQ(init_atom_check("held_by_a_term_ref", 1), by_term_ref);
  EXPECT_EQ(init_atom_check("held_by_a_global_ref", 1), by_global);
  EXPECT_EQ(init_atom_check("held_by_a_released_ref", 1), 0u) << "a released slot is no root";
  EXPECT_EQ(init_atom_check("held_nowhere", 1), 0u);
  (void)nowhere;
  VR_free_globrefs(g);
}

} // namespace
