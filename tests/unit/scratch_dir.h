// A directory of a test's own under $TMPDIR (else /tmp), for tests that
// write files through the runtime; removed with everything in it.
#ifndef TRELIX_TESTS_SCRATCH_DIR_H
#define TRELIX_TESTS_SCRATCH_DIR_H

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

struct scratch_dir {
  std::string dir;

  // False when no directory could be made.
  bool make(const char *prefix)
  {
    const char *tmp = std::getenv("TMPDIR");
    std::string templ = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/" + prefix + "_XXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) == nullptr)
      return false;
    dir = buf.data();
    return true;
  }
  // False when something could not be removed.
  bool remove()
  {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return !ec;
  }
  std::string path(const char *name) const { return dir + "/" + name; }
};

#endif
