/* fd_init.h: the foreign resource "clpfd": its entry function, the
 * library's initialisation and shutdown, and its tables.
 *
 * The entry function describes the resource to the loader: 75 foreign
 * predicates (three parallel tables ended by a null function, a null name
 * and arity -1), every function taking the resource's VREnv first, and the
 * initialisation and shutdown functions.  Initialisation makes fd_state
 * (the stash), the functors the rest of the library compares against, the
 * dispatch table from a global constraint's functor to its native function
 * (pred_table), and installs the library's hooks in the engine; shutdown
 * undoes it in reverse.
 *
 * Callers: the foreign-resource loader; the tests.
 */
#ifndef TRELIX_CLPFD_FD_INIT_H
#define TRELIX_CLPFD_FD_INIT_H

#include <cstddef>

#include "fd_state.h"
#include "vostrel/vostrel_foreign.h"

/* A global constraint's native function: State, NewState, Actions. */
typedef void (*fd_global_fn)(VREnv *env, VR_term_ref state, VR_term_ref new_state, VR_term_ref actions);

struct pred_spec {
  const char *name;
  int arity;
  fd_global_fn function;
};

constexpr int FD_GLOBAL_ROWS = 36;
constexpr int FD_FOREIGN_ROWS = 75;
/* The engine has a pred_table of its own: this one lives in namespace clpfd. */
namespace clpfd {
extern const pred_spec pred_table[FD_GLOBAL_ROWS + 1];
}
extern VR_GlueFun clpfd_funcs[FD_FOREIGN_ROWS + 1];
extern const char *clpfd_prednames[FD_FOREIGN_ROWS + 1];
extern const int clpfd_arities[FD_FOREIGN_ROWS + 1];

extern "C" int vr_main_VRENV_clpfd(VR_MAINFUN_PARAMS *params);
void fd_initialize_vrenv_multi_vr(VREnv *env);
void fd_deinitialize_vrenv_multi_vr(VREnv *env);
void fd_define_predicates(VREnv *env, int install);
/* VR_malloc; a null result reaches the engine's memory fault. */
void *fd_malloc(VREnv *env, std::size_t size);

/* The native function of a global constraint's goal (its functor, or the
   constant itself), or null. */
fd_global_fn fd_global_function(VREnv *env, TAGGED constraint);

#endif
