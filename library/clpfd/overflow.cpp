/* overflow.cpp: the overflow check of the solver's built-ins (see
 * overflow.h).  Engine thread; reaches Prolog only through the interface.
 */
#include "overflow.h"

int fd_check_overflow(VREnv *env, TAGGED goal)
{
  fd_state *st = fd_state_of(env);
  if (!st->fd_overflow)
    return 1;
  DISPATCH_TABLE_STRUCT_VOSTREL_H *api = env->dispatch_API_VOSTREL_H;
  /* Found late when the resource was loaded before the predicate existed. */
  if (st->overflow_action1 == nullptr)
    st->overflow_action1 = api->pVR_predicate("overflow_action", 1, "clpfd");
  if (st->overflowing && st->overflow_action1 != nullptr) {
    worker *w = fd_current_worker(env);
    const VR_term_ref mark = api->pVR_new_term_ref();
    w->fli_stack_start[mark].term = goal;
    api->pVR_query(st->overflow_action1, mark);
    const VR_term_ref ball = api->pVR_new_term_ref();
    if (api->pVR_exception_term(ball))
      api->pVR_raise_exception(ball);
    api->pVR_reset_term_refs(mark);
  }
  api->pVR_fail();
  return 0;
}
