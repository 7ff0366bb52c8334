/* fli_instances.cpp: several runtime instances in one process, and the
 * interface's mutexes.
 *
 * Every instance is a separate copy of the runtime, loaded as a numbered
 * shared library (its engine state is its own statics).  All instances
 * share one record with a recursive mutex, allocated by the first and
 * handed to each newly loaded one (VR_set_multi_vr_state); that mutex
 * guards the loading of further instances and the creation of the
 * interface's mutexes.  The executable's own runtime is instance 1.
 *
 * These are the only interface functions meant for any thread.
 */
#include <dlfcn.h>
#include <pthread.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fli.h"

namespace {

int multi_vr_inited = 0;
VR_multi_vr_state *multi_vr = nullptr;
pthread_mutex_t multi_vr_init_mutex = PTHREAD_MUTEX_INITIALIZER;

pthread_mutex_t *new_recursive_mutex()
{
  pthread_mutex_t *m = static_cast<pthread_mutex_t *>(std::malloc(sizeof(pthread_mutex_t)));
  if (m == nullptr)
    return nullptr;
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  const int r = pthread_mutex_init(m, &attr);
  pthread_mutexattr_destroy(&attr);
  if (r != 0) {
    std::free(m);
    return nullptr;
  }
  return m;
}

pthread_mutex_t *shared_mutex() { return static_cast<pthread_mutex_t *>(multi_vr->mutex); }

/* m's mutex, made when create is set and it has none; the caller holds
   the shared mutex. */
pthread_mutex_t *mutex_of(VR_mutex *m, bool create)
{
  if (*m == nullptr && create)
    *m = reinterpret_cast<VR_mutex>(new_recursive_mutex());
  return reinterpret_cast<pthread_mutex_t *>(*m);
}

} // namespace

int multi_vr_init(void)
{
  pthread_mutex_lock(&multi_vr_init_mutex);
  int ok = 1;
  if (multi_vr == nullptr) {
    VR_multi_vr_state *s = static_cast<VR_multi_vr_state *>(std::malloc(sizeof(VR_multi_vr_state)));
    pthread_mutex_t *m = s != nullptr ? new_recursive_mutex() : nullptr;
    if (m == nullptr) {
      std::free(s);
      ok = 0;
    } else {
      s->refcount = 1;
      s->mutex = m;
      s->runtimes_loaded = 1;
      s->reserved = nullptr;
      multi_vr = s;
      ++multi_vr_inited;
    }
  }
  pthread_mutex_unlock(&multi_vr_init_mutex);
  return ok;
}

int VR_set_multi_vr_state(VR_multi_vr_state *state)
{
  static int calls = 0;
  pthread_mutex_lock(&multi_vr_init_mutex);
  int adopted = 0;
  if (calls++ == 0 && state != nullptr) {
    pthread_mutex_lock(static_cast<pthread_mutex_t *>(state->mutex));
    ++state->refcount;
    pthread_mutex_unlock(static_cast<pthread_mutex_t *>(state->mutex));
    multi_vr = state;
    ++multi_vr_inited;
    adopted = 1;
  }
  pthread_mutex_unlock(&multi_vr_init_mutex);
  return adopted;
}

int load_vostrel_run_time(VR_get_dispatch_fn **out, void **handle, int counter)
{
  /* The directory of the object holding this code: the running runtime. */
  Dl_info info;
  if (dladdr(reinterpret_cast<void *>(&load_vostrel_run_time), &info) == 0 || info.dli_fname == nullptr)
    return -1;
  char path[4096];
  const char *slash = std::strrchr(info.dli_fname, '/');
  const std::size_t dir = slash != nullptr ? static_cast<std::size_t>(slash - info.dli_fname) : 0;
  const char *base = slash != nullptr ? info.dli_fname : ".";
  const std::size_t dir_len = slash != nullptr ? dir : 1;
  const int n = std::snprintf(path, sizeof path, "%.*s/libvrrt4-1-3-instance-%02X.so", static_cast<int>(dir_len),
                              base, static_cast<unsigned>(counter + 1) & 0xFF);
  if (n < 0 || static_cast<std::size_t>(n) >= sizeof path)
    return -1;
  void *h = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (h == nullptr)
    return -1;
  void *getter = dlsym(h, "VR_get_dispatch_40103");
  if (getter == nullptr) {
    dlclose(h);
    return -1;
  }
  if (out != nullptr)
    *out = reinterpret_cast<VR_get_dispatch_fn *>(getter);
  if (handle != nullptr)
    *handle = h;
  return counter;
}

int VR_load_vostrel_run_time(VR_get_dispatch_fn **out, void **handle)
{
  if (multi_vr == nullptr) {
    if (!multi_vr_init())
      return -1;
    pthread_mutex_lock(shared_mutex());
    if (handle != nullptr)
      *handle = nullptr;
    *out = VR_get_dispatch_40103;
    pthread_mutex_unlock(shared_mutex());
    return 1;
  }
  pthread_mutex_lock(shared_mutex());
  int result = -1;
  VR_get_dispatch_fn *getter = nullptr;
  void *h = nullptr;
  if (load_vostrel_run_time(&getter, &h, multi_vr->runtimes_loaded) >= 0) {
    ++multi_vr->runtimes_loaded;
    VREnv *env = getter(nullptr);
    if (env != nullptr && env->dispatch_API_VOSTREL_H->pVR_set_multi_vr_state != nullptr &&
        env->dispatch_API_VOSTREL_H->pVR_set_multi_vr_state(multi_vr) != 0) {
      if (handle != nullptr)
        *handle = h;
      *out = getter;
      result = 1;
    }
  }
  pthread_mutex_unlock(shared_mutex());
  return result;
}

int VR_mutex_lock(VR_mutex *m)
{
  if (multi_vr == nullptr && !multi_vr_init())
    return 0;
  pthread_mutex_lock(shared_mutex());
  pthread_mutex_t *mx = mutex_of(m, true);
  pthread_mutex_unlock(shared_mutex());
  if (mx == nullptr)
    return 0;
  pthread_mutex_lock(mx);
  return 1;
}

int VR_mutex_unlock(VR_mutex *m)
{
  pthread_mutex_t *mx = nullptr;
  if (multi_vr != nullptr) {
    pthread_mutex_lock(shared_mutex());
    mx = mutex_of(m, false);
    pthread_mutex_unlock(shared_mutex());
  }
  if (mx == nullptr) {
    vr_set_errno(VR_ERR_UNKNOWN);
    return 0;
  }
  pthread_mutex_unlock(mx);
  return 1;
}

int VR_mutex_destroy(VR_mutex *m)
{
  if (multi_vr == nullptr)
    return 1;
  pthread_mutex_lock(shared_mutex());
  pthread_mutex_t *mx = mutex_of(m, false);
  if (mx != nullptr) {
    pthread_mutex_destroy(mx);
    std::free(mx);
    *m = nullptr;
  }
  pthread_mutex_unlock(shared_mutex());
  return 1;
}
