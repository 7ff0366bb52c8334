/* source_positions.h: where code came from, for the debugger.
 *
 * Two tables answer "which file and line is this":
 *
 *   - the compiled-code table maps code addresses to (file, line): the
 *     loader records a position for each `lineno` item through eglobal's
 *     add_table_comp hook, freeing a clause forgets its range through
 *     del_table_comp, and atom garbage collection keeps the file atoms
 *     alive through agc_table_comp.  Files are interned in `cf_table`
 *     per 65536-line page, so a B-tree value (entry << 16 | line & 0xFFFF)
 *     fits in a word;
 *
 *   - an interpreted (dynamic) clause carries an ITABLE in its instance's
 *     source_link: for each subterm at which a later source line starts,
 *     the path of argument positions leading to it, packed into 4-bit
 *     codes (see source_positions.cpp) so that unsigned word comparison
 *     orders paths depth-first, argument by argument.
 *
 * ITABLE layout (one block, "ITABLE space"): pair 0 = {entries + 1, total
 * bytes}; pairs 1..n = {first packed word, line}, ascending by path, or,
 * for a path longer than one word, {first word, 0x80000000 | k} with the
 * line and the further words at word k of the overflow area that follows
 * the pairs; the last word is the file atom (registered while the table
 * lives).  A packed path always ends in a word whose low nibble is 0.
 *
 * Callers: the debugger support's start-up (ds_tables_init), the loader
 * and the code reclaimer through the eglobal hooks, the dynamic-clause
 * code (itable_free when an instance goes), and the built-ins below.
 * Engine thread only.
 */
#ifndef VOSTREL_SOURCE_POSITIONS_H
#define VOSTREL_SOURCE_POSITIONS_H

#include <cstddef>
#include <cstdint>

#include "termdefs.h"

struct worker;
struct instance;

struct itable {
  TAGGED key;
  TAGGED value;
};

struct ITABLE {
  itable pair[1];  /* really pair[0].key pairs, then overflow words and the file */
};

constexpr TAGGED ITABLE_LONG_PATH = 0x80000000u;

/* Entries of t (pair 0 not counted) and its size in bytes. */
inline std::uint32_t itable_entries(const ITABLE *t) { return t->pair[0].key - 1; }
inline std::uint32_t itable_bytes(const ITABLE *t) { return t->pair[0].value; }
inline const TAGGED *itable_overflow(const ITABLE *t) { return &t->pair[itable_entries(t) + 1].key; }
inline TAGGED itable_file(const ITABLE *t)
{
  return reinterpret_cast<const TAGGED *>(t)[itable_bytes(t) / 4 - 1];
}

/* ---- Interpreted clauses ---- */

/* Reset (empty) and free the process-wide work areas. */
void itable_init(void);
void itable_deinit(void);

/* Packs a path of argument positions (outermost first, each >= 1) with its
   terminating code into words; returns the number of words the packed
   path needs, writing at most max_words of them. */
unsigned itable_pack_path(const std::uint32_t *positions, unsigned n, TAGGED *words, unsigned max_words);

/* Builds the table that the description `list` gives (see the .cpp) and
   attaches it to ins, replacing and freeing any earlier one; 0 when the
   description is malformed (nothing is attached then). */
int new_table_interp(worker *w, TAGGED list, instance *ins, TAGGED file);

/* rpath: argument positions innermost first, ending in the clause's
   database reference.  Unifies file and line with the recorded position
   of the greatest recorded path not above it (the first entry when all
   lie above); 0 when rpath is malformed, the reference is invalid or the
   clause has no entries. */
int search_table_interp(worker *w, TAGGED rpath, TAGGED file, TAGGED line);

/* The look-up behind search_table_interp, for a path given outermost
   first: 1 with *file and *line set, 0 when t has no entries. */
int itable_search(const ITABLE *t, const std::uint32_t *positions, unsigned n, TAGGED *file, std::int32_t *line);

/* Frees a table (null is fine) and releases its file atom. */
void itable_free(ITABLE *t);

/* ---- Compiled code ---- */

struct comp_file {
  TAGGED file;
  std::uint32_t page_no;  /* line >> 16 */
};

/* Empties both tables and installs the three eglobal hooks;
   ds_tables_deinit frees everything and removes them. */
void ds_tables_init(void);
void ds_tables_deinit(void);

void add_table_comp(void *code, TAGGED file, long line);
/* Forgets the positions recorded in [code_start, code_end). */
void del_table_comp(void *code_start, void *code_end);
void agc_table_comp(void);

/* The recorded position of the nearest recorded address at or below
   `code`, at most 16 bytes below: 1 with *file and *line set, else 0. */
int comp_table_lookup(const void *code, TAGGED *file, long *line);

/* ---- Built-ins (registered by the debugger support in module prolog) ---- */
int prolog_new_table_interp(worker *w);    /* $new_table_interp/3 */
int prolog_search_table_interp(worker *w); /* $search_table_interp/3 */
int prolog_search_table_comp(worker *w);   /* $search_table_comp/3 */
int prolog_ancestor_at(worker *w);         /* $ancestor_at/1 */

/* Rows of the debugger support's built-in table that this layer and the
   clause counters supply; the table that installs them ends with a null
   name. */
struct ds_builtin_row {
  const char *name;
  int (*function)(worker *w);
  int arity;
};
extern const ds_builtin_row ds_source_builtins[];

#endif
