% Constraints defined by indexicals in a user's file (compiled by the
% loader's hook, installed as FD predicates, posted when called): against
% a brute-force oracle on random small domains, propagation keeps every
% value that takes part in a solution and fails only when there is none;
% a checking indexical's verdict (the 0/1 variable it fixes) matches the
% truth; the library's own definitions behave the same.

:- use_module(library(clpfd)).

between(L, H, L) :- L =< H.
between(L, H, X) :- L < H, L1 is L + 1, between(L1, H, X).

member(X, [X|_]).
member(X, [_|T]) :- member(X, T).

% ---- The definitions under test, each with its relation ----

% X + Y = Z, on the domains.
plus(X, Y, Z) +: Z in dom(X) + dom(Y), X in dom(Z) - dom(Y), Y in dom(Z) - dom(X).
% X < Y, on the bounds.
lt(X, Y) +: X in inf..max(Y) - 1, Y in min(X) + 1..sup.
lt(X, Y) -: X in min(Y)..sup, Y in inf..max(X).
lt(X, Y) +? X in inf..min(Y) - 1.
lt(X, Y) -? X in max(Y)..sup.
% X \= Y + C, once one side is fixed.
ne_off(X, Y, C) +: X in \{Y + C}, Y in \{X - C}.
ne_off(X, Y, C) +? X in \(dom(Y) + C).
% |X| = Y.
absv(X, Y) +: X in dom(Y) \/ (0 - dom(Y)), Y in (dom(X) \/ (0 - dom(X))) /\ (0..sup).
% Y = 2X, on the bounds (division rounds inwards: exact once Y is fixed).
twice(X, Y) +: Y in min(X) * 2..max(X) * 2, X in min(Y) // 2..max(Y) // 2.
% Y = X mod 3 (only Y is pruned: an indexical for X reading nothing
% would be entailed, with the whole constraint, at its first run).
mod3(X, Y) +: Y in dom(X) mod 3.
% X = Y or X = Z.
either(X, Y, Z) +: X in dom(Y) \/ dom(Z), Y in (dom(X) /\ dom(Z)) ? (inf..sup) \/ dom(X),
        Z in (dom(X) /\ dom(Y)) ? (inf..sup) \/ dom(X).
% X in {Y, Y + 1} with Y's value awaited, and X's size checked against Y.
next(X, Y) +: X in {val(Y), val(Y) + 1}, Y in min(X) - 1..max(X) + card(X) * 0.

relation(plus(X, Y, Z)) :- Z =:= X + Y.
relation(lt(X, Y)) :- X < Y.
relation(ne_off(X, Y, C)) :- X =\= Y + C.
relation(absv(X, Y)) :- Y =:= abs(X).
relation(twice(X, Y)) :- Y =:= 2 * X.
relation(mod3(X, Y)) :- Y =:= X mod 3.
relation(either(X, Y, Z)) :- ( X =:= Y -> true ; X =:= Z ).
relation(next(X, Y)) :- ( X =:= Y -> true ; X =:= Y + 1 ).

% ---- Random domains ----

% A small generator (linear congruential), seeded per test.
rand_init(Seed) :- bb_put(seed, Seed).
rand(N, R) :-
        bb_get(seed, S0),
        S is (S0 * 1103515245 + 12345) mod 2147483648,
        bb_put(seed, S),
        R is (S >> 16) mod N.

% A random non-empty subset of -4..4 (as a list).
random_values(Vs) :-
        findall(V, ( between(-4, 4, V), rand(3, R), R > 0 ), Vs0),
        (   Vs0 == [] -> rand(9, K), V1 is K - 4, Vs = [V1] ; Vs = Vs0 ).

% goal_vars(Goal, Vars): the argument positions that are variables (the
% others stay constants: ne_off's C).
trial_goal(plus, plus(X, Y, Z), [X, Y, Z]).
trial_goal(lt, lt(X, Y), [X, Y]).
trial_goal(ne_off, ne_off(X, Y, C), [X, Y]) :- rand(5, K), C is K - 2.
trial_goal(absv, absv(X, Y), [X, Y]).
trial_goal(twice, twice(X, Y), [X, Y]).
trial_goal(mod3, mod3(X, Y), [X, Y]).
trial_goal(either, either(X, Y, Z), [X, Y, Z]).
trial_goal(next, next(X, Y), [X, Y]).

% One trial: random domains, the constraint posted; Bad is the first
% disagreement with the oracle, or none.
trial(Name, Bad) :-
        trial_goal(Name, Goal, Vars),
        domains_for(Vars, Lists),
        findall(Vars, ( values_of(Vars, Lists), relation(Goal) ), Sols),
        (   post_on(Vars, Lists, Goal, Doms) ->
            (   Sols == [] -> all_fixed_would_fail(Vars, Lists, Goal, Doms, Bad)
            ;   lost_value(Sols, Doms, Vars, Lists, Goal, Bad)
            )
        ;   Sols == [] -> Bad = none
        ;   Bad = failed_with_solutions(Goal, Lists, Sols)
        ).

domains_for([], []).
domains_for([_|Vs], [L|Ls]) :- random_values(L), domains_for(Vs, Ls).

values_of([], []).
values_of([V|Vs], [L|Ls]) :- member(V, L), values_of(Vs, Ls).

% Posts Goal on fresh copies with the given domains; Doms their domains
% after propagation, as lists of values.
post_on(Vars, Lists, Goal, Doms) :-
        copy_term(Vars-Goal, Vs-G),
        restrict(Vs, Lists),
        call(G),
        value_lists(Vs, Doms).

restrict([], []).
restrict([V|Vs], [L|Ls]) :- list_to_fdset(L, S), V in_set S, restrict(Vs, Ls).

value_lists([], []).
value_lists([V|Vs], [D|Ds]) :-
        (   integer(V) -> D = [V] ; fd_set(V, S), fdset_to_list(S, D) ),
        value_lists(Vs, Ds).

% No solution but propagation did not fail: labeling what is left must
% fail then (propagation may be weak, never wrong once all is fixed).
all_fixed_would_fail(Vars, Lists, Goal, _, Bad) :-
        (   copy_term(Vars-Goal, Vs-G), restrict(Vs, Lists), call(G), labeling([], Vs)
        ->  Bad = solution_found(Goal, Lists, Vs)
        ;   Bad = none
        ).

% Every value of every solution must be left; labeling what is left must
% give exactly the solutions.
lost_value(Sols, Doms, Vars, Lists, Goal, Bad) :-
        (   member(S, Sols), nth_pair(S, Doms, V, D), \+ member(V, D)
        ->  Bad = lost(Goal, Lists, V, D)
        ;   findall(Vs, ( copy_term(Vars-Goal, Vs-G), restrict(Vs, Lists), call(G), labeling([], Vs) ), Labeled),
            msort(Labeled, L1), msort(Sols, L2),
            (   L1 == L2 -> Bad = none ; Bad = labeling(Goal, Lists, L1, L2) )
        ).

nth_pair([V|_], [D|_], V, D).
nth_pair([_|Vs], [_|Ds], V, D) :- nth_pair(Vs, Ds, V, D).

test(propagation_keeps_every_solution_value) :-
        rand_init(7),
        \+ ( trial_goal(Name, _, _),
             between(1, 40, _),
             trial(Name, Bad),
             Bad \== none,
             format(user_error, "~w: ~q~n", [Name, Bad]) ).

% ---- Checking indexicals: the verdict ----

% With the 0/1 variable B unbound, lt/2's checking indexicals fix B to 1
% when every pair of values satisfies X < Y, to 0 when none does, and
% leave it otherwise (the checks are exact for X < Y); ne_off/3's
% constraint side is entailed when the domains cannot meet.
verdict_trial(Name, Bad) :-
        member(Name-Goal-Vars, [lt-lt(X, Y)-[X, Y], ne_off-ne_off(X, Y, 1)-[X, Y]]),
        domains_for(Vars, Lists),
        findall(t, ( values_of(Vars, Lists), relation(Goal) ), Ts), length(Ts, NT),
        findall(f, ( values_of(Vars, Lists), \+ relation(Goal) ), Fs), length(Fs, NF),
        copy_term(Vars-Goal, Vs-G),
        restrict(Vs, Lists),
        functor(G, F, A),
        clpfd:'$fd_find_definition'(G, user, Def),
        (   clpfd:post_fd_constraint(G, Def, B) ->
            expected_verdict(Name, NT, NF, B, Bad0),
            ( Bad0 == none -> Bad = none ; Bad = Bad0-F/A-Lists )
        ;   Bad = post_failed(Goal, Lists)
        ).

% lt: exact both ways.  ne_off: its check decides only the positive side.
expected_verdict(lt, NT, NF, B, Bad) :-
        (   NF =:= 0 -> Want = 1 ; NT =:= 0 -> Want = 0 ; Want = open ),
        ( var(B) -> Got = open ; Got = B ),
        ( Got == Want -> Bad = none ; Bad = verdict(Want, Got) ).
expected_verdict(ne_off, NT, NF, B, Bad) :-
        (   integer(B), B =:= 1, NF > 0 -> Bad = verdict(open, B)
        ;   integer(B), B =:= 0, NT > 0 -> Bad = verdict(open, B)
        ;   NF =:= 0, var(B) -> Bad = verdict(1, open)
        ;   Bad = none
        ).

test(checking_verdicts_match_the_truth) :-
        rand_init(11),
        \+ ( between(1, 60, _),
             verdict_trial(_, Bad),
             Bad \== none,
             format(user_error, "~q~n", [Bad]) ).

% ---- Worked cases ----

expect(bound_source_entails_and_tells, R,
       (Y = 3, lt(X, Y), fd_dom(X, R)), [inf..2]).
expect(domain_sum_keeps_holes, R,
       (X in_set [[0|0], [10|10]], Y in 1..2, plus(X, Y, Z), fd_dom(Z, R)), [(1..2)\/(11..12)]).
expect(value_wait_then_removal, R-S,
       (X in 1..5, ne_off(X, Y, 1), fd_dom(X, R), Y = 2, fd_dom(X, S)), [(1..5)-((1..2)\/(4..5))]).
expect(undone_by_backtracking, R,
       (X in 0..9, ( Y = 4, twice(X, Y), fail ; true ), fd_dom(X, R)), [0..9]).
expect(non_integer_argument_is_a_type_error, E,
       catch(lt(a, _), error(E, _), true), [type_error(integer, a)]).
expect(library_difference_constraint, R,
       (X in 1..10, Y in 1..10, X #< Y - 3, fd_dom(X, DX), fd_dom(Y, DY), R = DX/DY), [(1..6)/(5..10)]).
expect(library_disequality_with_offset, R,
       (X in 1..5, X #\= Y + 2, Y = 1, fd_dom(X, R)), [(1..2)\/(4..5)]).
expect(library_equality_with_offset, R,
       (X in_set [[1|2], [7|8]], Y #= X + 10, fd_dom(Y, R)), [(11..12)\/(17..18)]).
expect(library_abs, R,
       (X in -3..5, Y #= abs(X), X #\= 0, fd_dom(Y, R)), [1..5]).

% ---- Limits ----

% A range nested deeper than the evaluation stack holds is refused when
% the compiled definition is installed (the loader's directive), never
% met at run time; the predicate stays undefined.
deep_range(0, Y, dom(Y)) :- !.
deep_range(N, Y, dom(Y) \/ R) :- N1 is N - 1, deep_range(N1, Y, R).

expect(too_deep_definition_refused_at_install, E-Defined,
       (deep_range(400, Y, R),
        clpfd:compile_indexicals((deep(X, Y) +: X in R), 0, Spec, Type, N, Infos),
        catch(clpfd:'$fd_install'(Spec, user, Type, N, Infos), error(domain_error(E, _), _), true),
        ( clpfd:'$fd_find_definition'(deep(_, _), user, 0) -> Defined = no ; Defined = yes )),
       ['the evaluation stack exceeds the argument registers'-no]).
