// Resources appended to files behind text trailers: the trailer rules (a
// table of small files, each written for its case), a trailer that spans
// the backwards reader's chunks, the cache, and the scan happening once.
// Runs on a runtime brought up by the production start-up without the
// library's Prolog code.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "datadefs.h"
#include "embedded_resources.h"
#include "runtime_fixture.h"
#include "scratch_dir.h"
#include "vostrel/vrio_props.h"

namespace {

struct EmbeddedResources : ::testing::Test {
  worker *w = nullptr;
  scratch_dir scratch;

  void SetUp() override
  {
    w = start_runtime_without_library();
    ASSERT_NE(w, nullptr);
    // The variables are read as system properties (the environment as the
    // process began, and what was set since): none names a file.
    for (const char *var : {"VR_RT_PATH", "VR_APP_PATH", "VR_EMBEDDED_RESOURCES_PATH"})
      ASSERT_EQ(vrio_set_system_property(var, ""), VRIO_S_NOERR);
    ASSERT_TRUE(scratch.make("trailers"));
  }
  void TearDown() override
  {
    vrio_set_system_property("VR_EMBEDDED_RESOURCES_PATH", "");
    take_runtime_down();
    EXPECT_TRUE(scratch.remove());
  }

  // Writes a file and names it as the one file to scan, scanning anew.
  void use_file(const std::string &name, const std::string &bytes)
  {
    const std::string path = scratch.path(name.c_str());
    std::ofstream(path, std::ios::binary) << bytes;
    ASSERT_EQ(vrio_set_system_property("VR_EMBEDDED_RESOURCES_PATH", path.c_str()), VRIO_S_NOERR);
    free_meta_info_header(static_cast<vr_t_meta_info_header *>(eglobal->embedded_resources));
    eglobal->embedded_resources = nullptr;
  }

  // The resource's bytes, or "<code N>" when it is not found.
  static std::string lookup(const char *name)
  {
    void *data = nullptr;
    int size = -1;
    const vrio_t_error_code rc = find_embedded_resource(name, &data, &size);
    if (rc < 0)
      return "<code " + std::to_string(rc) + ">";
    return std::string(static_cast<const char *>(data), static_cast<std::size_t>(size));
  }
};

const char PAYLOAD_BYTES[] = "#! header\nrecords\x01\x02\x00\xff end!";
const std::string PAYLOAD(PAYLOAD_BYTES, sizeof PAYLOAD_BYTES - 1);

std::string trailer(const std::string &lines) { return "\n# META_INFO_SUFFIX 1\n" + lines + "# META_INFO_SUFFIX END\n"; }

std::string without_last(const std::string &s) { return s.substr(0, s.size() - 1); }

std::string hex_size(std::uint64_t n)
{
  char buf[32];
  std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(n));
  return buf;
}

TEST_F(EmbeddedResources, TrailerRules)
{
  const std::string size = "# size=\"" + hex_size(PAYLOAD.size()) + "\"\n";
  const std::string file = "# file=\"/some/dir/app.sav\"\n";
  const std::string not_found = "<code " + std::to_string(VRIO_E_NOT_FOUND) + ">";
  struct Case {
    const char *why;
    std::string bytes;
    const char *request;
    std::string expect;
  } cases[] = {
      {"found by the end of its file property", "junk" + PAYLOAD + trailer(size + file), "app.sav", PAYLOAD},
      {"found by its name property", PAYLOAD + trailer(size + "# name=\"res\"\n"), "res", PAYLOAD},
      {"comment lines are skipped", PAYLOAD + trailer("#\n# a comment\n# key=\"\n" + size + file), "app.sav",
       PAYLOAD},
      {"a size without its 0x", PAYLOAD + trailer("# size=\"0X1A\"\n" + file), "app.sav", not_found},
      {"upper-case hexadecimal digits", PAYLOAD + trailer("# size=\"0x1A\"\n" + file), "app.sav", PAYLOAD},
      {"other names are not found", PAYLOAD + trailer(size + file), "other.sav", not_found},
      {"no line feed after the last line", without_last(PAYLOAD + trailer(size + file)), "app.sav", not_found},
      {"no size line", PAYLOAD + trailer(file), "app.sav", not_found},
      {"two size lines", PAYLOAD + trailer(size + size + file), "app.sav", not_found},
      {"a 64-bit size whose low 32 bits would fit",
       PAYLOAD + trailer("# size=\"" + hex_size((std::uint64_t{1} << 32) + PAYLOAD.size()) + "\"\n" + file),
       "app.sav", not_found},
      {"a size larger than the bytes before the trailer", PAYLOAD + trailer("# size=\"0x1000\"\n" + file), "app.sav",
       not_found},
      {"more than 16 hexadecimal digits", PAYLOAD + trailer("# size=\"0x0000000000000001A\"\n" + file), "app.sav",
       not_found},
      {"a line of more than 500 bytes", PAYLOAD + trailer(size + "# " + std::string(520, 'x') + "\n" + file),
       "app.sav", not_found},
      {"an opening line with more after it", PAYLOAD + "\n# META_INFO_SUFFIX 12\n" + size + file +
                                                 "# META_INFO_SUFFIX END\n",
       "app.sav", not_found},
      {"a line inside that does not begin with #", PAYLOAD + trailer(size + "size=\"0x1A\"\n" + file), "app.sav",
       not_found},
  };
  ASSERT_EQ(PAYLOAD.size(), 26u);
  for (const Case &c : cases) {
    use_file("state.bin", c.bytes);
    EXPECT_EQ(lookup(c.request), c.expect) << c.why;
  }
}

// The reader refills its chunk backwards from the end: a trailer and a
// resource larger than any chunk are read whole and exactly.
TEST_F(EmbeddedResources, LargeResourceAcrossChunks)
{
  std::string big;
  for (int i = 0; i < 70000; i++)
    big += static_cast<char>('a' + i % 23);
  std::string comments;
  for (int i = 0; i < 300; i++)
    comments += "# comment line " + std::to_string(i) + "\n";
  use_file("big.bin", "prefix bytes" + big +
                          trailer("# size=\"" + hex_size(big.size()) + "\"\n" + comments + "# name=\"big\"\n"));
  const std::string got = lookup("big");
  EXPECT_EQ(got.size(), big.size()) << got.substr(0, 40);
  EXPECT_TRUE(got == big);
}

// Loaded once: the same bytes again, even when the file has changed since.
TEST_F(EmbeddedResources, BytesAreReadOnceAndKept)
{
  use_file("state.bin", PAYLOAD + trailer("# size=\"0x1a\"\n# name=\"res\"\n"));
  void *first = nullptr, *second = nullptr;
  ASSERT_EQ(find_embedded_resource("res", &first, nullptr), VRIO_S_NOERR);
  std::ofstream(scratch.path("state.bin"), std::ios::binary) << std::string(PAYLOAD.size() + 60, 'z');
  ASSERT_EQ(find_embedded_resource("res", &second, nullptr), VRIO_S_NOERR);
  EXPECT_EQ(first, second);
  EXPECT_EQ(std::string(static_cast<const char *>(second), PAYLOAD.size()), PAYLOAD);
}

// With none of the three variables naming a file nothing is found, and the scan is
// not repeated when a variable appears later.
TEST_F(EmbeddedResources, NoFileScannedOnce)
{
  EXPECT_EQ(lookup("res"), "<code " + std::to_string(VRIO_E_NOT_FOUND) + ">");
  ASSERT_NE(eglobal->embedded_resources, nullptr);
  const std::string path = scratch.path("late.bin");
  std::ofstream(path, std::ios::binary) << PAYLOAD + trailer("# size=\"0x1a\"\n# name=\"res\"\n");
  ASSERT_EQ(vrio_set_system_property("VR_EMBEDDED_RESOURCES_PATH", path.c_str()), VRIO_S_NOERR);
  EXPECT_EQ(lookup("res"), "<code " + std::to_string(VRIO_E_NOT_FOUND) + ">");
}

} // namespace
