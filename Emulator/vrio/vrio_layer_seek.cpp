/* vrio_layer_seek.cpp: the "seek" layer, which keeps every unit read
 * through it so that the read position can move anywhere within what has
 * been read; opened instead of pushed, it is a stream held in memory
 * (written with option 0x200000, read from the start).
 *
 * Nothing leaves the layer's buffer while the layer lives.  The write
 * position of a memory stream is always its end.
 */
#include "vostrel/vrio.h"
#include "vostrel/vrio_device.h"
#include "vrio_internal.h"

namespace {

constexpr vrio_t_bits memory_stream = 0x20000u; /* layer flag */

struct layer_seek {
  vrio_t_layer layer;
  vrio_t_buf *buf; /* everything read or written, from the start */
  size_t off;      /* the read position, an index into buf */
};
#if defined(__i386__)
static_assert(sizeof(layer_seek) == 24);
#endif

layer_seek *seek_of(VRIO *s)
{
  return reinterpret_cast<layer_seek *>(*s);
}

size_t read_unit(const vrio_t_layer *l)
{
  return (l->flags >> VRIO_LAYER_READ_UNIT_SHIFT) & VRIO_LAYER_UNIT_MASK;
}

vrio_t_error_code seek_read(VRIO *s, vrio_t_buf *buf, vrio_t_bits options)
{
  layer_seek *l = seek_of(s);
  size_t unit = read_unit(&l->layer);
  if (unit != 1 && unit != 4)
    return VRIO_E_INTERNAL_ERROR;
  if (buf->writable_size < buf->extent + unit) {
    vrio_t_error_code rc = vrio_buf_reserve(buf, unit);
    if (rc < 0)
      return rc;
  }
  size_t room = (buf->writable_size - buf->extent) / unit * unit;
  if (l->off >= l->buf->extent) {
    if (l->layer.flags & memory_stream)
      return VRIO_E_END_OF_FILE;
    vrio_t_error_code rc = vrio_buf_reserve(l->buf, room);
    if (rc < 0)
      return rc;
    rc = vrio_read(&l->layer.next, &l->buf,
                   (unit == 1 ? VRIO_READ_BYTES : VRIO_READ_CHARS) |
                       (options & VRIO_READ_NONBLOCKING));
    if (rc < 0)
      return rc;
  }
  size_t held = l->buf->extent - l->off;
  size_t n = held < room ? held : room;
  vrio_t_error_code rc = vrio_buf_concat_bytes(buf, l->buf->buf + l->off, n);
  if (rc < 0)
    return rc;
  l->off += n;
  return VRIO_S_NOERR;
}

vrio_t_error_code seek_write(VRIO *s, vrio_t_buf *buf, size_t *offset, vrio_t_bits options)
{
  layer_seek *l = seek_of(s);
  if (!(l->layer.flags & memory_stream) || !(options & VRIO_SEEK_LAYER_MEMORY))
    return VRIO_E_WRITE_ERROR;
  if (*offset > buf->extent)
    return VRIO_E_PARAMETER_ERROR;
  vrio_t_error_code rc = vrio_buf_concat_bytes(l->buf, buf->buf + *offset, buf->extent - *offset);
  if (rc < 0)
    return rc;
  *offset = buf->extent;
  return VRIO_S_NOERR;
}

/* The layer holds everything it ever read, so nothing here needs doing;
   a sync of the stack below is passed on. */
vrio_t_error_code seek_sync(VRIO *s, vrio_t_bits options)
{
  layer_seek *l = seek_of(s);
  if ((options & VRIO_SYNC_BELOW) && l->layer.next != nullptr)
    return vrio_sync(&l->layer.next, options);
  return VRIO_S_NOERR;
}

vrio_t_error_code seek_seek(VRIO *s, vrio_t_offset offset, vrio_t_offset *new_position,
                            vrio_t_buf *, vrio_t_bits options)
{
  layer_seek *l = seek_of(s);
  if (((options & VRIO_SEEK_WRITE) && (l->layer.flags & VRIO_LAYER_OPEN_WRITE)) ||
      !(options & VRIO_SEEK_READ) || !(l->layer.flags & VRIO_LAYER_OPEN_READ))
    return VRIO_E_SEEK_ERROR;
  vrio_t_offset target;
  if (options & VRIO_SEEK_ABSOLUTE)
    target = offset;
  else if (options & (VRIO_SEEK_RELATIVE | VRIO_SEEK_RELATIVE_BUFFERED))
    target = static_cast<vrio_t_offset>(l->off) + offset;
  else
    return VRIO_E_PARAMETER_ERROR;
  vrio_t_offset unit = static_cast<vrio_t_offset>(read_unit(&l->layer));
  if (target < 0 || unit == 0 || target % unit != 0 ||
      target > static_cast<vrio_t_offset>(l->buf->extent))
    return VRIO_E_PARAMETER_ERROR;
  l->off = static_cast<size_t>(target);
  *new_position = target;
  return VRIO_S_NOERR;
}

void seek_destroy(vrio_t_layer *layer)
{
  auto *l = reinterpret_cast<layer_seek *>(layer);
  vrio_buf_free(l->buf);
  vrio_free(l);
}

vrio_t_error_code seek_push(const vrio_t_funcs *funcs, VRIO *s, vrio_t_arglist,
                            vrio_t_bits options)
{
  vrio_t_bits flags;
  if (options & VRIO_SEEK_LAYER_MEMORY) {
    flags = memory_stream;
    if (options & VRIO_SEEK_LAYER_READ)
      flags |= VRIO_LAYER_READ_SIDE(1);
    if (options & VRIO_SEEK_LAYER_WRITE)
      flags |= VRIO_LAYER_WRITE_SIDE(1);
    if (flags == memory_stream)
      return VRIO_E_PARAMETER_ERROR;
  } else {
    if (*s == nullptr || !((*s)->flags & VRIO_LAYER_READ_ALIVE))
      return VRIO_E_NOT_OPEN_READ;
    flags = VRIO_LAYER_READ_SIDE(read_unit(*s));
  }
  auto *l = static_cast<layer_seek *>(vrio_alloc(sizeof(layer_seek)));
  if (l == nullptr)
    return VRIO_E_OUT_OF_MEMORY;
  l->buf = vrio_buf_alloc(nullptr, 0, 0);
  if (l->buf == nullptr) {
    vrio_free(l);
    return VRIO_E_OUT_OF_MEMORY;
  }
  l->layer.funcs = funcs;
  l->layer.next = nullptr;
  l->layer.flags = flags;
  l->layer.pad = 0;
  l->off = 0;
  vrio_layer_push(s, &l->layer);
  return VRIO_S_NOERR;
}

vrio_t_error_code seek_open(const vrio_t_funcs *funcs, VRIO *s, vrio_t_arglist args,
                            vrio_t_bits options)
{
  return vrio_push(funcs, s, args,
                   VRIO_OPT_ALL_BITS | VRIO_SEEK_LAYER_MEMORY |
                       ((options & VRIO_OPEN_READ) ? VRIO_SEEK_LAYER_READ : 0) |
                       ((options & VRIO_OPEN_WRITE) ? VRIO_SEEK_LAYER_WRITE : 0));
}

vrio_t_error_code seek_pop(const vrio_t_funcs *funcs, VRIO *s, vrio_t_bits)
{
  return vrio_layer_sync_pop(funcs, s);
}

vrio_t_error_code seek_ioctl(VRIO *, vrio_t_ioctl_operation, void *, vrio_t_bits)
{
  return VRIO_E_NOT_SUPPORTED;
}

const vrio_t_funcs seek_funcs = {sizeof(vrio_t_funcs), "seek", sizeof(layer_seek), 0, 0,
                                 seek_read, seek_write, seek_sync, seek_seek, vrio_layer_close_pushed,
                                 seek_push, seek_pop, seek_destroy, seek_open, seek_ioctl};

} // namespace

vrio_t_error_code vrio_init_layer_seek(vrio_t_bits options)
{
  return vrio_register_layer(&seek_funcs, options & 1);
}
