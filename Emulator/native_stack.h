/* native_stack.h: how much machine stack the running thread has left.
 *
 * Code that recurses over terms (the reader's descent, the compiler's
 * expression and structure builders, the small writer) recurses as deep as
 * the term is nested, and a term can be nested far deeper than any fixed
 * stack allows.  Such code asks native_stack_low() at each level and
 * reports the term as nested too deeply instead of overflowing the stack.
 * The reserve is generous: sanitizer builds use much bigger frames.
 */
#ifndef VOSTREL_NATIVE_STACK_H
#define VOSTREL_NATIVE_STACK_H

#include <cstddef>

/* Bytes the thread's stack keeps in reserve below the deepest recursion. */
constexpr std::size_t NATIVE_STACK_RESERVE = 2u << 20;

/* True when less than NATIVE_STACK_RESERVE bytes of the running thread's
   stack remain (false when the stack's bounds are unknown). */
bool native_stack_low(void);

#endif
