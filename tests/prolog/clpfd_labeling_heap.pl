% The heap of the variable choice of labeling (library(clpfd)),
% $fd_labeling/4, against the scan $fd_delete/3.

:- use_module(library(clpfd)).
:- include('shared/labeling_constraints.pl').

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

% When no variable is left the step gives [] and disposes of its block:
% at once when no choicepoint was made since (the handle's flag is 0), or
% at the next clean-up when one was (flag 1; a collection leaves a
% temporary choicepoint at its segment boundary, so either may be seen
% here); either way a further step on the old state finds no block.  With
% a choicepoint of the program in between, the block waits (flag 1) and
% backtracking brings it back.
test(heap_block_freed_when_all_bound) :-
        A in 1..2,
        heap_new([A, 7], dom, G),
        heap_step(G, X), X == A,
        A = 2,
        heap_step(G, Y), Y == [],
        heap_handle(G, [Flag|_]), ( Flag == 0 ; Flag == 1 ),
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
