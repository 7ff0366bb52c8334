/* sorting.h: the native cores of sort/2 and keysort/2.
 *
 * $sort(+List, -Sorted) sorts in the standard order of terms and drops
 * duplicates; $keysort(+Pairs, -Sorted) sorts Key-Value pairs by key,
 * stably, keeping duplicates.  Both copy the list's cells onto the heap
 * once and relink them (a natural merge sort: runs grown at both ends, so
 * ordered and reverse-ordered input is one run; O(n log n) comparisons in
 * all).  They fail on a partial, improper or cyclic list, on an element of
 * $keysort/2 that is not a pair and on a bound second argument; the
 * library predicates (Emulator/lib/sort.pl) raise the errors.  Engine
 * thread only.
 */
#ifndef VOSTREL_SORTING_H
#define VOSTREL_SORTING_H

struct worker;

int prolog_sort(worker *w);
int prolog_keysort(worker *w);

#endif
