/* runtime_instance.cpp: start-up of a runtime instance, with the stand-in
 * escape predicates described in runtime_instance.h.
 */
#include "runtime_instance.h"

#include <cstdio>
#include <cstring>

#include "atoms.h"
#include "code_builder.h"
#include "datadefs.h"
#include "indexing.h"
#include "initial_atoms.h"
#include "memman.h"
#include "modules.h"
#include "operators.h"
#include "predicates.h"
#include "preds.h"
#include "stacks.h"
#include "terms.h"
#include "unify.h"
#include "wam.h"
#include "wamsup.h"
#include "worker.h"

namespace {

definition *builtin(const char *name, int arity, int type)
{
  definition *d = insert_definition(eglobal->prolog_module, init_atom_check(name, 0), arity, 1);
  redefine_predicate(d, type);
  return d;
}

definition *native(const char *name, int arity, int (*fn)(worker *))
{
  definition *d = builtin(name, arity, ENTER_C);
  d->proc.code.cinfo = fn;
  return d;
}

int store_exception(worker *w)
{
  eglobal->exception = deref(w->term[0]);
  return 1;
}

/* $undefined_error(Goal, Module, Error) */
int undefined_error(worker *w)
{
  TAGGED goal = deref(w->term[0]);
  TAGGED name = IsAtom(goal) ? goal : FunctorName(TagToSTR(goal)[0]);
  int arity = IsAtom(goal) ? 0 : IsList(goal) ? 2 : static_cast<int>(Arity(TagToSTR(goal)[0]));
  if (IsList(goal))
    name = MakeAtom(atom_dot_enum);
  TAGGED *h = w->global_top;
  w->global_top += 12;
  h[0] = MakeFunctor(MakeAtom(atom_slash_enum), 2);
  h[1] = name;
  h[2] = MakeSmall_checked(arity);
  h[3] = MakeFunctor(MakeAtom(atom_colon_enum), 2);
  h[4] = deref(w->term[1]);
  h[5] = MakeSTR(h);
  h[6] = MakeFunctor(init_atom_check("existence_error", 0), 2);
  h[7] = init_atom_check("procedure", 0);
  h[8] = MakeSTR(h + 3);
  h[9] = MakeFunctor(init_atom_check("error", 0), 2);
  h[10] = MakeSTR(h + 6);
  h[11] = MakeSTR(h + 3);
  return cunify(w, w->term[2], MakeSTR(h + 9));
}

emul_info *clause_of(const code_builder &b) { return b.finish(failcode, IX_CASES); }

void install_standins(void)
{
  preds.true0 = builtin("true", 0, BUILTIN_TRUE);
  preds.fail = builtin("fail", 0, BUILTIN_FAIL);
  preds.unwind_stack = builtin("$unwind_stack", 0, BUILTIN_UNWIND_STACK);
  /* No event queue yet: nothing pending to run. */
  preds.user_event = builtin("$user_event", 0, BUILTIN_TRUE);
  definition *store = native("$store_exception", 1, store_exception);
  definition *make_error = native("$undefined_error", 3, undefined_error);

  /* raise_exception(E) :- '$store_exception'(E), '$unwind_stack'. */
  preds.raise_excp = builtin("raise_exception", 1, ENTER_COMPACTCODE);
  {
    code_builder b;
    b.emit(INITCALL, {cb::args(0, {}), cb::def(store), cb::env(0)});
    b.emit(LASTCALL, {cb::args(0, {}), cb::def(preds.unwind_stack)});
    insert_compactcode(preds.raise_excp, clause_of(b), IX_CASES, 0);
  }
  preds.nd_raise_excp = def_retry_prolog(preds.raise_excp, 1);

  /* undefined_goal(G, M, _) :- '$undefined_error'(G, M, E), raise_exception(E). */
  preds.undefined_goal = builtin("undefined_goal", 3, ENTER_COMPACTCODE);
  {
    code_builder b;
    b.emit(PUT_Y_FIRST_VARIABLE, {cb::x(2), cb::y(0)});
    b.emit(FIRSTCALL, {cb::args(0, {}), cb::def(make_error), cb::env(1)});
    b.emit(PUT_Y_UNSAFE_VALUE, {cb::x(0), cb::y(0)});
    b.emit(LASTCALL, {cb::args(0, {}), cb::def(preds.raise_excp)});
    insert_compactcode(preds.undefined_goal, clause_of(b), IX_CASES, 0);
  }
}

} // namespace

worker *runtime_instance_start(void)
{
  if (memman_init() != 0) {
    std::fprintf(stderr, "runtime: memory manager start-up failed\n");
    return nullptr;
  }
  std::memset(&preds, 0, sizeof preds);
  if (init_wamsup() != 1) {
    std::fprintf(stderr, "runtime: canned code start-up failed\n");
    return nullptr;
  }
  worker *w = create_worker();
  if (w == nullptr) {
    std::fprintf(stderr, "runtime: cannot create the worker\n");
    return nullptr;
  }
  set_current_worker(w);
  /* The handler tables must exist before any predicate record is made. */
  wam_body(nullptr, nullptr, nullptr);
  if (init_atoms_once() != 1 || init_modules() != 1) {
    std::fprintf(stderr, "runtime: atom or module table start-up failed\n");
    return nullptr;
  }
  wam_body(w, nullptr, nullptr);
  init_operators();
  eglobal->current_double_quotes = MakeAtom(atom_codes_enum);
  install_standins();
  return w;
}
