/* code_records.h: the records that hold compiled code.
 *
 * try_node: one alternative of a predicate or of an embedded choice; its
 * last halfword holds the TRY opcode so that the node itself is executable
 * (jumping to &node->opcode pushes a choicepoint for `next` and enters
 * `entry`).  emul_info: one compiled clause; its code starts 16 bytes in,
 * so clause code is 4-byte (indeed 8-byte) aligned.  Both layouts are part
 * of the saved-state format.
 */
#ifndef VOSTREL_CODE_RECORDS_H
#define VOSTREL_CODE_RECORDS_H

#include "termdefs.h"

struct try_node {
  try_node *next;        /* next alternative; null in the last */
  INSN *entry;           /* code of this alternative */
  try_node *link;        /* standalone: itself; first of a chain: the last */
  std::int16_t node_offset; /* bytes of the choicepoint pushed: 24 + 4 * arity */
  INSN opcode;           /* TRY */
};
static_assert(sizeof(try_node) == 16 && offsetof(try_node, opcode) == 14);

constexpr std::int16_t node_offset_for(unsigned arity) { return static_cast<std::int16_t>(24 + 4 * arity); }

struct emul_info {
  emul_info *next;       /* next clause; the last holds the clause count */
  INSN *elsecode;        /* where the clause goes when its head test fails */
  std::uint32_t ix_objsize; /* bits 0-8 index bits, 9-31 record size in bytes */
  TAGGED filename;       /* file atom */
  INSN emulcode[];        /* the clause's code: objsize - 16 bytes */
};
static_assert(offsetof(emul_info, emulcode) == 16);
constexpr std::size_t EMUL_INFO_HEADER = 16;

/* The largest record size objsize's 23 bits can hold; a clause whose code
   needs more is refused when it is built, never stored cut short. */
constexpr std::uint32_t EMUL_OBJSIZE_MAX = (1u << 23) - 1;

inline unsigned emul_ix(const emul_info *c) { return c->ix_objsize & 0x1FF; }
inline std::uint32_t emul_objsize(const emul_info *c) { return c->ix_objsize >> 9; }
inline void set_emul_ix_objsize(emul_info *c, unsigned ix, std::uint32_t objsize)
{
  c->ix_objsize = (ix & 0x1FF) | (objsize << 9);
}

#endif
