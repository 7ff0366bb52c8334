/* timing.cpp: clocks behind the statistics counters (see timing.h).
 *
 * User time comes from times() in clock ticks, scaled in 64-bit
 * arithmetic.  Wall time does not use times()'s own return value, the
 * ticks since an arbitrary point: on this 32-bit system that count is a
 * 32-bit number that wraps (after some months of uptime), and the C
 * library reads certain wrapped values as an error return; the monotonic
 * clock gives the same milliseconds without either problem.
 */
#include "timing.h"

#include <sys/times.h>
#include <time.h>
#include <unistd.h>

namespace {
std::int64_t hz_mul = 0, hz_div = 0;

std::int64_t gcd(std::int64_t a, std::int64_t b)
{
  while (b != 0) {
    const std::int64_t r = a % b;
    a = b;
    b = r;
  }
  return a;
}
} // namespace

void hz_terms(long hz, std::int64_t *mul, std::int64_t *div)
{
  if (hz <= 0)
    hz = 100;
  const std::int64_t g = gcd(1000, hz);
  *mul = 1000 / g;
  *div = hz / g;
}

void setup_hz_terms(void)
{
  hz_terms(sysconf(_SC_CLK_TCK), &hz_mul, &hz_div);
}

std::int64_t vr_usertime_ms(void)
{
  if (hz_div == 0)
    setup_hz_terms();
  struct tms t;
  times(&t);
  return static_cast<std::int64_t>(t.tms_utime) * hz_mul / hz_div;
}

std::int64_t vr_walltime_ms(void)
{
  struct timespec ts;
  if (clock_gettime(CLOCK_MONOTONIC, &ts) != 0)
    return 0;
  return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}
