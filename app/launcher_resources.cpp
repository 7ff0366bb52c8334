/* launcher_resources.cpp: the resources linked into a launcher executable.
 *
 * Two parallel null-terminated tables handed to start-up: vr_pre_map
 * names each resource, vr_pre_linkage gives a foreign resource's entry
 * function or null for a data resource.  A data resource's name is the
 * name field of its named record, so the word before it is the wrapper's
 * address.  The wrapped bytes (Vostrel_DATA_RESOURCE__...) come from a
 * unit that each launcher target generates around its own two saved
 * states (cmake/embed_states.cmake).  The foreign resources follow the
 * program's state: codesio, clpfd and timeout.
 */
#include <cstddef>

#include "vostrel/vostrel_foreign.h"
#include "vostrel/vostrel_resource.h"

extern "C" int vr_main_VRENV_codesio(VR_MAINFUN_PARAMS *params);
extern "C" int vr_main_VRENV_clpfd(VR_MAINFUN_PARAMS *params);
extern "C" int vr_main_VRENV_timeout(VR_MAINFUN_PARAMS *params);

extern "C" const unsigned char Vostrel_DATA_RESOURCE__0x2Ftrelix_0x2Esav[];
extern "C" const unsigned char Vostrel_DATA_RESOURCE__0x2Fvrrt_0x2Esav[];

namespace {

typedef VR_NAMED_DATA_RESOURCE(sizeof "_0x2Ftrelix_0x2Esav") trelix_record;
typedef VR_NAMED_DATA_RESOURCE(sizeof "_0x2Fvrrt_0x2Esav") vrrt_record;
static_assert(offsetof(trelix_record, name) == sizeof(void *) && offsetof(vrrt_record, name) == sizeof(void *),
              "a named record's name follows its wrapper pointer directly");

} // namespace

extern "C" const trelix_record Vostrel_NAMED_DATA_RESOURCE__0x2Ftrelix_0x2Esav = {
    Vostrel_DATA_RESOURCE__0x2Ftrelix_0x2Esav, "_0x2Ftrelix_0x2Esav"};
extern "C" const vrrt_record Vostrel_NAMED_DATA_RESOURCE__0x2Fvrrt_0x2Esav = {
    Vostrel_DATA_RESOURCE__0x2Fvrrt_0x2Esav, "_0x2Fvrrt_0x2Esav"};

char *vr_pre_map[] = {
    const_cast<char *>(Vostrel_NAMED_DATA_RESOURCE__0x2Ftrelix_0x2Esav.name),
    const_cast<char *>("codesio"),
    const_cast<char *>("clpfd"),
    const_cast<char *>("timeout"),
    const_cast<char *>(Vostrel_NAMED_DATA_RESOURCE__0x2Fvrrt_0x2Esav.name),
    nullptr,
};

void *vr_pre_linkage[] = {nullptr, reinterpret_cast<void *>(&vr_main_VRENV_codesio),
                          reinterpret_cast<void *>(&vr_main_VRENV_clpfd),
                          reinterpret_cast<void *>(&vr_main_VRENV_timeout), nullptr, nullptr};
