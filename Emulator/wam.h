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

#include <cstdint>

#include "termdefs.h"

struct worker;
struct definition;
struct instance;
struct try_node;

/* The foreign-call record of one emulator activation, filled by the
   foreign-call instructions (wam_later.inc).  A native function that
   calls Prolog runs a nested activation with a record of its own, so a
   record is never saved.  arguments: the words handed to the function,
   first argument in word 0; after the call word 0 holds its integer
   result and words 2-3 its double.  refargs: the slots through which it
   returns values (byte offsets; refargs_count is after the call the read
   position of the POP instructions).  mems: the PUSH_CODES texts, each a
   VR_malloc block whose first word links to the next. */
struct fli_call {
  std::int32_t arguments[513];
  double refargs[256];
  int narg;
  int arity;
  int refargs_count;
  int fli_stack_index;
  int fli_stack_top;
  void *mems;
  long tmp_integer;
  double tmp_float;
  int tmp_term;
  TAGGED tmp_atom;
  char *tmp_string;
  int excp_flag;
};

/* The foreign-call trampoline: pushes the nbytes / 4 words of block
   (word 0 last, so it is the first argument), calls function, stores its
   integer result in word 0 and, when it returned a double, that double
   at byte 8 of the block. */
void apply_asm(void *function, std::int32_t *block, int nbytes);

/* The foreign-call instructions' work (foreign_calls.cpp).  kind: 0
   float, 1 integer, 2 term, 3 atom, 4 string, 5 codes, the order of the
   PUSH, POP and RECEIVE instruction groups. */
void fli_release(worker *w, fli_call *fc);
void raise_fli_error(worker *w, fli_call *fc, int errcode, definition *def, int argno, TAGGED culprit);
int fli_push(worker *w, fli_call *fc, int kind, TAGGED reg);
void fli_push_result(worker *w, fli_call *fc, int kind);
void fli_take(fli_call *fc, int kind, bool pop);
int fli_give(worker *w, fli_call *fc, int kind, TAGGED arg, TAGGED *culprit);

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
