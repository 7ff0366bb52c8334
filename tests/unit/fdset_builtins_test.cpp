// The FD-set built-ins, called as the foreign-resource loader will call
// them: through the resource's own interface structure, with term
// references, in a runtime brought up by the production start-up.  Sets
// come from the term reader, so some hold bound variables in their cells.
#include <gtest/gtest.h>

#include <string>

#include "fdset_builtins.h"
#include "fdset_model.h"
#include "fdsets.h"
#include "fli.h"
#include "runtime_fixture.h"
#include "unify.h"

namespace {

using fdset_model::text;

struct FdsetBuiltins : RuntimeFixture {
  fd_state st{};
  VREnv env{};
  DISPATCH_TABLE_STRUCT_VOSTREL_H *api = nullptr;

  void SetUp() override
  {
    RuntimeFixture::SetUp();
    init_vrenv(&w->fli_data, &env, &st);
    st.overflowing = 1;
    api = env.dispatch_API_VOSTREL_H;
  }

  // A term read from text.  f(Binding..., Set) lets a test bind variables
  // that a set's cells refer to: "f(X-3, T-[[7|9]], [[1|X]|T])".
  VR_term_ref term(const char *source)
  {
    const VR_term_ref t = api->pVR_new_term_ref();
    const std::string clause = std::string(source) + " .";
    EXPECT_EQ(api->pVR_read_from_string(t, clause.c_str(), nullptr), 1) << source;
    TAGGED x = deref(w->fli_stack_start[t].term);
    if (IsStructure(x) && FunctorName(*TagToSTR(x)) == init_atom_check("f", 0)) {
      const unsigned n = Arity(*TagToSTR(x));
      for (unsigned i = 1; i < n; i++) {
        const TAGGED pair = deref(TagToSTR(deref(w->fli_stack_start[t].term))[i]);
        EXPECT_TRUE(cunify(w, TagToSTR(pair)[1], TagToSTR(pair)[2])) << source;
      }
      w->fli_stack_start[t].term = TagToSTR(deref(w->fli_stack_start[t].term))[n];
    }
    return t;
  }
  VR_term_ref var() { return term("_"); }
  std::string of(VR_term_ref r) { return text(w->fli_stack_start[r].term); }
  // Runs a call and says whether it succeeded (the interface's failure
  // flag was left set).
  template <typename F> bool succeeds(F f)
  {
    w->fli_data->excp_flag = 1;
    f();
    return w->fli_data->excp_flag != 0;
  }
};

TEST_F(FdsetBuiltins, SizeChecksTheSet)
{
  struct row {
    const char *set;
    long ok;
    const char *size;
  };
  const row rows[] = {
      {"[[1|3],[5|6]]", 1, "5"},
      {"[]", 1, "0"},
      {"[[inf|0]]", 1, "sup"},
      {"[[-268435456|268435455]]", 1, "sup"}, // 2^29 values: beyond the small integers
      {"f(X-3, T-[[7|9]], [[1|X]|T])", 1, "6"},
      {"[[1|3],[4|6]]", 0, "_"},   // touching intervals
      {"[[1|sup],[9|9]]", 0, "_"}, // something after sup
      {"[[3|1]]", 0, "_"},
      {"[[1|2]|_]", 0, "_"}, // open list
      {"[[1|a]]", 0, "_"},
      {"foo", 0, "_"},
      {"_", 0, "_"},
  };
  std::int64_t n;
  bool plain = true;
  EXPECT_TRUE(fd_check_set(w->fli_stack_start[term("f(X-3, T-[[7|9]], [[1|X]|T])")].term, &n, &plain));
  EXPECT_FALSE(plain) << "the set's cells should refer to the bound variables";
  for (const row &r : rows) {
    const VR_term_ref set = term(r.set), size = var();
    EXPECT_EQ(prolog_fd_size_vrenv_multi_vr(&env, set, size), r.ok) << r.set;
    EXPECT_EQ(of(size), r.size) << r.set;
  }
}

TEST_F(FdsetBuiltins, RangeAndCons)
{
  struct row {
    const char *a, *b;
    long ok;
    const char *set;
  };
  const row ranges[] = {
      {"5", "4", 1, "[]"},         {"inf", "sup", 1, "[[inf|sup]]"}, {"1", "sup", 1, "[[1|sup]]"},
      {"sup", "5", 1, "[]"},       {"1", "inf", 1, "[]"},           {"-3", "-3", 1, "[[-3|-3]]"},
      {"foo", "5", 0, "_"},        {"_", "5", 0, "_"},              {"1", "2.0", 0, "_"},
  };
  for (const row &r : ranges) {
    const VR_term_ref a = term(r.a), b = term(r.b), set = var();
    EXPECT_EQ(prolog_fd_range_vrenv_multi_vr(&env, a, b, set), r.ok) << r.a << ".." << r.b;
    EXPECT_EQ(of(set), r.set) << r.a << ".." << r.b;
  }

  struct crow {
    const char *a, *b, *rest;
    long ok;
    const char *set;
  };
  const crow conses[] = {
      {"1", "3", "[[5|6]]", 1, "[[1|3],[5|6]]"},
      {"inf", "sup", "[]", 1, "[[inf|sup]]"},
      {"inf", "2", "[[5|6]]", 1, "[[inf|2],[5|6]]"},
      {"1", "4", "[[5|6]]", 0, "_"},   // would touch the rest
      {"1", "sup", "[[5|6]]", 0, "_"}, // nothing may follow sup
      {"3", "1", "[]", 0, "_"},
      {"sup", "sup", "[]", 0, "_"},
      {"1", "3", "foo", 0, "_"},
  };
  for (const crow &r : conses) {
    const VR_term_ref a = term(r.a), b = term(r.b), rest = term(r.rest), set = var();
    EXPECT_EQ(prolog_fd_cons_vrenv_multi_vr(&env, a, b, rest, set), r.ok) << r.a << ".." << r.b << " " << r.rest;
    EXPECT_EQ(of(set), r.set) << r.a << ".." << r.b << " " << r.rest;
  }
}

TEST_F(FdsetBuiltins, SetOperationsGiveHeapSets)
{
  struct row {
    void (*op)(VREnv *, VR_term_ref, VR_term_ref, VR_term_ref);
    const char *name, *a, *b, *want;
  };
  const row rows[] = {
      {prolog_fd_dom_union_vrenv_multi_vr, "union", "[[1|3],[9|sup]]", "[[4|5]]", "[[1|5],[9|sup]]"},
      {prolog_fd_dom_union_vrenv_multi_vr, "union", "[]", "[[4|5]]", "[[4|5]]"},
      {prolog_fd_dom_intersection_vrenv_multi_vr, "intersection", "[[inf|3],[9|12]]", "[[2|10]]", "[[2|3],[9|10]]"},
      {prolog_fd_dom_subtract_vrenv_multi_vr, "subtract", "[[inf|sup]]", "[[0|0]]", "[[inf|-1],[1|sup]]"},
      // A set that Prolog built with an open tail, bound afterwards.
      {prolog_fd_dom_union_vrenv_multi_vr, "union", "f(X-3, T-[[7|9]], [[1|X]|T])", "[[4|4]]", "[[1|4],[7|9]]"},
      {prolog_fd_dom_insert_vrenv_multi_vr, "insert", "[[1|3],[5|6]]", "4", "[[1|6]]"},
      {prolog_fd_dom_insert_vrenv_multi_vr, "insert", "[[1|3]]", "2", "[[1|3]]"},
      {prolog_fd_dom_delete_vrenv_multi_vr, "delete", "[[1|3]]", "2", "[[1|1],[3|3]]"},
      {prolog_fd_dom_delete_vrenv_multi_vr, "delete", "[[1|3]]", "7", "[[1|3]]"},
      {prolog_fd_negate_vrenv_multi_vr, "negate", "[[1|3],[7|sup]]", "10", "[[inf|3],[7|9]]"},
  };
  for (const row &r : rows) {
    const VR_term_ref a = term(r.a), b = term(r.b), d = var();
    EXPECT_TRUE(succeeds([&] { r.op(&env, a, b, d); })) << r.name << " " << r.a << " " << r.b;
    EXPECT_EQ(of(d), r.want) << r.name << " " << r.a << " " << r.b;
    const TAGGED got = deref(w->fli_stack_start[d].term);
    for (TAGGED x = got; IsList(x); x = fd_rest(x)) {
      EXPECT_TRUE(TagToLST(x) >= w->heap_start && TagToLST(x) < w->global_top) << r.name << ": not on the heap";
      EXPECT_TRUE(TagToLST(fd_first_interval(x)) >= w->heap_start && TagToLST(fd_first_interval(x)) < w->global_top);
    }
  }
  // Malformed sets and non-integer values fail the call.
  const char *bad[][2] = {{"[[1|3],[4|5]]", "[]"}, {"[]", "foo"}, {"_", "[]"}};
  for (auto &b : bad) {
    const VR_term_ref x = term(b[0]), y = term(b[1]), d = var();
    EXPECT_FALSE(succeeds([&] { prolog_fd_dom_union_vrenv_multi_vr(&env, x, y, d); })) << b[0] << " " << b[1];
  }
  const VR_term_ref s = term("[[1|3]]"), v = term("a"), d = var();
  EXPECT_FALSE(succeeds([&] { prolog_fd_dom_insert_vrenv_multi_vr(&env, s, v, d); }));
}

TEST_F(FdsetBuiltins, ContainsAndIntersect)
{
  const VR_term_ref set = term("[[1|3],[7|sup]]");
  EXPECT_TRUE(succeeds([&] { prolog_fd_dom_contains_vrenv_multi_vr(&env, set, term("2")); }));
  EXPECT_TRUE(succeeds([&] { prolog_fd_dom_contains_vrenv_multi_vr(&env, set, term("268435455")); }));
  EXPECT_FALSE(succeeds([&] { prolog_fd_dom_contains_vrenv_multi_vr(&env, set, term("5")); }));
  EXPECT_FALSE(succeeds([&] { prolog_fd_dom_contains_vrenv_multi_vr(&env, term("[]"), term("5")); }));
  EXPECT_FALSE(succeeds([&] { prolog_fd_dom_contains_vrenv_multi_vr(&env, set, term("inf")); }));

  struct row {
    const char *a, *b;
    long want;
    const char *why;
  };
  const row rows[] = {
      {"[[1|3]]", "[[1|3]]", 2, "equal sets: the first within the second"},
      {"[[1|3]]", "[[0|5]]", 2, "within"},
      {"[[1|3]]", "[[5|6]]", 1, "disjoint"},
      {"[[0|5]]", "[[1|3]]", 3, "the first strictly contains the second"},
      {"[[0|5]]", "[[3|9]]", 3, "overlap"},
      {"[]", "[[3|9]]", 2, "the empty set lies within every set"},
      {"[[0|5]]", "[]", 1, "nothing is shared with the empty set"},
  };
  for (const row &r : rows)
    EXPECT_EQ(prolog_fd_dom_intersect_vrenv_multi_vr(&env, term(r.a), term(r.b)), r.want) << r.why;
}

TEST_F(FdsetBuiltins, ComplementAndItsOverflow)
{
  VR_term_ref d = var();
  EXPECT_TRUE(succeeds([&] { prolog_fd_dom_complement_vrenv_multi_vr(&env, term("[[1|5]]"), d); }));
  EXPECT_EQ(of(d), "[[inf|0],[6|sup]]");
  EXPECT_EQ(st.fd_overflow, 0);

  // Below -268435456 lie integers the solver cannot name: in mode "fail"
  // the complement fails and leaves its output alone.
  st.overflowing = 0;
  d = var();
  EXPECT_FALSE(succeeds([&] { prolog_fd_dom_complement_vrenv_multi_vr(&env, term("[[-268435456|5]]"), d); }));
  EXPECT_EQ(st.fd_overflow, 1);
  EXPECT_EQ(of(d), "_");

  // A stale flag from before does not fail the next complement.
  d = var();
  EXPECT_TRUE(succeeds([&] { prolog_fd_dom_complement_vrenv_multi_vr(&env, term("[[inf|5]]"), d); }));
  EXPECT_EQ(of(d), "[[6|sup]]");
}

} // namespace
