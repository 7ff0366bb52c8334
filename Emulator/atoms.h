/* atoms.h: the atom table.
 *
 * Every atom is a record in one process-wide table, named by a dense index
 * that the atom word carries ((index << 3) | 7).  Texts are found through a
 * linear-hashing directory; free index slots form a list threaded through
 * the index pages.  The first 236 atoms are predefined in a fixed order so
 * that native and stored code can use their words as constants.
 *
 * Implemented by atoms.cpp (table, classification, registration, atom
 * built-ins), atom_gc.cpp (the collector) and initial_atoms.cpp (the
 * predefined texts).  Engine thread only.
 */
#ifndef VOSTREL_ATOMS_H
#define VOSTREL_ATOMS_H

#include "termdefs.h"

struct worker;
struct instance;

struct atom {
  atom *next;              /* next atom in the same hash bucket */
  std::uint32_t hash;      /* 28-bit hash key of the text */
  std::uint32_t is_punctchars : 1;
  std::uint32_t is_symbolchars : 1;
  std::uint32_t is_ascii : 1;
  std::uint32_t needs_escaping : 1;
  std::uint32_t needs_quoting : 1;
  std::uint32_t marked : 1;
  std::uint32_t index : 25;
  std::uint8_t refcount;   /* registrations; non-zero: never collected */
  unsigned long length;    /* text length in bytes */
  char name[1];            /* internal encoding, zero-terminated */
};
static_assert(offsetof(atom, refcount) == 12 && offsetof(atom, length) == 16 &&
              offsetof(atom, name) == 20, "atom record: 21 + length bytes");
constexpr std::size_t atom_record_size(std::size_t length) { return 21 + length; }

constexpr unsigned ATOM_PAGE_SLOTS = 8192;
constexpr unsigned ATOM_PAGES = 128;
constexpr unsigned LINHASH_SEGMENT_SIZE = 512;
constexpr unsigned LINHASH_SEGMENTS = 512;
constexpr std::uint32_t MAX_ATOM_COUNT = 0xFFFFF;
/* Initial value of the atom garbage collection margin. */
constexpr std::uint32_t DEFAULT_AGC_MARGIN = 10000;

/* The linear-hashing directory. */
struct linhash_dir {
  std::uint32_t pop;       /* atoms in the table */
  std::uint32_t splits;    /* buckets of this round already split */
  std::uint32_t buckets;   /* buckets at the start of the round, a power of two */
  atom **segment[LINHASH_SEGMENTS];
};

/* ---- Interface (atoms.cpp, atom_gc.cpp, initial_atoms.cpp) ---- */
enum atom_sequence_number_enum : std::uint32_t;  /* full list in initial_atoms.h */
constexpr std::uint32_t first_unused_atom_number = 236;

void init_atoms(void);
/* Frees every record, index page and segment: the table is gone until the
   next init_atoms (shutdown and test fixtures). */
void deinit_atoms(void);
/* mode 0: find or create; 1: find only; 2: create, 0 when it exists. */
TAGGED init_atom_check(const char *text_ienc, int mode);
atom **linhash_location(std::uint32_t key);
std::uint32_t atom_hash_key(const char *text, std::size_t length);
void classify_atom(atom *a);
void reclassify_atoms(void);
void agc_atom(TAGGED t);
atom *atom_record(TAGGED t);            /* the record of an atom or functor word */
inline const char *atom_name(TAGGED t);
/* Removes an unreferenced atom from the directory and the index pages and
   frees its record (the collector's sweep). */
void atom_table_release(atom *a);

/* The interface error number of the last failed interface call. */
extern int vr_errno;
constexpr int VR_ERR_NOT_AN_ATOM = 11;
int VR_register_atom(TAGGED t);
int VR_unregister_atom(TAGGED t);
/* Creates the predefined atoms and the one-character atoms (start-up);
   1 on success, 0 when a predefined atom existed already. */
int init_atoms_once(void);

/* Numbered scratch buffers for atom and number texts. */
enum atom_buffer_id { BASE_ATOMBUF = 0, IENC_ATOMBUF = 1, SENC_ATOMBUF = 2,
                      PATH_ATOMBUF = 3, CWD_ATOMBUF = 4, ATOM_BUFFERS = 5 };
void atom_buffer_init(void);
void atom_buffer_remove(void);
/* Buffer `id`, grown to `size` bytes when shorter; its contents are kept. */
char *ensure_atom_buffers(unsigned id, unsigned size);

/* Atom garbage collection roots: each marker calls agc_atom on the words
   it keeps alive.  Later layers add their own. */
typedef void (*agc_root_marker)(worker *w);
void agc_add_root_marker(agc_root_marker fn);
void agc_remove_root_marker(agc_root_marker fn);
/* Reclaims dead clauses and predicates before a collection; null until the
   database installs it. */
extern void (*agc_reclaim_hook)(worker *w);
/* Marks the atoms of a stored term: the instance that a worker or global
   variable's non-constant value points to (its address plus 1), and the
   stored exception.  The predicate database, owner of the instance walker,
   installs it at start-up. */
extern void (*agc_instance_marker)(const instance *ins);
/* Marks every atom and functor word of words[0..count), skipping boxed
   numbers whole (heap layout). */
void agc_mark_heap_words(const TAGGED *start, const TAGGED *end);
void agc_mark_words(const TAGGED *start, const TAGGED *end);

int prolog_garbage_collect_atoms(worker *w);
int prolog_agc_margin(worker *w);
int prolog_atom_mode(worker *w);
int prolog_replace_suffix(worker *w);

inline const char *atom_name(TAGGED t) { return atom_record(t)->name; }

#endif
