/* blackboard.cpp: the per-module blackboard ($bb_put/3, $bb_get/3,
 * $bb_delete/3, $bb_update/5) and its disposal.
 *
 * One value per (module, key word), stored as an instance of the list cell
 * [[] | Value], so that a copy brought back by get_instance leaves Value in
 * the top heap word.  The instance's rank is a plain use count raised while
 * a copy is being taken.  A deleted key keeps its slot with a null value,
 * and a later put reuses it.  Called by the Prolog library's bb_ family;
 * engine thread only.
 */
#include "datadefs.h"
#include "instance.h"
#include "memman.h"
#include "modules.h"
#include "sw_on_key.h"
#include "terms.h"
#include "unify.h"
#include "worker.h"

namespace {

void free_bb_instance(instance *ins) { checkdealloc(ins, ins->objsize, mm_code(MM_BIN_INSTANCE)); }

/* The module named in X0, created when needed; null when no module can
   have that name. */
mod_def *bb_module(worker *w) { return find_module(deref(w->term[0]), 1); }

/* Compiles [[] | value] after moving an unbound value off the local
   stack, so that the stored cell refers to heap words only. */
instance *bb_compile(worker *w, TAGGED value)
{
  value = deref(value);
  if (IsVar(value) && TagToRef(value) >= w->stack_start && TagToRef(value) < w->stack_end) {
    TAGGED *h = w->global_top;
    *h = PointerToTerm(h);
    w->global_top = h + 1;
    bind(w, value, PointerToTerm(h));
    value = PointerToTerm(h);
  }
  TAGGED *cell = w->global_top;
  cell[0] = atom_nil;
  cell[1] = value;
  w->global_top = cell + 2;
  instance *ins = compile_term(w, MakeLST(cell), 5);
  ins->rank = 0;
  return ins;
}

/* Copies the stored value to the heap and returns it. */
TAGGED bb_copy(worker *w, instance *ins, int live)
{
  ins->rank += 1;
  get_instance(w, ins, live, 0);
  ins->rank -= 1;
  return w->global_top[-1];
}

} // namespace

void bb_remove(mod_def *m)
{
  sw_on_key *bb = m->bb;
  for (std::uint32_t i = 0; i < sw_slots(bb); i++) {
    if (bb->tab[i].key != 0 && bb->tab[i].value.inst != nullptr) {
      free_bb_instance(bb->tab[i].value.inst);
      bb->tab[i].value.inst = nullptr;
    }
  }
}

int prolog_bb_put(worker *w)
{
  mod_def *m = bb_module(w);
  TAGGED key = deref(w->term[1]);
  if (m == nullptr || key == 0)
    return 0;
  instance *ins = bb_compile(w, w->term[2]);
  sw_on_key_node *n = dyn_puthash(&m->bb, key);
  instance *old = n->value.inst;
  n->value.inst = ins;
  if (old != nullptr)
    free_bb_instance(old);
  return 1;
}

int prolog_bb_get(worker *w)
{
  mod_def *m = bb_module(w);
  if (m == nullptr)
    return 0;
  instance *ins = incore_gethash(m->bb, deref(w->term[1]))->value.inst;
  if (ins == nullptr)
    return 0;
  TAGGED value = bb_copy(w, ins, 3);
  return cunify(w, w->term[2], value);
}

int prolog_bb_delete(worker *w)
{
  mod_def *m = bb_module(w);
  if (m == nullptr)
    return 0;
  sw_on_key_node *n = incore_gethash(m->bb, deref(w->term[1]));
  instance *ins = n->value.inst;
  if (ins == nullptr)
    return 0;
  n->value.inst = nullptr;
  TAGGED value = bb_copy(w, ins, 3);
  free_bb_instance(ins);
  return cunify(w, w->term[2], value);
}

int prolog_bb_update(worker *w)
{
  mod_def *m = bb_module(w);
  if (m == nullptr)
    return 0;
  TAGGED key = deref(w->term[1]);
  instance *ins = incore_gethash(m->bb, key)->value.inst;
  TAGGED minus_one = MakeSmall_checked(-1);
  if (ins == nullptr)
    return cunify(w, w->term[4], minus_one);
  ins->rank += 1;
  get_instance(w, ins, 5, 0);
  TAGGED old = w->global_top[-1];
  if (!cunify(w, w->term[2], old)) {
    ins->rank -= 1;
    return cunify(w, w->term[4], minus_one);
  }
  instance *fresh = bb_compile(w, w->term[3]);
  sw_on_key_node *n = incore_gethash(m->bb, key);
  if (n->value.inst != ins) {
    /* Someone replaced the value meanwhile; the old one is no longer ours
       to touch. */
    free_bb_instance(fresh);
    return 0;
  }
  ins->rank -= 1;
  n->value.inst = fresh;
  free_bb_instance(ins);
  return cunify(w, w->term[4], MakeSmall_checked(0));
}
