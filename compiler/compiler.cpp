/* compiler.cpp: clause compilation and text consulting.
 *
 * A clause is compiled in two passes.  The first flattens the body into
 * goals and splits the clause into chunks (the head and the goals up to and
 * including the first call, then each further call with the inline goals
 * before it); a variable met in more than one chunk is permanent and lives
 * in the environment, the rest are temporaries in X registers.  Permanent
 * variables are numbered by last use, latest first, so that the `e` operand
 * of each call (the variables still live after it) trims the environment.
 * The second pass emits code through code_builder, tracking for every
 * variable where its value is and whether it may still refer into the local
 * stack (those are pushed with the LOCAL_VALUE forms or passed unsafe).
 *
 * Temporaries of a chunk get fresh registers above every argument register
 * the clause uses, and are never reused within a chunk, so only the
 * argument registers of a call can conflict: before an argument register is
 * overwritten, a value still needed there is moved to a fresh register.
 */
#include "compiler.h"

#include <algorithm>
#include <map>

#include "atoms.h"
#include "code_builder.h"
#include "indexing.h"
#include "initial_atoms.h"
#include "modules.h"
#include "predicates.h"
#include "term_reader.h"
#include "term_text.h"
#include "terms.h"
#include "tokenizer.h"
#include "wamsup.h"
#include "worker.h"

namespace {

constexpr int MAX_X = 255;

struct compile_error {
  std::string message;
};

bool is_large(TAGGED t) { return IsStructure(t) && IsBoxHeader(TagToSTR(t)[0]); }

unsigned arity_of(TAGGED t)
{
  if (IsStructure(t))
    return Arity(TagToSTR(t)[0]);
  if (IsList(t))
    return 2;
  return 0;
}
TAGGED functor_of(TAGGED t) { return IsList(t) ? functor_list : TagToSTR(t)[0]; }
TAGGED arg_of(TAGGED t, unsigned i) /* 0-based */
{
  return deref(IsList(t) ? TagToLST(t)[i] : TagToSTR(t)[1 + i]);
}

struct var_info {
  int occurrences = 0;
  int first_chunk = -1, last_chunk = -1;
  bool perm = false;
  int y = -1;
  bool seen = false;
  int xloc = -1;
  bool maybe_local = false;   /* may refer to a local-stack cell */
  bool unsafe_origin = false; /* made in the environment by a body goal */
};

enum goal_kind { G_CALL, G_TRUE, G_FAIL, G_CUT };

struct goal {
  goal_kind kind;
  TAGGED term;
  int chunk;
};

class clause_compiler {
public:
  clause_compiler(mod_def *m) : module_(m) {}

  void compile(TAGGED clause, compiled_clause *out)
  {
    clause = deref(clause);
    TAGGED head = clause, body = atom_true_word();
    if (IsStructure(clause) && TagToSTR(clause)[0] == MakeFunctor(neck_atom(), 2)) {
      head = deref(TagToSTR(clause)[1]);
      body = deref(TagToSTR(clause)[2]);
    } else if (IsStructure(clause) && TagToSTR(clause)[0] == MakeFunctor(neck_atom(), 1)) {
      throw compile_error{"directives are not supported"};
    }
    if (IsStructure(head) && FunctorName(TagToSTR(head)[0]) == init_atom_check("-->", 0))
      throw compile_error{"grammar rules are not supported"};
    if (!(IsAtom(head) || (IsStructure(head) && !is_large(head))))
      throw compile_error{"the head is not callable: " + term_to_text_safe(head)};
    head_ = head;
    flatten(body);
    classify();

    unsigned harity = arity_of(head);
    floor_ = static_cast<int>(harity);
    for (const goal &g : goals_)
      if (g.kind == G_CALL)
        floor_ = std::max(floor_, static_cast<int>(arity_of(g.term)));
    next_x_ = floor_;

    compile_head(harity);
    compile_body();

    out->def = insert_definition(module_, IsAtom(head) ? head : FunctorName(TagToSTR(head)[0]),
                                 static_cast<int>(harity), 1);
    out->ix = ix_ | (has_cut_ ? IX_CUT : 0);
    out->key = key_;
    out->clause = b_.finish(failcode, out->ix);
  }

private:
  mod_def *module_;
  code_builder b_;
  TAGGED head_ = 0;
  std::vector<goal> goals_;
  std::map<TAGGED, var_info> vars_;
  int ncalls_ = 0;
  bool env_ = false, allocated_ = false, linked_ = false;
  bool has_cut_ = false;
  int cut_y_ = -1, cut_last_chunk_ = -1;
  int nyvars_ = 0;
  std::vector<int> y_last_;  /* last chunk of each Y */
  int floor_ = 0, next_x_ = 0;
  unsigned ix_ = IX_CASES;
  TAGGED key_ = 0;
  bool first_insn_ = true;

  static TAGGED atom_true_word() { return MakeAtom(atom_true_enum); }
  static TAGGED neck_atom() { return init_atom_check(":-", 0); }
  static std::string term_to_text_safe(TAGGED t);

  /* ---- Pass 1 ---- */

  void flatten(TAGGED body)
  {
    int chunk = 0;
    std::vector<TAGGED> stack{body};
    while (!stack.empty()) {
      TAGGED g = deref(stack.back());
      stack.pop_back();
      if (IsStructure(g) && TagToSTR(g)[0] == MakeFunctor(MakeAtom(atom_comma_enum), 2)) {
        stack.push_back(TagToSTR(g)[2]);
        stack.push_back(TagToSTR(g)[1]);
        continue;
      }
      if (IsVar(g))
        throw compile_error{"variable goals are not supported yet"};
      if (g == MakeAtom(atom_true_enum)) {
        goals_.push_back({G_TRUE, g, chunk});
      } else if (g == MakeAtom(atom_fail_enum)) {
        goals_.push_back({G_FAIL, g, chunk});
      } else if (g == MakeAtom(atom_bang_enum)) {
        has_cut_ = true;
        goals_.push_back({G_CUT, g, chunk});
        if (chunk > 0)
          cut_last_chunk_ = chunk;
      } else if (IsAtom(g) || (IsStructure(g) && !is_large(g))) {
        TAGGED name = IsAtom(g) ? g : FunctorName(TagToSTR(g)[0]);
        unsigned ar = arity_of(g);
        if ((ar == 2 && (name == MakeAtom(atom_semicolon_enum) || name == init_atom_check("->", 0) ||
                         name == MakeAtom(atom_colon_enum))) ||
            (ar == 1 && name == init_atom_check("\\+", 0)) ||
            (ar == 2 && name == init_atom_check("*->", 0)))
          throw compile_error{"control construct not supported yet: " + term_to_text_safe(g)};
        goals_.push_back({G_CALL, g, chunk});
        ncalls_++;
        chunk++;
      } else {
        throw compile_error{"goal is not callable: " + term_to_text_safe(g)};
      }
    }
  }

  void count_vars(TAGGED t, int chunk)
  {
    t = deref(t);
    if (IsVar(t)) {
      var_info &v = vars_[t];
      v.occurrences++;
      if (v.first_chunk < 0)
        v.first_chunk = chunk;
      v.last_chunk = chunk;
      return;
    }
    if (IsComplex(t) && !is_large(t)) {
      unsigned n = arity_of(t);
      for (unsigned i = 0; i < n; i++)
        count_vars(arg_of(t, i), chunk);
    }
  }

  void classify()
  {
    count_vars(head_, 0);
    for (const goal &g : goals_)
      if (g.kind == G_CALL)
        count_vars(g.term, g.chunk);
    /* A call followed by anything but the end of the clause returns to
       this clause, which then needs its continuation saved. */
    for (size_t i = 0; i < goals_.size(); i++) {
      if (goals_[i].kind != G_CALL)
        continue;
      for (size_t j = i + 1; j < goals_.size(); j++)
        if (goals_[j].kind != G_TRUE)
          env_ = true;
    }
    std::vector<std::pair<int, TAGGED>> perms;  /* (last chunk, var) */
    for (auto &[k, v] : vars_)
      if (v.first_chunk != v.last_chunk) {
        v.perm = true;
        perms.push_back({v.last_chunk, k});
      }
    if (cut_last_chunk_ > 0)
      perms.push_back({cut_last_chunk_, 0});
    std::stable_sort(perms.begin(), perms.end(), [](auto &a, auto &b) { return a.first > b.first; });
    for (auto &[last, k] : perms) {
      int y = nyvars_++;
      y_last_.push_back(last);
      if (k == 0)
        cut_y_ = y;
      else
        vars_[k].y = y;
    }
  }

  /* Environment size live after the call that ends chunk k. */
  unsigned live_after(int chunk) const
  {
    unsigned n = 0;
    for (int last : y_last_)
      if (last > chunk)
        n++;
    return n;
  }

  int fresh_x()
  {
    if (next_x_ > MAX_X)
      throw compile_error{"clause needs too many registers"};
    return next_x_++;
  }

  /* Picks the allocating form for the first instruction that touches the
     environment. */
  int alloc_form(int plain, int first)
  {
    if (allocated_)
      return plain;
    allocated_ = true;
    return first;
  }

  /* ---- Constants ---- */

  void emit_get_constant(int reg, TAGGED t)
  {
    bool x0 = first_insn_ && reg == 0;
    first_insn_ = false;
    if (t == atom_nil) {
      if (x0) { b_.emit(GET_NIL_X0); set_key(0x17, atom_nil); }
      else b_.emit(GET_NIL, {cb::x(reg)});
    } else if (is_large(t)) {
      if (x0) { b_.emit(GET_LARGE_X0, {cb::large_term(t)}); set_key(0x17, TagToSTR(t)[0]); }
      else b_.emit(GET_LARGE, {cb::x(reg), cb::large_term(t)});
    } else {
      if (x0) { b_.emit(GET_CONSTANT_X0, {cb::t(t)}); set_key(0x17, t); }
      else b_.emit(GET_CONSTANT, {cb::x(reg), cb::t(t)});
    }
  }
  void set_key(unsigned ix, TAGGED key) { ix_ = ix; key_ = key; }

  /* ---- Arguments of a list or structure (head read/write, body write) ---- */

  struct pending { int reg; TAGGED term; };

  /* Emits the UNIFY_ steps of t's arguments; a compound last argument is
     continued in place, other compound arguments go to fresh registers
     (head: queued for GET_; body: already built, given in built). */
  void unify_args(TAGGED t, std::vector<pending> *queue, const std::map<TAGGED, int> *built)
  {
    for (;;) {
      unsigned n = arity_of(t);
      int voids = 0;
      auto flush_voids = [&] {
        if (voids == 0) return;
        static const int forms[] = {0, UNIFY_VOID_1, UNIFY_VOID_2, UNIFY_VOID_3, UNIFY_VOID_4};
        if (voids <= 4) b_.emit(forms[voids]);
        else b_.emit(UNIFY_VOID, {cb::n(static_cast<unsigned>(voids))});
        voids = 0;
      };
      TAGGED next = 0;
      for (unsigned i = 0; i < n; i++) {
        TAGGED a = arg_of(t, i);
        if (IsVar(a)) {
          var_info &v = vars_[a];
          if (!v.seen && v.occurrences == 1) { voids++; continue; }
          flush_voids();
          unify_var(v);
        } else if (IsComplex(a) && !is_large(a)) {
          flush_voids();
          if (i == n - 1) {
            if (IsList(a)) b_.emit(UNIFY_LIST);
            else b_.emit(UNIFY_STRUCTURE, {cb::f(functor_of(a))});
            next = a;
          } else if (built != nullptr) {
            b_.emit(UNIFY_X_VALUE, {cb::x(static_cast<unsigned>(built->at(a)))});
          } else {
            int r = fresh_x();
            b_.emit(UNIFY_X_VARIABLE, {cb::x(r)});
            queue->push_back({r, a});
          }
        } else {
          flush_voids();
          if (a == atom_nil) b_.emit(UNIFY_NIL);
          else if (is_large(a)) b_.emit(UNIFY_LARGE, {cb::large_term(a)});
          else b_.emit(UNIFY_CONSTANT, {cb::t(a)});
        }
      }
      flush_voids();
      if (next == 0)
        return;
      t = next;
    }
  }

  void unify_var(var_info &v)
  {
    if (v.perm) {
      if (!v.seen) {
        b_.emit(alloc_form(UNIFY_Y_VARIABLE, UNIFY_Y_FIRST_VARIABLE), {cb::y(v.y)});
        v.seen = true;
      } else {
        b_.emit(v.maybe_local ? UNIFY_Y_LOCAL_VALUE : UNIFY_Y_VALUE, {cb::y(v.y)});
      }
    } else {
      if (!v.seen) {
        v.xloc = fresh_x();
        v.seen = true;
        b_.emit(UNIFY_X_VARIABLE, {cb::x(v.xloc)});
      } else {
        b_.emit(v.maybe_local ? UNIFY_X_LOCAL_VALUE : UNIFY_X_VALUE, {cb::x(v.xloc)});
      }
    }
  }

  /* ---- Head ---- */

  void compile_head(unsigned arity)
  {
    std::vector<pending> queue;
    for (unsigned i = 0; i < arity; i++) {
      TAGGED a = arg_of(head_, i);
      int reg = static_cast<int>(i);
      if (IsVar(a)) {
        var_info &v = vars_[a];
        if (v.perm) {
          if (!v.seen) {
            b_.emit(alloc_form(GET_Y_VARIABLE, GET_Y_FIRST_VARIABLE), {cb::x(reg), cb::y(v.y)});
            v.seen = true;
            v.maybe_local = true;
          } else {
            b_.emit(GET_Y_VALUE, {cb::x(reg), cb::y(v.y)});
          }
        } else if (!v.seen) {
          v.seen = true;
          v.xloc = reg;
          v.maybe_local = true;
          continue; /* the value stays in its argument register */
        } else {
          b_.emit(GET_X_VALUE, {cb::x(reg), cb::x(v.xloc)});
        }
        first_insn_ = false;
      } else if (IsComplex(a) && !is_large(a)) {
        get_compound(reg, a, &queue);
      } else {
        emit_get_constant(reg, a);
      }
    }
    for (size_t k = 0; k < queue.size(); k++) {
      pending p = queue[k];
      get_compound(p.reg, p.term, &queue);
    }
  }

  void get_compound(int reg, TAGGED t, std::vector<pending> *queue)
  {
    bool x0 = first_insn_ && reg == 0;
    first_insn_ = false;
    if (IsList(t)) {
      if (x0) { b_.emit(GET_LIST_X0); set_key(0x09, functor_list); }
      else b_.emit(GET_LIST, {cb::x(reg)});
    } else {
      TAGGED f = functor_of(t);
      if (x0) { b_.emit(GET_STRUCTURE_X0, {cb::f(f)}); set_key(0x17, f); }
      else b_.emit(GET_STRUCTURE, {cb::x(reg), cb::f(f)});
    }
    unify_args(t, queue, nullptr);
  }

  /* ---- Body ---- */

  void compile_body()
  {
    first_insn_ = false;
    if (cut_y_ >= 0)
      b_.emit(alloc_form(CHOICE_Y, CHOICE_YF), {cb::y(cut_y_)});
    int chunk = 0;
    for (size_t i = 0; i < goals_.size(); i++) {
      const goal &g = goals_[i];
      if (g.chunk != chunk) {
        chunk = g.chunk;
        next_x_ = floor_;
      }
      switch (g.kind) {
      case G_TRUE:
        break;
      case G_FAIL:
        b_.emit(FAIL);
        return;
      case G_CUT:
        if (chunk == 0) b_.emit(CUTB);
        else b_.emit(CUT_Y, {cb::y(cut_y_)});
        break;
      case G_CALL: {
        bool last = true;
        for (size_t j = i + 1; j < goals_.size(); j++)
          if (goals_[j].kind != G_TRUE)
            last = false;
        compile_call(g, last);
        if (last)
          return;
        break;
      }
      }
    }
    b_.emit(linked_ ? PROGRESS : PROCEED);
  }

  /* Does var (key) occur in t? */
  static bool occurs(TAGGED var, TAGGED t)
  {
    t = deref(t);
    if (t == var) return true;
    if (IsComplex(t) && !is_large(t)) {
      unsigned n = arity_of(t);
      for (unsigned i = 0; i < n; i++)
        if (occurs(var, arg_of(t, i)))
          return true;
    }
    return false;
  }

  void compile_call(const goal &g, bool last)
  {
    unsigned n = arity_of(g.term);
    std::vector<TAGGED> args;
    for (unsigned i = 0; i < n; i++)
      args.push_back(arg_of(g.term, i));
    /* The longest run of permanent-variable arguments is loaded by the
       call's own argument list. */
    unsigned zs = 0, zlen = 0;
    for (unsigned i = 0; i < n;) {
      unsigned j = i;
      while (j < n && IsVar(args[j]) && vars_[args[j]].perm) j++;
      if (j - i > zlen) { zs = i; zlen = j - i; }
      i = (j == i) ? i + 1 : j;
    }
    for (unsigned j = 0; j < n; j++) {
      if (j >= zs && j < zs + zlen)
        continue;
      prepare_target(args, j, zs, zlen);
      put_arg(static_cast<int>(j), args[j], g.chunk);
    }
    const bool pre_allocated = allocated_;
    std::vector<cb_arg> z;
    for (unsigned j = zs; j < zs + zlen; j++) {
      var_info &v = vars_[args[j]];
      if (!v.seen) {
        z.push_back(cb::fresh(v.y));
        v.seen = true;
        v.maybe_local = v.unsafe_origin = true;
      } else if (v.unsafe_origin && v.last_chunk == g.chunk) {
        z.push_back(cb::unsafe(v.y));
      } else {
        z.push_back(cb::value(v.y));
      }
    }
    TAGGED name = IsAtom(g.term) ? g.term : FunctorName(TagToSTR(g.term)[0]);
    definition *d = insert_definition(module_, name, static_cast<int>(n), 1);
    if (last) {
      if (linked_) b_.emit(LASTCALL, {cb::args(zs, z), cb::def(d)});
      else b_.emit(EXECUTE, {cb::def(d)});
      return;
    }
    unsigned e = live_after(g.chunk);
    if (linked_) b_.emit(CALL, {cb::args(zs, z), cb::def(d), cb::env(e)});
    else if (pre_allocated) b_.emit(FIRSTCALL, {cb::args(zs, z), cb::def(d), cb::env(e)});
    else b_.emit(INITCALL, {cb::args(zs, z), cb::def(d), cb::env(e)});
    linked_ = true;
    allocated_ = true;
  }

  /* Before argument register j is written, moves out a temporary that
     lives there and is still needed by this call. */
  void prepare_target(const std::vector<TAGGED> &args, unsigned j, unsigned zs, unsigned zlen)
  {
    for (auto &[k, v] : vars_) {
      if (v.perm || !v.seen || v.xloc != static_cast<int>(j))
        continue;
      if (args[j] == k)
        return; /* already in place */
      bool needed = occurs(k, args[j]);
      for (unsigned m = j + 1; m < args.size() && !needed; m++)
        if (!(m >= zs && m < zs + zlen))
          needed = occurs(k, args[m]);
      if (needed) {
        int r = fresh_x();
        b_.emit(GET_X_VARIABLE, {cb::x(v.xloc), cb::x(r)});
        v.xloc = r;
      }
    }
  }

  void put_arg(int j, TAGGED a, int chunk)
  {
    if (IsVar(a)) {
      var_info &v = vars_[a];
      if (v.perm) {
        if (!v.seen) {
          b_.emit(alloc_form(PUT_Y_VARIABLE, PUT_Y_FIRST_VARIABLE), {cb::x(j), cb::y(v.y)});
          v.seen = true;
          v.maybe_local = v.unsafe_origin = true;
        } else if (v.unsafe_origin && v.last_chunk == chunk) {
          b_.emit(PUT_Y_UNSAFE_VALUE, {cb::x(j), cb::y(v.y)});
        } else {
          b_.emit(PUT_Y_VALUE, {cb::x(j), cb::y(v.y)});
        }
      } else if (!v.seen) {
        v.seen = true;
        if (v.occurrences == 1) {
          b_.emit(PUT_X_VOID, {cb::x(j)});
        } else {
          b_.emit(PUT_X_VARIABLE, {cb::x(j), cb::x(j)});
          v.xloc = j;
        }
      } else if (v.xloc != j) {
        b_.emit(GET_X_VARIABLE, {cb::x(v.xloc), cb::x(j)});
      }
    } else if (IsComplex(a) && !is_large(a)) {
      build(j, a);
    } else if (a == atom_nil) {
      b_.emit(PUT_NIL, {cb::x(j)});
    } else if (is_large(a)) {
      b_.emit(PUT_LARGE, {cb::x(j), cb::large_term(a)});
    } else {
      b_.emit(PUT_CONSTANT, {cb::x(j), cb::t(a)});
    }
  }

  /* Builds compound t into register reg, inner terms first: every
     compound argument that is not a last argument goes to a fresh register
     before the cells of t are written. */
  void build(int reg, TAGGED t)
  {
    std::map<TAGGED, int> built;
    for (TAGGED c = t; IsComplex(c) && !is_large(c);) {
      unsigned n = arity_of(c);
      for (unsigned i = 0; i + 1 < n; i++) {
        TAGGED a = arg_of(c, i);
        if (IsComplex(a) && !is_large(a) && built.find(a) == built.end()) {
          int r = fresh_x();
          build(r, a);
          built[a] = r;
        }
      }
      c = arg_of(c, n - 1);
    }
    if (IsList(t)) b_.emit(PUT_LIST, {cb::x(reg)});
    else b_.emit(PUT_STRUCTURE, {cb::x(reg), cb::f(functor_of(t))});
    unify_args(t, nullptr, &built);
  }
};

std::string clause_compiler::term_to_text_safe(TAGGED t) { return term_to_text(t); }

} // namespace

int compile_clause(worker *w, TAGGED clause_term, mod_def *module, compiled_clause *out, std::string *error)
{
  try {
    clause_compiler c(module);
    c.compile(clause_term, out);
    return 1;
  } catch (const compile_error &e) {
    if (error != nullptr)
      *error = e.message;
    return 0;
  } catch (const std::exception &e) {
    if (error != nullptr)
      *error = std::string("internal compiler error: ") + e.what();
    return 0;
  }
}

int consult_text(worker *w, const char *text, mod_def *module, std::vector<std::string> *errors)
{
  text_source src;
  text_source_init(&src, text);
  std::vector<definition *> redefined;
  int installed = 0;
  for (;;) {
    TAGGED *heap_mark = w->global_top;
    read_result r{};
    int status = read_clause_term(w, &src.base, 0, &r);
    if (status != READ_OK) {
      if (errors != nullptr)
        errors->push_back("line " + std::to_string(r.error_line) + ": " + r.message);
      if (status == READ_IO_ERROR)
        break;
      continue;
    }
    if (deref(r.term) == MakeAtom(atom_end_of_file_enum))
      break;
    compiled_clause cc;
    std::string message;
    if (!compile_clause(w, r.term, module, &cc, &message)) {
      if (errors != nullptr)
        errors->push_back("line " + std::to_string(r.start_line) + ": " + message);
    } else {
      if (std::find(redefined.begin(), redefined.end(), cc.def) == redefined.end()) {
        redefine_predicate(cc.def, ENTER_COMPACTCODE);
        redefined.push_back(cc.def);
      }
      insert_compactcode(cc.def, cc.clause, static_cast<int>(cc.ix), cc.key);
      installed++;
    }
    /* The clause is in the code now; its term is garbage. */
    w->global_top = heap_mark;
  }
  return installed;
}
