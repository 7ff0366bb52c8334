/* signals.h: process-wide signal set-up for an embedding program.
 *
 * ds_signals_init routes the interrupt key through VR_signal (fli.h: its
 * handler runs on the engine thread), turns fatal
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

#endif
