// Atom garbage collection, registration, the free list of indices and the
// atom built-ins ($agc_margin/2, $atom_mode/3, $replace_suffix/4).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "atoms.h"
#include "datadefs.h"
#include "initial_atoms.h"
#include "memman.h"
#include "terms.h"
#include "stacks.h"
#include "worker.h"

namespace {

// A started atom table and a worker whose heap is a plain array (no other
// stacks exist: the collector must cope with that).
struct AtomGc : ::testing::Test {
  // Word 0 is the guard word that the real heap block keeps before its
  // first cell (binding looks at the word before a cell).
  std::vector<TAGGED> heap = std::vector<TAGGED>(4096, 0);
  worker w{};

  void SetUp() override
  {
    ASSERT_EQ(memman_init(), 0);
    ASSERT_EQ(init_atoms_once(), 1);
    heap[0] = HEAP_GUARD_WORD;
    w.heap_start = w.global_top = heap.data() + 1;
  }
  void TearDown() override
  {
    VR_prolog_initialized = 0;
    eglobal->current_prompt = 0;
    deinit_atoms();
    memman_deinit();
  }

  TAGGED make(const char *text) { return init_atom_check(text, 0); }
  static bool exists(const char *text) { return init_atom_check(text, 1) != 0; }
  TAGGED new_var()
  {
    TAGGED *cell = w.global_top++;
    *cell = PointerToTerm(cell);
    return *cell;
  }
  int call(int (*fn)(worker *), std::vector<TAGGED> args)
  {
    for (std::size_t i = 0; i < args.size(); ++i)
      w.term[i] = args[i];
    return fn(&w);
  }
};

void expect_no_marks(void)
{
  for (std::uint32_t i = 0; i < eglobal->atmtabsize; ++i) {
    atom *a = eglobal->atmtab[i >> 13][i & 8191];
    if ((reinterpret_cast<std::uintptr_t>(a) & 1) == 0) {
      ASSERT_EQ(a->marked, 0u) << "mark left on '" << a->name << "'";
    }
  }
}

} // namespace

TEST_F(AtomGc, FreesExactlyTheUnreferencedUnregisteredAtoms)
{
  TAGGED in_register = make("kept_by_register");
  TAGGED on_heap = make("kept_by_heap");
  TAGGED functor_name = make("kept_as_functor");
  TAGGED registered = make("kept_by_registration");
  TAGGED in_box = make("only_inside_a_box");
  make("dropped");
  std::uint32_t count = eglobal->atom_count;
  std::int64_t nfreed = eglobal->stats.agc_nfreed, freed = eglobal->stats.agc_freed;
  std::int64_t runs = eglobal->stats.agc_count;

  w.term[200] = in_register;
  *w.global_top++ = on_heap;
  *w.global_top++ = MakeFunctor(functor_name, 3);
  // A boxed integer whose digit has the bit pattern of an atom word: the
  // collector must skip the box, not read its payload as a reference.
  TAGGED box = BoxHeader(1, false);
  *w.global_top++ = box;
  *w.global_top++ = in_box;
  *w.global_top++ = box;
  ASSERT_EQ(VR_register_atom(registered), 1);

  EXPECT_EQ(prolog_garbage_collect_atoms(&w), 1);

  EXPECT_TRUE(exists("kept_by_register"));
  EXPECT_TRUE(exists("kept_by_heap"));
  EXPECT_TRUE(exists("kept_as_functor"));
  EXPECT_TRUE(exists("kept_by_registration"));
  EXPECT_FALSE(exists("only_inside_a_box")) << "payload of a boxed number taken for an atom";
  EXPECT_FALSE(exists("dropped"));
  EXPECT_EQ(eglobal->atom_count, count - 2);
  EXPECT_EQ(eglobal->stats.agc_nfreed, nfreed + 2);
  EXPECT_EQ(eglobal->stats.agc_freed,
            freed + static_cast<std::int64_t>(atom_record_size(17) + atom_record_size(7)));
  EXPECT_EQ(eglobal->stats.agc_count, runs + 1);
  EXPECT_EQ(eglobal->atom_count_limit, eglobal->atom_count + DEFAULT_AGC_MARGIN);
  EXPECT_EQ(eglobal->atmhash.pop, eglobal->atom_count);
  expect_no_marks();
  (void)in_box;
}

TEST_F(AtomGc, EngineRootsKeepTheirAtoms)
{
  TAGGED prompt = make("the_prompt");
  TAGGED global_var = make("in_a_global_var");
  TAGGED worker_var = make("in_a_worker_var");
  TAGGED marker_root = make("kept_by_a_marker");
  make("dropped");
  eglobal->current_prompt = prompt;
  eglobal->global_vars[3] = global_var;
  w.worker_vars[31] = worker_var;
  static TAGGED marker_word;
  marker_word = marker_root;
  agc_root_marker marker = [](worker *) { agc_atom(marker_word); };
  agc_add_root_marker(marker);
  prolog_garbage_collect_atoms(&w);
  agc_remove_root_marker(marker);
  eglobal->global_vars[3] = 0;

  EXPECT_TRUE(exists("the_prompt"));
  EXPECT_TRUE(exists("in_a_global_var"));
  EXPECT_TRUE(exists("in_a_worker_var"));
  EXPECT_TRUE(exists("kept_by_a_marker"));
  EXPECT_FALSE(exists("dropped"));

  prolog_garbage_collect_atoms(&w);
  EXPECT_FALSE(exists("kept_by_a_marker")) << "a removed marker still kept its atom";
  (void)global_var;
  (void)worker_var;
}

TEST_F(AtomGc, FreedIndicesAreReusedLowestFirst)
{
  TAGGED a = make("reuse_a"), b = make("reuse_b"), c = make("reuse_c");
  ASSERT_LT(AtomIndex(a), AtomIndex(b));
  ASSERT_LT(AtomIndex(b), AtomIndex(c));
  w.term[0] = b;
  prolog_garbage_collect_atoms(&w);
  // The sweep runs from the top down, so the lowest freed index heads the
  // free list.
  EXPECT_EQ(make("again_1"), a);
  EXPECT_EQ(make("again_2"), c);
  EXPECT_EQ(std::string(atom_name(b)), "reuse_b");
  // Past the reused slots, creation continues at the first never-used one.
  TAGGED d = make("again_3");
  EXPECT_GT(AtomIndex(d), AtomIndex(c));
}

TEST_F(AtomGc, RegistrationCountsAndSaturates)
{
  TAGGED t = make("counted");
  ASSERT_EQ(VR_register_atom(t), 1);
  ASSERT_EQ(VR_register_atom(t), 1);
  EXPECT_EQ(VR_unregister_atom(t), 1);
  prolog_garbage_collect_atoms(&w);
  EXPECT_TRUE(exists("counted")) << "one registration left";
  EXPECT_EQ(VR_unregister_atom(t), 1);
  EXPECT_EQ(atom_record(t)->refcount, 0);
  EXPECT_EQ(VR_unregister_atom(t), 1) << "unregistering at 0 still succeeds";
  EXPECT_EQ(atom_record(t)->refcount, 0) << "count went below zero";
  prolog_garbage_collect_atoms(&w);
  EXPECT_FALSE(exists("counted"));

  // At 255 the count sticks: the atom is pinned for good.
  TAGGED p = make("pinned");
  for (int i = 0; i < 300; ++i)
    VR_register_atom(p);
  EXPECT_EQ(atom_record(p)->refcount, 255);
  VR_unregister_atom(p);
  EXPECT_EQ(atom_record(p)->refcount, 255);

  // A functor word registers its name.
  TAGGED f = make("as_functor");
  EXPECT_EQ(VR_register_atom(MakeFunctor(f, 2)), 1);
  EXPECT_EQ(atom_record(f)->refcount, 1);
}

TEST_F(AtomGc, RegistrationRefusesNonAtoms)
{
  TAGGED f = make("freed_soon");
  prolog_garbage_collect_atoms(&w);
  struct { TAGGED word; const char *what; } cases[] = {
      {MakeSmall_checked(3), "small integer"},
      {0x80000007u, "bit 31 set"},
      {PointerToTerm(heap.data()), "reference"},
      {MakeAtom(eglobal->atmtabsize + 5), "index beyond the table"},
      {f, "atom already collected"},
  };
  for (auto c : cases) {
    vr_errno = 0;
    EXPECT_EQ(VR_register_atom(c.word), 0) << c.what;
    EXPECT_EQ(vr_errno, 11) << c.what;
    vr_errno = 0;
    EXPECT_EQ(VR_unregister_atom(c.word), 0) << c.what;
    EXPECT_EQ(vr_errno, 11) << c.what;
  }
}

TEST_F(AtomGc, AgcAtomIgnoresWordsOutsideTheTable)
{
  TAGGED f = make("gone");
  prolog_garbage_collect_atoms(&w);
  agc_atom(f);  // its slot is on the free list now
  agc_atom(MakeAtom(eglobal->atmtabsize));
  agc_atom(MakeAtom(eglobal->atmtabsize + 100000));
  expect_no_marks();
}

TEST_F(AtomGc, AgcMarginMovesTheLimit)
{
  std::uint32_t count = eglobal->atom_count;
  ASSERT_EQ(eglobal->atom_count_limit, DEFAULT_AGC_MARGIN);
  std::int64_t runs = eglobal->stats.agc_count;

  // A first argument that does not unify changes nothing.
  EXPECT_EQ(call(prolog_agc_margin, {MakeSmall_checked(5), MakeSmall_checked(1)}), 0);
  EXPECT_EQ(eglobal->current_agcmargin, MakeSmall_checked(DEFAULT_AGC_MARGIN));
  EXPECT_EQ(eglobal->atom_count_limit, DEFAULT_AGC_MARGIN);

  TAGGED old = new_var();
  EXPECT_EQ(call(prolog_agc_margin, {old, MakeSmall_checked(9000)}), 1);
  EXPECT_EQ(deref(old), MakeSmall_checked(DEFAULT_AGC_MARGIN));
  EXPECT_EQ(eglobal->atom_count_limit, DEFAULT_AGC_MARGIN - 1000);
  EXPECT_EQ(eglobal->stats.agc_count, runs) << "no collection below the limit";

  // Pulling the limit below the count collects at once.
  make("collected_by_margin");
  std::int32_t shrink = static_cast<std::int32_t>(eglobal->atom_count_limit - count);
  EXPECT_EQ(call(prolog_agc_margin, {MakeSmall_checked(9000), MakeSmall_checked(9000 - shrink)}), 1);
  EXPECT_EQ(eglobal->stats.agc_count, runs + 1);
  EXPECT_FALSE(exists("collected_by_margin"));
  EXPECT_EQ(eglobal->atom_count_limit, eglobal->atom_count + 9000 - shrink);

  // The limit never passes the table's capacity.
  EXPECT_EQ(call(prolog_agc_margin, {new_var(), MakeSmall_checked(5000000)}), 1);
  EXPECT_EQ(eglobal->atom_count_limit, MAX_ATOM_COUNT);
}

TEST_F(AtomGc, CreationCollectsOnceInitialized)
{
  VR_prolog_initialized = 1;
  for (auto &t : self->term)
    t = 0;
  // Leave room for three more atoms before the limit.
  eglobal->atom_count_limit = eglobal->atom_count + 3;
  std::int64_t runs = eglobal->stats.agc_count;
  make("auto_1");
  make("auto_2");
  EXPECT_EQ(eglobal->stats.agc_count, runs);
  TAGGED third = make("auto_3");
  EXPECT_EQ(eglobal->stats.agc_count, runs + 1) << "reaching the limit must collect";
  EXPECT_FALSE(exists("auto_1"));
  EXPECT_FALSE(exists("auto_2"));
  EXPECT_TRUE(exists("auto_3")) << "the atom being created was collected";
  EXPECT_EQ(atom_record(third)->refcount, 0) << "creation's protection left behind";
  EXPECT_EQ(eglobal->atom_count_limit, eglobal->atom_count + DEFAULT_AGC_MARGIN);
}

TEST_F(AtomGc, NoCollectionBeforeInitialization)
{
  eglobal->atom_count_limit = eglobal->atom_count + 1;
  std::int64_t runs = eglobal->stats.agc_count;
  make("early_1");
  make("early_2");
  EXPECT_EQ(eglobal->stats.agc_count, runs);
  EXPECT_TRUE(exists("early_1"));
}

// Collecting every atom of a table used to halve the directory to zero
// buckets and corrupt it; it must stop at one bucket and stay usable.
TEST_F(AtomGc, EmptyingTheTableKeepsOneBucket)
{
  deinit_atoms();
  init_atoms();
  char name[32];
  for (unsigned i = 0; i < 3000; ++i) {
    std::snprintf(name, sizeof name, "t%u", i);
    ASSERT_NE(make(name), 0u);
  }
  ASSERT_GT(eglobal->atmhash.buckets, 1u);
  prolog_garbage_collect_atoms(&w);
  const linhash_dir &d = eglobal->atmhash;
  EXPECT_EQ(d.pop, 0u);
  EXPECT_EQ(eglobal->atom_count, 0u);
  EXPECT_EQ(d.buckets, 1u);
  EXPECT_EQ(d.splits, 0u);
  ASSERT_NE(d.segment[0], nullptr);
  EXPECT_EQ(d.segment[0][0], nullptr);
  for (unsigned s = 1; s < LINHASH_SEGMENTS; ++s)
    EXPECT_EQ(d.segment[s], nullptr) << "segment " << s << " not freed";
  // Still usable, and a second collection of an empty table is harmless.
  prolog_garbage_collect_atoms(&w);
  for (unsigned i = 0; i < 50; ++i) {
    std::snprintf(name, sizeof name, "u%u", i);
    ASSERT_NE(make(name), 0u);
  }
  EXPECT_TRUE(exists("u49"));
  EXPECT_EQ(eglobal->atom_count, 50u);
  EXPECT_FALSE(exists("t7"));
}

TEST_F(AtomGc, AtomModeSpacingClasses)
{
  double minus_one_half = -1.5;
  TAGGED neg_float = make_float(&w, minus_one_half);
  TAGGED pos_float = make_float(&w, 2.5);
  TAGGED neg_big = make_integer_term(&w, -(VR_int64(1) << 40));
  TAGGED pos_big = make_integer_term(&w, VR_int64(1) << 40);
  struct { TAGGED constant; int left, right; const char *what; } cases[] = {
      {MakeSmall_checked(-3), 2, 0, "-3"},
      {MakeSmall_checked(7), 0, 0, "7"},
      {neg_float, 2, 0, "-1.5"},
      {pos_float, 0, 0, "2.5"},
      {neg_big, 2, 0, "-2^40"},
      {pos_big, 0, 0, "2^40"},
      {MakeAtom(atom_plus_enum), 2, 2, "+"},
      {make("Abc"), 1, 1, "Abc"},
      {make("abc"), 0, 0, "abc"},
      {atom_nil, 4, 4, "[]"},
      {MakeAtom(atom_bang_enum), 4, 4, "!"},
      {MakeAtom(atom_empty_enum), 1, 1, "''"},
  };
  for (auto c : cases) {
    TAGGED left = new_var(), right = new_var();
    ASSERT_EQ(call(prolog_atom_mode, {c.constant, left, right}), 1) << c.what;
    EXPECT_EQ(deref(left), MakeSmall_checked(c.left)) << "Left of " << c.what;
    EXPECT_EQ(deref(right), MakeSmall_checked(c.right)) << "Right of " << c.what;
  }
  EXPECT_EQ(call(prolog_atom_mode, {MakeSmall_checked(-3), MakeSmall_checked(2), MakeSmall_checked(0)}), 1);
  EXPECT_EQ(call(prolog_atom_mode, {MakeSmall_checked(-3), MakeSmall_checked(0), new_var()}), 0)
      << "a Left that does not match must fail";
  EXPECT_EQ(call(prolog_atom_mode, {MakeAtom(atom_plus_enum), new_var(), MakeSmall_checked(0)}), 0)
      << "a Right that does not match must fail";
}

TEST_F(AtomGc, ReplaceSuffix)
{
  struct { const char *path, *suffix, *new_path, *old_suffix; } cases[] = {
      {"foo.pl", ".po", "foo.po", ".pl"},
      {"foo", ".pl", "foo.pl", ""},
      {"dir.d/foo", ".pl", "dir.d/foo.pl", ""},
      {"/a/b.c.d", "", "/a/b.c", ".d"},
      {".profile", ".bak", ".bak", ".profile"},
      {"caf\xC3\xA9.txt", ".t\xC3\xA9", "caf\xC3\xA9.t\xC3\xA9", ".txt"},
  };
  for (auto c : cases) {
    TAGGED new_path = new_var(), old_suffix = new_var();
    ASSERT_EQ(call(prolog_replace_suffix, {make(c.path), make(c.suffix), new_path, old_suffix}), 1) << c.path;
    EXPECT_EQ(std::string(atom_name(deref(new_path))), c.new_path) << "NewPath of " << c.path;
    EXPECT_EQ(std::string(atom_name(deref(old_suffix))), c.old_suffix) << "OldSuffix of " << c.path;
  }
  EXPECT_EQ(call(prolog_replace_suffix, {make("x.pl"), make(".po"), make("x.pl"), new_var()}), 0)
      << "NewPath mismatch must fail";
  EXPECT_EQ(call(prolog_replace_suffix, {make("x.pl"), make(".po"), new_var(), make(".c")}), 0)
      << "OldSuffix mismatch must fail";
  EXPECT_EQ(call(prolog_replace_suffix, {MakeSmall_checked(1), make(".po"), new_var(), new_var()}), 0);
}

TEST_F(AtomGc, FullTableIsAFault)
{
  EXPECT_DEATH(
      {
        eglobal->atom_count = MAX_ATOM_COUNT;
        make("one_too_many");
      },
      "the atom table is full");
}
