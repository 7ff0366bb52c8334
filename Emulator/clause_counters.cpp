/* clause_counters.cpp: $clause_number/3, $reset_counters/2 and
 * $get_counters/6 (see clause_counters.h).  The counters themselves are
 * read and cleared by the code walkers (code_walkers.cpp), which know where
 * each instruction keeps them.
 */
#include "clause_counters.h"

#include "code_walkers.h"
#include "indexing.h"
#include "initial_atoms.h"
#include "modules.h"
#include "predicates.h"
#include "stack_growth.h"
#include "terms.h"
#include "unify.h"
#include "worker.h"

namespace {

constexpr TAGGED functor_slash2 = MakeFunctor(MakeAtom(atom_slash_enum), 2);

const incore_info *clauses_of(const definition *d) { return d->proc.code.incoreinfo; }

/* Clause number i (from 1) of d, or null. */
emul_info *nth_clause(const definition *d, VR_INTEGER i)
{
  const incore_info *info = clauses_of(d);
  for (emul_info *c = info->clauses; !clause_chain_end(c, info); c = c->next)
    if (--i == 0)
      return c;
  return nullptr;
}

} // namespace

definition *counted_predicate(TAGGED spec, TAGGED module)
{
  spec = deref(spec);
  module = deref(module);
  if (!IsStructure(spec) || *TagToSTR(spec) != functor_slash2 || !IsAtom(module))
    return nullptr;
  TAGGED name = deref(TagToSTR(spec)[1]);
  TAGGED arity = deref(TagToSTR(spec)[2]);
  if (!IsAtom(name) || !IsSmall(arity) || GetSmall(arity) < 0 || GetSmall(arity) > 255)
    return nullptr;
  mod_def *m = find_module(module, 0);
  if (m == nullptr)
    return nullptr;
  definition *d = insert_definition(m, name, GetSmall(arity), 0);
  if (d == nullptr || !is_compiled_type(predtyp(d)) || clauses_of(d) == nullptr)
    return nullptr;
  return d;
}

int prolog_clause_number(worker *w)
{
  definition *d = counted_predicate(w->term[0], w->term[1]);
  if (d == nullptr)
    return 0;
  /* The chain ends in the clause count instead of null. */
  auto count = static_cast<VR_INTEGER>(reinterpret_cast<std::uintptr_t>(*clauses_of(d)->clauses_tail));
  return cunify(w, w->term[2], MakeSmall_checked(count));
}

int prolog_reset_counters(worker *w)
{
  definition *d = counted_predicate(w->term[0], w->term[1]);
  if (d == nullptr)
    return 0;
  const incore_info *info = clauses_of(d);
  for (emul_info *c = info->clauses; !clause_chain_end(c, info); c = c->next)
    wam_reset_counters(c);
  return 1;
}

int prolog_get_counters(worker *w)
{
  definition *d = counted_predicate(w->term[0], w->term[1]);
  TAGGED i = deref(w->term[2]);
  if (d == nullptr || !IsSmall(i) || GetSmall(i) < 1)
    return 0;
  emul_info *c = nth_clause(d, GetSmall(i));
  if (c == nullptr)
    return 0;
  int calls = 0, choicepoints = 0, instructions = 0;
  wam_gather_counters(c, &calls, &choicepoints, &instructions);
  /* Three integers, boxed ones taking 3 words each. */
  if (w->stack_start - w->global_top < 16)
    call_overflow(w, 16, 6);
  return cunify(w, w->term[3], make_integer_term(w, calls)) &&
         cunify(w, w->term[4], make_integer_term(w, choicepoints)) &&
         cunify(w, w->term[5], make_integer_term(w, instructions));
}
