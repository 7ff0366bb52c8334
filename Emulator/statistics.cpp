/* statistics.cpp: $statistics(Key, Value), one statistics key to one
 * value: memory and stack usage, the counters and times of the collectors,
 * the stack shifter and the reclaimers, and the three clocks.
 *
 * The keys are the 35 consecutive predefined atoms from agc_count to
 * walltime, so a key's place in the table is its atom number's distance
 * from the first; only those atoms are keys, and any other term is a
 * domain error (not the key that happens to sort next).
 * Each clock key answers [Total, Delta]: the delta since the previous
 * question about the same key, whose base it then moves.  Run time leaves
 * out what the collectors, the stack shifter, the defragmenter and the
 * reclaimers spent.  Called by the library's statistics/2.
 */
#include "statistics.h"

#include "atoms.h"
#include "datadefs.h"
#include "errors.h"
#include "initial_atoms.h"
#include "memman.h"
#include "stacks.h"
#include "terms.h"
#include "timing.h"
#include "unify.h"
#include "worker.h"

namespace {

constexpr std::uint32_t first_key = atom_agc_count_enum;
constexpr int key_count = 35;
static_assert(atom_walltime_enum - atom_agc_count_enum + 1 == key_count, "the keys are consecutive atoms");

/* Bytes from one heap or stack address up to another, whole words. */
std::int64_t bytes_between(const TAGGED *from, const TAGGED *to) { return static_cast<std::int64_t>(to - from) * 4; }

TAGGED clock_pair(worker *w, std::int64_t total, std::int64_t delta)
{
  TAGGED *cells = w->global_top;
  w->global_top += 4;
  cells[0] = make_integer_term(w, total);
  cells[1] = MakeLST(cells + 2);
  cells[2] = make_integer_term(w, delta);
  cells[3] = atom_nil;
  return MakeLST(cells);
}

std::int64_t excluded_run_time(const engine_stats &s)
{
  return s.ss_time + s.gc_time + s.agc_time + s.defrag_time + s.reclaim_dead_clauses_time +
         s.reclaim_dead_predicates_time;
}

} // namespace

int statistics_key_index(TAGGED key)
{
  if (!IsAtom(key) || AtomIndex(key) < first_key || AtomIndex(key) >= first_key + key_count)
    return -1;
  return static_cast<int>(AtomIndex(key) - first_key);
}

int prolog_statistics(worker *w)
{
  const TAGGED key = deref(w->term[0]);
  w->term[0] = key;
  const int index = statistics_key_index(key);
  if (index < 0) {
    save_error(DOMAIN_ERROR, "statistics_key", key);
    raise_error("prolog", "statistics", 2, 1);
    return 0;
  }
  engine_stats &s = eglobal->stats;
  /* The free half of the area between the stacks' ends and the block's
     end, in bytes, counts for both stacks. */
  const std::int64_t spare = (w->heap_end - w->stack_end) * 2;
  std::int64_t used, free_;
  std::int64_t n = 0;
  TAGGED value = 0;
  switch (atom_sequence_number_enum(first_key + index)) {
  case atom_agc_count_enum: n = s.agc_count; break;
  case atom_agc_freed_enum: n = s.agc_freed; break;
  case atom_agc_nbfreed_enum: n = s.agc_nfreed; break;
  case atom_agc_time_enum: n = s.agc_time; break;
  case atom_atoms_nbfree_enum: n = static_cast<std::int64_t>(MAX_ATOM_COUNT) - eglobal->atom_count; break;
  case atom_atoms_nbused_enum: n = eglobal->atom_count; break;
  case atom_atoms_used_enum: n = s.agc_alloced; break;
  case atom_choice_free_enum: choice_usage(w, &used, &free_); n = free_; break;
  case atom_choice_used_enum: choice_usage(w, &used, &free_); n = used; break;
  case atom_dcgc_count_enum: n = s.reclaim_dead_clauses_count; break;
  case atom_dcgc_time_enum: n = s.reclaim_dead_clauses_time; break;
  case atom_defrag_count_enum: n = s.defrag_count; break;
  case atom_defrag_time_enum: n = s.defrag_time; break;
  case atom_dpgc_count_enum: n = s.reclaim_dead_predicates_count; break;
  case atom_dpgc_time_enum: n = s.reclaim_dead_predicates_time; break;
  case atom_gc_count_enum: n = s.gc_count; break;
  case atom_gc_freed_enum: n = s.gc_acc * 4; break;
  case atom_gc_time_enum: n = s.gc_time; break;
  case atom_global_stack_free_enum: n = bytes_between(w->global_top, w->stack_start) + spare; break;
  case atom_global_stack_used_enum: n = bytes_between(w->heap_start, w->global_top); break;
  case atom_local_stack_free_enum: n = bytes_between(w->local_top, w->stack_end) + spare; break;
  case atom_local_stack_used_enum: n = bytes_between(w->stack_start, w->local_top); break;
  case atom_memory_buckets_enum: value = mm_statistics(w); break;
  case atom_memory_culprit_enum: n = eglobal->mm.culprit; break;
  case atom_memory_free_enum: n = static_cast<std::int64_t>(eglobal->mm.total_free); break;
  case atom_memory_used_enum: n = static_cast<std::int64_t>(eglobal->mm.total_in_use); break;
  case atom_runtime_enum: {
    const std::int64_t u = vr_usertime_ms(), e = excluded_run_time(s);
    value = clock_pair(w, u - s.start_user_time - e, (u - s.last_user_time) - (e - s.last_excluded_run_time));
    s.last_user_time = u;
    s.last_excluded_run_time = e;
    break;
  }
  case atom_ss_choice_enum: n = s.ss_control; break;
  case atom_ss_global_enum: n = s.ss_global; break;
  case atom_ss_local_enum: n = s.ss_local; break;
  case atom_ss_time_enum: n = s.ss_time; break;
  case atom_total_runtime_enum: {
    const std::int64_t u = vr_usertime_ms();
    value = clock_pair(w, u - s.start_user_time, u - s.last_total_user_time);
    s.last_total_user_time = u;
    break;
  }
  case atom_trail_free_enum: trail_usage(w, &used, &free_); n = free_; break;
  case atom_trail_used_enum: trail_usage(w, &used, &free_); n = used; break;
  case atom_walltime_enum: {
    const std::int64_t now = vr_walltime_ms();
    value = clock_pair(w, now - s.startwall, now - s.lastwall);
    s.lastwall = now;
    break;
  }
  default: break;
  }
  if (value == 0)
    value = make_integer_term(w, n);
  return cunify(w, value, w->term[1]);
}
