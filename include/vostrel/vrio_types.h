/* vrio_types.h: the small value types of the I/O services library.
 *
 * Scalars every module passes around (option words, offsets, time-outs),
 * the tagged value vrio_t_variant, key/value argument lists (the arguments
 * of open and push), and the chained hash table that holds the registries
 * of layer kinds and character coders.  Byte buffers are vrio_buf.h.
 *
 * None of these operations lock: a list or table belongs to one thread at a
 * time.  All memory comes from the library's allocator (vrio_alloc.h).
 * Usable from C and C++.
 */
#ifndef VOSTREL_VRIO_TYPES_H
#define VOSTREL_VRIO_TYPES_H

#include <stddef.h>
#include <stdint.h>

#include "vostrel/vrio_errors.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Every call takes an options word; bit meanings belong to the call. */
typedef uint32_t vrio_t_bits;
typedef int64_t vrio_t_offset;
typedef uint64_t vrio_t_hashcode;

/* Time-outs of every wait: whole seconds and nanoseconds (below 10^9). */
typedef struct vrio_t_timespec_ {
  int32_t sec;
  int32_t nsec;
} vrio_t_timespec;

/* The kind of a variant: the low three bits of its flags. */
typedef enum vrio_t_variant_type_ {
  VRIO_VARIANT_ILLEGAL = 0,
  VRIO_VARIANT_END = 1, /* ends an argument list */
  VRIO_VARIANT_STRING = 2,
  VRIO_VARIANT_POINTER = 3,
  VRIO_VARIANT_FLAGS = 4,
  VRIO_VARIANT_INT = 5,
  VRIO_VARIANT_INT64 = 6,
  VRIO_VARIANT_FIRST_UNUSED = 7
} vrio_t_variant_type;

#define VRIO_VARIANT_TYPE_MASK 7u
#define VRIO_VARIANT_ALLOCATED 8u        /* the record is freed with its content */
#define VRIO_VARIANT_BORROWED_STRING 16u /* the string is not freed */

typedef struct vrio_t_variant_ {
  vrio_t_bits flags;
  union {
    char *string;
    int64_t i64;
    void *p;
    vrio_t_bits flags;
    int i;
  } u;
} vrio_t_variant;

/* One argument; a list ends with a property whose value is of kind END. */
typedef struct vrio_t_property_ {
  const char *key;
  vrio_t_variant v;
} vrio_t_property;
typedef const vrio_t_property *vrio_t_arglist;

/* Chained hash table of 13 buckets, fixed for its life (registries hold a
   handful of entries and change only at start-up and shut-down). */
struct vrio_t_hash_link_;
typedef struct vrio_t_hash_ {
  size_t nentries;
  size_t nlinks;
  struct vrio_t_hash_link_ **links;
} vrio_t_hash;

typedef vrio_t_error_code (*vrio_t_hash_map_fun)(vrio_t_variant *key, vrio_t_variant *value,
                                                 void *cookie);

/* Variants and argument lists. */
void vrio_variant_free(vrio_t_variant *v);
vrio_t_error_code vrio_get_arg_variant(vrio_t_arglist args, const char *key,
                                       const vrio_t_variant **pvalue);
vrio_t_error_code vrio_get_arg(vrio_t_arglist args, const char *key, vrio_t_variant_type kind,
                               void **pvalue);
vrio_t_error_code vrio_get_arg_string(vrio_t_arglist args, const char *key, const char **pstring);

/* Hash tables: keys and values are copied in (strings duplicated). */
vrio_t_error_code vrio_hash_new(vrio_t_hash **ptable);
vrio_t_error_code vrio_hash_put(vrio_t_hash *table, const vrio_t_variant *key,
                                const vrio_t_variant *value);
vrio_t_error_code vrio_hash_get(vrio_t_hash *table, const vrio_t_variant *key,
                                vrio_t_variant **pvalue);
vrio_t_error_code vrio_hash_delete(vrio_t_hash *table, const vrio_t_variant *key);
vrio_t_error_code vrio_hash_put_string(vrio_t_hash *table, const char *key,
                                       const vrio_t_variant *value);
vrio_t_error_code vrio_hash_get_string(vrio_t_hash *table, const char *key,
                                       vrio_t_variant **pvalue);
vrio_t_error_code vrio_hash_delete_string(vrio_t_hash *table, const char *key);
size_t vrio_hash_nentries(const vrio_t_hash *table);
vrio_t_error_code vrio_hash_map(vrio_t_hash *table, vrio_t_hash_map_fun fun, void *cookie);
void vrio_hash_free(vrio_t_hash *table);

/* Time-outs from milliseconds or seconds.  Negative, too large and NaN
   values are VRIO_E_PARAMETER_ERROR; *ts is written only on success. */
vrio_t_error_code vrio_ms_to_timespec(int32_t msecs, vrio_t_timespec *ts);
vrio_t_error_code vrio_double_to_timespec(double secs, vrio_t_timespec *ts);

#ifdef __cplusplus
}
#endif

#endif
