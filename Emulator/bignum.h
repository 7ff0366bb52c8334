/* bignum.h: arithmetic on boxed integers of any size.
 *
 * Operands are pointers to the header word of a boxed integer: the header,
 * then its two's-complement digits, least significant first.  Operands need
 * not be minimal; every result is made minimal unless said otherwise.
 *
 * A routine of type bn_routine never allocates.  It writes its result at z
 * (a header and the digits, no trailer) and returns 0, or returns the number
 * of words it needs when z + that number would pass zmax (header and one
 * trailer word included; nothing it wrote then matters), or a negative error
 * code.  bn_call (numstack.cpp) places the operands on the number stack,
 * grows the stack when asked and retries once, and turns the result into a
 * term.  Errors are checked before room, so a retry can only succeed.
 *
 * Users: the evaluable functions and inline arithmetic, the foreign
 * interface (bytes), number text conversion (text, float).
 */
#ifndef VOSTREL_BIGNUM_H
#define VOSTREL_BIGNUM_H

#include <cstddef>

#include "termdefs.h"

struct worker;

/* Error codes of the routines (negated). */
constexpr int BN_ERR_TOO_LONG = 1027;    /* n + 1 would reach 2^27 */
constexpr int BN_ERR_NOT_POSITIVE = 1026; /* msb of a number that is not positive */
constexpr int BN_ERR_ZERO_DIVISOR = 770;
constexpr int BN_ERR_NOT_FINITE = 771;    /* infinity or NaN to integer */
/* The longest digit vector a header can describe: n + 1 < 2^27. */
constexpr unsigned BN_MAX_DIGITS = (1u << 27) - 2;

typedef int (*bn_routine)(TAGGED *x, TAGGED *y, TAGGED *z, TAGGED *zmax);

/* Runs f on the number terms x and y (small integers, boxed integers, or
   boxed floats which are first truncated to integers; y 0 for one-operand
   routines).  Returns the result, a small integer when it fits, else a box
   on the number stack with its trailer; or 0 with *error set to
   -(code + 65536 * p): p 1 for the routine's own error, 2 for a division by
   zero or a failed conversion of x, 3 for a failed conversion of y.  *error
   is 0 on success.  Defined in numstack.cpp. */
TAGGED bn_call(worker *w, bn_routine f, TAGGED x, TAGGED y, int *error);

/* Tests (no result area). */
bool bn_positive(const TAGGED *x);              /* x >= 0 */
bool bn_isulong(const TAGGED *x);               /* 0 <= x < 2^32 */
int bn_compare(const TAGGED *x, const TAGGED *y); /* -1, 0, 1 */
/* In-place helpers. */
void bn_negate(TAGGED *x);   /* two's complement, length kept */
void bn_canonize(TAGGED *x); /* drop redundant top digits, rewrite header */

/* Routines for bn_call.  y is unused by the one-operand ones. */
int bn_msb(TAGGED *x, TAGGED *y, TAGGED *z, TAGGED *zmax);
int bn_plus(TAGGED *x, TAGGED *y, TAGGED *z, TAGGED *zmax);
int bn_minus(TAGGED *x, TAGGED *y, TAGGED *z, TAGGED *zmax);
int bn_incr(TAGGED *x, TAGGED *y, TAGGED *z, TAGGED *zmax);
int bn_decr(TAGGED *x, TAGGED *y, TAGGED *z, TAGGED *zmax);
int bn_add(TAGGED *x, TAGGED *y, TAGGED *z, TAGGED *zmax);
int bn_subtract(TAGGED *x, TAGGED *y, TAGGED *z, TAGGED *zmax);
int bn_and(TAGGED *x, TAGGED *y, TAGGED *z, TAGGED *zmax);
int bn_or(TAGGED *x, TAGGED *y, TAGGED *z, TAGGED *zmax);
int bn_xor(TAGGED *x, TAGGED *y, TAGGED *z, TAGGED *zmax);
int bn_not(TAGGED *x, TAGGED *y, TAGGED *z, TAGGED *zmax);
/* y: a one-digit box holding a non-negative shift count. */
int bn_lshift(TAGGED *x, TAGGED *y, TAGGED *z, TAGGED *zmax); /* x * 2^y */
int bn_rshift(TAGGED *x, TAGGED *y, TAGGED *z, TAGGED *zmax); /* floor(x / 2^y) */
int bn_multiply(TAGGED *x, TAGGED *y, TAGGED *z, TAGGED *zmax);
int bn_quotient(TAGGED *x, TAGGED *y, TAGGED *z, TAGGED *zmax);  /* toward zero */
int bn_remainder(TAGGED *x, TAGGED *y, TAGGED *z, TAGGED *zmax); /* sign of x */
int bn_modulus(TAGGED *x, TAGGED *y, TAGGED *z, TAGGED *zmax);   /* sign of y */
/* x: the header of a boxed float; the result is the float truncated toward
   zero, or -771 for an infinity or NaN. */
int bn_from_float(TAGGED *x, TAGGED *y, TAGGED *z, TAGGED *zmax);

/* Conversions with their own shapes. */

/* The integer written in text (up to its terminating zero byte), in radix
   |radix| (2..36).  A negative radix allows no sign, a positive one a single
   leading '+' or '-'.  Digit characters are not checked against the radix:
   the caller has checked the text.  Returns 0, a word count or -1027 as a
   routine does. */
int bn_from_string(const char *text, TAGGED *z, TAGGED *zmax, int radix);

/* The text of x in base |base| (2..36), digits above 9 in lower case for a
   positive base and upper case for a negative one, written zero-terminated
   into the atom buffer BASE_ATOMBUF (grown as needed).  Returns that buffer,
   or null (nothing written) when |base| is outside 2..36. */
char *bn_to_string(const TAGGED *x, int base);

/* The fewest two's-complement bytes k (at least 1) whose sign extension is
   x: *size receives k; when the buffer of *size bytes was shorter returns 0,
   else writes the k bytes least significant first, fills the rest of the
   buffer with the sign byte and returns 1. */
int bn_to_bytes(const TAGGED *x, unsigned char *buffer, std::size_t *size);

/* The integer of count two's-complement bytes, least significant first
   (count 0 reads as zero).  Not canonicalised: callers pass the shortest
   byte string.  Returns 0, a word count or -1027 as a routine does. */
int bn_from_bytes(const unsigned char *bytes, std::size_t count, TAGGED *z, TAGGED *zmax);

#endif
