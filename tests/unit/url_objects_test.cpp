// Resource URLs and URL objects on a runtime brought up by the production
// start-up (without the library's Prolog code): opening resource URLs
// through the stream layer (prefix spellings, bad names, other schemes,
// writing, a wrapper without the magic, a size field wider than 32 bits),
// and the two kinds of URL objects.  The pre-linked tables are laid out as
// a launcher lays them out and recorded where start-up records them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "datadefs.h"
#include "embedded_resources.h"
#include "runtime_fixture.h"
#include "scratch_dir.h"
#include "streams.h"
#include "url_objects.h"
#include "vostrel/vostrel_resource.h"
#include "vostrel/vrio_props.h"

namespace {

// A wrapper: magic (or not), an 8-byte size field, a time, the payload,
// and bytes after it that a reader must never reach.
struct wrapper_bytes {
  unsigned char bytes[32 + 64];
};

wrapper_bytes make_wrapper(const char *magic, std::uint64_t size_field, const char *payload)
{
  wrapper_bytes w{};
  std::memcpy(w.bytes, magic, 16);
  for (int i = 0; i < 8; i++) {
    w.bytes[16 + i] = static_cast<unsigned char>(size_field >> (56 - 8 * i));
    w.bytes[24 + i] = static_cast<unsigned char>(std::uint64_t{1234567890} >> (56 - 8 * i));
  }
  std::memcpy(w.bytes + 32, payload, std::strlen(payload));
  std::memset(w.bytes + 32 + std::strlen(payload), '!', sizeof w.bytes - 32 - std::strlen(payload));
  return w;
}

const char PAYLOAD[] = "0123456789abcdef";
const wrapper_bytes good = make_wrapper(VR_RESOURCE_MAGIC, 16, PAYLOAD);
const wrapper_bytes bad_magic = make_wrapper("Vostrel Resourcf", 16, PAYLOAD);
const wrapper_bytes wide_size = make_wrapper(VR_RESOURCE_MAGIC, (std::uint64_t{1} << 32) + 16, PAYLOAD);

typedef VR_NAMED_DATA_RESOURCE(32) named_record;
named_record good_record = {good.bytes, "_0x2Fgood_0x2Esav"};
named_record bad_record = {bad_magic.bytes, "_0x2Fbad"};
named_record wide_record = {wide_size.bytes, "_0x2Fwide"};

char *pre_map[] = {good_record.name, const_cast<char *>("codesio"), bad_record.name, wide_record.name, nullptr};
void *pre_linkage[] = {nullptr, reinterpret_cast<void *>(&make_wrapper), nullptr, nullptr, nullptr};

struct UrlObjects : ::testing::Test {
  worker *w = nullptr;
  scratch_dir scratch;

  void SetUp() override
  {
    // Start-up records the tables, as the launcher hands them over.
    ASSERT_EQ(vr_glue_initialize(0, nullptr, nullptr, pre_linkage, pre_map, 0, 0), 1);
    w = self;
    for (const char *var : {"VR_RT_PATH", "VR_APP_PATH"})
      ASSERT_EQ(vrio_set_system_property(var, ""), VRIO_S_NOERR);
    ASSERT_TRUE(scratch.make("url_objects"));
    // A trailer file that also holds "/bad".
    const std::string path = scratch.path("resources.bin");
    std::ofstream(path, std::ios::binary)
        << "from a trailer\n# META_INFO_SUFFIX 1\n# size=\"0xe\"\n# file=\"/bad\"\n# META_INFO_SUFFIX END\n";
    ASSERT_EQ(vrio_set_system_property("VR_EMBEDDED_RESOURCES_PATH", path.c_str()), VRIO_S_NOERR);
  }
  void TearDown() override
  {
    vrio_set_system_property("VR_EMBEDDED_RESOURCES_PATH", "");
    take_runtime_down();
    EXPECT_TRUE(scratch.remove());
  }

  // The URL's bytes through the stream layer, or "<code N>".
  static std::string read_url(const char *url, unsigned mode = VR_FOPEN_READ)
  {
    VR_stream *s = nullptr;
    const vrio_t_error_code rc = VR_fopen(url, 0, VR_FOPEN_URL | VR_FOPEN_BINARY | mode, &s);
    if (rc < 0)
      return "<code " + std::to_string(rc) + ">";
    std::string out;
    for (int c; (c = stream_get_byte(s)) >= 0;)
      out += static_cast<char>(c);
    EXPECT_GE(VR_fclose(s, 0), 0);
    return out;
  }
};

std::string code(vrio_t_error_code rc) { return "<code " + std::to_string(rc) + ">"; }

TEST_F(UrlObjects, OpeningResourceUrls)
{
  struct Case {
    const char *url;
    std::string expect;
  } cases[] = {
      {"URL:x-vostrel-resource:/good.sav", PAYLOAD},
      {"url:X-VOSTREL-RESOURCE:/good.sav", PAYLOAD},
      {"uRl:x-VoStReL-rEsOuRcE:/good.sav", PAYLOAD},
      // Only the prefixes ignore case: the name is the mangled one's.
      {"URL:x-vostrel-resource:/GOOD.sav", code(VRIO_E_FILE_NOT_FOUND)},
      {"URL:", code(VRIO_E_INVALID_NAME)},
      {"file:/good.sav", code(VRIO_E_INVALID_NAME)},
      {"URL:x-vostrel-resource:", code(VRIO_E_INVALID_NAME)},
      {"URL:file:/etc/hosts", code(VRIO_E_NOT_SUPPORTED)},
      {"URL:x-vostrel-resources:/good.sav", code(VRIO_E_NOT_SUPPORTED)},
      {"URL:x-vostrel-resource:/missing", code(VRIO_E_FILE_NOT_FOUND)},
      // A linked entry with a foreign resource's entry function is no data.
      {"URL:x-vostrel-resource:codesio", code(VRIO_E_FILE_NOT_FOUND)},
      // The linked wrapper lacks the magic: not found, though a trailer
      // holds the name too.
      {"URL:x-vostrel-resource:/bad", code(VRIO_E_FILE_NOT_FOUND)},
      // Only the low 32 bits of the size count: 16 bytes, nothing after.
      {"URL:x-vostrel-resource:/wide", PAYLOAD},
  };
  for (const Case &c : cases)
    EXPECT_EQ(read_url(c.url), c.expect) << c.url;
}

// Opening for writing is refused before any lookup: the trailer files are
// not even scanned.
TEST_F(UrlObjects, WritingIsRefusedWithoutSearching)
{
  EXPECT_EQ(read_url("URL:x-vostrel-resource:/trailer.sav", VR_FOPEN_WRITE), code(VRIO_E_PERMISSION_ERROR));
  EXPECT_EQ(read_url("URL:x-vostrel-resource:/good.sav", VR_FOPEN_WRITE), code(VRIO_E_PERMISSION_ERROR));
  EXPECT_EQ(eglobal->embedded_resources, nullptr);
  // A name linked nowhere is then looked for in the trailers.
  EXPECT_EQ(read_url("URL:x-vostrel-resource:/missing"), code(VRIO_E_FILE_NOT_FOUND));
  EXPECT_NE(eglobal->embedded_resources, nullptr);
}

TEST_F(UrlObjects, ResourceNamesAreMangledForTheTables)
{
  char *m = vr_ensure_c_name("/trelix.sav");
  ASSERT_NE(m, nullptr);
  EXPECT_STREQ(m, "_0x2Ftrelix_0x2Esav");
  VR_free(m);
  m = vr_ensure_c_name("a-Z 9\xC3\xA9");
  EXPECT_STREQ(m, "a_0x2DZ_0x209_0xC3_0xA9");
  VR_free(m);
}

TEST_F(UrlObjects, ResourceObjects)
{
  url_object *o = create_url_object("URL:x-vostrel-resource:/good.sav");
  ASSERT_NE(o, nullptr);
  EXPECT_STREQ(url_object_description(o), "Vostrel Resource URL Object");
  EXPECT_STREQ(url_object_extension(o), ".sav");
  EXPECT_EQ(url_object_open(o, "rw"), nullptr) << "only r and b";
  ASSERT_EQ(url_object_open(o, "rb"), o);
  char buf[64] = {};
  EXPECT_EQ(url_object_read(o, buf, 1, 10), 10u);
  EXPECT_EQ(url_object_read(o, buf + 10, 4, 10), 6u) << "never beyond the payload";
  EXPECT_EQ(std::string(buf), PAYLOAD);
  EXPECT_EQ(url_object_get(o), -1);
  EXPECT_EQ(url_object_close(o), 0);
  url_object_free(o);

  o = create_url_object("URL:x-vostrel-resource:/wide");
  ASSERT_NE(o, nullptr);
  ASSERT_EQ(url_object_open(o, "r"), o);
  EXPECT_EQ(url_object_read(o, buf, 1, sizeof buf), 16u);
  url_object_free(o);

  EXPECT_EQ(create_url_object("URL:x-vostrel-resource:/missing"), nullptr);
  EXPECT_EQ(create_url_object("URL:x-vostrel-resource:/bad"), nullptr);
}

TEST_F(UrlObjects, FileObjectsAndSchemes)
{
  EXPECT_EQ(create_url_object("url:file:/etc/hosts"), nullptr) << "URL: is upper case only";
  EXPECT_EQ(create_url_object("URL:nothing"), nullptr) << "no scheme";
  EXPECT_EQ(create_url_object("URL:http://example"), nullptr) << "no such scheme";
  struct Case {
    const char *text, *url, *extension;
  } cases[] = {
      {"URL:file:relative.txt", "relative.txt", ".txt"},
      {"URL:FILE:/a/app.tar.gz", "/a/app.tar.gz", ".gz"},
      {"URL:file:/a.d/name", "/a.d/name", nullptr},
      {"URL:file:/a/name", "/a/name", nullptr},
  };
  for (const Case &c : cases) {
    url_object *o = create_url_object(c.text);
    ASSERT_NE(o, nullptr) << c.text;
    EXPECT_STREQ(url_object_description(o), "Local file URL Object");
    EXPECT_STREQ(o->url, c.url) << c.text;
    if (c.extension == nullptr)
      EXPECT_EQ(url_object_extension(o), nullptr) << c.text;
    else
      EXPECT_STREQ(url_object_extension(o), c.extension) << c.text;
    url_object_free(o);
  }

  // A file object reads its file; a missing one does not exist.
  const std::string path = scratch.path("data.bin");
  std::ofstream(path, std::ios::binary) << "abc";
  url_object *o = create_url_object(("URL:file:" + path).c_str());
  ASSERT_NE(o, nullptr);
  EXPECT_EQ(url_object_exists(o), o);
  ASSERT_EQ(url_object_open(o, "rb"), o);
  char buf[8] = {};
  EXPECT_EQ(url_object_read(o, buf, 1, 8), 3u);
  EXPECT_EQ(url_object_get_errno(o), EIO) << "a short read";
  EXPECT_STREQ(buf, "abc");
  url_object_free(o);
  o = create_url_object(("URL:file:" + scratch.path("none")).c_str());
  ASSERT_NE(o, nullptr);
  EXPECT_EQ(url_object_exists(o), nullptr);
  EXPECT_LT(url_object_get_errno(o), 0);
  url_object_free(o);
}

} // namespace
