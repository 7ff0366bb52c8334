// prolog_tests: runs a Prolog test file in a fresh runtime instance.
//
//   prolog_tests FILE.pl
//
// The file is consulted into `user`; every load error counts as a failed
// test.  Then the file is read again for its test items:
//
//   test(Name) :- Body.                  passes when Body succeeds (once);
//   expect(Name, Goal, [S1, S2, ...]).   Goal's solutions, each written as
//                                        the instantiated Goal, must be
//                                        exactly S1, S2, ... in this order;
//   expect(Name, Template, Goal, Sols).  the same, writing Template;
//   uncaught(Name, Goal, Ball).          Goal ends with the exception Ball
//                                        uncaught at the query boundary
//                                        (compared as text).
//
// Solutions are compared as canonical text with variables written `_`, so
// `[f(_)]` expects one solution with an unbound argument.  Finally the
// clause verifier runs over every compiled clause of every module, and a
// clause it rejects is a failure too.  Prints one line per failure and
// "N passed, N failed"; exits 0 only when nothing failed and some test ran.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "atoms.h"
#include "compiler.h"
#include "datadefs.h"
#include "globref.h"
#include "indexing.h"
#include "initial_atoms.h"
#include "modules.h"
#include "predicates.h"
#include "query.h"
#include "library.h"
#include "runtime_boot.h"
#include "exception_store.h"
#include "term_reader.h"
#include "term_text.h"
#include "terms.h"
#include "tokenizer.h"
#include "verifier.h"
#include "worker.h"

namespace {

worker *w = nullptr;
int passed = 0, failed = 0;

void fail_test(const std::string &name, const std::string &why)
{
  failed++;
  std::printf("FAIL %s: %s\n", name.c_str(), why.c_str());
}


std::string text_of(TAGGED t) { return without_variable_numbers(term_to_text(t)); }

// Reads one term from text (no full stop needed); 0 on a syntax error.
TAGGED read_text(const std::string &text)
{
  std::string full = text + " .";
  text_source src;
  text_source_init(&src, full.c_str(), full.size());
  read_result r{};
  if (read_clause_term(w, &src.base, 0, &r) != READ_OK)
    return 0;
  return deref(r.term);
}

bool is(TAGGED t, const char *name, unsigned arity)
{
  return IsStructure(t) && TagToSTR(t)[0] == MakeFunctor(init_atom_check(name, 0), arity);
}
TAGGED arg(TAGGED t, unsigned i) { return deref(TagToSTR(t)[i]); }

struct item {
  enum { TEST, EXPECT, UNCAUGHT } kind;
  std::string name;
  std::string text; // test: the name term; expect: the whole expect term
};

std::vector<item> collect_items(const std::string &path)
{
  std::vector<item> items;
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  std::string text = s.str();
  text_source src;
  text_source_init(&src, text.c_str(), text.size());
  for (;;) {
    std::ptrdiff_t mark = w->global_top - w->heap_start;
    read_result r{};
    int status = read_clause_term(w, &src.base, 0, &r);
    if (status == READ_IO_ERROR)
      break;
    if (status != READ_OK)
      continue;
    TAGGED t = deref(r.term);
    if (t == MakeAtom(atom_end_of_file_enum))
      break;
    TAGGED head = is(t, ":-", 2) ? arg(t, 1) : t;
    if (is(head, "test", 1))
      items.push_back({item::TEST, term_to_text(arg(head, 1)), term_to_text(arg(head, 1))});
    else if (head == t && (is(t, "expect", 3) || is(t, "expect", 4)))
      items.push_back({item::EXPECT, term_to_text(arg(t, 1)), term_to_text(t)});
    else if (head == t && is(t, "uncaught", 3))
      items.push_back({item::UNCAUGHT, term_to_text(arg(t, 1)), term_to_text(t)});
    w->global_top = w->heap_start + mark;
  }
  return items;
}

std::string exception_text()
{
  TAGGED ball = load_stored_exception(w);
  std::string e = ball != 0 ? text_of(ball) : std::string("?");
  erase_stored_exception();
  return e;
}

void run_test(const item &it)
{
  TAGGED name = read_text(it.text);
  definition *d = insert_definition(find_module(init_atom_check("user", 0), 1), init_atom_check("test", 0), 1, 0);
  if (name == 0 || d == nullptr) {
    fail_test(it.name, "cannot run");
    return;
  }
  query q;
  int res = query_open(w, &q, d, &name);
  if (query_undo(w, &q) < 0 && res >= 0)
    res = -1;
  if (res == 1)
    passed++;
  else if (res == 0)
    fail_test(it.name, "failed");
  else
    fail_test(it.name, "uncaught exception " + exception_text());
}

// Compiles '$expect'(Template) :- Goal into user, replacing the previous
// one; false (and a failure reported) when that cannot be done.
bool compile_goal(const item &it, TAGGED templ, TAGGED goal, compiled_clause *cc)
{
  mod_def *user = find_module(init_atom_check("user", 0), 1);
  TAGGED *h = w->global_top;
  w->global_top += 5;
  h[0] = MakeFunctor(init_atom_check("$expect", 0), 1);
  h[1] = templ;
  h[2] = MakeFunctor(init_atom_check(":-", 0), 2);
  h[3] = MakeSTR(h);
  h[4] = goal;
  std::string message;
  if (!compile_clause(w, MakeSTR(h + 2), user, cc, &message)) {
    fail_test(it.name, "cannot compile the goal: " + message);
    return false;
  }
  undefine_predicate(cc->def);
  redefine_predicate(cc->def, ENTER_COMPACTCODE);
  insert_compactcode(cc->def, cc->clause, static_cast<int>(cc->ix), cc->key);
  std::string why;
  if (!verify_clause(cc->clause, 1, &why)) {
    fail_test(it.name, "verifier: " + why);
    return false;
  }
  return true;
}

void run_uncaught(const item &it)
{
  TAGGED t = read_text(it.text);
  if (t == 0) {
    fail_test(it.name, "cannot read the test back");
    return;
  }
  const std::string expected = text_of(arg(t, 3));
  compiled_clause cc;
  if (!compile_goal(it, atom_nil, arg(t, 2), &cc))
    return;
  query q;
  TAGGED a = atom_nil;
  int res = query_open(w, &q, cc.def, &a);
  if (query_undo(w, &q) < 0 && res >= 0)
    res = -1;
  if (res >= 0) {
    fail_test(it.name, std::string("expected the uncaught exception ") + expected + " but the goal " +
                           (res == 1 ? "succeeded" : "failed"));
    return;
  }
  const std::string got = exception_text();
  if (got == expected)
    passed++;
  else
    fail_test(it.name, "expected the uncaught exception " + expected + " but got " + got);
}

void run_expect(const item &it)
{
  TAGGED t = read_text(it.text);
  if (t == 0) {
    fail_test(it.name, "cannot read the test back");
    return;
  }
  const bool four = is(t, "expect", 4);
  TAGGED templ = four ? arg(t, 2) : arg(t, 2);
  TAGGED goal = four ? arg(t, 3) : arg(t, 2);
  TAGGED sols = four ? arg(t, 4) : arg(t, 3);
  std::vector<std::string> expected;
  for (TAGGED l = sols; IsList(l); l = deref(TagToLST(l)[1]))
    expected.push_back(text_of(TagToLST(l)[0]));
  compiled_clause cc;
  if (!compile_goal(it, templ, goal, &cc))
    return;

  VR_globref held = VR_alloc_globrefs(1);
  held->term = w->global_top[0] = PointerToTerm(w->global_top);
  w->global_top++;
  std::vector<std::string> got;
  query q;
  TAGGED a = held->term;
  int res = query_open(w, &q, cc.def, &a);
  while (res == 1 && got.size() <= expected.size()) {
    got.push_back(text_of(held->term));
    res = query_next(w, &q);
  }
  if (query_undo(w, &q) < 0 && res >= 0)
    res = -1;
  VR_free_globrefs(held);
  if (res < 0) {
    fail_test(it.name, "uncaught exception " + exception_text());
    return;
  }
  if (got == expected) {
    passed++;
    return;
  }
  std::string g, e;
  for (const std::string &s : got)
    g += (g.empty() ? "" : ", ") + s;
  for (const std::string &s : expected)
    e += (e.empty() ? "" : ", ") + s;
  fail_test(it.name, "expected [" + e + "] but got [" + g + (res == 1 ? ", ..." : "") + "]");
}

void verify_module(mod_def *m, void *)
{
  for_each_predicate(m, [](definition *d, void *) {
    if (!is_compiled_type(predtyp(d)) || d->proc.code.incoreinfo == nullptr || d->module != d->defined_in)
      return;
    incore_info *info = d->proc.code.incoreinfo;
    emul_info *end = *info->clauses_tail;
    for (emul_info *c = info->clauses; c != end; c = c->next) {
      std::string why;
      if (!verify_clause(c, d->proc.arity, &why))
        fail_test(std::string("verify ") + atom_name(d->proc.printname) + "/" + std::to_string(d->proc.arity), why);
    }
  }, nullptr);
}

} // namespace

int main(int argc, char **argv)
{
  if (argc != 2) {
    std::fprintf(stderr, "usage: prolog_tests FILE.pl\n");
    return 2;
  }
  if (runtime_start(argc - 1, argv + 1) != 1) {
    fail_test("start-up", "the runtime with its library did not start");
    std::printf("%d passed, %d failed\n", passed, failed);
    return 1;
  }
  w = self;
  std::vector<std::string> errors;
  int n = consult_file(w, argv[1], find_module(init_atom_check("user", 0), 1), &errors);
  if (n < 0) {
    std::printf("cannot read %s\n", argv[1]);
    return 2;
  }
  for (const std::string &e : errors)
    fail_test("load", e);
  for (const item &it : collect_items(argv[1])) {
    // Each item's query is undone (query_undo), so what it posted is
    // released with its trail: a constraint left live at the end of a test
    // would otherwise keep global references into the heap given back
    // below, for the next collection to follow into whatever the heap
    // holds there then.  What the runner put on the heap around the query
    // (the compiled goal, the template's variable) is garbage as well;
    // give it back at once unless a collection has moved the heap
    // meanwhile (the collector reclaims it then).
    std::ptrdiff_t mark = w->global_top - w->heap_start;
    std::ptrdiff_t trail_mark = w->trail_top - w->trail_start;
    std::int64_t collections = eglobal->stats.gc_count;
    if (it.kind == item::TEST)
      run_test(it);
    else if (it.kind == item::EXPECT)
      run_expect(it);
    else
      run_uncaught(it);
    if (eglobal->stats.gc_count == collections) {
      w->global_top = w->heap_start + mark;
      w->trail_top = w->trail_start + trail_mark;
    }
  }
  for_each_module(verify_module, nullptr);
  // What the tests wrote to the runtime's streams reaches its devices
  // before the runner's own summary.
  runtime_stop();
  std::printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 && passed > 0 ? 0 : 1;
}
