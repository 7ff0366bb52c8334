/* char_conversion.h: the character conversion table of the Prolog flag
 * char_conversion.
 *
 * Up to CHARCONV_MAX pairs From -> To, each From at most once, kept in two
 * parallel arrays in no particular order.  The tokenizer converts every
 * character it reads outside quoted items while the flag is on and the
 * table is not empty.  Process-wide; engine thread only.
 */
#ifndef VOSTREL_CHAR_CONVERSION_H
#define VOSTREL_CHAR_CONVERSION_H

#include <cstdint>

struct worker;

constexpr int CHARCONV_MAX = 1024;
extern std::int32_t charconv_from[CHARCONV_MAX];
extern std::int32_t charconv_to[CHARCONV_MAX];
extern int pcharconv;

/* Empties the table and sets the flag (current_char_conversion) to on. */
void init_char_conversion(void);
/* Sets the pair for from: to == from removes it.  0 when a new pair does
   not fit (the table is then unchanged), else 1. */
int add_char_conversion(std::int32_t from, std::int32_t to);
/* The partner of code, or code itself. */
int conv_char(int code);
/* `$add_char_conversion(+From, +To)`, small-integer codes checked by the
   Prolog caller. */
int prolog_add_char_conversion(worker *w);

#endif
