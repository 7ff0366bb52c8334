// Character classes and their cache, legacy classification, the internal
// encoding (lead bytes, encoding and decoding one character, validity),
// conversion of operating-system text and path suffixes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "chartype.h"
#include "datadefs.h"
#include "encodings.h"
#include "support.h"

namespace {

// Every test starts from the start-up classes and leaves them so.
class CharClassTest : public ::testing::Test {
protected:
  void SetUp() override { wcx_reset_classification(); }
  void TearDown() override
  {
    wcx_chartype_hook = vr_unicode_chartype;
    wcx_reset_classification();
  }
};

int hook_calls = 0;
int counting_hook(int code)
{
  ++hook_calls;
  return CH_SOLO;
}

} // namespace

TEST(CharType, ClassOfCodes)
{
  struct { int code; int cls; } cases[] = {
      {-1, CH_WHITE}, {0, CH_WHITE}, {' ', CH_WHITE}, {'\t', CH_WHITE}, {127, CH_WHITE},
      {'a', CH_LC}, {'z', CH_LC}, {'A', CH_UC}, {'Z', CH_UC}, {'0', CH_DIGIT}, {'9', CH_DIGIT},
      {'#', CH_SYMBOL}, {'\\', CH_SYMBOL}, {'~', CH_SYMBOL}, {'.', CH_SYMBOL},
      {'!', CH_BANG}, {'|', CH_BAR}, {',', CH_COMMA}, {'"', CH_DQUOTE}, {'(', CH_LPAR},
      {'{', CH_LBRACE}, {'[', CH_LBRACK}, {'%', CH_PERCENT}, {')', CH_RPAR}, {'}', CH_RBRACE},
      {']', CH_RBRACK}, {';', CH_SEMICOLON}, {'\'', CH_SQUOTE}, {'_', CH_UNDERSCORE},
      {'`', CH_BACKQUOTE},  // a symbol character overridden by its own class
      {128, CH_WHITE}, {160, CH_WHITE}, {161, CH_SYMBOL}, {170, CH_LC}, {186, CH_LC},
      {191, CH_SYMBOL}, {192, CH_UC}, {215, CH_SYMBOL}, {222, CH_UC}, {223, CH_LC},
      {247, CH_SYMBOL}, {255, CH_LC},
      {256, CH_UNDECIDED}, {0x4E00, CH_UNDECIDED}, {0x200E, CH_WHITE}, {0x200F, CH_WHITE},
      {0x2028, CH_WHITE}, {0x2029, CH_WHITE}, {0x10FFFF, CH_UNDECIDED},
  };
  for (auto c : cases)
    EXPECT_EQ(ch_type(c.code), c.cls) << "class of code " << c.code;
  EXPECT_EQ(VR_latin1_chartype(215), CH_SYMBOL);
  EXPECT_EQ(VR_latin1_chartype(-1), CH_WHITE);
  EXPECT_EQ(VR_latin1_chartype(0x2028), CH_UNDECIDED) << "the latin-1 table knows no code above 255";
}

TEST(CharType, LeadByteTable)
{
  struct { unsigned lo, hi, extra; } ranges[] = {
      {0x00, 0x7F, 0}, {0xC0, 0xDF, 1}, {0xE0, 0xEF, 2}, {0xF0, 0xF7, 3},
      {0xF8, 0xFB, 4}, {0xFC, 0xFD, 5},
  };
  for (auto r : ranges)
    for (unsigned b = r.lo; b <= r.hi; ++b)
      EXPECT_EQ(wci_extra_bytes[b], r.extra) << "lead byte " << b;
  for (unsigned b : {0x80u, 0xBFu, 0xFEu, 0xFFu})
    EXPECT_GT(wci_extra_bytes[b], 5) << "byte " << b << " cannot start a character";
}

TEST(CharType, DecodeOneCharacter)
{
  struct { const char *text; int length; int code; } cases[] = {
      {"A", 1, 'A'}, {"\xC0\x80", 2, 0}, {"\xC3\xA9x", 2, 0xE9}, {"\xDF\xBF", 2, 0x7FF},
      {"\xE0\xA0\x80", 3, 0x800}, {"\xE4\xB8\x80", 3, 0x4E00}, {"\xF0\x90\x80\x80", 4, 0x10000},
      {"\xFD\xBF\xBF\xBF\xBF\xBF", 6, 0x7FFFFFFF},
      {"\x80", -1, -7}, {"\xFF", -1, -7}, {"\xE4\x41", -1, -7}, {"\xE4\xB8\x41", -2, -7},
      {"\xC3", -1, -7}, {"", 0, -7},
  };
  for (auto c : cases) {
    int code = -7;
    EXPECT_EQ(VR_wci_code(&code, c.text), c.length) << "length of " << c.text;
    EXPECT_EQ(code, c.code) << "code of " << c.text << " (-7: nothing stored)";
  }
  EXPECT_EQ(VR_wci_code(nullptr, "\xC3\xA9"), 2);
  EXPECT_EQ(VR_wci_code(nullptr, nullptr), 0);
}

TEST(CharType, ValidInternalText)
{
  struct { const char *text; int valid; } cases[] = {
      {"", 1}, {"plain ascii", 1}, {"\xC0\x80", 1}, {"caf\xC3\xA9", 1}, {"\xE4\xB8\x80", 1},
      {"\xED\xA0\x80", 1},                  // surrogate code: Prolog text may hold one
      {"\xF4\x90\x80\x80", 1},              // above U+10FFFF
      {"\xF8\x88\x80\x80\x80", 1},          // five-byte form
      {"\xFC\x84\x80\x80\x80\x80", 1},      // six-byte form
      {"\xC0\x81", 0}, {"\xC1\x81", 0},     // overlong, other than code 0
      {"\xE0\x80\x80", 0}, {"\xF0\x80\x80\x80", 0}, {"\xF8\x80\x80\x80\x80", 0},
      {"\xFC\x80\x80\x80\x80\x80", 0},
      {"\xFE", 0}, {"\xFF", 0}, {"\x80", 0}, {"ab\xBF", 0},
      {"\xC3", 0}, {"x\xE4\xB8", 0},        // cut off by the end
      {"\xE4\x41\x80", 0},
  };
  for (auto c : cases)
    EXPECT_EQ(wci_valid_string(c.text), c.valid) << "text of " << std::char_traits<char>::length(c.text)
                                                 << " bytes starting " << static_cast<unsigned>(
                                                        static_cast<unsigned char>(c.text[0]));
  EXPECT_EQ(wci_valid_string(nullptr), 0);
}

TEST(PathSuffix, SuffixOfTheFileName)
{
  struct { const char *path; const char *suffix; } cases[] = {
      {"foo.pl", ".pl"}, {"/a/b.c.d", ".d"}, {"foo", nullptr}, {"dir.d/foo", nullptr},
      {".profile", ".profile"}, {"/", nullptr}, {"", nullptr}, {"a/", nullptr},
      {"x.", "."}, {"/.hidden", ".hidden"},
  };
  for (auto c : cases) {
    const char *got = vr_path_suffix(c.path);
    if (c.suffix == nullptr)
      EXPECT_EQ(got, nullptr) << "suffix of '" << c.path << "' is '" << got << "'";
    else
      EXPECT_STREQ(got, c.suffix) << "suffix of '" << c.path << "'";
  }
}

TEST_F(CharClassTest, CacheKeepsTwoCodesPerSlotAndDropsTheOldest)
{
  wcx_chartype_hook = counting_hook;
  hook_calls = 0;
  // 0x4E00, 0x4F00 and 0x5000 share slot 0.
  EXPECT_EQ(ch_type(0x4E00), CH_SOLO);
  EXPECT_EQ(ch_type(0x4F00), CH_SOLO);
  EXPECT_EQ(hook_calls, 2);
  EXPECT_EQ(ch_type(0x4E00), CH_SOLO);
  EXPECT_EQ(ch_type(0x4F00), CH_SOLO);
  EXPECT_EQ(hook_calls, 2) << "both codes should be cached, one per way";
  EXPECT_EQ(eglobal->chcode_hash[0], 0x4F00) << "the newest entry takes way 0";
  EXPECT_EQ(eglobal->chcode_hash[256], 0x4E00) << "the older way-0 entry moves to way 1";
  EXPECT_EQ(ch_type(0x5000), CH_SOLO);
  EXPECT_EQ(hook_calls, 3);
  EXPECT_EQ(ch_type(0x4E00), CH_SOLO);
  EXPECT_EQ(hook_calls, 4) << "0x4E00 should have left the cache when 0x5000 came in";
  // Codes up to 127 come from the table, whatever the hook says.
  EXPECT_EQ(ch_type('a'), CH_LC);
  EXPECT_EQ(ch_type(-1), CH_WHITE);
  EXPECT_EQ(hook_calls, 4);
  // Codes below -1 have no table entry and are not cached.
  EXPECT_EQ(ch_type(-2), CH_UNDECIDED);
  EXPECT_EQ(ch_type(-300), CH_UNDECIDED);
}

TEST_F(CharClassTest, EmptyCacheAndZeroedStateNeverAnswer)
{
  clear_ch_type_hash();
  for (int i = 0; i < 512; ++i) {
    ASSERT_EQ(eglobal->chcode_hash[i], i + 1);
    ASSERT_EQ(eglobal->chtype_hash[i], 0);
  }
  // A zeroed engine record (before start-up) holds code 0 with class 0 in
  // every slot; classification must still be right.
  std::memset(eglobal->chcode_hash, 0, sizeof eglobal->chcode_hash);
  std::memset(eglobal->chtype_hash, 0, sizeof eglobal->chtype_hash);
  std::memset(eglobal->default_chtype, 0, sizeof eglobal->default_chtype);
  EXPECT_EQ(ch_type(0), CH_WHITE);
  EXPECT_EQ(ch_type('A'), CH_UC);
  EXPECT_EQ(VR_latin1_chartype(215), CH_SYMBOL);
}

TEST_F(CharClassTest, LegacyClassificationSwitchEmptiesTheCache)
{
  EXPECT_EQ(get_wcx_legacy_char_classification(), 0);
  EXPECT_EQ(ch_type(0x4E00), CH_UNDECIDED);
  set_wcx_legacy_char_classification(7);
  EXPECT_EQ(get_wcx_legacy_char_classification(), 1);
  struct { int code; int cls; } on[] = {
      {0x4E00, CH_LC},      // was cached as undecided before the switch
      {0x0100, CH_LC}, {0x1F600, CH_LC},
      {0xE000, CH_UNDECIDED}, {0xF0000, CH_UNDECIDED},  // private use
      {0xD800, CH_UNDECIDED}, {0xFFFE, CH_UNDECIDED}, {0x110000, CH_UNDECIDED},
      {0x2028, CH_WHITE}, {'a', CH_LC}, {215, CH_SYMBOL},
  };
  for (auto c : on)
    EXPECT_EQ(ch_type(c.code), c.cls) << "legacy on, code " << c.code;
  set_wcx_legacy_char_classification(0);
  EXPECT_EQ(ch_type(0x4E00), CH_UNDECIDED) << "switching off must empty the cache again";
  EXPECT_EQ(VR_latin1_chartype(0x4E00), CH_UNDECIDED);
}

TEST(InternalEncoding, EncodeLengthsAndRoundTrip)
{
  struct { int code; int length; const char *bytes; } cases[] = {
      {0, 2, "\xC0\x80"}, {1, 1, "\x01"}, {0x7F, 1, "\x7F"}, {0x80, 2, "\xC2\x80"},
      {0x7FF, 2, "\xDF\xBF"}, {0x800, 3, "\xE0\xA0\x80"}, {0xFFFF, 3, "\xEF\xBF\xBF"},
      {0x10000, 4, "\xF0\x90\x80\x80"}, {0x10FFFF, 4, "\xF4\x8F\xBF\xBF"},
      {0x1FFFFF, 4, "\xF7\xBF\xBF\xBF"}, {0x200000, 5, "\xF8\x88\x80\x80\x80"},
      {0x3FFFFFF, 5, "\xFB\xBF\xBF\xBF\xBF"}, {0x4000000, 6, "\xFC\x84\x80\x80\x80\x80"},
      {0x7FFFFFFF, 6, "\xFD\xBF\xBF\xBF\xBF\xBF"},
  };
  for (auto c : cases) {
    EXPECT_EQ(VR_code_wci(nullptr, c.code), c.length) << "length of code " << c.code;
    char buf[8] = {'#', '#', '#', '#', '#', '#', '#', '#'};
    ASSERT_EQ(VR_code_wci(buf, c.code), c.length);
    EXPECT_EQ(std::string(buf, c.length), std::string(c.bytes, c.length)) << "bytes of code " << c.code;
    EXPECT_EQ(buf[c.length], '#') << "no terminator is written after code " << c.code;
    buf[c.length] = '\0';
    int back = -7;
    EXPECT_EQ(VR_wci_code(&back, buf), c.length);
    EXPECT_EQ(back, c.code);
    EXPECT_EQ(VR_wci_len(buf), c.length);
    EXPECT_EQ(wci_valid_string(buf), 1) << "encoding of code " << c.code << " should be valid text";
  }
  char buf[8] = "xyz";
  EXPECT_EQ(VR_code_wci(buf, -1), -1);
  EXPECT_EQ(VR_code_wci(nullptr, -5), -1);
  EXPECT_STREQ(buf, "xyz") << "a negative code writes nothing";
  struct { const char *text; int len; } lens[] = {
      {"\x80", -1}, {"\xFF", -1}, {"\xFE", -1}, {"\xE4\x41", -1}, {"\xE4\xB8\x41", -2},
      {"\xFC\x80\x80\x80\x80", -5}, {"", 0}, {"ab", 1},
  };
  for (auto l : lens)
    EXPECT_EQ(VR_wci_len(l.text), l.len) << "length of a text starting " << std::hex
                                          << static_cast<unsigned>(static_cast<unsigned char>(l.text[0]));
  EXPECT_EQ(VR_wci_len(nullptr), 0);
}

namespace {

// Conversions with a chosen system encoding; the environment's locale is
// not consulted.
class OsTextTest : public ::testing::Test {
protected:
  VR_encoding saved = nullptr;
  void SetUp() override { saved = wcx_option_encoding; wcx_option_encoding = nullptr; }
  void TearDown() override
  {
    if (wcx_option_encoding != nullptr)
      VR_encoding_release(wcx_option_encoding);
    wcx_option_encoding = saved;
  }
  void use(const char *name)
  {
    ASSERT_EQ(VR_get_encoding(name, &wcx_option_encoding, 0), 0) << name;
  }
};

} // namespace

TEST_F(OsTextTest, FromUtf8SystemTextIsValidatedAndCopied)
{
  struct { const char *text; bool ok; } cases[] = {
      {"", true}, {"file.pl", true}, {"caf\xC3\xA9", true}, {"\xF0\x9F\x98\x80", true},
      {"\xC0\x80", false},        // internal spelling of 0, not UTF-8
      {"\xED\xA0\x80", false},    // surrogate
      {"\xF4\x90\x80\x80", false}, {"\xC3", false}, {"\x80", false}, {"\xE0\x80\xAF", false},
  };
  for (int context : {1, 2, 3}) {
    for (auto c : cases) {
      const char *out = VR_from_os(c.text, context);
      if (c.ok) {
        ASSERT_NE(out, nullptr) << "context " << context << " refused '" << c.text << "'";
        EXPECT_STREQ(out, c.text);
        EXPECT_EQ(wci_valid_string(out), 1);
      } else {
        EXPECT_EQ(out, nullptr) << "context " << context << " let malformed text through: case "
                                << &c - cases;
      }
    }
  }
  // One result per context: a file name survives a message conversion.
  const char *name = VR_from_os("a.pl", 1);
  const char *msg = VR_from_os("No such file", 3);
  EXPECT_STREQ(name, "a.pl");
  EXPECT_STREQ(msg, "No such file");
  EXPECT_EQ(VR_from_os(nullptr, 1), nullptr);
}

TEST_F(OsTextTest, ToUtf8SystemRefusesCodeZeroAndLongForms)
{
  const char *plain = "dir/caf\xC3\xA9";
  EXPECT_EQ(VR_to_os(plain, 1), plain) << "valid text needs no conversion";
  EXPECT_EQ(VR_to_os("a\xC0\x80" "b", 1), nullptr) << "code 0 would cut the name short";
  EXPECT_EQ(VR_to_os("\xF8\x88\x80\x80\x80", 1), nullptr) << "no UTF-8 form exists";
  EXPECT_EQ(VR_to_os("\xED\xA0\x80", 2), nullptr);
  EXPECT_EQ(VR_to_os(nullptr, 1), nullptr);
}

TEST_F(OsTextTest, Latin1SystemRoundTrip)
{
  use("ISO-8859-1");
  const char *in = VR_from_os("caf\xE9 \xFF", 2);
  ASSERT_NE(in, nullptr);
  EXPECT_STREQ(in, "caf\xC3\xA9 \xC3\xBF");
  std::string kept = in;
  const char *out = VR_to_os(kept.c_str(), 1);
  ASSERT_NE(out, nullptr);
  EXPECT_STREQ(out, "caf\xE9 \xFF");
  EXPECT_EQ(VR_to_os("\xE4\xB8\x80", 1), nullptr) << "U+4E00 has no Latin-1 byte";
  EXPECT_EQ(VR_to_os("\xC0\x80", 1), nullptr);
}

TEST_F(OsTextTest, AsciiSystemRefusesHighBytes)
{
  use("ANSI_X3.4-1968");
  EXPECT_STREQ(VR_from_os("abc", 3), "abc");
  EXPECT_EQ(VR_from_os("caf\xE9", 3), nullptr);
  EXPECT_EQ(VR_to_os("caf\xC3\xA9", 1), nullptr);
}

TEST_F(OsTextTest, InitFindsTheSystemEncodingFromTheSettings)
{
  const char *saved_vr = std::getenv("VR_CTYPE");
  std::string keep = saved_vr ? saved_vr : "";
  setenv("VR_CTYPE", "fr_FR.ISO-8859-1@euro", 1);
  init_wcx();
  ASSERT_NE(wcx_option_encoding, nullptr);
  EXPECT_STREQ(vr_encoding_name(wcx_option_encoding), "ISO-8859-1");
  setenv("VR_CTYPE", "/etc/locale", 1);
  init_wcx();
  EXPECT_EQ(wcx_option_encoding, nullptr) << "a path value ends the search without an encoding";
  setenv("VR_CTYPE", "C.UTF-8", 1);
  init_wcx();
  ASSERT_NE(wcx_option_encoding, nullptr);
  EXPECT_STREQ(vr_encoding_name(wcx_option_encoding), "UTF-8");
  if (saved_vr)
    setenv("VR_CTYPE", keep.c_str(), 1);
  else
    unsetenv("VR_CTYPE");
  deinit_wcx();
  EXPECT_EQ(wcx_option_encoding, nullptr);
  wcx_reset_classification();
}
