/* proofreader.cpp: a consistency checker for the stacks, a debugging aid.
 *
 * Nothing in normal operation calls it; a developer hunting a relocation
 * or collector fault calls gc_proofread or check_gc_bits from a debugger
 * or switches the hooks on (verbose_proofread, assert_proofread), which
 * init_stacks switches off.  It reads everything and changes nothing,
 * except that the environment walk borrows the mark bits of the
 * heap-and-local bitmap and clears them again before it returns.
 */
#include <cstdint>

#include "datadefs.h"
#include "globref.h"
#include "stack_growth.h"
#include "stack_walk.h"
#include "support.h"
#include "terms.h"
#include "worker.h"

int verbose_proofread = 0;
int assert_proofread = 0;
int assert_minfo_guts = 0;

namespace {

bool in_range(const TAGGED *p, const TAGGED *lo, const TAGGED *hi) { return p >= lo && p < hi; }

bool args_hold_functor(const TAGGED *p, unsigned n)
{
  for (unsigned i = 0; i < n; i++)
    if (IsFunctor(p[i]))
      return true;
  return false;
}

/* True for a word that cannot be a term in the given heap and local stack
   ranges. */
bool badword(TAGGED t, const TAGGED *gmin, const TAGGED *gtop, const TAGGED *lmin, const TAGGED *ltop)
{
  switch (tag_of(t)) {
  case REF_TAG:
    return !in_range(TagToRef(t), gmin, gtop) && !in_range(TagToRef(t), lmin, ltop);
  case STR_TAG: {
    const TAGGED *p = TagToSTR(t);
    if (!in_range(p, gmin, gtop))
      return true;
    TAGGED f = *p;
    if (IsBoxHeader(f) && (f & 7) == 7)
      return p + BoxWords(f) + 1 > gtop;
    if (!IsFunctor(f))
      return true;
    return p + 1 + Arity(f) > gtop || args_hold_functor(p + 1, Arity(f));
  }
  case LST_TAG: {
    const TAGGED *p = TagToLST(t);
    return !in_range(p, gmin, gtop) || p + 2 > gtop || args_hold_functor(p, 2);
  }
  default:
    return false;
  }
}

struct checker {
  worker *w;
  int quiet;
  bool bad = false;

  bool is_bad(TAGGED t) const { return badword(t, w->heap_start, w->global_top, w->stack_start, w->local_top); }

  void report(const char *area, const TAGGED *at, TAGGED t, unsigned long bits)
  {
    bad = true;
    if (quiet == 0)
      vr_ttyprintf("* %s: %p/ 0x%lx (bits=%lx)\n", area, static_cast<const void *>(at),
                   static_cast<unsigned long>(t), bits);
  }
  void check(const char *area, const TAGGED *at)
  {
    if (is_bad(*at))
      report(area, at, *at, 0);
  }

  /* The mark bit of a heap-and-local word in the collector's bitmap. */
  unsigned char *mark_byte(const TAGGED *p, unsigned *bit) const
  {
    std::uintptr_t a = reinterpret_cast<std::uintptr_t>(p) - reinterpret_cast<std::uintptr_t>(w->heap_start);
    *bit = 2 * ((a / 4) % 4);
    return reinterpret_cast<unsigned char *>(w->stack_end) + a / 16;
  }
  bool marked(const TAGGED *p) const
  {
    unsigned bit = 0;
    const unsigned char *b = mark_byte(p, &bit);
    return (*b >> bit) & 1;
  }
  void set_mark(const TAGGED *p, bool on) const
  {
    unsigned bit;
    unsigned char *b = mark_byte(p, &bit);
    *b = static_cast<unsigned char>(on ? (*b | (1u << bit)) : (*b & ~(1u << bit)));
  }

  /* Walks the environment chain from (e, cp); check_words: check and mark,
     else unmark. */
  void walk_envs(TAGGED *e, INSN *cp, bool checking)
  {
    while (e != nullptr && in_range(e, w->stack_start, w->local_top) && cp != nullptr) {
      if (checking == marked(e))
        return; /* already visited (or already unmarked) */
      set_mark(e, checking);
      int size = static_cast<std::int16_t>(cp[-1]);
      if (checking)
        for (TAGGED *y = e + 2; y < e + size / 4; y++)
          if (y < w->local_top)
            check("S", y);
      cp = reinterpret_cast<INSN *>(e[1]);
      e = reinterpret_cast<TAGGED *>(e[0]);
    }
  }

  void check_mutable_chain(const TAGGED *m)
  {
    /* Stamps must name 3-word entries for this mutable, strictly older as
       the chain goes down. */
    TAGGED stamp = m[2];
    TAGGED *prev = w->trail_top;
    while (IsSmall(stamp)) {
      VR_INTEGER off = GetSmall(stamp);
      if (off <= 0)
        return;
      TAGGED *n = w->trail_start + off;
      if (n >= prev || n + 3 > w->trail_top || TagToSTR(n[0]) != m) {
        bad = true;
        if (quiet == 0)
          vr_ttyprintf("* invalid mutable chain, %p/ 0x%lx 0x%lx 0x%lx\n", static_cast<const void *>(m),
                       static_cast<unsigned long>(m[0]), static_cast<unsigned long>(m[1]),
                       static_cast<unsigned long>(m[2]));
        return;
      }
      prev = n;
      stamp = n[2];
    }
  }
};

} // namespace

int vr_term_looks_sane(TAGGED t)
{
  worker *w = self;
  if (t == 0 || t == 1 || IsFunctor(t))
    return 0;
  if (w == nullptr)
    return 1;
  return badword(t, w->heap_start, w->global_top, w->stack_start, w->local_top) ? 0 : 1;
}

int maybe_check_gc_bits(void) { return 0; }

int check_gc_bits(int quiet)
{
  worker *w = self;
  if (w == nullptr)
    return 0;
  bool found = false;
  const unsigned char *hb = reinterpret_cast<const unsigned char *>(w->stack_end);
  const unsigned char *he = reinterpret_cast<const unsigned char *>(w->heap_end);
  for (const unsigned char *b = hb; b < he; b++)
    if (*b != 0) {
      found = true;
      if (quiet < 2) {
        unsigned long lo = reinterpret_cast<unsigned long>(w->heap_start) + 16 * (b - hb);
        vr_ttyprintf("WARNING: heap/stack GC bits not clean for [0x%lx,0x%lx]\n", lo, lo + 16);
      }
    }
  const unsigned char *cb = reinterpret_cast<const unsigned char *>(w->choice_start);
  const unsigned char *ce = reinterpret_cast<const unsigned char *>(w->trail_end);
  for (const unsigned char *b = cb; b < ce; b++)
    if (*b != 0) {
      found = true;
      if (quiet < 2) {
        unsigned long lo = reinterpret_cast<unsigned long>(w->trail_start) + 32 * (b - cb);
        vr_ttyprintf("WARNING: choice/trail GC bits not clean for [0x%lx,0x%lx]\n", lo, lo + 32);
      }
    }
  return found ? 1 : 0;
}

int gc_proofread(int quiet)
{
  worker *w = self;
  if (w == nullptr)
    return 0;
  checker k{w, quiet};

  if (quiet == 0)
    vr_ttyprintf("%% checking choice{%p,%p}\n", static_cast<void *>(w->node_), static_cast<void *>(w->choice_start));
  for (choice_walk c(w); !c.done(); c.step())
    for (int i = 0; i < c.arity(); i++)
      k.check("C", &c.cp->term[i]);

  if (quiet == 0)
    vr_ttyprintf("%% checking trail{%p,%p}\n", static_cast<void *>(w->trail_start), static_cast<void *>(w->trail_top));
  for (TAGGED *p = w->trail_start + 1; p < w->trail_top;) {
    TAGGED t = *p;
    if (IsStructure(t)) {
      /* A mutable entry: the mutable, its saved value, a stamp. */
      TAGGED *m = TagToSTR(t);
      if (k.is_bad(t) || *m != functor_Dmutable || !IsSmall(p[2]) || p + 3 > w->trail_top) {
        k.bad = true;
        if (quiet == 0)
          vr_ttyprintf("* trail entry, %p/ 0x%lx 0x%lx 0x%lx\n", static_cast<void *>(p),
                       static_cast<unsigned long>(p[0]), static_cast<unsigned long>(p[1]),
                       static_cast<unsigned long>(p[2]));
        p++;
        continue;
      }
      k.check("T", p + 1);
      k.check_mutable_chain(m);
      p += 3;
      continue;
    }
    if (t != 0)
      k.check("T", p);
    p++;
  }

  if (quiet == 0)
    vr_ttyprintf("%% checking stack{%p,%p}\n", static_cast<void *>(w->stack_start), static_cast<void *>(w->local_top));
  k.walk_envs(reinterpret_cast<TAGGED *>(w->frame_), w->next_insn, true);
  for (choice_walk c(w); !c.done(); c.step())
    k.walk_envs(reinterpret_cast<TAGGED *>(c.cp->frame_), c.cp->next_insn, true);
  k.walk_envs(reinterpret_cast<TAGGED *>(w->frame_), w->next_insn, false);
  for (choice_walk c(w); !c.done(); c.step())
    k.walk_envs(reinterpret_cast<TAGGED *>(c.cp->frame_), c.cp->next_insn, false);

  if (quiet == 0)
    vr_ttyprintf("%% checking heap{%p,%p}\n", static_cast<void *>(w->heap_start), static_cast<void *>(w->global_top));
  for (TAGGED *p = w->heap_start; p < w->global_top; p++) {
    TAGGED t = *p;
    if (IsBoxHeader(t) && (t & 7) == 7) {
      p += BoxWords(t);
      continue;
    }
    if (t == functor_Dmutable) {
      if (p + 3 > w->global_top || !IsSmall(p[2])) {
        k.bad = true;
        if (quiet == 0)
          vr_ttyprintf("* M: %p/ 0x%lx 0x%lx 0x%lx{0x%lx 0x%lx 0x%lx}\n", static_cast<void *>(p),
                       static_cast<unsigned long>(p[0]), static_cast<unsigned long>(p[1]),
                       static_cast<unsigned long>(p[2]), 0ul, 0ul, 0ul);
      } else {
        k.check_mutable_chain(p);
      }
      continue;
    }
    if (IsFunctor(t) || t == CVA_MARKER || IsAtomic(t))
      continue;
    if (k.is_bad(t))
      k.report("H", p, t, 0);
  }

  if (quiet == 0)
    vr_ttyprintf("%% checking VR_term_refs{%p,%p}\n", static_cast<void *>(w->fli_stack_start),
                 static_cast<void *>(w->fli_stack_start == nullptr ? nullptr : w->fli_stack_start + w->fli_stack_index));
  if (w->fli_stack_start != nullptr)
    for (int i = 0; i < w->fli_stack_index; i++)
      if (k.is_bad(w->fli_stack_start[i].term))
        k.report("R", &w->fli_stack_start[i].term, w->fli_stack_start[i].term, w->fli_stack_start[i].gc_word);

  if (quiet == 0)
    vr_ttyprintf("%% checking GlobRefs\n");
  GlobRefIter it;
  globref_iter_init(&it);
  while (!globref_iter_empty(&it)) {
    VR_globref g = globref_iter_next(&it);
    if (k.is_bad(g->term))
      k.report("G", &g->term, g->term, g->gc_word);
  }

  if (quiet == 0)
    vr_ttyprintf("%% checking FD propagator queues\n");
  call_fd_manager(4, nullptr);
  vr_ttyflush();
  return k.bad ? 1 : 0;
}
