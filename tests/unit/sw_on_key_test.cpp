// The keyed table: its probe sequence (which the emulator repeats inline,
// so it must be exactly this one), growth past three quarters, rebuilds
// that drop deleted entries, and default values on a miss.
#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "memman.h"
#include "sw_on_key.h"

namespace {

struct SwOnKey : ::testing::Test {
  void SetUp() override { ASSERT_EQ(memman_init(), 0); }
  void TearDown() override { memman_deinit(); }
};

int dummy[4];
void *const D = &dummy[0];   // a table default
void *const V1 = &dummy[1];
void *const V2 = &dummy[2];

std::uint32_t offset_of(sw_on_key *sw, sw_on_key_node *n)
{
  return static_cast<std::uint32_t>(reinterpret_cast<char *>(n) - reinterpret_cast<char *>(sw->tab));
}

// The byte offsets the probe visits from a key's home slot, written out
// independently of the implementation.
std::vector<std::uint32_t> probe_offsets(std::uint32_t mask, TAGGED key, int n)
{
  std::vector<std::uint32_t> out;
  std::uint32_t off = key & mask, c = 0x5555555D;
  out.push_back(off);
  for (int i = 1; i < n; i++) {
    off = (off + c) & mask;
    c += 8;
    out.push_back(off);
  }
  return out;
}

TEST_F(SwOnKey, NewTableSizesAndDefaults)
{
  struct tc {
    int request;
    std::uint32_t slots;
  } cases[] = {{0, 2}, {1, 2}, {2, 2}, {4, 4}, {8, 8}, {5, 8}, {64, 64}};
  for (const tc &c : cases) {
    sw_on_key *sw = new_switch_on_key(c.request, D);
    EXPECT_EQ(sw_slots(sw), c.slots) << "request " << c.request;
    EXPECT_EQ(sw->mask, 8 * (c.slots - 1)) << "request " << c.request;
    EXPECT_EQ(sw->count, 0);
    for (TAGGED key : {0x7u, 0x1Fu, 0x100000Fu, 0xFFFFFFE7u}) {
      sw_on_key_node *n = incore_gethash(sw, key);
      EXPECT_EQ(n->key, 0u) << "a miss returns an empty slot";
      EXPECT_EQ(n->value.any, D) << "a miss in a " << c.slots << "-slot table returns the default";
    }
    dispose_switch_on_key(sw);
  }
}

TEST_F(SwOnKey, ProbeSequenceOnCollisions)
{
  // Keys with the same home slot in a 16-slot table (mask 0x78) land on the
  // probe sequence in insertion order.
  sw_on_key *sw = new_switch_on_key(16, D);
  const std::uint32_t mask = sw->mask;
  const TAGGED keys[] = {0x1F, 0x1F + 0x80, 0x1F + 0x100, 0x1F + 0x180, 0x1F + 0x200};
  const std::vector<std::uint32_t> want = probe_offsets(mask, keys[0], 5);
  ASSERT_EQ(std::set<std::uint32_t>(want.begin(), want.end()).size(), 5u) << "test keys must not revisit slots";
  for (int i = 0; i < 5; i++) {
    sw_on_key_node *n = incore_gethash(sw, keys[i]);
    EXPECT_EQ(offset_of(sw, n), want[i]) << "key " << i << " of a collision run";
    n->key = keys[i];
    n->value.any = V1;
    sw->count++;
  }
  // Each is found again where it went; a further colliding key gets the
  // sixth offset of the sequence.
  for (int i = 0; i < 5; i++)
    EXPECT_EQ(offset_of(sw, incore_gethash(sw, keys[i])), want[i]);
  const std::vector<std::uint32_t> six = probe_offsets(mask, keys[0], 6);
  sw_on_key_node *miss = incore_gethash(sw, 0x1F + 0x280);
  EXPECT_EQ(offset_of(sw, miss), six[5]);
  EXPECT_EQ(miss->value.any, D);
  dispose_switch_on_key(sw);
}

TEST_F(SwOnKey, ProbeReachesEverySlot)
{
  // The emulator stops only at the key or an empty slot, so the sequence
  // must reach every slot of every table size, from any home slot.
  for (std::uint32_t slots = 2; slots <= 4096; slots *= 2) {
    const std::uint32_t mask = 8 * (slots - 1);
    for (TAGGED home : {0u, 8u, mask}) {
      std::set<std::uint32_t> seen;
      for (std::uint32_t off : probe_offsets(mask, home, static_cast<int>(4 * slots)))
        seen.insert(off);
      EXPECT_EQ(seen.size(), slots) << slots << " slots from home " << home;
    }
  }
}

TEST_F(SwOnKey, GrowthPastThreeQuarters)
{
  // (slots before the insert, keys after the insert, slots after)
  sw_on_key *sw = new_switch_on_key(2, nullptr);
  struct step {
    int keys;
    std::uint32_t slots;
  } steps[] = {{1, 2}, {2, 4}, {3, 4}, {4, 8}, {6, 8}, {7, 16}, {12, 16}, {13, 32}};
  int inserted = 0;
  for (const step &s : steps) {
    while (inserted < s.keys) {
      const TAGGED key = MakeAtom(100 + inserted);
      sw_on_key_node *n = dyn_puthash(&sw, key);
      ASSERT_EQ(n->key, key) << "dyn_puthash returns the slot in the (new) table";
      n->value.word = key;
      inserted++;
    }
    EXPECT_EQ(sw_slots(sw), s.slots) << "after " << s.keys << " keys";
    EXPECT_EQ(sw->count, s.keys);
  }
  for (int i = 0; i < inserted; i++)
    EXPECT_EQ(incore_gethash(sw, MakeAtom(100 + i))->value.word, MakeAtom(100 + i)) << "key " << i << " lost in a rebuild";
  // Putting a present key again neither counts nor grows.
  dyn_puthash(&sw, MakeAtom(100));
  EXPECT_EQ(sw->count, inserted);
  dispose_switch_on_key(sw);

  struct fill {
    int slots, limit;
  } fills[] = {{2, 1}, {4, 3}, {8, 6}, {16, 12}, {64, 48}};
  for (const fill &f : fills) {
    sw_on_key *t = new_switch_on_key(f.slots, nullptr);
    t->count = f.limit;
    EXPECT_FALSE(expansion_due(t)) << f.slots << " slots hold " << f.limit;
    t->count = f.limit + 1;
    EXPECT_TRUE(expansion_due(t)) << f.slots << " slots with " << f.limit + 1;
    dispose_switch_on_key(t);
  }
  struct pop {
    int pop, size;
  } pops[] = {{0, 4}, {3, 4}, {4, 8}, {6, 8}, {7, 16}, {12, 16}, {13, 32}, {100, 256}};
  for (const pop &p : pops)
    EXPECT_EQ(population_table_size(p.pop), p.size) << "population " << p.pop;
  struct pw {
    int n, p;
  } pws[] = {{0, 0}, {1, 1}, {2, 2}, {3, 4}, {5, 8}, {64, 64}, {65, 128}};
  for (const pw &p : pws)
    EXPECT_EQ(power_of_two(p.n), p.p) << "power_of_two(" << p.n << ")";
}

TEST_F(SwOnKey, RebuildDropsDeletedEntriesAndKeepsPrecious)
{
  sw_on_key *sw = new_switch_on_key(2, nullptr);
  for (int i = 0; i < 12; i++)
    dyn_puthash(&sw, MakeSmall_checked(i + 1))->value.any = V1;
  ASSERT_EQ(sw_slots(sw), 16u);
  // Delete all but two: the keys stay (and still count) until a rebuild.
  for (int i = 2; i < 12; i++)
    incore_gethash(sw, MakeSmall_checked(i + 1))->value.any = nullptr;
  EXPECT_EQ(sw->count, 12);
  sw_on_key_node *deleted = incore_gethash(sw, MakeSmall_checked(5));
  EXPECT_EQ(deleted->key, MakeSmall_checked(5)) << "a deleted entry keeps its key";
  EXPECT_EQ(deleted->value.any, nullptr);

  // The next insert exceeds the limit; the rebuild keeps the two live
  // entries and the new one, and shrinks.
  sw_on_key_node *n = dyn_puthash(&sw, MakeSmall_checked(99));
  n->value.any = V2;
  EXPECT_EQ(sw_slots(sw), 4u);
  EXPECT_EQ(sw->count, 3);
  EXPECT_EQ(incore_gethash(sw, MakeSmall_checked(1))->value.any, V1);
  EXPECT_EQ(incore_gethash(sw, MakeSmall_checked(2))->value.any, V1);
  EXPECT_EQ(incore_gethash(sw, MakeSmall_checked(99))->value.any, V2);
  EXPECT_EQ(incore_gethash(sw, MakeSmall_checked(5))->key, 0u) << "deleted entry survived the rebuild";

  // All deleted: an explicit rebuild gives an empty 4-slot table with the
  // new default.
  for (TAGGED k : {MakeSmall_checked(1), MakeSmall_checked(2), MakeSmall_checked(99)})
    incore_gethash(sw, k)->value.any = nullptr;
  EXPECT_EQ(expand_sw_on_key(&sw, D, nullptr), nullptr);
  EXPECT_EQ(sw_slots(sw), 4u);
  EXPECT_EQ(sw->count, 0);
  EXPECT_EQ(incore_gethash(sw, MakeSmall_checked(1))->value.any, D);
  dispose_switch_on_key(sw);
}

TEST_F(SwOnKey, SafeLookupOnAFullTable)
{
  // A table filled by hand to every slot: the probe would not stop.
  sw_on_key *sw = new_switch_on_key(4, nullptr);
  for (std::uint32_t i = 0; i < 4; i++) {
    sw->tab[i].key = MakeAtom(10 + i);
    sw->tab[i].value.any = (i == 1 || i == 3) ? nullptr : V1;
  }
  sw->count = 4;
  EXPECT_EQ(safe_incore_gethash(sw, MakeAtom(12)), &sw->tab[2]) << "present key";
  EXPECT_EQ(safe_incore_gethash(sw, MakeAtom(50)), &sw->tab[1]) << "absent key: the lowest null-valued slot";
  sw->tab[1].value.any = V1;
  sw->tab[3].value.any = V1;
  EXPECT_EQ(safe_incore_gethash(sw, MakeAtom(50)), nullptr) << "absent key, no free slot";
  // With room it is the ordinary look-up.
  sw->tab[3].key = 0;
  sw->count = 3;
  EXPECT_EQ(safe_incore_gethash(sw, MakeAtom(50)), incore_gethash(sw, MakeAtom(50)));
  dispose_switch_on_key(sw);
}

} // namespace
