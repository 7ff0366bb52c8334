% Classic finite-domain puzzles written with the arithmetic constraints of
% library(clpfd): the number of solutions each must have.  The benchmark
% tests/bench/fd_arith.pl runs the same programs.

:- use_module(library(clpfd)).

between(L, H, L) :- L =< H.
between(L, H, X) :- L < H, L1 is L + 1, between(L1, H, X).

% ---- SEND + MORE = MONEY ----

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

expect(send_more_money_has_one_solution, Vs, send_more_money(Vs),
       [[9, 5, 6, 7, 1, 0, 8, 2]]).

% ---- N queens ----

queens(N, Qs) :-
        length(Qs, N),
        domain(Qs, 1, N),
        safe(Qs),
        labeling([ff], Qs).

safe([]).
safe([Q|Qs]) :- no_attack(Qs, Q, 1), safe(Qs).

no_attack([], _, _).
no_attack([Q|Qs], Q0, D) :-
        Q0 #\= Q,
        Q0 #\= Q + D,
        Q0 #\= Q - D,
        D1 is D + 1,
        no_attack(Qs, Q0, D1).

queen_count(N, C) :- findall(x, queens(N, _), L), length(L, C).

expect(queens_solution_counts, N-C, (between(4, 10, N), queen_count(N, C)),
       [4-2, 5-10, 6-4, 7-40, 8-92, 9-352, 10-724]).

% ---- Magic series ----

% S is a magic series of length N: S_i (i from 0) is the number of
% occurrences of i in S.  Occurrences are counted by occurrences/3, a
% global constraint written here in Prolog.
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
counts([C|Cs], I, S) :-
        occurrences(I, S, C),
        I1 is I + 1,
        counts(Cs, I1, S).

weighted([], _, []).
weighted([X|Xs], I, [I*X|Ws]) :- I1 is I + 1, weighted(Xs, I1, Ws).

sum_list_of([], 0).
sum_list_of([X|Xs], X + S) :- sum_list_of(Xs, S).

% occurrences(+I, +Xs, ?N): N of the Xs equal I.
occurrences(I, Xs, N) :-
        susp(Xs, Susp, [minmax(N)]),
        fd_global(occurrences(I, Xs, N), none, Susp).

susp([], L, L).
susp([X|Xs], [dom(X)|L], T) :- susp(Xs, L, T).

% At least the Xs fixed to I, at most those that may still be I; when N
% reaches either end the undecided Xs are all decided.
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

expect(magic_series, N-S, (between(4, 8, N), magic_series(N, S)),
       [4-[1, 2, 1, 0], 4-[2, 0, 2, 0], 5-[2, 1, 2, 0, 0], 7-[3, 2, 1, 1, 0, 0, 0],
        8-[4, 2, 1, 0, 1, 0, 0, 0]]).
