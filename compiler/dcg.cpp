/* dcg.cpp: the grammar rule translation of dcg.h.
 *
 * A body is translated without recursion: each pending piece of work is a
 * grammar body, the two list variables it runs between and the heap cell
 * that will hold its translation.  Grammars are often machine-written, with
 * thousands of goals in one conjunction or alternatives in one disjunction,
 * and neither may cost native stack: a right-nested chain keeps the work
 * list short, and any other nesting grows that list, never the call depth.
 *
 * The translation never folds a list unification into the head: `p -->
 * !, [a]` must not look at the input before the cut, and the =/2 goal
 * keeps every case the same without a case analysis.
 */
#include "dcg.h"

#include <vector>

#include "atoms.h"
#include "initial_atoms.h"
#include "term_text.h"
#include "terms.h"
#include "worker.h"

namespace {

constexpr unsigned MAX_ARITY = 255;

/* Thrown from deep inside a translation; dcg_translate and dcg_body put the
   heap top back and report the message. */
struct dcg_fault {
  std::string message;
};

bool is_callable(TAGGED t)
{
  return IsAtom(t) || (IsStructure(t) && !IsBoxHeader(*TagToSTR(t)));
}

struct translator {
  worker *w;
  /* Atoms looked up per translation: the table may be rebuilt between
     runs (tests), so their words are not kept across calls. */
  TAGGED neck, phrase, not_provable, if_then, curly;

  explicit translator(worker *w_)
      : w(w_), neck(init_atom_check(":-", 0)), phrase(init_atom_check("phrase", 0)),
        not_provable(init_atom_check("\\+", 0)), if_then(init_atom_check("->", 0)),
        curly(init_atom_check("{}", 0))
  {
  }

  TAGGED *alloc(unsigned words)
  {
    if (w->global_top + words > w->heap_warn)
      throw dcg_fault{"grammar rule too large"};
    TAGGED *h = w->global_top;
    w->global_top = h + words;
    return h;
  }

  TAGGED fresh_var()
  {
    TAGGED *h = alloc(1);
    h[0] = PointerToTerm(h);
    return h[0];
  }

  /* name(x, y) */
  TAGGED compound2(TAGGED name, TAGGED x, TAGGED y)
  {
    TAGGED *h = alloc(3);
    h[0] = MakeFunctor(name, 2);
    h[1] = x;
    h[2] = y;
    return MakeSTR(h);
  }

  /* The elements of list, then tail, as new cells: [e1,...,en|tail].  The
     list must be proper; what is wrong with it is reported with `what`. */
  TAGGED append_list(TAGGED list, TAGGED tail, const char *what)
  {
    unsigned n = 0;
    TAGGED t = deref(list);
    for (; IsList(t); t = deref(TagToLST(t)[1]))
      n++;
    if (t != atom_nil)
      throw dcg_fault{std::string("grammar rule ") + what + " is not a proper list: " + term_to_text(list)};
    if (n == 0)
      return tail;
    TAGGED *h = alloc(2 * n);
    t = deref(list);
    for (unsigned i = 0; i < n; i++, t = deref(TagToLST(t)[1])) {
      h[2 * i] = TagToLST(t)[0];
      h[2 * i + 1] = i + 1 < n ? MakeLST(h + 2 * i + 2) : tail;
    }
    return MakeLST(h);
  }

  /* Goal with the two list arguments added after its own. */
  TAGGED extend(TAGGED goal, TAGGED s0, TAGGED s, const char *what)
  {
    if (IsAtom(goal))
      return compound2(goal, s0, s);
    const TAGGED *p = TagToSTR(goal);
    const unsigned arity = Arity(p[0]);
    if (arity + 2 > MAX_ARITY)
      throw dcg_fault{std::string("grammar rule ") + what + " has too many arguments: " +
                      atom_text_quoted(FunctorName(p[0])) + "/" + std::to_string(arity)};
    TAGGED *h = alloc(arity + 3);
    h[0] = MakeFunctor(FunctorName(p[0]), arity + 2);
    for (unsigned i = 1; i <= arity; i++)
      h[i] = p[i];
    h[arity + 1] = s0;
    h[arity + 2] = s;
    return MakeSTR(h);
  }

  /* (goal, S0 = S): a goal that consumes nothing. */
  TAGGED passing(TAGGED goal, TAGGED s0, TAGGED s)
  {
    return compound2(MakeAtom(atom_comma_enum), goal, compound2(MakeAtom(atom_equal_enum), s0, s));
  }

  struct work {
    TAGGED body, s0, s;
    TAGGED *dest;
  };

  /* Writes to *dest the goal for body between s0 and s. */
  void body(TAGGED body_term, TAGGED s0, TAGGED s, TAGGED *dest)
  {
    std::vector<work> todo{{body_term, s0, s, dest}};
    while (!todo.empty()) {
      const work job = todo.back();
      todo.pop_back();
      const TAGGED b = deref(job.body);
      if (IsVar(b)) {
        /* Known only at run time: phrase/3 translates it then. */
        TAGGED *h = alloc(4);
        h[0] = MakeFunctor(phrase, 3);
        h[1] = b;
        h[2] = job.s0;
        h[3] = job.s;
        *job.dest = MakeSTR(h);
        continue;
      }
      if (IsList(b) || b == atom_nil) {
        *job.dest = compound2(MakeAtom(atom_equal_enum), job.s0, append_list(b, job.s, "terminal"));
        continue;
      }
      if (!is_callable(b))
        throw dcg_fault{"grammar rule body is not callable: " + term_to_text(b)};
      if (b == MakeAtom(atom_bang_enum)) {
        *job.dest = passing(b, job.s0, job.s);
        continue;
      }
      if (IsAtom(b)) {
        *job.dest = compound2(b, job.s0, job.s);
        continue;
      }
      const TAGGED *p = TagToSTR(b);
      const TAGGED f = p[0];
      if (f == MakeFunctor(MakeAtom(atom_comma_enum), 2) || f == MakeFunctor(if_then, 2)) {
        const TAGGED mid = fresh_var();
        TAGGED *h = alloc(3);
        h[0] = f;
        *job.dest = MakeSTR(h);
        /* Pushed right first so the left part is done first. */
        todo.push_back({p[2], mid, job.s, h + 2});
        todo.push_back({p[1], job.s0, mid, h + 1});
      } else if (f == MakeFunctor(MakeAtom(atom_semicolon_enum), 2) ||
                 f == MakeFunctor(MakeAtom(atom_bar_enum), 2)) {
        TAGGED *h = alloc(3);
        h[0] = MakeFunctor(MakeAtom(atom_semicolon_enum), 2);
        *job.dest = MakeSTR(h);
        todo.push_back({p[2], job.s0, job.s, h + 2});
        todo.push_back({p[1], job.s0, job.s, h + 1});
      } else if (f == MakeFunctor(not_provable, 1)) {
        /* The negated body runs to a list nobody looks at: \+ consumes nothing. */
        TAGGED *h = alloc(2);
        h[0] = f;
        *job.dest = passing(MakeSTR(h), job.s0, job.s);
        todo.push_back({p[1], job.s0, fresh_var(), h + 1});
      } else if (f == MakeFunctor(curly, 1)) {
        *job.dest = passing(p[1], job.s0, job.s);
      } else {
        *job.dest = extend(b, job.s0, job.s, "body goal");
      }
    }
  }

  TAGGED rule(TAGGED rule_term)
  {
    const TAGGED r = deref(rule_term);
    if (!IsStructure(r) || *TagToSTR(r) != MakeFunctor(init_atom_check("-->", 0), 2))
      throw dcg_fault{"not a grammar rule: " + term_to_text(r)};
    TAGGED head = deref(TagToSTR(r)[1]);
    const TAGGED rule_body = TagToSTR(r)[2];
    TAGGED pushback = 0;
    if (IsStructure(head) && *TagToSTR(head) == MakeFunctor(MakeAtom(atom_comma_enum), 2)) {
      pushback = TagToSTR(head)[2];
      head = deref(TagToSTR(head)[1]);
    }
    if (IsVar(head))
      throw dcg_fault{"grammar rule head is a variable: " + term_to_text(head)};
    if (!is_callable(head) || head == atom_nil)
      throw dcg_fault{"grammar rule head is not callable: " + term_to_text(head)};
    const TAGGED s0 = fresh_var();
    const TAGGED s = fresh_var();
    const TAGGED new_head = extend(head, s0, s, "head");
    TAGGED *h = alloc(3);
    h[0] = MakeFunctor(neck, 2);
    h[1] = new_head;
    if (pushback == 0) {
      body(rule_body, s0, s, h + 2);
    } else {
      /* What the body leaves (mid) is what follows the pushback list in
         what the head leaves: S = PushBack ++ Mid. */
      const TAGGED mid = fresh_var();
      const TAGGED restore =
          compound2(MakeAtom(atom_equal_enum), s, append_list(pushback, mid, "pushback"));
      TAGGED *conj = alloc(3);
      conj[0] = MakeFunctor(MakeAtom(atom_comma_enum), 2);
      conj[2] = restore;
      h[2] = MakeSTR(conj);
      body(rule_body, s0, mid, conj + 1);
    }
    return MakeSTR(h);
  }
};

}  // namespace

int dcg_translate(worker *w, TAGGED rule, TAGGED *clause, std::string *error)
{
  TAGGED *const mark = w->global_top;
  try {
    translator t(w);
    *clause = t.rule(rule);
    return 1;
  } catch (const dcg_fault &f) {
    w->global_top = mark;
    if (error != nullptr)
      *error = f.message;
    return 0;
  }
}

int dcg_body(worker *w, TAGGED body, TAGGED s0, TAGGED s, TAGGED *goal, std::string *error)
{
  TAGGED *const mark = w->global_top;
  try {
    translator t(w);
    TAGGED result = 0;
    t.body(body, s0, s, &result);
    *goal = result;
    return 1;
  } catch (const dcg_fault &f) {
    w->global_top = mark;
    if (error != nullptr)
      *error = f.message;
    return 0;
  }
}
