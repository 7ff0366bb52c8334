/* term_order.cpp: the standard order of terms (see term_order.h).
 * Placeholder until the term walkers are written. */
#include "term_order.h"

#include "errors.h"

int compare_terms(worker *, TAGGED, TAGGED)
{
  VR_raise_fault("term comparison is not available");
}
