/* disasm.cpp: the bytecode lister behind disasm.h.
 *
 * Decodes with the one instruction table (insns.def and its formats), so a
 * listing shows exactly the lengths every code walker uses.  It only reads
 * code; atoms are looked up without creating anything, and numbers are
 * decoded from the code words directly rather than through heap boxes.
 */
#include "disasm.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "atoms.h"
#include "datadefs.h"
#include "insn_table.h"

namespace {

std::string hex32(std::uint32_t v)
{
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08x", static_cast<unsigned>(v));
  return buf;
}

/* True when the word's index names a live atom: the table is read, never
   extended, so listing code with stale words is safe. */
bool atom_index_live(std::uint32_t index)
{
  if (index >= eglobal->atmtabsize)
    return false;
  atom **page = eglobal->atmtab[index / ATOM_PAGE_SLOTS];
  if (page == nullptr)
    return false;
  const atom *a = page[index % ATOM_PAGE_SLOTS];
  return a != nullptr && (reinterpret_cast<std::uintptr_t>(a) & 1) == 0;
}

std::string atom_text(TAGGED word)
{
  const std::uint32_t index = AtomIndex(word);
  if (atom_index_live(index))
    return atom_name(word);
  return "atom#" + std::to_string(index);
}

std::string constant_text(TAGGED w)
{
  if (IsSmall(w))
    return std::to_string(GetSmall(w));
  if (IsAtom(w))
    return atom_text(w);
  if (IsFunctor(w))
    return atom_text(FunctorName(w)) + "/" + std::to_string(Arity(w));
  return hex32(w);
}

std::string float_text(double d)
{
  if (std::isnan(d))
    return "nan";
  if (std::isinf(d))
    return d < 0 ? "-inf" : "inf";
  char buf[40];
  for (int prec = 1; prec <= 17; prec++) {
    std::snprintf(buf, sizeof buf, "%.*g", prec, d);
    if (std::strtod(buf, nullptr) == d)
      break;
  }
  std::string s = buf;
  if (s.find_first_of(".e") == std::string::npos)
    s += ".0";
  return s;
}

/* Decimal text of a two's-complement digit vector, least significant first. */
std::string digits_text(std::vector<std::uint32_t> d)
{
  const bool negative = (d.back() & 0x80000000u) != 0;
  if (negative) { /* magnitude = ~d + 1 */
    std::uint64_t carry = 1;
    for (std::uint32_t &x : d) {
      const std::uint64_t s = static_cast<std::uint64_t>(static_cast<std::uint32_t>(~x)) + carry;
      x = static_cast<std::uint32_t>(s);
      carry = s >> 32;
    }
  }
  std::string out;
  for (;;) {
    bool zero = true;
    std::uint64_t rem = 0;
    for (std::size_t i = d.size(); i-- > 0;) {
      const std::uint64_t cur = (rem << 32) | d[i];
      d[i] = static_cast<std::uint32_t>(cur / 1000000000u);
      rem = cur % 1000000000u;
      if (d[i] != 0)
        zero = false;
    }
    char chunk[16];
    std::snprintf(chunk, sizeof chunk, zero ? "%u" : "%09u", static_cast<unsigned>(rem));
    out.insert(0, chunk);
    if (zero)
      break;
  }
  return negative ? "-" + out : out;
}

struct lister {
  const INSN *code;
  std::size_t n;
  std::uint32_t base;
  const disasm_options &opt;

  std::uint32_t word_at(std::size_t i) const { return code_word(code + i); }

  std::string offset(std::size_t i) const { return std::to_string(2 * i); }

  bool inside(std::uint32_t addr) const
  {
    return addr >= base && addr < base + 2 * n && (addr - base) % 2 == 0;
  }

  std::string address_text(std::uint32_t addr) const
  {
    if (inside(addr))
      return "@" + std::to_string(addr - base);
    if (opt.failcode != nullptr && addr == static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(opt.failcode)))
      return "failcode";
    if (opt.elsecode != nullptr && addr == static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(opt.elsecode)))
      return "elsecode";
    return hex32(addr);
  }

  std::string definition_text(std::uint32_t addr) const
  {
    if (inside(addr)) {
      const std::size_t i = (addr - base) / 2;
      if (code[i] == EMBEDDED_CHOICE_UNIT && i + 1 < n)
        return "block@" + std::to_string(addr - base) + "/" + std::to_string(code[i + 1]);
      return "@" + std::to_string(addr - base);
    }
    if (opt.definition_name != nullptr)
      return opt.definition_name(addr);
    return "def " + hex32(addr);
  }

  /* An embedded choice block at i: the head, then its try nodes. */
  std::string block(std::size_t i, std::size_t *next) const
  {
    std::string line = offset(i) + ": ENTER_INTERNAL";
    if (i + 8 > n) {
      *next = n;
      return line + " <truncated>";
    }
    line += " arity=" + std::to_string(code[i + 1]);
    const std::uint32_t head = base + 2 * static_cast<std::uint32_t>(i);
    const std::uint32_t entry = word_at(i + 6);
    if (entry == head + 16) { /* a single alternative: the code after the head */
      *next = i + 8;
      return line + " " + address_text(entry);
    }
    if (entry != head + 16 + offsetof(try_node, opcode))
      line += " (code " + address_text(entry) + ")";
    std::size_t k = i + 8;
    for (;;) {
      if (k + 8 > n) {
        *next = n;
        return line + "\n" + offset(k) + ": TRY <truncated>";
      }
      const std::uint32_t node_next = word_at(k + offsetof(try_node, next) / 2);
      line += "\n" + offset(k) + ": TRY " + address_text(word_at(k + offsetof(try_node, entry) / 2));
      if (node_next == 0) {
        *next = k + 8;
        return line;
      }
      if (node_next != base + 2 * static_cast<std::uint32_t>(k + 8)) {
        *next = n; /* a chain that leaves the block: nothing after it can be trusted */
        return line + " (next " + address_text(node_next) + ")";
      }
      k += 8;
    }
  }

  std::string insn(std::size_t i, std::size_t *next) const
  {
    const INSN op = code[i];
    if (op == EMBEDDED_CHOICE_UNIT)
      return block(i, next);
    if (op % 8 != 0 || INSN_OF(op) >= INSN_COUNT) {
      *next = n;
      char buf[48];
      std::snprintf(buf, sizeof buf, "?? 0x%04x (not an opcode)", static_cast<unsigned>(op));
      return offset(i) + ": " + buf;
    }
    const int number = INSN_OF(op);
    std::string line = offset(i) + ": " + insnname[number];
    std::vector<std::string> ops;
    std::size_t k = i + 1;
    bool truncated = false;
    auto need = [&](std::size_t w) {
      if (k + w > n)
        truncated = true;
      return !truncated;
    };
    for (const char *c = fmt_letters[insn_fmt[number]]; *c != '\0' && !truncated; c++) {
      switch (*c) {
      case 'Q':
        if (need(1) && code[k] != 0)
          ops.push_back("pad=" + std::to_string(code[k]));
        k += 1;
        break;
      case 'u': case 'd':
        if (need(1))
          ops.push_back("X" + std::to_string(x_index(code[k])));
        k += 1;
        break;
      case 'y': case 'v':
        if (need(1))
          ops.push_back("Y" + std::to_string(y_index(code[k])));
        k += 1;
        break;
      case 'i': case 'r':
        if (need(1))
          ops.push_back(std::to_string(code[k]));
        k += 1;
        break;
      case 'e':
        if (need(1))
          ops.push_back("env=" + std::to_string(code[k]));
        k += 1;
        break;
      case 's':
        if (need(1)) {
          const unsigned len = code[k];
          ops.push_back("len=" + std::to_string(len));
          if (len == 0 || !need(len))
            truncated = true;
          else
            k += len;
        }
        break;
      case 't': case 'f':
        if (need(2))
          ops.push_back(constant_text(word_at(k)));
        k += 2;
        break;
      case 'l':
        if (need(2))
          ops.push_back(std::to_string(static_cast<std::int32_t>(word_at(k))));
        k += 2;
        break;
      case 'P':
        if (need(2))
          ops.push_back("count=" + std::to_string(word_at(k)));
        k += 2;
        break;
      case 'C':
        if (need(2))
          ops.push_back("native " + hex32(word_at(k)));
        k += 2;
        break;
      case 'p':
        if (need(2))
          ops.push_back(address_text(word_at(k)));
        k += 2;
        break;
      case 'E':
        if (need(2))
          ops.push_back(definition_text(word_at(k)));
        k += 2;
        break;
      case 'L':
        if (need(2)) {
          const TAGGED h = word_at(k);
          const unsigned words = IsBoxHeader(h) && (h & 7) == 7 ? BoxWords(h) : 0;
          if (words < 2 || (BoxIsFloat(h) && words != 3)) {
            ops.push_back("bad number header " + hex32(h));
            truncated = true; /* its length is unknown */
            break;
          }
          if (!need(2 * words))
            break;
          if (BoxIsFloat(h)) {
            double d;
            const std::uint32_t w[2] = {word_at(k + 2), word_at(k + 4)};
            std::memcpy(&d, w, sizeof d);
            ops.push_back(float_text(d));
          } else {
            std::vector<std::uint32_t> digits;
            for (unsigned w = 1; w < words; w++)
              digits.push_back(word_at(k + 2 * w));
            ops.push_back(digits_text(digits));
          }
          k += 2 * words;
        }
        break;
      case 'Z':
        if (need(1)) {
          const unsigned count = code[k] >> 8, first = code[k] & 0xFF;
          if (!need(1 + count))
            break;
          std::string s = "[";
          for (unsigned a = 0; a < count; a++) {
            const INSN e = code[k + 1 + a];
            const unsigned mode = e & 3;
            const std::string yv = "Y" + std::to_string((e - mode - 8) / 4);
            s += (a ? ", X" : "X") + std::to_string(first + a) + "=";
            s += mode == 0 ? yv : mode == 1 ? "new " + yv : mode == 2 ? "unsafe " + yv : std::string("heap");
          }
          ops.push_back(s + "]");
          k += 1 + count;
        }
        break;
      case 'G':
        if (need(1)) {
          const unsigned count = code[k];
          if (!need(1 + 2 * std::size_t{count}))
            break;
          std::string s = "[";
          for (unsigned a = 0; a < count; a++) {
            s += (a ? ", Y" : "Y") + std::to_string(y_index(code[k + 2 + 2 * a])) + "=X" +
                 std::to_string(x_index(code[k + 1 + 2 * a]));
          }
          ops.push_back(s + "]");
          k += 1 + 2 * count;
        }
        break;
      default: /* implicit registers and the a/A markers have no halfword */
        break;
      }
    }
    /* The query's exit carries its result in the halfword after it. */
    if (!truncated && number == EXIT_TOPLEVEL && k < n) {
      ops.push_back("result=" + std::to_string(static_cast<std::int16_t>(code[k])));
      k += 1;
    }
    for (std::size_t a = 0; a < ops.size(); a++)
      line += (a ? ", " : " ") + ops[a];
    if (truncated) {
      line += " <truncated>";
      *next = n;
    } else {
      *next = k;
    }
    return line;
  }
};

} // namespace

std::string disasm_insn(const INSN *code, std::size_t n, std::size_t at, const disasm_options &opt,
                        std::size_t *next)
{
  const std::uint32_t base = opt.base ? *opt.base : static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(code));
  lister l{code, n, base, opt};
  if (at >= n) {
    *next = n;
    return "";
  }
  return l.insn(at, next);
}

std::string disasm_code(const INSN *code, std::size_t n, const disasm_options &opt)
{
  std::string out;
  std::size_t at = 0;
  while (at < n) {
    std::size_t next;
    out += disasm_insn(code, n, at, opt, &next);
    out += '\n';
    at = next;
  }
  return out;
}

std::string disasm_clause(const emul_info *clause, const disasm_options &opt)
{
  const std::uint32_t objsize = emul_objsize(clause);
  const std::size_t n = objsize > EMUL_INFO_HEADER ? (objsize - EMUL_INFO_HEADER) / 2 : 0;
  return disasm_code(clause->emulcode, n, opt);
}
