/* term_sup.cpp: bringing stored terms back onto the heap, and small
 * services on stored terms and boxed numbers.
 *
 * get_instance relocates an image (instance.h) by adding the address it is
 * placed at to every pointer word outside boxed numbers.  Decision-diagram
 * nodes rebuilt this way must be made canonical again (the diagram library
 * keys its unique table by node content): an equal node that already
 * exists replaces the copy, whose functor cell then holds a reference to
 * it, and every structure pointer of the copy into such a forwarded node
 * is redirected, in the node area and in the rest of the copy alike.
 *
 * Callers: the database, blackboard, setof and exception code (get_instance),
 * start-up (memory_fault_term), the enumeration of record keys
 * (decode_instance_key), the runtime library ($large_data/3 and the two
 * built-ins that say where a clause reference belongs, $nth_instance/2 and
 * $instance_module/2).
 */
#include <algorithm>
#include <cstring>
#include <initializer_list>

#include "dynamic_clauses.h"
#include "initial_atoms.h"
#include "modules.h"
#include "instance.h"
#include "memman.h"
#include "stack_growth.h"
#include "terms.h"
#include "unify.h"
#include "worker.h"

instance_bdd_hooks bdd_hooks;

namespace {

/* In an image or a copy: a box header is negative with low bits 111. */
inline bool is_header_word(TAGGED x) { return (x & 7) == 7 && (x >> 31) != 0 && x != CVA_MARKER; }

/* A structure pointer to a node that has been replaced: the canonical one. */
inline TAGGED canonical(TAGGED x, const TAGGED *nodes, const TAGGED *nodes_end)
{
  if (!IsStructure(x))
    return x;
  const TAGGED *p = TagToSTR(x);
  if (p < nodes || p >= nodes_end || !IsVar(*p))
    return x;
  return MakeSTR(TagToRef(*p));
}

void make_nodes_canonical(worker *w, TAGGED *copy, std::uint32_t words, std::int32_t count)
{
  if (bdd_hooks.reset_node == nullptr || bdd_hooks.lookup_external == nullptr)
    return;
  TAGGED *nodes_end = copy + 4 * count;
  bdd_hooks.reset_node(w, copy);
  for (TAGGED *n = copy; n < nodes_end; n += 4) {
    n[2] = canonical(n[2], copy, nodes_end);
    n[3] = canonical(n[3], copy, nodes_end);
    const TAGGED self = MakeSTR(n);
    const TAGGED found = bdd_hooks.lookup_external(w, self);
    if (found != self)
      n[0] = PointerToTerm(TagToSTR(found));
  }
  for (TAGGED *a = nodes_end; a < copy + words;) {
    const TAGGED x = *a;
    if (is_header_word(x)) {
      a += BoxWords(x) + 1;
    } else {
      *a = canonical(x, copy, nodes_end);
      ++a;
    }
  }
}

} // namespace

int get_instance(worker *w, instance *ins, int live, int margin)
{
  const std::uint32_t words = instance_words(ins);
  const long need = static_cast<long>(words) + 128 + margin;
  if (w->stack_start - w->global_top < need)
    call_overflow(w, static_cast<int>(need), live);
  TAGGED *to = w->global_top;
  const TAGGED *from = ins->code;
  const TAGGED base = PointerToTerm(to);
  for (std::uint32_t i = 0; i < words;) {
    const TAGGED x = from[i];
    if (is_header_word(x)) {
      const unsigned k = BoxWords(x);
      std::memcpy(to + i, from + i, (k + 1) * sizeof(TAGGED));
      i += k + 1;
    } else {
      to[i] = tag_of(x) == CONST_TAG ? x : x + base;
      ++i;
    }
  }
  w->global_top = to + words;
  if (ins->bdd_count == 0)
    return 0;
  make_nodes_canonical(w, to, words, ins->bdd_count);
  return ins->bdd_count;
}

namespace {

/* A ball made once, at start-up, and raised again and again: an instance
   holding the given image words (the pair's head and tail last). */
instance *fixed_ball(std::initializer_list<TAGGED> image)
{
  const std::size_t bytes = INSTANCE_HEADER_BYTES + image.size() * sizeof(TAGGED);
  instance *ins = static_cast<instance *>(checkalloc(bytes, mm_code(MM_BIN_INSTANCE)));
  std::memset(ins, 0, bytes);
  ins->objsize = static_cast<std::uint32_t>(bytes);
  std::copy(image.begin(), image.end(), ins->code);
  return ins;
}

} // namespace

instance *memory_fault_term(void)
{
  return fixed_ball({MakeFunctor(MakeAtom(atom_resource_error_enum), 2), MakeSmall_checked(0),
                     MakeAtom(atom_memory_enum),
                     12,             /* the spare variable: a reference to itself */
                     0 + STR_TAG});  /* the root: resource_error/2 at offset 0 */
}

instance *atom_table_full_term(TAGGED atoms)
{
  return fixed_ball({MakeFunctor(MakeAtom(atom_error_enum), 2),
                     12 + STR_TAG,   /* resource_error/1 at word 3 */
                     8,              /* the context: an unbound variable */
                     MakeFunctor(MakeAtom(atom_resource_error_enum), 1), atoms,
                     20,             /* the spare variable */
                     0 + STR_TAG});  /* the root: error/2 at offset 0 */
}

TAGGED decode_instance_key(worker *w, const instance *ins)
{
  const std::uint32_t words = instance_words(ins);
  const TAGGED head = ins->code[words - 2];
  const TAGGED arg = ins->code[(head - STR_TAG) / 4 + 1];
  const TAGGED *box = ins->code + (arg - STR_TAG) / 4;
  const unsigned k = BoxWords(box[0]);
  TAGGED *to = w->global_top;
  std::memcpy(to, box, k * sizeof(TAGGED));
  to[k] = box[0];
  w->global_top = to + k + 1;
  return MakeSTR(to);
}

int prolog_large_data(worker *w)
{
  const TAGGED n = deref(w->term[0]);
  const TAGGED boxed = deref(w->term[1]);
  if (!IsSmall(n) || !IsStructure(boxed))
    return 0;
  const TAGGED *box = TagToSTR(boxed);
  if (!is_header_word(box[0]))
    return 0;
  const VR_INTEGER i = GetSmall(n);
  if (i < 0 || i >= static_cast<VR_INTEGER>(BoxWords(box[0])))
    return 0;
  const TAGGED word = make_integer_term(w, static_cast<std::int32_t>(box[i]));
  return cunify(w, word, w->term[2]);
}

int prolog_nth_instance(worker *w)
{
  instance *ins = decode_dbref(w->term[0]);
  if (ins == nullptr)
    return 0;
  /* Detached by abolishing (rank the plain 0): in no chain. */
  VR_INTEGER n = 0;
  int_info *info = ins->rank != 0 ? ins->root->proc.code.intinfo : nullptr;
  if (info != nullptr) {
    VR_INTEGER k = 1;
    for (instance *i = info->first; i != nullptr; k++) {
      if (i == ins) {
        n = k;
        break;
      }
      instance *raw = i->forward;
      i = (reinterpret_cast<std::uintptr_t>(raw) & 1) != 0 ? nullptr : raw;
    }
  }
  return cunify(w, w->term[1], MakeSmall_checked(n));
}

int prolog_instance_module(worker *w)
{
  instance *ins = decode_dbref(w->term[0]);
  if (ins == nullptr || ins->root->module == nullptr)
    return 0;
  return cunify(w, w->term[1], ins->root->module->name);
}
