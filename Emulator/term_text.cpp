/* term_text.cpp: the canonical writer of term_text.h.
 *
 * Texts are built bottom-up as strings; where two pieces meet, join puts a
 * blank between them when they would otherwise read as one token ("- -1",
 * "a- -b", "x is y").  Bracketing follows the operator priorities: an
 * operand whose priority exceeds what its position allows, and an atom that
 * is an operator standing as an operand, are put in parentheses.  Recursion
 * follows the term's depth; this writer is for tests and messages, where
 * terms are small.
 */
#include "term_text.h"
#include "native_stack.h"

#include <cctype>

#include <cstdio>
#include <cstring>

#include "atoms.h"
#include "initial_atoms.h"
#include "number_text.h"
#include "operators.h"
#include "terms.h"
#include "worker.h"

namespace {

bool is_symbol_char(char c) { return c != '\0' && std::strchr("+-*/\\^<>=~:.?@#&$", c) != nullptr; }

bool is_alnum_char(char c)
{
  const unsigned char u = static_cast<unsigned char>(c);
  return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '_' ||
         u >= 0x80;
}

/* a followed by b, with a blank when the two would run together. */
std::string join(const std::string &a, const std::string &b)
{
  if (a.empty() || b.empty())
    return a + b;
  const char last = a.back(), first = b.front();
  if ((is_alnum_char(last) && is_alnum_char(first)) || (is_symbol_char(last) && is_symbol_char(first)) ||
      (last == '\'' && first == '\''))
    return a + " " + b;
  return a + b;
}

int atom_operator_priority(TAGGED atom)
{
  int best = 0;
  op_def d;
  for (op_class c : {OP_PREFIX, OP_INFIX, OP_POSTFIX})
    if (op_lookup(atom, c, &d) && d.priority > best)
      best = d.priority;
  return best;
}

std::string number_text(TAGGED t)
{
  const char *text = vr_number_to_string(t, 10, 0);
  return text != nullptr ? std::string(text) : std::string("?number");
}

std::string variable_text(TAGGED t)
{
  const TAGGED *cell = TagToRef(t);
  const worker *w = self;
  char buf[32];
  if (w != nullptr && w->heap_start != nullptr && cell >= w->heap_start && cell < w->heap_end)
    std::snprintf(buf, sizeof buf, "_%ld", static_cast<long>(cell - w->heap_start));
  else
    std::snprintf(buf, sizeof buf, "_L%lu", static_cast<unsigned long>(t));
  return buf;
}

std::string operator_name_text(TAGGED name)
{
  if (name == MakeAtom(atom_comma_enum))
    return ",";
  if (name == MakeAtom(atom_bar_enum))
    return "|";
  return atom_text_quoted(name);
}

std::string bracket(const std::string &s) { return "(" + s + ")"; }

std::string write(TAGGED t, int prec, bool operand);

std::string write_args(const TAGGED *args, unsigned n)
{
  std::string s;
  for (unsigned i = 0; i < n; ++i) {
    if (i > 0)
      s += ",";
    s += write(args[i], 999, false);
  }
  return s;
}

std::string write(TAGGED t, int prec, bool operand)
{
  if (native_stack_low())
    return "..."; /* nested deeper than the stack allows */
  t = deref(t);
  if (IsVar(t))
    return variable_text(t);
  if (IsSmall(t))
    return number_text(t);
  if (IsAtom(t)) {
    std::string s = atom_text_quoted(t);
    const int p = atom_operator_priority(t);
    if (p > 0 && (operand || p > prec))
      return bracket(s);
    return s;
  }
  if (IsList(t)) {
    std::string s = "[";
    s += write(TagToLST(t)[0], 999, false);
    TAGGED tail = deref(TagToLST(t)[1]);
    while (IsList(tail)) {
      s += ",";
      s += write(TagToLST(tail)[0], 999, false);
      tail = deref(TagToLST(tail)[1]);
    }
    if (tail != atom_nil) {
      s += "|";
      s += write(tail, 999, false);
    }
    return s + "]";
  }
  if (!IsStructure(t))
    return "?";
  const TAGGED *p = TagToSTR(t);
  if (IsBoxHeader(p[0]))
    return number_text(t);
  const TAGGED f = p[0];
  const TAGGED name = FunctorName(f);
  const unsigned arity = Arity(f);
  op_def d;
  if (arity == 1 && std::strcmp(atom_name(name), "{}") == 0)
    return "{" + write(p[1], 1200, false) + "}";
  if (arity == 2 && op_lookup(name, OP_INFIX, &d)) {
    const std::string left = write(p[1], d.left, true);
    const std::string right = write(p[2], d.right, true);
    const std::string op = operator_name_text(name);
    std::string s;
    if (is_alnum_char(op.front()))
      s = left + " " + op + " " + right;
    else
      s = join(join(left, op), right);
    return d.priority > prec ? bracket(s) : s;
  }
  if (arity == 1 && op_lookup(name, OP_PREFIX, &d)) {
    const std::string op = operator_name_text(name);
    const std::string arg = write(p[1], d.right, true);
    /* "-(1)" must not print as the literal -1, and "f (x)" as f(x). */
    const bool sign = name == MakeAtom(atom_minus_enum) || name == MakeAtom(atom_plus_enum);
    std::string s;
    if (arg.front() == '(' || (sign && arg.front() >= '0' && arg.front() <= '9'))
      s = op + " " + arg;
    else
      s = join(op, arg);
    return d.priority > prec ? bracket(s) : s;
  }
  if (arity == 1 && op_lookup(name, OP_POSTFIX, &d)) {
    const std::string s = join(write(p[1], d.left, true), operator_name_text(name));
    return d.priority > prec ? bracket(s) : s;
  }
  return atom_text_quoted(name) + "(" + write_args(p + 1, arity) + ")";
}

} // namespace

std::string atom_text_quoted(TAGGED atom)
{
  const struct atom *a = atom_record(atom);
  if (!a->needs_quoting)
    return a->name;
  std::string s = "'";
  const unsigned char *c = reinterpret_cast<const unsigned char *>(a->name);
  for (; *c != '\0'; ++c) {
    char buf[16];
    switch (*c) {
    case '\'': s += "\\'"; break;
    case '\\': s += "\\\\"; break;
    case '\n': s += "\\n"; break;
    case '\t': s += "\\t"; break;
    default:
      if (*c == 0xC0 && c[1] == 0x80) { /* code 0 */
        s += "\\x0\\";
        ++c;
      } else if (*c < 0x20 || *c == 0x7F) {
        std::snprintf(buf, sizeof buf, "\\x%x\\", *c);
        s += buf;
      } else {
        s += static_cast<char>(*c);
      }
    }
  }
  return s + "'";
}

std::string term_to_text(TAGGED t) { return write(t, 1200, false); }

std::string without_variable_numbers(const std::string &t)
{
  std::string out;
  bool quoted = false;
  for (size_t i = 0; i < t.size(); i++) {
    out += t[i];
    if (t[i] == '\'')
      quoted = !quoted;
    if (!quoted && t[i] == '_' && (i == 0 || !std::isalnum(static_cast<unsigned char>(t[i - 1]))))
      while (i + 1 < t.size() && (std::isdigit(static_cast<unsigned char>(t[i + 1])) || t[i + 1] == 'L'))
        i++;
  }
  return out;
}
