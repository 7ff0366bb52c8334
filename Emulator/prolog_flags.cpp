/* prolog_flags.cpp: the flag fields of eglobal and their built-ins (see
 * prolog_flags.h).
 *
 * A flag may hold any atom the library accepts, not only predefined ones,
 * so the fields are atom-collection roots.  The version banner and the
 * window title are registered atoms as well, since they outlive every
 * reference from Prolog.
 */
#include "prolog_flags.h"

#include <cctype>
#include <cstring>
#include <string>
#include <sys/utsname.h>

#include "atoms.h"
#include "char_conversion.h"
#include "chartype.h"
#include "datadefs.h"
#include "initial_atoms.h"
#include "terms.h"
#include "unify.h"
#include "worker.h"

VR_SetWindowTitleHook set_window_title_hook = nullptr;
VR_GetWindowTitleHook get_window_title_hook = nullptr;
void *set_window_title_cookie = nullptr;
void *get_window_title_cookie = nullptr;

namespace {

constexpr TAGGED A(std::uint32_t n) { return MakeAtom(n); }

void mark_flag_atoms(worker *)
{
  const TAGGED fields[] = {
      eglobal->current_unknown,           eglobal->current_syntax,
      eglobal->current_compiling,         eglobal->current_quoted_charset_flag,
      eglobal->current_compatibility_flag, eglobal->current_ferror_flag,
      eglobal->current_single_var_flag,   eglobal->current_redefine_flag,
      eglobal->current_discontiguous_flag, eglobal->current_informational_flag,
      eglobal->current_system_type_flag,  eglobal->current_version_flag,
      eglobal->current_window_title,      eglobal->current_source_info,
      eglobal->current_char_conversion,   eglobal->current_double_quotes,
      eglobal->current_gcmode,            eglobal->current_gctrace,
  };
  for (TAGGED t : fields)
    agc_atom(t);
}

/* Unify Old (X0) with the field; then store the dereferenced New (X1). */
int flag(worker *w, TAGGED *field)
{
  if (!cunify(w, w->term[0], *field))
    return 0;
  *field = deref(w->term[1]);
  return 1;
}

/* Read-only: unify X0 with the field. */
int read_only(worker *w, TAGGED field) { return cunify(w, w->term[0], field); }

} // namespace

const char *VR_get_emulator_version(void)
{
  return "Vostrel 4.1.3 (x86-linux): " __DATE__;
}

void init_prolog_flags(bool development)
{
  const TAGGED on_when_development = A(development ? atom_on_enum : atom_off_enum);
  eglobal->current_prompt = init_atom_check("|: ", 0);
  init_char_conversion();
  eglobal->current_double_quotes = A(atom_codes_enum);
  eglobal->current_unknown = A(atom_error_enum);
  eglobal->current_source_info = A(atom_off_enum);
  eglobal->current_gcmargin = MakeSmall_checked(1000);
  eglobal->current_gcmode = A(atom_on_enum);
  eglobal->current_gctrace = A(atom_off_enum);
  eglobal->current_syntax = A(atom_error_enum);
  eglobal->current_compiling = A(atom_compactcode_enum);
  eglobal->current_quoted_charset_flag = A(atom_prolog_enum);
  eglobal->current_compatibility_flag = A(atom_iso_enum);
  eglobal->current_ferror_flag = A(atom_on_enum);
  eglobal->current_single_var_flag = A(atom_on_enum);
  eglobal->current_redefine_flag = on_when_development;
  eglobal->current_discontiguous_flag = A(atom_on_enum);
  eglobal->current_informational_flag = on_when_development;
  eglobal->current_system_type_flag = development ? A(atom_development_enum) : init_atom_check("runtime", 0);
  const TAGGED version = init_atom_check(VR_get_emulator_version(), 0);
  VR_register_atom(version);
  eglobal->current_version_flag = version;
  if (eglobal->current_window_title != 0)
    VR_unregister_atom(eglobal->current_window_title);
  eglobal->current_window_title = 0;
  agc_add_root_marker(mark_flag_atoms);
}

/* ---- Window title ---- */

VR_SetWindowTitleHook VR_set_set_window_title_hook(VR_SetWindowTitleHook hook, void *cookie)
{
  const VR_SetWindowTitleHook old = set_window_title_hook;
  set_window_title_hook = hook;
  set_window_title_cookie = cookie;
  return old;
}

VR_GetWindowTitleHook VR_set_get_window_title_hook(VR_GetWindowTitleHook hook, void *cookie)
{
  const VR_GetWindowTitleHook old = get_window_title_hook;
  get_window_title_hook = hook;
  get_window_title_cookie = cookie;
  return old;
}

int set_window_title(const char *title)
{
  if (set_window_title_hook != nullptr)
    return set_window_title_hook(title, set_window_title_cookie);
  const TAGGED t = init_atom_check(title, 0);
  if (t == 0)
    return 0;
  VR_register_atom(t);
  const TAGGED old = eglobal->current_window_title;
  eglobal->current_window_title = t;
  if (old == 0)
    return 0;
  VR_unregister_atom(old);
  return 1;
}

const char *get_window_title(void)
{
  if (get_window_title_hook != nullptr)
    return get_window_title_hook(get_window_title_cookie);
  if (eglobal->current_window_title != 0)
    return atom_name(eglobal->current_window_title);
  return VR_get_emulator_version();
}

/* ---- Writable flags ---- */

int prolog_prompt(worker *w) { return flag(w, &eglobal->current_prompt); }
int prolog_char_conversion(worker *w) { return flag(w, &eglobal->current_char_conversion); }
int prolog_double_quotes(worker *w) { return flag(w, &eglobal->current_double_quotes); }
int prolog_unknown(worker *w) { return flag(w, &eglobal->current_unknown); }
int prolog_source_info(worker *w) { return flag(w, &eglobal->current_source_info); }
int prolog_syntax(worker *w) { return flag(w, &eglobal->current_syntax); }
int prolog_quoted_charset_flag(worker *w) { return flag(w, &eglobal->current_quoted_charset_flag); }
int prolog_ferror_flag(worker *w) { return flag(w, &eglobal->current_ferror_flag); }
int prolog_single_var_flag(worker *w) { return flag(w, &eglobal->current_single_var_flag); }
int prolog_multiple_flag(worker *w) { return flag(w, &eglobal->current_redefine_flag); }
int prolog_discontiguous_flag(worker *w) { return flag(w, &eglobal->current_discontiguous_flag); }
int prolog_informational_flag(worker *w) { return flag(w, &eglobal->current_informational_flag); }

int prolog_compiling(worker *w)
{
  if (!cunify(w, w->term[0], eglobal->current_compiling))
    return 0;
  const TAGGED mode = deref(w->term[1]);
  if (mode != A(atom_compactcode_enum) && mode != A(atom_profiledcode_enum) && mode != A(atom_debugcode_enum))
    return 0;
  eglobal->current_compiling = mode;
  return 1;
}

int prolog_compatibility_flag(worker *w)
{
  const TAGGED old = eglobal->current_compatibility_flag;
  if (!flag(w, &eglobal->current_compatibility_flag))
    return 0;
  if (eglobal->current_compatibility_flag != old) {
    /* Back-quote keeps its own class whatever the setting. */
    eglobal->default_chtype['`' + 1] = CH_BACKQUOTE;
    ch_type_hash('`');
  }
  return 1;
}

int prolog_legacy_char_classification_flag(worker *w)
{
  if (!cunify(w, w->term[0], A(get_wcx_legacy_char_classification() ? atom_on_enum : atom_off_enum)))
    return 0;
  set_wcx_legacy_char_classification(deref(w->term[1]) == A(atom_on_enum));
  return 1;
}

int prolog_window_title(worker *w)
{
  const TAGGED current = init_atom_check(get_window_title(), 0);
  if (current == 0 || !cunify(w, w->term[0], current))
    return 0;
  const TAGGED title = deref(w->term[1]);
  if (!IsAtom(title))
    return 0;
  if (title != current)
    set_window_title(atom_name(title));
  return 1;
}

/* ---- Read-only flags and facts ---- */

int prolog_system_type_flag(worker *w) { return read_only(w, eglobal->current_system_type_flag); }
int prolog_version_flag(worker *w) { return read_only(w, eglobal->current_version_flag); }

int prolog_version_data(worker *w)
{
  TAGGED parts[4] = {MakeSmall_checked(4), MakeSmall_checked(1), MakeSmall_checked(3), MakeSmall_checked(0)};
  return cunify_args(w, 4, w->term, parts);
}

int prolog_os_data(worker *w)
{
  const TAGGED which = deref(w->term[0]);
  if (which != MakeSmall_checked(1) && which != MakeSmall_checked(2))
    return 0;
  TAGGED name = init_atom_check("linux", 0);
  struct utsname u;
  if (which == MakeSmall_checked(1) && uname(&u) == 0) {
    std::string lower(u.sysname);
    for (char &c : lower)
      if (c >= 'A' && c <= 'Z')
        c = static_cast<char>(c - 'A' + 'a');
    const TAGGED t = init_atom_check(lower.c_str(), 0);
    if (t != 0)
      name = t;
  }
  TAGGED parts[3] = {A(atom_unix_enum), name, atom_nil};
  return cunify_args(w, 3, w->term + 1, parts);
}

int prolog_tagged_integer_range(worker *w)
{
  TAGGED bounds[2] = {MakeSmall_checked(SMALL_MIN), MakeSmall_checked(SMALL_MAX)};
  return cunify_args(w, 2, w->term, bounds);
}

int prolog_w32_get_registry_value(worker *) { return 0; }
