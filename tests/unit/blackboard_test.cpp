// The blackboard: put, get, update and delete per module and key.
#include <gtest/gtest.h>

#include "database_fixture.h"
#include "instance.h"

namespace {

struct Blackboard : DatabaseFixture {
  TAGGED get(const char *module, TAGGED key, int *ok)
  {
    TAGGED v = var();
    *ok = call(prolog_bb_get, {atom(module), key, v});
    return deref(v);
  }
  std::size_t instance_bytes() { return eglobal->mm.mm_bins[MM_BIN_INSTANCE]; }
};

TEST_F(Blackboard, PutGetReplaceAndDelete)
{
  int ok = 0;
  TAGGED key = atom("k");
  get("bbm", key, &ok);
  EXPECT_EQ(ok, 0) << "no value yet";
  ASSERT_EQ(call(prolog_bb_put, {atom("bbm"), key, structure(atom("f"), {atom("a"), MakeSmall_checked(7)})}), 1);
  TAGGED v = get("bbm", key, &ok);
  ASSERT_EQ(ok, 1);
  ASSERT_TRUE(IsStructure(v));
  EXPECT_EQ(TagToSTR(v)[0], MakeFunctor(atom("f"), 2));
  EXPECT_EQ(deref(TagToSTR(v)[2]), MakeSmall_checked(7));
  // Other modules and keys are separate.
  get("bbm_other", key, &ok);
  EXPECT_EQ(ok, 0);
  get("bbm", atom("k2"), &ok);
  EXPECT_EQ(ok, 0);
  // Replacing frees the old value at once.
  std::size_t before = instance_bytes();
  ASSERT_EQ(call(prolog_bb_put, {atom("bbm"), key, atom("b")}), 1);
  EXPECT_EQ(get("bbm", key, &ok), atom("b"));
  EXPECT_LE(instance_bytes(), before) << "the old instance must be freed";
  // Delete hands the value back, then get fails; put reuses the key.
  TAGGED out = var();
  ASSERT_EQ(call(prolog_bb_delete, {atom("bbm"), key, out}), 1);
  EXPECT_EQ(deref(out), atom("b"));
  get("bbm", key, &ok);
  EXPECT_EQ(ok, 0) << "get after delete must fail";
  EXPECT_EQ(call(prolog_bb_delete, {atom("bbm"), key, var()}), 0);
  mod_def *m = find_module(atom("bbm"), 0);
  int count = m->bb->count;
  ASSERT_EQ(call(prolog_bb_put, {atom("bbm"), key, MakeSmall_checked(3)}), 1);
  EXPECT_EQ(m->bb->count, count) << "a later put must reuse the deleted key's slot";
  EXPECT_EQ(get("bbm", key, &ok), MakeSmall_checked(3));
  // Any word may be a key.
  ASSERT_EQ(call(prolog_bb_put, {atom("bbm"), MakeSmall_checked(42), atom("n")}), 1);
  EXPECT_EQ(get("bbm", MakeSmall_checked(42), &ok), atom("n"));
}

TEST_F(Blackboard, StoredValueIsACopy)
{
  int ok = 0;
  TAGGED x = var();
  ASSERT_EQ(call(prolog_bb_put, {atom("bbc"), atom("k"), structure(atom("g"), {x, x})}), 1);
  TAGGED v = get("bbc", atom("k"), &ok);
  ASSERT_EQ(ok, 1);
  TAGGED a1 = deref(TagToSTR(v)[1]), a2 = deref(TagToSTR(v)[2]);
  EXPECT_TRUE(IsVar(a1));
  EXPECT_EQ(a1, a2) << "shared variables must stay shared";
  EXPECT_NE(a1, deref(x)) << "the copy must not be the original variable";
}

TEST_F(Blackboard, UpdateComparesOldAndReportsTheOutcome)
{
  struct {
    const char *why;
    bool stored;
    TAGGED old;
    TAGGED expect_result;
    TAGGED expect_value;
  } cases[] = {
      {"old matches: replaced", true, atom("v1"), MakeSmall_checked(0), atom("v2")},
      {"old does not unify: unchanged", true, atom("other"), MakeSmall_checked(-1), atom("v1")},
      {"no value: -1", false, atom("v1"), MakeSmall_checked(-1), 0},
  };
  for (auto &c : cases) {
    TAGGED key = atom("upd");
    call(prolog_bb_delete, {atom("bbu"), key, var()});
    if (c.stored) {
      ASSERT_EQ(call(prolog_bb_put, {atom("bbu"), key, atom("v1")}), 1) << c.why;
    }
    TAGGED result = var();
    ASSERT_EQ(call(prolog_bb_update, {atom("bbu"), key, c.old, atom("v2"), result}), 1) << c.why;
    EXPECT_EQ(deref(result), c.expect_result) << c.why;
    int ok = 0;
    TAGGED v = get("bbu", key, &ok);
    if (c.expect_value == 0) {
      EXPECT_EQ(ok, 0) << c.why << ": nothing may be stored";
    } else {
      ASSERT_EQ(ok, 1) << c.why;
      EXPECT_EQ(v, c.expect_value) << c.why;
    }
  }
  // An unbound Old unifies with the stored value.
  ASSERT_EQ(call(prolog_bb_put, {atom("bbu"), atom("upd"), atom("v2")}), 1);
  TAGGED old = var(), result = var();
  ASSERT_EQ(call(prolog_bb_update, {atom("bbu"), atom("upd"), old, atom("v3"), result}), 1);
  EXPECT_EQ(deref(old), atom("v2"));
  EXPECT_EQ(deref(result), MakeSmall_checked(0));
}

TEST_F(Blackboard, RemoveFreesValuesAndKeepsKeys)
{
  ASSERT_EQ(call(prolog_bb_put, {atom("bbr"), atom("k"), atom("v")}), 1);
  mod_def *m = find_module(atom("bbr"), 0);
  std::size_t before = instance_bytes();
  bb_remove(m);
  EXPECT_LT(instance_bytes(), before);
  EXPECT_EQ(incore_gethash(m->bb, atom("k"))->key, atom("k"));
  EXPECT_EQ(incore_gethash(m->bb, atom("k"))->value.inst, nullptr);
}

} // namespace
