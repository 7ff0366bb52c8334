// The FD attribute: the image of a fresh attribute and of an integer's
// pseudo-attribute, the argument built-ins, linking into suspension lists
// (dead items dropped and counted, copy-on-write of the lists term), and
// the timestamped mutable update against the engine's own backtracking.
#include <gtest/gtest.h>

#include "fd_kernel_fixture.h"

namespace {

using Attr = FdKernel;

TEST_F(Attr, FreshAttributeIsTheTemplateWithItsSharedIntervalCell)
{
  const VR_term_ref v = term("_");
  fd_heap_room(&env, w, 414);
  const TAGGED a = fd_check_argument(&env, w, t(v), MakeSmall_checked(-3), MakeSmall_checked(7), MakeSmall_checked(11));
  ASSERT_NE(a, 0u);
  EXPECT_EQ(attr_of(v), a) << "attached under module clpfd";
  const TAGGED *p = TagToSTR(a);
  EXPECT_EQ(p[0], functor("v", 4));
  EXPECT_EQ(p[1], MakeSmall_checked(1));
  EXPECT_EQ(p[2], MakeSmall_checked(0));
  EXPECT_EQ(p[3], MakeSTR(p + 5));
  EXPECT_EQ(p[4], MakeSTR(p + 8));
  EXPECT_EQ(p[5], functor_Dmutable);
  EXPECT_EQ(p[6], MakeSTR(p + 11));
  EXPECT_EQ(p[11], st().functor_dom4);
  EXPECT_EQ(p[12], MakeLST(p + 24)) << "Set is word 24's cell";
  EXPECT_EQ(p[24], MakeLST(p + 13)) << "whose interval is dom's own Min and Max";
  EXPECT_EQ(p[25], atom_nil);
  EXPECT_EQ(dom_text(v), "[[-3|7]] -3 7 11");
  EXPECT_EQ(p[16], st().functor_lists7);
  for (int i = 17; i <= 18; i++)
    EXPECT_EQ(p[i], MakeSmall_checked(0));
  for (int i = 19; i <= 23; i++)
    EXPECT_EQ(p[i], atom_nil);

  TAGGED *top = w->global_top;
  EXPECT_EQ(fd_check_argument(&env, w, t(v), atom_inf, atom_sup, atom_sup), a) << "a domain variable keeps its attribute";
  EXPECT_EQ(w->global_top, top);
}

TEST_F(Attr, IntegersGetAPseudoAttributeOtherTermsNone)
{
  const TAGGED *top = w->global_top;
  const TAGGED a = fd_check_argument(&env, w, MakeSmall_checked(42), atom_inf, atom_sup, atom_sup);
  ASSERT_NE(a, 0u);
  EXPECT_EQ(w->global_top - top, FD_PSEUDO_ATTRIBUTE_WORDS);
  const TAGGED *p = TagToSTR(a);
  EXPECT_EQ(p[4], MakeSmall_checked(0)) << "no lists mutable";
  const TAGGED d = fd_attribute_dom(a);
  EXPECT_EQ(fdset_model::text(arg(d, 1)), "[[42|42]]");
  EXPECT_EQ(arg(d, 4), MakeSmall_checked(1));
  EXPECT_EQ(TagToLST(arg(d, 1))[0], MakeLST(TagToSTR(d) + 2)) << "interval cell is dom's Min and Max";
  for (const char *other : {"a", "f(X)", "[1]", "1.5", "100000000000", "\"s\""})
    EXPECT_EQ(fd_check_argument(&env, w, t(term(other)), atom_inf, atom_sup, atom_sup), 0u) << other;
}

TEST_F(Attr, ArgAttributeAndTheFiniteFlag)
{
  struct row {
    const char *term;
    long finite;
    bool ok;
    bool becomes_dvar;
  };
  const row rows[] = {
      {"5", 1, true, false},
      {"5", 0, true, false},
      {"_", 0, true, true},
      {"_", 1, false, true}, // inf..sup is not finite, but X is a domain variable now
      {"a", 0, false, false},
      {"f(_)", 0, false, false},
      {"2.5", 0, false, false},
  };
  for (const row &r : rows) {
    const VR_term_ref x = term(r.term), out = term("_");
    EXPECT_EQ(succeeds([&] { prolog_fd_arg_attribute_vrenv_multi_vr(&env, x, r.finite, out); }), r.ok)
        << r.term << " finite " << r.finite;
    EXPECT_EQ(attr_of(x) != 0, r.becomes_dvar) << r.term;
    if (r.ok) {
      EXPECT_EQ(arg(t(out), 1), MakeSmall_checked(1)) << r.term;
    }
  }
  const VR_term_ref y = dvar_in("[[1|4]]"), out = term("_");
  EXPECT_TRUE(succeeds([&] { prolog_fd_arg_attribute_vrenv_multi_vr(&env, y, 1, out); }));
  EXPECT_EQ(t(out), attr_of(y));
}

TEST_F(Attr, DvarListAndCheckArguments)
{
  struct row {
    const char *list;
    long finite;
    bool ok;
  };
  const row rows[] = {
      {"[X, 3, Y]", 0, true},   {"[]", 1, true},       {"[X, 3]", 1, false}, // X is inf..sup
      {"[X, a]", 0, false},     {"[X|_]", 0, false},   {"[X|foo]", 0, false},
  };
  for (const row &r : rows) {
    const VR_term_ref l = term(r.list);
    EXPECT_EQ(succeeds([&] { prolog_fd_dvar_list_vrenv_multi_vr(&env, l, r.finite); }), r.ok) << r.list;
    const TAGGED l0 = t(l);
    if (IsList(l0) && IsVar(deref(TagToLST(l0)[0]))) {
      EXPECT_NE(attr_of(ref_of(deref(TagToLST(l0)[0]))), 0u) << r.list << ": the first element became a domain variable";
    }
  }

  const VR_term_ref a = term("foo"), out = term("_");
  EXPECT_TRUE(succeeds([&] { prolog_fd_check_arguments_vrenv_multi_vr(&env, a, out); }));
  EXPECT_EQ(t(out), atom("foo"));
  const VR_term_ref bad = term("f(X, a)"), out2 = term("_");
  EXPECT_FALSE(succeeds([&] { prolog_fd_check_arguments_vrenv_multi_vr(&env, bad, out2); }));
  const VR_term_ref g = term("g(X, 3, Y)"), out3 = term("_");
  EXPECT_TRUE(succeeds([&] { prolog_fd_check_arguments_vrenv_multi_vr(&env, g, out3); }));
  const TAGGED attv = t(out3);
  ASSERT_TRUE(IsStructure(attv));
  EXPECT_EQ(*TagToSTR(attv), functor("g", 3));
  EXPECT_EQ(arg(attv, 1), attr_of(ref_of(arg(t(g), 1))));
  EXPECT_EQ(fdset_model::text(arg(fd_attribute_dom(arg(attv, 2)), 1)), "[[3|3]]");
  EXPECT_EQ(arg(attv, 3), attr_of(ref_of(arg(t(g), 3))));
}

TEST_F(Attr, CorefFindsARepeatedFirstArgument)
{
  const VR_term_ref twice = term("[f(A), g(B, 1), h(7), f(A)]");
  EXPECT_TRUE(succeeds([&] { prolog_fd_coref_vrenv_multi_vr(&env, twice); }));
  const VR_term_ref once = term("[f(A), g(B, 1), h(7)]");
  EXPECT_FALSE(succeeds([&] { prolog_fd_coref_vrenv_multi_vr(&env, once); }));
}

// Items are t(_, _, _, Ent): dead once Ent is bound.
TEST_F(Attr, LinkDropsDeadLeadingItemsAndCounts)
{
  const VR_term_ref v = dvar_in("[[1|9]]");
  const VR_term_ref items = term("[t(1, _, _, E1), t(2, _, _, E2), t(3, _, _, E3), t(4, _, _, E4)]");
  auto item = [&](int i) {
    TAGGED l = t(items);
    for (int k = 0; k < i; k++)
      l = deref(TagToLST(l)[1]);
    return deref(TagToLST(l)[0]);
  };
  auto lists = [&] { return fd_attribute_lists(attr_of(v)); };
  for (int i = 0; i < 3; i++) {
    fd_heap_room(&env, w, 422);
    fd_link(&env, w, t(v), st().functor_dom, item(i));
  }
  EXPECT_EQ(arg(lists(), 1), MakeSmall_checked(3));
  // The newest two die; linking a fourth drops them.
  ASSERT_TRUE(cunify(w, arg(item(2), 4), MakeSmall_checked(1)));
  ASSERT_TRUE(cunify(w, arg(item(1), 4), MakeSmall_checked(1)));
  fd_heap_room(&env, w, 422);
  fd_link(&env, w, t(v), st().functor_dom, item(3));
  EXPECT_EQ(arg(lists(), 1), MakeSmall_checked(2)) << "3 + 1 - 2 dropped";
  TAGGED l = arg(lists(), FD_LISTS_DOM);
  std::string order;
  for (; IsList(l); l = deref(TagToLST(l)[1]))
    order += std::to_string(GetSmall(arg(deref(TagToLST(l)[0]), 1)));
  EXPECT_EQ(order, "41");

  // Keys select lists and mask bits; val wraps the item as []-Item.
  struct row {
    TAGGED key;
    int index, bit;
  };
  const row rows[] = {{st().functor_min, FD_LISTS_MIN, 2},
                      {st().functor_max, FD_LISTS_MAX, 4},
                      {st().functor_minmax, FD_LISTS_MINMAX, 8},
                      {st().functor_val, FD_LISTS_VAL, 16},
                      {functor("none_of_these", 1), FD_LISTS_VAL, 16}};
  for (const row &r : rows) {
    const VR_term_ref x = term("_");
    fd_heap_room(&env, w, 422);
    fd_link(&env, w, t(x), r.key, item(0));
    const TAGGED ls = fd_attribute_lists(attr_of(x));
    EXPECT_EQ(arg(ls, 2), MakeSmall_checked(r.bit)) << "a fresh variable linked under list " << r.index;
    const TAGGED e = deref(TagToLST(arg(ls, r.index))[0]);
    if (r.index == FD_LISTS_VAL) {
      EXPECT_EQ(*TagToSTR(e), functor("-", 2));
      EXPECT_EQ(arg(e, 1), atom_nil);
      EXPECT_EQ(arg(e, 2), item(0));
    } else {
      EXPECT_EQ(e, item(0));
    }
  }
}

// Two updates of one mutable after a choicepoint: one three-word trail
// entry; backtracking brings the first value back.  A mutable made after
// the choicepoint is changed with no entry at all.
TEST_F(Attr, MutableUpdatesTrailOncePerChoicepoint)
{
  const VR_term_ref m = term("'$mutable'(old, 0)");
  const VR_term_ref fwd = term("_");
  step_then_backtrack(
      [&] {
        TAGGED *trail = w->trail_top;
        fd_update_mutable(&env, w, atom("one"), t(m));
        fd_update_mutable(&env, w, atom("two"), t(m));
        EXPECT_EQ(w->trail_top - trail, 3) << "one mutable entry";
        EXPECT_EQ(fd_mutable_value(t(m)), atom("two"));
        // A forwarder made now: updating through it changes the old one.
        TAGGED *h = w->global_top;
        h[0] = functor_Dmutable;
        h[1] = t(m);
        h[2] = MakeSmall_checked(0);
        w->global_top = h + 3;
        fd_update_mutable(&env, w, atom("three"), MakeSTR(h));
        EXPECT_EQ(arg(t(m), 1), atom("three"));
        TAGGED *young = w->global_top;
        young[0] = functor_Dmutable;
        young[1] = atom("a");
        young[2] = MakeSmall_checked(0);
        w->global_top = young + 3;
        trail = w->trail_top;
        fd_update_mutable(&env, w, atom("b"), MakeSTR(young));
        EXPECT_EQ(w->trail_top, trail) << "a mutable younger than the choicepoint";
        (void)fwd;
      },
      [&] { EXPECT_EQ(arg(t(m), 1), atom("old")); });
}

// fd_link after a choicepoint copies the older lists term once;
// backtracking restores the old lists.
TEST_F(Attr, LinkAfterAChoicepointIsUndone)
{
  const VR_term_ref v = dvar_in("[[1|9]]");
  const VR_term_ref it = term("t(1, _, _, _)");
  fd_heap_room(&env, w, 422);
  fd_link(&env, w, t(v), st().functor_min, t(it));
  const TAGGED before = fd_attribute_lists(attr_of(v));
  step_then_backtrack(
      [&] {
        fd_heap_room(&env, w, 900);
        fd_link(&env, w, t(v), st().functor_max, t(it));
        const TAGGED copy = fd_attribute_lists(attr_of(v));
        EXPECT_NE(copy, before) << "the older lists term is copied";
        fd_link(&env, w, t(v), st().functor_dom, t(it));
        EXPECT_EQ(fd_attribute_lists(attr_of(v)), copy) << "and the copy changed in place";
        EXPECT_EQ(arg(copy, 1), MakeSmall_checked(3));
        EXPECT_EQ(arg(copy, 2), MakeSmall_checked(2 | 4 | 1));
      },
      [&] {
        const TAGGED now = fd_attribute_lists(attr_of(v));
        EXPECT_EQ(now, before);
        EXPECT_EQ(arg(now, 1), MakeSmall_checked(1));
        EXPECT_EQ(arg(now, 2), MakeSmall_checked(2));
        EXPECT_EQ(arg(now, FD_LISTS_MAX), atom_nil);
      });
}

} // namespace
