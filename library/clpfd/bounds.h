/* bounds.h: arithmetic on domain bounds that never wraps around.
 *
 * A bound word is a tagged small integer (-2^28 .. 2^28-1), the atom inf
 * (below every integer) or the atom sup (above every integer).  Every
 * operation here takes and returns bound words and saturates to inf or sup
 * where the exact result would leave the small-integer range; the word 0
 * (FD_UNDEFINED, no term) answers the undefined cases 0 * infinity, 0 / 0
 * and infinity / infinity.  Callers (the set shifts of fdsets.cpp, the
 * indexical interpreter, the arithmetic propagators) test for it before
 * they store a result.  No operation allocates or fails.
 */
#ifndef TRELIX_CLPFD_BOUNDS_H
#define TRELIX_CLPFD_BOUNDS_H

#include <cstdint>

#include "termdefs.h"

/* The two infinities: predefined atoms 5 and 6. */
constexpr TAGGED atom_inf = MakeAtom(5);
constexpr TAGGED atom_sup = MakeAtom(6);
static_assert(atom_inf == 47 && atom_sup == 55);
/* Not a term: the result of an undefined operation. */
constexpr TAGGED FD_UNDEFINED = 0;

/* The order of bound words as plain integers: small integers their
   values, inf -2^28 - 1 and sup 2^28 (the successor of the greatest small
   integer), so that E + 1 is always defined. */
constexpr std::int32_t FD_ORDER_INF = SMALL_MIN - 1;
constexpr std::int32_t FD_ORDER_SUP = SMALL_MAX + 1;
inline std::int32_t fd_order(TAGGED t)
{
  if (IsSmall(t))
    return GetSmall(t);
  return t == atom_inf ? FD_ORDER_INF : FD_ORDER_SUP;
}
/* Back from the order: inf and sup at and beyond the ends. */
inline TAGGED fd_from_order(std::int64_t v)
{
  if (v <= FD_ORDER_INF)
    return atom_inf;
  if (v >= FD_ORDER_SUP)
    return atom_sup;
  return MakeSmall_checked(static_cast<VR_INTEGER>(v));
}

TAGGED fd_safe_plus(TAGGED t1, TAGGED t2);
TAGGED fd_safe_minus(TAGGED t1, TAGGED t2);
TAGGED fd_safe_mul(TAGGED t1, TAGGED t2);
/* Both operands small integers. */
TAGGED fd_safe_mul_val(TAGGED t1, TAGGED t2);
/* Quotient rounded up (u) or down (d). */
TAGGED fd_safe_divu(TAGGED t1, TAGGED t2);
TAGGED fd_safe_divd(TAGGED t1, TAGGED t2);
TAGGED fd_safe_negate(TAGGED t1);
/* t1 a small integer. */
TAGGED fd_safe_negate_val(TAGGED t1);
/* The smaller or greater bound; t2 when they are equal. */
TAGGED fd_safe_min(TAGGED t1, TAGGED t2);
TAGGED fd_safe_max(TAGGED t1, TAGGED t2);

/* Plain integers: i1 modulo i2 with the sign of i2 (i2 non-zero). */
long fast_modi(long i1, long i2);

#endif
