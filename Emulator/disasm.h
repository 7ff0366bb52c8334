/* disasm.h: a readable listing of bytecode, one instruction per line.
 *
 * For tests and for looking at what the compiler produced.  Every line is
 * "<byte offset>: <NAME>[ <operands>]", operands separated by ", ":
 * X3 and Y2 for registers; atoms by their text (atom#N when the word names
 * no atom in the table), small integers in decimal; functors as name/arity;
 * inline numbers as integers or floats; code addresses inside the listed
 * code as @<byte offset>, the canned failcode and elsecode by name when the
 * caller gives them, other addresses in hex; argument lists as
 * [X0=Y1, X1=new Y2, X2=unsafe Y3, X3=heap]; move lists as [Y1=X0, ...].
 * An embedded choice block lists as "ENTER_INTERNAL arity=N" followed by
 * one "TRY @entry" line per try node (or the single entry on the head's
 * line).  The listing never reads outside the code it is given: a
 * truncated instruction or an impossible opcode ends it with a note.
 */
#ifndef VOSTREL_DISASM_H
#define VOSTREL_DISASM_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "code_records.h"
#include "termdefs.h"

struct disasm_options {
  /* The address code[0] has (or will have); by default its own address.
     Lets an image built for another address be read. */
  std::optional<std::uint32_t> base;
  const INSN *failcode = nullptr;   /* named when met as an address */
  const INSN *elsecode = nullptr;
  /* Names a definition pointer (E operand); hex when null. */
  std::string (*definition_name)(std::uint32_t address) = nullptr;
};

/* One instruction (or choice block) at halfword index `at` of code[0..n);
   stores the index of what follows in *next.  The line has no line feed. */
std::string disasm_insn(const INSN *code, std::size_t n, std::size_t at, const disasm_options &opt,
                        std::size_t *next);
/* Every instruction of code[0..n), one line each, each ending in a line feed. */
std::string disasm_code(const INSN *code, std::size_t n, const disasm_options &opt = {});
/* A clause record's code (objsize - 16 bytes of it). */
std::string disasm_clause(const emul_info *clause, const disasm_options &opt = {});

#endif
