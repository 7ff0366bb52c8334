/* saved_state_writer.cpp: writing the predicate database as a saved state
 * ($save/3, $save_doit/7, $save_increment/5).
 *
 * Every key is defined by its relocation record before the first record
 * that uses it; the key registry (info->hash) makes each definition appear
 * once per run.  Code is walked in save mode before its record is written,
 * so the walk's callback writes the atoms, modules and predicates the code
 * names first.  Stored terms are walked on a copy: a reference to a clause
 * erased meanwhile is written as $ref(0, 0) without touching the clause in
 * memory.
 *
 * The state is written to a temporary file beside the target and renamed
 * over it only once it is complete and closed, so a failed save leaves the
 * old file as it was and no partial file behind.
 */
#include "saved_state.h"

#include <unistd.h>

#include <cstdio>
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "atoms.h"
#include "datadefs.h"
#include "dynamic_clauses.h"
#include "errors.h"
#include "file_names.h"
#include "fli.h"
#include "globref.h"
#include "indexing.h"
#include "instance.h"
#include "modules.h"
#include "predicates.h"
#include "preds.h"
#include "prolog_flags.h"
#include "streams.h"
#include "sw_on_key.h"
#include "terms.h"
#include "wamsup.h"
#include "worker.h"

namespace {

inline std::uint32_t address_of(const void *p) { return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(p)); }

void put_bytes(saverest_info *info, const void *data, std::size_t n)
{
  if (n == 0)
    return;
  const vrio_t_error_code rc = VR_put_bytes(info->stream, data, static_cast<unsigned>(n), 0);
  if (rc < 0)
    info->write_error = rc;
  info->bytes_done += static_cast<std::int64_t>(n);
}

void put_record(saverest_info *info, std::uint32_t tag, std::uint32_t b1 = 0, std::uint32_t b2 = 0,
                std::uint32_t b3 = 0, std::uint32_t b4 = 0, std::uint32_t b5 = 0, std::uint32_t b6 = 0)
{
  const saverest_record r{tag, {b1, b2, b3, b4, b5, b6}};
  put_bytes(info, &r, sizeof r);
}

/* The write function the finite-domain save hook is given: the byte
   count, or 0 once a write has failed. */
int fd_write(const void *data, std::size_t n, saverest_info *info)
{
  if (info->write_error < 0)
    return 0;
  put_bytes(info, data, n);
  return info->write_error < 0 ? 0 : static_cast<int>(n);
}

/* Whether this run loaded the finite-domain library to save indexicals
   (it unloads it again at the end). */
bool fd_loaded_by_run = false;

/* Registers key; true when it was registered before. */
bool seen(saverest_info *info, std::uint32_t key)
{
  sw_on_key_node *n = incore_gethash(info->hash, key);
  if (n->key == key && n->value.word != 0)
    return true;
  dyn_puthash(&info->hash, key)->value.word = 1;
  return false;
}

bool known(saverest_info *info, std::uint32_t key)
{
  sw_on_key_node *n = incore_gethash(info->hash, key);
  return n->key == key && n->value.word != 0;
}

void save_relocate_atom(saverest_info *info, TAGGED word)
{
  if ((word & 7) != 7 || static_cast<std::int32_t>(word) < 0)
    return;
  const std::uint32_t key = word & SR_ATOM_KEY_MASK;
  if (key < SR_FIXED_ATOM_KEYS || seen(info, key))
    return;
  const char *text = atom_name(key);
  const std::size_t len = std::strlen(text);
  std::uint32_t reloc = SR_RELOC_WHOLE;
  if (info->library_path != nullptr && len >= info->library_path_len &&
      std::memcmp(text, info->library_path, info->library_path_len) == 0) {
    reloc = SR_RELOC_LIBRARY;
    text += info->library_path_len;
  } else if (info->dir_path != nullptr && info->dir_path_len > 0 && len >= info->dir_path_len &&
             std::memcmp(text, info->dir_path, info->dir_path_len) == 0) {
    reloc = SR_RELOC_DIR;
    text += info->dir_path_len;
  }
  const std::size_t stored = std::strlen(text) + 1;
  put_record(info, sr_rel_atom, key, static_cast<std::uint32_t>(stored), reloc);
  put_bytes(info, text, stored);
}

void save_relocate_module(saverest_info *info, mod_def *m)
{
  if (seen(info, address_of(m)))
    return;
  save_relocate_atom(info, m->name);
  put_record(info, sr_rel_module, address_of(m), m->name,
             4 * static_cast<std::uint32_t>(m->preds->count) + (module_hidden(m) ? 2 : 0));
}

void save_relocate_predicate(saverest_info *info, definition *d)
{
  if (known(info, address_of(d)))
    return;
  mod_def *m = d->defined_in != nullptr ? d->defined_in : d->module;
  save_relocate_module(info, m);
  save_relocate_atom(info, d->proc.printname);
  seen(info, address_of(d));
  put_record(info, sr_rel_pred, address_of(d), address_of(m), pred_key(d->proc.printname, d->proc.arity));
}

std::uint32_t props_of(const definition *d)
{
  const std::uint32_t p = d->proc.properties;
  return ((p & PROP_DYNAMIC) ? SR_PROP_DYNAMIC : 0) | ((p & PROP_BLOCK) ? SR_PROP_BLOCK : 0) |
         ((p & PROP_META) && d->metainfo != nullptr ? SR_PROP_META : 0) |
         ((p & PROP_MULTIFILE) ? SR_PROP_MULTIFILE : 0) | ((p & PROP_HIDDEN) ? SR_PROP_HIDDEN : 0) |
         ((p & PROP_VOLATYLE) ? SR_PROP_VOLATILE : 0);
}

void save_definition(saverest_info *info, definition *d)
{
  save_relocate_predicate(info, d);
  if (d->filename != atom_nil)
    save_relocate_atom(info, d->filename);
  const std::uint32_t props = props_of(d);
  put_record(info, sr_data_pred, address_of(d), props, predtyp(d));
  if (props & SR_PROP_META)
    put_bytes(info, d->metainfo, static_cast<std::size_t>(d->proc.arity) + 1);
  if (d->proc.properties & PROP_BLOCK)
    for (block_info *b = d->blockinfo; b != nullptr; b = b->next) {
      const std::size_t n = static_cast<std::size_t>(d->proc.arity) + 1;
      put_record(info, sr_data_block, address_of(d), static_cast<std::uint32_t>(n));
      put_bytes(info, b->masks, n);
    }
  if (d->filename != atom_nil)
    put_record(info, sr_data_filename, address_of(d), d->filename);
}

/* The multifile filter of the run in progress (one run at a time). */
std::vector<TAGGED> *run_filter = nullptr;

bool passes_filter(saverest_info *, const definition *d, TAGGED file)
{
  if (run_filter == nullptr || run_filter->empty() || !(d->proc.properties & PROP_MULTIFILE))
    return true;
  for (TAGGED a : *run_filter)
    if (a == file)
      return true;
  return false;
}

/* Writes a stored term: walked on a copy first (its atoms, and the
   predicates of the clauses it refers to, are written before it). */
void save_instance(saverest_info *info, instance *ins, std::uint32_t tag, std::uint32_t b1, std::uint32_t b2,
                   std::uint32_t b3)
{
  const std::uint32_t n = instance_words(ins);
  std::vector<TAGGED> copy(ins->code, ins->code + n);
  if (relocate_instance_words(copy.data(), n, save_rel, info) < 0)
    info->write_error = VRIO_E_INTERNAL_ERROR;
  if (tag == sr_data_bb)
    put_record(info, tag, b1, b2, 4 * n);
  else
    put_record(info, tag, b1, b2, b3, 4 * n);
  const std::uint32_t prefix[2] = {address_of(ins), static_cast<std::uint32_t>(ins->bdd_count)};
  put_bytes(info, prefix, sizeof prefix);
  put_bytes(info, copy.data(), 4 * static_cast<std::size_t>(n));
}

void save_data_predicate(saverest_info *info, mod_def *m, definition *d, int force);

instance *next_clause(const instance *i)
{
  const auto n = reinterpret_cast<std::uintptr_t>(i->forward);
  return n == 0 || (n & 1) != 0 ? nullptr : reinterpret_cast<instance *>(n);
}

instance *first_live(definition *d)
{
  int_info *ii = d->proc.code.intinfo;
  return ii == nullptr ? nullptr : active_instance_call(ii->first, 1);
}

void save_data_predicate(saverest_info *info, mod_def *m, definition *d, int force)
{
  const unsigned type = predtyp(d);
  if (d->module != m) {
    mod_def *from = d->imported_from != nullptr && d->imported_from != m ? d->imported_from : d->module;
    definition *exporter = insert_definition(from, d->proc.printname, d->proc.arity, 1);
    if (exporter == nullptr || exporter == d)
      return;
    save_relocate_predicate(info, d);
    save_relocate_module(info, from);
    save_relocate_predicate(info, exporter);
    put_record(info, sr_data_import, address_of(d), address_of(from), address_of(exporter));
    return;
  }
  const bool skip_clauses = (d->proc.properties & PROP_VOLATYLE) && !force;
  if (is_compiled_type(type)) {
    save_definition(info, d);
    incore_info *ii = d->proc.code.incoreinfo;
    if (skip_clauses || ii == nullptr)
      return;
    emul_info *stop = *ii->clauses_tail;
    for (emul_info *c = ii->clauses; c != nullptr && c != stop; c = c->next) {
      if (!passes_filter(info, d, c->filename))
        continue;
      save_relocate_atom(info, c->filename);
      if (relocate_emul_data(c, 0, address_of(failcode), save_rel, THIS_ARCH_MASK, THIS_ARCH_MASK, info) < 0)
        info->write_error = VRIO_E_INTERNAL_ERROR;
      const std::uint32_t objsize = emul_objsize(c);
      put_record(info, sr_data_emul, address_of(d), c->ix_objsize, address_of(c) + objsize,
                 address_of(failcode), c->filename, objsize - EMUL_INFO_HEADER);
      put_bytes(info, c->emulcode, objsize - EMUL_INFO_HEADER);
    }
  } else if (type == ENTER_INTERPRETED) {
    instance *first = first_live(d);
    if (first != nullptr && known(info, address_of(first)))
      return;
    save_definition(info, d);
    if (skip_clauses)
      return;
    for (instance *i = first; i != nullptr; i = active_instance_call(next_clause(i), 1)) {
      if (!passes_filter(info, d, i->extra))
        continue;
      seen(info, address_of(i));
      save_relocate_atom(info, i->key);
      save_relocate_atom(info, i->extra);
      save_instance(info, i, sr_data_instance, address_of(d), i->extra, i->key);
    }
  } else if (type == FD_CONSTRAINT) {
    save_definition(info, d);
    if (info->fd_saver == nullptr && load_clpfd_resource(self) == 0) {
      info->fd_saver = reinterpret_cast<void *>(vr_fd_save_hook());
      fd_loaded_by_run = info->fd_saver != nullptr;
    }
    if (info->fd_saver == nullptr) {
      info->write_error = VRIO_E_FILE_NOT_FOUND; /* no finite-domain library to write its indexicals */
      return;
    }
    saverest_record rec{sr_data_fd, {address_of(d), 0, 0, 0, 0, 0}};
    if (reinterpret_cast<fd_save_fn>(info->fd_saver)(vr_fd_cookie(), &rec, d, fd_write, info) < 0 &&
        info->write_error >= 0)
      info->write_error = VRIO_E_INTERNAL_ERROR;
  }
}

void save_data_module(saverest_info *info, mod_def *m, int depth)
{
  mod_def *prolog = eglobal->prolog_module;
  save_relocate_module(info, m);
  if (depth > 0)
    put_record(info, sr_data_module, address_of(m), m->attr_no != 0 ? 1 : 0);
  if (m->filename != atom_nil || m == prolog) {
    save_relocate_atom(info, m->filename);
    std::vector<std::uint32_t> keys;
    for (definition *d = m->public_lst; d != nullptr && d != PUBLIC_END; d = d->next_public) {
      save_relocate_predicate(info, d);
      keys.push_back(address_of(d));
    }
    put_record(info, sr_data_public, address_of(m), m->filename, 4 * static_cast<std::uint32_t>(keys.size()));
    put_bytes(info, keys.data(), 4 * keys.size());
  }
  if (depth == 0)
    return;
  sw_on_key *t = m->preds;
  std::vector<definition *> defs;
  for (std::uint32_t i = sw_slots(t); i-- > 0;)
    if (t->tab[i].key != 0 && t->tab[i].value.def != nullptr)
      defs.push_back(t->tab[i].value.def);
  for (definition *d : defs) {
    /* call/N is made on demand by every runtime, never saved. */
    if (d->metainfo == call_n_metainfo)
      continue;
    bool write;
    if (m == prolog)
      write = depth == 3 || ((d->proc.properties & PROP_DYNAMIC) && !(d->proc.properties & PROP_VOLATYLE)) ||
              d->module != prolog;
    else
      write = d->module != prolog;
    if (write)
      save_data_predicate(info, m, d, 0);
  }
  sw_on_key *bb = m->bb;
  for (std::uint32_t i = sw_slots(bb); i-- > 0;) {
    instance *v = bb->tab[i].value.inst;
    const TAGGED key = bb->tab[i].key;
    if (key == 0 || v == nullptr)
      continue;
    save_relocate_atom(info, key);
    save_instance(info, v, sr_data_bb, address_of(m), key, 0);
  }
}

void save_flags(saverest_info *info)
{
  engine_global *g = eglobal;
  const TAGGED title = init_atom_check(get_window_title(), 0);
  const TAGGED words[SR_FLAG_WORDS] = {
      g->current_compiling, g->current_quoted_charset_flag, g->current_ferror_flag, g->current_gcmode,
      g->current_gcmargin, g->current_gctrace, g->current_agcmargin, g->current_redefine_flag,
      g->current_discontiguous_flag, g->current_single_var_flag, g->current_syntax, g->current_unknown,
      g->current_compatibility_flag, title != 0 ? title : atom_nil, g->typein_mod->name};
  for (unsigned i = 0; i < SR_FLAG_WORDS; i++)
    if (i != 4 && i != 6)
      save_relocate_atom(info, words[i]);
  put_record(info, sr_data_flag);
  put_bytes(info, words, sizeof words);
}

/* The open foreign resources, in loading order: the names restore/1
   loads again.  Read from the loader's own list rather than through a
   query of loaded_resource/1, which a save running inside a built-in
   cannot rely on. */
bool loaded_resources(std::vector<std::string> *names)
{
  for (const open_resource *r = eglobal->open_resources; r != nullptr; r = r->next)
    if (std::find(names->begin(), names->end(), atom_name(r->rname)) == names->end())
      names->push_back(atom_name(r->rname));
  return true;
}

/* The directory part of a name, with its final '/'. */
char *directory_part(const char *name)
{
  const char *slash = std::strrchr(name, '/');
  const std::size_t n = slash == nullptr ? 0 : static_cast<std::size_t>(slash - name) + 1;
  char *d = static_cast<char *>(VR_malloc(n + 1));
  if (d != nullptr) {
    std::memcpy(d, name, n);
    d[n] = '\0';
  }
  return d;
}

void free_info(saverest_info *info)
{
  if (info->hash != nullptr)
    dispose_switch_on_key(info->hash);
  VR_free(info->library_path);
  VR_free(info->dir_path);
  VR_free(info);
}

std::vector<mod_def *> modules_last_first(void)
{
  std::vector<mod_def *> mods;
  sw_on_key *t = eglobal->user_modules;
  for (std::uint32_t i = sw_slots(t); i-- > 0;)
    if (t->tab[i].key != 0 && t->tab[i].value.mod != nullptr)
      mods.push_back(t->tab[i].value.mod);
  return mods;
}

/* The work of $save_doit/7 on its registers (File, Kind, Modules,
   InterfaceModules, Predicates, ArgNo, Goal at 0..6). */
int save_doit(worker *w, TAGGED file, TAGGED kind_word, TAGGED modules, TAGGED imodules, TAGGED predicates,
              int argno, TAGGED goal)
{
  kind_word = deref(kind_word);
  file = deref(file);
  auto fail_with = [&](vrio_t_error_code rc, TAGGED culprit) {
    save_vrio_error(rc, 1, culprit);
    raise_error_goal(goal, argno);
    return 0;
  };
  if (!IsSmall(kind_word) || GetSmall(kind_word) < 0 || GetSmall(kind_word) > 2)
    return fail_with(VRIO_E_INTERNAL_ERROR, kind_word);
  if (!IsAtom(file))
    return fail_with(VRIO_E_PARAMETER_ERROR, file);
  const int kind = static_cast<int>(GetSmall(kind_word));
  const std::uint32_t total = kind == 0 ? TOTAL_ALL_BUT_PROLOG : kind == 1 ? TOTAL_ALL : TOTAL_SELECTED;
  std::vector<std::string> resources;
  if (!loaded_resources(&resources))
    return fail_with(VRIO_E_INTERNAL_ERROR, file);

  const char *path = atom_name(file);
  char *target = vr_expand_file_name(path, nullptr, 0);
  if (target == nullptr)
    return fail_with(VRIO_E_PARAMETER_ERROR, file);
  const std::string temp = std::string(target) + ".tmp" + std::to_string(static_cast<unsigned>(getpid()));
  auto *info = static_cast<saverest_info *>(VR_malloc(sizeof(saverest_info)));
  if (info == nullptr) {
    VR_free(target);
    return fail_with(VRIO_E_OUT_OF_MEMORY, file);
  }
  std::memset(info, 0, sizeof *info);
  VR_register_atom(file);
  info->filename = file;
  vrio_t_error_code rc = VR_fopen(temp.c_str(), 0, VR_FOPEN_WRITE | VR_FOPEN_BINARY | VR_FOPEN_LITERAL, &info->stream);
  if (rc < 0) {
    VR_unregister_atom(file);
    free_info(info);
    VR_free(target);
    return fail_with(rc, file);
  }
  info->hash = new_switch_on_key(256, nullptr);
  info->savemask = this_arch_mask(total);
  info->dir_path = directory_part(target);
  info->dir_path_len = info->dir_path != nullptr ? std::strlen(info->dir_path) : 0;
  info->start_offset = info->bytes_done;
  info->fd_saver = reinterpret_cast<void *>(vr_fd_save_hook());
  fd_loaded_by_run = false;

  /* Header. */
  const bool plain_name = std::strchr(path, '\n') == nullptr;
  std::string header = "#! /bin/sh\nexec vostrel-4.1.3 -r \"$0\" -a \"$@\"\n# META_INFO 1\n";
  if (plain_name)
    header += std::string("# FILE: \"") + path + "\"\n";
  for (const std::string &r : resources)
    header += "# FR: \"" + r + "\"\n";
  char version[64];
  std::snprintf(version, sizeof version, "# META_INFO END\nversion=3 archmask=0x%lx\n",
                static_cast<unsigned long>(info->savemask));
  header += version;
  put_bytes(info, header.data(), header.size());

  /* Body. */
  std::vector<TAGGED> filter;
  multifile_filter_files(w, &filter);
  run_filter = &filter;
  mod_def *prolog = eglobal->prolog_module;
  if (kind != 2) {
    if (kind == 1)
      save_data_module(info, prolog, 3);
    for (mod_def *m : modules_last_first())
      if (!(m == prolog && kind == 1))
        save_data_module(info, m, kind == 1 ? 3 : 2);
    save_flags(info);
  } else {
    std::vector<mod_def *> full, iface;
    for (TAGGED l = deref(modules); IsList(l); l = deref(TagToLST(l)[1]))
      if (mod_def *m = find_module(deref(TagToLST(l)[0]), 0))
        full.push_back(m);
    for (TAGGED l = deref(imodules); IsList(l); l = deref(TagToLST(l)[1]))
      if (mod_def *m = find_module(deref(TagToLST(l)[0]), 0))
        iface.push_back(m);
    for (mod_def *m : full) {
      save_relocate_module(info, m);
      put_record(info, sr_undefine_module, address_of(m));
    }
    for (mod_def *m : iface) {
      save_relocate_module(info, m);
      put_record(info, sr_undefine_module, address_of(m));
    }
    for (mod_def *m : full)
      save_data_module(info, m, 1);
    for (mod_def *m : iface)
      save_data_module(info, m, 0);
    for (TAGGED l = deref(predicates); IsList(l); l = deref(TagToLST(l)[1])) {
      definition *d = parse_definition(deref(TagToLST(l)[0]), nullptr);
      if (d != nullptr && d->module != prolog && d->defined_in != nullptr)
        save_data_predicate(info, d->defined_in, d, 0);
    }
  }

  run_filter = nullptr;
  for (TAGGED a : filter)
    VR_unregister_atom(a);

  /* Trailer. */
  put_record(info, sr_eof, 1, 1);
  const std::int64_t end = info->bytes_done;
  char trailer[96];
  std::snprintf(trailer, sizeof trailer, "\n# META_INFO_SUFFIX 1\n# size=\"0x%lx\"\n",
                static_cast<unsigned long>(end - info->start_offset));
  std::string tail = trailer;
  if (plain_name)
    tail += std::string("# file=\"") + path + "\"\n";
  tail += "# META_INFO_SUFFIX END\n";
  put_bytes(info, tail.data(), tail.size());

  rc = static_cast<vrio_t_error_code>(info->write_error);
  const vrio_t_error_code closed = VR_fclose(info->stream, rc < 0 ? VR_CLOSE_FORCE : 0);
  if (rc >= 0 && closed < 0)
    rc = closed;
  if (rc >= 0) {
    rc = vrio_rename_file(temp.c_str(), target, 0);
    if (rc < 0)
      vrio_delete_file(temp.c_str(), 0);
  } else {
    vrio_delete_file(temp.c_str(), 0);
  }
  VR_free(target);
  VR_unregister_atom(file);
  free_info(info);
  if (fd_loaded_by_run) {
    fd_loaded_by_run = false;
    unload_clpfd_resource(w);
  }
  if (rc < 0)
    return fail_with(rc, file);
  return 1;
}

} // namespace

TAGGED save_rel(void *, TAGGED value, saverest_info *info, int kind)
{
  if (info == nullptr)
    return value;
  if (kind == RELOC_ATOM)
    save_relocate_atom(info, value);
  else if (definition *d = reinterpret_cast<definition *>(value); d != nullptr)
    save_relocate_predicate(info, d);
  return value;
}

bool save_instance_known(saverest_info *info, const instance *ins) { return known(info, address_of(ins)); }

void save_instance_owner(saverest_info *info, instance *ins)
{
  definition *d = ins->root;
  if (d == nullptr || !is_live_definition(d))
    return;
  save_data_predicate(info, d->defined_in != nullptr ? d->defined_in : d->module, d, 1);
}

int prolog_save_doit(worker *w)
{
  const TAGGED argno = deref(w->term[5]);
  return save_doit(w, w->term[0], w->term[1], w->term[2], w->term[3], w->term[4],
                   IsSmall(argno) ? static_cast<int>(GetSmall(argno)) : 0, w->term[6]);
}

int prolog_save(worker *w)
{
  const TAGGED kind = deref(w->term[1]);
  return save_doit(w, w->term[0], MakeSmall_checked(kind == MakeSmall_checked(0) ? 0 : 1), atom_nil, atom_nil, atom_nil, 1,
                   w->term[2]);
}

int prolog_save_increment(worker *w)
{
  return save_doit(w, w->term[3], MakeSmall_checked(2), w->term[0], w->term[1], w->term[2], 2, w->term[4]);
}
