/* sorting.cpp: $sort/2 and $keysort/2 (sorting.h).
 *
 * The input list is copied as one block of list cells (element, tail) at
 * the heap top, elements dereferenced; from then on only tail words
 * change.  A run is a chain of cells in ascending order ending in []; a
 * new cell joins the current run at its end when it is greater than the
 * last element, at its front when the first element is greater than it,
 * and starts the next run otherwise.  Runs are merged as a binary counter
 * counts: the n-th run is merged with the top of the run stack as many
 * times as n has trailing zero bits, so the stack never holds more than
 * 32 runs and every merge joins runs of similar length.
 *
 * Stability of $keysort/2: an element equal to the last one starts a new
 * run, and a merge takes from the later run only when the earlier run's
 * element is greater, so equal keys keep their input order.  $sort/2
 * drops an element equal to an end of the run it would join, and a merge
 * keeps the earlier of two equal elements.
 *
 * Comparisons may grow the trail-and-choice area (compare_terms), never
 * the heap, so the cell pointers held here stay valid.
 */
#include "sorting.h"

#include "initial_atoms.h"
#include "stack_growth.h"
#include "term_order.h"
#include "terms.h"
#include "unify.h"
#include "worker.h"

namespace {

constexpr int RUN_STACK = 32;
/* Heap words kept free beyond the copy. */
constexpr int COPY_MARGIN = 128;

inline TAGGED *cell_of(TAGGED list) { return TagToLST(list); }

/* The standard order of two dereferenced terms, unbound variables first
   and by address. */
int order(worker *w, TAGGED a, TAGGED b)
{
  if (a == b)
    return 0;
  if (IsSmall(a) && IsSmall(b)) /* the common case, without the general walk */
    return GetSmall(a) < GetSmall(b) ? -1 : 1;
  if (IsVar(a))
    return IsVar(b) ? (a < b ? -1 : 1) : -1;
  if (IsVar(b))
    return 1;
  return compare_terms(w, a, b);
}

/* Keys of two pairs: 1 when the first is greater. */
bool key_gt(worker *w, TAGGED p, TAGGED q)
{
  const TAGGED a = deref(TagToSTR(p)[1]), b = deref(TagToSTR(q)[1]);
  return order(w, a, b) > 0;
}

struct sorter {
  worker *w;
  bool keys; /* $keysort: pairs, stable, duplicates kept */

  int cmp(TAGGED a, TAGGED b) const
  {
    if (keys)
      return key_gt(w, a, b) ? 1 : (key_gt(w, b, a) ? -1 : 0);
    return order(w, a, b);
  }

  /* Merges run a (the earlier) with run b. */
  TAGGED merge(TAGGED a, TAGGED b) const
  {
    TAGGED head = atom_nil;
    TAGGED *tail = &head;
    while (a != atom_nil && b != atom_nil) {
      TAGGED *ca = cell_of(a), *cb = cell_of(b);
      if (keys) {
        if (key_gt(w, ca[0], cb[0])) {
          *tail = b;
          tail = &cb[1];
          b = cb[1];
        } else {
          *tail = a;
          tail = &ca[1];
          a = ca[1];
        }
        continue;
      }
      const int c = order(w, ca[0], cb[0]);
      if (c <= 0) {
        *tail = a;
        tail = &ca[1];
        a = ca[1];
        if (c == 0)
          b = cb[1];
      } else {
        *tail = b;
        tail = &cb[1];
        b = cb[1];
      }
    }
    *tail = a != atom_nil ? a : b;
    return head;
  }

  TAGGED sort(TAGGED *cells, long n) const
  {
    TAGGED stack[RUN_STACK];
    int depth = 0;
    unsigned long runs = 0;
    long i = 0;
    while (i < n) {
      TAGGED *first = cells + 2 * i, *last = first;
      TAGGED head = MakeLST(first);
      for (++i; i < n; ++i) {
        TAGGED *c = cells + 2 * i;
        if (keys) {
          if (key_gt(w, c[0], last[0])) {
            last[1] = MakeLST(c);
            last = c;
          } else if (key_gt(w, first[0], c[0])) {
            c[1] = head;
            first = c;
            head = MakeLST(c);
          } else {
            break;
          }
          continue;
        }
        const int to_last = order(w, c[0], last[0]);
        if (to_last == 0)
          continue;
        if (to_last > 0) {
          last[1] = MakeLST(c);
          last = c;
          continue;
        }
        const int to_first = order(w, c[0], first[0]);
        if (to_first == 0)
          continue;
        if (to_first < 0) {
          c[1] = head;
          first = c;
          head = MakeLST(c);
          continue;
        }
        break;
      }
      last[1] = atom_nil;
      TAGGED run = head;
      ++runs;
      for (unsigned long k = runs; (k & 1) == 0 && depth > 0; k >>= 1)
        run = merge(stack[--depth], run);
      stack[depth++] = run;
    }
    if (depth == 0)
      return atom_nil;
    TAGGED result = stack[--depth];
    while (depth > 0)
      result = merge(stack[--depth], result);
    return result;
  }
};

/* The length of a proper list, or -1 for a partial, improper or cyclic
   one (Brent's test: the cell saved at every power of two steps is met
   again inside a cycle); with pairs, -1 also for an element that is not a
   '-'/2 structure. */
long list_length_checked(TAGGED l, bool pairs)
{
  const TAGGED minus = MakeFunctor(MakeAtom(atom_minus_enum), 2);
  long n = 0, power = 1, lambda = 0;
  TAGGED saved = 0;
  for (l = deref(l); IsList(l); l = deref(cell_of(l)[1])) {
    if (pairs) {
      const TAGGED e = deref(cell_of(l)[0]);
      if (!IsStructure(e) || TagToSTR(e)[0] != minus)
        return -1;
    }
    if (l == saved)
      return -1;
    ++n;
    if (++lambda == power) {
      saved = l;
      power *= 2;
      lambda = 0;
    }
  }
  return l == atom_nil ? n : -1;
}

int sort_builtin(worker *w, bool keys)
{
  if (!IsVar(deref(w->term[1])))
    return 0;
  const long n = list_length_checked(w->term[0], keys);
  if (n < 0)
    return 0;
  if (n == 0)
    return cunify(w, w->term[1], atom_nil);
  if (w->global_top + 2 * n + COPY_MARGIN > w->heap_warn)
    call_overflow(w, static_cast<int>(2 * n + COPY_MARGIN), 2);
  TAGGED *cells = w->global_top;
  long i = 0;
  for (TAGGED l = deref(w->term[0]); IsList(l); l = deref(cell_of(l)[1]), ++i) {
    cells[2 * i] = deref(cell_of(l)[0]);
    cells[2 * i + 1] = atom_nil;
  }
  w->global_top = cells + 2 * n;
  const sorter s{w, keys};
  return cunify(w, w->term[1], s.sort(cells, n));
}

} // namespace

int prolog_sort(worker *w) { return sort_builtin(w, false); }
int prolog_keysort(worker *w) { return sort_builtin(w, true); }
