/* signals.h: process-wide signal set-up for an embedding program, and the
 * interface's least signal services.
 *
 * ds_signals_init routes the interrupt key through VR_signal, turns fatal
 * hardware signals into engine faults with a readable message (abortmsg)
 * and ignores SIGVTALRM and SIGPIPE.  The runtime's own start-up does not
 * call it.
 */
#ifndef VOSTREL_SIGNALS_H
#define VOSTREL_SIGNALS_H

#include <csignal>

typedef void (*os_signal_handler)(int);

void ds_signals_init(int minimal);
void signals_disable_most(void);
/* Installs handler with sigaction (empty mask, no flags); returns the
   previous handler, SIG_ERR on failure. */
os_signal_handler os_signal(int sig, os_signal_handler handler);
/* Handler of fatal signals: raises the engine fault named for the signal. */
[[noreturn]] void abortmsg(int sig);
/* The interrupt key's handler, as installed through VR_signal. */
void vr_sigint_h(int sig, void *user_data);

/* ---- Foreign interface: signals (least version) ----
   VR_signal installs fun for sig, to be called with user_data; a null fun
   restores the default action.  Returns the handler previously installed
   through VR_signal (null when none), or null for a signal number out of
   range. */
typedef void VR_SigFun(int sig, void *user_data);
VR_SigFun *VR_signal(int sig, VR_SigFun *fun, void *user_data);
/* Counts a pending keyboard interrupt and makes the emulator stop at its
   next predicate call (clears heap_warn_soft and int_heap_warn). */
void VR_ctrlc_action(void);
/* Keyboard interrupts counted and not yet taken by the engine. */
extern volatile std::sig_atomic_t vr_pending_ctrlc;

#endif
