/* soft_cut.cpp: $soft_cut/1, the primitive behind (C *-> T ; E).
 *
 * $soft_cut(B), B a cut value saved by the caller of the disjunction:
 * the choicepoint just above B (the disjunction's own, which would run E)
 * is made dead, while the condition's choicepoints, newer than it, stay.
 * A choicepoint cannot leave the middle of the stack, so its alternative
 * is replaced by one that only fails further: a try node of the same size
 * (backtracking restores registers by the size its alternative states),
 * whose code is the canned failcode and which has no further alternative,
 * so that backtracking into it pops it.
 */
#include <cstdint>

#include "code_records.h"
#include "insn_table.h"
#include "terms.h"
#include "wamsup.h"
#include "worker.h"

int prolog_soft_cut(worker *w); /* $soft_cut/1 */

namespace {

try_node dead_alts[256];
INSN *dead_alts_code = nullptr; /* the failcode the table was made for */

try_node *dead_alt(int offset)
{
  if (dead_alts_code != failcode) {
    for (unsigned a = 0; a < 256; a++)
      dead_alts[a] = try_node{nullptr, failcode, &dead_alts[a], node_offset_for(a), OPCODE(TRY)};
    dead_alts_code = failcode;
  }
  const int arity = (offset - node_offset_for(0)) / 4;
  return arity >= 0 && arity < 256 ? &dead_alts[arity] : nullptr;
}

} // namespace

int prolog_soft_cut(worker *w)
{
  const TAGGED b = deref(w->term[0]);
  if (!IsSmall(b))
    return 0;
  const node *target = reinterpret_cast<node *>(w->choice_start + GetSmall(b));
  if (target <= w->node_)
    return 1; /* nothing above it: already gone */
  for (node *n = w->node_; n < target; n = node_previous(n)) {
    if (node_previous(n) != target)
      continue;
    try_node *dead = dead_alt(node_alt(n)->node_offset);
    if (dead == nullptr)
      return 0;
    const std::uintptr_t flags = reinterpret_cast<std::uintptr_t>(n->next_alt) & 3u;
    n->next_alt = reinterpret_cast<try_node *>(reinterpret_cast<std::uintptr_t>(dead) | flags);
    return 1;
  }
  return 1;
}
