/* code_builder.cpp: the bytecode assembler behind code_builder.h.
 *
 * Emission appends halfwords; anything that depends on where the code will
 * live (label addresses, choice-block pointers) is recorded as a fix-up and
 * written only by image(), so one builder can be placed several times.
 * Halfword positions count from the code start, which is 4-byte aligned:
 * an even halfword index is a 4-byte aligned address.
 */
#include "code_builder.h"

#include <cmath>
#include <cstring>
#include <stdexcept>
#include <string>

#include "memman.h"
#include "terms.h"

namespace {

[[noreturn]] void fail(const std::string &what)
{
  throw std::invalid_argument("code_builder: " + what);
}

bool takes_operand(char c)
{
  return !(c == 'Q' || c == 'a' || c == 'A' || (c >= '0' && c <= '9'));
}

bool is_word_letter(char c)
{
  return std::strchr("tflpPCEL", c) != nullptr;
}

const char *kind_text(cb_kind k)
{
  switch (k) {
  case cb_kind::xreg: return "an X register";
  case cb_kind::yreg: return "a Y variable";
  case cb_kind::count: return "a count";
  case cb_kind::constant: return "a constant";
  case cb_kind::functor: return "a functor";
  case cb_kind::raw: return "a raw integer";
  case cb_kind::large: return "an inline number";
  case cb_kind::definition: return "a definition";
  case cb_kind::definition_label: return "a definition label";
  case cb_kind::native: return "a native function";
  case cb_kind::counter: return "a counter";
  case cb_kind::else_label: return "an else label";
  case cb_kind::else_address: return "an else address";
  case cb_kind::args: return "an argument list";
  case cb_kind::moves: return "a move list";
  }
  return "?";
}

const char *letter_text(char c)
{
  switch (c) {
  case 'u': case 'd': return "an X register";
  case 'y': case 'v': return "a Y variable";
  case 'i': case 'r': case 'e': case 's': return "a count";
  case 't': return "an atom or small integer";
  case 'f': return "a functor";
  case 'l': return "a raw integer";
  case 'L': return "an inline number";
  case 'p': return "an else label or address";
  case 'P': return "a counter";
  case 'C': return "a native function";
  case 'E': return "a definition or a label";
  case 'Z': return "an argument list";
  case 'G': return "a move list";
  }
  return "?";
}

bool accepts(char letter, cb_kind k)
{
  switch (letter) {
  case 'u': case 'd': return k == cb_kind::xreg;
  case 'y': case 'v': return k == cb_kind::yreg;
  case 'i': case 'r': case 'e': case 's': return k == cb_kind::count;
  case 't': return k == cb_kind::constant;
  case 'f': return k == cb_kind::functor;
  case 'l': return k == cb_kind::raw;
  case 'L': return k == cb_kind::large;
  case 'p': return k == cb_kind::else_label || k == cb_kind::else_address;
  case 'P': return k == cb_kind::counter;
  case 'C': return k == cb_kind::native;
  case 'E': return k == cb_kind::definition || k == cb_kind::definition_label;
  case 'Z': return k == cb_kind::args;
  case 'G': return k == cb_kind::moves;
  }
  return false;
}

/* Halfwords an operand takes (its letter already checked). */
std::size_t operand_width(char letter, const cb_operand &op)
{
  switch (letter) {
  case 'L': return 2 * op.words.size();
  case 'Z': return 1 + op.arglist.size();
  case 'G': return 1 + 2 * op.movelist.size();
  case 't': case 'f': case 'l': case 'p': case 'P': case 'C': case 'E': return 2;
  default: return takes_operand(letter) ? 1 : (letter == 'Q' ? 1 : 0);
  }
}

cb_operand make(cb_kind kind, std::uint32_t value = 0)
{
  cb_operand op;
  op.kind = kind;
  op.value = value;
  return op;
}

constexpr std::uint32_t MAX_Y = (65535u - 8u - 3u) / 4u; /* mode bits ride in the Y halfword */

void store_word(std::vector<INSN> &code, std::size_t at, std::uint32_t w)
{
  set_code_word(&code[at], w);
}

} // namespace

/* ---- Embedded choice blocks ---- */

INSN *asm_try_insn_at(INSN *at, std::uint32_t address, std::uint32_t target, int arity, int nb)
{
  auto put16 = [](INSN *p, unsigned byte, std::uint16_t v) { std::memcpy(reinterpret_cast<char *>(p) + byte, &v, 2); };
  auto put32 = [](INSN *p, unsigned byte, std::uint32_t v) { std::memcpy(reinterpret_cast<char *>(p) + byte, &v, 4); };
  auto get32 = [](const INSN *p, unsigned byte) {
    std::uint32_t v;
    std::memcpy(&v, reinterpret_cast<const char *>(p) + byte, 4);
    return v;
  };
  const std::uint16_t node_offset = static_cast<std::uint16_t>(node_offset_for(static_cast<unsigned>(arity)));
  /* A try node at p (address a): the layout of try_node, written field by
     field so that it also works in an image built away from its address. */
  auto put_node = [&](INSN *p, std::uint32_t a, std::uint32_t next, std::uint32_t entry) {
    put32(p, offsetof(try_node, next), next);
    put32(p, offsetof(try_node, entry), entry);
    put32(p, offsetof(try_node, link), a);
    put16(p, offsetof(try_node, node_offset), node_offset);
    put16(p, offsetof(try_node, opcode), OPCODE(TRY));
  };
  if (nb == 1) {
    /* The first six fields of a predicate record: enter_instr, arity,
       frame_size, continuation (so frame_size doubles as the size of the
       environment that KONTINUE pops), emul_entry, code. */
    put16(at, 0, 5);
    put16(at, 2, static_cast<std::uint16_t>(arity));
    put16(at, 4, static_cast<std::uint16_t>(8 + 4 * arity));
    put16(at, 6, OPCODE(KONTINUE));
    put32(at, 8, static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(pred_tab[ENTER_INTERNAL])));
    put32(at, 12, target);
    return at + 8;
  }
  if (nb == 2) {
    INSN *head = at - 8;
    const std::uint32_t first_entry = get32(head, 12);
    put_node(at, address, address + 16, first_entry);
    put32(head, 12, address + offsetof(try_node, opcode));
    put_node(at + 8, address + 16, 0, target);
    return at + 16;
  }
  INSN *prev = at - 8;
  put32(prev, offsetof(try_node, next), address);
  put_node(at, address, 0, target);
  return at + 8;
}

INSN *asm_try_insn(void *buffer, INSN *target, int arity, int nb)
{
  INSN *at = static_cast<INSN *>(buffer);
  return asm_try_insn_at(at, static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(at)),
                         static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(target)), arity, nb);
}

/* ---- Operand makers ---- */

namespace cb {

cb_operand x(unsigned i)
{
  if (i > 255)
    fail("X register " + std::to_string(i) + " out of range 0..255");
  return make(cb_kind::xreg, i);
}

cb_operand y(unsigned i)
{
  if (i > MAX_Y)
    fail("Y variable " + std::to_string(i) + " does not fit a halfword");
  return make(cb_kind::yreg, i);
}

cb_operand n(unsigned count)
{
  if (count > 0xFFFF)
    fail("count " + std::to_string(count) + " does not fit a halfword");
  return make(cb_kind::count, count);
}

cb_operand env(unsigned yvars)
{
  return n(8 + 4 * yvars);
}

cb_operand t(TAGGED word)
{
  if (!IsAtom(word) && !IsSmall(word))
    fail("constant operand must be an atom or a small integer");
  return make(cb_kind::constant, word);
}

cb_operand f(TAGGED functor)
{
  if (!IsFunctor(functor))
    fail("functor operand must be a functor word of arity 1..255");
  return make(cb_kind::functor, functor);
}

cb_operand l(std::int32_t value)
{
  return make(cb_kind::raw, static_cast<std::uint32_t>(value));
}

cb_operand large(const TAGGED *box)
{
  const TAGGED h = box[0];
  if (!IsBoxHeader(h) || (h & 7) != 7 || BoxWords(h) < 2)
    fail("inline number: not a box header");
  if (BoxIsFloat(h) && BoxWords(h) != 3)
    fail("inline number: a float box has three words");
  cb_operand op = make(cb_kind::large);
  op.words.assign(box, box + BoxWords(h));
  return op;
}

cb_operand large_term(TAGGED boxed)
{
  if (!IsStructure(boxed))
    fail("inline number: not a structure pointer to a box");
  return large(TagToSTR(boxed));
}

cb_operand large_int(std::int64_t value)
{
  if (value >= INT32_MIN && value <= INT32_MAX)
    return large_digits({static_cast<std::uint32_t>(value)});
  const auto u = static_cast<std::uint64_t>(value);
  return large_digits({static_cast<std::uint32_t>(u), static_cast<std::uint32_t>(u >> 32)});
}

cb_operand large_float(double value)
{
  if (std::isnan(value))
    value = ieee_nan; /* equal floats must have equal words */
  std::uint32_t w[2];
  std::memcpy(w, &value, sizeof value);
  cb_operand op = make(cb_kind::large);
  op.words = {BOX_FLOAT, w[0], w[1]};
  return op;
}

cb_operand large_digits(const std::vector<std::uint32_t> &digits)
{
  if (digits.empty())
    fail("inline integer without digits");
  if (digits.size() > 0x7FFFFFE)
    fail("inline integer too long");
  /* Equal integers must have equal words: a top digit that only repeats
     the sign of the one below is redundant. */
  const std::size_t k = digits.size();
  if (k > 1) {
    const std::uint32_t top = digits[k - 1], sign = (digits[k - 2] & 0x80000000u) ? 0xFFFFFFFFu : 0;
    if (top == sign)
      fail("inline integer is not minimal: its top digit only extends the sign");
  }
  cb_operand op = make(cb_kind::large);
  op.words.reserve(k + 1);
  op.words.push_back(BoxHeader(static_cast<unsigned>(k), false));
  op.words.insert(op.words.end(), digits.begin(), digits.end());
  return op;
}

cb_operand def(const definition *d)
{
  return make(cb_kind::definition, static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(d)));
}

cb_operand def(cb_label target)
{
  if (target.id < 0)
    fail("call target label was never made");
  return make(cb_kind::definition_label, static_cast<std::uint32_t>(target.id));
}

cb_operand native(const void *fn)
{
  return make(cb_kind::native, static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(fn)));
}

cb_operand counter(std::uint32_t value)
{
  return make(cb_kind::counter, value);
}

cb_operand else_to(cb_label target)
{
  if (target.id < 0)
    fail("else label was never made");
  return make(cb_kind::else_label, static_cast<std::uint32_t>(target.id));
}

cb_operand else_to(const INSN *code)
{
  return make(cb_kind::else_address, static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(code)));
}

cb_operand args(unsigned first, const std::vector<cb_arg> &list)
{
  if (list.size() > 255)
    fail("argument list longer than 255");
  if (first > 255 || first + list.size() > 256)
    fail("argument list runs past X255");
  for (const cb_arg &a : list) {
    if (a.mode > 3)
      fail("argument mode " + std::to_string(a.mode) + " is not 0..3");
    if (a.mode != 3 && a.y > MAX_Y)
      fail("argument list: Y variable " + std::to_string(a.y) + " does not fit a halfword");
  }
  cb_operand op = make(cb_kind::args, first);
  op.arglist = list;
  return op;
}

cb_operand args(unsigned first, std::initializer_list<cb_arg> list)
{
  return args(first, std::vector<cb_arg>(list));
}

cb_operand moves(const std::vector<std::pair<unsigned, unsigned>> &pairs)
{
  if (pairs.size() > 0xFFFF)
    fail("move list too long");
  for (const auto &p : pairs) {
    if (p.first > 255)
      fail("move list: X register " + std::to_string(p.first) + " out of range");
    if (p.second > MAX_Y)
      fail("move list: Y variable " + std::to_string(p.second) + " does not fit a halfword");
  }
  cb_operand op = make(cb_kind::moves);
  op.movelist = pairs;
  return op;
}

cb_operand moves(std::initializer_list<std::pair<unsigned, unsigned>> pairs)
{
  return moves(std::vector<std::pair<unsigned, unsigned>>(pairs));
}

} // namespace cb

/* ---- The builder ---- */

int code_builder::emit(int insn, std::initializer_list<cb_operand> ops)
{
  return emit(insn, std::vector<cb_operand>(ops));
}

int code_builder::emit(const char *name, std::initializer_list<cb_operand> ops)
{
  const int insn = insn_by_name(name);
  if (insn < 0)
    fail(std::string("no instruction named ") + name);
  return emit(insn, std::vector<cb_operand>(ops));
}

int code_builder::emit(int insn, const std::vector<cb_operand> &ops)
{
  if (insn < 0 || insn >= INSN_COUNT)
    fail("instruction number " + std::to_string(insn) + " out of range");
  const int plain = insn_plain_of(insn) >= 0 ? insn_plain_of(insn) : insn;
  const int qform = insn_q_of(plain);
  const char *letters = fmt_letters[insn_fmt[plain]];

  /* Check every operand against its letter, and find where the plain form
     would put its first 32-bit operand. */
  std::size_t j = 0, width = 1, first_word = 0;
  bool has_word = false;
  bool after_link = false; /* a or A seen: the handler ignores unsafe values */
  for (const char *c = letters; *c != '\0'; c++) {
    if (*c == 'a' || *c == 'A')
      after_link = true;
    if (!takes_operand(*c))
      continue;
    const std::string where = std::string(insnname[plain]) + " operand " + std::to_string(j + 1) + " (" + *c + ")";
    if (j >= ops.size())
      fail(where + ": missing, expected " + letter_text(*c));
    const cb_operand &op = ops[j];
    if (!accepts(*c, op.kind))
      fail(where + ": expected " + letter_text(*c) + ", got " + kind_text(op.kind));
    if (*c == 's' && op.value < 1)
      fail(where + ": a NOP length counts itself, so it is at least 1");
    if (*c == 'e' && op.value % 4 != 0)
      fail(where + ": environment size " + std::to_string(op.value) + " is not a multiple of 4");
    if (*c == 'Z' && after_link)
      for (const cb_arg &a : op.arglist)
        if (a.mode == 2)
          fail(where + ": an environment-linking call cannot pass an unsafe value");
    if (is_word_letter(*c) && !has_word) {
      has_word = true;
      first_word = width;
    }
    width += operand_width(*c, op);
    j++;
  }
  if (j != ops.size())
    fail(std::string(insnname[plain]) + ": " + std::to_string(ops.size()) + " operands given, format " +
         (letters[0] != '\0' ? letters : "(none)") + " takes " + std::to_string(j));

  int chosen = plain;
  if (has_word && (code_.size() + first_word) % 2 != 0) {
    if (qform < 0)
      fail(std::string(insnname[plain]) + " has no Q form to align its 32-bit operand");
    chosen = qform;
  }

  code_.push_back(OPCODE(chosen));
  j = 0;
  for (const char *c = fmt_letters[insn_fmt[chosen]]; *c != '\0'; c++) {
    if (*c == 'Q') {
      code_.push_back(0);
      continue;
    }
    if (!takes_operand(*c))
      continue;
    put_operand(chosen, *c, ops[j++]);
  }
  return chosen;
}

void code_builder::put_word(std::uint32_t w)
{
  const std::size_t at = code_.size();
  code_.resize(at + 2);
  store_word(code_, at, w);
}

void code_builder::put_operand(int insn, char letter, const cb_operand &op)
{
  switch (letter) {
  case 'u': case 'd':
    code_.push_back(x_operand(op.value));
    break;
  case 'y': case 'v':
    code_.push_back(y_operand(op.value));
    break;
  case 'i': case 'r': case 'e':
    code_.push_back(static_cast<INSN>(op.value));
    break;
  case 's': /* the length halfword, then the rest of the NOP's body */
    code_.push_back(static_cast<INSN>(op.value));
    code_.resize(code_.size() + op.value - 1, 0);
    break;
  case 'p': case 'E':
    if (op.kind == cb_kind::else_label || op.kind == cb_kind::definition_label) {
      fixups_.push_back({code_.size(), static_cast<int>(op.value), op.kind == cb_kind::definition_label});
      put_word(0);
    } else {
      put_word(op.value);
    }
    break;
  case 't': case 'f': case 'l': case 'P': case 'C':
    put_word(op.value);
    break;
  case 'L':
    for (std::uint32_t w : op.words)
      put_word(w);
    break;
  case 'Z':
    code_.push_back(static_cast<INSN>((op.arglist.size() << 8) | op.value));
    for (const cb_arg &a : op.arglist)
      code_.push_back(a.mode == 3 ? INSN{3} : static_cast<INSN>(y_operand(a.y) + a.mode));
    break;
  case 'G':
    code_.push_back(static_cast<INSN>(op.movelist.size()));
    for (const auto &p : op.movelist) {
      code_.push_back(x_operand(p.first));
      code_.push_back(y_operand(p.second));
    }
    break;
  default:
    fail(std::string(insnname[insn]) + ": unknown format letter");
  }
}

void code_builder::halfword(INSN h)
{
  code_.push_back(h);
}

void code_builder::word(std::uint32_t w)
{
  put_word(w);
}

cb_label code_builder::new_label()
{
  labels_.push_back(-1);
  return {static_cast<int>(labels_.size() - 1)};
}

void code_builder::bind(cb_label l)
{
  if (l.id < 0 || static_cast<std::size_t>(l.id) >= labels_.size())
    fail("binding a label of another builder");
  if (labels_[l.id] >= 0)
    fail("label " + std::to_string(l.id) + " bound twice");
  labels_[l.id] = static_cast<std::ptrdiff_t>(code_.size());
}

cb_label code_builder::here()
{
  cb_label l = new_label();
  bind(l);
  return l;
}

std::size_t code_builder::offset_of(cb_label l) const
{
  if (l.id < 0 || static_cast<std::size_t>(l.id) >= labels_.size() || labels_[l.id] < 0)
    fail("label " + std::to_string(l.id) + " is not bound");
  return static_cast<std::size_t>(labels_[l.id]);
}

cb_label code_builder::choice_block(int arity, const std::vector<cb_label> &alternatives, cb_label head)
{
  if (arity < 0 || arity > 255)
    fail("choice block arity " + std::to_string(arity) + " out of range 0..255");
  if (alternatives.empty())
    fail("choice block without alternatives");
  for (cb_label l : alternatives)
    if (l.id < 0 || static_cast<std::size_t>(l.id) >= labels_.size())
      fail("choice block alternative is not a label of this builder");
  if (code_.size() % 2 != 0) {
    /* The head and the nodes hold pointers; NOP is the one instruction
       that can take an odd number of halfwords (opcode, length 2, filler). */
    code_.push_back(OPCODE(NOP));
    code_.push_back(2);
    code_.push_back(0);
  }
  if (head.id < 0)
    head = new_label();
  bind(head);
  block b{code_.size(), arity, {}};
  for (cb_label l : alternatives)
    b.labels.push_back(l.id);
  const std::size_t bytes = 16 + (alternatives.size() > 1 ? 16 * alternatives.size() : 0);
  code_.resize(code_.size() + bytes / 2, 0);
  blocks_.push_back(std::move(b));
  return head;
}

std::uint32_t code_builder::resolve(int label, std::uint32_t base) const
{
  if (labels_[label] < 0)
    fail("label " + std::to_string(label) + " used but never bound");
  return base + 2 * static_cast<std::uint32_t>(labels_[label]);
}

std::vector<INSN> code_builder::image(std::uint32_t base) const
{
  if (base % 4 != 0)
    fail("code must be placed at a multiple of 4");
  std::vector<INSN> img = code_;
  for (const fixup &fx : fixups_) {
    store_word(img, fx.at, resolve(fx.label, base));
    /* The callee is entered through the record's emul_entry: only a
       choice block's head is such a record inside code. */
    if (fx.call_target) {
      bool is_head = false;
      for (const block &b : blocks_)
        is_head = is_head || static_cast<std::ptrdiff_t>(b.at) == labels_[fx.label];
      if (!is_head)
        fail("a call target inside the code must be the head of a choice block");
    }
  }
  for (const block &b : blocks_) {
    const std::uint32_t head = base + 2 * static_cast<std::uint32_t>(b.at);
    if (b.labels.size() == 1 && resolve(b.labels[0], base) != head + 16)
      fail("a single-alternative choice block must be followed directly by its alternative");
    INSN *at = img.data() + b.at;
    std::uint32_t addr = head;
    for (std::size_t k = 0; k < b.labels.size(); k++) {
      INSN *next = asm_try_insn_at(at, addr, resolve(b.labels[k], base), b.arity, static_cast<int>(k + 1));
      addr += 2 * static_cast<std::uint32_t>(next - at);
      at = next;
    }
  }
  return img;
}

std::size_t code_builder::place(INSN *dest) const
{
  const auto base = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(dest));
  const std::vector<INSN> img = image(base);
  if (!img.empty())
    std::memcpy(dest, img.data(), img.size() * sizeof(INSN));
  return img.size();
}

emul_info *code_builder::finish(INSN *elsecode, unsigned ix, TAGGED filename) const
{
  if (ix > 0x1FF)
    fail("clause index bits above bit 8");
  if (code_.size() > (EMUL_OBJSIZE_MAX - EMUL_INFO_HEADER) / 2)
    fail("clause record of " + std::to_string(EMUL_INFO_HEADER + 2 * code_.size()) +
         " bytes exceeds the largest clause (" + std::to_string(EMUL_OBJSIZE_MAX) + " bytes)");
  const std::uint32_t objsize = emul_info_size(code_.size());
  (void)image(0); /* every refusal comes before anything is allocated */
  auto *c = static_cast<emul_info *>(checkalloc(objsize, mm_code(MM_BIN_EMUL_INFO)));
  c->next = nullptr;
  c->elsecode = elsecode;
  set_emul_ix_objsize(c, ix, objsize);
  c->filename = filename;
  try {
    place(c->emulcode);
  } catch (...) {
    checkdealloc(c, objsize, mm_code(MM_BIN_EMUL_INFO));
    throw;
  }
  return c;
}
