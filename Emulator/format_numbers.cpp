/* format_numbers.cpp: the number directives of format (format_numbers.h).
 *
 * Floats: the correctly rounded digit generator (vr_dtoa) gives the digits
 * D and the decimal exponent P of the value 0.D * 10^P, in the mode the
 * letter asks for (a digit count for e, f and g, the shortest digits that
 * read back for h); the layout is then either fixed or exponential
 * notation.  Fixed notation always has a digit after the point and
 * exponential notation a fraction digit and at least two exponent digits,
 * so that every float text reads back as a float.
 *
 * Integers: the decimal text, with ~Nd's point inserted before the last N
 * digits (zeros added in front as needed) and ~D's commas every three
 * digits of the integer part.
 */
#include "format_numbers.h"

#include <cstring>
#include <string>
#include <vector>

#include "atoms.h"
#include "errors.h"
#include "float_conv.h"
#include "number_text.h"
#include "streams.h"
#include "terms.h"
#include "worker.h"

namespace {

/* Fixed notation with at least `frac` fraction digits. */
void fixed(std::string &out, const char *d, int len, int p, int frac)
{
  if (frac <= 0)
    frac = 1;
  if (p <= 0) {
    out += '0';
  } else {
    for (int i = 0; i < p; ++i)
      out += i < len ? d[i] : '0';
  }
  out += '.';
  int written = 0;
  for (int i = p; i < 0; ++i, ++written)
    out += '0';
  for (int i = p < 0 ? 0 : p; i < len; ++i, ++written)
    out += d[i];
  for (; written < frac; ++written)
    out += '0';
}

/* Exponential notation with k significant digits (at least two). */
void exponential(std::string &out, const char *d, int len, int p, int k, char letter)
{
  if (k <= 1)
    k = 2;
  out += d[0];
  out += '.';
  for (int i = 1; i < k; ++i)
    out += i < len ? d[i] : '0';
  out += letter;
  int e = p - 1;
  out += e < 0 ? '-' : '+';
  if (e < 0)
    e = -e;
  if (e >= 100)
    out += static_cast<char>('0' + e / 100);
  out += static_cast<char>('0' + e / 10 % 10);
  out += static_cast<char>('0' + e % 10);
}

char *to_atom_buffer(const std::string &text)
{
  char *buf = ensure_atom_buffers(BASE_ATOMBUF, static_cast<unsigned>(text.size() + 1));
  std::memcpy(buf, text.c_str(), text.size() + 1);
  return buf;
}

bool small_or_boxed_integer(TAGGED t)
{
  return IsSmall(t) || (IsStructure(t) && IsBoxHeader(TagToSTR(t)[0]) && !BoxIsFloat(TagToSTR(t)[0]));
}

/* The directive's stream; raises the recorded error when there is none. */
VR_stream *directive_stream(worker *w, const char *name)
{
  VR_stream *s = stream_to_ptr(w->term[3], SM_OUTPUT | SM_TEXT, 0);
  if (s == nullptr)
    raise_error("prolog", name, 4, 4);
  return s;
}

int put_directive_text(VR_stream *s, const std::string &text, const char *name)
{
  const vrio_t_error_code rc = VR_put_encoded_string(s, text.c_str(), 0);
  if (rc < 0 && rc != VRIO_E_INTERRUPTED) {
    raise_vrio_error(rc, 1, name, 4, 4);
    return 0;
  }
  return 1;
}

} // namespace

char *format_float(int letter, int n, double value)
{
  if (n > FORMAT_MAX_DIGITS)
    n = FORMAT_MAX_DIGITS;
  const int n0 = n < 0 ? 0 : n;
  int mode = 0, ndigits = 0;
  std::size_t size = 32;
  switch (letter) {
  case 'e': case 'E':
    mode = 2, ndigits = n < 0 ? 1 : n + 1, size = static_cast<std::size_t>(n0) + 21;
    break;
  case 'f': case 'F':
    mode = 3, ndigits = n0, size = static_cast<std::size_t>(n0) + 400;
    break;
  case 'g': case 'G':
    mode = 2, ndigits = n0, size = static_cast<std::size_t>(n0) + 30;
    break;
  case 'h': case 'H':
    break;
  default:
    mode = 3, ndigits = n0, size = static_cast<std::size_t>(n0) + 400;
    break;
  }
  std::vector<char> digits(size < 32 ? 32 : size);
  int p, sign;
  vr_dtoa(value, mode, ndigits, &p, &sign, digits.data());
  if (p == 9999)
    return to_atom_buffer(digits[0] == 'N' ? "+nan" : sign ? "-inf" : "+inf");
  const char *d = digits.data();
  const int len = static_cast<int>(std::strlen(d));
  std::string out;
  out.reserve(static_cast<std::size_t>(len + (p > 0 ? p : -p) + n0) + 16);
  if (sign)
    out += '-';
  const bool upper = letter >= 'A' && letter <= 'Z';
  const char e_letter = upper ? 'E' : 'e';
  switch (letter) {
  case 'e': case 'E':
    exponential(out, d, len, p, ndigits, e_letter);
    break;
  case 'g': case 'G':
    if (p < -3 || p > n0)
      exponential(out, d, len, p, len, e_letter);
    else
      fixed(out, d, len, p, len - p);
    break;
  case 'h': case 'H':
    if (n < 0 || p < -n || p > n + len)
      exponential(out, d, len, p, len, e_letter);
    else
      fixed(out, d, len, p, len - p);
    break;
  default:
    fixed(out, d, len, p, n);
    break;
  }
  return to_atom_buffer(out);
}

int prolog_format_print_integer(worker *w)
{
  const TAGGED letter = deref(w->term[0]), number = deref(w->term[1]), nt = deref(w->term[2]);
  if (!IsSmall(letter) || !small_or_boxed_integer(number) || !IsSmall(nt) || GetSmall(nt) > FORMAT_MAX_DIGITS)
    return 0;
  const int n = static_cast<int>(GetSmall(nt));
  const int c = static_cast<int>(GetSmall(letter));
  VR_stream *s = directive_stream(w, "$format_print_integer");
  if (s == nullptr)
    return 0;
  std::string text;
  if (c == 'r' || c == 'R') {
    const int base = n >= 2 && n <= 36 ? n : 8;
    text = vr_number_to_string(number, c == 'R' ? -base : base, 0);
  } else {
    text = vr_number_to_string(number, 10, 0);
    if (c == 'd' || c == 'D') {
      const std::size_t sign = text[0] == '-' ? 1 : 0;
      std::size_t int_digits = text.size() - sign;
      if (n > 0) {
        const std::size_t want = static_cast<std::size_t>(n) + 1;
        if (int_digits < want) {
          text.insert(sign, want - int_digits, '0');
          int_digits = want;
        }
        text.insert(text.size() - static_cast<std::size_t>(n), 1, '.');
        int_digits -= static_cast<std::size_t>(n);
      }
      if (c == 'D')
        for (std::size_t i = int_digits; i > 3; i -= 3)
          text.insert(sign + i - 3, 1, ',');
    }
  }
  return put_directive_text(s, text, "$format_print_integer");
}

int prolog_format_print_float(worker *w)
{
  const TAGGED letter = deref(w->term[0]), number = deref(w->term[1]), nt = deref(w->term[2]);
  if (!IsSmall(letter) || !IsSmall(nt) || GetSmall(nt) > FORMAT_MAX_DIGITS)
    return 0;
  double value;
  if (IsSmall(number))
    value = static_cast<double>(GetSmall(number));
  else if (IsStructure(number) && IsBoxHeader(TagToSTR(number)[0]) && BoxIsFloat(TagToSTR(number)[0]))
    value = vri_get_float(number);
  else
    return 0;
  VR_stream *s = directive_stream(w, "$format_print_float");
  if (s == nullptr)
    return 0;
  const std::string text = format_float(static_cast<int>(GetSmall(letter)), static_cast<int>(GetSmall(nt)), value);
  return put_directive_text(s, text, "$format_print_float");
}
