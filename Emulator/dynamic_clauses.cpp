/* dynamic_clauses.cpp: clause chains of dynamic predicates, the logical
 * update view, erasing and reclaiming clauses, database references, clause
 * selection for calls and their redo, and the built-ins on them (see
 * dynamic_clauses.h for the model and its invariants).
 *
 * Two places go beyond the plain scheme of one earliest view per
 * predicate, for the same reason: a clause is freed as soon as no open
 * view can see it, and never while one can.
 *   - Slow reclamation frees every queued clause that is invisible to all
 *     open views of its predicate (no view t with birth <= t < death), not
 *     only those erased before the oldest view: a loop that asserts and
 *     retracts under an open enumeration of the same predicate would
 *     otherwise keep every clause it made.  Positions saved in a
 *     choicepoint are always visible at its view, and unlinking a clause
 *     keeps the lists walkable, so this frees nothing a redo can reach.
 *   - $purge/1 frees at once only a clause that no enumeration
 *     choicepoint is positioned on; one that a choicepoint holds is erased
 *     and queued instead, so a redo never reads freed memory.
 *
 * Callers: see dynamic_clauses.h.  Engine thread only.
 */
#include "dynamic_clauses.h"

#include <algorithm>
#include <cassert>
#include <utility>
#include <vector>

#include "atoms.h"
#include "datadefs.h"
#include "errors.h"
#include "globref.h"
#include "indexing.h"
#include "initial_atoms.h"
#include "memman.h"
#include "modules.h"
#include "preds.h"
#include "source_positions.h"
#include "stack_growth.h"
#include "stack_walk.h"
#include "sw_on_key.h"
#include "terms.h"
#include "timing.h"
#include "unify.h"
#include "wam.h"
#include "wamsup.h"
#include "worker.h"

namespace {

/* ---- Links ---- */

inline instance *end_link(instance *first)
{
  return reinterpret_cast<instance *>(reinterpret_cast<std::uintptr_t>(first) | 1);
}
inline bool is_end(const instance *link) { return (reinterpret_cast<std::uintptr_t>(link) & 1) != 0; }
inline instance *untagged(instance *link)
{
  return reinterpret_cast<instance *>(reinterpret_cast<std::uintptr_t>(link) & ~static_cast<std::uintptr_t>(1));
}

/* Which pair of links a list runs through. */
struct links {
  instance *instance::*fwd;
  instance *instance::*bwd;
};
constexpr links CLAUSE_LIST{&instance::forward, &instance::backward};
constexpr links KEY_CHAIN{&instance::next_forward, &instance::next_backward};

void link_last(instance **root, instance *n, links l)
{
  instance *first = *root;
  if (first == nullptr) {
    n->*l.fwd = end_link(n);
    n->*l.bwd = n;
    *root = n;
    return;
  }
  instance *last = first->*l.bwd;
  last->*l.fwd = n;
  n->*l.fwd = end_link(first);
  n->*l.bwd = last;
  first->*l.bwd = n;
}

void link_first(instance **root, instance *n, links l)
{
  instance *first = *root;
  if (first == nullptr) {
    link_last(root, n, l);
    return;
  }
  instance *last = first->*l.bwd;
  last->*l.fwd = end_link(n);
  n->*l.fwd = first;
  n->*l.bwd = last;
  first->*l.bwd = n;
  *root = n;
}

/* Unlinks i; root, when known, follows when i was first.  Whether i is
   first is read from the links themselves (its predecessor, the last,
   points at it with the end bit), so detached lists unlink alike. */
void unlink(instance **root, instance *i, links l)
{
  instance *prev = i->*l.bwd;
  instance *raw = i->*l.fwd;
  if (prev == i) {
    if (root != nullptr)
      *root = nullptr;
    return;
  }
  instance *next = untagged(raw);
  if (prev->*l.fwd == end_link(i)) {
    prev->*l.fwd = end_link(next);
    next->*l.bwd = prev;
    if (root != nullptr)
      *root = next;
  } else {
    prev->*l.fwd = raw;
    next->*l.bwd = prev;
  }
}

inline instance *next_link(const instance *i, int whole)
{
  instance *raw = whole ? i->forward : i->next_forward;
  return is_end(raw) ? nullptr : raw;
}

/* The root field of the key chain for key; with create, the indexer slot
   is made when missing (the table may be rebuilt, so use it at once).
   Null when the key has no slot. */
instance **chain_root(int_info *info, TAGGED key, bool create)
{
  if (key == 0)
    return &info->varcase;
  if (key == functor_list)
    return &info->lstcase;
  if (create)
    return &dyn_puthash(&info->indexer, key)->value.inst;
  sw_on_key_node *n = incore_gethash(info->indexer, key);
  return n->key == key ? &n->value.inst : nullptr;
}

inline VR_INTEGER rank_of(const instance *i) { return GetSmall(i->rank); }
/* Detached by abolishing: the plain word 0, which no small integer is. */
inline bool detached(const instance *i) { return i->rank == 0; }
inline bool visible(const instance *i, unsigned t) { return i->birth <= t && t < i->death; }

/* A clause's predicate code, or null for a detached clause. */
int_info *code_of(const instance *i) { return detached(i) ? nullptr : i->root->proc.code.intinfo; }

/* Reclamation requested from inside the memory manager while the lists
   are being changed is skipped (the next call of a dynamic predicate asks
   again). */
int busy = 0;
struct busy_guard {
  busy_guard() { ++busy; }
  ~busy_guard() { --busy; }
  busy_guard(const busy_guard &) = delete;
  busy_guard &operator=(const busy_guard &) = delete;
};

/* ---- Choicepoints of clause enumerations ---- */

inline bool is_enumeration(const node *b)
{
  return preds.nd_current_instance != nullptr && node_alt(b) == preds.nd_current_instance;
}
inline bool no_enumeration_below(const node *b)
{
  return (reinterpret_cast<std::uintptr_t>(b->trail_top) & NODE_NO_ENUMERATION) != 0;
}
inline void mark_no_enumeration(node *b)
{
  b->trail_top = reinterpret_cast<TAGGED *>(reinterpret_cast<std::uintptr_t>(b->trail_top) | NODE_NO_ENUMERATION);
}
/* The saved positions of an enumeration choicepoint (null: exhausted). */
inline instance *saved_position(TAGGED word) { return reinterpret_cast<instance *>(word - 3); }
inline TAGGED position_word(const instance *i) { return PointerToTerm(i) + 3; }
inline unsigned saved_view(const node *b) { return static_cast<unsigned>(GetSmall(b->term[4])); }

/* ---- Dead chains ---- */

dc_chain *chain_of(definition *f, bool create)
{
  const TAGGED key = definition_word(f);
  sw_on_key *t = eglobal->dead_clause_table;
  if (t != nullptr) {
    sw_on_key_node *n = incore_gethash(t, key);
    if (n->key == key && n->value.any != nullptr)
      return static_cast<dc_chain *>(n->value.any);
  }
  if (!create)
    return nullptr;
  auto *c = static_cast<dc_chain *>(checkalloc(sizeof(dc_chain), mm_code(MM_BIN_GCDEF)));
  c->first = c->last = nullptr;
  c->earliest_use = INSTANCE_ALIVE;
  if (eglobal->dead_clause_table == nullptr)
    eglobal->dead_clause_table = new_switch_on_key(4, nullptr);
  dyn_puthash(&eglobal->dead_clause_table, key)->value.any = c;
  return c;
}

inline instance *next_dead(const instance *i) { return reinterpret_cast<instance *>(i->extra); }

void free_dead(instance *i)
{
  expunge_instance(i, code_of(i));
  eglobal->clauses_dead--;
}

void free_all_queued(void)
{
  sw_on_key *t = eglobal->dead_clause_table;
  if (t == nullptr)
    return;
  eglobal->dead_clause_table = nullptr;
  for (std::uint32_t s = 0; s < sw_slots(t); s++) {
    auto *c = static_cast<dc_chain *>(t->tab[s].value.any);
    if (t->tab[s].key == 0 || c == nullptr)
      continue;
    for (instance *i = c->first; i != nullptr;) {
      instance *next = next_dead(i);
      free_dead(i);
      i = next;
    }
    checkdealloc(c, sizeof(dc_chain), mm_code(MM_BIN_GCDEF));
  }
  dispose_switch_on_key(t);
  eglobal->clauses_dead = 0;
  eglobal->clauses_dead_recently = 0;
}

/* ---- References ---- */

TAGGED next_stamp(void)
{
  VR_INTEGER s = IsSmall(eglobal->dbref_stamp) ? GetSmall(eglobal->dbref_stamp) + 1 : 1;
  if (s > SMALL_MAX || s < 1)
    s = 1;
  eglobal->dbref_stamp = MakeSmall_checked(s);
  return eglobal->dbref_stamp;
}

void forget_dbref(const instance *i)
{
  sw_on_key *t = eglobal->dbref_table;
  if (t == nullptr)
    return;
  const TAGGED key = position_word(i);
  sw_on_key_node *n = incore_gethash(t, key);
  if (n->key == key)
    n->value.word = 0;
}

/* ---- Set-of roots ---- */

setof_int_info *root_of_word(TAGGED word)
{
  for (setof_int_info *r = eglobal->setof; r != nullptr; r = r->next)
    if (PointerToTerm(r) + 3 == word)
      return r;
  return nullptr;
}

void free_root_instances(setof_int_info *r)
{
  for (instance *i = r->first; i != nullptr;) {
    instance *next = i->forward;
    free_instance(i);
    i = next;
  }
  r->first = r->last = nullptr;
}

void remove_root(setof_int_info *r)
{
  free_root_instances(r);
  if (r->prev != nullptr)
    r->prev->next = r->next;
  else
    eglobal->setof = r->next;
  if (r->next != nullptr)
    r->next->prev = r->prev;
  checkdealloc(r, sizeof(setof_int_info), mm_code(MM_BIN_SETOF));
}

/* ---- Hooks ---- */

instance *first_clause_hook(worker *w, definition *d) { return current_instance(w, d); }

instance *next_clause_hook(worker *w, int *more)
{
  instance *result = nullptr;
  *more = next_instance(w, &result);
  return result;
}

TAGGED clause_ref_hook(worker *w, instance *i)
{
  TAGGED *h = w->global_top;
  TAGGED ref = cons_dbref(i, &h, 0);
  w->global_top = h;
  return ref;
}

instance *decode_live_dbref(TAGGED ref)
{
  instance *i = decode_dbref(ref);
  return i != nullptr && i->death == INSTANCE_ALIVE ? i : nullptr;
}

void reclaim_for_memory(void)
{
  if (self != nullptr)
    reclaim_dead_clauses(self);
}

void reclaim_for_atoms(worker *w)
{
  reclaim_dead_clauses(w);
  reclaim_dead_predicates(w);
}

void mark_setof_roots(worker *)
{
  if (agc_instance_marker == nullptr)
    return;
  for (setof_int_info *r = eglobal->setof; r != nullptr; r = r->next)
    for (instance *i = r->first; i != nullptr; i = i->forward)
      agc_instance_marker(i);
}

void (*saved_agc_reclaim)(worker *w) = nullptr;

} // namespace

/* ---- Clauses ---- */

void insertz(definition *f, instance *n)
{
  busy_guard guard;
  int_info *info = f->proc.code.intinfo;
  n->root = f;
  eglobal->use_clock = eglobal->def_clock;
  n->birth = eglobal->def_clock;
  n->death = INSTANCE_ALIVE;
  const VR_INTEGER r = info->first != nullptr ? rank_of(info->first->backward) + 1 : 0;
  n->rank = MakeSmall_checked(r);
  link_last(&info->first, n, CLAUSE_LIST);
  link_last(chain_root(info, n->key, true), n, KEY_CHAIN);
  eglobal->clauses_total++;
  if (r >= SMALL_MAX)
    compress_ranks(info);
}

void inserta(definition *f, instance *n)
{
  busy_guard guard;
  int_info *info = f->proc.code.intinfo;
  n->root = f;
  eglobal->use_clock = eglobal->def_clock;
  n->birth = eglobal->def_clock;
  n->death = INSTANCE_ALIVE;
  const VR_INTEGER r = info->first != nullptr ? rank_of(info->first) - 1 : 0;
  n->rank = MakeSmall_checked(r);
  link_first(&info->first, n, CLAUSE_LIST);
  link_first(chain_root(info, n->key, true), n, KEY_CHAIN);
  eglobal->clauses_total++;
  if (r <= SMALL_MIN)
    compress_ranks(info);
}

void compress_ranks(int_info *info)
{
  if (info->first == nullptr)
    return;
  std::int64_t n = 0;
  for (instance *i = info->first; i != nullptr; i = next_link(i, 1))
    n++;
  if (n / 2 + 1 >= (static_cast<std::int64_t>(1) << 28))
    VR_raise_fault("database node full in assert or record");
  VR_INTEGER r = static_cast<VR_INTEGER>(-(n / 2));
  for (instance *i = info->first; i != nullptr; i = next_link(i, 1))
    i->rank = MakeSmall_checked(r++);
}

void set_instance_file(instance *i, TAGGED file) { i->extra = file; }

/* The owning record of a dynamic predicate, through an import: clauses
   always name the owner, which keeps its code while importers come and
   go.  Null when d is not a dynamic predicate with code. */
definition *dynamic_owner(definition *d)
{
  if (d == nullptr || predtyp(d) != ENTER_INTERPRETED || d->proc.code.intinfo == nullptr)
    return nullptr;
  if (d->module != nullptr && d->module != d->defined_in) {
    definition *o = incore_gethash(d->module->preds, pred_key(d->proc.printname, d->proc.arity))->value.def;
    if (o != nullptr && o->proc.code.intinfo == d->proc.code.intinfo)
      return o;
  }
  return d;
}

void erase_clause(instance *i)
{
  if (i->death != INSTANCE_ALIVE)
    return;
  busy_guard guard;
  eglobal->use_clock = eglobal->def_clock;
  i->death = eglobal->def_clock;
  if (eglobal->no_chpt_current_instance || i->birth == i->death)
    expunge_instance(i, code_of(i));
  else
    erase_instance(i);
}

void erase_instance(instance *i)
{
  busy_guard guard;
  dc_chain *c = chain_of(i->root, true);
  i->extra = 0;
  if (c->last != nullptr)
    c->last->extra = PointerToTerm(i);
  else
    c->first = i;
  c->last = i;
  eglobal->clauses_dead++;
  eglobal->clauses_dead_recently++;
  eglobal->clauses_dead_very_recently++;
}

void expunge_instance(instance *i, int_info *info)
{
  busy_guard guard;
  if (info != nullptr) {
    unlink(&info->first, i, CLAUSE_LIST);
    instance **root = chain_root(info, i->key, false);
    assert(root != nullptr && "a linked clause has its key's chain");
    unlink(root, i, KEY_CHAIN);
  } else {
    unlink(nullptr, i, CLAUSE_LIST);
    unlink(nullptr, i, KEY_CHAIN);
  }
  forget_dbref(i);
  eglobal->clauses_total--;
  free_instance(i);
}

void free_instance(instance *i)
{
  if (i->source_link != nullptr)
    itable_free(i->source_link);
  checkdealloc(i, i->objsize, mm_code(MM_BIN_INSTANCE));
}

void retractall(definition *f, int mode)
{
  int_info *info = f->proc.code.intinfo;
  if (info == nullptr || info->first == nullptr)
    return;
  busy_guard guard;
  instance *first = info->first;
  if (mode != 0) {
    /* Detach: the lists live on only through their clauses until the
       last of them is freed; no root field names them any more. */
    for (instance *i = first; i != nullptr; i = next_link(i, 1))
      i->rank = 0;
    info->first = info->varcase = info->lstcase = nullptr;
    dispose_switch_on_key(info->indexer);
    info->indexer = new_switch_on_key(2, nullptr);
  }
  /* Erasing may unlink the clause at hand; its successor and whether it
     was the last are read first (the end bit moves to the new last only
     when the last itself goes). */
  for (instance *i = first;;) {
    instance *raw = i->forward;
    erase_clause(i);
    if (is_end(raw))
      break;
    i = raw;
  }
}

void abolish_interpreted(definition *f)
{
  int_info *info = f->proc.code.intinfo;
  if (info == nullptr)
    return;
  retractall(f, 1);
  dispose_switch_on_key(info->indexer);
  checkdealloc(info, sizeof(int_info), mm_code(MM_BIN_INT_INFO));
  f->proc.code.intinfo = nullptr;
}

namespace {

bool file_listed(TAGGED file, TAGGED files)
{
  for (TAGGED l = deref(files); IsList(l); l = deref(TagToLST(l)[1]))
    if (deref(TagToLST(l)[0]) == file)
      return true;
  return false;
}

} // namespace

void multifile_retractall(definition *f, TAGGED files)
{
  const unsigned type = predtyp(f);
  if (is_compiled_type(type)) {
    multifile_retractall_compiled(f, files);
    return;
  }
  if (type != ENTER_INTERPRETED || f->proc.code.intinfo == nullptr || f->proc.code.intinfo->first == nullptr)
    return;
  busy_guard guard;
  for (instance *i = f->proc.code.intinfo->first;;) {
    instance *raw = i->forward;
    if (i->death == INSTANCE_ALIVE && file_listed(i->extra, files))
      erase_clause(i);
    if (is_end(raw))
      break;
    i = raw;
  }
}

/* ---- Clause selection ---- */

instance *active_instance_call(instance *i, int whole)
{
  while (i != nullptr && i->death != INSTANCE_ALIVE)
    i = next_link(i, whole);
  return i;
}

instance *active_instance_redo(instance *i, unsigned t, int whole)
{
  while (i != nullptr && !visible(i, t))
    i = next_link(i, whole);
  return i;
}

instance *current_instance(worker *w, definition *d)
{
  maybe_reclaim_dead_clauses(w);
  int_info *info = d->proc.code.intinfo;
  if (info == nullptr)
    return nullptr;
  busy_guard guard;
  TAGGED goal = deref(w->term[0]);
  instance *cand, *v, *k;
  TAGGED arg = 0;
  if (IsStructure(goal) && IsFunctor(*TagToSTR(goal)))
    arg = deref(TagToSTR(goal)[1]);
  if (arg != 0 && !IsVar(arg)) {
    /* Two chains, merged by rank: the clauses of this key and those with
       an unbound first argument. */
    TAGGED key = IsAtomic(arg) ? arg : IsList(arg) ? functor_list : *TagToSTR(arg);
    instance **kroot = chain_root(info, key, false);
    k = active_instance_call(kroot != nullptr ? *kroot : nullptr, 0);
    v = active_instance_call(info->varcase, 0);
    if (v == nullptr && k == nullptr)
      return nullptr;
    if (v != nullptr && (k == nullptr || rank_of(v) <= rank_of(k))) {
      cand = v;
      v = active_instance_call(next_link(v, 0), 0);
    } else {
      cand = k;
      k = active_instance_call(next_link(k, 0), 0);
    }
  } else {
    cand = active_instance_call(info->first, 1);
    if (cand == nullptr)
      return nullptr;
    v = k = active_instance_call(next_link(cand, 1), 1);
  }
  if (v == nullptr && k == nullptr) {
    w->term[4] = w->term[5] = MakeSmall_checked(0);
    return cand;
  }
  w->term[2] = position_word(v);
  w->term[4] = MakeSmall_checked(eglobal->use_clock);
  w->term[5] = position_word(k);
  wam_push_choicepoint(w, preds.nd_current_instance);
  eglobal->no_chpt_current_instance = 0;
  const unsigned view = eglobal->use_clock;
  eglobal->def_clock = static_cast<std::uint16_t>(view + 1);
  if (view == 0xFFFE)
    clock_overflow(w);
  return cand;
}

int next_instance(worker *w, instance **result)
{
  busy_guard guard;
  const unsigned t = static_cast<unsigned>(GetSmall(w->term[4]));
  instance *v = saved_position(w->term[2]);
  instance *k = saved_position(w->term[5]);
  if (v == k) {
    *result = k;
    v = k = active_instance_redo(next_link(k, 1), t, 1);
  } else if (k == nullptr || (v != nullptr && rank_of(k) >= rank_of(v))) {
    *result = v;
    v = active_instance_redo(next_link(v, 0), t, 0);
  } else {
    *result = k;
    k = active_instance_redo(next_link(k, 0), t, 0);
  }
  if (v == nullptr && k == nullptr)
    return 0;
  node *b = w->node_;
  b->term[2] = w->term[2] = position_word(v);
  b->term[5] = w->term[5] = position_word(k);
  b->global_top = w->global_top;
  w->global_uncond = w->global_top;
  w->local_uncond = w->local_top;
  return 1;
}

/* ---- Reclamation ---- */

void maybe_reclaim_dead_clauses(worker *w)
{
  if (busy || eglobal->clauses_dead <= 0 || w == nullptr || w->node_ == nullptr)
    return;
  const std::int64_t choice_words = w->choice_start - reinterpret_cast<TAGGED *>(w->node_);
  if (eglobal->no_chpt_current_instance || 8 * eglobal->clauses_dead_very_recently >= choice_words)
    fast_reclaim_dead_clauses(w);
  if (eglobal->clauses_dead > 0 && 8 * eglobal->clauses_dead_recently >= eglobal->clauses_total)
    reclaim_dead_clauses(w);
}

void fast_reclaim_dead_clauses(worker *w)
{
  if (busy || w == nullptr || w->node_ == nullptr)
    return;
  busy_guard guard;
  eglobal->clauses_dead_very_recently = 0;
  if (!eglobal->no_chpt_current_instance) {
    for (choice_walk cw(w); !cw.done(); cw.step()) {
      if (no_enumeration_below(cw.cp))
        break;
      if (is_enumeration(cw.cp))
        return;
    }
    eglobal->no_chpt_current_instance = 1;
    for (choice_walk cw(w); !cw.done(); cw.step()) {
      if (no_enumeration_below(cw.cp))
        break;
      mark_no_enumeration(cw.cp);
    }
  }
  free_all_queued();
}

void reclaim_dead_clauses(worker *w)
{
  if (busy || eglobal->clauses_dead <= 0 || w == nullptr || w->node_ == nullptr)
    return;
  busy_guard guard;
  const std::int64_t t0 = vr_usertime_ms();

  /* The open views, by predicate. */
  std::vector<std::pair<definition *, unsigned>> views;
  eglobal->no_chpt_current_instance = 1;
  node *oldest = nullptr;
  for (choice_walk cw(w); !cw.done(); cw.step()) {
    if (no_enumeration_below(cw.cp))
      break;
    if (!is_enumeration(cw.cp))
      continue;
    eglobal->no_chpt_current_instance = 0;
    oldest = cw.cp;
    instance *pos = saved_position(cw.cp->term[2]);
    if (pos == nullptr)
      pos = saved_position(cw.cp->term[5]);
    if (pos != nullptr)
      views.emplace_back(pos->root, saved_view(cw.cp));
  }
  const std::int64_t t1 = vr_usertime_ms();

  /* Everything older than the oldest enumeration has none below it. */
  bool past = oldest == nullptr;
  for (choice_walk cw(w); !cw.done(); cw.step()) {
    if (no_enumeration_below(cw.cp))
      break;
    if (past)
      mark_no_enumeration(cw.cp);
    else if (cw.cp == oldest)
      past = true;
  }
  const std::int64_t t2 = vr_usertime_ms();

  std::sort(views.begin(), views.end());
  views.erase(std::unique(views.begin(), views.end()), views.end());
  std::int64_t freed = 0;
  sw_on_key *t = eglobal->dead_clause_table;
  for (std::uint32_t s = 0; t != nullptr && s < sw_slots(t); s++) {
    auto *c = static_cast<dc_chain *>(t->tab[s].value.any);
    if (t->tab[s].key == 0 || c == nullptr)
      continue;
    auto *f = reinterpret_cast<definition *>(t->tab[s].key - 3);
    auto lo = std::lower_bound(views.begin(), views.end(), std::make_pair(f, 0u));
    auto hi = std::upper_bound(views.begin(), views.end(), std::make_pair(f, 0xFFFFu));
    c->earliest_use = lo == hi ? INSTANCE_ALIVE : static_cast<std::uint16_t>(lo->second);
    instance *prev = nullptr;
    for (instance *i = c->first; i != nullptr;) {
      instance *next = next_dead(i);
      /* Seen by some open view t: birth <= t < death. */
      auto seen = std::lower_bound(lo, hi, std::make_pair(f, static_cast<unsigned>(i->birth)));
      if (seen != hi && seen->second < i->death) {
        prev = i;
      } else {
        if (prev != nullptr)
          prev->extra = PointerToTerm(next);
        else
          c->first = next;
        if (c->last == i)
          c->last = prev;
        free_dead(i);
        freed++;
      }
      i = next;
    }
    if (c->first == nullptr) {
      checkdealloc(c, sizeof(dc_chain), mm_code(MM_BIN_GCDEF));
      t->tab[s].value.any = nullptr;
    }
  }
  eglobal->clauses_dead_recently = 0;
  eglobal->clauses_dead_very_recently = 0;
  const std::int64_t t3 = vr_usertime_ms();
  engine_stats &st = eglobal->stats;
  st.reclaim_dead_clauses_count++;
  st.reclaim_dead_clauses_time += t3 - t0;
  st.reclaim_dead_clauses_earliest_use_time += t1 - t0;
  st.reclaim_dead_clauses_mark_static_time += t2 - t1;
  st.reclaim_dead_clauses_expunge_time += t3 - t2;
  st.reclaim_dead_clauses_reclaimed += freed;
}

void clock_overflow(worker *w)
{
  busy_guard guard;
  std::vector<unsigned> views;
  for (choice_walk cw(w); !cw.done(); cw.step()) {
    if (no_enumeration_below(cw.cp))
      break;
    if (is_enumeration(cw.cp))
      views.push_back(saved_view(cw.cp));
  }
  std::sort(views.begin(), views.end());
  views.erase(std::unique(views.begin(), views.end()), views.end());
  const std::size_t c = views.size();
  if (c >= 0xFFFF)
    VR_raise_fault("too many dynamic choicepoints");
  /* Old value v -> the new value of the smallest view at least v (the
     oldest view becomes 0), c above the newest; alive stays alive.  Every
     comparison between a clock value and a view keeps its outcome. */
  std::vector<std::uint16_t> map(0x10000);
  std::size_t k = 0;
  for (unsigned v = 0; v < 0xFFFF; v++) {
    while (k < c && views[k] < v)
      k++;
    map[v] = static_cast<std::uint16_t>(k);
  }
  map[0xFFFF] = INSTANCE_ALIVE;
  for (choice_walk cw(w); !cw.done(); cw.step()) {
    if (no_enumeration_below(cw.cp))
      break;
    if (is_enumeration(cw.cp)) {
      cw.cp->term[4] = MakeSmall_checked(map[saved_view(cw.cp)]);
      if (cw.cp == w->node_)
        w->term[4] = cw.cp->term[4];
    }
  }
  eglobal->use_clock = static_cast<std::uint16_t>(c > 0 ? c - 1 : 0);
  eglobal->def_clock = static_cast<std::uint16_t>(c);

  auto remap = [&map](instance *i) {
    i->birth = map[i->birth];
    i->death = map[i->death];
  };
  struct ctx_t {
    decltype(remap) *fn;
  } ctx{&remap};
  for_each_module(
      [](mod_def *m, void *arg) {
        for_each_predicate(
            m,
            [](definition *d, void *arg2) {
              if (predtyp(d) != ENTER_INTERPRETED || d->proc.code.intinfo == nullptr ||
                  d->module != d->defined_in || d->imported_from != d->defined_in)
                return;
              auto *cx = static_cast<ctx_t *>(arg2);
              for (instance *i = d->proc.code.intinfo->first; i != nullptr; i = next_link(i, 1))
                (*cx->fn)(i);
            },
            arg);
      },
      &ctx);
  /* Detached clauses are in no clause list: they lead their chains. */
  if (sw_on_key *t = eglobal->dead_clause_table) {
    for (std::uint32_t s = 0; s < sw_slots(t); s++) {
      auto *ch = static_cast<dc_chain *>(t->tab[s].value.any);
      if (t->tab[s].key == 0 || ch == nullptr)
        continue;
      for (instance *i = ch->first; i != nullptr && detached(i); i = next_dead(i))
        remap(i);
    }
  }
}

/* ---- Database references ---- */

TAGGED cons_dbref(instance *i, TAGGED **top, int fresh)
{
  busy_guard guard;
  const TAGGED key = position_word(i);
  if (eglobal->dbref_table == nullptr)
    eglobal->dbref_table = new_switch_on_key(64, nullptr);
  sw_on_key_node *n = incore_gethash(eglobal->dbref_table, key);
  TAGGED stamp;
  if (!fresh && n->key == key && n->value.word != 0) {
    stamp = n->value.word;
  } else {
    stamp = next_stamp();
    dyn_puthash(&eglobal->dbref_table, key)->value.word = stamp;
  }
  TAGGED *h = *top;
  h[0] = functor_Dref;
  h[1] = key;
  h[2] = stamp;
  *top = h + 3;
  return MakeSTR(h);
}

instance *decode_dbref(TAGGED ref)
{
  ref = deref(ref);
  if (!IsStructure(ref) || *TagToSTR(ref) != functor_Dref || eglobal->dbref_table == nullptr)
    return nullptr;
  return dbref_instance(deref(TagToSTR(ref)[1]), deref(TagToSTR(ref)[2]));
}

instance *dbref_instance(TAGGED a, TAGGED s)
{
  if (!IsSmall(a) || !IsSmall(s) || eglobal->dbref_table == nullptr)
    return nullptr;
  sw_on_key_node *n = incore_gethash(eglobal->dbref_table, a);
  if (n->key != a || n->value.word != s)
    return nullptr;
  return saved_position(a);
}

/* ---- Set-of roots ---- */

void clean_up_setof_roots(void)
{
  while (eglobal->setof != nullptr)
    remove_root(eglobal->setof);
}

/* ---- Start-up, shutdown, collectors ---- */

void dynamic_clauses_install_hooks(void)
{
  abolish_interpreted_hook = abolish_interpreted;
  mm_reclaim_dead_clauses_hook = reclaim_for_memory;
  if (agc_reclaim_hook != reclaim_for_atoms) {
    saved_agc_reclaim = agc_reclaim_hook;
    agc_reclaim_hook = reclaim_for_atoms;
  }
  worker_hooks.setof_free = clean_up_setof_roots;
  wam_clauses = wam_clause_hooks{first_clause_hook, next_clause_hook, clause_ref_hook, decode_live_dbref};
  agc_add_root_marker(mark_setof_roots);
  if (preds.nd_current_instance == nullptr) {
    preds.nd_current_instance = def_retry_c(nullptr, 6);
    preds.nd_current_instance->entry[0] = OPCODE(RETRY_INSTANCE);
  }
}

void dynamic_clauses_deinit(void)
{
  clean_up_setof_roots();
  /* Queued clauses still in a clause list go with their predicate; the
     detached ones lead their chains and are freed here. */
  if (sw_on_key *t = eglobal->dead_clause_table) {
    for (std::uint32_t s = 0; s < sw_slots(t); s++) {
      auto *c = static_cast<dc_chain *>(t->tab[s].value.any);
      if (t->tab[s].key == 0 || c == nullptr)
        continue;
      for (instance *i = c->first; i != nullptr;) {
        instance *next = next_dead(i);
        if (detached(i))
          free_instance(i);
        i = next;
      }
      checkdealloc(c, sizeof(dc_chain), mm_code(MM_BIN_GCDEF));
    }
    dispose_switch_on_key(t);
  }
  eglobal->dead_clause_table = nullptr;
  if (eglobal->dbref_table != nullptr)
    dispose_switch_on_key(eglobal->dbref_table);
  eglobal->dbref_table = nullptr;
  eglobal->dbref_stamp = 0;
  eglobal->clauses_total = eglobal->clauses_dead = 0;
  eglobal->clauses_dead_recently = eglobal->clauses_dead_very_recently = 0;
  eglobal->def_clock = eglobal->use_clock = 0;
  eglobal->no_chpt_current_instance = 0;
  if (preds.nd_current_instance != nullptr)
    checkdealloc(preds.nd_current_instance, RETRY_BLOCK_SIZE, mm_code(MM_BIN_MISC));
  preds.nd_current_instance = nullptr;
  if (abolish_interpreted_hook == abolish_interpreted)
    abolish_interpreted_hook = nullptr;
  if (mm_reclaim_dead_clauses_hook == reclaim_for_memory)
    mm_reclaim_dead_clauses_hook = nullptr;
  if (agc_reclaim_hook == reclaim_for_atoms) {
    agc_reclaim_hook = saved_agc_reclaim;
    saved_agc_reclaim = nullptr;
  }
  if (worker_hooks.setof_free == clean_up_setof_roots)
    worker_hooks.setof_free = nullptr;
  if (wam_clauses.first_clause == first_clause_hook)
    wam_clauses = wam_clause_hooks{};
  agc_remove_root_marker(mark_setof_roots);
}

void agc_abolished(void (*visit)(const instance *ins))
{
  sw_on_key *t = eglobal->dead_clause_table;
  if (t == nullptr)
    return;
  for (std::uint32_t s = 0; s < sw_slots(t); s++) {
    auto *c = static_cast<dc_chain *>(t->tab[s].value.any);
    if (t->tab[s].key == 0 || c == nullptr)
      continue;
    reinterpret_cast<definition *>(t->tab[s].key - 3)->proc.properties |= PROP_MARKED;
    if (visit != nullptr)
      for (instance *i = c->first; i != nullptr; i = next_dead(i))
        visit(i);
  }
}

/* ---- Built-ins ---- */

namespace {

/* A clause pair [Head | Body] for predicate f: Head callable, of f's name
   and arity. */
bool clause_pair_of(definition *f, TAGGED pair)
{
  if (!IsList(pair))
    return false;
  TAGGED head = deref(TagToLST(pair)[0]);
  TAGGED key;
  if (IsAtom(head))
    key = pred_key(head, 0);
  else if (IsStructure(head) && IsFunctor(*TagToSTR(head)))
    key = *TagToSTR(head);
  else if (IsList(head))
    key = functor_list;
  else
    return false;
  return key == pred_key(f->proc.printname, f->proc.arity);
}

int insert_builtin(worker *w, void (*insert)(definition *, instance *))
{
  definition *f = dynamic_owner(definition_of_word(deref(w->term[0])));
  if (f == nullptr || !IsVar(deref(w->term[2])) || !clause_pair_of(f, deref(w->term[1])))
    return 0;
  instance *n = compile_term(w, deref(w->term[1]), 3);
  n->extra = atom_nil;
  insert(f, n);
  if (w->stack_start - w->global_top < 3 + 128)
    call_overflow(w, 3 + 128, 3);
  TAGGED *h = w->global_top;
  TAGGED ref = cons_dbref(n, &h, 1);
  w->global_top = h;
  return cunify(w, w->term[2], ref);
}

/* An enumeration choicepoint positioned on i. */
bool held_by_enumeration(worker *w, const instance *i)
{
  for (choice_walk cw(w); !cw.done(); cw.step()) {
    if (no_enumeration_below(cw.cp))
      break;
    if (is_enumeration(cw.cp) && (saved_position(cw.cp->term[2]) == i || saved_position(cw.cp->term[5]) == i))
      return true;
  }
  return false;
}

} // namespace

int prolog_insertz(worker *w) { return insert_builtin(w, insertz); }
int prolog_inserta(worker *w) { return insert_builtin(w, inserta); }

int prolog_erase(worker *w)
{
  instance *i = decode_dbref(w->term[0]);
  if (i != nullptr)
    erase_clause(i);
  return 1;
}

int prolog_purge(worker *w)
{
  instance *i = decode_dbref(w->term[0]);
  if (i == nullptr || i->death != INSTANCE_ALIVE)
    return 1;
  if (held_by_enumeration(w, i)) {
    erase_clause(i);
    return 1;
  }
  busy_guard guard;
  eglobal->use_clock = eglobal->def_clock;
  i->death = eglobal->def_clock;
  expunge_instance(i, code_of(i));
  return 1;
}

int prolog_retractall(worker *w)
{
  mod_def *m = find_module(deref(w->term[1]), 0);
  TAGGED head = deref(w->term[0]);
  if (m == nullptr || !(IsAtom(head) || IsComplex(head)))
    return 0;
  TAGGED *args = nullptr;
  definition *f = dynamic_owner(find_definition(m, head, &args, 0));
  if (f == nullptr)
    return 0;
  const int arity = f->proc.arity;
  for (int a = 0; a < arity; a++) {
    TAGGED x = deref(args[a]);
    if (!IsVar(x) || is_constrained_cell(w, TagToRef(x)))
      return 0;
    for (int b = 0; b < a; b++)
      if (deref(args[b]) == x)
        return 0;
  }
  retractall(f, 0);
  return 1;
}

int prolog_multifile_retractall(worker *w)
{
  mod_def *m = find_module(deref(w->term[1]), 0);
  TAGGED head = deref(w->term[0]);
  TAGGED files = deref(w->term[2]);
  if (m == nullptr || !(IsAtom(head) || IsComplex(head)) || !IsList(files))
    return 0;
  TAGGED l = files;
  for (; IsList(l); l = deref(TagToLST(l)[1]))
    if (!IsAtom(deref(TagToLST(l)[0])))
      return 0;
  if (l != atom_nil)
    return 0;
  definition *f = find_definition(m, head, nullptr, 0);
  if (f == nullptr || f->defined_in != f->imported_from)
    return 0;
  multifile_retractall(f, files);
  return 1;
}

int prolog_patch_fact(worker *w)
{
  instance *i = decode_dbref(w->term[0]);
  const TAGGED index = deref(w->term[1]);
  const TAGGED value = deref(w->term[2]);
  /* One word replaces one word: only a constant that stands alone. */
  if (i == nullptr || i->death != INSTANCE_ALIVE || !IsSmall(index) || !(IsSmall(value) || IsAtom(value)))
    return 0;
  const std::uint32_t words = instance_words(i);
  const TAGGED head = i->code[words - 2];
  if (!IsStructure(head))
    return 0;
  TAGGED *cell = i->code + (head - STR_TAG) / 4;
  const VR_INTEGER n = GetSmall(index);
  if (!IsFunctor(cell[0]) || n < 1 || n > static_cast<VR_INTEGER>(Arity(cell[0])))
    return 0;
  /* The first argument is the clause's key: it may not change. */
  if (n == 1 && cell[1] != value)
    return 0;
  cell[n] = value;
  return 1;
}

int prolog_instance_file(worker *w)
{
  instance *i = decode_dbref(w->term[0]);
  if (i == nullptr || i->death != INSTANCE_ALIVE)
    return cunify(w, w->term[1], atom_nil);
  if (!cunify(w, w->term[1], i->extra))
    return 0;
  const TAGGED file = deref(w->term[2]);
  if (!IsAtom(file))
    return 0;
  i->extra = file;
  return 1;
}

int prolog_set_clock(worker *w)
{
  const TAGGED t = deref(w->term[0]);
  if (!IsSmall(t))
    return 0;
  /* 0xFFFF means alive: no clock reaches it. */
  const std::uint16_t c = std::min<std::uint16_t>(static_cast<std::uint16_t>(GetSmall(t) & 0xFFFF), 0xFFFE);
  eglobal->def_clock = eglobal->use_clock = c;
  return 1;
}

int prolog_term_ref(worker *w)
{
  const TAGGED n = deref(w->term[0]);
  if (!IsSmall(n))
    return 0;
  VR_globref slot = vr_get_globref_checked(static_cast<VR_term_ref>(GetSmall(n)), w);
  const TAGGED term = deref(w->term[1]);
  if (slot == nullptr || !IsVar(slot->term) || !IsVar(term))
    return 0;
  return cunify(w, term, *TagToRef(slot->term));
}

int prolog_add_setof_root(worker *w)
{
  auto *r = static_cast<setof_int_info *>(checkalloc(sizeof(setof_int_info), mm_code(MM_BIN_SETOF)));
  r->first = r->last = nullptr;
  r->prev = nullptr;
  r->next = eglobal->setof;
  if (r->next != nullptr)
    r->next->prev = r;
  eglobal->setof = r;
  return cunify(w, w->term[0], PointerToTerm(r) + 3);
}

int prolog_setof_inserta(worker *w)
{
  const TAGGED pair = deref(w->term[1]);
  if (root_of_word(deref(w->term[0])) == nullptr || !IsList(pair))
    return 0;
  instance *ins = compile_term(w, pair, 3);
  /* compile_term runs no Prolog: the root is still there. */
  setof_int_info *r = root_of_word(deref(w->term[0]));
  ins->root = reinterpret_cast<definition *>(r);
  ins->forward = r->first;
  r->first = ins;
  if (r->last == nullptr)
    r->last = ins;
  return 1;
}

int prolog_setof_list_instances(worker *w)
{
  setof_int_info *r = root_of_word(deref(w->term[0]));
  if (r == nullptr || !IsVar(deref(w->term[1])))
    return 0;
  /* Each copy and a list cell of its own: the stored pair's cells are
     left as they are, so nothing in the copy can alias the list. */
  std::int64_t need = 128;
  for (instance *i = r->first; i != nullptr; i = i->forward)
    need += instance_words(i) + 2;
  if (w->stack_start - w->global_top < need)
    call_overflow(w, static_cast<int>(need), 3);
  /* Oldest first, so that the copies lie on the heap in the order of the
     solutions (unbound variables compare by address). */
  instance *oldest = nullptr;
  for (instance *i = r->first; i != nullptr;) {
    instance *newer = i->forward;
    i->forward = oldest;
    oldest = i;
    i = newer;
  }
  r->first = oldest;
  TAGGED list = w->term[2];
  TAGGED *last = &list;
  const TAGGED *heap = w->heap_start;
  for (instance *i = oldest; i != nullptr;) {
    instance *newer = i->forward;
    get_instance(w, i, 3, 2);
    assert(w->heap_start == heap && "the room was made before the first copy");
    (void)heap;
    const TAGGED head = w->global_top[-2];
    const TAGGED tail = w->global_top[-1];
    TAGGED *cell = w->global_top;
    cell[0] = IsVar(tail) ? head : tail;
    cell[1] = w->term[2];
    w->global_top = cell + 2;
    *last = MakeLST(cell);
    last = &cell[1];
    free_instance(i);
    r->first = newer;
    i = newer;
  }
  r->last = nullptr;
  return cunify(w, w->term[1], list);
}

int prolog_remove_setof_root(worker *w)
{
  setof_int_info *r = root_of_word(deref(w->term[0]));
  if (r == nullptr)
    return 0;
  remove_root(r);
  return 1;
}
