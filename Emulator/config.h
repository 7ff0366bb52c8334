/* config.h: readers of engine settings.
 *
 * Settings are system properties (the I/O library's start-up options, its
 * own property environment, then the process environment), read by the one
 * lookup in config.cpp, so every reader sees all three.  Values longer than CONFIG_VALUE_MAX bytes are
 * treated as absent.  Called during start-up (memory source, stack sizes,
 * allocator switches); engine thread only.
 */
#ifndef VOSTREL_CONFIG_H
#define VOSTREL_CONFIG_H

#include <cstddef>

constexpr std::size_t CONFIG_VALUE_MAX = 100;

/* "yes" or "no", each letter in either case, exactly: 0 and *value 1 or
   0; else STR_TO_BOOLEAN_ERROR. */
constexpr int STR_TO_BOOLEAN_ERROR = -10001; /* VRIO_E_ERROR */
int str_to_boolean(const char *text, int *value);
/* Blanks and tabs, decimal digits (none: 0), blanks and tabs, then an
   optional K, M or G (either case) multiplying by 2^10, 2^20 or 2^30; any
   text after that is ignored.  0 and *size, or STR_TO_SIZE_ERROR when the
   value passes 32 bits. */
constexpr int STR_TO_SIZE_ERROR = -20001; /* VRIO_E_MISC_ERROR_1 */
int str_to_size(const char *text, unsigned *size);

/* The setting parsed by str_to_boolean; `dflt` when absent, too long or
   rejected.  get_boolean_property does not look in the process
   environment. */
int get_boolean(const char *name, int dflt);
int get_boolean_property(const char *name, int dflt);
/* The setting parsed by str_to_size; `dflt` when absent, too long or
   rejected; never below `minimum` (unsigned comparison). */
unsigned get_stack_size(const char *name, unsigned dflt, unsigned minimum);
/* The raw setting copied into buf (CONFIG_VALUE_MAX + 1 bytes), or null when
   absent or too long. */
const char *config_lookup(const char *name, char *buf);

#endif
