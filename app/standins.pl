% Stand-ins for labeling/2 and maximum/2 of module clpfd until they land:
% labeling with leftmost or ff (first-fail) variable choice, values
% ascending; maximum/2 known once every variable is bound.
% Callers: app/driver.pl.

labeling(_:Options, Vars) :- !, labeling(Options, Vars).
labeling(Options, Vars) :-
        (   Options = [ff] -> label_ff(Vars) ; label_left(Vars) ).

label_left([]).
label_left([X|Xs]) :- standin_indomain(X), label_left(Xs).

label_ff(Vars) :-
        standin_open(Vars, Open),
        (   Open == [] -> true
        ;   Open = [X|Xs], standin_smallest(Xs, X, Y),
            standin_indomain(Y),
            label_ff(Open)
        ).

standin_open([], []).
standin_open([X|Xs], O) :- ( integer(X) -> O = O1 ; O = [X|O1] ), standin_open(Xs, O1).

standin_smallest([], X, X).
standin_smallest([Y|Ys], X, Z) :-
        fd_size(X, SX), fd_size(Y, SY),
        (   SY < SX -> standin_smallest(Ys, Y, Z) ; standin_smallest(Ys, X, Z) ).

standin_indomain(X) :- integer(X), !.
standin_indomain(X) :- fd_set(X, S), fdset_to_list(S, L), standin_member(X, L).

standin_member(X, [X|_]).
standin_member(X, [_|L]) :- standin_member(X, L).

maximum(Max, L) :- when(ground(L), standin_max(L, Max)).
standin_max([X|Xs], M) :- standin_max(Xs, X, M).
standin_max([], M, M).
standin_max([X|Xs], M0, M) :- M1 is max(X, M0), standin_max(Xs, M1, M).
