/* memory_streams.cpp: streams over memory: a string the interface reads a
 * term from, and a list of character codes that Prolog asks for with
 * $stream_from_codes/3.
 *
 * Both are simple devices of the I/O library whose user data holds one
 * buffer, read from its start and written at its end, so a stream open
 * both ways reads back what was written to it (after a flush).  A text
 * device moves 4-byte character codes, a binary one bytes.  The user data
 * lives until both directions are closed; a close callback given at
 * creation runs then, and may refuse (unless the close is forced).
 * Engine thread only.
 */
#include <cstring>

#include "atom_text.h"
#include "chartype.h"
#include "memman.h"
#include "streams.h"
#include "terms.h"
#include "unify.h"
#include "worker.h"

namespace {

using close_callback_fn = vrio_t_error_code (*)(void *cookie, unsigned close_options);

/* Device user data.  flags: 1 the device owns read_buf, 2 the read
   direction is open, 4 the write direction is open. */
struct vr_t_device_user_data {
  unsigned flags;
  vrio_t_buf *read_buf;
  std::size_t offset;
  void *cookie;
  close_callback_fn close_callback;
};
constexpr unsigned OWNS_BUF = 1, READ_OPEN = 2, WRITE_OPEN = 4;

/* The user class of these devices. */
const char device_user_class = 0;

vrio_t_error_code device_user_read(void *user_data, void *buf, std::size_t *size, vrio_t_bits options)
{
  auto *d = static_cast<vr_t_device_user_data *>(user_data);
  const std::size_t item = (options & VRIO_DEVICE_UNIT_BYTES) ? 1 : 4;
  if (d->offset >= d->read_buf->extent)
    return VRIO_E_END_OF_FILE;
  std::size_t n = d->read_buf->extent - d->offset;
  if (n > *size)
    n = *size;
  n -= n % item;
  std::memcpy(buf, d->read_buf->buf + d->offset, n);
  d->offset += n;
  *size = n;
  return VRIO_S_NOERR;
}

vrio_t_error_code device_user_write(void *user_data, const void *buf, std::size_t *size,
                                    vrio_t_bits options)
{
  auto *d = static_cast<vr_t_device_user_data *>(user_data);
  const std::size_t item = (options & VRIO_DEVICE_UNIT_BYTES) ? 1 : 4;
  const std::size_t n = *size - *size % item;
  vrio_t_error_code rc = vrio_buf_concat_bytes(d->read_buf, buf, n);
  if (rc < 0)
    return rc;
  *size = n;
  return VRIO_S_NOERR;
}

vrio_t_error_code device_user_close(void **puser_data, vrio_t_bits options)
{
  auto *d = static_cast<vr_t_device_user_data *>(*puser_data);
  unsigned remaining = d->flags;
  if (options & VRIO_DEVICE_CLOSE_READ)
    remaining &= ~READ_OPEN;
  if (options & VRIO_DEVICE_CLOSE_WRITE)
    remaining &= ~WRITE_OPEN;
  if (remaining & (READ_OPEN | WRITE_OPEN)) {
    d->flags = remaining;
    return VRIO_S_NOERR;
  }
  if (d->close_callback != nullptr) {
    vrio_t_error_code rc = d->close_callback(d->cookie, options);
    if (rc < 0 && !(options & VRIO_DEVICE_CLOSE_ABORTIVE))
      return rc;
  }
  d->flags = remaining;
  if (d->flags & OWNS_BUF)
    vrio_buf_free(d->read_buf);
  VR_free(d);
  *puser_data = nullptr;
  return VRIO_S_NOERR;
}

} // namespace

vrio_t_error_code vr_create_vrio_device(VRIO *out, vrio_t_buf *buf, void *cookie,
                                        close_callback_fn close_callback, unsigned options)
{
  auto *d = static_cast<vr_t_device_user_data *>(VR_malloc(sizeof(vr_t_device_user_data)));
  if (d == nullptr)
    return VRIO_E_OUT_OF_MEMORY;
  d->flags = ((options & 1) ? OWNS_BUF : 0) | ((options & 2) ? READ_OPEN : 0) | ((options & 4) ? WRITE_OPEN : 0);
  d->read_buf = buf;
  d->offset = 0;
  d->cookie = cookie;
  d->close_callback = close_callback;
  VRIO layer = nullptr;
  vrio_t_error_code rc =
      vrio_create_device(&layer, d, &device_user_class, (options & 2) ? device_user_read : nullptr,
                         (options & 4) ? device_user_write : nullptr, nullptr, nullptr, device_user_close,
                         nullptr, nullptr, (options & 8) ? VRIO_DEVICE_BYTES : VRIO_DEVICE_CHARS);
  if (rc < 0) {
    if (layer == nullptr) {
      VR_free(d);
    } else {
      /* The half-made device frees only its own record: the caller keeps
         the buffer and the cookie. */
      d->flags &= ~OWNS_BUF;
      d->close_callback = nullptr;
      vrio_close(&layer, VRIO_CLOSE_ABORTIVE | VRIO_CLOSE_READ | VRIO_CLOSE_WRITE);
    }
    return rc;
  }
  *out = layer;
  return VRIO_S_NOERR;
}

vrio_t_error_code vr_create_vrio_byte_device(VRIO *out, vrio_t_buf *buf, void *cookie,
                                             close_callback_fn close_callback, unsigned options)
{
  return vr_create_vrio_device(out, buf, cookie, close_callback, options | 8);
}

int VR_stream_from_string(const char *text, VR_stream **out)
{
  if (text == nullptr || !wci_valid_string(text))
    return 0;
  vrio_t_buf *buf = vrio_buf_alloc(const_cast<char *>(text), std::strlen(text), VRIO_BUF_ALLOC_COPY);
  if (buf == nullptr)
    return 0;
  VRIO layer = nullptr;
  if (vr_create_vrio_byte_device(&layer, buf, nullptr, nullptr, 1 | 2) < 0) {
    vrio_buf_free(buf);
    return 0;
  }
  vrio_t_coder_funcs *utf8 = nullptr;
  if (vrio_char_coder_find(&utf8, "UTF-8", nullptr, 0) < 0) {
    vrio_close(&layer, VRIO_CLOSE_ABORTIVE | VRIO_CLOSE_READ);
    return 0;
  }
  vrio_t_error_code rc = vrio_push_encoding(&layer, utf8, nullptr, 0x11);
  vrio_coder_funcs_release(utf8);
  VR_stream *s = nullptr;
  if (rc >= 0)
    rc = VR_create_vrio_stream(&layer, &s, VR_CREATE_INPUT | VR_CREATE_TEXT);
  if (rc < 0) {
    vrio_close(&layer, VRIO_CLOSE_ABORTIVE | VRIO_CLOSE_READ);
    return 0;
  }
  *out = s;
  return 1;
}

namespace {

vrio_t_error_code codes_to_stream_close_callback(void *cookie, unsigned)
{
  auto *array = static_cast<std::int32_t **>(cookie);
  VR_free(*array);
  VR_free(array);
  return VRIO_S_NOERR;
}

} // namespace

/* $stream_from_codes(+Codes, -Stream, +Options) */
int prolog_stream_from_codes(worker *w)
{
  const TAGGED opts = deref(w->term[2]);
  if (!IsSmall(opts) || GetSmall(opts) < 0)
    return 0;
  const unsigned options = static_cast<unsigned>(GetSmall(opts));
  const bool readable = options & 0x20, writable = options & 0x40;
  std::int32_t *codes = nullptr;
  const long n = vr_list_to_codes(w->term[0], &codes, (options >> 3) & 3);
  if (n < 0)
    return 0;
  auto *cookie = static_cast<std::int32_t **>(VR_malloc(sizeof(std::int32_t *)));
  vrio_t_buf *buf = cookie != nullptr ? vrio_buf_alloc(codes, static_cast<std::size_t>(n) * 4, 0) : nullptr;
  if (buf == nullptr) {
    VR_free(codes);
    if (cookie != nullptr)
      VR_free(cookie);
    return 0;
  }
  *cookie = codes;
  VRIO layer = nullptr;
  if (vr_create_vrio_device(&layer, buf, cookie, codes_to_stream_close_callback,
                            1 | (readable ? 2 : 0) | (writable ? 4 : 0)) < 0) {
    vrio_buf_free(buf);
    codes_to_stream_close_callback(cookie, 0);
    return 0;
  }
  VR_stream *s = nullptr;
  if (VR_create_vrio_stream(&layer, &s,
                            VR_CREATE_TEXT | VR_CREATE_LINE_FLUSHED | (readable ? VR_CREATE_INPUT : 0) |
                                (writable ? VR_CREATE_OUTPUT : 0)) < 0) {
    vrio_close(&layer, VRIO_CLOSE_ABORTIVE | VRIO_CLOSE_READ | VRIO_CLOSE_WRITE);
    return 0;
  }
  if (!cunify(w, w->term[1], stream_address_term(w, s))) {
    vr_fclose_internal(s, VR_CLOSE_FORCE);
    return 0;
  }
  return 1;
}
