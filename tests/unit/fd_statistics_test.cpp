// Counters read and reset, the two mode switches, the overflow check in
// both modes (the flag it acts on does not outlive the call), the
// small-integer range, and the incumbent built-ins over a term recorded
// by the runtime's own database.  Also: domain variables, their lists and
// a trailed domain survive a collection and a move of the stacks.
#include <gtest/gtest.h>

#include "fd_kernel_fixture.h"
#include "fd_statistics.h"
#include "overflow.h"
#include "telling.h"

namespace {

using Stats = FdKernel;
using fdset_model::S;

TEST_F(Stats, CountersAreReadAndReset)
{
  unsigned long *c[] = {&st().resumptions, &st().entailments, &st().prunings, &st().failures, &st().constraints};
  for (int k = 0; k < 5; k++)
    *c[k] = 10 + k;
  EXPECT_EQ(prolog_fd_statistics_vrenv_multi_vr(&env, 7), 0);
  EXPECT_EQ(prolog_fd_statistics_vrenv_multi_vr(&env, -1), 0);
  for (int k = 0; k < 5; k++) {
    EXPECT_EQ(prolog_fd_statistics_vrenv_multi_vr(&env, k), 10 + k) << "key " << k;
    EXPECT_EQ(prolog_fd_statistics_vrenv_multi_vr(&env, k), 0) << "key " << k << " read twice";
  }
  // Prunings count tells.
  const VR_term_ref v = dvar_in("[[1|9]]");
  const VR_term_ref s = term("[[2|5]]");
  prolog_fd_statistics_vrenv_multi_vr(&env, 2);
  EXPECT_TRUE(succeeds([&] { prolog_fd_in_set_vrenv_multi_vr(&env, v, s, 0); }));
  EXPECT_EQ(prolog_fd_statistics_vrenv_multi_vr(&env, 2), 1);
}

TEST_F(Stats, ModeSwitches)
{
  struct row {
    bool debug;
    const char *old_mode, *new_mode;
    long result;
    unsigned long after;
  };
  const row rows[] = {
      {true, "_", "off", 1, 0},  {true, "off", "on", 1, 1},  {true, "off", "off", 0, 1}, // Old is on now
      {true, "on", "off", 1, 0}, {false, "_", "fail", 1, 0}, {false, "fail", "error", 1, 1},
      {false, "fail", "fail", 0, 1},
  };
  for (const row &r : rows) {
    const VR_term_ref o = term(r.old_mode), n = term(r.new_mode);
    const long got = r.debug ? prolog_fd_debug_vrenv_multi_vr(&env, o, n) : prolog_fd_overflow_vrenv_multi_vr(&env, o, n);
    EXPECT_EQ(got, r.result) << r.old_mode << " -> " << r.new_mode;
    EXPECT_EQ(r.debug ? st().debugging : st().overflowing, r.after) << r.old_mode << " -> " << r.new_mode;
  }
  st().overflowing = 1;
  const VR_term_ref o = term("_"), n = term("fail");
  ASSERT_EQ(prolog_fd_overflow_vrenv_multi_vr(&env, o, n), 1);
  EXPECT_EQ(t(o), atom("error")) << "the default mode";
  EXPECT_EQ(st().overflowing, 0u);
}

// An overflow ends the call (mode fail: silently) and leaves the domain
// as it was; the flag stays until the next entry point clears it.
TEST_F(Stats, OverflowCheckFailsInModeFail)
{
  st().overflowing = 0;
  EXPECT_TRUE(succeeds([&] { EXPECT_EQ(fd_check_overflow(&env, atom("goal")), 1); }));
  const VR_term_ref v = dvar_in("[[1|9]]");
  load_tell_registers(v);
  fd_tell_interval(&env, w, atom_sup, atom_sup, 1);
  EXPECT_EQ(st().fd_overflow, 1);
  EXPECT_FALSE(succeeds([&] { EXPECT_EQ(fd_check_overflow(&env, atom("goal")), 0); }));
  EXPECT_EQ(dom_text(v), "[[1|9]] 1 9 9") << "the domain is untouched";
}

TEST_F(Stats, OverflowInModeErrorRaisesWhatOverflowActionRaises)
{
  std::vector<std::string> errors;
  consult_text(w, "overflow_action(G) :- throw(fd_overflow_in(G)).\n", find_module(atom("clpfd"), 1), &errors);
  ASSERT_TRUE(errors.empty());
  st().overflow_action1 = api->pVR_predicate("overflow_action", 1, "clpfd");
  ASSERT_NE(st().overflow_action1, nullptr);
  st().overflowing = 1;
  st().fd_overflow = 1;
  EXPECT_FALSE(succeeds([&] { EXPECT_EQ(fd_check_overflow(&env, atom("my_goal")), 0); }));
  // Raising leaves the ball in register 0 for the error choicepoint.
  const TAGGED ball = deref(w->term[0]);
  ASSERT_TRUE(IsStructure(ball));
  EXPECT_EQ(*TagToSTR(ball), functor("fd_overflow_in", 1));
  EXPECT_EQ(arg(ball, 1), atom("my_goal"));
}

TEST_F(Stats, MinintMaxint)
{
  const VR_term_ref lo = term("_"), hi = term("_");
  EXPECT_TRUE(succeeds([&] { prolog_fd_minint_maxint_vrenv_multi_vr(&env, lo, hi); }));
  EXPECT_EQ(t(lo), S(-268435456));
  EXPECT_EQ(t(hi), S(268435455));
}

// The incumbent: recorded by the runtime's database, updated in place.
// Terms of a finished query do not outlive it: fdk_capture/1 looks at its
// argument while the query runs.
struct Incumbent : FdKernel {
  static std::function<void(TAGGED)> on_capture;
  void capture(const std::string &goal, std::function<void(TAGGED)> f)
  {
    definition *d = insert_definition(find_module(atom("user"), 1), atom("fdk_capture"), 1, 1);
    redefine_predicate(d, ENTER_C);
    d->proc.code.cinfo = [](worker *w) {
      on_capture(deref(w->term[0]));
      return 1;
    };
    bool ran = false;
    on_capture = [&](TAGGED x) { f(x); ran = true; };
    std::vector<std::string> errors;
    consult_text(w, (":- initialization((" + goal + ")).").c_str(), find_module(atom("user"), 1), &errors);
    for (const std::string &e : errors)
      ADD_FAILURE() << goal << ": " << e;
    EXPECT_TRUE(ran) << goal;
  }
  // A database reference, rebuilt in a term reference (its arguments are
  // small integers).
  VR_term_ref reference(const std::string &goal)
  {
    TAGGED a = 0, b = 0;
    capture(goal, [&](TAGGED r) {
      if (IsStructure(r) && Arity(*TagToSTR(r)) == 2) {
        a = deref(TagToSTR(r)[1]);
        b = deref(TagToSTR(r)[2]);
      }
    });
    const VR_term_ref out = api->pVR_new_term_ref();
    TAGGED *h = w->global_top;
    h[0] = functor_Dref;
    h[1] = a;
    h[2] = b;
    w->global_top = h + 3;
    w->fli_stack_start[out].term = MakeSTR(h);
    return out;
  }
  std::string stored()
  {
    std::string s;
    capture("recorded(fdk_inc, T, _), fdk_capture(T)", [&](TAGGED t0) {
      s = fdset_model::bound_text(deref(TagToSTR(t0)[1])) + ":";
      for (TAGGED l = deref(TagToSTR(t0)[2]); IsList(l); l = deref(TagToLST(l)[1]))
        s += " " + fdset_model::bound_text(deref(TagToLST(l)[0]));
    });
    return s;
  }
};
std::function<void(TAGGED)> Incumbent::on_capture;

TEST_F(Incumbent, UpdatedInPlaceAndArgumentsChecked)
{
  const VR_term_ref ref = reference("recorda(fdk_inc, f(sup, [0, 0, 0]), R), fdk_capture(R)");
  struct row {
    const char *value, *values;
    bool ok;
    const char *after;
  };
  const row rows[] = {
      {"17", "[1, 2, 3]", true, "17: 1 2 3"},
      {"12", "[4, 5]", true, "12: 4 5 3"}, // fewer values leave the rest
      {"10", "[1, 2, 3, 4]", false, "12: 4 5 3"}, // more values than stored: nothing written
      {"10", "[1, a, 3]", false, "12: 4 5 3"},
      {"10", "[1, f(x), 3]", false, "12: 4 5 3"},
      {"x", "[1, 2, 3]", false, "12: 4 5 3"},
      {"10", "[1|_]", false, "12: 4 5 3"},
  };
  for (const row &r : rows) {
    const VR_term_ref v = term(r.value), vs = term(r.values);
    EXPECT_EQ(succeeds([&] { prolog_fd_update_incumbent_vrenv_multi_vr(&env, ref, v, vs); }), r.ok) << r.value << " " << r.values;
    EXPECT_EQ(stored(), r.after) << r.value << " " << r.values;
  }
  const VR_term_ref b = term("_");
  EXPECT_TRUE(succeeds([&] { prolog_fd_incumbent_bound_vrenv_multi_vr(&env, ref, b); }));
  EXPECT_EQ(t(b), S(12));
  // Not references, or a reference to a term of another shape.
  for (const char *bad : {"foo", "'$ref'(a, 1)", "'$ref'(1, 2, 3)"}) {
    const VR_term_ref r = term(bad), v = term("1"), vs = term("[]");
    EXPECT_FALSE(succeeds([&] { prolog_fd_update_incumbent_vrenv_multi_vr(&env, r, v, vs); })) << bad;
    EXPECT_FALSE(succeeds([&] { prolog_fd_incumbent_bound_vrenv_multi_vr(&env, r, v); })) << bad;
  }
  const VR_term_ref other = reference("recorda(fdk_other, g(1), R), fdk_capture(R)"), v = term("1"), vs = term("[]");
  EXPECT_FALSE(succeeds([&] { prolog_fd_update_incumbent_vrenv_multi_vr(&env, other, v, vs); }));
}

// Domain variables, their suspension lists and a domain replaced after a
// choicepoint survive a collection of the whole heap and a move of the
// stacks; backtracking afterwards still restores the older domain.
TEST_F(Stats, DomainVariablesSurviveCollectionAndStackMoves)
{
  const VR_term_ref x = dvar_in("[[1|3],[5|9]]");
  const VR_term_ref y = dvar_in("[[0|4]]");
  const VR_term_ref item = term("global('$mutable'(s, 0), c, '$mutable'(2, 0), _, src)");
  fd_heap_room(&env, w, 422);
  fd_link(&env, w, t(x), st().functor_dom, t(item));
  step_then_backtrack(
      [&] {
        const VR_term_ref s = term("[[6|7]]");
        ASSERT_TRUE(succeeds([&] { prolog_fd_in_set_vrenv_multi_vr(&env, x, s, 1); }));
        // Garbage, a whole collection, then a move to a larger block.
        for (int i = 0; i < 2000; i++) {
          fd_heap_room(&env, w, FD_PSEUDO_ATTRIBUTE_WORDS);
          fd_check_argument(&env, w, MakeSmall_checked(i), atom_inf, atom_sup, atom_sup);
        }
        // Asking for more room than is free collects and then moves the
        // heap to a larger block, as a built-in's heap check does.
        const std::int64_t collections = eglobal->stats.gc_count;
        TAGGED *const h1 = w->heap_start;
        fd_heap_room(&env, w, (w->heap_warn - w->global_top) + 20000);
        VR_pred_ref gc = api->pVR_predicate("garbage_collect", 0, "prolog");
        ASSERT_NE(gc, nullptr);
        EXPECT_EQ(api->pVR_query(gc), 1);
        fd_heap_room(&env, w, (w->heap_warn - w->global_top) + 20000);
        EXPECT_GT(eglobal->stats.gc_count, collections) << "a collection ran";
        EXPECT_NE(w->heap_start, h1) << "the heap moved";
        EXPECT_EQ(dom_text(x), "[[6|7]] 6 7 2");
        EXPECT_EQ(dom_text(y), "[[0|4]] 0 4 5");
        const TAGGED lists = fd_attribute_lists(attr_of(x));
        EXPECT_EQ(arg(lists, 1), S(1));
        EXPECT_EQ(deref(TagToLST(arg(lists, FD_LISTS_DOM))[0]), t(item));
        // Telling still works on the moved terms.
        const VR_term_ref s2 = term("[[2|3]]");
        ASSERT_TRUE(succeeds([&] { prolog_fd_in_set_vrenv_multi_vr(&env, y, s2, 1); }));
        EXPECT_EQ(dom_text(y), "[[2|3]] 2 3 2");
      },
      [&] {
        EXPECT_EQ(dom_text(x), "[[1|3],[5|9]] 1 9 8");
        EXPECT_EQ(dom_text(y), "[[0|4]] 0 4 5");
      });
}

} // namespace
