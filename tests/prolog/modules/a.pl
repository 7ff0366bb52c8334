% Module a for modules.pl: uses b (which uses c and, back, a), defines a
% predicate name b and c define differently, and a local helper/1 that
% must not be confused with user's.

:- module(a, [a_calls_b/1, same/1, a_helper/1, a_user/1, ping/2]).

:- use_module(b).

a_calls_b(X) :- b_calls_c(X).

same(from_a).

helper(a).
a_helper(X) :- helper(X).

a_user(X) :- user:helper(X).

% Mutual recursion across modules: ping here, pong in b.
ping(0, [ping]).
ping(s(N), [ping|L]) :- pong(N, L).
