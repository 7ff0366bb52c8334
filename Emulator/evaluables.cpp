/* evaluables.cpp: the evaluable functors and their instructions. */
#include "evaluables.h"

#include "atoms.h"
#include "insn_table.h"

const evaluable_def evaluable_table[] = {
    {"-", 1, MONOP_MINUS}, {"+", 1, 0}, {"integer", 1, MONOP_INTEGER}, {"float", 1, MONOP_FLOAT},
    {"\\", 1, MONOP_COMPLEMENT}, {"sin", 1, MONOP_SIN}, {"cos", 1, MONOP_COS}, {"tan", 1, MONOP_TAN},
    {"cot", 1, MONOP_COT}, {"sinh", 1, MONOP_SINH}, {"cosh", 1, MONOP_COSH}, {"tanh", 1, MONOP_TANH},
    {"coth", 1, MONOP_COTH}, {"asin", 1, MONOP_ASIN}, {"acos", 1, MONOP_ACOS}, {"atan", 1, MONOP_ATAN},
    {"acot", 1, MONOP_ACOT}, {"asinh", 1, MONOP_ASINH}, {"acosh", 1, MONOP_ACOSH},
    {"atanh", 1, MONOP_ATANH}, {"acoth", 1, MONOP_ACOTH}, {"sqrt", 1, MONOP_SQRT}, {"log", 1, MONOP_LOG},
    {"exp", 1, MONOP_EXP}, {"abs", 1, MONOP_ABS}, {"msb", 1, MONOP_MSB}, {"round", 1, MONOP_ROUND},
    {"truncate", 1, MONOP_TRUNCATE}, {"floor", 1, MONOP_FLOOR}, {"ceiling", 1, MONOP_CEILING},
    {"sign", 1, MONOP_SIGN}, {"float_integer_part", 1, MONOP_FLOAT_INTEGER_PART},
    {"float_fractional_part", 1, MONOP_FLOAT_FRACTIONAL_PART},
    {"+", 2, BINOP_ADD}, {"-", 2, BINOP_SUBTRACT}, {"*", 2, BINOP_MULTIPLY}, {"/", 2, BINOP_DIVIDE},
    {"//", 2, BINOP_IDIVIDE}, {"div", 2, BINOP_IDIVIDE}, {"mod", 2, BINOP_MODULUS},
    {"rem", 2, BINOP_REMAINDER}, {"max", 2, BINOP_MAXIMUM}, {"min", 2, BINOP_MINIMUM},
    {"\\", 2, BINOP_XOR}, {"/\\", 2, BINOP_AND}, {"\\/", 2, BINOP_OR}, {"<<", 2, BINOP_LEFT_SHIFT},
    {">>", 2, BINOP_RIGHT_SHIFT}, {"atan2", 2, BINOP_ATAN2}, {"acot2", 2, BINOP_ACOT2},
    {"log", 2, BINOP_LOG}, {"exp", 2, BINOP_EXP}, {"**", 2, BINOP_POWER}, {"gcd", 2, BINOP_GCD},
};


const int evaluable_count = sizeof evaluable_table / sizeof evaluable_table[0];

const evaluable_def *evaluable_by_name(TAGGED name, unsigned arity)
{
  for (const evaluable_def &d : evaluable_table)
    if (d.arity == arity && name == init_atom_check(d.name, 0))
      return &d;
  return nullptr;
}

const evaluable_def *evaluable_by_insn(int insn)
{
  for (const evaluable_def &d : evaluable_table)
    if (d.insn == insn && insn != 0)
      return &d;
  return nullptr;
}
