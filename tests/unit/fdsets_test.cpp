// FD sets: every operation against a brute-force model on random small sets
// (fixed seed) whose ends may be inf and sup, the relation codes, the
// behaviour at the ends of the small-integer range, the moves between the
// heap and the number stack, iteration and building.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "fdset_model.h"
#include "fdsets.h"

namespace {

using namespace fdset_model;

struct FdSets : FdSetFixture {};

TEST_F(FdSets, SetAlgebraAgreesWithTheModelOnRandomSets)
{
  TAGGED *heap_mark = w->global_top;
  for (int round = 0; round < 3000; round++) {
    w->global_top = heap_mark;
    w->numstack_end = nullptr;
    const model ma = random_model(), mb = random_model();
    const TAGGED a = heap_set(ma), b = heap_set(mb);
    const std::string what = "a = " + text(a) + ", b = " + text(b);
    const long t = random_value(-10, 10);
    const TAGGED lo = random_bound(true), hi = random_bound(false);
    const model mi = model::of([&](long v) {
      return (lo == atom_inf || v >= GetSmall(lo)) && (hi == atom_sup || v <= GetSmall(hi));
    });
    const long k = random_value(-3, 3);

    expect_set(fd_union(&env, w, a, b), model::of([&](long v) { return ma.has(v) || mb.has(v); }), "union " + what);
    expect_set(fd_intersection(&env, w, a, b), model::of([&](long v) { return ma.has(v) && mb.has(v); }),
               "intersection " + what);
    expect_set(fd_subtract(&env, w, a, b), model::of([&](long v) { return ma.has(v) && !mb.has(v); }),
               "subtract " + what);
    expect_set(fd_complement(&env, w, a), model::of([&](long v) { return !ma.has(v); }), "complement " + what);
    expect_set(fd_merge_into(&env, w, a, b), model::of([&](long v) { return ma.has(v) || mb.has(v); }),
               "merge_into " + what);

    const std::string iv = what + ", interval " + bound_text(lo) + ".." + bound_text(hi);
    if (!mi.empty()) {
      expect_set(fd_union_interval(&env, w, a, lo, hi), model::of([&](long v) { return ma.has(v) || mi.has(v); }),
                 "union_interval " + iv);
      expect_set(fd_intersection_interval(&env, w, a, lo, hi),
                 model::of([&](long v) { return ma.has(v) && mi.has(v); }), "intersection_interval " + iv);
      expect_set(fd_subtract_interval(&env, w, a, lo, hi),
                 model::of([&](long v) { return ma.has(v) && !mi.has(v); }), "subtract_interval " + iv);
      expect_set(fd_interval_subtract(&env, w, lo, hi, a),
                 model::of([&](long v) { return mi.has(v) && !ma.has(v); }), "interval_subtract " + iv);
      expect_set(fd_interval(&env, w, lo, hi), mi, "interval " + iv);
      expect_set(fd_compl_interval(&env, w, lo, hi), model::of([&](long v) { return !mi.has(v); }),
                 "compl_interval " + iv);
    }

    const std::string tv = what + ", t = " + std::to_string(t);
    expect_set(fd_delete(&env, w, a, S(t)), model::of([&](long v) { return ma.has(v) && v != t; }), "delete " + tv);
    expect_set(fd_insert_into(&env, w, S(t), a), model::of([&](long v) { return ma.has(v) || v == t; }),
               "insert_into " + tv);
    EXPECT_EQ(fd_member(S(t), a), ma.has(t)) << "member " << tv;
    const long t2 = random_value(-10, 10);
    expect_set(fd_pair(&env, w, S(t), S(t2)), model::of([&](long v) { return v == t || v == t2; }),
               "pair " + std::to_string(t) + ", " + std::to_string(t2));

    const std::string kv = what + ", k = " + std::to_string(k);
    expect_set(fd_lsh(&env, w, a, S(k)), model::of([&](long v) { return ma.has(v - k); }), "lsh " + kv);
    expect_set(fd_neg_offset(&env, w, a, S(k)), model::of([&](long v) { return ma.has(k - v); }),
               "neg_offset " + kv);

    // Successor and predecessor: the nearest member above or below t.
    TAGGED succ = atom_sup, pred = atom_inf;
    for (long v = t + 1; v <= L; v++)
      if (ma.has(v)) {
        succ = S(v);
        break;
      }
    for (long v = t - 1; v >= -L; v--)
      if (ma.has(v)) {
        pred = S(v);
        break;
      }
    EXPECT_EQ(bound_text(fd_successor(a, S(t))), bound_text(succ)) << "successor " << tv;
    EXPECT_EQ(bound_text(fd_predecessor(a, S(t))), bound_text(pred)) << "predecessor " << tv;

    // Relation codes.
    bool out1 = false, out2 = false, shared = false;
    for (long v = -L; v <= L; v++) {
      out1 = out1 || (ma.has(v) && !mb.has(v));
      out2 = out2 || (mb.has(v) && !ma.has(v));
      shared = shared || (ma.has(v) && mb.has(v));
    }
    const int want = !out1 && !out2 ? FD_EQUAL : !out2 ? FD_SUPERSET : !out1 ? FD_SUBSET : shared ? FD_INTERSECT : FD_DISJOINT;
    EXPECT_EQ(fd_compare(a, b), want) << "compare " << what;
    if (!mi.empty()) {
      bool o1 = false, o2 = false, sh = false;
      for (long v = -L; v <= L; v++) {
        o1 = o1 || (ma.has(v) && !mi.has(v));
        o2 = o2 || (mi.has(v) && !ma.has(v));
        sh = sh || (ma.has(v) && mi.has(v));
      }
      const int wi = !o1 && !o2 ? FD_EQUAL : !o2 ? FD_SUPERSET : !o1 ? FD_SUBSET : sh ? FD_INTERSECT : FD_DISJOINT;
      EXPECT_EQ(fd_compare_interval(a, lo, hi), wi) << "compare_interval " << iv;
    }

    // Common values, for finite sets.
    if (ma.finite() && mb.finite()) {
      std::vector<long> common;
      long count_a = 0;
      for (long v = -L; v <= L; v++) {
        if (ma.has(v) && mb.has(v))
          common.push_back(v);
        count_a += ma.has(v);
      }
      EXPECT_EQ(fd_size(a), count_a) << "size " << what;
      EXPECT_EQ(fd_intersection_size(a, b), static_cast<long>(common.size())) << "intersection_size " << what;
      TAGGED second = 1;
      const TAGGED first = fd_intersection_min2(a, b, &second);
      EXPECT_EQ(fd_intersection_min(a, b), common.empty() ? 0 : S(common.front())) << what;
      EXPECT_EQ(fd_intersection_max(a, b), common.empty() ? 0 : S(common.back())) << what;
      EXPECT_EQ(first, common.empty() ? 0 : S(common[0])) << "min2 " << what;
      EXPECT_EQ(second, common.size() < 2 ? 0 : S(common[1])) << "min2 " << what;
    }

    // The operands are never changed by what shares their cells.
    EXPECT_EQ(text(a), canonical_text(ma)) << "operand a changed";
    EXPECT_EQ(text(b), canonical_text(mb)) << "operand b changed";
  }
}

TEST_F(FdSets, MinMaxSingletonFirstAndRest)
{
  TAGGED *heap_mark = w->global_top;
  for (int round = 0; round < 500; round++) {
    w->global_top = heap_mark;
    const model m = random_model();
    if (m.empty())
      continue;
    const TAGGED d = heap_set(m);
    const auto ivs = intervals_of(m);
    EXPECT_EQ(fd_min(d), ivs.front().first) << text(d);
    EXPECT_EQ(fd_max(d), ivs.back().second) << text(d);
    EXPECT_EQ(fd_singleton(d), ivs.size() == 1 && ivs[0].first == ivs[0].second) << text(d);
    if (ivs.front().first != atom_inf) {
      TAGGED first, rest;
      fd_first_and_rest(&env, w, d, &first, &rest);
      EXPECT_EQ(first, ivs.front().first);
      model mr = m;
      mr.set(GetSmall(first), false);
      expect_set(rest, mr, "first_and_rest of " + text(d));
    }
  }
}

// The destructive merges work on cells the caller owns: copies on the
// number stack.
TEST_F(FdSets, UnionDestAndUnionSortAgreeWithTheModel)
{
  TAGGED *heap_mark = w->global_top;
  for (int round = 0; round < 1000; round++) {
    w->global_top = heap_mark;
    w->numstack_end = nullptr;
    const model ma = random_model(), mb = random_model();
    const TAGGED a = fd_localize(&env, w, heap_set(ma)), b = fd_localize(&env, w, heap_set(mb));
    expect_set(fd_union_dest(a, b), model::of([&](long v) { return ma.has(v) || mb.has(v); }), "union_dest");

    // A list of random intervals in any order, overlapping or not.
    const int n = static_cast<int>(rng() % 40);
    model mu;
    TAGGED list = fd_empty_set;
    std::string given;
    for (int i = 0; i < n; i++) {
      TAGGED lo = random_bound(true), hi = random_bound(false);
      if (IsSmall(lo) && IsSmall(hi) && GetSmall(hi) < GetSmall(lo))
        std::swap(lo, hi);
      if (lo == atom_sup || hi == atom_inf)
        continue;
      for (long v = -L; v <= L; v++)
        if ((lo == atom_inf || v >= GetSmall(lo)) && (hi == atom_sup || v <= GetSmall(hi)))
          mu.set(v, true);
      TAGGED *p = fd_numstack_words(&env, w, 4);
      p[0] = MakeLST(p + 2);
      p[1] = list;
      p[2] = lo;
      p[3] = hi;
      list = MakeLST(p);
      given += " " + bound_text(lo) + ".." + bound_text(hi);
    }
    expect_set(fd_union_sort(list), mu, "union_sort of" + given);
  }
}

TEST_F(FdSets, IteratorsAndBuildersVisitEveryValueInOrder)
{
  TAGGED *heap_mark = w->global_top;
  for (int round = 0; round < 500; round++) {
    w->global_top = heap_mark;
    w->numstack_end = nullptr;
    model m = random_model();
    m.set(-L, false); // finite sets only
    m.set(L, false);
    for (long v = -L; v < -8; v++)
      m.set(v, false);
    for (long v = 9; v <= L; v++)
      m.set(v, false);
    const TAGGED d = heap_set(m);
    std::vector<long> want;
    for (long v = -L; v <= L; v++)
      if (m.has(v))
        want.push_back(v);

    FDITER it;
    fditer_init(&it, d);
    std::vector<long> got;
    while (it.cur != FDITER_END)
      got.push_back(GetSmall(fditer_next(&it)));
    EXPECT_EQ(got, want) << text(d);

    // Skipping to t yields next the least member above t, or nothing
    // changes when t lies below the next value.
    const long t = random_value(-10, 10);
    fditer_init(&it, d);
    const long start = want.empty() ? 0 : want[0];
    fditer_skip(&it, S(t));
    long next_want = -100;
    for (long v : want)
      if (v > t) {
        next_want = v;
        break;
      }
    if (!want.empty() && t < start)
      next_want = start;
    EXPECT_EQ(it.cur == FDITER_END ? -100 : GetSmall(it.cur), next_want) << "skip to " << t << " in " << text(d);

    // Intervals one by one.
    fditer_init(&it, d);
    std::string by_interval = "[";
    while (it.cur != FDITER_END) {
      TAGGED lo, hi;
      fditer_next_interval(&it, &lo, &hi);
      if (by_interval.size() > 1)
        by_interval += ",";
      by_interval += "[" + bound_text(lo) + "|" + bound_text(hi) + "]";
    }
    EXPECT_EQ(by_interval + "]", canonical_text(m));

    // Building from the values, one by one and as intervals.
    FDCONS cons;
    fdcons_init(&cons);
    for (long v : want)
      fdcons_add(&env, &cons, w, S(v));
    expect_set(cons.head, m, "fdcons_add");
    EXPECT_EQ(cons.size, static_cast<long>(want.size()));
    fdcons_init(&cons);
    for (auto [b, e] : intervals_of(m))
      fdcons_add_interval(&env, &cons, w, b, e);
    expect_set(cons.head, m, "fdcons_add_interval");
    EXPECT_EQ(cons.size, static_cast<long>(want.size()));
  }
}

TEST_F(FdSets, IntervalRelationCodes)
{
  struct row {
    TAGGED b1, e1, b2, e2;
    int code;
  };
  const row rows[] = {
      {S(1), S(3), S(4), S(9), FD_IV_JUST_BEFORE},
      {S(4), S(9), S(1), S(3), FD_IV_JUST_AFTER},
      {atom_inf, S(5), atom_inf, atom_sup, FD_IV_SAME_START_SHORTER},
      {S(7), S(7), S(7), S(7), FD_IV_EQUAL},
      {S(1), S(2), S(5), S(6), FD_IV_BEFORE},
      {S(1), S(5), S(3), S(9), FD_IV_OVERLAPS_START},
      {S(1), S(9), S(3), S(9), FD_IV_CONTAINS_SAME_END},
      {S(1), S(9), S(3), S(5), FD_IV_CONTAINS},
      {S(3), S(9), S(3), S(5), FD_IV_SAME_START_LONGER},
      {S(4), S(5), S(3), S(9), FD_IV_INSIDE},
      {S(4), S(9), S(3), S(9), FD_IV_INSIDE_SAME_END},
      {S(4), S(12), S(3), S(9), FD_IV_OVERLAPS_END},
      {S(14), S(20), S(3), S(9), FD_IV_AFTER},
      // The successor of the greatest small integer is sup.
      {S(SMALL_MAX - 3), S(SMALL_MAX), atom_sup, atom_sup, FD_IV_JUST_BEFORE},
      {S(5), S(5), S(6), S(6), FD_IV_JUST_BEFORE},
      {S(7), S(7), S(5), S(5), FD_IV_AFTER},
  };
  for (const row &r : rows)
    EXPECT_EQ(fd_interval_cmp(r.b1, r.e1, r.b2, r.e2), r.code)
        << bound_text(r.b1) << ".." << bound_text(r.e1) << " vs " << bound_text(r.b2) << ".." << bound_text(r.e2);
  // Swapping the intervals mirrors the code.
  for (int i = 0; i < 2000; i++) {
    TAGGED b1 = random_bound(true), e1 = random_bound(false), b2 = random_bound(true), e2 = random_bound(false);
    if (IsSmall(b1) && IsSmall(e1) && GetSmall(e1) < GetSmall(b1))
      std::swap(b1, e1);
    if (IsSmall(b2) && IsSmall(e2) && GetSmall(e2) < GetSmall(b2))
      std::swap(b2, e2);
    EXPECT_EQ(fd_interval_cmp(b1, e1, b2, e2), 12 - fd_interval_cmp(b2, e2, b1, e1))
        << bound_text(b1) << ".." << bound_text(e1) << " vs " << bound_text(b2) << ".." << bound_text(e2);
  }
}

TEST_F(FdSets, SetRelationCodes)
{
  const model empty;
  const model m12 = model::of([](long v) { return v >= 1 && v <= 2; });
  const model m56 = model::of([](long v) { return v >= 5 && v <= 6; });
  const model m15 = model::of([](long v) { return v >= 1 && v <= 5; });
  const model m39 = model::of([](long v) { return v >= 3 && v <= 9; });
  struct row {
    const model &a, &b;
    int code;
    const char *why;
  };
  const row rows[] = {
      {empty, empty, FD_EQUAL, "both empty are equal"},
      {m12, empty, FD_SUPERSET, "a set strictly contains the empty set"},
      {empty, m12, FD_SUBSET, "the empty set lies strictly inside"},
      {m12, m56, FD_DISJOINT, "disjoint"},
      {m15, m39, FD_INTERSECT, "overlap"},
      {m15, m15, FD_EQUAL, "equal"},
  };
  for (const row &r : rows)
    EXPECT_EQ(fd_compare(heap_set(r.a), heap_set(r.b)), r.code) << r.why;

  struct irow {
    TAGGED b1, e1, b2, e2;
    int code;
  };
  const irow coarse[] = {
      {S(1), S(5), S(1), S(3), FD_SUPERSET},  {S(1), S(3), S(1), S(5), FD_SUBSET},
      {S(1), S(5), S(2), S(5), FD_SUPERSET},  {S(1), S(5), S(2), S(4), FD_INTERSECT},
      {S(1), S(5), S(1), S(5), FD_EQUAL},     {S(1), S(5), S(6), S(9), FD_DISJOINT},
      {S(2), S(4), S(1), S(5), FD_INTERSECT}, {S(1), S(5), S(3), S(9), FD_INTERSECT},
      // Anything but an integer is inf as a lower and sup as an upper end.
      {atom_nil, S(5), atom_inf, S(5), FD_EQUAL}, {S(1), atom_nil, S(1), atom_sup, FD_EQUAL},
  };
  for (const irow &r : coarse)
    EXPECT_EQ(fd_compare_intervals(r.b1, r.e1, r.b2, r.e2), r.code)
        << bound_text(r.b1) << ".." << bound_text(r.e1) << " vs " << bound_text(r.b2) << ".." << bound_text(r.e2);

  // Points against intervals.
  EXPECT_EQ(fd_point_vs_interval(atom_inf, S(1), S(5)), -1);
  EXPECT_EQ(fd_point_vs_interval(atom_sup, S(1), atom_sup), 0);
  EXPECT_EQ(fd_point_vs_interval(atom_nil, S(1), S(5)), 1);
  EXPECT_EQ(fd_point_vs_interval(S(0), atom_inf, S(5)), 0);
  EXPECT_EQ(fd_val_vs_interval(S(6), S(1), S(5)), 1);
  EXPECT_EQ(fd_val_vs_interval(S(0), S(1), S(5)), -1);
  EXPECT_EQ(fd_val_vs_interval(S(5), S(1), S(5)), 0);
}

// At the ends of the small-integer range a bound's successor is sup and
// its predecessor inf, which leaves overflow intervals behind.
TEST_F(FdSets, EndsOfTheSmallIntegerRange)
{
  const TAGGED lo = S(SMALL_MIN), hi = S(SMALL_MAX);
  EXPECT_EQ(fd_succ(hi), atom_sup);
  EXPECT_EQ(fd_pred(lo), atom_inf);
  EXPECT_EQ(fd_succ(S(5)), S(6));

  auto one = [&](TAGGED b, TAGGED e) { return fd_interval(&env, w, b, e); };
  EXPECT_EQ(text(fd_complement(&env, w, one(lo, S(5)))), "[[inf|inf],[6|sup]]");
  EXPECT_EQ(text(fd_complement(&env, w, one(S(-5), hi))), "[[inf|-6],[sup|sup]]");
  EXPECT_EQ(text(fd_complement(&env, w, one(atom_inf, atom_sup))), "[]");
  EXPECT_EQ(text(fd_complement(&env, w, fd_empty_set)), "[[inf|sup]]");
  EXPECT_EQ(text(fd_lsh(&env, w, one(S(SMALL_MAX - 1), hi), S(5))), "[[sup|sup]]");
  EXPECT_EQ(text(fd_lsh(&env, w, one(atom_inf, S(3)), S(SMALL_MAX))), "[[inf|sup]]");
  EXPECT_EQ(text(fd_neg_offset(&env, w, one(lo, S(0)), S(0))), "[[0|sup]]");
  EXPECT_EQ(text(fd_pair(&env, w, S(5), S(6))), "[[5|6]]");
  EXPECT_EQ(text(fd_pair(&env, w, S(9), S(5))), "[[5|5],[9|9]]");
  EXPECT_EQ(text(fd_interval(&env, w, S(5), S(4))), "[]");
  EXPECT_EQ(text(fd_union(&env, w, one(lo, S(0)), one(S(1), hi))), "[[-268435456|268435455]]");

  // Successor and predecessor at the ends of a set, with the infinities.
  TAGGED d = fd_union(&env, w, one(S(1), S(3)), one(S(7), S(9)));
  EXPECT_EQ(fd_successor(d, S(3)), S(7));
  EXPECT_EQ(fd_successor(d, S(9)), atom_sup);
  EXPECT_EQ(fd_successor(d, atom_inf), S(1));
  EXPECT_EQ(fd_predecessor(d, S(7)), S(3));
  EXPECT_EQ(fd_predecessor(d, S(1)), atom_inf);
  EXPECT_EQ(fd_predecessor(d, atom_sup), S(9));
  const TAGGED open = one(atom_inf, S(5));
  EXPECT_EQ(fd_successor(open, atom_inf), atom_inf);
  EXPECT_EQ(fd_successor(open, S(-100)), S(-99));
}

// Negating a long set needs no native stack in proportion to its length.
TEST_F(FdSets, NegatingAVeryLongSet)
{
  constexpr long n = 200000;
  FDCONS cons;
  fdcons_init(&cons);
  for (long i = 0; i < n; i++)
    fdcons_add(&env, &cons, w, S(3 * i));
  const TAGGED r = fd_neg_offset(&env, w, cons.head, S(1));
  long count = 0;
  long expect = 1 - 3 * (n - 1);
  bool ordered = true;
  for (TAGGED x = r; !fd_is_empty(x); x = fd_rest(x), count++, expect += 3)
    ordered = ordered && fd_interval_min(fd_first_interval(x)) == S(expect) &&
              fd_interval_max(fd_first_interval(x)) == S(expect);
  EXPECT_EQ(count, n);
  EXPECT_TRUE(ordered);
}

TEST_F(FdSets, LocalizeLeavesNoCellOnTheHeapAndGlobalizeCopiesBack)
{
  auto on_heap = [&](TAGGED t) { return TagToLST(t) >= w->heap_start && TagToLST(t) < w->stack_start; };
  for (int round = 0; round < 200; round++) {
    w->numstack_end = nullptr;
    const model ma = random_model(), mb = random_model();
    // A result that mixes heap and number-stack cells.
    const TAGGED a = heap_set(ma), b = heap_set(mb);
    const TAGGED mixed = fd_union(&env, w, a, b);
    const model mu = model::of([&](long v) { return ma.has(v) || mb.has(v); });
    const TAGGED local = fd_localize(&env, w, mixed);
    bool any_heap = false;
    for (TAGGED x = local; !fd_is_empty(x); x = fd_rest(x))
      any_heap = any_heap || on_heap(x) || on_heap(fd_first_interval(x));
    EXPECT_FALSE(any_heap) << text(local);
    expect_set(local, mu, "localize");
    EXPECT_EQ(text(a), canonical_text(ma)) << "localize changed a heap operand";

    st.fd_overflow = 0;
    const TAGGED global = fd_globalize(&env, w, local, 0);
    bool all_heap = true;
    for (TAGGED x = global; !fd_is_empty(x); x = fd_rest(x))
      all_heap = all_heap && on_heap(x) && on_heap(fd_first_interval(x));
    EXPECT_TRUE(all_heap);
    expect_set(global, mu, "globalize");
    EXPECT_EQ(st.fd_overflow, 0);
  }
  // An overflow interval raises the flag when it reaches the heap.
  st.fd_overflow = 0;
  fd_globalize(&env, w, fd_complement(&env, w, fd_interval(&env, w, S(SMALL_MIN), S(5))), 0);
  EXPECT_EQ(st.fd_overflow, 1);
}

TEST_F(FdSets, CheckingSetsThatComeFromProlog)
{
  struct row {
    std::vector<std::pair<TAGGED, TAGGED>> ivs;
    bool ok;
    std::int64_t size;
    const char *why;
  };
  const row rows[] = {
      {{}, true, 0, "empty"},
      {{{S(1), S(3)}, {S(5), S(6)}}, true, 5, "two intervals"},
      {{{S(1), S(3)}, {S(4), S(6)}}, false, 0, "touching intervals"},
      {{{S(1), S(3)}}, true, 3, "one interval"},
      {{{S(1), atom_sup}, {S(9), S(9)}}, false, 0, "something after sup"},
      {{{atom_inf, S(0)}}, true, -1, "infinite"},
      {{{S(1), S(2)}, {atom_inf, S(9)}}, false, 0, "inf not first"},
      {{{S(3), S(1)}}, false, 0, "reversed interval"},
      {{{atom_sup, atom_sup}}, false, 0, "sup as a lower end"},
      {{{S(5), S(6)}, {S(1), S(2)}}, false, 0, "descending"},
  };
  for (const row &r : rows) {
    const TAGGED head = heap_intervals(r.ivs);
    std::int64_t size = -2;
    bool plain = false;
    EXPECT_EQ(fd_check_set(head, &size, &plain), r.ok) << r.why;
    if (r.ok) {
      EXPECT_EQ(size, r.size) << r.why;
      EXPECT_TRUE(plain) << r.why;
    }
  }
  // A set whose tail and bound are bound variables: checked through them,
  // and made plain by a copy.
  TAGGED *p = w->global_top;
  w->global_top += 10;
  p[0] = MakeLST(p + 2);
  p[1] = PointerToTerm(p + 4); // the tail: a variable bound to the rest
  p[2] = S(1);
  p[3] = PointerToTerm(p + 5); // E: a variable bound to 3
  p[4] = MakeLST(p + 6);
  p[5] = S(3);
  p[6] = MakeLST(p + 8);
  p[7] = fd_empty_set;
  p[8] = S(7);
  p[9] = atom_sup;
  std::int64_t size;
  bool plain;
  ASSERT_TRUE(fd_check_set(MakeLST(p), &size, &plain));
  EXPECT_FALSE(plain);
  EXPECT_EQ(size, -1);
  EXPECT_EQ(text(fd_plain_set(&env, w, MakeLST(p))), "[[1|3],[7|sup]]");
  // A list that runs into itself is no set (and the check ends).
  TAGGED *q = w->global_top;
  w->global_top += 4;
  q[0] = MakeLST(q + 2);
  q[1] = MakeLST(q);
  q[2] = S(1);
  q[3] = S(2);
  EXPECT_FALSE(fd_check_set(MakeLST(q), &size, &plain));
  EXPECT_EQ(fd_plain_set(&env, w, atom_nil + 8), 0u) << "an atom is no set";
}

} // namespace
