/* enumeration.h: native built-ins that enumerate the database on
 * backtracking (atoms, modules, predicates and their properties), and the
 * deterministic look-ups beside them (arities of a name, the keys of a
 * dynamic predicate, the dynamic predicate of a head).
 *
 * Protocol: a first-call function answers at once or pushes a choicepoint
 * whose alternative is a canned retry block for one redo function and a
 * number of saved argument registers (def_retry_c); the cursor lives in
 * those saved registers.  The redo function finds them restored in the
 * argument registers, writes the advanced cursor back into the
 * choicepoint, and returns 1 with the next solution; 0 with the
 * choicepoint in place when the candidate did not unify; or pops the
 * choicepoint and returns 0 when nothing is left.  Tables are read afresh
 * at every redo and cursors clamped to them, since a table may be rebuilt
 * (and the old one freed) while an enumeration is open.
 *
 * Callers: the runtime library (current_atom/1, current_predicate/1,2,
 * predicate_property/2, current_key/2, the database predicates), through
 * the built-in table.  Engine thread only.
 */
#ifndef VOSTREL_ENUMERATION_H
#define VOSTREL_ENUMERATION_H

struct worker;
struct try_node;

/* Pushes a choicepoint with alternative alt, saving the argument
   registers its node_offset covers; pops the newest one. */
void push_choicept(worker *w, try_node *alt);
void pop_choicept(worker *w);

/* Makes and frees the canned alternatives nd_current_atom,
   nd_current_module and nd_predicate_property of `preds`. */
void enumeration_install(void);
void enumeration_deinit(void);

/* Property bits of $predicate_property/5. */
constexpr int PP_EXPORTED = 1 << 0;
constexpr int PP_DYNAMIC = 1 << 1;
constexpr int PP_MULTIFILE = 1 << 2;
constexpr int PP_VOLATILE = 1 << 3;
constexpr int PP_BLOCK = 1 << 4;
constexpr int PP_META = 1 << 5;
constexpr int PP_HIDDEN = 1 << 6;

int prolog_current_atom(worker *w);         /* current_atom/1 */
int prolog_current_module(worker *w);       /* $current_module/1 */
int prolog_predicate_property(worker *w);   /* $predicate_property/5 */
int prolog_predicate_arities(worker *w);    /* $predicate_arities/4 */
int prolog_current_key(worker *w);          /* $current_key/4 */
int prolog_current_clauses(worker *w);      /* $current_clauses/3 */

#endif
