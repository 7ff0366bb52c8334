/* vrio_trace.cpp: trace lines, assertion failures, the debug break, and the
 * identity of the library's main thread.
 *
 * Levels and the main thread are written at initialisation and shut-down
 * only.  The trace stream is chosen once, at its first use, and kept for
 * the life of the process.  Each line is written under the stream's lock
 * with cancellation off, so lines never interleave and a cancellation
 * never cuts one short.
 */
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "vrio_internal.h"

vrio_t_assertions_level vrio_assertions = VRIO_ASSERTION_DEBUG;
static int trace_level = 2;
static std::atomic<pthread_t> main_thread_id;
static std::atomic<bool> main_thread_id_inited{false};
static std::atomic<FILE *> vrio_debug_stderr_FILE{nullptr};
static std::once_flag trace_stream_chosen;

vrio_t_error_code vrio_init_debug(vrio_t_bits flags)
{
  if (flags & 1) {
    main_thread_id_inited.store(false);
    return VRIO_S_NOERR;
  }
  trace_level = 2;
  if (const char *level = std::getenv("VRIO_TRACE_LEVEL"))
    trace_level = static_cast<int>(std::strtol(level, nullptr, 10));
  vrio_assertions = VRIO_ASSERTION_DEBUG;
  if (const char *level = std::getenv("VRIO_ASSERTION_LEVEL")) {
    static const char *const names[] = {"disable", "report", "debug", "abort"};
    for (int i = 0; i < 4; ++i)
      if (std::strcmp(level, names[i]) == 0)
        vrio_assertions = static_cast<vrio_t_assertions_level>(i);
  }
  main_thread_id.store(pthread_self());
  main_thread_id_inited.store(true);
  return VRIO_S_NOERR;
}

int vrio_is_in_main_thread(void)
{
  if (!main_thread_id_inited.load()) {
    /* Before initialisation the first thread that asks is the main one. */
    main_thread_id.store(pthread_self());
    main_thread_id_inited.store(true);
    return 1;
  }
  return pthread_equal(main_thread_id.load(), pthread_self()) != 0;
}

static void choose_trace_stream(void)
{
  FILE *stream = nullptr;
  const char *name = std::getenv("VRIO_TRACE_FILE");
  if (name != nullptr)
    std::fprintf(stderr, "VRIO_TRACE_FILE == %s%s%s\n", "\"", name, "\"");
  else
    std::fprintf(stderr, "VRIO_TRACE_FILE == %s%s%s\n", "", "NULL", "");
  std::fflush(stderr);
  if (name != nullptr) {
    /* Never as descriptor 0, 1 or 2 when one of them is closed. */
    int fd = open(name, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd != -1 && vrio_unix_fd_above_standard(fd, &fd) >= 0) {
      stream = fdopen(fd, "w+");
      if (stream == nullptr)
        close(fd);
    }
  }
  if (stream == nullptr) {
    const char *fd = std::getenv("VRIO_TRACE_FD");
    stream = fd != nullptr && std::strtol(fd, nullptr, 0) == 1 ? stdout : stderr;
  }
  vrio_debug_stderr_FILE.store(stream);
}

FILE *vrio_debug_stderr(void)
{
  std::call_once(trace_stream_chosen, choose_trace_stream);
  return vrio_debug_stderr_FILE.load();
}

/* Runs `write` on the locked trace stream with cancellation off. */
template <typename Write>
static void with_trace_stream(Write write)
{
  int old_state;
  pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &old_state);
  FILE *f = vrio_debug_stderr();
  flockfile(f);
  write(f);
  std::fflush(f);
  funlockfile(f);
  pthread_setcancelstate(old_state, nullptr);
}

/* File, line, "function() " and the thread and process. */
#define TRACE_HEAD "\n%s:%d %s%s0x%lx@%ld VRIO %s "
#define TRACE_HEAD_ARGS                                                                      \
  file, line, function != nullptr ? function : "", function != nullptr ? "() " : "",       \
      static_cast<unsigned long>(pthread_self()), static_cast<long>(getpid()), message

void vrio_trace_line(const char *function, const char *file, int line, const char *message,
                     long number, const char *string, int level)
{
  if (level < trace_level)
    return;
  with_trace_stream([&](FILE *f) {
    std::fprintf(f, TRACE_HEAD "(%ld) %s\n", TRACE_HEAD_ARGS, number, string ? string : "");
  });
}

void vrio_trace_line_lls(const char *function, const char *file, int line, const char *message,
                         long number1, long number2, const char *string, int level)
{
  if (level < trace_level)
    return;
  with_trace_stream([&](FILE *f) {
    std::fprintf(f, TRACE_HEAD "(%ld) (%ld) %s\n", TRACE_HEAD_ARGS, number1, number2,
                 string ? string : "");
  });
}

void vrio_trace_line_p(const char *function, const char *file, int line, const char *message,
                       const void *pointer, const char *string, int level)
{
  if (level < trace_level)
    return;
  with_trace_stream([&](FILE *f) {
    std::fprintf(f, TRACE_HEAD "(0x%lx) %s\n", TRACE_HEAD_ARGS,
                 static_cast<unsigned long>(reinterpret_cast<uintptr_t>(pointer)),
                 string ? string : "");
  });
}

/* The client-request sequence: rotations of edi that add up to 64 bits
   and do nothing natively; under the instrumentation they mark a request
   (the six words at eax), whose answer comes back in edx. */
uintptr_t vrio_valgrind_client_request(uintptr_t default_value, volatile uintptr_t request[6])
{
#if defined(__i386__)
  uintptr_t result = default_value;
  __asm__ volatile("roll $3, %%edi ; roll $13, %%edi\n\t"
                   "roll $29, %%edi ; roll $19, %%edi\n\t"
                   "xchgl %%ebx, %%ebx"
                   : "=d"(result)
                   : "a"(&request[0]), "0"(result)
                   : "cc", "memory");
  return result;
#else
  (void)request;
  return default_value;
#endif
}

/* Valgrind's "print a backtrace" request (a no-op natively). */
static void valgrind_backtrace(const char *text)
{
  uintptr_t no_arguments = 0;
  volatile uintptr_t request[6] = {0x1404, reinterpret_cast<uintptr_t>(text),
                                   reinterpret_cast<uintptr_t>(&no_arguments), 0, 0, 0};
  vrio_valgrind_client_request(0, request);
}

int vrio_assert_failure(const char *function, const char *file, int line)
{
  if (vrio_assertions == VRIO_ASSERTION_DISABLE)
    return 0;
  int old_state;
  pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &old_state);
  int saved_level = trace_level;
  vrio_trace_line(function, file, line, "ASSERTION ERROR!", 0, nullptr, saved_level);
  valgrind_backtrace("Assertion triggered");
  pthread_setcancelstate(old_state, nullptr);
  if (vrio_assertions == VRIO_ASSERTION_ABORT)
    std::abort();
  return 0;
}

void vrio_debug_dump_backtrace(const char *title, vrio_t_bits options)
{
  FILE *f = (options & 1) ? stdout : (options & 2) ? stderr : vrio_debug_stderr();
  flockfile(f);
  funlockfile(f);
}

void vrio_debug_break(const char *file, int line)
{
  static const char hashes[] = "################################################";
  static_assert(sizeof hashes == 49);
  with_trace_stream([&](FILE *f) {
    std::fprintf(f, "\n\n%s\n%s\n", hashes, hashes);
    std::fprintf(f, "##\n##\n");
    std::fprintf(f, "## %s:%d Debug Break\n", file, line);
    std::fflush(f);
    std::fprintf(f, "##\n##\n");
    std::fprintf(f, "## Waiting for debugger attach...(attach %ld in gdb)\n",
                 static_cast<long>(getpid()));
    std::fflush(f);
    std::fprintf(f, "##\n## Waiting in tight loop (expect 100%% CPU)\n##\n");
    std::fprintf(f, "%s\n%s\n", hashes, hashes);
  });
  for (volatile bool waiting = true; waiting;) {
  }
}
