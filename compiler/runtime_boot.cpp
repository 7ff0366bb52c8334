/* runtime_boot.cpp: starting and stopping a runtime with its library (see
 * runtime_boot.h).
 *
 * The library's compilation runs under an abort point of its own, as
 * vr_glue_initialize's steps do: a fatal fault while loading (a full atom
 * table, exhausted memory) fails the start with its message instead of
 * ending the process.
 */
#include "runtime_boot.h"

#include <csetjmp>
#include <cstdio>
#include <string>
#include <vector>

#include "compiler.h"
#include "errors.h"
#include "fli.h"
#include "library.h"
#include "worker.h"

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
  static std::vector<std::string> errors;
  errors.clear();
  std::jmp_buf env;
  if (setjmp(env) != 0) {
    std::fprintf(stderr, "runtime: start-up failed: %s\n", vr_get_abort_err_ienc());
    runtime_stop();
    return 0;
  }
  vr_set_abort_env(&env);
  const int ok = runtime_load_library(self, &errors);
  vr_set_abort_env(nullptr);
  if (ok != 1) {
    for (const std::string &e : errors)
      std::fprintf(stderr, "library: %s\n", e.c_str());
    std::fprintf(stderr, "runtime: the runtime's own code could not be loaded\n");
    runtime_stop();
    return 0;
  }
  errors.clear();
  boot_state_loaded();
  return 1;
}

int runtime_stop(void)
{
  const int r = VR_deinitialize();
  consult_reset();
  return r;
}
