// code_buf.h: code written halfword by halfword into fixed storage, so that
// addresses taken while writing stay valid; for tests that lay out exact
// instruction streams and clause records (walkers, live registers, canned
// code) without the code builder.
#ifndef TRELIX_TESTS_CODE_BUF_H
#define TRELIX_TESTS_CODE_BUF_H

#include <cstdint>

#include "code_records.h"
#include "insn_table.h"

struct code_buf {
  alignas(8) INSN h[1024] = {};
  unsigned n = 0;
  INSN *at(unsigned i) { return h + i; }
  INSN *here() { return h + n; }
  code_buf &half(INSN v)
  {
    h[n++] = v;
    return *this;
  }
  code_buf &op(int insn) { return half(OPCODE(insn)); }
  code_buf &word(std::uint32_t v)
  {
    set_code_word(h + n, v);
    n += 2;
    return *this;
  }
  code_buf &x(unsigned i) { return half(x_operand(i)); }
  /* A pointer operand (E, C): the record's address as a 32-bit word. */
  code_buf &ptr(const void *p) { return word(static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(p))); }
};

// A clause record followed by its code, for the readers of a clause's first
// instructions and for the walkers that take a whole clause.
struct clause_buf {
  alignas(8) unsigned char bytes[2048] = {};
  unsigned n = 0;
  emul_info *clause() { return reinterpret_cast<emul_info *>(bytes); }
  INSN *code() { return clause()->emulcode; }
  INSN *here() { return code() + n; }
  clause_buf &half(INSN v)
  {
    code()[n++] = v;
    return *this;
  }
  clause_buf &op(int insn) { return half(OPCODE(insn)); }
  clause_buf &word(std::uint32_t v)
  {
    set_code_word(code() + n, v);
    n += 2;
    return *this;
  }
  void finish(INSN *else_continuation)
  {
    clause()->next = nullptr;
    clause()->elsecode = else_continuation;
    set_emul_ix_objsize(clause(), 0, static_cast<std::uint32_t>(EMUL_INFO_HEADER + 2 * n));
    clause()->filename = atom_nil;
  }
};

#endif
