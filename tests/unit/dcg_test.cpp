// Grammar rule translation: the clause each kind of grammar body becomes,
// shown as text with its variables named by first appearance; the faults
// reported for malformed rules (with the heap left as it was); and bodies
// thousands of goals long or deep, which must not cost native stack.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "dcg.h"
#include "reader_fixture.h"

namespace {

// A heap of 1 MiB: the deep bodies need room (the default is 16 KiB).
struct Dcg : ReaderFixture {
  bool create_in_setup() const override { return false; }
  void SetUp() override
  {
    ReaderFixture::SetUp();
    setenv("GLOBALSTKSIZE", "1M", 1);
    start();
  }

  // Variables as A, B, ... in order of first appearance, so that a text
  // does not depend on where the cells happen to lie on the heap.
  static std::string normalise(const std::string &text)
  {
    std::map<std::string, std::string> names;
    std::string out;
    bool quoted = false;
    for (std::size_t i = 0; i < text.size();) {
      const char c = text[i];
      if (c == '\'')
        quoted = !quoted;
      const bool starts_token = i == 0 || !(std::isalnum(static_cast<unsigned char>(text[i - 1])) ||
                                            text[i - 1] == '_');
      if (!quoted && c == '_' && starts_token) {
        std::size_t j = i + 1;
        while (j < text.size() && (std::isalnum(static_cast<unsigned char>(text[j])) || text[j] == '_'))
          j++;
        const std::string var = text.substr(i, j - i);
        auto found = names.find(var);
        if (found == names.end()) {
          const std::size_t n = names.size();
          std::string name = n < 26 ? std::string(1, static_cast<char>('A' + n)) : "V" + std::to_string(n);
          found = names.emplace(var, name).first;
        }
        out += found->second;
        i = j;
        continue;
      }
      out += c;
      i++;
    }
    return out;
  }

  // The clause for the first rule of text, or "error: message"; on an
  // error the heap top must be where it was before the translation.
  std::string translate(const std::string &text)
  {
    open(text);
    if (next() != READ_OK)
      return std::string("read error: ") + r.message;
    TAGGED *const top = w->global_top;
    TAGGED clause = 0;
    std::string error;
    if (!dcg_translate(w, r.term, &clause, &error)) {
      EXPECT_EQ(w->global_top, top) << "a failed translation left " << (w->global_top - top)
                                    << " words on the heap for " << text;
      return "error: " + normalise(error);
    }
    return normalise(term_to_text(clause));
  }

  TAGGED compound(const char *name, std::vector<TAGGED> args)
  {
    TAGGED t = make_structure(w, MakeFunctor(atom(name), static_cast<unsigned>(args.size())));
    for (std::size_t i = 0; i < args.size(); i++)
      TagToSTR(t)[i + 1] = args[i];
    return t;
  }
};

struct rule_case {
  const char *why;
  const char *rule;
  const char *clause;  // normalised clause text, or "error: message"
};

TEST_F(Dcg, Translations)
{
  const rule_case cases[] = {
      {"non-terminals chain through a fresh list", "p(X) --> q(X), r.", "p(A,B,C):-q(A,B,D),r(D,C)"},
      {"atom head and atom body", "p --> q.", "p(A,B):-q(A,B)"},
      {"terminal list", "p --> [a,b].", "p(A,B):-A=[a,b|B]"},
      {"empty terminal list", "p --> [].", "p(A,B):-A=B"},
      {"string as codes", "p --> \"ab\".", "p(A,B):-A=[97,98|B]"},
      {"terminal after a non-terminal", "p --> q, [x].", "p(A,B):-q(A,C),C=[x|B]"},
      {"terminal with a variable", "p(X) --> [X], q.", "p(A,B,C):-B=[A|D],q(D,C)"},
      {"curly goal consumes nothing", "p --> {q(X)}, [X].", "p(A,B):-(q(C),A=D),D=[C|B]"},
      {"cut inside curly stays a cut", "p --> {!}.", "p(A,B):-!,A=B"},
      {"curly conjunction kept whole", "p --> {a, b}.", "p(A,B):-(a,b),A=B"},
      {"cut", "p --> !, q.", "p(A,B):-(!,A=C),q(C,B)"},
      {"disjunction: both branches between the same lists", "p --> q ; r.", "p(A,B):-q(A,B);r(A,B)"},
      {"bar is a disjunction", "p --> (q | [a]).", "p(A,B):-q(A,B);A=[a|B]"},
      {"disjunction inside a conjunction", "p --> (a, b ; c), d.",
       "p(A,B):-(a(A,C),b(C,D);c(A,D)),d(D,B)"},
      {"if-then-else", "p --> (q -> r ; s).", "p(A,B):-q(A,C)->r(C,B);s(A,B)"},
      {"if-then", "p --> (q -> [a]).", "p(A,B):-q(A,C)->C=[a|B]"},
      {"negation consumes nothing", "p --> \\+ q, r.", "p(A,B):-(\\+q(A,C),A=D),r(D,B)"},
      {"negation of a terminal", "p --> \\+ [a].", "p(A,B):- \\+A=[a|C],A=B"},
      {"call//N adds the lists after its arguments", "p(G) --> call(G, x).", "p(A,B,C):-call(A,x,B,C)"},
      {"call//1", "p(G) --> call(G).", "p(A,B,C):-call(A,B,C)"},
      {"variable non-terminal", "p(X) --> X.", "p(A,B,C):-phrase(A,B,C)"},
      {"variable in a conjunction", "p(X) --> X, q.", "p(A,B,C):-phrase(A,B,D),q(D,C)"},
      // The list S the head leaves is the pushback in front of what the
      // body left: look_ahead reads X without consuming it.
      {"pushback puts the list back", "look_ahead(X), [X] --> [X].",
       "look_ahead(A,B,C):-B=[A|D],C=[A|D]"},
      {"pushback of several", "p, [a,b] --> q.", "p(A,B):-q(A,C),B=[a,b|C]"},
      {"pushback of nothing", "p, [] --> q.", "p(A,B):-q(A,C),B=C"},
      {"quoted names kept", "'a b'('X') --> 'c d'.", "'a b'('X',A,B):-'c d'(A,B)"},
  };
  for (const rule_case &c : cases)
    EXPECT_EQ(translate(c.rule), c.clause) << c.why << ": " << c.rule;
}

TEST_F(Dcg, Faults)
{
  std::string many_args;
  for (int i = 0; i < 254; i++)
    many_args += i == 0 ? "1" : ",1";
  const std::string head_254 = "h(" + many_args + ") --> q.";
  const std::string body_254 = "h --> q(" + many_args + ").";
  const rule_case cases[] = {
      {"number in the body", "p --> q, 3.", "error: grammar rule body is not callable: 3"},
      {"float as the body", "p --> 1.5.", "error: grammar rule body is not callable: 1.5"},
      {"partial list terminal", "p --> [a|T].", "error: grammar rule terminal is not a proper list: [a|A]"},
      {"list terminal with a non-list tail", "p --> q, [a|b].",
       "error: grammar rule terminal is not a proper list: [a|b]"},
      {"number head", "3 --> q.", "error: grammar rule head is not callable: 3"},
      {"list head", "[a] --> q.", "error: grammar rule head is not callable: [a]"},
      {"variable head", "X --> a.", "error: grammar rule head is a variable: A"},
      {"variable head before a pushback", "X, [a] --> a.", "error: grammar rule head is a variable: A"},
      {"variable pushback", "p, T --> q.", "error: grammar rule pushback is not a proper list: A"},
      {"pushback that is no list", "p, q --> r.", "error: grammar rule pushback is not a proper list: q"},
      {"no room for the two list arguments in the head", head_254.c_str(),
       "error: grammar rule head has too many arguments: h/254"},
      {"nor in a body goal", body_254.c_str(), "error: grammar rule body goal has too many arguments: q/254"},
      {"a fault deep in the body", "p --> a, (b ; c, \\+ (d, 7)).", "error: grammar rule body is not callable: 7"},
      {"not a grammar rule", "p :- q.", "error: not a grammar rule: p:-q"},
  };
  for (const rule_case &c : cases)
    EXPECT_EQ(translate(c.rule), c.clause) << c.why << ": " << c.rule;
}

TEST_F(Dcg, HeapLimitIsAFaultNotAnOverrun)
{
  open("p --> a, b, [x, y, z], {c}, \\+ d, (e ; f).");
  ASSERT_EQ(next(), READ_OK);
  TAGGED *const saved_warn = w->heap_warn;
  TAGGED *const top = w->global_top;
  w->heap_warn = top + 20;  // room for the head, not for the whole body
  TAGGED clause = 0;
  std::string error;
  const int ok = dcg_translate(w, r.term, &clause, &error);
  TAGGED *const after = w->global_top;
  w->heap_warn = saved_warn;
  EXPECT_EQ(ok, 0);
  EXPECT_EQ(error, "grammar rule too large");
  EXPECT_EQ(after, top) << "the partial clause was left on the heap";
  // With room again the same rule translates.
  ASSERT_EQ(dcg_translate(w, r.term, &clause, &error), 1) << error;
  EXPECT_LE(w->global_top, w->heap_warn);
}

TEST_F(Dcg, BodyBetweenGivenLists)
{
  open("([a], q ; {r}).");
  ASSERT_EQ(next(), READ_OK);
  const TAGGED s0 = atom("s0"), s = atom("s");
  TAGGED goal = 0;
  std::string error;
  ASSERT_EQ(dcg_body(w, r.term, s0, s, &goal, &error), 1) << error;
  EXPECT_EQ(normalise(term_to_text(goal)), "s0=[a|A],q(A,s);r,s0=s");

  TAGGED *const top = w->global_top;
  EXPECT_EQ(dcg_body(w, MakeSmall_checked(4), s0, s, &goal, &error), 0);
  EXPECT_EQ(error, "grammar rule body is not callable: 4");
  EXPECT_EQ(w->global_top, top);
}

// 5000 goals nested three ways.  The clause is checked by walking it
// without recursion: the leaves g(I, In, Out) must come in order I = 0, 1,
// ... and chain the lists from the head's S0 to its S (conjunctions), or
// each run from S0 to S (disjunction).
TEST_F(Dcg, LongAndDeepBodies)
{
  constexpr int goals = 5000;
  enum shape { RIGHT_CONJ, LEFT_CONJ, RIGHT_DISJ };
  const struct {
    const char *why;
    shape kind;
  } cases[] = {{"a, b, c, ... as read", RIGHT_CONJ}, {"((a, b), c), ...", LEFT_CONJ}, {"a ; b ; c ; ...", RIGHT_DISJ}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.why);
    const char *op = c.kind == RIGHT_DISJ ? ";" : ",";
    TAGGED body = 0;
    if (c.kind == LEFT_CONJ) {
      body = compound("g", {MakeSmall_checked(0)});
      for (int i = 1; i < goals; i++)
        body = compound(op, {body, compound("g", {MakeSmall_checked(i)})});
    } else {
      body = compound("g", {MakeSmall_checked(goals - 1)});
      for (int i = goals - 2; i >= 0; i--)
        body = compound(op, {compound("g", {MakeSmall_checked(i)}), body});
    }
    const TAGGED rule = compound("-->", {atom("p"), body});
    TAGGED clause = 0;
    std::string error;
    ASSERT_EQ(dcg_translate(w, rule, &clause, &error), 1) << error;

    const TAGGED *neck = TagToSTR(clause);
    ASSERT_EQ(neck[0], MakeFunctor(atom(":-"), 2));
    const TAGGED *head = TagToSTR(deref(neck[1]));
    ASSERT_EQ(head[0], MakeFunctor(atom("p"), 2));
    const TAGGED s0 = deref(head[1]), s = deref(head[2]);
    ASSERT_TRUE(IsVar(s0) && IsVar(s) && s0 != s);

    std::vector<TAGGED> pending{neck[2]};
    const TAGGED control = MakeFunctor(atom(op), 2);
    int seen = 0;
    TAGGED in_expected = s0;
    while (!pending.empty()) {
      const TAGGED t = deref(pending.back());
      pending.pop_back();
      ASSERT_TRUE(IsStructure(t));
      const TAGGED *p = TagToSTR(t);
      if (p[0] == control) {
        pending.push_back(p[2]);
        pending.push_back(p[1]);
        continue;
      }
      ASSERT_EQ(p[0], MakeFunctor(atom("g"), 3)) << "leaf " << seen << " is " << term_to_text(t);
      ASSERT_EQ(p[1], MakeSmall_checked(seen)) << "leaves out of order";
      if (c.kind == RIGHT_DISJ) {
        ASSERT_EQ(deref(p[2]), s0) << "alternative " << seen << " does not start at S0";
        ASSERT_EQ(deref(p[3]), s) << "alternative " << seen << " does not end at S";
      } else {
        ASSERT_EQ(deref(p[2]), in_expected) << "goal " << seen << " does not start where the last ended";
        in_expected = deref(p[3]);
        ASSERT_TRUE(IsVar(in_expected));
      }
      seen++;
    }
    EXPECT_EQ(seen, goals);
    if (c.kind != RIGHT_DISJ) {
      EXPECT_EQ(in_expected, s) << "the last goal does not end at S";
    }
  }
}

}  // namespace
