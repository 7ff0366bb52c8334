/* wam.cpp: the emulator function wam_body and its drivers wam and do_wam,
 * the error raiser's choicepoint push and the exception unwinder.
 *
 * wam_body holds every instruction handler and every entry-kind handler as
 * labels of one function, reached by threaded dispatch through jmp_table
 * (computed goto).  The handlers live in the included wam_*.inc files,
 * grouped by concern; wam_regs.h documents the registers and macros they
 * share.  No object with a destructor may live in a frame that a longjmp
 * (memory-fault restart) can cross: wam_body, wam and do_wam keep to plain
 * data, and everything the handlers call is plain C-style code.
 *
 * Callers: the embedding interface (queries), native code that starts a
 * nested query (do_wam_recurs), start-up (message -2), the error raiser
 * (through vr_push_error_choicepoint).
 */
#include "wam.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "atoms.h"
#include "attributes.h"
#include "datadefs.h"
#include "errors.h"
#include "gc.h"
#include "globref.h"
#include "fli.h"
#include "stack_growth.h"
#include "eval_functions.h"
#include "indexing.h"
#include "initial_atoms.h"
#include "inline_builtins.h"
#include "instance.h"
#include "memman.h"
#include "meta_decls.h"
#include "modules.h"
#include "numstack.h"
#include "preds.h"
#include "suspend.h"
#include "terms.h"
#include "unify.h"
#include "wam_regs.h"
#include "wam_unify.h"
#include "wamsup.h"

void **emul_entry = nullptr;
void (*wam_erase_exception_hook)(void) = nullptr;
wam_clause_hooks wam_clauses = {};

/* ---- Choicepoints pushed from native code ---- */

void wam_push_choicepoint(worker *w, try_node *alt)
{
  node *b = reinterpret_cast<node *>(reinterpret_cast<char *>(w->node_) - alt->node_offset);
  int arity = (alt->node_offset - 24) / 4;
  b->next_alt = alt;
  b->local_top = w->local_top;
  b->global_top = w->global_top;
  b->trail_top = w->trail_top;
  b->frame_ = w->frame_;
  b->next_insn = w->next_insn;
  for (int i = 0; i < arity; i++)
    b->term[i] = w->term[i];
  w->node_ = b;
  w->global_uncond = b->global_top;
  w->local_uncond = b->local_top;
  if (reinterpret_cast<TAGGED *>(b) - w->trail_top < TRAIL_MARGIN)
    choice_overflow(w, TRAIL_MARGIN);
}

/* The raiser has placed the registers; the try node's predicate throws. */
static void push_error_choicepoint(worker *w, int which)
{
  try_node *alt = which == ERROR_CHPT_CERROR ? preds.nd_cerror : preds.nd_raise_excp;
  if (alt != nullptr)
    wam_push_choicepoint(w, alt);
}

/* An undefined predicate was called while undefined_goal/3, which
   handles such calls, is itself undefined. */
[[noreturn]] static void undefined_escape_fault(const definition *d)
{
  static char message[512];
  std::snprintf(message, sizeof message,
                "the escape predicate prolog:undefined_goal/3 is not defined (called for %s:%s/%d)",
                atom_name(d->module->name), atom_name(d->proc.printname), d->proc.arity);
  VR_raise_fault(message);
}

/* ---- Exception unwinding ---- */

/* A catch choicepoint is live while the current environment chain still
   reaches the environment it saved: environments are linked newest to
   oldest, and once the walk is older than that environment it cannot meet
   it any more. */
static bool catch_is_live(worker *w, const node *b)
{
  const frame *target = b->frame_;
  for (const frame *f = w->frame_; f != nullptr; f = f->frame_) {
    if (f == target)
      return true;
    if (f < target)
      return false;
  }
  return false;
}

int wam_unwind_stack(worker *w)
{
  save_error(FATAL_FAULT_TYPE, "user", atom_nil);
  const TAGGED catch_hook = MakeAtom(atom_DDcatch_hook_enum);
  node *b = w->node_;
  for (;;) {
    try_node *alt = node_alt(b);
    bool barrier = alt == termcode || alt == excpcode;
    bool is_catch = !barrier && alt->node_offset >= node_offset_for(2) && b->term[1] == catch_hook;
    if (barrier || (is_catch && catch_is_live(w, b))) {
      w->node_ = b;
      w->global_uncond = b->global_top;
      w->local_uncond = b->local_top;
      if (barrier) {
        b->next_alt = excpcode;
        return 1;
      }
      return 0;
    }
    b = node_previous(b);
  }
}

/* ---- The emulator ---- */

/* Continuations for EXIT_TOPLEVEL reached while work is pending: the
   pending work runs through true/0, which returns here, so the query still
   ends with the result it was about to give.  The halfword before each
   return point is an empty environment's size, as every return point
   needs. */
static INSN exit_stubs[3][3] = {
  {8, OPCODE(EXIT_TOPLEVEL), 1},
  {8, OPCODE(EXIT_TOPLEVEL), 0},
  {8, OPCODE(EXIT_TOPLEVEL), static_cast<INSN>(-1)},
};

int wam_body(worker *w, INSN *start, fli_call *fcp)
{
  /* Handler addresses, in instruction order: write mode, then read mode. */
  static void *const handlers[2 * INSN_COUNT] = {
#define INSN(n, name, fmt, cls) &&w_##name, &&r_##name,
#include "insns.def"
#undef INSN
  };
  static void *const kind_handlers[ENTRY_KIND_COUNT] = {
#define ENTRY_KIND(n, name) &&x_##name,
#include "entry_kinds.def"
#undef ENTRY_KIND
  };

  if (start == nullptr) {
    for (int i = 0; i < 2 * INSN_COUNT; i++)
      inst_tab[i] = handlers[i];
    for (int k = 0; k < ENTRY_KIND_COUNT; k++)
      pred_tab[k] = kind_handlers[k];
    emul_entry = pred_tab;
    vr_push_error_choicepoint = push_error_choicepoint;
    return 0;
  }

  /* Canned sequences of this activation: the resumption point of a
     ..._PROGRESS instruction that has done its unification, and a store
     of a computed result into X2 followed by PROCEED. */
  alignas(4) INSN code_progress[2] = {OPCODE(PROGRESS), 0};
  alignas(4) INSN code_store_x_value[3] = {OPCODE(STORE_X_VALUE), x_operand(2), OPCODE(PROCEED)};
  void *jmp_table[2 * INSN_COUNT + 1];
  INSN *P;
  TAGGED *HS;
  frame *E;
  INSN *caller = nullptr;
  /* Loop temporaries of the shared paths. */
  INSN *suspend_at = nullptr;
  int suspend_margin = 0;
  int profiled_call = 0;
  instance *interp_clause = nullptr;
  /* The arithmetic registers: accumulator and second operand.  In the
     integer state of a sequence (read-mode handlers) they hold untagged
     signed 32-bit values, in the general state (write-mode handlers)
     number terms; see wam_arith.inc. */
  TAGGED long0 = 0, long1 = 0;
  /* The value kind of a foreign-call instruction group (wam_later.inc). */
  int foreign_kind = 0;
  bool foreign_pop = false;
  (void)code_progress;
  (void)code_store_x_value;
  (void)profiled_call;

  if (fcp != nullptr)
    fcp->fli_stack_index = w->fli_stack_index;
  LOAD_H();
  w->insn = nullptr;
  std::memcpy(jmp_table, handlers, sizeof handlers);
  jmp_table[2 * INSN_COUNT] = nullptr;
  E = w->frame_;
  DISPATCH_W(start);

#include "wam_control.inc"
#include "wam_head.inc"
#include "wam_body.inc"
#include "wam_large.inc"
#include "wam_meta.inc"
#include "wam_arith.inc"
#include "wam_types.inc"
#include "wam_later.inc"
#include "wam_entry.inc"
#include "wam_entry_meta.inc"
#include "wam_entry_later.inc"

unimplemented_insn:
  std::fprintf(stderr, "\n! emulator: instruction %s is not implemented\n", insnname[INSN_OF(P[-1])]);
  std::abort();
unimplemented_entry:
  std::fprintf(stderr, "\n! emulator: entry kind not implemented\n");
  std::abort();
}

/* ---- Drivers ---- */

int wam(worker *w, int message, definition *pred)
{
  if (message == -2)
    return wam_body(w, nullptr, nullptr);
  fli_call fc;
  std::memset(&fc, 0, sizeof fc);
  alignas(4) INSN stub[4] = {0, 0, 0, 0};
  switch (message) {
  case 0:
    stub[0] = OPCODE(FAIL);
    break;
  case 2:
    stub[0] = OPCODE(PROCEED);
    break;
  case 3:
    stub[0] = OPCODE(EXECUTEQ);
    set_code_word(stub + 2, static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(pred)));
    break;
  default:
    std::fprintf(stderr, "\n! emulator: unknown message %d\n", message);
    std::abort();
  }
  return wam_body(w, stub, &fc);
}

/* The restart after a memory fault or a full atom table raises the
   preallocated resource error in the query that was running, so its
   catcher sees it.  Locals that change between setjmp and longjmp are
   volatile. */
int do_wam(worker *w, int message, definition *pred)
{
  std::jmp_buf env;
  std::jmp_buf *const outer = do_wam_env;
  const int fli_index = w->fli_stack_index;
  volatile int msg = message;
  definition *volatile def = pred;
  for (;;) {
    w->fli_stack_index = fli_index;
    TAGGED ball;
    switch (setjmp(env)) {
    case 0: {
      set_do_wam_env(&env);
      int result = wam(w, msg, def);
      set_do_wam_env(outer);
      return result;
    }
    case ATOM_TABLE_FULL_JUMP:
      ball = eglobal->atom_table_full_exception;
      break;
    default:
      ball = eglobal->memory_fault_exception;
      break;
    }
    set_do_wam_env(outer);
    memman_reinit(&eglobal->mm);
    w->value_trail = VALUE_TRAIL_EMPTY;
    w->heap_warn_soft = w->global_top + 1;
    if (wam_erase_exception_hook != nullptr)
      wam_erase_exception_hook();
    eglobal->exception = ball;
    msg = 3;
    def = preds.unwind_stack;
  }
}

int do_wam_recurs(worker *w, int message, definition *pred)
{
  INSN *insn = w->insn;
  int result = do_wam(w, message, pred);
  w->insn = insn;
  return result;
}
