/* reif.cpp: the reified comparisons, oneof and abs (see reif.h).
 *
 * A run: the block is found or made (which may grow the heap) before the
 * caches are filled from the global references; rules prune the caches,
 * sets built on the way live on the number stack, which every run starts
 * afresh; arith_end writes the changed caches back and releases the block
 * at entailment.  An emptied cache does not stop a rule: the failure
 * surfaces when the cache is written back.  eq_iff attaches its daemons
 * only at its first run and only when it is undecided, so nothing has
 * been pruned when the heap may grow for them.
 */
#include "reif.h"

#include "arith.h"
#include "bounds.h"
#include "fd_attribute.h"
#include "globals.h"
#include "propagation.h"

namespace {

inline TAGGED arg(TAGGED t, int i) { return TagToSTR(t)[i]; }
inline TAGGED &slot(worker *w, VR_term_ref r) { return w->fli_stack_start[r].term; }
inline std::int32_t ord(TAGGED t) { return fd_order(t); }
inline bool fixed(const dvar *dv) { return dv->min == dv->max; }
inline TAGGED small(long v) { return MakeSmall_checked(static_cast<VR_INTEGER>(v)); }

/* Where the state terms keep their variables (arith.h). */
constexpr arith_shape shape_in_set_iff{2, true, {1, 4, 0}, 3};
constexpr arith_shape shape_binary_iff{3, true, {1, 3, 5}, 0}; /* eq_iff, le_iff, oneof */
constexpr arith_shape shape_abs{2, true, {1, 3, 0}, 0};

/* The relation code of a's domain to b's. */
int relation(VREnv *env, worker *w, Dvar a, Dvar b) { return dvar_compare_set(env, a, dvar_set(env, b, w), w); }

/* Restricts dv to lb..ub; a lower bound sup or an upper bound inf leaves
   no value (a bound beyond the small integers cannot be met). */
int restrict_to(Dvar dv, TAGGED lb, TAGGED ub)
{
  if (lb == atom_sup || ub == atom_inf)
    return -1;
  return dvar_fix_interval_t(dv, lb, ub);
}

/* ---- The rules; each gives the entailment code ---- */

int le_iff_rule(Dvar x, Dvar y, Dvar b)
{
  const TAGGED xmin = x->min, xmax = x->max, ymin = y->min, ymax = y->max;
  const bool surely_false = ord(xmin) > ord(ymax);
  const bool surely_true = ord(xmax) <= ord(ymin);
  if (!fixed(b)) {
    if (surely_false || surely_true) {
      const TAGGED v = small(surely_true ? 1 : 0);
      return dvar_fix_interval_t(b, v, v) < 0 ? -1 : 1;
    }
    return 0;
  }
  if (b->min == small(1)) {
    if (surely_false)
      return -1;
    if (surely_true)
      return 1;
    if (IsSmall(ymax) && ord(ymax) < ord(xmax) && restrict_to(x, atom_inf, ymax) < 0)
      return -1;
    if (IsSmall(xmin) && ord(xmin) > ord(ymin) && restrict_to(y, xmin, atom_sup) < 0)
      return -1;
    return fixed(x) || fixed(y) || xmin == ymax ? 1 : 0;
  }
  /* B = 0: X > Y. */
  if (surely_false)
    return 1;
  if (surely_true)
    return -1;
  const TAGGED ymin1 = fd_safe_plus(ymin, small(1)), xmax1 = fd_safe_minus(xmax, small(1));
  if (IsSmall(ymin) && ord(xmin) < ord(ymin1) && restrict_to(x, ymin1, atom_sup) < 0)
    return -1;
  if (IsSmall(xmax) && ord(xmax1) < ord(ymax) && restrict_to(y, atom_inf, xmax1) < 0)
    return -1;
  return fixed(x) || fixed(y) || xmax == ymin1 ? 1 : 0;
}

/* X = Y <=> B, steps 1-3 (step 4, the daemons, is the caller's). */
int eq_iff_rule(VREnv *env, worker *w, Dvar x, Dvar y, Dvar b)
{
  if (fixed(b) && b->min == small(0)) {
    if (fixed(y))
      return dvar_prune_interval_t(env, x, y->min, y->min, w) < 0 ? -1 : 1;
    if (fixed(x))
      return dvar_prune_interval_t(env, y, x->min, x->min, w) < 0 ? -1 : 1;
    return relation(env, w, x, y) == FD_DISJOINT ? 1 : 0;
  }
  if (fixed(b)) {
    if (fixed(y))
      return dvar_fix_interval_t(x, y->min, y->min) < 0 ? -1 : 1;
    if (fixed(x))
      return dvar_fix_interval_t(y, x->min, x->min) < 0 ? -1 : 1;
    return tell_eq(env, w, x, y, relation(env, w, x, y));
  }
  TAGGED v;
  if (fixed(x) && fixed(y))
    v = small(x->min == y->min ? 1 : 0);
  else if (relation(env, w, x, y) == FD_DISJOINT)
    v = small(0);
  else
    return 0;
  return dvar_fix_interval_t(b, v, v) < 0 ? -1 : 1;
}

int in_set_iff_rule(VREnv *env, worker *w, Dvar x, TAGGED set, Dvar b)
{
  const int r = fd_is_empty(set) ? FD_DISJOINT : dvar_compare_set(env, x, set, w);
  const bool inside = r == FD_EQUAL || r == FD_SUBSET;
  if (!fixed(b)) {
    if (inside || r == FD_DISJOINT) {
      const TAGGED v = small(inside ? 1 : 0);
      return dvar_fix_interval_t(b, v, v) < 0 ? -1 : 1;
    }
    return 0;
  }
  const bool want_in = b->min == small(1);
  if (fixed(x))
    return fd_member(x->min, set) == want_in ? 1 : -1;
  if (inside)
    return want_in ? 1 : -1;
  if (r == FD_DISJOINT)
    return want_in ? -1 : 1;
  if (want_in)
    dvar_fix_set(env, x, set, w);
  else
    dvar_prune_set(env, x, set, w);
  return 1;
}

int oneof_rule(VREnv *env, worker *w, Dvar x, Dvar y, Dvar z)
{
  const TAGGED dx = dvar_set(env, x, w), dy = dvar_set(env, y, w);
  if (dvar_compare_set(env, z, dx, w) == FD_DISJOINT)
    return tell_eq(env, w, y, z, relation(env, w, y, z));
  if (dvar_compare_set(env, z, dy, w) == FD_DISJOINT)
    return tell_eq(env, w, x, z, relation(env, w, x, z));
  const TAGGED u = fd_union(env, w, dx, dy);
  switch (dvar_compare_set(env, z, u, w)) {
  case FD_SUPERSET:
  case FD_INTERSECT:
    dvar_fix_set(env, z, u, w);
    return (fixed(x) ? 0 : 1) + (fixed(y) ? 0 : 1) + (fixed(z) ? 0 : 1) <= 1 ? 1 : 0;
  case FD_DISJOINT:
    return -1;
  default:
    return 0;
  }
}

/* Y = |X|.  X's and Y's allowed values are both taken from the domains
   found at entry; a failure found on X ends the run before anything is
   written back. */
int abs_rule(VREnv *env, worker *w, Dvar x, Dvar y)
{
  const TAGGED zero = small(0);
  if (ord(x->min) >= 0)
    return tell_eq(env, w, x, y, relation(env, w, x, y));
  const TAGGED dx = dvar_set(env, x, w), dy = dvar_set(env, y, w);
  const bool y_signed = ord(y->min) < 0;
  const TAGGED dy0 = y_signed ? fd_intersection_interval(env, w, dy, zero, atom_sup) : dy;
  const TAGGED x_allowed = fd_union(env, w, dy0, negdom(env, w, dy0));
  TAGGED y_allowed = fd_union(env, w, dx, negdom(env, w, dx));
  if (y_signed)
    y_allowed = fd_intersection_interval(env, w, y_allowed, zero, atom_sup);
  switch (dvar_compare_set(env, x, x_allowed, w)) {
  case FD_DISJOINT:
    return -1;
  case FD_INTERSECT:
  case FD_SUPERSET:
    dvar_fix_set(env, x, x_allowed, w);
    break;
  default:
    break;
  }
  switch (dvar_compare_set(env, y, y_allowed, w)) {
  case FD_DISJOINT:
    return -1;
  case FD_INTERSECT: {
    const TAGGED left = fd_intersection(env, w, dy, y_allowed);
    dvar_fix_set(env, y, left, w);
    return fd_singleton(left) ? 1 : 0;
  }
  case FD_SUPERSET:
    dvar_fix_set(env, y, y_allowed, w);
    return fd_singleton(y_allowed) ? 1 : 0;
  default:
    return fd_singleton(y_allowed) ? 1 : 0;
  }
}

} // namespace

int tell_eq(VREnv *env, worker *w, Dvar dvx, Dvar dvy, int rel)
{
  switch (rel) {
  case FD_EQUAL:
    if (fixed(dvx))
      return 1;
    break;
  case FD_SUPERSET:
    if (fixed(dvy))
      return dvar_fix_interval_t(dvx, dvy->min, dvy->min) < 0 ? -1 : 1;
    break;
  case FD_SUBSET:
    if (fixed(dvx))
      return dvar_fix_interval_t(dvy, dvx->min, dvx->min) < 0 ? -1 : 1;
    break;
  case FD_DISJOINT:
    return -1;
  default: {
    const TAGGED common = fd_intersection(env, w, dvar_set(env, dvx, w), dvar_set(env, dvy, w));
    if (fd_singleton(common)) {
      const TAGGED v = fd_min(common);
      if (!fixed(dvx) && dvar_fix_interval_t(dvx, v, v) < 0)
        return -1;
      if (!fixed(dvy) && dvar_fix_interval_t(dvy, v, v) < 0)
        return -1;
      return 1;
    }
    break;
  }
  }
  /* Unified through the library's equality request: the attribute
     handling of the two variables intersects their domains, and a
     failure of the unification reaches the Actions as fail. */
  dvar_export_equal(env, w, dvx, dvy);
  return 1;
}

TAGGED negdom(VREnv *env, worker *w, TAGGED d) { return fd_neg_offset(env, w, d, small(0)); }

void eq_iff_daemon(VREnv *env, worker *w, void *block, VR_globref, TAGGED global)
{
  auto *d = static_cast<arith_data *>(block);
  const VR_globref refs = d->refbase;
  const bool x_bound = !IsVar(deref(refs[1].term)), y_bound = !IsVar(deref(refs[3].term));
  const TAGGED b = deref(refs[5].term);
  if (IsVar(b)) {
    if (!x_bound || !y_bound) {
      /* The attributes' sets are the exact domains: comparing them
         allocates nothing. */
      dvar dx, dy;
      dvar_init(&dx, refs, refs + 1);
      dvar_init(&dy, refs + 2, refs + 3);
      if (fd_compare(dx.set, dy.set) != FD_DISJOINT)
        return;
    }
  } else if (b == small(0) && !x_bound && !y_bound) {
    return;
  }
  fd_enqueue_global(env, w, global, 2);
}

void prolog_fd_in_set_iff_vrenv_multi_vr(VREnv *env, VR_term_ref, VR_term_ref new_state, VR_term_ref actions)
{
  arith_run run = arith_begin(env, new_state, shape_in_set_iff);
  arith_data *d = run.d;
  const TAGGED set = deref(d->refbase[4].term);
  const int code = in_set_iff_rule(env, run.w, &d->dvar[0], set, &d->dvar[1]);
  arith_end(env, run, 2, code, actions);
}

void prolog_fd_eq_iff_vrenv_multi_vr(VREnv *env, VR_term_ref, VR_term_ref new_state, VR_term_ref actions)
{
  arith_run run = arith_begin(env, new_state, shape_binary_iff);
  worker *w = run.w;
  arith_data *d = run.d;
  dvar *x = &d->dvar[0], *y = &d->dvar[1], *b = &d->dvar[2];
  const int code = eq_iff_rule(env, w, x, y, b);
  if (run.made && code == 0) {
    fd_state *fd = fd_state_of(env);
    d->daemon = &eq_iff_daemon;
    const TAGGED on_xy = fixed(b) ? fd->functor_val : fd->functor_dom;
    dvar_attach_daemon(env, w, x, d, w->term[1], on_xy);
    dvar_attach_daemon(env, w, y, d, w->term[1], on_xy);
    dvar_attach_daemon(env, w, b, d, w->term[1], fd->functor_val);
  }
  arith_end(env, run, 3, code, actions);
}

void prolog_fd_le_iff_vrenv_multi_vr(VREnv *env, VR_term_ref, VR_term_ref new_state, VR_term_ref actions)
{
  arith_run run = arith_begin(env, new_state, shape_binary_iff);
  arith_data *d = run.d;
  const int code = le_iff_rule(&d->dvar[0], &d->dvar[1], &d->dvar[2]);
  arith_end(env, run, 3, code, actions);
}

void prolog_fd_oneof_vrenv_multi_vr(VREnv *env, VR_term_ref, VR_term_ref new_state, VR_term_ref actions)
{
  arith_run run = arith_begin(env, new_state, shape_binary_iff);
  arith_data *d = run.d;
  const int code = oneof_rule(env, run.w, &d->dvar[0], &d->dvar[1], &d->dvar[2]);
  arith_end(env, run, 3, code, actions);
}

void prolog_fd_abs_vrenv_multi_vr(VREnv *env, VR_term_ref, VR_term_ref new_state, VR_term_ref actions)
{
  arith_run run = arith_begin(env, new_state, shape_abs);
  arith_data *d = run.d;
  const int code = abs_rule(env, run.w, &d->dvar[0], &d->dvar[1]);
  arith_end(env, run, 2, code, actions);
}
