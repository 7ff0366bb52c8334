// The I/O library's value types: byte buffers (growth, contraction,
// borrowed storage), variants and argument lists (every kind), the
// registries' hash table (growth of chains, removal during iteration) and
// time-out conversions.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <set>
#include <string>

#include "vostrel/vrio.h"

namespace {

std::string contents(const vrio_t_buf *b)
{
  return std::string(reinterpret_cast<const char *>(b->buf), b->extent);
}

TEST(VrioBuf, DefaultAllocationIsFourHundredBytes)
{
  vrio_t_buf *b = vrio_buf_alloc(nullptr, 0, 0);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->writable_size, 400u);
  EXPECT_EQ(b->extent, 0u);
  EXPECT_EQ(b->flags, 0u);
  vrio_buf_free(b);
}

TEST(VrioBuf, SizesRoundUpToWholeItems)
{
  const struct { size_t asked, capacity; } cases[] = {{5, 8}, {4, 4}, {1, 4}, {401, 404}};
  for (auto c : cases) {
    vrio_t_buf *b = vrio_buf_alloc(nullptr, c.asked, 0);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->writable_size, c.capacity) << "asked " << c.asked;
    vrio_buf_free(b);
  }
}

TEST(VrioBuf, DefaultItemCountFromProperty)
{
  const struct { const char *value; size_t capacity; } cases[] = {
      {"0x20", 128}, {"040", 128}, {"25", 100}, {"12abc", 400}, {"0", 400}, {"", 400},
      {"-5", 400},   {"99999999999999999999", 400}};
  for (auto c : cases) {
    setenv("VRIO_DEFAULT_BUFITEMS", c.value, 1);
    ASSERT_EQ(vrio_init_buf(0), VRIO_S_NOERR);
    vrio_t_buf *b = vrio_buf_alloc(nullptr, 0, 0);
    EXPECT_EQ(b->writable_size, c.capacity) << "VRIO_DEFAULT_BUFITEMS=" << c.value;
    vrio_buf_free(b);
  }
  unsetenv("VRIO_DEFAULT_BUFITEMS");
  vrio_init_buf(0);
}

TEST(VrioBuf, ReserveGrowsByAtLeastTheDefault)
{
  vrio_t_buf *b = vrio_buf_alloc(nullptr, 400, 0);
  b->extent = 398;
  ASSERT_EQ(vrio_buf_reserve(b, 3), VRIO_S_NOERR);
  EXPECT_EQ(b->writable_size, 800u); // 398 + 400 rounded up
  ASSERT_EQ(vrio_buf_reserve(b, 2), VRIO_S_NOERR);
  EXPECT_EQ(b->writable_size, 800u) << "room enough: nothing changes";
  ASSERT_EQ(vrio_buf_reserve(b, 1000), VRIO_S_NOERR);
  EXPECT_EQ(b->writable_size, 1400u); // 398 + 1000 rounded up
  vrio_buf_free(b);
}

TEST(VrioBuf, GrowthKeepsEveryByte)
{
  vrio_t_buf *b = vrio_buf_alloc(nullptr, 4, 0);
  std::string expected;
  for (int i = 0; i < 5000; ++i) {
    auto byte = static_cast<unsigned char>(i * 7);
    ASSERT_EQ(vrio_buf_push(b, byte), VRIO_S_NOERR);
    expected.push_back(static_cast<char>(byte));
    ASSERT_LE(b->extent, b->writable_size);
    ASSERT_EQ(b->writable_size % 4, 0u);
  }
  EXPECT_EQ(contents(b), expected);
  unsigned char last;
  ASSERT_EQ(vrio_buf_pop(b, &last), VRIO_S_NOERR);
  EXPECT_EQ(last, static_cast<unsigned char>(4999 * 7));
  vrio_buf_free(b);
}

TEST(VrioBuf, ConcatenationAndPop)
{
  vrio_t_buf *b = vrio_buf_alloc(nullptr, 0, 0);
  vrio_t_buf *c = vrio_buf_alloc(nullptr, 0, 0);
  ASSERT_EQ(vrio_buf_concat_string(b, "abc"), VRIO_S_NOERR);
  ASSERT_EQ(vrio_buf_concat_bytes(b, "d\0e", 3), VRIO_S_NOERR);
  ASSERT_EQ(vrio_buf_concat_bytes(b, nullptr, 0), VRIO_S_NOERR);
  ASSERT_EQ(vrio_buf_concat_string(c, "xyz"), VRIO_S_NOERR);
  ASSERT_EQ(vrio_buf_concat(b, c), VRIO_S_NOERR);
  EXPECT_EQ(contents(b), std::string("abcd\0exyz", 9));
  vrio_buf_free(c);
  unsigned char byte;
  while (b->extent > 0)
    ASSERT_EQ(vrio_buf_pop(b, &byte), VRIO_S_NOERR);
  EXPECT_EQ(byte, 'a');
  EXPECT_EQ(vrio_buf_pop(b, &byte), VRIO_E_ERROR) << "empty";
  vrio_buf_free(b);
}

TEST(VrioBuf, Contraction)
{
  vrio_t_buf *b = vrio_buf_alloc(nullptr, 0, 0);
  vrio_buf_concat_string(b, "0123456789");
  ASSERT_EQ(vrio_buf_contract(b, 3), VRIO_S_NOERR);
  EXPECT_EQ(contents(b), "3456789");
  ASSERT_EQ(vrio_buf_contract(b, -2), VRIO_S_NOERR);
  EXPECT_EQ(contents(b), "34567");
  ASSERT_EQ(vrio_buf_contract(b, 0), VRIO_S_NOERR);
  EXPECT_EQ(contents(b), "34567");
  EXPECT_EQ(vrio_buf_contract(b, 6), VRIO_E_PARAMETER_ERROR);
  EXPECT_EQ(vrio_buf_contract(b, -6), VRIO_E_PARAMETER_ERROR);
  EXPECT_EQ(contents(b), "34567") << "a refused contraction changes nothing";
  ASSERT_EQ(vrio_buf_contract(b, -5), VRIO_S_NOERR);
  EXPECT_EQ(b->extent, 0u);
  vrio_buf_free(b);
}

TEST(VrioBuf, ContractionOfBorrowedStorageCopiesFirst)
{
  // The storage is the caller's (here read-only memory): moving bytes down
  // inside it, or freeing it, would be a fault.
  static const char text[] = "borrowed data";
  vrio_t_buf *b = vrio_buf_alloc(const_cast<char *>(text), 13, VRIO_BUF_ALLOC_READ_ONLY);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->flags & VRIO_BUF_BORROWED, VRIO_BUF_BORROWED);
  ASSERT_EQ(vrio_buf_contract(b, 9), VRIO_S_NOERR);
  EXPECT_EQ(contents(b), "data");
  EXPECT_NE(b->buf, reinterpret_cast<const unsigned char *>(text)) << "now an owned copy";
  EXPECT_EQ(b->flags & VRIO_BUF_BORROWED, 0u);
  EXPECT_STREQ(text, "borrowed data") << "the caller's storage is untouched";
  vrio_buf_free(b);

  char writable[] = "never copy";
  b = vrio_buf_alloc(writable, 10, VRIO_BUF_ALLOC_NEVER_COPY);
  EXPECT_EQ(vrio_buf_contract(b, 6), VRIO_E_OUT_OF_MEMORY) << "may not become a copy";
  EXPECT_EQ(contents(b), "never copy");
  EXPECT_STREQ(writable, "never copy");
  EXPECT_EQ(vrio_buf_contract(b, -6), VRIO_S_NOERR) << "dropping the end writes nothing";
  EXPECT_EQ(contents(b), "neve");
  vrio_buf_free(b);
}

TEST(VrioBuf, BorrowedReadOnlyDataGrowsIntoACopy)
{
  static const char text[] = "abc";
  vrio_t_buf *b = vrio_buf_alloc(const_cast<char *>(text), 3, VRIO_BUF_ALLOC_READ_ONLY);
  EXPECT_EQ(b->writable_size, 0u);
  ASSERT_EQ(vrio_buf_push(b, 'd'), VRIO_S_NOERR);
  EXPECT_EQ(contents(b), "abcd");
  EXPECT_EQ(b->flags & VRIO_BUF_BORROWED, 0u);
  EXPECT_STREQ(text, "abc");
  vrio_buf_free(b);

  b = vrio_buf_alloc(const_cast<char *>(text), 3,
                     VRIO_BUF_ALLOC_READ_ONLY | VRIO_BUF_ALLOC_NEVER_COPY);
  EXPECT_EQ(vrio_buf_push(b, 'd'), VRIO_E_OUT_OF_MEMORY);
  EXPECT_EQ(contents(b), "abc");
  EXPECT_EQ(b->buf, reinterpret_cast<const unsigned char *>(text));
  vrio_buf_free(b);
}

TEST(VrioBuf, CopiedAndTakenData)
{
  char text[] = "copy me";
  vrio_t_buf *b = vrio_buf_alloc(text, 7, VRIO_BUF_ALLOC_COPY);
  EXPECT_NE(b->buf, reinterpret_cast<unsigned char *>(text));
  EXPECT_EQ(b->writable_size, 8u);
  EXPECT_EQ(b->flags, 0u);
  text[0] = 'X';
  EXPECT_EQ(contents(b), "copy me");
  vrio_buf_free(b);

  auto *owned = static_cast<char *>(vrio_alloc(6));
  std::memcpy(owned, "owned", 6);
  b = vrio_buf_alloc(owned, 5, VRIO_BUF_ALLOC_TAKE);
  EXPECT_EQ(b->flags, 0u);
  EXPECT_EQ(b->writable_size, 5u);
  vrio_buf_free(b); // frees `owned` too (a leak checker would see it otherwise)
}

TEST(VrioBuf, GetBufTakesOwnedDataAndCopiesBorrowed)
{
  vrio_t_buf *b = vrio_buf_alloc(nullptr, 0, 0);
  vrio_buf_concat_string(b, "taken");
  unsigned char *data;
  size_t size;
  unsigned char *storage = b->buf;
  ASSERT_EQ(vrio_buf_get_buf(b, &data, &size), VRIO_S_NOERR);
  EXPECT_EQ(data, storage);
  EXPECT_EQ(std::string(reinterpret_cast<char *>(data), size), "taken");
  EXPECT_EQ(b->buf, nullptr);
  EXPECT_EQ(b->extent, 0u);
  EXPECT_EQ(b->writable_size, 0u);
  vrio_free(data);
  ASSERT_EQ(vrio_buf_concat_string(b, "again"), VRIO_S_NOERR) << "usable after";
  EXPECT_EQ(contents(b), "again");
  vrio_buf_free(b);

  static const char text[] = "lent";
  b = vrio_buf_alloc(const_cast<char *>(text), 4, 0);
  ASSERT_EQ(vrio_buf_get_buf(b, &data, &size), VRIO_S_NOERR);
  EXPECT_NE(data, reinterpret_cast<const unsigned char *>(text));
  EXPECT_EQ(std::string(reinterpret_cast<char *>(data), size), "lent");
  EXPECT_EQ(contents(b), "lent");
  vrio_free(data);
  vrio_buf_free(b);
}

TEST(VrioBuf, ResetTrimAndCallerRecords)
{
  vrio_t_buf b;
  vrio_buf_init_buf(&b);
  EXPECT_EQ(b.flags, VRIO_BUF_BORROWED | VRIO_BUF_CALLER_RECORD);
  EXPECT_EQ(b.buf, nullptr);
  ASSERT_EQ(vrio_buf_concat_string(&b, "0123456789"), VRIO_S_NOERR);
  EXPECT_EQ(b.writable_size, 400u); // extent 0 + max(10, 400)
  ASSERT_EQ(vrio_buf_trim(&b), VRIO_S_NOERR);
  EXPECT_EQ(b.writable_size, 12u);
  EXPECT_EQ(contents(&b), "0123456789");
  ASSERT_EQ(vrio_buf_reset(&b, 50), VRIO_S_NOERR);
  EXPECT_EQ(b.extent, 0u);
  EXPECT_GE(b.writable_size, 50u);
  vrio_buf_free(&b); // the record is ours: only the storage goes
  EXPECT_EQ(b.flags & VRIO_BUF_FREED, VRIO_BUF_FREED);
  EXPECT_EQ(b.buf, nullptr);
}

vrio_t_variant variant(vrio_t_variant_type kind)
{
  vrio_t_variant v{};
  v.flags = kind;
  return v;
}

TEST(VrioVariant, ArgumentListsGiveBackEveryKind)
{
  int target = 0;
  vrio_t_property args[7];
  args[0] = {"string", variant(VRIO_VARIANT_STRING)};
  args[0].v.u.string = const_cast<char *>("text");
  args[1] = {"pointer", variant(VRIO_VARIANT_POINTER)};
  args[1].v.u.p = &target;
  args[2] = {"flags", variant(VRIO_VARIANT_FLAGS)};
  args[2].v.u.flags = 0xF00Du;
  args[3] = {"int", variant(VRIO_VARIANT_INT)};
  args[3].v.u.i = -42;
  args[4] = {"int64", variant(VRIO_VARIANT_INT64)};
  args[4].v.u.i64 = INT64_C(-1) << 40;
  args[5] = {"string", variant(VRIO_VARIANT_STRING)}; // a later duplicate is never seen
  args[5].v.u.string = const_cast<char *>("shadowed");
  args[6] = {"ignored", variant(VRIO_VARIANT_END)};

  const vrio_t_variant *v;
  ASSERT_EQ(vrio_get_arg_variant(args, "flags", &v), VRIO_S_NOERR);
  EXPECT_EQ(v->u.flags, 0xF00Du);
  ASSERT_EQ(vrio_get_arg_variant(args, "int", &v), VRIO_S_NOERR);
  EXPECT_EQ(v->u.i, -42);
  ASSERT_EQ(vrio_get_arg_variant(args, "int64", &v), VRIO_S_NOERR);
  EXPECT_EQ(v->u.i64, INT64_C(-1) << 40);
  EXPECT_EQ(vrio_get_arg_variant(args, "ignored", &v), VRIO_E_NOT_FOUND) << "the end marker";

  const char *s = nullptr;
  ASSERT_EQ(vrio_get_arg_string(args, "string", &s), VRIO_S_NOERR);
  EXPECT_STREQ(s, "text");
  void *p = nullptr;
  ASSERT_EQ(vrio_get_arg(args, "pointer", VRIO_VARIANT_POINTER, &p), VRIO_S_NOERR);
  EXPECT_EQ(p, &target);
  EXPECT_EQ(vrio_get_arg(args, "pointer", VRIO_VARIANT_STRING, &p), VRIO_E_NOT_FOUND);
  EXPECT_EQ(vrio_get_arg(args, "int", VRIO_VARIANT_INT, &p), VRIO_E_NOT_SUPPORTED);
  EXPECT_EQ(vrio_get_arg_string(args, "missing", &s), VRIO_E_NOT_FOUND);
  EXPECT_STREQ(s, "text") << "out-parameters are written only on success";
}

TEST(VrioVariant, FreeReleasesOwnedContent)
{
  auto *v = static_cast<vrio_t_variant *>(vrio_alloc(sizeof(vrio_t_variant)));
  v->flags = VRIO_VARIANT_STRING | VRIO_VARIANT_ALLOCATED;
  v->u.string = vrio_alloc_string("owned");
  vrio_variant_free(v); // the record and the string (a leak checker would see either)

  vrio_t_variant borrowed = variant(VRIO_VARIANT_STRING);
  borrowed.flags |= VRIO_VARIANT_BORROWED_STRING;
  borrowed.u.string = const_cast<char *>("static");
  vrio_variant_free(&borrowed);
  EXPECT_EQ(borrowed.flags, 0u);
  vrio_variant_free(nullptr);
}

vrio_t_variant string_variant(const char *s)
{
  vrio_t_variant v = variant(VRIO_VARIANT_STRING);
  v.u.string = const_cast<char *>(s);
  return v;
}

vrio_t_variant int_variant(int i)
{
  vrio_t_variant v = variant(VRIO_VARIANT_INT);
  v.u.i = i;
  return v;
}

TEST(VrioHash, KeysOfEveryKindRoundTrip)
{
  vrio_t_hash *h;
  ASSERT_EQ(vrio_hash_new(&h), VRIO_S_NOERR);
  EXPECT_EQ(h->nlinks, 13u);
  int target;
  vrio_t_variant keys[4] = {string_variant("name"), variant(VRIO_VARIANT_POINTER),
                            variant(VRIO_VARIANT_FLAGS), int_variant(-7)};
  keys[1].u.p = &target;
  keys[2].u.flags = 0x80000000u;
  for (int i = 0; i < 4; ++i)
    ASSERT_EQ(vrio_hash_put(h, &keys[i], &keys[(i + 1) % 4]), VRIO_S_NOERR) << i;
  EXPECT_EQ(vrio_hash_nentries(h), 4u);
  for (int i = 0; i < 4; ++i) {
    vrio_t_variant probe = keys[i];
    if (i == 0)
      probe.u.string = const_cast<char *>("name"); // an equal, not the same, string
    vrio_t_variant *value;
    ASSERT_EQ(vrio_hash_get(h, &probe, &value), VRIO_S_NOERR) << i;
    const vrio_t_variant &want = keys[(i + 1) % 4];
    ASSERT_EQ(value->flags, want.flags & VRIO_VARIANT_TYPE_MASK);
    if (want.flags == VRIO_VARIANT_STRING) {
      EXPECT_STREQ(value->u.string, want.u.string);
      EXPECT_NE(value->u.string, want.u.string) << "stored as a copy";
    } else {
      EXPECT_EQ(value->u.i64 & 0xFFFFFFFF, want.u.i64 & 0xFFFFFFFF);
    }
  }
  vrio_t_variant other_int = int_variant(7);
  EXPECT_EQ(vrio_hash_get(h, &other_int, nullptr), VRIO_E_NOT_FOUND);
  vrio_t_variant int_as_flags = variant(VRIO_VARIANT_FLAGS);
  int_as_flags.u.flags = static_cast<vrio_t_bits>(-7);
  EXPECT_EQ(vrio_hash_get(h, &int_as_flags, nullptr), VRIO_E_NOT_FOUND) << "kinds differ";

  // 64-bit keys can be stored but never compare equal, not even to themselves.
  vrio_t_variant wide = variant(VRIO_VARIANT_INT64);
  wide.u.i64 = 1;
  ASSERT_EQ(vrio_hash_put(h, &wide, &wide), VRIO_S_NOERR);
  ASSERT_EQ(vrio_hash_put(h, &wide, &wide), VRIO_S_NOERR);
  EXPECT_EQ(vrio_hash_get(h, &wide, nullptr), VRIO_E_NOT_FOUND);
  EXPECT_EQ(vrio_hash_nentries(h), 6u);
  vrio_hash_free(h);
}

TEST(VrioHash, PutNeverReplaces)
{
  vrio_t_hash *h;
  ASSERT_EQ(vrio_hash_new(&h), VRIO_S_NOERR);
  vrio_t_variant first = int_variant(1), second = int_variant(2);
  ASSERT_EQ(vrio_hash_put_string(h, "key", &first), VRIO_S_NOERR);
  EXPECT_EQ(vrio_hash_put_string(h, "key", &second), VRIO_E_FOUND);
  vrio_t_variant *value;
  ASSERT_EQ(vrio_hash_get_string(h, "key", &value), VRIO_S_NOERR);
  EXPECT_EQ(value->u.i, 1);
  EXPECT_EQ(vrio_hash_nentries(h), 1u);
  ASSERT_EQ(vrio_hash_delete_string(h, "key"), VRIO_S_NOERR);
  EXPECT_EQ(vrio_hash_delete_string(h, "key"), VRIO_E_NOT_FOUND);
  EXPECT_EQ(vrio_hash_get_string(h, "key", nullptr), VRIO_E_NOT_FOUND);
  vrio_hash_free(h);
}

// Many more entries than buckets: every chain grows long, and entries are
// deleted from the middle, the front and the end of chains.
TEST(VrioHash, LongChainsGrowAndShrink)
{
  vrio_t_hash *h;
  ASSERT_EQ(vrio_hash_new(&h), VRIO_S_NOERR);
  const int n = 1000;
  for (int i = 0; i < n; ++i) {
    vrio_t_variant v = int_variant(i * 3);
    ASSERT_EQ(vrio_hash_put_string(h, std::to_string(i).c_str(), &v), VRIO_S_NOERR);
  }
  EXPECT_EQ(vrio_hash_nentries(h), static_cast<size_t>(n));
  for (int i = 0; i < n; i += 2)
    ASSERT_EQ(vrio_hash_delete_string(h, std::to_string(i).c_str()), VRIO_S_NOERR);
  EXPECT_EQ(vrio_hash_nentries(h), static_cast<size_t>(n / 2));
  for (int i = 0; i < n; ++i) {
    vrio_t_variant *value;
    vrio_t_error_code rc = vrio_hash_get_string(h, std::to_string(i).c_str(), &value);
    if (i % 2 == 0) {
      EXPECT_EQ(rc, VRIO_E_NOT_FOUND) << i;
    } else {
      ASSERT_EQ(rc, VRIO_S_NOERR) << i;
      EXPECT_EQ(value->u.i, i * 3);
    }
  }
  vrio_hash_free(h);
}

struct map_state {
  vrio_t_hash *table;
  std::set<std::string> seen;
  int stop_after;
};

vrio_t_error_code delete_each(vrio_t_variant *key, vrio_t_variant *value, void *cookie)
{
  auto *st = static_cast<map_state *>(cookie);
  st->seen.insert(key->u.string);
  std::string name = key->u.string; // the entry (key and value) goes now
  auto answer = static_cast<vrio_t_error_code>(value->u.i);
  EXPECT_EQ(vrio_hash_delete_string(st->table, name.c_str()), VRIO_S_NOERR);
  return answer;
}

TEST(VrioHash, EntriesRemovedDuringIterationAreAllVisited)
{
  vrio_t_hash *h;
  ASSERT_EQ(vrio_hash_new(&h), VRIO_S_NOERR);
  for (int i = 0; i < 100; ++i) {
    vrio_t_variant v = int_variant(5);
    ASSERT_EQ(vrio_hash_put_string(h, ("k" + std::to_string(i)).c_str(), &v), VRIO_S_NOERR);
  }
  map_state st{h, {}, 0};
  EXPECT_EQ(vrio_hash_map(h, delete_each, &st), static_cast<vrio_t_error_code>(5))
      << "the last result";
  EXPECT_EQ(st.seen.size(), 100u);
  EXPECT_EQ(vrio_hash_nentries(h), 0u);
  EXPECT_EQ(vrio_hash_map(h, delete_each, &st), VRIO_E_ERROR) << "empty table";
  vrio_hash_free(h);
}

vrio_t_error_code stop_at_third(vrio_t_variant *, vrio_t_variant *, void *cookie)
{
  auto *st = static_cast<map_state *>(cookie);
  return ++st->stop_after == 3 ? VRIO_E_MISC_ERROR_2 : VRIO_S_TRUE;
}

TEST(VrioHash, MapStopsAtTheFirstFailure)
{
  vrio_t_hash *h;
  ASSERT_EQ(vrio_hash_new(&h), VRIO_S_NOERR);
  for (int i = 0; i < 10; ++i) {
    vrio_t_variant k = int_variant(i), v = int_variant(i);
    ASSERT_EQ(vrio_hash_put(h, &k, &v), VRIO_S_NOERR);
  }
  map_state st{h, {}, 0};
  EXPECT_EQ(vrio_hash_map(h, stop_at_third, &st), VRIO_E_MISC_ERROR_2);
  EXPECT_EQ(st.stop_after, 3);
  vrio_hash_free(h);
}

TEST(VrioTime, Conversions)
{
  vrio_t_timespec ts{-5, -5};
  ASSERT_EQ(vrio_ms_to_timespec(1500, &ts), VRIO_S_NOERR);
  EXPECT_EQ(ts.sec, 1);
  EXPECT_EQ(ts.nsec, 500000000);
  ASSERT_EQ(vrio_double_to_timespec(1.5, &ts), VRIO_S_NOERR);
  EXPECT_EQ(ts.sec, 1);
  EXPECT_EQ(ts.nsec, 500000000);
  ASSERT_EQ(vrio_double_to_timespec(2147483647.25, &ts), VRIO_S_NOERR);
  EXPECT_EQ(ts.sec, 2147483647);
  const vrio_t_timespec before = ts;
  const double refused[] = {-0.5, 2147483648.0, std::numeric_limits<double>::infinity(),
                            -std::numeric_limits<double>::infinity(),
                            std::numeric_limits<double>::quiet_NaN(),
                            -std::numeric_limits<double>::quiet_NaN()};
  for (double secs : refused) {
    EXPECT_EQ(vrio_double_to_timespec(secs, &ts), VRIO_E_PARAMETER_ERROR) << secs;
    EXPECT_EQ(ts.sec, before.sec) << "untouched on failure";
  }
  EXPECT_EQ(vrio_ms_to_timespec(-1, &ts), VRIO_E_PARAMETER_ERROR);
  ASSERT_EQ(vrio_ms_to_timespec(0, &ts), VRIO_S_NOERR);
  EXPECT_EQ(ts.sec, 0);
  EXPECT_EQ(ts.nsec, 0);
}

} // namespace
