/* tokenizer.cpp: one Prolog token per call, from a token_source.
 *
 * A call starts at the look-ahead character its caller passes in, reads
 * exactly as far as the token needs plus one character, and hands that
 * character back as the next look-ahead.  Look-ahead codes travel as read,
 * before character conversion: the next call converts its Char at entry,
 * so a code is converted once however it travelled.  A number that has
 * to give back more than that one character pushes the extra one back
 * onto the source (which holds at most one), which is why a dropped
 * exponent letter travels in the status instead.
 *
 * Text is gathered in a buffer on the C stack (heap block beyond 512
 * bytes, released on every way out) and turned into terms only at the
 * end, after one check for heap room that covers the token and its
 * wrapper; so no term is held across a heap expansion.
 *
 * Read errors of the source leave through io_failure (never past this
 * file): the error has been recorded, the buffer is released by the
 * scanner's destructor, and read_token returns 0 for the caller to raise.
 *
 * Callers: `$read_token/6` of the Prolog library's reader, the native term
 * reader, and the number parser (single_quoted_character).
 */
#include "tokenizer.h"

#include <cmath>
#include <cstring>

#include "char_conversion.h"
#include "chartype.h"
#include "datadefs.h"
#include "errors.h"
#include "initial_atoms.h"
#include "memman.h"
#include "number_text.h"
#include "stack_growth.h"
#include "terms.h"
#include "unify.h"
#include "worker.h"

token_source *current_token_input = nullptr;

/* Escape decoder state, shared by the tokenizer and the number parser.
   escape_log_base is -1 while no numeric escape is open. */
static std::int32_t escape_value;
static int escape_log_base = -1;
static int escape_flags;
constexpr int ESCAPE_NO_DIGIT = 1;
constexpr int ESCAPE_OVERFLOW = 2;

/* ---- Text source ---- */

static void text_count(text_source *s, int code)
{
  if (code == '\n') {
    s->saved_line_length = s->line_length;
    ++s->newlines;
    s->line_length = 0;
  } else {
    ++s->line_length;
  }
}

static int text_get(token_source *src)
{
  auto *s = reinterpret_cast<text_source *>(src);
  int code;
  if (s->pushed != TEXT_SOURCE_NO_PUSHBACK) {
    code = s->pushed;
    s->pushed = TEXT_SOURCE_NO_PUSHBACK;
  } else {
    if (s->pos >= s->end)
      return -1;
    const auto lead = static_cast<unsigned char>(s->pos[0]);
    const int extra = wci_extra_bytes[lead];
    /* Bounds first: the text need not be terminated. */
    if (extra > 6 || s->end - s->pos < extra + 1 || VR_wci_code(&code, s->pos) != extra + 1) {
      if (s->bad_byte < 0) {
        s->bad_byte = lead;
        s->bad_line = s->newlines + 1;
      }
      ++s->pos;  /* only the lead byte: what follows may be good text */
      code = TEXT_SOURCE_BAD_BYTE + lead;
    } else {
      s->pos += extra + 1;
    }
  }
  text_count(s, code);
  return code;
}

static void text_unget(token_source *src, int code)
{
  auto *s = reinterpret_cast<text_source *>(src);
  s->pushed = code;
  if (code == '\n') {
    --s->newlines;
    s->line_length = s->saved_line_length;
  } else {
    --s->line_length;
  }
}

static int text_counts(token_source *src, long *newlines, long *line_length)
{
  auto *s = reinterpret_cast<text_source *>(src);
  *newlines = s->newlines;
  *line_length = s->line_length;
  return 1;
}

void text_source_init(text_source *src, const char *text, std::size_t length)
{
  src->base.get = text_get;
  src->base.unget = text_unget;
  src->base.counts = text_counts;
  src->base.record_error = nullptr;  /* a text never fails to read */
  src->pos = text;
  src->end = text + length;
  src->pushed = TEXT_SOURCE_NO_PUSHBACK;
  src->newlines = 0;
  src->line_length = 0;
  src->saved_line_length = 0;
  src->bad_byte = -1;
  src->bad_line = 0;
}

void text_source_init(text_source *src, const char *text)
{
  text_source_init(src, text, std::strlen(text));
}

static int empty_get(token_source *) { return -1; }
static void empty_unget(token_source *, int) {}
static int empty_counts(token_source *, long *, long *) { return 0; }
static token_source empty_source = {empty_get, empty_unget, empty_counts, nullptr};

/* ---- Token buffer ---- */

constexpr std::size_t STAT_BUF_SIZE = 512;

void ensure_buffer(char **bufp, char *stat_buf, std::size_t *lenp, std::size_t newlen)
{
  if (*bufp == stat_buf) {
    char *block = static_cast<char *>(checkalloc(newlen, mm_code(MM_BIN_MISC)));
    std::memcpy(block, stat_buf, *lenp);
    *bufp = block;
  } else {
    *bufp = static_cast<char *>(checkrealloc(*bufp, *lenp, newlen, mm_code(MM_BIN_MISC)));
  }
  *lenp = newlen;
}

void release_buffer(char *buf, char *stat_buf, std::size_t len)
{
  if (buf != stat_buf)
    checkdealloc(buf, len, mm_code(MM_BIN_MISC));
}

/* ---- Escapes ---- */

int first_iso_escape_char(int ch)
{
  escape_log_base = -1;
  switch (ch) {
  case 'a': return 7;
  case 'b': return 8;
  case 'd': return 127;
  case 'e': return 27;
  case 'f': return 12;
  case 'n': return 10;
  case 'r': return 13;
  case 't': return 9;
  case 'v': return 11;
  case '\\': case '\'': case '"': case '`': return ch;
  case 'x':
    escape_value = 0;
    escape_log_base = 4;
    escape_flags = ESCAPE_NO_DIGIT;
    return ESCAPE_MORE;
  default:
    if (ch >= '0' && ch <= '7') {
      escape_value = ch - '0';
      escape_log_base = 3;
      escape_flags = 0;
      return ESCAPE_MORE;
    }
    return TK_INCORRECT_ESCAPE_CHAR;
  }
}

int next_iso_escape_char(int ch, int cls)
{
  if (escape_log_base < 0)
    return TK_INCORRECT_ESCAPE_SEQUENCE;
  if (ch == '\\') {
    const int flags = escape_flags;
    escape_log_base = -1;
    if (flags & ESCAPE_NO_DIGIT)
      return TK_INCORRECT_ESCAPE_SEQUENCE;
    /* The closing backslash ends the escape whatever its value: reporting
       an overflow here, rather than on one more character, keeps the
       character after the escape (perhaps the closing quote) unread. */
    if (flags & ESCAPE_OVERFLOW)
      return TK_INCORRECT_ESCAPE_VALUE;
    return escape_value;
  }
  int digit;
  if (cls == CH_DIGIT && ch >= '0' && ch <= '9')
    digit = ch - '0';
  else if (cls == CH_LC && ch >= 'a' && ch <= 'z')
    digit = ch - 87;
  else if (cls == CH_UC && ch >= 'A' && ch <= 'Z')
    digit = ch - 55;
  else
    return TK_INCORRECT_ESCAPE_SEQUENCE;
  if (digit >= (1 << escape_log_base))
    return TK_INCORRECT_ESCAPE_SEQUENCE;
  if (escape_value > (0x7FFFFFFF >> escape_log_base))
    escape_flags |= ESCAPE_OVERFLOW;
  escape_value = static_cast<std::int32_t>((static_cast<std::uint32_t>(escape_value) << escape_log_base) +
                                           static_cast<std::uint32_t>(digit));
  escape_flags &= ~ESCAPE_NO_DIGIT;
  return ESCAPE_MORE;
}

int single_quoted_character(const char *text, int *code)
{
  const auto c = static_cast<unsigned char>(text[0]);
  if (c == '\'') {
    if (text[1] == '\'' && text[2] == '\0') {
      *code = '\'';
      return 1;
    }
    return 0;
  }
  if (c == '\\') {
    const char *p = text + 1;
    int ch;
    int n = VR_wci_code(&ch, p);
    if (n <= 0)
      return 0;
    p += n;
    int r = first_iso_escape_char(ch);
    while (r == ESCAPE_MORE) {
      n = VR_wci_code(&ch, p);
      if (n <= 0)
        break;
      p += n;
      r = next_iso_escape_char(ch, ch_type(ch));
    }
    escape_log_base = -1;
    if (r < 0 || *p != '\0')
      return 0;
    *code = r;
    return 1;
  }
  /* One byte below 128: a character written with more bytes is not one
     character of the source text's alphabet here. */
  if (c == 0 || c >= 0x80 || text[1] != '\0')
    return 0;
  if (c != ' ' && ch_type(c) == CH_WHITE)
    return 0;
  *code = c;
  return 1;
}

/* ---- The scanner ---- */

namespace {

struct io_failure {};

/* Whether a character of class CH_UNDECIDED may stand inside quotes: a
   Unicode scalar value that is not private use, a surrogate or a
   non-character.  (Unassigned code points pass: no tables here.) */
bool non_private_abstract_char(int code)
{
  if (code < 0 || code > 0x10FFFF)
    return false;
  if (code >= 0xD800 && code <= 0xDFFF)
    return false;
  if (code >= 0xE000 && code <= 0xF8FF)
    return false;
  if (code >= 0xF0000)
    return false;  /* planes 15 and 16: private use */
  if (code >= 0xFDD0 && code <= 0xFDEF)
    return false;
  if ((code & 0xFFFE) == 0xFFFE)
    return false;
  return true;
}

constexpr int NOT_CONVERTED = -10;
/* Heap words left free when read_token returns: token_term's wrapper
   (at most 4) and boxes for the look-ahead and line (4 each). */
constexpr int WRAPPER_WORDS = 16;

struct scanner {
  worker *w;
  token_source *src;
  int live;
  int ch = -1;           /* current character, converted */
  int cls = 0;
  int unconv_ch = NOT_CONVERTED;  /* ch as read, when conversion changed it */
  bool do_charconv = false;
  bool converting = false;  /* conversion applies to the characters read now */
  char stat_buf[STAT_BUF_SIZE];
  char *buf = stat_buf;
  std::size_t buf_len = STAT_BUF_SIZE;
  std::size_t fill = 0;

  scanner(worker *w_, token_source *src_, int live_) : w(w_), src(src_), live(live_) {}
  ~scanner() { release_buffer(buf, stat_buf, buf_len); }
  scanner(const scanner &) = delete;
  scanner &operator=(const scanner &) = delete;

  void classify() { cls = ch < 0 ? 0 : ch_type(ch); }

  void convert()
  {
    unconv_ch = NOT_CONVERTED;
    if (converting && ch >= 0) {
      const int to = conv_char(ch);
      if (to != ch) {
        unconv_ch = ch;
        ch = to;
      }
    }
    classify();
  }

  void read_next()
  {
    const int c = src->get(src);
    if (c < -1) {
      if (src->record_error != nullptr)
        src->record_error(src, c);
      else
        save_error(SYSTEM_ERROR, "read error while reading a token", MakeSmall_checked(c));
      throw io_failure{};
    }
    ch = c;
    convert();
  }

  /* The look-ahead as read, for the caller to pass back. */
  int raw() const { return unconv_ch != NOT_CONVERTED ? unconv_ch : ch; }

  /* Gives the current character back to the source; the caller's
     look-ahead becomes something else. */
  void push_back()
  {
    if (ch >= 0)
      src->unget(src, raw());
  }

  long line()
  {
    long newlines = 0, line_length = 0;
    if (src->counts == nullptr || !src->counts(src, &newlines, &line_length))
      return 0;
    return line_length > 0 ? newlines + 1 : newlines;
  }

  void reserve(std::size_t n)
  {
    if (fill + n >= buf_len) {
      std::size_t want = 2 * fill;
      if (want < fill + n + 1)
        want = fill + n + 1;
      ensure_buffer(&buf, stat_buf, &buf_len, want);
    }
  }
  void put_byte(char b)
  {
    reserve(1);
    buf[fill++] = b;
  }
  void put_text(int code)
  {
    reserve(6);
    fill += static_cast<std::size_t>(VR_code_wci(buf + fill, code));
  }
  void put_code(int code)
  {
    reserve(4);
    const std::int32_t c = code;
    std::memcpy(buf + fill, &c, 4);
    fill += 4;
  }
  const char *text()
  {
    reserve(1);
    buf[fill] = '\0';
    return buf;
  }
  std::size_t codes() const { return fill / 4; }
  int code_at(std::size_t i) const
  {
    std::int32_t c;
    std::memcpy(&c, buf + 4 * i, 4);
    return c;
  }

  /* Heap room for `words` plus the wrapper token_term builds. */
  void room(long words)
  {
    const long need = words + WRAPPER_WORDS;
    if (w->stack_start - w->global_top < need)
      call_overflow(w, static_cast<int>(need), live);
  }

  TAGGED make_atom(const char *t)
  {
    const TAGGED a = init_atom_check(t, 0);
    if (a == 0) {
      save_error(SYSTEM_ERROR, "the atom table is full", atom_nil);
      throw io_failure{};
    }
    return a;
  }

  TAGGED integer(VR_INTEGER v)
  {
    room(4);
    return IntIsSmall(v) ? MakeSmall_checked(v) : make_integer(w, v);
  }
};

void finish(scanner &s, token *out, int kind, int status, TAGGED value)
{
  out->kind = kind;
  out->status = status;
  out->value = value;
  out->next = s.raw();
}

void symbol_atom(scanner &s, token *out)
{
  while (s.cls == CH_SYMBOL) {
    s.put_text(s.ch);
    s.read_next();
  }
  s.room(0);
  finish(s, out, TOKEN_ATOM, 1, s.make_atom(s.text()));
}

void name_atom(scanner &s, token *out)
{
  while (s.cls == CH_LC || s.cls == CH_UC || s.cls == CH_DIGIT || s.ch == '_') {
    s.put_text(s.ch);
    s.read_next();
  }
  s.room(0);
  finish(s, out, TOKEN_ATOM, 1, s.make_atom(s.text()));
}

void variable(scanner &s, token *out)
{
  std::uint32_t h = 0;
  while (s.cls == CH_LC || s.cls == CH_UC || s.cls == CH_DIGIT || s.cls == CH_UNDERSCORE || s.ch == '_') {
    h = h * 16 + static_cast<std::uint32_t>(s.ch);
    if (h > 0x0FFFFFFF)
      h = (h & 0x0FFFFFFF) ^ (h >> 28);
    s.put_code(s.ch);
    s.read_next();
  }
  const std::size_t n = s.codes();
  s.room(static_cast<long>(2 * n + 1));
  TAGGED *heap = s.w->global_top;
  TAGGED *var = heap;
  *var = PointerToTerm(var);
  TAGGED *cells = heap + 1;
  for (std::size_t i = 0; i < n; ++i) {
    cells[2 * i] = MakeSmall_checked(s.code_at(i));
    cells[2 * i + 1] = i + 1 < n ? MakeLST(cells + 2 * i + 2) : atom_nil;
  }
  s.w->global_top = cells + 2 * n;
  out->var_hash = h;
  out->var_name = n > 0 ? MakeLST(cells) : atom_nil;
  finish(s, out, TOKEN_VAR, 0, PointerToTerm(var));
}

/* A list of codes, or of one-character atoms, from the 32-bit codes in the
   buffer.  The cells are laid down first, so that atoms made while filling
   them are already reachable from the heap. */
TAGGED code_list(scanner &s, bool as_atoms)
{
  const std::size_t n = s.codes();
  s.room(static_cast<long>(2 * n + 4 * n));  /* boxed codes at most 4 words each */
  if (n == 0)
    return atom_nil;
  TAGGED *cells = s.w->global_top;
  for (std::size_t i = 0; i < n; ++i) {
    cells[2 * i] = atom_nil;
    cells[2 * i + 1] = i + 1 < n ? MakeLST(cells + 2 * i + 2) : atom_nil;
  }
  s.w->global_top = cells + 2 * n;
  for (std::size_t i = 0; i < n; ++i) {
    const int c = s.code_at(i);
    if (!as_atoms) {
      cells[2 * i] = IntIsSmall(c) ? MakeSmall_checked(c) : make_integer(s.w, c);
    } else {
      char one[8];
      one[VR_code_wci(one, c)] = '\0';
      cells[2 * i] = s.make_atom(one);
    }
  }
  return MakeLST(cells);
}

/* Numeric and character escapes after a backslash: the current character
   is the one after the backslash.  Returns the decoded code or an error
   status; on return the current character is the first one after the
   escape.  A character that is not a digit of an open numeric escape is
   left unread (it may be the closing quote). */
int escape(scanner &s, bool store_text)
{
  if (store_text)
    s.put_text(s.ch);
  int r = first_iso_escape_char(s.ch);
  s.read_next();
  while (r == ESCAPE_MORE) {
    if (s.ch < 0) {
      escape_log_base = -1;
      return TK_EOF_INSIDE_QUOTES;
    }
    r = next_iso_escape_char(s.ch, s.cls);
    if (r == TK_INCORRECT_ESCAPE_SEQUENCE && s.ch != '\\') {
      escape_log_base = -1;
      return r;
    }
    if (store_text)
      s.put_text(s.ch);
    s.read_next();
  }
  return r;
}

void quoted(scanner &s, token *out)
{
  const int quote = s.ch;
  int status = quote == '"' ? 0 : 1;
  bool as_codes = false, as_atoms = false;
  if (quote == '"') {
    const TAGGED mode = eglobal->current_double_quotes;
    as_codes = mode != MakeAtom(atom_atom_enum);
    as_atoms = as_codes && mode != MakeAtom(atom_codes_enum);
  }
  /* A quote typed as such switches conversion off inside the item; one
     that conversion produced leaves it on. */
  const bool suspended = s.do_charconv && s.unconv_ch == NOT_CONVERTED;
  if (suspended)
    s.converting = false;
  auto store = [&](int c) {
    if (as_codes)
      s.put_code(c);
    else
      s.put_text(c);
  };
  s.read_next();
  for (;;) {
    if (s.ch < 0) {
      status = TK_EOF_INSIDE_QUOTES;
      break;
    }
    if (s.ch == quote) {
      s.read_next();
      if (s.ch != quote)
        break;
      store(quote);
      s.read_next();
    } else if (s.cls == CH_WHITE) {
      store(s.ch);
      if (s.ch != ' ')
        status = TK_LAYOUT_INSIDE_QUOTES;
      s.read_next();
    } else if (s.ch == '\\') {
      s.read_next();
      if (s.ch == '\n') {
        s.read_next();
        continue;
      }
      if (s.ch < 0) {
        status = TK_EOF_INSIDE_QUOTES;
        break;
      }
      const int r = escape(s, false);
      if (r >= 0)
        store(r);
      else
        status = r;
      if (r == TK_EOF_INSIDE_QUOTES)
        break;
    } else if (s.cls == CH_UNDECIDED) {
      store(s.ch);
      if (!non_private_abstract_char(s.ch))
        status = TK_INCORRECT_CHAR_INSIDE_QUOTES;
      s.read_next();
    } else {
      store(s.ch);
      s.read_next();
    }
  }
  if (suspended) {
    s.converting = true;
    s.convert();
  }
  if (as_codes) {
    const TAGGED list = code_list(s, as_atoms);
    finish(s, out, TOKEN_STRING, status, list);
  } else {
    s.room(0);
    finish(s, out, TOKEN_ATOM, status, s.make_atom(s.text()));
  }
}

/* The collected number text as an atom, for number tokens in error. */
void bad_number(scanner &s, token *out, int status)
{
  s.room(0);
  finish(s, out, TOKEN_NUMBER, status, s.make_atom(s.text()));
}

void char_code_constant(scanner &s, token *out)
{
  s.put_byte('\'');
  const bool suspended = s.do_charconv && s.unconv_ch == NOT_CONVERTED;
  if (suspended)
    s.converting = false;
  int status = 0;
  int value = -1;
  s.read_next();
  if (s.ch < 0) {
    status = TK_EOF_INSIDE_CHAR_CODE;
  } else if (s.ch == '\'') {
    s.put_text(s.ch);
    s.read_next();
    if (s.ch == '\'') {
      s.put_text(s.ch);
      value = '\'';
      s.read_next();
    } else {
      status = TK_CHAR_CODE_SYNTAX;
    }
  } else if (s.ch == '\\') {
    s.put_text(s.ch);
    s.read_next();
    if (s.ch < 0) {
      status = TK_EOF_INSIDE_CHAR_CODE;
    } else {
      const int r = escape(s, true);
      if (r >= 0)
        value = r;
      else
        status = r == TK_EOF_INSIDE_QUOTES ? TK_EOF_INSIDE_CHAR_CODE : r;
    }
  } else if (s.cls == CH_WHITE && s.ch != ' ') {
    s.put_text(s.ch);
    status = TK_CHAR_CODE_SYNTAX;
    s.read_next();
  } else {
    s.put_text(s.ch);
    value = s.ch;
    s.read_next();
  }
  if (suspended) {
    s.converting = true;
    s.convert();
  }
  if (status != 0)
    bad_number(s, out, status);
  else
    finish(s, out, TOKEN_NUMBER, 0, s.integer(value));
}

bool is_base_digit(const scanner &s, int base)
{
  if (s.cls == CH_DIGIT && s.ch >= '0' && s.ch <= '9')
    return s.ch - '0' < base;
  if (base == 16)
    return (s.ch >= 'a' && s.ch <= 'f') || (s.ch >= 'A' && s.ch <= 'F');
  return false;
}

void convert_number(scanner &s, token *out, int base, int status)
{
  const char *t = s.text();
  s.room(0);
  const TAGGED n = vr_string_to_number(t, base, WRAPPER_WORDS, s.live);
  if (n == 0) {
    bad_number(s, out, TK_FLOAT_SYNTAX);
    return;
  }
  if (IsStructure(n) && BoxIsFloat(*TagToSTR(n)) && !std::isfinite(vri_get_float(n))) {
    bad_number(s, out, TK_FLOAT_OVERFLOW);
    return;
  }
  finish(s, out, TOKEN_NUMBER, status, n);
}

void collect_digits(scanner &s)
{
  while (s.cls == CH_DIGIT) {
    s.put_text(s.ch);
    s.read_next();
  }
}

void number(scanner &s, token *out)
{
  if (s.ch == '0') {
    s.put_byte('0');
    s.read_next();
    if (s.ch == '\'') {
      char_code_constant(s, out);
      return;
    }
    const int base = s.ch == 'b' ? 2 : s.ch == 'o' ? 8 : s.ch == 'x' ? 16 : 0;
    if (base != 0) {
      s.put_text(s.ch);
      s.read_next();
      if (!is_base_digit(s, base)) {
        bad_number(s, out, TK_BASED_CONSTANT_SYNTAX);
        return;
      }
      s.fill = 0;
      while (is_base_digit(s, base)) {
        s.put_text(s.ch);
        s.read_next();
      }
      convert_number(s, out, base, 0);
      return;
    }
  }
  collect_digits(s);
  int status = 0;
  if (s.ch == '.') {
    const int dot = s.raw();
    s.put_byte('.');
    s.read_next();
    if (s.cls != CH_DIGIT) {
      /* "1." before layout is the integer 1 and a full stop. */
      s.push_back();
      --s.fill;
      s.ch = '.';
      s.unconv_ch = dot == '.' ? NOT_CONVERTED : dot;
      s.classify();
    } else {
      collect_digits(s);
      if (s.ch == 'e' || s.ch == 'E') {
        const int letter = s.ch;
        const int letter_raw = s.raw();
        const std::size_t before_letter = s.fill;
        s.put_byte(static_cast<char>(letter));
        s.read_next();
        if (s.cls == CH_DIGIT) {
          collect_digits(s);
        } else if (s.ch == '+' || s.ch == '-') {
          const int sign = s.ch;
          const int sign_raw = s.raw();
          s.put_byte(static_cast<char>(sign));
          s.read_next();
          if (s.cls == CH_DIGIT) {
            collect_digits(s);
          } else {
            /* Two characters to give back and room for one: the sign
               becomes the look-ahead and the letter the status. */
            s.push_back();
            s.fill = before_letter;
            s.ch = sign;
            s.unconv_ch = sign_raw == sign ? NOT_CONVERTED : sign_raw;
            s.classify();
            status = token_status_dropped_exponent(letter);
          }
        } else {
          s.push_back();
          s.fill = before_letter;
          s.ch = letter;
          s.unconv_ch = letter_raw == letter ? NOT_CONVERTED : letter_raw;
          s.classify();
        }
      }
    }
  }
  convert_number(s, out, 10, status);
}

void punct(scanner &s, token *out, int kind, int status, TAGGED atom)
{
  s.read_next();
  s.room(0);
  finish(s, out, kind, status, atom);
}

void scan_token(scanner &s, int flag, token *out)
{
  if (s.ch == '(' && flag == 1) {
    out->line = s.line();
    punct(s, out, TOKEN_PUNCT, 0, MakeAtom(atom_lpar_enum));
    return;
  }
  for (;;) {
    if (s.ch < 0) {
      out->line = s.line();
      s.room(0);
      finish(s, out, TOKEN_EOF, TK_EOF, atom_nil);
      out->next = -1;
      return;
    }
    if (s.cls == CH_WHITE) {
      s.read_next();
      continue;
    }
    out->line = s.line();
    switch (s.cls) {
    case CH_PERCENT:
      while (s.ch >= 0 && s.ch != '\n')
        s.read_next();
      if (s.ch < 0) {
        s.room(0);
        finish(s, out, TOKEN_EOF, TK_EOF_IN_LINE_COMMENT, atom_nil);
        out->next = -1;
        return;
      }
      s.read_next();
      continue;
    case CH_LC:
      name_atom(s, out);
      return;
    case CH_UC:
    case CH_UNDERSCORE:
      variable(s, out);
      return;
    case CH_SOLO:
      s.put_text(s.ch);
      s.read_next();
      s.room(0);
      finish(s, out, TOKEN_ATOM, 1, s.make_atom(s.text()));
      return;
    case CH_SYMBOL:
      if (s.ch == '.') {
        s.put_byte('.');
        s.read_next();
        if (s.ch < 0 || s.cls == CH_WHITE || s.cls == CH_PERCENT) {
          s.room(0);
          finish(s, out, TOKEN_END, 0, atom_dot);
          return;
        }
      } else if (s.ch == '/') {
        s.put_byte('/');
        s.read_next();
        if (s.ch == '*') {
          /* Block comments do not nest: the first star-slash ends one. */
          s.read_next();
          for (;;) {
            if (s.ch < 0) {
              s.room(0);
              finish(s, out, TOKEN_ATOM, TK_EOF_INSIDE_COMMENT, MakeAtom(atom_empty_enum));
              out->next = -1;
              return;
            }
            if (s.ch == '*') {
              s.read_next();
              if (s.ch == '/')
                break;
            } else {
              s.read_next();
            }
          }
          s.fill = 0;
          s.read_next();
          continue;
        }
      }
      symbol_atom(s, out);
      return;
    case CH_DIGIT:
      number(s, out);
      return;
    case CH_BANG:
      punct(s, out, TOKEN_ATOM, 1, MakeAtom(atom_bang_enum));
      return;
    case CH_SEMICOLON:
      punct(s, out, TOKEN_ATOM, 1, MakeAtom(atom_semicolon_enum));
      return;
    case CH_BAR:
      punct(s, out, TOKEN_PUNCT, 0, MakeAtom(atom_bar_enum));
      return;
    case CH_COMMA:
      punct(s, out, TOKEN_PUNCT, 0, MakeAtom(atom_comma_enum));
      return;
    case CH_LBRACK:
      punct(s, out, TOKEN_PUNCT, 0, MakeAtom(atom_lbrack_enum));
      return;
    case CH_LBRACE:
      punct(s, out, TOKEN_PUNCT, 0, MakeAtom(atom_lbrace_enum));
      return;
    case CH_LPAR:
      punct(s, out, TOKEN_PUNCT, 0, MakeAtom(atom_blank_lpar_enum));
      return;
    case CH_RPAR:
      punct(s, out, TOKEN_PUNCT, 1, MakeAtom(atom_rpar_enum));
      return;
    case CH_RBRACK:
      punct(s, out, TOKEN_PUNCT, 1, MakeAtom(atom_rbrack_enum));
      return;
    case CH_RBRACE:
      punct(s, out, TOKEN_PUNCT, 1, MakeAtom(atom_rbrace_enum));
      return;
    case CH_SQUOTE:
    case CH_BACKQUOTE:
    case CH_DQUOTE:
      quoted(s, out);
      return;
    default: {  /* CH_UNDECIDED */
      const int code = s.ch;
      s.read_next();
      finish(s, out, TOKEN_CODE, TK_INCORRECT_CHAR, s.integer(code));
      return;
    }
    }
  }
}

} // namespace

int read_token(worker *w, token_source *src, int ch, int flag, int live, token *out)
{
  if (src == nullptr)
    src = &empty_source;
  *out = token{};
  scanner s(w, src, live);
  escape_log_base = -1;
  s.do_charconv = eglobal->current_char_conversion == MakeAtom(atom_on_enum) && pcharconv > 0;
  s.converting = s.do_charconv;
  s.ch = ch < -1 ? -1 : ch;
  s.convert();
  try {
    scan_token(s, flag, out);
  } catch (const io_failure &) {
    escape_log_base = -1;
    return 0;
  }
  return 1;
}

TAGGED token_term(worker *w, const token *t)
{
  TAGGED *h = w->global_top;
  switch (t->kind) {
  case TOKEN_ATOM: case TOKEN_STRING: case TOKEN_NUMBER: {
    static const atom_sequence_number_enum names[] = {atom_atom_enum, atom_string_enum, atom_var_enum,
                                                      atom_number_enum};
    h[0] = MakeFunctor(MakeAtom(names[t->kind]), 1);
    h[1] = t->value;
    w->global_top = h + 2;
    return MakeSTR(h);
  }
  case TOKEN_VAR:
    h[0] = MakeFunctor(MakeAtom(atom_var_enum), 3);
    h[1] = MakeSmall_checked(static_cast<VR_INTEGER>(t->var_hash));
    h[2] = t->var_name;
    h[3] = t->value;
    w->global_top = h + 4;
    return MakeSTR(h);
  default:
    return t->value;
  }
}

int prolog_read_token(worker *w)
{
  const TAGGED c = deref(w->term[0]);
  int ch;
  if (IsSmall(c))
    ch = GetSmall(c);
  else if (IsStructure(c) && IsBoxHeader(*TagToSTR(c)) && !BoxIsFloat(*TagToSTR(c)))
    ch = vri_get_integer(c);
  else
    return 0;
  const TAGGED f = deref(w->term[1]);
  const int flag = IsSmall(f) ? GetSmall(f) : 0;
  token t;
  if (!read_token(w, current_token_input, ch, flag, 6, &t)) {
    raise_error("prolog", "$read_token", 6, 0);
    return 0;
  }
  const TAGGED term = token_term(w, &t);
  const TAGGED next = make_integer_term(w, t.next);
  const TAGGED line = make_integer_term(w, t.line);
  return cunify(w, w->term[2], term) && cunify(w, w->term[3], next) &&
         cunify(w, w->term[4], MakeSmall_checked(t.status)) && cunify(w, w->term[5], line);
}
