/* control_listener.cpp: the control stream's listener (see
 * control_listener.h).
 *
 * A listener record is shared by its creator (briefly), by the
 * listener registration (two references, `listener_refs`) and by a
 * scheduled work item (one).  When input comes the listener thread turns
 * one registration reference into the work item's and schedules the
 * item; the item reads until the stream would block, then attaches the
 * listener afresh (two new references) and drops its own.  Removing the
 * listener drops the registration's remaining references.  The count
 * and the work item pointer are the only fields the listener thread
 * touches, under `listener_lock`; everything else is the engine's.
 *
 * The last reference puts the record on the zombie list: its streams are
 * closed by the zombie clean-up, which runs at the next stream
 * deallocation, at shutdown, and right after a work item stopped the
 * listener (so that the readers of its pipes see end of file without
 * waiting for an unrelated close).  Streams a record holds are kept with
 * their ids and used only while find_stream_by_id still finds them.
 */
#include "control_listener.h"

#include <cstdint>
#include <cstring>

#include "atoms.h"
#include "config.h"
#include "fli.h"
#include "memman.h"
#include "pipes.h"
#include "termdefs.h"
#include "terms.h"
#include "threads.h"
#include "unify.h"
#include "worker.h"

#include "vostrel/vrio.h"

namespace {

struct vr_t_tunnel_data {
  vr_t_tunnel_data *next;
  unsigned flags;         /* TUNNEL_CLOSED */
  VR_stream *write_pipe;  /* write end of the pipe Prolog reads; null before it is opened */
  std::int64_t write_pipe_id;
  vrio_t_buf *bytes;      /* data held until the pipe takes it; null when none */
  char name[1];           /* the name follows */
};
constexpr unsigned TUNNEL_CLOSED = 0x1; /* closed by the environment */

struct vr_t_encapsulater_data {
  VR_stream *stream; /* the control stream; null once it is not ours to close */
  std::int64_t stream_id;
  VR_stream *write_pipe; /* write end of the pass-through pipe */
  std::int64_t write_pipe_id;
  vrio_t_buf *bytes;        /* complete lines not yet written into the pass-through pipe */
  int refcount;             /* listener_lock */
  int listener_refs;        /* listener_lock */
  unsigned flags;           /* ENCAPSULATER_ABORTIVE; listener_lock */
  vrio_t_buf *current_line; /* the line being assembled */
  vr_t_tunnel_data *tunnels;
  vrio_t_work_item *work_item; /* listener_lock; null while scheduled */
  vrio_t_event *listen_event;  /* the event last attached to; only compared */
  vr_t_encapsulater_data *next;
};
constexpr unsigned ENCAPSULATER_ABORTIVE = 0x1; /* close everything without flushing */

vr_critical_section listener_lock;
bool listener_lock_inited = false;
bool zombie_hook_registered = false;
char zombie_hook_cookie;
vr_t_encapsulater_data *all_encapsulater_data = nullptr;
vr_t_encapsulater_data *zombies = nullptr;

vrio_t_error_code stream_listener_work_item_run(vrio_t_work_item *item, vrio_t_bits options);
void stream_listener_work_item_dealloc(vrio_t_work_item *item);
const vrio_t_work_item_funcs work_item_funcs = {stream_listener_work_item_run,
                                                stream_listener_work_item_dealloc};

void lock() { vr_enter_critical_section(&listener_lock); }
void unlock() { vr_exit_critical_section(&listener_lock); }

VR_stream *live(VR_stream *s, std::int64_t id) { return s != nullptr ? find_stream_by_id(s, id) : nullptr; }

/* Writes the bytes into the stream and flushes it. */
vrio_t_error_code put_and_flush(VR_stream *s, const unsigned char *bytes, std::size_t n)
{
  vrio_t_error_code rc = n != 0 ? VR_put_bytes(s, bytes, static_cast<unsigned>(n), 0) : VRIO_S_NOERR;
  if (rc >= 0)
    rc = VR_flush_output(s, 0);
  return rc < 0 ? rc : VRIO_S_NOERR;
}

/* Our own pipe ends are standard streams when Prolog asked for that, and
   a plain close leaves standard streams open. */
vrio_t_error_code close_own(VR_stream *s, unsigned options)
{
  return vr_fclose_internal(s, options | VR_CLOSE_STANDARD);
}

/* ---- References ---- */

void free_tunnels(vr_t_encapsulater_data *d)
{
  while (vr_t_tunnel_data *t = d->tunnels) {
    d->tunnels = t->next;
    vrio_buf_free(t->bytes);
    VR_free(t);
  }
}

void free_encapsulater_data(vr_t_encapsulater_data *d, bool abortive)
{
  lock();
  if (abortive)
    d->flags |= ENCAPSULATER_ABORTIVE;
  const bool last = --d->refcount == 0;
  unlock();
  if (!last)
    return;
  for (vr_t_encapsulater_data **p = &all_encapsulater_data; *p != nullptr; p = &(*p)->next)
    if (*p == d) {
      *p = d->next;
      break;
    }
  vrio_buf_free(d->bytes);
  d->bytes = nullptr;
  vrio_buf_free(d->current_line);
  d->current_line = nullptr;
  VR_free(d->work_item);
  d->work_item = nullptr;
  /* Streams are closed by the clean-up, at a safe point. */
  d->next = zombies;
  zombies = d;
}

/* Closes the streams of a dead record and frees it. */
void bury(vr_t_encapsulater_data *d)
{
  const bool abortive = (d->flags & ENCAPSULATER_ABORTIVE) != 0;
  for (vr_t_tunnel_data *t = d->tunnels; t != nullptr; t = t->next) {
    VR_stream *p = live(t->write_pipe, t->write_pipe_id);
    if (p == nullptr)
      continue;
    vrio_t_error_code rc = VRIO_E_ERROR;
    if (!abortive && t->bytes != nullptr)
      rc = put_and_flush(p, t->bytes->buf, t->bytes->extent);
    else if (!abortive)
      rc = VRIO_S_NOERR;
    if (rc >= 0)
      rc = close_own(p, 0);
    if (rc < 0 && (p = live(t->write_pipe, t->write_pipe_id)) != nullptr)
      close_own(p, VR_CLOSE_FORCE);
  }
  if (VR_stream *p = live(d->write_pipe, d->write_pipe_id)) {
    if (close_own(p, abortive ? VR_CLOSE_FORCE : 0) < 0 && (p = live(d->write_pipe, d->write_pipe_id)) != nullptr)
      close_own(p, VR_CLOSE_FORCE);
  }
  if (VR_stream *c = live(d->stream, d->stream_id)) {
    if ((c->flags & SF_INPUT) && vr_fclose_internal(c, VR_CLOSE_INPUT) < 0 &&
        (c = live(d->stream, d->stream_id)) != nullptr)
      vr_fclose_internal(c, VR_CLOSE_INPUT | VR_CLOSE_FORCE);
  }
  free_tunnels(d);
  /* Freed already unless shutdown gave the record up while referenced. */
  vrio_buf_free(d->bytes);
  vrio_buf_free(d->current_line);
  VR_free(d->work_item);
  VR_free(d);
}

void run_zombie_cleanup()
{
  /* A close below may run this again (it is a stream event listener):
     each record is taken off the list before its streams are closed. */
  while (vr_t_encapsulater_data *d = zombies) {
    zombies = d->next;
    bury(d);
  }
}

void detach(vr_t_encapsulater_data *d);

/* The stream event listener: every deallocation, and shutdown (option
   0x1), when every live record is stopped first. */
void encapsulater_data_zombie_cleanup_stream_close_hook(VR_stream *, void *, unsigned options)
{
  if (options & 0x1) {
    /* Work items have run for the last time: what holds a record now is
       its registration and its creator's reference in no case. */
    while (vr_t_encapsulater_data *d = all_encapsulater_data) {
      detach(d);
      if (all_encapsulater_data == d) { /* still referenced: give it up */
        all_encapsulater_data = d->next;
        d->next = zombies;
        zombies = d;
      }
    }
  }
  run_zombie_cleanup();
  if (options & 0x1)
    zombie_hook_registered = false;
}

/* ---- The listener ---- */

vrio_t_error_code attach(vr_t_encapsulater_data *d)
{
  VR_stream *c = live(d->stream, d->stream_id);
  if (c == nullptr || c->vrio == nullptr)
    return VRIO_E_PARAMETER_ERROR;
  vrio_t_event *ev = nullptr;
  if (vrio_ioctl_readable_event(&c->vrio, &ev, 0) >= 0)
    d->listen_event = ev;
  return vr_add_stream_listener(c, tessik_control_stream_input_listener, d, 0x1);
}

/* Removes the record's listener, dropping the registration's references;
   also when the control stream has gone meanwhile. */
void detach(vr_t_encapsulater_data *d)
{
  if (VR_stream *c = live(d->stream, d->stream_id))
    vr_remove_stream_listener(c, tessik_control_stream_input_listener, d, 0x1);
  if (d->listen_event != nullptr)
    vrio_remove_event_listener(d->listen_event, tessik_control_stream_input_listener, d);
}

/* Stopping the work item: the registration goes, then the item's own
   reference, and the dead record's streams are closed at once. */
void stop(vr_t_encapsulater_data *d, bool abortive)
{
  detach(d);
  free_encapsulater_data(d, abortive);
  run_zombie_cleanup();
}

} // namespace

vrio_t_error_code tessik_control_stream_input_listener(void *data, vrio_t_bits options)
{
  auto *d = static_cast<vr_t_encapsulater_data *>(data);
  if (!(options & 0x2)) {
    /* Possibly on the listener thread: hand a registration reference to
       the work item and wake the engine. */
    lock();
    vrio_t_work_item *item = d->listener_refs > 0 ? d->work_item : nullptr;
    if (item != nullptr) {
      d->work_item = nullptr;
      --d->listener_refs;
    }
    unlock();
    if (item != nullptr) {
      if (vrio_schedule_work_item(item, 0) < 0) {
        lock();
        d->work_item = item;
        ++d->listener_refs;
        unlock();
      } else {
        VR_schedule_async_event(nullptr);
      }
    }
    return VRIO_S_DONE;
  }
  /* Removed (engine thread): the registration's references go. */
  lock();
  const int n = d->listener_refs;
  d->listener_refs = 0;
  const bool last = d->refcount == n;
  unlock();
  for (int i = 0; i < n; ++i)
    free_encapsulater_data(d, last);
  return VRIO_S_DONE;
}

vrio_t_error_code vr_add_stream_listener(VR_stream *s, vrio_t_event_listener listener, void *data,
                                         unsigned options)
{
  if (!(options & 0x1) || s == nullptr || find_stream(s) == nullptr || !(s->flags & SF_INPUT) ||
      s->vrio == nullptr)
    return VRIO_E_PARAMETER_ERROR;
  /* A peek that does not wait also starts the device's read, whose
     completion sets the readable event. */
  const unsigned peek = VR_IO_NONBLOCKING | VR_IO_PEEK | VR_IO_NO_RESTART;
  const int c = (s->flags & SF_TEXT) ? vr_get_code_helper(s, peek) : vr_get_byte_helper(s, peek);
  if (c != VRIO_E_WOULD_BLOCK) {
    listener(data, 0x1);
    return listener(data, 0x3) < 0 ? static_cast<vrio_t_error_code>(1) : VRIO_S_DONE;
  }
  vrio_t_event *ev = nullptr;
  vrio_t_error_code rc = vrio_ioctl_readable_event(&s->vrio, &ev, 0);
  if (rc < 0)
    return rc;
  if (ev == nullptr)
    return VRIO_E_NOT_SUPPORTED;
  rc = vrio_add_event_listener(ev, listener, data);
  if (rc < 0)
    return rc;
  s->flags |= SF_LISTENER;
  return VRIO_S_NOERR;
}

vrio_t_error_code vr_remove_stream_listener(VR_stream *s, vrio_t_event_listener listener, void *data,
                                            unsigned options)
{
  if (!(options & 0x1) || s == nullptr || find_stream(s) == nullptr)
    return VRIO_E_PARAMETER_ERROR;
  if (!(s->flags & SF_LISTENER))
    return VRIO_E_NOT_FOUND;
  vrio_t_event *ev = nullptr;
  if (s->vrio != nullptr && vrio_ioctl_readable_event(&s->vrio, &ev, 0) >= 0 && ev != nullptr)
    vrio_remove_event_listener(ev, listener, data);
  s->flags &= ~SF_LISTENER;
  return VRIO_S_NOERR;
}

namespace {

/* ---- Tunnels ---- */

vr_t_tunnel_data *find_or_create_tunnel(vr_t_encapsulater_data *d, const char *name, std::size_t len)
{
  for (vr_t_tunnel_data *t = d->tunnels; t != nullptr; t = t->next)
    if (std::strlen(t->name) == len && std::memcmp(t->name, name, len) == 0)
      return t;
  auto *t = static_cast<vr_t_tunnel_data *>(VR_malloc(sizeof(vr_t_tunnel_data) + len));
  if (t == nullptr)
    return nullptr;
  t->flags = 0;
  t->write_pipe = nullptr;
  t->write_pipe_id = 0;
  t->bytes = nullptr;
  std::memcpy(t->name, name, len);
  t->name[len] = '\0';
  t->next = d->tunnels;
  d->tunnels = t;
  return t;
}

/* Writes the held bytes into the tunnel's pipe, if it has one. */
vrio_t_error_code tunnel_data_flush(vr_t_tunnel_data *t)
{
  VR_stream *p = live(t->write_pipe, t->write_pipe_id);
  if (p == nullptr || t->bytes == nullptr)
    return VRIO_S_NOERR;
  vrio_t_error_code rc = put_and_flush(p, t->bytes->buf, t->bytes->extent);
  if (rc >= 0) {
    vrio_buf_free(t->bytes);
    t->bytes = nullptr;
  }
  return rc;
}

vrio_t_error_code hold(vr_t_tunnel_data *t, const unsigned char *data, std::size_t n)
{
  if (t->bytes == nullptr && (t->bytes = vrio_buf_alloc(nullptr, 0, 0)) == nullptr)
    return VRIO_E_OUT_OF_MEMORY;
  return vrio_buf_concat_bytes(t->bytes, data, n);
}

vrio_t_error_code tunnel_append(vr_t_encapsulater_data *d, const char *name, std::size_t name_len,
                                unsigned char *data, std::size_t len)
{
  vr_t_tunnel_data *t = find_or_create_tunnel(d, name, name_len);
  if (t == nullptr)
    return VRIO_E_OUT_OF_MEMORY;
  tunnel_data_flush(t);
  const long n = tunnel_stream_unquote(data, len);
  if (n < 0)
    return static_cast<vrio_t_error_code>(n);
  if (t->bytes != nullptr)
    return hold(t, data, static_cast<std::size_t>(n));
  if (VR_stream *p = live(t->write_pipe, t->write_pipe_id)) {
    const vrio_t_error_code rc = put_and_flush(p, data, static_cast<std::size_t>(n));
    if (rc >= 0)
      return VRIO_S_NOERR;
    if (rc == VRIO_E_END_OF_FILE) {
      /* The reader closed the tunnel. */
      if ((p = live(t->write_pipe, t->write_pipe_id)) != nullptr)
        close_own(p, VR_CLOSE_FORCE);
      t->write_pipe = nullptr;
    }
  }
  return n != 0 ? hold(t, data, static_cast<std::size_t>(n)) : VRIO_S_NOERR;
}

vrio_t_error_code tunnel_close(vr_t_encapsulater_data *d, const char *name, std::size_t name_len)
{
  vr_t_tunnel_data *t = find_or_create_tunnel(d, name, name_len);
  if (t == nullptr)
    return VRIO_E_OUT_OF_MEMORY;
  t->flags |= TUNNEL_CLOSED;
  vrio_t_error_code rc = tunnel_data_flush(t);
  if (rc < 0)
    return rc;
  if (VR_stream *p = live(t->write_pipe, t->write_pipe_id)) {
    rc = close_own(p, 0);
    if (rc < 0)
      return rc;
  }
  return VRIO_S_NOERR;
}

/* ---- Lines ---- */

bool name_start(unsigned char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '.'; }
bool name_char(unsigned char c) { return name_start(c) || (c >= '0' && c <= '9'); }

struct line_scanner {
  const unsigned char *p;
  std::size_t len, i;

  std::size_t blanks()
  {
    const std::size_t from = i;
    while (i < len && (p[i] == ' ' || p[i] == '\t'))
      ++i;
    return i - from;
  }
  std::size_t digits()
  {
    const std::size_t from = i;
    while (i < len && p[i] >= '0' && p[i] <= '9')
      ++i;
    return i - from;
  }
  /* A word or name; its length, 0 when none starts here. */
  std::size_t word()
  {
    const std::size_t from = i;
    if (i < len && name_start(p[i]))
      while (i < len && name_char(p[i]))
        ++i;
    return i - from;
  }
  bool word_is(const char *w)
  {
    const std::size_t from = i, n = word();
    return n == std::strlen(w) && std::memcmp(p + from, w, n) == 0;
  }
};

void suspend_request()
{
  if (get_boolean("TESSIK_SUSPEND_REQUEST_TRACE", 0)) {
    vr_action(1);
  } else {
    VR_ctrlc_action();
    vrio_interrupt(2);
  }
}

/* Acts on one line (without its line feed); an error stops the listener
   abortively. */
vrio_t_error_code execute_line(vr_t_encapsulater_data *d, unsigned char *line, std::size_t len)
{
  line_scanner s{line, len, 0};
  const std::size_t first = s.word();
  if (first == 7 && std::memcmp(line, "REQUEST", 7) == 0) {
    if (s.blanks() > 0 && s.digits() > 0 && s.blanks() > 0 && s.word_is("suspend") && s.i == len)
      suspend_request();
    return VRIO_S_NOERR;
  }
  if (first != 6 || std::memcmp(line, "TUNNEL", 6) != 0 || s.blanks() == 0)
    return VRIO_S_NOERR;
  const std::size_t cmd_at = s.i, cmd_len = s.word();
  if (cmd_len == 0 || s.blanks() == 0)
    return VRIO_S_NOERR;
  const std::size_t name_at = s.i, name_len = s.word();
  if (name_len == 0)
    return VRIO_S_NOERR;
  const char *name = reinterpret_cast<const char *>(line + name_at);
  if (cmd_len == 6 && std::memcmp(line + cmd_at, "APPEND", 6) == 0) {
    if (s.i == len || line[s.i] != ' ')
      return VRIO_E_PARAMETER_ERROR;
    return tunnel_append(d, name, name_len, line + s.i + 1, len - s.i - 1);
  }
  if (cmd_len == 5 && std::memcmp(line + cmd_at, "CLOSE", 5) == 0) {
    if (s.i != len)
      return VRIO_E_PARAMETER_ERROR;
    return tunnel_close(d, name, name_len);
  }
  return VRIO_S_NOERR;
}

/* The complete lines so far go into the pass-through pipe; what its
   reader does not take (it has gone) is dropped. */
void pass_through_flush(vr_t_encapsulater_data *d)
{
  if (d->bytes == nullptr || d->bytes->extent == 0)
    return;
  if (VR_stream *p = live(d->write_pipe, d->write_pipe_id))
    put_and_flush(p, d->bytes->buf, d->bytes->extent);
  d->bytes->extent = 0;
}

/* Input read to the point where it would block: the listener waits for
   more, with two fresh references. */
void wait_for_more(vr_t_encapsulater_data *d)
{
  detach(d);
  lock();
  d->refcount += 2;
  d->listener_refs = 2;
  unlock();
  if (attach(d) < 0) {
    lock();
    d->listener_refs = 0;
    unlock();
    free_encapsulater_data(d, true);
    free_encapsulater_data(d, true);
    stop(d, true);
    return;
  }
  free_encapsulater_data(d, false);
}

vrio_t_error_code stream_listener_work_item_run(vrio_t_work_item *item, vrio_t_bits options)
{
  auto *d = static_cast<vr_t_encapsulater_data *>(item->cookie);
  vrio_init_work_item(item, &work_item_funcs, d);
  lock();
  d->work_item = item;
  unlock();
  if (options & 0x1) { /* the library shuts down */
    stop(d, true);
    return VRIO_S_DEALLOCATED;
  }
  for (;;) {
    VR_stream *c = live(d->stream, d->stream_id);
    if (c == nullptr || !(c->flags & SF_INPUT)) { /* closed under the listener */
      stop(d, false);
      break;
    }
    vr_t_stream_buf_info_binary &in = c->pub.input_binary;
    const int b = in.ptr < in.limit ? *in.ptr++ : vr_get_byte_helper(c, VR_IO_NONBLOCKING | VR_IO_NO_RESTART);
    if (b == VRIO_E_INTERRUPTED)
      continue;
    if (b == -1 || b == VRIO_E_NET_CONNRESET) {
      /* The lines read before the end still reach Prolog. */
      pass_through_flush(d);
      stop(d, false);
      break;
    }
    if (b == VRIO_E_WOULD_BLOCK) {
      pass_through_flush(d);
      wait_for_more(d);
      break;
    }
    const unsigned char byte = static_cast<unsigned char>(b);
    if (b < 0 || vrio_buf_push(d->current_line, byte) < 0) {
      stop(d, true);
      break;
    }
    if (byte != '\n')
      continue;
    vrio_t_buf *line = d->current_line;
    if (vrio_buf_concat_bytes(d->bytes, line->buf, line->extent) < 0 ||
        execute_line(d, line->buf, line->extent - 1) < 0) {
      stop(d, true);
      break;
    }
    line->extent = 0;
  }
  /* The item lives in the record, or went with it. */
  return VRIO_S_DEALLOCATED;
}

/* An item dropped without running gives up its reference. */
void stream_listener_work_item_dealloc(vrio_t_work_item *item)
{
  auto *d = static_cast<vr_t_encapsulater_data *>(item->cookie);
  lock();
  d->work_item = item;
  unlock();
  free_encapsulater_data(d, true);
}

vr_t_encapsulater_data *find_record(VR_stream *control)
{
  for (vr_t_encapsulater_data *d = all_encapsulater_data; d != nullptr; d = d->next)
    if (d->stream == control && d->stream_id == control->id)
      return d;
  return nullptr;
}

} // namespace

vrio_t_error_code vr_add_control_listener(VR_stream *control, VR_stream **pass_through)
{
  if (control == nullptr || !(control->flags & SF_INPUT) || !(control->flags & SF_BINARY))
    return VRIO_E_PARAMETER_ERROR;
  if (!listener_lock_inited) {
    const int err = vr_init_critical_section(&listener_lock);
    if (err != 0)
      return VRIO_E_OS_ERROR;
    listener_lock_inited = true;
  }
  if (!zombie_hook_registered) {
    vrio_t_error_code rc = add_stream_event_listener(encapsulater_data_zombie_cleanup_stream_close_hook,
                                                     &zombie_hook_cookie);
    if (rc < 0)
      return rc;
    zombie_hook_registered = true;
  }
  auto *d = static_cast<vr_t_encapsulater_data *>(VR_malloc(sizeof(vr_t_encapsulater_data)));
  if (d == nullptr)
    return VRIO_E_OUT_OF_MEMORY;
  std::memset(d, 0, sizeof *d);
  d->refcount = 1;
  d->work_item = static_cast<vrio_t_work_item *>(VR_malloc(sizeof(vrio_t_work_item)));
  d->bytes = vrio_buf_alloc(nullptr, 0, 0);
  d->current_line = vrio_buf_alloc(nullptr, 0, 0);
  VR_stream *r = nullptr, *w = nullptr;
  vrio_t_error_code rc = VRIO_E_OUT_OF_MEMORY;
  if (d->work_item != nullptr && d->bytes != nullptr && d->current_line != nullptr)
    rc = vr_create_pipe("UTF-8", &r, nullptr, &w, 0x1);
  if (rc < 0) {
    free_encapsulater_data(d, true);
    run_zombie_cleanup();
    return rc;
  }
  vrio_init_work_item(d->work_item, &work_item_funcs, d);
  d->write_pipe = w;
  d->write_pipe_id = w->id;
  d->stream = control;
  d->stream_id = control->id;
  lock();
  d->refcount += 2;
  d->listener_refs = 2;
  unlock();
  rc = attach(d);
  if (rc < 0) {
    lock();
    d->listener_refs = 0;
    unlock();
    /* The control stream is the caller's still: not closed. */
    d->stream = nullptr;
    free_encapsulater_data(d, true);
    free_encapsulater_data(d, true);
    free_encapsulater_data(d, true);
    run_zombie_cleanup();
    close_own(r, VR_CLOSE_FORCE);
    return rc;
  }
  d->next = all_encapsulater_data;
  all_encapsulater_data = d;
  free_encapsulater_data(d, false);
  *pass_through = r;
  return VRIO_S_NOERR;
}

vrio_t_error_code vr_open_input_tunnel(VR_stream *control, const char *name, VR_stream **in,
                                       unsigned options)
{
  vr_t_encapsulater_data *d = control != nullptr ? find_record(control) : nullptr;
  if (d == nullptr)
    return VRIO_E_NOT_FOUND;
  vr_t_tunnel_data *t = find_or_create_tunnel(d, name, std::strlen(name));
  if (t == nullptr)
    return VRIO_E_OUT_OF_MEMORY;
  if (t->write_pipe != nullptr)
    return VRIO_E_INVALID_STATE;
  VR_stream *r = nullptr, *w = nullptr;
  vrio_t_error_code rc =
      vr_create_pipe((options & 0x8) ? nullptr : "UTF-8", &r, nullptr, &w, options & (0x1 | 0x2));
  if (rc < 0)
    return rc;
  t->write_pipe = w;
  t->write_pipe_id = w->id;
  rc = tunnel_data_flush(t);
  /* Closed by the environment before Prolog opened it: the reader gets
     the data and then end of file, as after a later close. */
  if (rc >= 0 && (t->flags & TUNNEL_CLOSED))
    rc = close_own(w, 0);
  if (rc < 0) {
    if (VR_stream *p = live(t->write_pipe, t->write_pipe_id))
      close_own(p, VR_CLOSE_FORCE);
    t->write_pipe = nullptr;
    close_own(r, VR_CLOSE_FORCE);
    return rc;
  }
  *in = r;
  return VRIO_S_NOERR;
}

int prolog_add_stream_listener(worker *w)
{
  VR_stream *control = stream_to_ptr(w->term[0], SM_INPUT | SM_BINARY | SM_QUIET, 0);
  if (control == nullptr)
    return 0;
  VR_stream *pipe = nullptr;
  if (vr_add_control_listener(control, &pipe) < 0)
    return 0;
  return cunify(w, w->term[1], stream_address_term(w, pipe));
}
