/* worker.h: the engine's register file.
 *
 * There is one worker, in static storage; `self` names it.  Its layout is
 * part of the bytecode format: an X operand is the byte offset of term[i]
 * (180 + 4*i), so every field before `term` keeps the width given here.
 * The six fields next_alt..next_insn followed by term[] have the layout of a
 * choicepoint, so pushing one copies header and arguments in one run.
 * Creation, stack areas and growth come with the stack Parts; this header
 * fixes the record.
 */
#ifndef VOSTREL_WORKER_H
#define VOSTREL_WORKER_H

#include "termdefs.h"

struct node;
struct frame;
struct try_node;
struct definition;
struct sw_on_key;
struct sw_on_key_node;

/* A global or term-stack reference cell: the held term, and a word left free
   for the garbage collector's relocation bit. */
struct VR_globref_ {
  TAGGED term;
  TAGGED gc_word;
};
typedef VR_globref_ *VR_globref;

/* A foreign-interface frame. */
struct vr_fli_info {
  VR_globref fli_stack_start;
  TAGGED *term;
  int excp_flag;
};

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
   here only because C++ does not let a member share its type's name. */
static_assert(offsetof(worker, numstack_top) == 136);
static_assert(offsetof(worker, pad) == 148, "i386 aligns a double member to 4");
static_assert(offsetof(worker, next_alt) == 156);
static_assert(offsetof(worker, global_top) == 164);
static_assert(offsetof(worker, term) == 180);
static_assert(offsetof(worker, worker_vars) == 180 + 4 * 256);

/* Byte offset of argument register i, as X operands encode it. */
constexpr unsigned x_offset(unsigned i) { return 180 + 4 * i; }

extern worker *self;

#endif
