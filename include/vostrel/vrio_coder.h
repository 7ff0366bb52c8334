/* vrio_coder.h: character coders: conversion between bytes in a charset
 * and 32-bit character codes (UTF-32 in the machine's byte order), the
 * registry of coder kinds under charset names, encoding detection, and the
 * UTF-8 checks the rest of the runtime uses on strings.
 *
 * A coder kind is a table of operations (one static table per kind); an
 * instance converts in one direction.  Names match loosely: letters in
 * either case, digits, and nothing else count ("UTF-8", "utf8" and "UTF_8"
 * are one name).  An encode call converts whole items only: it succeeds
 * after any progress and meets a problem again on the next call, which
 * then consumes nothing and reports it.
 *
 * Registration happens at start-up and shut-down on one thread; instances
 * belong to the layer (one thread) that uses them.
 * Usable from C and C++.
 */
#ifndef VOSTREL_VRIO_CODER_H
#define VOSTREL_VRIO_CODER_H

#include "vostrel/vrio_buf.h"
#include "vostrel/vrio_types.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef uint32_t vrio_t_refcount;

struct vrio_t_coder_;
typedef struct vrio_t_coder_funcs_ {
  size_t sizeof_vrio_t_coder_funcs; /* 60 on the 32-bit target */
  const char *name;                 /* canonical charset name */
  const char *const *aliases;       /* null-terminated, or null */
  vrio_t_bits features;             /* 1: instances can seek */
  vrio_t_refcount refcount;
  void (*free)(struct vrio_t_coder_ *coder);
  vrio_t_error_code (*encode)(struct vrio_t_coder_ *coder, vrio_t_buf *from, size_t *from_offset,
                              vrio_t_buf *to, vrio_t_bits options);
  void (*commit)(struct vrio_t_coder_ *coder);
  void (*rollback)(struct vrio_t_coder_ *coder);
  vrio_t_error_code (*translate_offset)(struct vrio_t_coder_ *coder, vrio_t_offset char_offset,
                                        vrio_t_offset *byte_offset);
  vrio_t_error_code (*seek)(struct vrio_t_coder_ *coder, vrio_t_offset char_offset,
                            vrio_t_bits options);
  void (*addref)(struct vrio_t_coder_funcs_ *funcs);
  void (*release)(struct vrio_t_coder_funcs_ *funcs);
  void (*destroy)(struct vrio_t_coder_funcs_ *funcs);
  vrio_t_error_code (*open)(struct vrio_t_coder_funcs_ *funcs, struct vrio_t_coder_ **pcoder,
                            vrio_t_arglist args, vrio_t_bits options);
} vrio_t_coder_funcs;

/* The head of every instance; the instance holds a reference on funcs. */
typedef struct vrio_t_coder_ {
  vrio_t_coder_funcs *funcs;
  vrio_t_bits flags; /* VRIO_CODER_ */
} vrio_t_coder;

/* Instance flags. */
#define VRIO_CODER_OUTPUT_UNIT_MASK 7u /* 4 decoding, 1 encoding */
#define VRIO_CODER_INPUT_UNIT_SHIFT 3  /* 1 decoding, 4 encoding */
#define VRIO_CODER_DECODING 0x40u
#define VRIO_CODER_CAN_SEEK 0x80u
#define VRIO_CODER_CRLF 0x100u      /* CR LF line ends */
#define VRIO_CODER_ANY_EOL 0x200u   /* CR LF, CR and LF all end lines when decoding */
#define VRIO_CODER_DROP_BOM 0x800u  /* decoding drops a U+FEFF at the very start */
#define VRIO_CODER_WRITE_BOM 0x1000u
#define VRIO_CODER_DECODER_FLAGS 0x4Cu
#define VRIO_CODER_ENCODER_FLAGS 0x21u

/* Open options. */
#define VRIO_CODER_OPEN_SEEKABLE 1u
#define VRIO_CODER_OPEN_DECODE 2u
#define VRIO_CODER_OPEN_CRLF 4u
#define VRIO_CODER_OPEN_ANY_EOL 8u
#define VRIO_CODER_OPEN_BOM 0x10u
#define VRIO_CODER_OPEN_NO_UTF8_BOM 0x20u

/* Encode options. */
#define VRIO_CODER_END_OF_INPUT 1u
#define VRIO_CODER_REPLACE_INVALID 2u /* with 0x10: ill-formed input too */
#define VRIO_CODER_NEVER_REPLACE 8u
#define VRIO_CODER_REPLACE 0x10u

/* Registration (option 1 removes). */
vrio_t_error_code vrio_register_coder(const char *name, vrio_t_coder_funcs *funcs,
                                      vrio_t_bits options);
vrio_t_error_code vrio_register_charset(const char *name, const char *const *aliases,
                                        vrio_t_bits options);
/* The matching form of the canonical name, owned by the registry. */
vrio_t_error_code vrio_charset_canonical_name(const char *name, const char **pcanonical);
int vrio_charset_name_equal(const char *name1, const char *name2);
/* A reference for the caller; option 1: the kind must seek. */
vrio_t_error_code vrio_char_coder_find(vrio_t_coder_funcs **pfuncs, const char *name,
                                       vrio_t_arglist args, vrio_t_bits options);
void vrio_coder_funcs_addref(vrio_t_coder_funcs *funcs);
void vrio_coder_funcs_release(vrio_t_coder_funcs *funcs);
void vrio_coder_default_addref(vrio_t_coder_funcs *funcs);
void vrio_coder_default_release(vrio_t_coder_funcs *funcs);
void vrio_coder_default_destroy(vrio_t_coder_funcs *funcs);

/* Instances. */
vrio_t_error_code vrio_char_coder_open(vrio_t_coder_funcs *funcs, vrio_t_coder **pcoder,
                                       vrio_t_arglist args, vrio_t_bits options);
void vrio_char_coder_close(vrio_t_coder *coder);
vrio_t_error_code vrio_char_coder_encode(vrio_t_coder *coder, vrio_t_buf *from,
                                         size_t *from_offset, vrio_t_buf *to,
                                         vrio_t_bits options);
void vrio_char_coder_commit(vrio_t_coder *coder);
void vrio_char_coder_rollback(vrio_t_coder *coder);
vrio_t_error_code vrio_char_coder_seek(vrio_t_coder *coder, vrio_t_offset char_offset,
                                       vrio_t_bits options);
vrio_t_error_code vrio_char_coder_translate_offset(vrio_t_coder *coder, vrio_t_offset char_offset,
                                                   vrio_t_offset *byte_offset);

/* Detection from a byte-order mark or a coding cookie at the start of a
   stream that can move its read position back.  Options: 1 an unknown
   charset in a cookie counts as nothing found; 2 only seekable coders.
   0 and a referenced *pfuncs, or 1 and null when nothing was found.  The
   bytes read are given back to the stream. */
struct vrio_t_layer_;
vrio_t_error_code vrio_detect_file_encoding(struct vrio_t_layer_ **s, vrio_t_coder_funcs **pfuncs,
                                            vrio_t_bits options);

/* UTF-8 checks.  Options: 1 accept C0 80 for character 0; 2 the extended
   range (5- and 6-byte forms, surrogates, values above U+10FFFF). */
extern const unsigned char vrio_utf8_sequence_length[256];
vrio_t_error_code vrio_is_legal_utf8_prefix(const unsigned char *bytes, size_t length,
                                            vrio_t_bits options);
vrio_t_error_code vrio_is_legal_utf8_string(const unsigned char *bytes, size_t length,
                                            vrio_t_bits options);
vrio_t_error_code vrio_decode_utf8_to_utf32(const unsigned char *bytes, size_t length,
                                            uint32_t *out, size_t *pcount, vrio_t_bits options);

/* Single-byte charsets: the table behind each kind. */
typedef struct vrio_t_byte_to_utf32_exception_ {
  int32_t utf32;
  unsigned char byte;
} vrio_t_byte_to_utf32_exception;

typedef struct vrio_t_byte_to_utf32_table_ {
  unsigned char replacement_char;
  unsigned char pad1[3];
  int32_t to_utf32[256]; /* -1: unassigned */
  int32_t exceptions_length;
  const vrio_t_byte_to_utf32_exception *back_exceptions;
} vrio_t_byte_to_utf32_table;

typedef struct vrio_t_coder_byte_funcs_ {
  vrio_t_coder_funcs funcs;
  const vrio_t_byte_to_utf32_table *table;
} vrio_t_coder_byte_funcs;

/* Module start (0) and stop (1): every built-in coder, and each family. */
vrio_t_error_code vrio_init_char_coder(vrio_t_bits options);
vrio_t_error_code vrio_init_char_coder_byte(vrio_t_bits options);
vrio_t_error_code vrio_init_char_coder_utf8(vrio_t_bits options);
vrio_t_error_code vrio_init_char_coder_utf16(vrio_t_bits options);
vrio_t_error_code vrio_init_char_coder_utf32(vrio_t_bits options);

#ifdef __cplusplus
}
#endif

#endif
