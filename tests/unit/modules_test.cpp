// Modules: creation and look-up, module declarations and their export
// lists, importing by predicate indicator, the type-in module.
#include <gtest/gtest.h>

#include <string>

#include "database_fixture.h"

namespace {

struct Modules : DatabaseFixture {
  // The export list of m as "name/arity ..." in list order.
  static std::string exports_of(mod_def *m)
  {
    std::string s;
    for (definition *d = m->public_lst; d != PUBLIC_END; d = d->next_public) {
      if (!s.empty())
        s += ' ';
      s += atom_name(d->proc.printname);
      s += '/' + std::to_string(d->proc.arity);
    }
    return s;
  }
};

TEST_F(Modules, FindModuleCreatesOnlyWhenAskedAndHidesOnlyProlog)
{
  EXPECT_EQ(find_module(atom("fm_new"), 0), nullptr);
  mod_def *m = find_module(atom("fm_new"), 1);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(find_module(atom("fm_new"), 0), m);
  EXPECT_FALSE(module_hidden(m));
  EXPECT_TRUE(module_hidden(eglobal->prolog_module));
  EXPECT_EQ(m->public_lst, PUBLIC_END);
  EXPECT_EQ(m->filename, atom_nil);
  EXPECT_EQ(m->attr_no, 0);
  EXPECT_EQ(sw_slots(m->preds), 4u);
  EXPECT_EQ(sw_slots(m->names), 4u);
  EXPECT_EQ(sw_slots(m->bb), 2u);
  EXPECT_EQ(find_module(MakeSmall_checked(-5), 1), nullptr) << "a negative word cannot name a module";
  EXPECT_EQ(find_module(var(), 1), nullptr) << "an unbound variable cannot name a module";
  // A compound names the module of its functor.
  mod_def *f = find_module(structure(atom("fm_f"), {atom("x")}), 1);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->name, MakeFunctor(atom("fm_f"), 1));
}

TEST_F(Modules, ModuleDeclarationSetsExportsInListOrder)
{
  TAGGED exports = list({spec("b", 2), spec("a", 0), spec("b", 2), spec("c", 1)});
  ASSERT_EQ(call(prolog_module4, {atom("md"), exports, MakeAtom(atom_true_enum), atom("md.pl")}), 1);
  mod_def *m = find_module(atom("md"), 0);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(exports_of(m), "b/2 a/0 c/1") << "a repeated entry is exported once";
  EXPECT_TRUE(module_hidden(m));
  EXPECT_EQ(m->filename, atom("md.pl"));
  EXPECT_EQ(call(prolog_module_hiding, {atom("md")}), 1);
  // Redeclaring replaces the list and unlinks the old members.
  ASSERT_EQ(call(prolog_module3, {atom("md"), list({spec("c", 1)}), atom_nil}), 1);
  EXPECT_EQ(exports_of(m), "c/1");
  EXPECT_EQ(insert_definition(m, atom("b"), 2, 0)->next_public, nullptr);
  // A malformed list changes nothing.
  EXPECT_EQ(call(prolog_module3, {atom("md"), list({spec("d", 1), atom("oops")}), atom_nil}), 0);
  EXPECT_EQ(exports_of(m), "c/1");
  ASSERT_EQ(call(prolog_module4, {atom("md"), atom_nil, atom("false"), atom_nil}), 1);
  EXPECT_EQ(call(prolog_module_hiding, {atom("md")}), 0);
  EXPECT_EQ(call(prolog_module_hiding, {atom("md_missing")}), 0);
}

TEST_F(Modules, CurmodListsTheExports)
{
  ASSERT_EQ(call(prolog_module4, {atom("cm"), list({spec("x", 1), spec("y", 2)}), atom_nil, atom("cm.pl")}), 1);
  TAGGED file = var(), exports = var();
  ASSERT_EQ(call(prolog_curmod, {atom("cm"), file, exports}), 1);
  EXPECT_EQ(deref(file), atom("cm.pl"));
  TAGGED l = deref(exports);
  std::string got;
  while (IsList(l)) {
    TAGGED s = deref(TagToLST(l)[0]);
    got += std::string(atom_name(TagToSTR(s)[1])) + "/" + std::to_string(GetSmall(TagToSTR(s)[2])) + " ";
    l = deref(TagToLST(l)[1]);
  }
  EXPECT_EQ(got, "x/1 y/2 ");
  EXPECT_EQ(l, atom_nil);
  EXPECT_EQ(call(prolog_curmod, {atom("cm"), var(), atom_nil}), 0) << "bound Exports must fail";
}

TEST_F(Modules, ImportPredsImportsInOrderAndStopsAtSystemRecords)
{
  mod_def *from = module("ip_from");
  definition *p = insert_definition(from, atom("p"), 1, 1);
  redefine_predicate(p, ENTER_INTERPRETED);
  definition *sys = insert_definition(eglobal->prolog_module, atom("ip_sys"), 0, 1);
  sys->next_public = eglobal->prolog_module->public_lst;
  eglobal->prolog_module->public_lst = sys;
  EXPECT_EQ(call(prolog_import_preds, {atom("ip_from"), atom("ip_to"), list({spec("p", 1), spec("q", 0)})}), 1);
  mod_def *to = find_module(atom("ip_to"), 0);
  ASSERT_NE(to, nullptr);
  definition *tp = insert_definition(to, atom("p"), 1, 0);
  ASSERT_NE(tp, nullptr);
  EXPECT_EQ(tp->proc.code.any, p->proc.code.any);
  EXPECT_EQ(tp->imported_from, from);
  TAGGED from_name = var();
  EXPECT_EQ(call(prolog_imported, {structure(atom("p"), {var()}), atom("ip_to"), from_name}), 1);
  EXPECT_EQ(deref(from_name), atom("ip_from"));
  // A system record in From stops the walk, keeping what was done.
  EXPECT_EQ(call(prolog_import_preds, {atom("ip_from"), atom("ip_to2"), list({spec("q", 0), spec("ip_sys", 0),
                                                                            spec("p", 1)})}),
            0);
  mod_def *to2 = find_module(atom("ip_to2"), 0);
  EXPECT_NE(incore_gethash(to2->preds, pred_key(atom("q"), 0))->value.def, nullptr);
  EXPECT_EQ(incore_gethash(to2->preds, pred_key(atom("p"), 1))->value.def, nullptr);
  EXPECT_EQ(predtyp(sys), unsigned(ENTER_UNDEFINED));
  EXPECT_EQ(sys->exported_to, nullptr) << "a system record must not be touched";
  EXPECT_EQ(call(prolog_import_preds, {atom("ip_missing"), atom("ip_to"), atom_nil}), 0);
  EXPECT_EQ(call(prolog_import_preds, {atom("ip_from"), atom("ip_to"), atom("improper")}), 0);
}

TEST_F(Modules, TypeinModuleSwitchesAndCreates)
{
  TAGGED old = var();
  ASSERT_EQ(call(prolog_typein_module, {old, atom("tm_new")}), 1);
  EXPECT_EQ(deref(old), MakeAtom(atom_user_enum));
  ASSERT_NE(eglobal->typein_mod, nullptr);
  EXPECT_EQ(eglobal->typein_mod->name, atom("tm_new"));
  EXPECT_EQ(call(prolog_typein_module, {atom("wrong"), atom("user")}), 0);
  ASSERT_EQ(call(prolog_typein_module, {atom("tm_new"), atom("user")}), 1);
  EXPECT_EQ(eglobal->typein_mod->name, MakeAtom(atom_user_enum));
}

TEST_F(Modules, AbolishUndefineAllAndPredicateFile)
{
  mod_def *m = module("ab");
  definition *p = insert_definition(m, atom("p"), 0, 1);
  redefine_predicate(p, ENTER_INTERPRETED);
  p->filename = atom("ab.pl");
  TAGGED file = var();
  EXPECT_EQ(call(prolog_predicate_file, {atom("p"), atom("ab"), file}), 1);
  EXPECT_EQ(deref(file), atom("ab.pl"));
  EXPECT_EQ(call(prolog_abolish, {atom("p"), atom("ab")}), 1);
  EXPECT_EQ(predtyp(p), unsigned(ENTER_UNDEFINED));
  EXPECT_EQ(call(prolog_predicate_file, {atom("p"), atom("ab"), var()}), 0);
  EXPECT_EQ(call(prolog_abolish, {atom("p"), atom("ab_missing")}), 1) << "always succeeds";
  EXPECT_EQ(call(prolog_undefine_all, {atom("ab")}), 1);
  EXPECT_EQ(call(prolog_undefine_all, {atom("ab_missing")}), 0);
}

} // namespace
