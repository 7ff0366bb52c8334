/* indexical_interpreter.cpp: the stack machine that runs compiled
 * indexicals, and the check of their code at installation (see
 * indexical_interpreter.h).
 *
 * The machine.  Stack entries are bound words (small integers, inf, sup),
 * FD sets (on the heap or the number stack) and, inside a table
 * subroutine, a return offset (a small integer).  Nothing is allocated on
 * the heap until the run tells its target, so no collection can move the
 * heap words that the stack and the C locals hold; the tells and the
 * write-backs keep registers 0 to 4, and the item is read again from
 * register 0 after each of them.
 *
 * Outcomes of a run:
 *   done      the target was told, or a check found nothing to decide;
 *             a propagating run whose result used only fixed arguments
 *             (the ground flag) is entailed: R can no longer change and X
 *             lies in it.
 *   decided   a check settled the constraint: entailed, and the 0/1
 *             variable is fixed to the verdict.
 *   given up  the arithmetic was undefined on the current values (inf +
 *             sup, a zero divisor, a loop over an infinite set): nothing
 *             is told and nothing is entailed; the indexical runs again
 *             when its arguments change.
 *   overflow  an interval with both ends the same infinity was to be
 *             told: the overflow flag is set, nothing is told.
 *   fail      an empty domain (counted by the loop), or instruction 72
 *             (not counted).
 * A checking run that decides nothing is never entailed, ground or not:
 * its target may still shrink into R or out of it, and entailment would
 * kill every checking indexical of the constraint (they share Ent).
 *
 * The check (ix_check_code), the only one an indexical's code passes
 * before it may run (at installation and when a saved state is read),
 * decodes the words in order as the saved-state relocation does, checking
 * every operand, then walks every path once with the shape of the stack
 * (the kind of each entry), requiring the same shape wherever paths meet;
 * the interpreter therefore trusts kinds, depths, operands and jump
 * targets.
 */
#include "indexical_interpreter.h"

#include <cstring>
#include <string>
#include <vector>

#include "dvar.h"
#include "fd_attribute.h"
#include "fdset_arith.h"
#include "posting.h"
#include "propagation.h"
#include "sw_on_key.h"
#include "telling.h"

namespace {

/* ---- The instruction table ---- */

/* Stack kinds: V a bound word, S an FD set, R a return offset; L the
   kind of the literal operand (V or S); '-' no result. */
enum ix_flow : unsigned char {
  FLOW_NEXT,   /* continue after the operands */
  FLOW_END,    /* ends the run (a tell, a check, 45, 72) */
  FLOW_SKIP,   /* 61, 62: conditional jump */
  FLOW_LOOP,   /* 63 */
  FLOW_LOOPEND,/* 64 */
  FLOW_TABLE,  /* 69 */
  FLOW_RETURN  /* 70 */
};

struct ix_instruction {
  const char *in;      /* kinds popped, bottom first */
  char out;            /* kind pushed, or '-' */
  unsigned char operands;
  ix_flow flow;
  unsigned char arg;   /* 1: the operand is an argument index; 2: a loop slot;
                          3..5: implicit argument 0..2 (71 reads Attv's
                          second entry: 4) */
};

constexpr ix_instruction IX_TABLE[IX_LAST_INSTRUCTION + 1] = {
    /*  0 */ {"V", 'S', 0, FLOW_NEXT, 0},   {"", 'S', 0, FLOW_NEXT, 0},     {"V", 'S', 0, FLOW_NEXT, 0},
    /*  3 */ {"V", 'S', 0, FLOW_NEXT, 0},   {"VV", 'S', 0, FLOW_NEXT, 0},   {"SV", 'S', 0, FLOW_NEXT, 0},
    /*  6 */ {"SV", 'S', 0, FLOW_NEXT, 0},  {"SV", 'S', 0, FLOW_NEXT, 0},   {"V", 'S', 0, FLOW_NEXT, 0},
    /*  9 */ {"S", 'S', 0, FLOW_NEXT, 0},   {"VV", 'S', 0, FLOW_NEXT, 0},   {"VS", 'S', 0, FLOW_NEXT, 0},
    /* 12 */ {"SV", 'S', 0, FLOW_NEXT, 0},  {"SS", 'S', 0, FLOW_NEXT, 0},   {"VV", 'S', 0, FLOW_NEXT, 0},
    /* 15 */ {"VS", 'S', 0, FLOW_NEXT, 0},  {"SV", 'S', 0, FLOW_NEXT, 0},   {"SS", 'S', 0, FLOW_NEXT, 0},
    /* 18 */ {"", 'V', 1, FLOW_NEXT, 2},    {"VV", 'V', 0, FLOW_NEXT, 0},   {"VV", 'V', 0, FLOW_NEXT, 0},
    /* 21 */ {"V", 'V', 1, FLOW_NEXT, 0},   {"V", 'V', 1, FLOW_NEXT, 0},    {"V", 'V', 1, FLOW_NEXT, 0},
    /* 24 */ {"VV", 'V', 0, FLOW_NEXT, 0},  {"", 'V', 1, FLOW_NEXT, 1},     {"", 'V', 0, FLOW_NEXT, 3},
    /* 27 */ {"", 'V', 0, FLOW_NEXT, 4},    {"", 'V', 0, FLOW_NEXT, 5},     {"", 'S', 1, FLOW_NEXT, 1},
    /* 30 */ {"", 'S', 0, FLOW_NEXT, 3},    {"", 'S', 0, FLOW_NEXT, 4},     {"", 'S', 0, FLOW_NEXT, 5},
    /* 33 */ {"", 'V', 1, FLOW_NEXT, 1},    {"", 'V', 0, FLOW_NEXT, 3},     {"", 'V', 0, FLOW_NEXT, 4},
    /* 36 */ {"", 'V', 0, FLOW_NEXT, 5},    {"", 'V', 1, FLOW_NEXT, 1},     {"", 'V', 0, FLOW_NEXT, 3},
    /* 39 */ {"", 'V', 0, FLOW_NEXT, 4},    {"", 'V', 0, FLOW_NEXT, 5},     {"", 'L', 1, FLOW_NEXT, 0},
    /* 42 */ {"V", 'V', 1, FLOW_NEXT, 1},   {"V", 'V', 1, FLOW_NEXT, 1},    {"V", 'V', 1, FLOW_NEXT, 1},
    /* 45 */ {"", '-', 0, FLOW_END, 0},     {"V", '-', 0, FLOW_END, 0},     {"V", '-', 0, FLOW_END, 0},
    /* 48 */ {"VV", '-', 0, FLOW_END, 0},   {"V", '-', 0, FLOW_END, 0},     {"S", '-', 0, FLOW_END, 0},
    /* 51 */ {"V", '-', 0, FLOW_END, 0},    {"S", '-', 1, FLOW_END, 0},     {"", '-', 0, FLOW_END, 0},
    /* 54 */ {"V", '-', 0, FLOW_END, 0},    {"V", '-', 0, FLOW_END, 0},     {"VV", '-', 0, FLOW_END, 0},
    /* 57 */ {"V", '-', 0, FLOW_END, 0},    {"S", '-', 0, FLOW_END, 0},     {"V", '-', 0, FLOW_END, 0},
    /* 60 */ {"S", '-', 0, FLOW_END, 0},    {"S", '-', 1, FLOW_SKIP, 0},    {"S", '-', 1, FLOW_SKIP, 0},
    /* 63 */ {"S", '-', 1, FLOW_LOOP, 0},   {"SSS", '-', 2, FLOW_LOOPEND, 2}, {"", 'V', 1, FLOW_NEXT, 1},
    /* 66 */ {"", 'V', 0, FLOW_NEXT, 3},    {"", 'V', 0, FLOW_NEXT, 4},     {"", 'V', 0, FLOW_NEXT, 5},
    /* 69 */ {"V", '-', 2, FLOW_TABLE, 0},  {"RS", '-', 0, FLOW_RETURN, 0}, {"", 'S', 0, FLOW_NEXT, 4},
    /* 72 */ {"", '-', 0, FLOW_END, 0},     {"SV", 'S', 0, FLOW_NEXT, 0},   {"SS", 'S', 0, FLOW_NEXT, 0},
    /* 75 */ {"SS", 'S', 0, FLOW_NEXT, 0},  {"VV", 'S', 0, FLOW_NEXT, 0},   {"VS", 'S', 0, FLOW_NEXT, 0},
    /* 78 */ {"SV", 'S', 0, FLOW_NEXT, 0},  {"SS", 'S', 0, FLOW_NEXT, 0},   {"V", 'V', 1, FLOW_NEXT, 2},
    /* 81 */ {"V", 'V', 1, FLOW_NEXT, 2},   {"V", 'V', 1, FLOW_NEXT, 2},    {"SS", '-', 1, FLOW_END, 0},
    /* 84 */ {"SS", '-', 1, FLOW_END, 0},   {"VV", 'V', 0, FLOW_NEXT, 0},   {"SV", 'S', 0, FLOW_NEXT, 0},
};

inline TAGGED arg(TAGGED t, int i) { return TagToSTR(t)[i]; }

/* The argument an instruction reads: its operand, or the one its word
   names. */
inline unsigned argument(ix_byte op, ix_byte operand)
{
  return IX_TABLE[op].arg == 1 ? operand : IX_TABLE[op].arg - 3u;
}

/* ix/7 arguments (1-based). */
enum { IX_INFO = 1, IX_GOAL = 2, IX_STATUS = 3, IX_ENT = 4, IX_B = 5, IX_ATTV = 6, IX_BATTR = 7 };

inline unsigned status_of(TAGGED item)
{
  return static_cast<unsigned>(GetSmall(fd_mutable_value(deref(arg(item, IX_STATUS)))));
}

inline void set_status(VREnv *env, worker *w, TAGGED item, unsigned s)
{
  fd_update_mutable(env, w, MakeSmall_checked(static_cast<VR_INTEGER>(s)), deref(arg(item, IX_STATUS)));
}

inline sw_on_key_node *table_lookup(VREnv *env, sw_on_key *sw, TAGGED key)
{
  return reinterpret_cast<sw_on_key_node *(*)(sw_on_key *, TAGGED)>(env->dispatch_API_SUPPORT_H->pincore_gethash)(sw,
                                                                                                               key);
}

enum outcome { OUT_DONE, OUT_DECIDED_0, OUT_DECIDED_1, OUT_GIVE_UP, OUT_OVERFLOW, OUT_FAIL, OUT_FAIL_QUIET };

/* One run. */
struct machine {
  VREnv *env;
  worker *w;
  indexical_info *ix;
  dvar target;
  bool ground = true;
  TAGGED slot[FD_IX_LOOP_SLOTS];

  TAGGED item() const { return deref(w->term[0]); }
  TAGGED goal() const { return deref(arg(item(), IX_GOAL)); }
  /* The dom/4 term of argument k. */
  const TAGGED *dom_of(unsigned k)
  {
    const TAGGED d = fd_attribute_dom(deref(arg(deref(arg(item(), IX_ATTV)), static_cast<int>(k) + 1)));
    return TagToSTR(d);
  }
  /* A word of argument k's domain; reading it from an argument that is
     not fixed makes the result depend on values still to be decided. */
  TAGGED read(unsigned k, int word)
  {
    const TAGGED *d = dom_of(k);
    if (deref(d[FD_DOM_SIZE]) != MakeSmall_checked(1))
      ground = false;
    return deref(d[word]);
  }

  outcome execute();
  outcome tell_interval(TAGGED lo, TAGGED hi);
  outcome tell_set(TAGGED set, bool filtered);
  outcome check(int verdict, bool swapped);
};

enum { NONE = 0, POSITIVE = 1, NEGATIVE = 2 };

outcome machine::tell_interval(TAGGED lo, TAGGED hi)
{
  if (lo == hi && !IsSmall(lo))
    return OUT_OVERFLOW;
  const int r = dvar_fix_interval_t(&target, lo, hi);
  if (r < 0)
    return OUT_FAIL;
  if (r > 0)
    dvar_export_ix(env, w, &target, 0);
  return OUT_DONE;
}

outcome machine::tell_set(TAGGED set, bool filtered)
{
  if (fd_is_empty(set))
    return OUT_FAIL;
  if (fd_is_empty(fd_rest(set)))
    return tell_interval(fd_min(set), fd_interval_max(fd_first_interval(set)));
  const int r = dvar_fix_set(env, &target, fd_localize(env, w, set), w);
  if (r < 0)
    return OUT_FAIL;
  if (r > 0)
    dvar_export_ix(env, w, &target, filtered ? deref(arg(item(), IX_ENT)) : 0);
  return OUT_DONE;
}

/* A check's verdict: the positive case decides at once, the negative one
   only when R no longer depends on unfixed arguments.  Instruction 57
   decides the opposite values. */
outcome machine::check(int verdict, bool swapped)
{
  const bool truth = ix->truth_value != 0;
  if (verdict == POSITIVE)
    return (truth != swapped) ? OUT_DECIDED_1 : OUT_DECIDED_0;
  if (verdict == NEGATIVE && ground)
    return (truth == swapped) ? OUT_DECIDED_1 : OUT_DECIDED_0;
  return OUT_DONE;
}

/* The target against the value v: fixed to it, or v outside the domain. */
int value_verdict(dvar *t, TAGGED v)
{
  if (t->min == t->max)
    return t->min == v ? POSITIVE : NEGATIVE;
  return dvar_contains_value_t(t, v) ? NONE : NEGATIVE;
}

/* The target's domain within the set or interval: inside or equal is
   positive, disjoint negative. */
int within_verdict(int relation)
{
  if (relation == FD_EQUAL || relation == FD_SUBSET)
    return POSITIVE;
  return relation == FD_DISJOINT ? NEGATIVE : NONE;
}

inline bool undefined_sum(TAGGED a, TAGGED b) { return !IsSmall(a) && !IsSmall(b) && a != b; }

outcome machine::execute()
{
  const ix_byte *code = ix->code;
  TAGGED *const base = &w->term[FD_IX_STACK_BASE];
  TAGGED *sp = base; /* next free entry */
  unsigned pc = 0;
  const unsigned end = ix->length_of_bytecode;
#define TOP sp[-1]
#define NEXT_TOP sp[-2]
#define POP (*--sp)
#define PUSH(x) (*sp++ = (x))
  while (pc < end) {
    const ix_byte op = code[pc];
    if (op > IX_LAST_INSTRUCTION) {
      pc++;
      continue;
    }
    const ix_byte a1 = pc + 1 < end ? code[pc + 1] : 0;
    const unsigned next = pc + 1 + IX_TABLE[op].operands;
    switch (op) {
    case 0:
      TOP = IsSmall(TOP) ? fd_interval(env, w, TOP, TOP) : fd_empty_set;
      break;
    case 1:
      PUSH(fd_interval(env, w, atom_inf, atom_sup));
      break;
    case 2:
      TOP = TOP == atom_inf ? fd_empty_set : fd_interval(env, w, atom_inf, TOP);
      break;
    case 3:
      TOP = TOP == atom_sup ? fd_empty_set : fd_interval(env, w, TOP, atom_sup);
      break;
    case 4: {
      const TAGGED hi = POP, lo = TOP;
      if (lo == hi && !IsSmall(lo))
        return OUT_OVERFLOW;
      TOP = lo == atom_sup || hi == atom_inf ? fd_empty_set : fd_interval(env, w, lo, hi);
      break;
    }
    case 5:
    case 6: {
      const TAGGED k = POP;
      if (!IsSmall(k))
        return OUT_GIVE_UP;
      TOP = fd_lsh(env, w, TOP, op == 5 ? k : fd_safe_negate_val(k));
      break;
    }
    case 7:
    case 86: {
      const TAGGED k = POP;
      if (!IsSmall(k) || k == MakeSmall_checked(0))
        return OUT_GIVE_UP;
      TOP = op == 7 ? fd_setmod(env, w, TOP, GetSmall(k)) : fd_setrem(env, w, TOP, GetSmall(k));
      break;
    }
    case 8:
      TOP = IsSmall(TOP) ? fd_compl_interval(env, w, TOP, TOP) : fd_interval(env, w, atom_inf, atom_sup);
      break;
    case 9:
      TOP = fd_complement(env, w, TOP);
      break;
    case 10: {
      const TAGGED b = POP, a = TOP;
      if (IsSmall(a) && IsSmall(b))
        TOP = fd_pair(env, w, a, b);
      else
        TOP = IsSmall(a) || IsSmall(b) ? fd_interval(env, w, IsSmall(a) ? a : b, IsSmall(a) ? a : b) : fd_empty_set;
      break;
    }
    case 11:
    case 12: {
      const TAGGED x = POP, y = TOP;
      const TAGGED v = op == 11 ? y : x, s = op == 11 ? x : y;
      TOP = IsSmall(v) ? fd_insert_into(env, w, v, s) : s;
      break;
    }
    case 13: {
      const TAGGED s2 = POP;
      TOP = fd_union(env, w, TOP, s2);
      break;
    }
    case 14:
    case 76: {
      const TAGGED b = POP, a = TOP;
      const bool keep = IsSmall(a) && (op == 14 ? a == b : a != b);
      TOP = keep ? fd_interval(env, w, a, a) : fd_empty_set;
      break;
    }
    case 15:
    case 16:
    case 77: {
      const TAGGED x = POP, y = TOP;
      const TAGGED v = op == 16 ? x : y, s = op == 16 ? y : x;
      const bool keep = IsSmall(v) && (fd_member(v, s) == (op != 77));
      TOP = keep ? fd_interval(env, w, v, v) : fd_empty_set;
      break;
    }
    case 17: {
      const TAGGED s2 = POP;
      TOP = fd_intersection(env, w, TOP, s2);
      break;
    }
    case 18:
      PUSH(slot[a1]);
      break;
    case 19: {
      const TAGGED b = POP;
      if (undefined_sum(TOP, b))
        return OUT_GIVE_UP;
      TOP = fd_safe_plus(TOP, b);
      break;
    }
    case 20: {
      const TAGGED b = POP;
      if (!IsSmall(TOP) && TOP == b)
        return OUT_GIVE_UP;
      TOP = fd_safe_minus(TOP, b);
      break;
    }
    case 21:
    case 42:
    case 80: {
      const TAGGED c = op == 21 ? static_cast<TAGGED>(a1) : op == 42 ? deref(arg(goal(), a1 + 1)) : slot[a1];
      const TAGGED r = IsSmall(c) || op == 21 ? fd_safe_mul(TOP, c) : FD_UNDEFINED;
      if (r == FD_UNDEFINED)
        return OUT_GIVE_UP;
      TOP = r;
      break;
    }
    case 22:
    case 23:
    case 43:
    case 44:
    case 81:
    case 82: {
      const TAGGED c = op <= 23 ? static_cast<TAGGED>(a1) : op <= 44 ? deref(arg(goal(), a1 + 1)) : slot[a1];
      const bool down = op == 22 || op == 43 || op == 81;
      const TAGGED r = !IsSmall(c) && op > 23 ? FD_UNDEFINED : down ? fd_safe_divd(TOP, c) : fd_safe_divu(TOP, c);
      if (r == FD_UNDEFINED)
        return OUT_GIVE_UP;
      TOP = r;
      break;
    }
    case 24:
    case 85: {
      const TAGGED b = POP, a = TOP;
      if (!IsSmall(a) || b == MakeSmall_checked(0))
        return OUT_GIVE_UP;
      if (IsSmall(b)) {
        const long x = GetSmall(a), y = GetSmall(b);
        TOP = MakeSmall_checked(op == 24 ? fast_modi(x, y) : (y == -1 ? 0 : x % y));
      }
      break;
    }
    case 25: case 26: case 27: case 28: /* a value: fixed by the linkage, the ground flag stays */
      PUSH(deref(dom_of(argument(op, a1))[FD_DOM_MIN]));
      break;
    case 29: case 30: case 31: case 32:
      PUSH(read(argument(op, a1), FD_DOM_SET));
      break;
    case 33: case 34: case 35: case 36:
      PUSH(read(argument(op, a1), FD_DOM_MIN));
      break;
    case 37: case 38: case 39: case 40:
      PUSH(read(argument(op, a1), FD_DOM_MAX));
      break;
    case 41:
      PUSH(static_cast<TAGGED>(a1));
      break;
    case 45:
      return OUT_DONE;
    case 46:
      return tell_interval(atom_inf, TOP);
    case 47:
      return tell_interval(TOP, atom_sup);
    case 48:
      return tell_interval(NEXT_TOP, TOP);
    case 49: {
      if (!IsSmall(TOP))
        return OUT_DONE;
      const int r = dvar_prune_interval_t(env, &target, TOP, TOP, w);
      if (r < 0)
        return OUT_FAIL;
      if (r > 0)
        dvar_export_ix(env, w, &target, 0);
      return OUT_DONE;
    }
    case 50: {
      const int r = dvar_prune_set(env, &target, fd_localize(env, w, TOP), w);
      if (r < 0)
        return OUT_FAIL;
      if (r > 0)
        dvar_export_ix(env, w, &target, 0);
      return OUT_DONE;
    }
    case 51:
      return tell_interval(TOP, TOP);
    case 52:
      return tell_set(TOP, a1 != 0);
    case 83:
    case 84: {
      const TAGGED s2 = POP, s1 = TOP;
      const TAGGED r = op == 83 ? fd_plus(env, w, s1, s2, target.min, target.max)
                                : fd_minus(env, w, s1, s2, target.min, target.max);
      return tell_set(r, a1 != 0);
    }
    case 53:
      return ix->truth_value ? OUT_DECIDED_1 : OUT_DECIDED_0;
    case 54:
      if (TOP == atom_inf)
        return check(NEGATIVE, false);
      return check(within_verdict(dvar_compare_interval_t(env, &target, atom_inf, TOP, w)), false);
    case 55:
      if (TOP == atom_sup)
        return check(NEGATIVE, false);
      return check(within_verdict(dvar_compare_interval_t(env, &target, TOP, atom_sup, w)), false);
    case 56: {
      const TAGGED lo = NEXT_TOP, hi = TOP;
      if (lo == hi && IsSmall(lo))
        return check(value_verdict(&target, lo), false);
      if (fd_order(hi) < fd_order(lo) || lo == hi || lo == atom_sup || hi == atom_inf)
        return check(NEGATIVE, false);
      return check(within_verdict(dvar_compare_interval_t(env, &target, lo, hi, w)), false);
    }
    case 57:
    case 59:
      return check(IsSmall(TOP) ? value_verdict(&target, TOP) : NEGATIVE, op == 57);
    case 58:
    case 60: {
      int v;
      if (fd_is_empty(TOP)) {
        v = NEGATIVE;
      } else {
        v = within_verdict(dvar_compare_set(env, &target, TOP, w));
      }
      if (op == 58) /* disjoint is the positive case here */
        v = fd_is_empty(TOP) || v == NEGATIVE ? POSITIVE : v == POSITIVE ? NEGATIVE : NONE;
      return check(v, false);
    }
    case 61:
    case 62: {
      const bool empty = fd_is_empty(POP);
      if (empty == (op == 62)) {
        PUSH(empty ? fd_empty_set : fd_interval(env, w, atom_inf, atom_sup));
        pc = a1;
        continue;
      }
      break;
    }
    case 63: {
      const TAGGED s = TOP;
      TOP = fd_empty_set; /* the accumulator */
      if (fd_is_empty(s)) {
        pc = a1;
        continue;
      }
      TAGGED last = fd_empty_set;
      for (TAGGED d = s; !fd_is_empty(d); d = fd_rest(d))
        last = fd_first_interval(d);
      if (!IsSmall(fd_interval_min(fd_first_interval(s))) || !IsSmall(fd_interval_max(last)))
        return OUT_GIVE_UP;
      TAGGED first, rest;
      fd_first_and_rest(env, w, s, &first, &rest);
      PUSH(rest);
      slot[code[a1 - 2]] = first;
      pc = code[a1 - 1];
      continue;
    }
    case 64: {
      const TAGGED r = POP, rest = POP;
      TOP = fd_union(env, w, TOP, r);
      if (fd_is_empty(rest))
        break;
      if (!IsSmall(fd_interval_min(fd_first_interval(rest))))
        return OUT_GIVE_UP; /* rests only shrink from a finite set */
      TAGGED first, more;
      fd_first_and_rest(env, w, rest, &first, &more);
      PUSH(more);
      slot[a1] = first;
      pc = code[pc + 2];
      continue;
    }
    case 65: case 66: case 67: case 68:
      PUSH(read(argument(op, a1), FD_DOM_SIZE));
      break;
    case 69: {
      const TAGGED key = TOP;
      const unsigned ret = code[pc + 2];
      sw_on_key_node *n = IsAtomic(key) ? table_lookup(env, reinterpret_cast<sw_on_key *>(a1), key) : nullptr;
      if (n != nullptr && n->key == key && n->value.any != nullptr) {
        TOP = MakeSmall_checked(static_cast<VR_INTEGER>(ret));
        pc = static_cast<unsigned>(GetSmall(n->value.word));
      } else {
        TOP = fd_empty_set;
        pc = ret;
      }
      continue;
    }
    case 70: {
      const TAGGED r = POP;
      pc = static_cast<unsigned>(GetSmall(TOP));
      TOP = r;
      continue;
    }
    case 71: {
      const TAGGED s = deref(arg(deref(arg(item(), IX_ATTV)), 2));
      if (!IsList(s) && !fd_is_empty(s))
        return OUT_GIVE_UP;
      PUSH(s);
      break;
    }
    case 72:
      return OUT_FAIL_QUIET;
    case 73: {
      const TAGGED k = POP;
      if (!IsSmall(k))
        return OUT_GIVE_UP;
      TOP = fd_neg_offset(env, w, TOP, k);
      break;
    }
    case 74:
    case 75: {
      const TAGGED s2 = POP;
      TOP = op == 74 ? fd_plus(env, w, TOP, s2, atom_inf, atom_sup) : fd_minus(env, w, TOP, s2, atom_inf, atom_sup);
      break;
    }
    case 78: {
      const TAGGED v = POP;
      if (IsSmall(v))
        TOP = fd_delete(env, w, TOP, v);
      break;
    }
    case 79: {
      const TAGGED s2 = POP;
      TOP = fd_subtract(env, w, TOP, s2);
      break;
    }
    }
    pc = next;
  }
#undef TOP
#undef NEXT_TOP
#undef POP
#undef PUSH
  return OUT_DONE;
}

/* Fixes the 0/1 variable of a decided check; false when that fails. */
bool fix_verdict(VREnv *env, worker *w, int value)
{
  const TAGGED item = deref(w->term[0]);
  const TAGGED b = deref(arg(item, IX_B));
  if (!IsVar(b))
    return b == MakeSmall_checked(value) || !IsSmall(b);
  const TAGGED battr = deref(arg(item, IX_BATTR));
  if (!IsStructure(battr))
    return true;
  dvar bv;
  dvar_init_ix(&bv, battr, b);
  const int r = dvar_fix_interval_t(&bv, MakeSmall_checked(value), MakeSmall_checked(value));
  if (r < 0)
    return false;
  if (r > 0)
    dvar_export_ix(env, w, &bv, 0);
  return true;
}

void entail(VREnv *env, worker *w)
{
  fd_state_of(env)->entailments++;
  const TAGGED ent = deref(arg(deref(w->term[0]), IX_ENT));
  if (IsVar(ent))
    fd_bind(env, w, ent, MakeSmall_checked(1));
}

/* Links the item on its first run. */
unsigned linked(VREnv *env, worker *w, indexical_info *ix, unsigned s)
{
  if (s & FD_STATUS_LINKED)
    return s;
  link_indexical(env, w, ix);
  return s | FD_STATUS_LINKED;
}

} // namespace

ix_result run_indexical(VREnv *env, worker *w)
{
  fd_state *fd = fd_state_of(env);
  TAGGED item = deref(w->term[0]);
  auto *ix = reinterpret_cast<indexical_info *>(deref(arg(item, IX_INFO)) - 3);

  machine m{env, w, ix, {}, true, {}};
  {
    const TAGGED attv = deref(arg(item, IX_ATTV));
    m.target = dvar{};
    dvar_init_ix(&m.target, deref(arg(attv, static_cast<int>(ix->pruned) + 1)),
                 deref(arg(deref(arg(item, IX_GOAL)), static_cast<int>(ix->pruned) + 1)));
  }
  unsigned s = status_of(item);
  if ((s & (FD_STATUS_QUEUED | FD_STATUS_RESCHEDULE)) == (FD_STATUS_QUEUED | FD_STATUS_RESCHEDULE)) {
    s = linked(env, w, ix, s & ~FD_STATUS_QUEUED);
    set_status(env, w, deref(w->term[0]), s);
    item = deref(w->term[0]);
    const TAGGED attv = deref(arg(item, IX_ATTV));
    dvar_init_ix(&m.target, deref(arg(attv, static_cast<int>(ix->pruned) + 1)),
                 deref(arg(deref(arg(item, IX_GOAL)), static_cast<int>(ix->pruned) + 1)));
  }
  fd->resumptions++;
  w->numstack_end = nullptr;
  for (TAGGED &x : m.slot)
    x = MakeSmall_checked(0);

  const outcome o = m.execute();
  switch (o) {
  case OUT_FAIL:
    return IX_FAILED;
  case OUT_FAIL_QUIET:
    return IX_FAILED_QUIET;
  case OUT_OVERFLOW:
    fd->fd_overflow = 1;
    break;
  case OUT_DECIDED_0:
  case OUT_DECIDED_1:
    entail(env, w);
    if (!fix_verdict(env, w, o == OUT_DECIDED_1 ? 1 : 0))
      return IX_FAILED;
    break;
  case OUT_DONE:
    if (m.ground && !ix->checking)
      entail(env, w);
    break;
  case OUT_GIVE_UP:
    break;
  }

  item = deref(w->term[0]);
  s = status_of(item);
  s &= (s & FD_STATUS_RESCHEDULE) ? ~FD_STATUS_RUNNING : ~(FD_STATUS_RUNNING | FD_STATUS_QUEUED);
  if (IsVar(deref(arg(item, IX_ENT))))
    s = linked(env, w, ix, s);
  set_status(env, w, deref(w->term[0]), s);
  return IX_SUCCEEDED;
}

/* ---- The check at installation (and restoration) ---- */

unsigned ix_operand_words(const ix_byte *code, unsigned pc, unsigned length)
{
  const ix_byte op = code[pc];
  if (op > IX_LAST_INSTRUCTION)
    return 0;
  /* The flag word of 52, 83 and 84 may be left out at the very end. */
  if ((op == 52 || op == 83 || op == 84) && pc + 1 == length)
    return 0;
  return IX_TABLE[op].operands;
}

bool ix_check_code(const ix_byte *code, unsigned length, const TAGGED *literals, unsigned n_literals,
                   unsigned arity, const char **why, unsigned *where)
{
  auto refuse = [&](const char *what, unsigned pc) {
    *why = what;
    *where = pc;
    return false;
  };
  if (length == 0)
    return refuse("empty code", 0);

  /* First, every instruction in the order the words come, reachable or
     not, as relocate_bytecode walks them for a saved state: operands
     inside the code and of their kind, literal operands among the
     indexical's own literals (a saved state can carry only those). */
  std::vector<bool> start(length + 1, false);
  for (unsigned pc = 0; pc < length;) {
    start[pc] = true;
    const ix_byte op = code[pc];
    const unsigned operands = ix_operand_words(code, pc, length);
    if (pc + operands >= length && operands > 0)
      return refuse("an operand past the end of the code", pc);
    const ix_byte a1 = operands > 0 ? code[pc + 1] : 0;
    if (op <= IX_LAST_INSTRUCTION) {
      const ix_instruction &in = IX_TABLE[op];
      if ((in.arg == 1 && a1 >= arity) || (in.arg >= 3 && static_cast<unsigned>(in.arg - 3) >= arity))
        return refuse("an argument beyond the arity", pc);
      if (in.arg == 2 && a1 >= static_cast<ix_byte>(FD_IX_LOOP_SLOTS))
        return refuse("a loop slot out of range", pc);
      if (op >= 21 && op <= 23 && !IsSmall(a1) && a1 != atom_inf && a1 != atom_sup)
        return refuse("a multiplier that is not a constant", pc);
      if ((op == 52 || op == 83 || op == 84) && operands > 0 && a1 > 1)
        return refuse("a filter flag other than 0 or 1", pc);
      if (op == 41) {
        bool own = ix_fixed_constant(a1);
        for (unsigned j = 0; !own && j < n_literals; j++)
          own = IsStructure(literals[j]) && literals[j] + 5 == a1;
        if (!own)
          return refuse("a pushed literal that is not one of the indexical's", pc);
      }
      if (op == 69) {
        bool own = false;
        for (unsigned j = 0; !own && j < n_literals; j++)
          own = IsList(literals[j]) && literals[j] - 2 == a1;
        if (!own)
          return refuse("a switch that names no table literal", pc);
      }
    }
    pc += 1 + operands;
  }

  /* Then every path, with the shape of the stack (the kind of each
     entry, bottom first) reached at each instruction start; paths must
     meet with the same shape. */
  std::vector<std::string> at(length);
  std::vector<bool> reached(length, false);
  std::vector<unsigned> loops; /* offsets of the reached 63s */
  std::vector<unsigned> work;
  const char *fault = nullptr;
  unsigned fault_at = 0;
  auto fail = [&](const char *what, unsigned pc) {
    if (fault == nullptr) {
      fault = what;
      fault_at = pc;
    }
  };
  /* Every path ends in a run-ending instruction: none runs off the end. */
  auto flow = [&](unsigned pc, const std::string &shape, unsigned from) {
    if (pc >= length)
      return fail("code runs past its end", from);
    if (!start[pc])
      return fail("a jump into an operand", from);
    if (shape.size() > static_cast<std::size_t>(FD_IX_MAX_STACK))
      return fail("the evaluation stack exceeds the argument registers", from);
    if (!reached[pc]) {
      reached[pc] = true;
      at[pc] = shape;
      work.push_back(pc);
    } else if (at[pc].size() != shape.size()) {
      fail("paths join with different stack depths", pc);
    } else if (at[pc] != shape) {
      fail("paths join with different kinds of stack entries", pc);
    }
  };
  flow(0, "", 0);
  while (!work.empty() && fault == nullptr) {
    const unsigned pc = work.back();
    work.pop_back();
    std::string shape = at[pc];
    const ix_byte op = code[pc];
    if (op > IX_LAST_INSTRUCTION) {
      flow(pc + 1, shape, pc);
      continue;
    }
    const ix_instruction &in = IX_TABLE[op];
    const unsigned operands = ix_operand_words(code, pc, length);
    const ix_byte a1 = operands > 0 ? code[pc + 1] : 0;
    const std::size_t n = std::strlen(in.in);
    if (shape.size() < n)
      return refuse("an instruction finds too few stack entries", pc);
    if (shape.compare(shape.size() - n, n, in.in) != 0)
      return refuse("operand of the wrong kind (value, set or return)", pc);
    shape.resize(shape.size() - n);
    char out = in.out;
    if (out == 'L') {
      const TAGGED lit = static_cast<TAGGED>(a1);
      if (IsSmall(lit) || lit == atom_inf || lit == atom_sup)
        out = 'V';
      else if (lit == atom_nil || IsList(lit))
        out = 'S';
      else
        return refuse("literal neither a bound nor an FD set", pc);
    }
    if (out != '-')
      shape.push_back(out);
    const unsigned next = pc + 1 + operands;
    switch (in.flow) {
    case FLOW_NEXT:
      flow(next, shape, pc);
      break;
    case FLOW_END:
      break;
    case FLOW_SKIP:
      if (a1 <= pc)
        return refuse("backward jump", pc);
      flow(a1, shape + "S", pc);
      flow(next, shape, pc);
      break;
    case FLOW_LOOP: {
      /* off (a1) is just after the loop's 64 q body. */
      if (a1 < pc + 5 || a1 > length || !start[a1 - 3] || code[a1 - 3] != 64)
        return refuse("a loop without its closing instruction", pc);
      const ix_byte body = code[a1 - 1];
      if (body < length && !start[body])
        return refuse("a jump into an operand", pc);
      if (body <= pc + 1 || body >= a1 - 3)
        return refuse("loop body outside the loop", pc);
      loops.push_back(pc);
      flow(a1, shape + "S", pc);
      flow(body, shape + "SS", pc);
      break;
    }
    case FLOW_LOOPEND: {
      const ix_byte body = code[pc + 2];
      if (body >= pc)
        return refuse("loop body outside the loop", pc);
      flow(next, shape + "S", pc);
      flow(body, shape + "SS", pc);
      break;
    }
    case FLOW_TABLE: {
      /* The table is one of the indexical's literals (checked above). */
      const ix_byte ret = code[pc + 2];
      if (ret <= pc)
        return refuse("backward jump", pc);
      const auto *sw = reinterpret_cast<const sw_on_key *>(a1);
      flow(ret, shape + "S", pc);
      for (std::uint32_t i = 0; i < sw_slots(sw); i++) {
        const sw_on_key_node &e = sw->tab[i];
        if (e.key == 0 || e.value.any == nullptr)
          continue;
        if (!IsSmall(e.value.word) || GetSmall(e.value.word) < 0)
          return refuse("table entry not a code offset", pc);
        flow(static_cast<unsigned>(GetSmall(e.value.word)), shape + "R", pc);
      }
      break;
    }
    case FLOW_RETURN:
      /* The caller's continuation is checked at the 69 that jumped here:
         R below S guarantees the stack is the caller's, plus the result. */
      break;
    }
  }
  /* Every 64 closes a loop; a body never pops the accumulator and the rest
     it was entered with, so each round consumes a value of a finite set. */
  for (unsigned pc = 0; pc < length && fault == nullptr; pc++) {
    if (!reached[pc] || code[pc] != 64)
      continue;
    bool closes = false;
    for (unsigned l : loops)
      closes = closes || code[l + 1] == pc + 3;
    if (!closes)
      fail("loop end without its start", pc);
  }
  for (unsigned l : loops) {
    const unsigned off = code[l + 1], body = code[off - 1];
    const std::size_t floor = at[l].size() + 1; /* base, accumulator, rest */
    for (unsigned pc = body; pc < off - 3 && fault == nullptr; pc++) {
      if (!reached[pc] || code[pc] > IX_LAST_INSTRUCTION)
        continue;
      if (at[pc].size() < floor || at[pc].size() - std::strlen(IX_TABLE[code[pc]].in) < floor)
        fail("loop body pops the loop's own entries", pc);
    }
  }
  if (fault != nullptr)
    return refuse(fault, fault_at);
  return true;
}
