// In-memory pipes: bytes written come out in order at the read end (a
// text read end decodes them); an empty pipe with its writer open would
// block (non-blocking reads say so), with the writer gone it is at end of
// file; a writer whose reader has gone gets end of file; the readable
// event follows the data.  And the quoting of tunnel data, both ways.
#include <gtest/gtest.h>

#include <vector>

#include "pipes.h"
#include "runtime_fixture.h"

namespace {

using Pipes = RuntimeFixture;

TEST_F(Pipes, BytesInOrderWouldBlockWhenEmptyEndOfFileWhenTheWriterHasGone)
{
  VR_stream *r = nullptr, *wr = nullptr;
  ASSERT_EQ(vr_create_pipe(nullptr, &r, nullptr, &wr, 0), VRIO_S_NOERR);
  vrio_t_event *ev = nullptr;
  ASSERT_EQ(vrio_ioctl_readable_event(&r->vrio, &ev, 2), VRIO_S_NOERR);
  ASSERT_NE(ev, nullptr);
  EXPECT_EQ(vrio_event_query(ev), 0) << "nothing written yet";
  const unsigned char bytes[] = {0, 1, 10, 13, 255, 'x'};
  ASSERT_EQ(VR_put_bytes(wr, bytes, sizeof bytes, 0), VRIO_S_NOERR);
  ASSERT_GE(VR_flush_output(wr, 0), 0);
  EXPECT_EQ(vrio_event_query(ev), 1) << "data arrived";
  for (unsigned char b : bytes)
    EXPECT_EQ(vr_get_byte_helper(r, 0), b);
  EXPECT_EQ(vr_get_byte_helper(r, VR_IO_NONBLOCKING), VRIO_E_WOULD_BLOCK);
  ASSERT_EQ(VR_put_bytes(wr, "yz", 2, 0), VRIO_S_NOERR);
  ASSERT_GE(VR_flush_output(wr, 0), 0);
  ASSERT_GE(vr_fclose_internal(wr, 0), 0);
  EXPECT_EQ(vr_get_byte_helper(r, 0), 'y');
  EXPECT_EQ(vr_get_byte_helper(r, 0), 'z');
  EXPECT_EQ(vr_get_byte_helper(r, 0), -1) << "the writer has gone";
  ASSERT_GE(vr_fclose_internal(r, 0), 0);
}

TEST_F(Pipes, TextReadEndAndAWriterWhoseReaderHasGone)
{
  VR_stream *r = nullptr, *wr = nullptr;
  ASSERT_EQ(vr_create_pipe("UTF-8", &r, nullptr, &wr, 0), VRIO_S_NOERR);
  const unsigned char utf8[] = {'a', 0xC3, 0xA9, 0xE2, 0x82, 0xAC, '\n'};
  ASSERT_EQ(VR_put_bytes(wr, utf8, sizeof utf8, 0), VRIO_S_NOERR);
  ASSERT_GE(VR_flush_output(wr, 0), 0);
  for (int code : {int{'a'}, 0xE9, 0x20AC, int{'\n'}})
    EXPECT_EQ(vr_get_code_helper(r, 0), code);
  ASSERT_GE(vr_fclose_internal(r, 0), 0);
  ASSERT_EQ(VR_put_bytes(wr, "lost", 4, 0), VRIO_S_NOERR);
  EXPECT_LT(VR_flush_output(wr, 0), 0) << "the reader has gone";
  vr_fclose_internal(wr, VR_CLOSE_FORCE);
}

TEST(TunnelQuoting, RoundTripAndMalformedData)
{
  std::vector<unsigned char> all(256);
  for (int i = 0; i < 256; ++i)
    all[static_cast<std::size_t>(i)] = static_cast<unsigned char>(i);
  std::vector<unsigned char> quoted(tunnel_stream_quoted_length(all.data(), all.size()));
  EXPECT_EQ(quoted.size(), 256u + 3u);
  EXPECT_EQ(tunnel_stream_quote(all.data(), all.size(), quoted.data()), quoted.data() + quoted.size());
  for (unsigned char c : quoted)
    EXPECT_NE(c, 10) << "no line feed in quoted data";
  EXPECT_EQ(tunnel_stream_unquoted_length(quoted.data(), quoted.size()), 256);
  EXPECT_EQ(tunnel_stream_unquote(quoted.data(), quoted.size()), 256);
  quoted.resize(256);
  EXPECT_EQ(quoted, all);

  const struct {
    std::vector<unsigned char> data;
    long expected;
  } cases[] = {
      {{1, 10, 13}, VRIO_E_ENCODING_INVALID}, // 1 before a byte it does not quote
      {{'a', 1}, VRIO_E_NOT_ENOUGH_DATA},     // 1 at the end
      {{1, 1, 0, 1, 3, 1, 2}, 4},
      {{}, 0},
  };
  for (const auto &c : cases) {
    std::vector<unsigned char> d = c.data;
    EXPECT_EQ(tunnel_stream_unquote(d.data(), d.size()), c.expected);
  }
}

} // namespace
