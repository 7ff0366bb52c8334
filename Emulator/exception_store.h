/* exception_store.h: the stored exception term.
 *
 * An exception on its way to its catcher outlives the heap it was built
 * on (unwinding backtracks over it), so raise_exception/1 stores a copy as
 * an instance in eglobal->exception (the word holds the instance's
 * address, 0 when none) and the catcher loads it back.  The preallocated
 * memory-fault exception (eglobal->memory_fault_exception) is never freed.
 * Engine thread only.
 */
#ifndef VOSTREL_EXCEPTION_STORE_H
#define VOSTREL_EXCEPTION_STORE_H

#include "termdefs.h"

struct worker;

int prolog_store_exception(worker *w); /* $store_exception/1 */
int prolog_load_exception(worker *w);  /* $load_exception/1 */
int prolog_erase_exception(worker *w); /* $erase_exception/0 */

/* The stored exception copied to the heap top, or 0 when none is stored
   (for native callers that report an uncaught exception). */
TAGGED load_stored_exception(worker *w);
/* Frees the stored exception (not the memory-fault one); none is stored
   afterwards. */
void erase_stored_exception(void);

#endif
