/* vrio_buf.h: the growable byte buffer through which all data moves between
 * the layers of a stream.
 *
 * `extent` bytes from `buf` are valid and `writable_size` bytes are room;
 * extent <= writable_size except for borrowed read-only data, whose room is
 * 0 so that the first growth copies it.  Storage a buffer allocates itself
 * has a capacity that is a multiple of 4 (one UTF-32 item) and at least 4.
 * Borrowed data is never freed or written by the buffer: it is copied into
 * owned storage before anything changes it (flag 8 forbids the copy, and
 * the change then fails).
 *
 * A buffer belongs to one thread at a time; nothing here locks.
 * Usable from C and C++.
 */
#ifndef VOSTREL_VRIO_BUF_H
#define VOSTREL_VRIO_BUF_H

#include "vostrel/vrio_types.h"

#ifdef __cplusplus
extern "C" {
#endif

#define VRIO_BUF_FREED 1u          /* vrio_buf_free has run */
#define VRIO_BUF_BORROWED 2u       /* data not owned: not freed, copied before changed */
#define VRIO_BUF_CALLER_RECORD 4u  /* the record is the caller's: never freed here */
#define VRIO_BUF_NEVER_COPY 8u     /* borrowed data that must not become a copy */

typedef struct vrio_t_buf_ {
  unsigned char *buf;
  size_t extent;
  size_t writable_size;
  vrio_t_bits flags;
  vrio_t_bits pad;
} vrio_t_buf;

/* Options of vrio_buf_alloc. */
#define VRIO_BUF_ALLOC_TAKE 1u       /* the buffer owns `data` from now on */
#define VRIO_BUF_ALLOC_READ_ONLY 2u  /* capacity 0: the first growth copies */
#define VRIO_BUF_ALLOC_COPY 4u       /* copy `data` into owned storage */
#define VRIO_BUF_ALLOC_NEVER_COPY 8u /* growth of borrowed data fails */

/* Buffers grow by at least 4 x this many bytes (VRIO_DEFAULT_BUFITEMS). */
extern int vrio_default_bufitems;

vrio_t_buf *vrio_buf_alloc(void *data, size_t size, vrio_t_bits options);
void vrio_buf_init_buf(vrio_t_buf *buf);
void vrio_buf_free(vrio_t_buf *buf);
vrio_t_error_code vrio_buf_reserve(vrio_t_buf *buf, size_t extra);
vrio_t_error_code vrio_buf_push(vrio_t_buf *buf, unsigned char byte);
vrio_t_error_code vrio_buf_pop(vrio_t_buf *buf, unsigned char *pbyte);
vrio_t_error_code vrio_buf_concat_bytes(vrio_t_buf *buf, const void *bytes, size_t n);
vrio_t_error_code vrio_buf_concat_string(vrio_t_buf *buf, const char *s);
vrio_t_error_code vrio_buf_concat(vrio_t_buf *buf, const vrio_t_buf *suffix);
/* amount > 0 drops bytes at the front, < 0 at the end. */
vrio_t_error_code vrio_buf_contract(vrio_t_buf *buf, ptrdiff_t amount);
vrio_t_error_code vrio_buf_reset(vrio_t_buf *buf, size_t size);
vrio_t_error_code vrio_buf_trim(vrio_t_buf *buf);
/* The valid bytes for the caller to free with vrio_free: owned data is taken
   out (the buffer is left empty without storage), borrowed data copied. */
vrio_t_error_code vrio_buf_get_buf(vrio_t_buf *buf, unsigned char **pdata, size_t *psize);
/* Module start (options 0) and stop (1) for vrio_init. */
vrio_t_error_code vrio_init_buf(vrio_t_bits options);

#ifdef __cplusplus
}
#endif

#endif
