/* insn_table.h: the bytecode format shared by the emulator, the code
 * builder, the disassembler, the code walkers and the saved-state reader.
 *
 * Code is an array of 16-bit INSN halfwords.  An instruction is an opcode
 * halfword (8 * instruction number) followed by its operands, laid out by
 * its format.  Operand letters and their widths in halfwords:
 *   Q 1  pad after the opcode, always 0, keeps the next 32-bit operand
 *        4-byte aligned
 *   0 1 2 3  0  implicit argument register X0..X3
 *   u d  1  X operand read / written: byte offset 180 + 4*i in the worker
 *   y v  1  Y operand read / initialised: byte offset 8 + 4*i in a frame
 *   a A  0  markers: allocate / link the environment
 *   i r e s 1  count, meta-call count, environment size, NOP length
 *   t f l p P C E  2  constant, functor, raw integer, else label, counter,
 *        native function, definition pointer
 *   L  2k inline boxed number of k words (header and payload, no trailer)
 *   Z  1+n  argument list: header (n << 8) | first, then n argument halfwords
 *   G  1+2n move list: count n, then n (X, Y) pairs
 * A 32-bit operand is one machine word stored in two halfwords.  The tables
 * themselves are written once in insns.def, insn_formats.def and
 * entry_kinds.def.
 */
#ifndef VOSTREL_INSN_TABLE_H
#define VOSTREL_INSN_TABLE_H

#include <cstring>

#include "termdefs.h"

enum insn_number : int {
#define INSN(n, name, fmt, cls) name = n,
#include "insns.def"
#undef INSN
  INSN_COUNT
};
static_assert(INSN_COUNT == 350);

/* Opcode halfword of an instruction. */
constexpr INSN OPCODE(int insn) { return static_cast<INSN>(8 * insn); }
constexpr int INSN_OF(INSN opcode) { return opcode >> 3; }

enum insn_fmt_enum : int {
#define FORMAT(n, name) name = n,
#include "insn_formats.def"
#undef FORMAT
  FMT_COUNT
};
static_assert(FMT_COUNT == 112);

enum iclass : int {
  iclass_done = 0, iclass_first = 1, iclass_later = 2, iclass_monop = 3,
  iclass_binop = 4, iclass_store = 5, iclass_none = 6
};

enum entry_kind : int {
#define ENTRY_KIND(n, name) name = n,
#include "entry_kinds.def"
#undef ENTRY_KIND
  ENTRY_KIND_COUNT
};
static_assert(ENTRY_KIND_COUNT == 49);

/* Tables indexed by instruction number, each followed by a terminating
   null / 0 entry. */
extern const char *const insnname[INSN_COUNT + 1];
extern const int insn_fmt[INSN_COUNT + 1];
extern const int insn_class[INSN_COUNT + 1];
/* Handlers, filled by the emulator: word 2k write mode, 2k + 1 read mode. */
extern void *inst_tab[2 * INSN_COUNT + 1];
/* Handlers of the entry kinds, filled by the emulator, then 0. */
extern void *pred_tab[ENTRY_KIND_COUNT + 1];
extern const char *const pred_type_name[ENTRY_KIND_COUNT];
/* The operand letters of each format (its name without "fmt_"). */
extern const char *const fmt_letters[FMT_COUNT];

/* Instruction number for a name, or -1. */
int insn_by_name(const char *name);
/* The plain twin of a Q form, or the Q form of a plain instruction; -1 when
   there is none. */
int insn_plain_of(int insn);
int insn_q_of(int insn);

/* 32-bit operands in code. */
inline std::uint32_t code_word(const INSN *p)
{
  std::uint32_t w;
  std::memcpy(&w, p, sizeof w);
  return w;
}
inline void set_code_word(INSN *p, std::uint32_t w) { std::memcpy(p, &w, sizeof w); }

/* Halfwords taken by an inline boxed number whose header is at p. */
inline unsigned large_halfwords(const INSN *p) { return 2 * BoxWords(code_word(p)); }

/* Halfwords taken by an operand of the given format letter whose first
   halfword is at `at` (0 for the letters that take none: 0-3, a, A).  The
   NOP length operand counts itself and what follows it. */
inline unsigned operand_halfwords(char letter, const INSN *at)
{
  switch (letter) {
  case 'Q': case 'u': case 'd': case 'y': case 'v': case 'i': case 'r': case 'e':
    return 1;
  case 's':
    return *at;
  case 't': case 'f': case 'l': case 'p': case 'P': case 'C': case 'E':
    return 2;
  case 'L':
    return large_halfwords(at);
  case 'Z':
    return 1 + (*at >> 8);
  case 'G':
    return 1 + 2 * *at;
  default:
    return 0;
  }
}

/* Length in halfwords of the instruction at p (opcode included).  Does not
   recognise embedded choice blocks: callers that may meet one check for
   the unit EMBEDDED_CHOICE_UNIT first. */
unsigned insn_length(const INSN *p);
constexpr INSN EMBEDDED_CHOICE_UNIT = 5;

/* Operand encodings. */
constexpr INSN x_operand(unsigned i) { return static_cast<INSN>(180 + 4 * i); }
constexpr unsigned x_index(INSN op) { return (op - 180u) / 4u; }
constexpr INSN y_operand(unsigned i) { return static_cast<INSN>(8 + 4 * i); }
constexpr unsigned y_index(INSN op) { return (op - 8u) / 4u; }

#endif
