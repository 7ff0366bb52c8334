// The runtime's start and shutdown as programs meet them (through
// vr_glue_initialize, runtime_start and VR_deinitialize), and what the
// production start-up wires: the boot kinds and options, the boot
// directory, the program's arguments, what may and may not happen before
// and after a start, a second start in the same process, the predefined
// atoms; the runtime counts as initialised once its library is loaded, so
// atom creation collects by itself; stored terms held by engine variables
// and the stored exception keep their atoms; trimming at level 2 gives
// stack space back; an abort after start-up rebuilds the worker; and a
// fatal fault during start-up fails the start-up instead of ending the
// process.
#include <gtest/gtest.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/resource.h>
#include <sys/time.h>
#include <unistd.h>
#include <vector>

#include "config.h"
#include "exception_store.h"
#include "globref.h"
#include "initial_atoms.h"
#include "instance.h"
#include "memman.h"
#include "prolog_flags.h"
#include "runtime_fixture.h"
#include "stacks.h"
#include "terms.h"
#include "threads.h"

namespace {

// Start-up options of system properties, kept alive for the call.
struct Options {
  std::vector<VR_option> list;
  VR_options record{VR_OPTIONS_VERSION, 0, nullptr};
  Options(std::initializer_list<std::pair<const char *, const char *>> props)
  {
    for (const auto &p : props) {
      VR_option o{};
      o.type = VR_OPTION_TYPE_SYSTEM_PROPERTY;
      o.u.prop.key = p.first;
      o.u.prop.value = p.second;
      list.push_back(o);
    }
    record.noptions = static_cast<unsigned>(list.size());
    record.options = list.empty() ? nullptr : list.data();
  }
  VR_options *get() { return &record; }
};

int start(VR_options *options, int kind_word, int option_word)
{
  return vr_glue_initialize(0, nullptr, options, nullptr, nullptr, kind_word, option_word);
}

std::string program_dir()
{
  char buf[4097];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0)
    return "";
  std::string path(buf, static_cast<std::size_t>(n));
  return path.substr(0, path.rfind('/') + 1);
}

TEST(StartUp, WithoutABootStateTheRuntimeIsNotInitialised)
{
  worker *w = start_runtime_without_library();
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(VR_prolog_initialized, 0);
  EXPECT_EQ(vr_prolog_initialized(), 0);
  EXPECT_EQ(vr_get_failed_bootpath(), nullptr) << "no boot file is tried";
  EXPECT_EQ(is_in_main_thread(), 1) << "start-up records the thread that runs it";
  EXPECT_EQ(vr_is_development_system(), 0);
  EXPECT_STREQ(VR_get_emulator_dir(), "vostrel-4.1.3");
  EXPECT_EQ(vr_get_engine_global(), static_cast<void *>(eglobal));
  EXPECT_EQ(vr_get_mem_usage(), 0);
  take_runtime_down();
}

TEST(StartUp, ASecondStartOnlySucceedsAndTouchesNothing)
{
  worker *w = start_runtime_without_library();
  ASSERT_NE(w, nullptr);
  const std::uint32_t atoms = eglobal->atom_count;
  const TAGGED *top = w->global_top;
  // Kind 3 and a negative option word would each fail a first start.
  EXPECT_EQ(start(nullptr, 3, -1), 1);
  EXPECT_EQ(self, w);
  EXPECT_EQ(w->global_top, top);
  EXPECT_EQ(eglobal->atom_count, atoms);
  EXPECT_EQ(VR_get_errno(), 0);
  take_runtime_down();
}

TEST(StartUp, StartQueryStopStartQueryInOneProcess)
{
  for (int round = 0; round < 2; ++round) {
    ASSERT_EQ(runtime_start(0, nullptr), 1) << "round " << round;
    ASSERT_EQ(VR_prolog_initialized, 1);
    VR_term_ref g = VR_new_term_ref();
    ASSERT_EQ(VR_read_from_string(g, "(atom_length(abc, N), N =:= 3, assertz(user:seen(round))) .", nullptr), 1);
    EXPECT_EQ(VR_query(VR_predicate("call", 1, "prolog"), g), 1) << "round " << round;
    VR_term_ref h = VR_new_term_ref();
    ASSERT_EQ(VR_read_from_string(h, "findall(X, user:seen(X), [round]) .", nullptr), 1);
    EXPECT_EQ(VR_query(VR_predicate("call", 1, "prolog"), h), 1) << "round " << round << ": nothing kept from before";
    EXPECT_EQ(runtime_stop(), 0);
    EXPECT_EQ(VR_prolog_initialized, 0);
    EXPECT_EQ(VR_deinitialize(), 0) << "stopping twice does nothing";
  }
}

TEST(StartUp, ErrorsOfTheKindAndOptionWordsAndOfTheOptions)
{
  struct {
    const char *why;
    int kind_word, option_word;
    unsigned version;
    int want_errno;
  } cases[] = {
      {"kind 3", 3, 0, VR_OPTIONS_VERSION, VR_ERR_DOMAIN},
      {"a negative option word", 0, -1, VR_OPTIONS_VERSION, VR_ERR_DOMAIN},
      {"options of another version", 0, 0, 0x40000, VR_ERR_UNKNOWN},
  };
  for (const auto &c : cases) {
    Options o({});
    o.record.version = c.version;
    EXPECT_EQ(start(o.get(), c.kind_word, c.option_word), 0) << c.why;
    EXPECT_EQ(VR_get_errno(), c.want_errno) << c.why;
    EXPECT_EQ(self, &self_storage) << c.why << ": no worker is left behind";
  }
  VR_option bad{};
  bad.type = VR_OPTION_TYPE_SYSTEM_PROPERTY; // null key
  VR_options malformed{VR_OPTIONS_VERSION, 1, &bad};
  EXPECT_EQ(start(&malformed, 0, 0), 0);
  EXPECT_EQ(VR_get_errno(), VR_ERR_SYSTEM);
  // After all these failures a start works.
  ASSERT_NE(start_runtime_without_library(), nullptr);
  take_runtime_down();
}

// Start-up itself always publishes the program's own directory as
// VR_APP_DIR, so the search is driven here on properties that name no
// directory; start-up turns its null into error 15.
TEST(StartUp, NoTemplateNamingADirectoryGivesNoBootDirectory)
{
  ASSERT_NE(start_runtime_without_library(), nullptr);
  char *found = alloc_bootpath();
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(std::string(found), program_dir() + "bin/");
  VR_free(found);
  for (const char *key : {"VR_APP_DIR", "VR_RT_DIR", "VR_PATH"})
    ASSERT_EQ(VR_set_system_property(key, "/nonexistent/dir"), 0);
  EXPECT_EQ(alloc_bootpath(), nullptr);
  ASSERT_EQ(VR_set_system_property("VR_PATH", "/"), 0);
  found = alloc_bootpath();
  ASSERT_NE(found, nullptr);
  EXPECT_STREQ(found, "/bin/") << "only the directory must exist, not a boot file in it";
  VR_free(found);
  take_runtime_down();
}

TEST(StartUp, TheBootDirectoryIsTheFirstTemplateThatNamesADirectory)
{
  // Without VR_PATH and the versioned directories: the program's own.
  ASSERT_EQ(start(nullptr, 0, 0), 1);
  EXPECT_EQ(std::string(vr_get_boot_path()), program_dir() + "bin/");
  char *value = nullptr;
  ASSERT_EQ(VR_get_system_property("VR_LIBRARY_DIR", &value, 0), 0);
  EXPECT_EQ(std::string(value), program_dir() + "library/");
  VR_free(value);
  take_runtime_down();

  // VR_PATH comes before the program's directory; the directory need not
  // hold a boot file, and a boot file that cannot be restored is error 3
  // with its name kept.
  char tmpl[] = "/tmp/startup_boot_XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  const std::string dir = tmpl;
  struct { int kind; const char *file; } kinds[] = {{0, "vrrt.sav"}, {2, "vrre.sav"}};
  for (const auto &k : kinds) {
    Options o({{"VR_PATH", dir.c_str()}});
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(start(o.get(), k.kind, 1), 0) << k.file;
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(VR_get_errno(), VR_ERR_BOOTFILE) << k.file;
    ASSERT_NE(vr_get_failed_bootpath(), nullptr);
    EXPECT_EQ(std::string(vr_get_failed_bootpath()), dir + "/bin/" + k.file);
    EXPECT_EQ(VR_prolog_initialized, 0);
    VR_deinitialize();
    EXPECT_EQ(vr_get_failed_bootpath(), nullptr) << "released by the shutdown";
  }
  rmdir(dir.c_str());
}

TEST(StartUp, TheArgumentsAreReplacedWholeOrNotAtAll)
{
  char a0[] = "first", a1[] = "zw\xc3\xb6lf";
  char *argv[] = {a0, a1};
  ASSERT_EQ(vr_glue_initialize(2, argv, nullptr, nullptr, nullptr, 0, 0), 1);
  ASSERT_EQ(eglobal->persistent.argc, 2);
  EXPECT_STREQ(eglobal->persistent.argv_ienc[0], "first");
  EXPECT_STREQ(eglobal->persistent.argv_ienc[1], "zw\xc3\xb6lf");

  char good[] = "good", bad[] = "bad\xff\xfe";
  char *mixed[] = {good, bad};
  EXPECT_EQ(VR_set_argv(2, mixed, 1), 0) << "text that is not valid in the system's encoding";
  EXPECT_EQ(VR_get_errno(), VR_ERR_INVALID_STRING);
  char *with_null[] = {good, nullptr};
  EXPECT_EQ(VR_set_argv(2, with_null, 0), 0) << "a null argument";
  EXPECT_EQ(VR_get_errno(), VR_ERR_INVALID_STRING);
  ASSERT_EQ(eglobal->persistent.argc, 2) << "the previous list stays";
  EXPECT_STREQ(eglobal->persistent.argv_ienc[0], "first");

  EXPECT_EQ(VR_set_argv(0, nullptr, 1), 1);
  EXPECT_EQ(eglobal->persistent.argc, 0);
  EXPECT_EQ(eglobal->persistent.argv_ienc, nullptr);
  take_runtime_down();
  EXPECT_EQ(VR_set_argv(1, argv, 1), 0) << "no runtime";
}

TEST(StartUp, OptionsAndMemoryHooksOnlyBeforeTheStart)
{
  Options o({{"TRELIX_STARTUP_TEST", "yes"}});
  VR_options wrong_version{0x40000, 0, nullptr};
  EXPECT_EQ(VR_set_initial_options(&wrong_version), 0);
  VR_option null_type{};
  VR_options invalid{VR_OPTIONS_VERSION, 1, &null_type};
  EXPECT_EQ(VR_set_initial_options(&invalid), 0) << "an option of type 0";
  VR_options null_array{VR_OPTIONS_VERSION, 2, nullptr};
  EXPECT_EQ(VR_set_initial_options(&null_array), 0);
  ASSERT_EQ(VR_set_initial_options(o.get()), 1);
  ASSERT_NE(start_runtime_without_library(), nullptr);
  EXPECT_EQ(get_boolean("TRELIX_STARTUP_TEST", 0), 1) << "the recorded options reach the start";
  EXPECT_EQ(VR_set_initial_options(o.get()), 0) << "after the start";
  EXPECT_EQ(VR_set_initial_options(nullptr), 0) << "after the start";
  EXPECT_EQ(VR_set_memalloc_hooks(1, nullptr, nullptr, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(VR_get_errno(), VR_ERR_UNKNOWN);
  take_runtime_down();
}

// A fault during the start (here: a memory ceiling the library does not
// fit under) fails it with its message instead of ending the process, and
// takes down what it had built, so that the next start works.
TEST(StartUp, AFaultDuringStartUpFailsItAndTheNextStartWorks)
{
  Options o({{"PROLOGMAXSIZE", "1M"}});
  ASSERT_EQ(VR_set_initial_options(o.get()), 1);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(runtime_start(0, nullptr), 0);
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("start-up failed"), std::string::npos) << err;
  EXPECT_EQ(VR_prolog_initialized, 0);
  ASSERT_EQ(runtime_start(0, nullptr), 1);
  EXPECT_EQ(VR_prolog_initialized, 1);
  runtime_stop();
}

TEST(StartUp, TheShutdownDisarmsCpuTimers)
{
  ASSERT_NE(start_runtime_without_library(), nullptr);
  const itimerval hour{{3600, 0}, {3600, 0}};
  ASSERT_EQ(setitimer(ITIMER_VIRTUAL, &hour, nullptr), 0);
  ASSERT_EQ(setitimer(ITIMER_PROF, &hour, nullptr), 0);
  take_runtime_down();
  for (int which : {ITIMER_VIRTUAL, ITIMER_PROF}) {
    itimerval now{};
    ASSERT_EQ(getitimer(which, &now), 0);
    EXPECT_EQ(now.it_value.tv_sec, 0) << "timer " << which << " still armed";
    EXPECT_EQ(now.it_value.tv_usec, 0) << "timer " << which << " still armed";
  }
}

TEST(StartUp, ThePredefinedAtomsHaveTheirNumbers)
{
  ASSERT_NE(start_runtime_without_library(), nullptr);
  EXPECT_STREQ(atom_name(MakeAtom(37)), "vostrel");
  EXPECT_STREQ(atom_name(MakeAtom(20)), "");
  EXPECT_STREQ(atom_name(MakeAtom(0)), "[]");
  EXPECT_STREQ(atom_name(MakeAtom(235)), "term");
  EXPECT_STREQ(atom_name(MakeAtom(first_unused_atom_number)), "linux");
  const TAGGED nul = eglobal->one_char_cache[0];
  EXPECT_EQ(atom_record(nul)->length, 2u);
  EXPECT_EQ(static_cast<unsigned char>(atom_name(nul)[0]), 0xC0);
  EXPECT_EQ(static_cast<unsigned char>(atom_name(nul)[1]), 0x80);
  EXPECT_STREQ(atom_name(eglobal->one_char_cache['a']), "a");
  EXPECT_STREQ(atom_name(eglobal->one_char_cache[0xE9]), "\xc3\xa9");
  take_runtime_down();
}

TEST(StartUp, RestoringWhatIsNotThereFailsWithoutACrash)
{
  ASSERT_EQ(runtime_start(0, nullptr), 1);
  ::testing::internal::CaptureStderr();
  const int restored = VR_restore("/nonexistent/dir/missing.sav");
  EXPECT_TRUE(restored == 0 || restored == -1) << restored;
  EXPECT_EQ(vr_qload_or_restore("/nonexistent/dir/vrrt.sav", 0), 0);
  EXPECT_EQ(vr_qload_or_restore("/nonexistent/dir/vrrt.ql", 1), 0) << "quick-load files are not read";
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("vrrt.ql"), std::string::npos) << err;
  EXPECT_EQ(VR_prolog_initialized, 1) << "the running runtime is left as it was";
  VR_term_ref g = VR_new_term_ref();
  ASSERT_EQ(VR_read_from_string(g, "X = 1 .", nullptr), 1);
  EXPECT_EQ(VR_query(VR_predicate("call", 1, "prolog"), g), 1);
  runtime_stop();
}

TEST(StartUp, TheBuiltInTableFillsPredsInItsOrderAndTheFlagsHaveTheirDefaults)
{
  ASSERT_NE(start_runtime_without_library(), nullptr);
  struct { definition *d; const char *name; int arity; const char *module; } saved[] = {
      {preds.user_event, "$user_event", 0, "prolog"}, {preds.rdtok, "$read_token", 6, "prolog"},
      {preds.zap_chpt, "$zap_chpt", 1, "prolog"},     {preds.true0, "true", 0, "prolog"},
      {preds.call_int, "call_internal", 1, "prolog"}, {preds.call, "$nodebug_call", 3, "prolog"},
      {preds.evaluate, "evaluate", 4, "prolog"},      {preds.fd_unify, "fd_unify", 2, "clpfd"},
  };
  for (const auto &e : saved) {
    ASSERT_NE(e.d, nullptr) << e.name;
    EXPECT_STREQ(atom_name(e.d->proc.printname), e.name);
    EXPECT_EQ(e.d->proc.arity, e.arity) << e.name;
    EXPECT_STREQ(atom_name(e.d->module->name), e.module) << e.name;
    EXPECT_NE(e.d->proc.properties & PROP_LOCKED, 0u) << e.name << " may be dropped as a dead predicate";
  }
  EXPECT_NE(preds.fail->proc.properties & PROP_HIDDEN, 0u);
  for (try_node *n : {preds.nd_current_atom, preds.nd_current_module, preds.nd_current_instance,
                      preds.nd_predicate_property, preds.nd_cerror, preds.nd_raise_excp})
    EXPECT_NE(n, nullptr);
  for (const char *m : {"prolog", "user", "clpfd", "alignments", "structs"})
    EXPECT_NE(find_module(init_atom_check(m, 0), 0), nullptr) << m;
  EXPECT_EQ(eglobal->current_system_type_flag, init_atom_check("runtime", 0));
  EXPECT_EQ(eglobal->current_redefine_flag, MakeAtom(atom_off_enum)) << "off in a runtime system";
  EXPECT_EQ(eglobal->current_informational_flag, MakeAtom(atom_off_enum));
  EXPECT_EQ(eglobal->current_gcmargin, MakeSmall_checked(1000));
  EXPECT_EQ(eglobal->current_compiling, MakeAtom(atom_compactcode_enum));
  EXPECT_STREQ(atom_name(eglobal->current_version_flag), VR_get_emulator_version());
  EXPECT_EQ(eglobal->current_window_title, 0u);
  take_runtime_down();
}

TEST(StartUp, TheShutdownRunsTheLibrarysLastGoalAndFlushesItsOutput)
{
  char path[] = "/tmp/startup_last_goal_XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  ASSERT_EQ(runtime_start(0, nullptr), 1);
  const std::string clause = std::string("assertz(prolog:(vr_deinitialize :- open('") + path +
                             "', write, S), write(S, bye), nl(S)))";
  VR_term_ref g = VR_new_term_ref();
  ASSERT_EQ(VR_read_from_string(g, (clause + " .").c_str(), nullptr), 1);
  ASSERT_EQ(VR_query(VR_predicate("call", 1, "prolog"), g), 1);
  runtime_stop();
  // The stream was left open: the shutdown closed it after the goal ran.
  std::FILE *f = std::fopen(path, "r");
  ASSERT_NE(f, nullptr);
  char buf[16] = {0};
  EXPECT_NE(std::fgets(buf, sizeof buf, f), nullptr);
  std::fclose(f);
  unlink(path);
  EXPECT_STREQ(buf, "bye\n");
}

int title_set_calls = 0;
int set_title(const char *title, void *cookie)
{
  ++title_set_calls;
  return std::strcmp(title, "mine") == 0 && cookie == &title_set_calls ? 7 : -1;
}
const char *get_title(void *cookie) { return static_cast<const char *>(cookie); }

TEST(StartUp, WindowTitleHooksReplaceTheKeptTitle)
{
  ASSERT_NE(start_runtime_without_library(), nullptr);
  EXPECT_STREQ(get_window_title(), VR_get_emulator_version()) << "no title set";
  EXPECT_EQ(set_window_title("kept"), 0) << "no title before";
  EXPECT_EQ(set_window_title("kept again"), 1) << "a title was replaced";
  EXPECT_STREQ(get_window_title(), "kept again");
  static char theirs[] = "theirs";
  EXPECT_EQ(VR_set_set_window_title_hook(set_title, &title_set_calls), nullptr);
  EXPECT_EQ(VR_set_get_window_title_hook(get_title, theirs), nullptr);
  EXPECT_EQ(set_window_title("mine"), 7) << "the hook's result, with its cookie";
  EXPECT_EQ(title_set_calls, 1);
  EXPECT_STREQ(get_window_title(), "theirs");
  EXPECT_EQ(VR_set_set_window_title_hook(nullptr, nullptr), set_title);
  EXPECT_EQ(VR_set_get_window_title_hook(nullptr, nullptr), get_title);
  EXPECT_STREQ(get_window_title(), "kept again");
  take_runtime_down();
}

// The data-segment limit from VR_ULIMIT_DATA_SEGMENT_SIZE.  Every form
// that means "no limit" first, then a finite one, which for a process
// without privileges cannot be raised again (the suite runs a process per
// case under the emulator, see CMakeLists.txt).
TEST(DataSegmentLimit, SetFromTheStartUpOptions)
{
  rlimit now{};
  ASSERT_EQ(getrlimit(RLIMIT_DATA, &now), 0);
  if (now.rlim_max != RLIM_INFINITY)
    GTEST_SKIP() << "the hard data-segment limit is finite already and may not be raised";
  const rlim_t three_g = 3ull << 30;
  struct {
    const char *value;
    rlim_t want;
  } cases[] = {
      {"unlimited", RLIM_INFINITY}, {"UnLiMiTeD", RLIM_INFINITY}, {"0", RLIM_INFINITY},
      {"no digits", RLIM_INFINITY}, {"", RLIM_INFINITY},       {"4G", RLIM_INFINITY}, // too large
      {"3G", three_g},
      {"0000000000000000001K", three_g}, // 20 characters: ignored, the limit stays
  };
  for (const auto &c : cases) {
#ifdef TRELIX_EMULATED
    if (c.want != RLIM_INFINITY) {
      std::printf("skipping '%s': the emulator keeps the data-segment limit to itself\n", c.value);
      continue;
    }
#endif
    Options o({{"VR_ULIMIT_DATA_SEGMENT_SIZE", c.value}});
    ASSERT_EQ(start(o.get(), 0, 0), 1) << c.value;
    ASSERT_EQ(getrlimit(RLIMIT_DATA, &now), 0);
    EXPECT_EQ(now.rlim_cur, c.want) << "soft limit for '" << c.value << "'";
    EXPECT_EQ(now.rlim_max, c.want) << "hard limit for '" << c.value << "'";
    take_runtime_down();
  }
}

using Runtime = RuntimeFixture;

TEST_F(Runtime, LoadingTheLibraryInitialisesTheRuntimeAndAtomsAreCollectedUnasked)
{
  ASSERT_EQ(VR_prolog_initialized, 1);
  const std::int64_t runs = eglobal->stats.agc_count;
  // One more atom than the margin leaves room for makes the count reach
  // the limit.
  const std::uint32_t room = eglobal->atom_count_limit - eglobal->atom_count;
  char name[32];
  for (std::uint32_t i = 0; i <= room; ++i) {
    std::snprintf(name, sizeof name, "unasked_%u", i);
    atom(name);
  }
  EXPECT_EQ(eglobal->stats.agc_count, runs + 1) << "reaching the limit must collect";
  EXPECT_FALSE(exists("unasked_0")) << "a garbage atom survived the collection";
}

// The image of [_ | f(Name)] with Name a fresh atom that nothing else holds.
instance *stored_term_with_new_atom(worker *w, const char *name)
{
  TAGGED *h = w->global_top;
  w->global_top += 4;
  h[0] = PointerToTerm(&h[0]);
  h[1] = MakeSTR(&h[2]);
  h[2] = MakeFunctor(init_atom_check("f", 0), 1);
  h[3] = init_atom_check(name, 0);
  instance *ins = compile_term(w, MakeLST(h), 0);
  w->global_top = h;
  return ins;
}

TEST_F(Runtime, StoredTermsInEngineVariablesKeepTheirAtoms)
{
  // A worker variable and a global variable each hold a stored term (its
  // instance's address plus 1), as the debugger's auxiliary slots do.
  instance *in_worker = stored_term_with_new_atom(w, "held_by_a_worker_var");
  instance *in_global = stored_term_with_new_atom(w, "held_by_a_global_var");
  w->worker_vars[5] = reinterpret_cast<TAGGED>(in_worker) + 1;
  eglobal->global_vars[2] = reinterpret_cast<TAGGED>(in_global) + 1;
  atom("held_by_nothing");
  prolog_garbage_collect_atoms(w);
  EXPECT_TRUE(exists("held_by_a_worker_var"));
  EXPECT_TRUE(exists("held_by_a_global_var"));
  EXPECT_FALSE(exists("held_by_nothing"));
  w->worker_vars[5] = eglobal->global_vars[2] = MakeAtom(atom_off_enum);
  checkdealloc(in_worker, in_worker->objsize, mm_code(MM_BIN_INSTANCE));
  checkdealloc(in_global, in_global->objsize, mm_code(MM_BIN_INSTANCE));
}

TEST_F(Runtime, TheStoredExceptionKeepsItsAtoms)
{
  TAGGED *h = w->global_top;
  w->global_top += 2;
  h[0] = MakeFunctor(atom("ball"), 1);
  h[1] = atom("thrown_and_not_yet_caught");
  w->term[0] = MakeSTR(h);
  ASSERT_EQ(prolog_store_exception(w), 1);
  w->global_top = h;
  w->term[0] = atom_nil;
  prolog_garbage_collect_atoms(w);
  ASSERT_TRUE(exists("thrown_and_not_yet_caught"));
  const TAGGED ball = load_stored_exception(w);
  ASSERT_TRUE(IsStructure(ball));
  EXPECT_EQ(TagToSTR(ball)[1], atom("thrown_and_not_yet_caught"));
  erase_stored_exception();
}

TEST_F(Runtime, TrimLevelTwoGivesBackTheStackSpaceNotInUse)
{
  // A term that must survive the moves, held by a global reference.
  VR_globref held = VR_alloc_globrefs(1);
  TAGGED *h = w->global_top;
  w->global_top += 3;
  h[0] = MakeFunctor(atom("kept"), 2);
  h[1] = MakeSmall_checked(42);
  h[2] = atom("across_the_shrink");
  held->term = MakeSTR(h);

  const auto trail_bytes = [&] { return static_cast<std::size_t>(w->trail_end - w->trail_start) * sizeof(TAGGED); };
  const std::size_t heap0 = heap_block_bytes(w), trail0 = trail_bytes();
  heap_overflow(w, static_cast<int>(w->heap_end - w->heap_start) + 100000, 528);
  choice_overflow(w, -50000);
  const std::size_t heap1 = heap_block_bytes(w), trail1 = trail_bytes();
  ASSERT_GT(heap1, heap0);
  ASSERT_GT(trail1, trail0);
  trimcore(w, 1);
  EXPECT_EQ(heap_block_bytes(w), heap1) << "level 1 does not touch the stacks";
  EXPECT_EQ(trail_bytes(), trail1) << "level 1 does not touch the stacks";

  // What the stacks use plus their margins, as a valid stack size, but
  // never below the sizes start-up gave them.
  const int heap_words = static_cast<int>(w->global_top - w->heap_start) + 1152;
  const int local_words = static_cast<int>(w->local_top - w->stack_start) + 528;
  const std::size_t heap_want = std::max<std::size_t>(
      eglobal->min_heap, adjust_stack_size(static_cast<std::size_t>(heap_block_words(heap_words, local_words)) * 4));
  const long choice_words = static_cast<long>(w->trail_top - w->trail_start) +
                            static_cast<long>(w->choice_start - reinterpret_cast<TAGGED *>(w->node_)) -
                            w->value_trail + 512;
  const std::size_t trail_want = std::max<std::size_t>(
      eglobal->min_choice,
      adjust_stack_size(static_cast<std::size_t>(required_choice_size(static_cast<int>(choice_words))) * 4));
  ASSERT_LT(heap_want, heap1);
  ASSERT_LT(trail_want, trail1);
  trimcore(w, 2);
  EXPECT_EQ(heap_block_bytes(w), heap_want) << "the heap-and-local block keeps only what it uses";
  EXPECT_EQ(trail_bytes(), trail_want) << "the trail-and-choice block keeps only what it uses";
  const TAGGED *k = TagToSTR(held->term);
  EXPECT_EQ(k[0], MakeFunctor(atom("kept"), 2));
  EXPECT_EQ(k[1], MakeSmall_checked(42));
  EXPECT_EQ(k[2], atom("across_the_shrink"));
  EXPECT_GE(w->stack_start - w->global_top, HEAP_WARN_MARGIN);
  VR_free_globrefs(held);

  // The running system still works on the smaller stacks.
  EXPECT_EQ(run("(length(L, 20000), L = [a|_])"), 1);
}

TEST_F(Runtime, AnAbortAfterStartUpRebuildsTheWorkerAndTheRuntimeGoesOn)
{
  // An embedder's abort point around its own work.
  w->global_top += 100;
  static std::jmp_buf env;
  vr_set_abort_env(&env);
  if (setjmp(env) == 0) {
    VR_raise_fault("a fault of the embedder's work");
    FAIL() << "VR_raise_fault returned";
  }
  EXPECT_STREQ(vr_get_abort_err_ienc(), "a fault of the embedder's work");
  w = self;
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->global_top, w->heap_start + FLI_PREDEFINED_HEAP_WORDS) << "the worker was not rebuilt";
  EXPECT_EQ(w->node_, reinterpret_cast<node *>(w->choice_start - 9));
  EXPECT_EQ(run("(X is 6 * 7, X == 42)"), 1);
}

} // namespace
