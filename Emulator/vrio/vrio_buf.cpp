/* vrio_buf.cpp: growable byte buffers.
 *
 * Owned storage always has a capacity that is a multiple of 4 and at least
 * 4.  Borrowed storage (flag 2) is never written, resized or freed here:
 * every change that needs more room or moves bytes first copies the data
 * into owned storage (vrio_buf_realloc_internal), which borrowed data with
 * flag 8 refuses.  A failed call leaves the buffer as it was.
 */
#include "vostrel/vrio_buf.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "vostrel/vrio_alloc.h"
#include "vostrel/vrio_props.h"
#include "vrio_internal.h"

int vrio_default_bufitems = 100;

static size_t round_up_4(size_t n)
{
  return n == 0 ? 4 : (n + 3) & ~static_cast<size_t>(3);
}

static size_t default_bufsize()
{
  return 4 * static_cast<size_t>(vrio_default_bufitems);
}

vrio_t_buf *vrio_buf_alloc(void *data, size_t size, vrio_t_bits options)
{
  auto *bytes = static_cast<unsigned char *>(data);
  size_t capacity = size;
  bool owned_here = false; /* allocated by this call: freed if the record fails */
  bool borrowed = false;
  if (bytes != nullptr && (options & VRIO_BUF_ALLOC_COPY)) {
    capacity = round_up_4(size);
    auto *copy = static_cast<unsigned char *>(vrio_alloc(capacity));
    if (copy == nullptr)
      return nullptr;
    std::memcpy(copy, bytes, size);
    bytes = copy;
    owned_here = true;
  } else if (bytes != nullptr) {
    borrowed = !(options & VRIO_BUF_ALLOC_TAKE);
  } else {
    capacity = round_up_4(size == 0 ? default_bufsize() : size);
    bytes = static_cast<unsigned char *>(vrio_alloc(capacity));
    if (bytes == nullptr)
      return nullptr;
    size = 0;
    owned_here = true;
  }
  auto *buf = static_cast<vrio_t_buf *>(vrio_alloc(sizeof(vrio_t_buf)));
  if (buf == nullptr) {
    if (owned_here)
      vrio_free(bytes);
    return nullptr;
  }
  buf->buf = bytes;
  buf->extent = size;
  buf->writable_size = (options & VRIO_BUF_ALLOC_READ_ONLY) ? 0 : capacity;
  buf->flags = 0;
  if (borrowed)
    buf->flags |= VRIO_BUF_BORROWED | ((options & VRIO_BUF_ALLOC_NEVER_COPY) ? VRIO_BUF_NEVER_COPY : 0);
  buf->pad = 0;
  return buf;
}

void vrio_buf_init_buf(vrio_t_buf *buf)
{
  buf->buf = nullptr;
  buf->extent = 0;
  buf->writable_size = 0;
  buf->flags = VRIO_BUF_BORROWED | VRIO_BUF_CALLER_RECORD;
  buf->pad = 0;
}

void vrio_buf_free(vrio_t_buf *buf)
{
  if (buf == nullptr)
    return;
  buf->flags |= VRIO_BUF_FREED;
  buf->extent = 0;
  buf->writable_size = 0;
  if (!(buf->flags & VRIO_BUF_BORROWED))
    vrio_free(buf->buf);
  buf->buf = nullptr;
  if (!(buf->flags & VRIO_BUF_CALLER_RECORD))
    vrio_free(buf);
}

vrio_t_error_code vrio_buf_realloc_internal(vrio_t_buf *buf, size_t size)
{
  size_t capacity = round_up_4(size);
  size_t kept = buf->extent < capacity ? buf->extent : capacity;
  if (buf->flags & VRIO_BUF_BORROWED) {
    if (buf->flags & VRIO_BUF_NEVER_COPY)
      return VRIO_E_OUT_OF_MEMORY;
    auto *copy = static_cast<unsigned char *>(vrio_alloc(capacity));
    if (copy == nullptr)
      return VRIO_E_OUT_OF_MEMORY;
    if (kept != 0)
      std::memcpy(copy, buf->buf, kept);
    buf->buf = copy;
    buf->flags &= ~VRIO_BUF_BORROWED;
  } else if (capacity != buf->writable_size || buf->buf == nullptr) {
    auto *grown = static_cast<unsigned char *>(vrio_realloc(buf->buf, capacity));
    if (grown == nullptr)
      return VRIO_E_OUT_OF_MEMORY;
    buf->buf = grown;
  }
  buf->writable_size = capacity;
  buf->extent = kept;
  return VRIO_S_NOERR;
}

vrio_t_error_code vrio_buf_reserve(vrio_t_buf *buf, size_t extra)
{
  if (extra == 0)
    extra = 1;
  if (buf->writable_size >= buf->extent && buf->writable_size - buf->extent >= extra)
    return VRIO_S_NOERR;
  size_t step = default_bufsize();
  return vrio_buf_realloc_internal(buf, buf->extent + (extra > step ? extra : step));
}

vrio_t_error_code vrio_buf_push(vrio_t_buf *buf, unsigned char byte)
{
  if (buf->extent >= buf->writable_size) {
    vrio_t_error_code rc = vrio_buf_reserve(buf, 1);
    if (rc < 0)
      return rc;
  }
  buf->buf[buf->extent++] = byte;
  return VRIO_S_NOERR;
}

vrio_t_error_code vrio_buf_pop(vrio_t_buf *buf, unsigned char *pbyte)
{
  if (buf->extent == 0)
    return VRIO_E_ERROR;
  buf->extent--;
  if (pbyte != nullptr)
    *pbyte = buf->buf[buf->extent];
  return VRIO_S_NOERR;
}

vrio_t_error_code vrio_buf_concat_bytes(vrio_t_buf *buf, const void *bytes, size_t n)
{
  if (n == 0)
    return VRIO_S_NOERR;
  vrio_t_error_code rc = vrio_buf_reserve(buf, n);
  if (rc < 0)
    return rc;
  std::memcpy(buf->buf + buf->extent, bytes, n);
  buf->extent += n;
  return VRIO_S_NOERR;
}

vrio_t_error_code vrio_buf_concat_string(vrio_t_buf *buf, const char *s)
{
  return vrio_buf_concat_bytes(buf, s, std::strlen(s));
}

vrio_t_error_code vrio_buf_concat(vrio_t_buf *buf, const vrio_t_buf *suffix)
{
  return vrio_buf_concat_bytes(buf, suffix->buf, suffix->extent);
}

vrio_t_error_code vrio_buf_contract(vrio_t_buf *buf, ptrdiff_t amount)
{
  size_t n = amount < 0 ? static_cast<size_t>(-amount) : static_cast<size_t>(amount);
  if (n > buf->extent)
    return VRIO_E_PARAMETER_ERROR;
  if (amount < 0) {
    buf->extent -= n;
  } else if (amount > 0) {
    /* Moving bytes down writes the storage: borrowed data (possibly
       read-only, never ours to change) becomes an owned copy first. */
    if (buf->flags & VRIO_BUF_BORROWED) {
      vrio_t_error_code rc = vrio_buf_realloc_internal(buf, buf->extent);
      if (rc < 0)
        return rc;
    }
    std::memmove(buf->buf, buf->buf + n, buf->extent - n);
    buf->extent -= n;
  }
  return VRIO_S_NOERR;
}

vrio_t_error_code vrio_buf_reset(vrio_t_buf *buf, size_t size)
{
  size_t old_extent = buf->extent;
  buf->extent = 0;
  vrio_t_error_code rc = vrio_buf_reserve(buf, size);
  if (rc < 0)
    buf->extent = old_extent;
  return rc;
}

vrio_t_error_code vrio_buf_trim(vrio_t_buf *buf)
{
  if (buf->flags & VRIO_BUF_BORROWED)
    return VRIO_S_NOERR;
  return vrio_buf_realloc_internal(buf, buf->extent);
}

vrio_t_error_code vrio_buf_get_buf(vrio_t_buf *buf, unsigned char **pdata, size_t *psize)
{
  size_t size = buf->extent;
  unsigned char *data;
  if (buf->flags & VRIO_BUF_BORROWED) {
    data = static_cast<unsigned char *>(vrio_alloc(size));
    if (data == nullptr)
      return VRIO_E_OUT_OF_MEMORY;
    if (size != 0)
      std::memcpy(data, buf->buf, size);
  } else {
    data = buf->buf;
    buf->buf = nullptr;
    buf->extent = 0;
    buf->writable_size = 0;
  }
  *pdata = data;
  *psize = size;
  return VRIO_S_NOERR;
}

vrio_t_error_code vrio_init_buf(vrio_t_bits options)
{
  if (options & 1)
    return VRIO_S_NOERR;
  vrio_default_bufitems = 100;
  char text[30];
  size_t size = sizeof text;
  if (vrio_get_system_property("VRIO_DEFAULT_BUFITEMS", text, &size, 0) < 0 || text[0] == '\0')
    return VRIO_S_NOERR;
  char *end;
  errno = 0;
  long items = std::strtol(text, &end, 0);
  if (*end == '\0' && errno == 0 && items > 0 && items <= 0x7fffffff / 4)
    vrio_default_bufitems = static_cast<int>(items);
  return VRIO_S_NOERR;
}
