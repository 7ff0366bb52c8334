// Clock scaling, the statistics built-in's clocks and exact keys, and the
// flag built-ins that touch native state (back-quote's class, flag atoms
// surviving atom collection).
#include <gtest/gtest.h>

#include "chartype.h"
#include "database_fixture.h"
#include "initial_atoms.h"
#include "prolog_flags.h"
#include "statistics.h"
#include "timing.h"

namespace {

TEST(ClockScaling, TicksToMilliseconds)
{
  struct tc {
    long hz;
    std::int64_t mul, div;
  } cases[] = {
      {100, 10, 1},     // one tick is 10 ms
      {1024, 125, 128}, // gcd 8
      {1000, 1, 1},
      {60, 50, 3},
      {0, 10, 1},       // unknown rate: 100
      {-1, 10, 1},
  };
  for (const tc &c : cases) {
    std::int64_t mul = 0, div = 0;
    hz_terms(c.hz, &mul, &div);
    EXPECT_EQ(mul, c.mul) << c.hz << " ticks a second";
    EXPECT_EQ(div, c.div) << c.hz << " ticks a second";
  }
}

struct Statistics : DatabaseFixture {
  // [T, D] of a clock key.
  std::pair<std::int64_t, std::int64_t> clock(std::uint32_t key)
  {
    TAGGED *out = heap(1);
    *out = PointerToTerm(out);
    w->term[0] = MakeAtom(key);
    w->term[1] = *out;
    EXPECT_EQ(prolog_statistics(w), 1);
    const TAGGED l = deref(*out);
    EXPECT_TRUE(IsList(l));
    const TAGGED t = deref(TagToLST(l)[0]);
    const TAGGED d = deref(TagToLST(deref(TagToLST(l)[1]))[0]);
    return {GetSmall(t), GetSmall(d)};
  }
};

TEST_F(Statistics, RuntimeLeavesOutCollectorTime)
{
  const auto before = clock(atom_runtime_enum);
  const auto total_before = clock(atom_total_runtime_enum);
  // As if a garbage collection and a stack shift had just taken 700 ms.
  eglobal->stats.gc_time += 500;
  eglobal->stats.ss_time += 200;
  const auto after = clock(atom_runtime_enum);
  const auto total_after = clock(atom_total_runtime_enum);
  EXPECT_LE(after.first, before.first - 700 + 50) << "the collection is not run time";
  EXPECT_LE(after.second, -700 + 50) << "nor in the delta";
  EXPECT_GE(total_after.first, total_before.first) << "total run time keeps it";
  eglobal->stats.gc_time -= 500;
  eglobal->stats.ss_time -= 200;
}

TEST_F(Statistics, ClockDeltasAreSinceTheLastQuestion)
{
  const auto first = clock(atom_walltime_enum);
  eglobal->stats.lastwall -= 1000;  // as if asked a second ago
  const auto second = clock(atom_walltime_enum);
  EXPECT_GE(second.first, first.first);
  EXPECT_GE(second.second, 1000);
  EXPECT_LE(second.second, 1000 + (second.first - first.first) + 5);
}

TEST_F(Statistics, KeysMatchExactly)
{
  EXPECT_EQ(statistics_key_index(MakeAtom(atom_agc_count_enum)), 0);
  EXPECT_EQ(statistics_key_index(MakeAtom(atom_walltime_enum)), 34);
  EXPECT_EQ(statistics_key_index(MakeAtom(atom_runtime_enum)), 26);
  EXPECT_EQ(statistics_key_index(MakeAtom(atom_lineno_enum)), -1) << "the atom before the first key";
  EXPECT_EQ(statistics_key_index(MakeAtom(atom_Dbdd_pos_enum)), -1) << "the atom after the last key";
  EXPECT_EQ(statistics_key_index(atom("gc_tim")), -1);
  EXPECT_EQ(statistics_key_index(MakeSmall_checked(3)), -1);
}

TEST_F(Statistics, CompatibilityFlagKeepsBackquote)
{
  init_prolog_flags(false);
  for (const char *value : {"anything", "iso", "vostrel"}) {
    TAGGED *old = heap(1);
    *old = PointerToTerm(old);
    w->term[0] = *old;
    w->term[1] = atom(value);
    ASSERT_EQ(prolog_compatibility_flag(w), 1) << value;
    EXPECT_EQ(ch_type('`'), CH_BACKQUOTE) << value;
  }
}

TEST_F(Statistics, FlagAtomsSurviveAtomCollection)
{
  init_prolog_flags(false);
  // A value no clause mentions, held by the flag field only.
  w->term[0] = MakeAtom(atom_error_enum);
  w->term[1] = atom("an_unusual_value");
  ASSERT_EQ(prolog_syntax(w), 1);
  w->term[1] = atom_nil;
  prolog_garbage_collect_atoms(w);
  EXPECT_EQ(init_atom_check("an_unusual_value", 1), eglobal->current_syntax)
      << "the flag still names a live atom";
  EXPECT_NE(init_atom_check(VR_get_emulator_version(), 1), 0u) << "the version atom is registered";
}

TEST_F(Statistics, StartUpValues)
{
  init_prolog_flags(false);
  EXPECT_EQ(eglobal->current_redefine_flag, MakeAtom(atom_off_enum)) << "runtime system";
  EXPECT_EQ(eglobal->current_informational_flag, MakeAtom(atom_off_enum));
  EXPECT_EQ(eglobal->current_system_type_flag, atom("runtime"));
  init_prolog_flags(true);
  EXPECT_EQ(eglobal->current_redefine_flag, MakeAtom(atom_on_enum)) << "development system";
  EXPECT_EQ(eglobal->current_system_type_flag, MakeAtom(atom_development_enum));
  EXPECT_EQ(eglobal->current_compiling, MakeAtom(atom_compactcode_enum));
  EXPECT_EQ(std::string(atom_name(eglobal->current_prompt)), "|: ");
  EXPECT_EQ(std::string(get_window_title()), VR_get_emulator_version()) << "no title set yet";
}

} // namespace
