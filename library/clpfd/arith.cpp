/* arith.cpp: what the nonlinear arithmetic propagators share (arith.h):
 * the data block and its destructor, the frame of a run, the divisor's
 * set-up, and arithmetic on extended integers and unions of intervals.
 *
 * Order within a run, as for every native global constraint: the block is
 * allocated (which may grow the heap) before the caches are filled; the
 * caches are refilled from the global references at every run, so nothing
 * the collector moves is read from the block; every pruned cache is done
 * (no heap cells left in it) before the first write-back; the block is
 * disposed of only after its caches were last used.
 */
#include "arith.h"

#include <algorithm>

#include "bounds.h"
#include "globals.h"

#include <cstddef>

/* The propagation loop reaches a daemon through the block's first words. */
static_assert(offsetof(arith_data, destructor) == offsetof(daemon_frame, destructor));
static_assert(offsetof(arith_data, daemon) == offsetof(daemon_frame, daemon));

namespace {

inline TAGGED arg(TAGGED t, int i) { return TagToSTR(t)[i]; }
inline TAGGED &slot(worker *w, VR_term_ref r) { return w->fli_stack_start[r].term; }
inline bool changed(const dvar *dv) { return (dv->flags & (DV_CHANGED | DV_MIN | DV_MAX)) != 0; }

/* The block of a new instance, its references filled from the state in
   register 0 as shape says. */
arith_data *arith_post(VREnv *env, worker *w, TAGGED handle, const arith_shape &shape)
{
  const int nvars = shape.nvars;
  const std::size_t bytes = sizeof(arith_data) + static_cast<std::size_t>(nvars) * sizeof(dvar);
  auto *d = static_cast<arith_data *>(fd_perm_alloc(env, w, bytes, handle));
  d->destructor = &arith_destructor;
  d->daemon = nullptr;
  d->vrenv = env;
  d->nrefs = 2 * nvars + (shape.extra_pos != 0 ? 1 : 0);
  d->dvar = reinterpret_cast<dvar *>(d + 1);
  d->refbase = env->dispatch_API_VOSTREL_H->pVR_alloc_globrefs(d->nrefs);
  const TAGGED s = deref(w->term[0]);
  for (int i = 0; i < nvars; i++) {
    VR_globref refs = d->refbase + 2 * i;
    if (shape.flat) {
      refs[1].term = deref(arg(s, shape.var_pos[i]));
      refs[0].term = arg(s, shape.var_pos[i] + 1);
    } else {
      fd_get_var_and_attr(arg(s, shape.var_pos[i]), refs);
    }
  }
  if (shape.extra_pos != 0)
    d->refbase[2 * nvars].term = deref(arg(s, shape.extra_pos));
  return d;
}

} // namespace

void arith_destructor(void *block)
{
  auto *d = static_cast<arith_data *>(block);
  d->vrenv->dispatch_API_VOSTREL_H->pVR_free_globrefs(d->refbase);
  d->vrenv->dispatch_API_VOSTREL_H->pVR_free(block);
}

arith_run arith_begin(VREnv *env, VR_term_ref new_state, const arith_shape &shape)
{
  worker *w = fd_global_run_start(env);
  TAGGED handle;
  int committed;
  slot(w, new_state) = fd_static_output_state(w, &handle, &committed);
  const bool made = IsVar(handle);
  auto *d = made ? arith_post(env, w, handle, shape) : static_cast<arith_data *>(fd_perm_data(handle));
  fd_state_of(env)->gdata = d;
  for (int i = 0; i < shape.nvars; i++)
    dvar_init(&d->dvar[i], d->refbase + 2 * i, d->refbase + 2 * i + 1);
  return {w, d, made};
}

void arith_end(VREnv *env, arith_run &r, int nvars, int code, VR_term_ref actions)
{
  worker *w = r.w;
  if (code >= 0) {
    for (int i = 0; i < nvars; i++) {
      dvar *dv = &r.d->dvar[i];
      if (changed(dv)) {
        dvar_pruning_done(env, w, dv);
        if (!(dv->flags & (DV_INTERVAL | DV_CHANGED)))
          dv->set = fd_localize(env, w, dvar_set(env, dv, w));
      }
    }
    for (int i = 0; i < nvars; i++)
      if (changed(&r.d->dvar[i]))
        dvar_export_do(env, w, &r.d->dvar[i]);
  }
  if (code == 1)
    fd_perm_free(env, w);
  dvar_export_done(env, w, actions, code);
}

bool plan_divmodrem(VREnv *env, arith_data *pdata, worker *w)
{
  for (int i = 0; i < 3; i++)
    dvar_init(&pdata->dvar[i], pdata->refbase + 2 * i, pdata->refbase + 2 * i + 1);
  const TAGGED zero = MakeSmall_checked(0);
  return dvar_prune_interval_t(env, &pdata->dvar[1], zero, zero, w) >= 0;
}

/* ---- Extended integers ---- */

ext arith_ext(TAGGED bound)
{
  if (IsSmall(bound))
    return GetSmall(bound);
  return bound == atom_inf ? -ARITH_INFINITY : ARITH_INFINITY;
}

TAGGED arith_bound(ext v) { return fd_from_order(std::clamp<ext>(v, FD_ORDER_INF, FD_ORDER_SUP)); }

ext mag_mul(ext a, ext b)
{
  if (a == 0 || b == 0)
    return 0;
  if (a >= ARITH_INFINITY || b >= ARITH_INFINITY)
    return ARITH_INFINITY;
  return std::min(a * b, ARITH_INFINITY);
}

ext mag_add(ext a, ext b) { return std::min(a + b, ARITH_INFINITY); }

ext mag_div(ext a, ext b)
{
  if (a >= ARITH_INFINITY)
    return ARITH_INFINITY;
  if (b >= ARITH_INFINITY)
    return 0;
  return a / b;
}

arith_side arith_positive(Dvar dv)
{
  const ext lo = arith_ext(dv->min), hi = arith_ext(dv->max);
  if (hi < 1)
    return {false, 0, 0};
  return {true, std::max<ext>(lo, 1), hi};
}

arith_side arith_negative(Dvar dv)
{
  const ext lo = arith_ext(dv->min), hi = arith_ext(dv->max);
  if (lo > -1)
    return {false, 0, 0};
  return {true, std::max<ext>(-hi, 1), -lo};
}

bool arith_has_zero(Dvar dv) { return dvar_contains_value_t(dv, MakeSmall_checked(0)); }

/* ---- Restricting a variable ---- */

int arith_fix(VREnv *env, Dvar dv, TAGGED lo, TAGGED hi)
{
  if (lo == atom_sup || hi == atom_inf) {
    fd_state_of(env)->fd_overflow = 1;
    return -1;
  }
  return dvar_fix_interval_t(dv, lo, hi);
}

int arith_restrict(VREnv *env, worker *w, Dvar dv, arith_pieces &p)
{
  /* Sorted by lower end, empty pieces dropped, overlapping or adjacent
     ones merged. */
  int idx[16], n = 0;
  for (int i = 0; i < p.n; i++)
    if (p.lo[i] <= p.hi[i])
      idx[n++] = i;
  if (n == 0)
    return -1;
  std::sort(idx, idx + n, [&p](int a, int b) { return p.lo[a] < p.lo[b]; });
  ext lo[16], hi[16];
  int m = 0;
  for (int k = 0; k < n; k++) {
    const int i = idx[k];
    if (m > 0 && p.lo[i] <= hi[m - 1] + 1) {
      hi[m - 1] = std::max(hi[m - 1], p.hi[i]);
    } else {
      lo[m] = p.lo[i];
      hi[m] = p.hi[i];
      m++;
    }
  }
  int result = arith_fix(env, dv, arith_bound(lo[0]), arith_bound(hi[m - 1]));
  if (result < 0)
    return -1;
  for (int k = 0; k + 1 < m; k++) {
    const ext glo = std::max<ext>(hi[k] + 1, SMALL_MIN), ghi = std::min<ext>(lo[k + 1] - 1, SMALL_MAX);
    if (glo > ghi)
      continue;
    const int r = dvar_prune_interval_t(env, dv, MakeSmall_checked(static_cast<VR_INTEGER>(glo)),
                                        MakeSmall_checked(static_cast<VR_INTEGER>(ghi)), w);
    if (r < 0)
      return -1;
    result |= r;
  }
  return result;
}
