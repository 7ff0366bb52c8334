// state_builder: writes the two saved states that a launcher embeds.
//
//   state_builder runtime OUT.sav [FILE.pl...]
//       starts a runtime without a boot state, compiles the runtime
//       library from its sources and saves the whole system (vrrt.sav);
//       the files, consulted into user before the save, let the tests
//       make a runtime state that differs (one without prolog:main/0);
//   state_builder app RUNTIME.sav OUT.sav FILE.pl...
//       starts a runtime on top of the runtime's state, consults the
//       application's files into user and saves the program (trelix.sav).
//
// Both states are written by the system's own saved-state writer
// ('$save'/3).  Every load error, and a failed save, is reported on
// standard error and ends the tool with status 1, so the build stops.
// Run by the build (through trelix_command, so it works under the
// emulator), never at run time.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "atoms.h"
#include "compiler.h"
#include "library.h"
#include "modules.h"
#include "runtime_boot.h"
#include "startup.h"
#include "worker.h"

namespace {

// Text as a quoted Prolog atom.
std::string quoted(const char *text)
{
  std::string out = "'";
  for (const char *p = text; *p != '\0'; p++) {
    if (*p == '\'' || *p == '\\')
      out += '\\';
    out += *p;
  }
  return out + "'";
}

bool report(const char *what, const std::vector<std::string> &errors)
{
  for (const std::string &e : errors)
    std::fprintf(stderr, "state_builder: %s: %s\n", what, e.c_str());
  return errors.empty();
}

// Kind 1 saves the whole system, 0 a program.
bool save(worker *w, const char *path, int kind)
{
  std::vector<std::string> errors;
  const std::string directive = ":- prolog:'$save'(" + quoted(path) + ", " + std::to_string(kind) +
                                ", state_builder).";
  consult_text(w, directive.c_str(), find_module(init_atom_check("user", 0), 1), &errors);
  return report(path, errors);
}

// Consults each file into user; false after reporting a load error.
bool consult_all(worker *w, int nfiles, char **files)
{
  mod_def *user = find_module(init_atom_check("user", 0), 1);
  for (int i = 0; i < nfiles; i++) {
    std::vector<std::string> errors;
    if (consult_file(w, files[i], user, &errors) < 0)
      errors.push_back("cannot be read");
    if (!report(files[i], errors))
      return false;
  }
  return true;
}

// A runtime without a boot state, its library compiled from source: the
// one start that compiles.
worker *start_compiling_library()
{
  if (vr_glue_initialize(0, nullptr, nullptr, nullptr, nullptr, 0, 0) != 1)
    return nullptr;
  std::vector<std::string> errors;
  if (runtime_load_library(self, &errors) != 1 || !report("runtime library", errors))
    return nullptr;
  boot_state_loaded();
  return self;
}

// A runtime restored from the runtime's state, started as every program
// of the runtime starts: with the pre-linked foreign resources (codesio,
// clpfd, timeout), which an application's use_module loads and its state
// lists, and with library(Name) naming the application's libraries.
worker *start_from_state(const char *runtime_state)
{
  setenv("TRELIX_RUNTIME_STATE", runtime_state, 1);
  if (runtime_start(0, nullptr) != 1)
    return nullptr;
  return self;
}

int build_runtime(const char *out, int nfiles, char **files)
{
  worker *w = start_compiling_library();
  return w != nullptr && consult_all(w, nfiles, files) && save(w, out, 1) ? 0 : 1;
}

int build_app(const char *runtime_state, const char *out, int nfiles, char **files)
{
  worker *w = start_from_state(runtime_state);
  return w != nullptr && consult_all(w, nfiles, files) && save(w, out, 0) ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
  int status = 2;
  if (argc >= 3 && std::strcmp(argv[1], "runtime") == 0)
    status = build_runtime(argv[2], argc - 3, argv + 3);
  else if (argc >= 4 && std::strcmp(argv[1], "app") == 0)
    status = build_app(argv[2], argv[3], argc - 4, argv + 4);
  else
    std::fprintf(stderr, "usage: state_builder runtime OUT.sav [FILE.pl...] | state_builder app RUNTIME.sav OUT.sav FILE.pl...\n");
  VR_deinitialize();
  return status;
}
