/* choice_control.cpp: choicepoint handles, cutting and marking, trail
 * actions and released blocks (see choice_control.h).
 *
 * The choicepoint stack grows down from choice_start; the next older
 * choicepoint lies node_offset bytes above one (node_offset from the try
 * node of its alternative), and the bottom choicepoint, laid down at
 * start-up, has none below it.  A temporary choicepoint whose alternative
 * is fail_alt sits above a real one; stepping down treats the pair as one
 * step.  A handle is validated by walking from the current choicepoint
 * towards it, which costs one step per choicepoint newer than it: handles
 * name recent choicepoints, so the walk is short where it matters.
 *
 * A mark (bit 0 of next_alt) says that clean-up work is pending for the
 * choicepoint; marking one, or making a marked one current, clears the
 * soft heap limit so that the emulator looks at the work at its next
 * predicate call.
 */
#include "choice_control.h"

#include <cstdint>
#include <unordered_set>

#include "errors.h"
#include "stack_walk.h"
#include "terms.h"
#include "unify.h"
#include "wamsup.h"
#include "worker.h"

namespace {

inline bool is_marked(const node *b)
{
  return (reinterpret_cast<std::uintptr_t>(b->next_alt) & NODE_CLEANUP_PENDING) != 0;
}
inline void set_marked(node *b)
{
  b->next_alt = reinterpret_cast<try_node *>(reinterpret_cast<std::uintptr_t>(b->next_alt) | NODE_CLEANUP_PENDING);
}

/* The next older live choicepoint, or null below the bottom one. */
node *older(worker *w, node *b)
{
  node *bottom = bottom_choicepoint(w);
  if (b == nullptr || b >= bottom || node_alt(b) == nullptr)
    return nullptr;
  node *p = node_previous(b);
  return p > bottom ? nullptr : p;
}

/* One step down, a fail_alt choicepoint and the one beneath it counting
   as one. */
node *step_down(worker *w, node *b)
{
  if (b != nullptr && node_alt(b) == fail_alt)
    b = older(w, b);
  return older(w, b);
}

/* b itself, or the one beneath it when b is a fail_alt choicepoint. */
node *through_fail(worker *w, node *b)
{
  if (b != nullptr && node_alt(b) == fail_alt)
    return older(w, b);
  return b;
}

/* Makes b current, as a cut to it does. */
void cut_to(worker *w, node *b)
{
  w->node_ = b;
  w->global_uncond = b->global_top;
  w->local_uncond = b->local_top;
  if (is_marked(b))
    w->heap_warn_soft = nullptr;
}

/* Records a domain error on argument argno of a built-in of arity 1. */
int raise_bad_handle(const char *name, TAGGED culprit)
{
  save_error(DOMAIN_ERROR, "choicepoint", culprit);
  raise_error("prolog", name, 1, 1);
  return 0;
}

std::unordered_set<const void *> &free_handles()
{
  static std::unordered_set<const void *> handles;
  return handles;
}

} // namespace

TAGGED choicepoint_handle(const worker *w, const node *b)
{
  return MakeSmall_checked(static_cast<VR_INTEGER>(reinterpret_cast<const TAGGED *>(b) - w->choice_start));
}

node *choicepoint_from_handle(const worker *w, TAGGED h)
{
  h = deref(h);
  if (!IsSmall(h))
    return nullptr;
  const VR_INTEGER offset = GetSmall(h);
  worker *ww = const_cast<worker *>(w);
  const node *bottom = bottom_choicepoint(ww);
  /* Compare offsets, not pointers: a wild handle must not even form an
     address outside the stack. */
  const VR_INTEGER current = static_cast<VR_INTEGER>(reinterpret_cast<TAGGED *>(w->node_) - w->choice_start);
  const VR_INTEGER lowest = static_cast<VR_INTEGER>(reinterpret_cast<const TAGGED *>(bottom) - w->choice_start);
  if (offset < current || offset > lowest)
    return nullptr;
  const node *target = reinterpret_cast<const node *>(w->choice_start + offset);
  for (node *b = w->node_; b != nullptr; b = older(ww, b)) {
    if (b == target)
      return b;
    if (b > target)
      break;
  }
  return nullptr;
}

int prolog_nth_choicepoint(worker *w)
{
  const TAGGED n = deref(w->term[0]);
  if (!IsSmall(n) || GetSmall(n) < 0) {
    save_error(DOMAIN_ERROR, "not_less_than_zero", n);
    raise_error("prolog", "$nth_choicepoint", 2, 1);
    return 0;
  }
  node *b = w->node_;
  for (VR_INTEGER i = GetSmall(n); i > 0 && b != nullptr; --i)
    b = step_down(w, b);
  b = through_fail(w, b);
  if (b == nullptr)
    return 0;
  return cunify(w, w->term[1], choicepoint_handle(w, b));
}

int prolog_clean_up(worker *w)
{
  const TAGGED n = deref(w->term[1]);
  if (!IsSmall(n) || GetSmall(n) < 0)
    return 1;
  node *chpt = choicepoint_from_handle(w, w->term[0]);
  if (chpt == nullptr)
    return 1;
  node *b = w->node_;
  for (VR_INTEGER i = GetSmall(n); i > 0 && b != nullptr; --i)
    b = step_down(w, b);
  if (b != nullptr && (b == chpt || (node_alt(b) == fail_alt && older(w, b) == chpt)))
    cut_to(w, chpt);
  return 1;
}

int prolog_undo_cleanup(worker *w)
{
  node *chpt = choicepoint_from_handle(w, w->term[0]);
  if (chpt == nullptr)
    return raise_bad_handle("$undo_cleanup", deref(w->term[0]));
  node *top = through_fail(w, w->node_);
  node *below = through_fail(w, older(w, top));
  if (below != nullptr && chpt == below) {
    cut_to(w, chpt);
    return 1;
  }
  for (node *b = older(w, chpt); b != nullptr && !is_marked(b); b = older(w, b))
    set_marked(b);
  if (is_marked(w->node_))
    w->heap_warn_soft = nullptr;
  return 1;
}

/* $cleanup_done(Flag): the clean-up record's flag, bound to 0 for good at a
   deterministic exit.  The binding is not trailed: Flag is younger than
   every choicepoint that was there when the record was pushed, so only
   the garbage collector's temporary boundary choicepoints can lie between,
   and undoing the binding when backtracking through one of them would make
   the record look due and run the clean-up a second time.  A constant in
   an older cell is no root the collector needs. */
int prolog_cleanup_done(worker *w)
{
  const TAGGED f = deref(w->term[0]);
  if (!IsVar(f))
    return 0;
  *TagToRef(f) = MakeSmall_checked(0);
  return 1;
}

int prolog_zap_chpt(worker *w)
{
  node *chpt = choicepoint_from_handle(w, w->term[0]);
  if (chpt == nullptr)
    return raise_bad_handle("$zap_chpt", deref(w->term[0]));
  if (chpt == through_fail(w, w->node_)) {
    node *beneath = older(w, chpt);
    if (beneath == nullptr)
      return raise_bad_handle("$zap_chpt", deref(w->term[0])); /* the bottom one stays */
    cut_to(w, beneath);
    return 1;
  }
  try_node *next = node_alt(chpt)->next;
  if (next != nullptr)
    chpt->next_alt = reinterpret_cast<try_node *>(reinterpret_cast<std::uintptr_t>(next) |
                                                  (reinterpret_cast<std::uintptr_t>(chpt->next_alt) & NODE_CLEANUP_PENDING));
  return 1;
}

namespace {

/* Backtracking knows two kinds of one-word action entry: a binding and a
   list cell [Flag|Goal] (a clean-up).  Any other word would be read as the
   last word of a three-word mutable entry, so only list cells go on. */
int push_trail_action(worker *w, const char *name)
{
  const TAGGED t = deref(w->term[0]);
  if (IsVar(t))
    return 0;
  if (!IsList(t)) {
    save_error(TYPE_ERROR, "list", t);
    raise_error("prolog", name, 1, 1);
    return 0;
  }
  trail_push_checked(w, t);
  return 1;
}

} // namespace

int prolog_trail_undo(worker *w) { return push_trail_action(w, "$trail_undo"); }

int prolog_trail_cleanup(worker *w)
{
  if (!push_trail_action(w, "$trail_cleanup"))
    return 0;
  set_marked(w->node_);
  w->heap_warn_soft = nullptr;
  return 1;
}

TAGGED vr_issue_free_handle(void *block)
{
  const TAGGED handle = PointerToTerm(block) | SMALL_TAG;
  if (block == nullptr || !IsSmall(handle) || (PointerToTerm(block) & TAG_MASK) != 0)
    return 0;
  if (!free_handles().insert(block).second)
    return 0;
  return handle;
}

int vr_revoke_free_handle(void *block) { return free_handles().erase(block) != 0; }

int vr_free_handle_issued(const void *block) { return free_handles().count(block) != 0; }

int prolog_free(worker *w)
{
  const TAGGED h = deref(w->term[0]);
  if (!IsSmall(h))
    return 0;
  void *block = reinterpret_cast<void *>(static_cast<std::uintptr_t>(h & ~static_cast<TAGGED>(7)));
  /* Forget the handle before the call: the release function frees the
     block, and a second $free/1 of the same handle must not reach it. */
  if (free_handles().erase(block) == 0)
    return 0;
  vr_release_fn release = *static_cast<vr_release_fn *>(block);
  if (release != nullptr)
    release(block);
  return 1;
}
