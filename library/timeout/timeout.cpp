/* timeout.cpp: the CPU-time timer (see timeout.h).
 *
 * `local` is the resource's one state.  The handler only marks the timer
 * off and posts an event; the event raises time_out in the goal running
 * at that moment.  Disarming resets the signal's handler first, so a
 * signal still on its way does nothing.
 */
#include "timeout.h"

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <sys/time.h>
#include <sys/times.h>
#include <unistd.h>

#include "initial_atoms.h"
#include "termdefs.h"
#include "errors.h"
#include "fli.h"
#include "globref.h"
#include "worker.h"

namespace {

struct timeout_state {
  VR_atom atom_off;
  int alarm_clock_is_on;
  std::int64_t expiry_abs;
  long clocks_per_second;
};
timeout_state local = {0, 0, 0, 0};
bool started = false;

VR_SigFun *const reset_handler = reinterpret_cast<VR_SigFun *>(1);

void ensure_started()
{
  if (!started) {
    to_init(0);
    started = true;
  }
}

std::int64_t cpu_now_ms()
{
  struct tms t;
  (void)times(&t);
  return static_cast<std::int64_t>(t.tms_utime) * 1000 / local.clocks_per_second;
}

int set_timer(long sec, long usec)
{
  struct itimerval v = {};
  v.it_value.tv_sec = sec;
  v.it_value.tv_usec = usec;
  return setitimer(ITIMER_VIRTUAL, &v, nullptr) == 0 ? 0 : errno;
}

int alarm_clock_off()
{
  (void)VR_sigaction(SIGVTALRM, reset_handler, nullptr, 0);
  const int e = set_timer(0, 0);
  local.alarm_clock_is_on = 0;
  return e;
}

int alarm_event(void *)
{
  (void)VR_sigaction(SIGVTALRM, reset_handler, nullptr, 0);
  const VR_term_ref t = VR_new_term_ref();
  VR_put_atom(t, VR_atom_from_string("time_out"));
  VR_raise_exception(t);
  return -1;
}

void alarm_h(int, void *)
{
  local.alarm_clock_is_on = 0;
  (void)VR_event(alarm_event, nullptr);
}

bool get_long(VR_term_ref t, long *v) { return VR_is_integer(t) && VR_get_integer(t, v); }

} // namespace

void to_init(int)
{
  errno = 0;
  local.clocks_per_second = sysconf(_SC_CLK_TCK);
  if (local.clocks_per_second <= 0)
    local.clocks_per_second = 100;
  /* A predefined atom: it outlives every collection and restart. */
  local.atom_off = MakeAtom(atom_off_enum);
  (void)alarm_clock_off();
}

void to_deinit(int)
{
  (void)alarm_clock_off();
}

int to_start_timer_a(VR_term_ref tContExpires, VR_term_ref tLimit)
{
  ensure_started();
  const std::int64_t now = cpu_now_ms();
  std::int64_t timeout = 0;
  const long cps = local.clocks_per_second;
  if (!VR_is_atom(tLimit)) {
    long limit;
    if (!get_long(tLimit, &limit))
      return -1;
    const long tick = (cps + 999) / cps;
    timeout = limit <= tick ? tick + 1 : limit;
  }
  if (!VR_is_atom(tContExpires)) {
    long expires;
    if (!get_long(tContExpires, &expires))
      return -1;
    if (now >= expires)
      return 1;
    const std::int64_t remaining = expires - now;
    if (timeout == 0 || remaining < timeout)
      timeout = remaining;
  }
  if (timeout == 0) {
    if (local.alarm_clock_is_on) {
      const int e = alarm_clock_off();
      if (e != 0) {
        vr_raise_errno_error(e, "$start_timer_a/3", "setitimer");
        return -1;
      }
    }
    return 0;
  }
  local.expiry_abs = now + timeout;
  const std::int64_t ticks = cps * (timeout / 1000) + (cps * (timeout % 1000) + 999) / 1000;
  const long sec = static_cast<long>(ticks / cps);
  const long usec = static_cast<long>((cps + (ticks % cps) * 1000000 - 1) / cps);
  if (VR_sigaction(SIGVTALRM, alarm_h, nullptr, 4) < 0) {
    vr_raise_errno_error(EPERM, "$start_timer_a/3", "setitimer");
    return -1;
  }
  errno = 0;
  const int e = set_timer(sec, usec);
  if (e == 0) {
    local.alarm_clock_is_on = 1;
    return 0;
  }
  (void)VR_sigaction(SIGVTALRM, reset_handler, nullptr, 0);
  if (e == 0)
    return 0;
  vr_raise_errno_error(e, "$start_timer_a/3", "setitimer");
  return -1;
}

VR_term_ref to_stop_timer_a(void)
{
  ensure_started();
  const VR_term_ref t = VR_new_term_ref();
  if (local.alarm_clock_is_on && alarm_clock_off() == 0)
    VR_put_integer(t, static_cast<long>(local.expiry_abs));
  else
    VR_put_atom(t, local.atom_off);
  return t;
}

VR_term_ref to_timer_now(void)
{
  ensure_started();
  const VR_term_ref t = VR_new_term_ref();
  VR_put_integer(t, static_cast<long>(cpu_now_ms()));
  return t;
}

long to_clocks_per_second(void)
{
  ensure_started();
  return local.clocks_per_second;
}

/* ---- The foreign predicates as native rows ---- */

/* ---- The resource ---- */

namespace {

VR_GlueFun to_funcs[] = {
    reinterpret_cast<VR_GlueFun>(&to_start_timer_a), reinterpret_cast<VR_GlueFun>(&to_stop_timer_a),
    reinterpret_cast<VR_GlueFun>(&to_timer_now), reinterpret_cast<VR_GlueFun>(&to_clocks_per_second), nullptr};
const char *to_prednames[] = {"$start_timer_a", "$stop_timer_a", "$timer_now", "$clocks_per_second", nullptr};
const int to_arities[] = {3, 1, 1, 1, 0};

} // namespace

extern "C" int vr_main_VRENV_timeout(VR_MAINFUN_PARAMS *p)
{
  if (const int rc = vr_mainfun_check(p))
    return rc;
  p->flags += VR_MAINFUN_WHEN_ONLY;
  p->funcs = to_funcs;
  p->prednames = to_prednames;
  p->arities = to_arities;
  p->init_fun = reinterpret_cast<VR_GlueFun>(&to_init);
  p->deinit_fun = reinterpret_cast<VR_GlueFun>(&to_deinit);
  return 0;
}
