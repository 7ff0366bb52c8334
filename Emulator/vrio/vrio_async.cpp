/* vrio_async.cpp: the "async" layer over a descriptor, its asynchronous
 * requests (one task per read, write or fsync), the choice between it and
 * the threaddevice layer for streams over descriptors, and the standard
 * streams' set-up.
 *
 * Reading keeps one 64 KiB read-ahead request running; writing collects
 * up to 64 KiB before a background write starts.  A write request owns
 * `write_buf` while it runs.  A failed write stays in place and every
 * later write, sync and non-abortive close reports it, until an abortive
 * close takes it away.
 *
 * Three things differ from a plain reading of this layer's design, each
 * for a fault it had: appending streams are opened with O_APPEND (two
 * writers appending at once no longer overwrite each other); closing the
 * read side cancels a read-ahead still waiting (a terminal or an idle
 * pipe would otherwise hold the close for ever); and on a seekable stream
 * open both ways a read first pushes out the buffered writes, so that it
 * never returns data older than what was written.
 */
#include "vrio_async.h"

#include <fcntl.h>
#include <pthread.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <initializer_list>

#include "vrio_internal.h"

static constexpr size_t read_size = 65536;

/* The request's outcome: written by its task, read by its owner. */
static vrio_t_error_code load_code(const vrio_t_async_info *r)
{
  return __atomic_load_n(&r->code, __ATOMIC_SEQ_CST);
}

static void store_code(vrio_t_async_info *r, vrio_t_error_code code)
{
  __atomic_store_n(&r->code, code, __ATOMIC_SEQ_CST);
}

vrio_t_error_code vrio_async_init(vrio_t_async_info *req, vrio_t_buf *buf, size_t buf_offset,
                                  size_t nbytes, vrio_t_offset file_offset, vrio_t_event *event)
{
  req->flags = VRIO_ASYNC_IN_USE;
  req->code = VRIO_E_ERROR;
  req->buf_offset = buf_offset;
  req->nbytes = 0;
  req->buf = buf;
  req->file_offset = file_offset;
  req->event = event;
  if (buf == nullptr) {
    if (buf_offset != 0)
      return VRIO_E_PARAMETER_ERROR;
    if (nbytes != 0) {
      req->buf = vrio_buf_alloc(nullptr, nbytes, 0);
      if (req->buf == nullptr)
        return VRIO_E_OUT_OF_MEMORY;
      req->flags |= VRIO_ASYNC_OWNS_BUF;
    }
  }
  return VRIO_S_NOERR;
}

void vrio_async_deinit(vrio_t_async_info *req)
{
  if (req->flags & VRIO_ASYNC_OWNS_BUF)
    vrio_buf_free(req->buf);
  req->buf = nullptr;
  req->flags &= ~VRIO_ASYNC_OWNS_BUF;
  req->event = nullptr;
}

int vrio_async_in_use(const vrio_t_async_info *req)
{
  return req != nullptr && (req->flags & VRIO_ASYNC_IN_USE) != 0;
}

/* The system calls, on the request's task, cancellable only inside the
   call itself; the data lives in the request's buffer. */

static void do_read(vrio_t_async_unix *r)
{
  vrio_t_buf *b = r->info.buf;
  ssize_t n;
  int e;
  do {
    vrio_task_pthread_cancel_enable();
    if ((r->info.flags & VRIO_ASYNC_POSITIONED) && !(r->info.flags & VRIO_ASYNC_SEQUENTIAL))
      n = pread(r->hFile, b->buf + b->extent, b->writable_size - b->extent,
                static_cast<off_t>(r->info.file_offset));
    else
      n = read(r->hFile, b->buf + b->extent, b->writable_size - b->extent);
    e = errno; /* before anything else can change it */
    vrio_task_pthread_cancel_disable();
  } while (n == -1 && e == EINTR);
  vrio_t_error_code code;
  if (n > 0) {
    r->info.nbytes = static_cast<size_t>(n);
    b->extent += static_cast<size_t>(n);
    code = VRIO_S_NOERR;
  } else if (n == 0) {
    code = VRIO_E_END_OF_FILE;
  } else if (e == EAGAIN) {
    code = VRIO_E_INTERNAL_ERROR;
  } else if (e == ECONNRESET) {
    code = VRIO_E_NET_CONNRESET;
  } else if (e == ENOTCONN) {
    code = VRIO_E_END_OF_FILE;
  } else if (e == ETIMEDOUT) {
    code = VRIO_E_READ_ERROR;
  } else {
    code = vrio_map_unix_error(e, VRIO_E_READ_ERROR);
  }
  if (r->info.event != nullptr)
    vrio_event_set(r->info.event);
  store_code(&r->info, code);
}

static void do_write(vrio_t_async_unix *r)
{
  vrio_t_buf *b = r->info.buf;
  const unsigned char *from = b->buf + r->info.buf_offset;
  size_t left = b->extent - r->info.buf_offset;
  bool positioned = (r->info.flags & VRIO_ASYNC_POSITIONED) &&
                    !(r->info.flags & (VRIO_ASYNC_SEQUENTIAL | VRIO_ASYNC_APPEND));
  ssize_t n;
  int e;
  do {
    vrio_task_pthread_cancel_enable();
    n = positioned ? pwrite(r->hFile, from, left, static_cast<off_t>(r->info.file_offset))
                   : write(r->hFile, from, left);
    e = errno;
    vrio_task_pthread_cancel_disable();
  } while (n == -1 && e == EINTR);
  vrio_t_error_code code;
  if (n >= 0) {
    r->info.nbytes = static_cast<size_t>(n);
    code = VRIO_S_NOERR;
  } else if (e == EAGAIN) {
    code = VRIO_E_INTERNAL_ERROR;
  } else if (e == EPIPE || e == ECONNRESET) {
    code = VRIO_E_NET_CONNRESET;
  } else {
    code = vrio_map_unix_error(e, VRIO_E_WRITE_ERROR);
  }
  if (r->info.event != nullptr)
    vrio_event_set(r->info.event);
  store_code(&r->info, code);
}

static void do_fsync(vrio_t_async_unix *r)
{
  int result, e;
  do {
    vrio_task_pthread_cancel_enable();
    result = fsync(r->hFile);
    e = errno;
    vrio_task_pthread_cancel_disable();
  } while (result == -1 && e == EINTR);
  vrio_t_error_code code = VRIO_S_NOERR;
  if (result == -1 && (r->info.flags & VRIO_ASYNC_REPORT_FSYNC) && e != EINVAL)
    code = vrio_map_unix_error(e, VRIO_E_SYNC_ERROR);
  if (r->info.event != nullptr)
    vrio_event_set(r->info.event);
  store_code(&r->info, code);
}

static void request_cancelled(void *arg)
{
  store_code(&static_cast<vrio_t_async_unix *>(arg)->info, VRIO_E_INTERRUPTED);
}

static void *vrio_async_thread_function_unix(vrio_t_task volatile *, void *arg)
{
  auto *r = static_cast<vrio_t_async_unix *>(arg);
  pthread_cleanup_push(request_cancelled, r);
  r->u.do_fun(r);
  pthread_cleanup_pop(0);
  return nullptr;
}

void vrio_async_free(vrio_t_async_unix *req)
{
  if (req == nullptr)
    return;
  vrio_task_free(req->u.task);
  req->u.task = nullptr;
  vrio_async_deinit(&req->info);
  vrio_free(req);
}

/* Makes and starts a request in *preq (freeing the one held there). */
static vrio_t_error_code issue(vrio_t_async_unix **preq, vrio_t_buf *buf, size_t nbytes,
                               vrio_t_offset file_offset, int hFile, vrio_t_event *event,
                               vrio_t_bits async_options, vrio_t_bits kind, vrio_t_async_do fun)
{
  if (event != nullptr)
    vrio_event_reset(event);
  vrio_async_free(*preq);
  *preq = nullptr;
  auto *r = static_cast<vrio_t_async_unix *>(vrio_alloc(sizeof(vrio_t_async_unix)));
  if (r == nullptr) {
    if (event != nullptr)
      vrio_event_set(event);
    return VRIO_E_OUT_OF_MEMORY;
  }
  r->hFile = hFile;
  r->u.task = nullptr;
  r->u.do_fun = fun;
  vrio_t_error_code rc = vrio_async_init(&r->info, buf, 0, nbytes, file_offset, event);
  if (rc >= 0) {
    vrio_t_bits o = async_options & 0x3FF;
    r->info.flags |= kind | VRIO_ASYNC_HAS_TASK | ((o & 2) ? VRIO_ASYNC_SEQUENTIAL : 0) |
                     ((o & 4) ? VRIO_ASYNC_REPORT_FSYNC : 0) | ((o & 8) ? VRIO_ASYNC_FIFO : 0) |
                     ((o & 0x10) ? VRIO_ASYNC_TTY : 0) | ((o & 0x20) ? VRIO_ASYNC_SOCKET : 0) |
                     ((o & 0x40) ? VRIO_ASYNC_CHARACTER : 0) |
                     ((o & 0x80) ? VRIO_ASYNC_POSITIONED : 0) |
                     ((o & 0x100) ? VRIO_ASYNC_APPEND : 0) | ((o & 0x400) ? VRIO_ASYNC_READ : 0) |
                     ((o & 0x800) ? VRIO_ASYNC_WRITE : 0);
    r->info.code = VRIO_E_INPROGRESS;
    rc = vrio_task_create(kind == VRIO_ASYNC_READ ? 6 : 2, vrio_async_thread_function_unix, r,
                          &r->u.task);
  }
  if (rc < 0) {
    r->info.code = VRIO_E_ERROR;
    vrio_async_deinit(&r->info);
    vrio_free(r);
    if (event != nullptr)
      vrio_event_set(event);
    return rc;
  }
  *preq = r;
  return VRIO_S_NOERR;
}

vrio_t_error_code vrio_async_unix_read(vrio_t_async_unix **preq, vrio_t_offset file_offset,
                                       int hFile, vrio_t_event *event, vrio_t_bits async_options)
{
  return issue(preq, nullptr, read_size, file_offset, hFile, event, async_options,
               VRIO_ASYNC_READ, do_read);
}

vrio_t_error_code vrio_async_unix_write(vrio_t_async_unix **preq, vrio_t_buf *buf,
                                        vrio_t_offset file_offset, int hFile,
                                        vrio_t_event *event, vrio_t_bits async_options)
{
  return issue(preq, buf, buf->extent, file_offset, hFile, event, async_options,
               VRIO_ASYNC_WRITE, do_write);
}

vrio_t_error_code vrio_async_unix_fsync(vrio_t_async_unix **preq, int hFile, vrio_t_event *event,
                                        vrio_t_bits async_options)
{
  return issue(preq, nullptr, 0, 0, hFile, event, async_options, VRIO_ASYNC_WRITE, do_fsync);
}

static bool in_use(const vrio_t_async_unix *req)
{
  return req != nullptr && vrio_async_in_use(&req->info);
}

static bool running(vrio_t_async_unix *req)
{
  return req->u.task != nullptr && vrio_task_is_running(req->u.task);
}

vrio_t_error_code vrio_async_error(vrio_t_async_unix *req, vrio_t_error_code *pcode)
{
  if (running(req))
    return VRIO_E_INPROGRESS;
  vrio_t_error_code code = load_code(&req->info);
  if (pcode != nullptr)
    *pcode = code;
  return code < 0 ? static_cast<vrio_t_error_code>(1) : VRIO_S_NOERR;
}

vrio_t_error_code vrio_async_suspend(vrio_t_async_unix *const *list, int n,
                                     const vrio_t_timespec *timeout)
{
  if (n == 0)
    return VRIO_S_NOERR;
  if (n < 0 || n > 1)
    return VRIO_E_PARAMETER_ERROR;
  vrio_t_async_unix *req = list[0];
  if (req->u.task == nullptr)
    return VRIO_E_INTERNAL_ERROR;
  while (running(req)) {
    vrio_t_event *done;
    vrio_task_event(req->u.task, &done);
    vrio_t_error_code rc = vrio_event_wait(&done, 1, timeout);
    if (rc < 0)
      return rc;
  }
  return VRIO_S_NOERR;
}

vrio_t_error_code vrio_async_cancel_unix(vrio_t_async_unix *req)
{
  if (req->u.task == nullptr)
    return VRIO_E_INTERNAL_ERROR;
  vrio_t_error_code rc = vrio_task_cancel(req->u.task);
  return rc == VRIO_E_NOT_SUPPORTED ? VRIO_S_NOERR : rc;
}

vrio_t_error_code vrio_async_poll_for_completion_unix(vrio_t_async_unix *req)
{
  return running(req) ? VRIO_E_INPROGRESS : VRIO_S_NOERR;
}

vrio_t_error_code wait_for_async_info(vrio_t_async_unix *req, vrio_t_bits options)
{
  if ((options & 1) && running(req))
    vrio_async_cancel_unix(req);
  if (!running(req))
    return VRIO_S_NOERR;
  if (options & 2)
    return VRIO_E_WOULD_BLOCK;
  vrio_ensure_interrupts_done();
  vrio_t_async_unix *list[1] = {req};
  vrio_t_error_code rc = vrio_async_suspend(list, 1, nullptr);
  if (rc == VRIO_E_INTERRUPTED)
    vrio_ensure_interrupts_done();
  return rc;
}

vrio_t_error_code vrio_async_return_buf(vrio_t_async_unix **preq, vrio_t_buf *buf)
{
  vrio_t_async_unix *r = *preq;
  /* Joining the task first orders its writes before our reads. */
  vrio_task_free(r->u.task);
  r->u.task = nullptr;
  vrio_t_error_code code = load_code(&r->info);
  if (code >= 0 && buf != nullptr && r->info.buf != nullptr) {
    vrio_t_error_code rc = vrio_buf_concat(buf, r->info.buf);
    if (rc < 0)
      return rc;
  }
  r->info.flags &= ~VRIO_ASYNC_IN_USE;
  vrio_async_free(r);
  *preq = nullptr;
  return code < 0 ? static_cast<vrio_t_error_code>(1) : VRIO_S_NOERR;
}

vrio_t_error_code vrio_async_return(vrio_t_async_unix **preq, vrio_t_offset *pfile_offset,
                                    size_t *pnbytes)
{
  vrio_t_async_unix *r = *preq;
  vrio_task_free(r->u.task);
  r->u.task = nullptr;
  vrio_t_error_code code = load_code(&r->info);
  if (pfile_offset != nullptr)
    *pfile_offset = r->info.file_offset;
  if (pnbytes != nullptr)
    *pnbytes = code < 0 ? 0 : r->info.nbytes;
  return vrio_async_return_buf(preq, nullptr);
}

/* Interrupts reach this hook; what it records is only for a debugger. */
static vrio_t_bits last_interrupt;

static void vrio_async_unix_interrupt_hook(void *, vrio_t_bits options)
{
  __atomic_store_n(&last_interrupt, options, __ATOMIC_RELAXED);
}

vrio_t_error_code vrio_init_async(vrio_t_bits options)
{
  return vrio_register_interrupt_hook(vrio_async_unix_interrupt_hook, nullptr, options & 1);
}

/* The layer. */

namespace {

constexpr vrio_t_bits read_half_open = 0x20000u;
constexpr vrio_t_bits write_half_open = 0x40000u;
constexpr vrio_t_bits fd_not_owned = VRIO_LAYER_FD_NOT_OWNED;
constexpr vrio_t_bits seekable = VRIO_LAYER_CAN_REREAD;
constexpr vrio_t_bits append_mode = 0x200000u;
constexpr vrio_t_bits stale_read_ahead = 0x800000u;

constexpr vrio_t_bits push_out = 0x200000u; /* write option: everything, and wait */
constexpr size_t write_threshold = 65536;

struct vrio_t_layer_asynk_ {
  vrio_t_layer layer;
  int hFile;
  vrio_t_device_type device_type;
};

struct layer_async {
  vrio_t_layer_asynk_ layer_asynk;
  vrio_t_bits async_options;
  vrio_t_async_unix *read_async_info;
  vrio_t_async_unix *write_async_info;
  vrio_t_buf write_buf;
  vrio_t_async_unix *fsync_async_info;
  vrio_t_offset read_pos;
  vrio_t_offset write_pos;
  vrio_t_offset write_buf_write_pos;
  vrio_t_event *read_event;
  vrio_t_event *write_event;
};
#if defined(__i386__)
static_assert(sizeof(layer_async) == 92);
#endif

layer_async *async_of(VRIO *s)
{
  return reinterpret_cast<layer_async *>(*s);
}

vrio_t_bits flags_of(const layer_async *l)
{
  return l->layer_asynk.layer.flags;
}

vrio_t_error_code asynk_write(VRIO *s, vrio_t_buf *buf, size_t *offset, vrio_t_bits options);

/* Buffered output written and waited for (a failed write is the result). */
vrio_t_error_code push_out_writes(VRIO *s, vrio_t_bits options)
{
  vrio_t_buf none;
  vrio_buf_init_buf(&none);
  size_t offset = 0;
  return asynk_write(s, &none, &offset, push_out | (options & VRIO_WRITE_NONBLOCKING));
}

vrio_t_error_code asynk_read(VRIO *s, vrio_t_buf *buf, vrio_t_bits options)
{
  layer_async *l = async_of(s);
  int hFile = l->layer_asynk.hFile;
  bool can_seek = (flags_of(l) & seekable) != 0;
  if (can_seek && (flags_of(l) & VRIO_LAYER_WRITE_ALIVE) &&
      (l->write_buf.extent != 0 || in_use(l->write_async_info))) {
    vrio_t_error_code rc = push_out_writes(s, options & VRIO_READ_NONBLOCKING);
    if (rc < 0)
      return rc;
  }
  bool fresh = false;
  for (;;) {
    if (!in_use(l->read_async_info)) {
      l->layer_asynk.layer.flags &= ~stale_read_ahead;
      vrio_t_error_code rc = vrio_async_unix_read(&l->read_async_info, l->read_pos, hFile,
                                                  l->read_event, l->async_options | 0x400);
      if (rc < 0)
        return rc;
      fresh = true;
    }
    vrio_t_error_code code = VRIO_S_NOERR;
    vrio_t_error_code state = vrio_async_error(l->read_async_info, &code);
    if (state == VRIO_E_INPROGRESS) {
      vrio_t_error_code rc =
          wait_for_async_info(l->read_async_info, (options & VRIO_READ_NONBLOCKING) ? 2 : 0);
      if (rc < 0)
        return rc; /* still running: a later read picks it up */
      continue;
    }
    if (state == 1) {
      vrio_async_return_buf(&l->read_async_info, nullptr);
      if (code == VRIO_E_END_OF_FILE && !can_seek)
        return code;
      if (fresh)
        return code;
      continue; /* an old read-ahead's end or cancellation: ask again */
    }
    if (can_seek && (flags_of(l) & stale_read_ahead)) {
      vrio_async_return_buf(&l->read_async_info, nullptr);
      continue;
    }
    size_t before = buf->extent;
    vrio_t_error_code rc = vrio_async_return_buf(&l->read_async_info, buf);
    if (rc < 0)
      return rc;
    l->read_pos += static_cast<vrio_t_offset>(buf->extent - before);
    vrio_async_unix_read(&l->read_async_info, l->read_pos, hFile, l->read_event,
                         l->async_options | 0x400);
    return VRIO_S_NOERR;
  }
}

vrio_t_error_code issue_write(layer_async *l)
{
  l->layer_asynk.layer.flags |= stale_read_ahead;
  return vrio_async_unix_write(&l->write_async_info, &l->write_buf, l->write_buf_write_pos,
                               l->layer_asynk.hFile, l->write_event, l->async_options | 0x800);
}

vrio_t_error_code asynk_sync(VRIO *s, vrio_t_bits options);

vrio_t_error_code asynk_write(VRIO *s, vrio_t_buf *buf, size_t *offset, vrio_t_bits options)
{
  layer_async *l = async_of(s);
  bool pushing = (options & push_out) != 0;
  bool nonblocking = (options & VRIO_WRITE_NONBLOCKING) != 0;
  if (*offset > buf->extent)
    return VRIO_E_PARAMETER_ERROR;
  vrio_t_buf *wb = &l->write_buf;
  if (!pushing && wb->extent != 0 &&
      l->write_buf_write_pos + static_cast<vrio_t_offset>(wb->extent) != l->write_pos) {
    vrio_t_error_code rc = asynk_sync(s, 0x44 | (nonblocking ? VRIO_SYNC_NONBLOCKING : 0));
    if (rc < 0)
      return rc;
    l->write_buf_write_pos = l->write_pos;
  }
  for (;;) {
    while (in_use(l->write_async_info)) {
      vrio_t_error_code rc = wait_for_async_info(l->write_async_info, nonblocking ? 2 : 0);
      if (rc < 0 && (in_use(l->write_async_info) || wb->extent != 0))
        return rc;
      vrio_t_error_code code;
      if (vrio_async_error(l->write_async_info, &code) == 1)
        return code; /* the failed request stays: reported again and again */
      size_t written = 0;
      vrio_async_return(&l->write_async_info, nullptr, &written);
      if (written < wb->extent) {
        vrio_buf_contract(wb, static_cast<ptrdiff_t>(written));
        l->write_buf_write_pos += static_cast<vrio_t_offset>(written);
        rc = issue_write(l);
        if (rc < 0)
          return rc;
      } else {
        wb->extent = 0;
      }
    }
    if (*offset < buf->extent) {
      size_t offered = buf->extent - *offset;
      if (wb->writable_size == 0 && vrio_buf_reserve(wb, write_threshold) < 0)
        return VRIO_E_OUT_OF_MEMORY;
      size_t room = wb->writable_size - wb->extent;
      size_t take = offered;
      if (room == 0) {
        if (vrio_buf_reserve(wb, offered) < 0)
          return VRIO_E_OUT_OF_MEMORY;
      } else if (room < offered) {
        take = room;
      }
      if (wb->extent == 0)
        l->write_buf_write_pos = l->write_pos;
      vrio_buf_concat_bytes(wb, buf->buf + *offset, take);
      l->write_pos += static_cast<vrio_t_offset>(take);
      *offset += take;
    }
    if (wb->extent >= write_threshold || (pushing && wb->extent != 0)) {
      vrio_t_error_code rc = issue_write(l);
      if (rc < 0)
        return rc;
      if (pushing)
        continue; /* wait for it */
    }
    return VRIO_S_NOERR;
  }
}

vrio_t_error_code asynk_sync(VRIO *s, vrio_t_bits options)
{
  layer_async *l = async_of(s);
  int hFile = l->layer_asynk.hFile;
  if (hFile == -1)
    return VRIO_S_NOERR;
  if ((options & VRIO_SYNC_WRITE) && (flags_of(l) & VRIO_LAYER_OPEN_WRITE)) {
    if (in_use(l->fsync_async_info)) {
      vrio_t_error_code rc = wait_for_async_info(l->fsync_async_info, 0);
      if (rc < 0)
        return rc;
      vrio_t_error_code code = VRIO_S_NOERR;
      vrio_async_error(l->fsync_async_info, &code);
      vrio_async_return(&l->fsync_async_info, nullptr, nullptr);
      if (code < 0)
        return code;
    }
    vrio_t_error_code rc =
        push_out_writes(s, (options & VRIO_SYNC_NONBLOCKING) ? VRIO_WRITE_NONBLOCKING : 0);
    if (rc < 0)
      return rc;
    if (l->layer_asynk.device_type == VRIO_DEVICE_TYPE_FILE && !(options & 0x40)) {
      rc = vrio_async_unix_fsync(&l->fsync_async_info, hFile, l->write_event, l->async_options);
      if (rc < 0)
        return rc;
      rc = wait_for_async_info(l->fsync_async_info, 0);
      if (rc < 0)
        return rc;
      vrio_t_error_code code = VRIO_S_NOERR;
      vrio_async_error(l->fsync_async_info, &code);
      vrio_async_return(&l->fsync_async_info, nullptr, nullptr);
      if (code < 0)
        return code;
    }
  }
  if ((options & VRIO_SYNC_READ) && (flags_of(l) & VRIO_LAYER_OPEN_READ) &&
      !(options & VRIO_SYNC_KEEP_READ_AHEAD) && in_use(l->read_async_info)) {
    /* Its data, if it came first, stays for the next read. */
    vrio_t_error_code rc = wait_for_async_info(l->read_async_info, 1);
    if (rc < 0)
      return rc;
  }
  return VRIO_S_NOERR;
}

vrio_t_error_code asynk_seek(VRIO *s, vrio_t_offset offset, vrio_t_offset *new_position,
                             vrio_t_buf *, vrio_t_bits options)
{
  layer_async *l = async_of(s);
  if (!(flags_of(l) & seekable))
    return VRIO_E_SEEK_ERROR;
  bool read_asked = (options & VRIO_SEEK_READ) != 0, write_asked = (options & VRIO_SEEK_WRITE) != 0;
  vrio_t_offset target;
  if (options & VRIO_SEEK_ABSOLUTE) {
    target = offset;
  } else if (options & (VRIO_SEEK_RELATIVE | VRIO_SEEK_RELATIVE_BUFFERED)) {
    vrio_t_offset base;
    if (read_asked && write_asked) {
      if (l->read_pos != l->write_pos)
        return VRIO_E_SEEK_ERROR;
      base = l->read_pos;
    } else {
      base = read_asked ? l->read_pos : l->write_pos;
    }
    target = base + offset;
  } else if (options & VRIO_SEEK_FROM_END) {
    int64_t size = 0;
    if (vrio_ioctl_size(s, &size, (read_asked ? 2 : 0) | (write_asked ? 4 : 0)) < 0)
      return VRIO_E_SEEK_ERROR;
    target = size + offset;
  } else {
    return VRIO_E_PARAMETER_ERROR;
  }
  if (target < 0)
    return VRIO_E_PARAMETER_ERROR;
  if (read_asked) {
    l->read_pos = target;
    l->layer_asynk.layer.flags |= stale_read_ahead;
  }
  if (write_asked)
    l->write_pos = target;
  *new_position = target;
  return VRIO_S_NOERR;
}

/* Waits for a request in use and returns it; cancelled first when asked. */
vrio_t_error_code finish_request(vrio_t_async_unix **preq, bool cancel)
{
  if (!in_use(*preq))
    return VRIO_S_NOERR;
  vrio_t_error_code rc = wait_for_async_info(*preq, cancel ? 1 : 0);
  if (rc < 0)
    return rc;
  vrio_async_return(preq, nullptr, nullptr);
  return VRIO_S_NOERR;
}

vrio_t_error_code asynk_close(VRIO *s, vrio_t_bits options)
{
  layer_async *l = async_of(s);
  bool abortive = (options & VRIO_CLOSE_ABORTIVE) != 0;
  int &hFile = l->layer_asynk.hFile;
  if (hFile != -1) {
    if (options & VRIO_CLOSE_READ) {
      /* Nobody will take the read-ahead: a read still waiting (for a
         terminal, or a pipe whose writer is idle) is cancelled. */
      vrio_t_error_code rc = finish_request(&l->read_async_info, true);
      if (rc < 0 && !abortive)
        return rc;
    }
    if (abortive) {
      finish_request(&l->fsync_async_info, true);
      finish_request(&l->write_async_info, true);
      l->write_buf.extent = 0;
    }
    vrio_t_bits halves = ((options & VRIO_CLOSE_READ) ? read_half_open : 0) |
                         ((options & VRIO_CLOSE_WRITE) ? write_half_open : 0);
    halves &= flags_of(l);
    if (halves != 0 && l->layer_asynk.device_type == VRIO_DEVICE_TYPE_SOCKET &&
        !(flags_of(l) & fd_not_owned)) {
      vrio_t_error_code rc = vrio_socket_shutdown(
          hFile, ((halves & read_half_open) ? VRIO_SOCKET_SHUT_READ : 0) |
                     ((halves & write_half_open) ? VRIO_SOCKET_SHUT_WRITE : 0));
      if (rc < 0 && !abortive)
        return rc;
    }
    l->layer_asynk.layer.flags &= ~halves;
    if (!(flags_of(l) & (read_half_open | write_half_open))) {
      vrio_t_error_code rc = VRIO_S_NOERR;
      if (!(flags_of(l) & fd_not_owned))
        rc = vrio_os_file_handle_close_unix(hFile, abortive ? 1 : 0);
      hFile = -1;
      if (rc < 0 && !abortive)
        return rc;
    }
  }
  return vrio_layer_close_sides(s, options);
}

void vrio_layer_asynk_destroy(vrio_t_layer *layer)
{
  auto *l = reinterpret_cast<layer_async *>(layer);
  vrio_async_free(l->read_async_info);
  vrio_async_free(l->write_async_info);
  vrio_async_free(l->fsync_async_info);
  vrio_buf_free(&l->write_buf);
  vrio_event_free(l->read_event);
  vrio_event_free(l->write_event);
  vrio_free(l);
}

vrio_t_error_code vrio_layer_async_ioctl_default(VRIO *s, vrio_t_ioctl_operation operation,
                                                 void *param, vrio_t_bits)
{
  layer_async *l = async_of(s);
  switch (operation) {
  case VRIO_IOCTL_READABLE_EVENT_:
    *static_cast<vrio_t_event **>(param) = l->read_event;
    return VRIO_S_NOERR;
  case VRIO_IOCTL_WRITABLE_EVENT_:
    *static_cast<vrio_t_event **>(param) = l->write_event;
    return VRIO_S_NOERR;
  case VRIO_IOCTL_DEVICE_TYPE_:
    *static_cast<vrio_t_device_type *>(param) = l->layer_asynk.device_type;
    return VRIO_S_NOERR;
  case VRIO_IOCTL_SIZE_: {
    vrio_t_offset size;
    vrio_t_error_code rc = vrio_unix_file_size(l->layer_asynk.hFile, &size);
    if (rc < 0)
      return l->layer_asynk.device_type == VRIO_DEVICE_TYPE_FILE ? rc : VRIO_E_NOT_SUPPORTED;
    if ((flags_of(l) & VRIO_LAYER_WRITE_ALIVE) && l->write_buf.extent != 0) {
      vrio_t_offset end = l->write_buf_write_pos + static_cast<vrio_t_offset>(l->write_buf.extent);
      if (end > size)
        size = end;
    }
    *static_cast<int64_t *>(param) = size;
    return VRIO_S_NOERR;
  }
  default:
    return VRIO_E_NOT_SUPPORTED;
  }
}

vrio_t_error_code vrio_layer_async_unix_ioctl(VRIO *s, vrio_t_ioctl_operation operation,
                                              void *param, vrio_t_bits options)
{
  return vrio_layer_async_ioctl_default(s, operation, param, options);
}

vrio_t_error_code unix_open_file_handle_real(const vrio_t_funcs *funcs, VRIO *s, int hFile,
                                             vrio_t_bits options)
{
  int status;
  vrio_t_device_type type;
  vrio_t_error_code checked = vrio_fd_stream_checks(hFile, options, &status, &type);
  if (checked < 0)
    return checked;
  vrio_t_bits flags = 0;
  if (options & VRIO_FD_READ)
    flags |= read_half_open | VRIO_LAYER_READ_SIDE(1);
  if (options & VRIO_FD_WRITE)
    flags |= write_half_open | VRIO_LAYER_WRITE_SIDE(1);
  if (options & VRIO_FD_NOT_OWNED)
    flags |= fd_not_owned;
  vrio_t_bits async_options = (options & VRIO_FD_SEQUENTIAL) ? 2 : 0;
  vrio_t_offset read_pos = 0, write_pos = 0;
  switch (type) {
  case VRIO_DEVICE_TYPE_TTY:
    async_options |= 0x10;
    break;
  case VRIO_DEVICE_TYPE_SOCKET:
    async_options |= 0x20;
    break;
  case VRIO_DEVICE_TYPE_FIFO:
    async_options |= 8;
    break;
  case VRIO_DEVICE_TYPE_CHARACTER:
    async_options |= 0x40;
    break;
  case VRIO_DEVICE_TYPE_FILE: {
    async_options |= 4;
    if ((options & VRIO_FD_WRITE) && (status & O_APPEND) && (options & VRIO_FD_SEQUENTIAL)) {
      flags |= append_mode;
      async_options |= 0x104;
    }
    vrio_t_error_code rc = vrio_fd_stream_positions(hFile, options, status, &read_pos, &write_pos);
    if (rc < 0)
      return rc;
    if (!(options & VRIO_FD_SEQUENTIAL)) {
      flags |= seekable;
      async_options |= 0x80;
    }
    break;
  }
  default:
    return VRIO_E_IMPOSSIBLE_ERROR;
  }
  auto *l = static_cast<layer_async *>(vrio_alloc(sizeof(layer_async)));
  if (l == nullptr)
    return VRIO_E_OUT_OF_MEMORY;
  *l = layer_async{};
  vrio_t_error_code rc = vrio_event_new(0, &l->read_event);
  if (rc >= 0)
    rc = vrio_event_new(1, &l->write_event);
  if (rc < 0) {
    vrio_event_free(l->read_event);
    vrio_free(l);
    return rc;
  }
  l->layer_asynk.layer.funcs = funcs;
  l->layer_asynk.layer.flags = flags;
  l->layer_asynk.hFile = hFile;
  l->layer_asynk.device_type = type;
  l->async_options = async_options;
  vrio_buf_init_buf(&l->write_buf);
  l->write_buf.flags = VRIO_BUF_CALLER_RECORD; /* owned storage once it grows */
  l->read_pos = read_pos;
  l->write_pos = write_pos;
  l->write_buf_write_pos = -1;
  vrio_layer_push(s, &l->layer_asynk.layer);
  return VRIO_S_NOERR;
}

vrio_t_error_code vrio_layer_async_unix_open(const vrio_t_funcs *funcs, VRIO *s,
                                             vrio_t_arglist args, vrio_t_bits options)
{
  return vrio_open_file_stream(funcs, s, args, options, unix_open_file_handle_real);
}

const vrio_t_funcs asynk_async_funcs = {sizeof(vrio_t_funcs),
                                        "async",
                                        sizeof(layer_async),
                                        0,
                                        0,
                                        asynk_read,
                                        asynk_write,
                                        asynk_sync,
                                        asynk_seek,
                                        asynk_close,
                                        vrio_layer_open_not_implemented,
                                        vrio_layer_pop_not_implemented,
                                        vrio_layer_asynk_destroy,
                                        vrio_layer_async_unix_open,
                                        vrio_layer_async_unix_ioctl};

int use_layer_threaddevice = 1;

} // namespace

static vrio_t_error_code unix_open_file_handle(const vrio_t_funcs *funcs, VRIO *s, int hFile,
                                        vrio_t_bits options)
{
  if (funcs == &asynk_async_funcs)
    return unix_open_file_handle_real(funcs, s, hFile, options);
  return vrio_layer_threaddevice_open_file_handle_unix(s, hFile, options);
}

vrio_t_error_code vrio_layer_async_unix_open_file_handle(VRIO *s, int hFile, vrio_t_bits options)
{
  const vrio_t_funcs *funcs;
  if (vrio_find_layer(use_layer_threaddevice ? "threaddevice" : "async", &funcs) < 0)
    return VRIO_E_NOT_FOUND;
  return unix_open_file_handle(funcs, s, hFile, options);
}

vrio_t_error_code vrio_init_layer_async(vrio_t_bits options)
{
  if (options & 1) {
    vrio_register_layer(&asynk_async_funcs, 1);
    return vrio_init_async(1);
  }
  vrio_t_error_code rc = vrio_init_async(0);
  if (rc < 0)
    return rc;
  return vrio_register_layer(&asynk_async_funcs, 0);
}

/* The standard streams: descriptors 0, 1 and 2, never owned, used at
   their own offsets.  A descriptor that is closed leaves its slot empty
   (a null stream on request). */
static vrio_t_error_code vrio_init_unix_standard_streams(void)
{
  const char *choice = std::getenv("VRIO_USE_LAYER_THREADDEVICE");
  use_layer_threaddevice = 1;
  if (choice != nullptr && strcmp(choice, "true") == 0)
    use_layer_threaddevice = 1;
  else if (choice != nullptr && strcmp(choice, "false") == 0)
    use_layer_threaddevice = 0;
  const vrio_t_funcs *async_kind;
  vrio_t_error_code rc = vrio_find_layer("async", &async_kind);
  if (rc < 0)
    return rc;
  const struct {
    int fd;
    vrio_t_bits open, slot;
  } standard[] = {{0, VRIO_FD_READ | VRIO_FD_NOT_OWNED | VRIO_FD_SEQUENTIAL, 9},
                  {1, VRIO_FD_WRITE | VRIO_FD_NOT_OWNED | VRIO_FD_SEQUENTIAL, 19},
                  {2, VRIO_FD_WRITE | VRIO_FD_NOT_OWNED | VRIO_FD_SEQUENTIAL, 21}};
  VRIO streams[3] = {nullptr, nullptr, nullptr};
  for (int i = 0; i < 3; ++i)
    vrio_layer_async_unix_open_file_handle(&streams[i], standard[i].fd, standard[i].open);
  rc = VRIO_S_NOERR;
  for (int i = 0; i < 3; ++i) {
    if (streams[i] == nullptr)
      continue;
    if (rc >= 0)
      rc = vrio_set_standard_stream(&streams[i], standard[i].slot);
    if (streams[i] != nullptr && vrio_close(&streams[i], 0) < 0)
      vrio_close(&streams[i], VRIO_CLOSE_ABORTIVE);
  }
  return rc;
}

vrio_t_error_code vrio_init_standard_streams(vrio_t_bits options)
{
  if (!(options & 1))
    return vrio_init_unix_standard_streams();
  for (vrio_t_bits slot : {1u, 3u, 5u})
    vrio_set_standard_stream(nullptr, slot);
  return VRIO_S_NOERR;
}
