/* chartype.cpp: the character class table and its cache, the class of
 * codes above 255, legacy classification, encoding and decoding one
 * internal-encoding character and the validity test of internal text.
 *
 * The class table is built at compile time and copied into eglobal by
 * init_wcx; a lookup that finds eglobal's table still empty (class 0 is no
 * class) fills it first, so classification also works before start-up (the
 * predefined atoms and the unit tests classify early).  For the same reason
 * a cache hit with class 0 counts as a miss: a zeroed cache holds code 0.
 * Validity follows the UTF-8 rules with two widenings the engine needs: C0 80
 * stands for code 0, and the 5- and 6-byte forms, surrogates and codes above
 * U+10FFFF are accepted, since Prolog texts may carry any 31-bit code.
 * Other overlong forms are refused, so each text has one spelling and equal
 * atoms have equal bytes.
 */
#include "chartype.h"

#include <cstddef>
#include <cstring>

#include "atoms.h"
#include "datadefs.h"

namespace {

struct chtype_table {
  unsigned char t[257]; /* entry c + 1 is the class of code c, c = -1..255 */
};

constexpr void set_chars(chtype_table &tab, const char *chars, int cls)
{
  for (; *chars; ++chars)
    tab.t[static_cast<unsigned char>(*chars) + 1] = static_cast<unsigned char>(cls);
}

constexpr chtype_table build_default_chtype()
{
  chtype_table tab{};
  for (int c = -1; c <= 127; ++c)
    tab.t[c + 1] = CH_WHITE;
  set_chars(tab, "abcdefghijklmnopqrstuvwxyz", CH_LC);
  set_chars(tab, "ABCDEFGHIJKLMNOPQRSTUVWXYZ", CH_UC);
  set_chars(tab, "0123456789", CH_DIGIT);
  set_chars(tab, "#$&*+-./:<=>?@^\\~`", CH_SYMBOL);
  /* The punctuation characters override the above; back-quote ends here. */
  const char punct[] = "!|,\"({[%)}];'_`";
  for (int i = 0; punct[i]; ++i)
    tab.t[static_cast<unsigned char>(punct[i]) + 1] = static_cast<unsigned char>(CH_BANG + i);
  for (int c = 128; c <= 160; ++c)
    tab.t[c + 1] = CH_WHITE;
  for (int c = 161; c <= 191; ++c)
    tab.t[c + 1] = (c == 170 || c == 186) ? CH_LC : CH_SYMBOL;
  for (int c = 192; c <= 222; ++c)
    tab.t[c + 1] = c == 215 ? CH_SYMBOL : CH_UC;
  for (int c = 223; c <= 255; ++c)
    tab.t[c + 1] = c == 247 ? CH_SYMBOL : CH_LC;
  return tab;
}

constexpr chtype_table initial_chtype = build_default_chtype();
static_assert(initial_chtype.t['`' + 1] == CH_BACKQUOTE && initial_chtype.t['_' + 1] == CH_UNDERSCORE);
static_assert(initial_chtype.t[0] == CH_WHITE, "end of file is layout");
static_assert(sizeof eglobal_storage.default_chtype == sizeof initial_chtype.t);

constexpr unsigned char extra_bytes_of(unsigned b)
{
  return b < 0x80 ? 0 : b < 0xC0 ? 9 : b < 0xE0 ? 1 : b < 0xF0 ? 2 : b < 0xF8 ? 3
       : b < 0xFC ? 4 : b < 0xFE ? 5 : 9;
}

struct extra_table {
  unsigned char t[256];
};

constexpr extra_table build_extra_bytes()
{
  extra_table tab{};
  for (unsigned b = 0; b < 256; ++b)
    tab.t[b] = extra_bytes_of(b);
  return tab;
}

constexpr extra_table extra_bytes = build_extra_bytes();

/* One sequence of `len` bytes starting at s, all present (no zero byte
   inside, since a zero is never a continuation byte). */
bool legal_sequence(const unsigned char *s, unsigned len)
{
  if (len == 0 || len > 6)
    return false;
  if (len == 1)
    return s[0] < 0x80;
  for (unsigned k = 1; k < len; ++k)
    if ((s[k] & 0xC0) != 0x80)
      return false;
  unsigned b0 = s[0], b1 = s[1];
  switch (b0) {
  case 0xC0: return b1 == 0x80;   /* only the spelling of code 0 */
  case 0xC1: return false;        /* always overlong */
  case 0xE0: return b1 >= 0xA0;
  case 0xF0: return b1 >= 0x90;
  case 0xF8: return b1 >= 0x88;
  case 0xFC: return b1 >= 0x84;
  default: return b0 <= 0xFD;
  }
}

int legacy_char_classification = 0;

/* Empty cache: entry i holds code i + 1, whose slot is never i's. */
void empty_cache()
{
  for (int i = 0; i < 512; ++i) {
    eglobal->chcode_hash[i] = i + 1;
    eglobal->chtype_hash[i] = 0;
  }
}

const unsigned char *chtype_table_ready()
{
  if (eglobal->default_chtype[0] == 0) {
    std::memcpy(eglobal->default_chtype, initial_chtype.t, sizeof initial_chtype.t);
    empty_cache();
  }
  return eglobal->default_chtype;
}

/* Stand-in for the I/O library's set of non-private abstract characters
   until its Unicode tables exist: every scalar value outside the private
   use areas, the surrogates and the non-characters. */
bool abstract_character(int code)
{
  if (code < 0 || code > 0x10FFFF)
    return false;
  if ((code >= 0xD800 && code <= 0xDFFF) || (code >= 0xE000 && code <= 0xF8FF) ||
      code >= 0xF0000 || (code >= 0xFDD0 && code <= 0xFDEF) || (code & 0xFFFE) == 0xFFFE)
    return false;
  return true;
}

} // namespace

const unsigned char wci_extra_bytes[256] = {
#define VR_ROW(b) extra_bytes_of(b), extra_bytes_of(b + 1), extra_bytes_of(b + 2), extra_bytes_of(b + 3), \
                  extra_bytes_of(b + 4), extra_bytes_of(b + 5), extra_bytes_of(b + 6), extra_bytes_of(b + 7)
  VR_ROW(0x00), VR_ROW(0x08), VR_ROW(0x10), VR_ROW(0x18), VR_ROW(0x20), VR_ROW(0x28), VR_ROW(0x30), VR_ROW(0x38),
  VR_ROW(0x40), VR_ROW(0x48), VR_ROW(0x50), VR_ROW(0x58), VR_ROW(0x60), VR_ROW(0x68), VR_ROW(0x70), VR_ROW(0x78),
  VR_ROW(0x80), VR_ROW(0x88), VR_ROW(0x90), VR_ROW(0x98), VR_ROW(0xA0), VR_ROW(0xA8), VR_ROW(0xB0), VR_ROW(0xB8),
  VR_ROW(0xC0), VR_ROW(0xC8), VR_ROW(0xD0), VR_ROW(0xD8), VR_ROW(0xE0), VR_ROW(0xE8), VR_ROW(0xF0), VR_ROW(0xF8),
#undef VR_ROW
};

VR_WcxCharTypeHook wcx_chartype_hook = vr_unicode_chartype;

int VR_latin1_chartype(int code)
{
  if (code >= -1 && code <= 255)
    return chtype_table_ready()[code + 1];
  return CH_UNDECIDED;
}

int vr_unicode_chartype(int code)
{
  if (code >= -1 && code <= 255)
    return chtype_table_ready()[code + 1];
  switch (code) {
  case 0x200E: case 0x200F: case 0x2028: case 0x2029:
    return CH_WHITE;
  default:
    return legacy_char_classification && abstract_character(code) ? CH_LC : CH_UNDECIDED;
  }
}

int ch_type(int code)
{
  unsigned s = static_cast<unsigned>(code) & 0xFF;
  if (eglobal->chcode_hash[s] == code) {
    if (int t = eglobal->chtype_hash[s])
      return t;
  } else if (eglobal->chcode_hash[256 + s] == code) {
    if (int t = eglobal->chtype_hash[256 + s])
      return t;
  }
  return ch_type_hash(code);
}

int ch_type_hash(int code)
{
  /* Below -1 there is no table entry; refuse rather than read before it. */
  if (code < -1)
    return CH_UNDECIDED;
  const unsigned char *table = chtype_table_ready();
  int t = code <= 127 ? table[code + 1] : wcx_chartype_hook(code);
  unsigned s = static_cast<unsigned>(code) & 0xFF;
  eglobal->chcode_hash[256 + s] = eglobal->chcode_hash[s];
  eglobal->chtype_hash[256 + s] = eglobal->chtype_hash[s];
  eglobal->chcode_hash[s] = code;
  eglobal->chtype_hash[s] = static_cast<unsigned char>(t);
  return t;
}

void clear_ch_type_hash(void)
{
  empty_cache();
}

int get_wcx_legacy_char_classification(void)
{
  return legacy_char_classification;
}

void set_wcx_legacy_char_classification(int value)
{
  int v = value != 0;
  if (v == legacy_char_classification)
    return;
  legacy_char_classification = v;
  clear_ch_type_hash();
  reclassify_atoms();
}

void wcx_reset_classification(void)
{
  std::memcpy(eglobal->default_chtype, initial_chtype.t, sizeof initial_chtype.t);
  legacy_char_classification = 0;
  empty_cache();
}

int VR_wci_code(int *pcode, const char *wci)
{
  if (wci == nullptr || *wci == '\0')
    return 0;
  const unsigned char *s = reinterpret_cast<const unsigned char *>(wci);
  unsigned extra = wci_extra_bytes[s[0]];
  if (extra > 5)
    return -1;
  unsigned code = extra == 0 ? s[0] : s[0] & (0x3Fu >> extra);
  for (unsigned k = 1; k <= extra; ++k) {
    if ((s[k] & 0xC0) != 0x80)
      return -static_cast<int>(k);
    code = (code << 6) | (s[k] & 0x3F);
  }
  if (pcode)
    *pcode = static_cast<int>(code);
  return static_cast<int>(extra + 1);
}

int VR_wci_len(const char *wci)
{
  return VR_wci_code(nullptr, wci);
}

int VR_code_wci(char *wci, int code)
{
  if (code < 0)
    return -1;
  if (code >= 1 && code <= 127) {
    if (wci)
      wci[0] = static_cast<char>(code);
    return 1;
  }
  unsigned c = static_cast<unsigned>(code);
  int n = c < (1u << 11) ? 2 : c < (1u << 16) ? 3 : c < (1u << 21) ? 4 : c < (1u << 26) ? 5 : 6;
  if (wci) {
    static const unsigned char lead[7] = {0, 0, 0xC0, 0xE0, 0xF0, 0xF8, 0xFC};
    unsigned char *out = reinterpret_cast<unsigned char *>(wci);
    out[0] = static_cast<unsigned char>((c >> (6 * (n - 1))) | lead[n]);
    for (int k = 1; k < n; ++k)
      out[k] = static_cast<unsigned char>(((c >> (6 * (n - 1 - k))) & 0x3F) | 0x80);
  }
  return n;
}

int wci_valid_string(const char *wci)
{
  if (wci == nullptr)
    return 0;
  const unsigned char *s = reinterpret_cast<const unsigned char *>(wci);
  while (*s != 0 && *s < 0x80)
    ++s;
  while (*s != 0) {
    unsigned extra = extra_bytes.t[*s];
    unsigned len = extra > 5 ? 0 : extra + 1;
    if (!legal_sequence(s, len))
      return 0;
    s += len;
  }
  return 1;
}
