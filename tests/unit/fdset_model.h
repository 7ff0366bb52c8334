// A brute-force model of FD sets for the tests of the solver's sets and
// domain caches: membership over a small window of integers, with inf and
// sup ends, and the canonical interval list it stands for.
#ifndef TRELIX_TESTS_FDSET_MODEL_H
#define TRELIX_TESTS_FDSET_MODEL_H

#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include <random>

#include "dvar.h"
#include "fdsets.h"
#include "fli.h"
#include "worker_fixture.h"

namespace fdset_model {

// The model: membership over the window [-L, L].  Finite bounds of the
// random sets lie in [-8, 8] and shifts move them by at most 3, so beyond
// the window a set is uniform: the window's edge decides (an inf end
// reaches -L, a sup end reaches L).
constexpr int L = 12;
struct model {
  bool in[2 * L + 1] = {};
  bool has(long v) const
  {
    if (v < -L)
      v = -L;
    if (v > L)
      v = L;
    return in[v + L];
  }
  void set(long v, bool b) { in[v + L] = b; }
  bool operator==(const model &o) const
  {
    for (int i = 0; i <= 2 * L; i++)
      if (in[i] != o.in[i])
        return false;
    return true;
  }
  template <typename F> static model of(F f)
  {
    model m;
    for (long v = -L; v <= L; v++)
      m.set(v, f(v));
    return m;
  }
  bool empty() const
  {
    for (bool b : in)
      if (b)
        return false;
    return true;
  }
  bool finite() const { return !in[0] && !in[2 * L]; }
};

inline TAGGED S(long v) { return MakeSmall_checked(static_cast<VR_INTEGER>(v)); }

inline std::string bound_text(TAGGED t)
{
  t = deref(t);
  if (t == atom_inf)
    return "inf";
  if (t == atom_sup)
    return "sup";
  if (IsSmall(t))
    return std::to_string(GetSmall(t));
  return IsVar(t) ? "_" : "?";
}

// A set (or what a built-in left in its output) as text, following bound
// variables.
inline std::string text(TAGGED d)
{
  d = deref(d);
  if (!IsList(d))
    return d == fd_empty_set ? "[]" : bound_text(d);
  std::string s = "[";
  for (TAGGED x = d; IsList(x); x = deref(fd_rest(x))) {
    if (x != d)
      s += ",";
    const TAGGED iv = deref(fd_first_interval(x));
    s += "[" + bound_text(fd_interval_min(iv)) + "|" + bound_text(fd_interval_max(iv)) + "]";
  }
  return s + "]";
}

// The canonical interval list of a model.
inline std::vector<std::pair<TAGGED, TAGGED>> intervals_of(const model &m)
{
  std::vector<std::pair<TAGGED, TAGGED>> r;
  for (long v = -L; v <= L; v++) {
    if (!m.has(v) || (v > -L && m.has(v - 1)))
      continue;
    long e = v;
    while (e < L && m.has(e + 1))
      e++;
    r.push_back({v == -L ? atom_inf : S(v), e == L ? atom_sup : S(e)});
  }
  return r;
}

inline std::string canonical_text(const model &m)
{
  std::string s = "[";
  bool first = true;
  for (auto [b, e] : intervals_of(m)) {
    if (!first)
      s += ",";
    first = false;
    s += "[" + bound_text(b) + "|" + bound_text(e) + "]";
  }
  return s + "]";
}


// A worker, the solver's interface structure and a seeded generator.
struct FdSetFixture : WorkerFixture {
  fd_state st{};
  vr_fli_info *fli = nullptr;
  VREnv env{};
  std::mt19937 rng{20261211};

  void SetUp() override
  {
    WorkerFixture::SetUp();
    init_vrenv(&fli, &env, &st);
    w->numstack_end = nullptr;
  }

  // A set built on the heap, as Prolog leaves them.
  TAGGED heap_set(const model &m) { return heap_intervals(intervals_of(m)); }
  TAGGED heap_intervals(const std::vector<std::pair<TAGGED, TAGGED>> &ivs)
  {
    TAGGED head = fd_empty_set, *slot = &head;
    for (auto [b, e] : ivs) {
      TAGGED *p = w->global_top;
      w->global_top += 4;
      p[0] = MakeLST(p + 2);
      p[2] = b;
      p[3] = e;
      *slot = MakeLST(p);
      slot = p + 1;
    }
    *slot = fd_empty_set;
    return head;
  }

  // A cache as the attribute reader fills it: bounds, set, size, the
  // synchronised flag, fixed and interval when so.
  void fill(dvar *dv, const model &m, bool as_interval)
  {
    const auto ivs = intervals_of(m);
    if (as_interval && ivs.size() == 1) {
      dvar_init_temp(dv, ivs[0].first, ivs[0].second);
      return;
    }
    dv->min = ivs.front().first;
    dv->max = ivs.back().second;
    dv->set = heap_set(m);
    dv->cookie = 0;
    dv->attr_ref = dv->var_ref = nullptr;
    dv->flags = DV_SYNCED;
    if (dv->min == dv->max)
      dv->flags |= DV_FIXED;
    if (ivs.size() == 1)
      dv->flags |= DV_INTERVAL;
  }

  model random_model()
  {
    model m;
    const bool low = rng() % 4 == 0, high = rng() % 4 == 0;
    const unsigned density = 1 + rng() % 3; // sparse to dense
    for (long v = -L; v <= L; v++) {
      if (v < -8)
        m.set(v, low);
      else if (v > 8)
        m.set(v, high);
      else
        m.set(v, rng() % 4 < density);
    }
    return m;
  }
  long random_value(long lo = -10, long hi = 10)
  {
    return lo + static_cast<long>(rng() % static_cast<unsigned>(hi - lo + 1));
  }
  TAGGED random_bound(bool lower)
  {
    if (rng() % 5 == 0)
      return lower ? atom_inf : atom_sup;
    return S(random_value(-9, 9));
  }

  // Checks a result: the canonical text of the expected model, which is
  // also a well-formed set.
  void expect_set(TAGGED got, const model &want, const std::string &what)
  {
    EXPECT_EQ(text(got), canonical_text(want)) << what;
    std::int64_t size;
    bool plain;
    EXPECT_TRUE(fd_check_set(got, &size, &plain)) << what << ": not a well-formed set: " << text(got);
  }
};

} // namespace fdset_model

#endif
