/* process_builtins.cpp: the process built-ins (see process_builtins.h).
 *
 * Every built-in first copies its arguments into term references: making
 * a stream or a process object builds on the heap, which may collect it
 * and keeps no argument register.  A temporary handle made from a process
 * id is released (with nothing to do) before the built-in returns.
 */
#include "process_builtins.h"

#include <cstdint>
#include <string>
#include <vector>

#include "external_objects.h"
#include "fli.h"
#include "globref.h"
#include "initial_atoms.h"
#include "streams.h"
#include "termdefs.h"
#include "worker.h"

#include "vostrel/vrio.h"

namespace {

VR_external_object_type vr_process_external_object_type = nullptr;

void vr_process_finalizer(void *data, void *)
{
  (void)vrio_process_release(static_cast<vrio_t_os_process_handle>(reinterpret_cast<std::intptr_t>(data)),
                             VRIO_PROCESS_RELEASE_KEEP_RUNNING);
}

int vr_process_putter(VR_term_ref t, VR_external_object_link *link)
{
  return VR_external_object_default_putter_helper(t, link, MakeAtom(atom_Dprocess_enum));
}

/* The built-in's arguments as term references. */
struct args {
  VR_term_ref mark;
  VR_term_ref first;
  args(worker *w, int n) : mark(VR_new_term_refs(0)), first(VR_new_term_refs(n))
  {
    for (int i = 0; i < n; ++i)
      vr_get_globref_checked(first + i, w)->term = w->term[i];
  }
  ~args() { VR_reset_term_refs(mark); }
  VR_term_ref operator[](int i) const { return first + i; }
};

bool unify_integer(VR_term_ref t, long v)
{
  const VR_term_ref u = VR_new_term_ref();
  return VR_put_integer(u, v) && VR_unify(t, u);
}

int vr_get_process_external_object(VR_term_ref t, VR_external_object_link **plink)
{
  VR_external_object_link *link = nullptr;
  if (!VR_is_compound(t) || !VR_get_external_object(t, &link))
    return VRIO_E_NOT_FOUND;
  if (VR_get_external_object_type(link) != vr_process_external_object_type)
    return VRIO_E_PARAMETER_ERROR;
  *plink = link;
  return VRIO_S_NOERR;
}

/* A process object or a process id; *plink null for an id. */
int vr_get_process(VR_term_ref t, vrio_t_os_process_handle *phandle, VR_external_object_link **plink)
{
  *plink = nullptr;
  if (VR_is_integer(t)) {
    long id;
    if (!VR_get_integer(t, &id))
      return VRIO_E_PARAMETER_ERROR;
    return vrio_process_from_id(static_cast<vrio_t_pid>(id), phandle);
  }
  int rc = vr_get_process_external_object(t, plink);
  if (rc < 0)
    return rc == VRIO_E_NOT_FOUND ? VRIO_E_PARAMETER_ERROR : rc;
  *phandle = static_cast<vrio_t_os_process_handle>(
      reinterpret_cast<std::intptr_t>(VR_get_external_object_data(*plink)));
  return VRIO_S_NOERR;
}

/* Releases the temporary handle of a process id. */
void done_with(vrio_t_os_process_handle handle, VR_external_object_link *link)
{
  if (link == nullptr && handle > 0)
    (void)vrio_process_release(handle, VRIO_PROCESS_RELEASE_KEEP_RUNNING | VRIO_PROCESS_RELEASE_NOTHING);
}

const char *atom_text(VR_term_ref t)
{
  VR_atom a;
  return VR_is_atom(t) && VR_get_atom(t, &a) ? VR_string_from_atom(a) : nullptr;
}

/* One argument part: an atom (a "string" part) or Name(Text). */
int init_argv_entry(VR_term_ref t, vrio_t_property *record)
{
  const char *key = "string";
  const char *text = atom_text(t);
  if (text == nullptr) {
    VR_atom name;
    int arity;
    if (!VR_is_compound(t) || !VR_get_functor(t, &name, &arity) || arity != 1)
      return VRIO_E_PARAMETER_ERROR;
    const VR_term_ref a = VR_new_term_ref();
    VR_get_arg(1, t, a);
    text = atom_text(a);
    if (text == nullptr)
      return VRIO_E_PARAMETER_ERROR;
    key = VR_string_from_atom(name);
  }
  record->key = key;
  record->v.flags = VRIO_VARIANT_STRING | VRIO_VARIANT_BORROWED_STRING;
  record->v.u.string = const_cast<char *>(text);
  return VRIO_S_NOERR;
}

vrio_t_property end_record()
{
  vrio_t_property end{};
  end.v.flags = VRIO_VARIANT_END;
  return end;
}

/* Args: a proper list whose elements are parts or proper lists of parts. */
int argument_lists(VR_term_ref list, std::vector<std::vector<vrio_t_property>> *out)
{
  const VR_term_ref l = VR_new_term_ref(), h = VR_new_term_ref(), parts = VR_new_term_ref(),
                    part = VR_new_term_ref();
  VR_put_term(l, list);
  while (VR_get_list(l, h, l)) {
    std::vector<vrio_t_property> arg;
    if (VR_is_list(h) && !VR_is_atom(h)) {
      VR_put_term(parts, h);
      while (VR_get_list(parts, part, parts)) {
        vrio_t_property r;
        if (init_argv_entry(part, &r) < 0)
          return VRIO_E_PARAMETER_ERROR;
        arg.push_back(r);
      }
      if (atom_text(parts) == nullptr || std::string(atom_text(parts)) != "[]")
        return VRIO_E_PARAMETER_ERROR;
    } else {
      vrio_t_property r;
      if (init_argv_entry(h, &r) < 0)
        return VRIO_E_PARAMETER_ERROR;
      arg.push_back(r);
    }
    arg.push_back(end_record());
    out->push_back(std::move(arg));
  }
  const char *rest = atom_text(l);
  return rest != nullptr && std::string(rest) == "[]" ? VRIO_S_NOERR : VRIO_E_PARAMETER_ERROR;
}

/* Env: [] or default (nothing given), or a proper list of Name=Value with
   atom sides, each packed as "name\0value\0". */
int environment_entries(VR_term_ref env, std::vector<std::string> *out)
{
  const char *text = atom_text(env);
  if (text != nullptr)
    return std::string(text) == "[]" || std::string(text) == "default" ? VRIO_S_NOERR
                                                                      : VRIO_E_PARAMETER_ERROR;
  const VR_term_ref l = VR_new_term_ref(), h = VR_new_term_ref(), a = VR_new_term_ref();
  VR_put_term(l, env);
  const VR_atom eq = VR_atom_from_string("=");
  while (VR_get_list(l, h, l)) {
    VR_atom name;
    int arity;
    if (!VR_is_compound(h) || !VR_get_functor(h, &name, &arity) || name != eq || arity != 2)
      return VRIO_E_PARAMETER_ERROR;
    VR_get_arg(1, h, a);
    const char *key = atom_text(a);
    VR_get_arg(2, h, a);
    const char *value = atom_text(a);
    if (key == nullptr || value == nullptr)
      return VRIO_E_PARAMETER_ERROR;
    std::string entry(key);
    entry.push_back('\0');
    entry.append(value);
    out->push_back(std::move(entry));
  }
  const char *rest = atom_text(l);
  return rest != nullptr && std::string(rest) == "[]" ? VRIO_S_NOERR : VRIO_E_PARAMETER_ERROR;
}

/* Options of $process_create/10 to the library's. */
int create_options(VR_term_ref t, vrio_t_bits *poptions, bool *pkeep)
{
  long o;
  if (!VR_is_integer(t) || !VR_get_integer(t, &o) || o < 0 || (o & 0x8000))
    return VRIO_E_PARAMETER_ERROR;
  const auto bits = static_cast<vrio_t_bits>(o);
  vrio_t_bits lib = VRIO_PROCESS_ENV;
  lib |= bits & 0x7;                 /* input */
  lib |= ((bits >> 4) & 0x7) << 3;   /* output */
  lib |= ((bits >> 8) & 0x7) << 6;   /* error */
  if (bits & 0x800)
    lib |= VRIO_PROCESS_SHELL;
  if (bits & 0x2000)
    lib |= VRIO_PROCESS_SETSID;
  if (bits & 0x4000)
    lib |= 0x800;
  if (bits & 0x10000)
    lib |= 0x2000;
  *poptions = lib;
  *pkeep = (bits & 0x1000) != 0;
  return VRIO_S_NOERR;
}

/* Signal numbers in the order of the predefined atoms SIGABRT..SIGXFSZ. */
constexpr int signal_numbers[] = {6,  14, 7,  17, 18, 8,  1,  4,  2,  9,  13, 3,  11, 19,
                                  15, 20, 21, 22, 10, 12, 29, 27, 31, 5,  23, 26, 24, 25};
static_assert(sizeof signal_numbers / sizeof signal_numbers[0] ==
              atom_SIGXFSZ_enum - atom_SIGABRT_enum + 1);

int signal_number(VR_term_ref t, int *psig)
{
  if (VR_is_integer(t)) {
    long s;
    if (!VR_get_integer(t, &s) || s < 0)
      return VRIO_E_PARAMETER_ERROR;
    *psig = static_cast<int>(s);
    return VRIO_S_NOERR;
  }
  VR_atom a;
  if (VR_is_atom(t) && VR_get_atom(t, &a)) {
    const std::uint32_t i = AtomIndex(a);
    if (i >= atom_SIGABRT_enum && i <= atom_SIGXFSZ_enum) {
      *psig = signal_numbers[i - atom_SIGABRT_enum];
      return VRIO_S_NOERR;
    }
  }
  return VRIO_E_PARAMETER_ERROR;
}

} // namespace

int init_each_time_file(void)
{
  /* One type for the life of the process: objects made before a
     re-initialisation stay process objects. */
  if (vr_process_external_object_type == nullptr)
    vr_process_external_object_type =
        VR_register_external_object_type(vr_process_finalizer, vr_process_putter, nullptr);
  return vr_process_external_object_type != nullptr ? 1 : -1;
}

int prolog_is_process(worker *w)
{
  args a(w, 1);
  VR_external_object_link *link;
  return vr_get_process_external_object(a[0], &link) >= 0;
}

int prolog_process_self_id(worker *w)
{
  args a(w, 1);
  vrio_t_pid pid = 0;
  (void)vrio_process_self_id(&pid);
  return unify_integer(a[0], pid);
}

int prolog_process_id(worker *w)
{
  args a(w, 3);
  vrio_t_os_process_handle h = 0;
  VR_external_object_link *link;
  int rc = vr_get_process(a[0], &h, &link);
  vrio_t_pid pid = 0;
  if (rc >= 0)
    rc = vrio_process_id(h, &pid);
  done_with(h, link);
  if (rc >= 0 && !unify_integer(a[1], pid))
    return 0;
  return unify_integer(a[2], rc < 0 ? rc : 0);
}

int prolog_process_kill(worker *w)
{
  args a(w, 3);
  vrio_t_os_process_handle h = 0;
  VR_external_object_link *link = nullptr;
  int sig = 0;
  int rc = signal_number(a[1], &sig);
  if (rc >= 0)
    rc = vr_get_process(a[0], &h, &link);
  if (rc >= 0)
    rc = vrio_process_kill(h, sig, 0);
  done_with(h, link);
  return unify_integer(a[2], rc < 0 ? rc : 0);
}

int prolog_process_release(worker *w)
{
  args a(w, 3);
  long options;
  vrio_t_os_process_handle h = 0;
  VR_external_object_link *link = nullptr;
  int rc = VR_is_integer(a[1]) && VR_get_integer(a[1], &options) && options >= 0
               ? VRIO_S_NOERR
               : VRIO_E_PARAMETER_ERROR;
  if (rc >= 0)
    rc = vr_get_process(a[0], &h, &link);
  if (rc >= 0)
    rc = vrio_process_release(h, static_cast<vrio_t_bits>(options & 1));
  if (rc >= 0 && link != nullptr) {
    VR_unlink_external_object(link, 0);
    VR_free_external_object_link(link);
  } else {
    done_with(h, link);
  }
  return unify_integer(a[2], rc < 0 ? rc : 0);
}

int prolog_process_wait(worker *w)
{
  args a(w, 6);
  long options = 0;
  int rc = VR_is_integer(a[1]) && VR_get_integer(a[1], &options) && options >= 0
               ? VRIO_S_NOERR
               : VRIO_E_PARAMETER_ERROR;
  const bool release = (options & 1) != 0;
  vrio_t_timespec limit{0, 0};
  const vrio_t_timespec *timeout = nullptr;
  bool poll = false;
  if (rc >= 0) {
    const char *t = atom_text(a[2]);
    double secs = -1;
    if (t != nullptr) {
      if (std::string(t) != "infinite")
        rc = VRIO_E_PARAMETER_ERROR;
    } else if (VR_is_integer(a[2]) || VR_is_float(a[2])) {
      if (!VR_get_float(a[2], &secs) || secs < 0 || vrio_double_to_timespec(secs, &limit) < 0)
        rc = VRIO_E_PARAMETER_ERROR;
      else if (limit.sec == 0 && limit.nsec == 0)
        poll = true;
      else
        timeout = &limit;
    } else {
      rc = VRIO_E_PARAMETER_ERROR;
    }
  }
  vrio_t_os_process_handle h = 0;
  VR_external_object_link *link = nullptr;
  if (rc >= 0)
    rc = vr_get_process(a[0], &h, &link);
  if (rc >= 0 && release && link == nullptr)
    rc = VRIO_E_NOT_SUPPORTED;
  vrio_t_process_exit_status st{0, 0};
  long status = 0, value = 0;
  bool reaped = false;
  if (rc >= 0) {
    rc = vrio_process_wait(h, timeout, &st,
                           (release ? VRIO_PROCESS_WAIT_REAP : 0) | (poll ? VRIO_PROCESS_WAIT_NOHANG : 0));
    if (rc == VRIO_E_WOULD_BLOCK || rc == VRIO_E_TIMEOUT) {
      status = 4096;
      rc = VRIO_S_NOERR;
    } else if (rc >= 0) {
      status = static_cast<long>(st.flags);
      value = st.value;
      reaped = release;
    }
  }
  if (reaped && link != nullptr) {
    VR_unlink_external_object(link, 0);
    VR_free_external_object_link(link);
  } else {
    done_with(h, link);
  }
  if (rc < 0)
    return unify_integer(a[5], rc);
  return unify_integer(a[3], status) && unify_integer(a[4], value) && unify_integer(a[5], 0);
}

int prolog_process_create(worker *w)
{
  args a(w, 10);
  const char *command = atom_text(a[0]);
  const char *cwd = atom_text(a[2]);
  std::vector<std::vector<vrio_t_property>> arg_lists;
  std::vector<std::string> env_entries;
  vrio_t_bits options = 0;
  bool keep = false;
  int rc = command != nullptr && cwd != nullptr ? VRIO_S_NOERR : VRIO_E_PARAMETER_ERROR;
  if (rc >= 0)
    rc = argument_lists(a[1], &arg_lists);
  if (rc >= 0)
    rc = environment_entries(a[3], &env_entries);
  if (rc >= 0)
    rc = create_options(a[4], &options, &keep);
  if (rc < 0)
    return unify_integer(a[9], rc);

  std::vector<const vrio_t_property *> params;
  for (const auto &l : arg_lists)
    params.push_back(l.data());
  params.push_back(nullptr);
  std::vector<const char *> env;
  for (const auto &e : env_entries)
    env.push_back(e.c_str());
  env.push_back(nullptr);
  int fds[3] = {-1, -1, -1};
  vrio_t_os_process_handle handle = 0;
  rc = vrio_process_create(command, arg_lists.empty() ? nullptr : params.data(), cwd, env.data(),
                           &fds[0], &fds[1], &fds[2], keep ? &handle : nullptr, options);
  if (rc < 0)
    return unify_integer(a[9], rc);

  VR_stream *streams[3] = {nullptr, nullptr, nullptr};
  for (int i = 0; i < 3 && rc >= 0; ++i) {
    if (fds[i] < 0)
      continue;
    rc = VR_create_os_stream(fds[i], &streams[i], 0, i == 0 ? 0x2008A : 0x20009);
    if (rc >= 0)
      fds[i] = -1;
  }
  VR_external_object_link *link = nullptr;
  const VR_term_ref object = VR_new_term_ref();
  if (rc >= 0 && keep) {
    link = VR_register_external_object(reinterpret_cast<void *>(static_cast<std::intptr_t>(handle)),
                                       vr_process_external_object_type);
    if (link == nullptr || !VR_put_external_object(object, link))
      rc = VRIO_E_ERROR;
  }
  if (rc < 0) {
    /* The child runs on; only the parent's side is undone. */
    for (int i = 0; i < 3; ++i) {
      if (streams[i] != nullptr)
        vr_fclose_internal(streams[i], VR_CLOSE_FORCE);
      else if (fds[i] >= 0)
        (void)vrio_os_file_handle_close_unix(fds[i], 2);
    }
    if (link != nullptr)
      VR_unlink_external_object(link, 1);
    else if (keep)
      (void)vrio_process_release(handle, VRIO_PROCESS_RELEASE_KEEP_RUNNING);
    return unify_integer(a[9], rc);
  }
  for (int i = 0; i < 3; ++i) {
    const VR_term_ref s = VR_new_term_ref();
    if (!VR_put_integer(s, static_cast<long>(reinterpret_cast<std::intptr_t>(streams[i]))) ||
        !VR_unify(a[5 + i], s))
      return 0;
  }
  if (keep && !VR_unify(a[8], object))
    return 0;
  return unify_integer(a[9], 0);
}
