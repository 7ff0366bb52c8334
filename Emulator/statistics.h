/* statistics.h: the statistics built-in (see statistics.cpp). */
#ifndef VOSTREL_STATISTICS_H
#define VOSTREL_STATISTICS_H

#include "termdefs.h"

struct worker;

/* The place of a key in the table of 35 keys, or -1 when the term is not
   one of them. */
int statistics_key_index(TAGGED key);

/* $statistics(Key, Value) */
int prolog_statistics(worker *w);

#endif
