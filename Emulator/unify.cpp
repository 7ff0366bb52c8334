/* unify.cpp: binding and unification for native code.
 *
 * Binding rule: of two unbound variables the one at the higher address is
 * bound to the other, except that a plain variable is bound to a constrained
 * one; since the local stack lies above the heap, a heap cell never refers
 * into the local stack.  A cell older than the newest choicepoint (a heap
 * cell below global_uncond, a local cell below local_uncond) is trailed; a
 * constrained variable (its cell preceded by the marker -1) is always
 * trailed, counts a wake-up and clears heap_warn_soft so that the emulator
 * runs the woken goals at its next predicate entry.
 */
#include "unify.h"

#include <vector>

#include "terms.h"
#include "worker.h"

namespace {

inline bool is_local_cell(const worker *w, const TAGGED *cell)
{
  return cell >= w->stack_start && cell < w->stack_end;
}

inline bool is_constrained(const worker *w, const TAGGED *cell)
{
  return w->heap_start != nullptr && !is_local_cell(w, cell) && cell > w->heap_start &&
         cell[-1] == CVA_MARKER;
}

inline void trail_push(worker *w, TAGGED entry)
{
  *w->trail_top++ = entry;
}

} // namespace

void bind(worker *w, TAGGED var, TAGGED value)
{
  TAGGED *cell = TagToRef(var);
  *cell = value;
  if (is_constrained(w, cell)) {
    trail_push(w, var);
    w->wake_count++;
    w->heap_warn_soft = nullptr;
    return;
  }
  const bool older = is_local_cell(w, cell) ? cell < w->local_uncond : cell < w->global_uncond;
  if (older)
    trail_push(w, var);
}

namespace {

/* Two unbound variables: choose which is bound to which. */
void bind_vars(worker *w, TAGGED a, TAGGED b)
{
  TAGGED *pa = TagToRef(a), *pb = TagToRef(b);
  const bool ca = is_constrained(w, pa), cb = is_constrained(w, pb);
  if (ca != cb) {
    if (ca)
      bind(w, b, a);
    else
      bind(w, a, b);
  } else if (pa > pb) {
    bind(w, a, b);
  } else {
    bind(w, b, a);
  }
}

bool atomic_equal(TAGGED a, TAGGED b)
{
  return a == b;
}

} // namespace

int cunify(worker *w, TAGGED a, TAGGED b)
{
  /* Pairs of argument vectors still to unify, walked without recursion so
     that deep lists cannot overflow the native stack. */
  struct pending { const TAGGED *x, *y; unsigned n; };
  std::vector<pending> todo;
  for (;;) {
    a = deref(a);
    b = deref(b);
    if (a != b) {
      if (IsVar(a)) {
        if (IsVar(b))
          bind_vars(w, a, b);
        else
          bind(w, a, b);
      } else if (IsVar(b)) {
        bind(w, b, a);
      } else if (tag_of(a) != tag_of(b)) {
        return 0;
      } else if (IsAtomic(a)) {
        if (!atomic_equal(a, b))
          return 0;
      } else if (IsList(a)) {
        const TAGGED *x = TagToLST(a), *y = TagToLST(b);
        todo.push_back({x + 1, y + 1, 1});
        a = x[0];
        b = y[0];
        continue;
      } else {
        const TAGGED *x = TagToSTR(a), *y = TagToSTR(b);
        if (x[0] != y[0])
          return 0;
        if (IsBoxHeader(x[0])) {
          /* Canonical boxes: equal numbers have equal words. */
          const unsigned n = BoxWords(x[0]);
          for (unsigned i = 1; i < n; i++)
            if (x[i] != y[i])
              return 0;
        } else {
          const unsigned arity = Arity(x[0]);
          if (arity > 1)
            todo.push_back({x + 2, y + 2, arity - 1});
          a = x[1];
          b = y[1];
          continue;
        }
      }
    }
    if (todo.empty())
      return 1;
    pending &p = todo.back();
    a = *p.x++;
    b = *p.y++;
    if (--p.n == 0)
      todo.pop_back();
  }
}
