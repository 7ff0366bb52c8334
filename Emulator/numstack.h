/* numstack.h: the number stack, where arithmetic keeps its temporary boxed
 * numbers and the bignum routines their work areas.
 *
 * A chain of memory-manager blocks, each ending in a numstack footer.  The
 * worker's numstack_top is the next free word and numstack_end the footer
 * of the current block (null: no block current yet).  Blocks are kept when
 * the top moves back and reused; they are freed only all together.  The
 * evaluator marks numstack_top before an expression and trims back to the
 * mark afterwards.  Temporaries carry no trailer word; bn_call results do.
 */
#ifndef VOSTREL_NUMSTACK_H
#define VOSTREL_NUMSTACK_H

#include <cstddef>

#include "termdefs.h"

struct worker;

struct numstack {
  numstack *prev;     /* footer of the previous block, null for the first */
  numstack *next;     /* footer of the next block once allocated */
  std::size_t size;   /* bytes of the whole block, footer included */
};
static_assert(sizeof(numstack) == 12);

/* Size of the first block; each new block doubles the current one. */
constexpr std::size_t NUMSTACK_FIRST_SIZE = 1024;

/* First word of the usable area of the block whose footer is b. */
inline TAGGED *numstack_block_start(numstack *b)
{
  return reinterpret_cast<TAGGED *>(reinterpret_cast<char *>(b) + sizeof(numstack) - b->size);
}

/* The footer of the first block, null while there is none. */
numstack *numstack_first_block(void);

/* Allocates the first block (none current yet), sets the float constants
   and installs the memory manager's free/recreate hooks. */
void numstack_init(worker *w);
/* Frees every block; the worker (self) is left with no block current. */
void numstack_deinit(void);
/* Makes the next block current (allocating it at twice the size when
   there is none) and returns its start, which is also the new top. */
TAGGED *numstack_overflow(worker *w);
/* Moves the top back to mark and makes current the block holding it. */
void numstack_trim(worker *w, TAGGED *mark);

TAGGED make_temp_long(worker *w, VR_INTEGER v);    /* [-25, v] */
TAGGED make_temp_ulong(worker *w, std::uint32_t v); /* [-41, v, 0], not minimal */
TAGGED make_temp_large(worker *w, TAGGED box);      /* copy without trailer */
TAGGED make_temp_float(worker *w, double d);        /* NaN canonicalised */

#endif
