/* memman.h: the engine's memory manager.
 *
 * All engine memory (atoms, predicates, clauses, tables, buffers, stacks)
 * comes from here.  Big blocks come from a pluggable source (memsource.cpp)
 * and are carved into blocks on 25 size-class free lists.  Callers are
 * size-aware: they pass the size back on free and resize, so blocks carry no
 * header.  Every allocation names a statistics bin and whether it may fail
 * in one code: bin * 16 + 1 (may fail: null on exhaustion) or bin * 16
 * (exhaustion is a memory fault).  Engine thread only.
 */
#ifndef VOSTREL_MEMMAN_H
#define VOSTREL_MEMMAN_H

#include <cstddef>
#include <cstdint>

#include "termdefs.h"

struct worker;

constexpr int MM_CLASSES = 25;
constexpr int MM_BINS = 30;

/* Statistics bins (report names in mm_msgs). */
enum mm_bin {
  MM_BIN_VR_MALLOC = 0, MM_BIN_MISC = 1, MM_BIN_ATOM_BUFFER = 2, MM_BIN_BDD = 3,
  MM_BIN_ATOM = 4, MM_BIN_ATOM_TABLE = 5, MM_BIN_FOREIGN_RESOURCE = 6,
  MM_BIN_TRY_NODE = 7, MM_BIN_SW_ON_KEY = 8, MM_BIN_NC_INFO = 9,
  MM_BIN_DEFINITION = 10, MM_BIN_EMUL_INFO = 11, MM_BIN_INCORE_INFO = 12,
  MM_BIN_INT_INFO = 13, MM_BIN_GCDEF = 14, MM_BIN_MOD_DEF = 15,
  MM_BIN_INSTANCE = 16, MM_BIN_NUM_MODULE_TABLE = 17, MM_BIN_MODULE_DATA = 18,
  MM_BIN_ITABLE = 19, MM_BIN_SETOF = 20, MM_BIN_QLINFO = 21, MM_BIN_FLI_STACK = 22,
  MM_BIN_EVENT_QUEUE = 23, MM_BIN_STREAM = 24, MM_BIN_NUMSTACK = 25,
  MM_BIN_COMP_CODE_TABLE = 26, MM_BIN_BTREE = 27, MM_BIN_LHEAP = 28, MM_BIN_STACK = 29
};
extern const char *const mm_msgs[MM_BINS];

/* Allocation codes. */
constexpr int MM_MAYFAIL = 1;
constexpr int mm_code(int bin, bool may_fail = false) { return bin * 16 + (may_fail ? MM_MAYFAIL : 0); }
constexpr int mm_code_bin(int code) { return code >> 4; }

/* Laid over the first two words of every free block. */
struct free_block {
  free_block *next;
  std::size_t size;
};
static_assert(sizeof(free_block) == 8, "the smallest block (8 bytes) must hold a free_block");

struct bigmem_link {
  std::size_t size;   /* as obtained from the source */
  void *bigmem;       /* start address returned by the source */
};
static_assert(sizeof(bigmem_link) == 8);

struct mm_recovery {
  std::uint32_t *ptr;
  std::size_t size;
  std::uint32_t save_word[8];
};

struct mm_record {
  mm_recovery recovery;
  free_block *free_arr[MM_CLASSES];
  free_block *free_cache;        /* carving block, >= 128 bytes, or null */
  std::size_t total_in_use;
  std::size_t total_free;
  std::size_t recently_freed;
  bigmem_link *directory;
  long dir_pop;
  std::size_t dir_size;
  bigmem_link link[2];           /* [1] heap and local area, [0] trail and choice area */
  int culprit;
  int alloc_dist[MM_CLASSES];
  std::size_t mm_bins[MM_BINS];
};

/* Header of VR_malloc blocks: total size including the header, then the
   marker. */
constexpr std::uint32_t VR_MALLOC_MARKER = 0xDEADDEAD;
constexpr std::size_t VR_MALLOC_HEADER = 8;

/* Source hooks (see memsource.cpp for the default source). */
typedef int (*mm_init_hook)(std::size_t alignment, void *cookie);
typedef void (*mm_deinit_hook)(void *cookie);
typedef void *(*mm_alloc_hook)(std::size_t size, std::size_t *actual, void *cookie);
typedef int (*mm_free_hook)(void *mem, std::size_t size, int force, void *cookie);

/* ---- Interface (memman.cpp) ---- */
extern int mem_initialized;
/* System-allocator switches and the option values behind them (-1 unset). */
extern int vr_malloc_mallocs, vr_checkalloc_mallocs;
extern int vr_use_malloc_option, vr_malloc_mallocs_option, vr_checkalloc_mallocs_option;
/* The valid stack sizes, ascending (init_stack_sizes). */
extern std::uint32_t *valid_stack_sizes;
extern int nvalid_stack_sizes;

int memman_init(void);
void memman_deinit(void);
void memman_reinit(mm_record *mm);
void memman_set_hooks_raw(int hints, mm_init_hook init, mm_deinit_hook deinit,
                          mm_alloc_hook alloc, mm_free_hook free_, void *cookie);
void *checkalloc(std::size_t size, int code);
void checkdealloc(void *block, std::size_t size, int code);
void *checkrealloc(void *block, std::size_t old_size, std::size_t new_size, int code);
void *vr_checkalloc(std::size_t size, int gc);
void vr_checkdealloc(void *block, std::size_t size, int gc);
void *vr_checkrealloc(void *block, std::size_t old_size, std::size_t new_size, int gc);
void *VR_malloc(std::size_t size);
void VR_free(void *block);
void *VR_realloc(void *block, std::size_t size);
std::size_t vr_malloc_bytes(void);
void *stackalloc(std::size_t size, std::size_t *actual, int area);
void *stackrealloc(void *area, std::size_t old_size, std::size_t new_size, std::size_t *actual, int area_index);
void stackdealloc(void *area, std::size_t size, int area_index);
std::size_t adjust_stack_size(std::size_t size);
void init_stack_sizes(int growth_percent);
void defragment_memory(mm_record *mm);
void trimcore(worker *w, int level);
TAGGED mm_statistics(worker *w);
int minfo_guts(int quiet);
/* Exhaustion that may not fail: records culprit (a statistics bin) and
   raises the memory fault.  category says what ran out (-1 unspecified);
   the fault is the same for every category.  Does not return. */
[[noreturn]] void vr_memory_fault(int culprit, int category);
/* Caches that keep engine memory in statics register a function that drops
   them; memman_deinit runs each before the memory goes back to the source,
   so no static is left pointing into returned memory.  Registering twice
   is harmless. */
void memman_add_release_hook(void (*release)(void));
/* The installed source, so that a tool or test can put it back later. */
struct memman_hooks {
  int hints;
  mm_init_hook init;
  mm_deinit_hook deinit;
  mm_alloc_hook alloc;
  mm_free_hook free_;
  void *cookie;
};
memman_hooks memman_get_hooks(void);
/* The size class of a request (after rounding up to 8). */
int mm_size_class(std::size_t size);

/* Hooks into layers built above the manager; null until those layers
   install them.  The reclaim hooks run inside defragmentation (and so inside
   allocation); the manager never lets them re-enter themselves. */
extern void (*mm_reclaim_dead_clauses_hook)(void);
extern void (*mm_reclaim_dead_predicates_hook)(void);
/* trimcore level 2: shrink the stack areas of w to what they use. */
extern void (*mm_shrink_stacks_hook)(worker *w);
/* trimcore levels 1 and 2 free the number stack first and create it again
   at the end. */
extern void (*mm_free_numstack_hook)(worker *w);
extern void (*mm_init_numstack_hook)(worker *w);

/* Prolog built-ins. */
int prolog_trimcore(worker *w);
int prolog_minfo(worker *w);
int prolog_reclaim_misc_usage(worker *w);

/* ---- Default memory source (memsource.cpp) ---- */
extern int memman_user_hooks_set;
void vr_memman_set_hooks(int hints, mm_init_hook init, mm_deinit_hook deinit,
                         mm_alloc_hook alloc, mm_free_hook free_, void *cookie);
void set_memalloc_default(void);
int SU_init_alloc_mem(std::size_t alignment, void *cookie);
/* SU_init_alloc_mem's settings given the data-segment limit it read
   (RLIM64_INFINITY for none); tests call it with limits of their own. */
int su_init_with_data_limit(std::size_t alignment, std::uint64_t data_limit);
void SU_deinit_alloc_mem(void *cookie);
void *SU_alloc_mem(std::size_t size, std::size_t *actual, void *cookie);
int SU_free_mem(void *mem, std::size_t size, int force, void *cookie);
/* The default source's settings and use, for reports and tests. */
struct su_state {
  std::size_t bigmem_total, init_size, inc_size, keep_size, max_size, quanta;
};
su_state su_get_state(void);
void su_set_state(const su_state &state);

#endif
