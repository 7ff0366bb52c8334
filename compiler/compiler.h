/* compiler.h: the Prolog-to-bytecode compiler and program loading.
 *
 * compile_clause turns one clause term into an emul_info clause record with
 * the index bits and key that agree with its first instruction, ready for
 * insert_compactcode.  Control constructs (',', ';', '->', '*->', \+, call/N
 * with a bound goal, M:G) are compiled into embedded choice blocks inside
 * the clause's own code; a variable goal or call/N with an unbound goal is a
 * call of call/N.
 *
 * consult_text and consult_file read clauses and directives and install
 * the clauses, one compiled definition per predicate of a module.  The
 * directives module/2, use_module/1,2, ensure_loaded/1, op/3, multifile/1,
 * discontiguous/1, meta_predicate/1, block/1 and initialization/1 are
 * carried out; any other directive is reported as an error.  Grammar rules are translated first.
 * Engine thread only; the clause term must stay on the heap while it is
 * compiled (compile_clause leaves the heap top where it found it).
 */
#ifndef TRELIX_COMPILER_H
#define TRELIX_COMPILER_H

#include <string>
#include <vector>

#include "code_records.h"
#include "termdefs.h"

struct worker;
struct mod_def;
struct definition;

struct compiled_clause {
  definition *def = nullptr;   /* the predicate of the head, in the module */
  emul_info *clause = nullptr; /* record for insert_compactcode (elsecode failcode) */
  unsigned ix = 0;             /* index bits, IX_CUT included when it cuts */
  TAGGED key = 0;              /* first-argument key, 0 when it fits any */
};

/* Compiles a clause (Head or Head :- Body; Module:Head selects the module).
   Returns 1 and fills out, or 0 with *error set (nothing is allocated
   then).  filename is the source file atom stored in the clause record. */
int compile_clause(worker *w, TAGGED clause_term, mod_def *module, compiled_clause *out, std::string *error,
                   TAGGED filename = atom_nil);

/* Reads every clause of text and installs it in module (a module/2
   directive switches to the module it declares).  Each predicate defined
   by the text is redefined (emptied) at its first clause, unless it is
   multifile.  Syntax errors, refused clauses and directives are appended to
   errors as "line N: message" and skipped; returns the number of clauses
   installed. */
int consult_text(worker *w, const char *text, mod_def *module, std::vector<std::string> *errors);

/* The same for a file ("path:N: message" in errors); -1 when the file
   cannot be read.  A file loaded again is reloaded. */
int consult_file(worker *w, const char *path, mod_def *module, std::vector<std::string> *errors);

/* Directories searched, in order, for use_module(library(Name)). */
void consult_add_library_dir(const std::string &dir);

/* Forgets the loaded files and library directories (tests that take the
   runtime down and up again). */
void consult_reset(void);

/* Runs a goal once in module m, as a directive does: 1 success, 0
   failure, -1 exception (its text in *error; its message is printed on
   user_error as for any exception that nothing caught). */
int run_goal_once(worker *w, TAGGED goal, mod_def *m, std::string *error);

#endif
