/* vrio_device.h: the layer kinds the library itself provides: streams
 * over operating-system descriptors (the "threaddevice" and "async"
 * layers), devices made of plain callbacks (the simple device), the
 * in-memory "seek" layer and the "char-coder" layer (whose push arguments
 * are vrio_coder.h instances), with the modules that register them and
 * set the standard streams up.
 *
 * Files are opened by name with vrio_open_by_name("threaddevice" or
 * "async", ...) and the argument "pathname"; an open descriptor becomes a
 * stream with vrio_layer_async_unix_open_file_handle, which picks the
 * layer kind the library was configured with (VRIO_USE_LAYER_THREADDEVICE).
 * Usable from C and C++.
 */
#ifndef VOSTREL_VRIO_DEVICE_H
#define VOSTREL_VRIO_DEVICE_H

#include "vostrel/vrio_types.h"

#ifdef __cplusplus
extern "C" {
#endif

struct vrio_t_layer_;

/* Options of the open operations of "threaddevice" and "async" (the
   argument "pathname" names the file): read, write, append (never with
   read), exclusive creation. */
#define VRIO_OPEN_FILE_READ 1u
#define VRIO_OPEN_FILE_WRITE 2u
#define VRIO_OPEN_FILE_APPEND 4u
#define VRIO_OPEN_FILE_EXCLUSIVE 8u

/* Options of the streams made over a descriptor. */
#define VRIO_FD_READ 1u
#define VRIO_FD_WRITE 2u
#define VRIO_FD_WRITE_AT_END 4u  /* start writing at the size of the file */
#define VRIO_FD_NOT_OWNED 0x10u  /* never shut down or closed by the stream */
#define VRIO_FD_SEQUENTIAL 0x20u /* read and write at the descriptor's own offset */

/* Pushes a stream over `fd` on the layer kind chosen at start-up. */
vrio_t_error_code vrio_layer_async_unix_open_file_handle(struct vrio_t_layer_ **s, int fd,
                                                         vrio_t_bits options);
vrio_t_error_code vrio_layer_threaddevice_open_file_handle_unix(struct vrio_t_layer_ **s, int fd,
                                                                vrio_t_bits options);

/* Simple devices: callbacks over the user's data.  Create options: 1 byte
   units, else 2 four-byte character units.  Read and write callbacks get
   VRIO_DEVICE_UNIT_ and VRIO_DEVICE_NONBLOCKING; *size is the room (read)
   or the bytes offered (write) and becomes the bytes moved. */
#define VRIO_DEVICE_BYTES 1u
#define VRIO_DEVICE_CHARS 2u
#define VRIO_DEVICE_NONBLOCKING 1u
#define VRIO_DEVICE_UNIT_BYTES 2u
#define VRIO_DEVICE_UNIT_CHARS 4u
#define VRIO_DEVICE_CLOSE_READ 1u
#define VRIO_DEVICE_CLOSE_WRITE 2u
#define VRIO_DEVICE_CLOSE_ABORTIVE 4u

typedef vrio_t_error_code (*vrio_t_simple_device_read)(void *user_data, void *buf, size_t *size,
                                                       vrio_t_bits options);
typedef vrio_t_error_code (*vrio_t_simple_device_write)(void *user_data, const void *buf,
                                                        size_t *size, vrio_t_bits options);
typedef vrio_t_error_code (*vrio_t_simple_device_flush_output)(void *user_data,
                                                               vrio_t_bits options);
typedef vrio_t_error_code (*vrio_t_simple_device_seek)(void *user_data, vrio_t_offset offset,
                                                       vrio_t_offset *new_position, void *param,
                                                       vrio_t_bits options);
/* May free the data and clear *puser_data: no close callback follows then. */
typedef vrio_t_error_code (*vrio_t_simple_device_close)(void **puser_data, vrio_t_bits options);
typedef void (*vrio_t_simple_device_interrupt)(void *user_data, vrio_t_bits options);
typedef vrio_t_error_code (*vrio_t_simple_device_ioctl)(void *user_data,
                                                        uintptr_t operation, void *param,
                                                        vrio_t_bits options);

vrio_t_error_code vrio_create_device(struct vrio_t_layer_ **s, void *user_data,
                                     const void *user_class, vrio_t_simple_device_read read,
                                     vrio_t_simple_device_write write,
                                     vrio_t_simple_device_flush_output flush_output,
                                     vrio_t_simple_device_seek seek,
                                     vrio_t_simple_device_close close,
                                     vrio_t_simple_device_interrupt interrupt,
                                     vrio_t_simple_device_ioctl ioctl, vrio_t_bits options);
/* The user data of the topmost simple device, when its class is user_class. */
vrio_t_error_code vrio_get_device_user_data(struct vrio_t_layer_ **s, const void *user_class,
                                            void **puser_data);

/* The "seek" layer's own option bits (they reach it only with option bit
   20): a memory stream (open, push) and an accepted write; its sides. */
#define VRIO_SEEK_LAYER_MEMORY 0x200000u
#define VRIO_SEEK_LAYER_READ 0x400000u
#define VRIO_SEEK_LAYER_WRITE 0x800000u

/* Module start (0) and stop (1), for vrio_init. */
vrio_t_error_code vrio_init_layer_async(vrio_t_bits options);
vrio_t_error_code vrio_init_layer_threaddevice(vrio_t_bits options);
vrio_t_error_code vrio_init_layer_seek(vrio_t_bits options);
vrio_t_error_code vrio_init_layer_coder(vrio_t_bits options);
vrio_t_error_code vrio_init_standard_streams(vrio_t_bits options);

#ifdef __cplusplus
}
#endif

#endif
