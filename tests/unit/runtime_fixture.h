// A runtime brought up by the production start-up (runtime_instance_start)
// with the runtime library as its boot step, for tests of what start-up
// wires: the hooks it installs, the atom collector running by itself, the
// abort point.  TearDown takes everything down again, so other suites
// still pass when the whole binary runs in one process.
#ifndef TRELIX_TESTS_RUNTIME_FIXTURE_H
#define TRELIX_TESTS_RUNTIME_FIXTURE_H

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "atoms.h"
#include "compiler.h"
#include "datadefs.h"
#include "errors.h"
#include "library.h"
#include "memman.h"
#include "modules.h"
#include "operators.h"
#include "predicates.h"
#include "preds.h"
#include "runtime_instance.h"
#include "stack_growth.h"
#include "wam.h"
#include "wamsup.h"
#include "worker.h"

// Takes down whatever runtime_instance_start brought up, however far it
// got.
inline void take_runtime_down()
{
  runtime_instance_stop();
  consult_reset();
  vr_prolog_initialized = 0;
  vr_set_abort_env(nullptr);
  if (eglobal->user_modules != nullptr) {
    deinit_operators();
    deinit_modules();
  }
  eglobal->current_prompt = 0;
  eglobal->exception = 0;
  eglobal->memory_fault_exception = 0;
  eglobal->atom_table_full_exception = 0;
  deinit_atoms();
  if (!self_storage_free)
    dealloc_worker(self != nullptr ? self : &self_storage);
  atom_buffer_remove();
  deinit_wamsup();
  std::memset(&preds, 0, sizeof preds);
  memman_deinit();
  vr_reinitialize_hook = nullptr;
  vr_push_error_choicepoint = nullptr;
  wam_erase_exception_hook = nullptr;
  prolog_free_hook = nullptr;
  mm_shrink_stacks_hook = nullptr;
  mm_free_numstack_hook = nullptr;
  mm_init_numstack_hook = nullptr;
  std::memset(static_cast<void *>(&self_storage), 0, sizeof self_storage);
  set_current_worker(&self_storage);
  worker_hooks = worker_init_hooks{};
  eglobal->main_thread_set = 0;
}

struct RuntimeFixture : ::testing::Test {
  worker *w = nullptr;

  void SetUp() override
  {
    std::vector<std::string> errors;
    w = runtime_instance_start(runtime_library_boot, &errors);
    for (const std::string &e : errors)
      ADD_FAILURE() << "library: " << e;
    ASSERT_NE(w, nullptr);
  }
  void TearDown() override { take_runtime_down(); }

  static TAGGED atom(const char *text) { return init_atom_check(text, 0); }
  static bool exists(const char *text) { return init_atom_check(text, 1) != 0; }
  // Runs goal text once in user, as an initialization goal would.
  int run(const std::string &goal_text)
  {
    std::vector<std::string> errors;
    consult_text(w, (":- initialization(" + goal_text + ").").c_str(), find_module(atom("user"), 1), &errors);
    return errors.empty() ? 1 : 0;
  }
};

#endif
