// Critical sections and thread identity, from the main thread and from a
// second one: mutual exclusion, the platform's results, and which thread
// start-up records as the engine's.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <thread>

#include "runtime_fixture.h"
#include "threads.h"

namespace {

TEST(CriticalSection, SizeIsThePlatformMutexAndResultsAreThePlatforms)
{
  EXPECT_EQ(vr_size_of_critical_section(), 24);
  vr_critical_section cs;
  EXPECT_EQ(vr_init_critical_section(&cs), 0);
  EXPECT_EQ(vr_enter_critical_section(&cs), 0);
  EXPECT_EQ(pthread_mutex_trylock(&cs), EBUSY) << "entered, yet the mutex is free";
  EXPECT_EQ(vr_exit_critical_section(&cs), 0);
  EXPECT_EQ(pthread_mutex_trylock(&cs), 0) << "left, yet the mutex is held";
  EXPECT_EQ(pthread_mutex_unlock(&cs), 0);
  EXPECT_EQ(vr_deinit_critical_section(&cs), 0);
}

TEST(CriticalSection, ExcludesASecondThread)
{
  vr_critical_section cs;
  ASSERT_EQ(vr_init_critical_section(&cs), 0);
  // Both threads add to a counter in steps that would lose updates if they
  // interleaved: read, yield, write.
  long counter = 0;
  const auto add = [&] {
    for (int i = 0; i < 2000; ++i) {
      vr_enter_critical_section(&cs);
      const long seen = counter;
      std::this_thread::yield();
      counter = seen + 1;
      vr_exit_critical_section(&cs);
    }
  };
  std::thread other(add);
  add();
  other.join();
  EXPECT_EQ(counter, 4000);

  // A section held here keeps the other thread out until it is left.
  std::atomic<int> stage{0};
  ASSERT_EQ(vr_enter_critical_section(&cs), 0);
  std::thread waiter([&] {
    stage = 1;
    vr_enter_critical_section(&cs);
    stage = 2;
    vr_exit_critical_section(&cs);
  });
  while (stage.load() == 0)
    std::this_thread::yield();
  for (int i = 0; i < 1000; ++i)
    std::this_thread::yield();
  EXPECT_EQ(stage.load(), 1) << "the second thread entered a held section";
  ASSERT_EQ(vr_exit_critical_section(&cs), 0);
  waiter.join();
  EXPECT_EQ(stage.load(), 2);
  EXPECT_EQ(vr_deinit_critical_section(&cs), 0);
}

TEST(ThreadIdentity, NoThreadIsTheMainOneBeforeStartUp)
{
  ASSERT_EQ(eglobal->main_thread_set, 0);
  EXPECT_EQ(is_in_main_thread(), 0);
}

TEST(ThreadIdentity, StartUpRecordsItsThreadAsTheMainOne)
{
  ASSERT_NE(start_runtime_without_library(), nullptr);
  const vr_thread_id here = vr_get_current_thread();
  EXPECT_EQ(vr_thread_id_equal(vr_get_main_thread(), here), 1);
  EXPECT_EQ(is_in_main_thread(), 1);

  vr_thread_id there{};
  int there_is_main = -1, main_seen_equal = -1, same_as_here = -1;
  std::thread other([&] {
    there = vr_get_current_thread();
    there_is_main = is_in_main_thread();
    main_seen_equal = vr_thread_id_equal(vr_get_main_thread(), here);
    same_as_here = vr_thread_id_equal(there, here);
  });
  other.join();
  EXPECT_EQ(there_is_main, 0) << "a second thread took itself for the main one";
  EXPECT_EQ(main_seen_equal, 1) << "the main thread looks different from another thread";
  EXPECT_EQ(same_as_here, 0);
  EXPECT_EQ(vr_thread_id_equal(there, there), 1);
  take_runtime_down();
}

} // namespace
