/* vrio_io_worker.h: the worker threads of the threaddevice layer and the
 * requests they run.
 *
 * A worker serves one direction of one stream: requests to do (`todo`,
 * guarded by `todo_mutex`), finished requests (`finished`, with its own
 * lock and not-empty condition) and the direction's event.  The engine's
 * thread issues requests and hands finished ones back; the worker thread
 * runs each request's `do_fun` and `pre_finished_fun`.  Locks: the
 * finished queue's first, then `todo_mutex`, when both are needed.  The
 * worker thread can be cancelled only while it waits for work and inside
 * a request's `do_fun`; whatever such a request reads or writes lives in
 * the request record, never in the cancelled frame.
 *
 * Internal to the threaddevice layer; every function here runs on the
 * engine's thread unless it says otherwise.
 */
#ifndef VOSTREL_VRIO_IO_WORKER_H
#define VOSTREL_VRIO_IO_WORKER_H

#include <poll.h>

#include <atomic>

#include "vostrel/vrio.h"

typedef enum vrio_t_io_worker_state_ {
  VRIO_IO_WORKER_STATE_INVALID_ = 0,
  VRIO_IO_WORKER_STATE_NONE_ = 1, /* no thread */
  VRIO_IO_WORKER_STATE_WAITING_ = 2,
  VRIO_IO_WORKER_STATE_RUNNING_ = 3,
  VRIO_IO_WORKER_STATE_QUITTING_ = 4
} vrio_t_io_worker_state;

struct vrio_t_io_request_;
struct vrio_t_io_worker_;

/* What a do_fun answers: go on, or make the worker quit. */
#define VRIO_WORKER_REQUEST_RESULT_OK 1
#define VRIO_WORKER_REQUEST_RESULT_QUIT 2

typedef struct vrio_t_io_request_funcs_ {
  int (*do_fun)(struct vrio_t_io_request_ *request);        /* worker thread */
  void (*free_fun)(struct vrio_t_io_request_ *request);
  vrio_t_error_code (*get_error_fun)(struct vrio_t_io_request_ *request);
  void (*pre_finished_fun)(struct vrio_t_io_request_ *request); /* worker thread */
  /* VRIO_S_DEALLOCATED: the kind has taken the request over. */
  vrio_t_error_code (*post_finished_fun)(struct vrio_t_io_request_ *request);
} vrio_t_io_request_funcs;

/* Request flags. */
#define VRIO_IO_REQUEST_SIMPLE 1u         /* its error goes to its issuer, never retried */
#define VRIO_IO_REQUEST_SET_ERROR 2u      /* this failed write put the worker in error */
#define VRIO_IO_REQUEST_SHARED_EVENT 4u   /* the event is the worker's: not freed */
#define VRIO_IO_REQUEST_SEQUENTIAL 0x10u  /* read/write, not pread/pwrite */
#define VRIO_IO_REQUEST_FILE_READ 0x20u
#define VRIO_IO_REQUEST_SHUT_READ 0x40u
#define VRIO_IO_REQUEST_SHUT_WRITE 0x80u
#define VRIO_IO_REQUEST_ABORTIVE 0x100u

/* Request codes (private success codes). */
#define VRIO_IO_REQUEST_NEW VRIO_E_INTERNAL_ERROR
#define VRIO_IO_REQUEST_QUEUED VRIO_S_PRIVATE_ERROR_1
#define VRIO_IO_REQUEST_RUNNING VRIO_S_PRIVATE_ERROR_2
#define VRIO_IO_REQUEST_DONE VRIO_S_PRIVATE_ERROR_3
#define VRIO_IO_REQUEST_FINISHED VRIO_S_PRIVATE_ERROR_4
#define VRIO_IO_REQUEST_SKIPPED VRIO_S_PRIVATE_ERROR_5
#define VRIO_IO_REQUEST_READ_ENDED VRIO_S_PRIVATE_ERROR_6 /* os_error 0: end of file */
#define VRIO_IO_REQUEST_FAILED VRIO_S_TRUE

typedef struct vrio_t_io_request_ {
  const vrio_t_io_request_funcs *funcs;
  vrio_t_queue_entry queue_entry;
  struct vrio_t_io_worker_ *worker;
  void *cookie; /* the function of a simple request; a read's completed-reads queue */
  vrio_t_error_code code;
  vrio_t_buf buf;
  vrio_t_bits flags;
  int os_error;
  vrio_t_offset file_pos;
  size_t buf_offset; /* bytes of buf already written */
  int hFile;
  vrio_t_event *event;
  /* Beyond the fixed fields: the descriptor polled after EAGAIN (kept in
     the record, since the poll may be cancelled), and for reads the
     layer's write count when the read was issued. */
  struct pollfd poll_fd;
  uint32_t generation;
} vrio_t_io_request;

typedef struct vrio_t_io_worker_ {
  vrio_t_queue *todo;
  vrio_t_queue *finished;
  vrio_t_io_request *current;
  vrio_t_task *task;
  std::atomic<int> exiting;
  vrio_t_bits worker_flags; /* 2: error state (worker thread only) */
  vrio_t_io_worker_state state;
  vrio_t_mutex *todo_mutex;
  vrio_t_cond_var *todo_cond;
  int high_prio;
  vrio_t_io_request *reset_error_request;
  vrio_t_event *event;
  size_t unfinished;
  size_t pending_cost;
  size_t pending_cost_max;
} vrio_t_io_worker;

#define VRIO_IO_WORKER_ERROR_STATE 2u

extern const vrio_t_io_request_funcs io_request_read_unix_funcs;
extern const vrio_t_io_request_funcs io_request_write_unix_funcs;
extern const vrio_t_io_request_funcs io_request_simple_funcs;
extern const vrio_t_io_request_funcs io_request_set_event_funcs;
extern const vrio_t_io_request_funcs io_request_reset_error_funcs;

/* The function of a simple request (worker thread): sets code 1 and
   os_error on failure; answers a VRIO_WORKER_REQUEST_RESULT_. */
typedef int (*vrio_t_simple_do)(vrio_t_io_request *request);
int simple_do_unix_fsync(vrio_t_io_request *request);
int simple_do_unix_shutdown(vrio_t_io_request *request);
int simple_do_unix_close(vrio_t_io_request *request);
int simple_do_quit(vrio_t_io_request *request);

void io_worker_pre_init(vrio_t_io_worker *worker);
vrio_t_error_code io_worker_init(vrio_t_io_worker *worker);
void io_worker_deinit(vrio_t_io_worker *worker);
vrio_t_error_code ensure_worker_thread(vrio_t_io_worker *worker);
vrio_t_io_request *io_request_new(const vrio_t_io_request_funcs *funcs, vrio_t_io_worker *worker,
                                  void *cookie);
/* Options: 1 high priority; 2 the caller holds todo_mutex. */
vrio_t_error_code issue_request(vrio_t_io_request *request, vrio_t_io_worker *worker,
                                vrio_t_bits options);
/* Option 1: discard instead of retrying.  The first error, else 0. */
vrio_t_error_code handle_finished_requests(vrio_t_io_worker *worker, vrio_t_bits options);
/* Options 1, 2, 4 shut the read half, the write half, abortively.
   1 and *perror when the request failed, else 0 (or the wait's error). */
vrio_t_error_code threaddevice_simple_request(vrio_t_io_worker *worker, int hFile,
                                              vrio_t_simple_do fun, vrio_t_error_code *perror,
                                              vrio_t_bits options);
/* VRIO_S_DEALLOCATED when a busy thread had to be killed. */
vrio_t_error_code threaddevice_empty_worker(vrio_t_io_worker *worker);
void io_worker_kill(vrio_t_io_worker *worker);
vrio_t_error_code vrio_io_worker_state(vrio_t_io_worker *worker);
/* The request a queue entry belongs to; a queue freed with its requests. */
vrio_t_io_request *io_request_of(vrio_t_queue_entry *entry);
void io_request_queue_free(vrio_t_queue *queue);
/* Option 1: discard. */
void io_request_post_finished(vrio_t_io_request *request, vrio_t_bits options);

/* VRIO_THREAD_KILL_DELAY and VRIO_THREAD_KILL_SCHED_YIELD (the
   threaddevice module reads them; -1 when it is stopped). */
extern int32_t vrio_io_worker_kill_delay;
extern int32_t vrio_io_worker_kill_sched_yield;

#endif
