/* library.h: loading the runtime library's Prolog code into a fresh
 * runtime instance.
 *
 * The library's sources (module prolog) are compiled from the directory
 * named by the TRELIX_LIBRARY_DIR setting, else the source tree's
 * Emulator/lib: only the state builder does so, to write the runtime's
 * saved state, which every other program restores.  The application's
 * libraries (lists, avl, ...; use_module(library(Name))) are found in
 * TRELIX_APP_LIBRARY_DIR, else the source tree's library/.  Engine thread
 * only.
 */
#ifndef TRELIX_LIBRARY_H
#define TRELIX_LIBRARY_H

#include <string>
#include <vector>

struct worker;

/* Loads the library; 1 on success, 0 with the load errors in *errors. */
int runtime_load_library(worker *w, std::vector<std::string> *errors);

/* Adds the application's library directory to those that
   use_module(library(Name)) searches. */
void runtime_add_app_library_dir(void);

#endif
