/* fdset_arith.cpp: sums, differences, residues and multiples of FD sets
 * (see fdset_arith.h).
 *
 * Sums and differences of two sets, and the residues of a set, are unions
 * of many intervals that may overlap in any order.  They are collected as
 * events in one array on the number stack and swept once after sorting:
 * a start event at v is the word 2v, an end event after e is 2(e + 1) + 1,
 * so that after an ascending sort a start at v comes before the end of an
 * interval that stops at v - 1, and touching intervals merge.  Values are
 * bound orders (bounds.h), so inf and sup are plain integers here; an
 * interval starting at inf is open before the first event and one ending
 * at sup never closes.  The sweep emits ascending, disjoint, non-touching
 * intervals: a well-formed FD set.
 */
#include "fdset_arith.h"

#include "fd_qsort.h"

namespace {

inline std::int32_t ord(TAGGED t) { return fd_order(t); }

struct sweep {
  long *ev;
  std::ptrdiff_t n = 0;
  int open_before = 0; /* intervals starting at inf */

  sweep(VREnv *env, worker *w, std::ptrdiff_t capacity)
      : ev(reinterpret_cast<long *>(fd_numstack_words(env, w, static_cast<int>(capacity > 0 ? capacity : 1))))
  {
  }
  /* The values b..e (orders, b =< e). */
  void add(std::int64_t b, std::int64_t e)
  {
    if (b <= FD_ORDER_INF)
      open_before++;
    else
      ev[n++] = static_cast<long>(2 * b);
    if (e < FD_ORDER_SUP)
      ev[n++] = static_cast<long>(2 * (e + 1) + 1);
  }
  TAGGED result(VREnv *env, worker *w)
  {
    fd_qsort_asc_long(env, ev, n);
    TAGGED head = fd_empty_set, *tail = &head;
    auto emit = [&](std::int64_t b, std::int64_t e) {
      TAGGED *p = fd_numstack_words(env, w, 4);
      p[0] = MakeLST(p + 2);
      p[2] = fd_from_order(b);
      p[3] = fd_from_order(e);
      *tail = MakeLST(p);
      tail = p + 1;
    };
    int count = open_before;
    std::int64_t start = FD_ORDER_INF;
    for (std::ptrdiff_t i = 0; i < n; i++) {
      const std::int64_t v = ev[i] >> 1; /* arithmetic: floor */
      if ((ev[i] & 1) == 0) {
        if (count++ == 0)
          start = v;
      } else if (--count == 0) {
        emit(start, v - 1);
      }
    }
    if (count > 0)
      emit(start, FD_ORDER_SUP);
    *tail = fd_empty_set;
    return head;
  }
};

std::ptrdiff_t interval_count(TAGGED d)
{
  std::ptrdiff_t n = 0;
  for (; !fd_is_empty(d); d = fd_rest(d))
    n++;
  return n;
}

/* The residues by k (floored, sign of k) of the interval b..e (orders). */
void mod_residues(sweep &s, std::int64_t b, std::int64_t e, long k)
{
  const std::int64_t lo = k > 0 ? 0 : k + 1, hi = k > 0 ? k - 1 : 0;
  const std::int64_t width = k > 0 ? k : -static_cast<std::int64_t>(k);
  if (b <= FD_ORDER_INF || e >= FD_ORDER_SUP || e - b + 1 >= width)
    return s.add(lo, hi);
  const long r1 = fast_modi(static_cast<long>(b), k), r2 = fast_modi(static_cast<long>(e), k);
  if (r1 <= r2)
    return s.add(r1, r2);
  s.add(r1, hi);
  s.add(lo, r2);
}

/* The remainders by d > 0 (truncated, sign of the dividend) of b..e,
   which lies on one side of 0. */
void rem_residues(sweep &s, std::int64_t b, std::int64_t e, std::int64_t d)
{
  const bool negative = e < 0;
  const std::int64_t lo = negative ? 1 - d : 0, hi = negative ? 0 : d - 1;
  if (b <= FD_ORDER_INF || e >= FD_ORDER_SUP || e - b + 1 >= d)
    return s.add(lo, hi);
  const std::int64_t r1 = b % d, r2 = e % d;
  if (r1 <= r2)
    return s.add(r1, r2);
  s.add(r1, hi);
  s.add(lo, r2);
}

std::int64_t magnitude(long k) { return k < 0 ? -static_cast<std::int64_t>(k) : k; }

} // namespace

namespace {

/* Sums (or differences) of every pair of intervals, those wholly outside
   lb..ub left out.  Sums ascend along s2, so a row stops at the first one
   above ub; differences descend, so nothing stops early. */
TAGGED pairwise(VREnv *env, worker *w, TAGGED s1, TAGGED s2, TAGGED lb, TAGGED ub, bool minus)
{
  if (fd_is_empty(s1) || fd_is_empty(s2))
    return fd_empty_set;
  const std::int32_t l = ord(lb), u = ord(ub);
  sweep s(env, w, 2 * interval_count(s1) * interval_count(s2));
  for (TAGGED a = s1; !fd_is_empty(a); a = fd_rest(a)) {
    const TAGGED ia = fd_first_interval(a);
    for (TAGGED b = s2; !fd_is_empty(b); b = fd_rest(b)) {
      const TAGGED ib = fd_first_interval(b);
      const std::int32_t lo = minus ? ord(fd_safe_minus(fd_interval_min(ia), fd_interval_max(ib)))
                                    : ord(fd_safe_plus(fd_interval_min(ia), fd_interval_min(ib)));
      const std::int32_t hi = minus ? ord(fd_safe_minus(fd_interval_max(ia), fd_interval_min(ib)))
                                    : ord(fd_safe_plus(fd_interval_max(ia), fd_interval_max(ib)));
      if (lo > u && !minus)
        break;
      if (lo <= u && hi >= l)
        s.add(lo, hi);
    }
  }
  return s.result(env, w);
}

} // namespace

TAGGED fd_plus(VREnv *env, worker *w, TAGGED s1, TAGGED s2, TAGGED lb, TAGGED ub)
{
  return pairwise(env, w, s1, s2, lb, ub, false);
}

TAGGED fd_minus(VREnv *env, worker *w, TAGGED s1, TAGGED s2, TAGGED lb, TAGGED ub)
{
  return pairwise(env, w, s1, s2, lb, ub, true);
}

TAGGED fd_setrem_interval(VREnv *env, worker *w, TAGGED lo, TAGGED hi, long d)
{
  sweep s(env, w, 4);
  rem_residues(s, ord(lo), ord(hi), magnitude(d));
  return s.result(env, w);
}

TAGGED fd_setrem(VREnv *env, worker *w, TAGGED d, long k)
{
  sweep s(env, w, 8 * interval_count(d));
  const std::int64_t m = magnitude(k);
  for (; !fd_is_empty(d); d = fd_rest(d)) {
    const TAGGED iv = fd_first_interval(d);
    const std::int64_t b = ord(fd_interval_min(iv)), e = ord(fd_interval_max(iv));
    if (b < 0)
      rem_residues(s, b, e < -1 ? e : -1, m);
    if (e >= 0)
      rem_residues(s, b > 0 ? b : 0, e, m);
  }
  return s.result(env, w);
}

TAGGED fd_setmod(VREnv *env, worker *w, TAGGED d, long k)
{
  sweep s(env, w, 4 * interval_count(d));
  for (; !fd_is_empty(d); d = fd_rest(d)) {
    const TAGGED iv = fd_first_interval(d);
    mod_residues(s, ord(fd_interval_min(iv)), ord(fd_interval_max(iv)), k);
  }
  return s.result(env, w);
}

TAGGED fd_multiples(VREnv *env, worker *w, long n, long v)
{
  if (n < 1 || v == 0)
    return fd_interval(env, w, MakeSmall_checked(0), MakeSmall_checked(0));
  if (v == 1 || v == -1) {
    const std::int64_t m = n < SMALL_MAX ? n : SMALL_MAX;
    return v == 1 ? fd_interval(env, w, MakeSmall_checked(0), MakeSmall_checked(static_cast<VR_INTEGER>(m)))
                  : fd_interval(env, w, MakeSmall_checked(static_cast<VR_INTEGER>(-m)), MakeSmall_checked(0));
  }
  /* The multiples that are small integers, ascending. */
  const std::int64_t fit = (v > 0 ? SMALL_MAX : -static_cast<std::int64_t>(SMALL_MIN)) / magnitude(v);
  const std::int64_t last = n < fit ? n : fit;
  TAGGED head = fd_empty_set, *tail = &head;
  for (std::int64_t i = 0; i <= last; i++) {
    const std::int64_t x = v > 0 ? i * v : (last - i) * v;
    TAGGED *p = fd_numstack_words(env, w, 4);
    p[0] = MakeLST(p + 2);
    p[2] = p[3] = MakeSmall_checked(static_cast<VR_INTEGER>(x));
    *tail = MakeLST(p);
    tail = p + 1;
  }
  *tail = fd_empty_set;
  return head;
}
