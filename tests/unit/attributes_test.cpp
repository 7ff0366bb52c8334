// Constrained variables: attributes put, read and deleted in place or by
// replacement, and what backtracking to an older choicepoint restores;
// goal suspension, disjunctive suspension, the constraint list, the
// built-ins' argument checks, and the trail entry of a replaced variable
// while a wake-up is pending.  Backtracking is the emulator's: a program
// p :- step, fail.  p :- check. runs each native step and then its check.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "suspend_fixture.h"

namespace {

struct Attributes : SuspendFixture {
  mod_def *m1 = nullptr, *m2 = nullptr, *m3 = nullptr;
  static std::function<void()> step_fn, check_fn;

  void SetUp() override
  {
    SuspendFixture::SetUp();
    m1 = module("attr_one");
    m2 = module("attr_two");
    m3 = module("attr_three");
    for (mod_def *m : {m1, m2, m3})
      ASSERT_EQ(save_attribute_info(m), 1);
  }
  void TearDown() override
  {
    step_fn = check_fn = nullptr;
    SuspendFixture::TearDown();
  }

  TAGGED attr(const char *name) { return structure(atom(name), {atom("v")}); }
  TAGGED get(TAGGED v, mod_def *m)
  {
    v = deref(v);
    return is_cva(w, v) ? get_attributes(v, m) : 0;
  }

  // Runs step inside a choicepoint and check after backtracking over it.
  void step_then_backtrack(std::function<void()> step, std::function<void()> check)
  {
    step_fn = std::move(step);
    check_fn = std::move(check);
    definition *s = native("attr_step", 0, [](worker *) { step_fn(); return 1; });
    definition *c = native("attr_check", 0, [](worker *) { check_fn(); return 1; });
    definition *p = pred("attr_prog", 0);
    code_builder k1;
    k1.emit(INITCALL, {cb::args(0, {}), cb::def(s), cb::env(0)});
    k1.emit(LASTCALL, {cb::args(0, {}), cb::def(preds.fail)});
    clause(p, k1);
    code_builder k2;
    k2.emit(EXECUTE, {cb::def(c)});
    clause(p, k2);
    EXPECT_EQ(run(p), 1);
    close_query();
  }
};
std::function<void()> Attributes::step_fn, Attributes::check_fn;

TEST_F(Attributes, ModulesGetSlotsInRegistrationOrder)
{
  EXPECT_EQ(m1->attr_no, 1);
  EXPECT_EQ(m3->attr_no, 3);
  EXPECT_EQ(save_attribute_info(m2), 1);
  EXPECT_EQ(m2->attr_no, 2) << "registering again keeps the slot";
  definition *d = insert_definition(m2, atom("$put_attributes"), 2, 0);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->proc.enter_instr, BUILTIN_PUT_ATTRIBUTES);
  TAGGED mods = 0;
  {
    TAGGED v = var();
    w->term[0] = v;
    ASSERT_EQ(prolog_get_all_attribute_modules(w), 1);
    mods = deref(v);
  }
  std::vector<TAGGED> names;
  for (TAGGED l = mods; IsList(l); l = deref(TagToLST(l)[1]))
    names.push_back(deref(TagToLST(l)[0]));
  EXPECT_EQ(names, (std::vector<TAGGED>{atom("attr_one"), atom("attr_two"), atom("attr_three")}));
}

TEST_F(Attributes, PutOnPlainVariableIsUndoneByBacktracking)
{
  TAGGED x = var();
  TAGGED a1 = attr("a1");
  step_then_backtrack(
      [&] {
        put_attributes(w, x, a1, m1);
        EXPECT_TRUE(is_cva(w, deref(x))) << "a plain variable becomes constrained";
        EXPECT_EQ(get(x, m1), a1);
      },
      [&] {
        EXPECT_EQ(deref(x), x) << "after backtracking the variable is plain again";
        EXPECT_EQ(TagToRef(x)[0], x);
      });
}

TEST_F(Attributes, NewerVariableIsChangedInPlace)
{
  TAGGED x = var();
  TAGGED a = attr("a"), b = attr("b"), c = attr("c");
  put_attributes(w, x, a, m1);
  TAGGED *after_first = w->global_top;
  put_attributes(w, x, b, m2);
  put_attributes(w, x, c, m1);
  EXPECT_EQ(w->global_top, after_first) << "no heap cells beyond the first put";
  EXPECT_EQ(get(x, m1), c);
  EXPECT_EQ(get(x, m2), b);
  EXPECT_EQ(get(x, m3), 0u);
}

// An older constrained variable (made before the choicepoint) whose slot is
// taken is replaced, not changed: backtracking brings back the old value.
TEST_F(Attributes, OlderVariableIsReplacedAndRestored)
{
  TAGGED x = var();
  TAGGED old_a = attr("old"), new_a = attr("new"), other = attr("other");
  put_attributes(w, x, old_a, m1);
  TAGGED cell = deref(x);
  step_then_backtrack(
      [&] {
        put_attributes(w, x, new_a, m1);
        put_attributes(w, x, other, m2);
        EXPECT_EQ(get(x, m1), new_a);
        EXPECT_EQ(get(x, m2), other);
        EXPECT_NE(deref(x), cell) << "the older variable must not be changed in place";
        delete_attributes(w, x, m1, 0);
        EXPECT_EQ(get(x, m1), 0u);
      },
      [&] {
        EXPECT_EQ(deref(x), cell);
        EXPECT_EQ(get(x, m1), old_a);
        EXPECT_EQ(get(x, m2), 0u);
      });
}

TEST_F(Attributes, DeletingTheLastAttributeOfANewerVariableMakesItPlain)
{
  TAGGED x = var();
  put_attributes(w, x, attr("a"), m2);
  TAGGED cell = deref(x);
  delete_attributes(w, x, m2, 0);
  EXPECT_EQ(TagToRef(cell)[-1], atom_nil) << "the marker word becomes []";
  TAGGED a = var(), g = var();
  set_args({x, a, g});
  ASSERT_EQ(prolog_get_cva(w), 1);
  EXPECT_EQ(deref(a), atom_nil);
  EXPECT_EQ(deref(g), atom_nil);
}

TEST_F(Attributes, OlderVariableLosingItsLastAttributeIsRestored)
{
  TAGGED x = var();
  put_attributes(w, x, attr("a"), m2);
  TAGGED cell = deref(x);
  step_then_backtrack(
      [&] {
        delete_attributes(w, x, m2, 0);
        EXPECT_FALSE(is_cva(w, deref(x))) << "no attribute and no goal left";
        EXPECT_EQ(TagToRef(cell)[-1], CVA_MARKER) << "an older marker is never overwritten";
      },
      [&] {
        EXPECT_TRUE(is_cva(w, deref(x)));
        EXPECT_NE(get(x, m2), 0u);
      });
}

TEST_F(Attributes, AttributeModulesOfAVector)
{
  TAGGED x = var();
  put_attributes(w, x, attr("b"), m2);
  put_attributes(w, x, attr("c"), m3);
  TAGGED mods = var();
  set_args({TagToRef(deref(x))[1], mods});
  ASSERT_EQ(prolog_get_attribute_modules(w), 1);
  std::vector<TAGGED> names;
  for (TAGGED l = deref(mods); IsList(l); l = deref(TagToLST(l)[1]))
    names.push_back(deref(TagToLST(l)[0]));
  EXPECT_EQ(names, (std::vector<TAGGED>{atom("attr_two"), atom("attr_three")}));
}

// $get_attributes(Var, Attr, Arg) through the module's own entry kind, and
// the "not a variable" error of the three entries.
TEST_F(Attributes, BuiltinEntries)
{
  TAGGED x = var();
  put_attributes(w, x, structure(atom("dom"), {MakeSmall_checked(7)}), m1);
  TAGGED a = var(), arg = var();
  set_args({x, a, arg});
  ASSERT_EQ(prolog_get_attributes(w, m1), 1);
  EXPECT_EQ(deref(arg), MakeSmall_checked(7)) << "Arg is the slot's first argument";
  ASSERT_TRUE(IsStructure(deref(a)));
  TAGGED arg2 = var();
  set_args({x, var(), arg2});
  ASSERT_EQ(prolog_get_attributes(w, m2), 1);
  EXPECT_EQ(deref(arg2), MakeSmall_checked(0)) << "an empty slot gives 0";
  set_args({x, atom("bound"), var()});
  EXPECT_EQ(prolog_get_attributes(w, m1), 0) << "Attr must be unbound";

  // $put_attributes with first argument 0 deletes.
  set_args({x, structure(atom("dom"), {MakeSmall_checked(0)})});
  ASSERT_EQ(prolog_put_attributes(w, m1), 1);
  EXPECT_FALSE(is_cva(w, deref(x)));

  struct err_case {
    const char *name;
    int (*fn)(worker *, mod_def *);
  };
  for (err_case e : {err_case{"$get_attributes", prolog_get_attributes}, err_case{"$put_attributes", prolog_put_attributes},
                     err_case{"$delete_attributes", prolog_delete_attributes}}) {
    g_error_type = 0;
    set_args({atom("notvar"), var(), var()});
    EXPECT_EQ(e.fn(w, m1), 0) << e.name;
    EXPECT_EQ(g_error_type, 1537) << e.name;
    EXPECT_EQ(g_culprit, atom("notvar")) << e.name;
  }
}

TEST_F(Attributes, DisjunctiveSuspension)
{
  TAGGED x = var(), y = var();
  set_args({list({x, y}), atom("goal")});
  ASSERT_EQ(prolog_disjunctive_geler(w), 1);
  std::vector<TAGGED> gx = goals_of(x), gy = goals_of(y);
  ASSERT_EQ(gx.size(), 1u);
  ASSERT_EQ(gy.size(), 1u);
  EXPECT_EQ(gx[0], gy[0]) << "one wrapped goal, so its flag lets it run once";
  EXPECT_EQ(deref(TagToSTR(gx[0])[1]), atom("goal"));

  TAGGED z = var();
  set_args({list({z, atom("a")}), atom("goal")});
  EXPECT_EQ(prolog_disjunctive_geler(w), 0) << "a bound element fails";
  EXPECT_TRUE(goals_of(z).empty()) << "and nothing is suspended";
}

TEST_F(Attributes, ConstraintList)
{
  TAGGED mark = var();
  TAGGED x = var(), y = var(), plain = var();
  (void)plain;
  put_attributes(w, y, attr("y"), m1);
  suspend_goal(w, wrap_goal(w, atom("g"), nullptr), x);
  // A box whose digit reads as the marker must be stepped over whole.
  TAGGED *box = heap(3);
  box[0] = BOX_INT1;
  box[1] = CVA_MARKER;
  box[2] = BOX_INT1;
  TAGGED result = var();
  set_args({mark, result});
  ASSERT_EQ(prolog_constraint_list(w), 1);
  std::vector<TAGGED> found;
  for (TAGGED l = deref(result); IsList(l); l = deref(TagToLST(l)[1]))
    found.push_back(deref(TagToLST(l)[0]));
  EXPECT_EQ(found, (std::vector<TAGGED>{deref(y), deref(x)})) << "in heap order";

  TAGGED top_mark = var();
  TAGGED none = var();
  set_args({top_mark, none});
  ASSERT_EQ(prolog_constraint_list(w), 1);
  EXPECT_EQ(deref(none), atom_nil) << "a mark at the heap top finds nothing";
}

// A replacement made while a wake-up is pending must not be taken for that
// wake-up: X's goals are due, Y (older, constrained) is replaced by
// $put_cva and by suspend_goal before the next call; the collector must
// hand X's goals to call_goals/1, not Y's.
TEST_F(Attributes, ReplacementWhileAWakeUpIsPendingKeepsTheRightGoals)
{
  TAGGED gx = atom("x_goal"), gy = atom("y_goal");
  static TAGGED X, Y;
  X = frozen_var(gx, nullptr);
  Y = frozen_var(gy, nullptr);
  TAGGED y_goals = TagToRef(Y)[2];
  definition *step = native("bind_and_replace", 0, [](worker *w) {
    bind(w, X, MakeSmall_checked(1));
    w->term[0] = Y;
    w->term[1] = atom_nil;
    w->term[2] = TagToRef(Y)[2];
    prolog_put_cva(w);  // a fresh variable with the same goals
    suspend_goal(w, wrap_goal(w, atom("more"), nullptr), Y);
    return 1;
  });
  definition *p = pred("p", 0);
  code_builder k;
  k.emit(INITCALL, {cb::args(0, {}), cb::def(step), cb::env(0)});
  k.emit(LASTCALL, {cb::args(0, {}), cb::def(marker<'a'>())});
  clause(p, k);
  EXPECT_EQ(run(p), 1);
  EXPECT_EQ(trace, "Ga");
  ASSERT_EQ(escapes.size(), 1u);
  ASSERT_TRUE(IsList(escapes[0].args[0]));
  TAGGED woken = deref(TagToLST(escapes[0].args[0])[0]);
  EXPECT_EQ(deref(TagToSTR(woken)[1]), gx) << "the woken goals must be X's";
  EXPECT_NE(escapes[0].args[0], deref(y_goals));
  close_query();
}

}  // namespace
