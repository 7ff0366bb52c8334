/* file_names.cpp: expanding file names, splitting paths, the runtime's
 * current directory and the file-name built-ins (see file_names.h).
 *
 * Expansion reads the name component by component into a new buffer:
 * the start ("/", "~user", "$VAR" or the base directory) gives the root,
 * "." is dropped, ".." removes the last component and may never climb
 * above the root, repeated "/" count as one.  The result is absolute or
 * there is none.
 *
 * Environment look-ups go through the I/O library's system properties
 * (initialisation options, its own properties, then the process
 * environment).  Engine thread only.
 */
#include "file_names.h"

#include <cerrno>
#include <cstring>
#include <pwd.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "atom_text.h"
#include "atoms.h"
#include "chartype.h"
#include "datadefs.h"
#include "initial_atoms.h"
#include "memman.h"
#include "stack_growth.h"
#include "streams.h"
#include "support.h"
#include "terms.h"
#include "unify.h"
#include "worker.h"

int vr_set_current_dir_default_options = 0;

namespace {

constexpr unsigned EXP_DIRECTORY = 0x1, EXP_ABSOLUTE = 0x2, EXP_NO_DOLLAR = 0x4, EXP_HOME = 0x8,
                   EXP_ROOT_DOT = 0x10, EXP_ROOT_SLASH = 0x20;

char *vr_strdup(const std::string &s)
{
  auto *out = static_cast<char *>(VR_malloc(s.size() + 1));
  if (out != nullptr)
    std::memcpy(out, s.c_str(), s.size() + 1);
  return out;
}

/* The value of a system property or environment variable, or "" when it
   is unset. */
std::string property(const char *key, bool *set = nullptr)
{
  char *value = vrio_get_system_property_allocate(key);
  if (set != nullptr)
    *set = value != nullptr;
  std::string s = value != nullptr ? value : "";
  vrio_free(value);
  return s;
}

bool expand(const char *relpath, const char *cwd, unsigned options, std::string *out);

/* The start of an expansion and how much of relpath it consumed. */
bool expansion_start(const char *relpath, const char *cwd, unsigned options, std::string *result,
                     const char **rest)
{
  if (relpath[0] == '/') {
    *result = "/";
    *rest = relpath + 1;
    return true;
  }
  if (relpath[0] == '~') {
    if (options & EXP_HOME)
      return false; /* a home directory that names a home directory */
    const char *end = std::strchr(relpath, '/');
    const std::string user = end != nullptr ? std::string(relpath + 1, end) : std::string(relpath + 1);
    char *home = vr_user_directory(user.empty() ? nullptr : user.c_str(), options);
    if (home == nullptr)
      return false;
    *result = home;
    VR_free(home);
    if (result->empty() || result->back() != '/')
      *result += '/';
    *rest = end != nullptr ? end : relpath + std::strlen(relpath);
    return true;
  }
  if (relpath[0] == '$' && !(options & EXP_NO_DOLLAR)) {
    const char *end = std::strchr(relpath, '/');
    const std::string name = end != nullptr ? std::string(relpath + 1, end) : std::string(relpath + 1);
    if (name.empty())
      return false;
    const std::string value = property(name.c_str());
    if (value.empty())
      return false;
    if (!expand(value.c_str(), cwd, options | EXP_DIRECTORY | EXP_NO_DOLLAR, result))
      return false;
    *rest = end != nullptr ? end : relpath + std::strlen(relpath);
    return true;
  }
  if (options & EXP_ABSOLUTE)
    return false;
  if (cwd != nullptr && cwd[0] != '\0') {
    *result = cwd;
    if (result->back() != '/')
      *result += '/';
  } else {
    const char *c = eglobal->cwd_ienc;
    if (c == nullptr)
      return false;
    *result = c;
  }
  *rest = relpath;
  return true;
}

bool expand(const char *relpath, const char *cwd, unsigned options, std::string *out)
{
  std::string result;
  const char *p;
  if (!expansion_start(relpath, cwd, options, &result, &p))
    return false;
  const std::size_t root = static_cast<std::size_t>(vr_get_root_len(result.c_str()));
  while (*p != '\0') {
    while (*p == '/')
      p++;
    if (*p == '\0')
      break;
    const char *end = std::strchr(p, '/');
    const std::size_t len = end != nullptr ? static_cast<std::size_t>(end - p) : std::strlen(p);
    const std::string component(p, len);
    p += len;
    if (component == ".")
      continue;
    if (component == "..") {
      /* Drop the last component (the result ends with "/" here). */
      if (result.size() <= root)
        return false;
      std::size_t cut = result.size() - 1;
      while (cut > root && result[cut - 1] != '/')
        cut--;
      result.resize(cut);
      continue;
    }
    if (!result.empty() && result.back() != '/')
      result += '/';
    result += component;
    if (*p == '/')
      result += '/';
  }
  if (root == 0)
    return false;
  while (result.size() > root && result.back() == '/')
    result.pop_back();
  if (result.back() != '/') {
    if (options & EXP_DIRECTORY)
      result += '/';
  } else if (options & (EXP_DIRECTORY | EXP_ROOT_SLASH)) {
    /* only the root is left */
  } else if (options & EXP_ROOT_DOT) {
    result += '.';
  } else {
    return false;
  }
  *out = result;
  return true;
}

} // namespace

char *vr_expand_file_name_internal(const char *relpath, const char *cwd, unsigned options)
{
  if (relpath == nullptr)
    return nullptr;
  std::string out;
  if (!expand(relpath, cwd, options, &out))
    return nullptr;
  return vr_strdup(out);
}

char *vr_expand_file_name(const char *relpath, const char *cwd, unsigned options)
{
  if (cwd == nullptr)
    return vr_expand_file_name_internal(relpath, nullptr, options);
  char *base = vr_expand_file_name_internal(cwd, nullptr, EXP_DIRECTORY);
  if (base == nullptr)
    return nullptr;
  char *result = vr_expand_file_name_internal(relpath, base, options);
  VR_free(base);
  return result;
}

int VR_expand_file_name(const char *relpath, const char *cwd, unsigned options, char **abspath)
{
  char *result = vr_expand_file_name(relpath, cwd, options);
  if (result == nullptr)
    return VRIO_E_ERROR;
  *abspath = result;
  return 0;
}

char *vr_user_directory(const char *username, unsigned options)
{
  std::string dir;
  if (username == nullptr) {
    dir = property("HOME");
  }
  if (dir.empty()) {
    struct passwd entry, *found = nullptr;
    char buf[1024];
    int rc;
    do
      rc = username != nullptr ? getpwnam_r(username, &entry, buf, sizeof buf, &found)
                               : getpwuid_r(getuid(), &entry, buf, sizeof buf, &found);
    while (rc == EINTR);
    if (rc != 0 || found == nullptr || found->pw_dir == nullptr)
      return nullptr;
    char *converted = nullptr;
    if (vrio_file_name_from_os_unix(found->pw_dir, &converted, 0) < 0 || converted == nullptr)
      return nullptr;
    dir = converted;
    vrio_free(converted);
  }
  return vr_expand_file_name_internal(dir.c_str(), nullptr, options | EXP_DIRECTORY | EXP_NO_DOLLAR | EXP_HOME);
}

int vr_get_root_len(const char *path)
{
  const int n = vrio_path_root_len(path);
  return n < 0 ? 0 : n;
}

const char *vr_split_path(const char *path, const char **root, const char **filename,
                          const char **suffix)
{
  const int root_len = vr_get_root_len(path);
  const char *after_root = path + root_len;
  const char *name = after_root;
  if (const char *slash = std::strrchr(after_root, '/'))
    name = slash + 1;
  const char *dot = std::strrchr(name, '.');
  if (root != nullptr)
    *root = root_len > 0 ? after_root : nullptr;
  if (filename != nullptr)
    *filename = name;
  if (suffix != nullptr)
    *suffix = dot;
  return path + std::strlen(path);
}

const char *vr_path_suffix(const char *path)
{
  const char *suffix = nullptr;
  vr_split_path(path, nullptr, nullptr, &suffix);
  return suffix;
}

const char *parent_dir_end(const char *path)
{
  const char *name = nullptr;
  const char *end = vr_split_path(path, nullptr, &name, nullptr);
  if (name == path)
    return nullptr;
  const char *p;
  if (*name == '\0') {
    if (end - path < 2)
      return nullptr;
    p = end - 2;
  } else {
    p = name - 1;
  }
  while (p > path && *p != '/')
    p--;
  return p > path ? p : nullptr;
}

char *vr_dirname(const char *path)
{
  const char *end = parent_dir_end(path);
  if (end == nullptr)
    return nullptr;
  return vr_strdup(std::string(path, end + 1));
}

char *vr_basename(const char *path, int strip_suffix)
{
  const char *name = nullptr, *suffix = nullptr;
  const char *end = vr_split_path(path, nullptr, &name, &suffix);
  if (strip_suffix && suffix != nullptr)
    end = suffix;
  return vr_strdup(std::string(name, end));
}

const char *vr_cwd_ienc(void) { return eglobal->cwd_ienc; }

char *VR_get_current_dir(void)
{
  if (eglobal->cwd_ienc == nullptr)
    return nullptr;
  return vr_strdup(eglobal->cwd_ienc);
}

int VR_set_current_dir(const char *dir)
{
  int options = vr_set_current_dir_default_options;
  /* Read from the initialisation options and the library's own
     properties only, never from the process environment. */
  const int allow = vrio_get_boolean_system_property1("VR_ALLOW_CHDIR", -1, VRIO_PROP_NOT_PROCESS);
  if (allow == 1)
    options &= ~1;
  else if (allow == 0)
    options |= 1;
  if (dir == nullptr || !wci_valid_string(dir))
    return VRIO_E_ENCODING_INVALID;
  char *expanded = vr_expand_file_name(dir, nullptr, EXP_DIRECTORY);
  if (expanded == nullptr)
    return VRIO_E_INVALID_NAME;
  if (vrio_test_file_access(expanded, VRIO_ACCESS_DIRECTORY) < 0) {
    VR_free(expanded);
    return VRIO_E_FILE_NOT_DIRECTORY;
  }
  bool changed = false;
  if (!(options & 2)) {
    if (eglobal->cwd_ienc != nullptr)
      VR_free(eglobal->cwd_ienc);
    eglobal->cwd_ienc = expanded;
    expanded = nullptr;
    changed = true;
    const vrio_t_error_code rc = vrio_set_working_directory(eglobal->cwd_ienc, 1);
    if (rc < 0)
      return rc;
  }
  if (expanded != nullptr)
    VR_free(expanded);
  if (!(options & 1) && eglobal->cwd_ienc != nullptr) {
    const vrio_t_error_code rc = vrio_set_working_directory(eglobal->cwd_ienc, 2);
    if (rc < 0)
      return changed ? 1 : rc;
  }
  return 0;
}

int init_once_file(void)
{
  init_stream_event_listeners();
  bool set = false;
  const std::string startup = property("VR_STARTUP_DIR", &set);
  char *dir = nullptr;
  if (set && !startup.empty()) {
    dir = vr_expand_file_name_internal(startup.c_str(), nullptr, 0xF);
    if (dir == nullptr || vrio_test_file_access(dir, VRIO_ACCESS_DIRECTORY) < 0 ||
        VR_set_current_dir(dir) < 0) {
      if (dir != nullptr)
        VR_free(dir);
      return 0;
    }
  } else {
    char *wd = nullptr;
    if (vrio_get_working_directory(&wd, 6) < 0 || wd == nullptr)
      return 0;
    dir = vr_expand_file_name_internal(wd, nullptr, 0xF);
    vrio_free(wd);
    if (dir == nullptr)
      return 0;
  }
  vrio_set_system_property("VR_STARTUP_DIR", dir);
  if (eglobal->cwd_ienc != nullptr)
    VR_free(eglobal->cwd_ienc);
  eglobal->cwd_ienc = dir;
  char *tmp = nullptr;
  if (vrio_temp_directory(&tmp, 0) >= 0 && tmp != nullptr) {
    vrio_set_system_property("VR_TEMP_DIR", tmp);
    vrio_free(tmp);
  }
  return 1;
}

void deinit_once_file(void)
{
  if (eglobal->cwd_ienc != nullptr)
    VR_free(eglobal->cwd_ienc);
  eglobal->cwd_ienc = nullptr;
}

char *resolve_argv_execpath(const char *name, const char *envvar)
{
  if (std::strchr(name, '/') != nullptr)
    return vr_strdup(name);
  const std::string path = property(envvar);
  if (path.empty())
    return nullptr;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t colon = path.find(':', start);
    if (colon == std::string::npos)
      colon = path.size();
    std::string element = path.substr(start, colon - start);
    start = colon + 1;
    if (element.empty())
      continue;
    if (element.size() >= 2 && element.compare(element.size() - 2, 2, "//") == 0)
      continue;
    if (element == "/")
      element = "/.";
    else if (element.back() == '/')
      element.pop_back();
    const std::string candidate = element + "/" + name;
    if (vrio_test_file_access(candidate.c_str(), VRIO_ACCESS_REGULAR) >= 0)
      return vr_strdup(candidate);
  }
  return nullptr;
}

/* ---- Built-ins ---- */

namespace {

bool unify_text_atom(worker *w, TAGGED where, const char *text)
{
  const TAGGED a = init_atom_check(text, 0);
  return a != 0 && cunify(w, where, a);
}

/* A path given as an atom or a list of atoms joined with "/"; false for
   anything else. */
bool path_text(TAGGED t, std::string *out)
{
  t = deref(t);
  if (IsAtom(t)) {
    *out = atom_name(t);
    return true;
  }
  std::string text;
  bool first = true;
  while (IsList(t)) {
    const TAGGED e = deref(TagToLST(t)[0]);
    if (!IsAtom(e))
      return false;
    if (!first)
      text += '/';
    text += atom_name(e);
    first = false;
    t = deref(TagToLST(t)[1]);
  }
  if (t != atom_nil)
    return false;
  *out = text;
  return true;
}

} // namespace

int prolog_absolute_path(worker *w)
{
  const TAGGED opts = deref(w->term[2]);
  if (!IsSmall(opts))
    return 0;
  const unsigned options = ((GetSmall(opts) & 1) ? EXP_DIRECTORY : 0) | ((GetSmall(opts) & 2) ? EXP_ROOT_SLASH : 0);
  std::string text;
  if (!path_text(w->term[0], &text))
    return cunify(w, w->term[3], init_atom_check("", 0));
  const TAGGED relto = deref(w->term[1]);
  std::string base;
  if (IsAtom(relto) && atom_name(relto)[0] != '\0' && std::strcmp(atom_name(relto), ".") != 0) {
    char *expanded = vr_expand_file_name(atom_name(relto), nullptr, EXP_ROOT_SLASH);
    if (expanded != nullptr) {
      vrio_t_stat st{};
      if (vrio_stat(expanded, &st, VRIO_STAT_MUST_NOT_BE_DIRECTORY) >= 0) {
        if (const char *end = parent_dir_end(expanded))
          base.assign(expanded, static_cast<std::size_t>(end + 1 - expanded));
        else
          base = expanded;
      } else {
        base = expanded;
      }
      VR_free(expanded);
    }
  }
  char *result = base.empty() ? vr_expand_file_name(text.c_str(), nullptr, options)
                              : vr_expand_file_name_internal(text.c_str(), base.c_str(), options);
  bool ok = unify_text_atom(w, w->term[3], result != nullptr ? result : "");
  if (result != nullptr)
    VR_free(result);
  return ok;
}

int prolog_directory_path(worker *w)
{
  const TAGGED path = deref(w->term[0]);
  if (!IsAtom(path))
    return 0;
  char *dir = vr_dirname(atom_name(path));
  if (dir == nullptr)
    return 0;
  const bool ok = unify_text_atom(w, w->term[1], dir);
  VR_free(dir);
  return ok;
}

int prolog_file_type(worker *w)
{
  const TAGGED path = deref(w->term[0]);
  if (!IsAtom(path))
    return 0;
  VR_stream *s = nullptr;
  if (VR_fopen(atom_name(path), 0, VR_FOPEN_READ | VR_FOPEN_BINARY, &s) < 0)
    return 0;
  unsigned char head[8];
  int n = 0;
  while (n < 8) {
    const int c = vr_get_byte_helper(s, 0);
    if (c < 0)
      break;
    head[n++] = static_cast<unsigned char>(c);
    if (n == 1 && head[0] != 'v')
      break;
  }
  vr_fclose_internal(s, VR_CLOSE_FORCE);
  const char *type = "source";
  if (n >= 1 && head[0] == '#')
    type = "object";
  else if (n >= 1 && head[0] == 'A')
    type = "ql";
  else if (n == 8 && std::memcmp(head, "vostrel-", 8) == 0)
    type = "object";
  std::string source = atom_name(path);
  if (std::strcmp(type, "source") != 0) {
    const char *suffix = vr_path_suffix(atom_name(path));
    if (suffix != nullptr)
      source.resize(static_cast<std::size_t>(suffix - atom_name(path)));
    source += ".pl";
  }
  return unify_text_atom(w, w->term[1], type) && unify_text_atom(w, w->term[2], source.c_str());
}

int prolog_split_env_path(worker *w)
{
  const TAGGED var = deref(w->term[0]);
  if (!IsAtom(var))
    return cunify(w, w->term[2], make_integer_term(w, VRIO_E_PARAMETER_ERROR));
  const std::string value = property(atom_name(var));
  std::vector<std::string> dirs;
  std::size_t start = 0;
  while (start < value.size()) {
    std::size_t colon = value.find(':', start);
    if (colon == std::string::npos)
      colon = value.size();
    const std::string element = value.substr(start, colon - start);
    start = colon + 1;
    if (char *dir = vr_expand_file_name(element.c_str(), nullptr, EXP_DIRECTORY | EXP_NO_DOLLAR)) {
      dirs.push_back(dir);
      VR_free(dir);
    }
  }
  const std::size_t need = 128 + 2 * dirs.size();
  if (w->heap_warn - w->global_top < static_cast<long>(need))
    call_overflow(w, static_cast<int>(need), 3);
  TAGGED list = atom_nil;
  for (const std::string &d : dirs) {
    const TAGGED a = init_atom_check(d.c_str(), 0);
    if (a == 0)
      continue;
    TAGGED *cell = w->global_top;
    w->global_top += 2;
    cell[0] = a;
    cell[1] = list;
    list = MakeLST(cell);
  }
  return cunify(w, w->term[1], list) && cunify(w, w->term[2], MakeSmall_checked(0));
}

int prolog_unix_cd(worker *w)
{
  const char *cwd = eglobal->cwd_ienc != nullptr ? eglobal->cwd_ienc : "";
  const TAGGED old = init_atom_check(cwd, 0);
  if (old == 0 || !cunify(w, w->term[0], old))
    return 0;
  const TAGGED to = deref(w->term[1]);
  if (!IsAtom(to))
    return 0;
  if (to == old)
    return 1;
  return VR_set_current_dir(atom_name(to)) >= 0;
}

int prolog_set_current_dir_options(worker *w)
{
  if (!cunify(w, w->term[0], MakeSmall_checked(vr_set_current_dir_default_options)))
    return 0;
  const TAGGED to = deref(w->term[1]);
  if (!IsSmall(to) || GetSmall(to) < 0)
    return 0;
  vr_set_current_dir_default_options = GetSmall(to);
  return 1;
}
