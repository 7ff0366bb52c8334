// Files and directories without streams: status and mode bits, access
// tests (with creation), listings with their filters and non-ASCII names,
// deleting, renaming, the temporary and working directories, user and
// group names, system strings and descriptors (device types, close-on-exec,
// never a standard descriptor, permission errors as a user without
// privileges).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "vostrel/vrio.h"
#include "vrio_file_fixture.h"

namespace {

TEST_F(VrioFiles, TemporaryDirectory)
{
  const struct {
    const char *tmpdir; // null: not set
    const char *expected;
  } cases[] = {{"/var/tmp", "/var/tmp/"}, {"", "/tmp/"}, {"/x/", "/x/"}, {nullptr, "/tmp/"}};
  for (const auto &c : cases) {
    ::unsetenv("TMPDIR");
    ASSERT_EQ(vrio_init(nullptr, nullptr, nullptr, 1), VRIO_S_NOERR);
    if (c.tmpdir != nullptr)
      ::setenv("TMPDIR", c.tmpdir, 1);
    ASSERT_EQ(vrio_init(nullptr, nullptr, nullptr, 0), VRIO_S_NOERR);
    char *dir = nullptr;
    ASSERT_EQ(vrio_temp_directory(&dir, 0), VRIO_S_NOERR);
    EXPECT_STREQ(dir, c.expected) << (c.tmpdir ? c.tmpdir : "unset");
    vrio_free(dir);
  }
  // The library's own property wins over the process environment.
  ASSERT_EQ(vrio_set_system_property("TMPDIR", "/srv/scratch"), VRIO_S_NOERR);
  char *dir = nullptr;
  ASSERT_EQ(vrio_temp_directory(&dir, 0), VRIO_S_NOERR);
  EXPECT_STREQ(dir, "/srv/scratch/");
  vrio_free(dir);
}

TEST_F(VrioFiles, StatusAndModeBits)
{
  std::string file = make_file("f", "12345");
  ASSERT_EQ(::chmod(file.c_str(), 0754), 0);
  std::string dir = path("d");
  ASSERT_EQ(::mkdir(dir.c_str(), 0755), 0);
  ASSERT_EQ(::chmod(dir.c_str(), 0755), 0);

  vrio_t_stat st;
  ASSERT_EQ(vrio_stat(file.c_str(), &st, VRIO_STAT_MODE), VRIO_S_NOERR);
  EXPECT_EQ(st.mode, 0x157u) << "owner rwx, group r-x, others r--";
  ASSERT_EQ(vrio_stat(dir.c_str(), &st, VRIO_STAT_MODE), VRIO_S_NOERR);
  EXPECT_EQ(st.mode, 0x99Bu) << "execute bits of a directory count as search bits";

  ASSERT_EQ(vrio_stat(file.c_str(), &st, 0x3F08), VRIO_S_NOERR);
  EXPECT_EQ(st.mode & 0xFFFF8000u,
            VRIO_MODE_PROCESS_READ | VRIO_MODE_PROCESS_WRITE | VRIO_MODE_PROCESS_EXECUTE)
      << "the owner's bits";
  EXPECT_EQ(st.size, 5u);
  EXPECT_EQ(st.type, 0u);
  EXPECT_EQ(st.owner, ::geteuid());
  EXPECT_EQ(st.group, ::getegid());
  EXPECT_GT(st.modify_time, 1000000000);
  ASSERT_EQ(vrio_stat(dir.c_str(), &st, VRIO_STAT_TYPE | VRIO_STAT_PROCESS_MODE), VRIO_S_NOERR);
  EXPECT_EQ(st.type, 1u);
  EXPECT_EQ(st.mode & VRIO_MODE_PROCESS_SEARCH, VRIO_MODE_PROCESS_SEARCH);
  EXPECT_EQ(st.size, 0u) << "not asked for";

  EXPECT_EQ(vrio_stat(file.c_str(), nullptr, VRIO_STAT_MUST_BE_DIRECTORY),
            VRIO_E_FILE_NOT_DIRECTORY);
  EXPECT_EQ(vrio_stat(dir.c_str(), nullptr, VRIO_STAT_MUST_NOT_BE_DIRECTORY),
            VRIO_E_FILE_IS_DIRECTORY);
  EXPECT_EQ(vrio_stat(path("absent").c_str(), &st, 0), VRIO_E_FILE_NOT_FOUND);
  EXPECT_EQ(vrio_stat((file + "/below").c_str(), &st, 0), VRIO_E_PERMISSION_ERROR)
      << "ENOTDIR";
}

int deinit_calls;

void count_deinit(vrio_t_stat *, void *cookie)
{
  deinit_calls += *static_cast<int *>(cookie);
}

TEST_F(VrioFiles, StatCleanUpEntriesRunOnce)
{
  vrio_t_stat st;
  ASSERT_EQ(vrio_stat(scratch.c_str(), &st, 0), VRIO_S_NOERR);
  int one = 1, ten = 10;
  ASSERT_EQ(vrio_stat_add_deiniter(&st, count_deinit, &one), VRIO_S_NOERR);
  ASSERT_EQ(vrio_stat_add_deiniter(&st, count_deinit, &ten), VRIO_S_NOERR);
  vrio_stat_deinit(&st);
  EXPECT_EQ(deinit_calls, 11);
  vrio_stat_deinit(&st);
  EXPECT_EQ(deinit_calls, 11);
  vrio_stat_deinit(nullptr);
}

TEST_F(VrioFiles, AccessTests)
{
  std::string file = make_file("plain", "x");
  std::string read_only = make_file("read-only", "x");
  ASSERT_EQ(::chmod(read_only.c_str(), 0444), 0);
  std::string script = make_file("script", "x");
  ASSERT_EQ(::chmod(script.c_str(), 0755), 0);
  ASSERT_EQ(::chmod(file.c_str(), 0644), 0);
  const struct {
    const char *why;
    std::string path;
    vrio_t_bits options;
    vrio_t_error_code rc;
  } cases[] = {
      {"readable file", file, VRIO_ACCESS_READ, VRIO_S_NOERR},
      {"writable file", file, VRIO_ACCESS_WRITE | VRIO_ACCESS_READ, VRIO_S_NOERR},
      {"not executable", file, VRIO_ACCESS_EXECUTE, VRIO_E_FILE_ACCESS},
      {"executable", script, VRIO_ACCESS_EXECUTE, VRIO_S_NOERR},
      {"mode says read-only (root too)", read_only, VRIO_ACCESS_WRITE, VRIO_E_FILE_ACCESS},
      {"existing file that could be created", read_only, VRIO_ACCESS_CREATE, VRIO_E_FILE_ACCESS},
      {"no bits to test", read_only, 0, VRIO_S_NOERR},
      {"file as directory", file, VRIO_ACCESS_DIRECTORY, VRIO_E_FILE_NOT_DIRECTORY},
      {"directory without option 0x20", scratch, VRIO_ACCESS_READ, VRIO_E_FILE_IS_DIRECTORY},
      {"searchable directory", scratch, VRIO_ACCESS_DIRECTORY | VRIO_ACCESS_SEARCH, VRIO_S_NOERR},
      {"regular file wanted", "/dev/null", VRIO_ACCESS_REGULAR, VRIO_E_FILE_ACCESS},
      {"missing regular file", path("none"), VRIO_ACCESS_REGULAR | VRIO_ACCESS_CREATE, VRIO_E_FILE_NOT_FOUND},
      {"missing file", path("none"), VRIO_ACCESS_READ, VRIO_E_FILE_NOT_FOUND},
      {"new file in a writable directory", path("new"), VRIO_ACCESS_CREATE | VRIO_ACCESS_WRITE, VRIO_S_NOERR},
      {"new file, trailing slash", path("new/"), VRIO_ACCESS_CREATE, VRIO_S_NOERR},
      {"inside a missing directory", path("none/new"), VRIO_ACCESS_CREATE, VRIO_E_FILE_NOT_FOUND},
      {"inside a file", file + "/new", VRIO_ACCESS_CREATE, VRIO_E_PERMISSION_ERROR},
      {"a name without a directory", "relative-name", VRIO_ACCESS_CREATE, VRIO_E_FILE_NOT_FOUND},
  };
  for (const auto &c : cases)
    EXPECT_EQ(vrio_test_file_access(c.path.c_str(), c.options), c.rc)
        << c.why << ": " << vrio_error_name(vrio_test_file_access(c.path.c_str(), c.options));
  // A directory whose mode forbids writing.
  std::string locked = path("locked");
  ASSERT_EQ(::mkdir(locked.c_str(), 0555), 0);
  EXPECT_EQ(vrio_test_file_access((locked + "/new").c_str(), VRIO_ACCESS_CREATE),
            VRIO_E_FILE_ACCESS);
  ::chmod(locked.c_str(), 0755);
}

TEST_F(VrioFiles, ListingsFilterAndConvertNames)
{
  make_file("a", "");
  make_file("caf\xC3\xA9 \xE2\x82\xAC.txt", "");
  ASSERT_EQ(::mkdir(path("sub").c_str(), 0755), 0);
  auto names = [&](vrio_t_bits options) {
    std::set<std::string> found;
    vrio_t_dir *dir = nullptr;
    EXPECT_EQ(vrio_open_directory(scratch.c_str(), &dir, options), VRIO_S_NOERR);
    vrio_t_dirent *ent;
    vrio_t_error_code rc;
    while ((rc = vrio_read_directory(dir, &ent, 0)) >= 0) {
      const char *name;
      EXPECT_EQ(vrio_dirent_name(ent, &name), VRIO_S_NOERR);
      found.insert(name);
    }
    EXPECT_EQ(rc, VRIO_E_NO_MORE_ENTRIES);
    EXPECT_EQ(vrio_close_directory(dir), VRIO_S_NOERR);
    return found;
  };
  EXPECT_EQ(names(0), (std::set<std::string>{".", "..", "a", "caf\xC3\xA9 \xE2\x82\xAC.txt", "sub"}));
  EXPECT_EQ(names(1), (std::set<std::string>{".", "..", "sub"}));
  EXPECT_EQ(names(2), (std::set<std::string>{"a", "caf\xC3\xA9 \xE2\x82\xAC.txt"}));

  // A name that is not UTF-8 cannot be given out.
  make_file("caf\xE9", "");
  vrio_t_dir *dir = nullptr;
  ASSERT_EQ(vrio_open_directory(scratch.c_str(), &dir, 2), VRIO_S_NOERR);
  vrio_t_dirent *ent;
  int invalid = 0;
  while (vrio_read_directory(dir, &ent, 0) >= 0) {
    const char *name;
    if (vrio_dirent_name(ent, &name) == VRIO_E_INVALID_NAME)
      ++invalid;
  }
  EXPECT_EQ(invalid, 1);
  vrio_close_directory(dir);
  EXPECT_EQ(vrio_close_directory(nullptr), VRIO_S_NOERR);
  EXPECT_EQ(vrio_open_directory(path("none").c_str(), &dir, 0), VRIO_E_FILE_NOT_FOUND);
  EXPECT_EQ(vrio_open_directory(path("a").c_str(), &dir, 0), VRIO_E_PERMISSION_ERROR)
      << "ENOTDIR";
}

TEST_F(VrioFiles, DeleteRenameCreate)
{
  std::string dir = path("full");
  ASSERT_EQ(vrio_create_directory(dir.c_str(), 0), VRIO_S_NOERR);
  EXPECT_EQ(vrio_create_directory(dir.c_str(), 0), VRIO_E_FILE_EXISTS);
  std::string inside = make_file("full/x", "1");
  const struct {
    const char *why;
    std::string path;
    vrio_t_bits options;
    vrio_t_error_code rc;
  } refused[] = {
      {"a directory that is not empty", dir, 1, VRIO_E_DIR_NOT_EMPTY},
      {"a file as directory", inside, 1, VRIO_E_FILE_NOT_DIRECTORY},
      {"a directory as file", dir, 0, VRIO_E_FILE_IS_DIRECTORY},
      {"a missing file", path("none"), 0, VRIO_E_FILE_NOT_FOUND},
      {"options 1 and 4", dir, 1 | 4, VRIO_E_NOT_IMPLEMENTED},
  };
  for (const auto &c : refused)
    EXPECT_EQ(vrio_delete_file(c.path.c_str(), c.options), c.rc) << c.why;
  std::string moved = path("full/y \xC3\xBC");
  ASSERT_EQ(vrio_rename_file(inside.c_str(), moved.c_str(), 0), VRIO_S_NOERR);
  EXPECT_EQ(contents(moved), "1");
  EXPECT_EQ(vrio_rename_file(inside.c_str(), moved.c_str(), 0), VRIO_E_FILE_NOT_FOUND);
  ASSERT_EQ(vrio_delete_file(moved.c_str(), 0), VRIO_S_NOERR);
  ASSERT_EQ(vrio_delete_file(dir.c_str(), 1), VRIO_S_NOERR);
  EXPECT_FALSE(std::filesystem::exists(dir));
}

TEST_F(VrioFiles, WorkingDirectory)
{
  char *cached = nullptr, *process = nullptr;
  ASSERT_EQ(vrio_get_working_directory(&cached, 0), VRIO_S_NOERR);
  ASSERT_EQ(vrio_get_working_directory(&process, 2), VRIO_S_NOERR);
  EXPECT_STREQ(cached, process) << "the cache starts as the process's";
  EXPECT_EQ(vrio_get_working_directory(nullptr, 2), VRIO_S_NOERR) << "a mere test";
  std::string original = process;
  vrio_free(cached);
  vrio_free(process);

  ASSERT_EQ(vrio_set_working_directory("/somewhere/else", 1), VRIO_S_NOERR);
  ASSERT_EQ(vrio_get_working_directory(&cached, 0), VRIO_S_NOERR);
  EXPECT_STREQ(cached, "/somewhere/else");
  vrio_free(cached);
  ASSERT_EQ(vrio_get_working_directory(&process, 2), VRIO_S_NOERR);
  EXPECT_EQ(std::string(process), original) << "only the cache changed";
  vrio_free(process);

  ASSERT_EQ(vrio_set_working_directory(scratch.c_str(), 2), VRIO_S_NOERR);
  ASSERT_EQ(vrio_get_working_directory(&process, 2), VRIO_S_NOERR);
  EXPECT_EQ(std::filesystem::path(process), std::filesystem::canonical(scratch));
  vrio_free(process);
  EXPECT_EQ(vrio_set_working_directory(path("none").c_str(), 3), VRIO_E_FILE_NOT_FOUND);
  ASSERT_EQ(vrio_get_working_directory(&cached, 0), VRIO_S_NOERR);
  EXPECT_STREQ(cached, "/somewhere/else") << "a failed change records nothing";
  vrio_free(cached);
  ASSERT_EQ(::chdir(original.c_str()), 0);
}

TEST_F(VrioFiles, SystemStrings)
{
  const struct {
    const char *why;
    std::string in;
    vrio_t_bits options;
    vrio_t_error_code rc;
    std::string out;
  } cases[] = {
      {"UTF-8 copied", "caf\xC3\xA9", 0, VRIO_S_NOERR, "caf\xC3\xA9"},
      {"Latin-1 refused", "caf\xE9", 0, VRIO_E_ENCODING_INVALID, ""},
      {"Latin-1 read on request", "caf\xE9", 4, static_cast<vrio_t_error_code>(1), "caf\xC3\xA9"},
      {"every high byte", "\x80\xFF", 4, static_cast<vrio_t_error_code>(1), "\xC2\x80\xC3\xBF"},
      {"NUL bytes count", std::string("a\0b", 3), 0, VRIO_S_NOERR, std::string("a\0b", 3)},
      {"option 2", "x", 2, VRIO_E_NOT_SUPPORTED, ""},
  };
  for (const auto &c : cases) {
    char *out = nullptr;
    size_t size = 0;
    EXPECT_EQ(vrio_from_os_unix(c.in.data(), c.in.size(), &out, &size, c.options), c.rc) << c.why;
    if (c.rc < 0)
      continue;
    EXPECT_EQ(std::string(out, size), c.out) << c.why;
    EXPECT_EQ(out[size], '\0') << c.why;
    vrio_free(out);
  }
  const char name[] = "\xC3\xA9t\xC3\xA9";
  char *same = nullptr;
  ASSERT_EQ(vrio_file_name_from_os_unix(name, &same, 1), VRIO_S_NOERR);
  EXPECT_EQ(same, name) << "option 1: no copy of a UTF-8 name";
  ASSERT_EQ(vrio_file_name_for_os_unix(name, &same, 1), VRIO_S_NOERR);
  EXPECT_EQ(same, name);
  ASSERT_EQ(vrio_file_name_for_os_unix(name, &same, 0), VRIO_S_NOERR);
  EXPECT_NE(same, name);
  EXPECT_STREQ(same, name);
  vrio_free(same);
  char *charset = nullptr;
  ASSERT_EQ(vrio_unix_default_charset(&charset), VRIO_S_NOERR);
  EXPECT_NE(std::strlen(charset), 0u);
  vrio_free(charset);
  EXPECT_EQ(vrio_path_root_len("/a/b"), 1);
  EXPECT_EQ(vrio_path_root_len("a/b"), VRIO_E_FILE_NOT_ABSOLUTE);
}

TEST_F(VrioFiles, UserAndGroupNames)
{
  char *name = nullptr;
  ASSERT_EQ(vrio_user_id_name(0, &name, 0), VRIO_S_NOERR);
  EXPECT_STREQ(name, "root");
  vrio_free(name);
  ASSERT_EQ(vrio_group_id_name(0, &name, 0), VRIO_S_NOERR);
  EXPECT_STREQ(name, "root");
  vrio_free(name);
  EXPECT_EQ(vrio_user_id_name(3999999999u, &name, 0), VRIO_E_NOT_FOUND);
  EXPECT_EQ(vrio_group_id_name(3999999999u, &name, 0), VRIO_E_NOT_FOUND);
}

TEST_F(VrioFiles, DescriptorsAndDeviceTypes)
{
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  EXPECT_EQ(vrio_unix_device_type(fds[0]), VRIO_DEVICE_TYPE_FIFO);
  EXPECT_EQ(vrio_unix_device_type(-1), VRIO_DEVICE_TYPE_ILLEGAL);
  ::close(fds[0]);
  ::close(fds[1]);
  EXPECT_EQ(vrio_unix_device_type(fds[0]), VRIO_DEVICE_TYPE_ILLEGAL) << "a closed descriptor";

  std::string file = make_file("data", "0123456789");
  int fd = -1;
  ASSERT_EQ(vrio_unix_open_file(file.c_str(), O_RDONLY, 0, &fd), VRIO_S_NOERR);
  EXPECT_EQ(vrio_unix_device_type(fd), VRIO_DEVICE_TYPE_FILE);
  EXPECT_EQ(::fcntl(fd, F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
  vrio_t_offset size = -1, pos = -1;
  ASSERT_EQ(vrio_unix_file_size(fd, &size), VRIO_S_NOERR);
  EXPECT_EQ(size, 10);
  ASSERT_EQ(::lseek(fd, 4, SEEK_SET), 4);
  ASSERT_EQ(vrio_unix_file_pos(fd, &pos), VRIO_S_NOERR);
  EXPECT_EQ(pos, 4);
  ASSERT_EQ(vrio_unix_SETFD(fd, FD_CLOEXEC, 0), VRIO_S_NOERR);
  EXPECT_EQ(::fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
  EXPECT_EQ(vrio_os_file_handle_close_unix(fd, 2), VRIO_S_NOERR);
  EXPECT_EQ(vrio_os_file_handle_close_unix(fd, 2), VRIO_E_FILE_NOT_FOUND) << "EBADF";
  EXPECT_EQ(vrio_os_file_handle_close_unix(fd, 1 | 2), VRIO_S_NOERR) << "errors ignored";

  int null_fd = -1;
  ASSERT_EQ(vrio_unix_open_file("/dev/null", O_RDWR, 0, &null_fd), VRIO_S_NOERR);
  EXPECT_EQ(vrio_unix_device_type(null_fd), VRIO_DEVICE_TYPE_CHARACTER);
  EXPECT_EQ(vrio_unix_file_size(null_fd, &size), VRIO_E_NOT_SUPPORTED);
  ::close(null_fd);
  int dir_fd = ::open(scratch.c_str(), O_RDONLY | O_DIRECTORY);
  EXPECT_EQ(vrio_unix_device_type(dir_fd), VRIO_DEVICE_TYPE_DIRECTORY);
  ::close(dir_fd);
  int tty = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (tty >= 0) {
    EXPECT_EQ(vrio_unix_device_type(tty), VRIO_DEVICE_TYPE_TTY);
    ::close(tty);
  }

  const struct {
    const char *why;
    std::string path;
    int flags;
    vrio_t_error_code rc;
  } failures[] = {
      {"missing", path("none"), O_RDONLY, VRIO_E_FILE_NOT_FOUND},
      {"exclusive creation of an existing file", file, O_WRONLY | O_CREAT | O_EXCL, VRIO_E_FILE_EXISTS},
      {"a directory for writing", scratch, O_WRONLY, VRIO_E_PERMISSION_ERROR},
  };
  for (const auto &c : failures) {
    int got = -1;
    EXPECT_EQ(vrio_unix_open_file(c.path.c_str(), c.flags, 0666, &got), c.rc) << c.why;
    EXPECT_EQ(got, -1) << c.why;
  }
}

// The library's descriptors stay clear of 0, 1 and 2 even when one of them
// is free, so that nothing it opens can pose as a standard descriptor.
TEST_F(VrioFiles, NewDescriptorsAvoidTheStandardNumbers)
{
  std::string file = make_file("data", "x");
  int saved = ::dup(0);
  ASSERT_GE(saved, 0);
  ::close(0);
  int fd = -1;
  vrio_t_error_code rc = vrio_unix_open_file(file.c_str(), O_RDONLY, 0, &fd);
  vrio_t_event *event = nullptr;
  vrio_t_error_code event_rc = vrio_event_new(0, &event);
  vrio_t_dir *dir = nullptr;
  vrio_t_error_code dir_rc = vrio_open_directory(scratch.c_str(), &dir, 0);
  bool zero_free = ::fcntl(0, F_GETFD) == -1 && errno == EBADF;
  ::dup2(saved, 0);
  ::close(saved);
  ASSERT_EQ(rc, VRIO_S_NOERR);
  EXPECT_GT(fd, 2);
  EXPECT_TRUE(zero_free) << "descriptor 0 stayed closed";
  ::close(fd);
  EXPECT_EQ(event_rc, VRIO_S_NOERR);
  vrio_event_free(event);
  EXPECT_EQ(dir_rc, VRIO_S_NOERR);
  vrio_close_directory(dir);
}

// Opening a file the mode bits forbid: root would be let through, so the
// check runs as a user without privileges.
TEST_F(VrioFiles, PermissionDeniedForAnUnprivilegedUser)
{
  std::string secret = make_file("secret", "x");
  ASSERT_EQ(::chmod(secret.c_str(), 0), 0);
  ASSERT_EQ(::chmod(scratch.c_str(), 0755), 0);
  unprivileged_run run = run_unprivileged([&] {
    int fd = -1;
    return vrio_unix_open_file(secret.c_str(), O_RDONLY, 0, &fd) == VRIO_E_PERMISSION_ERROR &&
           vrio_test_file_access(secret.c_str(), VRIO_ACCESS_READ) == VRIO_E_FILE_ACCESS;
  });
  if (run == unprivileged_run::cannot_drop_root)
    GTEST_SKIP() << "running as root and unable to become an unprivileged user";
  EXPECT_EQ(run, unprivileged_run::passed)
      << "as an unprivileged user: open gives VRIO_E_PERMISSION_ERROR and the access test "
         "VRIO_E_FILE_ACCESS";
}

} // namespace
