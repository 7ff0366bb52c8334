/* predicates.h: predicate records, their look-up, entry instructions,
 * undefining and redefining, and dead-predicate reclamation.
 *
 * Every predicate (compiled, dynamic, foreign, a built-in entry or still
 * undefined) is one 56-byte `definition`, found by module and functor in
 * the module's `preds` table (modules.h).  Its first 24 bytes, the
 * `procedure`, are what the emulator reads at a call: the entry kind, the
 * arity, the continuation halfword that re-enters the predicate from a
 * saved environment (with frame_size as the halfword before it), the entry
 * handler and the code.  These layouts are read raw by the emulator and by
 * saved states.
 *
 * Invariants: a record is never freed while code may call it (undefining
 * keeps it with type ENTER_UNDEFINED); only atom garbage collection drops
 * an undefined, unreferenced, unlocked record that neither exports nor
 * imports.  Every change of a predicate's code or type goes through
 * update_exports, so importers never hold stale code.  Compiled code that
 * is replaced waits on the dead-predicate list until no continuation or
 * alternative on the control stack points into it.
 *
 * Callers: the emulator (entry), the compiler built-ins (bytecode_object.cpp),
 * dynamic clauses, start-up (built-in table), atom garbage collection.
 * Engine thread only.
 */
#ifndef VOSTREL_PREDICATES_H
#define VOSTREL_PREDICATES_H

#include <cstddef>
#include <cstdint>

#include "code_records.h"
#include "insn_table.h"
#include "termdefs.h"

struct worker;
struct sw_on_key;
struct mod_def;
struct instance;

/* Code of an FD_CONSTRAINT predicate: the kernel knows only its four
   indexical slots, each handed to the finite-domain library's destructor. */
struct fd_info {
  void *indexical[4];
};

/* Native built-in: nonzero succeeds, zero fails. */
typedef int (*c_predicate_fn)(worker *w);

/* Code of a compiled predicate: indexing.h. */
struct incore_info;

/* Code of a dynamic predicate (its clauses are instances). */
struct int_info {
  instance *first;
  instance *varcase;
  instance *lstcase;
  sw_on_key *indexer;
};
static_assert(sizeof(int_info) == 16);

union definfo {
  void *any;
  int_info *intinfo;
  incore_info *incoreinfo;
  fd_info *fdinfo;
  c_predicate_fn cinfo;
};
static_assert(sizeof(definfo) == 4);

/* properties word. */
constexpr std::uint32_t PROP_SPY = 1u << 0;
constexpr std::uint32_t PROP_DYNAMIC = 1u << 1;
constexpr std::uint32_t PROP_BLOCK = 1u << 2;
constexpr std::uint32_t PROP_META = 1u << 3;
constexpr std::uint32_t PROP_MULTIFILE = 1u << 4;
constexpr std::uint32_t PROP_VOLATYLE = 1u << 5;
constexpr std::uint32_t PROP_CUT = 1u << 6;
constexpr std::uint32_t PROP_HIDDEN = 1u << 7;
constexpr std::uint32_t PROP_MARKED = 1u << 8;
constexpr std::uint32_t PROP_LOCKED = 1u << 9;
constexpr unsigned PREDTYP_SHIFT = 10;
constexpr std::uint32_t PREDTYP_MASK = 0xFFFFu << PREDTYP_SHIFT;

struct procedure {
  std::uint16_t enter_instr;  /* entry kind in force (type, BREAKPOINT or BLOCKPOINT) */
  std::int16_t arity;
  std::int16_t frame_size;    /* 8 + 4 * arity: doubles as the continuation's env size */
  INSN continuation;          /* KONTINUE */
  void *emul_entry;           /* pred_tab[enter_instr] */
  definfo code;
  TAGGED printname;
  std::uint32_t properties;
};
static_assert(sizeof(procedure) == 24);
static_assert(offsetof(procedure, enter_instr) == 0 && offsetof(procedure, arity) == 2 &&
              offsetof(procedure, frame_size) == 4 && offsetof(procedure, continuation) == 6 &&
              offsetof(procedure, emul_entry) == 8 && offsetof(procedure, code) == 12 &&
              offsetof(procedure, printname) == 16 && offsetof(procedure, properties) == 20,
              "the emulator and saved states read the procedure record raw");

/* A chain of block declarations: one mask byte per declaration position,
   then 0; freed as 8 + mask length bytes (misc. space). */
struct block_info {
  block_info *next;
  unsigned char masks[4];     /* really mask length + 1 bytes */
};

struct definition {
  procedure proc;
  mod_def *module;          /* whose code this is (the exporter's, when imported) */
  mod_def *imported_from;   /* module named when imported; defined_in when local */
  mod_def *defined_in;      /* whose preds table holds this record */
  definition *exported_to;  /* next record importing this one */
  definition *next_public;  /* next in the module's export list; null when not exported */
  block_info *blockinfo;
  unsigned char *metainfo;  /* arity + 1 bytes (misc. space) */
  TAGGED filename;          /* defining file atom, [] when none */
};
static_assert(sizeof(definition) == 56, "atom garbage collection frees 56-byte records from bin 10");
static_assert(offsetof(definition, module) == 24 && offsetof(definition, imported_from) == 28 &&
              offsetof(definition, defined_in) == 32 && offsetof(definition, exported_to) == 36 &&
              offsetof(definition, next_public) == 40 && offsetof(definition, blockinfo) == 44 &&
              offsetof(definition, metainfo) == 48 && offsetof(definition, filename) == 52);
constexpr std::size_t DEFINITION_SIZE = sizeof(definition);

inline unsigned predtyp(const definition *d) { return (d->proc.properties & PREDTYP_MASK) >> PREDTYP_SHIFT; }
inline unsigned predtyp(const procedure *p) { return (p->properties & PREDTYP_MASK) >> PREDTYP_SHIFT; }
inline void set_predtyp(procedure *p, unsigned type)
{
  p->properties = (p->properties & ~PREDTYP_MASK) | ((type << PREDTYP_SHIFT) & PREDTYP_MASK);
}
/* Kinds 0-3 hold an incore_info. */
inline bool is_compiled_type(unsigned type) { return type <= ENTER_PROFILEDCODE_INDEXED; }
/* Kinds whose code is native (a C function, an emulator built-in, a
   structure accessor): only the built-in table and the attribute
   declarations make them, and nothing that loads Prolog code undefines
   them. */
inline bool is_native_type(unsigned type)
{
  return type == ENTER_C || (type >= BUILTIN_APPLY && type <= BUILTIN_DELETE_ATTRIBUTES) ||
         (type >= STRUCTS_GET_FUNCTOR && type <= STRUCTS_PUT_FLOAT_32);
}

/* A dead predicate's code, kept until reclamation finds nothing running
   in it.  module, printname and filename are [] for code of a type above
   3; atom garbage collection marks them while the record exists. */
struct gcdef_proc {
  std::uint32_t tag;        /* the type the dead code had */
  std::uint8_t marked;
  std::uint8_t pad1;
  std::int16_t arity;       /* -1 for a type above 3 */
  TAGGED module;            /* the module's name */
  TAGGED printname;
  TAGGED filename;
  definfo info;
  gcdef_proc *next;
};
static_assert(sizeof(gcdef_proc) == 28);

struct gcdef_mem {
  void *ptr;
  std::size_t size;
  gcdef_proc *proc;
};
static_assert(sizeof(gcdef_mem) == 12);

/* ---- Records and look-up (predicates.cpp) ---- */

void init_procedure(procedure *p, TAGGED name, int arity);
procedure *new_procedure(TAGGED name, int arity);
definition *new_definition(TAGGED name, int arity, mod_def *m);
/* Enters d in m's predicate table (growing it as due). */
void enter_definition(mod_def *m, definition *d);
/* insertp: 0 look up only; 1 create in m when missing; 2 also give m its
   own copy of a system predicate found in prolog. */
definition *insert_definition(mod_def *m, TAGGED name, int arity, int insertp);
definition *find_definition(mod_def *m, TAGGED goal, TAGGED **args, int insertp);
definition *parse_definition(TAGGED spec, mod_def *m);
definition *find_def_in_module(TAGGED head, TAGGED module);
/* The predicate table key of name/arity. */
inline TAGGED pred_key(TAGGED name, int arity)
{
  return (name & ~(0xFFu << 23)) | (static_cast<TAGGED>(arity) << 23);
}

/* Raw definition addresses handed to Prolog as address + 3 (a small
   integer word).  Prolog code may pass back any word, so the database
   answers only for records it made and still holds: null for anything
   else. */
inline TAGGED definition_word(const definition *d) { return reinterpret_cast<TAGGED>(d) + 3; }
definition *definition_of_word(TAGGED word);
/* Whether d is a live record of some module's predicate table. */
bool is_live_definition(const definition *d);

/* The meta-argument description shared by every call/N: {1, 0}.  Never
   freed, so whoever frees a record's metainfo must skip it. */
extern unsigned char call_n_metainfo[2];

/* ---- Entry instructions ---- */

void set_enter_instr_breakpointing(procedure *f, int breakpoint);
void set_enter_instr(definition *f, int type);
void update_exports(definition *f, int type);

/* ---- Defining, importing, undefining ---- */

void init_interpreted(definition *f);
void redefine_predicate(definition *f, int type);
void import_predicate(definition *d1, mod_def *mf, definition *d2);
definition *last_export(definition *d);
void undefine_predicate(definition *f);
/* Undefines every predicate of m but the system predicates it shares with
   prolog and m's own predicates of a native kind; forgets m's file and
   export list. */
void undefine_all(mod_def *m, int clean_spypoints);

/* Dynamic clauses install the disposal of a dynamic predicate's code;
   while null, only an int_info without clauses can be disposed of (its
   indexer and itself are freed). */
extern void (*abolish_interpreted_hook)(definition *f);
/* The finite-domain library's destructor for one indexical slot. */
extern void (*fd_destructor_hook)(void *slot);

/* ---- Dead predicates ---- */

/* A reaper receives each block of a predicate's code: address, size in
   bytes, statistics bin. */
typedef void (*code_reaper)(void *block, std::size_t size, int bin);
void free_reaper(void *block, std::size_t size, int bin);
void noop_reaper(void *block, std::size_t size, int bin);
int scan_try(INSN **chain, code_reaper reaper);
int scan_emulinfo(emul_info *clause, code_reaper reaper);
int scan_incoreinfo(incore_info *info, code_reaper reaper);
int scan_info(unsigned type, definfo info, code_reaper reaper);

void leave_to_gc(int type, definition *f);
/* Visits every code address that running code may return to or retry:
   each choicepoint's alternative and each environment's continuation (an
   escape environment of $resume giving its interrupted address). */
void walk_control_stack(worker *w, void (*visit)(const void *addr, void *arg), void *arg);
void reclaim_dead_predicates(worker *w);

/* Whether a clause reference (address + 3) names a compiled clause record
   that no predicate and no dead-code record holds, so that it may be freed
   at once. */
emul_info *free_clause_of_word(TAGGED word);

/* ---- Start-up and shutdown ---- */

/* Installs the hooks of the lower layers (call/N, live registers, memory
   manager, atom garbage collection).  Idempotent. */
void predicates_install_hooks(void);
void predicates_remove_hooks(void);
/* Frees the live-definition registry (after every record is gone). */
void predicates_free_registry(void);

#endif
