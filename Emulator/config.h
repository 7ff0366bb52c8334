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

/* 1 for yes/true, 0 for no/false (any letter case); `dflt` when absent or
   unparsable. */
int get_boolean(const char *name, int dflt);
/* A decimal size with optional K, M or G; blanks may precede the number and
   the suffix.  `dflt` when absent, malformed or overflowing 32 bits; never
   below `minimum`. */
unsigned get_stack_size(const char *name, unsigned dflt, unsigned minimum);
/* The raw setting copied into buf (CONFIG_VALUE_MAX + 1 bytes), or null when
   absent or too long. */
const char *config_lookup(const char *name, char *buf);

#endif
