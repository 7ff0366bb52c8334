/* attributes.cpp: constrained variables, attribute modules and the
 * built-ins over them (see attributes.h for the layout and the rule that
 * keeps them safe under backtracking).
 *
 * The registry of attribute modules is kept here: slot k's module name in
 * attr_names[k - 1], the count in attr_count; each module also carries its
 * slot in its attr_no field.
 *
 * Replacing an older constrained variable binds it to the new one without
 * counting a wake-up (the variable is not being given a value) and trails
 * it with trail_attr_change, below any wake-up entries still pending, so
 * that the wake-up collector, which takes the newest wake_count bindings of
 * constrained cells, never mistakes the replacement for a wake-up.
 */
#include "attributes.h"

#include "atoms.h"
#include "datadefs.h"
#include "errors.h"
#include "initial_atoms.h"
#include "modules.h"
#include "predicates.h"
#include "stack_growth.h"
#include "stacks.h"
#include "terms.h"
#include "unify.h"
#include "worker.h"

namespace {

int attr_count = 0;
TAGGED attr_names[256];

constexpr TAGGED functor_Dapply3 = MakeFunctor(MakeAtom(atom_Dapply_enum), 3);
static_assert(functor_Dapply3 == 0x18004DF);
constexpr TAGGED small_zero = MakeSmall_checked(0);
/* Error type of a first argument that must be a variable. */
constexpr int NOT_A_VARIABLE = 1537;

inline TAGGED vector_functor(int count) { return MakeFunctor(atom_nil, static_cast<unsigned>(count)); }

inline bool is_heap_cell(const worker *w, const TAGGED *cell) { return cell >= w->heap_start && cell < w->stack_start; }

/* Four words at the heap top: marker, unbound cell, attribute vector,
   goals.  Returns the cell. */
TAGGED *new_cva(worker *w, TAGGED attrs, TAGGED goals)
{
  TAGGED *h = w->global_top;
  h[0] = CVA_MARKER;
  h[1] = PointerToTerm(h + 1);
  h[2] = attrs;
  h[3] = goals;
  w->global_top = h + 4;
  return h + 1;
}

/* A vector of count empty slots (each a new variable). */
TAGGED *new_vector(worker *w, int count)
{
  TAGGED *h = w->global_top;
  h[0] = vector_functor(count);
  for (int i = 1; i <= count; i++)
    h[i] = PointerToTerm(h + i);
  w->global_top = h + count + 1;
  return h;
}

/* The vector of a constrained cell, null when it has none. */
TAGGED *vector_of(const TAGGED *cell)
{
  TAGGED v = deref(cell[1]);
  return IsStructure(v) ? TagToSTR(v) : nullptr;
}

inline int vector_arity(const TAGGED *vec) { return static_cast<int>(Arity(vec[0])); }

inline bool slot_filled(const TAGGED *vec, int k)
{
  return k >= 1 && k <= vector_arity(vec) && !IsVar(deref(vec[k]));
}

/* A new vector for the current count with the filled slots of old (which
   may be null) copied as they stand and slot `skip` left empty. */
TAGGED *copy_vector(worker *w, const TAGGED *old, int skip)
{
  int count = attr_count;
  if (old != nullptr && vector_arity(old) > count)
    count = vector_arity(old);
  TAGGED *nv = new_vector(w, count);
  if (old != nullptr)
    for (int i = 1; i <= vector_arity(old); i++)
      if (i != skip && slot_filled(old, i))
        nv[i] = old[i];
  return nv;
}

/* An older constrained cell gives way to a newer one. */
void replace_cva(worker *w, TAGGED *old_cell, TAGGED *new_cell)
{
  *old_cell = PointerToTerm(new_cell);
  trail_attr_change(w, PointerToTerm(old_cell));
}

/* Binds a plain unbound cell (heap or local) to value, trailed when a
   choicepoint still sees it unbound. */
void bind_plain(worker *w, TAGGED *cell, TAGGED value)
{
  *cell = value;
  bool older = is_heap_cell(w, cell) ? cell < w->global_uncond : cell < w->local_uncond;
  if (older)
    trail_push_checked(w, PointerToTerm(cell));
}

/* A term that may be stored in a heap cell: an unbound local-stack
   variable is first moved to the heap. */
TAGGED heap_value(worker *w, TAGGED t)
{
  t = deref(t);
  if (IsVar(t) && !is_heap_cell(w, TagToRef(t))) {
    TAGGED *h = w->global_top++;
    *h = PointerToTerm(h);
    bind_plain(w, TagToRef(t), *h);
    return *h;
  }
  return t;
}

inline TAGGED *list_cell(worker *w, TAGGED head, TAGGED tail)
{
  TAGGED *h = w->global_top;
  h[0] = head;
  h[1] = tail;
  w->global_top = h + 2;
  return h;
}

inline bool heap_short(const worker *w, int words) { return w->heap_warn - w->global_top < words; }

/* Records the "not a variable" error for the culprit and raises it for
   module:name/arity, argument 1.  Always 0, the built-in's result. */
int not_a_variable(TAGGED culprit, TAGGED module, const char *name, int arity)
{
  save_error(NOT_A_VARIABLE, "", culprit);
  raise_error(atom_name(module), name, arity, 1);
  return 0;
}

int hook_pure_attributes(TAGGED var, void *fd_module)
{
  return pure_attributes(var, static_cast<mod_def *>(fd_module));
}

} // namespace

/* ---- Registry ---- */

int attribute_module_count(void) { return attr_count; }

TAGGED attribute_module_name(int slot)
{
  return slot >= 1 && slot <= attr_count ? attr_names[slot - 1] : atom_nil;
}

void reset_attribute_modules(void)
{
  attr_count = 0;
  for (TAGGED &n : attr_names)
    n = atom_nil;
}

void attributes_install_hooks(void) { pure_attributes_hook = hook_pure_attributes; }

int save_attribute_info(mod_def *m)
{
  static const struct {
    const char *name;
    int arity;
    int kind;
  } entries[3] = {
    {"$get_attributes", 3, BUILTIN_GET_ATTRIBUTES},
    {"$put_attributes", 2, BUILTIN_PUT_ATTRIBUTES},
    {"$delete_attributes", 1, BUILTIN_DELETE_ATTRIBUTES},
  };
  if (m->attr_no == 0 && attr_count >= MAX_ATTRIBUTE_MODULES)
    return 0;
  for (const auto &e : entries) {
    /* Mode 2 first: a system predicate of the same name gets a copy in m
       rather than being redefined in its place. */
    const TAGGED name = init_atom_check(e.name, 0);
    definition *d = insert_definition(m, name, e.arity, 2);
    if (d == nullptr)
      d = insert_definition(m, name, e.arity, 1);
    if (d == nullptr)
      return 0;
    if (predtyp(d) != static_cast<unsigned>(e.kind) || d->proc.enter_instr == ENTER_UNDEFINED) {
      d->proc.code.any = nullptr;
      update_exports(d, e.kind);
    }
  }
  if (m->attr_no == 0) {
    attr_names[attr_count++] = m->name;
    m->attr_no = attr_count;
  }
  attributes_install_hooks();
  return 1;
}

/* ---- Operations ---- */

bool is_cva(const worker *w, TAGGED var)
{
  if (!IsVar(var))
    return false;
  const TAGGED *cell = TagToRef(var);
  return is_constrained_cell(w, cell) && *cell == var;
}

TAGGED get_attributes(TAGGED var, mod_def *m)
{
  const TAGGED *cell = TagToRef(var);
  const TAGGED *vec = vector_of(cell);
  if (m == nullptr || m->attr_no <= 0 || vec == nullptr || !slot_filled(vec, m->attr_no))
    return 0;
  return deref(vec[m->attr_no]);
}

void put_attributes(worker *w, TAGGED var, TAGGED attr, mod_def *m)
{
  const int k = m->attr_no;
  if (k <= 0)
    return;
  attr = heap_value(w, attr);
  TAGGED v = deref(var);
  TAGGED *cell = TagToRef(v);
  if (!is_cva(w, v)) {
    TAGGED *nv = copy_vector(w, nullptr, 0);
    nv[k] = attr;
    TAGGED *n = new_cva(w, MakeSTR(nv), atom_nil);
    bind_plain(w, cell, PointerToTerm(n));
    return;
  }
  TAGGED *vec = vector_of(cell);
  if (vec != nullptr && k <= vector_arity(vec)) {
    if (vec >= w->global_uncond) {
      vec[k] = attr;
      return;
    }
    TAGGED slot = deref(vec[k]);
    if (IsVar(slot)) {
      bind(w, slot, attr);
      return;
    }
  }
  /* An older vector with the slot taken, a vector from before the module
     registered, or none at all: a new vector. */
  TAGGED *nv = copy_vector(w, vec, k);
  nv[k] = attr;
  if (cell < w->global_uncond)
    replace_cva(w, cell, new_cva(w, MakeSTR(nv), cell[2]));
  else
    cell[1] = MakeSTR(nv);
}

TAGGED delete_attributes(worker *w, TAGGED var, mod_def *m, int live)
{
  const int k = m->attr_no;
  TAGGED v = deref(var);
  if (k <= 0 || !is_cva(w, v))
    return v;
  TAGGED *cell = TagToRef(v);
  TAGGED *vec = vector_of(cell);
  if (vec == nullptr || !slot_filled(vec, k))
    return v;
  if (heap_short(w, 388)) {
    w->term[live] = v;
    w->term[live + 1] = MakeSTR(vec);
    call_overflow(w, 388, live + 2);
    v = w->term[live];
    cell = TagToRef(v);
    vec = TagToSTR(w->term[live + 1]);
  }
  if (vec + k < w->global_uncond) {
    TAGGED *nv = copy_vector(w, vec, k);
    if (cell < w->global_uncond) {
      TAGGED *n = new_cva(w, MakeSTR(nv), cell[2]);
      replace_cva(w, cell, n);
      cell = n;
    } else {
      cell[1] = MakeSTR(nv);
    }
    vec = nv;
  } else {
    vec[k] = PointerToTerm(vec + k);
  }
  if (deref(cell[2]) != atom_nil)
    return PointerToTerm(cell);
  for (int i = 1; i <= vector_arity(vec); i++)
    if (slot_filled(vec, i))
      return PointerToTerm(cell);
  /* Nothing left: the variable becomes plain. */
  if (cell < w->global_uncond) {
    TAGGED *h = w->global_top++;
    *h = PointerToTerm(h);
    replace_cva(w, cell, h);
    cell = h;
  } else {
    cell[-1] = atom_nil;
  }
  return PointerToTerm(cell);
}

int pure_attributes(TAGGED var, mod_def *m)
{
  /* Called on cells that may be bound already (the wake-up collector):
     the words are read from the cell's block, never through its value. */
  const TAGGED *cell = TagToRef(var);
  if (deref(cell[2]) != atom_nil)
    return 0;
  const TAGGED *vec = vector_of(cell);
  if (vec == nullptr)
    return 1;
  const int k = m != nullptr ? m->attr_no : 0;
  for (int i = 1; i <= vector_arity(vec); i++)
    if (i != k && slot_filled(vec, i))
      return 0;
  return 1;
}

int single_attribute(TAGGED var, mod_def *m)
{
  TAGGED v = deref(var);
  if (!IsVar(v) || m == nullptr || m->attr_no <= 0)
    return 0;
  const TAGGED *cell = TagToRef(v);
  if (self == nullptr || !is_cva(self, v))
    return 0;
  const TAGGED *vec = vector_of(cell);
  return vec != nullptr && slot_filled(vec, m->attr_no) && pure_attributes(v, m);
}

TAGGED wrap_goal(worker *w, TAGGED goal, definition *def)
{
  TAGGED *h = w->global_top;
  h[0] = functor_Dapply3;
  h[1] = goal;
  h[2] = def != nullptr && def->module != nullptr ? def->module->name : MakeAtom(atom_prolog_enum);
  h[3] = PointerToTerm(h + 3);
  w->global_top = h + 4;
  return MakeSTR(h);
}

void suspend_goal(worker *w, TAGGED wrapped, TAGGED var)
{
  TAGGED v = deref(var);
  TAGGED *cell = TagToRef(v);
  if (is_cva(w, v)) {
    TAGGED *l = list_cell(w, wrapped, cell[2]);
    if (cell >= w->global_uncond)
      cell[2] = MakeLST(l);
    else
      replace_cva(w, cell, new_cva(w, cell[1], MakeLST(l)));
    return;
  }
  TAGGED *l = list_cell(w, wrapped, atom_nil);
  bind_plain(w, cell, PointerToTerm(new_cva(w, atom_nil, MakeLST(l))));
}

void trail_attr_change(worker *w, TAGGED var)
{
  if (reinterpret_cast<TAGGED *>(w->node_) - w->trail_top < TRAIL_MARGIN)
    choice_overflow(w, TRAIL_MARGIN);
  TAGGED *hole = w->trail_top++;
  if (w->heap_warn_soft == nullptr && w->wake_count != 0) {
    /* Walk down over the pending wake-ups, moving each up into the hole
       above it; mutable entries (3 words, a small integer on top) and other
       entries stay where they are. */
    std::uint32_t moved = 0;
    TAGGED *p = hole;
    TAGGED *const low = w->trail_start + 1;
    while (moved < w->wake_count && p > low) {
      TAGGED t = p[-1];
      if (trail_ends_mutable(t) && p - TRAIL_MUTABLE_WORDS >= low) {
        p -= TRAIL_MUTABLE_WORDS;
        continue;
      }
      p--;
      if (trail_is_binding(t) && is_constrained_cell(w, TagToRef(t))) {
        *hole = t;
        hole = p;
        moved++;
      }
    }
  }
  *hole = var;
}

/* ---- Built-ins ---- */

int prolog_get_attributes(worker *w, mod_def *m)
{
  TAGGED v = deref(w->term[0]);
  if (!IsVar(v))
    return not_a_variable(v, m->name, "$get_attributes", 3);
  const int k = m->attr_no;
  if (is_cva(w, v)) {
    TAGGED *vec = vector_of(TagToRef(v));
    if (vec != nullptr && k >= 1 && k <= vector_arity(vec)) {
      if (!IsVar(deref(w->term[1])))
        return 0;
      TAGGED slot = deref(vec[k]);
      if (!cunify(w, w->term[1], slot))
        return 0;
      TAGGED arg = small_zero;
      if (IsStructure(slot) && IsFunctor(TagToSTR(slot)[0]))
        arg = TagToSTR(slot)[1];
      else if (IsList(slot))
        arg = TagToLST(slot)[0];
      return cunify(w, w->term[2], arg);
    }
  }
  return cunify(w, w->term[2], small_zero);
}

int prolog_put_attributes(worker *w, mod_def *m)
{
  TAGGED v = deref(w->term[0]);
  if (!IsVar(v))
    return not_a_variable(v, m->name, "$put_attributes", 2);
  TAGGED a = deref(w->term[1]);
  if (IsStructure(a) && IsFunctor(TagToSTR(a)[0]) && deref(TagToSTR(a)[1]) == small_zero)
    delete_attributes(w, v, m, 2);
  else
    put_attributes(w, v, a, m);
  return 1;
}

int prolog_delete_attributes(worker *w, mod_def *m)
{
  TAGGED v = deref(w->term[0]);
  if (!IsVar(v))
    return not_a_variable(v, m->name, "$delete_attributes", 1);
  delete_attributes(w, v, m, 1);
  return 1;
}

int prolog_save_attribute_info(worker *w)
{
  TAGGED name = deref(w->term[0]);
  if (!IsAtom(name))
    return 0;
  mod_def *m = find_module(name, 1);
  return m != nullptr && save_attribute_info(m);
}

int prolog_get_cva(worker *w)
{
  TAGGED v = deref(w->term[0]);
  if (!IsVar(v))
    return not_a_variable(v, MakeAtom(atom_prolog_enum), "$get_cva", 3);
  if (is_cva(w, v)) {
    TAGGED *cell = TagToRef(v);
    return cunify(w, w->term[1], cell[1]) && cunify(w, w->term[2], cell[2]);
  }
  return cunify(w, w->term[1], atom_nil) && cunify(w, w->term[2], atom_nil);
}

int prolog_put_cva(worker *w)
{
  TAGGED v = deref(w->term[0]);
  if (!IsVar(v))
    return 0;
  TAGGED a = heap_value(w, w->term[1]);
  TAGGED g = heap_value(w, w->term[2]);
  TAGGED *cell = TagToRef(v);
  const bool empty = a == atom_nil && g == atom_nil;
  if (is_cva(w, v)) {
    /* The replacement goes through trail_attr_change, not a plain trail
       push: with a wake-up pending, a plain entry for a constrained cell
       would be taken by the collector for that wake-up. */
    if (empty) {
      if (cell < w->global_uncond) {
        TAGGED *h = w->global_top++;
        *h = PointerToTerm(h);
        replace_cva(w, cell, h);
      } else {
        cell[-1] = atom_nil;
      }
    } else if (cell < w->global_uncond) {
      replace_cva(w, cell, new_cva(w, a, g));
    } else {
      cell[1] = a;
      cell[2] = g;
    }
    return 1;
  }
  if (!empty)
    bind_plain(w, cell, PointerToTerm(new_cva(w, a, g)));
  return 1;
}

int prolog_get_attribute_modules(worker *w)
{
  TAGGED vec = deref(w->term[0]);
  TAGGED result = atom_nil;
  if (IsStructure(vec) && FunctorName(TagToSTR(vec)[0]) == atom_nil) {
    TAGGED *vp = TagToSTR(vec);
    TAGGED *tail = &result;
    for (int i = 1; i <= vector_arity(vp); i++) {
      if (!slot_filled(vp, i))
        continue;
      TAGGED *l = list_cell(w, attribute_module_name(i), atom_nil);
      *tail = MakeLST(l);
      tail = &l[1];
    }
  } else if (vec != atom_nil) {
    return 0;
  }
  return cunify(w, w->term[1], result);
}

int prolog_get_all_attribute_modules(worker *w)
{
  TAGGED result = atom_nil;
  for (int i = attr_count; i >= 1; i--)
    result = MakeLST(list_cell(w, attr_names[i - 1], result));
  return cunify(w, w->term[0], result);
}

namespace {

/* The heap address a mark term stands for, null when it stands for none. */
TAGGED *mark_address(worker *w, TAGGED mark)
{
  TAGGED t = deref(mark);
  TAGGED *p;
  if (IsVar(t))
    p = TagToRef(t);
  else if (IsComplex(t))
    p = TagToPointer(t);
  else
    return nullptr;
  if (p < w->heap_start || p > w->global_top)
    return nullptr;
  return p;
}

/* Steps over the heap from `from` to `to` by kind, calling found(cell) for
   each unbound constrained variable.  Box payloads and structure arguments
   are skipped whole, so a digit that happens to read -1 is never taken for
   a marker. */
template <typename F> void scan_heap(TAGGED *from, TAGGED *to, F &&found)
{
  TAGGED *p = from;
  while (p < to) {
    TAGGED t = *p;
    if (t == CVA_MARKER) {
      TAGGED *cell = p + 1;
      if (cell < to && *cell == PointerToTerm(cell))
        found(cell);
      p += 4;
    } else if (IsFunctor(t)) {
      p += 1 + Arity(t);
    } else if ((t & 7) == ATOM_TAG && static_cast<std::int32_t>(t) < 0) {
      p += BoxWords(t) + 1;
    } else {
      p++;
    }
  }
}

} // namespace

int prolog_constraint_list(worker *w)
{
  TAGGED *mark = mark_address(w, w->term[0]);
  if (mark == nullptr)
    return 0;
  int count = 0;
  scan_heap(mark, w->global_top, [&](TAGGED *) { count++; });
  if (heap_short(w, 2 * count + 128)) {
    call_overflow(w, 2 * count + 128, 2);
    mark = mark_address(w, w->term[0]);
    if (mark == nullptr)
      return 0;
  }
  TAGGED result = atom_nil;
  TAGGED *tail = &result;
  TAGGED *top = w->global_top;
  scan_heap(mark, top, [&](TAGGED *cell) {
    TAGGED *l = list_cell(w, PointerToTerm(cell), atom_nil);
    *tail = MakeLST(l);
    tail = &l[1];
  });
  return cunify(w, w->term[1], result);
}

int prolog_disjunctive_geler(worker *w)
{
  TAGGED vars = deref(w->term[0]);
  int length = 0;
  if (IsList(vars)) {
    for (TAGGED l = vars; IsList(l); l = deref(TagToLST(l)[1])) {
      if (!IsVar(deref(TagToLST(l)[0])))
        return 0;
      length++;
    }
  }
  const int need = IsList(vars) ? 5 * length + 132 : 132;
  if (heap_short(w, need)) {
    call_overflow(w, need, 2);
    vars = deref(w->term[0]);
  }
  if (!IsList(vars))
    return 1;
  TAGGED goal = heap_value(w, w->term[1]);
  definition *def = nullptr;
  if (IsAtom(goal) || IsList(goal) || (IsStructure(goal) && IsFunctor(TagToSTR(goal)[0])))
    def = find_definition(eglobal->prolog_module, goal, nullptr, 0);
  TAGGED wrapped = wrap_goal(w, goal, def);
  for (TAGGED l = vars; IsList(l); l = deref(TagToLST(l)[1]))
    suspend_goal(w, wrapped, TagToLST(l)[0]);
  return 1;
}
