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

#endif
