// Suspension, resumption and wake-up, run on small programs: goals woken by
// a binding run before the next call; an instruction that finds work
// pending saves exactly its live registers and is resumed where it stood;
// a woken goal that leaves a choicepoint is resumed again on backtracking,
// also from a later emulator activation; the environment under
// construction survives a suspension before the clause's first call; a
// large heap pad grows the heap before resuming; block declarations.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "meta_decls.h"
#include "suspend_fixture.h"

namespace {

struct Suspend : SuspendFixture {
  static TAGGED cva;                 // the constrained variable natives bind
  static std::vector<TAGGED> seen;   // what t1/t2/target received
  static int saved_registers;        // n of the suspension, seen by the woken goal
  static TAGGED resume_low;          // X3 of $resume: R & 7

  static int bind_cva(worker *w)
  {
    bind(w, cva, MakeSmall_checked(1));
    return 1;
  }
  static int see1(worker *w) { seen.push_back(deref(w->term[0])); return 1; }
  static int see3(worker *w)
  {
    for (int i = 0; i < 3; i++)
      seen.push_back(deref(w->term[i]));
    return 1;
  }
  // The woken call: its continuation is $resume's KONTINUE, and the frame
  // it returns into holds $resume's seven arguments.
  template <char C> static int woken(worker *w)
  {
    saved_registers = GetSmall(w->frame_->term[1]);
    resume_low = w->frame_->term[3];
    trace += C;
    return 1;
  }

  void SetUp() override
  {
    SuspendFixture::SetUp();
    seen.clear();
    saved_registers = -1;
    resume_low = 0;
    cva = frozen_var(atom("g"), pred("g", 0));
  }

  // call_goals(_) :- woken1.   call_goals(_) :- woken2.
  void two_clause_call_goals()
  {
    preds.call_goals = pred("call_goals2", 1, ENTER_COMPACTCODE, "prolog");
    for (definition *d : {native("woken1", 0, woken<'1'>), native("woken2", 0, woken<'2'>)}) {
      code_builder b;
      b.emit(EXECUTE, {cb::def(d)});
      clause(preds.call_goals, b);
    }
  }
};
TAGGED Suspend::cva = 0;
std::vector<TAGGED> Suspend::seen;
int Suspend::saved_registers = -1;
TAGGED Suspend::resume_low = 0;

// Backtracking reached through a new emulator activation whose frame lies
// elsewhere on the native stack; the old frame's bytes are overwritten.
__attribute__((noinline)) int next_from_deeper_stack(WamFixture *f)
{
  volatile unsigned char pad[1 << 16];
  std::memset(const_cast<unsigned char *>(pad), 0xFF, sizeof pad);
  int r = f->next();
  return r + pad[0] - 0xFF;
}

TEST_F(Suspend, WokenGoalRunsBeforeTheNextCall)
{
  // p :- bind_cva, mark_a.
  definition *p = pred("p", 0);
  code_builder k;
  k.emit(INITCALL, {cb::args(0, {}), cb::def(native("bind_cva", 0, bind_cva)), cb::env(0)});
  k.emit(LASTCALL, {cb::args(0, {}), cb::def(marker<'a'>())});
  clause(p, k);
  TAGGED *cell = TagToRef(cva);
  EXPECT_EQ(run(p), 1);
  EXPECT_EQ(trace, "Ga") << "the suspended goals must run before the call that follows the binding";
  ASSERT_EQ(escapes.size(), 1u);
  std::vector<TAGGED> goals;
  for (TAGGED l = escapes[0].args[0]; IsList(l); l = deref(TagToLST(l)[1]))
    goals.push_back(deref(TagToLST(l)[0]));
  ASSERT_EQ(goals.size(), 1u) << "call_goals/1 receives the variable's goal list";
  EXPECT_EQ(TagToSTR(goals[0])[0], MakeFunctor(atom("$apply"), 3));
  EXPECT_EQ(deref(TagToSTR(goals[0])[1]), atom("g"));
  EXPECT_EQ(deref(TagToSTR(goals[0])[2]), atom("user")) << "the module of the goal's predicate";
  EXPECT_EQ(*cell, MakeSmall_checked(1)) << "the binding stays when there are no attributes";
  EXPECT_EQ(w->wake_count, 0u);
  close_query();
}

// p(A, B, C) :- A = 1, !, target(A, B, C).  Binding A (constrained) in the
// head leaves the wake-up pending at the cut, which suspends with the
// three registers that EXECUTE reads and is executed again afterwards.
TEST_F(Suspend, CutSuspendsWithItsLiveRegistersAndRunsAgain)
{
  preds.call_goals = native("woken", 1, woken<'G'>, "prolog");
  definition *target = native("target", 3, see3);
  definition *p = pred("p", 3);
  code_builder k;
  k.emit(GET_CONSTANT_X0, {cb::t(MakeSmall_checked(1))});
  k.emit(CUTB);
  k.emit(EXECUTE, {cb::def(target)});
  clause(p, k);
  code_builder other;  // p(_, _, _) :- mark_x.  (must be cut away)
  other.emit(EXECUTE, {cb::def(marker<'x'>())});
  clause(p, other);
  TAGGED *local_before = w->local_top;
  EXPECT_EQ(run(p, {cva, atom("b"), atom("c"), atom("junk3"), atom("junk4")}), 1);
  EXPECT_EQ(trace, "G");
  EXPECT_EQ(saved_registers, 3) << "only the registers the code at the cut reads are saved";
  EXPECT_EQ(GetSmall(resume_low) & 1, 0) << "no environment under construction here";
  EXPECT_EQ(seen, (std::vector<TAGGED>{MakeSmall_checked(1), atom("b"), atom("c")}))
      << "the registers come back as they were";
  EXPECT_EQ(next(), 0) << "the cut ran after resumption: the second clause is gone";
  EXPECT_EQ(trace, "G");
  EXPECT_EQ(w->local_top, local_before);
  close_query();
}

// p(L) :- bind_cva, L = [[]].  The list is built in write mode and its
// last word is UNIFY_NIL_PROGRESS, which resumes at a PROGRESS of the
// activation's own: after the woken goal leaves a choicepoint, the query
// returns, and backtracking (through a new activation, from elsewhere on
// the native stack) runs the woken goal's second clause and resumes again.
TEST_F(Suspend, WokenGoalWithAChoicepointIsResumedAgainOnBacktracking)
{
  two_clause_call_goals();
  definition *p = pred("p", 1);
  code_builder k;
  k.emit(GET_FIRST, {cb::moves({{0, 0}})});
  k.emit(FIRSTCALL, {cb::args(0, {}), cb::def(native("bind_cva", 0, bind_cva)), cb::env(1)});
  k.emit(PUT, {cb::args(1, {cb::value(0)})});
  k.emit(GET_LIST, {cb::x(1)});
  k.emit(UNIFY_NIL);
  k.emit(UNIFY_NIL_PROGRESS);
  clause(p, k);
  TAGGED l = var();
  auto is_nil_list = [&] {
    TAGGED t = deref(l);
    return IsList(t) && deref(TagToLST(t)[0]) == atom_nil && deref(TagToLST(t)[1]) == atom_nil;
  };
  EXPECT_EQ(run(p, {l}), 1);
  EXPECT_EQ(trace, "1");
  EXPECT_TRUE(is_nil_list()) << "L = [[]] after the first resumption";
  EXPECT_EQ(next_from_deeper_stack(this), 1) << "backtracking into the woken goal resumes p again";
  EXPECT_EQ(trace, "12");
  EXPECT_TRUE(is_nil_list());
  EXPECT_EQ(next(), 0);
  close_query();
}

// p(A, B) :- A = 1, CHECK_HEAP, t1(B), t2(B).  B lives in the environment
// allocated by GET_FIRST but not yet linked when CHECK_HEAP suspends: the
// suspension links it (odd resume address), and resumption puts B back at
// the local top, also when the woken goal's choicepoint keeps the linked
// copy where it is, and again after backtracking into that goal.
TEST_F(Suspend, EnvironmentUnderConstructionSurvivesSuspension)
{
  two_clause_call_goals();
  definition *p = pred("p", 2);
  code_builder k;
  k.emit(GET_FIRST, {cb::moves({{1, 0}})});
  k.emit(GET_CONSTANT_X0, {cb::t(MakeSmall_checked(1))});
  k.emit(CHECK_HEAP, {cb::l(64)});
  k.emit(FIRSTCALL, {cb::args(0, {cb::value(0)}), cb::def(native("t1", 1, see1)), cb::env(1)});
  k.emit(LASTCALL, {cb::args(0, {cb::value(0)}), cb::def(native("t2", 1, see1))});
  clause(p, k);
  TAGGED b = atom("b");
  EXPECT_EQ(run(p, {cva, b}), 1);
  EXPECT_EQ(trace, "1");
  EXPECT_EQ(GetSmall(resume_low) & 1, 1) << "the environment under construction was linked";
  EXPECT_EQ(seen, (std::vector<TAGGED>{b, b})) << "the clause's Y variable was lost across the suspension";
  seen.clear();
  EXPECT_EQ(next(), 1);
  EXPECT_EQ(trace, "12");
  EXPECT_EQ(seen, (std::vector<TAGGED>{b, b})) << "second resumption after backtracking";
  EXPECT_EQ(next(), 0);
  close_query();
}

// A CHECK_HEAP asking for more heap than there is suspends with that pad;
// $resume grows the heap (moving the stacks, the suspension frame with
// them) before anything is restored, and continues after CHECK_HEAP.
TEST_F(Suspend, LargePadGrowsTheHeapBeforeResuming)
{
  const int words = 300000;
  definition *p = pred("p", 1);
  code_builder k;
  k.emit(GET_FIRST, {cb::moves({{0, 0}})});
  k.emit(CHECK_HEAP, {cb::l(words)});
  k.emit(FIRSTCALL, {cb::args(0, {cb::value(0)}), cb::def(native("t1", 1, see1)), cb::env(1)});
  k.emit(LASTCALL, {cb::args(0, {cb::value(0)}), cb::def(native("t2", 1, see1))});
  clause(p, k);
  ASSERT_LT(w->stack_start - w->global_top, words) << "the test needs a heap smaller than the pad";
  TAGGED b = structure(atom("f"), {atom("x")});
  EXPECT_EQ(run(p, {b}), 1);
  EXPECT_GE(w->stack_start - w->global_top, words) << "the heap was not grown to the pad";
  ASSERT_EQ(seen.size(), 2u);
  for (TAGGED t : seen) {
    ASSERT_TRUE(IsStructure(t));
    EXPECT_EQ(deref(TagToSTR(t)[1]), atom("x")) << "the Y variable must survive the move";
  }
  close_query();
}

// ---- Block declarations ----

struct Blocked : SuspendFixture {
  static int runs;
  static int body(worker *) { runs++; return 1; }
  // p/3, whose body counts its runs, with the given block declarations.
  definition *declare(std::initializer_list<TAGGED> specs)
  {
    definition *p = native("p", 3, body);
    for (TAGGED s : specs) {
      w->term[0] = s;
      EXPECT_EQ(prolog_block(w), 1);
    }
    return p;
  }
};
int Blocked::runs = 0;

TEST_F(Blocked, FirstMatchingDeclarationSuspendsTheCall)
{
  TAGGED minus = atom("-"), q = atom("?");
  // Declared p(?, ?, -) first and p(-, -, ?) second: the list is newest
  // first, so a call is checked against p(-, -, ?) and then p(?, ?, -).
  definition *p = declare({structure(atom("p"), {q, q, minus}), structure(atom("p"), {minus, minus, q})});
  ASSERT_EQ(p->proc.enter_instr, BLOCKPOINT);
  // caller(A, B, C) :- p(A, B, C).
  definition *caller_ = pred("caller", 3);
  code_builder k;
  k.emit(EXECUTE, {cb::def(p)});
  clause(caller_, k);

  struct block_case {
    const char *why;
    bool bound[3];
    std::vector<int> suspended_on;  // argument positions carrying the goal
  };
  const block_case cases[] = {
      {"all unbound: the first declaration takes arguments 1 and 2", {false, false, false}, {1, 2}},
      {"argument 1 bound: the second declaration blocks on 3", {true, false, false}, {3}},
      {"1 and 2 bound, 3 unbound", {true, true, false}, {3}},
      {"only argument 3 bound: the first declaration holds", {false, false, true}, {1, 2}},
      {"everything bound: the call runs", {true, true, true}, {}},
  };
  for (const block_case &c : cases) {
    runs = 0;
    TAGGED args[3];
    for (int i = 0; i < 3; i++)
      args[i] = c.bound[i] ? MakeSmall_checked(i) : var();
    EXPECT_EQ(run(caller_, {args[0], args[1], args[2]}), 1) << c.why;
    EXPECT_EQ(runs, c.suspended_on.empty() ? 1 : 0) << c.why;
    TAGGED shared = 0;
    for (int pos : c.suspended_on) {
      std::vector<TAGGED> goals = goals_of(args[pos - 1]);
      ASSERT_EQ(goals.size(), 1u) << c.why << ": argument " << pos;
      if (shared == 0)
        shared = goals[0];
      EXPECT_EQ(goals[0], shared) << c.why << ": one wrapped goal on every listed variable, so it wakes once";
      TAGGED goal = deref(TagToSTR(goals[0])[1]);
      ASSERT_TRUE(IsStructure(goal));
      EXPECT_EQ(TagToSTR(goal)[0], MakeFunctor(atom("p"), 3)) << c.why;
    }
    for (int i = 0; i < 3; i++) {
      if (std::find(c.suspended_on.begin(), c.suspended_on.end(), i + 1) == c.suspended_on.end() && !c.bound[i]) {
        EXPECT_TRUE(goals_of(args[i]).empty()) << c.why << ": nothing on argument " << i + 1;
      }
    }
    close_query();
  }
}

TEST_F(Blocked, DeclarationWithoutArgumentsSuspendsEveryCallForGood)
{
  runs = 0;
  definition *p0 = native("p0", 0, body);
  w->term[0] = atom("p0");
  ASSERT_EQ(prolog_block(w), 1);
  TAGGED *h = w->global_top;
  EXPECT_EQ(run(p0), 1) << "a blocked call counts as succeeded";
  EXPECT_EQ(runs, 0);
  bool found = false;
  for (TAGGED *c = h; c + 3 < w->global_top; c++)
    if (c[0] == CVA_MARKER && c[1] == PointerToTerm(c + 1))
      found = true;
  EXPECT_TRUE(found) << "the goal waits on a fresh constrained variable";
  close_query();
}

// $nodebug_call of a predicate with block declarations still checks them;
// an unblocked one runs with its arguments; a missing module is not made.
TEST_F(Blocked, NodebugCallChecksBlockDeclarations)
{
  TAGGED minus = atom("-"), q = atom("?");
  definition *p = declare({structure(atom("p"), {minus, q, q})});
  (void)p;
  runs = 0;
  TAGGED x = var();
  EXPECT_EQ(run(preds.call, {structure(atom("p"), {x, atom("a"), atom("b")}), atom("user"), MakeSmall_checked(0)}), 1);
  EXPECT_EQ(runs, 0);
  EXPECT_EQ(goals_of(x).size(), 1u);
  close_query();
  EXPECT_EQ(run(preds.call, {structure(atom("p"), {atom("z"), atom("a"), atom("b")}), atom("user"), MakeSmall_checked(0)}), 1);
  EXPECT_EQ(runs, 1);
  close_query();
  EXPECT_EQ(run(preds.call, {atom("g"), atom("no_such_module"), MakeSmall_checked(0)}), 1);
  EXPECT_EQ(trace, "D") << "a goal of a missing module goes to undefined_goal/3";
  EXPECT_EQ(find_module(atom("no_such_module"), 0), nullptr) << "$nodebug_call must not create modules";
  close_query();
}

// Calls in a module check block declarations as the predicate's own
// entry does: call_module/3, ':'/2 and $nodebug_call/3, for a predicate
// with declarations and for one that is spied as well (BREAKPOINT keeps
// the declarations), with the debugger off.
TEST_F(Blocked, CallsInAModuleCheckBlockDeclarations)
{
  TAGGED minus = atom("-"), q = atom("?");
  definition *p = declare({structure(atom("p"), {minus, q, q})});
  definition *call_module = pred("call_module", 3, BUILTIN_CALL_MODULE, "prolog");
  definition *colon = pred(":", 2, BUILTIN_COLON, "prolog");
  struct via {
    const char *name;
    definition *d;
    bool colon_first;
  };
  const via vias[] = {{"call_module/3", call_module, false}, {":/2", colon, true}, {"$nodebug_call/3", preds.call, false}};
  for (unsigned kind : {static_cast<unsigned>(BLOCKPOINT), static_cast<unsigned>(BREAKPOINT)}) {
    p->proc.enter_instr = static_cast<decltype(p->proc.enter_instr)>(kind);
    const char *kind_name = kind == BLOCKPOINT ? "blocked" : "blocked and spied";
    for (const via &v : vias) {
      runs = 0;
      TAGGED x = var();
      TAGGED goal = structure(atom("p"), {x, atom("a"), atom("b")});
      if (v.colon_first)
        EXPECT_EQ(run(v.d, {atom("user"), goal}), 1) << v.name << ", " << kind_name;
      else
        EXPECT_EQ(run(v.d, {goal, atom("user"), MakeSmall_checked(0)}), 1) << v.name << ", " << kind_name;
      EXPECT_EQ(runs, 0) << v.name << ", " << kind_name << ": an unbound first argument suspends the call";
      EXPECT_EQ(goals_of(x).size(), 1u) << v.name << ", " << kind_name;
      close_query();
      goal = structure(atom("p"), {atom("z"), atom("a"), atom("b")});
      if (v.colon_first)
        EXPECT_EQ(run(v.d, {atom("user"), goal}), 1) << v.name << ", " << kind_name;
      else
        EXPECT_EQ(run(v.d, {goal, atom("user"), MakeSmall_checked(0)}), 1) << v.name << ", " << kind_name;
      EXPECT_EQ(runs, 1) << v.name << ", " << kind_name << ": a bound first argument runs the predicate";
      close_query();
    }
  }
  p->proc.enter_instr = BLOCKPOINT;
}

}  // namespace
