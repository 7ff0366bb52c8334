// Inline arithmetic in the emulator: sequences built with the code builder
// as single-clause predicates and run as queries.  One table covers the
// results and errors at the edges (the 32-bit limits where the integer
// state hands over to the general one, signs of //, mod and rem, shifts,
// gcd, msb, the float functions, stores that must match a representation,
// non-finite results); further tests cover the comparisons, the Y-variable
// and constant forms, what the integer state leaves behind (nothing), and
// the escape of an operand that is no number.
//
// Errors are caught by a stand-in for the runtime library's error
// predicate ($cerror/3 behind the nd_cerror try node), which records the
// error type, the culprit and the goal, then throws.  evaluate/4 has a
// stand-in too, which knows three atoms.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "eval_functions.h"
#include "numstack.h"
#include "term_text.h"
#include "wam_fixture.h"

namespace {

using emitter = std::function<void(code_builder &)>;

struct WamArith : WamFixture {
  static int error_type;
  static std::string error_culprit, error_goal;
  int seq = 0;

  void SetUp() override
  {
    WamFixture::SetUp();
    preds.cerror = native("$cerror", 3, standin_cerror, "prolog");
    preds.nd_cerror = def_retry_prolog(preds.cerror, 3);
    retry_blocks.push_back(preds.nd_cerror);
    preds.resume = pred("$resume", 7, BUILTIN_RESUME, "prolog");
    preds.evaluate = native("evaluate", 4, standin_evaluate, "prolog");
    error_type = -1;
    evaluations.clear();
  }

  void TearDown() override
  {
    preds.cerror = preds.resume = preds.evaluate = nullptr;
    preds.nd_cerror = nullptr;
    WamFixture::TearDown();
  }

  // What the stand-in for evaluate/4 received: the expression's text, the
  // caller's value (read at once: a boxed caller lives only as long as the
  // evaluation) and the operand number.
  struct evaluation {
    std::string expr;
    VR_INTEGER caller;
    TAGGED opno;
  };
  static std::vector<evaluation> evaluations;

  // evaluate(Expr, Value, Caller, OpNo) for three atoms: ten is 10, big is
  // 2^40 (made on the heap, as evaluation makes it), half is 0.5; any
  // other expression raises the domain error expression, as the library's
  // evaluate/4 does (it never fails).
  static int standin_evaluate(worker *w)
  {
    TAGGED e = deref(w->term[0]);
    TAGGED caller = deref(w->term[2]);
    evaluations.push_back({term_to_text(e),
                           IsSmall(caller) ? GetSmall(caller) : static_cast<VR_INTEGER>(TagToSTR(caller)[1]),
                           deref(w->term[3])});
    TAGGED v;
    if (e == atom("ten"))
      v = MakeSmall_checked(10);
    else if (e == atom("big"))
      v = make_int64(w, 1LL << 40);
    else if (e == atom("half"))
      v = make_float(w, 0.5);
    else {
      save_error(1538, "", e);
      w->term[0] = e;
      raise_error("prolog", "evaluate", 1, 1);
      return 0;
    }
    TAGGED result = deref(w->term[1]);
    if (!IsVar(result))
      return 0;
    *TagToRef(result) = v;  // a slot of the operand environment, above every choicepoint
    return 1;
  }

  // Records the error and throws, as the library's error predicate does
  // (failing instead could backtrack into an escape's choicepoint).
  static int standin_cerror(worker *w)
  {
    error_type = g_error_type;
    error_culprit = term_to_text(deref(w->term[2]));
    error_goal = term_to_text(deref(w->term[0]));
    raise_exception(atom("arith_error"));
    return 0;
  }

  definition *clause_of(int arity, const emitter &emit)
  {
    char name[32];
    std::snprintf(name, sizeof name, "arith_%d", seq++);
    definition *d = pred(name, arity);
    code_builder b;
    emit(b);
    clause(d, b);
    return d;
  }

  // Runs d on args (its arity); the text of the last argument after
  // success, "true" when it is not asked for, "fail", or the error caught.
  std::string outcome(definition *d, std::vector<TAGGED> args, bool result_in_last = true)
  {
    error_type = -1;
    std::vector<TAGGED> a(args);
    a.resize(256);
    int r = query_open(w, &open_query, d, a.data());
    std::string text;
    if (r == 1)
      text = result_in_last ? term_to_text(deref(args.back())) : "true";
    else if (r == -1 && error_type >= 0)
      text = "error(" + std::to_string(error_type) + "," + error_culprit + ")";
    else
      text = r == 0 ? "fail" : "exception";
    close_query();
    return text;
  }

  // Terms made before a query stay: its choicepoint keeps them.
  TAGGED i(VR_int64 v) { return make_integer_term(w, v); }
  TAGGED f(double d) { return make_float(w, d); }
  TAGGED big(const std::vector<std::uint32_t> &digits)
  {
    std::vector<TAGGED> box(digits.size() + 1);
    box[0] = BoxHeader(static_cast<unsigned>(digits.size()), false);
    for (std::size_t k = 0; k < digits.size(); k++)
      box[k + 1] = digits[k];
    return make_large(w, box.data());
  }
};
int WamArith::error_type = -1;
std::string WamArith::error_culprit, WamArith::error_goal;
std::vector<WamArith::evaluation> WamArith::evaluations;

// X0 op -> X1
emitter unary(int insn)
{
  return [insn](code_builder &b) {
    b.emit(FIRST_X_VALUE, {cb::x(0)});
    b.emit(insn);
    b.emit(STORE_X_VALUE, {cb::x(1)});
    b.emit(PROCEED);
  };
}
// X0 op X1 -> X2
emitter binary(int insn)
{
  return [insn](code_builder &b) {
    b.emit(FIRST_X_VALUE, {cb::x(0)});
    b.emit(LATER_X_VALUE, {cb::x(1)});
    b.emit(insn);
    b.emit(STORE_X_VALUE, {cb::x(2)});
    b.emit(PROCEED);
  };
}
// constant op constant -> X0, all from the code
emitter constants(std::int32_t a, int insn, std::int32_t c)
{
  return [=](code_builder &b) {
    b.emit(FIRST_CONSTANT, {cb::l(a)});
    b.emit(LATER_CONSTANT, {cb::l(c)});
    b.emit(insn);
    b.emit(STORE_X_VALUE, {cb::x(0)});
    b.emit(PROCEED);
  };
}
// X0 op immediate -> X1
emitter immediate(int insn, std::int32_t c)
{
  return [=](code_builder &b) {
    b.emit(FIRST_X_VALUE, {cb::x(0)});
    b.emit(insn, {cb::l(c)});
    b.emit(STORE_X_VALUE, {cb::x(1)});
    b.emit(PROCEED);
  };
}

struct arith_case {
  const char *what;
  emitter code;
  std::vector<TAGGED> args;  // inputs, then a fresh variable for the result
  std::string expected;
};

TEST_F(WamArith, EdgeCaseTable)
{
  const std::int32_t MIN = INT32_MIN, MAX = INT32_MAX;
  const double big_float = 1.0e308;
  std::vector<arith_case> cases = {
      // The 32-bit limits: the integer state overflows into the general one.
      {"small limit + 1 is a boxed integer", binary(BINOP_ADD), {i(268435455), i(1), var()}, "268435456"},
      {"2^31 - 1 + 1 overflows into two digits", binary(BINOP_ADD), {i(MAX), i(1), var()}, "2147483648"},
      {"-2^31 - 1 overflows", binary(BINOP_SUBTRACT), {i(MIN), i(1), var()}, "-2147483649"},
      {"subtract without overflow near the limit", binary(BINOP_SUBTRACT), {i(-1), i(MAX), var()}, "-2147483648"},
      {"-(-2^31)", unary(MONOP_MINUS), {i(MIN), var()}, "2147483648"},
      {"abs(-2^31)", unary(MONOP_ABS), {i(MIN), var()}, "2147483648"},
      {"abs(-7)", unary(MONOP_ABS), {i(-7), var()}, "7"},
      {"-2^31 // -1", binary(BINOP_IDIVIDE), {i(MIN), i(-1), var()}, "2147483648"},
      {"-2^31 mod -1", binary(BINOP_MODULUS), {i(MIN), i(-1), var()}, "0"},
      {"-2^31 rem -1", binary(BINOP_REMAINDER), {i(MIN), i(-1), var()}, "0"},
      {"7 mod -2 has the divisor's sign", binary(BINOP_MODULUS), {i(7), i(-2), var()}, "-1"},
      {"-7 mod 2 has the divisor's sign", binary(BINOP_MODULUS), {i(-7), i(2), var()}, "1"},
      {"-7 rem 2 has the dividend's sign", binary(BINOP_REMAINDER), {i(-7), i(2), var()}, "-1"},
      {"-7 // 2 truncates", binary(BINOP_IDIVIDE), {i(-7), i(2), var()}, "-3"},
      {"46341^2 overflows 32 bits", binary(BINOP_MULTIPLY), {i(46341), i(46341), var()}, "2147488281"},
      {"65536 * 32768 is 2^31", binary(BINOP_MULTIPLY), {i(65536), i(32768), var()}, "2147483648"},
      {"-65536 * 32768 is -2^31", binary(BINOP_MULTIPLY), {i(-65536), i(32768), var()}, "-2147483648"},
      {"bignum * bignum", binary(BINOP_MULTIPLY), {i(4294967296LL), i(4294967296LL), var()},
       "18446744073709551616"},
      {"bignum result back to 32 bits", binary(BINOP_SUBTRACT), {i(4294967301LL), i(4294967296LL), var()}, "5"},
      // Shifts.
      {"1 << 31 needs two digits", binary(BINOP_LEFT_SHIFT), {i(1), i(31), var()}, "2147483648"},
      {"-1 << 31 fits", binary(BINOP_LEFT_SHIFT), {i(-1), i(31), var()}, "-2147483648"},
      {"5 >> 40", binary(BINOP_RIGHT_SHIFT), {i(5), i(40), var()}, "0"},
      {"-5 >> 40", binary(BINOP_RIGHT_SHIFT), {i(-5), i(40), var()}, "-1"},
      {"1 >> -3 shifts left", binary(BINOP_RIGHT_SHIFT), {i(1), i(-3), var()}, "8"},
      {"8 << -2 shifts right", binary(BINOP_LEFT_SHIFT), {i(8), i(-2), var()}, "2"},
      {"1 << -1", binary(BINOP_LEFT_SHIFT), {i(1), i(-1), var()}, "0"},
      {"-1 >> 100", binary(BINOP_RIGHT_SHIFT), {i(-1), i(100), var()}, "-1"},
      {"1 << 40 through the bignum shift", binary(BINOP_LEFT_SHIFT), {i(1), i(40), var()}, "1099511627776"},
      {"1 >> -(2^31): shift count without a 32-bit magnitude", binary(BINOP_RIGHT_SHIFT), {i(1), i(MIN), var()},
       "error(1027,1)"},
      {"-5 << -(2^31) gives the sign", binary(BINOP_LEFT_SHIFT), {i(-5), i(MIN), var()}, "-1"},
      {"two-digit shift count", binary(BINOP_LEFT_SHIFT), {i(1), i(4294967296LL), var()},
       "error(1027,4294967296)"},
      // Division and its errors.
      {"4 / 2 is a float", binary(BINOP_DIVIDE), {i(4), i(2), var()}, "2.0"},
      {"7 // 0", binary(BINOP_IDIVIDE), {i(7), i(0), var()}, "error(770,0)"},
      {"7 mod 0", binary(BINOP_MODULUS), {i(7), i(0), var()}, "error(770,0)"},
      {"7 rem 0", binary(BINOP_REMAINDER), {i(7), i(0), var()}, "error(770,0)"},
      {"7 / 0 converts first", binary(BINOP_DIVIDE), {i(7), i(0), var()}, "error(770,0.0)"},
      {"7.0 // 2", binary(BINOP_IDIVIDE), {f(7.0), i(2), var()}, "error(1025,7.0)"},
      {"7 // 2.0 names the float", binary(BINOP_IDIVIDE), {i(7), f(2.0), var()}, "error(1025,2.0)"},
      // msb: the same answer whatever the representation of the operand.
      {"msb(0) is an error, as for a boxed 0", unary(MONOP_MSB), {i(0), var()}, "error(1026,0)"},
      {"msb(-4)", unary(MONOP_MSB), {i(-4), var()}, "error(1026,-4)"},
      {"msb(1)", unary(MONOP_MSB), {i(1), var()}, "0"},
      {"msb(1024)", unary(MONOP_MSB), {i(1024), var()}, "10"},
      {"msb(2^31 - 1)", unary(MONOP_MSB), {i(MAX), var()}, "30"},
      {"msb(2^32)", unary(MONOP_MSB), {i(4294967296LL), var()}, "32"},
      // gcd.
      {"gcd(0, 0)", binary(BINOP_GCD), {i(0), i(0), var()}, "0"},
      {"gcd(-12, 18)", binary(BINOP_GCD), {i(-12), i(18), var()}, "6"},
      {"gcd(0, -5)", binary(BINOP_GCD), {i(0), i(-5), var()}, "5"},
      {"gcd(2^31, 0)", binary(BINOP_GCD), {i(2147483648LL), i(0), var()}, "2147483648"},
      {"gcd(0, 2^31)", binary(BINOP_GCD), {i(0), i(2147483648LL), var()}, "2147483648"},
      {"gcd(-2^31, 6)", binary(BINOP_GCD), {i(MIN), i(6), var()}, "2"},
      {"gcd of bignums", binary(BINOP_GCD), {i(6LL << 40), i(9LL << 35), var()}, "103079215104"},
      {"gcd(2.0, 4)", binary(BINOP_GCD), {f(2.0), i(4), var()}, "error(1025,2.0)"},
      // Rounding and conversion.
      {"round(2.5)", unary(MONOP_ROUND), {f(2.5), var()}, "3"},
      {"round(-2.5)", unary(MONOP_ROUND), {f(-2.5), var()}, "-2"},
      {"round(-2.6)", unary(MONOP_ROUND), {f(-2.6), var()}, "-3"},
      {"truncate(-2.5)", unary(MONOP_TRUNCATE), {f(-2.5), var()}, "-2"},
      {"floor(-2.5)", unary(MONOP_FLOOR), {f(-2.5), var()}, "-3"},
      {"ceiling(2.1)", unary(MONOP_CEILING), {f(2.1), var()}, "3"},
      {"round leaves an integer alone", unary(MONOP_ROUND), {i(7), var()}, "7"},
      {"integer(2.7)", unary(MONOP_INTEGER), {f(2.7), var()}, "2"},
      {"integer(-2.7)", unary(MONOP_INTEGER), {f(-2.7), var()}, "-2"},
      {"integer(1.0e20)", unary(MONOP_INTEGER), {f(1.0e20), var()}, "100000000000000000000"},
      {"truncate(1.0e10) beyond 32 bits", unary(MONOP_TRUNCATE), {f(1.0e10), var()}, "10000000000"},
      {"float(3)", unary(MONOP_FLOAT), {i(3), var()}, "3.0"},
      {"float of a bignum", unary(MONOP_FLOAT), {i(4294967296LL), var()}, "4294967296.0"},
      {"float_integer_part(-2.5)", unary(MONOP_FLOAT_INTEGER_PART), {f(-2.5), var()}, "-2.0"},
      {"float_fractional_part(-2.5)", unary(MONOP_FLOAT_FRACTIONAL_PART), {f(-2.5), var()}, "-0.5"},
      {"float_integer_part(3)", unary(MONOP_FLOAT_INTEGER_PART), {i(3), var()}, "error(2049,3)"},
      // Mixed integers and floats.
      {"max(1, 2.0)", binary(BINOP_MAXIMUM), {i(1), f(2.0), var()}, "2.0"},
      {"max(3, 2.0) is a float", binary(BINOP_MAXIMUM), {i(3), f(2.0), var()}, "3.0"},
      {"min(1, 2.0) is a float", binary(BINOP_MINIMUM), {i(1), f(2.0), var()}, "1.0"},
      {"max of integers", binary(BINOP_MAXIMUM), {i(-3), i(2), var()}, "2"},
      {"min of a bignum", binary(BINOP_MINIMUM), {i(-4294967296LL), i(2), var()}, "-4294967296"},
      {"sign(-0.0)", unary(MONOP_SIGN), {f(-0.0), var()}, "0.0"},
      {"sign(-5.0)", unary(MONOP_SIGN), {f(-5.0), var()}, "-1.0"},
      {"sign(-5)", unary(MONOP_SIGN), {i(-5), var()}, "-1"},
      {"sign of a bignum", unary(MONOP_SIGN), {i(4294967296LL), var()}, "1"},
      {"1 + 2.5", binary(BINOP_ADD), {i(1), f(2.5), var()}, "3.5"},
      {"\\ 5", unary(MONOP_COMPLEMENT), {i(5), var()}, "-6"},
      {"\\ 2.0", unary(MONOP_COMPLEMENT), {f(2.0), var()}, "error(1025,2.0)"},
      {"xor of a bignum", binary(BINOP_XOR), {i(4294967296LL), i(1), var()}, "4294967297"},
      {"bitwise and", binary(BINOP_AND), {i(12), i(10), var()}, "8"},
      {"bitwise or", binary(BINOP_OR), {i(12), i(10), var()}, "14"},
      // Float functions and their errors.
      {"2 ** 3 is a float", binary(BINOP_POWER), {i(2), i(3), var()}, "8.0"},
      {"exp(2, 3)", binary(BINOP_EXP), {i(2), i(3), var()}, "8.0"},
      {"(-8) ** 3.0", binary(BINOP_POWER), {i(-8), f(3.0), var()}, "-512.0"},
      {"0 ** -1", binary(BINOP_POWER), {i(0), i(-1), var()}, "error(519,-1.0)"},
      {"(-8) ** (1/3)", binary(BINOP_POWER), {i(-8), f(1.0 / 3), var()}, "error(4610,-8)"},
      {"log(0)", unary(MONOP_LOG), {i(0), var()}, "error(519,0.0)"},
      {"log(-1)", unary(MONOP_LOG), {i(-1), var()}, "error(4610,-1.0)"},
      {"log(0, 8)", binary(BINOP_LOG), {i(0), i(8), var()}, "error(4354,0.0)"},
      {"sqrt(-1.0)", unary(MONOP_SQRT), {f(-1.0), var()}, "error(4610,-1.0)"},
      {"sqrt(16)", unary(MONOP_SQRT), {i(16), var()}, "4.0"},
      {"asin(2)", unary(MONOP_ASIN), {i(2), var()}, "error(3586,2.0)"},
      {"acosh(0.5)", unary(MONOP_ACOSH), {f(0.5), var()}, "error(4098,0.5)"},
      {"acoth(0.5)", unary(MONOP_ACOTH), {f(0.5), var()}, "error(3842,0.5)"},
      {"atanh(-1) is -inf, which cannot be stored", unary(MONOP_ATANH), {i(-1), var()}, "error(263,inf)"},
      // Non-finite results exist only inside a sequence.
      {"1.0e308 * 10 overflows when stored", binary(BINOP_MULTIPLY), {f(big_float), i(10), var()},
       "error(263,inf)"},
      {"inf * 0 is not a number", [](code_builder &b) {
         b.emit(FIRST_X_VALUE, {cb::x(0)});
         b.emit(BINOP_MULTIPLY_IMM, {cb::l(10)});
         b.emit(BINOP_MULTIPLY_IMM, {cb::l(0)});
         b.emit(STORE_X_VALUE, {cb::x(1)});
         b.emit(PROCEED);
       },
       {f(big_float), var()}, "error(1031,nan)"},
      {"truncate(inf)", [](code_builder &b) {
         b.emit(FIRST_X_VALUE, {cb::x(0)});
         b.emit(BINOP_MULTIPLY_IMM, {cb::l(10)});
         b.emit(MONOP_TRUNCATE);
         b.emit(STORE_X_VALUE, {cb::x(1)});
         b.emit(PROCEED);
       },
       {f(big_float), var()}, "error(771,+inf)"},
      // Constant and immediate forms.
      {"constants: 7 - 10", constants(7, BINOP_SUBTRACT, 10), {var()}, "-3"},
      {"constants beyond the small range", constants(MAX, BINOP_ADD, 1), {var()}, "2147483648"},
      {"immediate add", immediate(BINOP_ADD_IMM, -5), {i(3), var()}, "-2"},
      {"immediate add to a bignum", immediate(BINOP_ADD_IMM, 1), {i(4294967295LL), var()}, "4294967296"},
      {"immediate multiply overflow", immediate(BINOP_MULTIPLY_IMM, 65536), {i(65536), var()}, "4294967296"},
      {"immediate // -1", immediate(BINOP_IDIVIDE_IMM, -1), {i(MIN), var()}, "2147483648"},
      {"immediate mod", immediate(BINOP_MODULUS_IMM, 3), {i(-7), var()}, "2"},
      {"immediate rem", immediate(BINOP_REMAINDER_IMM, 3), {i(-7), var()}, "-1"},
      {"immediate xor", immediate(BINOP_XOR_IMM, 3), {i(5), var()}, "6"},
      {"immediate and", immediate(BINOP_AND_IMM, 3), {i(5), var()}, "1"},
      {"immediate or", immediate(BINOP_OR_IMM, 3), {i(5), var()}, "7"},
      {"immediate subtract", immediate(BINOP_SUBTRACT_IMM, 1), {i(MIN), var()}, "-2147483649"},
  };
  for (const arith_case &c : cases) {
    definition *d = clause_of(static_cast<int>(c.args.size()), c.code);
    EXPECT_EQ(outcome(d, c.args), c.expected) << c.what;
  }
}

}  // namespace

namespace {

// X0 rel X1: 1 when it holds, 0 through the else address.  pad puts a
// one-halfword instruction (a neck cut, harmless in a single clause) in
// front, so that operand parity, and with it plain or Q form, changes.
emitter relation(int insn, bool pad, bool immediate_form = false, std::int32_t imm = 0)
{
  return [=](code_builder &b) {
    cb_label otherwise = b.new_label();
    if (pad)
      b.emit(CUTB);
    b.emit(FIRST_X_VALUE, {cb::x(0)});
    if (!immediate_form)
      b.emit(LATER_X_VALUE, {cb::x(1)});
    if (immediate_form)
      b.emit(insn, {cb::l(imm), cb::else_to(otherwise)});
    else
      b.emit(insn, {cb::else_to(otherwise)});
    b.emit(FIRST_CONSTANT, {cb::l(1)});
    b.emit(STORE_X_VALUE, {cb::x(2)});
    b.emit(PROCEED);
    b.bind(otherwise);
    b.emit(FIRST_CONSTANT, {cb::l(0)});
    b.emit(STORE_X_VALUE, {cb::x(2)});
    b.emit(PROCEED);
  };
}

TEST_F(WamArith, ComparisonTable)
{
  const double nan_source = 1.0e308;
  struct rel_case {
    const char *what;
    int insn;
    TAGGED a, b;
    const char *expected;
  } cases[] = {
      {"1 < 2", LESS_THAN, i(1), i(2), "1"},
      {"2 < 1", LESS_THAN, i(2), i(1), "0"},
      {"-2^31 < 2^31 - 1 (signed)", LESS_THAN, i(INT32_MIN), i(INT32_MAX), "1"},
      {"3 =< 3", NOT_GREATER_THAN, i(3), i(3), "1"},
      {"3 >= 4", NOT_LESS_THAN, i(3), i(4), "0"},
      {"3 > -3", GREATER_THAN, i(3), i(-3), "1"},
      {"5 =:= 5", EQUAL_TO, i(5), i(5), "1"},
      {"5 =\\= 5", NOT_EQUAL_TO, i(5), i(5), "0"},
      {"1.0 =:= 1 compares values", EQUAL_TO, f(1.0), i(1), "1"},
      {"1 =:= 1.0", EQUAL_TO, i(1), f(1.0), "1"},
      {"2^32 > 5", GREATER_THAN, i(4294967296LL), i(5), "1"},
      {"-2^32 < 5", LESS_THAN, i(-4294967296LL), i(5), "1"},
      {"5 < 2^32", LESS_THAN, i(5), i(4294967296LL), "1"},
      {"2^32 < 2^33", LESS_THAN, i(4294967296LL), i(8589934592LL), "1"},
      {"2^32 =:= 2^32", EQUAL_TO, i(4294967296LL), i(4294967296LL), "1"},
      {"2^32 =:= 2^32 + 1.0 (as floats)", EQUAL_TO, i(4294967296LL), f(4294967297.0), "0"},
      {"2.5 >= 2", NOT_LESS_THAN, f(2.5), i(2), "1"},
  };
  for (bool pad : {false, true}) {
    for (const rel_case &c : cases) {
      definition *d = clause_of(4, relation(c.insn, pad));
      EXPECT_EQ(outcome(d, {c.a, c.b, var(), atom_nil}, false) == "true" ? term_to_text(x(2)) : "no",
                c.expected)
          << c.what << (pad ? " (other operand alignment)" : "");
    }
  }

  // A NaN (1.0e308 * 10 * 0, never stored) against 0: only =\= holds.
  struct nan_case {
    int insn;
    const char *expected;
  } nan_cases[] = {{EQUAL_TO_IMM, "0"}, {NOT_EQUAL_TO_IMM, "1"}, {LESS_THAN_IMM, "0"},
                   {GREATER_THAN_IMM, "0"}, {NOT_GREATER_THAN_IMM, "0"}, {NOT_LESS_THAN_IMM, "0"}};
  for (const nan_case &c : nan_cases) {
    definition *d = clause_of(3, [&](code_builder &b) {
      cb_label otherwise = b.new_label();
      b.emit(FIRST_X_VALUE, {cb::x(0)});
      b.emit(BINOP_MULTIPLY_IMM, {cb::l(10)});
      b.emit(BINOP_MULTIPLY_IMM, {cb::l(0)});
      b.emit(c.insn, {cb::l(0), cb::else_to(otherwise)});
      b.emit(FIRST_CONSTANT, {cb::l(1)});
      b.emit(STORE_X_VALUE, {cb::x(1)});
      b.emit(PROCEED);
      b.bind(otherwise);
      b.emit(FIRST_CONSTANT, {cb::l(0)});
      b.emit(STORE_X_VALUE, {cb::x(1)});
      b.emit(PROCEED);
    });
    EXPECT_EQ(outcome(d, {f(nan_source), var(), atom_nil}, false) == "true" ? term_to_text(x(1)) : "no",
              c.expected)
        << insnname[c.insn] << " with a NaN";
  }
  // ... while 1.0e308 * 10 (infinite) > 0 holds.
  definition *inf_positive = clause_of(3, relation(GREATER_THAN_IMM, false, true, 0));
  EXPECT_EQ(outcome(inf_positive, {f(nan_source * 10), atom_nil, var()}), "1");

  // Immediate forms in the integer state, on both sides of the limit.
  struct imm_case {
    int insn;
    TAGGED a;
    std::int32_t imm;
    const char *expected;
  } imm_cases[] = {{LESS_THAN_IMM, i(-5), -4, "1"},         {LESS_THAN_IMM, i(INT32_MAX), INT32_MIN, "0"},
                   {EQUAL_TO_IMM, i(INT32_MIN), INT32_MIN, "1"}, {NOT_EQUAL_TO_IMM, i(7), 7, "0"},
                   {GREATER_THAN_IMM, i(4294967296LL), INT32_MAX, "1"}, {NOT_GREATER_THAN_IMM, f(0.5), 0, "0"},
                   {NOT_LESS_THAN_IMM, i(0), 0, "1"}};
  for (bool pad : {false, true}) {
    for (const imm_case &c : imm_cases) {
      definition *d = clause_of(3, relation(c.insn, pad, true, c.imm));
      EXPECT_EQ(outcome(d, {c.a, atom_nil, var()}), c.expected)
          << term_to_text(c.a) << " " << insnname[c.insn] << " " << c.imm;
    }
  }
}

// The forms with an operand in the code, each with both alignments so
// that the plain and the Q form run.  Stores that match compare
// representations: an integer never matches a float, and a 32-bit result
// never matches a two-digit integer.
TEST_F(WamArith, ConstantLargeAndStoreForms)
{
  struct form_case {
    const char *what;
    std::function<void(code_builder &)> body;  // leaves a result in the sequence
    std::function<void(code_builder &)> store; // ends it
    TAGGED arg;                                // X0
    const char *expected;                      // X1 text, "fail" or an error
  };
  auto first_large = [](cb_operand op) {
    return [op](code_builder &b) { b.emit(FIRST_LARGE, {op}); };
  };
  auto plus_large = [](cb_operand op) {
    return [op](code_builder &b) {
      b.emit(FIRST_X_VALUE, {cb::x(0)});
      b.emit(LATER_LARGE, {op});
      b.emit(BINOP_ADD);
    };
  };
  auto store_x1 = [](code_builder &b) { b.emit(STORE_X_VALUE, {cb::x(1)}); };
  auto store_constant = [](std::int32_t c) {
    return [c](code_builder &b) { b.emit(STORE_CONSTANT, {cb::l(c)}); };
  };
  auto store_large = [](cb_operand op) {
    return [op](code_builder &b) { b.emit(STORE_LARGE, {op}); };
  };
  auto load_x0 = [](code_builder &b) { b.emit(FIRST_X_VALUE, {cb::x(0)}); };
  std::vector<form_case> cases = {
      {"a one-digit large is integer state", first_large(cb::large_int(2147483647)), store_x1, 0, "2147483647"},
      {"a two-digit large", first_large(cb::large_int(1LL << 40)), store_x1, 0, "1099511627776"},
      {"a float large", first_large(cb::large_float(2.5)), store_x1, 0, "2.5"},
      {"small + one-digit large", plus_large(cb::large_int(INT32_MAX)), store_x1, i(-1), "2147483646"},
      {"small + two-digit large", plus_large(cb::large_int(1LL << 40)), store_x1, i(1), "1099511627777"},
      {"float + float large", plus_large(cb::large_float(0.5)), store_x1, f(1.0), "1.5"},
      {"bignum + one-digit large", plus_large(cb::large_int(-1)), store_x1, i(1LL << 40), "1099511627775"},
      {"STORE_CONSTANT matches", load_x0, store_constant(-7), i(-7), "true"},
      {"STORE_CONSTANT beyond the small range", load_x0, store_constant(INT32_MIN), i(INT32_MIN), "true"},
      {"STORE_CONSTANT mismatch", load_x0, store_constant(7), i(8), "fail"},
      {"float 1.0 never matches the constant 1", load_x0, store_constant(1), f(1.0), "fail"},
      {"general one-digit result matches a constant",
       [](code_builder &b) {
         b.emit(FIRST_X_VALUE, {cb::x(0)});
         b.emit(BINOP_SUBTRACT_IMM, {cb::l(1)});
       },
       store_constant(INT32_MAX), i(2147483648LL), "true"},
      {"STORE_LARGE one-digit match", load_x0, store_large(cb::large_int(INT32_MIN)), i(INT32_MIN), "true"},
      {"STORE_LARGE of a float against 5", load_x0, store_large(cb::large_float(5.0)), i(5), "fail"},
      {"STORE_LARGE of two digits against 5", load_x0, store_large(cb::large_int(1LL << 40)), i(5), "fail"},
      {"STORE_LARGE two digits match", load_x0, store_large(cb::large_int(1LL << 40)), i(1LL << 40), "true"},
      {"STORE_LARGE float match", load_x0, store_large(cb::large_float(2.5)), f(2.5), "true"},
      {"STORE_LARGE float mismatch", load_x0, store_large(cb::large_float(2.5)), f(2.25), "fail"},
      {"STORE_LARGE bignum of other length", load_x0, store_large(cb::large_int(1LL << 40)), i(1LL << 50),
       "fail"},
  };
  for (bool pad : {false, true}) {
    for (const form_case &c : cases) {
      definition *d = clause_of(2, [&](code_builder &b) {
        if (pad)  // a neck cut: one halfword, harmless in a single clause
          b.emit(CUTB);
        c.body(b);
        c.store(b);
        b.emit(PROCEED);
      });
      std::string expected = c.expected;
      const bool stores = expected != "true" && expected != "fail";
      std::string got = outcome(d, {c.arg == 0 ? atom_nil : c.arg, var()}, stores);
      EXPECT_EQ(got, expected) << c.what << (pad ? " (other alignment)" : "");
    }
  }
}

// A store into a bound register compares representations.
TEST_F(WamArith, StoreValueComparesRepresentations)
{
  definition *sum = clause_of(3, binary(BINOP_ADD));
  EXPECT_EQ(outcome(sum, {i(2), i(3), i(5)}), "5");
  EXPECT_EQ(outcome(sum, {i(2), i(3), i(4294967301LL)}), "fail") << "a two-digit integer never equals 5";
  EXPECT_EQ(outcome(sum, {i(2), i(-1), f(1.0)}), "fail") << "X = 1.0, X is 2 - 1";
  EXPECT_EQ(outcome(sum, {i(INT32_MAX), i(1), i(2147483648LL)}), "2147483648") << "general result, heap box";
  EXPECT_EQ(outcome(sum, {i(268435455), i(1), i(268435456)}), "268435456") << "one-digit heap box";
  EXPECT_EQ(outcome(sum, {f(0.5), f(0.25), f(0.75)}), "0.75");
  EXPECT_EQ(outcome(sum, {f(0.5), f(0.25), f(0.5)}), "fail");
  EXPECT_EQ(outcome(sum, {f(0.5), i(1), atom("a")}), "fail");
}

// Environment variables as operands and targets: Y0 + Y1 into a new Y2,
// Y2 * 2 into an unsafe Y3, then both handed back through X registers.
TEST_F(WamArith, YVariableForms)
{
  definition *d = clause_of(4, [](code_builder &b) {
    b.emit(GET_Y_FIRST_VARIABLE, {cb::x(0), cb::y(0)});
    b.emit(GET_Y_VARIABLE, {cb::x(1), cb::y(1)});
    b.emit(GET_Y_VARIABLE, {cb::x(2), cb::y(4)});
    b.emit(GET_Y_VARIABLE, {cb::x(3), cb::y(5)});
    b.emit(FIRST_Y_VALUE, {cb::y(0)});
    b.emit(LATER_Y_VALUE, {cb::y(1)});
    b.emit(BINOP_ADD);
    b.emit(STORE_Y_VARIABLE, {cb::y(2)});
    b.emit(FIRST_Y_VALUE, {cb::y(2)});
    b.emit(BINOP_MULTIPLY_IMM, {cb::l(2)});
    b.emit(STORE_Y_UNSAFE_VARIABLE, {cb::y(3)});
    b.emit(FIRST_Y_VALUE, {cb::y(2)});
    b.emit(STORE_Y_VALUE, {cb::y(4)});
    b.emit(FIRST_Y_VALUE, {cb::y(3)});
    b.emit(STORE_Y_VALUE, {cb::y(5)});
    b.emit(PROCEED);
  });
  struct y_case {
    TAGGED a, b;
    const char *sum, *twice;
  } cases[] = {{i(2), i(3), "5", "10"},
               {i(INT32_MAX), i(1), "2147483648", "4294967296"},
               {f(1.5), i(1), "2.5", "5.0"},
               {i(1LL << 40), i(-(1LL << 40)), "0", "0"}};
  for (const y_case &c : cases) {
    TAGGED s = var(), t = var();
    ASSERT_EQ(outcome(d, {c.a, c.b, s, t}, false), "true") << term_to_text(c.a) << " + " << term_to_text(c.b);
    EXPECT_EQ(term_to_text(deref(s)), c.sum);
    EXPECT_EQ(term_to_text(deref(t)), c.twice);
  }
}

// STORE_Y_FIRST_VARIABLE allocates the environment at the local top.
TEST_F(WamArith, StoreYFirstVariableAllocates)
{
  definition *d = clause_of(2, [](code_builder &b) {
    b.emit(FIRST_X_VALUE, {cb::x(0)});
    b.emit(BINOP_ADD_IMM, {cb::l(1)});
    b.emit(STORE_Y_FIRST_VARIABLE, {cb::y(0)});
    b.emit(FIRST_Y_VALUE, {cb::y(0)});
    b.emit(STORE_X_VALUE, {cb::x(1)});
    b.emit(PROCEED);
  });
  EXPECT_EQ(outcome(d, {i(41), var()}), "42");
  EXPECT_EQ(outcome(d, {i(INT32_MAX), var()}), "2147483648");
  EXPECT_EQ(outcome(d, {f(0.5), var()}), "1.5");
}

// While every value fits 32 bits a sequence leaves no trace: no number
// stack block taken, no heap word written for a small result.
TEST_F(WamArith, IntegerStateAllocatesNothing)
{
  definition *d = clause_of(3, [](code_builder &b) {
    b.emit(FIRST_X_VALUE, {cb::x(0)});
    b.emit(LATER_X_VALUE, {cb::x(1)});
    b.emit(BINOP_MULTIPLY);
    b.emit(BINOP_ADD_IMM, {cb::l(INT32_MAX)});
    b.emit(BINOP_SUBTRACT_IMM, {cb::l(INT32_MAX)});
    b.emit(BINOP_IDIVIDE_IMM, {cb::l(7)});
    b.emit(MONOP_ABS);
    b.emit(BINOP_GCD);
    b.emit(STORE_X_VALUE, {cb::x(2)});
    b.emit(PROCEED);
  });
  TAGGED a = i(-300), b = i(7), r = var();
  TAGGED *heap_top = w->global_top;
  std::vector<TAGGED> args = {a, b, r};
  args.resize(256);
  w->numstack_end = nullptr;
  ASSERT_EQ(query_open(w, &open_query, d, args.data()), 1);
  EXPECT_EQ(term_to_text(deref(r)), "1") << "gcd(|-2100 // 7|, 7)";
  EXPECT_EQ(w->numstack_end, nullptr) << "the integer state took a number-stack block";
  EXPECT_EQ(w->global_top, heap_top) << "a small result must not be boxed";
  close_query();
}

// An error names the evaluable term with its operands for the error
// predicate: prolog:'$eval'(prolog:(7//0)), culprit 0.  (No operators are
// declared here, so the text is canonical.)
TEST_F(WamArith, ErrorNamesTheEvaluableTerm)
{
  definition *d = clause_of(3, binary(BINOP_IDIVIDE));
  EXPECT_EQ(outcome(d, {i(7), i(0), var()}), "error(770,0)");
  EXPECT_EQ(error_goal, ":(prolog,'$eval'(:(prolog,//(7,0))))");
  definition *big = clause_of(3, binary(BINOP_MODULUS));
  EXPECT_EQ(outcome(big, {i(1LL << 40), i(0), var()}), "error(770,0)");
  EXPECT_EQ(error_goal, ":(prolog,'$eval'(:(prolog,mod(1099511627776,0))))")
      << "a number-stack operand must reach the error term intact";
  definition *store_nan = clause_of(2, [](code_builder &b) {
    b.emit(FIRST_X_VALUE, {cb::x(0)});
    b.emit(BINOP_MULTIPLY_IMM, {cb::l(0)});
    b.emit(STORE_X_VARIABLE, {cb::x(1)});
    b.emit(PROCEED);
  });
  EXPECT_EQ(outcome(store_nan, {f(HUGE_VAL), atom_nil}, false), "error(1031,nan)");
  EXPECT_EQ(error_goal, ":(prolog,'$eval'(nan))");
}

// inf and nan as expressions are domain errors, whatever follows.
TEST_F(WamArith, InfAndNanAreNotExpressions)
{
  for (int insn : {ANOP_INF, ANOP_NAN}) {
    definition *d = clause_of(1, [insn](code_builder &b) {
      b.emit(insn);
      b.emit(BINOP_ADD_IMM, {cb::l(0)});
      b.emit(STORE_X_VALUE, {cb::x(0)});
      b.emit(PROCEED);
    });
    EXPECT_EQ(outcome(d, {var()}), insn == ANOP_INF ? "error(1538,inf)" : "error(1538,nan)");
  }
}

// ANOP_IF loads the cut value of the newest choicepoint.
TEST_F(WamArith, AnopIfIsTheCutValue)
{
  definition *d = clause_of(1, [](code_builder &b) {
    b.emit(ANOP_IF);
    b.emit(STORE_X_VALUE, {cb::x(0)});
    b.emit(PROCEED);
  });
  TAGGED r = var();
  std::vector<TAGGED> args = {r};
  args.resize(256);
  ASSERT_EQ(query_open(w, &open_query, d, args.data()), 1);
  EXPECT_EQ(deref(r), MakeSmall_checked(static_cast<VR_INTEGER>(reinterpret_cast<TAGGED *>(w->node_) - w->choice_start)))
      << "the query's choicepoint is the newest";
  close_query();
}

}  // namespace

namespace {

// An operand that is no number goes to evaluate/4 and the sequence goes
// on with its value: as the first operand (OpNo 1) or the second (OpNo 2,
// after long0 has been made lasting), from either state, more than once
// in one sequence; the argument registers live at the sequence survive.
TEST_F(WamArith, OperandsThatAreNoNumberAreEvaluated)
{
  // p(X, Y, A, B, R) :- R is X + Y * 2, A = B.
  definition *d = clause_of(5, [](code_builder &b) {
    b.emit(FIRST_X_VALUE, {cb::x(1)});
    b.emit(BINOP_MULTIPLY_IMM, {cb::l(2)});
    b.emit(LATER_X_VALUE, {cb::x(0)});
    b.emit(BINOP_SWAP);
    b.emit(BINOP_ADD);
    b.emit(STORE_X_VALUE, {cb::x(4)});
    b.emit(GET_X_VALUE, {cb::x(2), cb::x(3)});
    b.emit(PROCEED);
  });
  struct escape_case {
    const char *what;
    TAGGED x, y;
    const char *result;
    std::vector<std::string> evaluated;
  } cases[] = {
      {"numbers only: no escape", i(1), i(2), "5", {}},
      {"first operand", i(1), atom("ten"), "21", {"ten"}},
      {"second operand from the integer state", atom("ten"), i(3), "16", {"ten"}},
      {"second operand from the general state", atom("ten"), i(1LL << 40), "2199023255562", {"ten"}},
      {"both, the second a heap bignum", atom("big"), atom("ten"), "1099511627796", {"ten", "big"}},
      {"a float", atom("half"), atom("half"), "1.5", {"half", "half"}},
  };
  for (const escape_case &c : cases) {
    evaluations.clear();
    TAGGED a = var(), r = var();
    EXPECT_EQ(outcome(d, {c.x, c.y, a, atom("b"), r}), c.result) << c.what;
    EXPECT_EQ(term_to_text(deref(a)), "b") << c.what << ": X2 and X3 must survive the escape";
    std::vector<std::string> got;
    for (const evaluation &e : evaluations)
      got.push_back(e.expr);
    EXPECT_EQ(got, c.evaluated) << c.what;
  }

  EXPECT_EQ(outcome(d, {i(1), atom("foo"), var(), atom("b"), var()}), "error(1538,foo)");
}

// evaluate/4 gets the sequence's first instruction as Caller and the
// operand's position as OpNo.
TEST_F(WamArith, EscapeNamesTheSequenceAndTheOperand)
{
  code_builder b;
  b.emit(FIRST_X_VALUE, {cb::x(0)});
  b.emit(LATER_X_VALUE, {cb::x(1)});
  b.emit(BINOP_SUBTRACT);
  b.emit(STORE_X_VALUE, {cb::x(2)});
  b.emit(PROCEED);
  definition *d = pred("escape_site", 3);
  emul_info *c = clause(d, b);
  const auto site = static_cast<VR_INTEGER>(reinterpret_cast<std::uintptr_t>(c) + EMUL_INFO_HEADER);

  EXPECT_EQ(outcome(d, {atom("ten"), atom("half"), var()}), "9.5");
  ASSERT_EQ(evaluations.size(), 2u);
  EXPECT_EQ(evaluations[0].opno, MakeSmall_checked(1));
  EXPECT_EQ(evaluations[1].opno, MakeSmall_checked(2));
  for (const evaluation &e : evaluations)
    EXPECT_EQ(e.caller, site) << "Caller is the address of the sequence's first instruction";
}

// A general result that finds the heap short is stored after the heap has
// grown: the sequence runs again from its first instruction.
TEST_F(WamArith, StoreRestartsAfterTheHeapGrows)
{
  definition *d = clause_of(2, [](code_builder &b) {
    b.emit(FIRST_X_VALUE, {cb::x(0)});
    b.emit(LATER_X_VALUE, {cb::x(0)});
    b.emit(BINOP_MULTIPLY);
    b.emit(STORE_X_VALUE, {cb::x(1)});
    b.emit(PROCEED);
  });
  TAGGED x = big({0, 0, 0, 16});  // 2^100; the square takes 8 words
  TAGGED r = var();
  // Garbage up to 1160 words below the local stack: above the heap's
  // warning limit, below what a copy of 8 words needs (8 + 1153).
  while (w->stack_start - w->global_top > 1160)
    *w->global_top++ = MakeSmall_checked(0);
  ASSERT_EQ(w->stack_start - w->global_top, 1160);
  std::vector<TAGGED> args = {x, r};
  args.resize(256);
  ASSERT_EQ(query_open(w, &open_query, d, args.data()), 1);
  EXPECT_EQ(term_to_text(deref(w->term[1])), "1606938044258990275541962092341162602522202993782792835301376");
  EXPECT_GE(w->stack_start - w->global_top, 1153) << "the heap was not grown";
  close_query();
}

}  // namespace
