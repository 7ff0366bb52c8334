// A running emulator for tests that execute bytecode: memory manager, atom
// table, modules, canned code, the published handler tables and a worker,
// plus stand-ins for the escape predicates of `preds` that the emulator
// enters by itself (true/0, fail/0, $unwind_stack/0, raise_exception/1 and
// its try node).  Test programs are built with the code builder and
// installed with insert_compactcode; queries are opened the way the
// embedding interface opens them: a choicepoint whose alternative is
// termcode saving the argument registers, continuation exitcode, then
// do_wam with message 3; next solutions with message 0.
//
// TearDown removes the hooks the emulator installs, so suites that expect a
// kernel without an emulator still pass when the whole binary runs in one
// process.
#ifndef TRELIX_TESTS_WAM_FIXTURE_H
#define TRELIX_TESTS_WAM_FIXTURE_H

#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

#include "code_builder.h"
#include "database_fixture.h"
#include "errors.h"
#include "memman.h"
#include "indexing.h"
#include "preds.h"
#include "query.h"
#include "terms.h"
#include "wam.h"
#include "wamsup.h"

struct WamFixture : DatabaseFixture {
  query open_query;              // the query run() opened
  TAGGED stored_exception = 0;  // what the stand-in $store_exception/1 received

  static WamFixture *current;

  void SetUp() override
  {
    // The handler tables must exist before any predicate record is made:
    // set_enter_instr copies pred_tab[kind] into the record.
    wam_body(nullptr, nullptr, nullptr);
    DatabaseFixture::SetUp();
    wam_body(w, nullptr, nullptr);
    current = this;
    install_standins();
  }

  void TearDown() override
  {
    current = nullptr;
    vr_push_error_choicepoint = nullptr;
    for (try_node *t : retry_blocks)
      checkdealloc(t, RETRY_BLOCK_SIZE, mm_code(MM_BIN_MISC));
    retry_blocks.clear();
    eglobal->exception = 0;
    DatabaseFixture::TearDown();
  }

  // ---- Predicates ----

  definition *pred(const char *name, int arity, int type = ENTER_COMPACTCODE, const char *mod = "user")
  {
    definition *d = insert_definition(module(mod), atom(name), arity, 1);
    if (type != ENTER_UNDEFINED)
      redefine_predicate(d, type);
    return d;
  }
  // A native built-in (ENTER_C).
  definition *native(const char *name, int arity, int (*fn)(worker *), const char *mod = "user")
  {
    definition *d = pred(name, arity, ENTER_C, mod);
    d->proc.code.cinfo = fn;
    return d;
  }
  // Appends a clause; ix IX_CASES with key 0 is a clause that fits any
  // first argument.
  emul_info *clause(definition *d, const code_builder &b, unsigned ix = IX_CASES, TAGGED key = 0)
  {
    emul_info *c = b.finish(failcode, ix);
    insert_compactcode(d, c, static_cast<int>(ix), key);
    return c;
  }
  // A fact p(K) with a constant first argument (indexed on K).
  emul_info *fact(definition *d, TAGGED k)
  {
    code_builder b;
    b.emit(GET_CONSTANT_X0, {cb::t(k)});
    b.emit(PROCEED);
    return clause(d, b, 0x17, k);
  }

  // ---- Queries ----

  void set_args(std::initializer_list<TAGGED> args)
  {
    int i = 0;
    for (TAGGED a : args)
      w->term[i++] = a;
  }
  // Opens a query of d with the given arguments; returns the first result
  // (1 success, 0 failure, -1 uncaught exception).
  int run(definition *d, std::initializer_list<TAGGED> args = {})
  {
    // Registers beyond d's arity are set too: some tests pass values that
    // the called code reads without declaring them.
    set_args(args);
    std::vector<TAGGED> a(args);
    a.resize(256);
    return query_open(w, &open_query, d, a.data());
  }
  int next() { return query_next(w, &open_query); }
  // Drops what is left of the query's choicepoints.
  void close_query() { query_close(w, &open_query); }
  // Counts the solutions of a query, at most `limit`; last is the result
  // that ended it.
  int count_solutions(definition *d, std::initializer_list<TAGGED> args, int *last = nullptr, int limit = 1000)
  {
    int n = 0;
    int r = run(d, args);
    while (r == 1 && n < limit) {
      n++;
      r = next();
    }
    if (last != nullptr)
      *last = r;
    close_query();
    return n;
  }

  TAGGED x(int i) const { return deref(w->term[i]); }

  // ---- Escape stand-ins ----

  definition *store_exception = nullptr;

  static int standin_store_exception(worker *w)
  {
    current->stored_exception = deref(w->term[0]);
    eglobal->exception = current->stored_exception;
    return 1;
  }

  // raise_exception(E) :- '$store_exception'(E), '$unwind_stack'.
  void install_standins()
  {
    preds.true0 = pred("true", 0, BUILTIN_TRUE, "prolog");
    preds.fail = pred("fail", 0, BUILTIN_FAIL, "prolog");
    preds.unwind_stack = pred("$unwind_stack", 0, BUILTIN_UNWIND_STACK, "prolog");
    // Stack growth asks for the event path; with no event queue yet there
    // is nothing to run, so the stand-in simply succeeds.
    preds.user_event = pred("$user_event", 0, BUILTIN_TRUE, "prolog");
    store_exception = native("$store_exception", 1, standin_store_exception, "prolog");
    preds.raise_excp = pred("raise_exception", 1, ENTER_COMPACTCODE, "prolog");
    code_builder b;
    b.emit(INITCALL, {cb::args(0, {}), cb::def(store_exception), cb::env(0)});
    b.emit(LASTCALL, {cb::args(0, {}), cb::def(preds.unwind_stack)});
    clause(preds.raise_excp, b);
    preds.nd_raise_excp = def_retry_prolog(preds.raise_excp, 1);
    retry_blocks.push_back(preds.nd_raise_excp);
  }

  std::vector<try_node *> retry_blocks;  // freed in TearDown
};

inline WamFixture *WamFixture::current = nullptr;

#endif
