// The native sorts at scale: a million scrambled integers sorted in
// O(n log n) time (checked by how the time grows from n/4 to n, and
// printed), ordered and reversed input in one run, and keysort stable over
// a long list with few keys.  Behaviour in the small is tested in
// tests/prolog/sorting.pl.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <vector>

#include "heavy_tests.h"
#include "runtime_fixture.h"
#include "sorting.h"
#include "terms.h"
#include "unify.h"

namespace {

struct Sorting : RuntimeFixture {
  // The list of values (small integers) at the heap top.
  TAGGED list_of(const std::vector<VR_INTEGER> &values)
  {
    const long n = static_cast<long>(values.size());
    if (w->global_top + 2 * n + 1024 > w->heap_warn)
      call_overflow(w, static_cast<int>(2 * n + 1024), 0);
    TAGGED *h = w->global_top;
    TAGGED list = atom_nil;
    for (long i = n - 1; i >= 0; --i) {
      h[2 * i] = MakeSmall_checked(values[static_cast<std::size_t>(i)]);
      h[2 * i + 1] = list;
      list = MakeLST(h + 2 * i);
    }
    w->global_top = h + 2 * n;
    return list;
  }
  // The pairs Key-Index at the heap top.
  TAGGED pairs_of(const std::vector<VR_INTEGER> &keys)
  {
    const long n = static_cast<long>(keys.size());
    if (w->global_top + 5 * n + 1024 > w->heap_warn)
      call_overflow(w, static_cast<int>(5 * n + 1024), 0);
    const TAGGED minus = MakeFunctor(init_atom_check("-", 0), 2);
    TAGGED *h = w->global_top;
    TAGGED list = atom_nil;
    for (long i = n - 1; i >= 0; --i) {
      TAGGED *p = h + 5 * i;
      p[0] = minus;
      p[1] = MakeSmall_checked(keys[static_cast<std::size_t>(i)]);
      p[2] = MakeSmall_checked(i);
      p[3] = MakeSTR(p);
      p[4] = list;
      list = MakeLST(p + 3);
    }
    w->global_top = h + 5 * n;
    return list;
  }
  // Runs the sort on list; the result, or 0 when the sort failed.
  TAGGED sort(int (*fn)(worker *), TAGGED list, double *seconds = nullptr)
  {
    TAGGED *v = w->global_top++;
    *v = PointerToTerm(v);
    w->term[0] = list;
    w->term[1] = *v;
    const std::clock_t start = std::clock();
    const int ok = fn(w);
    if (seconds != nullptr)
      *seconds = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
    return ok ? deref(w->term[1]) : 0;
  }
  static std::vector<VR_INTEGER> scrambled(long n, std::uint32_t seed)
  {
    std::vector<VR_INTEGER> v(static_cast<std::size_t>(n));
    for (auto &x : v) {
      seed = seed * 1103515245u + 12345u;
      x = static_cast<VR_INTEGER>(seed >> 4) - (1 << 27);
    }
    return v;
  }
  static std::vector<VR_INTEGER> values_of(TAGGED list)
  {
    std::vector<VR_INTEGER> v;
    for (TAGGED l = deref(list); IsList(l); l = deref(TagToLST(l)[1]))
      v.push_back(GetSmall(deref(TagToLST(l)[0])));
    return v;
  }
  // The fastest of three sorts of the same values.
  double best_time(const std::vector<VR_INTEGER> &values)
  {
    double best = 1e9;
    for (int i = 0; i < 3; ++i) {
      const std::ptrdiff_t mark = w->global_top - w->heap_start;
      double t;
      EXPECT_NE(sort(prolog_sort, list_of(values), &t), 0u);
      best = std::min(best, t);
      w->global_top = w->heap_start + mark;
    }
    return best;
  }
};

TEST_F(Sorting, ScrambledIntegersInNLogNTime)
{
  const long n = heavy_list_length;
  const std::vector<VR_INTEGER> big = scrambled(n, 1), small = scrambled(n / 4, 2);
  std::vector<VR_INTEGER> want = big;
  std::sort(want.begin(), want.end());
  want.erase(std::unique(want.begin(), want.end()), want.end());
  double t_big;
  const TAGGED sorted = sort(prolog_sort, list_of(big), &t_big);
  ASSERT_NE(sorted, 0u);
  EXPECT_EQ(values_of(sorted), want);

  // n log n: four times the elements take about 4.4 times as long; a
  // quadratic sort would take 16 times.
  const double t1 = best_time(small), t4 = best_time(big);
  std::printf("sorting %ld scrambled integers: %.3f s; %ld: %.3f s (ratio %.2f)\n", n, t4, n / 4, t1,
              t1 > 0 ? t4 / t1 : 0.0);
  RecordProperty("seconds_for_n", std::to_string(t4));
  if (t1 > 0.02) {
    EXPECT_LT(t4 / t1, 8.0) << "sorting time grows faster than n log n";
  }
}

TEST_F(Sorting, OrderedAndReversedInputIsOneRun)
{
  const long n = heavy_list_length;
  std::vector<VR_INTEGER> up(static_cast<std::size_t>(n));
  for (long i = 0; i < n; ++i)
    up[static_cast<std::size_t>(i)] = i;
  std::vector<VR_INTEGER> down(up.rbegin(), up.rend());
  double t_up, t_down, t_scrambled;
  // The first sort of this size grows the heap (and collects it on the
  // way); untimed, so that the timed runs compare sorting alone.
  ASSERT_NE(sort(prolog_sort, list_of(up), &t_up), 0u);
  EXPECT_EQ(values_of(sort(prolog_sort, list_of(up), &t_up)), up);
  EXPECT_EQ(values_of(sort(prolog_sort, list_of(down), &t_down)), up);
  ASSERT_NE(sort(prolog_sort, list_of(scrambled(n, 3)), &t_scrambled), 0u);
  std::printf("sorting %ld integers: ordered %.3f s, reversed %.3f s, scrambled %.3f s\n", n, t_up, t_down,
              t_scrambled);
  // One run and no merge: linear, well under the scrambled time.
  if (t_scrambled > 0.05) {
    EXPECT_LT(t_up, t_scrambled / 2);
    EXPECT_LT(t_down, t_scrambled / 2);
  }
}

TEST_F(Sorting, KeysortIsStableOverALongListWithFewKeys)
{
  const long n = heavy_list_length / 2;
  std::vector<VR_INTEGER> keys = scrambled(n, 4);
  for (auto &k : keys)
    k = (k & 0xFFFF) % 7;
  const TAGGED sorted = sort(prolog_keysort, pairs_of(keys));
  ASSERT_NE(sorted, 0u);
  long count = 0;
  VR_INTEGER last_key = -1, last_index = -1;
  for (TAGGED l = sorted; IsList(l); l = deref(TagToLST(l)[1]), ++count) {
    const TAGGED *p = TagToSTR(deref(TagToLST(l)[0]));
    const VR_INTEGER k = GetSmall(deref(p[1])), i = GetSmall(deref(p[2]));
    ASSERT_TRUE(k > last_key || (k == last_key && i > last_index))
        << "pair " << count << ": " << k << "-" << i << " after " << last_key << "-" << last_index;
    last_key = k;
    last_index = i;
  }
  EXPECT_EQ(count, n);
}

} // namespace
