/* attributes.h: constrained variables (attributed variables and variables
 * with suspended goals) and the native built-ins over them.
 *
 * A constrained variable is four heap words: the marker -1, the variable
 * cell, the attribute vector ([] when none) and the list of suspended goals
 * ([] when none).  The vector is the compound []/N, N the number of
 * attribute modules registered when it was built; argument k holds the
 * attribute of the module whose slot is k, or an unbound variable.
 *
 * Backtracking safety rests on one rule, kept by every function here: a
 * constrained variable, vector or goal list older than the newest
 * choicepoint (below global_uncond) is never changed in place; a new one is
 * built and the old variable bound to it with a trail entry, so that
 * backtracking returns to the old one.  Newer structures are changed in
 * place.
 *
 * Heap room: the functions that build take it for granted that the
 * emulator's margin (HEAP_WARN_MARGIN words beyond heap_warn) is there, as it
 * is inside any built-in; the built-ins that can need more make room first.
 *
 * Callers: the attribute built-ins of every attribute module (entry kinds
 * BUILTIN_GET/PUT/DELETE_ATTRIBUTES), the coroutining built-ins, block
 * declarations and $disjunctive_geler (suspend_goal, wrap_goal), the
 * wake-up collector (pure_attributes through pure_attributes_hook), foreign
 * code through the engine-support interface.  Engine thread only.
 */
#ifndef VOSTREL_ATTRIBUTES_H
#define VOSTREL_ATTRIBUTES_H

#include "termdefs.h"

struct worker;
struct mod_def;
struct definition;

/* The most attribute modules there can be: the arity field of the vector's
   functor. */
constexpr int MAX_ATTRIBUTE_MODULES = 255;

/* The slots handed out so far, and the name of the module of slot k
   (1-based); [] for a slot not in use. */
int attribute_module_count(void);
TAGGED attribute_module_name(int slot);
/* Forgets every registration (shutdown and tests); the modules' own slot
   numbers are cleared by whoever frees the modules. */
void reset_attribute_modules(void);

/* Registers m as an attribute module: defines its $get_attributes/3,
   $put_attributes/2 and $delete_attributes/1 and gives it the next slot
   unless it has one.  0 when all slots are taken. */
int save_attribute_info(mod_def *m);

/* True when var (a reference) is a constrained variable's cell. */
bool is_cva(const worker *w, TAGGED var);

/* Module m's attribute of the constrained variable var, or 0 when m has no
   slot, var no vector, or the slot is empty. */
TAGGED get_attributes(TAGGED var, mod_def *m);
/* Stores attr as m's attribute of var (an unbound variable, plain or
   constrained). */
void put_attributes(worker *w, TAGGED var, TAGGED attr, mod_def *m);
/* Removes m's attribute from var; live is the number of argument
   registers in use (kept across a heap expansion).  Returns the variable
   as it is afterwards (possibly a new one, or plain). */
TAGGED delete_attributes(worker *w, TAGGED var, mod_def *m, int live);
/* True when the constrained variable has no goals and no attribute of a
   module other than m. */
int pure_attributes(TAGGED var, mod_def *m);
/* True when var is a constrained variable without goals whose only
   attribute is m's. */
int single_attribute(TAGGED var, mod_def *m);

/* "$apply"(Goal, Module, Flag): the module is def's, Flag a new variable. */
TAGGED wrap_goal(worker *w, TAGGED goal, definition *def);
/* Puts the wrapped goal first in the goal list of the heap variable var. */
void suspend_goal(worker *w, TAGGED wrapped, TAGGED var);
/* The trail entry of a constrained variable that is being replaced by a
   new one: pushed below the entries of wake-ups still pending, so that the
   wake-up collector does not take it for one of them. */
void trail_attr_change(worker *w, TAGGED var);

/* Installs pure_attributes as the wake-up collector's hook.  Idempotent;
   save_attribute_info calls it, since no attribute exists before. */
void attributes_install_hooks(void);

/* ---- Built-ins ---- */
/* The module's three, with the module of the predicate entered. */
int prolog_get_attributes(worker *w, mod_def *m);    /* $get_attributes/3 */
int prolog_put_attributes(worker *w, mod_def *m);    /* $put_attributes/2 */
int prolog_delete_attributes(worker *w, mod_def *m); /* $delete_attributes/1 */
/* Module prolog. */
int prolog_save_attribute_info(worker *w);          /* $save_attribute_info/1 */
int prolog_get_cva(worker *w);                      /* $get_cva/3 */
int prolog_put_cva(worker *w);                      /* $put_cva/3 */
int prolog_get_attribute_modules(worker *w);        /* $get_attribute_modules/2 */
int prolog_get_all_attribute_modules(worker *w);    /* $get_all_attribute_modules/1 */
int prolog_constraint_list(worker *w);              /* $constraint_list/2 */
int prolog_disjunctive_geler(worker *w);            /* $disjunctive_geler/2 */

#endif
