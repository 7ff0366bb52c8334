/* btree.h: an ordered map from unsigned 32-bit keys (code addresses) to
 * words, answering "which entry starts at or just below this address".
 *
 * The debugger support keeps its compiled-code table in one: every recorded
 * source position is keyed by the code address it describes, and a return
 * address is traced back to its position by looking for the nearest key not
 * above it.  Keys may repeat; a new entry goes after the equal ones.
 *
 * Invariants (checked by the unit tests' walker): keys ascend within a node;
 * the keys under child i of an inner node lie between separator i - 1 and
 * separator i, both included (equal keys may straddle a separator after a
 * leaf split); no leaf is empty and every inner node has a child (after
 * deletions an inner node may be left with one child and no separator);
 * all leaves are at one depth.
 * A tree is held through a handle, the root pointer, null when empty.
 * Nodes come from the memory manager ("B-tree space"); running out is a
 * memory fault.  Engine thread only.
 */
#ifndef VOSTREL_BTREE_H
#define VOSTREL_BTREE_H

#include <cstddef>
#include <cstdint>

#include "termdefs.h"

constexpr int BTREE_LEAF_KEYS = 31;
constexpr int BTREE_INNER_KEYS = 30;
/* A node with at most this many keys is underfull. */
constexpr int BTREE_UNDERFULL = 14;

constexpr std::uint8_t BTREE_LEAF = 1;   /* flags bit 0 (btype) */
constexpr std::uint8_t BTREE_UFLOW = 2;  /* flags bit 1 (uflow) */

struct btree {
  std::uint8_t flags;
  std::uint8_t pad[3];
  std::int32_t keynum;
  union {
    struct {
      std::uint32_t key[BTREE_LEAF_KEYS];
      TAGGED val[BTREE_LEAF_KEYS];
    } l;
    struct {
      std::uint32_t key[BTREE_INNER_KEYS];
      btree *ptr[BTREE_INNER_KEYS + 1];
    } n;
  } data;
};
static_assert(sizeof(btree) == 256, "a B-tree node is 256 bytes");
constexpr std::size_t BTREE_NODE_BYTES = 256;

inline bool btree_is_leaf(const btree *b) { return (b->flags & BTREE_LEAF) != 0; }

/* Adds (key, value); equal keys keep their insertion order. */
void btree_insert(btree **handle, std::uint32_t key, TAGGED value);

/* The value slot of the entry with the greatest key not above `key`, when
   key minus that key is at most `distance`; null otherwise, also when every
   key lies above `key`.  Of equal keys the last inserted is found. */
TAGGED *btree_search(btree *const *handle, std::uint32_t key, std::uint32_t distance);

/* Removes every entry whose key lies between key1 and key2, both included,
   in either order; the handle becomes null when nothing is left. */
void btree_delete(btree **handle, std::uint32_t key1, std::uint32_t key2);

/* Frees the whole tree. */
void btree_free(btree **handle);

#endif
