// The indexical interpreter, instruction by instruction: small programs
// written by hand, stored as an FD predicate's indexicals, posted through
// $fd_post_reified/5 and run by the propagation loop on domain variables;
// the checking indexicals deciding (or not) the 0/1 variable; waking,
// entailment and backtracking; and the check that refuses programs the
// interpreter must never run.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "fd_kernel_fixture.h"
#include "indexical_interpreter.h"
#include "posting.h"
#include "propagation.h"
#include "sw_on_key.h"

namespace {

constexpr ix_byte c(long v) { return static_cast<ix_byte>(MakeSmall_checked(v)); }
constexpr ix_byte INF = static_cast<ix_byte>(atom_inf), SUP = static_cast<ix_byte>(atom_sup);

// Code words that name literals: d(N), the FD set of literal N, and
// h(N), the table of literal N.
constexpr ix_byte LIT = 0x70000000u, TAB = 0x60000000u;

struct Ix : FdKernel {
  // Installs the indexicals (pruned argument, code) of type `type` as
  // name/arity with $fd_install/5, every argument linked on its dom list;
  // literals: the literal list (as text) with its length.
  void install(const std::string &name, unsigned arity, int type,
               const std::vector<std::pair<unsigned, std::vector<ix_byte>>> &ixs, const std::string &literals = "[]",
               int n_literals = 0)
  {
    std::string link = "[";
    for (unsigned k = 0; k < arity; k++)
      link += (k ? ", " : "") + std::to_string(k) + "-1";
    link += "], " + std::to_string(arity);
    std::string infos = "[";
    for (const auto &[pruned, code] : ixs) {
      std::string words = "[";
      for (std::size_t i = 0; i < code.size(); i++) {
        const ix_byte x = code[i];
        words += i ? ", " : "";
        if ((x & 0xFF000000u) == LIT)
          words += "d(" + std::to_string(x - LIT) + ")";
        else if ((x & 0xFF000000u) == TAB)
          words += "h(" + std::to_string(x - TAB) + ")";
        else
          words += std::to_string(static_cast<std::int32_t>(x));
      }
      infos += (infos.size() > 1 ? ", i(" : "i(") + link + ", " + std::to_string(pruned) + ", " + words + "], " +
               std::to_string(code.size()) + ", " + literals + ", " + std::to_string(n_literals) + ")";
    }
    infos += "]";
    const VR_term_ref spec = term((name + "/" + std::to_string(arity)).c_str());
    const std::string count = std::to_string(ixs.size());
    EXPECT_TRUE(succeeds([&] {
      prolog_fd_install_vrenv_multi_vr(&env, spec, term("user"), term(std::to_string(type).c_str()),
                                       term(count.c_str()), term(infos.c_str()));
    })) << "installing " << infos;
  }
  // A variable (text "_" with a domain, or an integer) for an argument.
  VR_term_ref arg_of(const char *spec)
  {
    if (spec[0] == '[')
      return dvar_in(spec);
    return term(spec);
  }
  // Posts the predicate on the arguments with B (a term reference) and
  // runs the loop: its result, -1 for a failure.
  long post(const std::string &name, const std::vector<VR_term_ref> &args, VR_term_ref b)
  {
    std::string skeleton = name + "(";
    for (std::size_t i = 0; i < args.size(); i++)
      skeleton += i == 0 ? "_" : ", _";
    const VR_term_ref goal = term((skeleton + ")").c_str());
    for (std::size_t i = 0; i < args.size(); i++)
      TagToSTR(t(goal))[i + 1] = t(args[i]);
    const VR_term_ref attv = term("_");
    EXPECT_TRUE(succeeds([&] { prolog_fd_check_arguments_vrenv_multi_vr(&env, goal, attv); }));
    const VR_term_ref battr = term("none");
    if (attr_of(b) != 0)
      w->fli_stack_start[battr].term = attr_of(b);
    const VR_term_ref handle = term("_");
    EXPECT_TRUE(succeeds([&] { prolog_fd_find_definition_vrenv_multi_vr(&env, goal, term("user"), handle); }));
    prolog_fd_begin_vrenv_multi_vr(&env);
    if (!succeeds([&] { prolog_fd_post_reified_vrenv_multi_vr(&env, handle, goal, attv, b, battr); }))
      return -1;
    return loop();
  }
};

// One propagating indexical (type 1, B = 1) on argument domains; the
// target's domain afterwards ("fail" when the propagation failed) and
// whether the run entailed the indexical.
TEST_F(Ix, EachInstructionOnAPropagatingIndexical)
{
  struct row {
    const char *why;
    std::vector<const char *> args; // domains as FD sets, or integers
    unsigned pruned;
    std::vector<ix_byte> code;
    const char *want; // the target afterwards
    bool entailed;
  };
  const ix_byte lit_1_3_5 = LIT + 0, lit_2_4 = LIT + 1;
  const std::vector<row> rows = {
      {"X =< Y: max(Y), tell X in inf..top", {"[[1|10]]", "[[1|5]]"}, 0, {39, 46}, "[[1|5]] 1 5 5", false},
      {"Y >= X: min(X), tell Y in top..sup", {"[[3|10]]", "[[1|5]]"}, 1, {34, 47}, "[[3|5]] 3 5 3", false},
      {"min(Y)..max(Y) with Y fixed tells X and entails", {"[[1|10]]", "3"}, 0, {35, 39, 48}, "=3", true},
      {"dom(Y) + 1 with Y in 1..sup", {"[[inf|sup]]", "[[1|sup]]"}, 0, {31, 41, c(1), 5, 52, 0},
       "[[2|sup]] 2 sup sup", false},
      {"dom(Y) - 2 (instruction 6)", {"[[0|9]]", "[[1|3],[7|8]]"}, 0, {31, 41, c(2), 6, 52, 0},
       "[[0|1],[5|6]] 0 6 4", false},
      {"mod 0 gives up without pruning", {"[[-5|100]]", "[[1|5]]"}, 0, {41, c(0), 39, 41, c(0), 24, 48},
       "[[-5|100]] -5 100 106", false},
      {"words of 87 and above are skipped", {"[[1|10]]", "[[1|5]]"}, 0, {87, 39, 4000, 46}, "[[1|5]] 1 5 5", false},
      {"Z = X + Y (83, flag 1)", {"[[1|1],[3|3]]", "[[10|10],[20|20]]", "[[0|100]]"}, 2, {30, 31, 83, 1},
       "[[11|11],[13|13],[21|21],[23|23]] 11 23 4", false},
      {"Z = X - Y (84)", {"[[5|6]]", "[[1|1]]", "[[0|100]]"}, 2, {30, 31, 84, 0}, "[[4|5]] 4 5 2", false},
      {"remove the value of Y (49)", {"[[1|5]]", "3"}, 0, {27, 49}, "[[1|2],[4|5]] 1 5 4", true},
      {"remove the set dom(Y) (50)", {"[[1|5]]", "[[2|2],[4|4]]"}, 0, {31, 50}, "[[1|1],[3|3],[5|5]] 1 5 3", false},
      {"fix to the value of Y (51)", {"[[1|5]]", "3"}, 0, {27, 51}, "=3", true},
      {"complement of dom(Y) (9)", {"[[1|5]]", "[[2|4]]"}, 0, {31, 9, 52, 0}, "[[1|1],[5|5]] 1 5 2", false},
      {"union and intersection with literals (13, 17)", {"[[0|9]]"}, 0, {41, lit_1_3_5, 41, lit_2_4, 17, 41, c(9), 12, 52, 0},
       "[[2|3],[9|9]] 2 9 3", true},
      {"union (13) and subtraction (79)", {"[[0|9]]"}, 0, {41, lit_1_3_5, 41, lit_2_4, 13, 41, lit_2_4, 79, 52, 0},
       "[[1|1],[5|5]] 1 5 2", true},
      {"dom(Y) mod 3 (7)", {"[[-9|9]]", "[[0|10]]"}, 0, {31, 41, c(3), 7, 52, 0}, "[[0|2]] 0 2 3", false},
      {"dom(Y) mod -3 (7)", {"[[-9|9]]", "[[4|4]]"}, 0, {31, 41, c(-3), 7, 52, 0}, "=-2", true},
      {"dom(Y) rem 3 crossing 0 (86)", {"[[-9|9]]", "[[-4|4]]"}, 0, {31, 41, c(3), 86, 52, 0}, "[[-2|2]] -2 2 5", false},
      {"10 - dom(Y) (73)", {"[[0|20]]", "[[1|2],[5|5]]"}, 0, {31, 41, c(10), 73, 52, 0},
       "[[5|5],[8|9]] 5 9 3", false},
      {"dom(Y) + dom(Y) (74)", {"[[0|20]]", "[[1|1],[5|5]]"}, 0, {31, 31, 74, 52, 0},
       "[[2|2],[6|6],[10|10]] 2 10 3", false},
      {"dom(Y) - dom(Y) (75)", {"[[-20|20]]", "[[1|1],[5|5]]"}, 0, {31, 31, 75, 52, 0},
       "[[-4|-4],[0|0],[4|4]] -4 4 3", false},
      {"max(Y) + 2 (19)", {"[[0|20]]", "[[1|5]]"}, 0, {39, 41, c(2), 19, 46}, "[[0|7]] 0 7 8", false},
      {"max(Y) - min(Y) (20)", {"[[0|20]]", "[[2|5]]"}, 0, {39, 35, 20, 46}, "[[0|3]] 0 3 4", false},
      {"inf + sup gives up (19)", {"[[0|20]]"}, 0, {41, INF, 41, SUP, 19, 46}, "[[0|20]] 0 20 21", false},
      {"sup - sup gives up (20)", {"[[0|20]]"}, 0, {41, SUP, 41, SUP, 20, 46}, "[[0|20]] 0 20 21", false},
      {"3 * max(Y) (21)", {"[[0|20]]", "[[1|5]]"}, 0, {39, 21, c(3), 46}, "[[0|15]] 0 15 16", false},
      {"0 * sup gives up (21)", {"[[0|20]]", "[[1|sup]]"}, 0, {39, 21, c(0), 46}, "[[0|20]] 0 20 21", false},
      {"max(Y) / 2 rounded down (22)", {"[[0|20]]", "[[1|7]]"}, 0, {39, 22, c(2), 46}, "[[0|3]] 0 3 4", false},
      {"min(Y) / 2 rounded up (23)", {"[[0|20]]", "[[7|9]]"}, 0, {35, 23, c(2), 47}, "[[4|20]] 4 20 17", false},
      {"division by a zero constant gives up (22)", {"[[0|20]]", "[[1|7]]"}, 0, {39, 22, c(0), 46},
       "[[0|20]] 0 20 21", false},
      {"coefficient from the goal (42)", {"[[0|99]]", "[[1|5]]", "4"}, 0, {39, 42, 2, 46}, "[[0|20]] 0 20 21", false},
      {"divided by a goal argument, down and up (43, 44)", {"[[0|99]]", "[[7|9]]", "2"}, 0, {35, 44, 2, 39, 43, 2, 48},
       "=4", false},
      {"a zero coefficient in the goal gives up (43)", {"[[0|99]]", "[[7|9]]", "0"}, 0, {39, 43, 2, 46},
       "[[0|99]] 0 99 100", false},
      {"max(Y) rem 4 (85)", {"[[0|99]]", "[[1|7]]"}, 0, {41, c(0), 39, 41, c(4), 85, 48}, "[[0|3]] 0 3 4", false},
      {"max(Y) mod -4 (24)", {"[[-99|99]]", "[[1|7]]"}, 0, {39, 41, c(-4), 24, 41, c(0), 48}, "[[-1|0]] -1 0 2",
       false},
      {"all but the value of Y (8)", {"[[1|3]]", "2"}, 0, {27, 8, 52, 0}, "[[1|1],[3|3]] 1 3 2", true},
      {"{a, b} (10)", {"[[0|9]]", "2", "7"}, 0, {27, 28, 10, 52, 0}, "[[2|2],[7|7]] 2 7 2", true},
      {"{a} when a = b, else [] (14)", {"[[0|9]]", "2", "7"}, 0, {27, 28, 14, 52, 0}, "fail", false},
      {"{a} when a differs from b (76)", {"[[0|9]]", "2", "7"}, 0, {27, 28, 76, 52, 0}, "=2", true},
      {"{v} when v is in dom(Z) (15)", {"[[0|9]]", "2", "[[1|3]]"}, 0, {27, 32, 15, 52, 0}, "=2", false},
      {"{v} when v is not in dom(Z) (77)", {"[[0|9]]", "2", "[[1|3]]"}, 0, {27, 32, 77, 52, 0}, "fail", false},
      {"dom(Z) with v added and removed (11, 78)", {"[[0|9]]", "6", "[[1|3]]"}, 0, {27, 32, 11, 41, c(2), 78, 52, 0},
       "[[1|1],[3|3],[6|6]] 1 6 3", false},
      {"the size of dom(Y) (66..68)", {"[[0|9]]", "[[1|3],[7|7]]"}, 0, {67, 46}, "[[0|4]] 0 4 5", false},
      {"inf..v and v..sup (2, 3)", {"[[0|9]]", "[[3|6]]"}, 0, {39, 2, 35, 3, 17, 52, 0}, "[[3|6]] 3 6 4", false},
      {"an empty interval tell fails (48)", {"[[0|9]]", "[[5|6]]"}, 0, {39, 35, 48}, "fail", false},
      {"lo..hi as a set (4), empty when hi < lo", {"[[0|9]]", "[[5|6]]"}, 0, {39, 35, 4, 52, 0}, "fail", false},
      {"inf..sup (1) changes nothing and entails", {"[[0|9]]"}, 0, {1, 52, 0}, "[[0|9]] 0 9 10", true},
      {"72 fails the call", {"[[0|9]]"}, 0, {72}, "fail", false},
      {"45 ends the run, entailed when ground", {"[[0|9]]", "4"}, 0, {27, 45}, "[[0|9]] 0 9 10", true},
      {"a bound at sup..sup is an overflow, not a tell", {"[[0|9]]"}, 0, {41, SUP, 41, SUP, 48}, "fail", false},
  };
  int n = 0;
  for (const row &r : rows) {
    SCOPED_TRACE(r.why);
    const std::string name = "ix" + std::to_string(n++);
    install(name, static_cast<unsigned>(r.args.size()), 1, {{r.pruned, r.code}}, "[d([[1|3],[5|5]]), d([[2|4]])]", 2);
    std::vector<VR_term_ref> args;
    for (const char *a : r.args)
      args.push_back(arg_of(a));
    const unsigned long entailed_before = st().entailments;
    const long result = post(name, args, term("1"));
    EXPECT_EQ(result == -1 ? std::string("fail") : dom_text(args[r.pruned]), r.want);
    if (result != -1) {
      EXPECT_EQ(st().entailments - entailed_before, r.entailed ? 1u : 0u) << "entailed";
    }
  }
}

// A union over the values of a set (63, 64, 18) and a table of cases with
// subroutines (69, 70); jumps on empty and non-empty sets (61, 62).
TEST_F(Ix, LoopsTablesAndJumps)
{
  // X in union over v in dom(Y) of {2v}.
  const std::vector<ix_byte> loop = {31, 63, 11, /* body */ 18, 5, 21, c(2), 0, 64, 5, 3, /* 11 */ 52, 0};
  // X in case val(Y) of 1: {10}; 2: {20..21}; otherwise [].
  const char *literals = "[d([[10|10]]), d([[20|21]]), d([[1|3]]), d([[7|7]]), table([1-4, 2-7]), d([])]";
  const std::vector<ix_byte> cases = {27, 69, TAB + 4, 11, 41, LIT + 0, 70, 41, LIT + 1, 70, 87, 52, 0};
  // X in (S empty -> [] ; {1..3}), jumping with 62.
  const std::vector<ix_byte> empty_jump = {31, 62, 6, 41, LIT + 2, 87, 52, 0};
  // X in (S non-empty -> inf..sup ; {7}), jumping with 61.
  const std::vector<ix_byte> full_jump = {31, 61, 6, 41, LIT + 3, 87, 52, 0};
  struct row {
    const char *why;
    const std::vector<ix_byte> &code;
    const char *y;
    const char *want;
  };
  const row rows[] = {
      {"loop over three values", loop, "[[1|2],[5|5]]", "[[2|2],[4|4],[10|10]] 2 10 3"},
      {"loop over one value", loop, "3", "=6"},
      {"loop over an infinite set gives up", loop, "[[1|sup]]", "[[0|99]] 0 99 100"},
      {"table: key 1", cases, "1", "=10"},
      {"table: key 2", cases, "2", "[[20|21]] 20 21 2"},
      {"table: no such key gives []", cases, "3", "fail"},
      {"62 on an empty set jumps with []", empty_jump, "[[1|sup]]", "[[1|3]] 1 3 3"},
      {"61 on a non-empty set jumps with inf..sup", full_jump, "[[1|2]]", "[[0|99]] 0 99 100"},
  };
  int n = 0;
  for (const row &r : rows) {
    SCOPED_TRACE(r.why);
    const std::string name = "lt" + std::to_string(n++);
    install(name, 2, 1, {{0, r.code}}, literals, 6);
    const VR_term_ref x = dvar_in("[[0|99]]"), y = arg_of(r.y);
    const long result = post(name, {x, y}, term("1"));
    EXPECT_EQ(result == -1 ? std::string("fail") : dom_text(x), r.want);
  }
  // 62 with a set from dom/1 never empty: the fall-through path.
  install("ltx", 2, 1, {{0, {41, LIT + 5, 62, 7, 41, LIT + 2, 87, 52, 0}}}, literals, 6);
  const VR_term_ref x = dvar_in("[[0|99]]"), y = dvar_in("[[0|1]]");
  EXPECT_EQ(post("ltx", {x, y}, term("1")), -1) << "62 on [] jumps with [] to the tell, which fails";
}

// Checking indexicals for X =< Y (type 3: the constraint itself, code 35,
// 54, target X), for X \= Y (31, 58), for the negation (type 2), and the
// swapped verdicts of 57; B is an unbound 0/1 variable.
TEST_F(Ix, CheckingIndexicalsDecideTheTruthValue)
{
  struct row {
    const char *why;
    int type;
    std::vector<ix_byte> code;
    const char *x, *y;
    const char *b; // B afterwards
  };
  const row rows[] = {
      {"max(X) =< min(Y): B = 1 at once", 3, {35, 54}, "[[1|3]]", "[[5|9]]", "=1"},
      {"Y fixed below min(X): B = 0", 3, {35, 54}, "[[6|9]]", "5", "=0"},
      {"min(X) above min(Y) but Y not fixed: undecided", 3, {35, 54}, "[[6|9]]", "[[5|9]]", "[[0|1]] 0 1 2"},
      {"overlap: undecided", 3, {35, 54}, "[[1|9]]", "5", "[[0|1]] 0 1 2"},
      {"the negation's check decides the opposite", 2, {35, 54}, "[[1|3]]", "[[5|9]]", "=0"},
      {"disjoint domains decide X \\= Y", 3, {31, 58}, "[[1|3]]", "[[5|6]]", "=1"},
      {"equal fixed domains decide X \\= Y false", 3, {31, 58}, "4", "4", "=0"},
      {"57: X fixed to val(Y) decides the opposite at once", 3, {27, 57}, "4", "4", "=0"},
      {"57: val(Y) outside dom(X) with Y fixed decides the truth", 3, {27, 57}, "[[1|3]]", "4", "=1"},
      {"59: X fixed to val(Y) decides the truth", 3, {27, 59}, "4", "4", "=1"},
      {"60: dom(X) inside dom(Y)", 3, {31, 60}, "[[2|3]]", "[[1|5]]", "=1"},
      {"56: dom(X) inside min(Y)..max(Y)", 3, {35, 39, 56}, "[[2|3]]", "[[1|5]]", "=1"},
      {"56: lo = hi an integer is a value check", 3, {35, 39, 56}, "[[2|3]]", "7", "=0"},
      {"55: dom(X) above min(Y)", 3, {35, 55}, "[[6|9]]", "[[1|5]]", "=1"},
      {"53 decides the truth value", 3, {53}, "[[6|9]]", "[[1|5]]", "=1"},
  };
  int n = 0;
  for (const row &r : rows) {
    SCOPED_TRACE(r.why);
    const std::string name = "ck" + std::to_string(n++);
    install(name, 2, r.type, {{0, r.code}});
    const VR_term_ref x = arg_of(r.x), y = arg_of(r.y), b = dvar_in("[[0|1]]");
    ASSERT_EQ(post(name, {x, y}, b), 0);
    EXPECT_EQ(dom_text(b), r.b);
  }
}

// A check of X against a constant reads no argument (its result is
// ground) yet decides nothing while X overlaps: it must stay alive, and
// decide B when X later moves inside.
TEST_F(Ix, AnUndecidedCheckStaysAliveAndDecidesLater)
{
  install("le5", 1, 3, {{0, {41, c(5), 54}}});
  const VR_term_ref x = dvar_in("[[1|9]]"), b = dvar_in("[[0|1]]");
  const unsigned long entailed = st().entailments;
  ASSERT_EQ(post("le5", {x}, b), 0);
  EXPECT_EQ(dom_text(b), "[[0|1]] 0 1 2");
  EXPECT_EQ(st().entailments, entailed) << "an undecided check is not entailed";
  prolog_fd_begin_vrenv_multi_vr(&env);
  load_tell_registers(x);
  fd_told(&env, w, fd_tell_interval(&env, w, MakeSmall_checked(1), MakeSmall_checked(4), 5), 0);
  ASSERT_EQ(loop(), 0);
  EXPECT_EQ(dom_text(b), "=1");
}

// X =< Y as two propagating indexicals: the first run links them, a later
// change of Y wakes X's, and backtracking restores both domains.
TEST_F(Ix, IndexicalsWakeOnChangesAndBacktrack)
{
  install("le", 2, 1, {{0, {39, 46}}, {1, {34, 47}}});
  const VR_term_ref x = dvar_in("[[1|10]]"), y = dvar_in("[[0|8]]");
  ASSERT_EQ(post("le", {x, y}, term("1")), 0);
  EXPECT_EQ(dom_text(x), "[[1|8]] 1 8 8");
  EXPECT_EQ(dom_text(y), "[[1|8]] 1 8 8");
  const TAGGED lists = fd_mutable_value(arg(fd_last_attribute(attr_of(y)), FD_ATTR_LISTS));
  EXPECT_EQ(GetSmall(arg(lists, FD_LISTS_COUNT)), 2) << "both indexicals linked on Y after their first runs";
  step_then_backtrack(
      [&] {
        prolog_fd_begin_vrenv_multi_vr(&env);
        load_tell_registers(y);
        fd_told(&env, w, fd_tell_interval(&env, w, MakeSmall_checked(1), MakeSmall_checked(3), 5), 0);
        EXPECT_EQ(loop(), 0);
        EXPECT_EQ(dom_text(x), "[[1|3]] 1 3 3");
        load_tell_registers(x);
        prolog_fd_begin_vrenv_multi_vr(&env);
        fd_told(&env, w, fd_tell_interval(&env, w, MakeSmall_checked(3), MakeSmall_checked(3), 1), 0);
        EXPECT_EQ(loop(), 0);
        EXPECT_EQ(dom_text(y), "=3") << "Y's indexical woke on X's change and fixed it";
      },
      [&] {
        EXPECT_EQ(dom_text(x), "[[1|8]] 1 8 8");
        EXPECT_EQ(dom_text(y), "[[1|8]] 1 8 8");
      });
}

// What the check refuses: each a program that would make the interpreter
// read or jump outside what it owns, or run forever.
TEST_F(Ix, TheCheckRefusesWhatTheInterpreterMustNotRun)
{
  const ix_byte cons = static_cast<ix_byte>(MakeSmall_checked(0));
  struct row {
    const char *why;
    std::vector<ix_byte> code;
    unsigned arity;
    bool ok;
  };
  std::vector<ix_byte> deep;
  for (unsigned i = 0; i < FD_IX_MAX_STACK + 1; i++)
    deep.push_back(1);
  deep.push_back(52);
  deep.push_back(0);
  std::vector<ix_byte> deepest(deep.begin() + 1, deep.end());
  const row rows[] = {
      {"the examples: X =< Y", {39, 46}, 2, true},
      {"X \\= Y checking", {31, 58}, 2, true},
      {"Z = X + Y", {30, 31, 83, 1}, 3, true},
      {"83 may end without its flag word", {30, 31, 83}, 3, true},
      {"a loop", {31, 63, 11, 18, 5, 21, cons, 0, 64, 5, 3, 52, 0}, 2, true},
      {"as deep as the registers allow", deepest, 1, true},
      {"one entry deeper than the registers", deep, 1, false},
      {"stack underflow", {46}, 1, false},
      {"a set where a bound is expected", {31, 46}, 2, false},
      {"a bound where a set is expected", {35, 52, 0}, 2, false},
      {"argument beyond the arity", {40, 46}, 2, false},
      {"argument operand beyond the arity", {37, 5, 46}, 2, false},
      {"loop slot out of range", {18, 128, 46}, 1, false},
      {"the ground set of a one-argument constraint (71)", {71, 52, 0}, 1, false},
      {"the ground set of a two-argument constraint (71)", {71, 52, 0}, 2, true},
      {"operand missing at the end", {41}, 1, false},
      {"a jump past the end", {31, 61, 99, 52, 0}, 2, false},
      {"a backward jump", {31, 41, static_cast<ix_byte>(atom_nil), 62, 1, 52, 0}, 2, false},
      {"a jump into an operand", {31, 62, 4, 41, static_cast<ix_byte>(atom_nil), 52, 0}, 2, false},
      {"paths meeting with different stacks", {31, 62, 5, 1, 1, 52, 0}, 2, false},
      {"loop start without its end", {31, 63, 4, 18, 0, 0, 52, 0}, 2, false},
      {"loop body that pops the loop's own rest", {31, 63, 9, 13, 1, 1, 64, 0, 3, 52, 0}, 2, false},
      {"a literal that is neither bound nor set", {41, static_cast<ix_byte>(MakeAtom(9)), 46}, 1, false},
      {"return without a table call", {1, 70}, 1, false},
  };
  for (const row &r : rows) {
    const char *why = nullptr;
    unsigned where = 0;
    EXPECT_EQ(ix_check_code(r.code.data(), static_cast<unsigned>(r.code.size()), nullptr, 0, r.arity, &why, &where),
              r.ok)
        << r.why << (why ? std::string(": refused for ") + why + " at " + std::to_string(where) : "");
  }
}

} // namespace
