/* dynamic_clauses.h: the clauses of dynamic predicates, the logical update
 * view, database references, erased-clause reclamation and the set-of
 * roots.
 *
 * A dynamic predicate's code is an int_info (predicates.h): every clause,
 * an instance (instance.h), is in the predicate's clause list and in
 * exactly one key chain (unbound first argument: varcase; list cell:
 * lstcase; any other key: its slot of `indexer`).  Both are circular
 * doubly linked lists whose last element's forward link is the first
 * element with bit 0 set.  Ranks increase along the clause list, so the
 * two chains a keyed call walks merge back into clause order.
 *
 * Logical update view: every change stamps its clause with def_clock
 * (birth, or death) and sets use_clock to it; a call that leaves a
 * choicepoint records use_clock as its view t and moves def_clock past it,
 * so it sees exactly the clauses with birth <= t < death.  An erased
 * clause stays linked (calls skip it by its death) until no open view can
 * see it; then it is unlinked and freed.  A clause is freed at once when
 * no enumeration choicepoint exists or when it was never visible (birth =
 * death).  Bit 1 of a choicepoint's saved trail_top caches "no enumeration
 * choicepoint here or older", so walks stop at the first marked one.
 *
 * Database references are $ref(Address + 3, Stamp); a reference is valid
 * while eglobal->dbref_table maps the address to that stamp, and a clause
 * that is freed loses its entry, so a stale or forged reference decodes to
 * nothing.  Every word Prolog hands back (references, predicate words,
 * set-of roots) is checked against the tables before it is trusted.
 *
 * Reclamation may be asked for from inside the memory manager (trimming,
 * defragmentation during an allocation); while this layer is itself
 * changing its lists such requests are skipped.
 *
 * Callers: the emulator (interpreted entry, $current_instance/4,
 * $instance/3, RETRY_INSTANCE through wam_clauses), the runtime library's
 * database and all-solutions predicates (through the built-ins), the
 * loader, the memory manager and the atom collector (reclamation hooks),
 * undefining a predicate (abolish_interpreted_hook).  Engine thread only.
 */
#ifndef VOSTREL_DYNAMIC_CLAUSES_H
#define VOSTREL_DYNAMIC_CLAUSES_H

#include <cstdint>

#include "instance.h"
#include "predicates.h"
#include "termdefs.h"

struct worker;

/* Erased clauses of one predicate waiting to be freed, in the order they
   were erased, linked through their `extra`; the clauses detached by
   abolishing (rank 0) come first ("gcdef space"). */
struct dc_chain {
  instance *first;
  instance *last;
  std::uint16_t earliest_use; /* oldest view of an open enumeration of the predicate */
};

/* A findall/bagof/setof collection: its instances newest first, linked
   through `forward` ("setof space").  Roots form a list from
   eglobal->setof, newest first. */
struct setof_int_info {
  instance *first;
  instance *last;
  setof_int_info *prev;
  setof_int_info *next;
};
static_assert(sizeof(setof_int_info) == 16);

/* ---- Clauses ---- */

/* Appends (insertz) or prepends (inserta) the instance n to the dynamic
   predicate f, stamping it born now. */
void insertz(definition *f, instance *n);
void inserta(definition *f, instance *n);
/* Erases a clause ($erase, retract, retractall): stamps its death and
   frees it at once or queues it. */
void erase_clause(instance *i);
/* Queues an erased clause in its predicate's dead chain. */
void erase_instance(instance *i);
/* Unlinks and frees a clause; info is its predicate's code, or null for a
   clause detached by abolishing. */
void expunge_instance(instance *i, int_info *info);
/* Erases every alive clause of f; mode 1 first detaches every clause
   (abolishing).  */
void retractall(definition *f, int mode);
/* Disposes of a dynamic predicate's code (undefining it). */
void abolish_interpreted(definition *f);
/* Erases f's alive clauses whose file is in files (a list of atoms), or
   removes a compiled multifile predicate's clauses of those files. */
void multifile_retractall(definition *f, TAGGED files);
/* Gives clauses ranks -(n/2) upwards in clause order. */
void compress_ranks(int_info *info);

/* The file atom of a clause loaded from a file (while alive). */
void set_instance_file(instance *i, TAGGED file);
/* The record that owns dynamic predicate d's clauses (d itself, or the
   exporter d imports); null when d is not a dynamic predicate with code. */
definition *dynamic_owner(definition *d);

/* ---- Clause selection ---- */

/* The first alive clause from i on (forward links when whole, key-chain
   links otherwise), and the first visible at view t. */
instance *active_instance_call(instance *i, int whole);
instance *active_instance_redo(instance *i, unsigned t, int whole);
/* The first clause of dynamic predicate d that may match the goal in
   term[0]; pushes the choicepoint of preds.nd_current_instance (saving
   term[0..5]) when further candidates remain.  Null when none. */
instance *current_instance(worker *w, definition *d);
/* The next clause for the enumeration choicepoint being retried: 1 while
   further candidates remain, 0 when *result is the last. */
int next_instance(worker *w, instance **result);

/* ---- Reclamation ---- */

void maybe_reclaim_dead_clauses(worker *w);
void fast_reclaim_dead_clauses(worker *w);
void reclaim_dead_clauses(worker *w);
/* Renumbers the clocks when use_clock has reached 0xFFFE at the start of
   an enumeration, keeping what every open enumeration sees. */
void clock_overflow(worker *w);

/* ---- Database references ---- */

/* Builds $ref(i + 3, Stamp) at *top (3 words) and advances *top; with
   fresh a new stamp is given and recorded, otherwise the recorded one
   (made when none is). */
TAGGED cons_dbref(instance *i, TAGGED **top, int fresh);
/* The clause a reference names while its stamp is current (erased but not
   yet freed included); null otherwise. */
instance *decode_dbref(TAGGED ref);
/* The same from the reference's two argument words. */
instance *dbref_instance(TAGGED address_word, TAGGED stamp);

/* ---- Set-of roots ---- */

/* Frees every root and its instances (re-initialisation). */
void clean_up_setof_roots(void);

/* ---- Start-up, shutdown, collectors ---- */

/* Installs the hooks through which the emulator, undefining, the memory
   manager, the atom collector and the worker's re-initialisation reach
   this layer, and makes the canned alternatives of clause and native
   enumeration.  Idempotent. */
void dynamic_clauses_install_hooks(void);
/* Frees the detached dead clauses, the chains, the reference table and
   the set-of roots, and removes the hooks (shutdown, tests). */
void dynamic_clauses_deinit(void);
/* For atom garbage collection: marks the definitions that erased clauses
   still name (so that they are not dropped) and visits every queued dead
   instance. */
void agc_abolished(void (*visit)(const instance *ins));
/* Frees one instance record with its source positions. */
void free_instance(instance *i);

/* ---- Built-ins ---- */
int prolog_insertz(worker *w);              /* $insertz/3 */
int prolog_inserta(worker *w);              /* $inserta/3 */
int prolog_erase(worker *w);                /* $erase/1 */
int prolog_purge(worker *w);                /* $purge/1 */
int prolog_retractall(worker *w);           /* $retractall/2 */
int prolog_multifile_retractall(worker *w); /* $multifile_retractall/3 */
int prolog_patch_fact(worker *w);           /* $patch_fact/3 */
int prolog_instance_file(worker *w);        /* $instance_file/3 */
int prolog_set_clock(worker *w);            /* $set_clock/1 */
int prolog_term_ref(worker *w);             /* $term_ref/2 */
int prolog_add_setof_root(worker *w);       /* $add_setof_root/1 */
int prolog_setof_inserta(worker *w);        /* $setof_inserta/3 */
int prolog_setof_list_instances(worker *w); /* $setof_list_instances/3 */
int prolog_remove_setof_root(worker *w);    /* $remove_setof_root/1 */
int prolog_nth_instance(worker *w);         /* $nth_instance/2 (term_sup.cpp) */
int prolog_instance_module(worker *w);      /* $instance_module/2 (term_sup.cpp) */

#endif
