% All solutions of the 8 queens problem.
queens(N, Qs) :- range(1, N, Ns), permutation(Ns, Qs), safe(Qs).
range(N, N, [N]) :- !.
range(I, N, [I|T]) :- I1 is I + 1, range(I1, N, T).
permutation([], []).
permutation(Xs, [X|Ys]) :- select(X, Xs, Rest), permutation(Rest, Ys).
select(X, [X|T], T).
select(X, [H|T], [H|R]) :- select(X, T, R).
safe([]).
safe([Q|Qs]) :- no_attack(Q, Qs, 1), safe(Qs).
no_attack(_, [], _).
no_attack(Q, [Q1|Qs], D) :- Q =\= Q1 + D, Q =\= Q1 - D, D1 is D + 1, no_attack(Q, Qs, D1).
bench :- queens(6, _), fail.
bench.
inferences(0).
