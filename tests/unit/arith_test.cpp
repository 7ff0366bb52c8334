// What the nonlinear arithmetic propagators share: restricting a domain
// cache to a union of intervals (against the set model, on interval and
// set caches), the overflow test of a restriction, and the saturating
// arithmetic on magnitudes and bound words.  The propagators themselves
// are tested from Prolog (tests/prolog/clpfd_arith.pl).
#include <gtest/gtest.h>

#include "arith.h"
#include "fdset_model.h"

namespace {

using namespace fdset_model;

struct Arith : FdSetFixture {
  dvar dv{};
};

TEST_F(Arith, RestrictToPiecesAgreesWithTheModel)
{
  TAGGED *heap_mark = w->global_top;
  int emptied = 0, narrowed = 0;
  for (int round = 0; round < 3000; round++) {
    w->global_top = heap_mark;
    w->numstack_end = nullptr;
    const model m = random_model();
    if (m.empty())
      continue;
    fill(&dv, m, rng() % 2 == 0);
    arith_pieces p;
    const int n = static_cast<int>(rng() % 5);
    for (int i = 0; i < n; i++) {
      const ext lo = rng() % 6 == 0 ? -ARITH_INFINITY : random_value(),
                hi = rng() % 6 == 0 ? ARITH_INFINITY : random_value();
      p.add(lo, hi);
    }
    const model want = model::of([&](long v) {
      bool in = false;
      for (int i = 0; i < n; i++)
        in = in || (p.lo[i] <= v && v <= p.hi[i]);
      return m.has(v) && in;
    });
    std::string pieces;
    for (int i = 0; i < n; i++)
      pieces += " " + std::to_string(p.lo[i]) + ".." + std::to_string(p.hi[i]);
    st.fd_overflow = 0;
    const int r = arith_restrict(&env, w, &dv, p);
    ASSERT_EQ(st.fd_overflow, 0) << pieces;
    if (want.empty()) {
      ASSERT_EQ(r, -1) << canonical_text(m) << " by" << pieces;
      emptied++;
      continue;
    }
    ASSERT_GE(r, 0) << canonical_text(m) << " by" << pieces;
    narrowed += r != 0;
    for (long v = -L; v <= L; v++)
      ASSERT_EQ(dvar_contains_value_t(&dv, S(v)), want.has(v))
          << "value " << v << " of " << canonical_text(m) << " by" << pieces;
  }
  EXPECT_GT(emptied, 100);
  EXPECT_GT(narrowed, 500);
}

// A bound that left the small-integer range is an overflow, never a
// bound stored: an unbounded cache must not become sup..sup.
TEST_F(Arith, OverflowOfARestriction)
{
  const struct {
    const char *why;
    ext lo, hi;
  } rows[] = {
      {"least value beyond the greatest integer", ext(SMALL_MAX) + 1, ARITH_INFINITY},
      {"greatest value below the least integer", -ARITH_INFINITY, ext(SMALL_MIN) - 1},
      {"a product too large to be finite", ARITH_INFINITY, ARITH_INFINITY},
  };
  for (const auto &row : rows) {
    dvar_init_temp(&dv, atom_inf, atom_sup);
    st.fd_overflow = 0;
    arith_pieces p;
    p.add(row.lo, row.hi);
    EXPECT_EQ(arith_restrict(&env, w, &dv, p), -1) << row.why;
    EXPECT_EQ(st.fd_overflow, 1) << row.why;
    EXPECT_EQ(dv.min, atom_inf) << row.why;
    EXPECT_EQ(dv.max, atom_sup) << row.why;
  }
  // An empty result that is no overflow leaves the flag alone.
  dvar_init_temp(&dv, S(1), S(5));
  st.fd_overflow = 0;
  arith_pieces p;
  p.add(7, 9);
  EXPECT_EQ(arith_restrict(&env, w, &dv, p), -1);
  EXPECT_EQ(st.fd_overflow, 0);
  // The ends of the range are no overflow.
  dvar_init_temp(&dv, atom_inf, atom_sup);
  arith_pieces ends;
  ends.add(SMALL_MIN, SMALL_MIN);
  ends.add(SMALL_MAX, SMALL_MAX);
  EXPECT_GE(arith_restrict(&env, w, &dv, ends), 0);
  EXPECT_EQ(st.fd_overflow, 0);
  EXPECT_EQ(dv.min, S(SMALL_MIN));
  EXPECT_EQ(dv.max, S(SMALL_MAX));
  EXPECT_FALSE(dvar_contains_value_t(&dv, S(0)));
}

TEST_F(Arith, SaturatingArithmetic)
{
  const ext big = ext(1) << 30;
  EXPECT_EQ(mag_mul(big, big), ARITH_INFINITY);
  EXPECT_EQ(mag_mul(0, ARITH_INFINITY), 0) << "0 times an infinity counts as 0";
  EXPECT_EQ(mag_mul(16384, 16384), 268435456);
  EXPECT_EQ(mag_add(ARITH_INFINITY, 1), ARITH_INFINITY);
  EXPECT_EQ(mag_div(ARITH_INFINITY, 5), ARITH_INFINITY);
  EXPECT_EQ(mag_div(7, ARITH_INFINITY), 0);
  EXPECT_EQ(mag_div(7, 2), 3);
  const struct {
    ext v;
    TAGGED want;
  } bounds[] = {{ext(SMALL_MAX) + 1, atom_sup},
                {ext(SMALL_MIN) - 1, atom_inf},
                {ARITH_INFINITY, atom_sup},
                {-ARITH_INFINITY, atom_inf},
                {SMALL_MIN, S(SMALL_MIN)},
                {SMALL_MAX, S(SMALL_MAX)},
                {-1, S(-1)}};
  for (const auto &b : bounds) {
    EXPECT_EQ(arith_bound(b.v), b.want) << b.v;
    if (IsSmall(b.want))
      EXPECT_EQ(arith_ext(b.want), b.v);
  }
  EXPECT_EQ(arith_ext(atom_inf), -ARITH_INFINITY);
  EXPECT_EQ(arith_ext(atom_sup), ARITH_INFINITY);
}

} // namespace
