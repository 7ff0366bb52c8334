/* vrio_event.h: events, the event listener, work items and interrupts.
 *
 * An event is a flag one thread sets and others wait for, built to be
 * polled together with descriptors: a pipe event is a non-blocking
 * self-pipe (set while a byte is in it), a descriptor event watches an
 * outside descriptor's readiness.  Every blocking wait on the main thread
 * (the one that initialised the library) also watches the interrupt event,
 * so vrio_interrupt breaks it with VRIO_E_INTERRUPTED.
 *
 * Work items are units of work any thread hands to the main thread, which
 * runs them in vrio_run_work_items at its safe points.  Interrupts wake the
 * library's interrupt thread through a self-pipe; it calls the interrupt
 * hooks (option 0 soft, 2 hard, 1 clear) under the big lock.
 * vrio_interrupt is async-signal-safe.
 * Usable from C and C++.
 */
#ifndef VOSTREL_VRIO_EVENT_H
#define VOSTREL_VRIO_EVENT_H

#include "vostrel/vrio_types.h"

#ifdef __cplusplus
extern "C" {
#endif

struct vrio_t_event_funcs_;
typedef struct vrio_t_event_ {
  const struct vrio_t_event_funcs_ *funcs;
  vrio_t_bits flags; /* bits 1-2: reference count 1..3; 0x10: descriptor event */
} vrio_t_event;

typedef struct vrio_t_event_funcs_ {
  vrio_t_error_code (*set)(vrio_t_event *event);
  vrio_t_error_code (*reset)(vrio_t_event *event);
  vrio_t_error_code (*query)(vrio_t_event *event);
  void (*release)(vrio_t_event *event);
} vrio_t_event_funcs;

#define VRIO_EVENT_REFCOUNT_ONE 2u
#define VRIO_EVENT_REFCOUNT_MASK 6u
#define VRIO_EVENT_FD 0x10u

/* A self-pipe: read end first; both non-blocking and close-on-exec. */
typedef struct vrio_t_event_raw_ {
  int pipe[2];
} vrio_t_event_raw;

typedef struct vrio_t_pipe_event_ {
  vrio_t_event event;
  vrio_t_event_raw raw;
} vrio_t_pipe_event;

vrio_t_error_code vrio_event_new(vrio_t_bits options, vrio_t_event **pevent);
vrio_t_error_code vrio_fd_event_new(int read_fd, int write_fd, vrio_t_bits options,
                                    vrio_t_event **pevent);
vrio_t_error_code vrio_event_free(vrio_t_event *event);
vrio_t_error_code vrio_event_set(vrio_t_event *event);
vrio_t_error_code vrio_event_reset(vrio_t_event *event);
vrio_t_error_code vrio_event_query(vrio_t_event *event);
/* Number of events found set, VRIO_E_TIMEOUT or VRIO_E_INTERRUPTED.  A null
   timeout waits for ever, a zero one only looks; null events are skipped. */
vrio_t_error_code vrio_event_wait(vrio_t_event *const *events, size_t nevents,
                                  const vrio_t_timespec *timeout);
vrio_t_error_code vrio_pipe_event_new(vrio_t_bits options, vrio_t_event **pevent);
vrio_t_error_code vrio_pipe_event_wait(vrio_t_event *const *events, size_t nevents,
                                       const vrio_t_timespec *timeout);

vrio_t_error_code vrio_event_raw_new(vrio_t_event_raw *raw);
vrio_t_error_code vrio_event_raw_free(vrio_t_event_raw *raw);
vrio_t_error_code vrio_event_raw_set(vrio_t_event_raw *raw);
vrio_t_error_code vrio_event_raw_reset(vrio_t_event_raw *raw);
vrio_t_error_code vrio_event_raw_wait(vrio_t_event_raw *raw, const vrio_t_timespec *timeout);

/* Milliseconds for poll: -1 for a null timeout; VRIO_E_PRIVATE_ERROR_1 above
   2147483647. */
vrio_t_error_code vrio_timespec_to_ms_for_poll(const vrio_t_timespec *timeout, int *pms);

/* The one event listener: reason 0 the event is set, 2 the listener is
   removed (its last call). */
typedef vrio_t_error_code (*vrio_t_event_listener)(void *data, vrio_t_bits reason);
vrio_t_error_code vrio_add_event_listener(vrio_t_event *event, vrio_t_event_listener listener,
                                          void *data);
vrio_t_error_code vrio_remove_event_listener(vrio_t_event *event, vrio_t_event_listener listener,
                                             void *data);
vrio_t_error_code vrio_init_event(vrio_t_bits flags);

/* Work items. */
struct vrio_t_work_item_;
typedef vrio_t_error_code (*vrio_t_wi_run)(struct vrio_t_work_item_ *item, vrio_t_bits options);
typedef void (*vrio_t_wi_dealloc)(struct vrio_t_work_item_ *item);
typedef struct vrio_t_work_item_funcs_ {
  vrio_t_wi_run run;
  vrio_t_wi_dealloc dealloc;
} vrio_t_work_item_funcs;

typedef struct vrio_t_work_item_ {
  const vrio_t_work_item_funcs *funcs;
  vrio_t_bits flags;
  void *cookie;
  struct vrio_t_work_item_ *next;
} vrio_t_work_item;

void vrio_init_work_item(vrio_t_work_item *item, const vrio_t_work_item_funcs *funcs, void *cookie);
void vrio_free_work_item(vrio_t_work_item *item);
/* Option 1: no soft interrupt.  VRIO_E_SHUTDOWN while shutting down. */
vrio_t_error_code vrio_schedule_work_item(vrio_t_work_item *item, vrio_t_bits options);
/* Option 1: shut scheduling down first.  Result: items run. */
vrio_t_error_code vrio_run_work_items(vrio_t_bits options);
size_t vrio_work_items_pending(void);

/* Interrupts: option 1 alone soft, anything else hard. */
vrio_t_error_code vrio_interrupt(vrio_t_bits options);
typedef void (*vrio_t_interrupt_hook)(void *cookie, vrio_t_bits options);
/* Option 1: remove the first hook with this function. */
vrio_t_error_code vrio_register_interrupt_hook(vrio_t_interrupt_hook fun, void *cookie,
                                               vrio_t_bits options);
vrio_t_error_code vrio_clear_interrupts(void);

#ifdef __cplusplus
}
#endif

#endif
