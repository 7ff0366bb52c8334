// The interface before the runtime is up: what the functions answer when
// there is no initialised runtime, no event queue or no memory manager yet.
// (The interface with a running runtime is tests/iface.)
#include <gtest/gtest.h>

#include <cstring>

#include "atoms.h"
#include "datadefs.h"
#include "fli.h"
#include "memman.h"
#include "predicates.h"
#include "vostrel/vrio_props.h"

TEST(FliBeforeStartUp, QueriesReportNotInitialised)
{
  ASSERT_EQ(VR_prolog_initialized, 0);
  definition d{};
  vr_errno = 0;
  EXPECT_EQ(VR_query(&d), -1);
  EXPECT_EQ(VR_get_errno(), VR_ERR_NOT_INITIALIZED);
  vr_errno = 0;
  EXPECT_EQ(VR_query_cut_fail(&d), -1);
  EXPECT_EQ(VR_get_errno(), VR_ERR_NOT_INITIALIZED);
  vr_errno = 0;
  EXPECT_EQ(VR_open_query(&d), 0u);
  EXPECT_EQ(VR_get_errno(), VR_ERR_NOT_INITIALIZED);
}

TEST(FliBeforeStartUp, NoEventQueueNoEvents)
{
  EXPECT_EQ(VR_event([](void *) { return 1; }, nullptr), 0);
  EXPECT_EQ(vr_schedule_async_event(nullptr, 2), VRIO_E_INVALID_STATE);
  EXPECT_EQ(VR_sigaction(10, nullptr, nullptr, 0), VRIO_E_INTERNAL_ERROR);
  EXPECT_EQ(VR_sigaction(32, nullptr, nullptr, 0), VRIO_E_PARAMETER_ERROR);
  EXPECT_EQ(VR_raise_signal(10, 4), 0) << "signals are not set up";
  EXPECT_EQ(VR_async_event_DEPRECATED(), VRIO_E_NOT_SUPPORTED);
}

TEST(FliBeforeStartUp, PropertiesIntoACallersBuffer)
{
  setenv("TRELIX_FLI_UNIT_KEY", "0123456789", 1);
  char buf[8];
  std::size_t size = sizeof buf;
  char *value = nullptr;
  EXPECT_EQ(vr_get_system_property_internal("TRELIX_FLI_UNIT_KEY", buf, &size, &value, 0),
            VRIO_E_INSUFFICIENT_BUFFER);
  EXPECT_EQ(size, 11u) << "the size needed, terminator included";
  char big[16];
  size = sizeof big;
  EXPECT_EQ(vr_get_system_property_internal("TRELIX_FLI_UNIT_KEY", big, &size, &value, 0), 0);
  EXPECT_EQ(value, big);
  EXPECT_STREQ(big, "0123456789");
  EXPECT_EQ(vr_get_system_property_internal("TRELIX_FLI_UNIT_KEY", big, &size, &value, VRIO_PROP_NOT_PROCESS),
            VRIO_E_NOT_FOUND) << "only the process environment has it";
  // Without a caller's buffer the value needs the memory manager.
  if (!mem_initialized) {
    EXPECT_EQ(vr_get_system_property_internal("TRELIX_FLI_UNIT_KEY", nullptr, nullptr, &value, 0),
              VRIO_E_INTERNAL_ERROR);
  }
  EXPECT_EQ(vr_getenv_internal("TRELIX_FLI_UNIT_KEY", big, &size, 0), nullptr) << "options 0 read nothing";
  size = sizeof big;
  EXPECT_STREQ(vr_getenv_internal("TRELIX_FLI_UNIT_KEY", big, &size, 1), "0123456789");
  EXPECT_EQ(vr_checkenv("TRELIX_FLI_UNIT_KEY"), 1);
  EXPECT_EQ(vr_checkenv("TRELIX_FLI_UNIT_SURELY_UNSET"), 0);
  unsetenv("TRELIX_FLI_UNIT_KEY");
}

namespace {
int test_init_hook(std::size_t, void *) { return 1; }
void test_deinit_hook(void *) {}
void *test_alloc_hook(std::size_t, std::size_t *, void *) { return nullptr; }
int test_free_hook(void *, std::size_t, int, void *) { return 1; }
} // namespace

TEST(FliBeforeStartUp, MemoryHooksOnlyWhole)
{
  if (mem_initialized)
    GTEST_SKIP() << "the memory manager is already up in this process";
  const memman_hooks saved = memman_get_hooks();
  const int saved_set = memman_user_hooks_set, saved_malloc = vr_use_malloc_option;
  int cookie = 0;
  // A partial set is refused and leaves the hooks as they were.
  vr_errno = 0;
  EXPECT_EQ(VR_set_memalloc_hooks(0, test_init_hook, nullptr, test_alloc_hook, test_free_hook, &cookie), 0);
  EXPECT_EQ(VR_get_errno(), VR_ERR_UNKNOWN);
  EXPECT_EQ(VR_set_memalloc_hooks(1, test_init_hook, nullptr, nullptr, nullptr, nullptr), 0)
      << "the system allocator takes no hooks";
  EXPECT_EQ(memman_get_hooks().init, saved.init);
  // Four hooks: recorded, with their cookie.
  ASSERT_EQ(VR_set_memalloc_hooks(0, test_init_hook, test_deinit_hook, test_alloc_hook, test_free_hook, &cookie), 1);
  memman_hooks h = memman_get_hooks();
  EXPECT_EQ(h.init, test_init_hook);
  EXPECT_EQ(h.free_, test_free_hook);
  EXPECT_EQ(h.cookie, &cookie);
  EXPECT_EQ(memman_user_hooks_set, 1) << "start-up must not put its default back";
  // The system allocator: no hooks at all.
  ASSERT_EQ(VR_set_memalloc_hooks(1, nullptr, nullptr, nullptr, nullptr, nullptr), 1);
  h = memman_get_hooks();
  EXPECT_EQ(h.hints, 1);
  EXPECT_EQ(h.alloc, nullptr);
  memman_set_hooks_raw(saved.hints, saved.init, saved.deinit, saved.alloc, saved.free_, saved.cookie);
  memman_user_hooks_set = saved_set;
  vr_use_malloc_option = saved_malloc;
}

TEST(FliBeforeStartUp, PerResourceStructures)
{
  // A resource's own structure: the default tables, its stash, and the
  // worker's foreign-interface data; the default structure keeps neither.
  vr_fli_info *data = nullptr;
  VREnv own{};
  int stash = 0;
  EXPECT_EQ(init_vrenv(&data, &own, &stash), &data);
  EXPECT_EQ(own.dispatch_API_VOSTREL_H, &dispatch_table_VOSTREL_H);
  EXPECT_EQ(own.dispatch_API_SUPPORT_H, &dispatch_table_SUPPORT_H);
  EXPECT_EQ(own.stash, &stash);
  EXPECT_EQ(own.fli_data, &data);
  VREnv *def = VR_get_dispatch_40103(nullptr);
  EXPECT_EQ(def, &default_vostrel_api_struct);
  EXPECT_EQ(def->stash, nullptr);
  EXPECT_EQ(def->fli_data, nullptr);
}
