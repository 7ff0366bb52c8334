/* bytecode_object.cpp: the two built-ins through which the Prolog compiler
 * installs compiled clauses: $make_bytecode_object/4 assembles a clause
 * record from the compiler's item list, $compiled_clause/4 appends it to a
 * compiled predicate (indexing.cpp).
 *
 * Everything here comes from Prolog as plain terms, so nothing is trusted:
 *   - every item is checked to fit in the Size bytes the record was made
 *     with, and every in-clause offset (ref, try) to lie inside it;
 *   - a clause reference is honoured only when the pending-clause registry
 *     holds it (made here, not yet installed, not freed), and only once,
 *     since installing a record twice would loop its predicate's chains;
 *   - inline numbers must be boxed numbers: an L operand is compared and
 *     copied word by word, so a small integer boxed there would break the
 *     canonical form (a head would never match it, a built copy would be
 *     a second representation of the same integer).
 * Callers: the runtime library's compiler (through the built-in table).
 */
#include <cstring>

#include "atoms.h"
#include "code_builder.h"
#include "datadefs.h"
#include "indexing.h"
#include "initial_atoms.h"
#include "insn_table.h"
#include "memman.h"
#include "modules.h"
#include "predicates.h"
#include "terms.h"
#include "unify.h"
#include "wamsup.h"
#include "worker.h"

/* ---- Pending clauses ---- */

namespace {

sw_on_key *pending_clauses = nullptr;

void release_pending(void) { pending_clauses = nullptr; }

} // namespace

void remember_pending_clause(emul_info *clause)
{
  if (pending_clauses == nullptr) {
    /* The table lives in manager memory; forget it when that goes back. */
    memman_add_release_hook(release_pending);
    pending_clauses = new_switch_on_key(4, nullptr);
  }
  dyn_puthash(&pending_clauses, clause_ref(clause))->value.clause = clause;
}

emul_info *pending_clause_of_word(TAGGED word)
{
  if (pending_clauses == nullptr || word == 0 || (word & 7) != 3)
    return nullptr;
  sw_on_key_node *n = incore_gethash(pending_clauses, word);
  return n->key == word ? n->value.clause : nullptr;
}

void forget_pending_clause(emul_info *clause)
{
  if (pending_clauses == nullptr)
    return;
  sw_on_key_node *n = incore_gethash(pending_clauses, clause_ref(clause));
  if (n->key == clause_ref(clause))
    n->value.clause = nullptr;
}

/* ---- $make_bytecode_object/4 ---- */

namespace {

constexpr TAGGED A(std::uint32_t e) { return MakeAtom(e); }

/* An assembler over the code area of one clause record. */
struct assembler {
  INSN *start;
  INSN *end;              /* start + Size / 2 */
  INSN *pc;
  INSN *last_try_end = nullptr; /* where the previous try item stopped */
  int last_try_nb = 0;
  bool recorded_lines = false;

  bool room(std::size_t halfwords) const { return static_cast<std::size_t>(end - pc) >= halfwords; }
  bool half(INSN h)
  {
    if (!room(1))
      return false;
    *pc++ = h;
    return true;
  }
  bool word(std::uint32_t w)
  {
    if (!room(2))
      return false;
    set_code_word(pc, w);
    pc += 2;
    return true;
  }
  /* An offset inside the clause's code, rounded down to even. */
  bool in_clause(TAGGED n, INSN **at) const
  {
    if (!IsSmall(n) || GetSmall(n) < 0)
      return false;
    const std::uint32_t off = static_cast<std::uint32_t>(GetSmall(n)) & ~1u;
    if (off > static_cast<std::uint32_t>(reinterpret_cast<char *>(end) - reinterpret_cast<char *>(start)))
      return false;
    *at = reinterpret_cast<INSN *>(reinterpret_cast<char *>(start) + off);
    return true;
  }
};

bool small_arg(TAGGED t, VR_INTEGER *out)
{
  t = deref(t);
  if (!IsSmall(t))
    return false;
  *out = GetSmall(t);
  return true;
}

/* One item of the list; false makes the built-in fail. */
bool assemble_item(assembler &a, TAGGED item, TAGGED file)
{
  if (IsSmall(item))
    return a.half(static_cast<INSN>(GetSmall(item)));
  if (item == A(atom_void_enum))
    return a.half(3);
  if (item == A(atom_else_enum))
    return a.word(PointerToTerm(elsecode));
  if (item == A(atom_fail_enum))
    return a.word(PointerToTerm(failcode));
  if (!IsStructure(item))
    return true; /* other atoms, variables, lists: nothing */

  const TAGGED *s = TagToSTR(item);
  const TAGGED f = s[0];
  if (!IsFunctor(f))
    return false; /* a boxed number as an item */
  const TAGGED name = FunctorName(f);
  const unsigned arity = Arity(f);
  const TAGGED arg1 = deref(s[1]);
  VR_INTEGER n;

  if (arity == 1) {
    struct unit {
      std::uint32_t atom;
      int scale, base;
    };
    static const unit units[] = {
        {atom_o_enum, 8, 0},         {atom_x_enum, 4, 180},          {atom_y_enum, 4, 8},
        {atom_value_enum, 4, 8},     {atom_variable_enum, 4, 9},     {atom_unsafe_value_enum, 4, 10},
    };
    for (const unit &u : units)
      if (name == A(u.atom)) {
        if (!small_arg(arg1, &n))
          return false;
        return a.half(static_cast<INSN>(u.base + u.scale * n));
      }
    if (name == A(atom_functor_enum)) {
      if (!IsStructure(arg1) || TagToSTR(arg1)[0] != MakeFunctor(A(atom_slash_enum), 2))
        return true;
      const TAGGED fname = deref(TagToSTR(arg1)[1]);
      VR_INTEGER farity;
      if (!IsAtom(fname) || !small_arg(TagToSTR(arg1)[2], &farity) || farity < 0 || farity > 255)
        return false;
      return a.word(MakeFunctor(fname, static_cast<unsigned>(farity)));
    }
    if (name == A(atom_tagged_enum))
      return a.word(arg1);
    if (name == A(atom_long_enum)) {
      if (IsSmall(arg1))
        return a.word(static_cast<std::uint32_t>(GetSmall(arg1)));
      if (IsStructure(arg1) && TagToSTR(arg1)[0] == BOX_INT1)
        return a.word(TagToSTR(arg1)[1]);
      return false;
    }
    if (name == A(atom_ref_enum)) {
      INSN *at;
      if (!a.in_clause(arg1, &at))
        return false;
      return a.word(PointerToTerm(at));
    }
    if (name == A(atom_emul_entry_enum)) {
      definition *d = parse_definition(arg1, eglobal->typein_mod);
      return d != nullptr && a.word(PointerToTerm(d));
    }
    if (name == A(atom_lineno_enum)) {
      if (eglobal->current_source_info != A(atom_off_enum) && IsSmall(arg1) &&
          eglobal->add_table_comp != nullptr) {
        const std::uintptr_t at = (reinterpret_cast<std::uintptr_t>(a.pc) - 4) & ~static_cast<std::uintptr_t>(7);
        eglobal->add_table_comp(reinterpret_cast<void *>(at), file, GetSmall(arg1));
        a.recorded_lines = true;
      }
      return true;
    }
    return false;
  }

  if (arity == 2 && name == A(atom_large_enum)) {
    /* An L operand holds a boxed number; a small integer has no canonical
       box, so the compiler must have chosen the constant form for it. */
    if (!IsStructure(arg1))
      return false;
    const TAGGED *box = TagToSTR(arg1);
    const TAGGED h = box[0];
    if (!IsBoxHeader(h) || (h & 7) != 7 || BoxWords(h) < 2)
      return false;
    const unsigned words = BoxWords(h);
    if (!a.room(2 * words))
      return false;
    for (unsigned i = 0; i < words; i++)
      set_code_word(a.pc + 2 * i, box[i]);
    a.pc += large_insn_offset(a.pc);
    return true;
  }

  if (arity == 3 && name == A(atom_try_enum)) {
    INSN *target;
    VR_INTEGER tarity, nb;
    if (!a.in_clause(arg1, &target) || !small_arg(s[2], &tarity) || tarity < 0 || tarity > 255 ||
        !small_arg(s[3], &nb) || nb < 1)
      return false;
    /* The layout needs a 4-byte aligned position, and nb 2 and beyond
       rewrite what the previous try item laid down just before. */
    if ((reinterpret_cast<std::uintptr_t>(a.pc) & 3) != 0)
      return false;
    if (nb >= 2 && (a.last_try_end != a.pc || (nb == 2 ? a.last_try_nb != 1 : a.last_try_nb < 2)))
      return false;
    if (!a.room(nb == 2 ? 16 : 8))
      return false;
    a.pc = asm_try_insn(a.pc, target, tarity, nb);
    a.last_try_end = a.pc;
    a.last_try_nb = nb;
    return true;
  }
  return false;
}

} // namespace

int prolog_make_bytecode_object(worker *w)
{
  const TAGGED size_t_ = deref(w->term[0]);
  TAGGED items = deref(w->term[1]);
  const TAGGED file = deref(w->term[2]);
  /* The record's size must fit objsize's 23 bits. */
  if (!IsSmall(size_t_) || GetSmall(size_t_) < 0 ||
      GetSmall(size_t_) > static_cast<VR_INTEGER>(EMUL_OBJSIZE_MAX - EMUL_INFO_HEADER - 8))
    return 0;
  const std::uint32_t code_bytes = static_cast<std::uint32_t>(GetSmall(size_t_));
  const std::uint32_t objsize = static_cast<std::uint32_t>(EMUL_INFO_HEADER) + code_bytes;
  auto *clause = static_cast<emul_info *>(checkalloc(objsize, mm_code(MM_BIN_EMUL_INFO)));
  std::memset(clause, 0, objsize);
  clause->next = nullptr;
  clause->elsecode = failcode;
  set_emul_ix_objsize(clause, 0, objsize);
  clause->filename = file;

  assembler a;
  a.start = a.pc = clause->emulcode;
  a.end = clause->emulcode + code_bytes / 2;
  bool ok = true;
  for (; IsList(items); items = deref(TagToLST(items)[1]))
    if (!assemble_item(a, deref(TagToLST(items)[0]), file)) {
      ok = false;
      break;
    }
  if (ok && cunify(w, w->term[3], clause_ref(clause))) {
    remember_pending_clause(clause);
    return 1;
  }
  if (a.recorded_lines && eglobal->del_table_comp != nullptr)
    eglobal->del_table_comp(clause, reinterpret_cast<char *>(clause) + objsize);
  checkdealloc(clause, objsize, mm_code(MM_BIN_EMUL_INFO));
  return 0;
}

/* ---- $compiled_clause/4 ---- */

int prolog_compiled_clause(worker *w)
{
  definition *f = parse_definition(deref(w->term[0]), eglobal->typein_mod);
  /* Only compiled predicates take clause records; reporting success for
     any other kind would drop the clause. */
  if (f == nullptr || !is_compiled_type(predtyp(f)) || f->proc.code.incoreinfo == nullptr)
    return 0;
  emul_info *clause = pending_clause_of_word(deref(w->term[1]));
  if (clause == nullptr)
    return 0;
  const TAGGED info = deref(w->term[3]);
  if (!IsStructure(info) || !IsFunctor(TagToSTR(info)[0]) || Arity(TagToSTR(info)[0]) < 2)
    return 0;
  const TAGGED ixw = deref(TagToSTR(info)[1]);
  if (!IsSmall(ixw) || GetSmall(ixw) < 0 || GetSmall(ixw) > 0x1FF)
    return 0;
  int ix = GetSmall(ixw);
  if ((ix & IX_OTHER) != 0)
    ix |= IX_OTHER;
  TAGGED key = deref(TagToSTR(info)[2]);
  if (IsVar(key))
    key = 0;
  else if (IsStructure(key))
    key = TagToSTR(key)[0];
  else if (IsList(key))
    key = functor_list; /* a heap address is no key; lists never reach the table */
  forget_pending_clause(clause);
  insert_compactcode(f, clause, ix, key);
  return 1;
}
