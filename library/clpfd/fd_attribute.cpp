/* fd_attribute.cpp: the FD attribute, suspension lists and mutable terms
 * (see fd_attribute.h).
 *
 * "Older than the newest choicepoint" means below the heap top saved in
 * w->node_: such terms are never changed in place without a trail entry.
 * Copy-on-write keeps that rule: fd_link copies an old $fdlists term once
 * per choicepoint segment and then changes the copy in place.
 */
#include "fd_attribute.h"

#include "bounds.h"
#include "fdsets.h"
#include "initial_atoms.h"

namespace {

constexpr TAGGED functor_v4 = MakeFunctor(MakeAtom(atom_v_enum), 4);
constexpr TAGGED functor_minus2 = MakeFunctor(MakeAtom(atom_minus_enum), 2);
constexpr TAGGED S0 = MakeSmall_checked(0);
constexpr TAGGED S1 = MakeSmall_checked(1);

/* A template word that points at word k of the image (relocated on copy). */
constexpr TAGGED str_at(int k) { return static_cast<TAGGED>(4 * k) + STR_TAG; }
constexpr TAGGED lst_at(int k) { return static_cast<TAGGED>(4 * k) + LST_TAG; }

inline TAGGED ref_term(worker *w, VR_term_ref r) { return deref(w->fli_stack_start[r].term); }
inline void fail_call(VREnv *env) { env->dispatch_API_VOSTREL_H->pVR_fail(); }

inline bool on_heap(const worker *w, const TAGGED *p) { return p >= w->heap_start && p < w->global_top; }
inline bool older_than_choice(const worker *w, const TAGGED *p) { return p < w->node_->global_top; }

inline bool is_cva(const worker *w, TAGGED v)
{
  return IsVar(v) && on_heap(w, TagToRef(v)) && TagToRef(v)[-1] == CVA_MARKER && *TagToRef(v) == v;
}

inline bool is_mutable(TAGGED t) { return IsStructure(t) && *TagToSTR(t) == functor_Dmutable; }

/* The last mutable of a forwarding chain. */
TAGGED last_mutable(TAGGED m)
{
  m = deref(m);
  for (TAGGED v = deref(TagToSTR(m)[1]); is_mutable(v); v = deref(TagToSTR(v)[1]))
    m = v;
  return m;
}

/* The item an element of a suspension list stands for (val-list elements
   are pairs Vars-Item). */
inline TAGGED element_item(TAGGED e, bool val)
{
  e = deref(e);
  if (val && IsStructure(e) && *TagToSTR(e) == functor_minus2)
    return deref(TagToSTR(e)[2]);
  return e;
}

/* Ent, the fourth argument of every item kind, is bound once it is dead. */
inline bool item_dead(TAGGED item) { return IsStructure(item) && !IsVar(deref(TagToSTR(item)[4])); }

} // namespace

/* Words 11 and 16 get their functors at initialisation (fd_attribute.h). */
TAGGED fd_attribute[FD_ATTRIBUTE_WORDS] = {
    functor_v4, S1, S0, str_at(5), str_at(8),                  /* v(1, 0, Dom, Lists) */
    functor_Dmutable, str_at(11), S0,                          /* $mutable(dom(...), 0) */
    functor_Dmutable, str_at(16), S0,                          /* $mutable($fdlists(...), 0) */
    0, lst_at(24), atom_inf, atom_sup, atom_sup,               /* dom(Set, inf, sup, sup) */
    0, S0, S0, atom_nil, atom_nil, atom_nil, atom_nil, atom_nil, /* $fdlists(0, 0, [], ...) */
    lst_at(13), atom_nil                                       /* Set = [[Min|Max]] */
};
static_assert(sizeof fd_attribute == 26 * sizeof(TAGGED));

TAGGED fd_mutable_value(TAGGED m) { return deref(TagToSTR(last_mutable(m))[1]); }

TAGGED fd_last_attribute(TAGGED attr)
{
  attr = deref(attr);
  for (;;) {
    const TAGGED d = fd_mutable_value(TagToSTR(attr)[FD_ATTR_DOM]);
    if (!IsStructure(d) || *TagToSTR(d) != functor_v4)
      return attr;
    attr = d;
  }
}

TAGGED fd_attribute_dom(TAGGED attr) { return fd_mutable_value(TagToSTR(fd_last_attribute(attr))[FD_ATTR_DOM]); }

TAGGED fd_attribute_lists(TAGGED attr)
{
  return fd_mutable_value(TagToSTR(fd_last_attribute(attr))[FD_ATTR_LISTS]);
}

TAGGED fd_check_argument(VREnv *env, worker *w, TAGGED term, TAGGED min, TAGGED max, TAGGED size)
{
  fd_state *st = fd_state_of(env);
  term = deref(term);
  if (IsVar(term)) {
    if (is_cva(w, term)) {
      const TAGGED a = fd_get_attributes(env, term, st->fd_module);
      if (a != 0)
        return deref(a);
    }
    TAGGED *h = w->global_top;
    for (int i = 0; i < FD_ATTRIBUTE_WORDS; i++) {
      const TAGGED t = fd_attribute[i];
      h[i] = IsComplex(t) ? t + PointerToTerm(h) : t;
    }
    h[13] = min;
    h[14] = max;
    h[15] = size;
    w->global_top = h + FD_ATTRIBUTE_WORDS;
    fd_put_attributes(env, w, term, MakeSTR(h), st->fd_module);
    return MakeSTR(h);
  }
  if (IsSmall(term)) {
    /* v(1, 0, $mutable(dom([[V|V]], V, V, 1), 0), 0); the interval cell
       is dom's own Min and Max. */
    TAGGED *h = w->global_top;
    h[0] = functor_v4;
    h[1] = S1;
    h[2] = S0;
    h[3] = MakeSTR(h + 5);
    h[4] = S0;
    h[5] = functor_Dmutable;
    h[6] = MakeSTR(h + 8);
    h[7] = S0;
    h[8] = st->functor_dom4;
    h[9] = MakeLST(h + 13);
    h[10] = term;
    h[11] = term;
    h[12] = S1;
    h[13] = MakeLST(h + 10);
    h[14] = atom_nil;
    w->global_top = h + FD_PSEUDO_ATTRIBUTE_WORDS;
    return MakeSTR(h);
  }
  return 0;
}

void fd_update_mutable(VREnv *env, worker *w, TAGGED value, TAGGED mutable_)
{
  const TAGGED m = last_mutable(mutable_);
  TAGGED *p = TagToSTR(m);
  const node *b = w->node_;
  const VR_INTEGER segment = static_cast<VR_INTEGER>(node_trail_top(b) - w->trail_start);
  /* A stamp names the mutable's newest trail entry; one that names no
     entry of this mutable any more (the trail was given back past it)
     counts as never trailed, so that neither this test nor the chain of
     entries relies on it. */
  const VR_INTEGER stamp = GetSmall(p[2]);
  if (stamp > 0 && (w->trail_start + stamp + TRAIL_MUTABLE_WORDS > w->trail_top || w->trail_start[stamp] != m))
    p[2] = MakeSmall_checked(0);
  /* Trailed already in this segment, or made after its choicepoint: no
     backtracking can see the old value through this mutable. */
  if (GetSmall(p[2]) >= segment || !older_than_choice(w, p)) {
    p[1] = value;
    return;
  }
  TAGGED *t = w->trail_top;
  t[0] = m;
  t[1] = p[1];
  t[2] = p[2];
  w->trail_top = t + TRAIL_MUTABLE_WORDS;
  p[1] = value;
  p[2] = MakeSmall_checked(static_cast<VR_INTEGER>(t - w->trail_start));
  fd_trail_room(env, w);
}

void fd_link(VREnv *env, worker *w, TAGGED var, TAGGED key, TAGGED item)
{
  fd_state *st = fd_state_of(env);
  TAGGED attr = fd_check_argument(env, w, var, atom_inf, atom_sup, atom_sup);
  if (attr == 0)
    return;
  attr = fd_last_attribute(attr);
  const TAGGED lm = deref(TagToSTR(attr)[FD_ATTR_LISTS]);
  if (!is_mutable(lm))
    return; /* an integer's pseudo-attribute: nothing waits on a value */
  TAGGED lists = fd_mutable_value(lm);
  if (older_than_choice(w, TagToSTR(lists))) {
    TAGGED *h = w->global_top;
    const TAGGED *old = TagToSTR(lists);
    for (int i = 0; i < 8; i++)
      h[i] = old[i];
    w->global_top = h + 8;
    lists = MakeSTR(h);
    fd_update_mutable(env, w, lists, lm);
  }
  int idx, bit;
  if (key == st->functor_dom)
    idx = FD_LISTS_DOM, bit = FD_MASK_DOM;
  else if (key == st->functor_min)
    idx = FD_LISTS_MIN, bit = FD_MASK_MIN;
  else if (key == st->functor_max)
    idx = FD_LISTS_MAX, bit = FD_MASK_MAX;
  else if (key == st->functor_minmax)
    idx = FD_LISTS_MINMAX, bit = FD_MASK_MINMAX;
  else
    idx = FD_LISTS_VAL, bit = FD_MASK_VAL;
  const bool val = idx == FD_LISTS_VAL;
  item = deref(item);
  if (val && !(IsStructure(item) && *TagToSTR(item) == functor_minus2)) {
    TAGGED *h = w->global_top;
    h[0] = functor_minus2;
    h[1] = atom_nil;
    h[2] = item;
    w->global_top = h + 3;
    item = MakeSTR(h);
  }
  TAGGED *l = TagToSTR(lists);
  TAGGED rest = deref(l[idx]);
  long dropped = 0;
  while (IsList(rest) && item_dead(element_item(TagToLST(rest)[0], val))) {
    rest = deref(TagToLST(rest)[1]);
    dropped++;
  }
  TAGGED *h = w->global_top;
  h[0] = item;
  h[1] = rest;
  w->global_top = h + 2;
  l[idx] = MakeLST(h);
  l[FD_LISTS_COUNT] = MakeSmall_checked(GetSmall(deref(l[FD_LISTS_COUNT])) + 1 - static_cast<VR_INTEGER>(dropped));
  l[FD_LISTS_MASK] = MakeSmall_checked(GetSmall(deref(l[FD_LISTS_MASK])) | bit);
}

TAGGED fd_globalize_unsafe(VREnv *env, worker *w, TAGGED d, long pad, int live)
{
  /* The cells to copy: spine cells up to the last one that is off the
     heap or holds an interval cell off the heap; the tail after it is
     reused as it is, and so are heap interval cells of copied spine cells. */
  auto count = [w](TAGGED s, TAGGED *keep) {
    long words = 0, pending = 0;
    *keep = s;
    for (; !fd_is_empty(s); s = fd_rest(s)) {
      const TAGGED *spine = TagToLST(s), *iv = TagToLST(fd_first_interval(s));
      pending += 2 + (on_heap(w, iv) ? 0 : 2);
      if (!on_heap(w, spine) || !on_heap(w, iv)) {
        words += pending;
        pending = 0;
        *keep = fd_rest(s);
      }
    }
    return words;
  };
  TAGGED keep;
  long words = count(d, &keep);
  if (w->heap_warn - w->global_top < words + pad + 128) {
    d = fd_localize(env, w, d);
    words = count(d, &keep);
    fd_heap_room(env, w, words + pad + 128, live);
  }
  TAGGED head = keep, *slot = &head;
  for (TAGGED s = d; s != keep; s = fd_rest(s)) {
    TAGGED iv = fd_first_interval(s);
    TAGGED *p = w->global_top;
    w->global_top += 2;
    if (!on_heap(w, TagToLST(iv)) || TagToLST(iv) >= p) {
      TAGGED *c = w->global_top;
      w->global_top += 2;
      c[0] = fd_interval_min(iv);
      c[1] = fd_interval_max(iv);
      iv = MakeLST(c);
    }
    p[0] = iv;
    *slot = MakeLST(p);
    slot = p + 1;
  }
  *slot = keep;
  for (TAGGED s = head; !fd_is_empty(s); s = fd_rest(s))
    if (fd_min(s) == atom_sup || fd_interval_max(fd_first_interval(s)) == atom_inf)
      fd_state_of(env)->fd_overflow = 1;
  return head;
}

/* ---- Built-ins ---- */

void prolog_fd_arg_attribute_vrenv_multi_vr(VREnv *env, VR_term_ref var, long finite, VR_term_ref attr)
{
  worker *w = fd_current_worker(env);
  fd_heap_room(env, w, 414);
  const TAGGED a = fd_check_argument(env, w, ref_term(w, var), atom_inf, atom_sup, atom_sup);
  if (a == 0)
    return fail_call(env);
  if (finite) {
    const TAGGED *dom = TagToSTR(fd_attribute_dom(a));
    if (!IsSmall(deref(dom[FD_DOM_MIN])) || !IsSmall(deref(dom[FD_DOM_MAX])))
      return fail_call(env);
  }
  if (!fd_cunify(env, w, ref_term(w, attr), a))
    fail_call(env);
}

void prolog_fd_dvar_list_vrenv_multi_vr(VREnv *env, VR_term_ref list, long finite)
{
  worker *w = fd_current_worker(env);
  DISPATCH_TABLE_STRUCT_VOSTREL_H *api = env->dispatch_API_VOSTREL_H;
  const VR_term_ref rest = api->pVR_new_term_ref();
  w->fli_stack_start[rest].term = ref_term(w, list);
  bool ok = true;
  for (;;) {
    TAGGED l = ref_term(w, rest);
    if (!IsList(l)) {
      ok = l == atom_nil;
      break;
    }
    if (!IsSmall(deref(TagToLST(l)[0]))) {
      fd_heap_room(env, w, 414);
      l = ref_term(w, rest);
      const TAGGED a = fd_check_argument(env, w, TagToLST(l)[0], atom_inf, atom_sup, atom_sup);
      if (a == 0) {
        ok = false;
        break;
      }
      const TAGGED *dom = TagToSTR(fd_attribute_dom(a));
      if (finite && (!IsSmall(deref(dom[FD_DOM_MIN])) || !IsSmall(deref(dom[FD_DOM_MAX])))) {
        ok = false;
        break;
      }
    }
    w->fli_stack_start[rest].term = TagToLST(ref_term(w, rest))[1];
  }
  api->pVR_reset_term_refs(rest);
  if (!ok)
    fail_call(env);
}

void prolog_fd_check_arguments_vrenv_multi_vr(VREnv *env, VR_term_ref goal, VR_term_ref attv)
{
  worker *w = fd_current_worker(env);
  TAGGED g = ref_term(w, goal);
  if (!IsComplex(g)) {
    if (!fd_cunify(env, w, ref_term(w, attv), g))
      fail_call(env);
    return;
  }
  const TAGGED f = IsList(g) ? functor_list : *TagToSTR(g);
  const int arity = static_cast<int>(Arity(f));
  fd_heap_room(env, w, static_cast<long>(arity) * 288 + 128);
  g = ref_term(w, goal);
  const TAGGED *args = IsList(g) ? TagToLST(g) - 1 : TagToSTR(g);
  TAGGED attrs[256];
  for (int i = 1; i <= arity; i++) {
    attrs[i] = fd_check_argument(env, w, args[i], atom_inf, atom_sup, atom_sup);
    if (attrs[i] == 0)
      return fail_call(env);
  }
  TAGGED *h = w->global_top;
  h[0] = f;
  for (int i = 1; i <= arity; i++)
    h[i] = attrs[i];
  w->global_top = h + arity + 1;
  if (!fd_cunify(env, w, ref_term(w, attv), MakeSTR(h)))
    fail_call(env);
}

void prolog_fd_coref_vrenv_multi_vr(VREnv *env, VR_term_ref list)
{
  worker *w = fd_current_worker(env);
  for (TAGGED l = ref_term(w, list); IsList(l); l = deref(TagToLST(l)[1])) {
    const TAGGED e = deref(TagToLST(l)[0]);
    if (!IsComplex(e))
      continue;
    const TAGGED x = deref(IsList(e) ? TagToLST(e)[0] : TagToSTR(e)[1]);
    if (IsVar(x))
      fd_cunify(env, w, x, atom_nil);
    else if (x == atom_nil)
      return; /* met before in this walk */
  }
  fail_call(env);
}
