% ac_linear/3 (library(clpfd)): the domain-consistent linear equation.
% Worked cases (values that bounds reasoning keeps and this constraint
% must drop), entailment, fixed terms, integers and repeated variables in
% the list, argument errors and overflow; random equations with mixed
% coefficients (negative, non-unit) against a brute-force oracle that
% demands exactly the supported values, at posting, after incremental
% changes and again after backtracking over them (the failed-sums memo
% must come back with the domains); every solution under labeling.

:- use_module(library(clpfd)).

mem(X, [X|_]).
mem(X, [_|Xs]) :- mem(X, Xs).

nth(1, [X|_], X) :- !.
nth(N, [_|Xs], X) :- N > 1, N1 is N - 1, nth(N1, Xs, X).

% nth0(+I, +List, -X): X is element I, counting from 0.
nth0(I, Xs, X) :- N is I + 1, nth(N, Xs, X).

dom(X, D) :- ( integer(X) -> D = X ; fd_dom(X, D) ).

values(X, Vs) :- ( integer(X) -> Vs = [X] ; fd_set(X, S), fdset_to_list(S, Vs) ).

doms(Xs, Ds) :- findall(D, ( mem(X, Xs), dom(X, D) ), Ds).

entailments(N) :- fd_statistics(entailments, N).

% ---- Worked cases ----

% Each case: Doms, Coeffs, Rhs; the result is the domains after posting
% and whether the constraint was entailed (stays/entailed), or fails.
expect(worked_cases, Name-R,
       (   mem(Name-(Ds-Cs-Rhs),
               [% both forced to 2, entailed
                unit_forced-([0..2, 0..2]-[1,1]-4),
                % bounds alone keep 0..2 and 0..2; only 2x+3y=7 at (2,1)
                only_solution-([0..5, 0..5]-[2,3]-7),
                % holes: x+y=6 over {0,2,4,6}: y keeps the same values
                holes-([{0,2,4,6}, {0,1,2,3,4,5,6}]-[1,1]-6),
                % x-2y=1: x odd within 1..9, y within 0..4
                negative_non_unit-([0..9, 0..4]-[1,-2]-1),
                % 3x+3y=4 has no integer solution
                no_solution-([0..9, 0..9]-[3,3]-4),
                % 2x+4y+6z=31: odd right-hand side, even sum
                parity-([0..9, 0..9, 0..9]-[2,4,6]-31),
                % three terms, the middle forced to an extreme of its bounds
                forced_middle-([0..3, 0..3, 5..9]-[1,-1,1]-12),
                % the last value of a sum reached only through a hole
                through_hole-([{1,5}, {0,3}, 0..1]-[2,-1,3]-7),
                % a fixed variable in the list only shifts the sum
                one_left-([0..9, {4}, 0..9]-[1,1,-1]-13)]),
           length(Ds, N), length(Xs, N),
           doms_in(Xs, Ds),
           entailments(_),
           (   ac_linear(Cs, Xs, Rhs)
           ->  doms(Xs, Out), entailments(E), ( E =:= 0 -> K = stays ; K = entailed ), R = Out/K
           ;   R = fails
           )
       ),
       [unit_forced-([2,2]/entailed),
        only_solution-([2,1]/entailed),
        holes-([{0}\/{2}\/{4}\/{6}, {0}\/{2}\/{4}\/{6}]/stays),
        negative_non_unit-([{1}\/{3}\/{5}\/{7}\/{9}, 0..4]/stays),
        no_solution-fails,
        parity-fails,
        forced_middle-([3,0,9]/entailed),
        through_hole-([5, 3, 0]/entailed),
        one_left-([9,4,0]/entailed)]).

doms_in([], []).
doms_in([X|Xs], [D|Ds]) :- X in D, doms_in(Xs, Ds).

% Integers in the list are a shift of the right-hand side; an equation of
% integers only holds or fails; a repeated variable counts once with the
% sum of its coefficients (x + 2x = 6 forces x = 2).
expect(fixed_terms, R,
       (   mem(G-Xs, [ac_linear([3,1,2], [2,X1,Y1], 10)-[X1,Y1],
                      ac_linear([1,1], [3,4], 7)-[],
                      ac_linear([1,1], [3,4], 8)-[],
                      ac_linear([], [], 0)-[],
                      ac_linear([1,2,5], [X2,X2,Y2], 11)-[X2,Y2]]),
           domain_of(Xs),
           (   call(G) -> doms(Xs, R) ; R = fails )
       ),
       [[{0}\/{2}\/{4}, 0..2], [], fails, [], [2, 1]]).

domain_of(Xs) :- ( Xs == [] -> true ; domain(Xs, 0, 5) ).

% Fixed later: the constraint stays with two unfixed variables, is
% entailed (and right) once one is left, and fails on a wrong value.
test(entailed_when_one_variable_is_left) :-
        domain([X, Y, Z], 0, 5),
        ac_linear([1,2,-1], [X,Y,Z], 4),
        entailments(_),
        X = 1,
        entailments(0),
        fd_dom(Y, 2..4), fd_dom(Z, {1}\/{3}\/{5}),
        Y = 3,
        entailments(1),
        Z == 3.
test(fixing_one_forces_the_other) :-
        domain([X, Y], 0, 5),
        ac_linear([2,3], [X,Y], 12),
        fd_dom(X, {0}\/{3}), fd_dom(Y, {2}\/{4}),
        findall(X-Y, mem(X, [0, 3]), Rs),
        Rs == [0-4, 3-2].

% ---- Argument errors and overflow ----

expect(argument_errors, R,
       (   mem(G, [ac_linear(foo, [X], 1), ac_linear([a], [X], 1), ac_linear([_], [X], 1),
                   ac_linear([1], [a], 1), ac_linear([1], foo, 1), ac_linear([1,2], [X], 1),
                   ac_linear([1], [X], _), ac_linear([1], [X], a), ac_linear([1], [_], 1),
                   ac_linear([1], [Y], 1), ac_linear([268435456], [X], 0),
                   ac_linear([1], [X], 268435456)]),
           X in 0..9, Y in 0..sup,
           catch(( call(G) -> R = succeeded ; R = failed ), error(E, _), error_kind(E, R))
       ),
       [type(list), type(integer), instantiation, type(integer), type(list), domain,
        instantiation, type(integer), instantiation, instantiation, representation, representation]).

error_kind(instantiation_error, instantiation).
error_kind(type_error(T, _), type(T)).
error_kind(domain_error(_, _), domain).
error_kind(representation_error(_), representation).

% Partial sums beyond the small integers cannot be represented: an error
% in overflow mode error, never a wrong answer.
expect(overflow_is_reported, R,
       (   X in 0..10000, Y in 0..10000,
           catch(( ac_linear([100000,-100000], [X,Y], 0) -> R = ok ; R = failed ),
                 error(E, _), R = E)
       ),
       [representation_error(max_fd_integer)]).

% ---- Against a brute-force oracle ----

% Random equations from a fixed seed: 1 to 4 terms, coefficients in
% -3..3 without 0 (and sometimes 5 or -4), domains within -3..3 with
% holes; the right-hand side that of a random point of the domains,
% sometimes moved off it.
next(S0, S) :- S is (S0 * 1103515245 + 12345) mod 2147483648.
pick(S0, N, V, S) :- next(S0, S), V is (S >> 8) mod N.

random_values(S0, Vs, S) :-
        pick(S0, 7, A, S1), pick(S1, 7, B, S2), pick(S2, 4, K, S3), pick(S3, 7, H, S),
        Lo is min(A, B) - 3, Hi is max(A, B) - 3, Hole is H - 3,
        findall(V, ( between(Lo, Hi, V), ( K =:= 0 -> true ; V =\= Hole ) ), Vs0),
        ( Vs0 == [] -> Vs = [Lo] ; Vs = Vs0 ).

coefficient(S0, C, S) :-
        pick(S0, 8, I, S),
        nth0(I, [1, -1, 2, -2, 3, -3, 5, -4], C).

random_equation(S0, Cs, Ds, Rhs, S) :-
        pick(S0, 4, N0, S1), N is N0 + 1,
        random_terms(N, S1, Cs, Ds, S2),
        random_point(Ds, S2, P, S3),
        dot(Cs, P, Rhs0),
        pick(S3, 5, Off, S),
        ( Off =:= 0 -> Rhs is Rhs0 + 1 ; Rhs = Rhs0 ).

random_terms(0, S, [], [], S) :- !.
random_terms(N, S0, [C|Cs], [D|Ds], S) :-
        coefficient(S0, C, S1), random_values(S1, D, S2),
        N1 is N - 1,
        random_terms(N1, S2, Cs, Ds, S).

random_point([], S, [], S).
random_point([D|Ds], S0, [V|Vs], S) :-
        length(D, L), pick(S0, L, I, S1), nth0(I, D, V),
        random_point(Ds, S1, Vs, S).

dot([], [], 0).
dot([C|Cs], [V|Vs], S) :- dot(Cs, Vs, S0), S is S0 + C * V.

between(L, H, L) :- L =< H.
between(L, H, X) :- L < H, L1 is L + 1, between(L1, H, X).

point([], []).
point([D|Ds], [V|Vs]) :- mem(V, D), point(Ds, Vs).

% supported(+Xs, +Sols, +What): every variable's values are exactly its
% values in the solutions Sols (a failure when Sols is empty).
supported(Xs, Sols, What) :-
        length(Xs, N),
        \+ ( between(1, N, I),
             nth(I, Xs, X),
             findall(V, ( mem(P, Sols), nth(I, P, V) ), Vs0), sort(Vs0, Vs),
             values(X, Actual),
             Actual \== Vs,
             report(What, I, Actual, Vs) ).

report(What, I, Actual, Expected) :-
        writeq(What), write(': variable '), write(I), write(' has '), writeq(Actual),
        write(', expected '), writeq(Expected), nl.

% oracle(+Cs, +Ds, +Rhs, +Seed): posting leaves exactly the supported
% values (or fails when there is no solution); then for one variable and
% one of its values, fixing it and removing it each leave exactly the
% values supported under the change, and backtracking over both brings
% back the domains of the posting.
oracle(Cs, Ds, Rhs, S0) :-
        What = ac_linear(Cs, Ds, Rhs),
        findall(P, ( point(Ds, P), dot(Cs, P, Rhs) ), Sols),
        length(Ds, N), length(Xs, N),
        in_lists(Xs, Ds),
        (   ac_linear(Cs, Xs, Rhs)
        ->  supported(Xs, Sols, What),
            pick(S0, N, I0, S1), I is I0 + 1, nth(I, Xs, X),
            values(X, XVs), length(XVs, L), pick(S1, L, J, _), nth0(J, XVs, V),
            doms(Xs, Before),
            change(Xs, Sols, I, V, fix, What),
            change(Xs, Sols, I, V, remove, What),
            doms(Xs, After),
            (   Before == After -> true
            ;   writeq(What-restored(Before, After)), nl, fail
            )
        ;   Sols == [] -> true
        ;   Sols = [Sol|_], writeq(What-failed_with(Sol)), nl, fail
        ).

in_lists([], []).
in_lists([X|Xs], [D|Ds]) :- list_to_fdset(D, S), X in_set S, in_lists(Xs, Ds).

change(Xs, Sols, I, V, How, What) :-
        findall(P, ( mem(P, Sols), nth(I, P, W), admits(How, W, V) ), Sols1),
        nth(I, Xs, X),
        in_branch(( apply(How, X, V), supported(Xs, Sols1, What-How-I-V) ), Found),
        (   Found == yes -> true
        ;   Sols1 == [] -> true
        ;   writeq(What-How-I-V-failed), nl, fail
        ).

% in_branch(+Goal, -Found): runs Goal and undoes it by backtracking
% (findall, no cut over the choicepoints of the branch); Found tells
% whether it succeeded.
in_branch(Goal, Found) :-
        findall(yes, Goal, L),
        ( L = [Found|_] -> true ; Found = no ).

admits(fix, W, V) :- W =:= V.
admits(remove, W, V) :- W =\= V.

apply(fix, X, V) :- X = V.
apply(remove, X, V) :- X in \ {V}.

oracle_runs(0, _) :- !.
oracle_runs(K, S0) :-
        random_equation(S0, Cs, Ds, Rhs, S1),
        oracle(Cs, Ds, Rhs, S1),
        next(S1, S),
        K1 is K - 1,
        oracle_runs(K1, S).

test(oracle_small) :- oracle_runs(60, 1).
test(oracle_more) :- oracle_runs(60, 77).

% A branch that narrows a late term makes sums of the early terms fail
% (they are memoised); a sibling branch without that narrowing needs them
% again.  Each branch against brute force, then the posting's domains.
test(failed_sums_restored_on_backtracking) :-
        Cs = [4,2,3,1], Ds = [[0,1], [0,1], [0,1], [0,1,2,3,4,5,6,7,8,9]], Rhs = 9,
        findall(P, ( point(Ds, P), dot(Cs, P, Rhs) ), Sols),
        Xs = [_, _, _, W], in_lists(Xs, Ds),
        ac_linear(Cs, Xs, Rhs),
        doms(Xs, Before),
        in_branch(( W in 0..1, narrowed(Xs, Sols, 0, 1, branch(0..1)) ), yes),
        in_branch(( W in 6..9, narrowed(Xs, Sols, 6, 9, branch(6..9)) ), yes),
        in_branch(( W in 2..5, narrowed(Xs, Sols, 2, 5, branch(2..5)) ), yes),
        doms(Xs, Before).

narrowed(Xs, Sols, Lo, Hi, What) :-
        findall(P, ( mem(P, Sols), P = [_, _, _, V], V >= Lo, V =< Hi ), Sols1),
        supported(Xs, Sols1, What).

% ---- Every solution under labeling ----

test(every_solution_under_labeling) :-
        \+ ( mem(Cs-Rhs, [[1,2,-3]-2, [2,-1,-1]-0, [3,5,-7]-4, [-2,-2,3]-1]),
             domain([X, Y, Z], -3, 4),
             findall([X, Y, Z], ( ac_linear(Cs, [X, Y, Z], Rhs), labeling([], [X, Y, Z]) ), S1),
             findall(V, between(-3, 4, V), L),
             findall([A, B, C], ( point([L, L, L], [A, B, C]), dot(Cs, [A, B, C], Rhs) ), S2),
             S1 \== S2,
             writeq(Cs-Rhs-S1-S2), nl ).

% A long sum with unit coefficients settles without enumerating
% combinations: 30 digits summing to 266 are each at least 5.
test(long_unit_sum) :-
        length(Xs, 30), domain(Xs, 0, 9),
        length(Cs, 30), ones(Cs),
        ac_linear(Cs, Xs, 266),
        Xs = [X|_], fd_dom(X, 5..9).

ones([]).
ones([1|Xs]) :- ones(Xs).
