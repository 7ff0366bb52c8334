/* term_walkers.cpp: the pointer-reversal walker and the built-ins over it
 * (see term_walkers.h).
 *
 * Mark values (two bits per word, at stack_end): 0 not visited, 1
 * finished, 2 a variable cell on the current path, 3 an argument cell on
 * the current path.  A cell on the path holds, instead of its term, the
 * link to the level above: that level's cell address or-ed with its kind
 * (argument of a structure, head or tail of a list cell, or a cell reached
 * through a reference).  Climbing back writes the child's own pointer into
 * the cell again, so only the mark bitmap remembers the walk.
 *
 * Climbing back into a structure's argument cell needs the structure's
 * functor for its end: it is the nearest word to the left that is a
 * functor word and not on the path.  That is sound because an argument
 * cell holds a term (never a functor word) unless it is on the path, and
 * path cells are told by their marks.
 *
 * dfs_undo runs the same walk with the roles of 0 and 1 swapped: it enters
 * only cells marked 1 and leaves them 0, so it retraces exactly the part
 * that the previous walk reached, even when that walk stopped early.
 */
#include "term_walkers.h"

#include "stack_growth.h"
#include "terms.h"
#include "unify.h"
#include "worker.h"

namespace {

/* ---- The mark bitmap ---- */

inline unsigned char *mark_byte(const worker *w, const TAGGED *p, unsigned *shift)
{
  const std::uintptr_t off = reinterpret_cast<std::uintptr_t>(p) - reinterpret_cast<std::uintptr_t>(w->heap_start);
  *shift = 2 * ((off / 4) % 4);
  return reinterpret_cast<unsigned char *>(w->stack_end) + off / 16;
}
inline unsigned get_mark(const worker *w, const TAGGED *p)
{
  unsigned shift;
  const unsigned byte = *mark_byte(w, p, &shift);
  return (byte >> shift) & 3u;
}
inline void set_mark(const worker *w, const TAGGED *p, unsigned m)
{
  unsigned shift;
  unsigned char *b = mark_byte(w, p, &shift);
  *b = static_cast<unsigned char>((*b & ~(3u << shift)) | (m << shift));
}
inline bool in_area(const worker *w, const TAGGED *p) { return p >= w->heap_start && p < w->stack_end; }

constexpr unsigned MARK_VAR_PATH = 2;
constexpr unsigned MARK_ARG_PATH = 3;

/* How the walk reached a cell: what comes after it. */
enum cell_kind : TAGGED { KIND_ARG = 0, KIND_HEAD = 1, KIND_TAIL = 2, KIND_VAR = 3 };

enum walk_mode { WALK_ACYCLIC, WALK_GROUND, WALK_COLLECT, WALK_FREEZE, WALK_FIND, WALK_UNDO };

/* Collection stops when less heap room than this remains (bytes). */
constexpr long COLLECT_RESERVE_BYTES = 520;
/* The first scratch constant of subsumption, then +8 each: atom indices
   from 2^28, which no real atom has. */
constexpr TAGGED FIRST_SCRATCH_CONSTANT = 0x80000007u;

struct walk_ctx {
  walk_mode mode;
  int result = 1;
  bool stop = false;
  /* WALK_COLLECT */
  bool attributed_only = false;
  bool full = false;
  TAGGED list = atom_nil;
  TAGGED *tail = nullptr;
  /* WALK_FREEZE */
  TAGGED next_constant = FIRST_SCRATCH_CONSTANT;
  /* WALK_FIND: the cell looked for; result 0 when it is reached */
  const TAGGED *target = nullptr;
};

inline long trail_room(const worker *w)
{
  return static_cast<long>(reinterpret_cast<TAGGED *>(w->node_) + w->value_trail - w->trail_top);
}

/* An unbound variable cell met for the first time. */
void on_unbound(worker *w, walk_ctx &c, TAGGED *p)
{
  switch (c.mode) {
  case WALK_GROUND:
    c.result = 0;
    c.stop = true;
    break;
  case WALK_COLLECT: {
    if (c.full || (c.attributed_only && !is_constrained_cell(w, p)))
      break;
    if ((w->heap_warn - w->global_top) * static_cast<long>(sizeof(TAGGED)) < COLLECT_RESERVE_BYTES) {
      c.full = true; /* the walk still completes, so that it can be undone */
      break;
    }
    TAGGED *cell = w->global_top;
    w->global_top += 2;
    cell[0] = PointerToTerm(p);
    cell[1] = atom_nil;
    *c.tail = MakeLST(cell);
    c.tail = cell + 1;
    break;
  }
  case WALK_FREEZE: {
    /* The binding rules of unify.h, but no wake-up is counted, and the
       trail grows without a trail collection: cells on the walk's path
       hold links, not terms, until the walk ends. */
    const bool trail = is_constrained_cell(w, p) || (p >= w->global_top ? p < w->local_uncond : p < w->global_uncond);
    *p = c.next_constant;
    c.next_constant += 8;
    if (trail) {
      *w->trail_top++ = PointerToTerm(p);
      if (trail_room(w) < TRAIL_MARGIN)
        choice_overflow(w, -TRAIL_MARGIN);
    }
    break;
  }
  default:
    break;
  }
}

void walk(worker *w, TAGGED t, walk_ctx &c)
{
  const unsigned enter = c.mode == WALK_UNDO ? 1 : 0;
  const unsigned finished = c.mode == WALK_UNDO ? 0 : 1;
  TAGGED up = 0;    /* link to the level above; 0 at the root */
  TAGGED *p;        /* current cell */
  TAGGED kind;      /* how p was reached */
  TAGGED *start;    /* the current level's structure (or cell, for KIND_VAR) */
  TAGGED *end = nullptr; /* one past the last argument, for KIND_ARG */

  t = deref(t);
  if (IsVar(t)) {
    p = TagToRef(t);
    if (!in_area(w, p)) {
      if (c.mode == WALK_GROUND)
        c.result = 0;
      return;
    }
    kind = KIND_VAR;
    start = p;
  } else if (IsAtomic(t)) {
    return;
  } else {
    start = IsList(t) ? TagToLST(t) : TagToSTR(t);
    if (!in_area(w, start))
      return;
    if (IsList(t)) {
      kind = KIND_HEAD;
      p = start;
    } else {
      if (IsBoxHeader(*start))
        return;
      if (*start == functor_Dmutable && c.mode == WALK_GROUND) {
        c.result = 0;
        return;
      }
      kind = KIND_ARG;
      p = start + 1;
      end = p + Arity(*start);
    }
  }

visit: {
  if (c.mode == WALK_FIND && p == c.target) {
    c.result = 0;
    c.stop = true;
    goto next;
  }
  const unsigned m = get_mark(w, p);
  if (m != enter) {
    if (c.mode == WALK_ACYCLIC && (m == MARK_VAR_PATH || m == MARK_ARG_PATH)) {
      c.result = 0;
      c.stop = true;
    }
    goto next;
  }
  const TAGGED v = *p;
  if (IsVar(v)) {
    if (v == PointerToTerm(p)) {
      set_mark(w, p, finished);
      on_unbound(w, c, p);
      goto next;
    }
    TAGGED *d = TagToRef(v);
    if (!in_area(w, d)) {
      set_mark(w, p, finished);
      goto next;
    }
    *p = up;
    set_mark(w, p, MARK_VAR_PATH);
    up = PointerToTerm(p) | kind;
    p = d;
    start = d;
    kind = KIND_VAR;
    goto visit;
  }
  if (IsAtomic(v)) {
    set_mark(w, p, finished);
    goto next;
  }
  TAGGED *s = IsList(v) ? TagToLST(v) : TagToSTR(v);
  if (!in_area(w, s) || (IsStructure(v) && IsBoxHeader(*s))) {
    set_mark(w, p, finished);
    goto next;
  }
  if (IsStructure(v) && *s == functor_Dmutable && c.mode == WALK_GROUND) {
    set_mark(w, p, finished);
    c.result = 0;
    c.stop = true;
    goto next;
  }
  *p = up;
  set_mark(w, p, MARK_ARG_PATH);
  up = PointerToTerm(p) | kind;
  start = s;
  if (IsList(v)) {
    kind = KIND_HEAD;
    p = s;
  } else {
    kind = KIND_ARG;
    p = s + 1;
    end = p + Arity(*s);
  }
  goto visit;
}

next:
  if (!c.stop) {
    if (kind == KIND_ARG && p + 1 < end) {
      ++p;
      goto visit;
    }
    if (kind == KIND_HEAD) {
      ++p;
      kind = KIND_TAIL;
      goto visit;
    }
  }
  /* climb */
  if (up == 0)
    return;
  {
    const TAGGED self_word = kind == KIND_ARG ? MakeSTR(start) : kind == KIND_VAR ? PointerToTerm(start) : MakeLST(start);
    TAGGED *cell = TagToRef(up & ~TAG_MASK);
    const TAGGED cell_kind = up & TAG_MASK;
    up = *cell;
    *cell = self_word;
    set_mark(w, cell, finished);
    p = cell;
    kind = cell_kind;
    switch (kind) {
    case KIND_HEAD:
      start = cell;
      break;
    case KIND_TAIL:
      start = cell - 1;
      break;
    case KIND_VAR:
      start = cell;
      break;
    default: {
      TAGGED *q = cell - 1;
      while (!IsFunctor(*q) || get_mark(w, q) >= MARK_VAR_PATH)
        --q;
      start = q;
      end = q + 1 + Arity(*q);
      break;
    }
    }
  }
  goto next;
}

/* Runs a collecting walk over the term in register `root` into a new
   list on the heap, growing the heap and starting again while the list
   does not fit; registers below `live` survive the growth. */
TAGGED variable_list(worker *w, int root, bool attributed_only, int live)
{
  for (;;) {
    const TAGGED t = w->term[root];
    TAGGED *list_start = w->global_top;
    walk_ctx c;
    c.mode = WALK_COLLECT;
    c.attributed_only = attributed_only;
    c.tail = &c.list;
    walk(w, t, c);
    dfs_undo(w, t);
    if (!c.full)
      return c.list;
    w->global_top = list_start;
    const long used = w->global_top - w->heap_start;
    call_overflow(w, static_cast<int>(used > 1024 ? used : 1024), live);
  }
}

/* The variables of X0 unified with X1. */
int collect_variables(worker *w, bool attributed_only)
{
  const TAGGED list = variable_list(w, 0, attributed_only, 2); /* may move X1 */
  return cunify(w, list, w->term[1]);
}

/* 1 when the cell is reached from t (through the cells of t's reference
   chains too, which the walk visits one by one). */
bool reaches(worker *w, TAGGED t, const TAGGED *cell)
{
  walk_ctx c;
  c.mode = WALK_FIND;
  c.target = cell;
  walk(w, t, c);
  dfs_undo(w, t);
  return c.result == 0;
}

} // namespace

int dfs_acyclic(worker *w, TAGGED t)
{
  walk_ctx c;
  c.mode = WALK_ACYCLIC;
  walk(w, t, c);
  return c.result;
}

int dfs_ground(worker *w, TAGGED t)
{
  walk_ctx c;
  c.mode = WALK_GROUND;
  walk(w, t, c);
  return c.result;
}

void dfs_undo(worker *w, TAGGED t)
{
  walk_ctx c;
  c.mode = WALK_UNDO;
  walk(w, t, c);
}

int prolog_acyclic(worker *w)
{
  const TAGGED t = deref(w->term[0]);
  if (IsVar(t))
    return 1;
  const int r = dfs_acyclic(w, t);
  dfs_undo(w, t);
  return r;
}

/* With acyclic arguments, a unifier without the occurs check that leaves
   the result acyclic is the unifier with it.  A cyclic argument is no
   fault in itself, so then each variable the unification binds is tested
   instead: the binding makes a cycle exactly when the variable is reached
   again from the term it was bound to. */
int prolog_unify_with_occurs_check(worker *w)
{
  const TAGGED x = deref(w->term[0]), y = deref(w->term[1]);
  const bool acyclic_x = IsVar(x) || dfs_acyclic(w, x);
  if (!IsVar(x))
    dfs_undo(w, x);
  const bool acyclic_y = IsVar(y) || dfs_acyclic(w, y);
  if (!IsVar(y))
    dfs_undo(w, y);
  if (acyclic_x && acyclic_y) {
    if (!cunify(w, w->term[0], w->term[1]))
      return 0;
    return prolog_acyclic(w);
  }
  /* Predicate entry leaves more than these two words free. */
  TAGGED *pair = w->global_top;
  w->global_top += 2;
  pair[0] = w->term[0];
  pair[1] = w->term[1];
  w->term[2] = MakeLST(pair);
  const TAGGED vars = variable_list(w, 2, false, 3);
  if (!cunify(w, w->term[0], w->term[1]))
    return 0;
  for (TAGGED l = vars; l != atom_nil; l = TagToLST(l)[1]) {
    const TAGGED *cell = TagToRef(TagToLST(l)[0]);
    if (*cell != PointerToTerm(cell) && reaches(w, *cell, cell))
      return 0;
  }
  return 1;
}

int prolog_term_variables(worker *w)
{
  const TAGGED t = deref(w->term[0]);
  if (IsVar(t) && !(TagToRef(t) >= w->heap_start && TagToRef(t) < w->global_top)) {
    /* The list must not point into the local stack. */
    TAGGED *h = w->global_top++;
    *h = PointerToTerm(h);
    bind(w, t, *h);
    w->term[0] = *h;
  }
  return collect_variables(w, false);
}

int prolog_term_attributed_variables(worker *w) { return collect_variables(w, true); }

int prolog_subsumes(worker *w)
{
  const TAGGED specific = w->term[1];
  walk_ctx c;
  c.mode = WALK_FREEZE;
  walk(w, specific, c);
  dfs_undo(w, specific);
  const int r = cunify(w, w->term[0], specific);
  w->wake_count = 0;
  return r;
}

int prolog_mgu_variables(worker *w)
{
  for (;;) {
    const TAGGED x = deref(w->term[0]), y = deref(w->term[1]);
    if (x == y)
      return cunify(w, w->term[2], atom_nil);
    TAGGED *mark = node_trail_top(w->node_);
    if (!cunify(w, x, y))
      return 0;
    const long entries = w->trail_top - mark;
    /* Two list words per bound variable and per variable bound to, and a
       heap cell for each local variable moved. */
    const long need = 5 * entries + 16;
    if (w->global_top + need > w->heap_warn) {
      for (TAGGED *e = w->trail_top; e > mark;) {
        const TAGGED entry = *--e;
        if (trail_is_binding(entry))
          *TagToRef(entry) = entry;
      }
      w->trail_top = mark;
      w->wake_count = 0;
      w->heap_warn_soft = w->int_heap_warn;
      call_overflow(w, static_cast<int>(need), 3);
      continue;
    }

    /* Each binding points straight at what its chain ends in. */
    for (TAGGED *e = mark; e < w->trail_top; ++e)
      if (trail_is_binding(*e))
        *TagToRef(*e) = deref(*TagToRef(*e));
    /* An unbound variable that bindings point at counts its binders in its
       own cell meanwhile, so that it is listed after the oldest one. */
    for (TAGGED *e = mark; e < w->trail_top; ++e) {
      if (!trail_is_binding(*e))
        continue;
      const TAGGED target = *TagToRef(*e);
      if (!IsVar(target))
        continue;
      TAGGED *v = TagToRef(target);
      *v = *v == target ? MakeSmall_checked(1) : MakeSmall_checked(GetSmall(*v) + 1);
    }
    TAGGED list = atom_nil;
    TAGGED *tail = &list;
    auto append = [&](TAGGED var) {
      TAGGED *cell = w->global_top;
      w->global_top += 2;
      cell[0] = var;
      cell[1] = atom_nil;
      *tail = MakeLST(cell);
      tail = cell + 1;
    };
    for (TAGGED *e = w->trail_top; e > mark;) {
      const TAGGED entry = *--e;
      if (!trail_is_binding(entry))
        continue;
      TAGGED *cell = TagToRef(entry);
      const TAGGED target = *cell;
      *cell = entry;
      append(entry);
      if (IsVar(target)) {
        TAGGED *v = TagToRef(target);
        const VR_INTEGER left = GetSmall(*v) - 1;
        if (left == 0) {
          *v = target;
          append(target);
        } else {
          *v = MakeSmall_checked(left);
        }
      }
    }
    w->trail_top = mark;
    w->wake_count = 0;
    w->heap_warn_soft = w->int_heap_warn;

    /* Every local-stack variable of the list moves to the heap. */
    for (TAGGED l = list; l != atom_nil; l = TagToLST(l)[1]) {
      TAGGED *item = TagToLST(l);
      TAGGED *var = TagToRef(item[0]);
      if (!(var >= w->stack_start && var < w->stack_end))
        continue;
      TAGGED *h = w->global_top++;
      *h = PointerToTerm(h);
      bind(w, item[0], *h);
      item[0] = *h;
    }
    return cunify(w, w->term[2], list);
  }
}

int prolog_eq(worker *w) { return deref(w->term[0]) == deref(w->term[1]); }
