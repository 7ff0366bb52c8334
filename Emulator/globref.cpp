/* globref.cpp: the term-reference stack and the global-reference blocks.
 *
 * Invariants: cells 0..fli_stack_index-1 of the term-reference stack and
 * every slot of every linked global block hold a term and a second word 0
 * outside a collection; the global list is a circle through
 * eglobal->globref_blk once the first worker exists (forward null before).
 * The atom collector learns of both through a root marker registered when
 * the term-reference stack is made.
 *
 * Callers: init_each_time and dealloc_worker (fli_stack_init/deinit), the
 * foreign interface and foreign resources (VR_ functions), the garbage
 * collector and the stack shifter (GlobRefIter).
 */
#include "globref.h"

#include "atoms.h"
#include "memman.h"

namespace {

constexpr int FLI_STACK_CODE = mm_code(MM_BIN_FLI_STACK);

inline VR_globref block_slots(globref_block *b) { return reinterpret_cast<VR_globref>(b + 1); }

inline void fill_nil(VR_globref cell, int n)
{
  for (int i = 0; i < n; ++i) {
    cell[i].term = atom_nil;
    cell[i].gc_word = 0;
  }
}

inline bool is_atom_or_functor(TAGGED t)
{
  return (t & 7) == ATOM_TAG && static_cast<std::int32_t>(t) >= 0;
}

/* Terms held only by references keep their atoms. */
void mark_reference_atoms(worker *w)
{
  if (w != nullptr && w->fli_stack_start != nullptr)
    for (std::int32_t i = 0; i < w->fli_stack_index; ++i)
      if (is_atom_or_functor(w->fli_stack_start[i].term))
        agc_atom(w->fli_stack_start[i].term);
  GlobRefIter it;
  globref_iter_init(&it);
  while (!globref_iter_empty(&it)) {
    TAGGED t = globref_iter_next(&it)->term;
    if (is_atom_or_functor(t))
      agc_atom(t);
  }
}

void grow_fli_stack(worker *w, std::int32_t needed)
{
  std::int32_t size = w->fli_stack_size;
  while (size < needed)
    size *= 2;
  w->fli_stack_start = static_cast<VR_globref>(
      checkrealloc(w->fli_stack_start, static_cast<std::size_t>(w->fli_stack_size) * sizeof(VR_globref_),
                   static_cast<std::size_t>(size) * sizeof(VR_globref_), FLI_STACK_CODE));
  w->fli_stack_size = size;
  w->flidata.fli_stack_start = w->fli_stack_start;
  if (w->fli_data != nullptr)
    w->fli_data->fli_stack_start = w->fli_stack_start;
}

/* A fresh heap variable (a reference to itself) at h. */
inline TAGGED new_var(TAGGED *h)
{
  *h = PointerToTerm(h);
  return *h;
}

/* The blocks live in engine memory: when that goes back to its source the
   list goes with it. */
void drop_globref_list(void)
{
  eglobal->globref_blk = globref_block{};
}

void make_globref_list(void)
{
  globref_block *root = &eglobal->globref_blk;
  root->size = sizeof(globref_block);
  root->nrefs = 0;
  root->forward = root->backward = root;
  memman_add_release_hook(drop_globref_list);
}

} // namespace

void fli_stack_init(worker *w)
{
  w->fli_stack_size = FLI_STACK_INITIAL_SLOTS;
  w->fli_stack_start = static_cast<VR_globref>(
      checkalloc(static_cast<std::size_t>(FLI_STACK_INITIAL_SLOTS) * sizeof(VR_globref_), FLI_STACK_CODE));
  w->fli_stack_index = FLI_PREDEFINED_SLOTS;
  w->fli_data = &w->flidata;
  w->flidata.fli_stack_start = w->fli_stack_start;
  w->flidata.term = w->term;

  /* The predefined slots' terms sit below the bottom choicepoint's heap
     top, so backtracking never takes them away. */
  TAGGED *h = w->global_top;
  VR_globref s = w->fli_stack_start;
  for (int i = 0; i < FLI_PREDEFINED_SLOTS; ++i)
    s[i].gc_word = 0;
  for (int i = 0; i < 5; ++i)
    s[i].term = new_var(h++);
  for (int i = FLI_SLOT_CLPFD; i <= FLI_SLOT_RESERVED; ++i) {
    h[0] = functor_Dmutable;
    h[1] = MakeSmall_checked(0);
    h[2] = MakeSmall_checked(0);
    s[i].term = MakeSTR(h);
    h += 3;
  }
  s[9].term = new_var(h++);
  w->global_top = h;
  if (w->node_ != nullptr) {
    w->node_->global_top = h;
    w->global_uncond = h;
  }

  /* A circle that exists already keeps its blocks: their owners still hold
     them and will unlink them with VR_free_globrefs, which must find their
     neighbours in the circle.  Their terms pointed into the old heap. */
  globref_block *root = &eglobal->globref_blk;
  if (root->forward == nullptr) {
    make_globref_list();
  } else {
    for (globref_block *b = root->forward; b != root; b = b->forward)
      fill_nil(block_slots(b), b->nrefs);
  }
  agc_add_root_marker(mark_reference_atoms);
}

void fli_stack_deinit(worker *w)
{
  if (w->fli_stack_start != nullptr)
    checkdealloc(w->fli_stack_start, static_cast<std::size_t>(w->fli_stack_size) * sizeof(VR_globref_),
                 FLI_STACK_CODE);
  w->fli_stack_start = nullptr;
  w->flidata.fli_stack_start = nullptr;
  w->fli_stack_size = 0;
  w->fli_stack_index = 0;
}

VR_term_ref VR_new_term_refs(int n)
{
  worker *w = self;
  const VR_term_ref first = w->fli_stack_index;
  if (n <= 0)
    return first;
  if (first + n > w->fli_stack_size)
    grow_fli_stack(w, first + n);
  fill_nil(w->fli_stack_start + first, n);
  w->fli_stack_index = first + n;
  return first;
}

VR_term_ref VR_new_term_ref(void) { return VR_new_term_refs(1); }

void VR_reset_term_refs(VR_term_ref mark)
{
  worker *w = self;
  if (mark < 0 || mark > w->fli_stack_index) {
    vr_errno = VR_ERR_DOMAIN;
    return;
  }
  w->fli_stack_index = mark;
}

TAGGED vr_ref_term(VR_term_ref ref) { return self->fli_stack_start[ref].term; }

VR_globref vr_get_globref_checked(VR_term_ref ref, worker *w)
{
  if (ref < 0 || ref >= w->fli_stack_index)
    return nullptr;
  return w->fli_stack_start + ref;
}

VR_globref VR_alloc_globrefs(int n)
{
  if (n < 0)
    return nullptr;
  globref_block *root = &eglobal->globref_blk;
  if (root->forward == nullptr) /* no worker yet */
    make_globref_list();
  const std::size_t size = sizeof(globref_block) + static_cast<std::size_t>(n) * sizeof(VR_globref_);
  globref_block *b = static_cast<globref_block *>(checkalloc(size, FLI_STACK_CODE));
  b->size = static_cast<std::uint32_t>(size);
  b->nrefs = n;
  b->forward = root->forward;
  b->backward = root;
  root->forward->backward = b;
  root->forward = b;
  fill_nil(block_slots(b), n);
  return block_slots(b);
}

void VR_free_globrefs(VR_globref slots)
{
  if (slots == nullptr)
    return;
  globref_block *b = reinterpret_cast<globref_block *>(slots) - 1;
  b->backward->forward = b->forward;
  b->forward->backward = b->backward;
  checkdealloc(b, b->size, FLI_STACK_CODE);
}

namespace {

/* Moves the iterator to the first slot of the next non-empty block after
   it->blk, or makes it empty. */
void iter_advance(GlobRefIter *it)
{
  it->next = it->end = nullptr;
  if (it->root->forward == nullptr)
    return;
  for (globref_block *b = it->blk->forward; b != it->root; b = b->forward)
    if (b->nrefs > 0) {
      it->blk = b;
      it->next = block_slots(b);
      it->end = it->next + b->nrefs;
      return;
    }
  it->blk = it->root;
}

} // namespace

void globref_iter_init(GlobRefIter *it)
{
  it->root = &eglobal->globref_blk;
  it->blk = it->root;
  iter_advance(it);
}

bool globref_iter_empty(const GlobRefIter *it) { return it->next == it->end; }

VR_globref globref_iter_next(GlobRefIter *it)
{
  VR_globref cell = it->next++;
  if (it->next == it->end)
    iter_advance(it);
  return cell;
}
