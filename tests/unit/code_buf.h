// code_buf.h: code written halfword by halfword into fixed storage, so that
// addresses taken while writing stay valid; for tests that lay out exact
// instruction streams (walkers, live registers) without the code builder.
#ifndef TRELIX_TESTS_CODE_BUF_H
#define TRELIX_TESTS_CODE_BUF_H

#include <cstdint>

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

#endif
