/* indexical_store.cpp: installing compiled indexicals as the code of FD
 * predicates, finding, retiring and freeing them, and carrying them
 * through saved states (see indexical_store.h).
 *
 * $fd_install/5 builds the whole new list and checks it (ix_check_code,
 * the interpreter's own check) before it touches the predicate, so a
 * refused definition leaves the old one in place and leaks nothing; the
 * restore hook passes what it reads through the same check.  A list
 * replaced or discarded is retired, not freed, while items posted from it
 * may still run.  Engine thread only.
 */
#include "indexical_store.h"

#include <vector>

#include "fd_errors.h"
#include "indexical_interpreter.h"
#include "modules.h"
#include "saved_state.h"
#include "sw_on_key.h"

namespace {

constexpr const char *INSTALL = "$fd_install";
constexpr int INSTALL_ARITY = 5;

inline TAGGED &slot(worker *w, VR_term_ref r) { return w->fli_stack_start[r].term; }
inline TAGGED arg(TAGGED t, int i) { return deref(TagToSTR(t)[i]); }

template <typename F> F support(VREnv *env, vr_api_fn DISPATCH_TABLE_STRUCT_SUPPORT_H::*s)
{
  return reinterpret_cast<F>(env->dispatch_API_SUPPORT_H->*s);
}

inline bool fixed_constant(TAGGED t) { return ix_fixed_constant(t); }
constexpr TAGGED atom_inf = MakeAtom(5), atom_sup = MakeAtom(6);

/* ---- Literal blocks ---- */

inline bool is_set_block(TAGGED entry) { return IsStructure(entry); }
inline bool is_table(TAGGED entry) { return IsList(entry); }
inline std::size_t block_bytes(TAGGED header)
{
  return static_cast<std::size_t>(-(static_cast<std::int32_t>(header) >> 4)) * 4;
}
inline TAGGED set_header(unsigned n) { return static_cast<TAGGED>(-static_cast<std::int32_t>(64 * n + 9)); }
inline sw_on_key *table_of(TAGGED entry) { return reinterpret_cast<sw_on_key *>(entry - 2); }

/* Links the list and interval cells of a block of n intervals whose
   interval cells are filled. */
void link_set_block(TAGGED *block, unsigned n)
{
  for (unsigned i = 0; i < n; i++) {
    TAGGED *cell = block + 1 + 4 * i;
    cell[0] = MakeLST(cell + 2);
    cell[1] = i + 1 < n ? MakeLST(cell + 4) : atom_nil;
  }
}

/* A set block's intervals are canonical: ascending, disjoint, not
   adjacent, inf and sup only at the ends. */
bool canonical_block(const TAGGED *block, unsigned n)
{
  for (unsigned i = 0; i < n; i++) {
    const TAGGED lo = block[3 + 4 * i], hi = block[4 + 4 * i];
    const bool lo_ok = IsSmall(lo) || (lo == atom_inf && i == 0);
    const bool hi_ok = IsSmall(hi) || (hi == atom_sup && i + 1 == n);
    if (!lo_ok || !hi_ok || (IsSmall(lo) && IsSmall(hi) && GetSmall(lo) > GetSmall(hi)))
      return false;
    if (i > 0 && (!IsSmall(lo) || !IsSmall(block[4 * i]) || GetSmall(lo) <= GetSmall(block[4 * i]) + 1))
      return false;
  }
  return true;
}

/* The elements of a list, at most limit of them, into out; the rest of
   the list (dereferenced): [] for a proper list. */
TAGGED list_items(TAGGED l, std::vector<TAGGED> &out, std::size_t limit)
{
  out.clear();
  TAGGED t = deref(l);
  while (IsList(t) && out.size() < limit) {
    out.push_back(deref(TagToLST(t)[0]));
    t = deref(TagToLST(t)[1]);
  }
  return t;
}

void free_literal(VREnv *env, TAGGED entry)
{
  if (is_set_block(entry)) {
    TAGGED *block = TagToSTR(entry);
    fd_checkdealloc(env, block, block_bytes(*block), 1);
  } else if (is_table(entry)) {
    support<void (*)(sw_on_key *)>(env, &DISPATCH_TABLE_STRUCT_SUPPORT_H::pdispose_switch_on_key)(table_of(entry));
  }
}

template <typename T> T *alloc_words(VREnv *env, unsigned n)
{
  return n == 0 ? nullptr : static_cast<T *>(fd_checkalloc(env, n * sizeof(T), 0));
}
template <typename T> void free_words(VREnv *env, T *p, unsigned n)
{
  if (p != nullptr)
    fd_checkdealloc(env, p, n * sizeof(T), 0);
}

/* ---- Reading the compiler's terms ---- */

struct reader {
  VREnv *env;
  fd_state *fd;
  TAGGED culprit = 0;
  const char *why = nullptr;

  bool fail(TAGGED t, const char *reason)
  {
    culprit = t;
    why = reason;
    return false;
  }

  /* A proper list of exactly n elements into out. */
  bool list(TAGGED l, TAGGED n, std::vector<TAGGED> &out, unsigned limit)
  {
    if (!IsSmall(n) || GetSmall(n) < 0 || static_cast<unsigned>(GetSmall(n)) > limit)
      return fail(n, "a length out of range");
    out.clear();
    if (list_items(l, out, limit + 1) != atom_nil || out.size() != static_cast<std::size_t>(GetSmall(n)))
      return fail(l, "a list that does not match its length");
    return true;
  }

  bool set_literal(TAGGED intervals, TAGGED *entry)
  {
    std::vector<TAGGED> items;
    if (list_items(intervals, items, FD_IX_MAX_LITERALS) != atom_nil)
      return fail(intervals, "an FD set that is not a proper list");
    if (items.empty()) {
      *entry = atom_nil;
      return true;
    }
    for (TAGGED iv : items)
      if (!IsList(iv))
        return fail(iv, "an interval that is not [Lo|Hi]");
    const unsigned n = static_cast<unsigned>(items.size());
    auto *block = static_cast<TAGGED *>(fd_checkalloc(env, 16 * n + 4, 1));
    block[0] = set_header(n);
    for (unsigned i = 0; i < n; i++) {
      block[3 + 4 * i] = deref(TagToLST(items[i])[0]);
      block[4 + 4 * i] = deref(TagToLST(items[i])[1]);
    }
    link_set_block(block, n);
    *entry = MakeSTR(block);
    return canonical_block(block, n) || fail(intervals, "an FD set out of order");
  }

  bool table_literal(TAGGED pairs, TAGGED *entry)
  {
    std::vector<TAGGED> items;
    if (list_items(pairs, items, FD_IX_MAX_CODE) != atom_nil)
      return fail(pairs, "a table that is not a proper list");
    const TAGGED minus = MakeFunctor(env->dispatch_API_VOSTREL_H->pVR_atom_from_string("-"), 2);
    for (TAGGED p : items) {
      if (!IsStructure(p) || *TagToSTR(p) != minus || !fixed_constant(arg(p, 1)) || !IsSmall(arg(p, 2)) ||
          GetSmall(arg(p, 2)) < 0)
        return fail(p, "a table entry that is not Key-Offset");
    }
    auto *sw = support<sw_on_key *(*)(int, void *)>(env, &DISPATCH_TABLE_STRUCT_SUPPORT_H::pnew_switch_on_key)(
        2, nullptr);
    auto puthash = support<sw_on_key_node *(*)(sw_on_key **, TAGGED)>(env, &DISPATCH_TABLE_STRUCT_SUPPORT_H::pdyn_puthash);
    for (TAGGED p : items)
      puthash(&sw, arg(p, 1))->value.word = arg(p, 2);
    *entry = PointerToTerm(sw) + 2;
    return true;
  }

  bool literal(TAGGED l, TAGGED *entry)
  {
    if (IsStructure(l)) {
      const TAGGED f = *TagToSTR(l);
      if (IsFunctor(f) && Arity(f) == 1)
        return f == fd->token_d ? set_literal(arg(l, 1), entry) : table_literal(arg(l, 1), entry);
    }
    if (!fixed_constant(l))
      return fail(l, "a literal that is neither an FD set, a table nor a constant");
    *entry = l;
    return true;
  }

  bool code_word(TAGGED w, const indexical_info *ix, ix_byte *out)
  {
    if (IsSmall(w)) {
      *out = static_cast<ix_byte>(GetSmall(w));
      return true;
    }
    if (!IsStructure(w) || !IsFunctor(*TagToSTR(w)) || Arity(*TagToSTR(w)) != 1 ||
        !IsSmall(arg(w, 1)) || GetSmall(arg(w, 1)) < 0)
      return fail(w, "a code word that is neither an integer nor a(N), l(N), t(N), d(N), h(N)");
    const TAGGED f = *TagToSTR(w);
    const auto k = static_cast<unsigned>(GetSmall(arg(w, 1)));
    if (f == fd->token_a || f == fd->token_l) {
      *out = k;
      return true;
    }
    if (f != fd->token_t && f != fd->token_d && f != fd->token_h)
      return fail(w, "a code word that is neither an integer nor a(N), l(N), t(N), d(N), h(N)");
    if (k >= ix->length_of_literals)
      return fail(w, "a reference to a literal that does not exist");
    const TAGGED e = ix->literals[k];
    if (f == fd->token_t)
      *out = e;
    else if (f == fd->token_d)
      *out = is_set_block(e) ? e + 5 : e;
    else if (is_table(e))
      *out = PointerToTerm(table_of(e));
    else
      return fail(w, "a table reference to a literal that is no table");
    return true;
  }

  /* One record from i/7; false leaves a record that free_fd_info can
     free. */
  bool record(TAGGED info, indexical_info *ix, unsigned arity)
  {
    if (!IsStructure(info) || !IsFunctor(*TagToSTR(info)) || Arity(*TagToSTR(info)) != 7)
      return fail(info, "an indexical that is not a term of arity 7");
    std::vector<TAGGED> items;
    if (!list(arg(info, 1), arg(info, 2), items, FD_IX_MAX_LINKAGE))
      return false;
    ix->linkage = alloc_words<ix_byte>(env, static_cast<unsigned>(items.size()));
    ix->length_of_linkage = static_cast<unsigned>(items.size());
    const TAGGED minus = MakeFunctor(env->dispatch_API_VOSTREL_H->pVR_atom_from_string("-"), 2);
    for (std::size_t i = 0; i < items.size(); i++) {
      const TAGGED p = items[i];
      if (!IsStructure(p) || *TagToSTR(p) != minus || !IsSmall(arg(p, 1)) || !IsSmall(arg(p, 2)) ||
          GetSmall(arg(p, 1)) < 0 || static_cast<unsigned>(GetSmall(arg(p, 1))) >= arity || GetSmall(arg(p, 2)) < 0 ||
          GetSmall(arg(p, 2)) > 31)
        return fail(p, "a linkage that is not ArgIndex-Key with an argument of the predicate");
      ix->linkage[i] = static_cast<ix_byte>(GetSmall(arg(p, 1)) * 256 + GetSmall(arg(p, 2)));
    }
    const TAGGED pruned = arg(info, 3);
    if (!IsSmall(pruned) || GetSmall(pruned) < 0 || static_cast<unsigned>(GetSmall(pruned)) >= arity)
      return fail(pruned, "a pruned argument that is not an argument of the predicate");
    ix->pruned = static_cast<unsigned>(GetSmall(pruned));

    if (!list(arg(info, 6), arg(info, 7), items, FD_IX_MAX_LITERALS))
      return false;
    /* Constants until built, so that a refusal half-way frees it whole. */
    ix->literals = alloc_words<TAGGED>(env, static_cast<unsigned>(items.size()));
    ix->length_of_literals = static_cast<unsigned>(items.size());
    for (std::size_t i = 0; i < items.size(); i++)
      ix->literals[i] = atom_nil;
    for (std::size_t i = 0; i < items.size(); i++)
      if (!literal(items[i], &ix->literals[i]))
        return false;

    if (!list(arg(info, 4), arg(info, 5), items, FD_IX_MAX_CODE))
      return false;
    ix->code = alloc_words<ix_byte>(env, static_cast<unsigned>(items.size()));
    ix->length_of_bytecode = static_cast<unsigned>(items.size());
    for (std::size_t i = 0; i < items.size(); i++)
      if (!code_word(items[i], ix, &ix->code[i]))
        return false;
    const char *fault = nullptr;
    unsigned where = 0;
    if (!ix_check_code(ix->code, ix->length_of_bytecode, ix->literals, ix->length_of_literals, arity, &fault,
                       &where))
      return fail(info, fault);
    return true;
  }
};

indexical_info *new_record(VREnv *env, definition *d, int type)
{
  auto *ix = static_cast<indexical_info *>(fd_checkalloc(env, sizeof(indexical_info), 0));
  ix->pred = d;
  ix->linkage = nullptr;
  ix->length_of_linkage = ix->length_of_bytecode = ix->length_of_literals = 0;
  ix->pruned = 0;
  ix->checking = (type >> 1) & 1;
  ix->truth_value = type & 1;
  ix->posted = 0;
  ix->code = nullptr;
  ix->literals = nullptr;
  ix->next = nullptr;
  return ix;
}

} // namespace

/* ---- The store ---- */

void init_fd_constraint(VREnv *env, definition *d)
{
  auto *info = static_cast<fd_info *>(fd_checkalloc(env, sizeof(fd_info), 0));
  for (void *&s : info->indexical)
    s = nullptr;
  d->proc.code.fdinfo = info;
  support<void (*)(definition *, int)>(env, &DISPATCH_TABLE_STRUCT_SUPPORT_H::pupdate_exports)(d, FD_CONSTRAINT);
}

void free_fd_info(VREnv *env, indexical_info **head)
{
  for (indexical_info *ix = *head; ix != nullptr;) {
    indexical_info *next = ix->next;
    free_words(env, ix->linkage, ix->length_of_linkage);
    free_words(env, ix->code, ix->length_of_bytecode);
    for (unsigned i = 0; i < ix->length_of_literals; i++)
      free_literal(env, ix->literals[i]);
    free_words(env, ix->literals, ix->length_of_literals);
    fd_checkdealloc(env, ix, sizeof(indexical_info), 0);
    ix = next;
  }
  *head = nullptr;
}

namespace {

/* Records taken out of use while items may still point at them, per
   solver instance.  An ix/7 item names its record by address and lives on
   the heap, where nothing tells when the last one is gone; the records
   therefore stay until the solver unloads (fd_deinitialize), which no
   item outlives.  Only records that were posted are kept, so reloading
   definitions that were never used costs nothing. */
struct retired_list {
  VREnv *env;
  indexical_info *head;
};
std::vector<retired_list> retired;

} // namespace

void retire_fd_info(VREnv *env, indexical_info **head)
{
  indexical_info *kept = nullptr;
  for (indexical_info *ix = *head; ix != nullptr;) {
    indexical_info *next = ix->next;
    ix->next = nullptr;
    if (ix->posted) {
      ix->next = kept;
      kept = ix;
    } else {
      free_fd_info(env, &ix);
    }
    ix = next;
  }
  *head = nullptr;
  if (kept == nullptr)
    return;
  for (retired_list &r : retired)
    if (r.env == env) {
      indexical_info *last = kept;
      while (last->next != nullptr)
        last = last->next;
      last->next = r.head;
      r.head = kept;
      return;
    }
  retired.push_back({env, kept});
}

void free_retired_indexicals(VREnv *env)
{
  for (std::size_t i = 0; i < retired.size(); i++)
    if (retired[i].env == env) {
      free_fd_info(env, &retired[i].head);
      retired.erase(retired.begin() + static_cast<std::ptrdiff_t>(i));
      return;
    }
}

void clpfd::fd_destructor_hook(void *cookie, void *list_head)
{
  auto *head = static_cast<indexical_info *>(list_head);
  retire_fd_info(static_cast<VREnv *>(cookie), &head);
}

/* ---- Built-ins ---- */

void prolog_fd_install_vrenv_multi_vr(VREnv *env, VR_term_ref spec_, VR_term_ref module_, VR_term_ref type_,
                                      VR_term_ref length_, VR_term_ref infos_)
{
  worker *w = fd_current_worker(env);
  fd_state *fd = fd_state_of(env);
  const TAGGED spec = deref(slot(w, spec_)), module = deref(slot(w, module_));
  const TAGGED type = deref(slot(w, type_)), length = deref(slot(w, length_));
  const TAGGED slash = MakeFunctor(env->dispatch_API_VOSTREL_H->pVR_atom_from_string("/"), 2);
  if (!IsStructure(spec) || *TagToSTR(spec) != slash || !IsAtom(arg(spec, 1)) || !IsSmall(arg(spec, 2)) ||
      GetSmall(arg(spec, 2)) < 0 || GetSmall(arg(spec, 2)) > static_cast<VR_INTEGER>(FD_IX_MAX_ARITY)) {
    fd_raise_type_error(env, "predicate_indicator", spec, INSTALL, INSTALL_ARITY);
    return;
  }
  if (!IsAtom(module)) {
    fd_raise_type_error(env, "atom", module, INSTALL, INSTALL_ARITY);
    return;
  }
  if (!IsSmall(type) || GetSmall(type) < 0 || GetSmall(type) > 3) {
    fd_raise_domain_error(env, "indexical_type", type, INSTALL, INSTALL_ARITY);
    return;
  }
  const TAGGED name = arg(spec, 1);
  const auto arity = static_cast<unsigned>(GetSmall(arg(spec, 2)));
  const int t = static_cast<int>(GetSmall(type));

  /* The predicate: made an FD predicate only once the list is good. */
  mod_def *m = fd_find_module(env, module, 1);
  fd_heap_room(env, w, static_cast<long>(arity) + 1 + 128);
  TAGGED goal = name;
  if (arity > 0) {
    TAGGED *h = w->global_top;
    w->global_top = h + arity + 1;
    h[0] = MakeFunctor(name, arity);
    for (unsigned i = 1; i <= arity; i++)
      h[i] = PointerToTerm(h + i);
    goal = MakeSTR(h);
  }
  TAGGED *args = nullptr;
  definition *d = support<definition *(*)(mod_def *, TAGGED, TAGGED **, int)>(
      env, &DISPATCH_TABLE_STRUCT_SUPPORT_H::pfind_definition)(m, goal, &args, 1);
  const unsigned kind = d != nullptr ? predtyp(d) : static_cast<unsigned>(ENTER_UNDEFINED);
  if (d == nullptr || (kind != ENTER_UNDEFINED && kind != FD_CONSTRAINT) || d->defined_in != m ||
      d->imported_from != m) {
    /* The room check may have moved the heap: the spec again. */
    fd_raise_permission_error(env, "modify", "procedure", deref(slot(w, spec_)), INSTALL, INSTALL_ARITY);
    return;
  }

  reader r{env, fd};
  std::vector<TAGGED> infos;
  indexical_info *list = nullptr, **tail = &list;
  bool good = r.list(slot(w, infos_), length, infos, FD_IX_MAX_CODE);
  for (std::size_t i = 0; good && i < infos.size(); i++) {
    indexical_info *ix = new_record(env, d, t);
    *tail = ix;
    tail = &ix->next;
    good = r.record(infos[i], ix, arity);
  }
  if (!good) {
    free_fd_info(env, &list);
    fd_raise_domain_error(env, r.why, r.culprit, INSTALL, INSTALL_ARITY);
    return;
  }
  if (predtyp(d) == FD_CONSTRAINT) {
    auto *old = static_cast<indexical_info *>(d->proc.code.fdinfo->indexical[t]);
    retire_fd_info(env, &old);
  } else {
    init_fd_constraint(env, d);
  }
  d->proc.code.fdinfo->indexical[t] = list;
}

void prolog_fd_find_definition_vrenv_multi_vr(VREnv *env, VR_term_ref goal_, VR_term_ref module_,
                                              VR_term_ref definition_)
{
  worker *w = fd_current_worker(env);
  const TAGGED goal = deref(slot(w, goal_)), module = deref(slot(w, module_));
  TAGGED result = MakeSmall_checked(0);
  const bool callable = IsAtom(goal) || (IsStructure(goal) && IsFunctor(*TagToSTR(goal)));
  if (callable && IsAtom(module)) {
    if (mod_def *m = fd_find_module(env, module, 0)) {
      TAGGED *args = nullptr;
      definition *d = support<definition *(*)(mod_def *, TAGGED, TAGGED **, int)>(
          env, &DISPATCH_TABLE_STRUCT_SUPPORT_H::pfind_definition)(m, goal, &args, 0);
      if (d != nullptr && predtyp(d) == FD_CONSTRAINT && d->proc.code.fdinfo != nullptr)
        result = fd_handle_word(d);
    }
  }
  if (!fd_cunify(env, w, slot(w, definition_), result))
    env->dispatch_API_VOSTREL_H->pVR_fail();
}

void prolog_fd_indexical_data_vrenv_multi_vr(VREnv *env, VR_term_ref handle_, VR_term_ref type_,
                                             VR_term_ref module_)
{
  worker *w = fd_current_worker(env);
  const TAGGED handle = deref(slot(w, handle_));
  if (!IsSmall(handle)) {
    fd_raise_type_error(env, "integer", handle, "$fd_indexical_data", 3);
    return;
  }
  const auto *ix = static_cast<const indexical_info *>(fd_handle_pointer(handle));
  const TAGGED type = MakeSmall_checked(static_cast<VR_INTEGER>(ix->checking * 2 + ix->truth_value));
  if (!fd_cunify(env, w, slot(w, type_), type) || !fd_cunify(env, w, slot(w, module_), ix->pred->module->name))
    env->dispatch_API_VOSTREL_H->pVR_fail();
}

/* ---- Saved states ---- */

namespace {

/* In the relative form an FD-set operand of instruction 41 is its literal
   index times 4: the low bits 00 keep it apart from a constant operand
   (low bits 11), which stays as it is; a bare index would read as the
   constant 0 when it is 3. */
constexpr ix_byte relative_set(unsigned index) { return static_cast<ix_byte>(index) << 2; }

/* The bytes of a literal block, or 0 for a constant. */
std::size_t literal_bytes(TAGGED entry)
{
  if (is_set_block(entry))
    return block_bytes(*TagToSTR(entry));
  if (is_table(entry))
    return sw_on_key_bytes(sw_slots(table_of(entry)));
  return 0;
}

/* A table read from a state: its mask, count and keys as dyn_puthash
   leaves them, every key a constant a state keeps, every value an
   offset. */
bool sound_table(const sw_on_key *sw, std::uint32_t slots)
{
  if (sw->mask != 8 * (slots - 1) || sw->count < 0 || static_cast<std::uint32_t>(sw->count) >= slots)
    return false;
  std::int32_t keyed = 0;
  for (std::uint32_t i = 0; i < slots; i++) {
    if (sw->tab[i].key == 0)
      continue;
    keyed++;
    if (!fixed_constant(sw->tab[i].key) || !IsSmall(sw->tab[i].value.word))
      return false;
  }
  return keyed == sw->count;
}

} // namespace

bool relocate_bytecode(ix_byte *code, unsigned length, const TAGGED *literals, unsigned n_literals,
                       bool to_relative)
{
  for (unsigned pc = 0; pc < length;) {
    const ix_byte c = code[pc];
    const unsigned k = ix_operand_words(code, pc, length);
    if (pc + k >= length && k > 0)
      return false;
    if (c == 41 || c == 69) {
      ix_byte &op = code[pc + 1];
      if (to_relative) {
        if (c == 69 || !fixed_constant(op)) {
          unsigned j = 0;
          while (j < n_literals && !(c == 41 ? is_set_block(literals[j]) && literals[j] + 5 == op
                                             : is_table(literals[j]) && PointerToTerm(table_of(literals[j])) == op))
            j++;
          if (j == n_literals)
            return false;
          op = c == 41 ? relative_set(j) : j;
        }
      } else if (c == 69 || (op & 3) == 0) {
        const unsigned j = c == 41 ? op >> 2 : op;
        if (j >= n_literals || (c == 41 ? !is_set_block(literals[j]) : !is_table(literals[j])))
          return false;
        op = c == 41 ? literals[j] + 5 : PointerToTerm(table_of(literals[j]));
      }
    }
    pc += 1 + k;
  }
  return true;
}

int clpfd::fd_save_hook(void *cookie, saverest_record *rec, definition *d,
                        int (*write)(const void *, std::size_t, saverest_info *), saverest_info *info)
{
  auto *env = static_cast<VREnv *>(cookie);
  if (predtyp(d) != FD_CONSTRAINT || d->proc.code.fdinfo == nullptr)
    return 0;
  bool good = true;
  auto put = [&](const void *p, std::size_t n) {
    if (n > 0 && write(p, n, info) != static_cast<int>(n))
      good = false;
  };
  for (int t = 0; t < 4; t++) {
    for (const indexical_info *ix = fd_indexicals(d, t); ix != nullptr; ix = ix->next) {
      rec->tag = sr_data_fd;
      rec->body[0] = PointerToTerm(d);
      rec->body[1] = ix->truth_value + ix->checking * 2 + ix->length_of_linkage * 4 + ix->pruned * 1024;
      rec->body[2] = ix->length_of_bytecode;
      rec->body[3] = ix->length_of_literals;
      rec->body[4] = rec->body[5] = 0;
      put(rec, sizeof *rec);
      put(ix->linkage, 4 * static_cast<std::size_t>(ix->length_of_linkage));
      std::vector<TAGGED> vector(ix->literals, ix->literals + ix->length_of_literals);
      for (TAGGED &e : vector)
        if (const std::size_t bytes = literal_bytes(e))
          e = static_cast<TAGGED>(bytes) + (is_set_block(e) ? 1 : 2);
      put(vector.data(), 4 * vector.size());
      for (unsigned i = 0; i < ix->length_of_literals; i++) {
        const TAGGED e = ix->literals[i];
        if (is_set_block(e))
          put(TagToSTR(e), literal_bytes(e));
        else if (is_table(e))
          put(table_of(e), literal_bytes(e));
      }
      std::vector<ix_byte> code(ix->code, ix->code + ix->length_of_bytecode);
      if (!relocate_bytecode(code.data(), ix->length_of_bytecode, ix->literals, ix->length_of_literals, true))
        good = false;
      put(code.data(), 4 * code.size());
    }
  }
  (void)env;
  return good ? 0 : -1;
}

int clpfd::fd_restore_hook(void *cookie, saverest_record *rec, int (*read)(void *, std::size_t, saverest_info *),
                           saverest_info *info)
{
  auto *env = static_cast<VREnv *>(cookie);
  auto *d = reinterpret_cast<definition *>(rec->body[0]);
  const std::uint32_t word = rec->body[1];
  const int type = static_cast<int>(word & 3);
  const unsigned arity = static_cast<unsigned>(d->proc.arity);
  indexical_info *ix = new_record(env, d, type);
  indexical_info *single = ix;
  auto refuse = [&] {
    free_fd_info(env, &single);
    return -1;
  };
  ix->pruned = (word >> 10) & 0xFF;
  const unsigned n_link = (word >> 2) & 0xFF, n_code = rec->body[2], n_lits = rec->body[3];
  if ((word >> 18) != 0 || ix->pruned >= arity || n_code == 0 || n_code > FD_IX_MAX_CODE ||
      n_lits > FD_IX_MAX_LITERALS)
    return refuse();
  ix->linkage = alloc_words<ix_byte>(env, n_link);
  ix->length_of_linkage = n_link;
  if (n_link > 0 && !read(ix->linkage, 4 * static_cast<std::size_t>(n_link), info))
    return refuse();
  for (unsigned i = 0; i < n_link; i++)
    if ((ix->linkage[i] >> 8) >= arity || (ix->linkage[i] & 0xFF) > 31)
      return refuse();
  std::vector<TAGGED> vector(n_lits);
  if (n_lits > 0 && !read(vector.data(), 4 * static_cast<std::size_t>(n_lits), info))
    return refuse();
  ix->literals = alloc_words<TAGGED>(env, n_lits);
  ix->length_of_literals = n_lits;
  for (unsigned i = 0; i < n_lits; i++)
    ix->literals[i] = IsAtomic(vector[i]) ? vector[i] : atom_nil;
  for (unsigned i = 0; i < n_lits; i++) {
    const TAGGED v = vector[i];
    if (IsAtomic(v)) {
      if (!fixed_constant(v))
        return refuse();
    } else if ((v & 3) == 1) {
      const std::size_t bytes = v - 1;
      if (bytes < 20 || bytes > 16 * static_cast<std::size_t>(FD_IX_MAX_LITERALS) + 4 || (bytes - 4) % 16 != 0)
        return refuse();
      const auto n = static_cast<unsigned>((bytes - 4) / 16);
      auto *block = static_cast<TAGGED *>(fd_checkalloc(env, bytes, 1));
      block[0] = set_header(n); /* freeable whatever is read */
      ix->literals[i] = MakeSTR(block);
      if (!read(block, bytes, info) || block[0] != set_header(n)) {
        block[0] = set_header(n);
        return refuse();
      }
      link_set_block(block, n);
      if (!canonical_block(block, n))
        return refuse();
    } else if ((v & 3) == 2) {
      const std::size_t bytes = v - 2;
      if (bytes < sw_on_key_bytes(2) || (bytes - 8) % 8 != 0 || bytes > sw_on_key_bytes(FD_IX_MAX_CODE * 2))
        return refuse();
      const auto slots = static_cast<std::uint32_t>((bytes - 8) / 8);
      if ((slots & (slots - 1)) != 0)
        return refuse();
      auto *sw = support<sw_on_key *(*)(int, void *)>(env, &DISPATCH_TABLE_STRUCT_SUPPORT_H::pnew_switch_on_key)(
          static_cast<int>(slots), nullptr);
      ix->literals[i] = PointerToTerm(sw) + 2;
      if (!read(sw, bytes, info) || !sound_table(sw, slots)) {
        sw->mask = 8 * (slots - 1); /* freeable whatever is read */
        return refuse();
      }
    } else {
      return refuse();
    }
  }
  ix->code = alloc_words<ix_byte>(env, n_code);
  ix->length_of_bytecode = n_code;
  const char *fault = nullptr;
  unsigned where = 0;
  if (!read(ix->code, 4 * static_cast<std::size_t>(n_code), info) ||
      !relocate_bytecode(ix->code, n_code, ix->literals, n_lits, false) ||
      !ix_check_code(ix->code, n_code, ix->literals, n_lits, arity, &fault, &where))
    return refuse();

  if (predtyp(d) != FD_CONSTRAINT)
    init_fd_constraint(env, d);
  auto *last = static_cast<indexical_info *>(d->proc.code.fdinfo->indexical[type]);
  if (last == nullptr) {
    d->proc.code.fdinfo->indexical[type] = ix;
  } else {
    while (last->next != nullptr)
      last = last->next;
    last->next = ix;
  }
  return 0;
}
