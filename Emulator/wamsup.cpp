/* wamsup.cpp: canned code, try nodes, the call/N clause and the readers of
 * a clause's first instruction (see wamsup.h).
 *
 * The canned block's halfword indices are fixed: stubs are compared by
 * address by the indexer (failcode, pfailcode), by the else wiring
 * (elsecode) and by the suspension code (contcode + 2k), so the layout is
 * written out index by index below.  Pads of Q forms are always 0.
 */
#include "wamsup.h"

#include <cstdint>
#include <cstring>

#include "memman.h"
#include "preds.h"

INSN *canned_code = nullptr;
INSN *elsecode = nullptr;
INSN *failcode = nullptr;
INSN *pfailcode = nullptr;
INSN *dispatchcode = nullptr;
INSN *proceedcode = nullptr;
INSN *contcode = nullptr;
INSN *exitcode = nullptr;
try_node *fail_alt = nullptr;
try_node *proceed_alt = nullptr;
try_node *termcode = nullptr;
try_node *excpcode = nullptr;

void (*def_call_n_install)(definition *def, emul_info *clause) = nullptr;

namespace {

INSN *exit_block = nullptr;    /* {8, EXIT_TOPLEVEL, 1} */
constexpr std::size_t EXIT_BLOCK_HALFWORDS = 3;
constexpr INSN EMPTY_FRAME = 8; /* bytes of an environment without variables */

/* Code of a retry block, just after its node. */
INSN *retry_code(try_node *node) { return reinterpret_cast<INSN *>(node + 1); }

try_node *new_retry_block(int arity, INSN opcode, std::uint32_t operand)
{
  auto *node = static_cast<try_node *>(checkalloc(RETRY_BLOCK_SIZE, mm_code(MM_BIN_MISC)));
  std::memset(node, 0, RETRY_BLOCK_SIZE);
  INSN *code = retry_code(node);
  code[0] = opcode;
  code[1] = 0;
  set_code_word(code + 2, operand);
  node->next = nullptr;
  node->entry = code;
  node->link = node;
  node->node_offset = node_offset_for(static_cast<unsigned>(arity));
  node->opcode = OPCODE(TRY);
  return node;
}

void clear_pointers(void)
{
  canned_code = elsecode = failcode = pfailcode = nullptr;
  dispatchcode = proceedcode = contcode = exitcode = nullptr;
  exit_block = nullptr;
  fail_alt = proceed_alt = termcode = excpcode = nullptr;
}

/* The memory manager takes all engine memory back at its own shutdown;
   drop our pointers then so none is left dangling if deinit_wamsup did
   not run first. */
void drop_on_memman_deinit(void) { clear_pointers(); }

void free_try_node(try_node *&node)
{
  if (node != nullptr)
    checkdealloc(node, TRY_NODE_SIZE, mm_code(MM_BIN_TRY_NODE));
  node = nullptr;
}

void free_retry_block(try_node *&node)
{
  if (node != nullptr)
    checkdealloc(node, RETRY_BLOCK_SIZE, mm_code(MM_BIN_MISC));
  node = nullptr;
}

bool is_x0(INSN operand) { return operand == x_operand(0); }

} // namespace

int init_wamsup(void)
{
  memman_add_release_hook(drop_on_memman_deinit);
  INSN *c = static_cast<INSN *>(VR_malloc(CANNED_CODE_HALFWORDS * sizeof(INSN)));
  INSN *x = static_cast<INSN *>(VR_malloc(EXIT_BLOCK_HALFWORDS * sizeof(INSN)));
  if (c == nullptr || x == nullptr) {
    VR_free(c);
    VR_free(x);
    clear_pointers();
    return 0;
  }
  /* Zeroed first: the pad of BUMP_COUNTERQ must be 0, and the profiling
     counters of pfailcode then start from 0 until the profiler sets them. */
  std::memset(c, 0, CANNED_CODE_HALFWORDS * sizeof(INSN));
  c[0] = EMPTY_FRAME;
  c[CANNED_ELSECODE] = OPCODE(FAIL);
  c[2] = EMPTY_FRAME;
  c[CANNED_FAILCODE] = OPCODE(FAIL);
  c[4] = EMPTY_FRAME;
  c[CANNED_PFAILCODE] = OPCODE(BUMP_ENTRY); /* counters in 6..9 */
  c[10] = OPCODE(BUMP_COUNTERQ);            /* pad 11, counter 12..13 */
  c[11] = 0;
  c[14] = OPCODE(FAIL);
  c[15] = EMPTY_FRAME;
  c[CANNED_DISPATCHCODE] = OPCODE(SWITCH_ON_PRED);
  c[17] = EMPTY_FRAME;
  c[CANNED_PROCEEDCODE] = OPCODE(PROCEED);
  for (unsigned k = 0; k < 256; k++) {
    c[CANNED_CONTCODE - 1 + 2 * k] = static_cast<INSN>(EMPTY_FRAME + 4 * k);
    c[CANNED_CONTCODE + 2 * k] = OPCODE(KONTINUE);
  }
  canned_code = c;
  elsecode = c + CANNED_ELSECODE;
  failcode = c + CANNED_FAILCODE;
  pfailcode = c + CANNED_PFAILCODE;
  dispatchcode = c + CANNED_DISPATCHCODE;
  proceedcode = c + CANNED_PROCEEDCODE;
  contcode = c + CANNED_CONTCODE;

  x[0] = EMPTY_FRAME;
  x[1] = OPCODE(EXIT_TOPLEVEL);
  x[2] = 1;
  exit_block = x;
  exitcode = x + 1;

  fail_alt = make_try_node(0, failcode);
  proceed_alt = make_try_node(0, proceedcode);

  /* The query alternatives: EXIT_TOPLEVEL with the result halfword after
     it.  termcode stays its own next so repeated failures keep the query's
     choicepoint; excpcode's choicepoint is popped. */
  termcode = def_retry_c(nullptr, 3);
  termcode->entry[0] = OPCODE(EXIT_TOPLEVEL);
  termcode->entry[1] = 0;
  excpcode = def_retry_c(nullptr, 3);
  excpcode->entry[0] = OPCODE(EXIT_TOPLEVEL);
  excpcode->entry[1] = static_cast<INSN>(-1);
  excpcode->next = nullptr;

  if (preds.nd_current_instance != nullptr)
    preds.nd_current_instance->entry[0] = OPCODE(RETRY_INSTANCE);
  return 1;
}

void deinit_wamsup(void)
{
  VR_free(canned_code);
  VR_free(exit_block);
  free_try_node(fail_alt);
  free_try_node(proceed_alt);
  free_retry_block(termcode);
  free_retry_block(excpcode);
  clear_pointers();
}

try_node *make_try_node(int arity, INSN *code)
{
  auto *node = static_cast<try_node *>(checkalloc(TRY_NODE_SIZE, mm_code(MM_BIN_TRY_NODE)));
  node->next = nullptr;
  node->entry = code;
  node->link = node;
  node->node_offset = node_offset_for(static_cast<unsigned>(arity));
  node->opcode = OPCODE(TRY);
  return node;
}

try_node *def_retry_prolog(definition *def, int arity)
{
  return new_retry_block(arity, OPCODE(EXECUTEQ), static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(def)));
}

try_node *def_retry_c(retry_c_fn function, int arity)
{
  try_node *node = new_retry_block(arity, OPCODE(RETRY_CQ),
                                   static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(function)));
  node->next = node;
  return node;
}

emul_info *make_call_n_clause(unsigned n)
{
  auto *clause = static_cast<emul_info *>(checkalloc(CALL_N_CLAUSE_SIZE, mm_code(MM_BIN_EMUL_INFO)));
  clause->next = nullptr;
  clause->elsecode = failcode;
  set_emul_ix_objsize(clause, 0, CALL_N_CLAUSE_SIZE);
  clause->filename = atom_nil;
  clause->emulcode[0] = OPCODE(EXECUTE_CALL);
  clause->emulcode[1] = static_cast<INSN>(n);
  return clause;
}

int def_call_n(definition *def, unsigned arity)
{
  emul_info *clause = make_call_n_clause(arity);
  if (def_call_n_install == nullptr) {
    checkdealloc(clause, CALL_N_CLAUSE_SIZE, mm_code(MM_BIN_EMUL_INFO));
    return 0;
  }
  def_call_n_install(def, clause);
  return 1;
}

TAGGED key_of_clause(const emul_info *clause)
{
  const INSN *p = clause->emulcode;
  /* Profiled code counts the entry before testing anything. */
  while (*p == OPCODE(BUMP_COUNTERQ) || *p == OPCODE(BUMP_ENTRYQ))
    p += insn_length(p);
  switch (INSN_OF(*p)) {
  case GET_LIST_X0:
    return functor_list;
  case GET_NIL_X0:
    return atom_nil;
  case GET_STRUCTURE_X0Q:
  case GET_CONSTANT_X0Q:
  case GET_LARGE_X0Q: /* the key of a boxed number is its header */
    return code_word(p + 2);
  case CHECK_HEAPQ:
    break;
  default:
    return 0;
  }
  /* After a heap check the test on X0 uses the general instructions. */
  const INSN *q = p + insn_length(p);
  if (!is_x0(q[1]))
    return 0;
  switch (INSN_OF(*q)) {
  case GET_STRUCTURE:
  case GET_STRUCTURE_XVAR_XVAR:
  case GET_LARGE:
    return code_word(q + 2);
  case GET_LIST:
  case GET_LIST_XVAR_XVAR:
    return functor_list;
  default:
    return 0;
  }
}

int p2_offset(const INSN *label)
{
  switch (INSN_OF(*label)) {
  case GET_CONSTANT_X0Q:
  case GET_STRUCTURE_X0Q:
    return 4;
  case GET_CONSTANT_X0:
  case GET_STRUCTURE_X0:
    return 3;
  case GET_NIL_X0:
  case GET_LIST_X0:
    return 1;
  default:
    return 0;
  }
}

int p2_unoffset(const INSN *label, TAGGED key)
{
  if ((reinterpret_cast<std::uintptr_t>(label) & 3) != 0)
    return -1;
  const INSN *test = label - 4;
  if ((*test == OPCODE(GET_CONSTANT_X0Q) || *test == OPCODE(GET_STRUCTURE_X0Q)) && code_word(test + 2) == key)
    return -4;
  return 0;
}
