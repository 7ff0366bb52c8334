/* vrio_simple_device.cpp: the "simple_device" layer, a bottom layer made
 * of plain callbacks over the creator's data.
 *
 * Streams over anything that is not an operating-system descriptor (the
 * null streams, and the runtime's in-memory and user-defined streams) are
 * built from it.  The kind is not in the layer registry: only
 * vrio_create_device makes such layers.  Callbacks run on the calling
 * thread; missing ones answer VRIO_E_NOT_IMPLEMENTED (flush: success).
 * The layer never frees the user data: the close callback owns it, and
 * clears the layer's pointer when it has freed it.
 */
#include "vostrel/vrio.h"
#include "vostrel/vrio_device.h"
#include "vrio_internal.h"

namespace {

struct simple_device {
  vrio_t_layer layer;
  void *user_data;
  const void *user_class;
  vrio_t_simple_device_read user_read;
  vrio_t_simple_device_write user_write;
  vrio_t_simple_device_flush_output user_flush_output;
  vrio_t_simple_device_seek user_seek;
  vrio_t_simple_device_close user_close;
  vrio_t_simple_device_interrupt user_interrupt;
  vrio_t_simple_device_ioctl user_ioctl;
};
#if defined(__i386__)
static_assert(sizeof(simple_device) == 52);
#endif

simple_device *device_of(VRIO *s)
{
  return reinterpret_cast<simple_device *>(*s);
}

vrio_t_error_code dummy_user_read(void *, void *, size_t *, vrio_t_bits)
{
  return VRIO_E_NOT_IMPLEMENTED;
}

vrio_t_error_code dummy_user_write(void *, const void *, size_t *, vrio_t_bits)
{
  return VRIO_E_NOT_IMPLEMENTED;
}

vrio_t_error_code dummy_user_flush_output(void *, vrio_t_bits)
{
  return VRIO_S_NOERR;
}

vrio_t_error_code dummy_user_seek(void *, vrio_t_offset, vrio_t_offset *, void *, vrio_t_bits)
{
  return VRIO_E_NOT_IMPLEMENTED;
}

void dummy_user_interrupt(void *, vrio_t_bits)
{
}

vrio_t_error_code dummy_user_ioctl(void *, uintptr_t, void *, vrio_t_bits)
{
  return VRIO_E_NOT_IMPLEMENTED;
}

/* The unit option of the callbacks, or 0 for a unit other than 1 or 4. */
vrio_t_bits device_unit(vrio_t_bits flags, int shift)
{
  switch ((flags >> shift) & VRIO_LAYER_UNIT_MASK) {
  case 1:
    return VRIO_DEVICE_UNIT_BYTES;
  case 4:
    return VRIO_DEVICE_UNIT_CHARS;
  default:
    return 0;
  }
}

vrio_t_error_code simple_device_read(VRIO *s, vrio_t_buf *buf, vrio_t_bits options)
{
  simple_device *d = device_of(s);
  vrio_t_bits unit_option = device_unit(d->layer.flags, VRIO_LAYER_READ_UNIT_SHIFT);
  if (unit_option == 0)
    return VRIO_E_INTERNAL_ERROR;
  size_t unit = unit_option == VRIO_DEVICE_UNIT_BYTES ? 1 : 4;
  while (buf->writable_size < buf->extent + unit) {
    vrio_t_error_code rc = vrio_buf_reserve(buf, unit);
    if (rc < 0)
      return rc;
  }
  size_t size = buf->writable_size - buf->extent;
  vrio_t_bits device_options =
      unit_option | ((options & VRIO_READ_NONBLOCKING) ? VRIO_DEVICE_NONBLOCKING : 0);
  vrio_t_error_code rc = d->user_read(d->user_data, buf->buf + buf->extent, &size, device_options);
  if (rc < 0)
    return rc;
  buf->extent += size;
  return VRIO_S_NOERR;
}

vrio_t_error_code simple_device_write(VRIO *s, vrio_t_buf *buf, size_t *offset,
                                      vrio_t_bits options)
{
  simple_device *d = device_of(s);
  vrio_t_bits unit_option = device_unit(d->layer.flags, VRIO_LAYER_WRITE_UNIT_SHIFT);
  if (unit_option == 0)
    return VRIO_E_INTERNAL_ERROR;
  size_t unit = unit_option == VRIO_DEVICE_UNIT_BYTES ? 1 : 4;
  size_t size = (buf->extent - *offset) / unit * unit;
  if (size == 0)
    return VRIO_S_NOERR;
  vrio_t_bits device_options =
      unit_option | ((options & VRIO_WRITE_NONBLOCKING) ? VRIO_DEVICE_NONBLOCKING : 0);
  vrio_t_error_code rc = d->user_write(d->user_data, buf->buf + *offset, &size, device_options);
  if (rc < 0)
    return rc;
  *offset += size;
  return VRIO_S_NOERR;
}

vrio_t_error_code simple_device_sync(VRIO *s, vrio_t_bits options)
{
  simple_device *d = device_of(s);
  if (!(options & VRIO_SYNC_WRITE) || !(d->layer.flags & VRIO_LAYER_OPEN_WRITE))
    return VRIO_S_NOERR;
  vrio_t_error_code rc = d->user_flush_output(
      d->user_data, (options & VRIO_SYNC_NONBLOCKING) ? VRIO_DEVICE_NONBLOCKING : 0);
  return rc < 0 ? rc : VRIO_S_NOERR;
}

vrio_t_error_code simple_device_close(VRIO *s, vrio_t_bits options)
{
  simple_device *d = device_of(s);
  vrio_t_bits device_options =
      (((options & VRIO_CLOSE_READ) && (d->layer.flags & VRIO_LAYER_HAS_READ))
           ? VRIO_DEVICE_CLOSE_READ
           : 0) |
      (((options & VRIO_CLOSE_WRITE) && (d->layer.flags & VRIO_LAYER_HAS_WRITE))
           ? VRIO_DEVICE_CLOSE_WRITE
           : 0) |
      ((options & VRIO_CLOSE_ABORTIVE) ? VRIO_DEVICE_CLOSE_ABORTIVE : 0);
  if (d->user_data != nullptr) {
    vrio_t_error_code rc = d->user_close(&d->user_data, device_options);
    if (rc < 0)
      return rc;
  }
  return vrio_layer_close_sides(s, options);
}

vrio_t_error_code simple_device_not_implemented(VRIO *, vrio_t_offset, vrio_t_offset *,
                                                vrio_t_buf *, vrio_t_bits)
{
  return VRIO_E_NOT_IMPLEMENTED;
}

void simple_device_destroy(vrio_t_layer *layer)
{
  vrio_free(layer);
}

vrio_t_error_code simple_device_ioctl(VRIO *s, vrio_t_ioctl_operation operation, void *param,
                                      vrio_t_bits options)
{
  simple_device *d = device_of(s);
  return d->user_ioctl(d->user_data, operation, param, options);
}

const vrio_t_funcs simple_device_funcs = {sizeof(vrio_t_funcs),
                                          "simple_device",
                                          sizeof(simple_device),
                                          0,
                                          0,
                                          simple_device_read,
                                          simple_device_write,
                                          simple_device_sync,
                                          simple_device_not_implemented,
                                          simple_device_close,
                                          vrio_layer_open_not_implemented,
                                          vrio_layer_pop_not_implemented,
                                          simple_device_destroy,
                                          vrio_layer_open_not_implemented,
                                          simple_device_ioctl};

} // namespace

vrio_t_error_code vrio_create_device(VRIO *s, void *user_data, const void *user_class,
                                     vrio_t_simple_device_read read,
                                     vrio_t_simple_device_write write,
                                     vrio_t_simple_device_flush_output flush_output,
                                     vrio_t_simple_device_seek seek,
                                     vrio_t_simple_device_close close,
                                     vrio_t_simple_device_interrupt interrupt,
                                     vrio_t_simple_device_ioctl ioctl, vrio_t_bits options)
{
  vrio_t_bits unit;
  if (options & VRIO_DEVICE_BYTES)
    unit = 1;
  else if (options & VRIO_DEVICE_CHARS)
    unit = 4;
  else
    return VRIO_E_PARAMETER_ERROR;
  if (close == nullptr || (read == nullptr && write == nullptr))
    return VRIO_E_PARAMETER_ERROR;
  auto *d = static_cast<simple_device *>(vrio_alloc(sizeof(simple_device)));
  if (d == nullptr)
    return VRIO_E_OUT_OF_MEMORY;
  d->layer.funcs = &simple_device_funcs;
  d->layer.next = nullptr;
  d->layer.flags = (read != nullptr ? VRIO_LAYER_READ_SIDE(unit) : 0) |
                   (write != nullptr ? VRIO_LAYER_WRITE_SIDE(unit) : 0);
  d->layer.pad = 0;
  d->user_data = user_data;
  d->user_class = user_class;
  d->user_read = read != nullptr ? read : dummy_user_read;
  d->user_write = write != nullptr ? write : dummy_user_write;
  d->user_flush_output = flush_output != nullptr ? flush_output : dummy_user_flush_output;
  d->user_seek = seek != nullptr ? seek : dummy_user_seek;
  d->user_close = close;
  d->user_interrupt = interrupt != nullptr ? interrupt : dummy_user_interrupt;
  d->user_ioctl = ioctl != nullptr ? ioctl : dummy_user_ioctl;
  vrio_layer_push(s, &d->layer);
  return VRIO_S_NOERR;
}

vrio_t_error_code vrio_get_device_user_data(VRIO *s, const void *user_class, void **puser_data)
{
  vrio_t_layer *layer;
  if (vrio_get_vrio_layer(s, &simple_device_funcs, &layer, 0) < 0)
    return VRIO_E_NOT_FOUND;
  auto *d = reinterpret_cast<simple_device *>(layer);
  if (d->user_class != user_class)
    return VRIO_E_NOT_FOUND;
  *puser_data = d->user_data;
  return VRIO_S_NOERR;
}
