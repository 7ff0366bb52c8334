/* native_stack.cpp: the running thread's stack bounds, found once per
 * thread (see native_stack.h).  The thread-local words use the
 * initial-exec model: the runtime is also linked into a shared library
 * (a further runtime instance), where the executable's own model cannot
 * be used. */
#include "native_stack.h"

#include <cstdint>
#include <pthread.h>

namespace {

__attribute__((tls_model("initial-exec"))) thread_local std::uintptr_t stack_floor = 0; /* lowest usable address + reserve; 0: unknown yet */
__attribute__((tls_model("initial-exec"))) thread_local bool known = false;

void find_bounds()
{
  known = true;
  pthread_attr_t attr;
  if (pthread_getattr_np(pthread_self(), &attr) != 0)
    return;
  void *low = nullptr;
  std::size_t size = 0;
  if (pthread_attr_getstack(&attr, &low, &size) == 0 && size > 2 * NATIVE_STACK_RESERVE)
    stack_floor = reinterpret_cast<std::uintptr_t>(low) + NATIVE_STACK_RESERVE;
  pthread_attr_destroy(&attr);
}

} // namespace

bool native_stack_low(void)
{
  if (!known)
    find_bounds();
  char here;
  return stack_floor != 0 && reinterpret_cast<std::uintptr_t>(&here) < stack_floor;
}
