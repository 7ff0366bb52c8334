/* wamsup.h: the code the engine builds for itself instead of compiling it.
 *
 * init_wamsup makes, once at start-up (after `preds` is filled, before the
 * first query), one block of canned code and the exit code, and the four
 * standard try nodes; deinit_wamsup takes them down at shutdown.  Every
 * canned stub is preceded by the halfword 8 (an environment without
 * variables), so any stub may serve as a return point.  The try-node makers
 * and the call/N clause maker serve the predicate database and start-up;
 * the small first-instruction readers serve first-argument indexing.
 */
#ifndef VOSTREL_WAMSUP_H
#define VOSTREL_WAMSUP_H

#include <cstddef>

#include "code_records.h"
#include "insn_table.h"
#include "termdefs.h"

struct definition;
struct worker;

/* The canned block: CANNED_CODE_HALFWORDS halfwords, halfword indices
   fixed, because compiled code, saved states and the collectors compare
   addresses against these stubs. */
constexpr std::size_t CANNED_CODE_HALFWORDS = 531;
constexpr std::size_t CANNED_ELSECODE = 1;     /* FAIL: an else label still to be wired */
constexpr std::size_t CANNED_FAILCODE = 3;     /* FAIL: default code of plain predicates */
constexpr std::size_t CANNED_PFAILCODE = 5;    /* BUMP_ENTRY, BUMP_COUNTERQ, FAIL: profiled predicates */
constexpr std::size_t CANNED_DISPATCHCODE = 16; /* SWITCH_ON_PRED */
constexpr std::size_t CANNED_PROCEEDCODE = 18; /* PROCEED */
constexpr std::size_t CANNED_CONTCODE = 20;    /* 256 stubs {8 + 4k, KONTINUE} */

extern INSN *canned_code;     /* the block itself, or null */
extern INSN *elsecode;
extern INSN *failcode;
extern INSN *pfailcode;
extern INSN *dispatchcode;
extern INSN *proceedcode;
/* contcode + 2k returns into an environment holding k saved registers. */
extern INSN *contcode;
/* The continuation of a query: {8, EXIT_TOPLEVEL, 1}; exitcode is the
   EXIT_TOPLEVEL halfword. */
extern INSN *exitcode;

extern try_node *fail_alt;    /* backtracking into it fails further */
extern try_node *proceed_alt; /* backtracking into it proceeds */
extern try_node *termcode;    /* a query's alternative: result 0, choicepoint kept */
extern try_node *excpcode;    /* an unwound query's alternative: result -1, popped */

/* 1 on success; 0 when an allocation failed (the pointers above are then
   null). */
int init_wamsup(void);
void deinit_wamsup(void);

/* A native retry function: called by RETRY_C with the worker; nonzero
   proceeds, zero backtracks (popping its own choicepoint first when it has
   no more solutions). */
typedef int (*retry_c_fn)(worker *w);

/* A standalone try node (try_node space): next null, entry code, link
   itself, node_offset 24 + 4 * arity, opcode TRY. */
try_node *make_try_node(int arity, INSN *code);
constexpr std::size_t TRY_NODE_SIZE = sizeof(try_node);

/* Retry blocks: a try node and its four code halfwords, in one block of
   RETRY_BLOCK_SIZE bytes (misc. space); the owner frees it with
   checkdealloc(node, RETRY_BLOCK_SIZE, mm_code(MM_BIN_MISC)).
   def_retry_prolog: {EXECUTEQ, 0, def}, next null.  The definition record
   is not read, so the caller passes the predicate's arity.
   def_retry_c: {RETRY_CQ, 0, function}, next the node itself, so the
   choicepoint stays until the function pops it. */
constexpr std::size_t RETRY_BLOCK_SIZE = 44;
try_node *def_retry_prolog(definition *def, int arity);
try_node *def_retry_c(retry_c_fn function, int arity);

/* call/N.  The clause is {EXECUTE_CALL, N} in a 20-byte clause record
   (emul_info space): next null, elsecode failcode, ix 0, objsize 20,
   filename []. */
constexpr std::size_t CALL_N_CLAUSE_SIZE = 20;
emul_info *make_call_n_clause(unsigned n);
/* Entering call/N in its module, making it an empty compiled predicate,
   inserting the clause (ix 31, key 0), and marking it meta and public are
   the predicate database's work: it installs this hook.  The record is not
   read here, so the caller passes N. */
extern void (*def_call_n_install)(definition *def, emul_info *clause);
/* Builds the clause and hands it to the database; returns 1, or 0 when no
   database has installed the hook (the clause is then freed). */
int def_call_n(definition *def, unsigned arity);

/* First-argument readers.  key_of_clause: the clause's first-argument key,
   0 when it has none.  p2_offset: halfwords of the first-argument test at
   label that indexed entry skips.  p2_unoffset: -1 when label is not
   4-byte aligned, -4 when the four halfwords before it are a Q-form
   constant or structure test on X0 for key, else 0. */
TAGGED key_of_clause(const emul_info *clause);
int p2_offset(const INSN *label);
int p2_unoffset(const INSN *label, TAGGED key);

#endif
