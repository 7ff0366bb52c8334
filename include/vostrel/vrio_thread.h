/* vrio_thread.h: library threads (tasks), mutexes, condition variables and
 * queues, over POSIX threads.
 *
 * Every thread the library starts is a task: a function run once on a
 * joinable thread of its own, with all asynchronous signals blocked (so
 * signals reach the engine thread) and cancellation off except around the
 * blocking calls it chooses to make cancellable.  A completion event is set
 * when the function has returned or the thread was cancelled.
 *
 * Cancellation unwinds the cancelled thread's frames (the C++ runtime's
 * forced unwinding): code on a path that a cancellation can cross is never
 * noexcept and never swallows the unwinding; locks held there are released
 * by clean-up steps (vrio_mutex_unlock_cleanup, vrio_queue_unlock_cleanup).
 *
 * Errors of the POSIX calls come back as vrio_map_unix_error(e,
 * VRIO_E_OS_ERROR).  Usable from C and C++.
 */
#ifndef VOSTREL_VRIO_THREAD_H
#define VOSTREL_VRIO_THREAD_H

#include "vostrel/vrio_types.h"

#ifdef __cplusplus
extern "C" {
#endif

struct vrio_t_event_;
struct vrio_t_task_;
typedef void *(*vrio_t_thread_function)(struct vrio_t_task_ volatile *task, void *arg);

typedef struct vrio_t_task_ {
  vrio_t_thread_function fun;
  void *arg;
  void *result; /* valid once the completion event is set */
  struct vrio_t_event_ *event;
  vrio_t_bits flags;        /* VRIO_TASK_: written by creating, cancelling, freeing threads */
  vrio_t_bits thread_flags; /* VRIO_TASK_THREAD_: written by the task's own thread */
} vrio_t_task;

#define VRIO_TASK_CANCELLABLE 1u
#define VRIO_TASK_CANCELLED 2u
#define VRIO_TASK_CANCEL_REQUESTED 4u
#define VRIO_TASK_STARTED 8u
#define VRIO_TASK_UNJOINED 0x10u
#define VRIO_TASK_THREAD_FINISHED 1u
#define VRIO_TASK_THREAD_RUNNING 2u
#define VRIO_TASK_THREAD_RETURNED 4u

/* Option of vrio_task_create: the task may be cancelled. */
#define VRIO_TASK_CREATE_CANCELLABLE 4u

vrio_t_error_code vrio_task_create(vrio_t_bits options, vrio_t_thread_function fun, void *arg,
                                   vrio_t_task **ptask);
vrio_t_error_code vrio_task_free(vrio_t_task *task);
vrio_t_error_code vrio_task_cancel(vrio_t_task *task);
vrio_t_error_code vrio_wait_for_task_termination(vrio_t_task *task, const vrio_t_timespec *timeout);
vrio_t_error_code vrio_task_event(vrio_t_task *task, struct vrio_t_event_ **pevent);
vrio_t_error_code vrio_task_cancel_event(vrio_t_task *task);
int vrio_task_is_running(vrio_t_task *task);
vrio_t_error_code vrio_task_status(vrio_t_task *task, int *pstatus);
vrio_t_error_code vrio_task_result(vrio_t_task *task, void **presult);
int vrio_task_is_cancelled(vrio_t_task *task);
vrio_t_error_code vrio_task_pthread_cancel_enable(void);
vrio_t_error_code vrio_task_pthread_cancel_disable(void);
vrio_t_error_code vrio_thread_self(void **pself);
int vrio_thread_equal(void *id1, void *id2);
vrio_t_error_code vrio_thread_not_cancelled(void);
vrio_t_error_code vrio_thread_not_cancellable(void);
vrio_t_error_code vrio_init_thread(vrio_t_bits flags);

/* Mutexes: option 1 of vrio_mutex_new makes one recursive.  A null mutex
   locks and unlocks as a successful no-op. */
typedef struct vrio_t_mutex_ vrio_t_mutex;
vrio_t_error_code vrio_mutex_new(vrio_t_mutex **pmutex, vrio_t_bits options);
vrio_t_error_code vrio_mutex_free(vrio_t_mutex *mutex);
vrio_t_error_code vrio_mutex_lock(vrio_t_mutex *mutex);
vrio_t_error_code vrio_mutex_unlock(vrio_t_mutex *mutex);
/* Clean-up step: unlocks *pmutex if set and clears it. */
void vrio_mutex_unlock_cleanup(void *pmutex);
vrio_t_error_code vrio_mutex_debug_is_locked_by_other(vrio_t_mutex *mutex);
vrio_t_error_code vrio_mutex_debug_is_unlocked(vrio_t_mutex *mutex);

/* Condition variables (real-time clock).  A timeout below one day is
   relative, from one day up an absolute deadline. */
typedef struct vrio_t_cond_var_ vrio_t_cond_var;
vrio_t_error_code vrio_cond_var_new(vrio_t_cond_var **pcond_var, vrio_t_bits options);
vrio_t_error_code vrio_cond_var_free(vrio_t_cond_var *cond_var);
vrio_t_error_code vrio_cond_var_wait(vrio_t_cond_var *cond_var, vrio_t_mutex *mutex);
vrio_t_error_code vrio_cond_var_timedwait(vrio_t_cond_var *cond_var, vrio_t_mutex *mutex,
                                          const vrio_t_timespec *timeout);
vrio_t_error_code vrio_cond_var_signal(vrio_t_cond_var *cond_var, vrio_t_mutex *mutex,
                                       vrio_t_bits options);
vrio_t_error_code vrio_cond_var_now(vrio_t_timespec *now);
vrio_t_error_code vrio_init_module_cond_var(vrio_t_bits options);

/* Intrusive FIFO queues: a queued record begins with (or embeds) an entry;
   the queue never allocates, copies or frees records. */
typedef struct vrio_t_queue_entry_ {
  struct vrio_t_queue_entry_ *next;
} vrio_t_queue_entry;

typedef struct vrio_t_queue_ {
  vrio_t_queue_entry *next; /* first, null when empty */
  vrio_t_queue_entry *tail;
  vrio_t_mutex *mutex;
  vrio_t_cond_var *not_empty_cond;
  size_t size;
} vrio_t_queue;

/* Options of vrio_queue_new. */
#define VRIO_QUEUE_WITH_MUTEX 1u
#define VRIO_QUEUE_WITH_COND 2u
#define VRIO_QUEUE_RECURSIVE 4u

vrio_t_error_code vrio_queue_new(vrio_t_queue **pqueue, vrio_t_bits options);
vrio_t_error_code vrio_queue_free(vrio_t_queue *queue);
vrio_t_error_code vrio_queue_lock(vrio_t_queue *queue);
vrio_t_error_code vrio_queue_unlock(vrio_t_queue *queue);
void vrio_queue_unlock_cleanup(void *pqueue);
size_t vrio_queue_size(const vrio_t_queue *queue);
/* Option 1: the caller holds the lock. */
vrio_t_error_code vrio_queue_put_last(vrio_t_queue *queue, vrio_t_queue_entry *entry,
                                      vrio_t_bits options);
/* Option 1: only look; 2: wait while empty.  Result: entries left. */
vrio_t_error_code vrio_queue_get_first(vrio_t_queue *queue, vrio_t_queue_entry **pentry,
                                       vrio_t_bits options);
/* Option 1: only look; 2: wait while empty; 4: the caller holds the lock. */
vrio_t_error_code vrio_queue_get_last(vrio_t_queue *queue, vrio_t_queue_entry **pentry,
                                      vrio_t_bits options);
/* Option 1: the caller holds the lock.  1 when linked in, else 0. */
vrio_t_error_code vrio_queue_contains(vrio_t_queue *queue, const vrio_t_queue_entry *entry,
                                      vrio_t_bits options);

#ifdef __cplusplus
}
#endif

#endif
