// prolog_main: runs a Prolog program as the launcher will run the
// application, for the tests of what a process leaves behind when it ends.
//
//   prolog_main FILE.pl
//
// The file is consulted into `user`, then main/0 of `user` runs as a query.
// The exit status is 0 when main succeeds, 1 when it fails, raises an
// uncaught exception (whose message goes to user_error) or the file does
// not load, and N when main calls halt(N).  Whatever way the query ends, the runtime's shutdown
// (runtime_stop, VR_deinitialize) runs before the process exits, as the real
// shutdown will: every output stream is flushed whatever kind of
// descriptor it writes to.
#include <cstdio>
#include <string>
#include <vector>

#include "atoms.h"
#include "compiler.h"
#include "datadefs.h"
#include "exception_store.h"
#include "library.h"
#include "modules.h"
#include "predicates.h"
#include "query.h"
#include "runtime_boot.h"
#include "terms.h"
#include "worker.h"

namespace {

// The exit status a reserved exception asks for ('$reserved'(N): kind
// N /\ 255 = 4 exits with N >> 8, kind 3 (abort) with 1); 1 for any
// other ball, whose message is printed on user_error first.
int status_of(worker *w)
{
  TAGGED ball = load_stored_exception(w);
  erase_stored_exception();
  if (ball == 0)
    return 1;
  ball = deref(ball);
  const TAGGED reserved = MakeFunctor(init_atom_check("$reserved", 0), 1);
  if (!IsStructure(ball) || TagToSTR(ball)[0] != reserved) {
    report_uncaught_exception(w, ball);
    return 1;
  }
  const TAGGED n = deref(TagToSTR(ball)[1]);
  if (!IsSmall(n))
    return 1;
  return (GetSmall(n) & 255) == 4 ? (GetSmall(n) >> 8) & 255 : 1;
}

int run(worker *w, const char *path)
{
  mod_def *user = find_module(init_atom_check("user", 0), 1);
  std::vector<std::string> errors;
  if (consult_file(w, path, user, &errors) < 0 || !errors.empty()) {
    for (const std::string &e : errors)
      std::fprintf(stderr, "prolog_main: %s\n", e.c_str());
    return 1;
  }
  definition *main_pred = insert_definition(user, init_atom_check("main", 0), 0, 0);
  if (main_pred == nullptr) {
    std::fprintf(stderr, "prolog_main: no main/0\n");
    return 1;
  }
  query q;
  const int res = query_open(w, &q, main_pred, nullptr);
  query_close(w, &q);
  return res == 1 ? 0 : res == 0 ? 1 : status_of(w);
}

} // namespace

int main(int argc, char **argv)
{
  if (argc != 2) {
    std::fprintf(stderr, "usage: prolog_main FILE.pl\n");
    return 2;
  }
  if (runtime_start(argc - 1, argv + 1) != 1)
    return 1;
  const int status = run(self, argv[1]);
  runtime_stop();
  return status;
}
