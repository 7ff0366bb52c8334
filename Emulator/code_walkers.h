/* code_walkers.h: stepping through compiled code without running it.
 *
 * Clause insertion wires else labels (wire_else), the garbage collector
 * prepares environments (init_environment) and classifies continuations
 * (continuation_type, also used by the suspension code), the profiler
 * clears and sums the counters kept in code, and the live-register
 * analysis steps with skip_insn.  All of them read the one instruction
 * table (insn_table.h); for_each_operand is the walkers' only decoder of
 * operand positions and agrees with insn_length on every format.
 */
#ifndef VOSTREL_CODE_WALKERS_H
#define VOSTREL_CODE_WALKERS_H

#include "code_records.h"
#include "insn_table.h"
#include "termdefs.h"

struct frame;

/* Classes that skip_insn reports. */
constexpr int SKIP_PLAIN = 0;  /* control goes on to the next instruction */
constexpr int SKIP_CALL = 1;   /* a call that returns after it */
constexpr int SKIP_DONE = 2;   /* control does not fall through */

/* The next instruction after p.  *cls receives SKIP_DONE for an
   instruction of class done, SKIP_CALL for the call formats, else
   SKIP_PLAIN.  With a label, every else operand (p) of the instruction that
   still holds the canned elsecode marker is set to the label. */
INSN *skip_insn(INSN *p, int *cls, INSN *label);

/* Wires the leading tests of a clause to its else continuation (past an
   entry counter that begins it); returns the address after the first call
   or done instruction. */
INSN *wire_else(emul_info *clause);

/* Stores $uninit in every variable of environment e that the code from
   continuation writes before reading, up to the first done instruction;
   1 when it stored any, else 0. */
int init_environment(frame *e, INSN *continuation);

/* The kind of the first call-related instruction from continuation:
   0 execute or environment allocation, 1 first call (*insnp := its return
   point), 2 call with an environment size (the same), 3 last call or a
   progress; a done instruction of another kind gives 0.  insnp may be
   null. */
int continuation_type(INSN *continuation, INSN **insnp);

/* Profiling counters held in a clause's code (BUMP_COUNTER, BUMP_ENTRY and
   their Q forms); embedded choice blocks are stepped over. */
void wam_reset_counters(emul_info *clause);
void wam_gather_counters(emul_info *clause, int *calls, int *choicepoints, int *instructions);

/* Start-up's consistency hook; nothing to check. */
void checkasserts(void);

/* An embedded choice block (unit EMBEDDED_CHOICE_UNIT at p): a 16-byte head,
   then, unless its code word points just past the head (a single
   alternative), try nodes up to the one whose next is null.  Returns the
   address after the block. */
INSN *skip_choice_block(INSN *p);

/* Calls visit(letter, at) for each operand letter of the instruction at p,
   in order; `at` is the operand's first halfword (for letters without
   halfwords, where the next operand starts). */
template <typename F> void for_each_operand(INSN *p, F &&visit)
{
  unsigned pos = 1;
  for (const char *f = fmt_letters[insn_fmt[INSN_OF(*p)]]; *f != '\0'; f++) {
    visit(*f, p + pos);
    pos += operand_halfwords(*f, p + pos);
  }
}

#endif
