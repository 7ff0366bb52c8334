% The finite-domain solver's core (library(clpfd)): domains restricted,
% queried and restored on backtracking, FD sets from Prolog, argument
% checks, and the unification of domain variables.

:- use_module(library(clpfd)).

% ---- Domains ----

expect(domain_of_a_list, R, (domain([X, Y], 1, 5), X in 2..9, fd_dom(X, R1), fd_dom(Y, R2), R = R1/R2),
       [(2..5)/(1..5)]).
expect(in_with_holes, R, (X in (1..3) \/ {7, 9}, fd_dom(X, R)), [(1..3)\/{7}\/{9}]).
expect(in_complement, R, (X in \ (0..5), fd_dom(X, R)), [(inf.. -1)\/(6..sup)]).
expect(queries, Q, (X in (2..4) \/ {8}, fd_min(X, Min), fd_max(X, Max), fd_size(X, N), fd_set(X, S),
                    Q = q(Min, Max, N, S)),
       [q(2,8,4,[[2|4],[8|8]])]).
expect(plain_variable_is_unbounded, Q, (fd_min(X, Min), fd_max(X, Max), fd_size(X, N), Q = q(Min, Max, N)),
       [q(inf,sup,sup)]).
expect(integer_is_its_own_domain, Q, (fd_min(3, A), fd_dom(3, D), fd_size(3, N), Q = q(A, D, N)),
       [q(3,{3},1)]).
expect(single_value_binds, X, X in 4..4, [4]).
% fd_var/1 tells domain variables from plain variables and integers.
expect(fd_var_kinds, L, (X in 1..3, findall(K, ( member_(K-T, [dvar-X, plain-_, int-3]), fd_var(T) ), L)),
       [[dvar]]).
expect(empty_domain_fails, no, \+ (X in 5..6, X in 1..4), [no]).
expect(integer_outside_fails, no, \+ 7 in 1..5, [no]).

% Domains narrowed after a choicepoint come back on backtracking; the
% narrowing made before it stays.
test(domains_restored_on_backtracking) :-
        X in 1..10,
        findall(R, ( ( X in 3..5 ; X in 8..20 ; true ), fd_dom(X, R) ), Rs),
        Rs == [3..5, 8..10, 1..10],
        fd_dom(X, 1..10).

expect(bad_range, E, catch(_ in foo, error(E, _), true), [domain_error(range,foo)]).
expect(unbound_range, E, catch(_ in _, error(E, _), true), [instantiation_error]).
expect(non_integer_variable, E, catch(a in 1..2, error(E, _), true), [type_error(integer,a)]).
expect(domain_not_a_list, E, catch(domain(x, 1, 2), error(E, _), true), [type_error(list,x)]).

% ---- Unifying domain variables ----

expect(unify_intersects, R, (X in 1..5, Y in 3..9, X = Y, fd_dom(Y, R)), [3..5]).
expect(unify_disjoint_fails, no, \+ (X in 1..3, Y in 5..9, X = Y), [no]).
expect(unify_with_plain_variable, R, (X in 1..3, X = Y, fd_dom(Y, R)), [1..3]).
expect(unify_to_single_value_binds, Y, (X in 1..3, Y in 3..9, X = Y), [3]).
expect(bind_inside, X, (X in 1..5, X = 4), [4]).
expect(bind_outside_fails, no, \+ (X in 1..5, X = 6), [no]).
test(unified_domains_restored_on_backtracking) :-
        X in 1..5, Y in 3..9,
        \+ \+ ( X = Y, fd_dom(X, 3..5) ),
        fd_dom(X, 1..5), fd_dom(Y, 3..9).

% ---- FD sets ----

expect(range_to_set, S, range_to_fdset((1..3) \/ {5, 4} \/ (10..sup), S), [[[1|5],[10|sup]]]).
expect(set_to_list, L, fdset_to_list([[1|3], [6|6]], L), [[1,2,3,6]]).
expect(list_to_set, S, list_to_fdset([5, 1, 2, 2, 9, 3], S), [[[1|3],[5|5],[9|9]]]).
expect(set_algebra, R, (A = [[1|5], [8|10]], B = [[4|8]],
                        fdset_union(A, B, U), fdset_intersection(A, B, I), fdset_subtract(A, B, D),
                        fdset_complement(B, C), R = r(U, I, D, C)),
       [r([[1|10]],[[4|5],[8|8]],[[1|3],[9|10]],[[inf|3],[9|sup]])]).
expect(set_relations, R, (findall(N, ( member_rel(N, S1, S2), call(N, S1, S2) ), R)),
       [[fdset_disjoint,fdset_subset]]).
member_rel(fdset_disjoint, [[1|2]], [[4|5]]).
member_rel(fdset_intersect, [[1|2]], [[4|5]]).
member_rel(fdset_subset, [[2|3]], [[1|5]]).
member_rel(fdset_eq, [[2|3]], [[2|4]]).
expect(singleton_both_ways, R, (fdset_singleton(S, 4), fdset_singleton([[7|7]], V), R = S-V), [[[4|4]]-7]).
expect(set_member_enumerates, L, findall(X, fdset_member(X, [[1|2], [5|5]]), L), [[1,2,5]]).
expect(size_of_sets, L, (fdset_size([[1|3], [7|7]], A), fdset_size([[1|sup]], B), L = A/B), [4/sup]).
expect(malformed_set, E, catch(fdset_size([[3|1]], _), error(E, _), true), [type_error(fdset,[[3|1]])]).
expect(infinite_set_to_list, E, catch(fdset_to_list([[1|sup]], _), error(E, _), true),
       [domain_error(finite_fdset,[[1|sup]])]).

% ---- Argument checks and options ----

expect(on_events, L, findall(K, ( member_on(E), clpfd:on(E, X, [S], []), functor(S, K, 1) ), L),
       [[dom,dom,dom,minmax,minmax,minmax,val,val,val,min,max,none]]).
member_on(E) :- member_(E, [dom, domain, global, minmax, range, bound, val, value, local, min, max, none]).
member_(X, [X|_]).
member_(X, [_|Xs]) :- member_(X, Xs).
test(on_bound_adds_nothing) :- clpfd:on(dom, 3, L, T), L == T.
test(on_unknown_event_fails) :- \+ clpfd:on(foo, _, _, _).
expect(finite_arg_attribute_unbounded, E, catch(clpfd:finite_arg_attribute(X, _, g(X), 1), error(E, _), true),
       [instantiation_error]).
expect(arg_attribute_non_integer, E, catch(clpfd:arg_attribute(a, _, g(a), 1), error(E, _), true),
       [type_error(integer,a)]).
test(options) :-
        clpfd:bool_option(true, 1), clpfd:bool_option(false, 0), \+ clpfd:bool_option(_, _),
        clpfd:boolall_option(all, 3), clpfd:aux_option(bound, upper, 1),
        \+ clpfd:aux_option(prune, _, _), clpfd:consistency_option(domain, global, dom).

% ---- Statistics ----

test(statistics_read_and_reset) :-
        fd_statistics(prunings, _),
        X in 1..10, X in 2..8,
        fd_statistics(prunings, P), P >= 2,
        fd_statistics(prunings, 0).

expect(union_and_intersection_of_lists, R,
       (fdset_union([[[1|2]], [[4|5]], [[3|3]]], U), fdset_intersection([[[1|9]], [[3|12]], [[0|4]]], I), R = U/I),
       [[[1|5]]/[[3|4]]]).

% Two constraints written in Prolog, one suspended on X and one on Y (each
% counts its runs): unifying X and Y wakes each of them once.
:- dynamic(ran/1).
clpfd:dispatch_global(count(Name), S, S, []) :- assertz(ran(Name)).

post_counter(Name, X) :-
        clpfd:'$fd_begin',
        clpfd:'$fd_post_global'(count(Name), state, 0, true, [dom(X)], _),
        clpfd:evaluate.

test(unification_wakes_both_sides_once) :-
        retractall(ran(_)),
        X in 1..5, Y in 3..9,
        post_counter(x, X), post_counter(y, Y),
        retractall(ran(_)),
        X = Y,
        findall(N, ran(N), Ns), msort(Ns, [x, y]),
        fd_dom(X, 3..5).
