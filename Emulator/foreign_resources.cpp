/* foreign_resources.cpp: the native half of loading and unloading foreign
 * resources.
 *
 * Holds the list of open resources (eglobal->open_resources, records in
 * engine memory), the entry-function protocol (VR_MAINFUN_PARAMS,
 * vostrel_foreign.h), the lookup of entry functions in the launcher's
 * pre-linkage tables and in shared objects (dlopen), the built-ins through
 * which module prolog's loader (Emulator/lib/foreign.pl) loads a resource,
 * takes its function addresses and unloads it, and the definition of
 * single predicates from foreign code (VR_define_c_predicate,
 * install_c_predicate).
 *
 * Invariants: a record is linked into the list before its entry function
 * runs, so a failing initialisation unloads it through the same path; a
 * resource's rname (its base name without suffix) is registered while it
 * is open and names at most one open record; a statically linked resource
 * is never closed with the dynamic loader.  Engine thread only.
 */
#include "foreign_resources.h"

#include <dlfcn.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "atoms.h"
#include "chartype.h"
#include "datadefs.h"
#include "errors.h"
#include "file_names.h"
#include "fli.h"
#include "globref.h"
#include "memman.h"
#include "modules.h"
#include "predicates.h"
#include "stack_growth.h"
#include "terms.h"
#include "unify.h"
#include "url_objects.h"
#include "worker.h"

namespace {

constexpr char entry_prefix[] = "vr_main_VRENV_";

/* The base name without suffix of an atom's text, as an atom; 0 when the
   text has none. */
TAGGED base_atom(TAGGED name)
{
  if (!IsAtom(name))
    return 0;
  char *base = vr_basename(atom_name(name), 1);
  if (base == nullptr)
    return 0;
  const TAGGED a = *base != '\0' ? init_atom_check(base, 0) : 0;
  VR_free(base);
  return a;
}

open_resource *find_open(TAGGED name)
{
  const TAGGED base = base_atom(deref(name));
  for (open_resource *r = eglobal->open_resources; r != nullptr; r = r->next)
    if (base != 0 && r->rname == base)
      return r;
  return nullptr;
}

void unlink_resource(open_resource *res)
{
  for (open_resource **p = &eglobal->open_resources; *p != nullptr; p = &(*p)->next)
    if (*p == res) {
      *p = res->next;
      break;
    }
}

void free_resource(open_resource *res)
{
  VR_unregister_atom(res->rname);
  checkdealloc(res, sizeof *res, mm_code(MM_BIN_FOREIGN_RESOURCE));
}

bool statically_linked(const open_resource *res)
{
  return res->misc == nullptr;
}

int call_entry(open_resource *res, int flags)
{
  std::memset(&res->params, 0, sizeof res->params);
  res->params.version = VR_MAINFUN_PARAMS_VERSION;
  res->params.flags = flags;
  res->params.vrenv = &res->vrenv;
  return res->funcp(&res->params);
}

/* What an entry function must have given: success, the tables and one of
   the two calling conventions. */
bool entry_answer_ok(const open_resource *res, int rc)
{
  const VR_MAINFUN_PARAMS &p = res->params;
  return rc == 0 && p.funcs != nullptr && p.prednames != nullptr && p.arities != nullptr &&
         (p.flags & (VR_MAINFUN_WHEN_ONLY | VR_MAINFUN_LEADING_VRENV)) != 0;
}

int raise_for(const char *name)
{
  raise_error("prolog", name, 1, 1);
  return 0;
}

/* Shuts a resource down (unless it was tried before or when is -1),
   closes its shared object, unlinks and frees it.  The shutdown's answer,
   or 0 when the entry function refuses (the resource stays open). */
int unload_resource(worker *w, open_resource *res, int when)
{
  int ok = 1;
  if (!res->unload_attempted && when != -1) {
    res->unload_attempted = 1;
    const int rc = call_entry(res, VR_MAINFUN_UNLOADING);
    if (!entry_answer_ok(res, rc)) {
      ff_fault("Foreign resource entry function API error");
      return raise_for("unload_foreign_resource");
    }
    if (when >= 0)
      ok = call_init_helper(w, res->params.deinit_fun,
                            (res->params.flags & VR_MAINFUN_LEADING_VRENV) ? &res->vrenv : nullptr, when);
  }
  if (!statically_linked(res))
    unload_foreign_resource(nullptr, res->misc);
  unlink_resource(res);
  free_resource(res);
  return ok;
}

} // namespace

/* ---- Functions ---- */

VR_MainFun *vr_is_statically_linked(const char *name)
{
  char **map = eglobal->persistent.fli_pre_map;
  void **linkage = eglobal->persistent.fli_pre_linkage;
  if (map == nullptr || linkage == nullptr || name == nullptr)
    return nullptr;
  for (std::size_t i = 0; map[i] != nullptr; i++)
    if (linkage[i] != nullptr && std::strcmp(map[i], name) == 0)
      return reinterpret_cast<VR_MainFun *>(linkage[i]);
  return nullptr;
}

void ff_fault(const char *format, ...)
{
  char buffer[2048];
  std::va_list ap;
  va_start(ap, format);
  const int n = std::vsnprintf(buffer, sizeof buffer, format, ap);
  va_end(ap);
  /* A message that does not fit whole is no message. */
  if (n < 0 || n >= static_cast<int>(sizeof buffer) - 1)
    buffer[0] = '\0';
  save_error(SYSTEM_ERROR, buffer, MakeSmall_checked(0));
}

VR_MainFun *load_foreign_resource(const char *path, const char *name, const char *mangled, void **handle)
{
  (void)name;
  const char *os_path = VR_to_os(path, 1);
  if (os_path == nullptr) {
    ff_fault("Path error in load_foreign_resource/1: %s", path);
    return nullptr;
  }
  void *h = dlopen(os_path, RTLD_NOW);
  if (h == nullptr) {
    const char *why = dlerror();
    ff_fault("dlopen(\"%s\") failed in load_foreign_resource/1: %s", path, why != nullptr ? why : "dlopen error");
    return nullptr;
  }
  const std::size_t len = sizeof entry_prefix + std::strlen(mangled) + 1;
  char *symbol = static_cast<char *>(VR_malloc(len));
  if (symbol == nullptr) {
    dlclose(h);
    ff_fault("out of memory in load_foreign_resource/1");
    return nullptr;
  }
  std::snprintf(symbol, len, "_%s%s", entry_prefix, mangled);
  void *entry = dlsym(h, symbol + 1);
  if (entry == nullptr)
    entry = dlsym(h, symbol);
  if (entry == nullptr) {
    const char *why = dlerror();
    ff_fault("dlsym(\"%s\") failed in load_foreign_resource/1: %s", symbol + 1, why != nullptr ? why : "dlsym error");
    VR_free(symbol);
    dlclose(h);
    return nullptr;
  }
  VR_free(symbol);
  *handle = h;
  return reinterpret_cast<VR_MainFun *>(entry);
}

void unload_foreign_resource(void *ignored, void *handle)
{
  (void)ignored;
  if (handle != nullptr)
    dlclose(handle);
}

void *get_resource_data(const char *name, int *size)
{
  *size = 0;
  char *mangled = vr_ensure_c_name(name);
  if (mangled == nullptr)
    return nullptr;
  const std::size_t len = sizeof "VostrelResource_" + std::strlen(mangled);
  char *symbol = static_cast<char *>(VR_malloc(len));
  void *data = nullptr;
  if (symbol != nullptr) {
    std::snprintf(symbol, len, "VostrelResource_%s", mangled);
    data = dlsym(RTLD_DEFAULT, symbol);
    VR_free(symbol);
  }
  VR_free(mangled);
  return data;
}

int call_init_helper(worker *w, VR_GlueFun fun, VREnv *vrenv, int when)
{
  const VR_term_ref mark = VR_new_term_refs(0);
  const int saved = w->fli_data->excp_flag;
  w->fli_data->excp_flag = 1;
  if (fun != nullptr) {
    if (vrenv != nullptr)
      reinterpret_cast<void (*)(VREnv *, int)>(fun)(vrenv, when);
    else
      reinterpret_cast<void (*)(int)>(fun)(when);
  }
  VR_reset_term_refs(mark);
  const int ok = w->fli_data->excp_flag;
  w->fli_data->excp_flag = saved;
  return ok != 0;
}

/* ---- Built-ins ---- */

/* $foreign_resource_suffix(-Suffix) */
int prolog_foreign_resource_suffix(worker *w)
{
  return cunify(w, w->term[0], init_atom_check(".so", 0));
}

/* $VR_MAINFUN_PARAMS_VERSION(-Version) */
int prolog_mainfun_params_version(worker *w)
{
  return cunify(w, w->term[0], MakeSmall_checked(VR_MAINFUN_PARAMS_VERSION));
}

/* $prelinked_foreign_resource(+Name) */
int prolog_prelinked_foreign_resource(worker *w)
{
  const TAGGED base = base_atom(deref(w->term[0]));
  return base != 0 && vr_is_statically_linked(atom_name(base)) != nullptr;
}

/* $load_foreign_resource(+Name, +Module, +When) */
int prolog_load_foreign_resource(worker *w)
{
  const TAGGED name = deref(w->term[0]);
  const TAGGED when_t = deref(w->term[2]);
  if (!IsAtom(name) || !IsSmall(when_t))
    return 0;
  if (find_open(name) != nullptr)
    return 1;
  const TAGGED base = base_atom(name);
  if (base == 0)
    return 0;
  const char *base_text = atom_name(base);
  VR_MainFun *entry = vr_is_statically_linked(base_text);
  void *handle = nullptr;
  if (entry == nullptr) {
    char *mangled = vr_ensure_c_name(base_text);
    if (mangled == nullptr) {
      ff_fault("out of memory in load_foreign_resource/1");
      return raise_for("load_foreign_resource");
    }
    entry = load_foreign_resource(atom_name(name), base_text, mangled, &handle);
    VR_free(mangled);
    if (entry == nullptr)
      return raise_for("load_foreign_resource");
  }
  auto *res = static_cast<open_resource *>(checkalloc(sizeof(open_resource), mm_code(MM_BIN_FOREIGN_RESOURCE)));
  std::memset(res, 0, sizeof *res);
  res->rname = base;
  VR_register_atom(base);
  res->misc = handle;
  res->funcp = entry;
  init_vrenv(&w->fli_data, &res->vrenv, nullptr);
  open_resource **tail = &eglobal->open_resources;
  while (*tail != nullptr)
    tail = &(*tail)->next;
  *tail = res;

  const int rc = call_entry(res, VR_MAINFUN_LOADING);
  if (!entry_answer_ok(res, rc)) {
    ff_fault("Foreign resource entry function API error");
    /* Raised after the release below: its goal is built now. */
    raise_for("load_foreign_resource");
    unload_resource(w, res, -1);
    return 0;
  }
  const bool lead = (res->params.flags & VR_MAINFUN_LEADING_VRENV) != 0;
  if (lead)
    res->vrenv.stash = &res->vrenv;
  if (!call_init_helper(w, res->params.init_fun, lead ? &res->vrenv : nullptr, GetSmall(when_t))) {
    unload_resource(w, res, -2);
    return 0;
  }
  return 1;
}

/* $foreign_resource_symbols(+Name, +Specs, -Stash): Specs is a list of
   compound terms whose third argument is the predicate (its name and
   arity) and whose fourth receives the function's address. */
int prolog_foreign_resource_symbols(worker *w)
{
  open_resource *res = find_open(w->term[0]);
  if (res == nullptr)
    return 0;
  TAGGED specs = deref(w->term[1]);
  int count = 0;
  for (TAGGED l = specs; IsList(l); l = deref(TagToLST(l)[1]))
    count++;
  if (w->global_top + 131 + 3 * count >= w->heap_warn) {
    call_overflow(w, 131 + 3 * count, 3);
    specs = deref(w->term[1]);
  }
  const VR_MAINFUN_PARAMS &p = res->params;
  for (; IsList(specs); specs = deref(TagToLST(specs)[1])) {
    const TAGGED spec = deref(TagToLST(specs)[0]);
    if (!IsStructure(spec) || Arity(TagToSTR(spec)[0]) < 4)
      return 0;
    const TAGGED pred = deref(TagToSTR(spec)[3]);
    TAGGED pname;
    int arity;
    if (IsAtom(pred)) {
      pname = pred;
      arity = 0;
    } else if (IsStructure(pred) && !IsBoxHeader(TagToSTR(pred)[0])) {
      pname = FunctorName(TagToSTR(pred)[0]);
      arity = static_cast<int>(Arity(TagToSTR(pred)[0]));
    } else {
      return 0;
    }
    int i = 0;
    while (p.funcs[i] != nullptr && !(p.arities[i] == arity && std::strcmp(p.prednames[i], atom_name(pname)) == 0))
      i++;
    if (p.funcs[i] == nullptr) {
      ff_fault("failed to resolve symbol \"%s\": not in table", atom_name(pname));
      return raise_for("load_foreign_resource");
    }
    const TAGGED address = make_integer_term(w, static_cast<std::int32_t>(reinterpret_cast<std::uintptr_t>(p.funcs[i])));
    if (!cunify(w, TagToSTR(spec)[4], address))
      return 0;
  }
  const TAGGED stash = (p.flags & VR_MAINFUN_LEADING_VRENV)
                           ? make_integer_term(w, static_cast<std::int32_t>(reinterpret_cast<std::uintptr_t>(&res->vrenv)))
                           : MakeSmall_checked(0);
  return cunify(w, w->term[2], stash);
}

void unload_all_foreign_resources(worker *w)
{
  while (eglobal->open_resources != nullptr) {
    open_resource *res = eglobal->open_resources;
    unload_resource(w, res, 0);
    /* An entry function that refuses to unload keeps its record: drop it
       anyway, the engine is going. */
    if (eglobal->open_resources == res) {
      if (!statically_linked(res))
        unload_foreign_resource(nullptr, res->misc);
      unlink_resource(res);
      free_resource(res);
    }
  }
}

/* $unload_foreign_resource(+Name, +Module, +When) */
int prolog_unload_foreign_resource(worker *w)
{
  const TAGGED when_t = deref(w->term[2]);
  open_resource *res = find_open(w->term[0]);
  if (res == nullptr) {
    save_error(EXISTENCE_ERROR + (4 << 8), "", deref(w->term[0]));
    return raise_for("unload_foreign_resource");
  }
  return unload_resource(w, res, IsSmall(when_t) ? GetSmall(when_t) : 0);
}

/* ---- Single predicates from foreign code ---- */

namespace {

struct simple_pred_stash {
  TAGGED name;
  int arity;
  int (*fun)(VR_term_ref goal, void *stash);
  void *stash;
};

} // namespace

int simple_pred_dispatcher(void *record, VR_term_ref base)
{
  auto *r = static_cast<simple_pred_stash *>(record);
  worker *w = self;
  const VR_term_ref mark = VR_new_term_refs(0);
  const VR_term_ref goal = VR_new_term_ref();
  VR_term_ref args[255];
  for (int i = 0; i < r->arity && i < 255; i++)
    args[i] = base + i;
  const int built = r->arity == 0 ? VR_put_atom(goal, r->name) : VR_cons_functor_array(goal, r->name, r->arity, args);
  const int saved = w->fli_data->excp_flag;
  int rc = 0;
  bool flag_kept = false;
  if (built) {
    w->fli_data->excp_flag = 1;
    rc = r->fun(goal, r->stash);
    flag_kept = w->fli_data->excp_flag != 0;
  }
  VR_reset_term_refs(mark);
  if (built && flag_kept && rc == 1) {
    w->fli_data->excp_flag = saved;
    return 1;
  }
  w->fli_data->excp_flag = 0;
  return 0;
}

int VR_define_c_predicate(const char *name, int arity, const char *module, int (*fun)(VR_term_ref, void *),
                          void *stash)
{
  mod_def *m = eglobal->typein_mod;
  if (module != nullptr && *module != '\0') {
    if (!wci_valid_string(module))
      return 0;
    const TAGGED mname = init_atom_check(module, 1);
    m = mname != 0 ? find_module(mname, 0) : nullptr;
    if (m == nullptr)
      return 0;
  }
  if (name == nullptr || !wci_valid_string(name)) {
    vr_set_errno(14);
    return 0;
  }
  const TAGGED atom = init_atom_check(name, 0);
  if (atom == 0)
    return 0;
  VR_register_atom(atom);
  if (static_cast<unsigned>(arity) > 255 || fun == nullptr) {
    VR_unregister_atom(atom);
    return 0;
  }
  auto *record = static_cast<simple_pred_stash *>(VR_malloc(sizeof(simple_pred_stash)));
  if (record == nullptr) {
    VR_unregister_atom(atom);
    return 0;
  }
  *record = {atom, arity, fun, stash};
  worker *w = self;
  TAGGED args[5];
  VR_term_ref mark = VR_new_term_refs(0);
  const VR_term_ref sref = VR_new_term_ref();
  VR_put_string(sref, name);
  args[0] = vr_ref_term(sref);
  args[1] = MakeSmall_checked(arity);
  args[2] = m->name;
  args[3] = make_integer_term(w, static_cast<std::int32_t>(reinterpret_cast<std::uintptr_t>(&simple_pred_dispatcher)));
  args[4] = make_integer_term(w, static_cast<std::int32_t>(reinterpret_cast<std::uintptr_t>(record)));
  VR_reset_term_refs(mark);
  definition *d = insert_definition(eglobal->prolog_module, init_atom_check("fli_define_stash_predicate", 0), 5, 0);
  const int rc = d != nullptr ? vr_query_once(d, args, false, true) : 0;
  if (rc == 1)
    return 1;
  vr_set_errno(16);
  VR_unregister_atom(atom);
  VR_free(record);
  return 0;
}

void install_c_predicate(const char *name, int arity, const char *module, int install, c_predicate_fn function)
{
  mod_def *m = module == nullptr ? eglobal->prolog_module : find_module(init_atom_check(module, 0), 1);
  if (m == nullptr)
    return;
  definition *d = insert_definition(m, init_atom_check(name, 0), arity, 1);
  if (d == nullptr)
    return;
  undefine_predicate(d);
  if (install) {
    redefine_predicate(d, ENTER_C);
    d->proc.code.cinfo = function;
    update_exports(d, ENTER_C);
  }
}
