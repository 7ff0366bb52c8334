// The term copier and $copy_term/2: sharing, fresh variables, attributed
// variables, mutables, cycles and deep lists.
#include <gtest/gtest.h>

#include <vector>

#include "heavy_tests.h"
#include "array_stacks.h"
#include "copy_term.h"
#include "terms.h"
#include "unify.h"
#include "worker.h"

namespace {

constexpr TAGGED atom_a = MakeAtom(300), atom_b = MakeAtom(301);
constexpr TAGGED functor_f1 = MakeFunctor(MakeAtom(302), 1);
constexpr TAGGED functor_f2 = MakeFunctor(MakeAtom(302), 2);
constexpr TAGGED functor_f3 = MakeFunctor(MakeAtom(302), 3);
constexpr TAGGED functor_g1 = MakeFunctor(MakeAtom(303), 1);

struct CopyTerm : ::testing::Test {
  array_stacks stacks;
  worker w{};
  void SetUp() override { stacks.attach(w, 24000000, 4096, 1 << 23); }

  TAGGED heap_var() { return test_heap_var(w); }
  TAGGED s(TAGGED f, std::initializer_list<TAGGED> args) { return test_struct(w, f, args); }
  TAGGED list_of(const std::vector<TAGGED> &items, TAGGED tail = atom_nil) { return test_list(w, items, tail); }
  // Runs $copy_term(t, Copy) and returns Copy.
  TAGGED copy(TAGGED t)
  {
    TAGGED out = heap_var();
    w.term[0] = t;
    w.term[1] = out;
    EXPECT_EQ(prolog_copy_term(&w), 1);
    return deref(out);
  }
  static TAGGED arg(TAGGED t, int i) { return deref(TagToSTR(deref(t))[i]); }
  static bool is_unbound(TAGGED t) { return IsVar(t) && *TagToRef(t) == t; }
  // Copy state that must be back to normal after every copy.
  void expect_clean(TAGGED *trail_before, const char *why)
  {
    EXPECT_EQ(w.value_trail, VALUE_TRAIL_EMPTY) << why;
    EXPECT_EQ(w.trail_top, trail_before) << why << ": temporary bindings undone";
  }
};

} // namespace

TEST_F(CopyTerm, SharesGroundSubtermsAndRenamesVariables)
{
  TAGGED x = heap_var();
  TAGGED gb = s(functor_g1, {atom_b});
  TAGGED t = s(functor_f3, {atom_a, gb, x});
  TAGGED *trail = w.trail_top;
  TAGGED c = copy(t);
  expect_clean(trail, "f(a, g(b), X)");
  ASSERT_TRUE(IsStructure(c));
  EXPECT_NE(c, t) << "the term holds a variable, so it is copied";
  EXPECT_EQ(arg(c, 1), atom_a);
  EXPECT_EQ(arg(c, 2), gb) << "the ground g(b) is the very source term";
  EXPECT_TRUE(is_unbound(arg(c, 3)));
  EXPECT_NE(arg(c, 3), x) << "the variable is fresh";
  EXPECT_TRUE(is_unbound(x)) << "the source variable is not bound";
}

TEST_F(CopyTerm, GroundTermIsReturnedItselfWithoutHeap)
{
  TAGGED t = s(functor_f2, {s(functor_g1, {atom_a}), list_of({atom_a, make_integer(&w, 3), make_float(&w, 1.5)})});
  TAGGED *top = w.global_top;
  TAGGED out = heap_var();
  w.term[0] = t;
  w.term[1] = out;
  top = w.global_top;
  ASSERT_EQ(prolog_copy_term(&w), 1);
  EXPECT_EQ(deref(out), t);
  EXPECT_EQ(w.global_top, top) << "no heap is kept";
}

TEST_F(CopyTerm, RepeatedVariablesAndSharedSubtermsStayShared)
{
  TAGGED x = heap_var(), z = heap_var();
  TAGGED g = s(functor_g1, {z}); // non-ground, occurs twice
  TAGGED t = s(functor_f3, {x, x, s(functor_f2, {g, g})});
  TAGGED c = copy(t);
  EXPECT_TRUE(is_unbound(arg(c, 1)));
  EXPECT_EQ(arg(c, 1), arg(c, 2)) << "f(X, X) copies to f(Y, Y)";
  EXPECT_NE(arg(c, 1), x);
  TAGGED inner = arg(c, 3);
  EXPECT_EQ(arg(inner, 1), arg(inner, 2)) << "one copy of the shared g(Z)";
  EXPECT_NE(arg(inner, 1), g);
  EXPECT_NE(arg(arg(inner, 1), 1), z);
}

TEST_F(CopyTerm, AttributedVariableCopiesAsPlainVariable)
{
  TAGGED attrs = s(functor_g1, {atom_a}); // stands for an attribute vector
  TAGGED *cva = w.global_top;
  cva[0] = CVA_MARKER;
  cva[1] = PointerToTerm(cva + 1);
  cva[2] = attrs;
  cva[3] = atom_nil;
  w.global_top += 4;
  TAGGED v = PointerToTerm(cva + 1);
  TAGGED t = s(functor_f2, {v, v});
  stacks.push_choicepoint(w);
  TAGGED *trail = w.trail_top;
  const std::uint32_t wakes = w.wake_count;
  TAGGED c = copy(t);
  expect_clean(trail, "f(C, C) with C constrained");
  TAGGED cv = arg(c, 1);
  ASSERT_TRUE(is_unbound(cv));
  EXPECT_EQ(cv, arg(c, 2));
  EXPECT_FALSE(is_constrained_cell(&w, TagToRef(cv))) << "attributes are not copied";
  EXPECT_TRUE(is_unbound(v));
  EXPECT_EQ(w.wake_count, wakes) << "copying does not bind the constrained variable for good";
}

TEST_F(CopyTerm, MutableIsCopiedWithStampZero)
{
  TAGGED m = s(functor_Dmutable, {atom_a, MakeSmall_checked(42)});
  TAGGED t = s(functor_f1, {m});
  TAGGED c = copy(t);
  TAGGED cm = arg(c, 1);
  ASSERT_TRUE(IsStructure(cm));
  EXPECT_NE(cm, m) << "a mutable is never shared";
  EXPECT_EQ(TagToSTR(cm)[0], functor_Dmutable);
  EXPECT_EQ(arg(cm, 1), atom_a);
  EXPECT_EQ(TagToSTR(cm)[2], MakeSmall_checked(0));
  EXPECT_EQ(TagToSTR(m)[2], MakeSmall_checked(42));
}

TEST_F(CopyTerm, CyclicTermTerminates)
{
  // X = f(X, Y): the copy is a new cycle with a fresh Y.
  TAGGED y = heap_var();
  TAGGED x = s(functor_f2, {atom_nil, y});
  TagToSTR(x)[1] = x;
  TAGGED c = copy(x);
  EXPECT_NE(c, x);
  EXPECT_EQ(arg(c, 1), c) << "the copy refers to itself";
  EXPECT_TRUE(is_unbound(arg(c, 2)));
  EXPECT_NE(arg(c, 2), y);
  // A ground cycle is shared as it is.
  TAGGED g = s(functor_f1, {atom_nil});
  TagToSTR(g)[1] = g;
  EXPECT_EQ(copy(g), g);
}

TEST_F(CopyTerm, PlainModeCopiesEverythingAndUndoes)
{
  TAGGED x = heap_var();
  TAGGED gb = s(functor_g1, {atom_b});
  TAGGED big = make_int64(&w, 1LL << 40);
  TAGGED t = s(functor_f3, {gb, big, list_of({x, x})});
  std::vector<TAGGED> before(w.heap_start, w.global_top);
  const std::int32_t vt = w.value_trail;
  const std::size_t mark = static_cast<std::size_t>(w.trail_top - w.trail_start);
  TAGGED *root = w.global_top;
  *root = t;
  TAGGED *end = copy_term(&w, 0);
  ASSERT_NE(end, nullptr);
  TAGGED c = *root;
  EXPECT_EQ(TagToSTR(arg(c, 1))[0], functor_g1);
  EXPECT_NE(arg(c, 1), gb) << "without compress nothing is shared";
  EXPECT_NE(arg(c, 2), big);
  EXPECT_EQ(cunify(&w, arg(c, 2), big), 1) << "the box is copied whole";
  TAGGED l = arg(c, 3);
  EXPECT_EQ(deref(TagToLST(l)[0]), deref(TagToLST(deref(TagToLST(l)[1]))[0]));
  copy_term_undo(&w, vt, mark);
  EXPECT_TRUE(std::equal(before.begin(), before.end(), w.heap_start)) << "the source is as before";
  EXPECT_EQ(w.value_trail, vt);
}

TEST_F(CopyTerm, CopyThatDoesNotFitReportsNull)
{
  std::vector<TAGGED> items(1000, atom_a);
  items[999] = heap_var();
  TAGGED t = list_of(items);
  // Leave only a few hundred free words.
  w.global_top = w.stack_start - 600;
  TAGGED *root = w.global_top;
  *root = t;
  const std::int32_t vt = w.value_trail;
  const std::size_t mark = static_cast<std::size_t>(w.trail_top - w.trail_start);
  EXPECT_EQ(copy_term(&w, 0), nullptr);
  copy_term_undo(&w, vt, mark);
  EXPECT_TRUE(is_unbound(items[999]));
}

TEST_F(CopyTerm, MillionElementLists)
{
  constexpr int n = heavy_list_length;
  std::vector<TAGGED> items(n, atom_a);
  TAGGED ground = list_of(items);
  // A ground list: the result is the list itself.
  TAGGED *top = w.global_top;
  TAGGED out = copy(ground);
  EXPECT_EQ(out, ground);
  EXPECT_EQ(w.global_top, top + 1) << "only the output variable was made";

  // A variable at the end: every pair leads to it, so all are copied.
  TAGGED last = heap_var();
  items[n - 1] = last;
  TAGGED open_end = list_of(items);
  TAGGED c = copy(open_end);
  ASSERT_NE(c, open_end);
  int len = 0;
  TAGGED l = c, element = 0;
  while (IsList(l)) {
    element = deref(TagToLST(l)[0]);
    l = deref(TagToLST(l)[1]);
    ++len;
  }
  EXPECT_EQ(len, n);
  EXPECT_EQ(l, atom_nil);
  EXPECT_TRUE(is_unbound(element));
  EXPECT_NE(element, last);

  // A variable at the front: only the first pair is new, the ground tail is
  // the source's own.
  items[n - 1] = atom_a;
  TAGGED front = heap_var();
  TAGGED rest = list_of(std::vector<TAGGED>(items.begin() + 1, items.end()));
  TAGGED open_front = list_of({front}, rest);
  top = w.global_top;
  TAGGED c2 = copy(open_front);
  EXPECT_EQ(deref(TagToLST(c2)[1]), rest) << "the ground tail is shared";
  EXPECT_LE(w.global_top - top, 4) << "the output variable, the root cell and one pair";
}

TEST_F(CopyTerm, VariableLivingInAListCell)
{
  // [X] with X's cell the pair's own head cell, and f(X, [X]) / f([X], X):
  // forwarding the pair must not lose X's other occurrence.
  for (int list_first = 0; list_first < 2; ++list_first) {
    TAGGED l = make_structure(&w, functor_list); // head and tail fresh in place
    TagToLST(l)[1] = atom_nil;
    TAGGED x = PointerToTerm(TagToLST(l));
    TAGGED t = list_first ? s(functor_f2, {l, x}) : s(functor_f2, {x, l});
    TAGGED *trail = w.trail_top;
    TAGGED c = copy(t);
    expect_clean(trail, "f(X, [X])");
    TAGGED cx = arg(c, list_first ? 2 : 1);
    TAGGED cl = arg(c, list_first ? 1 : 2);
    ASSERT_TRUE(is_unbound(cx)) << list_first;
    EXPECT_EQ(deref(TagToLST(cl)[0]), cx) << "one variable in both places, list first = " << list_first;
    EXPECT_NE(cx, x);
    EXPECT_TRUE(is_unbound(x)) << "the source cell is restored";
  }
}
