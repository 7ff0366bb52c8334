/* modules.cpp: the module table, module creation and the walks over
 * modules and their predicates; start-up and shutdown of the database.
 *
 * Modules are created on demand by name and never removed while the
 * engine runs; deinit_modules takes the whole database down (shutdown,
 * tests).  The type-in module is compared before the table is searched,
 * since nearly every look-up names it.
 */
#include "modules.h"

#include "datadefs.h"
#include "dynamic_clauses.h"
#include "enumeration.h"
#include "indexing.h"
#include "initial_atoms.h"
#include "instance.h"
#include "memman.h"
#include "predicates.h"
#include "sw_on_key.h"

namespace {

constexpr TAGGED atom_prolog = MakeAtom(atom_prolog_enum);
constexpr TAGGED atom_user = MakeAtom(atom_user_enum);

mod_def *new_module(TAGGED name)
{
  auto *m = static_cast<mod_def *>(checkalloc(sizeof(mod_def), mm_code(MM_BIN_MOD_DEF)));
  m->name = name;
  m->prop = name == atom_prolog ? MOD_HIDDEN : 0;
  m->public_lst = PUBLIC_END;
  m->preds = new_switch_on_key(4, nullptr);
  m->names = new_switch_on_key(4, nullptr);
  m->attr_no = 0;
  m->bb = new_switch_on_key(2, nullptr);
  m->filename = atom_nil;
  return m;
}

void free_interpreted(int_info *info)
{
  if (info == nullptr)
    return;
  if (instance *i = info->first) {
    for (;;) {
      auto next = reinterpret_cast<std::uintptr_t>(i->forward);
      free_instance(i);
      if (next == 0 || (next & 1) != 0)
        break;
      i = reinterpret_cast<instance *>(next);
    }
  }
  if (info->indexer != nullptr)
    dispose_switch_on_key(info->indexer);
  checkdealloc(info, sizeof(int_info), mm_code(MM_BIN_INT_INFO));
}

/* Frees a record and, when it owns them, its code and declarations. */
void free_definition(definition *d, mod_def *m)
{
  bool owner = d->module == m && d->defined_in == m && d->imported_from == m;
  if (owner) {
    unsigned type = predtyp(d);
    if (is_compiled_type(type) || type == FD_CONSTRAINT)
      scan_info(type, d->proc.code, free_reaper);
    else if (type == ENTER_INTERPRETED)
      free_interpreted(d->proc.code.intinfo);
    for (block_info *b = d->blockinfo; b != nullptr;) {
      block_info *next = b->next;
      checkdealloc(b, 8 + static_cast<std::size_t>(d->proc.arity), mm_code(MM_BIN_MISC));
      b = next;
    }
    if (d->metainfo != nullptr && d->metainfo != call_n_metainfo)
      checkdealloc(d->metainfo, static_cast<std::size_t>(d->proc.arity) + 1, mm_code(MM_BIN_MISC));
  }
  checkdealloc(d, sizeof(definition), mm_code(MM_BIN_DEFINITION));
}

} // namespace

mod_def *find_module(TAGGED name, int insertp)
{
  if (IsStructure(name))
    name = *TagToSTR(name);
  else if (IsList(name))
    name = functor_list;
  mod_def *t = eglobal->typein_mod;
  if (t != nullptr && t->name == name)
    return t;
  if (eglobal->user_modules == nullptr)
    return nullptr;
  sw_on_key_node *n = incore_gethash(eglobal->user_modules, name);
  if (n->key == name && n->value.mod != nullptr)
    return n->value.mod;
  /* A negative word cannot name a module; neither can an unbound
     variable, whose word is a stack address that moves. */
  if (!insertp || static_cast<std::int32_t>(name) < 0 || IsVar(name))
    return nullptr;
  mod_def *m = new_module(name);
  dyn_puthash(&eglobal->user_modules, name)->value.mod = m;
  return m;
}

int init_modules(void)
{
  predicates_install_hooks();
  dynamic_clauses_install_hooks();
  enumeration_install();
  if (eglobal->user_modules == nullptr)
    eglobal->user_modules = new_switch_on_key(16, nullptr);
  if (eglobal->prolog_module == nullptr)
    eglobal->prolog_module = find_module(atom_prolog, 1);
  if (eglobal->typein_mod == nullptr)
    eglobal->typein_mod = find_module(atom_user, 1);
  return eglobal->prolog_module != nullptr && eglobal->typein_mod != nullptr;
}

void for_each_module(void (*visit)(mod_def *m, void *arg), void *arg)
{
  sw_on_key *t = eglobal->user_modules;
  if (t == nullptr)
    return;
  for (std::uint32_t i = 0; i < sw_slots(t); i++)
    if (t->tab[i].key != 0 && t->tab[i].value.mod != nullptr)
      visit(t->tab[i].value.mod, arg);
}

void for_each_predicate(mod_def *m, void (*visit)(definition *d, void *arg), void *arg)
{
  sw_on_key *t = m->preds;
  for (std::uint32_t i = 0; i < sw_slots(t); i++)
    if (t->tab[i].key != 0 && t->tab[i].value.def != nullptr)
      visit(t->tab[i].value.def, arg);
}

void deinit_modules(void)
{
  /* First what the clause layer holds beside the clause lists (detached
     dead clauses, set-of roots, reference stamps); the lists go with their
     predicates below. */
  dynamic_clauses_deinit();
  enumeration_deinit();
  sw_on_key *t = eglobal->user_modules;
  if (t != nullptr) {
    for (std::uint32_t i = 0; i < sw_slots(t); i++) {
      mod_def *m = t->tab[i].value.mod;
      if (t->tab[i].key == 0 || m == nullptr)
        continue;
      for (std::uint32_t j = 0; j < sw_slots(m->preds); j++)
        if (m->preds->tab[j].key != 0 && m->preds->tab[j].value.def != nullptr)
          free_definition(m->preds->tab[j].value.def, m);
      bb_remove(m);
      dispose_switch_on_key(m->bb);
      dispose_switch_on_key(m->preds);
      dispose_switch_on_key(m->names);
      checkdealloc(m, sizeof(mod_def), mm_code(MM_BIN_MOD_DEF));
    }
    dispose_switch_on_key(t);
  }
  eglobal->user_modules = nullptr;
  eglobal->prolog_module = nullptr;
  eglobal->typein_mod = nullptr;
  while (gcdef_proc *g = eglobal->gcdef_procs) {
    eglobal->gcdef_procs = g->next;
    scan_info(g->tag, g->info, free_reaper);
    checkdealloc(g, sizeof(gcdef_proc), mm_code(MM_BIN_GCDEF));
  }
  if (eglobal->gcdef_scratch != nullptr)
    checkdealloc(eglobal->gcdef_scratch, sizeof(gcdef_mem) * eglobal->gcdef_scratch_size, mm_code(MM_BIN_GCDEF));
  eglobal->gcdef_scratch = nullptr;
  eglobal->gcdef_scratch_size = 0;
  eglobal->gcdef_mems = 0;
  predicates_free_registry();
  predicates_remove_hooks();
}
