/* foreign_resources.h: loading and unloading foreign resources, and
 * predicates defined from foreign code (foreign_resources.cpp).
 *
 * Callers: the built-in table (the $..._foreign_resource... rows), module
 * prolog's loader (Emulator/lib/foreign.pl) through them, and foreign code
 * through VR_define_c_predicate.
 */
#ifndef VOSTREL_FOREIGN_RESOURCES_H
#define VOSTREL_FOREIGN_RESOURCES_H

#include "vostrel/vostrel_foreign.h"

#include "predicates.h"

struct worker;

/* The entry function of the first pre-linked row named name with one;
   null when there is none (a data resource has a null entry). */
VR_MainFun *vr_is_statically_linked(const char *name);
/* Opens the shared object at path and finds its entry function
   (vr_main_VRENV_ + mangled, or with a leading underscore); null with the
   error recorded. */
VR_MainFun *load_foreign_resource(const char *path, const char *name, const char *mangled, void **handle);
void unload_foreign_resource(void *ignored, void *handle);
/* The program's global symbol VostrelResource_ + mangled name, or null;
   *size is set to 0. */
void *get_resource_data(const char *name, int *size);
/* Records a foreign-interface error (a system error, culprit 0) from a
   formatted message; one that does not fit 2046 characters is empty. */
void ff_fault(const char *format, ...) __attribute__((format(printf, 1, 2)));
/* Calls an initialisation or shutdown function (with vrenv first when it
   is not null) with the interface's outcome flag set, releasing the term
   references it made; whether the flag stayed set. */
int call_init_helper(worker *w, VR_GlueFun fun, VREnv *vrenv, int when);

/* Shuts every open resource down and closes it (the runtime's shutdown). */
void unload_all_foreign_resources(worker *w);

int VR_define_c_predicate(const char *name, int arity, const char *module, int (*fun)(VR_term_ref, void *),
                          void *stash);
/* The function of predicates defined by VR_define_c_predicate: record is
   the definition's record, base the term reference of the first argument
   (the others follow). */
int simple_pred_dispatcher(void *record, VR_term_ref base);
/* Makes module:name/arity (module null: prolog) undefined and, when
   install is set, a native predicate running function. */
void install_c_predicate(const char *name, int arity, const char *module, int install, c_predicate_fn function);

int prolog_foreign_resource_suffix(worker *w);     /* $foreign_resource_suffix(-S) */
int prolog_mainfun_params_version(worker *w);      /* $VR_MAINFUN_PARAMS_VERSION(-V) */
int prolog_prelinked_foreign_resource(worker *w);  /* $prelinked_foreign_resource(+Name) */
int prolog_load_foreign_resource(worker *w);       /* $load_foreign_resource(+Name, +Module, +When) */
int prolog_foreign_resource_symbols(worker *w);    /* $foreign_resource_symbols(+Name, +Specs, -Stash) */
int prolog_unload_foreign_resource(worker *w);     /* $unload_foreign_resource(+Name, +Module, +When) */

#endif
