% Sorting: sort/2, msort/2, keysort/2 (stability), sort/4 on every key
% and order against a plain reference sort, predsort/3, long lists, the
% native cores' refusals and the ISO errors.

error_of(G, F) :- catch((G, F = none), error(F0, _), F = F0).

% ---- sort/2, msort/2 ----

expect(sort_dedup, S, sort([b, a, c, a, b], S), [[a, b, c]]).
expect(sort_standard_order, S, sort([f(a), "s", 1, a, 2.0, 1.0, Z, g(a, b), -3, [x], Z], S),
       [[_, 1.0, 2.0, -3, 1, a, f(a), [115], [x], g(a, b)]]).  % compounds: arity, then name
expect(sort_int_and_float_kept, S, sort([1, 1.0], S), [[1.0, 1]]).
expect(sort_zeros_equal, L, (sort([0.0, -0.0], S), length(S, L)), [1]).
expect(sort_empty, S, sort([], S), [[]]).
test(sort_variables_by_age) :- sort([B, A, B, A], S), S = [X, Y], X \== Y, (S == [A, B] ; S == [B, A]).
expect(sort_bignums, S, sort([100000000000000000000, -100000000000000000000, 0, 99999999999999999999], S),
       [[-100000000000000000000, 0, 99999999999999999999, 100000000000000000000]]).
expect(sort_result_partial, [X, Y], sort([c, a, b], [X, b, Y]), [[a, c]]).
test(sort_result_mismatch_fails) :- \+ sort([b, a], [b, a]).
expect(msort_keeps_duplicates, S, msort([b, a, c, a, b], S), [[a, a, b, b, c]]).
test(msort_identical_copies_kept) :-
        msort([f(X), f(Y), f(X)], S), S = [A, B, C],
        length(S, 3), A == f(X), B == f(X), (C == f(Y) ; true).

% ---- keysort/2: stable ----

expect(keysort_spec_case, S, keysort([b-1, a-2, b-0, a-1], S), [[a-2, a-1, b-1, b-0]]).
expect(keysort_keeps_duplicates, S, keysort([k-1, k-1, j-2], S), [[j-2, k-1, k-1]]).
test(keysort_stable_long) :-
        lcg_pairs(3000, 7, Ps),
        keysort(Ps, S),
        stable(S).
% lcg_pairs(N, Seed, Pairs): keys 0..9 in a scrambled order, values the
% positions in the input.
lcg_pairs(N, Seed, Ps) :- lcg_pairs(0, N, Seed, Ps).
lcg_pairs(N, N, _, []) :- !.
lcg_pairs(I, N, X, [K-I|Ps]) :-
        X1 is (X * 1103515245 + 12345) mod 2147483648,
        K is (X1 >> 16) mod 10,
        I1 is I + 1,
        lcg_pairs(I1, N, X1, Ps).
stable([]).
stable([_]).
stable([K1-V1, K2-V2|Ps]) :-
        (   K1 < K2 -> true ; K1 =:= K2, V1 < V2 ),
        stable([K2-V2|Ps]).

% ---- sort/4 against a reference ----

% The reference: a stable insertion sort by the key, then the drop of
% elements whose key equals the previous one for @< and @>.
ref_sort(Key, Order, L, S) :-
        ref_isort(L, Key, Order, [], S0),
        (   ( Order == @< ; Order == @> ) -> ref_dedup(S0, Key, S) ; S = S0 ).
ref_isort([], _, _, S, S).
ref_isort([X|Xs], Key, Order, Acc, S) :-
        ref_insert(Acc, X, Key, Order, Acc1),
        ref_isort(Xs, Key, Order, Acc1, S).
% A new element goes after every element it does not have to precede,
% so equal keys stay in input order.
ref_insert([], X, _, _, [X]).
ref_insert([Y|Ys], X, Key, Order, R) :-
        ref_key(Key, X, KX), ref_key(Key, Y, KY),
        (   ref_before(Order, KX, KY) -> R = [X, Y|Ys]
        ;   R = [Y|R1], ref_insert(Ys, X, Key, Order, R1)
        ).
ref_before(@<, A, B) :- A @< B.
ref_before(@=<, A, B) :- A @< B.
ref_before(@>, A, B) :- A @> B.
ref_before(@>=, A, B) :- A @> B.
ref_key(0, X, X) :- !.
ref_key(K, X, A) :- arg(K, X, A).
ref_dedup([], _, []).
ref_dedup([X|Xs], Key, [X|Ys]) :- ref_key(Key, X, K), ref_skip(Xs, Key, K, Rest), ref_dedup(Rest, Key, Ys).
ref_skip([X|Xs], Key, K, Rest) :- ref_key(Key, X, K1), K1 == K, !, ref_skip(Xs, Key, K, Rest).
ref_skip(Xs, _, _, Xs).

sort4_input([f(2, b, 1), f(1, a, 2), f(3, b, 3), f(1, c, 4), f(2, a, 5), f(1, a, 6), f(3, a, 7),
             f(2, b, 1), f(0, z, 8), f(1.0, a, 9), f(a, b, 10), f(B, b, 11), f(B, a, 12)]) :- B = _.

order(@<). order(@=<). order(@>). order(@>=).

expect(sort4_every_key_and_order, Key-Order-S-R,
       ( sort4_input(L), member_(Key, [0, 1, 2, 3]), order(Order),
         sort(Key, Order, L, S), ref_sort(Key, Order, L, R), S \== R ), []).
member_(X, [X|_]).
member_(X, [_|T]) :- member_(X, T).

expect(sort4_spec_like, S, sort(1, @>=, [f(1, a), f(2, b), f(1, c)], S), [[f(2, b), f(1, a), f(1, c)]]).
expect(sort4_dedup_keeps_first, S, sort(1, @<, [f(1, a), f(2, b), f(1, c)], S), [[f(1, a), f(2, b)]]).
expect(sort4_whole_descending, S, sort(0, @>, [b, a, c, b], S), [[c, b, a]]).

% ---- predsort/3 ----

by_length(O, A, B) :- atom_length(A, LA), atom_length(B, LB), compare(O, LA, LB).
expect(predsort_by_length, S, predsort(by_length, [ccc, a, bb, dd, eeee], S), [[a, bb, ccc, eeee]]).
expect(predsort_empty, S, predsort(by_length, [], S), [[]]).
bad_order(x, _, _).
expect(predsort_bad_order, F, error_of(predsort(bad_order, [a, b], _), F), [domain_error(order, x)]).
test(predsort_failing_pred_fails) :- \+ predsort(no_order, [a, b], _).
no_order(_, _, _) :- fail.

% ---- Long lists ----

% A list of N scrambled integers.
lcg_list(0, _, []) :- !.
lcg_list(N, X, [K|Ks]) :-
        X1 is (X * 1103515245 + 12345) mod 2147483648,
        K is X1 >> 4,
        N1 is N - 1,
        lcg_list(N1, X1, Ks).

ascending([]).
ascending([_]).
ascending([A, B|T]) :- A @=< B, ascending([B|T]).

test(sort_50000_scrambled) :-
        lcg_list(50000, 42, L),
        msort(L, M), length(M, 50000), ascending(M),
        sort(L, S), ascending(S), length(S, N), N > 48000,
        sort(0, @>=, L, D), length(D, 50000), D = [First|_], last_(M, First).
test(sort_reversed_and_sorted_long) :-
        numlist_(1, 50000, Up), reverse_(Up, [], Down),
        sort(Down, S1), S1 == Up,
        sort(Up, S2), S2 == Up.
last_([X], X) :- !.
last_([_|T], X) :- last_(T, X).
numlist_(L, H, []) :- L > H, !.
numlist_(L, H, [L|T]) :- L1 is L + 1, numlist_(L1, H, T).
reverse_([], R, R).
reverse_([X|Xs], R0, R) :- reverse_(Xs, [X|R0], R).

% ---- The native cores refuse what they do not sort ----

test(native_refusals) :-
        \+ prolog:'$sort'([a|_], _),
        \+ prolog:'$sort'(a, _),
        \+ prolog:'$sort'([b, a], [a, b]),
        L = [a, b|L], \+ prolog:'$sort'(L, _),
        \+ prolog:'$keysort'([a-1|_], _),
        \+ prolog:'$keysort'([a], _),
        \+ prolog:'$keysort'([_], _),
        K = [a-1|K], \+ prolog:'$keysort'(K, _).

% ---- Errors ----

serr(sort(_, _), instantiation_error).
serr(sort([a|_], _), instantiation_error).
serr(sort(a, _), type_error(list, a)).
serr(sort([a|b], _), type_error(list, [a|b])).
serr(sort([b, a], foo), type_error(list, foo)).
serr(sort([b, a], [a|foo]), type_error(list, [a|foo])).
serr(msort(a, _), type_error(list, a)).
serr(keysort(_, _), instantiation_error).
serr(keysort([a-1, _], _), instantiation_error).
serr(keysort([a-1, b], _), type_error(pair, b)).
serr(keysort([a-1], [foo]), type_error(pair, foo)).
serr(keysort([a-1], foo), type_error(list, foo)).
serr(sort(_, @<, [], _), instantiation_error).
serr(sort(a, @<, [], _), type_error(integer, a)).
serr(sort(-1, @<, [], _), domain_error(not_less_than_zero, -1)).
serr(sort(0, _, [], _), instantiation_error).
serr(sort(0, <, [], _), domain_error(order, <)).
serr(sort(1, @<, [f(a), b], _), type_error(compound, b)).
serr(sort(2, @<, [f(a)], _), type_error(compound, f(a))).
serr(sort(1, @<, [f(a), _], _), instantiation_error).
serr(sort(0, @<, foo, _), type_error(list, foo)).
serr(predsort(by_length, foo, _), type_error(list, foo)).
expect(sort_errors, G-F, ( serr(G, Want), error_of(G, F), F \= Want ), []).

test(cyclic_list_is_not_a_list) :- L = [a|L], error_of(sort(L, _), type_error(list, _)).
