// The seek layer: pushed over a device it serves seeks back into all it
// has read; opened, it is a stream in memory.  Closing and popping a
// pushed layer succeed (its sync has nothing to do).
#include <gtest/gtest.h>

#include <string>

#include "vostrel/vrio.h"
#include "vrio_fixture.h"
#include "vrio_memory_device.h"

namespace {

struct VrioSeekLayer : VrioMemoryStream {
  vrio_t_error_code push_seek()
  {
    vrio_t_property none[] = {arg_end()};
    return vrio_push_by_name("seek", &s, none, 0);
  }
  // Up to `n` bytes, in as many reads as it takes.
  std::string read(size_t n, vrio_t_error_code *rc = nullptr)
  {
    std::string got;
    vrio_t_buf *buf = vrio_buf_alloc(nullptr, 0, 0);
    while (got.size() < n) {
      buf->extent = 0;
      vrio_t_error_code r = vrio_read(&s, &buf, VRIO_READ_BYTES);
      if (rc != nullptr)
        *rc = r;
      if (r < 0)
        break;
      got.append(reinterpret_cast<char *>(buf->buf), buf->extent);
    }
    vrio_buf_free(buf);
    return got;
  }
};

TEST_F(VrioSeekLayer, SeeksBackIntoWhatWasRead)
{
  for (int i = 0; i < 200; ++i)
    m.input += static_cast<char>('0' + i % 10);
  m.chunk = 50;
  ASSERT_EQ(m.make(&s, 1), VRIO_S_NOERR);
  ASSERT_EQ(push_seek(), VRIO_S_NOERR);
  std::string first = read(100);
  ASSERT_EQ(first, m.input.substr(0, 100));
  int device_reads = m.reads;
  vrio_t_offset at = -1;
  ASSERT_EQ(vrio_seek(&s, 10, &at, nullptr, VRIO_SEEK_ABSOLUTE | VRIO_SEEK_READ), VRIO_S_NOERR);
  EXPECT_EQ(at, 10);
  EXPECT_EQ(read(90), m.input.substr(10, 90));
  EXPECT_EQ(m.reads, device_reads) << "served from the layer's buffer";
  EXPECT_EQ(read(10), m.input.substr(100, 50)) << "the device's next chunk";
  EXPECT_GT(m.reads, device_reads);
  EXPECT_EQ(vrio_seek(&s, -5, &at, nullptr, VRIO_SEEK_RELATIVE), VRIO_S_NOERR);
  EXPECT_EQ(at, 145) << "relative to what was read: the chunk went up to 150";
  EXPECT_EQ(vrio_seek(&s, 151, &at, nullptr, VRIO_SEEK_ABSOLUTE), VRIO_E_PARAMETER_ERROR)
      << "beyond what was read";
  EXPECT_EQ(vrio_seek(&s, -1, &at, nullptr, VRIO_SEEK_ABSOLUTE), VRIO_E_PARAMETER_ERROR);
  EXPECT_EQ(vrio_seek(&s, 0, &at, nullptr, 0), VRIO_E_PARAMETER_ERROR) << "no kind of seek";
  EXPECT_EQ(vrio_seek(&s, 0, &at, nullptr, VRIO_SEEK_FROM_END), VRIO_E_PARAMETER_ERROR);
  vrio_t_device_type type;
  EXPECT_EQ(vrio_ioctl_device_type(&s, &type, 0), VRIO_E_NOT_IMPLEMENTED)
      << "requests go down to the device";

  // Closing: the layer's sync has nothing to do, so the close succeeds.
  EXPECT_EQ(vrio_sync(&s, VRIO_SYNC_READ | VRIO_SYNC_WRITE | VRIO_SYNC_BELOW), VRIO_S_NOERR);
  ASSERT_EQ(vrio_close(&s, 0), VRIO_S_NOERR);
  EXPECT_EQ(s, nullptr);
  EXPECT_EQ(m.close_options.size(), 1u) << "the device below was closed";
}

TEST_F(VrioSeekLayer, PopReturnsToTheDevice)
{
  m.input = "abc";
  ASSERT_EQ(m.make(&s, 1), VRIO_S_NOERR);
  ASSERT_EQ(push_seek(), VRIO_S_NOERR);
  EXPECT_EQ(read(1), "abc");
  ASSERT_EQ(vrio_pop(nullptr, &s, 0), VRIO_S_NOERR);
  EXPECT_EQ(s->funcs->name, std::string("simple_device"));
  vrio_close(&s, VRIO_CLOSE_READ);
  EXPECT_EQ(s, nullptr);
}

TEST_F(VrioSeekLayer, CharacterStacksSeekWholeCharacters)
{
  ASSERT_EQ(m.make(&s, 1, VRIO_DEVICE_CHARS), VRIO_S_NOERR);
  m.input = std::string("a\0\0\0b\0\0\0", 8);
  ASSERT_EQ(push_seek(), VRIO_S_NOERR);
  EXPECT_EQ((s->flags >> VRIO_LAYER_READ_UNIT_SHIFT) & VRIO_LAYER_UNIT_MASK, 4u);
  vrio_t_buf *buf = nullptr;
  ASSERT_EQ(vrio_read(&s, &buf, VRIO_READ_CHARS), VRIO_S_NOERR);
  EXPECT_EQ(buf->extent, 8u);
  vrio_buf_free(buf);
  vrio_t_offset at;
  EXPECT_EQ(vrio_seek(&s, 6, &at, nullptr, VRIO_SEEK_ABSOLUTE), VRIO_E_PARAMETER_ERROR);
  EXPECT_EQ(vrio_seek(&s, 4, &at, nullptr, VRIO_SEEK_ABSOLUTE), VRIO_S_NOERR);
}

TEST_F(VrioSeekLayer, PushNeedsAReadSide)
{
  ASSERT_EQ(m.make(&s, 3), VRIO_S_NOERR);
  ASSERT_EQ(vrio_close(&s, VRIO_CLOSE_READ), VRIO_S_NOERR);
  EXPECT_EQ(push_seek(), VRIO_E_NOT_OPEN_READ);
  VRIO none = nullptr;
  vrio_t_property args[] = {arg_end()};
  EXPECT_EQ(vrio_push_by_name("seek", &none, args, 0), VRIO_E_NOT_OPEN_READ);
}

TEST_F(VrioSeekLayer, MemoryStreams)
{
  vrio_t_property none[] = {arg_end()};
  ASSERT_EQ(vrio_open_by_name("seek", &s, none, VRIO_OPEN_READ | VRIO_OPEN_WRITE), VRIO_S_NOERR);
  vrio_t_buf text;
  vrio_buf_init_buf(&text);
  text.buf = reinterpret_cast<unsigned char *>(const_cast<char *>("hello"));
  text.extent = 5;
  size_t offset = 0;
  EXPECT_EQ(vrio_write(&s, &text, &offset, 0), VRIO_E_WRITE_ERROR) << "without 0x200000";
  ASSERT_EQ(vrio_write(&s, &text, &offset, VRIO_OPT_ALL_BITS | VRIO_SEEK_LAYER_MEMORY),
            VRIO_S_NOERR);
  EXPECT_EQ(offset, 5u);
  offset = 3;
  ASSERT_EQ(vrio_write(&s, &text, &offset, VRIO_OPT_ALL_BITS | VRIO_SEEK_LAYER_MEMORY),
            VRIO_S_NOERR);
  offset = 6;
  EXPECT_EQ(vrio_write(&s, &text, &offset, VRIO_OPT_ALL_BITS | VRIO_SEEK_LAYER_MEMORY),
            VRIO_E_PARAMETER_ERROR);
  vrio_t_error_code rc;
  EXPECT_EQ(read(100, &rc), "hellolo");
  EXPECT_EQ(rc, VRIO_E_END_OF_FILE);
  vrio_t_offset at;
  EXPECT_EQ(vrio_seek(&s, 1, &at, nullptr, VRIO_SEEK_ABSOLUTE), VRIO_E_SEEK_ERROR)
      << "the write position cannot move";
  ASSERT_EQ(vrio_seek(&s, 1, &at, nullptr, VRIO_SEEK_ABSOLUTE | VRIO_SEEK_READ), VRIO_S_NOERR);
  EXPECT_EQ(read(100), "ellolo");
  ASSERT_EQ(vrio_close(&s, 0), VRIO_S_NOERR);
  EXPECT_EQ(s, nullptr);

  ASSERT_EQ(vrio_open_by_name("seek", &s, none, VRIO_OPEN_READ), VRIO_S_NOERR);
  read(1, &rc);
  EXPECT_EQ(rc, VRIO_E_END_OF_FILE) << "an empty memory stream";
  EXPECT_EQ(vrio_write(&s, &text, &offset, VRIO_OPT_ALL_BITS | VRIO_SEEK_LAYER_MEMORY),
            VRIO_E_NOT_OPEN_WRITE);
}

} // namespace
