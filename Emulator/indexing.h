/* indexing.h: the code of compiled (static) predicates and how clauses are
 * added to it.
 *
 * A compiled predicate's `code` is an incore_info: the clause records in
 * source order and three entry chains that the emulator's first-argument
 * switch picks from (an unbound first argument: varcase; a list cell:
 * lstcase; anything else: the slot of its key in othercase, whose default
 * is the chain of the clauses that fit every key).  A chain entry is the
 * canned failcode (pfailcode for profiled kinds), one clause's code
 * (advanced past its first-argument test when the chain is entered with a
 * known first argument), or the TRY opcode of the first try node of a try
 * chain, whose `link` points at its last node so appending is O(1).
 *
 * Invariants:
 *   - the clause chain does not end in null: the last clause's `next` holds
 *     the clause count, and *clauses_tail is that count; walks stop at it;
 *   - lstcase and othercase are meaningful only for the indexed kinds (1, 3);
 *   - try nodes and switch tables, once reachable by running code, are freed
 *     only through the dead-predicate list.
 * Called by the Prolog compiler's installation built-ins (bytecode_object.cpp),
 * by call/N set-up and the saved-state loader.
 */
#ifndef VOSTREL_INDEXING_H
#define VOSTREL_INDEXING_H

#include <cstdint>

#include "code_records.h"
#include "predicates.h"
#include "sw_on_key.h"
#include "termdefs.h"

struct definition;
struct worker;

struct incore_info {
  emul_info *clauses;        /* first clause, in source order */
  emul_info **clauses_tail;  /* the last clause's `next` (&clauses when empty) */
  INSN *varcase;             /* unbound first argument, or a non-indexed kind */
  INSN *lstcase;             /* list-cell first argument (indexed kinds) */
  sw_on_key *othercase;      /* key -> entry code; default: clauses fitting any key */
};
static_assert(sizeof(incore_info) == 20);

/* Index bits of a clause (emul_info ix). */
constexpr unsigned IX_VAR = 0x01;      /* applies to an unbound first argument */
constexpr unsigned IX_OTHER = 0x16;    /* bits 1, 2, 4: other first arguments (switch table) */
constexpr unsigned IX_LIST = 0x08;     /* applies to a list cell */
constexpr unsigned IX_CASES = 0x1F;    /* every case: a clause that fits any first argument */
constexpr unsigned IX_COMMITS = 0x20;  /* commits once its first-argument test succeeds */
constexpr unsigned IX_CUT = 0x80;      /* contains a cut */
constexpr unsigned IX_ELSE_END = 0x100; /* ends an else chain: its elsecode may be rewired */

/* The clause count that ends a clause chain, and the test for it: a clause
   record is 8-byte aligned, a count is below 2^23 (the objsize field). */
inline bool clause_chain_end(const emul_info *p, const incore_info *info)
{
  return p == *info->clauses_tail;
}

/* A clause's reference as Prolog sees it: its address + 3 (a small
   integer word, since records are 8-byte aligned). */
inline TAGGED clause_ref(const emul_info *clause) { return PointerToTerm(clause) + 3; }

/* Appends a clause to a compiled predicate (kinds 0 to 3): links it,
   stores ix, sets the cut property, makes the predicate indexed at its
   first clause that does not fit every first argument, and appends it to
   the chains its ix and key select. */
void insert_compactcode(definition *f, emul_info *clause, int ix, TAGGED key);
/* Appends a clause to one chain (see indexing.cpp). */
void incore_insert(INSN **chain, TAGGED chain_key, int arity, emul_info *clause, TAGGED key, int isvar);
/* A copy of a try chain (new nodes, same entries), or entry itself when
   it is failcode, pfailcode or a single clause. */
INSN *incore_copy(INSN *entry);

/* Walking chains: the first try node of a chain entry, or null when the
   entry is not a try chain (failcode, pfailcode, a clause). */
try_node *chain_try_nodes(INSN *entry);

/* The clause record of a single-clause chain entry: the entry itself for
   a var chain (isvar), else the entry moved back over the first-argument
   test it skips (p2_unoffset for chain_key). */
emul_info *clause_of_entry(INSN *code, TAGGED chain_key, int isvar);
/* The clause record whose code starts at code. */
inline emul_info *clause_of_code(INSN *code)
{
  return reinterpret_cast<emul_info *>(reinterpret_cast<char *>(code) - EMUL_INFO_HEADER);
}

/* Removes the clauses contributed by the files in `files` (a Prolog list
   of file atoms) from a compiled multifile predicate and rebuilds its
   index; the old code goes to the dead-predicate list.  Returns the number
   of clauses removed. */
int multifile_retractall_compiled(definition *f, TAGGED files);

/* The number of code halfwords of the boxed number laid out at code (its
   header and payload; inline numbers have no trailer). */
unsigned large_insn_offset(const INSN *code);

/* Clause records made by $make_bytecode_object and not yet installed.
   Prolog hands clause references back as bare words, so only a record
   that this registry holds may be installed (once) or freed as loose.
   pending_clause_of_word: the record named by a reference word, or null;
   forget_pending_clause: drop it from the registry (installed or freed). */
void remember_pending_clause(emul_info *clause);
emul_info *pending_clause_of_word(TAGGED word);
void forget_pending_clause(emul_info *clause);

/* Built-ins of the Prolog compiler's clause installation. */
int prolog_make_bytecode_object(worker *w); /* $make_bytecode_object/4 */
int prolog_compiled_clause(worker *w);      /* $compiled_clause/4 */

#endif
