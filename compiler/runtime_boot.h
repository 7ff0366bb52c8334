/* runtime_boot.h: the one way the programs of this project (the Prolog
 * test runner, prolog_main, the benchmarks, the tests that need a whole
 * runtime, the interface test) start and stop a runtime with its library.
 *
 * Start: vr_glue_initialize, then the boot state.  Until the saved state
 * that carries the runtime library exists, the runtime starts without a
 * boot state (option bit 0 clear) and the library is compiled from
 * source (runtime_load_library); restoring "vrrt.sav" instead is a change
 * to runtime_start alone.  Stop: VR_deinitialize, after which the runtime
 * may be started again.
 *
 * C linkage: a program that reaches the runtime only through the dispatch
 * structure finds these two by name (the further-instance library exports
 * them beside VR_get_dispatch_40103).  Engine thread only.
 */
#ifndef TRELIX_RUNTIME_BOOT_H
#define TRELIX_RUNTIME_BOOT_H

#ifdef __cplusplus
extern "C" {
#endif

/* 1 with the runtime started and its library loaded; 0 after a message on
   standard error, with the runtime stopped again. */
int runtime_start(int argc, char **argv);
/* VR_deinitialize's result. */
int runtime_stop(void);

#ifdef __cplusplus
}
#endif

#endif
