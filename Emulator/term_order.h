/* term_order.h: the standard order of terms and the term walkers.
 *
 * compare_terms decides the standard order for the whole runtime
 * (compare/3, the emulator's comparison built-ins, sorting, the embedding
 * interface): t and u dereferenced and not unbound; the result is negative,
 * 0 or positive (not normalised).  Engine thread only.
 */
#ifndef VOSTREL_TERM_ORDER_H
#define VOSTREL_TERM_ORDER_H

#include "termdefs.h"

struct worker;

int compare_terms(worker *w, TAGGED t, TAGGED u);

#endif
