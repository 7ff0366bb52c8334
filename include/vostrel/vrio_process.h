/* vrio_process.h: child processes: starting a program directly or through
 * the shell with each standard descriptor inherited, on the null device
 * or on a pipe whose other end the caller gets; waiting, releasing and
 * signalling.  A process handle is the child's process id (above 0).
 *
 * A released child that still runs goes on a list of children reaped
 * before every later wait and, one last time, when the library stops.
 * Engine thread only: the list takes no lock.
 * Usable from C and C++.
 */
#ifndef VOSTREL_VRIO_PROCESS_H
#define VOSTREL_VRIO_PROCESS_H

#include "vostrel/vrio_types.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef int vrio_t_os_process_handle;
typedef int vrio_t_pid;

typedef struct vrio_t_process_exit_status_ {
  vrio_t_bits flags; /* VRIO_PROCESS_EXIT_ */
  int value;         /* the exit code or the signal */
} vrio_t_process_exit_status;

#define VRIO_PROCESS_EXIT_EXITED 0x1u
#define VRIO_PROCESS_EXIT_KILLED 0x2u
#define VRIO_PROCESS_EXIT_CORE 0x4u /* with KILLED */
#define VRIO_PROCESS_EXIT_STOPPED 0x8u
#define VRIO_PROCESS_EXIT_CONTINUED 0x10u
#define VRIO_PROCESS_EXIT_TRAPPED 0x20u

/* Options of vrio_process_create: per standard descriptor one of inherit,
   null device, pipe (the first of them given wins). */
#define VRIO_PROCESS_STDIN_INHERIT 0x1u
#define VRIO_PROCESS_STDIN_NULL 0x2u
#define VRIO_PROCESS_STDIN_PIPE 0x4u
#define VRIO_PROCESS_STDOUT_INHERIT 0x8u
#define VRIO_PROCESS_STDOUT_NULL 0x10u
#define VRIO_PROCESS_STDOUT_PIPE 0x20u
#define VRIO_PROCESS_STDERR_INHERIT 0x40u
#define VRIO_PROCESS_STDERR_NULL 0x80u
#define VRIO_PROCESS_STDERR_PIPE 0x100u
#define VRIO_PROCESS_SETSID 0x400u    /* a new session, no controlling terminal */
#define VRIO_PROCESS_SHELL 0x4000u    /* SHELL (else /bin/sh) -c cmd */
#define VRIO_PROCESS_ENV 0x20000u     /* the child gets an explicit environment */
#define VRIO_PROCESS_ENV_EMPTY 0x80000u /* ... built over nothing, not the snapshot */
#define VRIO_PROCESS_ENV_KEY_EQ_VALUE 0x100000u /* entries "k=v" (else "k\0v\0") */

/* Options of vrio_process_wait. */
#define VRIO_PROCESS_WAIT_NOHANG 0x1u
#define VRIO_PROCESS_WAIT_REAP 0x2u
#define VRIO_PROCESS_WAIT_INTERRUPTIBLE 0x4u
#define VRIO_PROCESS_WAIT_SKIP_ZOMBIES 0x8u

/* Options of vrio_process_release. */
#define VRIO_PROCESS_RELEASE_KEEP_RUNNING 0x1u /* a running child is reaped later */
#define VRIO_PROCESS_RELEASE_NOTHING 0x2u

/* params: null, or a null-terminated array of argument lists, one per
   argument; an argument is the concatenation of its list's "string" and
   "file" values.  cwd is required.  The caller's pipe ends (a write end
   for input, read ends for output and error; -1 for the others) go to the
   pointers that are not null and are close-on-exec; with a null pprocess
   the child is released at once.  A program that cannot be started is a
   child that exits with 1. */
vrio_t_error_code vrio_process_create(const char *cmd, const vrio_t_property *const *params,
                                      const char *cwd, const char *const *env, int *pstdin,
                                      int *pstdout, int *pstderr,
                                      vrio_t_os_process_handle *pprocess, vrio_t_bits options);
/* timeout must be null (else VRIO_E_NOT_SUPPORTED).  VRIO_E_WOULD_BLOCK
   with NOHANG while the child runs; VRIO_E_NOT_FOUND for a process that
   is no child or was reaped. */
vrio_t_error_code vrio_process_wait(vrio_t_os_process_handle process,
                                    const vrio_t_timespec *timeout,
                                    vrio_t_process_exit_status *pstatus, vrio_t_bits options);
vrio_t_error_code vrio_process_release(vrio_t_os_process_handle process, vrio_t_bits options);
vrio_t_error_code vrio_process_kill(vrio_t_os_process_handle process, int signal,
                                    vrio_t_bits options);
vrio_t_error_code vrio_process_self_id(vrio_t_pid *ppid);
vrio_t_error_code vrio_process_id(vrio_t_os_process_handle process, vrio_t_pid *ppid);
vrio_t_error_code vrio_process_from_id(vrio_t_pid pid, vrio_t_os_process_handle *pprocess);

/* Module start (0: the list of released children emptied) and stop (1:
   each gets a last reaping attempt) for vrio_init. */
vrio_t_error_code vrio_init_children(vrio_t_bits options);

#ifdef __cplusplus
}
#endif

#endif
