/* dword.h: the three-word integers of the multi-word linear propagator
 * (linear.cpp), and their few operations.
 *
 * A dword is a 96-bit two's-complement integer: infw (signed, most
 * significant), msw, lsw.  2^64 (infw 1, the rest 0) stands for plus
 * infinity and -2^64 (infw -1, the rest 0) for minus infinity.  They are
 * plain numbers to the operations: a sum with one infinite term lies far
 * beyond every small integer and every product of two, and taking that
 * term's infinity out again leaves the exact finite rest, which is all
 * the propagator relies on.  Only the sums
 * (add_ddd, sub_ddd) check for overflow of the top word: they set the
 * solver's fd_overflow flag, and the result is then meaningless.
 *
 * Operand kinds in the names: d a dword, t a tagged integer, l a signed
 * word, u an unsigned word, z zero.  The last operand gets the result and
 * may be one of the inputs.  Everything works on the caller's records;
 * nothing allocates.
 */
#ifndef TRELIX_CLPFD_DWORD_H
#define TRELIX_CLPFD_DWORD_H

#include <cstdint>

#include "fd_state.h"

struct dword {
  std::int32_t infw;
  std::uint32_t msw;
  std::uint32_t lsw;
};
typedef dword *Dword;
static_assert(sizeof(dword) == 12);

/* -1, 0 or 1 as x is below, equal to or above y. */
int cmp_dd(const dword *x, const dword *y);
/* Sign of x: -1, 0, 1. */
int sign_d(const dword *x);
/* x lies in the small-integer range -2^28..2^28-1. */
bool fits_small_d(const dword *x);
/* The low word of x as a signed integer (meaningful when it fits). */
inline long low_l(const dword *x) { return static_cast<std::int32_t>(x->lsw); }
/* A signed word, sign-extended. */
void set_dl(dword *z, long v);
void set_inf(dword *z, int sign);

void add_ztd(TAGGED t, dword *z);
void add_ddd(VREnv *env, const dword *x, const dword *y, dword *z);
void sub_ddd(VREnv *env, const dword *x, const dword *y, dword *z);
void sub_dld(const dword *x, long y, dword *z);
void sub_zdd(const dword *y, dword *z);
void add_dud(const dword *x, std::uint32_t y, dword *z);
void sub_dud(const dword *x, std::uint32_t y, dword *z);
void mul_uud(std::uint32_t x, std::uint32_t y, dword *z);
void mul_ltd(long x, TAGGED ty, dword *z);
void div_dud(VREnv *env, const dword *x, std::uint32_t y, dword *z);
long div_dll(VREnv *env, const dword *x, long y);
void div_dldf(VREnv *env, const dword *x, long y, dword *z);
void div_dldc(VREnv *env, const dword *x, long y, dword *z);
std::uint32_t mod_duu_internal(const dword *x, std::uint32_t y);
std::uint32_t mod_duu(const dword *x, std::uint32_t y);

#endif
