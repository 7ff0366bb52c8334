// The evaluable functions called directly on number terms, the way the
// emulator's general state calls them: boxes on the number stack (one-digit
// temporaries for small values), heap boxes and small integers.  Tables
// give the result's text, or the error recorded (type and culprit) when
// the function returns 0; float results that depend on the platform's last
// bit are checked numerically.  Also: the numeric comparisons with mixed
// representations, globalize_numbers and wam_store_variable.
//
// No emulator runs here: raising an error only places the registers (the
// goal in X0), which the tests read back.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "database_fixture.h"
#include "errors.h"
#include "eval_functions.h"
#include "numstack.h"
#include "term_text.h"

namespace {

struct EvalFunctions : DatabaseFixture {
  // One-digit temporary, as the emulator boxes a 32-bit value.
  TAGGED tl(VR_INTEGER v) { return make_temp_long(w, v); }
  TAGGED tf(double d) { return make_temp_float(w, d); }
  TAGGED hi(VR_int64 v) { return make_integer_term(w, v); }
  TAGGED hf(double d) { return make_float(w, d); }

  // The result's text, or error(Type,Culprit) after a 0.
  std::string text(TAGGED r)
  {
    if (r == 0)
      return "error(" + std::to_string(g_error_type) + "," + term_to_text(g_culprit) + ")";
    return term_to_text(r);
  }
  double value(TAGGED r)
  {
    EXPECT_NE(r, 0u);
    if (r == 0 || !IsStructure(r) || !BoxIsFloat(*TagToSTR(r)))
      return -12345.0;
    double d;
    std::memcpy(&d, TagToSTR(r) + 1, sizeof d);
    return d;
  }
  bool on_heap(TAGGED t) const
  {
    return IsStructure(t) && TagToSTR(t) >= w->heap_start && TagToSTR(t) < w->global_top;
  }
};

TEST_F(EvalFunctions, ResultTable)
{
  const double pi = std::acos(-1.0);
  struct fn_case {
    const char *what;
    std::function<TAGGED()> call;
    const char *expected;
  };
  std::vector<fn_case> cases = {
      {"small limit + 1 on temporaries", [&] { return fu2_add(w, tl(268435455), tl(1)); }, "268435456"},
      {"small + small", [&] { return fu2_add(w, MakeSmall_checked(1), MakeSmall_checked(2)); }, "3"},
      {"2^31 - 1 + 1", [&] { return fu2_add(w, tl(INT32_MAX), tl(1)); }, "2147483648"},
      {"float + integer", [&] { return fu2_add(w, tf(0.5), tl(2)); }, "2.5"},
      {"bignum - bignum to small", [&] { return fu2_subtract(w, hi(1LL << 40), hi(1LL << 40)); }, "0"},
      {"bignum * small", [&] { return fu2_multiply(w, hi(1LL << 40), tl(-3)); }, "-3298534883328"},
      {"-(0)", [&] { return fu1_minus(w, tl(0)); }, "0"},
      {"-(-2^31)", [&] { return fu1_minus(w, tl(INT32_MIN)); }, "2147483648"},
      {"-(2.5)", [&] { return fu1_minus(w, tf(2.5)); }, "-2.5"},
      {"abs(-2^31)", [&] { return fu1_abs(w, tl(INT32_MIN)); }, "2147483648"},
      {"abs(-2.0)", [&] { return fu1_abs(w, tf(-2.0)); }, "2.0"},
      {"sign of a one-digit 0", [&] { return fu1_sign(w, tl(0)); }, "0"},
      {"sign(-3)", [&] { return fu1_sign(w, tl(-3)); }, "-1"},
      {"sign(-2^40)", [&] { return fu1_sign(w, hi(-(1LL << 40))); }, "-1"},
      {"sign(NaN)", [&] { return fu1_sign(w, tf(NAN)); }, "0.0"},
      {"msb of a one-digit 0", [&] { return fu1_msb(w, tl(0)); }, "error(1026,0)"},
      {"msb(1)", [&] { return fu1_msb(w, tl(1)); }, "0"},
      {"msb(2^40)", [&] { return fu1_msb(w, hi(1LL << 40)); }, "40"},
      {"msb(1.0)", [&] { return fu1_msb(w, tf(1.0)); }, "error(1025,1.0)"},
      {"\\(-1)", [&] { return fu1_complement(w, tl(-1)); }, "0"},
      {"integer(-2.7)", [&] { return fu1_integer(w, tf(-2.7)); }, "-2"},
      {"integer(-1.0e20)", [&] { return fu1_integer(w, tf(-1.0e20)); }, "-100000000000000000000"},
      {"integer(nan)", [&] { return fu1_integer(w, tf(NAN)); }, "error(771,+nan)"},
      {"integer(2^40) unchanged", [&] { return fu1_integer(w, hi(1LL << 40)); }, "1099511627776"},
      {"float(2^40)", [&] { return fu1_float(w, hi(1LL << 40)); }, "1099511627776.0"},
      {"round(2.5)", [&] { return fu1_round(w, tf(2.5)); }, "3"},
      {"round(-2.5)", [&] { return fu1_round(w, tf(-2.5)); }, "-2"},
      {"round(-268435456.4) at the small limit", [&] { return fu1_round(w, tf(-268435456.4)); }, "-268435456"},
      {"round(268435455.5) just past it", [&] { return fu1_round(w, tf(268435455.5)); }, "268435456"},
      {"round(3) is a type error", [&] { return fu1_round(w, tl(3)); }, "error(2049,3)"},
      {"ceiling(-0.5)", [&] { return fu1_ceiling(w, tf(-0.5)); }, "0"},
      {"floor(-1.0e10)", [&] { return fu1_floor(w, tf(-1.0e10)); }, "-10000000000"},
      {"truncate(inf)", [&] { return fu1_truncate(w, tf(HUGE_VAL)); }, "error(771,+inf)"},
      {"float_integer_part(2.5)", [&] { return fu1_float_integer_part(w, tf(2.5)); }, "2.0"},
      {"float_fractional_part(1)", [&] { return fu1_float_fractional_part(w, tl(1)); }, "error(2049,1)"},
      {"7 / 0", [&] { return fu2_divide(w, tl(7), tl(0)); }, "error(770,0)"},
      {"1 / -0.0", [&] { return fu2_divide(w, tl(1), tf(-0.0)); }, "error(770,-0.0)"},
      {"7 / 2", [&] { return fu2_divide(w, tl(7), tl(2)); }, "3.5"},
      {"-7 // 2", [&] { return fu2_idivide(w, tl(-7), tl(2)); }, "-3"},
      {"2^40 // 0", [&] { return fu2_idivide(w, hi(1LL << 40), tl(0)); }, "error(770,0)"},
      {"7.0 // 2.0 names the first", [&] { return fu2_idivide(w, tf(7.0), tf(2.0)); }, "error(1025,7.0)"},
      {"-2^40 mod 3", [&] { return fu2_modulus(w, hi(-(1LL << 40)), tl(3)); }, "2"},
      {"-2^40 rem 3", [&] { return fu2_remainder(w, hi(-(1LL << 40)), tl(3)); }, "-1"},
      {"5 mod -3", [&] { return fu2_modulus(w, tl(5), tl(-3)); }, "-1"},
      {"max(NaN, 1.0)", [&] { return fu2_maximum(w, tf(NAN), tf(1.0)); }, "+nan"},
      {"min(1.0, NaN)", [&] { return fu2_minimum(w, tf(1.0), tf(NAN)); }, "+nan"},
      {"max(3, 2.0)", [&] { return fu2_maximum(w, tl(3), tf(2.0)); }, "3.0"},
      {"min(-2^40, 5)", [&] { return fu2_minimum(w, hi(-(1LL << 40)), tl(5)); }, "-1099511627776"},
      {"2^40 /\\ -1", [&] { return fu2_and(w, hi(1LL << 40), tl(-1)); }, "1099511627776"},
      {"2^40 \\/ 1", [&] { return fu2_or(w, hi(1LL << 40), tl(1)); }, "1099511627777"},
      {"1 \\ 2.0", [&] { return fu2_xor(w, tl(1), tf(2.0)); }, "error(1025,2.0)"},
      {"1 << 40", [&] { return fu2_left_shift(w, tl(1), tl(40)); }, "1099511627776"},
      {"2^40 >> 38", [&] { return fu2_right_shift(w, hi(1LL << 40), tl(38)); }, "4"},
      {"-1 >> 100", [&] { return fu2_right_shift(w, tl(-1), tl(100)); }, "-1"},
      {"1 << -1", [&] { return fu2_left_shift(w, tl(1), tl(-1)); }, "0"},
      {"1 << 2^32", [&] { return fu2_left_shift(w, tl(1), hi(1LL << 32)); }, "error(1027,4294967296)"},
      {"0 << 2^30", [&] { return fu2_left_shift(w, tl(0), tl(1 << 30)); }, "0"},
      {"gcd(-12, 18)", [&] { return fu2_gcd(w, tl(-12), tl(18)); }, "6"},
      {"gcd(0, -5)", [&] { return fu2_gcd(w, tl(0), tl(-5)); }, "5"},
      {"gcd(-2^28, 0): the magnitude leaves the small range", [&] { return fu2_gcd(w, MakeSmall_checked(SMALL_MIN), tl(0)); },
       "268435456"},
      {"gcd(2^31, 0)", [&] { return fu2_gcd(w, hi(2147483648LL), tl(0)); }, "2147483648"},
      {"gcd(2^40, 2^35 * 3)", [&] { return fu2_gcd(w, hi(1LL << 40), hi(3LL << 35)); }, "34359738368"},
      {"gcd(2.0, 4)", [&] { return fu2_gcd(w, tf(2.0), tl(4)); }, "error(1025,2.0)"},
      {"(-8) ** 3.0", [&] { return fu2_power(w, tl(-8), tf(3.0)); }, "-512.0"},
      {"(-8) ** NaN", [&] { return fu2_power(w, tl(-8), tf(NAN)); }, "error(4610,-8)"},
      {"0 ** -1", [&] { return fu2_power(w, tl(0), tl(-1)); }, "error(519,-1)"},
      {"exp(0, -1) has its own name", [&] { return fu2_exp(w, tl(0), tl(-1)); }, "error(519,-1)"},
      {"log(0, 8)", [&] { return fu2_log(w, tl(0), tl(8)); }, "error(4354,0)"},
      {"log(2, -1)", [&] { return fu2_log(w, tl(2), tl(-1)); }, "error(4610,-1)"},
      {"log(2, 0)", [&] { return fu2_log(w, tl(2), tl(0)); }, "error(519,0)"},
      {"log(0)", [&] { return fu1_log(w, tl(0)); }, "error(519,0)"},
      {"sqrt(-0.0) is allowed", [&] { return fu1_sqrt(w, tf(-0.0)); }, "-0.0"},
      {"asin(NaN) passes", [&] { return fu1_asin(w, tf(NAN)); }, "+nan"},
      {"acos(-1.5)", [&] { return fu1_acos(w, tf(-1.5)); }, "error(3586,-1.5)"},
      {"atanh(-1)", [&] { return fu1_atanh(w, tl(-1)); }, "-inf"},
      {"atanh(1.5)", [&] { return fu1_atanh(w, tf(1.5)); }, "error(3586,1.5)"},
      {"acoth(-1)", [&] { return fu1_acoth(w, tl(-1)); }, "-inf"},
      {"acoth(0.5)", [&] { return fu1_acoth(w, tf(0.5)); }, "error(3842,0.5)"},
      {"acosh(1)", [&] { return fu1_acosh(w, tl(1)); }, "0.0"},
      {"inf", [&] { return fu0_inf(w); }, "error(1538,inf)"},
      {"nan", [&] { return fu0_nan(w); }, "error(1538,nan)"},
  };
  for (const fn_case &c : cases) {
    g_error_type = -1;
    EXPECT_EQ(text(c.call()), c.expected) << c.what;
  }

  struct float_case {
    const char *what;
    std::function<TAGGED()> call;
    double expected;
  } floats[] = {
      {"acot(0)", [&] { return fu1_acot(w, tl(0)); }, pi / 2},
      {"acot(-1) lies in (0, pi)", [&] { return fu1_acot(w, tl(-1)); }, 3 * pi / 4},
      {"acot(1)", [&] { return fu1_acot(w, tl(1)); }, pi / 4},
      {"acot2(1, 1)", [&] { return fu2_acot2(w, tl(1), tl(1)); }, pi / 4},
      {"acot2(-1, -1)", [&] { return fu2_acot2(w, tl(-1), tl(-1)); }, pi / 4 - pi},
      {"atan2(1, 0)", [&] { return fu2_atan2(w, tl(1), tl(0)); }, pi / 2},
      {"log(2, 8)", [&] { return fu2_log(w, tl(2), tl(8)); }, 3.0},
      {"cot(1)", [&] { return fu1_cot(w, tl(1)); }, 1 / std::tan(1.0)},
      {"coth(1)", [&] { return fu1_coth(w, tl(1)); }, 1 / std::tanh(1.0)},
      {"asinh(1)", [&] { return fu1_asinh(w, tl(1)); }, std::asinh(1.0)},
      {"acosh(2)", [&] { return fu1_acosh(w, tl(2)); }, std::acosh(2.0)},
      {"atanh(0.5)", [&] { return fu1_atanh(w, tf(0.5)); }, std::atanh(0.5)},
      {"acoth(2)", [&] { return fu1_acoth(w, tl(2)); }, std::atanh(0.5)},
      {"sin(2^40) converts the bignum", [&] { return fu1_sin(w, hi(1LL << 40)); }, std::sin(1099511627776.0)},
  };
  for (const float_case &c : floats)
    EXPECT_NEAR(value(c.call()), c.expected, 1e-12) << c.what;
}

// Functions that hand back an operand return that very term.
TEST_F(EvalFunctions, UnchangedResultsAreTheOperands)
{
  TAGGED three = tl(3), other_three = tl(3), big = hi(1LL << 40), f = tf(2.0);
  EXPECT_EQ(fu2_maximum(w, three, other_three), other_three) << "a tie gives the right operand";
  EXPECT_EQ(fu2_minimum(w, three, other_three), other_three) << "a tie gives the right operand";
  EXPECT_EQ(fu2_maximum(w, big, three), big);
  EXPECT_EQ(fu1_abs(w, big), big);
  EXPECT_EQ(fu1_integer(w, big), big);
  EXPECT_EQ(fu1_float(w, f), f);
  EXPECT_EQ(fu2_left_shift(w, big, tl(0)), big) << "count 0 returns X";
}

// Numeric comparisons over every mix of representations; a heap box is
// never in the small range, so against a small integer only its sign
// counts.
TEST_F(EvalFunctions, ComparisonTable)
{
  struct cmp_case {
    const char *what;
    TAGGED t, u;
    const char *relations;  // = =\= < >= > =< as 0/1
  } cases[] = {
      {"small vs small", MakeSmall_checked(1), MakeSmall_checked(2), "011001"},
      {"temporaries", tl(7), tl(7), "100101"},
      {"small vs positive bignum", MakeSmall_checked(5), hi(1LL << 40), "011001"},
      {"negative bignum vs small", hi(-(1LL << 40)), MakeSmall_checked(-5), "011001"},
      {"bignum vs bignum", hi(1LL << 41), hi(1LL << 40), "010110"},
      {"equal bignums", hi(1LL << 40), hi(1LL << 40), "100101"},
      {"float vs integer", tf(1.0), tl(1), "100101"},
      {"float vs bignum", tf(1.0e20), hi(1LL << 40), "010110"},
      {"NaN vs 0", tf(NAN), tl(0), "010000"},
      {"0 vs NaN", tl(0), tf(NAN), "010000"},
      {"-0.0 vs 0.0", tf(-0.0), tf(0.0), "100101"},
  };
  int (*const fns[])(worker *, TAGGED, TAGGED) = {bu2_equal_to, bu2_not_equal_to, bu2_less_than,
                                                  bu2_not_less_than, bu2_greater_than, bu2_not_greater_than};
  for (const cmp_case &c : cases) {
    std::string got;
    for (auto fn : fns)
      got += fn(w, c.t, c.u) ? '1' : '0';
    EXPECT_EQ(got, c.relations) << c.what;
  }
}

TEST_F(EvalFunctions, CompareOrdersVariablesFirst)
{
  TAGGED a = var(), b = var();
  EXPECT_EQ(fu2_compare(w, a, b), -1);
  EXPECT_EQ(fu2_compare(w, b, a), 1);
  EXPECT_EQ(fu2_compare(w, a, a), 0);
  EXPECT_EQ(fu2_compare(w, a, atom("x")), -1);
  EXPECT_EQ(fu2_compare(w, MakeSmall_checked(1), b), 1);
  EXPECT_EQ(fu2_compare(w, atom("x"), atom("x")), 0);
}

// An error names the operands as they were, copied to the heap: the goal
// is prolog:$eval(prolog:F) and the culprit is a heap term.
TEST_F(EvalFunctions, ErrorsNameHeapCopiesOfTheOperands)
{
  TAGGED big = make_temp_large(w, hi(1LL << 40));
  ASSERT_FALSE(on_heap(big));
  EXPECT_EQ(fu2_idivide(w, big, tl(0)), 0u);
  EXPECT_EQ(g_error_type, 770);
  EXPECT_EQ(term_to_text(deref(w->term[0])), ":(prolog,'$eval'(:(prolog,//(1099511627776,0))))");
  EXPECT_EQ(w->term[1], MakeSmall_checked(1)) << "argument number";
  EXPECT_EQ(g_culprit, MakeSmall_checked(0)) << "a one-digit small value becomes the small integer";

  EXPECT_EQ(fu1_acosh(w, tf(0.5)), 0u);
  EXPECT_TRUE(on_heap(g_culprit)) << "the float culprit must outlive the number stack";
  EXPECT_EQ(term_to_text(deref(w->term[0])), ":(prolog,'$eval'(:(prolog,acosh(0.5))))");
}

TEST_F(EvalFunctions, GlobalizeCopiesOnlyWhatIsOffTheHeap)
{
  TAGGED heap_box = hi(1LL << 40);
  TAGGED *top = w->global_top;
  TAGGED t = 0, u = 0;
  globalize_numbers(w, heap_box, MakeSmall_checked(3), &t, &u);
  EXPECT_EQ(t, heap_box) << "nothing off the heap: nothing moves";
  EXPECT_EQ(u, MakeSmall_checked(3));
  EXPECT_EQ(w->global_top, top);

  globalize_numbers(w, tf(1.5), tl(-2), &t, &u);
  ASSERT_TRUE(on_heap(t));
  const TAGGED *box = TagToSTR(t);
  EXPECT_EQ(box[0], BOX_FLOAT);
  EXPECT_EQ(box[3], BOX_FLOAT) << "a heap copy carries its trailer";
  EXPECT_EQ(u, MakeSmall_checked(-2));
  EXPECT_EQ(w->global_top, top + 4);

  globalize_numbers(w, MakeSmall_checked(0), tl(INT32_MIN), &u, &u);
  ASSERT_TRUE(on_heap(u)) << "the second operand wins when both go to one place";
  EXPECT_EQ(term_to_text(u), "-2147483648");
}

TEST_F(EvalFunctions, StoreVariable)
{
  int pad = 0;
  TAGGED heap_box = hi(1LL << 40);
  EXPECT_EQ(wam_store_variable(w, heap_box, &pad), heap_box);
  EXPECT_EQ(wam_store_variable(w, tl(-5), &pad), MakeSmall_checked(-5));

  TAGGED *top = w->global_top;
  TAGGED r = wam_store_variable(w, tl(SMALL_MAX + 1), &pad);
  ASSERT_TRUE(on_heap(r));
  EXPECT_EQ(TagToSTR(r)[0], BOX_INT1);
  EXPECT_EQ(TagToSTR(r)[2], BOX_INT1);
  EXPECT_EQ(w->global_top, top + 3);
  EXPECT_EQ(pad, 0);

  // Not enough room above the copy for the heap's margin: nothing written.
  TAGGED wide = make_temp_large(w, hi(1LL << 40));
  TAGGED *saved = w->global_top;
  w->global_top = w->stack_start - (3 + 1152);
  top = w->global_top;
  EXPECT_EQ(wam_store_variable(w, wide, &pad), 0u);
  EXPECT_EQ(pad, 3 + 1153);
  EXPECT_EQ(w->global_top, top);
  w->global_top = saved;

  struct nonfinite {
    double d;
    int type;
    const char *goal;
  } cases[] = {{HUGE_VAL, 263, ":(prolog,'$eval'(inf))"},
               {-HUGE_VAL, 263, ":(prolog,'$eval'(inf))"},
               {NAN, 1031, ":(prolog,'$eval'(nan))"}};
  for (const nonfinite &c : cases) {
    pad = 0;
    EXPECT_EQ(wam_store_variable(w, tf(c.d), &pad), 0u) << c.d;
    EXPECT_EQ(pad, 0) << "an error, not a heap shortage";
    EXPECT_EQ(g_error_type, c.type) << c.d;
    EXPECT_EQ(term_to_text(deref(w->term[0])), c.goal) << c.d;
  }
}

}  // namespace
