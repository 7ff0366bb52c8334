/* meta_decls.cpp: meta-predicate and block declarations and the
 * direct-call test (see meta_decls.h).
 */
#include "meta_decls.h"

#include <cstring>

#include "datadefs.h"
#include "indexing.h"
#include "initial_atoms.h"
#include "instance.h"
#include "memman.h"
#include "modules.h"
#include "predicates.h"
#include "stack_growth.h"
#include "sw_on_key.h"
#include "terms.h"
#include "unify.h"
#include "wamsup.h"
#include "worker.h"

namespace {

constexpr TAGGED atom_colon = MakeAtom(atom_colon_enum);
constexpr TAGGED atom_minus = MakeAtom(atom_minus_enum);
constexpr TAGGED atom_question = MakeAtom(atom_question_enum);

inline bool is_callable(TAGGED t)
{
  return IsAtom(t) || IsList(t) || (IsStructure(t) && IsFunctor(TagToSTR(t)[0]));
}

inline TAGGED *head_args(TAGGED head)
{
  if (IsStructure(head))
    return TagToSTR(head) + 1;
  if (IsList(head))
    return TagToLST(head);
  return nullptr;
}

/* The predicate a declaration names: Module:Head (nested qualifications,
   the innermost winning) or Head in the type-in module.  Null when the
   module or the predicate does not exist. */
definition *declared_definition(TAGGED spec, TAGGED *head)
{
  mod_def *m = eglobal->typein_mod;
  spec = deref(spec);
  while (IsStructure(spec) && TagToSTR(spec)[0] == functor_colon) {
    TAGGED name = deref(TagToSTR(spec)[1]);
    if (!IsAtom(name))
      return nullptr;
    m = find_module(name, 0);
    if (m == nullptr)
      return nullptr;
    spec = deref(TagToSTR(spec)[2]);
  }
  if (!is_callable(spec))
    return nullptr;
  *head = spec;
  return find_definition(m, spec, nullptr, 0);
}

/* The 1-based positions of the arguments of head that pass `take`, in
   ascending order, ended by 0, into mask (arity + 1 bytes). */
template <typename F> int collect_positions(TAGGED head, int arity, unsigned char *mask, F &&take)
{
  TAGGED *args = head_args(head);
  int n = 0;
  for (int i = 0; i < arity; i++)
    if (take(deref(args[i])))
      mask[n++] = static_cast<unsigned char>(i + 1);
  mask[n] = 0;
  return n;
}

/* def's functor with `marked` at the positions of mask and `?` elsewhere,
   built at the heap top (the name alone for arity 0). */
TAGGED spec_term(worker *w, const definition *def, const unsigned char *mask, TAGGED marked)
{
  const int arity = def->proc.arity;
  if (arity == 0)
    return def->proc.printname;
  const bool list = def->proc.printname == atom_dot && arity == 2;
  TAGGED *h = w->global_top;
  TAGGED *args = list ? h : h + 1;
  if (!list)
    h[0] = MakeFunctor(def->proc.printname, static_cast<unsigned>(arity));
  for (int i = 0; i < arity; i++)
    args[i] = atom_question;
  for (const unsigned char *m = mask; *m != 0; m++)
    args[*m - 1] = marked;
  w->global_top = args + arity;
  return list ? MakeLST(h) : MakeSTR(h);
}

constexpr std::size_t block_info_bytes(const definition *def) { return 8 + static_cast<std::size_t>(def->proc.arity); }

void free_condition(const definition *def, block_info *b)
{
  checkdealloc(b, block_info_bytes(def), mm_code(MM_BIN_MISC));
}

/* The key under which a first-argument switch files goals of def. */
TAGGED goal_key(const definition *def)
{
  if (def->proc.arity == 0)
    return def->proc.printname;
  return MakeFunctor(def->proc.printname, static_cast<unsigned>(def->proc.arity));
}

bool is_list_goal(const definition *def) { return def->proc.printname == atom_dot && def->proc.arity == 2; }

/* A dynamic goal_expansion/5 cannot apply when no clause has an unbound
   first argument (the varcase chain) and none is filed under the goal's
   key (the list chain for '.'/2). */
bool dynamic_expansion_silent(const int_info *info, const definition *def)
{
  if (info == nullptr)
    return true;
  if (info->varcase != nullptr)
    return false;
  if (is_list_goal(def))
    return info->lstcase == nullptr;
  if (info->indexer == nullptr)
    return true;
  sw_on_key_node *slot = incore_gethash(info->indexer, goal_key(def));
  return slot->key != goal_key(def) || slot->value.any == nullptr;
}

/* A compiled, indexed goal_expansion/5 cannot apply when its switch sends
   the goal's key, and its default case, to the failure code. */
bool compiled_expansion_silent(const incore_info *info, const definition *def)
{
  if (info == nullptr)
    return true;
  if (is_list_goal(def))
    return info->lstcase == failcode;
  if (info->othercase == nullptr)
    return false;
  return incore_gethash(info->othercase, goal_key(def))->value.code == failcode &&
         incore_gethash(info->othercase, 0)->value.code == failcode;
}

} // namespace

int block_subsumes(const unsigned char *a, const unsigned char *b)
{
  for (; *a != 0; a++) {
    while (*b != 0 && *b < *a)
      b++;
    if (*b != *a)
      return 0;
  }
  return 1;
}

int fast_callable(const definition *def)
{
  if (def == nullptr)
    return 0;
  if (MakeFunctor(def->proc.printname, static_cast<unsigned>(def->proc.arity)) == functor_colon)
    return 0;
  if (def->metainfo != nullptr || predtyp(def) == ENTER_UNDEFINED)
    return 0;
  definition *ge = insert_definition(def->module, MakeAtom(atom_goal_expansion_enum), 5, 0);
  if (ge == nullptr)
    return 1;
  switch (predtyp(ge)) {
  case ENTER_UNDEFINED:
    return 1;
  case ENTER_INTERPRETED:
    return dynamic_expansion_silent(ge->proc.code.intinfo, def);
  case ENTER_COMPACTCODE_INDEXED:
    return compiled_expansion_silent(ge->proc.code.incoreinfo, def);
  default:
    return 0;
  }
}

int prolog_meta_predicate(worker *w)
{
  TAGGED head;
  definition *def = declared_definition(w->term[0], &head);
  if (def == nullptr)
    return 0;
  const int arity = def->proc.arity;
  auto *mask = static_cast<unsigned char *>(checkalloc(static_cast<std::size_t>(arity) + 1, mm_code(MM_BIN_MISC)));
  collect_positions(head, arity, mask, [](TAGGED a) { return a == atom_colon || IsSmall(a); });
  if (def->metainfo != nullptr && def->metainfo != call_n_metainfo)
    checkdealloc(def->metainfo, static_cast<std::size_t>(arity) + 1, mm_code(MM_BIN_MISC));
  def->metainfo = mask;
  def->proc.properties |= PROP_META;
  update_exports(def, static_cast<int>(predtyp(def)));
  return 1;
}

int prolog_meta_declaration(worker *w)
{
  mod_def *m = IsAtom(deref(w->term[1])) ? find_module(deref(w->term[1]), 0) : nullptr;
  TAGGED head = deref(w->term[0]);
  if (m == nullptr || !is_callable(head))
    return 0;
  definition *def = find_definition(m, head, nullptr, 0);
  if (def == nullptr || def->metainfo == nullptr)
    return 0;
  return cunify(w, w->term[2], spec_term(w, def, def->metainfo, atom_colon));
}

int prolog_block(worker *w)
{
  TAGGED head;
  definition *def = declared_definition(w->term[0], &head);
  if (def == nullptr)
    return 0;
  auto *b = static_cast<block_info *>(checkalloc(block_info_bytes(def), mm_code(MM_BIN_MISC)));
  collect_positions(head, def->proc.arity, b->masks, [](TAGGED a) { return a == atom_minus; });
  /* Conditions the new one subsumes go; when an existing one already
     blocks whenever the new one would, the new one is not needed. */
  for (block_info **link = &def->blockinfo; *link != nullptr;) {
    block_info *old = *link;
    if (block_subsumes(b->masks, old->masks)) {
      *link = old->next;
      free_condition(def, old);
    } else {
      link = &old->next;
    }
  }
  for (block_info *old = def->blockinfo; old != nullptr; old = old->next) {
    if (block_subsumes(old->masks, b->masks)) {
      free_condition(def, b);
      return 1;
    }
  }
  b->next = def->blockinfo;
  def->blockinfo = b;
  def->proc.properties |= PROP_BLOCK;
  update_exports(def, static_cast<int>(predtyp(def)));
  return 1;
}

int prolog_block_declaration(worker *w)
{
  mod_def *m = IsAtom(deref(w->term[1])) ? find_module(deref(w->term[1]), 0) : nullptr;
  TAGGED head = deref(w->term[0]);
  if (m == nullptr || !is_callable(head))
    return 0;
  definition *def = find_definition(m, head, nullptr, 0);
  if (def == nullptr || def->blockinfo == nullptr)
    return 0;
  int count = 0;
  for (block_info *b = def->blockinfo; b != nullptr; b = b->next)
    count++;
  const int need = count * (def->proc.arity + 131);
  if (w->heap_warn - w->global_top < need)
    call_overflow(w, need, 3);
  /* The list is kept newest first; the answer lists them as declared. */
  TAGGED result = atom_nil;
  for (block_info *b = def->blockinfo; b != nullptr; b = b->next) {
    TAGGED spec = spec_term(w, def, b->masks, atom_minus);
    TAGGED *cell = w->global_top;
    cell[0] = spec;
    cell[1] = result;
    w->global_top = cell + 2;
    result = MakeLST(cell);
  }
  return cunify(w, w->term[2], result);
}

int prolog_fast_goal(worker *w)
{
  TAGGED goal = deref(w->term[0]);
  TAGGED name = deref(w->term[1]);
  if (!is_callable(goal) || !IsAtom(name))
    return 0;
  mod_def *m = find_module(name, 1);
  if (m == nullptr)
    return 0;
  return fast_callable(find_definition(m, goal, nullptr, 0));
}
