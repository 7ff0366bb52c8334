/* inline_builtins.h: the type classes of the type-test instructions and the
 * native bodies of the inline built-ins (arg/3, functor/3, =../2, length/2,
 * append/3, compare/3 and the mutable-term operations).
 *
 * Each native body receives the raw values of its operand registers (not
 * yet dereferenced), the address of the instruction after it and the
 * current environment, and returns where the emulator continues: `next`
 * (success), failcode (failure) or dispatchcode, which calls the predicate
 * left in the worker's `predicate` field.  dispatchcode serves two ends:
 *   - escape: a case the native body does not finish (an error to raise,
 *     nondeterminism, a list to build that meets the soft heap limit) calls
 *     the built-in's slow_ predicate of `preds` with the arguments as far
 *     as they were processed; when it succeeds $resume/7 restores the live
 *     registers and continues at `next`;
 *   - heap detour: a body that has built on the heap and finds the soft
 *     limit reached enters $resume/7 directly, so pending work runs before
 *     `next`.
 * No body raises an error itself.
 *
 * Contract with the emulator: global_top is the heap top on entry and on
 * return; the emulator has already checked the soft heap limit, so the
 * bodies may build up to HEAP_WARN_MARGIN words without a check of their
 * own.  Engine thread only.
 */
#ifndef VOSTREL_INLINE_BUILTINS_H
#define VOSTREL_INLINE_BUILTINS_H

#include <cstdint>

#include "termdefs.h"

struct worker;
struct frame;

/* ---- Type classes of dereferenced terms ---- */

/* A structure pointer to a boxed number (its first word is a negative
   header, never a functor). */
inline bool is_number_box(TAGGED t)
{
  return IsStructure(t) && static_cast<std::int32_t>(*TagToSTR(t)) < 0;
}
inline bool is_float_box(TAGGED t) { return is_number_box(t) && BoxIsFloat(*TagToSTR(t)); }
inline bool is_integer_term(TAGGED t) { return IsSmall(t) || (is_number_box(t) && !BoxIsFloat(*TagToSTR(t))); }
inline bool is_number_term(TAGGED t) { return IsSmall(t) || is_number_box(t); }
inline bool is_atomic_term(TAGGED t) { return IsAtomic(t) || is_number_box(t); }
/* A list pair or a compound term. */
inline bool is_compound_term(TAGGED t)
{
  return IsList(t) || (IsStructure(t) && static_cast<std::int32_t>(*TagToSTR(t)) >= 0);
}
inline bool is_structure_of(TAGGED t, TAGGED functor) { return IsStructure(t) && *TagToSTR(t) == functor; }

/* 1 when term contains no unbound variable and no mutable term. */
int bu1_ground(worker *w, TAGGED term);

/* ---- Native bodies ---- */

INSN *bu3_arg(worker *w, TAGGED n, TAGGED term, TAGGED arg, INSN *next, frame *env);
INSN *bu3_functor(worker *w, TAGGED term, TAGGED name, TAGGED arity, INSN *next, frame *env);
INSN *bu3_append(worker *w, TAGGED prefix, TAGGED suffix, TAGGED whole, INSN *next, frame *env);
INSN *bu3_compare(worker *w, TAGGED order, TAGGED t1, TAGGED t2, INSN *next, frame *env);
INSN *bu2_univ(worker *w, TAGGED term, TAGGED list, INSN *next, frame *env);
INSN *bu2_length(worker *w, TAGGED list, TAGGED length, INSN *next, frame *env);
INSN *bu2_create_mutable(worker *w, TAGGED value, TAGGED mutable_, INSN *next, frame *env);
INSN *bu2_get_mutable(worker *w, TAGGED value, TAGGED mutable_, INSN *next, frame *env);
INSN *bu2_update_mutable(worker *w, TAGGED value, TAGGED mutable_, INSN *next, frame *env);

#endif
