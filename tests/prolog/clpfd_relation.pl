% relation/3 (library(clpfd)): the pair (X, Y) kept inside a relation
% given as Key-Range pairs.  Worked cases of each scan (domain mode,
% bounds mode, the incremental scans of removed values, the ordered map);
% every mode against an oracle computed with FD-set operations on random
% small relations and domains (negative values, holes, open Y ranges),
% after posting and after each of a series of prunings, under
% backtracking; several tuples on one relation; Open restored on
% backtracking; entailment; argument errors.

:- use_module(library(clpfd)).

mem(X, [X|_]).
mem(X, [_|Xs]) :- mem(X, Xs).

dom(X, D) :- ( integer(X) -> D = X ; fd_dom(X, D) ).
set(X, S) :- ( integer(X) -> S = [[X|X]] ; fd_set(X, S) ).

lab([]).
lab([X|Xs]) :- fd_set(X, S), fdset_to_list(S, Vs), mem(X, Vs), lab(Xs).

% post(+Mode, ?X, +Map, ?Y): relation/3 itself (user), or the internal
% posting with the entries compiled from Map and the option bits forced:
% dom (0), delta (2), bounds (1).
post(user, X, Map, Y) :- relation(X, Map, Y).
post(Mode, X, Map, Y) :-
        mem(Mode-Opt, [dom-0, delta-2, bounds-1]),
        entries(Map, Entries),
        G = relation(X, Map, Y),
        clpfd:arg_attribute(X, XA, G, 1), clpfd:arg_attribute(Y, YA, G, 3),
        clpfd:relation_post(G, X-XA, Entries, Y-YA, Opt).

% entries(+Map, -Entries): one entry [[K|K]]-Set per row (keys distinct).
entries([], []).
entries([K-R|Ps], [[[K|K]]-S|Es]) :- range_to_fdset(R, S), entries(Ps, Es).

% ---- Worked cases ----

% raw(+Entries, +Opt, ?X, ?Y): the internal posting with entries given as
% FD sets.
raw(Entries, Opt, X, Y) :-
        G = relation(X, Entries, Y),
        clpfd:arg_attribute(X, XA, G, 1), clpfd:arg_attribute(Y, YA, G, 3),
        clpfd:relation_post(G, X-XA, Entries, Y-YA, Opt).

% Two X values share a YSet of two intervals (no ordered map): nothing is
% pruned at posting, and Y = 5 leaves X the values that allow 5.
test(first_call_prunes_nothing_then_y_fixed) :-
        \+ ( mem(Opt, [0, 2]),
             X in 1..3, Y in 5..7,
             raw([[[1|2]]-[[5|5],[7|7]], [[3|3]]-[[6|6]]], Opt, X, Y),
             \+ ( dom(X, 1..3), dom(Y, 5..7), Y = 5, dom(X, 1..2) ),
             writeq(Opt), nl ).

% The incremental scan of removed X values drops the YSet of an entry
% that lost its X values; with an XSet of two intervals the other
% interval still supports it, so that scan must not be used.
test(delta_scan_not_used_for_split_xsets) :-
        X in 1..3, Y in 5..6,
        raw([[[1|1],[3|3]]-[[5|5]], [[2|2]]-[[6|6]]], 2, X, Y),
        X in 2..3,
        dom(Y, 5..6),
        X = 2, Y == 6.

expect(x_without_entry_removed_at_posting, M-DX,
       ( mem(M, [dom, delta, bounds, user]), X in 0..4, post(M, X, [1-5, 2-6, 3-7], _), dom(X, DX) ),
       [dom-(1..3), delta-(1..3), bounds-(1..3), user-(1..3)]).

% Bounds mode keeps a hole among the supported X values (X = 2 has no
% partner within Y's bounds); domain mode removes it.
expect(bounds_mode_keeps_holes, M-DX/DY,
       ( mem(M, [bounds, dom]), X in 1..3, Y in 5..6, post(M, X, [1-5, 2-9, 3-6], Y), dom(X, DX), dom(Y, DY) ),
       [bounds-(1..3)/(5..6), dom-({1}\/{3})/(5..6)]).

% Domain mode removes the inner Y values that lost their support, bounds
% mode only the ends of the hull.
expect(y_pruned_on_x_change, M-DY,
       ( mem(M, [bounds, dom, user]), X in 1..4, post(M, X, [1-1, 2-3, 3-5, 4-7], Y), X in {1, 4}, dom(Y, DY) ),
       [bounds-(1..7), dom-({1}\/{7}), user-({1}\/{7})]).

% Several rows of one key add up; a key whose rows are all empty gives X
% no value; Y ranges may be open.
expect(rows_merged, DX/DY,
       ( relation(X, [1-(1..2), 3-(2..1), 1-(8..9), 2-(20..sup)], Y), dom(X, DX), dom(Y, DY) ),
       [(1..2)/((1..2)\/(8..9)\/(20..sup))]).

test(entailed_when_x_fixed) :-
        relation(X, [1-(1..3), 2-(5..6)], Y),
        fd_statistics(entailments, _),
        X = 2,
        fd_statistics(entailments, 1),
        dom(Y, 5..6).
test(entailed_when_y_fixed) :-
        relation(X, [1-(1..3), 2-(5..6), 4-(2..7)], Y),
        fd_statistics(entailments, _),
        Y = 3,
        fd_statistics(entailments, 1),
        dom(X, {1}\/{4}).
test(entailed_at_posting) :-
        fd_statistics(entailments, _),
        relation(2, [1-(1..3), 2-(5..6)], Y),
        fd_statistics(entailments, 1),
        dom(Y, 5..6).
expect(fails_without_partner, R,
       ( mem(G, [relation(_, [], _), relation(4, [1-1], _), relation(_, [1-1, 2-2], 3),
                 (Y in 5..9, relation(_, [1-(1..4), 2-(10..12)], Y))]),
         ( call(G) -> R = succeeds ; R = fails ) ),
       [fails, fails, fails, fails]).

% The open count lives in the state: a tuple decided on a branch that is
% undone must count as open again, or the constraint would count itself
% entailed on a later run and stop propagating.
test(open_count_restored_on_backtracking) :-
        relation(X, [1-1, 2-2, 3-3], Y),
        ( Y = 1, fail ; true ),
        X in 2..3,
        dom(Y, 2..3),
        X = 2,
        Y == 2.
test(open_count_restored_several_times) :-
        relation(X, [1-1, 2-2, 3-3, 4-4], Y),
        ( Y = 1, fail ; X = 2, fail ; Y in 3..4, X = 3, fail ; true ),
        X in 3..4,
        dom(Y, 3..4),
        Y = 4,
        X == 4.

% ---- Against an oracle ----

% expected(+Map, +SX, +SY, -EX, -EY): the X values (a set) with a partner in
% SY, and the Y values of SY with a partner in SX.
expected(Map, SX, SY, EX, EY) :-
        findall(K-S, ( mem(K-R, Map), range_to_fdset(R, S) ), Rows),
        findall(K, ( mem(K-S, Rows), fdset_member(K, SX), \+ fdset_disjoint(S, SY) ), Ks),
        list_to_fdset(Ks, EX),
        findall(S, ( mem(K-S, Rows), fdset_member(K, SX) ), Ss),
        fdset_union(Ss, U),
        fdset_intersection(U, SY, EY).

% check(+Mode, +Map, ?X, ?Y, +SX, +SY): X and Y as the relation leaves
% them from the domains SX and SY: exactly the supported values (bounds
% mode: every supported value, within bounds that hold no less).
check(Mode, Map, X, Y, SX, SY, Where) :-
        expected(Map, SX, SY, EX, EY),
        set(X, AX), set(Y, AY),
        (   Mode == bounds
        ->  (   fdset_subset(EX, AX), fdset_subset(EY, AY), fdset_subset(AX, SX), fdset_subset(AY, SY) -> true
            ;   report(Mode, Map, Where, EX/EY, AX/AY)
            )
        ;   AX == EX, AY == EY -> true
        ;   report(Mode, Map, Where, EX/EY, AX/AY)
        ).

report(Mode, Map, Where, Expected, Got) :-
        writeq(Mode-Map-Where), nl, write('   expected '), writeq(Expected), write(', got '), writeq(Got), nl,
        throw(oracle_disagrees).

next(S0, S) :- S is (S0 * 1103515245 + 12345) mod 2147483648.
pick(S0, N, V, S) :- next(S0, S), V is (S >> 8) mod N.

% A random relation: keys within -3..3 (a key now and then twice), each
% with a range within -5..5: one value, an interval, two values, now and
% then open to sup.  Ordered ones have ascending disjoint Y intervals.
random_map(S0, Kind, Map, S) :-
        pick(S0, 6, N0, S1), N is N0 + 1,
        random_rows(N, Kind, -3, -5, S1, Map, S).

random_rows(0, _, _, _, S, [], S) :- !.
random_rows(N, ordered, K0, Y0, S0, [K-(Y1..Y2)|Rows], S) :- !,
        pick(S0, 2, DK, S1), pick(S1, 2, DY, S2), pick(S2, 3, W, S3),
        K is K0 + DK, Y1 is Y0 + DY, Y2 is Y1 + W,
        K1 is K + 1, Y3 is Y2 + 1, N1 is N - 1,
        random_rows(N1, ordered, K1, Y3, S3, Rows, S).
random_rows(N, any, _, _, S0, [K-R|Rows], S) :-
        pick(S0, 7, K0, S1), K is K0 - 3,
        pick(S1, 11, A0, S2), A is A0 - 5, pick(S2, 4, W, S3), pick(S3, 12, Sh, S4),
        B is A + W,
        (   Sh =:= 0 -> R = A..sup
        ;   Sh =< 3 -> R = {A, B}
        ;   Sh =< 5 -> R = A
        ;   R = A..B
        ),
        N1 is N - 1,
        random_rows(N1, any, _, _, S4, Rows, S).

random_dom(S0, D, S) :-
        pick(S0, 11, A, S1), pick(S1, 11, B, S2), pick(S2, 10, K, S3), pick(S3, 11, H, S),
        Lo is min(A, B) - 5, Hi is max(A, B) - 5,
        (   K =:= 0 -> D = inf..Hi
        ;   K =:= 1 -> D = Lo..sup
        ;   K =< 4, Hole is H - 5, Hole > Lo, Hole < Hi -> D = (Lo..Hi) /\ \ {Hole}
        ;   D = Lo..Hi
        ).

% A random pruning: X or Y restricted to a random domain, or to one of its
% values (within the window -9..9).
random_step(S0, X, Y, Which-R, S) :-
        pick(S0, 2, W, S1), pick(S1, 3, K, S2), random_dom(S2, D, S3), pick(S3, 5, I, S),
        ( W =:= 0 -> Which = x, V = X ; Which = y, V = Y ),
        (   K =:= 0, \+ integer(V), fd_set(V, SV0), fdset_intersection(SV0, [[-9|9]], SV), SV \== [] ->
            fdset_to_list(SV, Vs), length(Vs, L), J is I mod L, nth0(J, Vs, R)
        ;   R = D
        ).

nth0(0, [X|_], X) :- !.
nth0(N, [_|Xs], X) :- N1 is N - 1, nth0(N1, Xs, X).

% run(+Mode, +Map, +DX, +DY, +Steps, +Seed): post on X in DX, Y in DY,
% check; then a series of random prunings, each checked, each tried
% first on a branch that is undone (with a second pruning on it) and
% then for good.
run(Mode, Map, DX, DY, Steps, S0) :-
        X in DX, Y in DY,
        fd_set(X, SX0), fd_set(Y, SY0),
        (   post(Mode, X, Map, Y)
        ->  check(Mode, Map, X, Y, SX0, SY0, posting),
            steps(Steps, Mode, Map, X, Y, S0)
        ;   expected(Map, SX0, SY0, EX, _), EX == [] -> true
        ;   report(Mode, Map, posting(DX, DY), some, fails)
        ).

steps(0, _, _, _, _, _) :- !.
steps(N, Mode, Map, X, Y, S0) :-
        random_step(S0, X, Y, Step1, S1), random_step(S1, X, Y, Step2, S2),
        (   step(Step1, Mode, Map, X, Y), step(Step2, Mode, Map, X, Y), fail
        ;   true
        ),
        (   step(Step1, Mode, Map, X, Y) -> N1 is N - 1, steps(N1, Mode, Map, X, Y, S2)
        ;   true
        ).

% step(+Which-Range, ...): X or Y restricted to Range; fails when the
% pruning fails, as it must exactly when no pair is left.  The domains
% the relation starts from: the old ones with the restriction alone.
step(Which-R, Mode, Map, X, Y) :-
        set(X, SX0), set(Y, SY0),
        X1 in_set SX0, Y1 in_set SY0,
        (   Which == x -> V = X, V1 = X1 ; V = Y, V1 = Y1 ),
        (   V1 in R -> set(X1, SX), set(Y1, SY) ; SX = [], SY = [] ),
        (   V in R
        ->  check(Mode, Map, X, Y, SX, SY, Which-R), check_fixed(Mode, Map, X, Y)
        ;   SX == [] -> fail
        ;   expected(Map, SX, SY, EX, _), EX == [] -> fail
        ;   report(Mode, Map, step(SX0/SY0, Which-R), some, fails)
        ).

% Once both are fixed the pair is one of the relation's.
check_fixed(Mode, Map, X, Y) :-
        (   integer(X), integer(Y), \+ ( mem(X-R, Map), Y in R )
        ->  report(Mode, Map, fixed, not_a_pair, X-Y)
        ;   true
        ).

oracle_runs(_, _, 0, _) :- !.
oracle_runs(Mode, Kind, N, S0) :-
        random_map(S0, Kind, Map0, S1), random_dom(S1, DX, S2), random_dom(S2, DY, S3),
        ( Mode == user -> Map = Map0 ; distinct_keys(Map0, Map) ),
        \+ \+ run(Mode, Map, DX, DY, 6, S3),
        next(S3, S4),
        N1 is N - 1,
        oracle_runs(Mode, Kind, N1, S4).

% The internal posting takes one row per key.
distinct_keys(Map0, Map) :- distinct_keys(Map0, [], Map).
distinct_keys([], _, []).
distinct_keys([K-R|Ps], Seen, Map) :-
        (   mem(K, Seen) -> Map = Map1 ; Map = [K-R|Map1] ),
        distinct_keys(Ps, [K|Seen], Map1).

test(oracle_user) :- oracle_runs(user, any, 120, 1).
test(oracle_user_ordered) :- oracle_runs(user, ordered, 120, 2).
test(oracle_domain_mode) :- oracle_runs(dom, any, 100, 3).
test(oracle_domain_mode_ordered) :- oracle_runs(dom, ordered, 100, 4).
test(oracle_delta_scan) :- oracle_runs(delta, any, 100, 5).
test(oracle_delta_scan_ordered) :- oracle_runs(delta, ordered, 100, 6).
test(oracle_bounds_mode) :- oracle_runs(bounds, any, 100, 7).
test(oracle_bounds_mode_ordered) :- oracle_runs(bounds, ordered, 100, 8).

% Every solution found by labeling is a pair of the relation, and none is
% missing.
test(every_solution) :-
        \+ ( mem(Mode, [user, dom, delta, bounds]),
             Map = [-2-(1..3), 0-{-1, 4}, 1-4, 3-(0..1)],
             findall(X-Y, ( X in -3..3, Y in -2..5, post(Mode, X, Map, Y), lab([Y, X]) ), S1),
             findall(X-Y, ( mem(X-R, Map), Y in -2..5, Y in R, lab([Y]) ), S2),
             msort(S1, T1), msort(S2, T2),
             T1 \== T2,
             writeq(Mode-T1), nl, write('   expected '), writeq(T2), nl ).

% X and Y one variable: only the pairs (V, V) of the relation remain.
test(same_variable_twice) :-
        \+ ( mem(Mode, [user, dom, delta, bounds]),
             findall(X, ( X in 0..4, post(Mode, X, [1-2, 2-1, 3-(1..3), 4-{0, 4}], X), lab([X]) ), Xs),
             Xs \== [3, 4],
             writeq(Mode-Xs), nl ).

% ---- Several tuples on one relation ----

% tuples(+Pairs, +Map, +Opt): one constraint over the pairs X-Y.
tuples(Pairs, Map, Opt) :-
        entries(Map, Entries),
        G = relation(Pairs, Map),
        tuple_terms(Pairs, G, Ts),
        length(Pairs, N),
        clpfd:fd_global_internal(relation(Pairs, Map, x), relation(Entries, Opt, Ts, N, _, 0), [], _, clpfd:G, 0).

tuple_terms([], _, []).
tuple_terms([X-Y|Ps], G, [t(X, XA, XM, Y, YA, YM)|Ts]) :-
        clpfd:arg_attribute(X, XA, G, 1), clpfd:arg_attribute(Y, YA, G, 1),
        create_mutable([[inf|sup]], XM), create_mutable([[inf|sup]], YM),
        tuple_terms(Ps, G, Ts).

% Each tuple is pruned on its own; the constraint is entailed when the
% last one is decided, and a tuple decided on an undone branch counts as
% open again.
test(several_tuples) :-
        Map = [1-(1..2), 2-(3..4), 3-5],
        domain([A, B, C, D, E, F], 0, 9),
        tuples([A-B, C-D, E-F], Map, 0),
        dom(A, 1..3), dom(B, 1..5),
        ( A = 1, C = 2, fail ; true ),
        B in 3..5, dom(A, 2..3),
        fd_statistics(entailments, _),
        F = 5, dom(E, 3),
        D = 1, dom(C, 1),
        fd_statistics(entailments, 0),
        A = 2,
        fd_statistics(entailments, 1),
        dom(B, 3..4).

test(several_tuples_every_solution) :-
        \+ ( mem(Opt, [0, 1, 2]),
             Map = [1-(1..2), 2-4, 3-(2..3)],
             findall([A, B, C, D], ( domain([A, B, C, D], 0, 4), tuples([A-B, C-D, B-C], Map, Opt), lab([A, B, C, D]) ), S1),
             findall([A, B, C, D], ( mem(A-RA, Map), mem(C-RC, Map), B in RA, D in RC, mem(B-RB, Map), C in RB,
                                     lab([B, D]) ), S2),
             msort(S1, T1), msort(S2, T2), T1 \== T2,
             writeq(Opt-T1), nl, write('   expected '), writeq(T2), nl ).

% ---- Errors ----

expect(errors, E,
       (   mem(G, [relation(_, foo, _), relation(_, _, _), relation(_, [_], _), relation(_, [a-1], _),
                   relation(_, [1-a], _), relation(_, [1-(1.. _)], _), relation(_, [1], _), relation(a, [1-1], _),
                   relation(_, [1-1], f(x)), relation(_, [1-1|_], _)]),
           catch(G, error(E, _), true)
       ),
       [type_error(list,foo), instantiation_error, instantiation_error, type_error(integer,a),
        domain_error(range,a), instantiation_error, domain_error(pair,1), type_error(integer,a),
        type_error(integer,f(x)), instantiation_error]).
