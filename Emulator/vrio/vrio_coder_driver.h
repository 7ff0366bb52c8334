/* vrio_coder_driver.h: the conversion loops that every built-in coder kind
 * shares, written once over a kind's item conversion.
 *
 * Decoding: the kind's `next` turns the bytes at the front of the input
 * into one character code (or answers VRIO_E_NOT_ENOUGH_DATA for an item
 * cut by the end, or the error of a bad item, already applying its own
 * replacement rules); the loop here applies what all kinds do alike: the
 * dropped byte-order mark and the line-end conversions.  Encoding: the
 * kind's `put` writes one code (with its replacement rule) and the loop
 * adds the byte-order mark and the line ends.
 *
 * Both loops move the input offset and the output extent by whole items
 * only and succeed after any progress; a problem met after progress is
 * met again, and reported, by the next call (which then consumes nothing).
 * They are templates so that each kind's item conversion is inlined into
 * its own loop: decoding ASCII-range UTF-8 is a compare and a store.
 */
#ifndef VOSTREL_VRIO_CODER_DRIVER_H
#define VOSTREL_VRIO_CODER_DRIVER_H

#include <cstring>

#include "vostrel/vrio_coder.h"

/* The instance record of every built-in kind. */
struct vrio_coder_instance {
  vrio_t_coder coder;
  int32_t last_char; /* -2 nothing converted yet, -1 nothing pending, 13 a CR became LF */
};

inline constexpr uint32_t vrio_replacement_character = 0xFFFD;

/* Makes room for at least one more output item of `item` bytes, asking
   for enough for the rest of the input at once where memory allows. */
inline vrio_t_error_code vrio_coder_room(vrio_t_buf *to, size_t item, size_t rest)
{
  if (to->writable_size >= to->extent && to->writable_size - to->extent >= item)
    return VRIO_S_NOERR;
  size_t want = rest < (size_t{1} << 18) ? rest : (size_t{1} << 18);
  if (want < item)
    want = item;
  if (vrio_buf_reserve(to, want) >= 0)
    return VRIO_S_NOERR;
  return vrio_buf_reserve(to, item);
}

inline void vrio_coder_put_code(vrio_t_buf *to, uint32_t code)
{
  std::memcpy(to->buf + to->extent, &code, 4);
  to->extent += 4;
}

/* Decoder: vrio_t_error_code next(const unsigned char *p, size_t n,
   vrio_t_bits options, uint32_t *code, size_t *len) const, answering
   VRIO_E_NOT_ENOUGH_DATA for n == 0. */
template <class Decoder>
vrio_t_error_code vrio_coder_decode_items(const Decoder &d, vrio_coder_instance *c,
                                          vrio_t_buf *from, size_t *from_offset, vrio_t_buf *to,
                                          vrio_t_bits options)
{
  const unsigned char *p = from->buf;
  size_t end = from->extent, off = *from_offset;
  vrio_t_bits flags = c->coder.flags;
  vrio_t_error_code stop = VRIO_E_NOT_ENOUGH_DATA;
  bool progress = false;
  while (off < end) {
    vrio_t_error_code rc = vrio_coder_room(to, 4, 4 * (end - off));
    if (rc < 0) {
      stop = rc;
      break;
    }
    uint32_t code;
    size_t len;
    rc = d.next(p + off, end - off, options, &code, &len);
    if (rc < 0) {
      stop = rc;
      break;
    }
    int32_t last = c->last_char;
    if (code == 0xFEFF && last == -2 && (flags & VRIO_CODER_DROP_BOM)) {
      c->last_char = -1;
    } else if (code == '\n' && last == 13 && (flags & VRIO_CODER_ANY_EOL)) {
      c->last_char = -1; /* the CR before it has given the LF already */
    } else if (code == '\r' && (flags & VRIO_CODER_CRLF)) {
      uint32_t next;
      size_t next_len;
      rc = d.next(p + off + len, end - off - len, options, &next, &next_len);
      if (rc >= 0 && next == '\n') {
        vrio_coder_put_code(to, '\n');
        len += next_len;
        c->last_char = -1;
      } else if (rc == VRIO_E_NOT_ENOUGH_DATA && !(options & VRIO_CODER_END_OF_INPUT)) {
        stop = rc; /* the CR waits for what follows it */
        break;
      } else {
        vrio_coder_put_code(to, '\r');
        c->last_char = 13;
      }
    } else if (code == '\r' && (flags & VRIO_CODER_ANY_EOL)) {
      vrio_coder_put_code(to, '\n');
      c->last_char = 13;
    } else {
      vrio_coder_put_code(to, code);
      c->last_char = static_cast<int32_t>(code);
    }
    off += len;
    progress = true;
  }
  if (!progress)
    return stop;
  *from_offset = off;
  return VRIO_S_NOERR;
}

/* Encoder: vrio_t_error_code put(uint32_t code, unsigned char *out,
   vrio_t_bits options) const, answering the number of bytes (at most 4)
   or an error; `any_eol_plain_lf`: with "any line end" an LF is written
   as it is (else that mode cannot encode line ends). */
template <class Encoder>
vrio_t_error_code vrio_coder_encode_items(const Encoder &e, vrio_coder_instance *c,
                                          vrio_t_buf *from, size_t *from_offset, vrio_t_buf *to,
                                          vrio_t_bits options)
{
  size_t end = from->extent, off = *from_offset;
  vrio_t_bits flags = c->coder.flags;
  vrio_t_error_code stop = VRIO_E_NOT_ENOUGH_DATA;
  bool progress = false;
  while (end - off >= 4) {
    uint32_t code;
    std::memcpy(&code, from->buf + off, 4);
    unsigned char out[16];
    size_t n = 0;
    if (c->last_char == -2 && (flags & VRIO_CODER_WRITE_BOM))
      n = static_cast<size_t>(e.put(0xFEFF, out, 0));
    size_t mark = n;
    vrio_t_error_code rc;
    if (code == '\n' && (flags & VRIO_CODER_CRLF)) {
      rc = e.put('\r', out + n, options);
      if (rc >= 0) {
        n += static_cast<size_t>(rc);
        rc = e.put('\n', out + n, options);
      }
    } else if (code == '\n' && (flags & VRIO_CODER_ANY_EOL) && !Encoder::any_eol_plain_lf) {
      rc = VRIO_E_NOT_IMPLEMENTED;
    } else {
      rc = e.put(code, out + n, options);
    }
    bool whole = rc >= 0;
    if (whole)
      n += static_cast<size_t>(rc);
    else
      n = mark; /* the mark alone still goes out */
    if (n != 0) {
      vrio_t_error_code room = vrio_coder_room(to, n, (end - off) + n);
      if (room < 0) {
        stop = room;
        break;
      }
      std::memcpy(to->buf + to->extent, out, n);
      to->extent += n;
      c->last_char = -1;
      progress = true;
    }
    if (!whole) {
      stop = rc;
      break;
    }
    off += 4;
    progress = true;
  }
  if (!progress)
    return stop;
  *from_offset = off;
  return VRIO_S_NOERR;
}

/* The flags of a new instance from the open options that every kind reads
   alike (decoding or encoding, line ends). */
inline vrio_t_bits vrio_coder_open_flags(vrio_t_bits options)
{
  vrio_t_bits flags = (options & VRIO_CODER_OPEN_DECODE) ? VRIO_CODER_DECODER_FLAGS
                                                         : VRIO_CODER_ENCODER_FLAGS;
  if (options & VRIO_CODER_OPEN_CRLF)
    flags |= VRIO_CODER_CRLF;
  if (options & VRIO_CODER_OPEN_ANY_EOL)
    flags |= VRIO_CODER_ANY_EOL;
  return flags;
}

/* Instances of the built-in kinds: a new one holding a reference on its
   table (VRIO_E_OUT_OF_MEMORY), its free, and the operations that have
   nothing to do. */
vrio_t_error_code vrio_coder_instance_new(vrio_t_coder_funcs *funcs, vrio_t_bits flags,
                                          int32_t last_char, vrio_t_coder **pcoder);
void vrio_coder_instance_free(vrio_t_coder *coder);
void vrio_coder_nothing(vrio_t_coder *coder);

/* Registration of a built-in table: the registry's reference is the only
   one once this returns (option 1 removes it again). */
vrio_t_error_code vrio_coder_register_builtin(vrio_t_coder_funcs *funcs, vrio_t_bits options);

#endif
