// Binding rules, trailing, cycle-safe unification and mutable updates.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "heavy_tests.h"
#include "array_stacks.h"
#include "memman.h"
#include "terms.h"
#include "unify.h"
#include "worker.h"

namespace {

constexpr TAGGED atom_a = MakeAtom(300), atom_b = MakeAtom(301);
constexpr TAGGED functor_f1 = MakeFunctor(MakeAtom(302), 1);
constexpr TAGGED functor_f2 = MakeFunctor(MakeAtom(302), 2);

struct Unify : ::testing::Test {
  array_stacks stacks;
  worker w{};
  void SetUp() override { stacks.attach(w, 10000000, 4096, 1 << 22); }

  TAGGED heap_var() { return test_heap_var(w); }
  // The four words of a constrained variable; returns its cell.
  TAGGED constrained_var()
  {
    TAGGED *c = w.global_top;
    c[0] = CVA_MARKER;
    c[1] = PointerToTerm(c + 1);
    c[2] = atom_nil;
    c[3] = atom_nil;
    w.global_top += 4;
    return c[1];
  }
  TAGGED local_var()
  {
    TAGGED *c = w.local_top++;
    *c = PointerToTerm(c);
    return *c;
  }
  long trail_entries() const { return w.trail_top - node_trail_top(w.node_); }
  static bool unbound(TAGGED v) { return *TagToRef(v) == v; }
  // f(Self): a one-cell cycle.
  TAGGED cyclic_f1()
  {
    TAGGED s = make_structure(&w, functor_f1);
    TagToSTR(s)[1] = s;
    return s;
  }
  TAGGED list_of(const std::vector<TAGGED> &items) { return test_list(w, items); }
};

} // namespace

TEST_F(Unify, DirectionOfTwoVariables)
{
  // Each case makes two variables in address order (older first) and says
  // which one must end up bound, and whether that counts a wake-up.
  enum kind { HEAP, LOCAL, CVA };
  struct tc {
    const char *why;
    kind older, younger;
    bool younger_bound;
    bool wakes;
  } cases[] = {
      {"two heap variables: the younger is bound", HEAP, HEAP, true, false},
      {"a local variable is bound rather than a heap one", HEAP, LOCAL, true, false},
      {"two local variables: the younger is bound", LOCAL, LOCAL, true, false},
      {"a plain older variable is bound to a younger constrained one", HEAP, CVA, false, false},
      {"a plain younger variable is bound to an older constrained one", CVA, HEAP, true, false},
      {"two constrained variables: the younger is bound and wakes", CVA, CVA, true, true},
      {"a local variable is bound to a constrained one", CVA, LOCAL, true, false},
  };
  for (const tc &c : cases) {
    SetUp();
    auto make = [&](kind k) { return k == HEAP ? heap_var() : k == LOCAL ? TAGGED{0} : constrained_var(); };
    TAGGED older = make(c.older), younger = make(c.younger);
    // Local cells come from the local stack, which lies above the heap.
    if (c.older == LOCAL)
      older = local_var();
    if (c.younger == LOCAL)
      younger = local_var();
    ASSERT_LT(older, younger) << c.why;
    stacks.push_choicepoint(w);
    for (int order = 0; order < 2; ++order) {
      if (order == 1) {
        array_stacks::backtrack(w);
        w.wake_count = 0;
      }
      const std::uint32_t wakes = w.wake_count;
      ASSERT_EQ(order == 0 ? cunify(&w, older, younger) : cunify(&w, younger, older), 1) << c.why;
      EXPECT_EQ(unbound(younger), !c.younger_bound) << c.why << " (argument order " << order << ")";
      EXPECT_EQ(unbound(older), c.younger_bound) << c.why << " (argument order " << order << ")";
      EXPECT_EQ(*TagToRef(c.younger_bound ? younger : older), c.younger_bound ? older : younger) << c.why;
      EXPECT_EQ(w.wake_count - wakes, c.wakes ? 1u : 0u) << c.why;
      EXPECT_EQ(trail_entries(), 1) << c.why << ": both were older than the choicepoint";
    }
  }
}

TEST_F(Unify, TrailsOnlyBelowTheConditionalBoundaries)
{
  TAGGED old_heap = heap_var(), old_local = local_var();
  TAGGED old_cva = constrained_var();
  stacks.push_choicepoint(w);
  TAGGED new_heap = heap_var(), new_local = local_var();
  TAGGED new_cva = constrained_var();
  struct tc {
    const char *why;
    TAGGED var;
    bool trailed, wakes;
  } cases[] = {
      {"heap variable older than the choicepoint", old_heap, true, false},
      {"heap variable newer than the choicepoint", new_heap, false, false},
      {"local variable older than the choicepoint", old_local, true, false},
      {"local variable newer than the choicepoint", new_local, false, false},
      {"old constrained variable", old_cva, true, true},
      {"new constrained variable: trailed all the same", new_cva, true, true},
  };
  for (const tc &c : cases) {
    TAGGED *top = w.trail_top;
    const std::uint32_t wakes = w.wake_count;
    w.heap_warn_soft = w.heap_warn;
    ASSERT_EQ(cunify(&w, c.var, atom_a), 1) << c.why;
    EXPECT_EQ(deref(c.var), atom_a) << c.why;
    EXPECT_EQ(w.trail_top - top, c.trailed ? 1 : 0) << c.why;
    if (c.trailed) {
      EXPECT_EQ(*top, c.var) << c.why << ": the entry is the cell's address";
    }
    EXPECT_EQ(w.wake_count - wakes, c.wakes ? 1u : 0u) << c.why;
    EXPECT_EQ(w.heap_warn_soft == nullptr, c.wakes) << c.why << ": only a wake-up clears heap_warn_soft";
  }
}

TEST_F(Unify, BindingBeforeTheFirstChoicepointOnlyPushes)
{
  // A worker being set up has its trail but no choicepoint yet, and an
  // empty value trail.  Trail room is measured against the newest
  // choicepoint, so a binding then must not compute it from a null one (the
  // sanitizers caught that path through native built-ins): it pushes its
  // entry and nothing else.
  w.node_ = nullptr;
  w.value_trail = VALUE_TRAIL_EMPTY;
  TAGGED plain = heap_var(), constrained = constrained_var();
  w.global_uncond = w.global_top; // both cells are older: their bindings are trailed
  TAGGED *const top = w.trail_top;
  const int wakes = w.wake_count;
  ASSERT_TRUE(cunify(&w, plain, atom_a));
  ASSERT_TRUE(cunify(&w, atom_b, constrained));
  EXPECT_EQ(*TagToRef(plain), atom_a);
  EXPECT_EQ(*TagToRef(constrained), atom_b);
  ASSERT_EQ(w.trail_top, top + 2);
  EXPECT_EQ(top[0], plain);
  EXPECT_EQ(top[1], constrained);
  EXPECT_EQ(w.wake_count, wakes + 1) << "binding a constrained variable still wakes it";
}

TEST_F(Unify, FirstHeapCellIsNeverReadBehind)
{
  // The first heap cell's predecessor is the guard, which is never -1.
  TAGGED first = heap_var();
  ASSERT_EQ(TagToRef(first), w.heap_start);
  EXPECT_FALSE(is_constrained_cell(&w, w.heap_start));
  // Cells outside [heap_start, global_top) are never constrained, whatever
  // lies before them.
  TAGGED outside[2] = {CVA_MARKER, 0};
  outside[1] = PointerToTerm(&outside[1]);
  EXPECT_FALSE(is_constrained_cell(&w, &outside[1]));
  TAGGED cva = constrained_var();
  EXPECT_TRUE(is_constrained_cell(&w, TagToRef(cva)));
}

TEST_F(Unify, CyclicTermsTerminate)
{
  struct tc {
    const char *why;
    TAGGED a, b;
    int expected;
  };
  // X = f(X) against Y = f(Y).
  TAGGED x = cyclic_f1(), y = cyclic_f1();
  // X2 = f(X2, a) against Y2 = f(Y2, b).
  TAGGED x2 = make_structure(&w, functor_f2);
  TagToSTR(x2)[1] = x2;
  TagToSTR(x2)[2] = atom_a;
  TAGGED y2 = make_structure(&w, functor_f2);
  TagToSTR(y2)[1] = y2;
  TagToSTR(y2)[2] = atom_b;
  // P = f(Q), Q = f(P): a two-cell cycle, equal to X as rational trees.
  TAGGED p = make_structure(&w, functor_f1), q = make_structure(&w, functor_f1);
  TagToSTR(p)[1] = q;
  TagToSTR(q)[1] = p;
  // Cyclic lists L = [a|L] and M = [a, a|M], and N = [b|N].
  TAGGED l = list_of({atom_a});
  TagToLST(l)[1] = l;
  TAGGED m = list_of({atom_a, atom_a});
  TagToLST(TagToLST(m)[1])[1] = m;
  TAGGED n = list_of({atom_b});
  TagToLST(n)[1] = n;
  tc cases[] = {
      {"f(X) with X = f(X) equals Y = f(Y)", x, y, 1},
      {"cycles that differ in a constant", x2, y2, 0},
      {"a one-cell cycle and a two-cell cycle", x, p, 1},
      {"cyclic lists of different period", l, m, 1},
      {"cyclic lists that differ", l, n, 0},
  };
  for (const tc &c : cases) {
    std::vector<TAGGED> before(w.heap_start, w.global_top);
    EXPECT_EQ(cunify(&w, c.a, c.b), c.expected) << c.why;
    EXPECT_EQ(w.value_trail, VALUE_TRAIL_EMPTY) << c.why << ": the value trail is left empty";
    EXPECT_TRUE(std::equal(before.begin(), before.end(), w.heap_start))
        << c.why << ": every overwritten slot has its word back";
  }
}

TEST_F(Unify, VariableAgainstTermContainingItMakesACycle)
{
  TAGGED x = heap_var();
  TAGGED s = make_structure(&w, functor_f1);
  TagToSTR(s)[1] = x;
  ASSERT_EQ(cunify(&w, x, s), 1);
  EXPECT_EQ(deref(x), s);
  EXPECT_EQ(deref(TagToSTR(s)[1]), s) << "no occurs check";
  EXPECT_EQ(cunify(&w, x, cyclic_f1()), 1);
}

TEST_F(Unify, BoxedNumbers)
{
  struct tc {
    const char *why;
    TAGGED a, b;
    int expected;
  } cases[] = {
      {"equal one-digit boxes at different addresses", make_integer(&w, 5), make_integer(&w, 5), 1},
      {"different one-digit boxes", make_integer(&w, 5), make_integer(&w, 6), 0},
      {"the float 1.0 and the integer 1", make_float(&w, 1.0), MakeSmall_checked(1), 0},
      {"equal floats", make_float(&w, 2.5), make_float(&w, 2.5), 1},
      {"a float and a two-digit integer", make_float(&w, 1.0), make_int64(&w, 1LL << 40), 0},
  };
  for (const tc &c : cases) {
    EXPECT_EQ(cunify(&w, c.a, c.b), c.expected) << c.why;
    // Inside a structure the boxes go through the argument walker.
    TAGGED fa = make_structure(&w, functor_f1), fb = make_structure(&w, functor_f1);
    TagToSTR(fa)[1] = c.a;
    TagToSTR(fb)[1] = c.b;
    EXPECT_EQ(cunify(&w, fa, fb), c.expected) << c.why << ", as arguments";
  }
}

TEST_F(Unify, MillionElementListsUseNoNativeRecursion)
{
  constexpr int n = heavy_list_length;
  std::vector<TAGGED> ints(n), vars(n);
  for (int i = 0; i < n; ++i)
    ints[i] = MakeSmall_checked(i);
  TAGGED ground = list_of(ints);
  for (int i = 0; i < n; ++i)
    vars[i] = heap_var();
  TAGGED open = list_of(vars);
  ASSERT_EQ(cunify(&w, open, ground), 1);
  EXPECT_EQ(deref(vars[0]), ints[0]);
  EXPECT_EQ(deref(vars[n - 1]), ints[n - 1]);
  EXPECT_EQ(w.value_trail, VALUE_TRAIL_EMPTY);

  // Same length, last element different: fails, list words restored.
  ints[n - 1] = atom_a;
  TAGGED other = list_of(ints);
  std::vector<TAGGED> before(w.heap_start, w.global_top);
  EXPECT_EQ(cunify(&w, ground, other), 0);
  EXPECT_TRUE(std::equal(before.begin(), before.end(), w.heap_start));
}

TEST_F(Unify, MutableIsTrailedOncePerChoicepoint)
{
  TAGGED m = make_structure(&w, functor_Dmutable);
  TagToSTR(m)[1] = atom_a;
  TagToSTR(m)[2] = MakeSmall_checked(0);
  stacks.push_choicepoint(w);
  TAGGED *top = w.trail_top;
  do_update_mutable(&w, atom_b, m);
  do_update_mutable(&w, MakeSmall_checked(7), m);
  EXPECT_EQ(w.trail_top - top, 3) << "one three-word entry for both updates";
  EXPECT_EQ(top[0], m);
  EXPECT_EQ(top[1], atom_a);
  EXPECT_EQ(top[2], MakeSmall_checked(0));
  EXPECT_EQ(TagToSTR(m)[1], MakeSmall_checked(7));
  EXPECT_EQ(TagToSTR(m)[2], MakeSmall_checked(static_cast<VR_INTEGER>(top - w.trail_start)));

  // A newer choicepoint trails it again, once.
  stacks.push_choicepoint(w);
  TAGGED *top2 = w.trail_top;
  do_update_mutable(&w, atom_a, m);
  do_update_mutable(&w, atom_b, m);
  EXPECT_EQ(w.trail_top - top2, 3);
  array_stacks::backtrack(w);
  EXPECT_EQ(TagToSTR(m)[1], MakeSmall_checked(7));
  w.node_ = reinterpret_cast<node *>(reinterpret_cast<TAGGED *>(w.node_) + NODE_HEADER_WORDS);
  array_stacks::backtrack(w);
  EXPECT_EQ(TagToSTR(m)[1], atom_a) << "the value from before the first update is back";
  EXPECT_EQ(TagToSTR(m)[2], MakeSmall_checked(0));

  // A mutable made after the newest choicepoint needs no entry.
  TAGGED fresh = make_structure(&w, functor_Dmutable);
  TagToSTR(fresh)[1] = atom_a;
  TagToSTR(fresh)[2] = MakeSmall_checked(0);
  TAGGED *top3 = w.trail_top;
  do_update_mutable(&w, atom_b, fresh);
  EXPECT_EQ(w.trail_top, top3);
  EXPECT_EQ(TagToSTR(fresh)[1], atom_b);
}

TEST(StrAlloc, ConcatenatesIntoOneBlock)
{
  ASSERT_EQ(memman_init(), 0);
  char *s = vr_stralloc("ab", "", "cde", nullptr);
  ASSERT_NE(s, nullptr);
  EXPECT_STREQ(s, "abcde");
  VR_free(s);
  char *e = vr_stralloc("", nullptr);
  ASSERT_NE(e, nullptr);
  EXPECT_STREQ(e, "");
  VR_free(e);
  memman_deinit();
}
