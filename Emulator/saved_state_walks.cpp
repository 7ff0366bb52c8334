/* saved_state_walks.cpp: the walks over stored code that the saved-state
 * writer and reader and atom garbage collection share.
 *
 * relocate_emul_data steps through a compiled clause by the one
 * instruction table (insn_fmt, fmt_letters, operand_halfwords) and calls
 * back on every atom, functor and predicate operand.  It follows in-clause
 * references (calls of embedded choice blocks, else labels after the main
 * part, try-node entries) so that code reached only through them is
 * walked, and it stops after the last instruction that nothing jumps
 * beyond.  In restore mode (callback restore_rel) it rewrites the code it
 * read from a state: byte order, opcode encoding, argument-register
 * offsets, addresses; every other mode only visits.  Code from a state is
 * input from outside: the walk checks every operand against the clause's
 * end and every in-clause address against the clause, and reports what
 * does not decode instead of running past it.
 *
 * relocate_instance_words walks the words of a stored term: atoms and
 * functors, boxed numbers skipped, database references resolved (restore)
 * or their clauses written first (save).
 */
#include "saved_state.h"

#include <algorithm>
#include <cstring>

#include "atoms.h"
#include "code_builder.h"
#include "dynamic_clauses.h"
#include "instance.h"
#include "predicates.h"
#include "wamsup.h"

namespace {

inline std::uint16_t swap16(std::uint16_t v) { return static_cast<std::uint16_t>((v >> 8) | (v << 8)); }
inline std::uint32_t swap32(std::uint32_t v) { return __builtin_bswap32(v); }
inline std::uint32_t address_of(const void *p) { return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(p)); }

/* Reads units and words of the code, converting them in place to this
   system's byte order when the run says the saver's differs. */
struct code_reader {
  bool swap;
  bool restore;
  std::uint16_t unit(INSN *p) const
  {
    if (swap)
      *p = swap16(*p);
    return *p;
  }
  std::uint32_t word(INSN *p) const
  {
    std::uint32_t w = code_word(p);
    if (swap) {
      w = swap32(w);
      set_code_word(p, w);
    }
    return w;
  }
  void store(INSN *p, std::uint32_t w) const
  {
    if (restore)
      set_code_word(p, w);
  }
};

bool is_atom_operand(std::uint32_t w) { return (w & 7) == 7 && static_cast<std::int32_t>(w) >= 0; }

} // namespace

int relocate_emul_data(emul_info *clause, std::int32_t displacement, std::uint32_t saved_failcode,
                       reloc_fn callback, std::uint32_t savemask, std::uint32_t restoremask,
                       saverest_info *info)
{
  const bool restore = callback == restore_rel;
  const code_reader rd{restore && info != nullptr && info->diffendian != 0, restore};
  const std::uint32_t objsize = emul_objsize(clause);
  if (objsize < EMUL_INFO_HEADER)
    return -1;
  INSN *const code = clause->emulcode;
  INSN *const end = reinterpret_cast<INSN *>(reinterpret_cast<char *>(clause) + objsize);
  const std::uint32_t code_at = address_of(code), end_at = address_of(end);
  const int xdelta = restore ? 4 * (static_cast<int>(arch_xoffset(restoremask)) - static_cast<int>(arch_xoffset(savemask))) : 0;
  const unsigned opcode_shift = !restore || arch_threaded(savemask) != 0 ? 3 : 1;
  auto in_clause = [&](std::uint32_t saved) {
    const std::uint32_t a = saved + static_cast<std::uint32_t>(displacement);
    return a >= code_at && a < end_at;
  };
  INSN *maxref = code;
  auto reach = [&](std::uint32_t a) {
    INSN *t = reinterpret_cast<INSN *>(static_cast<std::uintptr_t>(a));
    if (t > maxref)
      maxref = t;
  };
  bool main_part = true;
  INSN *p = code;
  while (p < end) {
    const std::uint16_t unit = rd.unit(p);
    if (unit == EMBEDDED_CHOICE_UNIT) {
      /* Head: 5, arity, env size, KONTINUE, entry handler, first entry or
         the first try node's opcode; then the try nodes, contiguous. */
      if (end - p < 8)
        return -1;
      const std::uint16_t arity = rd.unit(p + 1);
      if (arity > 255)
        return -1;
      INSN *const after = p + 8;
      const std::uint32_t saved_after = address_of(after) - static_cast<std::uint32_t>(displacement);
      const std::uint32_t first = rd.word(p + 6);
      std::uint32_t entries[64];
      unsigned n = 0;
      if (first == saved_after) {
        entries[n++] = address_of(after);
      } else {
        if (first != saved_after + offsetof(try_node, opcode))
          return -1;
        for (;;) {
          INSN *node = after + 8 * n;
          if (end - node < 8 || n == 64)
            return -1;
          const std::uint32_t next = rd.word(node);
          const std::uint32_t entry = rd.word(node + 2);
          if (!in_clause(entry))
            return -1;
          entries[n++] = entry + static_cast<std::uint32_t>(displacement);
          if (next == 0)
            break;
          if (next != saved_after + 16 * n)
            return -1;
        }
        if (n < 2)
          return -1;
      }
      for (unsigned k = 0; k < n; k++)
        reach(entries[k]);
      if (restore) {
        asm_try_insn_at(p, address_of(p), entries[0], arity, 1);
        for (unsigned k = 2; k <= n; k++) {
          INSN *at = k == 2 ? after : p + 8 * k;
          asm_try_insn_at(at, address_of(at), entries[k - 1], arity, static_cast<int>(k));
        }
      }
      p = n == 1 ? after : after + 8 * n;
      main_part = false;
      continue;
    }
    if ((unit & ((1u << opcode_shift) - 1)) != 0)
      return -1;
    const unsigned insn = unit >> opcode_shift;
    if (insn >= INSN_COUNT)
      return -1;
    if (restore)
      *p = OPCODE(static_cast<int>(insn));
    const int fmt = insn_fmt[insn];
    if (fmt == fmt_QiiEC || fmt == fmt_iiEC)
      return 0; /* nothing after such an instruction is walked */
    INSN *pos = p + 1;
    for (const char *f = fmt_letters[fmt]; *f != '\0'; f++) {
      const char letter = *f;
      /* Implied registers and the environment markers take no unit. */
      if ((letter >= '0' && letter <= '3') || letter == 'a' || letter == 'A')
        continue;
      if (pos >= end)
        return -1;
      switch (letter) {
      case 'Q':
        pos++;
        break;
      case 'd': case 'u': {
        const std::uint16_t x = rd.unit(pos);
        if (restore)
          *pos = static_cast<INSN>(x + xdelta);
        pos++;
        break;
      }
      case 'y': case 'v': case 'i': case 'r': case 'e':
        rd.unit(pos);
        pos++;
        break;
      case 'Z': {
        const unsigned count = rd.unit(pos) >> 8;
        if (end - pos < static_cast<std::ptrdiff_t>(1 + count))
          return -1;
        for (unsigned i = 1; i <= count; i++)
          rd.unit(pos + i);
        pos += 1 + count;
        break;
      }
      case 'G': {
        const unsigned count = rd.unit(pos);
        if (end - pos < static_cast<std::ptrdiff_t>(1 + 2 * count))
          return -1;
        for (unsigned i = 0; i < count; i++) {
          const std::uint16_t x = rd.unit(pos + 1 + 2 * i);
          if (restore)
            pos[1 + 2 * i] = static_cast<INSN>(x + xdelta);
          rd.unit(pos + 2 + 2 * i);
        }
        pos += 1 + 2 * count;
        break;
      }
      case 's': {
        const unsigned count = rd.unit(pos);
        if (count == 0 || end - pos < static_cast<std::ptrdiff_t>(count))
          return -1;
        pos += count;
        break;
      }
      case 't': case 'f': case 'l': case 'p': case 'P': case 'C': case 'E': {
        if (end - pos < 2)
          return -1;
        const std::uint32_t w = rd.word(pos);
        if (letter == 't' || letter == 'f') {
          if (is_atom_operand(w))
            rd.store(pos, callback(pos, w, info, RELOC_ATOM));
        } else if (letter == 'E') {
          if (in_clause(w)) {
            const std::uint32_t a = w + static_cast<std::uint32_t>(displacement);
            rd.store(pos, a);
            reach(a);
          } else {
            rd.store(pos, callback(pos, w, info, RELOC_PRED));
          }
        } else if (letter == 'p') {
          if (w == saved_failcode) {
            rd.store(pos, address_of(failcode));
          } else if (main_part) {
            rd.store(pos, address_of(elsecode));
          } else {
            if (!in_clause(w))
              return -1;
            const std::uint32_t a = w + static_cast<std::uint32_t>(displacement);
            rd.store(pos, a);
            reach(a);
          }
        } else if (letter == 'P') {
          rd.store(pos, 0);
        } else if (letter == 'C' && restore) {
          return -1; /* native function addresses never travel */
        }
        pos += 2;
        break;
      }
      case 'L': {
        if (end - pos < 2)
          return -1;
        const std::uint32_t h = rd.word(pos);
        if (!IsBoxHeader(h) || (h & 7) != 7 || BoxWords(h) < 2 ||
            end - pos < static_cast<std::ptrdiff_t>(2 * BoxWords(h)))
          return -1;
        const unsigned words = BoxWords(h);
        if (rd.swap) {
          for (unsigned i = 1; i < words; i++)
            rd.word(pos + 2 * i);
          if (BoxIsFloat(h) && words == 3) {
            const std::uint32_t a = code_word(pos + 2), b = code_word(pos + 4);
            set_code_word(pos + 2, b);
            set_code_word(pos + 4, a);
          }
        }
        pos += 2 * words;
        break;
      }
      default:
        break;
      }
    }
    if (pos > end)
      return -1;
    p = pos;
    if (insn_class[insn] == iclass_done && maxref < p)
      return 0;
  }
  return 0;
}

int scan_code(emul_info *clause, reloc_fn callback)
{
  return relocate_emul_data(clause, 0, address_of(failcode), callback, THIS_ARCH_MASK, THIS_ARCH_MASK,
                            nullptr);
}

int relocate_instance_words(TAGGED *words, std::uint32_t n, reloc_fn callback, saverest_info *info)
{
  const bool restore = callback == restore_rel;
  const bool save = !restore && info != nullptr && callback == save_rel;
  const bool swap = restore && info != nullptr && info->diffendian != 0;
  for (std::uint32_t i = 0; i < n; i++) {
    const TAGGED w = words[i];
    if ((w & 7) != 7)
      continue;
    if (static_cast<std::int32_t>(w) < 0) {
      if (!IsBoxHeader(w))
        continue;
      const unsigned box = BoxWords(w);
      if (box < 2 || n - i < box + 1)
        return -1;
      if (BoxIsFloat(w) && swap) {
        std::swap(words[i + 1], words[i + 2]);
      }
      i += box; /* onto the trailer; the loop steps past it */
      continue;
    }
    const TAGGED mapped = callback(&words[i], w, info, RELOC_ATOM);
    if (restore) {
      if (mapped == 0)
        return -1;
      words[i] = mapped;
    }
    if (mapped != functor_Dref || n - i < 3)
      continue;
    const TAGGED a = words[i + 1], s = words[i + 2];
    if (save) {
      instance *ref = IsSmall(a) && IsSmall(s) ? dbref_instance(a, s) : nullptr;
      if (ref != nullptr && ref->death == INSTANCE_ALIVE) {
        if (!save_instance_known(info, ref))
          save_instance_owner(info, ref);
      } else {
        words[i + 1] = words[i + 2] = MakeSmall_checked(0);
      }
    } else if (restore && a != MakeSmall_checked(0)) {
      if (!IsSmall(a))
        return -1;
      instance *ref = restore_instance_ref(info, a - 3, &words[i]);
      if (ref != nullptr) {
        TAGGED *at = &words[i];
        cons_dbref(ref, &at, 0);
      } else if (info->error != 0) {
        return -1;
      }
    }
    i += 2;
  }
  return 0;
}

int relocate_instance(instance *ins, reloc_fn callback, saverest_info *info)
{
  return relocate_instance_words(ins->code, instance_words(ins), callback, info);
}
