/* dcg.h: grammar rules (Head --> Body) translated to ordinary clauses.
 *
 * Every non-terminal gets two more arguments, the list before it and the
 * list after it; terminals, {}, !, control constructs and pushback lists
 * become unifications between those lists.  The result is built at the
 * worker's heap top and never shares list cells with the rule, only its
 * arguments and variables.  On failure the heap top is where it was.
 * Called by the consulting code before compile_clause, and by phrase/2,3.
 * Engine thread only; the heap must not move while a translation runs.
 */
#ifndef TRELIX_DCG_H
#define TRELIX_DCG_H

#include <string>

#include "termdefs.h"

struct worker;

/* Translates a grammar rule (Head --> Body, or Head, PushBack --> Body) into an ordinary clause
   term built at the worker's heap top.  Returns 1 and sets *clause, or 0 with *error set
   (a message naming the fault, e.g. "grammar rule head is not callable: ..."). */
int dcg_translate(worker *w, TAGGED rule, TAGGED *clause, std::string *error);
/* The body goal for a grammar body B between lists S0 and S (used by phrase/2,3 later). */
int dcg_body(worker *w, TAGGED body, TAGGED s0, TAGGED s, TAGGED *goal, std::string *error);

#endif
