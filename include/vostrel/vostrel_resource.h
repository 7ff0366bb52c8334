/* vostrel_resource.h: data linked into an executable as a named resource.
 *
 * A data resource is a wrapper: the 16 bytes "Vostrel Resource" (no
 * terminator), the payload size and the modification time (8 bytes each,
 * big-endian; readers use only the low 32 bits of both), then the payload.
 * A named data resource is a pointer to a wrapper followed directly by the
 * resource's mangled name (see vr_ensure_c_name): a launcher lists the
 * name's address in its pre-linked name table beside a null entry
 * function, so the word just before the name is the wrapper's address.
 * The launcher's resource unit and the runtime's resource lookup share
 * this header.
 */
#ifndef VOSTREL_VOSTREL_RESOURCE_H
#define VOSTREL_VOSTREL_RESOURCE_H

#include <stddef.h>

#define VR_RESOURCE_MAGIC "Vostrel Resource"
#define VR_RESOURCE_MAGIC_SIZE 16
#define VR_RESOURCE_HEADER_SIZE 32

/* One named data resource whose mangled name (with its terminator) takes
   N bytes. */
#define VR_NAMED_DATA_RESOURCE(N)   \
  struct {                          \
    const unsigned char *res;       \
    char name[N];                   \
  }

#endif
