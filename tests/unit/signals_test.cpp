// Signal set-up: which handlers ds_signals_init and signals_disable_most
// leave in place, the messages of abortmsg, and the interrupt key's path
// to the engine (up to the engine: its handler runs inside Prolog, which
// tests/iface covers).  The fixture makes the interface's event queue,
// through which signals are installed, and restores every signal action it
// may change.
#include <gtest/gtest.h>

#include <csetjmp>
#include <csignal>
#include <cstring>
#include <string>

#include "errors.h"
#include "fli.h"
#include "signals.h"
#include "worker.h"

namespace {

constexpr int touched_signals[] = {SIGINT, SIGSEGV, SIGTRAP, SIGILL, SIGBUS,
                                   SIGSYS, SIGFPE, SIGVTALRM, SIGPIPE};

void marker_handler(int) {}

os_signal_handler current_handler(int sig)
{
  struct sigaction now;
  sigaction(sig, nullptr, &now);
  return now.sa_handler;
}

class Signals : public ::testing::Test {
protected:
  struct sigaction saved[std::size(touched_signals)];
  worker saved_self_fields{};
  sigset_t saved_mask;

  void SetUp() override
  {
    for (std::size_t i = 0; i < std::size(touched_signals); ++i)
      sigaction(touched_signals[i], nullptr, &saved[i]);
    pthread_sigmask(SIG_SETMASK, nullptr, &saved_mask);
    saved_self_fields.heap_warn_soft = self->heap_warn_soft;
    saved_self_fields.int_heap_warn = self->int_heap_warn;
    vr_set_abort_env(nullptr);
    ASSERT_EQ(event_queue_init(), 0);
  }
  void TearDown() override
  {
    event_queue_remove();
    for (std::size_t i = 0; i < std::size(touched_signals); ++i)
      sigaction(touched_signals[i], &saved[i], nullptr);
    pthread_sigmask(SIG_SETMASK, &saved_mask, nullptr);
    self->heap_warn_soft = saved_self_fields.heap_warn_soft;
    self->int_heap_warn = saved_self_fields.int_heap_warn;
    vr_set_abort_env(nullptr);
  }
};

const struct {
  int sig;
  const char *message;
} abort_messages[] = {
  {2, "interrupted"},          {4, "illegal instruction"},
  {5, "trace trap"},           {7, "bus error"},
  {8, "floating point exception"}, {11, "segmentation violation"},
  {31, "bad system call arg"}, {10 /* SIGUSR1 */, "miscellaneous error condition"},
  {15 /* SIGTERM */, "miscellaneous error condition"},
};

} // namespace

TEST_F(Signals, OsSignalInstallsWithEmptyMaskAndNoFlags)
{
  EXPECT_EQ(os_signal(SIGPIPE, marker_handler), saved[8].sa_handler)
      << "os_signal returns the previous handler";
  struct sigaction now;
  sigaction(SIGPIPE, nullptr, &now);
  EXPECT_EQ(now.sa_handler, marker_handler);
  // The C library adds SA_RESTORER on its own; nothing else may be set.
  EXPECT_EQ(now.sa_flags & ~0x04000000, 0) << "flags " << std::hex << now.sa_flags;
  for (int s = 1; s < 32; ++s)
    EXPECT_FALSE(sigismember(&now.sa_mask, s)) << "signal " << s << " in the handler's mask";
  EXPECT_EQ(os_signal(SIGPIPE, SIG_IGN), marker_handler);
}

TEST_F(Signals, FullInitInstallsFaultHandlersAndIgnoresTwo)
{
  ds_signals_init(0);
  for (int sig : {SIGSEGV, SIGTRAP, SIGILL, SIGBUS, SIGSYS})
    EXPECT_EQ(current_handler(sig), &abortmsg) << "signal " << sig;
  EXPECT_EQ(current_handler(SIGVTALRM), SIG_IGN);
  EXPECT_EQ(current_handler(SIGPIPE), SIG_IGN);
  EXPECT_NE(current_handler(SIGINT), SIG_DFL) << "the interrupt key goes through VR_signal";
}

TEST_F(Signals, MinimalInitLeavesFaultSignalsAlone)
{
  for (int sig : {SIGSEGV, SIGTRAP, SIGILL, SIGBUS, SIGSYS})
    os_signal(sig, marker_handler);
  ds_signals_init(1);
  for (int sig : {SIGSEGV, SIGTRAP, SIGILL, SIGBUS, SIGSYS})
    EXPECT_EQ(current_handler(sig), marker_handler) << "signal " << sig;
  EXPECT_EQ(current_handler(SIGVTALRM), SIG_IGN);
  EXPECT_EQ(current_handler(SIGPIPE), SIG_IGN);
}

TEST_F(Signals, DisableMostRestoresDefaultsOfSixSignals)
{
  ds_signals_init(0);
  os_signal(SIGFPE, marker_handler);
  signals_disable_most();
  for (int sig : {SIGFPE, SIGSEGV, SIGTRAP, SIGILL, SIGBUS, SIGSYS})
    EXPECT_EQ(current_handler(sig), SIG_DFL) << "signal " << sig;
  // Not among the six: stays ignored.
  EXPECT_EQ(current_handler(SIGPIPE), SIG_IGN);
}

TEST_F(Signals, InterruptKeyIsCountedThenPostedToTheEngine)
{
  TAGGED cell[2];
  self->heap_warn_soft = cell;
  self->int_heap_warn = cell;
  ds_signals_init(1);
  std::raise(SIGINT);
  std::raise(SIGINT);
  // The operating system's handler only counted the signal: the interrupt
  // key's own handler runs later, on the engine thread.
  EXPECT_EQ(vr_get_ctrlc_pending_DEPRECATED(), 0);
  // What that handler does: post the interrupt event, which stops the
  // emulator at its next call; a second request before it ran only counts.
  vr_sigint_h(SIGINT, nullptr);
  EXPECT_EQ(self->heap_warn_soft, nullptr);
  EXPECT_EQ(self->int_heap_warn, nullptr);
  vr_sigint_h(SIGINT, nullptr);
  EXPECT_EQ(vr_get_ctrlc_pending_DEPRECATED(), 2);
  vr_reset_ctrlc_pending();
  EXPECT_EQ(vr_get_ctrlc_pending_DEPRECATED(), 0);
}

namespace {
int seen_sig;
void recording_handler(int sig, void *) { seen_sig = sig; }
} // namespace

TEST_F(Signals, VrSignalDefersTheHandlerAndRefusesBadNumbers)
{
  seen_sig = 0;
  VR_SigFun *const error = reinterpret_cast<VR_SigFun *>(-1);
  EXPECT_NE(VR_signal(SIGINT, recording_handler, nullptr), error);
  EXPECT_NE(current_handler(SIGINT), SIG_DFL);
  std::raise(SIGINT);
  EXPECT_EQ(seen_sig, 0) << "the handler runs on the engine thread, not in the signal";
  EXPECT_EQ(VR_signal(0, recording_handler, nullptr), error) << "the system refuses signal 0";
  EXPECT_EQ(VR_signal(32, recording_handler, nullptr), error);
  EXPECT_EQ(VR_sigaction(32, recording_handler, nullptr, 0), VRIO_E_PARAMETER_ERROR);
  // Resetting keeps the system's handler and drops the user's.
  EXPECT_EQ(VR_sigaction(SIGINT, nullptr, nullptr, 0), 0);
  EXPECT_NE(current_handler(SIGINT), SIG_DFL);
  EXPECT_EQ(VR_sigaction(SIGUSR2, nullptr, nullptr, 0), VRIO_E_NOT_SUPPORTED);
  // Without the queue nothing can be installed.
  event_queue_remove();
  EXPECT_EQ(VR_sigaction(SIGINT, recording_handler, nullptr, 0), VRIO_E_INTERNAL_ERROR);
  EXPECT_EQ(current_handler(SIGINT), SIG_DFL) << "removing the queue restored the default";
  ASSERT_EQ(event_queue_init(), 0);
}

// One fault through an abort point, in a frame of its own so that no loop
// state lives where the jump back to setjmp lands.
static int abort_through_abort_point(int sig)
{
  std::jmp_buf env;
  vr_set_abort_env(&env);
  const int jumped = setjmp(env);
  if (jumped == 0) {
    abortmsg(sig);
    ADD_FAILURE() << "abortmsg returned";
  }
  return jumped;
}

TEST_F(Signals, AbortMessagesThroughAnAbortPoint)
{
  for (const auto &c : abort_messages) {
    EXPECT_EQ(abort_through_abort_point(c.sig), 3);
    EXPECT_EQ(g_error_type, -1);
    EXPECT_STREQ(g_error_msg_ienc, c.message) << "signal " << c.sig;
  }
}

TEST_F(Signals, AbortMessageWithoutAbortPointEndsTheProcess)
{
  EXPECT_EXIT(abortmsg(SIGSEGV), ::testing::ExitedWithCode(255), "\n! segmentation violation\n");
  EXPECT_EXIT(abortmsg(SIGUSR2), ::testing::ExitedWithCode(255), "! miscellaneous error condition");
}

// A fault signal caught by abortmsg leaves its handler by a jump; the
// signal must not stay blocked, or the next fault of the same kind after
// recovery would kill the process without a word.
TEST_F(Signals, FaultSignalIsDeliverableAgainAfterRecovery)
{
#if defined(TRELIX_EMULATED) && defined(TRELIX_SANITIZE)
  // Under the user-mode emulator, AddressSanitizer cannot describe the stack
  // of a signal handler: a bare C program whose handler calls sigemptyset on
  // a local stops in the same internal check (asan_thread.cpp,
  // kCurrentStackFrameMagic).  The test runs in every other configuration.
  GTEST_SKIP() << "AddressSanitizer cannot follow signal-handler stacks under the emulator";
#endif
  ds_signals_init(0);
  for (int round = 0; round < 2; ++round) {
    std::jmp_buf env;
    vr_set_abort_env(&env);
    if (setjmp(env) == 0) {
      std::raise(SIGSYS);
      ADD_FAILURE() << "the handler returned";
    }
    EXPECT_STREQ(g_error_msg_ienc, "bad system call arg") << "round " << round;
    sigset_t mask;
    pthread_sigmask(SIG_SETMASK, nullptr, &mask);
    EXPECT_FALSE(sigismember(&mask, SIGSYS)) << "SIGSYS still blocked after round " << round;
  }
}
