/* signals.cpp: signal set-up for an embedding program.
 *
 * The interrupt key goes through the interface's VR_signal (fli_events.cpp),
 * whose operating-system handler only counts the signal and wakes the
 * engine; vr_sigint_h then runs on the engine thread.  abortmsg runs in the
 * signal handler itself and does not return: it leaves through
 * VR_raise_fault, either to the embedding layer's abort point or out of the
 * process.
 */
#include "signals.h"

#include <csignal>
#include <cstring>

#include "errors.h"
#include "fli.h"
#include "worker.h"

namespace {

struct signal_message {
  int sig;
  const char *text;
};
constexpr signal_message abort_messages[] = {
  {SIGINT, "interrupted"},
  {SIGILL, "illegal instruction"},
  {SIGTRAP, "trace trap"},
  {SIGBUS, "bus error"},
  {SIGFPE, "floating point exception"},
  {SIGSEGV, "segmentation violation"},
  {SIGSYS, "bad system call arg"},
};
static_assert(SIGINT == 2 && SIGILL == 4 && SIGTRAP == 5 && SIGBUS == 7 && SIGFPE == 8 &&
              SIGSEGV == 11 && SIGSYS == 31, "Linux i386 signal numbers");

constexpr int fatal_signals[] = {SIGSEGV, SIGTRAP, SIGILL, SIGBUS, SIGSYS};

} // namespace

os_signal_handler os_signal(int sig, os_signal_handler handler)
{
  struct sigaction action, previous;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;
  if (sigaction(sig, &action, &previous) != 0)
    return SIG_ERR;
  return previous.sa_handler;
}

void abortmsg(int sig)
{
  const char *text = "miscellaneous error condition";
  for (const signal_message &m : abort_messages)
    if (m.sig == sig)
      text = m.text;
  /* The kernel blocks the signal while its handler runs, and leaving the
     handler by longjmp does not unblock it; a second fault of the same kind
     after the engine recovered would then kill the process without a
     message.  Unblock it before leaving. */
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, sig);
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  VR_raise_fault(text);
}

void vr_sigint_h(int sig, void *user_data)
{
  VR_ctrlc_action();
}

void ds_signals_init(int minimal)
{
  VR_signal(SIGINT, vr_sigint_h, nullptr);
  if (minimal == 0)
    for (int sig : fatal_signals)
      os_signal(sig, abortmsg);
  os_signal(SIGVTALRM, SIG_IGN);
  os_signal(SIGPIPE, SIG_IGN);
}

void signals_disable_most(void)
{
  os_signal(SIGFPE, SIG_DFL);
  for (int sig : fatal_signals)
    os_signal(sig, SIG_DFL);
}
