/* runtime_instance.cpp: start-up of a runtime instance (see
 * runtime_instance.h).
 */
#include "runtime_instance.h"
#include "saved_state.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>

#include "atoms.h"
#include "datadefs.h"
#include "errors.h"
#include "file_names.h"
#include "fli.h"
#include "gc.h"
#include "indexing.h"
#include "initial_atoms.h"
#include "memman.h"
#include "modules.h"
#include "operators.h"
#include "pred_table.h"
#include "prolog_flags.h"
#include "predicates.h"
#include "preds.h"
#include "stack_growth.h"
#include "stacks.h"
#include "streams.h"
#include "terms.h"
#include "threads.h"
#include "wam.h"
#include "wamsup.h"
#include "worker.h"

namespace {

/* The I/O library is started once and survives a failed start-up, so
   that a retry does not start it again. */
bool vrio_inited = false;

worker *start_steps(runtime_boot_fn boot, void *cookie)
{
  init_main_thread_id();
  if (!vrio_inited) {
    if (vrio_init(nullptr, nullptr, nullptr, 0) < 0) {
      std::fprintf(stderr, "runtime: the I/O services library could not be started\n");
      return nullptr;
    }
    vrio_inited = true;
  }
  if (memman_init() != 0) {
    std::fprintf(stderr, "runtime: memory manager start-up failed\n");
    return nullptr;
  }
  std::memset(&preds, 0, sizeof preds);
  if (!multi_vr_init()) {
    std::fprintf(stderr, "runtime: the shared record of runtime instances could not be made\n");
    return nullptr;
  }
  if (init_wamsup() != 1) {
    std::fprintf(stderr, "runtime: canned code start-up failed\n");
    return nullptr;
  }
  worker_hooks.event_queue_init = event_queue_init;
  worker_hooks.event_queue_free = event_queue_remove;
  worker *w = create_worker();
  if (w == nullptr) {
    std::fprintf(stderr, "runtime: cannot create the worker\n");
    return nullptr;
  }
  set_current_worker(w);
  /* The handler tables must exist before any predicate record is made. */
  wam_body(nullptr, nullptr, nullptr);
  if (init_atoms_once() != 1 || init_modules() != 1) {
    std::fprintf(stderr, "runtime: atom or module table start-up failed\n");
    return nullptr;
  }
  wam_body(w, nullptr, nullptr);
  init_operators();
  /* The system type belongs to the boot-file choice of the real start-up;
     this instance is a runtime system. */
  init_prolog_flags(false);
  if (install_builtins() != 1) {
    std::fprintf(stderr, "runtime: the built-in table could not be installed\n");
    return nullptr;
  }
  vr_reinitialize_hook = reinitialize;
  mm_shrink_stacks_hook = shrink_stacks;
  install_gc_hooks();
  init_fd_hooks();
  if (init_once_file() != 1 || init_stream() != 1) {
    std::fprintf(stderr, "runtime: the file and stream layers could not be started\n");
    return nullptr;
  }
  if (boot == nullptr)
    return w;
  if (boot(w, cookie) != 1) {
    std::fprintf(stderr, "runtime: the runtime's own code could not be loaded\n");
    return nullptr;
  }
  vr_prolog_initialized = 1;
  return w;
}

} // namespace

worker *runtime_instance_start(runtime_boot_fn boot, void *cookie)
{
  std::jmp_buf env;
  if (setjmp(env) != 0) {
    /* The fault cleared the abort point on its way here. */
    std::fprintf(stderr, "runtime: start-up failed: %s\n", vr_get_abort_err_ienc());
    return nullptr;
  }
  vr_set_abort_env(&env);
  worker *w = start_steps(boot, cookie);
  vr_set_abort_env(nullptr);
  return w;
}

void runtime_instance_stop(void)
{
  /* Work items handed over by the library's threads run first; then every
     stream is flushed and closed. */
  if (vrio_inited)
    vrio_run_work_items(0);
  vr_test_and_clear_hard_interrupt();
  free_stream_event_listeners();
  deinit_stream();
  deinit_once_file();
  if (vrio_inited) {
    vrio_init(nullptr, nullptr, nullptr, 1);
    vrio_inited = false;
  }
}
