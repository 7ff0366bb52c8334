% The nonlinear arithmetic constraints of library(clpfd): X*Y = Z,
% X*X = Y, X//Y = Z (truncating), X mod Y = Z and X rem Y = Z, posted
% through the library's internal posting predicates.  Pruning on worked
% cases; every propagator against a brute-force oracle on random small
% domains (negative values, holes, zero divisors, inf and sup bounds);
% bounds consistency of the product and the square; the small-integer
% limits and the overflow modes; entailment; and every solution of small
% problems under backtracking against generate-and-test.

:- use_module(library(clpfd)).

% The relation of each constraint name: rel(Name, X, Y, Z) with X, Y
% integers gives Z, or fails where the relation has no value (divisor 0).
rel(times, X, Y, Z) :- Z is X * Y.
rel(square, X, _, Z) :- Z is X * X.
rel(quot, X, Y, Z) :- Y =\= 0, Z is X // Y.
rel(mod, X, Y, Z) :- Y =\= 0, Z is X mod Y.
rel(rem, X, Y, Z) :- Y =\= 0, Z is X rem Y.

post(times, X, Y, Z) :- clpfd:post_product(X, Y, Z).
post(square, X, _, Z) :- clpfd:post_square(X, Z).
post(quot, X, Y, Z) :- clpfd:post_quotient(X, Y, Z).
post(mod, X, Y, Z) :- clpfd:post_modulo(X, Y, Z).
post(rem, X, Y, Z) :- clpfd:post_remainder(X, Y, Z).

mem(X, [X|_]).
mem(X, [_|Xs]) :- mem(X, Xs).

dom(X, D) :- ( integer(X) -> D = X ; fd_dom(X, D) ).

% narrowed(+Op, +Doms, -Result): X, Y, Z in Doms (a range, or an integer
% for the variable itself), Op posted: their domains, or fails.
narrowed(Op, [DX, DY, DZ], R) :-
        in_dom(X, DX), in_dom(Y, DY), in_dom(Z, DZ),
        (   post(Op, X, Y, Z) -> dom(X, RX), dom(Y, RY), dom(Z, RZ), R = [RX, RY, RZ]
        ;   R = fails
        ).

in_dom(X, D) :- ( integer(D) -> X = D ; X in D ).

% ---- Worked cases ----

expect(product_narrowing, C-R,
       (   mem(C-Doms, [hull-[2..3, 4..5, inf..sup],
                        mixed_signs-[-3..4, -2..5, inf..sup],
                        seven_without_factors-[2..10, 2..10, 7],
                        seven_with_one-[1..10, 1..10, 7],
                        zero_factor_nonzero_product-[inf..sup, 0, 1..5],
                        zero_factor-[0, -5..5, inf..sup],
                        open_factor-[inf.. -1, 0..5, inf..sup],
                        both_factors_fixed-[-6, 7, inf..sup],
                        product_and_factor_fixed-[inf..sup, -4, 12],
                        factor_not_dividing-[inf..sup, 4, 10],
                        % the bounds of X move past some 16 million unsupported values
                        supports_far_apart-[1..sup, 2..3, 99999999]]),
           narrowed(times, Doms, R)
       ),
       [hull-[2..3, 4..5, 8..15],
        mixed_signs-[-3..4, -2..5, -15..20],
        seven_without_factors-fails,
        seven_with_one-[1..7, 1..7, 7],
        zero_factor_nonzero_product-fails,
        zero_factor-[0, -5..5, 0],
        open_factor-[inf.. -1, 0..5, inf..0],
        both_factors_fixed-[-6, 7, -42],
        product_and_factor_fixed-[-3, -4, 12],
        factor_not_dividing-fails,
        supports_far_apart-[33333333, 3, 99999999]]).

expect(square_narrowing, C-R,
       (   mem(C-Doms, [both_signs-[-3..2, x, inf..sup],
                        root_of_range-[0..10, x, 5..30],   % Y's bounds squares of X's
                        no_square_in_range-[inf..sup, x, 5..8],
                        negative_square-[inf..sup, x, inf.. -1],
                        negative_branch-[-10.. -1, x, 5..30],
                        unbounded-[inf..sup, x, inf..sup],
                        fixed_root-[-4, x, inf..sup]]),
           Doms = [DX, _, DY],
           narrowed(square, [DX, inf..sup, DY], R0),
           ( R0 = [RX, _, RY] -> R = [RX, RY] ; R = R0 )
       ),
       [both_signs-[-3..2, 0..9],
        root_of_range-[3..5, 9..25],
        no_square_in_range-fails,
        negative_square-fails,
        negative_branch-[-5.. -3, 9..25],
        unbounded-[inf..sup, 0..sup],
        fixed_root-[-4, 16]]).

expect(quotient_narrowing, C-R,
       (   mem(C-Doms, [hull-[7..20, 2..3, inf..sup],
                        dividend_from_quotient-[0..100, 1..10, 3],
                        hole_around_zero-[-20.. -7, -3..3, inf..sup],
                        zero_quotient-[-5..5, 6..10, 0],
                        fixed-[-7, 2, inf..sup]]),
           narrowed(quot, Doms, R)
       ),
       [hull-[7..20, 2..3, 2..10],
        dividend_from_quotient-[3..39, 1..10, 3],
        hole_around_zero-[-20.. -7, (-3.. -1)\/(1..3), (-20.. -2)\/(2..20)],
        zero_quotient-[-5..5, 6..10, 0],
        fixed-[-7, 2, -3]]).

expect(remainder_narrowing, C-R,
       (   mem(C-Doms, [within_one_period-[7..8, 5, inf..sup],
                        wrapping-[8..11, 5, inf..sup],
                        both_signs-[-3..4, 5, inf..sup],
                        negative_dividend-[-9.. -6, 5, inf..sup],
                        divisor_above_remainder-[0..100, 1..10, 2],
                        dividend_moved_to_remainder-[10..30, 7, 5],
                        fixed-[7, -2, inf..sup]]),
           narrowed(rem, Doms, R)
       ),
       [within_one_period-[7..8, 5, 2..3],
        wrapping-[8..11, 5, (0..1)\/(3..4)],
        both_signs-[-3..4, 5, -3..4],
        negative_dividend-[-9.. -6, 5, -4.. -1],
        divisor_above_remainder-[{2}\/(5..100), 3..10, 2],
        dividend_moved_to_remainder-[12..26, 7, 5],
        fixed-[7, -2, 1]]).

expect(modulo_narrowing, C-R,
       (   mem(C-Doms, [negative_dividend-[-3.. -1, 5, inf..sup],
                        negative_divisor-[1..3, -5, inf..sup],
                        wrapping-[3..6, 5, inf..sup],
                        dividend_moved_to_modulus-[-20..20, 6, 4],
                        fixed-[7, -2, inf..sup]]),
           narrowed(mod, Doms, R)
       ),
       [negative_dividend-[-3.. -1, 5, 2..4],
        negative_divisor-[1..3, -5, -4.. -2],
        wrapping-[3..6, 5, (0..1)\/(3..4)],
        dividend_moved_to_modulus-[-20..16, 6, 4],
        fixed-[7, -2, -1]]).

% Y never takes 0: it is removed from the divisor first, and a divisor
% that is only 0 fails.
expect(zero_divisor, Op-R,
       (   mem(Op, [quot, mod, rem]),
           mem(DY, [-1..1, 0]),
           narrowed(Op, [inf..sup, DY, inf..sup], R0),
           ( R0 = [_, RY, _] -> R = RY ; R = R0 )
       ),
       [quot-({-1}\/{1}), quot-fails, mod-({-1}\/{1}), mod-fails, rem-({-1}\/{1}), rem-fails]).

% A fixed relation is decided at once: entailed when it holds (the
% constraint goes, counted as an entailment), failed when it does not.
expect(fixed_arguments, Op/X/Y/Z-R,
       (   mem(Op/X/Y/Z, [rem/7/ -2/1, mod/7/ -2/ -1, quot/ -7/2/ -3, times/ -3/5/ -15, square/ -5/0/25,
                          rem/7/ -2/ -1, mod/7/ -2/1, quot/ -7/2/ -4, times/3/5/16, square/5/0/ -25]),
           fd_statistics(entailments, _),
           (   post(Op, X, Y, Z) -> fd_statistics(entailments, E), R = entailed(E)
           ;   R = fails
           )
       ),
       [rem/7/ -2/1-entailed(1), mod/7/ -2/ -1-entailed(1), quot/ -7/2/ -3-entailed(1),
        times/ -3/5/ -15-entailed(1), square/ -5/0/25-entailed(1),
        rem/7/ -2/ -1-fails, mod/7/ -2/1-fails, quot/ -7/2/ -4-fails, times/3/5/16-fails, square/5/0/ -25-fails]).

% ---- The small-integer limits ----

% -268435456..268435455 are the integers a domain holds.  A bound beyond
% them is an overflow: a representation error in the default mode, a
% plain failure in mode fail.
expect(overflow_modes, Name-R,
       (   mem(Name-Goal, [times_least_product_beyond-
                               ( X in 20000..30000, Y in 20000..30000, post(times, X, Y, _) ),
                           times_square_of_16384-post(times, 16384, 16384, _),
                           square_beyond-( X in 20000..30000, post(square, X, _, _) ),
                           quotient_of_least_by_minus_one-post(quot, -268435456, -1, _),
                           times_negative_products_beyond-
                               ( X in -30000.. -20000, Y in 20000..30000, post(times, X, Y, _) )]),
           mem(Mode, [error, fail]),
           clpfd:'$fd_overflow'(Old, Mode, _),
           (   catch(( call(Goal) -> R0 = succeeds ; R0 = fails ), error(E, _), R0 = E)
           ->  true
           ;   R0 = fails
           ),
           clpfd:'$fd_overflow'(_, Old, _),
           R = Mode/R0
       ),
       [times_least_product_beyond-error/representation_error(max_fd_integer),
        times_least_product_beyond-fail/fails,
        times_square_of_16384-error/representation_error(max_fd_integer),
        times_square_of_16384-fail/fails,
        square_beyond-error/representation_error(max_fd_integer), square_beyond-fail/fails,
        quotient_of_least_by_minus_one-error/representation_error(max_fd_integer),
        quotient_of_least_by_minus_one-fail/fails,
        times_negative_products_beyond-error/representation_error(max_fd_integer),
        times_negative_products_beyond-fail/fails]).

% At the limits themselves nothing overflows.
expect(limits_reached, R,
       (   mem(G-V, [post(times, 16384, -16384, Z1)-Z1,
                     post(times, 268435455, -1, Z2)-Z2,
                     post(quot, -268435456, 1, Z3)-Z3,
                     post(quot, 268435455, -1, Z4)-Z4,
                     post(rem, -268435456, -1, Z5)-Z5,
                     post(mod, -268435456, 268435455, Z6)-Z6,
                     post(mod, 268435455, -268435456, Z7)-Z7,
                     ( X8 in 0..sup, post(times, X8, 16384, 268419072) )-X8,
                     ( X9 in inf..sup, post(square, X9, _, 268402689) )-X9]),
           call(G), dom(V, R)
       ),
       [-268435456, -268435455, -268435456, -268435455, 0, 268435454, -1, 16383, -16383..16383]).

% ---- Against a brute-force oracle ----

% Random domains from a fixed seed: an interval within -7..7, sometimes
% with a hole, sometimes open to inf or sup.
next(S0, S) :- S is (S0 * 1103515245 + 12345) mod 2147483648.
pick(S0, N, V, S) :- next(S0, S), V is (S >> 8) mod N.

random_dom(S0, D, S) :-
        pick(S0, 15, A, S1), pick(S1, 15, B, S2), pick(S2, 10, K, S3), pick(S3, 15, H, S),
        Lo is min(A, B) - 7, Hi is max(A, B) - 7,
        (   K =:= 0 -> D = inf..Hi
        ;   K =:= 1 -> D = Lo..sup
        ;   K =< 4, Hole is H - 7, Hole > Lo, Hole < Hi -> D = (Lo..Hi) /\ \ {Hole}
        ;   D = Lo..Hi
        ).

% The values of a domain within -9..9 (the oracle's window).
window_values(X, Vs) :-
        (   integer(X) -> Vs = [X]
        ;   fd_set(X, S), fdset_intersection(S, [[-9|9]], W), fdset_to_list(W, Vs)
        ).

in_domain(V, X) :- ( integer(X) -> V =:= X ; fd_set(X, S), fdset_member(V, S) ).

% oracle(+Op, +Doms): the solutions within the window of Op on fresh
% variables in Doms all survive its posting; a posting that fails has
% none; fixed variables form a solution.
oracle(Op, Doms) :-
        Doms = [DX, DY, DZ],
        X in DX, Y in DY, Z in DZ,
        window_values(X, XV), window_values(Y, YV),
        findall(x(A, B, C), ( mem(A, XV), mem(B, YV), rel(Op, A, B, C), in_domain(C, Z) ), Sols),
        (   post(Op, X, Y, Z)
        ->  (   mem(x(A, B, C), Sols), \+ ( in_domain(A, X), in_domain(B, Y), in_domain(C, Z) )
            ->  report(Op, Doms, lost(A, B, C))
            ;   integer(X), integer(Y), integer(Z), \+ rel(Op, X, Y, Z)
            ->  report(Op, Doms, entailed_wrongly(X, Y, Z))
            ;   true
            )
        ;   Sols == [] -> true
        ;   Sols = [Sol|_], report(Op, Doms, failed_with(Sol))
        ).

report(Op, Doms, What) :- writeq(Op-Doms-What), nl, fail.

oracle_runs(_, 0, _) :- !.
oracle_runs(Op, N, S0) :-
        random_dom(S0, DX, S1), random_dom(S1, DY, S2), random_dom(S2, DZ, S3),
        oracle(Op, [DX, DY, DZ]),
        N1 is N - 1,
        oracle_runs(Op, N1, S3).

test(oracle_product) :- oracle_runs(times, 150, 1).
test(oracle_square) :- oracle_runs(square, 100, 2).
test(oracle_quotient) :- oracle_runs(quot, 150, 3).
test(oracle_modulo) :- oracle_runs(mod, 150, 4).
test(oracle_remainder) :- oracle_runs(rem, 150, 5).

between(L, H, L) :- L =< H.
between(L, H, X) :- L < H, L1 is L + 1, between(L1, H, X).

% ---- Bounds consistency ----

% After X*Y = Z (X*X = Z) on intervals, every bound of every variable is
% part of a solution within the bounds of the others.
bounds_supported(Op, Doms) :-
        Doms = [DX, DY, DZ],
        X in DX, Y in DY, Z in DZ,
        (   post(Op, X, Y, Z)
        ->  fd_min(X, XL), fd_max(X, XH), fd_min(Y, YL), fd_max(Y, YH), fd_min(Z, ZL), fd_max(Z, ZH),
            (   mem(Which, [x(XL), x(XH), y(YL), y(YH), z(ZL), z(ZH)]),
                \+ supported(Op, Which, XL..XH, YL..YH, ZL..ZH)
            ->  report(Op, Doms, unsupported(Which, [XL..XH, YL..YH, ZL..ZH]))
            ;   true
            )
        ;   true
        ).

supported(Op, x(A), _, YL..YH, ZL..ZH) :- between(YL, YH, B), rel(Op, A, B, C), C >= ZL, C =< ZH, !.
supported(Op, y(B), XL..XH, _, ZL..ZH) :- between(XL, XH, A), rel(Op, A, B, C), C >= ZL, C =< ZH, !.
% Z's bounds are those of the products of reals within the bounds of X
% and Y: the hull of the corners' products (x^2 over an interval for the
% square).
supported(times, z(C), XL..XH, YL..YH, _) :-
        findall(P, ( mem(A, [XL, XH]), mem(B, [YL, YH]), P is A * B ), Ps),
        min_list(Ps, Lo), max_list(Ps, Hi),
        C >= Lo, C =< Hi.
supported(square, z(C), XL..XH, _, _) :- between(XL, XH, A), C =:= A * A, !.

finite_interval(S0, Lo..Hi, S) :-
        pick(S0, 15, A, S1), pick(S1, 15, B, S),
        Lo is min(A, B) - 7, Hi is max(A, B) - 7.

bounds_runs(_, 0, _) :- !.
bounds_runs(Op, N, S0) :-
        finite_interval(S0, DX, S1), finite_interval(S1, DY, S2), random_dom(S2, DZ0, S3),
        ( DZ0 = (Lo..Hi) /\ _ -> DZ = Lo..Hi ; DZ = DZ0 ),
        bounds_supported(Op, [DX, DY, DZ]),
        N1 is N - 1,
        bounds_runs(Op, N1, S3).

test(bounds_consistent_product) :- bounds_runs(times, 120, 11).
test(bounds_consistent_square) :- bounds_runs(square, 80, 12).

% ---- Under backtracking ----

% Every solution found by labeling after posting is one that
% generate-and-test finds, and none is missing: the propagators see the
% domains of each branch, and what they learnt in one is undone in the
% next.
lab([]).
lab([X|Xs]) :- fd_set(X, S), fdset_to_list(S, Vs), mem(X, Vs), lab(Xs).

agree(Op, Doms) :-
        findall(X/Y/Z, ( doms([X, Y, Z], Doms), post(Op, X, Y, Z), lab([X, Y, Z]) ), S1),
        findall(X/Y/Z, ( doms([X, Y, Z], Doms), lab([X, Y, Z]), rel(Op, X, Y, Z) ), S2),
        (   S1 == S2 -> true
        ;   report(Op, Doms, S1), write('   expected '), writeq(S2), nl, fail
        ).

doms([], []).
doms([X|Xs], [D|Ds]) :- X in D, doms(Xs, Ds).

test(every_solution_under_backtracking) :-
        \+ ( mem(Op-Doms,
                 [times-[-4..4, -3..5, -6..9], times-[(-5..5) /\ \ {0}, -2..3, {-6, 0, 4, 12}],
                  square-[-5..4, 0, 0..20], square-[{-3, -1, 2}, 0, {1, 4, 5, 9}],
                  quot-[-9..9, -3..3, -4..4], quot-[-20.. -7, {-3, 2, 3}, -10..10],
                  mod-[-9..9, -4..4, -3..3], mod-[{-7, 5, 8, 13}, {-5, 3}, -4..4],
                  rem-[-9..9, -4..4, -3..3], rem-[{-8, -1, 6, 11}, {-4, 5}, -4..4]]),
             \+ agree(Op, Doms)
           ).

min_list([X|Xs], M) :- min_list(Xs, X, M).
min_list([], M, M).
min_list([X|Xs], M0, M) :- M1 is min(X, M0), min_list(Xs, M1, M).
max_list([X|Xs], M) :- max_list(Xs, X, M).
max_list([], M, M).
max_list([X|Xs], M0, M) :- M1 is max(X, M0), max_list(Xs, M1, M).
