// Domain-variable caches: random sequences of fixes and prunes on interval
// and set caches against the brute-force set model (result codes, bounds,
// membership, the synchronised set, counts, iteration), and the table of
// cases at the ends of the small-integer range.
#include <gtest/gtest.h>

#include "dvar.h"
#include "fdset_model.h"

namespace {

using namespace fdset_model;

struct Dvars : FdSetFixture {
  static TAGGED model_min(const model &m) { return intervals_of(m).front().first; }
  static TAGGED model_max(const model &m) { return intervals_of(m).back().second; }
  static long model_size(const model &m)
  {
    long n = 0;
    for (long v = -L; v <= L; v++)
      n += m.has(v);
    return n;
  }
  static int relation(const model &a, const model &b)
  {
    bool out1 = false, out2 = false, shared = false;
    for (long v = -L; v <= L; v++) {
      out1 = out1 || (a.has(v) && !b.has(v));
      out2 = out2 || (b.has(v) && !a.has(v));
      shared = shared || (a.has(v) && b.has(v));
    }
    return !out1 && !out2 ? FD_EQUAL : !out2 ? FD_SUPERSET : !out1 ? FD_SUBSET : shared ? FD_INTERSECT : FD_DISJOINT;
  }
};

TEST_F(Dvars, RandomFixesAndPrunesAgreeWithTheModel)
{
  TAGGED *heap_mark = w->global_top;
  int checked = 0, changes = 0;
  for (int round = 0; round < 4000; round++) {
    w->global_top = heap_mark;
    w->numstack_end = nullptr;
    model m = random_model();
    if (m.empty())
      continue;
    dvar dv;
    fill(&dv, m, rng() % 2 == 0);
    std::string history = "start " + canonical_text(m);
    for (int step = 0; step < 6; step++) {
      model next;
      int got = 0;
      const unsigned kind = rng() % 4;
      if (kind == 0 || kind == 3) {
        const TAGGED lb = random_bound(true), ub = random_bound(false);
        const model mi = model::of([&](long v) {
          return (lb == atom_inf || v >= GetSmall(lb)) && (ub == atom_sup || v <= GetSmall(ub));
        });
        if (kind == 0) {
          history += ", fix " + bound_text(lb) + ".." + bound_text(ub);
          next = model::of([&](long v) { return m.has(v) && mi.has(v); });
          got = dvar_fix_interval_t(&dv, lb, ub);
        } else {
          history += ", prune " + bound_text(lb) + ".." + bound_text(ub);
          next = model::of([&](long v) { return m.has(v) && !mi.has(v); });
          got = dvar_prune_interval_t(&env, &dv, lb, ub, w);
        }
      } else {
        // Dense sets to keep to, sparse ones to take away: most sequences
        // then run their six steps.
        const model r1 = random_model(), r2 = random_model();
        const model ms = model::of([&](long v) { return kind == 1 ? r1.has(v) || r2.has(v) : r1.has(v) && r2.has(v); });
        const TAGGED s = heap_set(ms);
        if (kind == 1) {
          history += ", fix_set " + canonical_text(ms);
          next = model::of([&](long v) { return m.has(v) && ms.has(v); });
          got = dvar_fix_set(&env, &dv, s, w);
        } else {
          history += ", prune_set " + canonical_text(ms);
          next = model::of([&](long v) { return m.has(v) && !ms.has(v); });
          got = dvar_prune_set(&env, &dv, s, w);
        }
      }
      if (next.empty()) {
        EXPECT_EQ(got, -1) << history;
        m = next;
        break;
      }
      int want = 0;
      if (!(next == m)) {
        want = DV_CHANGED;
        if (model_min(next) != model_min(m))
          want |= DV_MIN;
        if (model_max(next) != model_max(m))
          want |= DV_MAX;
        if (model_size(next) == 1 && model_min(next) != atom_inf && model_max(next) != atom_sup)
          want |= DV_FIXED;
      }
      ASSERT_EQ(got, want) << history;
      changes += got > 0;
      m = next;
      ASSERT_EQ(bound_text(dv.min), bound_text(model_min(m))) << history;
      ASSERT_EQ(bound_text(dv.max), bound_text(model_max(m))) << history;
      for (long v = -10; v <= 10; v++)
        ASSERT_EQ(dvar_contains_value_t(&dv, S(v)), m.has(v)) << v << " after " << history;
      EXPECT_EQ((dv.flags & want & (DV_MIN | DV_MAX | DV_FIXED)), static_cast<unsigned>(want & ~DV_CHANGED));
    }
    if (m.empty())
      continue;
    checked++;

    // Reading the domain back in every way.
    const TAGGED t = S(random_value(-10, 10));
    TAGGED succ = atom_sup, pred = atom_inf;
    for (long v = GetSmall(t) + 1; v <= L; v++)
      if (m.has(v)) {
        succ = S(v);
        break;
      }
    for (long v = GetSmall(t) - 1; v >= -L; v--)
      if (m.has(v)) {
        pred = S(v);
        break;
      }
    EXPECT_EQ(bound_text(dvar_successor_t(&dv, t)), bound_text(succ)) << bound_text(t) << " in " << history;
    EXPECT_EQ(bound_text(dvar_predecessor_t(&dv, t)), bound_text(pred)) << bound_text(t) << " in " << history;

    const model mo = random_model();
    EXPECT_EQ(dvar_compare_set(&env, &dv, heap_set(mo), w), relation(m, mo)) << canonical_text(mo) << " vs " << history;
    const TAGGED lb = random_bound(true), ub = random_bound(false);
    const model mi = model::of([&](long v) {
      return (lb == atom_inf || v >= GetSmall(lb)) && (ub == atom_sup || v <= GetSmall(ub));
    });
    if (!mi.empty()) {
      EXPECT_EQ(dvar_compare_interval_t(&env, &dv, lb, ub, w), relation(m, mi))
          << bound_text(lb) << ".." << bound_text(ub) << " vs " << history;
    }

    if (m.finite()) {
      std::vector<long> values;
      for (long v = -L; v <= L; v++)
        if (m.has(v))
          values.push_back(v);
      EXPECT_EQ(dvar_value_count(&dv), static_cast<long>(values.size())) << history;
      EXPECT_EQ(dvar_interval_count(&dv), static_cast<int>(intervals_of(m).size())) << history;
      DVITER it;
      dviter_init(&it, &dv);
      std::vector<long> seen;
      while (!dviter_empty(&it) && seen.size() < 100)
        seen.push_back(GetSmall(dviter_next_value_t(&it)));
      EXPECT_EQ(seen, values) << history;
      dviter_init(&it, &dv);
      std::string by_interval = "[";
      while (!dviter_empty(&it)) {
        long lo, hi;
        dviter_next_interval_l(&it, &lo, &hi);
        by_interval += (by_interval.size() > 1 ? ",[" : "[") + std::to_string(lo) + "|" + std::to_string(hi) + "]";
        if (by_interval.size() > 400)
          break;
      }
      EXPECT_EQ(by_interval + "]", canonical_text(m)) << history;
      dviter_init(&it, &dv);
      dviter_skip_t(&it, t);
      long after = -100;
      for (long v : values)
        if (v > GetSmall(t)) {
          after = v;
          break;
        }
      EXPECT_EQ(dviter_empty(&it) ? -100 : GetSmall(it.min), after) << "skip to " << bound_text(t) << " in " << history;
    }

    // The synchronised set, a copy of the cache, and the cells made private.
    dvar copy;
    dvar_init_temp(&copy, S(0), S(0));
    dvar_assign(&env, &copy, &dv, w);
    expect_set(dvar_set(&env, &dv, w), m, "dvar_set after " + history);
    expect_set(dvar_set(&env, &copy, w), m, "dvar_assign after " + history);
    dvar_pruning_done(&env, w, &dv);
    expect_set(dvar_set(&env, &dv, w), m, "dvar_pruning_done after " + history);
  }
  // The sequences must reach the read-back often and change domains often.
  EXPECT_GT(checked, 600);
  EXPECT_GT(changes, 5000);
}

TEST_F(Dvars, EdgeCases)
{
  dvar dv;
  // Cutting off the lower end of an interval; a hole inside it.
  dvar_init_temp(&dv, S(5), S(9));
  EXPECT_EQ(dvar_prune_interval_t(&env, &dv, S(5), S(5), w), DV_CHANGED | DV_MIN);
  EXPECT_EQ(dv.min, S(6));
  EXPECT_EQ(dvar_prune_interval_t(&env, &dv, S(7), S(9), w), DV_CHANGED | DV_MAX | DV_FIXED);
  EXPECT_EQ(dv.max, S(6));
  dvar_init_temp(&dv, S(1), S(9));
  EXPECT_EQ(dvar_prune_interval_t(&env, &dv, S(5), S(5), w), DV_CHANGED);
  EXPECT_EQ(dv.flags & DV_INTERVAL, 0u);
  EXPECT_FALSE(dvar_contains_value_t(&dv, S(5)));
  EXPECT_EQ(dvar_prune_interval_t(&env, &dv, S(5), S(5), w), 0) << "no value left there";
  EXPECT_EQ(dvar_prune_interval_t(&env, &dv, S(12), atom_sup, w), 0) << "outside the bounds";
  EXPECT_EQ(dvar_prune_interval_t(&env, &dv, atom_inf, atom_sup, w), -1);

  // New bounds beyond the small integers: the overflow flag and -1.
  st.fd_overflow = 0;
  dvar_init_temp(&dv, S(0), atom_sup);
  EXPECT_EQ(dvar_prune_interval_t(&env, &dv, S(0), S(SMALL_MAX), w), -1);
  EXPECT_EQ(st.fd_overflow, 1);
  st.fd_overflow = 0;
  dvar_init_temp(&dv, atom_inf, S(3));
  EXPECT_EQ(dvar_prune_interval_t(&env, &dv, S(SMALL_MIN), S(5), w), -1);
  EXPECT_EQ(st.fd_overflow, 1);

  st.fd_overflow = 0;
  dvar_init_temp(&dv, S(1), S(9));
  EXPECT_EQ(dvar_fix_max_safe(&env, &dv, 268435456L), -1);
  EXPECT_EQ(st.fd_overflow, 1);
  EXPECT_EQ(dv.max, S(9)) << "the cache is left alone";
  EXPECT_EQ(dvar_fix_min_safe(&env, &dv, -268435457L), -1);
  EXPECT_EQ(dvar_fix_min_safe(&env, &dv, 4), DV_CHANGED | DV_MIN);
  EXPECT_EQ(dvar_fix_max_safe(&env, &dv, 4), DV_CHANGED | DV_MAX | DV_FIXED);

  // The empty set.
  dvar_init_temp(&dv, S(1), S(9));
  EXPECT_EQ(dvar_fix_set(&env, &dv, fd_empty_set, w), -1);
  EXPECT_EQ(dvar_prune_set(&env, &dv, fd_empty_set, w), 0);

  // Plain-integer neighbours: the ends of the 32-bit range stand for the
  // infinities.
  dvar_init_temp(&dv, S(1), S(9));
  EXPECT_EQ(dvar_successor_l(&dv, 9), 2147483647L);
  EXPECT_EQ(dvar_predecessor_l(&dv, 1), -2147483647L);
  EXPECT_EQ(dvar_successor_l(&dv, -2147483647L), 1);
  EXPECT_EQ(dvar_predecessor_l(&dv, 2147483647L), 9);
  EXPECT_EQ(dvar_successor_l(&dv, 4), 5);

  // Skipping to the greatest small integer exhausts the iterator.
  dvar_init_temp(&dv, S(SMALL_MAX - 2), S(SMALL_MAX));
  DVITER it;
  dviter_init(&it, &dv);
  dviter_skip_t(&it, S(SMALL_MAX));
  EXPECT_TRUE(dviter_empty(&it));
}

} // namespace
