/* wam.h: the emulator loop and its drivers.
 *
 * wam_body runs compiled code from a start address until EXIT_TOPLEVEL and
 * returns its operand: 1 success, 0 failure, -1 uncaught exception.  With a
 * null start address it only publishes the handler tables (inst_tab,
 * pred_tab) and installs the error raiser's choicepoint hook, and returns
 * 0.  wam builds the start stub for a message (0 next solution, 2 continue
 * at the continuation, 3 call a predicate, -2 publish only); do_wam guards
 * an activation so that a memory fault restarts it at the unwinding escape
 * with the stored resource error.
 *
 * Layers built later plug into the loop through the hooks below; while a
 * hook is null its step is skipped as described at the hook.
 */
#ifndef VOSTREL_WAM_H
#define VOSTREL_WAM_H

#include "termdefs.h"

struct worker;
struct definition;
struct instance;
struct try_node;

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
/* A query started by native code while the emulator runs: do_wam, with
   the worker's insn kept. */
int do_wam_recurs(worker *w, int message, definition *pred);

/* Pushes a choicepoint whose alternative is alt, saving the argument
   registers its node_offset covers, from native code (global_top current).
   Keeps the trail margin. */
void wam_push_choicepoint(worker *w, try_node *alt);

/* The exception unwinder: makes the newest live catch choicepoint
   ($$catch_hook in its second saved register) the newest one and returns
   0, or redirects the query's own choicepoint (termcode or excpcode) to
   excpcode and returns 1. */
int wam_unwind_stack(worker *w);

/* Erasing the stored exception before a memory fault's resource error
   replaces it; while null the pending exception word is simply replaced. */
extern void (*wam_erase_exception_hook)(void);

/* The dynamic-clause layer.  While first_clause is null an interpreted
   predicate has no clauses (its calls fail).
     first_clause: the first live clause of definition def that can match
       X0 (pushing a choicepoint on preds.nd_current_instance when further
       candidates remain); null when none.
     next_clause: the next clause for the choicepoint of
       nd_current_instance; sets *more to 0 when it was the last.
     clause_ref: the clause's database reference.
     decode_dbref: the live clause a reference names (erased or invalid:
       null). */
struct wam_clause_hooks {
  instance *(*first_clause)(worker *w, definition *def);
  instance *(*next_clause)(worker *w, int *more);
  TAGGED (*clause_ref)(worker *w, instance *clause);
  instance *(*decode_dbref)(TAGGED ref);
};
extern wam_clause_hooks wam_clauses;

#endif
