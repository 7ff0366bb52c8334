// Type tests and inline built-ins run as compiled code: each built-in is
// the body of a one-clause wrapper predicate (the instruction on X0.., then
// PROCEED), called with a goal read from text; the goal is printed after
// the call.  The slow_ predicates of the runtime library are stand-ins that
// record what they received and succeed, so an escape shows up as a
// recorded call and an unchanged goal.
#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "globref.h"
#include "inline_builtins.h"
#include "operators.h"
#include "stack_growth.h"
#include "term_reader.h"
#include "term_text.h"
#include "tokenizer.h"
#include "unify.h"
#include "wam_fixture.h"

namespace {

struct WamTypes : WamFixture {
  static WamTypes *self_;
  std::vector<std::string> slow_calls;  // "slow_arg(...)" per escape
  TAGGED *heap_top_at_slow = nullptr;   // global_top when the last one ran
  int slow_result = 1;                  // what the stand-ins return
  std::string trace;                    // letters from recorder natives

  void SetUp() override
  {
    WamFixture::SetUp();
    self_ = this;
    init_operators();
    eglobal->current_double_quotes = MakeAtom(atom_codes_enum);
    preds.resume = pred("$resume", 7, BUILTIN_RESUME, "prolog");
    preds.slow_arg = native("slow_arg", 3, slow_standin<0>, "prolog");
    preds.slow_functor = native("slow_functor", 3, slow_standin<1>, "prolog");
    preds.slow_univ = native("slow_univ", 2, slow_standin<2>, "prolog");
    preds.slow_length = native("slow_length", 2, slow_standin<3>, "prolog");
    preds.slow_append = native("slow_append", 3, slow_standin<4>, "prolog");
    preds.slow_create_mutable = native("slow_create_mutable", 2, slow_standin<5>, "prolog");
    preds.slow_get_mutable = native("slow_get_mutable", 2, slow_standin<6>, "prolog");
    preds.slow_update_mutable = native("slow_update_mutable", 2, slow_standin<7>, "prolog");
  }
  void TearDown() override
  {
    preds.resume = nullptr;
    preds.slow_arg = preds.slow_functor = preds.slow_univ = preds.slow_length = nullptr;
    preds.slow_append = preds.slow_create_mutable = preds.slow_get_mutable = nullptr;
    preds.slow_update_mutable = nullptr;
    preds.call_goals = nullptr;
    deinit_operators();
    eglobal->current_double_quotes = 0;
    self_ = nullptr;
    WamFixture::TearDown();
  }

  static constexpr const char *slow_names[] = {"slow_arg", "slow_functor", "slow_univ", "slow_length",
                                                "slow_append", "slow_create_mutable", "slow_get_mutable",
                                                "slow_update_mutable"};
  static constexpr int slow_arities[] = {3, 3, 2, 2, 3, 2, 2, 2};
  template <int K> static int slow_standin(worker *w)
  {
    std::string s = std::string(slow_names[K]) + "(";
    for (int i = 0; i < slow_arities[K]; i++)
      s += (i ? "," : "") + term_to_text(deref(w->term[i]));
    self_->slow_calls.push_back(without_variable_numbers(s + ")"));
    self_->heap_top_at_slow = w->global_top;
    return self_->slow_result;
  }
  template <char C> static int rec(worker *) { self_->trace += C; return 1; }


  TAGGED read_term(const std::string &text)
  {
    std::string src_text = text + " .";
    text_source src;
    text_source_init(&src, src_text.c_str(), src_text.size());
    read_result r{};
    EXPECT_EQ(read_clause_term(w, &src.base, 0, &r), READ_OK) << text << ": " << r.message;
    return deref(r.term);
  }

  // A wrapper whose clause is the instruction on X0..X(n-1), then PROCEED.
  definition *wrapper(int insn, int n)
  {
    definition *d = pred(("w_" + std::string(insnname[insn])).c_str(), n);
    code_builder b;
    if (n == 2)
      b.emit(insn, {cb::x(0), cb::x(1)});
    else
      b.emit(insn, {cb::x(0), cb::x(1), cb::x(2)});
    b.emit(PROCEED);
    clause(d, b);
    return d;
  }

  struct outcome {
    int result;        // of the query
    std::string goal;  // the goal after success, else "fail" / "exception"
  };
  // Runs d on the arguments of goal (a term); the goal is held in a
  // global reference because the heap may move during the query.
  // With print false the goal is not written (cyclic terms, long lists).
  outcome call_goal(definition *d, TAGGED goal, bool print = true)
  {
    VR_globref held = VR_alloc_globrefs(1);
    held->term = goal;
    std::vector<TAGGED> args(256, atom_nil);
    goal = deref(goal);
    if (IsStructure(goal))
      for (unsigned i = 0; i < Arity(*TagToSTR(goal)); i++)
        args[i] = TagToSTR(goal)[1 + i];
    slow_calls.clear();
    int res = query_open(w, &open_query, d, args.data());
    std::string text = res == 1 ? (print ? without_variable_numbers(term_to_text(held->term)) : "true")
                                : res == 0 ? "fail" : "exception";
    close_query();
    VR_free_globrefs(held);
    return {res, text};
  }
  outcome call_text(definition *d, const std::string &goal_text) { return call_goal(d, read_term(goal_text)); }

  // Each row: goal, what it prints after the call ("fail" when it fails),
  // and the slow predicate call it makes ("" for none).
  struct row {
    const char *goal;
    const char *after;
    const char *slow;
  };
  void check_rows(definition *d, const std::vector<row> &rows)
  {
    for (const row &r : rows) {
      outcome o = call_text(d, r.goal);
      EXPECT_EQ(o.goal, r.after) << "goal " << r.goal;
      std::string slow = slow_calls.empty() ? "" : slow_calls.back();
      EXPECT_EQ(slow, r.slow) << "slow predicate called for " << r.goal;
      EXPECT_LE(slow_calls.size(), 1u) << r.goal << " escaped more than once";
    }
  }

  // Cells built by hand, for shapes the reader does not make.
  TAGGED cyclic_f_a_self()  // X = f(a, X)
  {
    TAGGED *h = heap(3);
    h[0] = MakeFunctor(atom("f"), 2);
    h[1] = atom("a");
    h[2] = MakeSTR(h);
    return MakeSTR(h);
  }
  TAGGED cyclic_list(TAGGED elem)  // L = [elem, elem | L]
  {
    TAGGED *h = heap(4);
    h[0] = elem;
    h[1] = MakeLST(h + 2);
    h[2] = elem;
    h[3] = MakeLST(h);
    return MakeLST(h);
  }
  TAGGED cva_with_goals(TAGGED goals)  // marker, cell, no attributes, goals
  {
    TAGGED *h = heap(4);
    h[0] = CVA_MARKER;
    h[1] = PointerToTerm(h + 1);
    h[2] = atom_nil;
    h[3] = goals;
    return h[1];
  }
};
WamTypes *WamTypes::self_ = nullptr;

// ---------------------------------------------------------------------------
// Type tests

struct type_test {
  const char *name;
  int insn;
};
const type_test all_type_tests[] = {
    {"atom", ATOM},         {"atomic", ATOMIC},   {"float", FLOAT},
    {"integer", INTEGER},   {"number", NUMBER},   {"var", VAR},
    {"nonvar", NONVAR},     {"simple", SIMPLE},   {"compound", COMPOUND},
    {"callable", CALLABLE}, {"ground", GROUND},   {"mutable", MUTABLE},
    {"db_reference", DB_REFERENCE},
};

// t(X, R): R = yes when the test holds for X, else no (the else branch is
// a label of the clause, not the failure code).  With `q` a three-halfword
// NOP comes first, so the code builder has to pick the Q form.
definition *type_test_pred(WamTypes &f, int insn, bool q)
{
  definition *d = f.pred((std::string("tt_") + insnname[insn] + (q ? "_q" : "")).c_str(), 2);
  code_builder b;
  if (q)
    b.emit(NOP, {cb::n(2)});
  cb_label no = b.new_label();
  int emitted = b.emit(insn, {cb::x(0), cb::else_to(no)});
  EXPECT_EQ(emitted, q ? insn - 1 : insn) << insnname[insn] << (q ? ": expected the Q form" : ": expected the plain form");
  b.emit(GET_CONSTANT, {cb::x(1), cb::t(f.atom("yes"))});
  b.emit(PROCEED);
  b.bind(no);
  b.emit(GET_CONSTANT, {cb::x(1), cb::t(f.atom("no"))});
  b.emit(PROCEED);
  f.clause(d, b);
  return d;
}

TEST_F(WamTypes, TypeTestsBothFormsBothBranches)
{
  struct term_case {
    const char *what;
    TAGGED term;
    std::vector<std::string> holds;
  };
  TAGGED bound_to_unbound = var();
  *TagToRef(bound_to_unbound) = var();  // a variable bound to another, unbound one
  std::vector<term_case> cases = {
      {"[]", read_term("[]"), {"atom", "atomic", "nonvar", "simple", "callable", "ground"}},
      {"foo", read_term("foo"), {"atom", "atomic", "nonvar", "simple", "callable", "ground"}},
      {"1", read_term("1"), {"atomic", "integer", "number", "nonvar", "simple", "ground"}},
      {"-268435456 (smallest small)", read_term("-268435456"), {"atomic", "integer", "number", "nonvar", "simple", "ground"}},
      {"1.0", read_term("1.0"), {"atomic", "float", "number", "nonvar", "simple", "ground"}},
      {"2^40", read_term("1099511627776"), {"atomic", "integer", "number", "nonvar", "simple", "ground"}},
      {"-2^40", read_term("-1099511627776"), {"atomic", "integer", "number", "nonvar", "simple", "ground"}},
      {"unbound", var(), {"var", "simple"}},
      {"bound to an unbound variable", bound_to_unbound, {"var", "simple"}},
      {"f(a)", read_term("f(a)"), {"nonvar", "compound", "callable", "ground"}},
      {"[a]", read_term("[a]"), {"nonvar", "compound", "callable", "ground"}},
      {"f(X)", read_term("f(X)"), {"nonvar", "compound", "callable"}},
      {"[a|T]", read_term("[a|T]"), {"nonvar", "compound", "callable"}},
      {"g(f(a), [b, c, f(d, Z)])", read_term("g(f(a), [b, c, f(d, Z)])"), {"nonvar", "compound", "callable"}},
      {"mutable", read_term("'$mutable'(1, 0)"), {"nonvar", "compound", "callable", "mutable"}},
      {"f(mutable)", read_term("f(a, '$mutable'(1, 0))"), {"nonvar", "compound", "callable"}},
      {"'$mutable'(1) (other arity)", read_term("'$mutable'(1)"), {"nonvar", "compound", "callable", "ground"}},
      {"db reference", read_term("'$ref'(1, 2)"), {"nonvar", "compound", "callable", "ground", "db_reference"}},
      {"cyclic f(a, X), X = itself", cyclic_f_a_self(), {"nonvar", "compound", "callable", "ground"}},
      {"cyclic list of X", cyclic_list(var()), {"nonvar", "compound", "callable"}},
  };
  {  // a shared subterm with a variable deep inside: f(S, S), S = g(h(X))
    TAGGED s = read_term("g(h(X))");
    cases.push_back({"f(S, S), S = g(h(X))", structure(atom("f"), {s, s}), {"nonvar", "compound", "callable"}});
  }

  for (const type_test &tt : all_type_tests) {
    for (bool q : {false, true}) {
      definition *d = type_test_pred(*this, tt.insn, q);
      for (const term_case &c : cases) {
        bool holds = false;
        for (const std::string &h : c.holds)
          holds = holds || h == tt.name;
        TAGGED r = var();
        outcome o = call_goal(d, structure(atom("t"), {c.term, r}), false);
        ASSERT_EQ(o.result, 1) << tt.name << " on " << c.what;
        EXPECT_EQ(deref(r), atom(holds ? "yes" : "no"))
            << tt.name << (q ? " (Q form)" : "") << " on " << c.what << ": expected the test to "
            << (holds ? "hold" : "fail");
      }
    }
  }
  EXPECT_EQ(check_gc_bits(1), 0) << "the ground test left marks in the collector's bitmap";
}

// A cleared soft limit means work is pending; the test must decide only
// after it has run.  Here the head binds a constrained variable whose woken
// goal binds G, and var(G) must see that binding.
TEST_F(WamTypes, TypeTestWaitsForPendingWakeUp)
{
  static TAGGED woken_var;
  preds.call_goals = native("call_goals", 1, [](worker *w) -> int {
    TAGGED g = deref(woken_var);
    if (IsVar(g))
      bind(w, g, init_atom_check("woken", 0));
    return 1;
  });
  definition *d = pred("t", 3);
  code_builder b;
  cb_label no = b.new_label();
  b.emit(GET_CONSTANT, {cb::x(0), cb::t(atom("foo"))});
  b.emit(VAR, {cb::x(1), cb::else_to(no)});
  b.emit(GET_CONSTANT, {cb::x(2), cb::t(atom("yes"))});
  b.emit(PROCEED);
  b.bind(no);
  b.emit(GET_CONSTANT, {cb::x(2), cb::t(atom("no"))});
  b.emit(PROCEED);
  clause(d, b);

  TAGGED v = cva_with_goals(list({atom("goal")}));
  TAGGED g = var();
  woken_var = g;
  TAGGED r = var();
  ASSERT_EQ(run(d, {v, g, r}), 1);
  EXPECT_EQ(term_to_text(deref(g)), "woken") << "the woken goal did not run";
  EXPECT_EQ(term_to_text(deref(r)), "no") << "var/1 decided before the pending wake-up ran";
  close_query();
}

// ---------------------------------------------------------------------------
// arg/3

TEST_F(WamTypes, Arg)
{
  check_rows(wrapper(ARG, 3), {
      {"arg(1, f(a, b), X)", "arg(1,f(a,b),a)", ""},
      {"arg(2, f(a, b), X)", "arg(2,f(a,b),b)", ""},
      {"arg(1, f(Y), b)", "arg(1,f(b),b)", ""},
      {"arg(1, f(a), b)", "fail", ""},
      {"arg(0, f(a), X)", "fail", ""},
      {"arg(3, f(a, b), X)", "fail", ""},
      {"arg(1, [a|b], X)", "arg(1,[a|b],a)", ""},
      {"arg(2, [a|b], X)", "arg(2,[a|b],b)", ""},
      {"arg(0, [a|b], X)", "fail", ""},
      {"arg(3, [a|b], X)", "fail", ""},
      // Everything else is the slow predicate's: errors, and no enumeration.
      {"arg(-1, f(a), X)", "arg(-1,f(a),_)", "slow_arg(-1,f(a),_)"},
      {"arg(-1, [a], X)", "arg(-1,[a],_)", "slow_arg(-1,[a],_)"},
      {"arg(N, f(a), X)", "arg(_,f(a),_)", "slow_arg(_,f(a),_)"},
      {"arg(1, foo, X)", "arg(1,foo,_)", "slow_arg(1,foo,_)"},
      {"arg(1, 3, X)", "arg(1,3,_)", "slow_arg(1,3,_)"},
      {"arg(1, 1.5, X)", "arg(1,1.5,_)", "slow_arg(1,1.5,_)"},
      {"arg(1, T, X)", "arg(1,_,_)", "slow_arg(1,_,_)"},
      {"arg(a, f(a), X)", "arg(a,f(a),_)", "slow_arg(a,f(a),_)"},
      {"arg(1099511627776, f(a), X)", "arg(1099511627776,f(a),_)", "slow_arg(1099511627776,f(a),_)"},
  });
}

// When the slow predicate fails, so does the built-in.
TEST_F(WamTypes, EscapeThatFailsFailsTheBuiltIn)
{
  slow_result = 0;
  outcome o = call_text(wrapper(ARG, 3), "arg(N, f(a), X)");
  EXPECT_EQ(o.goal, "fail");
  EXPECT_EQ(slow_calls.size(), 1u);
}

// The registers live after the built-in, and the clause's environment,
// survive the escape: t(N, T, A, K, R) :- Y0 = K, rec, arg(N, T, A),
// K = ok, R = Y0 (through a call that records it).
TEST_F(WamTypes, EscapeKeepsLiveRegistersAndEnvironment)
{
  static TAGGED seen;
  definition *r = native("rec_y", 0, rec<'r'>);
  definition *seen_pred = native("seen", 1, [](worker *w) -> int {
    seen = deref(w->term[0]);
    return 1;
  });
  definition *d = pred("t", 5);
  code_builder b;
  b.emit(GET_FIRST, {cb::moves({{4, 0}, {0, 1}, {1, 2}, {2, 3}, {3, 4}})});
  b.emit(FIRSTCALL, {cb::args(0, {}), cb::def(r), cb::env(5)});
  b.emit(PUT, {cb::args(0, {cb::value(1), cb::value(2), cb::value(3), cb::value(4)})});
  b.emit(ARG, {cb::x(0), cb::x(1), cb::x(2)});
  b.emit(GET_CONSTANT, {cb::x(3), cb::t(atom("ok"))});
  b.emit(LASTCALL, {cb::args(0, {cb::value(0)}), cb::def(seen_pred)});
  clause(d, b);

  TAGGED k = var();
  seen = atom("none");
  outcome o = call_goal(d, structure(atom("t"), {var(), read_term("f(a)"), var(), k, atom("kept")}));
  EXPECT_EQ(o.result, 1);
  ASSERT_EQ(slow_calls.size(), 1u) << "arg/3 with an unbound N must escape";
  EXPECT_EQ(term_to_text(deref(k)), "ok") << "X3, live after arg/3, was not restored after the escape";
  EXPECT_EQ(term_to_text(seen), "kept") << "the environment's Y0 was not intact after the escape";
}

// ---------------------------------------------------------------------------
// functor/3

TEST_F(WamTypes, Functor)
{
  check_rows(wrapper(FUNCTOR, 3), {
      {"functor(T, foo, 3)", "functor(foo(_,_,_),foo,3)", ""},
      {"functor(T, '.', 2)", "functor([_|_],'.',2)", ""},
      {"functor(T, foo, 0)", "functor(foo,foo,0)", ""},
      {"functor(T, 7, 0)", "functor(7,7,0)", ""},
      {"functor(T, 1.5, 0)", "functor(1.5,1.5,0)", ""},
      {"functor(3, N, A)", "functor(3,3,0)", ""},
      {"functor(f(a, b), N, A)", "functor(f(a,b),f,2)", ""},
      {"functor([a], N, A)", "functor([a],'.',2)", ""},
      {"functor(1.5, N, A)", "functor(1.5,1.5,0)", ""},
      {"functor(1099511627776, N, 0)", "functor(1099511627776,1099511627776,0)", ""},
      {"functor(f(a), f, 1)", "functor(f(a),f,1)", ""},
      {"functor(f(a), g, 1)", "fail", ""},
      {"functor(f(a), f, 2)", "fail", ""},
      {"functor(f(a), f, foo)", "fail", ""},
      {"functor(foo, foo, 1)", "fail", ""},
      {"functor(1.5, 1.5, 1)", "fail", ""},
      {"functor(1.5, 2.5, 0)", "fail", ""},
      {"functor(T, 1.5, 1)", "functor(_,1.5,1)", "slow_functor(_,1.5,1)"},
      {"functor(T, foo, 256)", "functor(_,foo,256)", "slow_functor(_,foo,256)"},
      {"functor(T, foo, -1)", "functor(_,foo,-1)", "slow_functor(_,foo,-1)"},
      {"functor(T, foo, A)", "functor(_,foo,_)", "slow_functor(_,foo,_)"},
      {"functor(T, N, 1)", "functor(_,_,1)", "slow_functor(_,_,1)"},
      {"functor(T, f(a), 1)", "functor(_,f(a),1)", "slow_functor(_,f(a),1)"},
      {"functor(T, foo, bar)", "functor(_,foo,bar)", "slow_functor(_,foo,bar)"},
  });
}

TEST_F(WamTypes, FunctorBuildsTheLargestArity)
{
  definition *d = wrapper(FUNCTOR, 3);
  TAGGED t = var();
  ASSERT_EQ(call_goal(d, structure(atom("functor"), {t, atom("big"), MakeSmall_checked(255)})).result, 1);
  TAGGED s = deref(t);
  ASSERT_TRUE(IsStructure(s));
  EXPECT_EQ(*TagToSTR(s), MakeFunctor(atom("big"), 255));
  for (int i = 1; i <= 255; i++)
    ASSERT_EQ(TagToSTR(s)[i], PointerToTerm(TagToSTR(s) + i)) << "argument " << i << " is not a fresh variable";
  EXPECT_TRUE(slow_calls.empty());
}

// ---------------------------------------------------------------------------
// =../2

TEST_F(WamTypes, Univ)
{
  check_rows(wrapper(UNIV, 2), {
      {"=..(T, [foo])", "foo=..[foo]", ""},
      {"=..(T, [1.5])", "1.5=..[1.5]", ""},
      {"=..(T, [3])", "3=..[3]", ""},
      {"=..(T, [foo, a, B])", "foo(a,_)=..[foo,a,_]", ""},
      {"=..(T, ['.', a, b])", "[a|b]=..['.',a,b]", ""},
      {"=..(foo(a, b), L)", "foo(a,b)=..[foo,a,b]", ""},
      {"=..([a], L)", "[a]=..['.',a,[]]", ""},
      {"=..(3, L)", "3=..[3]", ""},
      {"=..(1.5, L)", "1.5=..[1.5]", ""},
      {"=..(foo, [foo])", "foo=..[foo]", ""},
      {"=..(foo(a), [F|As])", "foo(a)=..[foo,a]", ""},
      // The slow predicate decides between failure and an error.
      {"=..(foo(a), [foo, b])", "foo(a)=..[foo,b]", "slow_univ(foo(a),[foo,b])"},
      {"=..(foo(a), bar)", "foo(a)=..bar", "slow_univ(foo(a),bar)"},
      {"=..(T, [foo|L])", "_=..[foo|_]", "slow_univ(_,[foo|_])"},
      {"=..(T, [foo, a|b])", "_=..[foo,a|b]", "slow_univ(_,[foo,a|b])"},
      {"=..(T, [f(a), b])", "_=..[f(a),b]", "slow_univ(_,[f(a),b])"},
      {"=..(T, [1, b])", "_=..[1,b]", "slow_univ(_,[1,b])"},
      {"=..(T, [X, b])", "_=..[_,b]", "slow_univ(_,[_,b])"},
      {"=..(T, [])", "_=..[]", "slow_univ(_,[])"},
      {"=..(T, L)", "_=.._", "slow_univ(_,_)"},
      {"=..(T, foo)", "_=..foo", "slow_univ(_,foo)"},
  });
}

TEST_F(WamTypes, UnivArityLimit)
{
  definition *d = wrapper(UNIV, 2);
  for (int n : {255, 256}) {
    std::string text = "=..(T, [f";
    for (int i = 0; i < n; i++)
      text += ", a";
    text += "])";
    TAGGED goal = read_term(text);
    TAGGED t = TagToSTR(goal)[1];
    outcome o = call_goal(d, goal);
    EXPECT_EQ(o.result, 1);
    if (n == 255) {
      EXPECT_TRUE(slow_calls.empty()) << "255 arguments are built natively";
      TAGGED s = deref(t);
      ASSERT_TRUE(IsStructure(s));
      EXPECT_EQ(*TagToSTR(s), MakeFunctor(atom("f"), 255));
      EXPECT_EQ(TagToSTR(s)[255], atom("a"));
    } else {
      EXPECT_EQ(slow_calls.size(), 1u) << "256 arguments must escape";
      EXPECT_TRUE(IsVar(deref(t))) << "nothing may be bound before the escape";
    }
  }
}

// A unification that fails part way may already have bound a variable of
// List to a pair of the new list; those pairs must stay below the heap
// top, or the binding points at words the next allocation overwrites.
TEST_F(WamTypes, UnivFailedUnificationKeepsWhatItBound)
{
  definition *d = wrapper(UNIV, 2);
  TAGGED goal = read_term("=..(f(g(1), c), [f, g(2)|T])");
  TAGGED list = TagToSTR(goal)[2];
  TAGGED t = TagToLST(TagToLST(deref(list))[1])[1];
  outcome o = call_goal(d, goal);
  ASSERT_EQ(slow_calls.size(), 1u) << "a failed unification escapes to slow_univ/2";
  TAGGED tv = deref(t);
  if (IsList(tv)) {
    EXPECT_LT(TagToLST(tv), heap_top_at_slow)
        << "T is bound into heap words that were given back (" << o.goal << ")";
  }
}

// ---------------------------------------------------------------------------
// length/2

TEST_F(WamTypes, Length)
{
  check_rows(wrapper(LENGTH, 2), {
      {"length([a, b, c], N)", "length([a,b,c],3)", ""},
      {"length([], N)", "length([],0)", ""},
      {"length([a, b], 2)", "length([a,b],2)", ""},
      {"length([a, b], 3)", "fail", ""},
      {"length([a, b, c], 1)", "fail", ""},
      {"length([a, b|T], 4)", "length([a,b,_,_],4)", ""},
      {"length([a, b|T], 1)", "fail", ""},
      {"length([a, b|T], 2)", "length([a,b],2)", ""},
      {"length(L, 0)", "length([],0)", ""},
      {"length(L, 3)", "length([_,_,_],3)", ""},
      {"length([a|b], 3)", "fail", ""},
      {"length([a|b], 1)", "fail", ""},
      // Enumeration, errors and the negative length are the slow predicate's.
      {"length([a|b], N)", "length([a|b],_)", "slow_length([a|b],_)"},
      {"length([a|T], N)", "length([a|_],_)", "slow_length([a|_],_)"},
      {"length(L, N)", "length(_,_)", "slow_length(_,_)"},
      {"length(L, -1)", "length(_,-1)", "slow_length(_,-1)"},
      {"length(L, foo)", "length(_,foo)", "slow_length(_,foo)"},
      {"length([a], 1.0)", "length([a],1.0)", "slow_length([a],1.0)"},
      {"length(L, 1099511627776)", "length(_,1099511627776)", "slow_length(_,1099511627776)"},
  });
}

// A cyclic list has no length: counting it must end (with the slow
// predicate's type error) instead of looping for ever inside native code.
TEST_F(WamTypes, LengthOfCyclicListEnds)
{
  definition *d = wrapper(LENGTH, 2);
  call_goal(d, structure(atom("length"), {cyclic_list(atom("a")), var()}));
  ASSERT_EQ(slow_calls.size(), 1u) << "a cyclic list has no length: slow_length/2 raises the type error";
  EXPECT_EQ(slow_calls[0], "slow_length([a,a|...],_)");
  slow_calls.clear();
  EXPECT_EQ(call_goal(d, structure(atom("length"), {cyclic_list(atom("a")), MakeSmall_checked(5)})).goal, "fail");
  EXPECT_TRUE(slow_calls.empty()) << "more pairs than the length given fails at once";
}

// Building stops at the soft heap limit and leaves the rest, and the
// variable that still needs it, to the slow predicate.
TEST_F(WamTypes, LengthHandsTheRestToSlowLengthAtTheHeapLimit)
{
  definition *d = wrapper(LENGTH, 2);
  const VR_INTEGER total = 10000000;
  // The heap is collected and grown on the way: l is held where the
  // collector relocates it.
  VR_globref l = VR_alloc_globrefs(1);
  l->term = var();
  outcome o = call_goal(d, structure(atom("length"), {l->term, MakeSmall_checked(total)}), false);
  TAGGED t = deref(l->term);
  VR_free_globrefs(l);
  ASSERT_EQ(o.result, 1);
  ASSERT_EQ(slow_calls.size(), 1u) << "ten million pairs cannot fit below the soft limit";
  // Count what was built natively; its open tail is what slow_length got.
  VR_INTEGER built = 0;
  while (IsList(t)) {
    built++;
    t = deref(TagToLST(t)[1]);
  }
  ASSERT_TRUE(IsVar(t)) << "the native part must end in the variable handed on";
  EXPECT_GT(built, 0);
  EXPECT_EQ(slow_calls[0], "slow_length(_," + std::to_string(total - built) + ")")
      << "pairs built natively plus pairs left must make " << total;
}

// ---------------------------------------------------------------------------
// append/3

TEST_F(WamTypes, Append)
{
  check_rows(wrapper(APPEND, 3), {
      {"append([a, b], [c], W)", "append([a,b],[c],[a,b,c])", ""},
      {"append([], [c], W)", "append([],[c],[c])", ""},
      {"append([a], S, [a, b])", "append([a],[b],[a,b])", ""},
      {"append([a, b, c], [d], [a|W])", "append([a,b,c],[d],[a,b,c,d])", ""},
      {"append([X, b], S, [a, Y, c])", "append([a,b],[c],[a,b,c])", ""},
      {"append([a, b], S, [a, c])", "fail", ""},
      {"append([a, b], S, [a])", "fail", ""},
      {"append([a, b], S, foo)", "fail", ""},
      {"append(foo, S, W)", "fail", ""},
      {"append([a|foo], S, W)", "fail", ""},
      {"append([], [c], [d])", "fail", ""},
      // Unbound prefixes go to the slow predicate with what is left.
      {"append(X, Y, [a])", "append(_,_,[a])", "slow_append(_,_,[a])"},
      {"append([a|X], Y, [a, b])", "append([a|_],_,[a,b])", "slow_append(_,_,[b])"},
      {"append([a|X], Y, W)", "append([a|_],_,[a|_])", "slow_append(_,_,_)"},
  });
}

// append/3 copies no element of the prefix and shares the suffix.
TEST_F(WamTypes, AppendSharesTheSuffix)
{
  TAGGED goal = read_term("append([a, f(X)], [c, d], W)");
  TAGGED prefix = TagToSTR(goal)[1];
  TAGGED suffix = deref(TagToSTR(goal)[2]);
  TAGGED whole = TagToSTR(goal)[3];
  ASSERT_EQ(call_goal(wrapper(APPEND, 3), goal).result, 1);
  TAGGED t = deref(whole);
  TAGGED p = deref(prefix);
  for (int i = 0; i < 2; i++) {
    ASSERT_TRUE(IsList(t));
    EXPECT_EQ(TagToLST(t)[0], TagToLST(p)[0]) << "element " << i << " was copied, not shared";
    t = deref(TagToLST(t)[1]);
    p = deref(TagToLST(p)[1]);
  }
  EXPECT_EQ(t, suffix) << "the suffix was copied, not shared";
}

// ---------------------------------------------------------------------------
// compare/3 and COMPAREOP

TEST_F(WamTypes, Compare)
{
  check_rows(wrapper(COMPARE, 3), {
      {"compare(O, a, b)", "compare(<,a,b)", ""},
      {"compare(O, b, a)", "compare(>,b,a)", ""},
      {"compare(O, a, a)", "compare(=,a,a)", ""},
      {"compare(<, a, b)", "compare(<,a,b)", ""},
      {"compare(=, a, b)", "fail", ""},
      {"compare(foo, a, b)", "fail", ""},
      {"compare(f(O), a, b)", "fail", ""},
      {"compare(O, f(a), f(b))", "compare(<,f(a),f(b))", ""},
      {"compare(O, 1, 1.0)", "compare(>,1,1.0)", ""},
      {"compare(O, X, a)", "compare(<,_,a)", ""},
      {"compare(O, f(X, Y), f(X, Y))", "compare(=,f(_,_),f(_,_))", ""},
  });
  // Two distinct unbound variables compare by address.
  definition *d = wrapper(COMPARE, 3);
  TAGGED older = var(), younger = var();
  TAGGED o1 = var(), o2 = var();
  ASSERT_EQ(call_goal(d, structure(atom("compare"), {o1, older, younger})).result, 1);
  ASSERT_EQ(call_goal(d, structure(atom("compare"), {o2, younger, older})).result, 1);
  EXPECT_EQ(term_to_text(deref(o1)), "<") << "the older variable must come first";
  EXPECT_EQ(term_to_text(deref(o2)), ">");
}

// t(A, B) :- COMPAREOP A, B, then an integer comparison of the result with
// 0: the library's ==, \==, @<, @>=, @> and @=<.
TEST_F(WamTypes, CompareOpFeedsTheIntegerComparisons)
{
  struct rel {
    const char *name;
    int insn;
  };
  const rel rels[] = {{"==", EQUAL_TO_IMM},    {"\\==", NOT_EQUAL_TO_IMM},    {"@<", LESS_THAN_IMM},
                      {"@>=", NOT_LESS_THAN_IMM}, {"@>", GREATER_THAN_IMM}, {"@=<", NOT_GREATER_THAN_IMM}};
  struct pair_case {
    const char *a, *b;
    int order;  // -1, 0, 1
  };
  const pair_case pairs[] = {
      {"a", "b", -1}, {"b", "a", 1}, {"a", "a", 0}, {"[]", "[]", 0},
      {"f(a)", "f(a)", 0}, {"1.0", "1", -1}, {"f(a, b)", "g(a)", 1}, {"X", "a", -1},
  };
  for (const rel &r : rels) {
    definition *d = pred((std::string("cmp_") + insnname[r.insn]).c_str(), 2);
    code_builder b;
    b.emit(COMPAREOP, {cb::x(0), cb::x(1)});
    b.emit(r.insn, {cb::l(0), cb::else_to(failcode)});
    b.emit(PROCEED);
    clause(d, b);
    for (const pair_case &p : pairs) {
      const int c = p.order;
      const bool holds = r.insn == EQUAL_TO_IMM ? c == 0 : r.insn == NOT_EQUAL_TO_IMM ? c != 0
                       : r.insn == LESS_THAN_IMM ? c < 0 : r.insn == NOT_LESS_THAN_IMM ? c >= 0
                       : r.insn == GREATER_THAN_IMM ? c > 0 : c <= 0;
      TAGGED goal = structure(atom("t"), {read_term(p.a), read_term(p.b)});
      EXPECT_EQ(call_goal(d, goal).result, holds ? 1 : 0) << p.a << " " << r.name << " " << p.b;
    }
  }
}

// ---------------------------------------------------------------------------
// Mutable terms

TEST_F(WamTypes, MutableCreateGetAndEscapes)
{
  check_rows(wrapper(CREATE_MUTABLE, 2), {
      {"create_mutable(f(a), M)", "create_mutable(f(a),'$mutable'(f(a),0))", ""},
      {"create_mutable(1, '$mutable'(1, S))", "create_mutable(1,'$mutable'(1,0))", ""},
      {"create_mutable(1, foo)", "fail", ""},
      {"create_mutable(X, M)", "create_mutable(_,_)", "slow_create_mutable(_,_)"},
  });
  check_rows(wrapper(GET_MUTABLE, 2), {
      {"get_mutable(V, '$mutable'(1, 0))", "get_mutable(1,'$mutable'(1,0))", ""},
      {"get_mutable(2, '$mutable'(1, 0))", "fail", ""},
      {"get_mutable(V, foo)", "get_mutable(_,foo)", "slow_get_mutable(_,foo)"},
      {"get_mutable(V, M)", "get_mutable(_,_)", "slow_get_mutable(_,_)"},
      {"get_mutable(V, '$mutable'(1))", "get_mutable(_,'$mutable'(1))", "slow_get_mutable(_,'$mutable'(1))"},
  });
  check_rows(wrapper(UPDATE_MUTABLE, 2), {
      {"update_mutable(X, '$mutable'(1, 0))", "update_mutable(_,'$mutable'(1,0))",
       "slow_update_mutable(_,'$mutable'(1,0))"},
      {"update_mutable(2, foo)", "update_mutable(2,foo)", "slow_update_mutable(2,foo)"},
      {"update_mutable(2, M)", "update_mutable(2,_)", "slow_update_mutable(2,_)"},
  });
}

// t(M, A, B) :- update_mutable(A, M), update_mutable(B, M), check, fail.
// t(M, A, B) :- check.
// M is older than t's choicepoint: the first update is trailed once, the
// second overwrites in place, and backtracking gives back value and stamp.
TEST_F(WamTypes, MutableUpdateIsTrailedOncePerChoicepointAndUndone)
{
  struct seen_state {
    TAGGED value, stamp;
    long trail_words;
    long node_trail_mark;
  };
  static std::vector<seen_state> seen;
  static TAGGED held;
  seen.clear();
  auto look = [](worker *w) -> int {
    TAGGED *m = TagToSTR(deref(held));
    seen.push_back({m[1], m[2], static_cast<long>(w->trail_top - w->trail_start),
                    static_cast<long>(node_trail_top(w->node_) - w->trail_start)});
    return 1;
  };
  definition *check = native("check", 0, look);
  definition *d = pred("t", 3);
  code_builder k1;
  k1.emit(UPDATE_MUTABLE, {cb::x(1), cb::x(0)});
  k1.emit(UPDATE_MUTABLE, {cb::x(2), cb::x(0)});
  k1.emit(INITCALL, {cb::args(0, {}), cb::def(check), cb::env(0)});
  k1.emit(LASTCALL, {cb::args(0, {}), cb::def(preds.fail)});
  clause(d, k1);
  code_builder k2;
  k2.emit(EXECUTE, {cb::def(check)});
  clause(d, k2);

  TAGGED m = read_term("'$mutable'(1, 0)");
  held = m;
  const long trail_before = static_cast<long>(w->trail_top - w->trail_start);
  ASSERT_EQ(run(d, {m, MakeSmall_checked(2), MakeSmall_checked(3)}), 1);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].value, MakeSmall_checked(3));
  // One three-word entry on top of t's choicepoint's mark, stamped with
  // its own position.
  EXPECT_EQ(seen[0].trail_words, seen[0].node_trail_mark + 3) << "two updates after one choicepoint: one entry";
  EXPECT_EQ(seen[0].stamp, MakeSmall_checked(static_cast<VR_INTEGER>(seen[0].node_trail_mark)));
  EXPECT_EQ(seen[1].value, MakeSmall_checked(1)) << "backtracking did not restore the value";
  EXPECT_EQ(seen[1].stamp, MakeSmall_checked(0)) << "backtracking did not restore the stamp";
  close_query();
  EXPECT_EQ(w->trail_top - w->trail_start, trail_before);
}

// A mutable created after the newest choicepoint is overwritten untrailed.
TEST_F(WamTypes, NewMutableUpdatesAreNotTrailed)
{
  static long trail_at_end;
  definition *check = native("check_trail", 0, [](worker *w) -> int {
    trail_at_end = static_cast<long>(w->trail_top - w->trail_start);
    return 1;
  });
  definition *d = pred("t", 3);
  code_builder b;
  b.emit(CREATE_MUTABLE, {cb::x(1), cb::x(0)});
  b.emit(UPDATE_MUTABLE, {cb::x(2), cb::x(0)});
  b.emit(EXECUTE, {cb::def(check)});
  clause(d, b);
  TAGGED m = var();
  const long trail_before = static_cast<long>(w->trail_top - w->trail_start);
  ASSERT_EQ(run(d, {m, MakeSmall_checked(1), atom("two")}), 1);
  // M itself is older than the query's choicepoint: its binding is the one
  // trail word; the update adds no three-word entry.
  EXPECT_EQ(trail_at_end, trail_before + 1) << "updating a mutable younger than every choicepoint was trailed";
  TAGGED mv = deref(m);
  ASSERT_TRUE(is_structure_of(mv, functor_Dmutable));
  EXPECT_EQ(TagToSTR(mv)[1], atom("two"));
  EXPECT_EQ(TagToSTR(mv)[2], MakeSmall_checked(0));
  close_query();
}

}  // namespace
