/* globref.h: term references and global term references.
 *
 * Native code never keeps a TAGGED word across anything that may move the
 * heap; it keeps a reference instead, a two-word VR_globref_ cell whose
 * first word the garbage collector and the stack shifter update.
 *
 * Term references live on the worker's term-reference stack
 * (fli_stack_start, fli_stack_index in use, fli_stack_size capacity), are
 * named by their index (VR_term_ref) so that the stack may be reallocated
 * as it doubles, and are released by resetting the index to a mark.  Slots
 * 0 to 9 are made at worker creation: 0-4 and 9 fresh heap variables, 5-8
 * the mutables '$mutable'(0, 0) named clpfd, tessik, global and reserved;
 * their 18 heap words lie below the bottom choicepoint's heap top.
 *
 * Global references outlive queries: each VR_alloc_globrefs call gets a
 * block of its own (globref_block header, then the slots), linked into the
 * circular list rooted at eglobal->globref_blk until VR_free_globrefs.
 * Collectors visit every slot of every block with GlobRefIter.
 *
 * Engine thread only; the VR_ functions use the current worker (self).
 */
#ifndef VOSTREL_GLOBREF_H
#define VOSTREL_GLOBREF_H

#include "vostrel/vostrel.h"

#include "datadefs.h"
#include "termdefs.h"
#include "worker.h"

typedef int VR_term_ref;

constexpr int FLI_STACK_INITIAL_SLOTS = 256;
constexpr int FLI_PREDEFINED_SLOTS = 10;
constexpr int FLI_PREDEFINED_HEAP_WORDS = 18;
/* The mutable slots reachable from Prolog by name. */
constexpr VR_term_ref FLI_SLOT_CLPFD = 5, FLI_SLOT_TESSIK = 6, FLI_SLOT_GLOBAL = 7,
                      FLI_SLOT_RESERVED = 8;

/* Makes the term-reference stack and its predefined slots, points fli_data
   at the worker's own flidata, and makes sure the global-reference list
   exists (see globref.cpp for what happens to blocks of an earlier
   worker).  Runs inside init_each_time, after the bottom choicepoint. */
void fli_stack_init(worker *w);
/* Frees the term-reference stack (dealloc_worker). */
void fli_stack_deinit(worker *w);

VR_term_ref VR_new_term_ref(void);
/* The first of n consecutive new slots holding []; n 0 gives the mark. */
VR_term_ref VR_new_term_refs(int n);
/* Releases every slot from mark on; a mark outside 0..index sets vr_errno
   to VR_ERR_DOMAIN and changes nothing. */
void VR_reset_term_refs(VR_term_ref mark);
TAGGED vr_ref_term(VR_term_ref ref);
/* The slot, or null when ref is not in use. */
VR_globref vr_get_globref_checked(VR_term_ref ref, worker *w);

/* n global slots holding []; null when n is negative. */
VR_globref VR_alloc_globrefs(int n);
/* Unlinks and frees the block that VR_alloc_globrefs returned slots of. */
void VR_free_globrefs(VR_globref slots);

/* Visits slots 0..nrefs-1 of every block, in forward order from the block
   after the root, skipping empty blocks:
     GlobRefIter it; globref_iter_init(&it);
     while (!globref_iter_empty(&it)) use(globref_iter_next(&it)); */
struct GlobRefIter {
  globref_block *blk;
  globref_block *root;
  VR_globref next;
  VR_globref end;
};
void globref_iter_init(GlobRefIter *it);
bool globref_iter_empty(const GlobRefIter *it);
VR_globref globref_iter_next(GlobRefIter *it);

#endif
