/* predicates.cpp: predicate records, look-up (with call/N made on demand),
 * entry instructions, import and undefine propagation, and the
 * dead-predicate list.
 *
 * Invariants kept here:
 *   - every record made by new_definition is in the live-definition
 *     registry until atom garbage collection frees it, so raw addresses
 *     that Prolog hands back can be checked before they are trusted;
 *   - an importer's code, type and properties equal its exporter's after
 *     every update_exports;
 *   - compiled code leaves a predicate only through leave_to_gc, and is
 *     freed only by reclaim_dead_predicates once no continuation and no
 *     choicepoint alternative points into it.
 * Callers: the emulator (look-up on meta-calls), the compiler built-ins,
 * dynamic clauses, start-up, the memory manager (reclamation hook).
 */
#include "predicates.h"

#include <algorithm>
#include <cstring>

#include "atoms.h"
#include "code_walkers.h"
#include "datadefs.h"
#include "dynamic_clauses.h"
#include "indexing.h"
#include "initial_atoms.h"
#include "instance.h"
#include "live_regs.h"
#include "memman.h"
#include "modules.h"
#include "preds.h"
#include "saved_state.h"
#include "stack_walk.h"
#include "sw_on_key.h"
#include "terms.h"
#include "timing.h"
#include "wamsup.h"
#include "worker.h"

void (*abolish_interpreted_hook)(definition *f) = nullptr;
void (*fd_destructor_hook)(void *slot) = nullptr;
unsigned char call_n_metainfo[2] = {1, 0};

namespace {

constexpr TAGGED atom_call = MakeAtom(atom_call_enum);
constexpr TAGGED functor_slash = MakeFunctor(MakeAtom(atom_slash_enum), 2);

/* Live definitions, keyed by address + 3 (a small-integer word, never 0). */
sw_on_key *live_defs = nullptr;

void registry_add(definition *d)
{
  if (live_defs == nullptr)
    live_defs = new_switch_on_key(64, nullptr);
  dyn_puthash(&live_defs, definition_word(d))->value.def = d;
}

void registry_remove(definition *d)
{
  if (live_defs == nullptr)
    return;
  sw_on_key_node *n = incore_gethash(live_defs, definition_word(d));
  if (n->key != 0)
    n->value.def = nullptr;
}

definition *alloc_definition(void)
{
  return static_cast<definition *>(checkalloc(sizeof(definition), mm_code(MM_BIN_DEFINITION)));
}

/* call/N: one clause that fits every first argument (ix 31, no key), so
   the predicate stays non-indexed. */
void install_call_n(definition *def, emul_info *clause)
{
  mod_def *m = def->defined_in;
  dyn_puthash(&m->preds, pred_key(def->proc.printname, def->proc.arity))->value.def = def;
  redefine_predicate(def, ENTER_COMPACTCODE);
  insert_compactcode(def, clause, IX_CASES, 0);
  def->proc.properties |= PROP_META;
  def->metainfo = call_n_metainfo;
  def->next_public = m->public_lst;
  m->public_lst = def;
  update_exports(def, static_cast<int>(predtyp(def)));
}

int definition_arity(const definition *d) { return d->proc.arity; }

void reclaim_hook(void) { reclaim_dead_predicates(self); }

void agc_reclaim(worker *w) { reclaim_dead_predicates(w); }

void agc_mark_predicates(worker *w);

} // namespace

/* Enters d in m's table under its own key. */
void enter_definition(mod_def *m, definition *d)
{
  dyn_puthash(&m->preds, pred_key(d->proc.printname, d->proc.arity))->value.def = d;
}

/* ---- Records ---- */

void init_procedure(procedure *p, TAGGED name, int arity)
{
  p->arity = static_cast<std::int16_t>(arity);
  p->frame_size = static_cast<std::int16_t>(8 + 4 * arity);
  p->continuation = OPCODE(KONTINUE);
  p->code.any = nullptr;
  p->printname = name;
  p->properties = static_cast<std::uint32_t>(ENTER_UNDEFINED) << PREDTYP_SHIFT;
  set_enter_instr_breakpointing(p, 0);
}

procedure *new_procedure(TAGGED name, int arity)
{
  auto *p = static_cast<procedure *>(checkalloc(sizeof(procedure), mm_code(MM_BIN_DEFINITION)));
  init_procedure(p, name, arity);
  return p;
}

definition *new_definition(TAGGED name, int arity, mod_def *m)
{
  definition *d = alloc_definition();
  d->module = d->imported_from = d->defined_in = m;
  d->exported_to = nullptr;
  d->next_public = nullptr;
  d->blockinfo = nullptr;
  d->metainfo = nullptr;
  d->filename = atom_nil;
  init_procedure(&d->proc, name, arity);
  set_enter_instr(d, ENTER_UNDEFINED);
  registry_add(d);
  return d;
}

bool is_live_definition(const definition *d)
{
  if (d == nullptr || live_defs == nullptr || (reinterpret_cast<std::uintptr_t>(d) & 7) != 0)
    return false;
  return incore_gethash(live_defs, definition_word(d))->value.def == d;
}

definition *definition_of_word(TAGGED word)
{
  if (!IsSmall(word) || live_defs == nullptr)
    return nullptr;
  sw_on_key_node *n = incore_gethash(live_defs, word);
  return n->key == word ? n->value.def : nullptr;
}

definition *insert_definition(mod_def *m, TAGGED name, int arity, int insertp)
{
  if (arity < 0 || arity > 255)
    return nullptr;
  TAGGED key = pred_key(name, arity);
  mod_def *pm = eglobal->prolog_module;
  definition *found = nullptr;

  if (m != nullptr)
    found = incore_gethash(m->preds, key)->value.def;
  if (found == nullptr && m != pm && pm != nullptr) {
    definition *d = incore_gethash(pm->preds, key)->value.def;
    if (d != nullptr && d->next_public != nullptr)
      found = d;
  }
  if (found == nullptr && FunctorName(name) == atom_call && arity > 0 && pm != nullptr) {
    definition *d = new_definition(atom_call, arity, pm);
    if (def_call_n(d, static_cast<unsigned>(arity)))
      found = d;
    else {
      registry_remove(d);
      checkdealloc(d, sizeof(definition), mm_code(MM_BIN_DEFINITION));
    }
  }
  if (found != nullptr) {
    if (insertp == 2 && m != nullptr && m != pm && found->defined_in == pm) {
      definition *copy = alloc_definition();
      std::memcpy(copy, found, sizeof(definition));
      copy->defined_in = m;
      registry_add(copy);
      enter_definition(m, copy);
      return copy;
    }
    return found;
  }
  if (insertp == 1 && m != nullptr) {
    definition *d = new_definition(name & ~(0xFFu << 23), arity, m);
    enter_definition(m, d);
    return d;
  }
  return nullptr;
}

definition *find_definition(mod_def *m, TAGGED goal, TAGGED **args, int insertp)
{
  TAGGED name;
  int arity;
  if (IsStructure(goal)) {
    TAGGED *p = TagToSTR(goal);
    name = FunctorName(p[0]);
    arity = static_cast<int>(Arity(p[0]));
    if (args != nullptr)
      *args = p + 1;
  } else if (IsList(goal)) {
    name = atom_dot;
    arity = 2;
    if (args != nullptr)
      *args = TagToLST(goal);
  } else {
    name = goal;
    arity = 0;
  }
  return insert_definition(m, name, arity, insertp);
}

definition *parse_definition(TAGGED spec, mod_def *m)
{
  spec = deref(spec);
  /* Module:(Name/Arity) as well as (Module:Name)/Arity. */
  while (IsStructure(spec) && *TagToSTR(spec) == functor_colon) {
    m = find_module(deref(TagToSTR(spec)[1]), 1);
    if (m == nullptr)
      return nullptr;
    spec = deref(TagToSTR(spec)[2]);
  }
  if (!IsStructure(spec) || *TagToSTR(spec) != functor_slash)
    return nullptr;
  TAGGED name = deref(TagToSTR(spec)[1]);
  TAGGED arity = deref(TagToSTR(spec)[2]);
  while (IsStructure(name) && *TagToSTR(name) == functor_colon) {
    m = find_module(deref(TagToSTR(name)[1]), 1);
    if (m == nullptr)
      return nullptr;
    name = deref(TagToSTR(name)[2]);
  }
  /* Malformed predicate indicators find nothing rather than inventing a key. */
  if (!IsAtom(name) || !IsSmall(arity) || GetSmall(arity) < 0 || GetSmall(arity) > 255 || m == nullptr)
    return nullptr;
  return insert_definition(m, name, static_cast<int>(GetSmall(arity)), 1);
}

definition *find_def_in_module(TAGGED head, TAGGED module)
{
  mod_def *m = find_module(module, 0);
  if (m == nullptr)
    return nullptr;
  TAGGED *args = nullptr;
  definition *d = find_definition(m, head, &args, 0);
  if (self != nullptr)
    self->structure = args;
  if (d == nullptr || d->proc.enter_instr == ENTER_UNDEFINED)
    return nullptr;
  return d;
}

/* ---- Entry instructions ---- */

void set_enter_instr_breakpointing(procedure *f, int breakpoint)
{
  unsigned kind;
  if (breakpoint || (f->properties & PROP_SPY) != 0)
    kind = BREAKPOINT;
  else if ((f->properties & PROP_BLOCK) != 0)
    kind = BLOCKPOINT;
  else
    kind = predtyp(f);
  f->enter_instr = static_cast<std::uint16_t>(kind);
  f->emul_entry = pred_tab[kind];
}

void set_enter_instr(definition *f, int type)
{
  set_predtyp(&f->proc, static_cast<unsigned>(type));
  bool debugging = self != nullptr && (self->current_debugger_local == 1 || self->current_debugger_local == 3);
  bool visible = f->module == nullptr || !module_hidden(f->module) || f->next_public != nullptr;
  set_enter_instr_breakpointing(&f->proc, debugging && visible);
}

void update_exports(definition *f, int type)
{
  set_enter_instr(f, type);
  if (f->module == eglobal->prolog_module)
    return;
  for (definition *e = f->exported_to; e != nullptr; e = e->exported_to) {
    e->module = f->module;
    e->proc.code = f->proc.code;
    e->blockinfo = f->blockinfo;
    e->metainfo = f->metainfo;
    e->proc.properties = f->proc.properties;
    e->proc.enter_instr = f->proc.enter_instr;
    e->proc.emul_entry = f->proc.emul_entry;
  }
}

/* ---- Defining, importing, undefining ---- */

void init_interpreted(definition *f)
{
  auto *info = static_cast<int_info *>(checkalloc(sizeof(int_info), mm_code(MM_BIN_INT_INFO)));
  info->first = nullptr;
  info->varcase = nullptr;
  info->lstcase = nullptr;
  info->indexer = new_switch_on_key(2, nullptr);
  f->proc.code.intinfo = info;
}

void redefine_predicate(definition *f, int type)
{
  if (type == ENTER_INTERPRETED) {
    init_interpreted(f);
  } else {
    auto *info = static_cast<incore_info *>(checkalloc(sizeof(incore_info), mm_code(MM_BIN_INCORE_INFO)));
    info->clauses = nullptr; /* the clause count, 0 */
    info->clauses_tail = &info->clauses;
    const bool profiled = type == ENTER_PROFILEDCODE || type == ENTER_PROFILEDCODE_INDEXED;
    INSN *none = profiled ? pfailcode : failcode;
    info->varcase = none;
    info->lstcase = nullptr;
    info->othercase = nullptr;
    if (type == ENTER_COMPACTCODE_INDEXED || type == ENTER_PROFILEDCODE_INDEXED) {
      /* Asked for indexed code at once: the switch exists from the start,
         so that clause insertion always finds it. */
      info->lstcase = none;
      info->othercase = new_switch_on_key(2, none);
    }
    f->proc.code.incoreinfo = info;
    f->proc.properties &= ~PROP_CUT;
  }
  update_exports(f, type);
}

void import_predicate(definition *d1, mod_def *mf, definition *d2)
{
  if (d1 == d2 || d1->module == d2->module)
    return;
  undefine_predicate(d2);
  d2->imported_from = mf;
  definition *last = d2;
  while (last->exported_to != nullptr)
    last = last->exported_to;
  last->exported_to = d1->exported_to;
  d1->exported_to = d2;
  update_exports(d1, static_cast<int>(predtyp(d1)));
}

definition *last_export(definition *d)
{
  /* The records importing through d follow it: d's direct importers and,
     in turn, theirs.  A record belongs to that run when the record it
     names as its source is already in the run. */
  definition *last = d;
  for (definition *e = d->exported_to; e != nullptr; e = e->exported_to) {
    mod_def *src = e->imported_from;
    definition *via = src == nullptr ? nullptr
                                     : incore_gethash(src->preds, pred_key(e->proc.printname, e->proc.arity))->value.def;
    bool through = false;
    for (definition *r = d; r != e; r = r->exported_to)
      if (r == via) {
        through = true;
        break;
      }
    if (!through)
      break;
    last = e;
  }
  return last;
}

namespace {

void free_blockinfo(definition *f)
{
  block_info *b = f->blockinfo;
  while (b != nullptr) {
    block_info *next = b->next;
    checkdealloc(b, 8 + static_cast<std::size_t>(f->proc.arity), mm_code(MM_BIN_MISC));
    b = next;
  }
  f->blockinfo = nullptr;
}

void free_metainfo(definition *f)
{
  if (f->metainfo != nullptr && f->metainfo != call_n_metainfo)
    checkdealloc(f->metainfo, static_cast<std::size_t>(f->proc.arity) + 1, mm_code(MM_BIN_MISC));
  f->metainfo = nullptr;
}

void dispose_interpreted(definition *f)
{
  if (abolish_interpreted_hook != nullptr) {
    abolish_interpreted_hook(f);
    return;
  }
  int_info *info = f->proc.code.intinfo;
  if (info != nullptr && info->first == nullptr) {
    if (info->indexer != nullptr)
      dispose_switch_on_key(info->indexer);
    checkdealloc(info, sizeof(int_info), mm_code(MM_BIN_INT_INFO));
  }
}

void dispose_fd(definition *f)
{
  fd_info *slots = f->proc.code.fdinfo;
  if (slots == nullptr)
    return;
  if (fd_destructor_hook != nullptr)
    for (void *s : slots->indexical)
      if (s != nullptr)
        fd_destructor_hook(s);
  /* The library allocates the record itself as misc. space. */
  checkdealloc(slots, sizeof(fd_info), mm_code(MM_BIN_MISC));
}

/* The record at the head of the import chain that holds f. */
definition *chain_predecessor(definition *f)
{
  mod_def *owner = f->module;
  if (owner == nullptr)
    return nullptr;
  definition *root = incore_gethash(owner->preds, pred_key(f->proc.printname, f->proc.arity))->value.def;
  for (definition *p = root; p != nullptr; p = p->exported_to)
    if (p->exported_to == f)
      return p;
  return nullptr;
}

} // namespace

void undefine_predicate(definition *f)
{
  if (f->defined_in == f->imported_from) {
    unsigned type = predtyp(f);
    if (type > FD_CONSTRAINT)
      return;
    if (type != ENTER_UNDEFINED && eglobal->typein_mod != eglobal->prolog_module) {
      free_blockinfo(f);
      f->proc.properties &= ~(PROP_BLOCK | PROP_META);
      free_metainfo(f);
      f->filename = atom_nil;
      if (type == ENTER_INTERPRETED)
        dispose_interpreted(f);
      else if (type == FD_CONSTRAINT)
        dispose_fd(f);
      else if (is_compiled_type(type))
        leave_to_gc(static_cast<int>(type), f);
      f->proc.code.any = nullptr;
    }
  } else {
    definition *last = last_export(f);
    definition *pred = chain_predecessor(f);
    if (pred != nullptr)
      pred->exported_to = last->exported_to;
    last->exported_to = nullptr;
    f->imported_from = f->module = f->defined_in;
    f->blockinfo = nullptr;
    f->metainfo = nullptr;
    f->filename = atom_nil;
    /* The code is the exporter's; it must not stay reachable from here. */
    f->proc.code.any = nullptr;
    f->proc.properties &= ~(PROP_BLOCK | PROP_META);
  }
  f->proc.properties &= ~(PROP_DYNAMIC | PROP_MULTIFILE | PROP_VOLATYLE);
  update_exports(f, ENTER_UNDEFINED);
}

void undefine_all(mod_def *m, int clean_spypoints)
{
  m->filename = atom_nil;
  m->public_lst = PUBLIC_END;
  sw_on_key *t = m->preds;
  for (std::uint32_t i = 0; i < sw_slots(t); i++) {
    definition *d = t->tab[i].value.def;
    if (t->tab[i].key == 0 || d == nullptr || d->module == eglobal->prolog_module ||
        (is_native_type(predtyp(d)) && d->imported_from == d->defined_in))
      continue;
    if (clean_spypoints)
      d->proc.properties &= ~PROP_SPY;
    undefine_predicate(d);
    d->next_public = nullptr;
  }
}

/* ---- Code walkers ---- */

void free_reaper(void *block, std::size_t size, int bin) { checkdealloc(block, size, mm_code(bin)); }
void noop_reaper(void *, std::size_t, int) {}

namespace {

try_node *first_try_node(INSN *entry)
{
  if (entry == nullptr || entry == failcode || entry == pfailcode || *entry != OPCODE(TRY))
    return nullptr;
  return reinterpret_cast<try_node *>(reinterpret_cast<char *>(entry) - offsetof(try_node, opcode));
}

} // namespace

int scan_try(INSN **chain, code_reaper reaper)
{
  int count = 0;
  for (try_node *n = first_try_node(*chain); n != nullptr;) {
    try_node *next = n->next;
    reaper(n, sizeof(try_node), MM_BIN_TRY_NODE);
    count++;
    n = next;
  }
  if (reaper == free_reaper && count > 0)
    *chain = nullptr;
  return count;
}

int scan_emulinfo(emul_info *clause, code_reaper reaper)
{
  std::uint32_t size = emul_objsize(clause);
  if (reaper == free_reaper && eglobal->del_table_comp != nullptr)
    eglobal->del_table_comp(clause->emulcode, reinterpret_cast<char *>(clause) + size);
  reaper(clause, size, MM_BIN_EMUL_INFO);
  return 1;
}

int scan_incoreinfo(incore_info *info, code_reaper reaper)
{
  int count = 0;
  emul_info *end = *info->clauses_tail;
  for (emul_info *c = info->clauses; c != end;) {
    emul_info *next = c->next;
    count += scan_emulinfo(c, reaper);
    c = next;
  }
  reaper(info, sizeof(incore_info), MM_BIN_INCORE_INFO);
  return count + 1;
}

int scan_info(unsigned type, definfo info, code_reaper reaper)
{
  if (info.any == nullptr)
    return 0;
  int count = 0;
  switch (type) {
  case ENTER_COMPACTCODE_INDEXED:
  case ENTER_PROFILEDCODE_INDEXED: {
    incore_info *ii = info.incoreinfo;
    count += scan_try(&ii->lstcase, reaper);
    if (sw_on_key *t = ii->othercase) {
      INSN *shared = nullptr;
      bool shared_seen = false;
      for (std::uint32_t i = 0; i < sw_slots(t); i++) {
        if (t->tab[i].key != 0) {
          count += scan_try(&t->tab[i].value.code, reaper);
        } else if (!shared_seen) {
          shared_seen = true;
          shared = t->tab[i].value.code;
        }
      }
      if (shared_seen)
        count += scan_try(&shared, reaper);
      reaper(t, sw_on_key_bytes(sw_slots(t)), MM_BIN_SW_ON_KEY);
      count++;
    }
  }
    [[fallthrough]];
  case ENTER_COMPACTCODE:
  case ENTER_PROFILEDCODE:
    count += scan_try(&info.incoreinfo->varcase, reaper);
    count += scan_incoreinfo(info.incoreinfo, reaper);
    break;
  case FD_CONSTRAINT:
    if (reaper == free_reaper && fd_destructor_hook != nullptr)
      for (void *s : info.fdinfo->indexical)
        if (s != nullptr)
          fd_destructor_hook(s);
    break;
  default:
    break;
  }
  return count;
}

/* ---- Dead predicates ---- */

namespace {

gcdef_mem *collect_to = nullptr;
gcdef_proc *collect_proc = nullptr;
int collect_at = 0;

/* Set while leave_to_gc or reclaim_dead_predicates works on the dead list
   and its scratch table.  Both allocate, and an allocation may defragment,
   which reclaims dead predicates: a reclamation nested there would free
   or move the scratch table under a checkrealloc that is copying it (the
   outer call then copies from and frees a block already freed, and the
   block sits on a free list twice) and unlink records the outer call is
   walking.  The nested call is skipped; the dead code waits for the next
   reclamation. */
bool dead_list_busy = false;
struct dead_list_guard {
  bool was = dead_list_busy;
  dead_list_guard() { dead_list_busy = true; }
  ~dead_list_guard() { dead_list_busy = was; }
  dead_list_guard(const dead_list_guard &) = delete;
  dead_list_guard &operator=(const dead_list_guard &) = delete;
};

void collecting_reaper(void *block, std::size_t size, int)
{
  collect_to[collect_at++] = gcdef_mem{block, size, collect_proc};
}

void resize_scratch(int entries)
{
  int want = power_of_two(entries);
  if (want == eglobal->gcdef_scratch_size)
    return;
  if (want == 0) {
    checkdealloc(eglobal->gcdef_scratch, sizeof(gcdef_mem) * eglobal->gcdef_scratch_size, mm_code(MM_BIN_GCDEF));
    eglobal->gcdef_scratch = nullptr;
  } else if (eglobal->gcdef_scratch == nullptr) {
    eglobal->gcdef_scratch = static_cast<gcdef_mem *>(checkalloc(sizeof(gcdef_mem) * want, mm_code(MM_BIN_GCDEF)));
  } else {
    eglobal->gcdef_scratch = static_cast<gcdef_mem *>(checkrealloc(
        eglobal->gcdef_scratch, sizeof(gcdef_mem) * eglobal->gcdef_scratch_size, sizeof(gcdef_mem) * want,
        mm_code(MM_BIN_GCDEF)));
  }
  eglobal->gcdef_scratch_size = want;
}

void mark_address(gcdef_mem *mems, int n, const void *addr)
{
  auto a = reinterpret_cast<std::uintptr_t>(addr);
  int lo = 0, hi = n - 1;
  while (lo <= hi) {
    int mid = (lo + hi) / 2;
    auto p = reinterpret_cast<std::uintptr_t>(mems[mid].ptr);
    if (a < p)
      hi = mid - 1;
    else if (a >= p + mems[mid].size)
      lo = mid + 1;
    else {
      mems[mid].proc->marked = 1;
      return;
    }
  }
}

} // namespace

/* The code addresses that running code may still return to or retry:
   every choicepoint's alternative and every environment's continuation,
   the escape environments of $resume giving their interrupted address. */
void walk_control_stack(worker *w, void (*visit)(const void *addr, void *arg), void *arg)
{
  if (w == nullptr || w->choice_start == nullptr)
    return;
  const INSN *resume_cont = preds.resume != nullptr ? &preds.resume->proc.continuation : nullptr;
  frame *e = w->frame_;
  INSN *pc = w->next_insn;
  for (choice_walk cw(w); !cw.done(); cw.step()) {
    node *b = cw.cp;
    visit(node_alt(b), arg);
    while (e != nullptr && reinterpret_cast<TAGGED *>(e) >= b->local_top) {
      if (pc == resume_cont && resume_cont != nullptr) {
        TAGGED *words = reinterpret_cast<TAGGED *>(e);
        visit(reinterpret_cast<char *>(words[4]) - 3 + ((words[5] >> 3) & ~1u), arg);
      } else {
        visit(pc, arg);
      }
      pc = e->next_insn;
      e = e->frame_;
    }
    visit(pc, arg);
    e = b->frame_;
    pc = b->next_insn;
  }
}

void leave_to_gc(int type, definition *f)
{
  dead_list_guard guard;
  auto *g = static_cast<gcdef_proc *>(checkalloc(sizeof(gcdef_proc), mm_code(MM_BIN_GCDEF)));
  bool compiled = is_compiled_type(static_cast<unsigned>(type));
  g->tag = static_cast<std::uint32_t>(type);
  g->marked = 0;
  g->pad1 = 0;
  g->arity = compiled ? f->proc.arity : static_cast<std::int16_t>(-1);
  g->module = compiled && f->module != nullptr ? f->module->name : atom_nil;
  g->printname = compiled ? f->proc.printname : atom_nil;
  g->filename = compiled ? f->filename : atom_nil;
  g->info = f->proc.code;
  g->next = eglobal->gcdef_procs;
  eglobal->gcdef_procs = g;
  eglobal->gcdef_mems += scan_info(g->tag, g->info, noop_reaper);
  resize_scratch(eglobal->gcdef_mems);
}

namespace {

struct mark_ctx {
  gcdef_mem *mems;
  int n;
};

void visit_mark(const void *addr, void *arg)
{
  auto *c = static_cast<mark_ctx *>(arg);
  mark_address(c->mems, c->n, addr);
}

} // namespace

void reclaim_dead_predicates(worker *w)
{
  if (eglobal->gcdef_procs == nullptr || dead_list_busy)
    return;
  dead_list_guard guard;
  std::int64_t t0 = vr_usertime_ms();
  int total = 0;
  for (gcdef_proc *g = eglobal->gcdef_procs; g != nullptr; g = g->next)
    total += scan_info(g->tag, g->info, noop_reaper);
  resize_scratch(total);
  collect_to = eglobal->gcdef_scratch;
  collect_at = 0;
  for (gcdef_proc *g = eglobal->gcdef_procs; g != nullptr; g = g->next) {
    g->marked = 0;
    collect_proc = g;
    scan_info(g->tag, g->info, collecting_reaper);
  }
  std::sort(collect_to, collect_to + collect_at,
            [](const gcdef_mem &a, const gcdef_mem &b) { return a.ptr < b.ptr; });
  mark_ctx ctx{collect_to, collect_at};
  walk_control_stack(w, visit_mark, &ctx);
  collect_to = nullptr;
  collect_proc = nullptr;

  int remaining = 0;
  gcdef_proc **link = &eglobal->gcdef_procs;
  while (gcdef_proc *g = *link) {
    if (g->marked) {
      remaining += scan_info(g->tag, g->info, noop_reaper);
      link = &g->next;
      continue;
    }
    *link = g->next;
    scan_info(g->tag, g->info, free_reaper);
    checkdealloc(g, sizeof(gcdef_proc), mm_code(MM_BIN_GCDEF));
  }
  eglobal->gcdef_mems = remaining;
  resize_scratch(remaining);
  eglobal->stats.reclaim_dead_predicates_count++;
  eglobal->stats.reclaim_dead_predicates_time += vr_usertime_ms() - t0;
}

/* ---- Clause references ---- */

emul_info *free_clause_of_word(TAGGED word)
{
  /* Only a record that $make_bytecode_object made and nothing installed is
     loose; any other word names memory this built-in must not free.  The
     record leaves the registry so that it can never be installed later. */
  emul_info *clause = pending_clause_of_word(word);
  if (clause != nullptr)
    forget_pending_clause(clause);
  return clause;
}

/* ---- Atom garbage collection ---- */

namespace {

inline void mark_word(TAGGED t)
{
  if ((t & 7) == ATOM_TAG && (t >> 31) == 0)
    agc_atom(t);
}

/* The walks' visiting callback: atoms are marked, and undefined
   predicates that code calls are flagged, since they must survive. */
TAGGED agc_visit(void *, TAGGED value, saverest_info *, int kind)
{
  if (kind == RELOC_ATOM) {
    mark_word(value);
  } else {
    auto *d = reinterpret_cast<definition *>(value);
    if (d != nullptr && predtyp(d) == ENTER_UNDEFINED)
      d->proc.properties |= PROP_MARKED;
  }
  return value;
}

void mark_instance_atoms(const instance *ins)
{
  mark_word(ins->extra);
  mark_word(ins->key);
  relocate_instance_words(const_cast<TAGGED *>(ins->code), instance_words(ins), agc_visit, nullptr);
}

void mark_clause_code(emul_info *clause)
{
  mark_word(clause->filename);
  scan_code(clause, agc_visit);
}

void mark_incore(incore_info *info)
{
  if (info == nullptr)
    return;
  emul_info *end = *info->clauses_tail;
  for (emul_info *c = info->clauses; c != end; c = c->next)
    mark_clause_code(c);
}

void mark_interpreted(int_info *info)
{
  if (info == nullptr || info->first == nullptr)
    return;
  instance *i = info->first;
  for (;;) {
    mark_instance_atoms(i);
    auto next = reinterpret_cast<std::uintptr_t>(i->forward);
    if (next == 0 || (next & 1) != 0)
      break;
    i = reinterpret_cast<instance *>(next);
  }
}

void mark_pred(definition *d, void *arg)
{
  auto *m = static_cast<mod_def *>(arg);
  unsigned type = predtyp(d);
  if (type == ENTER_UNDEFINED)
    return;
  mark_word(d->proc.printname);
  mark_word(d->filename);
  if (d->module != m || d->defined_in != m)
    return;
  if (is_compiled_type(type))
    mark_incore(d->proc.code.incoreinfo);
  else if (type == ENTER_INTERPRETED)
    mark_interpreted(d->proc.code.intinfo);
}

void mark_module(mod_def *m, void *)
{
  mark_word(m->name);
  mark_word(m->filename);
  for_each_predicate(m, mark_pred, m);
  sw_on_key *bb = m->bb;
  for (std::uint32_t i = 0; i < sw_slots(bb); i++) {
    if (bb->tab[i].key == 0)
      continue;
    mark_word(bb->tab[i].key);
    if (bb->tab[i].value.inst != nullptr)
      mark_instance_atoms(bb->tab[i].value.inst);
  }
}

/* Records that something outside the code holds: the engine's own
   predicates and the continuations on the control stack. */
void mark_held_records(worker *w)
{
  auto **first = reinterpret_cast<definition **>(&preds);
  std::size_t count = offsetof(pred_addresses, nd_current_atom) / sizeof(definition *);
  for (std::size_t i = 0; i < count; i++)
    if (first[i] != nullptr && is_live_definition(first[i]))
      first[i]->proc.properties |= PROP_MARKED;
  if (w != nullptr && is_live_definition(w->predicate))
    w->predicate->proc.properties |= PROP_MARKED;
  walk_control_stack(
      w,
      [](const void *addr, void *) {
        /* A continuation into a record is its `continuation` halfword. */
        auto *d = reinterpret_cast<const definition *>(static_cast<const char *>(addr) -
                                                       offsetof(procedure, continuation));
        if ((reinterpret_cast<std::uintptr_t>(d) & 7) == 0 && is_live_definition(d))
          const_cast<definition *>(d)->proc.properties |= PROP_MARKED;
      },
      nullptr);
}

void drop_unreferenced(mod_def *m, void *)
{
  sw_on_key *t = m->preds;
  int live = 0;
  for (std::uint32_t i = 0; i < sw_slots(t); i++) {
    definition *d = t->tab[i].value.def;
    if (t->tab[i].key == 0 || d == nullptr)
      continue;
    std::uint32_t props = d->proc.properties;
    bool droppable = predtyp(d) == ENTER_UNDEFINED && (props & (PROP_MARKED | PROP_LOCKED)) == 0 &&
                     d->exported_to == nullptr && d->next_public == nullptr &&
                     d->imported_from == d->defined_in && d->defined_in == m;
    if (droppable) {
      t->tab[i].value.def = nullptr;
      registry_remove(d);
      free_blockinfo(d);
      free_metainfo(d);
      checkdealloc(d, sizeof(definition), mm_code(MM_BIN_DEFINITION));
      continue;
    }
    d->proc.properties &= ~PROP_MARKED;
    mark_word(d->proc.printname);
    live++;
  }
  if (static_cast<std::uint32_t>(population_table_size(live)) < sw_slots(t))
    expand_sw_on_key(&m->preds, nullptr, nullptr);
}

void agc_mark_predicates(worker *w)
{
  if (eglobal->user_modules == nullptr)
    return;
  for_each_module(mark_module, nullptr);
  /* Erased clauses waiting to be freed name their predicates, which must
     outlive them; detached ones are in no clause list. */
  agc_abolished(mark_instance_atoms);
  for (gcdef_proc *g = eglobal->gcdef_procs; g != nullptr; g = g->next) {
    mark_word(g->module);
    mark_word(g->printname);
    mark_word(g->filename);
    if (is_compiled_type(g->tag))
      mark_incore(g->info.incoreinfo);
  }
  mark_held_records(w);
  for_each_module(drop_unreferenced, nullptr);
}

} // namespace

void predicates_install_hooks(void)
{
  def_call_n_install = install_call_n;
  live_regs_pred_arity = definition_arity;
  mm_reclaim_dead_predicates_hook = reclaim_hook;
  if (agc_reclaim_hook == nullptr)
    agc_reclaim_hook = agc_reclaim;
  agc_instance_marker = mark_instance_atoms;
  agc_add_root_marker(agc_mark_predicates);
}

void predicates_remove_hooks(void)
{
  if (def_call_n_install == install_call_n)
    def_call_n_install = nullptr;
  if (live_regs_pred_arity == definition_arity)
    live_regs_pred_arity = nullptr;
  if (mm_reclaim_dead_predicates_hook == reclaim_hook)
    mm_reclaim_dead_predicates_hook = nullptr;
  if (agc_reclaim_hook == agc_reclaim)
    agc_reclaim_hook = nullptr;
  if (agc_instance_marker == mark_instance_atoms)
    agc_instance_marker = nullptr;
  agc_remove_root_marker(agc_mark_predicates);
}

void predicates_free_registry(void)
{
  if (live_defs != nullptr)
    dispose_switch_on_key(live_defs);
  live_defs = nullptr;
}
