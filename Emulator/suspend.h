/* suspend.h: suspension and resumption of emulator instructions.
 *
 * wam_suspend saves the argument registers that the code at `culprit` may
 * still read in a suspension frame and loads the seven arguments of
 * $resume/7, whose definition it returns; the emulator then enters it
 * through the predicate-entry check, so pending wake-ups, clean-ups and
 * events run first.  `resume` is where execution continues (odd when the
 * environment under construction was linked), `culprit` the instruction
 * whose live registers were saved, `fr` the value of E at the suspending
 * instruction, `pad` the heap words that must be free before resuming.
 * Engine thread only; called from inside the emulator loop.
 */
#ifndef VOSTREL_SUSPEND_H
#define VOSTREL_SUSPEND_H

#include "termdefs.h"

struct worker;
struct definition;
struct frame;

definition *wam_suspend(worker *w, int pad, INSN *resume, INSN *culprit, frame *fr);

#endif
