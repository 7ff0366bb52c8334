/* saved_state_reader.cpp: loading a saved state into the running system
 * ($restore/2, $restore_increment/2, and start-up through prolog_restore).
 *
 * The header is checked first (version line, architecture mask); the
 * records are then replayed through one relocation table from the saver's
 * keys to this process's atoms, modules, predicates and instances.  Atoms
 * and predicates entered in the table are pinned (a registration, the
 * locked bit) until the run ends, normally or not.
 *
 * A state comes from outside, so every record is checked before it
 * changes anything it names: sizes against their records, keys against
 * the table (an undefined key is an error), kinds against what the
 * predicate is (a record never redefines a native built-in), clause code
 * against the instruction table and the clause verifier, stored terms
 * against their own extent.  A state must end with sr_eof.  Any fault ends
 * the replay with an error that names it; the run never reports success
 * for a state it did not read to its end.
 */
#include "saved_state.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "atoms.h"
#include "attributes.h"
#include "datadefs.h"
#include "dynamic_clauses.h"
#include "errors.h"
#include "file_names.h"
#include "fli.h"
#include "indexing.h"
#include "instance.h"
#include "memman.h"
#include "modules.h"
#include "predicates.h"
#include "preds.h"
#include "prolog_flags.h"
#include "stack_growth.h"
#include "streams.h"
#include "sw_on_key.h"
#include "terms.h"
#include "verifier.h"
#include "wamsup.h"
#include "worker.h"
#include "vostrel/vrio_props.h"

namespace {

/* ---- The relocation table ---- */

enum class rk : std::uint8_t { atom, module, pred, pred_was_locked, inst, bb_inst };
struct rentry {
  std::uintptr_t value;
  rk kind;
};
struct reloc_table {
  std::unordered_map<std::uint32_t, rentry> map;
  /* Database references to instances defined later in the state. */
  struct pending_ref {
    TAGGED *at;
    std::uint32_t key;
  };
  std::vector<pending_ref> pending;
  std::vector<TAGGED> filter_atoms;
  bool filter_known = false;
  /* What this run defined: a state defines each predicate and each
     blackboard entry once, and replaces modules before it defines
     anything.  Holding to that, nothing the run made is freed by a later
     record of the same run, so no key and no pending reference can name
     freed memory. */
  std::unordered_map<const definition *, bool> defined;
  std::unordered_map<std::uint64_t, bool> bb_defined;
  bool data_seen = false;
};

reloc_table &table_of(saverest_info *info) { return *static_cast<reloc_table *>(info->pending); }

int fault(saverest_info *info, const char *what, std::uint32_t key = 0, bool with_key = false)
{
  if (info->error == 0) {
    info->error = VRIO_E_PARAMETER_ERROR;
    if (with_key)
      std::snprintf(info->message, sizeof info->message, "%s, key=0x%lx", what, static_cast<unsigned long>(key));
    else
      std::snprintf(info->message, sizeof info->message, "%s", what);
  }
  return info->error;
}

bool enter(saverest_info *info, std::uint32_t key, std::uintptr_t value, rk kind)
{
  auto [it, fresh] = table_of(info).map.try_emplace(key, rentry{value, kind});
  if (!fresh) {
    fault(info, "relocation redefined", key, true);
    return false;
  }
  if (kind == rk::atom) {
    VR_register_atom(static_cast<TAGGED>(value));
  } else if (kind == rk::pred) {
    auto *d = reinterpret_cast<definition *>(value);
    if (d->proc.properties & PROP_LOCKED)
      it->second.kind = rk::pred_was_locked;
    else
      d->proc.properties |= PROP_LOCKED;
  }
  return true;
}

const rentry *find(saverest_info *info, std::uint32_t key)
{
  auto &m = table_of(info).map;
  auto it = m.find(key);
  return it == m.end() ? nullptr : &it->second;
}

bool atom_key(std::uint32_t w) { return (w & 7) == 7 && static_cast<std::int32_t>(w) >= 0; }

/* Frees an instance this run made (its key leaves the table, its pending
   references are dropped). */
void discard_instance(saverest_info *info, instance *ins, std::uint32_t key)
{
  reloc_table &t = table_of(info);
  if (key != 0)
    t.map.erase(key);
  const TAGGED *lo = ins->code, *hi = ins->code + instance_words(ins);
  std::erase_if(t.pending, [&](const reloc_table::pending_ref &p) { return p.at >= lo && p.at < hi; });
  free_instance(ins);
}

/* Marks a predicate as defined by this run; false (a fault) the second time. */
bool define_once(saverest_info *info, const definition *d, std::uint32_t key)
{
  if (!table_of(info).defined.try_emplace(d, true).second) {
    fault(info, "a predicate defined twice", key, true);
    return false;
  }
  return true;
}

/* The new word of an atom or functor word (0 after a fault). */
TAGGED map_atom(saverest_info *info, TAGGED w)
{
  if (!atom_key(w)) {
    fault(info, "not an atom key", w, true);
    return 0;
  }
  const std::uint32_t key = w & SR_ATOM_KEY_MASK;
  if (key < SR_FIXED_ATOM_KEYS)
    return w;
  const rentry *e = find(info, key);
  if (e == nullptr || e->kind != rk::atom) {
    fault(info, "relocation undefined", key, true);
    return 0;
  }
  return static_cast<TAGGED>(e->value) | (w & ~SR_ATOM_KEY_MASK);
}

mod_def *map_module(saverest_info *info, std::uint32_t key)
{
  const rentry *e = find(info, key);
  if (e == nullptr || e->kind != rk::module) {
    fault(info, "relocation undefined (module)", key, true);
    return nullptr;
  }
  return reinterpret_cast<mod_def *>(e->value);
}

definition *map_pred(saverest_info *info, std::uint32_t key)
{
  const rentry *e = find(info, key);
  if (e == nullptr || (e->kind != rk::pred && e->kind != rk::pred_was_locked)) {
    fault(info, "relocation undefined (predicate)", key, true);
    return nullptr;
  }
  return reinterpret_cast<definition *>(e->value);
}

/* ---- Reading ---- */

/* Reads n bytes: 0, VRIO_E_END_OF_FILE before n, or another error. */
int read_bytes(saverest_info *info, void *buf, std::size_t n)
{
  auto *out = static_cast<unsigned char *>(buf);
  VR_stream *s = info->stream;
  while (n > 0) {
    vr_t_stream_buf_info_binary &in = s->pub.input_binary;
    if (in.ptr < in.limit) {
      std::size_t k = static_cast<std::size_t>(in.limit - in.ptr);
      if (k > n)
        k = n;
      std::memcpy(out, in.ptr, k);
      in.ptr += k;
      out += k;
      n -= k;
      info->bytes_done += static_cast<std::int64_t>(k);
      continue;
    }
    const int c = vr_get_byte_helper(s, 0);
    if (c < 0)
      return c == -1 ? VRIO_E_END_OF_FILE : c;
    *out++ = static_cast<unsigned char>(c);
    n--;
    info->bytes_done++;
  }
  return 0;
}

int read_longs(saverest_info *info, void *buf, std::size_t n)
{
  const int rc = read_bytes(info, buf, n);
  if (rc == 0 && info->diffendian && n != 1) {
    auto *w = static_cast<std::uint32_t *>(buf);
    for (std::size_t i = 0; i < n / 4; i++)
      w[i] = __builtin_bswap32(w[i]);
  }
  return rc;
}

int read_payload(saverest_info *info, void *buf, std::size_t n, bool words)
{
  const int rc = words ? read_longs(info, buf, n) : read_bytes(info, buf, n);
  if (rc == VRIO_E_END_OF_FILE)
    return fault(info, "saved state truncated inside a record");
  if (rc < 0 && info->error == 0) {
    info->error = rc;
    std::snprintf(info->message, sizeof info->message, "read error");
  }
  return rc;
}

/* ---- Records ---- */

void wipe_module(mod_def *m)
{
  m->attr_no = 0;
  bb_remove(m);
  undefine_all(m, 1);
}

/* The multifile filter of this run, read on first use. */
const std::vector<TAGGED> *filter_of(saverest_info *info, worker *w)
{
  reloc_table &t = table_of(info);
  if (!t.filter_known) {
    t.filter_known = true;
    multifile_filter_files(w, &t.filter_atoms);
  }
  return t.filter_atoms.empty() ? nullptr : &t.filter_atoms;
}

/* The first-argument key of a stored clause, from its image: the image is
   checked to stay inside itself first. */
bool image_sound(const TAGGED *code, std::uint32_t n)
{
  if (n < 2)
    return false;
  /* Words inside boxed numbers (payload and trailer) are not cells: no
     pointer may name one. */
  std::vector<bool> inside(n, false);
  for (std::uint32_t i = 0; i < n; i++) {
    const TAGGED w = code[i];
    if ((w & 7) == 7 && IsBoxHeader(w)) {
      const unsigned box = BoxWords(w);
      if (box < 2 || n - i < box + 1 || code[i + box] != w)
        return false;
      for (unsigned k = 1; k <= box; k++)
        inside[i + k] = true;
      i += box;
    }
  }
  auto cell = [&](std::uint32_t at) { return at < n && !inside[at]; };
  for (std::uint32_t i = 0; i < n; i++) {
    const TAGGED w = code[i];
    if (inside[i])
      continue;
    const std::uint32_t at = (w & ~3u) / 4;
    switch (w & 3) {
    case 0: /* reference: a cell of the image */
      if (!cell(at))
        return false;
      break;
    case 1: { /* structure: a functor with its arguments, or a boxed number */
      if (!cell(at))
        return false;
      const TAGGED f = code[at];
      if ((f & 7) == 7 && IsBoxHeader(f))
        break;
      if (!((f & 7) == 7 && static_cast<std::int32_t>(f) >= 0 && Arity(f) > 0 && n - at > Arity(f)))
        return false;
      for (unsigned k = 1; k <= Arity(f); k++)
        if (!cell(at + k))
          return false;
      break;
    }
    case 2: /* list cell */
      if (!cell(at) || !cell(at + 1))
        return false;
      break;
    default:
      break;
    }
  }
  return true;
}

TAGGED image_key(const TAGGED *code, std::uint32_t n)
{
  TAGGED head = code[n - 2];
  for (int guard = 0; (head & 3) == 0 && guard < 64; guard++) {
    const TAGGED next = code[(head & ~3u) / 4];
    if (next == head)
      return 0;
    head = next;
  }
  if ((head & 3) != 1)
    return 0;
  const std::uint32_t at = (head & ~3u) / 4;
  if (IsBoxHeader(code[at]) || Arity(code[at]) == 0)
    return 0;
  TAGGED arg = code[at + 1];
  for (int guard = 0; (arg & 3) == 0 && guard < 64; guard++) {
    const TAGGED next = code[(arg & ~3u) / 4];
    if (next == arg)
      return 0;
    arg = next;
  }
  switch (arg & 3) {
  case 0:
    return 0;
  case 1:
    return code[(arg & ~3u) / 4];
  case 2:
    return functor_list;
  default:
    return arg;
  }
}

/* Reads a stored term of `size` code bytes after its 8-byte prefix. */
instance *read_instance(saverest_info *info, std::uint32_t size, TAGGED file, rk kind, std::uint32_t *pkey = nullptr)
{
  if (size % 4 != 0 || size < 8 || size > (1u << 28))
    return fault(info, "bad instance size"), nullptr;
  std::uint32_t prefix[2];
  if (read_payload(info, prefix, sizeof prefix, true) < 0)
    return nullptr;
  const std::size_t bytes = INSTANCE_HEADER_BYTES + size;
  auto *ins = static_cast<instance *>(checkalloc(bytes, mm_code(MM_BIN_INSTANCE)));
  std::memset(ins, 0, INSTANCE_HEADER_BYTES);
  ins->objsize = static_cast<std::uint32_t>(bytes);
  ins->extra = file;
  ins->death = INSTANCE_ALIVE;
  ins->rank = MakeSmall_checked(0);
  const std::uint32_t n = size / 4;
  if (read_payload(info, ins->code, size, true) < 0 || !image_sound(ins->code, n) ||
      static_cast<std::int32_t>(prefix[1]) < 0 || prefix[1] > n / 4) {
    fault(info, "bad stored term");
    free_instance(ins);
    return nullptr;
  }
  ins->bdd_count = static_cast<std::int32_t>(prefix[1]);
  if (prefix[0] == 0 || !enter(info, prefix[0], reinterpret_cast<std::uintptr_t>(ins), kind)) {
    fault(info, "bad instance key", prefix[0], true);
    free_instance(ins);
    return nullptr;
  }
  if (relocate_instance(ins, restore_rel, info) < 0) {
    fault(info, "bad stored term");
    discard_instance(info, ins, prefix[0]);
    return nullptr;
  }
  ins->key = image_key(ins->code, n);
  if (pkey != nullptr)
    *pkey = prefix[0];
  return ins;
}

/* The kind a predicate record gives, and whether two kinds agree for a
   multifile merge. */
unsigned new_kind(std::uint32_t type) { return type < 4 ? (type & ~1u) : static_cast<unsigned>(ENTER_INTERPRETED); }
bool kinds_agree(unsigned in_memory, std::uint32_t saved)
{
  if (in_memory == static_cast<unsigned>(ENTER_INTERPRETED) || saved == static_cast<unsigned>(ENTER_INTERPRETED))
    return in_memory == saved;
  return in_memory <= 5 && saved <= 5 && (in_memory & ~1u) == (saved & ~1u);
}

int do_pred(saverest_info *info, worker *w, const saverest_record &r, definition **culprit)
{
  definition *d = map_pred(info, r.body[0]);
  if (d == nullptr)
    return info->error;
  const std::uint32_t props = r.body[1], saved_type = r.body[2];
  if (is_native_type(predtyp(d)) || d->defined_in == nullptr || d->metainfo == call_n_metainfo)
    return fault(info, "a record would redefine a built-in predicate", r.body[0], true);
  if (!define_once(info, d, r.body[0]))
    return info->error;
  if (d->module != d->defined_in && d->defined_in != eglobal->prolog_module && d->module == eglobal->prolog_module)
    return fault(info, "a record would redefine a system predicate", r.body[0], true);
  /* Only a whole-system state carries module prolog's code; a program or
     a selection brings at most its dynamic predicates. */
  if (d->defined_in == eglobal->prolog_module && arch_total(info->savemask) != TOTAL_ALL &&
      (!(props & SR_PROP_DYNAMIC) || !(predtyp(d) == ENTER_INTERPRETED || predtyp(d) == ENTER_UNDEFINED)))
    return fault(info, "a program state would redefine a system predicate", r.body[0], true);
  const std::vector<TAGGED> *filter = filter_of(info, w);
  bool merge = filter != nullptr && (d->proc.properties & PROP_MULTIFILE) && (props & SR_PROP_MULTIFILE);
  if (!merge) {
    undefine_predicate(d);
    redefine_predicate(d, static_cast<int>(new_kind(saved_type)));
    const std::uint32_t keep = d->proc.properties & ~(PROP_DYNAMIC | PROP_BLOCK | PROP_META | PROP_MULTIFILE |
                                                      PROP_HIDDEN | PROP_VOLATYLE);
    d->proc.properties = keep | ((props & SR_PROP_DYNAMIC) ? PROP_DYNAMIC : 0) |
                         ((props & SR_PROP_BLOCK) ? PROP_BLOCK : 0) | ((props & SR_PROP_META) ? PROP_META : 0) |
                         ((props & SR_PROP_MULTIFILE) ? PROP_MULTIFILE : 0) |
                         ((props & SR_PROP_HIDDEN) ? PROP_HIDDEN : 0) |
                         ((props & SR_PROP_VOLATILE) ? PROP_VOLATYLE : 0);
  } else if (kinds_agree(predtyp(d), saved_type)) {
    TAGGED files = atom_nil;
    /* The filter's atoms as a list on the heap, for the database's call. */
    if (w->heap_warn - w->global_top < static_cast<std::ptrdiff_t>(2 * filter->size() + 64))
      call_overflow(w, static_cast<int>(8 * filter->size() + 256), 0);
    TAGGED *const mark = w->global_top;
    TAGGED *h = mark;
    for (std::size_t i = filter->size(); i-- > 0;) {
      h[0] = (*filter)[i];
      h[1] = files;
      files = MakeLST(h);
      h += 2;
    }
    w->global_top = h;
    if (predtyp(d) == ENTER_INTERPRETED)
      multifile_retractall(d, files);
    else
      multifile_retractall_compiled(d, files);
    w->global_top = mark;
  } else if (*culprit == nullptr) {
    *culprit = d;
  }
  if (props & SR_PROP_META) {
    const std::size_t n = static_cast<std::size_t>(d->proc.arity) + 1;
    auto *mask = static_cast<unsigned char *>(checkalloc(n, mm_code(MM_BIN_MISC)));
    if (read_payload(info, mask, n, false) < 0) {
      checkdealloc(mask, n, mm_code(MM_BIN_MISC));
      return info->error;
    }
    if (d == *culprit || !(d->proc.properties & PROP_META)) {
      checkdealloc(mask, n, mm_code(MM_BIN_MISC));
    } else {
      if (d->metainfo != nullptr && d->metainfo != call_n_metainfo)
        checkdealloc(d->metainfo, n, mm_code(MM_BIN_MISC));
      d->metainfo = mask;
    }
  }
  if (d != *culprit)
    update_exports(d, static_cast<int>(predtyp(d)));
  return 0;
}

void clear_exports(mod_def *m)
{
  for (definition *d = m->public_lst; d != nullptr && d != PUBLIC_END;) {
    definition *next = d->next_public;
    d->next_public = nullptr;
    d = next;
  }
  m->public_lst = PUBLIC_END;
}

int do_emul(saverest_info *info, const saverest_record &r, definition **culprit)
{
  definition *d = map_pred(info, r.body[0]);
  if (d == nullptr)
    return info->error;
  const std::uint32_t ix_objsize = r.body[1], saved_end = r.body[2], saved_fail = r.body[3];
  const std::uint32_t objsize = ix_objsize >> 9, size = r.body[5];
  if (objsize < EMUL_INFO_HEADER + 2 || objsize % 2 != 0 || size != objsize - EMUL_INFO_HEADER)
    return fault(info, "bad clause size");
  const TAGGED file = r.body[4] == atom_nil ? atom_nil : map_atom(info, r.body[4]);
  if (file == 0)
    return info->error;
  auto *c = static_cast<emul_info *>(checkalloc(objsize, mm_code(MM_BIN_EMUL_INFO)));
  c->next = nullptr;
  c->elsecode = failcode;
  c->ix_objsize = ix_objsize;
  c->filename = file;
  auto discard = [&]() { checkdealloc(c, objsize, mm_code(MM_BIN_EMUL_INFO)); };
  if (read_payload(info, c->emulcode, size, false) < 0) {
    discard();
    return info->error;
  }
  const std::uint32_t new_end = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(c)) + objsize;
  if (relocate_emul_data(c, static_cast<std::int32_t>(new_end - saved_end), saved_fail, restore_rel,
                         info->savemask, info->restoremask, info) < 0) {
    discard();
    return info->error != 0 ? info->error : fault(info, "clause code does not decode");
  }
  if (d == *culprit) {
    discard();
    return 0;
  }
  if (!table_of(info).defined.count(d)) {
    discard();
    return fault(info, "a clause for a predicate the state did not define", r.body[0], true);
  }
  std::string why;
  if (!is_compiled_type(predtyp(d)) || !verify_clause(c, d->proc.arity, &why)) {
    discard();
    return fault(info, why.empty() ? "a clause for a predicate that is not compiled" : "clause does not verify");
  }
  insert_compactcode(d, c, static_cast<int>(emul_ix(c)), key_of_clause(c));
  return 0;
}

/* The read function the finite-domain restore hook is given: 1 when the
   n bytes (whole words) were read. */
int fd_read(void *buf, std::size_t n, saverest_info *info) { return read_payload(info, buf, n, true) == 0 ? 1 : 0; }

/* One indexical: the state must have defined its predicate as an FD
   predicate, which do_pred left as empty dynamic code; that becomes
   undefined for the library, which makes it an FD predicate again. */
int do_fd(saverest_info *info, worker *w, const saverest_record &r)
{
  definition *d = map_pred(info, r.body[0]);
  if (d == nullptr)
    return info->error;
  if (!table_of(info).defined.count(d))
    return fault(info, "indexicals for a predicate the state did not define", r.body[0], true);
  if (info->fd_restorer == nullptr) {
    if (vr_fd_restore_hook() == nullptr && load_clpfd_resource(w) < 0) {
      info->error = VRIO_E_FILE_NOT_FOUND;
      std::snprintf(info->message, sizeof info->message, "the finite-domain library is not available");
      return info->error;
    }
    info->fd_restorer = reinterpret_cast<void *>(vr_fd_restore_hook());
    if (info->fd_restorer == nullptr)
      return fault(info, "the finite-domain library gave no restore hook");
  }
  if (predtyp(d) == ENTER_INTERPRETED) {
    int_info *ii = d->proc.code.intinfo;
    if ((d->proc.properties & PROP_DYNAMIC) || (ii != nullptr && ii->first != nullptr))
      return fault(info, "indexicals for a dynamic predicate", r.body[0], true);
    /* Only the empty clause table goes: file, block and meta information
       stay as the state gave them. */
    if (ii != nullptr) {
      if (ii->indexer != nullptr)
        dispose_switch_on_key(ii->indexer);
      checkdealloc(ii, sizeof(int_info), mm_code(MM_BIN_INT_INFO));
    }
    d->proc.code.any = nullptr;
    update_exports(d, ENTER_UNDEFINED);
  } else if (predtyp(d) != FD_CONSTRAINT) {
    return fault(info, "indexicals for a predicate that is not a finite-domain one", r.body[0], true);
  }
  saverest_record rec = r;
  rec.body[0] = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(d));
  if (reinterpret_cast<fd_restore_fn>(info->fd_restorer)(vr_fd_cookie(), &rec, fd_read, info) < 0) {
    if (info->error != 0)
      return info->error;
    return fault(info, "a finite-domain record that does not hold", r.body[0], true);
  }
  return 0;
}

int do_flags(saverest_info *info)
{
  std::uint32_t words[SR_FLAG_WORDS];
  if (read_payload(info, words, sizeof words, true) < 0)
    return info->error;
  TAGGED mapped[SR_FLAG_WORDS];
  for (unsigned i = 0; i < SR_FLAG_WORDS; i++) {
    if (i == 4 || i == 6) {
      if (!IsSmall(words[i]) || GetSmall(words[i]) < 0)
        return fault(info, "bad flag value");
      mapped[i] = words[i];
    } else {
      mapped[i] = map_atom(info, words[i]);
      if (mapped[i] == 0 || !IsAtom(mapped[i]))
        return fault(info, "bad flag value");
    }
  }
  engine_global *g = eglobal;
  TAGGED *fields[13] = {&g->current_compiling, &g->current_quoted_charset_flag, &g->current_ferror_flag,
                        &g->current_gcmode, &g->current_gcmargin, &g->current_gctrace, &g->current_agcmargin,
                        &g->current_redefine_flag, &g->current_discontiguous_flag, &g->current_single_var_flag,
                        &g->current_syntax, &g->current_unknown, &g->current_compatibility_flag};
  for (unsigned i = 0; i < 13; i++)
    *fields[i] = mapped[i];
  set_window_title(atom_name(mapped[13]));
  if (mod_def *m = find_module(mapped[14], 1))
    g->typein_mod = m;
  return 0;
}

/* The trailer after sr_eof: its size line must name the bytes up to the
   end of sr_eof, so that a state cut short or spliced from two is not
   taken for a whole one. */
int check_trailer(saverest_info *info)
{
  const std::int64_t size = info->bytes_done - info->start_offset;
  char text[64];
  const char expect_head[] = "\n# META_INFO_SUFFIX 1\n# size=\"0x";
  const std::size_t head_len = sizeof expect_head - 1;
  if (read_bytes(info, text, head_len) < 0 || std::memcmp(text, expect_head, head_len) != 0)
    return fault(info, "the trailer is missing or damaged");
  std::size_t n = 0;
  for (;;) {
    unsigned char c;
    if (read_bytes(info, &c, 1) < 0 || n == sizeof text - 1)
      return fault(info, "the trailer is missing or damaged");
    if (c == '"')
      break;
    text[n++] = static_cast<char>(c);
  }
  text[n] = '\0';
  char *end = nullptr;
  const unsigned long long recorded = std::strtoull(text, &end, 16);
  if (n == 0 || n > 8 || *end != '\0' || static_cast<std::int64_t>(recorded) != size)
    return fault(info, "the trailer's size does not match the state");
  return 0;
}

int replay(saverest_info *info, worker *w, definition **culprit)
{
  saverest_record r;
  for (;;) {
    const int rc = read_longs(info, &r, sizeof r);
    if (rc == VRIO_E_END_OF_FILE)
      return fault(info, "saved state truncated: no end record");
    if (rc < 0) {
      info->error = rc;
      std::snprintf(info->message, sizeof info->message, "read error");
      return rc;
    }
    if (r.tag > SR_TAG_LAST) {
      char what[64];
      std::snprintf(what, sizeof what, "unknown record type %lu", static_cast<unsigned long>(r.tag));
      return fault(info, what);
    }
    if (r.tag >= sr_data_module && r.tag != sr_undefine_module && r.tag != sr_eof)
      table_of(info).data_seen = true;
    switch (static_cast<saverest_tag>(r.tag)) {
    case sr_rel_atom: {
      const std::uint32_t key = r.body[0], size = r.body[1], reloc = r.body[2];
      if (!atom_key(key) || (key & ~SR_ATOM_KEY_MASK) != 0 || key < SR_FIXED_ATOM_KEYS || size == 0 ||
          size > 0x100000 || reloc < 1 || reloc > 3)
        return fault(info, "bad atom record", key, true);
      std::string text(size, '\0');
      if (read_payload(info, text.data(), size, false) < 0)
        return info->error;
      if (text[size - 1] != '\0' || std::strlen(text.c_str()) != size - 1)
        return fault(info, "bad atom text", key, true);
      text.pop_back();
      if (reloc == SR_RELOC_LIBRARY) {
        if (info->library_path == nullptr)
          return fault(info, "an atom relative to the library directory, which is not known", key, true);
        text.insert(0, info->library_path);
      } else if (reloc == SR_RELOC_DIR) {
        text.insert(0, info->dir_path);
      }
      const TAGGED a = init_atom_check(text.c_str(), 0);
      if (a == 0)
        return fault(info, "bad atom text", key, true);
      if (!enter(info, key, a, rk::atom))
        return info->error;
      break;
    }
    case sr_rel_module: {
      const TAGGED name = map_atom(info, r.body[1]);
      if (name == 0 || !IsAtom(name))
        return fault(info, "bad module record", r.body[0], true);
      mod_def *m = find_module(name, 1);
      if (m == nullptr)
        return fault(info, "bad module record", r.body[0], true);
      if (r.body[2] & 2)
        m->prop |= MOD_HIDDEN;
      else
        m->prop &= ~MOD_HIDDEN;
      if (!enter(info, r.body[0], reinterpret_cast<std::uintptr_t>(m), rk::module))
        return info->error;
      break;
    }
    case sr_rel_pred: {
      mod_def *m = map_module(info, r.body[1]);
      const TAGGED f = r.body[2];
      const TAGGED name = atom_key(f) ? map_atom(info, f & SR_ATOM_KEY_MASK) : 0;
      if (m == nullptr || name == 0)
        return fault(info, "bad predicate record", r.body[0], true);
      const int arity = static_cast<int>(Arity(f));
      definition *d;
      if (m == eglobal->prolog_module) {
        d = insert_definition(m, name, arity, 1);
      } else {
        d = incore_gethash(m->preds, pred_key(name, arity))->value.def;
        if (d == nullptr) {
          d = new_definition(name, arity, m);
          enter_definition(m, d);
        }
      }
      if (d == nullptr || !enter(info, r.body[0], reinterpret_cast<std::uintptr_t>(d), rk::pred))
        return fault(info, "bad predicate record", r.body[0], true);
      break;
    }
    case sr_data_module: {
      mod_def *m = map_module(info, r.body[0]);
      if (m == nullptr)
        return info->error;
      if (r.body[1] == 1 && !save_attribute_info(m))
        return fault(info, "too many attribute modules");
      break;
    }
    case sr_data_public: {
      mod_def *m = map_module(info, r.body[0]);
      const TAGGED file = r.body[1] == atom_nil ? atom_nil : map_atom(info, r.body[1]);
      const std::uint32_t size = r.body[2];
      if (m == nullptr || file == 0 || size % 4 != 0 || size > (1u << 22))
        return fault(info, "bad export record", r.body[0], true);
      std::vector<std::uint32_t> keys(size / 4);
      if (read_payload(info, keys.data(), size, true) < 0)
        return info->error;
      std::vector<definition *> defs;
      for (std::uint32_t k : keys) {
        definition *d = map_pred(info, k);
        if (d == nullptr)
          return info->error;
        if (d->defined_in != m || std::find(defs.begin(), defs.end(), d) != defs.end())
          return fault(info, "bad export list", k, true);
        defs.push_back(d);
      }
      m->filename = file;
      clear_exports(m);
      for (std::size_t i = 0; i < defs.size(); i++)
        defs[i]->next_public = i + 1 < defs.size() ? defs[i + 1] : PUBLIC_END;
      m->public_lst = defs.empty() ? PUBLIC_END : defs[0];
      break;
    }
    case sr_data_block: {
      definition *d = map_pred(info, r.body[0]);
      if (d == nullptr)
        return info->error;
      const std::uint32_t size = r.body[1];
      if (size != static_cast<std::uint32_t>(d->proc.arity) + 1)
        return fault(info, "bad block record", r.body[0], true);
      const std::size_t bytes = 8 + static_cast<std::size_t>(d->proc.arity);
      auto *b = static_cast<block_info *>(checkalloc(bytes, mm_code(MM_BIN_MISC)));
      b->next = nullptr;
      if (read_payload(info, b->masks, size, false) < 0 || b->masks[size - 1] != 0 ||
          !(d->proc.properties & PROP_BLOCK) || d == *culprit) {
        checkdealloc(b, bytes, mm_code(MM_BIN_MISC));
        if (info->error != 0)
          return info->error;
        if (d == *culprit)
          break;
        return fault(info, "bad block record", r.body[0], true);
      }
      /* Appended, so the declarations keep the order they were written in. */
      block_info **link = &d->blockinfo;
      while (*link != nullptr)
        link = &(*link)->next;
      *link = b;
      update_exports(d, static_cast<int>(predtyp(d)));
      break;
    }
    case sr_data_filename: {
      definition *d = map_pred(info, r.body[0]);
      const TAGGED file = map_atom(info, r.body[1]);
      if (d == nullptr || file == 0)
        return info->error;
      if (d != *culprit)
        d->filename = file;
      break;
    }
    case sr_data_bb: {
      mod_def *m = map_module(info, r.body[0]);
      if (m == nullptr)
        return info->error;
      TAGGED key = r.body[1];
      if (atom_key(key))
        key = map_atom(info, key);
      if (key == 0 || !(IsAtomic(key) && !IsBoxHeader(key)))
        return fault(info, "bad blackboard key");
      const std::uint64_t bb_id = (static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(m)) << 32) | key;
      if (!table_of(info).bb_defined.try_emplace(bb_id, true).second)
        return fault(info, "a blackboard entry defined twice");
      instance *ins = read_instance(info, r.body[2], atom_nil, rk::bb_inst);
      if (ins == nullptr)
        return info->error;
      sw_on_key_node *n = dyn_puthash(&m->bb, key);
      instance *old = n->value.inst;
      n->value.inst = ins;
      if (old != nullptr)
        free_instance(old);
      break;
    }
    case sr_data_key: {
      mod_def *m = map_module(info, r.body[0]);
      const TAGGED key = map_atom(info, r.body[1]);
      if (m == nullptr || key == 0)
        return info->error;
      dyn_puthash(&m->names, key)->value.word = r.body[2] * 8 + 1;
      break;
    }
    case sr_data_pred:
      if (do_pred(info, w, r, culprit) < 0)
        return info->error;
      break;
    case sr_data_import: {
      definition *importer = map_pred(info, r.body[0]);
      mod_def *from = map_module(info, r.body[1]);
      definition *exporter = map_pred(info, r.body[2]);
      if (importer == nullptr || from == nullptr || exporter == nullptr)
        return info->error;
      if (importer == *culprit)
        break;
      /* The database finds an importer's place in its exporter's chain
         by the importer's name in the module it names: that must be the
         exporter, in another module, or undefining the importer would
         leave it in the chain. */
      if (importer == exporter || is_native_type(predtyp(importer)) || from == importer->defined_in ||
          exporter->defined_in != from || exporter->proc.printname != importer->proc.printname ||
          exporter->proc.arity != importer->proc.arity ||
          importer->defined_in == eglobal->prolog_module || exporter->module == importer->defined_in)
        return fault(info, "bad import record", r.body[0], true);
      if (!define_once(info, importer, r.body[0]))
        return info->error;
      import_predicate(exporter, from, importer);
      break;
    }
    case sr_data_instance: {
      definition *d = map_pred(info, r.body[0]);
      if (d == nullptr)
        return info->error;
      const TAGGED file = r.body[1] == atom_nil ? atom_nil : map_atom(info, r.body[1]);
      if (file == 0)
        return info->error;
      if ((predtyp(d) != ENTER_INTERPRETED && d != *culprit) || !table_of(info).defined.count(d))
        return fault(info, "a stored clause for a predicate the state did not define as dynamic", r.body[0], true);
      std::uint32_t key = 0;
      instance *ins = read_instance(info, r.body[3], file, rk::inst, &key);
      if (ins == nullptr)
        return info->error;
      if (d == *culprit)
        discard_instance(info, ins, key);
      else
        insertz(d, ins);
      break;
    }
    case sr_data_emul:
      if (do_emul(info, r, culprit) < 0)
        return info->error;
      break;
    case sr_data_fd:
      if (do_fd(info, w, r) < 0)
        return info->error;
      break;
    case sr_data_flag:
      if (do_flags(info) < 0)
        return info->error;
      break;
    case sr_undefine_module: {
      mod_def *m = map_module(info, r.body[0]);
      if (m == nullptr)
        return info->error;
      if (m == eglobal->prolog_module)
        return fault(info, "a state may not replace module prolog");
      if (table_of(info).data_seen)
        return fault(info, "a module replaced after the records that define things");
      wipe_module(m);
      break;
    }
    case sr_eof: {
      reloc_table &t = table_of(info);
      for (const auto &p : t.pending) {
        const rentry *e = find(info, p.key);
        if (e == nullptr || e->kind != rk::inst)
          return fault(info, "relocation undefined (database reference)", p.key, true);
        TAGGED *at = p.at;
        cons_dbref(reinterpret_cast<instance *>(e->value), &at, 0);
      }
      t.pending.clear();
      if (r.body[1] == 1)
        return check_trailer(info);
      return 0;
    }
    }
    if (info->error != 0)
      return info->error;
  }
}

void release_pins(saverest_info *info)
{
  reloc_table &t = table_of(info);
  for (auto &[key, e] : t.map) {
    if (e.kind == rk::atom)
      VR_unregister_atom(static_cast<TAGGED>(e.value));
    else if (e.kind == rk::pred)
      reinterpret_cast<definition *>(e.value)->proc.properties &= ~PROP_LOCKED;
  }
  for (TAGGED a : t.filter_atoms)
    VR_unregister_atom(a);
  t.map.clear();
  t.filter_atoms.clear();
}

char *library_directory(void)
{
  char buf[1024];
  std::size_t size = sizeof buf;
  if (vrio_get_system_property("VR_LIBRARY_DIR", buf, &size, 0) < 0 || buf[0] == '\0')
    return nullptr;
  return vr_expand_file_name(buf, nullptr, 0x1);
}

char *directory_of(const char *name)
{
  char *expanded = std::strncmp(name, "URL:", 4) == 0 ? nullptr : vr_expand_file_name(name, nullptr, 0);
  const char *full = expanded != nullptr ? expanded : name;
  const char *slash = std::strrchr(full, '/');
  const std::size_t n = slash == nullptr ? 0 : static_cast<std::size_t>(slash - full) + 1;
  char *d = static_cast<char *>(VR_malloc(n + 1));
  if (d != nullptr) {
    std::memcpy(d, full, n);
    d[n] = '\0';
  }
  VR_free(expanded);
  return d;
}

/* Raises the error of a failed run for argument argno of goal, once
   Prolog runs (start-up gets the code only). */
void raise_restore_error(int type, const char *message, TAGGED culprit, TAGGED goal, int argno, int rc)
{
  if (!VR_prolog_initialized)
    return;
  if (type == 0)
    save_vrio_error(static_cast<vrio_t_error_code>(rc), 0, culprit);
  else
    save_error(type, message, culprit);
  raise_error_goal(goal, argno);
}

constexpr int ERR_BAD_STATE = 264;       /* system_error(Message) */
constexpr int ERR_MULTIFILE_MERGE = 1542; /* permission_error on the predicate */

} // namespace

/* ---- Interface ---- */

bool multifile_filter_files(worker *w, std::vector<TAGGED> *files)
{
  const TAGGED save_name = init_atom_check("$save", 1);
  mod_def *m = save_name != 0 ? find_module(save_name, 0) : nullptr;
  const TAGGED type_name = init_atom_check("type", 1);
  const TAGGED files_name = init_atom_check("files", 1);
  definition *d = m != nullptr && type_name != 0 ? insert_definition(m, type_name, 1, 0) : nullptr;
  if (d == nullptr || files_name == 0 || predtyp(d) != ENTER_INTERPRETED || d->proc.code.intinfo == nullptr)
    return false;
  instance *first = active_instance_call(d->proc.code.intinfo->first, 1);
  if (first == nullptr)
    return false;
  TAGGED *mark = w->global_top;
  get_instance(w, first, 0, 0);
  const TAGGED head = deref(w->global_top[-2]);
  bool found = false;
  if (IsStructure(head) && TagToSTR(head)[0] == MakeFunctor(type_name, 1)) {
    const TAGGED arg = deref(TagToSTR(head)[1]);
    if (IsStructure(arg) && TagToSTR(arg)[0] == MakeFunctor(files_name, 1)) {
      found = true;
      for (TAGGED l = deref(TagToSTR(arg)[1]); IsList(l); l = deref(TagToLST(l)[1])) {
        const TAGGED a = deref(TagToLST(l)[0]);
        if (IsAtom(a)) {
          VR_register_atom(a);
          files->push_back(a);
        }
      }
    }
  }
  w->global_top = mark;
  return found;
}

TAGGED restore_rel(void *location, TAGGED value, saverest_info *info, int kind)
{
  if (kind == RELOC_ATOM)
    return map_atom(info, value);
  definition *d = map_pred(info, value);
  return d == nullptr ? 0 : static_cast<TAGGED>(reinterpret_cast<std::uintptr_t>(d));
}

instance *restore_instance_ref(saverest_info *info, std::uint32_t key, TAGGED *at)
{
  if (const rentry *e = find(info, key)) {
    if (e->kind != rk::inst) {
      fault(info, "a database reference to something else", key, true);
      return nullptr;
    }
    return reinterpret_cast<instance *>(e->value);
  }
  table_of(info).pending.push_back({at, key});
  return nullptr;
}

void describe_arch_mask(std::uint32_t mask, char *buf, std::size_t size)
{
  static const char *const totals[4] = {"SELECTED,", "", "ALL_BUT_PROLOG,", "ALL,"};
  std::snprintf(buf, size, "%s%s%s%s", (mask & ARCH_WORDSIZE_MASK) == ARCH_WORDSIZE_64 ? "64-bit," : "32-bit,",
                (mask & ARCH_BDD) ? "BDD," : "", (mask & ARCH_GAUGE) ? "GAUGE," : "", totals[arch_total(mask)]);
}

int open_bootfile_stream(const char *name, VR_stream **ps)
{
  vrio_t_error_code rc = VR_fopen(name, 0, VR_FOPEN_READ | VR_FOPEN_BINARY | VR_FOPEN_URL, ps);
  if (rc < 0 && rc != VRIO_E_FILE_NOT_FOUND && rc != VRIO_E_PERMISSION_ERROR && rc != VRIO_E_NOT_SUPPORTED)
    rc = VR_fopen(name, 0, VR_FOPEN_READ | VR_FOPEN_BINARY, ps);
  return rc;
}

int restore_init(const char *file, saverest_info **pinfo, std::uint32_t *kind, TAGGED goal, int argno)
{
  *pinfo = nullptr;
  auto *info = static_cast<saverest_info *>(VR_malloc(sizeof(saverest_info)));
  if (info == nullptr)
    return VRIO_E_OUT_OF_MEMORY;
  std::memset(info, 0, sizeof *info);
  info->pending = new reloc_table;
  *pinfo = info;
  int rc = open_bootfile_stream(file, &info->stream);
  if (rc < 0) {
    info->stream = nullptr;
    info->error = rc;
    std::snprintf(info->message, sizeof info->message, "cannot open the saved state");
    return rc;
  }
  const std::uint32_t expected = *kind;
  info->restoremask = this_arch_mask(expected);
  /* The header: lines up to the version line. */
  char line[256];
  bool found = false;
  for (;;) {
    std::size_t len = 0;
    bool long_line = false, ended = false;
    for (;;) {
      unsigned char c;
      rc = read_bytes(info, &c, 1);
      if (rc < 0)
        break;
      if (len < sizeof line - 1)
        line[len++] = static_cast<char>(c);
      else
        long_line = true;
      if (c == '\n') {
        ended = true;
        break;
      }
    }
    line[len] = '\0';
    if (rc < 0 && rc != VRIO_E_END_OF_FILE)
      return info->error = rc;
    if (long_line && ended)
      continue;
    if (std::strncmp(line, "archmask", 8) == 0)
      break;
    if (std::strncmp(line, "version", 7) == 0) {
      found = true;
      break;
    }
    if (!ended)
      break;
  }
  int version = 0;
  unsigned long mask = 0;
  if (!found || std::sscanf(line, "version=%d archmask=0x%lx", &version, &mask) != 2 || version != 3 ||
      mask > 0xFFFFFFFFul) {
    fault(info, "bad saved state");
    info->error = -ERR_BAD_STATE;
    return info->error;
  }
  info->savemask = static_cast<std::uint32_t>(mask);
  info->diffendian = ((info->savemask ^ THIS_ARCH_MASK) & ARCH_BIGENDIAN) != 0;
  const std::uint32_t total = arch_total(info->savemask);
  const bool compatible = (info->savemask & ARCH_WORDSIZE_MASK) == ARCH_WORDSIZE_32 &&
                          ((total ^ expected) & 2) == 0 &&
                          (total != TOTAL_ALL || ((info->savemask ^ THIS_ARCH_MASK) & (ARCH_BDD | ARCH_GAUGE)) == 0) &&
                          arch_xoffset(info->savemask) != 0;
  if (!compatible) {
    char a[80], b[80];
    describe_arch_mask(info->savemask, a, sizeof a);
    describe_arch_mask(info->restoremask, b, sizeof b);
    std::snprintf(info->message, sizeof info->message, "type %s saved state, type %s emulator", a, b);
    info->error = -ERR_BAD_STATE;
    return info->error;
  }
  *kind = total;
  info->library_path = library_directory();
  info->library_path_len = info->library_path != nullptr ? std::strlen(info->library_path) : 0;
  info->dir_path = directory_of(file);
  if (info->dir_path == nullptr) {
    std::snprintf(info->message, sizeof info->message, "unknown error");
    return info->error = -ERR_BAD_STATE;
  }
  info->dir_path_len = std::strlen(info->dir_path);
  (void)goal;
  (void)argno;
  return 0;
}

int restore_common(saverest_info *info, definition **culprit)
{
  *culprit = nullptr;
  worker *w = get_current_worker();
  const int rc = replay(info, w, culprit);
  release_pins(info);
  return rc < 0 ? rc : 0;
}

void restore_deinit(saverest_info *info, int abortive)
{
  if (info == nullptr)
    return;
  if (info->stream != nullptr)
    VR_fclose(info->stream, abortive ? VR_CLOSE_FORCE : 0);
  if (info->pending != nullptr) {
    release_pins(info);
    delete &table_of(info);
  }
  VR_free(info->library_path);
  VR_free(info->dir_path);
  VR_free(info);
}

namespace {

int restore_run(worker *w, bool increment)
{
  const TAGGED file = deref(w->term[0]);
  const TAGGED goal = w->term[1];
  if (!IsAtom(file)) {
    raise_restore_error(0, nullptr, file, goal, 1, VRIO_E_PARAMETER_ERROR);
    return 0;
  }
  VR_register_atom(file);
  std::uint32_t kind = increment ? 1 : 2;
  saverest_info *info = nullptr;
  int rc = restore_init(atom_name(file), &info, &kind, goal, 1);
  if (rc < 0) {
    if (info != nullptr && info->message[0] != '\0' && rc == -ERR_BAD_STATE)
      raise_restore_error(ERR_BAD_STATE, info->message, MakeSmall_checked(0), goal, 1, rc);
    else
      raise_restore_error(0, nullptr, file, goal, 1, rc);
    restore_deinit(info, 1);
    VR_unregister_atom(file);
    return 0;
  }
  std::jmp_buf *saved_env = set_do_wam_env(nullptr);
  bool fd_loaded = false;
  if (!increment) {
    if (vr_fd_ever_loaded()) {
      if (load_clpfd_resource(w) < 0) {
        set_do_wam_env(saved_env);
        restore_deinit(info, 1);
        raise_restore_error(0, nullptr, file, goal, 1, VRIO_E_FILE_NOT_FOUND);
        VR_unregister_atom(file);
        return 0;
      }
      fd_loaded = true;
    }
    sw_on_key *t = eglobal->user_modules;
    mod_def *prolog = eglobal->prolog_module;
    for (std::uint32_t i = sw_slots(t); i-- > 0;) {
      mod_def *m = t->tab[i].key != 0 ? t->tab[i].value.mod : nullptr;
      if (m != nullptr && m != prolog)
        wipe_module(m);
    }
    sw_on_key *p = prolog->preds;
    for (std::uint32_t i = sw_slots(p); i-- > 0;) {
      definition *d = p->tab[i].key != 0 ? p->tab[i].value.def : nullptr;
      if (d == nullptr || d->defined_in != prolog || d->metainfo == call_n_metainfo)
        continue; /* call/N is the runtime's own, made on demand */
      const std::uint32_t props = d->proc.properties;
      if (((props & PROP_DYNAMIC) && !(props & PROP_VOLATYLE)) ||
          (kind == TOTAL_ALL && is_compiled_type(predtyp(d)))) {
        d->proc.properties &= ~PROP_SPY;
        undefine_predicate(d);
      }
    }
    reset_attribute_modules();
    if (fd_loaded)
      unload_clpfd_resource(w);
  }
  definition *culprit = nullptr;
  rc = restore_common(info, &culprit);
  set_do_wam_env(saved_env);
  char message[sizeof info->message];
  std::memcpy(message, info->message, sizeof message);
  restore_deinit(info, rc < 0);
  VR_unregister_atom(file);
  if (rc < 0) {
    if (message[0] != '\0')
      raise_restore_error(ERR_BAD_STATE, (std::string("bad saved state: ") + message).c_str(), MakeSmall_checked(0),
                          goal, 1, rc);
    else
      raise_restore_error(0, nullptr, file, goal, 1, rc);
    return 0;
  }
  if (culprit != nullptr) {
    char what[600];
    std::snprintf(what, sizeof what, "%s:%s/%d", atom_name(culprit->defined_in->name),
                  atom_name(culprit->proc.printname), culprit->proc.arity);
    raise_restore_error(ERR_MULTIFILE_MERGE, what, MakeSmall_checked(0), goal, 1, 0);
    return 0;
  }
  return 1;
}

} // namespace

int prolog_restore(worker *w) { return restore_run(w, false); }
int prolog_restore_increment(worker *w) { return restore_run(w, true); }
