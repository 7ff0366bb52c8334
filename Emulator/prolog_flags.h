/* prolog_flags.h: the Prolog flags the engine keeps, the built-ins through
 * which the library reads and sets them, and the fixed facts of the system
 * (version, operating system, small-integer range).
 *
 * Every flag built-in unifies its first argument with the stored value
 * and, for a writable flag, stores its dereferenced second argument: the
 * library checks that the new value is legal (only $compiling/2 checks for
 * itself).  A change is not undone on backtracking.
 * Engine thread only.
 */
#ifndef VOSTREL_PROLOG_FLAGS_H
#define VOSTREL_PROLOG_FLAGS_H

#include "termdefs.h"
#include "vostrel/vostrel.h"

struct worker;

/* The version banner: product, version, platform and build date. */
const char *VR_get_emulator_version(void);

/* The start-up values of every flag; development: the system type is
   `development` (else `runtime`), which also turns the redefinition and
   informational messages on. */
void init_prolog_flags(bool development);

/* The console window title: the hooks' (installed by an embedding
   program, each with its cookie), else the title set last, else the
   version banner. */
extern VR_SetWindowTitleHook set_window_title_hook;
extern VR_GetWindowTitleHook get_window_title_hook;
extern void *set_window_title_cookie;
extern void *get_window_title_cookie;
/* Install a hook and its cookie; the previous hook. */
VR_SetWindowTitleHook VR_set_set_window_title_hook(VR_SetWindowTitleHook hook, void *cookie);
VR_GetWindowTitleHook VR_set_get_window_title_hook(VR_GetWindowTitleHook hook, void *cookie);
/* The set hook's result; else 1 when a previous title was replaced, 0
   otherwise or for text that cannot be an atom. */
int set_window_title(const char *title);
const char *get_window_title(void);

/* Writable flags: (Old, New). */
int prolog_prompt(worker *w);
int prolog_char_conversion(worker *w);
int prolog_double_quotes(worker *w);
int prolog_unknown(worker *w);
int prolog_source_info(worker *w);
int prolog_syntax(worker *w);
int prolog_compiling(worker *w);
int prolog_quoted_charset_flag(worker *w);
int prolog_compatibility_flag(worker *w);
int prolog_ferror_flag(worker *w);
int prolog_single_var_flag(worker *w);
int prolog_multiple_flag(worker *w);
int prolog_discontiguous_flag(worker *w);
int prolog_informational_flag(worker *w);
int prolog_legacy_char_classification_flag(worker *w);
int prolog_window_title(worker *w);
/* Read-only flags and facts. */
int prolog_system_type_flag(worker *w);
int prolog_version_flag(worker *w);
int prolog_version_data(worker *w);
int prolog_os_data(worker *w);
int prolog_tagged_integer_range(worker *w);
int prolog_w32_get_registry_value(worker *w);

#endif
