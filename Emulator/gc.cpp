/* gc.cpp: the heap garbage collector (see gc.h for what it does and who
 * calls it).
 *
 * One collection, in order: trail tidying (trail_gc), environment
 * initialisation (initChoicepoints), the list of the segment's unbound
 * constrained variables (found by a heap scan, or, for a whole-heap
 * collection, by variable shunting, which walks the same segments), marking
 * (trail, roots, then each choicepoint's environments and arguments, newest
 * first, each followed by the early reset of its trail segment), trail
 * compaction (compressTrail), then compaction: roots threaded, a downward
 * sweep that threads pointers to lower cells and resolves chains, an upward
 * sweep that moves the cells and resolves the chains of pointers to higher
 * cells.  Finally a new segment boundary: a temporary fail_alt choicepoint
 * at the new heap top, so that the next collection covers only what is
 * built after this one.
 *
 * Invariants this file relies on:
 *   - the heap can be parsed word by word: a box header (negative, low bits
 *     111, not -1) is followed by its payload and a trailer equal to it; -1
 *     starts a 4-word constrained variable; a functor word is followed by
 *     its arguments; every other word is a term;
 *   - nothing older than the segment points into it except through a trail
 *     entry (a conditional binding, a mutable update) or a root;
 *   - the local stack never holds pointers into the segment below
 *     gc_stack_start except in trailed cells;
 *   - heap cells never point into the local stack.
 *
 * Marking (mark_from): a word is claimed (M set, counted) when the object
 * holding it is entered; words of the object that still wait their turn
 * carry R.  The word being followed holds, in place of its contents, a back
 * pointer to the word it was reached from; the two low bits of that back
 * pointer and the word's own R bit say what kind of object it belongs to,
 * which tells the way back how to go on (the next waiting word of the
 * object, or up to the parent) and how to rebuild the parent's pointer.
 * Objects: a single cell (reference), a list cell (tail, then head), a
 * constrained variable (goals, attribute, cell; its marker claimed at
 * entry) and a structure (arguments last to first; the functor word, never
 * a back pointer, ends the walk down).  A word already claimed is never
 * entered again, so a cell reached both by a reference and as an argument
 * is followed once.
 *
 * Threading (intoRelocationChain): R on a word says that its contents are a
 * chain link; the head of a chain keeps its own tag, the last member of the
 * chain holds the head's original contents in its untagged bits.
 */
#include "gc.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "code_walkers.h"
#include "datadefs.h"
#include "errors.h"
#include "globref.h"
#include "initial_atoms.h"
#include "predicates.h"
#include "preds.h"
#include "stack_growth.h"
#include "stack_walk.h"
#include "stacks.h"
#include "support.h"
#include "terms.h"
#include "timing.h"
#include "unify.h"
#include "wamsup.h"
#include "worker.h"

void (*bdd_garbage_collect_hook)(worker *w, TAGGED *segment_start, TAGGED *new_top, int nodes) = nullptr;
gc_torture_settings gc_torture = {0, 0, false, 0, 0, false};

namespace {

/* ---------------------------------------------------------------------- */
/* The collection's static values */

struct gc_values {
  worker *w = nullptr;
  node *segment = nullptr;       /* gc_choice_start */
  node *aux = nullptr;           /* gc_aux_node: the current state as a choicepoint */
  TAGGED *heap_lo = nullptr;     /* gc_heap_start */
  TAGGED *heap_hi = nullptr;     /* global_top while marking */
  TAGGED *stack_lo = nullptr;    /* gc_stack_start */
  TAGGED *trail_lo = nullptr;    /* gc_trail_start */
};
gc_values g;

std::int64_t total_found = 0; /* words marked in the segment */
std::int64_t gcgrey = 0;      /* of them, marked only from older cells */
std::int64_t gc_total_grey = 0;
std::int64_t bdds_found = 0;
bool collecting = false;

const TAGGED functor_bdd_pos3 = MakeFunctor(MakeAtom(atom_Dbdd_pos_enum), 3);
const TAGGED functor_bdd_neg3 = MakeFunctor(MakeAtom(atom_Dbdd_neg_enum), 3);

inline bool is_box_header(TAGGED t)
{
  return (t & 7) == 7 && static_cast<std::int32_t>(t) < 0 && t != CVA_MARKER;
}
inline bool is_pointer(TAGGED t) { return tag_of(t) != CONST_TAG && t != 0; }
inline bool in_segment(const TAGGED *p) { return p >= g.heap_lo && p < g.heap_hi; }
inline bool in_heap(const worker *w, const TAGGED *p) { return p >= w->heap_start && p < w->global_top; }
inline bool in_local(const worker *w, const TAGGED *p) { return p >= w->stack_start && p < w->stack_end; }

/* ---------------------------------------------------------------------- */
/* Bits */

/* Heap-and-local words: M at bit 2k, R at 2k + 1 of byte i / 4. */
inline unsigned char *hl_byte(const worker *w, const TAGGED *p, unsigned *shift)
{
  std::uintptr_t i = static_cast<std::uintptr_t>(p - w->heap_start);
  *shift = 2 * (i & 3);
  return reinterpret_cast<unsigned char *>(w->stack_end) + (i >> 2);
}
inline bool marked(const worker *w, const TAGGED *p)
{
  unsigned s;
  const unsigned char *b = hl_byte(w, p, &s);
  return (*b >> s) & 1;
}
inline void set_mark(const worker *w, const TAGGED *p)
{
  unsigned s;
  unsigned char *b = hl_byte(w, p, &s);
  *b = static_cast<unsigned char>(*b | (1u << s));
}
inline void clear_mark(const worker *w, const TAGGED *p)
{
  unsigned s;
  unsigned char *b = hl_byte(w, p, &s);
  *b = static_cast<unsigned char>(*b & ~(1u << s));
}

/* R of any word a chain may hold: heap-and-local, trail-and-choice, or a
   term-reference or global-reference cell (its second word). */
enum class area { heap_local, trail_choice, cell };
inline area area_of(const worker *w, const TAGGED *p)
{
  if (p >= w->heap_start && p < w->stack_end)
    return area::heap_local;
  if (p >= w->trail_start && p < w->choice_start)
    return area::trail_choice;
  return area::cell;
}
inline unsigned char *tc_byte(const worker *w, const TAGGED *p, unsigned *shift)
{
  std::uintptr_t i = static_cast<std::uintptr_t>(p - w->trail_start);
  *shift = i & 7;
  return reinterpret_cast<unsigned char *>(w->choice_start) + (i >> 3);
}
inline bool r_bit(const worker *w, const TAGGED *p)
{
  unsigned s;
  const unsigned char *b;
  switch (area_of(w, p)) {
  case area::heap_local:
    b = hl_byte(w, p, &s);
    return (*b >> (s + 1)) & 1;
  case area::trail_choice:
    b = tc_byte(w, p, &s);
    return (*b >> s) & 1;
  default:
    return p[1] & 1;
  }
}
inline void set_r(const worker *w, TAGGED *p)
{
  unsigned s;
  unsigned char *b;
  switch (area_of(w, p)) {
  case area::heap_local:
    b = hl_byte(w, p, &s);
    *b = static_cast<unsigned char>(*b | (2u << s));
    break;
  case area::trail_choice:
    b = tc_byte(w, p, &s);
    *b = static_cast<unsigned char>(*b | (1u << s));
    break;
  default:
    p[1] |= 1;
  }
}
inline void clear_r(const worker *w, TAGGED *p)
{
  unsigned s;
  unsigned char *b;
  switch (area_of(w, p)) {
  case area::heap_local:
    b = hl_byte(w, p, &s);
    *b = static_cast<unsigned char>(*b & ~(2u << s));
    break;
  case area::trail_choice:
    b = tc_byte(w, p, &s);
    *b = static_cast<unsigned char>(*b & ~(1u << s));
    break;
  default:
    p[1] &= ~1u;
  }
}
/* The same bit of the trail-and-choice bitmap, used for two flags outside
   compaction: surviving mutable entries (trail_gc) and choicepoint starts
   (visiting choicepoints oldest first). */
inline bool tc_flag(const worker *w, const TAGGED *p) { return r_bit(w, p); }

/* ---------------------------------------------------------------------- */
/* Choicepoints and the scratch choicepoint */

inline node *aux_node(worker *w)
{
  return reinterpret_cast<node *>(reinterpret_cast<TAGGED *>(w->node_) - NODE_HEADER_WORDS);
}

/* Writes the scratch choicepoint and the segment values. */
void set_values(worker *w)
{
  if (w->segment_node == nullptr)
    calculate_segment_node(w);
  g.w = w;
  node *a = aux_node(w);
  a->next_alt = fail_alt;
  a->local_top = w->local_top;
  a->global_top = w->global_top;
  a->trail_top = w->trail_top;
  a->frame_ = w->frame_;
  a->next_insn = w->next_insn;
  g.aux = a;
  g.segment = w->segment_node;
  g.heap_lo = g.segment->global_top;
  g.heap_hi = w->global_top;
  g.stack_lo = g.segment->local_top;
  g.trail_lo = node_trail_top(g.segment);
}

inline int saved_args(const node *b)
{
  const try_node *a = node_alt(b);
  return a == nullptr ? 0 : (a->node_offset - 24) / 4;
}

/* Calls visit(b) for the choicepoints from `from` (inclusive) to `to`
   (exclusive), oldest first, without links to follow that way: their
   header words are flagged in the trail-and-choice bitmap and the block is
   scanned back up.  The flags are cleared as the scan goes. */
template <typename F> void oldest_first(worker *w, node *from, node *to, F &&visit)
{
  for (node *b = from; b != to; b = node_previous(b))
    set_r(w, reinterpret_cast<TAGGED *>(b));
  for (TAGGED *a = reinterpret_cast<TAGGED *>(to) - 1; a >= reinterpret_cast<TAGGED *>(from); a--)
    if (tc_flag(w, a)) {
      clear_r(w, a);
      visit(reinterpret_cast<node *>(a));
    }
}

/* ---------------------------------------------------------------------- */
/* Marking by pointer reversal */

/* Object kinds, kept in the back pointer's two low bits and, for the
   upper bit, the R bit of the word that holds it. */
enum : unsigned { K_REF = 0, K_STR = 1, K_LST_TAIL = 2, K_CVA = 4, K_LST_HEAD = 6 };

inline void claim(worker *w, TAGGED *p)
{
  set_mark(w, p);
  total_found++;
}

void mark_from(worker *w, TAGGED *root)
{
  TAGGED *cur = root;
  TAGGED val = *root;
  TAGGED *first = nullptr;
  TAGGED ptag = 0;

forward:
  {
    TAGGED *h = nullptr;
    unsigned code = K_REF;
    switch (tag_of(val)) {
    case REF_TAG: {
      TAGGED *t = TagToRef(val);
      if (val == 0 || !in_segment(t))
        goto finish;
      if (t[-1] == CVA_MARKER) {
        /* A cell with M under an unmarked marker is on the list of
           unbound constrained variables: it is marked when the list
           comes to it (its cell holds a list link meanwhile). */
        if (marked(w, t - 1) || marked(w, t))
          goto finish;
        claim(w, t - 1);
        claim(w, t);
        for (TAGGED *x = t + 2; x > t; x--)
          if (!marked(w, x)) {
            claim(w, x);
            if (h == nullptr)
              h = x;
            else
              set_r(w, x);
          }
        if (h == nullptr)
          h = t;
        else
          set_r(w, t);
        code = K_CVA;
      } else {
        if (marked(w, t))
          goto finish;
        claim(w, t);
        h = t;
        code = K_REF;
      }
      break;
    }
    case LST_TAG: {
      TAGGED *t = TagToLST(val);
      if (!in_segment(t))
        goto finish;
      const bool head = !marked(w, t), tail = !marked(w, t + 1);
      if (!head && !tail)
        goto finish;
      if (head)
        claim(w, t);
      if (tail) {
        claim(w, t + 1);
        h = t + 1;
        code = K_LST_TAIL;
        if (head)
          set_r(w, t);
      } else {
        h = t;
        code = K_LST_HEAD;
      }
      break;
    }
    case STR_TAG: {
      TAGGED *t = TagToSTR(val);
      if (!in_segment(t) || marked(w, t))
        goto finish;
      const TAGGED f = *t;
      if (is_box_header(f)) {
        set_mark(w, t);
        total_found += BoxWords(f) + 1;
        goto finish;
      }
      claim(w, t);
      for (TAGGED *a = t + Arity(f); a > t; a--)
        if (!marked(w, a)) {
          claim(w, a);
          if (h == nullptr)
            h = a;
          else
            set_r(w, a);
        }
      if (h == nullptr)
        goto finish;
      code = K_STR;
      break;
    }
    default:
      goto finish;
    }
    /* Go down into h, leaving the way back in it. */
    const TAGGED hv = *h;
    *h = PointerToTerm(cur) | (code & 3);
    if (code & 4)
      set_r(w, h);
    cur = h;
    val = hv;
    goto forward;
  }

finish:
  /* cur's contents are followed; val is what cur holds. */
  if (cur == root) {
    *root = val;
    return;
  }
  {
    const TAGGED bp = *cur;
    const unsigned code = (bp & 3) | (r_bit(w, cur) ? 4u : 0u);
    TAGGED *parent = TagToPointer(bp);
    TAGGED *next = nullptr;
    unsigned next_code = code;
    switch (code) {
    case K_REF:
      first = cur;
      ptag = REF_TAG;
      break;
    case K_STR: {
      TAGGED *y = cur - 1;
      while (!r_bit(w, y) && !IsFunctor(*y))
        y--;
      if (r_bit(w, y)) {
        next = y;
      } else {
        first = y;
        ptag = STR_TAG;
      }
      break;
    }
    case K_LST_TAIL:
      if (r_bit(w, cur - 1)) {
        next = cur - 1;
        next_code = K_LST_HEAD;
      } else {
        first = cur - 1;
        ptag = LST_TAG;
      }
      break;
    case K_LST_HEAD:
      first = cur;
      ptag = LST_TAG;
      break;
    case K_CVA:
      if (cur[-1] == CVA_MARKER) {
        first = cur;
        ptag = REF_TAG;
      } else {
        TAGGED *y = cur - 1;
        while (y[-1] != CVA_MARKER && !r_bit(w, y))
          y--;
        next = y;
      }
      break;
    default:
      VR_raise_fault("GC: bad back pointer while marking");
    }
    *cur = val;
    clear_r(w, cur);
    if (next != nullptr) {
      const TAGGED nv = *next;
      clear_r(w, next);
      *next = PointerToTerm(parent) | (next_code & 3);
      if (next_code & 4)
        set_r(w, next);
      cur = next;
      val = nv;
      goto forward;
    }
    val = PointerToTerm(first) | ptag;
    cur = parent;
    goto finish;
  }
}

/* Marks from a root word unless it holds nothing to follow. */
inline void mark_root(worker *w, TAGGED *p)
{
  if (is_pointer(*p))
    mark_from(w, p);
}

/* ---------------------------------------------------------------------- */
/* Environments */

inline INSN *resume_continuation(void)
{
  return preds.resume != nullptr ? &preds.resume->proc.continuation : nullptr;
}
/* Environment chains are walked to the bottom of the local stack, not only
   down to gc_stack_start: an environment made before the segment
   choicepoint gets its permanent variables initialised later, without a
   trail entry, and such a slot may be the only reference to a cell of the
   segment.  Chains shared by several choicepoints are walked once (each
   walk stops at the first word already visited). */
inline bool env_in_segment(const frame *e)
{
  const TAGGED *p = reinterpret_cast<const TAGGED *>(e);
  return e != nullptr && p >= g.w->stack_start && p < g.aux->local_top;
}
/* The live words of e returned to at cp: from e plus cp[-1] bytes, less one
   word, down to the first Y word. */
inline TAGGED *env_top(frame *e, INSN *cp)
{
  return reinterpret_cast<TAGGED *>(reinterpret_cast<char *>(e) + static_cast<std::int16_t>(cp[-1])) - 1;
}

/* A cache of continuations that init_environment found nothing to do for,
   within one collection (code may be freed and reused between them). */
constexpr unsigned CONT_CACHE_SIZE = 1024;
INSN *cont_cache[CONT_CACHE_SIZE];

inline std::uint32_t rotr(std::uint32_t x, unsigned k) { return (x >> k) | (x << (32 - k)); }
unsigned cont_cache_index(const INSN *cp)
{
  const std::uint32_t a = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(cp));
  std::uint32_t u = (a ^ 0x90440855u) - 0x2042AC82u;
  const std::uint32_t v = (u ^ 0xDEADBEEFu) - rotr(u, 7);
  const std::uint32_t x = (v ^ 0x90440855u) - rotr(v, 16);
  u = (x ^ u) - rotr(x, 28);
  const std::uint32_t y = (u ^ v) - rotr(u, 18);
  return ((x ^ y) - rotr(y, 8)) & (CONT_CACHE_SIZE - 1);
}

/* The environment chain of one choicepoint for initChoicepoints: first
   words of visited environments get M; init (else: clear the marks).  Both
   passes take the same path, so every mark set is cleared. */
void init_walk(worker *w, frame *e, INSN *cp, bool init)
{
  INSN *const resume_cp = resume_continuation();
  while (env_in_segment(e) && cp != nullptr) {
    TAGGED *e0 = reinterpret_cast<TAGGED *>(e);
    if (cp == resume_cp && resume_cp != nullptr) {
      /* An escape environment: $resume's seven arguments, above the
         suspension frame. */
      frame *s = e->frame_;
      if (init) {
        if (marked(w, e0))
          return;
        set_mark(w, e0);
        set_mark(w, reinterpret_cast<TAGGED *>(s));
      } else {
        if (!marked(w, e0))
          return;
        clear_mark(w, e0);
        clear_mark(w, reinterpret_cast<TAGGED *>(s));
      }
      const TAGGED high = e0[4], low = e0[5];
      INSN *resume = reinterpret_cast<INSN *>((high - 3) + ((low >> 3) & ~1u));
      const bool linked = ((low >> 3) & 1) != 0;
      /* The code from the interrupted instruction fills the environment
         of its clause; before the clause's environment exists (type 0) the
         frame below is the caller's, continued where the caller's call
         returns.  A first call (type 1) whose environment was not linked
         cannot occur; treat it as type 0. */
      e = s->frame_;
      cp = linked || continuation_type(resume, nullptr) >= 2 ? resume : s->next_insn;
      /* The frame below is classified afresh: a clause without an
         environment that was called from $resume (a slow predicate, a
         woken goal) leaves $resume's own environment there, with the
         suspension frame of an earlier escape under it.  Taken for an
         ordinary environment, that frame's saved continuation (the point
         before the earlier interrupted instruction) would put $uninit in
         variables that instruction's clause had already written. */
      continue;
    }
    if (init) {
      if (marked(w, e0))
        return;
      set_mark(w, e0);
      const unsigned k = cont_cache_index(cp);
      if (cont_cache[k] != cp && init_environment(e, cp) == 0)
        cont_cache[k] = cp;
    } else {
      if (!marked(w, e0))
        return;
      clear_mark(w, e0);
    }
    cp = e->next_insn;
    e = e->frame_;
  }
}

/* Marks the live environment words of one choicepoint's chain; stops at
   the first word already marked. */
void mark_envs(worker *w, frame *e, INSN *cp)
{
  while (env_in_segment(e) && cp != nullptr) {
    for (TAGGED *y = env_top(e, cp); y >= e->term; y--) {
      if (marked(w, y))
        return;
      set_mark(w, y);
      mark_root(w, y);
    }
    cp = e->next_insn;
    e = e->frame_;
  }
}

/* Threads the marked environment words of one chain, clearing their
   marks; stops at the first unmarked word. */
void thread_envs(worker *w, frame *e, INSN *cp)
{
  while (env_in_segment(e) && cp != nullptr) {
    for (TAGGED *y = env_top(e, cp); y >= e->term; y--) {
      if (!marked(w, y))
        return;
      clear_mark(w, y);
      if (is_pointer(*y) && in_segment(TagToPointer(*y)))
        intoRelocationChain(w, TagToPointer(*y), y);
    }
    cp = e->next_insn;
    e = e->frame_;
  }
}

/* ---------------------------------------------------------------------- */
/* The unbound constrained variables of the segment, chained through their
   cells ([] ends the chain); each listed cell carries M meanwhile. */

TAGGED cva_list = atom_nil;

inline void list_cva(worker *w, TAGGED *cell)
{
  *cell = cva_list;
  cva_list = PointerToTerm(cell);
  set_mark(w, cell);
}

/* Parses [from, to) and lists the unbound constrained variables without M;
   calls bound(cell) for the bound ones. */
template <typename F> void scan_cvas(worker *w, TAGGED *from, TAGGED *to, F &&bound)
{
  for (TAGGED *p = from; p < to;) {
    const TAGGED t = *p;
    if (t == CVA_MARKER) {
      TAGGED *cell = p + 1;
      if (*cell == PointerToTerm(cell)) {
        if (!marked(w, cell))
          list_cva(w, cell);
      } else {
        bound(cell);
      }
      p += 4;
    } else if (is_box_header(t)) {
      p += BoxWords(t) + 1;
    } else if (IsFunctor(t)) {
      p += Arity(t) + 1;
    } else {
      p++;
    }
  }
}

/* ---------------------------------------------------------------------- */
/* Variable shunting (whole-heap collections) */

/* Replaces a reference to a bound heap cell that carries no M (no newer
   segment will unbind it) by that cell's contents, repeatedly.  A
   constrained variable is never passed over: its binding is not final
   until it has been woken. */
inline void shorten(worker *w, TAGGED *p)
{
  for (;;) {
    const TAGGED v = *p;
    if (!IsVar(v) || v == 0)
      return;
    TAGGED *c = TagToRef(v);
    if (c == p || !in_heap(w, c) || marked(w, c) || c[-1] == CVA_MARKER)
      return;
    const TAGGED cv = *c;
    if (cv == v)
      return; /* unbound */
    *p = cv;
  }
}

template <typename F> void each_binding(TAGGED *from, TAGGED *to, F &&visit)
{
  for (TAGGED *p = from; p < to;) {
    const TAGGED t = *p;
    if (trail_starts_mutable(t)) {
      p += TRAIL_MUTABLE_WORDS;
      continue;
    }
    if (trail_is_binding(t))
      visit(TagToRef(t));
    p++;
  }
}

void shunt_variables(worker *w)
{
  /* Every trailed cell gets M: it may be unbound by backtracking. */
  each_binding(g.trail_lo, w->trail_top, [&](TAGGED *c) {
    if (c >= w->heap_start && c < w->stack_end)
      set_mark(w, c);
  });
  node *older = g.segment;
  auto segment_step = [&](node *newer) {
    TAGGED *tr_from = node_trail_top(older), *tr_to = node_trail_top(newer);
    each_binding(tr_from, tr_to, [&](TAGGED *c) {
      if (c >= w->heap_start && c < w->stack_end)
        clear_mark(w, c);
    });
    each_binding(tr_from, tr_to, [&](TAGGED *c) {
      if (c >= w->heap_start && c < w->stack_end)
        shorten(w, c);
    });
    scan_cvas(w, older->global_top, newer->global_top, [&](TAGGED *cell) { shorten(w, cell); });
    /* Environments made in this segment: above older's local top. */
    frame *e = newer->frame_;
    INSN *cp = newer->next_insn;
    while (e != nullptr && cp != nullptr && reinterpret_cast<TAGGED *>(e) >= older->local_top) {
      for (TAGGED *y = env_top(e, cp); y >= e->term; y--)
        shorten(w, y);
      cp = e->next_insn;
      e = e->frame_;
    }
    for (int i = 0; i < saved_args(newer); i++)
      shorten(w, &newer->term[i]);
    older = newer;
  };
  oldest_first(w, g.aux, g.segment, segment_step);
}

/* ---------------------------------------------------------------------- */
/* Trail marking and early reset */

inline bool is_cva_cell(const worker *w, const TAGGED *c)
{
  return c >= w->heap_start && c < w->stack_start && c[-1] == CVA_MARKER;
}
/* Older than the segment: below gc_heap_start on the heap, below
   gc_stack_start on the local stack. */
inline bool old_cell(const worker *w, const TAGGED *c)
{
  return c < w->stack_start ? c < g.heap_lo : c < g.stack_lo;
}

void mark_trail(worker *w)
{
  for (TAGGED l = cva_list; l != atom_nil;) {
    TAGGED *cell = TagToRef(l);
    l = *cell;
    *cell = PointerToTerm(cell);
    clear_mark(w, cell);
    markTerm(PointerToTerm(cell));
  }
  cva_list = atom_nil;

  std::uint32_t woken = 0;
  for (TAGGED *p = w->trail_top; p > g.trail_lo;) {
    const TAGGED t = p[-1];
    if (trail_ends_mutable(t)) {
      TAGGED *e = p - TRAIL_MUTABLE_WORDS;
      p = e;
      TAGGED *m = TagToSTR(e[0]);
      if (m < g.heap_lo && !marked(w, m + 1)) {
        const std::int64_t before = total_found;
        mark_root(w, m + 1);
        set_mark(w, m + 1);
        gcgrey += total_found - before;
      }
      continue;
    }
    p--;
    if (trail_is_cleanup(t)) {
      mark_from(w, p);
      continue;
    }
    if (!trail_is_binding(t))
      continue;
    TAGGED *c = TagToRef(t);
    const bool cva = is_cva_cell(w, c);
    const bool pending = cva && woken < w->wake_count;
    if (cva)
      woken++;
    if (old_cell(w, c)) {
      /* An old local cell may also be a live word of an environment that
         the environment walks mark and thread word by word, stopping at
         the first word already done: it is flagged with R instead of M
         (no local word carries R while marking), and threaded here only
         when no environment walk reached it. */
      const bool local = c >= w->stack_start;
      if (!(local ? r_bit(w, c) : marked(w, c)) && is_pointer(*c) && in_segment(TagToPointer(*c))) {
        const std::int64_t before = total_found;
        mark_from(w, c);
        if (local)
          set_r(w, c);
        else
          set_mark(w, c);
        gcgrey += total_found - before;
      }
    } else if (pending) {
      mark_from(w, p);
    }
  }
}

/* Early reset of the trail entries in [from, to), made after a choicepoint
   whose state (and every newer one) has been marked. */
void early_reset(worker *w, TAGGED *from, TAGGED *to)
{
  for (TAGGED *p = to; p > from;) {
    const TAGGED t = p[-1];
    if (trail_ends_mutable(t)) {
      TAGGED *e = p - TRAIL_MUTABLE_WORDS;
      p = e;
      TAGGED *m = TagToSTR(e[0]);
      if (!marked(w, m + 1)) {
        m[1] = e[1];
        e[0] = e[1] = e[2] = 0;
      } else {
        mark_root(w, e + 1);
      }
      continue;
    }
    p--;
    if (!trail_is_binding(t))
      continue;
    TAGGED *c = TagToRef(t);
    if (old_cell(w, c) || marked(w, c))
      continue;
    if (is_cva_cell(w, c)) {
      /* It stays a live constrained variable, unbound again when
         backtracking undoes the entry. */
      *c = atom_nil;
      mark_from(w, p);
    } else {
      *c = PointerToTerm(c);
      *p = 0;
    }
  }
}

/* ---------------------------------------------------------------------- */
/* Compaction */

void thread_if_into_segment(worker *w, TAGGED *p)
{
  const TAGGED t = *p;
  if (is_pointer(t) && in_segment(TagToPointer(t)))
    intoRelocationChain(w, TagToPointer(t), p);
}

void thread_roots(worker *w)
{
  for (TAGGED *p = g.trail_lo; p < w->trail_top;) {
    const TAGGED t = *p;
    if (trail_starts_mutable(t)) {
      TAGGED *m = TagToSTR(t);
      if (in_segment(m)) {
        intoRelocationChain(w, m, p);
      } else if (marked(w, m + 1)) {
        clear_mark(w, m + 1);
        thread_if_into_segment(w, m + 1);
      }
      thread_if_into_segment(w, p + 1);
      p += TRAIL_MUTABLE_WORDS;
      continue;
    }
    if (trail_is_binding(t)) {
      TAGGED *c = TagToRef(t);
      if (in_segment(c)) {
        intoRelocationChain(w, c, p);
      } else if (old_cell(w, c) && c >= w->stack_start) {
        if (r_bit(w, c)) {
          clear_r(w, c);
          if (!marked(w, c))
            thread_if_into_segment(w, c); /* else its environment's walk does */
        }
      } else if (old_cell(w, c) && marked(w, c)) {
        clear_mark(w, c);
        thread_if_into_segment(w, c);
      }
    } else if (trail_is_cleanup(t)) {
      thread_if_into_segment(w, p);
    }
    p++;
  }
  if (w->fli_stack_start != nullptr)
    for (int i = 0; i < w->fli_stack_index; i++)
      thread_if_into_segment(w, &w->fli_stack_start[i].term);
  GlobRefIter it;
  globref_iter_init(&it);
  while (!globref_iter_empty(&it))
    thread_if_into_segment(w, &globref_iter_next(&it)->term);
  call_fd_manager(3, g.heap_lo);
  /* The same choicepoints as marking, the segment one included: its
     environment chain reaches below gc_stack_start. */
  for (node *b = g.aux;; b = node_previous(b)) {
    thread_envs(w, b->frame_, b->next_insn);
    for (int i = 0; i < saved_args(b); i++)
      thread_if_into_segment(w, &b->term[i]);
    if (b == g.segment)
      break;
  }
}

/* The contents a chain head had before threading. */
TAGGED chain_value(worker *w, TAGGED *p)
{
  const TAGGED head = *p;
  TAGGED *q = TagToPointer(head);
  while (r_bit(w, q))
    q = TagToPointer(*q);
  return (*q & ~TAG_MASK) | (head & TAG_MASK);
}

void sweep_down(worker *w)
{
  TAGGED *const lo = g.heap_lo;
  TAGGED *const top = g.heap_hi;
  TAGGED *d = lo + total_found;
  std::int64_t run = 0; /* unmarked words just above p */
  node *cb = g.aux;
  for (TAGGED *p = top - 1;; p--) {
    while (cb != g.segment && p < cb->global_top) {
      cb->global_top = d;
      cb = node_previous(cb);
    }
    if (p < lo)
      break;
    if (!marked(w, p)) {
      run++;
      continue;
    }
    const bool chained = r_bit(w, p);
    const TAGGED v = chained ? chain_value(w, p) : *p;
    const std::int64_t size = is_box_header(v) ? BoxWords(v) + 1 : 1;
    TAGGED *na = d - size;
    if (chained)
      updateRelocationChain(w, p, na);
    run -= size - 1; /* a box's payload and trailer were counted as garbage */
    if (run < 0)
      VR_raise_fault("GC: marked cell count is wrong");
    if (run > 0)
      p[size] = static_cast<TAGGED>(run - 1);
    run = 0;
    d = na;
    if (size == 1 && is_pointer(*p)) {
      TAGGED *t = TagToPointer(*p);
      if (t == p)
        *p = PointerToTerm(na) | tag_of(*p);
      else if (t >= lo && t < p)
        intoRelocationChain(w, t, p);
    }
  }
  if (run > 0)
    *lo = static_cast<TAGGED>(run - 1);
  if (d != lo)
    VR_raise_fault("GC: marked cell count is wrong");
}

TAGGED *sweep_up(worker *w)
{
  TAGGED *const lo = g.heap_lo;
  TAGGED *const top = g.heap_hi;
  TAGGED *dest = lo;
  for (TAGGED *p = lo; p < top;) {
    if (!marked(w, p)) {
      p += static_cast<std::uintptr_t>(*p) + 1;
      continue;
    }
    clear_mark(w, p);
    if (r_bit(w, p))
      updateRelocationChain(w, p, dest);
    const TAGGED v = *p;
    if (is_box_header(v)) {
      const unsigned n = BoxWords(v) + 1;
      std::memmove(dest, p, n * sizeof(TAGGED));
      dest += n;
      p += n;
      continue;
    }
    if (v == functor_bdd_pos3 || v == functor_bdd_neg3)
      bdds_found++;
    *dest = v;
    if (is_pointer(v)) {
      TAGGED *t = TagToPointer(v);
      if (t > p && t < top)
        intoRelocationChain(w, t, dest);
    }
    dest++;
    p++;
  }
  return dest;
}

/* ---------------------------------------------------------------------- */
/* Trace */

void trace_start(worker *w)
{
  const TAGGED mode = eglobal->current_gctrace;
  if (mode == MakeAtom(atom_terse_enum)) {
    vr_ttyprintf("%% GC\n");
    vr_ttyflush();
  } else if (mode == MakeAtom(atom_verbose_enum)) {
    vr_ttyprintf("%%  GC start: Heap (%p[%p] - %p) size= %ld bytes\n", static_cast<void *>(w->heap_start),
                 static_cast<void *>(g.heap_lo), static_cast<void *>(w->global_top),
                 static_cast<long>((w->global_top - w->heap_start) * 4));
    vr_ttyprintf("%%        Stack (%p[%p] - %p)\n", static_cast<void *>(w->stack_start),
                 static_cast<void *>(g.stack_lo), static_cast<void *>(w->local_top));
    vr_ttyprintf("%%     Choice (%p[%p] - %p)\n", static_cast<void *>(w->choice_start),
                 static_cast<void *>(g.segment), static_cast<void *>(w->node_));
    vr_ttyprintf("%%           Trail (%p[%p] - %p)\n", static_cast<void *>(w->trail_start),
                 static_cast<void *>(g.trail_lo), static_cast<void *>(w->trail_top));
    vr_ttyflush();
  }
}

inline bool tracing_verbose(void) { return eglobal->current_gctrace == MakeAtom(atom_verbose_enum); }

/* ---------------------------------------------------------------------- */
/* The new segment boundary */

inline bool cleanup_pending(const node *b)
{
  return (reinterpret_cast<std::uintptr_t>(b->next_alt) & NODE_CLEANUP_PENDING) != 0;
}

void new_boundary(worker *w)
{
  node *b = w->node_;
  /* A choicepoint marked for pending clean-ups stays the newest: the
     emulator looks for the mark on the newest choicepoint only, and a
     fail_alt moved up over its trail segment would hide the records. */
  if (w->wake_count == 0 && !cleanup_pending(b)) {
    if (node_alt(b) == fail_alt) {
      if (w->trail_top > node_trail_top(b)) {
        /* Its entries are then kept only for cells older than the
           choicepoint beneath. */
        b->global_top = node_previous(b)->global_top;
        w->global_uncond = b->global_top;
        calculate_segment_node(w);
        trail_gc(w);
        compressTrail(w, 0);
      }
      const std::uintptr_t flags = reinterpret_cast<std::uintptr_t>(b->trail_top) & 3;
      b->global_top = w->global_top;
      b->trail_top = reinterpret_cast<TAGGED *>(reinterpret_cast<std::uintptr_t>(w->trail_top) | flags);
    } else {
      node *f = aux_node(w);
      f->next_alt = fail_alt;
      f->trail_top = w->trail_top;
      f->global_top = w->global_top;
      f->local_top = b->local_top;
      f->frame_ = b->frame_;
      f->next_insn = b->next_insn;
      w->node_ = f;
    }
  }
  b = w->node_;
  b->trail_top = reinterpret_cast<TAGGED *>(reinterpret_cast<std::uintptr_t>(b->trail_top) | NODE_SEGMENT_MARK);
  w->global_uncond = b->global_top;
  w->local_uncond = b->local_top;
  w->segment_node = b;
  if (reinterpret_cast<TAGGED *>(w->node_) - w->trail_top < TRAIL_MARGIN)
    choice_overflow(w, TRAIL_MARGIN);
}

} // namespace

/* ---------------------------------------------------------------------- */
/* Interfaces */

void markVariable(worker *w, TAGGED *cell) { mark_root(w, cell); }

void markTerm(TAGGED t)
{
  worker *w = g.w;
  if (w == nullptr || !collecting)
    return;
  TAGGED *scratch = w->global_top; /* outside the segment: never entered */
  *scratch = t;
  mark_root(w, scratch);
}

void intoRelocationChain(worker *w, TAGGED *target, TAGGED *source)
{
  const TAGGED vt = *target, vs = *source;
  *source = (vt & ~TAG_MASK) | (vs & TAG_MASK);
  *target = PointerToTerm(source) | (vt & TAG_MASK);
  if (r_bit(w, target))
    set_r(w, source);
  else
    set_r(w, target);
}

void updateRelocationChain(worker *w, TAGGED *cell, TAGGED *new_address)
{
  const TAGGED head = *cell;
  const TAGGED na = PointerToTerm(new_address);
  TAGGED *p = TagToPointer(head);
  while (r_bit(w, p)) {
    const TAGGED v = *p;
    clear_r(w, p);
    *p = na | (v & TAG_MASK);
    p = TagToPointer(v);
  }
  const TAGGED v = *p;
  *cell = (v & ~TAG_MASK) | (head & TAG_MASK);
  *p = na | (v & TAG_MASK);
  clear_r(w, cell);
}

void trail_gc(worker *w)
{
  set_values(w);
  std::uint32_t woken = 0;
  TAGGED *upper = w->trail_top;
  for (node *b = w->node_;; b = node_previous(b)) {
    TAGGED *low = node_trail_top(b);
    TAGGED *const gb = b->global_top, *const lb = b->local_top;
    for (TAGGED *p = upper; p > low;) {
      const TAGGED t = p[-1];
      if (trail_ends_mutable(t)) {
        TAGGED *e = p - TRAIL_MUTABLE_WORDS;
        p = e;
        TAGGED *m = TagToSTR(e[0]);
        if (tc_flag(w, e)) {
          clear_r(w, e); /* a survivor of a chain handled at its head */
          continue;
        }
        if (GetSmall(m[2]) != e - w->trail_start) {
          e[0] = e[1] = e[2] = 0; /* not in its mutable's chain */
          continue;
        }
        /* The newest entry of m: decide for the whole chain inside the
           collected part, newest first, and unthread it. */
        TAGGED restored = m[1];
        node *cb = b;
        TAGGED *x = e;
        TAGGED stamp_below = m[2];
        while (x >= g.trail_lo) {
          while (x < node_trail_top(cb))
            cb = node_previous(cb);
          TAGGED *older = w->trail_start + GetSmall(x[2]);
          const bool same_segment = older >= g.trail_lo && older >= node_trail_top(cb);
          const bool keep = !(m >= cb->global_top) && !same_segment && x[1] != restored;
          stamp_below = x[2];
          if (keep) {
            restored = x[1];
            if (x != e)
              set_r(w, x);
          } else {
            x[0] = x[1] = x[2] = 0;
          }
          x = older;
        }
        m[2] = stamp_below;
        continue;
      }
      p--;
      if (!trail_is_binding(t))
        continue;
      TAGGED *c = TagToRef(t);
      if (is_cva_cell(w, c) && woken < w->wake_count) {
        woken++;
        continue;
      }
      if (c < w->stack_start ? c >= gb : c >= lb)
        *p = 0;
    }
    if (b == g.segment)
      break;
    upper = low;
  }
  w->global_uncond = w->node_->global_top;
  w->local_uncond = w->node_->local_top;
}

void compressTrail(worker *w, int from_gc)
{
  if (g.w != w || g.segment != w->segment_node)
    set_values(w);
  TAGGED *src = g.trail_lo, *dest = g.trail_lo;
  auto move_to = [&](TAGGED *end) {
    while (src < end) {
      const TAGGED t = *src;
      if (t == 0) {
        src++;
      } else if (trail_starts_mutable(t)) {
        TAGGED *m = TagToSTR(t);
        const TAGGED value = src[1];
        dest[0] = t;
        dest[1] = value;
        dest[2] = m[2];
        m[2] = MakeSmall_checked(static_cast<VR_INTEGER>(dest - w->trail_start));
        dest += TRAIL_MUTABLE_WORDS;
        src += TRAIL_MUTABLE_WORDS;
      } else {
        *dest++ = *src++;
      }
    }
  };
  oldest_first(w, w->node_, g.segment, [&](node *b) {
    const std::uintptr_t flags = reinterpret_cast<std::uintptr_t>(b->trail_top) & 3;
    move_to(node_trail_top(b));
    b->trail_top = reinterpret_cast<TAGGED *>(reinterpret_cast<std::uintptr_t>(dest) | flags |
                                              (from_gc ? NODE_SEGMENT_MARK : 0));
  });
  move_to(w->trail_top);
  w->trail_top = dest;
  g.aux->trail_top = dest;
}

void initChoicepoints(worker *w)
{
  if (!collecting)
    set_values(w);
  std::memset(cont_cache, 0, sizeof cont_cache);
  /* The segment choicepoint's chain too: marking walks it. */
  for (node *b = g.aux;; b = node_previous(b)) {
    init_walk(w, b->frame_, b->next_insn, true);
    if (b == g.segment)
      break;
  }
  for (node *b = g.aux;; b = node_previous(b)) {
    init_walk(w, b->frame_, b->next_insn, false);
    if (b == g.segment)
      break;
  }
}

std::int64_t GarbageCollect(worker *w)
{
  node *const bottom = bottom_choicepoint(w);
  if (w->segment_node == nullptr)
    calculate_segment_node(w);
  const bool whole = w->segment_node == bottom;
  const std::int64_t t0 = vr_usertime_ms();
  total_found = 0;
  bdds_found = 0;
  gcgrey = 0;
  if (whole) {
    gc_total_grey = 0;
    /* The boundary left by the last collection goes; the new one is put
       back where it was, unless wake-ups are pending (then it stays). */
    if (node_alt(w->node_) == fail_alt && w->wake_count == 0 && !cleanup_pending(w->node_)) {
      w->node_ = node_previous(w->node_);
      w->global_uncond = w->node_->global_top;
      w->local_uncond = w->node_->local_top;
    }
  }
  node *const next_node_before = w->next_node;
  collecting = true;
  set_values(w);
  trace_start(w);

  trail_gc(w);
  initChoicepoints(w);
  cva_list = atom_nil;
  if (whole)
    shunt_variables(w);
  else
    scan_cvas(w, g.heap_lo, g.heap_hi, [](TAGGED *) {});

  mark_trail(w);
  call_fd_manager(2, nullptr);
  if (w->fli_stack_start != nullptr)
    for (int i = 0; i < w->fli_stack_index; i++)
      mark_root(w, &w->fli_stack_start[i].term);
  {
    GlobRefIter it;
    globref_iter_init(&it);
    while (!globref_iter_empty(&it))
      mark_root(w, &globref_iter_next(&it)->term);
  }
  TAGGED *upper = w->trail_top;
  for (node *b = g.aux;; b = node_previous(b)) {
    mark_envs(w, b->frame_, b->next_insn);
    for (int i = 0; i < saved_args(b); i++)
      mark_root(w, &b->term[i]);
    TAGGED *low = node_trail_top(b);
    early_reset(w, low, upper);
    upper = low;
    if (b == g.segment)
      break;
  }
  compressTrail(w, 1);
  gc_total_grey += gcgrey;
  const std::int64_t t_mark = vr_usertime_ms();
  if (tracing_verbose()) {
    vr_ttyprintf("%%  mark: %ld cells marked in %.3f sec\n", static_cast<long>(total_found),
                 static_cast<double>(t_mark - t0) / 1000.0);
    vr_ttyprintf("%%        no more than %ld garbage cells left\n", static_cast<long>(gcgrey));
    vr_ttyflush();
  }

  const std::int64_t before = g.heap_hi - g.heap_lo;
  thread_roots(w);
  sweep_down(w);
  TAGGED *new_top = sweep_up(w);
  w->global_top = new_top;
  g.aux->global_top = new_top;
  collecting = false;

  const std::int64_t reclaimed = before - (new_top - g.heap_lo);
  if (bdd_garbage_collect_hook != nullptr)
    bdd_garbage_collect_hook(w, g.heap_lo, new_top, static_cast<int>(bdds_found));
  new_boundary(w);
  if (next_node_before != nullptr && reinterpret_cast<TAGGED *>(next_node_before) < reinterpret_cast<TAGGED *>(w->node_))
    w->next_node = w->node_; /* it named the boundary dropped above */

  const std::int64_t t1 = vr_usertime_ms();
  engine_stats &s = eglobal->stats;
  s.gc_count++;
  s.gc_acc += reclaimed;
  s.gc_time += t1 - t0;
  if (tracing_verbose()) {
    vr_ttyprintf("%%  Compress: %ld cells reclaimed in %.3f sec\n", static_cast<long>(reclaimed),
                 static_cast<double>(t1 - t_mark) / 1000.0);
    vr_ttyprintf("%%           Heap size= %ld bytes\n", static_cast<long>((w->global_top - w->heap_start) * 4));
    vr_ttyprintf("%%           Free heap= %ld bytes\n", static_cast<long>((w->stack_start - w->global_top) * 4));
    vr_ttyprintf("%%  %lld cells reclaimed in %lld gc's\n", static_cast<long long>(s.gc_acc),
                 static_cast<long long>(s.gc_count));
    vr_ttyprintf("%%  GC time= %.3f  Total GC time= %.3f\n\n", static_cast<double>(t1 - t0) / 1000.0,
                 static_cast<double>(s.gc_time) / 1000.0);
    vr_ttyflush();
  }
  if (gc_torture.check)
    gc_torture_check(w);
  return gc_total_grey;
}

/* ---------------------------------------------------------------------- */
/* Torture mode */

void gc_torture_collection_starts(worker *w)
{
  gc_torture.collections++;
  if (gc_torture.whole_every > 0 && gc_torture.collections % gc_torture.whole_every == 0) {
    node *bottom = bottom_choicepoint(w);
    for (node *b = w->node_; b != bottom; b = node_previous(b))
      b->trail_top = reinterpret_cast<TAGGED *>(reinterpret_cast<std::uintptr_t>(b->trail_top) & ~NODE_SEGMENT_MARK);
  }
}

void gc_torture_check(worker *w)
{
  (void)w;
  if (check_gc_bits(1) != 0 || gc_proofread(1) != 0) {
    gc_proofread(0); /* names the bad words */
    VR_raise_fault("GC: the stacks are inconsistent after a collection");
  }
}

void install_gc_hooks(void)
{
  gc_hooks.trail_gc = trail_gc;
  gc_hooks.compress_trail_gc = compressTrail;
  gc_hooks.garbage_collect = GarbageCollect;
  gc_hooks.init_choicepoints = initChoicepoints;
  gc_torture = {0, 0, false, 0, 0, false};
  if (const char *s = std::getenv("TRELIX_GC_TORTURE")) {
    char *end = nullptr;
    long n = std::strtol(s, &end, 10);
    if (n > 0) {
      gc_torture.interval = static_cast<int>(n);
      gc_torture.countdown = static_cast<int>(n);
      if (*end == ',') {
        gc_torture.whole_every = static_cast<int>(std::strtol(end + 1, &end, 10));
        if (*end == ',' && std::strcmp(end + 1, "check") == 0)
          gc_torture.check = true;
      }
    }
  }
}

/* ---------------------------------------------------------------------- */
/* Built-ins */

int prolog_garbage_collect(worker *w)
{
  const TAGGED full = deref(w->term[0]);
  if (full != MakeSmall_checked(0)) {
    node *bottom = bottom_choicepoint(w);
    for (node *b = w->node_; b != bottom; b = node_previous(b))
      b->trail_top = reinterpret_cast<TAGGED *>(reinterpret_cast<std::uintptr_t>(b->trail_top) & ~NODE_SEGMENT_MARK);
  }
  heap_overflow(w, 0, 528);
  return 1;
}

int prolog_gc_margin(worker *w)
{
  if (!cunify(w, w->term[0], eglobal->current_gcmargin))
    return 0;
  const TAGGED n = deref(w->term[1]);
  if (!IsSmall(n))
    return 0;
  eglobal->current_gcmargin = n;
  return 1;
}

/* The two atom flags keep atoms only: a compound New would leave a heap
   pointer in a static that no collector sees. */
static int atom_flag(worker *w, TAGGED *field)
{
  if (!cunify(w, w->term[0], *field))
    return 0;
  const TAGGED v = deref(w->term[1]);
  if (!IsAtom(v))
    return 0;
  *field = v;
  return 1;
}

int prolog_gc_mode(worker *w) { return atom_flag(w, &eglobal->current_gcmode); }

int prolog_gc_trace(worker *w) { return atom_flag(w, &eglobal->current_gctrace); }
