% Global constraints written in Prolog (library(clpfd)): posting with
% fd_global/3, the hook dispatch_global/4 and its actions, the suspension
% kinds that wake a constraint, and the same behaviour after backtracking.

:- use_module(library(clpfd)).

% le(X, Y): X =< Y on bounds, entailed once max(X) =< min(Y).
clpfd:dispatch_global(le(X, Y), S, S, Actions) :-
        fd_max(Y, MaxY), fd_min(X, MinX),
        fd_max(X, MaxX), fd_min(Y, MinY),
        (   integer(MaxX), integer(MinY), MaxX =< MinY -> Actions = [exit]
        ;   Actions = [X in inf..MaxY, Y in MinX..sup]
        ).

expect(le_prunes_both_ways, R,
       (domain([X, Y], 1, 9), X in 4..9, Y in 1..6, fd_global(user:le(X, Y), state, [minmax(X), minmax(Y)]),
        fd_dom(X, DX), fd_dom(Y, DY), R = DX/DY),
       [(4..6)/(4..6)]).
