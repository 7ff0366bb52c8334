/* memory_fault.cpp: what happens when memory that may not fail runs out,
 * and when the atom table is full.
 *
 * The memory manager never returns null for an allocation that may not
 * fail: it calls vr_memory_fault, which comes here.  Inside a running
 * emulator activation the fault is not fatal: the activation registered a
 * restart point (do_wam_env), we jump back to it with MEMORY_FAULT_JUMP and
 * the driver unwinds with the preallocated resource-error exception
 * (eglobal->memory_fault_exception), so that the query's catcher sees it.
 * With no activation to restart (start-up, saved-state restore, plain
 * native code) there is nothing sane to return to and the fault is fatal.
 *
 * Nothing is allocated on this path: it runs precisely when there is no
 * memory.  A full atom table takes the same road with its own ball, built
 * at start-up because no atom can be made then.
 */
#include <csetjmp>

#include "datadefs.h"
#include "errors.h"
#include "initial_atoms.h"
#include "memman.h"
#include "stack_growth.h"

std::jmp_buf *do_wam_env = nullptr;

std::jmp_buf *set_do_wam_env(std::jmp_buf *env)
{
  std::jmp_buf *previous = do_wam_env;
  do_wam_env = env;
  return previous;
}

void do_memory_fault(const char * /*msg*/, int culprit)
{
  eglobal->mm.culprit = culprit;
  if (do_wam_env != nullptr)
    std::longjmp(*do_wam_env, MEMORY_FAULT_JUMP);
  VR_raise_fault("Resource error: insufficient memory");
}

void atom_table_full(void)
{
  if (do_wam_env != nullptr && eglobal->atom_table_full_exception != 0)
    std::longjmp(*do_wam_env, ATOM_TABLE_FULL_JUMP);
  VR_raise_fault(initial_atoms[atom_atom_table_full_enum]);
}
