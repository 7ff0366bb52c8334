/* config.cpp: parsing of the engine's boolean and size settings.
 *
 * Every setting goes through the I/O library's system properties (its
 * start-up options, its own properties, then, unless a reader says
 * otherwise, the process environment).  The readers never fail: a value
 * the parsers reject gives the caller's default, so a typo in the
 * environment cannot stop the engine from starting.  Used by start-up
 * (the data-segment limit, the development-system switches), the memory
 * manager, the memory source, the stack set-up and the stream layer.
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

int str_to_boolean(const char *text, int *value)
{
  if (strcasecmp(text, "yes") == 0) {
    *value = 1;
    return 0;
  }
  if (strcasecmp(text, "no") == 0) {
    *value = 0;
    return 0;
  }
  return STR_TO_BOOLEAN_ERROR;
}

int str_to_size(const char *text, unsigned *size)
{
  const char *p = text;
  while (*p == ' ' || *p == '\t')
    p++;
  std::uint64_t value = 0;
  for (; *p >= '0' && *p <= '9'; p++) {
    value = value * 10 + static_cast<unsigned>(*p - '0');
    if (value > 0xFFFFFFFFull)
      return STR_TO_SIZE_ERROR;
  }
  while (*p == ' ' || *p == '\t')
    p++;
  /* The largest count each unit allows without passing 32 bits. */
  switch (*p) {
  case 'K': case 'k':
    if (value > 4194303)
      return STR_TO_SIZE_ERROR;
    value <<= 10;
    break;
  case 'M': case 'm':
    if (value > 4095)
      return STR_TO_SIZE_ERROR;
    value <<= 20;
    break;
  case 'G': case 'g':
    if (value > 3)
      return STR_TO_SIZE_ERROR;
    value <<= 30;
    break;
  default:
    break;
  }
  *size = static_cast<unsigned>(value);
  return 0;
}

static int boolean_setting(const char *name, int dflt, unsigned where)
{
  char buf[CONFIG_VALUE_MAX + 1];
  std::size_t size = sizeof buf;
  const char *v = vr_getenv_internal(name, buf, &size, where);
  int value = 0;
  if (v == nullptr || str_to_boolean(v, &value) != 0)
    return dflt;
  return value;
}

int get_boolean(const char *name, int dflt) { return boolean_setting(name, dflt, 2); }

/* 2 | 4: the options and the library's own properties, not the process
   environment. */
int get_boolean_property(const char *name, int dflt) { return boolean_setting(name, dflt, 2 | 4); }

unsigned get_stack_size(const char *name, unsigned dflt, unsigned minimum)
{
  char buf[CONFIG_VALUE_MAX + 1];
  const char *v = config_lookup(name, buf);
  unsigned size = dflt;
  if (v == nullptr || str_to_size(v, &size) != 0)
    size = dflt;
  return size < minimum ? minimum : size;
}
