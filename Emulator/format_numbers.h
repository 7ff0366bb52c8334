/* format_numbers.h: the number directives of format/2,3 and the float
 * layout that every printed float goes through.
 *
 * format/2,3 (Emulator/lib/format.pl) checks its arguments and calls the
 * two built-ins below for ~d ~D ~r ~R and ~e ~f ~g ~h (each also upper
 * case); vr_number_to_string prints floats with format_float, by default
 * with the letter H and the argument 3.  Texts are built in the atom
 * buffer BASE_ATOMBUF and stay valid until its next use.  Engine thread
 * only.
 */
#ifndef VOSTREL_FORMAT_NUMBERS_H
#define VOSTREL_FORMAT_NUMBERS_H

struct worker;

/* The largest digit count a directive may ask for; the built-ins fail on
   more (format/2,3 reports it before). */
constexpr int FORMAT_MAX_DIGITS = 10000;

/* The text of value for the float directive `letter` with argument n
   (negative: none given):
     e E  exponential, n + 1 significant digits (1 when n < 0);
     f F  fixed, n digits after the point (at least one);
     g G  n significant digits, exponential when the decimal exponent P of
          0.D * 10^P is below -3 or above max(n, 0), else fixed;
     h H  the shortest digits that read back, exponential when n < 0 or P
          lies outside -n .. n + digits, else fixed;
     any other letter as f.
   Infinities give "+inf" and "-inf", NaN "+nan".  n is clamped to
   FORMAT_MAX_DIGITS. */
char *format_float(int letter, int n, double value);

/* $format_print_integer(+Letter, +Integer, +N, +Stream) and
   $format_print_float(+Letter, +Number, +N, +Stream): the text of the
   directive written to Stream (N negative: no argument given).  Fail on
   arguments of the wrong kind; raise the stream's errors. */
int prolog_format_print_integer(worker *w);
int prolog_format_print_float(worker *w);

#endif
