/* eval_functions.cpp: the evaluable functions on number terms, the numeric
 * comparisons and the standard-order comparison (see eval_functions.h).
 *
 * Every function first decides whether it works on floats: +, -, *, max
 * and min when either operand is a float, the float-only functions
 * (/, trigonometry, logarithms, powers) always.  Integer work of any size
 * goes through bn_call; a routine's error word carries the error type in
 * its low 16 bits.  An error is reported against the evaluable term with
 * its actual operands: they are first copied to the heap, so that the
 * error term can still name them once the number stack is reused.
 *
 * Error types (subtype * 256 + class) and the error terms the runtime
 * library makes of them are listed at their constants below.
 */
#include "eval_functions.h"

#include <cmath>
#include <cstdint>
#include <cstring>

#include "bignum.h"
#include "errors.h"
#include "initial_atoms.h"
#include "numstack.h"
#include "stack_growth.h"
#include "term_order.h"
#include "terms.h"
#include "worker.h"

namespace {

constexpr int ERR_FLOAT_OVERFLOW = 263;      /* evaluation_error(float_overflow) */
constexpr int ERR_UNDEFINED = 519;           /* evaluation_error(undefined) */
constexpr int ERR_ZERO_DIVISOR = 770;        /* domain_error(=\=(0)) */
constexpr int ERR_NOT_FINITE = 771;          /* representation_error(nan_or_inf_to_integer) */
constexpr int ERR_NOT_INTEGER = 1025;        /* type_error(integer) */
constexpr int ERR_TOO_LONG = 1027;           /* representation_error(max_integer) */
constexpr int ERR_EXPRESSION = 1538;         /* domain_error(expression) */
constexpr int ERR_NOT_FLOAT = 2049;          /* type_error(float) */
constexpr int ERR_BETWEEN_1 = 3586;          /* domain_error(between(-1.0, 1.0)) */
constexpr int ERR_ABS_GE_1 = 3842;           /* domain_error(abs_ge(1.0)) */
constexpr int ERR_GE_1 = 4098;               /* domain_error(ge(1.0)) */
constexpr int ERR_GT_0 = 4354;               /* domain_error(gt(0.0)) */
constexpr int ERR_GE_0 = 4610;               /* domain_error(ge(0.0)) */
static_assert(ERR_NOT_FINITE == BN_ERR_NOT_FINITE && ERR_TOO_LONG == BN_ERR_TOO_LONG &&
              ERR_ZERO_DIVISOR == BN_ERR_ZERO_DIVISOR);
static_assert(ERR_FLOAT_OVERFLOW == 7 + 256 * 1 && ERR_EXPRESSION == 2 + 256 * 6);

/* One unit in the last place above the double nearest to pi: acot and
   acot2 have always used this value, and their results depend on it. */
const double acot_pi = [] {
  const std::uint64_t bits = 0x400921FB54442D19ull;
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}();

/* ---- Operands ---- */

inline bool is_float(TAGGED t) { return IsStructure(t) && BoxIsFloat(*TagToSTR(t)); }

inline double float_value(TAGGED t)
{
  double d;
  std::memcpy(&d, TagToSTR(t) + 1, sizeof d);
  return d;
}

/* t as a double: exact for a small integer and for a float, the
   conversion of vri_get_float for a boxed integer.  False for an integer
   beyond the double range (about 2^1024 and more in magnitude):
   vri_get_float has then recorded float_overflow, which the caller
   raises. */
inline bool to_double(TAGGED t, double *d)
{
  if (IsSmall(t)) {
    *d = static_cast<double>(GetSmall(t));
    return true;
  }
  if (is_float(t)) {
    *d = float_value(t);
    return true;
  }
  *d = vri_get_float(t);
  return !std::isnan(*d);
}

inline bool is_box_on_heap(const worker *w, TAGGED t)
{
  const TAGGED *p = TagToSTR(t);
  return IsStructure(t) && p >= w->heap_start && p < w->stack_start;
}

/* An integer term with a one-digit box of a small value replaced by the
   small integer; the emulator hands such boxes in its general state. */
inline TAGGED normal_int(TAGGED t)
{
  if (IsStructure(t) && *TagToSTR(t) == BOX_INT1) {
    const auto v = static_cast<VR_INTEGER>(TagToSTR(t)[1]);
    if (IntIsSmall(v))
      return MakeSmall_checked(v);
  }
  return t;
}

/* -1, 0 or 1 by the sign of an integer term.  Boxes lie outside the
   small range except the emulator's one-digit temporaries, whose digit is
   the whole value. */
inline int int_sign(TAGGED t)
{
  t = normal_int(t);
  if (IsSmall(t)) {
    const VR_INTEGER v = GetSmall(t);
    return (v > 0) - (v < 0);
  }
  const TAGGED *p = TagToSTR(t);
  if (p[0] == BOX_INT1)
    return (static_cast<VR_INTEGER>(p[1]) > 0) - (static_cast<VR_INTEGER>(p[1]) < 0);
  return bn_positive(p) ? 1 : -1;
}

/* ---- Errors ---- */

enum culprit_pos { CULPRIT_T, CULPRIT_U };

/* Saves type with the globalised operand at `pos` as culprit and raises it
   for prolog:$eval(prolog:name(operands)).  One-operand functions pass
   their operand as u. */
TAGGED func_error(worker *w, int type, culprit_pos pos, const char *name, int arity, TAGGED t, TAGGED u)
{
  if (arity == 1) {
    globalize_numbers(w, MakeSmall_checked(0), u, &u, &u);
    save_error(type, "", u);
    w->term[0] = u;
  } else {
    globalize_numbers(w, t, u, &t, &u);
    save_error(type, "", pos == CULPRIT_T ? t : u);
    w->term[0] = t;
    w->term[1] = u;
  }
  raise_func_error(name, arity);
  return 0;
}

inline TAGGED error1(worker *w, int type, const char *name, TAGGED t)
{
  return func_error(w, type, CULPRIT_U, name, 1, 0, t);
}

/* The operands of a float operation as doubles.  An integer too large for
   a double raises evaluation_error(float_overflow) against the function
   and gives false; the function then returns 0. */
bool float_operand(worker *w, TAGGED t, const char *name, double *x)
{
  if (to_double(t, x))
    return true;
  error1(w, ERR_FLOAT_OVERFLOW, name, t);
  return false;
}

bool float_operands(worker *w, TAGGED t, TAGGED u, const char *name, double *x, double *y)
{
  if (!to_double(t, x)) {
    func_error(w, ERR_FLOAT_OVERFLOW, CULPRIT_T, name, 2, t, u);
    return false;
  }
  if (!to_double(u, y)) {
    func_error(w, ERR_FLOAT_OVERFLOW, CULPRIT_U, name, 2, t, u);
    return false;
  }
  return true;
}

/* A bignum routine on t and u; a failure is reported with the type from
   the low half of the error word and the operand at `pos` as culprit. */
TAGGED bn2(worker *w, bn_routine f, TAGGED t, TAGGED u, culprit_pos pos, const char *name)
{
  int error = 0;
  const TAGGED r = bn_call(w, f, t, u, &error);
  if (r != 0)
    return r;
  return func_error(w, -error & 0xFFFF, pos, name, 2, t, u);
}

TAGGED bn1(worker *w, bn_routine f, TAGGED t, const char *name)
{
  int error = 0;
  const TAGGED r = bn_call(w, f, t, 0, &error);
  if (r != 0)
    return r;
  return error1(w, -error & 0xFFFF, name, t);
}

/* Integer-only operations refuse a float, naming the first float. */
inline bool reject_floats(worker *w, TAGGED t, TAGGED u, const char *name, TAGGED *result)
{
  if (is_float(t)) {
    *result = func_error(w, ERR_NOT_INTEGER, CULPRIT_T, name, 2, t, u);
    return true;
  }
  if (is_float(u)) {
    *result = func_error(w, ERR_NOT_INTEGER, CULPRIT_U, name, 2, t, u);
    return true;
  }
  return false;
}

/* An operation on integers only: floats are refused, then the bignum
   routine does the work (its errors name the right operand). */
TAGGED integer_op2(worker *w, bn_routine f, TAGGED t, TAGGED u, const char *name)
{
  TAGGED r;
  if (reject_floats(w, t, u, name, &r))
    return r;
  return bn2(w, f, t, u, CULPRIT_U, name);
}

/* ---- Float to integer ---- */

/* An integral double as an integer term: small when it fits, else a
   bignum made from the float. */
TAGGED integral_to_int(worker *w, double d, const char *name)
{
  if (d >= static_cast<double>(SMALL_MIN) && d < static_cast<double>(SMALL_MAX) + 1.0)
    return MakeSmall_checked(static_cast<VR_INTEGER>(d));
  return bn1(w, bn_from_float, make_temp_float(w, d), name);
}

enum class rounding { round, truncate, floor, ceiling };

TAGGED float_to_int(worker *w, TAGGED t, rounding how, const char *name)
{
  if (!is_float(t))
    return error1(w, ERR_NOT_FLOAT, name, t);
  const double x = float_value(t);
  if (!std::isfinite(x))
    return error1(w, ERR_NOT_FINITE, name, t);
  double d = 0;
  switch (how) {
  case rounding::round: {
    /* Halves go up: round(2.5) = 3, round(-2.5) = -2. */
    const double f = std::floor(x);
    d = x - f < 0.5 ? f : std::ceil(x);
    break;
  }
  case rounding::truncate:
    d = x < 0 ? std::ceil(x) : std::floor(x);
    break;
  case rounding::floor:
    d = std::floor(x);
    break;
  case rounding::ceiling:
    d = std::ceil(x);
    break;
  }
  return integral_to_int(w, d, name);
}

inline double integer_part(double x) { return x < 0 ? -std::floor(-x) : std::floor(x); }

/* ---- Float-only functions of one operand ---- */

inline TAGGED float1(worker *w, double (*f)(double), TAGGED t, const char *name)
{
  double x;
  if (!float_operand(w, t, name, &x))
    return 0;
  return make_temp_float(w, f(x));
}

/* ---- Numeric comparison ---- */

enum order { LESS = -1, EQUAL = 0, GREATER = 1, UNORDERED = 2 };

inline order order_of(int c) { return c < 0 ? LESS : c > 0 ? GREATER : EQUAL; }

/* Integer comparison (max, min, integers against floats), exact also for
   the emulator's one-digit temporaries of small values. */
int compare_ints(worker *w, TAGGED t, TAGGED u)
{
  if (IsSmall(t) && IsSmall(u))
    return (GetSmall(t) > GetSmall(u)) - (GetSmall(t) < GetSmall(u));
  if (IsSmall(t))
    t = make_temp_long(w, GetSmall(t));
  if (IsSmall(u))
    u = make_temp_long(w, GetSmall(u));
  return bn_compare(TagToSTR(t), TagToSTR(u));
}

/* An integer i against a float d, exactly: converting i to a double would
   round it (above 2^53) or overflow (from 2^1024 on), and a rounded value
   can make unequal numbers equal or order them the wrong way round.  An
   integer of one digit converts exactly; a longer one is compared with the
   integer part of d, then with its fraction. */
order compare_int_float(worker *w, TAGGED i, double d)
{
  if (std::isnan(d))
    return UNORDERED;
  i = normal_int(i);
  if (IsSmall(i) || *TagToSTR(i) == BOX_INT1) {
    const double x = IsSmall(i) ? static_cast<double>(GetSmall(i))
                                : static_cast<double>(static_cast<VR_INTEGER>(TagToSTR(i)[1]));
    return x < d ? LESS : x > d ? GREATER : EQUAL;
  }
  if (std::isinf(d))
    return d > 0 ? LESS : GREATER;
  const double whole = std::trunc(d);
  /* The integer part of a finite float always converts. */
  int error = 0;
  const TAGGED k = bn_call(w, bn_from_float, make_temp_float(w, whole), 0, &error);
  const int c = compare_ints(w, i, k);
  if (c != 0)
    return order_of(c);
  return d > whole ? LESS : d < whole ? GREATER : EQUAL;
}

order compare_numbers(worker *w, TAGGED t, TAGGED u)
{
  if (IsSmall(t) && IsSmall(u)) {
    const VR_INTEGER a = GetSmall(t), b = GetSmall(u);
    return a < b ? LESS : a > b ? GREATER : EQUAL;
  }
  const bool ft = is_float(t), fu = is_float(u);
  if (ft && fu) {
    const double x = float_value(t), y = float_value(u);
    if (x < y)
      return LESS;
    if (x > y)
      return GREATER;
    if (x == y)
      return EQUAL;
    return UNORDERED;
  }
  if (fu)
    return compare_int_float(w, t, float_value(u));
  if (ft) {
    const order o = compare_int_float(w, u, float_value(t));
    return o == UNORDERED ? o : static_cast<order>(-o);
  }
  /* A heap box never holds a small value, so against a small integer only
     its sign counts (and they are never equal). */
  if (IsSmall(t))
    return bn_positive(TagToSTR(u)) ? LESS : GREATER;
  if (IsSmall(u))
    return bn_positive(TagToSTR(t)) ? GREATER : LESS;
  return order_of(bn_compare(TagToSTR(t), TagToSTR(u)));
}

/* |t| of an integer term. */
TAGGED int_abs(worker *w, TAGGED t, const char *name)
{
  t = normal_int(t);
  if (int_sign(t) >= 0)
    return t;
  if (IsSmall(t) && GetSmall(t) != SMALL_MIN)
    return MakeSmall_checked(-GetSmall(t));
  return bn1(w, bn_minus, t, name);
}

TAGGED shift(worker *w, TAGGED t, TAGGED u, bool left, const char *name)
{
  TAGGED r;
  if (reject_floats(w, t, u, name, &r))
    return r;
  VR_INTEGER count;
  if (IsSmall(u))
    count = GetSmall(u);
  else if (*TagToSTR(u) == BOX_INT1)
    count = static_cast<VR_INTEGER>(TagToSTR(u)[1]);
  else
    return func_error(w, ERR_TOO_LONG, CULPRIT_U, name, 2, t, u);
  if (count == 0)
    return t;
  TAGGED boxed_count;
  if (count > 0) {
    boxed_count = make_temp_long(w, count);
  } else {
    left = !left;
    /* -(-2^31) has no one-digit form; as a two-digit count it makes a
       left shift overflow and a right shift give the sign, as it should. */
    boxed_count = count == INT32_MIN ? make_temp_ulong(w, 0x80000000u) : make_temp_long(w, -count);
  }
  return bn2(w, left ? bn_lshift : bn_rshift, t, boxed_count, CULPRIT_T, name);
}

} // namespace

/* ---- inf, nan ---- */

static TAGGED raise_not_expression(worker *w, TAGGED culprit)
{
  w->term[0] = culprit;
  save_error(ERR_EXPRESSION, "", culprit);
  raise_error("prolog", "$eval", 1, 1);
  return 0;
}

TAGGED fu0_inf(worker *w) { return raise_not_expression(w, MakeAtom(atom_inf_enum)); }
TAGGED fu0_nan(worker *w) { return raise_not_expression(w, MakeAtom(atom_nan_enum)); }

/* ---- One operand ---- */

TAGGED fu1_minus(worker *w, TAGGED t)
{
  if (is_float(t))
    return make_temp_float(w, -float_value(t));
  return bn1(w, bn_minus, t, "-");
}

TAGGED fu1_integer(worker *w, TAGGED t)
{
  if (!is_float(t))
    return t;
  const double x = float_value(t);
  if (!std::isfinite(x))
    return error1(w, ERR_NOT_FINITE, "integer", t);
  return integral_to_int(w, std::trunc(x), "integer");
}

TAGGED fu1_float(worker *w, TAGGED t)
{
  if (is_float(t))
    return t;
  double x;
  if (!float_operand(w, t, "float", &x))
    return 0;
  return make_temp_float(w, x);
}

TAGGED fu1_complement(worker *w, TAGGED t)
{
  if (is_float(t))
    return error1(w, ERR_NOT_INTEGER, "\\", t);
  return bn1(w, bn_not, t, "\\");
}

TAGGED fu1_abs(worker *w, TAGGED t)
{
  if (is_float(t))
    return make_temp_float(w, std::fabs(float_value(t)));
  if (int_sign(t) >= 0)
    return t;
  return bn1(w, bn_minus, t, "abs");
}

TAGGED fu1_sign(worker *w, TAGGED t)
{
  if (is_float(t)) {
    const double x = float_value(t);
    return make_temp_float(w, x > 0 ? 1.0 : x < 0 ? -1.0 : 0.0);
  }
  return MakeSmall_checked(int_sign(t));
}

TAGGED fu1_msb(worker *w, TAGGED t)
{
  if (is_float(t))
    return error1(w, ERR_NOT_INTEGER, "msb", t);
  return bn1(w, bn_msb, t, "msb");
}

TAGGED fu1_round(worker *w, TAGGED t) { return float_to_int(w, t, rounding::round, "round"); }
TAGGED fu1_truncate(worker *w, TAGGED t) { return float_to_int(w, t, rounding::truncate, "truncate"); }
TAGGED fu1_floor(worker *w, TAGGED t) { return float_to_int(w, t, rounding::floor, "floor"); }
TAGGED fu1_ceiling(worker *w, TAGGED t) { return float_to_int(w, t, rounding::ceiling, "ceiling"); }

TAGGED fu1_float_integer_part(worker *w, TAGGED t)
{
  if (!is_float(t))
    return error1(w, ERR_NOT_FLOAT, "float_integer_part", t);
  return make_temp_float(w, integer_part(float_value(t)));
}

TAGGED fu1_float_fractional_part(worker *w, TAGGED t)
{
  if (!is_float(t))
    return error1(w, ERR_NOT_FLOAT, "float_fractional_part", t);
  const double x = float_value(t);
  return make_temp_float(w, x - integer_part(x));
}

TAGGED fu1_sin(worker *w, TAGGED t) { return float1(w, std::sin, t, "sin"); }
TAGGED fu1_cos(worker *w, TAGGED t) { return float1(w, std::cos, t, "cos"); }
TAGGED fu1_tan(worker *w, TAGGED t) { return float1(w, std::tan, t, "tan"); }
TAGGED fu1_sinh(worker *w, TAGGED t) { return float1(w, std::sinh, t, "sinh"); }
TAGGED fu1_cosh(worker *w, TAGGED t) { return float1(w, std::cosh, t, "cosh"); }
TAGGED fu1_tanh(worker *w, TAGGED t) { return float1(w, std::tanh, t, "tanh"); }
TAGGED fu1_atan(worker *w, TAGGED t) { return float1(w, std::atan, t, "atan"); }
TAGGED fu1_exp(worker *w, TAGGED t) { return float1(w, std::exp, t, "exp"); }

TAGGED fu1_cot(worker *w, TAGGED t)
{
  double x;
  if (!float_operand(w, t, "cot", &x))
    return 0;
  return make_temp_float(w, std::cos(x) / std::sin(x));
}

TAGGED fu1_coth(worker *w, TAGGED t)
{
  double x;
  if (!float_operand(w, t, "coth", &x))
    return 0;
  const double e = std::exp(2 * x);
  return make_temp_float(w, (e + 1) / (e - 1));
}

/* Values in (0, pi), continuous through 0. */
TAGGED fu1_acot(worker *w, TAGGED t)
{
  double x;
  if (!float_operand(w, t, "acot", &x))
    return 0;
  const double c = std::sqrt(x * x + 1);
  return make_temp_float(w, x < 0 ? std::asin(-1 / c) + acot_pi : std::asin(1 / c));
}

TAGGED fu1_asin(worker *w, TAGGED t)
{
  double x;
  if (!float_operand(w, t, "asin", &x))
    return 0;
  if (x < -1 || x > 1)
    return error1(w, ERR_BETWEEN_1, "asin", t);
  return make_temp_float(w, std::asin(x));
}

TAGGED fu1_acos(worker *w, TAGGED t)
{
  double x;
  if (!float_operand(w, t, "acos", &x))
    return 0;
  if (x < -1 || x > 1)
    return error1(w, ERR_BETWEEN_1, "acos", t);
  return make_temp_float(w, std::acos(x));
}

TAGGED fu1_asinh(worker *w, TAGGED t)
{
  double x;
  if (!float_operand(w, t, "asinh", &x))
    return 0;
  return make_temp_float(w, std::log(x + std::sqrt(x * x + 1)));
}

TAGGED fu1_acosh(worker *w, TAGGED t)
{
  double x;
  if (!float_operand(w, t, "acosh", &x))
    return 0;
  if (x < 1)
    return error1(w, ERR_GE_1, "acosh", t);
  return make_temp_float(w, std::log(x + std::sqrt(x * x - 1)));
}

TAGGED fu1_atanh(worker *w, TAGGED t)
{
  double x;
  if (!float_operand(w, t, "atanh", &x))
    return 0;
  if (x < -1 || x > 1)
    return error1(w, ERR_BETWEEN_1, "atanh", t);
  return make_temp_float(w, x == -1 ? ieee_minus_inf : 0.5 * std::log((x + 1) / (1 - x)));
}

TAGGED fu1_acoth(worker *w, TAGGED t)
{
  double x;
  if (!float_operand(w, t, "acoth", &x))
    return 0;
  if (x > -1 && x < 1)
    return error1(w, ERR_ABS_GE_1, "acoth", t);
  return make_temp_float(w, x == -1 ? ieee_minus_inf : 0.5 * std::log((x + 1) / (x - 1)));
}

TAGGED fu1_sqrt(worker *w, TAGGED t)
{
  double x;
  if (!float_operand(w, t, "sqrt", &x))
    return 0;
  if (x < 0)
    return error1(w, ERR_GE_0, "sqrt", t);
  return make_temp_float(w, std::sqrt(x));
}

TAGGED fu1_log(worker *w, TAGGED t)
{
  double x;
  if (!float_operand(w, t, "log", &x))
    return 0;
  if (x < 0)
    return error1(w, ERR_GE_0, "log", t);
  if (x == 0)
    return error1(w, ERR_UNDEFINED, "log", t);
  return make_temp_float(w, std::log(x));
}

/* ---- Two operands ---- */

TAGGED fu2_add(worker *w, TAGGED t, TAGGED u)
{
  if (is_float(t) || is_float(u)) {
    double x, y;
    if (!float_operands(w, t, u, "+", &x, &y))
      return 0;
    return make_temp_float(w, x + y);
  }
  return bn2(w, bn_add, t, u, CULPRIT_U, "+");
}

TAGGED fu2_subtract(worker *w, TAGGED t, TAGGED u)
{
  if (is_float(t) || is_float(u)) {
    double x, y;
    if (!float_operands(w, t, u, "-", &x, &y))
      return 0;
    return make_temp_float(w, x - y);
  }
  return bn2(w, bn_subtract, t, u, CULPRIT_U, "-");
}

TAGGED fu2_multiply(worker *w, TAGGED t, TAGGED u)
{
  if (is_float(t) || is_float(u)) {
    double x, y;
    if (!float_operands(w, t, u, "*", &x, &y))
      return 0;
    return make_temp_float(w, x * y);
  }
  return bn2(w, bn_multiply, t, u, CULPRIT_U, "*");
}

TAGGED fu2_divide(worker *w, TAGGED t, TAGGED u)
{
  double x, y;
  if (!float_operands(w, t, u, "/", &x, &y))
    return 0;
  if (y == 0)
    return func_error(w, ERR_ZERO_DIVISOR, CULPRIT_U, "/", 2, t, u);
  return make_temp_float(w, x / y);
}

TAGGED fu2_idivide(worker *w, TAGGED t, TAGGED u)
{
  return integer_op2(w, bn_quotient, t, u, "//");
}

TAGGED fu2_modulus(worker *w, TAGGED t, TAGGED u)
{
  return integer_op2(w, bn_modulus, t, u, "mod");
}

TAGGED fu2_remainder(worker *w, TAGGED t, TAGGED u)
{
  return integer_op2(w, bn_remainder, t, u, "rem");
}

/* max and min: a NaN operand wins (the right one first); on a tie the
   right operand. */
static TAGGED extremum(worker *w, TAGGED t, TAGGED u, bool larger)
{
  if (is_float(t) || is_float(u)) {
    double x, y;
    if (!float_operands(w, t, u, larger ? "max" : "min", &x, &y))
      return 0;
    if (std::isnan(y))
      return make_temp_float(w, y);
    if (std::isnan(x))
      return make_temp_float(w, x);
    return make_temp_float(w, (larger ? x > y : x < y) ? x : y);
  }
  const int c = compare_ints(w, t, u);
  return (larger ? c > 0 : c < 0) ? t : u;
}

TAGGED fu2_maximum(worker *w, TAGGED t, TAGGED u) { return extremum(w, t, u, true); }
TAGGED fu2_minimum(worker *w, TAGGED t, TAGGED u) { return extremum(w, t, u, false); }

TAGGED fu2_and(worker *w, TAGGED t, TAGGED u)
{
  return integer_op2(w, bn_and, t, u, "/\\");
}

TAGGED fu2_or(worker *w, TAGGED t, TAGGED u)
{
  return integer_op2(w, bn_or, t, u, "\\/");
}

TAGGED fu2_xor(worker *w, TAGGED t, TAGGED u)
{
  return integer_op2(w, bn_xor, t, u, "\\");
}

TAGGED fu2_left_shift(worker *w, TAGGED t, TAGGED u) { return shift(w, t, u, true, "<<"); }
TAGGED fu2_right_shift(worker *w, TAGGED t, TAGGED u) { return shift(w, t, u, false, ">>"); }

TAGGED fu2_gcd(worker *w, TAGGED t, TAGGED u)
{
  TAGGED r;
  if (reject_floats(w, t, u, "gcd", &r))
    return r;
  TAGGED a = int_abs(w, t, "gcd");
  if (a == 0)
    return 0;
  TAGGED b = int_abs(w, u, "gcd");
  if (b == 0)
    return 0;
  for (;;) {
    if (b == MakeSmall_checked(0))
      return a;
    if (a == MakeSmall_checked(0))
      return b;
    if (IsSmall(a) && IsSmall(b)) {
      auto x = static_cast<std::uint32_t>(GetSmall(a)), y = static_cast<std::uint32_t>(GetSmall(b));
      while (y != 0) {
        const std::uint32_t m = x % y;
        x = y;
        y = m;
      }
      return MakeSmall_checked(static_cast<VR_INTEGER>(x));
    }
    int error = 0;
    r = bn_call(w, bn_remainder, a, b, &error);
    if (r == 0)
      return func_error(w, -error & 0xFFFF, CULPRIT_U, "gcd", 2, t, u);
    a = b;
    b = normal_int(r);
  }
}

/* atan2(Y, X): the first operand is the ordinate. */
TAGGED fu2_atan2(worker *w, TAGGED t, TAGGED u)
{
  double y, x;
  if (!float_operands(w, t, u, "atan2", &y, &x))
    return 0;
  return make_temp_float(w, std::atan2(y, x));
}

TAGGED fu2_acot2(worker *w, TAGGED t, TAGGED u)
{
  double x, y;
  if (!float_operands(w, t, u, "acot2", &x, &y))
    return 0;
  const double a = x / y;
  const double c = std::sqrt(a * a + 1);
  double r = a < 0 ? std::asin(-1 / c) + acot_pi : std::asin(1 / c);
  if (x < 0)
    r = y < 0 ? r - acot_pi : r + acot_pi;
  return make_temp_float(w, r);
}

TAGGED fu2_log(worker *w, TAGGED t, TAGGED u)
{
  double b, x;
  if (!float_operands(w, t, u, "log", &b, &x))
    return 0;
  if (b <= 0)
    return func_error(w, ERR_GT_0, CULPRIT_T, "log", 2, t, u);
  if (x < 0)
    return func_error(w, ERR_GE_0, CULPRIT_U, "log", 2, t, u);
  if (x == 0)
    return func_error(w, ERR_UNDEFINED, CULPRIT_U, "log", 2, t, u);
  return make_temp_float(w, std::log(x) / std::log(b));
}

static TAGGED power(worker *w, TAGGED t, TAGGED u, const char *name)
{
  double x, y;
  if (!float_operands(w, t, u, name, &x, &y))
    return 0;
  if (x < 0 && !(std::trunc(y) == y))
    return func_error(w, ERR_GE_0, CULPRIT_T, name, 2, t, u);
  if (x == 0 && y < 0)
    return func_error(w, ERR_UNDEFINED, CULPRIT_U, name, 2, t, u);
  return make_temp_float(w, std::pow(x, y));
}

TAGGED fu2_power(worker *w, TAGGED t, TAGGED u) { return power(w, t, u, "**"); }
TAGGED fu2_exp(worker *w, TAGGED t, TAGGED u) { return power(w, t, u, "exp"); }

/* ---- Comparisons ---- */

int bu2_equal_to(worker *w, TAGGED t, TAGGED u) { return compare_numbers(w, t, u) == EQUAL; }
int bu2_not_equal_to(worker *w, TAGGED t, TAGGED u) { return compare_numbers(w, t, u) != EQUAL; }
int bu2_less_than(worker *w, TAGGED t, TAGGED u) { return compare_numbers(w, t, u) == LESS; }
int bu2_greater_than(worker *w, TAGGED t, TAGGED u) { return compare_numbers(w, t, u) == GREATER; }

int bu2_not_less_than(worker *w, TAGGED t, TAGGED u)
{
  const order o = compare_numbers(w, t, u);
  return o == EQUAL || o == GREATER;
}

int bu2_not_greater_than(worker *w, TAGGED t, TAGGED u)
{
  const order o = compare_numbers(w, t, u);
  return o == EQUAL || o == LESS;
}

int fu2_compare(worker *w, TAGGED p, TAGGED q)
{
  p = deref(p);
  q = deref(q);
  if (IsVar(p)) {
    if (!IsVar(q))
      return -1;
    return p < q ? -1 : p > q ? 1 : 0;
  }
  if (IsVar(q))
    return 1;
  if (p == q)
    return 0;
  const int c = compare_terms(w, p, q);
  return (c > 0) - (c < 0);
}

/* ---- Making operands last ---- */

void globalize_numbers(worker *w, TAGGED t, TAGGED u, TAGGED *tdest, TAGGED *udest)
{
  TAGGED ops[2] = {t, u};
  const bool off_heap[2] = {IsStructure(t) && !is_box_on_heap(w, t), IsStructure(u) && !is_box_on_heap(w, u)};
  if (off_heap[0] || off_heap[1]) {
    /* The heap may move or be collected below; boxes on it that are to be
       kept go to the number stack first, which nothing moves. */
    unsigned words = 0;
    for (TAGGED &op : ops) {
      op = normal_int(op);
      if (IsStructure(op)) {
        if (is_box_on_heap(w, op))
          op = make_temp_large(w, op);
        words += BoxWords(*TagToSTR(op)) + 1;
      }
    }
    if (w->stack_start - w->global_top < static_cast<std::ptrdiff_t>(words) + 130)
      call_overflow(w, static_cast<int>(words) + 130, 0);
    for (TAGGED &op : ops) {
      if (IsStructure(op))
        op = make_large(w, TagToSTR(op));
    }
  }
  *tdest = ops[0];
  *udest = ops[1];
}
