// Files for the I/O library's tests: the library started, and a scratch
// directory of the case's own that is removed afterwards.
#pragma once
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "vostrel/vrio.h"
#include "vrio_fixture.h"

struct VrioFiles : VrioLibrary {
  std::string scratch;

  void SetUp() override
  {
    VrioLibrary::SetUp();
    char name[] = "/tmp/vrio-test-XXXXXX";
    ASSERT_NE(::mkdtemp(name), nullptr);
    scratch = name;
  }
  void TearDown() override
  {
    std::error_code ignored;
    for (auto &e : std::filesystem::recursive_directory_iterator(scratch, ignored))
      std::filesystem::permissions(e.path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(scratch, ignored);
    VrioLibrary::TearDown();
  }
  std::string path(const std::string &name) const { return scratch + "/" + name; }
  std::string make_file(const std::string &name, const std::string &text) const
  {
    std::ofstream(path(name), std::ios::binary) << text;
    return path(name);
  }
  static std::string contents(const std::string &file)
  {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
  }
};

// Runs `check` as a user without privileges: here when the process has
// none, else in a child that gives root's up first (root would pass the
// permission checks).  The child must not start threads: under the
// user-mode emulator a forked child of a threaded program cannot.
enum class unprivileged_run { passed, failed, cannot_drop_root };
inline unprivileged_run run_unprivileged(const std::function<bool()> &check)
{
  if (::geteuid() != 0)
    return check() ? unprivileged_run::passed : unprivileged_run::failed;
  pid_t child = ::fork();
  if (child < 0)
    return unprivileged_run::failed;
  if (child == 0) {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0)
      ::_exit(2);
    ::_exit(check() ? 0 : 1);
  }
  int status = 0;
  if (::waitpid(child, &status, 0) != child || !WIFEXITED(status))
    return unprivileged_run::failed;
  return WEXITSTATUS(status) == 0   ? unprivileged_run::passed
         : WEXITSTATUS(status) == 2 ? unprivileged_run::cannot_drop_root
                                    : unprivileged_run::failed;
}
