/* url_objects.h: resources and files addressed by URL.
 *
 * Data that travels inside the executable (the saved states) is named by
 * URLs "URL:x-vostrel-resource:/NAME".  vostrel_resource_find_data finds a
 * resource's bytes: first in the launcher's pre-linked tables
 * (eglobal->persistent), then in the trailers of files named by the
 * configuration (embedded_resources.h).  vrio_open_url is the I/O
 * library's open function for such names: a read-only byte device over the
 * resource's bytes, which are never copied.  URL objects answer whether a
 * file or resource URL names something that exists; each scheme has its
 * own operation table.
 *
 * Callers: the stream layer's file opening (stream_open.cpp), start-up and
 * the file built-ins (through URL objects).  Engine thread only.
 */
#ifndef VOSTREL_URL_OBJECTS_H
#define VOSTREL_URL_OBJECTS_H

#include <cstddef>
#include <cstdint>

#include "vostrel/vrio.h"

/* The resource name as a symbol-safe name: ASCII letters and digits kept,
   every other byte "_0x" and two upper-case hexadecimal digits.  A new
   VR_malloc string, or null when memory runs out. */
char *vr_ensure_c_name(const char *name);

/* 1 when found, with the payload's address, size and modification time
   (any out-pointer may be null); 0 otherwise. */
int vostrel_resource_find_data(const char *name, const void **pdata, std::uint32_t *psize,
                               std::uint32_t *pmtime);

/* The open function for URL names: arguments "pathname"; options
   VRIO_OPEN_FILE_READ and VRIO_OPEN_FILE_WRITE. */
vrio_t_error_code vrio_open_url(VRIO *s, vrio_t_arglist args, vrio_t_bits options);

/* True when text begins with scheme (letters in either case) and a ':'. */
bool url_scheme_is(const char *text, const char *scheme);
/* Text after a prefix given in its lower- and upper-case spellings, each
   character matching either; null on a mismatch. */
const char *prefix_skip(const char *lower, const char *upper, const char *text);

struct url_object;

/* The operations of one scheme. */
struct url_dispatch {
  const char *description;
  void (*free)(url_object *o);
  url_object *(*validate)(url_object *o);
  url_object *(*exists)(url_object *o);
  const char *(*extension)(url_object *o);
  url_object *(*readable)(url_object *o);
  url_object *(*open)(url_object *o, const char *mode);
  std::size_t (*read)(url_object *o, void *buf, std::size_t size, std::size_t count);
  int (*close)(url_object *o);
  int (*get)(url_object *o);
};

/* One allocation: the record, then the URL text.  errnum: 0 none, -1
   generic, else an errno value or a negative I/O code.  Words of d that a
   scheme does not use hold 0xDEADDEAD.  File: d[1] stream, d[2] state.
   Resource: d[0] found, d[1] payload, d[2] size, d[3] time, d[4] name,
   d[5] position, d[6] state.  States: 0 new, 1 open, 2 closed. */
struct url_object {
  const url_dispatch *dispatch;
  char *url;
  int errnum;
  std::uintptr_t d[7];
};
static_assert(sizeof(url_object) == 40, "url_object is 40 bytes on the 32-bit target");

/* "URL:" then a scheme of the table and ':': the scheme's object, or null. */
url_object *create_url_object(const char *text);
url_object *create_file_url_object(const char *text);
url_object *url_object_create_file_object(const char *text);
url_object *url_object_create_vostrel_resource(const char *text);

const char *url_object_description(url_object *o);
void url_object_free(url_object *o);
url_object *url_object_validate(url_object *o);
url_object *url_object_exists(url_object *o);
const char *url_object_extension(url_object *o);
url_object *url_object_readable(url_object *o);
url_object *url_object_open(url_object *o, const char *mode);
std::size_t url_object_read(url_object *o, void *buf, std::size_t size, std::size_t count);
int url_object_close(url_object *o);
int url_object_get(url_object *o);
int url_object_get_errno(url_object *o);
void url_object_set_errno(url_object *o, int errnum);
void url_object_set_generic_errno(url_object *o);
void url_object_clear_errno(url_object *o);

#endif
