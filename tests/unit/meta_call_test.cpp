// The meta-call instructions (call/N compiled in line): goals resolved in
// native code with their extra arguments and module qualifications, the
// escapes to meta_colon_pc/3 and call_illarg_pc/2 for everything else, and
// the environment handling of the _CALL forms of the calls.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "meta_decls.h"
#include "run_determ.h"
#include "suspend_fixture.h"

namespace {

struct MetaCall : SuspendFixture {
  struct hit {
    std::string who;
    std::vector<TAGGED> args;
  };
  static std::vector<hit> hits;

  template <int N> static int rec(worker *w)
  {
    hit h{"", {}};
    for (int i = 0; i < N; i++)
      h.args.push_back(deref(w->term[i]));
    hits.push_back(h);
    return 1;
  }
  // A recording native (told apart from the others by its arity).
  template <int N> definition *target(const char *name, const char *mod = "user")
  {
    return native(name, N, rec<N>, mod);
  }

  // call/N in line: a predicate whose clause is EXECUTE_CALL n.
  definition *caller_of(unsigned n)
  {
    definition *d = pred(("meta_" + std::to_string(n)).c_str(), static_cast<int>(n));
    code_builder b;
    b.emit(EXECUTE_CALL, {cb::n(n)});
    clause(d, b);
    return d;
  }

  void SetUp() override
  {
    SuspendFixture::SetUp();
    hits.clear();
  }
};
std::vector<MetaCall::hit> MetaCall::hits;

// The natives do not know which of them ran: each has its own arity, and
// m:foo/0 is the only one of arity 0.
TEST_F(MetaCall, GoalsResolvedInNativeCode)
{
  target<1>("foo", "lists");
  target<3>("foo");
  target<2>(".");
  target<0>("foo", "m");
  TAGGED a = atom("a"), b = atom("b");

  struct meta_case {
    const char *why;
    std::vector<TAGGED> regs;  // X0 the goal, then the extra arguments
    std::vector<TAGGED> expect;
  };
  TAGGED x = var();
  std::vector<meta_case> cases = {
      {"call(lists:foo, A) calls lists:foo/1 with X0 = A", {qualified("lists", atom("foo")), a}, {a}},
      {"call(foo(X), A, B) calls foo/3 with X, A, B", {structure(atom("foo"), {x, }), a, b}, {x, a, b}},
      {"call([H|T]) calls '.'/2", {list({a, b}), }, {a, list({b})}},
      {"call(X:(m:foo)): the innermost qualification decides", {structure(MakeAtom(atom_colon_enum), {var(), qualified("m", atom("foo"))})}, {}},
  };
  for (const meta_case &c : cases) {
    hits.clear();
    definition *d = caller_of(static_cast<unsigned>(c.regs.size()));
    int r;
    switch (c.regs.size()) {
    case 1: r = run(d, {c.regs[0]}); break;
    case 2: r = run(d, {c.regs[0], c.regs[1]}); break;
    default: r = run(d, {c.regs[0], c.regs[1], c.regs[2]}); break;
    }
    EXPECT_EQ(r, 1) << c.why;
    ASSERT_EQ(hits.size(), 1u) << c.why;
    EXPECT_TRUE(escapes.empty()) << c.why << ": no escape on the common path";
    ASSERT_EQ(hits[0].args.size(), c.expect.size()) << c.why << ": wrong predicate called";
    for (std::size_t i = 0; i < c.expect.size(); i++) {
      if (IsList(c.expect[i])) {
        EXPECT_TRUE(IsList(hits[0].args[i])) << c.why << ": argument " << i;
      } else {
        EXPECT_EQ(hits[0].args[i], c.expect[i]) << c.why << ": argument " << i;
      }
    }
    close_query();
  }
}

TEST_F(MetaCall, UnusualGoalsEscapeToProlog)
{
  TAGGED x = var();
  struct escape_case {
    const char *why;
    TAGGED goal;
    const char *escape;
    TAGGED culprit;  // the call/1 term's argument expected (or the goal built)
  };
  TAGGED unqualified_var = var();
  TAGGED bad_qual = structure(MakeAtom(atom_colon_enum), {x, atom("foo")});
  const escape_case cases[] = {
      {"call(X:foo) with X unbound", bad_qual, "call_illarg_pc", bad_qual},
      {"call(3)", MakeSmall_checked(3), "call_illarg_pc", MakeSmall_checked(3)},
      {"call(_)", unqualified_var, "call_illarg_pc", unqualified_var},
  };
  definition *d = caller_of(1);
  for (const escape_case &c : cases) {
    escapes.clear();
    EXPECT_EQ(run(d, {c.goal}), 1) << c.why;
    ASSERT_EQ(escapes.size(), 1u) << c.why;
    EXPECT_EQ(escapes[0].name, c.escape) << c.why;
    TAGGED call = escapes[0].args[0];
    ASSERT_TRUE(IsStructure(call)) << c.why;
    EXPECT_EQ(TagToSTR(call)[0], MakeFunctor(MakeAtom(atom_call_enum), 1)) << c.why;
    EXPECT_EQ(deref(TagToSTR(call)[1]), c.culprit) << c.why;
    EXPECT_TRUE(IsSmall(escapes[0].args[1])) << c.why << ": the call site travels as a small integer";
    close_query();
  }
}

TEST_F(MetaCall, PredicatesThatAreNotFastCallableGoToMetaColon)
{
  definition *d = caller_of(2);
  EXPECT_EQ(find_module(atom("newmod"), 0), nullptr);
  EXPECT_EQ(run(d, {qualified("newmod", structure(atom("bar"), {atom("a")})), atom("b")}), 1);
  ASSERT_EQ(escapes.size(), 1u);
  EXPECT_EQ(escapes[0].name, "meta_colon_pc");
  TAGGED goal = escapes[0].args[0];
  ASSERT_TRUE(IsStructure(goal));
  EXPECT_EQ(TagToSTR(goal)[0], MakeFunctor(atom("bar"), 2)) << "the goal with its extra argument";
  EXPECT_EQ(deref(TagToSTR(goal)[2]), atom("b"));
  EXPECT_EQ(escapes[0].args[1], atom("newmod"));
  EXPECT_NE(find_module(atom("newmod"), 0), nullptr) << "the meta-call path creates the module it names";
  close_query();
}

// A goal with 250 arguments and 5 more still resolves (255); 6 more would
// need 256 registers and goes to call_illarg_pc.
TEST_F(MetaCall, ArgumentCountLimit)
{
  target<255>("big");
  std::vector<TAGGED> args(250, atom("a"));
  TAGGED *h = heap(251);
  h[0] = MakeFunctor(atom("big"), 250);
  for (int i = 0; i < 250; i++)
    h[1 + i] = args[i];
  for (unsigned extra : {5u, 6u}) {
    hits.clear();
    escapes.clear();
    definition *d = caller_of(extra + 1);
    std::vector<TAGGED> regs(extra + 1, atom("e"));
    regs[0] = MakeSTR(h);
    std::vector<TAGGED> a(regs);
    a.resize(256);
    EXPECT_EQ(query_open(w, &open_query, d, a.data()), 1);
    if (extra == 5) {
      EXPECT_EQ(hits.size(), 1u) << "250 + 5 arguments resolve";
      EXPECT_TRUE(escapes.empty());
    } else {
      EXPECT_TRUE(hits.empty());
      ASSERT_EQ(escapes.size(), 1u);
      EXPECT_EQ(escapes[0].name, "call_illarg_pc") << "256 arguments cannot be called";
    }
    close_query();
  }
}

// p(G, A) :- call(G, A), call(G, A), call(G, A) with FIRSTCALL_CALL,
// CALL_CALL and LASTCALL_CALL; q :- call(_), mark_z with INITCALL_CALL.
// The environment keeps G and A across the calls and each call returns
// to the right place.
TEST_F(MetaCall, CallFormsKeepTheirEnvironment)
{
  target<1>("foo");
  definition *p = pred("p", 2);
  code_builder k;
  k.emit(GET_FIRST, {cb::moves({{0, 0}, {1, 1}})});
  k.emit(FIRSTCALL_CALL, {cb::args(0, {cb::value(0), cb::value(1)}), cb::n(2), cb::env(2)});
  k.emit(CALL_CALL, {cb::args(0, {cb::value(0), cb::value(1)}), cb::n(2), cb::env(2)});
  k.emit(LASTCALL_CALL, {cb::args(0, {cb::value(0), cb::value(1)}), cb::n(2)});
  clause(p, k);
  EXPECT_EQ(run(p, {atom("foo"), atom("a")}), 1);
  ASSERT_EQ(hits.size(), 3u);
  for (const hit &h : hits)
    EXPECT_EQ(h.args, std::vector<TAGGED>{atom("a")});
  close_query();

  definition *q = pred("q", 0);
  code_builder k2;
  k2.emit(INITCALL_CALL, {cb::args(0, {cb::heap_var()}), cb::n(1), cb::env(0)});
  k2.emit(LASTCALL, {cb::args(0, {}), cb::def(marker<'z'>())});
  clause(q, k2);
  trace.clear();
  EXPECT_EQ(run(q), 1);
  EXPECT_EQ(trace, "Iz") << "the escape returns to the instruction after INITCALL_CALL";
  close_query();
}

// ---- Declarations and direct calls ----

TEST_F(MetaCall, BlockDeclarationsReplaceWhatTheySubsume)
{
  TAGGED m = atom("-"), q = atom("?");
  struct decl_case {
    const char *why;
    std::vector<std::vector<TAGGED>> declared;  // arguments of p/N, in order
    std::vector<TAGGED> listed;                // $block_declaration, as declared
  };
  auto p = [&](std::vector<TAGGED> a) {
    TAGGED *h = heap(1 + static_cast<int>(a.size()));
    h[0] = MakeFunctor(atom("bp"), static_cast<unsigned>(a.size()));
    for (std::size_t i = 0; i < a.size(); i++)
      h[1 + i] = a[i];
    return MakeSTR(h);
  };
  const decl_case cases[] = {
      {"p(-,-,?) then p(-,?,?): the second subsumes the first", {{m, m, q}, {m, q, q}}, {p({m, q, q})}},
      {"p(-,?,?) then p(-,-,?): the first already covers the second", {{m, q, q}, {m, m, q}}, {p({m, q, q})}},
      {"p(-,?,?) then p(?,-,?): both stay, in declaration order", {{m, q, q}, {q, m, q}}, {p({m, q, q}), p({q, m, q})}},
  };
  for (const decl_case &c : cases) {
    definition *d = native("bp", 3, rec<3>);
    for (const auto &args : c.declared) {
      w->term[0] = p(args);
      ASSERT_EQ(prolog_block(w), 1) << c.why;
    }
    TAGGED specs = var();
    set_args({p({var(), var(), var()}), atom("user"), specs});
    ASSERT_EQ(prolog_block_declaration(w), 1) << c.why;
    std::vector<TAGGED> got;
    for (TAGGED l = deref(specs); IsList(l); l = deref(TagToLST(l)[1]))
      got.push_back(deref(TagToLST(l)[0]));
    ASSERT_EQ(got.size(), c.listed.size()) << c.why;
    for (std::size_t i = 0; i < got.size(); i++)
      for (int a = 1; a <= 3; a++)
        EXPECT_EQ(deref(TagToSTR(got[i])[a]), deref(TagToSTR(c.listed[i])[a])) << c.why << ": condition " << i;
    EXPECT_EQ(d->proc.enter_instr, BLOCKPOINT) << c.why;
    undefine_predicate(d);
  }
}

TEST_F(MetaCall, MetaPredicateDeclarations)
{
  module("mm");
  definition *d = native("mp", 3, rec<3>, "mm");
  w->term[0] = qualified("mm", structure(atom("mp"), {atom(":"), atom("?"), MakeSmall_checked(0)}));
  ASSERT_EQ(prolog_meta_predicate(w), 1);
  ASSERT_NE(d->metainfo, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(d->metainfo)), std::string("\x01\x03"));
  EXPECT_FALSE(fast_callable(d)) << "a meta predicate is never called directly";
  TAGGED spec = var();
  set_args({structure(atom("mp"), {var(), var(), var()}), atom("mm"), spec});
  ASSERT_EQ(prolog_meta_declaration(w), 1);
  TAGGED *s = TagToSTR(deref(spec));
  EXPECT_EQ(s[1], atom(":"));
  EXPECT_EQ(s[2], atom("?"));
  EXPECT_EQ(s[3], atom(":"));
}

// goal_expansion/5 in the goal's module decides whether $fast_goal holds:
// a clause that fits any first argument may expand every goal; an indexed
// one only goals of its key.
TEST_F(MetaCall, GoalExpansionDecidesFastGoals)
{
  native("fg", 0, rec<0>, "gm");
  native("other", 0, rec<0>, "gm");
  auto fast = [&](const char *goal) {
    set_args({atom(goal), atom("gm")});
    return prolog_fast_goal(w);
  };
  EXPECT_EQ(fast("fg"), 1) << "no goal_expansion/5 at all";
  EXPECT_EQ(fast("nonesuch"), 0) << "an undefined predicate";
  definition *ge = pred("goal_expansion", 5, ENTER_COMPACTCODE_INDEXED, "gm");
  code_builder b;
  b.emit(GET_CONSTANT_X0, {cb::t(atom("fg"))});
  b.emit(PROCEED);
  clause(ge, b, 0x17, atom("fg"));
  EXPECT_EQ(fast("fg"), 0) << "goal_expansion/5 is indexed under fg";
  EXPECT_EQ(fast("other"), 1) << "goal_expansion/5 cannot apply to other";
  code_builder any;
  any.emit(PROCEED);
  clause(ge, any);
  EXPECT_EQ(fast("other"), 0) << "a clause with an unbound first argument applies to every goal";
}

TEST_F(MetaCall, RunDetermCallsOnlyNativeBuiltins)
{
  native("det", 2, rec<2>, "prolog");
  definition *compiled = pred("det_compiled", 1, ENTER_COMPACTCODE, "prolog");
  code_builder b;
  b.emit(EXECUTE, {cb::def(native("never", 0, rec<0>))});
  clause(compiled, b);
  EXPECT_EQ(run_determ_c(w, structure(atom("det"), {atom("a"), atom("b")})), 1);
  ASSERT_EQ(hits.size(), 1u);
  EXPECT_EQ(hits[0].args, (std::vector<TAGGED>{atom("a"), atom("b")}));
  EXPECT_EQ(run_determ_c(w, structure(atom("det_compiled"), {atom("a")})), 0);
  EXPECT_EQ(run_determ_c(w, atom("no_such_builtin")), 0);
  EXPECT_EQ(hits.size(), 1u) << "nothing else ran";
}

}  // namespace
