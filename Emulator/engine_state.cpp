/* engine_state.cpp: static storage of the engine's global record and of
 * the one worker, and the worker's life cycle: creation with the initial
 * engine state, release, and replacement after an abort.
 *
 * Everything here is zero at process start.  The initial state laid down
 * by init_each_time is what the emulator, the collectors and the query
 * interface start from: a bottom environment at stack_start, a bottom
 * choicepoint of 9 words just below choice_start whose alternative ends
 * the outermost query, an empty trail whose first word is 0, and the
 * predefined term references.
 *
 * Callers: start-up (create_worker, set_current_worker), the abort path
 * (reinitialize, through vr_reinitialize_hook), shutdown (dealloc_worker).
 */
#include <cstring>

#include "atoms.h"
#include "datadefs.h"
#include "globref.h"
#include "initial_atoms.h"
#include "memman.h"
#include "numstack.h"
#include "stacks.h"
#include "wamsup.h"
#include "worker.h"

engine_global eglobal_storage;
int VR_prolog_initialized = 0;

worker self_storage;
int self_storage_free = 1;
/* Code written before start-up creates the worker (tests, tools) finds the
   static record here; create_worker does not change `self`. */
worker *self = &self_storage;

worker_init_hooks worker_hooks;

worker *get_current_worker(void) { return self; }

void set_current_worker(worker *w) { self = w; }

int init_each_time(worker *w)
{
  init_stacks(w);
  numstack_init(w);
  atom_buffer_init();
  w->current_debugger_local = 4;

  /* The bottom environment: no parent, no continuation. */
  frame *e = reinterpret_cast<frame *>(w->stack_start);
  e->frame_ = nullptr;
  e->next_insn = nullptr;
  w->frame_ = e;
  w->local_top = w->stack_start + FRAME_HEADER_WORDS;

  w->trail_start[0] = 0;
  w->trail_top = w->trail_start + 1;
  w->global_top = w->heap_start;

  /* The bottom choicepoint: backtracking into it ends the outermost query.
     Its trail mark is a segment boundary for the collector and says that
     nothing below enumerates clauses. */
  node *b = reinterpret_cast<node *>(w->choice_start - BOTTOM_NODE_WORDS);
  b->next_alt = termcode;
  b->local_top = w->local_top;
  b->global_top = w->heap_start;
  b->trail_top = reinterpret_cast<TAGGED *>(reinterpret_cast<std::uintptr_t>(w->trail_start + 1) |
                                            NODE_SEGMENT_MARK | NODE_NO_ENUMERATION);
  b->frame_ = e;
  b->next_insn = exitcode;
  for (unsigned i = 0; i < BOTTOM_NODE_WORDS - NODE_HEADER_WORDS; ++i)
    b->term[i] = atom_nil;
  w->node_ = b;
  w->current_query = b;
  /* A cut before the first call cuts back to the bottom. */
  w->next_node = b;

  w->value_trail = VALUE_TRAIL_EMPTY;
  w->global_uncond = w->global_top;
  w->local_uncond = w->local_top;
  w->next_insn = failcode;
  w->term[0] = w->term[1] = w->term[2] = atom_nil;

  if (worker_hooks.init_stream_again != nullptr)
    worker_hooks.init_stream_again(w);
  for (TAGGED &v : w->worker_vars)
    v = MakeAtom(atom_off_enum);
  if (worker_hooks.signals_init != nullptr)
    worker_hooks.signals_init();
  if (worker_hooks.event_queue_init != nullptr) {
    int code = worker_hooks.event_queue_init();
    if (code < 0)
      return code;
  }
  if (worker_hooks.init_each_time_file != nullptr && worker_hooks.init_each_time_file() < 0)
    return INIT_FILE_STATE_FAILED;
  if (worker_hooks.bdd_begin != nullptr)
    worker_hooks.bdd_begin(w);
  fli_stack_init(w);
  w->flidata.excp_flag = 1;
  return 0;
}

worker *create_worker(void)
{
  worker *w = &self_storage;
  self_storage_free = 0;
  std::memset(static_cast<void *>(w), 0, sizeof *w);
  if (init_each_time(w) < 0) {
    /* A failed start-up or re-initialisation must not keep the blocks. */
    dealloc_worker(w);
    return nullptr;
  }
  return w;
}

void dealloc_worker(worker *w)
{
  w->node_ = nullptr;
  deinit_stacks(w);
  numstack_deinit();
  w->numstack_top = nullptr;
  w->numstack_end = nullptr;
  if (worker_hooks.bdd_end != nullptr)
    worker_hooks.bdd_end(w);
  if (self == w)
    self = nullptr;
  fli_stack_deinit(w);
  self_storage_free = 1;
}

void reinitialize(worker *w)
{
  /* Before start-up has finished there is no engine to rebuild: the abort
     ends the start-up itself. */
  if (!VR_prolog_initialized)
    return;
  if (w == nullptr)
    w = self;
  memman_reinit(&eglobal->mm);
  numstack_deinit();
  atom_buffer_remove();
  if (worker_hooks.event_queue_free != nullptr)
    worker_hooks.event_queue_free();
  if (worker_hooks.setof_free != nullptr)
    worker_hooks.setof_free();
  if (w != nullptr && !self_storage_free)
    dealloc_worker(w);
  worker *fresh = create_worker();
  set_current_worker(fresh);
  trimcore(fresh, 1);
}
