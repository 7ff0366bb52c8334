/* config.cpp: parsing of the engine's boolean and size settings.
 *
 * Every setting goes through config_lookup, the one place that knows where
 * settings live: the system properties of the I/O library (its start-up
 * options, its own properties, then the process environment).  The parsers never
 * fail: a value they cannot read gives the caller's default, so a typo in
 * the environment cannot stop the engine from starting.  Used by the memory
 * manager, the memory source and the stack set-up.
 */
#include "config.h"

#include "fli.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <strings.h>

const char *config_lookup(const char *name, char *buf)
{
  /* A value too long for the buffer is not read at all: a truncated value
     would be a different one. */
  std::size_t size = CONFIG_VALUE_MAX + 1;
  return vr_getenv_internal(name, buf, &size, 2);
}

int get_boolean(const char *name, int dflt)
{
  char buf[CONFIG_VALUE_MAX + 1];
  const char *v = config_lookup(name, buf);
  if (v == nullptr)
    return dflt;
  if (strcasecmp(v, "yes") == 0 || strcasecmp(v, "true") == 0)
    return 1;
  if (strcasecmp(v, "no") == 0 || strcasecmp(v, "false") == 0)
    return 0;
  return dflt;
}

static bool is_blank(char c)
{
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

/* Parses "<blanks><digits><blanks>[K|M|G]" into *out; false when malformed
   or when the value does not fit in 32 bits. */
static bool parse_size(const char *p, unsigned *out)
{
  while (is_blank(*p))
    p++;
  if (*p < '0' || *p > '9')
    return false;
  std::uint64_t value = 0;
  for (; *p >= '0' && *p <= '9'; p++) {
    value = value * 10 + static_cast<unsigned>(*p - '0');
    if (value > 0xFFFFFFFFull)
      return false;
  }
  while (is_blank(*p))
    p++;
  unsigned shift = 0;
  switch (*p) {
  case 'K': shift = 10; p++; break;
  case 'M': shift = 20; p++; break;
  case 'G': shift = 30; p++; break;
  default: break;
  }
  if (*p != '\0')
    return false;
  value <<= shift;
  if (value > 0xFFFFFFFFull)
    return false;
  *out = static_cast<unsigned>(value);
  return true;
}

unsigned get_stack_size(const char *name, unsigned dflt, unsigned minimum)
{
  char buf[CONFIG_VALUE_MAX + 1];
  const char *v = config_lookup(name, buf);
  unsigned size = dflt;
  if (v == nullptr || !parse_size(v, &size))
    size = dflt;
  return size < minimum ? minimum : size;
}
