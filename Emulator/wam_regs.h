/* wam_regs.h: the emulator loop's registers and dispatch macros, shared by
 * the handler files that wam.cpp includes into wam_body.
 *
 * Registers kept in locals of wam_body (the worker's copies may be stale
 * while the loop runs):
 *   P       INSN*    points just past the opcode of the running instruction;
 *                    during a call it holds the called definition (as DEF)
 *   HS      TAGGED*  write mode: H, the heap top (global_top is stale);
 *                    read mode: S, the next argument cell to read (the heap
 *                    top is then in w->global_top)
 *   E       frame*   the running clause's environment
 *   caller  INSN*    during a call: the address of the calling instruction's
 *                    definition operand (null when entered otherwise)
 *   w       worker*  everything else: X registers (w->term), node_, frame_,
 *                    next_insn, local_top, trail_top, the limits.
 * Dispatch: opcode = 8 * instruction number, so opcode / 4 is the index of
 * the write-mode handler in jmp_table and the read-mode one follows it.
 */
#ifndef VOSTREL_WAM_REGS_H
#define VOSTREL_WAM_REGS_H

#include "insn_table.h"
#include "worker.h"
#include "predicates.h"
#include "stack_growth.h"
#include "stacks.h"

/* Handler labels: W(NAME) write mode, R(NAME) read mode, X(KIND) the
   handler of an entry kind. */
#define W(name) w_##name:
#define R(name) r_##name:
#define X(kind) x_##kind:

/* Operands. */
#define XREG(op) (*reinterpret_cast<TAGGED *>(reinterpret_cast<char *>(w) + (op)))
#define YREG(op) (*reinterpret_cast<TAGGED *>(reinterpret_cast<char *>(E) + (op)))
#define OPW(k) code_word(P + (k)) /* 32-bit operand at halfword k */

/* Continue with the instruction at addr, in the given mode. */
#define DISPATCH_W(addr) do { P = (addr) + 1; goto *jmp_table[P[-1] >> 2]; } while (0)
#define DISPATCH_R(addr) do { P = (addr) + 1; goto *jmp_table[(P[-1] >> 2) + 1]; } while (0)
/* Continue with the next instruction, k operand halfwords further. */
#define NEXT_W(k) DISPATCH_W(P + (k))
#define NEXT_R(k) DISPATCH_R(P + (k))

#define LOAD_H() (HS = w->global_top)
#define STORE_H() (w->global_top = HS)

/* The definition held in P during a call. */
#define DEF (reinterpret_cast<definition *>(P))


/* ---- Shared paths (labels of wam_body) ----
 *   fail:       backtrack into w->node_ (every failed test ends here)
 *   heap_oflo:  the slow path of a call, P = the definition to enter
 *   proceed_w:  return to the continuation (E := frame, next_insn)
 * BACKTRACK / ENTER_PREDICATE / SUSPEND_HERE are the ways in. */
#define BACKTRACK() goto fail
/* Every call: one comparison and one indirect jump on the common path. */
#define ENTER_PREDICATE()                                                  \
  do {                                                                     \
    if (heap_soft_limit_reached(w, HS))                                           \
      goto heap_oflo;                                                      \
    goto *DEF->proc.emul_entry;                                            \
  } while (0)
/* Instructions that must not run while work is pending (cuts, PROGRESS,
   inline tests): in write mode, with P past the opcode.  resume is where
   the instruction starts again once the pending work has run. */
#define SUSPEND_CHECK(resume)                                              \
  do {                                                                     \
    if (heap_soft_limit_reached(w, HS)) {                                         \
      suspend_at = (resume);                                               \
      suspend_margin = HEAP_WARN_MARGIN;                                   \
      goto suspend_w;                                                      \
    }                                                                      \
  } while (0)

/* Trailing from inside the loop: one store, and the choice-stack check
   that every trail push keeps (TRAIL_MARGIN words to the newest
   choicepoint). */
#define TRAIL_PUSH(entry)                                                  \
  do {                                                                     \
    *w->trail_top++ = (entry);                                             \
    if (reinterpret_cast<TAGGED *>(w->node_) - w->trail_top < TRAIL_MARGIN)\
      choice_overflow(w, TRAIL_MARGIN);                                    \
  } while (0)

/* Cut values: a choicepoint as a small integer, its signed word distance
   from choice_start, so that it survives stack moves and collection. */
#define CUT_VALUE(b) MakeSmall_checked(static_cast<VR_INTEGER>(reinterpret_cast<TAGGED *>(b) - w->choice_start))
#define CUT_NODE(v) reinterpret_cast<node *>(w->choice_start + GetSmall(v))

/* The unsafe-value rule of PUT lists and call argument lists: a variable
   of the current environment (at or above E) that may vanish with it is
   moved to the heap at H first.  Never dereferences a reference below E. */
inline TAGGED wam_unsafe_value(worker *w, frame *E, TAGGED *&H, TAGGED t)
{
  const TAGGED *env = reinterpret_cast<const TAGGED *>(E);
  while (IsVar(t) && TagToRef(t) >= env) {
    TAGGED *cell = TagToRef(t);
    TAGGED v = *cell;
    if (v == t) {
      *H = PointerToTerm(H);
      *cell = *H;
      t = *H;
      H++;
      if (cell < w->local_uncond)
        TRAIL_PUSH(PointerToTerm(cell));
      break;
    }
    t = v;
  }
  return t;
}

#endif
