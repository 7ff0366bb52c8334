// The term reader: operator precedence and associativity, negative
// literals, lists and curly terms, syntax errors with their lines and the
// recovery to the next clause, variable names and singletons, the end of
// the input, heap growth in the middle of a clause, and read -> canonical
// text -> read over a corpus.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "reader_fixture.h"

namespace {

using TermReader = ReaderFixture;

struct display_case {
  const char *text;
  const char *expected;  // functional notation, or "error: ..."
};

TEST_F(TermReader, OperatorsPrecedenceAndAssociativity)
{
  const display_case cases[] = {
      {"a-b-c.", "-(-(a,b),c)"},                  // yfx groups to the left
      {"a^b^c.", "^(a,^(b,c))"},                  // xfy groups to the right
      {"a:b:c.", ":(a,:(b,c))"},
      {"- - a.", "-(-(a))"},                      // fy takes an operand of its own priority
      {"\\+ \\+ a.", "\\+(\\+(a))"},
      {"\\+ a = b.", "\\+(=(a,b))"},
      {"- a ^ 2.", "-(^(a,2))"},
      {"- a = b.", "=(-(a),b)"},
      {"a=..b.", "=..(a,b)"},
      {"x is 3 mod 2 + 1.", "is(x,+(mod(3,2),1))"},
      {"2 ** 3.", "**(2,3)"},
      {"f(a,(b,c)).", "f(a,','(b,c))"},            // a bracketed comma is one argument
      {"f(a;b).", "f(;(a,b))"},
      {"f((a:-b)).", "f(:-(a,b))"},
      {"a :- b, c ; d -> e.", ":-(a,;(','(b,c),->(d,e)))"},
      {":- dynamic foo/1, bar/2.", ":-(dynamic(','(/(foo,1),/(bar,2))))"},
      {"(a|b).", "'|'(a,b)"},                       // bar as infix operator outside lists
      {"f(-).", "f(-)"},                            // prefix operators as atoms
      {"f(- , a).", "f(-,a)"},
      {"(-).", "-"},
      {"[-].", "[-]"},
      {"- = a.", "=(-,a)"},                         // followed by an infix-only operator
      {"- - .", "-(-)"},
      {"-(1,2).", "-(1,2)"},                        // functional notation
      {"- (1,2).", "-(','(1,2))"},                  // prefix operator on a bracketed term
      {"f (a).", "error: operator expected"},       // a name is no prefix operator
      {"a = b = c.", "error: operator priority clash"},  // xfx does not chain
      {"f(a :- b).", "f(:-(a,b))"},   // arguments take any operator but the comma
      {"f(:- a).", "f(:-(a))"},
      {"f(a, b :- c, d).", "f(a,:-(b,c),d)"},  // the comma still ends the operand
      {"f(a|b).", "f('|'(a,b))"},
  };
  for (const display_case &c : cases)
    EXPECT_EQ(read_display(c.text), c.expected) << "reading " << c.text;
}

TEST_F(TermReader, NegativeNumericLiterals)
{
  const display_case cases[] = {
      {"-1.", "-1"},               // minus against the digits: a literal
      {"- 1.", "-(1)"},            // with layout between: the operator
      {"-(1).", "-(1)"},
      {"- (1).", "-(1)"},
      {"1 - -1.", "-(1,-1)"},
      {"1 - 1.", "-(1,1)"},
      {"1 -1.", "-(1,1)"},         // after a complete operand: infix minus
      {"1-1.", "-(1,1)"},
      {"a- (-1).", "-(a,-1)"},
      {"a - (- 1).", "-(a,-(1))"},
      {"- -1.", "-(-1)"},
      {"- - 1.", "-(-(1))"},
      {"-1^2.", "^(-1,2)"},        // the literal binds tighter than any operator
      {"- 1^2.", "-(^(1,2))"},
      {"2 ** -1.", "**(2,-1)"},
      {"[-1, - 1].", "[-1,-(1)]"},
      {"-2.5.", "-2.5"},
      {"- 2.5.", "-(2.5)"},
      {"-268435456.", "-268435456"},   // the smallest small integer
      {"268435456.", "268435456"},      // the largest's successor, boxed
      {"-123456789012345678901234567890.", "-123456789012345678901234567890"},
      {"-0'a.", "-97"},
  };
  for (const display_case &c : cases)
    EXPECT_EQ(read_display(c.text), c.expected) << "reading " << c.text;

  // The literal's value and representation, not only its text.
  open("-268435456. -2147483648.");
  ASSERT_EQ(next(), READ_OK);
  EXPECT_TRUE(IsSmall(r.term)) << "-2^28 must be a small integer";
  ASSERT_EQ(next(), READ_OK);
  ASSERT_TRUE(IsStructure(r.term));
  EXPECT_EQ(vri_get_integer(r.term), -2147483647 - 1);
}

TEST_F(TermReader, ListsCurlyTermsStringsAndAtoms)
{
  const display_case cases[] = {
      {"[a|b].", "[a|b]"},
      {"[a,b|[c]].", "[a,b,c]"},
      {"[ ].", "[]"},
      {"[].", "[]"},
      {"'[]'.", "[]"},
      {"[a|b,c].", "error: expected , | or ]"},
      {"[(a,b)].", "[','(a,b)]"},
      {"[a:-b].", "[:-(a,b)]"},
      {"[a:-b|c].", "[:-(a,b)|c]"},
      {"{}.", "{}"},
      {"{a,b}.", "{}(','(a,b))"},
      {"{a}.", "{}(a)"},
      {"\"ab\".", "[97,98]"},           // double_quotes codes
      {"\"\".", "[]"},
      {"'hello world'.", "'hello world'"},
      {"'\\n'.", "'\\n'"},
      {"`abc`.", "abc"},
      {"0'a.", "97"},
      {"'-'(1).", "-(1)"},
      {"[a|b|c].", "error: expected , | or ]"},
  };
  for (const display_case &c : cases)
    EXPECT_EQ(read_display(c.text), c.expected) << "reading " << c.text;
}

TEST_F(TermReader, SyntaxErrorsCarryLineAndRecoverToNextClause)
{
  open("a.\n"
       "f(a b).\n"              // line 2: missing comma
       "c.\n"
       "p :-\n"
       "    q,\n"
       "    r r.\n"              // line 6
       "d.\n"
       "x = = ) .\n"             // line 8
       "e.\n"
       "g(a.\n"                  // line 10: the full stop ends it early
       "h.\n");
  struct expect_case {
    int status;
    const char *term;
    long line;  // start line of a clause, error line of an error
  } expected[] = {
      {READ_OK, "a", 1},
      {READ_SYNTAX_ERROR, nullptr, 2},
      {READ_OK, "c", 3},
      {READ_SYNTAX_ERROR, nullptr, 6},
      {READ_OK, "d", 7},
      {READ_SYNTAX_ERROR, nullptr, 8},
      {READ_OK, "e", 9},
      {READ_SYNTAX_ERROR, nullptr, 10},
      {READ_OK, "h", 11},
      {READ_OK, "end_of_file", 0},
      {READ_OK, "end_of_file", 0},   // and again: the end stays the end
  };
  int i = 0;
  for (const expect_case &e : expected) {
    const int status = next();
    ASSERT_EQ(status, e.status) << "clause " << i << ": message '" << r.message << "'";
    if (status == READ_OK) {
      EXPECT_EQ(display(r.term), e.term) << "clause " << i;
      if (e.line != 0) {
        EXPECT_EQ(r.start_line, e.line) << "clause " << i;
      }
    } else {
      EXPECT_EQ(r.error_line, e.line) << "clause " << i << ": " << r.message;
      EXPECT_NE(r.message[0], '\0') << "clause " << i << " has no message";
    }
    ++i;
  }
}

TEST_F(TermReader, ErrorsAtTheEndOfTheInput)
{
  const display_case cases[] = {
      {"f(a", "error: unexpected end of file"},
      {"a :- .", "error: unexpected end of clause"},
      {"'unterminated", "error: end of file inside quotes"},
      {"a ) .", "error: operator expected"},
      {"( .", "error: unexpected end of clause"},
  };
  for (const display_case &c : cases) {
    EXPECT_EQ(read_display(c.text), c.expected) << "reading " << c.text;
    // Whatever went wrong, the following read finds the end of the input.
    EXPECT_EQ(next(), READ_OK) << "after " << c.text;
    EXPECT_EQ(r.term, MakeAtom(atom_end_of_file_enum)) << "after " << c.text << ": " << display(r.term);
  }
}

TEST_F(TermReader, EndOfFileAndLines)
{
  for (const char *text : {"", "   ", "% only a comment\n", "/* block */"}) {
    open(text);
    ASSERT_EQ(next(), READ_OK) << "text '" << text << "': " << r.message;
    EXPECT_EQ(r.term, MakeAtom(atom_end_of_file_enum)) << "text '" << text << "'";
  }
  open("\n\nfoo(\n1).\nbar. baz.");
  ASSERT_EQ(next(), READ_OK);
  EXPECT_EQ(display(r.term), "foo(1)");
  EXPECT_EQ(r.start_line, 3);
  EXPECT_EQ(r.end_line, 4);
  ASSERT_EQ(next(), READ_OK);
  EXPECT_EQ(display(r.term), "bar");
  ASSERT_EQ(next(), READ_OK);
  EXPECT_EQ(display(r.term), "baz");
  EXPECT_EQ(r.start_line, 5);
  ASSERT_EQ(next(), READ_OK);
  EXPECT_EQ(r.term, MakeAtom(atom_end_of_file_enum));
}

TEST_F(TermReader, VariableNamesAndSingletons)
{
  open("f(X, Y, _, X, _Z, _, Y2) :- g(Y2).");
  ASSERT_EQ(next(), READ_OK) << r.message;
  EXPECT_EQ(display(r.variable_names), "[=('X',_),=('Y',_),=('_Z',_),=('Y2',_)]");
  EXPECT_EQ(display(r.singletons), "[=('Y',_),=('_Z',_)]");

  const TAGGED head = deref(TagToSTR(r.term)[1]);
  const TAGGED *a = TagToSTR(head);
  EXPECT_EQ(deref(a[1]), deref(a[4])) << "both X must be one variable";
  EXPECT_NE(deref(a[3]), deref(a[6])) << "each _ must be a new variable";
  EXPECT_TRUE(IsVar(deref(a[3])) && IsVar(deref(a[6])));
  // The pairs hold the clause's own variables.
  const TAGGED first_pair = deref(TagToLST(r.variable_names)[0]);
  EXPECT_EQ(deref(TagToSTR(first_pair)[2]), deref(a[1]));

  EXPECT_EQ(singleton_needs_warning(atom("Y")), 1);
  EXPECT_EQ(singleton_needs_warning(atom("_Z")), 0);

  // Names belong to one clause: the next clause starts afresh.
  open("a(X). b(X, X).");
  ASSERT_EQ(next(), READ_OK);
  EXPECT_EQ(display(r.singletons), "[=('X',_)]");
  ASSERT_EQ(next(), READ_OK);
  EXPECT_EQ(display(r.singletons), "[]");
  EXPECT_EQ(display(r.variable_names), "[=('X',_)]");
}

TEST_F(TermReader, HeapGrowsInTheMiddleOfAClause)
{
  // The default heap is a few thousand words: this clause needs far more,
  // so the heap is moved while the reader holds X and the partial list.
  const int n = 20000;
  std::string text = "f(X, [";
  for (int i = 0; i < n; ++i)
    text += (i ? "," : "") + std::to_string(i);
  text += "], \"";
  text += std::string(3000, 'z');
  text += "\", X, Y).";
  TAGGED *start_before = w->heap_start;
  open(text);
  ASSERT_EQ(next(), READ_OK) << r.message;
  EXPECT_NE(w->heap_start, start_before) << "the test meant to make the heap move";
  const TAGGED *a = TagToSTR(r.term);
  ASSERT_EQ(a[0], MakeFunctor(atom("f"), 5));
  EXPECT_EQ(deref(a[1]), deref(a[4])) << "X must stay one variable across the move";
  EXPECT_TRUE(IsVar(deref(a[1])));
  int count = 0;
  TAGGED l = deref(a[2]);
  for (; IsList(l); l = deref(TagToLST(l)[1]), ++count)
    ASSERT_EQ(deref(TagToLST(l)[0]), MakeSmall_checked(count)) << "element " << count;
  EXPECT_EQ(l, atom_nil);
  EXPECT_EQ(count, n);
  int codes = 0;
  for (l = deref(a[3]); IsList(l); l = deref(TagToLST(l)[1]), ++codes)
    ASSERT_EQ(deref(TagToLST(l)[0]), MakeSmall_checked('z'));
  EXPECT_EQ(codes, 3000);
  // The name list was built after the moves and points at the same cells.
  const TAGGED x_pair = deref(TagToLST(r.variable_names)[0]);
  EXPECT_EQ(deref(TagToSTR(x_pair)[2]), deref(a[1]));
  EXPECT_EQ(display(r.singletons), "[=('Y',_)]");
}

// The name lists are built after the term and may need the heap to grow:
// the term and the first list must come back moved with it.  Clauses of
// many variables, of several sizes, so that some move happens there.
TEST_F(TermReader, HeapGrowsWhileTheNameListsAreBuilt)
{
  for (int n = 250; n <= 3000; n += 250) {
    std::string text = "f([";
    for (int i = 0; i < n; ++i)
      text += (i ? ",V" : "V") + std::to_string(i);
    text += "]).";
    open(text);
    ASSERT_EQ(next(), READ_OK) << r.message;
    const TAGGED *f = TagToSTR(deref(r.term));
    ASSERT_EQ(f[0], MakeFunctor(atom("f"), 1)) << n << " variables";
    TAGGED l = deref(f[1]), names = deref(r.variable_names), singles = deref(r.singletons);
    int count = 0;
    for (; IsList(l); l = deref(TagToLST(l)[1]), names = deref(TagToLST(names)[1]),
                      singles = deref(TagToLST(singles)[1]), ++count) {
      ASSERT_TRUE(IsList(names) && IsList(singles)) << n << " variables, at " << count;
      const TAGGED v = deref(TagToLST(l)[0]);
      ASSERT_TRUE(IsVar(v));
      ASSERT_EQ(deref(TagToSTR(deref(TagToLST(names)[0]))[2]), v) << n << " variables, at " << count;
      ASSERT_EQ(deref(TagToSTR(deref(TagToLST(singles)[0]))[2]), v) << n << " variables, at " << count;
    }
    EXPECT_EQ(count, n);
    EXPECT_EQ(names, atom_nil);
  }
}

// Garbage collection is off only while a clause is read, whatever the end.
TEST_F(TermReader, CollectionModeIsRestored)
{
  const TAGGED on = MakeAtom(atom_on_enum);
  const TAGGED saved = eglobal->current_gcmode;
  eglobal->current_gcmode = on;
  for (const char *text : {"a.", "f(a b).", "", "'open"}) {
    open(text);
    next();
    EXPECT_EQ(eglobal->current_gcmode, on) << "after reading '" << text << "'";
  }
  eglobal->current_gcmode = saved;
}

// read -> canonical text -> read gives the same term.
TEST_F(TermReader, CanonicalTextReadsBackAsTheSameTerm)
{
  const char *corpus[] = {
      "a-b-c", "a-(b-c)", "a^b^c", "(a^b)^c", "- - a", "-(1)", "- 1", "-1", "-(-1)", "-(-(1))",
      "1 - -1", "1-(-(1))", "a=..b", "f(a,(b,c))", "[a|b]", "{a,b}", "(a|b)", "f(-)", "(-)",
      "f(- , a)", "[-]", "- = a", "-(1,2)", "- (1,2)", "-(a+b)", "\\+ (a,b)", "\\+a=b",
      "(\\+a)=b", "a:-b,c;d->e", ":- dynamic foo/1", "f((:-))", "f((a:-b))", "[(a,b),(c;d)]",
      "'hello world'", "'it''s'", "'\\n'", "[]", "'{}'(x)", "{}", "f(X,Y,X)", "[X|Y]",
      "\"abc\"", "1.5", "-2.5e-10", "123456789012345678901234567890",
      "-123456789012345678901234567890", "x is 3 mod 2", "- (a mod b)", "a- -b", "a- - 1",
      "1 rem 2 xor 3", "(a,b)", "','", "'|'", "f(',', '|')", "p:-q", "(a:-b):-c", "[a:b:c]",
      "- (-)", "\\ (a)", "'\\\\'", "f(;)", "(;)", "[;]", "f(a;b)", "'A'(b)", "'_'", "[]",
      "-(2)^2", "(-2)^2", "- (2^2)", "2**(-1)", "-(-(-(a)))", "a*(b+c)", "(a*b)+c", "a*b+c",
      "(a+b)*c", "- (1) + 2", "f(a- (-1))", "@(a)", "a@<b", "'/*'", "f('.')", "- 'A'",
      // symbol and letter characters beyond ASCII join as the ASCII ones do
      "a = '\\xa3\\'", "'\\xa3\\' = a", "'\\xa3\\'-'\\xa3\\'", "- '\\xa3\\'", "'\\xa3\\'- -1",
      "x is '\\xe9\\'", "'\\xe9\\' is x", "'\\xe9\\' mod '\\xc9\\'",
  };
  for (const char *text : corpus) {
    open(std::string(text) + " .");
    ASSERT_EQ(next(), READ_OK) << "reading " << text << ": " << r.message;
    const TAGGED first = r.term;
    const std::string canonical = term_to_text(first);
    open(canonical + " .");
    ASSERT_EQ(next(), READ_OK) << text << " printed as " << canonical << " does not read: " << r.message;
    std::map<TAGGED, TAGGED> ab, ba;
    EXPECT_TRUE(variant(first, r.term, ab, ba))
        << text << " printed as " << canonical << " reads back as " << display(r.term) << " instead of "
        << display(first);
  }
}

TEST_F(TermReader, CanonicalTextOfSomeTerms)
{
  const display_case cases[] = {
      {"a-(b-c).", "a-(b-c)"},
      {"- 1.", "- 1"},
      {"-(-1).", "- -1"},
      {"1 - -1.", "1- -1"},
      {"f(-).", "f(-)"},
      {"- = a.", "(-)=a"},
      {"x is 3 mod 2.", "x is 3 mod 2"},
      {"'it''s'.", "'it\\'s'"},
      {"[a,b|c].", "[a,b|c]"},
      {"{a,b}.", "{a,b}"},
      {"f(a,(b,c)).", "f(a,(b,c))"},
      {"- (1,2).", "- (1,2)"},
      {"f((:-)).", "f((:-))"},
      {"a = '\\xa3\\'.", "a= \xc2\xa3"}, // U+00A3 is a symbol character
      {"'\\xe9\\' = a.", "\xc3\xa9=a"},  // U+00E9 is a letter
  };
  for (const display_case &c : cases) {
    open(c.text);
    ASSERT_EQ(next(), READ_OK) << c.text << ": " << r.message;
    EXPECT_EQ(term_to_text(r.term), c.expected) << "writing " << c.text;
  }
}

} // namespace
