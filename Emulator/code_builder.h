/* code_builder.h: assembling bytecode by instruction number or name.
 *
 * The back end of the Prolog compiler's clause installation and of every
 * emulator test.  A code_builder collects instructions with typed operands,
 * checks each operand against the instruction's format letter (a mismatch
 * throws std::invalid_argument naming the instruction and the operand), and
 * lays the code out when it is placed:
 *   - code starts 4-byte aligned; an instruction named in either its plain
 *     or its Q form is emitted as the Q form exactly where the plain form
 *     would put its first 32-bit operand 2 bytes off a multiple of 4, so
 *     every 32-bit operand of the result is 4-byte aligned;
 *   - labels (forward and backward) resolve to absolute code addresses when
 *     the code is placed: else labels (p), in-clause call targets (E) and
 *     the entries of embedded choice blocks;
 *   - embedded choice blocks (a pseudo predicate record of entry kind
 *     ENTER_INTERNAL followed by try nodes) are written by asm_try_insn at
 *     placement, so the saved-state reader and the builder share one layout.
 * Placement gives either an emul_info clause record as the database stores
 * it or code in a caller's buffer.  The disassembler (disasm.h) reads back
 * what this writes.
 */
#ifndef VOSTREL_CODE_BUILDER_H
#define VOSTREL_CODE_BUILDER_H

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <utility>
#include <vector>

#include "code_records.h"
#include "insn_table.h"
#include "termdefs.h"

struct definition;

/* Lays out one piece of an embedded choice block at `buffer` (4-byte
   aligned) and returns the address just after what it wrote.  nb 1 writes
   the 16-byte head {5, arity, 8 + 4 * arity, KONTINUE, handler of
   ENTER_INTERNAL, target}: a predicate record whose code is target.  nb 2
   (buffer just past the head) turns the head's target into a first try node
   and appends a second one for target; nb above 2 (buffer just past the last
   node) appends a further node and chains the previous one to it.  Each new
   node: next null, entry target, link itself, node_offset 24 + 4 * arity,
   opcode TRY; the head's code then points at the first node's opcode. */
INSN *asm_try_insn(void *buffer, INSN *target, int arity, int nb);

/* The same layout for code that will live at `address` but is written at
   `at` (images built before placement, saved-state writers). */
INSN *asm_try_insn_at(INSN *at, std::uint32_t address, std::uint32_t target, int arity, int nb);

/* A position in the code, bound once. */
struct cb_label {
  int id = -1;
};

/* One argument of a Z list: the Y variable and how the register gets it
   (0 value, 1 new variable, 2 unsafe value, 3 new heap variable). */
struct cb_arg {
  unsigned y;
  unsigned mode;
};

enum class cb_kind : unsigned char {
  xreg, yreg, count, constant, functor, raw, large, definition, definition_label,
  native, counter, else_label, else_address, args, moves
};

struct cb_operand {
  cb_kind kind;
  std::uint32_t value = 0;               /* register, count, word, label id, pointer */
  std::vector<std::uint32_t> words;      /* L: header and payload */
  std::vector<cb_arg> arglist;           /* Z */
  std::vector<std::pair<unsigned, unsigned>> movelist; /* G: (X, Y) */
};

/* Operand makers, one per kind of operand. */
namespace cb {
cb_operand x(unsigned i);                 /* u, d */
cb_operand y(unsigned i);                 /* y, v */
cb_operand n(unsigned count);             /* i, r, e, s: the halfword as it stands */
cb_operand env(unsigned yvars);           /* e: environment of yvars variables, 8 + 4 * yvars */
cb_operand t(TAGGED word);                /* atom or small integer */
cb_operand f(TAGGED functor);             /* functor of arity 1..255 */
cb_operand l(std::int32_t value);         /* raw 32-bit integer */
cb_operand large(const TAGGED *box);      /* L: a box (header first), trailer not copied */
cb_operand large_term(TAGGED boxed);      /* L: a structure pointer to a box */
cb_operand large_int(std::int64_t value); /* L: one digit when it fits 32 bits, else two */
cb_operand large_float(double value);     /* L: three words; NaN made canonical */
cb_operand large_digits(const std::vector<std::uint32_t> &digits); /* L: minimal digits, least significant first */
cb_operand def(const definition *d);      /* E */
cb_operand def(cb_label target);          /* E: a predicate record inside the code (a choice block) */
cb_operand native(const void *fn);        /* C */
template <typename R, typename... A> cb_operand native(R (*fn)(A...))
{
  return native(reinterpret_cast<const void *>(fn));
}
cb_operand counter(std::uint32_t value);  /* P */
cb_operand else_to(cb_label target);      /* p: a label in this code */
cb_operand else_to(const INSN *code);     /* p: fixed code (the canned failcode or elsecode) */
cb_operand args(unsigned first, std::initializer_list<cb_arg> list); /* Z */
cb_operand args(unsigned first, const std::vector<cb_arg> &list);
cb_operand moves(std::initializer_list<std::pair<unsigned, unsigned>> pairs); /* G: (X, Y) */
cb_operand moves(const std::vector<std::pair<unsigned, unsigned>> &pairs);
constexpr cb_arg value(unsigned yv) { return {yv, 0}; }
constexpr cb_arg fresh(unsigned yv) { return {yv, 1}; }
constexpr cb_arg unsafe(unsigned yv) { return {yv, 2}; }
constexpr cb_arg heap_var() { return {0, 3}; }
} // namespace cb

class code_builder {
public:
  /* Emits an instruction (plain or Q form named; the right one is chosen)
     and returns the number of the instruction actually emitted. */
  int emit(int insn, std::initializer_list<cb_operand> ops = {});
  int emit(int insn, const std::vector<cb_operand> &ops);
  int emit(const char *name, std::initializer_list<cb_operand> ops = {});

  /* Raw halfwords and words, for code that is not an instruction stream
     (the result halfword after EXIT_TOPLEVEL, canned blocks).  A raw word
     is not aligned for the caller. */
  void halfword(INSN h);
  void word(std::uint32_t w);

  cb_label new_label();
  void bind(cb_label l);
  cb_label here();                       /* a new label bound at the current position */

  /* An embedded choice block of `arity` with one alternative per label,
     tried in order; returns the label of its head, the call target (E) that
     enters it (`head`, when given, is bound there, so that calls emitted
     before the block can name it).  The block needs a 4-byte aligned
     position: at an odd halfword a three-halfword NOP is put before it.  A single alternative
     must be the code right after the head (that is how readers of saved
     code tell it from a try chain); placement checks it. */
  cb_label choice_block(int arity, const std::vector<cb_label> &alternatives, cb_label head = {});

  std::size_t size() const { return code_.size(); }   /* halfwords so far */
  std::size_t offset_of(cb_label l) const;             /* halfwords, once bound */

  /* The code as it reads when placed at `base` (a multiple of 4).  Every
     label must be bound. */
  std::vector<INSN> image(std::uint32_t base) const;
  /* Writes the code at dest (4-byte aligned); returns its halfword count. */
  std::size_t place(INSN *dest) const;
  /* A clause record (emul_info space): next null, the given else
     continuation, ix bits, objsize 16 + code bytes, file atom; then the
     code.  Freed by the database with checkdealloc(clause, objsize, ...). */
  emul_info *finish(INSN *elsecode, unsigned ix, TAGGED filename = atom_nil) const;

private:
  struct fixup {
    std::size_t at;      /* halfword index of the 32-bit word */
    int label;
    bool call_target;    /* E: must name a choice block's head */
  };
  struct block {
    std::size_t at;      /* halfword index of the head */
    int arity;
    std::vector<int> labels;
  };
  std::vector<INSN> code_;
  std::vector<std::ptrdiff_t> labels_; /* halfword index, -1 while unbound */
  std::vector<fixup> fixups_;
  std::vector<block> blocks_;

  void put_word(std::uint32_t w);
  void put_operand(int insn, char letter, const cb_operand &op);
  std::uint32_t resolve(int label, std::uint32_t base) const;
};

/* The byte size of a clause record holding `halfwords` of code. */
constexpr std::uint32_t emul_info_size(std::size_t halfwords)
{
  return static_cast<std::uint32_t>(EMUL_INFO_HEADER + 2 * halfwords);
}

#endif
