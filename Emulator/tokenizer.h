/* tokenizer.h: Prolog tokens from a source of character codes.
 *
 * One tokenizer serves the whole system: `$read_token/6` (the Prolog
 * library's reader calls it once per token) and the native term reader both
 * call read_token.  The caller carries the look-ahead character from one
 * call to the next; the tokenizer itself keeps nothing between calls but
 * the escape decoder's state, so any number of sources can be read in turn.
 *
 * Characters come through a token_source: a record of functions that a
 * Prolog stream, a text in memory or a test double fills in.  Syntax
 * problems never raise: they come back as negative statuses with a
 * best-effort token, and the reader turns them into syntax errors.  A read
 * error of the source is different: it is recorded (save_error) and
 * read_token returns 0, so that the caller raises it.
 *
 * Also here: the escape decoder that the number parser uses for 0'
 * constants (single_quoted_character).  Engine thread only.
 */
#ifndef VOSTREL_TOKENIZER_H
#define VOSTREL_TOKENIZER_H

#include <cstdint>

#include "termdefs.h"

struct worker;

/* ---- Sources of character codes ---- */

/* get: the next code, -1 at end of file, below -1 a read error (the value
   is the source's error code).  unget: pushes back the code just read;
   at most one code is ever pushed back.  counts: the newlines read so far
   and the characters read since the last one; 0 when the source cannot
   tell (the token's line is then 0).  record_error: records a read error
   for the Prolog error handler (save_error); when null the tokenizer
   records a system error naming the code. */
struct token_source {
  int (*get)(token_source *src);
  void (*unget)(token_source *src, int code);
  int (*counts)(token_source *src, long *newlines, long *line_length);
  void (*record_error)(token_source *src, int code);
};

/* A source over text in the internal encoding (UTF-8, code 0 as C0 80).
   A byte that does not begin a well-formed character (a NUL byte among
   them) is not a read error: it reads as the code TEXT_SOURCE_BAD_BYTE +
   the byte, which lies beyond Unicode, so that no token accepts it and the
   reader reports a syntax error and goes on at the next clause; reading
   resumes with the byte after it.  The source also keeps the first such
   byte and its line in bad_byte and bad_line, for a loader to name it;
   whoever reports it sets bad_byte back to -1.
   The text is not copied: it must outlive the source's use. */
struct text_source {
  token_source base;
  const char *pos;
  const char *end;
  int pushed;            /* code pushed back, or TEXT_SOURCE_NO_PUSHBACK */
  long newlines;
  long line_length;
  long saved_line_length; /* line_length before the last newline, for unget */
  int bad_byte;          /* the first malformed byte not yet reported, or -1 */
  long bad_line;         /* its line (from 1) */
};
constexpr int TEXT_SOURCE_NO_PUSHBACK = -1000;
constexpr int TEXT_SOURCE_BAD_BYTE = 0x110000;
/* Sets src up to read `length` bytes of text. */
void text_source_init(text_source *src, const char *text, std::size_t length);
/* The same for a zero-terminated text. */
void text_source_init(text_source *src, const char *text);

/* The source that `$read_token/6` reads; the stream layer points it at the
   current input.  Null reads as an empty source (end of file). */
extern token_source *current_token_input;

/* ---- Tokens ---- */

/* What a token is; `value` holds the term named here.  The term that
   `$read_token/6` returns is derived from kind and value (see
   token_term). */
enum token_kind {
  TOKEN_ATOM = 0,    /* atom(A): names, symbols, solo chars, !, ;, quoted and back-quoted items,
                        double-quoted items while double_quotes is atom */
  TOKEN_STRING = 1,  /* string(L): double-quoted item, codes or one-char atoms */
  TOKEN_VAR = 2,     /* var(Hash, NameCodes, V): value is V, a new unbound heap variable */
  TOKEN_NUMBER = 3,  /* number(N); on a number error N is the collected text as an atom */
  TOKEN_PUNCT = 4,   /* the bare atom: '(' ' (' '[' '{' ',' '|' ')' ']' '}' */
  TOKEN_END = 5,     /* the bare atom '.': a full stop */
  TOKEN_EOF = 6,     /* [] (status -1, or -2 inside a line comment) */
  TOKEN_CODE = 7     /* the bare integer: a character of class CH_UNDECIDED (status -25) */
};

/* Token statuses besides 1 and 0 (error names are those the reader
   reports). */
enum token_status {
  TK_EOF = -1,
  TK_EOF_IN_LINE_COMMENT = -2,
  TK_INCORRECT_ESCAPE_CHAR = -11,
  TK_INCORRECT_ESCAPE_SEQUENCE = -12,
  TK_INCORRECT_ESCAPE_VALUE = -13,
  TK_LAYOUT_INSIDE_QUOTES = -14,
  TK_EOF_INSIDE_QUOTES = -15,
  TK_EOF_INSIDE_CHAR_CODE = -16,
  TK_EOF_INSIDE_COMMENT = -17,
  TK_CHAR_CODE_SYNTAX = -18,
  TK_BASED_CONSTANT_SYNTAX = -20,
  TK_FLOAT_SYNTAX = -21,
  TK_FLOAT_OVERFLOW = -22,
  TK_INCORRECT_CHAR_INSIDE_QUOTES = -24,
  TK_INCORRECT_CHAR = -25
};
/* A number whose exponent letter was dropped ("1.5e+x") reports the
   letter as 37 minus its code: -64 for e, -32 for E. */
constexpr int token_status_dropped_exponent(int letter) { return 37 - letter; }

struct token {
  int kind;              /* token_kind */
  int status;            /* 1, 0, or a negative status */
  int next;              /* the new look-ahead code, -1 at end of file */
  long line;             /* line of the token's first character, 0 when unknown */
  TAGGED value;          /* see token_kind */
  std::uint32_t var_hash;  /* TOKEN_VAR: hash of the name */
  TAGGED var_name;       /* TOKEN_VAR: the name as a list of codes */
};

/* Reads one token from src.  ch is the look-ahead code (-1 at end of file)
   that the previous call left in `next`; flag 1 says that a '(' met at
   once is the functional-notation parenthesis.  Terms are built at the
   heap top of w; `live` argument registers are kept across heap growth.
   Returns 1 with *out filled, or 0 after a read error of the source,
   which is then recorded (save_error) for the caller to raise. */
int read_token(worker *w, token_source *src, int ch, int flag, int live, token *out);

/* The token's term as `$read_token/6` returns it (builds at most 4 heap
   words; read_token leaves room for them and for two boxed integers, so
   the caller needs no heap check in between). */
TAGGED token_term(worker *w, const token *t);

/* `$read_token(+Char, +Flag, -Token, -Next, -Status, -Line)` over
   current_token_input.  Fails and raises after a read error. */
int prolog_read_token(worker *w);

/* ---- Escapes ---- */

/* The escape decoder, on the character after a backslash and then on each
   following one with its class: a code (0 or more) when the escape is
   complete, ESCAPE_MORE when it needs more characters, or an error status
   (-11, -12, -13).  A character that gives -12 for not being a digit is
   not part of the escape: the caller reads it as the next character. */
constexpr int ESCAPE_MORE = -10;
int first_iso_escape_char(int ch);
int next_iso_escape_char(int ch, int cls);

/* The code written after 0' in number text: "''" is 39; a backslash
   starts an escape that must use up the whole text; otherwise exactly one
   character below 128 that is not layout, or a space.  1 and *code, or 0. */
int single_quoted_character(const char *text, int *code);

/* Grows the token buffer: the first growth leaves the caller's static area
   for a heap block, later ones reallocate it. */
void ensure_buffer(char **bufp, char *stat_buf, std::size_t *lenp, std::size_t newlen);
/* Releases the buffer when it is a heap block. */
void release_buffer(char *buf, char *stat_buf, std::size_t len);

#endif
