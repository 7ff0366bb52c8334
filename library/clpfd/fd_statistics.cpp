/* fd_statistics.cpp: counters, modes and the incumbent helpers of the
 * branch-and-bound search (see fd_statistics.h).
 *
 * Modes are read and set in one call: Old is unified with the current
 * mode, New (an atom) names the new one; the Prolog side passes New = Old
 * to only ask.
 *
 * The incumbent of the branch-and-bound search is a recorded term
 * f(Bound, [X1, ..., Xn]), stored by the runtime's database as the clause
 * '$current instance'(Key, Term); its image (instance.h) holds pointers as
 * word offsets from the image start plus the tag.  The incumbent built-ins
 * overwrite atomic words of that image in place and check everything they
 * follow: the reference's shape, that the clause is still alive, every
 * offset against the image's size, and that each word overwritten is an
 * atomic word and each new value a small integer.  Whether a reference is
 * current (not one of a freed clause) only the engine's reference table
 * can tell, which the interface does not reach.
 */
#include "fd_statistics.h"

#include "initial_atoms.h"
#include "instance.h"

namespace {

inline TAGGED ref_term(worker *w, VR_term_ref r) { return deref(w->fli_stack_start[r].term); }
inline void fail_call(VREnv *env) { env->dispatch_API_VOSTREL_H->pVR_fail(); }

constexpr TAGGED atom_on = MakeAtom(atom_on_enum), atom_off = MakeAtom(atom_off_enum);
constexpr TAGGED atom_error = MakeAtom(atom_error_enum), atom_fail = MakeAtom(atom_fail_enum);

/* The common shape of $fd_debug/3 and $fd_overflow/3. */
long switch_mode(VREnv *env, unsigned long *mode, TAGGED when1, TAGGED when0, VR_term_ref old_mode,
                 VR_term_ref new_mode)
{
  worker *w = fd_current_worker(env);
  if (!fd_cunify(env, w, ref_term(w, old_mode), *mode ? when1 : when0))
    return 0;
  *mode = ref_term(w, new_mode) == when1 ? 1 : 0;
  return 1;
}

} // namespace

long prolog_fd_statistics_vrenv_multi_vr(VREnv *env, long key)
{
  fd_state *st = fd_state_of(env);
  unsigned long *counters[] = {&st->resumptions, &st->entailments, &st->prunings, &st->failures,
                               &st->constraints};
  if (key < 0 || key > 4)
    return 0;
  const unsigned long n = *counters[key];
  *counters[key] = 0;
  return static_cast<long>(n);
}

long prolog_fd_debug_vrenv_multi_vr(VREnv *env, VR_term_ref old_mode, VR_term_ref new_mode)
{
  return switch_mode(env, &fd_state_of(env)->debugging, atom_on, atom_off, old_mode, new_mode);
}

long prolog_fd_overflow_vrenv_multi_vr(VREnv *env, VR_term_ref old_mode, VR_term_ref new_mode)
{
  return switch_mode(env, &fd_state_of(env)->overflowing, atom_error, atom_fail, old_mode, new_mode);
}

void prolog_fd_minint_maxint_vrenv_multi_vr(VREnv *env, VR_term_ref min, VR_term_ref max)
{
  worker *w = fd_current_worker(env);
  if (!fd_cunify(env, w, ref_term(w, min), MakeSmall_checked(SMALL_MIN)) ||
      !fd_cunify(env, w, ref_term(w, max), MakeSmall_checked(SMALL_MAX)))
    fail_call(env);
}

/* ---- The incumbent ---- */

instance *get_dbref(VREnv *, TAGGED ref)
{
  ref = deref(ref);
  if (!IsStructure(ref) || *TagToSTR(ref) != functor_Dref)
    return nullptr;
  const TAGGED a = deref(TagToSTR(ref)[1]), s = deref(TagToSTR(ref)[2]);
  if (!IsSmall(a) || !IsSmall(s))
    return nullptr;
  instance *ins = reinterpret_cast<instance *>(a - 3);
  if (ins == nullptr || ins->death != INSTANCE_ALIVE || ins->objsize < INSTANCE_HEADER_BYTES + 8)
    return nullptr;
  return ins;
}

namespace {

/* Word i of the image that the encoded pointer p (with tag) names, or
   null when p is no pointer of that tag into the image with `need` words
   from there on. */
TAGGED *image_word(instance *ins, TAGGED p, TAGGED tag, std::uint32_t need)
{
  const std::uint32_t words = instance_words(ins);
  if ((p & TAG_MASK) != tag)
    return nullptr;
  const std::uint32_t i = p >> 2;
  if (i >= words || words - i < need)
    return nullptr;
  return ins->code + i;
}

/* The stored f(Bound, List): the Bound slot, and the encoded list. */
TAGGED *incumbent_of(instance *ins, TAGGED *list)
{
  const std::uint32_t words = instance_words(ins);
  const TAGGED *head = image_word(ins, ins->code[words - 2], STR_TAG, 3);
  if (head == nullptr || !IsFunctor(head[0]) || Arity(head[0]) != 2)
    return nullptr;
  TAGGED *term = image_word(ins, head[2], STR_TAG, 3);
  if (term == nullptr || !IsFunctor(term[0]) || Arity(term[0]) != 2 || !IsAtomic(term[1]))
    return nullptr;
  *list = term[2];
  return term + 1;
}

/* Walks the stored list with the list of values: with store, writes them;
   otherwise checks that every stored element is an atomic word, every
   value a small integer, and that there are no more values than elements. */
bool walk_values(instance *ins, TAGGED stored, TAGGED values, bool store)
{
  for (values = deref(values); IsList(values); values = deref(TagToLST(values)[1])) {
    TAGGED *cell = image_word(ins, stored, LST_TAG, 2);
    const TAGGED x = deref(TagToLST(values)[0]);
    if (cell == nullptr || !IsAtomic(cell[0]) || !IsSmall(x))
      return false;
    if (store)
      cell[0] = x;
    stored = cell[1];
  }
  return values == atom_nil;
}

} // namespace

void prolog_fd_update_incumbent_vrenv_multi_vr(VREnv *env, VR_term_ref ref, VR_term_ref value, VR_term_ref values)
{
  worker *w = fd_current_worker(env);
  instance *ins = get_dbref(env, ref_term(w, ref));
  const TAGGED v = ref_term(w, value);
  TAGGED list = 0;
  TAGGED *bound = ins == nullptr ? nullptr : incumbent_of(ins, &list);
  /* Everything is checked before the first store. */
  if (bound == nullptr || !IsSmall(v) || !walk_values(ins, list, ref_term(w, values), false))
    return fail_call(env);
  *bound = v;
  walk_values(ins, list, ref_term(w, values), true);
}

void prolog_fd_incumbent_bound_vrenv_multi_vr(VREnv *env, VR_term_ref ref, VR_term_ref value)
{
  worker *w = fd_current_worker(env);
  instance *ins = get_dbref(env, ref_term(w, ref));
  TAGGED list = 0;
  const TAGGED *bound = ins == nullptr ? nullptr : incumbent_of(ins, &list);
  if (bound == nullptr || !fd_cunify(env, w, ref_term(w, value), *bound))
    fail_call(env);
}
