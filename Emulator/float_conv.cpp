/* float_conv.cpp: correctly rounded decimal <-> IEEE double conversion.
 *
 * Decimal to binary (vr_strtod): short inputs are converted with one exact
 * double operation; anything else starts from a floating-point estimate and
 * is corrected with exact big-integer comparisons against the half-ulp
 * neighbourhood of the candidate until it is the nearest double (ties to
 * even).  Binary to decimal (vr_dtoa): digits come from exact big-integer
 * division; the shortest modes stop as soon as the digits so far, or the
 * digits so far with the last one raised, lie inside the interval of
 * decimals that read back as the same double.  The fixed-length modes may
 * first try a cheap floating-point digit loop with a running error bound
 * and fall back to big integers when the bound cannot decide the last digit.
 *
 * Invariants: every intermediate double is a true 64-bit double (the build
 * uses SSE2 arithmetic; x87 extended registers would round twice and break
 * the fast paths).  Big integers are non-negative magnitudes with at least
 * one word in use and no leading zero words; they live only for the
 * duration of one conversion, except the cache of powers of five.
 *
 * Callers: the number parser, the float directives of format, the atom
 * classifier of the writer and the float-to-bignum conversion.  Engine
 * thread only: the powers-of-five cache grows without a lock.
 */
#include "float_conv.h"

#include <bit>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "memman.h"

namespace {

using ULong = std::uint32_t;
using ULLong = std::uint64_t;

/* A multiple-precision magnitude: x[0..wds-1], least significant first,
   with room for maxwds = 2^k words.  next links the cached powers of
   five. */
struct Bigint {
  Bigint *next;
  int k, maxwds, sign, wds;
  ULong x[];
};
static_assert(sizeof(void *) != 4 || offsetof(Bigint, x) == 20,
              "a block is 2^k words plus a 20-byte head on the 32-bit engine");

constexpr int BIGINT_CODE = MM_BIN_INSTANCE * 16;  /* bin 16, exhaustion faults */

constexpr int P = 53;              /* bits of precision */
constexpr int EMIN_DENORM = -1074; /* binary exponent of the subnormal ulp */
constexpr ULLong HIDDEN_BIT = ULLong{1} << 52;
constexpr ULLong FRAC_MASK = HIDDEN_BIT - 1;
constexpr ULLong EXP_MASK = ULLong{0x7ff} << 52;

constexpr double tens[] = {
  1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10, 1e11,
  1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22
};
constexpr int TEN_PMAX = 22;
constexpr double bigtens[] = { 1e16, 1e32, 1e64, 1e128, 1e256 };
constexpr double tinytens[] = { 1e-16, 1e-32, 1e-64, 1e-128, 1e-256 };
constexpr int N_BIGTENS = 5;

/* p05 first, then the cached squares 5^4, 5^8, 5^16, ... */
constexpr int p05[3] = { 5, 25, 125 };
Bigint *p5s = nullptr;

inline ULLong bits_of(double d)
{
  return std::bit_cast<ULLong>(d);
}

inline double double_of(ULLong u)
{
  return std::bit_cast<double>(u);
}

/* ---- Allocation ---- */

inline std::size_t bigint_bytes(int k)
{
  return offsetof(Bigint, x) + (std::size_t{1} << k) * sizeof(ULong);
}

Bigint *Balloc(int k)
{
  Bigint *b = static_cast<Bigint *>(checkalloc(bigint_bytes(k), BIGINT_CODE));
  b->next = nullptr;
  b->k = k;
  b->maxwds = 1 << k;
  b->sign = 0;
  b->wds = 0;
  return b;
}

void Bfree(Bigint *b)
{
  if (b != nullptr)
    checkdealloc(b, bigint_bytes(b->k), BIGINT_CODE);
}

void Bcopy(Bigint *to, const Bigint *from)
{
  to->sign = from->sign;
  to->wds = from->wds;
  std::memcpy(to->x, from->x, from->wds * sizeof(ULong));
}

Bigint *bcopy_new(const Bigint *from)
{
  Bigint *b = Balloc(from->k);
  Bcopy(b, from);
  return b;
}

/* ---- Bit counting ---- */

/* Leading zero bits of a 32-bit word (32 for zero). */
inline int hi0bits(ULong x)
{
  return std::countl_zero(x);
}

/* ---- Arithmetic ---- */

Bigint *i2b(ULong i)
{
  Bigint *b = Balloc(1);
  b->x[0] = i;
  b->wds = 1;
  return b;
}

Bigint *u64_to_big(ULLong v)
{
  Bigint *b = Balloc(1);
  b->x[0] = static_cast<ULong>(v);
  b->x[1] = static_cast<ULong>(v >> 32);
  b->wds = b->x[1] != 0 ? 2 : 1;
  return b;
}

/* b * m + a, reusing b when it has room. */
Bigint *multadd(Bigint *b, ULong m, ULong a)
{
  ULLong carry = a;
  int wds = b->wds;
  for (int i = 0; i < wds; i++) {
    ULLong y = static_cast<ULLong>(b->x[i]) * m + carry;
    b->x[i] = static_cast<ULong>(y);
    carry = y >> 32;
  }
  if (carry != 0) {
    if (wds >= b->maxwds) {
      Bigint *b1 = Balloc(b->k + 1);
      Bcopy(b1, b);
      Bfree(b);
      b = b1;
    }
    b->x[wds] = static_cast<ULong>(carry);
    b->wds = wds + 1;
  }
  return b;
}

/* The integer whose decimal digits are s[0..nd-1] (no sign, no point). */
Bigint *s2b(const char *s, int nd)
{
  int k = 0;
  for (int words = (nd + 8) / 9, room = 1; room < words; room <<= 1)
    k++;
  Bigint *b = Balloc(k);
  b->wds = 1;
  b->x[0] = 0;
  int i = 0;
  while (i < nd) {
    ULong chunk = 0, scale = 1;
    int n = 0;
    for (; n < 9 && i < nd; n++, i++) {
      chunk = chunk * 10 + static_cast<ULong>(s[i] - '0');
      scale *= 10;
    }
    b = multadd(b, scale, chunk);
  }
  return b;
}

int cmp(const Bigint *a, const Bigint *b)
{
  int i = a->wds, j = b->wds;
  if (i != j)
    return i > j ? 1 : -1;
  while (i-- > 0) {
    if (a->x[i] != b->x[i])
      return a->x[i] > b->x[i] ? 1 : -1;
  }
  return 0;
}

inline bool is_zero(const Bigint *b)
{
  return b->wds == 1 && b->x[0] == 0;
}

/* |a - b| in a new Bigint whose sign is 1 when a < b. */
Bigint *diff(const Bigint *a, const Bigint *b)
{
  int i = cmp(a, b);
  if (i == 0) {
    Bigint *c = Balloc(0);
    c->wds = 1;
    c->x[0] = 0;
    return c;
  }
  int sign = 0;
  if (i < 0) {
    const Bigint *t = a;
    a = b;
    b = t;
    sign = 1;
  }
  Bigint *c = Balloc(a->k);
  c->sign = sign;
  int wa = a->wds, wb = b->wds;
  ULLong borrow = 0;
  int j = 0;
  for (; j < wb; j++) {
    ULLong y = static_cast<ULLong>(a->x[j]) - b->x[j] - borrow;
    borrow = (y >> 32) & 1;
    c->x[j] = static_cast<ULong>(y);
  }
  for (; j < wa; j++) {
    ULLong y = static_cast<ULLong>(a->x[j]) - borrow;
    borrow = (y >> 32) & 1;
    c->x[j] = static_cast<ULong>(y);
  }
  while (wa > 1 && c->x[wa - 1] == 0)
    wa--;
  c->wds = wa;
  return c;
}

Bigint *mult(const Bigint *a, const Bigint *b)
{
  if (a->wds < b->wds) {
    const Bigint *t = a;
    a = b;
    b = t;
  }
  int wa = a->wds, wb = b->wds, wc = wa + wb;
  int k = a->k;
  if (wc > a->maxwds)
    k++;
  Bigint *c = Balloc(k);
  std::memset(c->x, 0, wc * sizeof(ULong));
  for (int j = 0; j < wb; j++) {
    ULLong y = b->x[j];
    if (y == 0)
      continue;
    ULLong carry = 0;
    ULong *xc = c->x + j;
    for (int i = 0; i < wa; i++) {
      ULLong z = a->x[i] * y + xc[i] + carry;
      xc[i] = static_cast<ULong>(z);
      carry = z >> 32;
    }
    xc[wa] = static_cast<ULong>(carry);
  }
  while (wc > 1 && c->x[wc - 1] == 0)
    wc--;
  c->wds = wc;
  return c;
}

/* b * 5^k; b is consumed. */
Bigint *pow5mult(Bigint *b, int k)
{
  if (int i = k & 3)
    b = multadd(b, static_cast<ULong>(p05[i - 1]), 0);
  k >>= 2;
  if (k == 0)
    return b;
  if (p5s == nullptr) {
    p5s = i2b(625);
    memman_add_release_hook(float_conv_release_cache);
  }
  Bigint *p5 = p5s;
  for (;;) {
    if (k & 1) {
      Bigint *b1 = mult(b, p5);
      Bfree(b);
      b = b1;
    }
    k >>= 1;
    if (k == 0)
      break;
    if (p5->next == nullptr)
      p5->next = mult(p5, p5);
    p5 = p5->next;
  }
  return b;
}

/* b * 2^k; b is consumed. */
Bigint *lshift(Bigint *b, int k)
{
  if (k <= 0 || is_zero(b))
    return b;
  int n = k >> 5;
  int k1 = b->k;
  int n1 = n + b->wds + 1;
  for (int i = b->maxwds; n1 > i; i <<= 1)
    k1++;
  Bigint *b1 = Balloc(k1);
  ULong *x1 = b1->x;
  for (int i = 0; i < n; i++)
    *x1++ = 0;
  const ULong *x = b->x, *xe = x + b->wds;
  k &= 31;
  if (k != 0) {
    int k2 = 32 - k;
    ULong z = 0;
    do {
      *x1++ = (*x << k) | z;
      z = *x++ >> k2;
    } while (x < xe);
    *x1 = z;
    if (z != 0)
      n1++;
  } else {
    do
      *x1++ = *x++;
    while (x < xe);
  }
  b1->wds = n1 - 1;
  Bfree(b);
  return b1;
}

/* The unit in the last place of a finite positive double. */
double ulp(double x)
{
  int ef = static_cast<int>((bits_of(x) & EXP_MASK) >> 52);
  return std::ldexp(1.0, ef == 0 ? EMIN_DENORM : ef - 1075);
}

/* The leading 53 bits of a (truncated) as a double in [1, 2); *e receives
   the bit length of a, so a ~= result * 2^(*e - 1).  a is non-zero. */
double b2d(const Bigint *a, int *e)
{
  int top = a->wds - 1;
  int lz = hi0bits(a->x[top]);
  *e = 32 * a->wds - lz;
  ULLong w = static_cast<ULLong>(a->x[top]) << 32;
  if (top >= 1)
    w |= a->x[top - 1];
  ULong w3 = top >= 2 ? a->x[top - 2] : 0;
  /* Normalise so that the most significant bit is bit 63. */
  if (lz != 0)
    w = (w << lz) | (w3 >> (32 - lz));
  return static_cast<double>(w >> 11) * 0x1p-52;
}

/* The exact split of a finite positive double as m * 2^e with m odd, and
   the bit count of m.  Returns m as a 64-bit word rather than a Bigint:
   its one user, vr_double_parts, must not allocate. */
void d2b(double d, ULLong *pm, int *pe, int *pbits)
{
  ULLong u = bits_of(d);
  ULLong m = u & FRAC_MASK;
  int ef = static_cast<int>((u & EXP_MASK) >> 52);
  int e;
  if (ef != 0) {
    m |= HIDDEN_BIT;
    e = ef - 1075;
  } else {
    e = EMIN_DENORM;
  }
  int tz = std::countr_zero(m);
  m >>= tz;
  *pm = m;
  *pe = e + tz;
  *pbits = 64 - std::countl_zero(m);
}

/* a / b as a double (both non-zero). */
double ratio(const Bigint *a, const Bigint *b)
{
  int ka, kb;
  double da = b2d(a, &ka);
  double db = b2d(b, &kb);
  return std::ldexp(da / db, ka - kb);
}

/* The next decimal digit: b = b mod S, returning floor(b / S).  Callers
   keep b < 10 * S; with S's top word normalised to [2^27, 2^28) the first
   estimate is at most one short, but any S works. */
int quorem(Bigint *b, const Bigint *S)
{
  int n = S->wds;
  if (b->wds < n)
    return 0;
  ULLong top = b->x[n - 1];
  if (b->wds > n)
    top |= static_cast<ULLong>(b->x[n]) << 32;
  ULLong q = top / (static_cast<ULLong>(S->x[n - 1]) + 1);
  if (q != 0) {
    ULLong borrow = 0, carry = 0;
    for (int i = 0; i < n; i++) {
      ULLong ys = S->x[i] * q + carry;
      carry = ys >> 32;
      ULLong y = static_cast<ULLong>(b->x[i]) - static_cast<ULong>(ys) - borrow;
      borrow = (y >> 32) & 1;
      b->x[i] = static_cast<ULong>(y);
    }
    if (b->wds > n)
      b->x[n] = static_cast<ULong>(b->x[n] - carry - borrow);
    int w = b->wds;
    while (w > 1 && b->x[w - 1] == 0)
      w--;
    b->wds = w;
  }
  while (cmp(b, S) >= 0) {
    ULLong borrow = 0;
    int i = 0;
    for (; i < n; i++) {
      ULLong y = static_cast<ULLong>(b->x[i]) - S->x[i] - borrow;
      borrow = (y >> 32) & 1;
      b->x[i] = static_cast<ULong>(y);
    }
    for (; i < b->wds; i++) {
      ULLong y = static_cast<ULLong>(b->x[i]) - borrow;
      borrow = (y >> 32) & 1;
      b->x[i] = static_cast<ULong>(y);
    }
    int w = b->wds;
    while (w > 1 && b->x[w - 1] == 0)
      w--;
    b->wds = w;
    q++;
  }
  return static_cast<int>(q);
}

/* ---- Decimal to binary ---- */

/* Digits kept exactly.  Every midpoint between two doubles has at most
   767 significant digits, so digits beyond this only matter as "something
   non-zero follows", which one sticky digit records. */
constexpr int MAX_SIG_DIGITS = 800;

/* The decimal D * 10^e with D the nd digits in s is compared with the
   candidate rv and rv moves toward it until it is the nearest double.
   Returns the result (positive, possibly 0 or infinity). */
double correct_rounding(double rv, const char *s, int nd, int e)
{
  constexpr double min_sub = 0x1p-1074;
  constexpr double max_dbl = 0x1.fffffffffffffp1023;
  Bigint *bd0 = s2b(s, nd);
  int ep = e > 0 ? e : 0, en = e < 0 ? -e : 0;
  for (;;) {
    ULLong u = bits_of(rv);
    int ef = static_cast<int>((u & EXP_MASK) >> 52);
    ULLong m = u & FRAC_MASK;
    int E;
    if (ef != 0) {
      m |= HIDDEN_BIT;
      E = ef - 1075;
    } else {
      E = EMIN_DENORM;
    }
    int Ep = E > 0 ? E : 0, En = E < 0 ? -E : 0;
    /* Everything times 2 * 2^En * 10^en, so that rv, the decimal and half
       an ulp of rv are all integers: bb = rv, bd = decimal, bs = ulp/2. */
    int bb2 = 1 + Ep + en, bd2 = 1 + ep + En, bs2 = Ep + en;
    int i = bb2 < bd2 ? bb2 : bd2;
    if (bs2 < i)
      i = bs2;
    bb2 -= i;
    bd2 -= i;
    bs2 -= i;
    Bigint *bs = pow5mult(i2b(1), en);
    Bigint *mb = u64_to_big(m);
    Bigint *bb = mult(bs, mb);
    Bfree(mb);
    bb = lshift(bb, bb2);
    bs = lshift(bs, bs2);
    Bigint *bd = bcopy_new(bd0);
    bd = pow5mult(bd, ep);
    bd = lshift(bd, bd2);
    Bigint *delta = diff(bb, bd);
    bool up = delta->sign != 0;  /* the decimal lies above rv */
    Bfree(bb);
    Bfree(bd);
    if (is_zero(delta)) {
      Bfree(delta);
      Bfree(bs);
      break;
    }
    /* Just above a power of two the next double down is half an ulp
       away, so the rounding interval below is half as wide. */
    bool narrow_below = !up && m == HIDDEN_BIT && E > EMIN_DENORM;
    if (narrow_below)
      delta = lshift(delta, 1);
    int c = cmp(delta, bs);
    double steps = c > 0 ? ratio(delta, bs) / 2 : 0;
    Bfree(delta);
    Bfree(bs);
    if (c < 0 || (c == 0 && (m & 1) == 0))
      break;
    if (up && rv == max_dbl) {
      rv = HUGE_VAL;
      break;
    }
    if (!up && rv == min_sub) {
      rv = 0;
      break;
    }
    if (c == 0 || steps < 2) {
      /* One ulp toward the decimal; a tie ends at the even neighbour. */
      rv = double_of(up ? u + 1 : u - 1);
      if (c == 0)
        break;
      continue;
    }
    /* Far off: move by a safe under-estimate of the distance. */
    double step = (std::floor(steps) - 1) * (narrow_below ? ulp(rv) / 2 : ulp(rv));
    rv = up ? rv + step : rv - step;
    if (rv > max_dbl)
      rv = max_dbl;
    else if (rv <= 0)
      rv = min_sub;
  }
  Bfree(bd0);
  return rv;
}

/* Value of the digits s[0..nd-1] times 10^e (nd >= 1, s[0] != '0',
   s[nd-1] != '0'), correctly rounded; sets errno on overflow/underflow. */
double decimal_to_double(const char *s, int nd, long long e)
{
  /* value < 10^(e+nd) <= 1e-324 < 2^-1075: below half the least
     subnormal.  value >= 10^(e+nd-1) >= 1e309: above the largest double. */
  if (e + nd <= -324) {
    errno = ERANGE;
    return 0.0;
  }
  if (e + nd >= 310) {
    errno = ERANGE;
    return HUGE_VAL;
  }
  int ie = static_cast<int>(e);
  int nused = nd < 19 ? nd : 19;
  ULLong y = 0;
  for (int i = 0; i < nused; i++)
    y = y * 10 + static_cast<ULLong>(s[i] - '0');
  double rv = static_cast<double>(y);
  /* Exact operands and one rounding: already the nearest double. */
  if (nd <= 15) {
    if (ie == 0)
      return rv;
    if (ie > 0) {
      if (ie <= TEN_PMAX)
        return rv * tens[ie];
      int slack = 15 - nd;
      if (ie <= TEN_PMAX + slack) {
        rv *= tens[slack];  /* exact: still below 10^15 */
        return rv * tens[ie - slack];
      }
    } else if (ie >= -TEN_PMAX) {
      return rv / tens[-ie];
    }
  }
  /* A first approximation within a few ulps.  All factors are on one side
     of 1, so intermediates never overflow or underflow before the final
     value would. */
  int e1 = ie + (nd - nused);
  if (e1 > 0) {
    if (e1 & 15)
      rv *= tens[e1 & 15];
    e1 >>= 4;
    for (int j = 0; e1 != 0 && j < N_BIGTENS; j++, e1 >>= 1) {
      if (e1 & 1)
        rv *= bigtens[j];
    }
  } else if (e1 < 0) {
    e1 = -e1;
    if (e1 & 15)
      rv /= tens[e1 & 15];
    e1 >>= 4;
    for (int j = 0; e1 != 0 && j < N_BIGTENS; j++, e1 >>= 1) {
      if (e1 & 1)
        rv *= tinytens[j];
    }
  }
  if (std::isinf(rv))
    rv = 0x1.fffffffffffffp1023;
  else if (rv == 0)
    rv = 0x1p-1074;
  rv = correct_rounding(rv, s, nd, ie);
  if (rv == 0 || std::isinf(rv))
    errno = ERANGE;
  return rv;
}

/* ---- Binary to decimal ---- */

/* floor(log10(d)) or one more, for finite positive d (the tangent of
   log10 at 1.5 lies above the curve). */
int k_estimate(double d)
{
  ULLong u = bits_of(d);
  int ef = static_cast<int>((u & EXP_MASK) >> 52);
  ULLong m = u & FRAC_MASK;
  int i;
  if (ef != 0) {
    i = ef - 1023;
  } else {
    int bl = 64 - std::countl_zero(m);  /* bits of the subnormal fraction */
    i = bl - 1 - 1074;
    m = (m << (53 - bl)) & FRAC_MASK;
  }
  double d2 = double_of(m | (ULLong{1023} << 52));  /* in [1, 2) */
  double ds = (d2 - 1.5) * 0.289529654602168 + 0.1760912590558 + i * 0.301029995663981;
  int k = static_cast<int>(ds);
  if (ds < 0 && ds != k)
    k--;
  return k;
}

/* Raises the digit string res[0..n-1] by one unit in its last place;
   returns the new length, adjusting *k when the carry runs out. */
int round_up_digits(char *res, int n, int *k)
{
  while (n > 0 && res[n - 1] == '9')
    n--;
  if (n == 0) {
    res[0] = '1';
    (*k)++;
    return 1;
  }
  res[n - 1]++;
  return n;
}

int strip_zeros(const char *res, int n)
{
  while (n > 1 && res[n - 1] == '0')
    n--;
  return n;
}

/* The floating-point attempt for the fixed-length modes: scales d into
   [1, 10) and peels off digits, carrying a bound on the accumulated
   rounding error; gives up (false) whenever the bound leaves the rounding
   of the last digit open.  For normal d with at most 14 digits the
   early-stopping modes 4/5 give the same digits as 2/3 (a shorter string
   that read back as d would also be the correctly rounded one). */
bool quick_digits(double d, int mode, int ndigits, char *res, int *pn, int *pk)
{
  int ef = static_cast<int>((bits_of(d) & EXP_MASK) >> 52);
  if (ef <= 1)
    return false;
  int k = k_estimate(d);
  double ds = d;
  int ieps = 1;
  if (k > 0) {
    double scale = tens[k & 15];
    int j = k >> 4;
    for (int i = 0; j != 0; i++, j >>= 1) {
      if (i >= N_BIGTENS)
        return false;
      if (j & 1) {
        scale *= bigtens[i];
        ieps++;
      }
    }
    ds /= scale;
    ieps++;
  } else if (k < 0) {
    int j = -k;
    ds *= tens[j & 15];
    ieps++;
    j >>= 4;
    for (int i = 0; j != 0; i++, j >>= 1) {
      if (i >= N_BIGTENS)
        return false;
      if (j & 1) {
        ds *= bigtens[i];
        ieps++;
      }
    }
  }
  if (ds < 1.0) {
    ds *= 10.0;
    ieps++;
    k--;
  }
  /* Relative error at most ieps half-ulps; doubled for margin. */
  double eps = ieps * ds * 0x1p-52;
  if (ds - eps <= 1.0 || ds + eps >= 10.0)
    return false;
  int ilim = (mode == 2 || mode == 4) ? (ndigits < 1 ? 1 : ndigits) : k + 1 + ndigits;
  if (ilim < 1 || ilim > 14)
    return false;
  int n = 0;
  for (int i = 1;; i++) {
    int dig = static_cast<int>(ds);
    ds -= dig;  /* exact */
    res[n++] = static_cast<char>('0' + dig);
    if (i == ilim)
      break;
    ds *= 10.0;
    eps = eps * 10.0 + 0x1p-49;
  }
  if (ds > 0.5 + eps)
    n = round_up_digits(res, n, &k);
  else if (!(ds < 0.5 - eps))
    return false;
  *pn = strip_zeros(res, n);
  *pk = k;
  return true;
}

/* Digits of finite positive d by exact arithmetic.  Returns the digit
   count (0: no digit at all) and sets *pk so that d ~= 0.digits * 10^(k+1). */
int big_digits(double d, int mode, int ndigits, char *res, int *pk)
{
  ULLong u = bits_of(d);
  int ef = static_cast<int>((u & EXP_MASK) >> 52);
  ULLong M = u & FRAC_MASK;
  int E;
  if (ef != 0) {
    M |= HIDDEN_BIT;
    E = ef - 1075;
  } else {
    E = EMIN_DENORM;
  }
  int k = k_estimate(d);
  bool leftright = mode == 0 || mode == 1 || mode == 4 || mode == 5;

  /* d / 10^k = b / S with b = M * 2^b2 * 5^b5 and S = 2^s2 * 5^s5. */
  int b2 = E > 0 ? E : 0, s2 = E < 0 ? -E : 0, b5 = 0, s5 = 0;
  if (k >= 0) {
    s2 += k;
    s5 = k;
  } else {
    b2 -= k;
    b5 = -k;
  }
  /* mlo/mhi: half the gap to the neighbouring doubles, in b's scale.  b
     and S are doubled so that the half-gap is an integer, and doubled
     again just above a power of two where the gap below is half the gap
     above. */
  int m2 = b2;
  bool boundary = leftright && M == HIDDEN_BIT && ef > 1;
  if (leftright) {
    int i = boundary ? 2 : 1;
    b2 += i;
    s2 += i;
  }
  int i = b2 < s2 ? b2 : s2;
  if (leftright && m2 < i)
    i = m2;
  b2 -= i;
  s2 -= i;
  m2 -= i;
  Bigint *S = pow5mult(i2b(1), s5);
  /* Shift S's top word into [2^27, 2^28) so that quorem's estimate is
     nearly exact. */
  int s_bits = 32 * (S->wds - 1) + (32 - hi0bits(S->x[S->wds - 1])) + s2;
  int extra = ((28 - s_bits) % 32 + 32) % 32;
  b2 += extra;
  s2 += extra;
  m2 += extra;
  S = lshift(S, s2);
  Bigint *b = lshift(pow5mult(u64_to_big(M), b5), b2);
  Bigint *mlo = nullptr, *mhi = nullptr;
  if (leftright) {
    mlo = lshift(pow5mult(i2b(1), b5), m2);
    mhi = boundary ? lshift(bcopy_new(mlo), 1) : mlo;
  }
  if (cmp(b, S) < 0) {  /* the estimate was one too large */
    k--;
    b = multadd(b, 10, 0);
    if (leftright) {
      if (mhi != mlo)
        mhi = multadd(mhi, 10, 0);
      mlo = multadd(mlo, 10, 0);
      if (!boundary)
        mhi = mlo;
    }
  }
  int ilim;
  if (mode == 0 || mode == 1)
    ilim = 1 << 30;
  else if (mode == 2 || mode == 4)
    ilim = ndigits < 1 ? 1 : ndigits;
  else
    ilim = k + 1 + ndigits;

  int n = 0;
  bool round_last = false;
  if (ilim <= 0) {
    /* Mode 3/5 asking for no digit before the requested place: one digit
       "1" in the place above when d exceeds half of it, else nothing
       (an exact half rounds to the even 0). */
    if (ilim == 0) {
      Bigint *S5 = multadd(bcopy_new(S), 5, 0);
      if (cmp(b, S5) > 0) {
        res[n++] = '1';
        k++;
      }
      Bfree(S5);
    }
  } else if (leftright) {
    bool inclusive = mode != 1 && (M & 1) == 0;
    for (int count = 1;; count++) {
      int dig = quorem(b, S);
      int j = cmp(b, mlo);
      Bigint *delta = diff(S, mhi);
      int j1 = delta->sign ? 1 : cmp(b, delta);
      Bfree(delta);
      bool low = j < 0 || (j == 0 && inclusive);
      bool high = j1 > 0 || (j1 == 0 && inclusive);
      if (low || high) {
        if (low && high) {
          b = lshift(b, 1);
          int c = cmp(b, S);
          if (c > 0 || (c == 0 && (dig & 1)))
            dig++;
        } else if (high) {
          dig++;
        }
        if (dig == 10) {
          res[n++] = '9';
          n = round_up_digits(res, n, &k);
        } else {
          res[n++] = static_cast<char>('0' + dig);
        }
            break;
      }
      res[n++] = static_cast<char>('0' + dig);
      if (count >= ilim) {
        round_last = true;
        break;
      }
      b = multadd(b, 10, 0);
      if (mhi != mlo)
        mhi = multadd(mhi, 10, 0);
      mlo = multadd(mlo, 10, 0);
      if (!boundary)
        mhi = mlo;
    }
  } else {
    for (int count = 1;; count++) {
      int dig = quorem(b, S);
      res[n++] = static_cast<char>('0' + dig);
      if (is_zero(b)) {
            break;
      }
      if (count >= ilim) {
        round_last = true;
        break;
      }
      b = multadd(b, 10, 0);
    }
  }
  if (round_last) {
    /* Round half to even on the exact remainder. */
    b = lshift(b, 1);
    int c = cmp(b, S);
    if (c > 0 || (c == 0 && ((res[n - 1] - '0') & 1)))
      n = round_up_digits(res, n, &k);
  }
  if (mhi != mlo)
    Bfree(mhi);
  Bfree(mlo);
  Bfree(b);
  Bfree(S);
  *pk = k;
  return n == 0 ? 0 : strip_zeros(res, n);
}

}  // namespace

double vr_strtod(const char *text, char **pend)
{
  const char *s = text;
  while (std::isspace(static_cast<unsigned char>(*s)))
    s++;
  bool negative = false;
  if (*s == '-' || *s == '+') {
    negative = *s == '-';
    s++;
  }
  char digits[MAX_SIG_DIGITS + 1];
  int nd = 0;
  bool any_digit = false, sticky = false;
  long long e = 0;  /* value = digits * 10^e; wide because digit runs may be long */
  for (; *s >= '0' && *s <= '9'; s++) {
    any_digit = true;
    if (nd == 0 && *s == '0')
      continue;
    if (nd < MAX_SIG_DIGITS)
      digits[nd++] = *s;
    else {
      sticky |= *s != '0';
      e++;
    }
  }
  if (*s == '.') {
    const char *after = s + 1;
    if (any_digit || (*after >= '0' && *after <= '9')) {
      s = after;
      for (; *s >= '0' && *s <= '9'; s++) {
        any_digit = true;
        if (nd == 0 && *s == '0') {
          e--;
          continue;
        }
        if (nd < MAX_SIG_DIGITS) {
          digits[nd++] = *s;
          e--;
        } else {
          sticky |= *s != '0';
        }
      }
    }
  }
  if (!any_digit) {
    if (pend != nullptr)
      *pend = const_cast<char *>(text);
    return 0.0;
  }
  if (*s == 'e' || *s == 'E') {
    const char *t = s + 1;
    bool eneg = false;
    if (*t == '-' || *t == '+') {
      eneg = *t == '-';
      t++;
    }
    if (*t >= '0' && *t <= '9') {
      /* Leading zeros carry no magnitude: 1e0000000000000001 is 1e1. */
      while (*t == '0')
        t++;
      long exp = 0;
      int exp_digits = 0;
      for (; *t >= '0' && *t <= '9'; t++) {
        if (exp_digits < 9)
          exp = exp * 10 + (*t - '0');
        exp_digits++;
      }
      if (exp_digits > 8 || exp > 19999)
        exp = 19999;
      e += eneg ? -exp : exp;
      s = t;
    }
  }
  if (pend != nullptr)
    *pend = const_cast<char *>(s);
  double rv;
  if (nd == 0) {
    rv = 0.0;
  } else {
    if (sticky) {
      digits[nd++] = '1';
      e--;
    } else {
      while (digits[nd - 1] == '0') {
        nd--;
        e++;
      }
    }
    rv = decimal_to_double(digits, nd, e);
  }
  return negative ? -rv : rv;
}

void vr_dtoa(double d, int mode, int ndigits, int *pdecpt, int *psign, char *res)
{
  ULLong u = bits_of(d);
  *psign = static_cast<int>(u >> 63);
  if ((u & EXP_MASK) == EXP_MASK) {
    std::strcpy(res, (u & FRAC_MASK) != 0 ? "NaN" : "Infinity");
    *pdecpt = 9999;
    return;
  }
  d = std::fabs(d);
  if (d == 0) {
    std::strcpy(res, "0");
    *pdecpt = 1;
    return;
  }
  if (mode < 0 || mode > 9)
    mode = 0;
  bool try_quick = true;
  if (mode > 5) {
    mode -= 4;
    try_quick = false;
  }
  int n, k;
  if (!(try_quick && mode >= 2 && quick_digits(d, mode, ndigits, res, &n, &k)))
    n = big_digits(d, mode, ndigits, res, &k);
  if (n == 0) {
    std::strcpy(res, "0");
    *pdecpt = 1;
    return;
  }
  res[n] = '\0';
  *pdecpt = k + 1;
}

void vr_double_parts(double f, int *psign, int *pscale, int *pbits, int pmantissa[2])
{
  double t = f < 0 ? std::ceil(f) : std::floor(f);
  *psign = t < 0 ? 1 : 0;
  *pbits = 0;
  if (!std::isfinite(t))
    return;
  t = std::fabs(t);
  if (t == 0) {
    *pscale = 0;
    pmantissa[0] = pmantissa[1] = 0;
    return;
  }
  ULLong m;
  d2b(t, &m, pscale, pbits);
  pmantissa[0] = static_cast<int>(static_cast<ULong>(m));
  pmantissa[1] = static_cast<int>(static_cast<ULong>(m >> 32));
}

void float_conv_release_cache(void)
{
  while (p5s != nullptr) {
    Bigint *next = p5s->next;
    Bfree(p5s);
    p5s = next;
  }
}
