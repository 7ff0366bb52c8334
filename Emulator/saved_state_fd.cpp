/* saved_state_fd.cpp: the finite-domain library's hooks as saved states,
 * the collector and the database see them, and the resource helpers the
 * runtime library calls around a restore.
 *
 * The library installs its hooks through the support table
 * (VR_install_fd_hooks) when its resource is loaded and clears them when
 * it is unloaded; while it is not loaded every hook is null and every call
 * is skipped.  Installing also sets the lower layers' hooks:
 * call_fd_manager_hook, through which the stack shifter and the collector
 * call call_fd_manager, and fd_destructor_hook of the database, which is
 * call_fd_destructor.  Process-wide; cleared at engine initialisation
 * (init_fd_hooks).  Engine thread only.
 */
#include "saved_state.h"

#include <cstring>
#include <string>
#include <vector>

#include "atoms.h"
#include "fli.h"
#include "predicates.h"
#include "preds.h"
#include "stack_growth.h"
#include "streams.h"
#include "terms.h"
#include "unify.h"
#include "worker.h"

namespace {

bool fd_ever_loaded = false;
void *fd_cookie = nullptr;
fd_manager_fn fd_manager = nullptr;
fd_restore_fn fd_restorer = nullptr;
fd_save_fn fd_saver = nullptr;
fd_destructor_fn fd_destructor = nullptr;

/* call_fd_manager (stack_growth.h) calls this once the library is in. */
void manager_hook(int message, void *pointer)
{
  if (fd_manager != nullptr)
    fd_manager(fd_cookie, get_current_worker(), message, pointer);
}

int run_resource_predicate(worker *w, definition *d)
{
  if (d == nullptr || predtyp(d) == ENTER_UNDEFINED)
    return VRIO_E_FILE_NOT_FOUND;
  return vr_query_once(d, nullptr, true, true) == 1 ? 0 : VRIO_E_FILE_NOT_FOUND;
}

} // namespace

bool vr_fd_ever_loaded(void) { return fd_ever_loaded; }

/* The library's hooks, and the lower layers' hooks that lead to them. */
static void store_hooks(void *cookie, fd_manager_fn manager, fd_restore_fn restore, fd_save_fn save,
                 fd_destructor_fn destructor)
{
  fd_cookie = cookie;
  fd_manager = manager;
  fd_restorer = restore;
  fd_saver = save;
  fd_destructor = destructor;
  const bool on = cookie != nullptr || manager != nullptr || restore != nullptr || save != nullptr ||
                  destructor != nullptr;
  call_fd_manager_hook = on ? manager_hook : nullptr;
  fd_destructor_hook = on ? call_fd_destructor : nullptr;
}

void init_fd_hooks(void)
{
  fd_ever_loaded = false;
  store_hooks(nullptr, nullptr, nullptr, nullptr, nullptr);
}

int VR_install_fd_hooks(void *cookie, fd_manager_fn manager, fd_restore_fn restore, fd_save_fn save,
                        fd_destructor_fn destructor, int install)
{
  fd_ever_loaded = true;
  if (install)
    store_hooks(cookie, manager, restore, save, destructor);
  else
    store_hooks(nullptr, nullptr, nullptr, nullptr, nullptr);
  return 1;
}

void call_fd_destructor(void *indexical)
{
  if (fd_destructor != nullptr)
    fd_destructor(fd_cookie, indexical);
}

void *vr_fd_cookie(void) { return fd_cookie; }
fd_save_fn vr_fd_save_hook(void) { return fd_saver; }
fd_restore_fn vr_fd_restore_hook(void) { return fd_restorer; }

int load_clpfd_resource(worker *w) { return run_resource_predicate(w, preds.load_clpfd_resource); }
int unload_clpfd_resource(worker *w) { return run_resource_predicate(w, preds.unload_clpfd_resource); }

/* $state_resources(File, Names): the names of the "# FR:" lines of a saved
   state's header, in order (an empty list for a state without any); fails
   when the file cannot be opened or has no version line. */
int prolog_state_resources(worker *w)
{
  const TAGGED file = deref(w->term[0]);
  if (!IsAtom(file))
    return 0;
  VR_stream *s = nullptr;
  if (open_bootfile_stream(atom_name(file), &s) < 0)
    return 0;
  std::vector<std::string> names;
  bool found = false;
  std::string line;
  for (;;) {
    const int c = vr_get_byte_helper(s, 0);
    if (c < 0)
      break;
    if (c != '\n') {
      if (line.size() < 4096)
        line.push_back(static_cast<char>(c));
      continue;
    }
    if (line.compare(0, 7, "version") == 0) {
      found = true;
      break;
    }
    if (line.compare(0, 7, "# FR: \"") == 0 && line.size() >= 8 && line.back() == '"')
      names.push_back(line.substr(7, line.size() - 8));
    line.clear();
  }
  VR_fclose(s, 0);
  if (!found)
    return 0;
  TAGGED list = atom_nil;
  for (std::size_t i = names.size(); i-- > 0;) {
    const TAGGED a = init_atom_check(names[i].c_str(), 0);
    if (a == 0)
      return 0;
    if (w->heap_warn - w->global_top < 64) {
      w->term[2] = list;
      call_overflow(w, 256, 3);
      list = w->term[2];
    }
    TAGGED *h = w->global_top;
    h[0] = a;
    h[1] = list;
    w->global_top = h + 2;
    list = MakeLST(h);
  }
  return cunify(w, w->term[1], list);
}
