// The atom table: predefined atoms, look-up modes, classification, index
// pages and the linear-hashing directory under growth and shrinkage.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "atoms.h"
#include "datadefs.h"
#include "initial_atoms.h"
#include "memman.h"
#include "worker.h"

namespace {

// A started table (predefined and one-character atoms), torn down after
// each test so the next starts from the same state.
struct AtomTable : ::testing::Test {
  void SetUp() override
  {
    ASSERT_EQ(memman_init(), 0);
    ASSERT_EQ(init_atoms_once(), 1);
  }
  void TearDown() override
  {
    deinit_atoms();
    memman_deinit();
  }
  // A table with nothing in it, for tests that count from index 0.
  static void restart_empty()
  {
    deinit_atoms();
    init_atoms();
  }
};

std::string text_of(TAGGED t) { return atom_name(t); }

// Checks the directory against the table: every atom sits in the bucket its
// key selects, the chains hold exactly `pop` atoms, `pop` equals the atom
// count, the population is within the load bounds, and segments exist
// exactly for the buckets in use.
void expect_directory_consistent(const char *when)
{
  SCOPED_TRACE(when);
  const linhash_dir &d = eglobal->atmhash;
  ASSERT_GE(d.buckets, 1u);
  ASSERT_EQ(d.buckets & (d.buckets - 1), 0u) << "buckets must be a power of two";
  ASSERT_LT(d.splits, d.buckets);
  std::uint32_t used = d.buckets + d.splits;
  std::uint32_t chained = 0;
  for (std::uint32_t b = 0; b < used; ++b) {
    ASSERT_NE(d.segment[b >> 9], nullptr) << "bucket " << b << " has no segment";
    for (atom *a = d.segment[b >> 9][b & 511]; a != nullptr; a = a->next) {
      ASSERT_EQ(linhash_location(a->hash), &d.segment[b >> 9][b & 511])
          << "atom '" << a->name << "' chained in the wrong bucket " << b;
      ++chained;
    }
  }
  for (std::uint32_t s = (used + 511) / 512; s < LINHASH_SEGMENTS; ++s)
    EXPECT_EQ(d.segment[s], nullptr) << "segment " << s << " beyond the buckets in use";
  EXPECT_EQ(chained, d.pop);
  EXPECT_EQ(d.pop, eglobal->atom_count);
  EXPECT_GE(5 * used, d.pop) << "average chain longer than 5";
  if (used > 1) {
    EXPECT_LT(5 * (used - 1), d.pop) << "directory not shrunk: " << used << " buckets for " << d.pop;
  }
}

} // namespace

TEST_F(AtomTable, PredefinedAtomsSitAtTheirIndices)
{
  struct { std::uint32_t index; const char *text; } spots[] = {
      {0, "[]"}, {1, "."}, {17, ":"}, {18, "$mutable"}, {20, ""}, {69, " ("}, {78, "!"},
      {81, "|"}, {149, "     "}, {153, "$ref"}, {157, "the atom table is full"},
      {235, "term"},
  };
  for (auto s : spots)
    EXPECT_EQ(text_of(MakeAtom(s.index)), s.text) << "atom " << s.index;
  for (std::uint32_t i = 0; i < first_unused_atom_number; ++i) {
    TAGGED t = init_atom_check(initial_atoms[i], 1);
    EXPECT_EQ(t, MakeAtom(i)) << "'" << initial_atoms[i] << "' found at another index";
    EXPECT_GE(atom_record(MakeAtom(i))->refcount, 1) << "predefined atom " << i << " not registered";
  }
  EXPECT_EQ(init_atom_check("[]", 1), 7u);
  EXPECT_EQ(FunctorName(functor_Dref), MakeAtom(functor_Dref_enum));
}

TEST_F(AtomTable, OneCharacterAtomsAreCachedAndRegistered)
{
  struct { unsigned code; const char *text; } cases[] = {
      {0, "\xC0\x80"}, {'a', "a"}, {'.', "."}, {127, "\x7F"}, {128, "\xC2\x80"},
      {200, "\xC3\x88"}, {255, "\xC3\xBF"},
  };
  for (auto c : cases) {
    TAGGED t = eglobal->one_char_cache[c.code];
    ASSERT_NE(t, 0u) << "code " << c.code;
    EXPECT_EQ(text_of(t), c.text) << "code " << c.code;
    EXPECT_EQ(init_atom_check(c.text, 1), t) << "code " << c.code;
    EXPECT_GE(atom_record(t)->refcount, 1) << "code " << c.code;
  }
  EXPECT_EQ(eglobal->one_char_cache['.'], atom_dot) << "the predefined '.' must be reused";
  for (unsigned c = 0; c < 256; ++c)
    EXPECT_NE(eglobal->one_char_cache[c], 0u) << "code " << c;
}

TEST_F(AtomTable, LookUpModes)
{
  std::uint32_t count = eglobal->atom_count;
  EXPECT_EQ(init_atom_check("fresh_atom", 1), 0u) << "find-only must not create";
  EXPECT_EQ(eglobal->atom_count, count);
  TAGGED t = init_atom_check("fresh_atom", 0);
  ASSERT_NE(t, 0u);
  EXPECT_TRUE(IsAtom(t));
  EXPECT_EQ(eglobal->atom_count, count + 1);
  EXPECT_EQ(init_atom_check("fresh_atom", 0), t) << "find-or-create must find";
  EXPECT_EQ(init_atom_check("fresh_atom", 1), t);
  EXPECT_EQ(init_atom_check("fresh_atom", 2), 0u) << "must-be-new of an existing atom";
  TAGGED u = init_atom_check("other_atom", 2);
  EXPECT_NE(u, 0u);
  EXPECT_NE(u, t);
  EXPECT_EQ(eglobal->atom_count, count + 2);
  EXPECT_EQ(atom_record(t)->refcount, 0);
  // Texts that share a hash prefix or differ only in length stay apart.
  TAGGED ab = init_atom_check("ab", 0), abc = init_atom_check("abc", 0);
  EXPECT_NE(ab, abc);
  EXPECT_EQ(text_of(ab), "ab");
}

TEST_F(AtomTable, InvalidInternalTextIsRefused)
{
  const char *bad[] = {
      "\xFF", "a\xFE", "\x80", "x\xC3", "\xC1\x81", "\xC0\x81", "\xE0\x80\x80", "\xE4\x41",
      "\xE4\xB8\x41", "\xF0\x80\x80\x80",
  };
  std::uint32_t count = eglobal->atom_count;
  for (const char *text : bad) {
    EXPECT_EQ(init_atom_check(text, 0), 0u) << "accepted invalid text of " << std::strlen(text) << " bytes";
    EXPECT_EQ(init_atom_check(text, 2), 0u);
  }
  EXPECT_EQ(eglobal->atom_count, count);
  EXPECT_NE(init_atom_check("caf\xC3\xA9", 0), 0u) << "valid two-byte text refused";
  EXPECT_NE(init_atom_check("nul\xC0\x80here", 0), 0u) << "code 0 as C0 80 refused";
}

TEST_F(AtomTable, ClassificationFlags)
{
  struct Case {
    const char *text;
    bool punct, symbol, quoting, escaping, ascii;
  } cases[] = {
      // text       punct  symbol quote  escape ascii
      {"a",         false, false, false, false, true},
      {"abc_1",     false, false, false, false, true},
      {"A",         false, false, true,  false, true},   // variable-like
      {"_a",        false, false, true,  false, true},
      {"1a",        false, false, true,  false, true},
      {"a b",       false, false, true,  false, true},   // blank is special, not escaped
      {"[]a",       false, false, true,  false, true},
      {".",         false, true,  true,  false, true},   // end token
      {"/*x",       false, false, true,  false, true},   // comment start
      {"/*",        false, true,  true,  false, true},
      {"a+",        false, false, true,  false, true},   // alpha and symbol mixed
      {"[]",        true,  false, false, false, true},
      {"{}",        true,  false, false, false, true},
      {"!",         true,  false, false, false, true},
      {";",         true,  false, false, false, true},
      {"+",         false, true,  false, false, true},
      {"=..",       false, true,  false, false, true},
      {"\\",        false, true,  false, false, true},   // backslash counts as symbol
      {"'",         false, false, true,  true,  true},
      {"a'b",       false, false, true,  true,  true},
      {"a\nb",      false, false, true,  true,  true},   // layout other than blank
      {"",          false, true,  true,  false, true},   // empty atom
      {"\xC3\xA9t\xC3\xA9", false, false, false, false, false},  // latin-1 letters
      {"\xC0\x80",  false, false, true,  true,  false},  // code 0
      {"\xE4\xB8\x80", false, false, true, true, false}, // above 255: unclassified
      {"(",         false, false, true,  false, true},
      {",",         false, false, true,  false, true},
      {"|",         false, false, true,  false, true},
  };
  for (const Case &c : cases) {
    TAGGED t = init_atom_check(c.text, 0);
    ASSERT_NE(t, 0u) << c.text;
    const atom *a = atom_record(t);
    EXPECT_EQ(a->is_punctchars, c.punct) << "is_punctchars of '" << c.text << "'";
    EXPECT_EQ(a->is_symbolchars, c.symbol) << "is_symbolchars of '" << c.text << "'";
    EXPECT_EQ(a->needs_quoting, c.quoting) << "needs_quoting of '" << c.text << "'";
    EXPECT_EQ(a->needs_escaping, c.escaping) << "needs_escaping of '" << c.text << "'";
    EXPECT_EQ(a->is_ascii, c.ascii) << "is_ascii of '" << c.text << "'";
    EXPECT_EQ(a->marked, 0u);
  }
}

TEST_F(AtomTable, ReclassifyKeepsFlags)
{
  TAGGED t = init_atom_check("Abc", 0);
  atom *a = atom_record(t);
  a->needs_quoting = 0;
  reclassify_atoms();
  EXPECT_EQ(a->needs_quoting, 1u);
  EXPECT_EQ(atom_record(MakeAtom(atom_bang_enum))->is_punctchars, 1u);
}

TEST_F(AtomTable, FirstAtomOfAnEmptyTableIsIndexZero)
{
  restart_empty();
  EXPECT_EQ(eglobal->atmtabsize, ATOM_PAGE_SLOTS);
  EXPECT_EQ(eglobal->atom_free, 1u);
  EXPECT_EQ(eglobal->atmhash.buckets, 1u);
  EXPECT_EQ(init_atom_check("[]", 0), 7u);
  EXPECT_EQ(init_atom_check(".", 0), 0xFu);
}

TEST_F(AtomTable, SecondIndexPageAfter8192Atoms)
{
  restart_empty();
  char name[32];
  for (unsigned i = 0; i < ATOM_PAGE_SLOTS - 1; ++i) {
    std::snprintf(name, sizeof name, "p%u", i);
    ASSERT_EQ(init_atom_check(name, 0), MakeAtom(i));
  }
  EXPECT_EQ(eglobal->atmtabsize, ATOM_PAGE_SLOTS) << "page added too early";
  ASSERT_EQ(init_atom_check("last_of_page", 0), MakeAtom(8191));
  EXPECT_EQ(eglobal->atmtabsize, 2 * ATOM_PAGE_SLOTS) << "taking the last free slot must add a page";
  EXPECT_NE(eglobal->atmtab[1], nullptr);
  EXPECT_EQ(eglobal->atom_free, (8192u << 3) | 1);
  EXPECT_EQ(init_atom_check("first_of_page_two", 0), MakeAtom(8192));
  EXPECT_EQ(text_of(MakeAtom(8191)), "last_of_page");
  expect_directory_consistent("after two pages");
}

TEST_F(AtomTable, DirectoryGrowsAndShrinksWithThePopulation)
{
  const unsigned n = 100000;
  std::uint32_t base = eglobal->atom_count;
  std::vector<TAGGED> made;
  char name[32];
  for (unsigned i = 0; i < n; ++i) {
    std::snprintf(name, sizeof name, "grow_%u", i);
    made.push_back(init_atom_check(name, 0));
    if (i % 25000 == 0)
      expect_directory_consistent("while growing");
  }
  expect_directory_consistent("after growth");
  EXPECT_EQ(eglobal->atom_count, base + n);
  EXPECT_GE(eglobal->atmhash.buckets + eglobal->atmhash.splits, (base + n) / 5);
  for (unsigned i = 0; i < n; i += 997) {
    std::snprintf(name, sizeof name, "grow_%u", i);
    EXPECT_EQ(init_atom_check(name, 1), made[i]) << name;
  }

  // Everything made here is unreferenced: one collection frees it all and
  // the directory shrinks back with it.
  worker w{};
  prolog_garbage_collect_atoms(&w);
  EXPECT_EQ(eglobal->atom_count, base);
  expect_directory_consistent("after the collection");
  for (std::uint32_t i = 0; i < first_unused_atom_number; ++i)
    EXPECT_EQ(init_atom_check(initial_atoms[i], 1), MakeAtom(i)) << "predefined atom lost: " << i;
  EXPECT_EQ(init_atom_check("grow_5", 1), 0u);
}
