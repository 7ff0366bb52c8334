% Benchmark (not a test) of the arithmetic constraints: SEND+MORE=MONEY
% (all solutions: there is one), all solutions of 10 queens with #\=, and the magic
% series of size 50 (first solution), as tests/prolog/clpfd_puzzles.pl
% writes them.  Prints per problem the CPU time and
% the solver's counters (resumptions: runs of propagators; prunings;
% entailments; backtracks; constraints posted).  Run: prolog_main
% tests/bench/fd_arith.pl (under the emulator: qemu-i386
% build/prolog_main tests/bench/fd_arith.pl).

:- use_module(library(clpfd)).
% The puzzles themselves: send_more_money/1, queens/2, magic_series/2.
:- ensure_loaded('../prolog/clpfd_puzzles').

main :-
        bench('SEND+MORE=MONEY, all solutions', findall(x, send_more_money(_), S), S),
        bench('10 queens, all solutions', findall(x, queens(10, _), L), L),
        bench('magic series 50, first', ( magic_series(50, _) -> true ; true ), one).

bench(Name, Goal, Result) :-
        reset_counters,
        statistics(runtime, [T0, _]),
        call(Goal),
        statistics(runtime, [T1, _]),
        T is T1 - T0,
        counters(Cs),
        (   is_list(Result) -> length(Result, N) ; N = Result ),
        format("~w: ~w solution(s), ~d ms", [Name, N, T]),
        print_counters(Cs), nl.

reset_counters :- \+ ( fd_statistics(_, _), fail ).
counters(Cs) :- findall(K=V, fd_statistics(K, V), Cs).
print_counters([]).
print_counters([K=V|Cs]) :- format(", ~w ~d", [K, V]), print_counters(Cs).
