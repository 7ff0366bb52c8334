/* vrio_environ.cpp: compact environments and the process-environment
 * snapshot.
 *
 * A compact environment is one block: a null-terminated pointer array and,
 * after it, the entries "key\0value\0" the pointers point at.  Its size is
 * reported beside it: pointers * (n+1) + sum(len(key) + len(value) + 2),
 * which is exactly what merging two of them needs.
 *
 * The snapshot is taken when the library initialises (vrio_init_process)
 * and read-only afterwards unless a caller asks for a fresh one; property
 * look-ups read it instead of the live environment, so changes the process
 * makes to its environment later are not seen.
 */
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "vostrel/vrio_alloc.h"
#include "vostrel/vrio_props.h"
#include "vrio_internal.h"

extern char **environ;

static char **initial_environ_NUL_separated;
static size_t initial_environ_NUL_separated_size;

static constexpr size_t ptr_size = sizeof(char *);

static size_t entry_size(const char *entry)
{
  size_t key = std::strlen(entry);
  return key + std::strlen(entry + key + 1) + 2;
}

const char *vrio_compact_env_value(char *const *env, const char *key)
{
  if (env == nullptr)
    return nullptr;
  for (; *env != nullptr; ++env)
    if (vrio_compare_environment_keys(*env, key) == 0)
      return *env + std::strlen(*env) + 1;
  return nullptr;
}

vrio_t_error_code vrio_copy_value(const char *value, char *buf, size_t *psize)
{
  size_t need = std::strlen(value) + 1;
  size_t room = *psize;
  *psize = need;
  if (need > room)
    return VRIO_E_INSUFFICIENT_BUFFER;
  std::memcpy(buf, value, need);
  return VRIO_S_NOERR;
}

int vrio_compare_environment_keys(const char *key1, const char *key2)
{
  auto *a = reinterpret_cast<const unsigned char *>(key1);
  auto *b = reinterpret_cast<const unsigned char *>(key2);
  size_t i = 0;
  while (a[i] == b[i] && a[i] != 0)
    ++i;
  if (a[i] == b[i])
    return 0;
  if (a[i] == 0)
    return -1;
  if (b[i] == 0)
    return 1;
  /* Character code 0 (C0 80) sorts before every other character.  The keys
     may first differ at the 80 of a C0 80 that both begin with C0. */
  auto nul_at = [](const unsigned char *s, size_t j) {
    return (s[j] == 0xC0 && s[j + 1] == 0x80) || (j > 0 && s[j - 1] == 0xC0 && s[j] == 0x80);
  };
  bool na = nul_at(a, i), nb = nul_at(b, i);
  if (na != nb)
    return na ? -1 : 1;
  return a[i] < b[i] ? -1 : 1;
}

/* A compact environment of `n` entries, each given as "key\0value\0". */
static vrio_t_error_code build_compact(const char *const *entries, size_t n, char ***penv,
                                       size_t *psize)
{
  size_t size = ptr_size * (n + 1);
  for (size_t i = 0; i < n; ++i)
    size += entry_size(entries[i]);
  auto **env = static_cast<char **>(vrio_alloc(size));
  if (env == nullptr)
    return VRIO_E_OUT_OF_MEMORY;
  char *p = reinterpret_cast<char *>(env + n + 1);
  for (size_t i = 0; i < n; ++i) {
    size_t len = entry_size(entries[i]);
    std::memcpy(p, entries[i], len);
    env[i] = p;
    p += len;
  }
  env[n] = nullptr;
  *penv = env;
  if (psize != nullptr)
    *psize = size;
  return VRIO_S_NOERR;
}

vrio_t_error_code vrio_make_compact_env(const char *const *entries, char ***penv, size_t *psize,
                                        vrio_t_bits flags)
{
  size_t n = 0;
  while (entries[n] != nullptr)
    ++n;
  if (!(flags & 1))
    return build_compact(entries, n, penv, psize);
  /* "key=value" strings: split each at its first "=" into a work block of
     the same shape, then pack that. */
  size_t work = ptr_size * (n + 1);
  for (size_t i = 0; i < n; ++i) {
    const char *eq = std::strchr(entries[i], '=');
    if (eq == nullptr || eq == entries[i])
      return VRIO_E_PARAMETER_ERROR;
    work += std::strlen(entries[i]) + 1;
  }
  auto **split = static_cast<char **>(vrio_alloc(work));
  if (split == nullptr)
    return VRIO_E_OUT_OF_MEMORY;
  char *p = reinterpret_cast<char *>(split + n + 1);
  for (size_t i = 0; i < n; ++i) {
    size_t len = std::strlen(entries[i]) + 1;
    std::memcpy(p, entries[i], len);
    *std::strchr(p, '=') = '\0';
    split[i] = p;
    p += len;
  }
  split[n] = nullptr;
  vrio_t_error_code rc = build_compact(split, n, penv, psize);
  vrio_free(split);
  return rc;
}

vrio_t_error_code vrio_merge_compact_envs(char *const *env1, size_t size1, char *const *env2,
                                          size_t size2, char ***penv, size_t *psize,
                                          vrio_t_bits flags)
{
  if ((flags & 2) && (flags & 4))
    return VRIO_E_PARAMETER_ERROR;
  size_t n1 = 0, n2 = 0;
  while (env1[n1] != nullptr)
    ++n1;
  while (env2[n2] != nullptr)
    ++n2;
  size_t size = size1 + size2 - ptr_size;
  auto **env = static_cast<char **>(vrio_alloc(size));
  if (env == nullptr)
    return VRIO_E_OUT_OF_MEMORY;
  /* Entries are copied env1's first, so an entry's address tells both its
     environment and its place in it. */
  char *p = reinterpret_cast<char *>(env + n1 + n2 + 1);
  size_t n = 0;
  for (char *const *src : {env1, env2}) {
    for (; *src != nullptr; ++src) {
      size_t len = entry_size(*src);
      std::memcpy(p, *src, len);
      env[n++] = p;
      p += len;
    }
  }
  auto by_key = [](const char *x, const char *y) {
    int c = vrio_compare_environment_keys(x, y);
    return c != 0 ? c < 0 : x < y;
  };
  std::sort(env, env + n, by_key);
  if (!(flags & 1)) {
    size_t kept = 0;
    for (size_t i = 0; i < n; ++i)
      if (kept == 0 || vrio_compare_environment_keys(env[kept - 1], env[i]) != 0)
        env[kept++] = env[i];
    n = kept;
  }
  if (flags & 4)
    std::sort(env, env + n, [](const char *x, const char *y) { return x < y; });
  env[n] = nullptr;
  *penv = env;
  if (psize != nullptr)
    *psize = size;
  return VRIO_S_NOERR;
}

/* Well-formed UTF-8, with C0 80 accepted as the internal form of code 0. */
static bool utf8_well_formed(const unsigned char *s, size_t n)
{
  for (size_t i = 0; i < n;) {
    unsigned c = s[i];
    if (c < 0x80) {
      ++i;
      continue;
    }
    size_t len;
    unsigned cp;
    if (c == 0xC0 && i + 1 < n && s[i + 1] == 0x80) {
      i += 2;
      continue;
    }
    if (c >= 0xC2 && c <= 0xDF) {
      len = 2;
      cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      len = 3;
      cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      len = 4;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (i + len > n)
      return false;
    for (size_t k = 1; k < len; ++k) {
      if ((s[i + k] & 0xC0) != 0x80)
        return false;
      cp = (cp << 6) | (s[i + k] & 0x3F);
    }
    static const unsigned least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < least[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    i += len;
  }
  return true;
}

/* "key\0value\0" read as ISO-8859-1, written as UTF-8. */
static char *latin1_entry_to_utf8(const char *entry)
{
  size_t len = entry_size(entry);
  size_t out = len;
  for (size_t i = 0; i < len; ++i)
    if (static_cast<unsigned char>(entry[i]) >= 0x80)
      ++out;
  auto *s = static_cast<char *>(vrio_alloc(out));
  if (s == nullptr)
    return nullptr;
  char *p = s;
  for (size_t i = 0; i < len; ++i) {
    auto c = static_cast<unsigned char>(entry[i]);
    if (c >= 0x80) {
      *p++ = static_cast<char>(0xC0 | (c >> 6));
      *p++ = static_cast<char>(0x80 | (c & 0x3F));
    } else {
      *p++ = static_cast<char>(c);
    }
  }
  return s;
}

/* A fresh compact copy of the live environment. */
static vrio_t_error_code copy_current_os_environ(char ***penv, size_t *psize)
{
  char **live = environ;
  if (live == nullptr)
    return VRIO_E_IMPOSSIBLE_ERROR;
  size_t n = 0, bytes = 0;
  for (; live[n] != nullptr; ++n)
    bytes += std::strlen(live[n]) + 1 + (std::strchr(live[n], '=') == nullptr);
  size_t block = ptr_size * (n + 1) + bytes;
  auto **env = static_cast<char **>(vrio_alloc(block));
  if (env == nullptr)
    return VRIO_E_OUT_OF_MEMORY;
  char *p = reinterpret_cast<char *>(env + n + 1);
  char *end = reinterpret_cast<char *>(env) + block;
  size_t kept = 0, size = ptr_size;
  bool all_utf8 = true;
  for (size_t i = 0; live[i] != nullptr; ++i) {
    const char *s = live[i];
    if (s[0] == '=' || s[0] == '\0')
      continue;
    size_t len = std::strlen(s);
    const char *eq = std::strchr(s, '=');
    size_t need = eq != nullptr ? len + 1 : len + 2;
    if (kept >= n || need > static_cast<size_t>(end - p)) {
      /* The environment grew while it was copied. */
      vrio_free(env);
      return VRIO_E_TRY_AGAIN;
    }
    std::memcpy(p, s, len);
    if (eq != nullptr) {
      p[eq - s] = '\0';
      p[len] = '\0';
    } else {
      p[len] = '\0';
      p[len + 1] = '\0';
    }
    all_utf8 = all_utf8 && utf8_well_formed(reinterpret_cast<unsigned char *>(p), need - 1);
    env[kept++] = p;
    p += need;
    size += ptr_size + need;
  }
  env[kept] = nullptr;
  if (all_utf8) {
    *penv = env;
    *psize = size;
    return VRIO_S_NOERR;
  }
  /* Some entry is not UTF-8: read those as ISO-8859-1. */
  auto **converted = static_cast<char **>(vrio_alloc(ptr_size * (kept + 1)));
  vrio_t_error_code rc = converted == nullptr ? VRIO_E_OUT_OF_MEMORY : VRIO_S_NOERR;
  size_t done = 0;
  for (; rc >= 0 && done < kept; ++done) {
    const char *e = env[done];
    if (utf8_well_formed(reinterpret_cast<const unsigned char *>(e), entry_size(e) - 1))
      converted[done] = env[done];
    else if ((converted[done] = latin1_entry_to_utf8(e)) == nullptr)
      rc = VRIO_E_OUT_OF_MEMORY;
  }
  if (rc >= 0) {
    converted[kept] = nullptr;
    rc = build_compact(converted, kept, penv, psize);
  }
  for (size_t i = 0; converted != nullptr && i < done; ++i)
    if (converted[i] != env[i])
      vrio_free(converted[i]);
  vrio_free(converted);
  vrio_free(env);
  return rc;
}

vrio_t_error_code vrio_env_snapshot_take(void)
{
  char **env;
  size_t size;
  vrio_t_error_code rc = copy_current_os_environ(&env, &size);
  if (rc < 0)
    return rc;
  vrio_free(initial_environ_NUL_separated);
  initial_environ_NUL_separated = env;
  initial_environ_NUL_separated_size = size;
  return VRIO_S_NOERR;
}

void vrio_env_snapshot_free(void)
{
  vrio_free(initial_environ_NUL_separated);
  initial_environ_NUL_separated = nullptr;
  initial_environ_NUL_separated_size = 0;
}

char **vrio_env_snapshot(size_t *psize)
{
  if (psize != nullptr)
    *psize = initial_environ_NUL_separated_size;
  return initial_environ_NUL_separated;
}

vrio_t_error_code vrio_unix_get_environ(char ***penv, size_t *psize, vrio_t_bits flags)
{
  if (flags & 2) {
    if (flags & (1 | 4))
      return VRIO_E_PARAMETER_ERROR;
    return copy_current_os_environ(penv, psize);
  }
  if (!(flags & 1))
    return VRIO_E_PARAMETER_ERROR;
  if (flags & 4) {
    vrio_t_error_code rc = vrio_env_snapshot_take();
    if (rc < 0)
      return rc;
  }
  if (initial_environ_NUL_separated == nullptr)
    return VRIO_E_INVALID_STATE;
  *penv = initial_environ_NUL_separated;
  if (psize != nullptr)
    *psize = initial_environ_NUL_separated_size;
  return VRIO_S_NOERR;
}

vrio_t_error_code vrio_unix_getenv(const char *key, char *buf, size_t *psize, vrio_t_bits flags)
{
  const char *value;
  if ((flags & 2) || initial_environ_NUL_separated == nullptr) {
    if ((flags & 1) && !(flags & 2))
      return VRIO_E_INVALID_STATE;
    value = std::getenv(key);
  } else {
    value = vrio_compact_env_value(initial_environ_NUL_separated, key);
  }
  if (value == nullptr)
    return VRIO_E_NOT_FOUND;
  return vrio_copy_value(value, buf, psize);
}
