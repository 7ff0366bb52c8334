/* verifier.h: checking a compiled clause before the database takes it.
 *
 * The emulator trusts clause code completely (it dispatches on opcodes,
 * reads 32-bit operands as aligned words, indexes the worker's registers
 * by the X operands), and the saved-state reader and the code walkers step
 * through it by the one instruction table.  verify_clause checks, without
 * running it, every property of a clause record those readers rely on;
 * the compiler calls it on what it produced and the tests call it on
 * what the code builder makes.  It reads the clause only and never writes.
 */
#ifndef VOSTREL_VERIFIER_H
#define VOSTREL_VERIFIER_H

#include <string>

#include "code_records.h"

/* true when the clause (of a predicate of the given arity) is sound.  On a
   fault, false, and *why (when not null) receives "rule: detail at
   halfword k", the rule being one of: opcode, objsize, alignment, pad,
   x operand, y operand, environment size, argument list, number,
   choice block, else address, try entry, call target, done, overlap,
   unify_large, x0 form, ix, initcall, firstcall, progress.  The canned
   code (failcode, elsecode) must exist: else addresses are compared
   with it. */
bool verify_clause(const emul_info *clause, int arity, std::string *why);

#endif
