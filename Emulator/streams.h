/* streams.h: Prolog streams over the I/O services library.
 *
 * A VR_stream sits on a layer stack of the I/O library (VRIO) and adds
 * what Prolog needs: inline buffer windows that the fast built-ins, the
 * tokenizer and the writer move without telling anybody, the flag and
 * mode words, lazily counted item, newline and line-position counters,
 * end-of-file bookkeeping, a file-name atom and a 64-bit identity that is
 * never reused while the runtime lives.
 *
 * Every stream is in one registry ring (through forward/backward, rooted
 * at a dummy stream whose counters double as the terminal's aggregate);
 * the ring is the only authority on whether an address is a live stream:
 * Prolog holds streams as integers and every built-in converts them back
 * with stream_to_ptr.  A stream pointer kept elsewhere is kept with its id
 * and checked with find_stream_by_id before use, since Prolog may close a
 * stream at any time.
 *
 * Window invariants (only the window of the stream's kind and direction
 * is used, the others stay null): an input window {ptr, limit} has an item
 * when ptr < limit, limit being the end of the buffer's filled part; an
 * output window's ptr is buf + extent and limit buf + writable_size.
 * Whoever moves a window leaves the buffer's extent stale; the stream
 * layer recomputes it before the buffer reaches the I/O library.
 *
 * The files: stream_registry.cpp (objects, registry, closing, start-up),
 * stream_buffers.cpp (windows, counting, flushing, positioning, push-back),
 * stream_io.cpp (the character and byte engine, formatted output,
 * interrupts), stream_open.cpp (files, handles, user devices, encodings),
 * stream_builtins.cpp (the $ built-ins and I/O errors), stream_select.cpp
 * (waiting), memory_streams.cpp (streams over strings and code lists),
 * file_names.cpp (paths and the current directory).
 * Engine thread only, except where a function says otherwise.
 */
#ifndef VOSTREL_STREAMS_H
#define VOSTREL_STREAMS_H

#include <cstdarg>
#include <cstdint>

#include "termdefs.h"
#include "tokenizer.h"
#include "vostrel/vrio.h"

struct worker;

/* ---- The stream object ---- */

struct vr_t_stream_buf_info_binary {
  unsigned char *ptr;
  unsigned char *limit;
};
struct vr_t_stream_buf_info_text {
  std::int32_t *ptr; /* 32-bit character codes */
  std::int32_t *limit;
};
struct vr_t_public_stream_fields {
  vr_t_stream_buf_info_binary input_binary;
  vr_t_stream_buf_info_binary output_binary;
  vr_t_stream_buf_info_text input_text;
  vr_t_stream_buf_info_text output_text;
};

typedef struct vr_t_vrio_stream_node_ {
  vr_t_public_stream_fields pub;
  std::uint32_t flags;               /* SF_ below */
  std::uint32_t mode;                /* SM_ below, derived from flags by resync_stream_mode */
  vrio_t_buf *input_buf;
  vrio_t_buf *output_buf;
  VRIO vrio;                         /* null for a null stream and after a forced close */
  vr_t_vrio_stream_node_ *forward;
  vr_t_vrio_stream_node_ *backward;
  TAGGED filename_atom;              /* registered while the stream lives; 0 if none */
  std::int64_t item_offset;          /* items up to the end of the counted part of the buffer */
  std::uint32_t buf_items_counted;   /* items at the buffer's start already counted */
  std::int64_t line_length;          /* items since the last newline */
  std::int64_t newline_count;
  std::int64_t previous_line_length;   /* before the last counted item; -1 unknown */
  std::int64_t previous_newline_count; /* likewise */
  std::int64_t eof_offset;           /* offset just after the end of file once read; -1 unknown */
  std::int64_t unget_offset;         /* offset down to which one item may be pushed back */
  std::int64_t id;
} VR_stream;
/* Compiled code and foreign code read the windows and flags raw. */
static_assert(sizeof(VR_stream) == 132);
static_assert(offsetof(VR_stream, flags) == 32 && offsetof(VR_stream, vrio) == 48 &&
              offsetof(VR_stream, item_offset) == 64 && offsetof(VR_stream, id) == 124);

/* Flag bits. */
constexpr std::uint32_t SF_INPUT = 0x1;
constexpr std::uint32_t SF_OUTPUT = 0x2;
constexpr std::uint32_t SF_APPEND = 0x4;
constexpr std::uint32_t SF_BINARY = 0x8;
constexpr std::uint32_t SF_TEXT = 0x10;
constexpr std::uint32_t SF_ONE_IN = 0x20;  /* reserved: one input item at a time */
constexpr std::uint32_t SF_ONE_OUT = 0x40; /* reserved: one output item at a time */
constexpr std::uint32_t SF_INTERACTIVE = 0x80;
constexpr std::uint32_t SF_LINE_FLUSHED = 0x100;
constexpr std::uint32_t SF_NONBLOCKING_IN = 0x200;
constexpr std::uint32_t SF_NONBLOCKING_OUT = 0x400;
constexpr std::uint32_t SF_INTERRUPT_TOLERANT = 0x800;
constexpr std::uint32_t SF_AT_EOF = 0x1000;
constexpr std::uint32_t SF_PAST_EOF = 0x2000;
constexpr std::uint32_t SF_NULL = 0x4000;
constexpr std::uint32_t SF_BOM = 0x8000;
constexpr std::uint32_t SF_REPOSITIONABLE = 0x10000;
constexpr std::uint32_t SF_EOF_CODE = 0x20000;
constexpr std::uint32_t SF_EOF_RESET = 0x40000;
constexpr std::uint32_t SF_CLOSE_CLEANUP = 0x80000;
constexpr std::uint32_t SF_HIDDEN = 0x100000;
constexpr std::uint32_t SF_STANDARD = 0x200000;
constexpr std::uint32_t SF_LISTENER = 0x400000;
constexpr std::uint32_t SF_IN_CRLF = 0x800000;
constexpr std::uint32_t SF_IN_AUTO = 0x1000000;
constexpr std::uint32_t SF_OUT_CRLF = 0x2000000;
constexpr std::uint32_t SF_OUT_AUTO = 0x4000000;

/* Mode bits: the stream as Prolog sees it ($stream_flags/2), and the
   encoding of stream options that Prolog passes to $open/5. */
constexpr std::uint32_t SM_ANY = 0x1; /* always set */
constexpr std::uint32_t SM_INPUT = 0x2;
constexpr std::uint32_t SM_OUTPUT = 0x4;
constexpr std::uint32_t SM_INTERACTIVE = 0x8;
constexpr std::uint32_t SM_STANDARD = 0x10;
constexpr std::uint32_t SM_APPEND = 0x20;
constexpr std::uint32_t SM_HIDDEN = 0x40;
constexpr std::uint32_t SM_REPOSITIONABLE = 0x100;
constexpr std::uint32_t SM_EOF_CODE = 0x200;
constexpr std::uint32_t SM_EOF_RESET = 0x400;
constexpr std::uint32_t SM_BINARY = 0x800;
constexpr std::uint32_t SM_CLOSE_CLEANUP = 0x1000;
constexpr std::uint32_t SM_TEXT = 0x4000;
constexpr std::uint32_t SM_LINE_FLUSHED = 0x8000;
/* In the `mode` argument of stream_to_ptr only: record no error. */
constexpr std::uint32_t SM_QUIET = 0x40000;

/* Recomputes s->mode from s->flags (after every change of flags). */
void resync_stream_mode(VR_stream *s);

/* ---- Engine-wide stream state beyond eglobal ---- */

/* Autoflush settings read at start-up. */
extern int suppress_autoflush;
extern int autoflush_on_prompt;
extern int autoflush_flush_other_streams;
extern VR_stream *last_flushed_autoflush_stream;

/* ---- Registry (stream_registry.cpp) ---- */

/* Creation options. */
constexpr unsigned VR_CREATE_INPUT = 0x1;
constexpr unsigned VR_CREATE_OUTPUT = 0x2;
constexpr unsigned VR_CREATE_APPEND = 0x4;
constexpr unsigned VR_CREATE_BINARY = 0x8;
constexpr unsigned VR_CREATE_TEXT = 0x10;
constexpr unsigned VR_CREATE_INTERACTIVE = 0x20;
constexpr unsigned VR_CREATE_LINE_FLUSHED = 0x40;
constexpr unsigned VR_CREATE_HIDDEN = 0x80;
constexpr unsigned VR_CREATE_NULL = 0x100;
constexpr unsigned VR_CREATE_EOF_CODE = 0x200;
constexpr unsigned VR_CREATE_EOF_RESET = 0x400;
constexpr unsigned VR_CREATE_STANDARD = 0x800;

/* Close options. */
constexpr unsigned VR_CLOSE_FORCE = 0x1;
constexpr unsigned VR_CLOSE_INPUT = 0x2;
constexpr unsigned VR_CLOSE_OUTPUT = 0x4;
constexpr unsigned VR_CLOSE_NONBLOCKING = 0x8;
constexpr unsigned VR_CLOSE_USER_CLASS = 0x10; /* VR_fclose only */
constexpr unsigned VR_CLOSE_STANDARD = 0x20;
constexpr unsigned VR_CLOSE_FINAL = 0x40;

VR_stream *alloc_stream(void);
/* Wraps *layer (or none, with VR_CREATE_NULL) in a new registered stream,
   which owns the layer stack on success. */
vrio_t_error_code VR_create_vrio_stream(VRIO *layer, VR_stream **pstream, unsigned options);
/* A text stream without a device: mode bits 0x2 input, 0x4 output, 0x40
   hidden.  Null on failure. */
VR_stream *null_stream(unsigned mode);
VR_stream *persistent_null_stream(void);
VR_stream *find_stream(VR_stream *s);
VR_stream *find_stream_by_id(VR_stream *s, std::int64_t id);

/* An integer held in a small integer or a one-word box (stream_builtins.cpp). */
bool word_integer(TAGGED t, std::int64_t *v);

vrio_t_error_code VR_next_stream(VR_stream *s, VR_stream **pnext);
VR_stream *VR_get_stdin(void);
VR_stream *VR_get_stdout(void);
VR_stream *VR_get_stderr(void);
VR_stream *VR_get_curin(void);
VR_stream *VR_get_curout(void);

typedef VR_stream *(*VR_UserStreamHook)(void *user_data, int which);
typedef void (*VR_UserStreamPostHook)(void *user_data, int which, VR_stream *s);
VR_UserStreamHook VR_set_user_stream_hook(VR_UserStreamHook hook, void *user_data);
VR_UserStreamPostHook VR_set_user_stream_post_hook(VR_UserStreamPostHook hook, void *user_data);
void VR_force_interactive(void);
extern int force_interactive;

/* A Prolog stream designator (an address as a small or one-word boxed
   integer, or user, user_input, user_output, user_error) as a registered
   stream whose mode has every bit of `mode` and none of `notmode`; null
   otherwise, with the error recorded unless SM_QUIET is in `mode`. */
VR_stream *stream_to_ptr(TAGGED t, unsigned mode, unsigned notmode);
/* The stream's address as Prolog holds it (a small or one-word boxed
   integer), built at the heap top. */
TAGGED stream_address_term(worker *w, const VR_stream *s);

/* Start-up once per engine (1 success, 0 failure), every run, shutdown. */
int init_stream(void);
void init_stream_again(worker *w);
int deinit_stream(void);

vrio_t_error_code vr_fclose_internal(VR_stream *s, unsigned options);
vrio_t_error_code VR_fclose(VR_stream *s, unsigned options);
/* Flushes every output stream of the registry (shutdown and halt); the
   first error, or 0. */
vrio_t_error_code vr_flush_all_output(void);

typedef void (*vr_t_stream_event_listener)(VR_stream *s, void *cookie, unsigned options);
vrio_t_error_code add_stream_event_listener(vr_t_stream_event_listener listener, void *cookie);
int remove_stream_event_listener(void *cookie);
void init_stream_event_listeners(void);
void free_stream_event_listeners(void);

/* The Prolog predicate close_cleanup/2 is called from here; the stand-in
   for VR_query_cut_fail (query.h) is used until the interface lands. */

/* ---- Buffers, counting, flushing, positioning (stream_buffers.cpp) ---- */

void sync_output_buf_extent_binary(VR_stream *s);
void sync_output_buf_extent_text(VR_stream *s);
void sync_output_buf_extent(VR_stream *s);
void sync_output_pub(VR_stream *s);
void sync_input_pub(VR_stream *s);
void count_text_items(VR_stream *s, const std::int32_t *base, const std::int32_t *ptr);
void count_binary_items(VR_stream *s, const unsigned char *base, const unsigned char *ptr);
int sync_stream_counters(VR_stream *s, unsigned options);
/* Options: 0x1 input side, 0x2 output side, 0 the stream as it is. */
vrio_t_error_code VR_get_stream_counts(VR_stream *s, std::int64_t *item_offset,
                                       std::int64_t *newline_count, std::int64_t *line_length,
                                       unsigned options);
vrio_t_error_code flush_output_buffer(VR_stream *s, unsigned options);
/* Options: 0x1 non-blocking, 0x2 autoflush, 0x4 none (close). */
vrio_t_error_code vr_flush_output(VR_stream *s, unsigned options);
vrio_t_error_code VR_flush_output(VR_stream *s, unsigned options);
int vr_ttyflush_stream(void);
vrio_t_error_code vr_flush_autoflush_streams(VR_stream *except, unsigned options);
/* Option 0: absolute with the given counters; 0x1 a seek from 0x2 the
   beginning, 0x4 the current position or 0x8 the end, counters at 0. */
vrio_t_error_code set_stream_position(VR_stream *s, std::int64_t item_offset,
                                      std::int64_t newline_count, std::int64_t line_length,
                                      unsigned options);
vrio_t_error_code unget_eof(VR_stream *s);
vrio_t_error_code unget_code(VR_stream *s, int item);
vrio_t_error_code unget_byte(VR_stream *s, int item);
vrio_t_error_code VR_unget_code(VR_stream *s, int item);
vrio_t_error_code VR_unget_byte(VR_stream *s, int item);

/* ---- Character and byte engine (stream_io.cpp) ---- */

/* Input options: non-blocking, peek, no restart.  Output: non-blocking
   flush; array writers: reserve room without copying. */
constexpr unsigned VR_IO_NONBLOCKING = 0x1;
constexpr unsigned VR_IO_PEEK = 0x2;
constexpr unsigned VR_IO_NO_RESTART = 0x4;
constexpr unsigned VR_IO_RESERVE = 0x1000;

int vr_get_code_helper(VR_stream *s, unsigned options);
int vr_get_byte_helper(VR_stream *s, unsigned options);
int vr_put_code_helper(VR_stream *s, int code, unsigned options);
int vr_put_byte_helper(VR_stream *s, int byte, unsigned options);
vrio_t_error_code VR_put_codes(VR_stream *s, const int *codes, unsigned count, unsigned options);
vrio_t_error_code VR_put_bytes(VR_stream *s, const void *bytes, unsigned count, unsigned options);
vrio_t_error_code VR_put_encoded_string(VR_stream *s, const char *utf8, unsigned options);
vrio_t_error_code VR_fprintf(VR_stream *s, const char *format, ...)
    __attribute__((format(printf, 2, 3)));
vrio_t_error_code VR_vfprintf(VR_stream *s, const char *format, std::va_list args);
vrio_t_error_code VR_printf(const char *format, ...) __attribute__((format(printf, 1, 2)));

/* The next item of the input window, or -2 when the window is empty. */
inline int stream_window_get_code(VR_stream *s)
{
  vr_t_stream_buf_info_text &in = s->pub.input_text;
  return in.ptr < in.limit ? *in.ptr++ : -2;
}

/* The next byte of a binary input stream: the window, else the byte path;
   -1 at the end, or a negative error code. */
inline int stream_get_byte(VR_stream *s)
{
  vr_t_stream_buf_info_binary &in = s->pub.input_binary;
  return in.ptr < in.limit ? *in.ptr++ : vr_get_byte_helper(s, 0);
}

typedef int (*VR_ErrprintfHook)(void *user_data, int flags, const char *format, std::va_list args);
VR_ErrprintfHook VR_set_errprintf_hook(VR_ErrprintfHook hook, void *user_data);

typedef int (*VR_idle_hook)(void *cookie);
vrio_t_error_code VR_install_idle_hook(VR_idle_hook hook, void *cookie, unsigned options);
void free_idle_hooks(void);

vrio_t_error_code run_work_items(VR_stream *s);
void setinterrupt_interrupt_hook(void *cookie, vrio_t_bits options);
int vr_test_and_clear_hard_interrupt(void);
void vr_os_signal_delivered(unsigned options);

/* The interface's entries to the I/O library's tracing, error names and
   assertion reports: they forward their arguments unchanged. */
const char *vr_vrio_error_name(vrio_t_error_code code);
void vr_vrio_trace_line(const char *function, const char *file, int line, const char *message, long number,
                        const char *string, int level);
void vr_vrio_debug_break(const char *file, int line);
int vr_vrio_assert_failure(const char *function, const char *file, int line);

/* ---- The tokenizer's character source over a stream ---- */

/* Reads the stream `s` (checked by id before every use), or the current
   input when s is null; counts are the stream's own input counters, so
   token lines match what the stream reports. */
struct stream_source {
  token_source base;
  VR_stream *s;
  std::int64_t id;
};
void stream_source_init(stream_source *src, VR_stream *s);
/* Points current_token_input at a source over the current input, and
   back at nothing. */
void stream_token_source_install(void);
void stream_token_source_remove(void);

/* ---- Opening (stream_open.cpp) ---- */

constexpr unsigned VR_FOPEN_READ = 0x1;
constexpr unsigned VR_FOPEN_WRITE = 0x2;
constexpr unsigned VR_FOPEN_APPEND = 0x4;
constexpr unsigned VR_FOPEN_BINARY = 0x8;
constexpr unsigned VR_FOPEN_TEXT = 0x10;
constexpr unsigned VR_FOPEN_INTERACTIVE = 0x20;
constexpr unsigned VR_FOPEN_REPOSITIONABLE = 0x40;
constexpr unsigned VR_FOPEN_LINE_FLUSHED = 0x80;
constexpr unsigned VR_FOPEN_LITERAL = 0x100;
constexpr unsigned VR_FOPEN_EXCLUSIVE = 0x200;
constexpr unsigned VR_FOPEN_URL = 0x400;
constexpr unsigned VR_FOPEN_ENCODING_TERM = 0x2000;
constexpr unsigned VR_FOPEN_ENCODING_TERM_REF = 0x4000;
constexpr unsigned VR_FOPEN_HIDDEN = 0x10000;

/* args: the encoding(Charset, Bom, Eol) term with VR_FOPEN_ENCODING_TERM,
   else none. */
vrio_t_error_code vr_fopen_internal(const char *path, unsigned options, TAGGED encoding,
                                    VR_stream **pstream);
vrio_t_error_code VR_fopen(const char *path, TAGGED encoding, unsigned options, VR_stream **pstream);
/* Sets the flags of the mode bits SM_EOF_CODE, SM_EOF_RESET,
   SM_CLOSE_CLEANUP, SM_LINE_FLUSHED and SM_STANDARD found in `bits` on a
   new stream, and recomputes its mode. */
void add_stream_mode_bits(VR_stream *s, std::uint32_t bits);
vrio_t_error_code VR_create_os_stream(int handle, VR_stream **pstream, TAGGED encoding,
                                      unsigned options);
vrio_t_error_code VR_create_stream(void *user_data, const void *user_class,
                                   vrio_t_simple_device_read read, vrio_t_simple_device_write write,
                                   vrio_t_simple_device_flush_output flush_output,
                                   vrio_t_simple_device_seek seek, vrio_t_simple_device_close close,
                                   vrio_t_simple_device_interrupt interrupt,
                                   vrio_t_simple_device_ioctl ioctl, void *reserved, unsigned options,
                                   VR_stream **pstream);
vrio_t_error_code VR_get_stream_user_data(VR_stream *s, const void *user_class, void **puser_data);
/* Pushes a char-coder layer; 0, 30001 when a byte-order mark was found, or
   an error. */
vrio_t_error_code vrio_push_encoding(VRIO *layer, vrio_t_coder_funcs *read_coder_funcs,
                                     vrio_t_coder_funcs *write_coder_funcs, unsigned options);
vrio_t_error_code validate_vrio_push_encoding_options(unsigned options);
void set_stream_encoding_bits(VR_stream *s, unsigned info);
int eol_type(const char *name, const char *default_name);
vrio_t_error_code vr_default_charset_name(char **pcharset_name, const char **env_vars,
                                          unsigned options);
VR_stream *vr_userstreamhook_default(void *user_data, int which);

/* ---- Errors (stream_builtins.cpp) ---- */

void save_vrio_error(vrio_t_error_code code, int writeop, TAGGED culprit);
void raise_vrio_error(vrio_t_error_code code, int writeop, const char *name, int arity, int argno);

/* ---- Memory streams (memory_streams.cpp) ---- */

vrio_t_error_code vr_create_vrio_device(VRIO *out, vrio_t_buf *buf, void *cookie,
                                        vrio_t_error_code (*close_callback)(void *cookie,
                                                                            unsigned close_options),
                                        unsigned options);
vrio_t_error_code vr_create_vrio_byte_device(VRIO *out, vrio_t_buf *buf, void *cookie,
                                             vrio_t_error_code (*close_callback)(void *cookie,
                                                                                 unsigned close_options),
                                             unsigned options);
int VR_stream_from_string(const char *text, VR_stream **out);

/* ---- Waiting (stream_select.cpp) ---- */

int poll_read_stream(VR_stream *s);
int poll_write_stream(VR_stream *s);
vrio_t_error_code VR_select(int *read_fds, unsigned *nread_fds, int *write_fds,
                            unsigned *nwrite_fds, VR_stream **read_streams, unsigned *nread_streams,
                            VR_stream **write_streams, unsigned *nwrite_streams,
                            const vrio_t_timespec *timeout, unsigned options);

/* ---- Socket streams (socket_streams.cpp) ---- */

/* A two-way stream over a connected socket, which it then owns: options
   0x2 text (else binary), 0x4 with the encoding/3 term. */
vrio_t_error_code vr_open_socket_stream(int sock, TAGGED encoding, VR_stream **pstream,
                                        unsigned options);
/* Connects (0x8: a Unix-domain socket at the path host) and makes the
   stream; the socket is closed on failure. */
vrio_t_error_code vr_socket_connect_stream(const char *host, const char *service, TAGGED encoding,
                                           VR_stream **pstream, unsigned options);
vrio_t_error_code VR_open_socket_stream(const char *host, const char *service, TAGGED encoding,
                                        VR_stream **pstream, unsigned options);
int prolog_hostname(worker *w);
int prolog_socket_open_fail_on_interrupt(worker *w);
int prolog_socket_listen_fail_on_interrupt(worker *w);
int prolog_socket_accept_fail_on_interrupt(worker *w);
int prolog_socket_close(worker *w);

/* ---- Built-ins (module prolog) ---- */

int prolog_stream_code(worker *w);
int prolog_stream_id(worker *w);
int prolog_stream_flags(worker *w);
int prolog_set_stream_flags(worker *w);
int prolog_stdinput(worker *w);
int prolog_stdoutput(worker *w);
int prolog_stderror(worker *w);
int prolog_input(worker *w);
int prolog_output(worker *w);
int prolog_stream_count(worker *w);
int prolog_stream_offset(worker *w);
int prolog_stream_set_line_count(worker *w);
int prolog_set_stream_position(worker *w);
int prolog_seek(worker *w);
int prolog_save_stream_position(worker *w);
int prolog_unget_code(worker *w);
int prolog_unget_byte(worker *w);
int prolog_flush_output_fail_on_interrupt(worker *w);
int prolog_close_fail_on_interrupt(worker *w);
int prolog_get_code_fail_on_interrupt(worker *w);
int prolog_get_byte_fail_on_interrupt(worker *w);
int prolog_put_code_fail_on_interrupt(worker *w);
int prolog_put_byte_fail_on_interrupt(worker *w);
int prolog_get_code_fast(worker *w);
int prolog_peek_code_fast(worker *w);
int prolog_get_byte_fast(worker *w);
int prolog_peek_byte_fast(worker *w);
int prolog_put_code_fast(worker *w);
int prolog_put_byte_fast(worker *w);
int prolog_get_buffered_codes(worker *w);
int prolog_get_buffered_bytes(worker *w);
int prolog_end_of_stream(worker *w);
int prolog_next_stream(worker *w);
int prolog_stream_properties(worker *w);
int prolog_open_null(worker *w);
int prolog_vrio_error_name(worker *w);
int prolog_errprintf(worker *w);
int prolog_flush_all_output(worker *w);
int prolog_open(worker *w);
int prolog_select(worker *w);
int prolog_stream_from_codes(worker *w);

#endif
