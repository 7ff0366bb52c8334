// A runtime brought up by the production start-up, for tests of what
// start-up wires: the hooks it installs, the atom collector running by
// itself, the abort point.  RuntimeFixture starts it with its library
// (runtime_start, the start every program uses); tests that need no
// Prolog code start it without a boot state (vr_glue_initialize with
// option bit 0 clear).  Both are taken down by VR_deinitialize, which
// leaves the process ready for the next start, so other suites still pass
// when the whole binary runs in one process.
#ifndef TRELIX_TESTS_RUNTIME_FIXTURE_H
#define TRELIX_TESTS_RUNTIME_FIXTURE_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "atoms.h"
#include "compiler.h"
#include "datadefs.h"
#include "errors.h"
#include "fli.h"
#include "memman.h"
#include "modules.h"
#include "operators.h"
#include "predicates.h"
#include "preds.h"
#include "runtime_boot.h"
#include "stack_growth.h"
#include "wam.h"
#include "wamsup.h"
#include "worker.h"

// The runtime without a boot state: the worker, or null.
inline worker *start_runtime_without_library()
{
  if (vr_glue_initialize(0, nullptr, nullptr, nullptr, nullptr, 0, 0) != 1)
    return nullptr;
  return self;
}

// Takes down whatever start-up brought up, however far it got.
inline void take_runtime_down() { runtime_stop(); }

struct RuntimeFixture : ::testing::Test {
  worker *w = nullptr;

  void SetUp() override
  {
    ASSERT_EQ(runtime_start(0, nullptr), 1);
    w = self;
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
