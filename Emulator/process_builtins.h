/* process_builtins.h: the native half of the process predicates: child
 * processes started, waited for, signalled and released from Prolog.
 *
 * A child is a process object (an external object of the type registered
 * by init_each_time_file, written `$process(Name)`) or its process id.
 * The built-ins never raise: each answers the I/O library's result code
 * in its last argument (-10004 for an argument of the wrong type) and the
 * library's Prolog predicates turn codes into errors.  Engine thread only.
 */
#ifndef VOSTREL_PROCESS_BUILTINS_H
#define VOSTREL_PROCESS_BUILTINS_H

struct worker;

/* The worker's file state: the process object type (worker_hooks). */
int init_each_time_file(void);

int prolog_process_create(worker *w);  /* $process_create/10 */
int prolog_process_wait(worker *w);    /* $process_wait/6 */
int prolog_process_kill(worker *w);    /* $process_kill/3 */
int prolog_process_release(worker *w); /* $process_release/3 */
int prolog_process_id(worker *w);      /* $process_id/3 */
int prolog_is_process(worker *w);      /* $is_process/1 */
int prolog_process_self_id(worker *w); /* $process_self_id/1 */

#endif
