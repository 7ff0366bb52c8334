/* memsource.cpp: the default source of big blocks for the memory manager.
 *
 * Maps private anonymous memory in page-sized quanta, keeps the total mapped
 * (bigmem_total) under an optional ceiling (MaxSize, 0 = none) and, when the
 * manager trims without force, keeps at least KeepSize bytes mapped.  The
 * settings are read from the environment each time the manager initialises
 * the source.  Installed by start-up through set_memalloc_default unless the
 * embedding program installed its own hooks with vr_memman_set_hooks.
 * Engine thread only.
 */
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include "config.h"
#include "memman.h"

int memman_user_hooks_set = 0;

static std::size_t bigmem_total;
static std::size_t InitSize;
static std::size_t IncSize;
static std::size_t KeepSize;
static std::size_t MaxSize;     /* 0: no ceiling */
static std::size_t SU_align;
static std::size_t SU_quanta;
static std::size_t pagesize;

constexpr std::size_t MIN_INIT_SIZE = 20480;
constexpr std::size_t MIN_MAX_SIZE = 0x100000;

void vr_memman_set_hooks(int hints, mm_init_hook init, mm_deinit_hook deinit,
                         mm_alloc_hook alloc, mm_free_hook free_, void *cookie)
{
  memman_user_hooks_set = 1;
  memman_set_hooks_raw(hints, init, deinit, alloc, free_, cookie);
}

void set_memalloc_default(void)
{
  if (!memman_user_hooks_set)
    memman_set_hooks_raw(0, SU_init_alloc_mem, SU_deinit_alloc_mem, SU_alloc_mem, SU_free_mem, nullptr);
}

/* The data-segment limit as a ceiling, 0 for none.  A limit that does not
   fit in 32 bits (RLIM_INFINITY included) is no ceiling at all: this process
   cannot map that much anyway, and reading only its low bits would turn
   "unlimited" into a tiny ceiling that makes start-up fail. */
static std::size_t data_segment_ceiling(std::uint64_t limit)
{
  if (limit == RLIM64_INFINITY || limit > 0xFFFFFFFFull)
    return 0;
  return static_cast<std::size_t>(limit);
}

/* Rounds up to a multiple of align in 32 bits; a value within align of 2^32
   wraps to 0 (for MaxSize that reads as no ceiling). */
static std::size_t round_to(std::size_t v, std::size_t align)
{
  return (v + align - 1) / align * align;
}

int SU_init_alloc_mem(std::size_t alignment, void *cookie)
{
  struct rlimit64 rl;
  std::uint64_t limit = RLIM64_INFINITY;
  if (getrlimit64(RLIMIT_DATA, &rl) == 0)
    limit = rl.rlim_cur;
  return su_init_with_data_limit(alignment, limit);
}

int su_init_with_data_limit(std::size_t alignment, std::uint64_t data_limit)
{
  long ps = sysconf(_SC_PAGESIZE);
  pagesize = ps > 0 ? static_cast<std::size_t>(ps) : 4096;
  if (alignment == 0)
    alignment = 8;
  SU_align = alignment;

  IncSize = get_stack_size("PROLOGINCSIZE", pagesize, pagesize);
  InitSize = get_stack_size("PROLOGINITSIZE", MIN_INIT_SIZE, MIN_INIT_SIZE);
  KeepSize = get_stack_size("PROLOGKEEPSIZE", 0, 0);
  std::size_t ceiling = data_segment_ceiling(data_limit);
  if (ceiling != 0) {
    MaxSize = get_stack_size("PROLOGMAXSIZE", ceiling, MIN_MAX_SIZE);
  } else {
    /* Without a limit the default must stay "none": raising it to the
       minimum like an explicit setting would impose a 1 MiB ceiling. */
    MaxSize = get_stack_size("PROLOGMAXSIZE", 0, 0);
    if (MaxSize != 0 && MaxSize < MIN_MAX_SIZE)
      MaxSize = MIN_MAX_SIZE;
  }
  if (MaxSize != 0 && MaxSize < InitSize)
    InitSize = MaxSize;

  IncSize = round_to(IncSize, SU_align);
  InitSize = round_to(InitSize, SU_align);
  KeepSize = round_to(KeepSize, SU_align);
  MaxSize = round_to(MaxSize, SU_align);
  SU_quanta = SU_align > pagesize ? SU_align : pagesize;
  bigmem_total = 0;
  return 1;
}

void SU_deinit_alloc_mem(void *cookie)
{
}

void *SU_alloc_mem(std::size_t size, std::size_t *actual, void *cookie)
{
  std::uint64_t s = size < IncSize ? IncSize : size;
  if (bigmem_total == 0 && s < InitSize)
    s = InitSize;
  if (MaxSize != 0 && bigmem_total + s > MaxSize)
    return nullptr;
  s = (s + SU_quanta - 1) / SU_quanta * SU_quanta;
  if (s == 0 || s > 0xFFFFFFFFull)
    return nullptr;
  /* Data only: nothing the engine runs lives in these blocks, so they are
     never mapped executable. */
  void *mem = mmap(nullptr, static_cast<std::size_t>(s), PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mem == MAP_FAILED)
    return nullptr;
  if (MaxSize != 0 && bigmem_total + s > MaxSize) {
    munmap(mem, static_cast<std::size_t>(s));
    return nullptr;
  }
  bigmem_total += static_cast<std::size_t>(s);
  *actual = static_cast<std::size_t>(s);
  return mem;
}

int SU_free_mem(void *mem, std::size_t size, int force, void *cookie)
{
  if (!force && bigmem_total - size < KeepSize)
    return 0;
  if (munmap(mem, size) != 0)
    return force ? 1 : 0;
  bigmem_total -= size;
  return 1;
}

su_state su_get_state(void)
{
  return su_state{bigmem_total, InitSize, IncSize, KeepSize, MaxSize, SU_quanta};
}

void su_set_state(const su_state &state)
{
  bigmem_total = state.bigmem_total;
  InitSize = state.init_size;
  IncSize = state.inc_size;
  KeepSize = state.keep_size;
  MaxSize = state.max_size;
  SU_quanta = state.quanta;
}
