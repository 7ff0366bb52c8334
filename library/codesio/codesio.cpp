/* codesio.cpp: code-list streams (see codesio.h).
 *
 * A record per stream: the codes (32-bit), flags (1 open for reading, 2
 * open for writing), the index (codes delivered, or codes written) and the
 * length (codes to read, or the capacity).  Reads copy whole codes; writes
 * double the capacity, or grow it to what is needed when doubling is not
 * enough.  Engine thread only.
 */
#include "codesio.h"

#include <cstring>

#include "atom_text.h"
#include "atoms.h"
#include "chartype.h"
#include "datadefs.h"
#include "memman.h"
#include "stack_growth.h"
#include "terms.h"
#include "unify.h"
#include "worker.h"

namespace {

struct codesio_t_open_codes {
  std::int32_t *codes;
  unsigned flags;
  std::size_t index;
  std::size_t len;
};
constexpr unsigned CODES_READ = 1, CODES_WRITE = 2;

/* The user class of these streams is the address of codes_to_stream. */
const void *codes_class() { return reinterpret_cast<const void *>(&codes_to_stream); }

vrio_t_error_code codesio_read(void *user_data, void *buf, std::size_t *size, vrio_t_bits)
{
  auto *c = static_cast<codesio_t_open_codes *>(user_data);
  if (c->index >= c->len)
    return VRIO_E_END_OF_FILE;
  std::size_t n = c->len - c->index;
  if (n > *size / 4)
    n = *size / 4;
  std::memcpy(buf, c->codes + c->index, n * 4);
  c->index += n;
  *size = n * 4;
  return VRIO_S_NOERR;
}

vrio_t_error_code codesio_write(void *user_data, const void *buf, std::size_t *size, vrio_t_bits)
{
  auto *c = static_cast<codesio_t_open_codes *>(user_data);
  const std::size_t n = *size / 4;
  if (c->index + n > c->len) {
    std::size_t want = 2 * c->len;
    if (want < c->index + n)
      want = c->index + n;
    auto *grown = static_cast<std::int32_t *>(VR_realloc(c->codes, want * 4));
    if (grown == nullptr)
      return VRIO_E_OUT_OF_MEMORY;
    c->codes = grown;
    c->len = want;
  }
  std::memcpy(c->codes + c->index, buf, n * 4);
  c->index += n;
  *size = n * 4;
  return VRIO_S_NOERR;
}

vrio_t_error_code codesio_user_close(void **puser_data, vrio_t_bits options)
{
  auto *c = static_cast<codesio_t_open_codes *>(*puser_data);
  if (options & VRIO_DEVICE_CLOSE_READ)
    c->flags &= ~CODES_READ;
  if (options & VRIO_DEVICE_CLOSE_WRITE)
    c->flags &= ~CODES_WRITE;
  if (c->flags != 0)
    return VRIO_S_NOERR;
  VR_free(c->codes);
  VR_free(c);
  *puser_data = nullptr;
  return VRIO_S_NOERR;
}

/* An input stream over text, or an output stream when text is null. */
VR_stream *codesio_stream(const char *text, VR_stream **out)
{
  auto *c = static_cast<codesio_t_open_codes *>(VR_malloc(sizeof(codesio_t_open_codes)));
  if (c == nullptr)
    return nullptr;
  if (text != nullptr) {
    const std::size_t bytes = std::strlen(text);
    c->flags = CODES_READ;
    c->codes = static_cast<std::int32_t *>(VR_malloc(bytes > 0 ? bytes * 4 : 4));
    c->index = 0;
    c->len = 0;
    if (c->codes == nullptr) {
      VR_free(c);
      return nullptr;
    }
    for (const char *p = text; *p != '\0';) {
      int code;
      const int n = VR_wci_code(&code, p);
      if (n <= 0) { /* a malformed sequence: -10001 */
        VR_free(c->codes);
        VR_free(c);
        return nullptr;
      }
      c->codes[c->len++] = code;
      p += n;
    }
  } else {
    c->flags = CODES_WRITE;
    c->len = 1024;
    c->index = 0;
    c->codes = static_cast<std::int32_t *>(VR_malloc(c->len * 4));
    if (c->codes == nullptr) {
      VR_free(c);
      return nullptr;
    }
  }
  VR_stream *s = nullptr;
  if (VR_create_stream(c, codes_class(), text != nullptr ? codesio_read : nullptr,
                       text != nullptr ? nullptr : codesio_write, nullptr, nullptr, codesio_user_close, nullptr,
                       nullptr, nullptr, 0x2, &s) < 0) {
    VR_free(c->codes);
    VR_free(c);
    return nullptr;
  }
  *out = s;
  return s;
}

} // namespace

VR_stream *codes_to_stream(const char *text, VR_stream **stream)
{
  return codesio_stream(text, stream);
}

VR_stream *open_buf_stream(VR_stream **stream)
{
  return codesio_stream(nullptr, stream);
}

void stream_to_codes(VR_stream *stream, VR_term_ref head, VR_term_ref tail)
{
  worker *w = self;
  VR_globref h = vr_get_globref_checked(head, w);
  VR_globref t = vr_get_globref_checked(tail, w);
  void *data = nullptr;
  if (h == nullptr || t == nullptr)
    return;
  if (VR_flush_output(stream, 0) < 0 || VR_get_stream_user_data(stream, codes_class(), &data) < 0 ||
      data == nullptr || !(static_cast<codesio_t_open_codes *>(data)->flags & CODES_WRITE)) {
    h->term = init_atom_check("error", 0);
    return;
  }
  const auto *c = static_cast<codesio_t_open_codes *>(data);
  /* Room first: nothing built below may move. */
  const long need = 2 * static_cast<long>(c->index) + 3 * static_cast<long>(c->index) + 130;
  if (w->heap_warn - w->global_top < need)
    call_overflow(w, static_cast<int>(need), 0);
  TAGGED *var = w->global_top++;
  *var = PointerToTerm(var);
  TAGGED list = PointerToTerm(var);
  for (std::size_t i = c->index; i-- > 0;) {
    const std::int32_t code = c->codes[i];
    const TAGGED element = IntIsSmall(code) ? MakeSmall_checked(code) : make_integer(w, code);
    TAGGED *cell = w->global_top;
    w->global_top += 2;
    cell[0] = element;
    cell[1] = list;
    list = MakeLST(cell);
  }
  /* The references may have moved with the stack: look them up again. */
  vr_get_globref_checked(tail, w)->term = PointerToTerm(var);
  vr_get_globref_checked(head, w)->term = list;
}

void codesio_init(int) {}

void codesio_deinit(int)
{
  VR_fclose(reinterpret_cast<VR_stream *>(const_cast<void *>(codes_class())), VR_CLOSE_USER_CLASS | VR_CLOSE_FORCE);
}

/* ---- The resource ---- */

namespace {

VR_GlueFun codesio_funcs[] = {reinterpret_cast<VR_GlueFun>(&codes_to_stream),
                              reinterpret_cast<VR_GlueFun>(&open_buf_stream),
                              reinterpret_cast<VR_GlueFun>(&stream_to_codes), nullptr};
const char *codesio_prednames[] = {"$codes_to_stream", "$open_buf_stream", "$stream_to_codes", nullptr};
const int codesio_arities[] = {2, 1, 3, 0};

} // namespace

extern "C" int vr_main_VRENV_codesio(VR_MAINFUN_PARAMS *p)
{
  if (const int rc = vr_mainfun_check(p))
    return rc;
  p->flags += VR_MAINFUN_WHEN_ONLY;
  p->funcs = codesio_funcs;
  p->prednames = codesio_prednames;
  p->arities = codesio_arities;
  p->init_fun = reinterpret_cast<VR_GlueFun>(&codesio_init);
  p->deinit_fun = reinterpret_cast<VR_GlueFun>(&codesio_deinit);
  return 0;
}
