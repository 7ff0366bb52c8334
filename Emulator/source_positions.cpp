/* source_positions.cpp: source-position tables of interpreted clauses and
 * the compiled-code table (see source_positions.h for the contracts).
 *
 * Path packing.  A path is written as 4-bit codes, most significant nibble
 * of a word first, continuing in the next word.  Conjunctions nest in
 * their second argument, so runs of the position 2 are counted:
 *
 *   1..13        r = code - 1 2's (0..12), then the position 1; the same
 *                code, with the pending 2's, ends every path
 *   14           thirteen 2's; the run goes on in the next code
 *   15, 13-r, c-2  r 2's (0..12), then the position c >= 3
 *
 * so that unsigned comparison of the packed words orders paths the way a
 * depth-first walk meets them (a prefix first, then argument 1, 2, 3).
 * No code is 0, so a word that holds a 0 nibble is a path's last; a path
 * that fills its last word exactly gets one more, zero word, which makes
 * every packed path self-delimiting.  Positions above 17 do not fit the
 * last nibble and sort as 17; descriptions never go past 3 (the third
 * entry stands for all further arguments).
 *
 * Lines are recorded only when later than every line recorded before for
 * the clause, so each entry marks where a new line starts and a look-up
 * takes the greatest recorded path not above the one asked for.  Lines
 * at or below 0 are never recorded (a value with bit 31 set is an
 * overflow index).
 */
#include "source_positions.h"

#include <algorithm>
#include <cstring>

#include "atoms.h"
#include "btree.h"
#include "clause_counters.h"
#include "datadefs.h"
#include "dynamic_clauses.h"
#include "indexing.h"
#include "instance.h"
#include "memman.h"
#include "predicates.h"
#include "preds.h"
#include "stack_growth.h"
#include "terms.h"
#include "unify.h"
#include "worker.h"

namespace {

/* A process-wide work area from the memory manager, doubled when full and
   kept between uses. */
template <typename T> struct work_area {
  T *data = nullptr;
  std::uint32_t capacity = 0;
  std::uint32_t used = 0;
  int bin;
  std::uint32_t initial;

  void reserve(std::uint32_t n)
  {
    if (n <= capacity)
      return;
    std::uint32_t c = capacity == 0 ? initial : capacity;
    while (c < n)
      c *= 2;
    if (data == nullptr)
      data = static_cast<T *>(checkalloc(c * sizeof(T), mm_code(bin)));
    else
      data = static_cast<T *>(checkrealloc(data, capacity * sizeof(T), c * sizeof(T), mm_code(bin)));
    capacity = c;
  }
  void push(const T &v)
  {
    reserve(used + 1);
    data[used++] = v;
  }
  void release()
  {
    if (data != nullptr)
      checkdealloc(data, capacity * sizeof(T), mm_code(bin));
    data = nullptr;
    capacity = used = 0;
  }
};

struct walk_frame {
  TAGGED args;         /* the argument entries still to visit */
  std::uint32_t pos;   /* the position of the next one */
  std::uint32_t depth; /* path length when the frame was made */
};

/* The overflow words of the table being built, and its entries. */
work_area<TAGGED> code_buf{nullptr, 0, 0, MM_BIN_LHEAP, 20};
work_area<itable> entry_buf{nullptr, 0, 0, MM_BIN_ITABLE, 20};
/* The current path, its packed form and the description walk. */
work_area<std::uint32_t> path_buf{nullptr, 0, 0, MM_BIN_LHEAP, 20};
work_area<TAGGED> pack_buf{nullptr, 0, 0, MM_BIN_LHEAP, 20};
work_area<walk_frame> frame_buf{nullptr, 0, 0, MM_BIN_LHEAP, 20};

void ensure_release_hook() { memman_add_release_hook(itable_deinit); }

/* Writes nibbles into words[0..max) and counts the words. */
struct nibble_writer {
  TAGGED *words;
  unsigned max;
  unsigned nibbles = 0;

  void put(unsigned code)
  {
    unsigned w = nibbles / 8, shift = 28 - 4 * (nibbles % 8);
    if (w < max) {
      if (shift == 28)
        words[w] = 0;
      words[w] |= static_cast<TAGGED>(code) << shift;
    }
    ++nibbles;
  }
  unsigned finish()
  {
    /* A zero nibble must end the path: open a zero word when the last one
       is full. */
    unsigned n = (nibbles + 8) / 8;
    if (nibbles % 8 == 0 && nibbles / 8 < max)
      words[nibbles / 8] = 0;
    return n;
  }
};

void pack_run(nibble_writer &out, unsigned &r)
{
  while (r >= 13) {
    out.put(14);
    r -= 13;
  }
}

unsigned pack_current_path()
{
  for (;;) {
    unsigned n = itable_pack_path(path_buf.data, path_buf.used, pack_buf.data, pack_buf.capacity);
    if (n <= pack_buf.capacity)
      return n;
    pack_buf.reserve(n);
  }
}

/* Words of entry i's path: *len of them, the first being its key and the
   rest at *more. */
void entry_path(const ITABLE *t, std::uint32_t i, const TAGGED **more, unsigned *len)
{
  const itable &e = t->pair[i];
  *len = 1;
  *more = nullptr;
  if ((e.value & ITABLE_LONG_PATH) == 0)
    return;
  const TAGGED *p = itable_overflow(t) + (e.value & ~ITABLE_LONG_PATH) + 1;
  *more = p;
  do
    ++*len;
  while ((*p++ & 0xF) != 0);
}

std::int32_t entry_line(const ITABLE *t, std::uint32_t i)
{
  const itable &e = t->pair[i];
  if ((e.value & ITABLE_LONG_PATH) == 0)
    return static_cast<std::int32_t>(e.value);
  return static_cast<std::int32_t>(itable_overflow(t)[e.value & ~ITABLE_LONG_PATH]);
}

/* Lexicographic comparison, a missing word counting as 0. */
int compare_entry(const ITABLE *t, std::uint32_t i, const TAGGED *q, unsigned qn)
{
  const TAGGED *more;
  unsigned len;
  entry_path(t, i, &more, &len);
  unsigned n = len > qn ? len : qn;
  for (unsigned j = 0; j < n; ++j) {
    TAGGED a = j == 0 ? t->pair[i].key : j < len ? more[j - 1] : 0;
    TAGGED b = j < qn ? q[j] : 0;
    if (a != b)
      return a < b ? -1 : 1;
  }
  return 0;
}

/* ---- Building ---- */

std::int32_t max_line;

void record(std::int32_t line)
{
  if (line <= max_line)
    return;
  max_line = line;
  unsigned n = pack_current_path();
  if (n == 1) {
    entry_buf.push({pack_buf.data[0], static_cast<TAGGED>(line)});
    return;
  }
  std::uint32_t k = code_buf.used;
  code_buf.push(static_cast<TAGGED>(line));
  for (unsigned j = 1; j < n; ++j)
    code_buf.push(pack_buf.data[j]);
  entry_buf.push({pack_buf.data[0], ITABLE_LONG_PATH | k});
}

/* One entry of the description at the current path: [] records nothing,
   a line records it, [Line | Args] records Line and opens a frame for the
   argument entries. */
bool visit(TAGGED t)
{
  t = deref(t);
  if (t == atom_nil)
    return true;
  if (IsSmall(t)) {
    record(GetSmall(t));
    return true;
  }
  if (!IsList(t))
    return false;
  TAGGED line = deref(TagToLST(t)[0]);
  if (!IsSmall(line))
    return false;
  record(GetSmall(line));
  frame_buf.push({TagToLST(t)[1], 1, path_buf.used});
  return true;
}

/* Walks the description without native recursion: a clause body nests as
   deep as it is long. */
bool describe(TAGGED list)
{
  if (!visit(list))
    return false;
  while (frame_buf.used > 0) {
    walk_frame &f = frame_buf.data[frame_buf.used - 1];
    TAGGED a = deref(f.args);
    if (a == atom_nil) {
      std::uint32_t d = f.depth;
      --frame_buf.used;
      path_buf.used = d > 0 ? d - 1 : 0;
      continue;
    }
    if (!IsList(a) || f.pos > 3)
      return false;
    TAGGED arg = TagToLST(a)[0];
    f.args = TagToLST(a)[1];
    path_buf.push(f.pos++);
    std::uint32_t frames = frame_buf.used;
    if (!visit(arg))
      return false;
    if (frame_buf.used == frames)
      --path_buf.used;
  }
  return true;
}

void clear_work_areas()
{
  code_buf.used = entry_buf.used = path_buf.used = frame_buf.used = 0;
  max_line = 0;
}

/* ---- Compiled-code table ---- */

comp_file *cf_table = nullptr;
std::uint32_t cf_size = 0;
std::uint32_t cf_first_free = 0;
std::int32_t cf_last = -1;  /* the entry used last, or -1 */
btree *pc_map = nullptr;

constexpr std::uint32_t CF_INITIAL = 50;
constexpr std::uint32_t CF_MAX = 0x10000;  /* entry indices fill the upper half of a value */
constexpr std::uint32_t COMP_DISTANCE = 16;

std::int32_t cf_entry(TAGGED file, std::uint32_t page)
{
  if (cf_last >= 0 && cf_table[cf_last].file == file && cf_table[cf_last].page_no == page)
    return cf_last;
  for (std::uint32_t i = 0; i < cf_first_free; ++i)
    if (cf_table[i].file == file && cf_table[i].page_no == page)
      return cf_last = static_cast<std::int32_t>(i);
  if (cf_first_free == CF_MAX)
    return -1;
  if (cf_first_free == cf_size) {
    std::uint32_t n = cf_size == 0 ? CF_INITIAL : cf_size * 2;
    int code = mm_code(MM_BIN_COMP_CODE_TABLE);
    cf_table = static_cast<comp_file *>(cf_table == nullptr
                                            ? checkalloc(n * sizeof(comp_file), code)
                                            : checkrealloc(cf_table, cf_size * sizeof(comp_file),
                                                           n * sizeof(comp_file), code));
    cf_size = n;
  }
  cf_table[cf_first_free] = {file, page};
  return cf_last = static_cast<std::int32_t>(cf_first_free++);
}

std::uint32_t code_key(const void *code)
{
  return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(code));
}

/* Whether code lies inside a clause of the compiled predicate d. */
bool inside_clause_of(const definition *d, const INSN *code)
{
  if (d == nullptr || !is_compiled_type(predtyp(d)) || d->proc.code.incoreinfo == nullptr)
    return false;
  const incore_info *info = d->proc.code.incoreinfo;
  const char *at = reinterpret_cast<const char *>(code);
  for (emul_info *c = info->clauses; !clause_chain_end(c, info); c = c->next) {
    const char *start = reinterpret_cast<const char *>(c);
    if (at >= start && at < start + emul_objsize(c))
      return true;
  }
  return false;
}

} // namespace

/* ---- Interpreted clauses ---- */

unsigned itable_pack_path(const std::uint32_t *positions, unsigned n, TAGGED *words, unsigned max_words)
{
  nibble_writer out{words, max_words};
  unsigned r = 0;
  for (unsigned i = 0; i < n; ++i) {
    std::uint32_t c = positions[i];
    if (c == 2) {
      ++r;
      continue;
    }
    pack_run(out, r);
    if (c <= 1) {
      out.put(r + 1);
    } else {
      out.put(15);
      out.put(13 - r);
      out.put((c > 17 ? 17 : c) - 2);
    }
    r = 0;
  }
  pack_run(out, r);
  out.put(r + 1);
  return out.finish();
}

void itable_init(void) { clear_work_areas(); }

void itable_deinit(void)
{
  code_buf.release();
  entry_buf.release();
  path_buf.release();
  pack_buf.release();
  frame_buf.release();
  max_line = 0;
}

int new_table_interp(worker *w, TAGGED list, instance *ins, TAGGED file)
{
  ensure_release_hook();
  clear_work_areas();
  pack_buf.reserve(4);
  if (!describe(list)) {
    clear_work_areas();
    return 0;
  }
  std::uint32_t n = entry_buf.used, overflow = code_buf.used;
  std::uint32_t bytes = 8 * (n + 1) + 4 * overflow + 4;
  ITABLE *t = static_cast<ITABLE *>(checkalloc(bytes, mm_code(MM_BIN_ITABLE)));
  t->pair[0].key = n + 1;
  t->pair[0].value = bytes;
  TAGGED *words = reinterpret_cast<TAGGED *>(&t->pair[n + 1]);
  if (n > 0)
    std::memcpy(&t->pair[1], entry_buf.data, n * sizeof(itable));
  if (overflow > 0)
    std::memcpy(words, code_buf.data, overflow * sizeof(TAGGED));
  words[overflow] = file;
  if (IsAtom(file))
    VR_register_atom(file);
  clear_work_areas();
  if (ins->source_link != nullptr)
    itable_free(ins->source_link);
  ins->source_link = t;
  return 1;
}

int search_table_interp(worker *w, TAGGED rpath, TAGGED file, TAGGED line)
{
  ensure_release_hook();
  path_buf.used = 0;
  TAGGED t = deref(rpath);
  for (; IsList(t); t = deref(TagToLST(t)[1])) {
    TAGGED p = deref(TagToLST(t)[0]);
    if (!IsSmall(p) || GetSmall(p) < 1)
      return 0;
    path_buf.push(static_cast<std::uint32_t>(GetSmall(p)));
  }
  instance *ins = decode_dbref(t);
  if (ins == nullptr)
    return 0;
  /* Innermost first in the query, outermost first in the packing. */
  std::reverse(path_buf.data, path_buf.data + path_buf.used);
  TAGGED f;
  std::int32_t l;
  int found = itable_search(ins->source_link, path_buf.data, path_buf.used, &f, &l);
  path_buf.used = 0;
  return found && cunify(w, line, MakeSmall_checked(l)) && cunify(w, file, f);
}

int itable_search(const ITABLE *t, const std::uint32_t *positions, unsigned n, TAGGED *file, std::int32_t *line)
{
  if (t == nullptr || itable_entries(t) == 0)
    return 0;
  pack_buf.reserve(4);
  unsigned qn;
  while ((qn = itable_pack_path(positions, n, pack_buf.data, pack_buf.capacity)) > pack_buf.capacity)
    pack_buf.reserve(qn);
  /* The last entry not above the query; the first when all lie above. */
  std::uint32_t lo = 1, hi = itable_entries(t), found = 1;
  while (lo <= hi) {
    std::uint32_t mid = (lo + hi) / 2;
    if (compare_entry(t, mid, pack_buf.data, qn) <= 0) {
      found = mid;
      lo = mid + 1;
    } else {
      hi = mid - 1;
    }
  }
  *line = entry_line(t, found);
  *file = itable_file(t);
  return 1;
}

void itable_free(ITABLE *t)
{
  if (t == nullptr)
    return;
  TAGGED file = itable_file(t);
  if (IsAtom(file))
    VR_unregister_atom(file);
  checkdealloc(t, itable_bytes(t), mm_code(MM_BIN_ITABLE));
}

/* ---- Compiled code ---- */

void ds_tables_init(void)
{
  ds_tables_deinit();
  itable_init();
  memman_add_release_hook(ds_tables_deinit);
  eglobal->add_table_comp = add_table_comp;
  eglobal->del_table_comp = del_table_comp;
  eglobal->agc_table_comp = agc_table_comp;
}

void ds_tables_deinit(void)
{
  btree_free(&pc_map);
  if (cf_table != nullptr)
    checkdealloc(cf_table, cf_size * sizeof(comp_file), mm_code(MM_BIN_COMP_CODE_TABLE));
  cf_table = nullptr;
  cf_size = cf_first_free = 0;
  cf_last = -1;
  if (eglobal->add_table_comp == add_table_comp)
    eglobal->add_table_comp = nullptr;
  if (eglobal->del_table_comp == del_table_comp)
    eglobal->del_table_comp = nullptr;
  if (eglobal->agc_table_comp == agc_table_comp)
    eglobal->agc_table_comp = nullptr;
}

void add_table_comp(void *code, TAGGED file, long line)
{
  std::uint32_t l = static_cast<std::uint32_t>(line);
  std::int32_t entry = cf_entry(file, l >> 16);
  if (entry < 0)
    return;
  /* A node allocation may defragment and so reclaim dead predicates,
     which must not take the scratch entries of a reclamation that is
     recording this code. */
  std::int32_t mems = eglobal->gcdef_mems;
  eglobal->gcdef_mems = 0;
  btree_insert(&pc_map, code_key(code), (static_cast<TAGGED>(entry) << 16) | (l & 0xFFFF));
  eglobal->gcdef_mems = mems;
}

void del_table_comp(void *code_start, void *code_end)
{
  std::uint32_t lo = code_key(code_start), hi = code_key(code_end);
  if (hi > lo)
    btree_delete(&pc_map, lo, hi - 1);
}

void agc_table_comp(void)
{
  for (std::uint32_t i = 0; i < cf_first_free; ++i)
    if (IsAtom(cf_table[i].file))
      agc_atom(cf_table[i].file);
}

int comp_table_lookup(const void *code, TAGGED *file, long *line)
{
  TAGGED *v = btree_search(&pc_map, code_key(code), COMP_DISTANCE);
  if (v == nullptr)
    return 0;
  const comp_file &e = cf_table[*v >> 16];
  *file = e.file;
  *line = static_cast<std::int32_t>((e.page_no << 16) | (*v & 0xFFFF));
  return 1;
}

/* ---- Built-ins ---- */

int prolog_new_table_interp(worker *w)
{
  instance *ins = decode_dbref(deref(w->term[1]));
  if (ins == nullptr)
    return 0;
  return new_table_interp(w, deref(w->term[0]), ins, deref(w->term[2]));
}

int prolog_search_table_interp(worker *w)
{
  return search_table_interp(w, deref(w->term[0]), deref(w->term[1]), deref(w->term[2]));
}

int prolog_search_table_comp(worker *w)
{
  TAGGED a = deref(w->term[0]);
  TAGGED file;
  long line;
  if (!IsSmall(a) || !comp_table_lookup(reinterpret_cast<void *>(a & ~static_cast<TAGGED>(7)), &file, &line))
    return 0;
  if (w->stack_start - w->global_top < 8)
    call_overflow(w, 8, 3);
  return cunify(w, w->term[1], file) && cunify(w, w->term[2], make_integer_term(w, line));
}

int prolog_ancestor_at(worker *w)
{
  const TAGGED *limit = w->current_query != nullptr ? w->current_query->local_top : w->stack_start;
  INSN *cont = w->next_insn;
  for (frame *e = w->frame_; e != nullptr && reinterpret_cast<TAGGED *>(e) >= limit;
       cont = e->next_insn, e = e->frame_) {
    if (cont == nullptr)
      continue;
    INSN *at = reinterpret_cast<INSN *>(reinterpret_cast<std::uintptr_t>(cont) & ~static_cast<std::uintptr_t>(7));
    if (btree_search(&pc_map, code_key(at), COMP_DISTANCE) != nullptr)
      return cunify(w, w->term[0], PointerToTerm(at) | 3);
    /* An interpreted body runs under metacall_pc, whose environment keeps
       the clause's selector path, ending in its reference, in Y3. */
    if (cont[-1] > 23 && inside_clause_of(preds.metacall_pc, cont)) {
      TAGGED y3 = e->term[3];
      TAGGED t = deref(y3);
      while (IsList(t))
        t = deref(TagToLST(t)[1]);
      if (decode_dbref(t) != nullptr)
        return cunify(w, w->term[0], y3);
    }
  }
  return 0;
}

const ds_builtin_row ds_source_builtins[] = {
    {"$new_table_interp", prolog_new_table_interp, 3},
    {"$search_table_interp", prolog_search_table_interp, 3},
    {"$search_table_comp", prolog_search_table_comp, 3},
    {"$ancestor_at", prolog_ancestor_at, 1},
    {"$get_counters", prolog_get_counters, 6},
    {"$reset_counters", prolog_reset_counters, 2},
    {"$clause_number", prolog_clause_number, 3},
    {nullptr, nullptr, 0},
};
