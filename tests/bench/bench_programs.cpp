// The classic benchmark programs (tests/bench/programs/*.pl), each loaded
// into a module of its own and run as a failure-driven loop, so that every
// iteration gives its heap back and no garbage collector is needed.  The
// time of an empty loop is subtracted.  Not a test:
//
//   bench_programs [seconds]      (default 1 second per program)
//
// prints, per program, the iterations run and the time per iteration, and
// LIPS for the programs that state their logical inferences.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "atoms.h"
#include "compiler.h"
#include "library.h"
#include "modules.h"
#include "predicates.h"
#include "query.h"
#include "runtime_boot.h"
#include "terms.h"
#include "worker.h"
#include "run_mode.h"

#ifndef TRELIX_BENCH_DIR
#define TRELIX_BENCH_DIR "tests/bench/programs"
#endif

namespace {

worker *w = nullptr;

const char *loop_text =
    "run(N) :- N > 0, !, (bench, fail ; true), N1 is N - 1, run(N1).\n"
    "run(_).\n"
    "empty(N) :- N > 0, !, (dummy, fail ; true), N1 is N - 1, empty(N1).\n"
    "empty(_).\n"
    "dummy.\n";

// Seconds for `name`(N) in module m.
double timed(mod_def *m, const char *name, long n)
{
  definition *d = insert_definition(m, init_atom_check(name, 0), 1, 0);
  TAGGED arg = MakeSmall_checked(n);
  auto t0 = std::chrono::steady_clock::now();
  query q;
  int res = query_open(w, &q, d, &arg);
  query_close(w, &q);
  auto t1 = std::chrono::steady_clock::now();
  if (res != 1)
    std::fprintf(stderr, "%s: the loop did not succeed (%d)\n", name, res);
  return std::chrono::duration<double>(t1 - t0).count();
}

long inferences(mod_def *m)
{
  definition *d = insert_definition(m, init_atom_check("inferences", 0), 1, 0);
  if (d == nullptr)
    return 0;
  TAGGED *h = w->global_top++;
  *h = PointerToTerm(h);
  TAGGED arg = *h;
  query q;
  int res = query_open(w, &q, d, &arg);
  query_close(w, &q);
  TAGGED v = deref(*h);
  return res == 1 && IsSmall(v) ? GetSmall(v) : 0;
}

} // namespace

int main(int argc, char **argv)
{
  const double seconds = argc > 1 ? std::atof(argv[1]) : 1.0;
  print_run_mode();
  setenv("GLOBALSTKSIZE", "16M", 0);
  if (runtime_start(0, nullptr) != 1)
    return 1;
  w = self;
  std::vector<std::string> errors;
  std::vector<std::filesystem::path> files;
  for (const auto &entry : std::filesystem::directory_iterator(TRELIX_BENCH_DIR))
    if (entry.path().extension() == ".pl")
      files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  for (const auto &path : files) {
    const std::string name = path.stem().string();
    mod_def *m = find_module(init_atom_check(("bench_" + name).c_str(), 0), 1);
    errors.clear();
    consult_file(w, path.c_str(), m, &errors);
    consult_text(w, loop_text, m, &errors);
    for (const std::string &e : errors)
      std::fprintf(stderr, "%s: %s\n", name.c_str(), e.c_str());
    if (!errors.empty())
      continue;
    // Grow the count until one run takes a tenth of the time asked for.
    long n = 1;
    double t = timed(m, "run", n);
    while (t < seconds / 10 && n < (1L << 26)) {
      n *= 4;
      t = timed(m, "run", n);
    }
    n = static_cast<long>(n * (seconds / t));
    if (n < 1)
      n = 1;
    t = timed(m, "run", n) - timed(m, "empty", n);
    const double per = t / static_cast<double>(n);
    const long li = inferences(m);
    if (li > 0)
      std::printf("%-8s %9ld iterations  %10.3f us each  %6.1f million LIPS\n", name.c_str(), n, per * 1e6,
                  static_cast<double>(li) / per / 1e6);
    else
      std::printf("%-8s %9ld iterations  %10.3f us each\n", name.c_str(), n, per * 1e6);
  }
  runtime_stop();
  return 0;
}
