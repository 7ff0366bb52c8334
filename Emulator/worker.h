/* worker.h: the engine's register file, choicepoints, environments and
 * trail entries, and the worker's life cycle.
 *
 * There is one worker, in static storage (self_storage); `self` names the
 * current one.  Its layout is part of the bytecode format: an X operand is
 * the byte offset of term[i] (180 + 4*i), so every field before `term`
 * keeps the width given here.  The six fields next_alt..next_insn followed
 * by term[] have the layout of a choicepoint, so pushing one copies header
 * and arguments in one run and backtracking copies them back.
 *
 * Stack areas (stacks.cpp lays them out, stack_growth.cpp grows them):
 *   heap-and-local block: [guard] heap_start .. heap .. stack_start ..
 *     local stack .. stack_end .. bitmap .. heap_end
 *   trail-and-choice block: trail_start = choice_end .. trail .. free ..
 *     choicepoints (growing down) .. choice_start .. bitmap .. trail_end
 * The heap-and-local block starts with HEAP_GUARD_WORDS words that are
 * never -1 (see stacks.h): code recognises a constrained variable by the
 * word before its cell being -1, and that test also runs on the first heap
 * cell, which must not be misread through whatever precedes the heap.
 *
 * Created by start-up (create_worker) and again after an abort
 * (reinitialize); engine thread only, except that other threads and signal
 * handlers may clear the two volatile heap limits.
 */
#ifndef VOSTREL_WORKER_H
#define VOSTREL_WORKER_H

#include <cstdint>

#include "code_records.h"
#include "termdefs.h"

struct node;
struct frame;
struct definition;
struct sw_on_key;
struct sw_on_key_node;

/* A global or term-stack reference cell: the held term, and a word left free
   for the garbage collector's relocation bit (0 outside a collection). */
struct VR_globref_ {
  TAGGED term;
  TAGGED gc_word;
};
typedef VR_globref_ *VR_globref;
static_assert(sizeof(VR_globref_) == 8);

/* A foreign-interface frame. */
struct vr_fli_info {
  VR_globref fli_stack_start;
  TAGGED *term;
  int excp_flag;
};
static_assert(sizeof(vr_fli_info) == 12);

struct worker {
  vr_fli_info *fli_data;
  node *node_;
  TAGGED *local_uncond;
  TAGGED *global_uncond;
  node *next_node;
  node *segment_node;
  INSN *insn;
  TAGGED *structure;
  std::int32_t value_trail;
  std::uint32_t wake_count;
  definition *predicate;
  sw_on_key *bdd_node_table, *bdd_univ_table, *bdd_subst_table;
  sw_on_key_node *bdd_current_node, *bdd_current_univ, *bdd_current_subst;
  std::int32_t fli_stack_size;
  std::int32_t fli_stack_index;
  VR_globref fli_stack_start;
  TAGGED *heap_start;
  TAGGED *heap_end;
  TAGGED *heap_warn;
  TAGGED *volatile heap_warn_soft;
  TAGGED *volatile int_heap_warn;
  TAGGED *stack_start;
  TAGGED *stack_end;
  TAGGED *stack_warn;
  TAGGED *choice_start;
  TAGGED *choice_end;
  TAGGED *trail_start;
  TAGGED *trail_end;
  TAGGED tagged_choice_start;
  long current_debugger_local;
  TAGGED *numstack_top;
  TAGGED *numstack_end;
  node *current_query;
  double pad;
  /* From here to term[] the layout is that of a choicepoint. */
  try_node *next_alt;
  TAGGED *local_top;
  TAGGED *global_top;
  TAGGED *trail_top;
  frame *frame_;
  INSN *next_insn;
  TAGGED term[256];
  TAGGED worker_vars[32];
  vr_fli_info flidata;
  long events_disabled;
};

/* The fields named `node` and `frame` in the design are node_ and frame_
   here only because C++ does not let a member share its type's name.
   Every offset is fixed: bytecode and saved states name registers by
   offset, and the garbage collector and emulator read the record raw. */
static_assert(offsetof(worker, fli_data) == 0);
static_assert(offsetof(worker, node_) == 4);
static_assert(offsetof(worker, local_uncond) == 8);
static_assert(offsetof(worker, global_uncond) == 12);
static_assert(offsetof(worker, next_node) == 16);
static_assert(offsetof(worker, segment_node) == 20);
static_assert(offsetof(worker, insn) == 24);
static_assert(offsetof(worker, structure) == 28);
static_assert(offsetof(worker, value_trail) == 32);
static_assert(offsetof(worker, wake_count) == 36);
static_assert(offsetof(worker, predicate) == 40);
static_assert(offsetof(worker, bdd_node_table) == 44);
static_assert(offsetof(worker, bdd_univ_table) == 48);
static_assert(offsetof(worker, bdd_subst_table) == 52);
static_assert(offsetof(worker, bdd_current_node) == 56);
static_assert(offsetof(worker, bdd_current_univ) == 60);
static_assert(offsetof(worker, bdd_current_subst) == 64);
static_assert(offsetof(worker, fli_stack_size) == 68);
static_assert(offsetof(worker, fli_stack_index) == 72);
static_assert(offsetof(worker, fli_stack_start) == 76);
static_assert(offsetof(worker, heap_start) == 80);
static_assert(offsetof(worker, heap_end) == 84);
static_assert(offsetof(worker, heap_warn) == 88);
static_assert(offsetof(worker, heap_warn_soft) == 92);
static_assert(offsetof(worker, int_heap_warn) == 96);
static_assert(offsetof(worker, stack_start) == 100);
static_assert(offsetof(worker, stack_end) == 104);
static_assert(offsetof(worker, stack_warn) == 108);
static_assert(offsetof(worker, choice_start) == 112);
static_assert(offsetof(worker, choice_end) == 116);
static_assert(offsetof(worker, trail_start) == 120);
static_assert(offsetof(worker, trail_end) == 124);
static_assert(offsetof(worker, tagged_choice_start) == 128);
static_assert(offsetof(worker, current_debugger_local) == 132);
static_assert(offsetof(worker, numstack_top) == 136);
static_assert(offsetof(worker, numstack_end) == 140);
static_assert(offsetof(worker, current_query) == 144);
static_assert(offsetof(worker, pad) == 148, "i386 aligns a double member to 4");
static_assert(offsetof(worker, next_alt) == 156);
static_assert(offsetof(worker, local_top) == 160);
static_assert(offsetof(worker, global_top) == 164);
static_assert(offsetof(worker, trail_top) == 168);
static_assert(offsetof(worker, frame_) == 172);
static_assert(offsetof(worker, next_insn) == 176);
static_assert(offsetof(worker, term) == 180);
static_assert(offsetof(worker, worker_vars) == 180 + 4 * 256);
static_assert(offsetof(worker, flidata) == 1332);
static_assert(offsetof(worker, events_disabled) == 1344);
static_assert(sizeof(worker) == 1348);

/* Byte offset of argument register i, as X operands encode it. */
constexpr unsigned x_offset(unsigned i) { return 180 + 4 * i; }

/* A choicepoint: 6 header words and the saved argument registers.  It has
   no link to its predecessor: the next older one starts node_offset bytes
   higher, node_offset taken from the try node in next_alt. */
struct node {
  try_node *next_alt;   /* bit 0: call-cleanup entries may be pending */
  TAGGED *local_top;
  TAGGED *global_top;
  TAGGED *trail_top;    /* bit 0: gc segment boundary; bit 1: no clause enumeration here or older */
  frame *frame_;
  INSN *next_insn;
  TAGGED term[1];       /* really node_offset / 4 - 6 words */
};
constexpr unsigned NODE_HEADER_WORDS = 6;
static_assert(offsetof(node, next_alt) == 0 && offsetof(node, local_top) == 4 &&
              offsetof(node, global_top) == 8 && offsetof(node, trail_top) == 12 &&
              offsetof(node, frame_) == 16 && offsetof(node, next_insn) == 20 &&
              offsetof(node, term) == 4 * NODE_HEADER_WORDS);
/* Pushing copies the worker's run next_alt..term[arity-1] as it stands. */
static_assert(offsetof(worker, local_top) - offsetof(worker, next_alt) == offsetof(node, local_top) &&
              offsetof(worker, global_top) - offsetof(worker, next_alt) == offsetof(node, global_top) &&
              offsetof(worker, trail_top) - offsetof(worker, next_alt) == offsetof(node, trail_top) &&
              offsetof(worker, frame_) - offsetof(worker, next_alt) == offsetof(node, frame_) &&
              offsetof(worker, next_insn) - offsetof(worker, next_alt) == offsetof(node, next_insn) &&
              offsetof(worker, term) - offsetof(worker, next_alt) == offsetof(node, term));

/* Flag bits kept in the low bits of a choicepoint's saved words. */
constexpr std::uintptr_t NODE_CLEANUP_PENDING = 1;  /* in next_alt */
constexpr std::uintptr_t NODE_SEGMENT_MARK = 1;     /* in trail_top */
constexpr std::uintptr_t NODE_NO_ENUMERATION = 2;   /* in trail_top */

inline try_node *node_alt(const node *b)
{
  return reinterpret_cast<try_node *>(reinterpret_cast<std::uintptr_t>(b->next_alt) & ~NODE_CLEANUP_PENDING);
}
inline TAGGED *node_trail_top(const node *b)
{
  return reinterpret_cast<TAGGED *>(reinterpret_cast<std::uintptr_t>(b->trail_top) &
                                    ~(NODE_SEGMENT_MARK | NODE_NO_ENUMERATION));
}
/* Has the heap top h reached the soft heap limit?  The limit is cleared
   (null) to force the slow path; a relational comparison with a null
   pointer is not defined, so the addresses are compared as integers. */
inline bool heap_soft_limit_reached(const worker *w, const TAGGED *h);

/* The next older choicepoint. */
inline node *node_previous(const node *b)
{
  return reinterpret_cast<node *>(reinterpret_cast<char *>(const_cast<node *>(b)) + node_alt(b)->node_offset);
}

/* The bottom choicepoint lies this many words below choice_start: its
   header and three saved arguments. */
constexpr unsigned BOTTOM_NODE_WORDS = NODE_HEADER_WORDS + 3;
/* The scratch choicepoint that stack shifting and collection write below
   node, and the empty value trail's offset from node. */
constexpr std::int32_t VALUE_TRAIL_EMPTY = -6;

/* An environment: the previous one, the continuation, then the clause's
   permanent (Y) variables.  The code word before a continuation holds the
   size in bytes of the environment live there, header included. */
struct frame {
  frame *frame_;
  INSN *next_insn;
  TAGGED term[1];       /* really cp[-1] / 4 - 2 words */
};
constexpr unsigned FRAME_HEADER_WORDS = 2;
static_assert(offsetof(frame, frame_) == 0 && offsetof(frame, next_insn) == 4 &&
              offsetof(frame, term) == 4 * FRAME_HEADER_WORDS);
/* Byte offset of permanent variable i, as Y operands encode it. */
constexpr unsigned y_offset(unsigned i) { return 8 + 4 * i; }

/* Trail entries.  The trail's first word is always 0; live entries start at
   trail_start + 1.
     binding       1 word   address of the bound cell (reference tag)
     mutable       3 words  the $mutable/2 term (structure pointer), its old
                            value, its old stamp (a small integer)
     clean-up      1 word   list pointer to [Flag | Goal]; Flag the small
                            integer 0 once the clean-up has run
     hole          1 word   0
   A forward scan tells a mutable entry by its first word, a backward scan
   by its last. */
constexpr unsigned TRAIL_MUTABLE_WORDS = 3;
constexpr TAGGED TRAIL_HOLE = 0;
constexpr inline bool trail_starts_mutable(TAGGED first) { return (first & 3) == STR_TAG; }
constexpr inline bool trail_ends_mutable(TAGGED last) { return (last & 7) == SMALL_TAG; }
constexpr inline bool trail_is_cleanup(TAGGED first) { return (first & 3) == LST_TAG; }
constexpr inline bool trail_is_binding(TAGGED first) { return first != TRAIL_HOLE && (first & 3) == REF_TAG; }
/* Room that anything pushing trail entries outside the emulator keeps
   between trail_top and node (else choice_overflow(w, TRAIL_MARGIN)). */
constexpr int TRAIL_MARGIN = 512;

/* ---- The worker's life cycle (engine_state.cpp) ---- */

extern worker *self;
extern worker self_storage;
/* 1 while self_storage holds no live worker (dealloc_worker sets it). */
extern int self_storage_free;

worker *get_current_worker(void);
void set_current_worker(worker *w);

/* Clears self_storage and lays down the initial engine state in it;
   null when that fails (the partly built worker is released).  Does not
   set self. */
worker *create_worker(void);
/* Releases everything the worker owns and clears self when it is w. */
void dealloc_worker(worker *w);
/* The initial engine state on a cleared worker; negative on failure. */
int init_each_time(worker *w);
/* After an abort: releases the per-run state and replaces the worker (w,
   or the current one when null) by a fresh one, which becomes current.
   Does nothing before VR_prolog_initialized is set. */
void reinitialize(worker *w);

/* Layers built later plug into the worker's set-up here; each hook is
   skipped while null.  Codes: a negative result fails init_each_time. */
struct worker_init_hooks {
  void (*init_stream_again)(worker *w);   /* streams, prompt, break level, debugger flag */
  void (*signals_init)(void);
  int (*event_queue_init)(void);          /* negative: its error code */
  int (*init_each_time_file)(void);       /* negative: failure (-10001 reported) */
  void (*bdd_begin)(worker *w);
  void (*bdd_end)(worker *w);
  void (*event_queue_free)(void);
  void (*setof_free)(void);
};
extern worker_init_hooks worker_hooks;
constexpr int INIT_FILE_STATE_FAILED = -10001;

inline bool heap_soft_limit_reached(const worker *w, const TAGGED *h)
{
  return reinterpret_cast<std::uintptr_t>(w->heap_warn_soft) <= reinterpret_cast<std::uintptr_t>(h);
}

#endif
