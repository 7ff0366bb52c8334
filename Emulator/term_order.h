/* term_order.h: the standard order of terms.
 *
 * compare_terms decides the standard order for the whole runtime
 * (compare/3, the emulator's comparison built-ins, sorting, the embedding
 * interface): t and u dereferenced and not unbound; the result is negative,
 * 0 or positive (not normalised).  Classes, least first: unbound
 * variables (by address), floats, integers, atoms, compound terms; every
 * float sorts before every integer whatever their values.
 *
 * The comparison runs without native recursion: its stack of pending
 * argument runs lives above the trail top, and argument cells it has
 * matched are overwritten on the value trail, which is empty again (and
 * every cell restored) when it returns.  Cyclic terms therefore compare
 * in finite time.  Engine thread only.
 */
#ifndef VOSTREL_TERM_ORDER_H
#define VOSTREL_TERM_ORDER_H

#include "termdefs.h"

struct worker;

int compare_terms(worker *w, TAGGED t, TAGGED u);

/* Grows the trail-and-choice area so that the comparison stack, pdl_words
   words above the trail top, keeps room below the value trail. */
void compare_terms_overflow(worker *w, int pdl_words);

/* Byte-wise comparison of two internal texts as unsigned bytes: the
   difference of the first unequal bytes, or 0.  Character code 0 (stored as
   C0 80) thereby sorts between 127 and 128. */
int ustrcmp(const char *s1, const char *s2);

#endif
