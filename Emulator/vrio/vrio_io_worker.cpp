/* vrio_io_worker.cpp: I/O workers (one thread per direction of a
 * threaddevice stream), their requests, the hand-back of finished
 * requests with the recovery after a failed write, requests that run one
 * function and wait for it, and the emptying, killing and tearing down of
 * a worker.
 *
 * A failed write puts its worker in an error state in which the writes
 * behind it are skipped; handing it back reports the error once and
 * queues the failed write and the skipped ones again, in their order,
 * behind a request that clears the error state.  So a write error loses
 * no data: the next call reports it and the writes are retried.
 *
 * State shared with the worker thread: `todo` and `high_prio` under
 * `todo_mutex`; `finished` and `pending_cost` under the finished queue's
 * lock; `state` and `current` are written under one of the two and read
 * under both.  `unfinished` belongs to the engine's thread.
 */
#include "vrio_io_worker.h"

#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>

#include "vrio_internal.h"

int32_t vrio_io_worker_kill_delay = -1;
int32_t vrio_io_worker_kill_sched_yield = -1;

vrio_t_io_request *io_request_of(vrio_t_queue_entry *entry)
{
  return reinterpret_cast<vrio_t_io_request *>(reinterpret_cast<char *>(entry) -
                                               offsetof(vrio_t_io_request, queue_entry));
}

static vrio_t_error_code mapped(int os_error)
{
  return vrio_map_unix_error(os_error, VRIO_E_OS_ERROR);
}

/* The request kinds. */

static void io_request_default_free(vrio_t_io_request *r)
{
  vrio_buf_free(&r->buf);
  if (!(r->flags & VRIO_IO_REQUEST_SHARED_EVENT))
    vrio_event_free(r->event);
  vrio_free(r);
}

static vrio_t_error_code no_error(vrio_t_io_request *)
{
  return VRIO_E_NOT_SUPPORTED;
}

static vrio_t_error_code freed_after(vrio_t_io_request *)
{
  return VRIO_S_NOERR;
}

static void set_event(vrio_t_io_request *r)
{
  if (r->event != nullptr)
    vrio_event_set(r->event);
}

/* Waits (cancellably) until the descriptor is ready; false and os_error
   set when poll fails for another reason than an interruption. */
static bool wait_ready(vrio_t_io_request *r, short what)
{
  r->poll_fd = pollfd{r->hFile, what, 0};
  if (poll(&r->poll_fd, 1, -1) >= 0 || errno == EINTR)
    return true;
  r->os_error = errno;
  return false;
}

static int read_do(vrio_t_io_request *r)
{
  if (r->worker->worker_flags & VRIO_IO_WORKER_ERROR_STATE) {
    r->code = VRIO_IO_REQUEST_SKIPPED;
    return VRIO_WORKER_REQUEST_RESULT_OK;
  }
  for (;;) {
    unsigned char *at = r->buf.buf + r->buf.extent;
    size_t room = r->buf.writable_size - r->buf.extent;
    ssize_t n = (r->flags & VRIO_IO_REQUEST_SEQUENTIAL)
                    ? read(r->hFile, at, room)
                    : pread(r->hFile, at, room,
                            static_cast<off_t>(r->file_pos + static_cast<vrio_t_offset>(r->buf.extent)));
    if (n > 0) {
      r->buf.extent += static_cast<size_t>(n);
      return VRIO_WORKER_REQUEST_RESULT_OK;
    }
    if (n == 0) {
      r->os_error = 0;
      r->code = VRIO_IO_REQUEST_READ_ENDED;
      return VRIO_WORKER_REQUEST_RESULT_OK;
    }
    if (errno == EINTR)
      continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      if (wait_ready(r, POLLRDNORM))
        continue;
    } else {
      r->os_error = errno;
    }
    r->code = VRIO_IO_REQUEST_READ_ENDED;
    return VRIO_WORKER_REQUEST_RESULT_OK;
  }
}

static vrio_t_error_code read_get_error(vrio_t_io_request *r)
{
  if (r->code != VRIO_IO_REQUEST_READ_ENDED)
    return VRIO_E_NOT_SUPPORTED;
  return r->os_error == 0 ? VRIO_E_END_OF_FILE : mapped(r->os_error);
}

static vrio_t_error_code read_post_finished(vrio_t_io_request *r)
{
  vrio_queue_put_last(static_cast<vrio_t_queue *>(r->cookie), &r->queue_entry, 0);
  return VRIO_S_DEALLOCATED;
}

const vrio_t_io_request_funcs io_request_read_unix_funcs = {
    read_do, io_request_default_free, read_get_error, set_event, read_post_finished};

static int write_do(vrio_t_io_request *r)
{
  if (r->worker->worker_flags & VRIO_IO_WORKER_ERROR_STATE) {
    r->code = VRIO_IO_REQUEST_SKIPPED;
    return VRIO_WORKER_REQUEST_RESULT_OK;
  }
  while (r->buf_offset < r->buf.extent) {
    const unsigned char *from = r->buf.buf + r->buf_offset;
    size_t left = r->buf.extent - r->buf_offset;
    ssize_t n = (r->flags & VRIO_IO_REQUEST_SEQUENTIAL)
                    ? write(r->hFile, from, left)
                    : pwrite(r->hFile, from, left, static_cast<off_t>(r->file_pos));
    if (n > 0) {
      r->buf_offset += static_cast<size_t>(n);
      r->file_pos += n;
      continue;
    }
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (wait_ready(r, POLLWRNORM))
        continue;
    } else {
      r->os_error = n < 0 && errno != 0 ? errno : EIO;
    }
    r->code = VRIO_IO_REQUEST_FAILED;
    r->worker->worker_flags |= VRIO_IO_WORKER_ERROR_STATE;
    r->flags |= VRIO_IO_REQUEST_SET_ERROR;
    break;
  }
  return VRIO_WORKER_REQUEST_RESULT_OK;
}

static vrio_t_error_code write_get_error(vrio_t_io_request *r)
{
  return mapped(r->os_error);
}

/* Runs under the finished lock. */
static void write_pre_finished(vrio_t_io_request *r)
{
  if (r->code != VRIO_IO_REQUEST_SKIPPED)
    r->worker->pending_cost -= r->buf.extent;
  set_event(r);
}

const vrio_t_io_request_funcs io_request_write_unix_funcs = {
    write_do, io_request_default_free, write_get_error, write_pre_finished, freed_after};

static int simple_do(vrio_t_io_request *r)
{
  return reinterpret_cast<vrio_t_simple_do>(r->cookie)(r);
}

static vrio_t_error_code simple_get_error(vrio_t_io_request *r)
{
  return r->code == VRIO_IO_REQUEST_FAILED ? mapped(r->os_error) : VRIO_E_NOT_SUPPORTED;
}

static void simple_pre_finished(vrio_t_io_request *r)
{
  vrio_event_set(r->worker->event);
  set_event(r);
}

const vrio_t_io_request_funcs io_request_simple_funcs = {
    simple_do, io_request_default_free, simple_get_error, simple_pre_finished, freed_after};

static int nothing_do(vrio_t_io_request *)
{
  return VRIO_WORKER_REQUEST_RESULT_OK;
}

const vrio_t_io_request_funcs io_request_set_event_funcs = {
    nothing_do, io_request_default_free, no_error, set_event, freed_after};

static int reset_error_do(vrio_t_io_request *r)
{
  r->worker->worker_flags &= ~VRIO_IO_WORKER_ERROR_STATE;
  return VRIO_WORKER_REQUEST_RESULT_OK;
}

static void nothing_pre_finished(vrio_t_io_request *)
{
}

static vrio_t_error_code reset_error_post_finished(vrio_t_io_request *r)
{
  r->worker->reset_error_request = r;
  return VRIO_S_DEALLOCATED;
}

const vrio_t_io_request_funcs io_request_reset_error_funcs = {
    reset_error_do, io_request_default_free, no_error, nothing_pre_finished,
    reset_error_post_finished};

/* The functions of simple requests, on the worker thread. */

static int simple_failed(vrio_t_io_request *r, int e)
{
  r->os_error = e;
  r->code = VRIO_IO_REQUEST_FAILED;
  return VRIO_WORKER_REQUEST_RESULT_OK;
}

int simple_do_unix_fsync(vrio_t_io_request *r)
{
  while (fsync(r->hFile) == -1) {
    if (errno != EINTR)
      return simple_failed(r, errno);
  }
  return VRIO_WORKER_REQUEST_RESULT_OK;
}

/* A failing shutdown is not reported: the close that follows matters. */
int simple_do_unix_shutdown(vrio_t_io_request *r)
{
  vrio_t_bits halves = r->flags & (VRIO_IO_REQUEST_SHUT_READ | VRIO_IO_REQUEST_SHUT_WRITE);
  vrio_socket_shutdown(r->hFile, halves == VRIO_IO_REQUEST_SHUT_READ    ? VRIO_SOCKET_SHUT_READ
                                  : halves == VRIO_IO_REQUEST_SHUT_WRITE ? VRIO_SOCKET_SHUT_WRITE
                                                                         : VRIO_SOCKET_SHUT_READ |
                                                                               VRIO_SOCKET_SHUT_WRITE);
  return VRIO_WORKER_REQUEST_RESULT_OK;
}

int simple_do_unix_close(vrio_t_io_request *r)
{
  if (close(r->hFile) == -1 && errno != EINTR)
    return simple_failed(r, errno);
  return VRIO_WORKER_REQUEST_RESULT_OK;
}

int simple_do_quit(vrio_t_io_request *)
{
  return VRIO_WORKER_REQUEST_RESULT_QUIT;
}

/* Workers. */

void io_worker_pre_init(vrio_t_io_worker *w)
{
  w->todo = nullptr;
  w->finished = nullptr;
  w->current = nullptr;
  w->task = nullptr;
  w->exiting.store(0);
  w->worker_flags = 0;
  w->state = VRIO_IO_WORKER_STATE_NONE_;
  w->todo_mutex = nullptr;
  w->todo_cond = nullptr;
  w->high_prio = 0;
  w->reset_error_request = nullptr;
  w->event = nullptr;
  w->unfinished = 0;
  w->pending_cost = 0;
  w->pending_cost_max = 65536;
}

vrio_t_io_request *io_request_new(const vrio_t_io_request_funcs *funcs, vrio_t_io_worker *worker,
                                  void *cookie)
{
  auto *r = static_cast<vrio_t_io_request *>(vrio_alloc(sizeof(vrio_t_io_request)));
  if (r == nullptr)
    return nullptr;
  r->funcs = funcs;
  r->queue_entry.next = nullptr;
  r->worker = worker;
  r->cookie = cookie;
  r->code = VRIO_IO_REQUEST_NEW;
  vrio_buf_init_buf(&r->buf);
  r->buf.flags = VRIO_BUF_CALLER_RECORD; /* owned storage from the first growth */
  r->flags = 0;
  r->os_error = -1;
  r->file_pos = -1;
  r->buf_offset = 0;
  r->hFile = -1;
  r->event = nullptr;
  r->poll_fd = pollfd{-1, 0, 0};
  r->generation = 0;
  return r;
}

void io_request_queue_free(vrio_t_queue *q)
{
  if (q == nullptr)
    return;
  vrio_t_queue_entry *e;
  while (vrio_queue_get_first(q, &e, 0) >= 0) {
    vrio_t_io_request *r = io_request_of(e);
    r->funcs->free_fun(r);
  }
  vrio_queue_free(q);
}

static void release_worker(vrio_t_io_worker *w)
{
  io_request_queue_free(w->finished);
  if (w->current != nullptr)
    w->current->funcs->free_fun(w->current);
  io_request_queue_free(w->todo);
  vrio_cond_var_free(w->todo_cond);
  vrio_mutex_free(w->todo_mutex);
  if (w->reset_error_request != nullptr)
    w->reset_error_request->funcs->free_fun(w->reset_error_request);
  vrio_event_free(w->event);
  io_worker_pre_init(w);
}

vrio_t_error_code io_worker_init(vrio_t_io_worker *w)
{
  vrio_t_error_code rc = vrio_queue_new(&w->todo, 0);
  if (rc >= 0)
    rc = vrio_queue_new(&w->finished, VRIO_QUEUE_WITH_MUTEX | VRIO_QUEUE_WITH_COND);
  if (rc >= 0)
    rc = vrio_event_new(0, &w->event);
  if (rc >= 0) {
    w->reset_error_request = io_request_new(&io_request_reset_error_funcs, w, nullptr);
    if (w->reset_error_request == nullptr)
      rc = VRIO_E_OUT_OF_MEMORY;
  }
  if (rc >= 0)
    rc = vrio_mutex_new(&w->todo_mutex, 0);
  if (rc >= 0)
    rc = vrio_cond_var_new(&w->todo_cond, 0);
  if (rc < 0)
    release_worker(w);
  return rc < 0 ? rc : VRIO_S_NOERR;
}

/* The worker thread. */

static void worker_exiting(void *arg)
{
  static_cast<vrio_t_io_worker *>(arg)->exiting.store(1);
}

/* How long a lone request waits for company; static, since the wait is a
   cancellation point. */
static const vrio_t_timespec batching_wait = {0, 10 * 1000 * 1000};

/* The next request, taken under todo_mutex; cancellable while it waits. */
static vrio_t_io_request *take_request(vrio_t_io_worker *w)
{
  vrio_t_mutex *locked = w->todo_mutex;
  vrio_mutex_lock(locked);
  vrio_t_io_request *r = nullptr;
  pthread_cleanup_push(vrio_mutex_unlock_cleanup, &locked);
  vrio_task_pthread_cancel_enable();
  while (vrio_queue_size(w->todo) == 0)
    vrio_cond_var_wait(w->todo_cond, w->todo_mutex);
  if (vrio_queue_size(w->todo) == 1 && !w->high_prio)
    vrio_cond_var_timedwait(w->todo_cond, w->todo_mutex, &batching_wait);
  vrio_task_pthread_cancel_disable();
  vrio_t_queue_entry *e;
  vrio_queue_get_first(w->todo, &e, 0);
  r = io_request_of(e);
  w->state = VRIO_IO_WORKER_STATE_RUNNING_;
  w->current = r;
  if (vrio_queue_size(w->todo) == 0)
    w->high_prio = 0;
  pthread_cleanup_pop(1);
  return r;
}

static void *worker_main(vrio_t_task volatile *, void *arg)
{
  auto *w = static_cast<vrio_t_io_worker *>(arg);
  pthread_cleanup_push(worker_exiting, w);
  for (int result = VRIO_WORKER_REQUEST_RESULT_OK; result != VRIO_WORKER_REQUEST_RESULT_QUIT;) {
    vrio_t_io_request *r = take_request(w);
    r->code = VRIO_IO_REQUEST_RUNNING;
    vrio_task_pthread_cancel_enable();
    result = r->funcs->do_fun(r);
    vrio_task_pthread_cancel_disable();
    if (r->code == VRIO_IO_REQUEST_RUNNING)
      r->code = VRIO_IO_REQUEST_DONE;
    vrio_queue_lock(w->finished);
    w->state = result == VRIO_WORKER_REQUEST_RESULT_QUIT ? VRIO_IO_WORKER_STATE_QUITTING_
                                                          : VRIO_IO_WORKER_STATE_WAITING_;
    r->funcs->pre_finished_fun(r);
    if (r->code == VRIO_IO_REQUEST_DONE)
      r->code = VRIO_IO_REQUEST_FINISHED;
    vrio_queue_put_last(w->finished, &r->queue_entry, 1);
    w->current = nullptr;
    vrio_queue_unlock(w->finished);
  }
  pthread_cleanup_pop(1);
  return nullptr;
}

vrio_t_error_code ensure_worker_thread(vrio_t_io_worker *w)
{
  if (w->task != nullptr)
    return VRIO_S_NOERR;
  w->state = VRIO_IO_WORKER_STATE_WAITING_;
  w->exiting.store(0);
  vrio_t_error_code rc = vrio_task_create(VRIO_TASK_CREATE_CANCELLABLE, worker_main, w, &w->task);
  if (rc < 0)
    w->state = VRIO_IO_WORKER_STATE_NONE_;
  return rc;
}

vrio_t_error_code issue_request(vrio_t_io_request *r, vrio_t_io_worker *w, vrio_t_bits options)
{
  bool held = (options & 2) != 0;
  if (!held)
    vrio_mutex_lock(w->todo_mutex);
  r->code = VRIO_IO_REQUEST_QUEUED;
  bool was_empty = vrio_queue_size(w->todo) == 0;
  vrio_queue_put_last(w->todo, &r->queue_entry, 1);
  w->unfinished++;
  if (options & 1)
    w->high_prio = 1;
  if ((options & 1) || was_empty)
    vrio_cond_var_signal(w->todo_cond, w->todo_mutex, 0);
  if (!held)
    vrio_mutex_unlock(w->todo_mutex);
  return VRIO_S_NOERR;
}

void io_request_post_finished(vrio_t_io_request *r, vrio_t_bits options)
{
  vrio_t_io_worker *w = r->worker;
  if (options & 1) {
    if (w->unfinished > 0)
      w->unfinished--;
    r->funcs->free_fun(r);
    return;
  }
  vrio_t_error_code kept = r->funcs->post_finished_fun(r);
  if (w->unfinished > 0)
    w->unfinished--;
  if (kept != VRIO_S_DEALLOCATED)
    r->funcs->free_fun(r);
}

/* After a failed write: clear the error state behind everything queued,
   and queue the failed write and the writes skipped behind it again. */
static void recover_from_write_error(vrio_t_io_worker *w, vrio_t_io_request *held_back,
                                     vrio_t_bits options)
{
  vrio_t_io_request *reset = w->reset_error_request;
  w->reset_error_request = nullptr;
  issue_request(reset, w, 1);
  vrio_t_queue retry = {nullptr, nullptr, nullptr, nullptr, 0};
  if (held_back != nullptr) {
    held_back->flags &= ~VRIO_IO_REQUEST_SET_ERROR;
    vrio_queue_lock(w->finished);
    w->pending_cost += held_back->buf.extent; /* its finishing subtracted it */
    vrio_queue_unlock(w->finished);
    vrio_queue_put_last(&retry, &held_back->queue_entry, 0);
  }
  for (;;) {
    vrio_t_queue_entry *e;
    if (vrio_queue_get_first(w->finished, &e, 2) < 0)
      break;
    vrio_t_io_request *r = io_request_of(e);
    if (r == reset) {
      io_request_post_finished(r, 0);
      break;
    }
    if (r->code == VRIO_IO_REQUEST_SKIPPED && !(options & 1))
      vrio_queue_put_last(&retry, &r->queue_entry, 0);
    else
      io_request_post_finished(r, options & 1);
  }
  if (retry.next == nullptr)
    return;
  vrio_mutex_lock(w->todo_mutex);
  vrio_t_queue_entry *e;
  while (vrio_queue_get_first(&retry, &e, 0) >= 0)
    vrio_queue_put_last(w->todo, e, 1); /* still counted in `unfinished` */
  w->high_prio = 1;
  vrio_cond_var_signal(w->todo_cond, w->todo_mutex, 0);
  vrio_mutex_unlock(w->todo_mutex);
}

/* 1 with *perror when a request reported an error, else 0. */
static vrio_t_error_code handle_finished_requests_internal(vrio_t_io_worker *w,
                                                           vrio_t_error_code *perror,
                                                           vrio_t_bits options)
{
  if (w->finished == nullptr)
    return VRIO_S_NOERR;
  for (;;) {
    vrio_t_queue_entry *e;
    vrio_t_error_code rc = vrio_queue_get_first(w->finished, &e, 0);
    if (rc == VRIO_E_NOT_FOUND)
      return VRIO_S_NOERR;
    if (rc < 0)
      return rc;
    vrio_t_io_request *r = io_request_of(e);
    bool set_error = (r->flags & VRIO_IO_REQUEST_SET_ERROR) != 0;
    vrio_t_error_code error = VRIO_S_NOERR;
    vrio_t_io_request *held_back = nullptr;
    if (r->code == VRIO_IO_REQUEST_FAILED) {
      error = r->funcs->get_error_fun(r);
      if (error >= 0 || (r->flags & VRIO_IO_REQUEST_SIMPLE) || (options & 1))
        io_request_post_finished(r, options & 1);
      else
        held_back = r;
    } else {
      io_request_post_finished(r, options & 1);
    }
    if (set_error)
      recover_from_write_error(w, held_back, options);
    if (error < 0) {
      if (options & 1)
        return VRIO_S_NOERR;
      *perror = error;
      return static_cast<vrio_t_error_code>(1);
    }
  }
}

vrio_t_error_code handle_finished_requests(vrio_t_io_worker *w, vrio_t_bits options)
{
  vrio_t_error_code error = VRIO_S_NOERR;
  vrio_t_error_code rc = handle_finished_requests_internal(w, &error, options);
  if (rc < 0)
    return rc;
  return rc == 1 ? error : VRIO_S_NOERR;
}

vrio_t_error_code threaddevice_simple_request(vrio_t_io_worker *w, int hFile,
                                              vrio_t_simple_do fun, vrio_t_error_code *perror,
                                              vrio_t_bits options)
{
  vrio_t_error_code rc = ensure_worker_thread(w);
  if (rc < 0)
    return rc;
  vrio_t_io_request *r =
      io_request_new(&io_request_simple_funcs, w, reinterpret_cast<void *>(fun));
  if (r == nullptr)
    return VRIO_E_OUT_OF_MEMORY;
  rc = vrio_event_new(0, &r->event);
  if (rc < 0) {
    r->funcs->free_fun(r);
    return rc;
  }
  vrio_t_event *done = r->event;
  r->hFile = hFile;
  r->flags = VRIO_IO_REQUEST_SIMPLE | ((options & 1) ? VRIO_IO_REQUEST_SHUT_READ : 0) |
             ((options & 2) ? VRIO_IO_REQUEST_SHUT_WRITE : 0) |
             ((options & 4) ? VRIO_IO_REQUEST_ABORTIVE : 0);
  issue_request(r, w, 1);
  /* The request cannot be abandoned (its event goes with it), so an
     interrupt does not end this wait. */
  do
    rc = vrio_event_wait(&done, 1, nullptr);
  while (rc == VRIO_E_INTERRUPTED);
  vrio_t_error_code error = VRIO_S_NOERR;
  vrio_t_error_code handed = handle_finished_requests_internal(w, &error, 0);
  if (handed == 1) {
    *perror = error;
    return static_cast<vrio_t_error_code>(1);
  }
  return rc < 0 ? rc : handed;
}

/* Idle: a thread waiting for work with nothing queued. */
static bool busy(vrio_t_io_worker *w)
{
  vrio_queue_lock(w->finished);
  vrio_mutex_lock(w->todo_mutex);
  bool result = !(w->state == VRIO_IO_WORKER_STATE_WAITING_ && vrio_queue_size(w->todo) == 0);
  vrio_mutex_unlock(w->todo_mutex);
  vrio_queue_unlock(w->finished);
  return result;
}

void io_worker_kill(vrio_t_io_worker *w)
{
  if (w->task == nullptr)
    return;
  vrio_task_cancel(w->task);
  vrio_task_free(w->task);
  w->task = nullptr;
  w->state = VRIO_IO_WORKER_STATE_NONE_;
  w->exiting.store(0);
  if (w->current != nullptr) {
    vrio_t_io_request *r = w->current;
    w->current = nullptr;
    io_request_post_finished(r, 1);
  }
}

vrio_t_error_code threaddevice_empty_worker(vrio_t_io_worker *w)
{
  if (w->todo == nullptr)
    return VRIO_S_NOERR;
  vrio_mutex_lock(w->todo_mutex);
  vrio_t_queue_entry *e;
  while (vrio_queue_get_first(w->todo, &e, 0) >= 0)
    io_request_post_finished(io_request_of(e), 1);
  vrio_mutex_unlock(w->todo_mutex);
  if (w->task == nullptr || !busy(w))
    return VRIO_S_NOERR;
  for (int32_t i = 0; i < vrio_io_worker_kill_sched_yield; ++i) {
    sched_yield();
    if (!busy(w))
      return VRIO_S_NOERR;
  }
  if (vrio_io_worker_kill_delay > 0) {
    struct timespec delay = {vrio_io_worker_kill_delay / 1000,
                             (vrio_io_worker_kill_delay % 1000) * 1000000L};
    while (nanosleep(&delay, &delay) == -1 && errno == EINTR) {
    }
  }
  if (!busy(w))
    return VRIO_S_NOERR;
  io_worker_kill(w);
  return VRIO_S_DEALLOCATED;
}

vrio_t_error_code vrio_io_worker_state(vrio_t_io_worker *w)
{
  if (w->task != nullptr && vrio_task_is_cancelled(w->task))
    return VRIO_S_PRIVATE_ERROR_6;
  if (w->todo == nullptr)
    return w->state == VRIO_IO_WORKER_STATE_NONE_ ? VRIO_S_PRIVATE_ERROR_1 : VRIO_E_INTERNAL_ERROR;
  vrio_queue_lock(w->finished);
  vrio_mutex_lock(w->todo_mutex);
  vrio_t_error_code rc;
  switch (w->state) {
  case VRIO_IO_WORKER_STATE_NONE_:
    rc = VRIO_S_PRIVATE_ERROR_1;
    break;
  case VRIO_IO_WORKER_STATE_WAITING_:
    rc = vrio_queue_size(w->todo) != 0 ? VRIO_S_PRIVATE_ERROR_2 : VRIO_S_PRIVATE_ERROR_3;
    break;
  case VRIO_IO_WORKER_STATE_RUNNING_:
    rc = VRIO_S_PRIVATE_ERROR_4;
    break;
  case VRIO_IO_WORKER_STATE_QUITTING_:
    rc = VRIO_S_PRIVATE_ERROR_5;
    break;
  default:
    rc = VRIO_E_INTERNAL_ERROR;
    break;
  }
  vrio_mutex_unlock(w->todo_mutex);
  vrio_queue_unlock(w->finished);
  return rc;
}

void io_worker_deinit(vrio_t_io_worker *w)
{
  if (w->todo == nullptr)
    return;
  if (w->task != nullptr) {
    /* Nothing may be left running: a thread stuck in a request goes. */
    threaddevice_empty_worker(w);
    if (w->task != nullptr && !w->exiting.load()) {
      vrio_t_error_code ignored;
      threaddevice_simple_request(w, -1, simple_do_quit, &ignored, 0);
    }
    if (w->task != nullptr && !w->exiting.load())
      io_worker_kill(w);
    if (w->task != nullptr) {
      vrio_task_free(w->task);
      w->task = nullptr;
    }
  }
  release_worker(w);
}
