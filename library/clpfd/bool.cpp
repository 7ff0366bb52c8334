/* bool.cpp: the Boolean connective constraint bool/4 (see bool.h).
 *
 * The decision is a table of 216 entries indexed by the operator and the
 * states of X, Y and Z (0, 1, or 2 for undecided):
 *     e = ((Op * 3 + sx) * 3 + sy) * 3 + sz.
 * An entry fixes some undecided arguments and gives the entailment code
 * (1 entailed, 0 suspended, -1 failed).  With no two undecided arguments
 * the same variable, each entry is the complete propagation of
 * Z = Op(X, Y) over {0, 1}: the values common to all solutions are
 * fixed, and the code is 1 when every remaining assignment is a solution.
 * Those entries stay sound when arguments are aliased, but miss what the
 * aliasing implies; the entries that can gain from it carry a list of
 * alias tests (X and Y the same unbound variable, and so on), tried in
 * order, the first that holds deciding.  A fix that gives one variable two
 * values (aliased arguments fixed differently) fails when the second cache
 * is written back.
 *
 * Values outside 0..1 would select a wrong entry: the wrapper restricts
 * every argument to 0..1 before posting, and a run still reading another
 * integer fails rather than index the table.
 */
#include "bool.h"

#include "dvar.h"
#include "globals.h"

namespace {

constexpr signed char __ = -1; /* leave the argument alone */

enum alias_pair : unsigned char { XY, XZ, YZ };

struct bool_outcome {
  signed char fix[3]; /* X, Y, Z: the value to fix, or __ */
  signed char code;
};

struct bool_entry {
  bool_outcome out;
  unsigned char alias; /* 0, or 1 + the index of its tests in alias_tests */
};

struct alias_test {
  alias_pair pair;
  bool_outcome out;
};

struct alias_list {
  unsigned char count;
  alias_test tests[3];
};

/* Indexed as the comment above says; the rows read X Y Z states. */
constexpr bool_entry bool_table[216] = {
    /* Op 0: Z = X and Y */
    /* 0 0 0 */ {{{__, __, __},  1}, 0},
    /* 0 0 1 */ {{{__, __, __}, -1}, 0},
    /* 0 0 ? */ {{{__, __,  0},  1}, 0},
    /* 0 1 0 */ {{{__, __, __},  1}, 0},
    /* 0 1 1 */ {{{__, __, __}, -1}, 0},
    /* 0 1 ? */ {{{__, __,  0},  1}, 0},
    /* 0 ? 0 */ {{{__, __, __},  1}, 0},
    /* 0 ? 1 */ {{{__, __, __}, -1}, 0},
    /* 0 ? ? */ {{{__, __,  0},  1}, 0},
    /* 1 0 0 */ {{{__, __, __},  1}, 0},
    /* 1 0 1 */ {{{__, __, __}, -1}, 0},
    /* 1 0 ? */ {{{__, __,  0},  1}, 0},
    /* 1 1 0 */ {{{__, __, __}, -1}, 0},
    /* 1 1 1 */ {{{__, __, __},  1}, 0},
    /* 1 1 ? */ {{{__, __,  1},  1}, 0},
    /* 1 ? 0 */ {{{__,  0, __},  1}, 0},
    /* 1 ? 1 */ {{{__,  1, __},  1}, 0},
    /* 1 ? ? */ {{{__, __, __},  0}, 0},
    /* ? 0 0 */ {{{__, __, __},  1}, 0},
    /* ? 0 1 */ {{{__, __, __}, -1}, 0},
    /* ? 0 ? */ {{{__, __,  0},  1}, 0},
    /* ? 1 0 */ {{{ 0, __, __},  1}, 0},
    /* ? 1 1 */ {{{ 1, __, __},  1}, 0},
    /* ? 1 ? */ {{{__, __, __},  0}, 0},
    /* ? ? 0 */ {{{__, __, __},  0}, 1},
    /* ? ? 1 */ {{{ 1,  1, __},  1}, 0},
    /* ? ? ? */ {{{__, __, __},  0}, 0},
    /* Op 1: Z = X and not Y */
    /* 0 0 0 */ {{{__, __, __},  1}, 0},
    /* 0 0 1 */ {{{__, __, __}, -1}, 0},
    /* 0 0 ? */ {{{__, __,  0},  1}, 0},
    /* 0 1 0 */ {{{__, __, __},  1}, 0},
    /* 0 1 1 */ {{{__, __, __}, -1}, 0},
    /* 0 1 ? */ {{{__, __,  0},  1}, 0},
    /* 0 ? 0 */ {{{__, __, __},  1}, 0},
    /* 0 ? 1 */ {{{__, __, __}, -1}, 0},
    /* 0 ? ? */ {{{__, __,  0},  1}, 0},
    /* 1 0 0 */ {{{__, __, __}, -1}, 0},
    /* 1 0 1 */ {{{__, __, __},  1}, 0},
    /* 1 0 ? */ {{{__, __,  1},  1}, 0},
    /* 1 1 0 */ {{{__, __, __},  1}, 0},
    /* 1 1 1 */ {{{__, __, __}, -1}, 0},
    /* 1 1 ? */ {{{__, __,  0},  1}, 0},
    /* 1 ? 0 */ {{{__,  1, __},  1}, 0},
    /* 1 ? 1 */ {{{__,  0, __},  1}, 0},
    /* 1 ? ? */ {{{__, __, __},  0}, 2},
    /* ? 0 0 */ {{{ 0, __, __},  1}, 0},
    /* ? 0 1 */ {{{ 1, __, __},  1}, 0},
    /* ? 0 ? */ {{{__, __, __},  0}, 0},
    /* ? 1 0 */ {{{__, __, __},  1}, 0},
    /* ? 1 1 */ {{{__, __, __}, -1}, 0},
    /* ? 1 ? */ {{{__, __,  0},  1}, 0},
    /* ? ? 0 */ {{{__, __, __},  0}, 0},
    /* ? ? 1 */ {{{ 1,  0, __},  1}, 0},
    /* ? ? ? */ {{{__, __, __},  0}, 3},
    /* Op 2: Z = not (X and Y) */
    /* 0 0 0 */ {{{__, __, __}, -1}, 0},
    /* 0 0 1 */ {{{__, __, __},  1}, 0},
    /* 0 0 ? */ {{{__, __,  1},  1}, 0},
    /* 0 1 0 */ {{{__, __, __}, -1}, 0},
    /* 0 1 1 */ {{{__, __, __},  1}, 0},
    /* 0 1 ? */ {{{__, __,  1},  1}, 0},
    /* 0 ? 0 */ {{{__, __, __}, -1}, 0},
    /* 0 ? 1 */ {{{__, __, __},  1}, 0},
    /* 0 ? ? */ {{{__, __,  1},  1}, 0},
    /* 1 0 0 */ {{{__, __, __}, -1}, 0},
    /* 1 0 1 */ {{{__, __, __},  1}, 0},
    /* 1 0 ? */ {{{__, __,  1},  1}, 0},
    /* 1 1 0 */ {{{__, __, __},  1}, 0},
    /* 1 1 1 */ {{{__, __, __}, -1}, 0},
    /* 1 1 ? */ {{{__, __,  0},  1}, 0},
    /* 1 ? 0 */ {{{__,  1, __},  1}, 0},
    /* 1 ? 1 */ {{{__,  0, __},  1}, 0},
    /* 1 ? ? */ {{{__, __, __},  0}, 4},
    /* ? 0 0 */ {{{__, __, __}, -1}, 0},
    /* ? 0 1 */ {{{__, __, __},  1}, 0},
    /* ? 0 ? */ {{{__, __,  1},  1}, 0},
    /* ? 1 0 */ {{{ 1, __, __},  1}, 0},
    /* ? 1 1 */ {{{ 0, __, __},  1}, 0},
    /* ? 1 ? */ {{{__, __, __},  0}, 5},
    /* ? ? 0 */ {{{ 1,  1, __},  1}, 0},
    /* ? ? 1 */ {{{__, __, __},  0}, 6},
    /* ? ? ? */ {{{__, __, __},  0}, 7},
    /* Op 3: Z = X or Y */
    /* 0 0 0 */ {{{__, __, __},  1}, 0},
    /* 0 0 1 */ {{{__, __, __}, -1}, 0},
    /* 0 0 ? */ {{{__, __,  0},  1}, 0},
    /* 0 1 0 */ {{{__, __, __}, -1}, 0},
    /* 0 1 1 */ {{{__, __, __},  1}, 0},
    /* 0 1 ? */ {{{__, __,  1},  1}, 0},
    /* 0 ? 0 */ {{{__,  0, __},  1}, 0},
    /* 0 ? 1 */ {{{__,  1, __},  1}, 0},
    /* 0 ? ? */ {{{__, __, __},  0}, 0},
    /* 1 0 0 */ {{{__, __, __}, -1}, 0},
    /* 1 0 1 */ {{{__, __, __},  1}, 0},
    /* 1 0 ? */ {{{__, __,  1},  1}, 0},
    /* 1 1 0 */ {{{__, __, __}, -1}, 0},
    /* 1 1 1 */ {{{__, __, __},  1}, 0},
    /* 1 1 ? */ {{{__, __,  1},  1}, 0},
    /* 1 ? 0 */ {{{__, __, __}, -1}, 0},
    /* 1 ? 1 */ {{{__, __, __},  1}, 0},
    /* 1 ? ? */ {{{__, __,  1},  1}, 0},
    /* ? 0 0 */ {{{ 0, __, __},  1}, 0},
    /* ? 0 1 */ {{{ 1, __, __},  1}, 0},
    /* ? 0 ? */ {{{__, __, __},  0}, 0},
    /* ? 1 0 */ {{{__, __, __}, -1}, 0},
    /* ? 1 1 */ {{{__, __, __},  1}, 0},
    /* ? 1 ? */ {{{__, __,  1},  1}, 0},
    /* ? ? 0 */ {{{ 0,  0, __},  1}, 0},
    /* ? ? 1 */ {{{__, __, __},  0}, 8},
    /* ? ? ? */ {{{__, __, __},  0}, 0},
    /* Op 4: Z = X or not Y */
    /* 0 0 0 */ {{{__, __, __}, -1}, 0},
    /* 0 0 1 */ {{{__, __, __},  1}, 0},
    /* 0 0 ? */ {{{__, __,  1},  1}, 0},
    /* 0 1 0 */ {{{__, __, __},  1}, 0},
    /* 0 1 1 */ {{{__, __, __}, -1}, 0},
    /* 0 1 ? */ {{{__, __,  0},  1}, 0},
    /* 0 ? 0 */ {{{__,  1, __},  1}, 0},
    /* 0 ? 1 */ {{{__,  0, __},  1}, 0},
    /* 0 ? ? */ {{{__, __, __},  0}, 9},
    /* 1 0 0 */ {{{__, __, __}, -1}, 0},
    /* 1 0 1 */ {{{__, __, __},  1}, 0},
    /* 1 0 ? */ {{{__, __,  1},  1}, 0},
    /* 1 1 0 */ {{{__, __, __}, -1}, 0},
    /* 1 1 1 */ {{{__, __, __},  1}, 0},
    /* 1 1 ? */ {{{__, __,  1},  1}, 0},
    /* 1 ? 0 */ {{{__, __, __}, -1}, 0},
    /* 1 ? 1 */ {{{__, __, __},  1}, 0},
    /* 1 ? ? */ {{{__, __,  1},  1}, 0},
    /* ? 0 0 */ {{{__, __, __}, -1}, 0},
    /* ? 0 1 */ {{{__, __, __},  1}, 0},
    /* ? 0 ? */ {{{__, __,  1},  1}, 0},
    /* ? 1 0 */ {{{ 0, __, __},  1}, 0},
    /* ? 1 1 */ {{{ 1, __, __},  1}, 0},
    /* ? 1 ? */ {{{__, __, __},  0}, 0},
    /* ? ? 0 */ {{{ 0,  1, __},  1}, 0},
    /* ? ? 1 */ {{{__, __, __},  0}, 0},
    /* ? ? ? */ {{{__, __, __},  0}, 10},
    /* Op 5: Z = not (X or Y) */
    /* 0 0 0 */ {{{__, __, __}, -1}, 0},
    /* 0 0 1 */ {{{__, __, __},  1}, 0},
    /* 0 0 ? */ {{{__, __,  1},  1}, 0},
    /* 0 1 0 */ {{{__, __, __},  1}, 0},
    /* 0 1 1 */ {{{__, __, __}, -1}, 0},
    /* 0 1 ? */ {{{__, __,  0},  1}, 0},
    /* 0 ? 0 */ {{{__,  1, __},  1}, 0},
    /* 0 ? 1 */ {{{__,  0, __},  1}, 0},
    /* 0 ? ? */ {{{__, __, __},  0}, 11},
    /* 1 0 0 */ {{{__, __, __},  1}, 0},
    /* 1 0 1 */ {{{__, __, __}, -1}, 0},
    /* 1 0 ? */ {{{__, __,  0},  1}, 0},
    /* 1 1 0 */ {{{__, __, __},  1}, 0},
    /* 1 1 1 */ {{{__, __, __}, -1}, 0},
    /* 1 1 ? */ {{{__, __,  0},  1}, 0},
    /* 1 ? 0 */ {{{__, __, __},  1}, 0},
    /* 1 ? 1 */ {{{__, __, __}, -1}, 0},
    /* 1 ? ? */ {{{__, __,  0},  1}, 0},
    /* ? 0 0 */ {{{ 1, __, __},  1}, 0},
    /* ? 0 1 */ {{{ 0, __, __},  1}, 0},
    /* ? 0 ? */ {{{__, __, __},  0}, 12},
    /* ? 1 0 */ {{{__, __, __},  1}, 0},
    /* ? 1 1 */ {{{__, __, __}, -1}, 0},
    /* ? 1 ? */ {{{__, __,  0},  1}, 0},
    /* ? ? 0 */ {{{__, __, __},  0}, 13},
    /* ? ? 1 */ {{{ 0,  0, __},  1}, 0},
    /* ? ? ? */ {{{__, __, __},  0}, 14},
    /* Op 6: Z = X xor Y */
    /* 0 0 0 */ {{{__, __, __},  1}, 0},
    /* 0 0 1 */ {{{__, __, __}, -1}, 0},
    /* 0 0 ? */ {{{__, __,  0},  1}, 0},
    /* 0 1 0 */ {{{__, __, __}, -1}, 0},
    /* 0 1 1 */ {{{__, __, __},  1}, 0},
    /* 0 1 ? */ {{{__, __,  1},  1}, 0},
    /* 0 ? 0 */ {{{__,  0, __},  1}, 0},
    /* 0 ? 1 */ {{{__,  1, __},  1}, 0},
    /* 0 ? ? */ {{{__, __, __},  0}, 0},
    /* 1 0 0 */ {{{__, __, __}, -1}, 0},
    /* 1 0 1 */ {{{__, __, __},  1}, 0},
    /* 1 0 ? */ {{{__, __,  1},  1}, 0},
    /* 1 1 0 */ {{{__, __, __},  1}, 0},
    /* 1 1 1 */ {{{__, __, __}, -1}, 0},
    /* 1 1 ? */ {{{__, __,  0},  1}, 0},
    /* 1 ? 0 */ {{{__,  1, __},  1}, 0},
    /* 1 ? 1 */ {{{__,  0, __},  1}, 0},
    /* 1 ? ? */ {{{__, __, __},  0}, 15},
    /* ? 0 0 */ {{{ 0, __, __},  1}, 0},
    /* ? 0 1 */ {{{ 1, __, __},  1}, 0},
    /* ? 0 ? */ {{{__, __, __},  0}, 0},
    /* ? 1 0 */ {{{ 1, __, __},  1}, 0},
    /* ? 1 1 */ {{{ 0, __, __},  1}, 0},
    /* ? 1 ? */ {{{__, __, __},  0}, 16},
    /* ? ? 0 */ {{{__, __, __},  0}, 0},
    /* ? ? 1 */ {{{__, __, __},  0}, 17},
    /* ? ? ? */ {{{__, __, __},  0}, 18},
    /* Op 7: Z = X equivalent to Y */
    /* 0 0 0 */ {{{__, __, __}, -1}, 0},
    /* 0 0 1 */ {{{__, __, __},  1}, 0},
    /* 0 0 ? */ {{{__, __,  1},  1}, 0},
    /* 0 1 0 */ {{{__, __, __},  1}, 0},
    /* 0 1 1 */ {{{__, __, __}, -1}, 0},
    /* 0 1 ? */ {{{__, __,  0},  1}, 0},
    /* 0 ? 0 */ {{{__,  1, __},  1}, 0},
    /* 0 ? 1 */ {{{__,  0, __},  1}, 0},
    /* 0 ? ? */ {{{__, __, __},  0}, 19},
    /* 1 0 0 */ {{{__, __, __},  1}, 0},
    /* 1 0 1 */ {{{__, __, __}, -1}, 0},
    /* 1 0 ? */ {{{__, __,  0},  1}, 0},
    /* 1 1 0 */ {{{__, __, __}, -1}, 0},
    /* 1 1 1 */ {{{__, __, __},  1}, 0},
    /* 1 1 ? */ {{{__, __,  1},  1}, 0},
    /* 1 ? 0 */ {{{__,  0, __},  1}, 0},
    /* 1 ? 1 */ {{{__,  1, __},  1}, 0},
    /* 1 ? ? */ {{{__, __, __},  0}, 0},
    /* ? 0 0 */ {{{ 1, __, __},  1}, 0},
    /* ? 0 1 */ {{{ 0, __, __},  1}, 0},
    /* ? 0 ? */ {{{__, __, __},  0}, 20},
    /* ? 1 0 */ {{{ 0, __, __},  1}, 0},
    /* ? 1 1 */ {{{ 1, __, __},  1}, 0},
    /* ? 1 ? */ {{{__, __, __},  0}, 0},
    /* ? ? 0 */ {{{__, __, __},  0}, 21},
    /* ? ? 1 */ {{{__, __, __},  0}, 0},
    /* ? ? ? */ {{{__, __, __},  0}, 22},
};

/* The tests of the entries whose alias field is not 0; when none holds
   the code is 0 and nothing is fixed. */
constexpr alias_list alias_tests[] = {
    /* 1 */ {1, {{XY, {{ 0, __, __},  1}}}},
    /* 2 */ {1, {{YZ, {{__, __, __}, -1}}}},
    /* 3 */ {2, {{XY, {{__, __,  0},  1}}, {YZ, {{ 0,  0, __},  1}}}},
    /* 4 */ {1, {{YZ, {{__, __, __}, -1}}}},
    /* 5 */ {1, {{XZ, {{__, __, __}, -1}}}},
    /* 6 */ {1, {{XY, {{ 0, __, __},  1}}}},
    /* 7 */ {2, {{XZ, {{ 1,  0, __},  1}}, {YZ, {{ 0,  1, __},  1}}}},
    /* 8 */ {1, {{XY, {{ 1, __, __},  1}}}},
    /* 9 */ {1, {{YZ, {{__, __, __}, -1}}}},
    /* 10 */ {2, {{XY, {{__, __,  1},  1}}, {YZ, {{ 1,  1, __},  1}}}},
    /* 11 */ {1, {{YZ, {{__, __, __}, -1}}}},
    /* 12 */ {1, {{XZ, {{__, __, __}, -1}}}},
    /* 13 */ {1, {{XY, {{ 1, __, __},  1}}}},
    /* 14 */ {2, {{XZ, {{ 0,  1, __},  1}}, {YZ, {{ 1,  0, __},  1}}}},
    /* 15 */ {1, {{YZ, {{__, __, __}, -1}}}},
    /* 16 */ {1, {{XZ, {{__, __, __}, -1}}}},
    /* 17 */ {1, {{XY, {{__, __, __}, -1}}}},
    /* 18 */ {3, {{XY, {{__, __,  0},  1}}, {XZ, {{__,  0, __},  1}}, {YZ, {{ 0, __, __},  1}}}},
    /* 19 */ {1, {{YZ, {{__, __, __}, -1}}}},
    /* 20 */ {1, {{XZ, {{__, __, __}, -1}}}},
    /* 21 */ {1, {{XY, {{__, __, __}, -1}}}},
    /* 22 */ {3, {{XY, {{__, __,  1},  1}}, {XZ, {{__,  1, __},  1}}, {YZ, {{ 1, __, __},  1}}}},
};

constexpr int alias_count = sizeof alias_tests / sizeof alias_tests[0];
static_assert(sizeof bool_table / sizeof bool_table[0] == 216);

/* The entries' alias fields name existing tests, in order of appearance. */
constexpr bool alias_fields_ok()
{
  int next = 1;
  for (const bool_entry &e : bool_table)
    if (e.alias != 0) {
      if (e.alias != next)
        return false;
      next++;
    }
  return next == alias_count + 1;
}
static_assert(alias_fields_ok());

inline TAGGED arg(TAGGED t, int i) { return TagToSTR(t)[i]; }

/* 0 or 1 for a bound argument, 2 for an unbound one, -1 for any other
   integer (which the wrapper never lets through). */
int arg_state(const dvar *dv)
{
  const TAGGED t = deref(dv->var_ref->term);
  if (IsVar(t))
    return 2;
  if (t == MakeSmall_checked(0))
    return 0;
  if (t == MakeSmall_checked(1))
    return 1;
  return -1;
}

bool aliased(const dvar *dv, alias_pair pair)
{
  const int a = pair == YZ ? 1 : 0, b = pair == XY ? 1 : 2;
  const TAGGED x = deref(dv[a].var_ref->term), y = deref(dv[b].var_ref->term);
  return IsVar(x) && x == y;
}

/* The outcome for the states s (none -1) and the caches' variables. */
bool_outcome decide(long op, const int s[3], const dvar *dv)
{
  if (op < 0 || op > 7)
    return {{__, __, __}, 0};
  const bool_entry &e = bool_table[((op * 3 + s[0]) * 3 + s[1]) * 3 + s[2]];
  if (e.alias == 0)
    return e.out;
  const alias_list &list = alias_tests[e.alias - 1];
  for (int i = 0; i < list.count; i++)
    if (aliased(dv, list.tests[i].pair))
      return list.tests[i].out;
  return {{__, __, __}, 0};
}

} // namespace

void prolog_fd_bool_vrenv_multi_vr(VREnv *env, VR_term_ref, VR_term_ref new_state, VR_term_ref actions)
{
  worker *w = fd_current_worker(env);
  w->term[2] = atom_nil;
  TAGGED handle;
  int committed;
  const TAGGED s = fd_static_output_state(w, &handle, &committed);
  w->fli_stack_start[new_state].term = s;
  VR_globref refs = env->dispatch_API_VOSTREL_H->pVR_alloc_globrefs(6);
  dvar dv[3];
  int st[3];
  bool proper = true;
  for (int i = 0; i < 3; i++) {
    fd_get_var_and_attr(deref(arg(s, i + 1)), refs + 2 * i);
    dvar_init(&dv[i], refs + 2 * i, refs + 2 * i + 1);
    st[i] = arg_state(&dv[i]);
    proper = proper && st[i] >= 0;
  }
  const TAGGED op = deref(arg(s, 4));
  int code = -1;
  if (proper && IsSmall(op)) {
    const bool_outcome out = decide(GetSmall(op), st, dv);
    code = out.code;
    /* Every fix before the first write-back, which may collect the heap. */
    for (int i = 0; i < 3; i++)
      if (out.fix[i] != __) {
        const TAGGED v = MakeSmall_checked(out.fix[i]);
        dvar_fix_interval_t(&dv[i], v, v);
      }
    for (int i = 0; i < 3; i++)
      dvar_pruning_settle(env, w, &dv[i]);
    for (int i = 0; i < 3; i++)
      dvar_export_changed(env, w, &dv[i]);
  }
  dvar_export_done(env, w, actions, code);
  env->dispatch_API_VOSTREL_H->pVR_free_globrefs(refs);
}
