/* arith_escape.cpp: the two ways an arithmetic sequence leaves the
 * emulator's registers (see eval_functions.h): storing a general-state
 * result so that it outlives the number stack, and handing an operand that
 * is no number to the runtime library's evaluate/4.
 *
 * The escape leaves this on the stacks, oldest first:
 *   - the suspension frame of wam_suspend (the live argument registers);
 *   - an environment holding the seven $resume arguments, continued by
 *     $resume's own KONTINUE;
 *   - a choicepoint on proceed_alt, so that backtracking after the
 *     evaluation drops its heap and bindings but still reaches $resume;
 *   - the two-operand environment, one slot holding the operand already
 *     known and the other a new variable for evaluate/4 to bind, continued
 *     by RESTORE_OPERANDS_PROGRESS.
 * Callers: the arithmetic instructions (wam_arith.inc); engine thread only.
 */
#include "eval_functions.h"

#include <cmath>
#include <cstdint>
#include <cstring>

#include "errors.h"
#include "initial_atoms.h"
#include "insn_table.h"
#include "predicates.h"
#include "preds.h"
#include "suspend.h"
#include "terms.h"
#include "wam.h"
#include "wamsup.h"
#include "worker.h"

/* Words a heap copy must leave free above it: the heap's warning margin
   and one more, so that the copy never eats into the margin that pending
   work relies on. */
constexpr int STORE_MARGIN = 1153;

/* The seven arguments of $resume/7. */
constexpr int RESUME_ARITY = 7;
/* The heap margin an escape asks $resume to keep. */
constexpr int ESCAPE_PAD = 1152;

alignas(4) INSN code_restore_operands_progress[2] = {16, OPCODE(RESTORE_OPERANDS_PROGRESS)};

TAGGED wam_store_variable(worker *w, TAGGED first, int *pad)
{
  TAGGED *box = TagToSTR(first);
  if (box >= w->heap_start && box < w->stack_start)
    return first;
  const TAGGED header = box[0];
  if (header == BOX_INT1 && IntIsSmall(static_cast<VR_INTEGER>(box[1])))
    return MakeSmall_checked(static_cast<VR_INTEGER>(box[1]));
  if (BoxIsFloat(header)) {
    double d;
    std::memcpy(&d, box + 1, sizeof d);
    if (!std::isfinite(d)) {
      const bool nan = std::isnan(d);
      const TAGGED culprit = MakeAtom(nan ? atom_nan_enum : atom_inf_enum);
      w->term[0] = culprit;
      save_error(nan ? 1031 : 263, "", culprit); /* float_not_a_number, float_overflow */
      raise_error("prolog", "$eval", 1, 1);
      return 0;
    }
  }
  const unsigned n = BoxWords(header);
  TAGGED *h = w->global_top;
  if (h + n + STORE_MARGIN > w->stack_start) {
    *pad = static_cast<int>(n) + STORE_MARGIN;
    return 0;
  }
  std::memcpy(h, box, n * sizeof(TAGGED));
  h[n] = header;
  w->global_top = h + n + 1;
  return MakeSTR(h);
}

definition *wam_evaluate(worker *w, TAGGED first, TAGGED later, int opno, INSN *p, INSN *pc2,
                         frame *fr)
{
  definition *resume = wam_suspend(w, ESCAPE_PAD, p, pc2, fr);

  /* $resume runs once evaluate/4 has succeeded: its arguments wait in an
     environment that its KONTINUE reloads. */
  frame *saved = reinterpret_cast<frame *>(w->local_top);
  saved->frame_ = w->frame_;
  saved->next_insn = w->next_insn;
  for (int i = 0; i < RESUME_ARITY; i++)
    saved->term[i] = w->term[i];
  w->frame_ = saved;
  w->next_insn = &resume->proc.continuation;
  w->local_top = reinterpret_cast<TAGGED *>(saved) + FRAME_HEADER_WORDS + RESUME_ARITY;

  wam_push_choicepoint(w, proceed_alt);

  frame *operands = reinterpret_cast<frame *>(w->local_top);
  TAGGED *result = &operands->term[opno == 1 ? 0 : 1];
  *result = PointerToTerm(result);
  operands->term[opno == 1 ? 1 : 0] = opno == 1 ? later : first;
  w->term[0] = opno == 1 ? first : later;
  w->term[1] = *result;
  const auto caller = static_cast<VR_INTEGER>(reinterpret_cast<std::uintptr_t>(pc2));
  w->term[2] = IntIsSmall(caller) ? MakeSmall_checked(caller) : make_integer(w, caller);
  w->term[3] = MakeSmall_checked(opno);
  operands->frame_ = w->frame_;
  operands->next_insn = w->next_insn;
  w->next_insn = &code_restore_operands_progress[1];
  w->local_top = reinterpret_cast<TAGGED *>(operands) + FRAME_HEADER_WORDS + 2;
  w->frame_ = operands;
  return preds.evaluate;
}
