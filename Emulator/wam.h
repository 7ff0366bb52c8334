/* wam.h: the emulator loop and its drivers.
 *
 * wam_body runs compiled code from a start address until EXIT_TOPLEVEL and
 * returns its operand: 1 success, 0 failure, -1 uncaught exception.  With a
 * null start address it only publishes the handler tables (inst_tab,
 * pred_tab) and returns 0.  wam builds the start stub for a message; do_wam
 * guards an activation so that a memory fault restarts it at the
 * unwinding escape.
 */
#ifndef VOSTREL_WAM_H
#define VOSTREL_WAM_H

#include "termdefs.h"

struct worker;
struct definition;

/* The foreign-call record of one emulator activation (argument block,
   result slots, counters, texts, outcome); filled by the foreign-call
   instructions. */
struct fli_call {
  TAGGED args[513];
  int fli_stack_index;
};

/* The published entry-kind handler table (pred_tab), set by the first call
   of wam_body with a null start address. */
extern void **emul_entry;

int wam_body(worker *w, INSN *start, fli_call *fcp);
int wam(worker *w, int message, definition *pred);
int do_wam(worker *w, int message, definition *pred);
int do_wam_recurs(worker *w, int message, definition *pred);

#endif
