/* dvar.h: domain-variable caches, the view through which a propagator
 * reads and prunes one variable's domain.
 *
 * A cache holds bounds (min: small integer or inf, max: small integer or
 * sup) and, unless it is an interval cache (DV_INTERVAL), an FD set whose
 * values outside min..max are to be ignored until the set is synchronised
 * (DV_SYNCED: set is exactly the domain).  Pruning narrows the cache and
 * records what changed; min and max always lie on values of the domain.
 * Interval caches never allocate: they keep bounds only until a hole is
 * punched.  Scratch sets live on the number stack.
 *
 * Results of the fix and prune operations: -1 the domain became empty, 0
 * nothing changed, else DV_CHANGED or-ed with DV_MIN, DV_MAX, DV_FIXED
 * (which are or-ed into the flags too).
 *
 * Filling: dvar_init reads a variable's attribute through global
 * references (the cache survives collections); dvar_init_ix takes the
 * attribute and variable terms themselves, for runs that cannot collect
 * before write-back.  Writing back (dvar_export_do for global constraints,
 * dvar_export_ix for indexicals and built-ins) loads argument register 3
 * with the attribute and 4 with the variable and tells the change
 * (telling.h); the Actions accumulator of a global constraint's run is
 * argument register 2.  Callers: the propagators.
 */
#ifndef TRELIX_CLPFD_DVAR_H
#define TRELIX_CLPFD_DVAR_H

#include "fdsets.h"

enum : unsigned {
  DV_CHANGED = 0x01,  /* values inside the bounds went (set-valued change) */
  DV_MIN = 0x02,
  DV_MAX = 0x04,
  DV_FIXED = 0x08,
  DV_SYNCED = 0x10,
  DV_INTERVAL = 0x20,
  DV_EXPORTED = 0x40
};

struct dvar {
  TAGGED min;
  TAGGED max;
  TAGGED set;
  TAGGED cookie; /* the domain size when the cache was filled */
  VR_globref attr_ref;
  VR_globref var_ref;
  unsigned flags;
};
typedef dvar *Dvar;
static_assert(sizeof(dvar) == 28);

struct DVITER {
  TAGGED min;   /* next value */
  TAGGED max;   /* the cache's upper bound */
  TAGGED fdset; /* rest of the set from the current interval; 0 for an
                   interval cache, [] when exhausted */
};

void dvar_init(Dvar dv, VR_globref attr_ref, VR_globref var_ref);
void dvar_init_ix(Dvar dv, TAGGED attr, TAGGED var);
void dvar_init_temp(Dvar dv, TAGGED min, TAGGED max);

bool dvar_contains_value_t(Dvar dv, TAGGED value);
TAGGED dvar_set(VREnv *env, Dvar dv, worker *w);
void dvar_assign(VREnv *env, Dvar dst, Dvar src, worker *w);
int dvar_compare_set(VREnv *env, Dvar dv, TAGGED set, worker *w);
int dvar_compare_interval_t(VREnv *env, Dvar dv, TAGGED min, TAGGED max, worker *w);
TAGGED dvar_successor_t(Dvar dv, TAGGED value);
TAGGED dvar_predecessor_t(Dvar dv, TAGGED value);
/* Plain integers; 2147483647 stands for sup and -2147483647 for inf. */
long dvar_successor_l(Dvar dv, long value);
long dvar_predecessor_l(Dvar dv, long value);
int dvar_interval_count(Dvar dv);
long dvar_value_count(Dvar dv);

void dviter_init(DVITER *it, Dvar dv);
inline bool dviter_empty(const DVITER *it) { return it->fdset == fd_empty_set; }
TAGGED dviter_next_value_t(DVITER *it);
void dviter_next_interval_t(DVITER *it, TAGGED *min, TAGGED *max);
void dviter_next_interval_l(DVITER *it, long *min, long *max);
void dviter_skip_t(DVITER *it, TAGGED value);

int dvar_fix_interval_t(Dvar dv, TAGGED lb, TAGGED ub);
int dvar_fix_set(VREnv *env, Dvar dv, TAGGED set, worker *w);
int dvar_prune_set(VREnv *env, Dvar dv, TAGGED set, worker *w);
int dvar_prune_interval_t(VREnv *env, Dvar dv, TAGGED lb, TAGGED ub, worker *w);
/* lb (ub) a plain integer: restricts to lb..sup (inf..ub), or sets the
   state's fd_overflow and gives -1 when it is no small integer. */
int dvar_fix_min_safe(VREnv *env, Dvar dv, long lb);
int dvar_fix_max_safe(VREnv *env, Dvar dv, long ub);
/* After set pruning: a changed set cache is synchronised and its cells
   moved off the heap. */
void dvar_pruning_done(VREnv *env, worker *w, Dvar dv);

/* Writing back (see above).  filter: an indexical's Ent not to wake, or 0. */
void dvar_export_do(VREnv *env, worker *w, Dvar dv);
void dvar_export_ix(VREnv *env, worker *w, Dvar dv, TAGGED filter);
void request_tell_value_fast(VREnv *env, worker *w, TAGGED value, TAGGED filter);
void request_tell_interval_fast(VREnv *env, worker *w, TAGGED min, TAGGED max, unsigned flags, TAGGED filter);

#endif
