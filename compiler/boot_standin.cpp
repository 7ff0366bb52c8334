/* boot_standin.cpp: slots 0 and 1 of the interface (vr_glue_initialize,
 * VR_deinitialize) until the real start-up exists.
 *
 * vr_glue_initialize brings the runtime up with runtime_instance_start and
 * the runtime library compiled from source as its boot step; it records
 * the resource tables for the resource lookups, but the options and the
 * boot kind are not read yet.
 * VR_deinitialize runs the queued events in shutdown mode, then
 * runtime_instance_stop and the removal of the event queue; the worker and
 * the memory manager stay, so the runtime cannot be started a second time
 * in the process.  The start-up layer replaces both bodies.
 */
#include <vector>

#include "atoms.h"
#include "datadefs.h"
#include "fli.h"
#include "library.h"
#include "runtime_instance.h"
#include "worker.h"

int vr_glue_initialize(int, char **, VR_options *, void **pre_linkage, char **pre_map, int, int)
{
  if (vr_prolog_initialized)
    return 1;
  eglobal->persistent.fli_pre_linkage = pre_linkage;
  eglobal->persistent.fli_pre_map = pre_map;
  std::vector<std::string> errors;
  if (runtime_instance_start(runtime_library_boot, &errors) == nullptr) {
    vr_set_errno(VR_ERR_SYSTEM);
    return 0;
  }
  return 1;
}

int VR_deinitialize(void)
{
  if (!vr_prolog_initialized)
    return 0;
  if (worker *w = self; w != nullptr) {
    disable_events();
    vr_run_event(w, 1);
  }
  runtime_instance_stop();
  event_queue_remove();
  vr_prolog_initialized = 0;
  return 0;
}
