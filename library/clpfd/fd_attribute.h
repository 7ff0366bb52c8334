/* fd_attribute.h: the FD attribute of a domain variable, its suspension
 * lists and the timestamped mutable terms they live in.
 *
 * Every domain variable carries one attribute under module clpfd:
 *   v(1, 0, $mutable(dom(Set, Min, Max, Size), Stamp),
 *           $mutable($fdlists(Count, Mask, DomL, MinL, MaxL, MinMaxL, ValL), Stamp))
 * Set is the domain (an FD set), Min/Max its bounds, Size its number of
 * values (sup when infinite).  Count is the number of live suspensions,
 * Mask the lists that received an element since last found empty (1 dom,
 * 2 min, 4 max, 8 minmax, 16 val).  ValL holds pairs Vars-Item.  When a
 * DomMutable holds another v/4 term instead of a dom/4 term, the variable's
 * domain and lists are that attribute's ("forwarding"); every reader follows
 * such chains (fd_last_attribute).
 *
 * A $mutable(Value, Stamp) is changed in place; fd_update_mutable trails
 * its old value at most once per choicepoint segment (the engine's
 * three-word mutable trail entry), so backtracking restores it.
 *
 * Heap room is the caller's duty before fd_check_argument and fd_link (the
 * built-ins here make it with call_overflow).  Callers: the posting,
 * telling and propagation code, the domain-variable caches, the
 * constraints.
 */
#ifndef TRELIX_CLPFD_FD_ATTRIBUTE_H
#define TRELIX_CLPFD_FD_ATTRIBUTE_H

#include "fd_state.h"

/* The image of a fresh attribute (26 words).  Words that are neither small
   integers nor constants hold word offsets from the image's start.  The
   library's initialisation stores the dom/4 functor into word
   FD_ATTR_DOM_FUNCTOR and the $fdlists/7 functor into FD_ATTR_LISTS_FUNCTOR. */
constexpr int FD_ATTRIBUTE_WORDS = 26;
constexpr int FD_ATTR_DOM_FUNCTOR = 11;
constexpr int FD_ATTR_LISTS_FUNCTOR = 16;
extern TAGGED fd_attribute[FD_ATTRIBUTE_WORDS];

/* Words of the pseudo-attribute of an integer. */
constexpr int FD_PSEUDO_ATTRIBUTE_WORDS = 15;

/* Argument positions (1-based, as in TagToSTR(t)[i]). */
enum : int {
  FD_ATTR_DOM = 3,     /* v/4: DomMutable */
  FD_ATTR_LISTS = 4,   /* v/4: ListsMutable */
  FD_DOM_SET = 1,      /* dom/4 */
  FD_DOM_MIN = 2,
  FD_DOM_MAX = 3,
  FD_DOM_SIZE = 4,
  FD_LISTS_COUNT = 1,  /* $fdlists/7 */
  FD_LISTS_MASK = 2,
  FD_LISTS_DOM = 3,
  FD_LISTS_MIN = 4,
  FD_LISTS_MAX = 5,
  FD_LISTS_MINMAX = 6,
  FD_LISTS_VAL = 7
};

/* Suspension-list bits of Mask. */
enum : int { FD_MASK_DOM = 1, FD_MASK_MIN = 2, FD_MASK_MAX = 4, FD_MASK_MINMAX = 8, FD_MASK_VAL = 16 };

/* The value of a $mutable, following mutables that forward to others. */
TAGGED fd_mutable_value(TAGGED mutable_);
/* The last attribute of attr's forwarding chain (the one whose DomMutable
   holds a dom/4 term). */
TAGGED fd_last_attribute(TAGGED attr);
/* dom/4 and $fdlists/7 of an attribute, forwarding followed. */
TAGGED fd_attribute_dom(TAGGED attr);
TAGGED fd_attribute_lists(TAGGED attr);

/* An attribute for term: a domain variable's own, a fresh one (bounds min
   max size) attached to any other unbound variable, the 15-word
   pseudo-attribute of a small integer; 0 for anything else. */
TAGGED fd_check_argument(VREnv *env, worker *w, TAGGED term, TAGGED min, TAGGED max, TAGGED size);
/* Links item into var's suspension list named by key (dom/1, min/1,
   max/1, minmax/1, any other functor: val), making var a domain variable
   when needed and dropping dead leading elements of that list. */
void fd_link(VREnv *env, worker *w, TAGGED var, TAGGED key, TAGGED item);
/* Stores value into the last mutable of mutable_'s chain, trailing the old
   value once per choicepoint segment. */
void fd_update_mutable(VREnv *env, worker *w, TAGGED value, TAGGED mutable_);
/* A heap copy of set d, reusing its cells that already lie on the heap;
   makes room for it plus pad words first (live: argument registers in use). */
TAGGED fd_globalize_unsafe(VREnv *env, worker *w, TAGGED d, long pad, int live);

/* ---- Built-ins (rows 12, 13, 14 and 17 of the resource's table) ---- */

/* $fd_arg_attribute(Var, Finite, Attr) */
void prolog_fd_arg_attribute_vrenv_multi_vr(VREnv *env, VR_term_ref var, long finite, VR_term_ref attr);
/* $fd_dvar_list(List, Finite) */
void prolog_fd_dvar_list_vrenv_multi_vr(VREnv *env, VR_term_ref list, long finite);
/* $fd_coref(List) */
void prolog_fd_coref_vrenv_multi_vr(VREnv *env, VR_term_ref list);
/* $fd_check_arguments(Goal, Attv) */
void prolog_fd_check_arguments_vrenv_multi_vr(VREnv *env, VR_term_ref goal, VR_term_ref attv);

#endif
