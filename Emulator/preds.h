/* preds.h: the predicates and canned alternatives that the engine reaches
 * by itself rather than through a goal.
 *
 * `preds` is filled once at start-up, from the rows of the built-in table
 * that ask to be saved, before the first query runs; from then on every
 * definition pointer is a valid predicate record (an escape predicate may
 * be ENTER_UNDEFINED until its library is loaded, as fd_unify is until the
 * finite-domain library arrives) and every try-node pointer a valid node.
 * The emulator, the error raiser, the enumerators and the suspension code
 * read it; nothing writes it after start-up except init_wamsup, which
 * patches the code of nd_current_instance.
 */
#ifndef VOSTREL_PREDS_H
#define VOSTREL_PREDS_H

#include <cstddef>

struct definition;
struct try_node;

struct pred_addresses {
  /* The saved rows of the built-in table, in table order (install_builtins
     fills them one after the other and checks the order). */
  definition *user_event;          /* "$user_event"/0: pending events */
  definition *rdtok;               /* "$read_token"/6 */
  definition *zap_chpt;            /* "$zap_chpt"/1 */
  definition *true0;               /* true/0 */
  definition *fail;                /* fail/0 */
  definition *metacall;            /* "metacall"/3 */
  definition *metacall_pc;         /* "metacall_pc"/4: interpreted clause bodies */
  definition *meta_colon_pc;       /* "meta_colon_pc"/3 */
  definition *call_illarg_pc;      /* "call_illarg_pc"/2 */
  definition *undefined_goal;      /* "undefined_goal"/3 */
  definition *solve_fd_constraint; /* "solve_fd_constraint"/2 */
  definition *debug_goal;          /* "debug_goal"/3 */
  definition *call_int;            /* "call_internal"/1 */
  definition *unify_cva;           /* "unify_cva"/2 */
  definition *call_goals;          /* "call_goals"/1 */
  definition *slow_apply;          /* "slow_apply"/3 */
  /* General cases of the inline built-ins. */
  definition *slow_functor, *slow_append, *slow_arg, *slow_univ, *slow_length;
  definition *slow_create_mutable, *slow_get_mutable, *slow_update_mutable;
  definition *call;                /* "$nodebug_call"/3 */
  definition *call_cleanup;        /* "call_cleanup"/1 */
  definition *unwind_stack;        /* "$unwind_stack"/0 */
  definition *resume;              /* "$resume"/7; its continuation marks escape environments */
  /* Error raising. */
  definition *cerror;              /* "$cerror"/3 */
  definition *raise_excp;          /* raise_exception/1 */
  /* Interrupt events and saved-state resources. */
  definition *ctrlc_handler, *ctrlbrk_handler;
  definition *evaluate;            /* "evaluate"/4 */
  definition *loaded_resource, *load_clpfd_resource, *unload_clpfd_resource;
  definition *fd_unify;            /* "fd_unify"/2 of clpfd */

  /* Canned alternatives: native enumerators, interpreted-clause
     enumeration and error raising. */
  try_node *nd_current_atom;
  try_node *nd_current_module;
  try_node *nd_current_instance;
  try_node *nd_predicate_property;
  try_node *nd_cerror;
  try_node *nd_raise_excp;
};

extern pred_addresses preds;
/* The saved rows fill the definition slots from user_event to fd_unify
   without a gap. */
static_assert(offsetof(pred_addresses, fd_unify) == 36 * sizeof(definition *) &&
                  offsetof(pred_addresses, nd_current_atom) == 37 * sizeof(definition *),
              "37 saved rows, then the retry entries");

#endif
