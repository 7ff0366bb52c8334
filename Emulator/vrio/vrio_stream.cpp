/* vrio_stream.cpp: the generic stream operations and their dispatch to the
 * top layer.
 *
 * Each operation asks the top layer; a layer passes work down through the
 * stream formed by its own `next`.  Results of open, push, pop, sync, seek
 * and close are folded (success is 0); vrio_ioctl passes a layer's success
 * code on.  Only option bits 0 to 19 reach a layer unless bit 20 is given.
 *
 * Close follows one protocol in every layer kind: the generic close syncs
 * the requested sides, marks them closing in every layer, and then asks
 * the top layer, which closes the stack below it first and pops and
 * destroys itself once neither side is left.
 */
#include <cstring>

#include "vrio_internal.h"

int vrio_skip_abortive_sync = 1;

/* Successive empty successes of a layer after which a read or write
   gives up: a few are normal (a layer that changes the stack, a decoder
   that consumed only a byte-order mark), endless ones are a device that
   will never deliver. */
static constexpr int empty_answers_limit = 64;

vrio_t_bits vrio_layer_options(vrio_t_bits options)
{
  return (options & VRIO_OPT_ALL_BITS) ? (options & ~VRIO_OPT_ALL_BITS) : (options & 0xFFFFFu);
}

static vrio_t_error_code folded(vrio_t_error_code rc)
{
  return rc < 0 ? rc : VRIO_S_NOERR;
}

vrio_t_error_code vrio_read(VRIO *s, vrio_t_buf **pbuf, vrio_t_bits options)
{
  if (*s == nullptr || !((*s)->flags & VRIO_LAYER_OPEN_READ))
    return VRIO_E_NOT_OPEN_READ;
  vrio_t_buf *buf = *pbuf;
  bool made = false;
  if (buf == nullptr) {
    buf = vrio_buf_alloc(nullptr, 0, 0);
    if (buf == nullptr)
      return VRIO_E_OUT_OF_MEMORY;
    made = true;
  }
  vrio_t_bits layer_options = vrio_layer_options(options);
  size_t extent = buf->extent;
  vrio_t_error_code rc;
  for (int empty = 0;; ++empty) {
    if (empty == empty_answers_limit) {
      rc = VRIO_E_END_OF_FILE;
      break;
    }
    if (*s == nullptr) { /* a layer closed the whole stack */
      rc = VRIO_E_END_OF_FILE;
      break;
    }
    rc = (*s)->funcs->read(s, buf, layer_options);
    if (rc < 0 || buf->extent != extent)
      break;
  }
  if (rc < 0) {
    if (made)
      vrio_buf_free(buf);
    return rc;
  }
  *pbuf = buf;
  return VRIO_S_NOERR;
}

vrio_t_error_code vrio_write(VRIO *s, vrio_t_buf *buf, size_t *offset, vrio_t_bits options)
{
  if (*s == nullptr || !((*s)->flags & VRIO_LAYER_OPEN_WRITE))
    return VRIO_E_NOT_OPEN_WRITE;
  vrio_t_bits layer_options = vrio_layer_options(options);
  for (int empty = 0;;) {
    size_t before = *offset;
    vrio_t_error_code rc = (*s)->funcs->write(s, buf, offset, layer_options);
    if (rc < 0)
      return rc;
    if (!(options & VRIO_WRITE_ALL) || *offset >= buf->extent)
      return VRIO_S_NOERR;
    empty = *offset == before ? empty + 1 : 0;
    if (empty == empty_answers_limit)
      return VRIO_E_WRITE_ERROR;
    if (*s == nullptr)
      return VRIO_E_NOT_OPEN_WRITE;
  }
}

vrio_t_error_code vrio_sync(VRIO *s, vrio_t_bits options)
{
  if (*s == nullptr)
    return VRIO_S_NOERR;
  return folded((*s)->funcs->sync(s, vrio_layer_options(options)));
}

vrio_t_error_code vrio_seek(VRIO *s, vrio_t_offset offset, vrio_t_offset *new_position,
                            vrio_t_buf *buf, vrio_t_bits options)
{
  if (*s == nullptr)
    return VRIO_E_SEEK_ERROR;
  if (!(options & (VRIO_SEEK_READ | VRIO_SEEK_WRITE)))
    options |= VRIO_SEEK_READ | VRIO_SEEK_WRITE;
  if (!((*s)->flags & VRIO_LAYER_READ_ALIVE))
    options &= ~VRIO_SEEK_READ;
  if (!((*s)->flags & VRIO_LAYER_WRITE_ALIVE))
    options &= ~VRIO_SEEK_WRITE;
  if (!(options & (VRIO_SEEK_READ | VRIO_SEEK_WRITE)))
    return VRIO_E_SEEK_ERROR;
  vrio_t_offset position;
  if (new_position == nullptr)
    new_position = &position;
  return folded((*s)->funcs->seek(s, offset, new_position, buf, vrio_layer_options(options)));
}

vrio_t_error_code vrio_close(VRIO *s, vrio_t_bits options)
{
  if (*s == nullptr)
    return VRIO_S_NOERR;
  if (!(options & (VRIO_CLOSE_READ | VRIO_CLOSE_WRITE)))
    options |= VRIO_CLOSE_READ | VRIO_CLOSE_WRITE;
  vrio_t_bits closing = ((options & VRIO_CLOSE_READ) ? VRIO_LAYER_CLOSING_READ : 0) |
                        ((options & VRIO_CLOSE_WRITE) ? VRIO_LAYER_CLOSING_WRITE : 0);
  if (((*s)->flags & closing) == closing) {
    if ((*s)->funcs->close == nullptr)
      return VRIO_E_NOT_IMPLEMENTED;
    return folded((*s)->funcs->close(s, vrio_layer_options(options)));
  }
  bool abortive = (options & VRIO_CLOSE_ABORTIVE) != 0;
  if (!(abortive && vrio_skip_abortive_sync)) {
    vrio_t_bits sync_options = VRIO_SYNC_BELOW | VRIO_SYNC_KEEP_READ_AHEAD |
                               ((options & VRIO_CLOSE_READ) ? VRIO_SYNC_READ : 0) |
                               ((options & VRIO_CLOSE_WRITE) ? VRIO_SYNC_WRITE : 0);
    vrio_t_error_code rc = vrio_sync(s, sync_options);
    if (rc < 0 && !abortive)
      return rc; /* still open: the caller may retry or close abortively */
    if (*s == nullptr)
      return VRIO_S_NOERR;
  }
  vrio_t_bits open = ((options & VRIO_CLOSE_READ) ? VRIO_LAYER_OPEN_READ : 0) |
                     ((options & VRIO_CLOSE_WRITE) ? VRIO_LAYER_OPEN_WRITE : 0);
  for (vrio_t_layer *l = *s; l != nullptr; l = l->next)
    l->flags = (l->flags | closing) & ~open;
  return vrio_close(s, options);
}

vrio_t_error_code vrio_ioctl(VRIO *s, vrio_t_ioctl_operation operation, void *param,
                             vrio_t_bits options)
{
  vrio_t_bits layer_options = vrio_layer_options(options);
  for (VRIO *at = s; *at != nullptr; at = &(*at)->next) {
    vrio_t_error_code rc = (*at)->funcs->ioctl != nullptr
                               ? (*at)->funcs->ioctl(at, operation, param, layer_options)
                               : VRIO_E_NOT_SUPPORTED;
    if (rc != VRIO_E_NOT_SUPPORTED || !(options & 1))
      return rc;
  }
  return VRIO_E_NOT_SUPPORTED;
}

vrio_t_error_code vrio_write_dbg(VRIO *s, const char *text)
{
  vrio_t_buf buf;
  vrio_buf_init_buf(&buf);
  buf.buf = reinterpret_cast<unsigned char *>(const_cast<char *>(text));
  buf.extent = std::strlen(text);
  size_t offset = 0;
  vrio_t_error_code rc = vrio_write(s, &buf, &offset, VRIO_WRITE_ALL | VRIO_WRITE_BYTES);
  vrio_t_error_code sync = vrio_sync(s, VRIO_SYNC_WRITE);
  return rc < 0 ? rc : sync;
}

vrio_t_error_code vrio_ioctl_size(VRIO *s, int64_t *psize, vrio_t_bits options)
{
  if (!(options & (2 | 4)))
    options |= 2 | 4;
  int64_t size = 0;
  vrio_t_error_code rc = vrio_ioctl(s, VRIO_IOCTL_SIZE_, &size, options);
  if (rc >= 0)
    *psize = size;
  return rc;
}

vrio_t_error_code vrio_ioctl_get_encoding_name(VRIO *s, const char **pname, vrio_t_bits options)
{
  if (((options & 2) != 0) == ((options & 4) != 0))
    return VRIO_E_PARAMETER_ERROR;
  const char *name = nullptr;
  vrio_t_error_code rc = vrio_ioctl(s, VRIO_IOCTL_GET_ENCODING_NAME_, &name, options | 1);
  if (rc >= 0)
    *pname = name;
  return rc;
}

vrio_t_error_code vrio_ioctl_encoding_fallback(VRIO *s, vrio_t_bits options)
{
  vrio_t_error_code rc = vrio_ioctl(s, VRIO_IOCTL_ENCODING_FALLBACK_, nullptr, options);
  return rc == VRIO_E_NOT_SUPPORTED ? VRIO_S_NOT_SUPPORTED : rc;
}

vrio_t_error_code vrio_ioctl_device_type(VRIO *s, vrio_t_device_type *ptype, vrio_t_bits options)
{
  vrio_t_device_type type = VRIO_DEVICE_TYPE_UNKNOWN;
  vrio_t_error_code rc = vrio_ioctl(s, VRIO_IOCTL_DEVICE_TYPE_, &type, options | 1);
  if (rc == VRIO_E_NOT_SUPPORTED) {
    *ptype = VRIO_DEVICE_TYPE_UNKNOWN;
    return VRIO_S_NOERR;
  }
  if (rc >= 0)
    *ptype = type;
  return rc;
}

static vrio_t_error_code ioctl_event(VRIO *s, vrio_t_ioctl_operation operation,
                                     vrio_t_event **pevent)
{
  vrio_t_event *event = nullptr;
  vrio_t_error_code rc = vrio_ioctl(s, operation, &event, 1);
  if (rc >= 0)
    *pevent = event;
  return rc;
}

vrio_t_error_code vrio_ioctl_readable_event(VRIO *s, vrio_t_event **pevent, vrio_t_bits)
{
  return ioctl_event(s, VRIO_IOCTL_READABLE_EVENT_, pevent);
}

vrio_t_error_code vrio_ioctl_writable_event(VRIO *s, vrio_t_event **pevent, vrio_t_bits)
{
  return ioctl_event(s, VRIO_IOCTL_WRITABLE_EVENT_, pevent);
}
