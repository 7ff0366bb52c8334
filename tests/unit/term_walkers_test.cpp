// The pointer-reversal walkers and their built-ins: acyclicity, groundness,
// variable collection (with heap growth), subsumption, the variables of a
// most general unifier and identity.  Every walk must end with the term
// exactly as it was and the mark bitmap clean.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "database_fixture.h"
#include "term_walkers.h"
#include "terms.h"
#include "unify.h"
#include "wam.h"

namespace {

struct TermWalkers : DatabaseFixture {
  bool create_in_setup() const override { return false; }
  void SetUp() override
  {
    DatabaseFixture::SetUp();
    setenv("GLOBALSTKSIZE", "4M", 1);
    start();
  }

  TAGGED f(const char *name, std::initializer_list<TAGGED> args) { return structure(atom(name), args); }
  TAGGED cons(TAGGED h, TAGGED t)
  {
    TAGGED *c = heap(2);
    c[0] = h;
    c[1] = t;
    return MakeLST(c);
  }
  TAGGED local_var()
  {
    TAGGED *c = w->local_top++;
    *c = PointerToTerm(c);
    return *c;
  }
  TAGGED constrained_var()
  {
    TAGGED *c = heap(4);
    c[0] = CVA_MARKER;
    c[1] = PointerToTerm(c + 1);
    c[2] = atom_nil;
    c[3] = atom_nil;
    return c[1];
  }
  static bool unbound(TAGGED v) { return IsVar(v) && *TagToRef(v) == v; }

  // The first non-zero bitmap byte, as text, or "" when the bitmap is clean.
  std::string stray_marks() const
  {
    const unsigned char *b = reinterpret_cast<const unsigned char *>(w->stack_end);
    const unsigned char *e = reinterpret_cast<const unsigned char *>(w->heap_end);
    for (const unsigned char *p = b; p < e; ++p)
      if (*p != 0)
        return "mark byte " + std::to_string(p - b) + " = " + std::to_string(*p);
    return "";
  }
  std::vector<TAGGED> heap_snapshot() const { return std::vector<TAGGED>(w->heap_start, w->global_top); }
  std::vector<TAGGED> list_items(TAGGED l)
  {
    std::vector<TAGGED> out;
    for (l = deref(l); IsList(l); l = deref(TagToLST(l)[1]))
      out.push_back(deref(TagToLST(l)[0]));
    EXPECT_EQ(l, atom_nil) << "the list must be proper";
    return out;
  }

  // X = f(X)
  TAGGED cyclic_f()
  {
    TAGGED x = f("f", {0});
    TagToSTR(x)[1] = x;
    return x;
  }
};

TEST_F(TermWalkers, AcyclicAndGroundTable)
{
  TAGGED shared = f("g", {atom("b")});
  TAGGED loop_list = cons(atom("a"), 0);
  TagToLST(loop_list)[1] = loop_list;
  // V = h(V) with the argument a reference to V's cell: the cycle runs
  // through a bound variable.
  TAGGED v = var();
  TAGGED hv = f("h", {v});
  *TagToRef(v) = hv;
  TAGGED free_var = var();
  TAGGED long_list = atom_nil;
  for (int i = 0; i < 50000; ++i)
    long_list = cons(f("e", {MakeSmall_checked(i), shared}), long_list);
  TAGGED mutable_term = structure(MakeAtom(functor_Dmutable_enum), {atom("a"), MakeSmall_checked(0)});
  TAGGED cyclic_with_var = f("k", {0, free_var});
  TagToSTR(cyclic_with_var)[1] = cyclic_with_var;
  struct tc {
    const char *why;
    TAGGED t;
    int acyclic, ground;
  } cases[] = {
      {"an atom", atom("a"), 1, 1},
      {"a float box is not entered", make_float(w, 2.5), 1, 1},
      {"X = f(X)", cyclic_f(), 0, 1},
      {"shared subterm f(A, A)", f("f", {shared, shared}), 1, 1},
      {"L = [a|L]", loop_list, 0, 1},
      {"cycle through a bound variable", hv, 0, 1},
      {"a variable inside", f("f", {atom("a"), free_var}), 1, 0},
      {"the same variable twice", f("f", {free_var, free_var}), 1, 0},
      {"a long list with sharing", long_list, 1, 1},
      {"a mutable term inside", f("f", {mutable_term}), 1, 0},
      {"a cyclic term with a variable", cyclic_with_var, 0, 0},
  };
  for (const tc &c : cases) {
    const std::vector<TAGGED> before = heap_snapshot();
    EXPECT_EQ(call(prolog_acyclic, {c.t}), c.acyclic) << c.why;
    EXPECT_EQ(stray_marks(), "") << c.why << ": $acyclic left marks";
    const int g = dfs_ground(w, c.t);
    dfs_undo(w, c.t);
    EXPECT_EQ(g, c.ground) << c.why;
    EXPECT_EQ(stray_marks(), "") << c.why << ": ground walk left marks";
    EXPECT_TRUE(before == heap_snapshot()) << c.why << ": a walk did not restore the term";
  }
  EXPECT_EQ(call(prolog_acyclic, {var()}), 1) << "an unbound term is acyclic";
}

TEST_F(TermWalkers, TermVariablesInDepthFirstOrder)
{
  TAGGED x = var(), y = var(), z = var();
  w->term[1] = var();
  ASSERT_EQ(call(prolog_term_variables, {f("f", {x, f("g", {y, x}), z}), w->term[1]}), 1);
  EXPECT_EQ(list_items(w->term[1]), (std::vector<TAGGED>{x, y, z})) << "[X, Y, Z] expected";
  EXPECT_EQ(stray_marks(), "");

  // T = f(T, A, g(B, A)): the walk ends and lists A and B once each.
  TAGGED a = var(), b = var();
  TAGGED t = f("f", {0, a, f("g", {b, a})});
  TagToSTR(t)[1] = t;
  ASSERT_EQ(call(prolog_term_variables, {t, var()}), 1);
  EXPECT_EQ(list_items(w->term[1]), (std::vector<TAGGED>{a, b})) << "cyclic term: [A, B] expected";
  EXPECT_EQ(stray_marks(), "");

  ASSERT_EQ(call(prolog_term_variables, {atom("a"), var()}), 1);
  EXPECT_EQ(list_items(w->term[1]), std::vector<TAGGED>{});

  // An unbound local variable is listed as a heap variable it is bound to.
  TAGGED l = local_var();
  ASSERT_EQ(call(prolog_term_variables, {l, var()}), 1);
  std::vector<TAGGED> items = list_items(w->term[1]);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_LT(TagToRef(items[0]), w->global_top) << "the listed variable must live on the heap";
  EXPECT_EQ(deref(l), items[0]) << "the local variable must be bound to the listed one";
}

TEST_F(TermWalkers, TermVariablesGrowsTheHeapAndRetries)
{
  // 3000 variables need 6000 list words; leave far less heap room.
  std::vector<TAGGED> vars;
  TAGGED l = atom_nil;
  for (int i = 0; i < 3000; ++i) {
    vars.push_back(var());
    l = cons(vars.back(), l);
  }
  w->term[0] = l;
  w->term[1] = var();
  while (w->heap_warn - w->global_top > 400)
    *w->global_top++ = MakeSmall_checked(0);
  const long heap_words = w->stack_start - w->heap_start;
  ASSERT_EQ(prolog_term_variables(w), 1);
  EXPECT_GT(w->stack_start - w->heap_start, heap_words) << "the heap was expected to grow";
  std::vector<TAGGED> items = list_items(w->term[1]);
  ASSERT_EQ(items.size(), vars.size());
  // The heap may have moved: check identity through the term itself.
  const std::vector<TAGGED> now = list_items(w->term[0]);
  EXPECT_TRUE(items == now) << "every variable once, in order";
  EXPECT_EQ(stray_marks(), "");
}

TEST_F(TermWalkers, AttributedVariablesOnly)
{
  TAGGED x = var(), c1 = constrained_var(), y = var(), c2 = constrained_var();
  ASSERT_EQ(call(prolog_term_attributed_variables, {f("f", {x, c2, f("g", {y, c1, c2})}), var()}), 1);
  EXPECT_EQ(list_items(w->term[1]), (std::vector<TAGGED>{c2, c1}));
  ASSERT_EQ(call(prolog_term_attributed_variables, {local_var(), var()}), 1);
  EXPECT_EQ(list_items(w->term[1]), std::vector<TAGGED>{}) << "a local variable has no attributes";
  EXPECT_EQ(stray_marks(), "");
}

TEST_F(TermWalkers, SubsumesTable)
{
  struct tc {
    const char *why;
    TAGGED general, specific;
    int expected;
  };
  TAGGED a = var(), z = var(), b = var(), x = var(), p = var(), q = var(), s = var(), c = constrained_var();
  tc cases[] = {
      {"f(A, b) subsumes f(c, b)", f("f", {a, atom("b")}), f("f", {atom("c"), atom("b")}), 1},
      {"f(a, B) does not subsume f(Z, b): Z is frozen", f("f", {atom("a"), b}), f("f", {z, atom("b")}), 0},
      {"f(X, X) does not subsume f(P, Q)", f("f", {x, x}), f("f", {p, q}), 0},
      {"f(P2, Q2) subsumes f(S, S)", f("f", {var(), var()}), f("f", {s, s}), 1},
      {"a constrained variable is frozen too, without waking", f("f", {atom("a")}), f("f", {c}), 0},
  };
  for (const tc &t : cases) {
    w->wake_count = 0;
    EXPECT_EQ(call(prolog_subsumes, {t.general, t.specific}), t.expected) << t.why;
    EXPECT_EQ(w->wake_count, 0u) << t.why;
    EXPECT_EQ(stray_marks(), "") << t.why;
  }
}

TEST_F(TermWalkers, MguVariablesListsAndResetsBindings)
{
  try_node alt{};
  alt.node_offset = node_offset_for(0);
  node *saved = w->node_;
  TAGGED va = var(), vb = var(), vc = var();
  wam_push_choicepoint(w, &alt);
  TAGGED *mark = w->trail_top;
  // A = C binds C (the younger), then B = C binds B to A: A has two binders
  // and is listed once, right after the older one.
  ASSERT_EQ(call(prolog_mgu_variables, {f("f", {va, vb}), f("f", {vc, vc}), var()}), 1);
  EXPECT_EQ(list_items(w->term[2]), (std::vector<TAGGED>{vb, vc, va}));
  EXPECT_TRUE(unbound(va) && unbound(vb) && unbound(vc)) << "every binding must be undone";
  EXPECT_EQ(w->trail_top, mark) << "the trail must be cut back to the choicepoint's mark";

  ASSERT_EQ(call(prolog_mgu_variables, {va, va, var()}), 1);
  EXPECT_EQ(list_items(w->term[2]), std::vector<TAGGED>{}) << "identical terms: []";
  EXPECT_EQ(call(prolog_mgu_variables, {atom("a"), atom("b"), var()}), 0);

  // A local variable must not be handed out: it moves to the heap.
  TAGGED loc = local_var();
  wam_push_choicepoint(w, &alt);
  ASSERT_EQ(call(prolog_mgu_variables, {f("f", {vb, atom("x")}), f("f", {atom("y"), loc}), var()}), 1);
  std::vector<TAGGED> items = list_items(w->term[2]);
  ASSERT_EQ(items.size(), 2u);
  for (TAGGED t : items)
    EXPECT_TRUE(TagToRef(t) >= w->heap_start && TagToRef(t) < w->global_top)
        << "listed variable outside the heap";
  EXPECT_EQ(deref(loc), items[0]) << "the local variable is bound to its heap stand-in";
  EXPECT_EQ(items[1], vb);
  w->node_ = saved;
}

TEST_F(TermWalkers, IdentityAndOccursCheck)
{
  TAGGED x = var(), y = var();
  TAGGED s = f("f", {atom("a")});
  struct tc {
    const char *why;
    TAGGED a, b;
    int expected;
  } eq_cases[] = {
      {"same variable", x, x, 1},
      {"different variables", x, y, 0},
      {"same atom", atom("a"), atom("a"), 1},
      {"same structure", s, s, 1},
      {"equal but distinct structures", s, f("f", {atom("a")}), 0},
  };
  for (const tc &c : eq_cases)
    EXPECT_EQ(call(prolog_eq, {c.a, c.b}), c.expected) << c.why;

  TAGGED v = var();
  EXPECT_EQ(call(prolog_unify_with_occurs_check, {v, f("f", {v})}), 0) << "X = f(X) must be refused";
  TAGGED p = var(), q = var();
  EXPECT_EQ(call(prolog_unify_with_occurs_check, {f("f", {p, q}), f("f", {q, atom("a")})}), 1);
  EXPECT_EQ(deref(p), atom("a"));
  EXPECT_EQ(stray_marks(), "");
}

} // namespace
