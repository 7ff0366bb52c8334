/* memman.cpp: the engine's memory manager (see memman.h for the contract).
 *
 * Big blocks from the source are carved into 8-byte-aligned blocks kept on
 * 25 size-class free lists: classes 0..14 hold exactly 8, 16, ..., 120
 * bytes, 15 holds 128..255, 16..23 powers of two from 256, and 24 everything
 * from 64 KiB, kept in address order so that first fit takes the lowest
 * block and trimming can match free blocks against the directory.  Small
 * requests whose exact list is empty are cut from the carving block
 * (free_cache).  Freeing never merges; defragmentation does, and runs only
 * once an eighth of all managed memory has been freed since the last one.
 *
 * Invariants: every free block is on exactly one list (or is the carving
 * block) and its size is a multiple of 8 within its class's bounds;
 * total_free counts the bytes of all of them, total_in_use those handed
 * out; every big block obtained for the lists is in the directory.
 *
 * Called by every layer of the engine; start-up calls memman_init after the
 * source is installed (set_memalloc_default).  Engine thread only.
 */
#include "memman.h"
#include "stack_growth.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>

#include "config.h"
#include "datadefs.h"
#include "errors.h"
#include "support.h"
#include "terms.h"
#include "timing.h"
#include "unify.h"
#include "vostrel/vrio_trace.h"
#include "worker.h"

static_assert(VR_MALLOC_HEADER == 2 * sizeof(std::uint32_t));
static_assert(sizeof(mm_recovery) == 40);

const char *const mm_msgs[MM_BINS] = {
  "VR_malloc space:", "misc. space:", "atom_buffer space:", "BDD hash table space:",
  "atom space:", "atom table space:", "foreign resource space:", "try_node space:",
  "sw_on_key space:", "nc_info space:", "definition space:", "emul_info space:",
  "incore_info space:", "int_info space:", "gcdef space:", "mod_def space:",
  "instance space:", "num. module table space:", "module data space:", "ITABLE space:",
  "setof_int_info space:", "qlinfo space:", "FLI stack space:", "event queue space:",
  "VR_stream space:", "numstack space:", "comp. code table space:", "B-tree space:",
  "lheap space:", "stack space:",
};

int mem_initialized = 0;
int vr_malloc_mallocs = 0;
int vr_checkalloc_mallocs = 0;
int vr_use_malloc_option = -1;
int vr_malloc_mallocs_option = -1;
int vr_checkalloc_mallocs_option = -1;
std::uint32_t *valid_stack_sizes = nullptr;
int nvalid_stack_sizes = 0;

void (*mm_reclaim_dead_clauses_hook)(void) = nullptr;
void (*mm_reclaim_dead_predicates_hook)(void) = nullptr;
void (*mm_shrink_stacks_hook)(worker *w) = nullptr;
void (*mm_free_numstack_hook)(worker *w) = nullptr;
void (*mm_init_numstack_hook)(worker *w) = nullptr;

static mm_init_hook mm_init_alloc_hook = nullptr;
static mm_deinit_hook mm_deinit_alloc_hook = nullptr;
static mm_alloc_hook mm_alloc_hook_fn = nullptr;
static mm_free_hook mm_free_hook_fn = nullptr;
static void *mm_cookie = nullptr;
static int mm_hints = 0;

/* Set while the dead-clause and dead-predicate reclaimers run: they free
   (and may allocate) memory, and an allocation inside them that decides to
   defragment must not start them again on half-updated tables. */
static bool reclaim_running = false;


constexpr std::size_t EXACT_LIMIT = 128;         /* classes 0..14 below this */
constexpr std::size_t BIG_CLASS_MIN = 65536;     /* class 24 from here */
constexpr std::size_t CARVE_CHUNK = 8192;
constexpr std::size_t MIN_BIGMEM_REQUEST = 65544;
constexpr std::size_t FIRST_BIGMEM_REQUEST = 0x1A0000;
constexpr std::size_t INITIAL_DIR_SIZE = 1024;
constexpr int EXACT_TOP = 14;
constexpr int BIG_CLASS = 24;

#define MM (&eglobal->mm)

static inline char *cp(void *p) { return static_cast<char *>(p); }
static inline std::uintptr_t addr(const void *p) { return reinterpret_cast<std::uintptr_t>(p); }

/* Requests are rounded up to 8; 0 counts as 8 so that every block can hold
   a free_block once it is freed.  Returns 0 for sizes that cannot be
   rounded in 32 bits. */
static inline std::size_t round8(std::size_t size)
{
  if (size > SIZE_MAX - 7)
    return 0;
  return size == 0 ? 8 : (size + 7) & ~static_cast<std::size_t>(7);
}

int mm_size_class(std::size_t size)
{
  std::size_t s = round8(size);
  if (s < EXACT_LIMIT)
    return static_cast<int>(s / 8) - 1;
  if (s < 256)
    return 15;
  int c = 15 + static_cast<int>(std::bit_width(s >> 8));
  return c > BIG_CLASS ? BIG_CLASS : c;
}

/* ---------------------------------------------------------------------- */
/* Free lists */

static void put_free(mm_record *mm, void *p, std::size_t size)
{
  free_block *b = static_cast<free_block *>(p);
  b->size = size;
  int c = mm_size_class(size);
  if (c < BIG_CLASS) {
    b->next = mm->free_arr[c];
    mm->free_arr[c] = b;
    return;
  }
  free_block **link = &mm->free_arr[BIG_CLASS];
  while (*link != nullptr && addr(*link) < addr(b))
    link = &(*link)->next;
  b->next = *link;
  *link = b;
}

static free_block *pop_free(mm_record *mm, int c)
{
  free_block *b = mm->free_arr[c];
  mm->free_arr[c] = b->next;
  return b;
}

/* Cuts s bytes (s < 128) from the front of block b (>= 128 bytes); what is
   left becomes the carving block, or goes to its exact list when it is too
   small to carve from. */
static free_block *carve(mm_record *mm, free_block *b, std::size_t s)
{
  std::size_t rest = b->size - s;
  void *tail = cp(b) + s;
  if (rest < EXACT_LIMIT) {
    mm->free_cache = nullptr;
    put_free(mm, tail, rest);
  } else {
    free_block *c = static_cast<free_block *>(tail);
    c->next = nullptr;
    c->size = rest;
    mm->free_cache = c;
  }
  b->size = s;
  return b;
}

/* One pass over the lists for a block of s bytes in class c; null when none
   fits.  The block returned has its size field set to at least s. */
static free_block *find_block(mm_record *mm, std::size_t s, int c)
{
  if (c <= EXACT_TOP) {
    if (mm->free_arr[c] != nullptr)
      return pop_free(mm, c);
    if (mm->free_cache != nullptr)
      return carve(mm, mm->free_cache, s);
    for (int k = 15; k <= BIG_CLASS; k++) {
      if (mm->free_arr[k] == nullptr)
        continue;
      free_block *b = pop_free(mm, k);
      if (b->size > CARVE_CHUNK) {
        /* Only a modest chunk becomes the carving block, so that small
           requests do not eat into a big block's address range. */
        put_free(mm, cp(b) + CARVE_CHUNK, b->size - CARVE_CHUNK);
        b->size = CARVE_CHUNK;
      }
      return carve(mm, b, s);
    }
    for (int k = EXACT_TOP; k > c; k--)
      if (mm->free_arr[k] != nullptr)
        return pop_free(mm, k);
    return nullptr;
  }
  for (int k = c + 1; k <= BIG_CLASS; k++)
    if (mm->free_arr[k] != nullptr)
      return pop_free(mm, k);
  for (free_block **link = &mm->free_arr[c]; *link != nullptr; link = &(*link)->next) {
    if ((*link)->size >= s) {
      free_block *b = *link;
      *link = b->next;
      return b;
    }
  }
  return nullptr;
}

/* ---------------------------------------------------------------------- */
/* Big blocks */

static void bigmem_usable(const bigmem_link &l, char **start, std::size_t *size)
{
  std::uintptr_t a = addr(l.bigmem);
  std::uintptr_t s = (a + 7) & ~static_cast<std::uintptr_t>(7);
  *start = reinterpret_cast<char *>(s);
  *size = (l.size - (s - a)) & ~static_cast<std::size_t>(7);
}

/* Asks the source for a big block of `ask` bytes and puts it on the lists;
   0 when the directory cannot grow or the source has no memory. */
static int get_bigmem(mm_record *mm, std::size_t ask)
{
  if (mm_alloc_hook_fn == nullptr)
    return 0;
  if (static_cast<std::size_t>(mm->dir_pop) + 1 >= mm->dir_size) {
    std::size_t n = mm->dir_size * 2;
    void *d = std::realloc(mm->directory, n * sizeof(bigmem_link));
    if (d == nullptr)
      return 0;
    mm->directory = static_cast<bigmem_link *>(d);
    mm->dir_size = n;
  }
  std::size_t actual = 0;
  void *mem = mm_alloc_hook_fn(ask, &actual, mm_cookie);
  if (mem == nullptr)
    return 0;
  if (actual < ask) {
    mm_free_hook_fn(mem, actual, 1, mm_cookie);
    return 0;
  }
  bigmem_link &l = mm->directory[mm->dir_pop++];
  l.size = actual;
  l.bigmem = mem;
  char *start;
  std::size_t usable;
  bigmem_usable(l, &start, &usable);
  mm->total_free += usable;
  put_free(mm, start, usable);
  return 1;
}

static int expand_memory(mm_record *mm, std::size_t s)
{
  std::size_t ask = s > SIZE_MAX - 8 ? SIZE_MAX : s + 8;
  return get_bigmem(mm, std::max(MIN_BIGMEM_REQUEST, ask));
}

/* ---------------------------------------------------------------------- */
/* Allocation */

static void charge(mm_record *mm, std::size_t s, int c, int code, int sign)
{
  int bin = mm_code_bin(code);
  mm->alloc_dist[c] += sign;
  if (bin >= 0 && bin < MM_BINS)
    mm->mm_bins[bin] += sign > 0 ? s : -s;
}

/* The block of s bytes (rounded) in class c, charged to the code's bin;
   null when memory is exhausted (the charge is then taken back). */
static void *alloc_rounded(mm_record *mm, std::size_t s, int code)
{
  int c = mm_size_class(s);
  charge(mm, s, c, code, +1);
  for (;;) {
    free_block *b = find_block(mm, s, c);
    if (b != nullptr) {
      mm->total_in_use += s;
      mm->total_free -= s;
      if (b->size > s)
        put_free(mm, cp(b) + s, b->size - s);
      return b;
    }
    if (mm->recently_freed != 0 && mm->recently_freed * 8 >= mm->total_in_use + mm->total_free) {
      defragment_memory(mm);
      continue;
    }
    if (!expand_memory(mm, s))
      break;
  }
  charge(mm, s, c, code, -1);
  return nullptr;
}

static void *exhausted(int code)
{
  if (code & MM_MAYFAIL)
    return nullptr;
  vr_memory_fault(mm_code_bin(code), -1);
}

void *checkalloc(std::size_t size, int code)
{
  mm_record *mm = MM;
  if (vr_checkalloc_mallocs) {
    void *p = std::malloc(size);
    if (p == nullptr && size == 0)
      p = std::malloc(1);
    if (p == nullptr)
      return exhausted(code);
    mm->total_in_use += size;
    mm->mm_bins[mm_code_bin(code)] += size;
    return p;
  }
  std::size_t s = round8(size);
  void *p = s != 0 && mem_initialized ? alloc_rounded(mm, s, code) : nullptr;
  return p != nullptr ? p : exhausted(code);
}

/* Returns the block to its list and credits the counters. */
static void free_rounded(mm_record *mm, void *block, std::size_t s, int code)
{
  mm->total_in_use -= s;
  mm->total_free += s;
  mm->recently_freed += s;
  charge(mm, s, mm_size_class(s), code, -1);
  put_free(mm, block, s);
}

void checkdealloc(void *block, std::size_t size, int code)
{
  mm_record *mm = MM;
  if (vr_checkalloc_mallocs) {
    std::free(block);
    mm->total_in_use -= size;
    mm->mm_bins[mm_code_bin(code)] -= size;
    return;
  }
  free_rounded(mm, block, round8(size), code);
}

void *checkrealloc(void *block, std::size_t old_size, std::size_t new_size, int code)
{
  mm_record *mm = MM;
  if (vr_checkalloc_mallocs) {
    void *p = std::realloc(block, new_size);
    if (p == nullptr && new_size == 0)
      p = std::realloc(block, 1);
    if (p == nullptr)
      return exhausted(code);
    mm->total_in_use += new_size - old_size;
    mm->mm_bins[mm_code_bin(code)] += new_size - old_size;
    return p;
  }
  std::size_t olds = round8(old_size);
  std::size_t news = round8(new_size);
  if (olds == news)
    return block;
  void *p = news != 0 ? alloc_rounded(mm, news, code) : nullptr;
  if (p != nullptr) {
    if (cp(p) == cp(block) + olds) {
      /* The block right after ours was free: grow (or shrink) in place and
         free the stretch that the fresh allocation leaves beyond it. */
      free_rounded(mm, cp(block) + news, olds, code);
      return block;
    }
    std::memcpy(p, block, std::min(olds, news));
    free_rounded(mm, block, olds, code);
    return p;
  }
  if (news != 0 && news < olds) {
    std::size_t tail = olds - news;
    mm->alloc_dist[mm_size_class(olds)]--;
    mm->alloc_dist[mm_size_class(news)]++;
    mm->mm_bins[mm_code_bin(code)] -= tail;
    mm->total_in_use -= tail;
    mm->total_free += tail;
    mm->recently_freed += tail;
    put_free(mm, cp(block) + news, tail);
    return block;
  }
  return exhausted(code);
}

void *vr_checkalloc(std::size_t size, int gc)
{
  return checkalloc(size, mm_code(gc ? MM_BIN_FLI_STACK : MM_BIN_MISC));
}

void vr_checkdealloc(void *block, std::size_t size, int gc)
{
  checkdealloc(block, size, mm_code(gc ? MM_BIN_FLI_STACK : MM_BIN_MISC));
}

void *vr_checkrealloc(void *block, std::size_t old_size, std::size_t new_size, int gc)
{
  return checkrealloc(block, old_size, new_size, mm_code(gc ? MM_BIN_FLI_STACK : MM_BIN_MISC));
}

[[noreturn]] void vr_memory_fault(int culprit, int /*category*/)
{
  /* Restarts the running emulator activation, or is fatal without one. */
  do_memory_fault(nullptr, culprit);
}

/* ---------------------------------------------------------------------- */
/* Interface blocks: an 8-byte header {total size, marker} before the
   address handed out. */

static std::uint32_t *interface_header(void *block)
{
  return reinterpret_cast<std::uint32_t *>(cp(block) - VR_MALLOC_HEADER);
}

/* The total size for a payload of `size` bytes; 0 when it overflows. */
static std::size_t interface_total(std::size_t size)
{
  if (size == 0)
    return VR_MALLOC_HEADER + 1;
  return size > SIZE_MAX - VR_MALLOC_HEADER ? 0 : size + VR_MALLOC_HEADER;
}

void *VR_malloc(std::size_t size)
{
  if (vr_malloc_mallocs) {
    void *p = std::malloc(size);
    return p == nullptr && size == 0 ? std::malloc(1) : p;
  }
  std::size_t total = interface_total(size);
  if (!mem_initialized || total == 0)
    return nullptr;
  std::uint32_t *h = static_cast<std::uint32_t *>(checkalloc(total, mm_code(MM_BIN_VR_MALLOC, true)));
  if (h == nullptr)
    return nullptr;
  h[0] = total;
  h[1] = VR_MALLOC_MARKER;
  return h + 2;
}

void VR_free(void *block)
{
  if (block == nullptr)
    return;
  if (vr_malloc_mallocs) {
    std::free(block);
    return;
  }
  std::uint32_t *h = interface_header(block);
  /* Without the marker the size word is garbage: freeing by it would
     corrupt the free lists (a double free lands here too, since a freed
     block's second word holds its size). */
  if (h[1] != VR_MALLOC_MARKER)
    vr_memory_fault(MM_BIN_VR_MALLOC, -1);
  checkdealloc(h, h[0], mm_code(MM_BIN_VR_MALLOC));
}

void *VR_realloc(void *block, std::size_t size)
{
  if (vr_malloc_mallocs) {
    void *p = std::realloc(block, size);
    return p == nullptr && size == 0 ? std::realloc(block, 1) : p;
  }
  if (block == nullptr)
    return nullptr;
  std::uint32_t *h = interface_header(block);
  if (h[1] != VR_MALLOC_MARKER)
    vr_memory_fault(MM_BIN_VR_MALLOC, -1);
  std::size_t total = interface_total(size);
  if (total == 0)
    return nullptr;
  std::uint32_t *n = static_cast<std::uint32_t *>(
      checkrealloc(h, h[0], total, mm_code(MM_BIN_VR_MALLOC, true)));
  if (n == nullptr)
    return nullptr;
  n[0] = total;
  n[1] = VR_MALLOC_MARKER;
  return n + 2;
}

std::size_t vr_malloc_bytes(void)
{
  return 0;
}

/* ---------------------------------------------------------------------- */
/* Stack areas: each is a big block of its own, straight from the source,
   so that growing one never fragments the free lists. */

static void free_stack_size_table(void)
{
  if (valid_stack_sizes != nullptr) {
    std::uint32_t *old = valid_stack_sizes;
    std::size_t n_old = nvalid_stack_sizes;
    valid_stack_sizes = nullptr;
    nvalid_stack_sizes = 0;
    checkdealloc(old, n_old * sizeof(std::uint32_t), mm_code(MM_BIN_MISC));
  }
}

void init_stack_sizes(int growth_percent)
{
  free_stack_size_table();
  double a = (growth_percent + 100) / 100.0;
  std::uint32_t sizes[64];
  int n = 0;
  std::uint32_t cur = 32768;
  sizes[n++] = cur;
  for (;;) {
    std::uint64_t next = static_cast<std::uint64_t>(a * cur);
    next = (next + 31) & ~static_cast<std::uint64_t>(31);
    std::uint32_t next32 = static_cast<std::uint32_t>(next);
    if (next32 <= cur || n == 64)
      break;
    sizes[n++] = cur = next32;
  }
  std::size_t bytes = n * sizeof(std::uint32_t);
  valid_stack_sizes = static_cast<std::uint32_t *>(checkalloc(bytes, mm_code(MM_BIN_MISC)));
  std::memcpy(valid_stack_sizes, sizes, bytes);
  nvalid_stack_sizes = n;
}

std::size_t adjust_stack_size(std::size_t size)
{
  if (nvalid_stack_sizes == 0)
    init_stack_sizes(62);
  const std::uint32_t *begin = valid_stack_sizes;
  const std::uint32_t *end = begin + nvalid_stack_sizes;
  const std::uint32_t *p = std::lower_bound(begin, end, static_cast<std::uint32_t>(size));
  if (p == end)
    vr_memory_fault(MM_BIN_STACK, -1);
  return *p;
}

/* A stack area of exactly s bytes from the source, recorded in link;
   null when the source has no memory. */
static void *stack_bigmem(std::size_t s, bigmem_link *link)
{
  if (mm_alloc_hook_fn == nullptr)
    return nullptr;
  bigmem_link l;
  l.bigmem = mm_alloc_hook_fn(s + 8, &l.size, mm_cookie);
  if (l.bigmem == nullptr)
    return nullptr;
  char *start;
  std::size_t usable;
  bigmem_usable(l, &start, &usable);
  if (usable < s) {
    mm_free_hook_fn(l.bigmem, l.size, 1, mm_cookie);
    return nullptr;
  }
  *link = l;
  return start;
}

void *stackalloc(std::size_t size, std::size_t *actual, int area)
{
  mm_record *mm = MM;
  std::size_t s = adjust_stack_size(size);
  if (vr_checkalloc_mallocs) {
    *actual = s;
    return checkalloc(s, mm_code(MM_BIN_STACK));
  }
  void *p = stack_bigmem(s, &mm->link[area]);
  if (p == nullptr)
    vr_memory_fault(MM_BIN_STACK, -1);
  mm->total_in_use += s;
  mm->mm_bins[MM_BIN_STACK] += s;
  *actual = s;
  return p;
}

void *stackrealloc(void *area, std::size_t old_size, std::size_t new_size, std::size_t *actual, int area_index)
{
  mm_record *mm = MM;
  std::size_t s = adjust_stack_size(new_size);
  if (s == old_size) {
    *actual = old_size;
    return area;
  }
  if (vr_checkalloc_mallocs) {
    *actual = s;
    return checkrealloc(area, old_size, s, mm_code(MM_BIN_STACK));
  }
  bigmem_link l;
  void *p = stack_bigmem(s, &l);
  if (p == nullptr) {
    if (s > old_size)
      vr_memory_fault(MM_BIN_STACK, -1);
    *actual = old_size;
    return area;
  }
  std::memcpy(p, area, std::min(old_size, s));
  mm_free_hook_fn(mm->link[area_index].bigmem, mm->link[area_index].size, 1, mm_cookie);
  mm->link[area_index] = l;
  mm->total_in_use += s - old_size;
  mm->mm_bins[MM_BIN_STACK] += s - old_size;
  *actual = s;
  return p;
}

void stackdealloc(void *area, std::size_t size, int area_index)
{
  mm_record *mm = MM;
  if (vr_checkalloc_mallocs) {
    checkdealloc(area, size, mm_code(MM_BIN_STACK));
    return;
  }
  bigmem_link &l = mm->link[area_index];
  if (l.bigmem != nullptr)
    mm_free_hook_fn(l.bigmem, l.size, 1, mm_cookie);
  l.bigmem = nullptr;
  l.size = 0;
  mm->total_in_use -= size;
  mm->mm_bins[MM_BIN_STACK] -= size;
}

/* ---------------------------------------------------------------------- */
/* Defragmentation and trimming */

static void reclaim_dead(void)
{
  if (reclaim_running)
    return;
  reclaim_running = true;
  if (mm_reclaim_dead_clauses_hook != nullptr)
    mm_reclaim_dead_clauses_hook();
  if (mm_reclaim_dead_predicates_hook != nullptr)
    mm_reclaim_dead_predicates_hook();
  reclaim_running = false;
}

/* Merges two lists sorted by descending address. */
static free_block *merge_desc(free_block *a, free_block *b)
{
  free_block head{nullptr, 0};
  free_block *tail = &head;
  while (a != nullptr && b != nullptr) {
    if (addr(a) > addr(b)) {
      tail->next = a;
      a = a->next;
    } else {
      tail->next = b;
      b = b->next;
    }
    tail = tail->next;
  }
  tail->next = a != nullptr ? a : b;
  return head.next;
}

/* Natural merge sort by descending address: split into maximal descending
   runs, then merge neighbouring runs until one is left.  Lists that are
   already mostly ordered (class 24, fresh carvings) cost little. */
static free_block *sort_desc(free_block *list)
{
  while (list != nullptr) {
    free_block *runs = nullptr, *runs_tail = nullptr;
    int nruns = 0;
    /* Cut the list into runs, merging pairs as they come. */
    while (list != nullptr) {
      free_block *r1 = list;
      while (list->next != nullptr && addr(list->next) < addr(list))
        list = list->next;
      free_block *rest = list->next;
      list->next = nullptr;
      list = rest;
      free_block *r2 = nullptr;
      if (list != nullptr) {
        r2 = list;
        while (list->next != nullptr && addr(list->next) < addr(list))
          list = list->next;
        rest = list->next;
        list->next = nullptr;
        list = rest;
      }
      free_block *m = merge_desc(r1, r2);
      nruns++;
      /* Chain merged runs through a sentinel walk: append m to runs. */
      if (runs == nullptr) {
        runs = m;
      } else {
        runs_tail->next = m;
      }
      runs_tail = m;
      while (runs_tail->next != nullptr)
        runs_tail = runs_tail->next;
    }
    list = runs;
    if (nruns <= 1)
      return list;
  }
  return list;
}

void defragment_memory(mm_record *mm)
{
  std::int64_t t0 = vr_usertime_ms();
  reclaim_dead();

  free_block *all = nullptr;
  for (int c = 0; c < MM_CLASSES; c++) {
    all = merge_desc(all, sort_desc(mm->free_arr[c]));
    mm->free_arr[c] = nullptr;
  }
  if (mm->free_cache != nullptr) {
    mm->free_cache->next = nullptr;
    all = merge_desc(all, mm->free_cache);
    mm->free_cache = nullptr;
  }
  /* From the highest address down: a block that ends where the current one
     starts absorbs it. */
  free_block *cur = all;
  while (cur != nullptr) {
    free_block *next = cur->next;
    if (next != nullptr && cp(next) + next->size == cp(cur)) {
      next->size += cur->size;
    } else {
      put_free(mm, cur, cur->size);
    }
    cur = next;
  }
  mm->recently_freed = 0;
  eglobal->stats.defrag_time += vr_usertime_ms() - t0;
  eglobal->stats.defrag_count++;
}

static bool overlaps_recovery(const mm_record *mm, const char *start, std::size_t size)
{
  const char *r = reinterpret_cast<const char *>(mm->recovery.ptr);
  return r != nullptr && r < start + size && start < r + mm->recovery.size;
}

/* Hands back to the source every directory block that lies wholly inside a
   free class-24 block. */
static void trim_bigmems(mm_record *mm)
{
  std::int64_t t0 = vr_usertime_ms();
  std::sort(mm->directory, mm->directory + mm->dir_pop,
            [](const bigmem_link &a, const bigmem_link &b) { return addr(a.bigmem) < addr(b.bigmem); });
  free_block *list = mm->free_arr[BIG_CLASS];
  mm->free_arr[BIG_CLASS] = nullptr;
  long j = 0;
  bool refused = false;
  while (list != nullptr) {
    free_block *b = list;
    list = b->next;
    char *bs = cp(b);
    std::size_t bsize = b->size;
    while (!refused) {
      char *ds = nullptr;
      std::size_t dsize = 0;
      while (j < mm->dir_pop) {
        bigmem_usable(mm->directory[j], &ds, &dsize);
        if (ds >= bs)
          break;
        j++;
      }
      if (j >= mm->dir_pop || ds + dsize > bs + bsize || overlaps_recovery(mm, ds, dsize))
        break;
      bigmem_link l = mm->directory[j];
      if (!mm_free_hook_fn(l.bigmem, l.size, 0, mm_cookie)) {
        refused = true;
        break;
      }
      mm->total_free -= dsize;
      std::memmove(&mm->directory[j], &mm->directory[j + 1], (mm->dir_pop - j - 1) * sizeof(bigmem_link));
      mm->dir_pop--;
      if (ds > bs)
        put_free(mm, bs, ds - bs);
      std::size_t after = bs + bsize - (ds + dsize);
      bs = ds + dsize;
      bsize = after;
      if (bsize < BIG_CLASS_MIN)
        break;
    }
    if (bsize != 0)
      put_free(mm, bs, bsize);
  }
  eglobal->stats.trim_bigmems_time += vr_usertime_ms() - t0;
  eglobal->stats.trim_bigmems_count++;
}

void trimcore(worker *w, int level)
{
  mm_record *mm = MM;
  if (!mem_initialized)
    return;
  if (level <= 0) {
    reclaim_dead();
    return;
  }
  if (level >= 2 && w != nullptr && w->node_ != nullptr && mm_shrink_stacks_hook != nullptr)
    mm_shrink_stacks_hook(w);
  if (mm_free_numstack_hook != nullptr)
    mm_free_numstack_hook(w);
  if (vr_checkalloc_mallocs) {
    reclaim_dead();   /* no lists and no big blocks of our own to give back */
  } else {
    defragment_memory(mm);
    trim_bigmems(mm);
  }
  if (mm_init_numstack_hook != nullptr)
    mm_init_numstack_hook(w);
}

/* ---------------------------------------------------------------------- */
/* Life cycle */

void memman_set_hooks_raw(int hints, mm_init_hook init, mm_deinit_hook deinit,
                          mm_alloc_hook alloc, mm_free_hook free_, void *cookie)
{
  mm_hints = hints;
  if (hints == 1) {
    vr_use_malloc_option = 1;
    init = nullptr;
    deinit = nullptr;
    alloc = nullptr;
    free_ = nullptr;
    cookie = nullptr;
  }
  mm_init_alloc_hook = init;
  mm_deinit_alloc_hook = deinit;
  mm_alloc_hook_fn = alloc;
  mm_free_hook_fn = free_;
  mm_cookie = cookie;
}

memman_hooks memman_get_hooks(void)
{
  return memman_hooks{mm_hints, mm_init_alloc_hook, mm_deinit_alloc_hook, mm_alloc_hook_fn,
                      mm_free_hook_fn, mm_cookie};
}

/* Valgrind's RUNNING_ON_VALGRIND client request: 0 when not instrumented. */
static unsigned running_on_valgrind(void)
{
  volatile uintptr_t request[6] = {0x1001, 0, 0, 0, 0, 0};
  return static_cast<unsigned>(vrio_valgrind_client_request(0, request));
}

static int system_allocator_switch(const char *name, int *option)
{
  *option = get_boolean(name, -1);
  if (*option == 0 || *option == 1)
    return *option;
  if (vr_use_malloc_option == 0 || vr_use_malloc_option == 1)
    return vr_use_malloc_option;
  return 0;
}

int memman_init(void)
{
  if (mem_initialized)
    return 0;
  mm_record *mm = MM;
  if (vr_use_malloc_option != 1) {
    vr_use_malloc_option = get_boolean("VR_USE_MALLOC", -1);
    if (vr_use_malloc_option == -1 && running_on_valgrind() != 0)
      vr_use_malloc_option = 1;
  }
  vr_malloc_mallocs = system_allocator_switch("VR_MALLOC_MALLOCS", &vr_malloc_mallocs_option);
  vr_checkalloc_mallocs = system_allocator_switch("VR_CHECKALLOC_MALLOCS", &vr_checkalloc_mallocs_option);

  std::memset(mm, 0, sizeof *mm);
  mm->culprit = -1;

  if (!vr_checkalloc_mallocs) {
    /* Start-up installs the default source first; a caller that did not
       (a tool, a test) gets it too rather than a null hook. */
    if (mm_alloc_hook_fn == nullptr)
      set_memalloc_default();
    mm->directory = static_cast<bigmem_link *>(std::malloc(INITIAL_DIR_SIZE * sizeof(bigmem_link)));
    if (mm->directory == nullptr)
      return 1;
    mm->dir_size = INITIAL_DIR_SIZE;
    if (mm_init_alloc_hook != nullptr && !mm_init_alloc_hook(8, mm_cookie)) {
      std::free(mm->directory);
      mm->directory = nullptr;
      return 1;
    }
    if (!get_bigmem(mm, FIRST_BIGMEM_REQUEST)) {
      if (mm_deinit_alloc_hook != nullptr)
        mm_deinit_alloc_hook(mm_cookie);
      std::free(mm->directory);
      mm->directory = nullptr;
      return 1;
    }
  }

  engine_stats &st = eglobal->stats;
  std::int64_t user = vr_usertime_ms();
  st.start_user_time = st.last_user_time = st.last_total_user_time = user;
  st.last_excluded_run_time = 0;
  st.startwall = st.lastwall = vr_walltime_ms();
  mem_initialized = 1;
  return 0;
}

namespace {
constexpr int MAX_RELEASE_HOOKS = 16;
void (*release_hooks[MAX_RELEASE_HOOKS])(void);
int release_hook_count = 0;
} // namespace

void memman_add_release_hook(void (*release)(void))
{
  for (int i = 0; i < release_hook_count; i++)
    if (release_hooks[i] == release)
      return;
  if (release_hook_count == MAX_RELEASE_HOOKS)
    VR_raise_fault("memman: too many release hooks");
  release_hooks[release_hook_count++] = release;
}

void memman_deinit(void)
{
  mm_record *mm = MM;
  if (!mem_initialized)
    return;
  for (int i = 0; i < release_hook_count; i++)
    release_hooks[i]();
  /* The table lives in memory about to go back to the source. */
  free_stack_size_table();
  if (!vr_checkalloc_mallocs) {
    for (long i = mm->dir_pop - 1; i >= 0; i--)
      mm_free_hook_fn(mm->directory[i].bigmem, mm->directory[i].size, 1, mm_cookie);
    if (mm_deinit_alloc_hook != nullptr)
      mm_deinit_alloc_hook(mm_cookie);
    std::free(mm->directory);
    mm->directory = nullptr;
    mm->dir_pop = 0;
    mm->dir_size = 0;
    for (int c = 0; c < MM_CLASSES; c++)
      mm->free_arr[c] = nullptr;
    mm->free_cache = nullptr;
  }
  mm_cookie = nullptr;
  mem_initialized = 0;
}

/* Takes the free block containing the recovery block off its list, returns
   the pieces around it and hands the reserve back to its owner. */
void memman_reinit(mm_record *mm)
{
  if (mm->recovery.ptr == nullptr)
    return;
  if (mm->free_cache != nullptr) {
    free_block *c = mm->free_cache;
    mm->free_cache = nullptr;
    put_free(mm, c, c->size);
  }
  char *r = reinterpret_cast<char *>(mm->recovery.ptr);
  std::size_t rsize = mm->recovery.size;
  for (int c = 0; c < MM_CLASSES; c++) {
    for (free_block **link = &mm->free_arr[c]; *link != nullptr; link = &(*link)->next) {
      free_block *b = *link;
      if (!(cp(b) <= r && r + rsize <= cp(b) + b->size))
        continue;
      *link = b->next;
      char *end = cp(b) + b->size;
      if (r > cp(b))
        put_free(mm, b, r - cp(b));
      if (end > r + rsize)
        put_free(mm, r + rsize, end - (r + rsize));
      mm->total_in_use += rsize;
      mm->total_free -= rsize;
      std::memcpy(mm->recovery.ptr, mm->recovery.save_word, sizeof mm->recovery.save_word);
      mm->recovery.ptr = nullptr;
      mm->recovery.size = 0;
      return;
    }
  }
  VR_raise_fault("memman_reinit: internal error");
}

/* ---------------------------------------------------------------------- */
/* Reports and built-ins */

TAGGED mm_statistics(worker *w)
{
  TAGGED t = make_structure(w, MakeFunctor(atom_dot, MM_BINS));
  TAGGED *args = TagToSTR(t) + 1;
  for (int i = 0; i < MM_BINS; i++)
    args[i] = make_integer_term(w, static_cast<VR_int64>(MM->mm_bins[i]));
  return t;
}

static std::size_t class_lower(int c)
{
  return c <= EXACT_TOP ? 8u * (c + 1) : static_cast<std::size_t>(128) << (c - 15);
}

static std::size_t class_upper(int c)
{
  if (c < EXACT_TOP)
    return 8u * c + 16;
  if (c < BIG_CLASS)
    return static_cast<std::size_t>(128) << (c - 14);
  return 0x7FFFFFFC;
}

int minfo_guts(int quiet)
{
  mm_record *mm = MM;
  int bad = 0;
  unsigned long nfree[MM_CLASSES];
  for (int c = 0; c < MM_CLASSES; c++) {
    nfree[c] = 0;
    for (free_block *b = mm->free_arr[c]; b != nullptr; b = b->next) {
      nfree[c]++;
      if (b->size < class_lower(c) || b->size >= class_upper(c) || b->size % 8 != 0) {
        vr_ttyprintf("ERROR: $minfo: block at 0x%lx, expected %d-aligned size in [%lu,%lu), found %lu\n",
                     static_cast<unsigned long>(addr(b)), 8, static_cast<unsigned long>(class_lower(c)),
                     static_cast<unsigned long>(class_upper(c)), static_cast<unsigned long>(b->size));
        vr_ttyflush();
        bad = 1;
      }
    }
  }
  if (quiet)
    return bad;

  vr_ttyprintf("\nMemory Manager Info\n");
  vr_ttyprintf("*******************\n");
  if (mm->free_cache != nullptr)
    vr_ttyprintf("The exact cache contains a block of size %lu.\n", static_cast<unsigned long>(mm->free_cache->size));
  else
    vr_ttyprintf("The exact cache is empty.\n");
  vr_ttyprintf("      Size Class  Free blocks");
  vr_ttyprintf("   Allocated blocks\n");
  unsigned long total_free_blocks = 0;
  long total_alloc = 0;
  for (int c = 0; c < MM_CLASSES; c++) {
    vr_ttyprintf("      %s%8lu:    %8lu     %8lu\n", c == BIG_CLASS ? ">=" : "  ",
                 static_cast<unsigned long>(class_lower(c)), nfree[c],
                 static_cast<unsigned long>(mm->alloc_dist[c]));
    total_free_blocks += nfree[c];
    total_alloc += mm->alloc_dist[c];
  }
  vr_ttyprintf("Total nr of blocks:  %8lu     %8lu\n", total_free_blocks, static_cast<unsigned long>(total_alloc));
  vr_ttyprintf("Total nr of bigmems:              %8lu\n", 0ul);
  vr_ttyprintf("Total space:       %10lu   %10lu\n", static_cast<unsigned long>(mm->total_free),
               static_cast<unsigned long>(mm->total_in_use));
  int order[MM_BINS];
  for (int i = 0; i < MM_BINS; i++)
    order[i] = i;
  std::stable_sort(order, order + MM_BINS, [mm](int a, int b) { return mm->mm_bins[a] > mm->mm_bins[b]; });
  for (int i = 0; i < MM_BINS; i++) {
    std::size_t bytes = mm->mm_bins[order[i]];
    if (bytes == 0)
      continue;
    double pct = mm->total_in_use != 0 ? 100.0 * bytes / mm->total_in_use : 0.0;
    vr_ttyprintf("%24s %8ld (%4.1f%%)\n", mm_msgs[order[i]], static_cast<long>(bytes), pct);
  }
  vr_ttyprintf("No of compactions:   %8llu\n", static_cast<unsigned long long>(eglobal->stats.defrag_count));
  vr_ttyflush();
  return bad;
}

int prolog_trimcore(worker *w)
{
  TAGGED level = deref(w->term[0]);
  if (!IsSmall(level))
    return 0;
  trimcore(w, GetSmall(level));
  return 1;
}

int prolog_minfo(worker *w)
{
  minfo_guts(0);
  return 1;
}

int prolog_reclaim_misc_usage(worker *w)
{
  const engine_stats &st = eglobal->stats;
  const VR_int64 values[13] = {
    st.reclaim_dead_clauses_count, st.reclaim_dead_clauses_time,
    st.reclaim_dead_clauses_earliest_use_time, st.reclaim_dead_clauses_mark_static_time,
    st.reclaim_dead_clauses_expunge_time, st.reclaim_dead_clauses_reclaimed,
    eglobal->clauses_total, eglobal->clauses_dead, eglobal->clauses_dead_recently,
    st.reclaim_dead_predicates_count, st.reclaim_dead_predicates_time,
    st.trim_bigmems_count, st.trim_bigmems_time,
  };
  TAGGED items[13];
  for (int i = 0; i < 13; i++)
    items[i] = make_integer_term(w, values[i]);
  TAGGED list = atom_nil;
  TAGGED *cells = w->global_top;
  w->global_top += 2 * 13;
  for (int i = 12; i >= 0; i--) {
    cells[2 * i] = items[i];
    cells[2 * i + 1] = list;
    list = MakeLST(&cells[2 * i]);
  }
  return cunify(w, w->term[0], list);
}
