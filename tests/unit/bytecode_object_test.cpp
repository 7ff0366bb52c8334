// The compiler's installation built-ins: $make_bytecode_object/4 must lay
// out the same clause record as the code builder for the same code, reject
// items that would write outside the record or break the canonical form of
// inline numbers, and $compiled_clause/4 must install only clause records
// that it made and has not installed yet, into compiled predicates only.
#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <vector>

#include "atoms.h"
#include "code_builder.h"
#include "datadefs.h"
#include "indexing.h"
#include "initial_atoms.h"
#include "modules.h"
#include "predicates.h"
#include "terms.h"
#include "wamsup.h"
#include "worker_fixture.h"

namespace {

constexpr TAGGED A(std::uint32_t e) { return MakeAtom(e); }

struct BytecodeObject : WorkerFixture {
  TAGGED file = 0;
  void SetUp() override
  {
    WorkerFixture::SetUp();
    ASSERT_EQ(init_atoms_once(), 1);
    ASSERT_NE(init_modules(), 0);
    file = init_atom_check("lib.pl", 0);
    eglobal->current_source_info = A(atom_on_enum);
  }
  void TearDown() override
  {
    eglobal->add_table_comp = nullptr;
    eglobal->current_source_info = 0;
    deinit_modules();
    deinit_atoms();
    WorkerFixture::TearDown();
  }

  // Heap terms.
  TAGGED put(std::initializer_list<TAGGED> words)
  {
    TAGGED *p = w->global_top;
    for (TAGGED x : words)
      *w->global_top++ = x;
    return MakeSTR(p);
  }
  TAGGED s1(std::uint32_t name, TAGGED a) { return put({MakeFunctor(A(name), 1), a}); }
  TAGGED s2(TAGGED name, TAGGED a, TAGGED b) { return put({MakeFunctor(name, 2), a, b}); }
  TAGGED var()
  {
    TAGGED *p = w->global_top++;
    *p = PointerToTerm(p);
    return *p;
  }
  TAGGED list(std::initializer_list<TAGGED> items)
  {
    std::vector<TAGGED> v(items);
    TAGGED l = atom_nil;
    for (auto it = v.rbegin(); it != v.rend(); ++it) {
      TAGGED *c = w->global_top;
      w->global_top += 2;
      c[0] = *it;
      c[1] = l;
      l = MakeLST(c);
    }
    return l;
  }
  static TAGGED sm(int v) { return MakeSmall_checked(v); }
  TAGGED o(int insn) { return s1(atom_o_enum, sm(insn)); }
  TAGGED spec(const char *name, int arity) { return s2(A(atom_slash_enum), init_atom_check(name, 0), sm(arity)); }

  // Calls $make_bytecode_object(Size, Items, File, Ref); the clause or null.
  emul_info *make(int size, TAGGED items)
  {
    const TAGGED ref = var();
    w->term[0] = sm(size);
    w->term[1] = items;
    w->term[2] = file;
    w->term[3] = ref;
    if (!prolog_make_bytecode_object(w))
      return nullptr;
    const TAGGED r = deref(ref);
    EXPECT_TRUE(IsSmall(r)) << "a clause reference is a small integer";
    return reinterpret_cast<emul_info *>(r - 3);
  }
  // Calls $compiled_clause(Spec, Ref, _, Info).
  int compiled(TAGGED spec_, TAGGED ref, TAGGED info)
  {
    w->term[0] = spec_;
    w->term[1] = ref;
    w->term[2] = var();
    w->term[3] = info;
    return prolog_compiled_clause(w);
  }
  TAGGED info(int ix, TAGGED key) { return s2(init_atom_check("ix", 0), sm(ix), key); }
  definition *compiled_pred(const char *name, int arity)
  {
    definition *d = insert_definition(eglobal->typein_mod, init_atom_check(name, 0), arity, 1);
    redefine_predicate(d, ENTER_COMPACTCODE);
    return d;
  }
  static void expect_same_record(const emul_info *got, const emul_info *want)
  {
    ASSERT_EQ(emul_objsize(got), emul_objsize(want));
    const auto *g = reinterpret_cast<const unsigned char *>(got);
    const auto *x = reinterpret_cast<const unsigned char *>(want);
    for (std::uint32_t i = 0; i < emul_objsize(want); i++)
      ASSERT_EQ(g[i], x[i]) << "records differ at byte " << i << " (code halfword " << (static_cast<int>(i) - 16) / 2 << ")";
  }
  static void free_clause(emul_info *c)
  {
    forget_pending_clause(c);
    checkdealloc(c, emul_objsize(c), mm_code(MM_BIN_EMUL_INFO));
  }
};

TEST_F(BytecodeObject, SameRecordAsTheCodeBuilder)
{
  const TAGGED f = init_atom_check("f", 0);
  definition *callee = parse_definition(spec("g", 2), eglobal->typein_mod);
  ASSERT_NE(callee, nullptr);
  code_builder b;
  b.emit(GET_STRUCTURE_X0, {cb::f(MakeFunctor(f, 2))});
  b.emit(UNIFY_X_VARIABLE, {cb::x(3)});
  b.emit(UNIFY_LARGE, {cb::large_int(1LL << 40)});
  b.emit(EQUAL_TO, {cb::else_to(elsecode)});
  b.emit(BINOP_ADD_IMM, {cb::l(-5)});
  b.emit(GET_X_VALUE_PROCEED, {cb::x(1), cb::x(2)});
  b.emit(EXECUTE, {cb::def(callee)});
  emul_info *want = b.finish(failcode, 0, file);

  const TAGGED big = put({BOX_INT2, 0, 256, BOX_INT2});   // 2^40
  const TAGGED items = list({
      o(GET_STRUCTURE_X0Q), sm(0), s1(atom_functor_enum, spec("f", 2)),
      o(UNIFY_X_VARIABLE), s1(atom_x_enum, sm(3)),
      o(UNIFY_LARGEQ), sm(0), s2(A(atom_large_enum), big, var()),
      o(EQUAL_TOQ), sm(0), A(atom_else_enum),
      o(BINOP_ADD_IMMQ), sm(0), s1(atom_long_enum, sm(-5)),
      s1(atom_lineno_enum, sm(12)), init_atom_check("comment", 0), var(),
      o(GET_X_VALUE_PROCEED), s1(atom_x_enum, sm(1)), s1(atom_x_enum, sm(2)),
      o(EXECUTE), s1(atom_emul_entry_enum, spec("g", 2)),
  });
  emul_info *got = make(static_cast<int>(2 * b.size()), items);
  ASSERT_NE(got, nullptr);
  expect_same_record(got, want);
  EXPECT_EQ(got->next, nullptr);
  EXPECT_EQ(got->elsecode, failcode);
  EXPECT_EQ(got->filename, file);
  EXPECT_EQ(pending_clause_of_word(clause_ref(got)), got);
  free_clause(got);
  checkdealloc(want, emul_objsize(want), mm_code(MM_BIN_EMUL_INFO));
}

TEST_F(BytecodeObject, ChoiceBlocksRefsAndVariableItems)
{
  code_builder b;
  cb_label l1 = b.new_label(), l2 = b.new_label();
  b.emit(EQUAL_TO, {cb::else_to(l2)});     // halfwords 0-3
  b.choice_block(1, {l1, l2});             // head 4-11, nodes 12-27
  b.bind(l1);
  b.emit(PROCEED);                         // 28
  b.bind(l2);
  b.emit(UNIFY_Y_VARIABLE, {cb::y(2)});    // 29-30
  b.emit(PROCEED);                         // 31
  emul_info *want = b.finish(failcode, 0, file);
  ASSERT_EQ(b.size(), 32u) << "the layout this test assumes";

  const TAGGED items = list({
      o(EQUAL_TOQ), sm(0), s1(atom_ref_enum, sm(59)),   // odd offsets round down
      put({MakeFunctor(A(atom_try_enum), 3), sm(56), sm(1), sm(1)}),
      put({MakeFunctor(A(atom_try_enum), 3), sm(58), sm(1), sm(2)}),
      o(PROCEED),
      o(UNIFY_Y_VARIABLE), s1(atom_y_enum, sm(2)),
      o(PROCEED),
  });
  emul_info *got = make(64, items);
  ASSERT_NE(got, nullptr);
  // In-clause addresses differ between two records: compare with the
  // builder's code placed where the built-in's record lies.
  const std::vector<INSN> image = b.image(PointerToTerm(got->emulcode));
  std::memcpy(want->emulcode, image.data(), 2 * image.size());
  expect_same_record(got, want);
  free_clause(got);
  checkdealloc(want, emul_objsize(want), mm_code(MM_BIN_EMUL_INFO));

  // The remaining one-halfword items.
  struct tc {
    TAGGED item;
    INSN code;
  } cases[] = {
      {s1(atom_y_enum, sm(3)), 20},          {s1(atom_value_enum, sm(3)), 20},
      {s1(atom_variable_enum, sm(3)), 21},   {s1(atom_unsafe_value_enum, sm(3)), 22},
      {A(atom_void_enum), 3},                {sm(1234), 1234},
  };
  for (const tc &c : cases) {
    emul_info *r = make(2, list({c.item}));
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->emulcode[0], c.code);
    free_clause(r);
  }
}

TEST_F(BytecodeObject, LineNumbersGoToTheSourceTable)
{
  static std::vector<std::pair<std::uintptr_t, long>> seen;
  seen.clear();
  eglobal->add_table_comp = [](void *code, TAGGED, long line) {
    seen.push_back({reinterpret_cast<std::uintptr_t>(code), line});
  };
  emul_info *c = make(8, list({o(NOP), sm(4), sm(0), sm(0), s1(atom_lineno_enum, sm(3))}));
  ASSERT_NE(c, nullptr);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].first, reinterpret_cast<std::uintptr_t>(c->emulcode)) << "4 bytes back, rounded down to 8";
  EXPECT_EQ(seen[0].second, 3);
  free_clause(c);
  eglobal->current_source_info = A(atom_off_enum);
  c = make(2, list({s1(atom_lineno_enum, sm(9))}));
  EXPECT_EQ(seen.size(), 1u) << "source_info off records nothing";
  free_clause(c);
}

// Fault: large(T, _) with a small integer T used to box it as a one-digit
// integer, a second representation of that integer.  An L operand holds a
// boxed number only; the item now fails, and so does a non-number.
TEST_F(BytecodeObject, LargeItemTakesBoxedNumbersOnly)
{
  struct tc {
    const char *why;
    TAGGED t;
    bool ok;
  } cases[] = {
      {"small integer", sm(5), false},
      {"atom", A(atom_void_enum), false},
      {"non-number structure", spec("f", 1), false},
      {"two-digit integer", put({BOX_INT2, 0, 1, BOX_INT2}), true},
      {"float", put({BOX_FLOAT, 0, 0x3FF00000, BOX_FLOAT}), true},
  };
  for (const tc &c : cases) {
    emul_info *r = make(18, list({o(UNIFY_LARGEQ), sm(0), s2(A(atom_large_enum), c.t, var()), sm(77)}));
    EXPECT_EQ(r != nullptr, c.ok) << c.why;
    if (r != nullptr) {
      EXPECT_EQ(large_insn_offset(r->emulcode + 2), 6u) << c.why;
      EXPECT_EQ(r->emulcode[8], 77) << c.why << ": the next item goes right after the number";
      EXPECT_EQ(code_word(r->emulcode + 2), TagToSTR(c.t)[0]);
      free_clause(r);
    }
  }
}

// Unsafe input: items must stay inside the Size bytes, offsets inside the
// clause, and try items must continue the block they extend.
TEST_F(BytecodeObject, ItemsThatWouldWriteOutsideTheRecordFail)
{
  struct tc {
    const char *why;
    int size;
    TAGGED items;
  } cases[] = {
      {"halfword past the end", 2, list({sm(1), sm(2)})},
      {"word past the end", 2, list({A(atom_fail_enum)})},
      {"large past the end", 4, list({s2(A(atom_large_enum), put({BOX_INT2, 0, 1, BOX_INT2}), var())})},
      {"ref outside the clause", 8, list({s1(atom_ref_enum, sm(10))})},
      {"negative ref", 8, list({s1(atom_ref_enum, sm(-2))})},
      {"try head past the end", 8, list({put({MakeFunctor(A(atom_try_enum), 3), sm(0), sm(1), sm(1)})})},
      {"try 2 without a head", 64, list({put({MakeFunctor(A(atom_try_enum), 3), sm(0), sm(1), sm(2)})})},
      {"try at an odd halfword", 64, list({sm(0), put({MakeFunctor(A(atom_try_enum), 3), sm(0), sm(1), sm(1)})})},
      {"arity 256", 64, list({put({MakeFunctor(A(atom_try_enum), 3), sm(0), sm(256), sm(1)})})},
      {"o of a non-integer", 8, list({s1(atom_o_enum, A(atom_void_enum))})},
      {"unknown structure", 8, list({s1(atom_true_enum, sm(1))})},
      {"emul_entry of a non-spec", 8, list({s1(atom_emul_entry_enum, sm(1))})},
      {"negative size", -2, atom_nil},
  };
  for (const tc &c : cases)
    EXPECT_EQ(make(c.size, c.items), nullptr) << c.why;
  // Lists, other atoms and variables emit nothing.
  emul_info *r = make(2, list({list({sm(1)}), A(atom_true_enum), var(), sm(7)}));
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->emulcode[0], 7);
  free_clause(r);
}

TEST_F(BytecodeObject, CompiledClauseInstalls)
{
  definition *p = compiled_pred("p", 1);
  const TAGGED a = init_atom_check("a", 0);
  // p(a): GET_CONSTANT_X0Q a, PROCEED; ix given as bit 1 only.
  emul_info *c = make(10, list({o(GET_CONSTANT_X0Q), sm(0), s1(atom_tagged_enum, a), o(PROCEED)}));
  ASSERT_NE(c, nullptr);
  ASSERT_EQ(compiled(spec("p", 1), clause_ref(c), info(0x03, a)), 1);
  EXPECT_EQ(emul_ix(c), 0x17u) << "bits 1, 2 and 4 go together";
  EXPECT_EQ(p->proc.code.incoreinfo->clauses, c);
  EXPECT_EQ(predtyp(p), ENTER_COMPACTCODE_INDEXED);
  sw_on_key_node *n = incore_gethash(p->proc.code.incoreinfo->othercase, a);
  EXPECT_EQ(n->key, a);
  EXPECT_EQ(n->value.code, c->emulcode + 4);
  // A structure key is its functor word; a var key is 0 (every key).
  const TAGGED g1 = MakeFunctor(init_atom_check("g", 0), 1);
  emul_info *c2 = make(2, list({o(PROCEED)}));
  ASSERT_EQ(compiled(spec("p", 1), clause_ref(c2), info(0x16, put({g1, sm(0)}))), 1);
  EXPECT_EQ(incore_gethash(p->proc.code.incoreinfo->othercase, g1)->key, g1);
  EXPECT_EQ(pending_clause_of_word(clause_ref(c2)), nullptr) << "installed clauses leave the registry";
}

// Fault: a predicate whose type is not compiled used to "succeed doing
// nothing", dropping the clause while reporting success.
TEST_F(BytecodeObject, CompiledClauseFailsForNonCompiledPredicates)
{
  definition *dyn = insert_definition(eglobal->typein_mod, init_atom_check("d", 0), 1, 1);
  redefine_predicate(dyn, ENTER_INTERPRETED);
  emul_info *c = make(2, list({o(PROCEED)}));
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(compiled(spec("d", 1), clause_ref(c), info(31, var())), 0) << "dynamic predicate";
  EXPECT_EQ(compiled(spec("undefined_one", 1), clause_ref(c), info(31, var())), 0) << "undefined predicate";
  EXPECT_EQ(pending_clause_of_word(clause_ref(c)), c) << "a refused clause stays available";
  // ... and may still be installed where it belongs.
  definition *p = compiled_pred("ok", 1);
  EXPECT_EQ(compiled(spec("ok", 1), clause_ref(c), info(31, var())), 1);
  EXPECT_EQ(p->proc.code.incoreinfo->varcase, c->emulcode);
}

// Fault: clause references from Prolog were trusted.  Only a record made by
// $make_bytecode_object and not installed yet is accepted, once.
TEST_F(BytecodeObject, CompiledClauseValidatesReferences)
{
  definition *p = compiled_pred("v", 1);
  emul_info *c = make(2, list({o(PROCEED)}));
  ASSERT_NE(c, nullptr);
  struct tc {
    const char *why;
    TAGGED ref;
  } cases[] = {
      {"arbitrary small integer", sm(4096)},
      {"a definition's address + 3", definition_word(p)},
      {"a clause address + 11", clause_ref(c) + 8},
      {"an atom", A(atom_void_enum)},
      {"an unbound variable", var()},
  };
  for (const tc &k : cases)
    EXPECT_EQ(compiled(spec("v", 1), k.ref, info(31, var())), 0) << k.why;
  EXPECT_EQ(p->proc.code.incoreinfo->clauses, nullptr) << "nothing was installed";
  ASSERT_EQ(compiled(spec("v", 1), clause_ref(c), info(31, var())), 1);
  EXPECT_EQ(compiled(spec("v", 1), clause_ref(c), info(31, var())), 0) << "installing twice would loop the chain";
  EXPECT_EQ(p->proc.code.incoreinfo->clauses, c);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(c->next), 1u) << "one clause";
  // Malformed Info.
  emul_info *d = make(2, list({o(PROCEED)}));
  EXPECT_EQ(compiled(spec("v", 1), clause_ref(d), A(atom_void_enum)), 0) << "Info not a structure";
  EXPECT_EQ(compiled(spec("v", 1), clause_ref(d), info(512, var())), 0) << "ix out of range";
  EXPECT_EQ(compiled(sm(3), clause_ref(d), info(31, var())), 0) << "Spec not Name/Arity";
  free_clause(d);
}

} // namespace
