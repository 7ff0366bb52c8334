/* file_builtins.cpp: the file and directory built-ins (properties, access
 * tests, renaming, deletion, listing and creating directories).
 *
 * Thin adapters over the I/O library's file services.  Names arrive as
 * atoms already expanded to absolute paths by the Prolog side, and go to
 * the library unchanged.  These built-ins never raise: the library's
 * result code (0 or a negative vrio_t_error_code) is unified with the last
 * argument, and the Prolog caller (library(file_systems)) turns it into
 * the ISO error.  A built-in fails only when an output does not unify.
 * Argument types other than the ones described give VRIO_E_PARAMETER_ERROR.
 *
 * Also the engine's own path tests (is_readable_file_ienc and friends).
 * Callers: the runtime library; the loader.  Engine thread only.
 */
#include <string>
#include <vector>

#include "atoms.h"
#include "datadefs.h"
#include "file_builtins.h"
#include "stack_growth.h"
#include "streams.h"
#include "terms.h"
#include "unify.h"
#include "worker.h"

namespace {

/* Access classes of $test_file_access/4. */
constexpr int IO_OK = 0;
constexpr int IO_EXISTENCE = -2;
constexpr int IO_PERMISSION = -3;
constexpr int IO_DOMAIN = -4;
constexpr int IO_ERROR = -10;

int io_class(vrio_t_error_code code)
{
  switch (code) {
  case VRIO_S_NOERR:
    return IO_OK;
  case VRIO_E_FILE_NOT_FOUND:
    return IO_EXISTENCE;
  case VRIO_E_FILE_ACCESS:
  case VRIO_E_FILE_IS_DIRECTORY:
  case VRIO_E_FILE_NOT_DIRECTORY:
  case VRIO_E_PERMISSION_ERROR:
    return IO_PERMISSION;
  case VRIO_E_INVALID_NAME:
  case VRIO_E_PARAMETER_ERROR:
    return IO_DOMAIN;
  default:
    return IO_ERROR;
  }
}

/* An options argument: a non-negative integer, small or boxed. */
bool options_value(TAGGED t, std::int64_t *v) { return word_integer(t, v) && *v >= 0; }

int unify_code(worker *w, TAGGED where, int code)
{
  return cunify(w, where, make_integer_term(w, code));
}

/* Unifies `where` with a new atom of `text` (freed with vrio_free). */
bool unify_library_text(worker *w, TAGGED where, char *text)
{
  const TAGGED a = init_atom_check(text, 0);
  vrio_free(text);
  return a != 0 && cunify(w, where, a);
}

} // namespace

vrio_t_error_code vr_test_file_access(const char *path, unsigned mode)
{
  vrio_t_error_code rc = vrio_test_file_access(path, mode);
  return rc > 0 ? VRIO_S_NOERR : rc;
}

int is_readable_file_ienc(const char *path)
{
  return vr_test_file_access(path, VRIO_ACCESS_READ | VRIO_ACCESS_REGULAR) >= 0;
}
int is_file_ienc(const char *path) { return vr_test_file_access(path, VRIO_ACCESS_REGULAR) >= 0; }
int is_dir_ienc(const char *path) { return vr_test_file_access(path, VRIO_ACCESS_DIRECTORY) >= 0; }

/* $test_file_access(+File, +Mode, -Code, -Class) */
int prolog_test_file_access(worker *w)
{
  const TAGGED file = deref(w->term[0]), mode = deref(w->term[1]);
  vrio_t_error_code rc = IsAtom(file) && IsSmall(mode)
                             ? vr_test_file_access(atom_name(file), GetSmall(mode) & 0x7F)
                             : VRIO_E_PARAMETER_ERROR;
  return unify_code(w, w->term[2], rc) && cunify(w, w->term[3], MakeSmall_checked(io_class(rc)));
}

/* $file_property(+File, +Mask, -Value, -Code) */
int prolog_file_property(worker *w)
{
  const TAGGED file = deref(w->term[0]);
  std::int64_t mask;
  if (!IsAtom(file) || !options_value(w->term[1], &mask))
    return unify_code(w, w->term[3], VRIO_E_PARAMETER_ERROR);
  vrio_t_bits stat_options = ((mask & 0x1) ? VRIO_STAT_MUST_BE_DIRECTORY : 0) |
                             ((mask & 0x2) ? VRIO_STAT_MUST_NOT_BE_DIRECTORY : 0);
  /* The first asked-for bit decides what is read and returned. */
  static constexpr struct {
    std::int64_t bit;
    vrio_t_bits stat;
  } asks[] = {{0x10, VRIO_STAT_PROCESS_MODE}, {0x20, VRIO_STAT_MODE},  {0x40, VRIO_STAT_TIMES},
              {0x80, VRIO_STAT_TIMES},        {0x100, VRIO_STAT_SIZE}, {0x200, VRIO_STAT_OWNER},
              {0x400, VRIO_STAT_OWNER},       {0x800, VRIO_STAT_GROUP}, {0x1000, VRIO_STAT_GROUP}};
  std::int64_t ask = 0;
  for (const auto &a : asks)
    if (mask & a.bit) {
      ask = a.bit;
      stat_options |= a.stat;
      break;
    }
  if (ask == 0)
    return unify_code(w, w->term[3], VRIO_E_PARAMETER_ERROR);
  vrio_t_stat st{};
  vrio_t_error_code rc = vrio_stat(atom_name(file), &st, stat_options);
  if (rc < 0)
    return unify_code(w, w->term[3], rc);
  bool ok;
  switch (ask) {
  case 0x10:
    ok = cunify(w, w->term[2],
                MakeSmall_checked(((st.mode & VRIO_MODE_PROCESS_READ) ? 1 : 0) |
                                  ((st.mode & VRIO_MODE_PROCESS_WRITE) ? 2 : 0) |
                                  ((st.mode & VRIO_MODE_PROCESS_EXECUTE) ? 4 : 0) |
                                  ((st.mode & VRIO_MODE_PROCESS_SEARCH) ? 8 : 0)));
    break;
  case 0x20:
    ok = cunify(w, w->term[2], MakeSmall_checked(static_cast<VR_INTEGER>((st.mode & 0xFFF) << 4)));
    break;
  case 0x40: {
    /* Room for the structure and three two-word integers with trailers. */
    if (w->heap_warn - w->global_top < 64)
      call_overflow(w, 64, 4);
    const TAGGED m = make_integer_term(w, st.modify_time);
    const TAGGED c = make_integer_term(w, st.create_time);
    const TAGGED a = make_integer_term(w, st.access_time);
    TAGGED *s = w->global_top;
    w->global_top += 4;
    s[0] = MakeFunctor(init_atom_check("times", 0), 3);
    s[1] = m;
    s[2] = c;
    s[3] = a;
    ok = cunify(w, w->term[2], MakeSTR(s));
    break;
  }
  case 0x80:
    ok = cunify(w, w->term[2], make_integer_term(w, st.modify_time));
    break;
  case 0x100:
    ok = cunify(w, w->term[2], make_integer_term(w, static_cast<std::int64_t>(st.size)));
    break;
  case 0x200:
    ok = cunify(w, w->term[2], make_integer_term(w, static_cast<std::int32_t>(st.owner)));
    break;
  case 0x800:
    ok = cunify(w, w->term[2], make_integer_term(w, static_cast<std::int32_t>(st.group)));
    break;
  default: { /* 0x400, 0x1000: the owner's or the group's name */
    char *name = nullptr;
    rc = ask == 0x400 ? vrio_user_id_name(st.owner, &name, 0) : vrio_group_id_name(st.group, &name, 0);
    vrio_stat_deinit(&st);
    if (rc < 0)
      return unify_code(w, w->term[3], rc);
    return unify_library_text(w, w->term[2], name) && unify_code(w, w->term[3], 0);
  }
  }
  vrio_stat_deinit(&st);
  return ok && unify_code(w, w->term[3], 0);
}

/* $rename_file(+Old, +New, +Options, -Code) */
int prolog_rename_file(worker *w)
{
  const TAGGED from = deref(w->term[0]), to = deref(w->term[1]);
  std::int64_t options;
  vrio_t_error_code rc = IsAtom(from) && IsAtom(to) && options_value(w->term[2], &options)
                             ? vrio_rename_file(atom_name(from), atom_name(to), 0)
                             : VRIO_E_PARAMETER_ERROR;
  return unify_code(w, w->term[3], rc);
}

/* $delete_file(+File, +Options, -Code): option 1 an empty directory, 2
   failures ignored (Code 1), 0x10 recursive (not implemented). */
int prolog_delete_file(worker *w)
{
  const TAGGED file = deref(w->term[0]);
  std::int64_t options;
  if (!IsAtom(file) || !options_value(w->term[1], &options))
    return unify_code(w, w->term[2], VRIO_E_PARAMETER_ERROR);
  const vrio_t_error_code rc = vrio_delete_file(
      atom_name(file), static_cast<vrio_t_bits>((options & 3) | ((options & 0x10) >> 2)));
  if (rc >= 0)
    return unify_code(w, w->term[2], 0);
  return unify_code(w, w->term[2], (options & 2) && rc != VRIO_E_PARAMETER_ERROR ? 1 : rc);
}

/* $list_directory(+Dir, +Options, -Names, -Code): Names in the reverse of
   the order read, without "." and ".." and names that are not text. */
int prolog_list_directory(worker *w)
{
  const TAGGED dir_name = deref(w->term[0]);
  std::int64_t options;
  if (!IsAtom(dir_name) || !options_value(w->term[1], &options))
    return unify_code(w, w->term[3], VRIO_E_PARAMETER_ERROR);
  vrio_t_dir *dir = nullptr;
  vrio_t_error_code rc =
      vrio_open_directory(atom_name(dir_name), &dir, static_cast<vrio_t_bits>((options & 3) | 4));
  if (rc < 0)
    return unify_code(w, w->term[3], rc);
  std::vector<std::string> names;
  for (;;) {
    vrio_t_dirent *ent = nullptr;
    rc = vrio_read_directory(dir, &ent, 0);
    if (rc == VRIO_E_NO_MORE_ENTRIES) {
      rc = VRIO_S_NOERR;
      break;
    }
    if (rc < 0)
      break;
    const char *name = nullptr;
    rc = vrio_dirent_name(ent, &name);
    if (rc == VRIO_E_INVALID_NAME)
      continue;
    if (rc < 0)
      break;
    if (std::string(name) != "." && std::string(name) != "..")
      names.emplace_back(name);
  }
  vrio_close_directory(dir);
  if (rc < 0)
    return unify_code(w, w->term[3], rc);
  const long need = 128 + 2 * static_cast<long>(names.size());
  if (w->heap_warn - w->global_top < need)
    call_overflow(w, static_cast<int>(need), 4);
  /* Each atom goes into a heap cell as soon as it is made, where the atom
     collector that making the next one may run sees it. */
  TAGGED list = atom_nil;
  for (const std::string &name : names) {
    const TAGGED a = init_atom_check(name.c_str(), 0);
    if (a == 0)
      return unify_code(w, w->term[3], VRIO_E_INTERNAL_ERROR);
    TAGGED *cell = w->global_top;
    w->global_top += 2;
    cell[0] = a;
    cell[1] = list;
    list = MakeLST(cell);
  }
  return cunify(w, w->term[2], list) && unify_code(w, w->term[3], 0);
}

/* $create_directory(+Dir, +Options, -Code) */
int prolog_create_directory(worker *w)
{
  const TAGGED dir = deref(w->term[0]);
  std::int64_t options;
  vrio_t_error_code rc = IsAtom(dir) && options_value(w->term[1], &options)
                             ? vrio_create_directory(atom_name(dir), 0)
                             : VRIO_E_PARAMETER_ERROR;
  return unify_code(w, w->term[2], rc);
}
