/* vrio_async.h: asynchronous requests of the "async" layer: one read,
 * write or fsync system call run on a task of its own.
 *
 * A request is made (flag 1, code VRIO_E_ERROR), runs (code
 * VRIO_E_INPROGRESS, its task alive), ends with its code set before its
 * task ends (VRIO_E_INTERRUPTED when the task was cancelled), and is
 * returned and freed by its owner on the engine's thread.  Only the
 * request's task writes the request while it runs; the owner reads the
 * outcome once the task has ended.
 */
#ifndef VOSTREL_VRIO_ASYNC_H
#define VOSTREL_VRIO_ASYNC_H

#include "vostrel/vrio.h"

typedef struct vrio_t_async_info_ {
  vrio_t_bits flags;
  vrio_t_error_code code;
  size_t buf_offset;
  size_t nbytes;
  vrio_t_buf *buf;
  vrio_t_offset file_offset;
  vrio_t_event *event;
} vrio_t_async_info;

struct vrio_t_async_unix_;
typedef void (*vrio_t_async_do)(struct vrio_t_async_unix_ *request);

typedef struct vrio_t_async_unix_ {
  vrio_t_async_info info;
  int hFile;
  struct {
    vrio_t_task *task;
    vrio_t_async_do do_fun;
  } u;
} vrio_t_async_unix;

/* Request flags; the layer's async options map onto them. */
#define VRIO_ASYNC_IN_USE 1u
#define VRIO_ASYNC_OWNS_BUF 2u
#define VRIO_ASYNC_HAS_TASK 4u
#define VRIO_ASYNC_READ 0x10u
#define VRIO_ASYNC_WRITE 0x20u
#define VRIO_ASYNC_SEQUENTIAL 0x40u
#define VRIO_ASYNC_REPORT_FSYNC 0x80u
#define VRIO_ASYNC_FIFO 0x100u
#define VRIO_ASYNC_TTY 0x200u
#define VRIO_ASYNC_SOCKET 0x400u
#define VRIO_ASYNC_CHARACTER 0x800u
#define VRIO_ASYNC_POSITIONED 0x2000u
#define VRIO_ASYNC_APPEND 0x4000u

vrio_t_error_code vrio_async_init(vrio_t_async_info *req, vrio_t_buf *buf, size_t buf_offset,
                                  size_t nbytes, vrio_t_offset file_offset, vrio_t_event *event);
void vrio_async_deinit(vrio_t_async_info *req);
int vrio_async_in_use(const vrio_t_async_info *req);
vrio_t_error_code vrio_async_unix_read(vrio_t_async_unix **preq, vrio_t_offset file_offset,
                                       int hFile, vrio_t_event *event, vrio_t_bits async_options);
vrio_t_error_code vrio_async_unix_write(vrio_t_async_unix **preq, vrio_t_buf *buf,
                                        vrio_t_offset file_offset, int hFile,
                                        vrio_t_event *event, vrio_t_bits async_options);
vrio_t_error_code vrio_async_unix_fsync(vrio_t_async_unix **preq, int hFile, vrio_t_event *event,
                                        vrio_t_bits async_options);
/* VRIO_E_INPROGRESS while running; else 1 failed or 0, and the code. */
vrio_t_error_code vrio_async_error(vrio_t_async_unix *req, vrio_t_error_code *pcode);
/* Option 1: cancel first; option 2: VRIO_E_WOULD_BLOCK instead of waiting. */
vrio_t_error_code wait_for_async_info(vrio_t_async_unix *req, vrio_t_bits options);
vrio_t_error_code vrio_async_suspend(vrio_t_async_unix *const *list, int n,
                                     const vrio_t_timespec *timeout);
/* 0 for a request that succeeded (its data appended to buf), 1 for one
   that failed; the request is freed and *preq cleared. */
vrio_t_error_code vrio_async_return_buf(vrio_t_async_unix **preq, vrio_t_buf *buf);
vrio_t_error_code vrio_async_return(vrio_t_async_unix **preq, vrio_t_offset *pfile_offset,
                                    size_t *pnbytes);
void vrio_async_free(vrio_t_async_unix *req);
vrio_t_error_code vrio_async_cancel_unix(vrio_t_async_unix *req);
vrio_t_error_code vrio_async_poll_for_completion_unix(vrio_t_async_unix *req);
vrio_t_error_code vrio_init_async(vrio_t_bits options);

#endif
