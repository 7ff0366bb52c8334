/* library.h: loading the runtime library's Prolog code into a fresh
 * runtime instance.
 *
 * The library's sources (module prolog) are compiled from the directory
 * named by the TRELIX_LIBRARY_DIR setting, else the source tree's
 * Emulator/lib, until the saved state that carries them is built.  The
 * application's libraries (lists, avl, ...; use_module(library(Name)))
 * are found in TRELIX_APP_LIBRARY_DIR, else the source tree's library/.
 * Engine thread only; called once, as runtime_instance_start's boot step.
 */
#ifndef TRELIX_LIBRARY_H
#define TRELIX_LIBRARY_H

#include <string>
#include <vector>

struct worker;

/* Loads the library; 1 on success, 0 with the load errors in *errors. */
int runtime_load_library(worker *w, std::vector<std::string> *errors);

/* The same as runtime_instance_start's boot step: cookie is the errors
   vector (a std::vector<std::string>*, or null). */
int runtime_library_boot(worker *w, void *errors);

#endif
