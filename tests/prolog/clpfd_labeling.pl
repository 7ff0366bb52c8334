% Labeling (library(clpfd)): every option on small problems whose
% solutions are known, checked against the solutions counted here
% independently; the order the options promise; branch and bound giving
% the proven optimum; time limits that stop and report; bad options; and
% the native variable choice $fd_delete/3 directly.

:- use_module(library(clpfd)).

:- include('shared/labeling_constraints.pl').

% ---- Branch and bound under a time limit ----

% Branch and bound stopped by the limit: the best solution found so far,
% a consistent one.
test(time_out_gives_the_best_so_far) :-
        length(Vs, 11), domain(Vs, 1, 11), all_neq(Vs),
        Ws = [1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11],
        wsum(Ws, Vs, S),
        labeling([time_out(1000, F), maximize(S)], Vs),
        F == time_out,
        msort(Vs, [1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11]),
        wsum_bounds(Ws, Vs, 0, 0, S, S).

% ---- Every option gives every solution once ----

% The problem: A in 1..3, B in {1,3,5}, C in {2,3,5}, all different: the
% solutions are the triples of distinct values of the three domains.
problem([A, B, C]) :-
        A in 1..3, B in {1, 3, 5}, C in (2..3) \/ {5},
        all_neq([A, B, C]).

model_solutions(Sols) :-
        findall([A, B, C],
                ( member_(A, [1, 2, 3]), member_(B, [1, 3, 5]), member_(C, [2, 3, 5]),
                  A =\= B, A =\= C, B =\= C ),
                Sols0),
        msort(Sols0, Sols).


option_set([Sel, Val, Ord]) :-
        member_(Sel, [leftmost, min, max, ff, ffc]),
        member_(Val, [step, enum, bisect]),
        member_(Ord, [up, down]).

test(every_option_gives_every_solution_once) :-
        model_solutions(Model),
        forall(option_set(Opts),
               ( findall(Vs, ( problem(Vs), labeling([all|Opts], Vs) ), Sols0),
                 msort(Sols0, Sols),
                 (   Sols == Model -> true
                 ;   format(user_error, "~w: got ~w~n", [Opts, Sols0]), fail
                 ) )).

% ---- The order each option promises ----

% One variable with holes: every value choice, both orders.
expect(value_order, R,
       ( member_(Val, [step, enum, bisect]), member_(Ord, [up, down]),
         findall(X, ( X in {1, 3} \/ (5..6), labeling([Val, Ord], [X]) ), Xs),
         R = Val/Ord/Xs ),
       [step/up/[1,3,5,6], step/down/[6,5,3,1], enum/up/[1,3,5,6], enum/down/[6,5,3,1],
        bisect/up/[1,3,5,6], bisect/down/[6,5,3,1]]).

% X in 3..5, Y in 1..4, Z in 2..6, no constraint, each variable bound in
% one choice (enum): the variable chosen first varies slowest.  leftmost
% takes X, Y, Z; min takes Y (lower bound 1), then Z (2), then X; max
% takes Z (upper bound 6), then X (5), then Y.
order_case(leftmost, [X, Y, Z], [X, Y, Z]).
order_case(min, [X, Y, Z], [Y, Z, X]).
order_case(max, [X, Y, Z], [Z, X, Y]).

test(variable_choice_order) :-
        forall(order_case(Sel, [X, Y, Z], Slowest),
               ( findall([X, Y, Z], ( X in 3..5, Y in 1..4, Z in 2..6, labeling([Sel, enum], [X, Y, Z]) ), Got),
                 findall([X, Y, Z], ( nested(Slowest, [X-[3,4,5], Y-[1,2,3,4], Z-[2,3,4,5,6]]) ), Want),
                 (   Got == Want -> true
                 ;   format(user_error, "~w: got ~w~n", [Sel, Got]), fail
                 ) )).

% nested(+Vars, +Domains): the values of Vars in turn, the first slowest.
nested([], _).
nested([V|Vs], Doms) :- dom_of(Doms, V, D), member_(V, D), nested(Vs, Doms).

dom_of([X-D|_], V, D) :- X == V, !.
dom_of([_|Ds], V, D) :- dom_of(Ds, V, D).

% ff: Y and Z have the smallest domains (two values); the tie goes to Y,
% the earlier in the list, and Z comes next, X last.
expect(ff_ties_go_to_the_leftmost, L,
       findall(X/Y/Z, ( X in 1..3, Y in 1..2, Z in 1..2, labeling([ff], [X, Y, Z]) ), L),
       [[1/1/1, 2/1/1, 3/1/1, 1/1/2, 2/1/2, 3/1/2, 1/2/1, 2/2/1, 3/2/1, 1/2/2, 2/2/2, 3/2/2]]).

% ffc: X and Y tie on size; Y has more suspensions, so it goes first.
expect(ffc_prefers_the_most_constrained, L,
       findall(X/Y, ( X in 1..2, Y in 1..2, W in 5..9, neq(Y, W), neq(Y, W),
                      labeling([ffc], [X, Y]) ), L),
       [[1/1, 2/1, 1/2, 2/2]]).
expect(ff_ignores_suspensions, L,
       findall(X/Y, ( X in 1..2, Y in 1..2, W in 5..9, neq(Y, W), labeling([ff], [X, Y]) ), L),
       [[1/1, 1/2, 2/1, 2/2]]).

% ---- Branch and bound ----

% Distinct X, Y, Z in 1..5 and S = X + 2Y + 3Z: the first solution of the
% plain search (1, 2, 3: S = 14) is not the best; the least S is 10 (Z
% smallest), the greatest 26.
cost_problem([X, Y, Z], S) :-
        domain([X, Y, Z], 1, 5),
        all_neq([X, Y, Z]),
        wsum([1, 2, 3], [X, Y, Z], S).

expect(minimize_gives_the_optimum_once, R,
       ( cost_problem(Vs, S), labeling([minimize(S)], Vs), R = S-Vs ), [10-[3,2,1]]).
expect(maximize_gives_the_optimum_once, R,
       ( cost_problem(Vs, S), labeling([maximize(S)], Vs), R = S-Vs ), [26-[3,4,5]]).
% Every search order reaches the same optimum.
test(optimum_whatever_the_order) :-
        forall(option_set(Opts),
               ( findall(S, ( cost_problem(Vs, S), labeling([minimize(S)|Opts], Vs) ), [10]),
                 findall(S, ( cost_problem(Vs, S), labeling([maximize(S)|Opts], Vs) ), [26]) )).
expect(optimum_within_time, R,
       ( cost_problem(Vs, S), labeling([time_out(60000, F), minimize(S)], Vs), R = F/S ), [success/10]).
expect(no_solution_no_optimum, no,
       \+ ( cost_problem(Vs, S), S in 1..9, labeling([minimize(S)], Vs) ), [no]).
% The recorded incumbent goes when the search ends, however it ends.
test(incumbent_erased) :-
        cost_problem(Vs, S), labeling([minimize(S)], Vs),
        \+ ( cost_problem(Ws, T), T in 1..9, labeling([minimize(T)], Ws) ),
        \+ recorded('$fd_incumbent', _, _).
% The objective need not be among the variables labeled.
expect(objective_labeled_last, R,
       ( X in 1..3, S in 0..20, wsum([2], [X], S), labeling([maximize(S)], [X]), R = X/S ), [3/6]).

% ---- Time limits ----

% Ten variables in 1..9, all different: no solution, and the search tree
% is far too large to finish in a tenth of a second.
pigeons(Vs) :- length(Vs, 10), domain(Vs, 1, 9), all_neq(Vs).

test(time_out_stops_and_reports) :-
        pigeons(Vs),
        labeling([time_out(100, F)], Vs),
        F == time_out,
        term_variables(Vs, Vs).
expect(time_out_within_time_gives_one_answer, R,
       findall(F/X, ( X in 2..4, labeling([time_out(60000, F)], [X]) ), R), [[success/2]]).
expect(time_out_search_exhausted_fails, no,
       \+ ( X in 2..4, neq(X, X), labeling([time_out(60000, _)], [X]) ), [no]).
% ---- Options: qualified lists and errors ----

expect(qualified_options, L,
       findall(X/Y, ( X in 1..3, Y in 1..2, labeling(user:[ff, down], [X, Y]) ), L),
       [[3/2, 2/2, 1/2, 3/1, 2/1, 1/1]]).
expect(twice_qualified_options, L, findall(X, ( X in 1..2, labeling(a:b:[down], [X]) ), L), [[2, 1]]).
expect(indomain_enumerates, L, findall(X, ( X in {4} \/ (1..2), indomain(X) ), L), [[1, 2, 4]]).
expect(indomain_of_an_integer, yes, ( indomain(3) -> true ), [yes]).
expect(empty_variable_list, yes, ( labeling([ff], []) -> true ), [yes]).
expect(integers_in_the_list, L, findall(X, ( X in 1..2, labeling([ff], [7, X, 8]) ), L), [[1, 2]]).

bad(labeling(foo, [_]), type_error(list, foo)).
bad(labeling(user:foo, [_]), type_error(list, foo)).
bad(labeling([ff|_], [_]), instantiation_error).
bad(labeling([_], [_]), instantiation_error).
bad(labeling([first], [_]), domain_error(labeling_options, first)).
bad(labeling([ff, up, sideways], [_]), domain_error(labeling_options, sideways)).
bad(labeling([time_out(-1, _)], [_]), domain_error(labeling_options, time_out(-1, _))).
bad(labeling([time_out(x, _)], [_]), domain_error(labeling_options, time_out(x, _))).
bad(labeling([minimize(f(x))], [_]), domain_error(labeling_options, minimize(f(x)))).
bad(labeling([maximize(a)], [_]), domain_error(labeling_options, maximize(a))).
bad(labeling([], foo), type_error(list, foo)).
bad(labeling([], [a]), type_error(integer, a)).
bad(labeling([], [_]), instantiation_error).
bad(indomain(_), instantiation_error).
bad(indomain(a), type_error(integer, a)).

test(bad_arguments) :-
        forall(bad(Goal, Want),
               ( catch(( Goal, Got = none ; Got = failed ), error(E, _), Got = E),
                 (   Got = Want -> true
                 ;   format(user_error, "~q: got ~q~n", [Goal, Got]), fail
                 ) )).

% ---- Backtracking leaves the domains as they were ----

test(domains_restored_after_labeling) :-
        X in 1..4, Y in 2..3, neq(X, Y),
        findall(X-Y, labeling([ff, bisect], [X, Y]), L),
        length(L, 6),
        fd_dom(X, 1..4), fd_dom(Y, 2..3).

% ---- The native variable choice ----

% $fd_delete(List, Var, Criterion): 1 min, 2 max, 3 ff, 4 ffc.
delete_case(empty_list_fails, [], 3, none).
delete_case(only_integers_fail, [1, 2], 3, none).
delete_case(integer_first_is_skipped, [1, b], 3, b).
delete_case(ff_smallest, [a, b, c], 3, c).
delete_case(ff_tie_leftmost, [a, d, c, e], 3, c).
delete_case(min_smallest_lower_bound, [a, b, c], 1, b).
delete_case(max_greatest_upper_bound, [a, b, c], 2, a).
delete_case(max_tie_leftmost, [c, e, a], 2, e).
delete_case(ffc_most_suspensions, [c, e], 4, e).
delete_case(bad_criterion_fails, [a], 9, none).

% a in 1..9, b in 0..5, c in 2..3, d in 4..8 \ {5, 6} (three values),
% e in 7..8 with one suspension more than c.
delete_vars([a-A, b-B, c-C, d-D, e-E]) :-
        A in 1..9, B in 0..5, C in 2..3, D in (4..4) \/ (7..8), E in 8..9, neq(E, A).

test(delete_choices) :-
        forall(delete_case(Name, Names, Crit, Want),
               ( delete_vars(Vars),
                 names_vars(Names, Vars, List),
                 (   clpfd:'$fd_delete'(List, V, Crit) -> var_name(Vars, V, Got)
                 ;   Got = none
                 ),
                 (   Got == Want -> true
                 ;   format(user_error, "~w: got ~w~n", [Name, Got]), fail
                 ) )).

names_vars([], _, []).
names_vars([N|Ns], Vars, [V|Vs]) :-
        (   integer(N) -> V = N ; member_(N-V, Vars) ),
        names_vars(Ns, Vars, Vs).

var_name([N-V|Vs], X, Name) :- ( V == X -> Name = N ; var_name(Vs, X, Name) ).

% With ff the scan stops at the first variable with two values: a later
% plain variable is never looked at (ranking it would make it a domain
% variable, which no atom unifies with, as min does; its lower bound is
% inf, so min chooses it).
test(delete_ff_stops_at_two_values) :-
        X in 1..2, Y in 1..9,
        clpfd:'$fd_delete'([Y, X, Z], V, 3), V == X, \+ \+ Z = a,
        clpfd:'$fd_delete'([Y, X, Z], W, 1), W == Z, \+ Z = a.

