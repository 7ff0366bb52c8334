/* indexical_store.h: the records of compiled indexicals as the predicate
 * database stores them (code of an FD predicate), how $fd_install/5 fills
 * them, how they are found again and freed, and how saved states carry
 * them.
 *
 * An FD predicate's code is an fd_info of four singly linked lists of
 * indexical_info, indexed by checking * 2 + truth_value.  A linkage word
 * is argument index * 256 + key: bits 0..2 select the suspension list
 * through linkage_keys of fd_state, bit 3 (FD_LINK_WAIT_PROPAGATING)
 * makes a propagating indexical wait until the argument is fixed, bit 4
 * (FD_LINK_WAIT_CHECKING) the same for an entailment-checking one.  The
 * layouts are shared with the saved-state format and hold exactly.
 *
 * Literal vector entries: a constant (small integer or one of the atoms
 * the saved-state format never renumbers: [], inf, sup ...), stored as
 * it is; an FD-set block (header -(64n + 9), then per interval a list
 * cell and an interval cell), stored as the block's address + 1 (its FD
 * set term is address + 6); a switch table from constant keys to tagged
 * code offsets, stored as its address + 2.
 *
 * Everything $fd_install/5 accepts (and the restore hook reads) has passed
 * ix_check_code, so nothing is checked when an indexical runs:
 * operands in range (arguments below the arity, loop slots below
 * FD_IX_LOOP_SLOTS, jumps to instruction starts inside the code, literal
 * references of the right kind), every path ending in a run-ending
 * instruction, and a consistent evaluation-stack depth that never goes
 * below zero nor above FD_IX_MAX_STACK.
 *
 * Callers: posting ($fd_post_reified/5, link_indexical); the interpreter
 * of indexicals; module clpfd's compiler through $fd_install/5; the
 * engine through the destructor and saved-state hooks (fd_define_predicates).
 */
#ifndef TRELIX_CLPFD_INDEXICAL_STORE_H
#define TRELIX_CLPFD_INDEXICAL_STORE_H

#include <cstddef>
#include <cstdint>

#include "fd_state.h"
#include "predicates.h"

struct saverest_record;
struct saverest_info;

typedef std::uint32_t ix_byte;

struct indexical_info {
  definition *pred;
  ix_byte *linkage;
  unsigned length_of_linkage;
  unsigned length_of_bytecode;
  unsigned length_of_literals;
  unsigned pruned : 8;
  unsigned checking : 1;
  unsigned truth_value : 1;
  unsigned posted : 1; /* an ix/7 item was built from it (see retire_fd_info) */
  ix_byte *code;
  TAGGED *literals;
  indexical_info *next;
};
static_assert(sizeof(indexical_info) == 36 && offsetof(indexical_info, code) == 24 &&
              offsetof(indexical_info, next) == 32);

enum : unsigned { FD_LINK_KEY_MASK = 7, FD_LINK_WAIT_PROPAGATING = 8, FD_LINK_WAIT_CHECKING = 16 };

/* Limits of what $fd_install/5 accepts.  The evaluation stack lives in
   the argument registers from FD_IX_STACK_BASE up (0 holds the item, 1
   the status mutable, 2 Ent); a saved state keeps the linkage length and
   the pruned argument in 8 bits each. */
constexpr unsigned FD_IX_STACK_BASE = 3;
constexpr unsigned FD_IX_MAX_STACK = 256 - FD_IX_STACK_BASE;
constexpr unsigned FD_IX_LOOP_SLOTS = 128;
constexpr unsigned FD_IX_MAX_LINKAGE = 255;
constexpr unsigned FD_IX_MAX_ARITY = 255;
constexpr unsigned FD_IX_MAX_CODE = 1u << 16;
constexpr unsigned FD_IX_MAX_LITERALS = 1u << 16;
/* Instruction words from here on are no-operations. */
constexpr ix_byte FD_IX_OPCODES = 87;

/* The atoms whose words a saved state keeps as they are ([], '.', inf,
   sup ...): with the small integers, the only constants an indexical may
   hold, since its literals and code are saved without relocation. */
inline bool ix_fixed_constant(TAGGED t)
{
  constexpr std::uint32_t fixed_atoms = 9;
  return IsSmall(t) || (IsAtom(t) && AtomIndex(t) < fixed_atoms);
}

/* The indexicals of type t (checking * 2 + truth_value) of an FD predicate. */
inline indexical_info *fd_indexicals(definition *d, int type)
{
  return static_cast<indexical_info *>(d->proc.code.fdinfo->indexical[type]);
}

/* Handles as Prolog sees them: a record's address + 3 (a small integer,
   the records being 8-byte aligned). */
inline TAGGED fd_handle_word(const void *p) { return PointerToTerm(p) + 3; }
inline void *fd_handle_pointer(TAGGED word) { return reinterpret_cast<void *>(word - 3); }

/* Gives d an empty fd_info as its code and makes it (and its importers) an
   FD predicate. */
void init_fd_constraint(VREnv *env, definition *d);
/* Frees every record of the list *head and leaves it null. */
void free_fd_info(VREnv *env, indexical_info **head);
/* Takes the list *head out of use (a reinstall or the predicate's end)
   and leaves it null: records never posted are freed, the others kept
   until free_retired_indexicals, since ix/7 items built from them may
   still be suspended and read them when they resume. */
void retire_fd_info(VREnv *env, indexical_info **head);
/* Frees the records retire_fd_info kept for env (the solver unloading). */
void free_retired_indexicals(VREnv *env);

/* Relocates one indexical's code: to_relative replaces each literal
   operand (instruction 41's FD set term, instruction 69's table) by its
   literal index, else the reverse.  Returns false when an operand names
   no literal (the code is then partly relocated). */
bool relocate_bytecode(ix_byte *code, unsigned length, const TAGGED *literals, unsigned n_literals,
                       bool to_relative);

/* The engine's hooks (VR_install_fd_hooks); in namespace clpfd, since the
   database's own pointer is called fd_destructor_hook too. */
namespace clpfd {
void fd_destructor_hook(void *cookie, void *list_head);
int fd_save_hook(void *cookie, saverest_record *rec, definition *d,
                 int (*write)(const void *, std::size_t, saverest_info *), saverest_info *info);
int fd_restore_hook(void *cookie, saverest_record *rec, int (*read)(void *, std::size_t, saverest_info *),
                    saverest_info *info);
} // namespace clpfd

/* $fd_install(Name/Arity, Module, Type, Length, InfoList): InfoList holds
   Length terms i(Linkage, NLinkage, Pruned, Code, NCode, Literals,
   NLiterals) (any functor of arity 7): Linkage a list of ArgIndex-Key,
   Literals a list of literal terms (d(Intervals) an FD set, Intervals a
   list of [Lo|Hi]; f(Pairs) any other functor of arity 1 a switch table,
   Pairs a list of Key-Offset; else a constant), Code a list of words
   (integers, or a(N), l(N) for N, t(N) literal N's entry, d(N) its FD set
   term, h(N) its table). */
void prolog_fd_install_vrenv_multi_vr(VREnv *env, VR_term_ref spec, VR_term_ref module, VR_term_ref type,
                                      VR_term_ref length, VR_term_ref infos);
/* $fd_find_definition(Goal, Module, Definition): the definition's handle
   when Goal's predicate in Module is an FD predicate, else 0. */
void prolog_fd_find_definition_vrenv_multi_vr(VREnv *env, VR_term_ref goal, VR_term_ref module,
                                              VR_term_ref definition);
/* $fd_indexical_data(Handle, Type, ModuleName) of an indexical handle. */
void prolog_fd_indexical_data_vrenv_multi_vr(VREnv *env, VR_term_ref handle, VR_term_ref type,
                                             VR_term_ref module);

#endif
