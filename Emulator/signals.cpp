/* signals.cpp: signal set-up and the interface's signal installer.
 *
 * Handlers here run asynchronously, in whichever thread gets the signal, so
 * they only touch async-signal-safe state: the pending-interrupt counter and
 * the worker's two volatile limit words, whose clearing makes the emulator
 * stop at its next predicate call.  abortmsg does not return: it leaves
 * through VR_raise_fault, either to the embedding layer's abort point or
 * out of the process.
 *
 * VR_signal is the least version of the foreign interface's installer: it
 * records (handler, user data) per signal and calls the handler straight
 * from a trampoline; deferring handlers to the engine thread comes with the
 * interface's event queue.
 */
#include "signals.h"

#include <csignal>
#include <cstring>

#include "errors.h"
#include "worker.h"

volatile std::sig_atomic_t vr_pending_ctrlc = 0;

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

struct vr_signal_slot {
  VR_SigFun *fun;
  void *user_data;
};
vr_signal_slot vr_signal_slots[NSIG];

void vr_signal_trampoline(int sig)
{
  const vr_signal_slot slot = vr_signal_slots[sig];
  if (slot.fun != nullptr)
    slot.fun(sig, slot.user_data);
}

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

VR_SigFun *VR_signal(int sig, VR_SigFun *fun, void *user_data)
{
  if (sig <= 0 || sig >= NSIG)
    return nullptr;
  VR_SigFun *previous = vr_signal_slots[sig].fun;
  /* Clear the slot first so that a signal arriving in between never sees a
     new handler with the old data. */
  vr_signal_slots[sig].fun = nullptr;
  vr_signal_slots[sig].user_data = user_data;
  vr_signal_slots[sig].fun = fun;
  os_signal(sig, fun != nullptr ? vr_signal_trampoline : SIG_DFL);
  return previous;
}

void VR_ctrlc_action(void)
{
  vr_pending_ctrlc = vr_pending_ctrlc + 1;
  worker *w = self;
  if (w != nullptr) {
    w->heap_warn_soft = nullptr;
    w->int_heap_warn = nullptr;
  }
}
