// state_tool: the saved-state checks that need whole processes.
//
//   state_tool system-save FILE
//       starts a runtime, compiles the runtime library from source and
//       writes the whole system (module prolog included) to FILE;
//   state_tool system-restore FILE PROGRAM
//       starts a runtime without the library, restores FILE as start-up
//       will (prolog_restore with X0 the file, X1 the context), then
//       loads PROGRAM into user and runs its main/0;
//   state_tool damage DIR PROGRAM
//       writes states of PROGRAM in DIR, then restores a table of damaged
//       copies: each must end in an error that names the fault, never in
//       success or a crash.
// Each prints the time its start-up took (compiling or restoring the
// library) on standard error, for the report of what a restore saves.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "compiler.h"
#include "insn_table.h"
#include "library.h"
#include "runtime_boot.h"
#include "startup.h"
#include "saved_state.h"
#include "state_common.h"

using namespace state_test;

namespace {

double ms_since(std::chrono::steady_clock::time_point t0)
{
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

int restore_boot(worker *w, void *cookie)
{
  w->term[0] = mk_atom(static_cast<const char *>(cookie));
  w->term[1] = atom_nil;
  return prolog_restore(w);
}

int run_main(worker *w, const char *program)
{
  mod_def *user = find_module(mk_atom("user"), 1);
  std::vector<std::string> errors;
  if (consult_file(w, program, user, &errors) < 0 || !errors.empty()) {
    for (const std::string &e : errors)
      std::fprintf(stderr, "state_tool: %s\n", e.c_str());
    return 1;
  }
  definition *main_pred = insert_definition(user, mk_atom("main"), 0, 0);
  if (main_pred == nullptr)
    return 1;
  query q;
  const int res = query_open(w, &q, main_pred, nullptr);
  query_close(w, &q);
  if (res < 0) {
    const TAGGED e = load_stored_exception(w);
    std::fprintf(stderr, "state_tool: main raised %s\n", e != 0 ? term_to_text(e).c_str() : "?");
    erase_stored_exception();
  }
  return res == 1 ? 0 : 1;
}

int system_save(const char *file)
{
  const auto t0 = std::chrono::steady_clock::now();
  worker *w = (runtime_start(0, nullptr) == 1 ? self : nullptr);
  if (w == nullptr)
    return 1;
  std::fprintf(stderr, "state_tool: start-up compiling the library: %.0f ms\n", ms_since(t0));
  const auto t1 = std::chrono::steady_clock::now();
  std::string ball;
  const int res = call_prolog(w, "$save", {mk_atom(file), MakeSmall_checked(1), mk_atom("system_save")}, &ball);
  std::fprintf(stderr, "state_tool: writing the whole system: %.0f ms\n", ms_since(t1));
  if (res != 1)
    std::fprintf(stderr, "state_tool: $save gave %d %s\n", res, ball.c_str());
  runtime_stop();
  return res == 1 ? 0 : 1;
}

int bare_start(void)
{
  const auto t0 = std::chrono::steady_clock::now();
  worker *w = (vr_glue_initialize(0, nullptr, nullptr, nullptr, nullptr, 0, 0) == 1 ? self : nullptr);
  std::fprintf(stderr, "state_tool: start-up without the library: %.0f ms\n", ms_since(t0));
  runtime_stop();
  return w != nullptr ? 0 : 1;
}

int system_restore(const char *file, const char *program)
{
  const auto t0 = std::chrono::steady_clock::now();
  worker *w = vr_glue_initialize(0, nullptr, nullptr, nullptr, nullptr, 0, 0) == 1 ? self : nullptr;
  if (w != nullptr && restore_boot(w, const_cast<char *>(file)) == 1)
    boot_state_loaded();
  else
    w = nullptr;
  if (w == nullptr) {
    std::fprintf(stderr, "state_tool: start-up restoring %s failed\n", file);
    runtime_stop();
    return 1;
  }
  std::fprintf(stderr, "state_tool: start-up restoring the library: %.0f ms\n", ms_since(t0));
  const int status = run_main(w, program);
  runtime_stop();
  return status;
}

// ---- Damaged states ----

struct damage_case {
  std::string name;
  std::function<bool(bytes &)> damage; // false: the case does not apply to this state
  std::string expect;                  // text the error must hold
  bool increment = false;              // $restore_increment instead of $restore
};

const record *first_of(const std::vector<record> &rs, std::uint32_t tag)
{
  for (const record &r : rs)
    if (r.tag == tag)
      return &r;
  return nullptr;
}

bytes cut(const bytes &b, std::size_t n) { return bytes(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(n)); }

void replace_text(bytes &b, const std::string &from, const std::string &to)
{
  std::string s(b.begin(), b.end());
  const std::size_t at = s.find(from);
  if (at != std::string::npos)
    s.replace(at, from.size(), to);
  b.assign(s.begin(), s.end());
}

int damage(const std::string &dir, const char *program)
{
  std::vector<std::string> errors;
  worker *w = (runtime_start(0, nullptr) == 1 ? self : nullptr);
  if (w == nullptr)
    return 1;
  int failures = 0;
  auto check = [&](bool ok, const std::string &what) {
    if (!ok) {
      failures++;
      std::printf("FAILED %s\n", what.c_str());
    }
  };
  const std::string empty_state = dir + "/empty.sav", base = dir + "/base.sav", selected = dir + "/selected.sav",
                    work = dir + "/case.sav";
  std::string ball;
  check(call_prolog(w, "$save", {mk_atom(empty_state.c_str()), MakeSmall_checked(0), mk_atom("save")}, &ball) == 1,
        "saving an empty program: " + ball);
  mod_def *user = find_module(mk_atom("user"), 1);
  if (consult_file(w, program, user, &errors) < 0 || !errors.empty()) {
    std::printf("FAILED loading %s\n", program);
    return 1;
  }
  check(call_prolog(w, "$save", {mk_atom(base.c_str()), MakeSmall_checked(0), mk_atom("save")}, &ball) == 1,
        "saving the program: " + ball);
  {
    TAGGED *h = w->global_top;
    h[0] = mk_atom("roundtrip_lib");
    h[1] = atom_nil;
    w->global_top = h + 2;
    check(call_prolog(w, "$save_increment", {MakeLST(h), atom_nil, atom_nil, mk_atom(selected.c_str()), mk_atom("save")},
                      &ball) == 1,
          "saving a module: " + ball);
  }

  // Restoring a program that lacks the attribute module wipes the module
  // but keeps its native entries.
  mod_def *lib = find_module(mk_atom("roundtrip_lib"), 0);
  definition *get = lib != nullptr ? insert_definition(lib, mk_atom("$get_attributes"), 3, 0) : nullptr;
  check(get != nullptr && predtyp(get) == BUILTIN_GET_ATTRIBUTES, "the attribute module's $get_attributes/3 exists");
  check(call_prolog(w, "$restore", {mk_atom(empty_state.c_str()), mk_atom("restore")}, &ball) == 1,
        "restoring the empty program: " + ball);
  check(get != nullptr && predtyp(get) == BUILTIN_GET_ATTRIBUTES,
        "a wiped module keeps the native kind of $get_attributes/3");

  const bytes good = read_file(base);
  const bytes good_selected = read_file(selected);
  std::map<std::uint32_t, std::string> names;
  const std::vector<record> rs = records_of(good, &names);
  check(!rs.empty() && rs.back().tag == sr_eof, "the base state parses to its end record");

  // The intact states restore.
  check(call_prolog(w, "$restore", {mk_atom(base.c_str()), mk_atom("restore")}, &ball) == 1, "intact state: " + ball);
  check(call_prolog(w, "$restore_increment", {mk_atom(selected.c_str()), mk_atom("restore")}, &ball) == 1,
        "intact selection: " + ball);

  std::vector<damage_case> cases = {
      {"no version line", [](bytes &b) { replace_text(b, "\nversion=3", "\nrevision=3"); return true; },
       "bad saved state"},
      {"wrong version", [](bytes &b) { replace_text(b, "version=3", "version=4"); return true; }, "bad saved state"},
      {"archmask line before the version", [](bytes &b) { replace_text(b, "# META_INFO END\n", "archmask=0x2d85a\n"); return true; },
       "bad saved state"},
      {"64-bit words", [](bytes &b) { replace_text(b, "archmask=0x2d85a", "archmask=0x2d85b"); return true; },
       "type 64-bit,BDD,GAUGE,ALL_BUT_PROLOG, saved state, type 32-bit,BDD,GAUGE,ALL_BUT_PROLOG, emulator"},
      {"no decision diagrams in a whole-system state",
       [](bytes &b) { replace_text(b, "archmask=0x2d85a", "archmask=0x2dc52"); return true; },
       "type 32-bit,GAUGE,ALL, saved state"},
      {"empty file", [](bytes &b) { b.clear(); return true; }, "bad saved state"},
      {"header only", [](bytes &b) { b = cut(b, records_start(b)); return true; }, "no end record"},
      {"unknown record type",
       [&](bytes &b) { set_word_at(b, rs[1].at, 17); return true; }, "unknown record type 17"},
      {"record type far out", [&](bytes &b) { set_word_at(b, rs[0].at, 0xFFFFFFF0u); return true; },
       "unknown record type"},
      {"undefined module key",
       [&](bytes &b) {
         const record *r = first_of(rs, sr_rel_pred);
         if (r == nullptr)
           return false;
         set_word_at(b, r->at + 8, 0x12345670u);
         return true;
       },
       "relocation undefined"},
      {"undefined predicate key",
       [&](bytes &b) {
         const record *r = first_of(rs, sr_data_pred);
         if (r == nullptr)
           return false;
         set_word_at(b, r->at + 4, 0x0BAD0000u);
         return true;
       },
       "relocation undefined"},
      {"undefined atom key in a clause",
       [&](bytes &b) {
         // The first atom operand of the first clause, made a key no record defines.
         for (const record &r : rs)
           if (r.tag == sr_data_emul)
             for (std::size_t at = r.at + 28; at + 4 <= r.end; at += 2) {
               const std::uint32_t v = word_at(b, at);
               if ((v & 7) == 7 && (v >> 31) == 0 && (v & 0x807FFFFF) >= 72 && names.count(v & 0x807FFFFF)) {
                 set_word_at(b, at, (v & ~0x807FFFFFu) | 0x7FFFF7u);
                 return true;
               }
             }
         return false;
       },
       "bad saved state"},
      {"key defined twice",
       [&](bytes &b) {
         const record *r = first_of(rs, sr_rel_atom);
         if (r == nullptr)
           return false;
         b.insert(b.begin() + static_cast<std::ptrdiff_t>(r->end), good.begin() + static_cast<std::ptrdiff_t>(r->at),
                  good.begin() + static_cast<std::ptrdiff_t>(r->end));
         return true;
       },
       "relocation redefined"},
      {"bad relocation: a clause moved by the wrong displacement",
       [&](bytes &b) {
         // A clause with an embedded choice block: its in-clause addresses
         // no longer fall inside it.
         for (const record &r : rs)
           if (r.tag == sr_data_emul)
             for (std::size_t at = r.at + 28; at + 2 <= r.end; at += 2)
               if (b[at] == 5 && b[at + 1] == 0 && (at - r.at - 28) % 4 == 0) {
                 set_word_at(b, r.at + 12, r.body[2] + 0x1000);
                 return true;
               }
         return false;
       },
       "bad saved state"},
      {"atom record with a bad relocation kind",
       [&](bytes &b) { const record *r = first_of(rs, sr_rel_atom); set_word_at(b, r->at + 12, 9); return true; },
       "bad atom record"},
      {"atom size pointing outside the file",
       [&](bytes &b) { const record *r = first_of(rs, sr_rel_atom); set_word_at(b, r->at + 8, 0x7FFFFFFF); return true; },
       "bad atom record"},
      {"clause size pointing outside the file",
       [&](bytes &b) {
         const record *r = first_of(rs, sr_data_emul);
         if (r == nullptr)
           return false;
         set_word_at(b, r->at + 8, r->body[1] + (0x100000u << 9));
         set_word_at(b, r->at + 24, r->body[5] + 0x100000u);
         return true;
       },
       "truncated"},
      {"clause size disagreeing with its record",
       [&](bytes &b) { const record *r = first_of(rs, sr_data_emul); set_word_at(b, r->at + 24, r->body[5] + 4); return true; },
       "bad clause size"},
      {"stored term size pointing outside the file",
       [&](bytes &b) {
         const record *r = first_of(rs, sr_data_instance);
         if (r == nullptr)
           return false;
         set_word_at(b, r->at + 16, 0x0FFFFFF0);
         return true;
       },
       "truncated"},
      {"export list size pointing outside the file",
       [&](bytes &b) {
         const record *r = first_of(rs, sr_data_public);
         if (r == nullptr)
           return false;
         set_word_at(b, r->at + 12, 0x400000);
         return true;
       },
       "truncated"},
      {"trailer size wrong",
       [&](bytes &b) { replace_text(b, "# size=\"0x", "# size=\"0x1"); return true; }, "trailer"},
      {"trailer missing", [&](bytes &b) { b = cut(b, rs.back().end); return true; }, "trailer"},
      {"a selection given to $restore", [&](bytes &b) { b = good_selected; return true; },
       "type 32-bit,BDD,GAUGE,SELECTED, saved state, type 32-bit,BDD,GAUGE,ALL_BUT_PROLOG, emulator"},
      {"a program given to $restore_increment", [](bytes &) { return true; },
       "type 32-bit,BDD,GAUGE,ALL_BUT_PROLOG, saved state, type 32-bit,BDD,GAUGE, emulator", true},
  };
  // Truncated at every record boundary and inside every record.
  for (std::size_t i = 0; i + 1 < rs.size(); i++) {
    const std::size_t end = rs[i].end;
    cases.push_back({"truncated after record " + std::to_string(i) + " (tag " + std::to_string(rs[i].tag) + ")",
                     [end](bytes &b) { b = cut(b, end); return true; }, "no end record"});
    const std::size_t inside = rs[i].at + 13;
    cases.push_back({"truncated inside record " + std::to_string(i), [inside](bytes &b) { b = cut(b, inside); return true; },
                     "truncated"});
    if (rs[i].end > rs[i].at + 28) {
      const std::size_t mid = (rs[i].at + 28 + rs[i].end) / 2;
      cases.push_back({"truncated inside the payload of record " + std::to_string(i),
                       [mid](bytes &b) { b = cut(b, mid); return true; }, "truncated"});
    }
  }
  int run = 0;
  for (damage_case &c : cases) {
    bytes b = good;
    if (!c.damage(b)) {
      std::printf("skipped %s (the state has no such record)\n", c.name.c_str());
      continue;
    }
    write_file(work, b);
    ball.clear();
    const int res = call_prolog(w, c.increment ? "$restore_increment" : "$restore",
                                {mk_atom(work.c_str()), mk_atom("restore")}, &ball);
    run++;
    check(res == -1 && ball.find(c.expect) != std::string::npos,
          c.name + ": expected an error holding \"" + c.expect + "\", got " +
              (res == 1 ? std::string("success") : res == 0 ? std::string("failure") : ball));
  }
  // The header's resource lines: read by $state_resources/2, ignored by
  // the reader.
  {
    bytes b = good;
    const std::string lines = "# FR: \"codesio\"\n# FR: \"clpfd\"\n";
    replace_text(b, "# META_INFO END\n", lines + "# META_INFO END\n");
    // The trailer counts the header too.
    char old_size[32], new_size[32];
    std::snprintf(old_size, sizeof old_size, "# size=\"0x%zx\"", rs.back().end);
    std::snprintf(new_size, sizeof new_size, "# size=\"0x%zx\"", rs.back().end + lines.size());
    replace_text(b, old_size, new_size);
    write_file(work, b);
    TAGGED *v = w->global_top++;
    *v = PointerToTerm(v);
    TAGGED list = *v;
    check(call_prolog(w, "$state_resources", {mk_atom(work.c_str()), list}, &ball) == 1 &&
              term_to_text(deref(*v)) == "[codesio,clpfd]",
          "resource lines: " + term_to_text(deref(*v)));
    check(call_prolog(w, "$restore", {mk_atom(work.c_str()), mk_atom("restore")}, &ball) == 1,
          "a state with resource lines restores: " + ball);
  }
  // A save whose last step fails (the target is a directory, which the
  // finished file cannot replace) raises an error and leaves nothing
  // behind; the directory is as it was.
  {
    const std::string target = dir + "/a_directory";
    std::string cmd = "mkdir -p " + target + " && touch " + target + "/kept";
    check(std::system(cmd.c_str()) == 0, "making a directory");
    check(call_prolog(w, "$save", {mk_atom(target.c_str()), MakeSmall_checked(0), mk_atom("save")}, &ball) == -1,
          "saving over a directory raises an error");
    cmd = "test -f " + target + "/kept && ! ls " + target + ".tmp* > /dev/null 2>&1";
    check(std::system(cmd.c_str()) == 0, "a failed save leaves no temporary file and the target as it was");
  }
  // A missing file is an existence error.
  check(call_prolog(w, "$restore", {mk_atom((dir + "/no_such.sav").c_str()), mk_atom("restore")}, &ball) == -1 &&
            ball.find("existence_error") != std::string::npos,
        "missing file: " + ball);
  // After all that, the intact state still restores.
  check(call_prolog(w, "$restore", {mk_atom(base.c_str()), mk_atom("restore")}, &ball) == 1, "intact state again: " + ball);
  std::printf("%d damaged states, %d failures\n", run, failures);
  runtime_stop();
  return failures == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "system-save" && argc == 3)
    return system_save(argv[2]);
  if (mode == "system-restore" && argc == 4)
    return system_restore(argv[2], argv[3]);
  if (mode == "bare-start" && argc == 2)
    return bare_start();
  if (mode == "damage" && argc == 4)
    return damage(argv[2], argv[3]);
  std::fprintf(stderr, "usage: state_tool system-save FILE | system-restore FILE PROGRAM | damage DIR PROGRAM\n");
  return 2;
}
