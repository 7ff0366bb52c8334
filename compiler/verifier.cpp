/* verifier.cpp: static checks of a compiled clause record.
 *
 * Two passes.  The first walks the code in address order exactly as the
 * saved-state relocation and the code walkers do (instructions by the one
 * format table, embedded choice blocks by their unit 5) and checks
 * everything local to one instruction or block: opcodes, bounds, operand
 * encodings, alignment, pads, overlapping register pairs, else addresses
 * of the main part, and that no straight-line path runs into a block or
 * off the end.  It records every address that points back into the
 * clause.  The second pass checks those addresses against the instruction
 * starts and block heads found, then follows the control paths (from the
 * clause start and from every alternative of a block, each entered with
 * no environment, since entering a block is a call) to check the order of
 * environment allocation, linking and deallocation.  Last, the index bits
 * are compared with the first-argument key that indexing will read.
 * Called by the compiler's clause installation and by the unit tests.
 */
#include "verifier.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "code_records.h"
#include "indexing.h"
#include "insn_table.h"
#include "termdefs.h"
#include "wamsup.h"

namespace {

std::uint32_t addr_of(const void *p)
{
  return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(p));
}

enum : unsigned char { AT_NOTHING = 0, AT_INSN = 1, AT_BLOCK = 2 };

/* Environment states along a path: none yet, allocated (E set, frame not
   yet linked), linked (FIRSTCALL or INITCALL made it the frame). */
enum env_state : unsigned { ENV_NONE = 0, ENV_ALLOCATED = 1, ENV_LINKED = 2 };

bool is_x0_form(int insn)
{
  switch (insn) {
  case GET_CONSTANT_X0Q: case GET_CONSTANT_X0: case GET_STRUCTURE_X0Q: case GET_STRUCTURE_X0:
  case GET_NIL_X0: case GET_LIST_X0: case GET_LARGE_X0Q: case GET_LARGE_X0:
    return true;
  default:
    return false;
  }
}

/* The register-pair instructions: each X operand is moved or unified in
   operand order, so a register one of them writes must not be one it
   reads or writes afterwards. */
bool is_paired_form(int insn)
{
  return insn == GET_XVAR_XVAR || insn == GET_STRUCTURE_XVAR_XVARQ || insn == GET_STRUCTURE_XVAR_XVAR ||
         insn == GET_LIST_XVAR_XVAR || (insn >= U2_VOID_XVAR && insn <= U2_XLVAL_XLVAL);
}

bool is_unify_family(int insn) { return insn >= UNIFY_VOID && insn <= U2_XLVAL_XLVAL; }

/* The deallocating proceeds; RESTORE_OPERANDS_PROGRESS belongs to the
   meta-call machinery and restores its own frame. */
bool is_progress_form(int insn)
{
  switch (insn) {
  case GET_Y_VALUE_PROGRESS: case UNIFY_Y_VALUE_PROGRESS: case UNIFY_Y_LOCAL_VALUE_PROGRESS:
  case UNIFY_CONSTANT_PROGRESSQ: case UNIFY_CONSTANT_PROGRESS: case UNIFY_NIL_PROGRESS:
  case PROGRESS: case CUT_Y_PROGRESS:
    return true;
  default:
    return false;
  }
}

bool is_firstcall(int insn) { return insn == FIRSTCALLQ || insn == FIRSTCALL || insn == FIRSTCALL_CALL; }
bool is_initcall(int insn) { return insn == INITCALLQ || insn == INITCALL || insn == INITCALL_CALL; }

/* Their handlers read argument modes 0, 1 and 3 only. */
bool list_without_unsafe(int insn)
{
  return insn == FIRSTCALLQ || insn == FIRSTCALL || insn == INITCALLQ || insn == INITCALL || insn == PUT_FIRST;
}

bool has_letter(int insn, char letter)
{
  return std::strchr(fmt_letters[insn_fmt[insn]], letter) != nullptr;
}

bool ends_walk(int insn)
{
  /* The foreign-call stub's data after OPEN_FOREIGN_CALL is not code. */
  return insn_fmt[insn] == fmt_QiiEC || insn_fmt[insn] == fmt_iiEC;
}

struct in_clause_ref {
  std::size_t from;      /* halfword of the instruction or try node */
  std::size_t target;    /* halfword index in the clause */
  char what;             /* 'p' else, 't' try entry, 'E' call target */
};

struct verifier {
  verifier(const emul_info *c, int a, std::string *w) : clause(c), arity(a), why(w) {}
  const emul_info *clause;
  int arity;
  std::string *why;
  const INSN *code = nullptr;
  std::size_t n = 0;                 /* code halfwords */
  std::vector<unsigned char> at;     /* AT_* per halfword */
  std::vector<in_clause_ref> refs;
  std::vector<std::size_t> entries;  /* alternatives of embedded blocks */
  bool walk_stopped = false;         /* at a foreign-call stub */

  bool fail(const char *rule, std::size_t where, const std::string &detail)
  {
    if (why != nullptr)
      *why = std::string(rule) + ": " + detail + " at halfword " + std::to_string(where);
    return false;
  }

  static std::string name(int insn) { return insnname[insn]; }

  /* The halfword index of an address inside the code, or n when outside
     or not on a halfword. */
  std::size_t index_of(std::uint32_t a) const
  {
    const std::uint32_t lo = addr_of(code);
    if (a < lo || a >= lo + 2 * n || (a - lo) % 2 != 0)
      return n;
    return (a - lo) / 2;
  }

  bool x_ok(INSN op) const { return op >= 180 && (op - 180u) % 4 == 0 && x_index(op) < 256; }
  bool y_ok(INSN op) const { return op >= 8 && (op - 8u) % 4 == 0; }

  bool walk();
  bool block(std::size_t &i);
  bool instruction(std::size_t &i, bool &main_part, bool leading, std::size_t &last);
  bool operand(int insn, std::size_t i, char letter, std::size_t pos, std::size_t &width, bool main_part);
  bool check_refs();
  bool paths();
  bool index_bits();
};

bool verifier::walk()
{
  bool main_part = true;
  bool leading = true;              /* only entry counters so far */
  std::size_t last = n;             /* the last instruction other than NOP */
  std::size_t i = 0;
  while (i < n) {
    if (code[i] == EMBEDDED_CHOICE_UNIT) {
      if (last == n)
        return fail("choice block", i, "the clause begins with a choice block, so its entry is not code");
      if (insn_class[INSN_OF(code[last])] != iclass_done)
        return fail("done", last, name(INSN_OF(code[last])) + " falls through into the choice block at halfword " +
                                      std::to_string(i));
      main_part = false;
      leading = false;
      if (!block(i))
        return false;
      last = n;
      continue;
    }
    const std::size_t start = i;
    if (!instruction(i, main_part, leading, last))
      return false;
    if (walk_stopped)
      return true;
    const int insn = INSN_OF(code[start]);
    if (insn != BUMP_COUNTERQ && insn != BUMP_ENTRYQ)
      leading = false;
  }
  if (last == n)
    return fail("done", n, "the clause ends with a choice block: no code follows for its alternatives");
  if (insn_class[INSN_OF(code[last])] != iclass_done)
    return fail("done", last, name(INSN_OF(code[last])) + " is the last instruction and control falls off the clause");
  return true;
}

bool verifier::block(std::size_t &i)
{
  const INSN *p = code + i;
  if (addr_of(p) % 4 != 0)
    return fail("choice block", i, "the block is not 4-byte aligned");
  if (i + 8 > n)
    return fail("objsize", i, "the choice block's head runs past the end of the clause");
  const unsigned block_arity = p[1];
  if (block_arity > 255)
    return fail("choice block", i, "arity " + std::to_string(block_arity) + " is out of range");
  if (p[2] != 8 + 4 * block_arity || p[3] != OPCODE(KONTINUE))
    return fail("choice block", i, "the head's environment size or KONTINUE does not match its arity");
  at[i] = AT_BLOCK;
  const std::uint32_t first = code_word(p + 6);
  if (first == addr_of(p + 8)) {
    entries.push_back(i + 8);
    i += 8;
    return true;
  }
  std::size_t j = i + 8;
  if (first != addr_of(code + j + 7))
    return fail("choice block", i, "the head's code is neither just past the head nor the first try node's TRY");
  unsigned count = 0;
  for (;;) {
    if (j + 8 > n)
      return fail("objsize", j, "a try node runs past the end of the clause");
    const auto *node = reinterpret_cast<const try_node *>(code + j);
    if (node->link != node || node->node_offset != node_offset_for(block_arity) || node->opcode != OPCODE(TRY))
      return fail("choice block", j, "the try node's link, node offset or TRY opcode is wrong");
    const std::size_t target = index_of(addr_of(node->entry));
    if (target == n)
      return fail("try entry", j, "the alternative's entry lies outside the clause");
    refs.push_back({j, target, 't'});
    entries.push_back(target);
    count++;
    j += 8;
    if (node->next == nullptr)
      break;
    if (node->next != node + 1)
      return fail("choice block", j - 8, "the try nodes are not chained in the order they are laid out");
  }
  if (count < 2)
    return fail("choice block", i, "a single alternative has no try node: its code must follow the head directly");
  i = j;
  return true;
}

bool verifier::instruction(std::size_t &i, bool &main_part, bool leading, std::size_t &last)
{
  const INSN op = code[i];
  if (op % 8 != 0 || op >= 8 * INSN_COUNT)
    return fail("opcode", i, "the halfword " + std::to_string(op) + " is neither an opcode nor a choice block");
  const int insn = INSN_OF(op);
  at[i] = AT_INSN;

  if (is_x0_form(insn) && !leading)
    return fail("x0 form", i, name(insn) + " tests X0 but is not the clause's first test");
  if (last != n && (INSN_OF(code[last]) == UNIFY_LARGEQ || INSN_OF(code[last]) == UNIFY_LARGE) && is_unify_family(insn))
    return fail("unify_large", last, "an inline number must be the last argument of its structure, but " + name(insn) +
                                         " follows it");

  std::vector<INSN> written; /* X registers written so far by a paired form */
  std::size_t pos = 1;
  for (const char *f = fmt_letters[insn_fmt[insn]]; *f != '\0'; f++) {
    std::size_t width = 0;
    if (!operand(insn, i, *f, i + pos, width, main_part))
      return false;
    if (i + pos + width > n)
      return fail("objsize", i, name(insn) + " runs past the end of the clause");
    if (is_paired_form(insn) && (*f == 'u' || *f == 'd')) {
      const INSN x = code[i + pos];
      for (INSN w : written)
        if (w == x)
          return fail("overlap", i, name(insn) + " writes X" + std::to_string(x_index(x)) +
                                        " and then uses it again as a later operand");
      if (*f == 'd')
        written.push_back(x);
    }
    pos += width;
  }
  if (insn != NOP)
    last = i;
  i += pos;
  if (ends_walk(insn))
    walk_stopped = true;
  return true;
}

bool verifier::operand(int insn, std::size_t i, char letter, std::size_t pos, std::size_t &width, bool main_part)
{
  auto need = [&](std::size_t k) { return pos + k <= n; };
  switch (letter) {
  case 'Q':
    width = 1;
    if (need(1) && code[pos] != 0)
      return fail("pad", i, "the pad of " + name(insn) + " holds " + std::to_string(code[pos]) + ", not 0");
    return true;
  case 'u': case 'd':
    width = 1;
    if (need(1) && !x_ok(code[pos]))
      return fail("x operand", i, name(insn) + " has X operand " + std::to_string(code[pos]) +
                                      ", not 180 + 4i with i below 256");
    return true;
  case 'y': case 'v':
    width = 1;
    if (need(1) && !y_ok(code[pos]))
      return fail("y operand", i, name(insn) + " has Y operand " + std::to_string(code[pos]) + ", not 8 + 4i");
    return true;
  case 'e':
    width = 1;
    if (need(1) && (code[pos] < 8 || code[pos] % 4 != 0))
      return fail("environment size", i, name(insn) + " has environment size " + std::to_string(code[pos]));
    return true;
  case 'i': case 'r':
    width = 1;
    return true;
  case 's':
    if (!need(1))
      return fail("objsize", i, "NOP runs past the end of the clause");
    width = code[pos];
    if (width == 0)
      return fail("objsize", i, "NOP length 0 does not count itself");
    return true;
  case 'Z': {
    if (!need(1))
      return fail("objsize", i, name(insn) + " runs past the end of the clause");
    const unsigned count = code[pos] >> 8, first = code[pos] & 0xFF;
    width = 1 + count;
    if (!need(width))
      return true; /* reported by the caller */
    if (first + count > 256)
      return fail("x operand", i, name(insn) + " loads registers beyond X255");
    for (unsigned k = 1; k <= count; k++) {
      const INSN a = code[pos + k];
      const unsigned mode = a & 3;
      if (mode == 3 ? a != 3 : !y_ok(static_cast<INSN>(a - mode)))
        return fail("argument list", i, name(insn) + " argument " + std::to_string(k - 1) + " is " + std::to_string(a));
      if (mode == 2 && list_without_unsafe(insn))
        return fail("argument list", i, name(insn) + " cannot pass an unsafe value (argument " +
                                            std::to_string(k - 1) + ")");
    }
    return true;
  }
  case 'G': {
    if (!need(1))
      return fail("objsize", i, name(insn) + " runs past the end of the clause");
    const unsigned count = code[pos];
    width = 1 + 2 * count;
    if (!need(width))
      return true;
    for (unsigned k = 0; k < count; k++) {
      if (!x_ok(code[pos + 1 + 2 * k]))
        return fail("x operand", i, name(insn) + " move " + std::to_string(k) + " has a bad X operand");
      if (!y_ok(code[pos + 2 + 2 * k]))
        return fail("y operand", i, name(insn) + " move " + std::to_string(k) + " has a bad Y operand");
    }
    return true;
  }
  case 't': case 'f': case 'l': case 'p': case 'P': case 'C': case 'E': case 'L':
    break;
  default:
    width = 0; /* markers and implied registers */
    return true;
  }

  /* The 32-bit operands. */
  if (addr_of(code + pos) % 4 != 0) {
    const int other = insn_q_of(insn) >= 0 ? insn_q_of(insn) : insn_plain_of(insn);
    return fail("alignment", i, "a 32-bit operand of " + name(insn) + " is not 4-byte aligned" +
                                    (other >= 0 ? " (" + name(other) + " belongs here)" : std::string()));
  }
  if (!need(2)) {
    width = 2;
    return true;
  }
  const std::uint32_t word = code_word(code + pos);
  width = 2;
  switch (letter) {
  case 'L': {
    const unsigned kind = word & 0xF;
    if (!IsBoxHeader(word) || (kind != 7 && kind != 15) || BoxWords(word) < 2 || (kind == 15 && BoxWords(word) != 3))
      return fail("number", i, name(insn) + " has no valid inline number header");
    width = 2 * BoxWords(word);
    return true;
  }
  case 'p': {
    if (word == addr_of(failcode))
      return true;
    if (main_part) {
      if (word == addr_of(elsecode) || word == addr_of(clause->elsecode))
        return true;
      return fail("else address", i, name(insn) + " in the clause's main part goes elsewhere than the failure code or "
                                         "the clause's else continuation");
    }
    const std::size_t target = index_of(word);
    if (target == n)
      return fail("else address", i, name(insn) + " after a choice block jumps outside the clause");
    refs.push_back({i, target, 'p'});
    return true;
  }
  case 'E': {
    const std::size_t target = index_of(word);
    if (target != n)
      refs.push_back({i, target, 'E'});
    return true;
  }
  default:
    return true;
  }
}

bool verifier::check_refs()
{
  for (const in_clause_ref &r : refs) {
    switch (r.what) {
    case 'p':
      if (at[r.target] != AT_INSN)
        return fail("else address", r.from, "the else address (halfword " + std::to_string(r.target) +
                                                ") is not the start of an instruction");
      break;
    case 't':
      if (at[r.target] != AT_INSN)
        return fail("try entry", r.from, "the alternative's entry (halfword " + std::to_string(r.target) +
                                             ") is not the start of an instruction");
      break;
    case 'E':
      if (at[r.target] != AT_BLOCK)
        return fail("call target", r.from, "a call into the clause (halfword " + std::to_string(r.target) +
                                               ") does not name a choice block's head");
      break;
    }
  }
  return true;
}

bool verifier::paths()
{
  std::vector<unsigned char> seen(n, 0); /* bit per env_state */
  std::vector<std::pair<std::size_t, env_state>> work;
  work.push_back({0, ENV_NONE});
  for (std::size_t e : entries)
    work.push_back({e, ENV_NONE});
  while (!work.empty()) {
    auto [i, state] = work.back();
    work.pop_back();
    while (i < n && at[i] == AT_INSN && (seen[i] & (1u << state)) == 0) {
      seen[i] |= static_cast<unsigned char>(1u << state);
      const int insn = INSN_OF(code[i]);
      if (is_initcall(insn) && state != ENV_NONE)
        return fail("initcall", i, name(insn) + " allocates an environment that is already allocated");
      if (is_firstcall(insn) && state == ENV_NONE)
        return fail("firstcall", i, name(insn) + " comes before the environment was allocated");
      if (is_firstcall(insn) && state == ENV_LINKED)
        return fail("firstcall", i, name(insn) + " links an environment that an earlier call already linked");
      if (is_progress_form(insn) && state == ENV_NONE)
        return fail("progress", i, name(insn) + " deallocates an environment that was never allocated");
      if (has_letter(insn, 'a') && state == ENV_NONE)
        state = ENV_ALLOCATED;
      if (has_letter(insn, 'A'))
        state = ENV_LINKED;
      std::size_t pos = 1;
      for (const char *f = fmt_letters[insn_fmt[insn]]; *f != '\0'; f++) {
        if (*f == 'p') {
          const std::size_t target = index_of(code_word(code + i + pos));
          if (target != n)
            work.push_back({target, state});
        }
        pos += operand_halfwords(*f, code + i + pos);
      }
      if (insn_class[insn] == iclass_done || ends_walk(insn))
        break;
      i += pos;
    }
  }
  return true;
}

bool verifier::index_bits()
{
  const unsigned ix = emul_ix(clause);
  const TAGGED key = key_of_clause(clause);
  const bool keyed = (ix & IX_CASES) != IX_CASES;
  if (key != 0 && arity == 0)
    return fail("ix", 0, "a predicate without arguments has a first-argument test");
  if ((key != 0) != keyed)
    return fail("ix", 0, key != 0 ? "the clause begins with a first-argument test but its index bits fit every argument"
                                  : "the index bits select first arguments but the clause begins with no test on X0");
  if (key == functor_list && (ix & IX_OTHER) != 0)
    return fail("ix", 0, "a clause keyed on a list has the other-keys bits");
  if (key != 0 && key != functor_list && (ix & IX_LIST) != 0)
    return fail("ix", 0, "a clause keyed on a non-list has the list bit");
  return true;
}

} // namespace

bool verify_clause(const emul_info *clause, int arity, std::string *why)
{
  verifier v(clause, arity, why);
  const std::uint32_t objsize = emul_objsize(clause);
  if (objsize < EMUL_INFO_HEADER + 2 || objsize % 2 != 0)
    return v.fail("objsize", 0, "record size " + std::to_string(objsize) + " holds no whole code");
  if (addr_of(clause->emulcode) % 4 != 0)
    return v.fail("alignment", 0, "the clause's code does not start 4-byte aligned");
  v.code = clause->emulcode;
  v.n = (objsize - EMUL_INFO_HEADER) / 2;
  v.at.assign(v.n, AT_NOTHING);
  return v.walk() && v.check_refs() && v.paths() && v.index_bits();
}
