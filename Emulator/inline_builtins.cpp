/* inline_builtins.cpp: the native bodies of the inline built-ins and the
 * ground test (see inline_builtins.h for the contract with the emulator).
 *
 * Every body finishes the common case itself and leaves everything else to
 * the built-in's slow_ predicate through escape(), which stacks two
 * environments: the suspension frame of wam_suspend (the registers live at
 * `next`) and one holding $resume/7's seven arguments, continued by
 * $resume's own KONTINUE.  The slow predicate then runs as an ordinary
 * call; when it succeeds $resume puts the registers back and execution
 * goes on at `next`, when it fails or raises both frames go with it.
 *
 * Terms are built at global_top without limit checks: the emulator enters
 * these bodies only while the soft heap limit is above the heap top, and
 * the heap keeps HEAP_WARN_MARGIN words beyond it.  The only bodies that
 * can build more than that (length/2 and append/3 making list pairs) test
 * the soft limit per pair and hand the rest to their slow predicate.
 */
#include "inline_builtins.h"

#include "eval_functions.h"
#include "initial_atoms.h"
#include "predicates.h"
#include "preds.h"
#include "stacks.h"
#include "suspend.h"
#include "term_walkers.h"
#include "terms.h"
#include "unify.h"
#include "wamsup.h"
#include "worker.h"

namespace {

/* ---- Leaving native code ---- */

INSN *escape(worker *w, definition *slow, TAGGED a, TAGGED b, TAGGED c, INSN *next, frame *env)
{
  definition *resume = wam_suspend(w, HEAP_WARN_MARGIN, next, next, env);
  const int n = resume->proc.arity;
  frame *f = reinterpret_cast<frame *>(w->local_top);
  f->frame_ = w->frame_;
  f->next_insn = w->next_insn;
  for (int i = 0; i < n; i++)
    f->term[i] = w->term[i];
  w->frame_ = f;
  w->next_insn = &resume->proc.continuation;
  w->local_top = &f->term[n];
  w->term[0] = a;
  w->term[1] = b;
  w->term[2] = c;
  w->predicate = slow;
  return dispatchcode;
}

INSN *escape2(worker *w, definition *slow, TAGGED a, TAGGED b, INSN *next, frame *env)
{
  return escape(w, slow, a, b, atom_nil, next, env);
}

/* After building on the heap or binding a constrained variable: pending
   work (heap growth, wake-ups) runs before `next`, by way of $resume. */
INSN *settle(worker *w, INSN *next, frame *env)
{
  if (!heap_soft_limit_reached(w, w->global_top))
    return next;
  w->predicate = wam_suspend(w, HEAP_WARN_MARGIN, next, next, env);
  return dispatchcode;
}

inline INSN *outcome(int ok, INSN *next) { return ok ? next : failcode; }

/* Unbound: bind it; bound: it must be exactly `word`. */
inline bool bind_or_match(worker *w, TAGGED t, TAGGED word)
{
  t = deref(t);
  if (IsVar(t)) {
    bind(w, t, word);
    return true;
  }
  return t == word;
}

} // namespace

int bu1_ground(worker *w, TAGGED term)
{
  term = deref(term);
  if (IsVar(term))
    return 0;
  if (!is_compound_term(term))
    return 1;
  const int result = dfs_ground(w, term);
  dfs_undo(w, term);
  return result;
}

/* ---- arg/3 ---- */

INSN *bu3_arg(worker *w, TAGGED n, TAGGED term, TAGGED arg, INSN *next, frame *env)
{
  n = deref(n);
  if (!IsSmall(n))
    return escape(w, preds.slow_arg, n, term, arg, next, env);
  term = deref(term);
  const VR_INTEGER i = GetSmall(n);
  TAGGED *cell;
  if (IsList(term)) {
    if (i < 0)
      return escape(w, preds.slow_arg, n, term, arg, next, env);
    if (i != 1 && i != 2)
      return failcode;
    cell = TagToLST(term) + (i - 1);
  } else if (is_compound_term(term)) {
    if (i < 0)
      return escape(w, preds.slow_arg, n, term, arg, next, env);
    const TAGGED *s = TagToSTR(term);
    if (i == 0 || static_cast<unsigned>(i) > Arity(s[0]))
      return failcode;
    cell = TagToSTR(term) + i;
  } else {
    return escape(w, preds.slow_arg, n, term, arg, next, env);
  }
  return outcome(cunify(w, arg, *cell), next);
}

/* ---- functor/3 ---- */

INSN *bu3_functor(worker *w, TAGGED term, TAGGED name, TAGGED arity, INSN *next, frame *env)
{
  term = deref(term);
  if (!IsVar(term)) {
    if (is_number_box(term))
      return outcome(bind_or_match(w, arity, MakeSmall_checked(0)) && cunify(w, name, term), next);
    TAGGED fname;
    unsigned farity;
    if (IsAtomic(term)) {
      fname = term;
      farity = 0;
    } else if (IsList(term)) {
      fname = atom_dot;
      farity = 2;
    } else {
      const TAGGED f = *TagToSTR(term);
      fname = FunctorName(f);
      farity = Arity(f);
    }
    return outcome(bind_or_match(w, arity, MakeSmall_checked(static_cast<VR_INTEGER>(farity))) &&
                       bind_or_match(w, name, fname),
                   next);
  }
  arity = deref(arity);
  name = deref(name);
  if (!IsSmall(arity) || GetSmall(arity) < 0 || GetSmall(arity) > 255 || !is_atomic_term(name))
    return escape(w, preds.slow_functor, term, name, arity, next, env);
  const unsigned a = static_cast<unsigned>(GetSmall(arity));
  if (a == 0) {
    bind(w, term, name);
  } else {
    if (!IsAtom(name))
      return escape(w, preds.slow_functor, term, name, arity, next, env);
    bind(w, term, make_structure(w, MakeFunctor(name, a)));
  }
  return settle(w, next, env);
}

/* ---- =../2 ---- */

INSN *bu2_univ(worker *w, TAGGED term, TAGGED list, INSN *next, frame *env)
{
  TAGGED *const h = w->global_top;
  term = deref(term);
  if (!IsVar(term)) {
    if (is_atomic_term(term)) {
      h[0] = term;
      h[1] = atom_nil;
      w->global_top = h + 2;
    } else if (IsList(term)) {
      const TAGGED *p = TagToLST(term);
      h[0] = atom_dot;
      h[1] = MakeLST(h + 2);
      h[2] = p[0];
      h[3] = MakeLST(h + 4);
      h[4] = p[1];
      h[5] = atom_nil;
      w->global_top = h + 6;
    } else {
      const TAGGED *s = TagToSTR(term);
      const unsigned n = Arity(s[0]);
      h[0] = FunctorName(s[0]);
      for (unsigned i = 1; i <= n; i++) {
        h[2 * i - 1] = MakeLST(h + 2 * i);
        h[2 * i] = s[i];
      }
      h[2 * n + 1] = atom_nil;
      w->global_top = h + 2 * n + 2;
    }
    if (cunify(w, MakeLST(h), list))
      return settle(w, next, env);
    /* The failed unification may have bound variables of List to pairs of
       the new list, so the list stays on the heap: giving its words back
       would leave those bindings pointing above the heap top. */
    return escape2(w, preds.slow_univ, term, list, next, env);
  }
  list = deref(list);
  if (!IsList(list))
    return escape2(w, preds.slow_univ, term, list, next, env);
  const TAGGED head = deref(TagToLST(list)[0]);
  TAGGED tail = deref(TagToLST(list)[1]);
  if (is_atomic_term(head) && tail == atom_nil) {
    bind(w, term, head);
    return settle(w, next, env);
  }
  if (!IsAtom(head))
    return escape2(w, preds.slow_univ, term, list, next, env);
  /* The arguments go after a word left for the functor; nothing is
     allocated until the list has proved proper and short enough. */
  unsigned count = 0;
  while (IsList(tail)) {
    if (count == 255)
      return escape2(w, preds.slow_univ, term, list, next, env);
    const TAGGED *p = TagToLST(tail);
    h[1 + count++] = deref(p[0]);
    tail = deref(p[1]);
  }
  if (tail != atom_nil)
    return escape2(w, preds.slow_univ, term, list, next, env);
  const TAGGED f = MakeFunctor(head, count);
  TAGGED built;
  if (f == functor_list) {
    h[0] = h[1];
    h[1] = h[2];
    w->global_top = h + 2;
    built = MakeLST(h);
  } else {
    h[0] = f;
    w->global_top = h + count + 1;
    built = MakeSTR(h);
  }
  bind(w, term, built);
  return settle(w, next, env);
}

/* ---- length/2 ---- */

namespace {

/* Binds the unbound v to a list of m fresh variables, pair by pair; when
   the soft limit stops it, length/2's slow predicate builds the rest. */
INSN *length_build(worker *w, TAGGED v, VR_INTEGER m, INSN *next, frame *env)
{
  while (m > 0) {
    TAGGED *r = w->global_top;
    if (heap_soft_limit_reached(w, r))
      return escape2(w, preds.slow_length, v, MakeSmall_checked(m), next, env);
    r[0] = PointerToTerm(r);
    r[1] = PointerToTerm(r + 1);
    w->global_top = r + 2;
    bind(w, v, MakeLST(r));
    v = r[1];
    m--;
  }
  bind(w, v, atom_nil);
  return next;
}

} // namespace

INSN *bu2_length(worker *w, TAGGED list, TAGGED length, INSN *next, frame *env)
{
  list = deref(list);
  length = deref(length);
  TAGGED t = list;
  VR_INTEGER n = 0;
  if (IsVar(length)) {
    /* Counting: a cyclic list would never end, so the walk carries Brent's
       cycle test (a saved pair moved to the front at every power of two);
       a cyclic list is no list, and the slow predicate raises the type
       error. */
    TAGGED saved = t;
    VR_INTEGER power = 1, steps = 0;
    while (IsList(t)) {
      t = deref(TagToLST(t)[1]);
      n++;
      if (t == saved)
        return escape2(w, preds.slow_length, list, length, next, env);
      if (++steps == power) {
        saved = t;
        power *= 2;
        steps = 0;
      }
    }
    if (t != atom_nil)
      return escape2(w, preds.slow_length, list, length, next, env);
    bind(w, length, MakeSmall_checked(n));
    return next;
  }
  if (!IsSmall(length) || GetSmall(length) < 0)
    return escape2(w, preds.slow_length, list, length, next, env);
  const VR_INTEGER want = GetSmall(length);
  /* More pairs than wanted fails whatever follows them, which also ends
     the walk over a cyclic list. */
  while (IsList(t)) {
    if (n == want)
      return failcode;
    t = deref(TagToLST(t)[1]);
    n++;
  }
  if (t == atom_nil)
    return outcome(n == want, next);
  if (IsVar(t))
    return length_build(w, t, want - n, next, env);
  return failcode;
}

/* ---- append/3 ---- */

INSN *bu3_append(worker *w, TAGGED prefix, TAGGED suffix, TAGGED whole, INSN *next, frame *env)
{
  whole = deref(whole);
  while (!IsVar(whole)) {
    const TAGGED p = deref(prefix);
    if (IsVar(p))
      return escape(w, preds.slow_append, p, suffix, whole, next, env);
    if (p == atom_nil)
      return outcome(cunify(w, suffix, whole), next);
    if (!IsList(p) || !IsList(whole))
      return failcode;
    if (!cunify(w, TagToLST(p)[0], TagToLST(whole)[0]))
      return failcode;
    prefix = TagToLST(p)[1];
    whole = deref(TagToLST(whole)[1]);
    /* A unification that woke a goal, or an event, cleared the limit. */
    if (heap_soft_limit_reached(w, w->global_top))
      return escape(w, preds.slow_append, prefix, suffix, whole, next, env);
  }
  for (;;) {
    const TAGGED p = deref(prefix);
    if (IsVar(p))
      return escape(w, preds.slow_append, p, suffix, whole, next, env);
    if (p == atom_nil)
      return outcome(cunify(w, suffix, whole), next);
    if (!IsList(p))
      return failcode;
    TAGGED *r = w->global_top;
    r[0] = TagToLST(p)[0];
    r[1] = PointerToTerm(r + 1);
    w->global_top = r + 2;
    bind(w, whole, MakeLST(r));
    whole = r[1];
    prefix = TagToLST(p)[1];
    if (heap_soft_limit_reached(w, w->global_top))
      return escape(w, preds.slow_append, prefix, suffix, whole, next, env);
  }
}

/* ---- compare/3 ---- */

INSN *bu3_compare(worker *w, TAGGED order, TAGGED t1, TAGGED t2, INSN *next, frame *env)
{
  const int c = fu2_compare(w, t1, t2);
  const TAGGED key = MakeAtom(c < 0 ? atom_lt_enum : c == 0 ? atom_equal_enum : atom_gt_enum);
  return outcome(bind_or_match(w, order, key), next);
}

/* ---- Mutable terms ---- */

INSN *bu2_create_mutable(worker *w, TAGGED value, TAGGED mutable_, INSN *next, frame *env)
{
  value = deref(value);
  if (IsVar(value))
    return escape2(w, preds.slow_create_mutable, value, mutable_, next, env);
  TAGGED *h = w->global_top;
  h[0] = functor_Dmutable;
  h[1] = value;
  h[2] = MakeSmall_checked(0);
  w->global_top = h + 3;
  if (!cunify(w, MakeSTR(h), mutable_))
    return failcode;
  return settle(w, next, env);
}

INSN *bu2_get_mutable(worker *w, TAGGED value, TAGGED mutable_, INSN *next, frame *env)
{
  mutable_ = deref(mutable_);
  if (!is_structure_of(mutable_, functor_Dmutable))
    return escape2(w, preds.slow_get_mutable, value, mutable_, next, env);
  return outcome(cunify(w, value, TagToSTR(mutable_)[1]), next);
}

INSN *bu2_update_mutable(worker *w, TAGGED value, TAGGED mutable_, INSN *next, frame *env)
{
  value = deref(value);
  mutable_ = deref(mutable_);
  if (IsVar(value) || !is_structure_of(mutable_, functor_Dmutable))
    return escape2(w, preds.slow_update_mutable, value, mutable_, next, env);
  do_update_mutable(w, value, mutable_);
  return next;
}
