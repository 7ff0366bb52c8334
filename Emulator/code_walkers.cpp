/* code_walkers.cpp: the walkers of compiled code (see code_walkers.h).
 *
 * Lengths come from insn_length and operand positions from
 * for_each_operand, both driven by the format letters of the one
 * instruction table.  The walkers trust the code: it was built by the
 * compiler or the saved-state reader.
 */
#include "code_walkers.h"

#include <cstdint>

#include "initial_atoms.h"
#include "wamsup.h"

namespace {

std::uint32_t address_word(const void *p)
{
  return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(p));
}

bool is_call_format(int fmt)
{
  switch (fmt) {
  case fmt_Ce: case fmt_aAZEe: case fmt_QCe: case fmt_QaAZEe: case fmt_QAZEe: case fmt_QZEe:
  case fmt_AZEe: case fmt_AZre: case fmt_ZEe: case fmt_Zre: case fmt_aAZre: case fmt_r:
    return true;
  default:
    return false;
  }
}

/* Done instructions that release the environment on their way out. */
bool is_progress(int insn)
{
  switch (insn) {
  case GET_Y_VALUE_PROGRESS: case UNIFY_Y_VALUE_PROGRESS: case UNIFY_Y_LOCAL_VALUE_PROGRESS:
  case UNIFY_CONSTANT_PROGRESSQ: case UNIFY_CONSTANT_PROGRESS: case UNIFY_NIL_PROGRESS:
  case PROGRESS: case CUT_Y_PROGRESS: case RESTORE_OPERANDS_PROGRESS:
    return true;
  default:
    return false;
  }
}

INSN *clause_end(emul_info *clause)
{
  return reinterpret_cast<INSN *>(reinterpret_cast<char *>(clause) + emul_objsize(clause));
}

} // namespace

INSN *skip_insn(INSN *p, int *cls, INSN *label)
{
  const int insn = INSN_OF(*p);
  int c = insn_class[insn] == iclass_done ? SKIP_DONE : SKIP_PLAIN;
  if (c == SKIP_PLAIN && is_call_format(insn_fmt[insn]))
    c = SKIP_CALL;
  if (cls != nullptr)
    *cls = c;
  if (label != nullptr && elsecode != nullptr) {
    const std::uint32_t marker = address_word(elsecode);
    for_each_operand(p, [&](char letter, INSN *at) {
      if (letter == 'p' && code_word(at) == marker)
        set_code_word(at, address_word(label));
    });
  }
  return p + insn_length(p);
}

INSN *wire_else(emul_info *clause)
{
  INSN *label = clause->elsecode;
  /* A profiled continuation counts its entry first; a failing test of this
     clause is not an entry of the next, so it lands past the counter. */
  if (*label == OPCODE(BUMP_ENTRY) || *label == OPCODE(BUMP_ENTRYQ))
    label += insn_length(label);
  INSN *p = clause->emulcode;
  int cls;
  do
    p = skip_insn(p, &cls, label);
  while (cls == SKIP_PLAIN);
  return p;
}

int init_environment(frame *e, INSN *continuation)
{
  const TAGGED uninit = MakeAtom(atom_Duninit_enum);
  char *base = reinterpret_cast<char *>(e);
  auto store = [&](INSN y_offset) { *reinterpret_cast<TAGGED *>(base + y_offset) = uninit; };
  int stored = 0;
  INSN *p = continuation;
  int cls;
  do {
    for_each_operand(p, [&](char letter, INSN *at) {
      switch (letter) {
      case 'v':
        store(at[0]);
        stored = 1;
        break;
      case 'G':
        for (unsigned k = 0; k < at[0]; k++) {
          store(at[2 + 2 * k]);
          stored = 1;
        }
        break;
      case 'Z':
        /* Mode 1 makes a new variable in the Y slot. */
        for (unsigned k = 1; k <= static_cast<unsigned>(at[0] >> 8); k++)
          if ((at[k] & 3) == 1) {
            store(static_cast<INSN>(at[k] & ~3u));
            stored = 1;
          }
        break;
      default:
        break;
      }
    });
    p = skip_insn(p, &cls, nullptr);
  } while (cls < SKIP_DONE);
  return stored;
}

int continuation_type(INSN *continuation, INSN **insnp)
{
  for (INSN *p = continuation;; p += insn_length(p)) {
    const int insn = INSN_OF(*p);
    switch (insn_fmt[insn]) {
    case fmt_E: case fmt_aAZEe: case fmt_QE: case fmt_QaAZEe: case fmt_aZ: case fmt_aAZre:
    case fmt_r: case fmt_adv: case fmt_auv: case fmt_av: case fmt_aG:
      return 0;
    case fmt_QAZEe: case fmt_AZEe: case fmt_AZre:
      if (insnp != nullptr)
        *insnp = p + insn_length(p);
      return 1;
    case fmt_QZEe: case fmt_ZEe: case fmt_Zre:
      if (insnp != nullptr)
        *insnp = p + insn_length(p);
      return 2;
    case fmt_QZE: case fmt_ZE: case fmt_Zr:
      return 3;
    default:
      break;
    }
    if (insn_class[insn] == iclass_done)
      return is_progress(insn) ? 3 : 0;
  }
}

INSN *skip_choice_block(INSN *p)
{
  INSN *after_head = p + 8;
  if (code_word(p + 6) == address_word(after_head))
    return after_head;
  auto *node = reinterpret_cast<try_node *>(after_head);
  while (node->next != nullptr)
    node++;
  return reinterpret_cast<INSN *>(node + 1);
}

void wam_reset_counters(emul_info *clause)
{
  INSN *const end = clause_end(clause);
  for (INSN *p = clause->emulcode; p < end;) {
    if (*p == EMBEDDED_CHOICE_UNIT) {
      p = skip_choice_block(p);
      continue;
    }
    INSN *next = p + insn_length(p);
    if (next > end)
      break;
    for_each_operand(p, [](char letter, INSN *at) {
      if (letter == 'P')
        set_code_word(at, 0);
    });
    p = next;
  }
}

void wam_gather_counters(emul_info *clause, int *calls, int *choicepoints, int *instructions)
{
  INSN *const end = clause_end(clause);
  std::uint32_t ncalls = static_cast<std::uint32_t>(*calls);
  std::uint32_t nchoices = static_cast<std::uint32_t>(*choicepoints);
  std::uint32_t ninsns = static_cast<std::uint32_t>(*instructions);
  std::uint32_t count = 0;   /* executions of the current basic block */
  bool after_done = false;   /* not reached by falling through: its block has its own counter */
  for (INSN *p = clause->emulcode; p < end;) {
    if (*p == EMBEDDED_CHOICE_UNIT) {
      p = skip_choice_block(p);
      after_done = false;
      continue;
    }
    INSN *next = p + insn_length(p);
    if (next > end)
      break;
    INSN *first_counter = nullptr, *second = nullptr;
    for_each_operand(p, [&](char letter, INSN *at) {
      if (letter == 'P')
        (first_counter == nullptr ? first_counter : second) = at;
    });
    if (second != nullptr) {        /* BUMP_ENTRY: calls, then choicepoints */
      ncalls += code_word(first_counter);
      nchoices += code_word(second);
    } else if (first_counter != nullptr) { /* BUMP_COUNTER starts a block */
      count = code_word(first_counter);
    } else if (!after_done) {
      ninsns += count;
    }
    after_done = insn_class[INSN_OF(*p)] == iclass_done;
    p = next;
  }
  *calls = static_cast<int>(ncalls);
  *choicepoints = static_cast<int>(nchoices);
  *instructions = static_cast<int>(ninsns);
}

void checkasserts(void) {}
