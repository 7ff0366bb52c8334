/* live_regs.cpp: live argument registers at a code address (see
 * live_regs.h).
 *
 * A forward pass collects the straight-line instructions up to and
 * including the first call or done instruction and computes, recursively,
 * the liveness at every else target met; a backward pass then marks
 * registers dead where written and live where read.  Every test with an
 * else address (type tests included) can leave for its target, so each
 * such instruction keeps live the registers that ANY target may read: the
 * largest liveness over the targets.  Taking only one target's value would
 * let a register read on another else path be cleared at a suspension.
 *
 * The marks of a call are taken after its recursive calls have run, so a
 * nested analysis never leaves bytes that read as this call's live mark.
 * The liveness of a target depends only on the code, so one analysis
 * computes each target once (a predicate's clauses chain their guards'
 * else labels, and recomputing shared targets would be exponential).
 */
#include "live_regs.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "code_walkers.h"
#include "insn_table.h"
#include "wamsup.h"
#include "worker.h"

unsigned char livereg[256];
unsigned char live_stamp = 0;
int (*live_regs_pred_arity)(const definition *def) = nullptr;

namespace {

constexpr int NREGS = 256;
/* Past this nesting of else targets (a long chain of guarded clauses) a
   target counts as reading every register a call can read: more is saved,
   nothing lost.  No predicate has more than 255 arguments, and the
   suspension's continuation stubs stop at 255 saved registers. */
constexpr int MAX_DEPTH = 256;
constexpr int ALL_LIVE = 255;

struct analysis {
  std::vector<std::pair<const INSN *, int>> targets; /* liveness per else target */
  int depth = 0;
};

int called_arity(const INSN *operand)
{
  auto *def = reinterpret_cast<const definition *>(static_cast<std::uintptr_t>(code_word(operand)));
  if (live_regs_pred_arity == nullptr || def == nullptr)
    return ALL_LIVE;
  return std::min(live_regs_pred_arity(def), ALL_LIVE);
}

bool ignored_target(std::uint32_t target)
{
  return target == 0 || target == static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(failcode)) ||
         target == static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(elsecode));
}

int liveness(worker *w, INSN *pc, bool outer, analysis &an);

int target_liveness(worker *w, INSN *target, analysis &an)
{
  for (const auto &t : an.targets)
    if (t.first == target)
      return t.second;
  if (an.depth >= MAX_DEPTH)
    return ALL_LIVE;
  /* A target reached again while its own analysis runs (a loop) counts as
     reading everything. */
  const std::size_t slot = an.targets.size();
  an.targets.emplace_back(target, ALL_LIVE);
  an.depth++;
  const int n = liveness(w, target, false, an);
  an.depth--;
  an.targets[slot].second = n;
  return n;
}

/* What one instruction reads and writes, in the terms of the backward
   pass. */
struct effect {
  unsigned writes[4];
  int nwrites = 0;
  unsigned reads[4];
  int nreads = 0;
  int read_below = 0;          /* registers 0 .. read_below - 1 are read */
  unsigned z_first = 0, z_count = 0; /* registers loaded by a Z list */
  std::vector<unsigned> g_reads; /* X registers of a move list */
};

void instruction_effect(INSN *p, int else_arity, effect &e)
{
  const int fmt = insn_fmt[INSN_OF(*p)];
  const char *letters = fmt_letters[fmt];
  const bool is_call = std::strchr(letters, 'Z') != nullptr || fmt == fmt_E || fmt == fmt_QE;
  bool first_i = true;
  for_each_operand(p, [&](char letter, INSN *at) {
    switch (letter) {
    case '0': case '1': case '2': case '3': {
      /* In GET_Xa_Xb and GET_Xa_Xn the leading digit is the destination;
         elsewhere a digit is a register the instruction reads. */
      const unsigned r = static_cast<unsigned>(letter - '0');
      if (letter == letters[0])
        e.writes[e.nwrites++] = r;
      else
        e.reads[e.nreads++] = r;
      break;
    }
    case 'u':
      e.reads[e.nreads++] = x_index(at[0]);
      break;
    case 'd':
      e.writes[e.nwrites++] = x_index(at[0]);
      break;
    case 'G':
      for (unsigned k = 0; k < at[0]; k++)
        e.g_reads.push_back(x_index(at[1 + 2 * k]));
      break;
    case 'Z':
      e.z_first = at[0] & 0xFF;
      e.z_count = at[0] >> 8;
      break;
    case 'E':
      if (is_call)
        e.read_below = std::max(e.read_below, called_arity(at));
      break;
    case 'r':
      e.read_below = std::max(e.read_below, static_cast<int>(at[0]));
      break;
    case 'i':
      /* A foreign call's stub reads its first arity registers. */
      if (first_i && (fmt == fmt_iiEC || fmt == fmt_QiiEC))
        e.read_below = std::max(e.read_below, static_cast<int>(at[0]));
      first_i = false;
      break;
    case 'p':
      e.read_below = std::max(e.read_below, else_arity);
      break;
    default:
      break;
    }
  });
}

int liveness(worker *w, INSN *pc, bool outer, analysis &an)
{
  /* Forward pass: the straight-line instructions, and the else targets. */
  INSN *local[64];
  std::vector<INSN *> spill;
  int count = 0;
  auto add = [&](INSN *p) {
    if (count < 64)
      local[count] = p;
    else
      spill.push_back(p);
    count++;
  };
  auto at = [&](int k) { return k < 64 ? local[k] : spill[static_cast<std::size_t>(k - 64)]; };
  int else_arity = 0;
  INSN *p = pc;
  int cls;
  do {
    add(p);
    for_each_operand(p, [&](char letter, INSN *op) {
      if (letter != 'p')
        return;
      const std::uint32_t target = code_word(op);
      if (!ignored_target(target))
        else_arity = std::max(else_arity,
                              target_liveness(w, reinterpret_cast<INSN *>(static_cast<std::uintptr_t>(target)), an));
    });
    p = skip_insn(p, &cls, nullptr);
  } while (cls == SKIP_PLAIN);

  /* This analysis's marks: anything other than `live` reads as not live. */
  unsigned char dead, live;
  if (live_stamp == 255) {
    std::memset(livereg, 0, sizeof livereg);
    dead = 0;
    live = 1;
  } else {
    dead = live_stamp;
    live = static_cast<unsigned char>(live_stamp + 1);
  }
  live_stamp = live;

  int result = 0;
  auto mark_dead = [&](unsigned r) {
    if (r < NREGS)
      livereg[r] = dead;
  };
  auto mark_live = [&](unsigned r) {
    if (r < NREGS) {
      livereg[r] = live;
      result = std::max(result, static_cast<int>(r) + 1);
    }
  };

  /* Backward pass: written registers die before the read ones come alive;
     a call's Z list is loaded by the call itself, so its registers die
     after the call's arguments are marked. */
  for (int k = count - 1; k >= 0; k--) {
    effect e;
    instruction_effect(at(k), else_arity, e);
    for (int i = 0; i < e.nwrites; i++)
      mark_dead(e.writes[i]);
    for (int i = 0; i < e.nreads; i++)
      mark_live(e.reads[i]);
    for (unsigned r : e.g_reads)
      mark_live(r);
    for (int r = 0; r < e.read_below; r++)
      mark_live(static_cast<unsigned>(r));
    for (unsigned i = 0; i < e.z_count; i++)
      mark_dead(e.z_first + i);
  }

  if (outer) {
    while (result > 0 && livereg[result - 1] != live)
      result--;
    for (int r = 0; r < result; r++)
      if (livereg[r] != live)
        w->term[r] = atom_nil;
  }
  return result;
}

} // namespace

int live_x_regs(worker *w, INSN *pc, int recursive)
{
  analysis an;
  return liveness(w, pc, recursive == 0, an);
}
