/* term_order.cpp: the standard order of terms (see term_order.h).
 *
 * compare_terms keeps no native stack.  A pending run of argument pairs
 * (next cell of each term, pairs left) is a triple on the comparison stack,
 * which grows upward from the trail top into the free gap below the value
 * trail; nothing else writes to that gap while a comparison runs.  When two
 * compound terms with the same functor meet, the argument cell that holds
 * the higher address is overwritten with the lower one and the (cell, old
 * word) pair goes on the value trail: a pair met again (a cycle, or shared
 * subterms) is then an identical word and is skipped.  The run that
 * remains after the last argument is not pushed, so right-recursive terms
 * such as long lists keep the comparison stack flat.
 *
 * Every overwritten cell is restored, newest first, before compare_terms
 * returns, so the value trail is exactly as it was on entry.
 *
 * Callers: compare/3 and the emulator's comparison instructions, sorting,
 * the embedding interface's VR_compare.
 */
#include "term_order.h"

#include <cmath>

#include "atoms.h"
#include "bignum.h"
#include "stack_growth.h"
#include "terms.h"
#include "worker.h"

int ustrcmp(const char *s1, const char *s2)
{
  const unsigned char *p = reinterpret_cast<const unsigned char *>(s1);
  const unsigned char *q = reinterpret_cast<const unsigned char *>(s2);
  while (*p != 0 && *p == *q) {
    ++p;
    ++q;
  }
  return static_cast<int>(*p) - static_cast<int>(*q);
}

namespace {

/* Standard-order classes; their numeric order is the order of the classes. */
enum term_class_t { CLASS_VAR = 0, CLASS_FLOAT = 1, CLASS_INTEGER = 2, CLASS_ATOM = 3, CLASS_COMPOUND = 4 };

inline int term_class(TAGGED t)
{
  switch (tag_of(t)) {
  case REF_TAG:
    return CLASS_VAR;
  case CONST_TAG:
    return IsSmall(t) ? CLASS_INTEGER : CLASS_ATOM;
  case LST_TAG:
    return CLASS_COMPOUND;
  default: {
    const TAGGED h = *TagToSTR(t);
    if (IsBoxHeader(h))
      return BoxIsFloat(h) ? CLASS_FLOAT : CLASS_INTEGER;
    return CLASS_COMPOUND;
  }
  }
}

inline int sign_of(long long d) { return (d > 0) - (d < 0); }

int compare_floats(TAGGED x, TAGGED y)
{
  const double a = vri_get_float(x), b = vri_get_float(y);
  /* A NaN is above every other float and equal to any NaN; -0.0 == 0.0
     falls out of the plain comparison. */
  if (std::isnan(a))
    return std::isnan(b) ? 0 : 1;
  if (std::isnan(b))
    return -1;
  return (a > b) - (a < b);
}

int compare_integers(TAGGED x, TAGGED y)
{
  /* A boxed integer is never in small range, so its sign decides against
     any small one. */
  if (IsSmall(x)) {
    if (IsSmall(y))
      return sign_of(static_cast<long long>(GetSmall(x)) - GetSmall(y));
    return bn_positive(TagToSTR(y)) ? -1 : 1;
  }
  if (IsSmall(y))
    return bn_positive(TagToSTR(x)) ? 1 : -1;
  return bn_compare(TagToSTR(x), TagToSTR(y));
}

/* Atom words with bit 31 set are the scratch constants of subsumption:
   they have no atom record and only need a consistent order. */
inline bool is_scratch_constant(TAGGED t) { return (t >> 31) != 0; }

int compare_atoms(TAGGED x, TAGGED y)
{
  if (x == y)
    return 0;
  if (is_scratch_constant(x) || is_scratch_constant(y))
    return x < y ? -1 : 1;
  return ustrcmp(atom_name(x), atom_name(y));
}

inline TAGGED functor_of(TAGGED t) { return IsList(t) ? functor_list : *TagToSTR(t); }
inline TAGGED *args_of(TAGGED t) { return IsList(t) ? TagToLST(t) : TagToSTR(t) + 1; }

int compare_functors(TAGGED f, TAGGED g)
{
  if (Arity(f) != Arity(g))
    return static_cast<int>(Arity(f)) - static_cast<int>(Arity(g));
  return ustrcmp(atom_name(FunctorName(f)), atom_name(FunctorName(g)));
}

inline TAGGED *node_words(const worker *w) { return reinterpret_cast<TAGGED *>(w->node_); }

/* One pending run on the comparison stack. */
constexpr int PDL_ENTRY_WORDS = 3;
/* A descent adds one run and one value-trail pair; keep a little more. */
constexpr int DESCENT_ROOM = PDL_ENTRY_WORDS + 2 + 8;

} // namespace

void compare_terms_overflow(worker *w, int pdl_words)
{
  /* The resize keeps the trail up to trail_top and the value trail, but not
     the free gap between them: cover the comparison stack by the trail top
     while the area moves.  No trail collection may run (negative pad): the
     value trail holds overwritten cells. */
  w->trail_top += pdl_words;
  choice_overflow(w, -TRAIL_MARGIN);
  w->trail_top -= pdl_words;
}

int compare_terms(worker *w, TAGGED t, TAGGED u)
{
  const std::int32_t vt_base = w->value_trail;
  int pdl = 0; /* words in use above trail_top */
  TAGGED top_a[1] = {t}, top_b[1] = {u};
  TAGGED *a = top_a, *b = top_b;
  unsigned n = 1;
  int result = 0;

  for (;;) {
    while (n > 0) {
      TAGGED *sa = a++, *sb = b++;
      --n;
      TAGGED x = *sa, y = *sb;
      if (x == y)
        continue;
      x = deref(x);
      y = deref(y);
      if (x == y)
        continue;
      const int cx = term_class(x), cy = term_class(y);
      if (cx != cy) {
        result = cx - cy;
        goto done;
      }
      switch (cx) {
      case CLASS_VAR:
        result = x < y ? -1 : 1;
        goto done;
      case CLASS_FLOAT:
        result = compare_floats(x, y);
        break;
      case CLASS_INTEGER:
        result = compare_integers(x, y);
        break;
      case CLASS_ATOM:
        result = compare_atoms(x, y);
        break;
      default:
        break;
      }
      if (result != 0)
        goto done;
      if (cx != CLASS_COMPOUND)
        continue;

      const TAGGED fx = functor_of(x), fy = functor_of(y);
      if (fx != fy) {
        /* Equal texts under different words only when a list cell meets
           a '.'/2 structure: then the arguments decide. */
        result = compare_functors(fx, fy);
        if (result != 0)
          goto done;
      }
      if (fx == functor_Dmutable) {
        result = x < y ? -1 : 1;
        goto done;
      }
      if (node_words(w) + w->value_trail - (w->trail_top + pdl) < DESCENT_ROOM)
        compare_terms_overflow(w, pdl);
      if (n > 0) {
        TAGGED *e = w->trail_top + pdl;
        e[0] = PointerToTerm(a);
        e[1] = PointerToTerm(b);
        e[2] = n;
        pdl += PDL_ENTRY_WORDS;
      }
      TAGGED *slot = x > y ? sa : sb;
      w->value_trail -= 2;
      TAGGED *pair = node_words(w) + w->value_trail;
      pair[0] = PointerToTerm(slot);
      pair[1] = *slot;
      *slot = x > y ? y : x;
      a = args_of(x);
      b = args_of(y);
      n = Arity(fx);
    }
    if (pdl == 0)
      break;
    pdl -= PDL_ENTRY_WORDS;
    const TAGGED *e = w->trail_top + pdl;
    a = TagToRef(e[0]);
    b = TagToRef(e[1]);
    n = e[2];
  }

done:
  for (std::int32_t i = w->value_trail; i < vt_base; i += 2) {
    const TAGGED *pair = node_words(w) + i;
    *TagToRef(pair[0]) = pair[1];
  }
  w->value_trail = vt_base;
  return result;
}
