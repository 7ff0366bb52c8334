/* query.cpp: opening, continuing and closing a query from native code.
 *
 * The arguments are loaded twice: before the choicepoint is pushed (it
 * saves the registers as they stand, and a failed query restores them)
 * and again for the call itself.  Saved registers beyond the query's
 * arity are set to [] in the choicepoint: they are roots of the garbage
 * collector.
 */
#include "query.h"

#include <cstddef>

#include "atoms.h"
#include "datadefs.h"
#include "exception_store.h"
#include "modules.h"
#include "predicates.h"
#include "wam.h"
#include "wamsup.h"
#include "worker.h"

int query_open(worker *w, query *q, definition *d, const TAGGED *args)
{
  const int arity = d->proc.arity;
  for (int i = 0; i < arity; i++)
    w->term[i] = args[i];
  q->base_depth = reinterpret_cast<char *>(w->choice_start) - reinterpret_cast<char *>(w->node_);
  wam_push_choicepoint(w, termcode);
  q->own_depth = reinterpret_cast<char *>(w->choice_start) - reinterpret_cast<char *>(w->node_);
  /* The choicepoint saves as many registers as termcode's alternative
     has; those beyond the query's arity would otherwise keep whatever an
     earlier query left there, words the garbage collector would follow.
     The registers themselves stay as they are. */
  const int saved = (termcode->node_offset - 24) / 4;
  for (int i = arity; i < saved; i++)
    w->node_->term[i] = atom_nil;
  w->next_insn = exitcode;
  for (int i = 0; i < arity; i++)
    w->term[i] = args[i];
  return do_wam(w, 3, d);
}

int query_next(worker *w, query *) { return do_wam(w, 0, nullptr); }

void query_close(worker *w, query *q)
{
  if (q->base_depth < 0)
    return;
  w->node_ = reinterpret_cast<node *>(reinterpret_cast<char *>(w->choice_start) - q->base_depth);
  w->global_uncond = w->node_->global_top;
  w->local_uncond = w->node_->local_top;
  q->base_depth = -1;
}

int query_undo(worker *w, query *q)
{
  if (q->base_depth < 0)
    return 0;
  int res = 0;
  node *b = reinterpret_cast<node *>(reinterpret_cast<char *>(w->choice_start) - q->own_depth);
  /* Younger than the newest choicepoint: an uncaught exception has undone
     the query already and popped its choicepoint.  Otherwise fail into it
     (termcode ends the run with failure and keeps the choicepoint, which
     closing then drops). */
  if (b >= w->node_) {
    w->node_ = b;
    w->global_uncond = b->global_top;
    w->local_uncond = b->local_top;
    b->next_alt = termcode;
    if (do_wam(w, 0, nullptr) < 0)
      res = -1;
  }
  query_close(w, q);
  return res;
}

void report_uncaught_exception(worker *w, TAGGED ball)
{
  definition *d = insert_definition(eglobal->prolog_module, init_atom_check("$print_uncaught", 0), 1, 0);
  if (d == nullptr || predtyp(d) == ENTER_UNDEFINED)
    return;
  /* Undoing the report gives back what it left on the heap and the trail,
     the collector's adjustments included, and releases what a message
     hook may have posted. */
  const TAGGED args[1] = {ball};
  query q;
  if (query_open(w, &q, d, args) < 0)
    erase_stored_exception();
  if (query_undo(w, &q) < 0)
    erase_stored_exception();
}
