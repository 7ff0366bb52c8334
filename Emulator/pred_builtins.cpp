/* pred_builtins.cpp: the native built-ins through which the Prolog library
 * defines, declares, imports and undefines predicates and modules.
 *
 * Each takes its arguments in the worker's argument registers and returns
 * nonzero for success.  None raises an error: the library wrappers check
 * the arguments first, so what reaches here malformed simply fails.  A
 * Module argument names a module; a predicate indicator is Name/Arity, where
 * Name may carry Module: prefixes.  Engine thread only.
 */
#include "datadefs.h"
#include "indexing.h"
#include "initial_atoms.h"
#include "modules.h"
#include "predicates.h"
#include "stack_growth.h"
#include "sw_on_key.h"
#include "terms.h"
#include "unify.h"
#include "worker.h"

namespace {

constexpr TAGGED atom_true = MakeAtom(atom_true_enum);
constexpr TAGGED atom_prolog = MakeAtom(atom_prolog_enum);
constexpr TAGGED atom_compactcode = MakeAtom(atom_compactcode_enum);
constexpr TAGGED atom_profiledcode = MakeAtom(atom_profiledcode_enum);
constexpr TAGGED atom_dynamic = MakeAtom(atom_dynamic_enum);
constexpr TAGGED atom_multifile = MakeAtom(atom_multifile_enum);
constexpr TAGGED atom_volatile = MakeAtom(atom_volatile_enum);
constexpr TAGGED functor_slash = MakeFunctor(MakeAtom(atom_slash_enum), 2);

inline TAGGED arg(TAGGED str, int i) { return deref(TagToSTR(str)[i]); }

/* Module:Term: strips the prefixes, the innermost winning; each named
   module is created.  Null when a prefix cannot name a module. */
mod_def *strip_module(TAGGED *term, mod_def *m)
{
  TAGGED t = deref(*term);
  while (IsStructure(t) && *TagToSTR(t) == functor_colon) {
    m = find_module(arg(t, 1), 1);
    if (m == nullptr)
      return nullptr;
    t = arg(t, 2);
  }
  *term = t;
  return m;
}

/* Name/Arity (Name possibly Module:Name) into its parts. */
bool parse_spec(TAGGED spec, mod_def **m, TAGGED *name, int *arity)
{
  /* Module:(Name/Arity) as well as (Module:Name)/Arity. */
  *m = strip_module(&spec, *m);
  if (*m == nullptr || !IsStructure(spec) || *TagToSTR(spec) != functor_slash)
    return false;
  TAGGED n = TagToSTR(spec)[1];
  TAGGED a = arg(spec, 2);
  *m = strip_module(&n, *m);
  if (*m == nullptr || !IsAtom(n) || !IsSmall(a) || GetSmall(a) < 0 || GetSmall(a) > 255)
    return false;
  *name = n;
  *arity = static_cast<int>(GetSmall(a));
  return true;
}

/* m's own record for name/arity, created when missing.  Unlike
   insert_definition it never answers with a system predicate, which the
   caller is about to change. */
definition *own_definition(mod_def *m, TAGGED name, int arity)
{
  sw_on_key_node *n = incore_gethash(m->preds, pred_key(name, arity));
  if (n->value.def != nullptr)
    return n->value.def;
  definition *d = new_definition(name, arity, m);
  dyn_puthash(&m->preds, pred_key(name, arity))->value.def = d;
  return d;
}

bool has_clauses(definition *d)
{
  unsigned type = predtyp(d);
  if (d->proc.code.any == nullptr)
    return false;
  if (is_compiled_type(type))
    return d->proc.code.incoreinfo->clauses != *d->proc.code.incoreinfo->clauses_tail;
  if (type == ENTER_INTERPRETED)
    return d->proc.code.intinfo->first != nullptr;
  return false;
}

/* Walks a list of predicate indicators; false at a malformed element or an
   improper end.  visit returns false to stop (and fail). */
template <typename F> bool each_spec(TAGGED list, mod_def *m, F &&visit)
{
  list = deref(list);
  while (IsList(list)) {
    mod_def *sm = m;
    TAGGED name;
    int arity;
    if (!parse_spec(TagToLST(list)[0], &sm, &name, &arity) || !visit(sm, name, arity))
      return false;
    list = deref(TagToLST(list)[1]);
  }
  return list == atom_nil;
}

int set_module(worker *w, TAGGED exports, bool hidden, TAGGED file)
{
  mod_def *m = find_module(deref(w->term[0]), 1);
  if (m == nullptr)
    return 0;
  /* Check the whole list before changing anything. */
  if (!each_spec(exports, m, [](mod_def *, TAGGED, int) { return true; }))
    return 0;
  for (definition *d = m->public_lst; d != PUBLIC_END && d != nullptr;) {
    definition *next = d->next_public;
    d->next_public = nullptr;
    d = next;
  }
  m->public_lst = PUBLIC_END;
  definition **tail = &m->public_lst;
  each_spec(exports, m, [&](mod_def *sm, TAGGED name, int arity) {
    definition *d = own_definition(sm, name, arity);
    /* A record listed twice is exported once; relinking it would close
       the list into a cycle. */
    if (d->next_public == nullptr && sm == m) {
      d->next_public = PUBLIC_END;
      *tail = d;
      tail = &d->next_public;
    }
    return true;
  });
  m->prop = hidden ? (m->prop | MOD_HIDDEN) : (m->prop & ~MOD_HIDDEN);
  m->filename = file;
  return 1;
}

} // namespace

int prolog_define_predicate(worker *w)
{
  mod_def *m = eglobal->typein_mod;
  TAGGED name;
  int arity;
  if (!parse_spec(w->term[0], &m, &name, &arity))
    return 0;
  definition *d = insert_definition(m, name, arity, 1);
  if (d == nullptr)
    return 0;
  TAGGED type = deref(w->term[1]);
  if (type == atom_multifile && predtyp(d) != ENTER_UNDEFINED && (d->proc.properties & PROP_MULTIFILE) != 0)
    return 1;
  if (d->defined_in == eglobal->prolog_module && m != eglobal->prolog_module)
    return 0;
  undefine_predicate(d);
  redefine_predicate(d, type == atom_compactcode    ? ENTER_COMPACTCODE
                        : type == atom_profiledcode ? ENTER_PROFILEDCODE
                                                    : ENTER_INTERPRETED);
  return 1;
}

int prolog_set_property(worker *w)
{
  TAGGED head = w->term[0];
  mod_def *m = strip_module(&head, eglobal->typein_mod);
  if (m == nullptr)
    return 0;
  definition *d = find_definition(m, head, nullptr, 0);
  if (d == nullptr)
    return 0;
  unsigned type = predtyp(d);
  if (!is_compiled_type(type) && type != ENTER_INTERPRETED)
    return 0;
  TAGGED prop = deref(w->term[1]);
  std::uint32_t bit = prop == atom_dynamic ? PROP_DYNAMIC
                      : prop == atom_multifile ? PROP_MULTIFILE
                      : prop == atom_volatile  ? PROP_VOLATYLE
                                               : 0;
  if (bit == PROP_VOLATYLE && (d->proc.properties & PROP_VOLATYLE) != 0)
    return 1;
  if (has_clauses(d))
    return bit != 0 && (d->proc.properties & bit) != 0;
  if (IsStructure(prop)) {
    d->filename = arg(prop, 1);
  } else if (bit == PROP_DYNAMIC) {
    d->proc.properties |= PROP_DYNAMIC;
    if (is_compiled_type(type)) {
      /* Empty code: no clause, so nothing running can be inside it. */
      scan_info(type, d->proc.code, free_reaper);
      init_interpreted(d);
      type = ENTER_INTERPRETED;
    }
  } else if (bit != 0) {
    d->proc.properties |= bit;
  }
  update_exports(d, static_cast<int>(type));
  return 1;
}

int prolog_abolish(worker *w)
{
  mod_def *m = find_module(deref(w->term[1]), 0);
  if (m == nullptr)
    return 1;
  definition *d = find_definition(m, deref(w->term[0]), nullptr, 0);
  if (d != nullptr && !(d->defined_in == eglobal->prolog_module && m != eglobal->prolog_module))
    undefine_predicate(d);
  return 1;
}

int prolog_undefine_all(worker *w)
{
  mod_def *m = find_module(deref(w->term[0]), 0);
  if (m == nullptr)
    return 0;
  undefine_all(m, 0);
  return 1;
}

int prolog_erase_clause(worker *w)
{
  emul_info *clause = free_clause_of_word(deref(w->term[0]));
  if (clause == nullptr)
    return 0;
  scan_emulinfo(clause, free_reaper);
  return 1;
}

int prolog_module4(worker *w)
{
  return set_module(w, w->term[1], deref(w->term[2]) == atom_true, deref(w->term[3]));
}

int prolog_module3(worker *w) { return set_module(w, w->term[1], true, atom_nil); }

int prolog_module_hiding(worker *w)
{
  mod_def *m = find_module(deref(w->term[0]), 0);
  return m != nullptr && module_hidden(m);
}

int prolog_curmod(worker *w)
{
  mod_def *m = find_module(deref(w->term[0]), 1);
  if (m == nullptr || !IsVar(deref(w->term[2])))
    return 0;
  int n = 0;
  for (definition *d = m->public_lst; d != PUBLIC_END && d != nullptr; d = d->next_public)
    n++;
  if (w->heap_warn - w->global_top < 128 + 5 * n)
    call_overflow(w, 128 + 5 * n, 3);
  if (!cunify(w, w->term[1], m->filename))
    return 0;
  TAGGED list = atom_nil;
  TAGGED *last = &list;
  for (definition *d = m->public_lst; d != PUBLIC_END && d != nullptr; d = d->next_public) {
    TAGGED *h = w->global_top;
    h[2] = functor_slash;
    h[3] = d->proc.printname;
    h[4] = MakeSmall_checked(d->proc.arity);
    h[0] = MakeSTR(h + 2);
    h[1] = atom_nil;
    *last = MakeLST(h);
    last = &h[1];
    w->global_top = h + 5;
  }
  return cunify(w, w->term[2], list);
}

int prolog_import_preds(worker *w)
{
  mod_def *from = find_module(deref(w->term[0]), 0);
  if (from == nullptr)
    return 0;
  mod_def *to = find_module(deref(w->term[1]), 1);
  if (to == nullptr)
    return 0;
  mod_def *pm = eglobal->prolog_module;
  return each_spec(w->term[2], from, [&](mod_def *, TAGGED name, int arity) {
    definition *d1 = insert_definition(from, name, arity, 1);
    if (d1 == nullptr || d1->defined_in == pm)
      return false;
    import_predicate(d1, from, own_definition(to, name, arity));
    return true;
  });
}

int prolog_typein_module(worker *w)
{
  mod_def *t = eglobal->typein_mod;
  if (t == nullptr || !cunify(w, w->term[0], t->name))
    return 0;
  TAGGED now = deref(w->term[1]);
  if (now == t->name)
    return 1;
  mod_def *m = find_module(now, 1);
  if (m == nullptr)
    return 0;
  eglobal->typein_mod = m;
  return 1;
}

int prolog_imported(worker *w)
{
  TAGGED head = deref(w->term[0]), module = deref(w->term[1]);
  if (IsVar(head) || IsVar(module))
    return 0;
  mod_def *m = find_module(module, 0);
  if (m == nullptr)
    return 0;
  definition *d = find_definition(m, head, nullptr, 0);
  if (d == nullptr || d->imported_from == nullptr)
    return 0;
  return cunify(w, w->term[2], d->imported_from->name);
}

int prolog_predicate_file(worker *w)
{
  mod_def *m = find_module(deref(w->term[1]), 0);
  if (m == nullptr)
    return 0;
  definition *d = find_definition(m, deref(w->term[0]), nullptr, 0);
  if (d == nullptr || predtyp(d) == ENTER_UNDEFINED)
    return 0;
  return cunify(w, w->term[2], d->filename);
}
