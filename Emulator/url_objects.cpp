/* url_objects.cpp: resource lookup, the open function for resource URLs,
 * and URL objects with their two operation tables.
 *
 * A resource's bytes are never copied: a linked wrapper lies in the
 * executable's read-only data for the life of the process, and a trailer
 * resource is cached by embedded_resources.cpp until shutdown, so streams
 * and URL objects read that memory directly.  Lookup order: the
 * pre-linked tables (a data entry has a null entry function; its name is
 * preceded by the wrapper's address), then the file trailers when the
 * property VR_ALLOW_EMBEDDED_RESOURCE allows.  The dynamic-symbol lookup
 * of named data resources between the two belongs to the foreign-resource
 * loader and joins when it lands.
 *
 * Callers: stream_open.cpp (vrio_open_url), start-up and the file
 * built-ins (URL objects).  Engine thread only.
 */
#include "url_objects.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "datadefs.h"
#include "embedded_resources.h"
#include "file_names.h"
#include "memman.h"
#include "streams.h"
#include "vostrel/vostrel_resource.h"
#include "vostrel/vrio_buf.h"
#include "vostrel/vrio_device.h"
#include "vostrel/vrio_file.h"
#include "vostrel/vrio_props.h"

namespace {

constexpr std::uintptr_t UNUSED_WORD = 0xDEADDEAD;
constexpr std::uintptr_t STATE_NEW = 0, STATE_OPEN = 1, STATE_CLOSED = 2;

bool is_c_name_char(unsigned char c)
{
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

char ascii_lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

/* The wrapper's fields; false when it does not begin with the magic. */
bool read_wrapper(const unsigned char *res, const void **pdata, std::uint32_t *psize,
                  std::uint32_t *pmtime)
{
  if (std::memcmp(res, VR_RESOURCE_MAGIC, VR_RESOURCE_MAGIC_SIZE) != 0)
    return false;
  /* Only the low 32 bits of either big-endian field count. */
  auto low32 = [](const unsigned char *p) {
    return (std::uint32_t{p[4]} << 24) | (std::uint32_t{p[5]} << 16) | (std::uint32_t{p[6]} << 8) | p[7];
  };
  if (pdata != nullptr)
    *pdata = res + VR_RESOURCE_HEADER_SIZE;
  if (psize != nullptr)
    *psize = low32(res + 16);
  if (pmtime != nullptr)
    *pmtime = low32(res + 24);
  return true;
}

/* The pre-linked wrapper of a mangled name: 1 found (*pres may be null: a
   data entry without a wrapper), 0 not listed. */
int find_prelinked(const char *mangled, const unsigned char **pres)
{
  char **map = eglobal->persistent.fli_pre_map;
  void **linkage = eglobal->persistent.fli_pre_linkage;
  if (map == nullptr || linkage == nullptr)
    return 0;
  for (std::size_t i = 0; map[i] != nullptr; i++) {
    if (linkage[i] == nullptr && std::strcmp(map[i], mangled) == 0) {
      std::memcpy(pres, map[i] - sizeof(void *), sizeof(void *));
      return 1;
    }
  }
  return 0;
}

} // namespace

char *vr_ensure_c_name(const char *name)
{
  std::size_t n = 1;
  for (const char *p = name; *p != '\0'; p++)
    n += is_c_name_char(static_cast<unsigned char>(*p)) ? 1 : 5;
  char *out = static_cast<char *>(VR_malloc(n));
  if (out == nullptr)
    return nullptr;
  char *q = out;
  for (const char *p = name; *p != '\0'; p++) {
    const auto c = static_cast<unsigned char>(*p);
    if (is_c_name_char(c))
      *q++ = static_cast<char>(c);
    else
      q += std::snprintf(q, 6, "_0x%02X", c);
  }
  *q = '\0';
  return out;
}

int vostrel_resource_find_data(const char *name, const void **pdata, std::uint32_t *psize,
                               std::uint32_t *pmtime)
{
  char *mangled = vr_ensure_c_name(name);
  if (mangled == nullptr)
    return 0;
  const unsigned char *res = nullptr;
  const int listed = find_prelinked(mangled, &res);
  VR_free(mangled);
  if (listed && res != nullptr)
    return read_wrapper(res, pdata, psize, pmtime) ? 1 : 0;
  /* A name in neither table: the trailers of the configured files. */
  if (!vrio_get_boolean_system_property("VR_ALLOW_EMBEDDED_RESOURCE", 1))
    return 0;
  void *data = nullptr;
  int size = 0;
  if (find_embedded_resource(name, &data, &size) < 0)
    return 0;
  if (pdata != nullptr)
    *pdata = data;
  if (psize != nullptr)
    *psize = static_cast<std::uint32_t>(size);
  if (pmtime != nullptr)
    *pmtime = 0;
  return 1;
}

bool url_scheme_is(const char *text, const char *scheme)
{
  std::size_t i = 0;
  for (; scheme[i] != '\0'; i++)
    if (ascii_lower(text[i]) != ascii_lower(scheme[i]))
      return false;
  return text[i] == ':';
}

const char *prefix_skip(const char *lower, const char *upper, const char *text)
{
  for (std::size_t i = 0; lower[i] != '\0'; i++)
    if (text[i] != lower[i] && text[i] != upper[i])
      return nullptr;
  return text + std::strlen(lower);
}

vrio_t_error_code vrio_open_url(VRIO *s, vrio_t_arglist args, vrio_t_bits options)
{
  const char *path = nullptr;
  vrio_t_error_code rc = vrio_get_arg_string(args, "pathname", &path);
  if (rc < 0)
    return rc;
  const char *rest = prefix_skip("url:", "URL:", path);
  if (rest == nullptr || *rest == '\0')
    return VRIO_E_INVALID_NAME;
  const char *name = prefix_skip("x-vostrel-resource:", "X-VOSTREL-RESOURCE:", rest);
  if (name == nullptr)
    return VRIO_E_NOT_SUPPORTED;
  if (*name == '\0')
    return VRIO_E_INVALID_NAME;
  /* Decided before any search: a resource is never written. */
  if (options & VRIO_OPEN_FILE_WRITE)
    return VRIO_E_PERMISSION_ERROR;
  if (!(options & VRIO_OPEN_FILE_READ))
    return VRIO_E_PARAMETER_ERROR;
  const void *data = nullptr;
  std::uint32_t size = 0;
  if (!vostrel_resource_find_data(name, &data, &size, nullptr))
    return VRIO_E_FILE_NOT_FOUND;
  vrio_t_buf *buf = vrio_buf_alloc(const_cast<void *>(data), size,
                                   VRIO_BUF_ALLOC_READ_ONLY | VRIO_BUF_ALLOC_NEVER_COPY);
  if (buf == nullptr)
    return VRIO_E_OUT_OF_MEMORY;
  VRIO layer = nullptr;
  /* The device owns the buffer record (not the bytes) and reads only. */
  rc = vr_create_vrio_byte_device(&layer, buf, nullptr, nullptr, 1 | 2);
  if (rc < 0) {
    vrio_buf_free(buf);
    return rc;
  }
  *s = layer;
  return VRIO_S_NOERR;
}

/* ---- URL objects ---- */

namespace {

url_object *new_url_object(const url_dispatch *dispatch, const char *url)
{
  const std::size_t n = url != nullptr ? std::strlen(url) + 1 : 0;
  auto *o = static_cast<url_object *>(VR_malloc(sizeof(url_object) + n));
  if (o == nullptr)
    return nullptr;
  o->dispatch = dispatch;
  o->url = nullptr;
  if (url != nullptr) {
    o->url = reinterpret_cast<char *>(o + 1);
    std::memcpy(o->url, url, n);
  }
  o->errnum = 0;
  for (std::uintptr_t &word : o->d)
    word = UNUSED_WORD;
  return o;
}

void release_url_object(url_object *o)
{
  /* The record is poisoned before its memory goes back. */
  const std::size_t words = sizeof(url_object) / sizeof(std::uint32_t);
  for (std::size_t i = 0; i < words; i++)
    reinterpret_cast<std::uint32_t *>(o)[i] = 0xDEADDEAD;
  VR_free(o);
}

url_object *same_object(url_object *o) { return o; }

const char *url_extension(url_object *o)
{
  if (o->url == nullptr)
    return nullptr;
  const char *dot = std::strrchr(o->url, '.');
  if (dot == nullptr || std::strchr(dot, '/') != nullptr)
    return nullptr;
  return dot;
}

/* File objects. */

url_object *file_exists(url_object *o)
{
  /* Relative names are the runtime's current directory's, as when opened. */
  char *path = vr_expand_file_name(o->url, nullptr, 0);
  vrio_t_error_code rc = path != nullptr ? vrio_test_file_access(path, 0) : VRIO_E_INVALID_NAME;
  VR_free(path);
  if (rc < 0) {
    o->errnum = rc;
    return nullptr;
  }
  return o;
}

url_object *file_open(url_object *o, const char *mode)
{
  unsigned options = 0;
  for (const char *m = mode; *m != '\0'; m++) {
    switch (*m) {
    case 'a': options |= VR_FOPEN_APPEND; break;
    case 'b': options |= VR_FOPEN_BINARY; break;
    case 'r': options |= VR_FOPEN_READ; break;
    case 'w': options |= VR_FOPEN_WRITE; break;
    default: return nullptr;
    }
  }
  if (!(options & VR_FOPEN_BINARY))
    options |= VR_FOPEN_TEXT;
  VR_stream *s = nullptr;
  vrio_t_error_code rc = VR_fopen(o->url, 0, options, &s);
  if (rc < 0) {
    o->errnum = rc;
    return nullptr;
  }
  o->d[1] = reinterpret_cast<std::uintptr_t>(s);
  o->d[2] = STATE_OPEN;
  return o;
}

VR_stream *file_stream(url_object *o)
{
  return o->d[2] == STATE_OPEN ? reinterpret_cast<VR_stream *>(o->d[1]) : nullptr;
}

int file_get(url_object *o)
{
  VR_stream *s = file_stream(o);
  if (s == nullptr)
    return -1;
  int c;
  if (s->flags & SF_TEXT) {
    c = stream_window_get_code(s);
    if (c == -2)
      c = vr_get_code_helper(s, 0);
  } else {
    c = stream_get_byte(s);
  }
  return c < 0 ? -1 : c;
}

std::size_t file_read(url_object *o, void *buf, std::size_t size, std::size_t count)
{
  const std::uint64_t want = std::uint64_t{size} * count;
  auto *out = static_cast<unsigned char *>(buf);
  std::uint64_t got = 0;
  while (got < want) {
    const int c = file_get(o);
    if (c < 0)
      break;
    out[got++] = static_cast<unsigned char>(c);
  }
  if (got < want) {
    errno = EIO;
    o->errnum = EIO;
  }
  return size == 0 ? 0 : static_cast<std::size_t>(got / size);
}

int file_close(url_object *o)
{
  VR_stream *s = file_stream(o);
  o->d[2] = STATE_CLOSED;
  if (s != nullptr && VR_fclose(s, 0) < 0) {
    o->errnum = EPERM;
    return 1;
  }
  return 0;
}

/* Resource objects. */

url_object *resource_exists(url_object *o)
{
  if (o->d[0] != 1) {
    const void *data = nullptr;
    std::uint32_t size = 0, mtime = 0;
    if (!vostrel_resource_find_data(reinterpret_cast<const char *>(o->d[4]), &data, &size, &mtime)) {
      o->errnum = -1;
      return nullptr;
    }
    o->d[0] = 1;
    o->d[1] = reinterpret_cast<std::uintptr_t>(data);
    o->d[2] = size;
    o->d[3] = mtime;
  }
  return o;
}

url_object *resource_open(url_object *o, const char *mode)
{
  for (const char *m = mode; *m != '\0'; m++)
    if (*m != 'r' && *m != 'b')
      return nullptr;
  if (resource_exists(o) == nullptr)
    return nullptr;
  o->d[5] = 0;
  o->d[6] = STATE_OPEN;
  return o;
}

std::size_t resource_read(url_object *o, void *buf, std::size_t size, std::size_t count)
{
  if (o->d[6] != STATE_OPEN)
    return 0;
  const std::uint64_t left = o->d[2] - o->d[5];
  std::uint64_t n = std::uint64_t{size} * count;
  if (n > left)
    n = left;
  std::memcpy(buf, reinterpret_cast<const unsigned char *>(o->d[1]) + o->d[5], static_cast<std::size_t>(n));
  o->d[5] += static_cast<std::uintptr_t>(n);
  return static_cast<std::size_t>(n);
}

int resource_close(url_object *o)
{
  o->d[5] = 0;
  o->d[6] = STATE_CLOSED;
  return 0;
}

int resource_get(url_object *o)
{
  if (o->d[6] != STATE_OPEN || o->d[5] >= o->d[2])
    return -1;
  return reinterpret_cast<const unsigned char *>(o->d[1])[o->d[5]++];
}

const url_dispatch file_dispatch = {
    "Local file URL Object", release_url_object, same_object, file_exists, url_extension,
    file_exists, file_open, file_read, file_close, file_get,
};

const url_dispatch resource_dispatch = {
    "Vostrel Resource URL Object", release_url_object, same_object, resource_exists, url_extension,
    resource_exists, resource_open, resource_read, resource_close, resource_get,
};

struct url_creator {
  const char *scheme; /* "*" matches every URL */
  url_object *(*create)(const char *text);
};

const url_creator url_creators[] = {
    {"x-vostrel-resource", url_object_create_vostrel_resource},
    {"file", url_object_create_file_object},
    {nullptr, nullptr},
};

} // namespace

url_object *url_object_create_file_object(const char *text)
{
  const char *rest = url_scheme_is(text, "file") ? text + 5 : text;
  char *expanded = vr_expand_file_name(rest, nullptr, 0);
  if (expanded == nullptr)
    return nullptr;
  VR_free(expanded);
  url_object *o = new_url_object(&file_dispatch, rest);
  if (o != nullptr)
    o->d[2] = STATE_NEW;
  return o;
}

url_object *create_file_url_object(const char *text) { return url_object_create_file_object(text); }

url_object *url_object_create_vostrel_resource(const char *text)
{
  url_object *o = new_url_object(&resource_dispatch, text);
  if (o == nullptr)
    return nullptr;
  o->d[0] = 0;
  o->d[4] = reinterpret_cast<std::uintptr_t>(std::strrchr(o->url, ':') + 1);
  o->d[5] = 0;
  o->d[6] = STATE_NEW;
  if (resource_exists(o) == nullptr) {
    release_url_object(o);
    return nullptr;
  }
  return o;
}

url_object *create_url_object(const char *text)
{
  if (std::strncmp(text, "URL:", 4) != 0 || std::strchr(text + 4, ':') == nullptr)
    return nullptr;
  const char *rest = text + 4;
  for (const url_creator *c = url_creators; c->scheme != nullptr; c++) {
    if (std::strcmp(c->scheme, "*") == 0 || url_scheme_is(rest, c->scheme)) {
      if (url_object *o = c->create(rest); o != nullptr)
        return o;
    }
  }
  return nullptr;
}

const char *url_object_description(url_object *o) { return o != nullptr ? o->dispatch->description : nullptr; }

void url_object_free(url_object *o)
{
  if (o == nullptr)
    return;
  o->dispatch->close(o);
  o->dispatch->free(o);
}

url_object *url_object_validate(url_object *o) { return o != nullptr ? o->dispatch->validate(o) : nullptr; }
url_object *url_object_exists(url_object *o) { return o != nullptr ? o->dispatch->exists(o) : nullptr; }
const char *url_object_extension(url_object *o) { return o != nullptr ? o->dispatch->extension(o) : nullptr; }
url_object *url_object_readable(url_object *o) { return o != nullptr ? o->dispatch->readable(o) : nullptr; }

url_object *url_object_open(url_object *o, const char *mode)
{
  return o != nullptr ? o->dispatch->open(o, mode) : nullptr;
}

std::size_t url_object_read(url_object *o, void *buf, std::size_t size, std::size_t count)
{
  return o != nullptr ? o->dispatch->read(o, buf, size, count) : 0;
}

int url_object_close(url_object *o) { return o != nullptr ? o->dispatch->close(o) : -1; }
int url_object_get(url_object *o) { return o != nullptr ? o->dispatch->get(o) : -1; }
int url_object_get_errno(url_object *o) { return o != nullptr ? o->errnum : -1; }

void url_object_set_errno(url_object *o, int errnum)
{
  if (o != nullptr)
    o->errnum = errnum;
}

void url_object_set_generic_errno(url_object *o) { url_object_set_errno(o, -1); }
void url_object_clear_errno(url_object *o) { url_object_set_errno(o, 0); }
