% Sorting: sort/2, msort/2, keysort/2, sort/4 and predsort/3.
%
% '$sort'/2 (standard order, duplicates dropped) and '$keysort'/2 (by key,
% stable, duplicates kept) do the work in O(n log n); they fail on
% arguments they do not accept, and these predicates check everything
% first and raise the ISO errors.  msort/2 and sort/4 sort Key-Element
% pairs with '$keysort'/2, which keeps equal keys in their input order.

:- meta_predicate predsort(3, ?, ?).

% The native cores check the list themselves: the checks here run first
% only when a core refused its argument, or for a bound second argument.
sort(L, S) :-
        (   '$sort'(L, S0) -> true
        ;   must_be(L, list, sort(L, S), 1)
        ),
        (   var(S) -> true ; srt_result(S, sort(L, S), 2) ),
        S = S0.

msort(L, S) :-
        G = msort(L, S),
        must_be(L, list, G, 1),
        srt_result(S, G, 2),
        srt_pair_with_self(L, Ps),
        '$keysort'(Ps, Sorted),
        srt_values(Sorted, S0),
        S = S0.

keysort(L, S) :-
        G = keysort(L, S),
        (   '$keysort'(L, S0) -> true
        ;   must_be(L, list, G, 1),
            srt_pairs(L, G, 1)
        ),
        (   var(S) -> true
        ;   srt_result(S, G, 2),
            srt_result_pairs(S, G)
        ),
        S = S0.

% sort(Key, Order, List, Sorted): by the Key-th argument of each element
% (the whole element for 0); @< and @> drop all but the first of the
% elements with equal keys, @=< and @>= keep them in their input order.
sort(Key, Order, L, S) :-
        G = sort(Key, Order, L, S),
        must_be(Key, integer(>=(0)), G, 1),
        must_be(Order, nonvar, G, 2),
        (   srt_order(Order) -> true ; illarg(domain(_, order), G, 2) ),
        must_be(L, list, G, 3),
        srt_result(S, G, 4),
        srt_keyed(L, Key, G, Ps),
        '$keysort'(Ps, Sorted),
        srt_by_order(Order, Sorted, S0),
        S = S0.

srt_order(@<).
srt_order(@=<).
srt_order(@>).
srt_order(@>=).

% The second argument may be a list or a partial list.
srt_result(S, G, N) :-
        (   partial_list(S) -> true
        ;   proper_list(S) -> true
        ;   illarg(type(list), G, N)
        ).

srt_pairs([], _, _).
srt_pairs([P|Ps], G, N) :-
        (   var(P) -> illarg(var, G, N)
        ;   P = _-_ -> srt_pairs(Ps, G, N)
        ;   illarg(type(pair), G, N, P)
        ).

srt_result_pairs(S, _) :- var(S), !.
srt_result_pairs([], _) :- !.
srt_result_pairs([P|Ps], G) :- !,
        (   var(P) -> true
        ;   P = _-_ -> true
        ;   illarg(type(pair), G, 2, P)
        ),
        srt_result_pairs(Ps, G).
srt_result_pairs(_, _).

srt_pair_with_self([], []).
srt_pair_with_self([X|Xs], [X-X|Ps]) :- srt_pair_with_self(Xs, Ps).

srt_values([], []).
srt_values([_-V|Ps], [V|Vs]) :- srt_values(Ps, Vs).

srt_keyed([], _, _, []).
srt_keyed([E|Es], Key, G, [K-E|Ps]) :-
        (   Key =:= 0 -> K = E
        ;   var(E) -> illarg(var, G, 3)
        ;   compound(E), functor(E, _, N), N >= Key -> arg(Key, E, K)
        ;   illarg(type(compound), G, 3, E)
        ),
        srt_keyed(Es, Key, G, Ps).

srt_by_order(@=<, Ps, S) :- srt_values(Ps, S).
srt_by_order(@<, Ps, S) :- srt_groups(Ps, Gs), srt_firsts(Gs, S).
srt_by_order(@>=, Ps, S) :- srt_groups(Ps, Gs0), fmt_reverse(Gs0, [], Gs), srt_concat(Gs, S).
srt_by_order(@>, Ps, S) :- srt_groups(Ps, Gs0), fmt_reverse(Gs0, [], Gs), srt_firsts(Gs, S).

% The elements of sorted pairs in runs of identical keys.
srt_groups([], []).
srt_groups([K-E|Ps], [[E|Es]|Gs]) :-
        srt_same_key(Ps, K, Es, Rest),
        srt_groups(Rest, Gs).

srt_same_key([K1-E|Ps], K, [E|Es], Rest) :- K1 == K, !, srt_same_key(Ps, K, Es, Rest).
srt_same_key(Ps, _, [], Ps).

srt_firsts([], []).
srt_firsts([[E|_]|Gs], [E|Es]) :- srt_firsts(Gs, Es).

srt_concat([], []).
srt_concat([G|Gs], S) :- append(G, S1, S), srt_concat(Gs, S1).

% predsort(:Pred, List, Sorted): merge sort by call(Pred, Order, A, B),
% Order one of <, > and =; of two elements found = the second is dropped.
predsort(P, L, S) :-
        G = predsort(P, L, S),
        must_be(L, list, G, 2),
        length(L, N),
        psort(N, P, G, L, _, S0),
        S = S0.

psort(0, _, _, L, L, []) :- !.
psort(1, _, _, [X|L], L, [X]) :- !.
psort(N, P, G, L0, L, R) :-
        N1 is N // 2,
        N2 is N - N1,
        psort(N1, P, G, L0, L1, R1),
        psort(N2, P, G, L1, L, R2),
        pmerge(R1, R2, P, G, R).

pmerge([], R, _, _, R) :- !.
pmerge(R, [], _, _, R) :- !.
pmerge([A|As], [B|Bs], P, G, R) :-
        call(P, O, A, B),
        (   O == (<) -> R = [A|R1], pmerge(As, [B|Bs], P, G, R1)
        ;   O == (>) -> R = [B|R1], pmerge([A|As], Bs, P, G, R1)
        ;   O == (=) -> R = [A|R1], pmerge(As, Bs, P, G, R1)
        ;   var(O) -> illarg(var, G, 1)
        ;   illarg(domain(_, order), G, 1, O)
        ).
