/* evaluables.h: the evaluable functors of arithmetic, each with the
 * instruction that computes it (MONOP_ for arity 1, BINOP_ for arity 2;
 * 0 for +X, which is its operand's value).  One table, read by the
 * compiler (functor to instruction) and by the decompiler of arithmetic
 * goals (instruction to functor; div/2 shares //'s instruction and the
 * table lists // first).
 */
#ifndef VOSTREL_EVALUABLES_H
#define VOSTREL_EVALUABLES_H

#include "termdefs.h"

struct evaluable_def {
  const char *name;
  unsigned arity;
  int insn;
};

extern const evaluable_def evaluable_table[];
extern const int evaluable_count;

const evaluable_def *evaluable_by_name(TAGGED name, unsigned arity);
const evaluable_def *evaluable_by_insn(int insn);

#endif
