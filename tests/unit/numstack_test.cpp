// The number stack: temporaries, block chaining, trimming and reuse, and
// bn_call's grow-and-retry path.
#include <gtest/gtest.h>

#include <cmath>
#include <csetjmp>
#include <cstring>
#include <vector>

#include "atoms.h"
#include "bignum.h"
#include "datadefs.h"
#include "errors.h"
#include "memman.h"
#include "numstack.h"
#include "terms.h"
#include "worker.h"

namespace {

struct Numstack : ::testing::Test {
  worker w{};
  void SetUp() override
  {
    ASSERT_EQ(memman_init(), 0);
    numstack_init(&w);
  }
  void TearDown() override
  {
    vr_set_abort_env(nullptr);
    numstack_deinit();
    mm_free_numstack_hook = nullptr;
    mm_init_numstack_hook = nullptr;
    atom_buffer_remove();
    memman_deinit();
  }
  numstack *current() const { return reinterpret_cast<numstack *>(w.numstack_end); }
  std::ptrdiff_t free_words() const { return w.numstack_end - w.numstack_top; }
  // Leaves exactly `words` free words in the current block.
  void fill_to(std::ptrdiff_t words)
  {
    if (w.numstack_end == nullptr)
      numstack_overflow(&w);
    w.numstack_top = w.numstack_end - words;
  }
  static std::vector<TAGGED> words_of(TAGGED t, unsigned count)
  {
    const TAGGED *p = TagToSTR(t);
    return std::vector<TAGGED>(p, p + count);
  }
};

// Bytes the memory manager has charged to the number stack.
std::size_t numstack_bytes() { return eglobal->mm.mm_bins[MM_BIN_NUMSTACK]; }

std::uint64_t bits(double d)
{
  std::uint64_t b;
  std::memcpy(&b, &d, sizeof b);
  return b;
}

// A routine that always asks for more room: a miscalculation.
int always_short(TAGGED *, TAGGED *, TAGGED *, TAGGED *) { return 4; }

// A routine asking for `want_words` and writing a result of `digits`
// digits of 0x11111111 once given the room.
unsigned want_words, want_digits, calls;
int sized(TAGGED *, TAGGED *, TAGGED *z, TAGGED *zmax)
{
  calls++;
  if (zmax - z < static_cast<std::ptrdiff_t>(want_words))
    return static_cast<int>(want_words);
  z[0] = BoxHeader(want_digits, false);
  for (unsigned i = 1; i <= want_digits; i++)
    z[i] = 0x11111111u;
  return 0;
}

} // namespace

TEST_F(Numstack, InitSetsFirstBlockFloatConstantsAndHooks)
{
  numstack *first = numstack_first_block();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->size, NUMSTACK_FIRST_SIZE);
  EXPECT_EQ(first->prev, nullptr);
  EXPECT_EQ(first->next, nullptr);
  EXPECT_EQ(w.numstack_end, nullptr) << "no block current before first use";
  EXPECT_TRUE(std::isinf(ieee_plus_inf) && ieee_plus_inf > 0);
  EXPECT_EQ(ieee_minus_inf, -ieee_plus_inf);
  EXPECT_EQ(bits(ieee_nan), 0xFFF8000000000000ull);
  EXPECT_NE(mm_free_numstack_hook, nullptr);
  EXPECT_NE(mm_init_numstack_hook, nullptr);
  // The hooks the memory manager calls when it trims: free, then recreate.
  make_temp_long(&w, 5);
  mm_free_numstack_hook(&w);
  EXPECT_EQ(numstack_first_block(), nullptr);
  EXPECT_EQ(w.numstack_end, nullptr);
  mm_init_numstack_hook(&w);
  ASSERT_NE(numstack_first_block(), nullptr);
  EXPECT_EQ(MakeSmall_checked(3), [&] { int e; return bn_call(&w, bn_add, MakeSmall_checked(1), MakeSmall_checked(2), &e); }());
}

TEST_F(Numstack, TemporariesHaveBoxLayoutWithoutTrailer)
{
  TAGGED l = make_temp_long(&w, -7);
  EXPECT_EQ(words_of(l, 2), (std::vector<TAGGED>{BOX_INT1, static_cast<TAGGED>(-7)}));
  EXPECT_EQ(w.numstack_top, TagToSTR(l) + 2);
  TAGGED u = make_temp_ulong(&w, 5);
  EXPECT_EQ(words_of(u, 3), (std::vector<TAGGED>{BOX_INT2, 5, 0}));
  EXPECT_EQ(w.numstack_top, TagToSTR(u) + 3);
  TAGGED f = make_temp_float(&w, -0.0);
  EXPECT_EQ(TagToSTR(f)[0], BOX_FLOAT);
  double d;
  std::memcpy(&d, TagToSTR(f) + 1, sizeof d);
  EXPECT_EQ(bits(d), 0x8000000000000000ull) << "negative zero kept";
  const std::uint64_t snan_bits = 0x7FF0000000000001ull;
  double snan;
  std::memcpy(&snan, &snan_bits, sizeof snan);
  TAGGED n = make_temp_float(&w, snan);
  std::memcpy(&d, TagToSTR(n) + 1, sizeof d);
  EXPECT_EQ(bits(d), 0xFFF8000000000000ull) << "every NaN becomes the canonical one";
  std::vector<TAGGED> big{BoxHeader(3, false), 1, 2, 3, BoxHeader(3, false)};
  TAGGED c = make_temp_large(&w, MakeSTR(big.data()));
  EXPECT_EQ(words_of(c, 4), std::vector<TAGGED>(big.begin(), big.begin() + 4));
  EXPECT_EQ(w.numstack_top, TagToSTR(c) + 4) << "no trailer copied";
  TAGGED cf = make_temp_large(&w, f);
  EXPECT_EQ(words_of(cf, 3), words_of(f, 3));
}

TEST_F(Numstack, TemporaryThatDoesNotFitMovesToNextBlock)
{
  fill_to(1);
  numstack *first = current();
  TAGGED t = make_temp_long(&w, 9);
  ASSERT_NE(current(), first);
  EXPECT_EQ(current()->size, 2 * first->size) << "a new block doubles the current one";
  EXPECT_EQ(current()->prev, first);
  EXPECT_EQ(first->next, current());
  EXPECT_EQ(TagToSTR(t), numstack_block_start(current()));
  EXPECT_EQ(words_of(t, 2), (std::vector<TAGGED>{BOX_INT1, 9}));
}

TEST_F(Numstack, BnCallResultsAndOperandTemporaries)
{
  int err = 1;
  TAGGED r = bn_call(&w, bn_add, MakeSmall_checked(1), MakeSmall_checked(2), &err);
  EXPECT_EQ(r, MakeSmall_checked(3));
  EXPECT_EQ(err, 0);
  EXPECT_EQ(w.numstack_top, numstack_block_start(current()) + 4)
      << "a small result leaves the top after the two operand temporaries";
  TAGGED *before = w.numstack_top;
  r = bn_call(&w, bn_add, MakeSmall_checked(SMALL_MAX), MakeSmall_checked(1), &err);
  ASSERT_TRUE(IsStructure(r));
  EXPECT_EQ(words_of(r, 3), (std::vector<TAGGED>{BOX_INT1, 268435456u, BOX_INT1})) << "boxed, with trailer";
  EXPECT_EQ(TagToSTR(r), before + 4);
  EXPECT_EQ(w.numstack_top, before + 4 + 3);
}

TEST_F(Numstack, BnCallGrowsAndRetriesWhenTheBlockIsShort)
{
  // 300 digits needed, 100 free words: the routine reports the need, the
  // stack moves on (doubling as often as necessary) and the retry succeeds.
  struct { unsigned digits; std::size_t expect_size; } cases[] = {
      {300, 2048},  // the second block suffices
      {700, 4096},  // the second (reused) is short: on to a new third
      {2000, 8192}, // second and third reused but short: a fourth
      {5000, 32768}, // doubling twice more
  };
  for (auto c : cases) {
    numstack_trim(&w, nullptr);
    fill_to(100);
    numstack *first = current();
    want_digits = c.digits;
    want_words = c.digits + 2;
    calls = 0;
    int err = 1;
    TAGGED r = bn_call(&w, sized, MakeSmall_checked(1), 0, &err);
    EXPECT_EQ(err, 0);
    EXPECT_EQ(calls, 2u) << "one short call, one retry";
    ASSERT_TRUE(IsStructure(r));
    const TAGGED *p = TagToSTR(r);
    EXPECT_EQ(p[0], BoxHeader(c.digits, false));
    EXPECT_EQ(p[c.digits + 1], p[0]) << "trailer";
    EXPECT_EQ(current()->size, c.expect_size) << c.digits << " digits";
    EXPECT_GE(current()->size, 4 * (c.digits + 2) + sizeof(numstack));
    EXPECT_NE(current(), first);
  }
  // A real routine across the boundary: a 300-digit product.
  numstack_trim(&w, nullptr);
  fill_to(100);
  std::vector<TAGGED> x(151, 0x12345678u), y(151, 0x0FEDCBA9u);
  x[0] = y[0] = BoxHeader(150, false);
  x.push_back(x[0]);
  y.push_back(y[0]);
  int err;
  TAGGED r = bn_call(&w, bn_multiply, MakeSTR(x.data()), MakeSTR(y.data()), &err);
  ASSERT_EQ(err, 0);
  ASSERT_TRUE(IsStructure(r));
  EXPECT_EQ(BoxPayload(*TagToSTR(r)), 300u);
  // Operands placed as temporaries in the old block stay valid for the
  // retry: 2^28 * 2^28 computed across a block change.
  numstack_trim(&w, nullptr);
  fill_to(5);
  r = bn_call(&w, bn_multiply, MakeSmall_checked(SMALL_MIN), MakeSmall_checked(SMALL_MIN), &err);
  ASSERT_EQ(err, 0);
  EXPECT_EQ(vri_get_int64(r), (1LL << 56));
}

TEST_F(Numstack, TrimReturnsToEarlierBlockAndReusesLaterOnes)
{
  numstack_overflow(&w);
  numstack *first = current();
  TAGGED *mark = w.numstack_top + 10;
  numstack *second = reinterpret_cast<numstack *>(numstack_overflow(&w) == nullptr ? nullptr : w.numstack_end);
  numstack *third = reinterpret_cast<numstack *>((numstack_overflow(&w), w.numstack_end));
  ASSERT_NE(second, first);
  ASSERT_NE(third, second);
  EXPECT_EQ(third->size, 4 * first->size);
  numstack_trim(&w, mark);
  EXPECT_EQ(current(), first);
  EXPECT_EQ(w.numstack_top, mark);
  const std::size_t used = numstack_bytes();
  numstack_overflow(&w);
  EXPECT_EQ(current(), second) << "the next overflow reuses the second block";
  EXPECT_EQ(numstack_bytes(), used) << "without allocating";
  // A mark at the very end of a block belongs to that block.
  numstack_trim(&w, reinterpret_cast<TAGGED *>(first));
  EXPECT_EQ(current(), first);
  // A mark from before first use makes no block current.
  numstack_trim(&w, nullptr);
  EXPECT_EQ(w.numstack_end, nullptr);
  TAGGED t = make_temp_long(&w, 1);
  EXPECT_EQ(TagToSTR(t), numstack_block_start(first));
}

TEST_F(Numstack, DeinitFreesEveryBlock)
{
  const std::size_t before = numstack_bytes();
  numstack_overflow(&w);
  numstack_overflow(&w);
  numstack_overflow(&w);
  EXPECT_EQ(numstack_bytes(), before + 2048 + 4096);
  numstack_deinit();
  EXPECT_EQ(numstack_first_block(), nullptr);
  EXPECT_EQ(numstack_bytes(), before - NUMSTACK_FIRST_SIZE);
  numstack_init(&w); // for TearDown
}

TEST_F(Numstack, RoutineThatKeepsAskingIsAFault)
{
  std::jmp_buf env;
  vr_set_abort_env(&env);
  volatile int calls_made = 0;
  if (setjmp(env) == 0) {
    calls_made = 1;
    int err;
    bn_call(&w, always_short, MakeSmall_checked(1), 0, &err);
    FAIL() << "bn_call returned after a routine asked for room twice";
  }
  EXPECT_EQ(calls_made, 1);
  EXPECT_EQ(g_error_type, FATAL_FAULT_TYPE);
  EXPECT_STREQ(g_error_msg_ienc, "miscalculated size of bignum");
}
