// The protocol of native global constraints: a constraint instance's data
// block across entailment, choicepoints, cuts and backtracking (its
// destructor runs once, when nothing can bring the constraint back); a
// test constraint with a daemon run by the propagation loop; the rewrite
// requests and the small helpers of the protocol.
#include <gtest/gtest.h>

#include <string>

#include "dvar.h"
#include "fd_kernel_fixture.h"
#include "globals.h"
#include "posting.h"
#include "propagation.h"
#include "sw_on_key.h"

namespace {

/* A data block that counts its disposals. */
struct counted_block {
  daemon_frame frame;
  VREnv *env;
  VR_globref refs; /* attribute, variable */
  bool entail_next;
  int runs;
  int daemon_calls;
  long stamp;
};

int destroyed;

void counting_destructor(void *block)
{
  auto *b = static_cast<counted_block *>(block);
  destroyed++;
  if (b->refs != nullptr)
    b->env->dispatch_API_VOSTREL_H->pVR_free_globrefs(b->refs);
  b->env->dispatch_API_VOSTREL_H->pVR_free(block);
}

struct Globals : FdKernel {
  static Globals *current;
  static std::string log;
  VR_globref keep = nullptr; /* keep[0]: the state term between the natives */
  TAGGED *trail_mark = nullptr;

  void SetUp() override
  {
    FdKernel::SetUp();
    current = this;
    destroyed = 0;
    log.clear();
    keep = api->pVR_alloc_globrefs(1);
    native("g_new", [](worker *w) {
      TAGGED *h = w->global_top;
      w->global_top = h + 3;
      h[0] = functor("s", 2);
      h[1] = PointerToTerm(h + 1);
      h[2] = MakeSmall_checked(0);
      current->keep[0].term = MakeSTR(h);
      return 1;
    });
    native("g_alloc", [](worker *w) {
      current->load(w);
      TAGGED handle;
      long stamp;
      int committed;
      current->keep[0].term = fd_unify_output_state(&current->env, w, &handle, &stamp, &committed);
      EXPECT_TRUE(IsVar(handle));
      EXPECT_TRUE(committed) << "no block yet: nothing to lose";
      auto *b = static_cast<counted_block *>(fd_perm_alloc(&current->env, w, sizeof(counted_block), handle));
      *b = counted_block{{&counting_destructor, nullptr}, &current->env, nullptr, false, 0, 0, stamp + 1};
      return 1;
    });
    native("g_free", [](worker *w) {
      current->load(w);
      fd_perm_free(&current->env, w);
      return 1;
    });
    native("g_log", [](worker *) {
      log += std::to_string(destroyed);
      return 1;
    });
    native("g_mark", [](worker *w) {
      current->trail_mark = w->trail_top;
      return 1;
    });
    native("g_same", [](worker *w) {
      log += w->trail_top == current->trail_mark ? "=" : "+";
      return 1;
    });
    native("g_alive", [](worker *) {
      const TAGGED s = deref(current->keep[0].term);
      const TAGGED handle = deref(TagToSTR(s)[1]);
      void *block = fd_perm_data(handle);
      log += IsVar(deref(TagToLST(handle)[0])) && fd_free_handle_issued(&current->env, block) ? "A" : "x";
      return 1;
    });
  }
  void TearDown() override
  {
    api->pVR_free_globrefs(keep);
    FdKernel::TearDown();
  }
  // Registers as the loop leaves them for a run: 0 the state, 1 and 2 no
  // heap terms.
  void load(worker *w)
  {
    w->term[0] = deref(keep[0].term);
    w->term[1] = w->term[2] = atom_nil;
  }
  int run_program(const std::string &body)
  {
    std::vector<std::string> errors;
    consult_text(w, ("gb_prog :- " + body + ".\n").c_str(), find_module(atom("user"), 1), &errors);
    EXPECT_TRUE(errors.empty()) << body;
    return RuntimeFixture::run("gb_prog");
  }
};
Globals *Globals::current;
std::string Globals::log;

TEST_F(Globals, TheBlockIsDisposedOfOnceWhenNothingCanBringTheConstraintBack)
{
  struct row {
    const char *why;
    const char *body;
    const char *log;
  } rows[] = {
      {"entailed in the run that created it: disposed of at once, its trail entry dropped",
       "g_new, g_mark, g_alloc, g_free, g_log, g_same", "1="},
      {"entailed after a choicepoint: disposed of when the choicepoint is cut",
       "g_new, g_alloc, ( g_free, g_log ; true ), !, g_log", "01"},
      {"the same with several choicepoints between creation and entailment",
       "g_new, g_alloc, ( true ; true ), ( g_free ; true ), g_log, !, g_log", "01"},
      {"entailed after a choicepoint, then backtracked: the constraint and its block live on",
       "g_new, g_alloc, ( g_free, g_log, fail ; g_log, g_alive ), g_free, g_log", "00A1"},
      {"backtracking to before the first run frees the block", "g_new, ( g_alloc, g_log, fail ; g_log )", "01"},
      {"disposed of after an undone entailment, then backtracked past its creation: never twice",
       "g_new, ( g_alloc, ( g_free, fail ; true ), g_free, g_log, fail ; g_log )", "11"},
  };
  for (const row &r : rows) {
    destroyed = 0;
    log.clear();
    EXPECT_EQ(run_program(r.body), 1) << r.why;
    EXPECT_EQ(log, r.log) << r.why;
    EXPECT_EQ(destroyed, 1) << r.why;
  }
}

TEST_F(Globals, OutputStateCopiesATermOlderThanTheNewestChoicepoint)
{
  native("g_check_copy", [](worker *w) {
    current->load(w);
    const TAGGED before = w->term[0];
    TAGGED handle;
    long stamp;
    int committed;
    const TAGGED after = fd_unify_output_state(&current->env, w, &handle, &stamp, &committed);
    log += after == before ? "same" : "copy";
    log += " " + std::to_string(stamp) + "->" + std::to_string(GetSmall(TagToSTR(after)[2]));
    log += " " + std::to_string(GetSmall(deref(TagToSTR(before)[2])));
    EXPECT_EQ(w->term[0], after) << "register 0 holds the output state";
    return 1;
  });
  // Made before the disjunction's choicepoint: copied, the old term keeps
  // its stamp; made after it: changed in place.
  EXPECT_EQ(run_program("g_new, ( g_check_copy, fail ; true ), g_new, g_check_copy"), 1);
  EXPECT_EQ(log, "copy 0->1 0same 0->1 1");
}

/* ---- A constraint with a daemon, run by the loop ---- */

// watch(X): its first run makes the block and attaches a daemon on X's dom
// list; the daemon counts its calls, brings the state's stamp up and wakes
// the constraint, whose next run entails it.
void watch_daemon(VREnv *env, worker *w, void *block, VR_globref, TAGGED global)
{
  auto *b = static_cast<counted_block *>(block);
  b->daemon_calls++;
  TAGGED g = global;
  const TAGGED s = fd_daemon_copy_state(env, w, &g);
  b->stamp = GetSmall(deref(TagToSTR(s)[2]));
  fd_enqueue_global(env, w, g, 3);
}

void test_watch(VREnv *env, VR_term_ref, VR_term_ref new_state, VR_term_ref actions)
{
  worker *w = fd_current_worker(env);
  fd_state *fd = fd_state_of(env);
  TAGGED handle;
  long stamp;
  int committed;
  w->fli_stack_start[new_state].term = fd_unify_output_state(env, w, &handle, &stamp, &committed);
  int code = 0;
  if (IsVar(handle)) {
    auto *b = static_cast<counted_block *>(fd_perm_alloc(env, w, sizeof(counted_block), handle));
    *b = counted_block{{&counting_destructor, &watch_daemon}, env, env->dispatch_API_VOSTREL_H->pVR_alloc_globrefs(2),
                       false, 1, 0, stamp + 1};
    const TAGGED x = deref(TagToSTR(deref(TagToSTR(deref(w->term[1]))[2]))[1]);
    b->refs[0].term = get_attributes(x, fd->fd_module);
    b->refs[1].term = x;
    dvar dv;
    dvar_init(&dv, &b->refs[0], &b->refs[1]);
    dvar_attach_daemon(env, w, &dv, b, deref(w->term[1]), fd->functor_dom);
  } else {
    auto *b = static_cast<counted_block *>(fd_perm_data(handle));
    EXPECT_EQ(b->stamp, stamp) << "the daemon kept the block's stamp in step with the state";
    b->runs++;
    if (b->entail_next) {
      fd_perm_free(env, w);
      code = 1;
    }
  }
  dvar_export_done(env, w, actions, code);
}

struct GlobalsLoop : FdKernel {
  void SetUp() override
  {
    FdKernel::SetUp();
    destroyed = 0;
    st().dispatch = new_switch_on_key(4, nullptr);
    dyn_puthash(&st().dispatch, functor("watch", 1))->value.any = reinterpret_cast<void *>(&test_watch);
  }
  void raise_min(VR_term_ref x, int min)
  {
    prolog_fd_begin_vrenv_multi_vr(&env);
    load_tell_registers(x);
    fd_told(&env, w, fd_tell_interval(&env, w, MakeSmall_checked(min), MakeSmall_checked(10), 3), 0);
  }
};

TEST_F(GlobalsLoop, ADaemonWakesItsConstraintAndIsNeverCalledOnceItIsEntailed)
{
  const VR_term_ref x = dvar_in("[[1|10]]");
  const VR_term_ref c = term("watch(_)");
  TagToSTR(t(c))[1] = t(x);
  const VR_term_ref g = term("_");
  prolog_fd_begin_vrenv_multi_vr(&env);
  ASSERT_TRUE(succeeds([&] { prolog_fd_post_global_vrenv_multi_vr(&env, c, term("s(_, 0)"), 0, term("src"), term("[]"), g); }));
  ASSERT_EQ(loop(), 0);
  const TAGGED handle = deref(TagToSTR(deref(fd_mutable_value(arg(t(g), 1))))[1]);
  auto *b = static_cast<counted_block *>(fd_perm_data(handle));
  ASSERT_NE(b, nullptr);
  const TAGGED dom_list = arg(fd_mutable_value(arg(fd_last_attribute(attr_of(x)), FD_ATTR_LISTS)), FD_LISTS_DOM);
  ASSERT_TRUE(IsList(dom_list));
  const TAGGED d = deref(TagToLST(dom_list)[0]);
  EXPECT_EQ(*TagToSTR(d), functor("daemon", 5));
  EXPECT_TRUE(IsSmall(TagToSTR(d)[2]) && IsSmall(TagToSTR(d)[5])) << "addresses the collector reads as integers";
  EXPECT_EQ(arg(d, 4), arg(t(g), 4)) << "the daemon shares the constraint's Ent";

  b->entail_next = true;
  raise_min(x, 2);
  ASSERT_EQ(loop(), 0);
  EXPECT_EQ(b->daemon_calls + 0, 1);
  EXPECT_EQ(destroyed, 1) << "entailed with nothing to return to: disposed of at once";
  EXPECT_FALSE(IsVar(arg(t(g), 4)));
  EXPECT_EQ(GetSmall(arg(deref(fd_mutable_value(arg(t(g), 1))), 2)), 3) << "two runs and one daemon call";

  // The block is gone: a call of the daemon now would read freed memory.
  raise_min(x, 3);
  EXPECT_EQ(loop(), 0);
  EXPECT_EQ(destroyed, 1);
  EXPECT_EQ(dom_text(x), "[[3|10]] 3 10 8");
}

// What dispatch_global_fast/5 calls from Prolog (in debugging mode the loop
// hands every constraint over): the run's results are unified with the
// caller's arguments; a Global that is no item of the constraint, or a
// constraint without a native function, gives no run.
TEST_F(GlobalsLoop, DispatchFromPrologRunsOnlyOnAProperItem)
{
  const VR_term_ref x = dvar_in("[[1|10]]");
  const VR_term_ref c = term("watch(_)");
  TagToSTR(t(c))[1] = t(x);
  const VR_term_ref g = term("_");
  prolog_fd_begin_vrenv_multi_vr(&env);
  ASSERT_TRUE(succeeds([&] { prolog_fd_post_global_vrenv_multi_vr(&env, c, term("s(_, 0)"), 0, term("src"), term("[]"), g); }));
  const VR_term_ref state = ref_of(fd_mutable_value(arg(t(g), 1)));
  const VR_term_ref new_state = term("_"), actions = term("_");
  long r = 0;
  ASSERT_TRUE(succeeds([&] { r = prolog_fd_dispatch_global_fast_vrenv_multi_vr(&env, c, state, new_state, actions, g); }));
  EXPECT_EQ(r, 1);
  EXPECT_EQ(*TagToSTR(t(new_state)), functor("s", 2));
  EXPECT_TRUE(IsList(arg(t(new_state), 1))) << "the first run made the block";
  EXPECT_EQ(arg(t(new_state), 2), MakeSmall_checked(1));
  EXPECT_EQ(t(actions), atom_nil);

  struct row {
    const char *why;
    const char *constraint;
    const char *global;
  } rows[] = {
      {"Global is not an item", nullptr, "foo"},
      {"the item's constraint has no native function", nullptr, "global('$mutable'(s, 0), other(1), '$mutable'(2, 0), _, src)"},
      {"the constraint has no native function", "other(1)", nullptr},
  };
  for (const row &rw : rows) {
    const VR_term_ref cc = rw.constraint ? term(rw.constraint) : c;
    const VR_term_ref gg = rw.global ? term(rw.global) : g;
    const VR_term_ref ns = term("_"), as = term("_");
    bool ok = succeeds([&] { r = prolog_fd_dispatch_global_fast_vrenv_multi_vr(&env, cc, state, ns, as, gg); });
    EXPECT_TRUE(!ok || r == 0) << rw.why;
    EXPECT_TRUE(IsVar(t(ns))) << rw.why;
  }
  (void)x;
}

/* ---- Rewrite requests and helpers ---- */

TEST_F(GlobalsLoop, RewriteRequestsPrependTheirGoals)
{
  const VR_term_ref x = dvar_in("[[1|10]]"), y = dvar_in("[[1|10]]"), z = dvar_in("[[1|10]]");
  VR_globref refs = api->pVR_alloc_globrefs(6);
  dvar dv[3];
  const VR_term_ref vars[3] = {x, y, z};
  for (int i = 0; i < 3; i++) {
    refs[2 * i].term = attr_of(vars[i]);
    refs[2 * i + 1].term = t(vars[i]);
    dvar_init(&dv[i], &refs[2 * i], &refs[2 * i + 1]);
  }
  w->term[0] = w->term[1] = w->term[2] = atom_nil;
  dvar_export_equal(&env, w, &dv[0], &dv[0]);
  EXPECT_EQ(w->term[2], atom_nil) << "one variable twice: nothing to do";

  st().debugging = 1;
  dvar_export_equal(&env, w, &dv[0], &dv[1]);
  st().debugging = 0;
  dvar_export_leqc(&env, w, &dv[1], &dv[2], -3);
  TAGGED *const numstack = w->numstack_top;
  dvar_export_alldiff(&env, w, dv, 3);
  EXPECT_EQ(w->numstack_top, numstack);

  // [call(clpfd:all_distinct([X,Y,Z])), call(clpfd:t=<u+c(Y,Z,-3)), call(X=Y)]
  TAGGED l = deref(w->term[2]);
  auto next = [&] {
    const TAGGED e = deref(TagToLST(l)[0]);
    l = deref(TagToLST(l)[1]);
    EXPECT_EQ(*TagToSTR(e), functor("call", 1));
    return arg(e, 1);
  };
  TAGGED goal = next();
  EXPECT_EQ(*TagToSTR(goal), functor(":", 2));
  EXPECT_EQ(arg(goal, 1), atom("clpfd"));
  TAGGED list = arg(arg(goal, 2), 1);
  EXPECT_EQ(*TagToSTR(arg(goal, 2)), functor("all_distinct", 1));
  for (VR_term_ref v : vars) {
    ASSERT_TRUE(IsList(list));
    EXPECT_EQ(deref(TagToLST(list)[0]), t(v));
    list = deref(TagToLST(list)[1]);
  }
  EXPECT_EQ(list, atom_nil);
  goal = arg(next(), 2);
  EXPECT_EQ(*TagToSTR(goal), functor("t=<u+c", 3));
  EXPECT_EQ(arg(goal, 1), t(y));
  EXPECT_EQ(arg(goal, 2), t(z));
  EXPECT_EQ(arg(goal, 3), MakeSmall_checked(-3));
  goal = next();
  EXPECT_EQ(*TagToSTR(goal), functor("=", 2));
  EXPECT_EQ(arg(goal, 1), t(x));
  EXPECT_EQ(arg(goal, 2), t(y));
  EXPECT_EQ(l, atom_nil);
  api->pVR_free_globrefs(refs);
}

TEST_F(GlobalsLoop, ScratchBuffersAndListLengths)
{
  size_mem fresh{0, nullptr};
  void *a = fd_perm_alloc2(&env, 40, &fresh);
  ASSERT_NE(a, nullptr);
  fd_perm_free2(&env, a, &fresh); // size 0: freed now

  size_mem shared{16, api->pVR_malloc(16)};
  void *b = fd_perm_alloc2(&env, 8, &shared);
  EXPECT_EQ(b, shared.mem) << "big enough: reused";
  void *c = fd_perm_alloc2(&env, 64, &shared);
  EXPECT_EQ(shared.size, 64u);
  EXPECT_EQ(c, shared.mem);
  fd_perm_free2(&env, c, &shared); // kept
  api->pVR_free(shared.mem);

  struct row {
    const char *list;
    long length;
  } rows[] = {{"[]", 0}, {"[a, b, c]", 3}, {"[a, b | _]", 2}, {"[a | b]", 1}, {"foo", 0}};
  for (const row &r : rows)
    EXPECT_EQ(fd_list_length(t(term(r.list))), r.length) << r.list;

  VR_globref refs = api->pVR_alloc_globrefs(2);
  const VR_term_ref pair = term("X - attr");
  fd_get_var_and_attr(t(pair), refs);
  EXPECT_EQ(refs[0].term, atom("attr"));
  EXPECT_EQ(refs[1].term, arg(t(pair), 1));
  api->pVR_free_globrefs(refs);
}

} // namespace
