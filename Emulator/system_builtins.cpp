/* system_builtins.cpp: the wall clock and its calendar form, the program
 * arguments, system properties and the environment, and an immediate exit.
 *
 * Clocks are seconds since the epoch as the C library counts them, as
 * signed 32-bit values (what this 32-bit runtime's time_t holds); calendar
 * fields are local time.  The program arguments live in eglobal's
 * persistent block (internal text, VR_malloc copies owned there) and
 * survive re-initialisation.  Property sources are the atoms merged
 * (system properties, then the environment), properties and environment.
 *
 * Callers: library(system), the argv Prolog flag.  Engine thread only.
 */
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "atoms.h"
#include "datadefs.h"
#include "errors.h"
#include "fli.h"
#include "memman.h"
#include "stack_growth.h"
#include "startup.h"
#include "streams.h"
#include "system_builtins.h"
#include "terms.h"
#include "unify.h"
#include "worker.h"

namespace {

/* Source atom to its option: 0 merged, 1 properties, 2 environment; -1. */
int source_index(TAGGED t)
{
  t = deref(t);
  if (!IsAtom(t))
    return -1;
  const char *name = atom_name(t);
  if (std::strcmp(name, "merged") == 0)
    return 0;
  if (std::strcmp(name, "properties") == 0)
    return 1;
  if (std::strcmp(name, "environment") == 0)
    return 2;
  return -1;
}

/* Unifies the six calendar fields of `clock` with registers first..first+5. */
int unify_calendar(worker *w, std::time_t clock, int first)
{
  std::tm tm{};
  if (localtime_r(&clock, &tm) == nullptr)
    return 0;
  const int fields[6] = {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
  for (int i = 0; i < 6; i++)
    if (!cunify(w, w->term[first + i], MakeSmall_checked(fields[i])))
      return 0;
  return 1;
}

} // namespace

/* $time(-T) */
int prolog_time(worker *w)
{
  return cunify(w, w->term[0], make_integer_term(w, static_cast<std::int32_t>(std::time(nullptr))));
}

/* $datime(-Year, -Month, -Day, -Hour, -Min, -Sec) */
int prolog_datime6(worker *w) { return unify_calendar(w, std::time(nullptr), 0); }

/* $datime(+Clock, -Year, -Month, -Day, -Hour, -Min, -Sec) */
int prolog_datime7(worker *w)
{
  std::int64_t clock;
  if (!word_integer(w->term[0], &clock) || clock != static_cast<std::int32_t>(clock))
    return 0;
  return unify_calendar(w, static_cast<std::time_t>(clock), 1);
}

/* $mktime(+Year, +Month, +Day, +Hour, +Min, +Sec, -Clock) */
int prolog_mktime(worker *w)
{
  int fields[6];
  for (int i = 0; i < 6; i++) {
    const TAGGED t = deref(w->term[i]);
    if (!IsSmall(t))
      return 0;
    fields[i] = GetSmall(t);
  }
  std::tm tm{};
  tm.tm_year = fields[0] - 1900;
  tm.tm_mon = fields[1] - 1;
  tm.tm_mday = fields[2];
  tm.tm_hour = fields[3];
  tm.tm_min = fields[4];
  tm.tm_sec = fields[5];
  tm.tm_isdst = -1;
  const std::time_t clock = std::mktime(&tm);
  if (clock == static_cast<std::time_t>(-1))
    return 0;
  return cunify(w, w->term[6], make_integer_term(w, static_cast<std::int32_t>(clock)));
}

/* $argv(-Args) */
int prolog_argv(worker *w)
{
  const int argc = eglobal->persistent.argc;
  const long need = 2L * argc + 128;
  if (w->heap_warn - w->global_top < need)
    call_overflow(w, static_cast<int>(need), 1);
  /* Each atom goes into its heap cell at once, where the atom collector
     that making the next one may run sees it. */
  TAGGED list = atom_nil;
  for (int i = argc - 1; i >= 0; i--) {
    const TAGGED a = init_atom_check(eglobal->persistent.argv_ienc[i], 0);
    if (a == 0) {
      save_error(1539, "", 0);
      raise_error("prolog", "prolog_flag", 0, 0);
      return 0;
    }
    TAGGED *cell = w->global_top;
    w->global_top += 2;
    cell[0] = a;
    cell[1] = list;
    list = MakeLST(cell);
  }
  return cunify(w, w->term[0], list);
}

/* $set_argv(+Args) */
int prolog_set_argv(worker *w)
{
  std::vector<const char *> texts;
  TAGGED t = deref(w->term[0]);
  while (IsList(t)) {
    const TAGGED a = deref(TagToLST(t)[0]);
    if (!IsAtom(a))
      return 0;
    texts.push_back(atom_name(a));
    t = deref(TagToLST(t)[1]);
  }
  /* The texts are atom names, already in the internal encoding. */
  return t == atom_nil &&
         VR_set_argv(static_cast<int>(texts.size()), const_cast<char **>(texts.data()), 0) == 1;
}

/* $get_system_property(+Key, +Source, -Value) */
int prolog_get_system_property(worker *w)
{
  const TAGGED key = deref(w->term[0]);
  const int source = source_index(w->term[1]);
  if (!IsAtom(key) || source < 0)
    return 0;
  char *value = nullptr;
  if (VR_get_system_property(atom_name(key), &value, static_cast<unsigned>(source)) < 0)
    return 0;
  const TAGGED a = init_atom_check(value, 0);
  VR_free(value);
  return a != 0 && cunify(w, w->term[2], a);
}

/* $get_system_properties(+Source, -List): Key=Value atoms in the order the
   properties come. */
int prolog_get_system_properties(worker *w)
{
  static constexpr unsigned options[3] = {3, 1, 7};
  const int source = source_index(w->term[0]);
  if (source < 0)
    return 0;
  char **block = nullptr;
  if (VR_system_properties(&block, options[source]) < 0)
    return 0;
  std::size_t n = 0;
  while (block[n] != nullptr)
    n++;
  const long need = 128 + 5L * static_cast<long>(n);
  if (w->heap_warn - w->global_top < need)
    call_overflow(w, static_cast<int>(need), 2);
  /* Built front to back: each cell's tail is filled by the next entry, and
     every atom is in a heap cell as soon as it is made. */
  TAGGED list = atom_nil;
  TAGGED *tail = &list;
  bool ok = true;
  const TAGGED eq = MakeFunctor(init_atom_check("=", 0), 2);
  for (std::size_t i = 0; i < n && ok; i++) {
    const char *key = block[i];
    const char *value = key + std::strlen(key) + 1;
    TAGGED *cell = w->global_top;
    w->global_top += 5;
    cell[0] = MakeSTR(cell + 2);
    cell[1] = atom_nil;
    cell[2] = eq;
    cell[3] = atom_nil;
    cell[4] = atom_nil;
    *tail = MakeLST(cell);
    tail = &cell[1];
    const TAGGED k = init_atom_check(key, 0);
    cell[3] = k != 0 ? k : atom_nil;
    const TAGGED v = init_atom_check(value, 0);
    cell[4] = v != 0 ? v : atom_nil;
    ok = k != 0 && v != 0;
  }
  VR_free(block);
  return ok && cunify(w, w->term[1], list);
}

/* $set_system_property(+Key, +Value) */
int prolog_set_system_property(worker *w)
{
  const TAGGED key = deref(w->term[0]), value = deref(w->term[1]);
  return IsAtom(key) && IsAtom(value) && VR_set_system_property(atom_name(key), atom_name(value)) >= 0;
}

/* $unix_exit(+Code): ends the process now, shutting nothing down. */
int prolog_unix_exit(worker *w)
{
  const TAGGED code = deref(w->term[0]);
  if (!IsSmall(code))
    return 0;
  std::exit(GetSmall(code));
}
