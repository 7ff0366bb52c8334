// Library threads (tasks, their cancellation and signal masks), mutexes,
// condition variables and queues, with N producers and M consumers passing
// items through a queue under contention.
#include <gtest/gtest.h>

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "vostrel/vrio.h"
#include "vrio_fixture.h"

namespace {

using VrioTask = VrioLibrary;
using VrioQueue = VrioLibrary;
using VrioSync = VrioLibrary;

int returned_value;

// The task's own thread writes these bits; others read them atomically.
vrio_t_bits thread_flags(const vrio_t_task *task)
{
  return __atomic_load_n(&task->thread_flags, __ATOMIC_SEQ_CST);
}

void *return_at_once(vrio_t_task volatile *, void *arg)
{
  return arg;
}

TEST_F(VrioTask, ResultOfAFinishedTask)
{
  vrio_t_task *task;
  ASSERT_EQ(vrio_task_create(0, return_at_once, &returned_value, &task), VRIO_S_NOERR);
  ASSERT_EQ(vrio_wait_for_task_termination(task, nullptr), VRIO_S_NOERR);
  void *result = nullptr;
  ASSERT_EQ(vrio_task_result(task, &result), VRIO_S_NOERR);
  EXPECT_EQ(result, &returned_value);
  EXPECT_EQ(vrio_task_is_running(task), 0);
  int status = -1;
  ASSERT_EQ(vrio_task_status(task, &status), VRIO_S_NOERR);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(vrio_task_is_cancelled(task), 0);
  EXPECT_TRUE(thread_flags(task) & VRIO_TASK_THREAD_RETURNED);
  EXPECT_EQ(vrio_task_cancel(task), VRIO_E_NOT_SUPPORTED) << "not cancellable";
  EXPECT_EQ(vrio_task_free(task), VRIO_S_NOERR);
  EXPECT_EQ(vrio_task_free(nullptr), VRIO_S_NOERR);
}

// A task blocked until its pipe is written: cancellable only inside read.
// The byte is read into the record, not into a local: under the emulator,
// AddressSanitizer's handling of the cancellation's unwinding trips over the
// redzones it left around a local whose frame the unwinding removed.
struct blocked_reader {
  int fds[2];
  char byte[1];
  std::atomic<bool> reading{false};
};

void *read_cancellably(vrio_t_task volatile *, void *arg)
{
  auto *b = static_cast<blocked_reader *>(arg);
  b->reading = true;
  vrio_task_pthread_cancel_enable();
  ssize_t n = read(b->fds[0], b->byte, 1);
  vrio_task_pthread_cancel_disable();
  return n == 1 ? arg : nullptr;
}

TEST_F(VrioTask, StillRunningHasNoResult)
{
  blocked_reader b;
  ASSERT_EQ(pipe(b.fds), 0);
  vrio_t_task *task;
  ASSERT_EQ(vrio_task_create(VRIO_TASK_CREATE_CANCELLABLE, read_cancellably, &b, &task),
            VRIO_S_NOERR);
  void *result = &returned_value;
  EXPECT_EQ(vrio_task_result(task, &result), VRIO_E_THREAD_RUNNING);
  EXPECT_EQ(result, &returned_value) << "untouched while running";
  EXPECT_EQ(vrio_task_is_running(task), 1);
  vrio_t_timespec short_wait = ms(20);
  EXPECT_EQ(vrio_wait_for_task_termination(task, &short_wait), VRIO_E_TIMEOUT);
  ASSERT_EQ(write(b.fds[1], "x", 1), 1);
  EXPECT_EQ(vrio_task_free(task), VRIO_S_NOERR) << "waits for the end";
  close(b.fds[0]);
  close(b.fds[1]);
}

void *wait_a_while(vrio_t_task volatile *, void *arg)
{
  auto *quit = static_cast<std::atomic<bool> *>(arg);
  while (!*quit)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return nullptr;
}

TEST_F(VrioTask, CancellingABlockedTaskSetsItsEvent)
{
  setenv("VRIO_PTHREAD_CANCEL_DELAY", "0", 1);
  vrio_init_thread(0);
  blocked_reader b;
  ASSERT_EQ(pipe(b.fds), 0);
  vrio_t_task *task;
  ASSERT_EQ(vrio_task_create(VRIO_TASK_CREATE_CANCELLABLE, read_cancellably, &b, &task),
            VRIO_S_NOERR);
  while (!b.reading)
    std::this_thread::yield();
  // A thread made after it: the cancelled one is not the newest.
  std::atomic<bool> quit{false};
  vrio_t_task *later;
  ASSERT_EQ(vrio_task_create(0, wait_a_while, &quit, &later), VRIO_S_NOERR);
  ASSERT_EQ(vrio_task_cancel(task), VRIO_S_NOERR);
  quit = true;
  EXPECT_EQ(vrio_task_free(later), VRIO_S_NOERR);
  vrio_t_event *event;
  ASSERT_EQ(vrio_task_event(task, &event), VRIO_S_NOERR);
  EXPECT_EQ(vrio_event_query(event), 1);
  EXPECT_EQ(vrio_task_is_cancelled(task), 1);
  void *result = &returned_value;
  ASSERT_EQ(vrio_task_result(task, &result), VRIO_S_NOERR);
  EXPECT_EQ(result, nullptr);
  EXPECT_FALSE(thread_flags(task) & VRIO_TASK_THREAD_RETURNED);
  EXPECT_TRUE(thread_flags(task) & VRIO_TASK_THREAD_FINISHED);
  EXPECT_EQ(vrio_task_free(task), VRIO_S_NOERR);
  close(b.fds[0]);
  close(b.fds[1]);
}

void *finish_soon(vrio_t_task volatile *, void *arg)
{
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  return arg;
}

TEST_F(VrioTask, ATaskThatFinishesWithinTheGraceDelayReturnsNormally)
{
  setenv("VRIO_PTHREAD_CANCEL_DELAY", "2000", 1);
  vrio_init_thread(0);
  vrio_t_task *task;
  ASSERT_EQ(vrio_task_create(VRIO_TASK_CREATE_CANCELLABLE, finish_soon, &returned_value, &task),
            VRIO_S_NOERR);
  auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(vrio_task_cancel(task), VRIO_S_NOERR);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1900))
      << "the grace wait ends with the task";
  EXPECT_TRUE(thread_flags(task) & VRIO_TASK_THREAD_RETURNED) << "not cut short";
  void *result;
  ASSERT_EQ(vrio_task_result(task, &result), VRIO_S_NOERR);
  EXPECT_EQ(result, &returned_value);
  EXPECT_EQ(vrio_task_free(task), VRIO_S_NOERR);
}

void *report_mask(vrio_t_task volatile *, void *arg)
{
  auto *mask = static_cast<sigset_t *>(arg);
  pthread_sigmask(SIG_SETMASK, nullptr, mask);
  return nullptr;
}

TEST_F(VrioTask, LibraryThreadsBlockAsynchronousSignals)
{
  sigset_t mask, before, after;
  sigemptyset(&mask);
  pthread_sigmask(SIG_SETMASK, &mask, &before);
  vrio_t_task *task;
  ASSERT_EQ(vrio_task_create(0, report_mask, &mask, &task), VRIO_S_NOERR);
  ASSERT_EQ(vrio_task_free(task), VRIO_S_NOERR);
  for (int sig : {SIGINT, SIGTERM, SIGALRM, SIGUSR1, SIGCHLD, SIGPIPE})
    EXPECT_TRUE(sigismember(&mask, sig)) << "signal " << sig;
  for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTTIN, SIGTTOU})
    EXPECT_FALSE(sigismember(&mask, sig)) << "signal " << sig;
  pthread_sigmask(SIG_SETMASK, nullptr, &after);
  EXPECT_FALSE(sigismember(&after, SIGINT)) << "the creating thread's mask is restored";

  // The terminal stop signals follow the creating thread.
  sigset_t ttin;
  sigemptyset(&ttin);
  sigaddset(&ttin, SIGTTIN);
  pthread_sigmask(SIG_SETMASK, &ttin, nullptr);
  ASSERT_EQ(vrio_task_create(0, report_mask, &mask, &task), VRIO_S_NOERR);
  ASSERT_EQ(vrio_task_free(task), VRIO_S_NOERR);
  EXPECT_TRUE(sigismember(&mask, SIGTTIN));
  EXPECT_FALSE(sigismember(&mask, SIGTTOU));
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

std::atomic<bool> main_thread_got_sigusr1;
std::atomic<int> sigusr1_elsewhere;
pthread_t test_main_thread;

void note_sigusr1(int)
{
  if (pthread_equal(pthread_self(), test_main_thread))
    main_thread_got_sigusr1 = true;
  else
    sigusr1_elsewhere++;
}


TEST_F(VrioTask, ProcessSignalsReachTheMainThreadOnly)
{
  SKIP_SIGNAL_DELIVERY_UNDER_EMULATOR();
  test_main_thread = pthread_self();
  struct sigaction sa = {}, old;
  sa.sa_handler = note_sigusr1;
  sigaction(SIGUSR1, &sa, &old);
  std::atomic<bool> quit{false};
  vrio_t_task *tasks[4];
  for (auto &t : tasks)
    ASSERT_EQ(vrio_task_create(0, wait_a_while, &quit, &t), VRIO_S_NOERR);
  for (int i = 0; i < 20 && !main_thread_got_sigusr1; ++i) {
    kill(getpid(), SIGUSR1);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  quit = true;
  for (auto t : tasks)
    vrio_task_free(t);
  sigaction(SIGUSR1, &old, nullptr);
  EXPECT_TRUE(main_thread_got_sigusr1);
  EXPECT_EQ(sigusr1_elsewhere, 0) << "the interrupt and task threads block it too";
}

TEST(VrioThread, IdentityAndMainThread)
{
  void *self, *other = nullptr;
  ASSERT_EQ(vrio_thread_self(&self), VRIO_S_NOERR);
  EXPECT_EQ(vrio_thread_equal(self, self), 1);
  std::thread([&] { vrio_thread_self(&other); }).join();
  EXPECT_EQ(vrio_thread_equal(self, other), 0);
  ASSERT_EQ(vrio_init(nullptr, nullptr, nullptr, 0), VRIO_S_NOERR);
  EXPECT_EQ(vrio_thread_not_cancelled(), 1);
  vrio_t_error_code elsewhere = VRIO_S_NOERR;
  std::thread([&] { elsewhere = vrio_thread_not_cancellable(); }).join();
  EXPECT_EQ(elsewhere, VRIO_E_NOT_IMPLEMENTED);
  ASSERT_EQ(vrio_init(nullptr, nullptr, nullptr, 1), VRIO_S_NOERR);
}

TEST_F(VrioSync, Mutexes)
{
  EXPECT_EQ(vrio_mutex_lock(nullptr), VRIO_S_NOERR);
  EXPECT_EQ(vrio_mutex_unlock(nullptr), VRIO_S_NOERR);
  EXPECT_EQ(vrio_mutex_free(nullptr), VRIO_S_NOERR);

  vrio_t_mutex *recursive;
  ASSERT_EQ(vrio_mutex_new(&recursive, 1), VRIO_S_NOERR);
  ASSERT_EQ(vrio_mutex_lock(recursive), VRIO_S_NOERR);
  ASSERT_EQ(vrio_mutex_lock(recursive), VRIO_S_NOERR);
  EXPECT_EQ(vrio_mutex_debug_is_locked_by_other(recursive), 0) << "held by the caller";
  int other_sees = -1;
  std::thread([&] { other_sees = vrio_mutex_debug_is_locked_by_other(recursive); }).join();
  EXPECT_EQ(other_sees, 1);
  ASSERT_EQ(vrio_mutex_unlock(recursive), VRIO_S_NOERR);
  std::thread([&] { other_sees = vrio_mutex_debug_is_locked_by_other(recursive); }).join();
  EXPECT_EQ(other_sees, 1) << "locked twice, unlocked once";
  ASSERT_EQ(vrio_mutex_unlock(recursive), VRIO_S_NOERR);
  std::thread([&] { other_sees = vrio_mutex_debug_is_unlocked(recursive); }).join();
  EXPECT_EQ(other_sees, 1);
  EXPECT_EQ(vrio_mutex_free(recursive), VRIO_S_NOERR);

  vrio_t_mutex *held = nullptr;
  vrio_t_mutex *plain;
  ASSERT_EQ(vrio_mutex_new(&plain, 0), VRIO_S_NOERR);
  vrio_mutex_lock(plain);
  held = plain;
  vrio_mutex_unlock_cleanup(&held);
  EXPECT_EQ(held, nullptr);
  EXPECT_EQ(vrio_mutex_debug_is_unlocked(plain), 1);
  vrio_mutex_unlock_cleanup(&held); // nothing held: nothing done
  vrio_mutex_free(plain);
}

TEST_F(VrioSync, TimedWaits)
{
  vrio_t_mutex *m;
  vrio_t_cond_var *c;
  ASSERT_EQ(vrio_mutex_new(&m, 0), VRIO_S_NOERR);
  ASSERT_EQ(vrio_cond_var_new(&c, 0), VRIO_S_NOERR);
  vrio_mutex_lock(m);
  auto start = std::chrono::steady_clock::now();
  vrio_t_timespec one_ns = {0, 1};
  EXPECT_EQ(vrio_cond_var_timedwait(c, m, &one_ns), VRIO_E_TIMEOUT);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::microseconds(900))
      << "rounded up to a millisecond";
  vrio_t_timespec long_past = {86400, 0}; // an absolute deadline in 1970
  start = std::chrono::steady_clock::now();
  EXPECT_EQ(vrio_cond_var_timedwait(c, m, &long_past), VRIO_E_TIMEOUT);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  vrio_t_timespec now;
  ASSERT_EQ(vrio_cond_var_now(&now), VRIO_S_NOERR);
  EXPECT_GT(now.sec, 1600000000);
  vrio_t_timespec absolute = {now.sec + 0, now.nsec};
  EXPECT_EQ(vrio_cond_var_timedwait(c, m, &absolute), VRIO_E_TIMEOUT);

  bool signalled = false;
  std::thread t([&] {
    vrio_mutex_lock(m);
    signalled = true;
    vrio_cond_var_signal(c, m, 0);
    vrio_mutex_unlock(m);
  });
  vrio_t_timespec ten_s = {10, 0};
  while (!signalled)
    ASSERT_EQ(vrio_cond_var_timedwait(c, m, &ten_s), VRIO_S_NOERR);
  vrio_mutex_unlock(m);
  t.join();
  vrio_cond_var_free(c);
  vrio_mutex_free(m);
}

struct item {
  vrio_t_queue_entry entry; // first: the queue links items through it
  int value;
};

TEST_F(VrioQueue, OrderPeekAndRemovalFromBothEnds)
{
  vrio_t_queue *q;
  ASSERT_EQ(vrio_queue_new(&q, VRIO_QUEUE_WITH_MUTEX), VRIO_S_NOERR);
  item items[3] = {{{}, 1}, {{}, 2}, {{}, 3}};
  for (auto &i : items)
    ASSERT_EQ(vrio_queue_put_last(q, &i.entry, 0), VRIO_S_NOERR);
  EXPECT_EQ(vrio_queue_size(q), 3u);
  vrio_t_queue_entry *e = nullptr;
  EXPECT_EQ(vrio_queue_get_first(q, &e, 1), 3) << "a look leaves three";
  EXPECT_EQ(e, &items[0].entry);
  EXPECT_EQ(vrio_queue_contains(q, &items[2].entry, 0), 1);
  EXPECT_EQ(vrio_queue_get_first(q, &e, 0), 2);
  EXPECT_EQ(e, &items[0].entry);
  EXPECT_EQ(vrio_queue_contains(q, &items[0].entry, 0), 0);
  EXPECT_EQ(vrio_queue_get_last(q, &e, 1), VRIO_S_NOERR);
  EXPECT_EQ(e, &items[2].entry);
  EXPECT_EQ(vrio_queue_get_last(q, &e, 0), VRIO_S_NOERR);
  EXPECT_EQ(e, &items[2].entry);
  EXPECT_EQ(q->tail, &items[1].entry);
  EXPECT_EQ(vrio_queue_get_last(q, &e, 0), VRIO_S_NOERR);
  EXPECT_EQ(e, &items[1].entry);
  EXPECT_EQ(q->next, nullptr);
  EXPECT_EQ(q->tail, nullptr);
  EXPECT_EQ(vrio_queue_get_first(q, &e, 0), VRIO_E_NOT_FOUND);
  EXPECT_EQ(vrio_queue_get_last(q, &e, 0), VRIO_E_NOT_FOUND);
  EXPECT_EQ(vrio_queue_get_first(q, &e, 2), VRIO_E_PARAMETER_ERROR) << "no condition";
  ASSERT_EQ(vrio_queue_put_last(q, &items[0].entry, 0), VRIO_S_NOERR);
  EXPECT_EQ(vrio_queue_get_first(q, &e, 0), 0);
  EXPECT_EQ(q->tail, nullptr);
  vrio_queue_free(q);
  EXPECT_EQ(vrio_queue_free(nullptr), VRIO_S_NOERR);
}

TEST_F(VrioQueue, OptionCombinations)
{
  vrio_t_queue *q = nullptr;
  EXPECT_EQ(vrio_queue_new(&q, 4), VRIO_E_PARAMETER_ERROR);
  EXPECT_EQ(vrio_queue_new(&q, 6), VRIO_E_PARAMETER_ERROR);
  EXPECT_EQ(vrio_queue_new(&q, 7), VRIO_E_PARAMETER_ERROR);
  EXPECT_EQ(q, nullptr);
  ASSERT_EQ(vrio_queue_new(&q, 5), VRIO_S_NOERR) << "recursive mutex";
  ASSERT_EQ(vrio_queue_lock(q), VRIO_S_NOERR);
  item i{{}, 0};
  ASSERT_EQ(vrio_queue_put_last(q, &i.entry, 0), VRIO_S_NOERR) << "locks again: recursive";
  vrio_t_queue_entry *e;
  EXPECT_EQ(vrio_queue_get_last(q, &e, 4), VRIO_S_NOERR);
  vrio_queue_unlock(q);
  vrio_queue_free(q);
  ASSERT_EQ(vrio_queue_new(&q, 0), VRIO_S_NOERR) << "protected by its owner";
  ASSERT_EQ(vrio_queue_put_last(q, &i.entry, 0), VRIO_S_NOERR);
  EXPECT_EQ(vrio_queue_get_first(q, &e, 0), 0);
  vrio_queue_free(q);
}

TEST_F(VrioQueue, WaitingForAnEntry)
{
  vrio_t_queue *q;
  ASSERT_EQ(vrio_queue_new(&q, VRIO_QUEUE_WITH_MUTEX | VRIO_QUEUE_WITH_COND), VRIO_S_NOERR);
  item i{{}, 42};
  std::atomic<bool> put{false};
  std::thread producer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    put = true;
    vrio_queue_put_last(q, &i.entry, 0);
  });
  vrio_t_queue_entry *e = nullptr;
  EXPECT_EQ(vrio_queue_get_first(q, &e, 2), 0);
  EXPECT_TRUE(put) << "blocked until the entry came";
  EXPECT_EQ(reinterpret_cast<item *>(e)->value, 42);
  producer.join();
  vrio_queue_free(q);
}

// A consumer cancelled while it waits for an entry leaves the queue
// unlocked: the clean-up step releases the mutex the wait holds again.
struct cancellable_consumer {
  vrio_t_queue *queue;
  vrio_t_queue_entry *entry; // outside the cancelled frames (see blocked_reader)
};

void *consume_cancellably(vrio_t_task volatile *, void *arg)
{
  auto *c = static_cast<cancellable_consumer *>(arg);
  vrio_task_pthread_cancel_enable();
  vrio_queue_get_first(c->queue, &c->entry, 2);
  vrio_task_pthread_cancel_disable();
  return c->entry;
}

TEST_F(VrioQueue, CancelledWaiterReleasesTheLock)
{
  setenv("VRIO_PTHREAD_CANCEL_DELAY", "10", 1);
  vrio_init_thread(0);
  vrio_t_queue *q;
  ASSERT_EQ(vrio_queue_new(&q, VRIO_QUEUE_WITH_MUTEX | VRIO_QUEUE_WITH_COND), VRIO_S_NOERR);
  cancellable_consumer consumer{q, nullptr};
  vrio_t_task *task;
  ASSERT_EQ(vrio_task_create(VRIO_TASK_CREATE_CANCELLABLE, consume_cancellably, &consumer, &task),
            VRIO_S_NOERR);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_EQ(vrio_task_cancel(task), VRIO_S_NOERR);
  EXPECT_EQ(vrio_task_is_cancelled(task), 1);
  EXPECT_EQ(vrio_mutex_debug_is_unlocked(q->mutex), 1);
  item i{{}, 1};
  EXPECT_EQ(vrio_queue_put_last(q, &i.entry, 0), VRIO_S_NOERR);
  vrio_task_free(task);
  vrio_queue_free(q);
}

struct contention {
  vrio_t_queue *queue;
  item *items;
  int per_producer;
  std::atomic<int> *seen;    // how often each item came out
  std::atomic<int> consumed; // across consumers
  int total;
};

// N producers and M consumers over one queue: every item comes out exactly
// once.  A consumer stops at a null-valued poison item.
TEST_F(VrioQueue, ProducersAndConsumersLoseAndDuplicateNothing)
{
  constexpr int producers = 4, consumers = 3;
  const int total = contention_items;
  vrio_t_queue *q;
  ASSERT_EQ(vrio_queue_new(&q, VRIO_QUEUE_WITH_MUTEX | VRIO_QUEUE_WITH_COND), VRIO_S_NOERR);
  std::vector<item> items(static_cast<size_t>(total));
  std::vector<std::atomic<int>> seen(static_cast<size_t>(total));
  std::vector<item> poison(consumers, item{{}, -1});
  std::vector<std::thread> threads;
  std::atomic<int> put_failures{0};
  for (int p = 0; p < producers; ++p)
    threads.emplace_back([&, p] {
      for (int i = p; i < total; i += producers) {
        items[static_cast<size_t>(i)].value = i;
        if (vrio_queue_put_last(q, &items[static_cast<size_t>(i)].entry, 0) != VRIO_S_NOERR)
          put_failures++;
      }
    });
  std::atomic<int> consumed{0}, get_failures{0};
  std::vector<std::thread> takers;
  for (int c = 0; c < consumers; ++c)
    takers.emplace_back([&] {
      for (;;) {
        vrio_t_queue_entry *e;
        if (vrio_queue_get_first(q, &e, 2) < 0) {
          get_failures++;
          return;
        }
        int v = reinterpret_cast<item *>(e)->value;
        if (v < 0)
          return;
        seen[static_cast<size_t>(v)]++;
        consumed++;
      }
    });
  for (auto &t : threads)
    t.join();
  for (auto &p : poison)
    vrio_queue_put_last(q, &p.entry, 0);
  for (auto &t : takers)
    t.join();
  EXPECT_EQ(put_failures, 0);
  EXPECT_EQ(get_failures, 0);
  EXPECT_EQ(consumed, total);
  deliveries d = count_deliveries(seen);
  EXPECT_EQ(d.lost, 0);
  EXPECT_EQ(d.duplicated, 0);
  EXPECT_EQ(vrio_queue_size(q), 0u);
  vrio_queue_free(q);
}

} // namespace
