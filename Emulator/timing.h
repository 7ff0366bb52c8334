/* timing.h: the engine's millisecond clocks: the process's user time and
 * the wall time, for the statistics counters of the memory manager, the
 * collectors, the stack shifter and the statistics built-in. */
#ifndef VOSTREL_TIMING_H
#define VOSTREL_TIMING_H

#include <cstdint>

/* User CPU time: the clock ticks of times(), scaled to milliseconds. */
std::int64_t vr_usertime_ms(void);
/* Monotonic: only differences between two readings mean anything. */
std::int64_t vr_walltime_ms(void);

/* Ticks to milliseconds is ticks * hz_mul / hz_div: with g the greatest
   common divisor of 1000 and the tick rate hz, hz_mul = 1000 / g and
   hz_div = hz / g (100 ticks a second: * 10 / 1).  A rate of 0 or less
   counts as 100. */
void hz_terms(long hz, std::int64_t *mul, std::int64_t *div);
/* The scaling for this system's tick rate; both clocks call it first. */
void setup_hz_terms(void);

#endif
