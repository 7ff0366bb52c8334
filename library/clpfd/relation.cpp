/* relation.cpp: relation/3 as a native global constraint (see relation.h).
 *
 * Each instance owns one data block (globals.h): the daemon frame, the
 * map (one entry per interval of every XSet, sorted by X), the tuple list
 * that the daemons fill, and two domain-variable caches per tuple.  The
 * block's global references keep, per tuple, X's attribute, X, XMut, Y's
 * attribute, Y and YMut, then one reference per relation entry holding its
 * YSet; the map entries point at those.  Nothing the collector moves is
 * read from the block itself.
 *
 * Every run processes the listed tuples: it compares each variable's
 * domain with the one recorded in its $mutable (the values removed since
 * the tuple was last processed) and picks a scan: the incremental ones
 * walk only the removed values, the full ones every map entry that meets
 * the domain; all of them bisect the map, which relies on the X intervals
 * of different entries not overlapping (which also lets the X intervals
 * met in map order be consed up as a set).  The posting run scans fully
 * and treats Y as changed, so whatever the recorded domains, the pair is
 * made consistent once; afterwards every run leaves each processed tuple
 * consistent and records its domains, which is what the incremental scans
 * build on.  The recorded domains are value-trailed; Open lives in the
 * state term, which is restamped (copied when older than the newest
 * choicepoint) before it is changed, so backtracking restores both.
 *
 * Order within a run: nothing grows the heap between filling the caches
 * and settling them; the write-backs and the recorded domains come after
 * all tuples are pruned, daemons are attached (posting only) after that,
 * and the block is disposed of last.
 */
#include "relation.h"

#include <cstdint>

#include "dvar.h"
#include "fd_attribute.h"
#include "fd_qsort.h"
#include "fdsets.h"
#include "globals.h"
#include "propagation.h"

namespace {

inline TAGGED arg(TAGGED t, int i) { return TagToSTR(t)[i]; }
inline TAGGED &slot(worker *w, VR_term_ref r) { return w->fli_stack_start[r].term; }
inline std::int32_t ord(TAGGED t) { return fd_order(t); }
inline TAGGED head(TAGGED l) { return deref(TagToLST(l)[0]); }
inline TAGGED tail(TAGGED l) { return deref(TagToLST(l)[1]); }

/* State arguments. */
enum : int { S_RELATION = 1, S_OPT = 2, S_TUPLES = 3, S_OPEN = 4 };
/* Option bits. */
enum : int { OPT_BOUNDS = 1, OPT_DELTA = 2, OPT_ORDERED = 4 };
/* A tuple's references. */
constexpr int REFS_PER_TUPLE = 6;
enum : int { R_XATTR, R_X, R_XMUT, R_YATTR, R_Y, R_YMUT };
/* next[] of a tuple that is not listed; -1 ends the list. */
constexpr int UNLISTED = -2;

struct mapentry {
  TAGGED min, max;   /* the X interval */
  TAGGED ymin, ymax; /* the bounds of the entry's YSet */
  VR_globref value;  /* holds the YSet */
};

struct relation_data {
  daemon_frame frame;
  VREnv *vrenv;
  long stamp; /* the state stamp the tuple list belongs to */
  int first;  /* first listed tuple, -1 when none */
  int *next;  /* per tuple */
  dvar *dvbase; /* X then Y per tuple */
  VR_globref refbase;
  int ntuples;
  int xy_n; /* relation entries */
  int xy_r; /* map entries */
  int opt;
  mapentry *map;
};

inline TAGGED yset(const mapentry &e) { return deref(e.value->term); }
/* The domain recorded in a tuple's XMut or YMut. */
inline TAGGED recorded(VR_globref mut) { return deref(fd_mutable_value(deref(mut->term))); }

void relation_destructor(void *block)
{
  auto *d = static_cast<relation_data *>(block);
  d->vrenv->dispatch_API_VOSTREL_H->pVR_free_globrefs(d->refbase);
  d->vrenv->dispatch_API_VOSTREL_H->pVR_free(d);
}

/* The number of values of a set; a very large number for an infinite one. */
std::int64_t count_values(TAGGED d)
{
  std::int64_t n = 0;
  for (; !fd_is_empty(d); d = fd_rest(d)) {
    const std::int32_t b = ord(fd_interval_min(fd_first_interval(d)));
    const std::int32_t e = ord(fd_interval_max(fd_first_interval(d)));
    if (b == FD_ORDER_INF || e == FD_ORDER_SUP)
      return std::int64_t{1} << 40;
    n += e - b + 1;
  }
  return n;
}

/* Whether set d has a value in lo..hi. */
bool meets_interval(TAGGED d, std::int32_t lo, std::int32_t hi)
{
  for (; !fd_is_empty(d); d = fd_rest(d)) {
    const TAGGED iv = fd_first_interval(d);
    if (ord(fd_interval_max(iv)) < lo)
      continue;
    return ord(fd_interval_min(iv)) <= hi;
  }
  return false;
}

/* Whether two sets share a value; a one-value set by membership. */
bool meets(TAGGED d, TAGGED s)
{
  if (fd_singleton(s))
    return fd_member(fd_min(s), d);
  return !fd_is_empty(d) && !fd_is_empty(s) && fd_compare(d, s) != FD_DISJOINT;
}

/* The first map entry whose X interval (Y interval, when by_y) reaches
   lo, or r; the map is ascending in both with bit OPT_ORDERED, in X
   always. */
int first_reaching(const relation_data *d, std::int32_t lo, bool by_y)
{
  int a = 0, b = d->xy_r;
  while (a < b) {
    const int m = a + (b - a) / 2;
    if (ord(by_y ? d->map[m].ymax : d->map[m].max) < lo)
      a = m + 1;
    else
      b = m;
  }
  return a;
}

/* relation_scan_delta: the YSets of the entries that lost their last X
   value among the removed ones (deltax) — the Y values that lost their
   only support when no Y value belongs to two entries. */
TAGGED scan_delta(VREnv *env, worker *w, const relation_data *d, TAGGED deltax, TAGGED dx)
{
  TAGGED unsafe = fd_empty_set;
  int k = 0;
  for (TAGGED s = deltax; !fd_is_empty(s); s = fd_rest(s)) {
    const TAGGED iv = fd_first_interval(s);
    const std::int32_t hi = ord(fd_interval_max(iv));
    const int from = first_reaching(d, ord(fd_interval_min(iv)), false);
    for (k = from > k ? from : k; k < d->xy_r && ord(d->map[k].min) <= hi; k++) {
      const mapentry &e = d->map[k];
      if (!meets_interval(dx, ord(e.min), ord(e.max)))
        unsafe = fd_union(env, w, unsafe, yset(e));
    }
  }
  return unsafe;
}

/* relation_scan_delta_symm (ordered map): the X intervals of the entries
   whose Y interval lost its last value among the removed ones (deltay). */
TAGGED scan_delta_symm(VREnv *env, worker *w, const relation_data *d, TAGGED deltay, TAGGED dy)
{
  FDCONS unsafe;
  fdcons_init(&unsafe);
  int k = 0;
  for (TAGGED s = deltay; !fd_is_empty(s); s = fd_rest(s)) {
    const TAGGED iv = fd_first_interval(s);
    const std::int32_t hi = ord(fd_interval_max(iv));
    const int from = first_reaching(d, ord(fd_interval_min(iv)), true);
    for (k = from > k ? from : k; k < d->xy_r && ord(d->map[k].ymin) <= hi; k++) {
      const mapentry &e = d->map[k];
      if (!meets_interval(dy, ord(e.ymin), ord(e.ymax)))
        fdcons_add_interval(env, &unsafe, w, e.min, e.max);
    }
  }
  return unsafe.head;
}

/* relation_scan_dom (domain mode) and, when ordered, relation_scan_dom_symm:
   the full scan of the entries that meet dx.  With Y unchanged only Y is
   pruned (every X value kept its support in the unchanged Y); otherwise
   an entry supports when its YSet meets dy. */
void scan_dom(VREnv *env, worker *w, const relation_data *d, TAGGED dx, TAGGED dy, bool ychanged, bool ordered,
              TAGGED *unsafex, TAGGED *unsafey)
{
  FDCONS supported;
  fdcons_init(&supported);
  TAGGED uy = dy;
  const std::int32_t dy_hi = ord(fd_max(dy));
  /* In an ordered map the entries whose Y interval lies below dy hold
     nothing of dy. */
  int k = ordered ? first_reaching(d, ord(fd_min(dy)), true) : 0;
  for (TAGGED s = dx; !fd_is_empty(s); s = fd_rest(s)) {
    const TAGGED iv = fd_first_interval(s);
    const std::int32_t hi = ord(fd_interval_max(iv));
    const int from = first_reaching(d, ord(fd_interval_min(iv)), false);
    for (k = from > k ? from : k; k < d->xy_r && ord(d->map[k].min) <= hi; k++) {
      const mapentry &e = d->map[k];
      if (ordered && ord(e.ymin) > dy_hi)
        goto done;
      if (ychanged) {
        if (ordered ? !meets_interval(dy, ord(e.ymin), ord(e.ymax)) : !meets(dy, yset(e)))
          continue;
        fdcons_add_interval(env, &supported, w, e.min, e.max);
      }
      uy = ordered ? fd_subtract_interval(env, w, uy, e.ymin, e.ymax) : fd_subtract(env, w, uy, yset(e));
      if (!ychanged && fd_is_empty(uy))
        goto done;
    }
  }
done:
  *unsafex = ychanged ? fd_subtract(env, w, dx, supported.head) : fd_empty_set;
  *unsafey = uy;
}

/* relation_scan_dom_interval (bounds mode): the entries that meet the
   bounds of dx; an entry supports when its YSet meets the bounds of dy.
   X keeps the supported values, Y the hull of the supported YSets.  (Y is
   taken as changed on every run in bounds mode, see relation_tuple.) */
void scan_dom_interval(VREnv *env, worker *w, const relation_data *d, TAGGED dx, TAGGED dy, TAGGED *unsafex,
                       TAGGED *unsafey)
{
  const std::int32_t lo = ord(fd_min(dx)), hi = ord(fd_max(dx));
  const std::int32_t ylo = ord(fd_min(dy)), yhi = ord(fd_max(dy));
  FDCONS supported;
  fdcons_init(&supported);
  std::int32_t hull_lo = FD_ORDER_SUP, hull_hi = FD_ORDER_INF;
  for (int k = first_reaching(d, lo, false); k < d->xy_r && ord(d->map[k].min) <= hi; k++) {
    const mapentry &e = d->map[k];
    const TAGGED ys = yset(e);
    if (fd_singleton(ys) ? ord(e.ymin) < ylo || ord(e.ymin) > yhi : !meets_interval(ys, ylo, yhi))
      continue;
    fdcons_add_interval(env, &supported, w, e.min, e.max);
    if (ord(e.ymin) < hull_lo)
      hull_lo = ord(e.ymin);
    if (ord(e.ymax) > hull_hi)
      hull_hi = ord(e.ymax);
  }
  *unsafex = fd_subtract(env, w, dx, supported.head);
  if (hull_lo > hull_hi)
    *unsafey = fd_interval(env, w, atom_inf, atom_sup);
  else
    *unsafey = fd_compl_interval(env, w, fd_from_order(hull_lo), fd_from_order(hull_hi));
}

/* Removes unsafe from v's domain dom, or in bounds mode restricts v to the
   bounds of what is left: the pruning result. */
int prune(VREnv *env, worker *w, Dvar v, TAGGED dom, TAGGED unsafe, bool bounds)
{
  if (fd_is_empty(unsafe))
    return 0;
  if (!bounds)
    return dvar_prune_set(env, v, unsafe, w);
  const TAGGED rest = fd_subtract(env, w, dom, unsafe);
  if (fd_is_empty(rest))
    return -1;
  return dvar_fix_interval_t(v, fd_min(rest), fd_max(rest));
}

/* Whether no Y value belongs to the YSets of two map entries (two map
   entries of one relation entry share its YSet). */
bool ysets_disjoint(VREnv *env, worker *w, const relation_data *d)
{
  struct span {
    std::int32_t lo, hi;
  };
  long n = 0;
  for (int k = 0; k < d->xy_r; k++)
    for (TAGGED s = yset(d->map[k]); !fd_is_empty(s); s = fd_rest(s))
      n++;
  if (n < 2)
    return true;
  auto *a = static_cast<span *>(fd_temp_alloc(env, w, static_cast<std::size_t>(n) * sizeof(span)));
  long i = 0;
  for (int k = 0; k < d->xy_r; k++)
    for (TAGGED s = yset(d->map[k]); !fd_is_empty(s); s = fd_rest(s))
      a[i++] = {ord(fd_interval_min(fd_first_interval(s))), ord(fd_interval_max(fd_first_interval(s)))};
  fd_qsort(a, n, [](const span &x, const span &y) { return x.lo < y.lo ? -1 : x.lo > y.lo ? 1 : 0; });
  for (i = 1; i < n; i++)
    if (a[i].lo <= a[i - 1].hi)
      return false;
  return true;
}

/* The block of a new instance, filled from the state in register 0; the
   state's Relation, Opt and Tuples become []. */
relation_data *relation_post(VREnv *env, worker *w, TAGGED handle)
{
  TAGGED s = deref(w->term[0]);
  const long nt = fd_list_length(deref(arg(s, S_TUPLES)));
  long xy_n = 0, xy_r = 0;
  for (TAGGED l = deref(arg(s, S_RELATION)); IsList(l); l = tail(l), xy_n++) {
    const TAGGED e = head(l);
    if (!fd_is_empty(deref(arg(e, 2))))
      for (TAGGED xs = deref(arg(e, 1)); !fd_is_empty(xs); xs = fd_rest(xs))
        xy_r++;
  }
  const std::size_t bytes = sizeof(relation_data) + static_cast<std::size_t>(xy_r) * sizeof(mapentry) +
                            static_cast<std::size_t>(nt) * (sizeof(int) + 2 * sizeof(dvar));
  auto *d = static_cast<relation_data *>(fd_perm_alloc(env, w, bytes, handle));
  d->frame.destructor = &relation_destructor;
  d->frame.daemon = &relation_daemon;
  d->vrenv = env;
  d->stamp = 0;
  d->ntuples = static_cast<int>(nt);
  d->xy_n = static_cast<int>(xy_n);
  d->xy_r = static_cast<int>(xy_r);
  d->map = reinterpret_cast<mapentry *>(d + 1);
  d->next = reinterpret_cast<int *>(d->map + xy_r);
  d->dvbase = reinterpret_cast<dvar *>(d->next + nt);
  const int nrefs = static_cast<int>(REFS_PER_TUPLE * nt + xy_n);
  d->refbase = env->dispatch_API_VOSTREL_H->pVR_alloc_globrefs(nrefs > 0 ? nrefs : 1);

  s = deref(w->term[0]); /* fd_perm_alloc may have collected */
  int j = 0;
  for (TAGGED l = deref(arg(s, S_TUPLES)); IsList(l); l = tail(l), j++) {
    const TAGGED t = head(l);
    const VR_globref r = d->refbase + REFS_PER_TUPLE * j;
    r[R_XATTR].term = arg(t, 2);
    r[R_X].term = deref(arg(t, 1));
    r[R_XMUT].term = arg(t, 3);
    r[R_YATTR].term = arg(t, 5);
    r[R_Y].term = deref(arg(t, 4));
    r[R_YMUT].term = arg(t, 6);
    d->next[j] = j - 1; /* all listed, the last tuple first */
  }
  d->first = d->ntuples - 1;

  int k = 0;
  j = 0;
  for (TAGGED l = deref(arg(s, S_RELATION)); IsList(l); l = tail(l), j++) {
    const TAGGED e = head(l);
    const VR_globref ref = d->refbase + REFS_PER_TUPLE * nt + j;
    const TAGGED ys = deref(arg(e, 2));
    ref->term = ys;
    if (fd_is_empty(ys))
      continue; /* no X value of the entry has a partner */
    for (TAGGED xs = deref(arg(e, 1)); !fd_is_empty(xs); xs = fd_rest(xs)) {
      const TAGGED iv = fd_first_interval(xs);
      d->map[k++] = {fd_interval_min(iv), fd_interval_max(iv), fd_min(ys), fd_max(ys), ref};
    }
  }
  fd_qsort(d->map, d->xy_r, [](const mapentry &a, const mapentry &b) {
    return ord(a.min) < ord(b.min) ? -1 : ord(a.min) > ord(b.min) ? 1 : 0;
  });

  int opt = static_cast<int>(GetSmall(deref(arg(s, S_OPT)))) & (OPT_BOUNDS | OPT_DELTA);
  bool ordered = true;
  for (k = 0; k < d->xy_r && ordered; k++)
    ordered = fd_is_empty(fd_rest(yset(d->map[k]))) && (k == 0 || ord(d->map[k].ymin) > ord(d->map[k - 1].ymax));
  if (ordered)
    opt |= OPT_ORDERED;
  /* The incremental scan of removed X values drops an entry's YSet when
     the entry lost its last X value: wrong when another map entry (even
     another interval of the same XSet) still supports a value of it. */
  if ((opt & OPT_DELTA) && !ordered && !ysets_disjoint(env, w, d))
    opt &= ~OPT_DELTA;
  d->opt = opt;

  TagToSTR(s)[S_RELATION] = atom_nil;
  TagToSTR(s)[S_OPT] = atom_nil;
  TagToSTR(s)[S_TUPLES] = atom_nil;
  TagToSTR(s)[S_OPEN] = deref(arg(s, S_OPEN));
  return d;
}

/* relation_fdset: the variable's current domain, its first list cell and
   first interval copied onto the heap (a domain told in place changes
   those, never the rest), for recording in XMut or YMut.  May collect. */
TAGGED relation_fdset(VREnv *env, worker *w, VR_globref attr_ref)
{
  fd_heap_room(env, w, 4, 3);
  const TAGGED set = deref(arg(fd_attribute_dom(deref(attr_ref->term)), FD_DOM_SET));
  const TAGGED iv = fd_first_interval(set);
  TAGGED *h = w->global_top;
  h[0] = MakeLST(h + 2);
  h[1] = fd_rest(set);
  h[2] = deref(fd_interval_min(iv));
  h[3] = deref(fd_interval_max(iv));
  w->global_top = h + 4;
  return MakeLST(h);
}

void record(VREnv *env, worker *w, VR_globref attr_ref, VR_globref mut)
{
  const TAGGED set = relation_fdset(env, w, attr_ref);
  fd_update_mutable(env, w, set, deref(mut->term));
  fd_trail_room(env, w);
}

void unlist_all(relation_data *d)
{
  for (int j = d->first; j >= 0;) {
    const int n = d->next[j];
    d->next[j] = UNLISTED;
    j = n;
  }
  d->first = -1;
}

/* Prunes tuple j; -1 on failure, else 1 when the tuple became decided. */
int relation_tuple(VREnv *env, worker *w, relation_data *d, int j, bool posting)
{
  const VR_globref r = d->refbase + REFS_PER_TUPLE * j;
  dvar *x = &d->dvbase[2 * j], *y = x + 1;
  dvar_init(x, r + R_XATTR, r + R_X);
  dvar_init(y, r + R_YATTR, r + R_Y);
  const TAGGED dx = dvar_set(env, x, w), dy = dvar_set(env, y, w);
  const TAGGED xm = recorded(r + R_XMUT), ym = recorded(r + R_YMUT);
  /* A tuple recorded as decided was counted off Open already. */
  const bool counted = !posting && (fd_singleton(xm) || fd_singleton(ym));
  const TAGGED deltax = fd_subtract(env, w, xm, dx), deltay = fd_subtract(env, w, ym, dy);
  /* The posting run must see Y as changed: its full scan removes the X
     values that have no partner, whatever the recorded domains say.  So
     must every run in bounds mode: X keeps the unsupported values between
     its bounds, and a change of X alone can make one of them a bound (or
     X's value), which only a scan of X finds. */
  const bool bounds = d->opt & OPT_BOUNDS;
  const bool ychanged = posting || bounds || !fd_is_empty(deltay);
  const std::int64_t nx = count_values(dx);
  TAGGED unsafex = fd_empty_set, unsafey = fd_empty_set;
  if ((d->opt & OPT_ORDERED) && !posting && !bounds && count_values(deltax) + count_values(deltay) < nx) {
    unsafey = scan_delta(env, w, d, deltax, dx);
    if (ychanged)
      unsafex = scan_delta_symm(env, w, d, deltay, dy);
  } else if (d->opt & OPT_ORDERED) {
    scan_dom(env, w, d, dx, dy, ychanged, true, &unsafex, &unsafey);
  } else if ((d->opt & OPT_DELTA) && !ychanged && count_values(deltax) < nx) {
    unsafey = scan_delta(env, w, d, deltax, dx);
  } else if (d->opt & OPT_BOUNDS) {
    scan_dom_interval(env, w, d, dx, dy, &unsafex, &unsafey);
  } else {
    scan_dom(env, w, d, dx, dy, ychanged, false, &unsafex, &unsafey);
  }
  if (prune(env, w, x, dx, unsafex, bounds) < 0 || prune(env, w, y, dy, unsafey, bounds) < 0)
    return -1;
  /* A tuple with X or Y fixed is decided and never looked at again, so in
     bounds mode the other variable must lose its unsupported inner values
     now: one full domain scan. */
  if (bounds && ((x->flags | y->flags) & DV_FIXED)) {
    const TAGGED dx1 = dvar_set(env, x, w), dy1 = dvar_set(env, y, w);
    scan_dom(env, w, d, dx1, dy1, true, d->opt & OPT_ORDERED, &unsafex, &unsafey);
    if (prune(env, w, x, dx1, unsafex, false) < 0 || prune(env, w, y, dy1, unsafey, false) < 0)
      return -1;
  }
  dvar_pruning_settle(env, w, x);
  dvar_pruning_settle(env, w, y);
  return !counted && ((x->flags | y->flags) & DV_FIXED) ? 1 : 0;
}

} // namespace

void prolog_fd_relation_vrenv_multi_vr(VREnv *env, VR_term_ref, VR_term_ref new_state, VR_term_ref actions)
{
  TAGGED handle;
  long stamp;
  int committed;
  worker *w = fd_run_begin(env, new_state, &handle, &stamp, &committed);
  const bool posting = IsVar(handle);
  auto *d = posting ? relation_post(env, w, handle) : static_cast<relation_data *>(fd_perm_data(handle));
  fd_state_of(env)->gdata = d;
  long open = GetSmall(deref(arg(deref(w->term[0]), S_OPEN)));
  for (int j = d->first; j >= 0; j = d->next[j]) {
    const int r = relation_tuple(env, w, d, j, posting);
    if (r < 0) {
      unlist_all(d);
      dvar_export_done(env, w, actions, -1);
      return;
    }
    open -= r;
  }
  for (int j = d->first; j >= 0; j = d->next[j]) {
    const VR_globref r = d->refbase + REFS_PER_TUPLE * j;
    dvar_export_changed(env, w, &d->dvbase[2 * j]);
    record(env, w, r + R_XATTR, r + R_XMUT);
    dvar_export_changed(env, w, &d->dvbase[2 * j + 1]);
    record(env, w, r + R_YATTR, r + R_YMUT);
  }
  unlist_all(d);
  d->stamp = stamp + 1; /* the new state's */
  TagToSTR(deref(w->term[0]))[S_OPEN] = MakeSmall_checked(open);
  if (posting && open > 0) {
    const TAGGED dom = fd_state_of(env)->functor_dom;
    for (int j = 0; j < d->ntuples; j++) {
      const VR_globref r = d->refbase + REFS_PER_TUPLE * j;
      dvar *x = &d->dvbase[2 * j], *y = x + 1;
      dvar_init(x, r + R_XATTR, r + R_X);
      dvar_init(y, r + R_YATTR, r + R_Y);
      if ((x->flags | y->flags) & DV_FIXED)
        continue;
      dvar_attach_daemon(env, w, x, d, w->term[1], dom);
      dvar_attach_daemon(env, w, y, d, w->term[1], dom);
    }
  }
  const int code = open <= 0 ? 1 : 0;
  if (code == 1)
    fd_perm_free(env, w);
  dvar_export_done(env, w, actions, code);
}

void relation_daemon(VREnv *env, worker *w, void *block, VR_globref attr_ref, TAGGED global)
{
  auto *d = static_cast<relation_data *>(block);
  const long j = (attr_ref - d->refbase) / REFS_PER_TUPLE;
  if (j < 0 || j >= d->ntuples)
    return;
  const VR_globref r = d->refbase + REFS_PER_TUPLE * j;
  if (fd_singleton(recorded(r + R_XMUT)) || fd_singleton(recorded(r + R_YMUT)))
    return; /* decided */
  const TAGGED s = deref(fd_mutable_value(deref(arg(global, 1))));
  const long stamp = GetSmall(deref(arg(s, static_cast<int>(Arity(*TagToSTR(s))))));
  if (stamp != d->stamp) {
    /* The engine backtracked since the list was made. */
    unlist_all(d);
    d->stamp = stamp;
  }
  if (d->first < 0) {
    fd_daemon_copy_state(env, w, &global);
    d->stamp++;
    fd_enqueue_global(env, w, global, 7);
  }
  if (d->next[j] == UNLISTED) {
    d->next[j] = d->first;
    d->first = static_cast<int>(j);
  }
}
