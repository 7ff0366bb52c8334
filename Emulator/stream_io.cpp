/* stream_io.cpp: the character and byte engine behind the inline windows.
 *
 * The fast paths (compiled code, the fast built-ins, the tokenizer, the
 * writer) move items through a stream's windows and come here only when a
 * window is empty or full.  The input slow path refills the buffer from
 * the device, keeping the last consumed item so that it can be pushed
 * back; delivers the end of file by the stream's end-of-file action;
 * prompts on an interactive stream and runs idle hooks while the terminal
 * is silent; runs the work items other threads handed over; and turns
 * interrupts into VRIO_E_INTERRUPTED, which reaches the caller only when
 * it asked for no restart or a hard interrupt is pending.  The output slow
 * path allocates and writes out buffers.  Also here: formatted output,
 * errprintf, the idle hooks, the interrupt hook, and the tokenizer's
 * character source over a stream.
 *
 * The interrupt hook runs on the I/O library's interrupt thread; it only
 * sets the hard-interrupt flag and clears the worker's two heap limits.
 * Everything else runs on the engine thread.
 */
#include <atomic>
#include <cstdio>
#include <cstring>

#include "atoms.h"
#include "datadefs.h"
#include "errors.h"
#include "memman.h"
#include "streams.h"
#include "support.h"
#include "worker.h"

void sync_input_window_after(VR_stream *s, std::size_t before);

namespace {

std::atomic<int> global_hard_interrupt_flag{0};

VR_ErrprintfHook errprintf_hook = nullptr;
void *errprintf_hook_data = nullptr;

struct vr_t_idle_hook_entry {
  VR_idle_hook hook;
  void *cookie;
};
vr_t_idle_hook_entry *idle_hooks = nullptr; /* ends with a null hook; null when empty */
unsigned idle_hooks_modified = 0;

unsigned idle_hook_count()
{
  unsigned n = 0;
  if (idle_hooks != nullptr)
    while (idle_hooks[n].hook != nullptr)
      n++;
  return n;
}

inline bool is_text(const VR_stream *s) { return (s->flags & SF_TEXT) != 0; }

bool prompt_is_empty()
{
  const TAGGED p = eglobal->current_prompt;
  return p == 0 || !IsAtom(p) || atom_name(p)[0] == '\0';
}

/* One pass over the idle hooks; true when some hook did work.  A change
   of the array during a call starts the pass over. */
bool idle_pass()
{
  bool worked = false;
  unsigned i = 0;
  while (idle_hooks != nullptr && idle_hooks[i].hook != nullptr) {
    const unsigned seen = idle_hooks_modified;
    if (idle_hooks[i].hook(idle_hooks[i].cookie) != 0)
      worked = true;
    if (idle_hooks_modified != seen) {
      i = 0;
      continue;
    }
    i++;
  }
  return worked;
}

/* The idle loop of an interactive read that would block: run the hooks
   while they have work (at most 10 busy passes), wait a little when they
   have none, then try the read again. */
vrio_t_error_code idle_read(VR_stream *s, vrio_t_bits read_options)
{
  for (;;) {
    if (idle_hooks == nullptr)
      return vrio_read(&s->vrio, &s->input_buf, read_options);
    for (int busy = 0; busy < 10; busy++) {
      if (!idle_pass()) {
        const vrio_t_timespec pause = {0, 100000};
        vrio_event_wait(nullptr, 0, &pause);
        break;
      }
    }
    vrio_t_error_code rc = vrio_read(&s->vrio, &s->input_buf, read_options | VRIO_READ_NONBLOCKING);
    if (rc != VRIO_E_WOULD_BLOCK)
      return rc;
  }
}

/* The read of an interactive text stream that has to wait: flush and
   prompt once, then idle. */
vrio_t_error_code interactive_read(VR_stream *s, vrio_t_bits read_options)
{
  vrio_t_error_code rc = vrio_read(&s->vrio, &s->input_buf, read_options | VRIO_READ_NONBLOCKING);
  if (rc != VRIO_E_WOULD_BLOCK)
    return rc;
  if (autoflush_on_prompt && vr_flush_autoflush_streams(nullptr, 0) == VRIO_E_INTERRUPTED)
    return VRIO_E_INTERRUPTED;
  VR_stream *root = eglobal->root_stream_ptr;
  VR_stream *err = eglobal->stream_user_error;
  if (root != nullptr && root->line_length == 0 && !prompt_is_empty() && err != nullptr) {
    vrio_t_error_code prc = VR_put_encoded_string(err, atom_name(eglobal->current_prompt), 0);
    if (prc >= 0)
      prc = vr_flush_output(err, 0);
    if (prc == VRIO_E_INTERRUPTED)
      return prc;
  }
  return idle_read(s, read_options);
}

/* The input slow path over codes (text) or bytes. */
int get_item_slow(VR_stream *s, unsigned options, bool text)
{
  if (!(options & VR_IO_NO_RESTART)) {
    vrio_t_error_code rc = run_work_items(s);
    if (rc < 0)
      return rc;
  }
  const std::size_t isz = text ? 4 : 1;
  for (;;) {
    if (s == nullptr)
      return VRIO_E_PARAMETER_ERROR;
    if (text ? s->pub.input_text.ptr < s->pub.input_text.limit
             : s->pub.input_binary.ptr < s->pub.input_binary.limit)
      break;
    if (!(s->flags & SF_INPUT))
      return VRIO_E_NOT_READ;
    if (is_text(s) != text)
      return VRIO_E_GRANULARITY_ERROR;
    bool at_eof_now = false;
    if (vrio_t_buf *b = s->input_buf) {
      unsigned char *const end = b->buf + (b->extent - b->extent % isz);
      unsigned char *const limit = text ? reinterpret_cast<unsigned char *>(s->pub.input_text.limit)
                                        : s->pub.input_binary.limit;
      if (limit != nullptr && limit < end) {
        if (text)
          s->pub.input_text.limit = reinterpret_cast<std::int32_t *>(end);
        else
          s->pub.input_binary.limit = end;
        continue;
      }
      sync_stream_counters(s, text ? 0x1 : 0);
      if (b->extent >= isz && limit != nullptr && limit > b->buf) {
        /* Keep the last consumed item for a push-back across the refill. */
        std::memmove(b->buf, limit - isz, isz);
        b->extent = isz;
        s->buf_items_counted = 1;
      } else {
        b->extent = 0;
        s->buf_items_counted = 0;
      }
      if (text)
        s->pub.input_text.ptr = s->pub.input_text.limit = reinterpret_cast<std::int32_t *>(b->buf + b->extent);
      else
        s->pub.input_binary.ptr = s->pub.input_binary.limit = b->buf + b->extent;
    }
    /* End-of-file bookkeeping before the device is touched. */
    if (s->flags & SF_AT_EOF) {
      if (s->flags & SF_EOF_CODE) {
        if (options & VR_IO_PEEK)
          return -1;
        s->flags &= ~(SF_AT_EOF | SF_PAST_EOF);
        at_eof_now = true;
      } else if (s->flags & SF_EOF_RESET) {
        s->flags &= ~(SF_AT_EOF | SF_PAST_EOF);
        s->eof_offset = -1;
      } else {
        at_eof_now = true;
      }
    } else if (s->eof_offset == s->item_offset + 1 && s->unget_offset == s->item_offset) {
      at_eof_now = true;
    }
    if (!at_eof_now && s->vrio == nullptr)
      at_eof_now = true;
    if (!at_eof_now) {
      vrio_t_bits read_options = text ? VRIO_READ_CHARS : VRIO_READ_BYTES;
      const bool nonblocking = (options & VR_IO_NONBLOCKING) || (s->flags & SF_NONBLOCKING_IN);
      if (nonblocking)
        read_options |= VRIO_READ_NONBLOCKING;
      const std::size_t before = s->input_buf != nullptr ? s->input_buf->extent : 0;
      vrio_t_error_code rc;
      if (text && (s->flags & SF_INTERACTIVE) && !nonblocking &&
          (!prompt_is_empty() || idle_hooks != nullptr || autoflush_on_prompt))
        rc = interactive_read(s, read_options);
      else
        rc = vrio_read(&s->vrio, &s->input_buf, read_options);
      if (rc == VRIO_E_END_OF_FILE) {
        at_eof_now = true;
      } else if (rc == VRIO_E_INTERRUPTED) {
        if (options & VR_IO_NO_RESTART)
          return VRIO_E_INTERRUPTED;
        rc = run_work_items(s);
        if (rc < 0)
          return rc;
        continue;
      } else if (rc < 0) {
        if (s->input_buf != nullptr)
          sync_input_window_after(s, before);
        return rc;
      } else {
        sync_input_window_after(s, before);
        continue;
      }
    }
    /* End of file. */
    if (options & VR_IO_PEEK)
      return -1;
    if (s->flags & SF_AT_EOF) {
      s->flags |= SF_PAST_EOF;
    } else {
      s->flags |= SF_AT_EOF;
      sync_stream_counters(s, text ? 0x1 : 0);
      s->eof_offset = s->item_offset + 1;
      s->unget_offset = 0;
      s->previous_line_length = -1;
      s->previous_newline_count = -1;
    }
    resync_stream_mode(s);
    return -1;
  }
  if (text) {
    const int c = *s->pub.input_text.ptr;
    if (!(options & VR_IO_PEEK))
      s->pub.input_text.ptr++;
    return c;
  }
  const int c = *s->pub.input_binary.ptr;
  if (!(options & VR_IO_PEEK))
    s->pub.input_binary.ptr++;
  return c;
}

/* Room for one more output item: widen a short limit, or write a full
   buffer out, or make the first buffer. */
vrio_t_error_code make_output_room(VR_stream *s, unsigned options, bool text)
{
  if (!(s->flags & SF_OUTPUT))
    return VRIO_E_NOT_WRITE;
  if (is_text(s) != text)
    return VRIO_E_GRANULARITY_ERROR;
  if (vrio_t_buf *b = s->output_buf) {
    sync_output_buf_extent(s);
    if (b->extent + (text ? 4 : 1) > b->writable_size) {
      vrio_t_error_code rc = flush_output_buffer(s, options & VR_IO_NONBLOCKING);
      if (rc == VRIO_E_INTERRUPTED && (s->flags & SF_INTERRUPT_TOLERANT))
        rc = vrio_buf_reserve(b, 100);
      if (rc < 0)
        return rc;
      if (b->extent + (text ? 4 : 1) > b->writable_size) {
        rc = vrio_buf_reserve(b, text ? 4 : 1);
        if (rc < 0)
          return rc;
      }
    }
  } else {
    s->output_buf = text ? vrio_buf_alloc(nullptr, 0, 0) : vrio_buf_alloc(nullptr, 65536, 0);
    if (s->output_buf == nullptr)
      return VRIO_E_OUT_OF_MEMORY;
    if (s->output_buf->writable_size < 4 && vrio_buf_reserve(s->output_buf, 4) < 0)
      return VRIO_E_OUT_OF_MEMORY;
  }
  sync_output_pub(s);
  return VRIO_S_NOERR;
}

} // namespace

/* The input window after a read that appended to the buffer from
   `before` on. */
void sync_input_window_after(VR_stream *s, std::size_t before)
{
  vrio_t_buf *b = s->input_buf;
  if (is_text(s)) {
    s->pub.input_text.ptr = reinterpret_cast<std::int32_t *>(b->buf + before);
    s->pub.input_text.limit = reinterpret_cast<std::int32_t *>(b->buf + (b->extent & ~static_cast<std::size_t>(3)));
  } else {
    s->pub.input_binary.ptr = b->buf + before;
    s->pub.input_binary.limit = b->buf + b->extent;
  }
}

int vr_get_code_helper(VR_stream *s, unsigned options) { return get_item_slow(s, options, true); }
int vr_get_byte_helper(VR_stream *s, unsigned options) { return get_item_slow(s, options, false); }

int vr_put_code_helper(VR_stream *s, int code, unsigned options)
{
  if (s == nullptr)
    return VRIO_E_PARAMETER_ERROR;
  vr_t_stream_buf_info_text &out = s->pub.output_text;
  if (!(out.ptr < out.limit)) {
    vrio_t_error_code rc = make_output_room(s, options, true);
    if (rc < 0)
      return rc;
  }
  *out.ptr++ = code;
  return code;
}

int vr_put_byte_helper(VR_stream *s, int byte, unsigned options)
{
  if (s == nullptr)
    return VRIO_E_PARAMETER_ERROR;
  vr_t_stream_buf_info_binary &out = s->pub.output_binary;
  if (!(out.ptr < out.limit)) {
    vrio_t_error_code rc = make_output_room(s, options, false);
    if (rc < 0)
      return rc;
  }
  *out.ptr++ = static_cast<unsigned char>(byte);
  return byte & 0xFF;
}

namespace {

/* Room for `count` items in the output window. */
vrio_t_error_code reserve_items(VR_stream *s, unsigned count, unsigned options, bool text)
{
  if (s == nullptr)
    return VRIO_E_PARAMETER_ERROR;
  if (!(s->flags & SF_OUTPUT))
    return VRIO_E_NOT_WRITE;
  if (is_text(s) != text)
    return VRIO_E_GRANULARITY_ERROR;
  const std::size_t isz = text ? 4 : 1;
  const std::size_t need = static_cast<std::size_t>(count) * isz;
  auto room = [&]() -> std::size_t {
    return text ? static_cast<std::size_t>(s->pub.output_text.limit - s->pub.output_text.ptr) * 4
                : static_cast<std::size_t>(s->pub.output_binary.limit - s->pub.output_binary.ptr);
  };
  if (s->output_buf != nullptr && room() >= need)
    return VRIO_S_NOERR;
  if (s->output_buf == nullptr) {
    s->output_buf = vrio_buf_alloc(nullptr, text ? 0 : 65536, 0);
    if (s->output_buf == nullptr)
      return VRIO_E_OUT_OF_MEMORY;
  }
  vrio_t_buf *b = s->output_buf;
  sync_output_buf_extent(s);
  if (b->writable_size - b->extent < need) {
    vrio_t_error_code rc = flush_output_buffer(s, options & VR_IO_NONBLOCKING);
    if (rc < 0 && !(rc == VRIO_E_INTERRUPTED && (s->flags & SF_INTERRUPT_TOLERANT)))
      return rc;
    if (b->writable_size - b->extent < need) {
      rc = vrio_buf_reserve(b, need);
      if (rc < 0)
        return rc;
    }
  }
  sync_output_pub(s);
  return VRIO_S_NOERR;
}

} // namespace

vrio_t_error_code VR_put_codes(VR_stream *s, const int *codes, unsigned count, unsigned options)
{
  if (count == 0 && s != nullptr && (s->flags & SF_OUTPUT) && is_text(s))
    return VRIO_S_NOERR;
  vrio_t_error_code rc = reserve_items(s, count, options, true);
  if (rc < 0 || count == 0)
    return rc;
  if (!(options & VR_IO_RESERVE)) {
    std::memcpy(s->pub.output_text.ptr, codes, static_cast<std::size_t>(count) * 4);
    s->pub.output_text.ptr += count;
  }
  return VRIO_S_NOERR;
}

vrio_t_error_code VR_put_bytes(VR_stream *s, const void *bytes, unsigned count, unsigned options)
{
  if (count == 0 && s != nullptr && (s->flags & SF_OUTPUT) && !is_text(s))
    return VRIO_S_NOERR;
  vrio_t_error_code rc = reserve_items(s, count, options, false);
  if (rc < 0 || count == 0)
    return rc;
  if (!(options & VR_IO_RESERVE)) {
    std::memcpy(s->pub.output_binary.ptr, bytes, count);
    s->pub.output_binary.ptr += count;
  }
  return VRIO_S_NOERR;
}

vrio_t_error_code VR_put_encoded_string(VR_stream *s, const char *utf8, unsigned options)
{
  const std::size_t len = std::strlen(utf8);
  if (len == 0)
    return VRIO_S_NOERR;
  vrio_t_error_code rc = VR_put_codes(s, nullptr, static_cast<unsigned>(len), VR_IO_RESERVE | (options & VR_IO_NONBLOCKING));
  if (rc < 0)
    return rc;
  std::int32_t *out = s->pub.output_text.ptr;
  const auto *p = reinterpret_cast<const unsigned char *>(utf8);
  std::size_t i = 0;
  while (i < len && p[i] < 128)
    out[i] = p[i], i++;
  std::size_t produced = i;
  if (i < len) {
    std::size_t count = len - i;
    rc = vrio_decode_utf8_to_utf32(p + i, len - i, reinterpret_cast<std::uint32_t *>(out + i), &count, 3);
    if (rc < 0)
      return rc;
    produced += count;
  }
  s->pub.output_text.ptr += produced;
  return VRIO_S_NOERR;
}

vrio_t_error_code VR_vfprintf(VR_stream *s, const char *format, std::va_list args)
{
  char small[2048];
  std::va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (n < 0)
    return VRIO_E_PARAMETER_ERROR;
  if (static_cast<std::size_t>(n) < sizeof small)
    return VR_put_encoded_string(s, small, 0);
  const std::size_t size = static_cast<std::size_t>(n) + 1;
  char *big = static_cast<char *>(checkalloc(size, 16));
  std::vsnprintf(big, size, format, args);
  vrio_t_error_code rc = VR_put_encoded_string(s, big, 0);
  checkdealloc(big, size, 16);
  return rc;
}

vrio_t_error_code VR_fprintf(VR_stream *s, const char *format, ...)
{
  std::va_list args;
  va_start(args, format);
  vrio_t_error_code rc = VR_vfprintf(s, format, args);
  va_end(args);
  return rc;
}

vrio_t_error_code VR_printf(const char *format, ...)
{
  std::va_list args;
  va_start(args, format);
  vrio_t_error_code rc = eglobal->stream_user_output != nullptr
                             ? VR_vfprintf(eglobal->stream_user_output, format, args)
                             : VRIO_E_PARAMETER_ERROR;
  va_end(args);
  return rc;
}

/* ---- Messages ---- */

VR_ErrprintfHook VR_set_errprintf_hook(VR_ErrprintfHook hook, void *user_data)
{
  VR_ErrprintfHook old = errprintf_hook;
  errprintf_hook = hook;
  errprintf_hook_data = user_data;
  return old;
}

int errprintf(int flags, const char *format, ...)
{
  std::va_list args;
  va_start(args, format);
  int n;
  if (errprintf_hook != nullptr) {
    n = errprintf_hook(errprintf_hook_data, flags, format, args);
  } else {
    std::fputc('\n', stderr);
    n = std::vfprintf(stderr, format, args);
    std::fflush(stderr);
  }
  va_end(args);
  return n;
}

/* Traces and reports go to the standard error stream; before the stream
   layer exists (or after it is gone) to the process's standard error. */
void vr_ttyprintf(const char *format, ...)
{
  std::va_list args;
  va_start(args, format);
  if (eglobal->stream_user_error != nullptr)
    VR_vfprintf(eglobal->stream_user_error, format, args);
  else
    std::vfprintf(stderr, format, args);
  va_end(args);
}

void vr_ttyflush(void)
{
  if (eglobal->stream_user_error != nullptr)
    vr_ttyflush_stream();
  else
    std::fflush(stderr);
}

/* ---- Idle hooks ---- */

vrio_t_error_code VR_install_idle_hook(VR_idle_hook hook, void *cookie, unsigned options)
{
  if (hook == nullptr)
    return VRIO_E_PARAMETER_ERROR;
  const unsigned n = idle_hook_count();
  for (unsigned i = 0; i < n; i++) {
    if (idle_hooks[i].hook != hook)
      continue;
    if (options & 0x1) {
      idle_hooks[i] = idle_hooks[n - 1];
      idle_hooks[n - 1] = {nullptr, nullptr};
      if (n == 1) {
        VR_free(idle_hooks);
        idle_hooks = nullptr;
      }
      idle_hooks_modified++;
    } else {
      idle_hooks[i].cookie = cookie;
    }
    return VRIO_S_NOERR;
  }
  if (options & 0x1)
    return VRIO_E_NOT_FOUND;
  auto *grown = static_cast<vr_t_idle_hook_entry *>(
      idle_hooks == nullptr ? VR_malloc((n + 2) * sizeof(vr_t_idle_hook_entry))
                            : VR_realloc(idle_hooks, (n + 2) * sizeof(vr_t_idle_hook_entry)));
  if (grown == nullptr)
    return VRIO_E_OUT_OF_MEMORY;
  grown[n] = {hook, cookie};
  grown[n + 1] = {nullptr, nullptr};
  idle_hooks = grown;
  idle_hooks_modified++;
  return VRIO_S_NOERR;
}

void free_idle_hooks(void)
{
  if (idle_hooks != nullptr) {
    VR_free(idle_hooks);
    idle_hooks = nullptr;
    idle_hooks_modified++;
  }
}

/* ---- Work items and interrupts ---- */

vrio_t_error_code run_work_items(VR_stream *s)
{
  const std::int64_t id = s != nullptr ? s->id : 0;
  const vrio_t_error_code ran = vrio_run_work_items(0);
  if (s != nullptr && find_stream_by_id(s, id) == nullptr)
    return VRIO_E_INTERNAL_ERROR;
  if (vr_test_and_clear_hard_interrupt())
    return VRIO_E_INTERRUPTED;
  return ran < 0 ? VRIO_S_NOERR : ran;
}

void setinterrupt_interrupt_hook(void *, vrio_t_bits options)
{
  if (options & 0x1)
    return;
  if (options & 0x2)
    global_hard_interrupt_flag.store(1);
  if (worker *w = self) {
    w->int_heap_warn = nullptr;
    w->heap_warn_soft = nullptr;
  }
}

int vr_test_and_clear_hard_interrupt(void) { return global_hard_interrupt_flag.exchange(0); }

void vr_os_signal_delivered(unsigned options)
{
  if (options & 0x4) {
    if (worker *w = self) {
      w->int_heap_warn = nullptr;
      w->heap_warn_soft = nullptr;
    }
    return;
  }
  vrio_interrupt((options & 0x2) ? 1 : 2);
}

const char *vr_vrio_error_name(vrio_t_error_code code) { return vrio_error_name(code); }

void vr_vrio_trace_line(const char *function, const char *file, int line, const char *message, long number,
                        const char *string, int level)
{
  vrio_trace_line(function, file, line, message, number, string, level);
}

void vr_vrio_debug_break(const char *file, int line) { vrio_debug_break(file, line); }

int vr_vrio_assert_failure(const char *function, const char *file, int line)
{
  return vrio_assert_failure(function, file, line);
}

/* ---- The tokenizer's source ---- */

namespace {

stream_source current_input_source;

VR_stream *source_stream(stream_source *src)
{
  if (src->s == nullptr)
    return eglobal->input_stream_ptr;
  return find_stream_by_id(src->s, src->id);
}

int source_get(token_source *base)
{
  auto *src = reinterpret_cast<stream_source *>(base);
  VR_stream *s = source_stream(src);
  if (s == nullptr)
    return VRIO_E_INTERNAL_ERROR;
  if (s->pub.input_text.ptr < s->pub.input_text.limit)
    return *s->pub.input_text.ptr++;
  /* A hard interrupt comes back as a read error for the reader to raise. */
  return vr_get_code_helper(s, 0);
}

void source_unget(token_source *base, int code)
{
  auto *src = reinterpret_cast<stream_source *>(base);
  if (VR_stream *s = source_stream(src))
    unget_code(s, code);
}

int source_counts(token_source *base, long *newlines, long *line_length)
{
  auto *src = reinterpret_cast<stream_source *>(base);
  VR_stream *s = source_stream(src);
  if (s == nullptr || !(s->flags & SF_TEXT))
    return 0;
  std::int64_t lines = 0, length = 0;
  if (VR_get_stream_counts(s, nullptr, &lines, &length, 0x1) < 0)
    return 0;
  *newlines = static_cast<long>(lines);
  *line_length = static_cast<long>(length);
  return 1;
}

void source_record_error(token_source *base, int code)
{
  (void)base;
  save_vrio_error(static_cast<vrio_t_error_code>(code), 0, MakeSmall_checked(0));
}

} // namespace

void stream_source_init(stream_source *src, VR_stream *s)
{
  src->base.get = source_get;
  src->base.unget = source_unget;
  src->base.counts = source_counts;
  src->base.record_error = source_record_error;
  src->s = s;
  src->id = s != nullptr ? s->id : 0;
}

void stream_token_source_install(void)
{
  stream_source_init(&current_input_source, nullptr);
  current_token_input = &current_input_source.base;
}

void stream_token_source_remove(void)
{
  if (current_token_input == &current_input_source.base)
    current_token_input = nullptr;
}
