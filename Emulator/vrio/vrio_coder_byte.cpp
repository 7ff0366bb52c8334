/* vrio_coder_byte.cpp: the single-byte coder kinds, one table-driven
 * implementation behind five charsets.
 *
 * Decoding is a look-up in the kind's `to_utf32` table (an unassigned
 * byte stops the conversion; there is no replacement); encoding takes a
 * code from 0 to 255 that maps to itself as that byte and searches the
 * kind's short exception list otherwise.  A character is always one byte,
 * so an instance without line-end conversion can seek and translate
 * character offsets.  The tables are vrio_coder_byte_tables.inc, written
 * by tools/single_byte_tables.py.
 */
#include "vostrel/vrio.h"
#include "vostrel/vrio_coder.h"
#include "vrio_coder_driver.h"

#include "vrio_coder_byte_tables.inc"

static const vrio_t_byte_to_utf32_table *table_of(const vrio_t_coder *coder)
{
  return reinterpret_cast<const vrio_t_coder_byte_funcs *>(coder->funcs)->table;
}

struct byte_decoder {
  const vrio_t_byte_to_utf32_table *table;
  vrio_t_error_code next(const unsigned char *p, size_t n, vrio_t_bits, uint32_t *code,
                         size_t *len) const
  {
    if (n == 0)
      return VRIO_E_NOT_ENOUGH_DATA;
    int32_t value = table->to_utf32[p[0]];
    if (value < 0)
      return VRIO_E_ENCODING_INVALID;
    *code = static_cast<uint32_t>(value);
    *len = 1;
    return VRIO_S_NOERR;
  }
};

struct byte_encoder {
  static constexpr bool any_eol_plain_lf = false;
  const vrio_t_byte_to_utf32_table *table;
  vrio_t_error_code put(uint32_t code, unsigned char *out, vrio_t_bits options) const
  {
    if (code < 256 && table->to_utf32[code] == static_cast<int32_t>(code)) {
      out[0] = static_cast<unsigned char>(code);
      return static_cast<vrio_t_error_code>(1);
    }
    for (int32_t i = 0; i < table->exceptions_length; ++i)
      if (table->back_exceptions[i].utf32 == static_cast<int32_t>(code)) {
        out[0] = table->back_exceptions[i].byte;
        return static_cast<vrio_t_error_code>(1);
      }
    if (!(options & VRIO_CODER_REPLACE))
      return VRIO_E_ENCODING_UNMAPPABLE;
    out[0] = table->replacement_char;
    return static_cast<vrio_t_error_code>(1);
  }
};

static vrio_t_error_code byte_encode(vrio_t_coder *coder, vrio_t_buf *from, size_t *from_offset,
                                     vrio_t_buf *to, vrio_t_bits options)
{
  auto *c = reinterpret_cast<vrio_coder_instance *>(coder);
  if (coder->flags & VRIO_CODER_DECODING)
    return vrio_coder_decode_items(byte_decoder{table_of(coder)}, c, from, from_offset, to,
                                   options);
  return vrio_coder_encode_items(byte_encoder{table_of(coder)}, c, from, from_offset, to,
                                 options);
}

/* Offsets are 4 x characters; line-end conversion makes them unknowable. */
static vrio_t_error_code check_offset(const vrio_t_coder *coder, vrio_t_offset char_offset)
{
  if (coder->flags & (VRIO_CODER_CRLF | VRIO_CODER_ANY_EOL))
    return VRIO_E_NOT_SUPPORTED;
  return char_offset % 4 != 0 ? VRIO_E_GRANULARITY_ERROR : VRIO_S_NOERR;
}

static vrio_t_error_code byte_seek(vrio_t_coder *coder, vrio_t_offset char_offset, vrio_t_bits)
{
  vrio_t_error_code rc = check_offset(coder, char_offset);
  if (rc < 0)
    return rc;
  reinterpret_cast<vrio_coder_instance *>(coder)->last_char = -1;
  return VRIO_S_NOERR;
}

static vrio_t_error_code byte_translate_offset(vrio_t_coder *coder, vrio_t_offset char_offset,
                                               vrio_t_offset *byte_offset)
{
  vrio_t_error_code rc = check_offset(coder, char_offset);
  if (rc < 0)
    return rc;
  *byte_offset = char_offset / 4;
  return VRIO_S_NOERR;
}

static vrio_t_error_code byte_open(vrio_t_coder_funcs *funcs, vrio_t_coder **pcoder,
                                   vrio_t_arglist, vrio_t_bits options)
{
  if ((options & VRIO_CODER_OPEN_SEEKABLE) &&
      (options & (VRIO_CODER_OPEN_CRLF | VRIO_CODER_OPEN_ANY_EOL)))
    return VRIO_E_NOT_SUPPORTED;
  /* No byte-order mark exists in these charsets: option 0x10 is ignored. */
  vrio_t_bits flags = vrio_coder_open_flags(options);
  if (options & VRIO_CODER_OPEN_SEEKABLE)
    flags |= VRIO_CODER_CAN_SEEK;
  return vrio_coder_instance_new(funcs, flags, -1, pcoder);
}

static const char *const ascii_aliases[] = {
    "iso-ir-6", "ANSI_X3.4-1986", "ISO_646.irv:1991", "ASCII", "ISO646-US", "US-ASCII",
    "us",       "IBM367",         "cp367",            "csASCII", "646",     nullptr};
static const char *const latin1_aliases[] = {"ISO_8859-1:1987", "iso-ir-100", "latin1", "l1",
                                             "IBM819", "CP819", "csISOLatin1", nullptr};
static const char *const latin2_aliases[] = {"ISO_8859-2:1987", "iso-ir-101", "latin2", "l2",
                                             "csISOLatin2", nullptr};
static const char *const latin9_aliases[] = {"Latin-9", nullptr};
static const char *const windows1252_aliases[] = {nullptr};

#define VRIO_BYTE_KIND_(name, aliases, table)                                                   \
  {{sizeof(vrio_t_coder_funcs), name, aliases, 1, 0, vrio_coder_instance_free, byte_encode, vrio_coder_nothing,      \
    vrio_coder_nothing, byte_translate_offset, byte_seek, vrio_coder_default_addref,                  \
    vrio_coder_default_release, vrio_coder_default_destroy, byte_open},                         \
   &table}

static vrio_t_coder_byte_funcs ascii_funcs =
    VRIO_BYTE_KIND_("ANSI_X3.4-1968", ascii_aliases, ascii_table);
static vrio_t_coder_byte_funcs latin1_funcs =
    VRIO_BYTE_KIND_("ISO-8859-1", latin1_aliases, latin1_table);
static vrio_t_coder_byte_funcs latin2_funcs =
    VRIO_BYTE_KIND_("ISO-8859-2", latin2_aliases, latin2_table);
static vrio_t_coder_byte_funcs latin9_funcs =
    VRIO_BYTE_KIND_("ISO-8859-15", latin9_aliases, latin9_table);
static vrio_t_coder_byte_funcs windows1252_funcs =
    VRIO_BYTE_KIND_("windows-1252", windows1252_aliases, windows1252_table);
#undef VRIO_BYTE_KIND_

extern "C" vrio_t_error_code vrio_init_char_coder_byte(vrio_t_bits options)
{
  vrio_t_coder_byte_funcs *const kinds[] = {&ascii_funcs, &latin1_funcs, &latin2_funcs,
                                            &latin9_funcs, &windows1252_funcs};
  for (vrio_t_coder_byte_funcs *k : kinds) {
    vrio_t_error_code rc = vrio_coder_register_builtin(&k->funcs, options & 1);
    if (rc < 0)
      return rc;
  }
  return VRIO_S_NOERR;
}
