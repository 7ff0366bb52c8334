// Head unification in the emulator: the binders of wam_unify.h on their own
// (binding rule, direction rule, local-value rule, boxed numbers), then
// small clauses built with the code builder and run as queries, each
// instruction in write mode (an unbound argument) and in read mode (a bound
// one).
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "wam_fixture.h"
#include "wam_unify.h"

namespace {

// ---------------------------------------------------------------------------
// Binders, run directly against a worker.

struct WamBinders : WorkerFixture {
  TAGGED *heap(int n)
  {
    TAGGED *h = w->global_top;
    w->global_top += n;
    return h;
  }
  TAGGED var()
  {
    TAGGED *h = heap(1);
    *h = PointerToTerm(h);
    return *h;
  }
  // A constrained variable: marker, cell, attribute, goals.
  TAGGED cva()
  {
    TAGGED *h = heap(4);
    h[0] = CVA_MARKER;
    h[1] = PointerToTerm(h + 1);
    h[2] = atom_nil;
    h[3] = atom_nil;
    return h[1];
  }
  // A cell in the local stack, above local_top as a fresh environment's.
  TAGGED local_var(int i)
  {
    TAGGED *c = w->local_top + 2 + i;
    *c = PointerToTerm(c);
    return *c;
  }
  // Pretend a choicepoint was pushed now: everything so far is "old".
  void choicepoint_here()
  {
    w->global_uncond = w->global_top;
    w->local_uncond = w->local_top + 64;
  }
  long trail_size() const { return w->trail_top - w->trail_start; }
  TAGGED trail_last() const { return w->trail_top[-1]; }
};

TEST_F(WamBinders, ConstrainedVariableIsTrailedAndWakesEvenWhenYoung)
{
  TAGGED v = cva();  // younger than the newest choicepoint: no trail by age
  const long trail0 = trail_size();
  w->heap_warn_soft = w->heap_warn;
  const unsigned wake0 = w->wake_count;
  wam_bind(w, TagToRef(v), atom_nil, w->global_top);
  EXPECT_EQ(*TagToRef(v), atom_nil);
  EXPECT_EQ(w->wake_count, wake0 + 1) << "a bound constrained variable counts a wake-up";
  EXPECT_EQ(w->heap_warn_soft, nullptr) << "the soft heap limit must be cleared";
  ASSERT_EQ(trail_size(), trail0 + 1) << "a constrained variable is trailed whatever its age";
  EXPECT_EQ(trail_last(), v);
}

TEST_F(WamBinders, PlainBindingsAreTrailedOnlyWhenOlderThanTheChoicepoint)
{
  TAGGED old_heap = var();
  TAGGED old_local = local_var(0);
  choicepoint_here();
  TAGGED young_heap = var();
  TAGGED young_local = PointerToTerm(w->local_top + 64 + 2);
  *TagToRef(young_local) = young_local;
  w->heap_warn_soft = w->heap_warn;
  struct {
    const char *what;
    TAGGED cell;
    bool trailed;
  } cases[] = {
      {"heap cell below global_uncond", old_heap, true},
      {"heap cell above global_uncond", young_heap, false},
      {"local cell below local_uncond", old_local, true},
      {"local cell above local_uncond", young_local, false},
  };
  for (auto &c : cases) {
    const long before = trail_size();
    wam_bind(w, TagToRef(c.cell), MakeSmall_checked(7), w->global_top);
    EXPECT_EQ(*TagToRef(c.cell), MakeSmall_checked(7)) << c.what;
    EXPECT_EQ(trail_size() - before, c.trailed ? 1 : 0) << c.what;
  }
  EXPECT_EQ(w->wake_count, 0u) << "binding plain variables wakes nothing";
  EXPECT_EQ(w->heap_warn_soft, w->heap_warn);
}

// In write mode global_top is stale: a cell between it and H is still a
// heap cell, and the rule must ask H, not global_top.
TEST_F(WamBinders, HeapCellIsJudgedAgainstTheGivenHeapTop)
{
  choicepoint_here();
  TAGGED *H = w->global_top;
  H[0] = PointerToTerm(H);  // a variable written in write mode
  H[1] = CVA_MARKER;
  H[2] = PointerToTerm(H + 2);
  w->heap_warn_soft = w->heap_warn;
  wam_bind(w, H + 2, atom_nil, H + 4);
  EXPECT_EQ(w->wake_count, 1u) << "the cell below H must be taken for a constrained heap variable";
}

TEST_F(WamBinders, DirectionRuleForTwoVariables)
{
  w->heap_warn_soft = w->heap_warn;
  // Older plain heap cell, younger plain heap cell: the younger is bound.
  {
    TAGGED a = var(), b = var();
    wam_bind_vars(w, a, b, w->global_top);
    EXPECT_EQ(*TagToRef(b), a);
    EXPECT_EQ(*TagToRef(a), a);
  }
  // Heap and local: the local one is bound whatever the order of arguments.
  {
    TAGGED h = var(), l = local_var(3);
    wam_bind_vars(w, l, h, w->global_top);
    EXPECT_EQ(*TagToRef(l), h);
    EXPECT_EQ(*TagToRef(h), h);
  }
  // Younger constrained, older plain: the plain one is bound, no wake-up.
  {
    TAGGED plain = var(), c = cva();
    wam_bind_vars(w, c, plain, w->global_top);
    EXPECT_EQ(*TagToRef(plain), c);
    EXPECT_EQ(*TagToRef(c), c);
    EXPECT_EQ(w->wake_count, 0u);
  }
  // Older constrained, younger plain: the plain one is bound, no wake-up.
  {
    TAGGED c = cva(), plain = var();
    wam_bind_vars(w, plain, c, w->global_top);
    EXPECT_EQ(*TagToRef(plain), c);
    EXPECT_EQ(w->wake_count, 0u);
  }
  // Two constrained: the younger is bound, trailed and woken.
  {
    TAGGED c1 = cva(), c2 = cva();
    choicepoint_here();
    const long before = trail_size();
    wam_bind_vars(w, c1, c2, w->global_top);
    EXPECT_EQ(*TagToRef(c2), c1);
    EXPECT_EQ(w->wake_count, 1u);
    EXPECT_EQ(w->heap_warn_soft, nullptr);
    EXPECT_EQ(trail_size(), before + 1);
  }
}

TEST_F(WamBinders, UnifyDecidesTopLevelAndHandsArgumentsToTheGeneralUnifier)
{
  TAGGED v = var();
  EXPECT_EQ(wam_unify(w, v, v), 1) << "a variable with itself binds nothing";
  EXPECT_EQ(*TagToRef(v), v);
  EXPECT_EQ(wam_unify(w, atom_nil, MakeSmall_checked(1)), 0);
  EXPECT_EQ(wam_unify(w, atom_nil, MakeLST(heap(2))), 0) << "different tags";
  TAGGED *l1 = heap(2), *l2 = heap(2);
  TAGGED x = var();
  l1[0] = MakeSmall_checked(1);
  l1[1] = atom_nil;
  l2[0] = x;
  l2[1] = atom_nil;
  EXPECT_EQ(wam_unify(w, MakeLST(l1), MakeLST(l2)), 1);
  EXPECT_EQ(deref(x), MakeSmall_checked(1));
  TAGGED f1 = make_float(w, 1.5), f2 = make_float(w, 1.5), f3 = make_float(w, 2.5);
  EXPECT_EQ(wam_unify(w, f1, f2), 1);
  EXPECT_EQ(wam_unify(w, f1, f3), 0);
  EXPECT_EQ(wam_unify(w, f1, make_int64(w, 1LL << 40)), 0) << "a float never equals an integer box";
}

TEST_F(WamBinders, LocalValueRuleNeverLeavesAHeapCellPointingIntoTheLocalStack)
{
  // An unbound local variable is moved to the heap cell being written.
  {
    TAGGED l = local_var(0);
    TAGGED *dest = heap(1);
    wam_push_local_value(w, dest, l);
    EXPECT_EQ(*dest, PointerToTerm(dest)) << "the written cell becomes a new variable";
    EXPECT_EQ(*TagToRef(l), PointerToTerm(dest)) << "the local variable refers to it";
  }
  // A chain local -> local -> heap variable stops at the heap reference.
  {
    TAGGED h = var();
    TAGGED l1 = local_var(1), l2 = local_var(2);
    *TagToRef(l2) = h;
    *TagToRef(l1) = l2;
    TAGGED *dest = heap(1);
    wam_push_local_value(w, dest, l1);
    EXPECT_EQ(*dest, h);
  }
  // A reference to a heap variable is pushed as it stands, not followed.
  {
    TAGGED h = var(), h2 = var();
    *TagToRef(h2) = h;
    TAGGED *dest = heap(1);
    wam_push_local_value(w, dest, h2);
    EXPECT_EQ(*dest, h2);
  }
  // A local variable bound to a constant gives the constant.
  {
    TAGGED l = local_var(4);
    *TagToRef(l) = atom_nil;
    TAGGED *dest = heap(1);
    wam_push_local_value(w, dest, l);
    EXPECT_EQ(*dest, atom_nil);
  }
}

TEST_F(WamBinders, UnifyLargeMatchesAndBindsBoxes)
{
  const TAGGED one_digit[2] = {BOX_INT1, 0x40000000u};
  const TAGGED two_digits[3] = {BOX_INT2, 0u, 0x100u};
  double d = 2.5;
  TAGGED fl[3] = {BOX_FLOAT, 0, 0};
  std::memcpy(fl + 1, &d, sizeof d);
  struct {
    const char *what;
    const TAGGED *code;
    TAGGED equal;
    TAGGED other;
  } cases[] = {
      {"1-digit integer", one_digit, make_int64(w, 0x40000000LL), make_int64(w, 0x40000001LL)},
      {"2-digit integer", two_digits, make_int64(w, 1LL << 40), make_int64(w, (1LL << 40) + 1)},
      {"float", fl, make_float(w, 2.5), make_float(w, -2.5)},
  };
  for (auto &c : cases) {
    EXPECT_EQ(unify_large(w, c.code, c.equal), 1) << c.what;
    EXPECT_EQ(unify_large(w, c.code, c.other), 0) << c.what;
    EXPECT_EQ(unify_large(w, c.code, MakeSmall_checked(3)), 0) << c.what;
    EXPECT_EQ(unify_large(w, c.code, atom_nil), 0) << c.what;
    TAGGED v = var();
    EXPECT_EQ(unify_large(w, c.code, v), 1) << c.what;
    TAGGED bound = deref(v);
    ASSERT_TRUE(IsStructure(bound)) << c.what;
    EXPECT_EQ(cunify(w, bound, c.equal), 1) << c.what << ": the copy must equal the number";
    const TAGGED *box = TagToSTR(bound);
    EXPECT_EQ(box[BoxWords(box[0])], box[0]) << c.what << ": the copy needs its trailer";
  }
  // A structure of another kind with a matching-looking word is not read
  // past its end.
  TAGGED *s = heap(2);
  s[0] = MakeFunctor(MakeAtom(5), 1);
  s[1] = 0x40000000u;
  EXPECT_EQ(unify_large(w, one_digit, MakeSTR(s)), 0);
}

TEST_F(WamBinders, ForeignResultTerms)
{
  TAGGED *H = w->global_top;
  EXPECT_EQ(wam_integer_result(H, 5), MakeSmall_checked(5));
  EXPECT_EQ(H, w->global_top) << "a small integer takes no heap";
  TAGGED big = wam_integer_result(H, 1 << 29);
  ASSERT_TRUE(IsStructure(big));
  EXPECT_EQ(H, w->global_top + 3);
  EXPECT_EQ(TagToSTR(big)[0], BOX_INT1);
  EXPECT_EQ(TagToSTR(big)[1], static_cast<TAGGED>(1 << 29));
  EXPECT_EQ(TagToSTR(big)[2], BOX_INT1);
  TAGGED f = wam_float_result(H, -0.25);
  w->global_top = H;
  EXPECT_EQ(vri_get_float(f), -0.25);
  EXPECT_EQ(TagToSTR(f)[3], BOX_FLOAT);
}

// ---------------------------------------------------------------------------
// Instructions in the emulator.

struct WamHead : WamFixture {
  int seq = 0;

  // A predicate with one clause (it fits any first argument, so the clause
  // is entered in write mode and every argument is matched in full).
  definition *one_clause(int arity, const std::function<void(code_builder &)> &emit, unsigned ix = IX_CASES,
                         TAGGED key = 0)
  {
    char name[32];
    std::snprintf(name, sizeof name, "head_%d", seq++);
    definition *d = pred(name, arity);
    code_builder b;
    emit(b);
    clause(d, b, ix, key);
    return d;
  }
  // Runs d once and closes the query; the bindings stay visible.
  int once(definition *d, std::initializer_list<TAGGED> args)
  {
    int r = run(d, args);
    close_query();
    return r;
  }
  TAGGED bound_var(TAGGED value)
  {
    TAGGED v = var();
    *TagToRef(v) = value;
    return v;
  }
  static TAGGED s(int i) { return MakeSmall_checked(i); }
  TAGGED fn(const char *name, int arity) { return MakeFunctor(atom(name), static_cast<unsigned>(arity)); }
  // Structural equality of two terms (the test's oracle).
  bool same(TAGGED a, TAGGED b)
  {
    a = deref(a);
    b = deref(b);
    if (a == b)
      return true;
    if (tag_of(a) != tag_of(b) || IsVar(a) || IsAtomic(a))
      return false;
    if (IsList(a))
      return same(TagToLST(a)[0], TagToLST(b)[0]) && same(TagToLST(a)[1], TagToLST(b)[1]);
    const TAGGED *x = TagToSTR(a), *y = TagToSTR(b);
    if (x[0] != y[0])
      return false;
    unsigned n = IsBoxHeader(x[0]) ? BoxWords(x[0]) : Arity(x[0]) + 1;
    for (unsigned i = 1; i < n; i++)
      if (IsBoxHeader(x[0]) ? x[i] != y[i] : !same(x[i], y[i]))
        return false;
    return true;
  }
};

// GET_CONSTANT, GET_NIL and the constant argument steps, each entered
// with an unbound variable (binds), the same constant, a reference to it,
// another constant and a compound term.
TEST_F(WamHead, ConstantsMatchOrBind)
{
  const TAGGED a = atom("a");
  struct insn_case {
    const char *what;
    std::function<void(code_builder &)> code;
    TAGGED c;  // the constant the clause expects
    bool inside;  // the constant sits inside f/1
  };
  std::vector<insn_case> insns = {
      {"GET_CONSTANT", [&](code_builder &b) { b.emit(GET_CONSTANT, {cb::x(0), cb::t(a)}); b.emit(PROCEED); }, a, false},
      {"GET_CONSTANT small", [&](code_builder &b) { b.emit(GET_CONSTANT, {cb::x(0), cb::t(s(-3))}); b.emit(PROCEED); }, s(-3), false},
      {"GET_NIL", [&](code_builder &b) { b.emit(GET_NIL, {cb::x(0)}); b.emit(PROCEED); }, atom_nil, false},
      {"UNIFY_CONSTANT", [&](code_builder &b) {
         b.emit(GET_STRUCTURE, {cb::x(0), cb::f(fn("f", 1))});
         b.emit(UNIFY_CONSTANT, {cb::t(a)});
         b.emit(PROCEED); }, a, true},
      {"UNIFY_NIL", [&](code_builder &b) {
         b.emit(GET_STRUCTURE, {cb::x(0), cb::f(fn("f", 1))});
         b.emit(UNIFY_NIL);
         b.emit(PROCEED); }, atom_nil, true},
      {"UNIFY_CONSTANT_PROCEED", [&](code_builder &b) {
         b.emit(GET_STRUCTURE, {cb::x(0), cb::f(fn("f", 1))});
         b.emit(UNIFY_CONSTANT_PROCEED, {cb::t(a)}); }, a, true},
      {"UNIFY_NIL_PROCEED", [&](code_builder &b) {
         b.emit(GET_STRUCTURE, {cb::x(0), cb::f(fn("f", 1))});
         b.emit(UNIFY_NIL_PROCEED); }, atom_nil, true},
  };
  for (auto &ic : insns) {
    definition *d = one_clause(1, ic.code);
    auto wrap = [&](TAGGED t) { return ic.inside ? structure(atom("f"), {t}) : t; };
    struct {
      const char *arg;
      TAGGED term;
      int result;
    } args[] = {
        {"itself", wrap(ic.c), 1},
        {"a reference to it", wrap(bound_var(ic.c)), 1},
        {"another constant", wrap(atom("zz")), 0},
        {"an integer", wrap(s(99)), 0},
        {"a compound", wrap(structure(atom("g"), {ic.c})), 0},
    };
    for (auto &a2 : args)
      EXPECT_EQ(once(d, {a2.term}), a2.result) << ic.what << " against " << a2.arg;
    // An unbound variable: the whole argument (write mode for GET_STRUCTURE
    // as well) or the argument cell (read mode).
    TAGGED v = var();
    ASSERT_EQ(once(d, {v}), 1) << ic.what << " against an unbound variable";
    EXPECT_TRUE(same(v, wrap(ic.c))) << ic.what << ": variable not bound to the expected term";
    if (ic.inside) {
      TAGGED inner = var();
      ASSERT_EQ(once(d, {structure(atom("f"), {inner})}), 1) << ic.what << " with an unbound argument";
      EXPECT_EQ(deref(inner), ic.c) << ic.what << ": the argument variable must be bound";
    }
  }
}

// GET_FACT_2..4 match X1..X3 against constants and return.
TEST_F(WamHead, FactsMatchTheirConstantsAndReturn)
{
  const TAGGED a = atom("a"), b = atom("b"), c = atom("c");
  definition *f2 = one_clause(2, [&](code_builder &k) { k.emit(GET_FACT_2, {cb::t(a)}); });
  definition *f3 = one_clause(3, [&](code_builder &k) { k.emit(GET_FACT_3, {cb::t(a), cb::t(b)}); });
  definition *f4 = one_clause(4, [&](code_builder &k) { k.emit(GET_FACT_4, {cb::t(a), cb::t(b), cb::t(c)}); });
  EXPECT_EQ(once(f2, {atom_nil, a}), 1);
  EXPECT_EQ(once(f2, {atom_nil, b}), 0);
  EXPECT_EQ(once(f3, {atom_nil, a, b}), 1);
  EXPECT_EQ(once(f3, {atom_nil, a, c}), 0) << "X1 matches, X2 differs";
  EXPECT_EQ(once(f3, {atom_nil, c, b}), 0) << "X2 matches, X1 differs";
  EXPECT_EQ(once(f4, {atom_nil, a, b, c}), 1);
  EXPECT_EQ(once(f4, {atom_nil, a, b, a}), 0);
  TAGGED v1 = var(), v2 = var(), v3 = var();
  ASSERT_EQ(once(f4, {atom_nil, v1, v2, v3}), 1);
  EXPECT_EQ(deref(v1), a);
  EXPECT_EQ(deref(v2), b);
  EXPECT_EQ(deref(v3), c);
  // A failure after a binding: backtracking undoes the binding made first.
  TAGGED u = var();
  EXPECT_EQ(once(f3, {atom_nil, c, u}), 0);
  EXPECT_TRUE(IsVar(deref(u))) << "the binding of X2 must be undone by backtracking";
}

// p([a|T], T): GET_LIST, UNIFY_CONSTANT, UNIFY_X_VALUE.
TEST_F(WamHead, ListHeadTable)
{
  definition *d = one_clause(2, [&](code_builder &b) {
    b.emit(GET_LIST, {cb::x(0)});
    b.emit(UNIFY_CONSTANT, {cb::t(atom("a"))});
    b.emit(UNIFY_X_VALUE, {cb::x(1)});
    b.emit(PROCEED);
  });
  auto cons = [&](TAGGED h, TAGGED t) {
    TAGGED *c = heap(2);
    c[0] = h;
    c[1] = t;
    return MakeLST(c);
  };
  TAGGED hv = var(), z1 = var(), z2 = var();
  struct {
    const char *what;
    TAGGED x0, x1;
    int result;
    TAGGED expect_x1;  // 0: not checked
  } cases[] = {
      {"[a|b] gives T = b", cons(atom("a"), atom("b")), z1, 1, atom("b")},
      {"[b|c] fails on the head", cons(atom("b"), atom("c")), var(), 0, 0},
      {"an atom is not a list", atom("foo"), var(), 0, 0},
      {"f(a) is not a list", structure(atom("f"), {atom("a")}), var(), 0, 0},
      {"[V|c] binds V in read mode", cons(hv, atom("c")), z2, 1, atom("c")},
      {"[a|b] against T = c fails", cons(atom("a"), atom("b")), atom("c"), 0, 0},
  };
  for (auto &c : cases) {
    EXPECT_EQ(once(d, {c.x0, c.x1}), c.result) << c.what;
    if (c.result == 1 && c.expect_x1 != 0) {
      EXPECT_EQ(deref(c.x1), c.expect_x1) << c.what;
    }
  }
  EXPECT_EQ(deref(hv), atom("a"));
  // Write mode builds [a|T] with T itself as the tail.
  TAGGED v = var(), t = var();
  ASSERT_EQ(once(d, {v, t}), 1);
  ASSERT_TRUE(IsList(deref(v)));
  EXPECT_EQ(TagToLST(deref(v))[0], atom("a"));
  EXPECT_EQ(TagToLST(deref(v))[1], t) << "write mode pushes X1 unchanged";
}

// p(f(X, g(X)), X): GET_STRUCTURE, UNIFY_X_VARIABLE, UNIFY_STRUCTURE,
// UNIFY_X_VALUE, GET_X_VALUE.
TEST_F(WamHead, StructureHeadTable)
{
  definition *d = one_clause(2, [&](code_builder &b) {
    b.emit(GET_STRUCTURE, {cb::x(0), cb::f(fn("f", 2))});
    b.emit(UNIFY_X_VARIABLE, {cb::x(2)});
    b.emit(UNIFY_STRUCTURE, {cb::f(fn("g", 1))});
    b.emit(UNIFY_X_VALUE, {cb::x(2)});
    b.emit(GET_X_VALUE, {cb::x(2), cb::x(1)});
    b.emit(PROCEED);
  });
  TAGGED f = atom("f"), g = atom("g");
  TAGGED w1 = var(), z = var();
  struct {
    const char *what;
    TAGGED x0, x1;
    int result;
  } cases[] = {
      {"f(1, g(1)) with X = 1", structure(f, {s(1), structure(g, {s(1)})}), s(1), 1},
      {"f(1, g(2)) fails", structure(f, {s(1), structure(g, {s(2)})}), var(), 0},
      {"f(1, h(1)) fails on the inner functor", structure(f, {s(1), structure(atom("h"), {s(1)})}), var(), 0},
      {"f(1, W) binds W in UNIFY_STRUCTURE's read mode", structure(f, {s(1), w1}), z, 1},
      {"f(1) has another arity", structure(f, {s(1)}), var(), 0},
      {"a boxed integer is not a structure of f/2", make_int64(w, 1LL << 40), var(), 0},
      {"f(1, [1]) fails", structure(f, {s(1), list({s(1)})}), var(), 0},
      {"f(1, g(1)) with X = 2 fails", structure(f, {s(1), structure(g, {s(1)})}), s(2), 0},
  };
  for (auto &c : cases)
    EXPECT_EQ(once(d, {c.x0, c.x1}), c.result) << c.what;
  EXPECT_TRUE(same(w1, structure(g, {s(1)})));
  EXPECT_EQ(deref(z), s(1));
  // Write mode builds f(X, g(X)) with X the second argument.
  TAGGED v = var(), x = var();
  ASSERT_EQ(once(d, {v, x}), 1);
  TAGGED t = deref(v);
  ASSERT_TRUE(IsStructure(t));
  EXPECT_EQ(TagToSTR(t)[0], fn("f", 2));
  EXPECT_EQ(deref(TagToSTR(t)[1]), deref(x));
  EXPECT_TRUE(same(TagToSTR(t)[2], structure(g, {x})));
}

// GET_LIST_XVAR_XVAR and GET_STRUCTURE_XVAR_XVAR: p(F(A, B), A, B).
TEST_F(WamHead, XvarXvarFormsTakeBothArguments)
{
  definition *lst = one_clause(3, [&](code_builder &b) {
    b.emit(GET_LIST_XVAR_XVAR, {cb::x(0), cb::x(3), cb::x(4)});
    b.emit(GET_X_VALUE, {cb::x(3), cb::x(1)});
    b.emit(GET_X_VALUE, {cb::x(4), cb::x(2)});
    b.emit(PROCEED);
  });
  definition *str = one_clause(3, [&](code_builder &b) {
    b.emit(GET_STRUCTURE_XVAR_XVAR, {cb::x(0), cb::f(fn("f", 2)), cb::x(3), cb::x(4)});
    b.emit(GET_X_VALUE, {cb::x(3), cb::x(1)});
    b.emit(GET_X_VALUE, {cb::x(4), cb::x(2)});
    b.emit(PROCEED);
  });
  auto cons = [&](TAGGED h, TAGGED t) {
    TAGGED *c = heap(2);
    c[0] = h;
    c[1] = t;
    return MakeLST(c);
  };
  EXPECT_EQ(once(lst, {cons(s(1), s(2)), s(1), s(2)}), 1);
  EXPECT_EQ(once(lst, {cons(s(1), s(3)), s(1), s(2)}), 0);
  EXPECT_EQ(once(lst, {atom_nil, s(1), s(2)}), 0);
  EXPECT_EQ(once(str, {structure(atom("f"), {s(1), s(2)}), s(1), s(2)}), 1);
  EXPECT_EQ(once(str, {structure(atom("g"), {s(1), s(2)}), s(1), s(2)}), 0);
  EXPECT_EQ(once(str, {structure(atom("f"), {s(2), s(2)}), s(1), s(2)}), 0);
  TAGGED v = var();
  ASSERT_EQ(once(lst, {v, s(1), s(2)}), 1);
  EXPECT_TRUE(same(v, cons(s(1), s(2))));
  v = var();
  ASSERT_EQ(once(str, {v, s(1), atom("b")}), 1);
  EXPECT_TRUE(same(v, structure(atom("f"), {s(1), atom("b")})));
}

// UNIFY_VOID and UNIFY_VOID_1..4: p(f(_, ..., _, X), X).
TEST_F(WamHead, VoidStepsSkipOrPushFreshVariables)
{
  for (unsigned n : {1u, 2u, 3u, 4u, 7u}) {
    definition *d = one_clause(2, [&](code_builder &b) {
      b.emit(GET_STRUCTURE, {cb::x(0), cb::f(fn("f", n + 1))});
      if (n == 7)
        b.emit(UNIFY_VOID, {cb::n(7)});
      else
        b.emit(UNIFY_VOID_1 + static_cast<int>(n) - 1);
      b.emit(UNIFY_X_VALUE, {cb::x(1)});
      b.emit(PROCEED);
    });
    TAGGED *h = heap(static_cast<int>(n) + 2);
    h[0] = fn("f", n + 1);
    for (unsigned i = 1; i <= n; i++)
      h[i] = s(static_cast<int>(i));
    h[n + 1] = atom("last");
    TAGGED z = var();
    ASSERT_EQ(once(d, {MakeSTR(h), z}), 1) << n << " voids, read mode";
    EXPECT_EQ(deref(z), atom("last")) << n << " voids: S must skip exactly " << n << " cells";
    TAGGED v = var();
    ASSERT_EQ(once(d, {v, atom("x")}), 1) << n << " voids, write mode";
    const TAGGED *built = TagToSTR(deref(v));
    for (unsigned i = 1; i <= n; i++)
      EXPECT_EQ(built[i], PointerToTerm(built + i)) << n << " voids: argument " << i << " must be a new variable";
    EXPECT_EQ(built[n + 1], atom("x"));
  }
}

// Every U2_ pair, built as p(f(...), A, B) where the first non-void argument
// is A and the second is B; VOID elements take 2 cells.  XVAR elements load
// X3/X4, which are then unified with A/B.
TEST_F(WamHead, PairInstructionsInBothModes)
{
  enum kind { VOID, XVAR, XVAL, XLVAL };
  struct pair_case {
    int insn;
    kind k1, k2;
  } pairs[] = {
      {U2_VOID_XVAR, VOID, XVAR},   {U2_VOID_XVAL, VOID, XVAL},   {U2_VOID_XLVAL, VOID, XLVAL},
      {U2_XVAR_VOID, XVAR, VOID},   {U2_XVAR_XVAR, XVAR, XVAR},   {U2_XVAR_XVAL, XVAR, XVAL},
      {U2_XVAR_XLVAL, XVAR, XLVAL}, {U2_XVAL_VOID, XVAL, VOID},   {U2_XLVAL_VOID, XLVAL, VOID},
      {U2_XVAL_XVAR, XVAL, XVAR},   {U2_XLVAL_XVAR, XLVAL, XVAR}, {U2_XVAL_XVAL, XVAL, XVAL},
      {U2_XLVAL_XVAL, XLVAL, XVAL}, {U2_XVAL_XLVAL, XVAL, XLVAL}, {U2_XLVAL_XLVAL, XLVAL, XLVAL},
  };
  for (auto &pc : pairs) {
    const std::string name = insnname[pc.insn];
    const kind ks[2] = {pc.k1, pc.k2};
    unsigned arity = 0;
    std::vector<int> value_pos;  // argument positions (1-based) of A and B
    for (kind k : ks) {
      if (k == VOID) {
        arity += 2;
      } else {
        value_pos.push_back(static_cast<int>(++arity));
      }
    }
    definition *d = one_clause(3, [&](code_builder &b) {
      b.emit(GET_STRUCTURE, {cb::x(0), cb::f(fn("f", arity))});
      std::vector<cb_operand> ops;
      int nth = 0;
      for (kind k : ks) {
        if (k == VOID)
          ops.push_back(cb::n(2));
        else if (k == XVAR)
          ops.push_back(cb::x(3 + nth++));
        else
          ops.push_back(cb::x(1 + nth++));
      }
      b.emit(pc.insn, ops);
      nth = 0;
      for (kind k : ks) {
        if (k == VOID)
          continue;
        if (k == XVAR)
          b.emit(GET_X_VALUE, {cb::x(3 + nth), cb::x(1 + nth)});
        nth++;
      }
      b.emit(PROCEED);
    });
    auto make = [&](TAGGED a, TAGGED bb) {
      TAGGED *h = heap(static_cast<int>(arity) + 1);
      h[0] = fn("f", arity);
      for (unsigned i = 1; i <= arity; i++)
        h[i] = atom("void");
      h[value_pos[0]] = a;
      h[value_pos[1 % value_pos.size()]] = value_pos.size() > 1 ? bb : a;
      return MakeSTR(h);
    };
    const bool two = value_pos.size() > 1;
    TAGGED B = two ? s(2) : var();
    // Read mode.
    EXPECT_EQ(once(d, {make(s(1), s(2)), s(1), B}), 1) << name << ": matching term";
    EXPECT_EQ(once(d, {make(s(9), s(2)), s(1), two ? s(2) : var()}), 0) << name << ": first value differs";
    if (two) {
      EXPECT_EQ(once(d, {make(s(1), s(9)), s(1), s(2)}), 0) << name << ": second value differs";
    }
    TAGGED a = var(), b = var();
    ASSERT_EQ(once(d, {make(s(5), s(6)), a, two ? b : var()}), 1) << name << ": unbound registers";
    EXPECT_EQ(deref(a), s(5)) << name;
    if (two) {
      EXPECT_EQ(deref(b), s(6)) << name;
    }
    // Write mode: the term is built with the registers' values, voids fresh.
    TAGGED v = var();
    ASSERT_EQ(once(d, {v, s(1), two ? s(2) : var()}), 1) << name << ": write mode";
    const TAGGED *built = TagToSTR(deref(v));
    ASSERT_EQ(built[0], fn("f", arity)) << name;
    EXPECT_EQ(deref(built[value_pos[0]]), s(1)) << name;
    if (two) {
      EXPECT_EQ(deref(built[value_pos[1]]), s(2)) << name;
    }
    for (unsigned i = 1; i <= arity; i++) {
      bool is_value = false;
      for (int p : value_pos)
        is_value = is_value || p == static_cast<int>(i);
      if (!is_value) {
        EXPECT_EQ(built[i], PointerToTerm(built + i)) << name << ": void argument " << i;
      }
    }
  }
}

// Register moves, each observed through GET_X_VALUE of the target into X5.
TEST_F(WamHead, RegisterMoves)
{
  struct move {
    int insn;
    int to, from;  // 4 stands for the operand register X4
  } moves[] = {
      {GET_X0_X1, 0, 1}, {GET_X0_X2, 0, 2}, {GET_X0_X3, 0, 3}, {GET_X0_Xn, 0, 4}, {GET_X1_X0, 1, 0},
      {GET_X1_X2, 1, 2}, {GET_X1_X3, 1, 3}, {GET_X1_Xn, 1, 4}, {GET_X2_X0, 2, 0}, {GET_X2_X1, 2, 1},
      {GET_X2_X3, 2, 3}, {GET_X2_Xn, 2, 4}, {GET_X3_X0, 3, 0}, {GET_X3_X1, 3, 1}, {GET_X3_X2, 3, 2},
      {GET_X3_Xn, 3, 4}, {GET_Xn_X0, 4, 0}, {GET_Xn_X1, 4, 1}, {GET_Xn_X2, 4, 2}, {GET_Xn_X3, 4, 3},
  };
  for (auto &m : moves) {
    definition *d = one_clause(6, [&](code_builder &b) {
      const std::string name = insnname[m.insn];
      if (name.find("Xn") != std::string::npos)
        b.emit(m.insn, {cb::x(4)});
      else
        b.emit(m.insn);
      b.emit(GET_X_VALUE, {cb::x(static_cast<unsigned>(m.to)), cb::x(5)});
      b.emit(PROCEED);
    });
    TAGGED out = var();
    ASSERT_EQ(once(d, {s(10), s(11), s(12), s(13), s(14), out}), 1) << insnname[m.insn];
    EXPECT_EQ(deref(out), s(10 + m.from)) << insnname[m.insn];
  }
  definition *xv = one_clause(3, [&](code_builder &b) {
    b.emit(GET_XVAR_XVAR, {cb::x(0), cb::x(4), cb::x(1), cb::x(5)});
    b.emit(GET_X_VARIABLE, {cb::x(4), cb::x(6)});
    b.emit(GET_X_VALUE, {cb::x(6), cb::x(2)});
    b.emit(GET_X_VALUE, {cb::x(5), cb::x(2)});
    b.emit(PROCEED);
  });
  TAGGED out = var();
  EXPECT_EQ(once(xv, {s(1), s(1), out}), 1);
  EXPECT_EQ(deref(out), s(1));
  EXPECT_EQ(once(xv, {s(1), s(2), var()}), 0);
}

TEST_F(WamHead, ValueUnification)
{
  definition *d = one_clause(2, [&](code_builder &b) {
    b.emit(GET_X_VALUE, {cb::x(0), cb::x(1)});
    b.emit(PROCEED);
  });
  definition *dp = one_clause(2, [&](code_builder &b) { b.emit(GET_X_VALUE_PROCEED, {cb::x(0), cb::x(1)}); });
  for (definition *p : {d, dp}) {
    TAGGED v = var();
    EXPECT_EQ(once(p, {v, v}), 1) << "the same variable twice";
    EXPECT_EQ(*TagToRef(v), v) << "nothing may be bound";
    EXPECT_EQ(once(p, {structure(atom("f"), {s(1), list({s(2)})}), structure(atom("f"), {s(1), list({s(2)})})}), 1);
    EXPECT_EQ(once(p, {structure(atom("f"), {s(1), list({s(2)})}), structure(atom("f"), {s(1), list({s(3)})})}), 0);
    EXPECT_EQ(once(p, {make_float(w, 0.5), make_float(w, 0.5)}), 1);
    EXPECT_EQ(once(p, {atom("a"), atom("b")}), 0);
    TAGGED x = var(), y = var();
    ASSERT_EQ(once(p, {x, y}), 1);
    EXPECT_EQ(deref(x), deref(y));
    EXPECT_EQ(*TagToRef(x), x) << "of two heap variables the younger is bound";
  }
}

// Y variables: p(X, Y) :- true, X = Y, with the last unification fused with
// the release of the environment.  Also UNIFY_Y_VALUE_PROGRESS: p(f(Y), Y).
TEST_F(WamHead, ProgressFormsReleaseTheEnvironmentAndReturn)
{
  definition *gy = one_clause(2, [&](code_builder &b) {
    b.emit(GET_Y_FIRST_VARIABLE, {cb::x(1), cb::y(0)});
    b.emit(GET_Y_VARIABLE, {cb::x(0), cb::y(1)});
    b.emit(FIRSTCALL, {cb::args(0, {}), cb::def(preds.true0), cb::env(2)});
    b.emit(PUT_Y_VALUE, {cb::x(0), cb::y(1)});
    b.emit(GET_Y_VALUE_PROGRESS, {cb::x(0), cb::y(0)});
  });
  auto fy = [&](int insn) {
    return one_clause(2, [&](code_builder &b) {
      b.emit(GET_Y_FIRST_VARIABLE, {cb::x(1), cb::y(0)});
      b.emit(GET_Y_VARIABLE, {cb::x(0), cb::y(1)});
      b.emit(FIRSTCALL, {cb::args(0, {}), cb::def(preds.true0), cb::env(2)});
      b.emit(PUT_Y_VALUE, {cb::x(0), cb::y(1)});
      b.emit(GET_STRUCTURE, {cb::x(0), cb::f(fn("f", 1))});
      b.emit(insn, {cb::y(0)});
    });
  };
  auto fc = [&](int insn, TAGGED c) {
    return one_clause(1, [&](code_builder &b) {
      b.emit(GET_Y_FIRST_VARIABLE, {cb::x(0), cb::y(0)});
      b.emit(FIRSTCALL, {cb::args(0, {}), cb::def(preds.true0), cb::env(1)});
      b.emit(PUT_Y_VALUE, {cb::x(0), cb::y(0)});
      b.emit(GET_STRUCTURE, {cb::x(0), cb::f(fn("f", 1))});
      if (insn == UNIFY_NIL_PROGRESS)
        b.emit(insn);
      else
        b.emit(insn, {cb::t(c)});
    });
  };
  TAGGED *local0 = w->local_top;
  EXPECT_EQ(once(gy, {s(1), s(1)}), 1);
  EXPECT_EQ(once(gy, {s(1), s(2)}), 0);
  TAGGED v = var();
  EXPECT_EQ(once(gy, {v, atom("a")}), 1);
  EXPECT_EQ(deref(v), atom("a"));
  EXPECT_EQ(w->local_top, local0) << "the environment must be released";
  for (int insn : {UNIFY_Y_VALUE_PROGRESS, UNIFY_Y_LOCAL_VALUE_PROGRESS}) {
    definition *d = fy(insn);
    EXPECT_EQ(once(d, {structure(atom("f"), {s(3)}), s(3)}), 1) << insnname[insn];
    EXPECT_EQ(once(d, {structure(atom("f"), {s(3)}), s(4)}), 0) << insnname[insn];
    TAGGED t = var();
    ASSERT_EQ(once(d, {t, atom("b")}), 1) << insnname[insn];
    EXPECT_TRUE(same(t, structure(atom("f"), {atom("b")}))) << insnname[insn];
    EXPECT_EQ(w->local_top, local0) << insnname[insn];
  }
  for (int insn : {UNIFY_CONSTANT_PROGRESS, UNIFY_NIL_PROGRESS}) {
    TAGGED c = insn == UNIFY_NIL_PROGRESS ? atom_nil : atom("k");
    definition *d = fc(insn, c);
    EXPECT_EQ(once(d, {structure(atom("f"), {c})}), 1) << insnname[insn];
    EXPECT_EQ(once(d, {structure(atom("f"), {s(0)})}), 0) << insnname[insn];
    TAGGED inner = var();
    EXPECT_EQ(once(d, {structure(atom("f"), {inner})}), 1) << insnname[insn];
    EXPECT_EQ(deref(inner), c) << insnname[insn];
    TAGGED t = var();
    ASSERT_EQ(once(d, {t}), 1) << insnname[insn];
    EXPECT_TRUE(same(t, structure(atom("f"), {c}))) << insnname[insn];
    EXPECT_EQ(w->local_top, local0) << insnname[insn];
  }
}

// UNIFY_X_LOCAL_VALUE in write mode with a register that refers to an
// unbound environment variable: the heap gets a new cell and the
// environment variable is bound to it.
TEST_F(WamHead, LocalValueGlobalisesAnEnvironmentVariable)
{
  for (int insn : {UNIFY_X_LOCAL_VALUE, UNIFY_X_LOCAL_VALUE_PROCEED}) {
    definition *d = one_clause(2, [&](code_builder &b) {
      b.emit(PUT_Y_FIRST_VARIABLE, {cb::x(2), cb::y(0)});  // X2 -> unbound Y0
      b.emit(GET_STRUCTURE, {cb::x(0), cb::f(fn("f", 1))});
      b.emit(insn, {cb::x(2)});
      if (insn == UNIFY_X_LOCAL_VALUE)
        b.emit(PROCEED);
    });
    TAGGED v = var();
    ASSERT_EQ(once(d, {v, atom_nil}), 1) << insnname[insn];
    const TAGGED *built = TagToSTR(deref(v));
    EXPECT_EQ(built[1], PointerToTerm(built + 1)) << insnname[insn] << ": the argument must be a new heap variable";
  }
  // With a register referring to a heap variable, that reference is pushed.
  definition *d = one_clause(2, [&](code_builder &b) {
    b.emit(GET_STRUCTURE, {cb::x(0), cb::f(fn("f", 1))});
    b.emit(UNIFY_X_LOCAL_VALUE, {cb::x(1)});
    b.emit(PROCEED);
  });
  TAGGED h = var(), v = var();
  ASSERT_EQ(once(d, {v, h}), 1);
  EXPECT_EQ(TagToSTR(deref(v))[1], h);
}

// The first-argument forms, reached through first-argument dispatch: read
// mode when X0 already matches the clause's key.
TEST_F(WamHead, FirstArgumentForms)
{
  const TAGGED k = atom("k");
  definition *c = pred("x0_const", 1);
  fact(c, k);
  fact(c, atom("other"));
  EXPECT_EQ(count_solutions(c, {k}), 1);
  TAGGED v = var();
  EXPECT_EQ(count_solutions(c, {v}), 2);

  definition *l = pred("x0_list", 2);
  {
    code_builder b;
    b.emit(GET_LIST_X0);
    b.emit(UNIFY_X_VARIABLE, {cb::x(2)});
    b.emit(UNIFY_NIL);
    b.emit(GET_X_VALUE, {cb::x(2), cb::x(1)});
    b.emit(PROCEED);
    clause(l, b, IX_VAR | IX_LIST, 0);
    code_builder n;
    n.emit(GET_NIL_X0);
    n.emit(GET_X_VALUE, {cb::x(1), cb::x(0)});  // p([], [])
    n.emit(PROCEED);
    clause(l, n, 0x17, atom_nil);
  }
  TAGGED out = var();
  ASSERT_EQ(run(l, {list({s(4)}), out}), 1);
  close_query();
  EXPECT_EQ(deref(out), s(4));
  EXPECT_EQ(count_solutions(l, {list({s(4), s(5)}), var()}), 0) << "the tail must be []";
  out = var();
  EXPECT_EQ(count_solutions(l, {atom_nil, out}), 1);
  TAGGED lv = var();
  ASSERT_EQ(run(l, {lv, s(8)}), 1);
  EXPECT_TRUE(same(lv, list({s(8)}))) << "write mode builds the list";
  close_query();

  definition *st = pred("x0_struct", 2);
  {
    code_builder b;
    b.emit(GET_STRUCTURE_X0, {cb::f(fn("f", 1))});
    b.emit(UNIFY_X_VALUE, {cb::x(1)});
    b.emit(PROCEED);
    clause(st, b, 0x17, fn("f", 1));
    code_builder g;
    g.emit(GET_STRUCTURE_X0, {cb::f(fn("g", 1))});
    g.emit(UNIFY_X_VALUE, {cb::x(1)});
    g.emit(PROCEED);
    clause(st, g, 0x17, fn("g", 1));
  }
  out = var();
  ASSERT_EQ(run(st, {structure(atom("g"), {s(6)}), out}), 1);
  close_query();
  EXPECT_EQ(deref(out), s(6));
  EXPECT_EQ(count_solutions(st, {structure(atom("h"), {s(6)}), var()}), 0);
  TAGGED sv = var();
  EXPECT_EQ(count_solutions(st, {sv, s(1)}), 2);
}

// After backtracking, write mode is picked for any reference in X0, even one
// that leads to a bound term: the write-mode handlers must test it.
TEST_F(WamHead, X0FormsInWriteModeTestABoundReference)
{
  const TAGGED k = atom("k");
  definition *d = one_clause(1, [&](code_builder &b) {
    b.emit(GET_CONSTANT_X0, {cb::t(k)});
    b.emit(PROCEED);
  });
  EXPECT_EQ(once(d, {bound_var(k)}), 1);
  EXPECT_EQ(once(d, {bound_var(atom("j"))}), 0);
  definition *n = one_clause(1, [&](code_builder &b) {
    b.emit(GET_NIL_X0);
    b.emit(PROCEED);
  });
  EXPECT_EQ(once(n, {bound_var(atom_nil)}), 1);
  EXPECT_EQ(once(n, {bound_var(k)}), 0);
  definition *l = one_clause(1, [&](code_builder &b) {
    b.emit(GET_LIST_X0);
    b.emit(UNIFY_CONSTANT, {cb::t(k)});
    b.emit(UNIFY_NIL);
    b.emit(PROCEED);
  });
  EXPECT_EQ(once(l, {bound_var(list({k}))}), 1);
  EXPECT_EQ(once(l, {bound_var(list({atom("j")}))}), 0);
  EXPECT_EQ(once(l, {bound_var(k)}), 0);
  definition *s1 = one_clause(1, [&](code_builder &b) {
    b.emit(GET_STRUCTURE_X0, {cb::f(fn("f", 1))});
    b.emit(UNIFY_CONSTANT, {cb::t(k)});
    b.emit(PROCEED);
  });
  EXPECT_EQ(once(s1, {bound_var(structure(atom("f"), {k}))}), 1);
  EXPECT_EQ(once(s1, {bound_var(structure(atom("g"), {k}))}), 0);
}

// GET_Y_UNSAFE_VARIABLE and UNIFY_Y_UNSAFE_VARIABLE trail the Y cell only
// when the environment is older than the newest choicepoint, and (read
// mode, GET) only for a word that is not a constant.
TEST_F(WamHead, UnsafeYVariablesTrailOldEnvironmentCells)
{
  // cp/0 leaves a choicepoint younger than the caller's environment.
  definition *cp = pred("cp", 0);
  for (int i = 0; i < 2; i++) {
    code_builder b;
    b.emit(PROCEED);
    clause(cp, b);
  }
  auto make = [&](int insn, bool after_choice) {
    return one_clause(1, [&](code_builder &b) {
      b.emit(GET_Y_FIRST_VARIABLE, {cb::x(0), cb::y(0)});
      b.emit(FIRSTCALL, {cb::args(0, {}), cb::def(after_choice ? cp : preds.true0), cb::env(2)});
      b.emit(PUT_Y_VALUE, {cb::x(0), cb::y(0)});
      if (insn == GET_Y_UNSAFE_VARIABLE) {
        b.emit(insn, {cb::x(0), cb::y(1)});
      } else {
        b.emit(GET_STRUCTURE, {cb::x(0), cb::f(fn("f", 1))});
        b.emit(insn, {cb::y(1)});
      }
      b.emit(PROGRESS);
    });
  };
  struct {
    const char *what;
    int insn;
    bool old_env;
    bool bound_arg;   // f(a) / a instead of f(_) / _
    bool unbound_x0;  // UNIFY_: write mode
    long entries;
  } cases[] = {
      {"GET, young environment", GET_Y_UNSAFE_VARIABLE, false, false, false, 0},
      {"GET, old environment", GET_Y_UNSAFE_VARIABLE, true, false, false, 1},
      {"GET, old environment, constant", GET_Y_UNSAFE_VARIABLE, true, true, false, 0},
      {"UNIFY read, young environment", UNIFY_Y_UNSAFE_VARIABLE, false, false, false, 0},
      {"UNIFY read, old environment", UNIFY_Y_UNSAFE_VARIABLE, true, false, false, 1},
      {"UNIFY read, old environment, constant", UNIFY_Y_UNSAFE_VARIABLE, true, true, false, 0},
      {"UNIFY write, old environment", UNIFY_Y_UNSAFE_VARIABLE, true, false, true, 1},
      {"UNIFY write, young environment", UNIFY_Y_UNSAFE_VARIABLE, false, false, true, 0},
  };
  for (auto &c : cases) {
    definition *d = make(c.insn, c.old_env);
    TAGGED arg = c.insn == GET_Y_UNSAFE_VARIABLE ? (c.bound_arg ? atom("a") : var())
                                                 : structure(atom("f"), {c.bound_arg ? atom("a") : var()});
    if (c.unbound_x0)
      arg = var();
    TAGGED *trail0 = w->trail_top;
    ASSERT_EQ(run(d, {arg}), 1) << c.what;
    // The write-mode binding of an unbound X0 created before the query adds
    // its own entry.
    const long entries = (w->trail_top - trail0) - (c.unbound_x0 ? 1 : 0);
    EXPECT_EQ(entries, c.entries) << c.what;
    if (c.entries == 1) {
      TAGGED *cell = TagToRef(w->trail_top[-1]);
      EXPECT_TRUE(cell >= w->stack_start && cell < w->stack_end) << c.what << ": the entry must be the Y cell";
    }
    close_query();
  }
}

// Boxed numbers in code: GET_LARGE, GET_LARGE_X0 and UNIFY_LARGE against a
// float and 1-digit and 2-digit integers.
TEST_F(WamHead, LargeNumbersMatchAndBuild)
{
  struct num {
    const char *what;
    cb_operand op;
    std::function<TAGGED()> equal, other;
  } nums[] = {
      {"float", cb::large_float(2.5), [&] { return make_float(w, 2.5); }, [&] { return make_float(w, 3.5); }},
      {"1-digit integer", cb::large_int(1LL << 30), [&] { return make_int64(w, 1LL << 30); },
       [&] { return make_int64(w, -(1LL << 30) - 1); }},
      {"2-digit integer", cb::large_int(1LL << 40), [&] { return make_int64(w, 1LL << 40); },
       [&] { return make_int64(w, (1LL << 40) + 1); }},
  };
  for (auto &n : nums) {
    definition *get = one_clause(1, [&](code_builder &b) {
      b.emit(GET_LARGE, {cb::x(0), n.op});
      b.emit(PROCEED);
    });
    definition *uni = one_clause(1, [&](code_builder &b) {
      b.emit(GET_STRUCTURE, {cb::x(0), cb::f(fn("f", 1))});
      b.emit(UNIFY_LARGE, {n.op});
      b.emit(PROCEED);
    });
    definition *x0w = one_clause(1, [&](code_builder &b) {
      b.emit(GET_LARGE_X0, {n.op});
      b.emit(PROCEED);
    });
    for (definition *d : {get, x0w}) {
      EXPECT_EQ(once(d, {n.equal()}), 1) << n.what;
      EXPECT_EQ(once(d, {n.other()}), 0) << n.what;
      EXPECT_EQ(once(d, {s(1)}), 0) << n.what;
      EXPECT_EQ(once(d, {atom("a")}), 0) << n.what;
      TAGGED v = var();
      ASSERT_EQ(once(d, {v}), 1) << n.what;
      EXPECT_TRUE(same(v, n.equal())) << n.what << ": the variable must be bound to the number";
    }
    EXPECT_EQ(once(uni, {structure(atom("f"), {n.equal()})}), 1) << n.what;
    EXPECT_EQ(once(uni, {structure(atom("f"), {n.other()})}), 0) << n.what;
    EXPECT_EQ(once(uni, {structure(atom("f"), {atom("a")})}), 0) << n.what;
    TAGGED inner = var();
    ASSERT_EQ(once(uni, {structure(atom("f"), {inner})}), 1) << n.what;
    EXPECT_TRUE(same(inner, n.equal())) << n.what;
    TAGGED v = var();
    ASSERT_EQ(once(uni, {v}), 1) << n.what;
    EXPECT_TRUE(same(v, structure(atom("f"), {n.equal()}))) << n.what << ": write mode builds f(N)";
  }
  // GET_LARGE_X0 in read mode compares the number in full: two clauses
  // with the same box kind are keyed alike by dispatch.
  definition *d = pred("x0_large", 1);
  {
    code_builder b;
    b.emit(GET_LARGE_X0, {cb::large_float(1.5)});
    b.emit(PROCEED);
    clause(d, b, 0x17, BOX_FLOAT);
  }
  EXPECT_EQ(count_solutions(d, {make_float(w, 1.5)}), 1);
  EXPECT_EQ(count_solutions(d, {make_float(w, -1.5)}), 0);
}

}  // namespace
