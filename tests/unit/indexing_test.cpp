// Clause installation into compiled predicates: for scripted sequences of
// clauses (built with the code builder) the var chain, the list chain, the
// switch table and their try chains must have exactly the expected shape,
// checked by walking them; and multifile removal must rebuild them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "atoms.h"
#include "code_builder.h"
#include "datadefs.h"
#include "indexing.h"
#include "initial_atoms.h"
#include "modules.h"
#include "predicates.h"
#include "wamsup.h"
#include "worker_fixture.h"

namespace {

struct Indexing : WorkerFixture {
  std::vector<emul_info *> made;   // every clause of the test, for naming entries

  void SetUp() override
  {
    WorkerFixture::SetUp();
    ASSERT_EQ(init_atoms_once(), 1);
    ASSERT_NE(init_modules(), 0);
  }
  void TearDown() override
  {
    deinit_modules();
    deinit_atoms();
    WorkerFixture::TearDown();
  }

  TAGGED atom(const char *text) { return init_atom_check(text, 0); }

  definition *pred(const char *name, int arity, int type = ENTER_COMPACTCODE)
  {
    definition *d = insert_definition(eglobal->typein_mod, atom(name), arity, 1);
    redefine_predicate(d, type);
    return d;
  }

  emul_info *keep(const code_builder &b, TAGGED file)
  {
    emul_info *c = b.finish(failcode, 0, file);
    made.push_back(c);
    return c;
  }
  // p(X) :- ...: no first-argument test.
  emul_info *var_clause(TAGGED file = atom_nil)
  {
    code_builder b;
    b.emit(PROCEED);
    return keep(b, file);
  }
  emul_info *const_clause(TAGGED c, TAGGED file = atom_nil, bool else_test = false)
  {
    code_builder b;
    b.emit(GET_CONSTANT_X0, {cb::t(c)});
    if (else_test)  // a head test that jumps to the else continuation
      b.emit(EQUAL_TO, {cb::else_to(elsecode)});
    b.emit(PROCEED);
    return keep(b, file);
  }
  emul_info *struct_clause(TAGGED f)
  {
    code_builder b;
    b.emit(GET_STRUCTURE_X0, {cb::f(f)});
    b.emit(PROCEED);
    return keep(b, atom_nil);
  }
  emul_info *list_clause()
  {
    code_builder b;
    b.emit(GET_LIST_X0);
    b.emit(PROCEED);
    return keep(b, atom_nil);
  }
  emul_info *large_clause(std::int64_t v)
  {
    code_builder b;
    b.emit(GET_LARGE_X0, {cb::large_int(v)});
    b.emit(PROCEED);
    return keep(b, atom_nil);
  }
  // An else-chain clause that fits every first argument.
  emul_info *var_else_clause()
  {
    code_builder b;
    b.emit(EQUAL_TO, {cb::else_to(elsecode)});
    b.emit(PROCEED);
    return keep(b, atom_nil);
  }

  // "cN" or "cN+k" for a code address inside clause N (1-based).
  std::string name_of(const INSN *code) const
  {
    for (std::size_t i = 0; i < made.size(); i++) {
      const INSN *s = made[i]->emulcode;
      if (code >= s && code < s + (emul_objsize(made[i]) - EMUL_INFO_HEADER) / 2) {
        std::string n = "c" + std::to_string(i + 1);
        if (code != s)
          n += "+" + std::to_string(code - s);
        return n;
      }
    }
    return "?";
  }
  // A chain as text: "fail", "c1+4" (a single entry) or "try[c1,c2]";
  // the try chain's own invariants are checked on the way.
  std::string shape(INSN *entry, int arity) const
  {
    if (entry == failcode)
      return "fail";
    if (entry == pfailcode)
      return "pfail";
    try_node *n = chain_try_nodes(entry);
    if (n == nullptr)
      return name_of(entry);
    try_node *first = n;
    std::string s = "try[";
    for (; n != nullptr; n = n->next) {
      EXPECT_EQ(n->opcode, OPCODE(TRY));
      EXPECT_EQ(n->node_offset, 24 + 4 * arity);
      s += name_of(n->entry);
      if (n->next == nullptr) {
        EXPECT_EQ(first->link, n) << "first node must link to the last";
        break;
      }
      s += ",";
    }
    return s + "]";
  }
  static incore_info *code(definition *d) { return d->proc.code.incoreinfo; }
  std::string slot(definition *d, TAGGED key) const
  {
    sw_on_key_node *n = incore_gethash(code(d)->othercase, key);
    return (n->key == key ? "" : "default:") + shape(n->value.code, d->proc.arity);
  }
  std::string dflt(definition *d) const { return slot(d, MakeAtom(0x7FFF0)); }
  // Clause list in order, checking the count at its end.
  std::string clauses(definition *d) const
  {
    incore_info *i = code(d);
    std::string s;
    std::uintptr_t n = 0;
    emul_info *c = i->clauses;
    for (; !clause_chain_end(c, i); c = c->next, n++)
      s += (s.empty() ? "" : ",") + name_of(c->emulcode);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(c), n) << "the chain must end in the clause count";
    return s;
  }
};

TEST_F(Indexing, VarClausesStayNonIndexedUntilAKeyedClause)
{
  definition *p = pred("p", 1);
  emul_info *c1 = var_clause(), *c2 = var_clause();
  insert_compactcode(p, c1, 31, 0);
  EXPECT_EQ(shape(code(p)->varcase, 1), "c1") << "first clause: a single entry";
  insert_compactcode(p, c2, 31, 0);
  EXPECT_EQ(predtyp(p), ENTER_COMPACTCODE) << "clauses that fit every argument keep it non-indexed";
  EXPECT_EQ(shape(code(p)->varcase, 1), "try[c1,c2]");
  EXPECT_EQ(code(p)->othercase, nullptr);

  // p(a): indexed now; lists and other keys start from copies of the var chain.
  emul_info *c3 = const_clause(atom("a"));
  insert_compactcode(p, c3, 0x17, atom("a"));
  EXPECT_EQ(predtyp(p), ENTER_COMPACTCODE_INDEXED);
  EXPECT_EQ(p->proc.enter_instr, ENTER_COMPACTCODE_INDEXED);
  EXPECT_EQ(shape(code(p)->varcase, 1), "try[c1,c2,c3]");
  EXPECT_EQ(shape(code(p)->lstcase, 1), "try[c1,c2]");
  EXPECT_NE(code(p)->lstcase, code(p)->varcase) << "the list chain must be a copy";
  EXPECT_EQ(slot(p, atom("a")), "try[c1,c2,c3]");
  EXPECT_EQ(slot(p, atom("b")), "default:try[c1,c2]") << "p(b) runs only the var clauses";

  // p([H|T]): var and list chains.
  list_clause();
  insert_compactcode(p, made[3], 0x09, functor_list);
  EXPECT_EQ(shape(code(p)->varcase, 1), "try[c1,c2,c3,c4]");
  EXPECT_EQ(shape(code(p)->lstcase, 1), "try[c1,c2,c4]");
  EXPECT_EQ(slot(p, atom("a")), "try[c1,c2,c3]");

  // p(X) again: every chain, and one default shared by every empty slot.
  var_clause();
  insert_compactcode(p, made[4], 31, 0);
  EXPECT_EQ(shape(code(p)->lstcase, 1), "try[c1,c2,c4,c5]");
  EXPECT_EQ(slot(p, atom("a")), "try[c1,c2,c3,c5]");
  EXPECT_EQ(dflt(p), "default:try[c1,c2,c5]");

  // p(f(X)): a second key outgrows the 2-slot table; the rebuilt table's
  // empty slots all hold the default chain.
  const TAGGED f1 = MakeFunctor(atom("f"), 1);
  struct_clause(f1);
  insert_compactcode(p, made[5], 0x17, f1);
  sw_on_key *sw = code(p)->othercase;
  EXPECT_EQ(sw_slots(sw), 4u);
  EXPECT_EQ(sw->count, 2);
  EXPECT_EQ(slot(p, f1), "try[c1,c2,c5,c6]");
  EXPECT_EQ(slot(p, atom("a")), "try[c1,c2,c3,c5]");
  INSN *shared = incore_gethash(sw, atom("zz"))->value.code;
  for (std::uint32_t i = 0; i < sw_slots(sw); i++)
    if (sw->tab[i].key == 0) {
      EXPECT_EQ(sw->tab[i].value.code, shared) << "empty slot " << i << " lost the shared default";
    }
  EXPECT_EQ(clauses(p), "c1,c2,c3,c4,c5,c6");
}

TEST_F(Indexing, KeyedFirstClausesEnterPastTheirTest)
{
  definition *p = pred("q", 2);
  const TAGGED a = atom("a"), b = atom("b");
  insert_compactcode(p, const_clause(a), 0x17, a);
  EXPECT_EQ(predtyp(p), ENTER_COMPACTCODE_INDEXED);
  EXPECT_EQ(shape(code(p)->varcase, 2), "c1") << "an unbound argument runs the test itself";
  EXPECT_EQ(slot(p, a), "c1+4") << "a known key enters past GET_CONSTANT_X0Q";
  EXPECT_EQ(shape(code(p)->lstcase, 2), "fail");
  EXPECT_EQ(dflt(p), "default:fail");

  insert_compactcode(p, const_clause(b), 0x17, b);
  EXPECT_EQ(shape(code(p)->varcase, 2), "try[c1,c2]");
  EXPECT_EQ(slot(p, b), "c2+4");
  EXPECT_EQ(sw_slots(code(p)->othercase), 4u);

  // A second clause for a: the single entry becomes a try chain whose first
  // node keeps the offset entry; appended nodes enter at the clause start.
  insert_compactcode(p, const_clause(a), 0x17, a);
  EXPECT_EQ(slot(p, a), "try[c1+4,c3]");

  // Number keys: a small integer is its own word, a boxed one its header;
  // [] enters past GET_NIL_X0's single halfword.
  const TAGGED five = MakeSmall_checked(5);
  insert_compactcode(p, const_clause(five), 0x17, five);
  EXPECT_EQ(slot(p, five), "c4+4");
  emul_info *big = large_clause(1LL << 40);
  insert_compactcode(p, big, 0x17, key_of_clause(big));
  EXPECT_EQ(key_of_clause(big), BOX_INT2);
  EXPECT_EQ(slot(p, BOX_INT2), "c5");  // GET_LARGE_X0Q has no p2_offset
  code_builder nb;
  nb.emit(GET_NIL_X0);
  nb.emit(PROCEED);
  emul_info *nil = keep(nb, atom_nil);
  insert_compactcode(p, nil, 0x17, atom_nil);
  EXPECT_EQ(slot(p, atom_nil), "c6+1");
  EXPECT_EQ(shape(code(p)->varcase, 2), "try[c1,c2,c3,c4,c5,c6]");
  EXPECT_EQ(dflt(p), "default:fail");
  // A list clause after a single-entry list chain: unoffsets the GET_LIST_X0 entry.
  insert_compactcode(p, list_clause(), 0x09, functor_list);
  EXPECT_EQ(shape(code(p)->lstcase, 2), "c7+1");
  insert_compactcode(p, list_clause(), 0x09, functor_list);
  EXPECT_EQ(shape(code(p)->lstcase, 2), "try[c7+1,c8]");
}

TEST_F(Indexing, ClauseForEveryKeyIsSharedByAllEmptySlots)
{
  definition *p = pred("sh", 1);
  const TAGGED a = atom("a"), b = atom("b");
  insert_compactcode(p, const_clause(a), 0x17, a);
  insert_compactcode(p, const_clause(b), 0x17, b);
  sw_on_key *sw = code(p)->othercase;
  ASSERT_EQ(sw_slots(sw), 4u);
  ASSERT_EQ(sw->count, 2) << "two empty slots must share the default";
  insert_compactcode(p, var_clause(), 31, 0);
  EXPECT_EQ(slot(p, a), "try[c1+4,c3]");
  EXPECT_EQ(slot(p, b), "try[c2+4,c3]");
  std::vector<INSN *> empties;
  for (std::uint32_t i = 0; i < sw_slots(sw); i++)
    if (sw->tab[i].key == 0)
      empties.push_back(sw->tab[i].value.code);
  ASSERT_EQ(empties.size(), 2u);
  EXPECT_EQ(empties[0], made[2]->emulcode) << "the first empty slot gets the clause";
  EXPECT_EQ(empties[1], empties[0]) << "every other empty slot the same chain";
  // A second one appends to the one shared chain.
  insert_compactcode(p, var_clause(), 31, 0);
  EXPECT_EQ(dflt(p), "default:try[c3,c4]");
  for (std::uint32_t i = 0; i < sw_slots(sw); i++)
    if (sw->tab[i].key == 0) {
      EXPECT_EQ(shape(sw->tab[i].value.code, 1), "try[c3,c4]") << "empty slot " << i;
    }
}

TEST_F(Indexing, CommittingClauseHidesLaterOnesOfItsKey)
{
  definition *p = pred("r", 1);
  const TAGGED a = atom("a");
  insert_compactcode(p, const_clause(a), 0x37, a);   // commits after its test
  insert_compactcode(p, const_clause(a), 0x17, a);
  EXPECT_EQ(slot(p, a), "c1+4") << "a clause after a committing one is unreachable with key a";
  EXPECT_EQ(shape(code(p)->varcase, 1), "try[c1,c2]") << "an unbound argument may still fail c1's test";
  // A committing clause without a test hides everything after it, even for
  // unbound arguments.
  definition *s = pred("s", 1);
  insert_compactcode(s, var_clause(), 31 | 0x20, 0);
  insert_compactcode(s, var_clause(), 31, 0);
  EXPECT_EQ(shape(code(s)->varcase, 1), "c3");
  EXPECT_EQ(clauses(s), "c3,c4") << "the clause list still holds both";
}

TEST_F(Indexing, ElseChainsLinkWithoutChoicepoints)
{
  definition *p = pred("e", 1);
  const TAGGED a = atom("a");
  emul_info *c1 = const_clause(a, atom_nil, true);
  insert_compactcode(p, c1, 0x117, a);               // ends an else chain
  emul_info *c2 = var_else_clause();
  insert_compactcode(p, c2, 0x11F, 0);               // fits everything c1 fits
  EXPECT_EQ(c1->elsecode, c2->emulcode) << "c1 continues at c2 when its test fails";
  // The else operand of c1's EQUAL_TOQ (halfword 6) now names c2.
  EXPECT_EQ(code_word(c1->emulcode + 6), PointerToTerm(c2->emulcode));
  EXPECT_EQ(shape(code(p)->varcase, 1), "c1") << "no try node was needed";
  EXPECT_EQ(slot(p, a), "c1+4");
  EXPECT_EQ(dflt(p), "default:c2");
  EXPECT_NE(emul_ix(c1) & IX_ELSE_END, 0u);

  // A keyed clause cannot be else-linked: a try node, and c2 no longer ends
  // an else chain.
  emul_info *c3 = const_clause(a);
  insert_compactcode(p, c3, 0x17, a);
  EXPECT_EQ(shape(code(p)->varcase, 1), "try[c1,c3]");
  EXPECT_EQ(slot(p, a), "try[c1+4,c3]");
  EXPECT_EQ(emul_ix(c2) & IX_ELSE_END, 0u) << "the chain's last clause lost bit 8";
}

TEST_F(Indexing, CopiesAreIndependent)
{
  definition *p = pred("cp", 1);
  insert_compactcode(p, var_clause(), 31, 0);
  insert_compactcode(p, var_clause(), 31, 0);
  INSN *orig = code(p)->varcase;
  INSN *copy = incore_copy(orig);
  ASSERT_NE(copy, orig);
  EXPECT_EQ(shape(copy, 1), "try[c1,c2]");
  try_node *a = chain_try_nodes(orig), *b = chain_try_nodes(copy);
  EXPECT_NE(a, b);
  EXPECT_NE(a->next, b->next) << "the copy must have its own nodes";
  EXPECT_EQ(incore_copy(failcode), failcode);
  EXPECT_EQ(incore_copy(made[0]->emulcode), made[0]->emulcode);
  // Freed by hand: the predicate does not own it.
  scan_try(&copy, free_reaper);
}

TEST_F(Indexing, MultifileRemovalRebuildsTheIndex)
{
  definition *p = pred("m", 1);
  p->proc.properties |= PROP_MULTIFILE;
  const TAGGED f1 = atom("one.pl"), f2 = atom("two.pl");
  const TAGGED a = atom("a"), b = atom("b");
  insert_compactcode(p, var_clause(f1), 31, 0);       // c1
  insert_compactcode(p, const_clause(a, f2), 0x17, a); // c2
  insert_compactcode(p, const_clause(b, f1), 0x97, b); // c3, with a cut
  insert_compactcode(p, var_clause(f2), 31, 0);       // c4
  ASSERT_EQ(predtyp(p), ENTER_COMPACTCODE_INDEXED);

  // Nothing of three.pl: nothing changes.
  TAGGED cell[2] = {atom("three.pl"), atom_nil};
  INSN *before = code(p)->varcase;
  EXPECT_EQ(multifile_retractall_compiled(p, MakeLST(cell)), 0);
  EXPECT_EQ(code(p)->varcase, before);

  cell[0] = f2;
  EXPECT_EQ(multifile_retractall_compiled(p, MakeLST(cell)), 2);
  EXPECT_EQ(clauses(p), "c1,c3");
  EXPECT_EQ(predtyp(p), ENTER_COMPACTCODE_INDEXED) << "c3 needs the index again";
  EXPECT_EQ(shape(code(p)->varcase, 1), "try[c1,c3]");
  EXPECT_EQ(slot(p, b), "try[c1,c3]");
  EXPECT_EQ(slot(p, a), "default:c1") << "a's clause is gone";
  EXPECT_NE(p->proc.properties & PROP_CUT, 0u) << "c3's cut is recorded again";

  // Removing the keyed clause leaves a non-indexed predicate.
  cell[0] = f1;
  definition *q = pred("m2", 1);
  insert_compactcode(q, var_clause(f2), 31, 0);       // c5
  insert_compactcode(q, const_clause(a, f1), 0x17, a); // c6
  EXPECT_EQ(multifile_retractall_compiled(q, MakeLST(cell)), 1);
  EXPECT_EQ(predtyp(q), ENTER_COMPACTCODE);
  EXPECT_EQ(shape(code(q)->varcase, 1), "c5");
  EXPECT_EQ(clauses(q), "c5");
}

TEST_F(Indexing, MultifileRemovalReroutesElseLinks)
{
  // c1 -else-> c2 -else-> c3; removing c2's file must send c1 on to c3,
  // never into c2's freed code.
  definition *p = pred("el", 1);
  const TAGGED f1 = atom("one.pl"), f2 = atom("two.pl");
  const TAGGED a = atom("a");
  emul_info *c1 = const_clause(a, f1, true);
  emul_info *c2 = const_clause(a, f2, true);
  insert_compactcode(p, c1, 0x117, a);
  code_builder b2;
  b2.emit(EQUAL_TO, {cb::else_to(elsecode)});
  b2.emit(PROCEED);
  // c2 must cover c1's cases to be else-linked: give it key 0.
  emul_info *mid = keep(b2, f2);
  insert_compactcode(p, mid, 0x11F, 0);
  emul_info *c3 = var_else_clause();
  c3->filename = f1;
  insert_compactcode(p, c3, 0x11F, 0);
  ASSERT_EQ(c1->elsecode, mid->emulcode);
  ASSERT_EQ(mid->elsecode, c3->emulcode);
  (void)c2;

  TAGGED cell[2] = {f2, atom_nil};
  EXPECT_EQ(multifile_retractall_compiled(p, MakeLST(cell)), 1);
  EXPECT_EQ(c1->elsecode, c3->emulcode);
  EXPECT_EQ(code_word(c1->emulcode + 6), PointerToTerm(c3->emulcode)) << "c1's else operand still names removed code";
  EXPECT_EQ(shape(code(p)->varcase, 1), "c1");
  EXPECT_EQ(clauses(p), "c1,c4");
  // c2 was never installed; free it here.
  checkdealloc(c2, emul_objsize(c2), mm_code(MM_BIN_EMUL_INFO));
}

} // namespace
