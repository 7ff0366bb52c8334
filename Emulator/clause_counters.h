/* clause_counters.h: the profiler's view of the execution counters that
 * profiled compiled code keeps in each clause (BUMP_COUNTER, BUMP_ENTRY).
 *
 * Each built-in names a compiled predicate by Name/Arity and a module
 * name, and fails when the module or the predicate does not exist or the
 * predicate has no compiled code.  Clauses are numbered from 1 in source
 * order.  Registered by the debugger support in module prolog.
 */
#ifndef VOSTREL_CLAUSE_COUNTERS_H
#define VOSTREL_CLAUSE_COUNTERS_H

#include "termdefs.h"

struct worker;
struct definition;

/* The compiled predicate that Spec (Name/Arity) names in the module named
   module, or null. */
definition *counted_predicate(TAGGED spec, TAGGED module);

int prolog_clause_number(worker *w);  /* $clause_number(Pred, Module, N) */
int prolog_reset_counters(worker *w); /* $reset_counters(Pred, Module) */
int prolog_get_counters(worker *w);   /* $get_counters(Pred, Module, I, Calls, Choicepoints, Instructions) */

#endif
