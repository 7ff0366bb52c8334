// Stack growth and relocation: random term graphs held in every kind of
// root survive local-stack shifts, heap-and-local block moves (growing and
// shrinking) and trail-and-choice block moves; memory faults restart the
// emulator or are fatal.
//
// The check is structural: a printer walks every root (global references,
// term references, argument registers saved by call_overflow, Y variables
// of every environment, choicepoints' saved arguments and tops, trail
// entries with the area and offset of the cell they name) and names
// variables and shared subterms by order of first meeting, so two
// snapshots are equal exactly when the graphs are the same up to address.
#include <gtest/gtest.h>

#include <sys/mman.h>

#include <csetjmp>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "death_tests.h"
#include "datadefs.h"
#include "errors.h"
#include "atoms.h"
#include "globref.h"
#include "initial_atoms.h"
#include "memman.h"
#include "predicates.h"
#include "preds.h"
#include "stack_growth.h"
#include "stacks.h"
#include "terms.h"
#include "wamsup.h"
#include "worker.h"

namespace growth_test {

bool refuse_memory = false;
/* When set, the next block comes from a mapping at this address if the
   system grants it there (and far_hint is cleared); otherwise as usual. */
std::uintptr_t far_hint = 0;
std::vector<std::pair<void *, std::size_t>> far_blocks;
void *refusing_alloc(std::size_t size, std::size_t *actual, void *cookie)
{
  if (refuse_memory)
    return nullptr;
  if (far_hint != 0) {
    const std::size_t s = (size + 4095) & ~std::size_t{4095};
    void *hint = reinterpret_cast<void *>(far_hint);
    void *p = mmap(hint, s, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    far_hint = 0;
    if (p == hint) {
      far_blocks.emplace_back(p, s);
      *actual = s;
      return p;
    }
    if (p != MAP_FAILED)
      munmap(p, s);
  }
  return SU_alloc_mem(size, actual, cookie);
}
int far_aware_free(void *mem, std::size_t size, int force, void *cookie)
{
  for (auto it = far_blocks.begin(); it != far_blocks.end(); ++it)
    if (it->first == mem) {
      munmap(it->first, it->second);
      far_blocks.erase(it);
      return 1;
    }
  return SU_free_mem(mem, size, force, cookie);
}

/* Try nodes for test choicepoints, one per arity. */
try_node alts[16];
void init_alts()
{
  for (unsigned i = 0; i < 16; i++) {
    alts[i] = try_node{};
    alts[i].link = &alts[i];
    alts[i].node_offset = node_offset_for(i);
  }
}

std::string hex(std::uint32_t v)
{
  char b[16];
  std::snprintf(b, sizeof b, "%x", v);
  return b;
}

/* Prints terms so that equal graphs print equally wherever they lie. */
struct printer {
  explicit printer(const worker *ww) : w(ww) {}
  const worker *w;
  std::map<const TAGGED *, int> vars;
  std::map<const TAGGED *, int> shared;
  std::string out;

  void cell_name(const TAGGED *cell)
  {
    if (cell >= w->heap_start && cell < w->global_top)
      out += "H" + std::to_string(cell - w->heap_start);
    else if (cell >= w->stack_start && cell < w->local_top)
      out += "L" + std::to_string(cell - w->stack_start);
    else
      out += "?" + hex(PointerToTerm(cell));
  }
  void print(TAGGED t)
  {
    t = deref(t);
    if (IsVar(t)) {
      const TAGGED *cell = TagToRef(t);
      auto it = vars.find(cell);
      if (it == vars.end())
        it = vars.emplace(cell, static_cast<int>(vars.size())).first;
      out += "_G" + std::to_string(it->second) + "@";
      cell_name(cell);
      return;
    }
    if (IsSmall(t)) {
      out += std::to_string(GetSmall(t));
      return;
    }
    if (IsAtomic(t)) {
      out += "a" + hex(t);
      return;
    }
    const TAGGED *p = IsList(t) ? TagToLST(t) : TagToSTR(t);
    auto it = shared.find(p);
    if (it != shared.end()) {
      out += "#" + std::to_string(it->second);
      return;
    }
    shared.emplace(p, static_cast<int>(shared.size()));
    if (IsList(t)) {
      out += "[";
      print(p[0]);
      out += "|";
      print(p[1]);
      out += "]";
      return;
    }
    if (IsBoxHeader(p[0])) {
      out += "box(";
      for (unsigned i = 0; i <= BoxWords(p[0]); i++)
        out += hex(p[i]) + ",";
      out += ")";
      return;
    }
    out += "f" + hex(p[0]) + "(";
    for (unsigned i = 1; i <= Arity(p[0]); i++) {
      print(p[i]);
      out += ",";
    }
    out += ")";
  }
};

/* Everything a move must keep, as text.  nregs > 0 adds argument
   registers (only call_overflow keeps those). */
std::string snapshot(worker *w, VR_globref grefs, int ngrefs, int nregs)
{
  printer p{w};
  std::string &o = p.out;
  o += "grefs:";
  for (int i = 0; i < ngrefs; i++) {
    p.print(grefs[i].term);
    o += ";";
  }
  o += "\ntermrefs:";
  for (int i = 0; i < w->fli_stack_index; i++) {
    p.print(w->fli_stack_start[i].term);
    o += ";";
  }
  o += "\nregs:";
  for (int i = 0; i < nregs; i++) {
    p.print(w->term[i]);
    o += ";";
  }
  o += "\nenvs:";
  frame *e = w->frame_;
  INSN *cp = w->next_insn;
  while (e != nullptr && e->frame_ != nullptr) {
    int ys = static_cast<std::int16_t>(cp[-1]) / 4 - 2;
    o += "E" + std::to_string(reinterpret_cast<TAGGED *>(e) - w->stack_start) + "{";
    for (int i = 0; i < ys; i++) {
      p.print(e->term[i]);
      o += ",";
    }
    o += "}";
    cp = e->next_insn;
    e = e->frame_;
  }
  o += "\nchoice:";
  node *b = w->node_;
  node *bottom = reinterpret_cast<node *>(w->choice_start - BOTTOM_NODE_WORDS);
  for (;;) {
    try_node *alt = node_alt(b);
    int arity = (alt->node_offset - 24) / 4;
    std::uintptr_t tt = reinterpret_cast<std::uintptr_t>(b->trail_top);
    o += "B" + std::to_string(w->choice_start - reinterpret_cast<TAGGED *>(b)) + "{g" +
         std::to_string(b->global_top - w->heap_start) + " l" + std::to_string(b->local_top - w->stack_start) +
         " e" + std::to_string(reinterpret_cast<TAGGED *>(b->frame_) - w->stack_start) + " t" +
         std::to_string(node_trail_top(b) - w->trail_start) + "/" + std::to_string(tt & 3) + " a" +
         hex(reinterpret_cast<std::uintptr_t>(b->next_alt) & 1) + ":";
    for (int i = 0; i < arity; i++) {
      p.print(b->term[i]);
      o += ",";
    }
    o += "}";
    if (b == bottom)
      break;
    b = node_previous(b);
  }
  o += "\ntrail:";
  for (TAGGED *t = w->trail_start + 1; t < w->trail_top; t++) {
    TAGGED x = *t;
    if (x == 0) {
      o += "hole;";
    } else if (IsVar(x)) {
      o += "bind ";
      p.cell_name(TagToRef(x));
      o += "=";
      p.print(*TagToRef(x));
      o += ";";
    } else if (IsStructure(x)) {
      o += "mut ";
      p.print(x);
      o += " old ";
      p.print(t[1]);
      o += " stamp " + std::to_string(GetSmall(t[2])) + ";";
      t += 2;
    } else {
      o += "cleanup ";
      p.print(x);
      o += ";";
    }
  }
  o += "\ntops: g" + std::to_string(w->global_top - w->heap_start) + " l" +
       std::to_string(w->local_top - w->stack_start) + " e" +
       std::to_string(reinterpret_cast<TAGGED *>(w->frame_) - w->stack_start) + " t" +
       std::to_string(w->trail_top - w->trail_start) + " vt" + std::to_string(w->value_trail) + " nn" +
       std::to_string(w->choice_start - reinterpret_cast<TAGGED *>(w->next_node)) + " cq" +
       std::to_string(w->choice_start - reinterpret_cast<TAGGED *>(w->current_query)) + " gu" +
       std::to_string(w->global_uncond - w->heap_start) + " lu" + std::to_string(w->local_uncond - w->stack_start);
  return o;
}

/* Builds random term graphs on the heap, fixed seed. */
struct builder {
  builder(worker *ww, std::mt19937 r) : w(ww), rng(r) {}
  worker *w;
  std::mt19937 rng;
  std::vector<TAGGED> pool;   /* earlier terms, for sharing */
  std::vector<TAGGED *> vars; /* unbound heap cells, for later bindings */

  int pick(int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); }
  TAGGED *alloc(int n)
  {
    TAGGED *h = w->global_top;
    w->global_top += n;
    EXPECT_LT(w->global_top, w->heap_warn) << "test world outgrew the smallest heap";
    return h;
  }
  TAGGED var()
  {
    TAGGED *h = alloc(1);
    *h = PointerToTerm(h);
    vars.push_back(h);
    return *h;
  }
  TAGGED make(int depth)
  {
    int k = depth <= 0 ? pick(5) : pick(11);
    TAGGED t;
    switch (k) {
    case 0: t = MakeAtom(20 + pick(30)); break;
    case 1: t = MakeSmall_checked(pick(2000) - 1000); break;
    case 2: t = var(); break;
    case 3: {
      /* A boxed integer whose digits look like heap addresses: relocation
         must step over payloads. */
      TAGGED *h = alloc(4);
      h[0] = h[3] = BoxHeader(2, false);
      h[1] = MakeSTR(w->heap_start + pick(64));
      h[2] = PointerToTerm(w->heap_start + pick(64));
      t = MakeSTR(h);
      break;
    }
    case 4: t = make_float(w, pick(1000) / 7.0); break;
    case 5: case 6: {
      unsigned n = 1 + pick(4);
      TAGGED kids[4];
      for (unsigned i = 0; i < n; i++)
        kids[i] = make(depth - 1);
      TAGGED *h = alloc(static_cast<int>(n) + 1);
      h[0] = MakeFunctor(MakeAtom(60 + pick(10)), n);
      for (unsigned i = 0; i < n; i++)
        h[1 + i] = pick(6) == 0 ? PointerToTerm(&h[1 + i]) : kids[i]; /* some unbound in place */
      t = MakeSTR(h);
      break;
    }
    case 7: case 8: {
      TAGGED a = make(depth - 1), d = make(depth - 1);
      TAGGED *h = alloc(2);
      h[0] = a;
      h[1] = d;
      t = MakeLST(h);
      break;
    }
    case 9: {
      /* A bound variable: a reference chain to a term. */
      TAGGED target = make(depth - 1);
      TAGGED *h = alloc(1);
      *h = target;
      t = PointerToTerm(h);
      break;
    }
    default:
      t = pool.empty() ? atom_nil : pool[pick(static_cast<int>(pool.size()))];
      break;
    }
    pool.push_back(t);
    return t;
  }
};

/* Test predicate records. */
using test_def = definition;
test_def make_def(int arity, unsigned type)
{
  test_def d{};
  d.proc.arity = static_cast<std::int16_t>(arity);
  d.proc.frame_size = static_cast<std::int16_t>(8 + 4 * arity);
  d.proc.properties = type << PREDTYP_SHIFT;
  return d;
}
definition *as_def(test_def &d) { return &d; }

class StackGrowth : public ::testing::Test {
protected:
  worker *w = nullptr;
  memman_hooks saved_hooks{};
  engine_global saved_flags_holder;
  VR_globref grefs = nullptr;
  int ngrefs = 0;

  void SetUp() override
  {
    init_alts();
    saved_hooks = memman_get_hooks();
    refuse_memory = false;
    far_hint = 0;
    memman_set_hooks_raw(0, SU_init_alloc_mem, SU_deinit_alloc_mem, refusing_alloc, far_aware_free, nullptr);
    ASSERT_EQ(memman_init(), 0);
    std::memset(&preds, 0, sizeof preds);
    ASSERT_EQ(init_wamsup(), 1);
    eglobal->current_gcmargin = MakeSmall_checked(1000);
    eglobal->current_gcmode = MakeAtom(atom_on_enum);
    std::memset(&eglobal->stats, 0, sizeof eglobal->stats);
    w = create_worker();
    ASSERT_NE(w, nullptr);
    set_current_worker(w);
  }
  void TearDown() override
  {
    refuse_memory = false;
    set_do_wam_env(nullptr);
    gc_hooks = stack_gc_hooks{};
    prolog_free_hook = nullptr;
    pure_attributes_hook = nullptr;
    call_fd_manager_hook = nullptr;
    if (grefs != nullptr)
      VR_free_globrefs(grefs);
    grefs = nullptr;
    if (w != nullptr && !self_storage_free)
      dealloc_worker(w);
    w = nullptr;
    /* init_each_time made the atom text buffers; they live in memory that
       memman_deinit returns, so a later suite must not find them. */
    atom_buffer_remove();
    /* numstack_init installed these; later suites count memory exactly. */
    mm_free_numstack_hook = nullptr;
    mm_init_numstack_hook = nullptr;
    std::memset(static_cast<void *>(&self_storage), 0, sizeof self_storage);
    set_current_worker(&self_storage);
    deinit_wamsup();
    std::memset(&preds, 0, sizeof preds);
    memman_deinit();
    memman_set_hooks_raw(saved_hooks.hints == 1 ? 0 : saved_hooks.hints, saved_hooks.init, saved_hooks.deinit,
                         saved_hooks.alloc, saved_hooks.free_, saved_hooks.cookie);
  }

  frame *push_env(const std::vector<TAGGED> &ys)
  {
    TAGGED *e = w->local_top;
    e[0] = PointerToTerm(w->frame_);
    e[1] = PointerToTerm(w->next_insn);
    for (std::size_t i = 0; i < ys.size(); i++)
      e[2 + i] = ys[i] == 0 ? PointerToTerm(&e[2 + i]) : ys[i]; /* 0: unbound local variable */
    w->frame_ = reinterpret_cast<frame *>(e);
    w->next_insn = contcode + 2 * ys.size();
    w->local_top = e + 2 + ys.size();
    return w->frame_;
  }
  node *push_choice(int arity)
  {
    node *b = reinterpret_cast<node *>(reinterpret_cast<TAGGED *>(w->node_) - (NODE_HEADER_WORDS + arity));
    b->next_alt = &alts[arity];
    b->local_top = w->local_top;
    b->global_top = w->global_top;
    b->trail_top = w->trail_top;
    b->frame_ = w->frame_;
    b->next_insn = w->next_insn;
    for (int i = 0; i < arity; i++)
      b->term[i] = w->term[i];
    w->node_ = b;
    w->global_uncond = w->global_top;
    w->local_uncond = w->local_top;
    return b;
  }
  void trail_push(TAGGED t) { *w->trail_top++ = t; }
  /* The destructive mutable update, trailing once per choicepoint. */
  void update_mutable(TAGGED *m, TAGGED v)
  {
    VR_INTEGER c = static_cast<VR_INTEGER>(node_trail_top(w->node_) - w->trail_start);
    if (GetSmall(m[2]) < c && m < w->node_->global_top) {
      TAGGED stamp = MakeSmall_checked(static_cast<VR_INTEGER>(w->trail_top - w->trail_start));
      trail_push(MakeSTR(m));
      trail_push(m[1]);
      trail_push(m[2]);
      m[2] = stamp;
    }
    m[1] = v;
  }
  TAGGED *new_mutable(TAGGED v)
  {
    TAGGED *m = w->global_top;
    w->global_top += 3;
    m[0] = functor_Dmutable;
    m[1] = v;
    m[2] = MakeSmall_checked(0);
    return m;
  }

  /* A world using every kind of root: term graphs in global and term
     references, environments whose Y variables hold heap terms, unbound
     local variables and references to older environments, choicepoints
     with saved arguments, and a trail with bindings of heap and local
     cells, mutable entries, a clean-up entry and holes. */
  void build_world(unsigned seed)
  {
    builder g{w, std::mt19937(seed)};
    ngrefs = 6;
    grefs = VR_alloc_globrefs(ngrefs);
    ASSERT_NE(grefs, nullptr);
    for (int i = 0; i < ngrefs; i++)
      grefs[i].term = g.make(4);
    VR_term_ref r = VR_new_term_refs(5);
    for (int i = 0; i < 5; i++)
      w->fli_stack_start[r + i].term = g.make(4);

    TAGGED *mut = new_mutable(g.make(2));
    frame *e1 = push_env({g.make(3), 0, g.make(3), 0});
    TAGGED e1_free = PointerToTerm(&e1->term[1]);
    push_env({e1_free, g.make(3), 0, PointerToTerm(mut) + STR_TAG});
    /* An open query's choicepoint, which current_query must keep naming. */
    int qarity = (termcode->node_offset - 24) / 4;
    for (int i = 0; i < qarity; i++)
      w->term[i] = g.make(3);
    push_choice(qarity)->next_alt = termcode;
    w->current_query = w->node_;

    push_env({g.make(3), 0, PointerToTerm(&e1->term[3])});
    /* Conditional bindings of cells older than the choicepoint. */
    int bound = 0;
    const std::vector<TAGGED *> older_vars = g.vars; /* make() adds to g.vars */
    for (TAGGED *v : older_vars) {
      if (v >= w->node_->global_top || bound == 6 || *v != PointerToTerm(v))
        continue;
      *v = g.make(2);
      trail_push(PointerToTerm(v));
      bound++;
      if (bound % 2 == 0)
        trail_push(0); /* a hole left by compaction or a finished clean-up */
    }
    ASSERT_GT(bound, 2) << "the seed made too few variables";
    e1->term[1] = g.make(2);
    trail_push(e1_free);
    update_mutable(mut, g.make(2));
    TAGGED *cl = w->global_top;
    w->global_top += 2;
    cl[0] = PointerToTerm(&cl[0]);
    cl[1] = g.make(2);
    trail_push(MakeLST(cl));
    trail_push(0);

    for (int i = 0; i < 3; i++)
      w->term[i] = g.make(3);
    push_choice(3);
    push_env({g.make(2), g.make(2)});
    w->next_node = w->node_;
    /* Two value-trail pairs below the newest choicepoint, as a term
       comparison in progress leaves them; they move with the choicepoints. */
    w->value_trail = VALUE_TRAIL_EMPTY - 4;
    const TAGGED pairs[4] = {PointerToTerm(w->heap_start + 3), MakeSmall_checked(1),
                             PointerToTerm(w->heap_start + 5), MakeSmall_checked(2)};
    std::copy(pairs, pairs + 4, vt_words());
  }
  TAGGED *vt_words() { return reinterpret_cast<TAGGED *>(w->node_) + w->value_trail; }

  std::string snap(int nregs = 0) { return snapshot(w, grefs, ngrefs, nregs); }
};

TEST_F(StackGrowth, WorldIsConsistentBeforeAnyMove)
{
  build_world(1);
  EXPECT_EQ(gc_proofread(1), 0) << "the proofreader rejects the test world itself";
}

enum class move_kind { local_shift, heap_grow, heap_grow_then_shrink, trail_grow, trail_grow_then_shrink };

struct move_case {
  const char *name;
  move_kind kind;
};

class StackGrowthMoves : public StackGrowth, public ::testing::WithParamInterface<move_case> {};

TEST_P(StackGrowthMoves, EveryRootSurvives)
{
  const move_case &mc = GetParam();
  for (unsigned seed : {1u, 2u, 3u, 17u, 99u}) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    TearDown();
    SetUp();
    build_world(seed);
    if (HasFatalFailure())
      return;
    std::string before = snap();
    TAGGED *h0 = w->heap_start, *s0 = w->stack_start, *t0 = w->trail_start;
    eglobal->stats = engine_stats{};

    switch (mc.kind) {
    case move_kind::local_shift: {
      /* Ask for more heap than the present division gives but less than
         the block holds: the local stack moves up inside the block. */
      int used = static_cast<int>(w->global_top - w->heap_start);
      int margin = static_cast<int>(w->stack_start - w->heap_start) - used - 1152 + 300;
      heap_overflow(w, margin, 100);
      EXPECT_EQ(w->heap_start, h0);
      EXPECT_NE(w->stack_start, s0) << "the local stack should have moved inside its block";
      EXPECT_EQ(eglobal->stats.ss_local, 1);
      EXPECT_EQ(eglobal->stats.ss_global, 0);
      break;
    }
    case move_kind::heap_grow:
    case move_kind::heap_grow_then_shrink: {
      int capacity = static_cast<int>(w->heap_end - w->heap_start);
      heap_overflow(w, capacity + 4000, 528);
      EXPECT_NE(w->heap_start, h0) << "the block should have been reallocated";
      EXPECT_GE(w->stack_start - w->global_top, capacity + 4000);
      EXPECT_EQ(eglobal->stats.ss_global, 1);
      if (mc.kind == move_kind::heap_grow_then_shrink) {
        ASSERT_EQ(before, snap()) << "growth already lost something";
        TAGGED *h1 = w->heap_start;
        int hu = static_cast<int>(w->global_top - w->heap_start) + 1152;
        int lu = static_cast<int>(w->local_top - w->stack_start) + 528;
        resize_heap_and_stack(w, static_cast<unsigned>(heap_block_bytes(w)),
                              static_cast<unsigned>(heap_block_words(hu, lu)) * 4, hu, lu);
        EXPECT_NE(w->heap_start, h1);
        EXPECT_LT(heap_block_bytes(w), static_cast<std::size_t>(capacity + 4000) * 4);
      }
      break;
    }
    case move_kind::trail_grow:
    case move_kind::trail_grow_then_shrink: {
      TAGGED pairs[4];
      std::copy(vt_words(), vt_words() + 4, pairs);
      choice_overflow(w, -20000);
      EXPECT_NE(w->trail_start, t0);
      EXPECT_GE(reinterpret_cast<TAGGED *>(w->node_) + w->value_trail - w->trail_top, 40000);
      EXPECT_EQ(eglobal->stats.ss_control, 1);
      if (mc.kind == move_kind::trail_grow_then_shrink) {
        ASSERT_EQ(before, snap()) << "growth already lost something";
        TAGGED *t1 = w->trail_start;
        resize_trail_and_choice(w, static_cast<unsigned>((w->trail_end - w->trail_start) * 4), 32768);
        EXPECT_NE(w->trail_start, t1);
      }
      EXPECT_TRUE(std::equal(pairs, pairs + 4, vt_words())) << "the value trail did not move with the choicepoints";
      break;
    }
    }
    EXPECT_EQ(before, snap());
    EXPECT_EQ(gc_proofread(1), 0);
    EXPECT_EQ(check_gc_bits(2), 0) << "a move left bitmap bits set";
    EXPECT_EQ(w->global_uncond, w->node_->global_top);
    EXPECT_EQ(w->local_uncond, w->node_->local_top);
    EXPECT_EQ(w->heap_warn + HEAP_WARN_MARGIN, w->stack_start);
    EXPECT_EQ(w->stack_warn + STACK_WARN_MARGIN, w->stack_end);
    if (mc.kind != move_kind::trail_grow && mc.kind != move_kind::trail_grow_then_shrink) {
      EXPECT_EQ(w->heap_warn_soft, nullptr) << "the emulator must re-read its limits";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Moves, StackGrowthMoves,
    ::testing::Values(move_case{"LocalShift", move_kind::local_shift}, move_case{"HeapGrow", move_kind::heap_grow},
                      move_case{"HeapGrowThenShrink", move_kind::heap_grow_then_shrink},
                      move_case{"TrailGrow", move_kind::trail_grow},
                      move_case{"TrailGrowThenShrink", move_kind::trail_grow_then_shrink}),
    [](const ::testing::TestParamInfo<move_case> &i) { return std::string(i.param.name); });

// A block that moves by more than half the address space: the distance
// does not fit a pointer difference, and every root must still follow it.
// The worker's first block is placed low and the moved one high.
TEST_F(StackGrowth, AMoveFartherThanHalfTheAddressSpaceKeepsEveryRoot)
{
  dealloc_worker(w);
  for (std::uintptr_t low : {0x04000000u, 0x10000000u, 0x18000000u}) {
    far_hint = low;
    w = create_worker();
    ASSERT_NE(w, nullptr);
    if (!far_blocks.empty())
      break;
    dealloc_worker(w);
  }
  set_current_worker(w);
  build_world(3);
  if (HasFatalFailure())
    return;
  const std::string before = snap();
  const auto from = reinterpret_cast<std::uintptr_t>(heap_block_start(w));
  for (std::uintptr_t high : {0xA0000000u, 0xB0000000u, 0x90000000u}) {
    if (high - from <= 0x80000000u || from > high)
      continue;
    far_hint = high;
    heap_overflow(w, static_cast<int>(w->heap_end - w->heap_start) + 4000, 528);
    break;
  }
  const auto to = reinterpret_cast<std::uintptr_t>(heap_block_start(w));
  if (to <= from || to - from <= 0x80000000u)
    GTEST_SKIP() << "the system placed no blocks 2 GB apart (" << std::hex << from << ", " << to << ")";
  EXPECT_EQ(before, snap());
  EXPECT_EQ(gc_proofread(1), 0);
  EXPECT_EQ(w->global_uncond, w->node_->global_top);
  EXPECT_EQ(w->local_uncond, w->node_->local_top);
  // And back again, to a block wherever the system puts it.
  heap_overflow(w, static_cast<int>(w->heap_end - w->heap_start) + 4000, 528);
  EXPECT_EQ(before, snap());
  EXPECT_EQ(gc_proofread(1), 0);
}

TEST_F(StackGrowth, TrailHolesStayHolesWhenTheHeapMoves)
{
  build_world(5);
  std::vector<std::ptrdiff_t> holes;
  for (TAGGED *t = w->trail_start + 1; t < w->trail_top; t++)
    if (*t == 0)
      holes.push_back(t - w->trail_start);
  ASSERT_FALSE(holes.empty());
  heap_overflow(w, static_cast<int>(w->heap_end - w->heap_start) + 1000, 528);
  for (std::ptrdiff_t off : holes)
    EXPECT_EQ(w->trail_start[off], 0u) << "trail hole at word " << off << " became an entry";
  EXPECT_EQ(w->trail_start[0], 0u) << "the first trail word must stay 0";
}

// A trail entry for a cell of an environment that is gone (above
// local_top: a deep recursion left it behind when its frames were
// popped) must not follow the stack as an address: when the block is
// re-divided the stack may no longer reach that far, and untrailing would
// write past its end (found writing a deeply nested term twice, then
// backtracking over the writes).  Such entries become holes; every other
// entry still names a cell inside the stacks in use.
class StackGrowthDeadEntries : public StackGrowth {
protected:
  void run_case(bool grow);
};
void StackGrowthDeadEntries::run_case(bool grow)
{
  build_world(5);
  TAGGED *dead = w->local_top + (w->stack_end - w->local_top) * 3 / 4;
  const std::ptrdiff_t at = w->trail_top - w->trail_start;
  trail_push(PointerToTerm(dead));
  TAGGED *s0 = w->stack_start;
  if (grow)
    heap_overflow(w, static_cast<int>(w->heap_end - w->heap_start) + 4000, 528);
  else
    heap_overflow(w, static_cast<int>(w->stack_start - w->global_top) + 200, 16);
  ASSERT_NE(w->stack_start, s0) << "expected the local stack to move";
  EXPECT_EQ(w->trail_start[at], TRAIL_HOLE);
  for (TAGGED *p = w->trail_start + 1; p < w->trail_top; p++)
    if (trail_is_binding(*p)) {
      const TAGGED *cell = TagToRef(*p);
      EXPECT_TRUE((cell >= w->heap_start && cell < w->global_top) || (cell >= w->stack_start && cell < w->local_top))
          << "trail word " << (p - w->trail_start) << " names a cell outside the stacks in use";
    }
}
TEST_F(StackGrowthDeadEntries, WhenTheBlockIsRedivided) { run_case(false); }
TEST_F(StackGrowthDeadEntries, WhenTheBlockGrows) { run_case(true); }

// Squeezing holes out of the trail moves every entry above the first hole,
// so the trail top of a choicepoint made above that hole (as the
// collector's temporary segment boundary is, over the choicepoint whose
// clean-ups are being collected) must move with them.  Left in place it
// points into the middle of the 3-word mutable entry that follows, and
// backtracking to it then undoes one word of that entry as if it were a
// whole mutable entry, writing one byte below a heap structure.
TEST_F(StackGrowth, CompressingTheTrailMovesTheChoicepointsAboveTheHoles)
{
  TAGGED *mut = new_mutable(MakeSmall_checked(1));
  TAGGED *var = w->global_top++;
  *var = PointerToTerm(var);
  push_choice(0);
  node *const older = w->node_;
  TAGGED *const from = w->trail_top;
  trail_push(0); /* a clean-up entry that has run */
  *var = MakeSmall_checked(5);
  trail_push(PointerToTerm(var));
  trail_push(0);
  push_choice(0);
  node *const newer = w->node_;
  update_mutable(mut, MakeSmall_checked(2));
  ASSERT_EQ(w->trail_top - node_trail_top(newer), 3);

  compress_trail(w, from);

  EXPECT_EQ(node_trail_top(older), from);
  EXPECT_EQ(node_trail_top(newer), from + 1) << "the newer choicepoint's segment must start where its entries went";
  EXPECT_EQ(w->trail_top, from + 4);
  EXPECT_EQ(from[0], PointerToTerm(var));
  EXPECT_EQ(from[1], MakeSTR(mut));
  EXPECT_EQ(GetSmall(mut[2]), from + 1 - w->trail_start) << "the mutable's stamp names its entry's new place";
}

TEST_F(StackGrowth, CallOverflowKeepsArgumentRegisters)
{
  build_world(7);
  builder g{w, std::mt19937(70)};
  for (int i = 0; i < 8; i++)
    w->term[i] = g.make(3);
  std::ptrdiff_t e_off = reinterpret_cast<TAGGED *>(w->frame_) - w->stack_start;
  INSN *cp = w->next_insn;
  std::ptrdiff_t lt = w->local_top - w->stack_start;
  std::string before = snap(8);
  TAGGED *h0 = w->heap_start;

  INSN *ret = call_overflow(w, static_cast<int>(w->heap_end - w->heap_start) + 2000, 8);
  EXPECT_NE(w->heap_start, h0);
  EXPECT_EQ(before, snap(8));
  EXPECT_EQ(ret, cp);
  EXPECT_EQ(w->next_insn, cp);
  EXPECT_EQ(reinterpret_cast<TAGGED *>(w->frame_) - w->stack_start, e_off) << "frame not restored";
  EXPECT_EQ(w->local_top - w->stack_start, lt) << "the saving environment was not popped";
}

TEST_F(StackGrowth, CallOverflowWhenOnlyTheLocalStackMoves)
{
  /* Small wants re-divide the block in place; the saving environment moves
     with the local stack and the registers still come back. */
  build_world(8);
  builder g{w, std::mt19937(80)};
  w->term[0] = g.make(3);
  w->term[1] = PointerToTerm(&w->frame_->term[0]); /* a register naming a Y variable */
  std::string before = snap(2);
  TAGGED *s0 = w->stack_start, *h0 = w->heap_start;
  std::ptrdiff_t lt = w->local_top - w->stack_start;
  call_overflow(w, 10, 2);
  EXPECT_EQ(w->heap_start, h0);
  EXPECT_NE(w->stack_start, s0) << "expected the local stack to move inside its block";
  EXPECT_EQ(before, snap(2));
  EXPECT_EQ(w->local_top - w->stack_start, lt);
}

TEST_F(StackGrowth, ChoiceOverflowWithNegativePadNeverCollectsTheTrail)
{
  static int trail_gc_calls;
  trail_gc_calls = 0;
  gc_hooks.trail_gc = [](worker *) { trail_gc_calls++; };
  choice_overflow(w, -10);
  EXPECT_EQ(trail_gc_calls, 0);
  choice_overflow(w, 10);
  EXPECT_EQ(trail_gc_calls, 1);
  EXPECT_EQ(eglobal->stats.ss_control, 2) << "every call counts, grown or not";
}

TEST_F(StackGrowth, OnlyStackShortDoesNotCollect)
{
  static int gcs;
  gcs = 0;
  gc_hooks.garbage_collect = [](worker *) -> std::int64_t {
    gcs++;
    return 0;
  };
  eglobal->current_gcmargin = MakeSmall_checked(0);
  /* Heap fine, local stack short. */
  heap_overflow(w, 10, static_cast<int>(w->stack_end - w->local_top) + 100);
  EXPECT_EQ(gcs, 0);
  EXPECT_EQ(overflow_counts.stack_margin_only_overflows > 0, true);
  EXPECT_GE(w->stack_end - w->local_top, 100 + 4);
  /* heap_margin 0 collects whatever the flags say. */
  eglobal->current_gcmode = MakeAtom(atom_off_enum);
  heap_overflow(w, 0, 528);
  EXPECT_EQ(gcs, 1);
}

/* Collections run by heap_overflow: a partial one first; a whole-heap one
   only when the grey words could have made up the shortfall. */
struct fake_gc {
  static inline int calls = 0;
  static inline std::vector<bool> whole;
  static inline std::int64_t grey = 0;
  static inline int reclaim_words = 0;
  static std::int64_t run(worker *w)
  {
    calls++;
    whole.push_back(w->segment_node == reinterpret_cast<node *>(w->choice_start - BOTTOM_NODE_WORDS));
    w->global_top -= reclaim_words;
    return grey;
  }
};

TEST_F(StackGrowth, WholeHeapCollectionOnlyWhenGreyWordsWouldHaveMadeTheDifference)
{
  struct gc_case {
    const char *why;
    std::int64_t grey;
    int reclaim_words;
    int expected_calls;
  };
  const gc_case cases[] = {
      {"grey words cover the shortfall", 300, 0, 2},
      {"too few grey words", 10, 0, 1},
      {"the partial collection reclaimed enough", 300, 300, 1},
  };
  for (const gc_case &gc : cases) {
    SCOPED_TRACE(gc.why);
    TearDown();
    SetUp();
    build_world(4);
    /* 1 KB margin; the newest choicepoint bounds a segment. */
    eglobal->current_gcmargin = MakeSmall_checked(1);
    TAGGED *h = w->global_top;
    w->global_top += 600;
    for (int i = 0; i < 600; i++)
      h[i] = atom_nil;
    w->node_->trail_top = reinterpret_cast<TAGGED *>(reinterpret_cast<std::uintptr_t>(w->node_->trail_top) | 1);
    fake_gc::calls = 0;
    fake_gc::whole.clear();
    fake_gc::grey = gc.grey;
    fake_gc::reclaim_words = gc.reclaim_words;
    gc_hooks.garbage_collect = fake_gc::run;

    heap_overflow(w, 100, 528);
    EXPECT_EQ(fake_gc::calls, gc.expected_calls);
    ASSERT_FALSE(fake_gc::whole.empty());
    EXPECT_FALSE(fake_gc::whole[0]) << "the first collection should cover only the segment";
    if (fake_gc::whole.size() > 1) {
      EXPECT_TRUE(fake_gc::whole[1]) << "the second collection should cover the whole heap";
    }
    EXPECT_GE(w->stack_start - w->global_top, 1024 / 4 + 528) << "room after a collection: margin/4 + 528 words";
    EXPECT_EQ(overflow_counts.heap_overflow_gcs > 0, true);
  }
}

TEST_F(StackGrowth, MoveWhereNothingChangesCountsNothing)
{
  build_world(3);
  std::string before = snap();
  int hu = static_cast<int>(w->stack_start - w->heap_start);
  int lu = static_cast<int>(w->stack_end - w->stack_start);
  TAGGED *h0 = w->heap_start;
  resize_heap_and_stack(w, static_cast<unsigned>(heap_block_bytes(w)), static_cast<unsigned>(heap_block_bytes(w)),
                        hu, lu);
  EXPECT_EQ(w->heap_start, h0);
  EXPECT_EQ(eglobal->stats.ss_global, 0);
  EXPECT_EQ(eglobal->stats.ss_local, 0);
  EXPECT_EQ(before, snap());
}

/* ---- compress_trail ---- */

/* Undoes the trail down to `to` as backtracking does. */
void untrail(worker *w, TAGGED *to)
{
  while (w->trail_top > to) {
    TAGGED t = w->trail_top[-1];
    if (IsSmall(t)) {
      TAGGED *e = w->trail_top - 3;
      TAGGED *m = TagToSTR(e[0]);
      m[1] = e[1];
      m[2] = e[2];
      w->trail_top = e;
      continue;
    }
    w->trail_top--;
    if (t != 0 && IsVar(t))
      *TagToRef(t) = t;
  }
}

TEST_F(StackGrowth, CompressTrailDropsExactlyWhatNoChoicepointNeeds)
{
  TAGGED *older = new_mutable(MakeSmall_checked(1));   /* before the choicepoint */
  TAGGED *twice = new_mutable(MakeSmall_checked(10));  /* updated around a cut choicepoint */
  TAGGED *same = new_mutable(MakeSmall_checked(7));    /* set back to its old value */
  TAGGED *v = w->global_top++;
  *v = PointerToTerm(v);
  push_choice(0);
  TAGGED *from = w->trail_top;

  update_mutable(older, MakeSmall_checked(2));
  trail_push(0);
  *v = MakeSmall_checked(5);
  trail_push(PointerToTerm(v));
  update_mutable(twice, MakeSmall_checked(11));
  node *inner = push_choice(0);
  update_mutable(twice, MakeSmall_checked(12)); /* trailed again: a newer choicepoint */
  update_mutable(same, MakeSmall_checked(8));
  TAGGED *young = new_mutable(MakeSmall_checked(0)); /* younger than the choicepoint */
  (void)inner;
  /* cut the inner choicepoint: its entries now lie in the outer segment */
  w->node_ = node_previous(w->node_);
  w->global_uncond = w->node_->global_top;
  w->local_uncond = w->node_->local_top;
  update_mutable(young, MakeSmall_checked(1)); /* not trailed: younger */
  same[1] = MakeSmall_checked(7);               /* back to the value its entry saved */
  trail_push(0);

  compress_trail(w, from);

  struct expect {
    TAGGED first, second;
  };
  std::vector<expect> want = {
      {MakeSTR(older), MakeSmall_checked(1)},
      {PointerToTerm(v), 0},
      {MakeSTR(twice), MakeSmall_checked(10)},
  };
  std::vector<expect> got;
  for (TAGGED *t = from; t < w->trail_top;) {
    if (IsStructure(*t)) {
      got.push_back({t[0], t[1]});
      t += 3;
    } else {
      got.push_back({*t, 0});
      t++;
    }
  }
  ASSERT_EQ(got.size(), want.size()) << "entries kept: " << got.size();
  for (std::size_t i = 0; i < want.size(); i++) {
    EXPECT_EQ(got[i].first, want[i].first) << "entry " << i;
    EXPECT_EQ(got[i].second, want[i].second) << "entry " << i;
  }
  /* Stamps re-threaded to the entries' new places. */
  EXPECT_EQ(w->trail_start + GetSmall(twice[2]), w->trail_top - 3);
  EXPECT_EQ(w->trail_start + GetSmall(older[2]), from);
  EXPECT_EQ(GetSmall(same[2]), 0) << "the redundant entry was popped from the chain";
  EXPECT_EQ(gc_proofread(1), 0);

  untrail(w, from);
  EXPECT_EQ(older[1], MakeSmall_checked(1));
  EXPECT_EQ(twice[1], MakeSmall_checked(10)) << "backtracking must restore the value before the first update";
  EXPECT_EQ(same[1], MakeSmall_checked(7));
  EXPECT_EQ(*v, PointerToTerm(v));
}

TEST_F(StackGrowth, CompressTrailKeepsBacktrackingResultsRandomised)
{
  std::mt19937 rng(4242);
  for (int round = 0; round < 60; round++) {
    SCOPED_TRACE("round " + std::to_string(round));
    TearDown();
    SetUp();
    std::vector<TAGGED *> muts, vars;
    for (int i = 0; i < 4; i++)
      muts.push_back(new_mutable(MakeSmall_checked(i * 100)));
    for (int i = 0; i < 6; i++) {
      TAGGED *c = w->global_top++;
      *c = PointerToTerm(c);
      vars.push_back(c);
    }
    push_choice(0);
    node *base = w->node_;
    int depth = 0;
    for (int op = 0; op < 40; op++) {
      switch (rng() % 6) {
      case 0:
        if (depth < 6) {
          push_choice(0);
          depth++;
        }
        break;
      case 1:
        if (depth > 0) { /* cut: the entries stay */
          w->node_ = node_previous(w->node_);
          w->global_uncond = w->node_->global_top;
          w->local_uncond = w->node_->local_top;
          depth--;
        }
        break;
      case 2: case 3:
        update_mutable(muts[rng() % 4], MakeSmall_checked(static_cast<VR_INTEGER>(rng() % 5)));
        break;
      case 4: {
        TAGGED *c = vars[rng() % 6];
        if (*c == PointerToTerm(c)) {
          *c = MakeSmall_checked(static_cast<VR_INTEGER>(rng() % 9));
          trail_push(PointerToTerm(c));
        }
        break;
      }
      default:
        trail_push(0);
      }
    }
    /* The values every choicepoint level sees on backtracking, before and
       after compaction of the newest segment. */
    auto levels = [&]() {
      std::vector<TAGGED> seen;
      for (node *b = w->node_;; b = node_previous(b)) {
        untrail(w, node_trail_top(b));
        for (TAGGED *m : muts)
          seen.push_back(m[1]);
        for (TAGGED *c : vars)
          seen.push_back(*c);
        if (b == base)
          break;
      }
      return seen;
    };
    std::size_t heap_words = w->global_top - w->heap_start;
    std::vector<TAGGED> heap(w->heap_start, w->global_top);
    std::vector<TAGGED> trail(w->trail_start, w->trail_top);
    std::vector<TAGGED> want = levels();

    std::copy(heap.begin(), heap.end(), w->heap_start);
    std::copy(trail.begin(), trail.end(), w->trail_start);
    w->trail_top = w->trail_start + trail.size();
    compress_trail(w, node_trail_top(w->node_));
    EXPECT_LE(w->trail_top - w->trail_start, static_cast<std::ptrdiff_t>(trail.size()));
    EXPECT_EQ(gc_proofread(1), 0) << "mutable chains broken by compaction";
    for (TAGGED *t = node_trail_top(w->node_); t < w->trail_top; t++)
      EXPECT_NE(*t, 0u) << "a hole survived compaction";
    std::vector<TAGGED> got = levels();
    EXPECT_EQ(got, want);
    (void)heap_words;
    if (HasFailure())
      return;
  }
}

/* ---- collecting goals from the trail ---- */

TEST_F(StackGrowth, CleanupOnePendingOneFinished)
{
  test_def pred = make_def(2, 0), cleanup = make_def(1, 21);
  preds.call_cleanup = as_def(cleanup);
  push_choice(0);
  node *b = w->node_;
  b->next_alt = reinterpret_cast<try_node *>(reinterpret_cast<std::uintptr_t>(b->next_alt) | 1);
  TAGGED *cells = w->global_top;
  w->global_top += 6;
  TAGGED goal = MakeAtom(77);
  cells[0] = MakeSmall_checked(0); /* already run */
  cells[1] = MakeAtom(76);
  cells[2] = MakeSmall_checked(1); /* due */
  cells[3] = goal;
  cells[4] = PointerToTerm(&cells[4]); /* not yet due */
  cells[5] = MakeAtom(78);
  TAGGED *from = w->trail_top;
  trail_push(MakeLST(&cells[0]));
  trail_push(MakeLST(&cells[2]));
  trail_push(MakeLST(&cells[4]));
  w->term[0] = MakeSmall_checked(100);
  w->term[1] = MakeSmall_checked(101);
  TAGGED *lt = w->local_top;

  definition *next = collect_cleanup_from_trail(w, as_def(pred));
  EXPECT_EQ(next, as_def(cleanup));
  EXPECT_EQ(w->term[0], goal);
  EXPECT_EQ(reinterpret_cast<TAGGED *>(w->frame_), lt) << "a call of pred should have been pushed";
  EXPECT_EQ(w->next_insn, &pred.proc.continuation);
  EXPECT_EQ(w->frame_->term[0], MakeSmall_checked(100));
  EXPECT_EQ(w->frame_->term[1], MakeSmall_checked(101));
  ASSERT_EQ(w->trail_top - from, 1) << "finished and run entries should be gone";
  EXPECT_EQ(*from, MakeLST(&cells[4]));
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(b->next_alt) & 1, 0u) << "nothing pending is left";
}

TEST_F(StackGrowth, CleanupKeepsFlagWhileAnotherIsPendingAndRunsFreeAtOnce)
{
  static TAGGED freed;
  freed = 0;
  prolog_free_hook = [](worker *ww) {
    freed = ww->term[0];
    return 1;
  };
  test_def pred = make_def(0, 0), cleanup = make_def(1, 21);
  preds.call_cleanup = as_def(cleanup);
  push_choice(0);
  node *b = w->node_;
  b->next_alt = reinterpret_cast<try_node *>(reinterpret_cast<std::uintptr_t>(b->next_alt) | 1);
  TAGGED *c = w->global_top;
  w->global_top += 8;
  c[0] = MakeSmall_checked(1);
  c[1] = MakeAtom(80);
  c[2] = MakeSmall_checked(1);
  c[3] = MakeSTR(&c[4]);
  c[4] = MakeFunctor(MakeAtom(atom_Dfree_enum), 1);
  c[5] = MakeSmall_checked(1234);
  c[6] = MakeSmall_checked(1);
  c[7] = MakeAtom(81);
  TAGGED *from = w->trail_top;
  trail_push(MakeLST(&c[0]));
  trail_push(MakeLST(&c[2]));
  trail_push(MakeLST(&c[6]));
  w->term[0] = MakeAtom(99);

  definition *next = collect_cleanup_from_trail(w, as_def(pred));
  EXPECT_EQ(freed, MakeSmall_checked(1234));
  EXPECT_EQ(next, as_def(cleanup));
  EXPECT_EQ(w->term[0], MakeAtom(81)) << "the newest pending goal runs first";
  ASSERT_EQ(w->trail_top - from, 1);
  EXPECT_EQ(*from, MakeLST(&c[0]));
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(b->next_alt) & 1, 1u) << "one goal is still pending";
}

struct cva {
  TAGGED *block;
  TAGGED var() const { return PointerToTerm(block + 1); }
};

class StackGrowthWake : public StackGrowth {
protected:
  test_def pred = make_def(1, 0), unify_cva = make_def(2, 21), call_goals = make_def(1, 21),
           fd_unify = make_def(2, 4);
  void SetUp() override
  {
    StackGrowth::SetUp();
    preds.unify_cva = as_def(unify_cva);
    preds.call_goals = as_def(call_goals);
    preds.fd_unify = as_def(fd_unify);
  }
  cva new_cva(TAGGED attr, TAGGED goals)
  {
    TAGGED *h = w->global_top;
    w->global_top += 4;
    h[0] = CVA_MARKER;
    h[1] = PointerToTerm(&h[1]);
    h[2] = attr;
    h[3] = goals;
    return {h};
  }
  void bind_cva(cva c, TAGGED value)
  {
    c.block[1] = value;
    trail_push(c.var());
    w->wake_count++;
  }
};

TEST_F(StackGrowthWake, EachBindingBecomesAUnifyCvaCallNewestFirst)
{
  cva a = new_cva(MakeAtom(90), atom_nil), b = new_cva(MakeAtom(91), atom_nil);
  TAGGED *plain = w->global_top++;
  *plain = PointerToTerm(plain);
  TAGGED *m = new_mutable(MakeSmall_checked(0));
  push_choice(0);
  TAGGED *from = w->trail_top;
  bind_cva(a, MakeSmall_checked(1));
  *plain = MakeSmall_checked(3);
  trail_push(PointerToTerm(plain)); /* an ordinary binding stays */
  update_mutable(m, MakeSmall_checked(4));
  bind_cva(b, MakeSmall_checked(2));
  w->term[0] = MakeAtom(5);
  TAGGED *lt = w->local_top;

  definition *next = collect_goals_from_trail(w, as_def(pred));
  EXPECT_EQ(next, as_def(unify_cva));
  EXPECT_EQ(w->term[0], a.var()) << "the oldest binding is called last pushed, first run";
  EXPECT_EQ(w->term[1], MakeSmall_checked(1));
  EXPECT_EQ(a.block[1], a.var()) << "the variable is unbound again";
  EXPECT_EQ(b.block[1], b.var());
  /* Two saved calls: pred's, then unify_cva's for b. */
  frame *f2 = w->frame_;
  EXPECT_EQ(w->next_insn, &unify_cva.proc.continuation);
  EXPECT_EQ(f2->term[0], b.var());
  EXPECT_EQ(f2->term[1], MakeSmall_checked(2));
  EXPECT_EQ(f2->next_insn, &pred.proc.continuation);
  frame *f1 = f2->frame_;
  EXPECT_EQ(reinterpret_cast<TAGGED *>(f1), lt);
  EXPECT_EQ(f1->term[0], MakeAtom(5));
  EXPECT_EQ(w->wake_count, 0u);
  ASSERT_EQ(w->trail_top - from, 4) << "the binding and the mutable entry stay, the woken ones go";
  EXPECT_EQ(from[0], PointerToTerm(plain));
  EXPECT_EQ(from[1], MakeSTR(m));
  EXPECT_EQ(GetSmall(m[2]), from + 1 - w->trail_start) << "the mutable's stamp follows its entry";
}

TEST_F(StackGrowthWake, GoalsOnlyVariableCallsItsGoalsAndStaysBound)
{
  TAGGED goals = MakeAtom(95);
  cva old = new_cva(atom_nil, goals);
  push_choice(0);
  cva young = new_cva(atom_nil, goals);
  bind_cva(old, MakeSmall_checked(1));
  bind_cva(young, MakeSmall_checked(2));
  TAGGED *from = node_trail_top(w->node_);

  definition *next = collect_goals_from_trail(w, as_def(pred));
  EXPECT_EQ(next, as_def(call_goals));
  EXPECT_EQ(w->term[0], goals);
  EXPECT_EQ(old.block[1], MakeSmall_checked(1));
  EXPECT_EQ(young.block[1], MakeSmall_checked(2));
  ASSERT_EQ(w->trail_top - from, 1) << "only the binding older than the choicepoint stays trailed";
  EXPECT_EQ(*from, old.var());
}

TEST_F(StackGrowthWake, PureFiniteDomainBindingsGoToFdUnifyAsTwoLists)
{
  fd_unify.proc.properties = 21u << PREDTYP_SHIFT;
  static int checks;
  checks = 0;
  pure_attributes_hook = [](TAGGED, void *) {
    checks++;
    return 1;
  };
  cva a = new_cva(MakeAtom(90), atom_nil), b = new_cva(MakeAtom(90), atom_nil);
  push_choice(0);
  bind_cva(a, MakeSmall_checked(7));
  bind_cva(b, MakeSmall_checked(8));

  definition *next = collect_goals_from_trail(w, as_def(pred));
  EXPECT_EQ(next, as_def(fd_unify));
  EXPECT_EQ(checks, 2);
  printer p{w};
  p.print(w->term[0]);
  p.out += " ";
  p.print(w->term[1]);
  /* Variables are numbered as the printer meets them: b's first. */
  std::string vb = "_G0@H" + std::to_string(b.block + 1 - w->heap_start);
  std::string va = "_G1@H" + std::to_string(a.block + 1 - w->heap_start);
  EXPECT_EQ(p.out, "[" + vb + "|[" + va + "|a7]] [8|[7|a7]]");
  EXPECT_EQ(w->trail_top, node_trail_top(w->node_));
  EXPECT_EQ(w->wake_count, 0u);
}

TEST_F(StackGrowthWake, ImpureBindingFallsBackToUnifyCva)
{
  fd_unify.proc.properties = 21u << PREDTYP_SHIFT;
  pure_attributes_hook = [](TAGGED, void *) { return 1; };
  cva a = new_cva(MakeAtom(90), atom_nil);
  push_choice(0);
  bind_cva(a, MakeAtom(3)); /* not a small integer */
  EXPECT_EQ(collect_goals_from_trail(w, as_def(pred)), as_def(unify_cva));
}

/* ---- memory faults ---- */

struct fault_case {
  const char *name;
  int bin;
  void (*provoke)(worker *w);
};

void grow_heap_block(worker *w) { heap_overflow(w, static_cast<int>(w->heap_end - w->heap_start) + 100000, 528); }
void grow_trail_block(worker *w) { choice_overflow(w, -200000); }
void big_allocation(worker *) { checkalloc(256u << 20, mm_code(MM_BIN_MISC)); }

const fault_case fault_cases[] = {
    {"heap block", MM_BIN_STACK, grow_heap_block},
    {"trail block", MM_BIN_STACK, grow_trail_block},
    {"misc allocation", MM_BIN_MISC, big_allocation},
};

TEST_F(StackGrowth, MemoryFaultJumpsToTheRestartPointWithNothingMoved)
{
  build_world(11);
  for (const fault_case &fc : fault_cases) {
    SCOPED_TRACE(fc.name);
    std::string before = snap();
    TAGGED *h0 = w->heap_start, *t0 = w->trail_start;
    refuse_memory = true;
    eglobal->mm.culprit = -1;
    static std::jmp_buf env;
    volatile int jumped = 0;
    switch (setjmp(env)) {
    case 0:
      set_do_wam_env(&env);
      fc.provoke(w);
      break;
    case MEMORY_FAULT_JUMP:
      jumped = 1;
      break;
    default:
      jumped = 2;
    }
    set_do_wam_env(nullptr);
    refuse_memory = false;
    EXPECT_EQ(jumped, 1) << "expected a jump with " << MEMORY_FAULT_JUMP;
    EXPECT_EQ(eglobal->mm.culprit, fc.bin);
    EXPECT_EQ(w->heap_start, h0);
    EXPECT_EQ(w->trail_start, t0);
    EXPECT_EQ(before, snap()) << "a failed growth changed the stacks";
  }
}

TEST_F(StackGrowth, SetDoWamEnvReturnsThePreviousOne)
{
  std::jmp_buf a, b;
  EXPECT_EQ(set_do_wam_env(&a), nullptr);
  EXPECT_EQ(set_do_wam_env(&b), &a);
  EXPECT_EQ(set_do_wam_env(nullptr), &b);
}

using StackGrowthDeathTest = StackGrowth;

TEST_F(StackGrowthDeathTest, MemoryFaultWithoutRestartPointIsFatal)
{
  use_fresh_process_death_tests();
  for (const fault_case &fc : fault_cases) {
    SCOPED_TRACE(fc.name);
    EXPECT_EXIT(
        {
          vr_set_abort_env(nullptr);
          set_do_wam_env(nullptr);
          refuse_memory = true;
          fc.provoke(w);
          std::exit(0);
        },
        ::testing::ExitedWithCode(255), "Resource error: insufficient memory");
  }
}

/* ---- the proofreader ---- */

TEST_F(StackGrowth, ProofreaderFindsBrokenWords)
{
  build_world(21);
  ASSERT_EQ(gc_proofread(1), 0);
  struct breakage {
    const char *name;
    TAGGED *at;
    TAGGED bad;
  };
  TAGGED *first_bind = nullptr;
  for (TAGGED *t = w->trail_start + 1; t < w->trail_top; t++)
    if (*t != 0 && IsVar(*t)) {
      first_bind = t;
      break;
    }
  ASSERT_NE(first_bind, nullptr);
  TAGGED *not_functor = w->global_top++;
  *not_functor = MakeSmall_checked(3);
  const breakage cases[] = {
      {"trail entry past the heap top", first_bind, PointerToTerm(w->global_top + 10)},
      {"choicepoint argument to a non-functor", &w->node_->term[0], MakeSTR(not_functor)},
      {"global reference into free heap", &grefs[0].term, PointerToTerm(w->global_top + 3)},
      {"Y variable past the local top", &w->frame_->term[0], PointerToTerm(w->local_top + 50)},
  };
  for (const breakage &bc : cases) {
    TAGGED saved = *bc.at;
    *bc.at = bc.bad;
    EXPECT_EQ(gc_proofread(1), 1) << bc.name << " went unnoticed";
    *bc.at = saved;
  }
  EXPECT_EQ(vr_term_looks_sane(0), 0);
  EXPECT_EQ(vr_term_looks_sane(MakeFunctor(MakeAtom(3), 2)), 0);
  EXPECT_EQ(vr_term_looks_sane(MakeSmall_checked(3)), 1);
}

} // namespace growth_test
