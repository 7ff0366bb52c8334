/* startup.cpp: the runtime's start and shutdown (see startup.h), the
 * program's arguments, the boot directory and boot state, the program's
 * own paths, the data-segment limit and the small start-up queries.
 *
 * Invariants:
 *  - engine_started is 1 exactly while the memory manager and whatever
 *    was built on it (tables, worker) exist; VR_prolog_initialized is 1
 *    exactly while, in addition, the boot state is loaded.
 *  - The I/O library is started once (vrio_inited) and survives a failed
 *    start-up; only VR_deinitialize stops it.
 *  - A start-up that fails takes down again whatever engine part it had
 *    built (never the I/O library), so a retry starts from nothing; the
 *    failed boot file's name stays for vr_get_failed_bootpath until the
 *    next start-up or VR_deinitialize.
 *  - Everything this file keeps in eglobal->persistent is engine memory
 *    (VR_malloc), released before the memory manager stops.
 * Engine thread only (the thread that calls vr_glue_initialize).
 */
#include "startup.h"

#include <csetjmp>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <string>
#include <strings.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <unistd.h>

#include "atoms.h"
#include "chartype.h"
#include "config.h"
#include "datadefs.h"
#include "errors.h"
#include "file_names.h"
#include "fli.h"
#include "foreign_resources.h"
#include "gc.h"
#include "init_once.h"
#include "initial_atoms.h"
#include "memman.h"
#include "modules.h"
#include "predicates.h"
#include "process_builtins.h"
#include "prolog_flags.h"
#include "stack_growth.h"
#include "streams.h"
#include "support.h"
#include "terms.h"
#include "threads.h"
#include "wam.h"
#include "worker.h"

#include "vostrel/vrio.h"

static_assert(sizeof(VR_options) == sizeof(vrio_t_init_options) &&
                  offsetof(VR_options, noptions) == offsetof(vrio_t_init_options, noptions) &&
                  offsetof(VR_options, options) == offsetof(vrio_t_init_options, options),
              "start-up options are the I/O library's initialisation options");
static_assert(sizeof(VR_option) == sizeof(vrio_t_init_option) &&
                  offsetof(VR_option, u) == offsetof(vrio_t_init_option, u),
              "one start-up option is one initialisation option");

namespace {

int engine_started = 0;       /* memory_manager_initialized of the design */
int vrio_inited = 0;
VR_options *initial_options = nullptr;
char *failed_bootfile = nullptr; /* std::malloc: outlives a failed start */

constexpr const char *EMULATOR_DIR = "vostrel-4.1.3";

/* Option-word bits. */
constexpr int OPT_RESTORE = 1 << 0;
constexpr int OPT_ARGV_IENC = 1 << 8;
constexpr int OPT_DEVSYS = 1 << 12;
constexpr int OPT_ATTACH = 1 << 14;
constexpr int OPT_CONSULT_ENV = 1 << 15;

void release_failed_bootfile()
{
  std::free(failed_bootfile);
  failed_bootfile = nullptr;
}

bool options_valid(const VR_options *o)
{
  if (o->version != VR_OPTIONS_VERSION)
    return false;
  if (o->options == nullptr)
    return o->noptions == 0;
  for (unsigned i = 0; i < o->noptions; ++i) {
    const VR_option &op = o->options[i];
    if (op.type == VR_OPTION_TYPE_NULL)
      continue;
    if (op.type != VR_OPTION_TYPE_SYSTEM_PROPERTY || op.u.prop.key == nullptr || op.u.prop.value == nullptr)
      return false;
  }
  return true;
}

void free_argv(char **argv, int argc)
{
  if (argv == nullptr)
    return;
  for (int i = 0; i < argc; ++i)
    VR_free(argv[i]);
  VR_free(argv);
}

/* An armed CPU-time timer would deliver its signal (whose default action
   ends the process) after the runtime is gone: disarm both. */
void disarm_cpu_timers()
{
  const itimerval off{};
  setitimer(ITIMER_VIRTUAL, &off, nullptr);
  setitimer(ITIMER_PROF, &off, nullptr);
}

/* Takes down the engine part of a start, however far it got: the tables,
   the worker, the memory manager and every hook start-up installed.  The
   I/O library stays. */
void engine_teardown()
{
  VR_prolog_initialized = 0;
  worker *w = self;
  if (engine_started) {
    /* The streams go first (everything written reaches its device), then
       the text layer, the event queue, this file's own state and the
       tables. */
    deinit_once();
    deinit_wcx();
    event_queue_remove();
    VR_free(eglobal->persistent.boot_path_ienc);
    free_argv(eglobal->persistent.argv_ienc, eglobal->persistent.argc);
    eglobal->persistent = engine_global::persistent_record{};
    if (!self_storage_free)
      dealloc_worker(w != nullptr ? w : &self_storage);
    atom_buffer_remove();
    memman_deinit();
    /* The records were engine memory. */
    eglobal->open_resources = nullptr;
  }
  engine_started = 0;
  vr_reinitialize_hook = nullptr;
  vr_push_error_choicepoint = nullptr;
  wam_erase_exception_hook = nullptr;
  prolog_free_hook = nullptr;
  mm_shrink_stacks_hook = nullptr;
  mm_free_numstack_hook = nullptr;
  mm_init_numstack_hook = nullptr;
  std::memset(static_cast<void *>(&self_storage), 0, sizeof self_storage);
  set_current_worker(&self_storage);
  worker_hooks = worker_init_hooks{};
  eglobal->main_thread_set = 0;
}

/* The hooks whose owners have no installer of their own. */
void install_startup_hooks()
{
  worker_hooks.event_queue_init = event_queue_init;
  worker_hooks.event_queue_free = event_queue_remove;
  /* The process built-ins' per-worker state. */
  worker_hooks.init_each_time_file = init_each_time_file;
  vr_reinitialize_hook = reinitialize;
  mm_shrink_stacks_hook = shrink_stacks;
  install_gc_hooks();
}

/* Steps 3 to 20 of a start; 1, or 0 with vr_errno set (or not: then the
   caller reports a system error). */
int start_steps(int argc, char **argv, VR_options *options, void **pre_linkage, char **pre_map,
                int kind_word, int option_word)
{
  engine_started = 0;
  std::memset(static_cast<void *>(&eglobal_storage), 0, sizeof eglobal_storage);
  init_main_thread_id();
  if (option_word < 0) {
    vr_set_errno(VR_ERR_DOMAIN);
    return 0;
  }
  if (options != nullptr && options->version != VR_OPTIONS_VERSION) {
    vr_set_errno(VR_ERR_UNKNOWN);
    return 0;
  }
  if (!vrio_inited) {
    const VR_options *given = options != nullptr ? options : initial_options;
    vrio_t_init_options io{1, 0, nullptr};
    if (given != nullptr) {
      io.noptions = given->noptions;
      io.options = reinterpret_cast<const vrio_t_init_option *>(given->options);
    }
    if (vrio_init(nullptr, nullptr, given != nullptr ? &io : nullptr, 0) < 0) {
      vr_set_errno(VR_ERR_SYSTEM);
      return 0;
    }
    vrio_inited = 1;
  }
  if (options != nullptr) {
    if (!options_valid(options)) {
      vr_set_errno(VR_ERR_SYSTEM);
      return 0;
    }
    initial_options = options;
  }
  set_data_segment_limit();
  set_memalloc_default();
  if (memman_init() != 0) {
    vr_set_errno(VR_ERR_MEMORY_INIT);
    return 0;
  }
  engine_started = 1;

  /* The development-system bits, gathered into the option word. */
  if (kind_word & 0x10)
    option_word |= OPT_DEVSYS;
  if (kind_word & 0x20)
    option_word |= OPT_ATTACH;
  if (kind_word & 0x40)
    option_word |= OPT_CONSULT_ENV;
  if (option_word & OPT_CONSULT_ENV) {
    const int attach = get_boolean("VR_ATTACH_TESSIK", -1);
    if (attach >= 0)
      option_word = attach ? option_word | OPT_ATTACH : option_word & ~OPT_ATTACH;
  }
  if (option_word & OPT_ATTACH)
    option_word |= OPT_DEVSYS;
  if (option_word & OPT_CONSULT_ENV) {
    const int use = get_boolean("VR_USE_DEVSYS", -1);
    if (use >= 0)
      option_word = use ? option_word | OPT_DEVSYS : option_word & ~OPT_DEVSYS;
  }
  if (!(option_word & OPT_RESTORE))
    option_word &= ~OPT_DEVSYS;

  static const char *const boot_names[] = {"vrrt", "vrds", "vrre"};
  int kind = kind_word & 3;
  if (kind == 3) {
    vr_set_errno(VR_ERR_DOMAIN);
    return 0;
  }
  if (kind == 1)
    option_word &= ~OPT_DEVSYS;
  /* The development system is tried only in its own boot file, which this
     runtime does not ship: the probe below finds no such file and falls
     back to the runtime's. */
  eglobal->current_system_type_flag =
      option_word & OPT_DEVSYS ? MakeAtom(atom_unknown_enum)
                               : (kind == 1 ? MakeAtom(atom_development_enum) : 0);

  eglobal->persistent.fli_pre_linkage = pre_linkage;
  eglobal->persistent.fli_pre_map = pre_map;
  init_wcx();
  eglobal->cwd_ienc = nullptr;
  if (set_app_paths() != 0) {
    vr_set_errno(VR_ERR_SYSTEM);
    return 0;
  }

  char *boot_dir = nullptr;
  if (option_word & OPT_DEVSYS) {
    boot_dir = alloc_bootpath();
    const std::string dev = boot_dir != nullptr ? std::string(boot_dir) + "vrds.sav" : std::string();
    if (boot_dir != nullptr && vrio_test_file_access(dev.c_str(), 0x44) == 0) {
      kind = 1;
    } else {
      VR_free(boot_dir);
      boot_dir = nullptr;
      option_word &= ~OPT_DEVSYS;
    }
  }
  if (boot_dir == nullptr) {
    boot_dir = alloc_bootpath();
    if (boot_dir == nullptr) {
      vr_set_errno(VR_ERR_SYSTEM);
      return 0;
    }
  }
  eglobal->persistent.boot_path_ienc = boot_dir;

  /* The system type decides the flag defaults that init_once sets. */
  eglobal->current_system_type_flag = MakeAtom(kind == 1 ? atom_development_enum : atom_runtime_enum);
  if (init_once() != 1) {
    vr_set_errno(VR_ERR_SYSTEM);
    return 0;
  }
  install_startup_hooks();
  VR_set_argv(argc, argv, option_word & OPT_ARGV_IENC ? 0 : 1);
  worker *w = create_worker();
  if (w == nullptr) {
    vr_set_errno(VR_ERR_SYSTEM);
    return 0;
  }
  set_current_worker(w);
  /* The library directory: beside the boot directory's "bin/". */
  std::string install(boot_dir);
  if (install.size() >= 4 && install.compare(install.size() - 4, 4, "bin/") == 0)
    install.resize(install.size() - 4);
  vrio_set_system_property("VR_LIBRARY_DIR", (install + "library/").c_str());

  if (!(option_word & OPT_RESTORE))
    return 1;

  set_window_title(VR_get_emulator_version());
  const std::string boot_file = std::string(boot_dir) + boot_names[kind] + ".sav";
  if (vr_qload_or_restore(boot_file.c_str(), 0) != 1) {
    release_failed_bootfile();
    failed_bootfile = strdup(boot_file.c_str());
    vr_set_errno(VR_ERR_BOOTFILE);
    return 0;
  }
  if (option_word & OPT_DEVSYS) {
    /* The development system's set-up (quiet with option bit 13) belongs
       to its own support, which this runtime does not include. */
    vr_set_errno(VR_ERR_BOOT_FAILED);
    return 0;
  }
  return 1;
}

} // namespace

/* ---- Start and shutdown ---- */

int vr_glue_initialize(int argc, char **argv, VR_options *options, void **pre_linkage, char **pre_map,
                       int kind_word, int option_word)
{
  vr_set_errno(0);
  /* Volatile: read after a fault's long jump back here. */
  volatile int ok = 0;
  std::jmp_buf env;
  if (setjmp(env) != 0) {
    /* The fault cleared the abort point on its way here; the message is
       the fault's, and nothing is left half-built. */
    vr_get_abort_err_ienc();
    ok = 0;
  } else {
    vr_set_abort_env(&env);
    if (VR_prolog_initialized || engine_started)
      ok = 1;
    else
      ok = start_steps(argc, argv, options, pre_linkage, pre_map, kind_word, option_word);
  }
  vr_set_abort_env(nullptr);
  initial_options = nullptr;
  if (!ok) {
    if (VR_get_errno() == 0)
      vr_set_errno(VR_ERR_SYSTEM);
    engine_teardown();
  }
  return ok;
}

int VR_deinitialize(void)
{
  if (!engine_started && !vrio_inited)
    return 0;
  worker *w = self;
  if (vrio_inited)
    vrio_run_work_items(1);
  vr_test_and_clear_hard_interrupt();
  free_stream_event_listeners();
  if (engine_started && w != nullptr && w->node_ != nullptr) {
    disable_events();
    vr_run_event(w, 1);
  }
  release_failed_bootfile();
  if (VR_prolog_initialized && eglobal->prolog_module != nullptr) {
    definition *d = insert_definition(eglobal->prolog_module, init_atom_check("vr_deinitialize", 0), 0, 0);
    if (d != nullptr && d->proc.enter_instr != ENTER_UNDEFINED)
      vr_query_once(d, nullptr, false, true);
  }
  if (engine_started && w != nullptr && w->node_ != nullptr)
    unload_all_foreign_resources(w);
  disarm_cpu_timers();
  engine_teardown();
  int result = 0;
  if (vrio_inited) {
    result = vrio_init(nullptr, nullptr, nullptr, 1);
    vrio_inited = 0;
  }
  return result;
}

int VR_set_initial_options(VR_options *options)
{
  if (engine_started || VR_prolog_initialized)
    return 0;
  if (options != nullptr && !options_valid(options))
    return 0;
  initial_options = options;
  return 1;
}

/* ---- Arguments ---- */

int VR_set_argv(int argc, char **argv, unsigned options)
{
  if (!engine_started || eglobal->atmtabsize == 0) {
    vr_set_errno(VR_ERR_NOT_INITIALIZED);
    return 0;
  }
  if (argc < 0 || (argc > 0 && argv == nullptr)) {
    vr_set_errno(VR_ERR_INVALID_STRING);
    return 0;
  }
  char **copies = nullptr;
  if (argc > 0) {
    copies = static_cast<char **>(VR_malloc(static_cast<std::size_t>(argc) * sizeof(char *)));
    if (copies == nullptr) {
      vr_set_errno(VR_ERR_INVALID_STRING);
      return 0;
    }
  }
  for (int i = 0; i < argc; ++i) {
    const char *text = argv[i];
    if (text != nullptr && (options & 1))
      text = VR_from_os(text, 2);
    const TAGGED a = text != nullptr ? init_atom_check(text, 0) : 0;
    char *copy = a != 0 ? VR_strdup(atom_name(a)) : nullptr;
    if (copy == nullptr) {
      free_argv(copies, i);
      vr_set_errno(VR_ERR_INVALID_STRING);
      return 0;
    }
    copies[i] = copy;
  }
  free_argv(eglobal->persistent.argv_ienc, eglobal->persistent.argc);
  eglobal->persistent.argv_ienc = copies;
  eglobal->persistent.argc = argc;
  return 1;
}

/* ---- The boot state ---- */

void boot_state_loaded(void)
{
  eglobal->typein_mod = find_module(MakeAtom(atom_user_enum), 1);
  VR_prolog_initialized = 1;
}

namespace {

/* The saved-state reader on a name; afterwards the records of module
   prolog's public predicates are the ones callers already hold: the
   reader fills restored predicates into the existing records (it never
   replaces a record), so nothing is copied or forwarded here. */
int do_restore(const char *path)
{
  worker *w = self;
  const TAGGED name = init_atom_check(path, 0);
  if (name == 0 || w == nullptr)
    return 0;
  w->term[0] = name;
  w->term[1] = atom_nil;
  return prolog_restore(w);
}

} // namespace

int vr_qload_or_restore(const char *path, int qload)
{
  if (path == nullptr || !engine_started)
    return 0;
  if (qload != 0) {
    /* Quick-load files are not read by this runtime yet. */
    errprintf(0, "! quick-load files are not read by this runtime: %s\n", path);
    return 0;
  }
  const char *slash = std::strrchr(path, '/');
  const std::string resource = std::string("URL:x-vostrel-resource:/") + (slash != nullptr ? slash + 1 : path);
  if (do_restore(resource.c_str()) != 1 && do_restore(path) != 1)
    return 0;
  boot_state_loaded();
  return 1;
}

namespace {

/* Goal(Name), once, through the predicate visible from the type-in
   module (or module prolog's); -1 with "predicate not found" when there
   is none. */
int run_on_name(const char *pred, const char *name)
{
  if (!VR_prolog_initialized) {
    vr_set_errno(VR_ERR_NOT_INITIALIZED);
    return -1;
  }
  if (name == nullptr) {
    vr_set_errno(VR_ERR_NULL_STRING);
    return -1;
  }
  const TAGGED functor = init_atom_check(pred, 0);
  definition *d = nullptr;
  for (mod_def *m : {eglobal->typein_mod, eglobal->prolog_module})
    if (d == nullptr && m != nullptr) {
      definition *found = insert_definition(m, functor, 1, 0);
      if (found != nullptr && found->proc.enter_instr != ENTER_UNDEFINED)
        d = found;
    }
  if (d == nullptr) {
    vr_set_errno(VR_ERR_PREDICATE_NOT_FOUND);
    return -1;
  }
  const TAGGED arg = init_atom_check(name, 0);
  if (arg == 0) {
    vr_set_errno(VR_ERR_INVALID_STRING);
    return -1;
  }
  return vr_query_once(d, &arg, false, false);
}

} // namespace

int VR_restore(const char *name) { return run_on_name("restore", name); }

int VR_load(const char *name) { return run_on_name("load_files", name); }

/* ---- The boot directory, the program's paths, the data segment ---- */

char *alloc_bootpath(void)
{
  static const char *const templates[][4] = {
      {"$VR_APP_DIR/", "vr-4.1.3", "/", "vostrel-4.1.3/"},
      {"$VR_RT_DIR/", "vostrel-4.1.3", "/", ""},
      {"$VR_PATH/", "", "", ""},
      {"$VR_APP_DIR/", "", "", ""},
  };
  for (const auto &t : templates) {
    const std::string text = std::string(t[0]) + t[1] + t[2] + t[3];
    char *dir = vr_expand_file_name(text.c_str(), nullptr, 3);
    if (dir == nullptr)
      continue;
    std::string found(dir);
    VR_free(dir);
    if (vrio_test_file_access(found.c_str(), 0x20) != 0)
      continue;
    if (found.empty() || found.back() != '/')
      found += '/';
    return VR_strdup((found + "bin/").c_str());
  }
  return nullptr;
}

namespace {

/* The directory part (up to and including the last "/") of path expanded
   against cwd; empty when it cannot be had. */
std::string directory_of(const char *path, const char *cwd)
{
  char *full = vr_expand_file_name_internal(path, cwd, 12);
  if (full == nullptr)
    return {};
  const char *filename = nullptr;
  vr_split_path(full, nullptr, &filename, nullptr);
  std::string dir = filename != nullptr ? std::string(static_cast<const char *>(full), filename) : std::string();
  VR_free(full);
  return dir;
}

} // namespace

int set_app_paths(void)
{
  char *cwd = nullptr;
  if (vrio_get_working_directory(&cwd, 6) < 0)
    cwd = nullptr;
  std::string app_path, rt_path;
  char buf[4097];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf);
  if (n >= 1 && n <= 4096) {
    app_path.assign(buf, static_cast<std::size_t>(n));
  } else if (void *self_handle = dlopen(nullptr, RTLD_LAZY); self_handle != nullptr) {
    Dl_info info{};
    void *main_fn = dlsym(self_handle, "main");
    if (main_fn != nullptr && dladdr(main_fn, &info) != 0 && info.dli_fname != nullptr)
      app_path = info.dli_fname;
    dlclose(self_handle);
  }
  Dl_info info{};
  if (dladdr(reinterpret_cast<void *>(&vr_glue_initialize), &info) != 0 && info.dli_fname != nullptr)
    rt_path = info.dli_fname;
  const std::string app_dir = app_path.empty() ? std::string() : directory_of(app_path.c_str(), cwd);
  const std::string rt_dir = rt_path.empty() ? std::string() : directory_of(rt_path.c_str(), cwd);
  vrio_free(cwd);
  if (app_dir.empty() && rt_dir.empty())
    return -1;
  int r = vrio_set_system_property("VR_APP_DIR", (app_dir.empty() ? rt_dir : app_dir).c_str());
  if (r >= 0 && !app_path.empty())
    r = vrio_set_system_property("VR_APP_PATH", app_path.c_str());
  if (r >= 0)
    r = vrio_set_system_property("VR_RT_DIR", (rt_dir.empty() ? app_dir : rt_dir).c_str());
  if (r >= 0 && !rt_path.empty())
    r = vrio_set_system_property("VR_RT_PATH", rt_path.c_str());
  return r < 0 ? -1 : 0;
}

void set_data_segment_limit(void)
{
  char value[20];
  std::size_t size = sizeof value;
  if (vr_getenv_internal("VR_ULIMIT_DATA_SEGMENT_SIZE", value, &size, 2) == nullptr)
    return;
  rlimit limit{RLIM_INFINITY, RLIM_INFINITY};
  unsigned bytes = 0;
  if (strcasecmp(value, "unlimited") != 0 && str_to_size(value, &bytes) == 0 && bytes != 0)
    limit.rlim_cur = limit.rlim_max = bytes;
  setrlimit(RLIMIT_DATA, &limit);
}

/* ---- Small queries ---- */

const char *vr_get_failed_bootpath(void) { return failed_bootfile; }

const char *vr_get_boot_path(void) { return eglobal->persistent.boot_path_ienc; }

const char *VR_get_emulator_dir(void) { return EMULATOR_DIR; }

int vr_prolog_initialized(void) { return VR_prolog_initialized; }

void *vr_get_engine_global(void) { return eglobal; }

long vr_get_mem_usage(void) { return 0; }

int vr_is_development_system(void)
{
  return eglobal->current_system_type_flag == MakeAtom(atom_development_enum) ? 1 : 0;
}
