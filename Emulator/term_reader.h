/* term_reader.h: the term reader, an operator-precedence parser over the
 * tokenizer.
 *
 * read_clause_term reads one clause (a term ended by a full stop) from a
 * token source and builds it at the worker's heap top, parsing with the
 * operators of operators.h.  It is the system's only reader: the compiler
 * calls it directly, and read/1,2 and read_term/2,3 reach it through their
 * native halves.
 *
 * Syntax follows the standard: `-` written directly before a numeric
 * literal makes a negative number ("-1"), while "- 1" and "-(1)" are the
 * compound -(1); a name directly followed by "(" is functional notation,
 * with layout before the "(" it is a prefix operator applied to a bracketed
 * term; an operator whose operand cannot start (a closing bracket, a comma,
 * an infix operator that is not also prefix, the end) is read as an atom;
 * "a|b" outside a list is '|'(a,b) when '|' is an infix operator.  An
 * argument or list element may hold any operator except the comma that
 * ends it (and the bar in a list): f(a:-b) is f((a:-b)), where the
 * standard's 999 would refuse it.
 *
 * A syntax error does not raise: the reader records a message and the line
 * of the offending token in the result, skips the rest of the clause up to
 * its full stop (or the end of the input), and returns READ_SYNTAX_ERROR,
 * so that the next call reads the next clause.  At the end of the input the
 * term is the atom end_of_file.
 *
 * The reader keeps every term it holds in its own tables and moves them
 * when the heap is moved to grow it; heap garbage collection is switched off
 * while a clause is read, since partial terms are no collector roots.
 * Engine thread only.
 */
#ifndef VOSTREL_TERM_READER_H
#define VOSTREL_TERM_READER_H

#include "termdefs.h"

struct worker;
struct token_source;

enum read_status {
  READ_OK = 1,
  READ_SYNTAX_ERROR = 0,
  READ_IO_ERROR = -1  /* the source failed; the error is recorded (save_error) */
};

constexpr int READ_MESSAGE_SIZE = 160;

struct read_result {
  TAGGED term;            /* the term read; end_of_file at the end of the input */
  TAGGED variable_names;  /* ['Name'=Var, ...] in order of first occurrence; `_` not listed */
  TAGGED singletons;      /* the same for the named variables that occur once */
  long start_line;        /* line of the clause's first token, 0 when unknown */
  long end_line;          /* line of its full stop */
  /* On READ_SYNTAX_ERROR (term end_of_file, both lists []): what was wrong and the line of the token at
     which the reader stopped. */
  char message[READ_MESSAGE_SIZE];
  long error_line;
};

/* Reads the next clause from src.  `live` argument registers are kept (and
   relocated) across heap growth.  The look-ahead character after the full
   stop is pushed back into the source, so each call starts afresh. */
int read_clause_term(worker *w, token_source *src, int live, read_result *r);

/* $read_term(+Stream, -Term, -Names, -Singletons, -Outcome): the next
   clause of Stream with its variable names and singletons as the result
   lists above; Outcome is [] or syntax_error(Message, Line) (the term is
   then end_of_file and the stream is past the faulty clause).  A read
   error of the stream is raised. */
int prolog_read_term(worker *w);

/* 1 when a singleton variable of this name deserves a compiler warning:
   names starting with an underscore are the programmer's way of saying
   "used once on purpose". */
int singleton_needs_warning(TAGGED name_atom);

#endif
