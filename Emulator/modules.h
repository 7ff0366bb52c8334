/* modules.h: modules, the module table and the per-module blackboard.
 *
 * A module is one `mod_def` in the process-wide table eglobal->user_modules
 * (name to mod_def*).  Its predicate table maps functor words (name with
 * the arity in bits 23-30) to definitions; its export list runs through the
 * definitions' next_public links and ends in -1 (which is also the empty
 * list).  Modules are never removed.  The blackboard maps any key word to
 * an instance holding the stored list cell [[] | Value].
 *
 * Callers: look-up of predicates (predicates.cpp), the module and
 * blackboard built-ins (pred_builtins.cpp, blackboard.cpp), saved states,
 * atom garbage collection.  Engine thread only.
 */
#ifndef VOSTREL_MODULES_H
#define VOSTREL_MODULES_H

#include <cstdint>

#include "termdefs.h"

struct sw_on_key;
struct definition;
struct worker;

/* prop word. */
constexpr std::uint32_t MOD_HIDDEN = 1u << 0;

/* The end (and the empty value) of a module's export list. */
inline definition *const PUBLIC_END = reinterpret_cast<definition *>(-1);

struct mod_def {
  TAGGED name;            /* module name, an atom word */
  std::uint32_t prop;     /* MOD_HIDDEN */
  definition *public_lst; /* export list, PUBLIC_END when empty */
  sw_on_key *preds;       /* functor word -> definition* */
  sw_on_key *names;       /* reserved: 4 slots, nothing reads it */
  std::int32_t attr_no;   /* attribute count */
  sw_on_key *bb;          /* blackboard: key word -> instance* */
  TAGGED filename;        /* file of the module's declaration, [] when none */
};
static_assert(sizeof(mod_def) == 32);

inline bool module_hidden(const mod_def *m) { return (m->prop & MOD_HIDDEN) != 0; }

/* The module named by `name` (a structure or list is replaced by its
   functor); with insertp non-zero it is created when missing, unless the
   word is negative.  Null when not found. */
mod_def *find_module(TAGGED name, int insertp);

/* Creates the module table and the modules prolog and user (the type-in
   module) when they do not exist yet.  0 when that failed. */
int init_modules(void);
/* Frees every module, predicate record, code and blackboard value, and
   the dead-predicate list (shutdown and tests). */
void deinit_modules(void);

/* Visits every module of the table. */
void for_each_module(void (*visit)(mod_def *m, void *arg), void *arg);
/* Visits every live predicate record (non-null value) of m's table. */
void for_each_predicate(mod_def *m, void (*visit)(definition *d, void *arg), void *arg);

/* Frees every blackboard value of m, leaving its keys with null values. */
void bb_remove(mod_def *m);

/* ---- Built-ins (pred_builtins.cpp, blackboard.cpp) ---- */
int prolog_define_predicate(worker *w);   /* $define_predicate/2 */
int prolog_set_property(worker *w);       /* $set_property/3 */
int prolog_abolish(worker *w);            /* $abolish/2 */
int prolog_undefine_all(worker *w);       /* $undefine_all/1 */
int prolog_erase_clause(worker *w);       /* $erase_clause/1 */
int prolog_module4(worker *w);            /* $module/4 */
int prolog_module3(worker *w);            /* $module/3 */
int prolog_module_hiding(worker *w);      /* $module_hiding/1 */
int prolog_curmod(worker *w);             /* $curmod/3 */
int prolog_import_preds(worker *w);       /* $import_preds/3 */
int prolog_typein_module(worker *w);      /* $typein_module/2 */
int prolog_imported(worker *w);           /* $imported/3 */
int prolog_predicate_file(worker *w);     /* $predicate_file/3 */
int prolog_bb_put(worker *w);             /* $bb_put/3 */
int prolog_bb_get(worker *w);             /* $bb_get/3 */
int prolog_bb_delete(worker *w);          /* $bb_delete/3 */
int prolog_bb_update(worker *w);          /* $bb_update/5 */

#endif
