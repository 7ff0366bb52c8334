/* digests.h: the MD5 message digest (RFC 1321) and Bob Jenkins' lookup3
 * hash functions, both exactly as their authors published them, so that
 * digests and hashes agree with every other implementation.
 *
 * Callers: term hashing (jenkins_lookup3_hashlittle is one of its byte
 * hashes) and the message-digest built-in.  Pure functions of their input;
 * any thread.
 */
#ifndef VOSTREL_DIGESTS_H
#define VOSTREL_DIGESTS_H

#include <cstddef>
#include <cstdint>

/* ---- MD5 ---- */

struct MD5_CTX {
  std::uint32_t state[4];  /* chaining words A, B, C, D */
  std::uint32_t count[2];  /* message length in bits, low word first */
  unsigned char buffer[64]; /* input not yet transformed */
};

void MD5Init(MD5_CTX *context);
void MD5Update(MD5_CTX *context, const unsigned char *input, unsigned int length);
/* Pads, writes the 16 digest bytes and clears the whole context. */
void MD5Final(unsigned char digest[16], MD5_CTX *context);
/* One 64-byte block into the chaining words. */
void MD5Transform(std::uint32_t state[4], const unsigned char block[64]);
/* 32-bit words to little-endian bytes; length in bytes, a multiple of 4. */
void Encode(unsigned char *output, const std::uint32_t *input, unsigned int length);

/* ---- lookup3 ---- */

/* hashword: an array of `length` 32-bit words. */
std::uint32_t jenkins_lookup3_hashword(const std::uint32_t *key, std::size_t length, std::uint32_t initval);
/* hashword2: two results; *pc and *pb are the seeds in and the hashes out. */
void jenkins_lookup3_hashword2(const std::uint32_t *key, std::size_t length, std::uint32_t *pc,
                               std::uint32_t *pb);
/* hashlittle: `length` bytes at any alignment; on this little-endian
   machine the same as hashword over the same bytes when they are whole
   words. */
std::uint32_t jenkins_lookup3_hashlittle(const void *key, std::size_t length, std::uint32_t initval);
void jenkins_lookup3_hashlittle2(const void *key, std::size_t length, std::uint32_t *pc, std::uint32_t *pb);
/* hashbig: the byte hash that reads words most significant byte first. */
std::uint32_t jenkins_lookup3_hashbig(const void *key, std::size_t length, std::uint32_t initval);

#endif
