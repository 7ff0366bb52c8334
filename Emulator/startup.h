/* startup.h: bringing the runtime up and down, the program's arguments,
 * and the boot state.
 *
 * vr_glue_initialize is the one way a program starts the runtime and
 * VR_deinitialize the one way it stops it; after VR_deinitialize the
 * runtime may be started again in the same process.  Start-up runs on the
 * thread that calls it, which becomes the engine's main thread.
 *
 * Kind word (bits 0-1): 0 runtime ("vrrt"), 1 development ("vrds"), 2
 * alternative runtime ("vrre"), 3 rejected; bits 4, 5, 6 become option
 * bits 12, 14, 15.  Option word: bit 0 restore the boot file (a saved
 * state, "<kind>.sav"; without it nothing is restored and the runtime does
 * not count as initialised until the caller loads the boot state itself
 * and calls boot_state_loaded), bit 8 the arguments are in the internal
 * encoding already, bits 12-15 the development system.
 *
 * Callers: the launcher and every program through the dispatch table's
 * slots 0 and 1 (the test programs through compiler/runtime_boot.h), the
 * interface (VR_restore, VR_load, VR_set_argv, the small queries).
 */
#ifndef VOSTREL_STARTUP_H
#define VOSTREL_STARTUP_H

#include "vostrel/vostrel.h"

struct worker;

/* 1 on success (also when already initialised), 0 with the interface's
   error number set. */
int vr_glue_initialize(int argc, char **argv, VR_options *options, void **pre_linkage, char **pre_map,
                       int kind_word, int option_word);
/* 0 when not initialised, else the I/O library's shutdown result. */
int VR_deinitialize(void);
/* Before start-up only: records the options (null clears them); 1, or 0
   when started or malformed. */
int VR_set_initial_options(VR_options *options);
/* Replaces the program's arguments (options bit 0: convert from the
   system's encoding); 1, or 0 with error 14 keeping the previous list. */
int VR_set_argv(int argc, char **argv, unsigned options);

/* restore/1 and load_files/1 of the runtime library, once, in the type-in
   module: 1, 0 or -1 as VR_query. */
int VR_restore(const char *name);
int VR_load(const char *name);
/* The boot state from a saved state (qload 0: the embedded resource named
   by the path's file name, then the file) or a quick-load file (not read
   by this runtime yet: 0); 1 on success. */
int vr_qload_or_restore(const char *path, int qload);
/* The end of every boot: module user becomes the type-in module and the
   runtime counts as initialised (atom collection by itself, rebuilding
   after an abort, queries). */
void boot_state_loaded(void);

/* The saved-state reader: X0 the file or resource name (an atom), X1 the
   context term of its errors; 1 on success. */
int prolog_restore(worker *w);

const char *vr_get_failed_bootpath(void);
const char *vr_get_boot_path(void);
const char *VR_get_emulator_dir(void);
int vr_prolog_initialized(void);
void *vr_get_engine_global(void);
long vr_get_mem_usage(void);
int vr_is_development_system(void);

/* Start-up internals, exposed for the tests: the data-segment limit from
   VR_ULIMIT_DATA_SEGMENT_SIZE, the first boot directory the templates
   give ("<dir>bin/", allocated with VR_malloc, or null), and the program's
   own paths as system properties (0, or -1). */
void set_data_segment_limit(void);
char *alloc_bootpath(void);
int set_app_paths(void);

#endif
