/* vostrel_foreign.h: what a foreign resource's entry function sees.
 *
 * A foreign resource is a set of native functions that Prolog calls as
 * predicates.  Its entry function, named vr_main_VRENV_ followed by the
 * resource's mangled name (vr_ensure_c_name), is called with a
 * VR_MAINFUN_PARAMS record when the resource is loaded (flags 1) and when
 * it is unloaded (flags 2).  It checks the version and the interface
 * table, adds VR_MAINFUN_WHEN_ONLY or VR_MAINFUN_LEADING_VRENV to flags,
 * fills the three parallel tables (ended by a null function) and its
 * initialisation and shutdown functions, and returns 0.  Under
 * VR_MAINFUN_LEADING_VRENV every foreign function, and the initialisation
 * and shutdown functions, take the resource's VREnv pointer first.
 * Shared by the runtime's loader (Emulator/foreign_resources.cpp) and the
 * resources, statically linked or shared objects.
 */
#ifndef VOSTREL_VOSTREL_FOREIGN_H
#define VOSTREL_VOSTREL_FOREIGN_H

#include "vostrel/vostrel.h"

#ifdef __cplusplus
extern "C" {
#endif

enum {
  VR_MAINFUN_PARAMS_VERSION = 0x30001,
  VR_MAINFUN_LOADING = 1,
  VR_MAINFUN_UNLOADING = 2,
  VR_MAINFUN_WHEN_ONLY = 8,       /* init/deinit take only the when code */
  VR_MAINFUN_LEADING_VRENV = 0x10 /* everything takes the VREnv first */
};

typedef void (*VR_GlueFun)(void);

typedef struct VR_MAINFUN_PARAMS {
  int version;
  VREnv *vrenv;
  int flags;
  VR_GlueFun *funcs;
  const char **prednames;
  const int *arities;
  VR_GlueFun init_fun;
  VR_GlueFun deinit_fun;
} VR_MAINFUN_PARAMS;

typedef int VR_MainFun(VR_MAINFUN_PARAMS *params);

/* The checks every entry function makes before it fills the record: 0
   when it may, else the result the entry returns (2 a version it does not
   know, 1 no interface). */
static inline int vr_mainfun_check(const VR_MAINFUN_PARAMS *p)
{
  if (p->version != VR_MAINFUN_PARAMS_VERSION)
    return 2;
  if (p->vrenv == 0 || p->vrenv->dispatch_API_VOSTREL_H == 0)
    return 1;
  if (!vr_dispatch_version_ok(p->vrenv->dispatch_API_VOSTREL_H->version))
    return 2;
  return 0;
}

#ifdef __cplusplus
}
#endif

#endif
