/* vrio_props.h: initialisation options and system properties.
 *
 * A property is looked up first in the options given to vrio_init, then in
 * the library's own property environment (vrio_set_system_property), then
 * in a snapshot of the process environment taken at initialisation (the
 * live environment only before that).  Keys and values are UTF-8 with
 * character code 0 as C0 80.  Booleans are yes/no/true/false (each letter
 * in either case); sizes are decimal with an optional K, M or G.
 *
 * A compact environment is one vrio_free-able block: n+1 pointers (the
 * last null) followed by the n entries "key\0value\0" they point at; its
 * size is reported beside it.
 *
 * Nothing here locks: the caller keeps vrio_set_system_property from
 * running beside the other property operations.
 * Usable from C and C++.
 */
#ifndef VOSTREL_VRIO_PROPS_H
#define VOSTREL_VRIO_PROPS_H

#include "vostrel/vrio_types.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef enum vrio_t_init_option_type_ {
  VRIO_INIT_OPTION_TYPE_INVALID = 0,
  VRIO_INIT_OPTION_TYPE_NULL = 1, /* skipped */
  VRIO_INIT_OPTION_TYPE_SYSTEM_PROPERTY = 2
} vrio_t_init_option_type;

typedef struct vrio_t_init_option_system_property_ {
  const char *key;
  const char *value;
} vrio_t_init_option_system_property;

typedef struct vrio_t_init_option_ {
  vrio_t_init_option_type type;
  union vrio_t_init_option_u_ {
    void *reserved;
    vrio_t_init_option_system_property prop;
  } u;
} vrio_t_init_option;

/* The caller's record; the library reads it only during vrio_init. */
typedef struct vrio_t_init_options_ {
  int version; /* 1 */
  unsigned noptions;
  const vrio_t_init_option *options;
} vrio_t_init_options;

/* Flags of vrio_get_system_property and the boolean reader. */
#define VRIO_PROP_NOT_PROCESS 1u  /* do not look in the process environment */
#define VRIO_PROP_ONLY_PROCESS 2u /* look only there */

vrio_t_error_code vrio_set_initial_options(const vrio_t_init_options *options, vrio_t_bits flags);
/* *psize in: the buffer's size; out: the value's length + 1 whenever a value
   was found (VRIO_E_INSUFFICIENT_BUFFER when it does not fit). */
vrio_t_error_code vrio_get_system_property(const char *key, char *buf, size_t *psize,
                                           vrio_t_bits flags);
char *vrio_get_system_property_allocate(const char *key);
int vrio_get_boolean_system_property(const char *name, int default_value);
int vrio_get_boolean_system_property1(const char *name, int default_value, vrio_t_bits flags);
int32_t vrio_get_ssize_system_property(const char *name, int32_t default_value);
vrio_t_error_code vrio_set_system_property(const char *key, const char *value);
vrio_t_error_code vrio_get_system_properties(char ***penv, size_t *psize, vrio_t_bits flags);
vrio_t_error_code vrio_make_compact_env(const char *const *entries, char ***penv, size_t *psize,
                                        vrio_t_bits flags);
vrio_t_error_code vrio_merge_compact_envs(char *const *env1, size_t size1, char *const *env2,
                                          size_t size2, char ***penv, size_t *psize,
                                          vrio_t_bits flags);
int vrio_compare_environment_keys(const char *key1, const char *key2);
vrio_t_error_code vrio_unix_get_environ(char ***penv, size_t *psize, vrio_t_bits flags);
vrio_t_error_code vrio_unix_getenv(const char *key, char *buf, size_t *psize, vrio_t_bits flags);
/* Module start (0) and stop (1) for vrio_init: the property environment
   and the process-environment snapshot. */
vrio_t_error_code vrio_init_process(vrio_t_bits flags);

#ifdef __cplusplus
}
#endif

#endif
