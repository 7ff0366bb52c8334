/* unify.cpp: binding, general unification and the mutable update for native
 * code.  The binding rules are stated in unify.h.
 *
 * cunify_args keeps no native stack: when two different compound terms of
 * the same kind meet, the argument slot that points at the one with the
 * higher address is overwritten with a pointer to the lower one and the
 * (slot, old word) pair is pushed on the value trail.  The pending pairs are
 * then taken oldest first.  Because the slot now compares equal to its
 * partner, meeting the same pair again (a cycle) is skipped, and every slot
 * can only move to lower addresses, so unification of cyclic terms ends.
 * Every overwritten slot gets its old word back before cunify_args returns,
 * newest first, so a slot overwritten twice ends with its original word.
 *
 * Callers: every native built-in that unifies an output, the foreign
 * interface, the database; the emulator has its own inline copy of the
 * rules for compiled code.
 */
#include "unify.h"

#include <cassert>
#include <cstring>

#include "memman.h"
#include "stack_growth.h"
#include "terms.h"
#include "worker.h"

namespace {

inline TAGGED *node_words(const worker *w) { return reinterpret_cast<TAGGED *>(w->node_); }

/* Free words between the trail top and the lowest word of the value trail,
   which lies below the newest choicepoint: defined only while one exists. */
inline long trail_room(const worker *w)
{
  assert(w->node_ != nullptr);
  return static_cast<long>(node_words(w) + w->value_trail - w->trail_top);
}

/* Grows the trail-and-choice area.  While the value trail holds temporary
   overwrites the heap does not hold the real terms, so the trail collector
   (which inspects bindings) must not run: grow without collecting. */
inline void keep_trail_margin(worker *w, int pad)
{
  choice_overflow(w, w->value_trail == VALUE_TRAIL_EMPTY ? pad : -pad);
}

} // namespace

bool is_constrained_cell(const worker *w, const TAGGED *cell)
{
  return cell >= w->heap_start && cell < w->global_top && cell[-1] == CVA_MARKER;
}

void trail_push_checked(worker *w, TAGGED entry)
{
  *w->trail_top++ = entry;
  /* A worker still being set up has no choicepoint, hence no laid-out
     trail-and-choice block to measure or grow: its bindings only push. */
  if (w->node_ != nullptr && trail_room(w) < TRAIL_MARGIN)
    keep_trail_margin(w, TRAIL_MARGIN);
}

void bind(worker *w, TAGGED var, TAGGED value)
{
  TAGGED *cell = TagToRef(var);
  if (is_constrained_cell(w, cell)) {
    *cell = value;
    w->wake_count++;
    w->heap_warn_soft = nullptr;
    trail_push_checked(w, var);
    return;
  }
  *cell = value;
  const bool older = cell >= w->global_top ? cell < w->local_uncond : cell < w->global_uncond;
  if (older)
    trail_push_checked(w, var);
}

void bind_vars(worker *w, TAGGED u, TAGGED v)
{
  TAGGED older = u < v ? u : v;
  TAGGED younger = u < v ? v : u;
  /* A plain variable never holds the constraints of a constrained one, so
     it is the plain one that is bound even when it is the older. */
  if (is_constrained_cell(w, TagToRef(younger)) && !is_constrained_cell(w, TagToRef(older)))
    bind(w, older, younger);
  else
    bind(w, younger, older);
}

namespace {

/* Same-kind boxes: canonical encoding makes equal numbers equal words. */
inline bool box_payload_equal(const TAGGED *x, const TAGGED *y)
{
  const unsigned n = BoxWords(x[0]);
  for (unsigned i = 1; i < n; i++)
    if (x[i] != y[i])
      return false;
  return true;
}

} // namespace

int cunify_args(worker *w, int n, TAGGED *u, TAGGED *v)
{
  const std::int32_t base = w->value_trail;
  if (trail_room(w) < 1024)
    keep_trail_margin(w, 1024);
  /* The oldest pending pair lies just below `pending` (word offsets from
     node, so that a moving trail-and-choice block does not matter). */
  std::int32_t pending = base;
  int result = 1;
  for (;;) {
    for (; n > 0; --n, ++u, ++v) {
      TAGGED a = *u, b = *v;
      if (a == b)
        continue;
      a = deref(a);
      b = deref(b);
      if (a == b)
        continue;
      if (IsVar(a)) {
        if (IsVar(b))
          bind_vars(w, a, b);
        else
          bind(w, a, b);
        continue;
      }
      if (IsVar(b)) {
        bind(w, b, a);
        continue;
      }
      if (tag_of(a) != tag_of(b) || IsAtomic(a)) {
        result = 0;
        goto done;
      }
      TAGGED *slot = a > b ? u : v;
      /* Two value-trail words plus the bindings that follow them must fit
         below the value trail. */
      if (trail_room(w) < TRAIL_MARGIN + 2)
        choice_overflow(w, -1024);
      w->value_trail -= 2;
      TAGGED *pair = node_words(w) + w->value_trail;
      pair[0] = PointerToTerm(slot);
      pair[1] = *slot;
      *slot = a > b ? b : a;
    }
    if (pending == w->value_trail)
      break;
    pending -= 2;
    {
      const TAGGED *pair = node_words(w) + pending;
      TAGGED x = *TagToRef(pair[0]);
      TAGGED y = deref(pair[1]);
      if (x == y)
        continue;
      if (IsList(x)) {
        u = TagToLST(x);
        v = TagToLST(y);
        n = 2;
        continue;
      }
      TAGGED *xs = TagToSTR(x), *ys = TagToSTR(y);
      if (xs[0] != ys[0]) {
        result = 0;
        goto done;
      }
      if (IsBoxHeader(xs[0])) {
        if (!box_payload_equal(xs, ys)) {
          result = 0;
          goto done;
        }
        continue;
      }
      u = xs + 1;
      v = ys + 1;
      n = static_cast<int>(Arity(xs[0]));
    }
  }
done:
  for (std::int32_t i = w->value_trail; i < base; i += 2) {
    const TAGGED *pair = node_words(w) + i;
    *TagToRef(pair[0]) = pair[1];
  }
  w->value_trail = base;
  return result;
}

int cunify(worker *w, TAGGED u, TAGGED v)
{
  u = deref(u);
  v = deref(v);
  if (u == v)
    return 1;
  if (IsVar(u)) {
    if (IsVar(v))
      bind_vars(w, u, v);
    else
      bind(w, u, v);
    return 1;
  }
  if (IsVar(v)) {
    bind(w, v, u);
    return 1;
  }
  switch (tag_of(u)) {
  case LST_TAG:
    if (!IsList(v))
      return 0;
    return cunify_args(w, 2, TagToLST(u), TagToLST(v));
  case STR_TAG: {
    if (!IsStructure(v))
      return 0;
    TAGGED *x = TagToSTR(u), *y = TagToSTR(v);
    if (x[0] != y[0])
      return 0;
    if (IsBoxHeader(x[0]))
      return box_payload_equal(x, y) ? 1 : 0;
    return cunify_args(w, static_cast<int>(Arity(x[0])), x + 1, y + 1);
  }
  default:
    return 0; /* two different constants */
  }
}

void do_update_mutable(worker *w, TAGGED value, TAGGED mutable_)
{
  TAGGED *m = TagToSTR(mutable_);
  node *b = w->node_;
  const VR_INTEGER chpt_stamp = static_cast<VR_INTEGER>(node_trail_top(b) - w->trail_start);
  /* A mutable created after the choicepoint needs no undoing; one already
     trailed since the choicepoint carries a stamp at or above its mark. */
  if (GetSmall(m[2]) < chpt_stamp && m < b->global_top) {
    TAGGED *t = w->trail_top;
    t[0] = mutable_;
    t[1] = m[1];
    t[2] = m[2];
    w->trail_top = t + TRAIL_MUTABLE_WORDS;
    m[1] = value;
    m[2] = MakeSmall_checked(static_cast<VR_INTEGER>(t - w->trail_start));
    if (trail_room(w) < TRAIL_MARGIN)
      keep_trail_margin(w, TRAIL_MARGIN);
  } else {
    m[1] = value;
  }
}

char *vr_stralloc(const char *first, ...)
{
  std::size_t len = 0;
  va_list ap;
  va_start(ap, first);
  for (const char *s = first; s != nullptr; s = va_arg(ap, const char *))
    len += std::strlen(s);
  va_end(ap);
  char *out = static_cast<char *>(VR_malloc(len + 1));
  if (out == nullptr)
    return nullptr;
  char *p = out;
  va_start(ap, first);
  for (const char *s = first; s != nullptr; s = va_arg(ap, const char *)) {
    const std::size_t k = std::strlen(s);
    std::memcpy(p, s, k);
    p += k;
  }
  va_end(ap);
  *p = '\0';
  return out;
}
