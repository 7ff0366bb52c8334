/* case.cpp: the table constraint case/4 over a layered decision graph
 * (see case.h).
 *
 * A run evaluates each listed row against the graph: eval_dag walks from
 * the root, following at each node the children whose intervals meet the
 * node's column domain, and records in the column's prune set which values
 * lie on no accepting path; those are then removed (or the bounds moved,
 * per the column's Prune code).  Rows are listed by the daemons of their
 * variables, so a run visits only rows that changed.
 *
 * Memos, per row and node: a date mark, odd for true and even for false.
 * A true mark stays valid while no column at or after the node's column
 * changed (latest_date of that column, reset by the daemon), because the
 * node's subgraph reads only those columns; it is trusted only where no
 * more support is needed (columns from prune_set_end on).  False nodes
 * are members of the row's sparse set, whose cardinality lives in a
 * trailed mutable, so backtracking forgets the nodes found false below a
 * choicepoint; a false mark equal to false_date is a shortcut valid until
 * the daemon sees the state's stamp go back, which advances both dates.
 *
 * The count of rows not yet fixed lives in a trailed mutable too (the
 * state term is not copied between runs, so a count written into it would
 * survive backtracking and end the constraint too early).
 *
 * Global references: per row and column the attribute and the variable,
 * then per row its done variable (bound to [] once the row is fixed and
 * accepted), then per row its false-set cardinality mutable, then the
 * open-rows mutable.  Nothing on the heap is read from the block: the
 * caches are refilled from the references, and every run reads the row's
 * domains before its first write-back of that row.
 */
#include "case.h"

#include <cstdint>

#include "dvar.h"
#include "fd_attribute.h"
#include "fd_errors.h"
#include "globals.h"
#include "propagation.h"

namespace {

constexpr int LIVE = 3; /* registers 0..2: state, item, Actions accumulator */
constexpr unsigned NEVER = 0xFFFFFFFFu;

/* Prune and On codes, in the order of their atoms. */
enum : int { CODE_DOM = 0, CODE_MINMAX = 1, CODE_MIN = 2, CODE_MAX = 3, CODE_VAL = 4, CODE_NONE = 5 };

inline TAGGED arg(TAGGED t, int i) { return TagToSTR(t)[i]; }
inline TAGGED &slot(worker *w, VR_term_ref r) { return w->fli_stack_start[r].term; }
inline std::int32_t ord(TAGGED t) { return fd_order(t); }
inline int arity_of(TAGGED t) { return static_cast<int>(Arity(*TagToSTR(t))); }

struct dag_node {
  int id;
  int var_index;
  int child_index;
  int child_end;
};

struct child {
  TAGGED min;
  TAGGED max;
  int node_index; /* -1: accepting leaf */
};

struct case_data {
  daemon_frame frame;
  VREnv *vrenv;
  VR_globref refbase;
  long stamp;
  int first;
  int *next; /* per row: -1 end of list, -2 not listed */
  int nrefs;
  int nrows;
  int nvars;
  int nnodes;
  int prune_set_end;
  unsigned false_date; /* even */
  unsigned true_date;  /* odd */
  dvar *dv;            /* per column, reused for each row */
  TAGGED *prune_set;   /* per column */
  TAGGED *cache_set;   /* per column */
  int *control;        /* per column: Prune code */
  int *on;             /* per column: On code */
  unsigned *latest_date; /* per row and column */
  long *latest_size;     /* per row and column; -1 never matches */
  unsigned *date;        /* per row and node */
  int *dense;            /* per row and node */
  int *sparse;           /* per row and node; -1 never added */
  dag_node *node;
  child *child_;
  /* The row being evaluated. */
  unsigned *daterow;
  int *denserow;
  int *sparserow;
  long cardinality;
};

inline VR_globref attr_ref_of(const case_data *d, int row, int col) { return d->refbase + 2 * (row * d->nvars + col); }
inline VR_globref done_ref(const case_data *d, int row) { return d->refbase + 2 * d->nvars * d->nrows + row; }
inline VR_globref card_ref(const case_data *d, int row)
{
  return d->refbase + 2 * d->nvars * d->nrows + d->nrows + row;
}
inline VR_globref open_ref(const case_data *d) { return d->refbase + 2 * d->nvars * d->nrows + 2 * d->nrows; }

void case_destructor(void *block)
{
  auto *d = static_cast<case_data *>(block);
  d->vrenv->dispatch_API_VOSTREL_H->pVR_free_globrefs(d->refbase);
  d->vrenv->dispatch_API_VOSTREL_H->pVR_free(d);
}

/* The code of an On or Prune atom: its name is that of one of the
   suspension-list functors. */
int code_of(const fd_state *fd, TAGGED a)
{
  if (!IsAtom(a))
    return CODE_NONE;
  const TAGGED f = MakeFunctor(a, 1);
  const TAGGED by_code[] = {fd->functor_dom, fd->functor_minmax, fd->functor_min, fd->functor_max, fd->functor_val};
  for (int i = 0; i < 5; i++)
    if (f == by_code[i])
      return i;
  return CODE_NONE;
}

/* The size a daemon compares with: the number of values, or -1 (never
   equal to a stored size) for an infinite domain. */
long size_key(Dvar dv)
{
  if (!IsSmall(dv->min) || !IsSmall(dv->max))
    return -1;
  return dvar_value_count(dv);
}

inline bool is_list_of(TAGGED l, long n)
{
  for (long i = 0; i < n; i++, l = deref(TagToLST(l)[1]))
    if (!IsList(l))
      return false;
  return l == atom_nil;
}

inline bool is_bound(TAGGED t) { return IsSmall(t) || t == atom_inf || t == atom_sup; }

/* Whether the description is one the propagator can run safely: counts
   that match the lists, rows of X-Attribute pairs, nodes by index with
   ascending disjoint children, every successor on the next column and
   every leaf on the last.  The library's wrappers build only such ones;
   this guards direct posting through fd_global/3. */
bool description_ok(TAGGED desc)
{
  if (!IsStructure(desc) || arity_of(desc) != 7)
    return false;
  const TAGGED nv = deref(arg(desc, 1)), nn = deref(arg(desc, 2)), nc = deref(arg(desc, 3));
  if (!IsSmall(nv) || !IsSmall(nn) || !IsSmall(nc))
    return false;
  const long nvars = GetSmall(nv), nnodes = GetSmall(nn), nchildren = GetSmall(nc);
  if (nvars <= 0 || nnodes <= 0 || nchildren < 0 || nvars > 0x10000 || nnodes > 0x1000000 || nchildren > 0x1000000)
    return false;
  TAGGED rows = deref(arg(desc, 4));
  long nrows = 0;
  for (; IsList(rows); rows = deref(TagToLST(rows)[1]), nrows++) {
    TAGGED row = deref(TagToLST(rows)[0]);
    if (!is_list_of(row, nvars))
      return false;
    for (; IsList(row); row = deref(TagToLST(row)[1])) {
      const TAGGED p = deref(TagToLST(row)[0]);
      if (!IsStructure(p) || arity_of(p) != 2 || !IsStructure(deref(arg(p, 2))))
        return false;
    }
  }
  if (rows != atom_nil || nrows == 0 || nrows > 0x100000)
    return false;
  if (!is_list_of(deref(arg(desc, 5)), nnodes) || !is_list_of(deref(arg(desc, 6)), nvars) ||
      !is_list_of(deref(arg(desc, 7)), nvars))
    return false;
  long total = 0;
  long k = 0;
  /* Column of each node, checked against its parents' in a second pass. */
  for (TAGGED l = deref(arg(desc, 5)); IsList(l); l = deref(TagToLST(l)[1]), k++) {
    const TAGGED n = deref(TagToLST(l)[0]);
    if (!IsStructure(n) || arity_of(n) != 4)
      return false;
    const TAGGED col = deref(arg(n, 2));
    if (!IsSmall(col) || GetSmall(col) < 0 || GetSmall(col) >= nvars)
      return false;
    if (k == 0 && GetSmall(col) != 0)
      return false;
    std::int32_t prev = FD_ORDER_INF - 1;
    TAGGED cs = deref(arg(n, 4));
    for (; IsList(cs); cs = deref(TagToLST(cs)[1]), total++) {
      const TAGGED c = deref(TagToLST(cs)[0]);
      if (!IsStructure(c) || arity_of(c) != 2)
        return false;
      const TAGGED iv = deref(arg(c, 1));
      if (!IsStructure(iv) || arity_of(iv) != 2)
        return false;
      const TAGGED lo = deref(arg(iv, 1)), hi = deref(arg(iv, 2));
      if (!is_bound(lo) || !is_bound(hi) || lo == atom_sup || hi == atom_inf || ord(lo) > ord(hi) || ord(lo) <= prev)
        return false;
      prev = ord(hi);
      const TAGGED succ = deref(arg(c, 2));
      if (IsSmall(succ) ? GetSmall(succ) < 0 || GetSmall(succ) >= nnodes : GetSmall(col) != nvars - 1)
        return false;
    }
    if (cs != atom_nil)
      return false;
  }
  if (total != nchildren)
    return false;
  /* Successors lie on the next column (nodes are reached by index, so
     look each one up). */
  TAGGED nodes = deref(arg(desc, 5));
  for (TAGGED l = nodes; IsList(l); l = deref(TagToLST(l)[1])) {
    const TAGGED n = deref(TagToLST(l)[0]);
    const long col = GetSmall(deref(arg(n, 2)));
    for (TAGGED cs = deref(arg(n, 4)); IsList(cs); cs = deref(TagToLST(cs)[1])) {
      const TAGGED succ = deref(arg(deref(TagToLST(cs)[0]), 2));
      if (!IsSmall(succ))
        continue;
      if (col == nvars - 1)
        return false;
      TAGGED m = nodes;
      for (long i = GetSmall(succ); i > 0; i--)
        m = deref(TagToLST(m)[1]);
      if (GetSmall(deref(arg(deref(TagToLST(m)[0]), 2))) != col + 1)
        return false;
    }
  }
  return true;
}

/* Byte offsets of the block's arrays, in the order they are laid out. */
struct layout {
  std::size_t bytes = sizeof(case_data);
  template <typename T> std::size_t take(long n)
  {
    const std::size_t at = bytes;
    bytes += static_cast<std::size_t>(n) * sizeof(T);
    return at;
  }
};

/* The block of a new instance, filled from the description in register
   0's state; the daemons attached, the heap cells made, Description
   replaced by []. */
case_data *case_post(VREnv *env, worker *w, TAGGED handle, TAGGED desc)
{
  const int nvars = static_cast<int>(GetSmall(deref(arg(desc, 1))));
  const int nnodes = static_cast<int>(GetSmall(deref(arg(desc, 2))));
  const int nchildren = static_cast<int>(GetSmall(deref(arg(desc, 3))));
  const int nrows = static_cast<int>(fd_list_length(deref(arg(desc, 4))));
  const long rc = static_cast<long>(nrows) * nvars, rn = static_cast<long>(nrows) * nnodes;
  layout lay;
  const std::size_t o_next = lay.take<int>(nrows), o_dv = lay.take<dvar>(nvars),
                    o_prune = lay.take<TAGGED>(nvars), o_cache = lay.take<TAGGED>(nvars),
                    o_control = lay.take<int>(nvars), o_on = lay.take<int>(nvars),
                    o_ldate = lay.take<unsigned>(rc), o_lsize = lay.take<long>(rc), o_date = lay.take<unsigned>(rn),
                    o_dense = lay.take<int>(rn), o_sparse = lay.take<int>(rn), o_node = lay.take<dag_node>(nnodes),
                    o_child = lay.take<child>(nchildren);
  auto *d = static_cast<case_data *>(fd_perm_alloc(env, w, lay.bytes, handle));
  if (d == nullptr)
    return nullptr;
  desc = deref(arg(deref(w->term[0]), 1)); /* the allocation may have moved it */
  char *base = reinterpret_cast<char *>(d);
  d->frame.destructor = &case_destructor;
  d->frame.daemon = &case_daemon;
  d->vrenv = env;
  d->nrows = nrows;
  d->nvars = nvars;
  d->nnodes = nnodes;
  d->nrefs = static_cast<int>(2 * rc + 2 * nrows + 1);
  d->next = reinterpret_cast<int *>(base + o_next);
  d->dv = reinterpret_cast<dvar *>(base + o_dv);
  d->prune_set = reinterpret_cast<TAGGED *>(base + o_prune);
  d->cache_set = reinterpret_cast<TAGGED *>(base + o_cache);
  d->control = reinterpret_cast<int *>(base + o_control);
  d->on = reinterpret_cast<int *>(base + o_on);
  d->latest_date = reinterpret_cast<unsigned *>(base + o_ldate);
  d->latest_size = reinterpret_cast<long *>(base + o_lsize);
  d->date = reinterpret_cast<unsigned *>(base + o_date);
  d->dense = reinterpret_cast<int *>(base + o_dense);
  d->sparse = reinterpret_cast<int *>(base + o_sparse);
  d->node = reinterpret_cast<dag_node *>(base + o_node);
  d->child_ = reinterpret_cast<child *>(base + o_child);
  d->false_date = 0;
  d->true_date = 1;
  d->stamp = 0;
  d->refbase = env->dispatch_API_VOSTREL_H->pVR_alloc_globrefs(d->nrefs);

  /* Rows are processed from the last to the first. */
  d->first = nrows - 1;
  for (int r = 0; r < nrows; r++)
    d->next[r] = r - 1;

  TAGGED rows = deref(arg(desc, 4));
  for (int r = 0; r < nrows; r++, rows = deref(TagToLST(rows)[1])) {
    TAGGED row = deref(TagToLST(rows)[0]);
    for (int c = 0; c < nvars; c++, row = deref(TagToLST(row)[1]))
      fd_get_var_and_attr(deref(TagToLST(row)[0]), attr_ref_of(d, r, c));
  }
  TAGGED nodes = deref(arg(desc, 5));
  int ci = 0;
  for (int k = 0; k < nnodes; k++, nodes = deref(TagToLST(nodes)[1])) {
    const TAGGED n = deref(TagToLST(nodes)[0]);
    dag_node *dn = &d->node[k];
    dn->id = k;
    dn->var_index = static_cast<int>(GetSmall(deref(arg(n, 2))));
    dn->child_index = ci;
    for (TAGGED cs = deref(arg(n, 4)); IsList(cs); cs = deref(TagToLST(cs)[1]), ci++) {
      const TAGGED c = deref(TagToLST(cs)[0]);
      const TAGGED iv = deref(arg(c, 1));
      const TAGGED succ = deref(arg(c, 2));
      d->child_[ci].min = deref(arg(iv, 1));
      d->child_[ci].max = deref(arg(iv, 2));
      d->child_[ci].node_index = IsSmall(succ) ? static_cast<int>(GetSmall(succ)) : -1;
    }
    dn->child_end = ci;
  }
  for (long i = 0; i < rn; i++) {
    d->date[i] = static_cast<unsigned>(-2);
    d->sparse[i] = -1;
  }
  TAGGED on = deref(arg(desc, 6)), prune = deref(arg(desc, 7));
  for (int c = 0; c < nvars; c++, on = deref(TagToLST(on)[1]), prune = deref(TagToLST(prune)[1])) {
    d->on[c] = code_of(fd_state_of(env), deref(TagToLST(on)[0]));
    d->control[c] = code_of(fd_state_of(env), deref(TagToLST(prune)[0]));
  }

  /* From here on the heap may move: nothing above is read again. */
  fd_state *fd = fd_state_of(env);
  const TAGGED list_functor[] = {fd->functor_dom, fd->functor_minmax, fd->functor_min, fd->functor_max, atom_nil};
  for (int r = 0; r < nrows; r++)
    for (int c = 0; c < nvars; c++) {
      dvar *dv = &d->dv[c];
      dvar_init(dv, attr_ref_of(d, r, c), attr_ref_of(d, r, c) + 1);
      d->latest_date[r * nvars + c] = NEVER;
      d->latest_size[r * nvars + c] = size_key(dv);
      if (d->on[c] != CODE_NONE)
        dvar_attach_daemon(env, w, dv, d, w->term[1], list_functor[d->on[c]]);
    }

  fd_heap_room(env, w, 4L * nrows + 3 + 128, LIVE);
  TAGGED *h = w->global_top;
  for (int r = 0; r < nrows; r++, h += 4) {
    h[0] = PointerToTerm(h);
    done_ref(d, r)->term = h[0];
    h[1] = functor_Dmutable;
    h[2] = MakeSmall_checked(0);
    h[3] = MakeSmall_checked(0);
    card_ref(d, r)->term = MakeSTR(h + 1);
  }
  h[0] = functor_Dmutable;
  h[1] = MakeSmall_checked(nrows);
  h[2] = MakeSmall_checked(0);
  open_ref(d)->term = MakeSTR(h);
  w->global_top = h + 3;

  TagToSTR(deref(w->term[0]))[1] = atom_nil;
  return d;
}

/* ---- Evaluation of one row ---- */

inline bool in_false_set(const case_data *d, int k)
{
  const int at = d->sparserow[k];
  return at >= 0 && at < d->cardinality && d->denserow[at] == k;
}

inline void false_add(case_data *d, int k)
{
  d->denserow[d->cardinality] = k;
  d->sparserow[k] = static_cast<int>(d->cardinality);
  d->cardinality++;
  d->daterow[k] = d->false_date;
}

/* 1 when node k lies on an accepting path within the current domains of
   the row being evaluated (the values of its column on such paths taken
   out of that column's prune set), else 0.  latest_date: the row's. */
int eval_dag(VREnv *env, worker *w, int k, case_data *d, const unsigned *latest_date)
{
  const dag_node *n = &d->node[k];
  const int col = n->var_index;
  const unsigned mark = d->daterow[k];
  if (mark & 1) {
    if (mark == d->true_date)
      return 1;
    if (col >= d->prune_set_end && mark >= latest_date[col]) {
      d->daterow[k] = d->true_date;
      return 1;
    }
  } else {
    if (mark == d->false_date)
      return 0;
    if (in_false_set(d, k)) {
      d->daterow[k] = d->false_date;
      return 0;
    }
  }

  dvar *dv = &d->dv[col];
  const std::int32_t lo = ord(dv->min), hi = ord(dv->max);
  int c = n->child_index;
  const int end = n->child_end;
  if (c < end && ord(d->child_[c].min) != lo) {
    /* The first child whose max reaches lo. */
    int a = c, b = end;
    while (a < b) {
      const int m = a + (b - a) / 2;
      if (ord(d->child_[m].max) < lo)
        a = m + 1;
      else
        b = m;
    }
    c = a;
  }
  const bool one_interval = (dv->flags & DV_INTERVAL) != 0;
  bool succeeded = false;
  for (; c < end && ord(d->child_[c].min) <= hi; c++) {
    if (succeeded && col >= d->prune_set_end)
      break;
    const child *ch = &d->child_[c];
    bool viable = one_interval;
    if (!viable)
      viable = ch->min == ch->max ? fd_member(ch->min, d->cache_set[col])
                                  : fd_compare_interval(d->cache_set[col], ch->min, ch->max) != FD_DISJOINT;
    if (!viable || (ch->node_index >= 0 && !eval_dag(env, w, ch->node_index, d, latest_date)))
      continue;
    succeeded = true;
    d->prune_set[col] = fd_subtract_interval(env, w, d->prune_set[col], ch->min, ch->max);
    if (d->prune_set_end == col + 1)
      while (d->prune_set_end > 0 && (fd_is_empty(d->prune_set[d->prune_set_end - 1]) ||
                                      (d->dv[d->prune_set_end - 1].flags & DV_FIXED)))
        d->prune_set_end--;
  }
  if (succeeded) {
    d->daterow[k] = d->true_date;
    return 1;
  }
  false_add(d, k);
  return 0;
}

/* Prunes column c of the row by its Prune code: <0 on an empty domain. */
int prune_column(VREnv *env, worker *w, case_data *d, int c)
{
  dvar *dv = &d->dv[c];
  const int code = d->control[c];
  if (code == CODE_NONE)
    return 0;
  if (code == CODE_DOM)
    return dvar_prune_set(env, dv, d->prune_set[c], w);
  const TAGGED supported = fd_subtract(env, w, d->cache_set[c], d->prune_set[c]);
  if (fd_is_empty(supported))
    return -1;
  switch (code) {
  case CODE_MINMAX:
    return dvar_fix_interval_t(dv, fd_min(supported), fd_max(supported));
  case CODE_MIN:
    return dvar_fix_interval_t(dv, fd_min(supported), atom_sup);
  case CODE_MAX:
    return dvar_fix_interval_t(dv, atom_inf, fd_max(supported));
  default: /* CODE_VAL */
    return fd_singleton(supported) ? dvar_fix_interval_t(dv, fd_min(supported), fd_min(supported)) : 0;
  }
}

int count_open(const case_data *d)
{
  int open = 0;
  for (int c = 0; c < d->nvars; c++)
    if (!(d->dv[c].flags & DV_FIXED))
      open++;
  return open;
}

/* One run over the listed rows; the entailment code. */
int case_run(VREnv *env, worker *w, case_data *d)
{
  d->true_date += 2;
  const int nvars = d->nvars;
  int code = 0;
  for (int r = d->first; r >= 0;) {
    for (int c = 0; c < nvars; c++) {
      dvar *dv = &d->dv[c];
      dvar_init(dv, attr_ref_of(d, r, c), attr_ref_of(d, r, c) + 1);
      d->cache_set[c] = d->prune_set[c] = dvar_set(env, dv, w);
    }
    d->prune_set_end = nvars;
    const TAGGED card_mutable = deref(card_ref(d, r)->term);
    const long card0 = GetSmall(deref(fd_mutable_value(card_mutable)));
    d->cardinality = card0;
    d->daterow = d->date + r * d->nnodes;
    d->denserow = d->dense + r * d->nnodes;
    d->sparserow = d->sparse + r * d->nnodes;
    unsigned *latest_date = d->latest_date + r * nvars;
    if (!eval_dag(env, w, 0, d, latest_date)) {
      code = -1;
      break;
    }
    if (d->cardinality != card0)
      fd_update_mutable(env, w, MakeSmall_checked(d->cardinality), card_mutable);
    for (int c = 0; c < d->prune_set_end; c++) {
      if (fd_is_empty(d->prune_set[c]))
        continue;
      if (prune_column(env, w, d, c) < 0) {
        code = -1;
        break;
      }
      dvar_pruning_done(env, w, &d->dv[c]);
    }
    if (code < 0)
      break;
    long *latest_size = d->latest_size + r * nvars;
    for (int c = 0; c < nvars; c++) {
      latest_date[c] = d->true_date;
      latest_size[c] = size_key(&d->dv[c]);
      dvar_pruning_settle(env, w, &d->dv[c]);
    }
    const TAGGED done = deref(done_ref(d, r)->term);
    if (count_open(d) == 0 && IsVar(done)) {
      fd_bind(env, w, done, atom_nil);
      const TAGGED open_mutable = deref(open_ref(d)->term);
      const long open = GetSmall(deref(fd_mutable_value(open_mutable)));
      fd_update_mutable(env, w, MakeSmall_checked(open - 1), open_mutable);
    }
    for (int c = 0; c < nvars; c++)
      dvar_export_changed(env, w, &d->dv[c]);
    const int following = d->next[r];
    d->next[r] = -2;
    r = following;
  }
  if (code < 0)
    return -1;
  d->first = -1;
  return GetSmall(deref(fd_mutable_value(deref(open_ref(d)->term)))) == 0 ? 1 : 0;
}

} // namespace

void prolog_fd_case_vrenv_multi_vr(VREnv *env, VR_term_ref, VR_term_ref new_state, VR_term_ref actions)
{
  worker *w = fd_global_run_start(env);
  TAGGED handle;
  int committed;
  const TAGGED s = fd_static_output_state(w, &handle, &committed);
  slot(w, new_state) = s;
  case_data *d;
  if (IsVar(handle)) {
    const TAGGED desc = deref(arg(s, 1));
    if (!description_ok(desc)) {
      fd_raise_domain_error(env, "case_description", desc, "case", 4);
      return;
    }
    d = case_post(env, w, handle, desc);
    if (d == nullptr)
      return;
  } else {
    d = static_cast<case_data *>(fd_perm_data(handle));
  }
  fd_state_of(env)->gdata = d;
  const int code = case_run(env, w, d);
  if (code == 1)
    fd_perm_free(env, w);
  dvar_export_done(env, w, actions, code);
}

void case_daemon(VREnv *env, worker *w, void *vdata, VR_globref attr_ref, TAGGED global)
{
  auto *d = static_cast<case_data *>(vdata);
  const long pos = attr_ref - d->refbase;
  const int r = static_cast<int>(pos / (2 * d->nvars));
  const int c = static_cast<int>(pos % (2 * d->nvars) / 2);
  if (!IsVar(deref(done_ref(d, r)->term)))
    return;
  dvar *dv = &d->dv[c];
  dvar_init(dv, attr_ref, attr_ref + 1);
  unsigned *latest_date = d->latest_date + r * d->nvars;
  const TAGGED state = deref(fd_mutable_value(deref(arg(global, 1))));
  const long stamp = GetSmall(deref(arg(state, arity_of(state))));
  if (stamp == d->stamp) {
    if (latest_date[c] == d->true_date && d->latest_size[r * d->nvars + c] == size_key(dv))
      return;
  } else {
    /* The search came back: marks of the abandoned branch are not to be
       trusted by their dates. */
    for (int q = d->first; q >= 0;) {
      const int following = d->next[q];
      d->next[q] = -2;
      q = following;
    }
    d->false_date += 2;
    d->true_date += 2;
    d->first = -1;
    d->stamp = stamp;
  }
  for (int i = c; i >= 0 && latest_date[i] != NEVER; i--)
    latest_date[i] = NEVER;
  if (d->first == -1) {
    fd_daemon_copy_state(env, w, &global);
    d->stamp++;
    const int on = d->on[c];
    fd_enqueue_global(env, w, global, on == CODE_DOM || on == CODE_NONE ? 7 : on == CODE_VAL ? 3 : 5);
  }
  if (d->next[r] == -2) {
    d->next[r] = d->first;
    d->first = r;
  }
}
