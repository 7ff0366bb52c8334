/* atom_text_builtins.cpp: the native cores of atom_length/2, sub_atom/5,
 * atom_concat/3, char_code/2, atom_codes/2, atom_chars/2, number_codes/2
 * and number_chars/2 (see atom_text.h for the Result convention).
 *
 * Each solves what is determinate and leaves enumeration to its Prolog
 * caller, which never needs a choicepoint from here: when there is
 * something to enumerate, Result is the atom's character count and the
 * caller calls again with the missing positions bound.
 */
#include <cstring>

#include "atom_text.h"
#include "atoms.h"
#include "datadefs.h"
#include "initial_atoms.h"
#include "inline_builtins.h"
#include "number_text.h"
#include "terms.h"
#include "unify.h"
#include "worker.h"

namespace {

constexpr TAGGED atom_true = MakeAtom(atom_true_enum);
constexpr TAGGED atom_fail = MakeAtom(atom_fail_enum);
constexpr TAGGED atom_character_code = MakeAtom(atom_character_code_enum);

int result(worker *w, int reg, bool solved) { return cunify(w, w->term[reg], solved ? atom_true : atom_fail); }

/* An unbound variable, a small integer from 0 up or a positive big
   integer: what a position or length may be. */
enum position_kind { POS_UNBOUND, POS_KNOWN, POS_HUGE, POS_BAD };
position_kind position(TAGGED t, long *value)
{
  t = deref(t);
  if (IsVar(t))
    return POS_UNBOUND;
  if (IsSmall(t))
    return GetSmall(t) >= 0 ? (*value = GetSmall(t), POS_KNOWN) : POS_BAD;
  if (is_integer_term(t))
    return static_cast<std::int32_t>(TagToSTR(t)[BoxPayload(*TagToSTR(t))]) >= 0 ? POS_HUGE : POS_BAD;
  return POS_BAD;
}

/* Skips up to n characters of [p, end); false when the text ends first. */
bool skip_chars(const unsigned char *&p, const unsigned char *end, long n)
{
  int code;
  for (; n > 0; n--) {
    if (p >= end)
      return false;
    p = wci_next_char(p, end, &code);
  }
  return true;
}

long count_chars(const unsigned char *p, const unsigned char *end)
{
  long n = 0;
  int code;
  for (; p < end; n++)
    p = wci_next_char(p, end, &code);
  return n;
}

/* The atom of length bytes of text; text itself when it ends an atom's
   name (zero-terminated), else through the atom buffer. */
TAGGED atom_of_bytes(const char *text, std::size_t length)
{
  if (text[length] == '\0')
    return init_atom_check(text, 0);
  char *buffer = ensure_atom_buffers(BASE_ATOMBUF, static_cast<unsigned>(2 * (length + 1)));
  std::memcpy(buffer, text, length);
  buffer[length] = '\0';
  return init_atom_check(buffer, 0);
}

} // namespace

int prolog_atom_length(worker *w)
{
  const TAGGED a = deref(w->term[0]);
  if (!IsAtom(a))
    return 0;
  long length;
  switch (position(w->term[1], &length)) {
  case POS_UNBOUND:
    return cunify(w, w->term[1], make_integer_term(w, wci_char_count(atom_name(a)))) && result(w, 2, true);
  case POS_KNOWN:
    return result(w, 2, length == wci_char_count(atom_name(a)));
  case POS_HUGE:
    return result(w, 2, false);
  default:
    return 0;
  }
}

int prolog_sub_atom(worker *w)
{
  const TAGGED a = deref(w->term[0]);
  TAGGED sub = deref(w->term[4]);
  if (!IsAtom(a) || !(IsVar(sub) || IsAtom(sub)))
    return 0;
  long before = 0, length = 0, after = 0;
  position_kind kb = position(w->term[1], &before);
  position_kind kl = position(w->term[2], &length);
  position_kind ka = position(w->term[3], &after);
  if (kb == POS_BAD || kl == POS_BAD || ka == POS_BAD)
    return 0;
  if (IsAtom(sub) && kl == POS_UNBOUND) {
    length = wci_char_count(atom_name(sub));
    if (!cunify(w, w->term[2], MakeSmall_checked(length)))
      return 0;
    kl = POS_KNOWN;
  }
  if (kb == POS_HUGE || kl == POS_HUGE || ka == POS_HUGE)
    return result(w, 5, false);

  const atom *rec = atom_record(a);
  const unsigned char *text = reinterpret_cast<const unsigned char *>(rec->name);
  const unsigned char *end = text + rec->length;
  const long total = count_chars(text, end);
  bool after_used = false;
  if (kb == POS_KNOWN && kl == POS_KNOWN) {
    /* taken directly */
  } else if (ka == POS_KNOWN && (kb == POS_KNOWN) != (kl == POS_KNOWN)) {
    const long computed = total - after - (kb == POS_KNOWN ? before : length);
    if (computed < 0)
      return result(w, 5, false);
    if (!cunify(w, w->term[kb == POS_KNOWN ? 2 : 1], MakeSmall_checked(computed)))
      return 0;
    (kb == POS_KNOWN ? length : before) = computed;
    after_used = true;
  } else {
    if ((kb == POS_KNOWN && before > total) || (kl == POS_KNOWN && length > total) ||
        (ka == POS_KNOWN && after > total))
      return result(w, 5, false);
    return cunify(w, w->term[5], MakeSmall_checked(total));
  }

  const unsigned char *from = text;
  if (!skip_chars(from, end, before))
    return result(w, 5, false);
  const unsigned char *to = from;
  if (!skip_chars(to, end, length))
    return result(w, 5, false);
  if (!after_used && !cunify(w, w->term[3], MakeSmall_checked(count_chars(to, end))))
    return result(w, 5, false);
  const std::size_t bytes = static_cast<std::size_t>(to - from);
  if (IsAtom(sub)) {
    const atom *s = atom_record(sub);
    return result(w, 5, s->length == bytes && std::memcmp(s->name, from, bytes) == 0);
  }
  const TAGGED piece = atom_of_bytes(reinterpret_cast<const char *>(from), bytes);
  return piece != 0 && cunify(w, w->term[4], piece) && result(w, 5, true);
}

int prolog_atom_concat(worker *w)
{
  const TAGGED a1 = deref(w->term[0]), a2 = deref(w->term[1]), a12 = deref(w->term[2]);
  if (IsAtom(a1) && IsAtom(a2)) {
    const atom *r1 = atom_record(a1), *r2 = atom_record(a2);
    if (IsAtom(a12)) {
      const atom *r = atom_record(a12);
      return result(w, 3, r->length == r1->length + r2->length && std::memcmp(r->name, r1->name, r1->length) == 0 &&
                              std::memcmp(r->name + r1->length, r2->name, r2->length) == 0);
    }
    if (!IsVar(a12))
      return 0;
    const std::size_t n = r1->length + r2->length;
    char *buffer = ensure_atom_buffers(BASE_ATOMBUF, static_cast<unsigned>(2 * (n + 1)));
    std::memcpy(buffer, r1->name, r1->length);
    std::memcpy(buffer + r1->length, r2->name, r2->length + 1);
    const TAGGED whole = init_atom_check(buffer, 0);
    return whole != 0 && cunify(w, a12, whole) && result(w, 3, true);
  }
  if (!IsAtom(a12))
    return 0;
  const atom *r = atom_record(a12);
  if (IsAtom(a1) && IsVar(a2)) {
    const atom *r1 = atom_record(a1);
    if (r1->length > r->length || std::memcmp(r->name, r1->name, r1->length) != 0)
      return result(w, 3, false);
    const TAGGED rest = init_atom_check(r->name + r1->length, 0);
    return rest != 0 && cunify(w, a2, rest) && result(w, 3, true);
  }
  if (IsVar(a1) && IsAtom(a2)) {
    const atom *r2 = atom_record(a2);
    const std::size_t front = r->length - r2->length;
    if (r2->length > r->length || std::memcmp(r->name + front, r2->name, r2->length) != 0)
      return result(w, 3, false);
    const TAGGED head = atom_of_bytes(r->name, front);
    return head != 0 && cunify(w, a1, head) && result(w, 3, true);
  }
  if (IsVar(a1) && IsVar(a2))
    return cunify(w, w->term[3], MakeSmall_checked(wci_char_count(r->name)));
  return 0;
}

int prolog_char_code(worker *w)
{
  const TAGGED ch = deref(w->term[0]);
  const TAGGED cd = deref(w->term[1]);
  int code;
  if (IsAtom(ch)) {
    if (!code_of_char_atom(ch, &code))
      return 0;
    if (IsVar(cd))
      return cunify(w, cd, make_integer_term(w, code)) && result(w, 2, true);
    int given;
    if (!code_of_term(cd, &given))
      return 0;
    return result(w, 2, given == code);
  }
  if (!IsVar(ch) || !code_of_term(cd, &code))
    return 0;
  const TAGGED one = char_atom(code);
  return one != 0 && cunify(w, ch, one) && result(w, 2, true);
}

int prolog_constant_elems(worker *w, int atomp, int numberp, int codesp, int pad, int arity)
{
  const TAGGED constant = deref(w->term[0]);
  char *text;
  if (!IsVar(constant)) {
    if (numberp) {
      /* Through the number's value, not its text: " 12" and "012" are
         the codes of 12 too. */
      const int r = vr_list_to_string(w->term[1], codesp, &text);
      if (r < 0)
        return -1;
      if (r > 0) {
        const TAGGED number = vr_string_to_number(text, 10, pad, arity);
        return number == 0 ? -1 : cunify(w, w->term[0], number);
      }
      if (!is_number_term(constant))
        return -1;
      text = vr_number_to_string(constant, 10, 0);
    } else {
      if (!atomp || !IsAtom(constant))
        return -1;
      text = const_cast<char *>(atom_name(constant));
    }
    if (text == nullptr)
      return -1;
    const TAGGED list = vr_n_codes_to_list(w, std::strlen(text), text, atom_nil, codesp, pad, arity);
    return list == 0 ? -1 : cunify(w, list, w->term[1]);
  }
  if (vr_list_to_string(w->term[1], codesp, &text) != 1)
    return -1;
  const TAGGED made = numberp ? vr_string_to_number(text, 10, pad, arity) : init_atom_check(text, 0);
  return made == 0 ? -1 : cunify(w, w->term[0], made);
}

int prolog_atom_codes(worker *w) { return prolog_constant_elems(w, 1, 0, 1, 0, 2) == 1; }

int prolog_atom_elems(worker *w)
{
  return prolog_constant_elems(w, 1, 0, deref(w->term[2]) == atom_character_code, 0, 3) == 1;
}

int prolog_number_elems(worker *w)
{
  const int r = prolog_constant_elems(w, 0, 1, deref(w->term[2]) == atom_character_code, 0, 4);
  return r >= 0 && result(w, 3, r == 1);
}
