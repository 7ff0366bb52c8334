// random_code.h: a seeded generator of well-formed instruction streams for
// the builder and disassembler tests: every instruction number with random
// operands of the right kinds, labels bound forwards and backwards, and
// embedded choice blocks.  It records what it emitted so that a test can
// walk the placed code and compare.
#ifndef TESTS_RANDOM_CODE_H
#define TESTS_RANDOM_CODE_H

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "code_builder.h"
#include "insn_table.h"

namespace random_code {

struct emitted {
  std::size_t at;      // halfword index
  int insn;            // instruction emitted, or -1 for a choice block
  int alternatives;    // choice blocks: number of alternatives
};

// Something that looks like a canned-code address outside the clause.
inline const INSN *fake_failcode()
{
  alignas(4) static INSN fake[2] = {OPCODE(FAIL), 0};
  return fake;
}

inline definition *fake_definition()
{
  return reinterpret_cast<definition *>(0x10000);
}

struct generator {
  std::mt19937 rng;
  code_builder b;
  std::vector<cb_label> pool;
  std::vector<bool> bound;
  std::vector<emitted> log;
  // Call targets inside the code must be choice-block heads: calls name
  // these, and every one becomes the head of some block.
  std::vector<cb_label> heads;
  std::vector<bool> head_used;

  explicit generator(unsigned seed) : rng(seed)
  {
    for (int i = 0; i < 8; i++) {
      pool.push_back(b.new_label());
      bound.push_back(false);
    }
    for (int i = 0; i < 3; i++) {
      heads.push_back(b.new_label());
      head_used.push_back(false);
    }
  }

  unsigned below(unsigned n) { return std::uniform_int_distribution<unsigned>(0, n - 1)(rng); }
  cb_label any_label() { return pool[below(static_cast<unsigned>(pool.size()))]; }

  cb_operand operand(char letter, bool linking)
  {
    switch (letter) {
    case 'u': case 'd': return cb::x(below(256));
    case 'y': case 'v': return cb::y(below(64));
    case 'i': case 'r': return cb::n(below(12));
    case 'e': return cb::env(below(12));
    case 's': return cb::n(1 + below(4));
    case 't': return below(2) ? cb::t(MakeAtom(below(236))) : cb::t(MakeSmall_checked(static_cast<VR_INTEGER>(below(100000)) - 50000));
    case 'f': return cb::f(MakeFunctor(MakeAtom(below(236)), 1 + below(255)));
    case 'l': return cb::l(static_cast<std::int32_t>(rng()));
    case 'L':
      switch (below(4)) {
      case 0: return cb::large_int(static_cast<std::int32_t>(rng()));
      case 1: return cb::large_int((std::int64_t{1} << 40) + rng());
      case 2: return cb::large_float(static_cast<double>(rng()) / 7.0);
      default: return cb::large_digits({1, 2, 3});
      }
    case 'p': return below(4) ? cb::else_to(any_label()) : cb::else_to(fake_failcode());
    case 'P': return cb::counter(rng());
    case 'C': return cb::native(reinterpret_cast<const void *>(0x8048000 + 16 * below(100)));
    case 'E': return below(2) ? cb::def(fake_definition()) : cb::def(heads[below(3)]);
    case 'Z': {
      const unsigned count = below(6);
      std::vector<cb_arg> a;
      for (unsigned k = 0; k < count; k++) {
        unsigned mode = below(4);
        if (linking && mode == 2)
          mode = 1;
        a.push_back({below(40), mode});
      }
      return cb::args(below(256 - count), a);
    }
    case 'G': {
      std::vector<std::pair<unsigned, unsigned>> m;
      for (unsigned k = below(4); k > 0; k--)
        m.emplace_back(below(256), below(40));
      return cb::moves(m);
    }
    }
    return cb::n(0);
  }

  std::vector<cb_operand> operands(int insn)
  {
    std::vector<cb_operand> ops;
    bool linking = false;
    for (const char *c = fmt_letters[insn_fmt[insn]]; *c; c++) {
      if (*c == 'a' || *c == 'A')
        linking = true;
      if (*c == 'Q' || *c == 'a' || *c == 'A' || (*c >= '0' && *c <= '9'))
        continue;
      ops.push_back(operand(*c, linking));
    }
    return ops;
  }

  void maybe_bind()
  {
    const unsigned k = below(static_cast<unsigned>(pool.size()));
    if (!bound[k] && below(3) == 0) {
      b.bind(pool[k]);
      bound[k] = true;
    }
  }

  void instruction(int insn)
  {
    const std::size_t at = b.size();
    const int chosen = b.emit(insn, operands(insn));
    log.push_back({at, chosen, 0});
    if (chosen == EXIT_TOPLEVEL)
      b.halfword(1); // its result code
  }

  void choice_block()
  {
    const unsigned k = 1 + below(3);
    std::vector<cb_label> alts;
    cb_label single;
    if (k == 1) {
      single = b.new_label();
      alts.push_back(single);
    } else {
      for (unsigned i = 0; i < k; i++)
        alts.push_back(any_label());
    }
    cb_label named;
    for (std::size_t h = 0; h < heads.size(); h++)
      if (!head_used[h]) {
        named = heads[h];
        head_used[h] = true;
        break;
      }
    cb_label head = b.choice_block(static_cast<int>(below(256)), alts, named);
    log.push_back({b.offset_of(head), -1, static_cast<int>(k)});
    if (k == 1)
      b.bind(single);
  }

  // Every instruction at least once, in random order, with choice blocks
  // between; then every pool label bound.
  void run(int rounds)
  {
    std::vector<int> order;
    for (int r = 0; r < rounds; r++)
      for (int i = 0; i < INSN_COUNT; i++)
        order.push_back(i);
    std::shuffle(order.begin(), order.end(), rng);
    for (int insn : order) {
      maybe_bind();
      if (below(20) == 0)
        choice_block();
      instruction(insn);
    }
    for (std::size_t k = 0; k < pool.size(); k++)
      if (!bound[k])
        b.bind(pool[k]);
    while (std::find(head_used.begin(), head_used.end(), false) != head_used.end())
      choice_block();
  }
};

// Halfword offsets (from the opcode) of every 32-bit word among the
// operands of the instruction at p, read from the format letters.
inline std::vector<std::size_t> word_offsets(const INSN *p)
{
  std::vector<std::size_t> out;
  std::size_t k = 1;
  for (const char *c = fmt_letters[insn_fmt[INSN_OF(*p)]]; *c; c++) {
    switch (*c) {
    case 't': case 'f': case 'l': case 'p': case 'P': case 'C': case 'E':
      out.push_back(k);
      k += 2;
      break;
    case 'L': {
      const unsigned words = BoxWords(code_word(p + k));
      for (unsigned w = 0; w < words; w++)
        out.push_back(k + 2 * w);
      k += 2 * words;
      break;
    }
    case 'Z': k += 1 + (p[k] >> 8); break;
    case 'G': k += 1 + 2 * p[k]; break;
    case 's': k += p[k]; break;
    case 'a': case 'A': case '0': case '1': case '2': case '3': break;
    default: k += 1; break;
    }
  }
  return out;
}

} // namespace random_code

#endif
