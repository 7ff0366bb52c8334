/* fd_state.h: the solver's per-instance state and how its native code
 * reaches the engine.
 *
 * One fd_state per runtime instance, held in the stash of the solver's own
 * interface structure (VREnv); 172 bytes, field order fixed.  Only the
 * fields the FD-set code uses are read today (fd_overflow); the library's
 * initialisation fills the rest.  The solver calls the engine only
 * through the two dispatch tables of its VREnv: the helpers below wrap the
 * engine-support slots it needs, so that the solver's objects name no
 * engine symbol and can be packaged as a foreign resource of their own.
 * They may read the engine's records (worker, terms) whose layouts the
 * interface fixes.
 */
#ifndef TRELIX_CLPFD_FD_STATE_H
#define TRELIX_CLPFD_FD_STATE_H

#include <cstddef>

#include "termdefs.h"
#include "terms.h" /* deref */
#include "vostrel/vostrel.h"
#include "worker.h"

struct mod_def;
struct sw_on_key;
struct propagator;
struct profile;
typedef long VR_BOOL;

struct fd_state {
  void *gdata;
  unsigned long debugging;
  unsigned long overflowing; /* 1 mode "error", 0 mode "fail" */
  unsigned long resumptions;
  unsigned long entailments;
  unsigned long prunings;
  unsigned long failures;
  unsigned long constraints;
  profile *profile_;
  profile *profile_pool;
  mod_def *fd_module;
  VR_pred_ref call_action1;
  VR_pred_ref overflow_action1;
  VR_BOOL fd_overflow;
  TAGGED functor_dom4, functor_lists7, functor_in_set2;
  TAGGED functor_dom, functor_min, functor_max, functor_minmax, functor_val;
  TAGGED functor_none, functor_call, functor_eq, functor_leqc, functor_alldiff;
  TAGGED token_a, token_d, token_h, token_l, token_t;
  TAGGED linkage_keys[8];
  propagator *current_propagator;
  propagator *free_propagators;
  sw_on_key *dispatch;
};
static_assert(sizeof(fd_state) == 172, "the solver's state is 172 bytes");
static_assert(offsetof(fd_state, fd_overflow) == 52 && offsetof(fd_state, linkage_keys) == 128);

inline fd_state *fd_state_of(VREnv *env) { return static_cast<fd_state *>(env->stash); }

/* ---- Engine services, through the support table ---- */

inline worker *fd_current_worker(VREnv *env)
{
  return reinterpret_cast<worker *(*)(void)>(env->dispatch_API_SUPPORT_H->pget_current_worker)();
}

inline TAGGED *fd_numstack_overflow(VREnv *env, worker *w)
{
  return reinterpret_cast<TAGGED *(*)(worker *)>(env->dispatch_API_SUPPORT_H->pnumstack_overflow)(w);
}

inline int fd_cunify(VREnv *env, worker *w, TAGGED u, TAGGED v)
{
  return reinterpret_cast<int (*)(worker *, TAGGED, TAGGED)>(env->dispatch_API_SUPPORT_H->pcunify)(w, u, v);
}

/* Makes sure that `words` heap words are free.  A collection may run, so
   the caller holds no heap address across this call except through term
   references and the first `live` argument registers, which are kept
   (and updated) across it. */
inline void fd_heap_room(VREnv *env, worker *w, long words, int live = 0)
{
  if (w->heap_warn - w->global_top < words)
    reinterpret_cast<INSN *(*)(worker *, int, int)>(env->dispatch_API_SUPPORT_H->pcall_overflow)(
        w, static_cast<int>(words), live);
}

/* Keeps TRAIL_MARGIN words between the trail top and the newest
   choicepoint (call after pushing trail entries). */
inline void fd_trail_room(VREnv *env, worker *w)
{
  if (reinterpret_cast<TAGGED *>(w->node_) - w->trail_top < TRAIL_MARGIN)
    reinterpret_cast<void (*)(worker *, int)>(env->dispatch_API_SUPPORT_H->pchoice_overflow)(w, TRAIL_MARGIN);
}

/* The attribute of module m on the constrained variable var, or 0. */
inline TAGGED fd_get_attributes(VREnv *env, TAGGED var, mod_def *m)
{
  return reinterpret_cast<TAGGED (*)(TAGGED, mod_def *)>(env->dispatch_API_SUPPORT_H->pget_attributes)(var, m);
}

inline void fd_put_attributes(VREnv *env, worker *w, TAGGED var, TAGGED attr, mod_def *m)
{
  reinterpret_cast<void (*)(worker *, TAGGED, TAGGED, mod_def *)>(env->dispatch_API_SUPPORT_H->pput_attributes)(
      w, var, attr, m);
}

/* True when var is a constrained variable without goals whose only
   attribute is m's. */
inline int fd_single_attribute(VREnv *env, TAGGED var, mod_def *m)
{
  return reinterpret_cast<int (*)(TAGGED, mod_def *)>(env->dispatch_API_SUPPORT_H->psingle_attribute)(var, m);
}

/* `n` consecutive words on the number stack (scratch of one built-in call). */
inline TAGGED *fd_numstack_words(VREnv *env, worker *w, int n)
{
  TAGGED *p = w->numstack_top;
  while (w->numstack_end == nullptr || p + n > w->numstack_end)
    p = fd_numstack_overflow(env, w);
  w->numstack_top = p + n;
  return p;
}


/* ---- Engine services of the propagation layer and the library's start-up ---- */

inline void *fd_checkalloc(VREnv *env, std::size_t size, int gc)
{
  return reinterpret_cast<void *(*)(std::size_t, int)>(env->dispatch_API_SUPPORT_H->pvr_checkalloc)(size, gc);
}

inline void *fd_checkrealloc(VREnv *env, void *block, std::size_t old_size, std::size_t new_size, int gc)
{
  return reinterpret_cast<void *(*)(void *, std::size_t, std::size_t, int)>(
      env->dispatch_API_SUPPORT_H->pvr_checkrealloc)(block, old_size, new_size, gc);
}

inline void fd_checkdealloc(VREnv *env, void *block, std::size_t size, int gc)
{
  reinterpret_cast<void (*)(void *, std::size_t, int)>(env->dispatch_API_SUPPORT_H->pvr_checkdealloc)(block, size,
                                                                                                         gc);
}

/* The collector's services for roots the library keeps outside the heap. */
inline void fd_mark_term(VREnv *env, TAGGED t)
{
  reinterpret_cast<void (*)(TAGGED)>(env->dispatch_API_SUPPORT_H->pmarkTerm)(t);
}

inline void fd_into_relocation_chain(VREnv *env, worker *w, TAGGED *target, TAGGED *source)
{
  reinterpret_cast<void (*)(worker *, TAGGED *, TAGGED *)>(env->dispatch_API_SUPPORT_H->pintoRelocationChain)(
      w, target, source);
}

/* Removes m's attribute from var (live argument registers kept); the
   variable as it is afterwards. */
inline TAGGED fd_delete_attributes(VREnv *env, worker *w, TAGGED var, mod_def *m, int live)
{
  return reinterpret_cast<TAGGED (*)(worker *, TAGGED, mod_def *, int)>(
      env->dispatch_API_SUPPORT_H->pdelete_attributes)(w, var, m, live);
}

/* True when the constrained variable has no goals and no attribute of a
   module other than m. */
inline int fd_pure_attributes(VREnv *env, TAGGED var, mod_def *m)
{
  return reinterpret_cast<int (*)(TAGGED, mod_def *)>(env->dispatch_API_SUPPORT_H->ppure_attributes)(var, m);
}

inline mod_def *fd_find_module(VREnv *env, TAGGED name, int insert)
{
  return reinterpret_cast<mod_def *(*)(TAGGED, int)>(env->dispatch_API_SUPPORT_H->pfind_module)(name, insert);
}

/* The handles of $free/1: a block whose first word is its release
   function gets a handle (a small integer, 0 on refusal); revoking takes
   it back; issued tells whether $free/1 would accept it. */
inline TAGGED fd_issue_free_handle(VREnv *env, void *block)
{
  return reinterpret_cast<TAGGED (*)(void *)>(env->dispatch_API_SUPPORT_H->pvr_issue_free_handle)(block);
}

inline int fd_revoke_free_handle(VREnv *env, void *block)
{
  return reinterpret_cast<int (*)(void *)>(env->dispatch_API_SUPPORT_H->pvr_revoke_free_handle)(block);
}

inline int fd_free_handle_issued(VREnv *env, const void *block)
{
  return reinterpret_cast<int (*)(const void *)>(env->dispatch_API_SUPPORT_H->pvr_free_handle_issued)(block);
}

/* Pushes one trail entry, keeping the trail margin. */
inline void fd_trail_push(VREnv *env, worker *w, TAGGED entry)
{
  *w->trail_top++ = entry;
  fd_trail_room(env, w);
}

/* Binds the unbound plain variable var to value, trailing the binding
   when the cell is older than the newest choicepoint. */
inline void fd_bind(VREnv *env, worker *w, TAGGED var, TAGGED value)
{
  TAGGED *cell = TagToRef(var);
  *cell = value;
  const bool older = cell >= w->global_top ? cell < w->local_uncond : cell < w->global_uncond;
  if (older)
    fd_trail_push(env, w, var);
}

#endif
