/* suspend.h: suspension and resumption of emulator instructions, block
 * declarations and the resolution of meta-called goals.
 *
 * wam_suspend saves the argument registers that the code at `culprit` may
 * still read in a suspension frame and loads the seven arguments of
 * $resume/7, whose definition it returns; the emulator then enters it
 * through the predicate-entry check, so pending wake-ups, clean-ups and
 * events run first.  `resume` is where execution continues (odd when the
 * environment under construction was linked), `culprit` the instruction
 * whose live registers were saved, `fr` the value of E at the suspending
 * instruction, `pad` the heap words that must be free before resuming.
 * $resume's body (wam_resume) undoes all of it.
 *
 * The seven arguments are small integers only, so that garbage collection
 * and stack shifts in between need not know them; the cut barrier travels
 * as an offset from choice_start for the same reason.
 *
 * Engine thread only; called from inside the emulator loop (suspension
 * points, the arithmetic and inline built-in slow paths, the meta-call
 * instructions, BLOCKPOINT and $nodebug_call), with the heap top stored
 * in global_top.
 */
#ifndef VOSTREL_SUSPEND_H
#define VOSTREL_SUSPEND_H

#include "termdefs.h"

struct worker;
struct definition;
struct frame;

definition *wam_suspend(worker *w, int pad, INSN *resume, INSN *culprit, frame *fr);

/* $resume/7 with its arguments in X0..X6: grows the heap when the pad asks
   for it, restores the cut barrier and the saved registers, removes the
   suspension frame (and, for an odd resume address, re-creates the
   environment under construction at local_top).  Returns the (even)
   address to continue at, in write mode; *env receives the value of E
   there and *culprit the culprit address (null when it was the resume
   address itself). */
INSN *wam_resume(worker *w, frame **env, INSN **culprit);

/* 1 when a block declaration of def holds for the call whose arguments
   start at argp (the argument registers from BLOCKPOINT, the goal's
   argument cells from $nodebug_call, X0 then holding the goal): the call
   is then suspended and counts as succeeded.  0 when nothing blocks it. */
int wam_blocked_goal(worker *w, TAGGED *argp, definition *def);

/* The predicate a meta-call instruction enters: X0 the goal, X1..X(n-1)
   the extra arguments; p the address of the instruction's n operand.  On
   the common path the registers are rearranged for the goal's predicate
   and that predicate is returned; otherwise the goal is built on the heap
   and meta_colon_pc/3 or call_illarg_pc/2 is returned. */
definition *wam_predicate_call(worker *w, int n, INSN *p);

#endif
