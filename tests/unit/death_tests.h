// Death tests that want a freshly executed process.
//
// GoogleTest's "threadsafe" style runs the dying statement in a new copy of
// the test program started with execv.  Where the kernel cannot run 32-bit
// programs the build runs them under a user-mode emulator, and that execv is
// refused ("Exec format error"); there the "fast" style (fork only, no exec)
// runs the same statement in a child that inherits the parent's state.
#pragma once
#include <gtest/gtest.h>

inline void use_fresh_process_death_tests()
{
#ifdef TRELIX_EMULATED
  GTEST_FLAG_SET(death_test_style, "fast");
#else
  GTEST_FLAG_SET(death_test_style, "threadsafe");
#endif
}
