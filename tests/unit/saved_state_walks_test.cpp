// The relocation walks over clause code: what restore mode rewrites for a
// state of another engine layout (argument-register offsets, opcode
// encoding, addresses), that a clause whose second choice block is reached
// only from the first is walked to its end, and that save mode and the
// collector's visits change nothing.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "code_buf.h"
#include "code_records.h"
#include "canned_code_fixture.h"
#include "insn_table.h"
#include "memman.h"
#include "preds.h"
#include "saved_state.h"
#include "wamsup.h"

namespace {


using SavedStateWalks = CannedCodeTest;

constexpr std::uint32_t mask_with_xoffset(std::uint32_t x)
{
  return (THIS_ARCH_MASK & ~ARCH_XOFFSET_MASK) | (x << ARCH_XOFFSET_SHIFT);
}

// One instruction with operands that need no relocation key: small
// integers for constants, an in-clause call target, the fail code as else
// address.  Records the offset of each operand letter.
void write_operands(clause_buf &cl, int insn, std::vector<std::pair<char, unsigned>> &where)
{
  cl.op(insn);
  for (const char *f = fmt_letters[insn_fmt[insn]]; *f != '\0'; f++) {
    where.emplace_back(*f, cl.n);
    switch (*f) {
    case 'Q': cl.half(0); break;
    case 'u': case 'd': cl.half(x_operand(7)); break;
    case 'y': case 'v': cl.half(y_operand(3)); break;
    case 'i': cl.half(2); break;
    case 'r': cl.half(3); break;
    case 'e': cl.half(16); break;
    case 's': cl.half(3).half(0xFFFF).half(0x5555); break;
    case 't': cl.word(MakeSmall_checked(42)); break;
    case 'l': cl.word(0x12345678); break;
    case 'p': cl.word(addr(failcode)); break;
    case 'P': cl.word(0); break;
    case 'E': cl.word(addr(cl.code())); break;
    case 'L': cl.word(0xFFFFFFDF).word(0).word(0x3FF00000); break;
    case 'Z': cl.half((3 << 8) | 1).half(y_operand(0)).half(y_operand(1) + 1).half(3); break;
    case 'G': cl.half(2).half(x_operand(1)).half(y_operand(0)).half(x_operand(2)).half(y_operand(1)); break;
    default: break;
    }
  }
}

bool relocatable_without_keys(int insn)
{
  const int fmt = insn_fmt[insn];
  if (fmt == fmt_QiiEC || fmt == fmt_iiEC)
    return false;
  for (const char *f = fmt_letters[fmt]; *f != '\0'; f++)
    if (*f == 'f' || *f == 'C')
      return false;
  return true;
}

// Calls check(insn, clause, where) with a one-instruction clause of every
// instruction that needs no relocation key; returns how many there were.
template <typename F> int for_each_keyless_sample(F &&check)
{
  int count = 0;
  for (int insn = 0; insn < INSN_COUNT; insn++) {
    if (!relocatable_without_keys(insn))
      continue;
    clause_buf cl;
    std::vector<std::pair<char, unsigned>> where;
    write_operands(cl, insn, where);
    cl.finish(failcode);
    check(insn, cl, where);
    count++;
  }
  return count;
}

TEST_F(SavedStateWalks, XoffsetChangeRaisesExactlyArgumentRegisterOperands)
{
  const int checked = for_each_keyless_sample([](int insn, clause_buf &cl, const std::vector<std::pair<char, unsigned>> &where) {
    std::vector<INSN> before(cl.code(), cl.code() + cl.n);
    // A state written by an engine whose X0 is word 44 of its worker.
    ASSERT_EQ(relocate_emul_data(cl.clause(), 0, addr(failcode), restore_rel, mask_with_xoffset(44),
                                 this_arch_mask(TOTAL_ALL_BUT_PROLOG), nullptr),
              0)
        << insnname[insn];
    std::vector<INSN> expected = before;
    for (auto [letter, at] : where) {
      if (letter == 'd' || letter == 'u')
        expected[at] = static_cast<INSN>(expected[at] + 4);
      if (letter == 'G')
        for (unsigned i = 0; i < before[at]; i++)
          expected[at + 1 + 2 * i] = static_cast<INSN>(expected[at + 1 + 2 * i] + 4);
      if (letter == 'p' || letter == 'E') // rewritten to the same values here
        continue;
    }
    for (unsigned i = 0; i < cl.n; i++)
      EXPECT_EQ(cl.code()[i], expected[i]) << insnname[insn] << " halfword " << i;
  });
  EXPECT_GT(checked, 300);
}

// The clause as a big-endian saver writes it: every unit swapped, every
// 32-bit operand swapped as a word, a float's two payload words in the
// other order.
void to_big_endian(INSN *code, unsigned n)
{
  auto swap_word = [](INSN *p) { set_code_word(p, __builtin_bswap32(code_word(p))); };
  for (INSN *p = code; p < code + n;) {
    const int insn = INSN_OF(*p);
    INSN *pos = p + 1;
    for (const char *f = fmt_letters[insn_fmt[insn]]; *f != '\0'; f++) {
      const unsigned width = operand_halfwords(*f, pos);
      switch (*f) {
      case 't': case 'f': case 'l': case 'p': case 'P': case 'C': case 'E':
        swap_word(pos);
        break;
      case 'L': {
        const unsigned words = BoxWords(code_word(pos));
        if (BoxIsFloat(code_word(pos)) && words == 3) {
          const std::uint32_t a = code_word(pos + 2), b = code_word(pos + 4);
          set_code_word(pos + 2, b);
          set_code_word(pos + 4, a);
        }
        for (unsigned i = 0; i < words; i++)
          swap_word(pos + 2 * i);
        break;
      }
      case 's':
        pos[0] = static_cast<INSN>((pos[0] >> 8) | (pos[0] << 8));
        break;
      default:
        for (unsigned i = 0; i < width; i++)
          pos[i] = static_cast<INSN>((pos[i] >> 8) | (pos[i] << 8));
        break;
      }
      pos += width;
    }
    *p = static_cast<INSN>((*p >> 8) | (*p << 8));
    p = pos;
  }
}

TEST_F(SavedStateWalks, BigEndianStateReadsAsItsLittleEndianTwin)
{
  const int checked = for_each_keyless_sample([](int insn, clause_buf &cl, const std::vector<std::pair<char, unsigned>> &) {
    const std::vector<INSN> twin(cl.code(), cl.code() + cl.n);
    to_big_endian(cl.code(), cl.n);
    saverest_info info{};
    info.diffendian = 1;
    ASSERT_EQ(relocate_emul_data(cl.clause(), 0, addr(failcode), restore_rel, THIS_ARCH_MASK | ARCH_BIGENDIAN,
                                 THIS_ARCH_MASK, &info),
              0)
        << insnname[insn];
    for (unsigned i = 0; i < cl.n; i++) {
      if (insn_fmt[insn] == fmt_s && i >= 2)
        break; // a NOP's filler is not interpreted
      ASSERT_EQ(cl.code()[i], twin[i]) << insnname[insn] << " halfword " << i;
    }
  });
  EXPECT_GT(checked, 300);
}

TEST_F(SavedStateWalks, ThreadedZeroStateHasOpcodesTimesFour)
{
  clause_buf cl;
  const int seq[] = {GET_X_VALUE, PUT_X_VOID, GET_NIL_X0, PROCEED};
  std::vector<unsigned> opcode_at;
  for (int insn : seq) {
    std::vector<std::pair<char, unsigned>> where;
    opcode_at.push_back(cl.n);
    write_operands(cl, insn, where);
  }
  cl.finish(failcode);
  for (unsigned at : opcode_at)
    cl.code()[at] = static_cast<INSN>(cl.code()[at] / 4); // 2 * number, as the other encoding writes it
  const std::uint32_t unthreaded = THIS_ARCH_MASK & ~ARCH_THREADED_MASK;
  ASSERT_EQ(relocate_emul_data(cl.clause(), 0, addr(failcode), restore_rel, unthreaded, THIS_ARCH_MASK, nullptr), 0);
  for (unsigned k = 0; k < opcode_at.size(); k++)
    EXPECT_EQ(cl.code()[opcode_at[k]], OPCODE(seq[k])) << insnname[seq[k]];
  EXPECT_EQ(cl.code()[opcode_at[0] + 1], x_operand(7)) << "no other operand changes";
}

// main part: EXECUTE of block 1 (done).  Block 1, two alternatives: the
// first calls block 2 (done), the second proceeds.  Block 2, one
// alternative, holds the clause's last constant.  Only the entries of
// block 1 lead to block 2: a walk that stopped at the first done
// instruction, or skipped a block without following its entries, would
// miss it.  Addresses are written as a saver `shift` bytes lower would.
struct two_blocks {
  clause_buf cl;
  unsigned exec_target = 0, block1 = 0, node1 = 0, alt1 = 0, call2 = 0, alt2 = 0, block2 = 0, constant = 0;
  void build(std::uint32_t shift, TAGGED last_constant)
  {
    INSN *code = cl.code();
    auto at = [&](unsigned i) { return addr(code + i) - shift; };
    cl.op(EXECUTE);                                  // 0
    exec_target = cl.n;
    cl.word(0);
    cl.op(NOP).half(2).half(0);                      // 3: brings the block to an even halfword
    block1 = cl.n;                                   // 6
    cl.half(EMBEDDED_CHOICE_UNIT).half(1).half(12).op(KONTINUE).word(0).word(at(block1 + 8 + 7));
    node1 = cl.n;                                    // 14: two try nodes
    cl.n += 16;
    alt1 = cl.n;                                     // 30
    cl.op(PUT_X_VOID).half(x_operand(0));
    cl.op(EXECUTE);
    call2 = cl.n;
    cl.word(0);
    alt2 = cl.n;                                     // 35
    cl.op(PROCEED);
    block2 = cl.n;                                   // 36
    cl.half(EMBEDDED_CHOICE_UNIT).half(1).half(12).op(KONTINUE).word(0).word(at(block2 + 8));
    cl.op(GET_CONSTANT).half(x_operand(0));          // 44
    constant = cl.n;
    cl.word(last_constant);
    cl.op(PROCEED);
    set_code_word(code + exec_target, at(block1));
    set_code_word(code + call2, at(block2));
    set_code_word(code + node1, at(node1 + 8));      // next
    set_code_word(code + node1 + 2, at(alt1));       // entry
    set_code_word(code + node1 + 8, 0);
    set_code_word(code + node1 + 10, at(alt2));
    cl.finish(failcode);
  }
};

int atoms_seen;
TAGGED count_atoms(void *, TAGGED value, saverest_info *, int kind)
{
  if (kind == RELOC_ATOM)
    atoms_seen++;
  return value;
}

TEST_F(SavedStateWalks, ClauseWithTwoChoiceBlocksIsWalkedToItsEnd)
{
  for (std::uint32_t shift : {0u, 0x100u}) {
    two_blocks tb;
    tb.build(shift, MakeAtom(77));
    atoms_seen = 0;
    ASSERT_EQ(relocate_emul_data(tb.cl.clause(), static_cast<std::int32_t>(shift), addr(failcode), count_atoms,
                                 THIS_ARCH_MASK, THIS_ARCH_MASK, nullptr),
              0);
    EXPECT_EQ(atoms_seen, 1) << "the constant in the second block is reached (saved " << shift << " bytes lower)";
  }
}

TEST_F(SavedStateWalks, ChoiceBlocksAreRebuiltAtTheNewAddress)
{
  two_blocks tb;
  tb.build(0x100, MakeSmall_checked(5));
  ASSERT_EQ(relocate_emul_data(tb.cl.clause(), 0x100, addr(failcode), restore_rel, THIS_ARCH_MASK,
                               THIS_ARCH_MASK, nullptr),
            0);
  INSN *code = tb.cl.code();
  EXPECT_EQ(code_word(code + tb.exec_target), addr(code + tb.block1));
  EXPECT_EQ(code_word(code + tb.call2), addr(code + tb.block2));
  EXPECT_EQ(code_word(code + tb.block1 + 6), addr(code + tb.node1 + 7)) << "the head names the first node";
  auto *n1 = reinterpret_cast<try_node *>(code + tb.node1);
  EXPECT_EQ(n1->entry, code + tb.alt1);
  EXPECT_EQ(n1->next, n1 + 1);
  EXPECT_EQ(n1[1].entry, code + tb.alt2);
  EXPECT_EQ(n1[1].next, nullptr);
  EXPECT_EQ(n1[1].opcode, OPCODE(TRY));
  EXPECT_EQ(code_word(code + tb.block2 + 6), addr(code + tb.block2 + 8)) << "a single alternative";
  EXPECT_EQ(code_word(code + tb.constant), MakeSmall_checked(5));
}

TEST_F(SavedStateWalks, SaveModeAndVisitsChangeNothing)
{
  for (int insn = 0; insn < INSN_COUNT; insn++) {
    clause_buf cl;
    std::vector<std::pair<char, unsigned>> where;
    write_operands(cl, insn, where);
    cl.finish(failcode);
    const std::vector<unsigned char> before(cl.bytes, cl.bytes + sizeof cl.bytes);
    relocate_emul_data(cl.clause(), 0, addr(failcode), save_rel, THIS_ARCH_MASK, THIS_ARCH_MASK, nullptr);
    scan_code(cl.clause(), count_atoms);
    EXPECT_EQ(std::memcmp(before.data(), cl.bytes, sizeof cl.bytes), 0) << insnname[insn];
  }
  two_blocks tb;
  tb.build(0, MakeAtom(77));
  const std::vector<unsigned char> before(tb.cl.bytes, tb.cl.bytes + sizeof tb.cl.bytes);
  relocate_emul_data(tb.cl.clause(), 0, addr(failcode), save_rel, THIS_ARCH_MASK, THIS_ARCH_MASK, nullptr);
  EXPECT_EQ(std::memcmp(before.data(), tb.cl.bytes, sizeof tb.cl.bytes), 0);
}

TEST_F(SavedStateWalks, CodeThatDoesNotDecodeIsRefused)
{
  struct bad {
    const char *why;
    std::vector<INSN> code;
  };
  const std::vector<bad> cases = {
      {"an opcode beyond the table", {static_cast<INSN>(OPCODE(INSN_COUNT - 1) + 8)}},
      {"an odd unit where an opcode belongs", {3}},
      {"an operand past the clause's end", {OPCODE(GET_X_VALUE), x_operand(0)}},
      {"a choice block cut short", {EMBEDDED_CHOICE_UNIT, 1, 12}},
  };
  for (const bad &b : cases) {
    clause_buf cl;
    for (INSN h : b.code)
      cl.half(h);
    cl.finish(failcode);
    EXPECT_EQ(relocate_emul_data(cl.clause(), 0, addr(failcode), restore_rel, THIS_ARCH_MASK,
                                 THIS_ARCH_MASK, nullptr),
              -1)
        << b.why;
  }
}

TEST_F(SavedStateWalks, ArchitectureMasks)
{
  EXPECT_EQ(this_arch_mask(TOTAL_SELECTED), 0x2D05Au);
  EXPECT_EQ(this_arch_mask(TOTAL_ALL_BUT_PROLOG), 0x2D85Au);
  EXPECT_EQ(this_arch_mask(TOTAL_ALL), 0x2DC5Au);
  char buf[80];
  describe_arch_mask(this_arch_mask(TOTAL_ALL_BUT_PROLOG), buf, sizeof buf);
  EXPECT_STREQ(buf, "32-bit,BDD,GAUGE,ALL_BUT_PROLOG,");
  describe_arch_mask(this_arch_mask(1), buf, sizeof buf);
  EXPECT_STREQ(buf, "32-bit,BDD,GAUGE,");
  describe_arch_mask(0x2DC5Bu & ~(ARCH_BDD | ARCH_GAUGE), buf, sizeof buf);
  EXPECT_STREQ(buf, "64-bit,ALL,");
}

} // namespace
