/* run_determ.cpp: direct calls of native built-ins (see run_determ.h). */
#include "run_determ.h"

#include "datadefs.h"
#include "predicates.h"
#include "terms.h"
#include "worker.h"

int run_determ_c(worker *w, TAGGED goal)
{
  goal = deref(goal);
  if (!IsAtom(goal) && !IsList(goal) && !(IsStructure(goal) && IsFunctor(TagToSTR(goal)[0])))
    return 0;
  definition *def = find_definition(eglobal->prolog_module, goal, &w->structure, 0);
  if (def == nullptr || def->proc.enter_instr != ENTER_C || def->proc.code.cinfo == nullptr)
    return 0;
  for (int i = 0; i < def->proc.arity; i++)
    w->term[i] = w->structure[i];
  return def->proc.code.cinfo(w);
}
