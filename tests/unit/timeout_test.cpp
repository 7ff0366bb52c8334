// The CPU-time timer of the timeout resource, seen through getitimer: the
// allowance rounded up to whole clock ticks (and never below one tick and
// a millisecond), the earlier of an enclosing expiry and the allowance,
// an enclosing expiry already passed, and the timer disarmed by stopping
// and by a start with no limit at all.  The Prolog side (time_out/3) is
// tests/prolog/timeout.pl.
#include <gtest/gtest.h>

#include <sys/time.h>

#include "fli.h"
#include "globref.h"
#include "runtime_fixture.h"
#include "timeout.h"

namespace {

using Timeout = RuntimeFixture;

// The kernel rounds an interval up to its own tick (a few milliseconds).
constexpr long kernel_slack_us = 10000;

long armed_usec()
{
  struct itimerval v;
  EXPECT_EQ(::getitimer(ITIMER_VIRTUAL, &v), 0);
  return v.it_value.tv_sec * 1000000L + v.it_value.tv_usec;
}

// A term reference holding an integer, or the atom off for a negative n.
VR_term_ref term(long n)
{
  const VR_term_ref t = VR_new_term_ref();
  if (n < 0)
    VR_put_atom(t, VR_atom_from_string("off"));
  else
    VR_put_integer(t, n);
  return t;
}

TEST_F(Timeout, ArmedForTheAllowanceInWholeTicksAndDisarmedByStopping)
{
  const long cps = to_clocks_per_second();
  ASSERT_GT(cps, 0);
  const long tick_us = 1000000L / cps;
  const VR_term_ref mark = VR_new_term_refs(0);
  struct {
    long limit_ms;
    long expected_us; // the value armed, to within the CPU time used since
  } cases[] = {
      {1500, 1500000},
      {5, 2 * tick_us},   // below a tick: one tick and a millisecond, rounded up
      {10, 2 * tick_us},  // a whole tick is raised too
      {25, 3 * tick_us},  // rounded up to whole ticks
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.limit_ms);
    ASSERT_EQ(to_start_timer_a(term(-1), term(c.limit_ms)), 0);
    const long armed = armed_usec();
    EXPECT_LE(armed, c.expected_us + kernel_slack_us);
    EXPECT_GT(armed, c.expected_us - tick_us);
    const VR_term_ref expiry = to_stop_timer_a();
    EXPECT_TRUE(VR_is_integer(expiry));
    EXPECT_EQ(armed_usec(), 0) << "stopping disarms";
    const VR_term_ref again = to_stop_timer_a();
    VR_atom a;
    ASSERT_TRUE(VR_get_atom(again, &a));
    EXPECT_STREQ(VR_string_from_atom(a), "off") << "nothing armed any more";
  }
  VR_reset_term_refs(mark);
}

TEST_F(Timeout, EnclosingExpiry)
{
  const VR_term_ref mark = VR_new_term_refs(0);
  long now;
  ASSERT_TRUE(VR_get_integer(to_timer_now(), &now));
  // Already passed: 1, nothing armed.
  EXPECT_EQ(to_start_timer_a(term(now), term(5000)), 1);
  EXPECT_EQ(armed_usec(), 0);
  // The enclosing one expires first: its remaining time is armed.
  ASSERT_EQ(to_start_timer_a(term(now + 300), term(5000)), 0);
  EXPECT_LE(armed_usec(), 300000 + kernel_slack_us);
  EXPECT_GT(armed_usec(), 100000);
  // The allowance is shorter.
  ASSERT_EQ(to_start_timer_a(term(now + 5000), term(400)), 0);
  EXPECT_LE(armed_usec(), 400000 + kernel_slack_us);
  EXPECT_GT(armed_usec(), 200000);
  // No limit either way: disarmed.
  EXPECT_EQ(to_start_timer_a(term(-1), term(-1)), 0);
  EXPECT_EQ(armed_usec(), 0);
  VR_reset_term_refs(mark);
}

} // namespace
