/* sw_on_key.h: the database's one keyed table, from a TAGGED key to a pointer.
 *
 * Modules by name, predicates by functor, blackboard values, dynamic-clause
 * keys, database references and the first-argument switch of compiled
 * predicates all use it; the emulator probes the switch inline at predicate
 * entry, so the layout and the probe sequence are fixed:
 *   - `mask` is 8 * (slots - 1), a byte mask over `tab`; slots is a power of
 *     two, at least 2, so the first probe is one AND;
 *   - a slot with key 0 is empty and holds the table's default value (the
 *     `otherwise` given at creation), so a miss returns the default with no
 *     separate branch;
 *   - a deleted entry keeps its key and has a null value until the table is
 *     rebuilt; `count` counts keyed slots, deleted ones included;
 *   - a table is never full while it is probed: dyn_puthash rebuilds it once
 *     more than three quarters of the slots are keyed (1 of 2 for the
 *     smallest table).
 * Tables live in "sw_on_key space" (mm bin MM_BIN_SW_ON_KEY).  Engine thread
 * only.
 */
#ifndef VOSTREL_SW_ON_KEY_H
#define VOSTREL_SW_ON_KEY_H

#include <cstddef>
#include <cstdint>

#include "code_records.h"
#include "termdefs.h"

struct definition;
struct instance;
struct mod_def;
struct sw_on_key;
struct sw_on_key_node;

/* What a slot holds; which member is meant depends on the table. */
union sw_value {
  void *any;
  INSN *code;            /* first-argument switch: entry code */
  try_node *try_chain;
  emul_info *clause;
  instance *inst;
  definition *def;
  mod_def *mod;
  sw_on_key_node *node;
  sw_on_key *table;
  TAGGED word;
};
static_assert(sizeof(sw_value) == 4);

struct sw_on_key_node {
  TAGGED key;            /* 0: empty */
  sw_value value;
};
static_assert(sizeof(sw_on_key_node) == 8);

struct sw_on_key {
  std::uint32_t mask;    /* 8 * (slots - 1) */
  std::int32_t count;    /* slots whose key is set */
  sw_on_key_node tab[1]; /* really `slots` entries */
};
static_assert(offsetof(sw_on_key, tab) == 8);

/* Slots of a table, and the byte size of a table of n slots. */
inline std::uint32_t sw_slots(const sw_on_key *sw) { return (sw->mask >> 3) + 1; }
constexpr std::size_t sw_on_key_bytes(std::uint32_t slots) { return 8 + 8 * static_cast<std::size_t>(slots); }
/* The slot at byte offset `offset` (a multiple of 8 within the mask). */
inline sw_on_key_node *sw_slot_at(sw_on_key *sw, std::uint32_t offset)
{
  return reinterpret_cast<sw_on_key_node *>(reinterpret_cast<char *>(sw->tab) + offset);
}

/* First step of the probe after the home slot; it grows by 8 per probe. */
constexpr std::uint32_t SW_PROBE_STEP = 0x5555555D;

/* A table of `size` slots (a request below 2 gives 2; one that is not a
   power of two is rounded up), count 0, every key 0, every value
   `otherwise`.  Exhaustion is a memory fault. */
sw_on_key *new_switch_on_key(int size, void *otherwise);
void dispose_switch_on_key(sw_on_key *sw);

/* The slot holding key, else the empty slot where it would go (whose value
   is the default).  The table must have an empty slot. */
sw_on_key_node *incore_gethash(sw_on_key *sw, TAGGED key);
/* The same, also on a full table: then the slot with key, else the lowest
   slot with a null value, else null. */
sw_on_key_node *safe_incore_gethash(sw_on_key *sw, TAGGED key);
/* The slot for key, inserted when absent (key set, count raised, the
   table rebuilt with a null default when expansion_due; the slot returned
   is then the one in the new table).  The caller stores the value; a newly
   inserted slot holds the old default until it does. */
sw_on_key_node *dyn_puthash(sw_on_key **swp, TAGGED key);

/* count above the fill limit: 1 for 2 slots, else slots - slots / 4. */
bool expansion_due(const sw_on_key *sw);
/* Slots for pop live entries: 4, doubled while three quarters of it is
   below pop. */
int population_table_size(int pop);
/* 0 for 0, else the smallest power of two not below n. */
int power_of_two(int n);

/* Rebuilds *psw with the entries that have a key and a non-null value (and
   `precious`, a just-inserted slot whose value is still to be filled), at
   population_table_size of their number, with default `otherwise`; frees
   the old table.  Returns precious's slot in the new table (null when
   precious is null). */
sw_on_key_node *expand_sw_on_key(sw_on_key **psw, void *otherwise, sw_on_key_node *precious);

#endif
