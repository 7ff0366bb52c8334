/* pending_prop.cpp: temporary until the attribute helper's incumbent
 * built-ins merge: definitions that raise "not yet available", so that the
 * resource's table links.  Delete on merging the real ones.
 */
#include "fd_errors.h"
#include "fd_statistics.h"

void prolog_fd_update_incumbent_vrenv_multi_vr(VREnv *env, VR_term_ref, VR_term_ref, VR_term_ref)
{
  fd_raise_unavailable(env, "$fd_update_incumbent", 3);
}

void prolog_fd_incumbent_bound_vrenv_multi_vr(VREnv *env, VR_term_ref, VR_term_ref)
{
  fd_raise_unavailable(env, "$fd_incumbent_bound", 2);
}
