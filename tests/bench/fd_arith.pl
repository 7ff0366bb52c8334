% Benchmark (not a test) of the arithmetic constraints: SEND+MORE=MONEY
% (one solution), all solutions of 10 queens with #\=, and the magic
% series of size 50 (first solution).  Prints per problem the CPU time and
% the solver's counters (resumptions: runs of propagators; prunings;
% entailments; backtracks; constraints posted).  Run: prolog_main
% tests/bench/fd_arith.pl (under the emulator: qemu-i386
% build/prolog_main tests/bench/fd_arith.pl).

:- use_module(library(clpfd)).

main :-
        bench('SEND+MORE=MONEY', ( send_more_money(_) -> true ; true ), one),
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

send_more_money([S, E, N, D, M, O, R, Y]) :-
        Vars = [S, E, N, D, M, O, R, Y],
        domain(Vars, 0, 9),
        S #> 0, M #> 0,
        all_differ(Vars),
        1000*S + 100*E + 10*N + D + 1000*M + 100*O + 10*R + E
            #= 10000*M + 1000*O + 100*N + 10*E + Y,
        labeling([], Vars).

all_differ([]).
all_differ([X|Xs]) :- differ_from(Xs, X), all_differ(Xs).

differ_from([], _).
differ_from([Y|Ys], X) :- X #\= Y, differ_from(Ys, X).

queens(N, Qs) :-
        length(Qs, N),
        domain(Qs, 1, N),
        safe(Qs),
        labeling([ff], Qs).

safe([]).
safe([Q|Qs]) :- no_attack(Qs, Q, 1), safe(Qs).

no_attack([], _, _).
no_attack([Q|Qs], Q0, D) :-
        Q0 #\= Q, Q0 #\= Q + D, Q0 #\= Q - D,
        D1 is D + 1,
        no_attack(Qs, Q0, D1).

% The magic series, occurrences counted by a global constraint written
% in Prolog (as in tests/prolog/clpfd_puzzles.pl), with the two
% redundant sums.
magic_series(N, S) :-
        length(S, N),
        Max is N - 1,
        domain(S, 0, Max),
        counts(S, 0, S),
        weighted(S, 0, Ws),
        sum_list_of(S, Sum), Sum #= N,
        sum_list_of(Ws, WSum), WSum #= N,
        labeling([ff], S).

counts([], _, _).
counts([C|Cs], I, S) :- occurrences(I, S, C), I1 is I + 1, counts(Cs, I1, S).

weighted([], _, []).
weighted([X|Xs], I, [I*X|Ws]) :- I1 is I + 1, weighted(Xs, I1, Ws).

sum_list_of([], 0).
sum_list_of([X|Xs], X + S) :- sum_list_of(Xs, S).

occurrences(I, Xs, N) :-
        susp(Xs, Susp, [minmax(N)]),
        fd_global(occurrences(I, Xs, N), none, Susp).

susp([], L, L).
susp([X|Xs], [dom(X)|L], T) :- susp(Xs, L, T).

clpfd:dispatch_global(occurrences(I, Xs, N), S, S, Actions) :-
        tally(Xs, I, 0, Fixed, 0, Possible),
        fd_min(N, Min), fd_max(N, Max),
        (   Max < Fixed -> Actions = [fail]
        ;   Min > Possible -> Actions = [fail]
        ;   Max =:= Fixed -> none_else(Xs, I, A0), append([N = Fixed|A0], [exit], Actions)
        ;   Min =:= Possible -> all_undecided(Xs, I, A0), append([N = Possible|A0], [exit], Actions)
        ;   Actions = [N in Fixed..Possible]
        ).

tally([], _, F, F, P, P).
tally([X|Xs], I, F0, F, P0, P) :-
        (   X == I -> F1 is F0 + 1, P1 is P0 + 1
        ;   integer(X) -> F1 = F0, P1 = P0
        ;   fd_set(X, Set), fdset_member(I, Set) -> F1 = F0, P1 is P0 + 1
        ;   F1 = F0, P1 = P0
        ),
        tally(Xs, I, F1, F, P1, P).

none_else([], _, []).
none_else([X|Xs], I, A) :-
        (   var(X) -> A = [call(X #\= I)|A1] ; A = A1 ),
        none_else(Xs, I, A1).

all_undecided([], _, []).
all_undecided([X|Xs], I, A) :-
        (   var(X), fd_set(X, Set), fdset_member(I, Set) -> A = [X = I|A1] ; A = A1 ),
        all_undecided(Xs, I, A1).
