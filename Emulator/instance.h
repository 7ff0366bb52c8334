/* instance.h: stored terms.
 *
 * An `instance` holds one term outside the stacks (a dynamic clause, a
 * recorded term, a blackboard value, a setof element, the stored exception)
 * as a relocatable image: N words after the 48-byte header, in which every
 * reference, structure or list pointer is the byte offset of its target
 * from the start of `code` plus its tag; constants and the words of boxed
 * numbers (header, payload, trailer) stand as they are.  The image holds a
 * list pair [Head | Tail]: word N - 2 is the head, word N - 1 the tail.
 * Decision-diagram nodes ($bdd_pos/3, $bdd_neg/3, 4 words each) come first,
 * in ascending order of their first argument, so that the image of equal
 * diagrams is equal.
 *
 * The header and its links belong to the predicate database (clause chains,
 * the logical update view, dead-clause reclamation); the image is made by
 * compile_term and brought back onto the heap by get_instance.  The layout
 * is fixed: saved states and the database read it raw.
 */
#ifndef VOSTREL_INSTANCE_H
#define VOSTREL_INSTANCE_H

#include <cstddef>
#include <cstdint>

#include "termdefs.h"

struct worker;
struct definition;
struct ITABLE;

struct instance {
  instance *forward;       /* next clause; in the last, the first with bit 0 set */
  instance *backward;      /* previous clause; in the first, the last */
  definition *root;        /* owning predicate, or (cast) the setof root */
  instance *next_forward;  /* next in the same key chain; in the last, the chain's first | 1 */
  instance *next_backward; /* previous in the key chain; in the first, the chain's last */
  TAGGED key;              /* first-argument key (instance_key) */
  TAGGED rank;             /* small integer; plain 0 once detached by abolish */
  TAGGED extra;            /* file atom ([] when none), or the next dead instance */
  std::uint16_t birth;     /* clock value when added */
  std::uint16_t death;     /* clock value when erased; INSTANCE_ALIVE while alive */
  ITABLE *source_link;     /* source positions, or null */
  std::uint32_t objsize;   /* bytes of the whole record: 48 + 4 * N */
  std::int32_t bdd_count;  /* decision-diagram nodes at the start of code */
  TAGGED code[1];          /* really N words */
};
static_assert(offsetof(instance, forward) == 0 && offsetof(instance, backward) == 4 &&
              offsetof(instance, root) == 8 && offsetof(instance, next_forward) == 12 &&
              offsetof(instance, next_backward) == 16 && offsetof(instance, key) == 20 &&
              offsetof(instance, rank) == 24 && offsetof(instance, extra) == 28 &&
              offsetof(instance, birth) == 32 && offsetof(instance, death) == 34 &&
              offsetof(instance, source_link) == 36 && offsetof(instance, objsize) == 40 &&
              offsetof(instance, bdd_count) == 44 && offsetof(instance, code) == 48,
              "the instance layout is read raw by saved states and the database");
constexpr std::size_t INSTANCE_HEADER_BYTES = 48;
constexpr std::uint16_t INSTANCE_ALIVE = 0xFFFF;

/* Words of the image. */
inline std::uint32_t instance_words(const instance *ins)
{
  return (ins->objsize - static_cast<std::uint32_t>(INSTANCE_HEADER_BYTES)) / 4;
}

/* Functor words of decision-diagram nodes. */
constexpr TAGGED functor_Dbdd_pos = MakeFunctor(MakeAtom(133), 3);
constexpr TAGGED functor_Dbdd_neg = MakeFunctor(MakeAtom(134), 3);
constexpr inline bool is_bdd_functor(TAGGED f) { return f == functor_Dbdd_pos || f == functor_Dbdd_neg; }

/* ---- Making images (instances.cpp) ---- */

/* The first-argument key of a stored pair's head: for a compound head its
   first argument dereferenced (the functor word of a compound term, the
   header of a boxed number, functor_list for a list, the word itself for a
   constant, 0 for an unbound variable); 0 for a head that is not compound. */
TAGGED instance_key(TAGGED head);

/* A new instance (instance space) holding the image of the list pair
   `pair`; the heap is grown (live argument registers 0..live-1 kept) and
   the copy retried until it fits.  The pair's head must not be an unbound
   variable that occurs again in its tail. */
instance *compile_term(worker *w, TAGGED pair, int live);

/* ---- Copies of stored terms (term_sup.cpp) ---- */

/* Copies the image of ins to the heap top and moves global_top past it;
   the stored pair is the last two words copied, the tail on top.  Makes
   room first for the image, margin words and 128 more (call_overflow with
   `live` argument registers).  Decision-diagram nodes are made canonical
   again (bdd hooks below).  Returns 0 when the image holds no such node,
   else their number. */
int get_instance(worker *w, instance *ins, int live, int margin);

/* The preallocated exception for memory faults: resource_error(0, memory)
   in an instance of 68 bytes (instance space; exhaustion is fatal). */
instance *memory_fault_term(void);

/* The ball of a full atom table: error(resource_error(Atoms), _) in an
   instance of 76 bytes (instance space), Atoms being the resource's name,
   an atom the caller keeps registered. */
instance *atom_table_full_term(TAGGED atoms);

/* The boxed-number key of a recorded term (the first argument of the
   structure that the image's head word points to), copied to the heap top;
   returns it as a term. */
TAGGED decode_instance_key(worker *w, const instance *ins);

/* $large_data(N, Boxed, Word): word N of a boxed number, header as 0. */
int prolog_large_data(worker *w);

/* The decision-diagram library makes nodes rebuilt by get_instance
   canonical through these; while they are null the nodes are left as
   copied.  reset: drop unique-table entries at or above the heap address;
   lookup: the registered node equal to the node term, registering it when
   there is none. */
struct instance_bdd_hooks {
  void (*reset_node)(worker *w, TAGGED *heap_mark);
  TAGGED (*lookup_external)(worker *w, TAGGED node_term);
};
extern instance_bdd_hooks bdd_hooks;

#endif
