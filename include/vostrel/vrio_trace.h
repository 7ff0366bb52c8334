/* vrio_trace.h: trace lines, assertion failures, the debug break and the
 * library's main thread.
 *
 * The main thread is the one that initialised the library (before that,
 * the first that asks); event waits on it watch interrupts.  Trace output
 * goes to one stream chosen at first use (VRIO_TRACE_FILE, VRIO_TRACE_FD,
 * else standard error); each line is written whole, under the stream's lock
 * with cancellation off.  Levels come from the process environment
 * (VRIO_TRACE_LEVEL, VRIO_ASSERTION_LEVEL) at initialisation.
 * Usable from C and C++.
 */
#ifndef VOSTREL_VRIO_TRACE_H
#define VOSTREL_VRIO_TRACE_H

#include <stdio.h>

#include "vostrel/vrio_types.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef enum vrio_t_assertions_level_ {
  VRIO_ASSERTION_DISABLE = 0,
  VRIO_ASSERTION_REPORT = 1,
  VRIO_ASSERTION_DEBUG = 2,
  VRIO_ASSERTION_ABORT = 3
} vrio_t_assertions_level;

extern vrio_t_assertions_level vrio_assertions;

vrio_t_error_code vrio_init_debug(vrio_t_bits flags);
int vrio_is_in_main_thread(void);
void vrio_trace_line(const char *function, const char *file, int line, const char *message,
                     long number, const char *string, int level);
void vrio_trace_line_lls(const char *function, const char *file, int line, const char *message,
                         long number1, long number2, const char *string, int level);
void vrio_trace_line_p(const char *function, const char *file, int line, const char *message,
                       const void *pointer, const char *string, int level);
int vrio_assert_failure(const char *function, const char *file, int line);
void vrio_debug_break(const char *file, int line);
void vrio_debug_dump_backtrace(const char *title, vrio_t_bits options);
FILE *vrio_debug_stderr(void);
/* Valgrind's client-request mechanism: `request` holds the request number
   and five arguments; the answer under Valgrind, else `default_value`. */
uintptr_t vrio_valgrind_client_request(uintptr_t default_value, volatile uintptr_t request[6]);

#ifdef __cplusplus
}
#endif

#endif
