/* foreign_calls.cpp: the work of the foreign-call instructions
 * (wam_later.inc) and the trampoline apply_asm.
 *
 * A foreign predicate's stub is straight-line code: OPEN_FOREIGN_CALL
 * saves the arguments in an environment F, one PUSH per parameter fills
 * the activation's fli_call record, CALL_FOREIGN(_FAST) calls the
 * function, POP/RECEIVE unify what it gave back with the saved arguments
 * and CLOSE_FOREIGN_CALL releases everything.  The handlers keep the
 * emulator's registers; everything that builds terms, converts text or
 * records errors is here, in plain functions (no destructors: a memory
 * fault may longjmp across them).
 *
 * Invariants: between OPEN and CLOSE (or failure, or an error) the term
 * references made since the activation began and the PUSH_CODES texts
 * belong to the record; fli_release gives both back.  The stub compiler
 * (Emulator/lib/foreign.pl) keeps the pushed words within 513, the result
 * slots within 2048 bytes and the term references within what OPEN
 * reserved.
 */
#include <cmath>
#include <cstring>

#include "atom_text.h"
#include "atoms.h"
#include "chartype.h"
#include "errors.h"
#include "fli.h"
#include "globref.h"
#include "memman.h"
#include "predicates.h"
#include "modules.h"
#include "terms.h"
#include "unify.h"
#include "wam.h"
#include "worker.h"

/* cdecl on 32-bit x86: the words go on the stack in order, word 0 at the
   lowest address; the result comes back in eax, or in st(0) for a double.
   The x87 stack is empty after a function that returns no double, so
   fxam tells the two apart without knowing the function's type.  edi
   keeps the caller's esp and esi the function across the call (both
   callee-saved); the block's address waits just below the saved esp. */
void apply_asm(void *function, std::int32_t *block, int nbytes)
{
#if defined(__i386__)
  int n = nbytes / 4;
  void *fn = function;
  std::int32_t *b = block;
  __asm__ volatile(
      "movl %%esp, %%edi\n\t"
      "pushl %%edx\n\t"
      "leal 0(,%%ecx,4), %%eax\n\t"
      "subl %%eax, %%esp\n\t"
      "andl $-16, %%esp\n\t"
      "addl %%eax, %%esp\n\t"
      "testl %%ecx, %%ecx\n\t"
      "jz 2f\n"
      "1:\n\t"
      "pushl -4(%%edx,%%ecx,4)\n\t"
      "decl %%ecx\n\t"
      "jnz 1b\n"
      "2:\n\t"
      "call *%%esi\n\t"
      "movl -4(%%edi), %%edx\n\t"
      "movl %%eax, (%%edx)\n\t"
      "movl %%edi, %%esp\n\t"
      "fxam\n\t"
      "fnstsw %%ax\n\t"
      "andl $0x4500, %%eax\n\t"
      "cmpl $0x4100, %%eax\n\t"
      "je 3f\n\t"
      "fstpl 8(%%edx)\n"
      "3:\n\t"
      : "+c"(n), "+d"(b), "+S"(fn)
      :
      : "eax", "edi", "memory", "cc", "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7");
#else
#error "apply_asm: 32-bit x86 only"
#endif
}

/* ---- Release and errors ---- */

void fli_release(worker *w, fli_call *fc)
{
  w->fli_stack_index = fc->fli_stack_index;
  void *m = fc->mems;
  while (m != nullptr) {
    void *next;
    std::memcpy(&next, m, sizeof next);
    VR_free(m);
    m = next;
  }
  fc->mems = nullptr;
}

/* Releases the record, records the error and pushes the choicepoint that
   raises it for def's goal (built from X0..); the caller backtracks. */
void raise_fli_error(worker *w, fli_call *fc, int errcode, definition *def, int argno, TAGGED culprit)
{
  fli_release(w, fc);
  culprit = deref(culprit);
  save_error(IsVar(culprit) ? 0 : errcode, "", culprit);
  raise_error(atom_name(def->defined_in->name), atom_name(def->proc.printname), def->proc.arity, argno);
}

/* ---- Passing values in ---- */

namespace {

bool is_boxed(TAGGED t) { return IsStructure(t) && IsBoxHeader(TagToSTR(t)[0]); }

} // namespace

/* kind: the PUSH instruction's offset from PUSH_FLOAT (0 float, 1
   integer, 2 term, 3 atom, 4 string, 5 codes).  0, or the error type. */
int fli_push(worker *w, fli_call *fc, int kind, TAGGED reg)
{
  std::int32_t *a = fc->arguments + fc->narg / 4;
  if (kind == 2) {
    const int ref = fc->fli_stack_top++;
    w->fli_stack_start[ref].term = reg;
    *a = ref;
    fc->narg += 4;
    return 0;
  }
  const TAGGED t = deref(reg);
  switch (kind) {
  case 0: {
    double d;
    if (IsSmall(t))
      d = static_cast<double>(GetSmall(t));
    else if (is_boxed(t))
      d = vri_get_float(t);
    else
      return 0x301;
    std::memcpy(a, &d, sizeof d);
    fc->narg += 8;
    return 0;
  }
  case 1:
    if (IsSmall(t))
      *a = GetSmall(t);
    else if (is_boxed(t))
      *a = vri_get_integer(t);
    else
      return 0x301;
    break;
  case 3:
    if (!IsAtom(t))
      return 0x201;
    *a = static_cast<std::int32_t>(t);
    break;
  case 4:
    if (!IsAtom(t))
      return 0x201;
    *a = static_cast<std::int32_t>(reinterpret_cast<std::uintptr_t>(atom_name(t)));
    break;
  default: {
    char *s = nullptr;
    if (vr_list_to_string(t, 1, &s) != 1)
      return 0x701;
    const std::size_t len = std::strlen(s);
    char *block = static_cast<char *>(VR_malloc(len + 5));
    if (block == nullptr)
      vr_memory_fault(0, -1);
    std::memcpy(block, &fc->mems, sizeof(void *));
    std::memcpy(block + 4, s, len + 1);
    fc->mems = block;
    *a = static_cast<std::int32_t>(reinterpret_cast<std::uintptr_t>(block + 4));
    break;
  }
  }
  fc->narg += 4;
  return 0;
}

/* kind as fli_push: a result slot and its address as the next word. */
void fli_push_result(worker *w, fli_call *fc, int kind)
{
  char *slots = reinterpret_cast<char *>(fc->refargs);
  if (kind == 0) {
    fc->refargs_count = (fc->refargs_count + 7) & ~7;
    const double zero = 0.0;
    std::memcpy(slots + fc->refargs_count, &zero, sizeof zero);
  } else {
    std::int32_t v = 0;
    if (kind == 2) {
      const int ref = fc->fli_stack_top++;
      w->fli_stack_start[ref].term = atom_nil;
      v = ref;
    } else if (kind == 3) {
      v = static_cast<std::int32_t>(atom_nil);
    }
    std::memcpy(slots + fc->refargs_count, &v, sizeof v);
  }
  /* A term slot's word is its term reference; any other is its address. */
  std::int32_t word = static_cast<std::int32_t>(reinterpret_cast<std::uintptr_t>(slots + fc->refargs_count));
  if (kind == 2)
    std::memcpy(&word, slots + fc->refargs_count, sizeof word);
  fc->arguments[fc->narg / 4] = word;
  fc->narg += 4;
  fc->refargs_count += kind == 0 ? 8 : 4;
}

/* ---- Taking results back ---- */

/* The value of a POP (from the next slot) or a RECEIVE (from the return
   words): kind as fli_push.  Fills the record's tmp_ fields. */
void fli_take(fli_call *fc, int kind, bool pop)
{
  const char *slots = reinterpret_cast<const char *>(fc->refargs);
  std::int32_t word = fc->arguments[0];
  if (kind == 0) {
    double d;
    if (pop) {
      fc->refargs_count = (fc->refargs_count + 7) & ~7;
      std::memcpy(&d, slots + fc->refargs_count, sizeof d);
      fc->refargs_count += 8;
    } else {
      std::memcpy(&d, fc->arguments + 2, sizeof d);
    }
    fc->tmp_float = d;
    return;
  }
  if (pop) {
    std::memcpy(&word, slots + fc->refargs_count, sizeof word);
    fc->refargs_count += 4;
  }
  switch (kind) {
  case 1:
    fc->tmp_integer = word;
    break;
  case 2:
    fc->tmp_term = word;
    break;
  case 3:
    fc->tmp_atom = static_cast<TAGGED>(word);
    break;
  default:
    fc->tmp_string = reinterpret_cast<char *>(static_cast<std::uintptr_t>(static_cast<std::uint32_t>(word)));
    break;
  }
}

/* Unifies the taken value with arg.  1 success, 0 failure, or the error
   type (negative) of a value that cannot be given: a NaN or infinity for
   an unbound argument, a text that is not valid.  H is w->global_top. */
int fli_give(worker *w, fli_call *fc, int kind, TAGGED arg, TAGGED *culprit)
{
  arg = deref(arg);
  switch (kind) {
  case 0: {
    const double d = fc->tmp_float;
    if (IsVar(arg)) {
      if (std::isnan(d)) {
        *culprit = init_atom_check("nan", 0);
        return -0x407;
      }
      if (std::isinf(d)) {
        *culprit = init_atom_check("inf", 0);
        return -0x107;
      }
      return cunify(w, arg, make_float(w, d));
    }
    return is_boxed(arg) && BoxIsFloat(TagToSTR(arg)[0]) && vri_get_float(arg) == d;
  }
  case 1: {
    const std::int32_t v = static_cast<std::int32_t>(fc->tmp_integer);
    if (IsVar(arg))
      return cunify(w, arg, make_integer_term(w, v));
    if (IsSmall(arg))
      return GetSmall(arg) == v;
    /* Only a one-digit box can hold a 32-bit value; a longer one never
       equals it (its lowest digit alone would). */
    return is_boxed(arg) && TagToSTR(arg)[0] == BOX_INT1 && static_cast<std::int32_t>(TagToSTR(arg)[1]) == v;
  }
  case 2: {
    const TAGGED t = w->fli_stack_start[fc->tmp_term].term;
    return cunify(w, arg, t);
  }
  case 3:
    if (IsVar(arg))
      return cunify(w, arg, fc->tmp_atom);
    return arg == fc->tmp_atom;
  case 4: {
    const char *s = fc->tmp_string;
    if (s == nullptr || !wci_valid_string(s)) {
      *culprit = MakeSmall_checked(0);
      return -0x503;
    }
    if (IsVar(arg)) {
      const TAGGED a = init_atom_check(s, 0);
      return a != 0 && cunify(w, arg, a);
    }
    return IsAtom(arg) && std::strcmp(atom_name(arg), s) == 0;
  }
  default: {
    const char *s = fc->tmp_string;
    if (s == nullptr || !wci_valid_string(s)) {
      *culprit = MakeSmall_checked(0);
      return -0x503;
    }
    /* The argument waits in X0 while the list is built (the heap may
       move). */
    w->term[0] = arg;
    const TAGGED list = vr_n_codes_to_list(w, std::strlen(s), s, atom_nil, 1, 1152, 1);
    if (list == 0)
      return 0;
    return cunify(w, w->term[0], list);
  }
  }
}
