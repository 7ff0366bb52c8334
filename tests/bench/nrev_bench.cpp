// Naive reverse of a 30-element list: the classic measure of the emulator's
// speed in logical inferences per second (one nrev30 is 496 inferences).
// The program is built with the code builder as the compiler will emit it:
//
//   app([], L, L).
//   app([H|T], L, [H|R]) :- app(T, L, R).
//   nrev([], []).
//   nrev([H|T], R) :- nrev(T, RT), app(RT, [H], R).
//
// Each query runs nrev30 once; the driver repeats it and reports the rate.
// Not a test: `bench_nrev [iterations]` prints the figure.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "compiler.h"
#include "operators.h"
#include "wam_fixture.h"
#include "run_mode.h"

namespace {

int iterations = 20000;

struct NrevBench : WamFixture {
  definition *app = nullptr, *nrev = nullptr;

  void build()
  {
    app = pred("app", 3, ENTER_COMPACTCODE_INDEXED);
    nrev = pred("nrev", 2, ENTER_COMPACTCODE_INDEXED);
    {
      code_builder b; // app([], L, L).
      b.emit(GET_NIL_X0);
      b.emit(GET_X_VALUE_PROCEED, {cb::x(2), cb::x(1)});
      clause(app, b, 0x17, atom_nil);
    }
    {
      code_builder b; // app([H|T], L, [H|R]) :- app(T, L, R).
      b.emit(GET_LIST_X0);
      b.emit(UNIFY_X_VARIABLE, {cb::x(3)});
      b.emit(UNIFY_X_VARIABLE, {cb::x(0)});
      b.emit(GET_LIST, {cb::x(2)});
      b.emit(UNIFY_X_VALUE, {cb::x(3)});
      b.emit(UNIFY_X_VARIABLE, {cb::x(2)});
      b.emit(EXECUTE, {cb::def(app)});
      clause(app, b, 0x09, functor_list);
    }
    {
      code_builder b; // nrev([], []).
      b.emit(GET_NIL_X0);
      b.emit(GET_NIL, {cb::x(1)});
      b.emit(PROCEED);
      clause(nrev, b, 0x17, atom_nil);
    }
    {
      code_builder b; // nrev([H|T], R) :- nrev(T, RT), app(RT, [H], R).
      b.emit(GET_LIST_X0);
      b.emit(UNIFY_X_VARIABLE, {cb::x(2)});
      b.emit(UNIFY_X_VARIABLE, {cb::x(0)});
      b.emit(GET_Y_FIRST_VARIABLE, {cb::x(1), cb::y(0)});
      b.emit(GET_Y_VARIABLE, {cb::x(2), cb::y(1)});
      b.emit(FIRSTCALL, {cb::args(1, {cb::fresh(2)}), cb::def(nrev), cb::env(3)});
      b.emit(PUT_LIST, {cb::x(1)});
      b.emit(UNIFY_Y_VALUE, {cb::y(1)});
      b.emit(UNIFY_NIL);
      b.emit(PUT_Y_VALUE, {cb::x(2), cb::y(0)});
      b.emit(LASTCALL, {cb::args(0, {cb::unsafe(2)}), cb::def(app)});
      clause(nrev, b, 0x09, functor_list);
    }
  }

  TAGGED list30()
  {
    std::vector<TAGGED> items;
    for (int i = 1; i <= 30; i++)
      items.push_back(MakeSmall_checked(i));
    return test_list_of(items);
  }
  TAGGED test_list_of(const std::vector<TAGGED> &items)
  {
    TAGGED l = atom_nil;
    for (auto it = items.rbegin(); it != items.rend(); ++it) {
      TAGGED *h = heap(2);
      h[0] = *it;
      h[1] = l;
      l = MakeLST(h);
    }
    return l;
  }
};

TEST_F(NrevBench, NaiveReverseOfThirty)
{
  build();
  TAGGED l = list30();
  // Check the result once.
  TAGGED out = var();
  ASSERT_EQ(run(nrev, {l, out}), 1);
  TAGGED r = deref(out);
  for (int i = 30; i >= 1; i--) {
    ASSERT_TRUE(IsList(r));
    ASSERT_EQ(deref(TagToLST(r)[0]), MakeSmall_checked(i));
    r = deref(TagToLST(r)[1]);
  }
  close_query();
  // Each round: one solution, then backtracking into the query's
  // choicepoint undoes the bindings and resets the stacks.
  TAGGED result = var();
  auto start = std::chrono::steady_clock::now();
  for (int k = 0; k < iterations; k++) {
    ASSERT_EQ(run(nrev, {l, result}), 1);
    ASSERT_EQ(next(), 0);
    close_query();
  }
  double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  double lips = 496.0 * iterations / secs;
  std::printf("nrev30: %d iterations in %.3f s: %.1f million LIPS\n", iterations, secs, lips / 1e6);
}

// The same program compiled from source by our compiler.
TEST_F(NrevBench, NaiveReverseOfThirtyCompiled)
{
  init_operators();
  std::vector<std::string> errors;
  consult_text(w,
               "app([], L, L).\n"
               "app([H|T], L, [H|R]) :- app(T, L, R).\n"
               "nrev([], []).\n"
               "nrev([H|T], R) :- nrev(T, RT), app(RT, [H], R).\n",
               module("user"), &errors);
  ASSERT_TRUE(errors.empty()) << errors.front();
  definition *nrev_c = insert_definition(module("user"), atom("nrev"), 2, 0);
  ASSERT_NE(nrev_c, nullptr);
  TAGGED l = list30();
  TAGGED result = var();
  ASSERT_EQ(run(nrev_c, {l, result}), 1);
  ASSERT_EQ(deref(TagToLST(deref(result))[0]), MakeSmall_checked(30));
  ASSERT_EQ(next(), 0);
  close_query();
  auto start = std::chrono::steady_clock::now();
  for (int k = 0; k < iterations; k++) {
    ASSERT_EQ(run(nrev_c, {l, result}), 1);
    ASSERT_EQ(next(), 0);
    close_query();
  }
  double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("nrev30 compiled from source: %d iterations in %.3f s: %.1f million LIPS\n", iterations, secs,
              496.0 * iterations / secs / 1e6);
  deinit_operators();
}

} // namespace

int main(int argc, char **argv)
{
  ::testing::InitGoogleTest(&argc, argv);
  print_run_mode();
  if (argc > 1)
    iterations = std::atoi(argv[1]);
  return RUN_ALL_TESTS();
}
