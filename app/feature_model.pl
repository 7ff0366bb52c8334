% The vocabulary of feature models: group and cross-tree constraints over
% presence-encoded features, and two diagnostic constraints.
%
% A feature variable's value -1 means absent, a value of 0 or more present
% (Boolean features: -1..0).  Every goal here posts one global constraint
% written in Prolog (fd_global/3); the solver runs it through the hook
% clpfd:dispatch_global/4, whose clauses below hand over to the *_solver
% predicates.  A solver is a decision list: the first case that holds
% gives the actions, and its answer depends only on the current domains
% and the state it is given.
%
% Callers: the model's goals (read by the driver, app/driver.pl) and the
% row check of app/pairs.pl, which reruns them on a row.

:- use_module(library(clpfd)).

:- op(700, xfx, [in, in_set]).
:- op(550, xfx, ..).
:- use_module(library(lists)).

% ---- Posting ----

and(A, Bs) :-
        child_susps(Bs, S),
        fd_global(user:and(A, Bs), state(_), [val(A), min(A)|S]).
or(A, Bs) :-
        child_susps(Bs, S),
        fd_global(user:or(A, Bs), state(Bs), [min(A), val(A)|S]).
xor(A, Bs) :-
        child_susps(Bs, S),
        fd_global(user:xor(A, Bs), state(Bs), [min(A), val(A)|S]).
mand(A, Bs) :-
        child_susps(Bs, S),
        fd_global(user:mand(A, Bs), state(_), [min(A), val(A)|S]).
opt(A, Bs) :-
        child_susps(Bs, S),
        fd_global(user:opt(A, Bs), state(_), [val(A), min(A)|S]).
cardinal(Min, Max, P, Ds) :-
        child_susps(Ds, S),
        fd_global(user:cardinal(Min, Max, P, Ds), state(Ds), [val(P)|S]).
require(A, B) :-
        fd_global(user:require(A, B), state(_), [min(A), min(B), val(A), val(B)]).
require(A, VA, B, VB) :-
        fd_global(user:require(A, VA, B, VB), state(_), [val(A), val(B)]).
mutex(A, B) :-
        fd_global(user:mutex(A, B), state(_), [minmax(A), minmax(B), val(A), val(B)]).
mutex(A, VA, B, VB) :-
        fd_global(user:mutex(A, VA, B, VB), state(_), [val(A), val(B)]).
mutex2(A, VA, B, VB) :-
        fd_global(user:mutex2(A, VA, B, VB), state(_), [val(A), val(B)]).
monitoring(A, Bs) :-
        val_susps(Bs, S),
        fd_global(user:monitoring(A, Bs), state(Bs), S).
monitoringPaire(A, B, I, L1, L2) :-
        fd_global(user:monitoringPaire(A, B, I, L1, L2), state(_), [dom(I), dom(B), dom(A)]).

% min(B) then val(B) for every B, in order.
child_susps([], []).
child_susps([B|Bs], [min(B), val(B)|S]) :- child_susps(Bs, S).

val_susps([], []).
val_susps([B|Bs], [val(B)|S]) :- val_susps(Bs, S).

% ---- The hook ----

:- multifile clpfd:dispatch_global/4.

clpfd:dispatch_global(spy(A), state(_), state(_), Acts) :- spy_solver(A, Acts).
clpfd:dispatch_global(and(A, Bs), state(_), state(_), Acts) :- and_solver(A, Bs, Acts).
clpfd:dispatch_global(or(A, _), state(L), state(U), Acts) :- or_solver(A, L, U, Acts).
clpfd:dispatch_global(xor(A, _), state(L), state(U), Acts) :- xor_solver(A, L, U, Acts).
clpfd:dispatch_global(mand(A, Bs), state(_), state(_), Acts) :- mand_solver(A, Bs, Acts).
clpfd:dispatch_global(opt(A, Bs), state(_), state(_), Acts) :- opt_solver(A, Bs, Acts).
clpfd:dispatch_global(cardinal(Min, Max, P, _), state(L), state(L2), Acts) :-
        cardinal_solver(Min, Max, P, L, L2, Acts).
clpfd:dispatch_global(require(A, B), state(_), state(_), Acts) :- require_solver(A, B, Acts).
clpfd:dispatch_global(require(A, VA, B, VB), state(_), state(_), Acts) :-
        require_solver(A, VA, B, VB, Acts).
clpfd:dispatch_global(mutex(A, B), state(_), state(_), Acts) :- mutex_solver(A, B, Acts).
clpfd:dispatch_global(mutex(A, VA, B, VB), state(_), state(_), Acts) :-
        mutex_solver(A, VA, B, VB, Acts).
clpfd:dispatch_global(mutex2(A, VA, B, VB), state(_), state(_), Acts) :-
        mutex_solver2(A, VA, B, VB, Acts).
clpfd:dispatch_global(ctrLigne(_, X, Vars), state(Row), state(Row2), Acts) :-
        ctrLigne_solver(Row, Row2, X, Vars, Acts).
clpfd:dispatch_global(monitoring(A, _), state(L), state(U), Acts) :- monitoring_solver(A, L, U, Acts).
clpfd:dispatch_global(pw(PI, C1, C2, A, B), state, state, Acts) :- pw_solver(PI, C1, C2, A, B, Acts).
clpfd:dispatch_global(monitoringPaire(A, B, I, L1, L2), state(_), state(_), Acts) :-
        monitoringPaire_solver(A, B, I, L1, L2, Acts).

% ---- Presence ----

% present(X): X's smallest possible value is 0 or more.
present(X) :- fd_min(X, M), integer(M), M > -1.

% absent(X): X is the integer -1.
absent(X) :- X == -1.

% filter(+List, -Undecided, -NPresent, -NAbsent)
filter([], [], 0, 0).
filter([X|Xs], U, NP, NA) :-
        filter(Xs, U0, NP0, NA0),
        (   present(X) -> U = U0, NP is NP0 + 1, NA = NA0
        ;   absent(X) -> U = U0, NP = NP0, NA is NA0 + 1
        ;   U = [X|U0], NP = NP0, NA = NA0
        ).

% ex_eq(+Xs, +V, -Acts): every X becomes V.  ex_neq: every X differs from V.
ex_eq(Xs, V, Acts) :-
        fdset_singleton(S, V),
        in_set_all(Xs, S, Acts, []).
ex_neq(Xs, V, Acts) :-
        fdset_singleton(S0, V),
        fdset_complement(S0, S),
        in_set_all(Xs, S, Acts, []).

in_set_all([], _, Acts, Acts).
in_set_all([X|Xs], S, [X in_set S|Acts], Tail) :- in_set_all(Xs, S, Acts, Tail).

absent_all(Xs, Acts, Tail) :- ex_eq(Xs, -1, A), append(A, Tail, Acts).
present_all(Xs, Acts, Tail) :- ex_neq(Xs, -1, A), append(A, Tail, Acts).

% cannot_be(X, V): the value V is not in X's domain.
cannot_be(X, V) :-
        (   integer(X) -> X =\= V
        ;   fd_set(X, S), \+ fdset_member(V, S)
        ).

% ---- Solvers ----

% A is present exactly when every B is.
and_solver(A, Bs, Acts) :-
        filter(Bs, _, NP, NA),
        (   NA > 0 -> Acts = [exit|T], absent_all([A|Bs], T, [])
        ;   absent(A) -> Acts = [exit|T], absent_all(Bs, T, [])
        ;   present(A) -> Acts = [exit|T], present_all(Bs, T, [])
        ;   NP > 0 -> Acts = [exit|T], present_all([A|Bs], T, [])
        ;   Acts = []
        ).

mand_solver(A, Bs, Acts) :- and_solver(A, Bs, Acts).

% A is present exactly when some element of L is.
or_solver(A, L, U, Acts) :-
        filter(L, U, NP, NA),
        length(L, N),
        (   absent(A) -> Acts = [exit|T], absent_all(L, T, [])
        ;   present(A), NP > 1 -> Acts = [exit]
        ;   present(A), NA =:= N - 1, NP =:= 0 -> Acts = [exit|T], present_all(U, T, [])
        ;   NP > 0 -> Acts = [exit|T], present_all([A], T, [])
        ;   NA =:= N -> Acts = [exit|T], absent_all([A], T, [])
        ;   Acts = []
        ).

% A is present exactly when one element of L is.
xor_solver(A, L, U, Acts) :-
        filter(L, U, NP, NA),
        length(L, N),
        (   absent(A) -> Acts = [exit|T], absent_all(L, T, [])
        ;   NP > 1 -> Acts = [fail]
        ;   NP =:= 1 -> Acts = [exit|T], absent_all(U, T, T1), present_all([A], T1, [])
        ;   NA =:= N - 1, present(A) -> Acts = [exit|T], present_all(U, T, T1), present_all([A], T1, [])
        ;   NA =:= N -> Acts = [exit|T], absent_all([A], T, [])
        ;   Acts = []
        ).

% A present child makes A present; an absent A makes every child absent.
opt_solver(A, Bs, Acts) :-
        filter(Bs, _, NP, _),
        (   NP > 0 -> Acts = [exit|T], present_all([A], T, [])
        ;   absent(A) -> Acts = [exit|T], absent_all(Bs, T, [])
        ;   present(A) -> Acts = [exit]
        ;   Acts = []
        ).

% Group cardinality: P absent means every child absent; P present means
% Min..Max children present.  Too many present children, or a present
% child under an absent P, fail; every child absent makes P absent only
% when P present needs a child (Min > 0); with Max = 0 reached, P stays
% open.
cardinal_solver(Min, Max, P, L, L, Acts) :-
        filter(L, U, NP, NA),
        length(L, N),
        (   Min > Max -> Acts = [fail]
        ;   Min < 0 -> Acts = [fail]
        ;   Max < 0 -> Acts = [fail]
        ;   NP > Max -> Acts = [fail]
        ;   absent(P), NP > 0 -> Acts = [fail]
        ;   NA =:= N, Min > 0 -> Acts = [exit|T], absent_all([P], T, [])
        ;   P == 0, NA =:= N - Min, NP > 0 -> Acts = [exit|T], ex_eq(U, 0, T)
        ;   absent(P) -> Acts = [exit|T], absent_all(U, T, [])
        ;   NA > N - Min -> Acts = [exit|T], absent_all([P|U], T, [])
        ;   NP =:= Max, NP > 0 -> Acts = [exit|T], ex_eq([P], 0, T1), append(T1, T2, T), absent_all(U, T2, [])
        ;   NP =:= Max -> Acts = [exit|T], absent_all(U, T, [])
        ;   Acts = []
        ).

% A requires B (Boolean features).
require_solver(A, B, Acts) :-
        (   A == 0 -> Acts = [exit|T], ex_eq([B], 0, T)
        ;   B == -1 -> Acts = [exit|T], absent_all([A], T, [])
        ;   A == -1 -> Acts = [B in -1..0, exit]
        ;   B == 0 -> Acts = [A in -1..0, exit]
        ;   Acts = []
        ).

% A = VA requires B = VB.  When B cannot be VB, only VA leaves A's
% domain: a present A with another value stands.
require_solver(A, VA, B, VB, Acts) :-
        (   A == VA -> Acts = [exit, B = VB]
        ;   B == -1, VB \== -1 -> Acts = [exit|T], ex_neq([A], VA, T)
        ;   A == -1 -> Acts = [exit]
        ;   B == VB -> Acts = [exit]
        ;   cannot_be(B, VB) -> Acts = [exit|T], ex_neq([A], VA, T)
        ;   Acts = []
        ).

% A and B are not both present.
mutex_solver(A, B, Acts) :-
        (   present(A) -> Acts = [exit|T], absent_all([B], T, [])
        ;   present(B) -> Acts = [exit|T], absent_all([A], T, [])
        ;   Acts = []
        ).

% A = VA makes B absent, B = VB makes A absent.
mutex_solver(A, VA, B, VB, Acts) :-
        (   A == VA -> Acts = [exit|T], absent_all([B], T, [])
        ;   B == VB -> Acts = [exit|T], absent_all([A], T, [])
        ;   Acts = []
        ).

% Not both A = VA and B = VB.
mutex_solver2(A, VA, B, VB, Acts) :-
        (   A == VA -> Acts = [exit|T], ex_neq([B], VB, T)
        ;   B == VB -> Acts = [exit|T], ex_neq([A], VA, T)
        ;   cannot_be(A, VA) -> Acts = [exit]
        ;   cannot_be(B, VB) -> Acts = [exit]
        ;   Acts = []
        ).

% ---- Diagnostic constraints ----

monitoring_solver(A, L, U, Acts) :-
        non_numbers(L, U),
        length(U, K),
        length(L, N),
        open('c:/monitoringIFF.txt', append, S),
        write(S, N), write(S, ','), write(S, A), nl(S),
        close(S),
        (   K =:= 0 -> Acts = [exit] ; Acts = [] ).

non_numbers([], []).
non_numbers([X|Xs], U) :-
        (   number(X) -> U = U0 ; U = [X|U0] ),
        non_numbers(Xs, U0).

monitoringPaire_solver(A, B, I, L1, L2, Acts) :-
        element(I, L1, A),
        element(I, L2, B),
        write(L1), nl, write(L2), nl, write(I), nl,
        (   number(I) -> Acts = [exit] ; Acts = [] ).

spy_solver(A, []) :-
        open('c:/spy.txt', append, S),
        write(S, A),
        close(S).
