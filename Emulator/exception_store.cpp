/* exception_store.cpp: storing, loading and erasing the exception term. */
#include "exception_store.h"

#include "datadefs.h"
#include "instance.h"
#include "memman.h"
#include "stack_growth.h"
#include "terms.h"
#include "unify.h"
#include "worker.h"

namespace {

instance *stored() { return reinterpret_cast<instance *>(eglobal->exception); }

} // namespace

void erase_stored_exception(void)
{
  instance *ins = stored();
  /* The balls of memory faults and of a full atom table are made once, at
     start-up, and raised again and again. */
  if (ins != nullptr && eglobal->exception != eglobal->memory_fault_exception &&
      eglobal->exception != eglobal->atom_table_full_exception)
    checkdealloc(ins, ins->objsize, mm_code(MM_BIN_INSTANCE));
  eglobal->exception = 0;
}

int prolog_store_exception(worker *w)
{
  erase_stored_exception();
  /* [_ | Term]: an unbound Term on the local stack cannot go into a heap
     cell, so a new heap variable takes its place. */
  TAGGED term = deref(w->term[0]);
  if (w->heap_warn - w->global_top < 4)
    call_overflow(w, 4, 1), term = deref(w->term[0]);
  TAGGED *h = w->global_top;
  h[0] = PointerToTerm(&h[0]);
  if (IsVar(term) && TagToRef(term) >= w->stack_start) {
    h[1] = PointerToTerm(&h[1]);
    bind(w, term, h[1]);
  } else {
    h[1] = term;
  }
  w->global_top += 2;
  w->term[0] = MakeLST(h);
  eglobal->exception = reinterpret_cast<TAGGED>(compile_term(w, w->term[0], 1));
  return 1;
}

TAGGED load_stored_exception(worker *w)
{
  instance *ins = stored();
  if (ins == nullptr)
    return 0;
  get_instance(w, ins, 0, 0);
  /* The copied pair is the last two words; the term is its tail. */
  return deref(w->global_top[-1]);
}

int prolog_load_exception(worker *w)
{
  instance *ins = stored();
  if (ins == nullptr || !IsVar(deref(w->term[0])))
    return 0;
  get_instance(w, ins, 1, 0);
  return cunify(w, w->term[0], w->global_top[-1]);
}

int prolog_erase_exception(worker *)
{
  erase_stored_exception();
  return 1;
}
