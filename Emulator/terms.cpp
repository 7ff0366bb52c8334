/* terms.cpp: number and structure constructors on the heap, and readers of
 * boxed numbers.
 *
 * Constructors write at w->global_top and advance it; they never check for
 * room (callers keep the heap below its warning limit).  Every integer they
 * box is canonical: the callers of make_integer guarantee a value outside
 * the small range, make_int64 chooses the shortest form itself.  Every NaN
 * stored is the one canonical NaN, so that two NaN floats unify.
 */
#include "terms.h"

#include <cmath>
#include <cstring>

#include "errors.h"
#include "worker.h"

double ieee_plus_inf, ieee_minus_inf, ieee_nan;

void init_float_constants(void)
{
  volatile double zero = 0.0;
  ieee_plus_inf = 1.0 / zero;
  ieee_minus_inf = -ieee_plus_inf;
  /* The canonical NaN: sign set, quiet, no payload (what 0.0/0.0 gives on
     x86); spelled out rather than computed so that no compiler folding can
     change it. */
  const std::uint64_t bits = 0xFFF8000000000000ull;
  std::memcpy(&ieee_nan, &bits, sizeof ieee_nan);
}

namespace {
struct float_constants_init {
  float_constants_init() { init_float_constants(); }
} float_constants_init_once;

inline void store_double(TAGGED *p, double d)
{
  std::memcpy(p, &d, sizeof d); /* low word first: the machine's order */
}

inline double load_double(const TAGGED *p)
{
  double d;
  std::memcpy(&d, p, sizeof d);
  return d;
}
} // namespace

TAGGED make_integer(worker *w, VR_INTEGER i)
{
  TAGGED *h = w->global_top;
  h[0] = BOX_INT1;
  h[1] = static_cast<TAGGED>(i);
  h[2] = BOX_INT1;
  w->global_top = h + 3;
  return MakeSTR(h);
}

TAGGED vr_make_integer(worker *w, VR_INTEGER i) { return make_integer(w, i); }

TAGGED make_int64(worker *w, VR_int64 v)
{
  const auto lo = static_cast<VR_INTEGER>(static_cast<std::uint64_t>(v));
  const auto hi = static_cast<VR_INTEGER>(static_cast<std::uint64_t>(v) >> 32);
  if (hi == (lo >> 31)) {
    if (IntIsSmall(lo))
      return MakeSmall_checked(lo);
    return make_integer(w, lo);
  }
  /* The high word is not the sign extension of the low one, so two digits
     are already minimal. */
  TAGGED *h = w->global_top;
  h[0] = BOX_INT2;
  h[1] = static_cast<TAGGED>(lo);
  h[2] = static_cast<TAGGED>(hi);
  h[3] = BOX_INT2;
  w->global_top = h + 4;
  return MakeSTR(h);
}

TAGGED make_integer_term(worker *w, VR_int64 v)
{
  return make_int64(w, v);
}

TAGGED make_float(worker *w, double d)
{
  if (std::isnan(d))
    d = ieee_nan;
  TAGGED *h = w->global_top;
  h[0] = BOX_FLOAT;
  store_double(h + 1, d);
  h[3] = BOX_FLOAT;
  w->global_top = h + 4;
  return MakeSTR(h);
}

TAGGED make_large(worker *w, const TAGGED *p)
{
  const TAGGED header = p[0];
  const unsigned words = BoxWords(header); /* header + payload */
  TAGGED *h = w->global_top;
  std::memcpy(h, p, words * sizeof(TAGGED));
  h[words] = header;
  w->global_top = h + words + 1;
  return MakeSTR(h);
}

TAGGED make_structure(worker *w, TAGGED functor)
{
  if (!IsFunctor(functor))
    return functor;
  TAGGED *h = w->global_top;
  if (functor == functor_list) {
    h[0] = PointerToTerm(h);
    h[1] = PointerToTerm(h + 1);
    w->global_top = h + 2;
    return MakeLST(h);
  }
  const unsigned arity = Arity(functor);
  h[0] = functor;
  for (unsigned i = 1; i <= arity; i++)
    h[i] = PointerToTerm(h + i);
  w->global_top = h + arity + 1;
  return MakeSTR(h);
}

double vri_get_float(TAGGED box)
{
  const TAGGED *p = TagToSTR(box);
  const TAGGED header = p[0];
  if (BoxIsFloat(header))
    return load_double(p + 1);
  const unsigned n = BoxPayload(header);
  /* Most significant digit first, signed; then each lower digit unsigned,
     rounding to double after every step.  Rounding at every step can leave
     the result one ulp from the correctly rounded value for integers of
     three or more digits; stored numbers depend on this exact procedure, so
     it is kept. */
  double f = static_cast<double>(static_cast<VR_INTEGER>(p[n]));
  for (unsigned i = n - 1; i >= 1; i--)
    f = f * 4294967296.0 + static_cast<double>(p[i]);
  if (!std::isfinite(f)) {
    save_error(263, "", box);
    return ieee_nan;
  }
  return f;
}

VR_int64 vri_get_int64(TAGGED box)
{
  const TAGGED *p = TagToSTR(box);
  const TAGGED header = p[0];
  if (BoxIsFloat(header))
    return static_cast<VR_int64>(load_double(p + 1));
  if (BoxPayload(header) == 1)
    return static_cast<VR_INTEGER>(p[1]);
  return static_cast<VR_int64>((static_cast<std::uint64_t>(p[2]) << 32) | p[1]);
}

VR_INTEGER vri_get_integer(TAGGED box)
{
  const TAGGED *p = TagToSTR(box);
  const TAGGED header = p[0];
  if (BoxIsFloat(header))
    return static_cast<VR_INTEGER>(load_double(p + 1));
  return static_cast<VR_INTEGER>(p[1]);
}
