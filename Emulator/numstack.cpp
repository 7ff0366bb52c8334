/* numstack.cpp: the number stack and bn_call, the bridge between number
 * terms and the bignum routines.
 *
 * Invariants: every block is one memory-manager block (bin "numstack
 * space:") whose last 12 bytes are its footer; blocks form one chain from
 * numstack_first along next, each at least twice the size of the one
 * before it when it was allocated; the worker's numstack_end is null or a
 * footer of that chain and numstack_top then lies inside its usable area.
 * Earlier blocks are never freed while the chain lives, so a temporary stays
 * valid when the stack moves on to a later block (bn_call relies on this:
 * its operands survive the move that makes room for the result).
 *
 * Callers: the arithmetic of the emulator (mark, temporaries, bn_call,
 * trim), foreign code through the engine-support interface
 * (numstack_overflow, numstack_trim), and the memory manager, which frees
 * and recreates the stack when it trims memory.
 */
#include "numstack.h"

#include <cmath>
#include <cstring>

#include "bignum.h"
#include "errors.h"
#include "memman.h"
#include "terms.h"
#include "worker.h"

namespace {

numstack *numstack_first = nullptr;

inline numstack *current_block(const worker *w)
{
  return reinterpret_cast<numstack *>(w->numstack_end);
}

inline std::ptrdiff_t free_words(const worker *w)
{
  return w->numstack_end - w->numstack_top;
}

numstack *new_block(std::size_t size, numstack *prev)
{
  char *mem = static_cast<char *>(checkalloc(size, mm_code(MM_BIN_NUMSTACK)));
  auto *b = reinterpret_cast<numstack *>(mem + size - sizeof(numstack));
  b->prev = prev;
  b->next = nullptr;
  b->size = size;
  return b;
}

/* Room for `words` words at the top: moves on to later blocks while the
   current one (if any) lacks it, then claims the words. */
TAGGED *claim(worker *w, std::ptrdiff_t words)
{
  while (w->numstack_end == nullptr || free_words(w) < words)
    numstack_overflow(w);
  TAGGED *p = w->numstack_top;
  w->numstack_top = p + words;
  return p;
}

void free_hook(worker *w)
{
  numstack_deinit();
  if (w != nullptr) {
    w->numstack_top = nullptr;
    w->numstack_end = nullptr;
  }
}

/* An operand for a routine: the header of a box, a small integer placed as
   a one-digit temporary, else null. */
TAGGED *operand(worker *w, TAGGED t)
{
  if (IsStructure(t))
    return TagToSTR(t);
  if (IsSmall(t)) {
    TAGGED *p = claim(w, 2);
    p[0] = BOX_INT1;
    p[1] = static_cast<TAGGED>(GetSmall(t));
    return p;
  }
  return nullptr;
}

inline bool is_float_box(TAGGED t)
{
  return IsStructure(t) && IsBoxHeader(*TagToSTR(t)) && BoxIsFloat(*TagToSTR(t));
}

} // namespace

numstack *numstack_first_block(void) { return numstack_first; }

void numstack_init(worker *w)
{
  /* A second start-up without a deinit in between must not leak. */
  if (numstack_first != nullptr)
    numstack_deinit();
  numstack_first = new_block(NUMSTACK_FIRST_SIZE, nullptr);
  if (w != nullptr) { /* the memory manager may trim with no worker */
    w->numstack_top = nullptr;
    w->numstack_end = nullptr;
  }
  init_float_constants();
  mm_free_numstack_hook = free_hook;
  mm_init_numstack_hook = numstack_init;
}

void numstack_deinit(void)
{
  numstack *b = numstack_first;
  while (b != nullptr) {
    numstack *next = b->next;
    const std::size_t size = b->size;
    checkdealloc(reinterpret_cast<char *>(b) + sizeof(numstack) - size, size,
                 mm_code(MM_BIN_NUMSTACK));
    b = next;
  }
  numstack_first = nullptr;
  if (self != nullptr) {
    self->numstack_top = nullptr;
    self->numstack_end = nullptr;
  }
}

TAGGED *numstack_overflow(worker *w)
{
  numstack *b = current_block(w);
  if (b == nullptr) {
    if (numstack_first == nullptr)
      numstack_first = new_block(NUMSTACK_FIRST_SIZE, nullptr);
    b = numstack_first;
  } else {
    if (b->next == nullptr)
      b->next = new_block(2 * b->size, b);
    b = b->next;
  }
  w->numstack_end = reinterpret_cast<TAGGED *>(b);
  w->numstack_top = numstack_block_start(b);
  return w->numstack_top;
}

void numstack_trim(worker *w, TAGGED *mark)
{
  w->numstack_top = mark;
  numstack *b = current_block(w);
  while (b != nullptr && !(numstack_block_start(b) <= mark && mark <= reinterpret_cast<TAGGED *>(b)))
    b = b->prev;
  /* A mark taken before the stack was first used lies in no block: then no
     block is current and the next temporary starts the first one again. */
  w->numstack_end = reinterpret_cast<TAGGED *>(b);
}

TAGGED make_temp_long(worker *w, VR_INTEGER v)
{
  TAGGED *p = claim(w, 2);
  p[0] = BOX_INT1;
  p[1] = static_cast<TAGGED>(v);
  return MakeSTR(p);
}

TAGGED make_temp_ulong(worker *w, std::uint32_t v)
{
  TAGGED *p = claim(w, 3);
  p[0] = BOX_INT2;
  p[1] = v;
  p[2] = 0;
  return MakeSTR(p);
}

TAGGED make_temp_large(worker *w, TAGGED box)
{
  const TAGGED *src = TagToSTR(box);
  const unsigned words = BoxWords(src[0]);
  TAGGED *p = claim(w, words);
  std::memcpy(p, src, words * sizeof(TAGGED));
  return MakeSTR(p);
}

TAGGED make_temp_float(worker *w, double d)
{
  if (std::isnan(d))
    d = ieee_nan;
  TAGGED *p = claim(w, 3);
  p[0] = BOX_FLOAT;
  std::memcpy(p + 1, &d, sizeof d);
  return MakeSTR(p);
}

TAGGED bn_call(worker *w, bn_routine f, TAGGED x, TAGGED y, int *error)
{
  if (f != bn_from_float) {
    if (is_float_box(x)) {
      x = bn_call(w, bn_from_float, x, 0, error);
      if (x == 0) {
        *error -= 65536;
        return 0;
      }
    }
    if (is_float_box(y)) {
      y = bn_call(w, bn_from_float, y, 0, error);
      if (y == 0) {
        *error -= 131072;
        return 0;
      }
    }
  }
  TAGGED *xp = operand(w, x);
  TAGGED *yp = operand(w, y);
  if (w->numstack_end == nullptr)
    numstack_overflow(w);

  int req = f(xp, yp, w->numstack_top, w->numstack_end);
  if (req < 0) {
    *error = req == -BN_ERR_ZERO_DIVISOR ? -(BN_ERR_ZERO_DIVISOR + 2 * 65536) : req - 65536;
    return 0;
  }
  if (req > 0) {
    do
      numstack_overflow(w);
    while (free_words(w) < req);
    if (f(xp, yp, w->numstack_top, w->numstack_end) != 0)
      VR_raise_fault("miscalculated size of bignum");
  }
  *error = 0;
  TAGGED *z = w->numstack_top;
  const unsigned words = BoxWords(z[0]);
  if (words == 2 && IntIsSmall(static_cast<VR_INTEGER>(z[1])))
    return MakeSmall_checked(static_cast<VR_INTEGER>(z[1]));
  z[words] = z[0];
  w->numstack_top = z + words + 1;
  return MakeSTR(z);
}
