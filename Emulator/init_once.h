/* init_once.h: the engine's process-wide tables (atoms, flags, the file
 * and stream layers, canned code, modules, operators, the built-in table),
 * built once per start of the runtime before the first worker.
 * Callers: start-up and shutdown (startup.cpp).
 */
#ifndef VOSTREL_INIT_ONCE_H
#define VOSTREL_INIT_ONCE_H

/* 1 on success, 0 when an atom could not be made or a layer could not
   start; the system type must be stored in eglobal first. */
int init_once(void);
/* Takes down what init_once built, however far it got (the worker and
   the memory manager stay). */
void deinit_once(void);

#endif
