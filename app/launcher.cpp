/* launcher.cpp: the launcher body.
 *
 * Starts the runtime with the resources linked into the executable
 * (launcher_resources.cpp), hands it the command line, restores the
 * application's state "/trelix.sav" from those resources, runs
 * prolog:main/0 and turns the outcome into the exit status: 0 success,
 * N /\ 255 after halt(N), 1 for everything else.  Every failure is
 * reported once on standard error.  Everything goes through the main
 * dispatch table of the interface structure; the only symbol of the
 * runtime named here is VR_get_dispatch_40103.  A slot whose function
 * the runtime does not offer (a null pointer) counts as a failed call.
 *
 * Caller: vr_main_internal, once per process, on the main thread.
 */
#include <cstdio>

#include "vostrel/vostrel.h"

extern void *vr_pre_linkage[];
extern char *vr_pre_map[];

int user_main(int argc, char **argv);
int get_reserved_exception(long *pdata);
int SU_initialize(void);

namespace {

const char APP_STATE_URL[] = "URL:x-vostrel-resource:/trelix.sav";

/* Reserved exception kinds ('$reserved'(N), kind N /\ 255). */
constexpr int RESERVED_ABORT = 3, RESERVED_HALT = 4;
constexpr int ERR_BOOTFILE = 3;

VREnv *vr_GlobalVostrel = nullptr;

DISPATCH_TABLE_STRUCT_VOSTREL_H *api()
{
  if (vr_GlobalVostrel == nullptr)
    vr_GlobalVostrel = VR_get_dispatch_40103(0);
  return vr_GlobalVostrel->dispatch_API_VOSTREL_H;
}

/* A slot's function with its contract's type (slots not yet typed in the
   header hold a generic pointer). */
template <typename F, typename P> F *fn(P p) { return reinterpret_cast<F *>(p); }

void message(const char *format, const char *text = nullptr)
{
  std::fprintf(stderr, format, text);
  std::fflush(stderr);
}

int initialization_failed(void)
{
  auto get_errno = fn<int(void)>(api()->pVR_get_errno);
  const int err = get_errno != nullptr ? get_errno() : 0;
  if (err == ERR_BOOTFILE) {
    auto failed_bootpath = fn<const char *(void)>(api()->pvr_get_failed_bootpath);
    const char *path = failed_bootpath != nullptr ? failed_bootpath() : nullptr;
    message("! Prolog engine initialization failed: could not find bootfile %s\n", path != nullptr ? path : "");
  } else if (err != 0) {
    message("! Prolog engine initialization failed: %s\n", api()->pVR_error_message(err));
  } else {
    message("! Prolog engine initialization failed\n");
  }
  return 1;
}

/* Steps 3 to 6: the runtime is up. */
int run(int argc, char **argv)
{
  auto set_argv = fn<int(int, char **, unsigned)>(api()->pVR_set_argv);
  if (set_argv == nullptr || set_argv(argc, argv, 1) == 0) {
    message("! Prolog engine initialization failed. Malformed or overlong command line.\n");
    return 1;
  }
  auto restore = fn<int(const char *)>(api()->pVR_restore);
  const int restored = restore != nullptr ? restore(APP_STATE_URL) : 0;
  if (restored != 1) {
    if (restored == -1) {
      long data = 0;
      const int kind = get_reserved_exception(&data);
      if (kind == RESERVED_ABORT)
        return 1;
      if (kind == RESERVED_HALT)
        return static_cast<int>(data & 255);
    }
    message("! Could not restore \"%s\".\n", APP_STATE_URL);
    return 1;
  }
  VR_pred_ref pred = api()->pVR_predicate("main", 0, "prolog");
  if (pred == nullptr) {
    message("! Could not find entrypoint: %s\n", api()->pVR_error_message(api()->pVR_get_errno()));
    return 1;
  }
  const int res = api()->pVR_query(pred);
  if (res == 1)
    return 0;
  if (res == -1) {
    long data = 0;
    if (get_reserved_exception(&data) == RESERVED_HALT)
      return static_cast<int>(data & 255);
  }
  return 1;
}

} // namespace

int get_reserved_exception(long *pdata)
{
  VR_term_ref t = api()->pVR_new_term_ref();
  if (!api()->pVR_exception_term(t))
    return -1;
  int data = 0;
  const int kind = api()->pVR_decode_reserved_exception(t, &data);
  if (kind <= 0)
    return -1;
  *pdata = data;
  return kind;
}

int user_main(int argc, char **argv)
{
  /* Prolog's arguments leave out the program name. */
  const int count = argc > 0 ? argc - 1 : 0;
  char **vector = argc > 0 ? argv + 1 : argv;
  const int up = api()->pvr_glue_initialize(0, nullptr, nullptr, vr_pre_linkage, vr_pre_map, 0, 1);
  const int status = up == 1 ? run(count, vector) : initialization_failed();
  api()->pVR_deinitialize();
  return status;
}

int SU_initialize(void) { return 0; }
