/* suspend.cpp: suspension and resumption, block declarations and the
 * resolution of meta-called goals (see suspend.h).
 *
 * Layout left by wam_suspend on the local stack, oldest first:
 *   [the environment under construction, linked now]  only for an odd R
 *   the suspension frame S: previous frame, continuation, X0..X(n-1)
 * S's continuation is contcode + 2n, whose preceding halfword gives the
 * collector S's size; nothing ever returns into it, $resume removes it.
 * An odd R records that the environment below S was linked here rather
 * than by the first call that follows R, so $resume must unlink it again
 * and put its words back at local_top, where that call expects them.
 */
#include "suspend.h"

#include <cstring>

#include "attributes.h"
#include "code_walkers.h"
#include "datadefs.h"
#include "initial_atoms.h"
#include "live_regs.h"
#include "meta_decls.h"
#include "modules.h"
#include "predicates.h"
#include "preds.h"
#include "stack_growth.h"
#include "stacks.h"
#include "terms.h"
#include "unify.h"
#include "wamsup.h"
#include "worker.h"

namespace {

/* A resumption at PROGRESS: the ..._PROGRESS instructions resume at a
   PROGRESS that lives in the emulator activation's own frame, but the
   resumption may happen in a later activation (a woken goal leaves a
   choicepoint, the query returns, and backtracking into it comes through
   a new do_wam), when that frame is gone.  PROGRESS reads nothing but E,
   so any PROGRESS will do: this one lives as long as the process. */
alignas(4) INSN progress_stub[2] = {OPCODE(PROGRESS), 0};

constexpr TAGGED small_zero = MakeSmall_checked(0);

/* A code address as two small integers: the address with its three low
   bits replaced by the small-integer tag, and those three bits. */
inline TAGGED address_high(const void *p) { return (PointerToTerm(p) & ~static_cast<TAGGED>(7)) | SMALL_TAG; }
inline TAGGED address_low(const void *p) { return MakeSmall_checked(static_cast<VR_INTEGER>(PointerToTerm(p) & 7)); }
inline INSN *address_of(TAGGED high, TAGGED low)
{
  return reinterpret_cast<INSN *>(static_cast<std::uintptr_t>((high - SMALL_TAG) + (low >> 3)));
}
inline bool is_odd(const INSN *p) { return (reinterpret_cast<std::uintptr_t>(p) & 1) != 0; }
inline INSN *byte_offset(INSN *p, int bytes) { return reinterpret_cast<INSN *>(reinterpret_cast<char *>(p) + bytes); }

/* Deallocating an environment: it stays when a choicepoint still needs
   it. */
void release_frame(worker *w, frame *f)
{
  if (reinterpret_cast<TAGGED *>(f) >= w->local_uncond)
    w->local_top = reinterpret_cast<TAGGED *>(f);
  w->next_insn = f->next_insn;
  w->frame_ = f->frame_;
}

inline bool heap_short(const worker *w, int words) { return w->heap_warn - w->global_top < words; }

/* Writes t into the new heap cell `cell` so that the heap never refers to
   the local stack: an unbound local variable is bound to the cell, which
   becomes a new variable.  Everything at or above `low` (the first new
   cell) counts as local. */
void put_heap_arg(worker *w, TAGGED *cell, TAGGED t, const TAGGED *low)
{
  t = deref(t);
  if (IsVar(t) && TagToRef(t) >= low) {
    TAGGED *old = TagToRef(t);
    *cell = PointerToTerm(cell);
    *old = *cell;
    if (old < w->local_uncond)
      trail_push_checked(w, PointerToTerm(old));
    return;
  }
  *cell = t;
}

/* name(X0, ..., X(arity-1)) at the heap top: the atom for arity 0, a list
   cell for '.'/2. */
TAGGED build_register_goal(worker *w, TAGGED name, int arity)
{
  if (arity == 0)
    return name;
  TAGGED *h = w->global_top;
  if (name == atom_dot && arity == 2) {
    w->global_top = h + 2;
    put_heap_arg(w, h, w->term[0], h);
    put_heap_arg(w, h + 1, w->term[1], h);
    return MakeLST(h);
  }
  w->global_top = h + 1 + arity;
  h[0] = MakeFunctor(name, static_cast<unsigned>(arity));
  for (int i = 0; i < arity; i++)
    put_heap_arg(w, h + 1 + i, w->term[i], h);
  return MakeSTR(h);
}

/* The argument cells of a goal term (null for an atom). */
TAGGED *goal_args(TAGGED goal)
{
  if (IsStructure(goal))
    return TagToSTR(goal) + 1;
  if (IsList(goal))
    return TagToLST(goal);
  return nullptr;
}

/* What a meta-called goal stands for. */
struct goal_view {
  mod_def *module = nullptr;  /* null: a qualification by a non-atom */
  TAGGED qualified = 0;       /* the innermost M:G met, 0 when none */
  TAGGED name = 0;            /* 0: not callable */
  int arity = 0;
  TAGGED *args = nullptr;
};

goal_view resolve_goal(TAGGED goal)
{
  goal_view g;
  g.module = eglobal->typein_mod;
  goal = deref(goal);
  for (;;) {
    if (IsStructure(goal)) {
      TAGGED *s = TagToSTR(goal);
      if (s[0] == functor_colon) {
        TAGGED m = deref(s[1]);
        g.module = IsAtom(m) ? find_module(m, 1) : nullptr;
        g.qualified = goal;
        goal = deref(s[2]);
        continue;
      }
      if (!IsFunctor(s[0]))
        return g; /* a boxed number */
      g.name = FunctorName(s[0]);
      g.arity = static_cast<int>(Arity(s[0]));
      g.args = s + 1;
    } else if (IsList(goal)) {
      g.name = atom_dot;
      g.arity = 2;
      g.args = TagToLST(goal);
    } else if (IsAtom(goal)) {
      g.name = goal;
    }
    return g;
  }
}

} // namespace

/* ---- Suspension ---- */

definition *wam_suspend(worker *w, int pad, INSN *resume, INSN *culprit, frame *fr)
{
  const bool again = resume == culprit;
  if (*resume == OPCODE(PROGRESS))
    resume = progress_stub;
  const int n = live_x_regs(w, culprit, 0);
  TAGGED *t = w->local_top;
  INSN *ret = nullptr;
  if (reinterpret_cast<TAGGED *>(fr) == t && continuation_type(resume, &ret) == 1) {
    /* Link the environment under construction as its first call would, so
       that the suspension frame goes above the Y variables already
       written into it. */
    fr->next_insn = w->next_insn;
    fr->frame_ = w->frame_;
    w->frame_ = fr;
    w->next_insn = ret;
    t = reinterpret_cast<TAGGED *>(reinterpret_cast<char *>(fr) + ret[-1]);
    resume = byte_offset(resume, 1);
  }
  frame *s = reinterpret_cast<frame *>(t);
  for (int i = n - 1; i >= 0; i--)
    s->term[i] = w->term[i];
  s->next_insn = w->next_insn;
  s->frame_ = w->frame_;
  w->frame_ = s;
  w->next_insn = contcode + 2 * n;
  w->local_top = &s->term[n];

  w->term[0] = MakeSmall_checked(pad);
  w->term[1] = MakeSmall_checked(n);
  w->term[2] = address_high(resume);
  w->term[3] = address_low(resume);
  w->term[4] = MakeSmall_checked(static_cast<VR_INTEGER>(reinterpret_cast<TAGGED *>(w->next_node) - w->choice_start));
  w->term[5] = again ? small_zero : address_high(culprit);
  w->term[6] = again ? small_zero : address_low(culprit);
  return preds.resume;
}

INSN *wam_resume(worker *w, frame **env, INSN **culprit)
{
  const int pad = GetSmall(w->term[0]);
  const int n = GetSmall(w->term[1]);
  INSN *resume = address_of(w->term[2], w->term[3]);
  INSN *u = w->term[5] == small_zero && w->term[6] == small_zero ? nullptr : address_of(w->term[5], w->term[6]);
  const VR_INTEGER barrier = GetSmall(w->term[4]);

  if (pad > w->stack_start - w->global_top) {
    /* The arguments ride out the expansion in an environment of $resume's
       own, which a stack shift relocates with the rest. */
    frame *f = reinterpret_cast<frame *>(w->local_top);
    f->frame_ = w->frame_;
    f->next_insn = w->next_insn;
    for (int i = 0; i < 7; i++)
      f->term[i] = w->term[i];
    w->frame_ = f;
    w->next_insn = &preds.resume->proc.continuation;
    w->local_top = &f->term[7];
    heap_overflow(w, pad, 528);
    release_frame(w, w->frame_);
  }
  w->next_node = reinterpret_cast<node *>(w->choice_start + barrier);

  frame *s = w->frame_;
  for (int i = n - 1; i >= 0; i--)
    w->term[i] = s->term[i];
  INSN *after = s->next_insn;
  release_frame(w, s);

  if (is_odd(resume)) {
    frame *f = w->frame_;
    const int size = after[-1];
    release_frame(w, f);
    if (w->local_top != reinterpret_cast<TAGGED *>(f)) {
      /* A choicepoint made by a woken goal keeps f where it is; the code
         that follows builds its environment at local_top. */
      frame *e = reinterpret_cast<frame *>(w->local_top);
      for (int i = 0; i < (size - 8) / 4; i++)
        e->term[i] = f->term[i];
    }
    resume = byte_offset(resume, -1);
    *env = reinterpret_cast<frame *>(w->local_top);
  } else {
    *env = w->frame_;
  }
  *culprit = u;
  return resume;
}

/* ---- Block declarations ---- */

int wam_blocked_goal(worker *w, TAGGED *argp, definition *def)
{
  const unsigned char *mask = nullptr;
  for (block_info *b = def->blockinfo; b != nullptr && mask == nullptr; b = b->next) {
    const unsigned char *m = b->masks;
    while (*m != 0 && IsVar(deref(argp[*m - 1])))
      m++;
    if (*m == 0)
      mask = b->masks;
  }
  if (mask == nullptr)
    return 0;
  if (argp == w->term)
    w->term[0] = build_register_goal(w, def->proc.printname, def->proc.arity);
  w->term[0] = deref(w->term[0]);
  const int k = static_cast<int>(std::strlen(reinterpret_cast<const char *>(mask)));
  if (k == 0) {
    TAGGED *v = w->global_top++;
    *v = PointerToTerm(v);
    suspend_goal(w, wrap_goal(w, w->term[0], def), *v);
  } else if (k == 1) {
    suspend_goal(w, wrap_goal(w, w->term[0], def), deref(goal_args(w->term[0])[mask[0] - 1]));
  } else {
    if (heap_short(w, 5 * k + 132))
      call_overflow(w, 5 * k + 132, 1);
    TAGGED wrapped = wrap_goal(w, w->term[0], def);
    for (const unsigned char *m = mask; *m != 0; m++)
      suspend_goal(w, wrapped, deref(goal_args(w->term[0])[*m - 1]));
  }
  return 1;
}

/* ---- Meta-calls ---- */

definition *wam_predicate_call(worker *w, int n, INSN *p)
{
  goal_view g = resolve_goal(w->term[0]);
  const int total = g.arity + n - 1;
  if (g.name != 0 && g.module != nullptr && total <= 255) {
    const int k = g.arity;
    if (k == 0) {
      for (int i = 1; i < n; i++)
        w->term[i - 1] = w->term[i];
    } else if (k == 1) {
      w->term[0] = g.args[0];
    } else {
      for (int j = n - 2; j >= 0; j--)
        w->term[k + j] = w->term[1 + j];
      for (int i = k - 1; i >= 0; i--)
        w->term[i] = g.args[i];
    }
    definition *def = insert_definition(g.module, g.name, total, 0);
    if (def != nullptr && fast_callable(def))
      return def;
    if (heap_short(w, total + 129))
      call_overflow(w, total + 129, total);
    w->term[0] = build_register_goal(w, g.name, total);
    w->term[1] = g.module->name;
    w->term[2] = address_high(p);
    return preds.meta_colon_pc;
  }
  /* Unbound, a number, qualified by a non-atom, or too many arguments:
     the Prolog side raises the error or reports the undefined goal. */
  if (heap_short(w, n + 129)) {
    call_overflow(w, n + 129, n);
    g = resolve_goal(w->term[0]);
  }
  if (g.qualified != 0)
    w->term[0] = g.qualified;
  w->term[0] = build_register_goal(w, MakeAtom(atom_call_enum), n);
  w->term[1] = address_high(p);
  return preds.call_illarg_pc;
}
