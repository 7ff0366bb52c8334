// Predicate entry kinds: the first-argument switch of indexed predicates
// (keys, defaults, variables, lists, structures, and the mode alternatives
// start in after backtracking), the escapes that receive the goal as a term
// (undefined predicates, with local variables moved to the heap), calls in
// a module through ':'/2, and the interpreted-clause path.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dynamic_clauses.h"
#include "instance.h"
#include "memman.h"
#include "wam_fixture.h"

namespace {

struct WamEntry : WamFixture {
  static std::string trace;

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
};
std::string WamEntry::trace;

// p(a) :- r1.  p(b) :- r2.  p(_) :- r3.  p([_|_]) :- r4.  p(f(_)) :- r5.
TEST_F(WamEntry, FirstArgumentSwitchSelectsClauses)
{
  definition *p = pred("p", 1);
  TAGGED f1 = MakeFunctor(atom("f"), 1);
  {
    code_builder b;
    b.emit(GET_CONSTANT_X0, {cb::t(atom("a"))});
    b.emit(EXECUTE, {cb::def(recorder<'1'>())});
    clause(p, b, 0x17, atom("a"));
  }
  {
    code_builder b;
    b.emit(GET_CONSTANT_X0, {cb::t(atom("b"))});
    b.emit(EXECUTE, {cb::def(recorder<'2'>())});
    clause(p, b, 0x17, atom("b"));
  }
  {
    code_builder b;
    b.emit(EXECUTE, {cb::def(recorder<'3'>())});
    clause(p, b);
  }
  {
    code_builder b;
    b.emit(GET_LIST_X0);
    b.emit(EXECUTE, {cb::def(recorder<'4'>())});
    clause(p, b, 0x09, functor_list);
  }
  {
    code_builder b;
    b.emit(GET_STRUCTURE_X0, {cb::f(f1)});
    b.emit(EXECUTE, {cb::def(recorder<'5'>())});
    clause(p, b, 0x17, f1);
  }
  ASSERT_EQ(p->proc.enter_instr, ENTER_COMPACTCODE_INDEXED);

  TAGGED bound = var();
  *TagToRef(bound) = atom("b");
  struct switch_case {
    const char *what;
    TAGGED arg;
    const char *trace;
  };
  const switch_case cases[] = {
      {"a key no clause has reaches the default chain", atom("c"), "3"},
      {"a key selects its clauses and the variable clause", atom("a"), "13"},
      {"a reference to a bound term is followed", bound, "23"},
      {"a list cell selects the list clauses", list({atom("x")}), "34"},
      {"a structure selects by its functor", structure(atom("f"), {MakeSmall_checked(1)}), "35"},
      {"a structure of another functor gets the default", structure(atom("g"), {MakeSmall_checked(1)}), "3"},
      {"an unbound argument runs every clause, each test in write mode", var(), "12345"},
  };
  for (const switch_case &c : cases) {
    trace.clear();
    int last = 99;
    count_solutions(p, {c.arg}, &last);
    EXPECT_EQ(trace, c.trace) << c.what;
    EXPECT_EQ(last, 0) << c.what;
  }
}

struct UndefState {
  static TAGGED goal, module, caller;
  static int undefined_goal(worker *w)
  {
    goal = deref(w->term[0]);
    module = deref(w->term[1]);
    caller = w->term[2];
    return 1;
  }
};
TAGGED UndefState::goal = 0, UndefState::module = 0, UndefState::caller = 0;

// p :- u(1, Y), with Y a new variable of p's environment.
TEST_F(WamEntry, UndefinedPredicateGetsGoalWithLocalVariableMovedToHeap)
{
  preds.undefined_goal = native("undefined_goal", 3, UndefState::undefined_goal, "prolog");
  definition *u = pred("u", 2, ENTER_UNDEFINED);
  definition *p = pred("p", 0);
  code_builder k;
  k.emit(INITCALL, {cb::args(1, {cb::fresh(0)}), cb::def(u), cb::env(1)});
  k.emit(PROGRESS);
  clause(p, k);
  // X0 is set by the query; the call's list loads X1 only.
  ASSERT_EQ(run(p, {MakeSmall_checked(1)}), 1);
  ASSERT_TRUE(IsStructure(UndefState::goal));
  TAGGED *g = TagToSTR(UndefState::goal);
  EXPECT_EQ(g[0], MakeFunctor(atom("u"), 2));
  EXPECT_EQ(g[1], MakeSmall_checked(1));
  EXPECT_TRUE(IsVar(g[2]) && *TagToRef(g[2]) == g[2]) << "the goal's argument is a fresh unbound heap variable";
  EXPECT_LT(TagToRef(g[2]), w->stack_start) << "it lies on the heap, not in the environment";
  EXPECT_EQ(UndefState::module, atom("user"));
  EXPECT_TRUE(IsSmall(UndefState::caller)) << "the caller is passed as a small integer";
  close_query();
}

// Without a handler for undefined calls, calling an undefined predicate
// would enter the handler's own undefined entry for ever.
TEST_F(WamEntry, UndefinedCallWithoutItsHandlerIsAFatalFault)
{
  preds.undefined_goal = pred("undefined_goal", 3, ENTER_UNDEFINED, "prolog");
  definition *u = pred("u", 2, ENTER_UNDEFINED);
  EXPECT_EXIT(run(u, {MakeSmall_checked(1), MakeSmall_checked(2)}), ::testing::ExitedWithCode(255),
              "prolog:undefined_goal/3 is not defined \\(called for user:u/2\\)");
}

struct ColonState {
  static std::vector<TAGGED> seen;
  static int target(worker *w)
  {
    seen.push_back(deref(w->term[0]));
    return 1;
  }
};
std::vector<TAGGED> ColonState::seen;

TEST_F(WamEntry, ColonCallsInModuleOrReportsUndefined)
{
  preds.undefined_goal = native("undefined_goal", 3, UndefState::undefined_goal, "prolog");
  definition *colon = pred(":", 2, BUILTIN_COLON, "prolog");
  native("t", 1, ColonState::target, "user");
  ASSERT_EQ(w->current_debugger_local, 4) << "debugger off";
  ColonState::seen.clear();

  TAGGED call_t = structure(atom("t"), {MakeSmall_checked(5)});
  EXPECT_EQ(run(colon, {atom("user"), call_t}), 1);
  EXPECT_EQ(ColonState::seen, std::vector<TAGGED>{MakeSmall_checked(5)});
  close_query();

  struct undef_case {
    const char *what;
    TAGGED module;
    TAGGED goal;
  };
  const undef_case cases[] = {
      {"predicate missing in the module", atom("user"), structure(atom("nosuch"), {MakeSmall_checked(1)})},
      {"module does not exist", atom("nomodule"), call_t},
  };
  for (const undef_case &c : cases) {
    UndefState::goal = UndefState::module = 0;
    EXPECT_EQ(run(colon, {c.module, c.goal}), 1) << c.what;
    EXPECT_EQ(UndefState::goal, c.goal) << c.what;
    EXPECT_EQ(UndefState::module, c.module) << c.what;
    close_query();
  }
  EXPECT_EQ(ColonState::seen.size(), 1u) << "t must not have run for the failing cases";
}

// The interpreted path with one stored clause whose head is a list cell:
// '.'(1, 3).  A list-cell goal must be unified with the head argument by
// argument, not taken as matching because its predicate was found.
TEST_F(WamEntry, InterpretedListGoalIsUnifiedWithTheHead)
{
  definition *dot = pred(".", 2, ENTER_INTERPRETED);
  TAGGED head = list({MakeSmall_checked(1)});
  TagToLST(head)[1] = MakeSmall_checked(3);
  TAGGED *pair = heap(2);
  pair[0] = head;
  pair[1] = MakeAtom(atom_true_enum);
  instance *clause = compile_term(w, MakeLST(pair), 0);
  ASSERT_NE(clause, nullptr);
  clause->extra = atom_nil;
  insertz(dot, clause);

  EXPECT_EQ(run(dot, {MakeSmall_checked(1), MakeSmall_checked(2)}), 0)
      << "[1|2] does not match the head [1|3]";
  close_query();
  EXPECT_EQ(run(dot, {MakeSmall_checked(1), MakeSmall_checked(3)}), 1);
  close_query();
  TAGGED a = var(), b = var();
  EXPECT_EQ(run(dot, {a, b}), 1);
  EXPECT_EQ(deref(a), MakeSmall_checked(1));
  EXPECT_EQ(deref(b), MakeSmall_checked(3));
  close_query();
}

}  // namespace
