/* fdsets.h: FD sets, the solver's domains.
 *
 * An FD set is a Prolog list of intervals, each interval a list cell
 * [B|E]: B a small integer or inf, E a small integer or sup, B =< E; the
 * intervals ascend and neither overlap nor touch (the next B is above
 * E + 1).  [] is the empty set, [[inf|sup]] the whole line.  One interval
 * costs four words: the spine cell (head: the interval cell, tail: the
 * rest) and the interval cell.
 *
 * Where sets live: the builders allocate on the worker's number stack, the
 * scratch area of one built-in call (every FD built-in that builds sets
 * clears numstack_end first, which restarts the stack).  Results share
 * unchanged interval cells and unchanged tails of their operands, so
 * operands may lie on the heap or on the number stack, and nothing but
 * fd_union_dest, fd_union_sort and fd_localize changes a cell.  A set that
 * must outlive the call is moved off the heap (fd_localize) and copied
 * onto it (fd_globalize).
 *
 * Bounds at the ends of the small-integer range: the successor of
 * 268435455 is sup and the predecessor of -268435456 is inf, so
 * complementing or shifting there can give an interval [sup|sup] or
 * [inf|inf], which holds no integer: the mark of a bound overflow, turned
 * into the state's fd_overflow flag by fd_globalize.
 *
 * The queries and builders trust their operands to be well-formed FD sets
 * made of plain words (no bound variables); fd_check_set is the checking
 * entry the built-ins use on sets that come from Prolog.
 *
 * Callers: the FD-set built-ins (fdset_builtins.cpp), and later the
 * domain variables, the indexical interpreter and the propagators.
 */
#ifndef TRELIX_CLPFD_FDSETS_H
#define TRELIX_CLPFD_FDSETS_H

#include <cstdint>

#include "bounds.h"
#include "fd_state.h"

constexpr TAGGED fd_empty_set = atom_nil;

/* Interval relation codes of fd_interval_cmp (interval 1 against 2). */
enum : int {
  FD_IV_BEFORE = 0,         /* e1 + 1 < b2 */
  FD_IV_JUST_BEFORE = 1,    /* e1 + 1 = b2 */
  FD_IV_OVERLAPS_START = 2, /* b1 < b2 =< e1 < e2 */
  FD_IV_CONTAINS_SAME_END = 3,
  FD_IV_CONTAINS = 4,
  FD_IV_SAME_START_SHORTER = 5,
  FD_IV_EQUAL = 6,
  FD_IV_SAME_START_LONGER = 7,
  FD_IV_INSIDE = 8,
  FD_IV_INSIDE_SAME_END = 9,
  FD_IV_OVERLAPS_END = 10,
  FD_IV_JUST_AFTER = 11,
  FD_IV_AFTER = 12
};

/* Set relation codes of fd_compare and its relatives. */
enum : int {
  FD_EQUAL = 1,      /* also both empty */
  FD_SUPERSET = 2,   /* the first strictly contains the second */
  FD_SUBSET = 3,     /* the first is strictly contained in the second */
  FD_DISJOINT = 4,   /* both non-empty */
  FD_INTERSECT = 5   /* they share values and neither contains the other */
};

/* ---- Reading sets ---- */

inline bool fd_is_empty(TAGGED d) { return d == fd_empty_set; }
inline TAGGED fd_first_interval(TAGGED d) { return TagToLST(d)[0]; }
inline TAGGED fd_rest(TAGGED d) { return TagToLST(d)[1]; }
inline TAGGED fd_interval_min(TAGGED iv) { return TagToLST(iv)[0]; }
inline TAGGED fd_interval_max(TAGGED iv) { return TagToLST(iv)[1]; }

/* Successor and predecessor of a bound as stored: 268435455 + 1 is sup,
   -268435456 - 1 is inf; sup and inf stay. */
TAGGED fd_succ(TAGGED t);
TAGGED fd_pred(TAGGED t);

/* ---- Queries (allocate nothing) ---- */

TAGGED fd_min(TAGGED d);
TAGGED fd_max(TAGGED d);
long fd_size(TAGGED d); /* finite sets */
bool fd_singleton(TAGGED d);
bool fd_member(TAGGED t, TAGGED d);
int fd_point_vs_interval(TAGGED p, TAGGED min, TAGGED max);
int fd_val_vs_interval(TAGGED p, TAGGED min, TAGGED max);
int fd_interval_cmp(TAGGED b1, TAGGED e1, TAGGED b2, TAGGED e2);
int fd_compare(TAGGED d1, TAGGED d2);
int fd_compare_interval(TAGGED d1, TAGGED b2, TAGGED e2);
int fd_compare_intervals(TAGGED b1, TAGGED e1, TAGGED b2, TAGGED e2);
long fd_intersection_size(TAGGED d1, TAGGED d2); /* finite sets */
TAGGED fd_intersection_min(TAGGED d1, TAGGED d2);
TAGGED fd_intersection_max(TAGGED d1, TAGGED d2);
TAGGED fd_intersection_min2(TAGGED d1, TAGGED d2, TAGGED *elt2);
TAGGED fd_successor(TAGGED d, TAGGED t);
TAGGED fd_predecessor(TAGGED d, TAGGED t);

/* ---- Builders (results on the number stack) ---- */

TAGGED fd_interval(VREnv *env, worker *w, TAGGED min, TAGGED max);
TAGGED fd_pair(VREnv *env, worker *w, TAGGED t1, TAGGED t2);
TAGGED fd_compl_interval(VREnv *env, worker *w, TAGGED min, TAGGED max);
TAGGED fd_subtract(VREnv *env, worker *w, TAGGED d1, TAGGED d2);
TAGGED fd_interval_subtract(VREnv *env, worker *w, TAGGED b1, TAGGED e1, TAGGED d2);
TAGGED fd_subtract_interval(VREnv *env, worker *w, TAGGED d1, TAGGED b2, TAGGED e2);
TAGGED fd_complement(VREnv *env, worker *w, TAGGED d);
TAGGED fd_delete(VREnv *env, worker *w, TAGGED d, TAGGED t);
TAGGED fd_intersection(VREnv *env, worker *w, TAGGED d1, TAGGED d2);
TAGGED fd_intersection_interval(VREnv *env, worker *w, TAGGED d1, TAGGED b2, TAGGED e2);
TAGGED fd_union(VREnv *env, worker *w, TAGGED d1, TAGGED d2);
TAGGED fd_union_interval(VREnv *env, worker *w, TAGGED d1, TAGGED b2, TAGGED e2);
TAGGED fd_merge_into(VREnv *env, worker *w, TAGGED d1, TAGGED d2);
TAGGED fd_insert_into(VREnv *env, worker *w, TAGGED t, TAGGED d);
void fd_first_and_rest(VREnv *env, worker *w, TAGGED d, TAGGED *firstp, TAGGED *restp);
TAGGED fd_lsh(VREnv *env, worker *w, TAGGED d, TAGGED offset);
TAGGED fd_neg_offset(VREnv *env, worker *w, TAGGED d, TAGGED offset);

/* ---- Destructive (cells the caller owns, never heap cells) ---- */

TAGGED fd_union_dest(TAGGED a, TAGGED b);
TAGGED fd_union_sort(TAGGED list);

/* ---- Between the heap and the number stack ---- */

/* d with every cell that lies on the heap copied onto the number stack;
   number-stack spine cells are kept and relinked in place. */
TAGGED fd_localize(VREnv *env, worker *w, TAGGED d);
/* A copy of d (no heap cells) on the heap, after making room for it plus
   pad words; sets the state's fd_overflow on an interval [sup|_] or
   [_|inf].  May collect (keeping the first `live` argument registers): d
   must not share heap cells (fd_localize). */
TAGGED fd_globalize(VREnv *env, worker *w, TAGGED d, long pad, int live = 0);

/* ---- Checking sets that come from Prolog ---- */

/* Whether t is a well-formed FD set, dereferencing every word: proper
   list, bounds of the right kinds, ascending, not touching.  On success
   *size is the number of values (-1 when infinite) and *plain tells that
   no word of it is a bound variable. */
bool fd_check_set(TAGGED t, std::int64_t *size, bool *plain);
/* The set t with every word dereferenced: t itself when it is plain, else
   a copy on the number stack; 0 when t is no well-formed set. */
TAGGED fd_plain_set(VREnv *env, worker *w, TAGGED t);

/* ---- Iteration and incremental building ---- */

constexpr TAGGED FDITER_END = 0x7ffffffc;

struct FDITER {
  TAGGED cur; /* next value, or FDITER_END */
  TAGGED max; /* upper bound of the interval being walked */
  TAGGED tail;
};
void fditer_init(FDITER *it, TAGGED d);
TAGGED fditer_next(FDITER *it);
void fditer_next_interval(FDITER *it, TAGGED *tmin, TAGGED *tmax);
void fditer_skip(FDITER *it, TAGGED t);

struct FDCONS {
  TAGGED head;  /* the set so far */
  TAGGED *cur;  /* spine cell of the last interval (interval cell follows), or null */
  long size;    /* values added */
};
void fdcons_init(FDCONS *cons);
void fdcons_add(VREnv *env, FDCONS *cons, worker *w, TAGGED t);
void fdcons_add_interval(VREnv *env, FDCONS *cons, worker *w, TAGGED t, TAGGED u);

#endif
