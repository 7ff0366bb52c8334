/* number_text.cpp: the number parser and printer shared by the whole runtime.
 *
 * The parser looks at bytes and classifies each byte as a code through the
 * character-class cache.  Integers of up to 8 decimal digits are converted
 * directly; every other integer goes through bn_from_string straight into
 * the free heap, so no length limit applies, and is committed only when it
 * does not fit a small integer.  Floats are read by vr_strtod (correctly
 * rounded) and boxed with make_float.
 *
 * Heap room: a boxed result needs pad + 128 words beyond itself; when that
 * is short the heap is expanded with call_overflow, keeping `arity`
 * argument registers live.  A big integer is tried in the free heap minus
 * that margin; its converter names the words it lacks, the heap grows by
 * that much plus the margin and the conversion is repeated once.
 *
 * Floats are laid out by format's float directive (format_float), the
 * letter and argument taken from the writer's options (H and 3 without).
 * The text after 0' is decoded by the tokenizer's escape decoder
 * (single_quoted_character), so both read 0' constants one way.
 */
#include "number_text.h"

#include <cstdint>
#include <cstring>
#include <string>

#include "atoms.h"
#include "bignum.h"
#include "chartype.h"
#include "errors.h"
#include "float_conv.h"
#include "format_numbers.h"
#include "stack_growth.h"
#include "terms.h"
#include "tokenizer.h"
#include "worker.h"

namespace {

constexpr int HEAP_MARGIN = 128;

long free_heap_words(const worker *w)
{
  return w->stack_start - w->global_top;
}

void ensure_heap(worker *w, long words, int arity)
{
  if (free_heap_words(w) >= words)
    return;
  call_overflow(w, static_cast<int>(words), arity);
}

int digit_value(unsigned char c)
{
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'z')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'Z')
    return c - 'A' + 10;
  return 99;
}

bool is_layout(unsigned char c)
{
  return c != 0 && ch_type(c) == CH_WHITE;
}

TAGGED integer_from_digits(worker *w, const char *digits, int radix, bool negative, int pad, int arity)
{
  std::string text;
  text.reserve(std::strlen(digits) + 1);
  if (negative)
    text.push_back('-');
  text.append(digits);
  long margin = pad + HEAP_MARGIN;
  for (int attempt = 0;; ++attempt) {
    TAGGED *z = w->global_top;
    TAGGED *zmax = w->stack_start - margin;
    if (zmax < z)
      zmax = z;
    int rc = bn_from_string(text.c_str(), z, zmax, radix);
    if (rc < 0)
      return 0;  /* no header can describe a number that long */
    if (rc > 0) {
      if (attempt > 0)
        VR_raise_fault("miscalculated size of bignum");
      ensure_heap(w, rc + margin, arity);
      continue;
    }
    TAGGED header = z[0];
    if (BoxPayload(header) == 1 && IntIsSmall(static_cast<VR_INTEGER>(z[1])))
      return MakeSmall_checked(static_cast<VR_INTEGER>(z[1]));
    unsigned words = BoxWords(header);
    z[words] = header;
    w->global_top = z + words + 1;
    return MakeSTR(z);
  }
}

} // namespace

TAGGED vr_string_to_number(const char *text, int radix, int pad, int arity)
{
  worker *w = self;
  if (text == nullptr || radix < 2 || radix > 36)
    return 0;
  const auto *s = reinterpret_cast<const unsigned char *>(text);
  while (is_layout(*s))
    ++s;
  if (*s == 0)
    return 0;
  bool negative = false;
  if (*s == '+' || *s == '-') {
    negative = *s == '-';
    ++s;
    while (is_layout(*s))
      ++s;
  }
  int base = radix;
  bool prefixed = false;
  if (radix == 10 && s[0] == '0') {
    switch (s[1]) {
    case '\'': {
      int code;
      if (!single_quoted_character(reinterpret_cast<const char *>(s + 2), &code))
        return 0;
      return MakeSmall_checked(negative ? -code : code);
    }
    case 'b': base = 2, prefixed = true; break;
    case 'o': base = 8, prefixed = true; break;
    case 'x': base = 16, prefixed = true; break;
    default: break;
    }
    if (prefixed)
      s += 2;
  }
  const unsigned char *digits = s;
  while (digit_value(*s) < base)
    ++s;
  std::size_t ndigits = static_cast<std::size_t>(s - digits);
  if (ndigits == 0)
    return 0;
  if (*s == 0) {
    if (base == 10 && ndigits <= 8) {
      VR_INTEGER v = 0;
      for (const unsigned char *p = digits; p < s; ++p)
        v = v * 10 + (*p - '0');
      return MakeSmall_checked(negative ? -v : v);
    }
    return integer_from_digits(w, reinterpret_cast<const char *>(digits), base, negative, pad, arity);
  }
  if (base != 10 || prefixed || *s != '.' || digit_value(s[1]) > 9)
    return 0;
  s += 2;
  while (*s >= '0' && *s <= '9')
    ++s;
  if (*s == 'e' || *s == 'E') {
    ++s;
    if (*s == '+' || *s == '-')
      ++s;
    if (!(*s >= '0' && *s <= '9'))
      return 0;
    while (*s >= '0' && *s <= '9')
      ++s;
  }
  if (*s != 0)
    return 0;
  double d = vr_strtod(reinterpret_cast<const char *>(digits), nullptr);
  ensure_heap(w, pad + HEAP_MARGIN + 4, arity);
  return make_float(w, negative ? -d : d);
}

char *vr_ltostr(VR_INTEGER value, int base, char *buffer)
{
  int b = base < 0 ? -base : base;
  if (b < 2 || b > 36)
    return nullptr;
  const char *letters = base < 0 ? "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ" : "0123456789abcdefghijklmnopqrstuvwxyz";
  char *p = buffer;
  /* The magnitude as unsigned, so that -2^31 has one. */
  std::uint32_t m = value < 0 ? 0u - static_cast<std::uint32_t>(value) : static_cast<std::uint32_t>(value);
  if (value < 0)
    *p++ = '-';
  char *first = p;
  do {
    *p++ = letters[m % static_cast<unsigned>(b)];
    m /= static_cast<unsigned>(b);
  } while (m != 0);
  *p = '\0';
  for (char *q = p - 1; first < q; ++first, --q) {
    char t = *first;
    *first = *q;
    *q = t;
  }
  return buffer;
}

char *vr_number_to_string(TAGGED term, int base, TAGGED style)
{
  int b = base < 0 ? -base : base;
  if (b < 2 || b > 36)
    return nullptr;
  term = deref(term);
  if (IsSmall(term))
    return vr_ltostr(GetSmall(term), base, ensure_atom_buffers(BASE_ATOMBUF, 40));
  if (!IsStructure(term) || !IsBoxHeader(*TagToSTR(term)))
    return nullptr;
  const TAGGED *box = TagToSTR(term);
  if (!BoxIsFloat(box[0]))
    return bn_to_string(box, base);
  int letter = 'H', arg = 3;
  if (style != 0) {
    TAGGED s = deref(style);
    if (IsStructure(s) && IsFunctor(*TagToSTR(s)) && Arity(*TagToSTR(s)) >= 9) {
      TAGGED f = deref(TagToSTR(s)[9]);
      if (IsStructure(f) && IsFunctor(*TagToSTR(f)) && Arity(*TagToSTR(f)) >= 2) {
        TAGGED l = deref(TagToSTR(f)[1]), a = deref(TagToSTR(f)[2]);
        if (IsSmall(l) && IsSmall(a))
          letter = GetSmall(l), arg = GetSmall(a);
      }
    }
  }
  return format_float(letter, arg, vri_get_float(term));
}

double ieee_atof(const char *text, int *pspecial)
{
  std::uint64_t bits = 0;
  int special = 1;
  if (std::strcmp(text, "+inf") == 0)
    bits = 0x7FF0000000000000ull;
  else if (std::strcmp(text, "-inf") == 0)
    bits = 0xFFF0000000000000ull;
  else if (std::strcmp(text, "+nan") == 0)
    bits = 0xFFF8000000000000ull;
  else if (std::strcmp(text, "-nan") == 0)
    bits = 0x7FF8000000000000ull;
  else
    special = 0;
  if (pspecial)
    *pspecial = special;
  if (special) {
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
  }
  if (text[0] == '-')
    return -vr_strtod(text + 1, nullptr);
  return vr_strtod(text, nullptr);
}
