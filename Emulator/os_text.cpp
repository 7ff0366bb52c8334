/* os_text.cpp: text handed over by the operating system (error messages,
 * later file names and environment values), converted to the internal
 * encoding.
 *
 * The operating system's encoding is taken to be UTF-8.  The internal
 * encoding is UTF-8 with character code 0 written C0 80; a C string holds
 * no real zero byte, so a valid text converts unchanged.  Text that is not
 * well-formed UTF-8 (stray continuation bytes, truncated or overlong
 * sequences, surrogates, code points above 10FFFF) is refused with null
 * rather than passed on, since atoms and streams rely on valid text.
 *
 * The result lives in a buffer owned here and stays valid until the next
 * conversion.  Engine thread only.
 */
#include <cstring>
#include <string>

#include "support.h"

namespace {

std::string from_os_buffer;

/* Length of the well-formed UTF-8 sequence at s, or 0. */
std::size_t utf8_sequence_length(const unsigned char *s)
{
  const unsigned char c = s[0];
  if (c < 0x80)
    return 1;
  std::size_t n;
  unsigned long code;
  unsigned long min;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2, code = c & 0x1F, min = 0x80;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3, code = c & 0x0F, min = 0x800;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4, code = c & 0x07, min = 0x10000;
  } else {
    return 0;  /* continuation byte, C0/C1 (always overlong), F5..FF */
  }
  for (std::size_t i = 1; i < n; ++i) {
    if ((s[i] & 0xC0) != 0x80)
      return 0;  /* also stops at the terminating zero */
    code = (code << 6) | (s[i] & 0x3F);
  }
  if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
    return 0;
  return n;
}

} // namespace

const char *VR_from_os(const char *text, int options)
{
  if (text == nullptr)
    return nullptr;
  const auto *p = reinterpret_cast<const unsigned char *>(text);
  while (*p != 0) {
    const std::size_t n = utf8_sequence_length(p);
    if (n == 0)
      return nullptr;
    p += n;
  }
  from_os_buffer.assign(text);
  return from_os_buffer.c_str();
}
