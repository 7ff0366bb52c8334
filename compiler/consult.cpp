/* consult.cpp: loading program text: clauses, grammar rules, directives and
 * files.
 *
 * A load reads terms one by one with the system's reader; clauses are
 * compiled and installed at once, so the heap holds one clause at a time
 * (the heap top goes back after each).  The current module starts as the
 * caller's and changes only at a module/2 directive, which must be the
 * file's first term; when a module file was loaded on behalf of another
 * module, its exports are imported there afterwards.
 *
 * Loaded files are remembered by their resolved path with the module they
 * declared, so that use_module and ensure_loaded load each file once.
 * Initialization goals run when their file is loaded completely, in order;
 * their terms are held in global references (the heap may move while later
 * clauses are read), and the heap below them is kept until they ran.
 *
 * Term and goal expansion hooks are Prolog: the loader calls the runtime
 * library's '$expand_term'/3 and '$expand_clause'/3 as queries, only when
 * a hook that may apply is defined; what they return is held in global
 * references while it loads.  The loads in progress form a stack that
 * prolog_load_context/2 reads.
 */
#include "compiler.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <sys/stat.h>

#include "atoms.h"
#include "datadefs.h"
#include "dcg.h"
#include "errors.h"
#include "exception_store.h"
#include "globref.h"
#include "indexing.h"
#include "meta_decls.h"
#include "initial_atoms.h"
#include "modules.h"
#include "operators.h"
#include "predicates.h"
#include "query.h"
#include "stack_growth.h"
#include "term_reader.h"
#include "term_text.h"
#include "terms.h"
#include "tokenizer.h"
#include "unify.h"
#include "wam.h"
#include "wamsup.h"
#include "worker.h"

int prolog_module4(worker *w);
int prolog_import_preds(worker *w);

namespace {

std::map<std::string, TAGGED> loaded_files; /* path -> declared module name, or [] */
std::vector<std::string> library_dirs;

bool is(TAGGED t, const char *name, unsigned arity)
{
  t = deref(t);
  if (arity == 0)
    return t == init_atom_check(name, 0);
  return IsStructure(t) && TagToSTR(t)[0] == MakeFunctor(init_atom_check(name, 0), arity);
}
TAGGED arg(TAGGED t, unsigned i) { return deref(TagToSTR(deref(t))[i]); }

bool has_compiled_clauses(const definition *d)
{
  const incore_info *info = d->proc.code.incoreinfo;
  return is_compiled_type(predtyp(d)) && info != nullptr && info->clauses != *info->clauses_tail;
}

bool file_exists(const std::string &p)
{
  struct stat st;
  return stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string directory_of(const std::string &path)
{
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string canonical(const std::string &path)
{
  char buf[PATH_MAX];
  return realpath(path.c_str(), buf) != nullptr ? std::string(buf) : path;
}

struct load_context {
  worker *w;
  mod_def *module;          /* where clauses go now */
  mod_def *caller;          /* the module the load was asked for */
  std::string file;         /* resolved path, empty for text */
  TAGGED file_atom = atom_nil;
  std::vector<std::string> *errors;
  std::vector<definition *> redefined;
  std::vector<std::pair<VR_globref, mod_def *>> init_goals;
  std::ptrdiff_t heap_floor = 0; /* heap words kept for initialization goals */
  std::vector<std::string> including = {}; /* files whose include/1 is being read */
  bool first_term = true;
  bool declared_module = false;
  long line = 0;
  int installed = 0;

  void error(const std::string &message)
  {
    if (errors == nullptr)
      return;
    std::string where = file.empty() ? "line " + std::to_string(line) : file + ":" + std::to_string(line);
    errors->push_back(where + ": " + message);
  }
};

int load_text(load_context &cx, const char *text, std::size_t length);
void read_terms(load_context &cx, const char *text, std::size_t length);

/* The loads in progress, the innermost last (prolog_load_context/2). */
std::vector<load_context *> active_loads;

/* ---- Files ---- */

/* Resolves the name of a file to load (atom, or library(Name)) against the
   directory of the loading file; adds ".pl" when the name as given does
   not exist.  Empty when nothing is found. */
std::string resolve(load_context &cx, TAGGED spec)
{
  spec = deref(spec);
  std::vector<std::string> dirs;
  TAGGED name;
  if (is(spec, "library", 1)) {
    name = arg(spec, 1);
    dirs = library_dirs;
  } else {
    name = spec;
    dirs.push_back(directory_of(cx.file));
  }
  if (!IsAtom(name))
    return std::string();
  std::string n = atom_name(name);
  for (const std::string &d : dirs) {
    std::string base = (!n.empty() && n[0] == '/') ? n : (d.empty() || d.back() == '/' ? d : d + "/") + n;
    if (file_exists(base))
      return canonical(base);
    if (file_exists(base + ".pl"))
      return canonical(base + ".pl");
  }
  return std::string();
}

bool read_file(const std::string &path, std::string *text)
{
  std::ifstream in(path, std::ios::binary);
  if (!in)
    return false;
  std::ostringstream s;
  s << in.rdbuf();
  *text = s.str();
  return !in.bad();
}

int load_file(worker *w, const std::string &path, mod_def *module, std::vector<std::string> *errors)
{
  std::string text;
  if (!read_file(path, &text))
    return -1;
  load_context cx{w, module, module, path, init_atom_check(path.c_str(), 0), errors, {}, {}};
  loaded_files[path] = atom_nil;
  int n = load_text(cx, text.data(), text.size());
  loaded_files[path] = cx.declared_module ? cx.module->name : atom_nil;
  return n;
}

/* Every predicate module `from` exports, as a list of Name/Arity. */
TAGGED export_list(worker *w, mod_def *from)
{
  TAGGED list = atom_nil;
  for (definition *d = from->public_lst; d != PUBLIC_END && d != nullptr; d = d->next_public) {
    TAGGED *h = w->global_top;
    if (w->heap_warn - h < 5)
      break;
    w->global_top += 5;
    h[0] = MakeFunctor(MakeAtom(atom_slash_enum), 2);
    h[1] = d->proc.printname;
    h[2] = MakeSmall_checked(d->proc.arity);
    h[3] = MakeSTR(h);
    h[4] = list;
    list = MakeLST(h + 3);
  }
  return list;
}

bool import_from(load_context &cx, TAGGED module_name, TAGGED imports)
{
  if (module_name == atom_nil)
    return true;
  mod_def *from = find_module(module_name, 0);
  if (from == nullptr || from == cx.module)
    return true;
  worker *w = cx.w;
  if (imports == 0)
    imports = export_list(w, from);
  w->term[0] = from->name;
  w->term[1] = cx.module->name;
  w->term[2] = imports;
  return prolog_import_preds(w) != 0;
}

/* use_module/1,2 and ensure_loaded/1. */
void load_directive(load_context &cx, TAGGED spec, TAGGED imports, bool reload_never)
{
  std::string path = resolve(cx, spec);
  if (path.empty()) {
    cx.error("source file not found: " + term_to_text(spec));
    return;
  }
  auto it = loaded_files.find(path);
  TAGGED module_name;
  if (it != loaded_files.end() && reload_never) {
    module_name = it->second;
  } else {
    /* imports may sit on the heap above what the nested load reuses:
       keep it in a global reference while the file loads.  A global
       reference holds a term, never the 0 that means "all exports". */
    const bool all = imports == 0;
    VR_globref held = VR_alloc_globrefs(1);
    held->term = all ? atom_nil : imports;
    int n = load_file(cx.w, path, cx.module, cx.errors);
    imports = all ? 0 : held->term;
    VR_free_globrefs(held);
    if (n < 0) {
      cx.error("cannot read " + path);
      return;
    }
    module_name = loaded_files[path];
  }
  if (!import_from(cx, module_name, imports))
    cx.error("cannot import " + term_to_text(imports) + " from " + path);
}

/* include/1: the terms of another file read in place of the directive,
   into the module and load of the including file.  Relative names and the
   files it includes in turn are found from its own directory; a file that
   includes itself, directly or not, is refused. */
void include_file(load_context &cx, TAGGED spec)
{
  std::string path = resolve(cx, spec);
  if (path.empty()) {
    cx.error("source file not found: " + term_to_text(spec));
    return;
  }
  bool cycle = path == cx.file;
  for (const std::string &open : cx.including)
    cycle = cycle || open == path;
  if (cycle) {
    cx.error("file includes itself: " + path);
    return;
  }
  std::string text;
  if (!read_file(path, &text)) {
    cx.error("cannot read " + path);
    return;
  }
  const std::string file = cx.file;
  const TAGGED file_atom = cx.file_atom;
  const long line = cx.line;
  cx.including.push_back(file);
  cx.file = path;
  cx.file_atom = init_atom_check(path.c_str(), 0);
  read_terms(cx, text.data(), text.size());
  cx.file = file;
  cx.file_atom = file_atom;
  cx.line = line;
  cx.including.pop_back();
}

/* ---- Directives ---- */

/* Visits every Name/Arity of a directive argument: one, a comma
   sequence or a list. */
/* Visits every element of a comma sequence. */
template <typename F> bool each_term(TAGGED t, F &&visit)
{
  t = deref(t);
  if (is(t, ",", 2))
    return each_term(arg(t, 1), visit) && each_term(arg(t, 2), visit);
  return visit(t);
}

template <typename F> bool each_indicator(TAGGED specs, F &&visit)
{
  specs = deref(specs);
  if (is(specs, ",", 2))
    return each_indicator(arg(specs, 1), visit) && each_indicator(arg(specs, 2), visit);
  if (IsList(specs)) {
    for (TAGGED l = specs; IsList(l); l = deref(TagToLST(l)[1]))
      if (!each_indicator(TagToLST(l)[0], visit))
        return false;
    return true;
  }
  if (specs == atom_nil)
    return true;
  if (!is(specs, "/", 2) || !IsAtom(arg(specs, 1)) || !IsSmall(arg(specs, 2)) || GetSmall(arg(specs, 2)) < 0 ||
      GetSmall(arg(specs, 2)) > 255)
    return false;
  return visit(arg(specs, 1), static_cast<int>(GetSmall(arg(specs, 2))));
}

/* A declaration names a predicate of this file before its clauses: it is
   made (empty) now, and its first clause must not wipe what the
   declaration records. */
void declare_predicate(load_context &cx, TAGGED spec)
{
  mod_def *m = cx.module;
  spec = deref(spec);
  if (is(spec, ":", 2) && IsAtom(arg(spec, 1))) {
    m = find_module(arg(spec, 1), 1);
    spec = arg(spec, 2);
  }
  if (!IsAtom(spec) && !IsStructure(spec))
    return;
  TAGGED name = IsAtom(spec) ? spec : FunctorName(TagToSTR(spec)[0]);
  int arity = IsAtom(spec) ? 0 : static_cast<int>(Arity(TagToSTR(spec)[0]));
  definition *def = insert_definition(m, name, arity, 1);
  if (def == nullptr || def->module != m)
    return;
  if (std::find(cx.redefined.begin(), cx.redefined.end(), def) != cx.redefined.end())
    return;
  const std::uint32_t keep = def->proc.properties & PROP_MULTIFILE;
  undefine_predicate(def);
  redefine_predicate(def, ENTER_COMPACTCODE);
  def->proc.properties |= keep;
  cx.redefined.push_back(def);
}

/* Visits every Name/Arity of a directive argument as each_indicator
   does, a Module: prefix (on the whole argument or on an element) naming
   the module of what it qualifies. */
template <typename F> bool each_qualified_indicator(TAGGED specs, mod_def *m, F &&visit)
{
  specs = deref(specs);
  if (is(specs, ":", 2)) {
    if (!IsAtom(arg(specs, 1)))
      return false;
    mod_def *q = find_module(arg(specs, 1), 1);
    return q != nullptr && each_qualified_indicator(arg(specs, 2), q, visit);
  }
  if (is(specs, ",", 2))
    return each_qualified_indicator(arg(specs, 1), m, visit) && each_qualified_indicator(arg(specs, 2), m, visit);
  if (IsList(specs)) {
    for (TAGGED l = specs; IsList(l); l = deref(TagToLST(l)[1]))
      if (!each_qualified_indicator(TagToLST(l)[0], m, visit))
        return false;
    return true;
  }
  return each_indicator(specs, [&](TAGGED name, int arity) { return visit(m, name, arity); });
}

/* dynamic Name/Arity: the predicate is emptied (at its first mention in
   this load) and becomes dynamic; its clauses in the file are added as
   assertz/1 adds them.  A multifile dynamic predicate keeps the clauses
   other files gave it. */
void declare_dynamic(load_context &cx, mod_def *m, TAGGED name, int arity)
{
  definition *def = insert_definition(m, name, arity, 1);
  if (def == nullptr)
    return;
  std::string pi = std::string(atom_name(name)) + "/" + std::to_string(arity);
  if (def->defined_in != m) {
    cx.error("cannot redefine the built-in predicate " + pi);
    return;
  }
  const bool seen = std::find(cx.redefined.begin(), cx.redefined.end(), def) != cx.redefined.end();
  const std::uint32_t multifile = def->proc.properties & PROP_MULTIFILE;
  if (!seen) {
    if (multifile == 0 || predtyp(def) != ENTER_INTERPRETED) {
      undefine_predicate(def);
      redefine_predicate(def, ENTER_INTERPRETED);
    }
    cx.redefined.push_back(def);
  } else if (predtyp(def) != ENTER_INTERPRETED) {
    if (has_compiled_clauses(def)) {
      cx.error("dynamic declaration of " + pi + " after its clauses");
      return;
    }
    undefine_predicate(def);
    redefine_predicate(def, ENTER_INTERPRETED);
  }
  def->proc.properties |= PROP_DYNAMIC | multifile;
  update_exports(def, ENTER_INTERPRETED);
  def->filename = cx.file_atom;
}

void directive(load_context &cx, TAGGED d)
{
  d = deref(d);
  worker *w = cx.w;
  if (is(d, "module", 2)) {
    if (!cx.first_term) {
      cx.error("module/2 must be the first term of a file");
      return;
    }
    TAGGED name = arg(d, 1);
    if (!IsAtom(name)) {
      cx.error("module name is not an atom: " + term_to_text(name));
      return;
    }
    w->term[0] = name;
    w->term[1] = arg(d, 2);
    w->term[2] = init_atom_check("false", 0);
    w->term[3] = cx.file_atom;
    if (!prolog_module4(w)) {
      cx.error("malformed export list: " + term_to_text(arg(d, 2)));
      return;
    }
    cx.module = find_module(name, 1);
    cx.declared_module = true;
    /* Known from now on: a file that this one loads may import from it
       before its clauses are in (the exports exist already). */
    if (!cx.file.empty())
      loaded_files[cx.file] = name;
  } else if (is(d, "use_module", 1)) {
    load_directive(cx, arg(d, 1), 0, true);
  } else if (is(d, "use_module", 2)) {
    load_directive(cx, arg(d, 1), arg(d, 2), true);
  } else if (is(d, "use_module", 3)) {
    /* use_module(Module, File, Imports): the module named is File's. */
    load_directive(cx, arg(d, 2), arg(d, 3), true);
  } else if (is(d, "include", 1)) {
    include_file(cx, arg(d, 1));
  } else if (is(d, "ensure_loaded", 1)) {
    load_directive(cx, arg(d, 1), 0, true);
  } else if (is(d, "op", 3)) {
    int argno = 0;
    if (!vr_op(arg(d, 1), arg(d, 2), arg(d, 3), &argno))
      cx.error("op/3: bad argument " + std::to_string(argno) + " in " + term_to_text(d));
  } else if (is(d, "multifile", 1) || is(d, "discontiguous", 1)) {
    const bool multifile = is(d, "multifile", 1);
    bool ok = each_qualified_indicator(arg(d, 1), cx.module, [&](mod_def *m, TAGGED name, int arity) {
      definition *def = insert_definition(m, name, arity, 1);
      if (def == nullptr)
        return false;
      if (multifile) {
        if (predtyp(def) == ENTER_UNDEFINED) {
          redefine_predicate(def, ENTER_COMPACTCODE);
          cx.redefined.push_back(def);
        }
        def->proc.properties |= PROP_MULTIFILE;
        update_exports(def, static_cast<int>(predtyp(def)));
      }
      return true;
    });
    if (!ok)
      cx.error("not a list of predicate indicators: " + term_to_text(arg(d, 1)));
  } else if (is(d, "dynamic", 1)) {
    bool ok = each_qualified_indicator(arg(d, 1), cx.module, [&](mod_def *m, TAGGED name, int arity) {
      declare_dynamic(cx, m, name, arity);
      return true;
    });
    if (!ok)
      cx.error("not a list of predicate indicators: " + term_to_text(arg(d, 1)));
  } else if (is(d, "meta_predicate", 1) || is(d, "block", 1)) {
    const bool meta = is(d, "meta_predicate", 1);
    bool ok = each_term(arg(d, 1), [&](TAGGED spec) {
      declare_predicate(cx, spec);
      if (is(spec, ":", 2)) {
        /* Module:Head names its module itself (the way to declare
           ','/2, which a comma sequence cannot hold). */
        w->term[0] = spec;
        return (meta ? prolog_meta_predicate(w) : prolog_block(w)) != 0;
      }
      TAGGED *h = w->global_top;
      w->global_top += 3;
      h[0] = MakeFunctor(MakeAtom(atom_colon_enum), 2);
      h[1] = cx.module->name;
      h[2] = spec;
      w->term[0] = MakeSTR(h);
      return (meta ? prolog_meta_predicate(w) : prolog_block(w)) != 0;
    });
    if (!ok)
      cx.error(std::string(meta ? "meta_predicate" : "block") + ": bad declaration " + term_to_text(arg(d, 1)));
  } else if (is(d, "initialization", 1)) {
    VR_globref held = VR_alloc_globrefs(1);
    held->term = arg(d, 1);
    cx.init_goals.push_back({held, cx.module});
    cx.heap_floor = w->global_top - w->heap_start;
  } else if (IsAtom(d) || IsComplex(d)) {
    /* Any other directive of a defined predicate runs as a goal
       (Module:Goal names the module its predicate is looked up in). */
    mod_def *dm = cx.module;
    TAGGED g = d;
    while (dm != nullptr && is(g, ":", 2) && IsAtom(arg(g, 1))) {
      dm = find_module(arg(g, 1), 0);
      g = arg(g, 2);
    }
    definition *def = dm != nullptr && (IsAtom(g) || IsComplex(g)) ? find_definition(dm, g, nullptr, 0) : nullptr;
    if (def == nullptr || predtyp(def) == ENTER_UNDEFINED) {
      cx.error("unknown directive: " + term_to_text(d));
      return;
    }
    std::string message;
    const int res = run_goal_once(w, d, cx.module, &message);
    if (res == 0)
      cx.error("directive failed: " + term_to_text(d));
    else if (res < 0)
      cx.error("directive raised an exception: " + message);
  } else {
    cx.error("unknown directive: " + term_to_text(d));
  }
}

/* ---- Expansion hooks ----

   A term read is first given to term_expansion/2 (of the module loaded
   into, then of user), a clause's body goals to the goal_expansion/5 of
   the module that defines each goal's predicate.  The walks and calls are
   the runtime library's ('$expand_term'/3, '$expand_clause'/3); the loader
   only calls them when a hook that could apply exists, so a program
   without hooks loads as fast as before. */

bool defines(mod_def *m, const char *name, int arity)
{
  if (m == nullptr)
    return false;
  definition *d = insert_definition(m, init_atom_check(name, 0), arity, 0);
  return d != nullptr && predtyp(d) != ENTER_UNDEFINED;
}

bool term_hooked(const load_context &cx)
{
  return defines(cx.module, "term_expansion", 2) || defines(find_module(MakeAtom(atom_user_enum), 0), "term_expansion", 2);
}

/* Some goal of the body (through the control constructs the compiler
   opens) calls a predicate whose module has goal_expansion/5. */
bool goal_hooked(mod_def *m, TAGGED g, int depth)
{
  while (m != nullptr && depth < 1000) {
    g = deref(g);
    if (IsVar(g))
      return false;
    if (is(g, ":", 2)) {
      if (!IsAtom(arg(g, 1)))
        return false;
      m = find_module(arg(g, 1), 0);
      g = arg(g, 2);
    } else if (is(g, ",", 2) || is(g, ";", 2) || is(g, "->", 2) || is(g, "*->", 2)) {
      if (goal_hooked(m, arg(g, 1), depth + 1))
        return true;
      g = arg(g, 2);
    } else if (is(g, "if", 3)) {
      if (goal_hooked(m, arg(g, 1), depth + 1) || goal_hooked(m, arg(g, 2), depth + 1))
        return true;
      g = arg(g, 3);
    } else if (is(g, "\\+", 1) || is(g, "call", 1)) {
      g = arg(g, 1);
    } else {
      if (!IsAtom(g) && !IsStructure(g))
        return false;
      definition *d = find_definition(m, g, nullptr, 0);
      return d != nullptr && defines(d->module, "goal_expansion", 5);
    }
    depth++;
  }
  return false;
}

/* A clause's body is hooked (Module: prefixes name the body's module). */
bool clause_hooked(const load_context &cx, TAGGED t)
{
  mod_def *m = cx.module;
  t = deref(t);
  while (is(t, ":", 2) && IsAtom(arg(t, 1))) {
    m = find_module(arg(t, 1), 0);
    t = arg(t, 2);
  }
  if (!is(t, ":-", 2))
    return false;
  for (TAGGED h = arg(t, 1); is(h, ":", 2) && IsAtom(arg(h, 1)); h = arg(h, 2))
    m = find_module(arg(h, 1), 0);
  return goal_hooked(m, arg(t, 2), 0);
}

/* Runs prolog:Name(In, Module, Out) as a query.  1 with *out set, 0 on
   failure, -1 after an exception (reported as a load error).  *in is
   updated: the heap may move while the hook runs. */
int run_hook(load_context &cx, const char *name, TAGGED *in, TAGGED *out)
{
  worker *w = cx.w;
  definition *d = insert_definition(eglobal->prolog_module, init_atom_check(name, 0), 3, 0);
  if (d == nullptr || predtyp(d) == ENTER_UNDEFINED)
    return 0;
  TAGGED *v = w->global_top++;
  *v = PointerToTerm(v);
  VR_globref held = VR_alloc_globrefs(2);
  held[0].term = *in;
  held[1].term = *v;
  const TAGGED args[3] = {*in, cx.module->name, *v};
  query q;
  int res = query_open(w, &q, d, args);
  query_close(w, &q);
  *in = held[0].term;
  *out = deref(held[1].term);
  VR_free_globrefs(held);
  if (res < 0) {
    TAGGED ball = load_stored_exception(w);
    cx.error("expansion raised an exception: " + (ball != 0 ? term_to_text(ball) : std::string("unknown")));
    erase_stored_exception();
    if (ball != 0)
      report_uncaught_exception(w, ball);
  }
  return res;
}

/* Makes room for compiling a term of the size the heap grew by since
   heap_mark; the term travels in term[0]. */
TAGGED room_for(worker *w, TAGGED t, std::ptrdiff_t heap_mark)
{
  const std::ptrdiff_t need = 4 * (w->global_top - w->heap_start - heap_mark) + 2048;
  if (w->heap_warn - w->global_top < need) {
    w->term[0] = t;
    call_overflow(w, static_cast<int>(need), 1);
    t = deref(w->term[0]);
  }
  return t;
}

/* ---- Clauses ---- */

/* The dynamic predicate a clause term belongs to, or null: the clause's
   head after its Module: prefixes (on the clause and on the head). */
definition *dynamic_target(load_context &cx, TAGGED term)
{
  mod_def *m = cx.module;
  TAGGED t = deref(term);
  while (is(t, ":", 2) && IsAtom(arg(t, 1))) {
    m = find_module(arg(t, 1), 1);
    t = arg(t, 2);
  }
  if (is(t, ":-", 2))
    t = arg(t, 1);
  while (is(t, ":", 2) && IsAtom(arg(t, 1))) {
    m = find_module(arg(t, 1), 1);
    t = arg(t, 2);
  }
  if (m == nullptr || !(IsAtom(t) || IsComplex(t)))
    return nullptr;
  definition *d = find_definition(m, t, nullptr, 0);
  if (d == nullptr || predtyp(d) != ENTER_INTERPRETED || (d->proc.properties & PROP_DYNAMIC) == 0)
    return nullptr;
  /* Dynamic from an earlier load and not declared again: the clause
     redefines it as compiled code, as any other clause does. */
  if (std::find(cx.redefined.begin(), cx.redefined.end(), d) == cx.redefined.end() &&
      (d->proc.properties & PROP_MULTIFILE) == 0)
    return nullptr;
  return d;
}

/* Adds a clause of a dynamic predicate the way assertz/1 does, through the
   runtime library, and records its file. */
void add_dynamic_clause(load_context &cx, TAGGED term)
{
  worker *w = cx.w;
  definition *adder = insert_definition(eglobal->prolog_module, init_atom_check("$load_dynamic_clause", 0), 3, 0);
  if (adder == nullptr || predtyp(adder) == ENTER_UNDEFINED) {
    cx.error("clauses of dynamic predicates need the runtime library");
    return;
  }
  const TAGGED args[3] = {term, cx.module->name, cx.file_atom};
  query q;
  int res = query_open(w, &q, adder, args);
  query_close(w, &q);
  if (res == 0) {
    cx.error("cannot add the clause " + term_to_text(term));
  } else if (res < 0) {
    TAGGED ball = load_stored_exception(w);
    cx.error(ball != 0 ? term_to_text(ball) : std::string("unknown exception"));
    erase_stored_exception();
  } else {
    cx.installed++;
  }
}

void add_clause(load_context &cx, TAGGED term)
{
  if (clause_hooked(cx, term)) {
    TAGGED expanded;
    const int res = run_hook(cx, "$expand_clause", &term, &expanded);
    if (res < 0)
      return;
    if (res > 0)
      term = expanded;
  }
  if (dynamic_target(cx, term) != nullptr) {
    add_dynamic_clause(cx, term);
    return;
  }
  compiled_clause cc;
  std::string message;
  if (!compile_clause(cx.w, term, cx.module, &cc, &message, cx.file_atom)) {
    cx.error(message);
    return;
  }
  definition *d = cc.def;
  if (d->defined_in == eglobal->prolog_module && cx.module != eglobal->prolog_module) {
    cx.error("cannot redefine the built-in predicate " + std::string(atom_name(d->proc.printname)) + "/" +
             std::to_string(d->proc.arity));
    scan_emulinfo(cc.clause, free_reaper);
    return;
  }
  if (std::find(cx.redefined.begin(), cx.redefined.end(), d) == cx.redefined.end()) {
    if ((d->proc.properties & PROP_MULTIFILE) == 0 || !is_compiled_type(predtyp(d))) {
      const bool multifile = (d->proc.properties & PROP_MULTIFILE) != 0;
      undefine_predicate(d);
      redefine_predicate(d, ENTER_COMPACTCODE);
      if (multifile) {
        d->proc.properties |= PROP_MULTIFILE;
        update_exports(d, ENTER_COMPACTCODE);
      }
    }
    cx.redefined.push_back(d);
  }
  d->filename = cx.file_atom;
  insert_compactcode(d, cc.clause, static_cast<int>(cc.ix), cc.key);
  cx.installed++;
}

/* A directive, a grammar rule or a clause. */
void load_term(load_context &cx, TAGGED t)
{
  t = deref(t);
  if (is(t, ":-", 1)) {
    directive(cx, arg(t, 1));
  } else if (is(t, "-->", 2)) {
    TAGGED clause;
    std::string message;
    if (dcg_translate(cx.w, t, &clause, &message))
      add_clause(cx, clause);
    else
      cx.error(message);
  } else {
    add_clause(cx, t);
  }
}

/* Reads and loads every term of text in cx (the loop of a file and of
   each file it includes). */
void read_terms(load_context &cx, const char *text, std::size_t length)
{
  worker *w = cx.w;
  text_source src;
  text_source_init(&src, text, length);
  for (;;) {
    /* Offsets: reading may move the heap to grow it. */
    std::ptrdiff_t heap_mark = w->global_top - w->heap_start;
    const std::int64_t collections = eglobal->stats.gc_count;
    /* What the clause left on the heap is garbage, unless an initialization
       goal lies above the mark.  After a collection the offsets mean
       nothing (the heap may now be compacted below the mark): the heap is
       kept as the collector left it and becomes the new floor. */
    auto give_back = [&] {
      if (eglobal->stats.gc_count != collections)
        cx.heap_floor = w->global_top - w->heap_start;
      else
        w->global_top = w->heap_start + std::max(cx.heap_floor, heap_mark);
    };
    read_result r{};
    int status = read_clause_term(w, &src.base, 0, &r);
    if (src.bad_byte >= 0) {
      /* A byte that is no character.  Met before the clause's first token
         (in a comment or layout) it spoils nothing; inside the clause the
         clause is not loaded, whatever the reader made of it (a character
         code after 0', for one): the reader has gone on to the next one. */
      const bool at_end = status == READ_IO_ERROR ||
                          (status == READ_OK && deref(r.term) == MakeAtom(atom_end_of_file_enum));
      const bool before_clause = status == READ_OK && (at_end || src.bad_line < r.start_line);
      char message[96];
      std::snprintf(message, sizeof message, "%sinvalid byte 0x%02x (%s)%s", before_clause ? "" : "syntax error: ",
                    src.bad_byte, src.bad_byte == 0 ? "NUL" : "not UTF-8 text",
                    before_clause ? " in a comment or layout" : "");
      cx.line = src.bad_line;
      cx.error(message);
      src.bad_byte = -1;
      if (at_end)
        break;
      if (!before_clause) {
        give_back();
        continue;
      }
    }
    if (status != READ_OK) {
      cx.line = r.error_line;
      cx.error(std::string("syntax error: ") + r.message);
      if (status == READ_IO_ERROR)
        break;
      continue;
    }
    TAGGED t = deref(r.term);
    if (t == MakeAtom(atom_end_of_file_enum))
      break;
    cx.line = r.start_line;
    /* Translating and compiling build goals beside the term: make room
       for a few times its size first. */
    t = room_for(w, t, heap_mark);
    TAGGED expanded;
    const int res = term_hooked(cx) ? run_hook(cx, "$expand_term", &t, &expanded) : 0;
    if (res == 0) {
      load_term(cx, t);
    } else if (res > 0) {
      /* A list of terms, each loaded in turn; the rest of the list is held
         while one loads (directives may move the heap). */
      VR_globref rest = VR_alloc_globrefs(1);
      rest->term = expanded;
      while (IsList(deref(rest->term))) {
        TAGGED *cell = TagToLST(deref(rest->term));
        rest->term = cell[1];
        load_term(cx, room_for(w, deref(cell[0]), heap_mark));
      }
      VR_free_globrefs(rest);
    }
    cx.first_term = false;
    give_back(); /* the term is in the code now */
  }
}

int load_text(load_context &cx, const char *text, std::size_t length)
{
  active_loads.push_back(&cx);
  worker *w = cx.w;
  read_terms(cx, text, length);
  for (auto &[goal, m] : cx.init_goals) {
    std::string message;
    /* The goal stays referenced while it runs: a collection inside it
       moves the term, and a failure names it afterwards. */
    int res = run_goal_once(w, goal->term, m, &message);
    if (res == 0)
      cx.error("initialization goal failed: " + term_to_text(goal->term));
    else if (res < 0)
      cx.error("initialization goal raised an exception: " + message);
    VR_free_globrefs(goal);
  }
  cx.init_goals.clear();
  active_loads.pop_back();
  if (cx.declared_module && cx.caller != cx.module)
    import_from(cx, cx.module->name, 0);
  return cx.installed;
}

} // namespace

int consult_text(worker *w, const char *text, mod_def *module, std::vector<std::string> *errors)
{
  load_context cx{w, module, module, std::string(), atom_nil, errors, {}, {}};
  std::ptrdiff_t mark = w->global_top - w->heap_start;
  int n = load_text(cx, text, std::strlen(text));
  w->global_top = w->heap_start + mark;
  return n;
}

int consult_file(worker *w, const char *path, mod_def *module, std::vector<std::string> *errors)
{
  std::string p = canonical(path);
  if (!file_exists(p))
    return -1;
  std::ptrdiff_t mark = w->global_top - w->heap_start;
  int n = load_file(w, p, module, errors);
  w->global_top = w->heap_start + mark;
  return n;
}

int prolog_load_context(worker *w)
{
  if (active_loads.empty())
    return 0;
  const load_context &cx = *active_loads.back();
  const TAGGED key = deref(w->term[0]);
  TAGGED value;
  if (key == init_atom_check("module", 0)) {
    value = cx.module->name;
  } else if (key == init_atom_check("file", 0)) {
    if (cx.file.empty())
      return 0;
    value = cx.file_atom;
  } else if (key == init_atom_check("source", 0)) {
    /* The file being loaded, not the one it includes. */
    if (cx.file.empty())
      return 0;
    value = cx.including.empty() ? cx.file_atom : init_atom_check(cx.including.front().c_str(), 0);
  } else if (key == init_atom_check("directory", 0)) {
    if (cx.file.empty())
      return 0;
    std::string dir = directory_of(cx.file);
    if (dir.size() > 1)
      dir.pop_back();
    value = init_atom_check(dir.c_str(), 0);
  } else {
    return 0;
  }
  return cunify(w, w->term[1], value);
}

void consult_add_library_dir(const std::string &dir) { library_dirs.push_back(dir); }

void consult_reset(void)
{
  loaded_files.clear();
  library_dirs.clear();
}

int run_goal_once(worker *w, TAGGED goal, mod_def *m, std::string *error)
{
  /* The goal becomes the one clause of a hidden predicate of m, called as
     a query: a choicepoint whose alternative ends the query with failure,
     the continuation that ends it with success. */
  TAGGED name = init_atom_check("$run_goal", 0);
  TAGGED *h = w->global_top;
  w->global_top += 3;
  h[0] = MakeFunctor(init_atom_check(":-", 0), 2);
  h[1] = name;
  h[2] = goal;
  compiled_clause cc;
  std::string message;
  if (!compile_clause(w, MakeSTR(h), m, &cc, &message)) {
    if (error != nullptr)
      *error = message;
    return -1;
  }
  definition *d = cc.def;
  undefine_predicate(d);
  redefine_predicate(d, ENTER_COMPACTCODE);
  insert_compactcode(d, cc.clause, static_cast<int>(cc.ix), cc.key);

  /* The goal's bindings are undone when it ends, and whatever it posted
     is released: a constraint it left live would otherwise keep global
     references into the heap given back below.  Undoing restores the
     heap top as the collector has kept it; what is given back after that
     is the exception's ball, unless a collection ran meanwhile. */
  const std::ptrdiff_t heap_top = w->global_top - w->heap_start;
  const std::int64_t collections = eglobal->stats.gc_count;
  query q;
  int res = query_open(w, &q, d, nullptr);
  if (query_undo(w, &q) < 0 && res >= 0)
    res = -1;
  if (res < 0) {
    TAGGED ball = load_stored_exception(w);
    if (error != nullptr)
      *error = ball != 0 ? term_to_text(ball) : std::string("unknown exception");
    erase_stored_exception();
    if (ball != 0)
      report_uncaught_exception(w, ball);
  }
  if (eglobal->stats.gc_count == collections)
    w->global_top = w->heap_start + heap_top;
  undefine_predicate(d);
  return res;
}
