// External objects: an object put into a term and got back from it is the
// same link; its name spells the link's address with the letters A to P,
// least significant digit first; a name with another letter or of another
// link finds nothing; unlinking finalizes exactly when asked, once.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "external_objects.h"
#include "fli.h"
#include "runtime_fixture.h"

namespace {

using ExternalObjects = RuntimeFixture;

int finalized = 0;
void count_finalize(void *, void *) { ++finalized; }

std::string name_of(std::uintptr_t a)
{
  std::string s = "$ptr ";
  for (; a != 0; a >>= 4)
    s += static_cast<char>('A' + (a & 15));
  return s;
}

TEST_F(ExternalObjects, PutGetNamesAndUnlinking)
{
  const VR_term_ref mark = VR_new_term_refs(0);
  VR_external_object_type type = VR_register_external_object_type(count_finalize, nullptr, nullptr);
  ASSERT_NE(type, nullptr);
  int data = 0;
  VR_external_object_link *a = VR_register_external_object(&data, type);
  VR_external_object_link *b = VR_register_external_object(nullptr, type);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);

  const VR_term_ref t = VR_new_term_ref(), arg = VR_new_term_ref();
  ASSERT_TRUE(VR_put_external_object(t, a));
  VR_atom f;
  int arity;
  ASSERT_TRUE(VR_get_functor(t, &f, &arity));
  EXPECT_STREQ(VR_string_from_atom(f), "$external_object");
  EXPECT_EQ(arity, 1);
  ASSERT_TRUE(VR_get_arg(1, t, arg));
  VR_atom name;
  ASSERT_TRUE(VR_get_atom(arg, &name));
  EXPECT_EQ(VR_string_from_atom(name), name_of(reinterpret_cast<std::uintptr_t>(a)));

  VR_external_object_link *got = nullptr;
  ASSERT_TRUE(VR_get_external_object(t, &got));
  EXPECT_EQ(got, a);
  EXPECT_EQ(VR_get_external_object_data(got), &data);
  EXPECT_EQ(VR_get_external_object_type(got), type);

  // A letter beyond P, or a name that is no link's, finds nothing.
  for (const std::string &bad : {name_of(reinterpret_cast<std::uintptr_t>(a)) + "Q",
                                 name_of(reinterpret_cast<std::uintptr_t>(a) + 8), std::string("$ptr ")}) {
    const VR_term_ref u = VR_new_term_ref(), x = VR_new_term_ref();
    VR_put_atom(x, VR_atom_from_string(bad.c_str()));
    VR_cons_functor(u, VR_atom_from_string("$external_object"), 1, x);
    got = nullptr;
    EXPECT_FALSE(VR_get_external_object(u, &got)) << bad;
  }

  finalized = 0;
  VR_unlink_external_object(b, 0);
  EXPECT_EQ(finalized, 0) << "unlinked without finalizing";
  VR_free_external_object_link(b);
  VR_unlink_external_object(a, 1);
  EXPECT_EQ(finalized, 1);
  EXPECT_FALSE(VR_get_external_object(t, &got)) << "gone from the registry";
  VR_reset_term_refs(mark);
}

} // namespace
