/* atom_text.h: the native cores of the atom and text built-ins, and the
 * conversions between Prolog lists (of character codes, one-character
 * atoms or bytes) and text buffers that the foreign interface, the
 * tokenizer and the stream built-ins share.
 *
 * Texts are internal text (chartype.h).  Positions and lengths count
 * characters: a first byte with the continuation bytes it announces,
 * stopping early at a byte that does not continue it; a byte that cannot
 * start a character is one character by itself.  Text made here goes to
 * the atom buffer BASE_ATOMBUF and stays valid until its next use.
 *
 * The built-ins with a Result argument fail when an argument has a type
 * they do not accept; otherwise Result becomes `true` (solved), `fail` (no
 * solution) or an integer that tells the Prolog caller to enumerate.  The
 * callers (module prolog) raise every error and push every choicepoint.
 * Engine thread only.
 */
#ifndef VOSTREL_ATOM_TEXT_H
#define VOSTREL_ATOM_TEXT_H

#include <cstddef>
#include <cstdint>

#include "termdefs.h"

struct worker;

/* The length of a proper list; LIST_CYCLIC or LIST_PARTIAL (a partial or
   improper list). */
constexpr long LIST_CYCLIC = -30001;
constexpr long LIST_PARTIAL = -30002;
long list_length(TAGGED list);

/* The character of internal text at p (end: the text's end): its code,
   128 when malformed, and where the next one starts. */
const unsigned char *wci_next_char(const unsigned char *p, const unsigned char *end, int *code);
/* The number of characters of a zero-terminated internal text. */
long wci_char_count(const char *text);
/* The one-character atom of a code (the engine's cache up to 255); 0 for a
   negative code. */
TAGGED char_atom(int code);
/* A character code as a term: an integer from 0 up, small or one-word
   boxed.  And the code of a one-character atom. */
bool code_of_term(TAGGED t, int *code);
bool code_of_char_atom(TAGGED t, int *code);

/* A code list (codesp) or character list as zero-terminated text in
   BASE_ATOMBUF, *ps pointing at it: 1 complete, 0 partial (an unbound
   tail or element), -1 malformed. */
int vr_list_to_string(TAGGED list, int codesp, char **ps);

/* Encodes code-list elements into at most n bytes of buffer (no
   terminator), *pnw the bytes written; the rest of the list not consumed,
   or 0 at an element that is not a code. */
TAGGED vr_list_to_n_codes(TAGGED list, std::size_t n, std::size_t *pnw, char *buffer);

/* The elements as a new VR_malloc array of 32-bit codes in *pcodes (freed
   again and not returned when pcodes is null): options bit 1 accepts
   integer codes, bit 2 one-character atoms.  The count, or LIST_CYCLIC,
   LIST_PARTIAL, VRIO_E_PARAMETER_ERROR (a bad element) or
   VRIO_E_OUT_OF_MEMORY. */
long vr_list_to_codes(TAGGED list, std::int32_t **pcodes, unsigned options);

/* Lists in front of `tail`: of the characters of n bytes of internal text
   (codes, or one-character atoms; a malformed character is code 128), of
   n 32-bit codes, of n bytes.  pad: heap words the caller needs
   afterwards; arity: argument registers kept live across a heap
   expansion.  0 when an atom cannot be made. */
TAGGED vr_n_codes_to_list(worker *w, std::size_t n, const char *text, TAGGED tail, int codesp, int pad,
                          int arity);
TAGGED vr_n_ints_to_list(worker *w, std::size_t n, const std::int32_t *codes, TAGGED tail, int codesp,
                         int pad, int arity);
TAGGED vr_n_bytes_to_list(worker *w, std::size_t n, const unsigned char *bytes, TAGGED tail, int pad,
                          int arity);

/* Between argument 1 (a constant) and argument 2 (a list) of the worker's
   registers: 1 unified, 0 not unifiable, -1 invalid. */
int prolog_constant_elems(worker *w, int atomp, int numberp, int codesp, int pad, int arity);

/* Built-ins. */
int prolog_atom_length(worker *w);  /* $atom_length(Atom, Length, Result) */
int prolog_sub_atom(worker *w);     /* $sub_atom(Atom, Before, Length, After, Sub, Result) */
int prolog_atom_concat(worker *w);  /* $atom_concat(A1, A2, A12, Result) */
int prolog_char_code(worker *w);    /* $char_code(Char, Code, Result) */
int prolog_atom_codes(worker *w);   /* $atom_codes(Atom, Codes) */
int prolog_atom_elems(worker *w);   /* $atom_elems(Atom, List, Kind) */
int prolog_number_elems(worker *w); /* $number_elems(Number, List, Kind, Result) */

#endif
