/* compiler.h: the Prolog-to-bytecode compiler for plain clauses.
 *
 * compile_clause turns one clause term into an emul_info clause record with
 * the index bits and key that agree with its first instruction, ready for
 * insert_compactcode.  consult_text reads clauses from program text and
 * installs them, one compiled definition per Name/Arity of the module.
 *
 * What is compiled: head unification, conjunctions of calls, true, fail and
 * ! (at the neck or after calls).  Every other construct (disjunction,
 * if-then-else, negation, variable or module-qualified goals, directives,
 * grammar rules) is reported as an error, never dropped.
 * Engine thread only; the clause term must stay on the heap while it is
 * compiled.
 */
#ifndef TRELIX_COMPILER_H
#define TRELIX_COMPILER_H

#include <string>
#include <vector>

#include "code_records.h"
#include "termdefs.h"

struct worker;
struct mod_def;
struct definition;

struct compiled_clause {
  definition *def = nullptr;   /* the predicate of the head, in the module */
  emul_info *clause = nullptr; /* record for insert_compactcode (elsecode failcode) */
  unsigned ix = 0;             /* index bits, IX_CUT included when it cuts */
  TAGGED key = 0;              /* first-argument key, 0 when it fits any */
};

/* Compiles a clause (Head or Head :- Body).  Returns 1 and fills out, or 0
   with *error set (nothing is allocated then). */
int compile_clause(worker *w, TAGGED clause_term, mod_def *module, compiled_clause *out, std::string *error);

/* Reads every clause of text and installs it in module.  Each predicate
   defined by the text is redefined (emptied) at its first clause in this
   call.  Syntax errors and unsupported clauses are appended to errors as
   "line N: message" and skipped; returns the number of clauses installed. */
int consult_text(worker *w, const char *text, mod_def *module, std::vector<std::string> *errors);

#endif
