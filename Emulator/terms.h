/* terms.h: building numbers and structures on the heap and reading numbers
 * back out of boxes.  Constructors write at the worker's global_top and
 * advance it; none checks for heap room (callers keep global_top below the
 * heap's warning limit). */
#ifndef VOSTREL_TERMS_H
#define VOSTREL_TERMS_H

#include "termdefs.h"

struct worker;

extern double ieee_plus_inf, ieee_minus_inf, ieee_nan;
void init_float_constants(void);

TAGGED make_integer(worker *w, VR_INTEGER i);
TAGGED vr_make_integer(worker *w, VR_INTEGER i);
TAGGED make_int64(worker *w, VR_int64 v);
TAGGED make_float(worker *w, double d);
TAGGED make_large(worker *w, const TAGGED *p);
TAGGED make_structure(worker *w, TAGGED functor);
double vri_get_float(TAGGED box);
VR_int64 vri_get_int64(TAGGED box);
VR_INTEGER vri_get_integer(TAGGED box);

/* An integer term for any 32-bit or 64-bit value: small when it fits. */
TAGGED make_integer_term(worker *w, VR_int64 v);

/* Follow references to the end of a chain. */
inline TAGGED deref(TAGGED t)
{
  while (IsVar(t)) {
    TAGGED next = *TagToRef(t);
    if (next == t)
      break;
    t = next;
  }
  return t;
}

#endif
