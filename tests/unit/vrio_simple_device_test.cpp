// The simple-device layer: creation checks, the unit and blocking options
// the callbacks see, writes of whole units, the close protocol side by
// side, the user-data look-up by class, and the null streams that empty
// standard stream slots give.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "vostrel/vrio.h"
#include "vrio_fixture.h"
#include "vrio_memory_device.h"

namespace {

struct VrioSimpleDevice : VrioMemoryStream {
  std::string read_once(vrio_t_bits options, vrio_t_error_code *rc)
  {
    vrio_t_buf *buf = nullptr;
    *rc = vrio_read(&s, &buf, options);
    std::string got = buf != nullptr ? std::string(reinterpret_cast<char *>(buf->buf), buf->extent)
                                     : std::string();
    vrio_buf_free(buf);
    return got;
  }
};

vrio_t_error_code no_read(void *, void *, size_t *, vrio_t_bits)
{
  return VRIO_E_END_OF_FILE;
}

TEST_F(VrioSimpleDevice, CreationChecks)
{
  const struct {
    const char *why;
    bool read, write, close;
    vrio_t_bits options;
    vrio_t_error_code rc;
  } cases[] = {
      {"neither unit", true, true, true, 0, VRIO_E_PARAMETER_ERROR},
      {"no close callback", true, true, false, VRIO_DEVICE_BYTES, VRIO_E_PARAMETER_ERROR},
      {"no side", false, false, true, VRIO_DEVICE_BYTES, VRIO_E_PARAMETER_ERROR},
      {"both units: bytes", true, false, true, VRIO_DEVICE_BYTES | VRIO_DEVICE_CHARS, VRIO_S_NOERR},
  };
  for (const auto &c : cases) {
    VRIO t = nullptr;
    vrio_t_error_code rc = vrio_create_device(
        &t, &m, &m, c.read ? memory_device::read : nullptr,
        c.write ? memory_device::write : nullptr, nullptr, nullptr,
        c.close ? memory_device::close : nullptr, nullptr, nullptr, c.options);
    EXPECT_EQ(rc, c.rc) << c.why;
    if (rc < 0) {
      EXPECT_EQ(t, nullptr) << c.why << ": nothing pushed";
      continue;
    }
    EXPECT_EQ(t->flags, VRIO_LAYER_READ_SIDE(1)) << c.why;
    vrio_close(&t, 0);
  }
}

TEST_F(VrioSimpleDevice, CallbacksSeeTheUnitAndBlockingOptions)
{
  m.input = "abcdefgh";
  m.chunk = 3;
  ASSERT_EQ(m.make(&s, 3), VRIO_S_NOERR);
  vrio_t_error_code rc;
  EXPECT_EQ(read_once(VRIO_READ_BYTES, &rc), "abc");
  EXPECT_EQ(read_once(VRIO_READ_BYTES | VRIO_READ_NONBLOCKING, &rc), "def");
  EXPECT_EQ(m.read_options,
            (std::vector<vrio_t_bits>{VRIO_DEVICE_UNIT_BYTES,
                                      VRIO_DEVICE_UNIT_BYTES | VRIO_DEVICE_NONBLOCKING}));
  m.would_block = true;
  read_once(VRIO_READ_NONBLOCKING, &rc);
  EXPECT_EQ(rc, VRIO_E_WOULD_BLOCK) << "the callback's failure unchanged";
  m.would_block = false;
  read_once(0, &rc);
  read_once(0, &rc);
  EXPECT_EQ(rc, VRIO_E_END_OF_FILE);

  vrio_t_buf out;
  vrio_buf_init_buf(&out);
  out.buf = reinterpret_cast<unsigned char *>(const_cast<char *>("xyz"));
  out.extent = 3;
  size_t offset = 0;
  ASSERT_EQ(vrio_write(&s, &out, &offset, VRIO_WRITE_BYTES), VRIO_S_NOERR);
  offset = 0;
  ASSERT_EQ(vrio_write(&s, &out, &offset, VRIO_WRITE_BYTES | VRIO_WRITE_NONBLOCKING), VRIO_S_NOERR);
  EXPECT_EQ(m.write_options,
            (std::vector<vrio_t_bits>{VRIO_DEVICE_UNIT_BYTES,
                                      VRIO_DEVICE_UNIT_BYTES | VRIO_DEVICE_NONBLOCKING}))
      << "only the do-not-block option becomes the device's";
  m.write_result = VRIO_E_IO_ERROR;
  offset = 0;
  EXPECT_EQ(vrio_write(&s, &out, &offset, 0), VRIO_E_IO_ERROR);
  EXPECT_EQ(offset, 0u) << "a failed write consumes nothing";
  EXPECT_EQ(m.output, "xyzxyz");
}

TEST_F(VrioSimpleDevice, CharacterDevicesWriteWholeUnits)
{
  ASSERT_EQ(m.make(&s, 2, VRIO_DEVICE_CHARS), VRIO_S_NOERR);
  EXPECT_EQ(s->flags, VRIO_LAYER_WRITE_SIDE(4));
  const char ten[] = "0123456789";
  vrio_t_buf out;
  vrio_buf_init_buf(&out);
  out.buf = reinterpret_cast<unsigned char *>(const_cast<char *>(ten));
  out.extent = 10;
  size_t offset = 0;
  ASSERT_EQ(vrio_write(&s, &out, &offset, 0), VRIO_S_NOERR);
  EXPECT_EQ(offset, 8u);
  EXPECT_EQ(m.write_options, std::vector<vrio_t_bits>{VRIO_DEVICE_UNIT_CHARS});
  out.extent = 3;
  offset = 0;
  ASSERT_EQ(vrio_write(&s, &out, &offset, 0), VRIO_S_NOERR);
  EXPECT_EQ(offset, 0u) << "less than a unit: nothing written";
  EXPECT_EQ(m.writes, 1);
}

TEST_F(VrioSimpleDevice, SidesCloseOneAtATime)
{
  ASSERT_EQ(m.make(&s, 3), VRIO_S_NOERR);
  ASSERT_EQ(vrio_close(&s, VRIO_CLOSE_WRITE), VRIO_S_NOERR);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(m.close_options, std::vector<vrio_t_bits>{VRIO_DEVICE_CLOSE_WRITE});
  EXPECT_TRUE(s->flags & VRIO_LAYER_OPEN_READ);
  EXPECT_FALSE(s->flags & VRIO_LAYER_OPEN_WRITE);
  ASSERT_EQ(vrio_close(&s, VRIO_CLOSE_READ | VRIO_CLOSE_ABORTIVE), VRIO_S_NOERR);
  EXPECT_EQ(s, nullptr) << "no side left: the layer is gone";
  EXPECT_EQ(m.close_options,
            (std::vector<vrio_t_bits>{VRIO_DEVICE_CLOSE_WRITE,
                                      VRIO_DEVICE_CLOSE_READ | VRIO_DEVICE_CLOSE_ABORTIVE}));

  // A callback that frees its data is not called again.
  m.close_options.clear();
  m.free_on_close = true;
  ASSERT_EQ(m.make(&s, 3), VRIO_S_NOERR);
  ASSERT_EQ(vrio_close(&s, VRIO_CLOSE_WRITE), VRIO_S_NOERR);
  ASSERT_EQ(vrio_close(&s, VRIO_CLOSE_READ), VRIO_S_NOERR);
  EXPECT_EQ(m.close_options, std::vector<vrio_t_bits>{VRIO_DEVICE_CLOSE_WRITE});
  EXPECT_EQ(s, nullptr);
}

TEST_F(VrioSimpleDevice, FlushOnlyOnAWritableSide)
{
  ASSERT_EQ(m.make(&s, 1), VRIO_S_NOERR);
  EXPECT_EQ(vrio_sync(&s, VRIO_SYNC_WRITE), VRIO_S_NOERR);
  EXPECT_EQ(m.flushes, 0);
  vrio_close(&s, 0);
  ASSERT_EQ(m.make(&s, 2), VRIO_S_NOERR);
  EXPECT_EQ(vrio_sync(&s, VRIO_SYNC_READ), VRIO_S_NOERR);
  EXPECT_EQ(m.flushes, 0);
  EXPECT_EQ(vrio_sync(&s, VRIO_SYNC_WRITE), VRIO_S_NOERR);
  EXPECT_EQ(m.flushes, 1);
}

TEST_F(VrioSimpleDevice, UserDataByClassAndDefaults)
{
  ASSERT_EQ(m.make(&s, 1), VRIO_S_NOERR);
  void *data = nullptr;
  ASSERT_EQ(vrio_get_device_user_data(&s, &m, &data), VRIO_S_NOERR);
  EXPECT_EQ(data, &m);
  int other_class;
  EXPECT_EQ(vrio_get_device_user_data(&s, &other_class, &data), VRIO_E_NOT_FOUND);
  VRIO none = nullptr;
  EXPECT_EQ(vrio_get_device_user_data(&none, &m, &data), VRIO_E_NOT_FOUND);
  vrio_t_device_type type;
  EXPECT_EQ(vrio_ioctl_device_type(&s, &type, 0), VRIO_E_NOT_IMPLEMENTED)
      << "the default ioctl ends the walk with its error";
  vrio_t_offset at;
  EXPECT_EQ(vrio_seek(&s, 0, &at, nullptr, VRIO_SEEK_ABSOLUTE), VRIO_E_NOT_IMPLEMENTED);
  EXPECT_EQ(vrio_pop(nullptr, &s, 0), VRIO_E_NOT_IMPLEMENTED);
  const vrio_t_funcs *found;
  EXPECT_EQ(vrio_find_layer("simple_device", &found), VRIO_E_NOT_FOUND) << "never registered";
  // A read-only device has the default write: none.
  VRIO t = nullptr;
  ASSERT_EQ(vrio_create_device(&t, &m, &m, no_read, nullptr, nullptr, nullptr,
                               memory_device::close, nullptr, nullptr, VRIO_DEVICE_BYTES),
            VRIO_S_NOERR);
  vrio_t_buf out;
  vrio_buf_init_buf(&out);
  size_t offset = 0;
  EXPECT_EQ(vrio_write(&t, &out, &offset, 0), VRIO_E_NOT_OPEN_WRITE);
  vrio_close(&t, 0);
}

// Empty standard slots give null streams: input at its end, output and
// error swallowing everything.
TEST_F(VrioSimpleDevice, NullStreams)
{
  for (vrio_t_bits slot : {1u, 3u, 5u}) {
    VRIO taken = nullptr;
    if (vrio_get_standard_stream(&taken, slot) >= 0)
      vrio_close(&taken, VRIO_CLOSE_ABORTIVE);
  }
  VRIO in = nullptr, out = nullptr;
  EXPECT_EQ(vrio_get_standard_stream(&in, 1), VRIO_E_NOT_FOUND);
  ASSERT_EQ(vrio_get_standard_stream(&in, 1 | 8), VRIO_S_NOERR);
  ASSERT_EQ(vrio_get_standard_stream(&out, 3 | 8), VRIO_S_NOERR);
  vrio_t_buf *buf = nullptr;
  EXPECT_EQ(vrio_read(&in, &buf, 0), VRIO_E_END_OF_FILE);
  vrio_t_buf text;
  vrio_buf_init_buf(&text);
  text.buf = reinterpret_cast<unsigned char *>(const_cast<char *>("dropped"));
  text.extent = 7;
  size_t offset = 0;
  EXPECT_EQ(vrio_write(&in, &text, &offset, 0), VRIO_E_NOT_OPEN_WRITE);
  EXPECT_EQ(vrio_write(&out, &text, &offset, VRIO_WRITE_ALL), VRIO_S_NOERR);
  EXPECT_EQ(offset, 7u);
  EXPECT_EQ(vrio_write_dbg(&out, "also dropped"), VRIO_S_NOERR);
  EXPECT_EQ(vrio_read(&out, &buf, 0), VRIO_E_NOT_OPEN_READ);
  EXPECT_EQ(vrio_close(&in, 0), VRIO_S_NOERR);
  EXPECT_EQ(vrio_close(&out, 0), VRIO_S_NOERR);
  EXPECT_EQ(in, nullptr);
  EXPECT_EQ(out, nullptr);
}

} // namespace
