/* embedded_resources.cpp: the scan of file trailers and the resources they
 * describe (see embedded_resources.h for the trailer).
 *
 * The scan reads each file backwards from its end, a line at a time (a
 * line is the bytes back to and including the line feed before it, at
 * most 500 of them), and stops at the first thing that is not a complete
 * trailer; resources recorded before that stay.  The scan runs once per
 * runtime: eglobal->embedded_resources is null until then and afterwards
 * at least an empty header.
 *
 * Callers: vostrel_resource_find_data (url_objects.cpp), deinit_stream.
 */
#include "embedded_resources.h"

#include <climits>
#include <cstring>

#include "datadefs.h"
#include "fli.h"
#include "memman.h"
#include "streams.h"
#include "vostrel/vrio_file.h"

namespace {

constexpr std::size_t MAX_LINE = 500;
constexpr char END_LINE[] = "\n# META_INFO_SUFFIX END";
constexpr char BEGIN_LINE[] = "# META_INFO_SUFFIX 1";

char *copy_text(const char *text, std::size_t n)
{
  char *out = static_cast<char *>(VR_malloc(n + 1));
  if (out != nullptr) {
    std::memcpy(out, text, n);
    out[n] = '\0';
  }
  return out;
}

vrio_t_error_code seek_absolute(VR_stream *s, std::int64_t offset)
{
  return set_stream_position(s, offset, 0, 0, 0x1 | 0x2);
}

/* Reads n bytes forward through the byte path. */
vrio_t_error_code read_forward(VR_stream *s, unsigned char *out, std::size_t n)
{
  for (std::size_t i = 0; i < n; i++) {
    const int c = stream_get_byte(s);
    if (c < 0)
      return c == -1 ? VRIO_E_END_OF_FILE : static_cast<vrio_t_error_code>(c);
    out[i] = static_cast<unsigned char>(c);
  }
  return VRIO_S_NOERR;
}

/* The number of bytes before the next byte to hand out. */
std::int64_t backwards_position(const vr_t_backwards_stream *bs)
{
  return bs->stream_pos + static_cast<std::int64_t>(bs->buf.extent);
}

/* "0x" and 1 to 16 hexadecimal digits, either case. */
bool parse_size(const char *text, std::uint64_t *size)
{
  if (text[0] != '0' || text[1] != 'x' || text[2] == '\0')
    return false;
  std::uint64_t v = 0;
  std::size_t digits = 0;
  for (const char *p = text + 2; *p != '\0'; p++) {
    int d;
    if (*p >= '0' && *p <= '9')
      d = *p - '0';
    else if (*p >= 'a' && *p <= 'f')
      d = *p - 'a' + 10;
    else if (*p >= 'A' && *p <= 'F')
      d = *p - 'A' + 10;
    else
      return false;
    if (++digits > 16)
      return false;
    v = v << 4 | static_cast<unsigned>(d);
  }
  *size = v;
  return true;
}

/* The line before the reader's position, without its leading line feed,
   into line[MAX_LINE]: its length, or -1 when the file starts first, the
   line is too long or reading fails. */
int read_line_backwards(vr_t_backwards_stream *bs, char *line)
{
  char reversed[MAX_LINE];
  std::size_t n = 0;
  for (;;) {
    const int c = get_backwards_byte(bs);
    if (c < 0)
      return -1;
    if (n == MAX_LINE)
      return -1;
    reversed[n++] = static_cast<char>(c);
    if (c == '\n')
      break;
  }
  const std::size_t len = n - 1;
  for (std::size_t i = 0; i < len; i++)
    line[i] = reversed[len - 1 - i];
  line[len] = '\0';
  return static_cast<int>(len);
}

/* One trailer ending at the reader's position: 1 and the resource, 0 when
   there is none (or it is malformed), or a negative code that ends the
   scan as well. */
int scan_trailer(vr_t_backwards_stream *bs, vr_t_meta_info **pinfo)
{
  if (backwards_looking_at_byte(bs, '\n') != 0)
    return 0;
  for (std::size_t i = sizeof END_LINE - 1; i-- > 0;)
    if (backwards_looking_at_byte(bs, END_LINE[i]) != 0)
      return 0;
  auto *info = static_cast<vr_t_meta_info *>(VR_malloc(sizeof(vr_t_meta_info)));
  if (info == nullptr)
    return VRIO_E_OUT_OF_MEMORY;
  *info = vr_t_meta_info{-1, -1, nullptr, nullptr, nullptr};
  bool have_size = false;
  std::uint64_t size = 0;
  char line[MAX_LINE];
  int rc = 0;
  for (;;) {
    const int len = read_line_backwards(bs, line);
    if (len < 0 || line[0] != '#')
      break;
    if (std::strncmp(line, BEGIN_LINE, sizeof BEGIN_LINE - 1) == 0) {
      /* Exactly the opening line, with a size that the bytes before it
         can hold. */
      const std::int64_t at = backwards_position(bs);
      if (line[sizeof BEGIN_LINE - 1] == '\0' && have_size && size <= static_cast<std::uint64_t>(at)) {
        info->length = static_cast<std::int64_t>(size);
        info->file_offset = at - info->length;
        *pinfo = info;
        return 1;
      }
      break;
    }
    const char *eq = std::strstr(line, "=\"");
    if (line[1] != ' ' || line[len - 1] != '"' || eq == nullptr || eq + 1 == line + len - 1)
      continue; /* a comment line */
    const char *key = line + 2;
    const std::size_t key_len = static_cast<std::size_t>(eq - key);
    const char *value = eq + 2;
    const std::size_t value_len = static_cast<std::size_t>(line + len - 1 - value);
    if (key_len == 4 && std::memcmp(key, "size", 4) == 0) {
      if (have_size) {
        rc = VRIO_E_INVALID_STATE;
        break;
      }
      char text[MAX_LINE];
      std::memcpy(text, value, value_len);
      text[value_len] = '\0';
      if (!parse_size(text, &size))
        break;
      have_size = true;
      continue;
    }
    auto *p = static_cast<vr_t_meta_info_property *>(VR_malloc(sizeof(vr_t_meta_info_property)));
    if (p == nullptr) {
      rc = VRIO_E_OUT_OF_MEMORY;
      break;
    }
    p->key = copy_text(key, key_len);
    p->value = copy_text(value, value_len);
    p->next = info->properties;
    info->properties = p;
    if (p->key == nullptr || p->value == nullptr) {
      rc = VRIO_E_OUT_OF_MEMORY;
      break;
    }
  }
  free_meta_info(info);
  return rc;
}

/* Scans one file; the header when it holds at least one resource. */
vr_t_meta_info_header *scan_file(const char *path)
{
  VR_stream *s = nullptr;
  if (vr_fopen_internal(path, VR_FOPEN_READ | VR_FOPEN_BINARY | VR_FOPEN_LITERAL | VR_FOPEN_HIDDEN, 0, &s) < 0)
    return nullptr;
  /* The size of the file opened (a seek's counters start at 0, so they
     cannot tell it). */
  vrio_t_stat st{};
  if (vrio_stat(path, &st, VRIO_STAT_SIZE) < 0 || st.size > static_cast<std::uint64_t>(INT64_MAX)) {
    VR_fclose(s, VR_CLOSE_FORCE);
    return nullptr;
  }
  const auto length = static_cast<std::int64_t>(st.size);
  vr_t_meta_info_header *h = new_meta_info_header();
  if (h == nullptr) {
    VR_fclose(s, VR_CLOSE_FORCE);
    return nullptr;
  }
  h->stream = s;
  vr_t_backwards_stream bs{s, length, length, {}};
  vrio_buf_init_buf(&bs.buf);
  vr_t_meta_info *info = nullptr;
  while (scan_trailer(&bs, &info) == 1) {
    info->next = h->infos;
    h->infos = info;
  }
  free_backwards_stream(&bs);
  if (h->infos == nullptr) {
    free_meta_info_header(h);
    return nullptr;
  }
  return h;
}

vrio_t_error_code scan_configured_files(void)
{
  static const char *const variables[] = {"VR_RT_PATH", "VR_APP_PATH", "VR_EMBEDDED_RESOURCES_PATH"};
  vr_t_meta_info_header *chain = nullptr;
  for (const char *var : variables) {
    char *path = vr_getenv_internal(var, nullptr, nullptr, 1);
    if (path == nullptr)
      continue;
    vr_t_meta_info_header *h = scan_file(path);
    VR_free(path);
    if (h != nullptr) {
      h->next = chain;
      chain = h;
    }
  }
  if (chain == nullptr && (chain = new_meta_info_header()) == nullptr)
    return VRIO_E_OUT_OF_MEMORY;
  eglobal->embedded_resources = chain;
  return VRIO_S_NOERR;
}

const char *property(const vr_t_meta_info *info, const char *key)
{
  for (const vr_t_meta_info_property *p = info->properties; p != nullptr; p = p->next)
    if (std::strcmp(p->key, key) == 0)
      return p->value;
  return nullptr;
}

bool matches(const vr_t_meta_info *info, const char *name)
{
  if (const char *n = property(info, "name"); n != nullptr && std::strcmp(n, name) == 0)
    return true;
  const char *file = property(info, "file");
  if (file == nullptr)
    return false;
  const std::size_t fl = std::strlen(file), nl = std::strlen(name);
  return fl >= nl && std::strcmp(file + fl - nl, name) == 0;
}

vrio_t_error_code load(vr_t_meta_info_header *h, vr_t_meta_info *info)
{
  if (info->data != nullptr)
    return VRIO_S_NOERR;
  if (h->stream == nullptr || info->file_offset < 0 || info->length < 0)
    return VRIO_E_NOT_FOUND;
  if (info->length > INT_MAX)
    return VRIO_E_OUT_OF_MEMORY;
  const auto n = static_cast<std::size_t>(info->length);
  auto *data = static_cast<unsigned char *>(VR_malloc(n > 0 ? n : 1));
  if (data == nullptr)
    return VRIO_E_OUT_OF_MEMORY;
  vrio_t_error_code rc = seek_absolute(h->stream, info->file_offset);
  if (rc >= 0)
    rc = read_forward(h->stream, data, n);
  if (rc < 0) {
    VR_free(data);
    return rc;
  }
  info->data = data;
  return VRIO_S_NOERR;
}

} // namespace

vrio_t_error_code find_embedded_resource(const char *name, void **pdata, int *psize)
{
  if (eglobal->embedded_resources == nullptr) {
    vrio_t_error_code rc = scan_configured_files();
    if (rc < 0)
      return rc;
  }
  for (auto *h = static_cast<vr_t_meta_info_header *>(eglobal->embedded_resources); h != nullptr; h = h->next) {
    for (vr_t_meta_info *info = h->infos; info != nullptr; info = info->next) {
      if (!matches(info, name))
        continue;
      vrio_t_error_code rc = load(h, info);
      if (rc < 0)
        return rc;
      if (pdata != nullptr)
        *pdata = info->data;
      if (psize != nullptr)
        *psize = static_cast<int>(info->length);
      return VRIO_S_NOERR;
    }
  }
  return VRIO_E_NOT_FOUND;
}

int get_backwards_byte(vr_t_backwards_stream *bs)
{
  if (bs->buf.extent == 0) {
    if (bs->stream_pos == 0)
      return -1;
    vrio_t_error_code rc = vrio_buf_reserve(&bs->buf, 100);
    if (rc < 0)
      return rc;
    const auto capacity = static_cast<std::int64_t>(bs->buf.writable_size);
    const std::int64_t start = bs->stream_pos > capacity ? bs->stream_pos - capacity : 0;
    const auto n = static_cast<std::size_t>(bs->stream_pos - start);
    rc = seek_absolute(bs->stream, start);
    if (rc >= 0)
      rc = read_forward(bs->stream, bs->buf.buf, n);
    if (rc < 0)
      return rc;
    bs->buf.extent = n;
    bs->stream_pos = start;
  }
  return bs->buf.buf[--bs->buf.extent];
}

vrio_t_error_code backwards_looking_at_byte(vr_t_backwards_stream *bs, int b)
{
  const int c = get_backwards_byte(bs);
  if (c < 0)
    return static_cast<vrio_t_error_code>(c);
  return c == b ? VRIO_S_NOERR : VRIO_E_NOT_FOUND;
}

vr_t_meta_info_header *new_meta_info_header(void)
{
  auto *h = static_cast<vr_t_meta_info_header *>(VR_malloc(sizeof(vr_t_meta_info_header)));
  if (h != nullptr)
    *h = vr_t_meta_info_header{nullptr, nullptr, nullptr};
  return h;
}

void free_meta_info_header(vr_t_meta_info_header *h)
{
  while (h != nullptr) {
    vr_t_meta_info_header *next = h->next;
    if (h->stream != nullptr)
      VR_fclose(h->stream, VR_CLOSE_FORCE);
    free_meta_info(h->infos);
    VR_free(h);
    h = next;
  }
}

void free_meta_info(vr_t_meta_info *i)
{
  while (i != nullptr) {
    vr_t_meta_info *next = i->next;
    free_meta_info_property(i->properties);
    VR_free(i->data);
    VR_free(i);
    i = next;
  }
}

void free_meta_info_property(vr_t_meta_info_property *p)
{
  while (p != nullptr) {
    vr_t_meta_info_property *next = p->next;
    VR_free(p->key);
    VR_free(p->value);
    VR_free(p);
    p = next;
  }
}

void free_backwards_stream(vr_t_backwards_stream *bs) { vrio_buf_free(&bs->buf); }
