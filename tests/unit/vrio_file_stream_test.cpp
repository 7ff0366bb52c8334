// Streams over descriptors, through both bottom layers ("threaddevice",
// the default, and "async"): files read, written, appended, truncated and
// seeked; read-ahead and write-behind keeping their order; a large copy
// through two streams, bytes and UTF-8 text; pipes and terminals as
// descriptors (end of file when the writer closes, closes that do not wait
// for a pending read); opening errors; the standard streams and the layer
// choice; text streams over files (detection, seeks that reach the file).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <deque>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "vostrel/vrio.h"
#include "vrio_file_fixture.h"

namespace {

using clock_type = std::chrono::steady_clock;

vrio_t_error_code write_all(VRIO *s, const std::string &data, vrio_t_bits options = 0)
{
  vrio_t_buf b;
  vrio_buf_init_buf(&b);
  b.buf = reinterpret_cast<unsigned char *>(const_cast<char *>(data.data()));
  b.extent = data.size();
  size_t offset = 0;
  return vrio_write(s, &b, &offset, VRIO_WRITE_BYTES | VRIO_WRITE_ALL | options);
}

// One read: its bytes, and its result in *rc.
std::string read_once(VRIO *s, vrio_t_error_code *rc, vrio_t_bits options = VRIO_READ_BYTES)
{
  vrio_t_buf *buf = nullptr;
  *rc = vrio_read(s, &buf, options);
  std::string got = buf != nullptr ? std::string(reinterpret_cast<char *>(buf->buf), buf->extent)
                                   : std::string();
  vrio_buf_free(buf);
  return got;
}

std::string read_all(VRIO *s, vrio_t_error_code *end)
{
  std::string got;
  vrio_t_buf *buf = vrio_buf_alloc(nullptr, 0, 0);
  for (;;) {
    buf->extent = 0;
    vrio_t_error_code rc = vrio_read(s, &buf, VRIO_READ_BYTES);
    if (rc < 0) {
      *end = rc;
      break;
    }
    got.append(reinterpret_cast<char *>(buf->buf), buf->extent);
  }
  vrio_buf_free(buf);
  return got;
}

// Every test runs over both layer kinds.
struct VrioFileStream : VrioFiles, ::testing::WithParamInterface<const char *> {
  std::deque<VRIO> open_streams; // references stay valid as it grows
  bool async_chosen = false;

  void TearDown() override
  {
    for (VRIO &s : open_streams)
      if (s != nullptr)
        vrio_close(&s, VRIO_CLOSE_ABORTIVE);
    VrioFiles::TearDown();
  }
  vrio_t_error_code open(VRIO *s, const std::string &file, vrio_t_bits options)
  {
    vrio_t_property args[] = {arg_string("pathname", file.c_str()), arg_end()};
    return vrio_open_by_name(GetParam(), s, args, options);
  }
  // Opens and expects success; the stream is closed abortively at the end
  // of the case if the test leaves it open.
  VRIO &opened(const std::string &file, vrio_t_bits options)
  {
    open_streams.push_back(nullptr);
    VRIO &s = open_streams.back();
    EXPECT_EQ(open(&s, file, options), VRIO_S_NOERR) << file;
    return s;
  }
  vrio_t_error_code over_fd(VRIO *s, int fd, vrio_t_bits options)
  {
    if (std::string(GetParam()) == "threaddevice")
      return vrio_layer_threaddevice_open_file_handle_unix(s, fd, options);
    // The async layer through the configured choice (read at start-up).
    if (!async_chosen) {
      ::setenv("VRIO_USE_LAYER_THREADDEVICE", "false", 1);
      EXPECT_EQ(vrio_init(nullptr, nullptr, nullptr, 1), VRIO_S_NOERR);
      EXPECT_EQ(vrio_init(nullptr, nullptr, nullptr, 0), VRIO_S_NOERR);
      async_chosen = true;
    }
    return vrio_layer_async_unix_open_file_handle(s, fd, options);
  }
};

INSTANTIATE_TEST_SUITE_P(Layers, VrioFileStream, ::testing::Values("threaddevice", "async"));

TEST_P(VrioFileStream, WriteTruncateRead)
{
  std::string file = path("data");
  VRIO s = nullptr;
  ASSERT_EQ(open(&s, file, VRIO_OPEN_FILE_WRITE), VRIO_S_NOERR);
  EXPECT_STREQ(s->funcs->name, GetParam());
  ASSERT_EQ(write_all(&s, "first version, long"), VRIO_S_NOERR);
  ASSERT_EQ(vrio_close(&s, 0), VRIO_S_NOERR);
  EXPECT_EQ(s, nullptr);
  EXPECT_EQ(contents(file), "first version, long");

  ASSERT_EQ(open(&s, file, VRIO_OPEN_FILE_WRITE), VRIO_S_NOERR);
  ASSERT_EQ(write_all(&s, "second"), VRIO_S_NOERR);
  ASSERT_EQ(vrio_close(&s, 0), VRIO_S_NOERR);
  EXPECT_EQ(contents(file), "second") << "opening for writing truncates";

  ASSERT_EQ(open(&s, file, VRIO_OPEN_FILE_READ), VRIO_S_NOERR);
  vrio_t_error_code end;
  EXPECT_EQ(read_all(&s, &end), "second");
  EXPECT_EQ(end, VRIO_E_END_OF_FILE);
  vrio_t_buf none;
  vrio_buf_init_buf(&none);
  size_t offset = 0;
  EXPECT_EQ(vrio_write(&s, &none, &offset, 0), VRIO_E_NOT_OPEN_WRITE);
  vrio_t_device_type type;
  ASSERT_EQ(vrio_ioctl_device_type(&s, &type, 0), VRIO_S_NOERR);
  EXPECT_EQ(type, VRIO_DEVICE_TYPE_FILE);
  int64_t size = 0;
  ASSERT_EQ(vrio_ioctl_size(&s, &size, 0), VRIO_S_NOERR);
  EXPECT_EQ(size, 6);
  ASSERT_EQ(vrio_close(&s, 0), VRIO_S_NOERR);
}

TEST_P(VrioFileStream, OpeningErrors)
{
  std::string file = make_file("there", "x");
  const struct {
    const char *why;
    std::string path;
    vrio_t_bits options;
    vrio_t_error_code rc;
  } cases[] = {
      {"missing file", path("none"), VRIO_OPEN_FILE_READ, VRIO_E_FILE_NOT_FOUND},
      {"missing directory", path("none/x"), VRIO_OPEN_FILE_WRITE, VRIO_E_FILE_NOT_FOUND},
      {"exclusive creation", file, VRIO_OPEN_FILE_WRITE | VRIO_OPEN_FILE_EXCLUSIVE, VRIO_E_FILE_EXISTS},
      {"read and append", file, VRIO_OPEN_FILE_READ | VRIO_OPEN_FILE_WRITE | VRIO_OPEN_FILE_APPEND, VRIO_E_PARAMETER_ERROR},
      {"neither side", file, 0, VRIO_E_PARAMETER_ERROR},
      {"a directory", scratch, VRIO_OPEN_FILE_READ, VRIO_E_NOT_SUPPORTED},
      {"a directory for writing", scratch, VRIO_OPEN_FILE_WRITE, VRIO_E_PERMISSION_ERROR},
  };
  for (const auto &c : cases) {
    VRIO s = nullptr;
    EXPECT_EQ(open(&s, c.path, c.options), c.rc) << c.why;
    EXPECT_EQ(s, nullptr) << c.why;
  }
  VRIO s = nullptr;
  vrio_t_property no_path[] = {arg_end()};
  EXPECT_EQ(vrio_open_by_name(GetParam(), &s, no_path, VRIO_OPEN_FILE_READ), VRIO_E_NOT_FOUND);
  EXPECT_EQ(vrio_push_by_name(GetParam(), &s, no_path, 0), VRIO_E_NOT_IMPLEMENTED);

  int fd = ::open(file.c_str(), O_RDONLY);
  EXPECT_EQ(over_fd(&s, fd, VRIO_FD_WRITE), VRIO_E_NOT_WRITE);
  EXPECT_EQ(over_fd(&s, fd, 0), VRIO_E_PARAMETER_ERROR);
  ::close(fd);
  EXPECT_EQ(over_fd(&s, fd, VRIO_FD_READ), VRIO_E_FILE_NOT_FOUND) << "a closed descriptor";
  int dir = ::open(scratch.c_str(), O_RDONLY | O_DIRECTORY);
  EXPECT_EQ(over_fd(&s, dir, VRIO_FD_READ), VRIO_E_NOT_SUPPORTED);
  ::close(dir);
  EXPECT_EQ(s, nullptr);
}

// Names are UTF-8 on both sides: no conversion, nothing lost.
TEST_P(VrioFileStream, NonAsciiNamesAndTemporaryFiles)
{
  std::string file = path("\xC3\xA9t\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80.txt");
  VRIO &w = opened(file, VRIO_OPEN_FILE_WRITE | VRIO_OPEN_FILE_EXCLUSIVE);
  ASSERT_EQ(write_all(&w, "content"), VRIO_S_NOERR);
  ASSERT_EQ(vrio_close(&w, 0), VRIO_S_NOERR);
  EXPECT_EQ(contents(file), "content");
  vrio_t_dir *dir;
  ASSERT_EQ(vrio_open_directory(scratch.c_str(), &dir, 2), VRIO_S_NOERR);
  vrio_t_dirent *ent;
  ASSERT_EQ(vrio_read_directory(dir, &ent, 0), VRIO_S_NOERR);
  const char *name;
  ASSERT_EQ(vrio_dirent_name(ent, &name), VRIO_S_NOERR);
  EXPECT_EQ(scratch + "/" + name, file);
  vrio_close_directory(dir);

  // A temporary file: in the temporary directory, created exclusively.
  ASSERT_EQ(vrio_set_system_property("TMPDIR", scratch.c_str()), VRIO_S_NOERR);
  char *tmp = nullptr;
  ASSERT_EQ(vrio_temp_directory(&tmp, 0), VRIO_S_NOERR);
  std::string temporary = std::string(tmp) + "vrio-temp-1";
  vrio_free(tmp);
  VRIO &t = opened(temporary, VRIO_OPEN_FILE_READ | VRIO_OPEN_FILE_WRITE | VRIO_OPEN_FILE_EXCLUSIVE);
  ASSERT_EQ(write_all(&t, "scratch data"), VRIO_S_NOERR);
  vrio_t_offset at;
  ASSERT_EQ(vrio_seek(&t, 0, &at, nullptr, VRIO_SEEK_ABSOLUTE | VRIO_SEEK_READ), VRIO_S_NOERR);
  vrio_t_error_code end;
  EXPECT_EQ(read_all(&t, &end), "scratch data");
  VRIO again = nullptr;
  EXPECT_EQ(open(&again, temporary, VRIO_OPEN_FILE_WRITE | VRIO_OPEN_FILE_EXCLUSIVE),
            VRIO_E_FILE_EXISTS);
  ASSERT_EQ(vrio_close(&t, 0), VRIO_S_NOERR);
  ASSERT_EQ(vrio_delete_file(temporary.c_str(), 0), VRIO_S_NOERR);
}

// Appending streams add at the end, also when two of them write to one
// file by turns: each must land after the other's last line.
TEST_P(VrioFileStream, AppendingStreamsNeverOverwriteEachOther)
{
  std::string file = make_file("log", "first\n");
  VRIO &a = opened(file, VRIO_OPEN_FILE_WRITE | VRIO_OPEN_FILE_APPEND);
  VRIO &b = opened(file, VRIO_OPEN_FILE_WRITE | VRIO_OPEN_FILE_APPEND);
  std::string expected = "first\n";
  for (int i = 0; i < 20; ++i) {
    VRIO &s = i % 2 ? b : a;
    std::string line = std::string(i % 2 ? "b" : "a") + std::to_string(i) + "\n";
    ASSERT_EQ(write_all(&s, line), VRIO_S_NOERR);
    ASSERT_EQ(vrio_sync(&s, VRIO_SYNC_WRITE), VRIO_S_NOERR);
    expected += line;
  }
  ASSERT_EQ(vrio_close(&a, 0), VRIO_S_NOERR);
  ASSERT_EQ(vrio_close(&b, 0), VRIO_S_NOERR);
  EXPECT_EQ(contents(file), expected);
}

// Another process appending at the same time (with plain O_APPEND
// writes: a forked child cannot start threads under the user-mode
// emulator): every line of both arrives whole.
TEST_P(VrioFileStream, ConcurrentAppendersKeepEveryLine)
{
  std::string file = make_file("shared", "");
#if defined(TRELIX_SANITIZE) || defined(VRIO_TSAN)
  constexpr int lines = 100;
#else
  constexpr int lines = 300;
#endif
  auto line_of = [](char tag, int i) { return tag + std::to_string(i) + std::string(40, '.') + "\n"; };
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    int fd = ::open(file.c_str(), O_WRONLY | O_APPEND);
    bool ok = fd >= 0;
    for (int i = 0; i < lines && ok; ++i) {
      std::string line = line_of('c', i);
      ok = ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    }
    ::_exit(ok ? 0 : 1);
  }
  VRIO &s = opened(file, VRIO_OPEN_FILE_WRITE | VRIO_OPEN_FILE_APPEND);
  for (int i = 0; i < lines; ++i) {
    ASSERT_EQ(write_all(&s, line_of('p', i)), VRIO_S_NOERR);
    ASSERT_EQ(vrio_sync(&s, VRIO_SYNC_WRITE), VRIO_S_NOERR);
  }
  ASSERT_EQ(vrio_close(&s, 0), VRIO_S_NOERR);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  std::ifstream in(file);
  std::string line;
  int count[2] = {0, 0};
  while (std::getline(in, line)) {
    ASSERT_EQ(line.size() - line.find('.'), 40u) << "a line was cut: " << line;
    count[line[0] == 'c']++;
  }
  EXPECT_EQ(count[0], lines);
  EXPECT_EQ(count[1], lines);
}

TEST_P(VrioFileStream, SeeksOnAFileOpenBothWays)
{
  std::string file = make_file("rw", "0123456789");
  VRIO &s = opened(file, VRIO_OPEN_FILE_READ | VRIO_OPEN_FILE_WRITE);
  vrio_t_error_code rc;
  EXPECT_EQ(read_once(&s, &rc), "0123456789") << "opening both ways keeps the contents";
  vrio_t_offset at = -1;
  ASSERT_EQ(vrio_seek(&s, 3, &at, nullptr, VRIO_SEEK_ABSOLUTE | VRIO_SEEK_READ), VRIO_S_NOERR);
  EXPECT_EQ(at, 3);
  EXPECT_EQ(read_once(&s, &rc), "3456789") << "the read-ahead from 0 is not used";
  ASSERT_EQ(vrio_seek(&s, -2, &at, nullptr, VRIO_SEEK_FROM_END | VRIO_SEEK_READ), VRIO_S_NOERR);
  EXPECT_EQ(at, 8);
  EXPECT_EQ(read_once(&s, &rc), "89");
  EXPECT_EQ(vrio_seek(&s, -1, &at, nullptr, VRIO_SEEK_ABSOLUTE | VRIO_SEEK_READ),
            VRIO_E_PARAMETER_ERROR);
  EXPECT_EQ(vrio_seek(&s, 1, &at, nullptr, VRIO_SEEK_RELATIVE), VRIO_E_SEEK_ERROR)
      << "both positions relative, but they differ";

  // A read after a write returns what was written, not the read-ahead.
  ASSERT_EQ(vrio_seek(&s, 0, &at, nullptr, VRIO_SEEK_ABSOLUTE | VRIO_SEEK_READ), VRIO_S_NOERR);
  EXPECT_EQ(read_once(&s, &rc).substr(0, 2), "01");
  ASSERT_EQ(vrio_seek(&s, 1, &at, nullptr, VRIO_SEEK_ABSOLUTE | VRIO_SEEK_WRITE), VRIO_S_NOERR);
  ASSERT_EQ(write_all(&s, "AB"), VRIO_S_NOERR);
  ASSERT_EQ(vrio_seek(&s, 0, &at, nullptr, VRIO_SEEK_ABSOLUTE | VRIO_SEEK_READ), VRIO_S_NOERR);
  EXPECT_EQ(read_once(&s, &rc), "0AB3456789");
  ASSERT_EQ(vrio_seek(&s, 12, &at, nullptr, VRIO_SEEK_ABSOLUTE | VRIO_SEEK_WRITE), VRIO_S_NOERR);
  ASSERT_EQ(write_all(&s, "Z"), VRIO_S_NOERR);
  int64_t size = 0;
  ASSERT_EQ(vrio_ioctl_size(&s, &size, 0), VRIO_S_NOERR);
  EXPECT_EQ(size, 13) << "the size counts what is still buffered";
  ASSERT_EQ(vrio_close(&s, 0), VRIO_S_NOERR);
  EXPECT_EQ(contents(file), std::string("0AB3456789\0\0Z", 13));
}

// Reads deliver 64 KiB chunks in order; the read-ahead of a file that
// grows does not hide the new bytes.
TEST_P(VrioFileStream, ReadAheadKeepsOrder)
{
  std::string data;
  for (int i = 0; data.size() < 100000; ++i)
    data += std::to_string(i) + ",";
  data.resize(100000);
  std::string file = make_file("big", data);
  VRIO &s = opened(file, VRIO_OPEN_FILE_READ);
  vrio_t_error_code rc;
  std::string first = read_once(&s, &rc);
  EXPECT_EQ(first.size(), 65536u);
  std::string second = read_once(&s, &rc);
  EXPECT_EQ(second.size(), 34464u);
  EXPECT_EQ(first + second, data);
  read_once(&s, &rc);
  EXPECT_EQ(rc, VRIO_E_END_OF_FILE);
  std::ofstream(file, std::ios::app) << "more";
  EXPECT_EQ(read_once(&s, &rc), "more") << "a read at the end sees the file grow";
  read_once(&s, &rc);
  EXPECT_EQ(rc, VRIO_E_END_OF_FILE);
}

// Many small writes, some large, some flushed: the file holds them in
// the order written.
TEST_P(VrioFileStream, WriteBehindKeepsOrder)
{
  std::string file = path("ordered");
  VRIO &s = opened(file, VRIO_OPEN_FILE_WRITE);
  std::string expected;
  for (int i = 0; i < 3000; ++i) {
    std::string piece = std::to_string(i) + (i % 97 == 0 ? std::string(70000, 'x') : ";");
    ASSERT_EQ(write_all(&s, piece, i % 13 == 0 ? VRIO_WRITE_FLUSH : 0), VRIO_S_NOERR) << i;
    expected += piece;
    if (i % 500 == 0) {
      ASSERT_EQ(vrio_sync(&s, VRIO_SYNC_WRITE), VRIO_S_NOERR);
    }
  }
  ASSERT_EQ(vrio_close(&s, 0), VRIO_S_NOERR);
  EXPECT_TRUE(contents(file) == expected) << "contents differ";
}

// Kept to a few seconds where every access is instrumented or emulated.
#if defined(TRELIX_SANITIZE) || defined(VRIO_TSAN)
constexpr size_t copy_size = 1 << 20;
#elif defined(TRELIX_EMULATED)
constexpr size_t copy_size = 4 << 20;
#else
constexpr size_t copy_size = 24 << 20;
#endif

vrio_t_error_code push_text(VRIO *s, bool reading)
{
  vrio_t_coder *c = open_coder("UTF-8", reading ? VRIO_CODER_OPEN_DECODE : 0);
  vrio_t_property args[] = {
      arg_pointer(reading ? "read-char-coder vrio_t_coder" : "write-char-coder vrio_t_coder", c),
      arg_end()};
  vrio_t_error_code rc = vrio_push_by_name("char-coder", s, args, 0);
  if (rc < 0)
    vrio_char_coder_close(c);
  return rc;
}

// A large file copied from one stream to another, as bytes and as UTF-8
// text, compares equal.  (tests/bench/vrio_copy_bench.cpp times 100 MB.)
TEST_P(VrioFileStream, LargeCopyThroughTwoStreams)
{
  std::string data;
  data.reserve(copy_size);
  const char *words[] = {"line ", "caf\xC3\xA9 ", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\n"};
  for (unsigned i = 0; data.size() < copy_size; ++i)
    data += words[(i * 7 + i / 3) % 5];
  std::string source = make_file("source", data);
  for (bool text : {false, true}) {
    std::string target = path(text ? "text-copy" : "byte-copy");
    VRIO &in = opened(source, VRIO_OPEN_FILE_READ);
    VRIO &out = opened(target, VRIO_OPEN_FILE_WRITE);
    if (text) {
      ASSERT_EQ(push_text(&in, true), VRIO_S_NOERR);
      ASSERT_EQ(push_text(&out, false), VRIO_S_NOERR);
    }
    vrio_t_buf *buf = vrio_buf_alloc(nullptr, 0, 0);
    vrio_t_error_code rc;
    for (;;) {
      buf->extent = 0;
      rc = vrio_read(&in, &buf, text ? VRIO_READ_CHARS : VRIO_READ_BYTES);
      if (rc < 0)
        break;
      size_t offset = 0;
      ASSERT_EQ(vrio_write(&out, buf, &offset,
                           VRIO_WRITE_ALL | (text ? VRIO_WRITE_CHARS : VRIO_WRITE_BYTES)),
                VRIO_S_NOERR);
    }
    vrio_buf_free(buf);
    EXPECT_EQ(rc, VRIO_E_END_OF_FILE);
    ASSERT_EQ(vrio_close(&in, 0), VRIO_S_NOERR);
    ASSERT_EQ(vrio_close(&out, 0), VRIO_S_NOERR);
    std::string copy = contents(target);
    EXPECT_EQ(copy.size(), data.size()) << (text ? "text" : "bytes");
    EXPECT_TRUE(copy == data) << (text ? "text" : "bytes") << ": the copy differs";
  }
}

// A pipe as a descriptor: data in order, end of file once the writer has
// closed (also when the read-ahead met it), no seeking.
TEST_P(VrioFileStream, PipeReadsToEndOfFile)
{
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  VRIO s = nullptr;
  ASSERT_EQ(over_fd(&s, fds[0], VRIO_FD_READ), VRIO_S_NOERR);
  open_streams.push_back(s);
  VRIO &r = open_streams.back();
  ASSERT_EQ(::write(fds[1], "hello", 5), 5);
  vrio_t_error_code rc;
  EXPECT_EQ(read_once(&r, &rc), "hello");
  EXPECT_EQ(read_once(&r, &rc, VRIO_READ_BYTES | VRIO_READ_NONBLOCKING), "");
  EXPECT_EQ(rc, VRIO_E_WOULD_BLOCK) << "the writer is still open";
  vrio_t_event *readable = nullptr;
  ASSERT_EQ(vrio_ioctl_readable_event(&r, &readable, 0), VRIO_S_NOERR);
  ASSERT_EQ(::write(fds[1], "world", 5), 5);
  vrio_t_timespec limit = ms(10000);
  EXPECT_GE(vrio_event_wait(&readable, 1, &limit), 1) << "data makes the stream readable";
  EXPECT_EQ(read_once(&r, &rc), "world");
  ::close(fds[1]);
  // The read-ahead issued after "world" meets the end of file.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(read_once(&r, &rc), "");
  EXPECT_EQ(rc, VRIO_E_END_OF_FILE);
  vrio_t_offset at;
  EXPECT_EQ(vrio_seek(&r, 0, &at, nullptr, VRIO_SEEK_ABSOLUTE), VRIO_E_SEEK_ERROR);
  vrio_t_device_type type;
  ASSERT_EQ(vrio_ioctl_device_type(&r, &type, 0), VRIO_S_NOERR);
  EXPECT_EQ(type, VRIO_DEVICE_TYPE_FIFO);
  ASSERT_EQ(vrio_close(&r, 0), VRIO_S_NOERR);
  EXPECT_EQ(::fcntl(fds[0], F_GETFD), -1) << "the stream owned the descriptor";
}

// Closing the read side while a read waits for a pipe or terminal that
// stays silent returns promptly; the descriptor is the caller's when not
// owned.
TEST_P(VrioFileStream, CloseWhileAReadIsPending)
{
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  int tty_master = ::posix_openpt(O_RDWR | O_NOCTTY);
  int tty = -1;
  if (tty_master >= 0 && ::grantpt(tty_master) == 0 && ::unlockpt(tty_master) == 0)
    tty = ::open(::ptsname(tty_master), O_RDWR | O_NOCTTY);
  struct device {
    const char *what;
    int fd;
  } devices[] = {{"pipe", fds[0]}, {"terminal", tty}};
  for (const auto &d : devices) {
    if (d.fd < 0) {
      std::printf("no terminal here: only the pipe is tried\n");
      continue;
    }
    VRIO s = nullptr;
    ASSERT_EQ(over_fd(&s, d.fd, VRIO_FD_READ | VRIO_FD_NOT_OWNED), VRIO_S_NOERR) << d.what;
    vrio_t_error_code rc;
    read_once(&s, &rc, VRIO_READ_BYTES | VRIO_READ_NONBLOCKING); // starts a read that waits
    EXPECT_EQ(rc, VRIO_E_WOULD_BLOCK) << d.what;
    auto start = clock_type::now();
    EXPECT_EQ(vrio_close(&s, 0), VRIO_S_NOERR) << d.what;
    auto took = std::chrono::duration_cast<std::chrono::milliseconds>(clock_type::now() - start);
    EXPECT_LT(took.count(), 3000) << d.what << ": the pending read held the close";
    EXPECT_EQ(s, nullptr);
    EXPECT_NE(::fcntl(d.fd, F_GETFD), -1) << d.what << ": not owned, not closed";
  }
  ::close(fds[0]);
  ::close(fds[1]);
  if (tty >= 0)
    ::close(tty);
  if (tty_master >= 0)
    ::close(tty_master);
}

// A socket as a descriptor: both ways, and closing the stream shuts the
// socket down, so the other end sees the end of the data.
TEST_P(VrioFileStream, SocketBothWays)
{
  int sv[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
  VRIO s = nullptr;
  ASSERT_EQ(over_fd(&s, sv[0], VRIO_FD_READ | VRIO_FD_WRITE), VRIO_S_NOERR);
  vrio_t_device_type type;
  ASSERT_EQ(vrio_ioctl_device_type(&s, &type, 0), VRIO_S_NOERR);
  EXPECT_EQ(type, VRIO_DEVICE_TYPE_SOCKET);
  ASSERT_EQ(write_all(&s, "ping"), VRIO_S_NOERR);
  ASSERT_EQ(vrio_sync(&s, VRIO_SYNC_WRITE), VRIO_S_NOERR);
  char got[8] = {};
  EXPECT_EQ(::read(sv[1], got, sizeof got), 4);
  EXPECT_STREQ(got, "ping");
  ASSERT_EQ(::write(sv[1], "pong", 4), 4);
  vrio_t_error_code rc;
  EXPECT_EQ(read_once(&s, &rc), "pong");
  ASSERT_EQ(vrio_close(&s, VRIO_CLOSE_WRITE), VRIO_S_NOERR);
  EXPECT_EQ(::read(sv[1], got, sizeof got), 0) << "the write half was shut down";
  ::close(sv[1]);
  read_once(&s, &rc);
  EXPECT_EQ(rc, VRIO_E_END_OF_FILE);
  ASSERT_EQ(vrio_close(&s, 0), VRIO_S_NOERR);
  EXPECT_EQ(s, nullptr);
}

// Writing to a pipe whose reader has gone: the error comes with the next
// call that collects the outcome, and again until an abortive close.
TEST_P(VrioFileStream, WriteToAPipeWithoutReader)
{
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ::close(fds[0]);
  VRIO s = nullptr;
  ASSERT_EQ(over_fd(&s, fds[1], VRIO_FD_WRITE), VRIO_S_NOERR);
  EXPECT_EQ(write_all(&s, "lost"), VRIO_S_NOERR) << "queued";
  EXPECT_EQ(vrio_sync(&s, VRIO_SYNC_WRITE), VRIO_E_NET_CONNRESET);
  EXPECT_EQ(vrio_sync(&s, VRIO_SYNC_WRITE), VRIO_E_NET_CONNRESET) << "reported again";
  EXPECT_EQ(vrio_close(&s, 0), VRIO_E_NET_CONNRESET);
  ASSERT_NE(s, nullptr) << "a failed close leaves the stream";
  EXPECT_EQ(vrio_close(&s, VRIO_CLOSE_ABORTIVE), VRIO_S_NOERR);
  EXPECT_EQ(s, nullptr);
}

// Text streams over a file: detection gives the bytes back, a sync of the
// read side leaves the file just after the last decoded byte, and seeks
// outside the read-ahead reach the file.
TEST_P(VrioFileStream, TextStreamsOverFiles)
{
  std::string file = make_file("marked", "\xEF\xBB\xBF" "abc");
  VRIO &s = opened(file, VRIO_OPEN_FILE_READ);
  vrio_t_coder_funcs *found = nullptr;
  ASSERT_EQ(vrio_detect_file_encoding(&s, &found, 0), VRIO_S_NOERR);
  EXPECT_STREQ(found->name, "UTF-8");
  vrio_coder_funcs_release(found);
  vrio_t_error_code rc;
  EXPECT_EQ(read_once(&s, &rc), "\xEF\xBB\xBF" "abc") << "detection consumed nothing";

  std::string latin = make_file("latin", "0123456789");
  VRIO &t = opened(latin, VRIO_OPEN_FILE_READ);
  vrio_t_coder *c = open_coder("ISO-8859-1", VRIO_CODER_OPEN_DECODE);
  vrio_t_property args[] = {arg_pointer("read-char-coder vrio_t_coder", c), arg_end()};
  ASSERT_EQ(vrio_push_by_name("char-coder", &t, args, 0), VRIO_S_NOERR);
  std::string chars = read_once(&t, &rc, VRIO_READ_CHARS);
  EXPECT_EQ(chars.size(), 40u);
  vrio_t_offset at;
  ASSERT_EQ(vrio_seek(&t, 8, &at, nullptr, VRIO_SEEK_ABSOLUTE), VRIO_S_NOERR);
  EXPECT_EQ(read_once(&t, &rc, VRIO_READ_CHARS).size(), 32u);
  read_once(&t, &rc, VRIO_READ_CHARS);
  EXPECT_EQ(rc, VRIO_E_END_OF_FILE) << "the read-ahead is gone now";
  ASSERT_EQ(vrio_seek(&t, 4, &at, nullptr, VRIO_SEEK_ABSOLUTE), VRIO_S_NOERR)
      << "so this seek reaches the file";
  std::string rest = read_once(&t, &rc, VRIO_READ_CHARS);
  ASSERT_EQ(rest.size(), 36u);
  EXPECT_EQ(rest[0], '1');

  // Decode part of the read-ahead, then give the rest back to the file.
  ASSERT_EQ(vrio_seek(&t, 4, &at, nullptr, VRIO_SEEK_ABSOLUTE), VRIO_S_NOERR);
  ASSERT_EQ(vrio_sync(&t, VRIO_SYNC_READ), VRIO_S_NOERR);
  ASSERT_EQ(vrio_pop(nullptr, &t, 0), VRIO_S_NOERR);
  EXPECT_EQ(read_once(&t, &rc), "123456789") << "the file continues after the last decoded byte";
}

// The standard streams: not owned, over the layer the environment picks.
TEST_P(VrioFileStream, StandardStreams)
{
  const struct {
    const char *value; // of VRIO_USE_LAYER_THREADDEVICE; null unset
    const char *layer;
  } cases[] = {{nullptr, "threaddevice"}, {"false", "async"}, {"true", "threaddevice"},
               {"FALSE", "threaddevice"}, {"no", "threaddevice"}};
  int saved = ::dup(1);
  int pipe_fds[2];
  ASSERT_EQ(::pipe(pipe_fds), 0);
  ::dup2(pipe_fds[1], 1);
  for (const auto &c : cases) {
    ASSERT_EQ(vrio_init(nullptr, nullptr, nullptr, 1), VRIO_S_NOERR);
    if (c.value != nullptr)
      ::setenv("VRIO_USE_LAYER_THREADDEVICE", c.value, 1);
    else
      ::unsetenv("VRIO_USE_LAYER_THREADDEVICE");
    ASSERT_EQ(vrio_init(nullptr, nullptr, nullptr, 0), VRIO_S_NOERR);
    VRIO out = nullptr;
    ASSERT_EQ(vrio_get_standard_stream(&out, 3), VRIO_S_NOERR);
    EXPECT_STREQ(out->funcs->name, c.layer) << (c.value ? c.value : "unset");
    EXPECT_EQ(vrio_write_dbg(&out, c.layer), VRIO_S_NOERR);
    EXPECT_EQ(vrio_close(&out, 0), VRIO_S_NOERR);
    EXPECT_NE(::fcntl(1, F_GETFD), -1) << "closing standard output left descriptor 1 open";
  }
  ::dup2(saved, 1);
  ::close(saved);
  ::close(pipe_fds[1]);
  char got[200] = {};
  ssize_t n = ::read(pipe_fds[0], got, sizeof got - 1);
  ::close(pipe_fds[0]);
  EXPECT_EQ(std::string(got, n > 0 ? n : 0), "threaddeviceasyncthreaddevicethreaddevicethreaddevice");
  ::unsetenv("VRIO_USE_LAYER_THREADDEVICE");
}

// Started with standard output closed, the library's own pipes and files
// must not become descriptor 1: standard output stays empty (a null stream
// on request) and nothing written elsewhere lands in a library pipe.
TEST_P(VrioFileStream, ClosedStandardOutputStaysClosed)
{
  std::string file = make_file("opened", "x");
  ASSERT_EQ(vrio_init(nullptr, nullptr, nullptr, 1), VRIO_S_NOERR);
  int saved = ::dup(1);
  ::close(1);
  ::setenv("VRIO_USE_LAYER_THREADDEVICE", std::string(GetParam()) == "async" ? "false" : "true", 1);
  vrio_t_error_code started = vrio_init(nullptr, nullptr, nullptr, 0);
  VRIO f = nullptr;
  vrio_t_error_code opened_rc = open(&f, file, VRIO_OPEN_FILE_READ);
  bool one_free = ::fcntl(1, F_GETFD) == -1 && errno == EBADF;
  VRIO out = nullptr;
  vrio_t_error_code got = vrio_get_standard_stream(&out, 3);
  VRIO err = nullptr;
  vrio_t_error_code got_err = vrio_get_standard_stream(&err, 5);
  ::dup2(saved, 1);
  ::close(saved);
  ASSERT_EQ(started, VRIO_S_NOERR);
  ASSERT_EQ(opened_rc, VRIO_S_NOERR);
  EXPECT_TRUE(one_free) << "a descriptor of the library took number 1";
  EXPECT_EQ(got, VRIO_E_NOT_FOUND) << "no standard output stream over a closed descriptor";
  EXPECT_EQ(got_err, VRIO_S_NOERR) << "standard error was open";
  vrio_close(&err, 0);
  vrio_close(&f, 0);
  ASSERT_EQ(vrio_get_standard_stream(&out, 3 | 8), VRIO_S_NOERR) << "a null stream instead";
  EXPECT_EQ(vrio_write_dbg(&out, "dropped"), VRIO_S_NOERR);
  vrio_close(&out, 0);
  ::unsetenv("VRIO_USE_LAYER_THREADDEVICE");
}

// Opening a file the mode bits forbid, as a user without privileges (root
// would be let through).  Opening starts no thread; the stream opened is
// left to the end of the process.
TEST_P(VrioFileStream, PermissionDenied)
{
  std::string secret = make_file("secret", "x");
  ASSERT_EQ(::chmod(secret.c_str(), 0444), 0);
  ASSERT_EQ(::chmod(scratch.c_str(), 0555), 0);
  unprivileged_run run = run_unprivileged([&] {
    VRIO s = nullptr, t = nullptr, u = nullptr;
    return open(&s, secret, VRIO_OPEN_FILE_READ) == VRIO_S_NOERR &&
           open(&t, secret, VRIO_OPEN_FILE_WRITE) == VRIO_E_PERMISSION_ERROR &&
           open(&u, path("new"), VRIO_OPEN_FILE_WRITE) == VRIO_E_PERMISSION_ERROR;
  });
  if (run == unprivileged_run::cannot_drop_root)
    GTEST_SKIP() << "running as root and unable to become an unprivileged user";
  EXPECT_EQ(run, unprivileged_run::passed)
      << "unprivileged: reading a 0444 file works, writing it and creating a file in a 0555 "
         "directory give VRIO_E_PERMISSION_ERROR";
}

} // namespace
