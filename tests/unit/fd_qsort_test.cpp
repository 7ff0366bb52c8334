// The solver's quicksort against std::sort: random arrays of every length
// up to past the pseudo-median threshold, with many equal keys and with
// values at both ends of the 32-bit range, and the shapes that take the
// special paths (sorted, reversed, all equal, organ pipe); a comparator
// over indices by a key (the form the constraints use); and the
// insertion-sort shortcut on sorted input, seen in the comparison count.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "fd_qsort.h"

namespace {

std::string show(const std::vector<long> &v)
{
  std::string s;
  for (long x : v)
    s += std::to_string(x) + " ";
  return s;
}

void expect_sorts(std::vector<long> v, const std::string &what)
{
  std::vector<long> want = v;
  std::sort(want.begin(), want.end());
  const std::string before = show(v);
  fd_qsort_asc_long(nullptr, v.data(), static_cast<std::ptrdiff_t>(v.size()));
  EXPECT_EQ(v, want) << what << " n=" << v.size() << " input: " << before;
}

TEST(FdQsort, RandomArraysAgreeWithStdSort)
{
  std::mt19937 rng(24);
  // Value spreads: few distinct keys (long equal runs), a small range, the
  // whole 32-bit range.
  struct spread {
    const char *name;
    long lo, hi;
  };
  const spread spreads[] = {{"three keys", 0, 2}, {"small range", -50, 50}, {"full range", LONG_MIN, LONG_MAX}};
  for (const spread &s : spreads)
    for (int n = 0; n <= 130; n++)
      for (int round = 0; round < 4; round++) {
        std::uniform_int_distribution<long> value(s.lo, s.hi);
        std::vector<long> v(n);
        for (long &x : v)
          x = value(rng);
        expect_sorts(v, s.name);
      }
  std::uniform_int_distribution<long> big(-1000, 1000);
  std::vector<long> v(5000);
  for (long &x : v)
    x = big(rng);
  expect_sorts(v, "long random");
}

TEST(FdQsort, ShapesThatTakeTheSpecialPaths)
{
  // The lengths around each threshold: insertion sort (<= 6), the plain
  // middle pivot (7), median of three (8..40), pseudo-median of nine (41+).
  for (int n : {0, 1, 2, 6, 7, 8, 40, 41, 100, 1000}) {
    std::vector<long> up(n), down(n), equal(n, 7), pipe(n), extremes(n);
    for (int i = 0; i < n; i++) {
      up[i] = i;
      down[i] = n - i;
      pipe[i] = std::min(i, n - i);
      extremes[i] = i % 3 == 0 ? LONG_MIN : i % 3 == 1 ? LONG_MAX : 0;
    }
    expect_sorts(up, "ascending");
    expect_sorts(down, "descending");
    expect_sorts(equal, "all equal");
    expect_sorts(pipe, "organ pipe");
    expect_sorts(extremes, "least and greatest");
  }
}

TEST(FdQsort, IndicesByKeyDescending)
{
  // Indices ordered by a key held outside the array, greatest key first,
  // ties by index: a total order, so the result is exactly std::sort's.
  std::mt19937 rng(7);
  std::uniform_int_distribution<long> value(0, 9);
  for (int n : {5, 9, 45, 300}) {
    std::vector<long> key(n);
    for (long &k : key)
      k = value(rng);
    auto before = [&](const int &a, const int &b) { return key[a] != key[b] ? key[a] > key[b] : a < b; };
    std::vector<int> idx(n), want(n);
    for (int i = 0; i < n; i++)
      idx[i] = want[i] = n - 1 - i;
    std::sort(want.begin(), want.end(), before);
    fd_qsort(idx.data(), n, [&](const int &a, const int &b) { return before(a, b) ? -1 : before(b, a) ? 1 : 0; });
    EXPECT_EQ(idx, want) << "n=" << n;
  }
}

TEST(FdQsort, SortedInputEndsAfterOnePartitioningPass)
{
  // One pass (n), then insertion sort, which moves the pivot back (2n);
  // without the shortcut, sorted input costs a full n log n quicksort.
  for (int n : {100, 1000}) {
    std::vector<long> v(n);
    for (int i = 0; i < n; i++)
      v[i] = 3 * i - n;
    long comparisons = 0;
    fd_qsort(v.data(), n, [&](const long &a, const long &b) {
      comparisons++;
      return cmp_asc_long(a, b);
    });
    EXPECT_TRUE(std::is_sorted(v.begin(), v.end()));
    EXPECT_LT(comparisons, 4L * n) << "n=" << n;
  }
}

} // namespace
