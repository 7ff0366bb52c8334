/* wam_unify.h: the binding rule, the emulator's top-level unification and
 * the value rules that keep heap cells from pointing into the local stack.
 *
 * These are the inline pieces that the head, body and large-number
 * handlers (wam_head.inc, wam_body.inc, wam_large.inc) and the foreign-call
 * result instructions call.  They apply the same rules as bind/cunify of
 * unify.h, differing only in taking the heap top as an argument: in write
 * mode the emulator keeps H in a register and the worker's global_top is
 * stale, so "is this a heap cell?" must be asked against the register.
 * Anything that goes below the top level of two terms is handed to cunify,
 * the one general unifier.
 *
 * The binding rule (cell c, value x, heap top h):
 *   - store x in c;
 *   - heap cell (c < h): a constrained variable (the word before c is -1)
 *     counts a wake-up, clears heap_warn_soft and is always trailed, so the
 *     wake-up collector finds it among the newest trail entries; any other
 *     heap cell is trailed only when older than the newest choicepoint
 *     (below global_uncond);
 *   - local cell: trailed only when below local_uncond.
 * Every trail push keeps TRAIL_MARGIN words free below the value trail.
 *
 * Engine thread only.
 */
#ifndef VOSTREL_WAM_UNIFY_H
#define VOSTREL_WAM_UNIFY_H

#include <cstring>

#include "stack_growth.h"
#include "termdefs.h"
#include "terms.h"
#include "unify.h"
#include "worker.h"

/* Push a binding (the cell's reference word) and keep the trail margin.
   heap_top is the true heap top: in write mode global_top is stale, and the
   trail collector that choice_overflow may run must see the whole heap. */
inline void wam_trail_push(worker *w, TAGGED entry, TAGGED *heap_top)
{
  *w->trail_top++ = entry;
  if (reinterpret_cast<TAGGED *>(w->node_) + w->value_trail - w->trail_top < TRAIL_MARGIN) {
    w->global_top = heap_top;
    choice_overflow(w, TRAIL_MARGIN);
  }
}

/* Every binder takes the heap top: H in write mode (counting every cell
   the handler has written), global_top in read mode. */

/* The heap half of the binding rule: `cell` is known to be a heap cell. */
inline void wam_bind_heap(worker *w, TAGGED *cell, TAGGED value, TAGGED *heap_top)
{
  *cell = value;
  if (cell[-1] == CVA_MARKER) {
    w->wake_count++;
    w->heap_warn_soft = nullptr;
    wam_trail_push(w, PointerToTerm(cell), heap_top);
  } else if (cell < w->global_uncond) {
    wam_trail_push(w, PointerToTerm(cell), heap_top);
  }
}

/* The local half: `cell` lies in an environment. */
inline void wam_bind_local(worker *w, TAGGED *cell, TAGGED value, TAGGED *heap_top)
{
  *cell = value;
  if (cell < w->local_uncond)
    wam_trail_push(w, PointerToTerm(cell), heap_top);
}

/* The full binding rule. */
inline void wam_bind(worker *w, TAGGED *cell, TAGGED value, TAGGED *heap_top)
{
  if (cell < heap_top)
    wam_bind_heap(w, cell, value, heap_top);
  else
    wam_bind_local(w, cell, value, heap_top);
}

/* Two distinct unbound variables (reference words).  The younger (higher
   address) is bound to the older, which also binds a local variable rather
   than a heap one, except that a plain heap variable is bound to a
   constrained one even when the plain one is older: its suspended goals
   must stay reachable from the surviving variable. */
inline void wam_bind_vars(worker *w, TAGGED a, TAGGED b, TAGGED *heap_top)
{
  TAGGED *older = TagToRef(a < b ? a : b);
  TAGGED *younger = TagToRef(a < b ? b : a);
  if (younger >= heap_top)
    wam_bind_local(w, younger, PointerToTerm(older), heap_top);
  else if (younger[-1] == CVA_MARKER && older[-1] != CVA_MARKER)
    wam_bind_heap(w, older, PointerToTerm(younger), heap_top);
  else
    wam_bind_heap(w, younger, PointerToTerm(older), heap_top);
}

/* Unify two words (the emulator's unify_t_u).  The heap top must be in
   global_top.  Variables, constants, identical words and different tags
   are decided here; compound terms that need their arguments compared go
   to cunify.  1 on success, 0 on failure (bindings made so far stay for
   backtracking to undo). */
inline int wam_unify(worker *w, TAGGED t, TAGGED u)
{
  t = deref(t);
  if (IsVar(t)) {
    u = deref(u);
    if (u == t)
      return 1;
    if (IsVar(u))
      wam_bind_vars(w, t, u, w->global_top);
    else
      wam_bind(w, TagToRef(t), u, w->global_top);
    return 1;
  }
  u = deref(u);
  if (IsVar(u)) {
    wam_bind(w, TagToRef(u), t, w->global_top);
    return 1;
  }
  if (t == u)
    return 1;
  if (tag_of(t) != tag_of(u) || IsAtomic(t))
    return 0;
  return cunify(w, t, u);
}

/* Match a constant against a word: an unbound variable is bound to it,
   anything else must be the same word.  1 on a match. */
inline int wam_unify_constant(worker *w, TAGGED t, TAGGED c, TAGGED *heap_top)
{
  t = deref(t);
  if (t == c)
    return 1;
  if (!IsVar(t))
    return 0;
  wam_bind(w, TagToRef(t), c, heap_top);
  return 1;
}

/* The same for a word read from a structure argument: an unbound variable
   found there lives on the heap, since no heap cell refers into the local
   stack. */
inline int wam_unify_heap_constant(worker *w, TAGGED t, TAGGED c, TAGGED *heap_top)
{
  t = deref(t);
  if (t == c)
    return 1;
  if (!IsVar(t))
    return 0;
  wam_bind_heap(w, TagToRef(t), c, heap_top);
  return 1;
}

/* The local-value rule: write `t` into the new heap cell `dest` (the heap
   top) so that no heap cell refers into the local stack.  A reference to a
   heap cell is stored as it stands; a chain through the local stack is
   followed, and an unbound local variable at its end is moved to the heap:
   dest becomes the new variable and the local one refers to it. */
inline void wam_push_local_value(worker *w, TAGGED *dest, TAGGED t)
{
  for (;;) {
    if (!IsVar(t) || TagToRef(t) < dest) {
      *dest = t;
      return;
    }
    const TAGGED v = *TagToRef(t);
    if (v == t) {
      *dest = PointerToTerm(dest);
      wam_bind_local(w, TagToRef(t), PointerToTerm(dest), dest + 1);
      return;
    }
    t = v;
  }
}

/* A boxed number laid out in code (header and payload, no trailer) as a
   pointer to its words; the code builder keeps them 4-byte aligned. */
inline const TAGGED *code_large(const INSN *p) { return reinterpret_cast<const TAGGED *>(p); }

/* True when the structure at `box` (a heap cell) is the number at p.  The
   header is compared first, so a shorter structure or a functor is never
   read past its end. */
inline bool large_equals(const TAGGED *p, const TAGGED *box)
{
  if (box[0] != p[0])
    return false;
  for (unsigned i = BoxWords(p[0]) - 1; i > 0; i--)
    if (box[i] != p[i])
      return false;
  return true;
}

/* Unify the boxed number at p (in code) with t.  The heap top must be in
   global_top; a binding copies the number there first.  1 or 0. */
inline int unify_large(worker *w, const TAGGED *p, TAGGED t)
{
  t = deref(t);
  if (IsVar(t)) {
    const TAGGED box = make_large(w, p);
    wam_bind(w, TagToRef(t), box, w->global_top);
    return 1;
  }
  /* Canonical numbers: a box never equals a small integer or an atom. */
  if (!IsStructure(t))
    return 0;
  return large_equals(p, TagToSTR(t)) ? 1 : 0;
}

/* Terms made from foreign-function results, pushed at H (write mode). */
inline TAGGED wam_integer_result(TAGGED *&H, VR_INTEGER v)
{
  if (IntIsSmall(v))
    return MakeSmall_checked(v);
  TAGGED *box = H;
  box[0] = BOX_INT1;
  box[1] = static_cast<TAGGED>(v);
  box[2] = BOX_INT1;
  H = box + 3;
  return MakeSTR(box);
}

/* The value must be finite; the caller reports anything else. */
inline TAGGED wam_float_result(TAGGED *&H, double d)
{
  TAGGED words[2];
  std::memcpy(words, &d, sizeof d);
  TAGGED *box = H;
  box[0] = BOX_FLOAT;
  box[1] = words[0];
  box[2] = words[1];
  box[3] = BOX_FLOAT;
  H = box + 4;
  return MakeSTR(box);
}

#endif
