% Running propagation to its fixpoint, the actions of propagators written
% in Prolog, and the unification of domain variables.  Part of module
% clpfd.
%
% Telling a variable a smaller domain queues the propagators suspended on
% it in the current propagation context (opened by $fd_begin/0 or by the
% built-ins given the "init" flag); evaluate/0 runs that context's queues
% until they are empty, running in Prolog the global constraints that have
% no native function, and ends the context.

% evaluate: runs the current context to its fixpoint; fails when a
% propagator fails.
evaluate :-
        '$fd_evaluate_indexical'(Global, R),
        evaluate(R, Global).

evaluate(0, _) :- !.
evaluate(1, _) :- !,
        % The heap reached its soft limit: the engine makes room at the
        % next call, and the queues wait as they are.
        evaluate.
evaluate(2, Global) :-
        run_global(Global),
        evaluate.

% run_global(+Global): one run from Prolog of the global constraint whose
% item is Global = global(StateMutable, Constraint, StatusMutable, Ent,
% Source), by the hook, or by its native function when the hook has no
% answer (in debugging mode the loop hands native constraints over too);
% its new state is stored and its actions applied.
run_global(Global) :-
        arg(1, Global, StateMutable),
        arg(2, Global, Constraint),
        get_mutable(State, StateMutable),
        (   dispatch_global_any(Constraint, State, NewState, Actions) -> true
        ;   dispatch_global_fast(Constraint, State, NewState, Actions, Global)
        ),
        update_mutable(NewState, StateMutable),
        '$fd_prune_and_enqueue'(Actions, Global).

:- multifile dispatch_global/4.

% One answer of the hook; none makes the run fail.
dispatch_global_any(Constraint, State, NewState, Actions) :-
        dispatch_global(Constraint, State, NewState, Actions), !.

% call_action(+Action): an element of a propagator's Actions list that is
% a goal.
call_action(call(Goal)) :- !, call(Goal).
call_action(X in_set Set) :- !, X in_set Set.
call_action(X in Range) :- !, X in Range.
call_action(X = Y) :- !, X = Y.
call_action(Goal) :- call(Goal).

% overflow_action(+Goal): raised when a bound computation of Goal's
% propagator left the integers the solver represents, in overflow mode
% error.
overflow_action(Goal) :-
        raise_exception(error(representation_error(max_fd_integer), Goal)).

% ---- Unification of domain variables ----

% verify_attributes(+X, +Value, -Goals): X, a domain variable, is being
% bound to Value.  An integer must lie in X's domain; another variable
% becomes a domain variable holding the intersection of both domains and
% the suspensions of both.  The work is done by the goals, once X is
% bound, in one propagation context.
verify_attributes(X, Value, Goals) :-
        '$get_attributes'(X, A, _),
        A = v(_, _, _, _), !,
        last_attribute(A, LX),
        (   integer(Value) ->
            attribute_dom(LX, dom(Set, _, _, _)),
            '$fd_dom_contains'(Set, Value),
            Goals = [fix_attribute(LX, Value)]
        ;   var(Value) ->
            Goals = [merge_attribute(LX, Value)]
        ;   fail
        ).
verify_attributes(_, _, []).

% fix_attribute(+A, +V): the domain of attribute A became the value V:
% wake everything suspended on it.
fix_attribute(A, V) :-
        arg(3, A, DomMutable),
        '$fd_set_singleton'(V, DomMutable),
        arg(4, A, ListsMutable),
        '$fd_enqueue_all'(ListsMutable),
        evaluate.

% merge_attribute(+AX, ?Y): X (whose last attribute is AX) is now Y: Y's
% domain becomes the intersection, Y's suspension lists take X's, X's
% attribute forwards to Y's, and everything suspended on either wakes.
merge_attribute(AX, Y) :-
        (   integer(Y) -> fix_attribute(AX, Y)
        ;   '$fd_arg_attribute'(Y, 0, AY0),
            last_attribute(AY0, AY),
            (   AX == AY -> true
            ;   attribute_dom(AX, dom(SX, MinX, MaxX, _)),
                '$fd_range'(MinX, MaxX, RX, 1),
                '$fd_dom_intersection'(SX, RX, DX),
                arg(4, AX, ListsX), get_mutable(LX, ListsX),
                arg(4, AY, ListsY), get_mutable(LY, ListsY),
                merged_lists(LX, LY, L),
                update_mutable(L, ListsY),
                arg(3, AX, DomX),
                update_mutable(AY, DomX),
                '$fd_enqueue_all'(ListsY),
                '$fd_in_set'(Y, DX, 0),
                evaluate
            )
        ).

merged_lists('$fdlists'(C1, M1, D1, Mi1, Ma1, MM1, V1),
             '$fdlists'(C2, M2, D2, Mi2, Ma2, MM2, V2),
             '$fdlists'(C, M, D, Mi, Ma, MM, V)) :-
        C is C1 + C2,
        M is M1 \/ M2,
        append(D1, D2, D), append(Mi1, Mi2, Mi), append(Ma1, Ma2, Ma),
        append(MM1, MM2, MM), append(V1, V2, V).

% attribute_goal(+X, -Goal): X's domain as a goal, for answers and
% copy_term/3.
attribute_goal(X, clpfd:(X in R)) :-
        fd_var(X),
        fd_dom(X, R).
