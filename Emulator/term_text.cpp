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
#include <unordered_set>
#include <vector>

#include "atoms.h"
#include "chartype.h"
#include "initial_atoms.h"
#include "number_text.h"
#include "operators.h"
#include "terms.h"
#include "worker.h"

namespace {

/* The tokenizer's class of the first character of text, and of the last
   (texts are in the internal encoding). */
int first_class(const std::string &text)
{
  int code;
  return VR_wci_code(&code, text.c_str()) > 0 ? ch_type(code) : 0;
}
int last_class(const std::string &text)
{
  std::size_t i = text.size();
  while (i > 0 && (static_cast<unsigned char>(text[i - 1]) & 0xC0) == 0x80)
    --i; /* continuation bytes */
  int code;
  return i > 0 && VR_wci_code(&code, text.c_str() + i - 1) > 0 ? ch_type(code) : 0;
}

/* Classes that continue a name or a variable. */
bool is_name_class(int c) { return c == CH_LC || c == CH_UC || c == CH_DIGIT || c == CH_UNDERSCORE; }

/* a followed by b, with a blank where the tokenizer would read the two as
   one token: two name pieces, two pieces of symbol characters, or two
   quoted atoms. */
std::string join(const std::string &a, const std::string &b)
{
  if (a.empty() || b.empty())
    return a + b;
  const int last = last_class(a), first = first_class(b);
  if ((is_name_class(last) && is_name_class(first)) || (last == CH_SYMBOL && first == CH_SYMBOL) ||
      (a.back() == '\'' && b.front() == '\''))
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

/* The compound cells being written (the path from the root, and the list
   cells of the lists open on it): a cyclic term meets one of them again,
   and is written "..." there instead of for ever. */
std::unordered_set<const TAGGED *> *open_cells = nullptr;

struct open_cell {
  const TAGGED *cell;
  bool again;
  explicit open_cell(const TAGGED *c) : cell(c), again(!open_cells->insert(c).second) {}
  open_cell(const open_cell &) = delete;
  open_cell &operator=(const open_cell &) = delete;
  ~open_cell()
  {
    if (!again)
      open_cells->erase(cell);
  }
};

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
    const open_cell first(TagToLST(t));
    if (first.again)
      return "...";
    std::vector<const TAGGED *> spine; /* the list's further cells, open too */
    std::string s = "[";
    s += write(TagToLST(t)[0], 999, false);
    TAGGED tail = deref(TagToLST(t)[1]);
    while (IsList(tail) && open_cells->insert(TagToLST(tail)).second) {
      spine.push_back(TagToLST(tail));
      s += ",";
      s += write(TagToLST(tail)[0], 999, false);
      tail = deref(TagToLST(tail)[1]);
    }
    if (IsList(tail))
      s += "|...";
    else if (tail != atom_nil) {
      s += "|";
      s += write(tail, 999, false);
    }
    for (const TAGGED *c : spine)
      open_cells->erase(c);
    return s + "]";
  }
  if (!IsStructure(t))
    return "?";
  const TAGGED *p = TagToSTR(t);
  if (IsBoxHeader(p[0]))
    return number_text(t);
  const open_cell self_cell(p);
  if (self_cell.again)
    return "...";
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
    if (is_name_class(first_class(op)))
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

std::string term_to_text(TAGGED t)
{
  std::unordered_set<const TAGGED *> cells;
  std::unordered_set<const TAGGED *> *outer = open_cells;
  open_cells = &cells;
  std::string s = write(t, 1200, false);
  open_cells = outer;
  return s;
}

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
