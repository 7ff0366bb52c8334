% Benchmark (not a test): N-queens for N = 8..24 with first-fail labeling
% over a constraint written in Prolog, "no two queens attack", run through
% clpfd:dispatch_global/4.  Prints, per N, the CPU time to the first
% solution and the number of backtracks (the runs of the constraint that
% failed: each undoes one labeling choice).  Run: prolog_main tests/bench/fd_queens.pl (under the
% emulator: qemu-i386 build/prolog_main tests/bench/fd_queens.pl).

:- use_module(library(clpfd)).
:- use_module(library(timeout)).

% queens(Qs) with state done(Done): Done lists the indices of the queens
% whose attacks were already taken out of the others' domains.  A run
% takes each queen fixed since out of every other queen's domain (its row
% and both diagonals), then the queens this fixed in turn, until none is
% left (a run is not woken again by its own prunings); it fails when a
% domain empties.
clpfd:dispatch_global(queens(Qs), done(Done0), done(Done), Actions) :-
        (   queen_doms(Qs, 1, Done0, Ds0),
            new_fixed(Ds0, Done0, New),
            propagate(New, Ds0, Done0, Ds, Done),
            changes(Ds, Actions0)
        ->  Actions = Actions0
        ;   bb_get(fails, F), F1 is F + 1, bb_put(fails, F1),
            Actions = [fail]
        ).

% I-Q-Dom for every queen not done before this run.
queen_doms([], _, _, []).
queen_doms([Q|Qs], I, Done, Ds) :-
        I1 is I + 1,
        (   in_list(I, Done) -> Ds = Ds1
        ;   fd_set(Q, Dom), Ds = [I-Q-Dom|Ds1]
        ),
        queen_doms(Qs, I1, Done, Ds1).

% The queens I-V fixed to V and not done.
new_fixed([], _, []).
new_fixed([I-_-Dom|Ds], Done, New) :-
        (   Dom = [[V|V]], \+ in_list(I, Done) -> New = [I-V|New1] ; New = New1 ),
        new_fixed(Ds, Done, New1).

propagate([], Ds, Done, Ds, Done).
propagate([F|Fs], Ds0, Done0, Ds, Done) :-
        prune(Ds0, [F|Fs], Done0, Ds1),
        done_too([F|Fs], Done0, Done1),
        new_fixed(Ds1, Done1, Next),
        propagate(Next, Ds1, Done1, Ds, Done).

done_too([], Done, Done).
done_too([I-_|Fs], Done0, Done) :- done_too(Fs, [I|Done0], Done).

% The domains of the queens not done without the rows the queens New
% attack (none attacks itself); fails on an empty domain.
prune([], _, _, []).
prune([J-Q-Dom|Ds], New, Done, [J-Q-Dom1|Ds1]) :-
        (   in_list(J, Done) -> Dom1 = Dom
        ;   attacked(New, J, Rows),
            list_to_fdset(Rows, Attacked),
            fdset_subtract(Dom, Attacked, Dom1),
            Dom1 \== []
        ),
        prune(Ds, New, Done, Ds1).

% The rows queen J may not take because of the queens I-R of New.
attacked([], _, []).
attacked([I-R|New], J, Rows) :-
        (   I =:= J -> Rows = Rows1
        ;   D is J - I, R1 is R + D, R2 is R - D,
            Rows = [R, R1, R2|Rows1]
        ),
        attacked(New, J, Rows1).

% One in_set action per queen whose domain shrank.
changes([], []).
changes([_-Q-Dom|Ds], Actions) :-
        (   var(Q), fd_set(Q, Dom0), Dom0 \== Dom -> Actions = [Q in_set Dom|Actions1]
        ;   Actions = Actions1
        ),
        changes(Ds, Actions1).

in_list(X, [Y|Ys]) :- ( X = Y -> true ; in_list(X, Ys) ).

queens(N, Qs) :-
        length(Qs, N),
        domain(Qs, 1, N),
        susp(Qs, Susp),
        fd_global(queens(Qs), done([]), Susp),
        labeling([ff], Qs).

susp([], []).
susp([Q|Qs], [val(Q)|Ss]) :- susp(Qs, Ss).

run(N) :-
        bb_put(fails, 0),
        statistics(runtime, [T0, _]),
        (   queens(N, Qs) -> true ; Qs = none ),
        statistics(runtime, [T1, _]),
        bb_get(fails, B),
        T is T1 - T0,
        format("N = ~d: ~d ms, ~d backtracks, first solution ~w~n", [N, T, B, Qs]).

main :- sizes(8, 24).

sizes(N, Max) :-
        (   N > Max -> true
        ;   run(N), N1 is N + 1, sizes(N1, Max)
        ).
