/* vrio_threaddevice.cpp: the "threaddevice" layer, the bottom layer of a
 * stream over a descriptor, whose system calls run on one worker thread
 * per direction (vrio_io_worker.cpp) so that the engine's thread never
 * blocks in one.
 *
 * Reading keeps at most one 64 KiB read outstanding and hands out one
 * finished chunk per call; writing queues up to 64 KiB, gathering
 * contiguous small writes into one request.  Regular files opened without
 * "sequential" use pread and pwrite at the layer's own positions, so both
 * sides and seeks work without moving the descriptor's offset.
 *
 * On such a file, data read ahead before a write may be older than the
 * file: a read first waits for the queued writes and drops chunks that
 * were read before the latest write (each read request carries the write
 * count at its issue).  Appending streams are opened with O_APPEND and
 * written sequentially, so that several writers append without
 * overwriting each other.
 *
 * `completed_reads`, `read_pos` and `write_pos` belong to the engine's
 * thread.
 */
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

#include "vrio_internal.h"
#include "vrio_io_worker.h"

namespace {

/* Layer flags of this kind. */
constexpr vrio_t_bits read_half_open = 0x20000u;
constexpr vrio_t_bits write_half_open = 0x40000u;
constexpr vrio_t_bits fd_not_owned = VRIO_LAYER_FD_NOT_OWNED;
constexpr vrio_t_bits seekable = VRIO_LAYER_CAN_REREAD;
constexpr vrio_t_bits writes_to_file = 0x80000u;
constexpr vrio_t_bits is_socket = 0x100000u;
constexpr vrio_t_bits sequential = 0x200000u;

constexpr size_t read_chunk = 65536;
constexpr size_t big_write = 1000; /* no batching wait from here up */

struct layer_threaddevice {
  vrio_t_layer layer;
  int hFile;
  vrio_t_device_type device_type;
  vrio_t_offset write_pos;
  vrio_t_offset read_pos;
  vrio_t_io_worker write_worker;
  vrio_t_io_worker read_worker;
  vrio_t_queue *completed_reads;
  uint32_t writes_queued; /* makes read-ahead from before a write stale */
};

layer_threaddevice *device_of(VRIO *s)
{
  return reinterpret_cast<layer_threaddevice *>(*s);
}

bool two_way_file(const layer_threaddevice *l)
{
  return (l->layer.flags & seekable) && (l->layer.flags & VRIO_LAYER_WRITE_ALIVE);
}

/* Every queued write done (its error, if any, is the result). */
vrio_t_error_code empty_write_queues(layer_threaddevice *l, bool abortive)
{
  vrio_t_io_worker *w = &l->write_worker;
  if (abortive && vrio_abortive_write_cancel)
    threaddevice_empty_worker(w);
  vrio_t_error_code rc = ensure_worker_thread(w);
  if (rc < 0)
    return rc;
  rc = handle_finished_requests(w, abortive ? 1 : 0);
  if (rc < 0)
    return rc;
  vrio_t_io_request *marker = io_request_new(&io_request_set_event_funcs, w, nullptr);
  if (marker == nullptr)
    return VRIO_E_OUT_OF_MEMORY;
  rc = vrio_event_new(0, &marker->event);
  if (rc < 0) {
    marker->funcs->free_fun(marker);
    return rc;
  }
  vrio_t_event *done = marker->event;
  vrio_event_add_ref(done); /* the marker frees its reference when handed back */
  issue_request(marker, w, 1);
  do
    rc = vrio_event_wait(&done, 1, nullptr);
  while (rc == VRIO_E_INTERRUPTED);
  vrio_event_free(done);
  vrio_t_error_code handed = handle_finished_requests(w, abortive ? 1 : 0);
  return rc < 0 ? rc : handed;
}

vrio_t_error_code issue_read(layer_threaddevice *l)
{
  vrio_t_io_worker *w = &l->read_worker;
  vrio_t_io_request *r = io_request_new(&io_request_read_unix_funcs, w, l->completed_reads);
  if (r == nullptr)
    return VRIO_E_OUT_OF_MEMORY;
  vrio_t_error_code rc = vrio_buf_reserve(&r->buf, read_chunk);
  if (rc < 0) {
    r->funcs->free_fun(r);
    return rc;
  }
  r->flags = VRIO_IO_REQUEST_SHARED_EVENT |
             ((l->layer.flags & sequential) ? VRIO_IO_REQUEST_SEQUENTIAL
                                            : VRIO_IO_REQUEST_FILE_READ);
  r->file_pos = l->read_pos;
  r->hFile = l->hFile;
  r->event = w->event;
  r->generation = l->writes_queued;
  if (w->unfinished == 0 && vrio_queue_size(l->completed_reads) == 0)
    vrio_event_reset(w->event);
  rc = issue_request(r, w, 1);
  if (rc < 0) {
    vrio_event_set(w->event);
    r->funcs->free_fun(r);
  }
  return rc;
}

bool nothing_waiting(layer_threaddevice *l)
{
  return l->read_worker.unfinished == 0 && vrio_queue_size(l->completed_reads) == 0;
}

vrio_t_error_code threaddevice_read(VRIO *s, vrio_t_buf *buf, vrio_t_bits options)
{
  layer_threaddevice *l = device_of(s);
  vrio_t_io_worker *w = &l->read_worker;
  vrio_t_error_code rc = ensure_worker_thread(w);
  if (rc < 0)
    return rc;
  bool refresh = two_way_file(l) && l->write_worker.unfinished != 0;
  if (refresh) {
    rc = empty_write_queues(l, false);
    if (rc < 0)
      return rc;
  }
  bool issued_here = false;
  for (;;) {
    rc = handle_finished_requests(w, 0);
    if (rc < 0)
      return rc;
    if (nothing_waiting(l)) {
      rc = issue_read(l);
      if (rc < 0)
        return rc;
      issued_here = true;
    }
    if (vrio_queue_size(l->completed_reads) == 0) {
      if (options & VRIO_READ_NONBLOCKING)
        return VRIO_E_WOULD_BLOCK;
      rc = vrio_event_wait(&w->event, 1, nullptr);
      if (rc < 0)
        return rc;
      rc = handle_finished_requests(w, 0);
      if (rc < 0)
        return rc;
      if (vrio_queue_size(l->completed_reads) == 0)
        continue; /* set by something else: wait again */
    }
    vrio_t_queue_entry *e;
    while (vrio_queue_get_first(l->completed_reads, &e, 1) >= 0) {
      vrio_t_io_request *r = io_request_of(e);
      if (r->code == VRIO_IO_REQUEST_READ_ENDED) {
        vrio_queue_get_first(l->completed_reads, &e, 0);
        vrio_t_error_code ended = r->funcs->get_error_fun(r);
        bool stale = !issued_here && (ended != VRIO_E_END_OF_FILE ||
                                      l->device_type == VRIO_DEVICE_TYPE_FILE);
        r->funcs->free_fun(r);
        if (stale)
          continue;
        return ended;
      }
      size_t skip = 0;
      if (!(r->flags & VRIO_IO_REQUEST_SEQUENTIAL)) {
        vrio_t_offset end = r->file_pos + static_cast<vrio_t_offset>(r->buf.extent);
        if (end <= l->read_pos || r->file_pos > l->read_pos ||
            (two_way_file(l) && r->generation != l->writes_queued)) {
          vrio_queue_get_first(l->completed_reads, &e, 0);
          r->funcs->free_fun(r); /* a seek or a write came after it */
          continue;
        }
        skip = static_cast<size_t>(l->read_pos - r->file_pos);
      }
      size_t n = r->buf.extent - skip;
      rc = vrio_buf_reserve(buf, n);
      if (rc < 0)
        return rc; /* the chunk stays first in line */
      vrio_queue_get_first(l->completed_reads, &e, 0);
      vrio_buf_concat_bytes(buf, r->buf.buf + skip, n);
      l->read_pos += static_cast<vrio_t_offset>(n);
      r->funcs->free_fun(r);
      if (nothing_waiting(l))
        issue_read(l); /* read-ahead; a failure shows at the next read */
      return VRIO_S_NOERR;
    }
    /* Every waiting read was stale. */
    vrio_queue_lock(w->finished);
    if (nothing_waiting(l) && vrio_queue_size(w->finished) == 0)
      vrio_event_reset(w->event);
    vrio_queue_unlock(w->finished);
  }
}

vrio_t_error_code threaddevice_write(VRIO *s, vrio_t_buf *buf, size_t *poffset,
                                     vrio_t_bits options)
{
  layer_threaddevice *l = device_of(s);
  vrio_t_io_worker *w = &l->write_worker;
  vrio_t_error_code rc = ensure_worker_thread(w);
  if (rc < 0)
    return rc;
  for (;;) {
    rc = handle_finished_requests(w, 0);
    if (rc < 0)
      return rc;
    vrio_queue_lock(w->finished);
    if (w->pending_cost < w->pending_cost_max)
      break;
    vrio_queue_unlock(w->finished);
    if (options & VRIO_WRITE_NONBLOCKING)
      return VRIO_E_WOULD_BLOCK;
    rc = vrio_event_wait(&w->event, 1, nullptr);
    if (rc < 0)
      return rc;
  }
  /* The finished lock is held. */
  size_t left = buf->extent - *poffset;
  if (left == 0) {
    vrio_queue_unlock(w->finished);
    return VRIO_S_NOERR;
  }
  size_t room = w->pending_cost_max - w->pending_cost;
  size_t n = left < room ? left : room;
  if (n == room)
    vrio_event_reset(w->event);
  vrio_mutex_lock(w->todo_mutex);
  vrio_t_queue_entry *e = nullptr;
  vrio_t_io_request *last = nullptr;
  if (vrio_queue_get_last(w->todo, &e, 1 | 4) >= 0)
    last = io_request_of(e);
  rc = VRIO_S_NOERR;
  if (last != nullptr && last->funcs == &io_request_write_unix_funcs &&
      last->file_pos + static_cast<vrio_t_offset>(last->buf.extent - last->buf_offset) ==
          l->write_pos) {
    rc = vrio_buf_concat_bytes(&last->buf, buf->buf + *poffset, n);
    if (rc >= 0 && last->buf.extent - last->buf_offset > big_write)
      vrio_cond_var_signal(w->todo_cond, w->todo_mutex, 0);
  } else {
    vrio_t_io_request *r = io_request_new(&io_request_write_unix_funcs, w, nullptr);
    rc = r == nullptr ? VRIO_E_OUT_OF_MEMORY : vrio_buf_concat_bytes(&r->buf, buf->buf + *poffset, n);
    if (rc >= 0) {
      r->file_pos = l->write_pos;
      r->hFile = l->hFile;
      r->event = w->event;
      r->flags = VRIO_IO_REQUEST_SHARED_EVENT |
                 ((l->layer.flags & sequential) ? VRIO_IO_REQUEST_SEQUENTIAL : 0);
      issue_request(r, w, (n >= big_write ? 1 : 0) | 2);
    } else if (r != nullptr) {
      r->funcs->free_fun(r);
    }
  }
  if (rc >= 0) {
    l->write_pos += static_cast<vrio_t_offset>(n);
    w->pending_cost += n;
    *poffset += n;
    l->writes_queued++;
  } else if (n == room) {
    vrio_event_set(w->event);
  }
  vrio_mutex_unlock(w->todo_mutex);
  vrio_queue_unlock(w->finished);
  return rc;
}

vrio_t_error_code threaddevice_sync(VRIO *s, vrio_t_bits options)
{
  layer_threaddevice *l = device_of(s);
  if (l->hFile == -1 || !(options & VRIO_SYNC_WRITE) ||
      !(l->layer.flags & VRIO_LAYER_OPEN_WRITE) || (options & 0x40))
    return VRIO_S_NOERR;
  vrio_t_error_code rc = empty_write_queues(l, false);
  if (rc < 0 || !(l->layer.flags & writes_to_file))
    return rc;
  vrio_t_error_code error = VRIO_S_NOERR;
  rc = threaddevice_simple_request(&l->write_worker, l->hFile, simple_do_unix_fsync, &error, 0);
  return rc == 1 ? error : rc;
}

vrio_t_error_code threaddevice_seek(VRIO *s, vrio_t_offset offset, vrio_t_offset *new_position,
                                    vrio_t_buf *, vrio_t_bits options)
{
  layer_threaddevice *l = device_of(s);
  if (!(l->layer.flags & seekable))
    return VRIO_E_SEEK_ERROR;
  bool both_sides = (l->layer.flags & VRIO_LAYER_READ_ALIVE) &&
                    (l->layer.flags & VRIO_LAYER_WRITE_ALIVE);
  bool read_asked = (options & VRIO_SEEK_READ) != 0, write_asked = (options & VRIO_SEEK_WRITE) != 0;
  vrio_t_offset target;
  if (options & VRIO_SEEK_ABSOLUTE) {
    target = offset;
  } else if (options & (VRIO_SEEK_RELATIVE | VRIO_SEEK_RELATIVE_BUFFERED)) {
    vrio_t_offset base;
    if (both_sides && read_asked && write_asked) {
      if (l->read_pos != l->write_pos)
        return VRIO_E_SEEK_ERROR;
      base = l->read_pos;
    } else if (read_asked && (l->layer.flags & VRIO_LAYER_READ_ALIVE)) {
      base = l->read_pos;
    } else {
      base = l->write_pos;
    }
    if (__builtin_add_overflow(base, offset, &target))
      return VRIO_E_SEEK_ERROR;
  } else if (options & VRIO_SEEK_FROM_END) {
    int64_t size = 0;
    vrio_t_error_code rc =
        vrio_ioctl_size(s, &size, (read_asked ? 2 : 0) | (write_asked ? 4 : 0));
    if (rc < 0)
      return rc == VRIO_E_INTERRUPTED ? rc : VRIO_E_SEEK_ERROR;
    if (__builtin_add_overflow(size, offset, &target))
      return VRIO_E_SEEK_ERROR;
  } else {
    return VRIO_E_PARAMETER_ERROR;
  }
  if (target < 0)
    return VRIO_E_PARAMETER_ERROR;
  if (read_asked)
    l->read_pos = target;
  if (write_asked)
    l->write_pos = target;
  *new_position = target;
  return VRIO_S_NOERR;
}

vrio_t_error_code threaddevice_ioctl(VRIO *s, vrio_t_ioctl_operation operation, void *param,
                                     vrio_t_bits)
{
  layer_threaddevice *l = device_of(s);
  switch (operation) {
  case VRIO_IOCTL_READABLE_EVENT_:
    *static_cast<vrio_t_event **>(param) = l->read_worker.event;
    return VRIO_S_NOERR;
  case VRIO_IOCTL_WRITABLE_EVENT_:
    *static_cast<vrio_t_event **>(param) = l->write_worker.event;
    return VRIO_S_NOERR;
  case VRIO_IOCTL_DEVICE_TYPE_:
    *static_cast<vrio_t_device_type *>(param) = l->device_type;
    return VRIO_S_NOERR;
  case VRIO_IOCTL_SIZE_: {
    if ((l->layer.flags & VRIO_LAYER_WRITE_ALIVE) && l->hFile != -1) {
      vrio_t_error_code rc = empty_write_queues(l, false);
      if (rc < 0)
        return rc;
    }
    vrio_t_offset size;
    vrio_t_error_code rc = vrio_unix_file_size(l->hFile, &size);
    if (rc < 0)
      return l->device_type == VRIO_DEVICE_TYPE_FILE ? rc : VRIO_E_NOT_SUPPORTED;
    *static_cast<int64_t *>(param) = size;
    return VRIO_S_NOERR;
  }
  default:
    return VRIO_E_NOT_SUPPORTED;
  }
}

vrio_t_error_code threaddevice_close(VRIO *s, vrio_t_bits options)
{
  layer_threaddevice *l = device_of(s);
  bool abortive = (options & VRIO_CLOSE_ABORTIVE) != 0;
  bool closing_read = (options & VRIO_CLOSE_READ) != 0;
  bool closing_write = (options & VRIO_CLOSE_WRITE) != 0;
  if (l->hFile != -1) {
    if (closing_write && (l->layer.flags & VRIO_LAYER_WRITE_ALIVE)) {
      vrio_t_error_code rc = empty_write_queues(l, abortive);
      if (rc < 0 && !abortive)
        return rc;
    }
    if (closing_read && (l->layer.flags & VRIO_LAYER_READ_ALIVE)) {
      /* A read that waits for a terminal or a pipe is cancelled here. */
      vrio_t_io_worker *w = &l->read_worker;
      if (!abortive)
        vrio_event_set(w->event);
      threaddevice_empty_worker(w);
      if (!abortive)
        ensure_worker_thread(w);
      handle_finished_requests(w, abortive ? 1 : 0);
    }
    vrio_t_bits halves = (closing_read ? read_half_open : 0) | (closing_write ? write_half_open : 0);
    halves &= l->layer.flags;
    if (halves != 0 && (l->layer.flags & is_socket) && !(l->layer.flags & fd_not_owned)) {
      bool shut_write = (halves & write_half_open) != 0;
      if (shut_write && abortive) {
        struct linger off = {1, 0};
        setsockopt(l->hFile, SOL_SOCKET, SO_LINGER, &off, sizeof off);
      }
      vrio_t_io_worker *w = shut_write && (l->layer.flags & VRIO_LAYER_WRITE_ALIVE) &&
                                    (l->write_worker.task != nullptr ||
                                     l->read_worker.task == nullptr)
                                ? &l->write_worker
                                : &l->read_worker;
      vrio_t_error_code error = VRIO_S_NOERR;
      vrio_t_error_code rc = threaddevice_simple_request(
          w, l->hFile, simple_do_unix_shutdown, &error,
          ((halves & read_half_open) ? 1 : 0) | (shut_write ? 2 : 0) | (abortive ? 4 : 0));
      if (rc == 1 && !abortive)
        return error;
    }
    l->layer.flags &= ~halves;
    if (!(l->layer.flags & (read_half_open | write_half_open))) {
      vrio_t_error_code rc = VRIO_S_NOERR, error = VRIO_S_NOERR;
      if (!(l->layer.flags & fd_not_owned)) {
        vrio_t_io_worker *w = (l->layer.flags & VRIO_LAYER_WRITE_ALIVE) ? &l->write_worker
                                                                        : &l->read_worker;
        rc = threaddevice_simple_request(w, l->hFile, simple_do_unix_close, &error, 0);
      }
      l->hFile = -1;
      if (rc == 1 && !abortive)
        return error;
    }
  }
  return vrio_layer_close_sides(s, options);
}


void vrio_layer_threaddevice_destroy(vrio_t_layer *layer)
{
  auto *l = reinterpret_cast<layer_threaddevice *>(layer);
  io_worker_deinit(&l->write_worker);
  io_worker_deinit(&l->read_worker);
  io_request_queue_free(l->completed_reads);
  vrio_free(l);
}

vrio_t_error_code open_file_handle(const vrio_t_funcs *funcs, VRIO *s, int hFile,
                                   vrio_t_bits options);

vrio_t_error_code vrio_layer_threaddevice_unix_open(const vrio_t_funcs *funcs, VRIO *s,
                                                    vrio_t_arglist args, vrio_t_bits options)
{
  return vrio_open_file_stream(funcs, s, args, options, open_file_handle);
}

const vrio_t_funcs threaddevice_funcs = {sizeof(vrio_t_funcs),
                                         "threaddevice",
                                         sizeof(layer_threaddevice),
                                         0,
                                         0,
                                         threaddevice_read,
                                         threaddevice_write,
                                         threaddevice_sync,
                                         threaddevice_seek,
                                         threaddevice_close,
                                         vrio_layer_open_not_implemented,
                                         vrio_layer_pop_not_implemented,
                                         vrio_layer_threaddevice_destroy,
                                         vrio_layer_threaddevice_unix_open,
                                         threaddevice_ioctl};

vrio_t_error_code open_file_handle(const vrio_t_funcs *funcs, VRIO *s, int hFile,
                                   vrio_t_bits options)
{
  int status;
  vrio_t_device_type type;
  vrio_t_error_code checked = vrio_fd_stream_checks(hFile, options, &status, &type);
  if (checked < 0)
    return checked;
  vrio_t_offset read_pos = 0, write_pos = 0;
  vrio_t_bits flags = (options & VRIO_FD_NOT_OWNED) ? fd_not_owned : 0;
  if (type != VRIO_DEVICE_TYPE_FILE) {
    flags |= sequential | (type == VRIO_DEVICE_TYPE_SOCKET ? is_socket : 0);
  } else {
    vrio_t_error_code rc = vrio_fd_stream_positions(hFile, options, status, &read_pos, &write_pos);
    if (rc < 0)
      return rc;
    flags |= (options & VRIO_FD_SEQUENTIAL) ? sequential : seekable;
  }
  if (type == VRIO_DEVICE_TYPE_FILE && (options & VRIO_FD_WRITE))
    flags |= writes_to_file;
  auto *l = static_cast<layer_threaddevice *>(vrio_alloc(sizeof(layer_threaddevice)));
  if (l == nullptr)
    return VRIO_E_OUT_OF_MEMORY;
  l->layer.funcs = funcs;
  l->layer.next = nullptr;
  l->layer.pad = 0;
  l->hFile = hFile;
  l->device_type = type;
  l->read_pos = read_pos;
  l->write_pos = write_pos;
  l->completed_reads = nullptr;
  l->writes_queued = 0;
  io_worker_pre_init(&l->write_worker);
  io_worker_pre_init(&l->read_worker);
  vrio_t_error_code rc = VRIO_S_NOERR;
  if (options & VRIO_FD_WRITE) {
    flags |= VRIO_LAYER_WRITE_SIDE(1) | write_half_open;
    rc = io_worker_init(&l->write_worker);
    if (rc >= 0)
      vrio_event_set(l->write_worker.event); /* a new stream is writable */
  }
  if (rc >= 0 && (options & VRIO_FD_READ)) {
    flags |= VRIO_LAYER_READ_SIDE(1) | read_half_open;
    rc = io_worker_init(&l->read_worker);
    if (rc >= 0)
      rc = vrio_queue_new(&l->completed_reads, 0);
  }
  if (rc < 0) {
    vrio_layer_threaddevice_destroy(&l->layer);
    return rc;
  }
  l->layer.flags = flags;
  vrio_layer_push(s, &l->layer);
  return VRIO_S_NOERR;
}

} // namespace

int vrio_abortive_write_cancel = 1;

vrio_t_error_code vrio_layer_threaddevice_open_file_handle_unix(VRIO *s, int hFile,
                                                                vrio_t_bits options)
{
  return open_file_handle(&threaddevice_funcs, s, hFile, options);
}

vrio_t_error_code vrio_init_layer_threaddevice(vrio_t_bits options)
{
  if (options & 1) {
    vrio_io_worker_kill_delay = -1;
    vrio_io_worker_kill_sched_yield = -1;
    return vrio_register_layer(&threaddevice_funcs, 1);
  }
  vrio_abortive_write_cancel = vrio_get_boolean_system_property("VRIO_ABORTIVE_WRITE_CANCEL", 1);
  vrio_io_worker_kill_delay = vrio_get_ssize_system_property("VRIO_THREAD_KILL_DELAY", 10);
  vrio_io_worker_kill_sched_yield =
      vrio_get_ssize_system_property("VRIO_THREAD_KILL_SCHED_YIELD", 20);
  return vrio_register_layer(&threaddevice_funcs, 0);
}
