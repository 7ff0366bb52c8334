% Finite-domain constraints written in Prolog through dispatch_global/4,
% shared by the labeling tests: neq/2, all_neq/1 and wsum/3; member_/2.

% neq(X, Y): X and Y differ (pruned once one of them is fixed).
clpfd:dispatch_global(neq(X, Y), S, S, Actions) :-
        (   integer(X), integer(Y) -> ( X =\= Y -> Actions = [exit] ; Actions = [fail] )
        ;   integer(X) -> Actions = [Y in \ {X}, exit]
        ;   integer(Y) -> Actions = [X in \ {Y}, exit]
        ;   Actions = []
        ).
% wsum(Ws, Xs, S): S is the sum of Wi * Xi (Wi > 0), bounded by the
% bounds of the Xs.
clpfd:dispatch_global(wsum(Ws, Xs, S), St, St, Actions) :-
        wsum_bounds(Ws, Xs, 0, 0, Lo, Hi),
        (   Lo =:= Hi -> Actions = [S = Lo, exit]
        ;   Actions = [S in Lo..Hi]
        ).

wsum_bounds([], [], Lo, Hi, Lo, Hi).
wsum_bounds([W|Ws], [X|Xs], Lo0, Hi0, Lo, Hi) :-
        fd_min(X, Min), fd_max(X, Max),
        Lo1 is Lo0 + W * Min, Hi1 is Hi0 + W * Max,
        wsum_bounds(Ws, Xs, Lo1, Hi1, Lo, Hi).

neq(X, Y) :- fd_global(neq(X, Y), s, [val(X), val(Y)]).

all_neq([]).
all_neq([X|Xs]) :- neq_each(Xs, X), all_neq(Xs).

neq_each([], _).
neq_each([Y|Ys], X) :- neq(X, Y), neq_each(Ys, X).

wsum(Ws, Xs, S) :-
        susp_minmax(Xs, Susp),
        fd_global(wsum(Ws, Xs, S), s, Susp).

susp_minmax([], []).
susp_minmax([X|Xs], [minmax(X)|Ss]) :- susp_minmax(Xs, Ss).


member_(X, [X|_]).
member_(X, [_|Xs]) :- member_(X, Xs).
