/* indexing.cpp: clause installation into compiled predicates: the clause
 * chain, the var/list chains, the first-argument switch table and try
 * chains (see indexing.h for the structure the emulator reads).
 *
 * Invariants kept here:
 *   - an entry chain is failcode/pfailcode, one clause's code, or the TRY
 *     opcode of a try chain whose first node's `link` is its last node;
 *   - single entries of the var chain are never advanced past a test (the
 *     argument is unbound); those of the other chains are advanced by
 *     p2_offset, because those chains are entered in read mode with the
 *     first argument already matched;
 *   - try chains are never shared between two entries except the default
 *     chain shared by the empty slots of a switch table (incore_copy makes
 *     every keyed slot its own copy), so appending in place is safe;
 *   - once reachable, try nodes and tables are not freed here: replaced
 *     code goes to the dead-predicate list (leave_to_gc).
 * Callers: $compiled_clause (bytecode_object.cpp), call/N set-up, the
 * saved-state loader, multifile reloading.
 */
#include "indexing.h"

#include <vector>

#include "code_walkers.h"
#include "insn_table.h"
#include "memman.h"
#include "terms.h"
#include "wamsup.h"

namespace {

bool is_fail_entry(const INSN *entry) { return entry == failcode || entry == pfailcode; }

try_node *node_of_opcode(INSN *opcode)
{
  return reinterpret_cast<try_node *>(reinterpret_cast<char *>(opcode) - offsetof(try_node, opcode));
}

void set_ix(emul_info *c, unsigned ix) { set_emul_ix_objsize(c, ix, emul_objsize(c)); }

/* The clause an else continuation enters. */
emul_info *else_target(const emul_info *c)
{
  INSN *e = c->elsecode;
  if (e == nullptr || is_fail_entry(e) || e == elsecode)
    return nullptr;
  return clause_of_code(e);
}

} // namespace

unsigned large_insn_offset(const INSN *code) { return large_halfwords(code); }

try_node *chain_try_nodes(INSN *entry)
{
  if (entry == nullptr || is_fail_entry(entry) || *entry != OPCODE(TRY))
    return nullptr;
  return node_of_opcode(entry);
}

emul_info *clause_of_entry(INSN *code, TAGGED chain_key, int isvar)
{
  if (!isvar)
    code += p2_unoffset(code, chain_key);
  return clause_of_code(code);
}

INSN *incore_copy(INSN *entry)
{
  try_node *n = chain_try_nodes(entry);
  if (n == nullptr)
    return entry;
  try_node *first = nullptr, *last = nullptr;
  for (; n != nullptr; n = n->next) {
    try_node *c = make_try_node(0, n->entry);
    c->node_offset = n->node_offset;
    if (first == nullptr)
      first = c;
    else
      last->next = c;
    last = c;
  }
  first->link = last;
  return &first->opcode;
}

void incore_insert(INSN **chain, TAGGED chain_key, int arity, emul_info *clause, TAGGED key, int isvar)
{
  INSN *entry = *chain;
  /* 1. An empty chain becomes the clause itself. */
  if (is_fail_entry(entry)) {
    *chain = isvar ? clause->emulcode : clause->emulcode + p2_offset(clause->emulcode);
    return;
  }
  /* 2. The chain's last clause, through any else chain hanging off it. */
  try_node *first = chain_try_nodes(entry);
  /* Nodes appended to a chain enter their clause at its start; only a
     node made from a single entry keeps that entry's offset. */
  emul_info *last = first == nullptr ? clause_of_entry(entry, chain_key, isvar)
                    : first->link != first ? clause_of_code(first->link->entry)
                                           : clause_of_entry(first->entry, chain_key, isvar);
  while ((emul_ix(last) & IX_ELSE_END) != 0) {
    emul_info *next = else_target(last);
    if (next == nullptr)
      break;
    last = next;
  }
  /* 3. Nothing to do, or unreachable after a committing clause. */
  if (last == clause)
    return;
  const unsigned lix = emul_ix(last);
  if ((lix & IX_COMMITS) != 0 && (!isvar || p2_offset(last->emulcode) == 0))
    return;
  /* 4. Chain to the new clause without a choicepoint when it covers every
     case the last one does. */
  const unsigned nix = emul_ix(clause);
  if (key == 0 && (lix & IX_ELSE_END) != 0 && (nix & IX_VAR) >= (lix & IX_VAR) &&
      (nix & IX_LIST) >= (lix & IX_LIST) && (nix & IX_OTHER) >= (lix & IX_OTHER)) {
    last->elsecode = clause->emulcode;
    wire_else(last);
    return;
  }
  /* 5. A try node for it. */
  set_ix(last, lix & ~IX_ELSE_END);
  if (first == nullptr) {
    first = make_try_node(arity, entry);
    *chain = &first->opcode;
  }
  try_node *n = make_try_node(arity, clause->emulcode);
  first->link->next = n;
  first->link = n;
}

void insert_compactcode(definition *f, emul_info *clause, int ix, TAGGED key)
{
  incore_info *info = f->proc.code.incoreinfo;
  const int arity = f->proc.arity;
  unsigned type = predtyp(f);

  /* 1. Link it; the chain's end word counts the clauses. */
  const std::uintptr_t count = reinterpret_cast<std::uintptr_t>(*info->clauses_tail);
  clause->next = reinterpret_cast<emul_info *>(count + 1);
  *info->clauses_tail = clause;
  info->clauses_tail = &clause->next;
  set_ix(clause, static_cast<unsigned>(ix));
  if ((ix & IX_CUT) != 0)
    f->proc.properties |= PROP_CUT;

  /* 2. The first clause that does not fit every first argument makes the
     predicate indexed; the chains so far fit every argument. */
  const unsigned cases = static_cast<unsigned>(ix) & IX_CASES;
  if ((type == ENTER_COMPACTCODE || type == ENTER_PROFILEDCODE) && cases != 0 && cases != IX_CASES) {
    info->lstcase = incore_copy(info->varcase);
    info->othercase = new_switch_on_key(2, incore_copy(info->varcase));
    type += 1;
    update_exports(f, static_cast<int>(type));
  }

  /* 3. */
  if ((ix & IX_VAR) != 0)
    incore_insert(&info->varcase, 0, arity, clause, key, 1);
  /* 4. */
  if (type != ENTER_COMPACTCODE_INDEXED && type != ENTER_PROFILEDCODE_INDEXED)
    return;
  if ((ix & IX_LIST) != 0)
    incore_insert(&info->lstcase, functor_list, arity, clause, key, 0);
  if ((ix & IX_OTHER) == 0)
    return;

  if (key != 0) {
    /* 5. One key: its own chain, made from the default the first time. */
    sw_on_key_node *n = incore_gethash(info->othercase, key);
    if (n->key == key) {
      incore_insert(&n->value.code, key, arity, clause, key, 0);
      return;
    }
    INSN *dflt = n->value.code;
    n->key = key;
    n->value.code = incore_copy(dflt);
    incore_insert(&n->value.code, key, arity, clause, key, 0);
    info->othercase->count++;
    if (expansion_due(info->othercase))
      expand_sw_on_key(&info->othercase, dflt, nullptr);
    return;
  }

  /* 6. Every key: each keyed chain, and the default chain once, shared
     again by every empty slot. */
  sw_on_key *sw = info->othercase;
  INSN *shared = nullptr;
  for (std::uint32_t i = sw_slots(sw); i-- > 0;) {
    sw_on_key_node *n = &sw->tab[i];
    if (n->key != 0) {
      incore_insert(&n->value.code, n->key, arity, clause, 0, 0);
    } else if (shared == nullptr) {
      incore_insert(&n->value.code, 0, arity, clause, 0, 0);
      shared = n->value.code;
    } else {
      n->value.code = shared;
    }
  }
}

/* ---- Multifile reloading ---- */

namespace {

bool file_in(TAGGED file, TAGGED files)
{
  for (TAGGED l = deref(files); IsList(l); l = deref(TagToLST(l)[1]))
    if (deref(TagToLST(l)[0]) == file)
      return true;
  return false;
}

/* The else label that wire_else stored for a continuation. */
INSN *wired_label(INSN *target)
{
  if (*target == OPCODE(BUMP_ENTRY) || *target == OPCODE(BUMP_ENTRYQ))
    return target + insn_length(target);
  return target;
}

/* Points the leading tests' else operands that hold `from` at `to`. */
void rewire_else(emul_info *clause, INSN *from, INSN *to)
{
  const std::uint32_t old_word = PointerToTerm(from), new_word = PointerToTerm(to);
  INSN *p = clause->emulcode;
  int cls;
  do {
    for_each_operand(p, [&](char letter, INSN *at) {
      if (letter == 'p' && code_word(at) == old_word)
        set_code_word(at, new_word);
    });
    p = skip_insn(p, &cls, nullptr);
  } while (cls == SKIP_PLAIN);
}

} // namespace

int multifile_retractall_compiled(definition *f, TAGGED files)
{
  const unsigned type = predtyp(f);
  if (!is_compiled_type(type) || f->proc.code.incoreinfo == nullptr)
    return 0;
  incore_info *info = f->proc.code.incoreinfo;
  std::vector<emul_info *> kept, removed;
  for (emul_info *c = info->clauses; !clause_chain_end(c, info); c = c->next)
    (file_in(c->filename, files) ? removed : kept).push_back(c);
  if (removed.empty())
    return 0;

  /* A kept clause whose else continuation is a removed clause would jump
     into freed code: send it on to the first kept clause down that else
     chain, or back to the unwired marker when there is none (so a clause
     appended later can still be wired to it). */
  for (emul_info *c : kept) {
    emul_info *t = else_target(c);
    if (t == nullptr || !file_in(t->filename, files))
      continue;
    while (t != nullptr && file_in(t->filename, files))
      t = else_target(t);
    INSN *old_label = wired_label(c->elsecode);
    if (t != nullptr) {
      rewire_else(c, old_label, wired_label(t->emulcode));
      c->elsecode = t->emulcode;
    } else {
      rewire_else(c, old_label, elsecode);
      c->elsecode = failcode;
    }
  }

  /* The old code keeps only the removed clauses, so that reclaiming it
     does not free a clause that lives on. */
  info->clauses = nullptr;
  info->clauses_tail = &info->clauses;
  std::uintptr_t n = 0;
  for (emul_info *c : removed) {
    *info->clauses_tail = c;
    info->clauses_tail = &c->next;
    n++;
  }
  *info->clauses_tail = reinterpret_cast<emul_info *>(n);

  /* Hand over the old code with the type it was built for (the lists and
     table of an indexed kind go with it), then start again non-indexed. */
  const unsigned base = type & ~1u;
  leave_to_gc(static_cast<int>(type), f);
  redefine_predicate(f, static_cast<int>(base));
  for (emul_info *c : kept)
    insert_compactcode(f, c, static_cast<int>(emul_ix(c)), key_of_clause(c));
  return static_cast<int>(removed.size());
}
