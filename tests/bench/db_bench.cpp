// The dynamic database (not a test):
//
//   bench_db [lookups] [rounds]
//
// Indexing: facts f(Key, I) are asserted with atom keys and with integer
// keys, 10^3, 10^4 and 10^5 of them, and `lookups` calls f(Key, V) by a
// bound first argument (keys spread over the whole predicate) are timed as
// a failure-driven loop, the time of the same loop without the call taken
// off.  First-argument indexing makes the time per look-up the same at
// every size.
//
// Reclamation: `rounds` rounds of assertz(q(I)), once(q(_)), retract(q(I))
// (the call of q/1 leaves a choicepoint, so every erased clause is queued
// for reclamation rather than freed at once), first with no other call
// open and then under an open call of q/1 itself.  Prints the time per
// round, the memory manager's bytes in use (all of it and the instance
// bin) before, at the peak sampled every 10^5 rounds, and after, and the
// reclamation counts.  Times are processor time.
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "atoms.h"
#include "compiler.h"
#include "datadefs.h"
#include "library.h"
#include "memman.h"
#include "modules.h"
#include "predicates.h"
#include "query.h"
#include "runtime_boot.h"
#include "run_mode.h"
#include "terms.h"
#include "worker.h"

namespace {

worker *w = nullptr;
mod_def *user = nullptr;

const char *program =
    "between_(L, H, L) :- L =< H.\n"
    "between_(L, H, X) :- L < H, L1 is L + 1, between_(L1, H, X).\n"
    "key(atom, I, K) :- number_codes(I, Cs), atom_codes(K, [0'k|Cs]).\n"
    "key(integer, I, I).\n"
    "fill(Kind, N) :- retractall(f(_, _)), ( between_(1, N, I), key(Kind, I, K), assertz(f(K, I)), fail ; true ).\n"
    // The i-th look-up asks for key (i * 7919) mod N + 1.
    "look(Kind, N, M) :- ( between_(1, M, J), I is J * 7919 mod N + 1, key(Kind, I, K), f(K, _), fail ; true ).\n"
    "empty(Kind, N, M) :- ( between_(1, M, J), I is J * 7919 mod N + 1, key(Kind, I, _), fail ; true ).\n"
    ":- dynamic(q/1).\n"
    "q(-1). q(0).\n"
    "sample :- statistics(memory_used, M), ( bb_get(peak, P), P >= M -> true ; bb_put(peak, M) ).\n"
    "round(I) :- assertz(q(I)), once(q(_)), retract(q(I)), ( I mod 100000 =:= 0 -> sample ; true ).\n"
    "churn(N) :- bb_put(peak, 0), ( between_(1, N, I), round(I), fail ; true ).\n"
    "open_churn(N) :- bb_put(peak, 0), findall(X, (q(X), (X == -1 -> churn(N) ; true)), L), L == [-1, 0].\n"
    "peak(P) :- bb_get(peak, P).\n";

// Runs Name(Args...) once; processor seconds taken (steadier than wall
// time on a busy machine), or -1 when it did not succeed.
double timed(const char *name, std::vector<TAGGED> args)
{
  definition *d = insert_definition(user, init_atom_check(name, 0), static_cast<int>(args.size()), 0);
  const std::clock_t t0 = std::clock();
  query q;
  int res = query_open(w, &q, d, args.data());
  query_close(w, &q);
  const std::clock_t t1 = std::clock();
  if (res != 1) {
    std::fprintf(stderr, "%s: did not succeed (%d)\n", name, res);
    return -1;
  }
  return static_cast<double>(t1 - t0) / CLOCKS_PER_SEC;
}

long peak()
{
  TAGGED *h = w->global_top++;
  *h = PointerToTerm(h);
  TAGGED a = *h;
  timed("peak", {a});
  TAGGED v = deref(*h);
  return IsSmall(v) ? GetSmall(v) : -1;
}

void report_churn(const char *what, const char *pred, long rounds)
{
  const std::size_t used0 = eglobal->mm.total_in_use, ins0 = eglobal->mm.mm_bins[MM_BIN_INSTANCE];
  const std::int64_t count0 = eglobal->stats.reclaim_dead_clauses_count;
  const std::int64_t freed0 = eglobal->stats.reclaim_dead_clauses_reclaimed;
  const double t = timed(pred, {MakeSmall_checked(static_cast<VR_INTEGER>(rounds))});
  std::printf("%s: %ld rounds, %.3f us each\n", what, rounds, t / static_cast<double>(rounds) * 1e6);
  std::printf("  memory in use: %zu bytes before, %ld at the peak, %zu after; instances %zu before, %zu after\n",
              used0, peak(), eglobal->mm.total_in_use, ins0, eglobal->mm.mm_bins[MM_BIN_INSTANCE]);
  std::printf("  slow reclamations %lld (clauses freed by them %lld); clauses alive %lld, queued %lld\n",
              static_cast<long long>(eglobal->stats.reclaim_dead_clauses_count - count0),
              static_cast<long long>(eglobal->stats.reclaim_dead_clauses_reclaimed - freed0),
              static_cast<long long>(eglobal->clauses_total - eglobal->clauses_dead),
              static_cast<long long>(eglobal->clauses_dead));
}

} // namespace

int main(int argc, char **argv)
{
  const long lookups = argc > 1 ? std::atol(argv[1]) : 200000;
  const long rounds = argc > 2 ? std::atol(argv[2]) : 1000000;
  print_run_mode();
  setenv("GLOBALSTKSIZE", "16M", 0);
  if (runtime_start(0, nullptr) != 1)
    return 1;
  w = self;
  std::vector<std::string> errors;
  user = find_module(init_atom_check("user", 0), 1);
  consult_text(w, program, user, &errors);
  for (const std::string &e : errors)
    std::fprintf(stderr, "%s\n", e.c_str());
  if (!errors.empty())
    return 1;

  for (const char *kind : {"atom", "integer"}) {
    const TAGGED k = init_atom_check(kind, 0);
    for (long n : {1000L, 10000L, 100000L}) {
      const TAGGED nn = MakeSmall_checked(static_cast<VR_INTEGER>(n));
      const TAGGED mm = MakeSmall_checked(static_cast<VR_INTEGER>(lookups));
      timed("fill", {k, nn});
      const double with = timed("look", {k, nn, mm});
      const double without = timed("empty", {k, nn, mm});
      std::printf("look-up by %-7s key among %6ld facts: %.3f us each (%ld look-ups)\n", kind, n,
                  (with - without) / static_cast<double>(lookups) * 1e6, lookups);
    }
  }
  timed("fill", {init_atom_check("integer", 0), MakeSmall_checked(0)});

  report_churn("assert/retract, no other call open", "churn", rounds);
  report_churn("assert/retract under an open call of the same predicate", "open_churn", rounds);
  runtime_stop();
  return 0;
}
