// Shared by the I/O library's tests: a fixture that starts the library and
// stops it again, and the size of the contention tests.
//
// Every test case runs in a process of its own, so a case may change the
// process environment before it starts the library.  The I/O library's
// tests also build as a native 64-bit program under ThreadSanitizer
// (tests/vrio_tsan), which defines VRIO_TSAN.
#pragma once
#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "vostrel/vrio.h"

// Items passed through queues and work items under contention: 10^6 in the
// release build, fewer where every memory access is instrumented.
#if defined(TRELIX_SANITIZE) || defined(VRIO_TSAN)
inline constexpr int contention_items = 100000;
#else
inline constexpr int contention_items = 1000000;
#endif

// Signal handlers cannot run on a thread of a multi-threaded program under
// the user-mode emulator: qemu-i386 keeps one descriptor table for all
// threads, so the return from a handler reloads the thread-local segment
// of the thread created last (a bare C program shows it).  The library
// starts threads at initialisation, so tests that deliver signals run only
// natively (the ThreadSanitizer build among them).
#ifdef TRELIX_EMULATED
#define SKIP_SIGNAL_DELIVERY_UNDER_EMULATOR()                                                  \
  GTEST_SKIP() << "a signal handler in a threaded program breaks thread-local storage under "  \
                  "qemu-i386"
#else
#define SKIP_SIGNAL_DELIVERY_UNDER_EMULATOR() (void)0
#endif

struct VrioLibrary : ::testing::Test {
  void SetUp() override { ASSERT_EQ(vrio_init(nullptr, nullptr, nullptr, 0), VRIO_S_NOERR); }
  void TearDown() override { EXPECT_EQ(vrio_init(nullptr, nullptr, nullptr, 1), VRIO_S_NOERR); }
};

// How many items came out never and how many more than once.
struct deliveries {
  int lost = 0, duplicated = 0;
};
inline deliveries count_deliveries(const std::vector<std::atomic<int>> &seen)
{
  deliveries d;
  for (const auto &s : seen) {
    d.lost += s == 0;
    d.duplicated += s > 1;
  }
  return d;
}

// Argument lists of open and push.
inline vrio_t_property arg_pointer(const char *key, void *p)
{
  vrio_t_property a{key, {}};
  a.v.flags = VRIO_VARIANT_POINTER;
  a.v.u.p = p;
  return a;
}

inline vrio_t_property arg_string(const char *key, const char *s)
{
  vrio_t_property a{key, {}};
  a.v.flags = VRIO_VARIANT_STRING;
  a.v.u.string = const_cast<char *>(s);
  return a;
}

inline vrio_t_property arg_end()
{
  vrio_t_property a{nullptr, {}};
  a.v.flags = VRIO_VARIANT_END;
  return a;
}

// An instance of the coder registered under `name`, or null.
inline vrio_t_coder *open_coder(const char *name, vrio_t_bits options)
{
  vrio_t_coder_funcs *funcs = nullptr;
  if (vrio_char_coder_find(&funcs, name, nullptr, 0) < 0)
    return nullptr;
  vrio_t_coder *coder = nullptr;
  vrio_t_error_code rc = vrio_char_coder_open(funcs, &coder, nullptr, options);
  vrio_coder_funcs_release(funcs);
  return rc < 0 ? nullptr : coder;
}

inline vrio_t_timespec ms(int milliseconds)
{
  return vrio_t_timespec{milliseconds / 1000, (milliseconds % 1000) * 1000000};
}
