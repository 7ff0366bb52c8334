/* vrio_layer_coder.cpp: the "char-coder" layer, which turns the byte
 * stream below it into a stream of 32-bit characters.
 *
 * Reading decodes the read-ahead `read_buf` (bytes from below, the first
 * `read_buf_consumed` of them decoded already) and reads below only when
 * the decoder needs more bytes; writing encodes into `write_buf`, which
 * goes below when it lacks room, on flush, sync, seek and close.
 * Positions count 4 x characters since the push; the byte position below
 * that matches `read_pos` is always `read_buf0_pos + read_buf_consumed`.
 * Seeking needs a coder that translates character offsets into byte
 * offsets (the single-byte coders).
 */
#include "vostrel/vrio.h"
#include "vostrel/vrio_coder.h"
#include "vostrel/vrio_device.h"
#include "vrio_internal.h"
#include "vrio_layer_coder.h"

namespace {

using layer_coder = vrio_t_layer_coder;
#if defined(__i386__)
static_assert(sizeof(layer_coder) == 72);
#endif

constexpr vrio_t_bits fallback_bits =
    VRIO_CODER_REPLACE_INVALID | VRIO_CODER_NEVER_REPLACE | VRIO_CODER_REPLACE;

layer_coder *coder_of(VRIO *s)
{
  return reinterpret_cast<layer_coder *>(*s);
}

vrio_t_bits unit_of(vrio_t_bits flags, int shift)
{
  return (flags >> shift) & VRIO_LAYER_UNIT_MASK;
}

vrio_t_error_code coder_read(VRIO *s, vrio_t_buf *buf, vrio_t_bits options)
{
  layer_coder *l = coder_of(s);
  vrio_t_bits below = (options & ~VRIO_READ_CHARS) | VRIO_READ_BYTES;
  vrio_t_bits end_of_input = 0;
  for (;;) {
    size_t before = buf->extent;
    size_t consumed = l->read_buf_consumed;
    vrio_t_error_code rc = vrio_char_coder_encode(l->read_coder, l->read_buf, &consumed, buf,
                                                  l->read_coder_options | end_of_input);
    if (rc >= 0) {
      l->read_buf_consumed = consumed;
      vrio_char_coder_commit(l->read_coder);
      l->read_pos += static_cast<vrio_t_offset>(buf->extent - before);
      return VRIO_S_NOERR;
    }
    if (rc != VRIO_E_NOT_ENOUGH_DATA && rc != VRIO_E_END_OF_FILE)
      return rc;
    if (end_of_input)
      return l->read_buf_consumed == l->read_buf->extent ? VRIO_E_END_OF_FILE
                                                         : VRIO_E_ENCODING_INVALID;
    /* More bytes are needed: the decoded ones make room first. */
    if (l->read_buf_consumed != 0) {
      vrio_buf_contract(l->read_buf, static_cast<ptrdiff_t>(l->read_buf_consumed));
      l->read_buf0_pos += static_cast<vrio_t_offset>(l->read_buf_consumed);
      l->read_buf_consumed = 0;
    }
    rc = vrio_read(&l->layer.next, &l->read_buf, below);
    if (rc == VRIO_E_END_OF_FILE)
      end_of_input = VRIO_CODER_END_OF_INPUT;
    else if (rc < 0)
      return rc;
  }
}

/* Writes write_buf below from write_buf_offset; the written bytes leave
   it.  Under write-everything a failure after some bytes went out counts
   as success for what went out. */
vrio_t_error_code flush_write_buffer(layer_coder *l, vrio_t_bits child_options)
{
  vrio_t_buf *wb = l->write_buf;
  if (l->write_buf_offset >= wb->extent)
    return VRIO_S_NOERR;
  size_t before = l->write_buf_offset;
  vrio_t_error_code rc = vrio_write(&l->layer.next, wb, &l->write_buf_offset, child_options);
  if (rc < 0 && !((child_options & VRIO_WRITE_ALL) && l->write_buf_offset > before))
    return rc;
  vrio_buf_contract(wb, static_cast<ptrdiff_t>(l->write_buf_offset));
  l->write_buf_offset = 0;
  return VRIO_S_NOERR;
}

vrio_t_error_code coder_write(VRIO *s, vrio_t_buf *buf, size_t *offset, vrio_t_bits options)
{
  layer_coder *l = coder_of(s);
  vrio_t_bits unit = unit_of(l->layer.flags, VRIO_LAYER_WRITE_UNIT_SHIFT);
  size_t offered = buf->extent - *offset;
  if (unit != 0 && offered % unit != 0)
    return VRIO_E_GRANULARITY_ERROR;
  vrio_t_bits nonblocking = options & VRIO_WRITE_NONBLOCKING;
  vrio_t_bits child = VRIO_WRITE_ALL | VRIO_WRITE_BYTES | nonblocking;
  vrio_t_buf *wb = l->write_buf;
  size_t room = wb->writable_size > wb->extent ? wb->writable_size - wb->extent : 0;
  if (room < offered / 4) {
    vrio_t_error_code rc = flush_write_buffer(l, child);
    if (rc < 0)
      return rc;
  }
  bool flush = (options & VRIO_WRITE_FLUSH) != 0;
  size_t consumed = *offset;
  vrio_t_error_code rc =
      vrio_char_coder_encode(l->write_coder, buf, &consumed, wb,
                             l->write_coder_options | (flush ? VRIO_CODER_END_OF_INPUT : 0));
  if (rc == VRIO_E_END_OF_FILE || rc == VRIO_E_NOT_ENOUGH_DATA)
    return VRIO_E_NOT_ENOUGH_DATA;
  if (rc < 0)
    return rc;
  if (flush)
    flush_write_buffer(l, child | VRIO_WRITE_FLUSH); /* what stays goes with the next flush */
  vrio_char_coder_commit(l->write_coder);
  l->write_pos += static_cast<vrio_t_offset>(consumed - *offset);
  *offset = consumed;
  return VRIO_S_NOERR;
}

vrio_t_error_code coder_sync(VRIO *s, vrio_t_bits options)
{
  layer_coder *l = coder_of(s);
  if ((options & VRIO_SYNC_WRITE) && (l->layer.flags & VRIO_LAYER_OPEN_WRITE)) {
    vrio_t_error_code rc =
        flush_write_buffer(l, VRIO_WRITE_ALL | VRIO_WRITE_BYTES |
                                  ((options & VRIO_SYNC_NONBLOCKING) ? VRIO_WRITE_NONBLOCKING : 0));
    if (rc < 0)
      return rc;
  }
  if ((options & VRIO_SYNC_READ) && (l->layer.flags & VRIO_LAYER_OPEN_READ) &&
      !(options & VRIO_SYNC_KEEP_READ_AHEAD)) {
    size_t undecoded = l->read_buf->extent - l->read_buf_consumed;
    if (undecoded != 0 && l->layer.next != nullptr) {
      /* The read position only: a two-way stack keeps its write position. */
      vrio_t_error_code rc = vrio_seek(&l->layer.next, -static_cast<vrio_t_offset>(undecoded),
                                       nullptr, l->read_buf,
                                       VRIO_SEEK_RELATIVE_BUFFERED | VRIO_SEEK_READ);
      if (rc < 0)
        return rc;
    }
    l->read_buf0_pos += static_cast<vrio_t_offset>(l->read_buf_consumed);
    l->read_buf->extent = 0;
    l->read_buf_consumed = 0;
  }
  if (options & VRIO_SYNC_BELOW)
    return vrio_sync(&l->layer.next, options);
  return VRIO_S_NOERR;
}

vrio_t_error_code coder_seek(VRIO *s, vrio_t_offset offset, vrio_t_offset *new_position,
                             vrio_t_buf *, vrio_t_bits options)
{
  layer_coder *l = coder_of(s);
  bool write_side = (options & VRIO_SEEK_WRITE) && (l->layer.flags & VRIO_LAYER_OPEN_WRITE);
  vrio_t_offset base = write_side ? l->write_pos : l->read_pos;
  vrio_t_offset target;
  if (options & VRIO_SEEK_ABSOLUTE) {
    target = offset;
  } else if (options & (VRIO_SEEK_RELATIVE | VRIO_SEEK_RELATIVE_BUFFERED)) {
    if (__builtin_add_overflow(base, offset, &target) || target < 0)
      return VRIO_E_PARAMETER_ERROR;
  } else {
    return (options & VRIO_SEEK_FROM_END) ? VRIO_E_NOT_SUPPORTED : VRIO_E_PARAMETER_ERROR;
  }
  vrio_t_bits unit =
      unit_of(l->layer.flags, write_side ? VRIO_LAYER_WRITE_UNIT_SHIFT : VRIO_LAYER_READ_UNIT_SHIFT);
  if (unit != 0 && target % unit != 0)
    return VRIO_E_GRANULARITY_ERROR;
  vrio_t_offset distance = target - base;
  vrio_t_offset bytes;
  if (write_side) {
    while (l->write_buf_offset < l->write_buf->extent) {
      vrio_t_error_code rc = flush_write_buffer(l, VRIO_WRITE_ALL | VRIO_WRITE_BYTES);
      if (rc < 0)
        return rc;
    }
    vrio_t_error_code rc = vrio_char_coder_translate_offset(l->write_coder, distance, &bytes);
    if (rc < 0)
      return rc;
    rc = vrio_seek(&l->layer.next, bytes, nullptr, nullptr,
                   VRIO_SEEK_RELATIVE | VRIO_SEEK_WRITE);
    if (rc < 0)
      return rc;
    l->write_pos = target;
    vrio_char_coder_seek(l->write_coder, distance, 0);
  } else {
    vrio_t_error_code rc = vrio_char_coder_translate_offset(l->read_coder, distance, &bytes);
    if (rc < 0)
      return rc;
    vrio_t_offset here = l->read_buf0_pos + static_cast<vrio_t_offset>(l->read_buf_consumed);
    vrio_t_offset there = here + bytes;
    vrio_t_offset held_end = l->read_buf0_pos + static_cast<vrio_t_offset>(l->read_buf->extent);
    if (there >= l->read_buf0_pos && (bytes <= 0 || there < held_end)) {
      l->read_buf_consumed = static_cast<size_t>(there - l->read_buf0_pos);
    } else {
      vrio_t_offset reached = there;
      rc = vrio_seek(&l->layer.next, there, &reached, nullptr,
                     VRIO_SEEK_ABSOLUTE | VRIO_SEEK_READ);
      if (rc < 0)
        return rc;
      l->read_buf->extent = 0;
      l->read_buf_consumed = 0;
      l->read_buf0_pos = reached;
    }
    l->read_pos = target;
    vrio_char_coder_seek(l->read_coder, distance, 0);
  }
  *new_position = target;
  return VRIO_S_NOERR;
}

void coder_destroy(vrio_t_layer *layer)
{
  auto *l = reinterpret_cast<layer_coder *>(layer);
  vrio_char_coder_close(l->read_coder);
  vrio_char_coder_close(l->write_coder);
  vrio_buf_free(l->read_buf);
  vrio_buf_free(l->write_buf);
  vrio_free(l);
}

vrio_t_error_code coder_push(const vrio_t_funcs *funcs, VRIO *s, vrio_t_arglist args,
                             vrio_t_bits options)
{
  void *read_coder = nullptr, *write_coder = nullptr;
  vrio_get_arg(args, "read-char-coder vrio_t_coder", VRIO_VARIANT_POINTER, &read_coder);
  vrio_get_arg(args, "write-char-coder vrio_t_coder", VRIO_VARIANT_POINTER, &write_coder);
  vrio_t_bits below = *s != nullptr ? (*s)->flags : 0;
  if ((read_coder != nullptr && !(below & VRIO_LAYER_OPEN_READ)) ||
      (write_coder != nullptr && !(below & VRIO_LAYER_OPEN_WRITE)))
    return VRIO_E_PARAMETER_ERROR;
  auto *rc_coder = static_cast<vrio_t_coder *>(read_coder);
  auto *wc_coder = static_cast<vrio_t_coder *>(write_coder);
  vrio_t_bits flags = 0;
  if (rc_coder != nullptr)
    flags |= VRIO_LAYER_READ_SIDE(rc_coder->flags & VRIO_CODER_OUTPUT_UNIT_MASK);
  if (wc_coder != nullptr)
    flags |= VRIO_LAYER_WRITE_SIDE((wc_coder->flags >> VRIO_CODER_INPUT_UNIT_SHIFT) &
                                   VRIO_CODER_OUTPUT_UNIT_MASK);
  if (flags == 0)
    return VRIO_E_PUSH_ERROR;
  if (options & 2) {
    if (rc_coder != nullptr && wc_coder != nullptr)
      return VRIO_E_NOT_SUPPORTED;
    flags |= VRIO_LAYER_CAN_REREAD;
  }
  auto *l = static_cast<layer_coder *>(vrio_alloc(sizeof(layer_coder)));
  if (l == nullptr)
    return VRIO_E_OUT_OF_MEMORY;
  *l = layer_coder{};
  l->layer.funcs = funcs;
  l->layer.flags = flags;
  if (rc_coder != nullptr)
    l->read_buf = vrio_buf_alloc(nullptr, 0, 0);
  if (wc_coder != nullptr)
    l->write_buf = vrio_buf_alloc(nullptr, 0, 0);
  if ((rc_coder != nullptr && l->read_buf == nullptr) ||
      (wc_coder != nullptr && l->write_buf == nullptr)) {
    vrio_buf_free(l->read_buf);
    vrio_buf_free(l->write_buf);
    vrio_free(l);
    return VRIO_E_OUT_OF_MEMORY;
  }
  l->read_coder = rc_coder;
  l->write_coder = wc_coder;
  vrio_layer_push(s, &l->layer);
  return VRIO_S_NOERR;
}

vrio_t_error_code coder_pop(const vrio_t_funcs *funcs, VRIO *s, vrio_t_bits)
{
  return vrio_layer_sync_pop(funcs, s);
}

vrio_t_error_code coder_ioctl(VRIO *s, vrio_t_ioctl_operation operation, void *param,
                              vrio_t_bits options)
{
  layer_coder *l = coder_of(s);
  if (operation == VRIO_IOCTL_ENCODING_FALLBACK_) {
    vrio_t_bits bits = ((options & 8) ? VRIO_CODER_REPLACE_INVALID : 0) |
                       ((options & 0x20) ? VRIO_CODER_NEVER_REPLACE : 0) |
                       ((options & 0x40) ? VRIO_CODER_REPLACE : 0);
    if (options & 2)
      l->read_coder_options = (l->read_coder_options & ~fallback_bits) | bits;
    if (options & 4)
      l->write_coder_options = (l->write_coder_options & ~fallback_bits) | bits;
    return VRIO_S_NOERR;
  }
  if (operation == VRIO_IOCTL_GET_ENCODING_NAME_) {
    vrio_t_coder *coder = (options & 2) ? l->read_coder : l->write_coder;
    if (coder == nullptr)
      return VRIO_E_NOT_SUPPORTED;
    *static_cast<const char **>(param) = coder->funcs->name;
    return VRIO_S_NOERR;
  }
  return VRIO_E_NOT_SUPPORTED;
}

const vrio_t_funcs coder_funcs = {sizeof(vrio_t_funcs), "char-coder", sizeof(layer_coder), 0, 0,
                                  coder_read, coder_write, coder_sync, coder_seek, vrio_layer_close_pushed,
                                  coder_push, coder_pop, coder_destroy, vrio_layer_open_not_implemented, coder_ioctl};

} // namespace

vrio_t_error_code vrio_init_layer_coder(vrio_t_bits options)
{
  return vrio_register_layer(&coder_funcs, options & 1);
}
