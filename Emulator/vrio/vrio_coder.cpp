/* vrio_coder.cpp: the coder framework: the registry of coder kinds and
 * charset names, the generic coder operations, and the detection of a
 * stream's encoding from a byte-order mark or a coding cookie.
 *
 * Two registries, both keyed by the matching form of a name (letters
 * lower-cased, digits kept except a 0 that does not follow a digit,
 * everything else dropped): `func_hash` maps a kind's canonical name to
 * its table, on which the registry holds one reference;
 * `charset_hash` maps every name and alias to the canonical name.  They
 * change only at start-up and shut-down, on one thread.
 */
#include <cstring>
#include <initializer_list>

#include "vostrel/vrio.h"
#include "vostrel/vrio_coder.h"
#include "vrio_coder_driver.h"
#include "vrio_internal.h"

#if defined(__i386__)
static_assert(sizeof(vrio_t_coder_funcs) == 60, "the coder table is part of the interface");
static_assert(sizeof(vrio_t_coder_byte_funcs) == 64);
#endif

static vrio_t_hash *func_hash;
static vrio_t_hash *charset_hash;

/* The matching form of a name, allocated; null for a name whose form is
   empty (*prc PARAMETER_ERROR) or when memory runs out. */
static char *matching_form(const char *name, vrio_t_error_code *prc)
{
  *prc = VRIO_E_PARAMETER_ERROR;
  if (name == nullptr)
    return nullptr;
  char *out = static_cast<char *>(vrio_alloc(std::strlen(name) + 1));
  if (out == nullptr) {
    *prc = VRIO_E_OUT_OF_MEMORY;
    return nullptr;
  }
  size_t n = 0;
  bool after_digit = false;
  for (const char *p = name; *p != '\0'; ++p) {
    char c = *p;
    if (c >= 'A' && c <= 'Z') {
      out[n++] = static_cast<char>(c - 'A' + 'a');
      after_digit = false;
    } else if (c >= 'a' && c <= 'z') {
      out[n++] = c;
      after_digit = false;
    } else if ((c >= '1' && c <= '9') || (c == '0' && after_digit)) {
      out[n++] = c;
      after_digit = true;
    } else {
      after_digit = false;
    }
  }
  out[n] = '\0';
  if (n == 0) {
    vrio_free(out);
    return nullptr;
  }
  *prc = VRIO_S_NOERR;
  return out;
}

static void free_if_empty(vrio_t_hash **table)
{
  if (*table != nullptr && vrio_hash_nentries(*table) == 0) {
    vrio_hash_free(*table);
    *table = nullptr;
  }
}

static vrio_t_error_code ensure_table(vrio_t_hash **table)
{
  return *table != nullptr ? VRIO_S_NOERR : vrio_hash_new(table);
}

void vrio_coder_default_addref(vrio_t_coder_funcs *funcs)
{
  __atomic_fetch_add(&funcs->refcount, 1, __ATOMIC_SEQ_CST);
}

void vrio_coder_default_release(vrio_t_coder_funcs *funcs)
{
  if (__atomic_fetch_sub(&funcs->refcount, 1, __ATOMIC_SEQ_CST) == 1)
    funcs->destroy(funcs);
}

void vrio_coder_default_destroy(vrio_t_coder_funcs *)
{
  /* The built-in tables are static. */
}

void vrio_coder_funcs_addref(vrio_t_coder_funcs *funcs)
{
  funcs->addref(funcs);
}

void vrio_coder_funcs_release(vrio_t_coder_funcs *funcs)
{
  funcs->release(funcs);
}

/* Every name in `names` (the first and the null-terminated rest) as
   matching forms; a failure frees what was made. */
struct name_forms {
  char **forms = nullptr;
  size_t count = 0;
};

static void free_forms(name_forms &f)
{
  for (size_t i = 0; i < f.count; ++i)
    vrio_free(f.forms[i]);
  vrio_free(f.forms);
  f.forms = nullptr;
  f.count = 0;
}

static vrio_t_error_code make_forms(const char *name, const char *const *aliases, name_forms &f)
{
  size_t total = 1;
  for (const char *const *a = aliases; a != nullptr && *a != nullptr; ++a)
    total++;
  f.forms = static_cast<char **>(vrio_alloc(total * sizeof(char *)));
  if (f.forms == nullptr)
    return VRIO_E_OUT_OF_MEMORY;
  for (size_t i = 0; i < total; ++i) {
    vrio_t_error_code rc;
    char *form = matching_form(i == 0 ? name : aliases[i - 1], &rc);
    if (form == nullptr) {
      free_forms(f);
      return rc;
    }
    f.forms[f.count++] = form;
  }
  return VRIO_S_NOERR;
}

vrio_t_error_code vrio_register_charset(const char *name, const char *const *aliases,
                                        vrio_t_bits options)
{
  name_forms f;
  vrio_t_error_code rc = make_forms(name, aliases, f);
  if (rc < 0)
    return rc;
  if (options & 1) {
    for (size_t i = 0; i < f.count && charset_hash != nullptr; ++i)
      vrio_hash_delete_string(charset_hash, f.forms[i]);
    free_if_empty(&charset_hash);
  } else {
    rc = ensure_table(&charset_hash);
    for (size_t i = 0; i < f.count && rc >= 0; ++i) {
      vrio_t_variant canonical;
      canonical.flags = VRIO_VARIANT_STRING;
      canonical.u.string = f.forms[0];
      rc = vrio_hash_put_string(charset_hash, f.forms[i], &canonical);
    }
  }
  free_forms(f);
  return rc < 0 ? rc : VRIO_S_NOERR;
}

vrio_t_error_code vrio_register_coder(const char *name, vrio_t_coder_funcs *funcs,
                                      vrio_t_bits options)
{
  const char *const *aliases = nullptr;
  if (name == nullptr && funcs != nullptr) {
    name = funcs->name;
    aliases = funcs->aliases;
  }
  vrio_t_error_code rc;
  char *key = matching_form(name, &rc);
  if (key == nullptr)
    return rc;
  if (options & 1) {
    vrio_t_variant *found;
    if (func_hash != nullptr && vrio_hash_get_string(func_hash, key, &found) >= 0) {
      auto *registered = static_cast<vrio_t_coder_funcs *>(found->u.p);
      if (funcs == nullptr || funcs == registered) {
        vrio_hash_delete_string(func_hash, key);
        free_if_empty(&func_hash);
        vrio_register_charset(name, aliases, 1);
        registered->release(registered);
      }
    }
    vrio_free(key);
    return VRIO_S_NOERR;
  }
  if (funcs == nullptr || funcs->sizeof_vrio_t_coder_funcs != sizeof(vrio_t_coder_funcs)) {
    vrio_free(key);
    return funcs == nullptr ? VRIO_E_PARAMETER_ERROR : VRIO_E_VERSION_ERROR;
  }
  rc = ensure_table(&func_hash);
  if (rc >= 0) {
    funcs->addref(funcs);
    vrio_t_variant v;
    v.flags = VRIO_VARIANT_POINTER;
    v.u.p = funcs;
    rc = vrio_hash_put_string(func_hash, key, &v);
    if (rc >= 0) {
      rc = vrio_register_charset(name, aliases, 0);
      if (rc < 0) {
        vrio_register_charset(name, aliases, 1);
        vrio_hash_delete_string(func_hash, key);
      }
    }
    if (rc < 0)
      funcs->release(funcs);
  }
  free_if_empty(&func_hash);
  vrio_free(key);
  return rc < 0 ? rc : VRIO_S_NOERR;
}

vrio_t_error_code vrio_coder_instance_new(vrio_t_coder_funcs *funcs, vrio_t_bits flags,
                                          int32_t last_char, vrio_t_coder **pcoder)
{
  auto *c = static_cast<vrio_coder_instance *>(vrio_alloc(sizeof(vrio_coder_instance)));
  if (c == nullptr)
    return VRIO_E_OUT_OF_MEMORY;
  vrio_coder_funcs_addref(funcs);
  c->coder.funcs = funcs;
  c->coder.flags = flags;
  c->last_char = last_char;
  *pcoder = &c->coder;
  return VRIO_S_NOERR;
}

void vrio_coder_instance_free(vrio_t_coder *coder)
{
  vrio_coder_funcs_release(coder->funcs);
  vrio_free(coder);
}

void vrio_coder_nothing(vrio_t_coder *)
{
}

vrio_t_error_code vrio_coder_register_builtin(vrio_t_coder_funcs *funcs, vrio_t_bits options)
{
  if (options & 1)
    return vrio_register_coder(nullptr, funcs, 1);
  funcs->refcount = 1;
  vrio_t_error_code rc = vrio_register_coder(nullptr, funcs, 0);
  funcs->release(funcs);
  return rc;
}

vrio_t_error_code vrio_charset_canonical_name(const char *name, const char **pcanonical)
{
  vrio_t_error_code rc;
  char *key = matching_form(name, &rc);
  if (key == nullptr)
    return rc;
  vrio_t_variant *found;
  rc = charset_hash != nullptr ? vrio_hash_get_string(charset_hash, key, &found)
                               : VRIO_E_NOT_FOUND;
  vrio_free(key);
  if (rc < 0)
    return VRIO_E_CHARSET_NOT_FOUND;
  *pcanonical = found->u.string;
  return VRIO_S_NOERR;
}

int vrio_charset_name_equal(const char *name1, const char *name2)
{
  const char *c1, *c2;
  return vrio_charset_canonical_name(name1, &c1) >= 0 &&
         vrio_charset_canonical_name(name2, &c2) >= 0 && std::strcmp(c1, c2) == 0;
}

vrio_t_error_code vrio_char_coder_find(vrio_t_coder_funcs **pfuncs, const char *name,
                                       vrio_t_arglist, vrio_t_bits options)
{
  const char *canonical;
  vrio_t_error_code rc = vrio_charset_canonical_name(name, &canonical);
  if (rc < 0)
    return rc;
  vrio_t_variant *found;
  if (func_hash == nullptr || vrio_hash_get_string(func_hash, canonical, &found) < 0)
    return VRIO_E_CHARSET_NOT_FOUND;
  auto *funcs = static_cast<vrio_t_coder_funcs *>(found->u.p);
  if ((options & 1) && !(funcs->features & 1))
    return VRIO_E_SEEK_ERROR;
  funcs->addref(funcs);
  *pfuncs = funcs;
  return VRIO_S_NOERR;
}

vrio_t_error_code vrio_char_coder_open(vrio_t_coder_funcs *funcs, vrio_t_coder **pcoder,
                                       vrio_t_arglist args, vrio_t_bits options)
{
  vrio_t_coder *coder = nullptr;
  vrio_t_error_code rc = funcs->open(funcs, &coder, args, options);
  if (rc < 0)
    return rc;
  if ((options & VRIO_CODER_OPEN_SEEKABLE) && !(coder->flags & VRIO_CODER_CAN_SEEK)) {
    vrio_char_coder_close(coder);
    return VRIO_E_SEEK_ERROR;
  }
  *pcoder = coder;
  return VRIO_S_NOERR;
}

void vrio_char_coder_close(vrio_t_coder *coder)
{
  if (coder != nullptr)
    coder->funcs->free(coder);
}

vrio_t_error_code vrio_char_coder_encode(vrio_t_coder *coder, vrio_t_buf *from,
                                         size_t *from_offset, vrio_t_buf *to,
                                         vrio_t_bits options)
{
  size_t offset = *from_offset;
  vrio_t_error_code rc = coder->funcs->encode(coder, from, &offset, to, options);
  if (rc >= 0) {
    *from_offset = offset;
    return VRIO_S_NOERR;
  }
  if (rc == VRIO_E_NOT_ENOUGH_DATA && (options & VRIO_CODER_END_OF_INPUT))
    return *from_offset < from->extent ? VRIO_E_ENCODING_INVALID : VRIO_E_END_OF_FILE;
  return rc;
}

void vrio_char_coder_commit(vrio_t_coder *coder)
{
  coder->funcs->commit(coder);
}

void vrio_char_coder_rollback(vrio_t_coder *coder)
{
  coder->funcs->rollback(coder);
}

vrio_t_error_code vrio_char_coder_seek(vrio_t_coder *coder, vrio_t_offset char_offset,
                                       vrio_t_bits options)
{
  vrio_t_error_code rc = coder->funcs->seek(coder, char_offset, options);
  return rc < 0 ? rc : VRIO_S_NOERR;
}

vrio_t_error_code vrio_char_coder_translate_offset(vrio_t_coder *coder, vrio_t_offset char_offset,
                                                   vrio_t_offset *byte_offset)
{
  vrio_t_offset result = 0;
  vrio_t_error_code rc = coder->funcs->translate_offset(coder, char_offset, &result);
  if (rc < 0)
    return rc;
  *byte_offset = result;
  return VRIO_S_NOERR;
}

/* Detection.  A detector answers 0 (found, *pfuncs referenced), 1
   (nothing here), VRIO_E_NOT_ENOUGH_DATA or an error.  Options: 1 the
   bytes are all there is; 2 only seekable coders. */

static constexpr vrio_t_bits detect_complete = 1, detect_seekable = 2;

static vrio_t_error_code find_detected(const char *name, vrio_t_bits options,
                                       vrio_t_coder_funcs **pfuncs)
{
  return vrio_char_coder_find(pfuncs, name, nullptr, (options & detect_seekable) ? 1 : 0);
}

static vrio_t_error_code bom_encoding_detector(const unsigned char *b, size_t n,
                                               vrio_t_bits options, vrio_t_coder_funcs **pfuncs)
{
  bool complete = (options & detect_complete) != 0;
  auto starts = [&](std::initializer_list<unsigned char> mark) {
    return n >= mark.size() && std::memcmp(b, mark.begin(), mark.size()) == 0;
  };
  const char *name = nullptr;
  if (n >= 4) {
    if (starts({0x00, 0x00, 0xFE, 0xFF}))
      name = "UTF-32 BE";
    else if (starts({0xFF, 0xFE, 0x00, 0x00}))
      name = "UTF-32 LE";
    else if (starts({0xFF, 0xFE}))
      name = "UTF-16 LE";
    else if (starts({0xFE, 0xFF}))
      name = "UTF-16 BE";
    else if (starts({0xEF, 0xBB, 0xBF}))
      name = "UTF-8";
    else
      return static_cast<vrio_t_error_code>(1);
  } else if (n >= 2) {
    /* FF FE might still become the UTF-32 mark. */
    if (n == 3 && starts({0xEF, 0xBB, 0xBF}))
      name = "UTF-8";
    else if (starts({0xFE, 0xFF}))
      name = "UTF-16 BE";
    else if (starts({0xFF, 0xFE}) && complete)
      name = "UTF-16 LE";
    else
      return complete ? static_cast<vrio_t_error_code>(1) : VRIO_E_NOT_ENOUGH_DATA;
  } else {
    return complete ? static_cast<vrio_t_error_code>(1) : VRIO_E_NOT_ENOUGH_DATA;
  }
  return find_detected(name, options, pfuncs);
}

static constexpr size_t cookie_window = 1024;

static bool is_charset_name_char(unsigned char c)
{
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
         (c != '\0' && std::strchr("!$%&*+-.^_{|}~", c) != nullptr);
}

/* The cookie in one stretch between two marks: 0, 1 (none) or an error. */
static vrio_t_error_code cookie_in_stretch(const unsigned char *b, size_t from, size_t to,
                                           vrio_t_bits options, vrio_t_coder_funcs **pfuncs)
{
  static const char word[] = "coding:";
  const size_t word_len = sizeof word - 1;
  if (to - from <= 7)
    return static_cast<vrio_t_error_code>(1);
  for (size_t j = from; j + word_len < to; ++j) {
    if (std::memcmp(b + j, word, word_len) != 0)
      continue;
    if (j != from && b[j - 1] != '\t' && b[j - 1] != ' ' && b[j - 1] != ';')
      continue;
    size_t k = j + word_len;
    while (k < to && (b[k] == ' ' || b[k] == '\t'))
      ++k;
    size_t start = k;
    while (k < to && is_charset_name_char(b[k]))
      ++k;
    if (k == start)
      return VRIO_E_SYNTAX_ERROR;
    char name[cookie_window + 1];
    std::memcpy(name, b + start, k - start);
    name[k - start] = '\0';
    return find_detected(name, options, pfuncs);
  }
  return static_cast<vrio_t_error_code>(1);
}

static vrio_t_error_code emacs_encoding_detector(const unsigned char *b, size_t n,
                                                 vrio_t_bits options,
                                                 vrio_t_coder_funcs **pfuncs)
{
  bool complete = (options & detect_complete) != 0;
  vrio_t_error_code need_more = n < cookie_window && !complete
                                    ? VRIO_E_NOT_ENOUGH_DATA
                                    : static_cast<vrio_t_error_code>(1);
  if (n > cookie_window)
    n = cookie_window;
  size_t i = 0;
  while (i < n && (b[i] == '\r' || b[i] == '\n'))
    ++i;
  size_t line_end = i;
  while (line_end < n && b[line_end] != '\r' && b[line_end] != '\n')
    ++line_end;
  bool line_ended = line_end < n;
  size_t marks[cookie_window / 3 + 1];
  size_t nmarks = 0;
  for (size_t j = i; j + 3 <= line_end; ++j)
    if (b[j] == '-' && b[j + 1] == '*' && b[j + 2] == '-') {
      marks[nmarks++] = j;
      j += 2;
    }
  if (nmarks == 0)
    return need_more;
  for (size_t m = 0; m + 1 < nmarks; ++m) {
    vrio_t_error_code rc = cookie_in_stretch(b, marks[m] + 3, marks[m + 1], options, pfuncs);
    if (rc != 1)
      return rc;
  }
  return line_ended ? static_cast<vrio_t_error_code>(1) : need_more;
}

using detector = vrio_t_error_code (*)(const unsigned char *, size_t, vrio_t_bits,
                                       vrio_t_coder_funcs **);
static const detector detectors[] = {bom_encoding_detector, emacs_encoding_detector};

vrio_t_error_code vrio_detect_file_encoding(VRIO *s, vrio_t_coder_funcs **pfuncs,
                                            vrio_t_bits options)
{
  if (*s == nullptr || !((*s)->flags & (VRIO_LAYER_CAN_REREAD | VRIO_LAYER_CAN_REREAD_OTHER))) {
    *pfuncs = nullptr;
    return static_cast<vrio_t_error_code>(1);
  }
  vrio_t_buf *buf = vrio_buf_alloc(nullptr, 0, 0);
  if (buf == nullptr)
    return VRIO_E_OUT_OF_MEMORY;
  vrio_t_error_code result = static_cast<vrio_t_error_code>(1);
  vrio_t_coder_funcs *found = nullptr;
  bool complete = false;
  for (;;) {
    vrio_t_error_code rc = vrio_read(s, &buf, VRIO_READ_BYTES);
    if (rc == VRIO_E_END_OF_FILE && buf->extent != 0)
      complete = true;
    else if (rc < 0)
      break;
    vrio_t_bits detector_options =
        (complete ? detect_complete : 0) | ((options & 2) ? detect_seekable : 0);
    bool wants_more = false, decided = false;
    for (detector d : detectors) {
      rc = d(buf->buf, buf->extent, detector_options, &found);
      if (rc == 0 || rc == VRIO_E_SEEK_ERROR ||
          (rc == VRIO_E_CHARSET_NOT_FOUND && !(options & 1))) {
        result = rc;
        decided = true;
        break;
      }
      if (rc == VRIO_E_NOT_ENOUGH_DATA)
        wants_more = true;
    }
    if (decided || !wants_more || complete)
      break;
  }
  if (buf->extent != 0) {
    /* Only the read position moves back: a stream open both ways may
       have its write position elsewhere. */
    vrio_t_error_code rc = vrio_seek(s, -static_cast<vrio_t_offset>(buf->extent), nullptr, buf,
                                     VRIO_SEEK_RELATIVE_BUFFERED | VRIO_SEEK_READ);
    if (rc < 0) {
      if (result == 0)
        vrio_coder_funcs_release(found);
      result = rc;
    }
  }
  vrio_buf_free(buf);
  if (result == 0)
    *pfuncs = found;
  else if (result == 1)
    *pfuncs = nullptr;
  return result;
}

vrio_t_error_code vrio_init_char_coder(vrio_t_bits options)
{
  using init_fun = vrio_t_error_code (*)(vrio_t_bits);
  static const init_fun families[] = {vrio_init_char_coder_byte, vrio_init_char_coder_utf8,
                                      vrio_init_char_coder_utf16, vrio_init_char_coder_utf32};
  const size_t n = sizeof families / sizeof families[0];
  for (size_t i = 0; i < n; ++i) {
    vrio_t_error_code rc = families[(options & 1) ? n - 1 - i : i](options & 1);
    if (rc < 0)
      return rc;
  }
  return VRIO_S_NOERR;
}
