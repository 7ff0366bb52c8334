// Telling domains: the change bits of each tell, domains changed in place
// or replaced by a new dom/4 term (restored by the engine's backtracking),
// the restricting built-ins, binding a variable that became fixed, and the
// write-back of domain-variable caches (fast path, reconciling with a
// domain another propagator pruned meanwhile, debugging requests).
#include <gtest/gtest.h>

#include "dvar.h"
#include "propagation.h"
#include "fd_kernel_fixture.h"

namespace {

using Tell = FdKernel;
using fdset_model::S;

TEST_F(Tell, ChangeBitsOfEachTell)
{
  struct row {
    const char *domain;
    int kind; // 0 value, 1 interval, 2 set
    long a, b;
    const char *set;
    int why;
    const char *after;
  };
  const row rows[] = {
      {"[[1|3]]", 0, 3, 0, "", 27, "[[3|3]] 3 3 1"}, // only the upper bound stays
      {"[[1|3]]", 0, 1, 0, "", 29, "[[1|1]] 1 1 1"},
      {"[[1|3]]", 0, 2, 0, "", 31, "[[2|2]] 2 2 1"},
      {"[[1|3],[5|9]]", 0, 5, 0, "", 31, "[[5|5]] 5 5 1"},
      {"[[4|4]]", 0, 4, 0, "", 25, "[[4|4]] 4 4 1"},
      {"[[1|9]]", 1, 2, 6, "", 11, "[[2|6]] 2 6 5"}, // why is the caller's
      {"[[1|9]]", 1, 5, 5, "", 31, "[[5|5]] 5 5 1"}, // equal bounds: a value
      {"[[1|9]]", 2, 0, 0, "[[1|3],[5|9]]", 1, "[[1|3],[5|9]] 1 9 8"},
      {"[[1|9]]", 2, 0, 0, "[[2|3],[5|9]]", 11, "[[2|3],[5|9]] 2 9 7"},
      {"[[1|9]]", 2, 0, 0, "[[1|3],[5|8]]", 13, "[[1|3],[5|8]] 1 8 7"},
      {"[[1|9]]", 2, 0, 0, "[[2|3],[5|8]]", 15, "[[2|3],[5|8]] 2 8 6"},
      {"[[1|9]]", 2, 0, 0, "[[2|8]]", 15, "[[2|8]] 2 8 7"},
      {"[[1|9]]", 2, 0, 0, "[[inf|3],[5|sup]]", 15, "[[inf|3],[5|sup]] inf sup sup"},
  };
  for (const row &r : rows) {
    const VR_term_ref v = pinned_dvar_in(r.domain);
    const VR_term_ref set = term(r.kind == 2 ? r.set : "[]");
    load_tell_registers(v); // reading terms uses the argument registers
    int why;
    if (r.kind == 0)
      why = fd_tell_value(&env, w, S(r.a));
    else if (r.kind == 1)
      why = fd_tell_interval(&env, w, S(r.a), S(r.b), 11);
    else
      why = fd_tell(&env, w, t(set));
    EXPECT_EQ(why, r.why) << r.domain << " kind " << r.kind << " " << r.a << " " << r.set;
    EXPECT_EQ(dom_text(v), r.after) << r.domain << " kind " << r.kind << " " << r.a << " " << r.set;
    EXPECT_EQ(st().fd_overflow, 0);
  }
}

TEST_F(Tell, OverflowingTellsLeaveTheDomain)
{
  const VR_term_ref v = dvar_in("[[1|9]]");
  load_tell_registers(v);
  EXPECT_EQ(fd_tell_interval(&env, w, atom_sup, atom_sup, 1), 0);
  EXPECT_EQ(st().fd_overflow, 1);
  st().fd_overflow = 0;
  EXPECT_EQ(fd_tell_value(&env, w, atom("a")), 0);
  EXPECT_EQ(st().fd_overflow, 1);
  st().fd_overflow = 0;
  const VR_term_ref bad = term("[[1|2],[sup|sup]]");
  load_tell_registers(v);
  EXPECT_EQ(fd_tell(&env, w, t(bad)), 0);
  EXPECT_EQ(st().fd_overflow, 1);
  EXPECT_EQ(dom_text(v), "[[1|9]] 1 9 9");
}

// A dom/4 term made after the newest choicepoint is changed in place; an
// older one is replaced, and backtracking brings it back.
TEST_F(Tell, InPlaceOrNewDomTermByAge)
{
  const VR_term_ref old_var = dvar_in("[[1|9]]");
  const TAGGED old_dom = fd_attribute_dom(attr_of(old_var));
  step_then_backtrack(
      [&] {
        load_tell_registers(old_var);
        EXPECT_EQ(fd_tell_interval(&env, w, S(2), S(8), 15), 15);
        const TAGGED new_dom = fd_attribute_dom(attr_of(old_var));
        EXPECT_NE(new_dom, old_dom) << "an older dom/4 is not changed";
        const VR_term_ref holes = term("[[2|4],[6|8]]");
        load_tell_registers(old_var);
        EXPECT_EQ(fd_tell(&env, w, t(holes)), 1);
        EXPECT_EQ(fd_attribute_dom(attr_of(old_var)), new_dom) << "its young replacement is";
        EXPECT_EQ(fd_tell_value(&env, w, S(8)), 27);
        EXPECT_EQ(fd_attribute_dom(attr_of(old_var)), new_dom);
        EXPECT_EQ(dom_text(old_var), "[[8|8]] 8 8 1");

        const VR_term_ref young = dvar_in("[[1|9]]");
        const TAGGED ydom = fd_attribute_dom(attr_of(young));
        load_tell_registers(young);
        EXPECT_EQ(fd_tell_interval(&env, w, S(3), S(9), 11), 11);
        EXPECT_EQ(fd_attribute_dom(attr_of(young)), ydom);
        const TAGGED set = arg(ydom, 1);
        EXPECT_EQ(TagToLST(set)[0], MakeLST(TagToSTR(ydom) + 2)) << "the interval is dom's own Min and Max";
      },
      [&] {
        EXPECT_EQ(fd_attribute_dom(attr_of(old_var)), old_dom);
        EXPECT_EQ(dom_text(old_var), "[[1|9]] 1 9 9");
      });
}

TEST_F(Tell, TellBuiltinComparesFirst)
{
  struct row {
    const char *domain; // "=N" for an integer
    const char *set;
    bool ok;
    long result;
    const char *after;
  };
  const row rows[] = {
      {"[[1|5]]", "[[0|9]]", true, 0, "[[1|5]] 1 5 5"}, // a superset tells nothing
      {"[[1|5]]", "[[1|5]]", true, 0, "[[1|5]] 1 5 5"},
      {"[[1|5]]", "[[2|3]]", true, 7, "[[2|3]] 2 3 2"},
      {"[[1|5]]", "[[3|9]]", true, 3, "[[3|5]] 3 5 3"},
      {"[[1|5]]", "[[0|1],[4|4]]", true, 5, "[[1|1],[4|4]] 1 4 2"},
      {"[[1|5]]", "[[7|8]]", false, 0, "[[1|5]] 1 5 5"},
      {"[[1|5]]", "[]", false, 0, "[[1|5]] 1 5 5"},
      {"=3", "[[1|5]]", true, 0, "=3"},
      {"=7", "[[1|5]]", false, 0, "=7"},
  };
  for (const row &r : rows) {
    const VR_term_ref v = r.domain[0] == '=' ? term(r.domain + 1) : dvar_in(r.domain);
    const VR_term_ref s = term(r.set);
    long got = -1;
    EXPECT_EQ(succeeds([&] { got = prolog_fd_tell_vrenv_multi_vr(&env, v, s); }), r.ok) << r.domain << " " << r.set;
    if (r.ok) {
      EXPECT_EQ(got, r.result) << r.domain << " " << r.set;
    }
    EXPECT_EQ(dom_text(v), r.after) << r.domain << " " << r.set;
  }
}

TEST_F(Tell, InSetAndInIntervalRestrict)
{
  struct row {
    const char *domain;
    const char *set; // or "lo..hi" for $fd_in_interval/4
    bool ok;
    const char *after;
  };
  const row rows[] = {
      {"[[1|9]]", "[[3|5],[7|7]]", true, "[[3|5],[7|7]] 3 7 4"},
      {"[[1|9]]", "[[0|20]]", true, "[[1|9]] 1 9 9"},
      {"[[1|9]]", "[[10|20]]", false, "[[1|9]] 1 9 9"},
      {"[[1|3],[6|9]]", "[[2|7]]", true, "[[2|3],[6|7]] 2 7 4"},
      {"[[1|9]]", "4..sup", true, "[[4|9]] 4 9 6"},
      {"[[1|9]]", "inf..0", false, "[[1|9]] 1 9 9"},
      {"[[1|9]]", "5..4", false, "[[1|9]] 1 9 9"},
  };
  for (const row &r : rows) {
    const VR_term_ref v = dvar_in(r.domain);
    const std::string s = r.set;
    const auto dots = s.find("..");
    const unsigned long failures = st().failures;
    bool ok;
    if (dots == std::string::npos) {
      const VR_term_ref set = term(r.set);
      ok = succeeds([&] { prolog_fd_in_set_vrenv_multi_vr(&env, v, set, 0); });
    } else {
      const VR_term_ref lo = term(s.substr(0, dots).c_str()), hi = term(s.substr(dots + 2).c_str());
      ok = succeeds([&] { prolog_fd_in_interval_vrenv_multi_vr(&env, v, lo, hi, 0); });
    }
    EXPECT_EQ(ok, r.ok) << r.domain << " " << r.set;
    EXPECT_EQ(st().failures - failures, r.ok ? 0u : 1u) << "each failure counts";
    EXPECT_EQ(dom_text(v), r.after) << r.domain << " " << r.set;
  }
  const VR_term_ref three = term("3"), set = term("[[1|5]]");
  EXPECT_TRUE(succeeds([&] { prolog_fd_in_set_vrenv_multi_vr(&env, three, set, 0); }));
  const VR_term_ref bad = term("a");
  EXPECT_FALSE(succeeds([&] { prolog_fd_in_set_vrenv_multi_vr(&env, bad, set, 0); }));
}

TEST_F(Tell, SetSingleton)
{
  const VR_term_ref v = dvar_in("[[1|3],[7|9]]");
  const VR_term_ref dm = ref_of(arg(attr_of(v), FD_ATTR_DOM));
  const VR_term_ref five = term("5"), eight = term("8");
  EXPECT_FALSE(succeeds([&] { prolog_fd_set_singleton_vrenv_multi_vr(&env, five, dm); }));
  EXPECT_TRUE(succeeds([&] { prolog_fd_set_singleton_vrenv_multi_vr(&env, eight, dm); }));
  EXPECT_EQ(dom_text(v), "[[8|8]] 8 8 1");
}

// A variable that becomes fixed and carries nothing but the FD attribute
// is bound by fd_told at once; one with another attribute stays unbound
// (it goes to queue 5).
TEST_F(Tell, FixedVariableIsBoundAtOnceWhenItCarriesNothingElse)
{
  mod_def *other = find_module(atom("fdk_other"), 1);
  ASSERT_EQ(save_attribute_info(other), 1);
  const VR_term_ref plain = dvar_in("[[1|3]]");
  const VR_term_ref shared = dvar_in("[[1|3]]");
  put_attributes(w, t(shared), atom("mine"), other);
  st().prunings = 0;
  EXPECT_TRUE(succeeds([&] { prolog_fd_begin_vrenv_multi_vr(&env); }));
  for (VR_term_ref v : {plain, shared}) {
    load_tell_registers(v);
    EXPECT_TRUE(succeeds([&] { fd_told(&env, w, fd_tell_value(&env, w, S(2)), 0); }));
  }
  EXPECT_EQ(t(plain), S(2));
  EXPECT_TRUE(IsVar(t(shared)));
  EXPECT_EQ(dom_text(shared), "[[2|2]] 2 2 1");
  EXPECT_EQ(st().prunings, 2u);
  const prop_queue &q5 = st().current_propagator->queue[5];
  ASSERT_EQ(q5.last - q5.first, 1) << "one pair in queue 5";
  const TAGGED pair = deref(q5.items[q5.first].term);
  EXPECT_EQ(*TagToSTR(pair), functor("-", 2));
  EXPECT_EQ(arg(pair, 1), t(shared));
  EXPECT_EQ(arg(pair, 2), S(2));
}

// Binding a fixed variable while another binding's wake-up is pending:
// the engine's wake-up collector takes the newest wake_count constrained
// bindings off the trail, so the direct binding must not sit above the
// pending one.
TEST_F(Tell, DirectBindingStaysBelowPendingWakeUps)
{
  mod_def *other = find_module(atom("fdk_other"), 1);
  ASSERT_EQ(save_attribute_info(other), 1);
  const VR_term_ref x = dvar_in("[[1|3]]");
  const VR_term_ref y = term("_");
  put_attributes(w, t(y), atom("mine"), other);
  const TAGGED ycell = t(y), xcell = t(x);
  step_then_backtrack(
      [&] {
        ASSERT_TRUE(cunify(w, t(y), atom("bound")));
        ASSERT_EQ(w->wake_count, 1u);
        load_tell_registers(x);
        fd_told(&env, w, fd_tell_value(&env, w, S(3)), 0);
        EXPECT_EQ(t(x), S(3));
        // The newest constrained binding on the trail is Y's.
        TAGGED newest = 0;
        for (TAGGED *p = w->trail_top; p > w->trail_start + 1 && newest == 0;) {
          const TAGGED e = *--p;
          if (IsVar(e) && e != 0 && TagToRef(e)[-1] == CVA_MARKER)
            newest = e;
        }
        EXPECT_EQ(newest, ycell) << "the pending wake-up is still the newest";
        // Drop the pending wake-up: no handler for fdk_other exists here.
        w->wake_count = 0;
        w->heap_warn_soft = w->heap_warn;
      },
      [&] {
        EXPECT_EQ(t(x), xcell) << "X unbound again";
        EXPECT_EQ(dom_text(x), "[[1|3]] 1 3 3");
      });
}

// ---- Writing caches back ----

struct Export : FdKernel {
  VR_globref refs = nullptr;
  void TearDown() override
  {
    if (refs != nullptr)
      api->pVR_free_globrefs(refs);
    FdKernel::TearDown();
  }
  // A cache of v as a global constraint's run fills it.
  void init(dvar *dv, VR_term_ref v)
  {
    if (refs == nullptr)
      refs = api->pVR_alloc_globrefs(8);
    static int next = 0;
    VR_globref r = refs + (next++ % 4) * 2;
    r[0].term = attr_of(v);
    r[1].term = t(v);
    dvar_init(dv, r, r + 1);
  }
  void other_tells(VR_term_ref v, const char *set)
  {
    const VR_term_ref s = term(set);
    ASSERT_TRUE(succeeds([&] { prolog_fd_in_set_vrenv_multi_vr(&env, v, s, 0); }));
  }
  std::string actions() { return fdset_model::text(w->term[2]) == "?" ? "?" : actions_text(w->term[2]); }
  std::string actions_text(TAGGED l)
  {
    std::string s;
    for (l = deref(l); IsList(l); l = deref(TagToLST(l)[1])) {
      const TAGGED e = deref(TagToLST(l)[0]);
      if (IsAtom(e))
        s += "fail;";
      else if (*TagToSTR(e) == st().functor_eq)
        s += "=" + fdset_model::bound_text(arg(e, 2)) + ";";
      else
        s += "in_set " + fdset_model::text(arg(e, 2)) + ";";
    }
    return s;
  }
};

TEST_F(Export, InitReadsTheAttribute)
{
  dvar dv;
  init(&dv, dvar_in("[[1|3],[5|9]]"));
  EXPECT_EQ(dv.flags, DV_SYNCED);
  EXPECT_EQ(dv.cookie, S(8));
  init(&dv, dvar_in("[[4|6]]"));
  EXPECT_EQ(dv.flags, DV_SYNCED | DV_INTERVAL);
  init(&dv, pinned_dvar_in("[[4|4]]"));
  EXPECT_EQ(dv.flags, DV_SYNCED | DV_INTERVAL | DV_FIXED);
  EXPECT_EQ(dv.min, S(4));
}

// Each case: the domain, the cache's pruning, what another propagator told
// meanwhile ("" nothing), and the domain and Actions afterwards.  The
// reconciling cases never lose the other propagator's pruning.
TEST_F(Export, WriteBackFastAndReconciling)
{
  struct row {
    const char *domain;
    int prune; // 0 fix lo..hi, 1 remove lo..hi
    long lo, hi;
    const char *other;
    const char *after;
    const char *actions;
  };
  const row rows[] = {
      {"[[1|9]]", 0, 2, 5, "", "[[2|5]] 2 5 4", ""},
      {"[[1|9]]", 1, 4, 4, "", "[[1|3],[5|9]] 1 9 8", ""},
      {"[[1|9]]", 0, 3, 3, "", "=3", ""},
      {"[[1|9]]", 0, 1, 5, "[[3|9]]", "[[3|5]] 3 5 3", ""},
      {"[[1|9]]", 1, 4, 4, "[[3|9]]", "[[3|3],[5|9]] 3 9 6", ""},
      {"[[1|9]]", 1, 4, 4, "[[1|2],[6|9]]", "[[1|2],[6|9]] 1 9 6", ""}, // D within the cache
      {"[[1|9]]", 0, 1, 2, "[[5|9]]", "[[5|9]] 5 9 5", "fail;"},
      {"[[1|9]]", 0, 6, 6, "[[5|9]]", "=6", ""},
      {"[[1|9]]", 0, 2, 2, "[[5|9]]", "[[5|9]] 5 9 5", "fail;"},
      {"[[1|9]]", 0, 1, 8, "[[1|3],[5|9]]", "[[1|3],[5|8]] 1 8 7", ""},
      {"[[1|9]]", 0, 4, 9, "[[1|3],[5|9]]", "[[5|9]] 5 9 5", ""},
      {"[[1|9]]", 0, 2, 7, "[[1|3],[5|9]]", "[[2|3],[5|7]] 2 7 5", ""},
  };
  for (const row &r : rows) {
    w->numstack_end = nullptr;
    const VR_term_ref v = dvar_in(r.domain);
    dvar dv;
    init(&dv, v);
    const int res = r.prune == 0 ? dvar_fix_interval_t(&dv, S(r.lo), S(r.hi))
                                 : dvar_prune_interval_t(&env, &dv, S(r.lo), S(r.hi), w);
    ASSERT_GT(res, 0) << r.domain;
    dvar_pruning_done(&env, w, &dv);
    if (*r.other != 0)
      other_tells(v, r.other);
    w->term[2] = atom_nil;
    dvar_export_do(&env, w, &dv);
    EXPECT_EQ(dom_text(v), r.after) << r.domain << " " << r.prune << " " << r.lo << ".." << r.hi << " other " << r.other;
    EXPECT_EQ(actions_text(w->term[2]), r.actions) << r.domain << " " << r.lo << ".." << r.hi << " other " << r.other;
    EXPECT_NE(dv.flags & DV_EXPORTED, 0u);
  }
}

TEST_F(Export, DebuggingModeRequestsInsteadOfPruning)
{
  st().debugging = 1;
  struct row {
    int prune;
    long lo, hi;
    const char *actions;
  };
  const row rows[] = {{0, 3, 3, "=3;"}, {0, 2, 5, "in_set [[2|5]];"}, {1, 4, 5, "in_set [[1|3],[6|9]];"}};
  for (const row &r : rows) {
    w->numstack_end = nullptr;
    const VR_term_ref v = dvar_in("[[1|9]]");
    dvar dv;
    init(&dv, v);
    ASSERT_GT(r.prune == 0 ? dvar_fix_interval_t(&dv, S(r.lo), S(r.hi))
                           : dvar_prune_interval_t(&env, &dv, S(r.lo), S(r.hi), w),
              0);
    dvar_pruning_done(&env, w, &dv);
    w->term[2] = atom_nil;
    dvar_export_do(&env, w, &dv);
    EXPECT_EQ(dom_text(v), "[[1|9]] 1 9 9") << "nothing told";
    EXPECT_EQ(actions_text(w->term[2]), r.actions);
    if (r.lo == r.hi) {
      EXPECT_EQ(arg(deref(TagToLST(w->term[2])[0]), 1), t(v)) << "X = 3 names the variable";
    }
  }
}

TEST_F(Export, IndexicalWriteBack)
{
  struct row {
    int prune;
    long lo, hi;
    const char *after;
  };
  const row rows[] = {{0, 3, 3, "=3"}, {0, 2, 5, "[[2|5]] 2 5 4"}, {1, 4, 5, "[[1|3],[6|9]] 1 9 7"}};
  for (const row &r : rows) {
    w->numstack_end = nullptr;
    const VR_term_ref v = dvar_in("[[1|9]]");
    dvar dv;
    dvar_init_ix(&dv, attr_of(v), t(v));
    ASSERT_GT(r.prune == 0 ? dvar_fix_interval_t(&dv, S(r.lo), S(r.hi))
                           : dvar_prune_interval_t(&env, &dv, S(r.lo), S(r.hi), w),
              0);
    dvar_export_ix(&env, w, &dv, 0);
    EXPECT_EQ(dom_text(v), r.after);
  }
}

} // namespace
