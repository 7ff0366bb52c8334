// Stored-term images: compile_term, get_instance, keys and the small
// services on stored terms and boxed numbers.
#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "heavy_tests.h"
#include "array_stacks.h"
#include "copy_term.h"
#include "initial_atoms.h"
#include "instance.h"
#include "memman.h"
#include "terms.h"
#include "unify.h"
#include "worker.h"

namespace {

constexpr TAGGED atom_a = MakeAtom(300), atom_x = MakeAtom(301), atom_p = MakeAtom(304);
constexpr TAGGED functor_f1 = MakeFunctor(MakeAtom(302), 1);
constexpr TAGGED functor_f2 = MakeFunctor(MakeAtom(302), 2);
constexpr TAGGED functor_p1 = MakeFunctor(atom_p, 1);
constexpr TAGGED functor_p5 = MakeFunctor(atom_p, 5);

struct Instances : ::testing::Test {
  array_stacks stacks;
  worker w{};
  std::vector<instance *> made;
  void SetUp() override
  {
    ASSERT_EQ(memman_init(), 0);
    stacks.attach(w, 12000000, 4096, 1 << 23);
  }
  void TearDown() override
  {
    for (instance *i : made)
      checkdealloc(i, i->objsize, mm_code(MM_BIN_INSTANCE));
    ct_free();
    memman_deinit();
  }
  TAGGED heap_var() { return test_heap_var(w); }
  TAGGED s(TAGGED f, std::initializer_list<TAGGED> args) { return test_struct(w, f, args); }
  TAGGED cons(TAGGED h, TAGGED t) { return test_cons(w, h, t); }
  instance *compile(TAGGED head, TAGGED tail)
  {
    instance *i = compile_term(&w, cons(head, tail), 0);
    made.push_back(i);
    return i;
  }
  // Copies the instance at least `gap` words above the heap top; returns
  // the stored pair as a list term.
  TAGGED fetch(instance *ins, int gap)
  {
    w.global_top += gap;
    get_instance(&w, ins, 0, 0);
    return MakeLST(w.global_top - 2);
  }
};

// Structural equality up to a consistent renaming of variables; walks with
// an explicit stack so that long lists are fine.
bool same_shape(TAGGED a, TAGGED b, std::string *why)
{
  std::map<TAGGED, TAGGED> ab, ba;
  std::vector<std::pair<TAGGED, TAGGED>> todo{{a, b}};
  std::map<std::pair<TAGGED, TAGGED>, bool> seen;
  while (!todo.empty()) {
    auto [x, y] = todo.back();
    todo.pop_back();
    x = deref(x);
    y = deref(y);
    if (IsVar(x) || IsVar(y)) {
      if (!IsVar(x) || !IsVar(y) || (ab.count(x) && ab[x] != y) || (ba.count(y) && ba[y] != x)) {
        *why = "variables do not correspond";
        return false;
      }
      ab[x] = y;
      ba[y] = x;
      continue;
    }
    if (tag_of(x) != tag_of(y) || (IsAtomic(x) && x != y)) {
      *why = "different constants or kinds";
      return false;
    }
    if (IsAtomic(x) || seen[{x, y}])
      continue;
    seen[{x, y}] = true;
    const TAGGED *px = TagToPointer(x), *py = TagToPointer(y);
    unsigned n = 2, first = 0;
    if (IsStructure(x)) {
      if (px[0] != py[0]) {
        *why = "different functors or box headers";
        return false;
      }
      if (IsBoxHeader(px[0])) {
        for (unsigned i = 1; i < BoxWords(px[0]); i++)
          if (px[i] != py[i]) {
            *why = "different box payloads";
            return false;
          }
        continue;
      }
      n = Arity(px[0]) + 1;
      first = 1;
    }
    for (unsigned i = first; i < n; i++)
      todo.push_back({px[i], py[i]});
  }
  return true;
}

} // namespace

TEST_F(Instances, RoundTripAtADifferentHeapAddress)
{
  TAGGED x = heap_var(), y = heap_var(), z = heap_var();
  TAGGED shared = s(functor_f2, {y, atom_a});
  TAGGED head = s(functor_p5, {x, s(functor_f2, {shared, shared}),
                               cons(MakeSmall_checked(1), cons(MakeSmall_checked(2), z)),
                               make_int64(&w, 1LL << 40), make_float(&w, 1.5)});
  TAGGED body = s(functor_f2, {y, x});
  TAGGED pair = cons(head, body);
  std::vector<TAGGED> before(w.heap_start, w.global_top);
  instance *ins = compile_term(&w, pair, 0);
  made.push_back(ins);
  EXPECT_TRUE(std::equal(before.begin(), before.end(), w.heap_start)) << "the source is untouched";
  EXPECT_EQ(w.value_trail, VALUE_TRAIL_EMPTY);
  EXPECT_EQ(ins->objsize, INSTANCE_HEADER_BYTES + 4 * instance_words(ins));
  EXPECT_EQ(ins->bdd_count, 0);
  EXPECT_EQ(ins->source_link, nullptr);
  EXPECT_EQ(ins->key, 0u) << "first argument unbound";

  for (int gap : {17, 1001}) {
    TAGGED got = fetch(ins, gap);
    std::string why;
    EXPECT_TRUE(same_shape(got, pair, &why)) << "placed " << gap << " words up: " << why;
    TAGGED h = deref(TagToLST(got)[0]);
    TAGGED f = deref(TagToSTR(h)[2]);
    EXPECT_EQ(deref(TagToSTR(f)[1]), deref(TagToSTR(f)[2])) << "the shared subterm stays shared";
    EXPECT_NE(deref(TagToSTR(h)[1]), x) << "variables are new";
  }
}

TEST_F(Instances, KeyOfTheStoredHead)
{
  TAGGED fx = s(functor_f1, {atom_x});
  struct tc {
    const char *why;
    TAGGED head;
    TAGGED key;
  } cases[] = {
      {"p(a): the atom", s(functor_p1, {atom_a}), atom_a},
      {"p(f(x)): the functor word", s(functor_p1, {fx}), functor_f1},
      {"p: not compound", atom_p, 0},
      {"p(X): unbound", s(functor_p1, {heap_var()}), 0},
      {"p([1]): the list functor", s(functor_p1, {cons(MakeSmall_checked(1), atom_nil)}), functor_list},
      {"p(2^40): the box header", s(functor_p1, {make_int64(&w, 1LL << 40)}), BOX_INT2},
      {"p(3): the small integer", s(functor_p1, {MakeSmall_checked(3)}), MakeSmall_checked(3)},
  };
  for (const tc &c : cases)
    EXPECT_EQ(compile(c.head, atom_nil)->key, c.key) << c.why;
}

TEST_F(Instances, ConstantTermIsTwoWords)
{
  TAGGED v = heap_var();
  instance *ins = compile(v, atom_a);
  EXPECT_EQ(instance_words(ins), 2u);
  TAGGED got = fetch(ins, 3);
  EXPECT_EQ(w.global_top[-1], atom_a) << "the root is the constant itself";
  EXPECT_EQ(*TagToRef(w.global_top[-2]), w.global_top[-2]) << "a spare variable of its own";
  EXPECT_EQ(deref(TagToLST(got)[1]), atom_a);
}

TEST_F(Instances, ReferenceToThePairsOwnCellEncodes)
{
  // [g(T) | T]: the head refers to the pair's tail cell.
  TAGGED t = heap_var();
  instance *ins = compile(s(functor_f1, {t}), t);
  TAGGED got = fetch(ins, 5);
  TAGGED tail = TagToLST(got)[1];
  TAGGED inner = deref(TagToSTR(deref(TagToLST(got)[0]))[1]);
  EXPECT_TRUE(IsVar(inner) && *TagToRef(inner) == inner);
  EXPECT_EQ(inner, deref(tail)) << "one variable, in both places";
  EXPECT_EQ(cunify(&w, inner, atom_a), 1);
  EXPECT_EQ(deref(TagToLST(got)[1]), atom_a);
}

TEST_F(Instances, DecisionDiagramNodesComeFirstInRankOrder)
{
  constexpr TAGGED pos = MakeFunctor(MakeAtom(133), 3), neg = MakeFunctor(MakeAtom(134), 3);
  TAGGED n1 = s(pos, {MakeSmall_checked(5), atom_a, atom_x});
  TAGGED n2 = s(neg, {MakeSmall_checked(3), n1, atom_a});
  instance *ins = compile(s(functor_f2, {n1, n2}), atom_nil);
  ASSERT_EQ(ins->bdd_count, 2);
  EXPECT_EQ(ins->code[0], neg) << "first argument 3 ranks first";
  EXPECT_EQ(ins->code[1], MakeSmall_checked(3));
  EXPECT_EQ(ins->code[2], 16u + 1) << "a pointer to node of rank 1 is 16 + 1";
  EXPECT_EQ(ins->code[4], pos);
  TAGGED got = fetch(ins, 0);
  std::string why;
  EXPECT_TRUE(same_shape(deref(TagToLST(got)[0]), s(functor_f2, {n1, n2}), &why)) << why;
}

TEST_F(Instances, RebuiltNodesAreRedirectedEverywhere)
{
  // A diagram library that already has an equal node: every pointer of the
  // copy to the rebuilt node must move to the existing one, including those
  // outside the node area.
  constexpr TAGGED pos = MakeFunctor(MakeAtom(133), 3);
  static TAGGED existing;
  existing = s(pos, {MakeSmall_checked(1), atom_a, atom_x});
  instance *ins = compile(s(functor_f2, {existing, existing}), atom_nil);
  bdd_hooks.reset_node = [](worker *, TAGGED *) {};
  bdd_hooks.lookup_external = [](worker *, TAGGED) { return existing; };
  TAGGED got = fetch(ins, 0);
  bdd_hooks = instance_bdd_hooks{};
  TAGGED h = deref(TagToLST(got)[0]);
  EXPECT_EQ(deref(TagToSTR(h)[1]), existing);
  EXPECT_EQ(deref(TagToSTR(h)[2]), existing);
}

TEST_F(Instances, MillionElementList)
{
  TAGGED l = atom_nil;
  TAGGED v = heap_var();
  for (int i = 0; i < heavy_list_length; ++i)
    l = cons(i == 0 ? v : MakeSmall_checked(i), l);
  instance *ins = compile(atom_a, l);
  TAGGED got = fetch(ins, 7);
  std::string why;
  EXPECT_TRUE(same_shape(deref(TagToLST(got)[1]), l, &why)) << why;
}

TEST_F(Instances, MemoryFaultTerm)
{
  instance *ins = memory_fault_term();
  made.push_back(ins);
  EXPECT_EQ(ins->objsize, 68u);
  TAGGED got = fetch(ins, 0);
  TAGGED e = deref(TagToLST(got)[1]);
  ASSERT_TRUE(IsStructure(e));
  EXPECT_EQ(TagToSTR(e)[0], MakeFunctor(MakeAtom(atom_resource_error_enum), 2));
  EXPECT_EQ(deref(TagToSTR(e)[1]), MakeSmall_checked(0));
  EXPECT_EQ(deref(TagToSTR(e)[2]), MakeAtom(atom_memory_enum));
}

TEST_F(Instances, AtomTableFullTerm)
{
  instance *ins = atom_table_full_term(atom_a);
  made.push_back(ins);
  EXPECT_EQ(ins->objsize, 76u);
  TAGGED got = fetch(ins, 0);
  TAGGED e = deref(TagToLST(got)[1]);
  ASSERT_TRUE(IsStructure(e));
  EXPECT_EQ(TagToSTR(e)[0], MakeFunctor(MakeAtom(atom_error_enum), 2));
  TAGGED formal = deref(TagToSTR(e)[1]);
  ASSERT_TRUE(IsStructure(formal));
  EXPECT_EQ(TagToSTR(formal)[0], MakeFunctor(MakeAtom(atom_resource_error_enum), 1));
  EXPECT_EQ(deref(TagToSTR(formal)[1]), atom_a);
  EXPECT_TRUE(IsVar(deref(TagToSTR(e)[2]))) << "the context is left open";
}

TEST_F(Instances, DecodeBoxedRecordKey)
{
  TAGGED big = make_int64(&w, -(1LL << 40));
  instance *ins = compile(s(functor_p1, {big}), atom_a);
  TAGGED k = decode_instance_key(&w, ins);
  EXPECT_EQ(cunify(&w, k, big), 1);
  EXPECT_EQ(w.global_top[-1], TagToSTR(k)[0]) << "with its trailer";
}

TEST_F(Instances, LargeDataWords)
{
  TAGGED f = make_float(&w, 1.5);
  const TAGGED *box = TagToSTR(f);
  const TAGGED big = make_int64(&w, -(1LL << 40));
  const TAGGED huge = make_int64(&w, 1LL << 40);
  struct tc {
    const char *why;
    TAGGED n, boxed;
    bool ok;
    VR_int64 word;
  } cases[] = {
      {"header", MakeSmall_checked(0), f, true, static_cast<std::int32_t>(box[0])},
      {"low word of the double", MakeSmall_checked(1), f, true, static_cast<std::int32_t>(box[1])},
      {"high word", MakeSmall_checked(2), f, true, static_cast<std::int32_t>(box[2])},
      {"past the payload", MakeSmall_checked(3), f, false, 0},
      {"negative index", MakeSmall_checked(-1), f, false, 0},
      {"the trailer is not a word of the number", MakeSmall_checked(3), big, false, 0},
      {"last digit of a big integer", MakeSmall_checked(2), big, true, static_cast<std::int32_t>(TagToSTR(big)[2])},
      {"an index that is itself boxed", huge, f, false, 0},
      {"an index that is not an integer", MakeAtom(300), f, false, 0},
      {"a small integer is not boxed", MakeSmall_checked(0), MakeSmall_checked(7), false, 0},
      {"an unbound variable", MakeSmall_checked(0), heap_var(), false, 0},
  };
  for (const tc &c : cases) {
    TAGGED out = heap_var();
    w.term[0] = c.n;
    w.term[1] = c.boxed;
    w.term[2] = out;
    ASSERT_EQ(prolog_large_data(&w), c.ok ? 1 : 0) << c.why;
    if (c.ok) {
      TAGGED got = deref(out);
      VR_int64 v = IsSmall(got) ? GetSmall(got) : vri_get_int64(got);
      EXPECT_EQ(v, c.word) << c.why;
    }
  }
}
