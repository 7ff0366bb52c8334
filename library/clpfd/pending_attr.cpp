/* pending_attr.cpp: temporary until the propagation helper's branch
 * (propagation.cpp) merges: do-nothing definitions of the queue functions
 * that telling and the restricting built-ins call, so that the library
 * links.  Delete on merging the real ones.
 */
#include "propagation.h"

void fd_enqueue_general(VREnv *, worker *, TAGGED, int) {}
void fd_enqueue_all(VREnv *, worker *, int, TAGGED, TAGGED) {}
void fd_sync(VREnv *, worker *) {}
void prolog_fd_begin_vrenv_multi_vr(VREnv *) {}
