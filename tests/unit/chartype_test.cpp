// Character classes, the internal encoding's lead-byte table, decoding one
// character, validity of internal text and path suffixes.
#include <gtest/gtest.h>

#include "chartype.h"
#include "support.h"

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
