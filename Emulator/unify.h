/* unify.h: unification and binding for native code. */
#ifndef VOSTREL_UNIFY_H
#define VOSTREL_UNIFY_H

#include "termdefs.h"

struct worker;

/* Bind the unbound cell `var` (a reference word) to `value`, trailing it when
   it is older than the newest choicepoint. */
void bind(worker *w, TAGGED var, TAGGED value);
/* Unify two terms; 1 on success, 0 on failure (bindings made stay). */
int cunify(worker *w, TAGGED a, TAGGED b);

#endif
