/* text_lists.cpp: lists of codes, characters and bytes to and from text
 * (see atom_text.h).
 *
 * List builders reserve their heap once, for the worst case of every byte
 * being a character whose code needs a box, and then lay the list down
 * front to back in one pass.  A tail that is an unbound variable off the
 * heap (a local-stack cell) is first replaced by a fresh heap variable:
 * a heap cell must never point into the local stack.
 */
#include "atom_text.h"

#include <cstring>

#include "atoms.h"
#include "chartype.h"
#include "datadefs.h"
#include "memman.h"
#include "stack_growth.h"
#include "terms.h"
#include "unify.h"
#include "vostrel/vrio_errors.h"
#include "worker.h"

/* ---- Characters of internal text ---- */

const unsigned char *wci_next_char(const unsigned char *p, const unsigned char *end, int *code)
{
  const unsigned extra = wci_extra_bytes[*p];
  if (extra > 5) {
    *code = 128;
    return p + 1;
  }
  unsigned c = extra == 0 ? *p : *p & (0x3Fu >> extra);
  const unsigned char *q = p + 1;
  for (unsigned k = 0; k < extra; k++, q++) {
    if (q >= end || (*q & 0xC0) != 0x80) {
      *code = 128;
      return q;
    }
    c = (c << 6) | (*q & 0x3F);
  }
  *code = static_cast<int>(c);
  return q;
}

long wci_char_count(const char *text)
{
  const unsigned char *p = reinterpret_cast<const unsigned char *>(text);
  const unsigned char *end = p + std::strlen(text);
  long n = 0;
  int code;
  for (; p < end; n++)
    p = wci_next_char(p, end, &code);
  return n;
}

TAGGED char_atom(int code)
{
  if (code >= 0 && code <= 255)
    return eglobal->one_char_cache[code];
  char text[8];
  const int n = VR_code_wci(text, code);
  if (n < 0)
    return 0;
  text[n] = '\0';
  return init_atom_check(text, 0);
}

bool code_of_term(TAGGED t, int *code)
{
  if (IsSmall(t)) {
    if (GetSmall(t) < 0)
      return false;
    *code = static_cast<int>(GetSmall(t));
    return true;
  }
  /* A one-word boxed integer: codes up to 2^31 - 1. */
  if (IsStructure(t) && *TagToSTR(t) == BOX_INT1 && static_cast<std::int32_t>(TagToSTR(t)[1]) >= 0) {
    *code = static_cast<int>(TagToSTR(t)[1]);
    return true;
  }
  return false;
}

bool code_of_char_atom(TAGGED t, int *code)
{
  if (!IsAtom(t))
    return false;
  const atom *a = atom_record(t);
  const unsigned char *p = reinterpret_cast<const unsigned char *>(a->name);
  const unsigned char *end = p + a->length;
  return a->length > 0 && wci_next_char(p, end, code) == end;
}

/* ---- Lists to text ---- */

long list_length(TAGGED list)
{
  TAGGED slow = deref(list), fast = slow;
  long n = 0;
  for (;;) {
    for (int i = 0; i < 2; i++) {
      if (fast == atom_nil)
        return n;
      if (!IsList(fast))
        return LIST_PARTIAL;
      fast = deref(TagToLST(fast)[1]);
      n++;
    }
    slow = deref(TagToLST(slow)[1]);
    if (slow == fast)
      return LIST_CYCLIC;
  }
}

int vr_list_to_string(TAGGED list, int codesp, char **ps)
{
  std::size_t capacity = 256, length = 0;
  char *buffer = ensure_atom_buffers(BASE_ATOMBUF, static_cast<unsigned>(capacity));
  bool acyclic = false;
  TAGGED l = deref(list);
  for (; IsList(l); l = deref(TagToLST(l)[1])) {
    const TAGGED e = deref(TagToLST(l)[0]);
    if (IsVar(e))
      return 0;
    int code;
    if (!(codesp ? code_of_term(e, &code) : code_of_char_atom(e, &code)))
      return -1;
    if (length + 7 > capacity) {
      /* Only a list that outgrows the buffer can be cyclic. */
      if (!acyclic && list_length(list) == LIST_CYCLIC)
        return -1;
      acyclic = true;
      capacity = 2 * (length + 7);
      buffer = ensure_atom_buffers(BASE_ATOMBUF, static_cast<unsigned>(capacity));
    }
    length += static_cast<std::size_t>(VR_code_wci(buffer + length, code));
  }
  if (IsVar(l))
    return 0;
  if (l != atom_nil)
    return -1;
  buffer[length] = '\0';
  *ps = buffer;
  return 1;
}

TAGGED vr_list_to_n_codes(TAGGED list, std::size_t n, std::size_t *pnw, char *buffer)
{
  std::size_t written = 0;
  TAGGED l = deref(list);
  for (; IsList(l); l = deref(TagToLST(l)[1])) {
    int code;
    if (!code_of_term(deref(TagToLST(l)[0]), &code)) {
      *pnw = written;
      return 0;
    }
    const std::size_t k = static_cast<std::size_t>(VR_code_wci(nullptr, code));
    if (written + k > n)
      break;
    VR_code_wci(buffer + written, code);
    written += k;
  }
  *pnw = written;
  return l;
}

long vr_list_to_codes(TAGGED list, std::int32_t **pcodes, unsigned options)
{
  const long n = list_length(list);
  if (n < 0)
    return n;
  std::int32_t *codes = static_cast<std::int32_t *>(VR_malloc(n > 0 ? static_cast<std::size_t>(n) * 4 : 4));
  if (codes == nullptr)
    return VRIO_E_OUT_OF_MEMORY;
  TAGGED l = deref(list);
  for (long i = 0; i < n; i++, l = deref(TagToLST(l)[1])) {
    const TAGGED e = deref(TagToLST(l)[0]);
    int code;
    if (!(((options & 1) != 0 && code_of_term(e, &code)) || ((options & 2) != 0 && code_of_char_atom(e, &code)))) {
      VR_free(codes);
      return VRIO_E_PARAMETER_ERROR;
    }
    codes[i] = code;
  }
  if (pcodes == nullptr)
    VR_free(codes);
  else
    *pcodes = codes;
  return n;
}

/* ---- Text to lists ---- */

namespace {

/* Builds the list of the elements `next` yields in front of tail, after
   making `need` heap words free.  next(&element) returns false at the end
   and may build a box on the heap first; an element 0 abandons the list. */
template <typename Next> TAGGED build_list(worker *w, long need, int arity, TAGGED tail, Next next)
{
  if (w->heap_warn - w->global_top < need) {
    w->term[arity] = tail;
    call_overflow(w, static_cast<int>(need), arity + 1);
    tail = w->term[arity];
  }
  tail = deref(tail);
  if (IsVar(tail) && !(TagToRef(tail) >= w->heap_start && TagToRef(tail) < w->global_top)) {
    TAGGED *cell = w->global_top++;
    *cell = PointerToTerm(cell);
    bind(w, tail, *cell);
    tail = *cell;
  }
  TAGGED list = tail;
  TAGGED *last = &list;
  TAGGED element;
  while (next(&element)) {
    if (element == 0)
      return 0;
    TAGGED *cell = w->global_top;
    w->global_top = cell + 2;
    cell[0] = element;
    cell[1] = tail;
    *last = MakeLST(cell);
    last = cell + 1;
  }
  return list;
}

TAGGED code_element(worker *w, int code, int codesp)
{
  if (!codesp)
    return char_atom(code);
  return IntIsSmall(code) ? MakeSmall_checked(code) : make_integer(w, code);
}

} // namespace

TAGGED vr_n_codes_to_list(worker *w, std::size_t n, const char *text, TAGGED tail, int codesp, int pad,
                          int arity)
{
  const unsigned char *p = reinterpret_cast<const unsigned char *>(text);
  const unsigned char *end = p + n;
  return build_list(w, static_cast<long>(n) * 5 + 129 + pad, arity, tail, [&](TAGGED *element) {
    if (p >= end)
      return false;
    int code;
    p = wci_next_char(p, end, &code);
    *element = code_element(w, code, codesp);
    return true;
  });
}

TAGGED vr_n_ints_to_list(worker *w, std::size_t n, const std::int32_t *codes, TAGGED tail, int codesp,
                         int pad, int arity)
{
  std::size_t i = 0;
  return build_list(w, static_cast<long>(n) * 5 + 128 + pad, arity, tail, [&](TAGGED *element) {
    if (i >= n)
      return false;
    const std::int32_t code = codes[i++];
    *element = codesp ? code_element(w, code, 1) : char_atom(code & 0x7FFFFFFF);
    return true;
  });
}

TAGGED vr_n_bytes_to_list(worker *w, std::size_t n, const unsigned char *bytes, TAGGED tail, int pad,
                          int arity)
{
  std::size_t i = 0;
  return build_list(w, static_cast<long>(n) * 2 + 128 + pad, arity, tail, [&](TAGGED *element) {
    if (i >= n)
      return false;
    *element = MakeSmall_checked(bytes[i++]);
    return true;
  });
}
