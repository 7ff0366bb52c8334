// The benchmarks say how they were run: under the user-mode emulator (where
// the kernel cannot run 32-bit programs) every figure is several times
// slower than a native run and must not be compared with one.
#pragma once
#include <cstdio>

inline void print_run_mode()
{
#ifdef TRELIX_EMULATED
  std::printf("note: running under the 32-bit emulator; times are not comparable with native runs\n");
#endif
}
