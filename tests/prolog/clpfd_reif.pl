% The reified comparisons of library(clpfd): X in S <=> B (in_set_iff/3),
% X = Y <=> B (eq_iff/3), X =< Y <=> B (le_iff/3), Z = X or Z = Y
% (oneof/3) and Y = |X| (abs/2), posted through the library's internal
% predicates.  Worked cases at the limits; every propagator against a
% brute-force oracle on random small domains (negative values, holes, inf
% and sup bounds), posted before the domains are set and after; the
% domain-consistent ones leaving exactly the supported values; every
% solution under backtracking against generate-and-test; argument errors.

:- use_module(library(clpfd)).

mem(X, [X|_]).
mem(X, [_|Xs]) :- mem(X, Xs).

dom(X, D) :- ( integer(X) -> D = X ; fd_dom(X, D) ).

% The constraints, on a list of variables (B last where there is one).
post(le, [X, Y, B]) :- clpfd:le_iff(X, Y, B).
post(eq, [X, Y, B]) :- clpfd:eq_iff(X, Y, B).
post(oneof, [X, Y, Z]) :- clpfd:oneof(X, Y, Z).
post(abs, [X, Y]) :- clpfd:abs(X, Y).
post(in(S), [X, B]) :- clpfd:in_set_iff(X, S, B).

% holds(+Op, +Values): the relation on integers.
holds(le, [X, Y, B]) :- ( X =< Y -> B =:= 1 ; B =:= 0 ).
holds(eq, [X, Y, B]) :- ( X =:= Y -> B =:= 1 ; B =:= 0 ).
holds(oneof, [X, Y, Z]) :- ( Z =:= X -> true ; Z =:= Y ).
holds(abs, [X, Y]) :- Y =:= abs(X).
holds(in(S), [X, B]) :-
        ( clpfd:is_fdset(S) -> F = S ; range_to_fdset(S, F) ),
        ( fdset_member(X, F) -> B =:= 1 ; B =:= 0 ).

% The kinds of the variables: b a 0/1 variable, v any.
kinds(le, [v, v, b]).
kinds(eq, [v, v, b]).
kinds(oneof, [v, v, v]).
kinds(abs, [v, v]).
kinds(in(_), [v, b]).

entailments(E) :- fd_statistics(entailments, E).

% posted(+Op, +Doms, -Result): fresh variables in Doms, Op posted: their
% domains and whether the posting was entailed, or fails.
posted(Op, Doms, R) :-
        doms(Vs, Doms),
        entailments(E0),
        (   post(Op, Vs) ->
            entailments(E1), doms_of(Vs, Ds),
            ( E1 > E0 -> R = Ds/entailed ; R = Ds )
        ;   R = fails
        ).

doms([], []).
doms([X|Xs], [D|Ds]) :- ( integer(D) -> X = D ; X in D ), doms(Xs, Ds).

doms_of([], []).
doms_of([X|Xs], [D|Ds]) :- dom(X, D), doms_of(Xs, Ds).

% ---- Worked cases ----

expect(le_iff_cases, C-R,
       ( mem(C-Doms, [true_bound_prunes_x-[0..10, 3..5, 1],
                    true_already_entailed-[0..3, 3..5, 1],
                    true_prunes_both-[2..9, 0..5, 1],
                    true_meeting_bounds_entailed-[0..4, 4..9, 1],
                    false_surely-[6..9, 0..5, 0],
                    false_prunes_both-[0..5, 2..9, 0],
                    false_meeting-[0..3, 3..9, 0],
                    decided_true-[0..3, 3..9, 0..1],
                    decided_false-[4..9, 0..3, 0..1],
                    undecided-[0..4, 3..9, 0..1],
                    open_bounds_true-[inf..sup, 3..5, 1],
                    open_bounds_false-[inf..sup, inf..5, 0]]),
         posted(le, Doms, R) ),
       [true_bound_prunes_x-[0..5, 3..5, 1],
        true_already_entailed-[0..3, 3..5, 1]/entailed,
        true_prunes_both-[2..5, 2..5, 1],
        true_meeting_bounds_entailed-[0..4, 4..9, 1]/entailed,
        false_surely-[6..9, 0..5, 0]/entailed,
        false_prunes_both-[3..5, 2..4, 0],
        false_meeting-fails,
        decided_true-[0..3, 3..9, 1]/entailed,
        decided_false-[4..9, 0..3, 0]/entailed,
        undecided-[0..4, 3..9, 0..1],
        open_bounds_true-[inf..5, 3..5, 1],
        open_bounds_false-[inf..sup, inf..5, 0]]).

% At the ends of the small integers: X > Y has no X when Y is the greatest
% (the bound Y+1 saturates to sup, which no value meets) and no Y when X is
% the least; the bounds that stay small integers are imposed (and Y fixed
% makes the comparison entailed).
expect(le_iff_at_the_limits, C-R,
       ( mem(C-Doms, [greater_than_greatest-[inf..sup, 268435455, 0],
                    less_than_least-[-268435456, inf..sup, 0],
                    up_to_greatest-[inf..sup, 268435455, 1],
                    above_least-[inf..sup, -268435456, 0]]),
         posted(le, Doms, R) ),
       [greater_than_greatest-fails, less_than_least-fails,
        up_to_greatest-[inf..268435455, 268435455, 1]/entailed,
        above_least-[(-268435455)..sup, -268435456, 0]/entailed]).

expect(eq_iff_cases, C-R,
       ( mem(C-Doms, [disjoint_decides_false-[0..3, 5..9, 0..1],
                    fixed_equal-[4, 4, 0..1],
                    fixed_different-[4, 5, 0..1],
                    false_removes_value-[0..5, 3, 0],
                    false_removes_value_other_side-[3, 0..5, 0],
                    false_undecided-[0..5, 3..9, 0],
                    true_fixes-[0..5, 3, 1],
                    true_single_common_value-[0..5, 5..9, 1],
                    true_no_common_value-[0..3, 5..9, 1],
                    false_of_equal_fixed-[3, 3, 0]]),
         posted(eq, Doms, R) ),
       [disjoint_decides_false-[0..3, 5..9, 0]/entailed,
        fixed_equal-[4, 4, 1]/entailed,
        fixed_different-[4, 5, 0]/entailed,
        false_removes_value-[(0..2)\/(4..5), 3, 0]/entailed,
        false_removes_value_other_side-[3, (0..2)\/(4..5), 0]/entailed,
        false_undecided-[0..5, 3..9, 0],
        true_fixes-[3, 3, 1]/entailed,
        true_single_common_value-[5, 5, 1]/entailed,
        true_no_common_value-fails,
        false_of_equal_fixed-fails]).

% B = 1 on two overlapping variables unifies them: their domains become
% one, and the posting is entailed.
expect(eq_iff_true_unifies, R,
       ( X in 0..5, Y in 3..9, entailments(E0), clpfd:eq_iff(X, Y, 1), entailments(E1),
         ( X == Y -> U = same ; U = different ), E is E1 - E0, fd_dom(X, D), R = U/D/E ),
       [same/(3..5)/1]).

expect(in_set_iff_cases, C-R,
       ( mem(C-S-Doms, [empty_set-[]-[0..9, 0..1],
                      empty_set_true-[]-[0..9, 1],
                      inside-(0..9)-[2..5, 0..1],
                      outside-(7..9)-[2..5, 0..1],
                      overlapping-(4..9)-[2..5, 0..1],
                      true_restricts-((0..2)\/{5})-[1..6, 1],
                      false_removes-((0..2)\/{5})-[1..6, 0],
                      fixed_in-{4, 8}-[8, 0..1],
                      fixed_out_but_true-{4, 8}-[5, 1],
                      as_fdset-[[1|3], [6|sup]]-[0..9, 0],
                      open_set-(inf..0)-[inf..sup, 1]]),
         posted(in(S), Doms, R) ),
       [empty_set-[0..9, 0]/entailed,
        empty_set_true-fails,
        inside-[2..5, 1]/entailed,
        outside-[2..5, 0]/entailed,
        overlapping-[2..5, 0..1],
        true_restricts-[(1..2)\/{5}, 1]/entailed,
        false_removes-[(3..4)\/{6}, 0]/entailed,
        fixed_in-[8, 1]/entailed,
        fixed_out_but_true-fails,
        as_fdset-[{0}\/(4..5), 0]/entailed,
        open_set-[inf..0, 1]/entailed]).

expect(oneof_cases, C-R,
       ( mem(C-Doms, [all_fixed_equal_not_entailed-[3, 3, 3],
                    z_from_union-[0..2, 7..8, inf..sup],
                    z_disjoint_from_x-[0..2, 5..9, 6..20],
                    z_disjoint_from_both-[0..2, 5..6, 3..4],
                    two_fixed_entailed-[1, 4, 0..9],
                    z_inside_union-[0..9, 0..9, 3..4]]),
         posted(oneof, Doms, R) ),
       [all_fixed_equal_not_entailed-[3, 3, 3],
        z_from_union-[0..2, 7..8, (0..2)\/(7..8)],
        z_disjoint_from_x-[0..2, 6..9, 6..9]/entailed,
        z_disjoint_from_both-fails,
        two_fixed_entailed-[1, 4, {1}\/{4}]/entailed,
        z_inside_union-[0..9, 0..9, 3..4]]).

% abs: the first run prunes Y from X's values as found at entry, then the
% propagation loop runs it again (it is rescheduled by its own prunings).
expect(abs_cases, C-R,
       ( mem(C-Doms, [y_unbounded-[-3..2, inf..sup],
                    x_negative_y_too_small-[-5.. -4, 0..3],
                    x_nonnegative_unifies-[0..9, 3..20],
                    x_holes-[{-7, -2, 3, 6}, 0..6],
                    y_negative_part-[-4..4, -9..2],
                    x_unbounded-[inf..sup, {2, 5}],
                    x_open_below-[inf.. -3, 0..sup],
                    fixed-[-6, inf..sup]]),
         posted(abs, Doms, R) ),
       [y_unbounded-[-3..2, 0..3],
        x_negative_y_too_small-fails,
        x_nonnegative_unifies-[3..9, 3..9]/entailed,
        x_holes-[{-2}\/{3}\/{6}, (2..3)\/{6}],
        y_negative_part-[-2..2, 0..2],
        x_unbounded-[{-5}\/{-2}\/{2}\/{5}, {2}\/{5}],
        x_open_below-[inf.. -3, 3..sup],
        fixed-[-6, 6]/entailed]).

% ---- Later changes wake the constraints ----

% eq_iff's daemons: B decided when the domains become disjoint or both
% values are known; once B is known, a fixed side prunes the other.
expect(eq_iff_wakes, C-R,
       ( mem(C-G, [disjoint_later-(clpfd:eq_iff(X, Y, B), X in 0..9, Y in 0..9, X #< 3, Y #> 5, R0 = B),
                 both_fixed_later-(clpfd:eq_iff(X, Y, B), X in 0..9, Y in 0..9, X = 4, Y = 4, R0 = B),
                 b_false_then_x_fixed-(clpfd:eq_iff(X, Y, B), Y in 0..5, B = 0, X = 2, fd_dom(Y, R0)),
                 b_false_then_y_fixed-(X in 0..5, clpfd:eq_iff(X, Y, B), B = 0, Y = 2, fd_dom(X, R0)),
                 b_true_later-(X in 0..5, Y in 3..9, clpfd:eq_iff(X, Y, B), B = 1,
                               ( X == Y -> fd_dom(X, R0) ; R0 = not_unified )),
                 b_true_then_x_fixed-(clpfd:eq_iff(X, Y, 0), Y in 0..5, X = 2, fd_dom(Y, R0))]),
         ( call(G) -> R = R0 ; R = fails ) ),
       [disjoint_later-0, both_fixed_later-1, b_false_then_x_fixed-((0..1)\/(3..5)),
        b_false_then_y_fixed-((0..1)\/(3..5)), b_true_later-(3..5),
        b_true_then_x_fixed-((0..1)\/(3..5))]).

% ---- Against a brute-force oracle ----

next(S0, S) :- S is (S0 * 1103515245 + 12345) mod 2147483648.
pick(S0, N, V, S) :- next(S0, S), V is (S >> 8) mod N.

% Random domains: an interval within -7..7, sometimes with a hole,
% sometimes open to inf or sup; for 0/1 variables 0..1, 0 or 1.
random_dom(v, S0, D, S) :-
        pick(S0, 15, A, S1), pick(S1, 15, B, S2), pick(S2, 10, K, S3), pick(S3, 15, H, S),
        Lo is min(A, B) - 7, Hi is max(A, B) - 7,
        (   K =:= 0 -> D = inf..Hi
        ;   K =:= 1 -> D = Lo..sup
        ;   K =:= 2 -> D = Lo
        ;   K =< 5, Hole is H - 7, Hole > Lo, Hole < Hi -> D = (Lo..Hi) /\ \ {Hole}
        ;   D = Lo..Hi
        ).
random_dom(b, S0, D, S) :-
        pick(S0, 4, K, S),
        ( K =:= 0 -> D = 0 ; K =:= 1 -> D = 1 ; D = 0..1 ).

random_doms([], S, [], S).
random_doms([K|Ks], S0, [D|Ds], S) :- random_dom(K, S0, D, S1), random_doms(Ks, S1, Ds, S).

random_set(S0, Set, S) :-
        pick(S0, 7, K, S),
        nth0(K, [[], 0..3, {-5, 0, 5}, inf..0, 2..sup, (-3..3) \/ (6..8), -6.. -6], Set).

nth0(0, [X|_], X) :- !.
nth0(N, [_|Xs], X) :- N1 is N - 1, nth0(N1, Xs, X).

% The values of a variable within -9..9 (the oracle's window).
window_values(X, Vs) :-
        (   integer(X) -> Vs = [X]
        ;   fd_set(X, S), fdset_intersection(S, [[-9|9]], W), fdset_to_list(W, Vs)
        ).

in_domain(V, X) :- ( integer(X) -> V =:= X ; fd_set(X, S), fdset_member(V, S) ).

values([], []).
values([X|Xs], [V|Vs]) :- window_values(X, Ws), mem(V, Ws), values(Xs, Vs).

all_in([], []).
all_in([V|Vs], [X|Xs]) :- in_domain(V, X), all_in(Vs, Xs).

all_integers([]).
all_integers([X|Xs]) :- integer(X), all_integers(Xs).

% oracle(+Op, +Doms, +When): the solutions within the window of Op on
% variables in Doms all survive; a posting that fails has none; fixed
% variables form a solution.  When is before (the domains set, then Op
% posted) or after (Op posted on fresh variables, then the domains set one
% by one: the wake-ups do the work).
oracle(Op, Doms, When) :-
        length(Doms, N), length(Vs, N),
        copy_term(Vs, Ws), doms(Ws, Doms),
        findall(Sol, ( values(Ws, Sol), holds(Op, Sol) ), Sols),
        (   constrained(When, Op, Vs, Doms)
        ->  (   mem(Sol, Sols), \+ all_in(Sol, Vs)
            ->  report(Op, Doms, When, lost(Sol))
            ;   all_integers(Vs), \+ holds(Op, Vs)
            ->  report(Op, Doms, When, entailed_wrongly(Vs))
            ;   true
            )
        ;   Sols == [] -> true
        ;   Sols = [Sol|_], report(Op, Doms, When, failed_with(Sol))
        ).

constrained(before, Op, Vs, Doms) :- doms(Vs, Doms), post(Op, Vs).
constrained(after, Op, Vs, Doms) :- post(Op, Vs), doms(Vs, Doms).

report(Op, Doms, When, What) :- writeq(Op-Doms-When-What), nl, fail.

oracle_runs(_, 0, _) :- !.
oracle_runs(Op0, N, S0) :-
        (   Op0 == in -> random_set(S0, Set, S1), Op = in(Set) ; Op = Op0, S1 = S0 ),
        kinds(Op, Ks),
        random_doms(Ks, S1, Doms, S2),
        oracle(Op, Doms, before),
        oracle(Op, Doms, after),
        N1 is N - 1,
        oracle_runs(Op0, N1, S2).

test(oracle_le_iff) :- oracle_runs(le, 120, 1).
test(oracle_eq_iff) :- oracle_runs(eq, 120, 2).
test(oracle_oneof) :- oracle_runs(oneof, 120, 3).
test(oracle_abs) :- oracle_runs(abs, 120, 4).
test(oracle_in_set_iff) :- oracle_runs(in, 120, 5).

% ---- Domain consistency ----

% in_set_iff and abs leave exactly the values that are part of a solution
% (finite domains, so that every value is in the window).
exact(Op, Doms) :-
        length(Doms, N), length(Vs, N),
        copy_term(Vs, Ws), doms(Ws, Doms),
        findall(Sol, ( values(Ws, Sol), holds(Op, Sol) ), Sols),
        (   doms(Vs, Doms), post(Op, Vs)
        ->  (   nth_var(I, Vs, X), window_values(X, Left),
                findall(V, ( mem(Sol, Sols), nth_var(I, Sol, V) ), Vals0),
                sort(Vals0, Vals), Left \== Vals
            ->  report(Op, Doms, exact, var(I, left(Left), supported(Vals)))
            ;   true
            )
        ;   Sols == [] -> true
        ;   report(Op, Doms, exact, failed)
        ).

nth_var(1, [X|_], X).
nth_var(I, [_|Xs], X) :- nth_var(I0, Xs, X), I is I0 + 1.

finite(D) :- \+ ( D = inf.._ ; D = _..sup ).

exact_runs(_, 0, _) :- !.
exact_runs(Op0, N, S0) :-
        (   Op0 == in -> random_set(S0, Set, S1), Op = in(Set) ; Op = Op0, S1 = S0 ),
        kinds(Op, Ks),
        random_doms(Ks, S1, Doms, S2),
        (   Doms = [DX|_], finite(DX) -> exact(Op, Doms) ; true ),
        N1 is N - 1,
        exact_runs(Op0, N1, S2).

test(abs_domain_consistent) :- exact_runs(abs, 120, 6).
test(in_set_iff_domain_consistent) :- exact_runs(in, 120, 7).

% ---- Under backtracking ----

lab([]).
lab([X|Xs]) :- fd_set(X, S), fdset_to_list(S, Vs), mem(X, Vs), lab(Xs).

% Every solution found by labeling after posting is one that
% generate-and-test finds, and none is missing.
agree(Op, Doms) :-
        length(Doms, N), length(Vs, N), copy_term(Vs, Ws),
        findall(Vs, ( doms(Vs, Doms), post(Op, Vs), lab(Vs) ), S1),
        findall(Ws, ( doms(Ws, Doms), lab(Ws), holds(Op, Ws) ), S2),
        (   S1 == S2 -> true
        ;   report(Op, Doms, agree, S1), write('   expected '), writeq(S2), nl, fail
        ).

test(every_solution_under_backtracking) :-
        \+ ( mem(Op-Doms,
                 [le-[-4..4, -3..5, 0..1], le-[{-3, 0, 4}, -2..2, 0..1],
                  eq-[-4..4, -3..5, 0..1], eq-[{-3, 0, 4}, {0, 4, 7}, 0..1],
                  oneof-[-2..2, 0..3, -3..4], oneof-[{-3, 3}, {0, 5}, -4..6],
                  abs-[-5..5, -3..6], abs-[{-4, -1, 2, 3}, -2..4],
                  in((-2..0) \/ {3})-[-4..4, 0..1], in([])-[-2..2, 0..1]]),
             \+ agree(Op, Doms)
           ).

% Several constraints sharing variables, labeled in an order that makes
% the daemons and suspensions see each change: the solutions are those of
% the relations checked after labeling.
test(combined_under_backtracking) :-
        Vs = [X, Y, Z, B1, B2, W],
        findall(Vs, ( X in -2..2, Y in -2..2, Z in 0..2, B1 in 0..1, B2 in 0..1, W in 0..1,
                      clpfd:eq_iff(X, Y, B1), clpfd:le_iff(Y, Z, B2), clpfd:oneof(B1, B2, W),
                      clpfd:abs(X, Z), lab([W, B2, B1, Z, Y, X]) ), S1),
        findall(Vs, ( X in -2..2, Y in -2..2, Z in 0..2, B1 in 0..1, B2 in 0..1, W in 0..1,
                      lab([W, B2, B1, Z, Y, X]),
                      holds(eq, [X, Y, B1]), holds(le, [Y, Z, B2]), holds(oneof, [B1, B2, W]),
                      holds(abs, [X, Z]) ), S2),
        (   S1 == S2 -> true
        ;   writeq(S1), nl, write('   expected '), writeq(S2), nl, fail
        ).

% ---- Argument errors ----

expect(argument_errors, C-R,
       ( mem(C-G, [b_two-eq_iff(_, _, 2),
                 b_atom-le_iff(_, _, a),
                 b_negative-in_set_iff(_, 1..3, -1),
                 x_atom-le_iff(a, _, _),
                 y_float-eq_iff(_, 1.5, _),
                 z_atom-oneof(_, _, z),
                 abs_atom-abs(_, f(x)),
                 set_unbound-in_set_iff(_, _, _),
                 set_not_a_range-in_set_iff(_, foo, _)]),
         catch(( call(clpfd:G) -> R = succeeds ; R = fails ), error(E, _), R = E) ),
       [b_two-domain_error(boolean, 2),
        b_atom-type_error(integer, a),
        b_negative-domain_error(boolean, -1),
        x_atom-type_error(integer, a),
        y_float-type_error(integer, 1.5),
        z_atom-type_error(integer, z),
        abs_atom-type_error(integer, f(x)),
        set_unbound-instantiation_error,
        set_not_a_range-domain_error(range, foo)]).

% A 0/1 argument that is a domain variable is kept to 0..1.
expect(boolean_variable_kept_to_0_1, C-R,
       ( mem(C-D, [wider-(0..5), only_one-(1..9), none-(2..9)]),
         B in D, ( clpfd:eq_iff(_, _, B) -> dom(B, R) ; R = fails ) ),
       [wider-(0..1), only_one-1, none-fails]).
