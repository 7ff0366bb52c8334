// A runtime brought up by the production start-up, with the solver's
// interface structure, its state made by the library's own initialisation,
// and module clpfd registered as an attribute module (as the solver's
// Prolog half declares it).  Helpers
// read terms from text into term references, call built-ins and tell
// whether they failed, run the propagation loop, and run a step inside a choicepoint followed by a
// check after the engine has backtracked over it.
#ifndef TRELIX_TESTS_FD_KERNEL_FIXTURE_H
#define TRELIX_TESTS_FD_KERNEL_FIXTURE_H

#include <functional>
#include <string>

#include "attributes.h"
#include "fd_attribute.h"
#include "fd_init.h"
#include "fdset_model.h"
#include "fli.h"
#include "propagation.h"
#include "runtime_fixture.h"
#include "telling.h"
#include "unify.h"

struct FdKernel : RuntimeFixture {
  fd_state *state = nullptr;
  VREnv env{};
  fd_state &st() { return *state; }
  DISPATCH_TABLE_STRUCT_VOSTREL_H *api = nullptr;
  static std::function<void()> step_fn, check_fn;

  static TAGGED functor(const char *name, int arity) { return MakeFunctor(atom(name), arity); }

  void SetUp() override
  {
    RuntimeFixture::SetUp();
    init_vrenv(&w->fli_data, &env, nullptr);
    api = env.dispatch_API_VOSTREL_H;
    fd_initialize_vrenv_multi_vr(&env);
    state = fd_state_of(&env);
    ASSERT_NE(state, nullptr);
    ASSERT_EQ(save_attribute_info(st().fd_module), 1);
  }
  void TearDown() override
  {
    step_fn = check_fn = nullptr;
    if (state != nullptr)
      fd_deinitialize_vrenv_multi_vr(&env);
    reset_attribute_modules();
    RuntimeFixture::TearDown();
  }

  // A term read from text, in a new term reference.
  VR_term_ref term(const char *source)
  {
    const VR_term_ref t = api->pVR_new_term_ref();
    const std::string clause = std::string(source) + " .";
    EXPECT_EQ(api->pVR_read_from_string(t, clause.c_str(), nullptr), 1) << source;
    return t;
  }
  TAGGED t(VR_term_ref r) { return deref(w->fli_stack_start[r].term); }
  TAGGED arg(TAGGED s, int i) { return deref(TagToSTR(deref(s))[i]); }
  VR_term_ref ref_of(TAGGED x)
  {
    const VR_term_ref r = api->pVR_new_term_ref();
    w->fli_stack_start[r].term = x;
    return r;
  }

  // Runs a built-in call and says whether it succeeded.
  template <typename F> bool succeeds(F f)
  {
    w->fli_data->excp_flag = 1;
    f();
    return w->fli_data->excp_flag != 0;
  }

  // The clpfd attribute of the variable in r, or 0.
  TAGGED attr_of(VR_term_ref r)
  {
    const TAGGED v = t(r);
    if (!IsVar(v) || TagToRef(v)[-1] != CVA_MARKER)
      return 0;
    return get_attributes(v, st().fd_module);
  }
  // A domain variable in a new term reference, with domain `set` (text).
  VR_term_ref dvar_in(const char *set)
  {
    const VR_term_ref v = term("_");
    const VR_term_ref s = term(set);
    EXPECT_TRUE(succeeds([&] { prolog_fd_in_set_vrenv_multi_vr(&env, v, s, 0); })) << set;
    return v;
  }
  // The same for a variable that also carries another module's attribute,
  // so that it stays unbound when its domain becomes one value.
  VR_term_ref pinned_dvar_in(const char *set)
  {
    mod_def *other = find_module(atom("fdk_other"), 1);
    EXPECT_EQ(save_attribute_info(other), 1);
    const VR_term_ref v = term("_");
    put_attributes(w, t(v), atom("pin"), other);
    const VR_term_ref s = term(set);
    // With a context: a fixed variable that cannot be bound at once is
    // queued in it.
    EXPECT_TRUE(succeeds([&] { prolog_fd_in_set_vrenv_multi_vr(&env, v, s, 1); })) << set;
    return v;
  }
  // "Set Min Max Size" of the variable's domain.
  std::string dom_text(VR_term_ref r)
  {
    const TAGGED a = attr_of(r);
    if (a == 0)
      return IsSmall(t(r)) ? "=" + std::to_string(GetSmall(t(r))) : "none";
    const TAGGED d = fd_attribute_dom(a);
    return fdset_model::text(arg(d, 1)) + " " + fdset_model::bound_text(arg(d, 2)) + " " +
           fdset_model::bound_text(arg(d, 3)) + " " + fdset_model::bound_text(arg(d, 4));
  }
  // Runs the propagation loop ($fd_evaluate_indexical/2) with no interrupt
  // or wake-up pending: its result, or -1 when the call failed.
  long loop()
  {
    const VR_term_ref g = term("_");
    w->fli_data->excp_flag = 1;
    w->heap_warn_soft = w->heap_warn;
    const long r = prolog_fd_evaluate_indexical_vrenv_multi_vr(&env, g);
    return w->fli_data->excp_flag ? r : -1;
  }
  // Loads registers 3 and 4 for the tell functions.
  void load_tell_registers(VR_term_ref v)
  {
    w->term[3] = attr_of(v);
    w->term[4] = t(v);
  }

  // Runs step after pushing a choicepoint, then check once the engine has
  // backtracked over it (t :- step, fail.  t :- check.).
  void step_then_backtrack(std::function<void()> step, std::function<void()> check)
  {
    static bool checked;
    checked = false;
    step_fn = std::move(step);
    check_fn = [check = std::move(check)] { check(); checked = true; };
    native("fdk_step", [](worker *) { step_fn(); return 1; });
    native("fdk_check", [](worker *) { check_fn(); return 1; });
    ASSERT_EQ(run("fdk_prog"), 1);
    EXPECT_TRUE(checked) << "the check after backtracking did not run";
  }
  void native(const char *name, int (*fn)(worker *))
  {
    definition *d = insert_definition(find_module(atom("user"), 1), atom(name), 0, 1);
    redefine_predicate(d, ENTER_C);
    d->proc.code.cinfo = fn;
  }
  int run(const std::string &goal)
  {
    std::vector<std::string> errors;
    consult_text(w, "fdk_prog :- fdk_step, fail.\nfdk_prog :- fdk_check.\n", find_module(atom("user"), 1), &errors);
    EXPECT_TRUE(errors.empty());
    return RuntimeFixture::run(goal);
  }
};
inline std::function<void()> FdKernel::step_fn, FdKernel::check_fn;

#endif
