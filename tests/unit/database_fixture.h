// A running worker, the atom table and the module table (prolog and user),
// for the predicate, module and blackboard tests, with small builders for
// the terms the built-ins take.  TearDown takes the database down before
// the worker, so every suite also passes when the whole binary runs in one
// process.
#ifndef TRELIX_TESTS_DATABASE_FIXTURE_H
#define TRELIX_TESTS_DATABASE_FIXTURE_H

#include <gtest/gtest.h>

#include <initializer_list>

#include "atoms.h"
#include "datadefs.h"
#include "initial_atoms.h"
#include "modules.h"
#include "predicates.h"
#include "sw_on_key.h"
#include "terms.h"
#include "worker_fixture.h"

struct DatabaseFixture : WorkerFixture {
  void SetUp() override
  {
    WorkerFixture::SetUp();
    ASSERT_EQ(init_atoms_once(), 1);
    ASSERT_EQ(init_modules(), 1);
  }
  void TearDown() override
  {
    deinit_modules();
    VR_prolog_initialized = 0;
    eglobal->current_prompt = 0;
    deinit_atoms();
    WorkerFixture::TearDown();
  }

  static TAGGED atom(const char *text) { return init_atom_check(text, 0); }
  static mod_def *module(const char *name) { return find_module(atom(name), 1); }

  TAGGED *heap(int words)
  {
    TAGGED *h = w->global_top;
    w->global_top += words;
    return h;
  }
  TAGGED structure(TAGGED name, std::initializer_list<TAGGED> args)
  {
    TAGGED *h = heap(1 + static_cast<int>(args.size()));
    h[0] = MakeFunctor(name, static_cast<unsigned>(args.size()));
    int i = 1;
    for (TAGGED a : args)
      h[i++] = a;
    return MakeSTR(h);
  }
  TAGGED spec(const char *name, int arity)
  {
    return structure(MakeAtom(atom_slash_enum), {atom(name), MakeSmall_checked(arity)});
  }
  TAGGED qualified(const char *module, TAGGED t)
  {
    return structure(MakeAtom(atom_colon_enum), {atom(module), t});
  }
  TAGGED list(std::initializer_list<TAGGED> items)
  {
    TAGGED result = atom_nil;
    TAGGED *last = &result;
    for (TAGGED t : items) {
      TAGGED *h = heap(2);
      h[0] = t;
      h[1] = atom_nil;
      *last = MakeLST(h);
      last = &h[1];
    }
    return result;
  }
  TAGGED var()
  {
    TAGGED *h = heap(1);
    *h = PointerToTerm(h);
    return *h;
  }
  int call(int (*fn)(worker *), std::initializer_list<TAGGED> args)
  {
    int i = 0;
    for (TAGGED a : args)
      w->term[i++] = a;
    return fn(w);
  }
};

#endif
