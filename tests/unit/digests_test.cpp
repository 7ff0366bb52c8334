// MD5 against the test suite of RFC 1321 and lookup3 against the check
// values published with it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "digests.h"

namespace {

std::string hex(const unsigned char *bytes, int n)
{
  std::string s;
  char two[3];
  for (int i = 0; i < n; i++) {
    std::snprintf(two, sizeof two, "%02x", bytes[i]);
    s += two;
  }
  return s;
}

std::string md5_of(const std::string &text, unsigned chunk)
{
  MD5_CTX context;
  MD5Init(&context);
  const auto *p = reinterpret_cast<const unsigned char *>(text.data());
  for (std::size_t at = 0; at < text.size(); at += chunk) {
    const std::size_t n = std::min<std::size_t>(chunk, text.size() - at);
    MD5Update(&context, p + at, static_cast<unsigned>(n));
  }
  unsigned char digest[16];
  MD5Final(digest, &context);
  return hex(digest, 16);
}

TEST(Md5, Rfc1321TestSuite)
{
  struct tc {
    const char *text, *digest;
  } cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const tc &c : cases) {
    // Whole, and fed in pieces that straddle the 64-byte blocks: the
    // buffering must not change the digest.
    EXPECT_EQ(md5_of(c.text, 1 << 20), c.digest) << '"' << c.text << '"';
    for (unsigned chunk : {1u, 7u, 63u, 64u, 65u})
      EXPECT_EQ(md5_of(c.text, chunk), c.digest) << '"' << c.text << "\" in pieces of " << chunk;
  }
}

TEST(Md5, MillionLetters)
{
  // A long message, fed a block at a time: a million 'a's.
  EXPECT_EQ(md5_of(std::string(1000000, 'a'), 4096), "7707d6ae4e027c70eea2a935c2296f21");
}

TEST(Md5, FinalClearsTheContext)
{
  MD5_CTX context;
  MD5Init(&context);
  MD5Update(&context, reinterpret_cast<const unsigned char *>("abc"), 3);
  unsigned char digest[16];
  MD5Final(digest, &context);
  const auto *raw = reinterpret_cast<const unsigned char *>(&context);
  for (std::size_t i = 0; i < sizeof context; i++)
    ASSERT_EQ(raw[i], 0) << "byte " << i << " of the context after MD5Final";
}

TEST(Md5, EncodeIsLittleEndian)
{
  const std::uint32_t words[2] = {0x04030201, 0xddccbbaa};
  unsigned char bytes[8];
  Encode(bytes, words, 8);
  EXPECT_EQ(hex(bytes, 8), "01020304aabbccdd");
}

const char four_score[] = "Four score and seven years ago";

TEST(Lookup3, PublishedCheckValues)
{
  EXPECT_EQ(jenkins_lookup3_hashlittle("", 0, 0), 0xdeadbeefu);
  EXPECT_EQ(jenkins_lookup3_hashlittle(four_score, 30, 0), 0x17770551u);
  EXPECT_EQ(jenkins_lookup3_hashlittle(four_score, 30, 1), 0xcd628161u);

  struct tc {
    const char *key;
    std::size_t length;
    std::uint32_t c_in, b_in, c_out, b_out;
  } pairs[] = {
      {"", 0, 0, 0, 0xdeadbeef, 0xdeadbeef},
      {"", 0, 0, 0xdeadbeef, 0xbd5b7dde, 0xdeadbeef},
      {"", 0, 0xdeadbeef, 0xdeadbeef, 0x9c093ccd, 0xbd5b7dde},
      {four_score, 30, 0, 0, 0x17770551, 0xce7226e6},
      {four_score, 30, 0, 1, 0xe3607cae, 0xbd371de4},
      {four_score, 30, 1, 0, 0xcd628161, 0x6cbea4b3},
  };
  for (const tc &p : pairs) {
    std::uint32_t c = p.c_in, b = p.b_in;
    jenkins_lookup3_hashlittle2(p.key, p.length, &c, &b);
    EXPECT_EQ(c, p.c_out) << "hashlittle2 of " << p.length << " bytes, c " << p.c_in << " b " << p.b_in;
    EXPECT_EQ(b, p.b_out) << "hashlittle2 of " << p.length << " bytes, c " << p.c_in << " b " << p.b_in;
  }
}

TEST(Lookup3, SameHashAtEveryAlignment)
{
  // The three reading paths (words, halves, bytes) must agree for every
  // tail length.
  alignas(4) unsigned char storage[64];
  for (std::size_t length = 0; length <= 40; length++) {
    std::memcpy(storage, four_score, 30);
    std::memcpy(storage + 30, four_score, 10);
    const std::uint32_t aligned = jenkins_lookup3_hashlittle(storage, length, 7);
    for (int offset = 1; offset < 4; offset++) {
      unsigned char shifted[64];
      std::memcpy(shifted + offset, storage, length);
      EXPECT_EQ(jenkins_lookup3_hashlittle(shifted + offset, length, 7), aligned)
          << length << " bytes at offset " << offset;
    }
  }
}

TEST(Lookup3, HashwordIsHashlittleOnWholeWords)
{
  // Published property: on a little-endian machine hashword over n words
  // equals hashlittle over the same 4n bytes, and hashword2 hashlittle2.
  const std::uint32_t words[7] = {0x01234567, 0x89abcdef, 0xdeadbeef, 0, 0xffffffff, 42, 0x80000000};
  for (std::size_t n = 0; n <= 7; n++) {
    EXPECT_EQ(jenkins_lookup3_hashword(words, n, 13), jenkins_lookup3_hashlittle(words, 4 * n, 13)) << n;
    std::uint32_t c1 = 5, b1 = 9, c2 = 5, b2 = 9;
    jenkins_lookup3_hashword2(words, n, &c1, &b1);
    jenkins_lookup3_hashlittle2(words, 4 * n, &c2, &b2);
    EXPECT_EQ(c1, c2) << n;
    EXPECT_EQ(b1, b2) << n;
  }
  EXPECT_EQ(jenkins_lookup3_hashword(words, 0, 0), 0xdeadbeefu);
}

TEST(Lookup3, HashbigReadsWordsMostSignificantByteFirst)
{
  // hashbig over bytes equals hashword over the words those bytes spell
  // most significant byte first.
  const unsigned char bytes[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  const std::uint32_t words[3] = {0x01020304, 0x05060708, 0x090a0b0c};
  for (std::size_t n = 0; n <= 3; n++)
    EXPECT_EQ(jenkins_lookup3_hashbig(bytes, 4 * n, 3), jenkins_lookup3_hashword(words, n, 3)) << n;
  EXPECT_NE(jenkins_lookup3_hashbig(four_score, 30, 0), jenkins_lookup3_hashlittle(four_score, 30, 0));
}

} // namespace
