// The operator table: the defaults, op/3's checks and error types (and
// that a refused op/3 changes nothing), and the reader and the canonical
// writer following the table as op/3 changes it.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "errors.h"
#include "reader_fixture.h"

namespace {

using Operators = ReaderFixture;

std::string describe(TAGGED name, op_class cls)
{
  op_def d;
  if (!op_lookup(name, cls, &d))
    return "none";
  return std::to_string(d.priority) + " " + atom_name(op_type_atom(d.type));
}

TEST_F(Operators, DefaultTable)
{
  struct row {
    const char *name;
    op_class cls;
    const char *expected;
  } rows[] = {
      {":-", OP_INFIX, "1200 xfx"},   {":-", OP_PREFIX, "1200 fx"},   {"?-", OP_PREFIX, "1200 fx"},
      {"-->", OP_INFIX, "1200 xfx"},  {"dynamic", OP_PREFIX, "1150 fx"},
      {"meta_predicate", OP_PREFIX, "1150 fx"}, {";", OP_INFIX, "1100 xfy"}, {"|", OP_INFIX, "1100 xfy"},
      {"->", OP_INFIX, "1050 xfy"},   {"*->", OP_INFIX, "1050 xfy"},  {",", OP_INFIX, "1000 xfy"},
      {"\\+", OP_PREFIX, "900 fy"},   {"=..", OP_INFIX, "700 xfx"},   {"is", OP_INFIX, "700 xfx"},
      {"@>=", OP_INFIX, "700 xfx"},   {":", OP_INFIX, "550 xfy"},     {"-", OP_INFIX, "500 yfx"},
      {"xor", OP_INFIX, "500 yfx"},   {"//", OP_INFIX, "400 yfx"},    {"div", OP_INFIX, "400 yfx"},
      {">>", OP_INFIX, "400 yfx"},    {"**", OP_INFIX, "200 xfx"},    {"^", OP_INFIX, "200 xfy"},
      {"-", OP_PREFIX, "200 fy"},     {"\\", OP_PREFIX, "200 fy"},    {"foo", OP_INFIX, "none"},
      {"-", OP_POSTFIX, "none"},      {"is", OP_PREFIX, "none"},
  };
  for (const row &r : rows)
    EXPECT_EQ(describe(atom(r.name), r.cls), r.expected) << r.name << " class " << r.cls;
}

// op/3 on the arguments of a term read from text, e.g. "op(700, xfx, foo)".
struct op_call {
  int result;
  int argno;
};

struct OpCalls : Operators {
  op_call call_op(const char *text)
  {
    open(std::string(text) + " .");
    EXPECT_EQ(next(), READ_OK) << text << ": " << r.message;
    const TAGGED *a = TagToSTR(r.term);
    op_call c{0, 0};
    c.result = vr_op(a[1], a[2], a[3], &c.argno);
    return c;
  }
};

TEST_F(OpCalls, ErrorsAreRecordedWithTypeArgumentAndMessage)
{
  struct error_case {
    const char *call;
    int type;
    int argno;
    const char *message;
  } cases[] = {
      {"op(_, xfx, foo)", OP_ERR_INSTANTIATION, 1, ""},
      {"op(a, xfx, foo)", OP_ERR_TYPE_INTEGER, 1, "integer"},
      {"op(1.0, xfx, foo)", OP_ERR_TYPE_INTEGER, 1, "integer"},
      {"op(1201, xfx, foo)", OP_ERR_DOMAIN, 1, "operator_priority"},
      {"op(-1, xfx, foo)", OP_ERR_DOMAIN, 1, "operator_priority"},
      {"op(100000000000000000000, xfx, foo)", OP_ERR_DOMAIN, 1, "operator_priority"},
      {"op(700, _, foo)", OP_ERR_INSTANTIATION, 2, ""},
      {"op(700, 1, foo)", OP_ERR_TYPE, 2, "atom"},
      {"op(700, abc, foo)", OP_ERR_DOMAIN, 2, "operator_specifier"},
      {"op(700, xfx, _)", OP_ERR_INSTANTIATION, 3, ""},
      {"op(700, xfx, f(x))", OP_ERR_TYPE, 3, "list"},
      {"op(700, xfx, [a|b])", OP_ERR_TYPE, 3, "list"},
      {"op(700, xfx, [a|_])", OP_ERR_INSTANTIATION, 3, ""},
      {"op(700, xfx, [a, 1])", OP_ERR_TYPE, 3, "atom"},
      {"op(700, xfx, ',')", OP_ERR_PERMISSION, 3, "modify operator"},
      {"op(0, xfy, ',')", OP_ERR_PERMISSION, 3, "modify operator"},
      {"op(700, xfx, '|')", OP_ERR_PERMISSION, 3, "create operator"},
      {"op(1100, fy, '|')", OP_ERR_PERMISSION, 3, "create operator"},
      {"op(700, xfx, {})", OP_ERR_PERMISSION, 3, "create operator"},
      {"op(700, xf, =)", OP_ERR_PERMISSION, 3, "create operator"},  // = is infix
  };
  for (const error_case &c : cases) {
    save_error(-99, "", atom_nil);
    const op_call got = call_op(c.call);
    EXPECT_EQ(got.result, 0) << c.call << " was accepted";
    EXPECT_EQ(g_error_type, c.type) << c.call;
    EXPECT_EQ(got.argno, c.argno) << c.call;
    EXPECT_STREQ(g_error_msg_ienc, c.message) << c.call;
  }
}

TEST_F(OpCalls, RefusedListChangesNothing)
{
  ASSERT_EQ(call_op("op(700, xfx, [newop, 1])").result, 0);
  EXPECT_EQ(describe(atom("newop"), OP_INFIX), "none") << "the first name must not be half-added";
  ASSERT_EQ(call_op("op(700, xfx, [newop, ','])").result, 0);
  EXPECT_EQ(describe(atom("newop"), OP_INFIX), "none");
}

TEST_F(OpCalls, AcceptedCalls)
{
  EXPECT_EQ(call_op("op(1100, xfy, '|')").result, 1);
  EXPECT_EQ(call_op("op(1001, xfy, '|')").result, 1);
  EXPECT_EQ(describe(atom("|"), OP_INFIX), "1001 xfy");
  EXPECT_EQ(call_op("op(0, xfy, '|')").result, 1);
  EXPECT_EQ(describe(atom("|"), OP_INFIX), "none");
  EXPECT_EQ(call_op("op(700, xfx, [])").result, 1) << "an empty list names no operator";
  EXPECT_EQ(call_op("op(900, fy, [foo, bar])").result, 1);
  EXPECT_EQ(describe(atom("foo"), OP_PREFIX), "900 fy");
  EXPECT_EQ(describe(atom("bar"), OP_PREFIX), "900 fy");
  // A prefix and an infix definition live side by side.
  EXPECT_EQ(call_op("op(200, xfx, foo)").result, 1);
  EXPECT_EQ(describe(atom("foo"), OP_PREFIX), "900 fy");
  EXPECT_EQ(describe(atom("foo"), OP_INFIX), "200 xfx");
  // Removing one class leaves the other.
  EXPECT_EQ(call_op("op(0, fy, foo)").result, 1);
  EXPECT_EQ(describe(atom("foo"), OP_PREFIX), "none");
  EXPECT_EQ(describe(atom("foo"), OP_INFIX), "200 xfx");
}

TEST_F(OpCalls, ReaderAndWriterFollowTheTable)
{
  // A new infix operator.
  EXPECT_EQ(read_display("a ===> b."), "error: operator expected");
  ASSERT_EQ(call_op("op(700, xfx, ===>)").result, 1);
  EXPECT_EQ(read_display("a ===> b."), "===>(a,b)");
  open("===>(a, b).");
  ASSERT_EQ(next(), READ_OK);
  EXPECT_EQ(term_to_text(r.term), "a===>b");

  // Prefix operators, and an operator named by a list.
  ASSERT_EQ(call_op("op(900, fy, [foo, bar])").result, 1);
  EXPECT_EQ(read_display("foo bar x."), "foo(bar(x))");

  // Postfix operators.
  ASSERT_EQ(call_op("op(100, yf, ++)").result, 1);
  EXPECT_EQ(read_display("a ++ ++ ."), "++(++(a))");
  EXPECT_EQ(read_display("a ++ + b."), "+(++(a),b)");
  open("++(a).");
  ASSERT_EQ(next(), READ_OK);
  EXPECT_EQ(term_to_text(r.term), "a++");

  // Changing a priority changes the grouping.
  EXPECT_EQ(read_display("a - b * c."), "-(a,*(b,c))");
  ASSERT_EQ(call_op("op(600, yfx, *)").result, 1);
  EXPECT_EQ(read_display("a - b * c."), "*(-(a,b),c)");
  open("-(a, *(b, c)).");
  ASSERT_EQ(next(), READ_OK);
  EXPECT_EQ(term_to_text(r.term), "a-(b*c)") << "the writer must bracket by the new priorities";

  // Removing an operator: the infix use fails, the functional one stays.
  ASSERT_EQ(call_op("op(0, xfx, =)").result, 1);
  EXPECT_EQ(read_display("a = b."), "error: operator expected");
  EXPECT_EQ(read_display("=(a, b)."), "=(a,b)");
  open("=(a, b).");
  ASSERT_EQ(next(), READ_OK);
  EXPECT_EQ(term_to_text(r.term), "=(a,b)");

  // Back to the defaults.
  init_operators();
  EXPECT_EQ(read_display("a = b."), "=(a,b)");
  EXPECT_EQ(read_display("a ===> b."), "error: operator expected");
}

TEST_F(Operators, CurrentOpsListsEveryDefinition)
{
  w->term[0] = PointerToTerm(w->global_top);
  *w->global_top = w->term[0];
  ++w->global_top;
  ASSERT_EQ(prolog_current_ops(w), 1);
  int count = 0;
  bool comma = false, minus_prefix = false, minus_infix = false;
  for (TAGGED l = deref(w->term[0]); IsList(l); l = deref(TagToLST(l)[1]), ++count) {
    const std::string item = display(TagToLST(l)[0]);
    comma |= item == "op(1000,xfy,',')";
    minus_prefix |= item == "op(200,fy,-)";
    minus_infix |= item == "op(500,yfx,-)";
  }
  EXPECT_TRUE(comma && minus_prefix && minus_infix) << "missing default definitions";
  EXPECT_GE(count, 50);
}

TEST_F(Operators, PrologOpRaisesForTheRightArgument)
{
  open("op(700, foo, bar).");
  ASSERT_EQ(next(), READ_OK);
  const TAGGED *a = TagToSTR(r.term);
  w->term[0] = a[1];
  w->term[1] = a[2];
  w->term[2] = a[3];
  EXPECT_EQ(prolog_op(w), 0);
  // With no emulator the raise only places the registers: goal, argument, culprit.
  EXPECT_EQ(display(w->term[0]), ":(prolog,op(700,foo,bar))");
  EXPECT_EQ(w->term[1], MakeSmall_checked(2));
  EXPECT_EQ(display(w->term[2]), "foo");
}

} // namespace
