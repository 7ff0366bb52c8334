/* wam.cpp: the emulator function wam_body and its drivers wam and do_wam.
 *
 * wam_body holds every instruction handler and every entry-kind handler as
 * labels of one function, reached by threaded dispatch through jmp_table
 * (computed goto).  The handlers live in the included wam_*.inc files,
 * grouped by concern; wam_regs.h documents the registers and macros they
 * share.  No object with a destructor may live in a frame that a longjmp
 * (memory-fault restart) can cross: this file keeps to plain data.
 */
#include "wam.h"

#include <cstdio>
#include <cstdlib>

#include "errors.h"
#include "wam_regs.h"

void **emul_entry = nullptr;

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
  void *jmp_table[2 * INSN_COUNT + 1];
  INSN *P;
  TAGGED *HS;
  frame *E;
  INSN *caller = nullptr;
  (void)fcp;

  if (start == nullptr) {
    for (int i = 0; i < 2 * INSN_COUNT; i++)
      inst_tab[i] = handlers[i];
    for (int k = 0; k < ENTRY_KIND_COUNT; k++)
      pred_tab[k] = kind_handlers[k];
    emul_entry = pred_tab;
    return 0;
  }
  for (int i = 0; i < 2 * INSN_COUNT; i++)
    jmp_table[i] = handlers[i];
  jmp_table[2 * INSN_COUNT] = nullptr;
  LOAD_H();
  E = w->frame_;
  (void)caller;
  DISPATCH_W(start);

#include "wam_control.inc"
#include "wam_head.inc"
#include "wam_body.inc"
#include "wam_large.inc"
#include "wam_later.inc"
#include "wam_entry.inc"
#include "wam_entry_later.inc"

unimplemented_insn:
  std::fprintf(stderr, "\n! emulator: instruction %s is not implemented\n", insnname[INSN_OF(P[-1])]);
  std::abort();
unimplemented_entry:
  std::fprintf(stderr, "\n! emulator: entry kind not implemented\n");
  std::abort();
}
