% Attribute declarations: get_atts/2 and put_atts/2 of a module that
% declares attributes (attributes/domain.pl: a/1 and b/2, so its attribute
% term is v(Mask, A, B1, B2) with a at mask value 1 and b at 2), and its
% verify_attributes/3 hook on unification.

:- use_module('attributes/domain').

% The stored term and mask.
expect(put_positive_stores_term, A-M, (put_a(X, 1), raw(X, A, M)), [v(1, 1, _, _)-1]).
expect(put_both_stores_term, A-M, (put_both(X, 1, 2), raw(X, A, M)), [v(3, 1, 2, 2)-3]).
expect(plain_variable_has_no_term, M, (raw(_, _, M)), [0]).

% get_atts with + and - items, after put_atts(X, +a(1)).
expect(get_absent_by_name, yes, (put_a(X, 1), has_no_b(X)), [yes]).
expect(get_present_fails_when_absent, no, (put_a(X, 1), \+ has_b(X)), [no]).
expect(get_positive_and_negative, V, (put_a(X, 1), has_a_not_b(X, V)), [1]).
expect(get_negative_fails_when_present, no, (put_both(X, 1, 2), \+ a_only(X, _)), [no]).
expect(get_on_plain_variable_fails, no, \+ a_only(_, _), [no]).

% An unbound access list gives what is present.
expect(get_unbound_lists_present, L, (put_a(X, 1), attrs(X, L)), [[a(1)]]).
expect(get_unbound_lists_all, L, (put_both(X, 1, 2), attrs(X, L)), [[a(1), b(2, 2)]]).
expect(get_unbound_plain_variable, L, attrs(_, L), [[]]).
expect(get_unbound_after_removal, L, (put_both(X, 1, 2), drop_a(X), attrs(X, L)), [[b(2, 2)]]).

% Removal: of everything (the variable becomes plain), of one attribute,
% and a replacement that names every attribute.
expect(remove_all_makes_plain, A-G, (put_both(X, 1, 2), drop_all(X), prolog:'$get_cva'(X, A, G)), [[]-[]]).
expect(remove_one_keeps_other, L, (put_both(X, 1, 2), untag(X), attrs(X, L)), [[a(1)]]).
expect(remove_absent_changes_nothing, A, (put_a(X, 1), untag(X), raw(X, A, _)), [v(1, 1, _, _)]).
expect(remove_on_plain_variable, G, (drop_a(X), frozen(X, G), var(X)), [true]).
expect(replace_whole_term, L, (put_both(X, 1, 2), swap_b(X, p, q), attrs(X, L)), [[b(p, q)]]).
expect(put_keeps_other_attribute, L, (tag(X, k, v), domain(X, [x]), attrs(X, L)), [[a([x]), b(k, v)]]).

% Backtracking restores the attributes of an older variable.
expect(undone_by_backtracking, L, (put_a(X, 1), (put_a(X, 2), fail ; attrs(X, L))), [[a(1)]]).
expect(undone_to_plain, L, ((put_a(X, 1), fail ; true), attrs(X, L)), [[]]).

% A goal of the module run through call/1 is expanded as it runs.
expect(meta_called_get_atts, L, (put_a(X, 7), meta_get(X, L)), [[a(7)]]).

% verify_attributes/3: binding checks the domain, unifying two variables
% intersects their domains, the hook's goals run after the binding.
expect(binding_in_domain, X, (domain(X, [r, g]), X = g), [g]).
expect(binding_outside_domain_fails, no, (domain(X, [r, g]), \+ X = b), [no]).
expect(hook_goals_run_after_binding, L, (retractall(log(_)), domain(X, [r, g]), X = r, findall(B, log(B), L)), [[bound(r)]]).
expect(two_attributed_variables, L, (domain(X, [a, b, c]), domain(Y, [b, c, d]), X = Y, domain_of(Y, L)), [[b, c]]).
expect(two_attributed_variables_disjoint, no, (domain(X, [a]), domain(Y, [b]), \+ X = Y), [no]).
expect(unified_variables_then_bound, R, (domain(X, [a, b]), domain(Y, [b, c]), X = Y, (X = a -> R = a ; X = b -> R = b)), [b]).
expect(attributed_variable_and_plain_one, L, (domain(X, [a, b]), X = Y, domain_of(Y, L)), [[a, b]]).
expect(frozen_shows_attribute_goal, G, (domain(X, [a]), frozen(X, G)), [domain:domain(_, [a])]).
expect(frozen_attribute_and_goal, G, (domain(X, [a]), freeze(X, foo), frozen(X, G)),
       [(domain:domain(_, [a]), user:foo)]).

% The pseudo-attribute '$bitv'(Mask) reads the mask.
expect(mask_of_both, B, (put_both(X, 1, 2), mask(X, B)), [3]).
expect(mask_of_plain_variable, B, mask(_, B), [0]).
expect(mask_with_attribute, B-V, (put_both(X, 1, 2), untag(X), mask_and_a(X, B, V)), [1-1]).
