/* compiler.cpp: clause compilation.
 *
 * A clause is compiled as one or more units sharing one code buffer: the
 * clause itself, then, after its main part, every embedded choice block its
 * control constructs need, each alternative of a block being a unit of its
 * own.  A block is called like a predicate whose arguments are the
 * variables the block shares with the rest of its unit:
 *   (A ; B)          two alternatives A and B;
 *   (C -> T ; E)     alternatives (choice K, C, cut to K, T) and E;
 *   (C -> T)         one alternative (choice K, C, cut to K, T);
 *   (C *-> T ; E)    alternatives (choice K, C, $soft_cut(K), T) and E:
 *                    $soft_cut makes the block's own choicepoint dead once
 *                    C has succeeded, keeping C's;
 *   \+ G             alternatives (choice K, G, cut to K, fail) and true;
 *   call(G), G bound one alternative (choice K, G) in which ! cuts to K.
 *   if(C, T, E) is (C *-> T ; E), and V^G is call(G).
 * "choice K" saves the cut value of the block's caller (CHOICE_X/_Y) at the
 * start of an alternative, where it still removes the block's own
 * choicepoint; "cut to K" is CUTB_X or CUT_Y.  A ! that cuts the clause
 * itself is CUTB at the neck; anywhere else the clause saves its cut value
 * in a variable as its first body goal, and the variable travels into the
 * blocks as an ordinary argument.  A condition or negated goal that itself
 * contains such a ! is wrapped as call/1 first, so its cut stays local.
 *
 * Each unit is compiled in two passes.  The first flattens its body into
 * goals and splits it into chunks (the head and the goals up to and
 * including the first call, then each further call with the inline goals
 * before it); a variable met in more than one chunk is permanent and lives
 * in the environment, the rest are temporaries in X registers.  Permanent
 * variables are numbered by last use, latest first, so that the `e` operand
 * of each call (the variables still live after it) trims the environment.
 * The second pass emits code, tracking for every variable where its value
 * is and whether it may still refer into the local stack (those are pushed
 * with the LOCAL_VALUE forms or passed unsafe).
 *
 * Temporaries of a chunk get fresh registers above every argument register
 * the unit uses, and are never reused within a chunk, so only the argument
 * registers of a call can conflict: before an argument register is
 * overwritten, a value still needed there is moved to a fresh register.
 *
 * Heap room: predicate entry guarantees HEAP_WARN_MARGIN free words; a
 * stretch of code between two calls that may write more than
 * HEAP_CHECK_THRESHOLD words starts with CHECK_HEAP.
 */
#include "compiler.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <set>

#include "atoms.h"
#include "code_builder.h"
#include "datadefs.h"
#include "evaluables.h"
#include "indexing.h"
#include "initial_atoms.h"
#include "modules.h"
#include "native_stack.h"
#include "predicates.h"
#include "term_text.h"
#include "terms.h"
#include "wamsup.h"
#include "worker.h"

namespace {

constexpr int MAX_X = 255;
constexpr unsigned HEAP_CHECK_THRESHOLD = 512;

struct compile_error {
  std::string message;
};
/* More values must live in X registers at once than there are: the clause
   is compiled again with its variables in the environment. */
struct too_many_registers {};

/* Values a spine of UNIFY steps may keep in registers before the rest of
   the spine is split off into a register of its own. */
constexpr size_t SPINE_REGISTERS = 32;

bool is_large(TAGGED t) { return IsStructure(t) && IsBoxHeader(TagToSTR(t)[0]); }
bool is_compound(TAGGED t) { return IsComplex(t) && !is_large(t); }
bool is_callable(TAGGED t) { return IsAtom(t) || is_compound(t); }

unsigned arity_of(TAGGED t)
{
  if (IsStructure(t))
    return is_large(t) ? 0 : Arity(TagToSTR(t)[0]);
  if (IsList(t))
    return 2;
  return 0;
}
TAGGED functor_of(TAGGED t) { return IsList(t) ? functor_list : TagToSTR(t)[0]; }
TAGGED name_of(TAGGED t) { return IsAtom(t) ? t : IsList(t) ? MakeAtom(atom_dot_enum) : FunctorName(TagToSTR(t)[0]); }
TAGGED arg_of(TAGGED t, unsigned i) /* 0-based */
{
  return deref(IsList(t) ? TagToLST(t)[i] : TagToSTR(t)[1 + i]);
}
bool is(TAGGED t, const char *name, unsigned arity)
{
  return is_callable(t) && arity_of(t) == arity && name_of(t) == init_atom_check(name, 0);
}

/* Words a term needs when it is built on the heap. */
unsigned heap_words(TAGGED t)
{
  unsigned n = 0;
  std::vector<TAGGED> stack{t};
  while (!stack.empty()) {
    TAGGED c = deref(stack.back());
    stack.pop_back();
    if (IsVar(c)) {
      n += 1;
    } else if (is_large(c)) {
      n += BoxWords(TagToSTR(c)[0]) + 1;
    } else if (IsComplex(c)) {
      unsigned a = arity_of(c);
      n += IsList(c) ? 2 : a + 1;
      for (unsigned i = 0; i < a; i++)
        stack.push_back(arg_of(c, i));
    }
  }
  return n;
}

/* ---- State shared by the units of one clause ---- */

struct block_def {
  std::vector<TAGGED> alternatives; /* bodies */
  std::vector<TAGGED> cut_vars;     /* per alternative: what its ! cuts to (0: none may occur) */
  mod_def *module;                  /* context of the goals inside */
  TAGGED call_term = 0;             /* '$block'(Args...) as the block is called */
  cb_label head;
};

struct clause_state {
  worker *w;
  code_builder b;
  std::vector<block_def> blocks;
  std::set<const TAGGED *> choice_marks, cut_marks; /* '$choice'(V), '$cut'(V) made here */
  bool cuts_clause = false;
  bool force_perm = false;

  TAGGED *heap(unsigned words)
  {
    TAGGED *h = w->global_top;
    if (w->heap_warn - h < static_cast<std::ptrdiff_t>(words))
      throw compile_error{"clause too large to compile"};
    w->global_top += words;
    return h;
  }
  TAGGED var()
  {
    TAGGED *h = heap(1);
    *h = PointerToTerm(h);
    return *h;
  }
  TAGGED structure(const char *name, const std::vector<TAGGED> &args)
  {
    if (args.empty())
      return init_atom_check(name, 0);
    TAGGED *h = heap(1 + static_cast<unsigned>(args.size()));
    h[0] = MakeFunctor(init_atom_check(name, 0), static_cast<unsigned>(args.size()));
    for (size_t i = 0; i < args.size(); i++)
      h[1 + i] = args[i];
    return MakeSTR(h);
  }
  TAGGED conj(TAGGED a, TAGGED b) { return structure(",", {a, b}); }
  TAGGED choice_mark(TAGGED v)
  {
    TAGGED t = structure("$choice", {v});
    choice_marks.insert(TagToSTR(t));
    return t;
  }
  TAGGED cut_mark(TAGGED v)
  {
    TAGGED t = structure("$cut", {v});
    cut_marks.insert(TagToSTR(t));
    return t;
  }
  bool is_mark(const std::set<const TAGGED *> &marks, TAGGED t) const
  {
    return IsStructure(t) && marks.count(TagToSTR(t)) != 0;
  }
};

/* Does body contain a ! that cuts the clause it is in (through ',', ';',
   '->' then- and else-parts and M:G, but not into conditions, \+ or
   call/N)? */
bool has_transparent_cut(TAGGED body)
{
  std::vector<TAGGED> stack{body};
  while (!stack.empty()) {
    TAGGED g = deref(stack.back());
    stack.pop_back();
    if (g == MakeAtom(atom_bang_enum))
      return true;
    if (is(g, ",", 2) || is(g, ";", 2) || is(g, "|", 2)) {
      stack.push_back(arg_of(g, 0));
      stack.push_back(arg_of(g, 1));
    } else if (is(g, "->", 2) || is(g, "*->", 2)) {
      stack.push_back(arg_of(g, 1));
    } else if (is(g, "if", 3)) {
      stack.push_back(arg_of(g, 1));
      stack.push_back(arg_of(g, 2));
    } else if (is(g, ":", 2)) {
      stack.push_back(arg_of(g, 1));
    }
  }
  return false;
}

void collect_vars(TAGGED t, std::vector<TAGGED> *out, std::set<TAGGED> *seen)
{
  std::vector<TAGGED> stack{t};
  while (!stack.empty()) {
    TAGGED c = deref(stack.back());
    stack.pop_back();
    if (IsVar(c)) {
      if (seen->insert(c).second)
        out->push_back(c);
    } else if (is_compound(c)) {
      for (unsigned i = arity_of(c); i-- > 0;)
        stack.push_back(arg_of(c, i));
    }
  }
}

/* ---- One unit: the clause or one alternative of a block ---- */

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

enum goal_kind { G_CALL, G_FAIL, G_NECK_CUT, G_CHOICE, G_CUT_TO, G_INLINE };

/* Goals compiled to instructions in line, as the runtime library's own
   single-instruction definitions of these predicates are. */
enum inline_kind { IN_TEST, IN_BUILTIN, IN_TERM_COMPARE, IN_IS, IN_ARITH_COMPARE };

struct inline_def {
  const char *name;
  unsigned arity;
  inline_kind kind;
  int insn;
};

const inline_def inline_table[] = {
    {"atom", 1, IN_TEST, ATOM},         {"atomic", 1, IN_TEST, ATOMIC},
    {"float", 1, IN_TEST, FLOAT},       {"integer", 1, IN_TEST, INTEGER},
    {"number", 1, IN_TEST, NUMBER},     {"var", 1, IN_TEST, VAR},
    {"nonvar", 1, IN_TEST, NONVAR},     {"simple", 1, IN_TEST, SIMPLE},
    {"compound", 1, IN_TEST, COMPOUND}, {"callable", 1, IN_TEST, CALLABLE},
    {"ground", 1, IN_TEST, GROUND},     {"mutable", 1, IN_TEST, MUTABLE},
    {"db_reference", 1, IN_TEST, DB_REFERENCE},
    {"arg", 3, IN_BUILTIN, ARG},        {"functor", 3, IN_BUILTIN, FUNCTOR},
    {"=..", 2, IN_BUILTIN, UNIV},       {"compare", 3, IN_BUILTIN, COMPARE},
    {"length", 2, IN_BUILTIN, LENGTH},  {"append", 3, IN_BUILTIN, APPEND},
    {"create_mutable", 2, IN_BUILTIN, CREATE_MUTABLE},
    {"get_mutable", 2, IN_BUILTIN, GET_MUTABLE},
    {"update_mutable", 2, IN_BUILTIN, UPDATE_MUTABLE},
    {"==", 2, IN_TERM_COMPARE, EQUAL_TO_IMM},     {"\\==", 2, IN_TERM_COMPARE, NOT_EQUAL_TO_IMM},
    {"@<", 2, IN_TERM_COMPARE, LESS_THAN_IMM},    {"@>", 2, IN_TERM_COMPARE, GREATER_THAN_IMM},
    {"@=<", 2, IN_TERM_COMPARE, NOT_GREATER_THAN_IMM}, {"@>=", 2, IN_TERM_COMPARE, NOT_LESS_THAN_IMM},
    {"is", 2, IN_IS, 0},
    {"=:=", 2, IN_ARITH_COMPARE, EQUAL_TO},       {"=\\=", 2, IN_ARITH_COMPARE, NOT_EQUAL_TO},
    {"<", 2, IN_ARITH_COMPARE, LESS_THAN},        {">", 2, IN_ARITH_COMPARE, GREATER_THAN},
    {"=<", 2, IN_ARITH_COMPARE, NOT_GREATER_THAN}, {">=", 2, IN_ARITH_COMPARE, NOT_LESS_THAN},
};

const inline_def *find_inline(TAGGED g)
{
  if (!is_callable(g))
    return nullptr;
  for (const inline_def &d : inline_table)
    if (d.arity == arity_of(g) && name_of(g) == init_atom_check(d.name, 0))
      return &d;
  return nullptr;
}

const evaluable_def *find_evaluable(TAGGED e)
{
  return is_compound(e) ? evaluable_by_name(name_of(e), arity_of(e)) : nullptr;
}

/* A 32-bit integer the arithmetic instructions take as an immediate. */
bool int32_value(TAGGED t, std::int32_t *v)
{
  if (IsSmall(t)) {
    *v = static_cast<std::int32_t>(GetSmall(t));
    return true;
  }
  if (is_large(t) && TagToSTR(t)[0] == BOX_INT1) {
    *v = static_cast<std::int32_t>(TagToSTR(t)[1]);
    return true;
  }
  return false;
}

/* An operand loaded by a single instruction: a variable or a number. */
bool arith_leaf(TAGGED e) { return IsVar(e) || IsSmall(e) || is_large(e) || find_evaluable(e) == nullptr; }

struct goal {
  goal_kind kind;
  TAGGED term;              /* call: the goal; choice, cut: the variable */
  int chunk;
  definition *def = nullptr; /* call of a predicate */
  int block = -1;           /* call of an embedded block */
  const inline_def *in = nullptr; /* G_INLINE */
};

class unit_compiler {
public:
  /* main: the clause itself (head is the clause head); otherwise an
     alternative of a block (head is the block's call term) whose ! cuts to
     cut_var. */
  unit_compiler(clause_state &s, mod_def *m, bool main, TAGGED cut_var, bool force_perm)
      : s_(s), b_(s.b), module_(m), main_(main), cut_var_(cut_var), force_perm_(force_perm)
  {
  }

  void compile(TAGGED head, TAGGED body)
  {
    head_ = head;
    flatten(body);
    if (main_ && clause_cut_ != 0)
      goals_.insert(goals_.begin(), goal{G_CHOICE, clause_cut_, 0});
    make_block_calls();
    classify();

    unsigned harity = arity_of(head);
    floor_ = static_cast<int>(harity);
    for (const goal &g : goals_)
      if (g.kind == G_CALL)
        floor_ = std::max(floor_, static_cast<int>(arity_of(g.term)));
    next_x_ = floor_;
    first_insn_ = main_;

    compile_head(harity);
    compile_body();
  }

  unsigned ix() const { return ix_; }
  TAGGED key() const { return key_; }

private:
  clause_state &s_;
  code_builder &b_;
  mod_def *module_;
  bool main_;
  TAGGED cut_var_;        /* alternative: what ! cuts to */
  TAGGED clause_cut_ = 0; /* main: the variable holding the clause's cut value */
  TAGGED head_ = 0;
  std::vector<goal> goals_;
  std::map<TAGGED, var_info> vars_;
  std::vector<unsigned> chunk_words_;
  int chunk_ = 0;
  bool allocated_ = false, linked_ = false;
  int nyvars_ = 0;
  std::vector<int> y_last_; /* last chunk of each Y */
  int floor_ = 0, next_x_ = 0;
  std::vector<int> free_x_;
  bool force_perm_ = false;
  unsigned ix_ = IX_CASES;
  TAGGED key_ = 0;
  bool first_insn_ = true;
  /* The registers that the operands of the arithmetic goal being compiled
     were put in before its first sequence (arith_place). */
  std::map<TAGGED, int> arith_placed_;

  /* ---- Pass 1: flattening ---- */

  TAGGED cut_target()
  {
    s_.cuts_clause = s_.cuts_clause || main_;
    if (!main_)
      return cut_var_;
    if (clause_cut_ == 0)
      clause_cut_ = s_.var();
    return clause_cut_;
  }

  void add_call(TAGGED g, mod_def *m)
  {
    definition *d = insert_definition(m, name_of(g), static_cast<int>(arity_of(g)), 1);
    if (d == nullptr)
      throw compile_error{"cannot call " + term_to_text(g)};
    if ((d->proc.properties & PROP_META) != 0 && d->metainfo != nullptr)
      g = qualify_meta_args(g, d->metainfo, m);
    goals_.push_back({G_CALL, g, chunk_, d});
    chunk_++;
  }
  /* The goal with its meta arguments (positions in mask, ascending, 0
     ended) qualified by the module they are written in, so that the
     called predicate runs them there. */
  TAGGED qualify_meta_args(TAGGED g, const unsigned char *mask, mod_def *m)
  {
    const unsigned n = arity_of(g);
    std::vector<TAGGED> args;
    for (unsigned i = 0; i < n; i++)
      args.push_back(arg_of(g, i));
    bool changed = false;
    for (const unsigned char *p = mask; *p != 0; p++) {
      unsigned i = *p - 1u;
      if (i >= n || is(args[i], ":", 2))
        continue;
      args[i] = s_.structure(":", {m->name, args[i]});
      changed = true;
    }
    if (!changed)
      return g;
    TAGGED *h = s_.heap(1 + n);
    h[0] = MakeFunctor(name_of(g), n);
    std::copy(args.begin(), args.end(), h + 1);
    return MakeSTR(h);
  }

  /* call(G) through the meta-call predicate; G is qualified when the
     context is not the clause's own module. */
  void add_meta_call(TAGGED g, mod_def *m)
  {
    if (m != module_)
      g = s_.structure(":", {m->name, g});
    add_call(s_.structure("call", {g}), m);
  }

  void add_block(std::vector<TAGGED> alternatives, std::vector<TAGGED> cut_vars, mod_def *m)
  {
    block_def bd;
    bd.alternatives = std::move(alternatives);
    bd.cut_vars = std::move(cut_vars);
    bd.module = m;
    bd.head = b_.new_label();
    s_.blocks.push_back(bd);
    goals_.push_back({G_CALL, 0, chunk_, nullptr, static_cast<int>(s_.blocks.size() - 1)});
    chunk_++;
  }

  /* A goal whose own ! must stay local: wrapped as call/1 when it has one. */
  TAGGED opaque(TAGGED g) { return has_transparent_cut(g) ? s_.structure("call", {g}) : g; }

  /* (C -> T) as the first alternative of a block: choice K, C, cut to K, T. */
  TAGGED if_then(TAGGED c, TAGGED t)
  {
    TAGGED k = s_.var();
    return s_.conj(s_.choice_mark(k), s_.conj(opaque(c), s_.conj(s_.cut_mark(k), t)));
  }

  /* The cut target of an alternative, when ! may occur in it. */
  TAGGED alt_cut(TAGGED alt) { return has_transparent_cut(alt) ? cut_target() : 0; }

  /* e (an arithmetic goal or expression) with every X div Y in its
     evaluable part replaced by (X - X mod Y) // Y.  div floors and the
     instruction set's one integer quotient truncates; X - X mod Y (mod
     taking the divisor's sign) is an exact multiple of Y, so truncating
     it is the floored quotient, for every size of integer, and a zero
     divisor or a float is refused by mod as by div.  e itself when it
     holds no div. */
  TAGGED floored_divisions(TAGGED e)
  {
    if (native_stack_low())
      throw compile_error{"clause nested too deeply"};
    if (!is_compound(e))
      return e;
    const unsigned n = arity_of(e);
    std::vector<TAGGED> args(n);
    bool changed = false;
    for (unsigned i = 0; i < n; i++) {
      args[i] = arg_of(e, i);
      if (find_evaluable(args[i]) != nullptr) {
        const TAGGED a = floored_divisions(args[i]);
        changed = changed || a != args[i];
        args[i] = a;
      }
    }
    if (n == 2 && name_of(e) == init_atom_check("div", 0))
      return s_.structure("//", {s_.structure("-", {args[0], s_.structure("mod", {args[0], args[1]})}), args[1]});
    if (!changed)
      return e;
    TAGGED *h = s_.heap(1 + n);
    h[0] = MakeFunctor(name_of(e), n);
    std::copy(args.begin(), args.end(), h + 1);
    return MakeSTR(h);
  }

  /* A goal of the inline table, unless module m defines that predicate
     itself. */
  const inline_def *inlinable(TAGGED g, mod_def *m)
  {
    const inline_def *in = find_inline(g);
    if (in == nullptr)
      return nullptr;
    definition *d = insert_definition(m, name_of(g), static_cast<int>(in->arity), 0);
    if (d != nullptr && d->defined_in != eglobal->prolog_module && predtyp(d) != ENTER_UNDEFINED)
      return nullptr;
    return in;
  }

  void flatten(TAGGED body)
  {
    std::vector<std::pair<TAGGED, mod_def *>> stack{{body, module_}};
    while (!stack.empty()) {
      auto [g, m] = stack.back();
      g = deref(g);
      stack.pop_back();
      if (IsVar(g)) {
        add_meta_call(g, m);
      } else if (is(g, ",", 2)) {
        stack.push_back({arg_of(g, 1), m});
        stack.push_back({arg_of(g, 0), m});
      } else if (g == MakeAtom(atom_true_enum)) {
      } else if (g == MakeAtom(atom_fail_enum) || g == init_atom_check("false", 0)) {
        goals_.push_back({G_FAIL, g, chunk_});
      } else if (g == MakeAtom(atom_bang_enum)) {
        if (main_ && chunk_ == 0) {
          s_.cuts_clause = true;
          goals_.push_back({G_NECK_CUT, g, chunk_});
        } else {
          goals_.push_back({G_CUT_TO, cut_target(), chunk_});
        }
      } else if (s_.is_mark(s_.choice_marks, g)) {
        goals_.push_back({G_CHOICE, arg_of(g, 0), chunk_});
      } else if (s_.is_mark(s_.cut_marks, g)) {
        goals_.push_back({G_CUT_TO, arg_of(g, 0), chunk_});
      } else if (is(g, ":", 2)) {
        TAGGED mname = arg_of(g, 0);
        if (IsAtom(mname))
          stack.push_back({arg_of(g, 1), find_module(mname, 1)});
        else
          add_meta_call(g, m);
      } else if (is(g, ";", 2) || is(g, "|", 2)) {
        TAGGED left = arg_of(g, 0);
        if (is(left, "->", 2)) {
          TAGGED first = if_then(arg_of(left, 0), arg_of(left, 1));
          TAGGED second = arg_of(g, 1);
          add_block({first, second}, {alt_cut(arg_of(left, 1)), alt_cut(second)}, m);
        } else if (is(left, "*->", 2)) {
          /* Soft cut: once the condition has succeeded, the block's own
             choicepoint (the one just above K) is made dead, and the
             condition's choicepoints stay. */
          TAGGED k = s_.var();
          TAGGED then = arg_of(left, 1);
          TAGGED soft = s_.structure(":", {MakeAtom(atom_prolog_enum), s_.structure("$soft_cut", {k})});
          TAGGED first = s_.conj(s_.choice_mark(k), s_.conj(opaque(arg_of(left, 0)), s_.conj(soft, then)));
          TAGGED second = arg_of(g, 1);
          add_block({first, second}, {alt_cut(then), alt_cut(second)}, m);
        } else {
          /* A plain disjunction: a;b;c is one block of three. */
          std::vector<TAGGED> alts{left};
          TAGGED rest = arg_of(g, 1);
          while ((is(rest, ";", 2) || is(rest, "|", 2)) && !is(arg_of(rest, 0), "->", 2) &&
                 !is(arg_of(rest, 0), "*->", 2)) {
            alts.push_back(arg_of(rest, 0));
            rest = arg_of(rest, 1);
          }
          alts.push_back(rest);
          std::vector<TAGGED> cuts;
          for (TAGGED a : alts)
            cuts.push_back(alt_cut(a));
          add_block(alts, cuts, m);
        }
      } else if (is(g, "->", 2)) {
        add_block({if_then(arg_of(g, 0), arg_of(g, 1))}, {alt_cut(arg_of(g, 1))}, m);
      } else if (is(g, "*->", 2)) {
        stack.push_back({arg_of(g, 1), m});
        stack.push_back({opaque(arg_of(g, 0)), m});
      } else if (is(g, "if", 3)) {
        stack.push_back({s_.structure(";", {s_.structure("*->", {arg_of(g, 0), arg_of(g, 1)}), arg_of(g, 2)}), m});
      } else if (is(g, "^", 2)) {
        /* V^G calls G: its ! is local, as in call/1. */
        stack.push_back({s_.structure("call", {arg_of(g, 1)}), m});
      } else if (is(g, "\\+", 1)) {
        TAGGED k = s_.var();
        TAGGED first = s_.conj(s_.choice_mark(k),
                               s_.conj(opaque(arg_of(g, 0)), s_.conj(s_.cut_mark(k), MakeAtom(atom_fail_enum))));
        add_block({first, MakeAtom(atom_true_enum)}, {0, 0}, m);
      } else if (module_ == eglobal->prolog_module && (is(g, "$choice", 1) || is(g, "$cut", 1))) {
        /* The runtime library's own cut primitives. */
        if (is(g, "$choice", 1)) {
          if (!IsVar(arg_of(g, 0)) || chunk_ > 0)
            throw compile_error{"$choice/1 needs a new variable before the first call"};
          goals_.push_back({G_CHOICE, arg_of(g, 0), chunk_});
        } else {
          goals_.push_back({G_CUT_TO, arg_of(g, 0), chunk_});
        }
      } else if (const inline_def *in = inlinable(g, m)) {
        if (in->kind == IN_IS || in->kind == IN_ARITH_COMPARE)
          g = floored_divisions(g);
        goal ig{G_INLINE, g, chunk_};
        ig.in = in;
        goals_.push_back(ig);
      } else if (is_callable(g) && name_of(g) == MakeAtom(atom_call_enum) && arity_of(g) >= 1) {
        call_n(g, m);
      } else if (is_callable(g)) {
        add_call(g, m);
      } else {
        throw compile_error{"goal is not callable: " + term_to_text(g)};
      }
    }
  }

  /* call(G, A1, ...): with G bound at compile time the goal is G with the
     extra arguments, run in a block of its own so that its ! is local. */
  void call_n(TAGGED g, mod_def *m)
  {
    TAGGED inner = arg_of(g, 0);
    unsigned extra = arity_of(g) - 1;
    mod_def *im = m;
    while (is(inner, ":", 2) && IsAtom(arg_of(inner, 0))) {
      im = find_module(arg_of(inner, 0), 1);
      inner = arg_of(inner, 1);
    }
    if (!is_callable(inner) || (extra > 0 && arity_of(inner) + extra > 255)) {
      add_call(g, m);
      return;
    }
    TAGGED goal = inner;
    if (extra > 0) {
      std::vector<TAGGED> args;
      for (unsigned i = 0; i < arity_of(inner); i++)
        args.push_back(arg_of(inner, i));
      for (unsigned i = 0; i < extra; i++)
        args.push_back(arg_of(g, 1 + i));
      TAGGED *h = s_.heap(1 + static_cast<unsigned>(args.size()));
      h[0] = MakeFunctor(name_of(inner), static_cast<unsigned>(args.size()));
      std::copy(args.begin(), args.end(), h + 1);
      goal = MakeSTR(h);
    }
    TAGGED k = s_.var();
    add_block({s_.conj(s_.choice_mark(k), goal)}, {k}, im);
  }

  /* The arguments of each block: its variables that the rest of the unit
     also uses. */
  void make_block_calls()
  {
    std::vector<std::set<TAGGED>> goal_vars(goals_.size());
    std::map<TAGGED, int> uses; /* in how many goals (the head counts as one) */
    auto count = [&](TAGGED t, std::set<TAGGED> *into) {
      std::vector<TAGGED> order;
      collect_vars(t, &order, into);
    };
    std::set<TAGGED> head_vars;
    count(head_, &head_vars);
    for (TAGGED v : head_vars)
      uses[v]++;
    for (size_t i = 0; i < goals_.size(); i++) {
      const goal &g = goals_[i];
      if (g.block >= 0) {
        for (TAGGED alt : s_.blocks[g.block].alternatives)
          count(alt, &goal_vars[i]);
        for (TAGGED k : s_.blocks[g.block].cut_vars)
          if (k != 0)
            count(k, &goal_vars[i]);
      } else if (g.kind != G_FAIL && g.kind != G_NECK_CUT) {
        count(g.term, &goal_vars[i]);
      }
      for (TAGGED v : goal_vars[i])
        uses[v]++;
    }
    for (size_t i = 0; i < goals_.size(); i++) {
      goal &g = goals_[i];
      if (g.block < 0)
        continue;
      std::vector<TAGGED> order;
      std::set<TAGGED> seen;
      for (TAGGED alt : s_.blocks[g.block].alternatives)
        collect_vars(alt, &order, &seen);
      for (TAGGED k : s_.blocks[g.block].cut_vars)
        if (k != 0)
          collect_vars(k, &order, &seen);
      std::vector<TAGGED> args;
      for (TAGGED v : order)
        if (uses[v] > 1)
          args.push_back(v);
      if (args.size() > 255)
        throw compile_error{"a control construct shares more than 255 variables with its clause"};
      g.term = s_.structure("$block", args);
      s_.blocks[g.block].call_term = g.term;
    }
  }

  void count_vars(TAGGED t, int chunk)
  {
    std::vector<TAGGED> stack{t};
    while (!stack.empty()) {
      TAGGED c = deref(stack.back());
      stack.pop_back();
      if (IsVar(c)) {
        var_info &v = vars_[c];
        v.occurrences++;
        if (v.first_chunk < 0)
          v.first_chunk = chunk;
        v.last_chunk = chunk;
      } else if (is_compound(c)) {
        for (unsigned i = arity_of(c); i-- > 0;)
          stack.push_back(arg_of(c, i));
      }
    }
  }

  void classify()
  {
    count_vars(head_, 0);
    int nchunks = 1;
    for (const goal &g : goals_) {
      nchunks = std::max(nchunks, g.chunk + 2);
      if (g.kind == G_CALL || g.kind == G_CHOICE || g.kind == G_CUT_TO || g.kind == G_INLINE)
        count_vars(g.term, g.chunk);
    }
    std::vector<std::pair<int, TAGGED>> perms; /* (last chunk, var) */
    for (auto &[k, v] : vars_)
      if (v.first_chunk != v.last_chunk || (force_perm_ && v.occurrences > 1)) {
        v.perm = true;
        perms.push_back({v.last_chunk, k});
      }
    std::stable_sort(perms.begin(), perms.end(), [](auto &a, auto &b) { return a.first > b.first; });
    for (auto &[last, k] : perms) {
      vars_[k].y = nyvars_++;
      y_last_.push_back(last);
    }
    /* Heap words each stretch may write. */
    chunk_words_.assign(static_cast<size_t>(nchunks), 0);
    chunk_words_[0] = heap_words(head_);
    for (const goal &g : goals_)
      if (g.kind == G_CALL || g.kind == G_INLINE)
        chunk_words_[static_cast<size_t>(g.chunk)] += heap_words(g.term);
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
    if (!free_x_.empty()) {
      int r = free_x_.back();
      free_x_.pop_back();
      return r;
    }
    if (next_x_ > MAX_X)
      throw too_many_registers{};
    return next_x_++;
  }
  /* A scratch register whose value has been used up. */
  void release_x(int r)
  {
    if (r >= floor_)
      free_x_.push_back(r);
  }
  void new_chunk()
  {
    next_x_ = floor_;
    free_x_.clear();
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

  bool needs_heap_check(int chunk) const { return chunk_words_[static_cast<size_t>(chunk)] > HEAP_CHECK_THRESHOLD; }
  void heap_check(int chunk) { b_.emit(CHECK_HEAP, {cb::l(static_cast<std::int32_t>(chunk_words_[static_cast<size_t>(chunk)]))}); }

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

  /* Emits the UNIFY_ steps of t's arguments.  A compound last argument is
     continued in place; other compound arguments, and large numbers that
     are not the very last step (no step may follow UNIFY_LARGE), go
     through registers: in the head they are queued for a GET_ of their
     own, in the body they were built beforehand (given in built).  A head
     spine that has queued SPINE_REGISTERS values queues its rest too. */
  void unify_args(TAGGED t, std::vector<pending> *queue, const std::map<TAGGED, int> *built)
  {
    size_t queued = 0;
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
        const bool last = i == n - 1;
        if (IsVar(a)) {
          var_info &v = vars_[a];
          if (!v.seen && v.occurrences == 1) { voids++; continue; }
          flush_voids();
          unify_var(v);
        } else if (built != nullptr && built->count(a) != 0) {
          flush_voids();
          b_.emit(UNIFY_X_VALUE, {cb::x(static_cast<unsigned>(built->at(a)))});
        } else if (is_compound(a) && last && (queue == nullptr || queued < SPINE_REGISTERS)) {
          flush_voids();
          if (IsList(a)) b_.emit(UNIFY_LIST);
          else b_.emit(UNIFY_STRUCTURE, {cb::f(functor_of(a))});
          next = a;
        } else if (is_compound(a) || (is_large(a) && !last)) {
          flush_voids();
          int r = fresh_x();
          b_.emit(UNIFY_X_VARIABLE, {cb::x(r)});
          queue->push_back({r, a});
          queued++;
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
    if (!needs_heap_check(0)) {
      compile_head_args(0, arity, {});
      return;
    }
    /* Indexing looks through CHECK_HEAP to a structure or list test on X0,
       but not to a constant one, which writes nothing and so goes first. */
    unsigned from = 0;
    TAGGED a0 = arity > 0 ? arg_of(head_, 0) : 0;
    const bool keyed = main_ && arity > 0 && !IsVar(a0);
    if (keyed && !is_compound(a0)) {
      emit_get_constant(0, a0);
      from = 1;
    }
    heap_check(0);
    first_insn_ = false;
    std::vector<pending> queue;
    if (keyed && is_compound(a0)) {
      get_compound(0, a0, &queue, true);
      from = 1;
    }
    compile_head_args(from, arity, queue);
  }

  void compile_head_args(unsigned from, unsigned arity, std::vector<pending> queue)
  {
    for (unsigned i = from; i < arity; i++) {
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
      } else if (is_compound(a)) {
        get_compound(reg, a, &queue, false);
      } else {
        emit_get_constant(reg, a);
      }
    }
    for (size_t k = 0; k < queue.size(); k++) {
      pending p = queue[k];
      if (is_large(p.term)) {
        b_.emit(GET_LARGE, {cb::x(p.reg), cb::large_term(p.term)});
        first_insn_ = false;
      } else {
        get_compound(p.reg, p.term, &queue, false);
      }
      release_x(p.reg);
    }
  }

  /* keyed: the general form on X0 that still sets the clause's key (after
     a leading CHECK_HEAP). */
  void get_compound(int reg, TAGGED t, std::vector<pending> *queue, bool keyed)
  {
    bool x0 = first_insn_ && reg == 0;
    first_insn_ = false;
    if (IsList(t)) {
      if (x0) b_.emit(GET_LIST_X0);
      else b_.emit(GET_LIST, {cb::x(reg)});
      if (x0 || keyed) set_key(0x09, functor_list);
    } else {
      TAGGED f = functor_of(t);
      if (x0) b_.emit(GET_STRUCTURE_X0, {cb::f(f)});
      else b_.emit(GET_STRUCTURE, {cb::x(reg), cb::f(f)});
      if (x0 || keyed) set_key(0x17, f);
    }
    unify_args(t, queue, nullptr);
  }

  /* ---- Body ---- */

  void compile_body()
  {
    first_insn_ = false;
    int chunk = 0;
    for (size_t i = 0; i < goals_.size(); i++) {
      const goal &g = goals_[i];
      if (g.chunk != chunk) {
        chunk = g.chunk;
        new_chunk();
        if (needs_heap_check(chunk))
          heap_check(chunk);
      }
      switch (g.kind) {
      case G_FAIL:
        b_.emit(FAIL);
        return;
      case G_NECK_CUT:
        b_.emit(CUTB);
        break;
      case G_CHOICE: {
        var_info &v = vars_[g.term];
        if (v.seen)
          throw compile_error{"internal: a cut value is saved twice"};
        v.seen = true;
        if (v.perm) {
          b_.emit(alloc_form(CHOICE_Y, CHOICE_YF), {cb::y(v.y)});
        } else {
          v.xloc = fresh_x();
          b_.emit(CHOICE_X, {cb::x(v.xloc)});
        }
        break;
      }
      case G_CUT_TO: {
        var_info &v = vars_[deref(g.term)];
        if (!v.seen)
          throw compile_error{"internal: a cut before its cut value is saved"};
        if (v.perm) b_.emit(CUT_Y, {cb::y(v.y)});
        else b_.emit(CUTB_X, {cb::x(v.xloc)});
        break;
      }
      case G_INLINE:
        compile_inline(g);
        break;
      case G_CALL: {
        bool last = i + 1 == goals_.size();
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
    std::vector<TAGGED> stack{t};
    while (!stack.empty()) {
      TAGGED c = deref(stack.back());
      stack.pop_back();
      if (c == var)
        return true;
      if (is_compound(c))
        for (unsigned i = 0; i < arity_of(c); i++)
          stack.push_back(arg_of(c, i));
    }
    return false;
  }

  /* ---- Inline goals ---- */

  /* A register holding term t for an inline instruction: a temporary's own
     register, or a scratch register loaded with t (*scratch set). */
  int operand_reg(TAGGED t, int chunk, bool *scratch)
  {
    *scratch = false;
    if (IsVar(t)) {
      var_info &v = vars_[t];
      if (!v.perm && v.seen)
        return v.xloc;
      int r = fresh_x();
      put_arg(r, t, chunk);
      /* A first occurrence now lives in r. */
      return r;
    }
    int r = fresh_x();
    put_arg(r, t, chunk);
    *scratch = true;
    return r;
  }

  void compile_inline(const goal &g)
  {
    const inline_def *in = g.in;
    const unsigned n = arity_of(g.term);
    switch (in->kind) {
    case IN_TEST:
    case IN_BUILTIN:
    case IN_TERM_COMPARE: {
      std::vector<int> regs;
      std::vector<int> scratch;
      for (unsigned i = 0; i < n; i++) {
        bool sc;
        regs.push_back(operand_reg(arg_of(g.term, i), g.chunk, &sc));
        if (sc)
          scratch.push_back(regs.back());
      }
      if (in->kind == IN_TEST) {
        b_.emit(in->insn, {cb::x(regs[0]), cb::else_to(failcode)});
      } else if (in->kind == IN_TERM_COMPARE) {
        b_.emit(COMPAREOP, {cb::x(regs[0]), cb::x(regs[1])});
        b_.emit(in->insn, {cb::l(0), cb::else_to(failcode)});
      } else if (n == 2) {
        b_.emit(in->insn, {cb::x(regs[0]), cb::x(regs[1])});
      } else {
        b_.emit(in->insn, {cb::x(regs[0]), cb::x(regs[1]), cb::x(regs[2])});
      }
      for (int r : scratch)
        release_x(r);
      break;
    }
    case IN_IS: {
      TAGGED target = arg_of(g.term, 0), expr = arg_of(g.term, 1);
      std::vector<int> scratch;
      arith_placed_.clear();
      /* A target that is neither a variable nor a number never matches;
         it is built first, so that the goal fails after evaluating. */
      std::int32_t v;
      int target_reg = -1;
      if (!IsVar(target) && !int32_value(target, &v) && !is_large(target)) {
        bool sc;
        target_reg = operand_reg(target, g.chunk, &sc);
        scratch.push_back(target_reg);
      }
      arith_place(expr, g.chunk, &scratch);
      arith_sequence(expr);
      arith_store(target, target_reg);
      for (int r : scratch)
        release_x(r);
      break;
    }
    case IN_ARITH_COMPARE: {
      TAGGED left = arg_of(g.term, 0), right = arg_of(g.term, 1);
      std::vector<int> scratch;
      arith_placed_.clear();
      arith_place(left, g.chunk, &scratch);
      arith_place(right, g.chunk, &scratch);
      arith_pair(left, right);
      b_.emit(in->insn, {cb::else_to(failcode)});
      for (int r : scratch)
        release_x(r);
      break;
    }
    }
  }

  /* Puts every operand of e that no arithmetic instruction loads by itself
     (an atom, a list, a compound term that is not evaluable, a variable
     that has no home yet) into a register, before the first instruction of
     the goal's sequences.  Nothing may come between the first instruction
     of a sequence and the one that ends it: the sequence's state lives in
     the dispatch mode and in long0/long1, which a put instruction knows
     nothing of.  Registers that only hold such an operand for this goal go
     to *scratch. */
  void arith_place(TAGGED e, int chunk, std::vector<int> *scratch)
  {
    if (native_stack_low())
      throw compile_error{"clause nested too deeply"};
    if (const evaluable_def *d = find_evaluable(e)) {
      for (unsigned i = 0; i < d->arity; i++)
        arith_place(arg_of(e, i), chunk, scratch);
      return;
    }
    std::int32_t v;
    if (int32_value(e, &v) || is_large(e) || arith_placed_.count(e) != 0)
      return;
    if (IsVar(e)) {
      const var_info &vi = vars_[e];
      if (vi.seen && (vi.perm || vi.xloc >= 0))
        return;
    }
    bool sc;
    const int r = operand_reg(e, chunk, &sc);
    /* A variable's register is its home only when it is a temporary one
       seen again later. */
    if (sc || (IsVar(e) && vars_[e].xloc != r))
      scratch->push_back(r);
    arith_placed_[e] = r;
  }

  /* Loads a leaf operand: first = the first instruction of a sequence
     (into long0), else a LATER_ one (into long1).  Emits exactly one
     instruction: arith_place has put everything else in registers. */
  void arith_load(TAGGED e, bool first)
  {
    std::int32_t v;
    auto placed = arith_placed_.find(e);
    if (int32_value(e, &v)) {
      b_.emit(first ? FIRST_CONSTANT : LATER_CONSTANT, {cb::l(v)});
    } else if (is_large(e)) {
      b_.emit(first ? FIRST_LARGE : LATER_LARGE, {cb::large_term(e)});
    } else if (first && e == MakeAtom(atom_inf_enum)) {
      b_.emit(ANOP_INF);
    } else if (first && e == MakeAtom(atom_nan_enum)) {
      b_.emit(ANOP_NAN);
    } else if (placed != arith_placed_.end()) {
      b_.emit(first ? FIRST_X_VALUE : LATER_X_VALUE, {cb::x(placed->second)});
    } else if (IsVar(e) && vars_[e].perm && vars_[e].seen) {
      b_.emit(first ? FIRST_Y_VALUE : LATER_Y_VALUE, {cb::y(vars_[e].y)});
    } else if (IsVar(e) && vars_[e].seen && vars_[e].xloc >= 0) {
      b_.emit(first ? FIRST_X_VALUE : LATER_X_VALUE, {cb::x(vars_[e].xloc)});
    } else {
      throw compile_error{"internal error: arithmetic operand not placed"};
    }
  }

  /* Computes every right operand that is neither a leaf nor reachable by
     swapping into a register of its own (a complete sequence each), so
     that e itself then runs as one sequence. */
  void arith_prepare(TAGGED e, std::map<TAGGED, int> *temps, std::vector<int> *scratch)
  {
    if (native_stack_low())
      throw compile_error{"clause nested too deeply"};
    const evaluable_def *d = find_evaluable(e);
    if (d == nullptr)
      return;
    if (d->arity == 1) {
      arith_prepare(arg_of(e, 0), temps, scratch);
      return;
    }
    TAGGED a = arg_of(e, 0), b = arg_of(e, 1);
    if (arith_leaf(b)) {
      arith_prepare(a, temps, scratch);
    } else if (arith_leaf(a)) {
      arith_prepare(b, temps, scratch);
    } else {
      arith_prepare(b, temps, scratch);
      arith_run(b, *temps);
      int r = fresh_x();
      b_.emit(STORE_X_VARIABLE, {cb::x(r)});
      (*temps)[b] = r;
      scratch->push_back(r);
      arith_prepare(a, temps, scratch);
    }
  }

  /* Emits the sequence that leaves e in long0 (its prepared operands in
     temps). */
  void arith_run(TAGGED e, const std::map<TAGGED, int> &temps)
  {
    if (native_stack_low())
      throw compile_error{"clause nested too deeply"};
    const evaluable_def *d = find_evaluable(e);
    if (d == nullptr) {
      arith_load(e, true);
      return;
    }
    if (d->arity == 1) {
      arith_run(arg_of(e, 0), temps);
      if (d->insn != 0)
        b_.emit(d->insn);
      return;
    }
    TAGGED a = arg_of(e, 0), b = arg_of(e, 1);
    if (arith_leaf(b)) {
      arith_run(a, temps);
      arith_load(b, false);
    } else if (temps.count(b) != 0) {
      arith_run(a, temps);
      b_.emit(LATER_X_VALUE, {cb::x(temps.at(b))});
    } else {
      arith_run(b, temps);
      arith_load(a, false);
      b_.emit(BINOP_SWAP);
    }
    b_.emit(d->insn);
  }

  void arith_sequence(TAGGED e)
  {
    std::map<TAGGED, int> temps;
    std::vector<int> scratch;
    arith_prepare(e, &temps, &scratch);
    arith_run(e, temps);
    for (int r : scratch)
      release_x(r);
  }

  /* long0 := left, long1 := right, for a comparison. */
  void arith_pair(TAGGED left, TAGGED right)
  {
    std::map<TAGGED, int> temps;
    std::vector<int> scratch;
    if (arith_leaf(right)) {
      arith_prepare(left, &temps, &scratch);
      arith_run(left, temps);
      arith_load(right, false);
    } else {
      arith_prepare(right, &temps, &scratch);
      arith_run(right, temps);
      int r = fresh_x();
      b_.emit(STORE_X_VARIABLE, {cb::x(r)});
      scratch.push_back(r);
      std::map<TAGGED, int> left_temps;
      arith_prepare(left, &left_temps, &scratch);
      arith_run(left, left_temps);
      b_.emit(LATER_X_VALUE, {cb::x(r)});
    }
    for (int r : scratch)
      release_x(r);
  }

  /* Ends an `is` sequence by storing into or matching the target;
     target_reg holds a target that is neither a variable nor a number. */
  void arith_store(TAGGED target, int target_reg)
  {
    std::int32_t v;
    if (IsVar(target)) {
      var_info &t = vars_[target];
      if (t.perm) {
        if (!t.seen) {
          b_.emit(alloc_form(STORE_Y_VARIABLE, STORE_Y_FIRST_VARIABLE), {cb::y(t.y)});
          t.seen = true;
        } else {
          b_.emit(STORE_Y_VALUE, {cb::y(t.y)});
        }
      } else if (!t.seen) {
        t.seen = true;
        t.xloc = fresh_x();
        b_.emit(STORE_X_VARIABLE, {cb::x(t.xloc)});
      } else {
        b_.emit(STORE_X_VALUE, {cb::x(t.xloc)});
      }
    } else if (int32_value(target, &v)) {
      b_.emit(STORE_CONSTANT, {cb::l(v)});
    } else if (is_large(target)) {
      b_.emit(STORE_LARGE, {cb::large_term(target)});
    } else {
      /* Never a number: the store fails, after evaluating (errors first). */
      b_.emit(STORE_X_VALUE, {cb::x(target_reg)});
    }
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
    cb_operand target = g.block >= 0 ? cb::def(s_.blocks[static_cast<size_t>(g.block)].head) : cb::def(g.def);
    if (last) {
      if (linked_) b_.emit(LASTCALL, {cb::args(zs, z), target});
      else b_.emit(EXECUTE, {target});
      return;
    }
    unsigned e = live_after(g.chunk);
    if (linked_) b_.emit(CALL, {cb::args(zs, z), target, cb::env(e)});
    else if (pre_allocated) b_.emit(FIRSTCALL, {cb::args(zs, z), target, cb::env(e)});
    else b_.emit(INITCALL, {cb::args(zs, z), target, cb::env(e)});
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
    } else if (is_compound(a)) {
      build(j, a);
    } else if (a == atom_nil) {
      b_.emit(PUT_NIL, {cb::x(j)});
    } else if (is_large(a)) {
      b_.emit(PUT_LARGE, {cb::x(j), cb::large_term(a)});
    } else {
      b_.emit(PUT_CONSTANT, {cb::x(j), cb::t(a)});
    }
  }

  /* Builds compound t into register reg (a fresh register when reg is
     -1; returned), inner terms first: every compound argument that is not
     a last argument, and every large number that is not the very last
     step, goes to a register before the cells of t are written, and the
     register is free again afterwards.  A spine that would keep more than
     SPINE_REGISTERS such values has its rest built first, into one
     register; the target register is taken last, so that nesting costs no
     registers. */
  int build(int reg, TAGGED t)
  {
    if (native_stack_low())
      throw compile_error{"clause nested too deeply"};
    auto pending_in = [](TAGGED c) {
      size_t k = 0;
      for (unsigned i = 0; i + 1 < arity_of(c); i++) {
        TAGGED a = arg_of(c, i);
        k += (is_compound(a) || is_large(a)) ? 1 : 0;
      }
      return k;
    };
    std::vector<TAGGED> cells;
    TAGGED rest = 0;
    size_t values = 0;
    for (TAGGED c = t; is_compound(c); c = arg_of(c, arity_of(c) - 1)) {
      size_t k = pending_in(c);
      if (!cells.empty() && values + k > SPINE_REGISTERS) {
        rest = c;
        break;
      }
      cells.push_back(c);
      values += k;
    }
    std::map<TAGGED, int> built;
    if (rest != 0)
      built[rest] = build(-1, rest);
    for (TAGGED c : cells)
      for (unsigned i = 0; i + 1 < arity_of(c); i++) {
        TAGGED a = arg_of(c, i);
        if (built.count(a) != 0)
          continue;
        if (is_large(a)) {
          int r = fresh_x();
          b_.emit(PUT_LARGE, {cb::x(r), cb::large_term(a)});
          built[a] = r;
        } else if (is_compound(a)) {
          built[a] = build(-1, a);
        }
      }
    if (reg < 0)
      reg = fresh_x();
    if (IsList(t)) b_.emit(PUT_LIST, {cb::x(reg)});
    else b_.emit(PUT_STRUCTURE, {cb::x(reg), cb::f(functor_of(t))});
    unify_args(t, nullptr, &built);
    for (auto &[term, r] : built)
      release_x(r);
    return reg;
  }
};

void compile_into(clause_state &s, TAGGED clause, mod_def *module, compiled_clause *out, TAGGED filename)
{
  clause = deref(clause);
  TAGGED head = clause, body = MakeAtom(atom_true_enum);
  if (is(clause, ":-", 2)) {
    head = arg_of(clause, 0);
    body = arg_of(clause, 1);
  } else if (is(clause, ":-", 1)) {
    throw compile_error{"a directive is not a clause"};
  } else if (is(clause, "-->", 2)) {
    throw compile_error{"a grammar rule must be translated before it is compiled"};
  }
  /* Module:Head defines the predicate in Module; the body still runs in
     the module the clause is written in. */
  mod_def *const source = module;
  while (is(head, ":", 2) && IsAtom(arg_of(head, 0))) {
    module = find_module(arg_of(head, 0), 1);
    head = arg_of(head, 1);
  }
  if (IsVar(head))
    throw compile_error{"the head is a variable"};
  if (!is_callable(head))
    throw compile_error{"the head is not callable: " + term_to_text(head)};
  if (module != eglobal->prolog_module &&
      (is(head, ",", 2) || is(head, ";", 2) || is(head, "->", 2) || is(head, "!", 0) || is(head, "\\+", 1)))
    throw compile_error{"cannot redefine the control construct " + std::string(atom_name(name_of(head))) + "/" +
                        std::to_string(arity_of(head))};

  unit_compiler main(s, source, true, 0, s.force_perm);
  main.compile(head, body);
  /* The blocks follow the main part, each with its alternatives after it;
     an alternative may add further blocks at the end of the queue. */
  for (size_t i = 0; i < s.blocks.size(); i++) {
    block_def bd = s.blocks[i];
    std::vector<cb_label> alts;
    for (size_t j = 0; j < bd.alternatives.size(); j++)
      alts.push_back(s.b.new_label());
    s.b.choice_block(static_cast<int>(arity_of(bd.call_term)), alts, bd.head);
    for (size_t j = 0; j < bd.alternatives.size(); j++) {
      s.b.bind(alts[j]);
      unit_compiler alt(s, bd.module, false, bd.cut_vars[j], s.force_perm);
      alt.compile(bd.call_term, bd.alternatives[j]);
    }
  }
  /* A clause record states its size in 23 bits; a bigger one would be
     stored with its size cut short and walked or freed wrongly. */
  if (s.b.size() > (EMUL_OBJSIZE_MAX - EMUL_INFO_HEADER) / 2)
    throw compile_error{"clause too large: its code needs " +
                        std::to_string(EMUL_INFO_HEADER + 2 * s.b.size()) + " bytes, a clause holds at most " +
                        std::to_string(EMUL_OBJSIZE_MAX)};
  out->def = insert_definition(module, name_of(head), static_cast<int>(arity_of(head)), 1);
  if (out->def == nullptr)
    throw compile_error{"cannot define " + term_to_text(head)};
  out->ix = main.ix() | (s.cuts_clause ? IX_CUT : 0);
  out->key = main.key();
  out->clause = s.b.finish(failcode, out->ix, filename);
}

} // namespace

int compile_clause(worker *w, TAGGED clause_term, mod_def *module, compiled_clause *out, std::string *error,
                   TAGGED filename)
{
  TAGGED *heap_mark = w->global_top;
  int ok = 0;
  try {
    try {
      clause_state s{w, {}, {}, {}, {}, false, false};
      compile_into(s, clause_term, module, out, filename);
    } catch (const too_many_registers &) {
      w->global_top = heap_mark;
      clause_state s{w, {}, {}, {}, {}, false, true};
      compile_into(s, clause_term, module, out, filename);
    }
    ok = 1;
  } catch (const too_many_registers &) {
    if (error != nullptr)
      *error = "clause needs too many registers";
  } catch (const compile_error &e) {
    if (error != nullptr)
      *error = e.message;
  } catch (const std::exception &e) {
    if (error != nullptr)
      *error = std::string("internal compiler error: ") + e.what();
  }
  /* The goals made while compiling are garbage now; the clause term itself
     lies below the mark. */
  w->global_top = heap_mark;
  return ok;
}
