/* runtime_instance.h: bringing up a runtime instance in this process.
 *
 * The order is the one every later step relies on: memory manager, canned
 * code, worker, atoms, modules, the emulator's handler tables, operators
 * and the reader's flags, then the escape predicates the emulator enters by
 * itself.  Until the runtime library provides those escapes in Prolog, a
 * minimal set stands in: true/0, fail/0, $unwind_stack/0, $user_event/0,
 * raise_exception/1 (store the ball, unwind) and undefined_goal/3 (raise
 * error(existence_error(procedure, M:N/A), M:N/A)).
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
