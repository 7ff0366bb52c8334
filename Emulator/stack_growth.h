/* stack_growth.h: making room when a stack runs short, keeping every
 * pointer right when a stack moves, and memory faults.
 *
 * The heap-and-local block and the trail-and-choice block (laid out by
 * stacks.cpp) are grown, re-divided or shifted here; every root that
 * holds an address inside a moved block (global references, the
 * term-reference stack, the trail, environments, choicepoints) is
 * relocated in one linear pass per area.  Argument registers, `structure`,
 * `insn` and native pointers are NOT relocated: a caller that needs live
 * registers across a move saves them in an environment first
 * (call_overflow does this for native built-ins).
 *
 * Callers: the emulator at predicate entry (heap_overflow,
 * collect_cleanup_from_trail, collect_goals_from_trail), native built-ins
 * (call_overflow), everything that pushes trail entries or choicepoints
 * (choice_overflow), the memory manager on exhaustion (do_memory_fault).
 * Engine thread only; the emulator is stopped while anything here runs.
 */
#ifndef VOSTREL_STACK_GROWTH_H
#define VOSTREL_STACK_GROWTH_H

#include <csetjmp>
#include <cstdint>

#include "termdefs.h"

struct worker;
struct definition;

/* ---- Heap and local stack ---- */

/* Makes heap_margin free heap words and stack_margin free local-stack words
   available: collects garbage when allowed, then re-divides the block or
   moves it to a larger one.  heap_margin 0 asks for a collection whatever
   the flags say.  Argument registers are not preserved (see call_overflow). */
void heap_overflow(worker *w, int heap_margin, int stack_margin);

/* Collections put off while a goal runs (the term writer: a variable's
   name is its place on the heap, which a collection changes).  Each
   deferral belongs to the choicepoint that was newest when it was made
   (the caller makes one first); one whose choicepoint backtracking or an
   exception has removed is dropped.  Meanwhile a short heap grows.
   $defer_gc/0 opens one, $resume_gc/0 closes the newest. */
int prolog_defer_gc(worker *w);
int prolog_resume_gc(worker *w);
bool gc_deferred(worker *w);

/* Moves the heap-and-local block to one of new_bytes (rounded by the block
   allocator), divided for at least min_heap heap and min_stack local words,
   and relocates every pointer into it. */
void resize_heap_and_stack(worker *w, unsigned cur_bytes, unsigned new_bytes, int min_heap,
                           int min_stack);

/* Saves term[0..arity-1] in an environment, calls heap_overflow(w, pad,
   528), copies them back and returns the restored next_insn.  For native
   built-ins about to build up to pad heap words. */
INSN *call_overflow(worker *w, int pad, int arity);

/* Gives back stack space the worker does not use (trimcore level 2): the
   heap-and-local block shrinks to what its used heap plus 1152 words and
   its used local stack plus 528 words need, the trail-and-choice block
   (after the trail is collected) to what its used trail and choicepoints
   plus 512 words need; neither below its size at start-up, and neither
   ever grows here.  Argument registers are not preserved. */
void shrink_stacks(worker *w);

/* ---- Trail and choicepoints ---- */

/* Ensures at least 2 * |pad| words between trail_top and the lowest word
   of the value trail, collecting the trail first unless pad < 0. */
void choice_overflow(worker *w, int pad);

/* Moves the trail-and-choice block to one of new_bytes. */
void resize_trail_and_choice(worker *w, unsigned cur_bytes, unsigned new_bytes);

/* Compacts the trail from `from` to trail_top: drops holes (word 0) and
   mutable entries that no choicepoint needs, re-threading mutable stamp
   chains. */
void compress_trail(worker *w, TAGGED *from);

/* Pending clean-up goals of the newest choicepoint's trail segment: runs
   $free/1 handles at once and returns the predicate to call next (pred
   itself, or preds.call_cleanup with X0 the goal after a call of pred has
   been pushed). */
definition *collect_cleanup_from_trail(worker *w, definition *pred);

/* The wake_count newest bindings of constrained variables become calls of
   preds.fd_unify, preds.call_goals or preds.unify_cva, each pushed so that
   it returns into the previous one and finally into pred. */
definition *collect_goals_from_trail(worker *w, definition *pred);

/* ---- Memory faults ---- */

/* The jump buffer of the innermost active emulator activation, or null when
   no activation may be restarted.  The emulator's driver sets it around
   each activation; the saved-state loader clears it while it restores. */
extern std::jmp_buf *do_wam_env;
/* Installs env as the restart point and returns the previous one. */
std::jmp_buf *set_do_wam_env(std::jmp_buf *env);

/* The value an activation's setjmp returns after a memory fault.  The
   driver then unwinds with eglobal->memory_fault_exception. */
constexpr int MEMORY_FAULT_JUMP = -2;

/* Records culprit (a memory statistics bin) in eglobal->mm.culprit, then
   jumps to do_wam_env with MEMORY_FAULT_JUMP; with no restart point it is
   the fatal fault "Resource error: insufficient memory".  msg is unused.
   vr_memory_fault (memman.h) is the interface's name for it. */
[[noreturn]] void do_memory_fault(const char *msg, int culprit);

/* The value an activation's setjmp returns when the atom table is full.
   The driver unwinds with eglobal->atom_table_full_exception. */
constexpr int ATOM_TABLE_FULL_JUMP = -3;

/* Atom creation found the table full even after a collection: inside an
   emulator activation (once start-up has built the ball) a jump to
   do_wam_env with ATOM_TABLE_FULL_JUMP, so that the query gets a resource
   error it can catch; otherwise the fatal fault "the atom table is full". */
[[noreturn]] void atom_table_full(void);

/* ---- Hooks into layers built elsewhere ---- */

/* The heap garbage collector's entry points.  While a hook is null its
   step is skipped: no trail collection, no heap collection. */
struct stack_gc_hooks {
  void (*trail_gc)(worker *w);
  void (*compress_trail_gc)(worker *w, int from_gc); /* compressTrail */
  /* Collects from segment_node; returns the grey words since the last
     whole-heap collection. */
  std::int64_t (*garbage_collect)(worker *w);
  void (*init_choicepoints)(worker *w);
};
extern stack_gc_hooks gc_hooks;

/* The finite-domain library's manager (message 1: the heap moved by
   argument bytes; 4: check your queues).  Null until the library loads. */
extern void (*call_fd_manager_hook)(int message, void *argument);
void call_fd_manager(int message, void *argument);
/* The decision-diagram tables, whose keys are heap addresses. */
extern void (*bdd_heap_overflow_hook)(worker *w, int delta, TAGGED *global_top);
/* $free/1's native body, run on a clean-up handle in X0. */
extern int (*prolog_free_hook)(worker *w);
/* True when the constrained variable (a reference to its cell) has no goals
   and no attribute of a module other than fd_module. */
extern int (*pure_attributes_hook)(TAGGED var, void *fd_module);

/* Statistics kept for tuning reports. */
struct heap_overflow_counters {
  std::int64_t heap_overflows, heap_margin_overflows, stack_margin_overflows,
      stack_margin_only_overflows, heap_overflow_gcs, stack_margin_only_overflow_gcs;
};
extern heap_overflow_counters overflow_counts;

/* ---- Consistency checker (debugging aids; nothing calls them) ---- */

extern int verbose_proofread, assert_proofread, assert_minfo_guts;
/* Reports every bad word of the stacks and roots; non-zero when any. */
int gc_proofread(int quiet);
/* Reports non-zero collector bitmap bytes; non-zero when any. */
int check_gc_bits(int quiet);
int maybe_check_gc_bits(void);
/* False for words that cannot be a term in the stacks in use. */
int vr_term_looks_sane(TAGGED t);

#endif
