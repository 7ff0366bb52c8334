// Body construction in the emulator: the PUT_ instructions, run in small
// clauses that build a term and hand it back through GET_X_VALUE, and the
// unsafe-value rule that moves environment variables to the heap.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>

#include "wam_fixture.h"
#include "wam_unify.h"

namespace {

struct WamBody : WamFixture {
  int seq = 0;

  definition *one_clause(int arity, const std::function<void(code_builder &)> &emit)
  {
    char name[32];
    std::snprintf(name, sizeof name, "body_%d", seq++);
    definition *d = pred(name, arity);
    code_builder b;
    emit(b);
    clause(d, b);
    return d;
  }
  int once(definition *d, std::initializer_list<TAGGED> args)
  {
    int r = run(d, args);
    close_query();
    return r;
  }
  static TAGGED s(int i) { return MakeSmall_checked(i); }
  TAGGED fn(const char *name, int arity) { return MakeFunctor(atom(name), static_cast<unsigned>(arity)); }
  bool in_heap(TAGGED ref) const { return TagToRef(ref) >= w->heap_start && TagToRef(ref) < w->global_top; }
};

// PUT_LIST, then UNIFY_X_VARIABLE and UNIFY_NIL in write mode: [_].
TEST_F(WamBody, PutListBuildsAListWithTheFollowingSteps)
{
  definition *d = one_clause(1, [&](code_builder &b) {
    b.emit(PUT_LIST, {cb::x(1)});
    b.emit(UNIFY_X_VARIABLE, {cb::x(2)});
    b.emit(UNIFY_NIL);
    b.emit(GET_X_VALUE, {cb::x(0), cb::x(1)});
    b.emit(PROCEED);
  });
  TAGGED v = var();
  ASSERT_EQ(once(d, {v}), 1);
  TAGGED l = deref(v);
  ASSERT_TRUE(IsList(l));
  const TAGGED *cell = TagToLST(l);
  EXPECT_EQ(cell[0], PointerToTerm(cell)) << "the head must be a new variable";
  EXPECT_EQ(cell[1], atom_nil);
}

// PUT_STRUCTURE, PUT_CONSTANT, PUT_NIL and PUT_X_VOID: f(a, [], _, 7).
TEST_F(WamBody, PutConstantsAndStructures)
{
  definition *d = one_clause(1, [&](code_builder &b) {
    b.emit(PUT_CONSTANT, {cb::x(2), cb::t(atom("a"))});
    b.emit(PUT_NIL, {cb::x(3)});
    b.emit(PUT_X_VOID, {cb::x(4)});
    b.emit(PUT_STRUCTURE, {cb::x(1), cb::f(fn("f", 4))});
    b.emit(UNIFY_X_VALUE, {cb::x(2)});
    b.emit(UNIFY_X_VALUE, {cb::x(3)});
    b.emit(UNIFY_X_VALUE, {cb::x(4)});
    b.emit(UNIFY_CONSTANT, {cb::t(s(7))});
    b.emit(GET_X_VALUE, {cb::x(0), cb::x(1)});
    b.emit(PROCEED);
  });
  TAGGED v = var();
  ASSERT_EQ(once(d, {v}), 1);
  TAGGED t = deref(v);
  ASSERT_TRUE(IsStructure(t));
  const TAGGED *a = TagToSTR(t);
  EXPECT_EQ(a[0], fn("f", 4));
  EXPECT_EQ(a[1], atom("a"));
  EXPECT_EQ(a[2], atom_nil);
  ASSERT_TRUE(IsVar(deref(a[3])));
  EXPECT_TRUE(in_heap(deref(a[3]))) << "PUT_X_VOID makes a heap variable";
  EXPECT_EQ(a[4], s(7));
  // Read mode: the same code matches an existing term.
  EXPECT_EQ(once(d, {structure(atom("f"), {atom("a"), atom_nil, s(1), s(7)})}), 1);
  EXPECT_EQ(once(d, {structure(atom("f"), {atom("a"), atom_nil, s(1), s(8)})}), 0);
}

// PUT_X_VARIABLE: both registers refer to one new heap variable.
TEST_F(WamBody, PutXVariableSharesOneCell)
{
  definition *d = one_clause(2, [&](code_builder &b) {
    b.emit(PUT_X_VARIABLE, {cb::x(2), cb::x(3)});
    b.emit(GET_X_VALUE, {cb::x(0), cb::x(2)});
    b.emit(GET_X_VALUE, {cb::x(1), cb::x(3)});
    b.emit(PROCEED);
  });
  TAGGED a = var(), b = var();
  ASSERT_EQ(once(d, {a, b}), 1);
  EXPECT_EQ(deref(a), deref(b));
  EXPECT_EQ(once(d, {s(1), s(2)}), 0);
  EXPECT_EQ(once(d, {s(1), s(1)}), 1);
}

// PUT_Y_VARIABLE creates no heap cell; PUT_Y_UNSAFE_VALUE of that still
// unbound variable pushes exactly one and binds the Y cell to it.
TEST_F(WamBody, UnsafeValueGlobalisesAnUnboundEnvironmentVariable)
{
  TAGGED *h0 = nullptr;
  definition *d = one_clause(1, [&](code_builder &b) {
    b.emit(PUT_Y_FIRST_VARIABLE, {cb::x(1), cb::y(0)});
    b.emit(PUT_Y_UNSAFE_VALUE, {cb::x(2), cb::y(0)});
    b.emit(GET_X_VALUE, {cb::x(0), cb::x(2)});
    b.emit(PROCEED);
  });
  TAGGED v = var();
  h0 = w->global_top;
  ASSERT_EQ(run(d, {v}), 1);
  EXPECT_EQ(w->global_top, h0 + 1) << "exactly one heap cell for the globalised variable";
  // The new cell (younger) is bound to the argument variable.
  EXPECT_EQ(*h0, v) << "the argument must have been unified with the new heap cell";
  EXPECT_EQ(deref(v), v);
  close_query();

  // PUT_Y_VARIABLE alone: no heap cell.
  definition *only = one_clause(1, [&](code_builder &b) {
    b.emit(PUT_Y_FIRST_VARIABLE, {cb::x(1), cb::y(0)});
    b.emit(PROCEED);
  });
  h0 = w->global_top;
  ASSERT_EQ(run(only, {atom_nil}), 1);
  EXPECT_EQ(w->global_top, h0) << "PUT_Y_VARIABLE must not touch the heap";
  close_query();
}

// The unsafe-value rule on the other shapes a Y variable can have.
TEST_F(WamBody, UnsafeValueTable)
{
  // Y0 holds the argument (X1) as given; PUT_Y_UNSAFE_VALUE X2, Y0; X0 = X2.
  definition *d = one_clause(2, [&](code_builder &b) {
    b.emit(GET_Y_FIRST_VARIABLE, {cb::x(1), cb::y(0)});
    b.emit(PUT_Y_UNSAFE_VALUE, {cb::x(2), cb::y(0)});
    b.emit(GET_X_VALUE, {cb::x(0), cb::x(2)});
    b.emit(PROCEED);
  });
  // A reference to a heap variable is copied without following it.
  TAGGED h = var(), r = var();
  *TagToRef(r) = h;
  TAGGED out = var();
  TAGGED *h0 = w->global_top;
  ASSERT_EQ(run(d, {out, r}), 1);
  EXPECT_EQ(w->global_top, h0) << "a heap reference needs no new cell";
  EXPECT_EQ(deref(out), deref(h));
  close_query();
  // A constant is passed as it stands.
  out = var();
  ASSERT_EQ(once(d, {out, atom("c")}), 1);
  EXPECT_EQ(deref(out), atom("c"));
}

// Two Y variables of the same environment, the first bound to the second
// (unbound): globalising the first moves the second, and both lead to the
// same heap cell.
TEST_F(WamBody, UnsafeValueThroughAnotherEnvironmentVariable)
{
  definition *d = one_clause(2, [&](code_builder &b) {
    b.emit(PUT_Y_FIRST_VARIABLE, {cb::x(2), cb::y(1)});  // Y1 unbound, X2 -> Y1
    b.emit(GET_Y_VARIABLE, {cb::x(2), cb::y(0)});        // Y0 := ref to Y1
    b.emit(PUT_Y_UNSAFE_VALUE, {cb::x(3), cb::y(0)});
    b.emit(PUT_Y_VALUE, {cb::x(4), cb::y(1)});
    b.emit(GET_X_VALUE, {cb::x(0), cb::x(3)});
    b.emit(GET_X_VALUE, {cb::x(1), cb::x(4)});
    b.emit(PROCEED);
  });
  TAGGED a = var(), b = var();
  TAGGED *h0 = w->global_top;
  ASSERT_EQ(run(d, {a, b}), 1);
  EXPECT_EQ(w->global_top, h0 + 1);
  EXPECT_EQ(deref(a), deref(b)) << "both Y variables must lead to the same heap cell";
  EXPECT_TRUE(in_heap(deref(a)));
  close_query();
}

// PUT_X_UNSAFE_VALUE stores the result in both registers.
TEST_F(WamBody, PutXUnsafeValueUpdatesTheSourceRegister)
{
  definition *d = one_clause(2, [&](code_builder &b) {
    b.emit(PUT_Y_FIRST_VARIABLE, {cb::x(2), cb::y(0)});
    b.emit(PUT_X_UNSAFE_VALUE, {cb::x(3), cb::x(2)});
    b.emit(GET_X_VALUE, {cb::x(0), cb::x(2)});
    b.emit(GET_X_VALUE, {cb::x(1), cb::x(3)});
    b.emit(PROCEED);
  });
  TAGGED a = var(), b = var();
  ASSERT_EQ(once(d, {a, b}), 1);
  EXPECT_EQ(deref(a), deref(b)) << "Xu and Xd must hold the same globalised variable";
  EXPECT_TRUE(in_heap(deref(a)));
}

// PUT_LARGE and PUT_CONSTANT with their Q twins chosen by the builder.
TEST_F(WamBody, PutLargeCopiesTheNumberToTheHeap)
{
  for (int pad = 0; pad < 2; pad++) {
    definition *d = one_clause(1, [&](code_builder &b) {
      if (pad)
        b.emit(PUT_NIL, {cb::x(5)});  // shifts the next operand by one halfword
      b.emit(PUT_LARGE, {cb::x(1), cb::large_int(-(1LL << 40))});
      b.emit(PUT_LARGE, {cb::x(2), cb::large_float(-0.5)});
      b.emit(PUT_STRUCTURE, {cb::x(3), cb::f(fn("p", 2))});
      b.emit(UNIFY_X_VALUE, {cb::x(1)});
      b.emit(UNIFY_X_VALUE, {cb::x(2)});
      b.emit(GET_X_VALUE, {cb::x(0), cb::x(3)});
      b.emit(PROCEED);
    });
    TAGGED v = var();
    ASSERT_EQ(once(d, {v}), 1) << "pad " << pad;
    const TAGGED *p = TagToSTR(deref(v));
    EXPECT_EQ(vri_get_int64(deref(p[1])), -(1LL << 40)) << "pad " << pad;
    EXPECT_EQ(vri_get_float(deref(p[2])), -0.5) << "pad " << pad;
    EXPECT_EQ(once(d, {structure(atom("p"), {make_int64(w, -(1LL << 40)), make_float(w, -0.5)})}), 1);
    EXPECT_EQ(once(d, {structure(atom("p"), {make_int64(w, 1LL << 40), make_float(w, -0.5)})}), 0);
  }
}

}  // namespace
