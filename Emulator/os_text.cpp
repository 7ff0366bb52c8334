/* os_text.cpp: conversion of strings between the internal encoding and the
 * operating system's, the system encoding found at start-up, and the
 * start-up and shutdown of the whole text layer (init_wcx, deinit_wcx).
 *
 * The system encoding comes from the option settings and the locale
 * (VR_CTYPE, LC_ALL, LC_CTYPE, LANG, then nl_langinfo(CODESET)); none found
 * means UTF-8.  The built-in coders cover UTF-8, ISO-8859-1 and US-ASCII;
 * text of other system encodings is treated as UTF-8 until the I/O
 * library's coders are in.
 *
 * Every result from the system is valid internal text or null: text that
 * is not well-formed in the system encoding (for UTF-8: stray continuation
 * bytes, cut, overlong, surrogate or above U+10FFFF) is refused rather than
 * passed on, since atoms, file names and messages built from it would be
 * corrupt.  Towards the system, internal text holding code 0 (C0 80) or a
 * code the system encoding cannot carry is refused, since the C string
 * would silently lose or garble it.  Results live in one buffer per context
 * owned here, valid until the next conversion of that context.  Engine
 * thread only.
 */
#include <cstdlib>
#include <cstring>

#include "chartype.h"
#include "encodings.h"

VR_WcxConvHook wcx_to_os_hook = to_os_hook_utf8;
VR_WcxConvHook wcx_from_os_hook = from_os_hook_utf8;
VR_encoding wcx_option_encoding = nullptr;

namespace {

enum class os_charset { utf8, latin1, ascii };

/* Results by context: [0] other contexts and messages, [1] file names
   (cached_VR_from_os_vrio_string), [2] options (last_wcx_option_ienc);
   then the same three towards the system. */
char *results[6];

os_charset system_charset()
{
  const char *name = vr_encoding_name(wcx_option_encoding);
  if (name != nullptr && std::strcmp(name, "ISO-8859-1") == 0)
    return os_charset::latin1;
  if (name != nullptr && std::strcmp(name, "US-ASCII") == 0)
    return os_charset::ascii;
  return os_charset::utf8;
}

unsigned slot_of(int context, bool to_os)
{
  unsigned s = context == 1 ? 1 : context == 2 ? 2 : 0;
  return to_os ? s + 3 : s;
}

/* Length of the well-formed UTF-8 sequence at s, or 0. */
std::size_t utf8_sequence_length(const unsigned char *s)
{
  const unsigned char c = s[0];
  if (c < 0x80)
    return 1;
  std::size_t n;
  unsigned long code, min;
  if (c >= 0xC2 && c <= 0xDF)
    n = 2, code = c & 0x1F, min = 0x80;
  else if (c >= 0xE0 && c <= 0xEF)
    n = 3, code = c & 0x0F, min = 0x800;
  else if (c >= 0xF0 && c <= 0xF4)
    n = 4, code = c & 0x07, min = 0x10000;
  else
    return 0; /* continuation byte, C0/C1 (always overlong), F5..FF */
  for (std::size_t i = 1; i < n; ++i) {
    if ((s[i] & 0xC0) != 0x80)
      return 0; /* also stops at the terminating zero */
    code = (code << 6) | (s[i] & 0x3F);
  }
  if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
    return 0;
  return n;
}

bool strict_utf8(const char *text)
{
  for (const auto *p = reinterpret_cast<const unsigned char *>(text); *p != 0;) {
    std::size_t n = utf8_sequence_length(p);
    if (n == 0)
      return false;
    p += n;
  }
  return true;
}

const char *keep(unsigned slot, char *text)
{
  std::free(results[slot]);
  results[slot] = text;
  return text;
}

} // namespace

const char *VR_to_os(const char *ienc, int context)
{
  return wcx_to_os_hook(ienc, context);
}

const char *VR_from_os(const char *senc, int context)
{
  return wcx_from_os_hook(senc, context);
}

const char *from_os_hook_utf8(const char *senc, int context)
{
  if (senc == nullptr)
    return nullptr;
  unsigned slot = slot_of(context, false);
  std::size_t len = std::strlen(senc);
  switch (system_charset()) {
  case os_charset::utf8: {
    if (!strict_utf8(senc))
      return nullptr;
    char *copy = static_cast<char *>(std::malloc(len + 1));
    if (copy == nullptr)
      return nullptr;
    std::memcpy(copy, senc, len + 1);
    return keep(slot, copy);
  }
  case os_charset::latin1:
  case os_charset::ascii: {
    bool ascii = system_charset() == os_charset::ascii;
    char *out = static_cast<char *>(std::malloc(2 * len + 1));
    if (out == nullptr)
      return nullptr;
    char *q = out;
    for (const auto *p = reinterpret_cast<const unsigned char *>(senc); *p; ++p) {
      if (*p >= 0x80 && ascii) {
        std::free(out);
        return nullptr;
      }
      q += VR_code_wci(q, *p);
    }
    *q = '\0';
    return keep(slot, out);
  }
  }
  return nullptr;
}

const char *to_os_hook_utf8(const char *ienc, int context)
{
  if (ienc == nullptr)
    return nullptr;
  os_charset cs = system_charset();
  if (cs == os_charset::utf8)
    return strict_utf8(ienc) ? ienc : nullptr;
  unsigned max = cs == os_charset::ascii ? 0x7F : 0xFF;
  char *out = static_cast<char *>(std::malloc(std::strlen(ienc) + 1));
  if (out == nullptr)
    return nullptr;
  char *q = out;
  for (const char *p = ienc; *p;) {
    int code;
    int n = VR_wci_code(&code, p);
    if (n <= 0 || code == 0 || static_cast<unsigned>(code) > max) {
      std::free(out);
      return nullptr;
    }
    *q++ = static_cast<char>(code);
    p += n;
  }
  *q = '\0';
  return keep(slot_of(context, true), out);
}

void init_wcx(void)
{
  wcx_reset_classification();
  if (wcx_option_encoding != nullptr) {
    VR_encoding_release(wcx_option_encoding);
    wcx_option_encoding = nullptr;
  }
  VR_encoding enc = nullptr;
  if (VR_get_encoding(nullptr, &enc, 3) >= 0)
    wcx_option_encoding = enc;
  wcx_chartype_hook = vr_unicode_chartype;
  wcx_to_os_hook = to_os_hook_utf8;
  wcx_from_os_hook = from_os_hook_utf8;
  for (char *&r : results) {
    std::free(r);
    r = nullptr;
  }
}

void deinit_wcx(void)
{
  if (wcx_option_encoding != nullptr) {
    VR_encoding_release(wcx_option_encoding);
    wcx_option_encoding = nullptr;
  }
  for (char *&r : results) {
    std::free(r);
    r = nullptr;
  }
}
