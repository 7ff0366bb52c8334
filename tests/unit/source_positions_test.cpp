// Source positions: path packing and its order, building and searching the
// position tables of interpreted clauses, the compiled-code table behind
// the eglobal hooks and its built-ins, and the profiler's clause counters.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "btree.h"
#include "clause_counters.h"
#include "code_builder.h"
#include "code_walkers.h"
#include "database_fixture.h"
#include "indexing.h"
#include "instance.h"
#include "source_positions.h"
#include "stack_growth.h"
#include "wamsup.h"

namespace {

using path = std::vector<std::uint32_t>;

std::vector<TAGGED> pack(const path &p)
{
  std::vector<TAGGED> w(1);
  unsigned n = itable_pack_path(p.data(), static_cast<unsigned>(p.size()), w.data(), 1);
  w.resize(n);
  EXPECT_EQ(itable_pack_path(p.data(), static_cast<unsigned>(p.size()), w.data(), n), n);
  return w;
}

std::string hex(const std::vector<TAGGED> &w)
{
  std::string s;
  char buf[16];
  for (TAGGED x : w) {
    std::snprintf(buf, sizeof buf, "%s%08X", s.empty() ? "" : " ", x);
    s += buf;
  }
  return s;
}

TEST(PathPacking, CodesOfCharacteristicPaths)
{
  const path twos14(14, 2);
  path twos14_1 = twos14;
  twos14_1.push_back(1);
  path full(7, 1);  // seven 1's and the terminator fill a word exactly
  struct {
    const char *why;
    path p;
    std::vector<TAGGED> words;
  } cases[] = {
      {"empty path: terminator only", {}, {0x10000000}},
      {"(1)", {1}, {0x11000000}},
      {"(2): one pending 2 in the terminator", {2}, {0x20000000}},
      {"(2,1)", {2, 1}, {0x21000000}},
      {"(3)", {3}, {0xFD110000}},
      {"(2,2,3)", {2, 2, 3}, {0xFB110000}},
      {"fourteen 2's then 1: 14, 2, terminator 1", twos14_1, {0xE2100000}},
      {"fourteen pending 2's: 14, terminator 2", twos14, {0xE2000000}},
      {"a full word is followed by a zero word", full, {0x11111111, 0}},
      {"positions above 17 sort as 17", {40}, {0xFDF10000}},
  };
  for (const auto &c : cases)
    EXPECT_EQ(hex(pack(c.p)), hex(c.words)) << c.why;
  EXPECT_EQ(pack({40}), pack({17}));
}

// Unsigned word order of packed paths must be the depth-first order of the
// paths (a prefix first, then by position), which the look-up relies on.
TEST(PathPacking, PackedOrderIsPathOrder)
{
  std::mt19937 rng(424242);
  std::vector<path> paths;
  for (int i = 0; i < 600; ++i) {
    path p;
    unsigned len = rng() % (i % 5 == 0 ? 60 : 12);
    for (unsigned j = 0; j < len; ++j) {
      unsigned r = rng() % 10;
      p.push_back(r < 6 ? 2 : r < 8 ? 1 : r < 9 ? 3 : 4 + rng() % 14);
    }
    paths.push_back(p);
  }
  auto packed_less = [](const std::vector<TAGGED> &a, const std::vector<TAGGED> &b) {
    for (std::size_t j = 0; j < std::max(a.size(), b.size()); ++j) {
      TAGGED x = j < a.size() ? a[j] : 0, y = j < b.size() ? b[j] : 0;
      if (x != y)
        return x < y;
    }
    return false;
  };
  std::vector<std::vector<TAGGED>> packed;
  for (const path &p : paths)
    packed.push_back(pack(p));
  for (std::size_t i = 0; i < paths.size(); ++i)
    for (std::size_t j = 0; j < paths.size(); j += 7) {
      bool want = paths[i] < paths[j];
      ASSERT_EQ(packed_less(packed[i], packed[j]), want)
          << "paths " << i << " and " << j << ": " << hex(packed[i]) << " vs " << hex(packed[j]);
    }
}

struct SourcePositions : DatabaseFixture {
  alignas(8) unsigned char ins_storage[64] = {};
  instance *ins = reinterpret_cast<instance *>(ins_storage);
  TAGGED file = 0;

  void SetUp() override
  {
    DatabaseFixture::SetUp();
    ds_tables_init();
    file = atom("clauses.pl");
  }
  void TearDown() override
  {
    itable_free(ins->source_link);
    ins->source_link = nullptr;
    ds_tables_deinit();
    itable_deinit();
    EXPECT_EQ(eglobal->mm.mm_bins[MM_BIN_ITABLE], 0u) << "position tables left allocated";
    EXPECT_EQ(eglobal->mm.mm_bins[MM_BIN_BTREE], 0u);
    DatabaseFixture::TearDown();
  }

  TAGGED small(int v) { return MakeSmall_checked(v); }
  TAGGED list(std::initializer_list<TAGGED> items, TAGGED tail = atom_nil)
  {
    std::vector<TAGGED> v(items);
    TAGGED t = tail;
    for (auto it = v.rbegin(); it != v.rend(); ++it) {
      TAGGED *h = heap(2);
      h[0] = *it;
      h[1] = t;
      t = MakeLST(h);
    }
    return t;
  }
  TAGGED fresh_var()
  {
    TAGGED *h = heap(1);
    *h = PointerToTerm(h);
    return *h;
  }

  // The recorded (path words, line) pairs of the clause's table.
  std::vector<std::pair<std::string, int>> entries()
  {
    std::vector<std::pair<std::string, int>> out;
    const ITABLE *t = ins->source_link;
    for (std::uint32_t i = 1; i <= itable_entries(t); ++i) {
      std::vector<TAGGED> words{t->pair[i].key};
      int line;
      if (t->pair[i].value & ITABLE_LONG_PATH) {
        const TAGGED *o = itable_overflow(t) + (t->pair[i].value & ~ITABLE_LONG_PATH);
        line = static_cast<int>(o[0]);
        for (const TAGGED *p = o + 1;; ++p) {
          words.push_back(*p);
          if ((*p & 0xF) == 0)
            break;
        }
      } else {
        line = static_cast<int>(t->pair[i].value);
      }
      out.emplace_back(hex(words), line);
    }
    return out;
  }

};

TEST_F(SourcePositions, DescriptionsRecordOnlyLaterLines)
{
  struct {
    const char *why;
    std::vector<std::pair<std::string, int>> want;
  } c1{"[1, 2, 3]: empty path, (1), (2)", {{"10000000", 1}, {"11000000", 2}, {"20000000", 3}}};
  ASSERT_EQ(new_table_interp(w, list({small(1), small(2), small(3)}), ins, file), 1);
  EXPECT_EQ(entries(), c1.want) << c1.why;
  EXPECT_EQ(itable_file(ins->source_link), file);
  EXPECT_EQ(itable_bytes(ins->source_link), 8u * 4 + 4);

  // Replacing the table frees the old one (checked by the bin in TearDown).
  ASSERT_EQ(new_table_interp(w, list({small(5), small(4)}), ins, file), 1);
  std::vector<std::pair<std::string, int>> only5{{"10000000", 5}};
  EXPECT_EQ(entries(), only5) << "[5, 4]: line 4 is not later than 5";

  // Nested: (p :- a, (b, c)) with lines 10, 10, 11, 12 and an argument of
  // the third goal on line 13.
  TAGGED body = list({small(10), small(10), list({small(11), small(11), list({small(12), small(13)})})});
  ASSERT_EQ(new_table_interp(w, list({small(10), atom_nil, body}), ins, file), 1);
  std::vector<std::pair<std::string, int>> nested{
      {"10000000", 10}, {"30000000", 11}, {"40000000", 12}, {"41000000", 13}};
  EXPECT_EQ(entries(), nested);
}

TEST_F(SourcePositions, MalformedDescriptionsFailAndAttachNothing)
{
  TAGGED a = atom("a");
  struct {
    const char *why;
    TAGGED description;
  } cases[] = {
      {"an atom", a},
      {"a non-integer line", list({a})},
      {"an unbound line", list({fresh_var()})},
      {"four argument entries", list({small(1), small(2), small(3), small(4), small(5)})},
      {"improper argument list", list({small(1), small(2)}, a)},
      {"malformed deep inside", list({small(1), list({small(2), list({small(3), a})})})},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(new_table_interp(w, c.description, ins, file), 0) << c.why;
    EXPECT_EQ(ins->source_link, nullptr) << c.why;
  }
  // The work areas were cleared: a good description still builds alone.
  ASSERT_EQ(new_table_interp(w, list({small(7), small(8)}), ins, file), 1);
  EXPECT_EQ(itable_entries(ins->source_link), 2u);
}

// A clause body as long as a conjunction of 3000 goals nests 3000 deep;
// its paths need many words, and building must not recurse natively.
TEST_F(SourcePositions, DeepConjunctionsAndLongPathsRoundTrip)
{
  const int goals = 3000;
  heap_overflow(w, 12 * goals + 1000, 0);  // room for the description's list cells
  ASSERT_GT(w->stack_start - w->global_top, 12 * goals);
  TAGGED body = list({small(2 * goals + 1)});
  for (int g = goals - 1; g >= 0; --g)
    body = list({small(2 * g + 1), list({small(2 * g + 1), small(2 * g + 2)}), body});
  ASSERT_EQ(new_table_interp(w, body, ins, file), 1);
  EXPECT_EQ(itable_entries(ins->source_link), static_cast<std::uint32_t>(2 * goals + 1));

  // Goal g is at path 2^g 1; its argument (position 1) is at 2^g 1 1.
  std::mt19937 rng(5);
  for (int k = 0; k < 200; ++k) {
    int g = static_cast<int>(rng() % goals);
    path goal(g, 2);
    goal.push_back(1);
    path arg = goal;
    arg.push_back(1);
    path deeper = arg;
    deeper.push_back(3);
    deeper.push_back(2);
    struct {
      const path &p;
      int line;
    } probes[] = {{goal, 2 * g + 1}, {arg, 2 * g + 2}, {deeper, 2 * g + 2}};
    for (const auto &pr : probes) {
      TAGGED f = 0;
      std::int32_t line = 0;
      ASSERT_EQ(itable_search(ins->source_link, pr.p.data(), static_cast<unsigned>(pr.p.size()), &f, &line), 1);
      EXPECT_EQ(line, pr.line) << "goal " << g << ", path of " << pr.p.size() << " positions";
      EXPECT_EQ(f, file);
    }
  }
}

TEST_F(SourcePositions, SearchTakesTheGreatestPathNotAbove)
{
  // Entries: () 1, (1) 2, (2) 3, (2,1) 4 recorded from [1, 2, [3, 4]].
  ASSERT_EQ(new_table_interp(w, list({small(1), small(2), list({small(3), small(4)})}), ins, file), 1);
  struct {
    path p;
    int line;
  } cases[] = {
      {{}, 1},        {{1}, 2},       {{1, 3, 3}, 2}, {{2}, 3},
      {{2, 1}, 4},    {{2, 2}, 4},    {{3}, 4},       {{9, 9}, 4},
  };
  for (const auto &c : cases) {
    TAGGED f;
    std::int32_t line;
    ASSERT_EQ(itable_search(ins->source_link, c.p.data(), static_cast<unsigned>(c.p.size()), &f, &line), 1);
    EXPECT_EQ(line, c.line) << "path of " << c.p.size() << " positions";
  }
  // Below every recorded path: the first entry.
  ASSERT_EQ(new_table_interp(w, list({small(0), small(6)}), ins, file), 1);
  TAGGED f;
  std::int32_t line;
  ASSERT_EQ(itable_search(ins->source_link, nullptr, 0, &f, &line), 1);
  EXPECT_EQ(line, 6) << "the empty path lies below (1) and takes the first entry";

  // Without entries there is nothing to answer.
  ASSERT_EQ(new_table_interp(w, atom_nil, ins, file), 1);
  EXPECT_EQ(itable_search(ins->source_link, nullptr, 0, &f, &line), 0);
}

TEST_F(SourcePositions, MalformedLookupsFail)
{
  TAGGED line = fresh_var(), f = fresh_var();
  struct {
    const char *why;
    TAGGED rpath;
  } cases[] = {
      {"a non-integer position", list({small(1), atom("x")}, atom_nil)},
      {"a position below 1", list({small(0)}, atom_nil)},
      {"no clause reference at the end", list({small(1), small(2)})},
      {"not a list", atom("x")},
  };
  for (const auto &c : cases)
    EXPECT_EQ(search_table_interp(w, c.rpath, f, line), 0) << c.why;
}

TEST_F(SourcePositions, FileAtomIsHeldWhileTheTableLives)
{
  TAGGED only_here = atom("only_in_a_table.pl");
  unsigned before = atom_record(only_here)->refcount;
  ASSERT_EQ(new_table_interp(w, list({small(1)}), ins, only_here), 1);
  EXPECT_EQ(atom_record(only_here)->refcount, before + 1);
  itable_free(ins->source_link);
  ins->source_link = nullptr;
  EXPECT_EQ(atom_record(only_here)->refcount, before);
}

// ---- Compiled-code table ----

TEST_F(SourcePositions, HooksAreInstalledAndRemoved)
{
  EXPECT_EQ(eglobal->add_table_comp, &add_table_comp);
  EXPECT_EQ(eglobal->del_table_comp, &del_table_comp);
  EXPECT_EQ(eglobal->agc_table_comp, &agc_table_comp);
  ds_tables_deinit();
  EXPECT_EQ(eglobal->add_table_comp, nullptr);
  EXPECT_EQ(eglobal->del_table_comp, nullptr);
  EXPECT_EQ(eglobal->agc_table_comp, nullptr);
}

TEST_F(SourcePositions, CompiledCodePositionsAndSearchDistance)
{
  alignas(8) static INSN code[512];
  TAGGED other = atom("other.pl");
  eglobal->add_table_comp(&code[0], file, 12);
  eglobal->add_table_comp(&code[40], file, 70000);  // another 65536-line page
  eglobal->add_table_comp(&code[80], other, 3);
  eglobal->add_table_comp(&code[120], file, 15);

  struct {
    const char *why;
    const INSN *at;
    bool found;
    TAGGED file;
    long line;
  } cases[] = {
      {"exact", &code[0], true, file, 12},
      {"8 bytes above", &code[4], true, file, 12},
      {"16 bytes above", &code[8], true, file, 12},
      {"20 bytes above: too far", &code[10], false, 0, 0},
      {"a high line", &code[40], true, file, 70000},
      {"other file", &code[84], true, other, 3},
      {"same file and page again", &code[120], true, file, 15},
  };
  for (const auto &c : cases) {
    TAGGED f = 0;
    long line = 0;
    ASSERT_EQ(comp_table_lookup(c.at, &f, &line), c.found ? 1 : 0) << c.why;
    if (c.found) {
      EXPECT_EQ(f, c.file) << c.why;
      EXPECT_EQ(line, c.line) << c.why;
    }
    // The built-in, given the address in its small-integer form.
    w->term[0] = PointerToTerm(c.at) | 3;
    w->term[1] = fresh_var();
    w->term[2] = fresh_var();
    TAGGED fv = w->term[1], lv = w->term[2];
    ASSERT_EQ(prolog_search_table_comp(w), c.found ? 1 : 0) << c.why;
    if (c.found) {
      EXPECT_EQ(deref(fv), c.file) << c.why;
      EXPECT_EQ(deref(lv), MakeSmall_checked(static_cast<int>(c.line))) << c.why;
    }
  }
  w->term[0] = atom("x");
  EXPECT_EQ(prolog_search_table_comp(w), 0) << "an address in another form";

  // Freeing a clause forgets its range, end excluded.
  eglobal->del_table_comp(&code[40], &code[120]);
  TAGGED f;
  long line;
  EXPECT_EQ(comp_table_lookup(&code[84], &f, &line), 0);
  EXPECT_EQ(comp_table_lookup(&code[40], &f, &line), 0);
  ASSERT_EQ(comp_table_lookup(&code[120], &f, &line), 1);
  EXPECT_EQ(line, 15);
}

TEST_F(SourcePositions, FileAtomsSurviveAtomCollection)
{
  alignas(8) static INSN code[8];
  {
    // Made and dropped by a C++ scope: only the table refers to it.
    TAGGED kept = atom("kept_by_code_table.pl");
    eglobal->add_table_comp(&code[0], kept, 1);
  }
  atom("dropped_file.pl");
  ASSERT_EQ(prolog_garbage_collect_atoms(w), 1);
  EXPECT_NE(init_atom_check("kept_by_code_table.pl", 1), 0u) << "the table's file atom was collected";
  EXPECT_EQ(init_atom_check("dropped_file.pl", 1), 0u) << "an unreferenced atom survived";
}

TEST_F(SourcePositions, AncestorAtFindsTheNearestRecordedContinuation)
{
  alignas(8) static INSN code[256];
  eglobal->add_table_comp(&code[100], file, 42);
  // Three environments on the local stack, oldest first; the query's
  // limit lies below the oldest.
  TAGGED *base = w->local_top;
  frame *e0 = reinterpret_cast<frame *>(base + 8);
  frame *e1 = reinterpret_cast<frame *>(base + 16);
  frame *e2 = reinterpret_cast<frame *>(base + 24);
  e0->frame_ = nullptr;
  e0->next_insn = nullptr;
  e1->frame_ = e0;
  e1->next_insn = &code[103];  // 6 bytes above the record: found (low bits cleared)
  e2->frame_ = e1;
  e2->next_insn = &code[10];   // nothing recorded near it
  w->local_top = base + 40;
  node query_storage{};
  node *query = &query_storage;
  node *saved_query = w->current_query;
  w->current_query = query;
  frame *saved_frame = w->frame_;
  INSN *saved_insn = w->next_insn;
  query->local_top = base;
  w->frame_ = e2;
  w->next_insn = &code[20];

  w->term[0] = fresh_var();
  TAGGED result = w->term[0];
  EXPECT_EQ(prolog_ancestor_at(w), 1);
  EXPECT_EQ(deref(result), (PointerToTerm(&code[103]) & ~7u) | 3);

  // The environment holding that continuation lies below the query's
  // limit: the walk stops before it.
  query->local_top = reinterpret_cast<TAGGED *>(e2);
  w->term[0] = fresh_var();
  EXPECT_EQ(prolog_ancestor_at(w), 0);

  w->current_query = saved_query;
  w->frame_ = saved_frame;
  w->next_insn = saved_insn;
  w->local_top = base;
}

// ---- Clause counters ----

struct ClauseCounters : DatabaseFixture {
  emul_info *counted_clause(std::uint32_t calls, std::uint32_t choicepoints, std::uint32_t runs)
  {
    code_builder b;
    b.emit(BUMP_ENTRY, {cb::counter(calls), cb::counter(choicepoints)});
    b.emit(BUMP_COUNTER, {cb::counter(runs)});
    b.emit(PROCEED);
    return b.finish(failcode, IX_CASES);
  }
  definition *profiled(const char *name, std::vector<emul_info *> clauses)
  {
    definition *d = insert_definition(module("user"), atom(name), 1, 1);
    redefine_predicate(d, ENTER_PROFILEDCODE);
    for (emul_info *c : clauses)
      insert_compactcode(d, c, IX_CASES, 0);
    return d;
  }
};

TEST_F(ClauseCounters, NumberGatherAndReset)
{
  std::vector<emul_info *> cl{counted_clause(5, 2, 7), counted_clause(1, 0, 3), counted_clause(9, 4, 11)};
  profiled("p", cl);
  TAGGED p1 = spec("p", 1), user = atom("user");

  TAGGED n = var();
  ASSERT_EQ(call(prolog_clause_number, {p1, user, n}), 1);
  EXPECT_EQ(deref(n), MakeSmall_checked(3));

  for (int i = 1; i <= 3; ++i) {
    int calls = 0, cps = 0, insns = 0;
    wam_gather_counters(cl[i - 1], &calls, &cps, &insns);
    TAGGED c = var(), ch = var(), in = var();
    ASSERT_EQ(call(prolog_get_counters, {p1, user, MakeSmall_checked(i), c, ch, in}), 1) << "clause " << i;
    EXPECT_EQ(deref(c), MakeSmall_checked(calls)) << "clause " << i;
    EXPECT_EQ(deref(ch), MakeSmall_checked(cps)) << "clause " << i;
    EXPECT_EQ(deref(in), MakeSmall_checked(insns)) << "clause " << i;
  }
  // The walker's sums for these clauses, so that clause selection shows.
  TAGGED c = var(), ch = var(), in = var();
  ASSERT_EQ(call(prolog_get_counters, {p1, user, MakeSmall_checked(3), c, ch, in}), 1);
  EXPECT_EQ(deref(c), MakeSmall_checked(9));
  EXPECT_EQ(deref(ch), MakeSmall_checked(4));
  EXPECT_EQ(deref(in), MakeSmall_checked(11)) << "PROCEED ran 11 times";

  ASSERT_EQ(call(prolog_reset_counters, {p1, user}), 1);
  for (int i = 1; i <= 3; ++i) {
    TAGGED c2 = var(), ch2 = var(), in2 = var();
    ASSERT_EQ(call(prolog_get_counters, {p1, user, MakeSmall_checked(i), c2, ch2, in2}), 1);
    EXPECT_EQ(deref(c2), MakeSmall_checked(0)) << "clause " << i << " after reset";
    EXPECT_EQ(deref(ch2), MakeSmall_checked(0)) << "clause " << i << " after reset";
    EXPECT_EQ(deref(in2), MakeSmall_checked(0)) << "clause " << i << " after reset";
  }
}

TEST_F(ClauseCounters, MissingModulePredicateOrClauseFails)
{
  profiled("q", {counted_clause(1, 1, 1)});
  definition *dyn = insert_definition(module("user"), atom("dyn"), 1, 1);
  redefine_predicate(dyn, ENTER_INTERPRETED);
  TAGGED user = atom("user"), q1 = spec("q", 1);
  struct {
    const char *why;
    TAGGED pred, module, index;
    bool no_predicate;  // then every built-in fails
  } cases[] = {
      {"no such module", q1, atom("nowhere"), MakeSmall_checked(1), true},
      {"no such predicate", spec("r", 1), user, MakeSmall_checked(1), true},
      {"wrong arity", spec("q", 2), user, MakeSmall_checked(1), true},
      {"not compiled", spec("dyn", 1), user, MakeSmall_checked(1), true},
      {"not a predicate indicator", atom("q"), user, MakeSmall_checked(1), true},
      {"clause 0", q1, user, MakeSmall_checked(0), false},
      {"clause past the last", q1, user, MakeSmall_checked(2), false},
      {"index not an integer", q1, user, atom("x"), false},
  };
  for (const auto &c : cases) {
    TAGGED a = var(), b = var(), d = var();
    EXPECT_EQ(call(prolog_get_counters, {c.pred, c.module, c.index, a, b, d}), 0) << c.why;
    if (c.no_predicate) {
      EXPECT_EQ(call(prolog_reset_counters, {c.pred, c.module}), 0) << c.why;
      EXPECT_EQ(call(prolog_clause_number, {c.pred, c.module, var()}), 0) << c.why;
    }
  }
  // A predicate without clauses has clause number 0.
  profiled("empty", {});
  TAGGED n = var();
  ASSERT_EQ(call(prolog_clause_number, {spec("empty", 1), user, n}), 1);
  EXPECT_EQ(deref(n), MakeSmall_checked(0));
}

TEST(DsBuiltins, RowsNameTheTableAndCounterBuiltins)
{
  struct {
    const char *name;
    int arity;
  } want[] = {{"$new_table_interp", 3}, {"$search_table_interp", 3}, {"$search_table_comp", 3},
              {"$ancestor_at", 1},      {"$get_counters", 6},        {"$reset_counters", 2},
              {"$clause_number", 3}};
  std::size_t i = 0;
  for (; ds_source_builtins[i].name != nullptr; ++i) {
    ASSERT_LT(i, std::size(want));
    EXPECT_STREQ(ds_source_builtins[i].name, want[i].name);
    EXPECT_EQ(ds_source_builtins[i].arity, want[i].arity) << want[i].name;
    EXPECT_NE(ds_source_builtins[i].function, nullptr) << want[i].name;
  }
  EXPECT_EQ(i, std::size(want));
}

} // namespace
