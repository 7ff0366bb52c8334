/* float_conv.h: correctly rounded conversion between decimal text and
 * IEEE double.
 *
 * Used by the number parser, the float directives of format, the atom
 * classifier of the writer and the float-to-bignum conversion.  Both
 * directions round half to even; results never depend on the locale.
 * Engine thread only (a cache of powers of five grows without a lock).
 */
#ifndef VOSTREL_FLOAT_CONV_H
#define VOSTREL_FLOAT_CONV_H

/* The double nearest to the decimal number at the start of text.  Leading
 * white space and one sign are skipped; the accepted form is
 * digits [ "." digits ] [ ("e"|"E") [sign] digits ].  *pend (when pend is
 * not null) receives the first character not used, or text itself when
 * there is no digit.  Overflow gives +-infinity, underflow +-0, both with
 * errno = ERANGE. */
double vr_strtod(const char *text, char **pend);

/* Decimal digits of d into res (null-terminated, trailing zeros removed):
 * the value is 0.d1d2... * 10^(*pdecpt); *psign is d's sign bit.
 * Modes: 0/1 shortest round-trip string; 2 max(1,ndigits) significant
 * digits; 3 ndigits places after the point; 4/5 as 2/3 but stopping at a
 * shorter string that reads back as d; 6-9 as 2-5; any other mode is 0.
 * Infinity and NaN give "Infinity"/"NaN" with *pdecpt = 9999; zero and a
 * result with no digit give "0" with *pdecpt = 1.  res must hold every
 * digit the mode can produce plus the terminator (18 bytes for modes 0/1,
 * at least 9 bytes always). */
void vr_dtoa(double d, int mode, int ndigits, int *pdecpt, int *psign, char *res);

/* Splits trunc(f) exactly as (-1)^sign * m * 2^scale with m odd: *psign,
 * *pscale, *pbits (significant bits of m, 0 for zero), pmantissa[0] the low
 * and pmantissa[1] the high 32 bits of m (the latter meaningful only when
 * *pbits > 32).  For infinities and NaN only *psign and *pbits (0) are
 * stored. */
void vr_double_parts(double f, int *psign, int *pscale, int *pbits, int pmantissa[2]);

/* Returns the cached powers of five to the memory manager.  The cache
 * otherwise lives as long as the manager; whoever shuts the manager down
 * (memman_deinit) calls this first, or a later conversion would use blocks
 * that went back to the source. */
void float_conv_release_cache(void);

#endif
