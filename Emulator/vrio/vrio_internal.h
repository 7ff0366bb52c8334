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
/* VRIO_SKIP_ABORTIVE_SYNC, read by vrio_init. */
extern int vrio_skip_abortive_sync;

/* VRIO_ABORTIVE_WRITE_CANCEL: an abortive close of a threaddevice stream
   throws its queued writes away (read by that layer's module). */
extern int vrio_abortive_write_cancel;

/* Module start (options 0) and stop (1) functions called by vrio_init. */
vrio_t_error_code vrio_interrupt_init(vrio_t_bits options);
vrio_t_error_code vrio_init_work_items(vrio_t_bits options);

#endif
