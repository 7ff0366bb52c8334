/* term_reader.cpp: the operator-precedence parser behind every read.
 *
 * The parser is recursive descent over priorities.  Every term it holds
 * lives on one value stack (`vals`), never in C++ locals across a call that
 * may read a token or build: a compound's name is pushed first, then its
 * arguments, and building pops them all and pushes the result.  That keeps
 * two promises with one walk over the stack and the variable table:
 *   - when the heap is moved to grow it (inside the tokenizer or here), the
 *     held heap pointers are moved by the same distance (relocate);
 *   - atoms not yet stored on the heap stay marked for the atom collector
 *     (mark_reader_atoms).
 * Syntax errors unwind the parse with a C++ exception local to this file;
 * read_clause_term catches it, skips to the full stop and reports it.
 * Arguments and list elements are parsed at priority 1200 with the comma
 * (and in lists the bar) as delimiters instead of the standard's 999, so
 * that f(a:-b) and [a;b] read as their writers meant.
 */
#include "term_reader.h"
#include "native_stack.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "atoms.h"
#include "bignum.h"
#include "chartype.h"
#include "datadefs.h"
#include "errors.h"
#include "initial_atoms.h"
#include "operators.h"
#include "stack_growth.h"
#include "streams.h"
#include "terms.h"
#include "tokenizer.h"
#include "unify.h"
#include "worker.h"

namespace {

struct syntax_stop {};
struct io_stop {};

struct var_entry {
  std::string name;
  TAGGED var;
  int count;
};

constexpr int MAX_ARITY = 255;
constexpr int STOP_COMMA = 1, STOP_BAR = 2;

TAGGED punct(atom_sequence_number_enum e) { return MakeAtom(e); }

struct reader;
struct reader {
  worker *w = nullptr;
  token_source *src = nullptr;
  int live = 0;
  int ch = ' ';
  token cur{};
  std::vector<TAGGED> vals;
  std::vector<var_entry> vars;
  const char *message = nullptr;
  long error_line = 0;
  bool error_at_end = false;
  bool busy = false;            /* a clause is being read */
  TAGGED saved_gcmode = 0;

  /* Ready for a new clause; a blank as look-ahead makes the tokenizer
     start with the source's first character. */
  void reset(worker *w_, token_source *src_, int live_)
  {
    w = w_;
    src = src_;
    live = live_;
    ch = ' ';
    cur = token{};
    vals.clear();
    vars.clear();
    message = nullptr;
    error_line = 0;
    error_at_end = false;
  }

  /* ---- Holding terms across heap moves ---- */

  void relocate(const TAGGED *old_start, const TAGGED *old_top, std::ptrdiff_t delta)
  {
    auto move = [&](TAGGED &t) {
      if (IsAtomic(t))
        return;
      const TAGGED *p = TagToPointer(t);
      if (p >= old_start && p <= old_top)
        t = static_cast<TAGGED>(t + delta);
    };
    for (TAGGED &t : vals)
      move(t);
    for (var_entry &v : vars)
      move(v.var);
  }

  /* Runs f, which may move the heap, and moves the held terms after it. */
  template <typename F> void may_move(F f)
  {
    TAGGED *old_start = w->heap_start;
    TAGGED *old_top = w->global_top;
    f();
    if (w->heap_start != old_start)
      relocate(old_start, old_top,
               reinterpret_cast<char *>(w->heap_start) - reinterpret_cast<char *>(old_start));
  }

  void room(int words)
  {
    if (w->global_top + words <= w->heap_warn)
      return;
    may_move([&] { call_overflow(w, words, live); });
  }

  /* ---- Tokens ---- */

  void read_next(int flag)
  {
    token t;
    int ok = 0;
    may_move([&] { ok = read_token(w, src, ch, flag, live, &t); });
    if (!ok)
      throw io_stop{};
    cur = t;
    ch = t.next;
  }

  /* The next token; a '(' straight after a name opens its arguments. */
  void advance()
  {
    read_next(cur.kind == TOKEN_ATOM ? 1 : 0);
    if (cur.status < 0 && cur.status != TK_EOF && cur.status != TK_EOF_IN_LINE_COMMENT)
      fail(status_message(cur.status));
  }

  static const char *status_message(int status)
  {
    switch (status) {
    case TK_INCORRECT_ESCAPE_CHAR: return "incorrect escape character";
    case TK_INCORRECT_ESCAPE_SEQUENCE: return "incorrect escape sequence";
    case TK_INCORRECT_ESCAPE_VALUE: return "incorrect escape value";
    case TK_LAYOUT_INSIDE_QUOTES: return "layout character inside quotes";
    case TK_EOF_INSIDE_QUOTES: return "end of file inside quotes";
    case TK_EOF_INSIDE_CHAR_CODE: return "end of file inside a character code";
    case TK_EOF_INSIDE_COMMENT: return "end of file inside a comment";
    case TK_CHAR_CODE_SYNTAX: return "bad character code";
    case TK_BASED_CONSTANT_SYNTAX: return "bad based number";
    case TK_FLOAT_SYNTAX: return "bad float";
    case TK_FLOAT_OVERFLOW: return "float overflow";
    case TK_INCORRECT_CHAR_INSIDE_QUOTES: return "incorrect character inside quotes";
    case TK_INCORRECT_CHAR: return "illegal character";
    default: return "bad number";
    }
  }

  [[noreturn]] void fail(const char *msg)
  {
    message = msg;
    error_line = cur.line;
    error_at_end = cur.kind == TOKEN_END || cur.kind == TOKEN_EOF;
    throw syntax_stop{};
  }

  bool is_punct(atom_sequence_number_enum e) const
  {
    return cur.kind == TOKEN_PUNCT && cur.value == punct(e);
  }

  void expect(atom_sequence_number_enum e, const char *msg)
  {
    if (!is_punct(e))
      fail(stop_message(msg));
    advance();
  }

  /* What to say when a term is complete but is not followed by what the
     context needs. */
  const char *stop_message(const char *otherwise) const
  {
    op_def d;
    if (cur.kind == TOKEN_ATOM && (op_lookup(cur.value, OP_INFIX, &d) || op_lookup(cur.value, OP_POSTFIX, &d)))
      return "operator priority clash";
    if (cur.kind == TOKEN_EOF)
      return "unexpected end of file";
    if (cur.kind == TOKEN_END)
      return "unexpected end of clause";
    return otherwise;
  }

  /* ---- Building ---- */

  void push(TAGGED t) { vals.push_back(t); }

  /* vals: ... name a1 .. an  ->  ... name(a1, .., an) */
  void build_compound(int n)
  {
    room(n + 1);
    TAGGED *h = w->global_top;
    const std::size_t base = vals.size() - static_cast<std::size_t>(n) - 1;
    h[0] = MakeFunctor(vals[base], static_cast<unsigned>(n));
    for (int i = 0; i < n; ++i)
      h[1 + i] = vals[base + 1 + static_cast<std::size_t>(i)];
    w->global_top = h + n + 1;
    vals.resize(base);
    push(MakeSTR(h));
  }

  /* vals: ... left name right  ->  ... name(left, right) */
  void build_infix()
  {
    std::swap(vals[vals.size() - 3], vals[vals.size() - 2]);
    build_compound(2);
  }

  /* vals: ... arg name  ->  ... name(arg) */
  void build_postfix()
  {
    std::swap(vals[vals.size() - 2], vals[vals.size() - 1]);
    build_compound(1);
  }

  /* vals: ... e1 .. en tail  ->  ... [e1, .., en | tail] */
  void build_list(int n)
  {
    room(2 * n);
    TAGGED list = vals.back();
    vals.pop_back();
    TAGGED *h = w->global_top;
    w->global_top = h + 2 * n;
    for (int i = n - 1; i >= 0; --i) {
      TAGGED *cell = h + 2 * i;
      cell[0] = vals.back();
      cell[1] = list;
      vals.pop_back();
      list = MakeLST(cell);
    }
    push(list);
  }

  void negate_number_on_top()
  {
    const TAGGED t = vals.back();
    if (IsSmall(t)) {
      const VR_INTEGER v = GetSmall(t);
      room(4);
      vals.back() = make_integer_term(w, -static_cast<VR_int64>(v));
      return;
    }
    const TAGGED *box = TagToSTR(t);
    if (BoxIsFloat(box[0])) {
      room(4);
      vals.back() = make_float(w, -vri_get_float(t));
      return;
    }
    room(static_cast<int>(BoxWords(box[0])) + 2);
    int error = 0;
    TAGGED r = bn_call(w, bn_minus, vals.back(), 0, &error);
    if (r == 0 || error != 0)
      fail("integer too large");
    if (IsStructure(r))
      r = make_large(w, TagToSTR(r));
    vals.back() = r;
  }

  TAGGED variable(const token &t)
  {
    std::string name;
    for (TAGGED l = deref(t.var_name); IsList(l); l = deref(TagToLST(l)[1])) {
      char buf[8];
      const int n = VR_code_wci(buf, GetSmall(deref(TagToLST(l)[0])));
      if (n > 0)
        name.append(buf, static_cast<std::size_t>(n));
    }
    if (name == "_")
      return t.value;
    for (var_entry &v : vars)
      if (v.name == name) {
        ++v.count;
        return v.var;
      }
    vars.push_back(var_entry{name, t.value, 1});
    return t.value;
  }

  /* ---- Parsing ---- */

  /* True when the current token cannot begin a term, so that a prefix
     operator before it stands for itself. */
  bool cannot_start_term() const
  {
    switch (cur.kind) {
    case TOKEN_END:
    case TOKEN_EOF:
      return true;
    case TOKEN_PUNCT:
      return cur.value == punct(atom_rpar_enum) || cur.value == punct(atom_rbrack_enum) ||
             cur.value == punct(atom_rbrace_enum) || cur.value == punct(atom_comma_enum) ||
             cur.value == punct(atom_bar_enum);
    case TOKEN_ATOM: {
      if (cur.next == '(')
        return false;  /* functional notation */
      op_def d;
      if (op_lookup(cur.value, OP_PREFIX, &d))
        return false;
      return op_lookup(cur.value, OP_INFIX, &d) || op_lookup(cur.value, OP_POSTFIX, &d);
    }
    default:
      return false;
    }
  }

  /* stop: the punctuation that ends the term in this context (STOP_COMMA
     in arguments and list elements, STOP_BAR in list elements); operands
     of operators inherit it, brackets start afresh. */
  int parse(int max_prec, int stop = 0)
  {
    if (native_stack_low())
      fail("term nested too deeply");
    const int left = parse_primary(max_prec, stop);
    return parse_infix(left, max_prec, stop);
  }

  /* An argument or list element.  The standard caps these at 999; like
     most systems the reader lets any operator but the delimiting comma
     (and bar) appear unbracketed, so f(a:-b) and [a;b] read as meant. */
  void parse_arg(int stop) { parse(1200, stop); }

  int parse_args()
  {
    int n = 0;
    for (;;) {
      if (n == MAX_ARITY)
        fail("too many arguments");
      parse_arg(STOP_COMMA);
      ++n;
      if (!is_punct(atom_comma_enum))
        return n;
      advance();
    }
  }

  int parse_name(int max_prec, int stop)
  {
    const TAGGED name = cur.value;
    const int next_char = cur.next;
    push(name);
    advance();

    if (is_punct(atom_lpar_enum)) { /* name( : functional notation */
      advance();
      const int n = parse_args();
      expect(atom_rpar_enum, "expected , or )");
      build_compound(n);
      return 0;
    }
    /* A minus sign written against a numeric literal is part of it. */
    if (name == punct(atom_minus_enum) && cur.kind == TOKEN_NUMBER && next_char >= '0' &&
        next_char <= '9') {
      vals.back() = cur.value;
      negate_number_on_top();
      advance();
      return 0;
    }
    op_def pre;
    if (op_lookup(name, OP_PREFIX, &pre) && !cannot_start_term()) {
      if (pre.priority > max_prec)
        fail("operator priority clash");
      parse(pre.right, stop);
      build_compound(1);
      return pre.priority;
    }
    return 0;
  }

  int parse_primary(int max_prec, int stop)
  {
    switch (cur.kind) {
    case TOKEN_NUMBER:
    case TOKEN_STRING:
      push(cur.value);
      advance();
      return 0;
    case TOKEN_VAR:
      push(variable(cur));
      advance();
      return 0;
    case TOKEN_ATOM:
      return parse_name(max_prec, stop);
    case TOKEN_END:
      fail("unexpected end of clause");
    case TOKEN_EOF:
      fail("unexpected end of file");
    case TOKEN_PUNCT:
      break;
    default:
      fail("illegal character");
    }
    const TAGGED p = cur.value;
    if (p == punct(atom_lpar_enum) || p == punct(atom_blank_lpar_enum)) {
      advance();
      parse(1200);
      expect(atom_rpar_enum, "expected )");
      return 0;
    }
    if (p == punct(atom_lbrack_enum)) {
      advance();
      if (is_punct(atom_rbrack_enum)) {
        push(atom_nil);
        advance();
        return 0;
      }
      int n = 0;
      for (;;) {
        parse_arg(STOP_COMMA | STOP_BAR);
        ++n;
        if (!is_punct(atom_comma_enum))
          break;
        advance();
      }
      if (is_punct(atom_bar_enum)) {
        advance();
        parse_arg(STOP_COMMA | STOP_BAR);
      } else {
        push(atom_nil);
      }
      expect(atom_rbrack_enum, "expected , | or ]");
      build_list(n);
      return 0;
    }
    if (p == punct(atom_lbrace_enum)) {
      advance();
      const TAGGED curly = init_atom_check("{}", 0);
      push(curly);
      if (is_punct(atom_rbrace_enum)) {
        advance();
        return 0;
      }
      parse(1200);
      expect(atom_rbrace_enum, "expected }");
      build_compound(1);
      return 0;
    }
    if (p == punct(atom_comma_enum))
      fail("unexpected ,");
    if (p == punct(atom_bar_enum))
      fail("unexpected |");
    fail("unexpected closing bracket");
  }

  int parse_infix(int left_prec, int max_prec, int stop)
  {
    for (;;) {
      TAGGED name;
      if (cur.kind == TOKEN_ATOM)
        name = cur.value;
      else if (is_punct(atom_comma_enum) && !(stop & STOP_COMMA))
        name = cur.value;
      else if (is_punct(atom_bar_enum) && !(stop & STOP_BAR))
        name = cur.value;
      else
        return left_prec;
      op_def d;
      if (op_lookup(name, OP_INFIX, &d) && d.priority <= max_prec && left_prec <= d.left) {
        push(name);
        advance();
        parse(d.right, stop);
        build_infix();
        left_prec = d.priority;
        continue;
      }
      if (op_lookup(name, OP_POSTFIX, &d) && d.priority <= max_prec && left_prec <= d.left) {
        push(name);
        advance();
        build_postfix();
        left_prec = d.priority;
        continue;
      }
      return left_prec;
    }
  }

  /* ---- Results ---- */

  /* ['Name'=Var, ...] of the variables `keep` accepts. */
  template <typename Keep> TAGGED name_list(Keep keep)
  {
    int n = 0;
    for (const var_entry &v : vars)
      n += keep(v) ? 1 : 0;
    room(5 * n + 1);
    const TAGGED eq = MakeFunctor(MakeAtom(atom_equal_enum), 2);
    TAGGED list = atom_nil;
    TAGGED *last = &list;
    for (const var_entry &v : vars) {
      if (!keep(v))
        continue;
      /* The atom goes to the heap before the next one is made: making an
         atom may collect the unreferenced ones. */
      const TAGGED name = init_atom_check(v.name.c_str(), 0);
      TAGGED *h = w->global_top;
      h[0] = eq;
      h[1] = name;
      h[2] = v.var;
      h[3] = MakeSTR(h);
      h[4] = atom_nil;
      *last = MakeLST(h + 3);
      last = &h[4];
      w->global_top = h + 5;
    }
    return list;
  }
};

/* The one reader.  It lives in static storage rather than on the native
   stack because a memory fault leaves a read by longjmp: the collector's
   marker must then still find valid (if stale) tables, and the next read
   puts back the collection mode the abandoned one switched off.  The reader
   never calls Prolog, so reads do not nest. */
reader the_reader{};

void mark_reader_atoms(worker *)
{
  if (the_reader.busy)
    for (TAGGED t : the_reader.vals)
      if (IsAtom(t))
        agc_atom(t);
}

/* Heap garbage collection stays off while a clause is read (the partial
   terms are no roots), and the reader's atoms are marked. */
struct reading_scope {
  reader &r;
  reading_scope(reader &r_, worker *w, token_source *src, int live) : r(r_)
  {
    if (r.busy) /* abandoned by a jump */
      eglobal->current_gcmode = r.saved_gcmode;
    r.reset(w, src, live);
    r.saved_gcmode = eglobal->current_gcmode;
    eglobal->current_gcmode = MakeAtom(atom_off_enum);
    r.busy = true;
    agc_add_root_marker(mark_reader_atoms);
  }
  ~reading_scope()
  {
    agc_remove_root_marker(mark_reader_atoms);
    r.busy = false;
    eglobal->current_gcmode = r.saved_gcmode;
    /* Keep the tables' capacity, not their terms. */
    r.vals.clear();
    r.vars.clear();
  }
};

} // namespace

int read_clause_term(worker *w, token_source *src, int live, read_result *res)
{
  reader &r = the_reader;
  reading_scope scope(r, w, src, live);
  res->term = MakeAtom(atom_end_of_file_enum);
  res->variable_names = atom_nil;
  res->singletons = atom_nil;
  res->start_line = res->end_line = res->error_line = 0;
  res->message[0] = '\0';
  int status = READ_OK;
  try {
    try {
      r.read_next(0);
      if (r.cur.status < 0 && r.cur.status != TK_EOF && r.cur.status != TK_EOF_IN_LINE_COMMENT)
        r.fail(reader::status_message(r.cur.status));
      res->start_line = r.cur.line;
      if (r.cur.kind != TOKEN_EOF) {
        r.parse(1200);
        if (r.cur.kind != TOKEN_END)
          r.fail(r.stop_message("operator expected"));
        res->end_line = r.cur.line;
        /* Building a list may move the heap: every result stays on the
           value stack, which moves with it, until the last is built. */
        r.push(r.name_list([](const var_entry &) { return true; }));
        r.push(r.name_list([](const var_entry &v) { return v.count == 1; }));
        const std::size_t n = r.vals.size();
        res->term = r.vals[n - 3];
        res->variable_names = r.vals[n - 2];
        res->singletons = r.vals[n - 1];
      }
    } catch (syntax_stop &) {
      status = READ_SYNTAX_ERROR;
      std::snprintf(res->message, sizeof res->message, "%s", r.message);
      res->error_line = r.error_line;
      res->term = MakeAtom(atom_end_of_file_enum);
      /* Skip to the full stop so that the next read starts with the next
         clause; errors in the skipped tokens do not matter. */
      if (!r.error_at_end)
        do
          r.read_next(r.cur.kind == TOKEN_ATOM ? 1 : 0);
        while (r.cur.kind != TOKEN_END && r.cur.kind != TOKEN_EOF);
    }
  } catch (io_stop &) {
    res->term = MakeAtom(atom_end_of_file_enum);
    return READ_IO_ERROR;
  }
  if (r.ch >= 0 && src->unget != nullptr)
    src->unget(src, r.ch);
  return status;
}

int singleton_needs_warning(TAGGED name_atom)
{
  return IsAtom(name_atom) && atom_name(name_atom)[0] != '_';
}

/* ---- $read_term/5 ---- */

int prolog_read_term(worker *w)
{
  VR_stream *s = stream_to_ptr(w->term[0], SM_INPUT | SM_TEXT, 0);
  if (s == nullptr) {
    raise_error("prolog", "read_term", 2, 1);
    return 0;
  }
  stream_source src;
  stream_source_init(&src, s);
  read_result r{};
  /* The five arguments stay live: the reader may grow the heap. */
  const int status = read_clause_term(w, &src.base, 5, &r);
  if (status == READ_IO_ERROR) {
    raise_error("prolog", "read_term", 2, 1);
    return 0;
  }
  TAGGED outcome = atom_nil;
  if (status == READ_SYNTAX_ERROR) {
    /* syntax_error(Message, Line); the term read is an atom here, so a
       heap move cannot leave it behind.  Each atom is on the heap before
       the next one is made (making an atom may collect atoms). */
    if (w->global_top + 8 > w->heap_warn)
      call_overflow(w, 8, 5);
    TAGGED *h = w->global_top;
    w->global_top = h + 3;
    h[0] = atom_nil;
    h[2] = IntIsSmall(r.error_line) ? MakeSmall_checked(r.error_line) : MakeSmall_checked(0);
    h[1] = init_atom_check(r.message, 0);
    h[0] = MakeFunctor(init_atom_check("syntax_error", 0), 2);
    outcome = MakeSTR(h);
  }
  return cunify(w, w->term[1], r.term) && cunify(w, w->term[2], r.variable_names) &&
         cunify(w, w->term[3], r.singletons) && cunify(w, w->term[4], outcome);
}
