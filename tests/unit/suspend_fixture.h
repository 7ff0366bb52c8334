// The emulator fixture with the suspension layer's escapes in place:
// $resume/7 and $nodebug_call/3 as the real entry kinds, and stand-ins for
// the Prolog predicates the native side escapes to (call_goals/1,
// unify_cva/2, meta_colon_pc/3, call_illarg_pc/2, undefined_goal/3), each a
// native that records the arguments it received.  Helpers make constrained
// variables with suspended goals the way the coroutining library would.
//
// TearDown clears the preds entries set here and the attribute-module
// registry, so later suites in the same process see neither.
#ifndef TRELIX_TESTS_SUSPEND_FIXTURE_H
#define TRELIX_TESTS_SUSPEND_FIXTURE_H

#include <string>
#include <vector>

#include "attributes.h"
#include "stack_growth.h"
#include "suspend.h"
#include "unify.h"
#include "wam_fixture.h"

struct SuspendFixture : WamFixture {
  // What an escape stand-in received: its name and dereferenced arguments.
  struct escape_call {
    std::string name;
    std::vector<TAGGED> args;
  };
  static std::vector<escape_call> escapes;
  static std::string trace;

  void SetUp() override
  {
    WamFixture::SetUp();
    escapes.clear();
    trace.clear();
    preds.resume = pred("$resume", 7, BUILTIN_RESUME, "prolog");
    preds.call = pred("$nodebug_call", 3, BUILTIN_NODEBUG_CALL, "prolog");
    preds.call_goals = native("call_goals", 1, record<1, 'G'>, "prolog");
    preds.unify_cva = native("unify_cva", 2, record<2, 'U'>, "prolog");
    preds.meta_colon_pc = native("meta_colon_pc", 3, record<3, 'M'>, "prolog");
    preds.call_illarg_pc = native("call_illarg_pc", 2, record<2, 'I'>, "prolog");
    preds.undefined_goal = native("undefined_goal", 3, record<3, 'D'>, "prolog");
  }

  void TearDown() override
  {
    preds.resume = preds.call = preds.call_goals = preds.unify_cva = nullptr;
    preds.meta_colon_pc = preds.call_illarg_pc = preds.undefined_goal = nullptr;
    pure_attributes_hook = nullptr;
    reset_attribute_modules();
    WamFixture::TearDown();
  }

  static const char *escape_name(char c)
  {
    switch (c) {
    case 'G': return "call_goals";
    case 'U': return "unify_cva";
    case 'M': return "meta_colon_pc";
    case 'I': return "call_illarg_pc";
    default: return "undefined_goal";
    }
  }
  template <int N, char C> static int record(worker *w)
  {
    escape_call e{escape_name(C), {}};
    for (int i = 0; i < N; i++)
      e.args.push_back(deref(w->term[i]));
    escapes.push_back(e);
    trace += C;
    return 1;
  }

  // A native of arity 0 that appends c to the trace.
  template <char C> static int mark(worker *) { trace += C; return 1; }
  template <char C> definition *marker()
  {
    return native((std::string("mark_") + C).c_str(), 0, mark<C>);
  }

  // A heap variable with the goal G (wrapped for def) suspended on it.
  TAGGED frozen_var(TAGGED goal, definition *def)
  {
    TAGGED v = var();
    suspend_goal(w, wrap_goal(w, goal, def), v);
    return deref(v);
  }

  // The goal list of a constrained variable, as a vector.
  static std::vector<TAGGED> goals_of(TAGGED v)
  {
    std::vector<TAGGED> out;
    v = deref(v);
    if (!IsVar(v) || TagToRef(v)[-1] != CVA_MARKER)
      return out;
    for (TAGGED l = deref(TagToRef(v)[2]); IsList(l); l = deref(TagToLST(l)[1]))
      out.push_back(deref(TagToLST(l)[0]));
    return out;
  }
};

inline std::vector<SuspendFixture::escape_call> SuspendFixture::escapes;
inline std::string SuspendFixture::trace;

#endif
