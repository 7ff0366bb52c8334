/* errprint.cpp: the engine's message output on standard error.
 *
 * errprintf is the one road for error and warning text: an embedding
 * program may take it over with errprintf_hook (which receives the
 * formatted text); otherwise the text goes to stderr after a newline, so
 * that it starts on a line of its own even when a prompt or partial output
 * is pending, and stderr is flushed because the process may end right after
 * (VR_raise_fault).  vr_ttyprintf is for traces and reports (memory report,
 * garbage collector trace).  Callers: errors.cpp, memman.cpp, the GC.
 */
#include <cstdarg>
#include <cstdio>
#include <string>

#include "support.h"

errprintf_hook_fn errprintf_hook = nullptr;

namespace {

/* Formats into a string of whatever length the text needs. */
std::string vformat(const char *format, std::va_list args)
{
  char small[512];
  std::va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (n < 0)
    return std::string();
  if (static_cast<std::size_t>(n) < sizeof small)
    return std::string(small, static_cast<std::size_t>(n));
  std::string big(static_cast<std::size_t>(n) + 1, '\0');
  std::vsnprintf(big.data(), big.size(), format, args);
  big.resize(static_cast<std::size_t>(n));
  return big;
}

} // namespace

void errprintf(int flags, const char *format, ...)
{
  std::va_list args;
  va_start(args, format);
  const std::string text = vformat(format, args);
  va_end(args);
  if (errprintf_hook != nullptr) {
    errprintf_hook(flags, text.c_str());
    return;
  }
  std::fputc('\n', stderr);
  std::fputs(text.c_str(), stderr);
  std::fflush(stderr);
}

void vr_ttyprintf(const char *format, ...)
{
  std::va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
}

void vr_ttyflush(void)
{
  std::fflush(stderr);
}
