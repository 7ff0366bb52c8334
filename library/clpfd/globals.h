/* globals.h: the protocol between a native global constraint and its
 * callers, and the memory a constraint instance owns.
 *
 * A global constraint is one native function (fd_global_fn, fd_init.h) run
 * by the propagation loop, or by Prolog through $fd_dispatch_global_fast/6.
 * On entry argument register 0 holds its state term and register 1 its
 * item global(StateMutable, Constraint, StatusMutable, Ent, Source);
 * register 2 is the Actions accumulator, which the function first sets to
 * [] and finally stores into Actions with dvar_export_done.
 *
 * A state term is any compound whose last two arguments are Handle and
 * Stamp.  Handle is unbound until the first run allocates the instance's
 * data block, and then the list cell [Flag | $free(Block + 3)]: Flag
 * unbound while the block is in use, 0 once it has been disposed of, 1
 * once the constraint is entailed and the block waits for disposal.  The
 * cell is pushed onto the trail when it is made, so backtracking past the
 * first run calls the block's destructor (unless Flag is 0); a cut over a
 * choicepoint marked by fd_perm_free disposes of a block whose Flag is 1.
 * Every run and every daemon call increases Stamp; the block keeps its own
 * copy, and a difference means the engine backtracked since the block was
 * last brought up to date.
 *
 * Callers: the native global constraints, the propagation loop (daemons),
 * the engine's untrailing and cut (destructors), Prolog (module clpfd).
 */
#ifndef TRELIX_CLPFD_GLOBALS_H
#define TRELIX_CLPFD_GLOBALS_H

#include <cstddef>

#include "dvar.h"
#include "fd_init.h"
#include "fd_state.h"

/* The first two words of every data block. */
struct daemon_frame {
  /* Releases everything the block owns, then the block itself. */
  void (*destructor)(void *block);
  /* Present when the constraint attaches daemons: called from queue 4 with
     the reference of the changed variable's attribute and the constraint's
     item. */
  void (*daemon)(VREnv *env, worker *w, void *block, VR_globref attr_ref, TAGGED global);
};
static_assert(sizeof(daemon_frame) == 8);

/* A constraint's reusable scratch buffer: size 0 means a fresh allocation
   on every request. */
struct size_mem {
  std::size_t size;
  void *mem;
};

/* The start of every run of a global constraint's function: the number
   stack emptied (the run's scratch sets restart at its first block) and
   the Actions accumulator set to []; returns the current worker. */
inline worker *fd_global_run_start(VREnv *env)
{
  worker *w = fd_current_worker(env);
  w->numstack_end = nullptr;
  w->term[2] = atom_nil;
  return w;
}

/* The state term for this run, stored by the caller into NewState: the
   state in register 0 with its Stamp increased (in place when the term is
   younger than the newest choicepoint, else on a fresh heap copy that also
   replaces register 0).  handle: the dereferenced Handle; stamp: the
   Stamp before the increase; committed: work done now survives
   backtracking (Handle unbound, or its cell younger than the newest
   choicepoint). */
TAGGED fd_unify_output_state(VREnv *env, worker *w, TAGGED *handle, long *stamp, int *committed);
/* The opening of a run that keeps a stamp: empties the number stack and
   the Actions accumulator, then stores fd_unify_output_state's term into
   new_state; returns the worker. */
worker *fd_run_begin(VREnv *env, VR_term_ref new_state, TAGGED *handle, long *stamp, int *committed);
/* Register 0's state unchanged, for constraints that keep no stamp. */
TAGGED fd_static_output_state(worker *w, TAGGED *handle, int *committed);

/* The data block of an instance whose Handle is unbound: `bytes` from the
   library's allocator, the cell [Flag | $free(Block + 3)] made, trailed and
   bound to handle. */
void *fd_perm_alloc(VREnv *env, worker *w, std::size_t bytes, TAGGED handle);
/* The data block of a bound Handle. */
void *fd_perm_data(TAGGED handle);
/* Disposes of the running constraint's block at entailment (the state in
   register 0): at once when committed, else when the choicepoints that
   could bring the constraint back are cut. */
void fd_perm_free(VREnv *env, worker *w);

void *fd_perm_alloc2(VREnv *env, std::size_t bytes, size_mem *sm);
void fd_perm_free2(VREnv *env, void *block, size_mem *sm);


/* Word-aligned scratch on the number stack, valid for one run. */
void *fd_temp_alloc(VREnv *env, worker *w, std::size_t bytes);

/* A daemon about to change its block: increases the Stamp of the state
   term of the item at *global (which may be re-read after heap growth) and
   returns that state term. */
TAGGED fd_daemon_copy_state(VREnv *env, worker *w, TAGGED *global);

/* Links a daemon item daemon(Global, AttrRef, Status, Ent, Block) into the
   suspension list of dv's variable named by list_functor (dom/1, min/1,
   max/1, minmax/1; anything else: val), unless the variable is fixed. */
void dvar_attach_daemon(VREnv *env, worker *w, Dvar dv, void *block, TAGGED global, TAGGED list_functor);

/* Ends a run: code 1 prepends exit, -1 fail, 0 nothing; stores the
   accumulator into actions.  0 when an overflow was turned into failure
   or an exception, else 1. */
int dvar_export_done(VREnv *env, worker *w, VR_term_ref actions, int code);
/* Before any write-back of a run (a write-back may collect the heap): a
   changed cache keeps no heap cell afterwards, not even a set cache whose
   bounds alone moved.  Unchanged caches are left alone. */
void dvar_pruning_settle(VREnv *env, worker *w, Dvar dv);
/* dvar_export_do of a changed cache; nothing for an unchanged one. */
void dvar_export_changed(VREnv *env, worker *w, Dvar dv);

/* Rewrite requests, prepended to the accumulator (or done at once). */
void dvar_export_equal(VREnv *env, worker *w, Dvar x, Dvar y);
void dvar_export_leqc(VREnv *env, worker *w, Dvar x, Dvar y, long k);
void dvar_export_alldiff(VREnv *env, worker *w, Dvar dvs, int n);

/* Number of list cells, stopping at any non-list tail. */
long fd_list_length(TAGGED list);
/* From the pair X-Attr: refs[0] gets Attr, refs[1] the dereferenced X. */
void fd_get_var_and_attr(TAGGED pair, VR_globref refs);

/* Runs the native function of constraint on state: 0 when there is none
   or the run overflowed, else 1. */
int dispatch_global_fast(VREnv *env, worker *w, TAGGED constraint, VR_term_ref state, VR_term_ref new_state,
                         VR_term_ref actions, VR_term_ref global);
/* $fd_dispatch_global_fast(Constraint, State, NewState, Actions, Global, Result) */
long prolog_fd_dispatch_global_fast_vrenv_multi_vr(VREnv *env, VR_term_ref constraint, VR_term_ref state,
                                                   VR_term_ref new_state, VR_term_ref actions, VR_term_ref global);

/* The body of the foreign predicate $fd_<name>/3 (name: its name): runs fn
   when register 1 holds a proper item of fn's constraint and register 0
   its state, unifying NewState and Actions with the results; raises a
   domain error otherwise (a direct call from Prolog has no item). */
void fd_run_global_entry(VREnv *env, fd_global_fn fn, const char *name, VR_term_ref state, VR_term_ref new_state,
                         VR_term_ref actions);

#endif
