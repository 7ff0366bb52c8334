/* vrio_internal.h: what the modules of the I/O library share among
 * themselves and do not offer to its users.
 */
#ifndef VOSTREL_VRIO_INTERNAL_H
#define VOSTREL_VRIO_INTERNAL_H

#include "vostrel/vrio.h"

/* Buffers: capacity becomes `size` rounded up to 4 (4 for 0), keeping the
   first min(extent, capacity) bytes; borrowed data becomes an owned copy. */
vrio_t_error_code vrio_buf_realloc_internal(vrio_t_buf *buf, size_t size);

/* Properties: the value of `key` in a compact environment, or null. */
const char *vrio_compact_env_value(char *const *env, const char *key);
/* Copies value and NUL into buf of *psize bytes; *psize := length + 1 in
   any case; VRIO_E_INSUFFICIENT_BUFFER when it does not fit. */
vrio_t_error_code vrio_copy_value(const char *value, char *buf, size_t *psize);
/* Properties: the entries of a compact environment made "key=value" in
   place (the block stays one vrio_free-able block). */
void vrio_join_compact_env_entries(char **env);
/* The process-environment snapshot: take (replacing any), free, read. */
vrio_t_error_code vrio_env_snapshot_take(void);
void vrio_env_snapshot_free(void);
char **vrio_env_snapshot(size_t *psize);

/* Events: one more reference (at most three are held at once). */
void vrio_event_add_ref(vrio_t_event *event);

/* Events: one byte into a self-pipe's write end (async-signal-safe; a
   full pipe is success). */
vrio_t_error_code vrio_self_pipe_write(int fd);
/* Stops the event listener; VRIO_E_ERROR when none is active. */
vrio_t_error_code vrio_stop_event_listener(void);

/* Streams: the option bits that reach a layer. */
vrio_t_bits vrio_layer_options(vrio_t_bits options);
/* Streams: the end of every layer's close, once the stack below is
   closed: the closed sides' flags go, and a layer with neither side left
   is popped and destroyed. */
vrio_t_error_code vrio_layer_close_sides(VRIO *s, vrio_t_bits options);
/* Streams: the open (or push) and the pop of a kind that has none. */
vrio_t_error_code vrio_layer_open_not_implemented(const vrio_t_funcs *funcs, VRIO *s,
                                                  vrio_t_arglist args, vrio_t_bits options);
vrio_t_error_code vrio_layer_pop_not_implemented(const vrio_t_funcs *funcs, VRIO *s,
                                                 vrio_t_bits options);
/* Streams: the whole close of a layer that keeps no descriptor: the stack
   below first, then its own sides. */
vrio_t_error_code vrio_layer_close_pushed(VRIO *s, vrio_t_bits options);
/* Streams: the pop of a pushed layer kind: a sync of both sides, then the
   top layer (of kind `funcs`) is popped and destroyed. */
vrio_t_error_code vrio_layer_sync_pop(const vrio_t_funcs *funcs, VRIO *s);
/* VRIO_SKIP_ABORTIVE_SYNC, read by vrio_init. */
extern int vrio_skip_abortive_sync;

/* VRIO_ABORTIVE_WRITE_CANCEL: an abortive close of a threaddevice stream
   throws its queued writes away (read by that layer's module). */
extern int vrio_abortive_write_cancel;

/* Streams over descriptors (vrio_file.cpp).  The checks of both
   descriptor layers: a descriptor, a side, an access mode that allows the
   sides, a device they handle; the status flags and the type on success. */
vrio_t_error_code vrio_fd_stream_checks(int fd, vrio_t_bits options, int *pstatus,
                                        vrio_t_device_type *ptype);
/* The starting positions over a regular file: the descriptor's offset
   when sequential (the size for writes in append mode), else 0 (the size
   for writes with VRIO_FD_WRITE_AT_END); an append-mode descriptor that
   is not sequential is VRIO_E_PARAMETER_ERROR. */
vrio_t_error_code vrio_fd_stream_positions(int fd, vrio_t_bits options, int status,
                                           vrio_t_offset *pread_pos, vrio_t_offset *pwrite_pos);
/* Opens the file named by the argument "pathname" (options 1 read, 2
   write, 4 append, 8 exclusive creation) and makes it a stream with
   `make` (VRIO_FD_ options); the descriptor is closed if that fails. */
typedef vrio_t_error_code (*vrio_t_fd_stream_maker)(const vrio_t_funcs *funcs, VRIO *s, int fd,
                                                    vrio_t_bits options);
vrio_t_error_code vrio_open_file_stream(const vrio_t_funcs *funcs, VRIO *s, vrio_t_arglist args,
                                        vrio_t_bits options, vrio_t_fd_stream_maker make);

/* Module start (options 0) and stop (1) functions called by vrio_init. */
vrio_t_error_code vrio_interrupt_init(vrio_t_bits options);
vrio_t_error_code vrio_init_work_items(vrio_t_bits options);

#endif
