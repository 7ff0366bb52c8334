/* timeout.h: limits on the user CPU time of a goal (the foreign resource
 * timeout).
 *
 * One one-shot virtual interval timer (SIGVTALRM, installed through the
 * interface's signal handling so that the handler runs on the engine
 * thread at the next event run): when it expires the running goal is
 * interrupted by the exception time_out.  Times are milliseconds of user
 * CPU time.  The Prolog half, library(timeout), keeps nested limits: it
 * stops the enclosing timer, arms one for the earlier of the two expiries
 * and restarts the enclosing one afterwards.
 *
 * The four foreign predicates ($start_timer_a/3, $stop_timer_a/1,
 * $timer_now/1, $clocks_per_second/1 of module timeout) are declared by
 * library(timeout) and loaded through the entry function
 * vr_main_VRENV_timeout; to_init runs when the resource is loaded (and,
 * for callers that use the functions directly, at their first use).
 * Engine thread only.
 */
#ifndef TRELIX_TIMEOUT_H
#define TRELIX_TIMEOUT_H

#include "vostrel/vostrel_foreign.h"

struct worker;

/* tContExpires: the enclosing expiry (an integer) or an atom (none);
   tLimit: the allowance (an integer) or an atom (none).  0 armed or
   nothing to arm, 1 the enclosing limit has passed already, -1 an error
   (raised when it is a system error). */
int to_start_timer_a(VR_term_ref tContExpires, VR_term_ref tLimit);
/* The armed timer's expiry after disarming it, or off. */
VR_term_ref to_stop_timer_a(void);
VR_term_ref to_timer_now(void);
long to_clocks_per_second(void);
void to_init(int when);
void to_deinit(int when);

/* The resource's entry function (vostrel_foreign.h). */
extern "C" int vr_main_VRENV_timeout(VR_MAINFUN_PARAMS *params);

#endif
