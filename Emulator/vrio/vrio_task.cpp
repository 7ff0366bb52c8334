/* vrio_task.cpp: library threads as tasks, over POSIX threads.
 *
 * A task's thread runs its function with cancellation off; the function
 * switches it on only around blocking calls.  A cancellation unwinds the
 * thread's frames (forced unwinding) through a clean-up step that marks
 * the task finished and sets its completion event, exactly as a normal
 * return does, so waiters never miss the end.  Nothing on that path is
 * noexcept or swallows the unwinding.
 *
 * The task's thread writes `result` and `thread_flags` and then sets the
 * completion event; other threads read them atomically (and `result` only
 * once the event is set).  `flags` belongs to the threads that create,
 * cancel and free the task, which the owner serialises.
 */
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <initializer_list>

#include "vrio_internal.h"

struct vrio_t_task_pthread_ {
  vrio_t_task task;
  pthread_t os_thread;
};
using task_pthread = vrio_t_task_pthread_;

static int32_t cancel_delay = -1;
static unsigned pthread_cancel_count;

static vrio_t_bits load_flags(const vrio_t_bits *p)
{
  return __atomic_load_n(p, __ATOMIC_SEQ_CST);
}

static void or_flags(vrio_t_bits *p, vrio_t_bits bits)
{
  __atomic_fetch_or(p, bits, __ATOMIC_SEQ_CST);
}

static void clear_flags(vrio_t_bits *p, vrio_t_bits bits)
{
  __atomic_fetch_and(p, ~bits, __ATOMIC_SEQ_CST);
}

static vrio_t_error_code mapped(int e)
{
  return e == 0 ? VRIO_S_NOERR : vrio_map_unix_error(e, VRIO_E_OS_ERROR);
}

/* Runs when the function has returned and when the thread is cancelled. */
static void task_finished(void *arg)
{
  auto *t = static_cast<task_pthread *>(arg);
  clear_flags(&t->task.thread_flags, VRIO_TASK_THREAD_RUNNING);
  or_flags(&t->task.thread_flags, VRIO_TASK_THREAD_FINISHED);
  vrio_event_set(t->task.event);
}

static void *task_main(void *arg)
{
  auto *t = static_cast<task_pthread *>(arg);
  int old_state;
  bool disabled = pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &old_state) == 0;
  pthread_cleanup_push(task_finished, t);
  if (disabled) {
    void *result = t->task.fun(&t->task, t->task.arg);
    __atomic_store_n(&t->task.result, result, __ATOMIC_SEQ_CST);
    pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, nullptr);
    or_flags(&t->task.thread_flags, VRIO_TASK_THREAD_RETURNED);
  }
  pthread_cleanup_pop(1);
  if (disabled)
    pthread_setcancelstate(old_state, nullptr);
  return nullptr;
}

/* Starts the thread with every asynchronous signal blocked, so that signals
   reach the engine thread; the synchronous fault signals stay deliverable,
   and the terminal stop signals follow the creating thread. */
static vrio_t_error_code start_thread(task_pthread *t)
{
  pthread_attr_t attr;
  int e = pthread_attr_init(&attr);
  if (e != 0)
    return mapped(e);
  e = pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_JOINABLE);
  sigset_t own, blocked;
  if (e == 0)
    e = pthread_sigmask(SIG_SETMASK, nullptr, &own);
  if (e == 0) {
    sigfillset(&blocked);
    for (int sig : {SIGFPE, SIGILL, SIGSEGV, SIGBUS})
      sigdelset(&blocked, sig);
    for (int sig : {SIGTTIN, SIGTTOU})
      if (!sigismember(&own, sig))
        sigdelset(&blocked, sig);
    e = pthread_sigmask(SIG_SETMASK, &blocked, nullptr);
  }
  if (e == 0) {
    or_flags(&t->task.thread_flags, VRIO_TASK_THREAD_RUNNING);
    e = pthread_create(&t->os_thread, &attr, task_main, t);
    pthread_sigmask(SIG_SETMASK, &own, nullptr);
    if (e != 0)
      clear_flags(&t->task.thread_flags, VRIO_TASK_THREAD_RUNNING);
    else
      t->task.flags |= VRIO_TASK_UNJOINED;
  }
  pthread_attr_destroy(&attr);
  return mapped(e);
}

vrio_t_error_code vrio_task_create(vrio_t_bits options, vrio_t_thread_function fun, void *arg,
                                   vrio_t_task **ptask)
{
  *ptask = nullptr;
  auto *t = static_cast<task_pthread *>(vrio_alloc(sizeof(task_pthread)));
  if (t == nullptr)
    return VRIO_E_OUT_OF_MEMORY;
  t->task.fun = fun;
  t->task.arg = arg;
  t->task.result = nullptr;
  t->task.event = nullptr;
  t->task.flags = (options & VRIO_TASK_CREATE_CANCELLABLE) ? VRIO_TASK_CANCELLABLE : 0;
  t->task.thread_flags = 0;
  vrio_t_error_code rc = vrio_event_new(0, &t->task.event);
  if (rc >= 0)
    rc = start_thread(t);
  if (rc < 0) {
    vrio_event_free(t->task.event);
    vrio_free(t);
    return rc;
  }
  t->task.flags |= VRIO_TASK_STARTED;
  *ptask = &t->task;
  return VRIO_S_NOERR;
}

/* Waits for the completion event, repeating interrupted waits; the result
   says whether one was repeated. */
static vrio_t_error_code wait_finished(vrio_t_task *task, bool *repeated)
{
  vrio_t_error_code rc;
  while ((rc = vrio_wait_for_task_termination(task, nullptr)) == VRIO_E_INTERRUPTED)
    *repeated = true;
  return rc;
}

static vrio_t_error_code join(task_pthread *t)
{
  if ((t->task.flags & (VRIO_TASK_STARTED | VRIO_TASK_UNJOINED)) !=
      (VRIO_TASK_STARTED | VRIO_TASK_UNJOINED))
    return VRIO_S_NOERR;
  int e = pthread_join(t->os_thread, nullptr);
  t->task.flags &= ~VRIO_TASK_UNJOINED;
  return mapped(e);
}

vrio_t_error_code vrio_task_free(vrio_t_task *task)
{
  if (task == nullptr)
    return VRIO_S_NOERR;
  bool repeated = false;
  vrio_t_error_code rc = wait_finished(task, &repeated);
  if (rc < 0)
    return rc;
  auto *t = reinterpret_cast<task_pthread *>(task);
  join(t);
  vrio_event_free(task->event);
  vrio_free(t);
  return VRIO_S_NOERR;
}

vrio_t_error_code vrio_task_cancel(vrio_t_task *task)
{
  if (!(task->flags & VRIO_TASK_CANCELLABLE))
    return VRIO_E_NOT_SUPPORTED;
  task->flags |= VRIO_TASK_CANCEL_REQUESTED;
  if (!(task->flags & VRIO_TASK_STARTED))
    return VRIO_E_INTERNAL_ERROR;
  if (load_flags(&task->thread_flags) & VRIO_TASK_THREAD_FINISHED)
    return VRIO_S_NOERR;
  auto *t = reinterpret_cast<task_pthread *>(task);
  if (cancel_delay > 0) {
    /* A grace period to finish by itself; how it ends does not matter. */
    vrio_t_timespec grace;
    if (vrio_ms_to_timespec(cancel_delay, &grace) >= 0)
      vrio_wait_for_task_termination(task, &grace);
  }
  pthread_cancel_count++;
  int e = pthread_cancel(t->os_thread);
  if (e != 0 && e != ESRCH)
    return mapped(e);
  vrio_t_error_code rc = join(t);
  if (rc < 0)
    return rc;
  task->flags |= VRIO_TASK_CANCELLED;
  bool repeated = false;
  rc = wait_finished(task, &repeated);
  if (rc < 0)
    return rc;
  return repeated ? VRIO_S_SUPPRESSED_INTERRUPT : VRIO_S_NOERR;
}

vrio_t_error_code vrio_wait_for_task_termination(vrio_t_task *task, const vrio_t_timespec *timeout)
{
  vrio_t_event *events[1] = {task->event};
  vrio_t_error_code rc = vrio_event_wait(events, 1, timeout);
  return rc < 0 ? rc : VRIO_S_NOERR;
}

vrio_t_error_code vrio_task_event(vrio_t_task *task, vrio_t_event **pevent)
{
  *pevent = task->event;
  return VRIO_S_NOERR;
}

vrio_t_error_code vrio_task_cancel_event(vrio_t_task *)
{
  return VRIO_E_NOT_SUPPORTED;
}

int vrio_task_is_running(vrio_t_task *task)
{
  return task != nullptr && vrio_event_query(task->event) == 0;
}

vrio_t_error_code vrio_task_status(vrio_t_task *task, int *pstatus)
{
  *pstatus = vrio_task_is_running(task);
  return VRIO_S_NOERR;
}

vrio_t_error_code vrio_task_result(vrio_t_task *task, void **presult)
{
  if (vrio_task_is_running(task))
    return VRIO_E_THREAD_RUNNING;
  if (presult != nullptr)
    *presult = __atomic_load_n(&task->result, __ATOMIC_SEQ_CST);
  return VRIO_S_NOERR;
}

int vrio_task_is_cancelled(vrio_t_task *task)
{
  return (task->flags & VRIO_TASK_CANCELLED) != 0;
}

vrio_t_error_code vrio_task_pthread_cancel_enable(void)
{
  int old;
  return mapped(pthread_setcancelstate(PTHREAD_CANCEL_ENABLE, &old));
}

vrio_t_error_code vrio_task_pthread_cancel_disable(void)
{
  int old;
  return mapped(pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &old));
}

vrio_t_error_code vrio_thread_self(void **pself)
{
  *pself = reinterpret_cast<void *>(pthread_self());
  return VRIO_S_NOERR;
}

int vrio_thread_equal(void *id1, void *id2)
{
  return pthread_equal(reinterpret_cast<pthread_t>(id1), reinterpret_cast<pthread_t>(id2)) != 0;
}

vrio_t_error_code vrio_thread_not_cancelled(void)
{
  return vrio_is_in_main_thread() ? static_cast<vrio_t_error_code>(1) : VRIO_E_NOT_IMPLEMENTED;
}

vrio_t_error_code vrio_thread_not_cancellable(void)
{
  return vrio_thread_not_cancelled();
}

/* The first cancellation of a process loads the unwinder; a throw-away
   thread cancelled at start-up does that while descriptors and memory are
   plentiful, instead of during a later close. */
static void *blocked_reader(void *arg)
{
  int fd = *static_cast<int *>(arg);
  int word;
  while (read(fd, &word, sizeof word) < 0 && errno == EINTR) {
  }
  return nullptr;
}

static void preload_cancellation(void)
{
  int fds[2];
  if (pipe(fds) != 0)
    return;
  pthread_t thread;
  if (pthread_create(&thread, nullptr, blocked_reader, &fds[0]) == 0) {
    pthread_cancel(thread);
    int word = 4711; /* so that the read cannot block for ever */
    (void)!write(fds[1], &word, sizeof word);
    pthread_join(thread, nullptr);
  }
  close(fds[0]);
  close(fds[1]);
}

vrio_t_error_code vrio_init_thread(vrio_t_bits flags)
{
  if (flags & 1) {
    cancel_delay = -1;
    return VRIO_S_NOERR;
  }
  cancel_delay = vrio_get_ssize_system_property("VRIO_PTHREAD_CANCEL_DELAY", 50);
  preload_cancellation();
  return VRIO_S_NOERR;
}
