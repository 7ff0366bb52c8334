/* arith_decompile.cpp: the source goal of an inline arithmetic sequence,
 * for error messages.
 *
 * $decompile_arith(Caller, Goal, Side) reads the sequence whose first
 * instruction's opcode is at Caller (the `caller` the arithmetic escape
 * passes to evaluate/4) and rebuilds the goal it was compiled from:
 * X is Expr for a sequence that ends with a store, Left op Right for one
 * that ends with a comparison.  Operands that came from registers or
 * environment variables are shown as fresh variables (their values are
 * gone by the time an error is reported); constants are shown as they
 * stand.  Side is 0, or the argument of Goal that the sequence at Caller
 * computed when it only prepared an operand of the goal that follows it.
 * Fails when Caller does not start a sequence.
 *
 * Caller must be the culprit of an arithmetic escape in progress: the
 * built-in reads code at that address, so it first finds the escape's
 * environments on the environment chain (evaluate/4's own environment
 * continues at RESTORE_OPERANDS_PROGRESS, two links below it the
 * environment of $resume/7 holds the culprit) and fails for any other
 * address, which a program could pass by calling it directly.
 */
#include <cstdint>
#include <cstring>
#include <utility>

#include "eval_functions.h"
#include "evaluables.h"
#include "insn_table.h"
#include "stack_growth.h"
#include "terms.h"
#include "unify.h"
#include "worker.h"
#include "atoms.h"
#include "initial_atoms.h"

int prolog_decompile_arith(worker *w); /* $decompile_arith/3 */

namespace {

struct builder {
  worker *w;
  TAGGED var()
  {
    TAGGED *h = w->global_top++;
    *h = PointerToTerm(h);
    return *h;
  }
  TAGGED integer(std::int32_t v)
  {
    if (v >= -(1 << 28) && v < (1 << 28))
      return MakeSmall_checked(v);
    TAGGED *h = w->global_top;
    w->global_top += 3;
    h[0] = BOX_INT1;
    h[1] = static_cast<TAGGED>(v);
    h[2] = BOX_INT1;
    return MakeSTR(h);
  }
  /* A copy of an inline boxed number, with its trailer. */
  TAGGED large(const INSN *at)
  {
    const TAGGED header = code_word(at);
    const unsigned words = BoxWords(header);
    TAGGED *h = w->global_top;
    for (unsigned i = 0; i < words; i++)
      h[i] = code_word(at + 2 * i);
    h[words] = header;
    w->global_top += words + 1;
    return MakeSTR(h);
  }
  TAGGED compound(const char *name, TAGGED a)
  {
    TAGGED *h = w->global_top;
    w->global_top += 2;
    h[0] = MakeFunctor(init_atom_check(name, 0), 1);
    h[1] = a;
    return MakeSTR(h);
  }
  TAGGED compound(const char *name, TAGGED a, TAGGED b)
  {
    TAGGED *h = w->global_top;
    w->global_top += 3;
    h[0] = MakeFunctor(init_atom_check(name, 0), 2);
    h[1] = a;
    h[2] = b;
    return MakeSTR(h);
  }
};

/* The plain form of a Q form; the instruction itself otherwise. */
int plain_of(int insn)
{
  const int p = insn_plain_of(insn);
  return p >= 0 ? p : insn;
}
bool is_q_form(int insn) { return plain_of(insn) != insn; }

/* The operand halfwords of instruction insn at p (just past the opcode),
   past the Q pad. */
const INSN *operands(int insn, const INSN *p) { return is_q_form(insn) ? p + 1 : p; }

const char *relation_name(int plain)
{
  switch (plain) {
  case EQUAL_TO: case EQUAL_TO_IMM: return "=:=";
  case NOT_EQUAL_TO: case NOT_EQUAL_TO_IMM: return "=\\=";
  case LESS_THAN: case LESS_THAN_IMM: return "<";
  case NOT_LESS_THAN: case NOT_LESS_THAN_IMM: return ">=";
  case GREATER_THAN: case GREATER_THAN_IMM: return ">";
  case NOT_GREATER_THAN: case NOT_GREATER_THAN_IMM: return "=<";
  default: return nullptr;
  }
}

const char *immediate_name(int plain)
{
  switch (plain) {
  case BINOP_ADD_IMM: return "+";
  case BINOP_SUBTRACT_IMM: return "-";
  case BINOP_MULTIPLY_IMM: return "*";
  case BINOP_IDIVIDE_IMM: return "//";
  case BINOP_MODULUS_IMM: return "mod";
  case BINOP_REMAINDER_IMM: return "rem";
  case BINOP_XOR_IMM: return "\\";
  case BINOP_AND_IMM: return "/\\";
  case BINOP_OR_IMM: return "\\/";
  default: return nullptr;
  }
}

TAGGED decompile(builder &b, const INSN *pc, int temp_reg, TAGGED temp_value, int *side);

/* An X operand: the value of a temporary stored by the sequence before,
   or an unknown value. */
TAGGED x_operand(builder &b, const INSN *op, int temp_reg, TAGGED temp_value, bool *used)
{
  if (static_cast<int>(*op) == temp_reg && temp_value != 0) {
    *used = true;
    return temp_value;
  }
  return b.var();
}

/* Rebuilds the goal; 0 when the code is not a sequence.  A sequence that
   stores into an X register whose value the next sequence reads computed
   an operand of that sequence's goal (the compiler computes complex right
   operands first): the goal is then the next sequence's, and *side says
   which argument of it the first sequence fed (0 when it is the goal's
   own). */
TAGGED decompile(builder &b, const INSN *pc, int temp_reg, TAGGED temp_value, int *side)
{
  TAGGED e0 = 0, e1 = 0;
  bool temp_used = false;
  for (int steps = 0; steps < 4096; steps++) {
    const int insn = INSN_OF(*pc);
    if (insn < 0 || insn >= INSN_COUNT)
      return 0;
    const int plain = plain_of(insn);
    const INSN *op = operands(insn, pc + 1);
    const int cls = insn_class[insn];
    if (steps == 0 && cls != iclass_first && plain != COMPAREOP)
      return 0;
    switch (plain) {
    case FIRST_CONSTANT: e0 = b.integer(static_cast<std::int32_t>(code_word(op))); break;
    case FIRST_LARGE: e0 = b.large(op); break;
    case FIRST_X_VALUE: e0 = x_operand(b, op, temp_reg, temp_value, &temp_used); break;
    case FIRST_Y_VALUE: case ANOP_IF: e0 = b.var(); break;
    case ANOP_INF: e0 = MakeAtom(atom_inf_enum); break;
    case ANOP_NAN: e0 = MakeAtom(atom_nan_enum); break;
    case COMPAREOP: e0 = b.compound("compare", b.var(), b.var()); break;
    case LATER_CONSTANT: e1 = b.integer(static_cast<std::int32_t>(code_word(op))); break;
    case LATER_LARGE: e1 = b.large(op); break;
    case LATER_X_VALUE:
      e1 = x_operand(b, op, temp_reg, temp_value, &temp_used);
      if (temp_used && *side == 0)
        *side = 2;
      break;
    case LATER_Y_VALUE: e1 = b.var(); break;
    case BINOP_SWAP: std::swap(e0, e1); break;
    case STORE_CONSTANT: return b.compound("is", b.integer(static_cast<std::int32_t>(code_word(op))), e0);
    case STORE_LARGE: return b.compound("is", b.large(op), e0);
    case STORE_X_VARIABLE: {
      /* A temporary for the next sequence's goal? */
      int next_side = 0;
      const INSN *next = pc + insn_length(pc);
      if (temp_reg < 0) {
        TAGGED *mark = b.w->global_top;
        TAGGED goal = decompile(b, next, static_cast<int>(*op), e0, &next_side);
        if (goal != 0 && next_side != 0) {
          *side = next_side;
          return goal;
        }
        b.w->global_top = mark;
      }
      return b.compound("is", b.var(), e0);
    }
    case STORE_X_VALUE: case STORE_Y_FIRST_VARIABLE: case STORE_Y_VARIABLE:
    case STORE_Y_UNSAFE_VARIABLE: case STORE_Y_VALUE:
      return b.compound("is", b.var(), e0);
    default:
      if (const char *rel = relation_name(plain)) {
        const bool imm = plain >= EQUAL_TO_IMM;
        TAGGED right = imm ? b.integer(static_cast<std::int32_t>(code_word(op))) : e1;
        return b.compound(rel, e0, right);
      }
      if (const char *name = immediate_name(plain)) {
        e0 = b.compound(name, e0, b.integer(static_cast<std::int32_t>(code_word(op))));
        break;
      }
      if (const evaluable_def *d = evaluable_by_insn(plain)) {
        e0 = d->arity == 1 ? b.compound(d->name, e0) : b.compound(d->name, e0, e1);
        break;
      }
      return 0;
    }
    pc += insn_length(pc);
  }
  return 0;
}

/* A code address saved by wam_suspend as two small integers (the address
   with its low three bits replaced by the small-integer tag, and those
   three bits); 0 when the words are not such a pair. */
std::uintptr_t saved_address(TAGGED high, TAGGED low)
{
  if (!IsSmall(high) || !IsSmall(low) || GetSmall(low) < 0 || GetSmall(low) > 7)
    return 0;
  return static_cast<std::uintptr_t>((high - SMALL_TAG) + static_cast<TAGGED>(GetSmall(low)));
}

/* True when address is the culprit of an arithmetic escape whose
   environments are on the chain from the current environment. */
bool escape_culprit(worker *w, std::uintptr_t address)
{
  const INSN *restore = &code_restore_operands_progress[1];
  auto in_stack = [w](const frame *f) {
    const TAGGED *p = reinterpret_cast<const TAGGED *>(f);
    return p >= w->stack_start && p < w->local_top;
  };
  for (const frame *e = w->frame_; e != nullptr && in_stack(e); e = e->frame_) {
    if (e->next_insn != restore)
      continue;
    const frame *operands = e->frame_;
    if (operands == nullptr || !in_stack(operands) || operands->frame_ == nullptr || !in_stack(operands->frame_))
      continue;
    const TAGGED *resume_args = operands->frame_->term;
    /* Arguments 5 and 6 of $resume/7 name the culprit; both 0 when it was
       the resumption point itself (arguments 2 and 3, the odd form
       marking a linked environment). */
    const std::uintptr_t culprit = saved_address(resume_args[5], resume_args[6]);
    if (culprit != 0 ? culprit == address : ((saved_address(resume_args[2], resume_args[3]) & ~std::uintptr_t{1}) == address))
      return true;
  }
  return false;
}

} // namespace

int prolog_decompile_arith(worker *w)
{
  TAGGED c = deref(w->term[0]);
  std::uintptr_t address;
  if (IsSmall(c))
    address = static_cast<std::uintptr_t>(GetSmall(c));
  else if (IsStructure(c) && TagToSTR(c)[0] == BOX_INT1)
    address = static_cast<std::uint32_t>(TagToSTR(c)[1]);
  else if (IsStructure(c) && TagToSTR(c)[0] == BOX_INT2)
    address = static_cast<std::uint32_t>(TagToSTR(c)[1]);
  else
    return 0;
  if (address == 0 || address % 2 != 0 || !escape_culprit(w, address))
    return 0;
  /* A goal of a sequence needs a few words per instruction. */
  if (w->heap_warn - w->global_top < 1024)
    call_overflow(w, 1024, 2);
  builder b{w};
  int side = 0;
  TAGGED goal = decompile(b, reinterpret_cast<const INSN *>(address), -1, 0, &side);
  return goal != 0 && cunify(w, w->term[1], goal) && cunify(w, w->term[2], MakeSmall_checked(side));
}
