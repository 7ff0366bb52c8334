// The embedding a launcher does: two files wrapped and linked in by the
// generated unit (cmake/embed_states.cmake) and listed in the launcher's
// resource table (app/launcher_resources.cpp).  With the table recorded
// where start-up records it, both read back byte for byte through the
// resource URLs, with the files' sizes and modification times.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>

#include "datadefs.h"
#include "runtime_fixture.h"
#include "streams.h"
#include "url_objects.h"

extern void *vr_pre_linkage[];
extern char *vr_pre_map[];

namespace {

std::string file_bytes(const std::string &path)
{
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(Embedding, LaunchersTableFindsBothStates)
{
  worker *w = start_runtime_without_library();
  ASSERT_NE(w, nullptr);
  eglobal->persistent.fli_pre_map = vr_pre_map;
  eglobal->persistent.fli_pre_linkage = vr_pre_linkage;
  struct Case {
    const char *name, *url, *file;
  } cases[] = {
      {"/trelix.sav", "URL:x-vostrel-resource:/trelix.sav", TRELIX_EMBED_DIR "/app_payload.bin"},
      {"/vrrt.sav", "URL:x-vostrel-resource:/vrrt.sav", TRELIX_EMBED_DIR "/runtime_payload.bin"},
  };
  for (const Case &c : cases) {
    const std::string want = file_bytes(c.file);
    struct stat st{};
    ASSERT_EQ(stat(c.file, &st), 0);
    const void *data = nullptr;
    std::uint32_t size = 0, mtime = 0;
    ASSERT_EQ(vostrel_resource_find_data(c.name, &data, &size, &mtime), 1) << c.name;
    EXPECT_EQ(std::string(static_cast<const char *>(data), size), want) << c.name;
    EXPECT_EQ(mtime, static_cast<std::uint32_t>(st.st_mtime)) << c.name;
    VR_stream *s = nullptr;
    ASSERT_EQ(VR_fopen(c.url, 0, VR_FOPEN_URL | VR_FOPEN_READ | VR_FOPEN_BINARY, &s), VRIO_S_NOERR) << c.url;
    std::string got;
    for (int b; (b = stream_get_byte(s)) >= 0;)
      got += static_cast<char>(b);
    EXPECT_EQ(got, want) << c.url;
    EXPECT_GE(VR_fclose(s, 0), 0);
  }
  eglobal->persistent.fli_pre_map = nullptr;
  eglobal->persistent.fli_pre_linkage = nullptr;
  take_runtime_down();
}

} // namespace
