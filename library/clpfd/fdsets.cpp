/* fdsets.cpp: the FD-set operations (see fdsets.h).
 *
 * Every comparison goes through xv (fd_order), which maps a bound word to
 * a plain integer in which E + 1 is always defined, so the merges below
 * are ordinary integer interval walks, each a single pass over both
 * operands.  xv is only a comparison key: bounds are stored as words,
 * converted back by xt (which gives inf and sup at and beyond the ends).
 *
 * Output goes through `out`: a pointer to the tail slot to fill next.  An
 * interval that passes unchanged into a result keeps its interval cell and
 * gets a new spine cell; a new interval takes four consecutive words
 * (FDCONS relies on that layout too).
 */
#include "fdsets.h"

#include <cassert>

namespace {

constexpr std::int32_t XV_INF = FD_ORDER_INF;
constexpr std::int32_t XV_SUP = FD_ORDER_SUP;
inline std::int32_t xv(TAGGED t) { return fd_order(t); }
inline TAGGED xt(std::int64_t v) { return fd_from_order(v); }

/* One interval after the other of a set, or a lone interval. */
struct cursor {
  TAGGED rest;      /* the intervals after the current one */
  TAGGED cell;      /* interval cell of the current interval while it is unchanged, else 0 */
  std::int32_t b, e; /* the current interval (xv), valid while `live` */
  bool live;

  void load(TAGGED d)
  {
    live = !fd_is_empty(d);
    if (live) {
      cell = fd_first_interval(d);
      b = xv(fd_interval_min(cell));
      e = xv(fd_interval_max(cell));
      rest = fd_rest(d);
    }
  }
  void next() { load(rest); }
  /* The current interval cut to start at nb (above b). */
  void cut(std::int32_t nb)
  {
    b = nb;
    cell = 0;
  }
};

inline cursor set_cursor(TAGGED d)
{
  cursor c;
  c.load(d);
  return c;
}

inline cursor interval_cursor(TAGGED b, TAGGED e)
{
  cursor c;
  c.rest = fd_empty_set;
  c.cell = 0;
  c.b = xv(b);
  c.e = xv(e);
  c.live = true;
  return c;
}

/* The result under construction. */
struct out {
  VREnv *env;
  worker *w;
  TAGGED head = fd_empty_set;
  TAGGED *slot = &head;

  out(VREnv *e, worker *wk) : env(e), w(wk) {}
  out(const out &) = delete;

  /* An interval: the given interval cell when it holds exactly b..e. */
  void add(std::int32_t b, std::int32_t e, TAGGED cell = 0)
  {
    TAGGED *p;
    if (cell != 0 && xv(fd_interval_min(cell)) == b && xv(fd_interval_max(cell)) == e) {
      p = fd_numstack_words(env, w, 2);
      p[0] = cell;
    } else {
      p = fd_numstack_words(env, w, 4);
      p[0] = MakeLST(p + 2);
      p[2] = xt(b);
      p[3] = xt(e);
    }
    *slot = MakeLST(p);
    slot = p + 1;
  }
  void add(const cursor &c) { add(c.b, c.e, c.cell); }
  /* Closes the list with a tail (shared) and returns it. */
  TAGGED close(TAGGED tail = fd_empty_set)
  {
    *slot = tail;
    return head;
  }
};

/* What is left of a cursor as a set: its unchanged rest behind a copy of
   the current interval, for sharing as the tail of a result. */
TAGGED cursor_remainder(out &o, const cursor &c)
{
  if (!c.live)
    return fd_empty_set;
  o.add(c);
  return o.close(c.rest);
}

/* ---- The merges, on cursors ---- */

TAGGED intersect(out &o, cursor a, cursor c)
{
  while (a.live && c.live) {
    const std::int32_t b = a.b > c.b ? a.b : c.b;
    const std::int32_t e = a.e < c.e ? a.e : c.e;
    if (b <= e)
      o.add(b, e, a.e == e && a.b == b ? a.cell : c.cell);
    if (a.e < c.e)
      a.next();
    else if (c.e < a.e)
      c.next();
    else {
      a.next();
      c.next();
    }
  }
  return o.close();
}

/* a minus c; the rest of a is shared once c runs out. */
TAGGED subtract(out &o, cursor a, cursor c)
{
  while (a.live) {
    if (!c.live)
      return cursor_remainder(o, a);
    if (c.e < a.b) {
      c.next();
    } else if (c.b > a.e) {
      o.add(a);
      a.next();
    } else {
      if (c.b > a.b)
        o.add(a.b, c.b - 1);
      if (c.e < a.e) {
        a.cut(c.e + 1);
        c.next();
      } else {
        a.next();
      }
    }
  }
  return o.close();
}

/* The union; once one side runs out the rest of the other is shared. */
TAGGED unite(out &o, cursor a, cursor c)
{
  while (a.live || c.live) {
    if (!a.live || !c.live) {
      cursor &r = a.live ? a : c;
      return cursor_remainder(o, r);
    }
    /* The next interval to emit starts with the lower of the two and
       absorbs whatever overlaps or touches it. */
    cursor &first = a.b <= c.b ? a : c;
    std::int32_t b = first.b, e = first.e;
    TAGGED cell = first.cell;
    first.next();
    for (;;) {
      cursor *absorbed = nullptr;
      if (a.live && a.b <= e + 1)
        absorbed = &a;
      else if (c.live && c.b <= e + 1)
        absorbed = &c;
      if (absorbed == nullptr)
        break;
      if (absorbed->e > e) {
        e = absorbed->e;
        cell = absorbed->b == b ? absorbed->cell : 0;
      }
      absorbed->next();
    }
    o.add(b, e, cell);
  }
  return o.close();
}

int compare(cursor a, cursor c)
{
  bool out1 = false, out2 = false, shared = false;
  while (a.live && c.live) {
    if (a.e < c.b) {
      out1 = true;
      a.next();
    } else if (c.e < a.b) {
      out2 = true;
      c.next();
    } else {
      shared = true;
      if ((a.b < c.b && a.e < c.e) || (c.b < a.b && c.e < a.e))
        return FD_INTERSECT;
      if (a.b < c.b)
        out1 = true;
      else if (c.b < a.b)
        out2 = true;
      if (a.e < c.e) {
        c.cut(a.e + 1);
        a.next();
      } else if (c.e < a.e) {
        a.cut(c.e + 1);
        c.next();
      } else {
        a.next();
        c.next();
      }
    }
  }
  out1 = out1 || a.live;
  out2 = out2 || c.live;
  if (!out1 && !out2)
    return FD_EQUAL;
  if (!out2)
    return FD_SUPERSET;
  if (!out1)
    return FD_SUBSET;
  return shared ? FD_INTERSECT : FD_DISJOINT;
}

/* The first common stretch of two sets at or above `from` (xv); false
   when there is none. */
bool common_from(cursor a, cursor c, std::int32_t from, std::int32_t *b, std::int32_t *e)
{
  while (a.live && c.live) {
    const std::int32_t lo = a.b > c.b ? a.b : c.b;
    const std::int32_t hi = a.e < c.e ? a.e : c.e;
    const std::int32_t start = lo > from ? lo : from;
    if (start <= hi) {
      *b = start;
      *e = hi;
      return true;
    }
    if (a.e < c.e)
      a.next();
    else
      c.next();
  }
  return false;
}

} // namespace

/* ---- Bounds ---- */

TAGGED fd_succ(TAGGED t) { return IsSmall(t) ? xt(static_cast<std::int64_t>(xv(t)) + 1) : t; }
TAGGED fd_pred(TAGGED t) { return IsSmall(t) ? xt(static_cast<std::int64_t>(xv(t)) - 1) : t; }

/* ---- Queries ---- */

TAGGED fd_min(TAGGED d) { return fd_interval_min(fd_first_interval(d)); }

TAGGED fd_max(TAGGED d)
{
  while (!fd_is_empty(fd_rest(d)))
    d = fd_rest(d);
  return fd_interval_max(fd_first_interval(d));
}

long fd_size(TAGGED d)
{
  long n = 0;
  for (; !fd_is_empty(d); d = fd_rest(d)) {
    const TAGGED iv = fd_first_interval(d);
    n += GetSmall(fd_interval_max(iv)) - GetSmall(fd_interval_min(iv)) + 1;
  }
  return n;
}

bool fd_singleton(TAGGED d)
{
  return !fd_is_empty(d) && fd_is_empty(fd_rest(d)) &&
         fd_interval_min(fd_first_interval(d)) == fd_interval_max(fd_first_interval(d));
}

bool fd_member(TAGGED t, TAGGED d)
{
  const std::int32_t v = xv(t);
  for (; !fd_is_empty(d); d = fd_rest(d)) {
    const TAGGED iv = fd_first_interval(d);
    if (v <= xv(fd_interval_max(iv)))
      return v >= xv(fd_interval_min(iv));
  }
  return false;
}

int fd_point_vs_interval(TAGGED p, TAGGED min, TAGGED max)
{
  /* Anything that is neither an integer nor inf counts as sup. */
  const std::int32_t v = IsSmall(p) ? GetSmall(p) : p == atom_inf ? XV_INF : XV_SUP;
  if (v < xv(min))
    return -1;
  return v > xv(max) ? 1 : 0;
}

int fd_val_vs_interval(TAGGED p, TAGGED min, TAGGED max)
{
  const std::int32_t v = GetSmall(p);
  if (v < xv(min))
    return -1;
  return v > xv(max) ? 1 : 0;
}

int fd_interval_cmp(TAGGED b1, TAGGED e1, TAGGED b2, TAGGED e2)
{
  if (b1 == e1 && b2 == e2) { /* two single values */
    const std::int32_t v1 = xv(b1), v2 = xv(b2);
    if (v1 < v2)
      return v1 + 1 == v2 ? FD_IV_JUST_BEFORE : FD_IV_BEFORE;
    if (v1 == v2)
      return FD_IV_EQUAL;
    return v2 + 1 == v1 ? FD_IV_JUST_AFTER : FD_IV_AFTER;
  }
  const std::int32_t x1 = xv(b1), y1 = xv(e1), x2 = xv(b2), y2 = xv(e2);
  if (y1 + 1 < x2)
    return FD_IV_BEFORE;
  if (y1 + 1 == x2)
    return FD_IV_JUST_BEFORE;
  if (y2 + 1 < x1)
    return FD_IV_AFTER;
  if (y2 + 1 == x1)
    return FD_IV_JUST_AFTER;
  const int ends = y1 < y2 ? 0 : y1 == y2 ? 1 : 2;
  if (x1 < x2)
    return FD_IV_OVERLAPS_START + ends;
  if (x1 == x2)
    return FD_IV_SAME_START_SHORTER + ends;
  return FD_IV_INSIDE + ends;
}

int fd_compare(TAGGED d1, TAGGED d2) { return compare(set_cursor(d1), set_cursor(d2)); }

int fd_compare_interval(TAGGED d1, TAGGED b2, TAGGED e2)
{
  return compare(set_cursor(d1), interval_cursor(b2, e2));
}

int fd_compare_intervals(TAGGED b1, TAGGED e1, TAGGED b2, TAGGED e2)
{
  const std::int32_t x1 = IsSmall(b1) ? GetSmall(b1) : XV_INF, y1 = IsSmall(e1) ? GetSmall(e1) : XV_SUP;
  const std::int32_t x2 = IsSmall(b2) ? GetSmall(b2) : XV_INF, y2 = IsSmall(e2) ? GetSmall(e2) : XV_SUP;
  if (y1 < x2 || y2 < x1)
    return FD_DISJOINT;
  if (x1 == x2 && y1 == y2)
    return FD_EQUAL;
  if ((x1 == x2 || y1 == y2) && x1 <= x2 && y1 >= y2)
    return FD_SUPERSET;
  if ((x1 == x2 || y1 == y2) && x1 >= x2 && y1 <= y2)
    return FD_SUBSET;
  return FD_INTERSECT;
}

long fd_intersection_size(TAGGED d1, TAGGED d2)
{
  long n = 0;
  cursor a = set_cursor(d1), c = set_cursor(d2);
  while (a.live && c.live) {
    const std::int32_t b = a.b > c.b ? a.b : c.b;
    const std::int32_t e = a.e < c.e ? a.e : c.e;
    if (b <= e)
      n += e - b + 1;
    if (a.e < c.e)
      a.next();
    else
      c.next();
  }
  return n;
}

TAGGED fd_intersection_min(TAGGED d1, TAGGED d2)
{
  std::int32_t b, e;
  return common_from(set_cursor(d1), set_cursor(d2), XV_INF, &b, &e) ? xt(b) : 0;
}

TAGGED fd_intersection_max(TAGGED d1, TAGGED d2)
{
  std::int32_t hi = 0;
  bool any = false;
  cursor a = set_cursor(d1), c = set_cursor(d2);
  while (a.live && c.live) {
    const std::int32_t b = a.b > c.b ? a.b : c.b;
    const std::int32_t e = a.e < c.e ? a.e : c.e;
    if (b <= e) {
      hi = e;
      any = true;
    }
    if (a.e < c.e)
      a.next();
    else
      c.next();
  }
  return any ? xt(hi) : 0;
}

TAGGED fd_intersection_min2(TAGGED d1, TAGGED d2, TAGGED *elt2)
{
  std::int32_t b, e;
  *elt2 = 0;
  if (!common_from(set_cursor(d1), set_cursor(d2), XV_INF, &b, &e))
    return 0;
  if (b < e) {
    *elt2 = xt(b + 1);
  } else {
    std::int32_t b2, e2;
    if (common_from(set_cursor(d1), set_cursor(d2), b + 1, &b2, &e2))
      *elt2 = xt(b2);
  }
  return xt(b);
}

TAGGED fd_successor(TAGGED d, TAGGED t)
{
  if (t == atom_inf)
    return fd_is_empty(d) ? atom_sup : fd_min(d);
  const std::int32_t v = xv(t);
  for (; !fd_is_empty(d); d = fd_rest(d)) {
    const TAGGED iv = fd_first_interval(d);
    if (v < xv(fd_interval_min(iv)))
      return fd_interval_min(iv);
    if (v < xv(fd_interval_max(iv)))
      return xt(static_cast<std::int64_t>(v) + 1);
  }
  return atom_sup;
}

TAGGED fd_predecessor(TAGGED d, TAGGED t)
{
  if (t == atom_sup)
    return fd_is_empty(d) ? atom_inf : fd_max(d);
  const std::int32_t v = xv(t);
  TAGGED best = atom_inf;
  for (; !fd_is_empty(d); d = fd_rest(d)) {
    const TAGGED iv = fd_first_interval(d);
    if (v <= xv(fd_interval_min(iv)))
      break;
    best = v > xv(fd_interval_max(iv)) ? fd_interval_max(iv) : xt(static_cast<std::int64_t>(v) - 1);
  }
  return best;
}

/* ---- Builders ---- */

TAGGED fd_interval(VREnv *env, worker *w, TAGGED min, TAGGED max)
{
  if (xv(max) < xv(min))
    return fd_empty_set;
  out o(env, w);
  o.add(xv(min), xv(max));
  return o.close();
}

TAGGED fd_pair(VREnv *env, worker *w, TAGGED t1, TAGGED t2)
{
  std::int32_t a = xv(t1), b = xv(t2);
  if (b < a) {
    const std::int32_t x = a;
    a = b;
    b = x;
  }
  out o(env, w);
  if (b - a <= 1) {
    o.add(a, b);
  } else {
    o.add(a, a);
    o.add(b, b);
  }
  return o.close();
}

TAGGED fd_compl_interval(VREnv *env, worker *w, TAGGED min, TAGGED max)
{
  out o(env, w);
  if (min != atom_inf)
    o.add(XV_INF, xv(min) - 1);
  if (max != atom_sup)
    o.add(xv(max) + 1, XV_SUP);
  return o.close();
}

TAGGED fd_subtract(VREnv *env, worker *w, TAGGED d1, TAGGED d2)
{
  if (fd_is_empty(d2))
    return d1;
  out o(env, w);
  return subtract(o, set_cursor(d1), set_cursor(d2));
}

TAGGED fd_interval_subtract(VREnv *env, worker *w, TAGGED b1, TAGGED e1, TAGGED d2)
{
  out o(env, w);
  return subtract(o, interval_cursor(b1, e1), set_cursor(d2));
}

TAGGED fd_subtract_interval(VREnv *env, worker *w, TAGGED d1, TAGGED b2, TAGGED e2)
{
  out o(env, w);
  return subtract(o, set_cursor(d1), interval_cursor(b2, e2));
}

TAGGED fd_complement(VREnv *env, worker *w, TAGGED d) { return fd_interval_subtract(env, w, atom_inf, atom_sup, d); }

TAGGED fd_delete(VREnv *env, worker *w, TAGGED d, TAGGED t) { return fd_subtract_interval(env, w, d, t, t); }

TAGGED fd_intersection(VREnv *env, worker *w, TAGGED d1, TAGGED d2)
{
  out o(env, w);
  return intersect(o, set_cursor(d1), set_cursor(d2));
}

TAGGED fd_intersection_interval(VREnv *env, worker *w, TAGGED d1, TAGGED b2, TAGGED e2)
{
  out o(env, w);
  return intersect(o, set_cursor(d1), interval_cursor(b2, e2));
}

TAGGED fd_union(VREnv *env, worker *w, TAGGED d1, TAGGED d2)
{
  if (fd_is_empty(d1))
    return d2;
  if (fd_is_empty(d2))
    return d1;
  out o(env, w);
  return unite(o, set_cursor(d1), set_cursor(d2));
}

TAGGED fd_union_interval(VREnv *env, worker *w, TAGGED d1, TAGGED b2, TAGGED e2)
{
  out o(env, w);
  return unite(o, set_cursor(d1), interval_cursor(b2, e2));
}

TAGGED fd_merge_into(VREnv *env, worker *w, TAGGED d1, TAGGED d2)
{
  const int rel = fd_compare(d1, d2);
  if (rel == FD_EQUAL || rel == FD_SUBSET)
    return d2;
  return fd_union(env, w, d1, d2);
}

TAGGED fd_insert_into(VREnv *env, worker *w, TAGGED t, TAGGED d)
{
  if (fd_member(t, d))
    return d;
  return fd_union_interval(env, w, d, t, t);
}

void fd_first_and_rest(VREnv *env, worker *w, TAGGED d, TAGGED *firstp, TAGGED *restp)
{
  const TAGGED iv = fd_first_interval(d);
  const TAGGED b = fd_interval_min(iv), e = fd_interval_max(iv);
  *firstp = b;
  if (b == e) {
    *restp = fd_rest(d);
    return;
  }
  out o(env, w);
  o.add(xv(b) + 1, xv(e));
  *restp = o.close(fd_rest(d));
}

TAGGED fd_lsh(VREnv *env, worker *w, TAGGED d, TAGGED offset)
{
  if (offset == MakeSmall_checked(0))
    return d;
  out o(env, w);
  for (; !fd_is_empty(d); d = fd_rest(d)) {
    const TAGGED iv = fd_first_interval(d);
    o.add(xv(fd_safe_plus(fd_interval_min(iv), offset)), xv(fd_safe_plus(fd_interval_max(iv), offset)));
  }
  return o.close();
}

TAGGED fd_neg_offset(VREnv *env, worker *w, TAGGED d, TAGGED offset)
{
  /* Negation reverses the order: building front to back while walking
     the operand front to back gives the result without recursion, however
     many intervals the set has. */
  TAGGED result = fd_empty_set;
  for (; !fd_is_empty(d); d = fd_rest(d)) {
    const TAGGED iv = fd_first_interval(d);
    TAGGED *p = fd_numstack_words(env, w, 4);
    p[0] = MakeLST(p + 2);
    p[1] = result;
    p[2] = fd_safe_minus(offset, fd_interval_max(iv));
    p[3] = fd_safe_minus(offset, fd_interval_min(iv));
    result = MakeLST(p);
  }
  return result;
}

/* ---- Destructive ---- */

TAGGED fd_union_dest(TAGGED a, TAGGED b)
{
  TAGGED head = fd_empty_set, *slot = &head;
  TAGGED *last = nullptr; /* interval cell of the last interval kept */
  while (!fd_is_empty(a) || !fd_is_empty(b)) {
    TAGGED x;
    if (fd_is_empty(b) ||
        (!fd_is_empty(a) && xv(fd_min(a)) <= xv(fd_min(b)))) {
      x = a;
      a = fd_rest(a);
    } else {
      x = b;
      b = fd_rest(b);
    }
    TAGGED *iv = TagToLST(fd_first_interval(x));
    if (last != nullptr && xv(iv[0]) <= xv(last[1]) + 1) {
      if (xv(iv[1]) > xv(last[1]))
        last[1] = iv[1];
      continue;
    }
    *slot = x;
    slot = TagToLST(x) + 1;
    last = iv;
  }
  *slot = fd_empty_set;
  return head;
}

TAGGED fd_union_sort(TAGGED list)
{
  TAGGED stack[32];
  int depth = 0;
  unsigned long runs = 0;
  while (!fd_is_empty(list)) {
    /* Cut off the longest prefix in which every interval starts at or
       after the one before, merging neighbours that overlap or touch. */
    const TAGGED run = list;
    TAGGED *cur = TagToLST(list);
    TAGGED next = cur[1];
    while (!fd_is_empty(next)) {
      TAGGED *civ = TagToLST(cur[0]), *niv = TagToLST(fd_first_interval(next));
      const int rel = fd_interval_cmp(civ[0], civ[1], niv[0], niv[1]);
      if (rel >= FD_IV_INSIDE)
        break;
      if (rel == FD_IV_BEFORE) {
        cur = TagToLST(next);
      } else {
        if (xv(niv[1]) > xv(civ[1]))
          civ[1] = niv[1];
        cur[1] = fd_rest(next);
      }
      next = cur[1];
    }
    cur[1] = fd_empty_set;
    list = next;
    /* The stack holds merged runs like the bits of the run count. */
    TAGGED merged = run;
    for (unsigned long k = runs; k & 1; k >>= 1)
      merged = fd_union_dest(stack[--depth], merged);
    assert(depth < 32);
    stack[depth++] = merged;
    runs++;
  }
  TAGGED result = fd_empty_set;
  while (depth > 0)
    result = fd_union_dest(stack[--depth], result);
  return result;
}

/* ---- Between the heap and the number stack ---- */

TAGGED fd_localize(VREnv *env, worker *w, TAGGED d)
{
  auto on_heap = [w](TAGGED t) {
    const TAGGED *p = TagToLST(t);
    return p >= w->heap_start && p < w->stack_start;
  };
  TAGGED head = fd_empty_set, *slot = &head;
  for (; !fd_is_empty(d); d = fd_rest(d)) {
    TAGGED iv = fd_first_interval(d);
    TAGGED *spine;
    if (on_heap(d)) {
      if (on_heap(iv)) {
        spine = fd_numstack_words(env, w, 4);
        spine[2] = fd_interval_min(iv);
        spine[3] = fd_interval_max(iv);
        iv = MakeLST(spine + 2);
      } else {
        spine = fd_numstack_words(env, w, 2);
      }
      spine[0] = iv;
    } else {
      spine = TagToLST(d);
      if (on_heap(iv)) {
        TAGGED *p = fd_numstack_words(env, w, 2);
        p[0] = fd_interval_min(iv);
        p[1] = fd_interval_max(iv);
        spine[0] = MakeLST(p);
      }
    }
    *slot = MakeLST(spine);
    slot = spine + 1;
  }
  *slot = fd_empty_set;
  return head;
}

TAGGED fd_globalize(VREnv *env, worker *w, TAGGED d, long pad, int live)
{
  long n = 0;
  for (TAGGED s = d; !fd_is_empty(s); s = fd_rest(s))
    n++;
  fd_heap_room(env, w, 4 * n + pad + 128, live);
  TAGGED head = fd_empty_set, *slot = &head;
  for (; !fd_is_empty(d); d = fd_rest(d)) {
    const TAGGED iv = fd_first_interval(d);
    TAGGED *p = w->global_top;
    w->global_top += 4;
    p[0] = MakeLST(p + 2);
    p[2] = fd_interval_min(iv);
    p[3] = fd_interval_max(iv);
    if (p[2] == atom_sup || p[3] == atom_inf)
      fd_state_of(env)->fd_overflow = 1;
    *slot = MakeLST(p);
    slot = p + 1;
  }
  *slot = fd_empty_set;
  return head;
}

/* ---- Checking sets that come from Prolog ---- */

bool fd_check_set(TAGGED t, std::int64_t *size, bool *plain)
{
  std::int64_t n = 0;
  bool finite = true, refs = false;
  std::int32_t after = XV_INF; /* the least B the next interval may have */
  bool first = true;
  auto get = [&refs](TAGGED word) {
    if (IsVar(word)) {
      refs = true;
      return deref(word);
    }
    return word;
  };
  for (t = get(t); t != fd_empty_set; t = get(fd_rest(t))) {
    if (!IsList(t))
      return false;
    const TAGGED iv = get(fd_first_interval(t));
    if (!IsList(iv))
      return false;
    const TAGGED b = get(fd_interval_min(iv)), e = get(fd_interval_max(iv));
    if (!(IsSmall(b) || (b == atom_inf && first)) || !(IsSmall(e) || e == atom_sup))
      return false;
    const std::int32_t x = xv(b), y = xv(e);
    if (x > y || (!first && x <= after))
      return false;
    if (!IsSmall(b) || !IsSmall(e))
      finite = false;
    else
      n += static_cast<std::int64_t>(y) - x + 1;
    if (e == atom_sup) {
      if (get(fd_rest(t)) != fd_empty_set)
        return false;
    }
    after = y + 1;
    first = false;
  }
  *size = finite ? n : -1;
  *plain = !refs;
  return true;
}

TAGGED fd_plain_set(VREnv *env, worker *w, TAGGED t)
{
  std::int64_t size;
  bool plain;
  if (!fd_check_set(t, &size, &plain))
    return 0;
  t = deref(t);
  if (plain)
    return t;
  out o(env, w);
  for (; t != fd_empty_set; t = deref(fd_rest(t))) {
    const TAGGED iv = deref(fd_first_interval(t));
    o.add(xv(deref(fd_interval_min(iv))), xv(deref(fd_interval_max(iv))));
  }
  return o.close();
}

/* ---- Iteration and building ---- */

void fditer_init(FDITER *it, TAGGED d)
{
  if (fd_is_empty(d)) {
    it->cur = FDITER_END;
    it->max = FDITER_END;
    it->tail = fd_empty_set;
    return;
  }
  const TAGGED iv = fd_first_interval(d);
  it->cur = fd_interval_min(iv);
  it->max = fd_interval_max(iv);
  it->tail = fd_rest(d);
}

TAGGED fditer_next(FDITER *it)
{
  const TAGGED v = it->cur;
  if (v == it->max)
    fditer_init(it, it->tail);
  else
    it->cur = v + 8; /* the next small integer */
  return v;
}

void fditer_next_interval(FDITER *it, TAGGED *tmin, TAGGED *tmax)
{
  *tmin = it->cur;
  *tmax = it->max;
  fditer_init(it, it->tail);
}

void fditer_skip(FDITER *it, TAGGED t)
{
  const std::int32_t v = xv(t);
  while (it->cur != FDITER_END && v >= xv(it->cur)) {
    if (v < xv(it->max)) {
      it->cur = xt(static_cast<std::int64_t>(v) + 1);
      return;
    }
    fditer_init(it, it->tail);
  }
}

void fdcons_init(FDCONS *cons)
{
  cons->head = fd_empty_set;
  cons->cur = nullptr;
  cons->size = 0;
}

void fdcons_add_interval(VREnv *env, FDCONS *cons, worker *w, TAGGED t, TAGGED u)
{
  cons->size += GetSmall(u) - GetSmall(t) + 1;
  if (cons->cur != nullptr && xv(t) == xv(cons->cur[3]) + 1) {
    cons->cur[3] = u;
    return;
  }
  TAGGED *p = fd_numstack_words(env, w, 4);
  p[0] = MakeLST(p + 2);
  p[1] = fd_empty_set;
  p[2] = t;
  p[3] = u;
  if (cons->cur != nullptr)
    cons->cur[1] = MakeLST(p);
  else
    cons->head = MakeLST(p);
  cons->cur = p;
}

void fdcons_add(VREnv *env, FDCONS *cons, worker *w, TAGGED t) { fdcons_add_interval(env, cons, w, t, t); }
