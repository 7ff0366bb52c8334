/* vrio.h: the I/O services library: streams as stacks of layers, the layer
 * registry, the generic stream operations, the standard stream slots, the
 * library's start and stop, and its big lock.  Includes every other header
 * of the library.
 *
 * A stream (VRIO) is a pointer to its top layer; operations take the
 * address of the stream variable so that push, pop and close can replace
 * the top.  A layer reaches the rest of the stack below it through the
 * address of its own `next` field.  Streams are not locked: one thread uses
 * a stream at a time.  The layer registry and the standard stream slots
 * change only at start-up, shut-down and on the engine thread.
 *
 * Generic operations fold a layer's success codes to 0, except vrio_ioctl;
 * only option bits 0 to 19 reach a layer unless bit 20 is set, which
 * passes every bit but itself.
 * Usable from C and C++.
 */
#ifndef VOSTREL_VRIO_H
#define VOSTREL_VRIO_H

#include "vostrel/vrio_alloc.h"
#include "vostrel/vrio_buf.h"
#include "vostrel/vrio_coder.h"
#include "vostrel/vrio_device.h"
#include "vostrel/vrio_errors.h"
#include "vostrel/vrio_event.h"
#include "vostrel/vrio_file.h"
#include "vostrel/vrio_process.h"
#include "vostrel/vrio_props.h"
#include "vostrel/vrio_socket.h"
#include "vostrel/vrio_thread.h"
#include "vostrel/vrio_trace.h"
#include "vostrel/vrio_types.h"

#ifdef __cplusplus
extern "C" {
#endif

struct vrio_t_funcs_;
typedef struct vrio_t_layer_ {
  const struct vrio_t_funcs_ *funcs;
  struct vrio_t_layer_ *next; /* the layer below; null at the bottom */
  vrio_t_bits flags;          /* VRIO_LAYER_ */
  vrio_t_bits pad;
} vrio_t_layer;
typedef vrio_t_layer *VRIO;

/* Layer flags; bits from 17 up are private to a layer kind. */
#define VRIO_LAYER_HAS_READ 0x1u
#define VRIO_LAYER_OPEN_READ 0x2u
#define VRIO_LAYER_HAS_WRITE 0x4u
#define VRIO_LAYER_OPEN_WRITE 0x8u
#define VRIO_LAYER_READ_ALIVE 0x10u  /* read side not yet closed by the layer */
#define VRIO_LAYER_WRITE_ALIVE 0x20u /* write side not yet closed by the layer */
#define VRIO_LAYER_FD_NOT_OWNED 0x40u
#define VRIO_LAYER_CLOSING_READ 0x80u
#define VRIO_LAYER_CLOSING_WRITE 0x100u
#define VRIO_LAYER_CAN_REREAD 0x200u
#define VRIO_LAYER_CAN_REREAD_OTHER 0x400u
#define VRIO_LAYER_READ_UNIT_SHIFT 11
#define VRIO_LAYER_WRITE_UNIT_SHIFT 14
#define VRIO_LAYER_UNIT_MASK 7u
/* What a push sets for a side with unit 1 or 4. */
#define VRIO_LAYER_READ_SIDE(unit) (0x13u + (unit) * 0x800u)
#define VRIO_LAYER_WRITE_SIDE(unit) (0x2Cu + (unit) * 0x4000u)

typedef enum vrio_t_ioctl_operation_ {
  VRIO_IOCTL_UNDEFINED = 0,
  VRIO_IOCTL_READABLE_EVENT_ = 1,
  VRIO_IOCTL_WRITABLE_EVENT_ = 2,
  VRIO_IOCTL_DEVICE_TYPE_ = 3,
  VRIO_IOCTL_GET_ENCODING_NAME_ = 4,
  VRIO_IOCTL_ENCODING_FALLBACK_ = 5,
  VRIO_IOCTL_SIZE_ = 6,
  VRIO_IOCTL_EVENT_LISTENER_ = 7,
  VRIO_IOCTL_LAST_PREDEFINED_ = 8,
  VRIO_IOCTL_PRIVATE_LAST_ = 9
} vrio_t_ioctl_operation_enum;
/* Travels as a pointer-sized value. */
typedef uintptr_t vrio_t_ioctl_operation;

typedef enum vrio_t_device_type_ {
  VRIO_DEVICE_TYPE_ILLEGAL = 0,
  VRIO_DEVICE_TYPE_UNKNOWN = 1,
  VRIO_DEVICE_TYPE_FILE = 2,
  VRIO_DEVICE_TYPE_TTY = 3,
  VRIO_DEVICE_TYPE_SOCKET = 4,
  VRIO_DEVICE_TYPE_FIFO = 5,
  VRIO_DEVICE_TYPE_CHARACTER = 6,
  VRIO_DEVICE_TYPE_DIRECTORY = 7,
  VRIO_DEVICE_TYPE_BLOCK = 8,
  VRIO_DEVICE_TYPE_LINK = 9,
  VRIO_DEVICE_TYPE_FIRST_UNUSED_ = 10,
  VRIO_DEVICE_TYPE_LAST = 9
} vrio_t_device_type;

/* The operations of a layer kind, one static table per kind, registered
   by name.  read, write, sync, seek, destroy and open are mandatory. */
typedef struct vrio_t_funcs_ {
  size_t sizeof_vrio_t_funcs; /* sizeof(vrio_t_funcs): 60 on the 32-bit target */
  const char *name;
  size_t layer_size; /* at least sizeof(vrio_t_layer) */
  vrio_t_bits features;
  vrio_t_bits reserved;
  vrio_t_error_code (*read)(VRIO *s, vrio_t_buf *buf, vrio_t_bits options);
  vrio_t_error_code (*write)(VRIO *s, vrio_t_buf *buf, size_t *offset, vrio_t_bits options);
  vrio_t_error_code (*sync)(VRIO *s, vrio_t_bits options);
  vrio_t_error_code (*seek)(VRIO *s, vrio_t_offset offset, vrio_t_offset *new_position,
                            vrio_t_buf *buf, vrio_t_bits options);
  vrio_t_error_code (*close)(VRIO *s, vrio_t_bits options);
  vrio_t_error_code (*push)(const struct vrio_t_funcs_ *funcs, VRIO *s, vrio_t_arglist args,
                            vrio_t_bits options);
  vrio_t_error_code (*pop)(const struct vrio_t_funcs_ *funcs, VRIO *s, vrio_t_bits options);
  void (*destroy)(vrio_t_layer *layer);
  vrio_t_error_code (*open)(const struct vrio_t_funcs_ *funcs, VRIO *s, vrio_t_arglist args,
                            vrio_t_bits options);
  vrio_t_error_code (*ioctl)(VRIO *s, vrio_t_ioctl_operation operation, void *param,
                             vrio_t_bits options);
} vrio_t_funcs;

/* Option bits of the generic operations. */
#define VRIO_OPT_ALL_BITS 0x100000u /* pass bits 21 and up to the layer */
#define VRIO_READ_BYTES 1u
#define VRIO_READ_CHARS 2u
#define VRIO_READ_NONBLOCKING 4u
#define VRIO_WRITE_BYTES 1u
#define VRIO_WRITE_CHARS 2u
#define VRIO_WRITE_NONBLOCKING 4u
#define VRIO_WRITE_FLUSH 0x10u
#define VRIO_WRITE_ALL 0x20u
#define VRIO_SYNC_NONBLOCKING 1u
#define VRIO_SYNC_READ 2u
#define VRIO_SYNC_WRITE 4u
#define VRIO_SYNC_BELOW 8u
#define VRIO_SYNC_KEEP_READ_AHEAD 0x10u
#define VRIO_SEEK_ABSOLUTE 1u
#define VRIO_SEEK_RELATIVE 2u
#define VRIO_SEEK_FROM_END 4u
#define VRIO_SEEK_RELATIVE_BUFFERED 8u
#define VRIO_SEEK_READ 0x10u
#define VRIO_SEEK_WRITE 0x20u
#define VRIO_CLOSE_ABORTIVE 1u
#define VRIO_CLOSE_READ 2u
#define VRIO_CLOSE_WRITE 4u
#define VRIO_OPEN_READ 1u
#define VRIO_OPEN_WRITE 2u

/* Layer kinds.  Option 1 of vrio_register_layer removes the name. */
vrio_t_error_code vrio_register_layer(const vrio_t_funcs *funcs, vrio_t_bits options);
vrio_t_error_code vrio_find_layer(const char *name, const vrio_t_funcs **pfuncs);
vrio_t_error_code vrio_open(const vrio_t_funcs *funcs, VRIO *s, vrio_t_arglist args,
                            vrio_t_bits options);
vrio_t_error_code vrio_open_by_name(const char *name, VRIO *s, vrio_t_arglist args,
                                    vrio_t_bits options);
vrio_t_error_code vrio_push(const vrio_t_funcs *funcs, VRIO *s, vrio_t_arglist args,
                            vrio_t_bits options);
vrio_t_error_code vrio_push_by_name(const char *name, VRIO *s, vrio_t_arglist args,
                                    vrio_t_bits options);
/* A null funcs pops the top layer's kind. */
vrio_t_error_code vrio_pop(const vrio_t_funcs *funcs, VRIO *s, vrio_t_bits options);
void vrio_layer_push(VRIO *s, vrio_t_layer *layer);
void vrio_layer_pop(VRIO *s);
void vrio_layer_destroy(vrio_t_layer *layer);
/* The first layer of kind `funcs` from the top (option 1: the second). */
vrio_t_error_code vrio_get_vrio_layer(VRIO *s, const vrio_t_funcs *funcs, vrio_t_layer **player,
                                      vrio_t_bits options);

/* Data and control. */
vrio_t_error_code vrio_read(VRIO *s, vrio_t_buf **pbuf, vrio_t_bits options);
vrio_t_error_code vrio_write(VRIO *s, vrio_t_buf *buf, size_t *offset, vrio_t_bits options);
vrio_t_error_code vrio_sync(VRIO *s, vrio_t_bits options);
vrio_t_error_code vrio_seek(VRIO *s, vrio_t_offset offset, vrio_t_offset *new_position,
                            vrio_t_buf *buf, vrio_t_bits options);
vrio_t_error_code vrio_close(VRIO *s, vrio_t_bits options);
vrio_t_error_code vrio_ioctl(VRIO *s, vrio_t_ioctl_operation operation, void *param,
                             vrio_t_bits options);
vrio_t_error_code vrio_write_dbg(VRIO *s, const char *text);
vrio_t_error_code vrio_ioctl_size(VRIO *s, int64_t *psize, vrio_t_bits options);
vrio_t_error_code vrio_ioctl_get_encoding_name(VRIO *s, const char **pname, vrio_t_bits options);
vrio_t_error_code vrio_ioctl_encoding_fallback(VRIO *s, vrio_t_bits options);
vrio_t_error_code vrio_ioctl_device_type(VRIO *s, vrio_t_device_type *ptype, vrio_t_bits options);
vrio_t_error_code vrio_ioctl_readable_event(VRIO *s, vrio_t_event **pevent, vrio_t_bits options);
vrio_t_error_code vrio_ioctl_writable_event(VRIO *s, vrio_t_event **pevent, vrio_t_bits options);

/* Standard stream slots: option bits 0-2 choose the slot (1 input, 3
   output, 5 error); 8 and 16 stored with a stream close its read or write
   side when it is replaced.  Option 8 of get makes a null stream for an
   empty slot. */
vrio_t_error_code vrio_set_standard_stream(VRIO *s, vrio_t_bits options);
vrio_t_error_code vrio_get_standard_stream(VRIO *s, vrio_t_bits options);

/* Start (option 1 clear) and stop (option 1) of the whole library. */
vrio_t_error_code vrio_init(vrio_t_allocator_hook allocator_hook, void *cookie,
                            const vrio_t_init_options *init_options, vrio_t_bits options);

/* The big lock: one recursive mutex guarding the interrupt hooks and the
   work-item list.  Lock and unlock return the nesting depth after them. */
int vrio_biglock_lock(void);
int vrio_biglock_unlock(void);
/* Returns once any pass of interrupt-hook calls in progress has finished. */
void vrio_ensure_interrupts_done(void);
vrio_t_error_code vrio_owns_biglock(void);

#ifdef __cplusplus
}
#endif

#endif
