% The foreign predicates of the resource clpfd (library/clpfd/*.cpp), as
% module clpfd calls them.  Every function takes the resource's interface
% structure first (the loader passes it) and a term reference per term
% argument; a function gives its results by unifying them with the
% caller's arguments, so every term argument is passed in (+term).  Part
% of module clpfd.

foreign_resource(clpfd, [
        prolog_fd_size_vrenv_multi_vr, prolog_fd_range_vrenv_multi_vr,
        prolog_fd_cons_vrenv_multi_vr, prolog_fd_dom_complement_vrenv_multi_vr,
        prolog_fd_dom_subtract_vrenv_multi_vr, prolog_fd_dom_intersection_vrenv_multi_vr,
        prolog_fd_dom_union_vrenv_multi_vr, prolog_fd_dom_contains_vrenv_multi_vr,
        prolog_fd_dom_insert_vrenv_multi_vr, prolog_fd_dom_delete_vrenv_multi_vr,
        prolog_fd_dom_intersect_vrenv_multi_vr, prolog_fd_negate_vrenv_multi_vr,
        prolog_fd_arg_attribute_vrenv_multi_vr, prolog_fd_dvar_list_vrenv_multi_vr,
        prolog_fd_coref_vrenv_multi_vr, prolog_fd_begin_vrenv_multi_vr,
        prolog_fd_tell_vrenv_multi_vr, prolog_fd_check_arguments_vrenv_multi_vr,
        prolog_fd_post_global_vrenv_multi_vr, prolog_fd_prune_and_enqueue_vrenv_multi_vr,
        prolog_fd_global_enqueue_vrenv_multi_vr, prolog_fd_statistics_vrenv_multi_vr,
        prolog_fd_debug_vrenv_multi_vr, prolog_fd_overflow_vrenv_multi_vr,
        prolog_fd_set_singleton_vrenv_multi_vr, prolog_fd_unify_vrenv_multi_vr,
        prolog_fd_in_set_vrenv_multi_vr, prolog_fd_in_interval_vrenv_multi_vr,
        prolog_fd_evaluate_indexical_vrenv_multi_vr, prolog_fd_enqueue_all_vrenv_multi_vr,
        prolog_fd_update_incumbent_vrenv_multi_vr, prolog_fd_incumbent_bound_vrenv_multi_vr,
        prolog_fd_minint_maxint_vrenv_multi_vr, prolog_fd_dispatch_global_fast_vrenv_multi_vr,
        prolog_fd_linear_vrenv_multi_vr, prolog_fd_square_vrenv_multi_vr,
        prolog_fd_product_vrenv_multi_vr, prolog_fd_quotient_vrenv_multi_vr,
        prolog_fd_modulo_vrenv_multi_vr, prolog_fd_remainder_vrenv_multi_vr,
        prolog_fd_cumulative_vrenv_multi_vr, prolog_fd_all_different_vrenv_multi_vr,
        prolog_fd_all_distinct_vrenv_multi_vr, prolog_fd_bc_alldiff_vrenv_multi_vr,
        prolog_fd_pairing_vrenv_multi_vr, prolog_fd_sorting_vrenv_multi_vr,
        prolog_fd_assignment_vrenv_multi_vr, prolog_fd_assignment_helper_vrenv_multi_vr,
        prolog_fd_circuit_vrenv_multi_vr, prolog_fd_relation_vrenv_multi_vr,
        prolog_fd_element_vrenv_multi_vr, prolog_fd_minmax_vrenv_multi_vr,
        prolog_fd_nvalue_vrenv_multi_vr, prolog_fd_geost_vrenv_multi_vr,
        prolog_fd_in_set_iff_vrenv_multi_vr, prolog_fd_eq_iff_vrenv_multi_vr,
        prolog_fd_le_iff_vrenv_multi_vr, prolog_fd_oneof_vrenv_multi_vr,
        prolog_fd_abs_vrenv_multi_vr, prolog_fd_bool_vrenv_multi_vr,
        prolog_fd_disjoint1_vrenv_multi_vr, prolog_fd_disjoint2_vrenv_multi_vr,
        prolog_fd_case_vrenv_multi_vr, prolog_fd_cumulatives_vrenv_multi_vr,
        prolog_fd_gcc_vrenv_multi_vr, prolog_fd_gcc_helper_vrenv_multi_vr,
        prolog_fd_lcc_vrenv_multi_vr, prolog_fd_lex_chain_vrenv_multi_vr,
        prolog_fd_ac_linear_vrenv_multi_vr, prolog_fd_delete_vrenv_multi_vr,
        prolog_fd_post_reified_vrenv_multi_vr,
        prolog_fd_install_vrenv_multi_vr, prolog_fd_find_definition_vrenv_multi_vr,
        prolog_fd_indexical_data_vrenv_multi_vr
   ]).

% The set built-ins.
foreign(prolog_fd_size_vrenv_multi_vr, c, '$fd_size'(+term, +term, [-integer])).
foreign(prolog_fd_range_vrenv_multi_vr, c, '$fd_range'(+term, +term, +term, [-integer])).
foreign(prolog_fd_cons_vrenv_multi_vr, c, '$fd_cons'(+term, +term, +term, +term, [-integer])).
foreign(prolog_fd_dom_complement_vrenv_multi_vr, c, '$fd_dom_complement'(+term, +term)).
foreign(prolog_fd_dom_subtract_vrenv_multi_vr, c, '$fd_dom_subtract'(+term, +term, +term)).
foreign(prolog_fd_dom_intersection_vrenv_multi_vr, c, '$fd_dom_intersection'(+term, +term, +term)).
foreign(prolog_fd_dom_union_vrenv_multi_vr, c, '$fd_dom_union'(+term, +term, +term)).
foreign(prolog_fd_dom_contains_vrenv_multi_vr, c, '$fd_dom_contains'(+term, +term)).
foreign(prolog_fd_dom_insert_vrenv_multi_vr, c, '$fd_dom_insert'(+term, +term, +term)).
foreign(prolog_fd_dom_delete_vrenv_multi_vr, c, '$fd_dom_delete'(+term, +term, +term)).
foreign(prolog_fd_dom_intersect_vrenv_multi_vr, c, '$fd_dom_intersect'(+term, +term, [-integer])).
foreign(prolog_fd_negate_vrenv_multi_vr, c, '$fd_negate'(+term, +term, +term)).

% Domain variables, telling and propagation.
foreign(prolog_fd_arg_attribute_vrenv_multi_vr, c, '$fd_arg_attribute'(+term, +integer, +term)).
foreign(prolog_fd_dvar_list_vrenv_multi_vr, c, '$fd_dvar_list'(+term, +integer)).
foreign(prolog_fd_coref_vrenv_multi_vr, c, '$fd_coref'(+term)).
foreign(prolog_fd_begin_vrenv_multi_vr, c, '$fd_begin').
foreign(prolog_fd_tell_vrenv_multi_vr, c, '$fd_tell'(+term, +term, [-integer])).
foreign(prolog_fd_check_arguments_vrenv_multi_vr, c, '$fd_check_arguments'(+term, +term)).
foreign(prolog_fd_post_global_vrenv_multi_vr, c,
        '$fd_post_global'(+term, +term, +integer, +term, +term, +term)).
foreign(prolog_fd_post_reified_vrenv_multi_vr, c,
        '$fd_post_reified'(+term, +term, +term, +term, +term)).
foreign(prolog_fd_prune_and_enqueue_vrenv_multi_vr, c, '$fd_prune_and_enqueue'(+term, +term)).
foreign(prolog_fd_global_enqueue_vrenv_multi_vr, c, '$fd_global_enqueue'(+term)).
foreign(prolog_fd_dispatch_global_fast_vrenv_multi_vr, c,
        '$fd_dispatch_global_fast'(+term, +term, +term, +term, +term, [-integer])).
foreign(prolog_fd_set_singleton_vrenv_multi_vr, c, '$fd_set_singleton'(+term, +term)).
foreign(prolog_fd_unify_vrenv_multi_vr, c, '$fd_unify'(+term, +term)).
foreign(prolog_fd_in_set_vrenv_multi_vr, c, '$fd_in_set'(+term, +term, +integer)).
foreign(prolog_fd_in_interval_vrenv_multi_vr, c, '$fd_in_interval'(+term, +term, +term, +integer)).
foreign(prolog_fd_evaluate_indexical_vrenv_multi_vr, c, '$fd_evaluate_indexical'(+term, [-integer])).
foreign(prolog_fd_enqueue_all_vrenv_multi_vr, c, '$fd_enqueue_all'(+term)).

% Statistics, modes and the incumbent of branch and bound.
foreign(prolog_fd_statistics_vrenv_multi_vr, c, '$fd_statistics'(+integer, [-integer])).
foreign(prolog_fd_debug_vrenv_multi_vr, c, '$fd_debug'(+term, +term, [-integer])).
foreign(prolog_fd_overflow_vrenv_multi_vr, c, '$fd_overflow'(+term, +term, [-integer])).
foreign(prolog_fd_update_incumbent_vrenv_multi_vr, c, '$fd_update_incumbent'(+term, +term, +term)).
foreign(prolog_fd_incumbent_bound_vrenv_multi_vr, c, '$fd_incumbent_bound'(+term, +term)).
foreign(prolog_fd_minint_maxint_vrenv_multi_vr, c, '$fd_minint_maxint'(+term, +term)).

% The indexical store: installing compiled indexicals as an FD predicate's
% code, and finding them again.
foreign(prolog_fd_install_vrenv_multi_vr, c, '$fd_install'(+term, +term, +term, +term, +term)).
foreign(prolog_fd_find_definition_vrenv_multi_vr, c, '$fd_find_definition'(+term, +term, +term)).
foreign(prolog_fd_indexical_data_vrenv_multi_vr, c, '$fd_indexical_data'(+term, +term, +term)).

% Labeling's variable choice.
foreign(prolog_fd_delete_vrenv_multi_vr, c, '$fd_delete'(+term, +term, +integer)).

% The global constraints' native entries (State, NewState, Actions): the
% propagation loop runs them with the constraint's item in hand; called
% from Prolog they have none and raise a domain error.
foreign(prolog_fd_linear_vrenv_multi_vr, c, '$fd_linear'(+term, +term, +term)).
foreign(prolog_fd_square_vrenv_multi_vr, c, '$fd_square'(+term, +term, +term)).
foreign(prolog_fd_product_vrenv_multi_vr, c, '$fd_product'(+term, +term, +term)).
foreign(prolog_fd_quotient_vrenv_multi_vr, c, '$fd_quotient'(+term, +term, +term)).
foreign(prolog_fd_modulo_vrenv_multi_vr, c, '$fd_modulo'(+term, +term, +term)).
foreign(prolog_fd_remainder_vrenv_multi_vr, c, '$fd_remainder'(+term, +term, +term)).
foreign(prolog_fd_cumulative_vrenv_multi_vr, c, '$fd_cumulative'(+term, +term, +term)).
foreign(prolog_fd_all_different_vrenv_multi_vr, c, '$fd_all_different'(+term, +term, +term)).
foreign(prolog_fd_all_distinct_vrenv_multi_vr, c, '$fd_all_distinct'(+term, +term, +term)).
foreign(prolog_fd_bc_alldiff_vrenv_multi_vr, c, '$fd_bc_alldiff'(+term, +term, +term)).
foreign(prolog_fd_pairing_vrenv_multi_vr, c, '$fd_pairing'(+term, +term, +term)).
foreign(prolog_fd_sorting_vrenv_multi_vr, c, '$fd_sorting'(+term, +term, +term)).
foreign(prolog_fd_assignment_vrenv_multi_vr, c, '$fd_assignment'(+term, +term, +term)).
foreign(prolog_fd_assignment_helper_vrenv_multi_vr, c, '$fd_assignment_helper'(+term, +term, +term)).
foreign(prolog_fd_circuit_vrenv_multi_vr, c, '$fd_circuit'(+term, +term, +term)).
foreign(prolog_fd_relation_vrenv_multi_vr, c, '$fd_relation'(+term, +term, +term)).
foreign(prolog_fd_element_vrenv_multi_vr, c, '$fd_element'(+term, +term, +term)).
foreign(prolog_fd_minmax_vrenv_multi_vr, c, '$fd_minmax'(+term, +term, +term)).
foreign(prolog_fd_nvalue_vrenv_multi_vr, c, '$fd_nvalue'(+term, +term, +term)).
foreign(prolog_fd_geost_vrenv_multi_vr, c, '$fd_geost'(+term, +term, +term)).
foreign(prolog_fd_in_set_iff_vrenv_multi_vr, c, '$fd_in_set_iff'(+term, +term, +term)).
foreign(prolog_fd_eq_iff_vrenv_multi_vr, c, '$fd_eq_iff'(+term, +term, +term)).
foreign(prolog_fd_le_iff_vrenv_multi_vr, c, '$fd_le_iff'(+term, +term, +term)).
foreign(prolog_fd_oneof_vrenv_multi_vr, c, '$fd_oneof'(+term, +term, +term)).
foreign(prolog_fd_abs_vrenv_multi_vr, c, '$fd_abs'(+term, +term, +term)).
foreign(prolog_fd_bool_vrenv_multi_vr, c, '$fd_bool'(+term, +term, +term)).
foreign(prolog_fd_disjoint1_vrenv_multi_vr, c, '$fd_disjoint1'(+term, +term, +term)).
foreign(prolog_fd_disjoint2_vrenv_multi_vr, c, '$fd_disjoint2'(+term, +term, +term)).
foreign(prolog_fd_case_vrenv_multi_vr, c, '$fd_case'(+term, +term, +term)).
foreign(prolog_fd_cumulatives_vrenv_multi_vr, c, '$fd_cumulatives'(+term, +term, +term)).
foreign(prolog_fd_gcc_vrenv_multi_vr, c, '$fd_gcc'(+term, +term, +term)).
foreign(prolog_fd_gcc_helper_vrenv_multi_vr, c, '$fd_gcc_helper'(+term, +term, +term)).
foreign(prolog_fd_lcc_vrenv_multi_vr, c, '$fd_lcc'(+term, +term, +term)).
foreign(prolog_fd_lex_chain_vrenv_multi_vr, c, '$fd_lex_chain'(+term, +term, +term)).
foreign(prolog_fd_ac_linear_vrenv_multi_vr, c, '$fd_ac_linear'(+term, +term, +term)).

:- load_foreign_resource(library(clpfd)).
