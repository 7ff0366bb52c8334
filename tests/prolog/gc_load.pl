% Collections while a file loads: directives that collect the whole heap
% between clauses, with an initialization goal's term held across them.
% The loader must keep what the collector left (its heap offsets from
% before a collection mean nothing after it).

:- initialization(kept(f(a, b, c, [1, 2, 3]))).

big(0, []) :- !.
big(N, [N-f(N)|L]) :- N1 is N - 1, big(N1, L).

:- big(20000, L), L = [_|_].
:- garbage_collect.
p(1).
p(f(X, Y, [X, Y, "abc"])).
:- garbage_collect.
:- big(5000, _), garbage_collect.
q([a, b, 2.5, 123456789012345678901234567890]).

:- dynamic seen/1.
kept(T) :- garbage_collect, assertz(seen(T)).

expect(clauses_after_collections, X, p(X), [1, f(_, _, [_, _, "abc"])]).
expect(initialization_goal_term_kept, T, seen(T), [f(a, b, c, [1, 2, 3])]).
expect(boxed_terms_after_collections, L, q(L), [[a, b, 2.5, 123456789012345678901234567890]]).
