/* suspend.cpp: suspension and resumption (see suspend.h).
 * Placeholder until the suspension layer is written: suspending is a
 * fault. */
#include "suspend.h"

#include "errors.h"

definition *wam_suspend(worker *, int, INSN *, INSN *, frame *)
{
  VR_raise_fault("suspension is not available");
  return nullptr;
}
