/* bounds.cpp: saturating arithmetic on bound words (see bounds.h).
 *
 * Sums, differences and quotients of two small integers fit in 32 bits, so
 * they are computed exactly and then range-checked; products go through
 * 64 bits.  The one quotient that leaves the range, -2^28 / -1, saturates
 * to sup like every other out-of-range result.
 */
#include "bounds.h"

#include <cassert>

namespace {

inline bool is_inf(TAGGED t) { return t == atom_inf; }
inline bool is_sup(TAGGED t) { return t == atom_sup; }

/* An exact result, or the infinity on the side it left the range. */
inline TAGGED saturate(std::int64_t v) { return fd_from_order(v); }

/* Sign of a bound: -1 for inf and negative integers, 1 for sup and
   positive ones, 0 for zero. */
inline int sign_of(TAGGED t)
{
  if (is_inf(t))
    return -1;
  if (is_sup(t))
    return 1;
  const VR_INTEGER v = GetSmall(t);
  return (v > 0) - (v < 0);
}

} // namespace

TAGGED fd_safe_plus(TAGGED t1, TAGGED t2)
{
  if (!IsSmall(t1))
    return t1;
  if (!IsSmall(t2))
    return t2;
  return saturate(static_cast<std::int64_t>(GetSmall(t1)) + GetSmall(t2));
}

TAGGED fd_safe_minus(TAGGED t1, TAGGED t2)
{
  if (!IsSmall(t1))
    return t1;
  if (is_inf(t2))
    return atom_sup;
  if (is_sup(t2))
    return atom_inf;
  return saturate(static_cast<std::int64_t>(GetSmall(t1)) - GetSmall(t2));
}

TAGGED fd_safe_mul_val(TAGGED t1, TAGGED t2)
{
  return saturate(static_cast<std::int64_t>(GetSmall(t1)) * GetSmall(t2));
}

TAGGED fd_safe_mul(TAGGED t1, TAGGED t2)
{
  if (IsSmall(t1) && IsSmall(t2))
    return fd_safe_mul_val(t1, t2);
  if (!IsSmall(t1) && !IsSmall(t2))
    return t1 == t2 ? atom_sup : atom_inf;
  const int s = sign_of(t1) * sign_of(t2);
  if (s == 0)
    return FD_UNDEFINED;
  return s > 0 ? atom_sup : atom_inf;
}

namespace {

/* Division cases shared by both roundings: an infinite dividend, two
   infinities, a zero divisor, a zero dividend.  Returns true with *r set
   when one of them applies. */
bool divide_special(TAGGED t1, TAGGED t2, TAGGED *r)
{
  if (!IsSmall(t1)) {
    if (!IsSmall(t2)) {
      *r = FD_UNDEFINED;
    } else {
      const bool negative_divisor = GetSmall(t2) < 0;
      *r = is_inf(t1) != negative_divisor ? atom_inf : atom_sup;
    }
    return true;
  }
  const VR_INTEGER x = GetSmall(t1);
  if (IsSmall(t2) && GetSmall(t2) == 0) {
    *r = x < 0 ? atom_inf : x == 0 ? FD_UNDEFINED : atom_sup;
    return true;
  }
  if (x == 0) {
    *r = MakeSmall_checked(0);
    return true;
  }
  return false;
}

} // namespace

TAGGED fd_safe_divu(TAGGED t1, TAGGED t2)
{
  TAGGED r;
  if (divide_special(t1, t2, &r))
    return r;
  const std::int64_t x = GetSmall(t1);
  if (!IsSmall(t2)) /* a positive or negative infinitesimal */
    return MakeSmall_checked((x > 0) == is_sup(t2) ? 1 : 0);
  const std::int64_t y = GetSmall(t2);
  std::int64_t q;
  if ((x < 0) != (y < 0))
    q = x / y;
  else if (x > 0)
    q = (x + y - 1) / y;
  else
    q = (x + y + 1) / y;
  return saturate(q);
}

TAGGED fd_safe_divd(TAGGED t1, TAGGED t2)
{
  TAGGED r;
  if (divide_special(t1, t2, &r))
    return r;
  const std::int64_t x = GetSmall(t1);
  if (!IsSmall(t2))
    return MakeSmall_checked((x > 0) == is_sup(t2) ? 0 : -1);
  const std::int64_t y = GetSmall(t2);
  std::int64_t q;
  if ((x < 0) == (y < 0))
    q = x / y;
  else if (x > 0)
    q = (x - y - 1) / y;
  else
    q = (x + 1 - y) / y;
  return saturate(q);
}

TAGGED fd_safe_negate_val(TAGGED t1) { return saturate(-static_cast<std::int64_t>(GetSmall(t1))); }

TAGGED fd_safe_negate(TAGGED t1)
{
  if (is_inf(t1))
    return atom_sup;
  if (is_sup(t1))
    return atom_inf;
  return fd_safe_negate_val(t1);
}

TAGGED fd_safe_min(TAGGED t1, TAGGED t2) { return fd_order(t1) < fd_order(t2) ? t1 : t2; }

TAGGED fd_safe_max(TAGGED t1, TAGGED t2) { return fd_order(t1) > fd_order(t2) ? t1 : t2; }

long fast_modi(long i1, long i2)
{
  assert(i2 != 0);
  if (i2 == -1) /* LONG_MIN % -1 traps on x86; every remainder by -1 is 0 */
    return 0;
  long r = i1 % i2;
  if (r != 0 && (r < 0) != (i2 < 0))
    r += i2;
  return r;
}
