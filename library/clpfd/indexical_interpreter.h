/* indexical_interpreter.h: running compiled indexicals, and checking their
 * code before it is installed.
 *
 * An indexical X in R is a small stack program over the domains, bounds
 * and values of its constraint's arguments (the instruction set is the
 * table in indexical_interpreter.cpp).  A propagating indexical computes R
 * and restricts X's domain to it; an entailment-checking one compares X's
 * domain with R and fixes the constraint's 0/1 variable when that settles
 * its truth.  The evaluation stack is the worker's argument registers from
 * index 3 up, so a program may hold at most FD_IX_MAX_STACK entries; union
 * loops keep their current value in one of FD_IX_LOOP_SLOTS slots.
 *
 * ix_check_code proves, once, at installation (and when a saved state is
 * read), that a program stays
 * within those limits, only reads arguments the constraint has, jumps only
 * to instruction starts and never mixes values with sets: the interpreter
 * then runs it without checks.
 *
 * Callers: the propagation loop (run_indexical, for each ix/7 item taken
 * from queue 0, the item in argument register 0); the installer of FD
 * predicates (ix_check_code).
 */
#ifndef TRELIX_CLPFD_INDEXICAL_INTERPRETER_H
#define TRELIX_CLPFD_INDEXICAL_INTERPRETER_H

#include "indexical_store.h"

/* Instruction words above this are no-operations. */
constexpr ix_byte IX_LAST_INSTRUCTION = FD_IX_OPCODES - 1;

/* Results of run_indexical. */
enum ix_result {
  IX_FAILED = 0,       /* the propagation fails; count a failure */
  IX_SUCCEEDED = 1,    /* continue (the overflow flag may be set) */
  IX_FAILED_QUIET = 2  /* the propagation fails, no failure counted */
};

/* Runs the ix/7 item in argument register 0 once: evaluates, tells or
   decides, then updates its status (and links it into its suspension
   lists on its first run).  Registers 1 up are clobbered. */
ix_result run_indexical(VREnv *env, worker *w);

/* Whether code (length words, operands already in their installed form:
   FD set terms and table addresses of the n_literals entries of literals)
   is a program the interpreter may run for a constraint of `arity`
   arguments, and one relocate_bytecode can carry through a saved state;
   when not, *why names the first fault found and *where its word
   offset. */
bool ix_check_code(const ix_byte *code, unsigned length, const TAGGED *literals, unsigned n_literals,
                   unsigned arity, const char **why, unsigned *where);

/* The operand words of the instruction at code[pc] (0 for a word past the
   instruction set, and for the flag of 52, 83, 84 left out at the end). */
unsigned ix_operand_words(const ix_byte *code, unsigned pc, unsigned length);

#endif
