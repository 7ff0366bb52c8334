/* trail_goals.cpp: goals that the trail holds for later (clean-up goals
 * left by a cut, wake-ups of bound constrained variables) and trail
 * compaction.
 *
 * The emulator calls the two collectors at a predicate entry when the
 * newest choicepoint has pending clean-ups (bit 0 of its next_alt) or when
 * wake_count is non-zero; each turns the due goals into calls pushed on the
 * local stack, every one returning into the previous and the first into
 * the predicate that was being entered, and returns the predicate to call
 * now.  Entries that have done their work become holes (the word 0), which
 * compress_trail then squeezes out.
 *
 * Invariant kept by compress_trail: a mutable's stamp names the offset (in
 * words from trail_start) of its newest trail entry and each entry's saved
 * stamp names the next older one, so entries move only with their chain
 * links rewritten.
 */
#include <vector>

#include "datadefs.h"
#include "initial_atoms.h"
#include "predicates.h"
#include "preds.h"
#include "stack_growth.h"
#include "stack_walk.h"
#include "terms.h"
#include "wamsup.h"
#include "worker.h"

namespace {

/* Saves a call of pred (its arguments from the registers) in a new
   environment that resumes it: the record's continuation halfword is a
   KONTINUE preceded by frame_size, the size of that environment. */
void push_call(worker *w, definition *pred)
{
  procedure *d = &pred->proc;
  TAGGED *e = w->local_top;
  e[0] = PointerToTerm(w->frame_);
  e[1] = PointerToTerm(w->next_insn);
  for (int i = 0; i < d->arity; i++)
    e[2 + i] = w->term[i];
  w->frame_ = reinterpret_cast<frame *>(e);
  w->next_insn = &d->continuation;
  w->local_top = e + 2 + d->arity;
}

const TAGGED functor_Dfree1 = MakeFunctor(MakeAtom(atom_Dfree_enum), 1);
const TAGGED small_zero = MakeSmall_checked(0);

inline TAGGED *trail_at(worker *w, TAGGED stamp) { return w->trail_start + GetSmall(stamp); }
inline TAGGED stamp_of(worker *w, const TAGGED *entry)
{
  return MakeSmall_checked(static_cast<VR_INTEGER>(entry - w->trail_start));
}

/* A binding entry of a bound constrained variable: the heap word before
   the cell is the marker -1. */
inline bool is_woken_binding(worker *w, TAGGED t)
{
  return t != 0 && IsVar(t) && TagToRef(t) < w->global_top && TagToRef(t) >= w->heap_start &&
         TagToRef(t)[-1] == CVA_MARKER;
}

/* The next woken binding at or below p (exclusive of p), stepping back over
   3-word mutable entries (told by their last word, a small integer); null
   when none is left above `low`. */
TAGGED *prev_woken(worker *w, TAGGED *p, TAGGED *low)
{
  while (p > low) {
    TAGGED t = p[-1];
    if (IsSmall(t) && p - 3 >= low) {
      p -= 3;
      continue;
    }
    p--;
    if (is_woken_binding(w, t))
      return p;
  }
  return nullptr;
}

} // namespace

void compress_trail(worker *w, TAGGED *from)
{
  TAGGED *mark = node_trail_top(w->node_);
  TAGGED mark_stamp = stamp_of(w, mark);
  /* The choicepoints whose segments start above `from` (the collector's
     temporary segment boundaries above the choicepoint whose clean-ups
     are collected): their trail tops move with the entries, oldest
     first, else one would be left inside a moved 3-word entry. */
  std::vector<node *> tops; /* newest first */
  for (choice_walk c(w); !c.done() && node_trail_top(c.cp) > from; c.step())
    tops.push_back(c.cp);
  auto move_tops_at = [&](TAGGED *p, TAGGED *dest) {
    while (!tops.empty() && node_trail_top(tops.back()) == p) {
      node *b = tops.back();
      const auto flags = reinterpret_cast<std::uintptr_t>(b->trail_top) & (NODE_SEGMENT_MARK | NODE_NO_ENUMERATION);
      b->trail_top = reinterpret_cast<TAGGED *>(reinterpret_cast<std::uintptr_t>(dest) | flags);
      tops.pop_back();
    }
  };
  TAGGED *dest = from;
  TAGGED *p = from;
  while (p < w->trail_top) {
    move_tops_at(p, dest);
    TAGGED t = *p;
    if (t == 0) {
      p++;
      continue;
    }
    if (!IsStructure(t)) {
      *dest++ = t;
      p++;
      continue;
    }
    /* A mutable entry E = p: is it still needed? */
    TAGGED *m = TagToSTR(t);
    bool keep = false;
    for (;;) {
      TAGGED *n = trail_at(w, m[2]);
      if (n < p)
        break; /* E is no longer in m's chain */
      bool redundant = m >= w->global_uncond || static_cast<std::int32_t>(n[2]) >= static_cast<std::int32_t>(mark_stamp) ||
                       m[1] == n[1];
      if (!redundant) {
        keep = true;
        break;
      }
      m[2] = n[2]; /* pop n; the walk drops its zeros when it gets there */
      n[0] = n[1] = n[2] = 0;
    }
    if (keep) {
      /* Rewrite the link that names E to E's new offset. */
      TAGGED *link = &m[2];
      while (trail_at(w, *link) != p) {
        TAGGED *older = trail_at(w, *link);
        if (older < p) {
          keep = false; /* E is not in the chain after all */
          break;
        }
        link = &older[2];
      }
      if (keep) {
        *link = stamp_of(w, dest);
        TAGGED e1 = p[1], e2 = p[2];
        dest[0] = t;
        dest[1] = e1;
        dest[2] = e2;
        dest += 3;
      }
    }
    p += 3;
  }
  move_tops_at(p, dest);
  w->trail_top = dest;
}

definition *collect_cleanup_from_trail(worker *w, definition *pred)
{
  node *b = w->node_;
  /* A temporary fail_alt choicepoint (the garbage collector's segment
     boundary) splits the trail segment of the choicepoint beneath it: the
     records of both are due together. */
  node *owner = b;
  while (fail_alt != nullptr && node_alt(owner) == fail_alt)
    owner = node_previous(owner);
  TAGGED *lowest = nullptr;
  TAGGED *newest = nullptr;
  int pending = 0;
  bool seen_any = false;
  for (TAGGED *p = node_trail_top(owner); p < w->trail_top;) {
    TAGGED t = *p;
    if (IsStructure(t)) {
      p += 3;
      continue;
    }
    if (!IsList(t)) {
      p++;
      continue;
    }
    seen_any = true;
    TAGGED *cell = TagToLST(t);
    TAGGED flag = deref(cell[0]);
    TAGGED tail = deref(cell[1]);
    if (IsVar(flag)) {
      /* not yet due */
    } else if (flag == small_zero) {
      *p = 0;
      if (lowest == nullptr)
        lowest = p;
    } else if (IsStructure(tail) && *TagToSTR(tail) == functor_Dfree1) {
      TAGGED saved = w->term[0];
      w->term[0] = TagToSTR(tail)[1];
      if (prolog_free_hook != nullptr)
        prolog_free_hook(w);
      w->term[0] = saved;
      *p = 0;
      if (lowest == nullptr)
        lowest = p;
    } else {
      pending++;
      newest = p;
    }
    p++;
  }
  if (pending > 0) {
    push_call(w, pred);
    pred = preds.call_cleanup;
    w->term[0] = deref(TagToLST(*newest)[1]);
    *newest = 0;
    if (lowest == nullptr || newest < lowest)
      lowest = newest;
    pending--;
  }
  if (pending == 0 || !seen_any)
    for (node *c = b;; c = node_previous(c)) {
      c->next_alt = node_alt(c);
      if (c == owner)
        break;
    }
  if (lowest != nullptr)
    compress_trail(w, lowest);
  return pred;
}

definition *collect_goals_from_trail(worker *w, definition *pred)
{
  int count = static_cast<int>(w->wake_count);
  TAGGED *low = w->trail_start + 1;
  TAGGED *lowest_scanned = w->trail_top;

  bool fd_path = false;
  if (preds.fd_unify != nullptr && predtyp(preds.fd_unify) != ENTER_UNDEFINED &&
      pure_attributes_hook != nullptr && count > 0) {
    fd_path = true;
    TAGGED *p = w->trail_top;
    for (int i = 0; i < count; i++) {
      p = prev_woken(w, p, low);
      if (p == nullptr)
        break;
      TAGGED *cell = TagToRef(*p);
      if (!IsSmall(deref(*cell)) || !pure_attributes_hook(*p, preds.fd_unify->module)) {
        fd_path = false;
        break;
      }
    }
  }

  if (fd_path) {
    push_call(w, pred);
    TAGGED *h = w->global_top;
    TAGGED *p = w->trail_top;
    int n = 0;
    while (n < count && (p = prev_woken(w, p, low)) != nullptr) {
      TAGGED var = *p;
      TAGGED *cell = TagToRef(var);
      TAGGED *v = h + 4 * n;
      v[0] = var;
      v[1] = MakeLST(v + 4);
      v[2] = *cell;
      v[3] = MakeLST(v + 6);
      *cell = var; /* unbound again */
      *p = 0;
      lowest_scanned = p;
      n++;
    }
    if (n > 0) {
      h[4 * n - 3] = atom_nil;
      h[4 * n - 1] = atom_nil;
      w->global_top = h + 4 * n;
      w->term[0] = MakeLST(h);
      w->term[1] = MakeLST(h + 2);
    } else {
      w->term[0] = w->term[1] = atom_nil;
    }
    pred = preds.fd_unify;
  } else {
    TAGGED *p = w->trail_top;
    for (int i = 0; i < count; i++) {
      p = prev_woken(w, p, low);
      if (p == nullptr)
        break;
      lowest_scanned = p;
      TAGGED var = *p;
      TAGGED *cell = TagToRef(var);
      push_call(w, pred);
      if (cell[1] == atom_nil) {
        pred = preds.call_goals;
        w->term[0] = cell[2];
        if (cell >= w->global_uncond)
          *p = 0;
      } else {
        TAGGED value = *cell;
        *cell = var;
        *p = 0;
        pred = preds.unify_cva;
        w->term[0] = var;
        w->term[1] = value;
      }
    }
  }
  w->wake_count = 0;
  compress_trail(w, lowest_scanned);
  return pred;
}
