/* vrio_std_streams.cpp: the standard stream slots.
 *
 * Slots 1, 2 and 3 hold standard input, output and error, slot 4 nothing
 * standard.  A slot owns the stream put in it; taking it out hands the
 * stream over and empties the slot, so each standard stream is taken once.
 * An empty slot can still give a null stream: a simple device that reads
 * nothing (input) or drops what is written (output, error).
 * Changed only at start-up, shut-down and on the engine thread.
 */
#include "vrio_internal.h"

struct standard_stream {
  VRIO layer;
  vrio_t_bits flags; /* 8: close the read side when replaced; 16: the write side */
};
static standard_stream standard_streams[5];

static standard_stream &slot_of(vrio_t_bits options)
{
  return standard_streams[1 + ((options & 2) ? 1 : 0) + ((options & 4) ? 2 : 0)];
}

vrio_t_error_code vrio_set_standard_stream(VRIO *s, vrio_t_bits options)
{
  if (s != nullptr && *s == nullptr)
    return VRIO_E_PARAMETER_ERROR;
  standard_stream &slot = slot_of(options);
  standard_stream old = slot;
  slot.layer = s != nullptr ? *s : nullptr;
  slot.flags = s != nullptr ? (options & ~7u) : 0;
  if (s != nullptr)
    *s = nullptr;
  vrio_t_bits close_options = ((old.flags & 8) ? VRIO_CLOSE_READ : 0) |
                              ((old.flags & 16) ? VRIO_CLOSE_WRITE : 0);
  if (old.layer == nullptr || close_options == 0)
    return VRIO_S_NOERR;
  return vrio_close(&old.layer, close_options);
}

/* Null streams: the address of this word is their user class. */
static vrio_t_bits VRIO_NULL_STREAM_CLASS_storage;

struct vrio_t_null_stream_data_ {
  vrio_t_bits flags; /* 1 the read side is open, 2 the write side */
};
using null_stream_data = vrio_t_null_stream_data_;

static vrio_t_error_code null_read(void *user_data, void *, size_t *, vrio_t_bits)
{
  return (static_cast<null_stream_data *>(user_data)->flags & 1) ? VRIO_E_END_OF_FILE
                                                                 : VRIO_E_NOT_SUPPORTED;
}

static vrio_t_error_code null_write(void *user_data, const void *, size_t *, vrio_t_bits)
{
  /* *size stays as offered: everything counts as written. */
  return (static_cast<null_stream_data *>(user_data)->flags & 2) ? VRIO_S_NOERR
                                                                 : VRIO_E_NOT_SUPPORTED;
}

static vrio_t_error_code null_close(void **puser_data, vrio_t_bits options)
{
  auto *d = static_cast<null_stream_data *>(*puser_data);
  if (options & VRIO_DEVICE_CLOSE_READ)
    d->flags &= ~1u;
  if (options & VRIO_DEVICE_CLOSE_WRITE)
    d->flags &= ~2u;
  if (d->flags == 0) {
    vrio_free(d);
    *puser_data = nullptr;
  }
  return VRIO_S_NOERR;
}

static vrio_t_error_code make_null_stream(VRIO *s, bool input)
{
  auto *d = static_cast<null_stream_data *>(vrio_alloc(sizeof(null_stream_data)));
  if (d == nullptr)
    return VRIO_E_OUT_OF_MEMORY;
  d->flags = input ? 1 : 2;
  VRIO made = nullptr;
  vrio_t_error_code rc = vrio_create_device(
      &made, d, &VRIO_NULL_STREAM_CLASS_storage, input ? null_read : nullptr,
      input ? nullptr : null_write, nullptr, nullptr, null_close, nullptr, nullptr,
      VRIO_DEVICE_BYTES);
  if (rc < 0) {
    vrio_free(d);
    if (made != nullptr)
      vrio_close(&made, VRIO_CLOSE_ABORTIVE);
    return rc;
  }
  *s = made;
  return VRIO_S_NOERR;
}

vrio_t_error_code vrio_get_standard_stream(VRIO *s, vrio_t_bits options)
{
  standard_stream &slot = slot_of(options);
  if (slot.layer == nullptr) {
    if (!(options & 8))
      return VRIO_E_NOT_FOUND;
    return make_null_stream(s, &slot == &standard_streams[1]);
  }
  *s = slot.layer;
  slot.layer = nullptr;
  slot.flags = 0;
  return VRIO_S_NOERR;
}
