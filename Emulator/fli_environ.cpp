/* fli_environ.cpp: environment variables and system properties for the
 * runtime and the interface, and the built-ins $getenv/2 and
 * $platform_name/1; the memory hooks an embedding program installs before
 * start-up.
 *
 * A key is looked up by the I/O library: first among its initialisation
 * options, then in its own property environment, then (unless the caller
 * says otherwise) in the process environment.  Setting a property sets it
 * in the library's own environment, never in the process's.  Values are
 * internal-encoding text.  Engine thread only (the library's property
 * environment does not lock).
 */
#include <cstring>

#include "atoms.h"
#include "fli.h"
#include "memman.h"
#include "terms.h"
#include "unify.h"
#include "vostrel/vrio.h"
#include "worker.h"

int vr_get_system_property_internal(const char *key, char *buf, std::size_t *size, char **value,
                                    unsigned options)
{
  if (size != nullptr) {
    const int r = vrio_get_system_property(key, buf, size, options);
    if (r >= 0 && value != nullptr)
      *value = buf;
    return r < 0 ? r : 0;
  }
  if (!mem_initialized)
    return VRIO_E_INTERNAL_ERROR;
  /* A guess first, then exactly the size the library reports. */
  std::size_t want = 20;
  for (int attempt = 0; attempt < 2; ++attempt) {
    char *block = static_cast<char *>(VR_malloc(want));
    if (block == nullptr)
      return VRIO_E_OUT_OF_MEMORY;
    std::size_t got = want;
    const int r = vrio_get_system_property(key, block, &got, options);
    if (r >= 0) {
      if (value != nullptr)
        *value = block;
      else
        VR_free(block);
      return 0;
    }
    VR_free(block);
    if (r != VRIO_E_INSUFFICIENT_BUFFER)
      return r;
    if (got <= want)
      return VRIO_E_INTERNAL_ERROR;
    want = got;
  }
  return VRIO_E_INTERNAL_ERROR;
}

char *vr_getenv_internal(const char *key, char *buf, std::size_t *size, unsigned options)
{
  if (!(options & 3))
    return nullptr;
  unsigned lookup = 0;
  if (options & 4)
    lookup |= VRIO_PROP_NOT_PROCESS;
  if (options & 8)
    lookup |= VRIO_PROP_ONLY_PROCESS;
  char *value = nullptr;
  if (vr_get_system_property_internal(key, buf, size, &value, lookup) < 0)
    return nullptr;
  return value;
}

char *vr_getenv_anyenc(const char *key, char *buf, std::size_t *size)
{
  return vr_getenv_internal(key, buf, size, 2);
}

int vr_checkenv(const char *key)
{
  std::size_t size = 0;
  const int r = vrio_get_system_property(key, nullptr, &size, 0);
  return r >= 0 || r == VRIO_E_INSUFFICIENT_BUFFER;
}

int VR_get_system_property(const char *key, char **value, unsigned options)
{
  return vr_get_system_property_internal(key, nullptr, nullptr, value, options);
}

char *VR_getenv(const char *key)
{
  char *value = nullptr;
  if (VR_get_system_property(key, &value, 0) < 0)
    return nullptr;
  return value;
}

int VR_set_system_property(const char *key, const char *value) { return vrio_set_system_property(key, value); }

int VR_setenv(const char *key, const char *value) { return VR_set_system_property(key, value) < 0 ? -1 : 0; }

int VR_system_properties(char ***block, unsigned options)
{
  /* The library's flags: 2 leaves out the process environment, 4 its own
     properties. */
  unsigned flags = 0;
  if (!(options & 2))
    flags |= 2;
  if (options & 4)
    flags |= 4;
  char **env = nullptr;
  std::size_t size = 0;
  int r = vrio_get_system_properties(&env, &size, flags);
  if (r < 0)
    return r;
  if (block == nullptr) {
    vrio_free(env);
    return 0;
  }
  std::size_t n = 0;
  while (env[n] != nullptr)
    ++n;
  const std::size_t head = (n + 1) * sizeof(char *);
  char **out = static_cast<char **>(VR_malloc(size + head));
  if (out == nullptr) {
    vrio_free(env);
    return VRIO_E_OUT_OF_MEMORY;
  }
  char *p = reinterpret_cast<char *>(out) + head;
  char *const end = reinterpret_cast<char *>(out) + size + head;
  const char separator = (options & 1) ? '\0' : '=';
  for (std::size_t i = 0; i < n; ++i) {
    const char *key = env[i];
    const char *val = key + std::strlen(key) + 1;
    const std::size_t kl = std::strlen(key), vl = std::strlen(val);
    if (p + kl + vl + 2 > end) {
      VR_free(out);
      vrio_free(env);
      return VRIO_E_INTERNAL_ERROR;
    }
    out[i] = p;
    std::memcpy(p, key, kl);
    p[kl] = separator;
    std::memcpy(p + kl + 1, val, vl + 1);
    p += kl + vl + 2;
  }
  out[n] = nullptr;
  vrio_free(env);
  *block = out;
  return 0;
}

char **VR_copy_environ(void)
{
  char **block = nullptr;
  if (VR_system_properties(&block, 0) < 0)
    return nullptr;
  return block;
}

int prolog_getenv(worker *w)
{
  const TAGGED key = deref(w->term[0]);
  if (!IsAtom(key))
    return 0;
  char *value = vr_getenv_internal(atom_name(key), nullptr, nullptr, 1);
  if (value == nullptr)
    return 0;
  const TAGGED a = init_atom_check(value, 0);
  VR_free(value);
  return a != 0 && cunify(w, a, w->term[1]);
}

int prolog_platform_name(worker *w)
{
  return cunify(w, init_atom_check("x86-linux-glibc2.7", 0), w->term[0]);
}

/* ---- The engine's memory source ---- */

int VR_set_memalloc_hooks(int hints, VR_InitAllocHook init_hook, VR_DeinitAllocHook deinit_hook,
                          VR_AllocHook alloc_hook, VR_FreeHook free_hook, void *cookie)
{
  const bool all = init_hook != nullptr && deinit_hook != nullptr && alloc_hook != nullptr &&
                   free_hook != nullptr;
  const bool none = init_hook == nullptr && deinit_hook == nullptr && alloc_hook == nullptr &&
                    free_hook == nullptr && cookie == nullptr;
  if (mem_initialized || !((hints == 0 && all) || (hints == 1 && none))) {
    vr_set_errno(VR_ERR_UNKNOWN);
    return 0;
  }
  vr_memman_set_hooks(hints, init_hook, deinit_hook, alloc_hook, free_hook, cookie);
  return 1;
}
