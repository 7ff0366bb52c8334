/* errors.cpp: the process-wide error record, raising errors into Prolog,
 * and fatal faults.
 *
 * The record (g_error_type, g_culprit, g_error_msg_ienc) holds the last
 * error that native code saved; it stays until the next save_error, and the
 * runtime library's error predicate reads it back with $cerror_data/2 after
 * backtracking into the choicepoint that raise_error_goal pushed.  The
 * message is always zero-terminated, at most 2047 bytes, and never ends in
 * the middle of a UTF-8 sequence.
 *
 * abort_env is the embedding layer's abort point while it initialises the
 * runtime; VR_raise_fault uses it once and clears it.
 *
 * Engine thread only: nothing here is locked.
 */
#include "errors.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "atoms.h"
#include "datadefs.h"
#include "memman.h"
#include "support.h"
#include "terms.h"
#include "unify.h"
#include "vostrel/vrio_errors.h"
#include "worker.h"

/* The XSI strerror_r: unlike the GNU one it says when the number has no
   message, which vr_strerror reports as "errno=N". */
extern "C" int __xpg_strerror_r(int errnum, char *buf, std::size_t buflen);

int g_error_type = 0;
TAGGED g_culprit = atom_nil;
char g_error_msg_ienc[ERR_MSG_SIZE];

void (*vr_push_error_choicepoint)(worker *w, int which) = nullptr;
void (*vr_reinitialize_hook)(worker *w) = nullptr;

namespace {

std::jmp_buf *abort_env = nullptr;

/* vr_strerror's own buffer, so that asking for a system message (as
   $error_message does) never overwrites the recorded error message. */
char strerror_buf[ERR_MSG_SIZE];

inline bool is_continuation_byte(unsigned char c) { return (c & 0xC0) == 0x80; }

} // namespace

void save_error(int type, const char *message_ienc, TAGGED culprit)
{
  g_error_type = type;
  g_culprit = culprit;
  if (message_ienc == nullptr)
    message_ienc = "INTERNAL ERROR";
  /* The message may be g_error_msg_ienc itself (re-recording the current
     message), hence memmove. */
  const std::size_t len = std::strlen(message_ienc);
  if (len < static_cast<std::size_t>(ERR_MSG_SIZE)) {
    std::memmove(g_error_msg_ienc, message_ienc, len + 1);
    return;
  }
  std::memmove(g_error_msg_ienc, message_ienc, ERR_MSG_SIZE);
  /* Cut before the character that straddles the limit: byte 2047 must hold
     the terminator, so walk back from it over continuation bytes and end the
     text at the lead (or ASCII) byte found. */
  int end = ERR_MSG_SIZE - 1;
  while (end > 0 && is_continuation_byte(static_cast<unsigned char>(g_error_msg_ienc[end])))
    --end;
  g_error_msg_ienc[end] = '\0';
}

TAGGED build_goal(worker *w, const char *module, const char *name, int arity)
{
  /* Creating one atom may collect atoms; the other, held only in this
     frame, is registered meanwhile so that it survives. */
  const TAGGED name_atom = init_atom_check(name, 0);
  VR_register_atom(name_atom);
  const TAGGED module_atom = init_atom_check(module, 0);
  VR_unregister_atom(name_atom);
  TAGGED goal = name_atom;
  if (arity > 0) {
    TAGGED *h = w->global_top;
    h[0] = MakeFunctor(name_atom, static_cast<unsigned>(arity));
    for (int i = 1; i <= arity; ++i) {
      TAGGED *cell = h + i;
      const TAGGED t = deref(w->term[i - 1]);
      if (IsVar(t) && TagToRef(t) >= cell) {
        /* An unbound variable above the heap top lives on the local stack,
           which the goal may outlive: move it to the heap by binding the
           local cell to a fresh heap variable. */
        TAGGED *var = TagToRef(t);
        *cell = PointerToTerm(cell);
        *var = PointerToTerm(cell);
        if (var < w->local_uncond)
          *w->trail_top++ = PointerToTerm(var);
      } else {
        *cell = t;
      }
    }
    w->global_top = h + arity + 1;
    goal = MakeSTR(h);
  }
  TAGGED *h = w->global_top;
  h[0] = functor_colon;
  h[1] = module_atom;
  h[2] = goal;
  w->global_top = h + 3;
  return MakeSTR(h);
}

void raise_error_goal(TAGGED goal, int argno)
{
  worker *w = self;
  w->term[0] = goal;
  w->term[1] = MakeSmall_checked(argno);
  w->term[2] = g_culprit;
  if (vr_push_error_choicepoint != nullptr)
    vr_push_error_choicepoint(w, ERROR_CHPT_CERROR);
}

void raise_error(const char *module, const char *name, int arity, int argno)
{
  raise_error_goal(build_goal(self, module, name, arity), argno);
}

void raise_func_error(const char *name, int arity)
{
  worker *w = self;
  w->term[0] = build_goal(w, "prolog", name, arity);
  raise_error_goal(build_goal(w, "prolog", "$eval", 1), 1);
}

void raise_exception(TAGGED term)
{
  worker *w = self;
  w->term[0] = term;
  if (vr_push_error_choicepoint != nullptr)
    vr_push_error_choicepoint(w, ERROR_CHPT_RAISE_EXCP);
}

void vr_raise_errno_error(int errno_value, const char *pred_name, const char *syscall_name)
{
  /* One byte more than the record holds, so that a text too long for it
     reaches save_error whole up to the limit and is cut there on a
     character boundary, never inside a sequence by snprintf. */
  char message[ERR_MSG_SIZE + 1];
  if (std::strcmp(syscall_name, "not supported") == 0)
    std::snprintf(message, sizeof message, "%s not supported", pred_name);
  else
    std::snprintf(message, sizeof message, "%s: '%s' failed: %s", pred_name, syscall_name,
                  vr_strerror(errno_value));
  save_error(SYSTEM_ERROR, message, MakeSmall_checked(0));
  raise_error("prolog", "", 0, 0);
  if (self->fli_data != nullptr)
    self->fli_data->excp_flag = 0;
}

const char *vr_strerror(int errno_value)
{
  const char *converted = nullptr;
  if (__xpg_strerror_r(errno_value, strerror_buf, sizeof strerror_buf) == 0)
    converted = VR_from_os(strerror_buf, 3);
  if (converted == nullptr) {
    std::snprintf(strerror_buf, sizeof strerror_buf, "errno=%d", errno_value);
    return strerror_buf;
  }
  if (converted != strerror_buf) {
    std::strncpy(strerror_buf, converted, sizeof strerror_buf - 1);
    strerror_buf[sizeof strerror_buf - 1] = '\0';
  }
  return strerror_buf;
}

void VR_raise_fault(const char *message)
{
  if (abort_env == nullptr) {
    errprintf(3, "\n! %s\n", message);
    vr_exitmsg(-1);
  }
  save_error(FATAL_FAULT_TYPE, message, atom_nil);
  std::jmp_buf *env = abort_env;
  abort_env = nullptr;  /* it serves once: a fault during recovery is fatal */
  std::longjmp(*env, 3);
}

void vr_set_abort_env(std::jmp_buf *env)
{
  abort_env = env;
}

const char *vr_get_abort_err_ienc(void)
{
  memman_reinit(&eglobal->mm);
  if (vr_reinitialize_hook != nullptr)
    vr_reinitialize_hook(self);
  return g_error_msg_ienc;
}

void vr_exitmsg(int code)
{
  std::exit(code);
}

/* $cerror_data(?Type, ?Message) */
int prolog_cerror_data(worker *w)
{
  TAGGED message = init_atom_check(g_error_msg_ienc, 0);
  if (message == 0)
    message = init_atom_check("unknown error", 0);
  return cunify(w, w->term[0], MakeSmall_checked(g_error_type)) &&
         cunify(w, w->term[1], message);
}

/* $error_message(+Code, ?Message) */
int prolog_error_message(worker *w)
{
  const TAGGED code = deref(w->term[0]);
  VR_int64 value;
  if (IsSmall(code)) {
    value = GetSmall(code);
  } else if (IsStructure(code) && IsBoxHeader(*TagToSTR(code)) && !BoxIsFloat(*TagToSTR(code))) {
    const TAGGED *box = TagToSTR(code);
    if (BoxPayload(box[0]) <= 2) {
      value = vri_get_int64(code);
    } else {
      /* Beyond 64 bits: only the sign matters, and the top digit has it. */
      const bool negative = static_cast<std::int32_t>(box[BoxPayload(box[0])]) < 0;
      value = negative ? INT64_MIN : INT64_MAX;
    }
  } else {
    return 0;
  }
  /* Codes outside 32 bits are clamped: a clamped negative code is still no
     library code, where truncation could alias a real one. */
  const int clamped = value < INT32_MIN ? INT32_MIN : value > INT32_MAX ? INT32_MAX : static_cast<int>(value);
  const char *text = clamped < 0 ? vrio_error_name(static_cast<vrio_t_error_code>(clamped))
                                 : vr_strerror(clamped);
  TAGGED message = init_atom_check(text, 0);
  if (message == 0)
    message = init_atom_check("unknown error", 0);
  return cunify(w, w->term[1], message);
}
