// Copying a file through the I/O library, read stream to write stream,
// next to `cat` on the same file: bytes over the threaddevice and async
// layers, and UTF-8 text (decoded to characters and encoded again) over
// each.  Every copy is compared with the original.
//
// Not a test: `bench_vrio_copy [megabytes] [directory]` (100 MB in the
// temporary directory by default) prints the throughputs.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "run_mode.h"
#include "vostrel/vrio.h"

namespace {

using clock_type = std::chrono::steady_clock;

double seconds_since(clock_type::time_point start)
{
  return std::chrono::duration<double>(clock_type::now() - start).count();
}

// UTF-8 text with one-, two-, three- and four-byte characters and short
// lines, in whole characters.
void make_source(const std::string &path, size_t bytes)
{
  std::string block;
  const char *words[] = {"line ", "caf\xC3\xA9 ", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\n",
                         "the quick brown fox "};
  for (unsigned i = 0; block.size() < (1u << 20); ++i)
    block += words[(i * 7 + i / 3) % 6];
  std::ofstream out(path, std::ios::binary);
  for (size_t written = 0; written < bytes; written += block.size())
    out << block;
}

bool same_files(const std::string &a, const std::string &b)
{
  std::ifstream x(a, std::ios::binary), y(b, std::ios::binary);
  std::vector<char> p(1 << 20), q(1 << 20);
  for (;;) {
    x.read(p.data(), static_cast<std::streamsize>(p.size()));
    y.read(q.data(), static_cast<std::streamsize>(q.size()));
    if (x.gcount() != y.gcount() || std::memcmp(p.data(), q.data(), x.gcount()) != 0)
      return false;
    if (x.gcount() == 0)
      return true;
  }
}

vrio_t_error_code open_file(const char *layer, const std::string &path, vrio_t_bits options,
                            VRIO *s)
{
  vrio_t_property args[2] = {};
  args[0].key = "pathname";
  args[0].v.flags = VRIO_VARIANT_STRING;
  args[0].v.u.string = const_cast<char *>(path.c_str());
  args[1].v.flags = VRIO_VARIANT_END;
  return vrio_open_by_name(layer, s, args, options);
}

vrio_t_error_code push_utf8(VRIO *s, bool decode)
{
  vrio_t_coder_funcs *funcs;
  vrio_t_error_code rc = vrio_char_coder_find(&funcs, "UTF-8", nullptr, 0);
  if (rc < 0)
    return rc;
  vrio_t_coder *coder;
  rc = vrio_char_coder_open(funcs, &coder, nullptr, decode ? VRIO_CODER_OPEN_DECODE : 0);
  vrio_coder_funcs_release(funcs);
  if (rc < 0)
    return rc;
  vrio_t_property args[2] = {};
  args[0].key = decode ? "read-char-coder vrio_t_coder" : "write-char-coder vrio_t_coder";
  args[0].v.flags = VRIO_VARIANT_POINTER;
  args[0].v.u.p = coder;
  args[1].v.flags = VRIO_VARIANT_END;
  rc = vrio_push_by_name("char-coder", s, args, 0);
  if (rc < 0)
    vrio_char_coder_close(coder);
  return rc;
}

// Seconds for one copy, or a negative number when it failed.
double library_copy(const char *layer, bool text, const std::string &from, const std::string &to)
{
  VRIO in = nullptr, out = nullptr;
  if (open_file(layer, from, VRIO_OPEN_FILE_READ, &in) < 0 ||
      open_file(layer, to, VRIO_OPEN_FILE_WRITE, &out) < 0)
    return -1;
  auto start = clock_type::now();
  if (text && (push_utf8(&in, true) < 0 || push_utf8(&out, false) < 0))
    return -1;
  vrio_t_buf *buf = vrio_buf_alloc(nullptr, 0, 0);
  vrio_t_bits unit = text ? VRIO_READ_CHARS : VRIO_READ_BYTES;
  vrio_t_error_code rc;
  for (;;) {
    buf->extent = 0;
    rc = vrio_read(&in, &buf, unit);
    if (rc < 0)
      break;
    size_t offset = 0;
    rc = vrio_write(&out, buf, &offset, VRIO_WRITE_ALL | unit);
    if (rc < 0)
      break;
  }
  vrio_buf_free(buf);
  bool ended = rc == VRIO_E_END_OF_FILE;
  bool closed = vrio_close(&in, 0) >= 0 && vrio_close(&out, 0) >= 0;
  double took = seconds_since(start);
  return ended && closed ? took : -1;
}

} // namespace

int main(int argc, char **argv)
{
  size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 100;
  std::string dir = argc > 2 ? argv[2] : (std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp");
  std::string source = dir + "/vrio-bench-source", target = dir + "/vrio-bench-copy";
  print_run_mode();
  make_source(source, megabytes << 20);
  struct stat st;
  stat(source.c_str(), &st);
  double mb = static_cast<double>(st.st_size) / (1 << 20);
  std::printf("copying %.1f MB (UTF-8 text) in %s\n", mb, dir.c_str());

  auto report = [&](const char *what, double took) {
    if (took < 0) {
      std::printf("%-34s failed\n", what);
      return;
    }
    bool same = same_files(source, target);
    std::printf("%-34s %7.3f s %9.1f MB/s%s\n", what, took, mb / took, same ? "" : "  COPY DIFFERS");
    std::remove(target.c_str());
  };
  // cat runs as a native program even where this one is emulated.  The
  // library's close syncs a written file to disk; the second figure adds
  // that to cat's.
  std::string cat = "cat '" + source + "' > '" + target + "'";
  auto start = clock_type::now();
  report("cat (native)", std::system(cat.c_str()) == 0 ? seconds_since(start) : -1);
  std::string cat_sync = cat + " && sync '" + target + "'";
  start = clock_type::now();
  report("cat, then sync (native)", std::system(cat_sync.c_str()) == 0 ? seconds_since(start) : -1);

  if (vrio_init(nullptr, nullptr, nullptr, 0) < 0) {
    std::printf("the I/O library did not start\n");
    return 1;
  }
  for (const char *layer : {"threaddevice", "async"}) {
    for (bool text : {false, true}) {
      std::string what = std::string(layer) + (text ? ", UTF-8 text" : ", bytes");
      report(what.c_str(), library_copy(layer, text, source, target));
    }
  }
  vrio_init(nullptr, nullptr, nullptr, 1);
  std::remove(source.c_str());
  return 0;
}
