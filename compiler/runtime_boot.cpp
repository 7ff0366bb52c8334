/* runtime_boot.cpp: starting and stopping a runtime with its library (see
 * runtime_boot.h).
 *
 * The runtime's library comes from its saved state, vrrt.sav: the
 * embedded resource when the program links one in, else the file the
 * build wrote (TRELIX_RUNTIME_STATE_FILE; the environment variable
 * TRELIX_RUNTIME_STATE names another).  Nothing is compiled at start-up.
 * The start hands over the pre-linkage tables of the foreign resources
 * every program carries (codesio, clpfd, timeout), so library(codesio),
 * library(clpfd) and library(timeout) load them by name.
 */
#include "runtime_boot.h"

#include <cstdio>
#include <cstdlib>

#include "codesio.h"
#include "compiler.h"
#include "errors.h"
#include "fd_init.h"
#include "fli.h"
#include "library.h"
#include "startup.h"
#include "timeout.h"
#include "worker.h"

namespace {

#ifndef TRELIX_RUNTIME_STATE_FILE
#define TRELIX_RUNTIME_STATE_FILE "vrrt.sav"
#endif

/* The foreign resources linked into every program of the runtime (the
   launcher lists them again beside its embedded states). */
char *runtime_pre_map[] = {const_cast<char *>("codesio"), const_cast<char *>("clpfd"), const_cast<char *>("timeout"),
                          nullptr};
void *runtime_pre_linkage[] = {reinterpret_cast<void *>(&vr_main_VRENV_codesio),
                               reinterpret_cast<void *>(&vr_main_VRENV_clpfd),
                               reinterpret_cast<void *>(&vr_main_VRENV_timeout), nullptr};

} // namespace

int runtime_start(int argc, char **argv)
{
  if (vr_glue_initialize(argc, argv, nullptr, runtime_pre_linkage, runtime_pre_map, 0, 0) != 1) {
    std::fprintf(stderr, "runtime: start-up failed: %s\n", VR_error_message(VR_get_errno()));
    VR_deinitialize();
    return 0;
  }
  if (VR_prolog_initialized)
    return 1;
  consult_reset();
  /* library(Name) in a program's use_module names the application's
     libraries. */
  runtime_add_app_library_dir();
  /* The runtime's own code is its saved state, never compiled here: the
     embedded resource when the program carries one, else the state the
     build wrote (TRELIX_RUNTIME_STATE names another). */
  const char *state = std::getenv("TRELIX_RUNTIME_STATE");
  if (state == nullptr || *state == '\0')
    state = TRELIX_RUNTIME_STATE_FILE;
  if (vr_qload_or_restore(state, 0) != 1) {
    std::fprintf(stderr, "runtime: the runtime's state %s could not be restored\n", state);
    runtime_stop();
    return 0;
  }
  return 1;
}

int runtime_stop(void)
{
  const int r = VR_deinitialize();
  consult_reset();
  return r;
}
