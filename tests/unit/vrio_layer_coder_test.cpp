// The char-coder layer over a memory device: characters cut by the
// device's reads, the push checks, the end of input with and without the
// fallback, encoding with its write buffer, positions and seeks within
// the read-ahead, popping, closing and the ioctl requests.  Seeks that
// reach the device are tested over files (vrio_file_stream_test.cpp).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "vostrel/vrio.h"
#include "vrio_fixture.h"
#include "vrio_layer_coder.h"
#include "vrio_memory_device.h"

namespace {

using codes = std::vector<uint32_t>;

struct VrioTextStream : VrioMemoryStream {
  // The device with a char-coder layer on top, decoding and/or encoding.
  vrio_t_error_code text(int sides, const char *charset, vrio_t_bits coder_options = 0,
                         vrio_t_bits push_options = 0)
  {
    EXPECT_EQ(m.make(&s, sides), VRIO_S_NOERR);
    vrio_t_coder *r = (sides & 1) ? open_coder(charset, VRIO_CODER_OPEN_DECODE | coder_options)
                                  : nullptr;
    vrio_t_coder *w = (sides & 2) ? open_coder(charset, coder_options) : nullptr;
    vrio_t_property args[] = {arg_pointer("read-char-coder vrio_t_coder", r),
                              arg_pointer("write-char-coder vrio_t_coder", w),
                              arg_end()};
    vrio_t_error_code rc = vrio_push_by_name("char-coder", &s, args, push_options);
    if (rc < 0) {
      vrio_char_coder_close(r);
      vrio_char_coder_close(w);
    }
    return rc;
  }
  vrio_t_layer_coder *top() { return reinterpret_cast<vrio_t_layer_coder *>(s); }
  // Every character until an error, which *end receives.
  codes read_all(vrio_t_error_code *end)
  {
    codes got;
    vrio_t_buf *buf = nullptr;
    for (int i = 0; i < 10000; ++i) {
      vrio_t_error_code rc = vrio_read(&s, &buf, VRIO_READ_CHARS);
      if (rc < 0) {
        *end = rc;
        break;
      }
      for (size_t j = 0; j + 4 <= buf->extent; j += 4) {
        uint32_t c;
        std::memcpy(&c, buf->buf + j, 4);
        got.push_back(c);
      }
      buf->extent = 0;
    }
    vrio_buf_free(buf);
    return got;
  }
  // The characters of one read.
  codes read_once()
  {
    codes got;
    vrio_t_buf *buf = nullptr;
    EXPECT_EQ(vrio_read(&s, &buf, VRIO_READ_CHARS), VRIO_S_NOERR);
    for (size_t j = 0; buf != nullptr && j + 4 <= buf->extent; j += 4) {
      uint32_t c;
      std::memcpy(&c, buf->buf + j, 4);
      got.push_back(c);
    }
    vrio_buf_free(buf);
    return got;
  }
  vrio_t_error_code write_codes(const codes &cs, vrio_t_bits options)
  {
    vrio_t_buf b;
    vrio_buf_init_buf(&b);
    b.buf = reinterpret_cast<unsigned char *>(const_cast<uint32_t *>(cs.data()));
    b.extent = cs.size() * 4;
    size_t offset = 0;
    return vrio_write(&s, &b, &offset, options | VRIO_WRITE_CHARS | VRIO_WRITE_ALL);
  }
};

// Characters whose bytes arrive in separate reads of the device, for every
// cut the chunk sizes make.
TEST_F(VrioTextStream, CharactersCutByDeviceReads)
{
  const struct {
    const char *charset;
    std::string bytes;
    vrio_t_bits coder_options;
    codes expected;
  } cases[] = {
      {"UTF-8", "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z", 0, {'a', 0xE9, 0x20AC, 0x1F600, 'z'}},
      {"UTF-16LE", std::string("a\0=\xD8\0\xDEz\0", 8), 0, {'a', 0x1F600, 'z'}},
      {"UTF-32BE", std::string("\0\0\0a\0\x01\xF6\0", 8), 0, {'a', 0x1F600}},
      {"UTF-8", "a\r\nb\r", VRIO_CODER_OPEN_CRLF, {'a', '\n', 'b', '\r'}},
      {"UTF-8", "\xEF\xBB\xBFx", VRIO_CODER_OPEN_BOM, {'x'}},
      {"ISO-8859-15", "a\xA4", 0, {'a', 0x20AC}},
  };
  for (const auto &c : cases) {
    for (size_t chunk = 1; chunk <= 5; ++chunk) {
      m = memory_device{};
      m.input = c.bytes;
      m.chunk = chunk;
      ASSERT_EQ(text(1, c.charset, c.coder_options), VRIO_S_NOERR);
      vrio_t_error_code end = VRIO_S_NOERR;
      EXPECT_EQ(read_all(&end), c.expected) << c.charset << " in chunks of " << chunk;
      EXPECT_EQ(end, VRIO_E_END_OF_FILE) << c.charset << " in chunks of " << chunk;
      EXPECT_EQ(top()->read_pos, static_cast<vrio_t_offset>(c.expected.size() * 4));
      ASSERT_EQ(vrio_close(&s, 0), VRIO_S_NOERR);
      EXPECT_EQ(s, nullptr);
      EXPECT_EQ(m.close_options, std::vector<vrio_t_bits>{VRIO_DEVICE_CLOSE_READ})
          << "the close reached the device";
    }
  }
}

TEST_F(VrioTextStream, PushChecks)
{
  ASSERT_EQ(m.make(&s, 1), VRIO_S_NOERR);
  vrio_t_coder *w = open_coder("UTF-8", 0);
  vrio_t_property writer[] = {arg_pointer("write-char-coder vrio_t_coder", w),
                              arg_end()};
  EXPECT_EQ(vrio_push_by_name("char-coder", &s, writer, 0), VRIO_E_PARAMETER_ERROR)
      << "a write coder on a read-only stack";
  vrio_char_coder_close(w);
  vrio_t_property none[] = {arg_end()};
  EXPECT_EQ(vrio_push_by_name("char-coder", &s, none, 0), VRIO_E_PUSH_ERROR);
  EXPECT_EQ(s->funcs->name, std::string("simple_device")) << "nothing pushed";
  vrio_close(&s, 0);
  m = memory_device{};
  EXPECT_EQ(text(3, "UTF-8", 0, 2), VRIO_E_NOT_SUPPORTED)
      << "re-readable needs a single side";
  vrio_close(&s, 0);
  m = memory_device{};
  ASSERT_EQ(text(1, "UTF-8", 0, 2), VRIO_S_NOERR);
  EXPECT_TRUE(s->flags & VRIO_LAYER_CAN_REREAD);
  EXPECT_EQ(s->flags & ~VRIO_LAYER_CAN_REREAD, VRIO_LAYER_READ_SIDE(4));
  const vrio_t_funcs *kind;
  ASSERT_EQ(vrio_find_layer("char-coder", &kind), VRIO_S_NOERR);
  VRIO empty = nullptr;
  EXPECT_EQ(vrio_open(kind, &empty, none, VRIO_OPEN_READ), VRIO_E_NOT_IMPLEMENTED);
}

// A file whose last byte begins a two-byte sequence.
TEST_F(VrioTextStream, CutCharacterAtTheEnd)
{
  m.input = "ab\xC3";
  ASSERT_EQ(text(1, "UTF-8"), VRIO_S_NOERR);
  vrio_t_error_code end;
  EXPECT_EQ(read_all(&end), (codes{'a', 'b'}));
  EXPECT_EQ(end, VRIO_E_ENCODING_INVALID);
  vrio_close(&s, 0);

  m = memory_device{};
  m.input = "ab\xC3";
  ASSERT_EQ(text(1, "UTF-8"), VRIO_S_NOERR);
  // ioctl options 8 and 0x40: replace ill-formed input (coder options 2, 0x10).
  ASSERT_EQ(vrio_ioctl_encoding_fallback(&s, 2 | 8 | 0x40), VRIO_S_NOERR);
  EXPECT_EQ(read_all(&end), (codes{'a', 'b', 0xFFFD}));
  EXPECT_EQ(end, VRIO_E_END_OF_FILE);
}

TEST_F(VrioTextStream, WritesEncodeIntoTheWriteBuffer)
{
  ASSERT_EQ(text(2, "UTF-8", VRIO_CODER_OPEN_CRLF), VRIO_S_NOERR);
  ASSERT_EQ(write_codes({'a', 0xE9, '\n'}, 0), VRIO_S_NOERR);
  EXPECT_EQ(m.output, "") << "held in the write buffer";
  EXPECT_EQ(top()->write_pos, 12);
  ASSERT_EQ(write_codes({0x1F600}, VRIO_WRITE_FLUSH), VRIO_S_NOERR);
  EXPECT_EQ(m.output, "a\xC3\xA9\r\n\xF0\x9F\x98\x80");
  ASSERT_EQ(write_codes({'z'}, 0), VRIO_S_NOERR);
  ASSERT_EQ(vrio_sync(&s, VRIO_SYNC_WRITE), VRIO_S_NOERR);
  EXPECT_EQ(m.output.back(), 'z');

  // Not whole characters; characters the charset lacks.
  vrio_t_buf b;
  vrio_buf_init_buf(&b);
  uint32_t two[2] = {'x', 'y'};
  b.buf = reinterpret_cast<unsigned char *>(two);
  b.extent = 6;
  size_t offset = 0;
  EXPECT_EQ(vrio_write(&s, &b, &offset, VRIO_WRITE_CHARS), VRIO_E_GRANULARITY_ERROR);
  EXPECT_EQ(write_codes({0xD800}, 0), VRIO_E_ENCODING_UNMAPPABLE);
  ASSERT_EQ(vrio_ioctl_encoding_fallback(&s, 4 | 0x40), VRIO_S_NOERR);
  ASSERT_EQ(write_codes({0xD800}, VRIO_WRITE_FLUSH), VRIO_S_NOERR);
  EXPECT_EQ(m.output.substr(m.output.size() - 3), "\xEF\xBF\xBD");

  // Big writes go out as the write buffer fills.
  size_t before = m.output.size();
  ASSERT_EQ(write_codes(codes(10000, 'q'), 0), VRIO_S_NOERR);
  ASSERT_EQ(vrio_close(&s, 0), VRIO_S_NOERR) << "the close writes what is left";
  EXPECT_EQ(m.output.size() - before, 10000u);
}

TEST_F(VrioTextStream, SeeksWithinTheReadAhead)
{
  m.input = "0123456789";
  ASSERT_EQ(text(1, "ISO-8859-1"), VRIO_S_NOERR);
  EXPECT_EQ(read_once().size(), 10u);
  EXPECT_EQ(top()->read_pos, 40);
  vrio_t_offset at = -1;
  ASSERT_EQ(vrio_seek(&s, 8, &at, nullptr, VRIO_SEEK_ABSOLUTE), VRIO_S_NOERR);
  EXPECT_EQ(at, 8);
  EXPECT_EQ(top()->read_buf_consumed, 2u) << "the bytes are still held";
  EXPECT_EQ(read_once(), (codes{'2', '3', '4', '5', '6', '7', '8', '9'}));
  EXPECT_EQ(vrio_seek(&s, 6, &at, nullptr, VRIO_SEEK_ABSOLUTE), VRIO_E_GRANULARITY_ERROR);
  EXPECT_EQ(vrio_seek(&s, -4, &at, nullptr, VRIO_SEEK_RELATIVE), VRIO_S_NOERR);
  EXPECT_EQ(at, 36);
  EXPECT_EQ(read_once(), (codes{'9'}));
  EXPECT_EQ(vrio_seek(&s, -100, &at, nullptr, VRIO_SEEK_RELATIVE), VRIO_E_PARAMETER_ERROR);
  EXPECT_EQ(vrio_seek(&s, 0, &at, nullptr, VRIO_SEEK_FROM_END), VRIO_E_NOT_SUPPORTED);
  EXPECT_EQ(m.reads, 1) << "the device was read once and never asked to seek";
  vrio_close(&s, 0);

  m = memory_device{};
  m.input = "abc";
  ASSERT_EQ(text(1, "UTF-8"), VRIO_S_NOERR);
  read_once();
  EXPECT_EQ(vrio_seek(&s, 0, &at, nullptr, VRIO_SEEK_ABSOLUTE), VRIO_E_NOT_SUPPORTED)
      << "UTF-8 cannot translate offsets";
}

TEST_F(VrioTextStream, EncodingNamesAndPop)
{
  ASSERT_EQ(text(3, "utf8"), VRIO_S_NOERR);
  const char *name = nullptr;
  ASSERT_EQ(vrio_ioctl_get_encoding_name(&s, &name, 2), VRIO_S_NOERR);
  EXPECT_STREQ(name, "UTF-8");
  EXPECT_EQ(vrio_ioctl_get_encoding_name(&s, &name, 2 | 4), VRIO_E_PARAMETER_ERROR);
  vrio_t_coder_funcs *utf8;
  ASSERT_EQ(vrio_char_coder_find(&utf8, "UTF-8", nullptr, 0), VRIO_S_NOERR);
  EXPECT_EQ(utf8->refcount, 4u) << "registry, two coders, us";
  ASSERT_EQ(write_codes({'x'}, 0), VRIO_S_NOERR);
  ASSERT_EQ(vrio_pop(nullptr, &s, 0), VRIO_S_NOERR);
  EXPECT_EQ(m.output, "x") << "popping wrote the pending output";
  EXPECT_EQ(utf8->refcount, 2u) << "both coders went with the layer";
  vrio_coder_funcs_release(utf8);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->funcs->name, std::string("simple_device"));
  EXPECT_EQ(vrio_ioctl_get_encoding_name(&s, &name, 4), VRIO_E_NOT_IMPLEMENTED)
      << "the device's default answer ends the walk";
}

TEST_F(VrioTextStream, NonBlockingReadsPassDown)
{
  m.input = "abc";
  m.would_block = true;
  ASSERT_EQ(text(1, "UTF-8"), VRIO_S_NOERR);
  vrio_t_buf *buf = nullptr;
  EXPECT_EQ(vrio_read(&s, &buf, VRIO_READ_CHARS | VRIO_READ_NONBLOCKING), VRIO_E_WOULD_BLOCK);
  EXPECT_EQ(m.read_options.back(), VRIO_DEVICE_UNIT_BYTES | VRIO_DEVICE_NONBLOCKING);
  m.would_block = false;
  vrio_t_error_code end;
  EXPECT_EQ(read_all(&end), (codes{'a', 'b', 'c'})) << "nothing was lost";
}

} // namespace
