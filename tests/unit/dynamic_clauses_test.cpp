// Dynamic clauses inside: erased clauses are freed once no open call can
// reach them and not before (asked for by the memory manager's and the
// atom collector's hooks as well as by calls), a loop that asserts and
// retracts runs in bounded memory (also under an open call of the same
// predicate), ranks are renumbered at the ends of their range without
// changing the clause order, forged and stale references decode to
// nothing, findall handles a million solutions, and set-of roots left by
// an abort go with the worker's re-initialisation.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dynamic_clauses.h"
#include "exception_store.h"
#include "globref.h"
#include "heavy_tests.h"
#include "initial_atoms.h"
#include "instance.h"
#include "query.h"
#include "runtime_fixture.h"
#include "terms.h"

namespace {

struct DynamicClauses : RuntimeFixture {
  mod_def *user() { return find_module(atom("user"), 1); }

  void consult(const std::string &text)
  {
    std::vector<std::string> errors;
    consult_text(w, text.c_str(), user(), &errors);
    for (const std::string &e : errors)
      ADD_FAILURE() << "consult: " << e;
  }
  definition *pred(const char *name, int arity) { return insert_definition(user(), atom(name), arity, 0); }

  // Runs name/1 once with an unbound argument; its value, or 0 on failure.
  // The variable is held in a global reference: the heap may move.
  TAGGED solve(const char *name)
  {
    definition *d = pred(name, 1);
    EXPECT_NE(d, nullptr) << name;
    TAGGED *h = w->global_top++;
    *h = PointerToTerm(h);
    VR_globref held = VR_alloc_globrefs(1);
    held->term = *h;
    TAGGED arg = *h;
    query q;
    int res = query_open(w, &q, d, &arg);
    query_close(w, &q);
    if (res < 0) {
      ADD_FAILURE() << name << ": uncaught exception";
      erase_stored_exception();
    }
    TAGGED value = res == 1 ? deref(held->term) : 0;
    VR_free_globrefs(held);
    return value;
  }
  std::size_t instance_bytes() const { return eglobal->mm.mm_bins[MM_BIN_INSTANCE]; }
};

const char *const loop_program =
    ":- dynamic(q/1).\n"
    "q(-1). q(0).\n"
    "between_(L, H, L) :- L =< H.\n"
    "between_(L, H, X) :- L < H, L1 is L + 1, between_(L1, H, X).\n"
    // One round: the call of q/1 leaves a choicepoint, so the clause is
    // erased under a newer clock and queued rather than freed at once.
    "round(I) :- assertz(q(I)), once(q(_)), retract(q(I)).\n"
    "loop(N) :- ( between_(1, N, I), round(I), fail ; true ).\n"
    // The same under an open call of q/1 that began before every clause the
    // loop makes: none of them is visible to it, so each can go.
    "open_loop(N, L) :- findall(X, (q(X), (X == -1 -> loop(N) ; true)), L).\n";

TEST_F(DynamicClauses, AssertRetractLoopRunsInBoundedMemory)
{
  consult(loop_program);
  consult(std::string("run(ok) :- loop(") + std::to_string(heavy_list_length) + ").\n");
  const std::size_t before = instance_bytes();
  EXPECT_EQ(solve("run"), atom("ok"));
  EXPECT_LE(instance_bytes(), before + 4096) << "instances left behind";
  EXPECT_LT(eglobal->clauses_dead, 100) << "queued clauses left behind";
  EXPECT_EQ(eglobal->clauses_total - eglobal->clauses_dead, 2) << "the two clauses of q/1 are alive";
}

TEST_F(DynamicClauses, LoopUnderAnOpenCallOfTheSamePredicateIsBounded)
{
  consult(loop_program);
  consult(std::string("run(L) :- open_loop(") + std::to_string(heavy_list_length) + ", L).\n");
  const std::size_t before = instance_bytes();
  const std::int64_t reclaimed = eglobal->stats.reclaim_dead_clauses_reclaimed;
  TAGGED l = solve("run");
  ASSERT_NE(l, 0u);
  // The open call sees exactly the clauses of its start.
  ASSERT_TRUE(IsList(l));
  EXPECT_EQ(deref(TagToLST(l)[0]), MakeSmall_checked(-1));
  TAGGED rest = deref(TagToLST(l)[1]);
  ASSERT_TRUE(IsList(rest));
  EXPECT_EQ(deref(TagToLST(rest)[0]), MakeSmall_checked(0));
  EXPECT_EQ(deref(TagToLST(rest)[1]), atom_nil);
  EXPECT_LE(instance_bytes(), before + 64 * 1024) << "clauses no view can see must not pile up";
  EXPECT_GT(eglobal->stats.reclaim_dead_clauses_reclaimed - reclaimed, heavy_list_length / 2)
      << "the slow path frees what no open view sees";
}

// A retracted clause that an open call will still read stays until that
// call is done; then a reclamation asked for by the memory manager frees
// it.
TEST_F(DynamicClauses, ErasedClausesLiveExactlyAsLongAsAnOpenCallCanReachThem)
{
  consult(":- dynamic(dq/1).\ndq(1). dq(2). dq(3).\n"
          "hold(X) :- dq(X), (X == 1 -> retract(dq(2)), retract(dq(3)) ; true).\n");
  definition *hold = pred("hold", 1);
  TAGGED *h = w->global_top++;
  *h = PointerToTerm(h);
  TAGGED arg = *h;
  VR_globref held = VR_alloc_globrefs(1);
  held->term = arg;
  query q;
  ASSERT_EQ(query_open(w, &q, hold, &arg), 1);
  EXPECT_EQ(deref(held->term), MakeSmall_checked(1));
  EXPECT_EQ(eglobal->clauses_dead, 2) << "both erased under the open call: queued";
  const std::size_t queued = instance_bytes();

  ASSERT_NE(mm_reclaim_dead_clauses_hook, nullptr);
  mm_reclaim_dead_clauses_hook();
  reclaim_dead_clauses(w);
  fast_reclaim_dead_clauses(w);
  EXPECT_EQ(eglobal->clauses_dead, 2) << "the open call can still reach them";
  EXPECT_EQ(instance_bytes(), queued);

  ASSERT_EQ(query_next(w, &q), 1);
  EXPECT_EQ(deref(held->term), MakeSmall_checked(2));
  ASSERT_EQ(query_next(w, &q), 1);
  EXPECT_EQ(deref(held->term), MakeSmall_checked(3));
  EXPECT_EQ(query_next(w, &q), 0);
  query_close(w, &q);
  VR_free_globrefs(held);

  mm_reclaim_dead_clauses_hook();
  EXPECT_EQ(eglobal->clauses_dead, 0);
  EXPECT_LT(instance_bytes(), queued);
  EXPECT_EQ(eglobal->clauses_total, 1);
}

// The atom collector reclaims dead clauses before it marks.
TEST_F(DynamicClauses, AtomCollectionReclaimsDeadClauses)
{
  consult(":- dynamic(ad/1).\nad(1). ad(2).\n"
          "run(ok) :- ad(X), X == 1, !, retract(ad(2)).\n");
  EXPECT_EQ(solve("run"), atom("ok"));
  EXPECT_EQ(eglobal->clauses_dead, 1) << "erased while the call was open";
  ASSERT_NE(agc_reclaim_hook, nullptr);
  prolog_garbage_collect_atoms(w);
  EXPECT_EQ(eglobal->clauses_dead, 0);
}

// Appending at the largest rank or prepending at the smallest renumbers
// every clause around 0, keeping the clause order, which keyed calls read
// by comparing ranks across their two chains.
TEST_F(DynamicClauses, RanksAreRenumberedAtTheEndsOfTheirRange)
{
  consult(":- dynamic(rk/2).\nrk(a, 1). rk(_, 2). rk(a, 3).\n"
          "keyed(L) :- findall(N, rk(a, N), L).\n");
  definition *rk = pred("rk", 2);
  ASSERT_NE(rk, nullptr);
  int_info *info = rk->proc.code.intinfo;
  struct {
    const char *what;
    bool append;
    VR_INTEGER edge;
  } cases[] = {{"append at the largest rank", true, SMALL_MAX - 1},
               {"prepend at the smallest rank", false, SMALL_MIN + 1}};
  for (const auto &c : cases) {
    instance *edge = c.append ? info->first->backward : info->first;
    edge->rank = MakeSmall_checked(c.edge);
    TAGGED *p = w->global_top;
    w->global_top += 5;
    p[0] = MakeFunctor(atom("rk"), 2);
    p[1] = atom("a");
    p[2] = MakeSmall_checked(c.append ? 9 : 0);
    p[3] = MakeSTR(p);
    p[4] = MakeAtom(atom_true_enum);
    instance *n = compile_term(w, MakeLST(p + 3), 0);
    n->extra = atom_nil;
    if (c.append)
      insertz(rk, n);
    else
      inserta(rk, n);
    VR_INTEGER expect = 0;
    int count = 0;
    for (instance *i = info->first;; i = i->forward) {
      count++;
      if (i == info->first)
        expect = GetSmall(i->rank);
      EXPECT_EQ(GetSmall(i->rank), expect++) << c.what << ": ranks must be consecutive in clause order";
      if ((reinterpret_cast<std::uintptr_t>(i->forward) & 1) != 0)
        break;
    }
    EXPECT_EQ(GetSmall(info->first->rank), -(count / 2)) << c.what;
  }
  TAGGED l = solve("keyed");
  std::string got;
  for (; IsList(l); l = deref(TagToLST(l)[1]))
    got += std::to_string(GetSmall(deref(TagToLST(l)[0]))) + " ";
  EXPECT_EQ(got, "0 1 2 3 9 ") << "the two chains still merge into clause order";
}

// Only a reference that names a clause under its current stamp decodes.
TEST_F(DynamicClauses, ForgedAndStaleReferencesDecodeToNothing)
{
  consult(":- dynamic(fr/1).\nfr(1).\nref(R) :- clause(fr(1), true, R).\n");
  TAGGED ref = solve("ref");
  ASSERT_TRUE(IsStructure(ref));
  instance *ins = decode_dbref(ref);
  ASSERT_NE(ins, nullptr);
  const TAGGED addr = deref(TagToSTR(ref)[1]);
  const TAGGED stamp = deref(TagToSTR(ref)[2]);
  auto dbref = [&](TAGGED a, TAGGED s) {
    TAGGED *h = w->global_top;
    w->global_top += 3;
    h[0] = functor_Dref;
    h[1] = a;
    h[2] = s;
    return MakeSTR(h);
  };
  TAGGED *cell = w->global_top++;
  *cell = PointerToTerm(cell);
  struct {
    const char *what;
    TAGGED term;
  } forged[] = {
      {"another stamp", dbref(addr, stamp + 8)},
      {"an address inside the clause", dbref(addr + 8, stamp)},
      {"an address that is no small integer", dbref(addr + 1, stamp)},
      {"an address never given out", dbref(MakeSmall_checked(1000), stamp)},
      {"a stamp that is no small integer", dbref(addr, atom("s"))},
      {"an atom", atom("foo")},
      {"a small integer", addr},
      {"an unbound variable", *cell},
  };
  for (const auto &f : forged)
    EXPECT_EQ(decode_dbref(f.term), nullptr) << f.what;
  consult(":- initialization(retract(fr(1))).\n");
  EXPECT_EQ(decode_dbref(ref), nullptr) << "a freed clause's reference";
  consult(":- initialization(assertz(fr(2))).\n");
  EXPECT_EQ(decode_dbref(ref), nullptr) << "also once a new clause may have taken its memory";
}

TEST_F(DynamicClauses, FindallOfAMillionSolutions)
{
  consult("between_(L, H, L) :- L =< H.\n"
          "between_(L, H, X) :- L < H, L1 is L + 1, between_(L1, H, X).\n"
          "last_([X], X) :- !.\n"
          "last_([_|T], X) :- last_(T, X).\n");
  consult(std::string("run(N-X) :- findall(I, between_(1, ") + std::to_string(heavy_list_length) +
          ", I), L), length(L, N), last_(L, X).\n");
  TAGGED r = solve("run");
  ASSERT_TRUE(IsStructure(r));
  EXPECT_EQ(deref(TagToSTR(r)[1]), MakeSmall_checked(heavy_list_length));
  EXPECT_EQ(deref(TagToSTR(r)[2]), MakeSmall_checked(heavy_list_length));
  EXPECT_EQ(eglobal->setof, nullptr) << "the collection is gone";
}

// An exception leaves no collection behind; an abort, which no catcher
// stops, leaves its collection to the worker's re-initialisation.
TEST_F(DynamicClauses, CollectionsDoNotOutliveTheirGoal)
{
  consult("between_(L, H, L) :- L =< H.\n"
          "between_(L, H, X) :- L < H, L1 is L + 1, between_(L1, H, X).\n"
          "thrown(B) :- catch(findall(X, (between_(1, 5, X), findall(Y, (X == 3, throw(b(X, Y))), _)), _), B, true).\n"
          "aborted(_) :- findall(X, (between_(1, 5, X), X == 3, abort), _).\n");
  TAGGED b = solve("thrown");
  ASSERT_TRUE(IsStructure(b));
  EXPECT_EQ(deref(TagToSTR(b)[1]), MakeSmall_checked(3));
  EXPECT_EQ(eglobal->setof, nullptr);

  definition *aborted = pred("aborted", 1);
  TAGGED arg = atom_nil;
  query q;
  EXPECT_EQ(query_open(w, &q, aborted, &arg), -1);
  query_close(w, &q);
  erase_stored_exception();
  EXPECT_NE(eglobal->setof, nullptr) << "nothing ran after the abort";
  ASSERT_NE(worker_hooks.setof_free, nullptr);
  reinitialize(w);
  w = self;
  EXPECT_EQ(eglobal->setof, nullptr) << "re-initialisation frees it";
  EXPECT_EQ(solve("thrown") != 0, true) << "and findall works on";
}

} // namespace
