// The attribute declarations library at load time: access lists that
// get_atts/2 and put_atts/2 cannot accept are errors of the clause being
// loaded (the clause is not installed, the rest of the file is), raised by
// the library's goal expansion while the module is compiled.  Loaded
// through consult_text, the production loader, over the production
// start-up.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime_fixture.h"

namespace {

struct AttributeDeclarations : RuntimeFixture {
  std::vector<std::string> load(const std::string &body)
  {
    std::string text = ":- module(decl, []).\n:- use_module(library(atts)).\n:- attribute a/1, b/2.\n" + body;
    std::vector<std::string> errors;
    consult_text(w, text.c_str(), user(), &errors);
    return errors;
  }
  mod_def *user() { return find_module(atom("user"), 1); }
  bool defined(const char *name, int arity)
  {
    definition *d = insert_definition(find_module(atom("decl"), 0), atom(name), arity, 0);
    return d != nullptr && predtyp(d) != ENTER_UNDEFINED;
  }
};

struct BadSpec {
  const char *why;
  const char *clause;
  const char *error; // a part of the one load error expected
};

TEST_F(AttributeDeclarations, BadAccessListsAreLoadErrors)
{
  const BadSpec cases[] = {
      {"get: + and - of one attribute", "bad(X) :- get_atts(X, [+a(1), -a(_)]).",
       "consistency_error(+a(1),-a(_"},
      {"put: a bare name not declared", "bad(X) :- put_atts(X, [b(1, 2), c, -b]).",
       "domain_error(one_of([a(_"},
      {"put: + and - of one attribute", "bad(X) :- put_atts(X, [-b(_, _), +b(1, 2)]).",
       "consistency_error(+b(1,2),-b("},
      {"get: an attribute not declared", "bad(X) :- get_atts(X, c(1)).", "domain_error(one_of([a(_"},
      {"get: wrong arity is another attribute", "bad(X) :- get_atts(X, +a(1, 2)).", ",a(1,2))"},
      {"put: access list unbound", "bad(X, S) :- put_atts(X, S).", "instantiation_error"},
      {"get: an unbound item", "bad(X, I) :- get_atts(X, [a(1), I]).", "instantiation_error"},
  };
  for (const BadSpec &c : cases) {
    SCOPED_TRACE(c.why);
    std::vector<std::string> errors = load(std::string(c.clause) + "\ngood.\n");
    ASSERT_EQ(errors.size(), 1u) << (errors.empty() ? std::string() : errors[0]);
    EXPECT_NE(errors[0].find(c.error), std::string::npos) << errors[0];
    EXPECT_NE(errors[0].find("line 4"), std::string::npos) << errors[0];
    EXPECT_TRUE(defined("good", 0)) << "the rest of the file loads";
    EXPECT_FALSE(defined("bad", 1) || defined("bad", 2)) << "the faulty clause is not installed";
  }
}

TEST_F(AttributeDeclarations, GoodAccessListsCompileToNoCallOfTheLibrary)
{
  std::vector<std::string> errors = load("ok(X) :- get_atts(X, [a(1), -b]), put_atts(X, [-a, b(1, 2)]).\n");
  for (const std::string &e : errors)
    ADD_FAILURE() << e;
  // At run time only the expanded code runs: get_atts/2 and put_atts/2
  // have no clauses.
  definition *get = insert_definition(find_module(atom("attributes"), 0), atom("get_atts"), 2, 0);
  ASSERT_NE(get, nullptr);
  EXPECT_EQ(predtyp(get), ENTER_UNDEFINED);
  EXPECT_TRUE(defined("ok", 1));
}

TEST_F(AttributeDeclarations, BadDeclarationIsALoadError)
{
  std::vector<std::string> errors;
  consult_text(w, ":- module(decl2, []).\n:- use_module(library(atts)).\n:- attribute a/1, 3.\n", user(), &errors);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].find("domain_error(attribute_declaration,3)"), std::string::npos) << errors[0];
}

} // namespace
