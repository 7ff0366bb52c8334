/* atoms.cpp: the atom table: look-up and creation, the linear-hashing
 * directory, the index pages and their free list, atom classification,
 * registration, start-up of the predefined atoms, the atom text buffers and
 * the atom built-ins $atom_mode/3 and $replace_suffix/4.
 *
 * Invariants:
 * - Slot (i & 8191) of page (i >> 13) holds the record of atom i, or, when
 *   bit 0 is set, the word (next free index << 3) | 1.  `atom_free` heads
 *   that list; the value 1 ends it (index 0 belongs to [], which start-up
 *   registers, so it is never on the list once the table is in use).
 * - The free list is never empty between two creations: taking its last
 *   slot adds a page at once.
 * - The directory holds `pop` atoms in buckets + splits buckets (linear
 *   hashing); it grows by one bucket per creation when the average chain
 *   would pass 5 and shrinks by one per removal, never below one bucket.
 *   Chains keep their order when split or merged.
 * - Equal texts are one atom: texts are valid internal encoding, whose
 *   spelling of each character is unique (see chartype.cpp).
 *
 * Callers: start-up (init_atoms, init_atoms_once), every native function
 * that makes atoms (init_atom_check), the collector in atom_gc.cpp
 * (atom_table_release) and the character classification (reclassify_atoms).
 * Engine thread only.
 */
#include "atoms.h"

#include <cmath>
#include <cstring>
#include <string>

#include "chartype.h"
#include "datadefs.h"
#include "errors.h"
#include "initial_atoms.h"
#include "memman.h"
#include "stack_growth.h"
#include "support.h"
#include "terms.h"
#include "unify.h"
#include "worker.h"

int vr_errno = 0;

namespace {

constexpr std::size_t PAGE_BYTES = ATOM_PAGE_SLOTS * sizeof(atom *);
constexpr std::size_t SEGMENT_BYTES = LINHASH_SEGMENT_SIZE * sizeof(atom *);
constexpr std::uint32_t MAX_BUCKET_ROUND = LINHASH_SEGMENT_SIZE * LINHASH_SEGMENTS - 1;
constexpr std::uintptr_t FREE_BIT = 1;

inline atom *&slot(std::uint32_t index)
{
  return eglobal->atmtab[index >> 13][index & (ATOM_PAGE_SLOTS - 1)];
}

inline bool slot_is_free(atom *content)
{
  return (reinterpret_cast<std::uintptr_t>(content) & FREE_BIT) != 0;
}

inline atom *free_word(std::uint32_t word)
{
  return reinterpret_cast<atom *>(static_cast<std::uintptr_t>(word));
}

atom **new_segment(void)
{
  atom **seg = static_cast<atom **>(checkalloc(SEGMENT_BYTES, mm_code(MM_BIN_ATOM_TABLE)));
  std::memset(seg, 0, SEGMENT_BYTES);
  return seg;
}

/* Adds an index page whose slots form a free list in ascending order. */
void add_index_page(void)
{
  std::uint32_t first = eglobal->atmtabsize;
  atom **page = static_cast<atom **>(checkalloc(PAGE_BYTES, mm_code(MM_BIN_ATOM_TABLE)));
  for (std::uint32_t i = 0; i < ATOM_PAGE_SLOTS - 1; ++i)
    page[i] = free_word(((first + i + 1) << 3) | 1);
  page[ATOM_PAGE_SLOTS - 1] = free_word(1);
  eglobal->atmtab[first >> 13] = page;
  eglobal->atom_free = (first << 3) | 1;
  eglobal->atmtabsize = first + ATOM_PAGE_SLOTS;
}

inline atom **bucket_head(std::uint32_t i)
{
  return &eglobal->atmhash.segment[i >> 9][i & (LINHASH_SEGMENT_SIZE - 1)];
}

/* Splits bucket `splits` between itself and bucket splits + buckets. */
void split_bucket(void)
{
  linhash_dir &d = eglobal->atmhash;
  std::uint32_t s = d.splits, t = s + d.buckets;
  if (d.segment[t >> 9] == nullptr)
    d.segment[t >> 9] = new_segment();
  atom **stay = bucket_head(s), **move = bucket_head(t);
  atom *a = *stay;
  *stay = nullptr;
  *move = nullptr;
  for (; a != nullptr; a = a->next) {
    atom **&tail = (a->hash & d.buckets) ? move : stay;
    *tail = a;
    tail = &a->next;
  }
  *stay = nullptr;
  *move = nullptr;
  if (++d.splits == d.buckets) {
    d.splits = 0;
    d.buckets *= 2;
  }
}

/* Undoes the last split: the chain of the highest bucket joins its twin.
   The directory keeps at least one bucket, whatever the population. */
void merge_bucket(void)
{
  linhash_dir &d = eglobal->atmhash;
  if (d.buckets + d.splits <= 1)
    return;
  if (d.splits == 0) {
    d.buckets /= 2;
    d.splits = d.buckets;
  }
  --d.splits;
  std::uint32_t s = d.splits, t = s + d.buckets;
  atom **tail = bucket_head(s);
  while (*tail != nullptr)
    tail = &(*tail)->next;
  *tail = *bucket_head(t);
  *bucket_head(t) = nullptr;
  if ((t & (LINHASH_SEGMENT_SIZE - 1)) == 0) {
    checkdealloc(d.segment[t >> 9], SEGMENT_BYTES, mm_code(MM_BIN_ATOM_TABLE));
    d.segment[t >> 9] = nullptr;
  }
}

/* Decodes one character for classification; a malformed sequence reads
   as 128 and takes one byte. */
const char *next_char(const char *s, int *code)
{
  int n = VR_wci_code(code, s);
  if (n <= 0) {
    *code = 128;
    return s + 1;
  }
  return s + n;
}

bool atom_in_table(TAGGED t)
{
  std::uint32_t i = AtomIndex(t);
  return i < eglobal->atmtabsize && !slot_is_free(slot(i));
}

} // namespace

std::uint32_t atom_hash_key(const char *text, std::size_t length)
{
  std::uint32_t h = 0;
  for (std::size_t i = 0; i < length; ++i)
    h = h * 31 + static_cast<unsigned char>(text[i]);
  return h & 0x0FFFFFFF;
}

atom **linhash_location(std::uint32_t key)
{
  const linhash_dir &d = eglobal->atmhash;
  std::uint32_t i = key & (d.buckets - 1);
  if (i < d.splits)
    i = key & (2 * d.buckets - 1);
  return bucket_head(i);
}

void init_atoms(void)
{
  linhash_dir &d = eglobal->atmhash;
  d.pop = 0;
  d.splits = 0;
  d.buckets = 1;
  for (auto &seg : d.segment)
    seg = nullptr;
  d.segment[0] = new_segment();
  for (auto &page : eglobal->atmtab)
    page = nullptr;
  eglobal->atmtabsize = 0;
  add_index_page();
  eglobal->atom_count = 0;
  eglobal->atom_count_limit = DEFAULT_AGC_MARGIN;
  eglobal->current_agcmargin = MakeSmall_checked(DEFAULT_AGC_MARGIN);
}

void deinit_atoms(void)
{
  /* The text buffers live in the same memory; drop them with the table. */
  atom_buffer_remove();
  for (std::uint32_t i = 0; i < eglobal->atmtabsize; ++i) {
    atom *a = slot(i);
    if (!slot_is_free(a)) {
      std::size_t size = atom_record_size(a->length);
      eglobal->stats.agc_alloced -= static_cast<std::int64_t>(size);
      checkdealloc(a, size, mm_code(MM_BIN_ATOM));
    }
  }
  for (auto &page : eglobal->atmtab) {
    if (page != nullptr)
      checkdealloc(page, PAGE_BYTES, mm_code(MM_BIN_ATOM_TABLE));
    page = nullptr;
  }
  for (auto &seg : eglobal->atmhash.segment) {
    if (seg != nullptr)
      checkdealloc(seg, SEGMENT_BYTES, mm_code(MM_BIN_ATOM_TABLE));
    seg = nullptr;
  }
  eglobal->atmhash.pop = eglobal->atmhash.splits = eglobal->atmhash.buckets = 0;
  eglobal->atmtabsize = 0;
  eglobal->atom_count = 0;
  eglobal->atom_free = 1;
  for (auto &w : eglobal->one_char_cache)
    w = 0;
}

TAGGED init_atom_check(const char *text, int mode)
{
  std::size_t length = std::strlen(text);
  std::uint32_t key = atom_hash_key(text, length);
  for (atom *a = *linhash_location(key); a != nullptr; a = a->next)
    if (a->hash == key && a->length == length && std::memcmp(a->name, text, length) == 0)
      return mode == 2 ? 0 : MakeAtom(a->index);
  if (mode == 1 || !wci_valid_string(text))
    return 0;

  /* A full table leaves `atom_free` at 1 with slot 0 in use: collect (once
     the runtime runs) and refuse only when that frees nothing, rather than
     overwrite atom 0.  The collection may free the atom whose text `text`
     points into, so the text is copied first. */
  if (!slot_is_free(slot(eglobal->atom_free >> 3))) {
    if (VR_prolog_initialized) {
      const std::string kept(text, length);
      prolog_garbage_collect_atoms(self);
      if (slot_is_free(slot(eglobal->atom_free >> 3)))
        return init_atom_check(kept.c_str(), mode);
    }
    atom_table_full();
  }
  std::uint32_t index = eglobal->atom_free >> 3;
  eglobal->atom_free = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(slot(index)));
  ++eglobal->atom_count;

  std::size_t size = atom_record_size(length);
  atom *a = static_cast<atom *>(checkalloc(size, mm_code(MM_BIN_ATOM)));
  eglobal->stats.agc_alloced += static_cast<std::int64_t>(size);
  a->hash = key;
  a->is_punctchars = a->is_symbolchars = a->is_ascii = 0;
  a->needs_escaping = a->needs_quoting = 0;
  a->marked = 0;
  a->index = index;
  a->refcount = 0;
  a->length = length;
  std::memcpy(a->name, text, length + 1);
  classify_atom(a);
  slot(index) = a;
  atom **head = linhash_location(key);
  a->next = *head;
  *head = a;

  linhash_dir &d = eglobal->atmhash;
  ++d.pop;
  while (d.buckets <= MAX_BUCKET_ROUND && 5 * (d.buckets + d.splits) < d.pop)
    split_bucket();

  if (eglobal->atom_count >= eglobal->atom_count_limit && VR_prolog_initialized) {
    a->refcount = 1;
    prolog_garbage_collect_atoms(self);
    a->refcount = 0;
  }
  if (eglobal->atom_count > MAX_ATOM_COUNT)
    atom_table_full();
  if (eglobal->atom_free == 1 && eglobal->atmtabsize < ATOM_PAGES * ATOM_PAGE_SLOTS)
    add_index_page();
  return MakeAtom(index);
}

void atom_table_release(atom *a)
{
  atom **link = linhash_location(a->hash);
  while (*link != a)
    link = &(*link)->next;
  *link = a->next;
  linhash_dir &d = eglobal->atmhash;
  --d.pop;
  if (5 * (d.buckets + d.splits - 1) >= d.pop)
    merge_bucket();

  std::uint32_t index = a->index;
  slot(index) = free_word(eglobal->atom_free);
  eglobal->atom_free = (index << 3) | 1;
  --eglobal->atom_count;
  std::size_t size = atom_record_size(a->length);
  eglobal->stats.agc_alloced -= static_cast<std::int64_t>(size);
  eglobal->stats.agc_freed += static_cast<std::int64_t>(size);
  ++eglobal->stats.agc_nfreed;
  checkdealloc(a, size, mm_code(MM_BIN_ATOM));
}

atom *atom_record(TAGGED t)
{
  return slot(AtomIndex(t));
}

/* The writer decides quoting, escaping and spacing from these bits alone,
   so they must agree with what the tokenizer reads back. */
void classify_atom(atom *a)
{
  bool alpha = false, symbol = false, special = false, escape = false, non_ascii = false;
  int first = -1, second = -1, chars = 0;
  const char *s = a->name;
  while (*s != '\0') {
    int c;
    s = next_char(s, &c);
    if (chars == 0)
      first = c;
    else if (chars == 1)
      second = c;
    ++chars;
    int type = ch_type(c);
    if (type == CH_LC || type == CH_UC || type == CH_DIGIT || c == '_')
      alpha = true;
    else if (type == CH_SYMBOL || c == '\\')
      symbol = true;
    else
      special = true;
    if (c == '\'' || c == '\\' || (type == CH_WHITE && c != ' ') || type == CH_UNDECIDED)
      escape = true;
    if (c >= 128 || c == 0)
      non_ascii = true;
  }
  bool quote = special || alpha == symbol;
  a->is_symbolchars = !alpha && !special;
  a->needs_quoting = quote;
  a->needs_escaping = escape && quote;
  a->is_ascii = !non_ascii;
  a->is_punctchars = 0;

  bool solo = chars == 1 && (first == '!' || first == ';' || ch_type(first) == CH_SOLO);
  bool pair = chars == 2 && ((first == '[' && second == ']') || (first == '{' && second == '}'));
  if (solo || pair) {
    a->is_punctchars = 1;
    a->needs_quoting = 0;
  } else if (!a->needs_quoting) {
    int type = chars > 0 ? ch_type(first) : 0;
    if (first == '_' || type == CH_UC || type == CH_DIGIT || (chars == 1 && first == '.') ||
        (first == '/' && second == '*')) {
      a->needs_quoting = 1;
      a->needs_escaping = escape;
    }
  }
}

void reclassify_atoms(void)
{
  for (std::uint32_t i = 0; i < eglobal->atmtabsize; ++i) {
    atom *a = slot(i);
    if (!slot_is_free(a))
      classify_atom(a);
  }
}

/* A word that is not an atom in the table would have us write through a
   free-list word; it is refused like a non-atom. */
int VR_register_atom(TAGGED t)
{
  if ((t & 7) != ATOM_TAG || (t >> 31) != 0 || !atom_in_table(t)) {
    vr_errno = VR_ERR_NOT_AN_ATOM;
    return 0;
  }
  atom *a = atom_record(t);
  if (a->refcount < 255)
    ++a->refcount;
  return 1;
}

int VR_unregister_atom(TAGGED t)
{
  if ((t & 7) != ATOM_TAG || (t >> 31) != 0 || !atom_in_table(t)) {
    vr_errno = VR_ERR_NOT_AN_ATOM;
    return 0;
  }
  atom *a = atom_record(t);
  if (a->refcount >= 1 && a->refcount <= 254)
    --a->refcount;
  return 1;
}

int init_atoms_once(void)
{
  init_atoms();
  for (std::uint32_t i = 0; i < first_unused_atom_number; ++i) {
    TAGGED t = init_atom_check(initial_atoms[i], 2);
    if (t == 0 || AtomIndex(t) != i)
      return 0;
    VR_register_atom(t);
  }
  /* The operating system's name follows the predefined atoms. */
  const TAGGED os = init_atom_check("linux", 2);
  if (os == 0)
    return 0;
  VR_register_atom(os);
  for (unsigned c = 0; c < 256; ++c) {
    char text[3] = {0, 0, 0};
    if (c >= 1 && c <= 127) {
      text[0] = static_cast<char>(c);
    } else {
      text[0] = static_cast<char>(0xC0 | (c >> 6));
      text[1] = static_cast<char>(0x80 | (c & 0x3F));
    }
    TAGGED t = init_atom_check(text, 0);
    if (t == 0)
      return 0;
    VR_register_atom(t);
    eglobal->one_char_cache[c] = t;
  }
  return 1;
}

/* ---- Atom text buffers ---- */

namespace {
struct atom_buffer {
  char *text;
  unsigned size;
};
atom_buffer atom_buffers[ATOM_BUFFERS];
constexpr unsigned ATOM_BUFFER_INITIAL = 512;
} // namespace

void atom_buffer_init(void)
{
  for (unsigned id = 0; id < ATOM_BUFFERS; ++id)
    ensure_atom_buffers(id, ATOM_BUFFER_INITIAL);
}

void atom_buffer_remove(void)
{
  for (auto &b : atom_buffers) {
    if (b.text != nullptr)
      checkdealloc(b.text, b.size, mm_code(MM_BIN_ATOM_BUFFER));
    b.text = nullptr;
    b.size = 0;
  }
}

char *ensure_atom_buffers(unsigned id, unsigned size)
{
  atom_buffer &b = atom_buffers[id];
  if (b.size < size) {
    b.text = static_cast<char *>(b.text == nullptr
                                     ? checkalloc(size, mm_code(MM_BIN_ATOM_BUFFER))
                                     : checkrealloc(b.text, b.size, size, mm_code(MM_BIN_ATOM_BUFFER)));
    b.size = size;
  }
  return b.text;
}

/* ---- Built-ins ---- */

namespace {

/* Spacing class of a number's first character: 2 when its text starts with
   a minus sign (infinite and not-a-number floats are printed with a sign
   character too). */
int number_left_class(TAGGED t)
{
  if (IsSmall(t))
    return GetSmall(t) < 0 ? 2 : 0;
  TAGGED header = *TagToSTR(t);
  if (BoxIsFloat(header)) {
    double d = vri_get_float(t);
    return (std::signbit(d) || std::isinf(d) || std::isnan(d)) ? 2 : 0;
  }
  const TAGGED *digits = TagToSTR(t) + 1;
  return static_cast<std::int32_t>(digits[BoxPayload(header) - 1]) < 0 ? 2 : 0;
}

bool is_number_term(TAGGED t)
{
  return IsSmall(t) || (IsStructure(t) && IsBoxHeader(*TagToSTR(t)));
}

} // namespace

int prolog_atom_mode(worker *w)
{
  TAGGED t = deref(w->term[0]);
  int left, right;
  if (IsAtom(t)) {
    const atom *a = atom_record(t);
    left = a->needs_quoting ? 1 : a->is_symbolchars ? 2 : a->is_punctchars ? 4 : 0;
    right = left;
  } else if (is_number_term(t)) {
    left = number_left_class(t);
    right = 0;
  } else {
    return 0;
  }
  return cunify(w, w->term[1], MakeSmall_checked(left)) &&
         cunify(w, w->term[2], MakeSmall_checked(right));
}

int prolog_replace_suffix(worker *w)
{
  TAGGED path = deref(w->term[0]);
  TAGGED new_suffix = deref(w->term[1]);
  if (!IsAtom(path) || !IsAtom(new_suffix))
    return 0;
  const char *text = atom_name(path);
  const char *suffix = vr_path_suffix(text);
  std::size_t stem = suffix ? static_cast<std::size_t>(suffix - text) : std::strlen(text);
  /* Unify the old suffix before making the new path: until it is bound
     somewhere, only the creation's own protection keeps it alive. */
  TAGGED old = init_atom_check(suffix ? suffix : "", 0);
  if (old == 0 || !cunify(w, w->term[3], old))
    return 0;
  const char *add = atom_name(new_suffix);
  std::size_t add_len = std::strlen(add);
  char *buf = ensure_atom_buffers(BASE_ATOMBUF, static_cast<unsigned>(stem + add_len + 1));
  std::memcpy(buf, atom_name(path), stem);
  std::memcpy(buf + stem, add, add_len + 1);
  TAGGED result = init_atom_check(buf, 0);
  return result != 0 && cunify(w, w->term[2], result);
}
