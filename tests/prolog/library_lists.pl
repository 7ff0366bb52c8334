% The application's list and AVL libraries, loaded as a program loads
% them: use_module(library(Name)).

:- use_module(library(lists)).
:- use_module(library(avl), [avl_fetch/3, ord_list_to_avl/2]).

error_of(G, F) :- catch((G, F = none), error(F0, _), F = F0).

% nth1/3
expect(nth1_index, E, nth1(2, [a, b, c], E), [b]).
expect(nth1_first_last, [A, C], (nth1(1, [a, b, c], A), nth1(3, [a, b, c], C)), [[a, c]]).
expect(nth1_out_of_range, X, (nth1(0, [a], X) ; nth1(2, [a], X) ; nth1(-1, [a], X) ; X = none), [none]).
expect(nth1_enumerate, I-E, nth1(I, [a, b, c], E), [1-a, 2-b, 3-c]).
expect(nth1_find, I, nth1(I, [a, b, a], a), [1, 3]).
expect(nth1_partial_list, L, (length(L, 2), nth1(2, L, x)), [[_, x]]).
expect(nth1_bad_index, F, error_of(nth1(a, [a], _), F), [type_error(integer, a)]).
test(nth1_qualified) :- lists:nth1(1, [z], z).

% is_list/1, from lists as from the runtime
test(is_list) :-
        is_list([]), is_list([a, b]), \+ is_list([a|_]), \+ is_list(_), \+ is_list([a|b]),
        lists:is_list([x]), \+ lists:is_list(foo).

% keyclumped/2
expect(keyclumped, G, keyclumped([a-1, a-2, b-3, a-4, c-5, c-6], G), [[a-[1, 2], b-[3], a-[4], c-[5, 6]]]).
expect(keyclumped_empty, G, keyclumped([], G), [[]]).
expect(keyclumped_identical_keys_only, G, keyclumped([f(X)-1, f(Y)-2, f(X)-3], G),
       [[f(_)-[1], f(_)-[2], f(_)-[3]]]).
expect(keyclumped_numbers, G, keyclumped([1-a, 1.0-b], G), [[1-[a], 1.0-[b]]]).

% AVL trees
pairs(0, []) :- !.
pairs(N, Ps) :- pairs_(1, N, Ps).
pairs_(I, N, []) :- I > N, !.
pairs_(I, N, [I-V|Ps]) :- V is I * I, I1 is I + 1, pairs_(I1, N, Ps).

expect(avl_fetch_each, Missing, (pairs(100, Ps), ord_list_to_avl(Ps, T),
                                 (member_(K-V, Ps), \+ avl_fetch(K, T, V) -> Missing = K ; Missing = none)),
       [none]).
expect(avl_fetch_absent, X, (pairs(10, Ps), ord_list_to_avl(Ps, T),
                             (avl_fetch(0, T, X) ; avl_fetch(11, T, X) ; avl_fetch(5.5, T, X) ; X = none)),
       [none]).
expect(avl_empty, T, ord_list_to_avl([], T), [t]).
expect(avl_shape, T, ord_list_to_avl([a-1, b-2, c-3], T), [t(b, 2, =, t(a, 1, =, t, t), t(c, 3, =, t, t))]).
test(avl_balanced) :-
        \+ ( member_(N, [1, 2, 3, 4, 5, 7, 8, 100, 1000]), pairs(N, Ps), ord_list_to_avl(Ps, T),
             \+ balanced(T, _) ).
test(avl_atom_keys) :- ord_list_to_avl([apple-1, pear-2, plum-3], T), avl_fetch(pear, T, 2).
expect(avl_not_a_list, F, error_of(ord_list_to_avl(foo, _), F), [type_error(list, foo)]).

% balanced(Tree, Height): the AVL property with correct balance marks.
balanced(t, 0).
balanced(t(_, _, B, L, R), H) :-
        balanced(L, HL), balanced(R, HR),
        D is HL - HR, D >= -1, D =< 1,
        compare(B, HL, HR),
        H is max(HL, HR) + 1.

member_(X, [X|_]).
member_(X, [_|T]) :- member_(X, T).
