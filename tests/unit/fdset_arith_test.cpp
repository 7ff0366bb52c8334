// Arithmetic over FD sets: sums and differences of random finite sets
// (restricted to a window or not) against the sets of all sums, residues by
// mod and rem against brute force, and the cases at the infinities and at
// the ends of the small-integer range that a brute force cannot reach.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "fdset_arith.h"
#include "fdset_model.h"

namespace {

using namespace fdset_model;

struct FdSetArith : FdSetFixture {
  // A random finite set of values within [-6, 6] as its intervals.
  std::vector<std::pair<long, long>> random_finite()
  {
    std::vector<std::pair<long, long>> ivs;
    long v = -6 + static_cast<long>(rng() % 3);
    while (v <= 6) {
      const long e = v + static_cast<long>(rng() % 3);
      if (rng() % 5 != 0)
        ivs.push_back({v, e > 6 ? 6 : e});
      v = e + 2 + static_cast<long>(rng() % 3);
    }
    return ivs;
  }
  TAGGED make(const std::vector<std::pair<long, long>> &ivs)
  {
    std::vector<std::pair<TAGGED, TAGGED>> t;
    for (auto [b, e] : ivs)
      t.push_back({S(b), S(e)});
    return heap_intervals(t);
  }
  // The canonical text of a finite set of values.
  static std::string text_of(const std::set<long> &vals)
  {
    std::string s = "[";
    for (auto it = vals.begin(); it != vals.end();) {
      long b = *it, e = b;
      for (++it; it != vals.end() && *it == e + 1; ++it)
        e = *it;
      s += (s.size() > 1 ? ",[" : "[") + std::to_string(b) + "|" + std::to_string(e) + "]";
    }
    return s + "]";
  }
  void check_well_formed(TAGGED d, const std::string &what)
  {
    std::int64_t size;
    bool plain;
    EXPECT_TRUE(fd_check_set(d, &size, &plain)) << what << ": not a well-formed set: " << text(d);
  }
};

// A pair of intervals whose sum (difference) meets lb..ub enters whole;
// the others stay out.  Computed here value by value over the pairs.
TEST_F(FdSetArith, SumsAndDifferencesAgreeWithBruteForceOnRandomSets)
{
  TAGGED *heap_mark = w->global_top;
  for (int round = 0; round < 2000; round++) {
    w->global_top = heap_mark;
    w->numstack_end = nullptr;
    const auto a = random_finite(), b = random_finite();
    const bool window = round % 2 == 1;
    const long lb = window ? random_value(-14, 6) : -1000, ub = window ? lb + random_value(0, 8) : 1000;
    const TAGGED sa = make(a), sb = make(b);
    const TAGGED tl = window ? S(lb) : atom_inf, tu = window ? S(ub) : atom_sup;
    std::set<long> sums, diffs;
    for (auto [b1, e1] : a)
      for (auto [b2, e2] : b) {
        if (b1 + b2 <= ub && e1 + e2 >= lb)
          for (long v = b1 + b2; v <= e1 + e2; v++)
            sums.insert(v);
        if (b1 - e2 <= ub && e1 - b2 >= lb)
          for (long v = b1 - e2; v <= e1 - b2; v++)
            diffs.insert(v);
      }
    const std::string what = "a = " + text(sa) + ", b = " + text(sb) + ", lb..ub = " + bound_text(tl) + ".." +
                             bound_text(tu);
    const TAGGED p = fd_plus(&env, w, sa, sb, tl, tu), m = fd_minus(&env, w, sa, sb, tl, tu);
    EXPECT_EQ(text(p), text_of(sums)) << "plus " << what;
    EXPECT_EQ(text(m), text_of(diffs)) << "minus " << what;
    check_well_formed(p, "plus " + what);
    check_well_formed(m, "minus " + what);
  }
}

TEST_F(FdSetArith, ResiduesAgreeWithBruteForceOnRandomSets)
{
  TAGGED *heap_mark = w->global_top;
  for (int round = 0; round < 2000; round++) {
    w->global_top = heap_mark;
    w->numstack_end = nullptr;
    const auto a = random_finite();
    long k = random_value(-5, 5);
    if (k == 0)
      k = 7;
    std::set<long> mods, rems;
    for (auto [b, e] : a)
      for (long v = b; v <= e; v++) {
        long r = v % k;
        if (r != 0 && (r < 0) != (k < 0))
          r += k;
        mods.insert(r);
        rems.insert(v % k);
      }
    const TAGGED sa = make(a);
    const std::string what = "a = " + text(sa) + ", k = " + std::to_string(k);
    EXPECT_EQ(text(fd_setmod(&env, w, sa, k)), text_of(mods)) << "mod " << what;
    EXPECT_EQ(text(fd_setrem(&env, w, sa, k)), text_of(rems)) << "rem " << what;
  }
}

TEST_F(FdSetArith, InfinitiesAndTheEndsOfTheRange)
{
  const TAGGED inf = atom_inf, sup = atom_sup;
  const long max = SMALL_MAX, min = SMALL_MIN;
  struct row {
    const char *why;
    std::vector<std::pair<TAGGED, TAGGED>> a, b;
    TAGGED lb, ub;
    const char *plus, *minus;
  };
  const row rows[] = {
      {"dom(Y) + 1 with Y in 1..sup", {{S(1), sup}}, {{S(1), S(1)}}, inf, sup, "[[2|sup]]", "[[0|sup]]"},
      {"a lower end at inf is open from the start", {{inf, S(0)}}, {{S(1), S(2)}}, inf, sup, "[[inf|2]]",
       "[[inf|-1]]"},
      {"touching sums merge, gaps stay", {{S(0), S(1)}, {S(10), S(10)}}, {{S(0), S(1)}}, inf, sup,
       "[[0|2],[10|11]]", "[[-1|1],[9|10]]"},
      {"empty operand", {}, {{S(0), S(1)}}, inf, sup, "[]", "[]"},
      {"the window drops the pairs wholly outside", {{S(0), S(0)}, {S(100), S(100)}}, {{S(0), S(1)}}, S(-5), S(5),
       "[[0|1]]", "[[-1|0]]"},
      {"the whole line plus anything is the whole line", {{inf, sup}}, {{S(3), S(3)}}, inf, sup, "[[inf|sup]]",
       "[[inf|sup]]"},
  };
  for (const row &r : rows) {
    w->numstack_end = nullptr;
    const TAGGED a = heap_intervals(r.a), b = heap_intervals(r.b);
    EXPECT_EQ(text(fd_plus(&env, w, a, b, r.lb, r.ub)), r.plus) << r.why;
    EXPECT_EQ(text(fd_minus(&env, w, a, b, r.lb, r.ub)), r.minus) << r.why;
  }
  // At the top of the range: every sum of max-1..max and 2..3 lies beyond
  // the greatest integer.
  w->numstack_end = nullptr;
  const TAGGED top = fd_plus(&env, w, heap_intervals({{S(max - 1), S(max)}}), heap_intervals({{S(2), S(3)}}), inf, sup);
  EXPECT_EQ(text(top), "[[sup|sup]]") << "every sum lies beyond the greatest integer: the overflow mark";
  w->numstack_end = nullptr;
  const TAGGED part = fd_plus(&env, w, heap_intervals({{S(max - 3), S(max)}}), heap_intervals({{S(1), S(1)}}), inf, sup);
  EXPECT_EQ(text(part), "[[" + std::to_string(max - 2) + "|sup]]");
  w->numstack_end = nullptr;
  const TAGGED low = fd_plus(&env, w, heap_intervals({{S(min), S(min)}}), heap_intervals({{S(-1), S(-1)}}), inf, sup);
  EXPECT_EQ(text(low), "[[inf|inf]]") << "below the least integer: the overflow mark";
}

TEST_F(FdSetArith, RemaindersOfOneSignedIntervalAndMultiples)
{
  const TAGGED inf = atom_inf, sup = atom_sup;
  struct row {
    TAGGED lo, hi;
    long d;
    const char *want;
  };
  const row rems[] = {
      {S(3), S(4), 5, "[[3|4]]"},          // no wrap
      {S(4), S(6), 5, "[[0|1],[4|4]]"},    // wraps past d - 1
      {S(0), S(9), 5, "[[0|4]]"},          // at least d wide: all
      {S(7), sup, 5, "[[0|4]]"},           // infinite: all
      {S(-7), S(-3), 5, "[[-4|0]]"},       // negative, wraps
      {S(-4), S(-3), 5, "[[-4|-3]]"},      // negative, no wrap
      {inf, S(-1), 3, "[[-2|0]]"},         // negative infinite
      {S(4), S(6), -5, "[[0|1],[4|4]]"},   // the divisor's sign does not matter
  };
  for (const row &r : rems) {
    w->numstack_end = nullptr;
    EXPECT_EQ(text(fd_setrem_interval(&env, w, r.lo, r.hi, r.d)), r.want)
        << bound_text(r.lo) << ".." << bound_text(r.hi) << " rem " << r.d;
  }
  struct mrow {
    long n, v;
    const char *want;
  };
  const mrow mults[] = {
      {3, 1, "[[0|3]]"},
      {3, 2, "[[0|0],[2|2],[4|4],[6|6]]"},
      {2, -3, "[[-6|-6],[-3|-3],[0|0]]"},
      {0, 5, "[[0|0]]"},
      {4, 0, "[[0|0]]"},
      {5, 100000000, "[[0|0],[100000000|100000000],[200000000|200000000]]"}, // 3v and up leave the range
  };
  for (const mrow &r : mults) {
    w->numstack_end = nullptr;
    EXPECT_EQ(text(fd_multiples(&env, w, r.n, r.v)), r.want) << r.n << " multiples of " << r.v;
  }
}

} // namespace
