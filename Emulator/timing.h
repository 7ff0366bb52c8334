/* timing.h: the process's user time and wall time in milliseconds, for the
 * statistics counters of the memory manager and the collectors. */
#ifndef VOSTREL_TIMING_H
#define VOSTREL_TIMING_H

#include <cstdint>

std::int64_t vr_usertime_ms(void);
/* Monotonic: only differences between two readings mean anything. */
std::int64_t vr_walltime_ms(void);

#endif
