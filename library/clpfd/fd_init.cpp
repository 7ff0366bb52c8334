/* fd_init.cpp: the foreign resource "clpfd": its entry function, the
 * library's initialisation and shutdown, the dispatch table of global
 * constraints and the resource's predicate tables (see fd_init.h).
 *
 * Invariants: every atom or functor registered by initialisation is
 * unregistered by shutdown, once each; the tables below are the one list of
 * the resource's predicates and of its global constraints.  Rows whose
 * functions the library does not have yet point at `unavailable`, which
 * raises an existence error naming the row's predicate.
 */
#include "fd_init.h"

#include <algorithm>
#include <cstring>

#include "ac_linear.h"
#include "arith.h"
#include "bool.h"
#include "case.h"
#include "element.h"
#include "relation.h"
#include "fd_attribute.h"
#include "fd_statistics.h"
#include "fdset_builtins.h"
#include "globals.h"
#include "indexical_store.h"
#include "posting.h"
#include "saved_state.h"
#include "propagation.h"
#include "reif.h"
#include "sw_on_key.h"
#include "telling.h"
#include "fd_errors.h"
#include "labeling.h"
#include "linear.h"

namespace {

/* ---- Rows still waiting for their functions ---- */

template <std::size_t N> struct row_name {
  char text[N];
  constexpr row_name(const char (&s)[N]) { std::copy_n(s, N, text); }
};

/* The stand-in of a row whose function comes later, one per signature
   (Name/Arity is the row's predicate). */
template <row_name Name, int Arity> void unavailable3(VREnv *env, VR_term_ref, VR_term_ref, VR_term_ref)
{
  fd_raise_unavailable(env, Name.text, Arity);
}
template <row_name Name, int Arity> void unavailable4(VREnv *env, VR_term_ref, VR_term_ref, VR_term_ref, VR_term_ref)
{
  fd_raise_unavailable(env, Name.text, Arity);
}
template <row_name Name, int Arity>
void unavailable5(VREnv *env, VR_term_ref, VR_term_ref, VR_term_ref, VR_term_ref, VR_term_ref)
{
  fd_raise_unavailable(env, Name.text, Arity);
}
template <row_name Name, int Arity>
long unavailable5_result(VREnv *env, VR_term_ref, VR_term_ref, VR_term_ref, VR_term_ref, VR_term_ref)
{
  fd_raise_unavailable(env, Name.text, Arity);
  return 0;
}

/* The global constraints' functions (shared by pred_table and the
   $fd_<name>/3 rows). */
#define FD_GLOBAL_FUNCTIONS(X)                                                                                       \
  X(all_different) X(all_distinct) X(bc_alldiff) X(pairing) X(sorting) X(assignment)                    \
  X(assignment_helper) X(circuit) X(cumulative) X(disjoint1) X(disjoint2)                                      \
  X(cumulatives) X(gcc) X(gcc_helper) X(lcc) X(lex_chain) X(nvalue) X(geost)
#define FD_DEFINE_GLOBAL(name) constexpr fd_global_fn fn_##name = &unavailable3<"$fd_" #name, 3>;
FD_GLOBAL_FUNCTIONS(FD_DEFINE_GLOBAL)
#undef FD_DEFINE_GLOBAL
constexpr fd_global_fn fn_ac_linear = &prolog_fd_ac_linear_vrenv_multi_vr;
constexpr fd_global_fn fn_element = &prolog_fd_element_vrenv_multi_vr;
constexpr fd_global_fn fn_bool = &prolog_fd_bool_vrenv_multi_vr;
constexpr fd_global_fn fn_in_set_iff = &prolog_fd_in_set_iff_vrenv_multi_vr;
constexpr fd_global_fn fn_eq_iff = &prolog_fd_eq_iff_vrenv_multi_vr;
constexpr fd_global_fn fn_le_iff = &prolog_fd_le_iff_vrenv_multi_vr;
constexpr fd_global_fn fn_oneof = &prolog_fd_oneof_vrenv_multi_vr;
constexpr fd_global_fn fn_abs = &prolog_fd_abs_vrenv_multi_vr;
constexpr fd_global_fn fn_case = &prolog_fd_case_vrenv_multi_vr;
constexpr fd_global_fn fn_minmax = &prolog_fd_minmax_vrenv_multi_vr;
constexpr fd_global_fn fn_relation = &prolog_fd_relation_vrenv_multi_vr;
constexpr fd_global_fn fn_linear = &prolog_fd_linear_vrenv_multi_vr;
constexpr fd_global_fn fn_square = &prolog_fd_square_vrenv_multi_vr;
constexpr fd_global_fn fn_product = &prolog_fd_product_vrenv_multi_vr;
constexpr fd_global_fn fn_quotient = &prolog_fd_quotient_vrenv_multi_vr;
constexpr fd_global_fn fn_modulo = &prolog_fd_modulo_vrenv_multi_vr;
constexpr fd_global_fn fn_remainder = &prolog_fd_remainder_vrenv_multi_vr;

template <typename F> VR_GlueFun glue(F f) { return reinterpret_cast<VR_GlueFun>(f); }

/* The foreign predicate $fd_<name>/3 of a global constraint: its function
   runs only when the registers hold a proper item of that constraint. */
template <row_name Name, fd_global_fn F>
void global_entry(VREnv *env, VR_term_ref state, VR_term_ref new_state, VR_term_ref actions)
{
  fd_run_global_entry(env, F, Name.text, state, new_state, actions);
}

/* The resource's predicates in table order: X(name, arity, function). */
#define G(name) X("$fd_" #name, 3, (&global_entry<"$fd_" #name, fn_##name>))
#define FD_FOREIGN_TABLE(X)                                                                                          \
  X("$fd_size", 3, &prolog_fd_size_vrenv_multi_vr)                                                                   \
  X("$fd_range", 4, &prolog_fd_range_vrenv_multi_vr)                                                                 \
  X("$fd_cons", 5, &prolog_fd_cons_vrenv_multi_vr)                                                                   \
  X("$fd_dom_complement", 2, &prolog_fd_dom_complement_vrenv_multi_vr)                                               \
  X("$fd_dom_subtract", 3, &prolog_fd_dom_subtract_vrenv_multi_vr)                                                   \
  X("$fd_dom_intersection", 3, &prolog_fd_dom_intersection_vrenv_multi_vr)                                           \
  X("$fd_dom_union", 3, &prolog_fd_dom_union_vrenv_multi_vr)                                                         \
  X("$fd_dom_contains", 2, &prolog_fd_dom_contains_vrenv_multi_vr)                                                   \
  X("$fd_dom_insert", 3, &prolog_fd_dom_insert_vrenv_multi_vr)                                                       \
  X("$fd_dom_delete", 3, &prolog_fd_dom_delete_vrenv_multi_vr)                                                       \
  X("$fd_dom_intersect", 3, &prolog_fd_dom_intersect_vrenv_multi_vr)                                                 \
  X("$fd_negate", 3, &prolog_fd_negate_vrenv_multi_vr)                                                               \
  X("$fd_arg_attribute", 3, &prolog_fd_arg_attribute_vrenv_multi_vr)                                                 \
  X("$fd_dvar_list", 2, &prolog_fd_dvar_list_vrenv_multi_vr)                                                         \
  X("$fd_coref", 1, &prolog_fd_coref_vrenv_multi_vr)                                                                 \
  X("$fd_begin", 0, &prolog_fd_begin_vrenv_multi_vr)                                                                 \
  X("$fd_tell", 3, &prolog_fd_tell_vrenv_multi_vr)                                                                   \
  X("$fd_check_arguments", 2, &prolog_fd_check_arguments_vrenv_multi_vr)                                             \
  X("$fd_install", 5, &prolog_fd_install_vrenv_multi_vr)                                                             \
  X("$fd_post_reified", 5, &prolog_fd_post_reified_vrenv_multi_vr)                                                   \
  X("$fd_post_global", 6, &prolog_fd_post_global_vrenv_multi_vr)                                                     \
  X("$fd_prune_and_enqueue", 2, &prolog_fd_prune_and_enqueue_vrenv_multi_vr)                                         \
  X("$fd_find_definition", 3, &prolog_fd_find_definition_vrenv_multi_vr)                                             \
  X("$fd_indexical_data", 3, &prolog_fd_indexical_data_vrenv_multi_vr)                                               \
  X("$fd_global_enqueue", 1, &prolog_fd_global_enqueue_vrenv_multi_vr)                                               \
  X("$fd_statistics", 2, &prolog_fd_statistics_vrenv_multi_vr)                                                       \
  X("$fd_debug", 3, &prolog_fd_debug_vrenv_multi_vr)                                                                 \
  X("$fd_overflow", 3, &prolog_fd_overflow_vrenv_multi_vr)                                                           \
  X("$fd_set_singleton", 2, &prolog_fd_set_singleton_vrenv_multi_vr)                                                 \
  X("$fd_unify", 2, &prolog_fd_unify_vrenv_multi_vr)                                                                 \
  X("$fd_in_set", 3, &prolog_fd_in_set_vrenv_multi_vr)                                                               \
  X("$fd_in_interval", 4, &prolog_fd_in_interval_vrenv_multi_vr)                                                     \
  X("$fd_evaluate_indexical", 2, &prolog_fd_evaluate_indexical_vrenv_multi_vr)                                       \
  X("$fd_enqueue_all", 1, &prolog_fd_enqueue_all_vrenv_multi_vr)                                                     \
  X("$fd_update_incumbent", 3, &prolog_fd_update_incumbent_vrenv_multi_vr)                                           \
  X("$fd_incumbent_bound", 2, &prolog_fd_incumbent_bound_vrenv_multi_vr)                                             \
  X("$fd_minint_maxint", 2, &prolog_fd_minint_maxint_vrenv_multi_vr)                                                 \
  X("$fd_dispatch_global_fast", 6, &prolog_fd_dispatch_global_fast_vrenv_multi_vr)                            \
  G(linear) G(square) G(product) G(quotient) G(modulo) G(remainder) G(cumulative) G(all_different) G(all_distinct) \
  G(bc_alldiff) G(pairing) G(sorting) G(assignment) G(assignment_helper) G(circuit) G(relation) G(element)        \
  G(minmax) G(nvalue) G(geost) G(in_set_iff) G(eq_iff) G(le_iff) G(oneof) G(abs) G(bool) G(disjoint1)             \
  G(disjoint2) G(case) G(cumulatives) G(gcc) G(gcc_helper) G(lcc) G(lex_chain) G(ac_linear)                      \
  X("$fd_labeling", 4, &prolog_fd_labeling_vrenv_multi_vr)                                                           \
  X("$fd_delete", 3, &prolog_fd_delete_vrenv_multi_vr)

/* The functors that initialisation registers, in fd_state's order. */
struct functor_row {
  TAGGED fd_state::*field;
  const char *name;
  int arity;
};
const functor_row functor_rows[] = {
    {&fd_state::functor_dom4, "dom", 4},       {&fd_state::functor_in_set2, "in_set", 2},
    {&fd_state::functor_dom, "dom", 1},        {&fd_state::functor_min, "min", 1},
    {&fd_state::functor_max, "max", 1},        {&fd_state::functor_minmax, "minmax", 1},
    {&fd_state::functor_val, "val", 1},        {&fd_state::functor_none, "none", 1},
    {&fd_state::functor_call, "call", 1},      {&fd_state::functor_eq, "=", 2},
    {&fd_state::functor_lists7, "$fdlists", 7}, {&fd_state::functor_leqc, "t=<u+c", 3},
    {&fd_state::functor_alldiff, "all_distinct", 1},
    {&fd_state::token_a, "a", 1},              {&fd_state::token_d, "d", 1},
    {&fd_state::token_h, "h", 1},              {&fd_state::token_l, "l", 1},
    {&fd_state::token_t, "t", 1},
};

TAGGED make_functor(VREnv *env, const char *name, int arity)
{
  const TAGGED a = env->dispatch_API_VOSTREL_H->pVR_atom_from_string(name);
  return (a & 0x807fffffu) | (static_cast<TAGGED>(arity) << 23);
}

template <typename F> F support(VREnv *env, vr_api_fn DISPATCH_TABLE_STRUCT_SUPPORT_H::*slot)
{
  return reinterpret_cast<F>(env->dispatch_API_SUPPORT_H->*slot);
}

} // namespace

const pred_spec clpfd::pred_table[FD_GLOBAL_ROWS + 1] = {
    {"in_set_iff", 3, fn_in_set_iff},
    {"eq_iff", 3, fn_eq_iff},
    {"le_iff", 3, fn_le_iff},
    {"oneof", 3, fn_oneof},
    {"abs", 2, fn_abs},
    {"x*x=y", 2, fn_square},
    {"x*y=z", 3, fn_product},
    {"x/y=z", 3, fn_quotient},
    {"x mod y=z", 3, fn_modulo},
    {"x rem y=z", 3, fn_remainder},
    {"scalar_product", 4, fn_linear},
    {"ac_linear", 3, fn_ac_linear},
    {"all_different", 1, fn_all_different},
    {"all_distinct", 1, fn_all_distinct},
    {"bc_alldiff", 1, fn_bc_alldiff},
    {"pairing", 2, fn_pairing},
    {"sorting", 3, fn_sorting},
    {"assignment", 2, fn_assignment},
    {"assignment_helper", 2, fn_assignment_helper},
    {"circuit", 1, fn_circuit},
    {"element", 3, fn_element},
    {"relation", 3, fn_relation},
    {"bool", 4, fn_bool},
    {"cumulative", 2, fn_cumulative},
    {"disjoint1", 2, fn_disjoint1},
    {"disjoint2", 2, fn_disjoint2},
    {"case", 4, fn_case},
    {"cumulatives", 3, fn_cumulatives},
    {"global_cardinality", 3, fn_gcc},
    {"global_cardinality_helper", 2, fn_gcc_helper},
    {"local_cardinality", 2, fn_lcc},
    {"lex_chain", 2, fn_lex_chain},
    {"minimum", 2, fn_minmax},
    {"maximum", 2, fn_minmax},
    {"nvalue", 2, fn_nvalue},
    {"geost", 4, fn_geost},
    {nullptr, 0, nullptr},
};

#define FD_FUNC(name, arity, fn) glue(fn),
#define FD_NAME(name, arity, fn) name,
#define FD_ARITY(name, arity, fn) arity,
#define X FD_FUNC
VR_GlueFun clpfd_funcs[FD_FOREIGN_ROWS + 1] = {FD_FOREIGN_TABLE(FD_FUNC) nullptr};
#undef X
#define X FD_NAME
const char *clpfd_prednames[FD_FOREIGN_ROWS + 1] = {FD_FOREIGN_TABLE(FD_NAME) nullptr};
#undef X
#define X FD_ARITY
const int clpfd_arities[FD_FOREIGN_ROWS + 1] = {FD_FOREIGN_TABLE(FD_ARITY) - 1};
#undef X
#define FD_COUNT(name, arity, fn) +1
#define X FD_COUNT
static_assert(0 FD_FOREIGN_TABLE(FD_COUNT) == FD_FOREIGN_ROWS, "the resource has 75 predicates");
#undef X
#undef FD_COUNT
#undef FD_FUNC
#undef FD_NAME
#undef FD_ARITY
#undef G

extern "C" int vr_main_VRENV_clpfd(VR_MAINFUN_PARAMS *params)
{
  if (const int refused = vr_mainfun_check(params))
    return refused;
  params->flags |= VR_MAINFUN_LEADING_VRENV;
  params->funcs = clpfd_funcs;
  params->prednames = clpfd_prednames;
  params->arities = clpfd_arities;
  params->init_fun = reinterpret_cast<VR_GlueFun>(&fd_initialize_vrenv_multi_vr);
  params->deinit_fun = reinterpret_cast<VR_GlueFun>(&fd_deinitialize_vrenv_multi_vr);
  return 0;
}

void *fd_malloc(VREnv *env, std::size_t size)
{
  void *p = env->dispatch_API_VOSTREL_H->pVR_malloc(size);
  if (p == nullptr)
    env->dispatch_API_VOSTREL_H->pvr_memory_fault(0, -1);
  return p;
}

void fd_define_predicates(VREnv *env, int install)
{
  support<int (*)(void *, fd_manager_fn, fd_restore_fn, fd_save_fn, fd_destructor_fn, int)>(
      env, &DISPATCH_TABLE_STRUCT_SUPPORT_H::pVR_install_fd_hooks)(env, &fd_manager_hook, &clpfd::fd_restore_hook,
                                                                   &clpfd::fd_save_hook, &clpfd::fd_destructor_hook,
                                                                   install);
}

void fd_initialize_vrenv_multi_vr(VREnv *env)
{
  auto *api = env->dispatch_API_VOSTREL_H;
  auto *fd = static_cast<fd_state *>(fd_malloc(env, sizeof(fd_state)));
  if (fd == nullptr)
    return;
  std::memset(static_cast<void *>(fd), 0, sizeof *fd);
  env->stash = fd;
  fd->debugging = 0;
  fd->overflowing = 1;
  fd->current_propagator = fd->free_propagators = nullptr;

  for (const functor_row &r : functor_rows) {
    fd->*r.field = make_functor(env, r.name, r.arity);
    api->pVR_register_atom(fd->*r.field);
  }
  fd_attribute[FD_ATTR_DOM_FUNCTOR] = fd->functor_dom4;
  fd_attribute[FD_ATTR_LISTS_FUNCTOR] = fd->functor_lists7;
  const TAGGED keys[8] = {0, fd->functor_dom, fd->functor_min, fd->functor_dom, fd->functor_max,
                          fd->functor_dom, fd->functor_minmax, fd->functor_dom};
  for (int i = 1; i < 8; i++)
    fd->linkage_keys[i] = keys[i];

  fd->fd_module = support<mod_def *(*)(TAGGED, int)>(env, &DISPATCH_TABLE_STRUCT_SUPPORT_H::pfind_module)(
      api->pVR_atom_from_string("clpfd"), 1);
  fd_define_predicates(env, 1);
  fd->call_action1 = api->pVR_predicate("call_action", 1, "clpfd");
  fd->overflow_action1 = api->pVR_predicate("overflow_action", 1, "clpfd");

  fd->dispatch = support<sw_on_key *(*)(int, void *)>(env, &DISPATCH_TABLE_STRUCT_SUPPORT_H::pnew_switch_on_key)(
      32, nullptr);
  auto puthash = support<sw_on_key_node *(*)(sw_on_key **, TAGGED)>(env, &DISPATCH_TABLE_STRUCT_SUPPORT_H::pdyn_puthash);
  for (const pred_spec *r = clpfd::pred_table; r->name != nullptr; r++) {
    const TAGGED f = make_functor(env, r->name, r->arity);
    api->pVR_register_atom(f);
    puthash(&fd->dispatch, f)->value.any = reinterpret_cast<void *>(r->function);
  }
}

void fd_deinitialize_vrenv_multi_vr(VREnv *env)
{
  auto *api = env->dispatch_API_VOSTREL_H;
  fd_state *fd = fd_state_of(env);
  if (fd == nullptr)
    return;
  for (const pred_spec *r = clpfd::pred_table; r->name != nullptr; r++)
    api->pVR_unregister_atom(make_functor(env, r->name, r->arity));
  support<void (*)(sw_on_key *)>(env, &DISPATCH_TABLE_STRUCT_SUPPORT_H::pdispose_switch_on_key)(fd->dispatch);
  fd->dispatch = nullptr;
  for (const functor_row &r : functor_rows)
    api->pVR_unregister_atom(fd->*r.field);
  fd_define_predicates(env, 0);
  free_retired_indexicals(env);
  fd_dealloc(env);
  env->stash = nullptr;
  api->pVR_free(fd);
}

fd_global_fn fd_global_function(VREnv *env, TAGGED constraint)
{
  fd_state *fd = fd_state_of(env);
  constraint = deref(constraint);
  const TAGGED key = IsStructure(constraint) ? *TagToSTR(constraint) : constraint;
  if (fd->dispatch == nullptr || IsVar(key))
    return nullptr;
  sw_on_key_node *node =
      support<sw_on_key_node *(*)(sw_on_key *, TAGGED)>(env, &DISPATCH_TABLE_STRUCT_SUPPORT_H::pincore_gethash)(
          fd->dispatch, key);
  return node->key == key ? reinterpret_cast<fd_global_fn>(node->value.any) : nullptr;
}
