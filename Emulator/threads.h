/* threads.h: critical sections and thread identity for native code.
 *
 * The engine runs on one thread, the main thread, recorded at start-up
 * (init_main_thread_id); native code that runs elsewhere (I/O callbacks,
 * signal forwarders, embedders' threads) asks is_in_main_thread before it
 * touches the engine, and guards its own shared data with critical
 * sections.  A critical section is the platform mutex in memory the caller
 * provides (vr_size_of_critical_section bytes); each function returns the
 * platform's result (0 for success, else an error number).
 *
 * Everything here may be called from any thread; the main thread's
 * identity is written once, by start-up, before other threads exist.
 */
#ifndef VOSTREL_THREADS_H
#define VOSTREL_THREADS_H

#include <pthread.h>

typedef pthread_mutex_t vr_critical_section;
typedef pthread_t vr_thread_id;

/* The bytes a caller provides for one critical section: 24. */
int vr_size_of_critical_section(void);
/* Initialises with default attributes (not recursive: a thread must not
   enter a section it holds). */
int vr_init_critical_section(vr_critical_section *cs);
int vr_enter_critical_section(vr_critical_section *cs);
int vr_exit_critical_section(vr_critical_section *cs);
int vr_deinit_critical_section(vr_critical_section *cs);

vr_thread_id vr_get_current_thread(void);
/* The thread recorded by init_main_thread_id. */
vr_thread_id vr_get_main_thread(void);
int vr_thread_id_equal(vr_thread_id a, vr_thread_id b);
/* Records the calling thread as the main thread (start-up). */
void init_main_thread_id(void);
/* 1 on the main thread, 0 elsewhere and before start-up recorded one. */
int is_in_main_thread(void);

#endif
