/* errors.h: recording errors meant for Prolog, raising them, fatal faults.
 *
 * Native code records an error (type, culprit, message) with save_error and
 * then raises it through a choicepoint whose alternative is a predicate of
 * the runtime library, which reads the record back ($cerror_data/2) and
 * throws the exception term.  Faults that cannot become Prolog errors go to
 * VR_raise_fault: back to the embedding layer's abort point while it
 * initialises, else a message on standard error and exit status 255.
 */
#ifndef VOSTREL_ERRORS_H
#define VOSTREL_ERRORS_H

#include <csetjmp>

#include "termdefs.h"

struct worker;

/* Error classes; a type number is subtype * 256 + class. */
enum error_class {
  INSTANTIATION_ERROR = 0, TYPE_ERROR = 1, DOMAIN_ERROR = 2, REPRESENTATION_ERROR = 3,
  EXISTENCE_ERROR = 4, SYSTEM_ERROR = 5, PERMISSION_ERROR = 6, EVALUATION_ERROR = 7,
  CONSISTENCY_ERROR = 8
};
constexpr int ERR_MSG_SIZE = 2048;
/* The type recorded for a fatal fault that went back to the abort point. */
constexpr int FATAL_FAULT_TYPE = -1;

extern int g_error_type;
extern TAGGED g_culprit;
extern char g_error_msg_ienc[ERR_MSG_SIZE];

void save_error(int type, const char *message_ienc, TAGGED culprit);
TAGGED build_goal(worker *w, const char *module, const char *name, int arity);
void raise_error_goal(TAGGED goal, int argno);
void raise_error(const char *module, const char *name, int arity, int argno);
void raise_func_error(const char *name, int arity);
void raise_exception(TAGGED term);
void vr_raise_errno_error(int errno_value, const char *pred_name, const char *syscall_name);
const char *vr_strerror(int errno_value);
[[noreturn]] void VR_raise_fault(const char *message);
void vr_set_abort_env(std::jmp_buf *env);
const char *vr_get_abort_err_ienc(void);
[[noreturn]] void vr_exitmsg(int code);

int prolog_cerror_data(worker *w);
int prolog_error_message(worker *w);

/* Raising ends by pushing a choicepoint whose alternative is a canned try
   node of the runtime library: the error predicate (nd_cerror) or the
   thrower (nd_raise_excp).  Choicepoints and the try-node table belong to
   the emulator, which installs this hook when it starts; the argument
   registers are already in place when it is called.  While it is null
   (a kernel without an emulator, as in unit tests) raising only places the
   registers. */
enum error_choicepoint_kind { ERROR_CHPT_CERROR = 0, ERROR_CHPT_RAISE_EXCP = 1 };
extern void (*vr_push_error_choicepoint)(worker *w, int which);

/* After an abort the engine is rebuilt: the memory manager's recovery
   state first, then what start-up installs here (reinitialize: number
   stack, atom buffers, event queue, a fresh worker).  Null in a kernel
   that start-up did not bring up. */
extern void (*vr_reinitialize_hook)(worker *w);

#endif
