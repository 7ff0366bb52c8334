// Predicates defined from foreign code (VR_define_c_predicate): the
// dispatcher hands the function the goal and its stash, the function's
// answer and the interface's outcome flag decide success, failure or an
// exception, and a definition that cannot be made sets nothing up.  Runs
// through the production start-up and the runtime library's stub
// compiler (fli_define_stash_predicate/5).
#include <gtest/gtest.h>

#include "fli.h"
#include "foreign_resources.h"
#include "runtime_fixture.h"

namespace {

using ForeignPredicates = RuntimeFixture;

int stash_seen = 0;

// twice(X, Y): Y is 2 * X + the stash; fails for 0, raises for negatives.
int twice(VR_term_ref goal, void *stash)
{
  stash_seen = *static_cast<int *>(stash);
  const VR_term_ref x = VR_new_term_ref(), y = VR_new_term_ref(), r = VR_new_term_ref();
  long v = 0;
  if (!VR_get_arg(1, goal, x) || !VR_get_arg(2, goal, y) || !VR_get_integer(x, &v))
    return 0;
  if (v == 0) {
    VR_fail();
    return 1; // the flag, not the answer, says failure
  }
  if (v < 0) {
    VR_put_atom(r, VR_atom_from_string("negative"));
    VR_raise_exception(r);
    return 1;
  }
  VR_put_integer(r, 2 * v + stash_seen);
  return VR_unify(y, r);
}

TEST_F(ForeignPredicates, DispatchedWithGoalAndStash)
{
  static int stash = 1;
  ASSERT_EQ(VR_define_c_predicate("twice", 2, "user", twice, &stash), 1);
  VR_pred_ref p = VR_predicate("twice", 2, "user");
  ASSERT_NE(p, nullptr);
  const VR_term_ref x = VR_new_term_ref(), y = VR_new_term_ref();
  VR_put_integer(x, 20);
  VR_put_variable(y);
  ASSERT_EQ(VR_query(p, x, y), 1);
  long v = 0;
  ASSERT_TRUE(VR_get_integer(y, &v));
  EXPECT_EQ(v, 41) << "2 * 20 + the stash";
  EXPECT_EQ(stash_seen, 1);

  const VR_term_ref z = VR_new_term_ref(), w = VR_new_term_ref();
  VR_put_variable(w);
  VR_put_integer(z, 0);
  EXPECT_EQ(VR_query(p, z, w), 0) << "VR_fail makes the call fail whatever the answer";
  VR_put_integer(z, -3);
  EXPECT_EQ(VR_query(p, z, w), -1) << "VR_raise_exception makes it raise";
  const VR_term_ref ball = VR_new_term_ref();
  ASSERT_EQ(VR_exception_term(ball), 1);
  const char *text = nullptr;
  ASSERT_TRUE(VR_get_string(ball, &text));
  EXPECT_STREQ(text, "negative");
}

TEST_F(ForeignPredicates, RefusedDefinitionsDefineNothing)
{
  static int stash = 0;
  vr_set_errno(0);
  EXPECT_EQ(VR_define_c_predicate("wide", 256, "user", twice, &stash), 0);
  EXPECT_EQ(VR_get_errno(), 0) << "an arity above 255 sets no error number";
  EXPECT_EQ(VR_define_c_predicate("nofun", 1, "user", nullptr, &stash), 0);
  EXPECT_EQ(VR_define_c_predicate("lost", 1, "no_such_module", twice, &stash), 0)
      << "the module must exist";
  EXPECT_EQ(VR_predicate("wide", 256 & 255, "user"), nullptr);
  EXPECT_EQ(VR_predicate("lost", 1, "no_such_module"), nullptr);
}

} // namespace
