/* fd_statistics.cpp: counters, modes and the incumbent helpers of the
 * branch-and-bound search (see fd_statistics.h).
 *
 * Modes are read and set in one call: Old is unified with the current
 * mode, New (an atom) names the new one; the Prolog side passes New = Old
 * to only ask.
 */
#include "fd_statistics.h"

#include "initial_atoms.h"

namespace {

inline TAGGED ref_term(worker *w, VR_term_ref r) { return deref(w->fli_stack_start[r].term); }
inline void fail_call(VREnv *env) { env->dispatch_API_VOSTREL_H->pVR_fail(); }

constexpr TAGGED atom_on = MakeAtom(atom_on_enum), atom_off = MakeAtom(atom_off_enum);
constexpr TAGGED atom_error = MakeAtom(atom_error_enum), atom_fail = MakeAtom(atom_fail_enum);

/* The common shape of $fd_debug/3 and $fd_overflow/3. */
long switch_mode(VREnv *env, unsigned long *mode, TAGGED when1, TAGGED when0, VR_term_ref old_mode,
                 VR_term_ref new_mode)
{
  worker *w = fd_current_worker(env);
  if (!fd_cunify(env, w, ref_term(w, old_mode), *mode ? when1 : when0))
    return 0;
  *mode = ref_term(w, new_mode) == when1 ? 1 : 0;
  return 1;
}

} // namespace

long prolog_fd_statistics_vrenv_multi_vr(VREnv *env, long key)
{
  fd_state *st = fd_state_of(env);
  unsigned long *counters[] = {&st->resumptions, &st->entailments, &st->prunings, &st->failures,
                               &st->constraints};
  if (key < 0 || key > 4)
    return 0;
  const unsigned long n = *counters[key];
  *counters[key] = 0;
  return static_cast<long>(n);
}

long prolog_fd_debug_vrenv_multi_vr(VREnv *env, VR_term_ref old_mode, VR_term_ref new_mode)
{
  return switch_mode(env, &fd_state_of(env)->debugging, atom_on, atom_off, old_mode, new_mode);
}

long prolog_fd_overflow_vrenv_multi_vr(VREnv *env, VR_term_ref old_mode, VR_term_ref new_mode)
{
  return switch_mode(env, &fd_state_of(env)->overflowing, atom_error, atom_fail, old_mode, new_mode);
}

void prolog_fd_minint_maxint_vrenv_multi_vr(VREnv *env, VR_term_ref min, VR_term_ref max)
{
  worker *w = fd_current_worker(env);
  if (!fd_cunify(env, w, ref_term(w, min), MakeSmall_checked(SMALL_MIN)) ||
      !fd_cunify(env, w, ref_term(w, max), MakeSmall_checked(SMALL_MAX)))
    fail_call(env);
}
