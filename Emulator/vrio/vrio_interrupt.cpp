/* vrio_interrupt.cpp: the big lock, the interrupt hooks and the interrupt
 * thread.
 *
 * vrio_interrupt may run in a signal handler at any moment, also while the
 * library shuts down.  It therefore reads only two statics that are never
 * freed: the write end of the interrupt thread's self-pipe and the pending
 * message, both atomic.  Shut-down withdraws the descriptor (-1) and waits
 * until no vrio_interrupt is between reading it and writing to it before
 * the pipe is closed, so a handler never writes to a closed or reused
 * descriptor and never touches the thread's freed record.
 *
 * The interrupt thread calls the hooks under the big lock, a recursive
 * mutex (scheduling a work item raises an interrupt while holding it, and
 * hooks may schedule items).  Before the lock exists (early start-up, late
 * shut-down) locking it is a no-op: only one thread runs then.
 */
#include <sched.h>

#include <atomic>
#include <cerrno>
#include <new>

#include "vrio_internal.h"

static vrio_t_mutex *global_biglock;
static int global_biglock_count;

struct interrupt_hook_entry {
  vrio_t_interrupt_hook fun;
  void *cookie;
};
static interrupt_hook_entry *interrupt_hooks;
static size_t interrupt_hooks_nentries;
static unsigned interrupt_number;

/* Read by vrio_interrupt: never freed. */
static std::atomic<int> interrupt_wake_fd{-1};
static std::atomic<int> interrupt_fd_users{0};
static std::atomic<int> interrupted_message{0}; /* 0 none, 1 soft, 2 hard */

struct vrio_t_interrupt_thread_cookie_ {
  vrio_t_event_raw wake_interrupt_thread_event_raw;
  vrio_t_task *task;
  std::atomic<int> quit;
  std::atomic<int> has_quit;
};
using interrupt_thread_cookie = vrio_t_interrupt_thread_cookie_;
static interrupt_thread_cookie *interrupt_cookie;

static vrio_t_work_item *global_reset_interrupt_work_item;

int vrio_biglock_lock(void)
{
  vrio_mutex_lock(global_biglock);
  return ++global_biglock_count;
}

int vrio_biglock_unlock(void)
{
  int depth = --global_biglock_count;
  vrio_mutex_unlock(global_biglock);
  return depth;
}

void vrio_ensure_interrupts_done(void)
{
  vrio_biglock_lock();
  vrio_biglock_unlock();
}

vrio_t_error_code vrio_owns_biglock(void)
{
  return VRIO_E_NOT_SUPPORTED;
}

vrio_t_error_code vrio_register_interrupt_hook(vrio_t_interrupt_hook fun, void *cookie,
                                               vrio_t_bits options)
{
  vrio_biglock_lock();
  vrio_t_error_code rc = VRIO_S_NOERR;
  if (options & 1) {
    for (size_t i = 0; i < interrupt_hooks_nentries; ++i) {
      if (interrupt_hooks[i].fun == fun) {
        interrupt_hooks[i] = interrupt_hooks[--interrupt_hooks_nentries];
        if (interrupt_hooks_nentries == 0) {
          vrio_free(interrupt_hooks);
          interrupt_hooks = nullptr;
        }
        break;
      }
    }
  } else {
    auto *grown = static_cast<interrupt_hook_entry *>(
        vrio_realloc(interrupt_hooks, (interrupt_hooks_nentries + 1) * sizeof(interrupt_hook_entry)));
    if (grown == nullptr) {
      rc = VRIO_E_OUT_OF_MEMORY;
    } else {
      interrupt_hooks = grown;
      interrupt_hooks[interrupt_hooks_nentries++] = {fun, cookie};
    }
  }
  vrio_biglock_unlock();
  return rc;
}

/* One pass of hook calls: option 0 soft, 2 hard, 1 clear. */
static void call_interrupt_hooks(vrio_t_bits option)
{
  vrio_biglock_lock();
  if (option != 1 && global_reset_interrupt_work_item != nullptr) {
    /* The main thread clears the interrupt state once, when it next runs
       its work items; at most one reset item is ever scheduled. */
    vrio_t_work_item *reset = global_reset_interrupt_work_item;
    global_reset_interrupt_work_item = nullptr;
    vrio_biglock_unlock();
    vrio_t_error_code rc = vrio_schedule_work_item(reset, 1);
    vrio_biglock_lock();
    if (rc < 0)
      global_reset_interrupt_work_item = reset;
  }
  interrupt_number++;
  for (size_t i = 0; i < interrupt_hooks_nentries; ++i)
    interrupt_hooks[i].fun(interrupt_hooks[i].cookie, option);
  vrio_biglock_unlock();
}

vrio_t_error_code vrio_clear_interrupts(void)
{
  call_interrupt_hooks(1);
  return VRIO_S_NOERR;
}

vrio_t_error_code vrio_interrupt(vrio_t_bits options)
{
  int saved_errno = errno;
  vrio_t_error_code rc = VRIO_S_NOERR;
  interrupt_fd_users.fetch_add(1);
  int fd = interrupt_wake_fd.load();
  if (fd >= 0) {
    bool soft = (options & 1) && !(options & 2);
    interrupted_message.store(soft ? 1 : 2);
    rc = vrio_self_pipe_write(fd);
  }
  interrupt_fd_users.fetch_sub(1);
  errno = saved_errno;
  return rc;
}

static void *interrupt_thread(vrio_t_task volatile *, void *arg)
{
  auto *c = static_cast<interrupt_thread_cookie *>(arg);
  while (!c->quit.load()) {
    if (vrio_event_raw_wait(&c->wake_interrupt_thread_event_raw, nullptr) < 0)
      break;
    vrio_event_raw_reset(&c->wake_interrupt_thread_event_raw);
    int message = interrupted_message.exchange(0);
    if (message != 0)
      call_interrupt_hooks(message == 2 ? 2 : 0);
  }
  c->has_quit.store(1);
  return nullptr;
}

static void free_cookie(interrupt_thread_cookie *c)
{
  vrio_event_raw_free(&c->wake_interrupt_thread_event_raw);
  c->~interrupt_thread_cookie();
  vrio_free(c);
}

static vrio_t_error_code start_interrupt_thread(void)
{
  void *mem = vrio_alloc(sizeof(interrupt_thread_cookie));
  if (mem == nullptr)
    return VRIO_E_OUT_OF_MEMORY;
  auto *c = new (mem) interrupt_thread_cookie{};
  c->wake_interrupt_thread_event_raw.pipe[0] = c->wake_interrupt_thread_event_raw.pipe[1] = -1;
  vrio_t_error_code rc = vrio_event_raw_new(&c->wake_interrupt_thread_event_raw);
  if (rc >= 0)
    rc = vrio_task_create(0, interrupt_thread, c, &c->task);
  if (rc < 0) {
    free_cookie(c);
    return rc;
  }
  interrupt_cookie = c;
  interrupted_message.store(0);
  interrupt_wake_fd.store(c->wake_interrupt_thread_event_raw.pipe[1]);
  return VRIO_S_NOERR;
}

static vrio_t_error_code stop_interrupt_thread(void)
{
  interrupt_thread_cookie *c = interrupt_cookie;
  if (c == nullptr)
    return VRIO_E_ERROR;
  c->quit.store(1);
  vrio_event_raw_set(&c->wake_interrupt_thread_event_raw);
  vrio_t_error_code rc;
  do
    rc = vrio_wait_for_task_termination(c->task, nullptr);
  while (rc == VRIO_E_INTERRUPTED);
  if (!c->has_quit.load())
    return VRIO_E_INTERNAL_ERROR;
  /* Withdraw the descriptor from vrio_interrupt, then let any call that
     read it before finish its write. */
  interrupt_wake_fd.store(-1);
  while (interrupt_fd_users.load() != 0)
    sched_yield();
  vrio_task_free(c->task);
  interrupt_cookie = nullptr;
  free_cookie(c);
  return VRIO_S_NOERR;
}

static vrio_t_error_code reset_interrupts_work_item_run(vrio_t_work_item *item, vrio_t_bits options)
{
  vrio_clear_interrupts();
  if (options & 1)
    return VRIO_S_NOERR; /* shutting down: the runner frees it */
  vrio_biglock_lock();
  global_reset_interrupt_work_item = item;
  vrio_biglock_unlock();
  return VRIO_S_DEALLOCATED;
}

static void reset_interrupt_event_work_item_dealloc(vrio_t_work_item *item)
{
  vrio_free(item);
}

static const vrio_t_work_item_funcs reset_interrupt_event_work_item_funcs = {
    reset_interrupts_work_item_run, reset_interrupt_event_work_item_dealloc};

vrio_t_error_code vrio_interrupt_init(vrio_t_bits options)
{
  if (options & 1) {
    vrio_run_work_items(1);
    vrio_t_error_code rc = stop_interrupt_thread();
    if (rc < 0)
      return rc;
    vrio_mutex_free(global_biglock);
    global_biglock = nullptr;
    global_biglock_count = 0;
    vrio_free(global_reset_interrupt_work_item);
    global_reset_interrupt_work_item = nullptr;
    return VRIO_S_NOERR;
  }
  interrupt_number = 0;
  vrio_t_error_code rc = vrio_mutex_new(&global_biglock, 1);
  if (rc < 0)
    return rc;
  auto *item = static_cast<vrio_t_work_item *>(vrio_alloc(sizeof(vrio_t_work_item)));
  if (item == nullptr)
    return VRIO_E_OUT_OF_MEMORY;
  vrio_init_work_item(item, &reset_interrupt_event_work_item_funcs, nullptr);
  global_reset_interrupt_work_item = item;
  return start_interrupt_thread();
}
