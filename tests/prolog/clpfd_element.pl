% element/3, minimum/2 and maximum/2 (library(clpfd)): pruning at posting
% and on later changes, the index kept within the list, entailment, the
% daemons that decide whether a change of a list variable matters, the
% same answers after backtracking, and every solution of small problems
% against generate-and-test.

:- use_module(library(clpfd)).

% lab(+Vars): every assignment of Vars, values ascending, left to right.
lab([]).
lab([X|Xs]) :- fd_set(X, S), fdset_to_list(S, Vs), mem(X, Vs), lab(Xs).

% dom(?X, -D): X's domain as a range, an integer itself.
dom(X, D) :- ( integer(X) -> D = X ; fd_dom(X, D) ).

mem(X, [X|_]).
mem(X, [_|Xs]) :- mem(X, Xs).

doms([], []).
doms([X|Xs], [D|Ds]) :- X in D, doms(Xs, Ds).

% agree(+Doms, +Vars, +Constraint, +Check): the solutions of
% Constraint posted before the search are those of Check tested after it.
agree(Doms, Vars, Constraint, Check) :-
        copy_term(Vars-Constraint, V1-C1),
        findall(V1, ( doms(V1, Doms), call(C1), lab(V1) ), S1),
        copy_term(Vars-Check, V2-K2),
        findall(V2, ( doms(V2, Doms), lab(V2), call(K2) ), S2),
        (   S1 == S2 -> true
        ;   writeq(Constraint-S1), nl, write('   expected '), writeq(S2), nl, fail
        ).

nth(1, [X|_], X) :- !.
nth(N, [_|Xs], X) :- N > 1, N1 is N - 1, nth(N1, Xs, X).

max_of([X|Xs], M) :- max_of(Xs, X, M).
max_of([], M, M).
max_of([X|Xs], M0, M) :- ( X > M0 -> max_of(Xs, X, M) ; max_of(Xs, M0, M) ).

min_of([X|Xs], M) :- min_of(Xs, X, M).
min_of([], M, M).
min_of([X|Xs], M0, M) :- ( X < M0 -> min_of(Xs, X, M) ; min_of(Xs, M0, M) ).

% ---- element/3 ----

% The index is restricted to 1..N before anything reads an element.
expect(element_index_within_list, R,
       (   mem(D, [inf..sup, -5..10, 0..2, {0, 2, 7}, 3..9, 4..9, {0, 4}]),
           I in D,
           (   element(I, [10, 20, 30], Y) -> dom(I, DI), dom(Y, DY), R = D:(DI/DY)
           ;   R = D:fails
           )
       ),
       [(inf..sup):((1..3)/(10..30)), (-5..10):((1..3)/(10..30)), (0..2):((1..2)/(10..20)),
        {0,2,7}:(2/20), (3..9):(3/30), (4..9):fails, {0,4}:fails]).
expect(element_index_bound_outside, R,
       (mem(I, [0, 4, -1]), ( element(I, [10, 20, 30], _) -> R = I:ok ; R = I:fails )),
       [0:fails, 4:fails, -1:fails]).
expect(element_empty_list_fails, no, \+ element(_, [], _), [no]).

% Repeated values: every index whose value is possible stays.
expect(element_repeated_values, R,
       (   mem(Y0, [5, 3, 4..6, 1..2, 9]),
           Y in Y0,
           (   element(I, [5, 7, 5, 3, 5], Y) -> dom(I, DI), dom(Y, DY), R = DI/DY
           ;   R = fails
           )
       ),
       [({1}\/{3}\/{5})/5, 4/3, ({1}\/{3}\/{5})/5, fails, fails]).

test(element_entailed_when_the_value_is_forced) :-
        I in 1..3, Y in 4..6,
        fd_statistics(entailments, _),
        element(I, [5, 7, 5], Y),
        fd_statistics(entailments, 1),
        Y == 5, fd_dom(I, {1}\/{3}).

% A bound index makes Y that element (the same variable).
test(element_bound_index) :-
        B in 4..6,
        element(2, [_, B, _], Y),
        Y == B.
test(element_index_fixed_later) :-
        domain([A, B, C], 0, 9),
        element(I, [A, B, C], Y),
        Y in 7..9,
        I = 3,
        Y == C, fd_dom(C, 7..9), fd_dom(A, 0..9).

% A bound value keeps the indices whose element can take it.
test(element_bound_value) :-
        A in 1..3, B in 4..9, C in {2, 5}, D in 6..8,
        element(I, [A, B, C, D], 5),
        fd_dom(I, 2..3), fd_dom(B, 4..9).

% The elements' domains are not pruned, only I's and Y's (Y to the bounds
% of the elements that can still be it).
test(element_bounds_of_y) :-
        A in {1, 9}, B in 20..30,
        element(I, [A, B], Y),
        Y in 0..10,
        I == 1, Y == A, fd_dom(A, {1}\/{9}).

% Changes of the list's variables: a change of an element whose index I
% can take runs the constraint; one of an element I cannot take does not.
test(element_daemon_filters_by_index) :-
        A in 1..3, B in 5..7, C in 8..9,
        I in 2..3, Y in 5..9,
        element(I, [A, B, C], Y),
        fd_dom(Y, 5..9),
        fd_statistics(resumptions, _),
        A in 2..3,
        fd_statistics(resumptions, 0),
        B in 5..5,
        fd_statistics(resumptions, 1),
        fd_dom(I, 2..3),
        Y in 8..9,
        I == 3, Y == C.

test(element_restored_on_backtracking) :-
        domain([A, B], 1, 5),
        element(I, [A, B, 9], Y),
        findall(DI/DY, ( ( Y = 9 ; B = 4, Y in 3..4 ; A = 2, B = 4, Y = 2 ), dom(I, DI), dom(Y, DY) ), Rs),
        Rs == [3/9, (1..2)/(3..4), 1/2],
        fd_dom(I, 1..3), fd_dom(Y, 1..9), var(A), var(B).

expect(element_errors, E,
       (   mem(G, [element(_, foo, _), element(a, [1], _), element(_, [1, a], _), element(_, [1], b),
                      element(_, [1|_], _)]),
           catch(G, error(E, _), true)
       ),
       [type_error(list,foo), type_error(integer,a), type_error(integer,a), type_error(integer,b),
        instantiation_error]).

test(element_every_solution) :-
        agree([0..4, 1..3, {2, 4}, 1..3, 0..5], [I, A, B, C, Y],
              element(I, [A, B, C], Y), (nth(I, [A, B, C], Y))),
        agree([1..4, 0..4], [I, Y], element(I, [3, 1, 3, 0], Y), nth(I, [3, 1, 3, 0], Y)),
        agree([1..3, 1..3, 1..3], [I, A, Y], element(I, [A, 2, A], Y), nth(I, [A, 2, A], Y)),
        agree([1..3, 1..3, 1..3], [I, A, B], element(I, [A, B, I], A), nth(I, [A, B, I], A)).

% ---- minimum/2 and maximum/2 ----

test(minimum_narrows_y_then_picks_the_one_candidate) :-
        A in 3..9, B in 5..6, Y in 0..9,
        minimum(Y, [A, B]),
        fd_dom(Y, 3..6), fd_dom(A, 3..9), fd_dom(B, 5..6),
        A in 7..9,
        Y == B.

% Both ways: Y's bounds prune the targets, the targets' bounds prune Y.
expect(minmax_both_ways, R,
       (   mem(C-Y0, [maximum-(0..3), maximum-(4..9), maximum-{7}, minimum-(4..9), minimum-(0..2), minimum-{1}]),
           Y in Y0, domain([A, B], 1, 5), G =.. [C, Y, [A, B, 3]],
           (   call(G) -> dom(Y, DY), fd_dom(A, DA), fd_dom(B, DB), R = C:(DY/DA/DB)
           ;   R = C:fails
           )
       ),
       [maximum:(3/(1..3)/(1..3)), maximum:((4..5)/(1..5)/(1..5)), maximum:fails, minimum:fails,
        minimum:((1..2)/(1..5)/(1..5)), minimum:(1/(1..5)/(1..5))]).

expect(minmax_empty_list_fails, C, (mem(C, [minimum, maximum]), G =.. [C, _, []], \+ G), [minimum, maximum]).
expect(minmax_of_integers, R, (minimum(A, [4, 2, 8]), maximum(B, [4, 2, 8]), R = A/B), [2/8]).

test(maximum_bound_y_forces_the_last_candidate) :-
        domain([A, B], 1, 9),
        maximum(4, [A, B]),
        fd_dom(A, 1..4), fd_dom(B, 1..4),
        A in 1..3,
        B == 4.

% The candidates that can still be the maximum come back on backtracking:
% the second branch needs A, which the first one dropped.
test(maximum_candidates_restored_on_backtracking) :-
        domain([A, B, C], 1, 9),
        maximum(M, [A, B, C]),
        M in 5..9,
        findall(W, ( ( A in 1..2, B in 1..2, M == C, W = c
                     ; B in 1..2, C in 1..2, M == A, W = a
                     ; W = none
                     ) ), Ws),
        Ws == [c, a, none],
        fd_dom(M, 5..9), fd_dom(A, 1..9).

% A target that can no longer be the maximum does not wake the constraint.
test(maximum_daemon_ignores_dropped_targets) :-
        A in 1..3, B in 5..9, C in 6..9, M in 6..9,
        maximum(M, [A, B, C]),
        fd_statistics(resumptions, _),
        A in 1..2,
        fd_statistics(resumptions, 0),
        C in 7..9,
        fd_statistics(resumptions, 1),
        fd_dom(M, 7..9).

test(minmax_y_among_the_targets) :-
        domain([A, B], 1, 5),
        maximum(A, [A, B]),
        B in 4..5,
        fd_dom(A, 4..5),
        minimum(C, [C, 3]),
        fd_max(C, 3).

expect(minmax_errors, E,
       (   mem(G, [maximum(_, foo), maximum(a, [1]), minimum(_, [1, a]), minimum(_, _)]),
           catch(G, error(E, _), true)
       ),
       [type_error(list,foo), type_error(integer,a), type_error(integer,a), instantiation_error]).

test(minmax_every_solution) :-
        agree([0..4, 1..3, {2, 4}, 1..3], [M, A, B, C], maximum(M, [A, B, C]), max_of([A, B, C], M)),
        agree([0..4, 1..3, {2, 4}, 1..3], [M, A, B, C], minimum(M, [A, B, C]), min_of([A, B, C], M)),
        agree([1..4, 2..3, 1..4], [M, A, B], minimum(M, [A, 3, B, A]), min_of([A, 3, B, A], M)),
        agree([1..4, 1..4], [M, A], maximum(M, [A, M]), max_of([A, M], M)).

% A long list, posted and searched to the end (the heap grows and is
% collected under the torture runs while the constraint holds its
% targets).
test(maximum_of_a_long_list) :-
        length(Xs, 300),
        domain(Xs, 1, 1000),
        maximum(M, Xs),
        M in 0..500,
        fd_max(M, 500),
        bind_all(Xs, 1),
        M == 300.

bind_all([], _).
bind_all([X|Xs], N) :- X = N, N1 is N + 1, bind_all(Xs, N1).
