// The control stream's listener, driven through a real operating-system
// pipe: a table of protocol lines (commands, malformed commands, lines
// split across reads, unknown lines) with what reaches the pass-through
// pipe, the input tunnel t1 and the interrupt key; data held until a
// tunnel is opened and end of file on CLOSE; a long line; the end of the
// control stream; streams closed while the listener runs.
//
// Nothing waits by sleeping: wait_until runs the work items the listener
// scheduled and otherwise waits for the engine's next interrupt (which
// scheduling raises), in slices, up to a deadline.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include <unistd.h>

#include "control_listener.h"
#include "pipes.h"
#include "runtime_fixture.h"
#include "streams.h"

namespace {

using Clock = std::chrono::steady_clock;

template <typename F> bool wait_until(F done)
{
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  for (;;) {
    vrio_run_work_items(0);
    if (done())
      return true;
    if (Clock::now() > deadline)
      return false;
    const vrio_t_timespec slice = {0, 20 * 1000 * 1000};
    vrio_event_wait(nullptr, 0, &slice);
  }
}

// Waits until the listener's work item has run once more.
bool work_item_ran()
{
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  while (vrio_run_work_items(0) <= 0) {
    if (Clock::now() > deadline)
      return false;
    const vrio_t_timespec slice = {0, 20 * 1000 * 1000};
    vrio_event_wait(nullptr, 0, &slice);
  }
  return true;
}

// What a reader has taken from a stream so far, and whether it met the end.
struct reader {
  VR_stream *s = nullptr;
  std::string got;
  bool eof = false;

  // Takes what is there without waiting.
  void drain()
  {
    while (s != nullptr && !eof) {
      const unsigned o = VR_IO_NONBLOCKING;
      const int c = (s->flags & SF_TEXT) ? vr_get_code_helper(s, o) : vr_get_byte_helper(s, o);
      if (c == VRIO_E_INTERRUPTED) // a suspend request's hard interrupt
        continue;
      if (c == -1)
        eof = true;
      if (c < 0)
        return;
      got.push_back(static_cast<char>(c));
    }
  }
  bool has(std::size_t n)
  {
    drain();
    return got.size() >= n || eof;
  }
  bool at_end()
  {
    drain();
    return eof;
  }
};

struct ControlListener : RuntimeFixture {
  int feed = -1; // the environment's end
  VR_stream *control = nullptr;
  reader pass;

  void SetUp() override
  {
    RuntimeFixture::SetUp();
    start();
  }
  void TearDown() override
  {
    if (feed >= 0)
      close(feed);
    RuntimeFixture::TearDown();
  }

  void start()
  {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    feed = fds[1];
    ASSERT_EQ(VR_create_os_stream(fds[0], &control, 0, 0x1 | 0x4), VRIO_S_NOERR);
    pass = reader{};
    ASSERT_EQ(vr_add_control_listener(control, &pass.s), VRIO_S_NOERR);
  }
  void send(const std::string &bytes)
  {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = write(feed, bytes.data() + done, bytes.size() - done);
      ASSERT_GT(n, 0);
      done += static_cast<std::size_t>(n);
    }
  }
  void end_feed()
  {
    close(feed);
    feed = -1;
  }
  reader tunnel(const char *name, unsigned options = 0x8)
  {
    reader r;
    EXPECT_EQ(vr_open_input_tunnel(control, name, &r.s, options), VRIO_S_NOERR) << name;
    return r;
  }
  // Waits until the pass-through pipe has given n bytes (or ended).
  bool passed(std::size_t n) { return wait_until([&] { return pass.has(n); }); }
};

struct line_case {
  const char *why;
  std::vector<std::string> chunks; // written one after the other, each read before the next
  std::string tunnel_t1;           // what the reader of t1 gets
  int suspends;                    // requests that reach the interrupt key
  bool stops;                      // a malformed command: the listener stops abortively
};

std::string bytes(const char *s, std::size_t n) { return std::string(s, n); }

TEST_F(ControlListener, ProtocolLines)
{
  const line_case cases[] = {
      {"an unknown line is only passed on", {"hello world\n"}, "", 0, false},
      {"a suspend request", {"REQUEST 17 suspend\n"}, "", 1, false},
      {"blanks and tabs between the words", {"REQUEST \t 17\t\tsuspend\n"}, "", 1, false},
      {"a further word after suspend", {"REQUEST 17 suspend now\n"}, "", 0, false},
      {"a blank after suspend", {"REQUEST 17 suspend \n"}, "", 0, false},
      {"no number", {"REQUEST x suspend\n"}, "", 0, false},
      {"no blank after REQUEST", {"REQUEST17 suspend\n"}, "", 0, false},
      {"a carriage return before the line feed", {"REQUEST 17 suspend\r\n"}, "", 0, false},
      {"data for t1", {"TUNNEL APPEND t1 abc\n"}, "abc", 0, false},
      {"blanks in the data are data", {"TUNNEL  \tAPPEND\tt1 a b\tc \n"}, "a b\tc ", 0, false},
      {"quoted data", {bytes("TUNNEL APPEND t1 \x01\x01\x00\x01\x03\x01\x02z\n", 26)}, bytes("\x01\n\r\0z", 5), 0, false},
      {"empty data", {"TUNNEL APPEND t1 \n"}, "", 0, false},
      {"lines split across reads", {"TUNNEL APP", "END t1 xy", "z\nREQUEST 1", " suspend\n"}, "xyz", 1, false},
      {"two lines in one read", {"TUNNEL APPEND t1 a\nTUNNEL APPEND t1 b\n"}, "ab", 0, false},
      {"another tunnel's data", {"TUNNEL APPEND t2 abc\n"}, "", 0, false},
      {"an unknown tunnel command", {"TUNNEL FLUSH t1\n"}, "", 0, false},
      {"a name must start with a letter, _ or .", {"TUNNEL APPEND 1t x\n"}, "", 0, false},
      {"names take _ and .", {"TUNNEL APPEND _t.1 x\n"}, "", 0, false},
      {"APPEND without a space after the name", {"TUNNEL APPEND t1\nREQUEST 1 suspend\n"}, "", 0, true},
      {"APPEND with a tab after the name", {"TUNNEL APPEND t1\tx\nREQUEST 1 suspend\n"}, "", 0, true},
      {"APPEND with a name that ends early", {"TUNNEL APPEND t-1 x\n"}, "", 0, true},
      {"CLOSE with text after the name", {"TUNNEL CLOSE t1 now\nREQUEST 1 suspend\n"}, "", 0, true},
      {"data that ends with the byte 1", {"TUNNEL APPEND t1 ab\x01\nREQUEST 1 suspend\n"}, "", 0, true},
      {"1 before a byte it does not quote", {"TUNNEL APPEND t1 \x01\x05\nREQUEST 1 suspend\n"}, "", 0, true},
  };
  bool first = true;
  for (const line_case &c : cases) {
    SCOPED_TRACE(c.why);
    if (!first)
      start();
    first = false;
    vr_reset_ctrlc_pending();
    reader t1 = tunnel("t1");
    std::string all;
    for (const std::string &chunk : c.chunks) {
      send(chunk);
      all += chunk;
      ASSERT_TRUE(work_item_ran()) << "the listener read the chunk";
    }
    if (c.stops) {
      EXPECT_TRUE(wait_until([&] { return pass.at_end(); })) << "the pass-through pipe ends";
      EXPECT_TRUE(wait_until([&] { return t1.at_end(); })) << "the tunnel ends";
      EXPECT_EQ(t1.got, "") << "nothing after the malformed command";
      EXPECT_EQ(find_stream(control), nullptr) << "the control stream's input was closed";
    } else {
      EXPECT_TRUE(passed(all.size()));
      EXPECT_EQ(pass.got, all) << "every line reaches the pass-through pipe";
      EXPECT_TRUE(wait_until([&] { return t1.has(c.tunnel_t1.size()); }));
      EXPECT_EQ(t1.got, c.tunnel_t1);
      end_feed();
      EXPECT_TRUE(wait_until([&] { return pass.at_end() && t1.at_end(); })) << "both end with the control stream";
      EXPECT_EQ(t1.got, c.tunnel_t1);
    }
    EXPECT_EQ(vr_get_ctrlc_pending_DEPRECATED(), c.suspends) << "requests counted by the interrupt key";
    vr_fclose_internal(t1.s, VR_CLOSE_FORCE | VR_CLOSE_STANDARD);
    vr_fclose_internal(pass.s, VR_CLOSE_FORCE | VR_CLOSE_STANDARD);
    if (feed >= 0)
      end_feed();
  }
  vr_reset_ctrlc_pending();
}

// Data for a tunnel nobody has opened is held and delivered when it is
// opened; CLOSE ends the reader after the data sent before it, also when
// it comes before the tunnel is opened; a tunnel opens once.
TEST_F(ControlListener, HeldDataAndEndOfFileOnClose)
{
  const std::string lines = "TUNNEL APPEND early 12\nTUNNEL APPEND early 3\nTUNNEL APPEND shut x\n"
                            "TUNNEL CLOSE shut\nTUNNEL APPEND txt \xC3";
  send(lines);
  send("\xA9\n");
  ASSERT_TRUE(passed(lines.size() + 1)); // the two bytes are one character there
  reader early = tunnel("early");
  ASSERT_TRUE(wait_until([&] { return early.has(3); }));
  EXPECT_EQ(early.got, "123");
  VR_stream *again = nullptr;
  EXPECT_EQ(vr_open_input_tunnel(control, "early", &again, 0x8), VRIO_E_INVALID_STATE);

  reader shut = tunnel("shut");
  EXPECT_TRUE(wait_until([&] { return shut.at_end(); })) << "closed before it was opened";
  EXPECT_EQ(shut.got, "x");

  reader txt = tunnel("txt", 0);
  ASSERT_TRUE(wait_until([&] { return txt.has(1); }));
  EXPECT_EQ(txt.got, "\xE9") << "one character from bytes split across two lines";

  send("TUNNEL APPEND early 4\nTUNNEL CLOSE early\nTUNNEL APPEND early 5\n");
  EXPECT_TRUE(wait_until([&] { return early.at_end(); }));
  EXPECT_EQ(early.got, "1234");

  VR_stream *other = nullptr;
  EXPECT_EQ(vr_open_input_tunnel(pass.s, "x", &other, 0x8), VRIO_E_NOT_FOUND) << "no listener there";
  // The listener is still attached when the runtime goes down.
}

// A line far longer than any read: every byte below 128, quoted.
TEST_F(ControlListener, LongLine)
{
  std::string data;
  for (int i = 0; i < 50000; ++i)
    data.push_back(static_cast<char>(i % 128));
  std::string quoted(tunnel_stream_quoted_length(reinterpret_cast<const unsigned char *>(data.data()), data.size()),
                     '\0');
  tunnel_stream_quote(reinterpret_cast<const unsigned char *>(data.data()), data.size(),
                      reinterpret_cast<unsigned char *>(quoted.data()));
  const std::string line = "TUNNEL APPEND t1 " + quoted + "\n";
  reader t1 = tunnel("t1");
  send(line);
  ASSERT_TRUE(wait_until([&] { return t1.has(data.size()); }));
  EXPECT_TRUE(t1.got == data) << "the data arrives unchanged";
  EXPECT_TRUE(passed(line.size()));
  EXPECT_TRUE(pass.got == line) << "and so does the line";
}

// The environment goes: the lines read with the end still reach Prolog,
// and every reader ends at once, without waiting for some other close.
TEST_F(ControlListener, EndOfTheControlStream)
{
  reader t1 = tunnel("t1");
  send("hello\nTUNNEL APPEND t1 z\nTUNNEL APPEND t3 held\n");
  end_feed();
  EXPECT_TRUE(wait_until([&] { return pass.at_end(); }));
  EXPECT_EQ(pass.got, "hello\nTUNNEL APPEND t1 z\nTUNNEL APPEND t3 held\n");
  EXPECT_TRUE(wait_until([&] { return t1.at_end(); }));
  EXPECT_EQ(t1.got, "z");
  EXPECT_EQ(find_stream(control), nullptr) << "the control stream's input was closed";
  VR_stream *late = nullptr;
  EXPECT_EQ(vr_open_input_tunnel(control, "t3", &late, 0x8), VRIO_E_NOT_FOUND) << "the listener has gone";
}

// Readers that leave, and a control stream closed under the listener.
TEST_F(ControlListener, StreamsClosedWhileListening)
{
  reader t1 = tunnel("t1");
  ASSERT_GE(vr_fclose_internal(t1.s, 0), 0);
  ASSERT_GE(vr_fclose_internal(pass.s, VR_CLOSE_STANDARD), 0);
  send("TUNNEL APPEND t1 abc\nline for nobody\n");
  ASSERT_TRUE(work_item_ran());
  reader t1_again = tunnel("t1");
  send("TUNNEL APPEND t1 def\n");
  ASSERT_TRUE(wait_until([&] { return t1_again.has(6); }));
  EXPECT_EQ(t1_again.got, "abcdef") << "what the first reader left is held for the next";

  // Closing the control stream wakes the listener, which stops.
  ASSERT_EQ(vr_fclose_internal(control, 0), VRIO_S_DEALLOCATED);
  EXPECT_TRUE(wait_until([&] { return t1_again.at_end(); }));
  vr_fclose_internal(t1_again.s, 0);

  // A second listener on a fresh control stream works as the first did.
  start();
  send("again\n");
  EXPECT_TRUE(passed(6));
  EXPECT_EQ(pass.got, "again\n");
}

// The listener functions' own checks.
TEST_F(ControlListener, ListenerArguments)
{
  auto never = [](void *, vrio_t_bits) -> vrio_t_error_code { return VRIO_S_DONE; };
  VR_stream *r = nullptr, *w = nullptr;
  ASSERT_EQ(vr_create_pipe(nullptr, &r, nullptr, &w, 0), VRIO_S_NOERR);
  EXPECT_EQ(vr_add_stream_listener(r, never, nullptr, 0), VRIO_E_PARAMETER_ERROR) << "option 0x1 required";
  EXPECT_EQ(vr_remove_stream_listener(r, never, nullptr, 0x1), VRIO_E_NOT_FOUND) << "none attached";
  VR_stream *pass_of_output = nullptr;
  EXPECT_EQ(vr_add_control_listener(w, &pass_of_output), VRIO_E_PARAMETER_ERROR) << "an output stream";
  vr_fclose_internal(w, 0);
  vr_fclose_internal(r, 0);
}

} // namespace
