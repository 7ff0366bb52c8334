/* enumeration.cpp: current_atom/1, $current_module/1,
 * $predicate_property/5 with their redo functions, $predicate_arities/4,
 * $current_key/4 and $current_clauses/3 (see enumeration.h for the
 * protocol).
 *
 * A table that is rebuilt during an enumeration (a module or predicate
 * created meanwhile) frees the old one, so nothing here keeps a table's
 * address: each redo reads the table from its owner and clamps its cursor
 * to the table's size.  An enumeration across such a rebuild may then
 * repeat or miss records, never read freed memory.
 */
#include "enumeration.h"

#include <initializer_list>

#include "atoms.h"
#include "datadefs.h"
#include "dynamic_clauses.h"
#include "initial_atoms.h"
#include "instance.h"
#include "memman.h"
#include "modules.h"
#include "predicates.h"
#include "preds.h"
#include "stack_growth.h"
#include "sw_on_key.h"
#include "terms.h"
#include "unify.h"
#include "wam.h"
#include "wamsup.h"
#include "worker.h"

void push_choicept(worker *w, try_node *alt) { wam_push_choicepoint(w, alt); }

void pop_choicept(worker *w)
{
  node *b = node_previous(w->node_);
  w->node_ = b;
  w->global_uncond = b->global_top;
  w->local_uncond = b->local_top;
}

namespace {

constexpr TAGGED atom_prolog = MakeAtom(atom_prolog_enum);
constexpr TAGGED atom_call = MakeAtom(atom_call_enum);

/* The cursor word saved in register i of the choicepoint being run. */
inline void save_cursor(worker *w, int i, TAGGED value)
{
  w->term[i] = value;
  w->node_->term[i] = value;
}

/* ---- current_atom/1 ---- */

bool atom_slot_free(std::uint32_t i)
{
  atom *a = eglobal->atmtab[i >> 13][i & (ATOM_PAGE_SLOTS - 1)];
  return (reinterpret_cast<std::uintptr_t>(a) & 1) != 0;
}

int nd_current_atom(worker *w)
{
  std::uint32_t i = static_cast<std::uint32_t>(GetSmall(w->term[1]));
  std::uint32_t n = static_cast<std::uint32_t>(GetSmall(w->term[2]));
  if (n > eglobal->atmtabsize)
    n = eglobal->atmtabsize;
  while (i < n && atom_slot_free(i))
    i++;
  if (i >= n) {
    pop_choicept(w);
    return 0;
  }
  save_cursor(w, 1, MakeSmall_checked(static_cast<VR_INTEGER>(i + 1)));
  return cunify(w, w->term[0], MakeAtom(i));
}

/* ---- $current_module/1 ---- */

int nd_current_module(worker *w)
{
  sw_on_key *t = eglobal->user_modules;
  std::uint32_t j = static_cast<std::uint32_t>(GetSmall(w->term[1]));
  if (t == nullptr)
    j = 0;
  else if (j > sw_slots(t))
    j = sw_slots(t);
  while (j > 0) {
    j--;
    if (t->tab[j].key != 0 && t->tab[j].value.mod != nullptr) {
      save_cursor(w, 1, MakeSmall_checked(static_cast<VR_INTEGER>(j)));
      return cunify(w, w->term[0], t->tab[j].value.mod->name);
    }
  }
  pop_choicept(w);
  return 0;
}

/* ---- $predicate_property/5 ---- */

int property_bits(const definition *d)
{
  const std::uint32_t p = d->proc.properties;
  int bits = 0;
  if (d->next_public != nullptr)
    bits |= PP_EXPORTED;
  if (p & PROP_DYNAMIC)
    bits |= PP_DYNAMIC;
  if (p & PROP_MULTIFILE)
    bits |= PP_MULTIFILE;
  if (p & PROP_VOLATYLE)
    bits |= PP_VOLATILE;
  if (p & PROP_BLOCK)
    bits |= PP_BLOCK;
  if (p & PROP_META)
    bits |= PP_META;
  if (p & PROP_HIDDEN)
    bits |= PP_HIDDEN;
  return bits;
}

/* Type in X1, bits in X2, defining module in X4. */
int unify_properties(worker *w, const definition *d)
{
  return cunify(w, w->term[1], MakeSmall_checked(static_cast<VR_INTEGER>(predtyp(d)))) &&
         cunify(w, w->term[2], MakeSmall_checked(property_bits(d))) &&
         cunify(w, w->term[4], d->module != nullptr ? d->module->name : atom_nil);
}

/* name with arity fresh arguments (the heap has room for 1 + arity). */
TAGGED skeleton(worker *w, TAGGED name, int arity)
{
  if (arity == 0)
    return name;
  TAGGED *h = w->global_top;
  h[0] = MakeFunctor(name, static_cast<unsigned>(arity));
  for (int i = 1; i <= arity; i++)
    h[i] = PointerToTerm(h + i);
  w->global_top = h + 1 + arity;
  return MakeSTR(h);
}

/* Saved: Head, Type, Bits, Module name, DefModule, cursor, module + 3. */
int nd_predicate_property(worker *w)
{
  mod_def *const pm = eglobal->prolog_module;
  for (;;) {
    auto *m = reinterpret_cast<mod_def *>(w->term[6] - 3);
    sw_on_key *t = m->preds;
    std::uint32_t j = static_cast<std::uint32_t>(GetSmall(w->term[5]));
    if (j > sw_slots(t))
      j = sw_slots(t);
    const bool asked_prolog = deref(w->term[3]) == atom_prolog;
    while (j > 0) {
      j--;
      definition *d = t->tab[j].value.def;
      if (t->tab[j].key == 0 || d == nullptr || predtyp(d) == ENTER_UNDEFINED)
        continue;
      if (m != pm) {
        if (d->module == pm)
          continue;
      } else {
        if (d->next_public == nullptr && !asked_prolog)
          continue;
        if (d->proc.printname == atom_call && d->proc.arity > 0)
          continue;
      }
      save_cursor(w, 5, MakeSmall_checked(static_cast<VR_INTEGER>(j)));
      if (w->stack_start - w->global_top < 300)
        call_overflow(w, 300, 7);
      return unify_properties(w, d) && cunify(w, w->term[0], skeleton(w, d->proc.printname, d->proc.arity));
    }
    if (m == pm || pm == nullptr) {
      pop_choicept(w);
      return 0;
    }
    /* The module's own predicates are done; the system predicates it
       sees follow. */
    save_cursor(w, 6, PointerToTerm(pm) + 3);
    save_cursor(w, 5, MakeSmall_checked(static_cast<VR_INTEGER>(sw_slots(pm->preds))));
  }
}

/* ---- $predicate_arities/4 ---- */

/* Every name/N of a table whose mask lies below the arity bits starts
   its probe at the same slot, so one probe sequence, followed to an empty
   slot, meets them all; a larger table is scanned whole. */
void look_up_functors(mod_def *m, TAGGED name, int *min, int *max, bool exported_only)
{
  sw_on_key *t = m->preds;
  auto consider = [&](const sw_on_key_node *n) {
    const definition *d = n->value.def;
    if (n->key == 0 || d == nullptr || FunctorName(n->key) != name || predtyp(d) == ENTER_UNDEFINED)
      return;
    if (exported_only && d->next_public == nullptr)
      return;
    const int a = static_cast<int>(Arity(n->key));
    *min = a < *min ? a : *min;
    *max = a > *max ? a : *max;
  };
  if (t->mask >= (1u << 23)) {
    for (std::uint32_t s = 0; s < sw_slots(t); s++)
      consider(&t->tab[s]);
    return;
  }
  std::uint32_t offset = name & t->mask;
  sw_on_key_node *n = sw_slot_at(t, offset);
  for (std::uint32_t step = SW_PROBE_STEP; n->key != 0; step += 8) {
    consider(n);
    offset = (offset + step) & t->mask;
    n = sw_slot_at(t, offset);
  }
}

/* ---- $current_key/4 ---- */

inline bool is_box_header(TAGGED k) { return static_cast<std::int32_t>(k) < 0 && (k & 7) == 7; }

bool chain_has_alive(instance *first) { return active_instance_call(first, 0) != nullptr; }

/* The name part of a key for the filter: the atom of an atom or functor
   word (low 23 bits). */
inline TAGGED key_name(TAGGED k) { return k & 0x7FFFFFu; }

struct key_lister {
  worker *w;
  TAGGED filter; /* 0: any */

  bool allows(TAGGED k) const { return filter == 0 || key_name(k) == key_name(filter); }
  bool allows_box(TAGGED header) const { return filter == 0 || filter == header; }

  /* Room for a skeleton (387 words) or a number; the list is in X4. */
  void room(int words)
  {
    if (w->stack_start - w->global_top < words)
      call_overflow(w, words, 5);
  }
  void push(TAGGED elem)
  {
    TAGGED *h = w->global_top;
    h[0] = elem;
    h[1] = w->term[4];
    w->global_top = h + 2;
    w->term[4] = MakeLST(h);
  }
  void list_cell(void)
  {
    room(387);
    TAGGED *h = w->global_top;
    h[0] = PointerToTerm(h);
    h[1] = PointerToTerm(h + 1);
    w->global_top = h + 2;
    push(MakeLST(h));
  }
  void key_skeleton(TAGGED k)
  {
    room(387);
    if (IsFunctor(k))
      push(skeleton(w, FunctorName(k), static_cast<int>(Arity(k))));
    else
      push(k);
  }
  void numbers(instance *first, TAGGED header)
  {
    for (instance *i = active_instance_call(first, 0); i != nullptr;) {
      room(static_cast<int>(131 + BoxWords(header) + 1));
      push(decode_instance_key(w, i));
      instance *raw = i->next_forward;
      i = (reinterpret_cast<std::uintptr_t>(raw) & 1) != 0 ? nullptr : active_instance_call(raw, 0);
    }
  }
  /* The entry of one indexer key. */
  void entry(TAGGED k, instance *first)
  {
    if (is_box_header(k)) {
      if (allows_box(k))
        numbers(first, k);
    } else if (allows(k) && chain_has_alive(first)) {
      key_skeleton(k);
    }
  }
};

} // namespace

void enumeration_install(void)
{
  if (preds.nd_current_atom == nullptr)
    preds.nd_current_atom = def_retry_c(nd_current_atom, 3);
  if (preds.nd_current_module == nullptr)
    preds.nd_current_module = def_retry_c(nd_current_module, 3);
  if (preds.nd_predicate_property == nullptr)
    preds.nd_predicate_property = def_retry_c(nd_predicate_property, 7);
}

void enumeration_deinit(void)
{
  for (try_node **n : {&preds.nd_current_atom, &preds.nd_current_module, &preds.nd_predicate_property}) {
    if (*n != nullptr)
      checkdealloc(*n, RETRY_BLOCK_SIZE, mm_code(MM_BIN_MISC));
    *n = nullptr;
  }
}

int prolog_current_atom(worker *w)
{
  const TAGGED a = deref(w->term[0]);
  if (IsAtom(a))
    return 1;
  if (!IsVar(a))
    return 0;
  w->term[0] = a;
  w->term[1] = MakeSmall_checked(0);
  w->term[2] = MakeSmall_checked(static_cast<VR_INTEGER>(eglobal->atmtabsize));
  push_choicept(w, preds.nd_current_atom);
  return nd_current_atom(w);
}

int prolog_current_module(worker *w)
{
  const TAGGED m = deref(w->term[0]);
  if (IsAtom(m))
    return find_module(m, 0) != nullptr;
  if (!IsVar(m))
    return 0;
  w->term[0] = m;
  w->term[1] = MakeSmall_checked(
      eglobal->user_modules != nullptr ? static_cast<VR_INTEGER>(sw_slots(eglobal->user_modules)) : 0);
  w->term[2] = eglobal->user_modules != nullptr ? PointerToTerm(eglobal->user_modules) + 3 : MakeSmall_checked(0);
  push_choicept(w, preds.nd_current_module);
  return nd_current_module(w);
}

int prolog_predicate_property(worker *w)
{
  const TAGGED mname = deref(w->term[3]);
  mod_def *m = IsAtom(mname) ? find_module(mname, 0) : nullptr;
  if (m == nullptr)
    return 0;
  const TAGGED head = deref(w->term[0]);
  if (!IsVar(head)) {
    if (!(IsAtom(head) || IsComplex(head)))
      return 0;
    definition *d = find_definition(m, head, nullptr, 0);
    if (d == nullptr || predtyp(d) == ENTER_UNDEFINED)
      return 0;
    return unify_properties(w, d);
  }
  w->term[0] = head;
  w->term[3] = mname;
  w->term[5] = MakeSmall_checked(static_cast<VR_INTEGER>(sw_slots(m->preds)));
  w->term[6] = PointerToTerm(m) + 3;
  push_choicept(w, preds.nd_predicate_property);
  return nd_predicate_property(w);
}

int prolog_predicate_arities(worker *w)
{
  const TAGGED mname = deref(w->term[0]);
  const TAGGED name = deref(w->term[1]);
  mod_def *m = IsAtom(mname) ? find_module(mname, 0) : nullptr;
  if (m == nullptr || !IsAtom(name))
    return 0;
  int min = 256, max = -1;
  look_up_functors(m, name, &min, &max, false);
  mod_def *pm = eglobal->prolog_module;
  if (m != pm && pm != nullptr)
    look_up_functors(pm, name, &min, &max, true);
  /* call/N exists, made on demand, for every N from 1 to 255. */
  if (name == atom_call) {
    min = min < 1 ? min : 1;
    max = 255;
  }
  if (max < 0)
    return 0;
  return cunify(w, w->term[2], MakeSmall_checked(min)) && cunify(w, w->term[3], MakeSmall_checked(max));
}

int prolog_current_key(worker *w)
{
  definition *f = dynamic_owner(definition_of_word(deref(w->term[0])));
  if (f == nullptr || !IsVar(deref(w->term[1])))
    return 0;
  maybe_reclaim_dead_clauses(w);
  TAGGED filter = deref(w->term[2]);
  if (IsStructure(filter))
    filter = *TagToSTR(filter);
  else if (IsList(filter))
    filter = functor_list;
  else if (IsVar(filter))
    filter = 0;
  key_lister kl{w, filter};
  w->term[4] = atom_nil;
  const TAGGED key = deref(w->term[3]);
  int_info *info = f->proc.code.intinfo;
  if (IsVar(key)) {
    if (chain_has_alive(info->lstcase) && kl.allows(atom_dot))
      kl.list_cell();
    /* The table may be rebuilt while skeletons are made (nothing here
       adds keys), but not freed: read it through info each time. */
    for (std::uint32_t s = sw_slots(info->indexer); s-- > 0;) {
      const sw_on_key_node &n = info->indexer->tab[s];
      if (n.key != 0 && n.value.inst != nullptr)
        kl.entry(n.key, n.value.inst);
    }
  } else if (IsList(key)) {
    if (chain_has_alive(info->lstcase))
      kl.list_cell();
  } else {
    const TAGGED k = IsStructure(key) ? *TagToSTR(key) : key;
    sw_on_key_node *n = incore_gethash(info->indexer, k);
    if (n->key == k && n->value.inst != nullptr) {
      if (is_box_header(k))
        kl.entry(k, n->value.inst);
      else if (chain_has_alive(n->value.inst))
        kl.key_skeleton(k);
    }
  }
  return cunify(w, w->term[1], w->term[4]);
}

int prolog_current_clauses(worker *w)
{
  const TAGGED head = deref(w->term[0]);
  const TAGGED mname = deref(w->term[2]);
  mod_def *m = IsAtom(mname) ? find_module(mname, 0) : nullptr;
  if (m == nullptr || !(IsAtom(head) || IsComplex(head)))
    return 0;
  definition *f = dynamic_owner(find_definition(m, head, nullptr, 0));
  if (f == nullptr)
    return 0;
  return cunify(w, w->term[1], definition_word(f));
}
