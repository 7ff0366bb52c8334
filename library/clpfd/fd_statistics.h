/* fd_statistics.h: the solver's counters and modes, and the two helpers
 * of the branch-and-bound search.
 *
 * Counters (statistics keys 0 to 4): resumptions, entailments, prunings,
 * failures, constraints; read and reset together.  Modes: debugging (on,
 * off) and overflow (error, fail).  The overflow policy itself is
 * fd_check_overflow (overflow.h).  Callers: module clpfd.
 */
#ifndef TRELIX_CLPFD_FD_STATISTICS_H
#define TRELIX_CLPFD_FD_STATISTICS_H

#include "fd_state.h"

struct instance;

/* $fd_statistics(Key, Result) */
long prolog_fd_statistics_vrenv_multi_vr(VREnv *env, long key);
/* $fd_debug(Old, New, Result) */
long prolog_fd_debug_vrenv_multi_vr(VREnv *env, VR_term_ref old_mode, VR_term_ref new_mode);
/* $fd_overflow(Old, New, Result) */
long prolog_fd_overflow_vrenv_multi_vr(VREnv *env, VR_term_ref old_mode, VR_term_ref new_mode);
/* $fd_minint_maxint(Min, Max) */
void prolog_fd_minint_maxint_vrenv_multi_vr(VREnv *env, VR_term_ref min, VR_term_ref max);
/* $fd_update_incumbent(Ref, Value, Values) */
void prolog_fd_update_incumbent_vrenv_multi_vr(VREnv *env, VR_term_ref ref, VR_term_ref value, VR_term_ref values);
/* $fd_incumbent_bound(Ref, Value) */
void prolog_fd_incumbent_bound_vrenv_multi_vr(VREnv *env, VR_term_ref ref, VR_term_ref value);

/* The recorded term a database reference names, or null. */
instance *get_dbref(VREnv *env, TAGGED ref);

#endif
