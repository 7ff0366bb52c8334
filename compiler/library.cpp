/* library.cpp: loading the runtime library's sources (see library.h). */
#include "library.h"

#include <cstdlib>

#include "atoms.h"
#include "compiler.h"
#include "datadefs.h"
#include "modules.h"

#ifndef TRELIX_LIBRARY_DIR
#define TRELIX_LIBRARY_DIR "Emulator/lib"
#endif
#ifndef TRELIX_APP_LIBRARY_DIR
#define TRELIX_APP_LIBRARY_DIR "library"
#endif

void runtime_add_app_library_dir(void)
{
  const char *app = std::getenv("TRELIX_APP_LIBRARY_DIR");
  consult_add_library_dir(app != nullptr && *app != '\0' ? app : TRELIX_APP_LIBRARY_DIR);
}

int runtime_load_library(worker *w, std::vector<std::string> *errors)
{
  /* library(Name) in a program's use_module names the application's
     libraries. */
  runtime_add_app_library_dir();
  const char *dir = std::getenv("TRELIX_LIBRARY_DIR");
  std::string path = std::string(dir != nullptr && *dir != '\0' ? dir : TRELIX_LIBRARY_DIR) + "/prolog.pl";
  std::vector<std::string> found;
  int n = consult_file(w, path.c_str(), eglobal->prolog_module, &found);
  if (n < 0)
    found.push_back("cannot read " + path);
  if (errors != nullptr)
    errors->insert(errors->end(), found.begin(), found.end());
  return found.empty() ? 1 : 0;
}
