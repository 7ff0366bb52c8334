/* term_text.h: a small canonical writer, the text of a term as writeq
 * would give it, for tests, diagnostics and the compiler's messages.
 *
 * It is NOT the system's term writer: it knows quoting (from the atom
 * record's needs_quoting flag), operators (from operators.h), lists, curly
 * terms and the spacing that keeps the text readable back into the same
 * term, and prints numbers through vr_number_to_string; it has no options,
 * no depth limit, no portray hooks and no character-set choices.  Where a
 * cyclic term comes round again it writes "..." ("[a|...]" for C = [a|C]),
 * so that no term makes it loop.  Variables print as _N with N the cell's word offset from the
 * heap start (_LN for other cells), so equal variables print alike within
 * one call.  The writer of atomic terms and the full writer replace it
 * where a program's output is concerned.
 */
#ifndef VOSTREL_TERM_TEXT_H
#define VOSTREL_TERM_TEXT_H

#include <string>

#include "termdefs.h"

/* The quoted, operator-aware text of t. */
std::string term_to_text(TAGGED t);

/* text with every variable name of the writer (_123, _L45) shortened to
   `_`, outside quoted atoms: variable numbers depend on heap positions, so
   tests and diagnostics that compare texts drop them. */
std::string without_variable_numbers(const std::string &text);

/* The text of an atom, quoted and escaped when it needs to be. */
std::string atom_text_quoted(TAGGED atom);

#endif
