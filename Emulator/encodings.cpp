/* encodings.cpp: the built-in coders, encoding handles and states, and the
 * stream and whole-buffer conversions over them.
 *
 * A coder step converts whole characters from the source into the room
 * left in the destination.  Decoding keeps the bytes of a character cut by
 * the end of the source in the state and finishes it on the next call, so
 * a caller may split its input anywhere.  A step answers 0 after some
 * progress (or with nothing to do on a non-final source),
 * VRIO_E_INSUFFICIENT_BUFFER when the next item does not fit and nothing
 * moved, VRIO_E_END_OF_FILE when a final source is exhausted before the
 * step, and VRIO_E_ENCODING_INVALID / _UNMAPPABLE for bad data.
 *
 * UTF-8 is decoded strictly (no overlong forms, surrogates or codes above
 * U+10FFFF), since the result goes on to become internal text; encoding
 * refuses the same codes.  Callers: foreign code through the interface,
 * os_text.cpp and the tests.
 */
#include "encodings.h"

#include <langinfo.h>

#include <cstdint>
#include <cstring>

#include "config.h"
#include "memman.h"
#include "vostrel/vrio_errors.h"

struct vr_coder_kind {
  const char *name;
  const char *const *aliases;
  unsigned features;   /* 1: the coder can seek (single-byte coders) */
  unsigned max_code;   /* highest code the character set has */
  int refs;
};

struct vr_coder_state {
  const vr_coder_kind *kind;
  bool decode;
  unsigned char pending[4]; /* bytes of a character cut by the source's end */
  unsigned npending;
};

namespace {

constexpr unsigned OPT_SYSTEM = 1, OPT_OPTION_VARS = 2, OPT_STDIO_VARS = 4, OPT_SEEKABLE = 8;

const char *const utf8_aliases[] = {"UTF8", nullptr};
const char *const latin1_aliases[] = {"latin1", "L1", "ISO8859-1", "ISO_8859-1", nullptr};
const char *const ascii_aliases[] = {"ASCII", "ANSI_X3.4-1968", "646", nullptr};

vr_coder_kind utf8_coder = {"UTF-8", utf8_aliases, 0, 0x10FFFF, 0};
vr_coder_kind latin1_coder = {"ISO-8859-1", latin1_aliases, 1, 0xFF, 0};
vr_coder_kind ascii_coder = {"US-ASCII", ascii_aliases, 1, 0x7F, 0};
vr_coder_kind *const coders[] = {&utf8_coder, &latin1_coder, &ascii_coder};

const char *const option_locale_vars[] = {"VR_CTYPE", "LC_ALL", "LC_CTYPE", "LANG", "", nullptr};
const char *const stdio_locale_vars[] = {"VR_CTYPE_STDIO", "VR_CTYPE", "", nullptr};

/* Loose name match: letter case, '-' and '_' do not count. */
bool same_charset_name(const char *a, const char *b)
{
  auto next = [](const char *&s) {
    while (*s == '-' || *s == '_')
      ++s;
    char c = *s;
    if (c)
      ++s;
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  };
  for (;;) {
    char x = next(a), y = next(b);
    if (x != y)
      return false;
    if (x == 0)
      return true;
  }
}

vr_coder_kind *find_coder(const char *name)
{
  for (vr_coder_kind *k : coders) {
    if (same_charset_name(name, k->name))
      return k;
    for (const char *const *a = k->aliases; *a; ++a)
      if (same_charset_name(name, *a))
        return k;
  }
  return nullptr;
}

/* The character-set name from a list of setting names, as the stream
   layer reads them: the part after the last '.' of the first value found
   (a value starting with '/' ends the search unsuccessfully); the empty
   name stands for the locale's code set when it is the last of the list.
   The result is copied into out (at least CONFIG_VALUE_MAX + 1 bytes). */
bool charset_name_from(const char *const *vars, char *out)
{
  char buf[CONFIG_VALUE_MAX + 1];
  for (const char *const *v = vars; *v; ++v) {
    if (**v == '\0') {
      if (v[1] != nullptr)
        continue;
      const char *cs = nl_langinfo(CODESET);
      if (cs == nullptr || *cs == '\0' || std::strlen(cs) > CONFIG_VALUE_MAX)
        return false;
      std::strcpy(out, cs);
      return true;
    }
    const char *value = config_lookup(*v, buf);
    if (value == nullptr || *value == '\0')
      continue;
    if (*value == '/')
      return false;
    const char *dot = std::strrchr(value, '.');
    const char *cs = dot ? dot + 1 : value;
    /* A locale's modifier ("@euro") is not part of the character set. */
    std::size_t len = std::strcspn(cs, "@");
    std::memcpy(out, cs, len);
    out[len] = '\0';
    return true;
  }
  return false;
}

int decode_step(vr_coder_state *st, const unsigned char *src, std::size_t src_size, std::size_t *src_off,
                std::uint32_t *dst, std::size_t dst_items, std::size_t *dst_n, bool final)
{
  const vr_coder_kind *k = st->kind;
  std::size_t i = *src_off, n = *dst_n;
  bool moved = false;
  if (i == src_size && st->npending == 0)
    return final ? VRIO_E_END_OF_FILE : 0;
  while (i < src_size || st->npending != 0) {
    std::uint32_t code;
    std::size_t used;    /* source bytes this character takes from src */
    if (k != &utf8_coder) {
      if (i == src_size)
        break;
      code = src[i];
      if (code > k->max_code)
        return VRIO_E_ENCODING_INVALID;
      used = 1;
    } else {
      unsigned char b[4];
      unsigned have = st->npending;
      std::memcpy(b, st->pending, have);
      unsigned need = 1;
      unsigned lead = have ? b[0] : src[i];
      if (lead < 0x80) need = 1;
      else if (lead >= 0xC2 && lead <= 0xDF) need = 2;
      else if (lead >= 0xE0 && lead <= 0xEF) need = 3;
      else if (lead >= 0xF0 && lead <= 0xF4) need = 4;
      else return VRIO_E_ENCODING_INVALID;
      std::size_t avail = src_size - i;
      std::size_t take = need - have <= avail ? need - have : avail;
      std::memcpy(b + have, src + i, take);
      for (unsigned j = 1; j < have + take; ++j)
        if ((b[j] & 0xC0) != 0x80)
          return VRIO_E_ENCODING_INVALID;
      if (have + take < need) {
        if (final)
          return VRIO_E_ENCODING_INVALID;
        std::memcpy(st->pending, b, have + take);
        st->npending = static_cast<unsigned>(have + take);
        i += take;
        moved = true;
        break;
      }
      if (need == 1) {
        code = b[0];
      } else {
        code = b[0] & (0x7Fu >> need);
        for (unsigned j = 1; j < need; ++j)
          code = (code << 6) | (b[j] & 0x3F);
        static const std::uint32_t least[5] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < least[need] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
          return VRIO_E_ENCODING_INVALID;
      }
      if (n == dst_items)
        break;
      st->npending = 0;
      used = take;
    }
    if (n == dst_items)
      break;
    dst[n++] = code;
    i += used;
    moved = true;
  }
  *src_off = i;
  *dst_n = n;
  if (!moved && (i < src_size || st->npending != 0))
    return VRIO_E_INSUFFICIENT_BUFFER;
  return 0;
}

int encode_step(vr_coder_state *st, const std::uint32_t *src, std::size_t src_items, std::size_t *src_off,
                unsigned char *dst, std::size_t dst_size, std::size_t *dst_n, bool final)
{
  const vr_coder_kind *k = st->kind;
  std::size_t i = *src_off, n = *dst_n;
  if (i == src_items)
    return final ? VRIO_E_END_OF_FILE : 0;
  bool moved = false;
  for (; i < src_items; ++i) {
    std::uint32_t c = src[i];
    if (c > k->max_code || (c >= 0xD800 && c <= 0xDFFF))
      return VRIO_E_ENCODING_UNMAPPABLE;
    unsigned char out[4];
    unsigned len;
    if (k != &utf8_coder || c < 0x80) {
      out[0] = static_cast<unsigned char>(c), len = 1;
    } else if (c < 0x800) {
      out[0] = static_cast<unsigned char>(0xC0 | (c >> 6));
      out[1] = static_cast<unsigned char>(0x80 | (c & 0x3F)), len = 2;
    } else if (c < 0x10000) {
      out[0] = static_cast<unsigned char>(0xE0 | (c >> 12));
      out[1] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
      out[2] = static_cast<unsigned char>(0x80 | (c & 0x3F)), len = 3;
    } else {
      out[0] = static_cast<unsigned char>(0xF0 | (c >> 18));
      out[1] = static_cast<unsigned char>(0x80 | ((c >> 12) & 0x3F));
      out[2] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
      out[3] = static_cast<unsigned char>(0x80 | (c & 0x3F)), len = 4;
    }
    if (dst_size - n < len)
      break;
    std::memcpy(dst + n, out, len);
    n += len;
    moved = true;
  }
  *src_off = i;
  *dst_n = n;
  return moved || i == src_items ? 0 : VRIO_E_INSUFFICIENT_BUFFER;
}

void close_state(VR_encoding_state st)
{
  if (st == nullptr)
    return;
  VR_encoding_release(st->kind);
  VR_free(st);
}

/* Coder option 2 opens a decoder. */
int open_state(VR_encoding encoding, VR_encoding_state *pstate, unsigned coder_options)
{
  if (encoding == nullptr)
    return VRIO_E_PARAMETER_ERROR;
  auto *st = static_cast<vr_coder_state *>(VR_malloc(sizeof(vr_coder_state)));
  if (st == nullptr)
    return VRIO_E_OUT_OF_MEMORY;
  st->kind = encoding;
  st->decode = (coder_options & 2) != 0;
  st->npending = 0;
  ++const_cast<vr_coder_kind *>(encoding)->refs;
  *pstate = st;
  return 0;
}

int encode_codes_allocate(VR_encoding encoding, const void *src, std::size_t src_size, void **pdst,
                          std::size_t *pdst_size, bool to_codes)
{
  if (encoding == nullptr || (src == nullptr && src_size != 0) || pdst == nullptr || pdst_size == nullptr)
    return VRIO_E_PARAMETER_ERROR;
  const std::size_t src_item = to_codes ? 1 : 4, dst_item = to_codes ? 4 : 1;
  std::size_t items = src_size / src_item;
  std::size_t room = (items ? items : 1) * dst_item;
  auto *buf = static_cast<unsigned char *>(VR_malloc(room));
  if (buf == nullptr)
    return VRIO_E_OUT_OF_MEMORY;
  VR_encoding_state state = nullptr;
  std::size_t read = 0, wrote = 0;
  unsigned options = 3;
  int rc = 0;
  for (;;) {
    std::size_t r = 0, w = 0;
    rc = vr_encode_codes(encoding, static_cast<const unsigned char *>(src) + read, src_size - read, &state,
                         buf + wrote, room - wrote, &r, &w, options, to_codes);
    bool grow = false;
    if (rc == VRIO_E_INSUFFICIENT_BUFFER) {
      grow = true;
    } else if (rc < 0) {
      break;
    } else {
      options = 2;
      read += r;
      wrote += w;
      if (r == 0 && w == 0)
        break;
      if (r == 0)
        grow = true;
    }
    if (grow) {
      auto *bigger = static_cast<unsigned char *>(VR_realloc(buf, room * 2));
      if (bigger == nullptr) {
        rc = VRIO_E_OUT_OF_MEMORY;
        break;
      }
      buf = bigger;
      room *= 2;
    }
  }
  if (state != nullptr)
    vr_encode_codes(encoding, nullptr, 0, &state, nullptr, 0, nullptr, nullptr, 4, to_codes);
  if (rc < 0) {
    VR_free(buf);
    return rc;
  }
  *pdst = buf;
  *pdst_size = wrote;
  return 0;
}

} // namespace

int VR_get_encoding(const char *name, VR_encoding *pencoding, unsigned options)
{
  if (pencoding == nullptr)
    return VRIO_E_PARAMETER_ERROR;
  if (options & OPT_SYSTEM)
    return get_system_encoding(name, pencoding, options & ~OPT_SYSTEM);
  if (name == nullptr)
    return VRIO_E_PARAMETER_ERROR;
  vr_coder_kind *k = find_coder(name);
  if (k == nullptr)
    return VRIO_E_CHARSET_NOT_FOUND;
  if ((options & OPT_SEEKABLE) && !(k->features & 1))
    return VRIO_E_SEEK_ERROR;
  ++k->refs;
  *pencoding = k;
  return 0;
}

int get_system_encoding(const char *name, VR_encoding *pencoding, unsigned options)
{
  const char *one[2] = {name ? name : "", nullptr};
  const char *const *vars = one;
  if (options & (OPT_OPTION_VARS | OPT_STDIO_VARS)) {
    if (name != nullptr)
      return VRIO_E_PARAMETER_ERROR;
    vars = (options & OPT_OPTION_VARS) ? option_locale_vars : stdio_locale_vars;
  }
  char charset[CONFIG_VALUE_MAX + 1];
  if (!charset_name_from(vars, charset))
    return VRIO_E_NOT_FOUND;
  return VR_get_encoding(charset, pencoding, options & OPT_SEEKABLE);
}

void VR_encoding_release(VR_encoding encoding)
{
  if (encoding != nullptr && encoding->refs > 0)
    --const_cast<vr_coder_kind *>(encoding)->refs;
}

int VR_encoding_open(VR_encoding encoding, VR_encoding_state *pstate, void *args, unsigned options)
{
  if (pstate == nullptr)
    return VRIO_E_PARAMETER_ERROR;
  unsigned coder_options = (options & (2u | 4u | 0xFFF00000u)) | ((options & 0x10) ? 8u : 0u);
  return open_state(encoding, pstate, coder_options);
}

int vr_encode_codes(VR_encoding encoding, const void *src, std::size_t src_size, VR_encoding_state *pstate,
                    void *dst, std::size_t dst_size, std::size_t *psrc_size_read, std::size_t *pdst_size_wrote,
                    unsigned options, bool to_codes)
{
  if (pstate == nullptr)
    return VRIO_E_PARAMETER_ERROR;
  if (options & 4) {
    if (*pstate == nullptr)
      return 0;
    close_state(*pstate);
    *pstate = nullptr;
    return VRIO_S_DEALLOCATED;
  }
  VR_encoding_state st = *pstate;
  bool opened_here = false;
  if (options & 1) {
    int rc = open_state(encoding, &st, to_codes ? 2 : 0);
    if (rc < 0) {
      *pstate = nullptr;
      return rc;
    }
    opened_here = true;
  }
  if (st == nullptr || st->decode != to_codes || (src == nullptr && src_size != 0) ||
      (dst == nullptr && dst_size != 0)) {
    if (opened_here) {
      close_state(st);
      *pstate = nullptr;
    }
    return VRIO_E_PARAMETER_ERROR;
  }
  bool final = (options & 2) != 0;
  std::size_t src_off = 0, dst_n = 0;
  int rc;
  if (to_codes) {
    rc = decode_step(st, static_cast<const unsigned char *>(src), src_size, &src_off,
                     static_cast<std::uint32_t *>(dst), dst_size / 4, &dst_n, final);
    dst_n *= 4;
  } else {
    std::size_t items = 0;
    rc = encode_step(st, static_cast<const std::uint32_t *>(src), src_size / 4, &items,
                     static_cast<unsigned char *>(dst), dst_size, &dst_n, final);
    src_off = items * 4;
    /* Bytes that do not make a whole code can only be completed by more
       input; a final source that ends in them is malformed. */
    if ((rc >= 0 || rc == VRIO_E_END_OF_FILE) && final && src_off == (src_size & ~std::size_t{3}) &&
        (src_size & 3) != 0)
      rc = VRIO_E_ENCODING_INVALID;
  }
  if (rc >= 0 || (rc == VRIO_E_END_OF_FILE && final)) {
    if (psrc_size_read)
      *psrc_size_read = src_off;
    if (pdst_size_wrote)
      *pdst_size_wrote = dst_n;
    if (src_off == src_size && final && dst_n == 0 && st->npending == 0) {
      close_state(st);
      *pstate = nullptr;
      return VRIO_S_DEALLOCATED;
    }
    *pstate = st;
    return 0;
  }
  if (opened_here) {
    close_state(st);
    *pstate = nullptr;
  }
  return rc;
}

int VR_encode_to_codes(VR_encoding encoding, const void *src, std::size_t src_size, VR_encoding_state *pstate,
                       void *dst, std::size_t dst_size, std::size_t *psrc_size_read,
                       std::size_t *pdst_size_wrote, unsigned options)
{
  return vr_encode_codes(encoding, src, src_size, pstate, dst, dst_size, psrc_size_read, pdst_size_wrote,
                         options, true);
}

int VR_encode_from_codes(VR_encoding encoding, const void *src, std::size_t src_size,
                         VR_encoding_state *pstate, void *dst, std::size_t dst_size,
                         std::size_t *psrc_size_read, std::size_t *pdst_size_wrote, unsigned options)
{
  return vr_encode_codes(encoding, src, src_size, pstate, dst, dst_size, psrc_size_read, pdst_size_wrote,
                         options, false);
}

int vr_encode_to_codes_allocate(VR_encoding encoding, const void *src, std::size_t src_size, void **pdst,
                                std::size_t *pdst_size, unsigned options)
{
  return encode_codes_allocate(encoding, src, src_size, pdst, pdst_size, true);
}

int vr_encode_from_codes_allocate(VR_encoding encoding, const void *src, std::size_t src_size, void **pdst,
                                  std::size_t *pdst_size, unsigned options)
{
  return encode_codes_allocate(encoding, src, src_size, pdst, pdst_size, false);
}

int vr_encode_to_ienc(VR_encoding encoding, const char *src, char **pienc, std::size_t *pienc_size)
{
  if (encoding == nullptr || src == nullptr || pienc == nullptr)
    return VRIO_E_PARAMETER_ERROR;
  void *codes = nullptr;
  std::size_t codes_size = 0;
  int rc = vr_encode_to_codes_allocate(encoding, src, std::strlen(src) + 1, &codes, &codes_size, 0);
  if (rc < 0)
    return rc;
  const auto *c = static_cast<const std::uint32_t *>(codes);
  std::size_t n = codes_size / 4;
  bool ascii = true;
  for (std::size_t i = 0; i < n; ++i)
    ascii = ascii && c[i] < 0x80;
  if (ascii) {
    auto *out = static_cast<char *>(VR_malloc(n ? n : 1));
    if (out == nullptr) {
      VR_free(codes);
      return VRIO_E_OUT_OF_MEMORY;
    }
    for (std::size_t i = 0; i < n; ++i)
      out[i] = static_cast<char>(c[i]);
    VR_free(codes);
    *pienc = out;
    if (pienc_size)
      *pienc_size = n;
    return 0;
  }
  VR_encoding utf8 = nullptr;
  rc = VR_get_encoding("UTF-8", &utf8, 0);
  if (rc < 0) {
    VR_free(codes);
    return rc;
  }
  void *bytes = nullptr;
  std::size_t bytes_size = 0;
  rc = vr_encode_from_codes_allocate(utf8, codes, codes_size, &bytes, &bytes_size, 0);
  VR_encoding_release(utf8);
  VR_free(codes);
  if (rc < 0)
    return rc;
  *pienc = static_cast<char *>(bytes);
  if (pienc_size)
    *pienc_size = bytes_size;
  return 0;
}

const char *vr_encoding_name(VR_encoding encoding)
{
  return encoding ? encoding->name : nullptr;
}

int vr_encoding_refs(VR_encoding encoding)
{
  return encoding ? encoding->refs : 0;
}
