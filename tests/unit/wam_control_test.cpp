// The emulator's driver and control instructions, run on small programs
// built with the code builder: solutions and backtracking, cut in its
// forms, last-call space, the slow path of a call (events, soft limit),
// clean-up and undo entries of the trail, uncaught exceptions and the
// memory-fault restart.  Native built-ins record what ran, so each test
// checks the order of events rather than emulator internals.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "stack_growth.h"
#include "wam_fixture.h"

namespace {

struct WamControl : WamFixture {
  static std::string trace;  // one letter per recorded event

  void SetUp() override
  {
    WamFixture::SetUp();
    trace.clear();
  }

  template <char C> static int rec(worker *) { trace += C; return 1; }
  template <char C> definition *recorder()
  {
    std::string name = std::string("rec_") + C;
    return native(name.c_str(), 0, rec<C>);
  }
  // A clause whose body is one call of d.
  void execute_clause(definition *p, definition *d)
  {
    code_builder b;
    b.emit(EXECUTE, {cb::def(d)});
    clause(p, b);
  }
};
std::string WamControl::trace;

TEST_F(WamControl, ThreeClausesGiveThreeSolutionsThenFailure)
{
  definition *p = pred("p", 0);
  execute_clause(p, recorder<'1'>());
  execute_clause(p, recorder<'2'>());
  execute_clause(p, recorder<'3'>());
  EXPECT_EQ(run(p), 1);
  EXPECT_EQ(trace, "1");
  EXPECT_EQ(next(), 1);
  EXPECT_EQ(next(), 1);
  EXPECT_EQ(trace, "123");
  EXPECT_EQ(next(), 0) << "backtracking into termcode ends the query with 0";
  EXPECT_EQ(next(), 0) << "the query's choicepoint stays: asking again still fails";
  close_query();
}

// Cut variants; each program records letters, and the table gives the
// trace after all solutions have been asked for.
TEST_F(WamControl, CutTable)
{
  definition *a = recorder<'a'>(), *b_ = recorder<'b'>(), *c = recorder<'c'>(), *d = recorder<'d'>();
  definition *x = recorder<'x'>();
  definition *q = pred("q", 0);  // q :- a.  q :- b.
  execute_clause(q, a);
  execute_clause(q, b_);

  struct cut_case {
    const char *what;
    definition *p;
    const char *trace;
    int solutions;
  };
  std::vector<cut_case> cases;

  {  // p :- !, x.  p :- d.
    definition *p = pred("neck", 0);
    code_builder k;
    k.emit(CUTB);
    k.emit(EXECUTE, {cb::def(x)});
    clause(p, k);
    execute_clause(p, d);
    cases.push_back({"neck cut removes the later clauses", p, "x", 1});
  }
  {  // p :- q, !, x.  p :- d.   (cut to a Y value after a call)
    definition *p = pred("after_call", 0);
    code_builder k;
    k.emit(CHOICE_YF, {cb::y(0)});
    k.emit(FIRSTCALL, {cb::args(0, {}), cb::def(q), cb::env(1)});
    k.emit(CUT_Y, {cb::y(0)});
    k.emit(LASTCALL, {cb::args(0, {}), cb::def(x)});
    clause(p, k);
    execute_clause(p, d);
    cases.push_back({"cut after a call removes q's and p's alternatives", p, "ax", 1});
  }
  {  // p :- q, x.  p :- d.   (no cut: the reference for the case above)
    definition *p = pred("no_cut", 0);
    code_builder k;
    k.emit(INITCALL, {cb::args(0, {}), cb::def(q), cb::env(0)});
    k.emit(LASTCALL, {cb::args(0, {}), cb::def(x)});
    clause(p, k);
    execute_clause(p, d);
    cases.push_back({"without a cut every alternative runs", p, "axbxd", 3});
  }
  {  // p :- ( ! ; b ), c.  p :- d.   (cut inside an embedded choice block)
    definition *p = pred("disj", 0);
    code_builder k;
    cb_label alt1 = k.new_label(), alt2 = k.new_label(), head = k.new_label();
    k.emit(CHOICE_YF, {cb::y(0)});
    k.emit(FIRSTCALL, {cb::args(0, {}), cb::def(head), cb::env(1)});
    k.emit(LASTCALL, {cb::args(0, {}), cb::def(c)});
    k.choice_block(0, {alt1, alt2}, head);
    k.bind(alt1);
    k.emit(CUT_Y, {cb::y(0)});
    k.emit(PROCEED);
    k.bind(alt2);
    k.emit(EXECUTE, {cb::def(b_)});
    clause(p, k);
    execute_clause(p, d);
    cases.push_back({"cut in a disjunction cuts the clause", p, "c", 1});
  }
  {  // p :- ( true ; b ), c.  p :- d.
    definition *p = pred("disj_nocut", 0);
    code_builder k;
    cb_label alt1 = k.new_label(), alt2 = k.new_label(), head = k.new_label();
    k.emit(CHOICE_YF, {cb::y(0)});
    k.emit(FIRSTCALL, {cb::args(0, {}), cb::def(head), cb::env(1)});
    k.emit(LASTCALL, {cb::args(0, {}), cb::def(c)});
    k.choice_block(0, {alt1, alt2}, head);
    k.bind(alt1);
    k.emit(PROCEED);
    k.bind(alt2);
    k.emit(EXECUTE, {cb::def(b_)});
    clause(p, k);
    execute_clause(p, d);
    cases.push_back({"both disjuncts, then the next clause", p, "cbcd", 3});
  }
  {  // p :- X = cut value, q, cut to X, x.  p :- d.   (CHOICE_X / CUTB_X)
    definition *p = pred("cut_x", 0);
    code_builder k;
    k.emit(CHOICE_X, {cb::x(5)});
    k.emit(GET_FIRST, {cb::moves({{5, 0}})});
    k.emit(FIRSTCALL, {cb::args(0, {}), cb::def(q), cb::env(1)});
    k.emit(PUT, {cb::args(5, {cb::value(0)})});
    k.emit(CUTB_X, {cb::x(5)});
    k.emit(LASTCALL, {cb::args(0, {}), cb::def(x)});
    clause(p, k);
    execute_clause(p, d);
    cases.push_back({"cut to a register value", p, "ax", 1});
  }

  for (const cut_case &cc : cases) {
    trace.clear();
    int last = 99;
    int n = count_solutions(cc.p, {}, &last);
    EXPECT_EQ(trace, cc.trace) << cc.what;
    EXPECT_EQ(n, cc.solutions) << cc.what;
    EXPECT_EQ(last, 0) << cc.what;
  }
}

// loop :- more, !, loop.   loop.
// A million iterations must reuse the same environment space.
struct LoopState {
  static int left;
  static std::ptrdiff_t max_local;
  static int more(worker *w)
  {
    std::ptrdiff_t used = w->local_top - w->stack_start;
    if (used > max_local)
      max_local = used;
    return left-- > 0;
  }
};
int LoopState::left = 0;
std::ptrdiff_t LoopState::max_local = 0;

TEST_F(WamControl, LastCallLoopKeepsLocalStackBounded)
{
  definition *more = native("more", 0, LoopState::more);
  definition *loop = pred("loop", 0);
  code_builder k;
  k.emit(CHOICE_YF, {cb::y(0)});
  k.emit(FIRSTCALL, {cb::args(0, {}), cb::def(more), cb::env(1)});
  k.emit(CUT_Y, {cb::y(0)});
  k.emit(LASTCALL, {cb::args(0, {}), cb::def(loop)});
  clause(loop, k);
  code_builder stop;
  stop.emit(PROCEED);
  clause(loop, stop);

  LoopState::left = 1000000;
  LoopState::max_local = 0;
  TAGGED *choice_before = reinterpret_cast<TAGGED *>(w->node_);
  EXPECT_EQ(run(loop), 1);
  EXPECT_EQ(LoopState::left, -1) << "every iteration ran";
  EXPECT_LT(LoopState::max_local, 64) << "local stack words in use grew with the iterations";
  EXPECT_GT(reinterpret_cast<TAGGED *>(w->node_), choice_before - 64)
      << "choicepoints of the loop were not all cut";
  close_query();
}

// A call made with heap_warn_soft cleared and nothing pending passes the
// slow path once and restores the limit; with an event pending, user_event
// runs first and the interrupted call then runs with its arguments.
struct EventState {
  static int events;
  static TAGGED seen;
  static int request_event(worker *w)
  {
    w->int_heap_warn = nullptr;
    w->heap_warn_soft = nullptr;
    return 1;
  }
  static int request_slow(worker *w)
  {
    w->heap_warn_soft = nullptr;
    return 1;
  }
  // The heap looks full: the call is saved, the areas grow, and KONTINUE
  // restarts it.
  static int request_overflow(worker *w)
  {
    w->heap_warn = w->global_top;
    w->heap_warn_soft = nullptr;
    return 1;
  }
  static int user_event(worker *) { events++; return 1; }
  static int target(worker *w) { seen = deref(w->term[0]); return 1; }
};
int EventState::events = 0;
TAGGED EventState::seen = 0;

TEST_F(WamControl, SlowPathOfACallRunsEventsThenTheCall)
{
  preds.user_event = native("$user_event", 0, EventState::user_event, "prolog");
  definition *target = native("target", 1, EventState::target);
  definition *ask_event = native("ask_event", 0, EventState::request_event);
  definition *ask_slow = native("ask_slow", 0, EventState::request_slow);
  definition *ask_overflow = native("ask_overflow", 0, EventState::request_overflow);
  TAGGED arg = MakeSmall_checked(42);

  for (definition *ask : {ask_slow, ask_event, ask_overflow}) {
    // p(A) :- ask, target(A).
    definition *p = pred(ask == ask_slow ? "p_slow" : ask == ask_event ? "p_event" : "p_overflow", 1);
    code_builder k;
    k.emit(GET_FIRST, {cb::moves({{0, 0}})});
    k.emit(FIRSTCALL, {cb::args(0, {}), cb::def(ask), cb::env(1)});
    k.emit(LASTCALL, {cb::args(0, {cb::value(0)}), cb::def(target)});
    clause(p, k);
    EventState::events = 0;
    EventState::seen = 0;
    EXPECT_EQ(run(p, {arg}), 1);
    EXPECT_EQ(EventState::seen, arg) << "the interrupted call got its argument back";
    // (Growing the areas asks for the event path itself, so the overflow
    // case may run user_event too.)
    if (ask != ask_overflow) {
      EXPECT_EQ(EventState::events, ask == ask_event ? 1 : 0);
    }
    EXPECT_EQ(w->heap_warn_soft, w->heap_warn) << "the slow path restores the soft limit";
    EXPECT_LT(w->global_top, w->heap_warn) << "the heap has room again";
    EXPECT_EQ(w->int_heap_warn, w->heap_warn);
    close_query();
  }
}

// Backtracking undoes the trail: bindings, mutable updates, and clean-up
// records (a flag other than 0, unbound included, runs the goal through
// call_cleanup and backtracking then goes on; flag 0, also when reached
// through a bound variable, is dropped).
struct TrailState {
  static TAGGED *cell;
  static TAGGED *mut;
  static TAGGED flag;
  static std::vector<TAGGED> cleanups;
  static int push_entries(worker *w)
  {
    // A binding of an old cell, a mutable update, a clean-up record.
    *cell = MakeSmall_checked(7);
    *w->trail_top++ = PointerToTerm(cell);
    w->trail_top[0] = MakeSTR(mut);
    w->trail_top[1] = mut[1];
    w->trail_top[2] = mut[2];
    w->trail_top += 3;
    mut[1] = MakeSmall_checked(2);
    mut[2] = MakeSmall_checked(99);
    TAGGED *rec = w->global_top;
    w->global_top += 2;
    rec[0] = flag;
    rec[1] = MakeAtom(atom_true_enum);
    *w->trail_top++ = MakeLST(rec);
    return 1;
  }
  static int call_cleanup(worker *w)
  {
    cleanups.push_back(deref(w->term[0]));
    return 1;
  }
};
TAGGED *TrailState::cell = nullptr;
TAGGED *TrailState::mut = nullptr;
TAGGED TrailState::flag = 0;
std::vector<TAGGED> TrailState::cleanups;

TEST_F(WamControl, BacktrackingUndoesTrailEntries)
{
  preds.call_cleanup = native("call_cleanup", 1, TrailState::call_cleanup, "prolog");
  definition *push = native("push_entries", 0, TrailState::push_entries);
  definition *p = pred("p", 0);  // p :- push_entries, fail.
  code_builder k;
  k.emit(INITCALL, {cb::args(0, {}), cb::def(push), cb::env(0)});
  k.emit(LASTCALL, {cb::args(0, {}), cb::def(preds.fail)});
  clause(p, k);

  enum flag_kind { ONE, ZERO, UNBOUND, ZERO_THROUGH_VARIABLE };
  for (flag_kind kind : {ONE, ZERO, UNBOUND, ZERO_THROUGH_VARIABLE}) {
    TrailState::cleanups.clear();
    TAGGED *v = heap(1);
    *v = kind == UNBOUND ? PointerToTerm(v) : MakeSmall_checked(kind == ONE ? 1 : 0);
    TrailState::flag = kind == ONE || kind == ZERO ? *v : PointerToTerm(v);
    const bool runs = kind == ONE || kind == UNBOUND;
    TrailState::cell = heap(1);
    *TrailState::cell = PointerToTerm(TrailState::cell);
    TrailState::mut = heap(3);
    TrailState::mut[0] = functor_Dmutable;
    TrailState::mut[1] = MakeSmall_checked(1);
    TrailState::mut[2] = MakeSmall_checked(0);
    TAGGED *trail_before = w->trail_top;
    EXPECT_EQ(run(p), 0);
    EXPECT_EQ(*TrailState::cell, PointerToTerm(TrailState::cell)) << "binding undone";
    EXPECT_EQ(TrailState::mut[1], MakeSmall_checked(1)) << "mutable value restored";
    EXPECT_EQ(TrailState::mut[2], MakeSmall_checked(0)) << "mutable stamp restored";
    EXPECT_EQ(w->trail_top, trail_before);
    if (!runs)
      EXPECT_TRUE(TrailState::cleanups.empty()) << "a clean-up whose flag is 0 has run already (case " << kind << ")";
    else
      EXPECT_EQ(TrailState::cleanups, std::vector<TAGGED>{MakeAtom(atom_true_enum)}) << "case " << kind;
    close_query();
  }
}

struct RaiseState {
  static TAGGED ball;
  static int thrower(worker *)
  {
    raise_exception(ball);
    return 0;
  }
  static int fault(worker *) { do_memory_fault("test", MM_BIN_MISC); }
};
TAGGED RaiseState::ball = 0;

TEST_F(WamControl, UncaughtExceptionEndsQueryWithMinusOne)
{
  RaiseState::ball = atom("ball");
  definition *thrower = native("thrower", 0, RaiseState::thrower);
  definition *p = pred("p", 0);  // p :- thrower.  p :- x.  (x must not run)
  execute_clause(p, thrower);
  execute_clause(p, recorder<'x'>());
  node *before = w->node_;
  EXPECT_EQ(run(p), -1);
  EXPECT_EQ(stored_exception, RaiseState::ball);
  EXPECT_EQ(trace, "") << "the clause after the raise must not run";
  EXPECT_EQ(w->node_, before) << "excpcode pops the query's choicepoint";
  close_query();
}

TEST_F(WamControl, MemoryFaultRestartsAtUnwinding)
{
  eglobal->memory_fault_exception = atom("memory_fault_marker");
  definition *fault = native("fault", 0, RaiseState::fault);
  definition *p = pred("p", 0);  // p :- fault.  p :- x.
  execute_clause(p, fault);
  execute_clause(p, recorder<'x'>());
  std::jmp_buf *outer = do_wam_env;
  EXPECT_EQ(run(p), -1);
  EXPECT_EQ(eglobal->exception, eglobal->memory_fault_exception);
  EXPECT_EQ(trace, "");
  EXPECT_EQ(do_wam_env, outer) << "the restart point is removed when the query ends";
  eglobal->memory_fault_exception = 0;
  close_query();
}

}  // namespace

namespace {

// A query that fails while an event is pending: the event runs before the
// query returns, and the result is still failure (the detour through
// true/0 must not return into the query's success continuation).
TEST_F(WamControl, PendingEventAtFailureExitKeepsResultZero)
{
  preds.user_event = native("$user_event", 0, EventState::user_event, "prolog");
  // Asks for the event and fails at once, so backtracking reaches the
  // query's termcode with the soft limit still cleared.
  definition *p = native("ask_event_fail", 0, [](worker *w) { EventState::request_event(w); return 0; });
  EventState::events = 0;
  // As in a nested query: the continuation saved in the query's
  // choicepoint is an outer query's success exit.
  w->next_insn = exitcode;
  EXPECT_EQ(run(p), 0) << "failure reported as something else";
  EXPECT_EQ(EventState::events, 1) << "the pending event ran before the query returned";
  EXPECT_EQ(w->int_heap_warn, w->heap_warn);
  close_query();
}

}  // namespace
