/* fd_errors.h: the exceptions the library's own code raises.
 *
 * Each builds the exception term through the interface and arranges it to
 * be raised when the current foreign call returns (the caller must return
 * at once).  Callers: the propagation loop (a step without a current
 * context), the resource's table rows whose functions come later, the
 * checks of global-constraint items (globals.cpp), the checks of what
 * $fd_install/5 installs (indexical_store.cpp).
 */
#ifndef TRELIX_CLPFD_FD_ERRORS_H
#define TRELIX_CLPFD_FD_ERRORS_H

#include "fd_state.h"

/* error(system_error(What), clpfd) */
void fd_raise_system_error(VREnv *env, const char *what);
/* error(existence_error(procedure, clpfd:Name/Arity), not_yet_available) */
void fd_raise_unavailable(VREnv *env, const char *name, int arity);

/* error(domain_error(Domain, Culprit), clpfd:Name/Arity) */
void fd_raise_domain_error(VREnv *env, const char *domain, TAGGED culprit, const char *name, int arity);
/* error(type_error(Type, Culprit), clpfd:Name/Arity) */
void fd_raise_type_error(VREnv *env, const char *type, TAGGED culprit, const char *name, int arity);
/* error(permission_error(Action, Type, Culprit), clpfd:Name/Arity) */
void fd_raise_permission_error(VREnv *env, const char *action, const char *type, TAGGED culprit, const char *name,
                               int arity);

#endif
