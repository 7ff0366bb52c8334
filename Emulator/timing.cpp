/* timing.cpp: clocks behind the statistics counters (see timing.h). */
#include "timing.h"

#include <sys/resource.h>
#include <time.h>

std::int64_t vr_usertime_ms(void)
{
  struct rusage ru;
  if (getrusage(RUSAGE_SELF, &ru) != 0)
    return 0;
  return static_cast<std::int64_t>(ru.ru_utime.tv_sec) * 1000 + ru.ru_utime.tv_usec / 1000;
}

std::int64_t vr_walltime_ms(void)
{
  struct timespec ts;
  if (clock_gettime(CLOCK_MONOTONIC, &ts) != 0)
    return 0;
  return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}
