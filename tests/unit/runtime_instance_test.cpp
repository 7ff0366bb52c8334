// What the production start-up wires, seen through the paths production
// takes: the runtime counts as initialised once its library is loaded, so
// atom creation collects by itself; stored terms held by engine variables
// and the stored exception keep their atoms; trimming at level 2 gives
// stack space back; an abort after start-up rebuilds the worker; and a
// fatal fault during start-up fails the start-up instead of ending the
// process.
#include <gtest/gtest.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <string>
#include <vector>

#include "exception_store.h"
#include "globref.h"
#include "initial_atoms.h"
#include "instance.h"
#include "runtime_fixture.h"
#include "stacks.h"
#include "terms.h"
#include "threads.h"

namespace {

TEST(StartUp, WithoutABootStepTheRuntimeIsNotInitialised)
{
  worker *w = runtime_instance_start();
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(vr_prolog_initialized, 0);
  EXPECT_EQ(is_in_main_thread(), 1) << "start-up records the thread that runs it";
  take_runtime_down();
}

// A boot step that makes atoms until the table is full: the fault comes
// back to start-up's abort point, start-up fails with the fault's message
// and the process goes on.
int fill_the_atom_table(worker *, void *)
{
  char name[32];
  for (unsigned i = 0;; ++i) {
    std::snprintf(name, sizeof name, "boot_%u", i);
    init_atom_check(name, 0);
  }
}

TEST(StartUp, AFaultDuringStartUpFailsItInsteadOfEndingTheProcess)
{
  ::testing::internal::CaptureStderr();
  worker *w = runtime_instance_start(fill_the_atom_table, nullptr);
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(w, nullptr);
  EXPECT_NE(err.find("the atom table is full"), std::string::npos) << err;
  EXPECT_EQ(vr_prolog_initialized, 0);
  take_runtime_down();
}

using Runtime = RuntimeFixture;

TEST_F(Runtime, LoadingTheLibraryInitialisesTheRuntimeAndAtomsAreCollectedUnasked)
{
  ASSERT_EQ(vr_prolog_initialized, 1);
  const std::int64_t runs = eglobal->stats.agc_count;
  // One more atom than the margin leaves room for makes the count reach
  // the limit.
  const std::uint32_t room = eglobal->atom_count_limit - eglobal->atom_count;
  char name[32];
  for (std::uint32_t i = 0; i <= room; ++i) {
    std::snprintf(name, sizeof name, "unasked_%u", i);
    atom(name);
  }
  EXPECT_EQ(eglobal->stats.agc_count, runs + 1) << "reaching the limit must collect";
  EXPECT_FALSE(exists("unasked_0")) << "a garbage atom survived the collection";
}

// The image of [_ | f(Name)] with Name a fresh atom that nothing else holds.
instance *stored_term_with_new_atom(worker *w, const char *name)
{
  TAGGED *h = w->global_top;
  w->global_top += 4;
  h[0] = PointerToTerm(&h[0]);
  h[1] = MakeSTR(&h[2]);
  h[2] = MakeFunctor(init_atom_check("f", 0), 1);
  h[3] = init_atom_check(name, 0);
  instance *ins = compile_term(w, MakeLST(h), 0);
  w->global_top = h;
  return ins;
}

TEST_F(Runtime, StoredTermsInEngineVariablesKeepTheirAtoms)
{
  // A worker variable and a global variable each hold a stored term (its
  // instance's address plus 1), as the debugger's auxiliary slots do.
  instance *in_worker = stored_term_with_new_atom(w, "held_by_a_worker_var");
  instance *in_global = stored_term_with_new_atom(w, "held_by_a_global_var");
  w->worker_vars[5] = reinterpret_cast<TAGGED>(in_worker) + 1;
  eglobal->global_vars[2] = reinterpret_cast<TAGGED>(in_global) + 1;
  atom("held_by_nothing");
  prolog_garbage_collect_atoms(w);
  EXPECT_TRUE(exists("held_by_a_worker_var"));
  EXPECT_TRUE(exists("held_by_a_global_var"));
  EXPECT_FALSE(exists("held_by_nothing"));
  w->worker_vars[5] = eglobal->global_vars[2] = MakeAtom(atom_off_enum);
  checkdealloc(in_worker, in_worker->objsize, mm_code(MM_BIN_INSTANCE));
  checkdealloc(in_global, in_global->objsize, mm_code(MM_BIN_INSTANCE));
}

TEST_F(Runtime, TheStoredExceptionKeepsItsAtoms)
{
  TAGGED *h = w->global_top;
  w->global_top += 2;
  h[0] = MakeFunctor(atom("ball"), 1);
  h[1] = atom("thrown_and_not_yet_caught");
  w->term[0] = MakeSTR(h);
  ASSERT_EQ(prolog_store_exception(w), 1);
  w->global_top = h;
  w->term[0] = atom_nil;
  prolog_garbage_collect_atoms(w);
  ASSERT_TRUE(exists("thrown_and_not_yet_caught"));
  const TAGGED ball = load_stored_exception(w);
  ASSERT_TRUE(IsStructure(ball));
  EXPECT_EQ(TagToSTR(ball)[1], atom("thrown_and_not_yet_caught"));
  erase_stored_exception();
}

TEST_F(Runtime, TrimLevelTwoGivesBackTheStackSpaceNotInUse)
{
  // A term that must survive the moves, held by a global reference.
  VR_globref held = VR_alloc_globrefs(1);
  TAGGED *h = w->global_top;
  w->global_top += 3;
  h[0] = MakeFunctor(atom("kept"), 2);
  h[1] = MakeSmall_checked(42);
  h[2] = atom("across_the_shrink");
  held->term = MakeSTR(h);

  const auto trail_bytes = [&] { return static_cast<std::size_t>(w->trail_end - w->trail_start) * sizeof(TAGGED); };
  const std::size_t heap0 = heap_block_bytes(w), trail0 = trail_bytes();
  heap_overflow(w, static_cast<int>(w->heap_end - w->heap_start) + 100000, 528);
  choice_overflow(w, -50000);
  const std::size_t heap1 = heap_block_bytes(w), trail1 = trail_bytes();
  ASSERT_GT(heap1, heap0);
  ASSERT_GT(trail1, trail0);
  trimcore(w, 1);
  EXPECT_EQ(heap_block_bytes(w), heap1) << "level 1 does not touch the stacks";
  EXPECT_EQ(trail_bytes(), trail1) << "level 1 does not touch the stacks";

  // What the stacks use plus their margins, as a valid stack size, but
  // never below the sizes start-up gave them.
  const int heap_words = static_cast<int>(w->global_top - w->heap_start) + 1152;
  const int local_words = static_cast<int>(w->local_top - w->stack_start) + 528;
  const std::size_t heap_want = std::max<std::size_t>(
      eglobal->min_heap, adjust_stack_size(static_cast<std::size_t>(heap_block_words(heap_words, local_words)) * 4));
  const long choice_words = static_cast<long>(w->trail_top - w->trail_start) +
                            static_cast<long>(w->choice_start - reinterpret_cast<TAGGED *>(w->node_)) -
                            w->value_trail + 512;
  const std::size_t trail_want = std::max<std::size_t>(
      eglobal->min_choice,
      adjust_stack_size(static_cast<std::size_t>(required_choice_size(static_cast<int>(choice_words))) * 4));
  ASSERT_LT(heap_want, heap1);
  ASSERT_LT(trail_want, trail1);
  trimcore(w, 2);
  EXPECT_EQ(heap_block_bytes(w), heap_want) << "the heap-and-local block keeps only what it uses";
  EXPECT_EQ(trail_bytes(), trail_want) << "the trail-and-choice block keeps only what it uses";
  const TAGGED *k = TagToSTR(held->term);
  EXPECT_EQ(k[0], MakeFunctor(atom("kept"), 2));
  EXPECT_EQ(k[1], MakeSmall_checked(42));
  EXPECT_EQ(k[2], atom("across_the_shrink"));
  EXPECT_GE(w->stack_start - w->global_top, HEAP_WARN_MARGIN);
  VR_free_globrefs(held);

  // The running system still works on the smaller stacks.
  EXPECT_EQ(run("(length(L, 20000), L = [a|_])"), 1);
}

TEST_F(Runtime, AnAbortAfterStartUpRebuildsTheWorkerAndTheRuntimeGoesOn)
{
  // An embedder's abort point around its own work.
  w->global_top += 100;
  static std::jmp_buf env;
  vr_set_abort_env(&env);
  if (setjmp(env) == 0) {
    VR_raise_fault("a fault of the embedder's work");
    FAIL() << "VR_raise_fault returned";
  }
  EXPECT_STREQ(vr_get_abort_err_ienc(), "a fault of the embedder's work");
  w = self;
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->global_top, w->heap_start + FLI_PREDEFINED_HEAP_WORDS) << "the worker was not rebuilt";
  EXPECT_EQ(w->node_, reinterpret_cast<node *>(w->choice_start - 9));
  EXPECT_EQ(run("(X is 6 * 7, X == 42)"), 1);
}

} // namespace
