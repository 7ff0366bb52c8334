/* fli_query.cpp: queries through the interface, the interface's error
 * number and its texts, failure and exceptions of foreign code, and the
 * reserved exception.
 *
 * A query is a choicepoint of 9 words whose alternative is termcode (the
 * emulator's bottom of a nested run): saved argument 0 the goal
 * Module:Goal, 1 the message of the next run (3 start, 0 backtrack), 2 the
 * term-reference mark when it was opened.  Above it lies an environment
 * holding the caller's frame and continuation, and the goal runs towards
 * exitcode.  A handle (VR_qid) is the choicepoint's word distance from
 * choice_start as a small integer, so it survives a move of the
 * choicepoint area.  Queries nest; only the youngest (current_query) runs.
 *
 * Engine thread only.
 */
#include <cstdarg>
#include <cstring>

#include "atoms.h"
#include "datadefs.h"
#include "errors.h"
#include "exception_store.h"
#include "fli.h"
#include "modules.h"
#include "predicates.h"
#include "preds.h"
#include "stack_growth.h"
#include "terms.h"
#include "unify.h"
#include "wam.h"
#include "wamsup.h"
#include "worker.h"

namespace {

constexpr int QUERY_NODE_WORDS = 9;
constexpr TAGGED MSG_START = MakeSmall_checked(3);
constexpr TAGGED MSG_REDO = MakeSmall_checked(0);

inline int fail_with(int error)
{
  vr_errno = error;
  return 0;
}

inline bool is_query_alt(const try_node *alt) { return alt == termcode || alt == excpcode; }

inline VR_qid qid_of(worker *w, node *b)
{
  return MakeSmall_checked(static_cast<VR_INTEGER>(reinterpret_cast<TAGGED *>(b) - w->choice_start));
}

/* The choicepoint of q when q could name one at all, else null. */
node *query_node(worker *w, VR_qid q)
{
  if (q <= 7 || !IsSmall(q))
    return nullptr;
  TAGGED *p = w->choice_start + GetSmall(q);
  if (p < w->choice_end || p + QUERY_NODE_WORDS > w->choice_start)
    return nullptr;
  return reinterpret_cast<node *>(p);
}

void pop_to(worker *w, node *b)
{
  w->node_ = b;
  w->global_uncond = b->global_top;
  w->local_uncond = b->local_top;
}

/* Opens a query of d on the argument registers (create_choicepoint). */
VR_qid open_query(worker *w, definition *d)
{
  const int arity = d->proc.arity;
  if (w->heap_warn - w->global_top < arity + 132)
    call_overflow(w, arity + 132, arity);
  TAGGED goal = d->proc.printname;
  TAGGED *h = w->global_top;
  if (arity > 0) {
    w->global_top = h + arity + 1;
    h[0] = MakeFunctor(d->proc.printname, static_cast<unsigned>(arity));
    for (int i = 0; i < arity; ++i)
      fli_place_arg(w, h + 1 + i, w->term[i]);
    goal = MakeSTR(h);
    h = w->global_top;
  }
  w->global_top = h + 3;
  h[0] = functor_colon;
  h[1] = d->module->name;
  h[2] = goal;

  w->term[0] = MakeSTR(h);
  w->term[1] = MSG_START;
  w->term[2] = MakeSmall_checked(w->fli_stack_index);
  wam_push_choicepoint(w, termcode);
  node *b = w->node_;

  frame *e = reinterpret_cast<frame *>(w->local_top);
  e->frame_ = w->frame_;
  e->next_insn = w->next_insn;
  w->frame_ = e;
  w->local_top += FRAME_HEADER_WORDS;
  w->next_insn = exitcode;
  w->current_query = b;
  return qid_of(w, b);
}

/* Runs the clean-up goals that cutting left due, each as a query of its
   own; the result of the last one, else 1. */
int run_due_cleanups(worker *w)
{
  int result = 1;
  while (reinterpret_cast<std::uintptr_t>(w->node_->next_alt) & NODE_CLEANUP_PENDING) {
    definition *d = collect_cleanup_from_trail(w, preds.true0);
    if (d == preds.true0)
      break;
    /* The environment pushed for the continuation is not wanted here. */
    frame *e = w->frame_;
    w->local_top = reinterpret_cast<TAGGED *>(e);
    w->next_insn = e->next_insn;
    w->frame_ = e->frame_;
    const TAGGED goal = w->term[0];
    result = vr_query_once(d, &goal, true, false);
  }
  return result;
}

} // namespace

void refresh_current_query(worker *w)
{
  node *b = w->node_;
  while (!is_query_alt(node_alt(b)))
    b = node_previous(b);
  w->current_query = b;
}

/* ---- Predicates ---- */

VR_pred_ref VR_pred(VR_atom name, int arity, VR_atom module)
{
  /* Looked up, never created: a misspelt name must not leave an undefined
     predicate (or module) behind. */
  mod_def *m = IsAtom(module) ? find_module(module, 0) : nullptr;
  definition *d = m != nullptr && IsAtom(name) ? insert_definition(m, name, arity, 0) : nullptr;
  if (d == nullptr) {
    vr_errno = VR_ERR_PREDICATE_NOT_FOUND;
    return nullptr;
  }
  d->proc.properties |= PROP_LOCKED;
  return d;
}

VR_pred_ref VR_predicate(const char *name, int arity, const char *module)
{
  TAGGED m = 0;
  if (module == nullptr || module[0] == '\0') {
    m = eglobal->typein_mod != nullptr ? eglobal->typein_mod->name : 0;
  } else {
    m = init_atom_check(module, 0);
    if (m == 0) {
      vr_errno = VR_ERR_INVALID_STRING;
      return nullptr;
    }
  }
  if (m != 0)
    VR_register_atom(m);
  const TAGGED n = name != nullptr ? init_atom_check(name, 0) : 0;
  VR_pred_ref d = nullptr;
  if (n == 0)
    vr_errno = name == nullptr ? VR_ERR_NULL_STRING : VR_ERR_INVALID_STRING;
  else
    d = VR_pred(n, arity, m);
  if (m != 0)
    VR_unregister_atom(m);
  return d;
}

/* ---- Queries ---- */

VR_qid VR_open_query_array(VR_pred_ref pred, VR_term_ref *args)
{
  if (!VR_prolog_initialized)
    return fail_with(VR_ERR_NOT_INITIALIZED);
  if (pred == nullptr)
    return fail_with(VR_ERR_INVALID_PREDICATE);
  worker *w = self;
  for (int i = 0; i < pred->proc.arity; ++i)
    w->term[i] = w->fli_stack_start[args[i]].term;
  return open_query(w, pred);
}

VR_qid VR_open_query(VR_pred_ref pred, ...)
{
  VR_term_ref args[256];
  if (pred != nullptr) {
    std::va_list ap;
    va_start(ap, pred);
    for (int i = 0; i < pred->proc.arity; ++i)
      args[i] = va_arg(ap, VR_term_ref);
    va_end(ap);
  }
  return VR_open_query_array(pred, args);
}

int VR_next_solution(VR_qid q)
{
  worker *w = self;
  node *b = query_node(w, q);
  if (b == nullptr || b != w->current_query) {
    vr_errno = VR_ERR_INVALID_QUERY;
    return -1;
  }
  w->fli_stack_index = GetSmall(b->term[2]);
  w->term[0] = b->term[0];
  const int message = GetSmall(b->term[1]);
  b->term[1] = MSG_REDO;
  const int result = do_wam_recurs(w, message, message == 3 ? preds.call_int : nullptr);
  if (result < 0)
    vr_errno = VR_ERR_UNCAUGHT_EXCEPTION;
  else
    vr_errno = 0;
  if (result <= 0)
    refresh_current_query(w);
  return result;
}

int VR_close_query(VR_qid q)
{
  worker *w = self;
  node *b = query_node(w, q);
  if (b == nullptr) {
    vr_errno = VR_ERR_INVALID_QUERY;
    return -1;
  }
  /* Younger than the top: closed already, with an outer query or by its
     own exception. */
  if (b < w->node_)
    return 1;
  if (!is_query_alt(node_alt(b))) {
    vr_errno = VR_ERR_INVALID_QUERY;
    return -1;
  }
  const std::ptrdiff_t depth = w->choice_start - reinterpret_cast<TAGGED *>(b);
  w->fli_stack_index = GetSmall(b->term[2]);
  pop_to(w, b);
  /* Backtracking into it undoes every binding of the query and restores
     the caller's registers; the choicepoint stays. */
  b->next_alt = termcode;
  do_wam_recurs(w, 0, nullptr);
  b = reinterpret_cast<node *>(w->choice_start - depth);
  if (w->node_ == b)
    pop_to(w, node_previous(b));
  refresh_current_query(w);
  return 1;
}

int VR_cut_query(VR_qid q)
{
  worker *w = self;
  node *b = query_node(w, q);
  if (b == nullptr) {
    vr_errno = VR_ERR_INVALID_QUERY;
    return -1;
  }
  if (b < w->node_)
    return 1;
  if (!is_query_alt(node_alt(b))) {
    vr_errno = VR_ERR_INVALID_QUERY;
    return -1;
  }
  w->fli_stack_index = GetSmall(b->term[2]);
  w->local_top = b->local_top;
  w->frame_ = b->frame_;
  w->next_insn = b->next_insn;
  pop_to(w, node_previous(b));
  refresh_current_query(w);
  return run_due_cleanups(w);
}

int vr_query_once(definition *d, const TAGGED *args, bool keep, bool no_events)
{
  if (!VR_prolog_initialized) {
    vr_errno = VR_ERR_NOT_INITIALIZED;
    return -1;
  }
  if (d == nullptr) {
    vr_errno = VR_ERR_INVALID_PREDICATE;
    return -1;
  }
  worker *w = self;
  for (int i = 0; i < d->proc.arity; ++i)
    w->term[i] = args[i];
  if (no_events)
    disable_events();
  const VR_qid q = open_query(w, d);
  const int result = VR_next_solution(q);
  const int saved_errno = vr_errno;
  if (result == 1 && keep)
    VR_cut_query(q);
  else
    VR_close_query(q);
  if (no_events)
    enable_events();
  vr_errno = saved_errno;
  return result;
}

namespace {

int query_va(VR_pred_ref pred, std::va_list ap, bool keep)
{
  if (!VR_prolog_initialized) {
    vr_errno = VR_ERR_NOT_INITIALIZED;
    return -1;
  }
  if (pred == nullptr) {
    vr_errno = VR_ERR_INVALID_PREDICATE;
    return -1;
  }
  worker *w = self;
  TAGGED args[256];
  for (int i = 0; i < pred->proc.arity; ++i)
    args[i] = w->fli_stack_start[va_arg(ap, VR_term_ref)].term;
  return vr_query_once(pred, args, keep, false);
}

} // namespace

int VR_query(VR_pred_ref pred, ...)
{
  std::va_list ap;
  va_start(ap, pred);
  const int r = query_va(pred, ap, true);
  va_end(ap);
  return r;
}

int VR_query_cut_fail(VR_pred_ref pred, ...)
{
  std::va_list ap;
  va_start(ap, pred);
  const int r = query_va(pred, ap, false);
  va_end(ap);
  return r;
}

/* ---- Exceptions and errors ---- */

int VR_exception_term(VR_term_ref t)
{
  if (eglobal->exception == 0)
    return 0;
  definition *d = VR_predicate("retract_exception", 1, "prolog");
  if (d == nullptr)
    return 0;
  VR_put_variable(t);
  const TAGGED arg = self->fli_stack_start[t].term;
  return vr_query_once(d, &arg, true, true) == 1;
}

void VR_raise_exception(VR_term_ref t)
{
  worker *w = self;
  raise_exception(w->fli_stack_start[t].term);
  w->fli_data->excp_flag = 0;
}

void VR_fail(void) { self->fli_data->excp_flag = 0; }

void VR_save_error(int type, const char *message, VR_term_ref culprit)
{
  save_error(type, message, self->fli_stack_start[culprit].term);
}

void VR_raise_error(const char *module, const char *name, int arity, int argno)
{
  raise_error(module, name, arity, argno);
  self->fli_data->excp_flag = 0;
}

const char *VR_error_message(int n)
{
  static const char *const texts[] = {
      "",
      "Prolog Runtime Kernel not initialized",
      "Invalid predicate definition",
      "Failed to load bootfile (vrrt.ql or vrds.ql)",
      "Predicate not found",
      "Failed to boot Prolog",
      "No or invalid query given",
      "Null string given",
      "Invalid action",
      "Invalid inquiry",
      "Uncaught exception",
      "Type error",
      "Domain error",
      "Invalid number",
      "Invalid string",
      "System error",
      "Unknown error",
      nullptr,
      "Memory Initialization Error",
  };
  constexpr int count = sizeof texts / sizeof texts[0];
  if (n < 0 || n >= count || texts[n] == nullptr)
    return texts[VR_ERR_UNKNOWN];
  return texts[n];
}

int VR_get_errno(void) { return vr_errno; }

void vr_set_errno(int n) { vr_errno = n; }

int VR_decode_reserved_exception(VR_term_ref t, int *data)
{
  const TAGGED x = deref(self->fli_stack_start[t].term);
  /* No such term exists while the name is not an atom. */
  const TAGGED name = init_atom_check("$reserved", 1);
  if (name == 0 || !IsStructure(x) || *TagToSTR(x) != MakeFunctor(name, 1))
    return 0;
  const TAGGED n = deref(TagToSTR(x)[1]);
  VR_INTEGER v;
  if (IsSmall(n))
    v = GetSmall(n);
  else if (IsStructure(n) && *TagToSTR(n) == BOX_INT1)
    v = static_cast<VR_INTEGER>(TagToSTR(n)[1]);
  else
    return 0;
  const int kind = v & 0xFF;
  if (kind != 0 && data != nullptr)
    *data = v >> 8;
  return kind;
}
