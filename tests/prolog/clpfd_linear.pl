% Linear constraints (library(clpfd): scalar_product/4,5, sum/3): pruning
% at posting, divisibility on equations, the variable-pair rewrite, the
% multi-word variant (infinite bounds, products and right-hand sides
% beyond 32 bits, overflow), argument errors; random instances against
% enumeration (nothing of a solution lost, bounds as tight as the
% propagator promises); the same domains after changes and backtracking
% as from a fresh posting.

:- use_module(library(clpfd)).

% dom(?X, -D): X's domain as a range, an integer itself.
dom(X, D) :- ( integer(X) -> D = X ; fd_dom(X, D) ).

doms([], []).
doms([X|Xs], [D|Ds]) :- dom(X, D), doms(Xs, Ds).

mem(X, [X|_]).
mem(X, [_|Xs]) :- mem(X, Xs).

% post(+Case, -Result): Case is Vars-Domains-Goal; the variables' domains
% after posting, or fails.
post(Vars-Domains-Goal, R) :-
        (   set_domains(Vars, Domains), call(Goal) -> doms(Vars, R)
        ;   R = fails
        ).

set_domains([], []).
set_domains([X|Xs], [D|Ds]) :- X in D, set_domains(Xs, Ds).

% ---- Pruning at posting (expected domains worked out by hand) ----

expect(pruning_at_posting, Name-R,
       (   mem(Name-Case, [
               % both sides pruned by the slack of the other
               le_both-([X,Y]-[0..10,0..10]-scalar_product([1,1],[X,Y],#=<,5)),
               le_one_raised-([X,Y]-[3..10,0..10]-scalar_product([1,1],[X,Y],#=<,5)),
               % >= raises the minimum of a positive term, lowers a negative one's maximum
               ge_mixed_signs-([X,Y]-[0..10,0..10]-scalar_product([1,-2],[X,Y],#>=,4)),
               % #< and #> shift the right-hand side
               lt_strict-([X,Y]-[0..10,0..10]-scalar_product([2,3],[X,Y],#<,6)),
               gt_strict-([X]-[0..10]-scalar_product([3],[X],#>,20)),
               % equation: a value pushed from both sides
               eq_bounds-([X,Y]-[0..10,0..4]-scalar_product([1,2],[X,Y],#=,14)),
               % a hole at the new bound moves it further
               eq_hole_at_bound-([X,Y]-[{0,1,2,5,6},0..3]-scalar_product([1,1],[X,Y],#=,9)),
               % negative coefficients on both sides of the sum
               eq_negative-([X,Y,Z]-[-5..5,-5..5,-5..5]-scalar_product([-2,-3,1],[X,Y,Z],#=,20)),
               % Value a variable
               value_variable-([X,Y,V]-[0..3,0..3,0..100]-scalar_product([1,1],[X,Y],#=,V)),
               sum_le-([X,Y,Z]-[0..9,0..9,0..9]-sum([X,Y,Z],#=<,2)),
               % integers in the list and a repeated variable are folded
               folded_terms-([X,Y]-[0..20,0..20]-scalar_product([1,3,2,-1],[X,2,X,Y],#=,6)),
               repeated_cancels-([X,Y]-[0..5,0..5]-scalar_product([1,1,-1],[X,Y,X],#=<,2)),
               infeasible_le-([X,Y]-[4..10,4..10]-scalar_product([1,1],[X,Y],#=<,7)),
               entailed_ge-([X,Y]-[4..10,4..10]-scalar_product([1,1],[X,Y],#>=,8))
           ]),
           post(Case, R)
       ),
       [le_both-[0..5,0..5], le_one_raised-[3..5,0..2], ge_mixed_signs-[4..10,0..3],
        lt_strict-[0..2,0..1], gt_strict-[7..10], eq_bounds-[6..10,2..4],
        eq_hole_at_bound-[6,3], eq_negative-[(-5..0),(-5.. -2),(-5..5)],
        value_variable-[0..3,0..3,0..6], sum_le-[0..2,0..2,0..2], folded_terms-[0..6,0..18],
        repeated_cancels-[0..5,0..2], infeasible_le-fails, entailed_ge-[4..10,4..10]]).

% ---- Divisibility on equations ----

expect(divisibility, Name-R,
       (   mem(Name-Case, [
               % gcd 2 does not divide 7
               gcd_fails-([X,Y]-[0..10,0..10]-scalar_product([2,4],[X,Y],#=,7)),
               gcd_three_terms_fails-([X,Y,Z]-[0..9,0..9,0..9]-scalar_product([3,6,-9],[X,Y,Z],#=,2)),
               % the others are even, so x is odd: bounds 0..10 become 1..9
               congruence_unit-([X,Y,Z]-[0..10,0..10,0..10]-scalar_product([1,2,2],[X,Y,Z],#=,11)),
               % a negative coefficient: -x ≡ 2 (mod 4), x in 2..14 step 4
               congruence_negative-([X,Y,Z]-[0..20,0..2,0..2]-scalar_product([-1,4,4],[X,Y,Z],#=,2)),
               % gcdall 2, gcd of the others 4: 2x ≡ 10 (mod 4), x odd
               congruence_common_factor-([X,Y,Z]-[0..10,0..10,0..10]-scalar_product([2,4,4],[X,Y,Z],#=,10)),
               % the bounds allow x in 1..3, but x ≡ 4 (mod 5)
               congruence_empty-([X,Y,Z]-[1..3,0..5,0..5]-scalar_product([1,5,5],[X,Y,Z],#=,9)),
               % \=: 2x can never be 5; 2x \= 6 removes 3
               ne_never_equal-([X]-[0..10]-scalar_product([2],[X],#\=,5)),
               ne_removes_value-([X]-[0..10]-scalar_product([2],[X],#\=,6)),
               ne_two_free-([X,Y]-[0..3,0..3]-scalar_product([1,1],[X,Y],#\=,3))
           ]),
           post(Case, R)
       ),
       [gcd_fails-fails, gcd_three_terms_fails-fails, congruence_unit-[1..9,0..5,0..5],
        congruence_negative-[2..14,0..2,0..2], congruence_common_factor-[1..5,0..2,0..2],
        congruence_empty-fails, ne_never_equal-[0..10], ne_removes_value-[(0..2)\/(4..10)],
        ne_two_free-[0..3,0..3]]).

% The congruence step keeps working as the other terms become fixed.
expect(congruence_after_fixing, R,
       (   ins_([X,Y,Z], 0..10), scalar_product([1,2,2],[X,Y,Z],#=,11),
           Y = 1, Z in 2..3, dom(X, R)
       ),
       [3..5]).

% c*x - c*y = 0 makes the variables one; c*x - c*y = 1 does not.
test(equal_pair_unified) :-
        X in 0..10, Y in 3..20,
        scalar_product([2,-2],[X,Y],#=,0),
        X == Y, fd_dom(X, 3..10).
test(unequal_pair_not_unified) :-
        X in 0..10, Y in 3..20,
        scalar_product([2,-2],[X,Y],#=,2),
        X \== Y, fd_dom(X, 4..10), fd_dom(Y, 3..9).

% ---- The multi-word variant ----

expect(multi_word, Name-R,
       (   mem(Name-Case, [
               % the infinite term is the widest and is narrowed first
               infinite_bound-([X,Y]-[0..10,0..sup]-scalar_product([1,-1],[X,Y],#>=,0)),
               infinite_both-([X,Y]-[inf..sup,inf..5]-scalar_product([1,-1],[X,Y],#=,3)),
               % products beyond 32 bits
               big_products-([X,Y]-[0..100000000,0..100000000]
                             -scalar_product([134217727,-134217727],[X,Y],#=,134217727)),
               % near the small-integer limits (single-word, then multi-word)
               near_limit_single-([X,Y]-[-268435456..268435455,-268435456..268435455]
                                  -scalar_product([1,1],[X,Y],#=<,-400000000)),
               near_limit_multi-([X,Y]-[-268435456..268435455,-268435456..268435455]
                                 -scalar_product([2,2],[X,Y],#=<,-400000000)),
               % a right-hand side of 2^40
               rhs_2_40-([X,Y]-[0..2097152,0..10]
                         -scalar_product([1048576,1],[X,Y],#=,1099511627781))
           ]),
           post(Case, R)
       ),
       [infinite_bound-[0..10,0..10], infinite_both-[(inf..8),(inf..5)],
        big_products-[1..100000000,0..99999999],
        near_limit_single-[(-268435456.. -131564544),(-268435456.. -131564544)],
        near_limit_multi-[(-268435456..68435456),(-268435456..68435456)],
        rhs_2_40-[1048576,5]]).

% A residual right-hand side of 2^40 + 3 is written back as a two-digit
% integer and read again when later changes rebuild the sums: the value
% 2^20 of X is then removed.
expect(rhs_written_back, R,
       (   X in 0..2097152, Y in 0..10, Z in 0..10,
           scalar_product([1048576,1,1],[X,Y,Z],#\=,1099511627781),
           Y = 2, Z = 3, dom(X, R)
       ),
       [(0..1048575)\/(1048577..2097152)]).

% A bound beyond the small integers on the constraining side.
expect(overflow_is_reported, R,
       (   X in 0..10, Y in inf..sup,
           catch(( scalar_product([1,1],[X,Y],#=,300000000) -> R = ok ; R = failed ),
                 error(E, _), R = E)
       ),
       [representation_error(max_fd_integer)]).

% ---- Argument errors ----

expect(argument_errors, R,
       (   mem(G, [scalar_product(_, [X], #=, 1), scalar_product([1,a], [X,Y], #=, 1),
                   scalar_product([1], [a], #=, 1), scalar_product([1,2], [X], #=, 1),
                   scalar_product([1], [X], _, 1), scalar_product([1], [X], #==, 1),
                   scalar_product([1], [X], #=, a), scalar_product([1], [X], #=, 1, [bad]),
                   scalar_product([1], [X], #=, 1, [consistency(bounds)|_]),
                   sum(_, #=, 1), sum([X,f(Y)], #=, 1)]),
           catch(( call(G) -> R = succeeded ; R = failed ), error(E, _), error_kind(E, R))
       ),
       [instantiation, type(integer), type(integer), domain, instantiation, domain,
        type(integer), domain, instantiation, instantiation, type(integer)]).

error_kind(instantiation_error, instantiation).
error_kind(type_error(T, _), type(T)).
error_kind(domain_error(_, _), domain).

test(consistency_option_accepted) :-
        X in 0..9, Y in 0..9,
        scalar_product([1,1], [X,Y], #=<, 3, [consistency(domain)]),
        fd_dom(X, 0..3).

% ---- Random instances against enumeration ----

% A linear congruential generator: deterministic across runs.
rand(S0, S, N, V) :- S is (S0 * 1103515245 + 12345) mod 2147483648, V is (S >> 8) mod N.

% random_case(+S0, -S, -Case): up to three variables with domains inside
% -4..4 (an interval, sometimes with a hole), coefficients in -3..3 but 0,
% a relation and a right-hand side.
random_case(S0, S, case(Cs, Doms, Rel, Rhs)) :-
        rand(S0, S1, 3, N0), N is N0 + 1,
        random_terms(N, S1, S2, Cs, Doms),
        rand(S2, S3, 4, RI), nth0(RI, [#=<, #>=, #=, #\=], Rel),
        rand(S3, S, 13, R0), Rhs is R0 - 6.

random_terms(0, S, S, [], []) :- !.
random_terms(N, S0, S, [C|Cs], [D|Ds]) :-
        rand(S0, S1, 6, C0), ( C0 < 3 -> C is C0 - 3 ; C is C0 - 2 ),
        rand(S1, S2, 7, L0), rand(S2, S3, 6, W), Lo is L0 - 4, Hi is min(4, Lo + W + 1),
        rand(S3, S4, 3, H),
        (   H =:= 0, Hi - Lo >= 2 -> After is Lo + 2, D = (Lo..Lo) \/ (After..Hi)
        ;   D = Lo..Hi
        ),
        N1 is N - 1,
        random_terms(N1, S4, S, Cs, Ds).

scaled([], []).
scaled([C|Cs], [K|Ks]) :- K is C * 33554432, scaled(Cs, Ks).

nth0(0, [X|_], X) :- !.
nth0(I, [_|Xs], X) :- I1 is I - 1, nth0(I1, Xs, X).

% The solutions by enumeration of the domains.
solutions(case(Cs, Doms, Rel, Rhs), Sols) :-
        length(Doms, N), length(Vs, N),
        findall(Vs, ( values(Vs, Doms), weighted(Cs, Vs, 0, S), holds(Rel, S, Rhs) ), Sols).

values([], []).
values([V|Vs], [D|Ds]) :- X in D, fd_set(X, Set), fdset_to_list(Set, L), mem(V, L), values(Vs, Ds).

weighted([], [], S, S).
weighted([C|Cs], [V|Vs], S0, S) :- S1 is S0 + C * V, weighted(Cs, Vs, S1, S).

holds(#=<, S, R) :- S =< R.
holds(#>=, S, R) :- S >= R.
holds(#=, S, R) :- S =:= R.
holds(#\=, S, R) :- S =\= R.

% check_case(+Case): posted, the constraint fails only without solutions,
% keeps every value of every solution, and (=<, >=, and = over unit
% coefficients and intervals) its new bounds are values of solutions; an
% equation's bounds are a fixpoint of the slack rule; one variable under
% \= keeps exactly the solutions.
check_case(Case) :-
        Case = case(Cs, Doms, Rel, Rhs),
        solutions(Case, Sols),
        length(Doms, N), length(Xs, N),
        (   \+ ( set_domains(Xs, Doms), scalar_product(Cs, Xs, Rel, Rhs) ) ->
            Sols == []
        ;   \+ \+ ( set_domains(Xs, Doms), scalar_product(Cs, Xs, Rel, Rhs),
                    all_kept(Sols, Xs), tight(Case, Xs, Sols) )
        ),
        !.
check_case(Case) :-
        writeq(failed_case(Case)), nl, fail.

all_kept([], _).
all_kept([S|Ss], Xs) :- kept(S, Xs), all_kept(Ss, Xs).

kept([], []).
kept([V|Vs], [X|Xs]) :- ( integer(X) -> X =:= V ; fd_set(X, Set), fdset_member(V, Set) ), kept(Vs, Xs).

tight(case(_, _, Rel, _), Xs, Sols) :-
        ( Rel == #=< ; Rel == #>= ), !,
        supported_bounds(Xs, 1, Sols).
tight(case(Cs, Doms, #=, _), Xs, Sols) :-
        all_units(Cs), all_intervals(Doms), !,
        supported_bounds(Xs, 1, Sols).
tight(case(Cs, _, #=, Rhs), Xs, _) :- !,
        slack_fixpoint(Cs, Xs, Rhs).
tight(case([_], _, #\=, _), [X], Sols) :- !,
        findall(V, mem([V], Sols), Vs),
        ( integer(X) -> Vs == [X] ; fd_set(X, Set), fdset_to_list(Set, Vs) ).
tight(_, _, _).

all_units([]).
all_units([C|Cs]) :- abs(C) =:= 1, all_units(Cs).

all_intervals([]).
all_intervals([_.._|Ds]) :- all_intervals(Ds).

% Each variable's least and greatest value occurs in some solution.
supported_bounds([], _, _).
supported_bounds([X|Xs], I, Sols) :-
        fd_min(X, Min), fd_max(X, Max),
        once(( mem(S, Sols), nth1(I, S, Min) )),
        once(( mem(S2, Sols), nth1(I, S2, Max) )),
        I1 is I + 1,
        supported_bounds(Xs, I1, Sols).

nth1(1, [X|_], X) :- !.
nth1(I, [_|Xs], X) :- I1 is I - 1, nth1(I1, Xs, X).

% No term's range exceeds either slack.
slack_fixpoint(Cs, Xs, Rhs) :-
        ranges(Cs, Xs, Ranges),
        sum_lows(Ranges, 0, Lo), sum_highs(Ranges, 0, Hi),
        F is Rhs - Lo, E is Hi - Rhs,
        \+ ( mem(L-H, Ranges), W is H - L, ( W > F ; W > E ) ).

ranges([], [], []).
ranges([C|Cs], [X|Xs], [L-H|Rs]) :-
        fd_min(X, Min), fd_max(X, Max),
        A is C * Min, B is C * Max, L is min(A, B), H is max(A, B),
        ranges(Cs, Xs, Rs).

sum_lows([], S, S).
sum_lows([L-_|Rs], S0, S) :- S1 is S0 + L, sum_lows(Rs, S1, S).
sum_highs([], S, S).
sum_highs([_-H|Rs], S0, S) :- S1 is S0 + H, sum_highs(Rs, S1, S).

% Each case also scaled by 2^25: the same solutions, but products and
% slacks beyond what the single-word variant may hold.
check_random(0, _) :- !.
check_random(K, S0) :-
        random_case(S0, S, Case),
        check_case(Case),
        Case = case(Cs, Doms, Rel, Rhs),
        scaled(Cs, Scaled), BigRhs is Rhs * 33554432,
        check_case(case(Scaled, Doms, Rel, BigRhs)),
        K1 is K - 1,
        check_random(K1, S).

test(random_instances_against_enumeration) :- check_random(300, 4711).

% ---- Changes and backtracking against fresh postings ----

% For every subset of Steps (restrictions Index-Range, applied in order
% after posting, each undone by backtracking before the next subset), the
% domains equal those of a fresh posting on the restricted domains.
incremental_agrees(Cs, Doms, Rel, Rhs, Steps) :-
        length(Doms, N), length(Xs, N),
        findall(Sub-R,
                (   set_domains(Xs, Doms), scalar_product(Cs, Xs, Rel, Rhs),
                    apply_some(Steps, Xs, Sub), result(Xs, R)
                ),
                Incremental),
        findall(Sub-R,
                (   subset_of(Steps, Sub), length(Ys, N),
                    set_domains(Ys, Doms), apply_all(Sub, Ys),
                    ( scalar_product(Cs, Ys, Rel, Rhs) -> result(Ys, R) ; fail )
                ),
                Fresh0),
        sort(Incremental, I1), sort(Fresh0, F1),
        (   I1 == F1 -> true
        ;   writeq(incremental(I1)), nl, writeq(fresh(F1)), nl, fail
        ).

result(Xs, R) :- doms(Xs, R).

apply_some([], _, []).
apply_some([S|Ss], Xs, Sub) :-
        (   apply_step(S, Xs), Sub = [S|Sub1]
        ;   Sub = Sub1
        ),
        apply_some(Ss, Xs, Sub1).

subset_of([], []).
subset_of([S|Ss], Sub) :- ( Sub = [S|Sub1] ; Sub = Sub1 ), subset_of(Ss, Sub1).

apply_all([], _).
apply_all([S|Ss], Xs) :- apply_step(S, Xs), apply_all(Ss, Xs).

apply_step(I-Range, Xs) :- nth1(I, Xs, X), X in Range.

test(incremental_le) :-
        incremental_agrees([2,3,-1], [0..10,0..10,0..10], #=<, 12,
                           [3-(0..4), 1-(2..10), 2-(1..1), 3-(0..2)]).
test(incremental_eq) :-
        incremental_agrees([1,2,2], [0..20,0..10,0..10], #=, 21,
                           [2-(3..10), 1-(0..12), 3-(0..3), 2-(3..4)]).
test(incremental_eq_units) :-
        incremental_agrees([1,1,-1,1], [0..9,0..9,0..9,0..9], #=, 7,
                           [1-(4..9), 3-(0..2), 2-(1..5), 4-(2..2)]).
test(incremental_ne) :-
        incremental_agrees([3,3], [0..5,0..5], #\=, 9,
                           [1-(1..2), 2-(1..1), 1-(2..2)]).
test(incremental_multi_word) :-
        incremental_agrees([1,-1,100000], [0..10,0..sup,0..3], #>=, 5,
                           [2-(3..sup), 1-(0..7), 3-(0..0), 2-(0..4)]).
% Bounds beyond the small integers that need no pruning (their new
% bounds lie beyond the small integers too), then changes that bring
% them into reach.
test(incremental_infinite_bounds) :-
        incremental_agrees([1,1,100000000], [0..sup,0..sup,0..10], #=<, 1000000000,
                           [1-(5..sup), 2-(20000000..sup), 3-(8..10)]).
expect(infinite_bounds_come_into_reach, R,
       (   X in 0..sup, Y in 0..sup, Z in 0..10,
           scalar_product([1,1,100000000], [X,Y,Z], #=<, 1000000000),
           X in 5..sup, Y in 20000000..sup, doms([X,Y,Z], R1),
           Z in 8..10, doms([X,Y,Z], R2), R = R1/R2
       ),
       [[5..sup,20000000..sup,0..9]/[5..180000000,20000000..199999995,8..9]]).

% Under labeling: every solution and no other.
test(labeling_agrees_with_enumeration) :-
        Case = case([3,-2,1], [0..4,0..4,0..4], #=, 2),
        solutions(Case, Sols),
        findall([X,Y,Z], ( ins_([X,Y,Z], 0..4), scalar_product([3,-2,1],[X,Y,Z],#=,2),
                           labeling([], [X,Y,Z]) ), Found),
        Found == Sols.

% X ins_ D for a list (the library has domain/3 for intervals).
ins_([], _).
ins_([X|Xs], D) :- X in D, ins_(Xs, D).
