/* instances.cpp: turning a term into a stored instance image.
 *
 * compile_term copies the pair with copy_term (no sharing with the source)
 * into the free heap, then lays the copy out as the image: decision-diagram
 * nodes first, by rank (ascending first argument), then every other copied
 * cell in copy order, and the pair's own two cells last.  Pointers become
 * byte offsets from the image start plus their tag, so the image can be
 * placed at any address by adding it (get_instance).  Cell positions in the
 * image follow from a cell's copy address alone (see image_index), so any
 * pointer into the copy, including one to the pair's own cells, encodes.
 *
 * Callers: the predicate database (assert, record, blackboard, setof, the
 * stored exception).
 */
#include <algorithm>
#include <cassert>
#include <cstring>
#include <vector>

#include "copy_term.h"
#include "instance.h"
#include "memman.h"
#include "stack_growth.h"
#include "terms.h"
#include "worker.h"

TAGGED instance_key(TAGGED head)
{
  head = deref(head);
  TAGGED arg;
  if (IsList(head)) {
    arg = TagToLST(head)[0];
  } else if (IsStructure(head) && IsFunctor(*TagToSTR(head))) {
    arg = TagToSTR(head)[1];
  } else {
    return 0;
  }
  arg = deref(arg);
  if (IsVar(arg))
    return 0;
  if (IsAtomic(arg))
    return arg;
  if (IsList(arg))
    return functor_list;
  return *TagToSTR(arg);
}

namespace {

inline bool is_header_word(TAGGED x) { return (x & 7) == 7 && (x >> 31) != 0 && x != CVA_MARKER; }

/* Where each copied cell goes.  The copy is [pair, end) and starts with the
   pair's two cells; ct holds the node blocks in address order. */
struct image_layout {
  TAGGED *pair;
  TAGGED *end;
  std::uint32_t words;

  std::uint32_t index(const TAGGED *a) const
  {
    if (a < pair + 2)
      return words - 2 + static_cast<std::uint32_t>(a - pair);
    const std::uint32_t b = static_cast<std::uint32_t>(ct.count);
    if (b == 0)
      return static_cast<std::uint32_t>(a - (pair + 2));
    /* Nodes below a, and whether a lies inside one. */
    const ct_entry *e = std::upper_bound(ct.entries, ct.entries + ct.count, a,
                                         [](const TAGGED *x, const ct_entry &c) { return x < c.node; });
    const std::uint32_t below = static_cast<std::uint32_t>(e - ct.entries);
    if (below > 0 && a < e[-1].node + 4)
      return static_cast<std::uint32_t>(e[-1].rank) * 4 + static_cast<std::uint32_t>(a - e[-1].node);
    return 4 * b + static_cast<std::uint32_t>(a - (pair + 2)) - 4 * below;
  }

  TAGGED encode(TAGGED x) const
  {
    if (IsAtomic(x))
      return x;
    const TAGGED *p = TagToPointer(x);
    if (p < pair || p >= end)
      return x; /* cannot happen without sharing; left as it is */
    return index(p) * 4 + tag_of(x);
  }
};

void rank_nodes(void)
{
  /* Rank by first argument (unsigned), ties by address: equal diagrams give
     equal images. */
  const std::int32_t n = ct.count;
  if (n == 0)
    return;
  ct_entry *order = ct.entries;
  std::vector<std::int32_t> idx(static_cast<std::size_t>(n));
  for (std::int32_t i = 0; i < n; i++)
    idx[static_cast<std::size_t>(i)] = i;
  std::stable_sort(idx.begin(), idx.end(), [order](std::int32_t a, std::int32_t b) {
    return order[a].node[1] < order[b].node[1];
  });
  for (std::int32_t r = 0; r < n; r++)
    order[idx[static_cast<std::size_t>(r)]].rank = r;
}

instance *make_image(TAGGED *root, TAGGED *end)
{
  TAGGED *pair = root + 1;
  const image_layout lay{pair, end, static_cast<std::uint32_t>(end - pair)};
  const std::size_t bytes = INSTANCE_HEADER_BYTES + 4 * static_cast<std::size_t>(lay.words);
  instance *ins = static_cast<instance *>(checkalloc(bytes, mm_code(MM_BIN_INSTANCE)));
  std::memset(ins, 0, INSTANCE_HEADER_BYTES);
  ins->objsize = static_cast<std::uint32_t>(bytes);
  ins->source_link = nullptr;
  ins->bdd_count = ct.count;
  rank_nodes();
  TAGGED *code = ins->code;
  for (TAGGED *a = pair; a < end;) {
    const TAGGED x = *a;
    const std::uint32_t at = lay.index(a);
    if (IsFunctor(x)) {
      code[at] = x;
      if (is_bdd_functor(x)) {
        code[at + 1] = a[1]; /* the node's variable, as it is */
        code[at + 2] = lay.encode(a[2]);
        code[at + 3] = lay.encode(a[3]);
        a += 4;
      } else {
        ++a;
      }
    } else if (is_header_word(x)) {
      const unsigned k = BoxWords(x);
      for (unsigned i = 0; i <= k; i++)
        code[at + i] = a[i];
      a += k + 1;
    } else {
      code[at] = lay.encode(x);
      ++a;
    }
  }
  return ins;
}

} // namespace

instance *compile_term(worker *w, TAGGED pair, int live)
{
  for (;;) {
    ct_clear();
    const std::int32_t vt_level = w->value_trail;
    const std::size_t trail_mark = static_cast<std::size_t>(w->trail_top - w->trail_start);
    assert(IsList(deref(pair)) && "a stored term is a list pair");
    TAGGED *root = w->global_top;
    *root = pair;
    TAGGED *end = copy_term(w, 0);
    instance *ins = nullptr;
    if (end != nullptr)
      ins = make_image(root, end);
    ct_free();
    copy_term_undo(w, vt_level, trail_mark);
    if (ins != nullptr) {
      const TAGGED p = deref(pair);
      ins->key = IsList(p) ? instance_key(TagToLST(p)[0]) : 0;
      return ins;
    }
    w->term[live] = pair;
    call_overflow(w, static_cast<int>(2 * (w->stack_start - w->global_top)), live + 1);
    pair = w->term[live];
  }
}
