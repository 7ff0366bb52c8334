/* ftest.cpp: the foreign resource the tests load as a shared object
 * (tests/prolog/foreign.pl).  It takes its interface structure first
 * (VR_MAINFUN_LEADING_VRENV) and reaches the runtime only through that
 * structure's table, as a resource built apart from the runtime must.
 * One function per argument type and mode of a foreign declaration, and
 * ones that fail, raise, and return what no argument can take.
 * Built twice: as ftest (its entry function ftestnoentry lacks) and,
 * with FTEST_BAD_ENTRY, as ftestbad, whose entry answers without
 * choosing a calling convention.
 */
#include <cctype>
#include <cmath>
#include <cstring>

#include "vostrel/vostrel_foreign.h"

namespace {

int init_calls = 0;
int deinit_calls = 0;
char text_buffer[256];

DISPATCH_TABLE_STRUCT_VOSTREL_H *api(VREnv *e) { return e->dispatch_API_VOSTREL_H; }

/* The leading word must be the resource's own structure, whose stash
   points at itself. */
int stash_ok(VREnv *e) { return e != nullptr && e->stash == e; }

extern "C" {

long ft_int(VREnv *e, long x) { return stash_ok(e) ? x : -1; }
long ft_add3(VREnv *, long a, long b, long c) { return a + b + c; }
void ft_int_out(VREnv *, long x, long *out) { *out = x; }
double ft_twice(VREnv *, double x) { return 2 * x; }
void ft_float_out(VREnv *, double x, long k, double *out) { *out = x + static_cast<double>(k); }
double ft_special(VREnv *, long which)
{
  return which == 0 ? HUGE_VAL : which == 1 ? -HUGE_VAL : which == 2 ? std::nan("") : -0.0;
}
long ft_strlen(VREnv *, const char *s) { return static_cast<long>(std::strlen(s)); }
VR_atom ft_atom(VREnv *, VR_atom a) { return a; }
void ft_atom_out(VREnv *e, const char *text, VR_atom *out) { *out = api(e)->pVR_atom_from_string(text); }
const char *ft_upcase(VREnv *, const char *s)
{
  std::size_t i = 0;
  for (; s[i] != '\0' && i + 1 < sizeof text_buffer; i++)
    text_buffer[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(s[i])));
  text_buffer[i] = '\0';
  return text_buffer;
}
void ft_codes_out(VREnv *, const char *s, char **out)
{
  std::strncpy(text_buffer, s, sizeof text_buffer - 1);
  *out = text_buffer;
}
const char *ft_null_text(VREnv *) { return nullptr; }
long ft_bytes(VREnv *, const char *s)
{
  /* The sum of the bytes: code 0 travels as C0 80. */
  long sum = 0;
  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(s); *p != 0; p++)
    sum = sum * 256 + *p;
  return sum;
}
/* f(T) of the term in, through the table. */
VR_term_ref ft_wrap(VREnv *e, VR_term_ref t)
{
  VR_term_ref r = api(e)->pVR_new_term_ref();
  api(e)->pVR_cons_functor_array(r, api(e)->pVR_atom_from_string("f"), 1, &t);
  return r;
}
void ft_term_out(VREnv *e, VR_term_ref in, VR_term_ref out) { api(e)->pVR_put_term(out, in); }
void ft_fail(VREnv *e) { api(e)->pVR_fail(); }
void ft_raise(VREnv *e, VR_term_ref ball) { api(e)->pVR_raise_exception(ball); }
long ft_inits(VREnv *) { return init_calls * 1000 + deinit_calls; }
/* Five words and a double: the general call. */
double ft_mix(VREnv *, long a, double b, long c, long d, long f) { return static_cast<double>(a + c + d + f) + b; }

void ft_init(VREnv *e, int) { if (stash_ok(e)) init_calls++; }
void ft_deinit(VREnv *, int) { deinit_calls++; }

} // extern "C"

#define F(f) reinterpret_cast<VR_GlueFun>(&f)
VR_GlueFun funcs[] = {F(ft_int),    F(ft_add3),  F(ft_int_out),    F(ft_twice),     F(ft_float_out),
                      F(ft_special), F(ft_strlen), F(ft_atom),     F(ft_atom_out),  F(ft_upcase),
                      F(ft_codes_out), F(ft_null_text), F(ft_bytes), F(ft_wrap),    F(ft_term_out),
                      F(ft_fail),   F(ft_raise), F(ft_inits),      F(ft_mix),       nullptr};
#undef F
const char *prednames[] = {"ft_int",    "ft_add3",   "ft_int_out",   "ft_twice", "ft_float_out",
                           "ft_special", "ft_strlen", "ft_atom",     "ft_atom_out", "ft_upcase",
                           "ft_codes_out", "ft_null_text", "ft_bytes", "ft_wrap", "ft_term_out",
                           "ft_fail",   "ft_raise",  "ft_inits",     "ft_mix",   nullptr};
const int arities[] = {2, 4, 2, 2, 3, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 0, 1, 1, 6, 0};

} // namespace

#ifdef FTEST_BAD_ENTRY
extern "C" __attribute__((visibility("default"))) int vr_main_VRENV_ftestbad(VR_MAINFUN_PARAMS *p)
{
  if (const int rc = vr_mainfun_check(p))
    return rc;
  p->funcs = funcs;
  p->prednames = prednames;
  p->arities = arities;
  return 0; /* no calling convention chosen */
}
#else
extern "C" __attribute__((visibility("default"))) int vr_main_VRENV_ftest(VR_MAINFUN_PARAMS *p)
{
  if (const int rc = vr_mainfun_check(p))
    return rc;
  p->flags += VR_MAINFUN_LEADING_VRENV;
  p->funcs = funcs;
  p->prednames = prednames;
  p->arities = arities;
  p->init_fun = reinterpret_cast<VR_GlueFun>(&ft_init);
  p->deinit_fun = reinterpret_cast<VR_GlueFun>(&ft_deinit);
  return 0;
}
#endif
