// The disassembler: built code listed back to the expected text, every
// instruction of a random mix listed where it was emitted, operand and
// number rendering, and listings of damaged code that stay inside it.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "atoms.h"
#include "code_builder.h"
#include "disasm.h"
#include "insn_table.h"
#include "memman.h"
#include "random_code.h"

namespace {

// Atom names need a started atom table; clause records need the memory
// manager.  Both are torn down after each test.
struct Disasm : ::testing::Test {
  void SetUp() override
  {
    ASSERT_EQ(memman_init(), 0);
    ASSERT_EQ(init_atoms_once(), 1);
  }
  void TearDown() override
  {
    deinit_atoms();
    memman_deinit();
  }
};

std::string user_p3(std::uint32_t) { return "user:p/3"; }

std::vector<std::string> lines_of(const std::string &text)
{
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    out.push_back(line);
  return out;
}

TEST_F(Disasm, BuiltClauseListsAsExpected)
{
  const TAGGED point = MakeFunctor(init_atom_check("point", 0), 2);
  const TAGGED foo = init_atom_check("foo", 0);
  code_builder b;
  cb_label out = b.new_label(), block = b.new_label();
  cb_label a1 = b.new_label(), a2 = b.new_label(), single = b.new_label();
  b.emit(GET_STRUCTURE, {cb::x(1), cb::f(point)});
  b.emit(UNIFY_X_VARIABLE, {cb::x(3)});
  b.emit(UNIFY_CONSTANT, {cb::t(foo)});
  b.emit(UNIFY_CONSTANT, {cb::t(MakeSmall_checked(-7))});
  b.emit(GET_LARGE, {cb::x(2), cb::large_float(1.5)});
  b.emit(PUT_LARGE, {cb::x(0), cb::large_digits({0, 0, 1})});
  b.emit(FIRST_X_VALUE, {cb::x(2)});
  b.emit(LESS_THAN_IMM, {cb::l(10), cb::else_to(out)});
  b.emit(EQUAL_TO, {cb::else_to(random_code::fake_failcode())});
  b.emit(CALL, {cb::args(0, {cb::value(1), cb::fresh(2), cb::unsafe(3), cb::heap_var()}),
                cb::def(random_code::fake_definition()), cb::env(4)});
  b.emit(GET_FIRST, {cb::moves({{0, 1}, {2, 3}})});
  b.bind(out);
  b.emit(EXECUTE, {cb::def(block)});
  b.choice_block(2, {a1, a2}, block);
  b.bind(a1);
  b.emit(PROCEED);
  b.bind(a2);
  b.emit(CUTB_X, {cb::x(0)});
  b.emit(FAIL);
  b.choice_block(1, {single});
  b.bind(single);
  b.emit(EXIT_TOPLEVEL);
  b.halfword(static_cast<INSN>(-1));

  emul_info *c = b.finish(const_cast<INSN *>(random_code::fake_failcode()), 0);
  disasm_options opt;
  opt.failcode = random_code::fake_failcode();
  opt.definition_name = user_p3;
  const std::string expected =
      "0: GET_STRUCTURE X1, point/2\n"
      "8: UNIFY_X_VARIABLE X3\n"
      "12: UNIFY_CONSTANTQ foo\n"
      "20: UNIFY_CONSTANTQ -7\n"
      "28: GET_LARGE X2, 1.5\n"
      "44: PUT_LARGE X0, 18446744073709551616\n"
      "64: FIRST_X_VALUE X2\n"
      "68: LESS_THAN_IMMQ 10, @118\n"
      "80: EQUAL_TOQ failcode\n"
      "88: CALL [X0=Y1, X1=new Y2, X2=unsafe Y3, X3=heap], user:p/3, env=24\n"
      "106: GET_FIRST [Y1=X0, Y3=X2]\n"
      "118: EXECUTE block@124/2\n"
      "124: ENTER_INTERNAL arity=2\n"
      "140: TRY @172\n"
      "156: TRY @174\n"
      "172: PROCEED\n"
      "174: CUTB_X X0\n"
      "178: FAIL\n"
      "180: ENTER_INTERNAL arity=1 @196\n"
      "196: EXIT_TOPLEVEL result=-1\n";
  EXPECT_EQ(disasm_clause(c, opt), expected);
  // An image for another address reads the same when told its base.
  const std::vector<INSN> img = b.image(0x2000);
  opt.base = 0x2000;
  EXPECT_EQ(disasm_code(img.data(), img.size(), opt), expected);
  checkdealloc(c, emul_objsize(c), mm_code(MM_BIN_EMUL_INFO));
}

// The listing decodes every instruction of a random mix at the offset where
// it was emitted, with the emitted name: lengths agree with the builder's.
TEST_F(Disasm, RandomMixListsEveryInstruction)
{
  for (unsigned seed : {11u, 12u}) {
    random_code::generator g(seed);
    g.run(2);
    const std::vector<INSN> img = g.b.image(0x10000);
    disasm_options opt;
    opt.base = 0x10000;
    std::map<std::size_t, std::string> expected; // byte offset -> name
    for (const random_code::emitted &e : g.log)
      expected[2 * e.at] = e.insn < 0 ? "ENTER_INTERNAL" : insnname[e.insn];
    std::set<std::size_t> seen;
    for (const std::string &line : lines_of(disasm_code(img.data(), img.size(), opt))) {
      ASSERT_EQ(line.find("<truncated>"), std::string::npos) << "seed " << seed << ": " << line;
      ASSERT_EQ(line.find("??"), std::string::npos) << "seed " << seed << ": " << line;
      const std::size_t colon = line.find(": ");
      ASSERT_NE(colon, std::string::npos) << line;
      const std::size_t off = std::stoul(line.substr(0, colon));
      const std::string rest = line.substr(colon + 2);
      const std::string name = rest.substr(0, rest.find(' '));
      auto it = expected.find(off);
      if (it == expected.end()) {
        if (name == "TRY") // a node of a choice block
          continue;
        EXPECT_EQ(rest, "NOP len=2") << "seed " << seed << ": unexpected line " << line;
        continue;
      }
      EXPECT_EQ(name, it->second) << "seed " << seed << " at byte " << off;
      seen.insert(off);
    }
    for (const auto &[off, name] : expected)
      EXPECT_TRUE(seen.count(off)) << "seed " << seed << ": " << name << " at byte " << off << " not listed";
  }
}

TEST_F(Disasm, OperandRendering)
{
  struct rcase {
    const char *why;
    int insn;
    std::vector<cb_operand> ops;
    const char *text; // the line after "0: "
  };
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<rcase> cases = {
      {"shortest float that reads back", PUT_LARGE, {cb::x(0), cb::large_float(0.1)}, "PUT_LARGE X0, 0.1"},
      {"integral float keeps a point", PUT_LARGE, {cb::x(0), cb::large_float(3.0)}, "PUT_LARGE X0, 3.0"},
      {"negative zero", PUT_LARGE, {cb::x(0), cb::large_float(-0.0)}, "PUT_LARGE X0, -0.0"},
      {"exponent form", PUT_LARGE, {cb::x(0), cb::large_float(1e300)}, "PUT_LARGE X0, 1e+300"},
      {"infinity", PUT_LARGE, {cb::x(0), cb::large_float(-inf)}, "PUT_LARGE X0, -inf"},
      {"NaN", PUT_LARGE, {cb::x(0), cb::large_float(std::nan(""))}, "PUT_LARGE X0, nan"},
      {"one digit", PUT_LARGE, {cb::x(0), cb::large_int(-123)}, "PUT_LARGE X0, -123"},
      {"two digits, most negative", PUT_LARGE, {cb::x(0), cb::large_int(INT64_MIN)},
       "PUT_LARGE X0, -9223372036854775808"},
      {"three digits, negative", PUT_LARGE, {cb::x(0), cb::large_digits({0, 0, 0x80000000u})},
       "PUT_LARGE X0, -39614081257132168796771975168"},
      {"atom not in the table", PUT_CONSTANT, {cb::x(4), cb::t(MakeAtom(900000))}, "PUT_CONSTANT X4, atom#900000"},
      {"predefined atom []", PUT_CONSTANT, {cb::x(4), cb::t(atom_nil)}, "PUT_CONSTANT X4, []"},
      {"raw immediate", CHECK_HEAP, {cb::l(-5)}, "CHECK_HEAPQ -5"},
      {"counters", BUMP_ENTRY, {cb::counter(7), cb::counter(9)}, "BUMP_ENTRYQ count=7, count=9"},
      {"native function", CALL_FOREIGN, {cb::native(reinterpret_cast<const void *>(0x1234)), cb::env(2)},
       "CALL_FOREIGNQ native 0x00001234, env=16"},
      {"definition without a namer", EXECUTE, {cb::def(random_code::fake_definition())}, "EXECUTEQ def 0x00010000"},
      {"Y operands", PUT_Y_VALUE, {cb::x(5), cb::y(7)}, "PUT_Y_VALUE X5, Y7"},
      {"void count", UNIFY_VOID, {cb::n(3)}, "UNIFY_VOID 3"},
      {"empty argument list", PUT, {cb::args(2, {})}, "PUT []"},
      {"NOP skips its body", NOP, {cb::n(3)}, "NOP len=3"},
  };
  for (const rcase &c : cases) {
    code_builder b;
    b.emit(c.insn, c.ops);
    const std::vector<INSN> img = b.image(0);
    disasm_options opt;
    opt.base = 0;
    EXPECT_EQ(disasm_code(img.data(), img.size(), opt), std::string("0: ") + c.text + "\n") << c.why;
  }
  // An else address outside the code that is neither canned address: hex.
  code_builder b;
  b.emit(EQUAL_TO, {cb::else_to(random_code::fake_failcode())});
  const std::vector<INSN> img = b.image(0);
  disasm_options opt;
  opt.base = 0;
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08x",
                static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(random_code::fake_failcode())));
  EXPECT_EQ(disasm_code(img.data(), img.size(), opt), std::string("0: EQUAL_TOQ ") + hex + "\n");
  opt.elsecode = random_code::fake_failcode();
  EXPECT_EQ(disasm_code(img.data(), img.size(), opt), "0: EQUAL_TOQ elsecode\n");
}

// Damaged code: every prefix of a valid instruction, an impossible opcode,
// a bad number header and a cut-off choice block end the listing with a
// note; the exact-size heap copies let the sanitizer catch any read past.
TEST_F(Disasm, DamagedCodeStaysInside)
{
  code_builder b;
  cb_label a = b.new_label(), c = b.new_label();
  b.emit(CALL, {cb::args(0, {cb::value(1), cb::value(2), cb::value(3)}), cb::def(random_code::fake_definition()),
                cb::env(3)});
  b.emit(PUT_LARGE, {cb::x(0), cb::large_float(2.0)});
  b.choice_block(1, {a, c});
  b.bind(a);
  b.bind(c);
  const std::vector<INSN> full = b.image(0);
  disasm_options opt;
  opt.base = 0;
  for (std::size_t n = 1; n < full.size(); n++) {
    auto *part = new INSN[n];
    std::copy(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n), part);
    const std::string text = disasm_code(part, n, opt);
    delete[] part;
    const bool complete = n == 9 || n == 18; // instruction boundaries
    if (!complete) {
      EXPECT_NE(text.find("<truncated>"), std::string::npos) << "prefix of " << n << " halfwords:\n" << text;
    }
  }
  const std::vector<std::pair<std::vector<INSN>, const char *>> bad = {
      {{OPCODE(PROCEED), 3}, "2: ?? 0x0003 (not an opcode)"},
      {{OPCODE(PROCEED), static_cast<INSN>(8 * 350)}, "2: ?? 0x0af0 (not an opcode)"},
      {{OPCODE(GET_LARGE_X0), 5, 0}, "0: GET_LARGE_X0 bad number header 0x00000005 <truncated>"},
      {{OPCODE(NOP), 0}, "0: NOP len=0 <truncated>"},
  };
  for (const auto &[code, line] : bad) {
    const std::vector<std::string> lines = lines_of(disasm_code(code.data(), code.size(), opt));
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), line);
  }
}

} // namespace
