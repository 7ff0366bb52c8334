/* fd_qsort.h: the solver's one in-place sort of small word-sized arrays.
 *
 * fd_qsort(a, n, cmp) is a quicksort with three-way (split-end)
 * partitioning, instantiated per comparator so that every comparison is a
 * direct, inlinable call.  cmp(x, y) returns a negative number, 0 or a
 * positive number, as x sorts before, with or after y; a comparator that
 * needs the running constraint's data captures it (or reads fd_state's
 * gdata).  Equal keys end in no particular order (the sort is not stable).
 * It allocates nothing and recurses on one side only (the part of smaller
 * keys); the part of larger keys is sorted by the same call's loop.
 *
 * Callers: the labeling heap, and the constraints that order values,
 * indices or records by a key.
 */
#ifndef TRELIX_CLPFD_FD_QSORT_H
#define TRELIX_CLPFD_FD_QSORT_H

#include <algorithm>
#include <cstddef>
#include <utility>

#include "fd_state.h"

namespace fd_qsort_detail {

template <typename T> inline void vecswap(T *a, T *b, std::ptrdiff_t n)
{
  for (; n > 0; n--)
    std::swap(*a++, *b++);
}

template <typename T, typename Cmp> inline T *med3(T *a, T *b, T *c, Cmp &cmp)
{
  return cmp(*a, *b) < 0 ? (cmp(*b, *c) < 0 ? b : (cmp(*a, *c) < 0 ? c : a))
                         : (cmp(*b, *c) > 0 ? b : (cmp(*a, *c) < 0 ? a : c));
}

/* Each element from the second on is swapped backwards while its
   predecessor sorts after it. */
template <typename T, typename Cmp> inline void insertion(T *a, std::ptrdiff_t n, Cmp &cmp)
{
  for (T *pm = a + 1; pm < a + n; pm++)
    for (T *pl = pm; pl > a && cmp(pl[-1], *pl) > 0; pl--)
      std::swap(pl[-1], *pl);
}

} // namespace fd_qsort_detail

template <typename T, typename Cmp> void fd_qsort(T *a, std::ptrdiff_t n, Cmp cmp)
{
  using namespace fd_qsort_detail;
  for (;;) {
    if (n <= 6) {
      insertion(a, n, cmp);
      return;
    }
    /* The pivot: the middle element; the median of three from 8 elements
       on; the pseudo-median of nine above 40. */
    T *pm = a + n / 2;
    if (n > 7) {
      T *pl = a, *pn = a + n - 1;
      if (n > 40) {
        const std::ptrdiff_t d = n / 8;
        pl = med3(pl, pl + d, pl + 2 * d, cmp);
        pm = med3(pm - d, pm, pm + d, cmp);
        pn = med3(pn - 2 * d, pn - d, pn, cmp);
      }
      pm = med3(pl, pm, pn, cmp);
    }
    std::swap(*a, *pm);

    /* a[1..pa) and (pd..n) hold keys equal to the pivot, [pa..pb) smaller
       ones, (pc..pd] greater ones. */
    T *pa = a + 1, *pb = a + 1, *pc = a + n - 1, *pd = a + n - 1;
    bool swapped = false;
    for (;;) {
      int r;
      while (pb <= pc && (r = cmp(*pb, *a)) <= 0) {
        if (r == 0) {
          swapped = true;
          std::swap(*pa, *pb);
          pa++;
        }
        pb++;
      }
      while (pb <= pc && (r = cmp(*pc, *a)) >= 0) {
        if (r == 0) {
          swapped = true;
          std::swap(*pc, *pd);
          pd--;
        }
        pc--;
      }
      if (pb > pc)
        break;
      std::swap(*pb, *pc);
      swapped = true;
      pb++;
      pc--;
    }
    if (!swapped) {
      /* The range looks sorted: insertion sort finishes it cheaply. */
      insertion(a, n, cmp);
      return;
    }

    /* The equal runs move from both ends to the middle. */
    T *const pn = a + n;
    std::ptrdiff_t r = std::min(pa - a, pb - pa);
    vecswap(a, pb - r, r);
    r = std::min(pd - pc, pn - pd - 1);
    vecswap(pb, pn - r, r);
    if ((r = pb - pa) > 1)
      fd_qsort(a, r, cmp);
    if ((r = pd - pc) <= 1)
      return;
    a = pn - r;
    n = r;
  }
}

/* Integers ascending; compares without subtracting, so values at both ends
   of the range order correctly. */
inline int cmp_asc_long(const long &a, const long &b) { return a < b ? -1 : a > b ? 1 : 0; }

inline void fd_qsort_asc_long1(std::ptrdiff_t n, long *array) { fd_qsort(array, n, cmp_asc_long); }

inline void fd_qsort_asc_long(VREnv *, long *array, std::ptrdiff_t n) { fd_qsort_asc_long1(n, array); }

#endif
