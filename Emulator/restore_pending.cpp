/* restore_pending.cpp: the saved-state reader's entry until the reader
 * itself is merged: it restores nothing, so every boot or application
 * restore fails with a message that says why.  Deleted when the reader
 * lands.
 */
#include "startup.h"

#include "atoms.h"
#include "support.h"
#include "terms.h"
#include "worker.h"

int prolog_restore(worker *w)
{
  const TAGGED name = w->term[0];
  errprintf(0, "! saved states cannot be read by this runtime yet: %s\n",
            IsAtom(name) ? atom_name(name) : "(no name)");
  return 0;
}
