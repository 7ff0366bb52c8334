// Named encodings: look-up, stream conversion with states cut anywhere,
// whole-buffer conversion and conversion to internal text.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "encodings.h"
#include "memman.h"
#include "vostrel/vrio_errors.h"

namespace {

class EncodingTest : public ::testing::Test {
protected:
  int saved_mallocs = 0;
  VR_encoding utf8 = nullptr, latin1 = nullptr, ascii = nullptr;
  void SetUp() override
  {
    saved_mallocs = vr_malloc_mallocs;
    vr_malloc_mallocs = 1;  // interface blocks straight from malloc
    ASSERT_EQ(VR_get_encoding("utf-8", &utf8, 0), 0);
    ASSERT_EQ(VR_get_encoding("Latin1", &latin1, 0), 0);
    ASSERT_EQ(VR_get_encoding("us_ascii", &ascii, 0), 0);
  }
  void TearDown() override
  {
    VR_encoding_release(utf8);
    VR_encoding_release(latin1);
    VR_encoding_release(ascii);
    EXPECT_EQ(vr_encoding_refs(utf8), 0) << "a conversion kept a reference";
    EXPECT_EQ(vr_encoding_refs(latin1), 0) << "a conversion kept a reference";
    vr_malloc_mallocs = saved_mallocs;
  }
  std::vector<std::uint32_t> decode_all(VR_encoding e, const std::string &bytes, int *rc)
  {
    void *out = nullptr;
    std::size_t size = 99;
    *rc = vr_encode_to_codes_allocate(e, bytes.data(), bytes.size(), &out, &size, 0);
    std::vector<std::uint32_t> codes;
    if (*rc >= 0) {
      codes.assign(static_cast<std::uint32_t *>(out), static_cast<std::uint32_t *>(out) + size / 4);
      VR_free(out);
    }
    return codes;
  }
};

} // namespace

TEST_F(EncodingTest, LookUpByLooseNameAndFeatures)
{
  EXPECT_STREQ(vr_encoding_name(utf8), "UTF-8");
  EXPECT_STREQ(vr_encoding_name(latin1), "ISO-8859-1");
  EXPECT_STREQ(vr_encoding_name(ascii), "US-ASCII");
  VR_encoding e = nullptr;
  EXPECT_EQ(VR_get_encoding("KOI8-R", &e, 0), VRIO_E_CHARSET_NOT_FOUND);
  EXPECT_EQ(VR_get_encoding("UTF-8", &e, 8), VRIO_E_SEEK_ERROR) << "UTF-8 cannot seek";
  EXPECT_EQ(e, nullptr) << "a failed look-up stores nothing";
  ASSERT_EQ(VR_get_encoding("ISO_8859-1", &e, 8), 0);
  EXPECT_EQ(e, latin1);
  VR_encoding_release(e);
  EXPECT_EQ(get_system_encoding("LANG", &e, 2), VRIO_E_PARAMETER_ERROR)
      << "a name together with the option list";
  EXPECT_EQ(get_system_encoding("LANG", &e, 4), VRIO_E_PARAMETER_ERROR);
}

TEST_F(EncodingTest, WholeBufferDecodeTable)
{
  struct { VR_encoding *enc; std::string bytes; int rc; std::vector<std::uint32_t> codes; } cases[] = {
      {&utf8, "", 0, {}},
      {&utf8, "a\xC3\xA9\xE4\xB8\x80\xF0\x9F\x98\x80", 0, {'a', 0xE9, 0x4E00, 0x1F600}},
      {&utf8, std::string("x\0y", 3), 0, {'x', 0, 'y'}},
      {&utf8, "\xC0\x80", VRIO_E_ENCODING_INVALID, {}},       // overlong
      {&utf8, "\xED\xA0\x80", VRIO_E_ENCODING_INVALID, {}},   // surrogate
      {&utf8, "\xF4\x90\x80\x80", VRIO_E_ENCODING_INVALID, {}},
      {&utf8, "ab\xE4\xB8", VRIO_E_ENCODING_INVALID, {}},     // cut by the end
      {&utf8, "\xE4\x41\x80", VRIO_E_ENCODING_INVALID, {}},
      {&latin1, "caf\xE9\xFF", 0, {'c', 'a', 'f', 0xE9, 0xFF}},
      {&ascii, "ok", 0, {'o', 'k'}},
      {&ascii, "\x80", VRIO_E_ENCODING_INVALID, {}},
  };
  for (auto &c : cases) {
    int rc;
    auto codes = decode_all(*c.enc, c.bytes, &rc);
    EXPECT_EQ(rc, c.rc) << "case " << &c - cases;
    EXPECT_EQ(codes, c.codes) << "case " << &c - cases;
  }
}

TEST_F(EncodingTest, WholeBufferEncodeGrowsAndRefusesUnmappable)
{
  std::vector<std::uint32_t> codes = {0x1F600, 0x4E00, 0xE9, 'z'};
  void *out = nullptr;
  std::size_t size = 0;
  ASSERT_EQ(vr_encode_from_codes_allocate(utf8, codes.data(), codes.size() * 4, &out, &size, 0), 0);
  EXPECT_EQ(std::string(static_cast<char *>(out), size), "\xF0\x9F\x98\x80\xE4\xB8\x80\xC3\xA9z");
  VR_free(out);
  out = nullptr;
  EXPECT_EQ(vr_encode_from_codes_allocate(latin1, codes.data(), codes.size() * 4, &out, &size, 0),
            VRIO_E_ENCODING_UNMAPPABLE);
  EXPECT_EQ(out, nullptr);
  std::uint32_t bad[] = {0xD800};
  EXPECT_EQ(vr_encode_from_codes_allocate(utf8, bad, 4, &out, &size, 0), VRIO_E_ENCODING_UNMAPPABLE);
  EXPECT_EQ(vr_encode_from_codes_allocate(utf8, bad, 3, &out, &size, 0), VRIO_E_ENCODING_INVALID)
      << "a source that is not whole codes";
}

TEST_F(EncodingTest, StreamDecodeSplitInsideACharacter)
{
  const std::string bytes = "\xE4\xB8\x80z";
  VR_encoding_state st = nullptr;
  std::uint32_t out[4];
  std::size_t r = 0, w = 0;
  // First call: two bytes of a three-byte character.
  ASSERT_EQ(VR_encode_to_codes(utf8, bytes.data(), 2, &st, out, sizeof out, &r, &w, 1), 0);
  EXPECT_EQ(r, 2u);
  EXPECT_EQ(w, 0u);
  ASSERT_NE(st, nullptr) << "the partial character lives in the state";
  ASSERT_EQ(VR_encode_to_codes(utf8, bytes.data() + 2, 2, &st, out, sizeof out, &r, &w, 2), 0);
  EXPECT_EQ(r, 2u);
  ASSERT_EQ(w, 8u);
  EXPECT_EQ(out[0], 0x4E00u);
  EXPECT_EQ(out[1], static_cast<std::uint32_t>('z'));
  // Nothing left, final: the conversion is complete and the state goes.
  EXPECT_EQ(VR_encode_to_codes(utf8, bytes.data() + 4, 0, &st, out, sizeof out, &r, &w, 2), VRIO_S_DEALLOCATED);
  EXPECT_EQ(st, nullptr);
  // A destination too small for one code.
  ASSERT_EQ(VR_encode_to_codes(utf8, "ab", 2, &st, out, 3, &r, &w, 1), VRIO_E_INSUFFICIENT_BUFFER);
  EXPECT_EQ(st, nullptr) << "a state opened by a failing call is closed";
  // A caller's state stays open after an error; option 4 releases it.
  ASSERT_EQ(VR_encoding_open(utf8, &st, nullptr, 2), 0);
  EXPECT_EQ(VR_encode_to_codes(utf8, "\xFF", 1, &st, out, sizeof out, &r, &w, 0), VRIO_E_ENCODING_INVALID);
  EXPECT_NE(st, nullptr);
  EXPECT_EQ(VR_encode_to_codes(utf8, nullptr, 0, &st, nullptr, 0, nullptr, nullptr, 4), VRIO_S_DEALLOCATED);
  EXPECT_EQ(st, nullptr);
  EXPECT_EQ(VR_encode_to_codes(utf8, nullptr, 0, &st, nullptr, 0, nullptr, nullptr, 4), 0);
  // An encoding state cannot decode.
  ASSERT_EQ(VR_encoding_open(utf8, &st, nullptr, 0), 0);
  EXPECT_EQ(VR_encode_to_codes(utf8, "a", 1, &st, out, sizeof out, &r, &w, 0), VRIO_E_PARAMETER_ERROR);
  VR_encode_to_codes(utf8, nullptr, 0, &st, nullptr, 0, nullptr, nullptr, 4);
}

TEST_F(EncodingTest, ToInternalText)
{
  struct { VR_encoding *enc; const char *src; int rc; const char *ienc; } cases[] = {
      {&latin1, "plain", 0, "plain"}, {&latin1, "", 0, ""},
      {&latin1, "caf\xE9", 0, "caf\xC3\xA9"}, {&utf8, "\xE4\xB8\x80", 0, "\xE4\xB8\x80"},
      {&utf8, "\xC3", VRIO_E_ENCODING_INVALID, nullptr}, {&ascii, "\xE9", VRIO_E_ENCODING_INVALID, nullptr},
  };
  for (auto &c : cases) {
    char *ienc = nullptr;
    std::size_t size = 0;
    EXPECT_EQ(vr_encode_to_ienc(*c.enc, c.src, &ienc, &size), c.rc) << "case " << &c - cases;
    if (c.ienc == nullptr) {
      EXPECT_EQ(ienc, nullptr);
      continue;
    }
    ASSERT_NE(ienc, nullptr);
    EXPECT_STREQ(ienc, c.ienc);
    EXPECT_EQ(size, std::strlen(c.ienc) + 1) << "the size counts the terminator";
    VR_free(ienc);
  }
  char *ienc = nullptr;
  EXPECT_EQ(vr_encode_to_ienc(nullptr, "x", &ienc, nullptr), VRIO_E_PARAMETER_ERROR);
  EXPECT_EQ(vr_encode_to_ienc(utf8, nullptr, &ienc, nullptr), VRIO_E_PARAMETER_ERROR);
}
