// A running memory manager, the canned code and a freshly created worker,
// for the worker, stack and reference tests.  Everything is put back in
// TearDown, so the suites also pass when the whole binary runs in one
// process: the worker is released, `self` points at the (cleared) static
// record again and the size settings the tests touched are unset.
#ifndef TRELIX_TESTS_WORKER_FIXTURE_H
#define TRELIX_TESTS_WORKER_FIXTURE_H

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "atoms.h"
#include "datadefs.h"
#include "memman.h"
#include "preds.h"
#include "wamsup.h"
#include "worker.h"

struct WorkerFixture : ::testing::Test {
  worker *w = nullptr;

  static constexpr const char *size_settings[] = {"GLOBALSTKSIZE", "LOCALSTKSIZE", "CHOICESTKSIZE",
                                                  "TRAILSTKSIZE", "GROWTHFACTOR"};

  static void clear_settings()
  {
    for (const char *name : size_settings)
      unsetenv(name);
  }

  // Settings must be in place before the worker is made: tests that need
  // some call start() themselves after setenv.
  virtual bool create_in_setup() const { return true; }

  void SetUp() override
  {
    clear_settings();
    ASSERT_EQ(memman_init(), 0);
    std::memset(&preds, 0, sizeof preds);
    ASSERT_EQ(init_wamsup(), 1);
    if (create_in_setup())
      start();
  }

  void start()
  {
    w = create_worker();
    ASSERT_NE(w, nullptr) << "create_worker failed";
    set_current_worker(w);
  }

  void TearDown() override
  {
    if (w != nullptr && !self_storage_free)
      dealloc_worker(w);
    w = nullptr;
    atom_buffer_remove();  // creation made them; only shutdown frees them
    deinit_wamsup();
    std::memset(&preds, 0, sizeof preds);
    memman_deinit();
    // numstack_init installed these; the manager's own tests expect none.
    mm_free_numstack_hook = nullptr;
    mm_init_numstack_hook = nullptr;
    std::memset(static_cast<void *>(&self_storage), 0, sizeof self_storage);
    set_current_worker(&self_storage);
    worker_hooks = worker_init_hooks{};
    clear_settings();
  }
};

#endif
