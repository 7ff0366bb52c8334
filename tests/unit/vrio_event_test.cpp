// Events, waits on several events, the event listener, work items and
// interrupts: interrupts break the main thread's waits (also from a signal
// handler, also while the library shuts down), and work items scheduled by
// many threads all reach the main thread once.
#include <gtest/gtest.h>

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "vostrel/vrio.h"
#include "vrio_fixture.h"

namespace {

using VrioEvent = VrioLibrary;
using VrioInterrupt = VrioLibrary;
using VrioWorkItem = VrioLibrary;
using VrioListener = VrioLibrary;
using clock_type = std::chrono::steady_clock;

const vrio_t_timespec zero = {0, 0};

TEST_F(VrioEvent, SetResetQuery)
{
  vrio_t_event *e;
  ASSERT_EQ(vrio_event_new(1, &e), VRIO_S_NOERR);
  EXPECT_EQ(vrio_event_query(e), 1) << "made set";
  ASSERT_EQ(vrio_event_set(e), VRIO_S_NOERR);
  ASSERT_EQ(vrio_event_reset(e), VRIO_S_NOERR);
  EXPECT_EQ(vrio_event_query(e), 0) << "set twice, reset once";
  for (int i = 0; i < 100000; ++i)
    ASSERT_EQ(vrio_event_set(e), VRIO_S_NOERR) << "set " << i << " times";
  EXPECT_EQ(vrio_event_query(e), 1);
  ASSERT_EQ(vrio_event_reset(e), VRIO_S_NOERR);
  EXPECT_EQ(vrio_event_query(e), 0) << "one reset drains a full pipe";
  EXPECT_EQ(vrio_event_free(e), VRIO_S_NOERR);
  EXPECT_EQ(vrio_event_free(nullptr), VRIO_S_NOERR);
}

TEST_F(VrioEvent, ZeroTimeoutsOnlyLook)
{
  vrio_t_event *e;
  ASSERT_EQ(vrio_event_new(0, &e), VRIO_S_NOERR);
  auto start = clock_type::now();
  EXPECT_EQ(vrio_event_wait(&e, 1, &zero), VRIO_E_TIMEOUT);
  EXPECT_EQ(vrio_event_wait(nullptr, 0, &zero), VRIO_E_TIMEOUT);
  vrio_t_event *none[2] = {nullptr, nullptr};
  EXPECT_EQ(vrio_event_wait(none, 2, &zero), VRIO_E_TIMEOUT);
  EXPECT_LT(clock_type::now() - start, std::chrono::milliseconds(500));
  vrio_t_timespec half_us = {0, 500};
  start = clock_type::now();
  EXPECT_EQ(vrio_event_wait(&e, 1, &half_us), VRIO_E_TIMEOUT);
  EXPECT_GE(clock_type::now() - start, std::chrono::microseconds(900)) << "one millisecond";
  vrio_t_timespec negative = {-1, 0};
  EXPECT_EQ(vrio_event_wait(&e, 1, &negative), VRIO_E_PARAMETER_ERROR)
      << "a negative time-out must not wait for ever";
  vrio_t_timespec huge = {2147484, 0};
  EXPECT_EQ(vrio_event_wait(&e, 1, &huge), VRIO_E_PRIVATE_ERROR_1);
  vrio_event_free(e);
}

TEST_F(VrioEvent, WaitingOnSeveralGivesTheSetOnesOrTheTimeout)
{
  vrio_t_event *e[4];
  for (auto &x : e)
    ASSERT_EQ(vrio_event_new(0, &x), VRIO_S_NOERR);
  vrio_t_timespec t = ms(30);
  EXPECT_EQ(vrio_event_wait(e, 4, &t), VRIO_E_TIMEOUT);
  std::thread setter([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    vrio_event_set(e[2]);
  });
  vrio_t_timespec long_wait = {20, 0};
  EXPECT_EQ(vrio_event_wait(e, 4, &long_wait), 1);
  setter.join();
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(vrio_event_query(e[i]), i == 2 ? 1 : 0) << i;
  vrio_event_set(e[0]);
  vrio_t_event *with_null[5] = {e[0], nullptr, e[1], e[2], e[3]};
  EXPECT_EQ(vrio_event_wait(with_null, 5, nullptr), 2);
  for (auto x : e)
    vrio_event_free(x);
}

TEST_F(VrioEvent, DescriptorEvents)
{
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  vrio_t_event *readable, *writable;
  ASSERT_EQ(vrio_fd_event_new(fds[0], -1, 0, &readable), VRIO_S_NOERR);
  ASSERT_EQ(vrio_fd_event_new(-1, fds[1], 0, &writable), VRIO_S_NOERR);
  EXPECT_EQ(vrio_event_query(readable), 0);
  EXPECT_EQ(vrio_event_query(writable), 1);
  EXPECT_EQ(vrio_event_set(readable), VRIO_E_NOT_SUPPORTED);
  EXPECT_EQ(vrio_event_reset(readable), VRIO_E_NOT_SUPPORTED);
  ASSERT_EQ(write(fds[1], "x", 1), 1);
  EXPECT_EQ(vrio_event_query(readable), 1);
  vrio_t_event *both[2] = {readable, writable};
  EXPECT_EQ(vrio_event_wait(both, 2, &zero), 2);
  vrio_event_free(readable);
  vrio_event_free(writable);
  EXPECT_EQ(write(fds[1], "y", 1), 1) << "the descriptors stay open";
  close(fds[0]);
  close(fds[1]);
}

TEST_F(VrioEvent, ReferenceCount)
{
  vrio_t_event *e;
  ASSERT_EQ(vrio_event_new(0, &e), VRIO_S_NOERR);
  vrio_t_error_code rc = vrio_add_event_listener(e, [](void *, vrio_t_bits) {
    return VRIO_S_NOERR;
  }, nullptr); // holds a second reference
  ASSERT_EQ(rc, VRIO_S_NOERR);
  EXPECT_EQ(vrio_event_free(e), 1) << "one reference remains";
  EXPECT_EQ(vrio_remove_event_listener(e, nullptr, nullptr), VRIO_S_NOERR); // drops it
}

// Twelve events need more than the fixed poll array: the main thread
// allocates one, other threads are refused.
TEST_F(VrioEvent, ManyEvents)
{
  vrio_t_event *e[12];
  for (auto &x : e)
    ASSERT_EQ(vrio_event_new(0, &x), VRIO_S_NOERR);
  vrio_event_set(e[11]);
  EXPECT_EQ(vrio_event_wait(e, 12, nullptr), 1);
  vrio_t_error_code elsewhere = VRIO_S_NOERR, ten = VRIO_S_NOERR;
  std::thread([&] {
    elsewhere = vrio_event_wait(e, 12, nullptr);
    ten = vrio_event_wait(e + 2, 10, nullptr);
  }).join();
  EXPECT_EQ(elsewhere, VRIO_E_INSUFFICIENT_BUFFER);
  EXPECT_EQ(ten, 1) << "ten fit";
  for (auto x : e)
    vrio_event_free(x);
}

// Four threads pass a token round a ring of events; every hand-over must
// wake the next thread, or the ring stops and the waits time out.
TEST_F(VrioEvent, TokenRingUnderContention)
{
  constexpr int threads = 4;
  const int rounds = contention_items / 500;
  vrio_t_event *ring[threads];
  for (auto &x : ring)
    ASSERT_EQ(vrio_event_new(0, &x), VRIO_S_NOERR);
  std::atomic<int> hand_overs{0}, failures{0};
  std::vector<std::thread> ts;
  for (int i = 0; i < threads; ++i)
    ts.emplace_back([&, i] {
      vrio_t_timespec patience = {20, 0};
      for (int r = 0; r < rounds; ++r) {
        if (vrio_event_wait(&ring[i], 1, &patience) != 1) {
          failures++;
          vrio_event_set(ring[(i + 1) % threads]);
          return;
        }
        vrio_event_reset(ring[i]);
        hand_overs++;
        vrio_event_set(ring[(i + 1) % threads]);
      }
    });
  vrio_event_set(ring[0]);
  for (auto &t : ts)
    t.join();
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(hand_overs, threads * rounds);
  for (auto x : ring)
    vrio_event_free(x);
}

// Interrupts.

struct hook_log {
  std::mutex m;
  std::vector<vrio_t_bits> options;
  std::atomic<int> passes{0};
};
hook_log hooks;

void record_hook(void *cookie, vrio_t_bits options)
{
  auto *log = static_cast<hook_log *>(cookie);
  std::lock_guard<std::mutex> guard(log->m);
  log->options.push_back(options);
  if (options != 1)
    log->passes++;
}

void wait_for_passes(int n)
{
  for (int i = 0; i < 20000 && hooks.passes < n; ++i)
    std::this_thread::sleep_for(std::chrono::microseconds(100));
}

TEST_F(VrioInterrupt, AnInterruptBreaksTheMainThreadsBlockingWait)
{
  vrio_t_event *e;
  ASSERT_EQ(vrio_event_new(0, &e), VRIO_S_NOERR);
  std::thread interrupter([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    vrio_interrupt(0);
  });
  EXPECT_EQ(vrio_event_wait(&e, 1, nullptr), VRIO_E_INTERRUPTED);
  interrupter.join();
  EXPECT_GE(vrio_run_work_items(0), 1) << "the reset-interrupt item";
  vrio_t_timespec t = ms(30);
  EXPECT_EQ(vrio_event_wait(&e, 1, &t), VRIO_E_TIMEOUT) << "the interrupt is cleared";
  vrio_event_free(e);
}

std::atomic<int> handler_calls;

void interrupting_handler(int)
{
  handler_calls++;
  vrio_interrupt(0);
}

TEST_F(VrioInterrupt, FromASignalHandler)
{
  SKIP_SIGNAL_DELIVERY_UNDER_EMULATOR();
  struct sigaction sa = {}, old;
  sa.sa_handler = interrupting_handler;
  sigaction(SIGUSR1, &sa, &old);
  pthread_t main_thread = pthread_self();
  vrio_t_event *e;
  ASSERT_EQ(vrio_event_new(0, &e), VRIO_S_NOERR);
  std::thread signaller([main_thread] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    pthread_kill(main_thread, SIGUSR1);
  });
  EXPECT_EQ(vrio_event_wait(&e, 1, nullptr), VRIO_E_INTERRUPTED);
  signaller.join();
  EXPECT_EQ(handler_calls, 1);
  EXPECT_GE(vrio_run_work_items(0), 1);
  vrio_t_timespec t = ms(30);
  EXPECT_EQ(vrio_event_wait(&e, 1, &t), VRIO_E_TIMEOUT) << "a new wait blocks again";
  sigaction(SIGUSR1, &old, nullptr);
  vrio_event_free(e);
}

TEST_F(VrioInterrupt, ASetEventWinsOverAnInterruptThatStaysPending)
{
  ASSERT_EQ(vrio_register_interrupt_hook(record_hook, &hooks, 0), VRIO_S_NOERR);
  vrio_t_event *e, *other;
  ASSERT_EQ(vrio_event_new(0, &e), VRIO_S_NOERR);
  ASSERT_EQ(vrio_event_new(0, &other), VRIO_S_NOERR);
  vrio_event_set(e);
  vrio_interrupt(0);
  wait_for_passes(1); // the hooks (the interrupt event's among them) have run
  EXPECT_EQ(vrio_event_wait(&e, 1, nullptr), 1);
  EXPECT_EQ(vrio_event_wait(&other, 1, nullptr), VRIO_E_INTERRUPTED);
  vrio_event_free(e);
  vrio_event_free(other);
}

TEST_F(VrioInterrupt, WorkerThreadWaitsIgnoreInterrupts)
{
  vrio_t_event *e;
  ASSERT_EQ(vrio_event_new(0, &e), VRIO_S_NOERR);
  vrio_t_error_code rc = VRIO_S_NOERR;
  std::thread worker([&] {
    vrio_t_timespec t = ms(200);
    rc = vrio_event_wait(&e, 1, &t);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  vrio_interrupt(0);
  worker.join();
  EXPECT_EQ(rc, VRIO_E_TIMEOUT);
  vrio_event_free(e);
}

TEST_F(VrioInterrupt, HookOptionsAndPasses)
{
  ASSERT_EQ(vrio_register_interrupt_hook(record_hook, &hooks, 0), VRIO_S_NOERR);
  const struct { vrio_t_bits interrupt; vrio_t_bits hook_option; } cases[] = {
      {1, 0}, {0, 2}, {2, 2}, {3, 2}};
  for (auto c : cases) {
    int before = hooks.passes;
    vrio_interrupt(c.interrupt);
    wait_for_passes(before + 1);
    std::lock_guard<std::mutex> guard(hooks.m);
    ASSERT_FALSE(hooks.options.empty());
    EXPECT_EQ(hooks.options.back(), c.hook_option) << "vrio_interrupt(" << c.interrupt << ")";
  }
  vrio_run_work_items(0);
  {
    std::lock_guard<std::mutex> guard(hooks.m);
    EXPECT_EQ(hooks.options.back(), 1u) << "the reset item clears";
  }
  int before = hooks.passes;
  vrio_interrupt(1);
  vrio_interrupt(1);
  vrio_interrupt(0);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  wait_for_passes(before + 1);
  EXPECT_GE(hooks.passes - before, 1);
  EXPECT_LE(hooks.passes - before, 3);
  {
    std::lock_guard<std::mutex> guard(hooks.m);
    EXPECT_EQ(hooks.options.back(), 2u) << "the last message stored";
  }
  EXPECT_EQ(vrio_register_interrupt_hook(record_hook, nullptr, 1), VRIO_S_NOERR);
  EXPECT_EQ(vrio_register_interrupt_hook(record_hook, nullptr, 1), VRIO_S_NOERR)
      << "removing a hook that is not there";
  before = hooks.passes;
  vrio_interrupt(0);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(hooks.passes, before) << "removed";
}

// An interrupt raised while the library stops (from a thread and from a
// signal handler) must neither touch the interrupt thread's freed record
// nor write into a closed descriptor; the sanitizer builds see either.
void start_and_stop_while(std::atomic<bool> &done)
{
  for (int cycle = 0; cycle < 20; ++cycle) {
    EXPECT_EQ(vrio_init(nullptr, nullptr, nullptr, 0), VRIO_S_NOERR) << cycle;
    EXPECT_EQ(vrio_init(nullptr, nullptr, nullptr, 1), VRIO_S_NOERR) << cycle;
  }
  done = true;
  EXPECT_EQ(vrio_interrupt(0), VRIO_S_NOERR) << "stopped: nothing to wake";
}

TEST(VrioInterruptShutdown, InterruptsFromAThreadDuringStartAndStop)
{
  std::atomic<bool> done{false};
  std::thread raiser([&] {
    while (!done)
      vrio_interrupt(0);
  });
  start_and_stop_while(done);
  raiser.join();
}

TEST(VrioInterruptShutdown, InterruptsFromASignalHandlerDuringStartAndStop)
{
  SKIP_SIGNAL_DELIVERY_UNDER_EMULATOR();
  struct sigaction sa = {}, old;
  sa.sa_handler = interrupting_handler;
  sigaction(SIGUSR1, &sa, &old);
  std::atomic<bool> done{false};
  pthread_t main_thread = pthread_self();
  std::thread signaller([&] {
    while (!done) {
      pthread_kill(main_thread, SIGUSR1);
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  });
  start_and_stop_while(done);
  signaller.join();
  sigaction(SIGUSR1, &old, nullptr);
  EXPECT_GT(handler_calls, 0);
}

// Work items.

struct counted_item {
  vrio_t_work_item item;
  int number;
  std::vector<int> *ran;
  int *freed;
  bool keep;
};

vrio_t_error_code counted_run(vrio_t_work_item *item, vrio_t_bits)
{
  auto *c = reinterpret_cast<counted_item *>(item);
  c->ran->push_back(c->number);
  return c->keep ? VRIO_S_DEALLOCATED : VRIO_S_NOERR;
}

void counted_dealloc(vrio_t_work_item *item)
{
  (*reinterpret_cast<counted_item *>(item)->freed)++;
}

const vrio_t_work_item_funcs counted_funcs = {counted_run, counted_dealloc};

TEST(VrioWorkItems, RefusedBeforeTheStart)
{
  std::vector<int> ran;
  int freed = 0;
  counted_item c{{}, 1, &ran, &freed, false};
  vrio_init_work_item(&c.item, &counted_funcs, nullptr);
  EXPECT_EQ(vrio_schedule_work_item(&c.item, 0), VRIO_E_SHUTDOWN);
}

TEST_F(VrioWorkItem, RunInSchedulingOrder)
{
  EXPECT_EQ(vrio_run_work_items(0), 0);
  std::vector<int> ran;
  int freed = 0;
  counted_item items[3] = {{{}, 1, &ran, &freed, false}, {{}, 2, &ran, &freed, true},
                           {{}, 3, &ran, &freed, false}};
  for (auto &c : items)
    vrio_init_work_item(&c.item, &counted_funcs, &c);
  EXPECT_EQ(items[0].item.cookie, &items[0]);
  std::thread([&] { EXPECT_EQ(vrio_schedule_work_item(&items[0].item, 1), VRIO_S_NOERR); }).join();
  std::thread([&] { EXPECT_EQ(vrio_schedule_work_item(&items[1].item, 1), VRIO_S_NOERR); }).join();
  EXPECT_EQ(vrio_schedule_work_item(&items[2].item, 1), VRIO_S_NOERR);
  EXPECT_EQ(vrio_work_items_pending(), 3u);
  EXPECT_EQ(vrio_run_work_items(0), 3);
  EXPECT_EQ(ran, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(freed, 2) << "the item that took care of itself is not freed";
  EXPECT_EQ(vrio_work_items_pending(), 0u);
  vrio_free_work_item(&items[1].item);
  EXPECT_EQ(freed, 3);
  vrio_free_work_item(nullptr);
}

TEST_F(VrioWorkItem, ShutdownRefusesFurtherItems)
{
  std::vector<int> ran;
  int freed = 0;
  counted_item c{{}, 1, &ran, &freed, false};
  vrio_init_work_item(&c.item, &counted_funcs, nullptr);
  vrio_run_work_items(1);
  EXPECT_EQ(vrio_schedule_work_item(&c.item, 0), VRIO_E_SHUTDOWN);
  EXPECT_EQ(freed, 0) << "the item stays the caller's";
}

TEST_F(VrioWorkItem, SchedulingWakesTheMainThread)
{
  vrio_t_event *e;
  ASSERT_EQ(vrio_event_new(0, &e), VRIO_S_NOERR);
  std::vector<int> ran;
  int freed = 0;
  counted_item c{{}, 7, &ran, &freed, false};
  vrio_init_work_item(&c.item, &counted_funcs, nullptr);
  std::thread scheduler([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    vrio_schedule_work_item(&c.item, 0);
  });
  EXPECT_EQ(vrio_event_wait(&e, 1, nullptr), VRIO_E_INTERRUPTED);
  scheduler.join();
  EXPECT_GE(vrio_run_work_items(0), 2) << "the item and the reset item";
  EXPECT_EQ(ran, (std::vector<int>{7}));
  vrio_event_free(e);
}

struct numbered_item {
  vrio_t_work_item item;
  int number;
};
std::vector<std::atomic<int>> *runs_seen;

vrio_t_error_code numbered_run(vrio_t_work_item *item, vrio_t_bits)
{
  (*runs_seen)[static_cast<size_t>(reinterpret_cast<numbered_item *>(item)->number)]++;
  return VRIO_S_NOERR;
}

void numbered_dealloc(vrio_t_work_item *) {}

const vrio_t_work_item_funcs numbered_funcs = {numbered_run, numbered_dealloc};

// Producer threads schedule items while the main thread runs them: each
// runs exactly once.
TEST_F(VrioWorkItem, ManyProducersNothingLostOrDuplicated)
{
  constexpr int producers = 4;
  const int total = contention_items / 10;
  std::vector<numbered_item> items(static_cast<size_t>(total));
  std::vector<std::atomic<int>> seen(static_cast<size_t>(total));
  runs_seen = &seen;
  std::atomic<int> refused{0}, finished{0};
  std::vector<std::thread> ts;
  for (int p = 0; p < producers; ++p)
    ts.emplace_back([&, p] {
      for (int i = p; i < total; i += producers) {
        numbered_item &n = items[static_cast<size_t>(i)];
        n.number = i;
        vrio_init_work_item(&n.item, &numbered_funcs, nullptr);
        if (vrio_schedule_work_item(&n.item, 0) < 0)
          refused++;
      }
      finished++;
    });
  int runs = 0;
  while (finished < producers)
    runs += vrio_run_work_items(0);
  for (auto &t : ts)
    t.join();
  runs += vrio_run_work_items(0);
  EXPECT_EQ(refused, 0);
  deliveries d = count_deliveries(seen);
  EXPECT_EQ(d.lost, 0);
  EXPECT_EQ(d.duplicated, 0);
  EXPECT_GE(runs, total) << "the reset items come on top";
}

// The listener.

struct listener_state {
  vrio_t_event *event;
  std::atomic<int> fired{0};
  std::atomic<int> removed{0};
  vrio_t_error_code answer = VRIO_S_NOERR;
};

vrio_t_error_code listen(void *data, vrio_t_bits reason)
{
  auto *st = static_cast<listener_state *>(data);
  if (reason == 2) {
    st->removed++;
    return VRIO_S_NOERR;
  }
  vrio_event_reset(st->event); // consume what set it
  st->fired++;
  return st->answer;
}

void wait_until(const std::atomic<int> &value, int at_least)
{
  for (int i = 0; i < 20000 && value < at_least; ++i)
    std::this_thread::sleep_for(std::chrono::microseconds(100));
}

TEST_F(VrioListener, CalledForEachSettingAndOnceMoreWhenRemoved)
{
  listener_state st;
  ASSERT_EQ(vrio_event_new(0, &st.event), VRIO_S_NOERR);
  ASSERT_EQ(vrio_add_event_listener(st.event, listen, &st), VRIO_S_NOERR);
  for (int i = 1; i <= 3; ++i) {
    vrio_event_set(st.event);
    wait_until(st.fired, i);
    EXPECT_EQ(st.fired, i);
  }
  listener_state other;
  EXPECT_EQ(vrio_remove_event_listener(st.event, listen, &other), VRIO_S_NOERR);
  EXPECT_EQ(st.removed, 0) << "other data: not this listener";
  EXPECT_EQ(vrio_remove_event_listener(st.event, listen, &st), VRIO_S_NOERR);
  EXPECT_EQ(st.removed, 1);
  EXPECT_EQ(vrio_event_free(st.event), VRIO_S_NOERR) << "the listener's reference is gone";
}

TEST_F(VrioListener, DoneEndsTheThreadAndRemovalStillReports)
{
  listener_state st;
  st.answer = VRIO_S_DONE;
  ASSERT_EQ(vrio_event_new(0, &st.event), VRIO_S_NOERR);
  ASSERT_EQ(vrio_add_event_listener(st.event, listen, &st), VRIO_S_NOERR);
  vrio_event_set(st.event);
  wait_until(st.fired, 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  vrio_event_set(st.event);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(st.fired, 1) << "the thread has ended";
  EXPECT_EQ(vrio_remove_event_listener(st.event, nullptr, nullptr), VRIO_S_NOERR);
  EXPECT_EQ(st.removed, 1);
  vrio_event_free(st.event);
}

TEST_F(VrioListener, ANewListenerReplacesTheOldOne)
{
  listener_state first, second;
  ASSERT_EQ(vrio_event_new(0, &first.event), VRIO_S_NOERR);
  ASSERT_EQ(vrio_event_new(0, &second.event), VRIO_S_NOERR);
  ASSERT_EQ(vrio_add_event_listener(first.event, listen, &first), VRIO_S_NOERR);
  ASSERT_EQ(vrio_add_event_listener(second.event, listen, &second), VRIO_S_NOERR);
  EXPECT_EQ(first.removed, 1);
  vrio_event_set(first.event);
  vrio_event_set(second.event);
  wait_until(second.fired, 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(first.fired, 0);
  EXPECT_EQ(second.fired, 1);
  vrio_event_free(first.event);
  EXPECT_EQ(vrio_remove_event_listener(second.event, listen, nullptr), VRIO_S_NOERR);
  EXPECT_EQ(second.removed, 1);
  vrio_event_free(second.event);
}

} // namespace
