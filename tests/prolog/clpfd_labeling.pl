% Labeling (library(clpfd)): every option on small problems whose
% solutions are known, checked against the solutions counted here
% independently; the order the options promise; branch and bound giving
% the proven optimum; time limits that stop and report; bad options; and
% the native variable choice $fd_delete/3 directly.

:- use_module(library(clpfd)).

% ---- Constraints written here, run through dispatch_global/4 ----

% neq(X, Y): X and Y differ (pruned once one of them is fixed).
clpfd:dispatch_global(neq(X, Y), S, S, Actions) :-
        (   integer(X), integer(Y) -> ( X =\= Y -> Actions = [exit] ; Actions = [fail] )
        ;   integer(X) -> Actions = [Y in \ {X}, exit]
        ;   integer(Y) -> Actions = [X in \ {Y}, exit]
        ;   Actions = []
        ).
% wsum(Ws, Xs, S): S is the sum of Wi * Xi (Wi > 0), bounded by the
% bounds of the Xs.
clpfd:dispatch_global(wsum(Ws, Xs, S), St, St, Actions) :-
        wsum_bounds(Ws, Xs, 0, 0, Lo, Hi),
        (   Lo =:= Hi -> Actions = [S = Lo, exit]
        ;   Actions = [S in Lo..Hi]
        ).

wsum_bounds([], [], Lo, Hi, Lo, Hi).
wsum_bounds([W|Ws], [X|Xs], Lo0, Hi0, Lo, Hi) :-
        fd_min(X, Min), fd_max(X, Max),
        Lo1 is Lo0 + W * Min, Hi1 is Hi0 + W * Max,
        wsum_bounds(Ws, Xs, Lo1, Hi1, Lo, Hi).

neq(X, Y) :- fd_global(neq(X, Y), s, [val(X), val(Y)]).

all_neq([]).
all_neq([X|Xs]) :- neq_each(Xs, X), all_neq(Xs).

neq_each([], _).
neq_each([Y|Ys], X) :- neq(X, Y), neq_each(Ys, X).

wsum(Ws, Xs, S) :-
        susp_minmax(Xs, Susp),
        fd_global(wsum(Ws, Xs, S), s, Susp).

susp_minmax([], []).
susp_minmax([X|Xs], [minmax(X)|Ss]) :- susp_minmax(Xs, Ss).

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

member_(X, [X|_]).
member_(X, [_|Xs]) :- member_(X, Xs).

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

% ---- The heap of the variable choice ----

% $fd_labeling/4 keeps the unbound variables of a search in a heap, kept
% in order by daemons.  Its choices must be those of a scan
% ($fd_delete/3) at every node: a search choosing by the heap and one
% choosing by the scan must give the same solutions in the same order, on
% problems whose propagation moves bounds and sizes between choices, with
% ties, a repeated variable and integers in the list.
heap_label(Vars, Key) :-
        heap_new(Vars, Key, G),
        heap_label_(G).

heap_label_(G) :-
        heap_step(G, X),
        (   X == [] -> true
        ;   fd_min(X, B),
            (   X = B
            ;   X in \ {B}
            ),
            heap_label_(G)
        ).

ref_label(Vars, Crit) :-
        unbound_vars_(Vars, Us),
        (   Us == [] -> true
        ;   clpfd:'$fd_delete'(Us, X, Crit),
            fd_min(X, B),
            (   X = B
            ;   X in \ {B}
            ),
            ref_label(Vars, Crit)
        ).

unbound_vars_([], []).
unbound_vars_([X|Xs], Us) :-
        (   var(X) -> Us = [X|Us1] ; Us = Us1 ),
        unbound_vars_(Xs, Us1).

% heap_problem(Name, Vars): the variables to label, constrained.
heap_problem(distinct_mixed_domains, [A, B, C, D, E]) :-
        A in 1..4, B in {2, 4, 6}, C in 0..3, D in (1..2) \/ (5..6), E in 2..5,
        all_neq([A, B, C, D, E]).
heap_problem(weighted_sum_moves_bounds, [A, B, C, D]) :-
        domain([A, B, C, D], 0, 4), wsum([3, 1, 2, 1], [A, B, C, D], S), S in 5..7.
heap_problem(ties_everywhere, [A, B, C, D]) :-
        domain([A, B, C, D], 1, 3), neq(A, B), neq(C, D), neq(B, C).
heap_problem(repeated_variable_and_integers, [A, 5, B, A, C]) :-
        A in 1..3, B in 1..2, C in 0..4, neq(A, B), wsum([1, 1], [B, C], S), S in 2..4.

test(heap_choices_are_the_scans) :-
        forall(( heap_problem(Name, _), member_(Key-Crit, [min-1, max-2, dom-3]) ),
               ( findall(Vs, ( heap_problem(Name, Vs), heap_label(Vs, Key) ), Got),
                 findall(Vs, ( heap_problem(Name, Vs), ref_label(Vs, Crit) ), Want),
                 (   Got == Want, Got \== [] -> true
                 ;   write(user_error, Name-Key), nl(user_error),
                     write(user_error, got(Got)), nl(user_error),
                     write(user_error, want(Want)), nl(user_error),
                     fail
                 ) )).

% The item of a heap constraint over Vars (Key min, max, or dom: smallest
% domain), and one step: the state is read from the item's StateMutable,
% which then receives the new state.
heap_new(Vars, Key, global(StateM, labeling(Key), StatusM, _Ent, labeling(Key))) :-
        create_mutable(labeling(Vars, Key, _Handle, 0), StateM),
        create_mutable(2, StatusM).

heap_step(Global, X) :-
        arg(1, Global, M),
        get_mutable(S, M),
        clpfd:'$fd_labeling'(S, S1, X, Global),
        update_mutable(S1, M).

heap_handle(Global, H) :-
        arg(1, Global, M), get_mutable(S, M), arg(3, S, H).

% After backtracking to before a step, the heap is rebuilt from what the
% last committed step left, and the step chooses as before: variables
% bound, pruned or taken out of the heap in the abandoned branch are back
% with their keys.
test(heap_step_after_backtracking) :-
        \+ \+ (
        A in 1..5, B in 1..3, C in 1..4,
        heap_new([A, B, C], dom, G),
        heap_step(G, X1), X1 == B,
        (   B = 1, heap_step(G, X2), X2 == C,
            A in 1..2, heap_step(G, X3), X3 == A,
            A = 1, C = 2, heap_step(G, X4), X4 == [],
            fail
        ;   heap_step(G, Y1), Y1 == B,
            C in 3..4, heap_step(G, Y2), Y2 == C,
            fail
        ;   B in 2..3, heap_step(G, Z1), Z1 == B,
            B = 2, heap_step(G, Z2), Z2 == C
        ),
        A = 1, C = 3, heap_step(G, Last), Last == [] ).

% The bounds keys: min the smallest lower bound, max the greatest upper
% bound, ties to the earlier variable, bound variables out of the heap.
heap_case(min, [3..5, 1..4, 1..6], [1, 2, 0]).
heap_case(max, [3..5, 1..4, 2..5], [0, 2, 1]).
heap_case(dom, [1..3, 4..5, 7..8], [1, 2, 0]).

test(heap_keys_and_ties) :-
        forall(heap_case(Key, Doms, Want),
               ( length(Vs, 3), doms(Vs, Doms), heap_new(Vs, Key, G),
                 heap_order(G, Vs, Got),
                 (   Got == Want -> true
                 ;   format(user_error, "~w: got ~w~n", [Key, Got]), fail
                 ) )).

doms([], []).
doms([V|Vs], [D|Ds]) :- V in D, doms(Vs, Ds).

% The positions of the variables in the order the steps choose them, each
% bound to its lower bound when chosen.
heap_order(G, Vs, Order) :-
        heap_step(G, X),
        (   X == [] -> Order = []
        ;   nth0_(Vs, X, 0, I), Order = [I|Is],
            fd_min(X, Min), X = Min,
            heap_order(G, Vs, Is)
        ).

nth0_([V|Vs], X, I0, I) :- ( V == X -> I = I0 ; I1 is I0 + 1, nth0_(Vs, X, I1, I) ).

% When no variable is left the step gives [] and disposes of its block at
% once (no choicepoint since it was made): the handle's flag is 0, and a
% further step on the old state finds no block.  With a choicepoint in
% between, the block waits (flag 1) and backtracking brings it back.
test(heap_block_freed_when_all_bound) :-
        A in 1..2,
        heap_new([A, 7], dom, G),
        heap_step(G, X), X == A,
        A = 2,
        heap_step(G, Y), Y == [],
        heap_handle(G, [Flag|_]), Flag == 0,
        arg(1, G, M), get_mutable(S, M),
        catch(( clpfd:'$fd_labeling'(S, _, _, G), R = ran ), error(E, _), R = E),
        R = domain_error(labeling_constraint_state, _).
test(heap_block_waits_under_a_choicepoint) :-
        \+ \+ (
        A in 1..2, B in 1..2,
        heap_new([A, B], dom, G),
        heap_step(G, X), X == A,
        (   A = 1, B = 1, heap_step(G, Y), Y == [],
            heap_handle(G, [Flag|_]), Flag == 1,
            fail
        ;   heap_step(G, Z), Z == A,
            heap_handle(G, [F2|_]), var(F2)
        ) ).
test(heap_empty_list) :-
        heap_new([1, 2], min, G),
        heap_step(G, X), X == [].

% A direct call with anything but the item of a labeling state is refused
% before the heap is touched.
test(heap_bad_calls) :-
        A in 1..3,
        heap_new([A], dom, G),
        G = global(M, C, St, E, Src),
        get_mutable(S, M),
        forall(member_(Call-Want,
                       [ clpfd:'$fd_labeling'(S, _, _, foo)-labeling_constraint_item,
                         clpfd:'$fd_labeling'(labeling([A], dom, _, 0), _, _, G)-labeling_constraint_state,
                         clpfd:'$fd_labeling'(S, _, _, global(M, C, St, E))-labeling_constraint_item,
                         clpfd:'$fd_labeling'(S, _, _, global(M, C, M, E, Src))-labeling_constraint_item,
                         clpfd:'$fd_labeling'(S, _, _, global(St, C, St, E, Src))-labeling_constraint_state ]),
               ( catch(( Call, Got = ran ), error(Err, _), Got = Err),
                 (   Got = domain_error(Want, _) -> true
                 ;   format(user_error, "~q: got ~q~n", [Call, Got]), fail
                 ) )).
