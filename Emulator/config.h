/* config.h: readers of engine settings from the environment (and, once the
 * I/O library exists, from its system properties). */
#ifndef VOSTREL_CONFIG_H
#define VOSTREL_CONFIG_H

/* 1 for yes/true, 0 for no/false; `dflt` when absent or unparsable. */
int get_boolean(const char *name, int dflt);
/* A decimal size with optional K, M or G; `dflt` when absent, malformed or
   overflowing; never below `minimum`. */
unsigned get_stack_size(const char *name, unsigned dflt, unsigned minimum);

#endif
