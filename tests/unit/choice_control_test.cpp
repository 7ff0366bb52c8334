// Choicepoint handles, cutting, dropping and marking choicepoints, trail
// actions and $free/1 handles.  Wild handles and counts must be refused
// before anything is read through them.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "choice_control.h"
#include "database_fixture.h"
#include "errors.h"
#include "stack_walk.h"
#include "wam.h"
#include "wamsup.h"

namespace {

bool marked(const node *b) { return (reinterpret_cast<std::uintptr_t>(b->next_alt) & NODE_CLEANUP_PENDING) != 0; }

struct ChoiceControl : DatabaseFixture {
  // Alternatives of the test choicepoints: `first` and `second` form a
  // chain, `single` is alone.
  try_node first{}, second{}, single{};
  node *bottom = nullptr;

  void SetUp() override
  {
    DatabaseFixture::SetUp();
    first.node_offset = second.node_offset = single.node_offset = node_offset_for(1);
    first.next = &second;
    bottom = bottom_choicepoint(w);
    g_error_type = -1;
  }

  node *push(try_node *alt)
  {
    // Fresh heap words between pushes, so each choicepoint has its own
    // global_top for the conditional-binding limits.
    var();
    wam_push_choicepoint(w, alt);
    return w->node_;
  }
  node *push_fail() { return push(fail_alt); }
  TAGGED handle(const node *b) const { return choicepoint_handle(w, b); }
  bool current_is(const node *b) const
  {
    return w->node_ == b && w->global_uncond == b->global_top && w->local_uncond == b->local_top;
  }
  TAGGED nth(int n)
  {
    w->term[1] = var();
    if (call(prolog_nth_choicepoint, {MakeSmall_checked(n), w->term[1]}) != 1)
      return 0;
    return deref(w->term[1]);
  }
};

TEST_F(ChoiceControl, NthChoicepointStepsDownAndStopsAtTheBottom)
{
  node *a = push(&single), *b = push(&single), *c = push(&single);
  struct tc {
    const char *why;
    int n;
    const node *expected; // null: the call fails
  } cases[] = {
      {"0 is the current one", 0, c}, {"1 step", 1, b}, {"2 steps", 2, a},
      {"3 steps reach the bottom", 3, bottom}, {"past the bottom fails", 4, nullptr},
      {"far past the bottom fails", 1000000, nullptr},
  };
  for (const tc &t : cases)
    EXPECT_EQ(nth(t.n), t.expected == nullptr ? 0 : handle(t.expected)) << t.why;

  push_fail();
  EXPECT_EQ(nth(0), handle(c)) << "a fail_alt choicepoint on top is looked through";
  EXPECT_EQ(nth(1), handle(b)) << "the fail_alt pair counts as one step";

  EXPECT_EQ(call(prolog_nth_choicepoint, {MakeSmall_checked(-1), var()}), 0);
  EXPECT_EQ(g_error_type, DOMAIN_ERROR) << "a negative count is a domain error";
  for (const node *p : {a, b, c, bottom})
    EXPECT_EQ(choicepoint_from_handle(w, handle(p)), p) << "handles must round-trip";
}

TEST_F(ChoiceControl, CleanUpCutsOnlyWhenTheCountMatches)
{
  node *a = push(&single);
  push(&single);
  node *c = push(&single);
  EXPECT_EQ(call(prolog_clean_up, {handle(a), MakeSmall_checked(1)}), 1);
  EXPECT_TRUE(current_is(c)) << "A is two steps down, not one: nothing may change";
  TAGGED *soft = w->heap_warn_soft;
  EXPECT_EQ(call(prolog_clean_up, {handle(a), MakeSmall_checked(2)}), 1);
  EXPECT_TRUE(current_is(a)) << "A is two steps down: it must become current";
  EXPECT_EQ(w->heap_warn_soft, soft) << "an unmarked choicepoint leaves the soft limit alone";

  // Through a fail_alt choicepoint directly above the target, onto a
  // marked one.
  w->heap_warn_soft = w->heap_warn;
  a->next_alt = reinterpret_cast<try_node *>(reinterpret_cast<std::uintptr_t>(a->next_alt) | 1);
  push(&single);
  push_fail();
  EXPECT_EQ(call(prolog_clean_up, {handle(a), MakeSmall_checked(1)}), 1);
  EXPECT_TRUE(current_is(a));
  EXPECT_EQ(w->heap_warn_soft, nullptr) << "cutting to a marked choicepoint clears the soft limit";
  push_fail();
  EXPECT_EQ(call(prolog_clean_up, {handle(a), MakeSmall_checked(0)}), 1);
  EXPECT_TRUE(current_is(a)) << "a fail_alt choicepoint directly above Chpt counts as Chpt";

  node *now = w->node_;
  struct tc {
    const char *why;
    TAGGED chpt, n;
  } wild[] = {
      {"positive handle", MakeSmall_checked(1000), MakeSmall_checked(0)},
      {"handle below the bottom", MakeSmall_checked(-100000000), MakeSmall_checked(0)},
      {"handle inside a choicepoint", MakeSmall_checked(GetSmall(handle(a)) + 1), MakeSmall_checked(0)},
      {"count past the bottom", handle(a), MakeSmall_checked(50)},
      {"negative count", handle(a), MakeSmall_checked(-3)},
      {"not an integer", atom("x"), MakeSmall_checked(0)},
  };
  for (const tc &t : wild) {
    EXPECT_EQ(call(prolog_clean_up, {t.chpt, t.n}), 1) << t.why << ": $clean_up always succeeds";
    EXPECT_EQ(w->node_, now) << t.why << ": nothing may change";
  }
}

TEST_F(ChoiceControl, UndoCleanupPopsOrMarksOlderChoicepoints)
{
  node *a = push(&single), *b = push(&single), *c = push(&single);
  push(&single);
  // B is not just under the top: A and everything older gets marked.
  EXPECT_EQ(call(prolog_undo_cleanup, {handle(b)}), 1);
  EXPECT_TRUE(marked(a)) << "the one beneath Chpt";
  EXPECT_TRUE(marked(bottom)) << "down to the base";
  EXPECT_FALSE(marked(b) || marked(c)) << "Chpt and newer stay unmarked";

  // C lies just under the top: the top is popped.
  EXPECT_EQ(call(prolog_undo_cleanup, {handle(c)}), 1);
  EXPECT_TRUE(current_is(c));

  // Marking stops at a choicepoint already marked.
  node *d = push(&single);
  node *e = push(&single);
  push(&single);
  push(&single);
  c->next_alt = reinterpret_cast<try_node *>(reinterpret_cast<std::uintptr_t>(c->next_alt) | 1);
  b->next_alt = &single; // unmark B: it lies below the marked C
  EXPECT_EQ(call(prolog_undo_cleanup, {handle(e)}), 1);
  EXPECT_TRUE(marked(d));
  EXPECT_FALSE(marked(b)) << "marking must stop at the marked C";

  node *now = w->node_;
  for (TAGGED wild : {MakeSmall_checked(12), MakeSmall_checked(GetSmall(handle(d)) - 1), atom("x"),
                      MakeSmall_checked(GetSmall(handle(now)) - 40)}) {
    g_error_type = -1;
    EXPECT_EQ(call(prolog_undo_cleanup, {wild}), 0);
    EXPECT_EQ(g_error_type, DOMAIN_ERROR) << "a handle naming no live choicepoint: domain error";
    EXPECT_EQ(w->node_, now);
  }
}

TEST_F(ChoiceControl, ZapChptPopsTheCurrentOrSkipsAnAlternative)
{
  node *a = push(&single);
  node *b = push(&first);
  node *c = push(&single);
  EXPECT_EQ(call(prolog_zap_chpt, {handle(c)}), 1);
  EXPECT_TRUE(current_is(b)) << "the current choicepoint is popped";

  c = push(&single);
  push_fail();
  EXPECT_EQ(call(prolog_zap_chpt, {handle(c)}), 1);
  EXPECT_TRUE(current_is(b)) << "looking through a fail_alt choicepoint, both go";

  push(&single);
  b->next_alt = reinterpret_cast<try_node *>(reinterpret_cast<std::uintptr_t>(&first) | 1);
  EXPECT_EQ(call(prolog_zap_chpt, {handle(b)}), 1);
  EXPECT_EQ(node_alt(b), &second) << "an older one moves to its next alternative";
  EXPECT_TRUE(marked(b)) << "keeping its mark";
  EXPECT_EQ(call(prolog_zap_chpt, {handle(b)}), 1);
  EXPECT_EQ(node_alt(b), &second) << "the last alternative stays";
  EXPECT_EQ(call(prolog_zap_chpt, {handle(a)}), 1);
  EXPECT_EQ(node_alt(a), &single);

  node *now = w->node_;
  struct tc {
    const char *why;
    TAGGED h;
  } wild[] = {
      {"positive", MakeSmall_checked(4)},
      {"between choicepoints", MakeSmall_checked(GetSmall(handle(a)) - 2)},
      {"newer than the current one", MakeSmall_checked(GetSmall(handle(now)) - 10)},
      {"far below the stack", MakeSmall_checked(SMALL_MIN)},
      {"not an integer", make_float(w, 1.0)},
  };
  for (const tc &t : wild) {
    g_error_type = -1;
    EXPECT_EQ(call(prolog_zap_chpt, {t.h}), 0) << t.why;
    EXPECT_EQ(g_error_type, DOMAIN_ERROR) << t.why;
    EXPECT_EQ(w->node_, now) << t.why;
  }

  // The bottom choicepoint stays: below it there is nothing to pop to.
  try_node *bottom_alt = node_alt(bottom);
  EXPECT_EQ(call(prolog_zap_chpt, {handle(bottom)}), 1) << "an older one: its last alternative stays";
  EXPECT_EQ(node_alt(bottom), bottom_alt);
  w->node_ = bottom;
  g_error_type = -1;
  EXPECT_EQ(call(prolog_zap_chpt, {handle(bottom)}), 0);
  EXPECT_EQ(g_error_type, DOMAIN_ERROR);
  EXPECT_EQ(w->node_, bottom);
}

TEST_F(ChoiceControl, TrailActionsAcceptOnlyCleanUpRecords)
{
  push(&single);
  TAGGED *top = w->trail_top;
  EXPECT_EQ(call(prolog_trail_undo, {var()}), 0) << "an unbound term fails";
  // An atom, a number or a structure would be taken for the end of a
  // mutable entry when backtracking passes it.
  for (TAGGED bad : {atom("a"), MakeSmall_checked(5), structure(atom("g"), {atom("a")})}) {
    g_error_type = -1;
    EXPECT_EQ(call(prolog_trail_undo, {bad}), 0);
    EXPECT_EQ(g_error_type, TYPE_ERROR);
    EXPECT_EQ(w->trail_top, top) << "nothing may be pushed";
  }
  TAGGED rec = list({var(), atom("true")});
  EXPECT_EQ(call(prolog_trail_undo, {rec}), 1);
  ASSERT_EQ(w->trail_top, top + 1);
  EXPECT_EQ(top[0], rec);
  EXPECT_FALSE(marked(w->node_));

  w->heap_warn_soft = w->heap_warn;
  EXPECT_EQ(call(prolog_trail_cleanup, {rec}), 1);
  EXPECT_EQ(w->trail_top, top + 2);
  EXPECT_TRUE(marked(w->node_)) << "$trail_cleanup marks the current choicepoint";
  EXPECT_EQ(w->heap_warn_soft, nullptr);
}

struct release_block {
  vr_release_fn release;
  int calls;
};
static_assert(sizeof(release_block) == 8);

void count_release(void *block) { static_cast<release_block *>(block)->calls++; }

TEST_F(ChoiceControl, FreeCallsOnlyIssuedHandlesOnce)
{
  alignas(8) release_block blk{count_release, 0};
  alignas(8) release_block other{count_release, 0};
  TAGGED h = vr_issue_free_handle(&blk);
  ASSERT_NE(h, 0u);
  EXPECT_TRUE(IsSmall(h));
  EXPECT_EQ(vr_issue_free_handle(&blk), 0u) << "a block has one handle at a time";

  EXPECT_EQ(call(prolog_free, {h}), 1);
  EXPECT_EQ(blk.calls, 1);
  EXPECT_EQ(call(prolog_free, {h}), 0) << "a used handle is gone";
  EXPECT_EQ(blk.calls, 1) << "the release function must not run twice";

  EXPECT_EQ(call(prolog_free, {PointerToTerm(&other) | SMALL_TAG}), 0) << "never issued";
  EXPECT_EQ(call(prolog_free, {MakeSmall_checked(12345)}), 0) << "an arbitrary integer";
  EXPECT_EQ(call(prolog_free, {atom("x")}), 0);
  EXPECT_EQ(other.calls, 0);

  TAGGED h2 = vr_issue_free_handle(&other);
  ASSERT_NE(h2, 0u);
  EXPECT_EQ(vr_revoke_free_handle(&other), 1);
  EXPECT_EQ(call(prolog_free, {h2}), 0) << "a revoked handle";
  EXPECT_EQ(other.calls, 0);

  EXPECT_EQ(vr_issue_free_handle(reinterpret_cast<char *>(&blk) + 4), 0u) << "a misaligned block";
}

} // namespace
