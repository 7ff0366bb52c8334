/* datadefs.h: the engine's process-wide state, one `engine_global` record.
 *
 * `eglobal` holds what is shared by the whole engine: the memory manager's
 * record, the atom table, the Prolog flags the kernel reads, the statistics
 * counters and the hooks through which later layers plug into the kernel.
 * It lives in static storage and is owned by the term-model layer; fields
 * are added as the layers that use them are built.
 */
#ifndef VOSTREL_DATADEFS_H
#define VOSTREL_DATADEFS_H

#include <pthread.h>

#include "atoms.h"
#include "memman.h"
#include "termdefs.h"
#include "vostrel/vostrel_foreign.h"

struct worker;
struct instance;
struct sw_on_key;
struct mod_def;
struct gcdef_proc;
struct gcdef_mem;
struct vr_t_vrio_stream_node_;
struct setof_int_info;

/* Statistics counters (times in milliseconds of user or wall time). */
struct engine_stats {
  std::int64_t defrag_time, defrag_count;
  std::int64_t agc_time, agc_count, agc_alloced, agc_freed, agc_nfreed;
  std::int64_t ss_time, ss_global, ss_local, ss_control;
  std::int64_t gc_time, gc_count, gc_acc;
  std::int64_t start_user_time, last_user_time, last_total_user_time, last_excluded_run_time;
  std::int64_t startwall, lastwall;
  std::int64_t trim_bigmems_time, trim_bigmems_count;
  std::int64_t reclaim_dead_predicates_time, reclaim_dead_predicates_count;
  std::int64_t reclaim_dead_clauses_count, reclaim_dead_clauses_time,
      reclaim_dead_clauses_earliest_use_time, reclaim_dead_clauses_mark_static_time,
      reclaim_dead_clauses_expunge_time, reclaim_dead_clauses_reclaimed;
};

/* Header of a block of global references; nrefs two-word slots follow. */
struct globref_block {
  std::uint32_t size;     /* bytes of the block, header included */
  std::int32_t nrefs;
  globref_block *backward;
  globref_block *forward;
};
static_assert(sizeof(globref_block) == 16);

/* An open foreign resource (only its name matters to the kernel so far). */
/* An open foreign resource (foreign_resources.cpp), linked from
   open_resources in loading order.  rname is registered while it is open;
   misc is the dynamic loader's handle (null for a statically linked one);
   vrenv is the resource's own interface structure. */
struct open_resource {
  TAGGED rname;
  void *misc;
  VREnv vrenv;
  void *handle;
  VR_MainFun *funcp;
  int unload_attempted;
  open_resource *next;
  VR_MAINFUN_PARAMS params;
};

struct engine_global {
  mm_record mm;

  /* Atom table. */
  std::uint32_t atmtabsize;
  atom **atmtab[ATOM_PAGES];  /* pages of 8192 slots; free slot: (next << 3) | 1 */
  linhash_dir atmhash;
  std::uint32_t atom_count;
  std::uint32_t atom_count_limit;
  std::uint32_t atom_free;
  TAGGED one_char_cache[256];

  /* Prolog flags read by the kernel. */
  TAGGED current_agcmargin;   /* small integer */
  TAGGED current_prompt;      /* atom */
  TAGGED current_gcmargin;    /* small integer, kilobytes */
  TAGGED current_gcmode;
  TAGGED current_gctrace;
  TAGGED current_source_info;

  engine_stats stats;

  std::int64_t clauses_total, clauses_dead, clauses_dead_recently, clauses_dead_very_recently;
  /* Dynamic clauses (dynamic_clauses.cpp): the two clocks of the logical
     update view, whether no clause enumeration is known to be open, the
     database references' stamps, the erased clauses waiting to be freed
     (definition word -> dc_chain) and the newest set-of root. */
  std::uint16_t def_clock;
  std::uint16_t use_clock;
  std::int32_t no_chpt_current_instance;
  TAGGED dbref_stamp;
  sw_on_key *dbref_table;
  sw_on_key *dead_clause_table;
  setof_int_info *setof;

  TAGGED exception;
  TAGGED memory_fault_exception;
  /* The ball raised when a query fills the atom table: built at start-up,
     since nothing can be made of atoms once the table is full. */
  TAGGED atom_table_full_exception;
  TAGGED global_vars[32];

  open_resource *open_resources;

  /* Quick-load arrays whose words the atom collector marks. */
  TAGGED *qlarray;
  std::uint32_t qloffset;
  std::uint32_t qlarray_size;

  /* Hooks of the compiled-code table (debugger support). */
  void (*agc_table_comp)(void);
  void (*add_table_comp)(void *code, TAGGED file, long line);
  void (*del_table_comp)(void *code_start, void *code_end);

  /* Character classes (chartype.cpp): entry c + 1 of default_chtype is the
     class of code c (-1..255); the cache has two ways of 256 slots, slot
     c & 0xFF in way 0 and 256 + (c & 0xFF) in way 1. */
  unsigned char default_chtype[257];
  unsigned char chtype_hash[512];
  std::int32_t chcode_hash[512];

  /* Sizes in bytes of the two stack blocks as first allocated; trimming
     never shrinks them below these (stacks.cpp). */
  std::uint32_t min_heap;
  std::uint32_t min_choice;

  /* Root of the circular list of global-reference blocks (globref.cpp):
     size 16, nrefs 0; forward null until the first worker is created. */
  globref_block globref_blk;

  /* The module table (modules.cpp): module name to mod_def*; the module
     prolog, owner of the system predicates; the type-in module. */
  sw_on_key *user_modules;
  mod_def *prolog_module;
  mod_def *typein_mod;
  /* Dead predicates (predicates.cpp): the chain, and the scratch array of
     their memory blocks (gcdef_scratch_size entries, gcdef_mems in use). */
  gcdef_proc *gcdef_procs;
  gcdef_mem *gcdef_scratch;
  std::int32_t gcdef_mems;
  std::int32_t gcdef_scratch_size;

  /* Prolog flags read by the tokenizer: char_conversion (on or off) and
     double_quotes (codes, chars or atom). */
  TAGGED current_char_conversion;
  TAGGED current_double_quotes;

  /* The engine's thread, recorded at start-up (threads.cpp); main_thread
     means nothing while main_thread_set is 0. */
  pthread_t main_thread;
  int main_thread_set;
  /* The other Prolog flags (prolog_flags.cpp), each an atom: read and set
     by the library through one built-in per flag; the native readers are
     named where they read them.  The window title is an atom or 0 (none
     set). */
  TAGGED current_unknown;
  TAGGED current_syntax;
  TAGGED current_compiling;
  TAGGED current_quoted_charset_flag;
  TAGGED current_compatibility_flag;
  TAGGED current_ferror_flag;
  TAGGED current_single_var_flag;
  TAGGED current_redefine_flag;
  TAGGED current_discontiguous_flag;
  TAGGED current_informational_flag;
  TAGGED current_system_type_flag;
  TAGGED current_version_flag;
  TAGGED current_window_title;

  /* The stream layer (streams.h): current input and output, the registry's
     root, what user_input, user_output and user_error denote, the
     persistent null stream, the standard streams made at start-up, and the
     runtime's current directory (absolute, internal text, ending with /;
     owned by file_names.cpp, kept across re-initialisation). */
  vr_t_vrio_stream_node_ *input_stream_ptr;
  vr_t_vrio_stream_node_ *output_stream_ptr;
  vr_t_vrio_stream_node_ *root_stream_ptr;
  vr_t_vrio_stream_node_ *stream_user_input;
  vr_t_vrio_stream_node_ *stream_user_output;
  vr_t_vrio_stream_node_ *stream_user_error;
  vr_t_vrio_stream_node_ *persistent_null_stream;
  vr_t_vrio_stream_node_ *stream_user_input_orig;
  vr_t_vrio_stream_node_ *stream_user_output_orig;
  vr_t_vrio_stream_node_ *stream_user_error_orig;
  void *embedded_resources; /* files scanned for resource trailers (embedded_resources.h) */
  char *cwd_ienc;

  /* Start-up's record (startup.cpp): the program's arguments as set by
     VR_set_argv (copies of atom texts, internal encoding, owned here), the
     boot directory (ending in "bin/", owned here) and the caller's two
     parallel tables of statically linked resources, names and entry
     functions, each ending with a null name (the caller's storage, never
     freed here).  Set by vr_glue_initialize, released by VR_deinitialize;
     $argv/1 and $set_argv/1 read and write argv_ienc and argc, the
     embedded-resource lookup reads fli_pre_map. */
  struct persistent_record {
    char **argv_ienc;
    int argc;
    char *boot_path_ienc;
    char **fli_pre_map;
    void **fli_pre_linkage;
  } persistent;
};

extern engine_global eglobal_storage;
#define eglobal (&eglobal_storage)

/* The runtime's initialised flag: non-zero once start-up has finished. */
extern int VR_prolog_initialized;

#endif
