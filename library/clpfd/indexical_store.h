/* indexical_store.h: the records of compiled indexicals as the predicate
 * database stores them (code of an FD predicate).
 *
 * An FD predicate's code is an fd_info of four singly linked lists of
 * indexical_info, indexed by checking * 2 + truth_value.  A linkage word
 * is argument index * 256 + key: bits 0..2 select the suspension list
 * through linkage_keys of fd_state, bit 3 (FD_LINK_WAIT_PROPAGATING)
 * makes a propagating indexical wait until the argument is fixed, bit 4
 * (FD_LINK_WAIT_CHECKING) the same for an entailment-checking one.  The
 * layouts are shared with the saved-state format and hold exactly.
 *
 * Callers: posting ($fd_post_reified/5, link_indexical); the installer and
 * the interpreter of indexicals read and fill the same records.
 */
#ifndef TRELIX_CLPFD_INDEXICAL_STORE_H
#define TRELIX_CLPFD_INDEXICAL_STORE_H

#include <cstddef>
#include <cstdint>

#include "fd_state.h"
#include "predicates.h"

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
  ix_byte *code;
  TAGGED *literals;
  indexical_info *next;
};
static_assert(sizeof(indexical_info) == 36 && offsetof(indexical_info, code) == 24 &&
              offsetof(indexical_info, next) == 32);

enum : unsigned { FD_LINK_KEY_MASK = 7, FD_LINK_WAIT_PROPAGATING = 8, FD_LINK_WAIT_CHECKING = 16 };

/* The indexicals of type t (checking * 2 + truth_value) of an FD predicate. */
inline indexical_info *fd_indexicals(definition *d, int type)
{
  return static_cast<indexical_info *>(d->proc.code.fdinfo->indexical[type]);
}

#endif
