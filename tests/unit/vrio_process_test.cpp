// Child processes of the I/O library: each standard descriptor inherited,
// on the null device or on a pipe; the descriptors 0-2 of the parent
// closed (prepared descriptors that land on 0-2 must not overwrite each
// other in the child); no other descriptor reaching the program; exit
// status, death by a signal, waiting without reaping, released children
// reaped later; explicit environments; argument parts; bad handles.
//
// The children are native programs (/bin/sh, /bin/cat): under the
// emulator a 32-bit child could not be executed on every kernel.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "vostrel/vrio.h"
#include "vrio_fixture.h"

namespace {

using VrioProcess = VrioLibrary;

std::string read_all(int fd)
{
  std::string out;
  char buf[4096];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      break;
    out.append(buf, static_cast<size_t>(n));
  }
  return out;
}

void write_all(int fd, const std::string &s)
{
  size_t done = 0;
  while (done < s.size()) {
    ssize_t n = ::write(fd, s.data() + done, s.size() - done);
    if (n < 0 && errno == EINTR)
      continue;
    ASSERT_GT(n, 0) << std::strerror(errno);
    done += static_cast<size_t>(n);
  }
}

// One argument list per text: {"string", text} and the end record.
struct args {
  std::vector<std::vector<vrio_t_property>> lists;
  std::vector<const vrio_t_property *> ptrs;
  explicit args(std::initializer_list<std::vector<const char *>> parts)
  {
    for (const auto &arg : parts) {
      std::vector<vrio_t_property> l;
      for (const char *p : arg) {
        vrio_t_property q{};
        q.key = "string";
        q.v.flags = VRIO_VARIANT_STRING | VRIO_VARIANT_BORROWED_STRING;
        q.v.u.string = const_cast<char *>(p);
        l.push_back(q);
      }
      vrio_t_property end{};
      end.v.flags = VRIO_VARIANT_END;
      l.push_back(end);
      lists.push_back(l);
    }
    for (auto &l : lists)
      ptrs.push_back(l.data());
    ptrs.push_back(nullptr);
  }
  const vrio_t_property *const *get() const { return ptrs.data(); }
};

vrio_t_process_exit_status wait_reaping(vrio_t_os_process_handle h)
{
  vrio_t_process_exit_status st{0, -1};
  EXPECT_EQ(vrio_process_wait(h, nullptr, &st, VRIO_PROCESS_WAIT_REAP), VRIO_S_NOERR);
  return st;
}

// A shell command with the given descriptor choices; pipes come back.
struct child {
  vrio_t_os_process_handle h = 0;
  int in = -1, out = -1, err = -1;
  vrio_t_error_code rc;
  child(const char *script, vrio_t_bits options)
  {
    rc = vrio_process_create(script, nullptr, "/", nullptr, &in, &out, &err, &h,
                             options | VRIO_PROCESS_SHELL);
  }
  ~child()
  {
    for (int fd : {in, out, err})
      if (fd >= 0)
        ::close(fd);
  }
};

constexpr vrio_t_bits IN_INHERIT = VRIO_PROCESS_STDIN_INHERIT, IN_NULL = VRIO_PROCESS_STDIN_NULL,
                      IN_PIPE = VRIO_PROCESS_STDIN_PIPE, OUT_INHERIT = VRIO_PROCESS_STDOUT_INHERIT,
                      OUT_NULL = VRIO_PROCESS_STDOUT_NULL, OUT_PIPE = VRIO_PROCESS_STDOUT_PIPE,
                      ERR_INHERIT = VRIO_PROCESS_STDERR_INHERIT, ERR_NULL = VRIO_PROCESS_STDERR_NULL,
                      ERR_PIPE = VRIO_PROCESS_STDERR_PIPE;

// Each standard descriptor of the child by each of the three choices.  An
// inherited descriptor is tested by putting a pipe on the test's own
// descriptor for the time of the call.
TEST_F(VrioProcess, EachStandardDescriptorInheritedNullOrPiped)
{
  struct {
    const char *name;
    const char *script;
    vrio_t_bits options;
    int redirect;      // the test's own descriptor that gets a pipe, or -1
    const char *input; // written to the child's input (pipe or redirected)
    const char *out, *err;
  } cases[] = {
      {"input piped", "cat; echo done", IN_PIPE | OUT_PIPE | ERR_PIPE, -1, "abc\n", "abc\ndone\n", ""},
      {"input null", "cat; echo done", IN_NULL | OUT_PIPE | ERR_PIPE, -1, nullptr, "done\n", ""},
      {"input inherited", "cat", IN_INHERIT | OUT_PIPE | ERR_PIPE, 0, "from parent\n", "from parent\n", ""},
      {"output null", "echo lost; echo kept >&2", IN_NULL | OUT_NULL | ERR_PIPE, -1, nullptr, nullptr, "kept\n"},
      {"output inherited", "echo inherited", IN_NULL | OUT_INHERIT | ERR_PIPE, 1, nullptr, "inherited\n", ""},
      {"error piped", "echo e1 >&2; echo o1", IN_NULL | OUT_PIPE | ERR_PIPE, -1, nullptr, "o1\n", "e1\n"},
      {"error null", "echo e1 >&2; echo o1", IN_NULL | OUT_PIPE | ERR_NULL, -1, nullptr, "o1\n", nullptr},
      {"error inherited", "echo e2 >&2", IN_NULL | OUT_NULL | ERR_INHERIT, 2, nullptr, nullptr, "e2\n"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    int saved = -1, redirect[2] = {-1, -1};
    if (c.redirect >= 0) {
      ASSERT_EQ(::pipe(redirect), 0);
      saved = ::dup(c.redirect);
      ASSERT_GE(::dup2(redirect[c.redirect == 0 ? 0 : 1], c.redirect), 0);
    }
    child ch(c.script, c.options);
    if (c.redirect >= 0) {
      ASSERT_GE(::dup2(saved, c.redirect), 0);
      ::close(saved);
      ::close(redirect[c.redirect == 0 ? 0 : 1]);
    }
    ASSERT_EQ(ch.rc, VRIO_S_NOERR);
    EXPECT_EQ(ch.in >= 0, (c.options & IN_PIPE) != 0);
    EXPECT_EQ(ch.out >= 0, (c.options & OUT_PIPE) != 0);
    EXPECT_EQ(ch.err >= 0, (c.options & ERR_PIPE) != 0);
    if (c.input != nullptr) {
      int to = c.redirect == 0 ? redirect[1] : ch.in;
      write_all(to, c.input);
    }
    if (ch.in >= 0) {
      ::close(ch.in);
      ch.in = -1;
    }
    if (c.redirect == 0)
      ::close(redirect[1]);
    std::string out, err;
    if (c.redirect == 1)
      out = read_all(redirect[0]);
    else if (ch.out >= 0)
      out = read_all(ch.out);
    if (c.redirect == 2)
      err = read_all(redirect[0]);
    else if (ch.err >= 0)
      err = read_all(ch.err);
    if (c.redirect > 0)
      ::close(redirect[0]);
    if (c.out != nullptr) {
      EXPECT_EQ(out, c.out);
    }
    if (c.err != nullptr) {
      EXPECT_EQ(err, c.err);
    }
    vrio_t_process_exit_status st = wait_reaping(ch.h);
    EXPECT_EQ(st.flags, VRIO_PROCESS_EXIT_EXITED);
    EXPECT_EQ(st.value, 0);
  }
}

// With 0 and 1 closed in the parent, the pipes it makes could be 0 and 1;
// moving them into place one after the other would put the output pipe on
// 0 before the input pipe was taken from there.
TEST_F(VrioProcess, ParentWithStandardDescriptorsClosed)
{
  const int saved0 = ::dup(0), saved1 = ::dup(1);
  ASSERT_GE(saved0, 0);
  ASSERT_GE(saved1, 0);
  ::close(0);
  ::close(1);
  int in = -1, out = -1;
  vrio_t_os_process_handle h = 0;
  vrio_t_error_code rc = vrio_process_create("/bin/cat", nullptr, "/", nullptr, &in, &out, nullptr,
                                             &h, IN_PIPE | OUT_PIPE | ERR_NULL);
  ::dup2(saved0, 0);
  ::dup2(saved1, 1);
  ::close(saved0);
  ::close(saved1);
  ASSERT_EQ(rc, VRIO_S_NOERR);
  EXPECT_GT(in, 2);
  EXPECT_GT(out, 2);
  write_all(in, "through cat\n");
  ::close(in);
  EXPECT_EQ(read_all(out), "through cat\n");
  ::close(out);
  EXPECT_EQ(wait_reaping(h).flags, VRIO_PROCESS_EXIT_EXITED);
}

// A descriptor the parent leaves inheritable does not reach the program.
TEST_F(VrioProcess, NoOtherDescriptorReachesTheProgram)
{
  int p[2];
  ASSERT_EQ(::pipe(p), 0);
  const int leaked = ::fcntl(p[0], F_DUPFD, 57); // not close-on-exec
  ASSERT_GE(leaked, 57);
  child ch("ls /proc/$$/fd", IN_NULL | OUT_PIPE | ERR_NULL);
  ASSERT_EQ(ch.rc, VRIO_S_NOERR);
  std::string listing = read_all(ch.out);
  EXPECT_EQ(wait_reaping(ch.h).value, 0);
  EXPECT_NE(listing.find("0\n"), std::string::npos) << listing;
  EXPECT_EQ(listing.find(std::to_string(leaked) + "\n"), std::string::npos) << listing;
  for (int fd : {p[0], p[1], leaked})
    ::close(fd);
}

TEST_F(VrioProcess, ExitStatusSignalDeathAndWaiting)
{
  {
    // Not yet ended: would block; waiting without reaping twice gives the
    // same status; reaping, then nothing is left.
    child ch("read x; exit 3", IN_PIPE | OUT_NULL | ERR_NULL);
    ASSERT_EQ(ch.rc, VRIO_S_NOERR);
    vrio_t_process_exit_status st{0, 0};
    EXPECT_EQ(vrio_process_wait(ch.h, nullptr, &st, VRIO_PROCESS_WAIT_NOHANG), VRIO_E_WOULD_BLOCK);
    write_all(ch.in, "go\n");
    EXPECT_EQ(vrio_process_wait(ch.h, nullptr, &st, 0), VRIO_S_NOERR);
    EXPECT_EQ(st.flags, VRIO_PROCESS_EXIT_EXITED);
    EXPECT_EQ(st.value, 3);
    st = {0, 0};
    EXPECT_EQ(vrio_process_wait(ch.h, nullptr, &st, VRIO_PROCESS_WAIT_REAP), VRIO_S_NOERR);
    EXPECT_EQ(st.value, 3);
    EXPECT_EQ(vrio_process_wait(ch.h, nullptr, &st, VRIO_PROCESS_WAIT_REAP), VRIO_E_NOT_FOUND);
  }
  {
    child ch("kill -9 $$", IN_NULL | OUT_NULL | ERR_NULL);
    ASSERT_EQ(ch.rc, VRIO_S_NOERR);
    vrio_t_process_exit_status st = wait_reaping(ch.h);
    EXPECT_EQ(st.flags, VRIO_PROCESS_EXIT_KILLED);
    EXPECT_EQ(st.value, SIGKILL);
  }
  {
    child ch("exec sleep 30", IN_NULL | OUT_NULL | ERR_NULL);
    ASSERT_EQ(ch.rc, VRIO_S_NOERR);
    EXPECT_EQ(vrio_process_kill(ch.h, SIGTERM, 0), VRIO_S_NOERR);
    vrio_t_process_exit_status st = wait_reaping(ch.h);
    EXPECT_EQ(st.flags, VRIO_PROCESS_EXIT_KILLED);
    EXPECT_EQ(st.value, SIGTERM);
    EXPECT_EQ(vrio_process_kill(ch.h, SIGTERM, 0), VRIO_E_NOT_FOUND);
  }
  vrio_t_process_exit_status st;
  EXPECT_EQ(vrio_process_wait(0, nullptr, &st, 0), VRIO_E_PARAMETER_ERROR);
  const vrio_t_timespec ts{1, 0};
  EXPECT_EQ(vrio_process_wait(1, &ts, &st, 0), VRIO_E_NOT_SUPPORTED);
  EXPECT_EQ(vrio_process_kill(0, SIGTERM, 0), VRIO_E_PARAMETER_ERROR);
  EXPECT_EQ(vrio_process_kill(-1, SIGTERM, 0), VRIO_E_PARAMETER_ERROR);
  vrio_t_pid pid;
  EXPECT_EQ(vrio_process_id(0, &pid), VRIO_E_PARAMETER_ERROR);
  EXPECT_EQ(vrio_process_self_id(&pid), VRIO_S_NOERR);
  EXPECT_EQ(pid, ::getpid());
}

// A program that cannot be started is a child that exits with 1.
TEST_F(VrioProcess, MissingProgramExitsWithOne)
{
  vrio_t_os_process_handle h = 0;
  ASSERT_EQ(vrio_process_create("/no/such/program", nullptr, "/", nullptr, nullptr, nullptr, nullptr,
                                &h, IN_NULL | OUT_NULL | ERR_NULL),
            VRIO_S_NOERR);
  vrio_t_process_exit_status st = wait_reaping(h);
  EXPECT_EQ(st.flags, VRIO_PROCESS_EXIT_EXITED);
  EXPECT_EQ(st.value, 1);
  // Neither is a missing working directory a failure of the parent.
  ASSERT_EQ(vrio_process_create("/bin/true", nullptr, "/no/such/dir", nullptr, nullptr, nullptr,
                                nullptr, &h, IN_NULL | OUT_NULL | ERR_NULL),
            VRIO_S_NOERR);
  EXPECT_EQ(wait_reaping(h).value, 1);
  // No choice for a descriptor: nothing started.
  EXPECT_EQ(vrio_process_create("/bin/true", nullptr, "/", nullptr, nullptr, nullptr, nullptr, &h,
                                IN_NULL | OUT_NULL),
            VRIO_E_INTERNAL_ERROR);
}

// Argument parts join into one argument; an unknown part kind is refused.
TEST_F(VrioProcess, ArgumentsFromParts)
{
  args a({{"-c"}, {"printf '%s|' \"$@\""}, {"sh"}, {"a", "b"}, {"c"}, {"", ""}});
  int out = -1;
  vrio_t_os_process_handle h = 0;
  ASSERT_EQ(vrio_process_create("/bin/sh", a.get(), "/tmp", nullptr, nullptr, &out, nullptr, &h,
                                IN_NULL | OUT_PIPE | ERR_NULL),
            VRIO_S_NOERR);
  EXPECT_EQ(read_all(out), "ab|c||");
  ::close(out);
  EXPECT_EQ(wait_reaping(h).value, 0);

  args bad({{"x"}});
  bad.lists[0][0].key = "socket";
  EXPECT_EQ(vrio_process_create("/bin/true", bad.get(), "/", nullptr, nullptr, nullptr, nullptr, &h,
                                IN_NULL | OUT_NULL | ERR_NULL),
            VRIO_E_OUT_OF_MEMORY);
}

// The explicit environment is merged over the snapshot (the entries win);
// the library's own properties never reach a child; with the empty base
// only the entries are there.
TEST_F(VrioProcess, ExplicitEnvironment)
{
  ASSERT_EQ(vrio_init(nullptr, nullptr, nullptr, 1), VRIO_S_NOERR);
  ::setenv("TRELIX_PROC_KEPT", "kept", 1);
  ::setenv("TRELIX_PROC_PATH", "old", 1);
  ASSERT_EQ(vrio_init(nullptr, nullptr, nullptr, 0), VRIO_S_NOERR);
  ASSERT_EQ(vrio_set_system_property("TRELIX_PROC_OWN", "library"), VRIO_S_NOERR);
  const char *script = "echo \"$TRELIX_PROC_PATH/$TRELIX_PROC_KEPT/$TRELIX_PROC_OWN/$TRELIX_PROC_NEW\"";
  struct {
    const char *name;
    std::vector<const char *> entries; // ends with nullptr
    vrio_t_bits options;
    const char *expected;
  } cases[] = {
      {"none given: the snapshot", {nullptr}, VRIO_PROCESS_ENV, "old/kept//\n"},
      {"k=v entries win",
       {"TRELIX_PROC_PATH=/x", "TRELIX_PROC_NEW=n", nullptr},
       VRIO_PROCESS_ENV | VRIO_PROCESS_ENV_KEY_EQ_VALUE,
       "/x/kept//n\n"},
      {"k\\0v\\0 entries", {"TRELIX_PROC_NEW\0v2", nullptr}, VRIO_PROCESS_ENV, "old/kept//v2\n"},
      {"empty base",
       {"TRELIX_PROC_NEW=only", nullptr},
       VRIO_PROCESS_ENV | VRIO_PROCESS_ENV_KEY_EQ_VALUE | VRIO_PROCESS_ENV_EMPTY,
       "///only\n"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    int out = -1;
    vrio_t_os_process_handle h = 0;
    ASSERT_EQ(vrio_process_create(script, nullptr, "/", c.entries.data(), nullptr, &out, nullptr, &h,
                                  c.options | VRIO_PROCESS_SHELL | IN_NULL | OUT_PIPE | ERR_NULL),
              VRIO_S_NOERR);
    EXPECT_EQ(read_all(out), c.expected);
    ::close(out);
    EXPECT_EQ(wait_reaping(h).value, 0);
  }
  const char *none[] = {nullptr};
  vrio_t_os_process_handle h = 0;
  EXPECT_EQ(vrio_process_create("/bin/true", nullptr, "/", none, nullptr, nullptr, nullptr, &h,
                                VRIO_PROCESS_ENV | VRIO_PROCESS_ENV_EMPTY | IN_NULL | OUT_NULL | ERR_NULL),
            VRIO_E_PARAMETER_ERROR);
  ::unsetenv("TRELIX_PROC_KEPT");
  ::unsetenv("TRELIX_PROC_PATH");
}

// Released children: one that has ended is reaped at once, running ones
// stay listed until a later wait reaps them (none is left a zombie).
TEST_F(VrioProcess, ReleasedChildrenAreReapedLater)
{
  std::vector<vrio_t_os_process_handle> running;
  std::vector<int> inputs;
  for (int i = 0; i < 3; ++i) {
    child ch("read x", IN_PIPE | OUT_NULL | ERR_NULL);
    ASSERT_EQ(ch.rc, VRIO_S_NOERR);
    EXPECT_EQ(vrio_process_release(ch.h, 0), VRIO_E_WOULD_BLOCK);
    EXPECT_EQ(vrio_process_release(ch.h, VRIO_PROCESS_RELEASE_KEEP_RUNNING), VRIO_S_NOERR);
    running.push_back(ch.h);
    inputs.push_back(ch.in);
    ch.in = -1;
  }
  for (int fd : inputs)
    ::close(fd); // each child reads end of file and exits
  // Wait (without reaping) until each has ended, then let another wait
  // reap the list.
  for (vrio_t_os_process_handle h : running) {
    siginfo_t info{};
    ASSERT_EQ(::waitid(P_PID, static_cast<id_t>(h), &info, WEXITED | WNOWAIT), 0);
  }
  child other("exit 0", IN_NULL | OUT_NULL | ERR_NULL);
  ASSERT_EQ(other.rc, VRIO_S_NOERR);
  EXPECT_EQ(wait_reaping(other.h).value, 0);
  for (vrio_t_os_process_handle h : running) {
    siginfo_t info{};
    EXPECT_EQ(::waitid(P_PID, static_cast<id_t>(h), &info, WEXITED | WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
  }
  // A null handle pointer releases at once; the child is still reaped.
  int out = -1;
  ASSERT_EQ(vrio_process_create("echo released", nullptr, "/", nullptr, nullptr, &out, nullptr,
                                nullptr, VRIO_PROCESS_SHELL | IN_INHERIT | OUT_PIPE | ERR_INHERIT),
            VRIO_S_NOERR);
  EXPECT_EQ(read_all(out), "released\n");
  ::close(out);
}

} // namespace

namespace {

// The runtime ignores SIGPIPE and SIGVTALRM; a program it starts must get
// their default actions (a writer to a closed pipe ends as it expects).
TEST_F(VrioProcess, IgnoredSignalsAreNotInherited)
{
  struct sigaction ignore {}, old_pipe {}, old_vtalrm {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  ASSERT_EQ(::sigaction(SIGPIPE, &ignore, &old_pipe), 0);
  ASSERT_EQ(::sigaction(SIGVTALRM, &ignore, &old_vtalrm), 0);
  child ch("grep SigIgn /proc/$$/status", IN_NULL | OUT_PIPE | ERR_NULL);
  ::sigaction(SIGPIPE, &old_pipe, nullptr);
  ::sigaction(SIGVTALRM, &old_vtalrm, nullptr);
  ASSERT_EQ(ch.rc, VRIO_S_NOERR);
  const std::string line = read_all(ch.out);
  EXPECT_EQ(wait_reaping(ch.h).value, 0);
  ASSERT_EQ(line.rfind("SigIgn:", 0), 0u) << line;
  const unsigned long long mask = std::stoull(line.substr(7), nullptr, 16);
  EXPECT_EQ(mask & (1ull << (SIGPIPE - 1)), 0u) << line;
  EXPECT_EQ(mask & (1ull << (SIGVTALRM - 1)), 0u) << line;
}

} // namespace
