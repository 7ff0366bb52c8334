/* pred_table.h: the built-in predicate table.
 *
 * One row per built-in: its name, native function (ENTER_C rows), arity,
 * entry kind, the `preds` slot that records it (escape predicates and the
 * predicates the engine enters by itself) and its module.  Escape
 * predicates are rows of kind ENTER_UNDEFINED: the runtime library gives
 * them their clauses.  The saved rows fill `preds` in table order
 * (install_builtins refuses a table whose saved rows are out of the slots'
 * order), and are locked against being dropped as dead predicates.
 * install_builtins defines every row, then makes the canned alternatives
 * of `preds` (nd_cerror, nd_raise_excp).  Rows are added as the layers
 * that own the functions land.
 * Called once per start by init_once, after the module table and before
 * any code is loaded.
 */
#ifndef VOSTREL_PRED_TABLE_H
#define VOSTREL_PRED_TABLE_H

#include "predicates.h"

struct pred_row {
  const char *name;
  c_predicate_fn function; /* ENTER_C only */
  int arity;
  int type;                /* entry kind */
  definition **save;       /* the `preds` slot, or null */
  const char *module;
};

extern const pred_row pred_table[];
extern const int pred_table_size;

/* Defines every row; 1 on success. */
int install_builtins(void);

#endif
