/* vrio_coder_unicode.cpp: the coder kinds of the Unicode encoding forms
 * (UTF-8, UTF-16 and UTF-32, the last two in either byte order) and the
 * UTF-8 checks that the rest of the runtime uses on strings.
 *
 * Each kind supplies only the conversion of one item; the loops, the
 * byte-order mark and the line ends are vrio_coder_driver.h.  Replacement
 * by U+FFFD follows one rule per case: a UTF-8 value above U+10FFFF is
 * always replaced; ill-formed input only with encode options 2 and 0x10
 * and not 8; unmappable values (surrogates, above U+10FFFF) of UTF-32
 * input and of every encoder with 0x10 and not 8.  None of the kinds can
 * seek: a character's position in bytes depends on the text before it.
 */
#include <utility>

#include "vostrel/vrio.h"
#include "vostrel/vrio_coder.h"
#include "vrio_coder_driver.h"

/* The reference tables of UTF-8: the length of a sequence by its first
   byte (0 for a byte that cannot begin one), what summing a sequence of
   each length adds beyond its value, and the lead-byte marks. */
extern "C" const unsigned char vrio_utf8_sequence_length[256] = {
#define L16(n) n, n, n, n, n, n, n, n, n, n, n, n, n, n, n, n
    L16(1), L16(1), L16(1), L16(1), L16(1), L16(1), L16(1), L16(1), /* 00-7F */
    L16(0), L16(0), L16(0), L16(0),                                 /* 80-BF */
    L16(2), L16(2),                                                 /* C0-DF */
    L16(3),                                                         /* E0-EF */
    4, 4, 4, 4, 4, 4, 4, 4, 5, 5, 5, 5, 6, 6, 0, 0                  /* F0-FF */
#undef L16
};
static const uint32_t utf8_adjust_magic[7] = {0,          0,          0x3080,    0xE2080,
                                              0x3C82080, 0xFA082080, 0x82082080};
static const unsigned char utf8_first_byte_mark[7] = {0, 0, 0xC0, 0xE0, 0xF0, 0xF8, 0xFC};

static constexpr vrio_t_bits accept_c0_80 = 1, extended_range = 2;

extern "C" vrio_t_error_code vrio_is_legal_utf8_prefix(const unsigned char *bytes, size_t length,
                                                       vrio_t_bits options)
{
  if (length == 0 || length > 6)
    return VRIO_E_ENCODING_INVALID;
  unsigned char first = bytes[0];
  if (length == 1)
    return first < 0x80 ? VRIO_S_NOERR : VRIO_E_ENCODING_INVALID;
  for (size_t i = 1; i < length; ++i)
    if (bytes[i] < 0x80 || bytes[i] > 0xBF)
      return VRIO_E_ENCODING_INVALID;
  unsigned char second = bytes[1];
  switch (first) {
  case 0xC0:
    if (!((options & accept_c0_80) && length == 2 && second == 0x80))
      return VRIO_E_ENCODING_INVALID;
    break;
  case 0xC1:
    return VRIO_E_ENCODING_INVALID;
  case 0xE0:
    if (second < 0xA0)
      return VRIO_E_ENCODING_INVALID; /* overlong */
    break;
  case 0xED:
    if (second > 0x9F && !(options & extended_range))
      return VRIO_E_ENCODING_INVALID; /* a surrogate */
    break;
  case 0xF0:
    if (second < 0x90)
      return VRIO_E_ENCODING_INVALID;
    break;
  case 0xF4:
    if (second > 0x8F && !(options & extended_range))
      return VRIO_E_ENCODING_UNMAPPABLE; /* above U+10FFFF */
    break;
  case 0xF8:
    if (second < 0x88)
      return VRIO_E_ENCODING_INVALID;
    break;
  case 0xFC:
    if (second < 0x84)
      return VRIO_E_ENCODING_INVALID;
    break;
  default:
    if (first < 0xC0)
      return VRIO_E_ENCODING_INVALID; /* a continuation byte cannot lead */
    break;
  }
  if (!(options & extended_range) && first > 0xF4)
    return VRIO_E_ENCODING_UNMAPPABLE;
  if ((options & extended_range) && first > 0xFD)
    return VRIO_E_ENCODING_INVALID;
  return VRIO_S_NOERR;
}

static uint32_t utf8_value(const unsigned char *p, size_t length)
{
  uint32_t value = 0;
  for (size_t i = 0; i < length; ++i)
    value = (value << 6) + p[i];
  return value - utf8_adjust_magic[length];
}

/* Walks whole sequences; `sink` gets each value. */
template <class Sink>
static vrio_t_error_code walk_utf8(const unsigned char *bytes, size_t length, vrio_t_bits options,
                                   vrio_t_error_code cut_off, Sink sink)
{
  options &= accept_c0_80 | extended_range;
  for (size_t i = 0; i < length;) {
    size_t n = bytes[i] < 0x80 ? 1 : vrio_utf8_sequence_length[bytes[i]];
    if (n != 0 && i + n > length)
      return cut_off;
    vrio_t_error_code rc = vrio_is_legal_utf8_prefix(bytes + i, n, options);
    if (rc < 0)
      return rc;
    rc = sink(utf8_value(bytes + i, n));
    if (rc < 0)
      return rc;
    i += n;
  }
  return VRIO_S_NOERR;
}

extern "C" vrio_t_error_code vrio_is_legal_utf8_string(const unsigned char *bytes, size_t length,
                                                       vrio_t_bits options)
{
  return walk_utf8(bytes, length, options, VRIO_E_ENCODING_INVALID,
                   [](uint32_t) { return VRIO_S_NOERR; });
}

extern "C" vrio_t_error_code vrio_decode_utf8_to_utf32(const unsigned char *bytes, size_t length,
                                                       uint32_t *out, size_t *pcount,
                                                       vrio_t_bits options)
{
  size_t n = 0, room = *pcount;
  vrio_t_error_code rc = walk_utf8(bytes, length, options, VRIO_E_NOT_ENOUGH_DATA,
                                   [&](uint32_t code) {
                                     if (n == room)
                                       return VRIO_E_INSUFFICIENT_BUFFER;
                                     out[n++] = code;
                                     return VRIO_S_NOERR;
                                   });
  *pcount = n;
  return rc;
}

static bool replaces_invalid(vrio_t_bits options)
{
  return (options & VRIO_CODER_REPLACE_INVALID) && (options & VRIO_CODER_REPLACE) &&
         !(options & VRIO_CODER_NEVER_REPLACE);
}

static bool replaces_unmappable(vrio_t_bits options)
{
  return (options & VRIO_CODER_REPLACE) && !(options & VRIO_CODER_NEVER_REPLACE);
}

static bool is_surrogate(uint32_t code)
{
  return code >= 0xD800 && code <= 0xDFFF;
}

/* UTF-8. */

struct utf8_decoder {
  vrio_t_error_code next(const unsigned char *p, size_t n, vrio_t_bits options, uint32_t *code,
                         size_t *len) const
  {
    if (n == 0)
      return VRIO_E_NOT_ENOUGH_DATA;
    if (p[0] < 0x80) {
      *code = p[0];
      *len = 1;
      return VRIO_S_NOERR;
    }
    size_t length = vrio_utf8_sequence_length[p[0]];
    if (length > n) {
      if (!(options & VRIO_CODER_END_OF_INPUT))
        return VRIO_E_NOT_ENOUGH_DATA;
      length = 1; /* cut off for good: judged as the lone byte it is */
    }
    vrio_t_error_code rc = vrio_is_legal_utf8_prefix(p, length, 0);
    if (rc >= 0) {
      *code = utf8_value(p, length);
      *len = length;
      return VRIO_S_NOERR;
    }
    if (rc == VRIO_E_ENCODING_UNMAPPABLE || replaces_invalid(options)) {
      *code = vrio_replacement_character;
      *len = length != 0 ? length : 1;
      return VRIO_S_NOERR;
    }
    return VRIO_E_ENCODING_INVALID;
  }
};

struct utf8_encoder {
  static constexpr bool any_eol_plain_lf = false;
  vrio_t_error_code put(uint32_t code, unsigned char *out, vrio_t_bits options) const
  {
    size_t n;
    if (code < 0x80)
      n = 1;
    else if (code < 0x800)
      n = 2;
    else if (code < 0x10000 && !is_surrogate(code))
      n = 3;
    else if (code >= 0x10000 && code <= 0x10FFFF)
      n = 4;
    else if (replaces_unmappable(options))
      return put(vrio_replacement_character, out, options);
    else
      return VRIO_E_ENCODING_UNMAPPABLE;
    for (size_t i = n - 1; i > 0; --i) {
      out[i] = static_cast<unsigned char>(0x80 | (code & 0x3F));
      code >>= 6;
    }
    out[0] = static_cast<unsigned char>(n == 1 ? code : (utf8_first_byte_mark[n] | code));
    return static_cast<vrio_t_error_code>(n);
  }
};

/* UTF-16 and UTF-32 in either byte order. */

template <bool big_endian>
static uint32_t get16(const unsigned char *p)
{
  return big_endian ? (uint32_t{p[0]} << 8 | p[1]) : (uint32_t{p[1]} << 8 | p[0]);
}

template <bool big_endian>
static void put16(unsigned char *p, uint32_t unit)
{
  p[big_endian ? 0 : 1] = static_cast<unsigned char>(unit >> 8);
  p[big_endian ? 1 : 0] = static_cast<unsigned char>(unit);
}

template <bool big_endian>
static uint32_t get32(const unsigned char *p)
{
  return big_endian ? (uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3])
                    : (uint32_t{p[3]} << 24 | uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0]);
}

template <bool big_endian>
static void put32(unsigned char *p, uint32_t value)
{
  for (int i = 0; i < 4; ++i)
    p[big_endian ? 3 - i : i] = static_cast<unsigned char>(value >> (8 * i));
}

template <bool big_endian>
struct utf16_decoder {
  vrio_t_error_code next(const unsigned char *p, size_t n, vrio_t_bits options, uint32_t *code,
                         size_t *len) const
  {
    if (n < 2)
      return VRIO_E_NOT_ENOUGH_DATA;
    uint32_t unit = get16<big_endian>(p);
    if (!is_surrogate(unit)) {
      *code = unit;
      *len = 2;
      return VRIO_S_NOERR;
    }
    if (unit <= 0xDBFF) {
      if (n < 4 && !(options & VRIO_CODER_END_OF_INPUT))
        return VRIO_E_NOT_ENOUGH_DATA;
      uint32_t low = n >= 4 ? get16<big_endian>(p + 2) : 0;
      if (low >= 0xDC00 && low <= 0xDFFF) {
        *code = ((unit & 0x3FF) << 10) + (low & 0x3FF) + 0x10000;
        *len = 4;
        return VRIO_S_NOERR;
      }
    }
    if (!replaces_invalid(options))
      return VRIO_E_ENCODING_INVALID;
    *code = vrio_replacement_character; /* the unpaired unit alone */
    *len = 2;
    return VRIO_S_NOERR;
  }
};

template <bool big_endian>
struct utf16_encoder {
  static constexpr bool any_eol_plain_lf = true;
  vrio_t_error_code put(uint32_t code, unsigned char *out, vrio_t_bits options) const
  {
    if (code <= 0xFFFF && !is_surrogate(code)) {
      put16<big_endian>(out, code);
      return static_cast<vrio_t_error_code>(2);
    }
    if (code >= 0x10000 && code <= 0x10FFFF) {
      put16<big_endian>(out, 0xD800 + ((code - 0x10000) >> 10));
      put16<big_endian>(out + 2, 0xDC00 + (code & 0x3FF));
      return static_cast<vrio_t_error_code>(4);
    }
    if (!replaces_unmappable(options))
      return VRIO_E_ENCODING_UNMAPPABLE;
    put16<big_endian>(out, vrio_replacement_character);
    return static_cast<vrio_t_error_code>(2);
  }
};

template <bool big_endian>
struct utf32_decoder {
  vrio_t_error_code next(const unsigned char *p, size_t n, vrio_t_bits options, uint32_t *code,
                         size_t *len) const
  {
    if (n < 4)
      return VRIO_E_NOT_ENOUGH_DATA;
    uint32_t value = get32<big_endian>(p);
    *len = 4;
    vrio_t_error_code rc = VRIO_S_NOERR;
    if (value & 0x80000000u)
      rc = VRIO_E_ENCODING_INVALID;
    else if (value > 0x10FFFF || is_surrogate(value))
      rc = VRIO_E_ENCODING_UNMAPPABLE;
    if (rc >= 0) {
      *code = value;
      return rc;
    }
    if (options & VRIO_CODER_NEVER_REPLACE)
      return rc;
    bool replaced = (options & VRIO_CODER_REPLACE) &&
                    (rc == VRIO_E_ENCODING_UNMAPPABLE || (options & VRIO_CODER_REPLACE_INVALID));
    if (!replaced)
      return rc;
    *code = vrio_replacement_character;
    return VRIO_S_NOERR;
  }
};

template <bool big_endian>
struct utf32_encoder {
  static constexpr bool any_eol_plain_lf = true;
  vrio_t_error_code put(uint32_t code, unsigned char *out, vrio_t_bits options) const
  {
    if (code > 0x10FFFF || is_surrogate(code)) {
      if (!replaces_unmappable(options))
        return VRIO_E_ENCODING_UNMAPPABLE;
      code = vrio_replacement_character;
    }
    put32<big_endian>(out, code);
    return static_cast<vrio_t_error_code>(4);
  }
};

/* The operations of the five kinds. */

template <class Decoder, class Encoder>
static vrio_t_error_code convert(vrio_t_coder *coder, vrio_t_buf *from, size_t *from_offset,
                                 vrio_t_buf *to, vrio_t_bits options)
{
  auto *c = reinterpret_cast<vrio_coder_instance *>(coder);
  if (coder->flags & VRIO_CODER_DECODING)
    return vrio_coder_decode_items(Decoder{}, c, from, from_offset, to, options);
  return vrio_coder_encode_items(Encoder{}, c, from, from_offset, to, options);
}

static vrio_t_error_code unicode_translate_offset(vrio_t_coder *, vrio_t_offset, vrio_t_offset *)
{
  return VRIO_E_NOT_SUPPORTED;
}

static vrio_t_error_code utf8_seek(vrio_t_coder *, vrio_t_offset, vrio_t_bits)
{
  return VRIO_E_NOT_SUPPORTED;
}

/* A UTF-16 or UTF-32 decoder can only be told that it is at the start. */
static vrio_t_error_code wide_seek(vrio_t_coder *coder, vrio_t_offset offset, vrio_t_bits)
{
  if (!(coder->flags & VRIO_CODER_DECODING))
    return VRIO_E_NOT_SUPPORTED;
  if (offset % 4 != 0)
    return VRIO_E_GRANULARITY_ERROR;
  return offset > 0 ? VRIO_E_PARAMETER_ERROR : VRIO_S_NOERR;
}

static vrio_t_error_code unicode_open(vrio_t_coder_funcs *funcs, vrio_t_coder **pcoder,
                                      vrio_t_arglist, vrio_t_bits options)
{
  if (options & VRIO_CODER_OPEN_SEEKABLE)
    return VRIO_E_NOT_IMPLEMENTED;
  vrio_t_bits flags = vrio_coder_open_flags(options);
  if (options & VRIO_CODER_OPEN_BOM) {
    bool is_utf8 = funcs->seek == utf8_seek;
    if (options & VRIO_CODER_OPEN_DECODE)
      flags |= VRIO_CODER_DROP_BOM;
    else if (!(is_utf8 && (options & VRIO_CODER_OPEN_NO_UTF8_BOM)))
      flags |= VRIO_CODER_WRITE_BOM;
  }
  return vrio_coder_instance_new(funcs, flags, -2, pcoder);
}

static const char *const utf16_aliases[] = {"UTF-16", nullptr};
static const char *const utf32_aliases[] = {"UTF-32", nullptr};
static const char *const no_aliases[] = {nullptr};

#define VRIO_UNICODE_KIND_(name, aliases, decoder, encoder, seek)                                 \
  {sizeof(vrio_t_coder_funcs), name, aliases, 0, 0, vrio_coder_instance_free, convert<decoder, encoder>,     \
   vrio_coder_nothing, vrio_coder_nothing, unicode_translate_offset, seek, vrio_coder_default_addref, \
   vrio_coder_default_release, vrio_coder_default_destroy, unicode_open}

static vrio_t_coder_funcs utf8_funcs =
    VRIO_UNICODE_KIND_("UTF-8", nullptr, utf8_decoder, utf8_encoder, utf8_seek);
static vrio_t_coder_funcs utf16_funcs_be = VRIO_UNICODE_KIND_(
    "UTF-16BE", utf16_aliases, utf16_decoder<true>, utf16_encoder<true>, wide_seek);
static vrio_t_coder_funcs utf16_funcs_le = VRIO_UNICODE_KIND_(
    "UTF-16LE", no_aliases, utf16_decoder<false>, utf16_encoder<false>, wide_seek);
static vrio_t_coder_funcs utf32_funcs_be = VRIO_UNICODE_KIND_(
    "UTF-32BE", utf32_aliases, utf32_decoder<true>, utf32_encoder<true>, wide_seek);
static vrio_t_coder_funcs utf32_funcs_le = VRIO_UNICODE_KIND_(
    "UTF-32LE", no_aliases, utf32_decoder<false>, utf32_encoder<false>, wide_seek);
#undef VRIO_UNICODE_KIND_

/* Both byte orders, big-endian first (removed in the reverse order). */
static vrio_t_error_code register_pair(vrio_t_coder_funcs *be, vrio_t_coder_funcs *le,
                                       vrio_t_bits options)
{
  vrio_t_coder_funcs *order[2] = {be, le};
  if (options & 1)
    std::swap(order[0], order[1]);
  for (vrio_t_coder_funcs *f : order) {
    vrio_t_error_code rc = vrio_coder_register_builtin(f, options & 1);
    if (rc < 0)
      return rc;
  }
  return VRIO_S_NOERR;
}

extern "C" vrio_t_error_code vrio_init_char_coder_utf8(vrio_t_bits options)
{
  return vrio_coder_register_builtin(&utf8_funcs, options & 1);
}

extern "C" vrio_t_error_code vrio_init_char_coder_utf16(vrio_t_bits options)
{
  return register_pair(&utf16_funcs_be, &utf16_funcs_le, options);
}

extern "C" vrio_t_error_code vrio_init_char_coder_utf32(vrio_t_bits options)
{
  return register_pair(&utf32_funcs_be, &utf32_funcs_le, options);
}
