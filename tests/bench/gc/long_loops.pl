% Long recursive loops in bounded memory (not a test): a loop that builds
% and drops terms for ten million iterations, then naive reverse of 30
% elements as a recursive loop of a million iterations.  Prints the heap's
% peak size (its capacity: the heap only grows) and the collections made.
% Run:
%
%   prolog_main tests/bench/gc/long_loops.pl

drop_loop(0) :- !.
drop_loop(N) :-
        T = f(N, [N, g(N), h(_)], 1.5),
        arg(2, T, [_, g(M)|_]), M =:= N,
        N1 is N - 1,
        drop_loop(N1).

app([], L, L).
app([H|T], L, [H|R]) :- app(T, L, R).
nrev([], []).
nrev([H|T], R) :- nrev(T, RT), app(RT, [H], R).
range(N, N, [N]) :- !.
range(I, N, [I|T]) :- I1 is I + 1, range(I1, N, T).

nrev_loop(0, _) :- !.
nrev_loop(N, L) :- nrev(L, R), R = [30|_], N1 is N - 1, nrev_loop(N1, L).

report(What, C0, T0) :-
        statistics(gc_count, C1), statistics(runtime, [T1, _]),
        statistics(global_stack_used, U), statistics(global_stack_free, F),
        C is C1 - C0, Cap is U + F, T is T1 - T0,
        format("~w: ~D collections, heap capacity ~D bytes, ~D ms~n", [What, C, Cap, T]).

main :-
        statistics(gc_count, C0), statistics(runtime, [T0, _]),
        drop_loop(10000000),
        report('build-and-drop loop, 10^7 iterations', C0, T0),
        range(1, 30, L),
        statistics(gc_count, C1), statistics(runtime, [T1, _]),
        nrev_loop(1000000, L),
        report('naive reverse loop, 10^6 iterations', C1, T1).
