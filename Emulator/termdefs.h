/* termdefs.h: the term word and the shapes built from it.
 *
 * Every Prolog term is a 32-bit TAGGED word.  The two low bits are the tag:
 * 00 reference, 01 structure pointer (cell + 1), 10 list pointer (cell + 2),
 * 11 constant (low three bits 011 small integer, 111 atom or functor).
 * Boxed numbers are structures whose first cell is a negative header word
 * H = (-(n+1) << 4) | k (k 7 integer, 15 float), then n payload words and,
 * on the heap, a trailer equal to H.  Boxed integers are minimal
 * two's-complement digit vectors, never in small-integer range, so equal
 * integers have equal words.  Everything in the engine relies on these
 * encodings; they are fixed by the bytecode and saved-state formats.
 */
#ifndef VOSTREL_TERMDEFS_H
#define VOSTREL_TERMDEFS_H

#include <cstddef>
#include <cstdint>

typedef std::uint32_t TAGGED;
typedef std::uint16_t INSN;
typedef std::int32_t VR_INTEGER;
typedef std::int64_t VR_int64;
typedef double VR_FLOAT;

static_assert(sizeof(void *) == 4, "the engine is built for 32-bit x86 only");
static_assert(sizeof(TAGGED) == 4 && sizeof(INSN) == 2);

/* Tags. */
constexpr TAGGED TAG_MASK = 3;
constexpr TAGGED REF_TAG = 0;
constexpr TAGGED STR_TAG = 1;
constexpr TAGGED LST_TAG = 2;
constexpr TAGGED CONST_TAG = 3;
constexpr TAGGED SMALL_TAG = 3; /* low three bits 011 */
constexpr TAGGED ATOM_TAG = 7;  /* low three bits 111 */

constexpr inline TAGGED tag_of(TAGGED t) { return t & TAG_MASK; }
constexpr inline bool IsVar(TAGGED t) { return (t & 3) == REF_TAG; }
constexpr inline bool IsStructure(TAGGED t) { return (t & 3) == STR_TAG; }
constexpr inline bool IsList(TAGGED t) { return (t & 3) == LST_TAG; }
constexpr inline bool IsComplex(TAGGED t) { return (t & 3) == STR_TAG || (t & 3) == LST_TAG; }
constexpr inline bool IsAtomic(TAGGED t) { return (t & 3) == CONST_TAG; }
constexpr inline bool IsSmall(TAGGED t) { return (t & 7) == SMALL_TAG; }
/* An atom word: low bits 111, arity field (bits 23..31) zero. */
constexpr inline bool IsAtom(TAGGED t) { return (t & 0xFF800007u) == ATOM_TAG; }

/* Pointers carried by terms. */
inline TAGGED *TagToPointer(TAGGED t) { return reinterpret_cast<TAGGED *>(t & ~TAG_MASK); }
inline TAGGED *TagToRef(TAGGED t) { return reinterpret_cast<TAGGED *>(t); }
inline TAGGED *TagToSTR(TAGGED t) { return reinterpret_cast<TAGGED *>(t - STR_TAG); }
inline TAGGED *TagToLST(TAGGED t) { return reinterpret_cast<TAGGED *>(t - LST_TAG); }
inline TAGGED PointerToTerm(const void *p) { return static_cast<TAGGED>(reinterpret_cast<std::uintptr_t>(p)); }
inline TAGGED MakeSTR(const TAGGED *p) { return PointerToTerm(p) + STR_TAG; }
inline TAGGED MakeLST(const TAGGED *p) { return PointerToTerm(p) + LST_TAG; }

/* Small integers: -2^28 .. 2^28-1. */
constexpr VR_INTEGER SMALL_MIN = -268435456;
constexpr VR_INTEGER SMALL_MAX = 268435455;
constexpr inline TAGGED MakeSmall_checked(VR_INTEGER x) { return (static_cast<TAGGED>(x) << 3) | SMALL_TAG; }
constexpr inline VR_INTEGER GetSmall(TAGGED t) { return static_cast<VR_INTEGER>(t) >> 3; }
constexpr inline bool IntIsSmall(VR_INTEGER v) { return (v >> 28) == 0 || (v >> 28) == -1; }
constexpr inline bool Int64IsSmall(VR_int64 v) { return v >= SMALL_MIN && v <= SMALL_MAX; }

/* Atoms and functors. */
constexpr inline TAGGED MakeAtom(std::uint32_t index) { return (index << 3) | ATOM_TAG; }
constexpr inline std::uint32_t AtomIndex(TAGGED t) { return (t & 0x7FFFFFu) >> 3; }
constexpr inline TAGGED MakeFunctor(TAGGED atom, unsigned arity) { return atom | (static_cast<TAGGED>(arity) << 23); }
constexpr inline unsigned Arity(TAGGED f) { return f >> 23; }
constexpr inline TAGGED FunctorName(TAGGED f) { return f & 0x7FFFFFu; }
/* A functor word of arity 1..255: low bits 111, bit 31 clear, arity non-zero. */
constexpr inline bool IsFunctor(TAGGED t) { return (t & 7) == ATOM_TAG && (t >> 31) == 0 && (t >> 23) != 0; }

constexpr TAGGED atom_nil = MakeAtom(0);   /* []  = 0x7 */
constexpr TAGGED atom_dot = MakeAtom(1);   /* .   = 0xF */
constexpr TAGGED functor_list = 0x100000F; /* './2, never stored */
constexpr TAGGED functor_colon = 0x100008F;
constexpr TAGGED functor_Dmutable = 0x1000097;
constexpr TAGGED functor_Dref = 0x10004CF;
static_assert(MakeFunctor(atom_dot, 2) == functor_list);
static_assert(MakeFunctor(MakeAtom(17), 2) == functor_colon);
static_assert(MakeFunctor(MakeAtom(18), 2) == functor_Dmutable);
static_assert(MakeFunctor(MakeAtom(153), 2) == functor_Dref);

/* Boxed numbers. */
constexpr inline TAGGED BoxHeader(unsigned payload_words, bool is_float)
{
  return static_cast<TAGGED>((-static_cast<std::int32_t>(payload_words + 1)) << 4) | (is_float ? 15u : 7u);
}
constexpr TAGGED BOX_INT1 = 0xFFFFFFE7; /* -25 */
constexpr TAGGED BOX_INT2 = 0xFFFFFFD7; /* -41 */
constexpr TAGGED BOX_FLOAT = 0xFFFFFFDF; /* -33 */
static_assert(BoxHeader(1, false) == BOX_INT1 && BoxHeader(2, false) == BOX_INT2 &&
              BoxHeader(2, true) == BOX_FLOAT);
/* A box header is negative; the constrained-variable marker -1 is not a header. */
constexpr inline bool IsBoxHeader(TAGGED h) { return static_cast<std::int32_t>(h) < 0 && h != 0xFFFFFFFFu; }
constexpr inline bool BoxIsFloat(TAGGED h) { return (h & 8) != 0; }
/* Words from the header up to, not including, the trailer: n + 1. */
constexpr inline unsigned BoxWords(TAGGED h) { return static_cast<unsigned>(-(static_cast<std::int32_t>(h) >> 4)); }
constexpr inline unsigned BoxPayload(TAGGED h) { return BoxWords(h) - 1; }
constexpr TAGGED CVA_MARKER = 0xFFFFFFFF;

#endif
