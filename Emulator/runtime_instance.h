/* runtime_instance.h: bringing up a runtime instance in this process.
 *
 * The order is the one every later step relies on: memory manager, canned
 * code, worker, atoms, modules, the emulator's handler tables, operators
 * and the reader's flags, then the built-in table.  The runtime library's
 * Prolog code is loaded by the caller (runtime_load_library in
 * compiler/library.h), so that the kernel does not depend on the compiler.
 * Used by the Prolog test runner and the build tools; one instance per
 * process, engine thread only.
 */
#ifndef VOSTREL_RUNTIME_INSTANCE_H
#define VOSTREL_RUNTIME_INSTANCE_H

struct worker;

/* Starts the instance; null (after a message on stderr) when a step
   fails. */
worker *runtime_instance_start(void);

#endif
