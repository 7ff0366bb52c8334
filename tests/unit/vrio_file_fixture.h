// Files for the I/O library's tests: the library started, and a scratch
// directory of the case's own that is removed afterwards.
#pragma once
#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
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
