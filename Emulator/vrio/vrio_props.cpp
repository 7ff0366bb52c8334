/* vrio_props.cpp: system properties and the options of vrio_init.
 *
 * Three tiers answer a look-up, the first that has the key winning: the
 * caller's initial options (only while vrio_init runs), the library's own
 * property environment `vrio_environ`, and the process environment (the
 * snapshot once the library is initialised).  vrio_init_process, the last
 * module to start, copies the initial options into `vrio_environ`, so after
 * vrio_init the options still win without the caller's record being read.
 *
 * `vrio_environ` is a null-terminated array of separately allocated entries
 * "key\0value\0" with no key twice; a compact copy of it is cached for
 * vrio_get_system_properties and dropped whenever a value changes.
 */
#include <cstdint>
#include <cstring>

#include "vostrel/vrio_alloc.h"
#include "vostrel/vrio_props.h"
#include "vrio_internal.h"

static const vrio_t_init_options *global_initial_options;
static char **vrio_environ;
static char **vrio_environ_internal_cache;
static size_t vrio_environ_internal_cache_size;

static constexpr size_t ptr_size = sizeof(char *);

vrio_t_error_code vrio_set_initial_options(const vrio_t_init_options *options, vrio_t_bits flags)
{
  if ((flags & 1) || options == nullptr) {
    global_initial_options = nullptr;
    return VRIO_S_NOERR;
  }
  if (options->version != 1)
    return VRIO_E_VERSION_ERROR;
  if (options->options == nullptr && options->noptions != 0)
    return VRIO_E_PARAMETER_ERROR;
  for (unsigned i = 0; i < options->noptions; ++i) {
    const vrio_t_init_option &o = options->options[i];
    if (o.type == VRIO_INIT_OPTION_TYPE_NULL)
      continue;
    if (o.type != VRIO_INIT_OPTION_TYPE_SYSTEM_PROPERTY || o.u.prop.key == nullptr ||
        o.u.prop.value == nullptr)
      return VRIO_E_PARAMETER_ERROR;
  }
  global_initial_options = options;
  return VRIO_S_NOERR;
}

static const char *initial_option_value(const char *key)
{
  const vrio_t_init_options *options = global_initial_options;
  const char *value = nullptr;
  if (options == nullptr)
    return nullptr;
  for (unsigned i = 0; i < options->noptions; ++i) {
    const vrio_t_init_option &o = options->options[i];
    if (o.type == VRIO_INIT_OPTION_TYPE_SYSTEM_PROPERTY &&
        vrio_compare_environment_keys(o.u.prop.key, key) == 0)
      value = o.u.prop.value; /* the last one wins */
  }
  return value;
}

static char **environ_slot(const char *key)
{
  char **slot = vrio_environ;
  while (*slot != nullptr && vrio_compare_environment_keys(*slot, key) != 0)
    ++slot;
  return slot;
}

vrio_t_error_code vrio_get_system_property(const char *key, char *buf, size_t *psize,
                                           vrio_t_bits flags)
{
  const char *value = nullptr;
  if (!(flags & VRIO_PROP_ONLY_PROCESS)) {
    value = initial_option_value(key);
    if (value == nullptr && vrio_environ != nullptr) {
      char *entry = *environ_slot(key);
      if (entry != nullptr)
        value = entry + std::strlen(entry) + 1;
    }
  }
  if (value != nullptr)
    return vrio_copy_value(value, buf, psize);
  if (flags & VRIO_PROP_NOT_PROCESS)
    return VRIO_E_NOT_FOUND;
  vrio_t_error_code rc = vrio_unix_getenv(key, buf, psize, 0);
  return rc < 0 ? rc : VRIO_S_NOERR;
}

char *vrio_get_system_property_allocate(const char *key)
{
  size_t room = 20;
  for (int attempt = 0; attempt < 2; ++attempt) {
    auto *buf = static_cast<char *>(vrio_alloc(room));
    if (buf == nullptr)
      return nullptr;
    size_t size = room;
    vrio_t_error_code rc = vrio_get_system_property(key, buf, &size, 0);
    if (rc >= 0)
      return buf;
    vrio_free(buf);
    /* A second try only for a value that has grown past the first buffer,
       and only once: a value that keeps growing is not chased. */
    if (rc != VRIO_E_INSUFFICIENT_BUFFER || size <= room)
      return nullptr;
    room = size;
  }
  return nullptr;
}

static bool word_matches(const char *value, const char *lower, const char *upper)
{
  size_t n = std::strlen(lower);
  if (std::strlen(value) != n)
    return false;
  for (size_t i = 0; i < n; ++i)
    if (value[i] != lower[i] && value[i] != upper[i])
      return false;
  return true;
}

int vrio_get_boolean_system_property1(const char *name, int default_value, vrio_t_bits flags)
{
  char value[100];
  size_t size = sizeof value;
  if (vrio_get_system_property(name, value, &size, flags) < 0)
    return default_value;
  static const struct {
    const char *lower, *upper;
    int answer;
  } words[] = {{"yes", "YES", 1}, {"no", "NO", 0}, {"true", "TRUE", 1}, {"false", "FALSE", 0}};
  for (const auto &w : words)
    if (word_matches(value, w.lower, w.upper))
      return w.answer;
  return default_value;
}

int vrio_get_boolean_system_property(const char *name, int default_value)
{
  return vrio_get_boolean_system_property1(name, default_value, 0);
}

int32_t vrio_get_ssize_system_property(const char *name, int32_t default_value)
{
  char value[100];
  size_t size = sizeof value;
  if (vrio_get_system_property(name, value, &size, 0) < 0)
    return default_value;
  const char *p = value;
  auto skip_blanks = [&p] {
    while (*p == ' ' || *p == '\t')
      ++p;
  };
  skip_blanks();
  bool negative = false;
  if (*p == '-') {
    negative = true;
    ++p;
    skip_blanks();
  }
  int64_t magnitude = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    magnitude = magnitude * 10 + (*p - '0');
    if (magnitude > (negative ? INT64_C(2147483648) : INT64_C(2147483647)))
      return default_value;
  }
  skip_blanks();
  int64_t unit = 1, limit = INT64_C(2147483648);
  switch (*p) {
  case 'K': case 'k': unit = INT64_C(1) << 10; limit = 2097151; break;
  case 'M': case 'm': unit = INT64_C(1) << 20; limit = 2047; break;
  case 'G': case 'g': unit = INT64_C(1) << 30; limit = 1; break;
  default: break;
  }
  if (magnitude > limit)
    return default_value;
  int64_t v = magnitude * unit;
  return static_cast<int32_t>(negative ? -v : v);
}

static void drop_cache()
{
  vrio_free(vrio_environ_internal_cache);
  vrio_environ_internal_cache = nullptr;
  vrio_environ_internal_cache_size = 0;
}

vrio_t_error_code vrio_set_system_property(const char *key, const char *value)
{
  if (vrio_environ == nullptr)
    return VRIO_E_NOT_FOUND;
  char **slot = environ_slot(key);
  if (*slot != nullptr && std::strcmp(*slot + std::strlen(*slot) + 1, value) == 0)
    return VRIO_S_NOERR;
  size_t key_len = std::strlen(key), value_len = std::strlen(value);
  auto *entry = static_cast<char *>(vrio_alloc(key_len + value_len + 2));
  if (entry == nullptr)
    return VRIO_E_OUT_OF_MEMORY;
  std::memcpy(entry, key, key_len + 1);
  std::memcpy(entry + key_len + 1, value, value_len + 1);
  if (*slot == nullptr) {
    size_t n = static_cast<size_t>(slot - vrio_environ);
    auto **longer = static_cast<char **>(vrio_alloc(ptr_size * (n + 2)));
    if (longer == nullptr) {
      vrio_free(entry);
      return VRIO_E_OUT_OF_MEMORY;
    }
    std::memcpy(longer, vrio_environ, ptr_size * n);
    longer[n] = nullptr;
    longer[n + 1] = nullptr;
    vrio_free(vrio_environ);
    vrio_environ = longer;
    slot = longer + n;
  }
  drop_cache();
  vrio_free(*slot);
  *slot = entry;
  return VRIO_S_NOERR;
}

void vrio_join_compact_env_entries(char **env)
{
  /* A key holding "=" cannot be written so and is left out. */
  size_t kept = 0;
  for (size_t i = 0; env[i] != nullptr; ++i) {
    char *e = env[i];
    if (std::strchr(e, '=') != nullptr)
      continue;
    e[std::strlen(e)] = '=';
    env[kept++] = e;
  }
  env[kept] = nullptr;
}

vrio_t_error_code vrio_get_system_properties(char ***penv, size_t *psize, vrio_t_bits flags)
{
  if (penv == nullptr) {
    if (psize != nullptr)
      *psize = 0;
    return VRIO_S_NOERR;
  }
  char *empty[1] = {nullptr};
  char **process = empty, **own = empty;
  size_t process_size = ptr_size, own_size = ptr_size;
  if (!(flags & 2)) {
    if (flags & 0x10) {
      vrio_t_error_code rc = vrio_env_snapshot_take();
      if (rc < 0)
        return rc;
    }
    if (char **snapshot = vrio_env_snapshot(&process_size); snapshot != nullptr)
      process = snapshot;
    else
      process_size = ptr_size;
  }
  if (!(flags & 4) && vrio_environ != nullptr) {
    if (vrio_environ_internal_cache == nullptr) {
      vrio_t_error_code rc = vrio_make_compact_env(vrio_environ, &vrio_environ_internal_cache,
                                                   &vrio_environ_internal_cache_size, 0);
      if (rc < 0)
        return rc;
    }
    own = vrio_environ_internal_cache;
    own_size = vrio_environ_internal_cache_size;
  }
  char **env;
  size_t size;
  vrio_t_error_code rc = vrio_merge_compact_envs(own, own_size, process, process_size, &env, &size,
                                                 4 | (flags & 1));
  if (rc < 0)
    return rc;
  if (flags & 8)
    vrio_join_compact_env_entries(env);
  *penv = env;
  if (psize != nullptr)
    *psize = size;
  return VRIO_S_NOERR;
}

vrio_t_error_code vrio_init_process(vrio_t_bits flags)
{
  if (flags & 1) {
    drop_cache();
    if (vrio_environ != nullptr) {
      for (char **e = vrio_environ; *e != nullptr; ++e)
        vrio_free(*e);
      vrio_free(vrio_environ);
      vrio_environ = nullptr;
    }
    vrio_env_snapshot_free();
    return VRIO_S_NOERR;
  }
  /* Without a snapshot later look-ups read the live environment. */
  (void)vrio_env_snapshot_take();
  if (vrio_environ == nullptr) {
    vrio_environ = static_cast<char **>(vrio_alloc(ptr_size));
    if (vrio_environ == nullptr)
      return VRIO_E_OUT_OF_MEMORY;
    vrio_environ[0] = nullptr;
  }
  vrio_t_error_code rc = VRIO_S_NOERR;
  if (const vrio_t_init_options *options = global_initial_options) {
    for (unsigned i = 0; i < options->noptions && rc >= 0; ++i) {
      const vrio_t_init_option &o = options->options[i];
      if (o.type == VRIO_INIT_OPTION_TYPE_SYSTEM_PROPERTY)
        rc = vrio_set_system_property(o.u.prop.key, o.u.prop.value);
    }
  }
  global_initial_options = nullptr;
  return rc < 0 ? rc : VRIO_S_NOERR;
}
