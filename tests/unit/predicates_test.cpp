// Predicate records: look-up and creation (call/N on demand), entry
// instructions, import and undefine propagation, the dead-predicate list,
// atom garbage collection of predicate records, and the checks on raw
// addresses that Prolog hands back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "code_records.h"
#include "database_fixture.h"
#include "indexing.h"
#include "live_regs.h"
#include "memman.h"
#include "stack_walk.h"
#include "wamsup.h"

namespace {

struct Predicates : DatabaseFixture {
  mod_def *user() { return eglobal->typein_mod; }

  // A compiled clause {GET_CONSTANT_X0Q a, EXECUTEQ callee} (32 bytes),
  // appended by hand as the single clause of a non-indexed predicate.
  static emul_info *make_clause(TAGGED constant, definition *callee, TAGGED file)
  {
    auto *c = static_cast<emul_info *>(checkalloc(32, mm_code(MM_BIN_EMUL_INFO)));
    std::memset(c, 0, 32);
    c->elsecode = failcode;
    set_emul_ix_objsize(c, 31, 32);
    c->filename = file;
    c->emulcode[0] = OPCODE(GET_CONSTANT_X0Q);
    c->emulcode[1] = 0;
    set_code_word(&c->emulcode[2], constant);
    c->emulcode[4] = OPCODE(EXECUTEQ);
    c->emulcode[5] = 0;
    set_code_word(&c->emulcode[6], PointerToTerm(callee));
    return c;
  }
  // Defines f as compiled code with one clause reached through a one-node
  // try chain, so that dead code has clause, try node and incore blocks.
  static emul_info *define_compiled(definition *f, TAGGED constant, definition *callee, TAGGED file)
  {
    undefine_predicate(f);
    redefine_predicate(f, ENTER_COMPACTCODE);
    emul_info *c = make_clause(constant, callee, file);
    incore_info *info = f->proc.code.incoreinfo;
    c->next = reinterpret_cast<emul_info *>(1);
    info->clauses = c;
    info->clauses_tail = &c->next;
    try_node *n = make_try_node(f->proc.arity, c->emulcode);
    info->varcase = &n->opcode;
    f->filename = file;
    return c;
  }
  static int dead_count()
  {
    int n = 0;
    for (gcdef_proc *g = eglobal->gcdef_procs; g != nullptr; g = g->next)
      n++;
    return n;
  }
};

TEST_F(Predicates, LookUpCreatesOnlyWhenAskedAndFillsTheNewRecord)
{
  mod_def *m = module("lookup_m");
  TAGGED foo = atom("foo");
  EXPECT_EQ(insert_definition(m, foo, 2, 0), nullptr) << "insertp 0 must not create foo/2";
  definition *d = insert_definition(m, foo, 2, 1);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(insert_definition(m, foo, 2, 0), d) << "the created record must be found again";
  EXPECT_EQ(d->proc.properties, 4096u);
  EXPECT_EQ(d->proc.enter_instr, ENTER_UNDEFINED);
  EXPECT_EQ(d->proc.frame_size, 16);
  EXPECT_EQ(d->proc.continuation, OPCODE(KONTINUE));
  EXPECT_EQ(d->proc.printname, foo);
  EXPECT_EQ(d->module, m);
  EXPECT_EQ(d->imported_from, m);
  EXPECT_EQ(d->defined_in, m);
  EXPECT_EQ(d->filename, atom_nil);
  EXPECT_EQ(d->next_public, nullptr);
  EXPECT_EQ(insert_definition(module("other_m"), foo, 2, 0), nullptr) << "another module must not see m's foo/2";
}

TEST_F(Predicates, SystemPredicatesAreSeenOnlyWhenExported)
{
  mod_def *pm = eglobal->prolog_module;
  definition *hidden = insert_definition(pm, atom("sys_hidden"), 1, 1);
  definition *shown = insert_definition(pm, atom("sys_shown"), 1, 1);
  shown->next_public = pm->public_lst;
  pm->public_lst = shown;
  mod_def *m = module("client");
  EXPECT_EQ(insert_definition(m, atom("sys_hidden"), 1, 0), nullptr);
  EXPECT_EQ(insert_definition(m, atom("sys_shown"), 1, 0), shown);
  EXPECT_EQ(insert_definition(nullptr, atom("sys_shown"), 1, 0), shown) << "a null module finds exported ones";
  EXPECT_NE(hidden, nullptr);
  // insertp 2 gives the asking module its own copy.
  definition *copy = insert_definition(m, atom("sys_shown"), 1, 2);
  ASSERT_NE(copy, shown);
  EXPECT_EQ(copy->defined_in, m);
  EXPECT_EQ(copy->proc.printname, shown->proc.printname);
  EXPECT_EQ(insert_definition(m, atom("sys_shown"), 1, 0), copy);
}

TEST_F(Predicates, CallNIsCreatedOnceInPrologWithItsExecuteCallClause)
{
  TAGGED call = MakeAtom(atom_call_enum);
  mod_def *pm = eglobal->prolog_module;
  definition *d = insert_definition(user(), call, 5, 0);
  ASSERT_NE(d, nullptr) << "call/5 must be made on demand even with insertp 0";
  EXPECT_EQ(d->defined_in, pm);
  EXPECT_EQ(pm->public_lst, d) << "call/5 must head prolog's export list";
  EXPECT_EQ(predtyp(d), unsigned(ENTER_COMPACTCODE));
  EXPECT_NE(d->proc.properties & PROP_META, 0u);
  ASSERT_NE(d->metainfo, nullptr);
  EXPECT_EQ(d->metainfo[0], 1);
  EXPECT_EQ(d->metainfo[1], 0);
  incore_info *info = d->proc.code.incoreinfo;
  emul_info *clause = info->clauses;
  ASSERT_NE(clause, nullptr);
  EXPECT_EQ(clause->emulcode[0], OPCODE(EXECUTE_CALL));
  EXPECT_EQ(clause->emulcode[1], 5);
  EXPECT_EQ(emul_ix(clause), 31u);
  EXPECT_EQ(info->varcase, clause->emulcode);
  EXPECT_EQ(insert_definition(module("elsewhere"), call, 5, 0), d) << "the second look-up must find the same record";
  EXPECT_EQ(insert_definition(nullptr, call, 5, 0), d);
  EXPECT_EQ(insert_definition(user(), call, 0, 0), nullptr) << "call/0 is not a call/N";
}

TEST_F(Predicates, FindDefinitionTakesNameAndArgumentsFromTheGoal)
{
  definition *p2 = insert_definition(user(), atom("p"), 2, 1);
  definition *dot = insert_definition(user(), atom_dot, 2, 1);
  definition *p0 = insert_definition(user(), atom("p"), 0, 1);
  TAGGED goal = structure(atom("p"), {atom("a"), atom("b")});
  TAGGED *args = nullptr;
  EXPECT_EQ(find_definition(user(), goal, &args, 0), p2);
  EXPECT_EQ(args, TagToSTR(goal) + 1);
  TAGGED cell = list({atom("x")});
  EXPECT_EQ(find_definition(user(), cell, &args, 0), dot);
  EXPECT_EQ(args, TagToLST(cell));
  EXPECT_EQ(find_definition(user(), atom("p"), &args, 0), p0);
}

TEST_F(Predicates, ParseDefinitionFollowsModulePrefixesAndRejectsMalformedSpecs)
{
  definition *d = parse_definition(qualified("pm1", spec("q", 3)), user());
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->defined_in, find_module(atom("pm1"), 0));
  // Module:Name/Arity reads as '/'(':'(M, N), A).
  TAGGED inner = structure(MakeAtom(atom_slash_enum), {qualified("pm2", atom("r")), MakeSmall_checked(1)});
  definition *r = parse_definition(inner, user());
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->defined_in, find_module(atom("pm2"), 0));
  struct {
    const char *why;
    TAGGED spec;
  } bad[] = {
      {"not a '/'/2 term", atom("q")},
      {"arity not an integer", structure(MakeAtom(atom_slash_enum), {atom("q"), atom("x")})},
      {"arity above 255", spec("q", 256)},
      {"negative arity", spec("q", -1)},
      {"name not an atom", structure(MakeAtom(atom_slash_enum), {MakeSmall_checked(3), MakeSmall_checked(1)})},
  };
  for (auto &c : bad)
    EXPECT_EQ(parse_definition(c.spec, user()), nullptr) << c.why;
}

TEST_F(Predicates, EntryInstructionFollowsSpyBlockAndTheDebugger)
{
  definition *d = insert_definition(user(), atom("e"), 1, 1);
  set_enter_instr(d, ENTER_INTERPRETED);
  EXPECT_EQ(d->proc.enter_instr, ENTER_INTERPRETED);
  d->proc.properties |= PROP_BLOCK;
  set_enter_instr(d, ENTER_INTERPRETED);
  EXPECT_EQ(d->proc.enter_instr, BLOCKPOINT);
  d->proc.properties |= PROP_SPY;
  set_enter_instr(d, ENTER_INTERPRETED);
  EXPECT_EQ(d->proc.enter_instr, BREAKPOINT);
  EXPECT_EQ(predtyp(d), unsigned(ENTER_INTERPRETED)) << "the type must survive a debugger kind";
  d->proc.properties &= ~(PROP_BLOCK | PROP_SPY);
  w->current_debugger_local = 1;
  set_enter_instr(d, ENTER_INTERPRETED);
  EXPECT_EQ(d->proc.enter_instr, BREAKPOINT) << "debugging traps a visible predicate";
  definition *sys = insert_definition(eglobal->prolog_module, atom("sys_e"), 0, 1);
  set_enter_instr(sys, ENTER_INTERPRETED);
  EXPECT_EQ(sys->proc.enter_instr, ENTER_INTERPRETED) << "a hidden module's unexported predicate is not trapped";
  w->current_debugger_local = 0;
}

TEST_F(Predicates, ImportCopiesCodeAndRedefinitionReachesEveryImporter)
{
  mod_def *a = module("imp_a"), *b = module("imp_b"), *c = module("imp_c");
  definition *pa = insert_definition(a, atom("p"), 1, 1);
  redefine_predicate(pa, ENTER_COMPACTCODE);
  definition *pb = insert_definition(b, atom("p"), 1, 1);
  definition *pc = insert_definition(c, atom("p"), 1, 1);
  import_predicate(pa, a, pb);
  import_predicate(pb, b, pc); // through b
  for (definition *d : {pb, pc}) {
    EXPECT_EQ(d->module, a);
    EXPECT_EQ(d->proc.code.any, pa->proc.code.any);
    EXPECT_EQ(predtyp(d), unsigned(ENTER_COMPACTCODE));
  }
  EXPECT_EQ(pb->imported_from, a);
  EXPECT_EQ(pc->imported_from, b);
  // Redefining the exporter as dynamic reaches both importers.
  undefine_predicate(pa);
  redefine_predicate(pa, ENTER_INTERPRETED);
  for (definition *d : {pb, pc}) {
    EXPECT_EQ(predtyp(d), unsigned(ENTER_INTERPRETED));
    EXPECT_EQ(d->proc.code.any, pa->proc.code.any);
  }
}

TEST_F(Predicates, UndefiningAnImporterLeavesExporterAndOtherImportersAlone)
{
  mod_def *a = module("u_a"), *b = module("u_b"), *c = module("u_c"), *d = module("u_d");
  definition *pa = insert_definition(a, atom("p"), 0, 1);
  redefine_predicate(pa, ENTER_INTERPRETED);
  definition *pb = insert_definition(b, atom("p"), 0, 1);
  definition *pc = insert_definition(c, atom("p"), 0, 1);
  definition *pd = insert_definition(d, atom("p"), 0, 1);
  import_predicate(pa, a, pb);
  import_predicate(pa, a, pc);
  import_predicate(pb, b, pd); // d imports through b
  undefine_predicate(pb);
  EXPECT_EQ(predtyp(pa), unsigned(ENTER_INTERPRETED)) << "the exporter must keep its code";
  EXPECT_EQ(predtyp(pc), unsigned(ENTER_INTERPRETED)) << "another importer must keep the code";
  EXPECT_EQ(pc->proc.code.any, pa->proc.code.any);
  EXPECT_EQ(predtyp(pb), unsigned(ENTER_UNDEFINED));
  EXPECT_EQ(pb->proc.code.any, nullptr) << "the undefined importer must not keep the exporter's code";
  EXPECT_EQ(pb->imported_from, b);
  EXPECT_EQ(pb->module, b);
  EXPECT_EQ(predtyp(pd), unsigned(ENTER_UNDEFINED)) << "what imported through b goes with it";
  // The exporter's chain now holds only c.
  EXPECT_EQ(pa->exported_to, pc);
  EXPECT_EQ(pc->exported_to, nullptr);
  // A later change of the exporter no longer reaches b.
  undefine_predicate(pa);
  redefine_predicate(pa, ENTER_COMPACTCODE);
  EXPECT_EQ(predtyp(pc), unsigned(ENTER_COMPACTCODE));
  EXPECT_EQ(predtyp(pb), unsigned(ENTER_UNDEFINED));
}

TEST_F(Predicates, UndefineAllClearsTheModuleButNotSystemRecords)
{
  mod_def *m = module("ua");
  definition *p = insert_definition(m, atom("p"), 0, 1);
  redefine_predicate(p, ENTER_INTERPRETED);
  p->proc.properties |= PROP_SPY | PROP_DYNAMIC;
  p->next_public = PUBLIC_END;
  m->public_lst = p;
  m->filename = atom("f.pl");
  definition *c = insert_definition(m, atom("cc"), 0, 1);
  redefine_predicate(c, ENTER_INTERPRETED);
  undefine_all(m, 1);
  EXPECT_EQ(m->public_lst, PUBLIC_END);
  EXPECT_EQ(m->filename, atom_nil);
  EXPECT_EQ(predtyp(p), unsigned(ENTER_UNDEFINED));
  EXPECT_EQ(p->next_public, nullptr);
  EXPECT_EQ(p->proc.properties & (PROP_SPY | PROP_DYNAMIC), 0u);
  EXPECT_EQ(predtyp(c), unsigned(ENTER_UNDEFINED));
}

// Dead compiled code survives a reclamation exactly while something on the
// control stack points into it.
TEST_F(Predicates, DeadCodeIsFreedOnlyWhenNothingRunsInIt)
{
  enum where { NOWHERE, PROGRAM_COUNTER, CONTINUATION, ALTERNATIVE };
  struct {
    const char *why;
    where holder;
  } cases[] = {
      {"nothing refers to the code", NOWHERE},
      {"the current code address is inside a clause", PROGRAM_COUNTER},
      {"an environment returns into a clause", CONTINUATION},
      {"a choicepoint's alternative is the try node", ALTERNATIVE},
  };
  for (auto &cs : cases) {
    definition *f = insert_definition(user(), atom("dead"), 1, 1);
    emul_info *clause = define_compiled(f, atom("a"), f, atom_nil);
    try_node *tnode = reinterpret_cast<try_node *>(reinterpret_cast<char *>(f->proc.code.incoreinfo->varcase) -
                                                  offsetof(try_node, opcode));
    std::size_t clause_bytes = eglobal->mm.mm_bins[MM_BIN_EMUL_INFO];
    undefine_predicate(f);
    ASSERT_EQ(dead_count(), 1) << cs.why;

    INSN *saved_pc = w->next_insn;
    frame *saved_frame = w->frame_;
    TAGGED *saved_top = w->local_top;
    node *bottom = w->node_;
    try_node *saved_alt = bottom->next_alt;
    if (cs.holder == PROGRAM_COUNTER) {
      w->next_insn = clause->emulcode + 4;
    } else if (cs.holder == CONTINUATION) {
      auto *e = reinterpret_cast<frame *>(w->local_top);
      e->frame_ = w->frame_;
      e->next_insn = clause->emulcode + 8;
      w->frame_ = e;
      w->local_top += 2;
      w->next_insn = proceedcode;
    } else if (cs.holder == ALTERNATIVE) {
      bottom->next_alt = tnode;
    }
    reclaim_dead_predicates(w);
    w->next_insn = saved_pc;
    w->frame_ = saved_frame;
    w->local_top = saved_top;
    bottom->next_alt = saved_alt;

    if (cs.holder == NOWHERE) {
      EXPECT_EQ(dead_count(), 0) << cs.why << ": expected the dead code freed";
      EXPECT_EQ(eglobal->mm.mm_bins[MM_BIN_EMUL_INFO], clause_bytes - 32) << cs.why;
      EXPECT_EQ(eglobal->gcdef_scratch, nullptr) << cs.why;
    } else {
      EXPECT_EQ(dead_count(), 1) << cs.why << ": expected the dead code kept";
      EXPECT_EQ(eglobal->mm.mm_bins[MM_BIN_EMUL_INFO], clause_bytes) << cs.why;
      reclaim_dead_predicates(w);
      EXPECT_EQ(dead_count(), 0) << cs.why << ": expected it freed once nothing refers to it";
    }
  }
}

TEST_F(Predicates, MemoryManagerHookReclaimsDeadPredicates)
{
  ASSERT_NE(mm_reclaim_dead_predicates_hook, nullptr);
  definition *f = insert_definition(user(), atom("hooked"), 0, 1);
  define_compiled(f, atom("a"), f, atom_nil);
  undefine_predicate(f);
  ASSERT_EQ(dead_count(), 1);
  std::int64_t runs = eglobal->stats.reclaim_dead_predicates_count;
  mm_reclaim_dead_predicates_hook();
  EXPECT_EQ(dead_count(), 0);
  EXPECT_EQ(eglobal->stats.reclaim_dead_predicates_count, runs + 1);
}

// Every free block of the manager (lists and carving block) as [start, end).
std::vector<std::pair<std::uintptr_t, std::uintptr_t>> free_extents()
{
  const mm_record &mm = eglobal->mm;
  std::vector<std::pair<std::uintptr_t, std::uintptr_t>> v;
  auto add = [&](const free_block *b) {
    v.emplace_back(reinterpret_cast<std::uintptr_t>(b), reinterpret_cast<std::uintptr_t>(b) + b->size);
  };
  for (int c = 0; c < MM_CLASSES; c++)
    for (const free_block *b = mm.free_arr[c]; b != nullptr && v.size() < 1000000; b = b->next)
      add(b);
  if (mm.free_cache != nullptr)
    add(mm.free_cache);
  std::sort(v.begin(), v.end());
  return v;
}

// Reclaiming dead predicates from inside an allocation (the manager
// defragments before it asks for more memory, and defragmenting reclaims)
// must not run nested in the dead-list code that allocated: nested in
// leave_to_gc's growing of the scratch table, it moved the table under the
// reallocation, which then freed the old block a second time, so that one
// block sat twice on a free list and was later handed to two owners.
TEST_F(Predicates, DefragmentingWhileTheDeadListGrowsKeepsTheFreeListsSound)
{
  if (vr_checkalloc_mallocs)
    GTEST_SKIP() << "blocks come from the system allocator";
  definition *a = insert_definition(user(), atom("dead_a"), 1, 1);
  define_compiled(a, atom("a"), a, atom_nil);
  undefine_predicate(a);
  ASSERT_EQ(eglobal->gcdef_scratch_size, 4) << "three blocks of dead code, a table of four entries";
  definition *b = insert_definition(user(), atom("dead_b"), 1, 1);
  define_compiled(b, atom("b"), b, atom_nil);

  // All free memory is taken but one block for leave_to_gc's record, so
  // growing the table to eight entries finds no block and, with much freed
  // recently, defragments first.
  const std::size_t record_bytes = (sizeof(gcdef_proc) + 7) & ~std::size_t{7};
  void *record_room = checkalloc(record_bytes, mm_code(MM_BIN_MISC));
  std::vector<std::pair<void *, std::size_t>> taken;
  for (mm_record &mm = eglobal->mm;;) {
    int c = MM_CLASSES - 1;
    while (c >= 0 && mm.free_arr[c] == nullptr)
      c--;
    const std::size_t s = c >= 0 ? mm.free_arr[c]->size : mm.free_cache != nullptr ? 120 : 0;
    if (s == 0)
      break;
    taken.emplace_back(checkalloc(s, mm_code(MM_BIN_MISC)), s);
  }
  checkdealloc(record_room, record_bytes, mm_code(MM_BIN_MISC));
  const std::int64_t defrags = eglobal->stats.defrag_count;
  eglobal->mm.recently_freed = eglobal->mm.total_in_use + eglobal->mm.total_free;

  undefine_predicate(b);
  EXPECT_EQ(eglobal->stats.defrag_count, defrags + 1) << "the table's growth should have defragmented";
  const auto extents = free_extents();
  for (std::size_t i = 1; i < extents.size(); i++)
    EXPECT_LE(extents[i - 1].second, extents[i].first)
        << "free blocks overlap (a block freed twice?) at 0x" << std::hex << extents[i].first;
  const auto table = reinterpret_cast<std::uintptr_t>(eglobal->gcdef_scratch);
  for (const auto &[lo, hi] : extents)
    EXPECT_FALSE(table < hi && lo < table + sizeof(gcdef_mem) * eglobal->gcdef_scratch_size)
        << "the scratch table lies in a free block";
  EXPECT_EQ(dead_count(), 2) << "the nested reclamation is left to the next one";

  for (auto &[p, s] : taken)
    checkdealloc(p, s, mm_code(MM_BIN_MISC));
  reclaim_dead_predicates(w);
  EXPECT_EQ(dead_count(), 0);
  EXPECT_EQ(eglobal->gcdef_scratch, nullptr);
}

TEST_F(Predicates, LiveRegistersReadTheDefinitionsArity)
{
  ASSERT_NE(live_regs_pred_arity, nullptr);
  definition *d = insert_definition(user(), atom("lr"), 7, 1);
  EXPECT_EQ(live_regs_pred_arity(d), 7);
}

// Atom garbage collection keeps the atoms that predicates and their code
// use, and drops the undefined records nothing refers to.
TEST_F(Predicates, AtomCollectionKeepsPredicateAtomsAndDropsUnreferencedRecords)
{
  mod_def *m = module("agc_mod");
  m->filename = atom("agc_mod_file");
  definition *callee = insert_definition(m, atom("agc_called_undefined"), 1, 1);
  definition *loose = insert_definition(m, atom("agc_loose_undefined"), 2, 1);
  definition *locked = insert_definition(m, atom("agc_locked_undefined"), 0, 1);
  locked->proc.properties |= PROP_LOCKED;
  definition *exporter = insert_definition(m, atom("agc_exported_undefined"), 0, 1);
  exporter->next_public = PUBLIC_END;
  m->public_lst = exporter;
  definition *f = insert_definition(m, atom("agc_defined"), 1, 1);
  define_compiled(f, atom("agc_code_atom"), callee, atom("agc_clause_file"));
  f->filename = atom("agc_pred_file");
  TAGGED loose_word = definition_word(loose);
  atom("agc_plain_garbage");

  prolog_garbage_collect_atoms(w);

  for (const char *kept : {"agc_mod", "agc_mod_file", "agc_defined", "agc_pred_file", "agc_code_atom",
                           "agc_clause_file", "agc_called_undefined", "agc_locked_undefined",
                           "agc_exported_undefined"})
    EXPECT_NE(init_atom_check(kept, 1), 0u) << "expected '" << kept << "' kept";
  EXPECT_EQ(init_atom_check("agc_plain_garbage", 1), 0u) << "control: an unused atom must go";
  EXPECT_EQ(init_atom_check("agc_loose_undefined", 1), 0u) << "the dropped record's name must go";
  EXPECT_EQ(insert_definition(m, atom("agc_loose_undefined"), 2, 0), nullptr) << "expected the record dropped";
  EXPECT_EQ(definition_of_word(loose_word), nullptr) << "a dropped record's address must not validate";
  EXPECT_EQ(insert_definition(m, atom("agc_called_undefined"), 1, 0), callee) << "code refers to it";
  EXPECT_EQ(insert_definition(m, atom("agc_locked_undefined"), 0, 0), locked);
  EXPECT_EQ(insert_definition(m, atom("agc_exported_undefined"), 0, 0), exporter);
  EXPECT_EQ(callee->proc.properties & PROP_MARKED, 0u) << "marks must be cleared after the collection";
}

TEST_F(Predicates, AtomCollectionKeepsRecordsTheEngineHolds)
{
  definition *escape = insert_definition(eglobal->prolog_module, atom("agc_escape"), 3, 1);
  preds.undefined_goal = escape;
  definition *suspended = insert_definition(user(), atom("agc_suspended"), 0, 1);
  auto *e = reinterpret_cast<frame *>(w->local_top);
  e->frame_ = w->frame_;
  e->next_insn = w->next_insn;
  frame *saved_frame = w->frame_;
  INSN *saved_pc = w->next_insn;
  TAGGED *saved_top = w->local_top;
  w->frame_ = e;
  w->local_top += 2;
  w->next_insn = &suspended->proc.continuation;
  prolog_garbage_collect_atoms(w);
  w->frame_ = saved_frame;
  w->next_insn = saved_pc;
  w->local_top = saved_top;
  EXPECT_TRUE(is_live_definition(escape)) << "an escape predicate of preds must survive";
  EXPECT_TRUE(is_live_definition(suspended)) << "a record whose continuation is on the stack must survive";
  preds.undefined_goal = nullptr;
}

// Raw definition addresses come back from Prolog as address + 3; only
// records the database made and still holds may be accepted.
TEST_F(Predicates, RawDefinitionWordsAreCheckedAgainstTheDatabase)
{
  definition *d = insert_definition(user(), atom("raw"), 1, 1);
  EXPECT_EQ(definition_of_word(definition_word(d)), d);
  definition stack_copy = *d;
  struct {
    const char *why;
    TAGGED word;
  } bad[] = {
      {"an arbitrary small integer", MakeSmall_checked(12345)},
      {"a record the database did not make", definition_word(&stack_copy)},
      {"a misaligned address", definition_word(d) + 8 - 4},
      {"an atom", atom("raw")},
      {"a word inside the record", definition_word(d) + 8},
  };
  for (auto &c : bad)
    EXPECT_EQ(definition_of_word(c.word), nullptr) << c.why;
}

TEST_F(Predicates, EraseClauseFreesOnlyADetachedClauseRecord)
{
  definition *f = insert_definition(user(), atom("ec"), 1, 1);
  emul_info *held = define_compiled(f, atom("a"), f, atom_nil);
  // A loose clause is one $make_bytecode_object made and nothing installed.
  emul_info *loose = make_clause(atom("a"), f, atom_nil);
  remember_pending_clause(loose);
  std::size_t bytes = eglobal->mm.mm_bins[MM_BIN_EMUL_INFO];
  TAGGED outside_memory[4] = {};
  struct {
    const char *why;
    TAGGED ref;
  } bad[] = {
      {"a clause that a predicate holds", clause_ref(held)},
      {"an address outside engine memory", PointerToTerm(outside_memory) + 3},
      {"not a small integer", atom("a")},
  };
  for (auto &c : bad) {
    EXPECT_EQ(call(prolog_erase_clause, {c.ref}), 0) << c.why;
    EXPECT_EQ(eglobal->mm.mm_bins[MM_BIN_EMUL_INFO], bytes) << c.why << ": nothing may be freed";
  }
  undefine_predicate(f);
  EXPECT_EQ(call(prolog_erase_clause, {clause_ref(held)}), 0) << "dead code still running may not be freed";
  EXPECT_EQ(call(prolog_erase_clause, {clause_ref(loose)}), 1);
  EXPECT_EQ(eglobal->mm.mm_bins[MM_BIN_EMUL_INFO], bytes - 32);
}

TEST_F(Predicates, DefinePredicateAndSetProperty)
{
  TAGGED compact = MakeAtom(atom_compactcode_enum), dyn = MakeAtom(atom_dynamic_enum);
  ASSERT_EQ(call(prolog_define_predicate, {qualified("dp", spec("p", 1)), compact}), 1);
  definition *p = insert_definition(find_module(atom("dp"), 0), atom("p"), 1, 0);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(predtyp(p), unsigned(ENTER_COMPACTCODE));
  // Without clauses, dynamic turns the empty compiled code into dynamic code.
  TAGGED head = qualified("dp", structure(atom("p"), {atom("x")}));
  EXPECT_EQ(call(prolog_set_property, {head, dyn, atom_nil}), 1);
  EXPECT_EQ(predtyp(p), unsigned(ENTER_INTERPRETED));
  EXPECT_NE(p->proc.properties & PROP_DYNAMIC, 0u);
  // A system predicate cannot be redefined from another module.
  definition *sys = insert_definition(eglobal->prolog_module, atom("dp_sys"), 0, 1);
  sys->next_public = eglobal->prolog_module->public_lst;
  eglobal->prolog_module->public_lst = sys;
  EXPECT_EQ(call(prolog_define_predicate, {spec("dp_sys", 0), compact}), 0);
  EXPECT_EQ(predtyp(sys), unsigned(ENTER_UNDEFINED));
  EXPECT_EQ(call(prolog_set_property, {atom("no_such_pred"), dyn, atom_nil}), 0);
}

} // namespace

TEST_F(Predicates, RedefinedAsIndexedTakesKeyedClauses)
{
  // A predicate made indexed at once has its switch table before any
  // clause: inserting a keyed clause must find it, not a null table.
  definition *p = insert_definition(user(), atom("ri"), 1, 1);
  redefine_predicate(p, ENTER_COMPACTCODE_INDEXED);
  incore_info *info = p->proc.code.incoreinfo;
  ASSERT_NE(info->othercase, nullptr);
  EXPECT_EQ(info->lstcase, failcode);
  emul_info *c = make_clause(atom("a"), p, atom_nil);
  insert_compactcode(p, c, 0x17, atom("a"));
  EXPECT_EQ(incore_gethash(info->othercase, atom("a"))->key, atom("a"));
  EXPECT_EQ(incore_gethash(info->othercase, atom("b"))->value.code, failcode)
      << "other keys still reach the empty default";
}
