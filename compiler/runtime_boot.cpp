/* runtime_boot.cpp: starting and stopping a runtime with its library (see
 * runtime_boot.h).
 *
 * The runtime's library comes from its saved state, vrrt.sav: the
 * embedded resource when the program links one in, else the file the
 * build wrote (TRELIX_RUNTIME_STATE_FILE; the environment variable
 * TRELIX_RUNTIME_STATE names another).  Nothing is compiled at start-up.
 */
#include "runtime_boot.h"

#include <cstdio>
#include <cstdlib>

#include "compiler.h"
#include "errors.h"
#include "fli.h"
#include "library.h"
#include "startup.h"
#include "worker.h"

#ifndef TRELIX_RUNTIME_STATE_FILE
#define TRELIX_RUNTIME_STATE_FILE "vrrt.sav"
#endif

int runtime_start(int argc, char **argv)
{
  if (vr_glue_initialize(argc, argv, nullptr, nullptr, nullptr, 0, 0) != 1) {
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
