% List predicates of the application's libraries: nth1/3, is_list/1 and
% keyclumped/2.
%
% is_list/1 is the runtime's own (module prolog, which every module sees);
% lists exports it too, as the runtime's predicate under this module's
% name, so that a program may import it from here.

:- module(lists, [nth1/3, is_list/1, keyclumped/2]).

% nth1(Index, List, Elem): Elem is element Index of List, counting from 1;
% with Index unbound, every element in order.
nth1(I, List, Elem) :- integer(I), !,
        I >= 1,
        nth_from(I, List, Elem).
nth1(I, List, Elem) :- var(I), !,
        nth_enum(List, Elem, 1, I).
nth1(I, List, Elem) :-
        must_be(I, integer, nth1(I, List, Elem), 1).

nth_from(1, [E|_], E) :- !.
nth_from(I, [_|T], E) :- I1 is I - 1, nth_from(I1, T, E).

nth_enum([E|_], E, I, I).
nth_enum([_|T], E, I0, I) :- I1 is I0 + 1, nth_enum(T, E, I1, I).

% is_list(X): X is a proper list.
is_list(X) :- prolog:is_list(X).

% keyclumped(Pairs, Groups): each run of adjacent pairs with identical keys
% becomes one Key-Values item, in order.
keyclumped([], []).
keyclumped([K-V|Ps], [K-[V|Vs]|Gs]) :-
        same_key(Ps, K, Vs, Rest),
        keyclumped(Rest, Gs).

same_key([K1-V|Ps], K, [V|Vs], Rest) :- K1 == K, !,
        same_key(Ps, K, Vs, Rest).
same_key(Rest, _, [], Rest).
