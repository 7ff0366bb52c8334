/* stream_open.cpp: where streams come from: files opened by name,
 * operating-system handles, devices made of foreign callbacks, and the
 * three standard streams at start-up.
 *
 * Opening builds a layer stack of the I/O library (the "async" file layer,
 * a read-only device over an embedded resource for a URL name
 * (url_objects.cpp), or a layer over a handle, then for text streams a "char-coder" layer
 * with a read or write coder carrying the end-of-line mode and the
 * byte-order-mark handling) and wraps it with VR_create_vrio_stream; what
 * the coder layer found is recorded in the stream's flags.  Every failure
 * leaves nothing open behind it.
 *
 * Files are opened by their expanded name (file_names.cpp), relative to
 * the runtime's current directory.  A directory is never opened as a
 * file: reading one would fail at the first read with an error that says
 * nothing of the cause, so the open is refused as access is refused.
 * Engine thread only.
 */
#include <cstdio>
#include <cstring>
#include <ctime>
#include <unistd.h>

#include "atoms.h"
#include "datadefs.h"
#include "errors.h"
#include "file_names.h"
#include "initial_atoms.h"
#include "memman.h"
#include "streams.h"
#include "terms.h"
#include "unify.h"
#include "url_objects.h"
#include "worker.h"

namespace {

/* Push options of vrio_push_encoding. */
constexpr unsigned PUSH_READ = 0x1, PUSH_WRITE = 0x2, PUSH_BOM = 0x4, PUSH_BOM_IF_CALLED = 0x8;
constexpr unsigned PUSH_READ_LF = 0x10, PUSH_READ_CRLF = 0x40, PUSH_READ_AUTO = 0x100;
constexpr unsigned PUSH_WRITE_LF = 0x20, PUSH_WRITE_CRLF = 0x80, PUSH_WRITE_AUTO = 0x200;
constexpr unsigned PUSH_REPOSITIONABLE = 0x400;
constexpr vrio_t_error_code BOM_FOUND = static_cast<vrio_t_error_code>(30001);

/* Encoding facts (what opening found), and the stream flags they become. */
constexpr unsigned FACT_BOM = 0x1, FACT_IN_CRLF = 0x8, FACT_OUT_CRLF = 0x10, FACT_IN_AUTO = 0x20,
                   FACT_OUT_AUTO = 0x40;

constexpr int EOL_LF = 30001, EOL_CRLF = 30002, EOL_AUTO = 30003;

/* The byte-order marks a read side recognises, longest first where one
   is a prefix of another. */
struct bom_kind {
  unsigned char bytes[4];
  std::size_t length;
  const char *charset;
};
constexpr bom_kind boms[] = {
    {{0x00, 0x00, 0xFE, 0xFF}, 4, "UTF-32BE"}, {{0xFF, 0xFE, 0x00, 0x00}, 4, "UTF-32LE"},
    {{0xEF, 0xBB, 0xBF, 0}, 3, "UTF-8"},       {{0xFE, 0xFF, 0, 0}, 2, "UTF-16BE"},
    {{0xFF, 0xFE, 0, 0}, 2, "UTF-16LE"},
};

/* Looks at the first bytes of a stream that can give them back and
   names the coder of a byte-order mark found there (referenced), or null.
   The bytes read are given back to the stream. */
vrio_t_error_code peek_bom(VRIO *s, vrio_t_coder_funcs **pfuncs)
{
  *pfuncs = nullptr;
  if (*s == nullptr || !((*s)->flags & (VRIO_LAYER_CAN_REREAD | VRIO_LAYER_CAN_REREAD_OTHER)))
    return VRIO_S_NOERR;
  vrio_t_buf *buf = vrio_buf_alloc(nullptr, 0, 0);
  if (buf == nullptr)
    return VRIO_E_OUT_OF_MEMORY;
  vrio_t_error_code rc = VRIO_S_NOERR;
  while (buf->extent < 4) {
    const std::size_t before = buf->extent;
    rc = vrio_read(s, &buf, VRIO_READ_BYTES);
    if (rc < 0 || buf->extent == before)
      break;
  }
  if (rc == VRIO_E_END_OF_FILE)
    rc = VRIO_S_NOERR;
  if (rc >= 0) {
    for (const bom_kind &b : boms) {
      if (buf->extent >= b.length && std::memcmp(buf->buf, b.bytes, b.length) == 0) {
        rc = vrio_char_coder_find(pfuncs, b.charset, nullptr, 0);
        break;
      }
    }
  }
  if (buf->extent != 0) {
    vrio_t_error_code back = vrio_seek(s, -static_cast<vrio_t_offset>(buf->extent), nullptr, buf,
                                       VRIO_SEEK_RELATIVE_BUFFERED | VRIO_SEEK_READ);
    if (back < 0) {
      if (*pfuncs != nullptr)
        vrio_coder_funcs_release(*pfuncs);
      *pfuncs = nullptr;
      rc = back;
    }
  }
  vrio_buf_free(buf);
  return rc;
}

vrio_t_property arg_pointer(const char *key, void *p)
{
  vrio_t_property a{key, {}};
  a.v.flags = VRIO_VARIANT_POINTER;
  a.v.u.p = p;
  return a;
}

vrio_t_property arg_string(const char *key, const char *s)
{
  vrio_t_property a{key, {}};
  a.v.flags = VRIO_VARIANT_STRING;
  a.v.u.string = const_cast<char *>(s);
  return a;
}

vrio_t_property arg_end()
{
  vrio_t_property a{nullptr, {}};
  a.v.flags = VRIO_VARIANT_END;
  return a;
}

bool text_equal(const char *a, const char *b) { return std::strcmp(a, b) == 0; }

/* Encoding(Charset, Bom, Eol) as three texts: "default" for each when
   the term is absent or []. */
vrio_t_error_code encoding_parts(TAGGED enc, const char **charset, const char **bom, const char **eol)
{
  *charset = *bom = *eol = "default";
  if (enc == 0)
    return VRIO_S_NOERR;
  enc = deref(enc);
  if (enc == atom_nil)
    return VRIO_S_NOERR;
  const TAGGED encoding3 = MakeFunctor(init_atom_check("encoding", 0), 3);
  if (!IsStructure(enc) || TagToSTR(enc)[0] != encoding3)
    return VRIO_E_PARAMETER_ERROR;
  const char **parts[3] = {charset, bom, eol};
  for (int i = 0; i < 3; i++) {
    const TAGGED a = deref(TagToSTR(enc)[i + 1]);
    if (!IsAtom(a))
      return VRIO_E_INTERNAL_ERROR;
    *parts[i] = atom_name(a);
  }
  return VRIO_S_NOERR;
}

/* Read and write push options for an end-of-line name; 0 when unknown. */
unsigned read_eol_option(const char *eol, const char *dflt)
{
  switch (eol_type(eol, dflt)) {
  case EOL_LF: return PUSH_READ_LF;
  case EOL_CRLF: return PUSH_READ_CRLF;
  case EOL_AUTO: return PUSH_READ_AUTO;
  default: return 0;
  }
}

unsigned write_eol_option(const char *eol, const char *dflt)
{
  switch (eol_type(eol, dflt)) {
  case EOL_LF: return PUSH_WRITE_LF;
  case EOL_CRLF: return PUSH_WRITE_CRLF;
  case EOL_AUTO: return PUSH_WRITE_AUTO;
  default: return 0;
  }
}

/* The encoding facts of a push: its end-of-line modes and whether a
   byte-order mark was found. */
unsigned push_facts(unsigned push, vrio_t_error_code pushed)
{
  unsigned info = 0;
  if (push & PUSH_READ) {
    if (pushed == BOM_FOUND)
      info |= FACT_BOM;
    if (push & PUSH_READ_CRLF)
      info |= FACT_IN_CRLF;
    if (push & PUSH_READ_AUTO)
      info |= FACT_IN_AUTO;
  }
  if (push & PUSH_WRITE) {
    if (push & PUSH_WRITE_CRLF)
      info |= FACT_OUT_CRLF;
    if (push & PUSH_WRITE_AUTO)
      info |= FACT_OUT_AUTO;
  }
  return info;
}

} // namespace

int eol_type(const char *name, const char *default_name)
{
  if (text_equal(name, "default"))
    name = default_name;
  if (text_equal(name, "os"))
    name = "lf";
  if (text_equal(name, "lf"))
    return EOL_LF;
  if (text_equal(name, "crlf"))
    return EOL_CRLF;
  if (text_equal(name, "auto"))
    return EOL_AUTO;
  return VRIO_E_PARAMETER_ERROR;
}

vrio_t_error_code validate_vrio_push_encoding_options(unsigned options)
{
  if ((options & PUSH_REPOSITIONABLE) &&
      (((options & PUSH_READ) && (options & PUSH_BOM)) ||
       ((options & PUSH_WRITE) && (options & (PUSH_BOM | PUSH_BOM_IF_CALLED)))))
    return VRIO_E_NOT_SUPPORTED;
  return VRIO_S_NOERR;
}

vrio_t_error_code vrio_push_encoding(VRIO *layer, vrio_t_coder_funcs *read_coder_funcs,
                                     vrio_t_coder_funcs *write_coder_funcs, unsigned options)
{
  vrio_t_error_code rc = validate_vrio_push_encoding_options(options);
  if (rc < 0)
    return rc;
  const bool seekable = options & PUSH_REPOSITIONABLE;
  vrio_t_coder *read_coder = nullptr, *write_coder = nullptr;
  bool bom_found = false;
  if ((options & PUSH_READ) && read_coder_funcs != nullptr) {
    vrio_t_coder_funcs *funcs = read_coder_funcs;
    vrio_t_coder_funcs *detected = nullptr;
    vrio_t_bits open = VRIO_CODER_OPEN_DECODE;
    if (seekable)
      open |= VRIO_CODER_OPEN_SEEKABLE;
    if (options & PUSH_READ_CRLF)
      open |= VRIO_CODER_OPEN_CRLF;
    if (options & PUSH_READ_AUTO)
      open |= VRIO_CODER_OPEN_ANY_EOL;
    if (options & PUSH_BOM) {
      rc = peek_bom(layer, &detected);
      if (rc < 0)
        return rc;
      if (detected != nullptr) {
        funcs = detected;
        bom_found = true;
        open |= VRIO_CODER_OPEN_BOM;
      }
    }
    rc = vrio_char_coder_open(funcs, &read_coder, nullptr, open);
    if (detected != nullptr)
      vrio_coder_funcs_release(detected);
    if (rc < 0)
      return rc;
  }
  if ((options & PUSH_WRITE) && write_coder_funcs != nullptr) {
    vrio_t_bits open = 0;
    if (seekable)
      open |= VRIO_CODER_OPEN_SEEKABLE;
    if (options & PUSH_WRITE_CRLF)
      open |= VRIO_CODER_OPEN_CRLF;
    if (options & (PUSH_BOM | PUSH_BOM_IF_CALLED))
      open |= VRIO_CODER_OPEN_BOM;
    if (options & PUSH_BOM_IF_CALLED)
      open |= VRIO_CODER_OPEN_NO_UTF8_BOM;
    rc = vrio_char_coder_open(write_coder_funcs, &write_coder, nullptr, open);
    if (rc < 0) {
      vrio_char_coder_close(read_coder);
      return rc;
    }
  }
  const vrio_t_property args[] = {arg_pointer("read-char-coder vrio_t_coder", read_coder),
                                  arg_pointer("write-char-coder vrio_t_coder", write_coder),
                                  arg_end()};
  rc = vrio_push_by_name("char-coder", layer, args, seekable ? 2 : 0);
  if (rc < 0) {
    if (read_coder != nullptr)
      vrio_char_coder_close(read_coder);
    if (write_coder != nullptr)
      vrio_char_coder_close(write_coder);
    return rc;
  }
  return bom_found ? BOM_FOUND : VRIO_S_NOERR;
}

void set_stream_encoding_bits(VR_stream *s, unsigned info)
{
  if (!(s->flags & SF_TEXT))
    return;
  if (s->flags & SF_INPUT) {
    if (info & FACT_BOM)
      s->flags |= SF_BOM;
    if (info & FACT_IN_CRLF)
      s->flags |= SF_IN_CRLF;
    if (info & FACT_IN_AUTO)
      s->flags |= SF_IN_AUTO;
  }
  if (s->flags & SF_OUTPUT) {
    if (info & FACT_OUT_CRLF)
      s->flags |= SF_OUT_CRLF;
    if (info & FACT_OUT_AUTO)
      s->flags |= SF_OUT_AUTO;
  }
}

vrio_t_error_code vr_fopen_internal(const char *path, unsigned options, TAGGED encoding,
                                    VR_stream **pstream)
{
  if (options & VR_FOPEN_APPEND)
    options |= VR_FOPEN_WRITE;
  if (options & VR_FOPEN_URL)
    options |= VR_FOPEN_LITERAL;
  const bool read = options & VR_FOPEN_READ, write = options & VR_FOPEN_WRITE;
  const bool append = options & VR_FOPEN_APPEND, binary = options & VR_FOPEN_BINARY;
  const bool text = options & VR_FOPEN_TEXT, repositionable = options & VR_FOPEN_REPOSITIONABLE;
  char *expanded = nullptr;
  if (!(options & VR_FOPEN_LITERAL)) {
    expanded = vr_expand_file_name(path, nullptr, 0);
    if (expanded == nullptr)
      return VRIO_E_PARAMETER_ERROR;
    path = expanded;
  }
  TAGGED name_atom = 0;
  VRIO layer = nullptr;
  VR_stream *s = nullptr;
  vrio_t_error_code rc = VRIO_S_NOERR;
  const char *charset, *bom, *eol;
  unsigned push = 0;
  vrio_t_coder_funcs *read_funcs = nullptr, *write_funcs = nullptr;
  unsigned facts = 0;

  if ((!read && !write) || binary == text) {
    rc = VRIO_E_PARAMETER_ERROR;
    goto done;
  }
  rc = (options & VR_FOPEN_ENCODING_TERM) ? encoding_parts(encoding, &charset, &bom, &eol)
                                          : encoding_parts(0, &charset, &bom, &eol);
  if (rc < 0)
    goto done;
  name_atom = init_atom_check(path, 0);
  if (name_atom == 0) {
    rc = VRIO_E_PARAMETER_ERROR;
    goto done;
  }
  VR_register_atom(name_atom);
  if (text) {
    if (read == write) {
      rc = VRIO_E_PARAMETER_ERROR;
      goto done;
    }
    if (text_equal(charset, "default"))
      charset = "ISO-8859-1";
    vrio_t_coder_funcs **funcs = read ? &read_funcs : &write_funcs;
    rc = vrio_char_coder_find(funcs, charset, nullptr, repositionable ? 1 : 0);
    if (rc < 0)
      goto done;
    push = repositionable ? PUSH_REPOSITIONABLE : 0;
    if (read) {
      const unsigned e = read_eol_option(eol, repositionable ? "lf" : "auto");
      if (e == 0) {
        rc = VRIO_E_INTERNAL_ERROR;
        goto done;
      }
      push |= PUSH_READ | e;
      if (text_equal(bom, "true") || (text_equal(bom, "default") && !repositionable))
        push |= PUSH_BOM;
    } else {
      const unsigned e = write_eol_option(eol, repositionable ? "lf" : "os");
      if (e == 0) {
        rc = VRIO_E_INTERNAL_ERROR;
        goto done;
      }
      push |= PUSH_WRITE | e;
      if (text_equal(bom, "true"))
        push |= PUSH_BOM;
      else if (text_equal(bom, "default") && !repositionable && !append)
        push |= PUSH_BOM | PUSH_BOM_IF_CALLED;
    }
    rc = validate_vrio_push_encoding_options(push);
    if (rc < 0)
      goto done;
  }
  if (repositionable) {
    if ((options & VR_FOPEN_URL) || append || (read && write) ||
        (text && !(push & (PUSH_READ_LF | PUSH_WRITE_LF)))) {
      rc = VRIO_E_SEEK_ERROR;
      goto done;
    }
  }
  if (options & VR_FOPEN_URL) {
    const vrio_t_property args[] = {arg_string("pathname", path), arg_end()};
    rc = vrio_open_url(&layer, args, (read ? VRIO_OPEN_FILE_READ : 0) | (write ? VRIO_OPEN_FILE_WRITE : 0));
    if (rc < 0)
      goto done;
  } else {
    if (read && !write) {
      vrio_t_stat st{};
      if (vrio_stat(path, &st, VRIO_STAT_MUST_NOT_BE_DIRECTORY) == VRIO_E_FILE_IS_DIRECTORY) {
        rc = VRIO_E_PERMISSION_ERROR;
        goto done;
      }
    }
    const vrio_t_property args[] = {arg_string("pathname", path), arg_end()};
    vrio_t_bits open = (read ? VRIO_OPEN_FILE_READ : 0) | (write ? VRIO_OPEN_FILE_WRITE : 0) |
                       (append ? VRIO_OPEN_FILE_APPEND : 0) |
                       ((options & VR_FOPEN_EXCLUSIVE) ? VRIO_OPEN_FILE_EXCLUSIVE : 0);
    rc = vrio_open_by_name("async", &layer, args, open);
    if (rc < 0)
      goto done;
  }
  if (repositionable && !(layer->flags & VRIO_LAYER_CAN_REREAD)) {
    rc = VRIO_E_SEEK_ERROR;
    goto done;
  }
  if (text) {
    rc = vrio_push_encoding(&layer, read_funcs, write_funcs, push);
    if (rc < 0)
      goto done;
    facts = push_facts(push, rc);
  }
  {
    unsigned create = (read ? VR_CREATE_INPUT : 0) | (write ? VR_CREATE_OUTPUT : 0) |
                      (append ? VR_CREATE_APPEND : 0) | (binary ? VR_CREATE_BINARY : VR_CREATE_TEXT) |
                      ((options & VR_FOPEN_INTERACTIVE) ? VR_CREATE_INTERACTIVE : 0) |
                      ((options & VR_FOPEN_LINE_FLUSHED) ? VR_CREATE_LINE_FLUSHED : 0) |
                      ((options & VR_FOPEN_HIDDEN) ? VR_CREATE_HIDDEN : 0);
    rc = VR_create_vrio_stream(&layer, &s, create);
    if (rc < 0)
      goto done;
    layer = nullptr; /* the stream owns it */
    s->filename_atom = name_atom;
    name_atom = 0;
    set_stream_encoding_bits(s, facts);
    resync_stream_mode(s);
    *pstream = s;
    rc = VRIO_S_NOERR;
  }
done:
  if (read_funcs != nullptr)
    vrio_coder_funcs_release(read_funcs);
  if (write_funcs != nullptr)
    vrio_coder_funcs_release(write_funcs);
  if (layer != nullptr)
    vrio_close(&layer, VRIO_CLOSE_ABORTIVE | VRIO_CLOSE_READ | VRIO_CLOSE_WRITE);
  if (name_atom != 0)
    VR_unregister_atom(name_atom);
  if (expanded != nullptr)
    VR_free(expanded);
  return rc;
}

vrio_t_error_code VR_fopen(const char *path, TAGGED encoding, unsigned options, VR_stream **pstream)
{
  vrio_t_error_code rc = vr_fopen_internal(path, options, encoding, pstream);
  return rc > 0 ? VRIO_S_NOERR : rc;
}

/* ---- $open/5 ---- */

namespace {

/* Bits of $open/5 beyond the mode word. */
constexpr unsigned OPEN_EXCLUSIVE = 0x10000, OPEN_UNIQUE = 0x20000, OPEN_URL = 0x80000;

std::uint32_t unique_next = 1;

std::uint32_t unique_random()
{
  if (unique_next == 1)
    unique_next = static_cast<std::uint32_t>(getpid()) ^
                  static_cast<std::uint32_t>(std::time(nullptr) & 0xffff);
  unique_next = unique_next * 1103515245u + 12345u;
  return (unique_next >> 16) & 0x7fff;
}

/* The name with "<pid><random>" between the stem of its base name and
   the extension; a "." in a directory part is no extension.  Null when
   no name can be made (the caller then gives up). */
char *unique_variant(const char *name)
{
  char digits[32];
  const int n = std::snprintf(digits, sizeof digits, "%u%u", static_cast<unsigned>(getpid()),
                              static_cast<unsigned>(unique_random()));
  if (n <= 0 || n > 20)
    return nullptr;
  const char *slash = std::strrchr(name, '/');
  const char *base = slash != nullptr ? slash + 1 : name;
  const char *dot = std::strrchr(base, '.');
  const std::size_t stem = dot != nullptr ? static_cast<std::size_t>(dot - name) : std::strlen(name);
  const std::size_t len = std::strlen(name) + static_cast<std::size_t>(n) + 1;
  auto *out = static_cast<char *>(VR_malloc(len));
  if (out == nullptr)
    return nullptr;
  std::memcpy(out, name, stem);
  std::memcpy(out + stem, digits, static_cast<std::size_t>(n));
  std::strcpy(out + stem + n, name + stem);
  return out;
}

} // namespace

/* $open(+FileName, +Mode, +Bits, +Encoding, -Stream) */
int prolog_open(worker *w)
{
  const TAGGED name = deref(w->term[0]);
  const TAGGED mode = deref(w->term[1]);
  std::int64_t bits64 = 0;
  const bool writing = IsAtom(mode) && (atom_name(mode)[0] == 'w' || atom_name(mode)[0] == 'a');
  if (!word_integer(w->term[2], &bits64) || !IsAtom(mode) || !IsAtom(name)) {
    save_vrio_error(VRIO_E_PARAMETER_ERROR, writing, name);
    return 0;
  }
  const auto bits = static_cast<std::uint32_t>(bits64);
  const char m = atom_name(mode)[0];
  unsigned options = VR_FOPEN_LITERAL | VR_FOPEN_ENCODING_TERM;
  options |= m == 'a' ? VR_FOPEN_APPEND : m == 'w' ? VR_FOPEN_WRITE : VR_FOPEN_READ;
  options |= (bits & SM_BINARY) ? VR_FOPEN_BINARY : VR_FOPEN_TEXT;
  if (bits & SM_INTERACTIVE)
    options |= VR_FOPEN_INTERACTIVE;
  if (bits & SM_REPOSITIONABLE)
    options |= VR_FOPEN_REPOSITIONABLE;
  if (bits & SM_LINE_FLUSHED)
    options |= VR_FOPEN_LINE_FLUSHED;
  if (bits & OPEN_EXCLUSIVE)
    options |= VR_FOPEN_EXCLUSIVE;
  if (bits & OPEN_URL)
    options |= VR_FOPEN_URL;
  const char *path = atom_name(name);
  VR_stream *s = nullptr;
  vrio_t_error_code rc = vr_fopen_internal(path, options, w->term[3], &s);
  if (rc == VRIO_E_FILE_EXISTS && (bits & OPEN_UNIQUE)) {
    for (int retry = 0; retry <= 10000 && rc == VRIO_E_FILE_EXISTS; retry++) {
      char *variant = unique_variant(path);
      if (variant == nullptr) {
        rc = VRIO_E_OUT_OF_MEMORY;
        break;
      }
      rc = vr_fopen_internal(variant, options, w->term[3], &s);
      VR_free(variant);
    }
  }
  if (rc < 0) {
    save_vrio_error(rc, writing, name);
    return 0;
  }
  add_stream_mode_bits(s, bits & (SM_EOF_CODE | SM_EOF_RESET | SM_CLOSE_CLEANUP));
  return cunify(w, w->term[4], stream_address_term(w, s));
}

void add_stream_mode_bits(VR_stream *s, std::uint32_t bits)
{
  static constexpr struct {
    std::uint32_t mode, flag;
  } map[] = {{SM_EOF_CODE, SF_EOF_CODE},           {SM_EOF_RESET, SF_EOF_RESET},
             {SM_CLOSE_CLEANUP, SF_CLOSE_CLEANUP}, {SM_LINE_FLUSHED, SF_LINE_FLUSHED},
             {SM_STANDARD, SF_STANDARD}};
  for (const auto &m : map)
    if (bits & m.mode)
      s->flags |= m.flag;
  resync_stream_mode(s);
}

/* ---- Operating-system handles ---- */

vrio_t_error_code VR_create_os_stream(int handle, VR_stream **pstream, TAGGED encoding,
                                      unsigned options)
{
  const bool read = options & 0x1, write = options & 0x2;
  const bool binary = options & 0x4, text = options & 0x8;
  const bool repositionable = options & 0x10000;
  if (binary == text || (!read && !write))
    return VRIO_E_PARAMETER_ERROR;
  const char *charset = "ISO-8859-1", *bom = "default", *eol = "default";
  if ((options & 0x40000) && encoding != 0) {
    vrio_t_error_code rc = encoding_parts(encoding, &charset, &bom, &eol);
    if (rc < 0)
      return rc;
    if (text_equal(charset, "default"))
      charset = "ISO-8859-1";
  }
  vrio_t_coder_funcs *funcs = nullptr;
  unsigned push = repositionable ? PUSH_REPOSITIONABLE : 0;
  vrio_t_error_code rc = VRIO_S_NOERR;
  if (text) {
    char *os_charset = nullptr;
    if ((options & 0x20000) && vrio_unix_default_charset(&os_charset) >= 0) {
      if (vrio_char_coder_find(&funcs, os_charset, nullptr, repositionable ? 1 : 0) < 0)
        funcs = nullptr;
      vrio_free(os_charset);
    }
    if (funcs == nullptr) {
      rc = vrio_char_coder_find(&funcs, charset, nullptr, repositionable ? 1 : 0);
      if (rc < 0)
        return rc;
    }
    if (read) {
      const unsigned e = read_eol_option(eol, repositionable ? "lf" : "auto");
      if (e == 0 || (repositionable && e != PUSH_READ_LF))
        rc = e == 0 ? VRIO_E_PARAMETER_ERROR : VRIO_E_SEEK_ERROR;
      push |= PUSH_READ | e | ((options & 0x1000) ? PUSH_BOM : 0);
    }
    if (write && rc >= 0) {
      const unsigned e = write_eol_option(eol, repositionable ? "lf" : "os");
      if (e == 0 || (repositionable && e != PUSH_WRITE_LF))
        rc = e == 0 ? VRIO_E_PARAMETER_ERROR : VRIO_E_SEEK_ERROR;
      push |= PUSH_WRITE | e | ((options & 0x4000) ? PUSH_BOM : 0) |
              ((options & 0x8000) ? PUSH_BOM | PUSH_BOM_IF_CALLED : 0);
    }
    if (rc >= 0)
      rc = validate_vrio_push_encoding_options(push);
    if (rc < 0) {
      vrio_coder_funcs_release(funcs);
      return rc;
    }
  }
  VRIO layer = nullptr;
  rc = vrio_layer_async_unix_open_file_handle(
      &layer, handle,
      (read ? VRIO_FD_READ : 0) | (write ? VRIO_FD_WRITE : 0) | ((options & 0x20) ? VRIO_FD_NOT_OWNED : 0) |
          ((options & 0x40) ? VRIO_FD_SEQUENTIAL : 0));
  if (rc < 0) {
    if (funcs != nullptr)
      vrio_coder_funcs_release(funcs);
    return rc;
  }
  /* Until the stream exists a failure must not close the caller's handle. */
  const vrio_t_bits kept_bit = layer->flags & VRIO_LAYER_FD_NOT_OWNED;
  layer->flags |= VRIO_LAYER_FD_NOT_OWNED;
  VRIO bottom = layer;
  unsigned facts = 0;
  if (text) {
    rc = vrio_push_encoding(&layer, read ? funcs : nullptr, write ? funcs : nullptr, push);
    vrio_coder_funcs_release(funcs);
    if (rc < 0) {
      vrio_close(&layer, VRIO_CLOSE_ABORTIVE | VRIO_CLOSE_READ | VRIO_CLOSE_WRITE);
      return rc;
    }
    facts = push_facts(push, rc);
    if (options & (0x100 | 0x800))
      vrio_ioctl_encoding_fallback(&layer, (read ? 2 : 0) | (write ? 4 : 0) |
                                               ((options & 0x100) ? 0x8 : 0) | ((options & 0x800) ? 0x40 : 0));
  }
  VR_stream *s = nullptr;
  rc = VR_create_vrio_stream(&layer, &s,
                             (read ? VR_CREATE_INPUT : 0) | (write ? VR_CREATE_OUTPUT : 0) |
                                 ((options & 0x80) ? VR_CREATE_LINE_FLUSHED : 0) |
                                 (binary ? VR_CREATE_BINARY : VR_CREATE_TEXT));
  if (rc < 0) {
    vrio_close(&layer, VRIO_CLOSE_ABORTIVE | VRIO_CLOSE_READ | VRIO_CLOSE_WRITE);
    return rc;
  }
  if (!(options & 0x20))
    bottom->flags = (bottom->flags & ~VRIO_LAYER_FD_NOT_OWNED) | kept_bit;
  set_stream_encoding_bits(s, facts);
  resync_stream_mode(s);
  *pstream = s;
  return VRIO_S_NOERR;
}

/* ---- User devices ---- */

vrio_t_error_code VR_create_stream(void *user_data, const void *user_class,
                                   vrio_t_simple_device_read read, vrio_t_simple_device_write write,
                                   vrio_t_simple_device_flush_output flush_output,
                                   vrio_t_simple_device_seek seek, vrio_t_simple_device_close close,
                                   vrio_t_simple_device_interrupt interrupt,
                                   vrio_t_simple_device_ioctl ioctl, void *, unsigned options,
                                   VR_stream **pstream)
{
  const bool binary = options & 0x1, text = options & 0x2;
  if (binary == text || user_data == nullptr || (read == nullptr && write == nullptr))
    return VRIO_E_PARAMETER_ERROR;
  VRIO layer = nullptr;
  vrio_t_error_code rc = vrio_create_device(&layer, user_data, user_class, read, write, flush_output,
                                            seek, close, interrupt, ioctl,
                                            binary ? VRIO_DEVICE_BYTES : VRIO_DEVICE_CHARS);
  if (rc < 0) {
    if (layer != nullptr)
      vrio_close(&layer, VRIO_CLOSE_ABORTIVE | VRIO_CLOSE_READ | VRIO_CLOSE_WRITE);
    return rc;
  }
  unsigned create = (read != nullptr ? VR_CREATE_INPUT : 0) | (write != nullptr ? VR_CREATE_OUTPUT : 0) |
                    (binary ? VR_CREATE_BINARY : VR_CREATE_TEXT) |
                    ((options & 0x4) ? VR_CREATE_INTERACTIVE : 0) |
                    ((options & 0x8) ? VR_CREATE_LINE_FLUSHED : 0) |
                    ((options & 0x10) ? VR_CREATE_EOF_CODE : 0) | ((options & 0x20) ? VR_CREATE_EOF_RESET : 0);
  VR_stream *s = nullptr;
  rc = VR_create_vrio_stream(&layer, &s, create);
  if (rc < 0) {
    vrio_close(&layer, VRIO_CLOSE_ABORTIVE | VRIO_CLOSE_READ | VRIO_CLOSE_WRITE);
    return rc;
  }
  *pstream = s;
  return VRIO_S_NOERR;
}

vrio_t_error_code VR_get_stream_user_data(VR_stream *s, const void *user_class, void **puser_data)
{
  if (s == nullptr || s->vrio == nullptr)
    return VRIO_E_PARAMETER_ERROR;
  return vrio_get_device_user_data(&s->vrio, user_class, puser_data);
}

/* ---- The standard streams ---- */

vrio_t_error_code vr_default_charset_name(char **pcharset_name, const char **env_vars, unsigned)
{
  static const char *const locale_only[] = {"", nullptr};
  const char *const *keys = env_vars != nullptr ? env_vars : locale_only;
  char *found = nullptr;
  for (int i = 0; keys[i] != nullptr && found == nullptr; i++) {
    if (keys[i][0] != '\0') {
      char *value = vrio_get_system_property_allocate(keys[i]);
      if (value == nullptr)
        continue;
      if (value[0] == '/') {
        vrio_free(value);
        return VRIO_E_NOT_FOUND;
      }
      if (value[0] != '\0') {
        const char *dot = std::strrchr(value, '.');
        found = vrio_alloc_string(dot != nullptr ? dot + 1 : value);
        if (found == nullptr) {
          vrio_free(value);
          return VRIO_E_OUT_OF_MEMORY;
        }
      }
      vrio_free(value);
    } else if (keys[i + 1] == nullptr) {
      if (vrio_unix_default_charset(&found) < 0)
        found = nullptr;
    }
  }
  if (found == nullptr)
    return VRIO_E_NOT_FOUND;
  if (pcharset_name != nullptr) {
    const std::size_t len = std::strlen(found) + 1;
    *pcharset_name = static_cast<char *>(VR_malloc(len));
    if (*pcharset_name == nullptr) {
      vrio_free(found);
      return VRIO_E_OUT_OF_MEMORY;
    }
    std::memcpy(*pcharset_name, found, len);
  }
  vrio_free(found);
  return VRIO_S_NOERR;
}

VR_stream *vr_userstreamhook_default(void *, int which)
{
  static const vrio_t_bits slots[3] = {9, 11, 13};
  if (which < 0 || which > 2)
    return nullptr;
  const bool input = which == 0;
  VRIO layer = nullptr;
  if (vrio_get_standard_stream(&layer, slots[which]) < 0)
    return nullptr;
  vrio_t_device_type type = VRIO_DEVICE_TYPE_UNKNOWN;
  if (vrio_ioctl_device_type(&layer, &type, input ? 2 : 4) < 0)
    type = VRIO_DEVICE_TYPE_UNKNOWN;
  static const char *keys[] = {"VR_CTYPE_STDIO", "VR_CTYPE", "", nullptr};
  vrio_t_coder_funcs *funcs = nullptr;
  char *name = nullptr;
  if (vr_default_charset_name(&name, keys, 0) >= 0) {
    if (vrio_char_coder_find(&funcs, name, nullptr, 0) < 0)
      funcs = nullptr;
    VR_free(name);
  }
  if (funcs == nullptr && vrio_char_coder_find(&funcs, "ISO-8859-1", nullptr, 0) < 0) {
    vrio_close(&layer, VRIO_CLOSE_ABORTIVE | VRIO_CLOSE_READ | VRIO_CLOSE_WRITE);
    return nullptr;
  }
  vrio_t_error_code rc = input ? vrio_push_encoding(&layer, funcs, nullptr, PUSH_READ | PUSH_READ_AUTO)
                               : vrio_push_encoding(&layer, nullptr, funcs, PUSH_WRITE | PUSH_WRITE_LF);
  vrio_coder_funcs_release(funcs);
  if (rc < 0) {
    vrio_close(&layer, VRIO_CLOSE_ABORTIVE | VRIO_CLOSE_READ | VRIO_CLOSE_WRITE);
    return nullptr;
  }
  vrio_ioctl_encoding_fallback(&layer, input ? 0x4A : 0x4C);
  const bool interactive = type == VRIO_DEVICE_TYPE_TTY || force_interactive;
  unsigned create = VR_CREATE_TEXT | (input ? VR_CREATE_INPUT : VR_CREATE_OUTPUT | VR_CREATE_APPEND);
  if (interactive)
    create |= VR_CREATE_INTERACTIVE;
  else if (which == 2)
    create |= VR_CREATE_LINE_FLUSHED;
  VR_stream *s = nullptr;
  if (VR_create_vrio_stream(&layer, &s, create) < 0) {
    vrio_close(&layer, VRIO_CLOSE_ABORTIVE | VRIO_CLOSE_READ | VRIO_CLOSE_WRITE);
    return nullptr;
  }
  s->flags |= SF_CLOSE_CLEANUP;
  if (which != 2)
    s->flags |= SF_EOF_RESET;
  resync_stream_mode(s);
  return s;
}
