// state_fuzz: restores mutated saved states in one process, through the
// built-ins a program calls ($restore/2, $restore_increment/2).
//
//   state_fuzz DIR PROGRAM [SECONDS [SEED [ROUNDS]]]
//
// The corpus is written at the start: states of PROGRAM (a program, a
// selection of one module, an empty program).  Each round takes a corpus
// state and bit flips, cuts, splices, overwrites words with keys and
// boundary values, or duplicates and drops stretches, then restores the
// result.  A round passes when the process is still standing and the
// outcome is a success or an error raised as an exception: a plain
// failure (no error) fails the run, and so does a success for a state
// cut short before the end of its trailer's size line.  After every
// success the atom and heap collectors walk the restored program.
// Mutants whose header asks for a whole-system restore are not run (that
// would replace the runtime library the harness raises its errors with);
// they are counted.  With STATE_FUZZ_TRACE set in the environment, each
// round is printed before its restore and the last 16 mutants are kept in
// DIR as fuzz_round_N.sav (all of them with STATE_FUZZ_KEEP_ALL set), for
// finding the round that breaks a run; STATE_FUZZ_REPLAY=F1:F2:... restores
// those files with $restore in order instead of fuzzing.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "compiler.h"
#include "library.h"
#include "runtime_boot.h"
#include "startup.h"
#include "saved_state.h"
#include "state_common.h"

using namespace state_test;

namespace {

struct corpus_entry {
  bytes data;
  bool selection;
  std::size_t size_line_end; // a cut before this must not restore
};

std::size_t size_line_end(const bytes &b)
{
  const std::string s(b.begin(), b.end());
  const std::size_t at = s.rfind("# size=\"0x");
  if (at == std::string::npos)
    return b.size();
  const std::size_t q = s.find('"', at + 10);
  return q == std::string::npos ? b.size() : q + 1;
}

bool whole_system_header(const bytes &b)
{
  const std::string s(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(b.size(), 4096)));
  const std::size_t at = s.find("\nversion=");
  if (at == std::string::npos)
    return false;
  unsigned long mask = 0;
  if (std::sscanf(s.c_str() + at + 1, "version=%*d archmask=0x%lx", &mask) != 1)
    return false;
  return arch_total(static_cast<std::uint32_t>(mask)) == TOTAL_ALL;
}

} // namespace

int main(int argc, char **argv)
{
  if (argc < 3) {
    std::fprintf(stderr, "usage: state_fuzz DIR PROGRAM [SECONDS [SEED [ROUNDS]]]\n");
    return 2;
  }
  const std::string dir = argv[1];
  const double seconds = argc > 3 ? std::atof(argv[3]) : 30.0;
  const unsigned seed = argc > 4 ? static_cast<unsigned>(std::strtoul(argv[4], nullptr, 10)) : 20261211u;
  const long max_rounds = argc > 5 ? std::strtol(argv[5], nullptr, 10) : -1;
  const bool trace = std::getenv("STATE_FUZZ_TRACE") != nullptr;
  std::vector<std::string> errors;
  worker *w = (runtime_start(0, nullptr) == 1 ? self : nullptr);
  if (w == nullptr)
    return 1;

  // The corpus.
  std::string ball;
  const std::string empty = dir + "/fuzz_empty.sav", program = dir + "/fuzz_program.sav",
                    selection = dir + "/fuzz_selection.sav", mutant = dir + "/fuzz_mutant.sav";
  if (call_prolog(w, "$save", {mk_atom(empty.c_str()), MakeSmall_checked(0), mk_atom("fuzz")}, &ball) != 1)
    return 1;
  mod_def *user = find_module(mk_atom("user"), 1);
  if (consult_file(w, argv[2], user, &errors) < 0 || !errors.empty())
    return 1;
  if (call_prolog(w, "$save", {mk_atom(program.c_str()), MakeSmall_checked(0), mk_atom("fuzz")}, &ball) != 1)
    return 1;
  TAGGED *h = w->global_top;
  h[0] = mk_atom("roundtrip_lib");
  h[1] = atom_nil;
  w->global_top = h + 2;
  if (call_prolog(w, "$save_increment", {MakeLST(h), atom_nil, atom_nil, mk_atom(selection.c_str()), mk_atom("fuzz")},
                  &ball) != 1)
    return 1;
  std::vector<corpus_entry> corpus;
  for (const auto &[name, sel] : {std::pair{empty, false}, std::pair{program, false}, std::pair{selection, true}}) {
    bytes b = read_file(name);
    corpus.push_back({b, sel, size_line_end(b)});
  }

  if (const char *replay = std::getenv("STATE_FUZZ_REPLAY")) { // by hand: restore these files in order
    std::string list = replay;
    for (std::size_t at = 0; at < list.size();) {
      std::size_t end = list.find(':', at);
      if (end == std::string::npos)
        end = list.size();
      const std::string f = list.substr(at, end - at);
      at = end + 1;
      ball.clear();
      const int res = call_prolog(w, "$restore", {mk_atom(f.c_str()), mk_atom("fuzz")}, &ball);
      std::printf("%s: %d\n", f.c_str(), res);
      std::fflush(stdout);
      if (res == 1) {
        call_prolog(w, "garbage_collect_atoms", {}, &ball);
        call_prolog(w, "garbage_collect", {}, &ball);
      }
    }
    runtime_stop();
    return 0;
  }
  std::mt19937 rng(seed);
  auto pick = [&](std::size_t n) { return n == 0 ? 0 : static_cast<std::size_t>(rng() % n); };
  const std::uint32_t interesting[] = {0, 1, 3, 7, 16, 17, 72, 0x7FFFFFFF, 0x80000000u, 0xFFFFFFFFu, 0x10004CF,
                                       0x2D85A, 0x2DC5A};
  const auto t0 = std::chrono::steady_clock::now();
  long rounds = 0, successes = 0, errors_raised = 0, skipped = 0, faults = 0;
  while (std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count() < seconds &&
         (max_rounds < 0 || rounds < max_rounds)) {
    const corpus_entry &c = corpus[pick(corpus.size())];
    bytes b = c.data;
    const std::size_t start = records_start(b);
    bool must_fail = false;
    switch (rng() % 6) {
    case 0: // bit flips, mostly in the records
      for (unsigned k = 1 + rng() % 8; k > 0; k--) {
        const std::size_t at = (rng() % 10 == 0 || start == 0) ? pick(b.size()) : start + pick(b.size() - start);
        b[at] ^= static_cast<unsigned char>(1u << (rng() % 8));
      }
      break;
    case 1: { // cut
      const std::size_t n = pick(b.size());
      must_fail = n < c.size_line_end;
      b.resize(n);
      break;
    }
    case 2: { // splice two states
      const bytes &o = corpus[pick(corpus.size())].data;
      const std::size_t a = pick(b.size()), from = pick(o.size());
      b.resize(a);
      b.insert(b.end(), o.begin() + static_cast<std::ptrdiff_t>(from), o.end());
      break;
    }
    case 3: // words overwritten with boundary values or with other words of the state
      for (unsigned k = 1 + rng() % 4; k > 0 && b.size() > start + 4; k--) {
        const std::size_t at = start + (pick(b.size() - start - 4) & ~std::size_t{3});
        const std::uint32_t v = rng() % 2 ? interesting[pick(std::size(interesting))]
                                          : word_at(b, start + (pick(b.size() - start - 4) & ~std::size_t{3}));
        set_word_at(b, at, v);
      }
      break;
    case 4: { // a stretch duplicated
      const std::size_t a = pick(b.size()), n = pick(std::min<std::size_t>(256, b.size() - a));
      bytes piece(b.begin() + static_cast<std::ptrdiff_t>(a), b.begin() + static_cast<std::ptrdiff_t>(a + n));
      b.insert(b.begin() + static_cast<std::ptrdiff_t>(pick(b.size())), piece.begin(), piece.end());
      break;
    }
    default: { // a stretch dropped
      const std::size_t a = pick(b.size()), n = 1 + pick(std::min<std::size_t>(256, b.size() - a));
      b.erase(b.begin() + static_cast<std::ptrdiff_t>(a), b.begin() + static_cast<std::ptrdiff_t>(std::min(b.size(), a + n)));
      break;
    }
    }
    if (whole_system_header(b)) {
      skipped++;
      continue;
    }
    write_file(mutant, b);
    const bool increment = c.selection && rng() % 4 != 0;
    if (trace) { // by hand: the round about to run, and its mutant kept under its number
      std::printf("round %ld: corpus %td, %s\n", rounds + 1, &c - corpus.data(),
                  increment ? "$restore_increment" : "$restore");
      std::fflush(stdout);
      write_file(dir + "/fuzz_round_" + std::to_string(rounds + 1) + ".sav", b);
      if (std::getenv("STATE_FUZZ_KEEP_ALL") == nullptr)
        std::remove((dir + "/fuzz_round_" + std::to_string(rounds - 15) + ".sav").c_str());
    }
    ball.clear();
    const int res = call_prolog(w, increment ? "$restore_increment" : "$restore",
                                {mk_atom(mutant.c_str()), mk_atom("fuzz")}, &ball);
    rounds++;
    if (res == 1) {
      successes++;
      if (must_fail) {
        faults++;
        std::printf("round %ld: a state cut at %zu of %zu restored as a success\n", rounds, b.size(), c.data.size());
      }
      if (call_prolog(w, "garbage_collect_atoms", {}, &ball) != 1 || call_prolog(w, "garbage_collect", {}, &ball) != 1) {
        faults++;
        std::printf("round %ld: the collectors failed after a restore: %s\n", rounds, ball.c_str());
      }
    } else if (res == -1) {
      errors_raised++;
    } else {
      faults++;
      std::printf("round %ld: the restore failed without an error\n", rounds);
      write_file(dir + "/fuzz_fault_" + std::to_string(rounds) + ".sav", b);
    }
  }
  std::printf("state_fuzz: seed %u, %.0f s: %ld restores (%ld succeeded, %ld raised an error), %ld whole-system "
              "mutants not run, %ld faults\n",
              seed, seconds, rounds, successes, errors_raised, skipped, faults);
  runtime_stop();
  return faults == 0 ? 0 : 1;
}
