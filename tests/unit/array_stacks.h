// array_stacks.h: a worker laid over plain arrays, for tests of native code
// that binds, trails and uses the value trail without a real stack block.
//
// One array holds guard words, the heap and the local stack, in that order,
// so that every heap cell lies below every local cell as in the real block;
// a second holds the trail (word 0 is 0) and the choicepoints, which grow
// down from its top.  The areas are sized so that no test reaches the
// growth routines.  A choicepoint pushed here has no saved arguments; its
// alternative is a local try node.
#ifndef TRELIX_TESTS_ARRAY_STACKS_H
#define TRELIX_TESTS_ARRAY_STACKS_H

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "code_records.h"
#include "stacks.h"
#include "terms.h"
#include "worker.h"

struct array_stacks {
  std::vector<TAGGED> block;
  std::vector<TAGGED> choice;
  try_node alt{};

  // Lays the areas out in w: heap_words of heap, local_words of local stack,
  // choice_words of trail and choice area, and one bottom choicepoint.
  void attach(worker &w, std::size_t heap_words, std::size_t local_words, std::size_t choice_words)
  {
    block.assign(HEAP_GUARD_WORDS + heap_words + local_words, 0xDEADBEEF);
    for (int i = 0; i < HEAP_GUARD_WORDS; ++i)
      block[i] = HEAP_GUARD_WORD;
    choice.assign(choice_words, 0);
    alt.node_offset = node_offset_for(0);
    w.heap_start = block.data() + HEAP_GUARD_WORDS;
    w.global_top = w.heap_start;
    w.stack_start = w.heap_start + heap_words;
    w.stack_end = w.stack_start + local_words;
    w.local_top = w.stack_start;
    w.heap_warn = w.stack_start - HEAP_WARN_MARGIN;
    w.heap_warn_soft = w.heap_warn;
    w.trail_start = choice.data();
    w.choice_end = w.trail_start;
    w.trail_end = w.trail_start + choice_words;
    w.choice_start = w.trail_end;
    w.trail_start[0] = 0;
    w.trail_top = w.trail_start + 1;
    w.node_ = nullptr;
    w.value_trail = VALUE_TRAIL_EMPTY;
    push_choicepoint(w);
  }

  // A choicepoint recording the current tops; binding older cells now trails.
  node *push_choicepoint(worker &w)
  {
    TAGGED *top = w.node_ == nullptr ? w.choice_start : reinterpret_cast<TAGGED *>(w.node_);
    node *b = reinterpret_cast<node *>(top - NODE_HEADER_WORDS);
    b->next_alt = &alt;
    b->local_top = w.local_top;
    b->global_top = w.global_top;
    b->trail_top = w.trail_top;
    b->frame_ = nullptr;
    b->next_insn = nullptr;
    w.node_ = b;
    w.global_uncond = w.global_top;
    w.local_uncond = w.local_top;
    return b;
  }

  // Backtracks into the newest choicepoint: undoes its trail segment
  // (bindings and mutable updates) and resets the tops, keeping it.
  static void backtrack(worker &w)
  {
    node *b = w.node_;
    TAGGED *mark = node_trail_top(b);
    while (w.trail_top > mark) {
      TAGGED last = w.trail_top[-1];
      if (trail_ends_mutable(last)) {
        TAGGED *e = w.trail_top - TRAIL_MUTABLE_WORDS;
        TAGGED *m = TagToSTR(e[0]);
        m[1] = e[1];
        m[2] = e[2];
        w.trail_top = e;
      } else {
        if (trail_is_binding(last))
          *TagToRef(last) = last;
        --w.trail_top;
      }
    }
    w.global_top = b->global_top;
    w.local_top = b->local_top;
  }
};

// Term building at w.global_top for tests: a fresh heap variable, a
// structure with the given arguments, a list pair, a list of items.
inline TAGGED test_heap_var(worker &w)
{
  TAGGED *c = w.global_top++;
  *c = PointerToTerm(c);
  return *c;
}

inline TAGGED test_struct(worker &w, TAGGED f, std::initializer_list<TAGGED> args)
{
  TAGGED t = make_structure(&w, f);
  unsigned i = 1;
  for (TAGGED a : args)
    TagToSTR(t)[i++] = a;
  return t;
}

inline TAGGED test_cons(worker &w, TAGGED head, TAGGED tail)
{
  TAGGED c = make_structure(&w, functor_list);
  TagToLST(c)[0] = head;
  TagToLST(c)[1] = tail;
  return c;
}

inline TAGGED test_list(worker &w, const std::vector<TAGGED> &items, TAGGED tail = atom_nil)
{
  TAGGED l = tail;
  for (auto it = items.rbegin(); it != items.rend(); ++it)
    l = test_cons(w, *it, l);
  return l;
}

#endif
