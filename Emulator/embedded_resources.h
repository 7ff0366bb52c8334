/* embedded_resources.h: resources appended to files, found by their text
 * trailers.
 *
 * A resource (a saved state, say) may be appended to a file and followed
 * by a trailer that names it and gives its size:
 *
 *     \n# META_INFO_SUFFIX 1\n# size="0x..."\n# file="..."\n# META_INFO_SUFFIX END\n
 *
 * The first request scans the ends of the files named by VR_RT_PATH,
 * VR_APP_PATH and VR_EMBEDDED_RESOURCES_PATH, reading each backwards, and
 * records every resource a trailer describes; a resource's bytes are read
 * on first request and kept until deinit_stream frees the records.  A
 * trailer's size is checked against the bytes that precede it, so a size
 * that points outside the file is malformed, never cut to fit.
 *
 * Callers: the resource lookup (url_objects.cpp), deinit_stream.  Engine
 * thread only.
 */
#ifndef VOSTREL_EMBEDDED_RESOURCES_H
#define VOSTREL_EMBEDDED_RESOURCES_H

#include <cstdint>

#include "vostrel/vrio_buf.h"
#include "vostrel/vrio_errors.h"

typedef struct vr_t_vrio_stream_node_ VR_stream;

struct vr_t_meta_info_property {
  char *key;
  char *value;
  vr_t_meta_info_property *next;
};

/* One resource: offset and length are -1 until its trailer is complete;
   data is null until first requested. */
struct vr_t_meta_info {
  std::int64_t file_offset;
  std::int64_t length;
  void *data;
  vr_t_meta_info_property *properties;
  vr_t_meta_info *next;
};

/* One scanned file (binary input, hidden) and its resources; chained from
   eglobal->embedded_resources, the last file scanned first. */
struct vr_t_meta_info_header {
  VR_stream *stream;
  vr_t_meta_info *infos;
  vr_t_meta_info_header *next;
};

/* Reads a file from its end: buf holds the chunk that starts at byte
   stream_pos, handed out from its end. */
struct vr_t_backwards_stream {
  VR_stream *stream;
  std::int64_t stream_length;
  std::int64_t stream_pos;
  vrio_t_buf buf;
};

/* 0 with the bytes (owned by the records) and their size, either
   out-pointer may be null; VRIO_E_NOT_FOUND, or another error code. */
vrio_t_error_code find_embedded_resource(const char *name, void **pdata, int *psize);

/* The byte before the last one handed out, -1 at the start of the file, or
   a negative error code. */
int get_backwards_byte(vr_t_backwards_stream *bs);
/* 0 when that byte is b, VRIO_E_NOT_FOUND when not, else the error or -1. */
vrio_t_error_code backwards_looking_at_byte(vr_t_backwards_stream *bs, int b);

vr_t_meta_info_header *new_meta_info_header(void);
/* The whole chain: each stream closed with force, each resource freed. */
void free_meta_info_header(vr_t_meta_info_header *h);
void free_meta_info(vr_t_meta_info *i);
void free_meta_info_property(vr_t_meta_info_property *p);
void free_backwards_stream(vr_t_backwards_stream *bs);

#endif
