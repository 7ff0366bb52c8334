/* fli_terms.cpp: term access through term references: making terms,
 * reading them back, atoms, comparison and unification, integers as byte
 * arrays, reading a term from a string, and $ref_term/2.
 *
 * Foreign code holds term references (slot indices, globref.h), never
 * term words: anything that builds on the heap first makes room for its
 * whole term at once (heap_room), which may collect or move the heap, and
 * only then reads the terms of the references it was given.  Failures set
 * the interface error number (vostrel.h) and return 0.
 *
 * Engine thread only; every function works on the current worker.
 */
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "atom_text.h"
#include "atoms.h"
#include "bignum.h"
#include "datadefs.h"
#include "errors.h"
#include "fli.h"
#include "inline_builtins.h"
#include "memman.h"
#include "number_text.h"
#include "stack_growth.h"
#include "streams.h"
#include "term_order.h"
#include "term_writer.h"
#include "terms.h"
#include "unify.h"
#include "wam.h"
#include "wamsup.h"
#include "worker.h"

namespace {

/* Every builder keeps this many heap words free beyond its own term. */
constexpr int HEAP_PAD = 128;

inline TAGGED &slot(worker *w, VR_term_ref t) { return w->fli_stack_start[t].term; }
inline TAGGED ref_deref(worker *w, VR_term_ref t) { return deref(slot(w, t)); }

inline int fail_with(int error)
{
  vr_errno = error;
  return 0;
}

void heap_room(worker *w, long words)
{
  if (w->heap_warn - w->global_top < words + HEAP_PAD)
    call_overflow(w, static_cast<int>(words + HEAP_PAD), 0);
}

inline TAGGED new_heap_var(worker *w)
{
  TAGGED *h = w->global_top++;
  *h = PointerToTerm(h);
  return *h;
}

/* Small when it fits, else a one-digit box; the room is made by the caller. */
TAGGED integer_word(worker *w, VR_INTEGER i)
{
  return IntIsSmall(i) ? MakeSmall_checked(i) : make_integer(w, i);
}

bool valid_name(TAGGED name) { return IsAtom(name) && AtomIndex(name) < (1u << 20); }

/* The structure name/arity of the given argument terms at the heap top
   ('.'/2 a list cell, arity 0 the atom); 0 (error set) on bad arguments. */
int cons_functor(worker *w, VR_term_ref t, TAGGED name, int arity, const VR_term_ref *args)
{
  if (!valid_name(name))
    return fail_with(VR_ERR_TYPE);
  if (arity < 0 || arity > 255)
    return fail_with(VR_ERR_DOMAIN);
  if (arity == 0) {
    slot(w, t) = name;
    return 1;
  }
  heap_room(w, arity + 1);
  TAGGED *h = w->global_top;
  if (name == atom_dot && arity == 2) {
    w->global_top = h + 2;
    fli_place_arg(w, h, slot(w, args[0]));
    fli_place_arg(w, h + 1, slot(w, args[1]));
    slot(w, t) = MakeLST(h);
    return 1;
  }
  w->global_top = h + arity + 1;
  h[0] = MakeFunctor(name, static_cast<unsigned>(arity));
  for (int i = 0; i < arity; ++i)
    fli_place_arg(w, h + 1 + i, slot(w, args[i]));
  slot(w, t) = MakeSTR(h);
  return 1;
}

/* An integer that fits 32 bits: a small integer or a one-digit box. */
bool int32_of(TAGGED t, VR_INTEGER *out)
{
  if (IsSmall(t)) {
    *out = GetSmall(t);
    return true;
  }
  if (is_number_box(t) && *TagToSTR(t) == BOX_INT1) {
    *out = static_cast<VR_INTEGER>(TagToSTR(t)[1]);
    return true;
  }
  return false;
}

} // namespace

void fli_place_arg(worker *w, TAGGED *cell, TAGGED value)
{
  value = deref(value);
  if (IsVar(value) && TagToRef(value) >= cell) {
    TAGGED *var = TagToRef(value);
    *cell = PointerToTerm(cell);
    *var = *cell;
    if (var < w->local_uncond) {
      if (reinterpret_cast<TAGGED *>(w->node_) - w->trail_top < TRAIL_MARGIN)
        choice_overflow(w, TRAIL_MARGIN);
      *w->trail_top++ = PointerToTerm(var);
    }
  } else {
    *cell = value;
  }
}

/* ---- Making terms ---- */

int VR_put_variable(VR_term_ref t)
{
  worker *w = self;
  heap_room(w, 1);
  slot(w, t) = new_heap_var(w);
  return 1;
}

int VR_put_term(VR_term_ref t, VR_term_ref u)
{
  worker *w = self;
  slot(w, t) = slot(w, u);
  return 1;
}

int VR_put_integer(VR_term_ref t, long i)
{
  worker *w = self;
  heap_room(w, 3);
  slot(w, t) = integer_word(w, static_cast<VR_INTEGER>(i));
  return 1;
}

int VR_put_address(VR_term_ref t, void *p)
{
  return VR_put_integer(t, static_cast<long>(reinterpret_cast<std::intptr_t>(p)));
}

int VR_put_float(VR_term_ref t, double d)
{
  worker *w = self;
  heap_room(w, 4);
  slot(w, t) = make_float(w, d);
  return 1;
}

int VR_put_atom(VR_term_ref t, VR_atom a)
{
  if (!valid_name(a))
    return fail_with(VR_ERR_TYPE);
  slot(self, t) = a;
  return 1;
}

int VR_put_string(VR_term_ref t, const char *text)
{
  if (text == nullptr)
    return fail_with(VR_ERR_NULL_STRING);
  const TAGGED a = init_atom_check(text, 0);
  if (a == 0)
    return fail_with(VR_ERR_INVALID_STRING);
  slot(self, t) = a;
  return 1;
}

int VR_put_list(VR_term_ref t)
{
  worker *w = self;
  heap_room(w, 2);
  slot(w, t) = make_structure(w, functor_list);
  return 1;
}

int VR_put_functor(VR_term_ref t, VR_atom name, int arity)
{
  if (!valid_name(name))
    return fail_with(VR_ERR_TYPE);
  if (arity < 0 || arity > 255)
    return fail_with(VR_ERR_DOMAIN);
  worker *w = self;
  heap_room(w, arity + 1);
  slot(w, t) = make_structure(w, MakeFunctor(name, static_cast<unsigned>(arity)));
  return 1;
}

int VR_cons_functor_array(VR_term_ref t, VR_atom name, int arity, VR_term_ref *args)
{
  return cons_functor(self, t, name, arity, args);
}

int VR_cons_functor(VR_term_ref t, VR_atom name, int arity, ...)
{
  VR_term_ref args[255];
  if (arity < 0 || arity > 255)
    return cons_functor(self, t, name, arity, nullptr);
  std::va_list ap;
  va_start(ap, arity);
  for (int i = 0; i < arity; ++i)
    args[i] = va_arg(ap, VR_term_ref);
  va_end(ap);
  return cons_functor(self, t, name, arity, args);
}

int VR_cons_list(VR_term_ref t, VR_term_ref head, VR_term_ref tail)
{
  const VR_term_ref args[2] = {head, tail};
  return cons_functor(self, t, atom_dot, 2, args);
}

int VR_put_number_codes(VR_term_ref t, const char *text)
{
  if (text == nullptr)
    return fail_with(VR_ERR_NULL_STRING);
  worker *w = self;
  heap_room(w, 8);
  const TAGGED n = vr_string_to_number(text, 10, 0, 0);
  if (n == 0)
    return fail_with(VR_ERR_INVALID_NUMBER);
  slot(w, t) = n;
  return 1;
}

int VR_put_list_n_codes(VR_term_ref t, VR_term_ref tail, std::size_t n, const char *text)
{
  if (text == nullptr)
    return fail_with(VR_ERR_NULL_STRING);
  worker *w = self;
  /* At most two list words per byte, made before the tail is read. */
  heap_room(w, 2 * static_cast<long>(n));
  const TAGGED list = vr_n_codes_to_list(w, n, text, slot(w, tail), 1, 0, 0);
  if (list == 0)
    return fail_with(VR_ERR_INVALID_STRING);
  slot(w, t) = list;
  return 1;
}

int VR_put_list_codes(VR_term_ref t, VR_term_ref tail, const char *text)
{
  if (text == nullptr)
    return fail_with(VR_ERR_NULL_STRING);
  return VR_put_list_n_codes(t, tail, std::strlen(text), text);
}

int VR_put_list_n_bytes(VR_term_ref t, VR_term_ref tail, std::size_t n, const unsigned char *bytes)
{
  if (bytes == nullptr)
    return fail_with(VR_ERR_NULL_STRING);
  worker *w = self;
  heap_room(w, 2 * static_cast<long>(n));
  slot(w, t) = vr_n_bytes_to_list(w, n, bytes, slot(w, tail), 0, 0);
  return 1;
}

int VR_put_integer_bytes(VR_term_ref t, const void *buf, std::size_t size, int native)
{
  unsigned char le[8];
  const unsigned char *bytes = static_cast<const unsigned char *>(buf);
  if (native) {
    std::int64_t v;
    switch (size) {
    case 2: { std::int16_t x; std::memcpy(&x, buf, 2); v = x; break; }
    case 4: { std::int32_t x; std::memcpy(&x, buf, 4); v = x; break; }
    case 8: std::memcpy(&v, buf, 8); break;
    default: return fail_with(VR_ERR_INVALID_PREDICATE);
    }
    for (std::size_t i = 0; i < size; ++i)
      le[i] = static_cast<unsigned char>(static_cast<std::uint64_t>(v) >> (8 * i));
    bytes = le;
  }
  /* Bytes that only repeat the sign go, keeping one that carries it. */
  while (size >= 2 && ((bytes[size - 1] == 0x00 && !(bytes[size - 2] & 0x80)) ||
                       (bytes[size - 1] == 0xFF && (bytes[size - 2] & 0x80))))
    --size;
  if (size <= 4) {
    std::uint32_t v = size > 0 && (bytes[size - 1] & 0x80) ? 0xFFFFFFFFu : 0;
    for (std::size_t i = size; i-- > 0;)
      v = (v << 8) | bytes[i];
    return VR_put_integer(t, static_cast<long>(static_cast<std::int32_t>(v)));
  }
  worker *w = self;
  int r = 0;
  for (int attempt = 0; attempt < 2; ++attempt) {
    /* One word stays for the box's closing header. */
    r = bn_from_bytes(bytes, size, w->global_top, w->heap_warn - 1);
    if (r <= 0)
      break;
    call_overflow(w, r + HEAP_PAD, 0);
  }
  if (r != 0)
    VR_raise_fault("miscalculated size of bignum");
  TAGGED *h = w->global_top;
  const unsigned words = BoxWords(h[0]);
  h[words] = h[0];
  w->global_top = h + words + 1;
  slot(w, t) = MakeSTR(h);
  return 1;
}

/* ---- Reading terms ---- */

int VR_get_integer(VR_term_ref t, long *i)
{
  const TAGGED x = ref_deref(self, t);
  VR_INTEGER v;
  if (int32_of(x, &v)) {
    *i = v;
    return 1;
  }
  if (is_float_box(x)) {
    /* Truncated toward zero; a value that does not fit 32 bits is a type
       error (a plain conversion of it would be undefined). */
    const double d = std::trunc(vri_get_float(x));
    if (d >= -2147483648.0 && d <= 2147483647.0) {
      *i = static_cast<long>(d);
      return 1;
    }
  }
  return fail_with(VR_ERR_TYPE);
}

int VR_get_float(VR_term_ref t, double *d)
{
  const TAGGED x = ref_deref(self, t);
  if (IsSmall(x)) {
    *d = GetSmall(x);
    return 1;
  }
  if (is_float_box(x)) {
    *d = vri_get_float(x);
    return 1;
  }
  if (is_number_box(x)) {
    /* Through the text, so that long integers round correctly. */
    const char *text = vr_number_to_string(x, 10, 0);
    if (text != nullptr) {
      *d = std::strtod(text, nullptr);
      return 1;
    }
  }
  return fail_with(VR_ERR_TYPE);
}

int VR_get_atom(VR_term_ref t, VR_atom *a)
{
  const TAGGED x = ref_deref(self, t);
  if (!IsAtom(x))
    return fail_with(VR_ERR_TYPE);
  *a = x;
  return 1;
}

int VR_get_string(VR_term_ref t, const char **text)
{
  const TAGGED x = ref_deref(self, t);
  if (!IsAtom(x))
    return fail_with(VR_ERR_TYPE);
  *text = atom_name(x);
  return 1;
}

int VR_get_address(VR_term_ref t, void **p)
{
  VR_INTEGER v;
  if (!int32_of(ref_deref(self, t), &v))
    return fail_with(VR_ERR_TYPE);
  *p = reinterpret_cast<void *>(static_cast<std::intptr_t>(v));
  return 1;
}

int VR_get_functor(VR_term_ref t, VR_atom *name, int *arity)
{
  const TAGGED x = ref_deref(self, t);
  if (IsAtom(x)) {
    *name = x;
    *arity = 0;
  } else if (IsList(x)) {
    *name = atom_dot;
    *arity = 2;
  } else if (IsStructure(x) && !is_number_box(x)) {
    const TAGGED f = *TagToSTR(x);
    *name = FunctorName(f);
    *arity = static_cast<int>(Arity(f));
  } else {
    return fail_with(VR_ERR_TYPE);
  }
  return 1;
}

int VR_get_list(VR_term_ref l, VR_term_ref head, VR_term_ref tail)
{
  worker *w = self;
  const TAGGED x = ref_deref(w, l);
  if (!IsList(x))
    return fail_with(VR_ERR_TYPE);
  slot(w, head) = TagToLST(x)[0];
  slot(w, tail) = TagToLST(x)[1];
  return 1;
}

int VR_get_arg(int i, VR_term_ref t, VR_term_ref arg)
{
  worker *w = self;
  const TAGGED x = ref_deref(w, t);
  if (IsList(x) && (i == 1 || i == 2)) {
    slot(w, arg) = TagToLST(x)[i - 1];
    return 1;
  }
  if (IsStructure(x) && !is_number_box(x) && i >= 1 && i <= static_cast<int>(Arity(*TagToSTR(x)))) {
    slot(w, arg) = TagToSTR(x)[i];
    return 1;
  }
  return fail_with(VR_ERR_TYPE);
}

int VR_get_number_codes(VR_term_ref t, const char **text)
{
  const TAGGED x = ref_deref(self, t);
  const char *s = is_number_term(x) ? vr_number_to_string(x, 10, 0) : nullptr;
  if (s == nullptr)
    return fail_with(VR_ERR_TYPE);
  *text = s;
  return 1;
}

int VR_get_list_codes(VR_term_ref t, const char **text)
{
  char *s = nullptr;
  if (vr_list_to_string(ref_deref(self, t), 1, &s) != 1)
    return fail_with(VR_ERR_TYPE);
  *text = s;
  return 1;
}

int VR_get_list_n_codes(VR_term_ref t, VR_term_ref tail, std::size_t n, std::size_t *written, char *buf)
{
  if (buf == nullptr)
    return fail_with(VR_ERR_NULL_STRING);
  worker *w = self;
  std::size_t nw = 0;
  const TAGGED rest = vr_list_to_n_codes(ref_deref(w, t), n, &nw, buf);
  if (rest == 0)
    return fail_with(VR_ERR_DOMAIN);
  slot(w, tail) = rest;
  *written = nw;
  return 1;
}

int VR_get_list_n_bytes(VR_term_ref t, VR_term_ref tail, std::size_t n, std::size_t *written,
                        unsigned char *buf)
{
  if (buf == nullptr)
    return fail_with(VR_ERR_NULL_STRING);
  worker *w = self;
  TAGGED l = ref_deref(w, t);
  std::size_t k = 0;
  for (; k < n && IsList(l); ++k) {
    const TAGGED e = deref(TagToLST(l)[0]);
    if (!IsSmall(e) || GetSmall(e) < 0 || GetSmall(e) > 255)
      return fail_with(VR_ERR_DOMAIN);
    buf[k] = static_cast<unsigned char>(GetSmall(e));
    l = deref(TagToLST(l)[1]);
  }
  slot(w, tail) = l;
  *written = k;
  return 1;
}

int get_integer_bytes(TAGGED t, void *buf, std::size_t *size, int native)
{
  t = deref(t);
  unsigned char *out = static_cast<unsigned char *>(buf);
  const std::size_t given = *size;
  if (IsSmall(t)) {
    const VR_INTEGER v = GetSmall(t);
    std::size_t k = 1;
    while (k < 4 && !(v >= -(1 << (8 * k - 1)) && v < (1 << (8 * k - 1))))
      ++k;
    *size = k;
    if (given < k)
      return VRIO_E_INSUFFICIENT_BUFFER;
    if (native) {
      switch (given) {
      case 2: { const std::int16_t x = static_cast<std::int16_t>(v); std::memcpy(out, &x, 2); break; }
      case 4: { const std::int32_t x = v; std::memcpy(out, &x, 4); break; }
      case 8: { const std::int64_t x = v; std::memcpy(out, &x, 8); break; }
      default: return VRIO_E_NOT_SUPPORTED;
      }
      *size = given;
      return 0;
    }
    for (std::size_t i = 0; i < given; ++i)
      out[i] = static_cast<unsigned char>(i < 4 ? static_cast<std::uint32_t>(v) >> (8 * i) : (v < 0 ? 0xFF : 0));
    return 0;
  }
  if (is_number_box(t) && !BoxIsFloat(*TagToSTR(t))) {
    std::size_t k = given;
    if (!bn_to_bytes(TagToSTR(t), out, &k)) {
      *size = k;
      return VRIO_E_INSUFFICIENT_BUFFER;
    }
    *size = k;
    if (native) {
      if (given != 2 && given != 4 && given != 8)
        return VRIO_E_NOT_SUPPORTED;
      if (k > given)
        return VRIO_E_INSUFFICIENT_BUFFER;
      /* Little-endian already: the native integer of an i386 is that. */
      *size = given;
    }
    return 0;
  }
  return VRIO_E_PARAMETER_ERROR;
}

int VR_get_integer_bytes(VR_term_ref t, void *buf, std::size_t *size, int native)
{
  const int r = get_integer_bytes(slot(self, t), buf, size, native);
  if (r == 0)
    return 1;
  return fail_with(r == VRIO_E_PARAMETER_ERROR || r == VRIO_E_NOT_SUPPORTED ? VR_ERR_TYPE : VR_ERR_UNKNOWN);
}

/* ---- Type tests ---- */

int VR_term_type(VR_term_ref t)
{
  const TAGGED x = ref_deref(self, t);
  if (IsVar(x))
    return VR_TERM_VARIABLE;
  if (IsAtom(x))
    return VR_TERM_ATOM;
  if (is_float_box(x))
    return VR_TERM_FLOAT;
  if (is_integer_term(x))
    return VR_TERM_INTEGER;
  return VR_TERM_COMPOUND;
}

int VR_is_variable(VR_term_ref t) { return IsVar(ref_deref(self, t)); }
int VR_is_integer(VR_term_ref t) { return is_integer_term(ref_deref(self, t)); }
int VR_is_float(VR_term_ref t) { return is_float_box(ref_deref(self, t)); }
int VR_is_atom(VR_term_ref t) { return IsAtom(ref_deref(self, t)); }
int VR_is_compound(VR_term_ref t) { return VR_term_type(t) == VR_TERM_COMPOUND; }
int VR_is_list(VR_term_ref t) { return IsList(ref_deref(self, t)); }
int VR_is_atomic(VR_term_ref t) { return is_atomic_term(ref_deref(self, t)); }
int VR_is_number(VR_term_ref t) { return is_number_term(ref_deref(self, t)); }

/* ---- Atoms ---- */

VR_atom VR_atom_from_string(const char *text)
{
  const TAGGED a = text != nullptr ? init_atom_check(text, 0) : 0;
  if (a == 0)
    vr_errno = VR_ERR_INVALID_STRING;
  return a;
}

VR_atom VR_existing_atom_from_string(const char *text)
{
  return text != nullptr ? init_atom_check(text, 1) : 0;
}

const char *VR_string_from_atom(VR_atom a)
{
  if (!IsAtom(a)) {
    vr_errno = VR_ERR_TYPE;
    return nullptr;
  }
  return atom_name(a);
}

std::size_t VR_atom_length(VR_atom a)
{
  if (!IsAtom(a)) {
    vr_errno = VR_ERR_TYPE;
    return 0;
  }
  return atom_record(a)->length;
}

/* ---- Comparing, unifying, printing ---- */

int VR_compare(VR_term_ref t, VR_term_ref u)
{
  worker *w = self;
  const TAGGED x = ref_deref(w, t), y = ref_deref(w, u);
  if (x == y)
    return 0;
  if (IsVar(x) && IsVar(y))
    return x < y ? -1 : 1;
  if (IsVar(x))
    return -1;
  if (IsVar(y))
    return 1;
  return compare_terms(w, x, y);
}

int VR_unify(VR_term_ref t, VR_term_ref u)
{
  worker *w = self;
  /* A choicepoint of its own makes every existing variable older than it,
     so each binding is trailed and can be undone.  Distances, not
     pointers: unifying may move the choicepoint area. */
  const std::ptrdiff_t depth = w->choice_start - reinterpret_cast<TAGGED *>(w->node_);
  const std::ptrdiff_t mark = w->trail_top - w->trail_start;
  const std::uint32_t wake = w->wake_count;
  wam_push_choicepoint(w, fail_alt);
  const int r = cunify(w, slot(w, t), slot(w, u));
  if (!r) {
    TAGGED *const stop = w->trail_start + mark;
    for (TAGGED *e = w->trail_top; e > stop;) {
      const TAGGED last = *--e;
      if (trail_ends_mutable(last)) {
        e -= TRAIL_MUTABLE_WORDS - 1;
        TAGGED *m = TagToSTR(e[0]);
        m[1] = e[1];
        m[2] = e[2];
      } else if (trail_is_binding(last)) {
        *TagToRef(last) = last;
      }
    }
    w->trail_top = stop;
    w->wake_count = wake;
    if (wake == 0)
      w->heap_warn_soft = w->int_heap_warn;
  }
  w->node_ = reinterpret_cast<node *>(w->choice_start - depth);
  w->global_uncond = w->node_->global_top;
  w->local_uncond = w->node_->local_top;
  return r;
}

void VR_write_term(VR_term_ref t) { wr_tagged(slot(self, t)); }

char *vr_variable_to_string(VR_term_ref t, char *buf)
{
  worker *w = self;
  const TAGGED x = ref_deref(w, t);
  std::sprintf(buf, "_%ld", static_cast<long>(TagToRef(x) - w->heap_start));
  return buf;
}

/* ---- Memory ---- */

void *VR_calloc(std::size_t n, std::size_t size)
{
  if (size != 0 && n > SIZE_MAX / size)
    return nullptr;
  void *p = VR_malloc(n * size);
  if (p != nullptr)
    std::memset(p, 0, n * size);
  return p;
}

char *VR_strdup(const char *text)
{
  const std::size_t n = std::strlen(text) + 1;
  char *p = static_cast<char *>(VR_malloc(n));
  if (p != nullptr)
    std::memcpy(p, text, n);
  return p;
}

/* ---- Reading a term from a string ---- */

int VR_read_from_string(VR_term_ref t, const char *text, VR_term_ref *values)
{
  worker *w = self;
  if (text == nullptr)
    return fail_with(VR_ERR_NULL_STRING);
  const VR_term_ref mark = VR_new_term_refs(0);
  VR_stream *s = nullptr;
  if (!VR_stream_from_string(text, &s))
    return 0;
  int result = 0;
  definition *d = VR_predicate("read_from_string_helper", 3, "prolog");
  if (d != nullptr) {
    const VR_term_ref args = VR_new_term_refs(3);
    VR_put_address(args, s);
    VR_put_variable(args + 2);
    /* The values, last first, in front of []. */
    slot(w, args + 1) = atom_nil;
    std::size_t n = 0;
    while (values != nullptr && values[n] != 0)
      ++n;
    for (std::size_t i = n; i-- > 0;)
      VR_cons_list(args + 1, values[i], args + 1);
    VR_put_term(t, args + 2);
    const TAGGED goal_args[3] = {slot(w, args), slot(w, args + 1), slot(w, args + 2)};
    result = vr_query_once(d, goal_args, true, true) == 1;
  }
  VR_fclose(s, 1);
  VR_reset_term_refs(mark);
  return result;
}

/* ---- $ref_term(Key, Value) ---- */

int prolog_ref_term(worker *w)
{
  const TAGGED key = deref(w->term[0]);
  VR_term_ref ref = -1;
  if (IsSmall(key))
    ref = GetSmall(key);
  else if (key == init_atom_check("clpfd", 1))
    ref = FLI_SLOT_CLPFD;
  else if (key == init_atom_check("tessik", 1))
    ref = FLI_SLOT_TESSIK;
  else if (key == init_atom_check("global", 1))
    ref = FLI_SLOT_GLOBAL;
  else if (key == init_atom_check("reserved", 1))
    ref = FLI_SLOT_RESERVED;
  if (ref < 0 || ref >= w->fli_stack_index)
    return 0;
  return cunify(w, w->fli_stack_start[ref].term, w->term[1]);
}
