/* fd_errors.cpp: the exceptions the library's own code raises (see
 * fd_errors.h).  Term references made here are released before return.
 */
#include "fd_errors.h"

namespace {

/* Raises error(Formal, Context) where Formal is in formal. */
void raise_error_term(VREnv *env, VR_term_ref formal, const char *context)
{
  auto *api = env->dispatch_API_VOSTREL_H;
  const VR_term_ref ctx = api->pVR_new_term_ref();
  api->pVR_put_atom(ctx, api->pVR_atom_from_string(context));
  const VR_term_ref err = api->pVR_new_term_ref();
  api->pVR_cons_functor(err, api->pVR_atom_from_string("error"), 2, formal, ctx);
  api->pVR_raise_exception(err);
}

} // namespace

void fd_raise_system_error(VREnv *env, const char *what)
{
  auto *api = env->dispatch_API_VOSTREL_H;
  const VR_term_ref mark = api->pVR_new_term_ref();
  api->pVR_put_atom(mark, api->pVR_atom_from_string(what));
  const VR_term_ref formal = api->pVR_new_term_ref();
  api->pVR_cons_functor(formal, api->pVR_atom_from_string("system_error"), 1, mark);
  raise_error_term(env, formal, "clpfd");
  api->pVR_reset_term_refs(mark);
}

void fd_raise_unavailable(VREnv *env, const char *name, int arity)
{
  auto *api = env->dispatch_API_VOSTREL_H;
  const VR_term_ref mark = api->pVR_new_term_refs(6);
  const VR_term_ref n = mark, a = mark + 1, pi = mark + 2, m = mark + 3, q = mark + 4, formal = mark + 5;
  api->pVR_put_atom(n, api->pVR_atom_from_string(name));
  api->pVR_put_integer(a, arity);
  api->pVR_cons_functor(pi, api->pVR_atom_from_string("/"), 2, n, a);
  api->pVR_put_atom(m, api->pVR_atom_from_string("clpfd"));
  api->pVR_cons_functor(q, api->pVR_atom_from_string(":"), 2, m, pi);
  api->pVR_put_atom(n, api->pVR_atom_from_string("procedure"));
  api->pVR_cons_functor(formal, api->pVR_atom_from_string("existence_error"), 2, n, q);
  raise_error_term(env, formal, "not_yet_available");
  api->pVR_reset_term_refs(mark);
}

namespace {

/* error(Formal, clpfd:Name/Arity), Formal = Kind(Words..., Culprit). */
void raise_with_culprit(VREnv *env, const char *kind, const char *const *words, int n_words, TAGGED culprit,
                        const char *name, int arity)
{
  auto *api = env->dispatch_API_VOSTREL_H;
  worker *w = fd_current_worker(env);
  const VR_term_ref mark = api->pVR_new_term_refs(10);
  const VR_term_ref args = mark, n = mark + 3, a = mark + 4, pi = mark + 5, m = mark + 6, q = mark + 7,
                    formal = mark + 8, err = mark + 9;
  for (int i = 0; i < n_words; i++)
    api->pVR_put_atom(args + i, api->pVR_atom_from_string(words[i]));
  w->fli_stack_start[args + n_words].term = culprit;
  api->pVR_put_atom(n, api->pVR_atom_from_string(name));
  api->pVR_put_integer(a, arity);
  api->pVR_cons_functor(pi, api->pVR_atom_from_string("/"), 2, n, a);
  api->pVR_put_atom(m, api->pVR_atom_from_string("clpfd"));
  api->pVR_cons_functor(q, api->pVR_atom_from_string(":"), 2, m, pi);
  if (n_words == 1)
    api->pVR_cons_functor(formal, api->pVR_atom_from_string(kind), 2, args, args + 1);
  else
    api->pVR_cons_functor(formal, api->pVR_atom_from_string(kind), 3, args, args + 1, args + 2);
  api->pVR_cons_functor(err, api->pVR_atom_from_string("error"), 2, formal, q);
  api->pVR_raise_exception(err);
  api->pVR_reset_term_refs(mark);
}

} // namespace

void fd_raise_domain_error(VREnv *env, const char *domain, TAGGED culprit, const char *name, int arity)
{
  const char *words[] = {domain};
  raise_with_culprit(env, "domain_error", words, 1, culprit, name, arity);
}

void fd_raise_type_error(VREnv *env, const char *type, TAGGED culprit, const char *name, int arity)
{
  const char *words[] = {type};
  raise_with_culprit(env, "type_error", words, 1, culprit, name, arity);
}

void fd_raise_permission_error(VREnv *env, const char *action, const char *type, TAGGED culprit, const char *name,
                               int arity)
{
  const char *words[] = {action, type};
  raise_with_culprit(env, "permission_error", words, 2, culprit, name, arity);
}
