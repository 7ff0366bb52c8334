% Module b for modules.pl: used by a and uses a in turn (only ping/2, as
% b has its own same/1), uses c; hidden_p/1 and hidden_q/1 are reached
% only through b:Goal.

:- module(b, [b_calls_c/1, pong/2, b_one/1, b_two/1, same/1]).

:- use_module(c).
:- use_module(a, [ping/2]).

b_calls_c(X) :- c_leaf(X).

pong(0, [pong]).
pong(s(N), [pong|L]) :- ping(N, L).

b_one(b_one).
b_two(b_version).

same(from_b).

hidden_p(p1).
hidden_p(p2).
hidden_q(q1).

asks_a(X) :- a:same(X).
