/* init_once.cpp: the engine's process-wide tables, built once per start of
 * the runtime before the first worker exists, and taken down again at
 * shutdown so that the runtime can be started anew.
 *
 * Order and why:
 *  - the atom table first: the predefined atoms (whose numbers native
 *    and stored code use as constants), "linux", the one-character atoms;
 *  - the flags (their defaults read the system type start-up stored) and
 *    character conversion; the file and stream layers (the standard
 *    streams exist before any worker, whose creation points it at them);
 *  - the canned code: predicate records made from here on refer to its
 *    fail code;
 *  - the emulator's handler tables, before any predicate record is made
 *    (a record's entry is a handler address);
 *  - the modules, prolog first (the owner of the system predicates), then
 *    user, clpfd, alignments and structs; operators; the compiled-code
 *    tables of debugger support; the built-in table with the retry
 *    entries of `preds`; the shared record of several runtimes.
 * Callers: vr_glue_initialize (init_once), its failure path and
 * VR_deinitialize (deinit_once).  Engine thread only.
 */
#include "init_once.h"

#include <cstring>
#include <initializer_list>

#include "atoms.h"
#include "datadefs.h"
#include "file_names.h"
#include "fli.h"
#include "initial_atoms.h"
#include "modules.h"
#include "operators.h"
#include "pred_table.h"
#include "preds.h"
#include "prolog_flags.h"
#include "saved_state.h"
#include "source_positions.h"
#include "streams.h"
#include "wam.h"
#include "wamsup.h"

int init_once(void)
{
  /* The finite-domain library's hooks are the loaded library's to set. */
  init_fd_hooks();
  eglobal->open_resources = nullptr;
  if (init_atoms_once() != 1)
    return 0;
  init_prolog_flags(eglobal->current_system_type_flag == MakeAtom(atom_development_enum));
  if (init_once_file() != 1 || init_stream() != 1)
    return 0;
  std::memset(&preds, 0, sizeof preds);
  if (init_wamsup() != 1)
    return 0;
  wam_body(nullptr, nullptr, nullptr);
  if (init_modules() != 1)
    return 0;
  for (const char *name : {"clpfd", "alignments", "structs"})
    if (find_module(init_atom_check(name, 0), 1) == nullptr)
      return 0;
  init_operators();
  ds_tables_init();
  if (install_builtins() != 1)
    return 0;
  return multi_vr_init() ? 1 : 0;
}

void deinit_once(void)
{
  deinit_stream();
  deinit_once_file();
  if (eglobal->user_modules != nullptr) {
    deinit_operators();
    deinit_modules();
  }
  ds_tables_deinit();
  eglobal->current_prompt = 0;
  eglobal->exception = 0;
  eglobal->memory_fault_exception = 0;
  eglobal->atom_table_full_exception = 0;
  deinit_atoms();
  deinit_wamsup();
  std::memset(&preds, 0, sizeof preds);
}
