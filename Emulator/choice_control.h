/* choice_control.h: built-ins that name, cut, drop and mark choicepoints,
 * push actions onto the trail, and release blocks through handles.
 *
 * A choicepoint handle, as Prolog sees it, is the small integer distance
 * in words from choice_start to the choicepoint (negative for every live
 * one).  Every built-in here checks a handle against the live choicepoint
 * stack before it reads through it: a handle that names no live
 * choicepoint raises a domain error ($zap_chpt/1, $undo_cleanup/1) or
 * changes nothing ($clean_up/2); a count that walks off the stack fails
 * ($nth_choicepoint/2) or changes nothing ($clean_up/2).
 *
 * $free/1 accepts only handles issued by vr_issue_free_handle and not yet
 * used or revoked; anything else fails without calling anything.  Foreign
 * resources reach the three handle functions through the support table.
 *
 * Callers: the runtime library's call_cleanup/2, catch/3, the top level
 * and the meta-call machinery (through the built-in table); the emulator
 * and the trail's clean-up collector run $free/1 through prolog_free_hook.
 * Engine thread only.
 */
#ifndef VOSTREL_CHOICE_CONTROL_H
#define VOSTREL_CHOICE_CONTROL_H

#include "termdefs.h"

struct worker;
struct node;

int prolog_nth_choicepoint(worker *w); /* $nth_choicepoint/2 */
int prolog_clean_up(worker *w);        /* $clean_up/2 */
int prolog_undo_cleanup(worker *w);    /* $undo_cleanup/1 */
int prolog_cleanup_done(worker *w);    /* $cleanup_done/1 */
int prolog_zap_chpt(worker *w);        /* $zap_chpt/1 */
int prolog_trail_undo(worker *w);      /* $trail_undo/1 */
int prolog_trail_cleanup(worker *w);   /* $trail_cleanup/1 */
int prolog_free(worker *w);            /* $free/1 */

/* The handle of a live choicepoint, and back: null when h names no live
   choicepoint (not a small integer, or not a choicepoint boundary between
   the current choicepoint and the bottom one). */
TAGGED choicepoint_handle(const worker *w, const node *b);
node *choicepoint_from_handle(const worker *w, TAGGED h);

/* A block whose first word points to its release function, which $free/1
   calls with the block's address.  The block must be 8-byte aligned.
   Returns the handle (a small integer) to pass to $free/1, or 0 when the
   block is misaligned or already has a handle. */
typedef void (*vr_release_fn)(void *block);
TAGGED vr_issue_free_handle(void *block);
/* Withdraws the handle of a block its owner releases by other means;
   0 when it had none. */
int vr_revoke_free_handle(void *block);
/* 1 when block has a handle that $free/1 would accept. */
int vr_free_handle_issued(const void *block);

#endif
