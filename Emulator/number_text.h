/* number_text.h: number terms from text and text from number terms.
 *
 * The tokenizer, the writer, format's integer directives, the number and
 * code-list built-ins, the foreign interface and the quick-load reader all
 * convert through here, so every number is read and printed one way.
 * Input is internal text; text results go to the atom buffer BASE_ATOMBUF
 * and stay valid until its next use.  Engine thread only.
 */
#ifndef VOSTREL_NUMBER_TEXT_H
#define VOSTREL_NUMBER_TEXT_H

#include "termdefs.h"

/* The whole text as a number in radix 2..36, or 0 when it is not one.
   Radix 10 also reads the prefixes 0b, 0o, 0x and 0' and floats.  Layout
   may precede the optional sign and follow it; nothing may follow the
   number.  Boxed results are built at the heap top of `self`; pad is the
   number of heap words the caller still needs afterwards, arity the number
   of live argument registers kept across a heap expansion. */
TAGGED vr_string_to_number(const char *text, int radix, int pad, int arity);

/* The text of a number term in base |base| (2..36; a negative base gives
   upper-case digit letters) in BASE_ATOMBUF; style (the writer's options,
   or 0) chooses the float layout.  Null for a base outside 2..36 or a term
   that is not a number. */
char *vr_number_to_string(TAGGED term, int base, TAGGED style);

/* The text of value in base |base| (2..36) into buffer (at least 34
   bytes), "-" first when negative; digit letters lower-case for a positive
   base, upper-case for a negative one.  Returns buffer, or null (nothing
   written) for a base outside 2..36. */
char *vr_ltostr(VR_INTEGER value, int base, char *buffer);

/* Float text to a double: "+inf", "-inf", "+nan" and "-nan" set *pspecial
   to 1, anything else to 0 and is read as a decimal number, a leading "-"
   negating it. */
double ieee_atof(const char *text, int *pspecial);

#endif
