// Character coders: the registry and its name matching, every code point
// through every coder and back, malformed input with and without
// replacement, line ends, byte-order marks, the end-of-input rule of the
// framework, the UTF-8 string checks, and encoding detection from marks
// and coding cookies on a stream that can give bytes back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "vostrel/vrio.h"
#include "vrio_fixture.h"

namespace {

using bytes = std::vector<unsigned char>;
using codes = std::vector<uint32_t>;

struct coder_closer {
  vrio_t_coder *coder;
  ~coder_closer() { vrio_char_coder_close(coder); }
};

// A borrowed buffer over the caller's bytes.
vrio_t_buf view(const void *data, size_t n)
{
  vrio_t_buf b;
  vrio_buf_init_buf(&b);
  b.buf = static_cast<unsigned char *>(const_cast<void *>(data));
  b.extent = n;
  return b;
}

struct outcome {
  vrio_t_error_code last;  // the error that ended the calls
  codes decoded;           // or, encoding, the bytes as codes
  size_t consumed;
};

// Calls the coder until it fails, collecting what it produced.
outcome run_coder(vrio_t_coder *coder, const void *data, size_t n, vrio_t_bits options)
{
  vrio_t_buf from = view(data, n);
  vrio_t_buf *to = vrio_buf_alloc(nullptr, 0, 0);
  size_t offset = 0;
  outcome o{};
  for (int calls = 0; calls < 1000; ++calls) {
    o.last = vrio_char_coder_encode(coder, &from, &offset, to, options);
    if (o.last < 0)
      break;
  }
  bool decoding = (coder->flags & VRIO_CODER_DECODING) != 0;
  for (size_t i = 0; i < to->extent; i += decoding ? 4 : 1) {
    uint32_t c = to->buf[i];
    if (decoding)
      std::memcpy(&c, to->buf + i, 4);
    o.decoded.push_back(c);
  }
  o.consumed = offset;
  vrio_buf_free(to);
  return o;
}

outcome decode(const char *name, const bytes &in, vrio_t_bits open_options, vrio_t_bits options)
{
  vrio_t_coder *c = open_coder(name, VRIO_CODER_OPEN_DECODE | open_options);
  EXPECT_NE(c, nullptr) << name;
  if (c == nullptr)
    return {};
  coder_closer closer{c};
  return run_coder(c, in.data(), in.size(), options);
}

outcome encode(const char *name, const codes &in, vrio_t_bits open_options, vrio_t_bits options)
{
  vrio_t_coder *c = open_coder(name, open_options);
  EXPECT_NE(c, nullptr) << name;
  if (c == nullptr)
    return {};
  coder_closer closer{c};
  return run_coder(c, in.data(), in.size() * 4, options);
}

std::string show(const codes &v)
{
  std::string s;
  char item[16];
  for (uint32_t c : v) {
    std::snprintf(item, sizeof item, "%s%X", s.empty() ? "" : " ", c);
    s += item;
  }
  return "[" + s + "]";
}

constexpr vrio_t_bits replace_all = VRIO_CODER_REPLACE | VRIO_CODER_REPLACE_INVALID;
constexpr vrio_t_bits end_of_input = VRIO_CODER_END_OF_INPUT;

using VrioCoder = VrioLibrary;

TEST_F(VrioCoder, NamesMatchLoosely)
{
  const struct {
    const char *name;
    const char *canonical; // null: the lookup fails with `rc`
    vrio_t_error_code rc;
  } cases[] = {
      {"latin1", "ISO-8859-1", VRIO_S_NOERR},   {"Latin-1", "ISO-8859-1", VRIO_S_NOERR},
      {"ISO_8859-1", "ISO-8859-1", VRIO_S_NOERR}, {"l1", "ISO-8859-1", VRIO_S_NOERR},
      {"ISO-8859-01", "ISO-8859-1", VRIO_S_NOERR}, {"utf_8", "UTF-8", VRIO_S_NOERR},
      {"UTF-16", "UTF-16BE", VRIO_S_NOERR},     {"utf-16 le", "UTF-16LE", VRIO_S_NOERR},
      {"UTF-32", "UTF-32BE", VRIO_S_NOERR},     {"US-ASCII", "ANSI_X3.4-1968", VRIO_S_NOERR},
      {"ascii", "ANSI_X3.4-1968", VRIO_S_NOERR}, {"cp367", "ANSI_X3.4-1968", VRIO_S_NOERR},
      {"646", "ANSI_X3.4-1968", VRIO_S_NOERR},  {"Latin-9", "ISO-8859-15", VRIO_S_NOERR},
      {"l2", "ISO-8859-2", VRIO_S_NOERR},       {"WINDOWS-1252", "windows-1252", VRIO_S_NOERR},
      {"", nullptr, VRIO_E_PARAMETER_ERROR},    {"-_.", nullptr, VRIO_E_PARAMETER_ERROR},
      {"KOI8-R", nullptr, VRIO_E_CHARSET_NOT_FOUND},
  };
  for (const auto &c : cases) {
    vrio_t_coder_funcs *funcs = nullptr;
    EXPECT_EQ(vrio_char_coder_find(&funcs, c.name, nullptr, 0), c.rc) << c.name;
    if (c.canonical == nullptr)
      continue;
    ASSERT_NE(funcs, nullptr) << c.name;
    EXPECT_STREQ(funcs->name, c.canonical) << c.name;
    vrio_coder_funcs_release(funcs);
  }
  EXPECT_TRUE(vrio_charset_name_equal("latin1", "ISO_8859-1:1987"));
  EXPECT_FALSE(vrio_charset_name_equal("latin1", "latin2"));
  EXPECT_FALSE(vrio_charset_name_equal("latin1", "nothing"));
  const char *canonical;
  ASSERT_EQ(vrio_charset_canonical_name("csISOLatin1", &canonical), VRIO_S_NOERR);
  EXPECT_STREQ(canonical, "iso88591") << "the matching form";
}

TEST_F(VrioCoder, RegistryReferencesAndSeekableKinds)
{
  vrio_t_coder_funcs *funcs;
  EXPECT_EQ(vrio_char_coder_find(&funcs, "UTF-8", nullptr, 1), VRIO_E_SEEK_ERROR);
  ASSERT_EQ(vrio_char_coder_find(&funcs, "ISO-8859-1", nullptr, 1), VRIO_S_NOERR);
  EXPECT_EQ(funcs->refcount, 2u) << "the registry's and ours";
  vrio_t_coder *coder;
  ASSERT_EQ(vrio_char_coder_open(funcs, &coder, nullptr, 0), VRIO_S_NOERR);
  EXPECT_EQ(funcs->refcount, 3u) << "the instance holds one";
  vrio_char_coder_close(coder);
  EXPECT_EQ(funcs->refcount, 2u);
  EXPECT_EQ(vrio_register_coder(nullptr, funcs, 0), VRIO_E_FOUND);
  EXPECT_EQ(funcs->refcount, 2u) << "a refused registration keeps no reference";
  vrio_coder_funcs_release(funcs);

  // A charset name of its own for an existing kind.
  ASSERT_EQ(vrio_char_coder_find(&funcs, "latin9", nullptr, 0), VRIO_S_NOERR);
  ASSERT_EQ(vrio_register_coder("euro-latin", funcs, 0), VRIO_S_NOERR);
  vrio_t_coder_funcs *again;
  ASSERT_EQ(vrio_char_coder_find(&again, "EuroLatin", nullptr, 0), VRIO_S_NOERR);
  EXPECT_EQ(again, funcs);
  vrio_coder_funcs_release(again);
  EXPECT_EQ(vrio_register_coder("euro-latin", funcs, 1), VRIO_S_NOERR);
  EXPECT_EQ(vrio_char_coder_find(&again, "euro-latin", nullptr, 0), VRIO_E_CHARSET_NOT_FOUND);
  EXPECT_EQ(vrio_register_coder("euro-latin", funcs, 1), VRIO_S_NOERR) << "absent is no error";
  vrio_coder_funcs_release(funcs);

  // Seekable instances: only the single-byte kinds without line-end work.
  ASSERT_EQ(vrio_char_coder_find(&funcs, "UTF-16", nullptr, 0), VRIO_S_NOERR);
  EXPECT_EQ(vrio_char_coder_open(funcs, &coder, nullptr, VRIO_CODER_OPEN_SEEKABLE),
            VRIO_E_NOT_IMPLEMENTED);
  vrio_coder_funcs_release(funcs);
  ASSERT_EQ(vrio_char_coder_find(&funcs, "ISO-8859-1", nullptr, 0), VRIO_S_NOERR);
  EXPECT_EQ(vrio_char_coder_open(funcs, &coder, nullptr,
                                 VRIO_CODER_OPEN_SEEKABLE | VRIO_CODER_OPEN_CRLF),
            VRIO_E_NOT_SUPPORTED);
  EXPECT_EQ(funcs->refcount, 2u) << "the failed open dropped its reference";
  ASSERT_EQ(vrio_char_coder_open(funcs, &coder, nullptr,
                                 VRIO_CODER_OPEN_SEEKABLE | VRIO_CODER_OPEN_DECODE),
            VRIO_S_NOERR);
  EXPECT_EQ(vrio_char_coder_seek(coder, 40, 0), VRIO_S_NOERR);
  vrio_t_offset byte_offset = -1;
  EXPECT_EQ(vrio_char_coder_translate_offset(coder, 40, &byte_offset), VRIO_S_NOERR);
  EXPECT_EQ(byte_offset, 10);
  EXPECT_EQ(vrio_char_coder_translate_offset(coder, 41, &byte_offset), VRIO_E_GRANULARITY_ERROR);
  EXPECT_EQ(byte_offset, 10) << "written only on success";
  vrio_char_coder_close(coder);
  vrio_coder_funcs_release(funcs);
}

TEST_F(VrioCoder, WideDecodersSeekOnlyToTheStart)
{
  for (const char *name : {"UTF-16LE", "UTF-32BE"}) {
    vrio_t_coder *d = open_coder(name, VRIO_CODER_OPEN_DECODE);
    vrio_t_coder *e = open_coder(name, 0);
    ASSERT_NE(d, nullptr);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(vrio_char_coder_seek(d, 0, 0), VRIO_S_NOERR) << name;
    EXPECT_EQ(vrio_char_coder_seek(d, 4, 0), VRIO_E_PARAMETER_ERROR) << name;
    EXPECT_EQ(vrio_char_coder_seek(d, 2, 0), VRIO_E_GRANULARITY_ERROR) << name;
    EXPECT_EQ(vrio_char_coder_seek(e, 0, 0), VRIO_E_NOT_SUPPORTED) << name;
    vrio_t_offset b;
    EXPECT_EQ(vrio_char_coder_translate_offset(d, 0, &b), VRIO_E_NOT_SUPPORTED) << name;
    vrio_char_coder_close(d);
    vrio_char_coder_close(e);
  }
  vrio_t_coder *u = open_coder("UTF-8", VRIO_CODER_OPEN_DECODE);
  EXPECT_EQ(vrio_char_coder_seek(u, 0, 0), VRIO_E_NOT_SUPPORTED);
  vrio_char_coder_close(u);
}

// Every scalar value (all code points but the surrogates) through a
// Unicode coder and back, in one call each way; the encoded length is
// checked against the encoding form's own rule.  One case per coder.
struct VrioUnicodeRoundTrip : VrioLibrary, ::testing::WithParamInterface<const char *> {};

INSTANTIATE_TEST_SUITE_P(Coders, VrioUnicodeRoundTrip,
                         ::testing::Values("UTF-8", "UTF-16BE", "UTF-16LE", "UTF-32BE",
                                           "UTF-32LE"));

TEST_P(VrioUnicodeRoundTrip, EveryScalarValue)
{
  const char *name = GetParam();
  codes all;
  size_t length = 0;
  for (uint32_t c = 0; c <= 0x10FFFF; ++c) {
    if (c >= 0xD800 && c <= 0xDFFF)
      continue;
    all.push_back(c);
    if (name[4] == '8')
      length += c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
    else if (name[4] == '1')
      length += c < 0x10000 ? 2 : 4;
    else
      length += 4;
  }
  vrio_t_coder *e = open_coder(name, 0);
  vrio_t_coder *d = open_coder(name, VRIO_CODER_OPEN_DECODE);
  ASSERT_NE(e, nullptr);
  ASSERT_NE(d, nullptr);
  coder_closer close_e{e}, close_d{d};
  vrio_t_buf from = view(all.data(), all.size() * 4);
  vrio_t_buf *encoded = vrio_buf_alloc(nullptr, 0, 0);
  vrio_t_buf *decoded = vrio_buf_alloc(nullptr, 0, 0);
  size_t offset = 0;
  ASSERT_EQ(vrio_char_coder_encode(e, &from, &offset, encoded, 0), VRIO_S_NOERR);
  EXPECT_EQ(offset, from.extent) << "one call encodes everything";
  EXPECT_EQ(encoded->extent, length);
  offset = 0;
  ASSERT_EQ(vrio_char_coder_encode(d, encoded, &offset, decoded, end_of_input), VRIO_S_NOERR);
  EXPECT_EQ(offset, encoded->extent);
  ASSERT_EQ(decoded->extent, from.extent);
  EXPECT_EQ(std::memcmp(decoded->buf, all.data(), from.extent), 0);
  vrio_buf_free(encoded);
  vrio_buf_free(decoded);
}

TEST_F(VrioCoder, KnownEncodings)
{
  const struct {
    const char *name;
    codes in;
    bytes out;
  } cases[] = {
      {"UTF-8", {0x41, 0xE9, 0x20AC, 0x10FFFF}, {0x41, 0xC3, 0xA9, 0xE2, 0x82, 0xAC, 0xF4, 0x8F, 0xBF, 0xBF}},
      {"UTF-8", {0x7F, 0x80, 0x7FF, 0x800, 0xFFFF, 0x10000},
       {0x7F, 0xC2, 0x80, 0xDF, 0xBF, 0xE0, 0xA0, 0x80, 0xEF, 0xBF, 0xBF, 0xF0, 0x90, 0x80, 0x80}},
      {"UTF-16LE", {0x1F600}, {0x3D, 0xD8, 0x00, 0xDE}},
      {"UTF-16BE", {0x1F600, 0x41}, {0xD8, 0x3D, 0xDE, 0x00, 0x00, 0x41}},
      {"UTF-32LE", {0x1F600}, {0x00, 0xF6, 0x01, 0x00}},
      {"UTF-32BE", {0x1F600}, {0x00, 0x01, 0xF6, 0x00}},
      {"ISO-8859-15", {0x20AC, 0x41}, {0xA4, 0x41}},
      {"windows-1252", {0x20AC, 0x2122}, {0x80, 0x99}},
      {"ISO-8859-2", {0x0104, 0x02D9}, {0xA1, 0xFF}},
  };
  for (const auto &c : cases) {
    outcome o = encode(c.name, c.in, 0, 0);
    EXPECT_EQ(o.last, VRIO_E_NOT_ENOUGH_DATA) << c.name;
    EXPECT_EQ(o.decoded, codes(c.out.begin(), c.out.end())) << c.name << " " << show(c.in);
    outcome back = decode(c.name, c.out, 0, end_of_input);
    EXPECT_EQ(back.last, VRIO_E_END_OF_FILE) << c.name;
    EXPECT_EQ(back.decoded, c.in) << c.name;
  }
}

// The single-byte coders: every assigned byte decodes to its table's code
// and that code encodes back to the byte; every other code of the Basic
// Multilingual Plane's first part is unmappable.  Known points pin the
// generated tables to their charsets.
TEST_F(VrioCoder, EverySingleByteCodeRoundTrips)
{
  const struct {
    const char *name;
    int assigned;
    std::vector<std::pair<unsigned char, int32_t>> known; // byte, code (-1 unassigned)
  } kinds[] = {
      {"ANSI_X3.4-1968", 128, {{0x41, 0x41}, {0x7F, 0x7F}, {0x80, -1}, {0xFF, -1}}},
      {"ISO-8859-1", 256, {{0xA4, 0xA4}, {0x80, 0x80}, {0xFF, 0xFF}}},
      {"ISO-8859-2", 256, {{0xA1, 0x104}, {0xFF, 0x2D9}, {0xE9, 0xE9}}},
      {"ISO-8859-15", 256, {{0xA4, 0x20AC}, {0xBC, 0x152}, {0xBE, 0x178}}},
      {"windows-1252", 251, {{0x80, 0x20AC}, {0x81, -1}, {0x8D, -1}, {0x8F, -1}, {0x90, -1},
                             {0x9D, -1}, {0x9F, 0x178}}},
  };
  for (const auto &k : kinds) {
    vrio_t_coder *d = open_coder(k.name, VRIO_CODER_OPEN_DECODE);
    vrio_t_coder *e = open_coder(k.name, 0);
    ASSERT_NE(d, nullptr);
    ASSERT_NE(e, nullptr);
    int assigned = 0;
    std::vector<int32_t> code_of(256, -1);
    for (int b = 0; b < 256; ++b) {
      unsigned char byte = static_cast<unsigned char>(b);
      outcome o = run_coder(d, &byte, 1, 0);
      if (o.decoded.empty()) {
        EXPECT_EQ(o.last, VRIO_E_ENCODING_INVALID) << k.name << " byte " << b;
        continue;
      }
      ++assigned;
      code_of[b] = static_cast<int32_t>(o.decoded[0]);
      uint32_t code = o.decoded[0];
      outcome back = run_coder(e, &code, 4, 0);
      EXPECT_EQ(back.decoded, codes{static_cast<uint32_t>(b)}) << k.name << " code " << code;
    }
    EXPECT_EQ(assigned, k.assigned) << k.name;
    for (auto [byte, code] : k.known)
      EXPECT_EQ(code_of[byte], code) << k.name << " byte " << int(byte);
    // Nothing else encodes (all the charsets' codes lie below 0x3000); with
    // replacement it becomes 1A.
    std::vector<bool> in_table(0x3000);
    for (int32_t code : code_of)
      if (code >= 0)
        in_table[static_cast<size_t>(code)] = true;
    vrio_t_buf *out = vrio_buf_alloc(nullptr, 0, 0);
    for (uint32_t code = 0; code < 0x3000; ++code) {
      if (in_table[code])
        continue;
      vrio_t_buf in = view(&code, 4);
      size_t offset = 0;
      ASSERT_EQ(vrio_char_coder_encode(e, &in, &offset, out, 0), VRIO_E_ENCODING_UNMAPPABLE)
          << k.name << " code " << code;
      ASSERT_EQ(out->extent, 0u);
    }
    vrio_buf_free(out);
    uint32_t unmappable = 0x10FFFF;
    EXPECT_EQ(run_coder(e, &unmappable, 4, VRIO_CODER_REPLACE | VRIO_CODER_NEVER_REPLACE).decoded,
              codes{0x1A})
        << k.name << ": the replacement byte whatever option 8 says";
    vrio_char_coder_close(d);
    vrio_char_coder_close(e);
  }
}

// Ill-formed and unmappable input, decoded with each set of options: what
// comes out and the error that ends it.
TEST_F(VrioCoder, MalformedInputTable)
{
  constexpr uint32_t R = 0xFFFD;
  constexpr vrio_t_error_code INVALID = VRIO_E_ENCODING_INVALID,
                              UNMAPPABLE = VRIO_E_ENCODING_UNMAPPABLE,
                              MORE = VRIO_E_NOT_ENOUGH_DATA, END = VRIO_E_END_OF_FILE;
  const struct {
    const char *why;
    const char *name;
    bytes in;
    vrio_t_bits options;
    codes out;
    vrio_t_error_code last;
  } cases[] = {
      // UTF-8: overlong forms, surrogates, values beyond U+10FFFF, stray bytes.
      {"overlong NUL", "UTF-8", {0xC0, 0x80}, end_of_input, {}, INVALID},
      {"overlong NUL replaced", "UTF-8", {0xC0, 0x80, 0x41}, end_of_input | replace_all, {R, 0x41}, END},
      {"overlong 2-byte C1", "UTF-8", {0xC1, 0xBF}, end_of_input, {}, INVALID},
      {"overlong 3-byte", "UTF-8", {0xE0, 0x9F, 0xBF}, end_of_input, {}, INVALID},
      {"overlong 4-byte", "UTF-8", {0xF0, 0x8F, 0xBF, 0xBF}, end_of_input, {}, INVALID},
      {"overlong replaced whole", "UTF-8", {0xF0, 0x8F, 0xBF, 0xBF}, end_of_input | replace_all, {R}, END},
      {"encoded high surrogate", "UTF-8", {0xED, 0xA0, 0x80}, end_of_input, {}, INVALID},
      {"encoded low surrogate", "UTF-8", {0x41, 0xED, 0xBF, 0xBF}, end_of_input, {0x41}, INVALID},
      {"above U+10FFFF always replaced", "UTF-8", {0xF4, 0x90, 0x80, 0x80}, end_of_input, {R}, END},
      {"F5 lead always replaced", "UTF-8", {0xF5, 0x80, 0x80, 0x80, 0x42}, end_of_input, {R, 0x42}, END},
      {"never replace still replaces beyond range", "UTF-8", {0xF4, 0x90, 0x80, 0x80}, end_of_input | VRIO_CODER_NEVER_REPLACE, {R}, END},
      {"stray continuation", "UTF-8", {0x80}, end_of_input, {}, INVALID},
      {"stray continuation replaced", "UTF-8", {0x80, 0xBF, 0x41}, end_of_input | replace_all, {R, R, 0x41}, END},
      {"FE and FF", "UTF-8", {0xFE, 0xFF}, end_of_input | replace_all, {R, R}, END},
      {"replacement needs both bits", "UTF-8", {0xFF}, end_of_input | VRIO_CODER_REPLACE, {}, INVALID},
      {"option 8 forbids replacement", "UTF-8", {0xFF}, end_of_input | replace_all | VRIO_CODER_NEVER_REPLACE, {}, INVALID},
      {"good then bad", "UTF-8", {0x41, 0x42, 0xFF}, 0, {0x41, 0x42}, INVALID},
      {"third byte not a continuation", "UTF-8", {0xE2, 0x82, 0x41}, end_of_input, {}, INVALID},
      // Truncated sequences at the end of the buffer.
      {"cut 2-byte waits", "UTF-8", {0x41, 0xC3}, 0, {0x41}, MORE},
      {"cut 2-byte at end", "UTF-8", {0x41, 0xC3}, end_of_input, {0x41}, INVALID},
      {"cut 2-byte at end replaced", "UTF-8", {0xC3}, end_of_input | replace_all, {R}, END},
      {"cut 4-byte waits", "UTF-8", {0xF0, 0x9F, 0x98}, 0, {}, MORE},
      {"cut 4-byte at end replaced byte by byte", "UTF-8", {0xF0, 0x9F, 0x98}, end_of_input | replace_all, {R, R, R}, END},
      // UTF-16: lone surrogates and cut units.
      {"lone low unit", "UTF-16BE", {0xDC, 0x00, 0x00, 0x41}, end_of_input, {}, INVALID},
      {"lone low unit replaced", "UTF-16BE", {0xDC, 0x00, 0x00, 0x41}, end_of_input | replace_all, {R, 0x41}, END},
      {"high unit then no low", "UTF-16LE", {0x00, 0xD8, 0x41, 0x00}, end_of_input | replace_all, {R, 0x41}, END},
      {"high unit cut waits", "UTF-16LE", {0x41, 0x00, 0x3D, 0xD8}, 0, {0x41}, MORE},
      {"high unit at end", "UTF-16LE", {0x3D, 0xD8}, end_of_input, {}, INVALID},
      {"high unit at end replaced", "UTF-16LE", {0x3D, 0xD8}, end_of_input | replace_all, {R}, END},
      {"odd byte at end", "UTF-16BE", {0x00, 0x41, 0x00}, end_of_input | replace_all, {0x41}, INVALID},
      {"byte-swapped pair is two lone units", "UTF-16BE", {0xDE, 0x00, 0xD8, 0x3D}, end_of_input | replace_all, {R, R}, END},
      // UTF-32: values that are no characters.
      {"surrogate", "UTF-32BE", {0, 0, 0xD8, 0}, end_of_input, {}, UNMAPPABLE},
      {"surrogate replaced", "UTF-32BE", {0, 0, 0xD8, 0}, end_of_input | VRIO_CODER_REPLACE, {R}, END},
      {"beyond range replaced", "UTF-32LE", {0, 0, 0x11, 0}, end_of_input | VRIO_CODER_REPLACE, {R}, END},
      {"top bit is ill-formed", "UTF-32BE", {0x80, 0, 0, 0x41}, end_of_input | VRIO_CODER_REPLACE, {}, INVALID},
      {"top bit replaced with both bits", "UTF-32BE", {0x80, 0, 0, 0x41}, end_of_input | replace_all, {R}, END},
      {"never replace", "UTF-32BE", {0, 0x11, 0, 0}, end_of_input | replace_all | VRIO_CODER_NEVER_REPLACE, {}, UNMAPPABLE},
      {"cut unit", "UTF-32LE", {0x41, 0, 0, 0, 0x42, 0}, end_of_input, {0x41}, INVALID},
      // Single-byte charsets never replace on decoding.
      {"unassigned byte", "ANSI_X3.4-1968", {0x41, 0x80}, end_of_input | replace_all, {0x41}, INVALID},
      {"unassigned windows byte", "windows-1252", {0x81}, end_of_input | replace_all, {}, INVALID},
  };
  for (const auto &c : cases) {
    outcome o = decode(c.name, c.in, 0, c.options);
    EXPECT_EQ(o.decoded, c.out) << c.why << ": got " << show(o.decoded);
    EXPECT_EQ(o.last, c.last) << c.why << ": " << vrio_error_name(o.last);
  }
}

TEST_F(VrioCoder, UnmappableCodesWhenEncoding)
{
  const struct {
    const char *why;
    const char *name;
    codes in;
    vrio_t_bits options;
    bytes out;
    vrio_t_error_code last;
  } cases[] = {
      {"surrogate to UTF-8", "UTF-8", {0x41, 0xD800}, 0, {0x41}, VRIO_E_ENCODING_UNMAPPABLE},
      {"surrogate replaced", "UTF-8", {0xD800}, VRIO_CODER_REPLACE, {0xEF, 0xBF, 0xBD}, VRIO_E_NOT_ENOUGH_DATA},
      {"beyond range replaced", "UTF-8", {0x110000}, VRIO_CODER_REPLACE, {0xEF, 0xBF, 0xBD}, VRIO_E_NOT_ENOUGH_DATA},
      {"option 8 forbids it", "UTF-8", {0x110000}, VRIO_CODER_REPLACE | VRIO_CODER_NEVER_REPLACE, {}, VRIO_E_ENCODING_UNMAPPABLE},
      {"negative code", "UTF-16BE", {0xFFFFFFFF}, VRIO_CODER_REPLACE, {0xFF, 0xFD}, VRIO_E_NOT_ENOUGH_DATA},
      {"UTF-16 surrogate", "UTF-16LE", {0xDFFF}, 0, {}, VRIO_E_ENCODING_UNMAPPABLE},
      {"UTF-32 beyond", "UTF-32BE", {0x110000}, VRIO_CODER_REPLACE, {0, 0, 0xFF, 0xFD}, VRIO_E_NOT_ENOUGH_DATA},
      {"euro in Latin-1", "ISO-8859-1", {0x20AC}, 0, {}, VRIO_E_ENCODING_UNMAPPABLE},
      {"euro in Latin-1 replaced", "ISO-8859-1", {0x20AC}, VRIO_CODER_REPLACE, {0x1A}, VRIO_E_NOT_ENOUGH_DATA},
      {"currency sign is not in Latin-9", "ISO-8859-15", {0xA4}, 0, {}, VRIO_E_ENCODING_UNMAPPABLE},
  };
  for (const auto &c : cases) {
    outcome o = encode(c.name, c.in, 0, c.options);
    EXPECT_EQ(o.decoded, codes(c.out.begin(), c.out.end())) << c.why << ": " << show(o.decoded);
    EXPECT_EQ(o.last, c.last) << c.why << ": " << vrio_error_name(o.last);
  }
}

TEST_F(VrioCoder, LineEnds)
{
  const struct {
    const char *why;
    const char *name;
    bytes in;
    vrio_t_bits open, options;
    codes out;
    vrio_t_error_code last;
  } decoding[] = {
      {"CR LF with option 4", "UTF-8", {0x41, 0x0D, 0x0A, 0x42}, VRIO_CODER_OPEN_CRLF, end_of_input, {0x41, 0x0A, 0x42}, VRIO_E_END_OF_FILE},
      {"CR LF with option 8", "UTF-8", {0x41, 0x0D, 0x0A, 0x42}, VRIO_CODER_OPEN_ANY_EOL, end_of_input, {0x41, 0x0A, 0x42}, VRIO_E_END_OF_FILE},
      {"CR LF kept", "UTF-8", {0x41, 0x0D, 0x0A, 0x42}, 0, end_of_input, {0x41, 0x0D, 0x0A, 0x42}, VRIO_E_END_OF_FILE},
      {"CR waits for its follower", "UTF-8", {0x41, 0x0D}, VRIO_CODER_OPEN_CRLF, 0, {0x41}, VRIO_E_NOT_ENOUGH_DATA},
      {"CR at the end stays", "UTF-8", {0x41, 0x0D}, VRIO_CODER_OPEN_CRLF, end_of_input, {0x41, 0x0D}, VRIO_E_END_OF_FILE},
      {"lone CR with option 4", "UTF-8", {0x0D, 0x41}, VRIO_CODER_OPEN_CRLF, 0, {0x0D, 0x41}, VRIO_E_NOT_ENOUGH_DATA},
      {"CR CR LF with option 8", "UTF-8", {0x41, 0x0D, 0x0D, 0x0A}, VRIO_CODER_OPEN_ANY_EOL, end_of_input, {0x41, 0x0A, 0x0A}, VRIO_E_END_OF_FILE},
      {"UTF-16 CR LF", "UTF-16LE", {0x0D, 0, 0x0A, 0}, VRIO_CODER_OPEN_CRLF, end_of_input, {0x0A}, VRIO_E_END_OF_FILE},
      {"UTF-16 CR then half a unit", "UTF-16LE", {0x0D, 0, 0x0A}, VRIO_CODER_OPEN_CRLF, 0, {}, VRIO_E_NOT_ENOUGH_DATA},
      {"Latin-1 CR LF", "ISO-8859-1", {0x0D, 0x0A, 0x0D}, VRIO_CODER_OPEN_CRLF, end_of_input, {0x0A, 0x0D}, VRIO_E_END_OF_FILE},
  };
  for (const auto &c : decoding) {
    outcome o = decode(c.name, c.in, c.open, c.options);
    EXPECT_EQ(o.decoded, c.out) << c.why << ": " << show(o.decoded);
    EXPECT_EQ(o.last, c.last) << c.why << ": " << vrio_error_name(o.last);
  }
  const struct {
    const char *why;
    const char *name;
    vrio_t_bits open;
    bytes out;
    vrio_t_error_code last;
  } encoding[] = {
      {"UTF-8 CR LF", "UTF-8", VRIO_CODER_OPEN_CRLF, {0x41, 0x0D, 0x0A}, VRIO_E_NOT_ENOUGH_DATA},
      {"UTF-8 any line end", "UTF-8", VRIO_CODER_OPEN_ANY_EOL, {0x41}, VRIO_E_NOT_IMPLEMENTED},
      {"UTF-16BE any line end", "UTF-16BE", VRIO_CODER_OPEN_ANY_EOL, {0, 0x41, 0, 0x0A}, VRIO_E_NOT_ENOUGH_DATA},
      {"UTF-32LE CR LF", "UTF-32LE", VRIO_CODER_OPEN_CRLF, {0x41, 0, 0, 0, 0x0D, 0, 0, 0, 0x0A, 0, 0, 0}, VRIO_E_NOT_ENOUGH_DATA},
      {"Latin-1 any line end", "ISO-8859-1", VRIO_CODER_OPEN_ANY_EOL, {0x41}, VRIO_E_NOT_IMPLEMENTED},
  };
  for (const auto &c : encoding) {
    outcome o = encode(c.name, {0x41, 0x0A}, c.open, 0);
    EXPECT_EQ(o.decoded, codes(c.out.begin(), c.out.end())) << c.why << ": " << show(o.decoded);
    EXPECT_EQ(o.last, c.last) << c.why << ": " << vrio_error_name(o.last);
  }
}

TEST_F(VrioCoder, ByteOrderMarks)
{
  const bytes marked = {0xEF, 0xBB, 0xBF, 0x41, 0xEF, 0xBB, 0xBF};
  EXPECT_EQ(decode("UTF-8", marked, VRIO_CODER_OPEN_BOM, end_of_input).decoded,
            (codes{0x41, 0xFEFF}))
      << "dropped at the start only";
  EXPECT_EQ(decode("UTF-8", marked, 0, end_of_input).decoded, (codes{0xFEFF, 0x41, 0xFEFF}));
  EXPECT_EQ(decode("UTF-16LE", {0xFF, 0xFE, 0x41, 0x00}, VRIO_CODER_OPEN_BOM, end_of_input).decoded,
            codes{0x41});
  EXPECT_EQ(decode("UTF-32BE", {0, 0, 0xFE, 0xFF, 0, 0, 0, 0x41}, VRIO_CODER_OPEN_BOM, end_of_input).decoded,
            codes{0x41});
  EXPECT_EQ(decode("ISO-8859-1", {0xEF, 0xBB, 0xBF}, VRIO_CODER_OPEN_BOM, end_of_input).decoded,
            (codes{0xEF, 0xBB, 0xBF}))
      << "no mark exists in a single-byte charset";

  // An encoder writes the mark before the first character of the stream only.
  const struct {
    const char *name;
    vrio_t_bits open;
    bytes first, second;
  } cases[] = {
      {"UTF-8", VRIO_CODER_OPEN_BOM, {0xEF, 0xBB, 0xBF, 0x41}, {0x41}},
      {"UTF-8", VRIO_CODER_OPEN_BOM | VRIO_CODER_OPEN_NO_UTF8_BOM, {0x41}, {0x41}},
      {"UTF-16BE", VRIO_CODER_OPEN_BOM | VRIO_CODER_OPEN_NO_UTF8_BOM, {0xFE, 0xFF, 0, 0x41}, {0, 0x41}},
      {"UTF-16LE", VRIO_CODER_OPEN_BOM, {0xFF, 0xFE, 0x41, 0}, {0x41, 0}},
      {"UTF-32LE", VRIO_CODER_OPEN_BOM, {0xFF, 0xFE, 0, 0, 0x41, 0, 0, 0}, {0x41, 0, 0, 0}},
  };
  for (const auto &c : cases) {
    vrio_t_coder *e = open_coder(c.name, c.open);
    ASSERT_NE(e, nullptr);
    uint32_t a = 0x41;
    EXPECT_EQ(run_coder(e, &a, 4, 0).decoded, codes(c.first.begin(), c.first.end())) << c.name;
    EXPECT_EQ(run_coder(e, &a, 4, 0).decoded, codes(c.second.begin(), c.second.end())) << c.name;
    vrio_char_coder_close(e);
  }
  // A mark before an unmappable first character still goes out alone.
  outcome o = encode("UTF-8", {0xD800}, VRIO_CODER_OPEN_BOM, 0);
  EXPECT_EQ(o.decoded, (codes{0xEF, 0xBB, 0xBF}));
  EXPECT_EQ(o.last, VRIO_E_ENCODING_UNMAPPABLE);
}

// Progress first, the problem on the next call, which consumes nothing;
// the end-of-input rule of the framework.
TEST_F(VrioCoder, ProblemsAreReportedByTheNextCall)
{
  vrio_t_coder *d = open_coder("UTF-8", VRIO_CODER_OPEN_DECODE);
  ASSERT_NE(d, nullptr);
  coder_closer closer{d};
  const unsigned char in[] = {0x41, 0x42, 0xFF};
  vrio_t_buf from = view(in, sizeof in);
  vrio_t_buf *to = vrio_buf_alloc(nullptr, 0, 0);
  size_t offset = 0;
  EXPECT_EQ(vrio_char_coder_encode(d, &from, &offset, to, 0), VRIO_S_NOERR);
  EXPECT_EQ(offset, 2u);
  EXPECT_EQ(to->extent, 8u);
  EXPECT_EQ(vrio_char_coder_encode(d, &from, &offset, to, 0), VRIO_E_ENCODING_INVALID);
  EXPECT_EQ(offset, 2u) << "a failed call moves nothing";
  EXPECT_EQ(to->extent, 8u);

  const unsigned char cut[] = {0x41, 0xC3};
  from = view(cut, sizeof cut);
  offset = 1;
  EXPECT_EQ(vrio_char_coder_encode(d, &from, &offset, to, 0), VRIO_E_NOT_ENOUGH_DATA);
  EXPECT_EQ(vrio_char_coder_encode(d, &from, &offset, to, end_of_input), VRIO_E_ENCODING_INVALID);
  offset = 2;
  EXPECT_EQ(vrio_char_coder_encode(d, &from, &offset, to, end_of_input), VRIO_E_END_OF_FILE);
  vrio_buf_free(to);
}

TEST(VrioUtf8, StringChecks)
{
  const struct {
    bytes in;
    vrio_t_bits options;
    vrio_t_error_code legal;
  } cases[] = {
      {{0x41, 0xC3, 0xA9}, 0, VRIO_S_NOERR},
      {{0xC0, 0x80}, 0, VRIO_E_ENCODING_INVALID},
      {{0xC0, 0x80}, 1, VRIO_S_NOERR},
      {{0xC0, 0x81}, 1, VRIO_E_ENCODING_INVALID},
      {{0xC3}, 0, VRIO_E_ENCODING_INVALID},
      {{0xED, 0xA0, 0x80}, 0, VRIO_E_ENCODING_INVALID},
      {{0xED, 0xA0, 0x80}, 2, VRIO_S_NOERR},
      {{0xF4, 0x90, 0x80, 0x80}, 0, VRIO_E_ENCODING_UNMAPPABLE},
      {{0xF4, 0x90, 0x80, 0x80}, 2, VRIO_S_NOERR},
      {{0xF8, 0x88, 0x80, 0x80, 0x80}, 2, VRIO_S_NOERR},
      {{0xF8, 0x87, 0x80, 0x80, 0x80}, 2, VRIO_E_ENCODING_INVALID},
      {{0xFC, 0x84, 0x80, 0x80, 0x80, 0x80}, 2, VRIO_S_NOERR},
      {{0xFE}, 2, VRIO_E_ENCODING_INVALID},
      {{0x80}, 0, VRIO_E_ENCODING_INVALID},
  };
  for (const auto &c : cases)
    EXPECT_EQ(vrio_is_legal_utf8_string(c.in.data(), c.in.size(), c.options), c.legal)
        << show(codes(c.in.begin(), c.in.end())) << " options " << c.options;

  const unsigned char text[] = {0x41, 0xC0, 0x80, 0xF0, 0x9F, 0x98, 0x80};
  uint32_t out[4];
  size_t count = 4;
  ASSERT_EQ(vrio_decode_utf8_to_utf32(text, sizeof text, out, &count, 1), VRIO_S_NOERR);
  EXPECT_EQ(codes(out, out + count), (codes{0x41, 0, 0x1F600}));
  count = 2;
  EXPECT_EQ(vrio_decode_utf8_to_utf32(text, sizeof text, out, &count, 1), VRIO_E_OUT_OF_MEMORY);
  EXPECT_EQ(count, 2u);
  count = 4;
  EXPECT_EQ(vrio_decode_utf8_to_utf32(text, sizeof text - 1, out, &count, 1),
            VRIO_E_NOT_ENOUGH_DATA);
}

// Detection reads through a stream that can give bytes back; this one
// holds the bytes in memory and hands out `chunk` bytes per read, and
// ends with end of file only when `complete`.
struct held_layer {
  vrio_t_layer head;
  bytes data;
  size_t pos = 0, chunk = 4096;
  size_t available = ~size_t{0}; // bytes that have "arrived" so far
  int reads = 0;
};

vrio_t_error_code held_read(VRIO *s, vrio_t_buf *buf, vrio_t_bits)
{
  auto *l = reinterpret_cast<held_layer *>(*s);
  l->reads++;
  size_t end = std::min(l->data.size(), l->available);
  if (l->pos >= end) {
    if (end < l->data.size()) {
      l->available += 2; // more arrives while the reader waits
      end = std::min(l->data.size(), l->available);
    } else {
      return VRIO_E_END_OF_FILE;
    }
  }
  size_t n = std::min(l->chunk, end - l->pos);
  vrio_t_error_code rc = vrio_buf_concat_bytes(buf, l->data.data() + l->pos, n);
  if (rc >= 0)
    l->pos += n;
  return rc;
}

vrio_t_error_code held_seek(VRIO *s, vrio_t_offset offset, vrio_t_offset *new_position,
                            vrio_t_buf *, vrio_t_bits options)
{
  auto *l = reinterpret_cast<held_layer *>(*s);
  vrio_t_offset target = (options & VRIO_SEEK_ABSOLUTE) ? offset : static_cast<vrio_t_offset>(l->pos) + offset;
  if (target < 0)
    return VRIO_E_PARAMETER_ERROR;
  l->pos = static_cast<size_t>(target);
  *new_position = target;
  return VRIO_S_NOERR;
}

vrio_t_error_code held_write(VRIO *, vrio_t_buf *, size_t *, vrio_t_bits)
{
  return VRIO_E_NOT_WRITE;
}

vrio_t_error_code held_sync(VRIO *, vrio_t_bits)
{
  return VRIO_S_NOERR;
}

void held_destroy(vrio_t_layer *layer)
{
  delete reinterpret_cast<held_layer *>(layer);
}

vrio_t_error_code held_open(const vrio_t_funcs *, VRIO *, vrio_t_arglist, vrio_t_bits)
{
  return VRIO_E_NOT_IMPLEMENTED;
}

const vrio_t_funcs held_funcs = {sizeof(vrio_t_funcs), "held", sizeof(held_layer), 0, 0,
                                 held_read, held_write, held_sync, held_seek, nullptr,
                                 nullptr, nullptr, held_destroy, held_open, nullptr};

struct VrioDetect : VrioLibrary {
  held_layer *held = nullptr;
  VRIO s = nullptr;
  void stream(const std::string &text, vrio_t_bits flags = VRIO_LAYER_CAN_REREAD)
  {
    held = new held_layer{};
    held->head.funcs = &held_funcs;
    held->head.flags = VRIO_LAYER_READ_SIDE(1) | flags;
    held->data.assign(text.begin(), text.end());
    s = &held->head;
  }
  void TearDown() override
  {
    if (s != nullptr)
      held_destroy(s);
    VrioLibrary::TearDown();
  }
  // The canonical name found, "" for none, or the error's name.
  std::string detect(vrio_t_bits options = 0)
  {
    vrio_t_coder_funcs *funcs = reinterpret_cast<vrio_t_coder_funcs *>(1);
    vrio_t_error_code rc = vrio_detect_file_encoding(&s, &funcs, options);
    if (rc < 0)
      return vrio_error_name(rc);
    if (rc == 1) {
      EXPECT_EQ(funcs, nullptr);
      return "";
    }
    std::string name = funcs->name;
    vrio_coder_funcs_release(funcs);
    return name;
  }
};

TEST_F(VrioDetect, MarksAndCookies)
{
  const struct {
    const char *why;
    std::string text;
    vrio_t_bits options;
    std::string found;
  } cases[] = {
      {"UTF-8 mark", "\xEF\xBB\xBF" "A", 0, "UTF-8"},
      {"two-byte file FF FE", "\xFF\xFE", 0, "UTF-16LE"},
      {"UTF-16 LE mark", std::string("\xFF\xFE" "A\0", 4), 0, "UTF-16LE"},
      {"UTF-16 BE mark", std::string("\xFE\xFF\0A", 4), 0, "UTF-16BE"},
      {"UTF-32 LE mark", std::string("\xFF\xFE\0\0", 4), 0, "UTF-32LE"},
      {"UTF-32 BE mark", std::string("\0\0\xFE\xFF", 4), 0, "UTF-32BE"},
      {"mark of a coder that cannot seek", "\xEF\xBB\xBF" "A", 2, "VRIO_E_SEEK_ERROR"},
      {"empty file", "", 0, ""},
      {"no mark, no cookie", "plain text\n", 0, ""},
      {"cookie", "% -*- mode: prolog; coding: ISO-8859-1 -*-\nfoo.\n", 0, "ISO-8859-1"},
      {"cookie after blank lines", "\n\r\n%-*-coding:latin1-*-\n", 0, "ISO-8859-1"},
      {"cookie after a tab", "% -*- mode: x;\tcoding:\t utf-8 -*-", 0, "UTF-8"},
      {"cookie word glued to a letter", "% -*- xcoding: utf-8 -*-\n", 0, ""},
      {"cookie on the second line", "% first\n% -*- coding: utf-8 -*-\n", 0, ""},
      {"cookie without closing mark", "% -*- coding: utf-8\n", 0, ""},
      {"unknown charset", "% -*- coding: klingon -*-\n", 0, "VRIO_E_CHARSET_NOT_FOUND"},
      {"unknown charset ignored", "% -*- coding: klingon -*-\n", 1, ""},
      {"empty charset name: a syntax error counts as none", "% -*- coding: ;x -*-\n", 0, ""},
      {"cookie of a coder that can seek", "% -*- coding: latin1 -*-\n", 2, "ISO-8859-1"},
  };
  for (const auto &c : cases) {
    stream(c.text);
    EXPECT_EQ(detect(c.options), c.found) << c.why;
    EXPECT_EQ(held->pos, 0u) << c.why << ": the bytes read went back";
    held_destroy(s);
    s = nullptr;
  }
}

TEST_F(VrioDetect, WaitsForMoreBytesWhenTheyMayCome)
{
  // FF FE could still become the UTF-32 mark: the detector reads again.
  stream(std::string("\xFF\xFE\0\0", 4));
  held->available = 2;
  EXPECT_EQ(detect(), "UTF-32LE");
  EXPECT_GE(held->reads, 2);
  EXPECT_EQ(held->pos, 0u);
}

TEST_F(VrioDetect, NeedsAStreamThatCanGiveBytesBack)
{
  stream("\xEF\xBB\xBF" "A", 0);
  EXPECT_EQ(detect(), "");
  EXPECT_EQ(held->reads, 0) << "nothing was read";
  held->head.flags |= VRIO_LAYER_CAN_REREAD_OTHER;
  EXPECT_EQ(detect(), "UTF-8");
}

TEST_F(VrioDetect, ReadingAfterDetectionStartsAtTheMark)
{
  stream("\xEF\xBB\xBF" "AB");
  ASSERT_EQ(detect(), "UTF-8");
  vrio_t_buf *buf = nullptr;
  ASSERT_EQ(vrio_read(&s, &buf, VRIO_READ_BYTES), VRIO_S_NOERR);
  EXPECT_EQ(std::string(reinterpret_cast<char *>(buf->buf), buf->extent), "\xEF\xBB\xBF" "AB");
  vrio_buf_free(buf);
}

} // namespace
