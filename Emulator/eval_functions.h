/* eval_functions.h: the evaluable functions of arithmetic, the numeric
 * comparisons, and the emulator's two exits from an arithmetic sequence.
 *
 * Operands are number terms: small integers or structure pointers to boxed
 * integers or floats, wherever they live (heap, number stack, code).  A
 * function never changes its operands.  Its result is a number term (a
 * number-stack temporary, a small integer or one of the operands) or 0: the
 * error has been saved and raised (an error choicepoint pushed), and the
 * caller must backtrack into it.  Nothing here allocates on the heap except
 * while reporting an error, and except wam_store_variable and wam_evaluate,
 * whose job it is.  Float results are always make_temp_float temporaries
 * (NaN canonical); infinities and NaN are returned like any float and only
 * refused when stored.
 *
 * Callers: the arithmetic instructions of the emulator (wam_arith.inc) in
 * their general state, COMPAREOP (fu2_compare), and foreign code that
 * evaluates through the same functions.  Engine thread only: the functions
 * use the worker's number stack and the process-wide error record, and
 * expect global_top to be the heap top.
 */
#ifndef VOSTREL_EVAL_FUNCTIONS_H
#define VOSTREL_EVAL_FUNCTIONS_H

#include "termdefs.h"

struct worker;
struct definition;
struct frame;

/* ---- inf and nan as expressions: always raise ---- */
TAGGED fu0_inf(worker *w);
TAGGED fu0_nan(worker *w);

/* ---- One operand ---- */
TAGGED fu1_minus(worker *w, TAGGED t);
TAGGED fu1_integer(worker *w, TAGGED t);
TAGGED fu1_float(worker *w, TAGGED t);
TAGGED fu1_complement(worker *w, TAGGED t);
TAGGED fu1_abs(worker *w, TAGGED t);
TAGGED fu1_sign(worker *w, TAGGED t);
TAGGED fu1_msb(worker *w, TAGGED t);
TAGGED fu1_round(worker *w, TAGGED t);
TAGGED fu1_truncate(worker *w, TAGGED t);
TAGGED fu1_floor(worker *w, TAGGED t);
TAGGED fu1_ceiling(worker *w, TAGGED t);
TAGGED fu1_float_integer_part(worker *w, TAGGED t);
TAGGED fu1_float_fractional_part(worker *w, TAGGED t);
TAGGED fu1_sin(worker *w, TAGGED t);
TAGGED fu1_cos(worker *w, TAGGED t);
TAGGED fu1_tan(worker *w, TAGGED t);
TAGGED fu1_cot(worker *w, TAGGED t);
TAGGED fu1_sinh(worker *w, TAGGED t);
TAGGED fu1_cosh(worker *w, TAGGED t);
TAGGED fu1_tanh(worker *w, TAGGED t);
TAGGED fu1_coth(worker *w, TAGGED t);
TAGGED fu1_asin(worker *w, TAGGED t);
TAGGED fu1_acos(worker *w, TAGGED t);
TAGGED fu1_atan(worker *w, TAGGED t);
TAGGED fu1_acot(worker *w, TAGGED t);
TAGGED fu1_asinh(worker *w, TAGGED t);
TAGGED fu1_acosh(worker *w, TAGGED t);
TAGGED fu1_atanh(worker *w, TAGGED t);
TAGGED fu1_acoth(worker *w, TAGGED t);
TAGGED fu1_sqrt(worker *w, TAGGED t);
TAGGED fu1_log(worker *w, TAGGED t);
TAGGED fu1_exp(worker *w, TAGGED t);

/* ---- Two operands: t the left one (long0), u the right one (long1) ---- */
TAGGED fu2_add(worker *w, TAGGED t, TAGGED u);
TAGGED fu2_subtract(worker *w, TAGGED t, TAGGED u);
TAGGED fu2_multiply(worker *w, TAGGED t, TAGGED u);
TAGGED fu2_divide(worker *w, TAGGED t, TAGGED u);
TAGGED fu2_idivide(worker *w, TAGGED t, TAGGED u);
TAGGED fu2_modulus(worker *w, TAGGED t, TAGGED u);
TAGGED fu2_remainder(worker *w, TAGGED t, TAGGED u);
TAGGED fu2_maximum(worker *w, TAGGED t, TAGGED u);
TAGGED fu2_minimum(worker *w, TAGGED t, TAGGED u);
TAGGED fu2_and(worker *w, TAGGED t, TAGGED u);
TAGGED fu2_or(worker *w, TAGGED t, TAGGED u);
TAGGED fu2_xor(worker *w, TAGGED t, TAGGED u);
TAGGED fu2_left_shift(worker *w, TAGGED t, TAGGED u);
TAGGED fu2_right_shift(worker *w, TAGGED t, TAGGED u);
TAGGED fu2_gcd(worker *w, TAGGED t, TAGGED u);
TAGGED fu2_atan2(worker *w, TAGGED t, TAGGED u);
TAGGED fu2_acot2(worker *w, TAGGED t, TAGGED u);
TAGGED fu2_log(worker *w, TAGGED t, TAGGED u);   /* log(Base, X) */
TAGGED fu2_power(worker *w, TAGGED t, TAGGED u); /* X ** Y */
TAGGED fu2_exp(worker *w, TAGGED t, TAGGED u);   /* exp(X, Y), the same value */

/* ---- Numeric comparisons: 1 when t stands in the relation to u ----
   Every relation but "not equal" is false when a NaN takes part.  An
   integer and a float compare exactly (no rounding of the integer). */
int bu2_equal_to(worker *w, TAGGED t, TAGGED u);
int bu2_not_equal_to(worker *w, TAGGED t, TAGGED u);
int bu2_less_than(worker *w, TAGGED t, TAGGED u);
int bu2_not_less_than(worker *w, TAGGED t, TAGGED u);
int bu2_greater_than(worker *w, TAGGED t, TAGGED u);
int bu2_not_greater_than(worker *w, TAGGED t, TAGGED u);

/* The standard order of any two terms (dereferenced here): -1, 0 or 1. */
int fu2_compare(worker *w, TAGGED p, TAGGED q);

/* Makes the operands of a failing function last, so that the error term
   can name them: each box off the heap is copied to the heap (a one-digit
   box of a small value becomes the small integer), growing the heap when
   needed, and the resulting terms are stored through tdest and udest
   (tdest may equal udest; u is then the one kept). */
void globalize_numbers(worker *w, TAGGED t, TAGGED u, TAGGED *tdest, TAGGED *udest);

/* ---- The emulator's exits from a sequence (arith_escape.cpp) ---- */

/* The general-state result `first` as a term that outlives the sequence:
   itself when it is on the heap, a small integer when it fits one, else a
   heap copy.  0 with *pad left 0: a non-finite float, whose evaluation
   error has been raised.  0 with *pad > 0: the heap lacks room; *pad is
   the number of words to ask for.  The caller sets *pad to 0. */
TAGGED wam_store_variable(worker *w, TAGGED first, int *pad);

/* Prepares the escape of an operand that is no number to the runtime
   library's evaluate/4 and returns that predicate, for the emulator to
   enter.  opno 1: `first` is the operand, `later` the small integer 0;
   opno 2: `first` is long0 already made lasting by wam_store_variable,
   `later` the operand.  p is the next instruction of the sequence, pc2
   the sequence's first instruction, fr the current environment.  When
   evaluate/4 succeeds, RESTORE_OPERANDS_PROGRESS reloads the two operands
   from the environment pushed here and resumes the sequence at p, in the
   general state. */
definition *wam_evaluate(worker *w, TAGGED first, TAGGED later, int opno, INSN *p, INSN *pc2,
                         frame *fr);

/* The return point that evaluate/4 proceeds to: the halfword before it is
   16, the size of the two-operand environment, then the opcode of
   RESTORE_OPERANDS_PROGRESS. */
extern INSN code_restore_operands_progress[2];

#endif
