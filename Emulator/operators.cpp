/* operators.cpp: the global operator table, its defaults and op/3.
 *
 * The table is a hash map from the atom word to the three class slots.
 * Entries whose three slots are all empty are erased, so the table's size
 * is the number of atoms that are operators.  Changes made by op/3 are
 * validated completely before anything is written: an op/3 call that
 * raises an error leaves the table as it was.
 */
#include "operators.h"

#include <cstring>
#include <unordered_map>

#include "atoms.h"
#include "errors.h"
#include "initial_atoms.h"
#include "stack_growth.h"
#include "terms.h"
#include "unify.h"
#include "worker.h"

namespace {

struct op_entry {
  op_def slot[3];
};

std::unordered_map<TAGGED, op_entry> *table = nullptr;

const char *const type_names[OP_TYPES] = {"xfx", "xfy", "yfx", "fy", "fx", "xf", "yf"};

void mark_operator_atoms(worker *)
{
  if (table == nullptr)
    return;
  for (const auto &kv : *table)
    agc_atom(kv.first);
}

op_def make_def(int priority, int type)
{
  op_def d{priority, type, 0, 0};
  const int below = priority - 1;
  switch (type) {
  case OP_XFX: d.left = below; d.right = below; break;
  case OP_XFY: d.left = below; d.right = priority; break;
  case OP_YFX: d.left = priority; d.right = below; break;
  case OP_FY: d.right = priority; break;
  case OP_FX: d.right = below; break;
  case OP_XF: d.left = below; break;
  case OP_YF: d.left = priority; break;
  default: break;
  }
  return d;
}

TAGGED atom_of(const char *text) { return init_atom_check(text, 0); }

/* The checks of one (priority, type, name) triple that depend on the name
   and the table; 1 when allowed, else the error is recorded. */
int check_name(int priority, int type, TAGGED name)
{
  const op_class cls = op_type_class(type);
  if (name == MakeAtom(atom_comma_enum)) {
    save_error(OP_ERR_PERMISSION, "modify operator", name);
    return 0;
  }
  if (name == atom_nil || name == atom_of("{}")) {
    save_error(OP_ERR_PERMISSION, "create operator", name);
    return 0;
  }
  if (name == MakeAtom(atom_bar_enum) && priority != 0 && (cls != OP_INFIX || priority < 1001)) {
    save_error(OP_ERR_PERMISSION, "create operator", name);
    return 0;
  }
  /* An atom cannot be infix and postfix at once: after a complete left
     operand the reader could not tell which one is meant. */
  if (priority != 0 && cls != OP_PREFIX) {
    op_def other;
    if (op_lookup(name, cls == OP_INFIX ? OP_POSTFIX : OP_INFIX, &other)) {
      save_error(OP_ERR_PERMISSION, "create operator", name);
      return 0;
    }
  }
  return 1;
}

void store(int priority, int type, TAGGED name)
{
  const op_class cls = op_type_class(type);
  if (priority == 0) {
    auto it = table->find(name);
    if (it == table->end())
      return;
    it->second.slot[cls] = op_def{0, 0, 0, 0};
    if (it->second.slot[0].priority == 0 && it->second.slot[1].priority == 0 &&
        it->second.slot[2].priority == 0)
      table->erase(it);
    return;
  }
  (*table)[name].slot[cls] = make_def(priority, type);
}

struct default_op {
  int priority;
  int type;
  const char *names;  /* blank-separated */
};

const default_op default_ops[] = {
    {1200, OP_XFX, ":- -->"},
    {1200, OP_FX, ":- ?-"},
    {1150, OP_FX, "dynamic discontiguous initialization meta_predicate module_transparent multifile "
                  "public block mode volatile"},
    {1100, OP_XFY, "; |"},
    {1050, OP_XFY, "-> *->"},
    {1000, OP_XFY, ","},
    {900, OP_FY, "\\+"},
    {700, OP_XFX, "= \\= == \\== @< @> @=< @>= =.. is =:= =\\= < > =< >="},
    {550, OP_XFY, ":"},
    {500, OP_YFX, "+ - /\\ \\/ xor"},
    {400, OP_YFX, "* / // rem mod div << >>"},
    {200, OP_XFX, "**"},
    {200, OP_XFY, "^"},
    {200, OP_FY, "- + \\"},
};

} // namespace

op_class op_type_class(int type)
{
  if (type == OP_FY || type == OP_FX)
    return OP_PREFIX;
  if (type == OP_XF || type == OP_YF)
    return OP_POSTFIX;
  return OP_INFIX;
}

int op_type_from_atom(TAGGED type_atom)
{
  if (!IsAtom(type_atom))
    return -1;
  const char *text = atom_name(type_atom);
  for (int i = 0; i < OP_TYPES; ++i)
    if (std::strcmp(text, type_names[i]) == 0)
      return i;
  return -1;
}

TAGGED op_type_atom(int type) { return atom_of(type_names[type]); }

void init_operators(void)
{
  if (table == nullptr) {
    table = new std::unordered_map<TAGGED, op_entry>();
    agc_add_root_marker(mark_operator_atoms);
  }
  table->clear();
  for (const default_op &d : default_ops) {
    const char *p = d.names;
    while (*p != '\0') {
      const char *end = std::strchr(p, ' ');
      const std::size_t len = end ? static_cast<std::size_t>(end - p) : std::strlen(p);
      char name[32];
      std::memcpy(name, p, len);
      name[len] = '\0';
      store(d.priority, d.type, atom_of(name));
      p += len;
      while (*p == ' ')
        ++p;
    }
  }
}

void deinit_operators(void)
{
  if (table == nullptr)
    return;
  agc_remove_root_marker(mark_operator_atoms);
  delete table;
  table = nullptr;
}

int op_lookup(TAGGED name, op_class cls, op_def *def)
{
  if (table == nullptr)
    return 0;
  auto it = table->find(name);
  if (it == table->end() || it->second.slot[cls].priority == 0)
    return 0;
  *def = it->second.slot[cls];
  return 1;
}

int is_operator(TAGGED name)
{
  return table != nullptr && table->find(name) != table->end();
}

int add_operator(int priority, int type, TAGGED name)
{
  if (table == nullptr)
    init_operators();
  if (!check_name(priority, type, name))
    return 0;
  store(priority, type, name);
  return 1;
}

int vr_op(TAGGED priority, TAGGED type, TAGGED names, int *argno)
{
  priority = deref(priority);
  type = deref(type);
  names = deref(names);
  int dummy;
  if (argno == nullptr)
    argno = &dummy;

  *argno = 1;
  if (IsVar(priority)) {
    save_error(OP_ERR_INSTANTIATION, "", priority);
    return 0;
  }
  if (!IsSmall(priority)) {
    /* A boxed integer is an integer out of every range. */
    const bool is_integer = IsStructure(priority) && IsBoxHeader(*TagToSTR(priority)) &&
                            !BoxIsFloat(*TagToSTR(priority));
    save_error(is_integer ? OP_ERR_DOMAIN : OP_ERR_TYPE_INTEGER,
               is_integer ? "operator_priority" : "integer", priority);
    return 0;
  }
  const int prio = GetSmall(priority);
  if (prio < 0 || prio > OP_MAX_PRIORITY) {
    save_error(OP_ERR_DOMAIN, "operator_priority", priority);
    return 0;
  }

  *argno = 2;
  if (IsVar(type)) {
    save_error(OP_ERR_INSTANTIATION, "", type);
    return 0;
  }
  if (!IsAtom(type)) {
    save_error(OP_ERR_TYPE, "atom", type);
    return 0;
  }
  const int kind = op_type_from_atom(type);
  if (kind < 0) {
    save_error(OP_ERR_DOMAIN, "operator_specifier", type);
    return 0;
  }

  *argno = 3;
  if (table == nullptr)
    init_operators();
  if (IsVar(names)) {
    save_error(OP_ERR_INSTANTIATION, "", names);
    return 0;
  }
  if (IsAtom(names) && names != atom_nil) {
    if (!check_name(prio, kind, names))
      return 0;
    store(prio, kind, names);
    return 1;
  }
  /* A list: check every element (and the list's end) before changing
     anything.  The walk is bounded by the heap, and a cyclic list is
     caught by moving a second pointer at half speed. */
  TAGGED slow = names;
  int steps = 0;
  for (TAGGED l = names;;) {
    if (IsVar(l)) {
      save_error(OP_ERR_INSTANTIATION, "", l);
      return 0;
    }
    if (l == atom_nil)
      break;
    if (!IsList(l)) {
      save_error(OP_ERR_TYPE, "list", names);
      return 0;
    }
    const TAGGED head = deref(TagToLST(l)[0]);
    if (IsVar(head)) {
      save_error(OP_ERR_INSTANTIATION, "", head);
      return 0;
    }
    if (!IsAtom(head)) {
      save_error(OP_ERR_TYPE, "atom", head);
      return 0;
    }
    if (!check_name(prio, kind, head))
      return 0;
    l = deref(TagToLST(l)[1]);
    if ((++steps & 1) == 0)
      slow = deref(TagToLST(slow)[1]);
    if (l == slow && IsList(l)) {
      save_error(OP_ERR_TYPE, "list", names);
      return 0;
    }
  }
  for (TAGGED l = names; l != atom_nil; l = deref(TagToLST(l)[1]))
    store(prio, kind, deref(TagToLST(l)[0]));
  return 1;
}

int prolog_op(worker *w)
{
  int argno = 0;
  if (vr_op(w->term[0], w->term[1], w->term[2], &argno))
    return 1;
  raise_error("prolog", "op", 3, argno);
  return 0;
}

int prolog_current_ops(worker *w)
{
  if (table == nullptr)
    init_operators();
  int count = 0;
  for (const auto &kv : *table)
    for (const op_def &d : kv.second.slot)
      count += d.priority != 0;
  /* op(P, T, N) is four words and its list cell two; the type atoms and
     the functor are made before the heap is checked, since making an atom
     may collect atoms but never moves the heap. */
  const TAGGED functor_op = MakeFunctor(atom_of("op"), 3);
  TAGGED type_atoms[OP_TYPES];
  for (int i = 0; i < OP_TYPES; ++i)
    type_atoms[i] = op_type_atom(i);
  const int pad = count * 6 + 1;
  if (w->global_top + pad > w->heap_warn)
    call_overflow(w, pad, 1);
  TAGGED list = atom_nil;
  for (const auto &kv : *table) {
    for (const op_def &d : kv.second.slot) {
      if (d.priority == 0)
        continue;
      TAGGED *h = w->global_top;
      h[0] = functor_op;
      h[1] = MakeSmall_checked(d.priority);
      h[2] = type_atoms[d.type];
      h[3] = kv.first;
      h[4] = MakeSTR(h);
      h[5] = list;
      list = MakeLST(h + 4);
      w->global_top = h + 6;
    }
  }
  return cunify(w, w->term[0], list);
}
