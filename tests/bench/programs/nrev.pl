% Naive reverse of a 30-element list: 496 logical inferences per run.
app([], L, L).
app([H|T], L, [H|R]) :- app(T, L, R).
nrev([], []).
nrev([H|T], R) :- nrev(T, RT), app(RT, [H], R).
range(N, N, [N]) :- !.
range(I, N, [I|T]) :- I1 is I + 1, range(I1, N, T).
bench :- range(1, 30, L), nrev(L, _).
inferences(496).
