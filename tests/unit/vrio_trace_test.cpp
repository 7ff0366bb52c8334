// Trace lines and assertion failures of the I/O library.  The trace stream
// is chosen once per process, at its first use; every case runs in a
// process of its own (CTest runs the cases one by one).
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "death_tests.h"
#include "vostrel/vrio.h"

namespace {

std::string file_contents(const std::string &path)
{
  std::ifstream in(path);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::string temp_path(const char *name)
{
  return (::testing::TempDir() + name + std::to_string(getpid()));
}

TEST(VrioTrace, LevelsAndLineFormat)
{
  std::string path = temp_path("vrio_trace");
  setenv("VRIO_TRACE_FILE", path.c_str(), 1);
  unsetenv("VRIO_TRACE_LEVEL");
  ASSERT_EQ(vrio_init_debug(0), VRIO_S_NOERR);
  ::testing::internal::CaptureStderr();
  vrio_trace_line("fun", "file.c", 12, "level one", 1, "hidden", 1);
  vrio_trace_line("fun", "file.c", 12, "level two", 5, "shown", 2);
  std::string notice = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(notice, "VRIO_TRACE_FILE == \"" + path + "\"\n") << "at the first line written";
  vrio_trace_line(nullptr, "file.c", 13, "no function", -1, nullptr, 3);
  vrio_trace_line_lls("f2", "g.c", 1, "two", 3, 4, "s", 2);
  vrio_trace_line_p("f3", "h.c", 2, "pointer", reinterpret_cast<void *>(0xbeef), "p", 2);
  std::string text = file_contents(path);
  std::remove(path.c_str());
  char head[100];
  std::snprintf(head, sizeof head, "0x%lx@%ld VRIO ", static_cast<unsigned long>(pthread_self()),
                static_cast<long>(getpid()));
  EXPECT_EQ(text, std::string("\nfile.c:12 fun() ") + head + "level two (5) shown\n" +
                      "\nfile.c:13 " + head + "no function (-1) \n" +
                      "\ng.c:1 f2() " + head + "two (3) (4) s\n" +
                      "\nh.c:2 f3() " + head + "pointer (0xbeef) p\n");
  EXPECT_EQ(text.find("hidden"), std::string::npos) << "below the level";
  EXPECT_EQ(vrio_debug_stderr(), vrio_debug_stderr()) << "chosen once";
}

TEST(VrioTrace, MissingTraceFileFallsBackToTheDescriptor)
{
  setenv("VRIO_TRACE_FILE", "/nonexistent-directory/trace", 1);
  setenv("VRIO_TRACE_FD", "1", 1);
  setenv("VRIO_TRACE_LEVEL", "0", 1);
  ASSERT_EQ(vrio_init_debug(0), VRIO_S_NOERR);
  ::testing::internal::CaptureStderr();
  ::testing::internal::CaptureStdout();
  vrio_trace_line("f", "x.c", 1, "to stdout", 0, "", 0);
  std::string out = ::testing::internal::GetCapturedStdout();
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, "VRIO_TRACE_FILE == \"/nonexistent-directory/trace\"\n");
  EXPECT_NE(out.find("VRIO to stdout (0)"), std::string::npos) << out;
}

TEST(VrioTrace, NoTraceFileNamed)
{
  unsetenv("VRIO_TRACE_FILE");
  unsetenv("VRIO_TRACE_FD");
  ::testing::internal::CaptureStderr();
  vrio_trace_line("f", "x.c", 1, "to stderr", 0, "", 2);
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(err.rfind("VRIO_TRACE_FILE == NULL\n", 0), 0u) << err;
  EXPECT_NE(err.find("VRIO to stderr"), std::string::npos);
}

TEST(VrioAssert, LevelsAreMatchedExactly)
{
  const struct { const char *value; vrio_t_assertions_level level; } cases[] = {
      {"disable", VRIO_ASSERTION_DISABLE}, {"report", VRIO_ASSERTION_REPORT},
      {"debug", VRIO_ASSERTION_DEBUG},     {"abort", VRIO_ASSERTION_ABORT},
      {"Abort", VRIO_ASSERTION_DEBUG},     {"", VRIO_ASSERTION_DEBUG},
      {"abort ", VRIO_ASSERTION_DEBUG},
  };
  for (auto c : cases) {
    setenv("VRIO_ASSERTION_LEVEL", c.value, 1);
    ASSERT_EQ(vrio_init_debug(0), VRIO_S_NOERR);
    EXPECT_EQ(vrio_assertions, c.level) << '"' << c.value << '"';
  }
}

TEST(VrioAssert, DisabledWritesNothingReportedGoesOn)
{
  setenv("VRIO_TRACE_LEVEL", "9", 1); // assertion lines ignore the level
  setenv("VRIO_ASSERTION_LEVEL", "disable", 1);
  unsetenv("VRIO_TRACE_FILE");
  ASSERT_EQ(vrio_init_debug(0), VRIO_S_NOERR);
  vrio_debug_stderr(); // the notice line comes first, outside the capture
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(vrio_assert_failure("f", "a.c", 7), 0);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  setenv("VRIO_ASSERTION_LEVEL", "report", 1);
  vrio_init_debug(0);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(vrio_assert_failure("f", "a.c", 7), 0);
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("\na.c:7 f() 0x"), std::string::npos) << err;
  EXPECT_NE(err.find("VRIO ASSERTION ERROR! (0) \n"), std::string::npos) << err;
}

TEST(VrioAssertDeathTest, AbortLevelAborts)
{
  use_fresh_process_death_tests();
  setenv("VRIO_ASSERTION_LEVEL", "abort", 1);
  unsetenv("VRIO_TRACE_FILE");
  EXPECT_DEATH(
      {
        vrio_init_debug(0);
        vrio_assert_failure("f", "b.c", 9);
      },
      "b.c:9 f\\(\\) .*ASSERTION ERROR!");
}

TEST(VrioTrace, MainThreadIsTheInitialisingOne)
{
  ASSERT_EQ(vrio_init_debug(0), VRIO_S_NOERR);
  EXPECT_EQ(vrio_is_in_main_thread(), 1);
  int other = -1;
  std::thread([&] { other = vrio_is_in_main_thread(); }).join();
  EXPECT_EQ(other, 0);
  ASSERT_EQ(vrio_init_debug(1), VRIO_S_NOERR);
  std::thread([&] { other = vrio_is_in_main_thread(); }).join();
  EXPECT_EQ(other, 1) << "forgotten: the first thread to ask becomes it";
  EXPECT_EQ(vrio_is_in_main_thread(), 0);
}

} // namespace
