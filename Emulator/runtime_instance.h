/* runtime_instance.h: bringing up a runtime instance in this process.
 *
 * The order is the one every later step relies on: the main thread's
 * identity, the I/O services library, memory manager, canned code, worker,
 * atoms, modules, the emulator's handler tables, operators and the
 * reader's flags, the built-in table, the hooks whose owners exist (the
 * engine's rebuild after an abort, stack shrinking when memory is
 * trimmed; the database installs its own collector hooks with the module
 * table), the current directory and the stream layer (which installs its
 * own worker hook), then the boot step that loads the runtime's own
 * Prolog code.  The kernel does not depend on the
 * compiler, so the caller passes the boot step (runtime_load_library in
 * compiler/library.h compiles the library until the saved state that
 * carries it exists).
 *
 * An abort point is registered for the whole start-up: a fatal fault on
 * the way (a full atom table, exhausted memory outside the emulator) comes
 * back here and fails the start-up with its message instead of ending the
 * process.  Once the boot step has succeeded the runtime counts as
 * initialised (vr_prolog_initialized): from then on atom creation collects
 * atoms by itself, and an abort rebuilds the worker.
 *
 * Used by the Prolog test runner, the benchmarks and the build tools; one
 * instance per process, engine thread only.
 */
#ifndef VOSTREL_RUNTIME_INSTANCE_H
#define VOSTREL_RUNTIME_INSTANCE_H

struct worker;

/* Loads the runtime's own Prolog code into w; 1 on success. */
typedef int (*runtime_boot_fn)(worker *w, void *cookie);

/* Starts the instance and runs boot (when given) with cookie; null (after
   a message on stderr) when a step fails or a fatal fault interrupts the
   start-up.  Without a boot step the runtime is not marked initialised. */
worker *runtime_instance_start(runtime_boot_fn boot = nullptr, void *cookie = nullptr);

/* The shutdown of what start-up's file and stream layers hold, in the
   order of the real shutdown: pending work items, then every output
   stream flushed and every stream closed, the current directory
   released, and the I/O library stopped.  Whatever leaves the process
   after a run goes through here, so that nothing written is lost.  Safe
   after a start-up that failed half-way, and when called twice. */
void runtime_instance_stop(void);

#endif
