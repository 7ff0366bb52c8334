// Term words, boxed numbers and the heap constructors.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "array_stacks.h"
#include "errors.h"
#include "terms.h"
#include "unify.h"
#include "worker.h"

namespace {

// A worker whose stacks are plain arrays; nothing is trailed since every
// cell is made after the only choicepoint.
struct HeapFixture : ::testing::Test {
  array_stacks stacks;
  worker w{};
  void SetUp() override { stacks.attach(w, 1 << 20, 1024, 1 << 19); }
  std::vector<TAGGED> written(const TAGGED *from) const
  {
    return std::vector<TAGGED>(from, const_cast<const TAGGED *>(w.global_top));
  }
};

std::uint64_t bits_of(double d)
{
  std::uint64_t b;
  std::memcpy(&b, &d, sizeof b);
  return b;
}

} // namespace

TEST(TermWords, SmallIntegerBoundaries)
{
  struct { VR_int64 v; bool small; } cases[] = {
      {0, true}, {-1, true}, {268435455, true}, {-268435456, true},
      {268435456, false}, {-268435457, false}, {INT32_MAX, false}, {INT32_MIN, false},
  };
  for (auto c : cases) {
    EXPECT_EQ(Int64IsSmall(c.v), c.small) << c.v;
    if (c.small) {
      TAGGED t = MakeSmall_checked(static_cast<VR_INTEGER>(c.v));
      EXPECT_TRUE(IsSmall(t)) << c.v;
      EXPECT_EQ(GetSmall(t), c.v) << "round trip of " << c.v;
      EXPECT_EQ(IntIsSmall(static_cast<VR_INTEGER>(c.v)), true);
    } else {
      EXPECT_FALSE(IntIsSmall(static_cast<VR_INTEGER>(c.v))) << c.v;
    }
  }
  EXPECT_EQ(MakeSmall_checked(-1), 0xFFFFFFFBu);
}

TEST(TermWords, AtomAndFunctorWords)
{
  EXPECT_EQ(atom_nil, 0x7u);
  EXPECT_EQ(atom_dot, 0xFu);
  EXPECT_TRUE(IsAtom(atom_nil));
  EXPECT_FALSE(IsAtom(functor_colon)) << "a functor of arity 2 is not an atom word";
  EXPECT_TRUE(IsFunctor(functor_list));
  EXPECT_FALSE(IsFunctor(atom_nil)) << "arity 0";
  EXPECT_FALSE(IsFunctor(MakeSmall_checked(5)));
  EXPECT_FALSE(IsFunctor(0x80000007u)) << "bit 31 set";
  EXPECT_EQ(Arity(MakeFunctor(MakeAtom(42), 255)), 255u);
  EXPECT_EQ(FunctorName(MakeFunctor(MakeAtom(42), 255)), MakeAtom(42));
  EXPECT_EQ(AtomIndex(MakeAtom(0xFFFFF)), 0xFFFFFu);
}

TEST_F(HeapFixture, MakeInt64ChoosesTheCanonicalForm)
{
  struct { VR_int64 v; std::vector<TAGGED> box; } cases[] = {
      {1LL << 28, {BOX_INT1, 0x10000000, BOX_INT1}},
      {-268435457LL, {BOX_INT1, 0xEFFFFFFF, BOX_INT1}},
      {1LL << 31, {BOX_INT2, 0x80000000, 0, BOX_INT2}},
      {-(1LL << 31), {BOX_INT1, 0x80000000, BOX_INT1}},
      {1LL << 32, {BOX_INT2, 0, 1, BOX_INT2}},
      {INT64_MIN, {BOX_INT2, 0, 0x80000000, BOX_INT2}},
      {-(1LL << 32), {BOX_INT2, 0, 0xFFFFFFFF, BOX_INT2}},
  };
  for (auto &c : cases) {
    TAGGED *start = w.global_top;
    TAGGED t = make_int64(&w, c.v);
    EXPECT_EQ(t, MakeSTR(start)) << c.v;
    EXPECT_EQ(written(start), c.box) << "box of " << c.v;
    EXPECT_EQ(vri_get_int64(t), c.v);
  }
  TAGGED *start = w.global_top;
  EXPECT_EQ(make_int64(&w, -1), 0xFFFFFFFBu);
  EXPECT_EQ(make_int64(&w, 268435455), MakeSmall_checked(268435455));
  EXPECT_EQ(w.global_top, start) << "small integers take no heap";
}

TEST_F(HeapFixture, MakeIntegerAlwaysBoxes)
{
  TAGGED t = make_integer(&w, 5);
  EXPECT_EQ(written(TagToSTR(t)), (std::vector<TAGGED>{BOX_INT1, 5, BOX_INT1}));
  EXPECT_EQ(vri_get_integer(t), 5);
}

TEST_F(HeapFixture, FloatsKeepNegativeZeroAndCanonicaliseNaN)
{
  const double nans[] = {std::numeric_limits<double>::quiet_NaN(),
                         -std::numeric_limits<double>::quiet_NaN(),
                         std::numeric_limits<double>::signaling_NaN()};
  for (double n : nans) {
    TAGGED *start = w.global_top;
    TAGGED t = make_float(&w, n);
    EXPECT_EQ(start[0], BOX_FLOAT);
    EXPECT_EQ(start[1], 0u) << "canonical NaN low word";
    EXPECT_EQ(start[2], 0xFFF80000u) << "canonical NaN high word";
    EXPECT_EQ(start[3], BOX_FLOAT);
    EXPECT_EQ(bits_of(vri_get_float(t)), 0xFFF8000000000000ull);
  }
  TAGGED z = make_float(&w, -0.0);
  EXPECT_EQ(bits_of(vri_get_float(z)), 0x8000000000000000ull) << "-0.0 must stay negative";
  TAGGED inf = make_float(&w, ieee_minus_inf);
  EXPECT_EQ(vri_get_float(inf), -HUGE_VAL);
  EXPECT_EQ(bits_of(ieee_nan), 0xFFF8000000000000ull);
}

TEST_F(HeapFixture, MakeStructureShapes)
{
  TAGGED *start = w.global_top;
  EXPECT_EQ(make_structure(&w, atom_nil), atom_nil);
  EXPECT_EQ(make_structure(&w, MakeSmall_checked(3)), MakeSmall_checked(3));
  EXPECT_EQ(w.global_top, start) << "constants write nothing";

  TAGGED l = make_structure(&w, functor_list);
  EXPECT_EQ(l, MakeLST(start));
  EXPECT_EQ(w.global_top, start + 2);
  EXPECT_EQ(start[0], PointerToTerm(start)) << "fresh head variable";
  EXPECT_EQ(start[1], PointerToTerm(start + 1)) << "fresh tail variable";

  TAGGED *s2 = w.global_top;
  TAGGED f = make_structure(&w, functor_colon);
  EXPECT_EQ(f, MakeSTR(s2));
  EXPECT_EQ(s2[0], functor_colon);
  EXPECT_EQ(s2[1], PointerToTerm(s2 + 1));
  EXPECT_EQ(s2[2], PointerToTerm(s2 + 2));
  EXPECT_EQ(w.global_top, s2 + 3);
}

TEST_F(HeapFixture, MakeLargeCopiesAndAddsTrailer)
{
  const TAGGED src[] = {BoxHeader(3, false), 1, 2, 3}; // no trailer in the source
  TAGGED t = make_large(&w, src);
  EXPECT_EQ(written(TagToSTR(t)), (std::vector<TAGGED>{BoxHeader(3, false), 1, 2, 3, BoxHeader(3, false)}));
}

TEST_F(HeapFixture, BigIntegerToFloat)
{
  // 2^53 + 1 rounds to 2^53.
  const TAGGED two53p1[] = {BOX_INT2, 1, 0x200000};
  EXPECT_EQ(vri_get_float(make_large(&w, two53p1)), 9007199254740992.0);
  // -2^63 exactly.
  const TAGGED min64[] = {BOX_INT2, 0, 0x80000000};
  EXPECT_EQ(vri_get_float(make_large(&w, min64)), -9223372036854775808.0);
  // 33 digits with the top one 0x7FFFFFFF: 2^1055 or so, beyond the double range.
  std::vector<TAGGED> big(34, 0);
  big[0] = BoxHeader(33, false);
  big[33] = 0x7FFFFFFF;
  TAGGED huge = make_large(&w, big.data());
  g_error_type = 0;
  double d = vri_get_float(huge);
  EXPECT_EQ(bits_of(d), 0xFFF8000000000000ull) << "overflow gives the canonical NaN";
  EXPECT_EQ(g_error_type, 263);
  EXPECT_EQ(g_culprit, huge);
  EXPECT_STREQ(g_error_msg_ienc, "");
}

TEST_F(HeapFixture, FloatToIntegerTruncates)
{
  EXPECT_EQ(vri_get_integer(make_float(&w, -2.7)), -2);
  EXPECT_EQ(vri_get_int64(make_float(&w, 1.0e18)), 1000000000000000000LL);
}

TEST_F(HeapFixture, UnifyStructuresListsAndBoxes)
{
  // f(X, [a|T], 2^40) = f(b, [Y|[]], 2^40)
  TAGGED a = MakeAtom(300), b = MakeAtom(301);
  TAGGED s1 = make_structure(&w, MakeFunctor(MakeAtom(302), 3));
  TAGGED l1 = make_structure(&w, functor_list);
  TagToLST(l1)[0] = a;
  TagToSTR(s1)[2] = l1;
  TagToSTR(s1)[3] = make_int64(&w, 1LL << 40);
  TAGGED s2 = make_structure(&w, MakeFunctor(MakeAtom(302), 3));
  TAGGED l2 = make_structure(&w, functor_list);
  TagToLST(l2)[1] = atom_nil;
  TagToSTR(s2)[1] = b;
  TagToSTR(s2)[2] = l2;
  TagToSTR(s2)[3] = make_int64(&w, 1LL << 40);
  ASSERT_EQ(cunify(&w, s1, s2), 1);
  EXPECT_EQ(deref(TagToSTR(s1)[1]), b);
  EXPECT_EQ(deref(TagToLST(l2)[0]), a);
  EXPECT_EQ(deref(TagToLST(l1)[1]), atom_nil);

  EXPECT_EQ(cunify(&w, make_int64(&w, 1LL << 40), make_int64(&w, (1LL << 40) + 1)), 0);
  EXPECT_EQ(cunify(&w, make_float(&w, 1.0), make_int64(&w, 1LL << 40)), 0);
  EXPECT_EQ(cunify(&w, make_float(&w, NAN), make_float(&w, -NAN)), 1) << "NaNs are one term";
  EXPECT_EQ(cunify(&w, a, b), 0);
}

TEST_F(HeapFixture, UnifyBindsTheYoungerVariable)
{
  TAGGED *older = w.global_top;
  make_structure(&w, functor_list);
  TAGGED x = PointerToTerm(older), y = PointerToTerm(older + 1);
  ASSERT_EQ(cunify(&w, x, y), 1);
  EXPECT_EQ(older[1], x) << "the higher cell is bound to the lower";
  EXPECT_EQ(older[0], x) << "the lower cell stays unbound";
}

TEST_F(HeapFixture, UnifyDeepListWithoutRecursion)
{
  // Two 200000-element lists of fresh variables against constants.
  TAGGED l1 = atom_nil, l2 = atom_nil;
  for (int i = 0; i < 100000; i++) {
    TAGGED c1 = make_structure(&w, functor_list);
    TagToLST(c1)[0] = MakeSmall_checked(i);
    TagToLST(c1)[1] = l1;
    l1 = c1;
    TAGGED c2 = make_structure(&w, functor_list);
    TagToLST(c2)[1] = l2;
    l2 = c2;
  }
  EXPECT_EQ(cunify(&w, l1, l2), 1);
  EXPECT_EQ(deref(TagToLST(l2)[0]), deref(TagToLST(l1)[0]));
}
