// The tokenizer over in-memory text: a golden table of tokens, statuses,
// look-ahead characters and lines over a fixture text; tables of number
// forms, quoted items and escapes, double_quotes modes, comments and
// full stops; character conversion; read errors of the source (recorded
// and raised, not a silent failure); escape errors that must not eat the
// closing quote; and `$read_token/6` binding its outputs.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "atoms.h"
#include "char_conversion.h"
#include "chartype.h"
#include "datadefs.h"
#include "errors.h"
#include "initial_atoms.h"
#include "number_text.h"
#include "terms.h"
#include "tokenizer.h"
#include "worker_fixture.h"

namespace {

struct TokenizerTest : WorkerFixture {
  text_source src{};

  void SetUp() override
  {
    WorkerFixture::SetUp();
    wcx_reset_classification();
    ASSERT_EQ(init_atoms_once(), 1);
    init_char_conversion();
    eglobal->current_double_quotes = MakeAtom(atom_codes_enum);
  }
  void TearDown() override
  {
    current_token_input = nullptr;
    init_char_conversion();
    eglobal->current_char_conversion = 0;
    eglobal->current_double_quotes = 0;
    deinit_atoms();
    WorkerFixture::TearDown();
  }

  static std::string text_of(TAGGED a)
  {
    std::string out;
    for (const char *p = atom_name(a); *p != '\0'; ++p) {
      const auto c = static_cast<unsigned char>(*p);
      if (c < 0x20 || c == 0x7F) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%X\\", c);
        out += hex;
      } else {
        out += static_cast<char>(c);
      }
    }
    return out;
  }

  static std::string show(TAGGED t)
  {
    t = deref(t);
    if (IsVar(t))
      return "_";
    if (IsSmall(t))
      return std::to_string(GetSmall(t));
    if (IsAtom(t))
      return text_of(t);
    if (IsList(t)) {
      std::string out = "[";
      for (;;) {
        out += show(TagToLST(t)[0]);
        t = deref(TagToLST(t)[1]);
        if (!IsList(t))
          break;
        out += ",";
      }
      if (t != atom_nil)
        out += "|" + show(t);
      return out + "]";
    }
    const TAGGED *p = TagToSTR(t);
    if (IsBoxHeader(p[0]))
      return vr_number_to_string(t, 10, 0);
    std::string out = text_of(FunctorName(p[0])) + "(";
    for (unsigned i = 1; i <= Arity(p[0]); ++i)
      out += (i > 1 ? "," : "") + show(p[i]);
    return out + ")";
  }

  static std::string show_code(int c)
  {
    if (c == -1)
      return "eof";
    if (c > ' ' && c < 127)
      return std::string(1, static_cast<char>(c));
    return std::to_string(c);
  }

  std::string show(const token &t)
  {
    return show(token_term(w, &t)) + " " + std::to_string(t.status) + " " + show_code(t.next) + " @" +
           std::to_string(t.line);
  }

  void open(const char *text) { text_source_init(&src, text); }
  void open(const std::string &text) { text_source_init(&src, text.data(), text.size()); }

  // Every token of the text up to end of file, the look-ahead passed on
  // from call to call as a reader would.
  std::vector<std::string> all_tokens(const std::string &text)
  {
    open(text);
    std::vector<std::string> out;
    int ch = src.base.get(&src.base);
    for (int guard = 0; guard < 200; ++guard) {
      token t;
      if (!read_token(w, &src.base, ch, 0, 0, &t)) {
        out.push_back("read error");
        break;
      }
      out.push_back(show(t));
      if (t.kind == TOKEN_EOF || (t.next == -1 && t.kind != TOKEN_END && t.status < -1))
        break;
      ch = t.next;
    }
    return out;
  }

  // The first token of the text.
  token first(const std::string &text, int flag = 0)
  {
    open(text);
    token t;
    EXPECT_EQ(read_token(w, &src.base, src.base.get(&src.base), flag, 0, &t), 1) << text;
    return t;
  }
  std::string first_shown(const std::string &text) { return show(first(text)); }
};

std::string join(const std::vector<std::string> &v)
{
  std::string out;
  for (const auto &s : v)
    out += s + "\n";
  return out;
}

TEST_F(TokenizerTest, GoldenTableOverAFixture)
{
  const std::string fixture =
      "foo(X, _y) :- bar.  % comment\n"
      "'a\\x41\\b' \"ab\" `bq` 0'c 0'\\n 0''' 0b101 0o17 0xFf\n"
      "1.5e10 2.0E-3 123456789012345678901234567890 [a|T] {x}; !\n"
      "/* block /* not nested */ end.\n"
      "\n"
      "X = 1.\n";
  const std::vector<std::string> expected = {
      "atom(foo) 1 ( @1",
      " ( 0 X @1",
      "var(88,[88],_) 0 , @1",
      ", 0 32 @1",
      "var(1641,[95,121],_) 0 ) @1",
      ") 1 32 @1",
      "atom(:-) 1 32 @1",
      "atom(bar) 1 . @1",
      ". 0 32 @1",
      "atom(aAb) 1 32 @2",
      "string([97,98]) 0 32 @2",
      "atom(bq) 1 32 @2",
      "number(99) 0 32 @2",
      "number(10) 0 32 @2",
      "number(39) 0 32 @2",
      "number(5) 0 32 @2",
      "number(15) 0 32 @2",
      "number(255) 0 10 @2",
      "number(1.5E+10) 0 32 @3",
      "number(0.002) 0 32 @3",
      "number(123456789012345678901234567890) 0 32 @3",
      "[ 0 a @3",
      "atom(a) 1 | @3",
      "| 0 T @3",
      "var(84,[84],_) 0 ] @3",
      "] 1 32 @3",
      "{ 0 x @3",
      "atom(x) 1 } @3",
      "} 1 ; @3",
      "atom(;) 1 32 @3",
      "atom(!) 1 10 @3",
      "atom(end) 1 . @4",
      ". 0 10 @4",
      "var(88,[88],_) 0 32 @6",
      "atom(=) 1 32 @6",
      "number(1) 0 . @6",
      ". 0 10 @6",
      "[] -1 eof @6",
  };
  EXPECT_EQ(join(all_tokens(fixture)), join(expected));
}

TEST_F(TokenizerTest, NumberForms)
{
  struct { const char *text; const char *token; } cases[] = {
      {"0'a", "number(97) 0 eof @1"},
      {"0' x", "number(32) 0 x @1"},              // a space is a character code
      {"0'''", "number(39) 0 eof @1"},
      {"0''a", "number(0'') -18 a @1"},           // doubled quote needs a third
      {"0''", "number(0'') -18 eof @1"},
      {"0'\\n", "number(10) 0 eof @1"},
      {"0'\\x41\\.", "number(65) 0 . @1"},
      {"0'\\101\\ ", "number(65) 0 32 @1"},
      {"0'\\q", "number(0'\\q) -11 eof @1"},
      {"0'", "number(0') -16 eof @1"},
      {"0'\\", "number(0'\\) -16 eof @1"},
      {"0'\t", "number(0'\\x9\\) -18 eof @1"},    // layout other than space
      {"0b101 ", "number(5) 0 32 @1"},
      {"0b2", "number(0b) -20 2 @1"},
      {"0o778", "number(63) 0 8 @1"},
      {"0x", "number(0x) -20 eof @1"},
      {"0xFfg", "number(255) 0 g @1"},
      {"007", "number(7) 0 eof @1"},
      {"99999999999999999999", "number(99999999999999999999) 0 eof @1"},
      {"268435456", "number(268435456) 0 eof @1"},  // first integer outside the small range
      {"1.5E3", "number(1500.0) 0 eof @1"},
      {"1.25e-2,", "number(0.0125) 0 , @1"},
      {"1.0e400", "number(1.0e400) -22 eof @1"},   // not finite
      {"1.0ex", "number(1.0) 0 e @1"},             // letter given back as look-ahead
      {"1.5e+x", "number(1.5) -64 + @1"},          // sign and dropped letter
      {"1.5E-)", "number(1.5) -32 - @1"},
      {"1. ", "number(1) 0 . @1"},                 // integer, then a full stop
      {"1.", "number(1) 0 . @1"},
      {"1.a", "number(1) 0 . @1"},
  };
  for (const auto &c : cases)
    EXPECT_EQ(first_shown(c.text), c.token) << "text: " << c.text;
}

TEST_F(TokenizerTest, GivenBackCharactersAreReadNext)
{
  // The source keeps the one character the number could not use.
  struct { const char *text; int next_read; } cases[] = {
      {"1.5e+x", 'x'}, {"1.0ex", 'x'}, {"1.a", 'a'}, {"1.5E-)", ')'}, {"1.", -1},
  };
  for (const auto &c : cases) {
    first(c.text);
    EXPECT_EQ(src.base.get(&src.base), c.next_read) << "text: " << c.text;
  }
}

TEST_F(TokenizerTest, QuotedItemsAndEscapes)
{
  struct { const char *text; const char *token; } cases[] = {
      {"'a\\x41\\b'", "atom(aAb) 1 eof @1"},
      {"'a\\101\\b' ", "atom(aAb) 1 32 @1"},
      {"'\\a\\b\\d\\e\\f\\n\\r\\t\\v'",
       "atom(\\x7\\\\x8\\\\x7F\\\\x1B\\\\xC\\\\xA\\\\xD\\\\x9\\\\xB\\) 1 eof @1"},
      {"'\\\\\\'\\\"\\`'", "atom(\\'\"`) 1 eof @1"},
      {"'it''s'", "atom(it's) 1 eof @1"},
      {"'a\\qb'x", "atom(ab) -11 x @1"},           // the scan still ends at the quote
      {"'\\x\\'", "atom() -12 eof @1"},            // hexadecimal escape without digits
      {"'\\18x'", "atom(8x) -12 eof @1"},            // 8 is no octal digit: it ends the escape
      {"'ab\nc'", "atom(ab\\xA\\c) -14 eof @1"},
      {"'a b'", "atom(a b) 1 eof @1"},
      {"'ab\\\nc'", "atom(abc) 1 eof @1"},          // continuation
      {"'abc", "atom(abc) -15 eof @1"},
      {"'abc\\", "atom(abc) -15 eof @1"},
      {"'\\x41", "atom() -15 eof @1"},
      {"`a``b`", "atom(a`b) 1 eof @1"},
      {"\"ab\\\nc\"", "string([97,98,99]) 0 eof @1"},
      {"\"\"", "string([]) 0 eof @1"},
      {"\"a\\x7FFFFFFF\\\"", "string([97,2147483647]) 0 eof @1"},
  };
  for (const auto &c : cases)
    EXPECT_EQ(first_shown(c.text), c.token) << "text: " << c.text;
}

// An escape error must not swallow the closing quote: the item ends there
// and the characters after it are tokens of their own.
TEST_F(TokenizerTest, EscapeErrorsKeepTheClosingQuote)
{
  struct { const char *text; std::vector<std::string> tokens; } cases[] = {
      // value beyond 31 bits: reported at the closing backslash
      {"'\\x7FFFFFFFF\\' x.", {"atom() -13 32 @1", "atom(x) 1 . @1", ". 0 eof @1"}},
      {"'\\x80000000\\'.", {"atom() -13 . @1", ". 0 eof @1"}},
      // an open numeric escape met by the quote itself
      {"'\\x41' x.", {"atom() -12 32 @1", "atom(x) 1 . @1", ". 0 eof @1"}},
      {"0'\\x7FFFFFFFF\\a.", {"number(0'\\x7FFFFFFFF\\) -13 a @1", "atom(a) 1 . @1", ". 0 eof @1"}},
  };
  for (const auto &c : cases) {
    std::vector<std::string> expected = c.tokens;
    expected.push_back("[] -1 eof @1");
    EXPECT_EQ(join(all_tokens(c.text)), join(expected)) << "text: " << c.text;
  }
  // The largest value still fits.
  EXPECT_EQ(first_shown("0'\\x7FFFFFFF\\"), "number(2147483647) 0 eof @1");
}

TEST_F(TokenizerTest, DoubleQuotesModes)
{
  struct { atom_sequence_number_enum mode; const char *chars_mode; const char *token; } cases[] = {
      {atom_codes_enum, nullptr, "string([97,98]) 0 eof @1"},
      {atom_atom_enum, nullptr, "atom(ab) 0 eof @1"},
      {atom_nil_enum, "chars", "string([a,b]) 0 eof @1"},
  };
  for (const auto &c : cases) {
    eglobal->current_double_quotes = c.chars_mode ? init_atom_check(c.chars_mode, 0) : MakeAtom(c.mode);
    EXPECT_EQ(first_shown("\"ab\""), c.token) << "mode " << show(eglobal->current_double_quotes);
  }
  eglobal->current_double_quotes = init_atom_check("chars", 0);
  EXPECT_EQ(first_shown("\"\xC3\xA9x\""), "string([\xC3\xA9,x]) 0 eof @1");
}

TEST_F(TokenizerTest, CommentsFullStopsAndEndOfFile)
{
  struct { const char *text; std::vector<std::string> tokens; } cases[] = {
      {"/* a /* b */ c */", {"atom(c) 1 32 @1", "atom(*/) 1 eof @1", "[] -1 eof @1"}},  // no nesting
      {"/**/x", {"atom(x) 1 eof @1", "[] -1 eof @1"}},
      {"/* a ** b **/x", {"atom(x) 1 eof @1", "[] -1 eof @1"}},
      {"/* abc", {"atom() -17 eof @1"}},
      {"/*", {"atom() -17 eof @1"}},
      {"% abc", {"[] -2 eof @1"}},
      {"% abc\n", {"[] -1 eof @1"}},
      {"a.%c\n", {"atom(a) 1 . @1", ". 0 % @1", "[] -1 eof @1"}},  // line of the newline
      {"a.b", {"atom(a) 1 . @1", "atom(.) 1 b @1", "atom(b) 1 eof @1", "[] -1 eof @1"}},
      {"a.", {"atom(a) 1 . @1", ". 0 eof @1", "[] -1 eof @1"}},
      {"x =.. y", {"atom(x) 1 32 @1", "atom(=..) 1 32 @1", "atom(y) 1 eof @1", "[] -1 eof @1"}},
      {"a//b", {"atom(a) 1 / @1", "atom(//) 1 b @1", "atom(b) 1 eof @1", "[] -1 eof @1"}},
      {"", {"[] -1 eof @0"}},
      {"\n\n", {"[] -1 eof @2"}},
  };
  for (const auto &c : cases)
    EXPECT_EQ(join(all_tokens(c.text)), join(c.tokens)) << "text: " << c.text;
}

TEST_F(TokenizerTest, FunctionalParenthesisNeedsFlagAndAdjacency)
{
  open("foo(");
  token t;
  ASSERT_EQ(read_token(w, &src.base, src.base.get(&src.base), 0, 0, &t), 1);
  ASSERT_EQ(show(t), "atom(foo) 1 ( @1");
  ASSERT_EQ(read_token(w, &src.base, t.next, 1, 0, &t), 1);
  EXPECT_EQ(show(t), "( 0 eof @1");

  open("foo (");
  ASSERT_EQ(read_token(w, &src.base, src.base.get(&src.base), 0, 0, &t), 1);
  ASSERT_EQ(show(t), "atom(foo) 1 32 @1");
  ASSERT_EQ(read_token(w, &src.base, t.next, 1, 0, &t), 1);
  EXPECT_EQ(show(t), " ( 0 eof @1") << "a parenthesis after layout is not functional";
}

TEST_F(TokenizerTest, VariablesAndLongNames)
{
  EXPECT_EQ(first_shown("_ "), "var(95,[95],_) 0 32 @1");
  EXPECT_EQ(first_shown("Abc"), "var(18307,[65,98,99],_) 0 eof @1");
  // The hash folds at 28 bits: 8 characters of code 0x7A push it past.
  std::uint32_t h = 0;
  for (const char c : std::string("Zzzzzzzzzz")) {
    h = h * 16 + static_cast<unsigned char>(c);
    if (h > 0x0FFFFFFF)
      h = (h & 0x0FFFFFFF) ^ (h >> 28);
  }
  token t = first("Zzzzzzzzzz");
  EXPECT_EQ(t.var_hash, h);
  EXPECT_LE(t.var_hash, 0x0FFFFFFFu);

  // Names beyond the 512-byte area grow the buffer and are read whole.
  for (std::size_t length : {511u, 512u, 513u, 3000u}) {
    std::string name(length, 'x');
    name[0] = 'a';
    t = first(name + " ");
    ASSERT_EQ(t.kind, TOKEN_ATOM);
    EXPECT_EQ(std::string(atom_name(t.value)), name) << "length " << length;
    EXPECT_EQ(t.next, ' ');
    std::string var = name;
    var[0] = 'V';
    t = first(var);
    ASSERT_EQ(t.kind, TOKEN_VAR);
    std::size_t codes = 0;
    for (TAGGED l = t.var_name; IsList(l); l = TagToLST(l)[1])
      ++codes;
    EXPECT_EQ(codes, length) << "variable name codes, length " << length;
  }
}

// A token larger than the free heap: the heap grows before anything is
// built, and the string comes out whole.
TEST_F(TokenizerTest, HeapGrowsForALargeToken)
{
  // Fill the heap with harmless words up to 40 free ones.
  while (w->global_top < w->stack_start - 40)
    *w->global_top++ = MakeSmall_checked(0);
  const std::string body(5000, 'q');
  token t = first("\"" + body + "\" ");
  ASSERT_EQ(t.kind, TOKEN_STRING);
  std::size_t codes = 0;
  for (TAGGED l = t.value; IsList(l); l = TagToLST(l)[1]) {
    EXPECT_EQ(TagToLST(l)[0], MakeSmall_checked('q'));
    ++codes;
  }
  EXPECT_EQ(codes, body.size());
  EXPECT_GE(w->stack_start - w->global_top, 16) << "room for the wrapper must be left";
}

TEST_F(TokenizerTest, UndecidedCharacters)
{
  // U+E000 is private use: undecided outside quotes, refused inside.
  EXPECT_EQ(first_shown("\xEE\x80\x80 "), "57344 -25 32 @1");
  EXPECT_EQ(first_shown("'\xEE\x80\x80'"), "atom(\xEE\x80\x80) -24 eof @1");
}

TEST_F(TokenizerTest, LinesFollowNewlinesInsideTokens)
{
  const std::vector<std::string> expected = {
      "atom(a\\xA\\b) -14 x @1", "atom(x) 1 32 @2", "atom() -17 eof @2"};
  EXPECT_EQ(join(all_tokens("'a\nb'x /*\n\n")), join(expected));
}

// Conversion applies outside quotes, once per character, and inside a
// quoted item only when the opening quote itself was converted.
TEST_F(TokenizerTest, CharacterConversion)
{
  ASSERT_EQ(add_char_conversion('a', 'b'), 1);
  ASSERT_EQ(add_char_conversion('b', 'c'), 1);
  EXPECT_EQ(join(all_tokens("a 'a' a")),
            join({"atom(b) 1 32 @1", "atom(a) 1 32 @1", "atom(b) 1 eof @1", "[] -1 eof @1"}));
  // The look-ahead travels unconverted: 'a' handed on after ! must still
  // become b, not c.
  EXPECT_EQ(join(all_tokens("!a")), join({"atom(!) 1 a @1", "atom(b) 1 eof @1", "[] -1 eof @1"}));
  ASSERT_EQ(add_char_conversion('q', '\''), 1);
  EXPECT_EQ(first_shown("qaq"), "atom(b) 1 eof @1") << "a converted quote keeps conversion on inside";
  // Characters given back to the source go back as read.
  first("1.a");
  EXPECT_EQ(src.base.get(&src.base), 'a');

  eglobal->current_char_conversion = MakeAtom(atom_off_enum);
  EXPECT_EQ(first_shown("a"), "atom(a) 1 eof @1");
}

// A source that fails after a few characters.
struct failing_source {
  token_source base;
  const char *text;
  int error_code;
  static int get(token_source *s)
  {
    auto *f = reinterpret_cast<failing_source *>(s);
    return *f->text != '\0' ? *f->text++ : f->error_code;
  }
  static void unget(token_source *, int) {}
};

TEST_F(TokenizerTest, ReadErrorsAreRecordedNotSilent)
{
  // Inside a name, a quoted item, a comment and a number, with and without
  // the source's own recorder.
  for (const char *text : {"abc", "'abc", "/* abc", "% abc", "12.5", "0'", "  "}) {
    save_error(0, "", atom_nil);
    failing_source f{{failing_source::get, failing_source::unget, nullptr, nullptr}, text, -77};
    token t;
    EXPECT_EQ(read_token(w, &f.base, failing_source::get(&f.base), 0, 0, &t), 0) << text;
    EXPECT_EQ(g_error_type, SYSTEM_ERROR) << "text: " << text;
    EXPECT_EQ(g_culprit, MakeSmall_checked(-77)) << "text: " << text;
  }
}

// A byte of a text that begins no character (a NUL, Latin-1 text, a
// sequence cut short) is no read error: it reads as a code beyond Unicode,
// which no token accepts, reading goes on with the next byte, and the
// source keeps the first such byte and its line for the loader.
TEST_F(TokenizerTest, BadBytesOfATextReadAsCodesNoTokenAccepts)
{
  const int ff = TEXT_SOURCE_BAD_BYTE + 0xFF;
  const struct {
    std::string text;
    std::vector<std::string> tokens;
    int byte;
    long line;
  } cases[] = {
      {"ab\xFFz", {"atom(ab) 1 " + std::to_string(ff) + " @1", std::to_string(ff) + " -25 z @1", "atom(z) 1 eof @1"},
       0xFF, 1},
      {std::string("a\n b\0c", 6), {"atom(a) 1 10 @1", "atom(b) 1 " + std::to_string(TEXT_SOURCE_BAD_BYTE) + " @2",
                                     std::to_string(TEXT_SOURCE_BAD_BYTE) + " -25 c @2", "atom(c) 1 eof @2"},
       0x00, 2},
      {"'caf\xE9'.", {"atom(caf\xF4\x90\x83\xA9) -24 . @1", ". 0 eof @1"}, 0xE9, 1},
      {"\xC3x \xFE", {std::to_string(TEXT_SOURCE_BAD_BYTE + 0xC3) + " -25 x @1",
                       "atom(x) 1 32 @1", std::to_string(TEXT_SOURCE_BAD_BYTE + 0xFE) + " -25 eof @1"},
       0xC3, 1},
      {"% \x80 in a comment\nok", {"atom(ok) 1 eof @2"}, 0x80, 1},
  };
  for (const auto &c : cases) {
    std::vector<std::string> got = all_tokens(c.text);
    if (!got.empty() && got.back().rfind("[] ", 0) == 0)
      got.pop_back();  /* end of file */
    EXPECT_EQ(got, c.tokens) << c.text;
    EXPECT_EQ(src.bad_byte, c.byte) << c.text;
    EXPECT_EQ(src.bad_line, c.line) << c.text;
  }
}

TEST_F(TokenizerTest, SingleQuotedCharacterForNumberText)
{
  struct { const char *text; int ok; int code; } cases[] = {
      {"a", 1, 'a'}, {" ", 1, ' '}, {"''", 1, '\''}, {"'", 0, 0}, {"\\n", 1, 10},
      {"\\x41\\", 1, 65}, {"\\101\\", 1, 65}, {"\\x41", 0, 0}, {"\\x41\\b", 0, 0},
      {"\\x7FFFFFFFF\\", 0, 0}, {"\\q", 0, 0}, {"\\", 0, 0}, {"\t", 0, 0}, {"ab", 0, 0},
      {"\xC3\xA9", 0, 0}, {"", 0, 0}, {"\\\\", 1, '\\'},
  };
  for (const auto &c : cases) {
    int code = -1;
    EXPECT_EQ(single_quoted_character(c.text, &code), c.ok) << "text: " << c.text;
    if (c.ok) {
      EXPECT_EQ(code, c.code) << "text: " << c.text;
    }
  }
  // The number parser reads 0' constants through it.
  EXPECT_EQ(vr_string_to_number("0'\\x41\\", 10, 0, 0), MakeSmall_checked(65));
}

TEST_F(TokenizerTest, ReadTokenBuiltinBindsItsOutputs)
{
  open("foo(X) ");
  current_token_input = &src.base;
  TAGGED *h = w->global_top;
  for (int i = 0; i < 4; ++i)
    h[i] = PointerToTerm(h + i);
  w->global_top = h + 4;
  auto call = [&](TAGGED ch, TAGGED flag) {
    w->term[0] = ch;
    w->term[1] = flag;
    for (int i = 0; i < 4; ++i) {
      h[i] = PointerToTerm(h + i);
      w->term[2 + i] = PointerToTerm(h + i);
    }
    return prolog_read_token(w);
  };
  ASSERT_EQ(call(MakeSmall_checked(src.base.get(&src.base)), MakeSmall_checked(0)), 1);
  EXPECT_EQ(show(h[0]) + " " + show(h[1]) + " " + show(h[2]) + " " + show(h[3]), "atom(foo) 40 1 1");
  ASSERT_EQ(call(MakeSmall_checked('('), MakeSmall_checked(1)), 1);
  EXPECT_EQ(show(h[0]) + " " + show(h[1]), "( 88");
  ASSERT_EQ(call(MakeSmall_checked('X'), MakeSmall_checked(1)), 1);
  EXPECT_EQ(show(h[0]), "var(88,[88],_)");
  // Outputs that are already bound are unified, not overwritten.
  w->term[0] = MakeSmall_checked(')');
  w->term[1] = MakeSmall_checked(0);
  w->term[2] = MakeAtom(atom_rbrack_enum);
  w->term[3] = PointerToTerm(h + 1);
  h[1] = PointerToTerm(h + 1);
  w->term[4] = PointerToTerm(h + 2);
  h[2] = PointerToTerm(h + 2);
  w->term[5] = PointerToTerm(h + 3);
  h[3] = PointerToTerm(h + 3);
  EXPECT_EQ(prolog_read_token(w), 0) << "token ) must not unify with ]";
}

TEST_F(TokenizerTest, ReadTokenBuiltinRaisesReadErrors)
{
  failing_source f{{failing_source::get, failing_source::unget, nullptr, nullptr}, "ab", -5};
  current_token_input = &f.base;
  TAGGED *h = w->global_top;
  for (int i = 0; i < 4; ++i)
    h[i] = PointerToTerm(h + i);
  w->global_top = h + 4;
  w->term[0] = MakeSmall_checked(failing_source::get(&f.base));
  w->term[1] = MakeSmall_checked(0);
  for (int i = 0; i < 4; ++i)
    w->term[2 + i] = PointerToTerm(h + i);
  save_error(0, "", atom_nil);
  EXPECT_EQ(prolog_read_token(w), 0);
  EXPECT_EQ(g_error_type, SYSTEM_ERROR);
  // The error goal is in place for the error handler: prolog:'$read_token'(...).
  EXPECT_EQ(show(w->term[0]).rfind(":(prolog,$read_token(", 0), 0u) << show(w->term[0]);
  EXPECT_EQ(w->term[2], MakeSmall_checked(-5));
  for (int i = 0; i < 4; ++i)
    EXPECT_TRUE(IsVar(deref(PointerToTerm(h + i)))) << "output " << i << " must stay unbound";
}

} // namespace
