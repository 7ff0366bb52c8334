/* char_conversion.cpp: the character conversion table.
 *
 * Invariant: entries 0 .. pcharconv-1 are the pairs in use and no code
 * occurs twice among their From codes, so a linear search finds at most one
 * match.  A pair that maps a code to itself is never stored: adding one is
 * how a pair is removed.  Called by the flag built-ins of the Prolog
 * library and, for lookups, by the tokenizer.
 */
#include "char_conversion.h"

#include "datadefs.h"
#include "initial_atoms.h"
#include "terms.h"
#include "worker.h"

std::int32_t charconv_from[CHARCONV_MAX];
std::int32_t charconv_to[CHARCONV_MAX];
int pcharconv = 0;

void init_char_conversion(void)
{
  pcharconv = 0;
  eglobal->current_char_conversion = MakeAtom(atom_on_enum);
}

static int find_pair(std::int32_t from)
{
  for (int i = 0; i < pcharconv; ++i)
    if (charconv_from[i] == from)
      return i;
  return -1;
}

int add_char_conversion(std::int32_t from, std::int32_t to)
{
  const int i = find_pair(from);
  if (to != from) {
    if (i >= 0) {
      charconv_to[i] = to;
      return 1;
    }
    if (pcharconv == CHARCONV_MAX)
      return 0;
    charconv_from[pcharconv] = from;
    charconv_to[pcharconv] = to;
    ++pcharconv;
    return 1;
  }
  if (i >= 0) {
    /* Order does not matter, so the last pair fills the hole. */
    --pcharconv;
    if (i != pcharconv) {
      charconv_from[i] = charconv_from[pcharconv];
      charconv_to[i] = charconv_to[pcharconv];
    }
  }
  return 1;
}

int conv_char(int code)
{
  const int i = find_pair(code);
  return i >= 0 ? charconv_to[i] : code;
}

int prolog_add_char_conversion(worker *w)
{
  const TAGGED from = deref(w->term[0]);
  const TAGGED to = deref(w->term[1]);
  if (!IsSmall(from) || !IsSmall(to))
    return 0;
  return add_char_conversion(GetSmall(from), GetSmall(to));
}
