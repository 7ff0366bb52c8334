/* stream_buffers.cpp: keeping a stream's buffers, counters and position
 * consistent with the inline windows that the fast paths move.
 *
 * Extents are recomputed from the windows before a buffer reaches the I/O
 * library, and windows from the buffers afterwards.  Counting is lazy and
 * batched: the items at a buffer's start up to buf_items_counted are
 * counted already, and a count covers only what was consumed or produced
 * since; every operation that reports or depends on the counters counts
 * first.  A stream open both ways counts its input side only.  The
 * registry's root doubles as the terminal's aggregate: interactive text
 * streams add what they count to it, so its line position tells whether
 * the terminal's cursor is at the start of a line.
 *
 * One item can be pushed back: the previous line position and newline
 * count are kept for it, and the input slow path keeps the last consumed
 * item at the start of a refilled buffer.
 * Engine thread only.
 */
#include "datadefs.h"
#include "streams.h"

int suppress_autoflush = 0;
int autoflush_on_prompt = 0;
int autoflush_flush_other_streams = 1;
VR_stream *last_flushed_autoflush_stream = nullptr;

namespace {

inline bool is_text(const VR_stream *s) { return (s->flags & SF_TEXT) != 0; }
inline std::size_t item_size(const VR_stream *s) { return is_text(s) ? 4 : 1; }

} // namespace

void sync_output_buf_extent_binary(VR_stream *s)
{
  if (s->output_buf != nullptr && s->pub.output_binary.ptr != nullptr)
    s->output_buf->extent = static_cast<std::size_t>(s->pub.output_binary.ptr - s->output_buf->buf);
}

void sync_output_buf_extent_text(VR_stream *s)
{
  if (s->output_buf != nullptr && s->pub.output_text.ptr != nullptr)
    s->output_buf->extent = static_cast<std::size_t>(
        reinterpret_cast<unsigned char *>(s->pub.output_text.ptr) - s->output_buf->buf);
}

void sync_output_buf_extent(VR_stream *s)
{
  if (is_text(s))
    sync_output_buf_extent_text(s);
  else
    sync_output_buf_extent_binary(s);
}

void sync_output_pub(VR_stream *s)
{
  vrio_t_buf *b = s->output_buf;
  if (is_text(s)) {
    if (b == nullptr)
      s->pub.output_text = {nullptr, nullptr};
    else
      s->pub.output_text = {reinterpret_cast<std::int32_t *>(b->buf + b->extent),
                            reinterpret_cast<std::int32_t *>(b->buf + (b->writable_size & ~3u))};
  } else {
    if (b == nullptr)
      s->pub.output_binary = {nullptr, nullptr};
    else
      s->pub.output_binary = {b->buf + b->extent, b->buf + b->writable_size};
  }
}

void sync_input_pub(VR_stream *s)
{
  vrio_t_buf *b = s->input_buf;
  if (is_text(s)) {
    if (b == nullptr)
      s->pub.input_text = {nullptr, nullptr};
    else
      s->pub.input_text = {reinterpret_cast<std::int32_t *>(b->buf),
                           reinterpret_cast<std::int32_t *>(b->buf + b->extent)};
  } else {
    if (b == nullptr)
      s->pub.input_binary = {nullptr, nullptr};
    else
      s->pub.input_binary = {b->buf, b->buf + b->extent};
  }
}

void count_text_items(VR_stream *s, const std::int32_t *base, const std::int32_t *ptr)
{
  if (base == nullptr || ptr == nullptr)
    return;
  const std::int64_t total = ptr - base;
  const std::int64_t n = total - s->buf_items_counted;
  if (n <= 0)
    return;
  const std::int32_t *p = base + s->buf_items_counted;
  std::int64_t d = 0, c = 0;
  for (std::int64_t i = 0; i < n - 1; i++) {
    if (p[i] == 10) {
      d++;
      c = 0;
    } else {
      c++;
    }
  }
  s->previous_line_length = d > 0 ? c : s->line_length + c;
  s->previous_newline_count = s->newline_count + d;
  const std::int64_t old_newlines = s->newline_count;
  if (p[n - 1] == 10) {
    s->line_length = 0;
    s->newline_count = old_newlines + d + 1;
  } else {
    s->line_length = d > 0 ? c + 1 : s->line_length + c + 1;
    s->newline_count = old_newlines + d;
  }
  if (s->flags & SF_INTERACTIVE) {
    VR_stream *root = eglobal->root_stream_ptr;
    if (root != nullptr) {
      const std::int64_t new_lines = s->newline_count - old_newlines;
      root->newline_count += new_lines;
      if (new_lines > 0) {
        /* Items after the last line feed of this batch. */
        std::int64_t tail = 0;
        for (std::int64_t i = n - 1; i >= 0 && p[i] != 10; i--)
          tail++;
        root->line_length = tail;
      } else {
        root->line_length += n;
      }
      root->item_offset += n;
    }
  }
  s->item_offset += n;
  s->buf_items_counted += static_cast<std::uint32_t>(n);
}

void count_binary_items(VR_stream *s, const unsigned char *base, const unsigned char *ptr)
{
  if (base == nullptr || ptr == nullptr)
    return;
  const std::int64_t n = (ptr - base) - static_cast<std::int64_t>(s->buf_items_counted);
  if (n <= 0)
    return;
  s->item_offset += n;
  s->buf_items_counted += static_cast<std::uint32_t>(n);
}

namespace {

void count_one(VR_stream *s)
{
  if (s->flags & SF_INPUT) {
    if (s->input_buf == nullptr)
      return;
    if (is_text(s))
      count_text_items(s, reinterpret_cast<std::int32_t *>(s->input_buf->buf), s->pub.input_text.ptr);
    else
      count_binary_items(s, s->input_buf->buf, s->pub.input_binary.ptr);
  } else if (s->flags & SF_OUTPUT) {
    if (s->output_buf == nullptr)
      return;
    if (is_text(s))
      count_text_items(s, reinterpret_cast<std::int32_t *>(s->output_buf->buf), s->pub.output_text.ptr);
    else
      count_binary_items(s, s->output_buf->buf, s->pub.output_binary.ptr);
  }
}

/* Every interactive text input stream but `except`. */
void count_interactive_inputs(VR_stream *except)
{
  VR_stream *root = eglobal->root_stream_ptr;
  if (root == nullptr)
    return;
  for (VR_stream *t = root->forward; t != root; t = t->forward)
    if (t != except && (t->flags & (SF_INTERACTIVE | SF_TEXT | SF_INPUT)) ==
                           (SF_INTERACTIVE | SF_TEXT | SF_INPUT))
      count_one(t);
}

} // namespace

int sync_stream_counters(VR_stream *s, unsigned options)
{
  if ((options & 0x1) && (s->flags & SF_INTERACTIVE))
    count_interactive_inputs(s);
  count_one(s);
  return 0;
}

vrio_t_error_code VR_get_stream_counts(VR_stream *s, std::int64_t *item_offset,
                                       std::int64_t *newline_count, std::int64_t *line_length,
                                       unsigned options)
{
  if (options & 0x2) {
    if (!(s->flags & SF_OUTPUT))
      return VRIO_E_NOT_WRITE;
    if (s->flags & SF_INPUT)
      return VRIO_E_NOT_SUPPORTED;
  }
  if ((options & 0x1) && !(s->flags & SF_INPUT))
    return VRIO_E_NOT_READ;
  sync_stream_counters(s, 0x1);
  const VR_stream *from = s;
  if (options == 0 && (s->flags & SF_INTERACTIVE) && eglobal->root_stream_ptr != nullptr) {
    count_interactive_inputs(nullptr);
    from = eglobal->root_stream_ptr;
  }
  if (item_offset != nullptr)
    *item_offset = from == s && (s->flags & (SF_INPUT | SF_AT_EOF)) == (SF_INPUT | SF_AT_EOF)
                       ? s->eof_offset
                       : from->item_offset;
  const bool text = is_text(s);
  if (newline_count != nullptr)
    *newline_count = text ? from->newline_count : 0;
  if (line_length != nullptr)
    *line_length = text ? from->line_length : 0;
  return VRIO_S_NOERR;
}

vrio_t_error_code flush_output_buffer(VR_stream *s, unsigned options)
{
  vrio_t_buf *b = s->output_buf;
  if (b == nullptr)
    return VRIO_S_NOERR;
  sync_output_buf_extent(s);
  if (b->extent == 0)
    return VRIO_S_NOERR;
  const bool output_only = !(s->flags & SF_INPUT);
  if (output_only)
    sync_stream_counters(s, 0x1);
  std::size_t written = b->extent;
  if (s->vrio != nullptr) {
    vrio_t_bits wopts = VRIO_WRITE_ALL | (is_text(s) ? VRIO_WRITE_CHARS : VRIO_WRITE_BYTES);
    if ((options & 0x1) || (s->flags & SF_NONBLOCKING_OUT))
      wopts |= VRIO_WRITE_NONBLOCKING;
    std::size_t offset = 0;
    vrio_t_error_code rc = vrio_write(&s->vrio, b, &offset, wopts);
    if (rc < 0 && offset == 0) {
      sync_output_pub(s);
      return rc;
    }
    written = offset - offset % item_size(s);
    vrio_buf_contract(b, static_cast<std::ptrdiff_t>(written));
  } else {
    b->extent = 0;
  }
  if (output_only) {
    const std::uint32_t items = static_cast<std::uint32_t>(written / item_size(s));
    s->buf_items_counted = s->buf_items_counted > items ? s->buf_items_counted - items : 0;
  }
  sync_output_pub(s);
  return VRIO_S_NOERR;
}

vrio_t_error_code vr_flush_output(VR_stream *s, unsigned options)
{
  if (options & 0x2) {
    if (!(s->flags & SF_OUTPUT))
      return VRIO_S_NOERR;
    if (autoflush_flush_other_streams && s != last_flushed_autoflush_stream) {
      last_flushed_autoflush_stream = s;
      vrio_t_error_code rc = vr_flush_autoflush_streams(s, options & 0x1);
      if (rc < 0)
        return rc;
    }
  }
  if (s->output_buf == nullptr)
    return VRIO_S_NOERR;
  for (;;) {
    sync_output_buf_extent(s);
    if (s->output_buf->extent == 0)
      break;
    const std::size_t before = s->output_buf->extent;
    vrio_t_error_code rc = flush_output_buffer(s, options & 0x1);
    if (rc < 0)
      return rc;
    if (s->output_buf->extent >= before)
      return VRIO_E_WRITE_ERROR; /* no progress: never loop for ever */
  }
  if (s->vrio != nullptr) {
    vrio_t_bits sopts = VRIO_SYNC_WRITE | VRIO_SYNC_BELOW;
    if (options & 0x2)
      sopts |= 0x40;
    if ((options & 0x1) || (s->flags & SF_NONBLOCKING_OUT))
      sopts |= VRIO_SYNC_NONBLOCKING;
    vrio_t_error_code rc = vrio_sync(&s->vrio, sopts);
    if (rc < 0)
      return rc;
  }
  return VRIO_S_NOERR;
}

vrio_t_error_code VR_flush_output(VR_stream *s, unsigned options)
{
  if (!(s->flags & SF_OUTPUT))
    return VRIO_E_NOT_WRITE;
  if (s->flags & SF_NONBLOCKING_OUT)
    options |= 0x1;
  vrio_t_error_code rc = vr_flush_output(s, options);
  if (rc == VRIO_E_WOULD_BLOCK && (options & 0x2))
    return VRIO_S_NOERR;
  return rc > 0 ? VRIO_S_NOERR : rc;
}

int vr_ttyflush_stream(void)
{
  VR_stream *s = eglobal->stream_user_error;
  if (s == nullptr)
    return 0;
  vrio_t_error_code rc = vr_flush_output(s, 0);
  return rc > 0 ? 0 : rc;
}

vrio_t_error_code vr_flush_autoflush_streams(VR_stream *except, unsigned options)
{
  VR_stream *root = eglobal->root_stream_ptr;
  if (root == nullptr)
    return VRIO_S_NOERR;
  unsigned o = options & 0x1;
  bool interrupted = false;
  for (VR_stream *t = root->forward; t != root; t = t->forward) {
    if (t == except || (t->flags & (SF_OUTPUT | SF_TEXT | SF_LINE_FLUSHED)) !=
                           (SF_OUTPUT | SF_TEXT | SF_LINE_FLUSHED))
      continue;
    if (vr_flush_output(t, o) == VRIO_E_INTERRUPTED) {
      interrupted = true;
      o |= 0x1;
    }
  }
  return interrupted ? VRIO_E_INTERRUPTED : VRIO_S_NOERR;
}

vrio_t_error_code set_stream_position(VR_stream *s, std::int64_t item_offset,
                                      std::int64_t newline_count, std::int64_t line_length,
                                      unsigned options)
{
  vrio_t_bits origin = VRIO_SEEK_ABSOLUTE;
  if (options & 0x1) {
    newline_count = 0;
    line_length = 0;
    if (options & 0x8)
      origin = VRIO_SEEK_FROM_END;
  }
  if (s->output_buf != nullptr) {
    for (;;) {
      sync_output_buf_extent(s);
      if (s->output_buf->extent == 0)
        break;
      const std::size_t before = s->output_buf->extent;
      vrio_t_error_code rc = flush_output_buffer(s, 0);
      if (rc < 0)
        return rc;
      if (s->output_buf->extent >= before)
        return VRIO_E_WRITE_ERROR;
    }
  }
  sync_stream_counters(s, 0);
  if ((options & 0x1) && (options & 0x4)) {
    if (__builtin_add_overflow(item_offset, s->item_offset, &item_offset))
      return VRIO_E_PARAMETER_ERROR;
  }
  std::int64_t new_offset;
  if (s->vrio != nullptr) {
    const std::int64_t size = static_cast<std::int64_t>(item_size(s));
    std::int64_t bytes;
    if (__builtin_mul_overflow(item_offset, size, &bytes))
      return VRIO_E_PARAMETER_ERROR;
    /* The layers keep a read and a write position: seek the side the
       stream uses. */
    const vrio_t_bits side = (s->flags & SF_INPUT) ? VRIO_SEEK_READ : VRIO_SEEK_WRITE;
    vrio_t_offset reached = 0;
    vrio_t_error_code rc = vrio_seek(&s->vrio, bytes, &reached, nullptr, origin | side);
    if (rc < 0)
      return rc;
    new_offset = reached / size;
  } else {
    if (origin != VRIO_SEEK_ABSOLUTE)
      return VRIO_E_SEEK_ERROR;
    new_offset = item_offset;
  }
  if (s->input_buf != nullptr)
    s->input_buf->extent = 0;
  s->item_offset = new_offset;
  s->unget_offset = new_offset;
  s->newline_count = newline_count;
  s->line_length = line_length;
  s->buf_items_counted = 0;
  s->previous_line_length = -1;
  s->previous_newline_count = -1;
  if (s->flags & SF_OUTPUT)
    sync_output_pub(s);
  if (s->flags & SF_INPUT)
    sync_input_pub(s);
  s->flags &= ~(SF_AT_EOF | SF_PAST_EOF);
  if (new_offset == s->eof_offset) {
    s->flags |= SF_AT_EOF;
    s->unget_offset = 0;
  }
  resync_stream_mode(s);
  return VRIO_S_NOERR;
}

vrio_t_error_code unget_eof(VR_stream *s)
{
  if (!(s->flags & SF_AT_EOF))
    return VRIO_E_PARAMETER_ERROR;
  if (s->flags & SF_PAST_EOF) {
    s->flags &= ~SF_PAST_EOF;
  } else {
    sync_stream_counters(s, is_text(s) ? 0x1 : 0);
    s->flags &= ~SF_AT_EOF;
    s->unget_offset = s->item_offset;
    s->previous_line_length = -1;
    s->previous_newline_count = -1;
  }
  resync_stream_mode(s);
  return VRIO_S_NOERR;
}

namespace {

vrio_t_error_code unget_item(VR_stream *s, int item, bool codes)
{
  if (!(s->flags & SF_INPUT))
    return VRIO_E_PARAMETER_ERROR;
  if (item == -1)
    return unget_eof(s);
  if (s->flags & SF_AT_EOF)
    return VRIO_E_PARAMETER_ERROR;
  sync_stream_counters(s, codes ? 0x1 : 0);
  if (s->item_offset == s->unget_offset || s->input_buf == nullptr)
    return VRIO_E_PARAMETER_ERROR;
  if (is_text(s)) {
    std::int32_t *&ptr = s->pub.input_text.ptr;
    if (ptr == nullptr || ptr <= reinterpret_cast<std::int32_t *>(s->input_buf->buf) || ptr[-1] != item)
      return VRIO_E_PARAMETER_ERROR;
    ptr--;
  } else {
    unsigned char *&ptr = s->pub.input_binary.ptr;
    if (ptr == nullptr || ptr <= s->input_buf->buf || ptr[-1] != item)
      return VRIO_E_PARAMETER_ERROR;
    ptr--;
  }
  s->item_offset--;
  s->buf_items_counted--;
  if (codes) {
    s->line_length = s->previous_line_length;
    s->newline_count = s->previous_newline_count;
  }
  s->unget_offset = s->item_offset;
  s->previous_line_length = -1;
  s->previous_newline_count = -1;
  return VRIO_S_NOERR;
}

} // namespace

vrio_t_error_code unget_code(VR_stream *s, int item) { return unget_item(s, item, true); }
vrio_t_error_code unget_byte(VR_stream *s, int item) { return unget_item(s, item, false); }
vrio_t_error_code VR_unget_code(VR_stream *s, int item) { return unget_code(s, item); }
vrio_t_error_code VR_unget_byte(VR_stream *s, int item) { return unget_byte(s, item); }
