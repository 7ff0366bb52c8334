/* vrio_event.cpp: self-pipes, pipe and descriptor events, and waiting on
 * several events at once.
 *
 * The pipe is the only shared state of a pipe event, so setting,
 * resetting, querying and waiting may run on any threads at once.  Every
 * wait on the main thread that can block also polls the interrupt event,
 * owned here and set by this module's interrupt hook, so an interrupt
 * breaks it with VRIO_E_INTERRUPTED.  The reference count is not atomic:
 * owners that share an event order its frees themselves.
 */
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "vrio_internal.h"

/* The kernel's internal restart code, which can leak out of poll. */
static constexpr int ERESTART_NOHAND = 516;

static vrio_t_event *interrupt_event;

vrio_t_error_code vrio_event_raw_new(vrio_t_event_raw *raw)
{
  int fds[2];
  if (pipe(fds) != 0)
    return vrio_map_unix_error(errno, VRIO_E_OS_ERROR);
  /* Never 0, 1 or 2: with a standard descriptor closed at start-up, the
     standard stream over it must not become this pipe. */
  for (int i = 0; i < 2; ++i) {
    vrio_t_error_code rc = vrio_unix_fd_above_standard(fds[i], &fds[i]);
    if (rc < 0) {
      close(fds[1 - i]);
      return rc;
    }
  }
  for (int fd : fds) {
    int fl = fcntl(fd, F_GETFL);
    if (fl == -1 || fcntl(fd, F_SETFL, fl | O_NONBLOCK) == -1 ||
        fcntl(fd, F_SETFD, FD_CLOEXEC) == -1) {
      int e = errno;
      close(fds[0]);
      close(fds[1]);
      return vrio_map_unix_error(e, VRIO_E_OS_ERROR);
    }
  }
  raw->pipe[0] = fds[0];
  raw->pipe[1] = fds[1];
  return VRIO_S_NOERR;
}

vrio_t_error_code vrio_event_raw_free(vrio_t_event_raw *raw)
{
  for (int &fd : raw->pipe) {
    if (fd >= 0)
      close(fd);
    fd = -2;
  }
  return VRIO_S_NOERR;
}

vrio_t_error_code vrio_self_pipe_write(int fd)
{
  static const char one = 1;
  for (;;) {
    if (write(fd, &one, 1) == 1)
      return VRIO_S_NOERR;
    if (errno == EINTR)
      continue;
    if (errno == EAGAIN) /* full: the event is set already */
      return VRIO_S_NOERR;
    return vrio_map_unix_error(errno, VRIO_E_ERROR);
  }
}

vrio_t_error_code vrio_event_raw_set(vrio_t_event_raw *raw)
{
  return vrio_self_pipe_write(raw->pipe[1]);
}

vrio_t_error_code vrio_event_raw_reset(vrio_t_event_raw *raw)
{
  char drain[100];
  for (;;) {
    ssize_t n = read(raw->pipe[0], drain, sizeof drain);
    if (n > 0)
      continue;
    if (n == 0 || errno == EAGAIN)
      return VRIO_S_NOERR;
    if (errno != EINTR)
      return vrio_map_unix_error(errno, VRIO_E_ERROR);
  }
}

vrio_t_error_code vrio_timespec_to_ms_for_poll(const vrio_t_timespec *timeout, int *pms)
{
  if (timeout == nullptr) {
    *pms = -1;
    return VRIO_S_NOERR;
  }
  /* A negative time-out would make poll wait for ever. */
  if (timeout->sec < 0 || timeout->nsec < 0)
    return VRIO_E_PARAMETER_ERROR;
  int64_t ms = static_cast<int64_t>(timeout->sec) * 1000 + (static_cast<int64_t>(timeout->nsec) + 999999) / 1000000;
  if (ms > 2147483647)
    return VRIO_E_PRIVATE_ERROR_1;
  *pms = static_cast<int>(ms);
  return VRIO_S_NOERR;
}

static vrio_t_error_code poll_wrapper(struct pollfd *fds, size_t n, int ms)
{
  if (n == 0 && ms == 0)
    return VRIO_E_TIMEOUT;
  for (;;) {
    int ready = poll(fds, static_cast<nfds_t>(n), ms);
    if (ready > 0)
      return static_cast<vrio_t_error_code>(ready);
    if (ready == 0)
      return VRIO_E_TIMEOUT;
    if (errno != EINTR && errno != ERESTART_NOHAND)
      return vrio_map_unix_error(errno, VRIO_E_OS_ERROR);
  }
}

static bool readable(short revents)
{
  return (revents & (POLLIN | POLLRDNORM | POLLHUP | POLLERR)) != 0;
}

vrio_t_error_code vrio_event_raw_wait(vrio_t_event_raw *raw, const vrio_t_timespec *timeout)
{
  int ms;
  vrio_t_error_code rc = vrio_timespec_to_ms_for_poll(timeout, &ms);
  if (rc < 0)
    return rc;
  struct pollfd p = {raw->pipe[0], POLLRDNORM, 0};
  rc = poll_wrapper(&p, 1, ms);
  if (rc < 0)
    return rc;
  if (p.revents & POLLNVAL)
    return VRIO_E_INTERNAL_ERROR;
  return readable(p.revents) ? VRIO_S_NOERR : VRIO_E_IMPOSSIBLE_ERROR;
}

/* Pipe events. */

static vrio_t_event_raw *raw_of(vrio_t_event *event)
{
  return &reinterpret_cast<vrio_t_pipe_event *>(event)->raw;
}

static vrio_t_error_code pipe_event_set(vrio_t_event *event)
{
  return vrio_event_raw_set(raw_of(event));
}

static vrio_t_error_code pipe_event_reset(vrio_t_event *event)
{
  return vrio_event_raw_reset(raw_of(event));
}

static vrio_t_error_code pipe_event_query(vrio_t_event *event)
{
  static const vrio_t_timespec zero = {0, 0};
  vrio_t_error_code rc = vrio_event_raw_wait(raw_of(event), &zero);
  if (rc == VRIO_E_TIMEOUT)
    return static_cast<vrio_t_error_code>(0);
  return rc < 0 ? rc : static_cast<vrio_t_error_code>(1);
}

static void pipe_event_release(vrio_t_event *event)
{
  vrio_event_raw_free(raw_of(event));
  vrio_free(event);
}

static const vrio_t_event_funcs pipe_event_funcs = {pipe_event_set, pipe_event_reset,
                                                    pipe_event_query, pipe_event_release};

vrio_t_error_code vrio_pipe_event_new(vrio_t_bits options, vrio_t_event **pevent)
{
  auto *e = static_cast<vrio_t_pipe_event *>(vrio_alloc(sizeof(vrio_t_pipe_event)));
  if (e == nullptr)
    return VRIO_E_OUT_OF_MEMORY;
  vrio_t_error_code rc = vrio_event_raw_new(&e->raw);
  if (rc < 0) {
    vrio_free(e);
    return rc;
  }
  e->event.funcs = &pipe_event_funcs;
  e->event.flags = VRIO_EVENT_REFCOUNT_ONE;
  if (options & 1) {
    rc = vrio_event_raw_set(&e->raw);
    if (rc < 0) {
      pipe_event_release(&e->event);
      return rc;
    }
  }
  *pevent = &e->event;
  return VRIO_S_NOERR;
}

vrio_t_error_code vrio_event_new(vrio_t_bits options, vrio_t_event **pevent)
{
  return vrio_pipe_event_new(options, pevent);
}

/* Descriptor events: somebody else's descriptors, watched but never
   written, drained or closed. */

struct fd_event {
  vrio_t_event event;
  int read_fd;
  int write_fd;
};

static vrio_t_error_code fd_event_set(vrio_t_event *)
{
  return VRIO_E_NOT_SUPPORTED;
}

static vrio_t_error_code fd_event_query(vrio_t_event *event)
{
  auto *e = reinterpret_cast<fd_event *>(event);
  struct pollfd p = e->read_fd != -1 ? pollfd{e->read_fd, POLLRDNORM, 0}
                                     : pollfd{e->write_fd, POLLWRNORM, 0};
  vrio_t_error_code rc = poll_wrapper(&p, 1, 0);
  if (rc == VRIO_E_TIMEOUT)
    return static_cast<vrio_t_error_code>(0);
  return rc < 0 ? rc : static_cast<vrio_t_error_code>(1);
}

static void fd_event_release(vrio_t_event *event)
{
  vrio_free(event);
}

static const vrio_t_event_funcs fd_event_funcs = {fd_event_set, fd_event_set, fd_event_query,
                                                  fd_event_release};

vrio_t_error_code vrio_fd_event_new(int read_fd, int write_fd, vrio_t_bits options,
                                    vrio_t_event **pevent)
{
  auto *e = static_cast<fd_event *>(vrio_alloc(sizeof(fd_event)));
  if (e == nullptr)
    return VRIO_E_OUT_OF_MEMORY;
  e->event.funcs = &fd_event_funcs;
  e->event.flags = VRIO_EVENT_REFCOUNT_ONE | VRIO_EVENT_FD;
  e->read_fd = read_fd;
  e->write_fd = write_fd;
  *pevent = &e->event;
  return VRIO_S_NOERR;
}

/* Every kind of event. */

/* The count shares its word with the kind bit that waiting threads read,
   so the word is changed atomically. */
void vrio_event_add_ref(vrio_t_event *event)
{
  __atomic_fetch_add(&event->flags, VRIO_EVENT_REFCOUNT_ONE, __ATOMIC_SEQ_CST);
}

vrio_t_error_code vrio_event_free(vrio_t_event *event)
{
  if (event == nullptr)
    return VRIO_S_NOERR;
  vrio_t_bits flags =
      __atomic_sub_fetch(&event->flags, VRIO_EVENT_REFCOUNT_ONE, __ATOMIC_SEQ_CST);
  vrio_t_bits count = (flags & VRIO_EVENT_REFCOUNT_MASK) >> 1;
  if (count != 0)
    return static_cast<vrio_t_error_code>(count);
  event->funcs->release(event);
  return VRIO_S_NOERR;
}

vrio_t_error_code vrio_event_set(vrio_t_event *event)
{
  vrio_t_error_code rc = event->funcs->set(event);
  return rc < 0 ? rc : VRIO_S_NOERR;
}

vrio_t_error_code vrio_event_reset(vrio_t_event *event)
{
  vrio_t_error_code rc = event->funcs->reset(event);
  return rc < 0 ? rc : VRIO_S_NOERR;
}

vrio_t_error_code vrio_event_query(vrio_t_event *event)
{
  return event->funcs->query(event);
}

vrio_t_error_code vrio_pipe_event_wait(vrio_t_event *const *events, size_t nevents,
                                       const vrio_t_timespec *timeout)
{
  int ms;
  vrio_t_error_code rc = vrio_timespec_to_ms_for_poll(timeout, &ms);
  if (rc < 0)
    return rc;
  bool main_thread = vrio_is_in_main_thread() != 0;
  bool watch_interrupt = main_thread && interrupt_event != nullptr && ms != 0;
  size_t wanted = nevents + (watch_interrupt ? 1 : 0);
  struct pollfd fixed[10];
  struct pollfd *fds = fixed;
  if (wanted > 10) {
    if (!main_thread)
      return VRIO_E_INSUFFICIENT_BUFFER;
    fds = static_cast<struct pollfd *>(vrio_alloc(wanted * sizeof(struct pollfd)));
    if (fds == nullptr)
      return VRIO_E_OUT_OF_MEMORY;
  }
  size_t n = 0;
  if (watch_interrupt)
    fds[n++] = pollfd{raw_of(interrupt_event)->pipe[0], POLLRDNORM, 0};
  for (size_t i = 0; i < nevents; ++i) {
    vrio_t_event *e = events[i];
    if (e == nullptr)
      continue;
    if (__atomic_load_n(&e->flags, __ATOMIC_RELAXED) & VRIO_EVENT_FD) {
      auto *fe = reinterpret_cast<fd_event *>(e);
      fds[n++] = fe->read_fd != -1 ? pollfd{fe->read_fd, POLLRDNORM, 0}
                                   : pollfd{fe->write_fd, POLLWRNORM, 0};
    } else {
      fds[n++] = pollfd{raw_of(e)->pipe[0], POLLRDNORM, 0};
    }
  }
  size_t own = n - (watch_interrupt ? 1 : 0);
  if (own == 0 && ms == 0)
    rc = VRIO_E_TIMEOUT;
  else
    rc = poll_wrapper(fds, n, ms);
  if (rc == VRIO_E_WOULD_BLOCK)
    rc = VRIO_E_INTERNAL_ERROR;
  bool interrupted = rc > 0 && watch_interrupt && readable(fds[0].revents);
  if (fds != fixed)
    vrio_free(fds);
  if (interrupted) {
    if (rc > 1)
      return static_cast<vrio_t_error_code>(rc - 1); /* the interrupt stays set */
    vrio_event_reset(interrupt_event);
    vrio_ensure_interrupts_done();
    return VRIO_E_INTERRUPTED;
  }
  return rc;
}

vrio_t_error_code vrio_event_wait(vrio_t_event *const *events, size_t nevents,
                                  const vrio_t_timespec *timeout)
{
  return vrio_pipe_event_wait(events, nevents, timeout);
}

/* Every interrupt sets the interrupt event; clearing interrupts resets it. */
static void interrupt_event_hook(void *, vrio_t_bits options)
{
  if (interrupt_event == nullptr)
    return;
  if (options & 1)
    vrio_event_reset(interrupt_event);
  else
    vrio_event_set(interrupt_event);
}

vrio_t_error_code vrio_init_event(vrio_t_bits flags)
{
  if (flags & 1) {
    vrio_t_error_code rc = vrio_stop_event_listener();
    (void)rc; /* no listener: nothing to stop */
    vrio_register_interrupt_hook(interrupt_event_hook, nullptr, 1);
    vrio_event_free(interrupt_event);
    interrupt_event = nullptr;
    return VRIO_S_NOERR;
  }
  vrio_t_error_code rc = vrio_event_new(0, &interrupt_event);
  if (rc < 0)
    return rc;
  rc = vrio_register_interrupt_hook(interrupt_event_hook, nullptr, 0);
  if (rc < 0) {
    vrio_event_free(interrupt_event);
    interrupt_event = nullptr;
  }
  return rc < 0 ? rc : VRIO_S_NOERR;
}
