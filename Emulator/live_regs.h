/* live_regs.h: which argument registers the code at an address may still
 * read.
 *
 * The suspension code (and the garbage collector through it) saves only
 * the registers live at the suspended instruction and clears the dead ones
 * below them, so a collection does not keep what they point to.  Engine
 * thread only: the marks are process-wide.
 */
#ifndef VOSTREL_LIVE_REGS_H
#define VOSTREL_LIVE_REGS_H

#include "termdefs.h"

struct worker;
struct definition;

/* One mark byte per argument register and the stamp of the latest
   analysis; a register is live for an analysis when its byte equals that
   analysis's live mark, which spares clearing the array per call. */
extern unsigned char livereg[256];
extern unsigned char live_stamp;

/* The arity of a called predicate (the E operand of a call).  Installed by
   the predicate database; while it is null a call counts as reading
   registers 0 to 254, as many as any predicate can take. */
extern int (*live_regs_pred_arity)(const definition *def);

/* The number of argument registers the code at pc may read before writing
   them (the highest such register plus one), following the else targets of
   its tests.  With recursive 0 it also sets every dead register below that
   number to []. */
int live_x_regs(worker *w, INSN *pc, int recursive);

#endif
