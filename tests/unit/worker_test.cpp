// The worker's initial engine state, its release and its replacement.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "atoms.h"
#include "globref.h"
#include "initial_atoms.h"
#include "numstack.h"
#include "stacks.h"
#include "unify.h"
#include "worker_fixture.h"

namespace {

using Worker = WorkerFixture;

TEST_F(Worker, BottomEnvironmentAndChoicepoint)
{
  // The bottom environment: no parent, no continuation; locals start after
  // its two header words.
  frame *e = reinterpret_cast<frame *>(w->stack_start);
  EXPECT_EQ(w->frame_, e);
  EXPECT_EQ(e->frame_, nullptr);
  EXPECT_EQ(e->next_insn, nullptr);
  EXPECT_EQ(w->local_top, w->stack_start + 2);

  // The bottom choicepoint: 9 words below choice_start, word by word.
  node *b = w->node_;
  ASSERT_EQ(reinterpret_cast<TAGGED *>(b), w->choice_start - 9);
  EXPECT_EQ(b->next_alt, termcode);
  EXPECT_EQ(b->local_top, w->stack_start + 2);
  EXPECT_EQ(b->global_top, w->heap_start + FLI_PREDEFINED_HEAP_WORDS)
      << "the predefined references' heap words lie below the bottom heap top";
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(b->trail_top),
            reinterpret_cast<std::uintptr_t>(w->trail_start + 1) | 3)
      << "trail mark: trail_start + 1 word with the segment and no-enumeration bits";
  EXPECT_EQ(node_trail_top(b), w->trail_start + 1);
  EXPECT_EQ(b->frame_, e);
  EXPECT_EQ(b->next_insn, exitcode);
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(b->term[i], atom_nil) << "saved argument " << i;
  EXPECT_EQ(node_previous(b), reinterpret_cast<node *>(w->choice_start))
      << "stepping by the alternative's node_offset must land on choice_start";
  EXPECT_EQ(w->current_query, b);
  EXPECT_EQ(w->next_node, b);
}

TEST_F(Worker, RegistersTrailAndFlags)
{
  EXPECT_EQ(w->trail_start[0], 0u);
  EXPECT_EQ(w->trail_top, w->trail_start + 1);
  EXPECT_EQ(w->value_trail, -6);
  EXPECT_EQ(w->global_top, w->heap_start + FLI_PREDEFINED_HEAP_WORDS);
  EXPECT_EQ(w->global_uncond, w->node_->global_top) << "kept equal to the newest choicepoint's heap top";
  EXPECT_EQ(w->local_uncond, w->node_->local_top);
  EXPECT_EQ(w->local_uncond, w->local_top);
  EXPECT_EQ(w->next_insn, failcode);
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(w->term[i], atom_nil) << "argument register " << i;
  EXPECT_EQ(w->current_debugger_local, 4);
  for (int i = 0; i < 32; ++i)
    EXPECT_EQ(w->worker_vars[i], MakeAtom(atom_off_enum)) << "worker variable " << i;
  EXPECT_EQ(w->wake_count, 0u);
  EXPECT_EQ(w->events_disabled, 0);
  EXPECT_EQ(w->fli_data, &w->flidata);
  EXPECT_EQ(w->flidata.excp_flag, 1);
  EXPECT_EQ(w->flidata.term, w->term);
  EXPECT_EQ(w->flidata.fli_stack_start, w->fli_stack_start);
  EXPECT_EQ(w->numstack_top, nullptr) << "no number-stack block current until the first use";
  EXPECT_NE(numstack_first_block(), nullptr);
}

TEST_F(Worker, PredefinedTermReferences)
{
  ASSERT_EQ(w->fli_stack_size, 256);
  ASSERT_EQ(w->fli_stack_index, 10);
  const VR_globref s = w->fli_stack_start;
  for (int i : {0, 1, 2, 3, 4, 9}) {
    const TAGGED t = s[i].term;
    ASSERT_TRUE(IsVar(t)) << "slot " << i << " holds " << std::hex << t;
    EXPECT_EQ(*TagToRef(t), t) << "slot " << i << " must be an unbound heap variable";
    EXPECT_GE(TagToRef(t), w->heap_start);
    EXPECT_LT(TagToRef(t), w->node_->global_top);
  }
  for (int i = FLI_SLOT_CLPFD; i <= FLI_SLOT_RESERVED; ++i) {
    const TAGGED t = s[i].term;
    ASSERT_TRUE(IsStructure(t)) << "slot " << i;
    const TAGGED *m = TagToSTR(t);
    EXPECT_EQ(m[0], functor_Dmutable) << "slot " << i;
    EXPECT_EQ(m[1], MakeSmall_checked(0)) << "slot " << i << " value";
    EXPECT_EQ(m[2], MakeSmall_checked(0)) << "slot " << i << " stamp";
    EXPECT_LE(m + 3, w->node_->global_top);
  }
  for (int i = 0; i < 10; ++i)
    EXPECT_EQ(s[i].gc_word, 0u) << "slot " << i;
}

// Creation runs the later layers' hooks in order and reports their
// failures with the documented codes; a failed creation keeps nothing.
struct HookLog {
  static inline std::string log;
  static inline int queue_result = 0;
  static inline int file_result = 0;
};

struct WorkerHooks : WorkerFixture {
  bool create_in_setup() const override { return false; }
};

TEST_F(WorkerHooks, RunInOrderAndFailuresGiveTheirCodes)
{
  worker_hooks.init_stream_again = [](worker *) { HookLog::log += "streams "; };
  worker_hooks.signals_init = [] { HookLog::log += "signals "; };
  worker_hooks.event_queue_init = [] { HookLog::log += "queue "; return HookLog::queue_result; };
  worker_hooks.init_each_time_file = [] { HookLog::log += "file "; return HookLog::file_result; };
  worker_hooks.bdd_begin = [](worker *) { HookLog::log += "bdd "; };

  struct Case {
    int queue, file;
    bool created;
    int code;
    const char *log;
  };
  const Case cases[] = {
      {0, 0, true, 0, "streams signals queue file bdd "},
      {-7, 0, false, -7, "streams signals queue "},     // the queue's own error
      {0, -1, false, -10001, "streams signals queue file "}, // file state: -10001
  };
  for (const Case &c : cases) {
    HookLog::log.clear();
    HookLog::queue_result = c.queue;
    HookLog::file_result = c.file;
    worker *made = create_worker();
    EXPECT_EQ(made != nullptr, c.created) << c.log;
    EXPECT_EQ(HookLog::log, c.log);
    if (made != nullptr) {
      dealloc_worker(made);
    } else {
      EXPECT_EQ(self_storage_free, 1) << "a failed creation must release the worker";
      EXPECT_EQ(self_storage.heap_start, nullptr);
      EXPECT_EQ(self_storage.fli_stack_start, nullptr);
      // init_each_time itself reports the code.
      std::memset(static_cast<void *>(&self_storage), 0, sizeof self_storage);
      HookLog::log.clear();
      EXPECT_EQ(init_each_time(&self_storage), c.code);
      dealloc_worker(&self_storage);
    }
  }
  EXPECT_EQ(eglobal->mm.mm_bins[MM_BIN_STACK], 0u) << "stack blocks left behind";
}

TEST_F(Worker, DeallocReleasesEverythingAndClearsSelf)
{
  const std::size_t stack_before = eglobal->mm.mm_bins[MM_BIN_STACK];
  const std::size_t fli_before = eglobal->mm.mm_bins[MM_BIN_FLI_STACK];
  EXPECT_GT(stack_before, 0u);
  EXPECT_EQ(fli_before, 256u * 8) << "FLI stack space holds the term-reference stack";
  ASSERT_EQ(self, w);
  dealloc_worker(w);
  EXPECT_EQ(self, nullptr);
  EXPECT_EQ(self_storage_free, 1);
  EXPECT_EQ(w->node_, nullptr);
  EXPECT_EQ(w->fli_stack_start, nullptr);
  EXPECT_EQ(eglobal->mm.mm_bins[MM_BIN_STACK], 0u);
  EXPECT_EQ(eglobal->mm.mm_bins[MM_BIN_FLI_STACK], 0u);
  EXPECT_EQ(numstack_first_block(), nullptr);
}

TEST_F(Worker, CreateDoesNotChangeSelfAndReinitializeReplacesTheWorker)
{
  set_current_worker(nullptr);
  dealloc_worker(w);
  w = create_worker();
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(get_current_worker(), nullptr) << "the caller makes the worker current";
  set_current_worker(w);

  // Dirty the state as a run would, then abort.
  w->term[0] = MakeSmall_checked(5);
  w->worker_vars[3] = atom_nil;
  VR_new_term_refs(300);
  // Before start-up has finished, an abort ends the start-up: nothing is
  // rebuilt.
  ASSERT_EQ(VR_prolog_initialized, 0);
  reinitialize(w);
  EXPECT_EQ(w->term[0], MakeSmall_checked(5)) << "reinitialised before start-up finished";
  EXPECT_EQ(w->fli_stack_index, 310);
  VR_prolog_initialized = 1;
  reinitialize(nullptr);  // null: the current worker
  VR_prolog_initialized = 0;
  ASSERT_EQ(get_current_worker(), &self_storage);
  w = get_current_worker();
  EXPECT_EQ(w->term[0], atom_nil);
  EXPECT_EQ(w->worker_vars[3], MakeAtom(atom_off_enum));
  EXPECT_EQ(w->fli_stack_index, 10);
  EXPECT_EQ(w->fli_stack_size, 256);
  EXPECT_EQ(eglobal->mm.mm_bins[MM_BIN_FLI_STACK], 256u * 8) << "the grown stack must have been freed";
  EXPECT_EQ(w->node_, reinterpret_cast<node *>(w->choice_start - 9));
}

// Binding the first heap cell reads the word before it to tell a
// constrained variable; that word is the block's guard, never -1, so no
// wake-up is counted for a plain variable.
TEST_F(Worker, FirstHeapCellIsNotMistakenForAConstrainedVariable)
{
  ASSERT_LT(heap_block_start(w), w->heap_start) << "the guard must lie inside the block";
  EXPECT_NE(w->heap_start[-1], CVA_MARKER);
  const TAGGED first = w->fli_stack_start[0].term;
  ASSERT_EQ(TagToRef(first), w->heap_start) << "slot 0's variable is the first heap cell";
  TAGGED *const soft = w->heap_warn_soft;
  bind(w, first, atom_nil);
  EXPECT_EQ(*w->heap_start, atom_nil);
  EXPECT_EQ(w->wake_count, 0u) << "a plain variable was counted as a wake-up";
  EXPECT_EQ(w->heap_warn_soft, soft);
}

} // namespace
