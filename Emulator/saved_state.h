/* saved_state.h: the saved-state format, its writer, its reader and the
 * walks that relocate stored code.
 *
 * A saved state is a shell-script text header ending with the line
 * "version=3 archmask=0x...", a stream of 28-byte records (a tag word and
 * six body words) with payloads, and a text trailer.  Memory objects are
 * named by relocation keys (the saver's addresses, atom words with the
 * arity bits cleared) that earlier records define; the reader maps every
 * key through one table that lives for one run.  The format is fixed byte
 * for byte: the constants below are part of it.
 *
 * Invariants the reader keeps beyond the plain format (a state is input
 * from outside): a state must end with sr_eof, every key a record uses
 * must be defined, every size must stay inside what it describes; any
 * breach is an error, never a partial restore reported as success.
 *
 * Callers: the built-ins $save/3, $save_doit/7, $save_increment/5,
 * $restore/2, $restore_increment/2 (pred_table.cpp); start-up calls
 * prolog_restore directly with X(0) the file and X(1) the context term;
 * atom garbage collection walks clause code with scan_code.  Engine thread
 * only.
 */
#ifndef VOSTREL_SAVED_STATE_H
#define VOSTREL_SAVED_STATE_H

#include <cstdint>
#include <vector>

#include "code_records.h"
#include "insn_table.h"
#include "termdefs.h"

struct worker;
struct instance;
struct definition;
struct mod_def;
struct sw_on_key;
typedef struct vr_t_vrio_stream_node_ VR_stream;

/* ---- Records ---- */

enum saverest_tag : std::uint32_t {
  sr_rel_atom = 0, sr_rel_module = 1, sr_rel_pred = 2, sr_data_module = 3, sr_data_public = 4,
  sr_data_block = 5, sr_data_filename = 6, sr_data_bb = 7, sr_data_key = 8, sr_data_pred = 9,
  sr_data_import = 10, sr_data_instance = 11, sr_data_emul = 12, sr_data_fd = 13,
  sr_data_flag = 14, sr_undefine_module = 15, sr_eof = 16
};
constexpr std::uint32_t SR_TAG_LAST = sr_eof;

struct saverest_record {
  std::uint32_t tag;
  std::uint32_t body[6];
};
static_assert(sizeof(saverest_record) == 28, "the record is 28 bytes in the file");

/* sr_rel_atom reloc values. */
constexpr std::uint32_t SR_RELOC_LIBRARY = 1, SR_RELOC_DIR = 2, SR_RELOC_WHOLE = 3;
/* sr_data_pred props bits. */
constexpr std::uint32_t SR_PROP_DYNAMIC = 1, SR_PROP_BLOCK = 2, SR_PROP_META = 4,
                        SR_PROP_MULTIFILE = 8, SR_PROP_HIDDEN = 16, SR_PROP_VOLATILE = 32;
/* Words of the sr_data_flag payload. */
constexpr unsigned SR_FLAG_WORDS = 15;
/* Bytes before an instance's code in sr_data_bb and sr_data_instance. */
constexpr unsigned SR_INSTANCE_PREFIX = 8;
/* Keys below this (atoms 0 to 8) are never defined by a record. */
constexpr std::uint32_t SR_FIXED_ATOM_KEYS = 72;
/* An atom or functor word's key: the arity bits cleared. */
constexpr std::uint32_t SR_ATOM_KEY_MASK = 0x807FFFFF;

/* ---- The architecture mask ---- */

constexpr std::uint32_t ARCH_WORDSIZE_MASK = 0x3, ARCH_WORDSIZE_32 = 2, ARCH_WORDSIZE_64 = 3;
constexpr std::uint32_t ARCH_BIGENDIAN = 1u << 2;
constexpr std::uint32_t ARCH_BDD = 1u << 3;
constexpr std::uint32_t ARCH_GAUGE = 1u << 4;
constexpr unsigned ARCH_THREADED_SHIFT = 5;
constexpr std::uint32_t ARCH_THREADED_MASK = 0x1Fu << ARCH_THREADED_SHIFT;
constexpr unsigned ARCH_TOTAL_SHIFT = 10;
constexpr std::uint32_t ARCH_TOTAL_MASK = 0x3u << ARCH_TOTAL_SHIFT;
constexpr unsigned ARCH_XOFFSET_SHIFT = 12;
constexpr std::uint32_t ARCH_XOFFSET_MASK = 0xFFu << ARCH_XOFFSET_SHIFT;

/* What a state holds (the total field). */
enum save_total : std::uint32_t { TOTAL_SELECTED = 0, TOTAL_ALL_BUT_PROLOG = 2, TOTAL_ALL = 3 };

inline constexpr std::uint32_t arch_total(std::uint32_t mask) { return (mask & ARCH_TOTAL_MASK) >> ARCH_TOTAL_SHIFT; }
inline constexpr std::uint32_t arch_threaded(std::uint32_t mask) { return (mask & ARCH_THREADED_MASK) >> ARCH_THREADED_SHIFT; }
inline constexpr std::uint32_t arch_xoffset(std::uint32_t mask) { return (mask & ARCH_XOFFSET_MASK) >> ARCH_XOFFSET_SHIFT; }

/* This system: 32-bit little-endian words, decision diagrams and gauge
   support, opcodes 8 times the instruction number, X0 at word 45 of the
   worker. */
constexpr std::uint32_t THIS_XOFFSET = 45;
static_assert(x_operand(0) == 4 * THIS_XOFFSET, "X operands are byte offsets in the worker");
constexpr std::uint32_t THIS_ARCH_MASK = ARCH_WORDSIZE_32 | ARCH_BDD | ARCH_GAUGE |
                                         (2u << ARCH_THREADED_SHIFT) | (THIS_XOFFSET << ARCH_XOFFSET_SHIFT);
static_assert(THIS_ARCH_MASK == 0x2D05A);
constexpr std::uint32_t this_arch_mask(std::uint32_t total) { return THIS_ARCH_MASK | (total << ARCH_TOTAL_SHIFT); }
static_assert(this_arch_mask(TOTAL_ALL_BUT_PROLOG) == 0x2D85A && this_arch_mask(TOTAL_ALL) == 0x2DC5A);

/* ---- One run ---- */

struct saverest_info {
  VR_stream *stream;
  char *library_path;          /* VR_malloc'd, or null when no library directory is known */
  std::size_t library_path_len;
  char *dir_path;              /* VR_malloc'd */
  std::size_t dir_path_len;
  sw_on_key *hash;             /* writer: keys written; reader: key -> new value */
  TAGGED filename;             /* writer: the file name atom, registered */
  std::uint32_t savemask;
  std::uint32_t restoremask;
  TAGGED filter;               /* multifile filter: 0 not computed, [] none, else a list */
  std::int32_t write_error;
  void *fd_saver;
  void *fd_restorer;
  int diffendian;
  std::int64_t start_offset;
  std::int64_t bytes_done;     /* bytes written or read so far */
  /* Reader only. */
  std::int32_t error;          /* the first fault met inside the records */
  void *pending;               /* database references to instances defined later */
  char message[256];           /* what went wrong, for the error raised */
};

/* ---- Relocation walks ---- */

/* A walk's callback: the operand's location, its value, the run and a kind
   (1 atom or functor, 2 predicate); returns the value to store (restore
   mode) or the value unchanged. */
typedef TAGGED (*reloc_fn)(void *location, TAGGED value, saverest_info *info, int kind);
constexpr int RELOC_ATOM = 1, RELOC_PRED = 2;

/* Walks a compiled clause.  displacement: new address minus saved address
   in bytes (0 in save mode); saved_failcode: the saver's fail code.
   Restore mode (callback restore_rel) rewrites the code for this system;
   any other callback only visits.  Returns 0, or -1 when the code does
   not decode (unknown opcode, an operand past the clause's end, a block
   whose links do not hold, a native function operand). */
int relocate_emul_data(emul_info *clause, std::int32_t displacement, std::uint32_t saved_failcode,
                       reloc_fn callback, std::uint32_t savemask, std::uint32_t restoremask,
                       saverest_info *info);
/* Walks a clause of this system with a visiting callback. */
int scan_code(emul_info *clause, reloc_fn callback);
/* Walks n image words of an instance (restore mode with restore_rel; save
   mode with info non-null and save_rel; else visit only); -1 when the
   image does not decode or (restore) a reference cannot be resolved. */
int relocate_instance_words(TAGGED *words, std::uint32_t n, reloc_fn callback, saverest_info *info);
int relocate_instance(instance *ins, reloc_fn callback, saverest_info *info);

TAGGED restore_rel(void *location, TAGGED value, saverest_info *info, int kind);
TAGGED save_rel(void *location, TAGGED value, saverest_info *info, int kind);

/* Writer hooks the instance walk calls in save mode: whether the instance
   was written already, and writing its whole predicate first. */
bool save_instance_known(saverest_info *info, const instance *ins);
void save_instance_owner(saverest_info *info, instance *ins);
/* Reader hook for database references: the new instance of a saved key,
   or null (then the reference is resolved at the end of the run). */
instance *restore_instance_ref(saverest_info *info, std::uint32_t key, TAGGED *at);

/* ---- Reader ---- */

int restore_init(const char *file, saverest_info **pinfo, std::uint32_t *kind, TAGGED goal, int argno);
int restore_common(saverest_info *info, definition **culprit);
void restore_deinit(saverest_info *info, int abortive);
int open_bootfile_stream(const char *name, VR_stream **ps);
/* The multifile filter: the file atoms of the first clause of the dynamic
   '$save':type(files(Files)), registered (the caller unregisters them);
   false when there is none. */
bool multifile_filter_files(worker *w, std::vector<TAGGED> *files);
/* The description of a mask ("32-bit,BDD,GAUGE,ALL,"), at most 78
   characters, into buf. */
void describe_arch_mask(std::uint32_t mask, char *buf, std::size_t size);

/* ---- The finite-domain library's hooks ---- */

typedef int (*fd_manager_fn)(void *cookie, worker *w, int message, void *pointer);
typedef int (*fd_restore_fn)(void *cookie, saverest_record *rec, int (*read)(void *, std::size_t, saverest_info *),
                             saverest_info *info);
typedef int (*fd_save_fn)(void *cookie, saverest_record *rec, definition *d,
                          int (*write)(const void *, std::size_t, saverest_info *), saverest_info *info);
typedef void (*fd_destructor_fn)(void *cookie, void *indexical);
void init_fd_hooks(void);
bool vr_fd_ever_loaded(void);
int VR_install_fd_hooks(void *cookie, fd_manager_fn manager, fd_restore_fn restore, fd_save_fn save,
                        fd_destructor_fn destructor, int install);
void call_fd_destructor(void *indexical);
/* The library's cookie and its save and restore hooks, null until it
   installs them. */
void *vr_fd_cookie(void);
fd_save_fn vr_fd_save_hook(void);
fd_restore_fn vr_fd_restore_hook(void);
/* Runs load_clpfd_resource/0 or unload_clpfd_resource/0 once: 0 or -10501. */
int load_clpfd_resource(worker *w);
int unload_clpfd_resource(worker *w);

/* ---- Built-ins ---- */

int prolog_save(worker *w);              /* $save/3 */
int prolog_save_doit(worker *w);         /* $save_doit/7 */
int prolog_save_increment(worker *w);    /* $save_increment/5 */
int prolog_restore(worker *w);           /* $restore/2 */
int prolog_restore_increment(worker *w); /* $restore_increment/2 */
int prolog_state_resources(worker *w);   /* $state_resources/2 */

#endif
