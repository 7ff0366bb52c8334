// The standard order of terms: the class table, numbers at their edges,
// atom texts, compound terms, cyclic and deep terms, and the promise that
// a comparison leaves the heap and the value trail as it found them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "database_fixture.h"
#include "term_order.h"
#include "terms.h"

namespace {

// A heap of 16 MiB for the deep terms; the trail-and-choice area keeps its
// small default so that deep comparisons must grow it.
struct TermOrder : DatabaseFixture {
  bool create_in_setup() const override { return false; }
  void SetUp() override
  {
    DatabaseFixture::SetUp();
    setenv("GLOBALSTKSIZE", "16M", 1);
    start();
  }

  TAGGED flt(double d) { return make_float(w, d); }
  TAGGED integer(long long v) { return make_integer_term(w, v); }
  TAGGED f(const char *name, std::initializer_list<TAGGED> args) { return structure(atom(name), args); }
  TAGGED cons(TAGGED h, TAGGED t)
  {
    TAGGED *c = heap(2);
    c[0] = h;
    c[1] = t;
    return MakeLST(c);
  }
  static int sign(int r) { return (r > 0) - (r < 0); }

  // Compares both ways and checks the heap and value trail are untouched.
  int compare_checked(TAGGED a, TAGGED b, const std::string &why)
  {
    std::vector<TAGGED> before(w->heap_start, w->global_top);
    const std::int32_t vt = w->value_trail;
    const int r = sign(compare_terms(w, a, b));
    const int rr = sign(compare_terms(w, b, a));
    EXPECT_EQ(rr, -r) << why << ": the reversed comparison must give the opposite sign";
    EXPECT_EQ(w->value_trail, vt) << why << ": value trail not emptied";
    std::vector<TAGGED> after(w->heap_start, w->global_top);
    EXPECT_TRUE(before == after) << why << ": a heap cell was not restored";
    return r;
  }
};

TEST_F(TermOrder, ClassAndValueTable)
{
  const double nan = std::numeric_limits<double>::quiet_NaN();
  TAGGED v1 = var(), v2 = var();
  struct tc {
    const char *why;
    TAGGED a, b;
    int expected;
  } cases[] = {
      {"older variable first", v1, v2, -1},
      {"variable before a float", v2, flt(1.0), -1},
      {"variable before an atom", v1, atom("a"), -1},
      {"float before an integer of equal value", flt(1.0), MakeSmall_checked(1), -1},
      {"float before a smaller integer", flt(2.0), MakeSmall_checked(1), -1},
      {"float before a negative bignum", flt(1.0e300), integer(-100000000000LL), -1},
      {"integer before an atom", integer(100000000000LL), atom("a"), -1},
      {"atom before a compound", atom("foo"), f("f", {atom("x")}), -1},
      {"small integers by value", MakeSmall_checked(-5), MakeSmall_checked(3), -1},
      {"small extremes", MakeSmall_checked(SMALL_MIN), MakeSmall_checked(SMALL_MAX), -1},
      {"small below positive bignum", MakeSmall_checked(1), integer(100000000000LL), -1},
      {"negative bignum below small", integer(-100000000000LL), MakeSmall_checked(1), -1},
      {"just outside small range", MakeSmall_checked(SMALL_MAX), integer(SMALL_MAX + 1LL), -1},
      {"bignums by value", integer(100000000000LL), integer(100000000001LL), -1},
      {"negative bignums by value", integer(-100000000001LL), integer(-100000000000LL), -1},
      {"equal bignums in different boxes", integer(1LL << 40), integer(1LL << 40), 0},
      {"floats by value", flt(-2.5), flt(1.0), -1},
      {"minus zero equals zero", flt(-0.0), flt(0.0), 0},
      {"NaN above the largest float", flt(nan), flt(1.0e308), 1},
      {"NaN above infinity", flt(nan), flt(std::numeric_limits<double>::infinity()), 1},
      {"two NaNs are equal", flt(nan), flt(-nan), 0},
      {"NaN still below every integer", flt(nan), MakeSmall_checked(-7), -1},
      {"atoms by character code", atom("abc"), atom("abd"), -1},
      {"prefix first", atom("ab"), atom("abc"), -1},
      {"code 127 before code 0", atom("\x7f"), atom("\xC0\x80"), -1},
      {"code 0 before code 128", atom("\xC0\x80"), atom("\xC2\x80"), -1},
      {"[] against an atom by text", atom_nil, atom("a"), -1},
      {"arity before name", f("g", {atom("a")}), f("f", {atom("a"), atom("b")}), -1},
      {"name when arities agree", f("f", {atom("z")}), f("g", {atom("a")}), -1},
      {"arguments left to right", f("f", {atom("a"), atom("z")}), f("f", {atom("b"), atom("a")}), -1},
      {"later argument decides", f("f", {atom("a"), atom("a")}), f("f", {atom("a"), atom("b")}), -1},
      {"a list cell is '.'/2, before f/2", cons(atom("a"), atom_nil), f("f", {atom("a"), atom("b")}), -1},
      {"lists element by element", cons(MakeSmall_checked(1), cons(MakeSmall_checked(2), atom_nil)),
       cons(MakeSmall_checked(1), cons(MakeSmall_checked(3), atom_nil)), -1},
      {"shorter list first ([] < '.'/2)", cons(MakeSmall_checked(1), atom_nil),
       cons(MakeSmall_checked(1), cons(MakeSmall_checked(0), atom_nil)), -1},
      {"equal structures", f("f", {flt(1.5), integer(1LL << 35)}), f("f", {flt(1.5), integer(1LL << 35)}), 0},
      {"variables inside arguments by address", f("f", {v1}), f("f", {v2}), -1},
  };
  for (const tc &c : cases)
    EXPECT_EQ(compare_checked(c.a, c.b, c.why), c.expected) << c.why;
}

TEST_F(TermOrder, MutableTermsCompareByAddress)
{
  TAGGED m1 = structure(MakeAtom(functor_Dmutable_enum), {atom("a"), MakeSmall_checked(0)});
  TAGGED m2 = structure(MakeAtom(functor_Dmutable_enum), {atom("a"), MakeSmall_checked(0)});
  EXPECT_EQ(compare_checked(m1, m2, "mutables"), -1) << "equal contents, so the older box must come first";
  EXPECT_EQ(compare_checked(m1, m1, "same mutable"), 0);
}

TEST_F(TermOrder, CyclicTermsTerminate)
{
  // X = f(X), Y = f(Y): infinite unfoldings that are equal.
  TAGGED x = f("f", {0}), y = f("f", {0});
  TagToSTR(x)[1] = x;
  TagToSTR(y)[1] = y;
  EXPECT_EQ(compare_checked(x, y, "f(X) cycles"), 0);
  // L = [a, b | L] against M = [a, b, a, b | M]: the same infinite list.
  TAGGED l2 = cons(atom("b"), 0), l = cons(atom("a"), l2);
  TagToLST(l2)[1] = l;
  TAGGED m4 = cons(atom("b"), 0), m3 = cons(atom("a"), m4), m2 = cons(atom("b"), m3), m = cons(atom("a"), m2);
  TagToLST(m4)[1] = m;
  EXPECT_EQ(compare_checked(l, m, "cyclic lists of different periods"), 0);
  // Z = f(g(Z)) against X = f(X): at depth one g/1 meets f/1.
  TAGGED z = f("f", {0});
  TagToSTR(z)[1] = f("g", {z});
  EXPECT_EQ(compare_checked(x, z, "different cycles"), -1) << "f < g at the first difference";
  // A cycle through a bound variable: V = h(V, a) with the argument a
  // reference to V's cell.
  TAGGED v = var();
  TAGGED hv = f("h", {v, atom("a")});
  *TagToRef(v) = hv;
  TAGGED hw = f("h", {0, atom("b")});
  TagToSTR(hw)[1] = hw;
  EXPECT_EQ(compare_checked(hv, hw, "cycle through a variable"), -1) << "a < b in the second argument";
}

TEST_F(TermOrder, DeepTermsGrowTheComparisonStack)
{
  // Left-nested terms keep one pending run per level, far more than the
  // default trail-and-choice area holds.
  constexpr int depth = 60000;
  auto nest = [&](TAGGED leaf) {
    TAGGED t = leaf;
    for (int i = 0; i < depth; ++i)
      t = f("f", {t, MakeSmall_checked(i)});
    return t;
  };
  TAGGED a = nest(atom("a")), b = nest(atom("b")), a2 = nest(atom("a"));
  const long area_before = w->trail_end - w->trail_start;
  EXPECT_EQ(compare_checked(a, b, "deep, differing at the bottom"), -1);
  EXPECT_EQ(compare_checked(a, a2, "deep and equal"), 0);
  EXPECT_GT(w->trail_end - w->trail_start, area_before) << "the area was expected to grow";
  // A long list is right-recursive and must not need a deep stack at all.
  TAGGED l1 = atom_nil, l2 = atom_nil;
  for (int i = 0; i < 100000; ++i) {
    l1 = cons(f("e", {MakeSmall_checked(i)}), l1);
    l2 = cons(f("e", {MakeSmall_checked(i)}), l2);
  }
  EXPECT_EQ(compare_checked(l1, l2, "long equal lists"), 0);
}

TEST(TermOrderText, UstrcmpIsUnsigned)
{
  EXPECT_LT(ustrcmp("a", "\xC3\xA9"), 0) << "bytes above 127 must compare as unsigned";
  EXPECT_EQ(ustrcmp("same", "same"), 0);
  EXPECT_GT(ustrcmp("b", "abc"), 0);
}

} // namespace
