/* vrrt_instance_entry.cpp: the one source of the further-instance shared
 * library (CMakeLists.txt, vrrt_instance).  The runtime itself comes whole
 * from vostrel_core; the library's one export is VR_get_dispatch_40103. */
#include "vostrel/vostrel.h"

namespace {
[[maybe_unused]] VR_get_dispatch_fn *const getter = VR_get_dispatch_40103;
}
