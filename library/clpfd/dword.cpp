/* dword.cpp: the three-word integers of the multi-word linear propagator
 * (see dword.h).
 *
 * The two low words are handled as one unsigned 64-bit quantity; the top
 * word takes the carry or borrow.  Divisions work on magnitudes below
 * 2^64 and copy the top word, so that an infinity divided stays an
 * infinity.
 */
#include "dword.h"

#include "fdsets.h"

namespace {

inline std::uint64_t low64(const dword *x) { return (static_cast<std::uint64_t>(x->msw) << 32) | x->lsw; }

inline void set_low64(dword *z, std::int32_t infw, std::uint64_t low)
{
  z->infw = infw;
  z->msw = static_cast<std::uint32_t>(low >> 32);
  z->lsw = static_cast<std::uint32_t>(low);
}

inline void set_overflow(VREnv *env) { fd_state_of(env)->fd_overflow = 1; }

/* The top word of a sum, or the overflow flag when it does not fit. */
inline std::int32_t top_word(VREnv *env, std::int64_t top)
{
  if (top < INT32_MIN || top > INT32_MAX)
    set_overflow(env);
  return static_cast<std::int32_t>(top);
}

/* |x| of a finite or infinite x; *negative tells whether x was below 0. */
dword magnitude(const dword *x, bool *negative)
{
  dword m = *x;
  *negative = x->infw < 0;
  if (*negative)
    sub_zdd(x, &m);
  return m;
}

inline std::uint32_t abs_word(long y) { return y < 0 ? 0u - static_cast<std::uint32_t>(y) : static_cast<std::uint32_t>(y); }

/* x / y rounded down (ceiling false) or up, for a signed y. */
void div_rounded(VREnv *env, const dword *x, long y, dword *z, bool ceiling)
{
  if (y == 1) {
    *z = *x;
    return;
  }
  bool negative;
  dword m = magnitude(x, &negative);
  const std::uint32_t ay = abs_word(y);
  const bool differ = negative != (y < 0);
  /* Rounding away from zero on the magnitudes: floor when the signs
     differ, ceiling when they agree. */
  if (differ != ceiling)
    add_dud(&m, ay - 1, &m);
  div_dud(env, &m, ay, &m);
  if (differ)
    sub_zdd(&m, &m);
  *z = m;
}

} // namespace

int cmp_dd(const dword *x, const dword *y)
{
  if (x->infw != y->infw)
    return x->infw < y->infw ? -1 : 1;
  if (x->msw != y->msw)
    return x->msw < y->msw ? -1 : 1;
  if (x->lsw != y->lsw)
    return x->lsw < y->lsw ? -1 : 1;
  return 0;
}

int sign_d(const dword *x)
{
  if (x->infw < 0)
    return -1;
  return x->infw > 0 || x->msw != 0 || x->lsw != 0 ? 1 : 0;
}

bool fits_small_d(const dword *x)
{
  if (x->infw == 0)
    return x->msw == 0 && x->lsw <= 0x0fffffffu;
  if (x->infw == -1)
    return x->msw == 0xffffffffu && static_cast<std::int32_t>(x->lsw) >= SMALL_MIN &&
           static_cast<std::int32_t>(x->lsw) < 0;
  return false;
}

void set_dl(dword *z, long v)
{
  set_low64(z, v < 0 ? -1 : 0, static_cast<std::uint64_t>(static_cast<std::int64_t>(v)));
}

void set_inf(dword *z, int sign) { set_low64(z, sign < 0 ? -1 : 1, 0); }

void add_ztd(TAGGED t, dword *z)
{
  if (IsSmall(t)) {
    set_dl(z, GetSmall(t));
    return;
  }
  const TAGGED *box = TagToSTR(t);
  if (box[0] == BOX_INT1) {
    set_dl(z, static_cast<std::int32_t>(box[1]));
    return;
  }
  /* Two digits, least significant first, the second one signed. */
  const std::int64_t v = static_cast<std::int64_t>((static_cast<std::uint64_t>(box[2]) << 32) | box[1]);
  set_low64(z, v < 0 ? -1 : 0, static_cast<std::uint64_t>(v));
}

void add_ddd(VREnv *env, const dword *x, const dword *y, dword *z)
{
  const std::uint64_t a = low64(x), low = a + low64(y);
  const std::int64_t top = static_cast<std::int64_t>(x->infw) + y->infw + (low < a ? 1 : 0);
  set_low64(z, top_word(env, top), low);
}

void sub_ddd(VREnv *env, const dword *x, const dword *y, dword *z)
{
  const std::uint64_t a = low64(x), b = low64(y);
  const std::int64_t top = static_cast<std::int64_t>(x->infw) - y->infw - (a < b ? 1 : 0);
  set_low64(z, top_word(env, top), a - b);
}

void sub_dld(const dword *x, long y, dword *z)
{
  dword d;
  set_dl(&d, y);
  const std::uint64_t a = low64(x), b = low64(&d);
  set_low64(z, x->infw - d.infw - (a < b ? 1 : 0), a - b);
}

void sub_zdd(const dword *y, dword *z)
{
  const std::uint64_t b = low64(y);
  set_low64(z, -y->infw - (b != 0 ? 1 : 0), 0 - b);
}

void add_dud(const dword *x, std::uint32_t y, dword *z)
{
  const std::uint64_t a = low64(x), low = a + y;
  set_low64(z, x->infw + (low < a ? 1 : 0), low);
}

void sub_dud(const dword *x, std::uint32_t y, dword *z)
{
  const std::uint64_t a = low64(x);
  set_low64(z, x->infw - (a < y ? 1 : 0), a - y);
}

void mul_uud(std::uint32_t x, std::uint32_t y, dword *z) { set_low64(z, 0, static_cast<std::uint64_t>(x) * y); }

void mul_ltd(long x, TAGGED ty, dword *z)
{
  if (ty == atom_inf) {
    set_inf(z, x <= 0 ? 1 : -1);
    return;
  }
  if (ty == atom_sup) {
    set_inf(z, x <= 0 ? -1 : 1);
    return;
  }
  const long y = GetSmall(ty);
  if (x > -32768 && x < 32768 && y > -32768 && y < 32768) {
    set_dl(z, x * y);
    return;
  }
  mul_uud(abs_word(x), abs_word(y), z);
  if ((x < 0) != (y < 0))
    sub_zdd(z, z);
}

void div_dud(VREnv *, const dword *x, std::uint32_t y, dword *z)
{
  if (y == 1) {
    *z = *x;
    return;
  }
  set_low64(z, x->infw, low64(x) / y);
}

long div_dll(VREnv *env, const dword *x, long y)
{
  if (y == 1)
    return low_l(x);
  bool negative;
  dword m = magnitude(x, &negative);
  div_dud(env, &m, abs_word(y), &m);
  if (negative != (y < 0))
    sub_zdd(&m, &m);
  return low_l(&m);
}

void div_dldf(VREnv *env, const dword *x, long y, dword *z) { div_rounded(env, x, y, z, false); }

void div_dldc(VREnv *env, const dword *x, long y, dword *z) { div_rounded(env, x, y, z, true); }

std::uint32_t mod_duu_internal(const dword *x, std::uint32_t y)
{
  return y == 1 ? 0 : static_cast<std::uint32_t>(low64(x) % y);
}

std::uint32_t mod_duu(const dword *x, std::uint32_t y)
{
  bool negative;
  const dword m = magnitude(x, &negative);
  const std::uint32_t r = mod_duu_internal(&m, y);
  return negative && r != 0 ? y - r : r;
}
