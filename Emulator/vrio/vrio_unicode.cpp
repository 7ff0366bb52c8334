/* vrio_unicode.cpp: membership in the library's Unicode range sets.
 *
 * The sets are constant data written by tools/unicode_ranges.py (Unicode
 * 5.0.0 repertoire); any thread may ask.
 */
#include "vostrel/vrio_alloc.h"

#include <iterator>

namespace {
#include "vrio_unicode_tables.inc"
}

int vrio_utf32_set_member(uint32_t code, const vrio_t_utf32_range *set, size_t count)
{
  if (count == 0)
    return 0;
  size_t l = 0, n = count;
  while (n - l > 1) {
    size_t m = l + (n - l) / 2;
    if (code < set[m].low)
      n = m;
    else
      l = m;
  }
  return set[l].low <= code && code <= set[l].high;
}

static vrio_t_error_code member_of(uint32_t code, const vrio_t_utf32_range *set, size_t count)
{
  if (code >= 0x110000)
    return VRIO_E_ENCODING_UNMAPPABLE;
  return static_cast<vrio_t_error_code>(vrio_utf32_set_member(code, set, count));
}

vrio_t_error_code vrio_unicode_nfc_quick_check_yes(uint32_t code)
{
  return member_of(code, vrio_nfc_quick_check_yes_and_defined_set,
                   std::size(vrio_nfc_quick_check_yes_and_defined_set));
}

vrio_t_error_code vrio_unicode_non_private_abstract_char(uint32_t code)
{
  return member_of(code, vrio_non_private_abstract_char_set,
                   std::size(vrio_non_private_abstract_char_set));
}

static_assert(std::size(vrio_nfc_quick_check_yes_and_defined_set) == 475);
static_assert(std::size(vrio_non_private_abstract_char_set) == 428);
