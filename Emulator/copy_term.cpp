/* copy_term.cpp: the term copier and $copy_term/2.
 *
 * The copier is a breadth-first (Cheney) scan over its own output: a
 * compound source term is copied as a block whose cells first hold the
 * source words, and the scan then turns each such cell into its copy, in
 * address order, appending new blocks at the top.  Blocks are recognised
 * by their first word (a functor, a box header, otherwise a list pair), so
 * the scan needs no stack and deep or cyclic terms cannot overflow
 * anything but the heap, which is checked.
 *
 * Forwarding makes shared and cyclic subterms come out shared: the first
 * cell of a copied source structure or list pair is overwritten with a
 * pointer into the copy (old word on the value trail).  For a list pair
 * that first cell may itself be a variable's cell; a reference chain that
 * ends in a cell holding a list pointer into the copy therefore names the
 * head cell of that pair's copy.  A source variable is bound to its copy
 * cell and trailed; a reference into the copy area means "already copied".
 * Boxed numbers are copied per occurrence (never forwarded) so that boxes
 * outside the heap, inline in code, are never written.
 *
 * $copy_term then finds the ground part of the copy without recursion: a
 * block is non-ground when it holds a variable or is a mutable, or refers
 * to a non-ground block; that set is propagated backwards over reverse
 * edges threaded through an auxiliary area above the copy.  References to
 * ground blocks are pointed back at their sources, and only the heap up to
 * the last non-ground block is kept.
 */
#include "copy_term.h"

#include <algorithm>

#include "instance.h"
#include "memman.h"
#include "stack_growth.h"
#include "terms.h"
#include "unify.h"
#include "worker.h"

copy_table ct;

void ct_clear(void) { ct.count = 0; }

void ct_free(void)
{
  if (ct.entries != nullptr)
    checkdealloc(ct.entries, static_cast<std::size_t>(ct.capacity), mm_code(MM_BIN_MISC));
  ct.entries = nullptr;
  ct.count = 0;
  ct.capacity = 0;
}

namespace {

/* Words kept free below the local stack by the copy. */
constexpr long COPY_STACK_GAP = 128;
/* Trail room the copier keeps below the value trail. */
constexpr long COPY_TRAIL_ROOM = 513;

inline TAGGED *node_words(const worker *w) { return reinterpret_cast<TAGGED *>(w->node_); }

/* A box header as the first word of a block: negative, low bits 111 (a
   negative small integer has 011; -1 marks constrained variables). */
inline bool is_header_word(TAGGED x) { return (x & 7) == 7 && (x >> 31) != 0 && x != CVA_MARKER; }

void ct_add(TAGGED *node)
{
  const std::int32_t need = (ct.count + 1) * static_cast<std::int32_t>(sizeof(ct_entry));
  if (need > ct.capacity) {
    if (ct.entries == nullptr) {
      ct.capacity = 32;
      ct.entries = static_cast<ct_entry *>(checkalloc(32, mm_code(MM_BIN_MISC)));
    } else {
      ct.entries = static_cast<ct_entry *>(checkrealloc(ct.entries, static_cast<std::size_t>(ct.capacity),
                                                        static_cast<std::size_t>(ct.capacity) * 2,
                                                        mm_code(MM_BIN_MISC)));
      ct.capacity *= 2;
    }
  }
  ct.entries[ct.count].node = node;
  ct.entries[ct.count].rank = 0;
  ct.count++;
}

struct copier {
  worker *w;
  bool compress;
  TAGGED *lo;    /* first cell of the copy area */
  TAGGED *top;   /* next free cell */
  TAGGED *limit; /* the copy must end at or below this */

  bool in_copy(const TAGGED *p) const { return p >= lo && p < top; }

  void room_for_trail()
  {
    if (node_words(w) + w->value_trail - w->trail_top < COPY_TRAIL_ROOM)
      choice_overflow(w, -512); /* heap cells are forwarded: no trail collection */
  }

  void forward(TAGGED *cell, TAGGED to)
  {
    room_for_trail();
    w->value_trail -= 2;
    TAGGED *pair = node_words(w) + w->value_trail;
    pair[0] = PointerToTerm(cell);
    pair[1] = *cell;
    *cell = to;
  }

  TAGGED *alloc(unsigned words)
  {
    if (top + words > limit)
      return nullptr;
    TAGGED *d = top;
    top += words;
    return d;
  }

  /* Replaces the source word in `cell` by its copy; false when the copy
     ran out of room. */
  bool copy_cell(TAGGED *cell)
  {
    TAGGED t = *cell;
    while (IsVar(t)) {
      TAGGED *p = TagToRef(t);
      if (in_copy(p)) {
        *cell = t;
        return true;
      }
      const TAGGED c = *p;
      if (c == t) {
        /* First meeting of a source variable: the cell becomes its copy. */
        const TAGGED fresh = PointerToTerm(cell);
        *cell = fresh;
        *p = fresh;
        room_for_trail();
        *w->trail_top++ = t;
        return true;
      }
      if (IsList(c) && in_copy(TagToLST(c))) {
        /* p is the head cell of a forwarded pair: its copy is the head of
           the pair's copy. */
        *cell = PointerToTerm(TagToLST(c));
        return true;
      }
      t = c;
    }
    if (IsAtomic(t)) {
      *cell = t;
      return true;
    }
    if (IsList(t)) {
      TAGGED *s = TagToLST(t);
      const TAGGED head = s[0];
      if (IsList(head) && in_copy(TagToLST(head))) {
        *cell = head;
        return true;
      }
      /* Shared pairs are not forwarded: a list head may legitimately point
         at its own pair, so a forwarding to itself could not be told from
         data; re-checking two words is cheap. */
      if (compress && IsAtomic(head) && IsAtomic(s[1])) {
        *cell = t;
        return true;
      }
      TAGGED *d = alloc(2);
      if (d == nullptr)
        return false;
      d[0] = head;
      d[1] = s[1];
      forward(s, MakeLST(d));
      *cell = MakeLST(d);
      return true;
    }
    TAGGED *s = TagToSTR(t);
    const TAGGED f = s[0];
    if (IsStructure(f)) { /* forwarded, to its copy or to itself */
      *cell = f;
      return true;
    }
    if (is_header_word(f)) {
      if (compress) {
        *cell = t;
        return true;
      }
      const unsigned n = BoxWords(f);
      TAGGED *d = alloc(n + 1);
      if (d == nullptr)
        return false;
      for (unsigned i = 0; i < n; i++)
        d[i] = s[i];
      d[n] = f; /* boxes inline in code have no trailer to copy */
      *cell = MakeSTR(d);
      return true;
    }
    const unsigned arity = Arity(f);
    if (is_bdd_functor(f)) {
      if (compress) {
        *cell = t;
        return true;
      }
    } else if (compress && f != functor_Dmutable) {
      unsigned i = 1;
      while (i <= arity && IsAtomic(s[i]))
        i++;
      if (i > arity) {
        forward(s, t);
        *cell = t;
        return true;
      }
    }
    TAGGED *d = alloc(arity + 1);
    if (d == nullptr)
      return false;
    for (unsigned i = 0; i <= arity; i++)
      d[i] = s[i];
    if (f == functor_Dmutable)
      d[2] = MakeSmall_checked(0);
    forward(s, MakeSTR(d));
    if (is_bdd_functor(f))
      ct_add(d);
    *cell = MakeSTR(d);
    return true;
  }
};

} // namespace

TAGGED *copy_term(worker *w, int compress)
{
  TAGGED *root = w->global_top;
  copier c{w, compress != 0, root + 1, root + 1, w->stack_start - COPY_STACK_GAP};
  if (!c.copy_cell(root))
    return nullptr;
  TAGGED *scan = root + 1;
  while (scan < c.top) {
    const TAGGED x = *scan;
    if (IsFunctor(x)) {
      /* A node's first argument is kept as it is. */
      scan += is_bdd_functor(x) ? 2 : 1;
    } else if (is_header_word(x)) {
      scan += BoxWords(x) + 1;
    } else {
      if (!c.copy_cell(scan))
        return nullptr;
      ++scan;
    }
  }
  return c.top;
}

void copy_term_undo(worker *w, std::int32_t vt_level, std::size_t trail_mark)
{
  for (std::int32_t i = w->value_trail; i < vt_level; i += 2) {
    const TAGGED *pair = node_words(w) + i;
    *TagToRef(pair[0]) = pair[1];
  }
  w->value_trail = vt_level;
  TAGGED *mark = w->trail_start + trail_mark;
  while (w->trail_top > mark) {
    const TAGGED e = *--w->trail_top;
    *TagToRef(e) = e;
  }
}

/* ---- $copy_term/2 ---- */

namespace {

/* One value-trail pair: the forwarded source cell and its old word. */
struct vt_pair {
  TAGGED cell;
  TAGGED old;
};
static_assert(sizeof(vt_pair) == 8);

/* The copy address a forwarded source cell now points to. */
inline TAGGED forward_target(const vt_pair &p) { return *TagToRef(p.cell) & ~TAG_MASK; }

/* Block layout, shared with the copier: a functor word starts a structure,
   a box header a box, anything else a list pair. */
inline unsigned block_size(TAGGED first)
{
  if (IsFunctor(first))
    return Arity(first) + 1;
  if (is_header_word(first))
    return BoxWords(first) + 1;
  return 2;
}
/* The cells of a block that hold terms of the copy. */
inline unsigned block_first_term(TAGGED first)
{
  if (IsFunctor(first))
    return is_bdd_functor(first) ? 2 : 1;
  return 0;
}
inline unsigned block_terms_end(TAGGED first)
{
  return is_header_word(first) ? 0 : block_size(first);
}

/* The ground-subterm analysis.  The copy is [base, base + n).  Aux area
   (2n + n/2 + 1 words from base + n):
     link[c]  edge cell c: next edge (index + 1) into the same block
     info[c]  block start: (first edge into it + 1) << 2 | 2 if non-ground | 1
              other cell:  its block's start << 2
     work[]   blocks waiting to pass non-groundness to their referrers
   Returns false when the aux area does not fit below the local stack. */
struct ground_analysis {
  worker *w;
  TAGGED *base;
  std::size_t n;
  vt_pair *vt;
  std::size_t nvt;
  TAGGED *link = nullptr, *info = nullptr, *work = nullptr;
  std::size_t nwork = 0;

  std::size_t owner(std::size_t c) const { return (info[c] & 1) ? c : info[c] >> 2; }
  bool nonground(std::size_t b) const { return (info[b] & 2) != 0; }
  void mark(std::size_t b)
  {
    if (!nonground(b)) {
      info[b] |= 2;
      work[nwork++] = static_cast<TAGGED>(b);
    }
  }

  /* The source cell forwarded to the copy block at `addr`, or null. */
  TAGGED *source_of(const TAGGED *addr) const
  {
    const TAGGED key = PointerToTerm(addr);
    std::size_t lo = 0, hi = nvt;
    while (lo < hi) {
      const std::size_t mid = (lo + hi) / 2;
      if (forward_target(vt[mid]) < key)
        lo = mid + 1;
      else
        hi = mid;
    }
    return lo < nvt && forward_target(vt[lo]) == key ? TagToRef(vt[lo].cell) : nullptr;
  }

  bool run(TAGGED *stack_limit, TAGGED *root, TAGGED **new_top)
  {
    link = base + n;
    info = link + n;
    work = info + n;
    if (work + n / 2 + 1 > stack_limit)
      return false;
    std::sort(vt, vt + nvt, [](const vt_pair &a, const vt_pair &b) { return forward_target(a) < forward_target(b); });

    for (std::size_t i = 0; i < n;) {
      const unsigned size = block_size(base[i]);
      info[i] = 1;
      link[i] = 0;
      for (unsigned k = 1; k < size; k++) {
        info[i + k] = static_cast<TAGGED>(i << 2);
        link[i + k] = 0;
      }
      i += size;
    }
    for (std::size_t i = 0; i < n;) {
      const TAGGED first = base[i];
      const unsigned size = block_size(first);
      if (first == functor_Dmutable || source_of(base + i) == nullptr)
        mark(i); /* a mutable's copy must stay a new term; no source to share */
      for (unsigned k = block_first_term(first); k < block_terms_end(first); k++) {
        const TAGGED x = base[i + k];
        if (IsAtomic(x))
          continue;
        const TAGGED *p = TagToPointer(x);
        const bool inside = p >= base && p < base + n;
        if (IsVar(x)) {
          mark(i);
          if (inside)
            mark(owner(static_cast<std::size_t>(p - base))); /* keep the referenced cell */
        } else if (inside) {
          const std::size_t t = static_cast<std::size_t>(p - base);
          link[i + k] = info[t] >> 2;
          info[t] = (info[t] & 3) | static_cast<TAGGED>((i + k + 1) << 2);
        }
      }
      i += size;
    }
    while (nwork > 0) {
      const std::size_t b = work[--nwork];
      for (TAGGED e = info[b] >> 2; e != 0; e = link[e - 1])
        mark(owner(e - 1));
    }

    /* Point references to ground blocks back at their sources. */
    std::size_t end_kept = 0;
    auto redirect = [&](TAGGED *cell) {
      const TAGGED x = *cell;
      if (!IsComplex(x))
        return;
      const TAGGED *p = TagToPointer(x);
      if (p < base || p >= base + n || nonground(static_cast<std::size_t>(p - base)))
        return;
      *cell = PointerToTerm(source_of(p)) | tag_of(x);
    };
    for (std::size_t i = 0; i < n;) {
      const TAGGED first = base[i];
      const unsigned size = block_size(first);
      if (nonground(i)) {
        for (unsigned k = block_first_term(first); k < block_terms_end(first); k++)
          redirect(base + i + k);
        end_kept = i + size;
      }
      i += size;
    }
    redirect(root);
    *new_top = end_kept == 0 ? root : base + end_kept;
    return true;
  }
};

} // namespace

int prolog_copy_term(worker *w)
{
  for (;;) {
    const TAGGED t = deref(w->term[0]);
    if (IsVar(t))
      return 1; /* a fresh variable unifies with anything */
    if (IsAtomic(t))
      return cunify(w, t, w->term[1]);
    const std::int32_t vt_level = w->value_trail;
    const std::size_t trail_mark = static_cast<std::size_t>(w->trail_top - w->trail_start);
    TAGGED *root = w->global_top;
    *root = t;
    TAGGED *end = copy_term(w, 1);
    TAGGED *new_top = nullptr;
    bool done = false;
    if (end != nullptr) {
      vt_pair *vt = reinterpret_cast<vt_pair *>(node_words(w) + w->value_trail);
      const std::size_t nvt = static_cast<std::size_t>(vt_level - w->value_trail) / 2;
      ground_analysis g{w, root + 1, static_cast<std::size_t>(end - (root + 1)), vt, nvt};
      done = g.run(w->stack_start - COPY_STACK_GAP, root, &new_top);
    }
    const TAGGED result = *root;
    copy_term_undo(w, vt_level, trail_mark);
    if (done) {
      w->global_top = new_top;
      return cunify(w, result, w->term[1]);
    }
    /* Ask for twice the free room and start again. */
    call_overflow(w, static_cast<int>(2 * (w->stack_start - w->global_top)), 2);
  }
}
