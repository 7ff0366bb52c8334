/* digests.cpp: MD5 (RFC 1321) and lookup3 (see digests.h).
 *
 * Both follow their published reference code step by step: the constants,
 * rotation counts and tail handling must not be "improved", since a hash
 * that differs from the published one in any bit is simply wrong.  The one
 * liberty taken is lookup3's word-aligned tail, written in the published
 * alternative form that reads only the key's own bytes (the default form
 * reads up to three bytes past the end and masks them off; the results are
 * the same, and the sanitizer build stays quiet).
 */
#include "digests.h"

#include <cstring>

/* ---- MD5 ---- */

namespace {

const unsigned char md5_padding[64] = {0x80};

/* Little-endian bytes to 32-bit words; length in bytes. */
void Decode(std::uint32_t *output, const unsigned char *input, unsigned int length)
{
  for (unsigned int i = 0, j = 0; j < length; i++, j += 4)
    output[i] = static_cast<std::uint32_t>(input[j]) | (static_cast<std::uint32_t>(input[j + 1]) << 8) |
                (static_cast<std::uint32_t>(input[j + 2]) << 16) | (static_cast<std::uint32_t>(input[j + 3]) << 24);
}

inline std::uint32_t F(std::uint32_t x, std::uint32_t y, std::uint32_t z) { return (x & y) | (~x & z); }
inline std::uint32_t G(std::uint32_t x, std::uint32_t y, std::uint32_t z) { return (x & z) | (y & ~z); }
inline std::uint32_t H(std::uint32_t x, std::uint32_t y, std::uint32_t z) { return x ^ y ^ z; }
inline std::uint32_t I(std::uint32_t x, std::uint32_t y, std::uint32_t z) { return y ^ (x | ~z); }
inline std::uint32_t rotate_left(std::uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

typedef std::uint32_t (*md5_round_fn)(std::uint32_t, std::uint32_t, std::uint32_t);

inline void step(md5_round_fn f, std::uint32_t &a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
                 std::uint32_t x, int s, std::uint32_t ac)
{
  a += f(b, c, d) + x + ac;
  a = rotate_left(a, s);
  a += b;
}

enum { S11 = 7, S12 = 12, S13 = 17, S14 = 22, S21 = 5, S22 = 9, S23 = 14, S24 = 20,
       S31 = 4, S32 = 11, S33 = 16, S34 = 23, S41 = 6, S42 = 10, S43 = 15, S44 = 21 };

} // namespace

void MD5Init(MD5_CTX *context)
{
  context->count[0] = context->count[1] = 0;
  context->state[0] = 0x67452301;
  context->state[1] = 0xefcdab89;
  context->state[2] = 0x98badcfe;
  context->state[3] = 0x10325476;
}

void MD5Update(MD5_CTX *context, const unsigned char *input, unsigned int length)
{
  unsigned int index = (context->count[0] >> 3) & 0x3F;
  if ((context->count[0] += length << 3) < (length << 3))
    context->count[1]++;
  context->count[1] += length >> 29;
  const unsigned int part = 64 - index;
  unsigned int i;
  if (length >= part) {
    std::memcpy(&context->buffer[index], input, part);
    MD5Transform(context->state, context->buffer);
    for (i = part; i + 63 < length; i += 64)
      MD5Transform(context->state, &input[i]);
    index = 0;
  } else {
    i = 0;
  }
  if (length > i)
    std::memcpy(&context->buffer[index], &input[i], length - i);
}

void MD5Final(unsigned char digest[16], MD5_CTX *context)
{
  unsigned char bits[8];
  Encode(bits, context->count, 8);
  const unsigned int index = (context->count[0] >> 3) & 0x3f;
  const unsigned int pad = index < 56 ? 56 - index : 120 - index;
  MD5Update(context, md5_padding, pad);
  MD5Update(context, bits, 8);
  Encode(digest, context->state, 16);
  std::memset(context, 0, sizeof *context);
}

void MD5Transform(std::uint32_t state[4], const unsigned char block[64])
{
  std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3], x[16];
  Decode(x, block, 64);

  /* Round 1 */
  step(F, a, b, c, d, x[0], S11, 0xd76aa478);
  step(F, d, a, b, c, x[1], S12, 0xe8c7b756);
  step(F, c, d, a, b, x[2], S13, 0x242070db);
  step(F, b, c, d, a, x[3], S14, 0xc1bdceee);
  step(F, a, b, c, d, x[4], S11, 0xf57c0faf);
  step(F, d, a, b, c, x[5], S12, 0x4787c62a);
  step(F, c, d, a, b, x[6], S13, 0xa8304613);
  step(F, b, c, d, a, x[7], S14, 0xfd469501);
  step(F, a, b, c, d, x[8], S11, 0x698098d8);
  step(F, d, a, b, c, x[9], S12, 0x8b44f7af);
  step(F, c, d, a, b, x[10], S13, 0xffff5bb1);
  step(F, b, c, d, a, x[11], S14, 0x895cd7be);
  step(F, a, b, c, d, x[12], S11, 0x6b901122);
  step(F, d, a, b, c, x[13], S12, 0xfd987193);
  step(F, c, d, a, b, x[14], S13, 0xa679438e);
  step(F, b, c, d, a, x[15], S14, 0x49b40821);

  /* Round 2 */
  step(G, a, b, c, d, x[1], S21, 0xf61e2562);
  step(G, d, a, b, c, x[6], S22, 0xc040b340);
  step(G, c, d, a, b, x[11], S23, 0x265e5a51);
  step(G, b, c, d, a, x[0], S24, 0xe9b6c7aa);
  step(G, a, b, c, d, x[5], S21, 0xd62f105d);
  step(G, d, a, b, c, x[10], S22, 0x2441453);
  step(G, c, d, a, b, x[15], S23, 0xd8a1e681);
  step(G, b, c, d, a, x[4], S24, 0xe7d3fbc8);
  step(G, a, b, c, d, x[9], S21, 0x21e1cde6);
  step(G, d, a, b, c, x[14], S22, 0xc33707d6);
  step(G, c, d, a, b, x[3], S23, 0xf4d50d87);
  step(G, b, c, d, a, x[8], S24, 0x455a14ed);
  step(G, a, b, c, d, x[13], S21, 0xa9e3e905);
  step(G, d, a, b, c, x[2], S22, 0xfcefa3f8);
  step(G, c, d, a, b, x[7], S23, 0x676f02d9);
  step(G, b, c, d, a, x[12], S24, 0x8d2a4c8a);

  /* Round 3 */
  step(H, a, b, c, d, x[5], S31, 0xfffa3942);
  step(H, d, a, b, c, x[8], S32, 0x8771f681);
  step(H, c, d, a, b, x[11], S33, 0x6d9d6122);
  step(H, b, c, d, a, x[14], S34, 0xfde5380c);
  step(H, a, b, c, d, x[1], S31, 0xa4beea44);
  step(H, d, a, b, c, x[4], S32, 0x4bdecfa9);
  step(H, c, d, a, b, x[7], S33, 0xf6bb4b60);
  step(H, b, c, d, a, x[10], S34, 0xbebfbc70);
  step(H, a, b, c, d, x[13], S31, 0x289b7ec6);
  step(H, d, a, b, c, x[0], S32, 0xeaa127fa);
  step(H, c, d, a, b, x[3], S33, 0xd4ef3085);
  step(H, b, c, d, a, x[6], S34, 0x4881d05);
  step(H, a, b, c, d, x[9], S31, 0xd9d4d039);
  step(H, d, a, b, c, x[12], S32, 0xe6db99e5);
  step(H, c, d, a, b, x[15], S33, 0x1fa27cf8);
  step(H, b, c, d, a, x[2], S34, 0xc4ac5665);

  /* Round 4 */
  step(I, a, b, c, d, x[0], S41, 0xf4292244);
  step(I, d, a, b, c, x[7], S42, 0x432aff97);
  step(I, c, d, a, b, x[14], S43, 0xab9423a7);
  step(I, b, c, d, a, x[5], S44, 0xfc93a039);
  step(I, a, b, c, d, x[12], S41, 0x655b59c3);
  step(I, d, a, b, c, x[3], S42, 0x8f0ccc92);
  step(I, c, d, a, b, x[10], S43, 0xffeff47d);
  step(I, b, c, d, a, x[1], S44, 0x85845dd1);
  step(I, a, b, c, d, x[8], S41, 0x6fa87e4f);
  step(I, d, a, b, c, x[15], S42, 0xfe2ce6e0);
  step(I, c, d, a, b, x[6], S43, 0xa3014314);
  step(I, b, c, d, a, x[13], S44, 0x4e0811a1);
  step(I, a, b, c, d, x[4], S41, 0xf7537e82);
  step(I, d, a, b, c, x[11], S42, 0xbd3af235);
  step(I, c, d, a, b, x[2], S43, 0x2ad7d2bb);
  step(I, b, c, d, a, x[9], S44, 0xeb86d391);

  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
  /* The block may hold secrets: leave no copy on the stack. */
  std::memset(x, 0, sizeof x);
}

void Encode(unsigned char *output, const std::uint32_t *input, unsigned int length)
{
  for (unsigned int i = 0, j = 0; j < length; i++, j += 4) {
    output[j] = static_cast<unsigned char>(input[i] & 0xff);
    output[j + 1] = static_cast<unsigned char>((input[i] >> 8) & 0xff);
    output[j + 2] = static_cast<unsigned char>((input[i] >> 16) & 0xff);
    output[j + 3] = static_cast<unsigned char>((input[i] >> 24) & 0xff);
  }
}

/* ---- lookup3 ---- */

namespace {

inline std::uint32_t rot(std::uint32_t x, int k) { return (x << k) | (x >> (32 - k)); }

/* Reversibly mixes three words: every input bit affects every output bit
   in at least two ways. */
inline void mix(std::uint32_t &a, std::uint32_t &b, std::uint32_t &c)
{
  a -= c; a ^= rot(c, 4);  c += b;
  b -= a; b ^= rot(a, 6);  a += c;
  c -= b; c ^= rot(b, 8);  b += a;
  a -= c; a ^= rot(c, 16); c += b;
  b -= a; b ^= rot(a, 19); a += c;
  c -= b; c ^= rot(b, 4);  b += a;
}

/* Final mixing of three words into c. */
inline void final_mix(std::uint32_t &a, std::uint32_t &b, std::uint32_t &c)
{
  c ^= b; c -= rot(b, 14);
  a ^= c; a -= rot(c, 11);
  b ^= a; b -= rot(a, 25);
  c ^= b; c -= rot(b, 16);
  a ^= c; a -= rot(c, 4);
  b ^= a; b -= rot(a, 14);
  c ^= b; c -= rot(b, 24);
}

/* The word loop and tail shared by hashword and hashword2. */
void hash_words(const std::uint32_t *k, std::size_t length, std::uint32_t &a, std::uint32_t &b,
                std::uint32_t &c)
{
  while (length > 3) {
    a += k[0];
    b += k[1];
    c += k[2];
    mix(a, b, c);
    length -= 3;
    k += 3;
  }
  switch (length) {
  case 3: c += k[2]; [[fallthrough]];
  case 2: b += k[1]; [[fallthrough]];
  case 1: a += k[0];
    final_mix(a, b, c);
    break;
  case 0: break;
  }
}

/* hashlittle's body after the seeding; false when the key was empty (no
   final mixing: the seeds are the result). */
bool hash_little(const void *key, std::size_t length, std::uint32_t &a, std::uint32_t &b, std::uint32_t &c)
{
  const std::uintptr_t address = reinterpret_cast<std::uintptr_t>(key);
  if ((address & 3) == 0) {
    const std::uint32_t *k = static_cast<const std::uint32_t *>(key);
    while (length > 12) {
      a += k[0];
      b += k[1];
      c += k[2];
      mix(a, b, c);
      length -= 12;
      k += 3;
    }
    const std::uint8_t *k8 = reinterpret_cast<const std::uint8_t *>(k);
    switch (length) {
    case 12: c += k[2]; b += k[1]; a += k[0]; break;
    case 11: c += static_cast<std::uint32_t>(k8[10]) << 16; [[fallthrough]];
    case 10: c += static_cast<std::uint32_t>(k8[9]) << 8; [[fallthrough]];
    case 9: c += k8[8]; [[fallthrough]];
    case 8: b += k[1]; a += k[0]; break;
    case 7: b += static_cast<std::uint32_t>(k8[6]) << 16; [[fallthrough]];
    case 6: b += static_cast<std::uint32_t>(k8[5]) << 8; [[fallthrough]];
    case 5: b += k8[4]; [[fallthrough]];
    case 4: a += k[0]; break;
    case 3: a += static_cast<std::uint32_t>(k8[2]) << 16; [[fallthrough]];
    case 2: a += static_cast<std::uint32_t>(k8[1]) << 8; [[fallthrough]];
    case 1: a += k8[0]; break;
    case 0: return false;
    }
  } else if ((address & 1) == 0) {
    const std::uint16_t *k = static_cast<const std::uint16_t *>(key);
    while (length > 12) {
      a += k[0] + (static_cast<std::uint32_t>(k[1]) << 16);
      b += k[2] + (static_cast<std::uint32_t>(k[3]) << 16);
      c += k[4] + (static_cast<std::uint32_t>(k[5]) << 16);
      mix(a, b, c);
      length -= 12;
      k += 6;
    }
    const std::uint8_t *k8 = reinterpret_cast<const std::uint8_t *>(k);
    switch (length) {
    case 12:
      c += k[4] + (static_cast<std::uint32_t>(k[5]) << 16);
      b += k[2] + (static_cast<std::uint32_t>(k[3]) << 16);
      a += k[0] + (static_cast<std::uint32_t>(k[1]) << 16);
      break;
    case 11: c += static_cast<std::uint32_t>(k8[10]) << 16; [[fallthrough]];
    case 10:
      c += k[4];
      b += k[2] + (static_cast<std::uint32_t>(k[3]) << 16);
      a += k[0] + (static_cast<std::uint32_t>(k[1]) << 16);
      break;
    case 9: c += k8[8]; [[fallthrough]];
    case 8:
      b += k[2] + (static_cast<std::uint32_t>(k[3]) << 16);
      a += k[0] + (static_cast<std::uint32_t>(k[1]) << 16);
      break;
    case 7: b += static_cast<std::uint32_t>(k8[6]) << 16; [[fallthrough]];
    case 6:
      b += k[2];
      a += k[0] + (static_cast<std::uint32_t>(k[1]) << 16);
      break;
    case 5: b += k8[4]; [[fallthrough]];
    case 4: a += k[0] + (static_cast<std::uint32_t>(k[1]) << 16); break;
    case 3: a += static_cast<std::uint32_t>(k8[2]) << 16; [[fallthrough]];
    case 2: a += k[0]; break;
    case 1: a += k8[0]; break;
    case 0: return false;
    }
  } else {
    const std::uint8_t *k = static_cast<const std::uint8_t *>(key);
    while (length > 12) {
      a += k[0];
      a += static_cast<std::uint32_t>(k[1]) << 8;
      a += static_cast<std::uint32_t>(k[2]) << 16;
      a += static_cast<std::uint32_t>(k[3]) << 24;
      b += k[4];
      b += static_cast<std::uint32_t>(k[5]) << 8;
      b += static_cast<std::uint32_t>(k[6]) << 16;
      b += static_cast<std::uint32_t>(k[7]) << 24;
      c += k[8];
      c += static_cast<std::uint32_t>(k[9]) << 8;
      c += static_cast<std::uint32_t>(k[10]) << 16;
      c += static_cast<std::uint32_t>(k[11]) << 24;
      mix(a, b, c);
      length -= 12;
      k += 12;
    }
    switch (length) {
    case 12: c += static_cast<std::uint32_t>(k[11]) << 24; [[fallthrough]];
    case 11: c += static_cast<std::uint32_t>(k[10]) << 16; [[fallthrough]];
    case 10: c += static_cast<std::uint32_t>(k[9]) << 8; [[fallthrough]];
    case 9: c += k[8]; [[fallthrough]];
    case 8: b += static_cast<std::uint32_t>(k[7]) << 24; [[fallthrough]];
    case 7: b += static_cast<std::uint32_t>(k[6]) << 16; [[fallthrough]];
    case 6: b += static_cast<std::uint32_t>(k[5]) << 8; [[fallthrough]];
    case 5: b += k[4]; [[fallthrough]];
    case 4: a += static_cast<std::uint32_t>(k[3]) << 24; [[fallthrough]];
    case 3: a += static_cast<std::uint32_t>(k[2]) << 16; [[fallthrough]];
    case 2: a += static_cast<std::uint32_t>(k[1]) << 8; [[fallthrough]];
    case 1: a += k[0]; break;
    case 0: return false;
    }
  }
  final_mix(a, b, c);
  return true;
}

} // namespace

std::uint32_t jenkins_lookup3_hashword(const std::uint32_t *key, std::size_t length, std::uint32_t initval)
{
  std::uint32_t a, b, c;
  a = b = c = 0xdeadbeef + (static_cast<std::uint32_t>(length) << 2) + initval;
  hash_words(key, length, a, b, c);
  return c;
}

void jenkins_lookup3_hashword2(const std::uint32_t *key, std::size_t length, std::uint32_t *pc,
                               std::uint32_t *pb)
{
  std::uint32_t a, b, c;
  a = b = c = 0xdeadbeef + static_cast<std::uint32_t>(length << 2) + *pc;
  c += *pb;
  hash_words(key, length, a, b, c);
  *pc = c;
  *pb = b;
}

std::uint32_t jenkins_lookup3_hashlittle(const void *key, std::size_t length, std::uint32_t initval)
{
  std::uint32_t a, b, c;
  a = b = c = 0xdeadbeef + static_cast<std::uint32_t>(length) + initval;
  hash_little(key, length, a, b, c);
  return c;
}

void jenkins_lookup3_hashlittle2(const void *key, std::size_t length, std::uint32_t *pc, std::uint32_t *pb)
{
  std::uint32_t a, b, c;
  a = b = c = 0xdeadbeef + static_cast<std::uint32_t>(length) + *pc;
  c += *pb;
  hash_little(key, length, a, b, c);
  *pc = c;
  *pb = b;
}

std::uint32_t jenkins_lookup3_hashbig(const void *key, std::size_t length, std::uint32_t initval)
{
  std::uint32_t a, b, c;
  a = b = c = 0xdeadbeef + static_cast<std::uint32_t>(length) + initval;
  /* On this little-endian machine the word-reading paths of the published
     function never apply: bytes are read one at a time. */
  const std::uint8_t *k = static_cast<const std::uint8_t *>(key);
  while (length > 12) {
    a += static_cast<std::uint32_t>(k[0]) << 24;
    a += static_cast<std::uint32_t>(k[1]) << 16;
    a += static_cast<std::uint32_t>(k[2]) << 8;
    a += static_cast<std::uint32_t>(k[3]);
    b += static_cast<std::uint32_t>(k[4]) << 24;
    b += static_cast<std::uint32_t>(k[5]) << 16;
    b += static_cast<std::uint32_t>(k[6]) << 8;
    b += static_cast<std::uint32_t>(k[7]);
    c += static_cast<std::uint32_t>(k[8]) << 24;
    c += static_cast<std::uint32_t>(k[9]) << 16;
    c += static_cast<std::uint32_t>(k[10]) << 8;
    c += static_cast<std::uint32_t>(k[11]);
    mix(a, b, c);
    length -= 12;
    k += 12;
  }
  switch (length) {
  case 12: c += k[11]; [[fallthrough]];
  case 11: c += static_cast<std::uint32_t>(k[10]) << 8; [[fallthrough]];
  case 10: c += static_cast<std::uint32_t>(k[9]) << 16; [[fallthrough]];
  case 9: c += static_cast<std::uint32_t>(k[8]) << 24; [[fallthrough]];
  case 8: b += k[7]; [[fallthrough]];
  case 7: b += static_cast<std::uint32_t>(k[6]) << 8; [[fallthrough]];
  case 6: b += static_cast<std::uint32_t>(k[5]) << 16; [[fallthrough]];
  case 5: b += static_cast<std::uint32_t>(k[4]) << 24; [[fallthrough]];
  case 4: a += k[3]; [[fallthrough]];
  case 3: a += static_cast<std::uint32_t>(k[2]) << 8; [[fallthrough]];
  case 2: a += static_cast<std::uint32_t>(k[1]) << 16; [[fallthrough]];
  case 1: a += static_cast<std::uint32_t>(k[0]) << 24; break;
  case 0: return c;
  }
  final_mix(a, b, c);
  return c;
}
