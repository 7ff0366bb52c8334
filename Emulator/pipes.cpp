/* pipes.cpp: in-memory pipes and output tunnels (see pipes.h).
 *
 * A pipe is one record shared by two simple devices, the read end and
 * the write end; each end's close clears its bit and the record goes
 * with the second.  A tunnel's device record holds the control stream
 * and its id, and a stream event listener that forgets the control
 * stream when it is deallocated or at shutdown.
 */
#include "pipes.h"

#include <cstdint>
#include <cstring>
#include <string>

#include "atoms.h"
#include "control_listener.h"
#include "memman.h"
#include "termdefs.h"
#include "terms.h"
#include "unify.h"
#include "worker.h"

#include "vostrel/vrio.h"

namespace {

/* ---- Pipes ---- */

struct pipe_device {
  unsigned flags; /* PIPE_ below */
  vrio_t_buf *buf;
  std::size_t offset; /* read position in buf */
  vrio_t_event *read_event;
};
constexpr unsigned PIPE_READ_OPEN = 0x1, PIPE_WRITE_OPEN = 0x2;

const char pipe_class = 0;

vrio_t_error_code pipe_read(void *user_data, void *out, std::size_t *size, vrio_t_bits options)
{
  auto *p = static_cast<pipe_device *>(user_data);
  if (!(p->flags & PIPE_READ_OPEN))
    return VRIO_E_NOT_OPEN_READ;
  const std::size_t unread = p->buf->extent - p->offset;
  if (unread == 0) {
    if (p->read_event != nullptr)
      vrio_event_reset(p->read_event);
    if (!(p->flags & PIPE_WRITE_OPEN))
      return VRIO_E_END_OF_FILE;
    if (options & VRIO_DEVICE_NONBLOCKING)
      return VRIO_E_WOULD_BLOCK;
    /* Only an interrupt can bring data: what writes runs on this thread. */
    vrio_t_error_code rc = vrio_event_wait(nullptr, 0, nullptr);
    return rc < 0 ? rc : VRIO_E_INTERNAL_ERROR;
  }
  const std::size_t n = *size < unread ? *size : unread;
  std::memcpy(out, p->buf->buf + p->offset, n);
  p->offset += n;
  *size = n;
  return VRIO_S_NOERR;
}

vrio_t_error_code pipe_write(void *user_data, const void *in, std::size_t *size, vrio_t_bits)
{
  auto *p = static_cast<pipe_device *>(user_data);
  if (!(p->flags & PIPE_WRITE_OPEN))
    return VRIO_E_NOT_OPEN_WRITE;
  if (!(p->flags & PIPE_READ_OPEN))
    return VRIO_E_END_OF_FILE; /* the reader has gone */
  vrio_t_buf *b = p->buf;
  if (b->writable_size - b->extent < *size && p->offset > 0) {
    vrio_t_error_code rc = vrio_buf_contract(b, static_cast<std::ptrdiff_t>(p->offset));
    if (rc < 0)
      return rc;
    p->offset = 0;
  }
  vrio_t_error_code rc = vrio_buf_concat_bytes(b, in, *size);
  if (rc < 0)
    return rc;
  if (*size != 0 && p->read_event != nullptr)
    vrio_event_set(p->read_event);
  return VRIO_S_NOERR;
}

vrio_t_error_code pipe_ioctl(void *user_data, std::uintptr_t operation, void *param, vrio_t_bits)
{
  auto *p = static_cast<pipe_device *>(user_data);
  switch (operation) {
  case VRIO_IOCTL_READABLE_EVENT_:
    if (p->read_event == nullptr) {
      vrio_t_error_code rc = vrio_event_new(0, &p->read_event);
      if (rc < 0)
        return rc;
      if (p->buf->extent > p->offset || !(p->flags & PIPE_WRITE_OPEN))
        vrio_event_set(p->read_event);
    }
    *static_cast<vrio_t_event **>(param) = p->read_event;
    return VRIO_S_NOERR;
  case VRIO_IOCTL_SIZE_:
    *static_cast<std::int64_t *>(param) = static_cast<std::int64_t>(p->buf->extent - p->offset);
    return VRIO_S_NOERR;
  default:
    return VRIO_E_NOT_SUPPORTED;
  }
}

vrio_t_error_code pipe_end_closed(void **puser_data, unsigned end)
{
  auto *p = static_cast<pipe_device *>(*puser_data);
  if (p == nullptr)
    return VRIO_S_NOERR;
  p->flags &= ~end;
  /* A reader waiting on the event learns of the writer's end. */
  if (end == PIPE_WRITE_OPEN && p->read_event != nullptr)
    vrio_event_set(p->read_event);
  if (p->flags & (PIPE_READ_OPEN | PIPE_WRITE_OPEN))
    return VRIO_S_NOERR;
  vrio_buf_free(p->buf);
  if (p->read_event != nullptr)
    vrio_event_free(p->read_event);
  VR_free(p);
  *puser_data = nullptr;
  return VRIO_S_DEALLOCATED;
}

vrio_t_error_code pipe_read_close(void **puser_data, vrio_t_bits) { return pipe_end_closed(puser_data, PIPE_READ_OPEN); }
vrio_t_error_code pipe_write_close(void **puser_data, vrio_t_bits) { return pipe_end_closed(puser_data, PIPE_WRITE_OPEN); }

/* The end's layer stack, with a coder for a text end; its stream. */
vrio_t_error_code pipe_end(pipe_device *p, bool reading, const char *encoding, unsigned options,
                           VR_stream **out)
{
  VRIO layer = nullptr;
  vrio_t_error_code rc =
      vrio_create_device(&layer, p, &pipe_class, reading ? pipe_read : nullptr, reading ? nullptr : pipe_write,
                         nullptr, nullptr, reading ? pipe_read_close : pipe_write_close, nullptr,
                         reading ? pipe_ioctl : nullptr, VRIO_DEVICE_BYTES);
  if (rc < 0)
    return rc;
  if (encoding != nullptr) {
    vrio_t_coder_funcs *coder = nullptr;
    rc = vrio_char_coder_find(&coder, encoding, nullptr, 0);
    if (rc >= 0) {
      /* Read or write side, line ends lf. */
      rc = vrio_push_encoding(&layer, reading ? coder : nullptr, reading ? nullptr : coder,
                              reading ? 0x11 : 0x22);
      vrio_coder_funcs_release(coder);
    }
    if (rc < 0) {
      vrio_close(&layer, VRIO_CLOSE_ABORTIVE | VRIO_CLOSE_READ | VRIO_CLOSE_WRITE);
      return rc;
    }
  }
  rc = VR_create_vrio_stream(&layer, out,
                             (reading ? VR_CREATE_INPUT : VR_CREATE_OUTPUT) |
                                 (encoding != nullptr ? VR_CREATE_TEXT : VR_CREATE_BINARY) |
                                 ((options & 0x1) ? VR_CREATE_STANDARD : 0) |
                                 ((options & 0x2) ? VR_CREATE_INTERACTIVE : 0));
  if (rc < 0)
    vrio_close(&layer, VRIO_CLOSE_ABORTIVE | VRIO_CLOSE_READ | VRIO_CLOSE_WRITE);
  return rc;
}

/* ---- Output tunnels ---- */

struct tunnel_device {
  unsigned flags; /* TUNNEL_ below */
  VR_stream *tunnel;
  std::int64_t tunnel_id;
  char name[1]; /* the name follows */
};
constexpr unsigned TUNNEL_OPEN = 0x1, TUNNEL_OPTION_1 = 0x2, TUNNEL_BYTES = 0x4;

const char tunnel_class = 0;

/* The control stream while it is registered and open for binary output. */
VR_stream *control_of(tunnel_device *t)
{
  if (t->tunnel != nullptr) {
    VR_stream *s = find_stream_by_id(t->tunnel, t->tunnel_id);
    if (s != nullptr && (s->flags & SF_OUTPUT) && (s->flags & SF_BINARY))
      return s;
  }
  t->tunnel = nullptr;
  return nullptr;
}

void tunnel_device_tunnel_listener(VR_stream *s, void *cookie, unsigned options)
{
  auto *t = static_cast<tunnel_device *>(cookie);
  if ((options & 1) || s == t->tunnel) {
    t->tunnel = nullptr;
    remove_stream_event_listener(cookie);
  }
}

vrio_t_error_code tunnel_write(void *user_data, const void *in, std::size_t *size, vrio_t_bits)
{
  auto *t = static_cast<tunnel_device *>(user_data);
  if (!(t->flags & TUNNEL_OPEN))
    return VRIO_E_NOT_OPEN_WRITE;
  VR_stream *control = control_of(t);
  if (control == nullptr)
    return VRIO_E_END_OF_FILE;
  const auto *bytes = static_cast<const unsigned char *>(in);
  const std::size_t n = *size;
  const std::size_t name_len = std::strlen(t->name);
  const std::size_t quoted = tunnel_stream_quoted_length(bytes, n);
  /* "TUNNEL APPEND " (14), the name, a space, the data, a line feed. */
  const std::size_t total = 16 + name_len + quoted;
  vrio_t_error_code rc = VR_put_bytes(control, nullptr, static_cast<unsigned>(total), VR_IO_RESERVE);
  if (rc < 0)
    return rc;
  auto *p = reinterpret_cast<unsigned char *>(control->pub.output_binary.ptr);
  std::memcpy(p, "TUNNEL APPEND ", 14);
  p += 14;
  std::memcpy(p, t->name, name_len);
  p += name_len;
  *p++ = ' ';
  p = tunnel_stream_quote(bytes, n, p);
  *p++ = '\n';
  control->pub.output_binary.ptr += total;
  return VRIO_S_NOERR;
}

vrio_t_error_code tunnel_flush(void *user_data, vrio_t_bits options)
{
  auto *t = static_cast<tunnel_device *>(user_data);
  VR_stream *control = control_of(t);
  if (control == nullptr)
    return VRIO_E_END_OF_FILE;
  vrio_t_error_code rc = VR_flush_output(control, options & 0x1);
  return rc > 0 ? VRIO_S_NOERR : rc;
}

vrio_t_error_code tunnel_close(void **puser_data, vrio_t_bits options)
{
  auto *t = static_cast<tunnel_device *>(*puser_data);
  if (t == nullptr)
    return VRIO_S_NOERR;
  vrio_t_error_code rc = VRIO_S_NOERR;
  if (!(options & VRIO_DEVICE_CLOSE_ABORTIVE) && (t->flags & TUNNEL_OPEN))
    rc = tunnel_flush(t, 0);
  t->flags &= ~TUNNEL_OPEN;
  remove_stream_event_listener(t);
  VR_free(t);
  *puser_data = nullptr;
  return rc < 0 && rc != VRIO_E_END_OF_FILE ? rc : VRIO_S_DEALLOCATED;
}

} // namespace

/* ---- Quoting ---- */

std::size_t tunnel_stream_quoted_length(const unsigned char *bytes, std::size_t len)
{
  std::size_t n = len;
  for (std::size_t i = 0; i < len; ++i)
    if (bytes[i] == 0 || bytes[i] == 1 || bytes[i] == 13)
      ++n;
  return n;
}

unsigned char *tunnel_stream_quote(const unsigned char *bytes, std::size_t len, unsigned char *out)
{
  for (std::size_t i = 0; i < len; ++i) {
    switch (bytes[i]) {
    case 10:
      *out++ = 0;
      break;
    case 0:
      *out++ = 1, *out++ = 2;
      break;
    case 1:
      *out++ = 1, *out++ = 1;
      break;
    case 13:
      *out++ = 1, *out++ = 3;
      break;
    default:
      *out++ = bytes[i];
    }
  }
  return out;
}

namespace {

/* Unquotes into out (which may be bytes itself); the length or an error. */
long unquote(const unsigned char *bytes, std::size_t len, unsigned char *out)
{
  std::size_t n = 0;
  for (std::size_t i = 0; i < len; ++i) {
    unsigned char c = bytes[i];
    if (c == 0) {
      c = 10;
    } else if (c == 1) {
      if (i + 1 == len)
        return VRIO_E_NOT_ENOUGH_DATA;
      const unsigned char d = bytes[++i];
      if (d == 2)
        c = 0;
      else if (d == 1)
        c = 1;
      else if (d == 3)
        c = 13;
      else
        return VRIO_E_ENCODING_INVALID;
    }
    if (out != nullptr)
      out[n] = c;
    ++n;
  }
  return static_cast<long>(n);
}

} // namespace

long tunnel_stream_unquote(unsigned char *bytes, std::size_t len)
{
  const long n = unquote(bytes, len, nullptr);
  return n < 0 ? n : unquote(bytes, len, bytes);
}

long tunnel_stream_unquoted_length(const unsigned char *bytes, std::size_t len)
{
  return unquote(bytes, len, nullptr);
}

/* ---- Creation ---- */

vrio_t_error_code vr_create_pipe(const char *read_encoding, VR_stream **read_end,
                                 const char *write_encoding, VR_stream **write_end,
                                 unsigned options)
{
  auto *p = static_cast<pipe_device *>(VR_malloc(sizeof(pipe_device)));
  if (p == nullptr)
    return VRIO_E_OUT_OF_MEMORY;
  p->flags = PIPE_READ_OPEN | PIPE_WRITE_OPEN;
  p->offset = 0;
  p->read_event = nullptr;
  p->buf = vrio_buf_alloc(nullptr, 0, 0);
  if (p->buf == nullptr) {
    VR_free(p);
    return VRIO_E_OUT_OF_MEMORY;
  }
  VR_stream *r = nullptr, *w = nullptr;
  vrio_t_error_code rc = pipe_end(p, true, read_encoding, options, &r);
  if (rc < 0) {
    /* The record is still the write end's: close that end by hand. */
    void *ud = p;
    pipe_end_closed(&ud, PIPE_READ_OPEN);
    pipe_end_closed(&ud, PIPE_WRITE_OPEN);
    return rc;
  }
  rc = pipe_end(p, false, write_encoding, options, &w);
  if (rc < 0) {
    void *ud = p;
    pipe_end_closed(&ud, PIPE_WRITE_OPEN);
    vr_fclose_internal(r, VR_CLOSE_FORCE);
    return rc;
  }
  *read_end = r;
  *write_end = w;
  return VRIO_S_NOERR;
}

vrio_t_error_code vr_create_tunneled_stream(VR_stream *control, const char *name, VR_stream **out,
                                            unsigned options)
{
  if (control == nullptr || !(control->flags & SF_BINARY) || !(control->flags & SF_OUTPUT))
    return VRIO_E_PARAMETER_ERROR;
  const std::size_t name_len = std::strlen(name);
  auto *t = static_cast<tunnel_device *>(VR_malloc(sizeof(tunnel_device) + name_len));
  if (t == nullptr)
    return VRIO_E_OUT_OF_MEMORY;
  t->flags = TUNNEL_OPEN | ((options & 0x8) ? TUNNEL_BYTES : 0) | ((options & 0x1) ? TUNNEL_OPTION_1 : 0);
  t->tunnel = control;
  t->tunnel_id = control->id;
  std::memcpy(t->name, name, name_len + 1);
  vrio_t_error_code rc = add_stream_event_listener(tunnel_device_tunnel_listener, t);
  if (rc < 0) {
    VR_free(t);
    return rc;
  }
  VRIO layer = nullptr;
  rc = vrio_create_device(&layer, t, &tunnel_class, nullptr, tunnel_write, tunnel_flush, nullptr,
                          tunnel_close, nullptr, nullptr, VRIO_DEVICE_BYTES);
  if (rc < 0) {
    remove_stream_event_listener(t);
    VR_free(t);
    return rc;
  }
  const bool binary = (options & 0x8) != 0;
  if (!binary) {
    vrio_t_coder_funcs *utf8 = nullptr;
    rc = vrio_char_coder_find(&utf8, "UTF-8", nullptr, 0);
    if (rc >= 0) {
      rc = vrio_push_encoding(&layer, nullptr, utf8, 0x22);
      vrio_coder_funcs_release(utf8);
    }
  }
  if (rc >= 0)
    rc = VR_create_vrio_stream(&layer, out,
                               VR_CREATE_OUTPUT | VR_CREATE_LINE_FLUSHED |
                                   (binary ? VR_CREATE_BINARY : VR_CREATE_TEXT) |
                                   ((options & 0x2) ? VR_CREATE_INTERACTIVE : 0) |
                                   ((options & 0x4) ? VR_CREATE_STANDARD : 0));
  if (rc < 0)
    vrio_close(&layer, VRIO_CLOSE_ABORTIVE | VRIO_CLOSE_WRITE);
  return rc;
}

int prolog_open_tunnel_stream(worker *w)
{
  const TAGGED name = deref(w->term[1]);
  const TAGGED bits = deref(w->term[2]);
  if (!IsAtom(name) || !IsSmall(bits) || GetSmall(bits) < 0)
    return 0;
  const unsigned b = static_cast<unsigned>(GetSmall(bits));
  if (b & 0x4) {
    /* Fed by the listener of the control stream's input. */
    VR_stream *control = stream_to_ptr(w->term[0], SM_INPUT | SM_QUIET, 0);
    VR_stream *s = nullptr;
    if (control == nullptr || !(control->flags & SF_BINARY) ||
        vr_open_input_tunnel(control, atom_name(name), &s,
                             ((b & 0x8) ? 0x8 : 0) | ((b & 0x1) ? 0x2 : 0) | ((b & 0x2) ? 0x1 : 0)) < 0)
      return 0;
    if (!cunify(w, w->term[3], stream_address_term(w, s))) {
      vr_fclose_internal(s, VR_CLOSE_FORCE | VR_CLOSE_STANDARD);
      return 0;
    }
    return 1;
  }
  VR_stream *control = stream_to_ptr(w->term[0], SM_OUTPUT | SM_QUIET, 0);
  if (control == nullptr || !(control->flags & SF_BINARY))
    return 0;
  VR_stream *s = nullptr;
  if (vr_create_tunneled_stream(control, atom_name(name), &s,
                                ((b & 0x8) ? 0x8 : 0) | ((b & 0x1) ? 0x2 : 0) | ((b & 0x2) ? 0x4 : 0)) < 0)
    return 0;
  if (!cunify(w, w->term[3], stream_address_term(w, s))) {
    vr_fclose_internal(s, VR_CLOSE_FORCE);
    return 0;
  }
  return 1;
}
