% The reification front end (library(clpfd)): reified comparisons and
% nested formulas of the connectives #<=> #=> #<= #\/ #\ #/\ and the
% negation against generate-and-test, with each variable fixed first,
% before or after posting; propagation through a formula; the errors.

:- use_module(library(clpfd)).

mem(X, [X|_]).
mem(X, [_|Xs]) :- mem(X, Xs).

% lab(+Vars): every assignment of Vars, in the order given.
lab([]).
lab([X|Xs]) :- fd_set(X, S), fdset_to_list(S, Vs), mem(X, Vs), lab(Xs).

btw(L, H, L) :- L =< H.
btw(L, H, X) :- L < H, L1 is L + 1, btw(L1, H, X).

nth(1, [X|_], X) :- !.
nth(N, [_|Xs], X) :- N1 is N - 1, nth(N1, Xs, X).

% eval(+F): F holds for integer variables.
eval(L #= R) :- L =:= R.
eval(L #\= R) :- L =\= R.
eval(L #< R) :- L < R.
eval(L #=< R) :- L =< R.
eval(L #> R) :- L > R.
eval(L #>= R) :- L >= R.
eval(P #<=> Q) :- ( eval(P) -> eval(Q) ; \+ eval(Q) ).
eval(P #=> Q) :- ( eval(P) -> eval(Q) ; true ).
eval(P #<= Q) :- ( eval(Q) -> eval(P) ; true ).
eval(P #\/ Q) :- ( eval(P) -> true ; eval(Q) ).
eval(P #/\ Q) :- eval(P), eval(Q).
eval(P #\ Q) :- ( eval(P) -> \+ eval(Q) ; eval(Q) ).
eval(#\ P) :- \+ eval(P).
eval(B) :- integer(B), B =:= 1.

% agree(+Doms, +Vars, +Formula, +Orders): for each order of the
% variables (a list of positions, the first fixed to each value before
% posting), the solutions of Formula posted and searched are those of
% generate-and-test.
agree(Doms, Vars, F) :-
        length(Vars, N),
        numlist1(N, Is),
        forall(mem(First, Is),
               (   copy_term(Vars-F, V1-F1),
                   findall(V1, ( set_doms(V1, Doms), nth(First, V1, X), lab([X]), call(F1), rest_order(First, V1, Ls), lab(Ls) ), S0),
                   copy_term(Vars-F, V2-F2),
                   findall(V2, ( set_doms(V2, Doms), lab(V2), eval(F2) ), T0),
                   msort(S0, S), msort(T0, T),
                   (   S == T -> true
                   ;   writeq(F/First-S), nl, write('   expected '), writeq(T), nl, fail
                   )
               )),
        copy_term(Vars-F, V3-F3),
        findall(V3, ( set_doms(V3, Doms), call(F3), rev(V3, [], R3), lab(R3) ), S3),
        findall(V3, ( set_doms(V3, Doms), lab(V3), eval(F3) ), T3),
        msort(S3, S4), msort(T3, T4),
        (   S4 == T4 -> true ; writeq(F3-after-S4), nl, write('   expected '), writeq(T4), nl, fail ).

rev([], R, R).
rev([X|Xs], R0, R) :- rev(Xs, [X|R0], R).

numlist1(N, L) :- findall(I, btw(1, N, I), L).

set_doms([], []).
set_doms([X|Xs], [D|Ds]) :- X in D, set_doms(Xs, Ds).

% rest_order(+First, +Vs, -Ls): Vs without its First-th element.
rest_order(1, [_|Vs], Vs) :- !.
rest_order(I, [V|Vs], [V|Ls]) :- I1 is I - 1, rest_order(I1, Vs, Ls).

% B #<=> (X Rel Y) with each of B, X, Y fixed first, negative values and
% holes in the domains.
test(reified_comparisons_round_trip) :-
        forall(mem(Rel, [#=, #\=, #<, #=<, #>, #>=]),
               (   C =.. [Rel, X, Y],
                   agree([0..1, -2..2, {-1, 0, 3}], [B, X, Y], B #<=> C)
               )).

% Expressions on both sides are linearised into auxiliary variables.
test(reified_expressions_round_trip) :-
        agree([0..1, -2..2, 0..3], [B, X, Y], B #<=> (X + 2*Y #= 3)),
        agree([0..1, -2..2, 0..3], [B, X, Y], B #<=> (X*Y #< Y - 1)),
        agree([0..1, -2..2, 0..3], [B, X, Y], B #<=> (abs(X) #>= Y)),
        agree([0..1, -2..2], [B, X], B #<=> (X #\= 3)).

% Nested connectives and every connective at the top.
test(nested_connectives_round_trip) :-
        agree([-1..2, 0..2, 0..1], [X, Y, B], (X #= Y #\/ X + Y #> 2) #<=> B),
        agree([-1..2, 0..2, 0..1], [X, Y, B], (X #< Y) #=> (B #/\ Y #\= 2)),
        agree([-1..2, 0..2, 0..1], [X, Y, B], #\ (X #= Y) #<= B),
        agree([-1..2, 0..2, 0..1], [X, Y, B], (X #>= Y) #\ (B #<=> (Y #= 0))),
        agree([-1..2, 0..2, 0..1], [X, Y, B], #\ (X #=< Y #/\ #\ B)),
        agree([0..1, 0..1, 0..1], [A, B, C], A #\/ B #\/ C #<=> (A #/\ B) #\ C).

% Propagation, not only checking: a decided side fixes the other.
test(reification_propagates) :-
        X in 0..5, Y in 6..9, X #= Y #<=> B, B == 0,
        P in 0..3, Q in 0..3, C #<=> (P #< Q), C = 1, fd_dom(P, 0..2), fd_dom(Q, 1..3),
        U in 0..3, V #<=> (U #= 2), V = 1, U == 2,
        #\ W, W == 0,
        M #\/ N, M = 0, N == 1.

expect(reification_errors, R,
       (   mem(G, [foo #<=> _, _ #\/ 2, (_ #= a) #<=> _, #\ f(x), _ #=> (_ #< 1.5)]),
           catch(( call(G) -> R = succeeds ; R = fails ), error(E, _), R = E)
       ),
       [type_error(integer, foo), domain_error(boolean, 2), type_error(integer, a),
        type_error(integer, f(x)), type_error(integer, 1.5)]).
