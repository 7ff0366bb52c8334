/* stack_walk.h: the walk over the choicepoint stack, from `node` down to
 * and including the bottom choicepoint (9 words below choice_start), for
 * the code that moves and checks the stacks (stack_growth.cpp,
 * trail_goals.cpp, proofreader.cpp).  A choicepoint has no link to its
 * predecessor; the step is the node_offset of the try node in next_alt.
 */
#ifndef VOSTREL_STACK_WALK_H
#define VOSTREL_STACK_WALK_H

#include <cstdint>

#include "code_records.h"
#include "termdefs.h"
#include "worker.h"

inline node *bottom_choicepoint(worker *w) { return reinterpret_cast<node *>(w->choice_start - BOTTOM_NODE_WORDS); }

struct choice_walk {
  node *cp;
  node *bottom;
  explicit choice_walk(worker *w) : cp(w->node_), bottom(bottom_choicepoint(w)) {}
  bool done() const { return cp == nullptr || cp > bottom; }
  try_node *alt() const { return node_alt(cp); }
  int arity() const
  {
    try_node *a = alt();
    return a == nullptr ? 0 : (a->node_offset - 24) / 4;
  }
  void step() { cp = (cp == bottom || alt() == nullptr) ? nullptr : node_previous(cp); }
};

#endif
