% Control: the control constructs as predicates (for meta-calls), catch and
% throw, the escape predicates the emulator enters for undefined
% predicates, meta-calls, wake-ups and clean-ups, and halt/abort.
%
% '$choice'(K) (only as the first goal of a clause) saves the cut value of
% the clause's caller, '$cut'(K) cuts back to it: the compiler turns them
% into CHOICE_X/_Y and CUTB_X/CUT_Y in this module.

:- meta_predicate prolog:(','(0, 0)).
:- meta_predicate
        ;(0, 0), ->(0, 0), *->(0, 0), \+(0), once(0), ignore(0),
        forall(0, 0), catch(0, ?, 0).

false :- fail.

X = X.

X \= Y :- \+ X = Y.

% ---- Control constructs called as goals ----

(A , B) :- '$choice'(K), metacall_pc((A , B), prolog, K, (A , B)).
(A ; B) :- '$choice'(K), metacall_pc((A ; B), prolog, K, (A ; B)).
(A -> B) :- '$choice'(K), metacall_pc((A -> B), prolog, K, (A -> B)).
(A *-> B) :- '$choice'(K), metacall_pc((A *-> B), prolog, K, (A *-> B)).
\+ G :- \+ call(G).
once(G) :- call(G), !.
ignore(G) :- (call(G) -> true ; true).
forall(C, A) :- \+ (call(C), \+ call(A)).

% metacall_pc(Body, Module, CutValue, Context): interprets a clause body;
% ! cuts to CutValue (the atom ? where no cut is allowed).
metacall_pc(G, _, _, X) :- var(G), !,
        raise_exception(error(instantiation_error, context(X, 0))).
metacall_pc(M:G, _, K, X) :- !,
        (   atom(M) -> metacall_pc(G, M, K, X)
        ;   var(M) -> raise_exception(error(instantiation_error, context(X, 0)))
        ;   raise_exception(error(type_error(atom, M), context(X, 0)))
        ).
metacall_pc(true, _, _, _) :- !.
metacall_pc(!, _, K, X) :- !,
        (   K == ? -> raise_exception(error(context_error(cut), context(X, 0)))
        ;   '$cut'(K)
        ).
metacall_pc((A , B), M, K, X) :- !,
        metacall_pc(A, M, K, X),
        metacall_pc(B, M, K, X).
metacall_pc((C -> T ; E), M, K, X) :- !,
        (   metacall_cond(C, M, X) -> metacall_pc(T, M, K, X)
        ;   metacall_pc(E, M, K, X)
        ).
metacall_pc((C *-> T ; E), M, K, X) :- !,
        soft_cut(C, T, E, M, K, X).
metacall_pc((A ; B), M, K, X) :- !,
        (   metacall_pc(A, M, K, X)
        ;   metacall_pc(B, M, K, X)
        ).
metacall_pc((C -> T), M, K, X) :- !,
        (   metacall_cond(C, M, X) -> metacall_pc(T, M, K, X) ).
metacall_pc((C *-> T), M, K, X) :- !,
        metacall_cond(C, M, X),
        metacall_pc(T, M, K, X).
metacall_pc(\+ G, M, _, X) :- !,
        \+ metacall_cond(G, M, X).
metacall_pc(G, M, _, X) :- callable(G), !,
        qualify_meta_args(G, M, G1),
        call_module(G1, M, X).

% The goal with its meta arguments qualified by the module it is called
% in, as the compiler qualifies them in compiled calls.
qualify_meta_args(G, M, G1) :-
        (   '$meta_declaration'(G, M, Spec) ->
            G =.. [F|As],
            Spec =.. [_|Ss],
            qualify_args(As, Ss, M, Bs),
            G1 =.. [F|Bs]
        ;   G1 = G
        ).

qualify_args([], [], _, []).
qualify_args([A|As], [S|Ss], M, [B|Bs]) :-
        (   S == (:), \+ qualified(A) -> B = M:A
        ;   B = A
        ),
        qualify_args(As, Ss, M, Bs).

qualified(A) :- nonvar(A), A = _:_.
metacall_pc(G, _, _, X) :-
        raise_exception(error(type_error(callable, G), context(X, 0))).

% A goal whose ! is local to it.
metacall_cond(G, M, X) :- '$choice'(K), metacall_pc(G, M, K, X).

% (C *-> T ; E): T for every solution of C, E only when C has none.  A
% mutable that backtracking does not reset is not at hand, so the
% disjunction's own choicepoint is removed once C has succeeded.
soft_cut(C, T, E, M, K, X) :-
        '$choice'(B),
        soft_cut_(C, T, E, M, K, X, B).

soft_cut_(C, T, _, M, K, X, B) :-
        metacall_cond(C, M, X),
        '$soft_cut'(B),
        metacall_pc(T, M, K, X).
soft_cut_(_, _, E, M, K, X, _) :-
        metacall_pc(E, M, K, X).

% meta_colon_pc(Goal, Module, Caller): a meta-call that the emulator could
% not do natively.
meta_colon_pc(G, M, C) :- '$choice'(B), meta_colon_pc(G, M, C, B).

meta_colon_pc(G, M, C, _) :- callable(G), atom(M), '$fast_goal'(G, M), !,
        call_module(G, M, C).
meta_colon_pc(G, M, C, B) :- nonvar(M), !,
        metacall_pc(G, M, B, C).
meta_colon_pc(G, M, C, _) :-
        raise_exception(error(instantiation_error, context('$@'(M:G, C), 2))).

% call_illarg_pc(call(G, A1, ..., An), Caller)
call_illarg_pc(CallTerm, Caller) :-
        arg(1, CallTerm, G0),
        must_be_callable(G0, G, M, CallTerm, 1),
        CallTerm =.. [_, _|Extra],
        G =.. L0,
        append(L0, Extra, L),
        G1 =.. L,
        undefined_goal(G1, M, Caller).

% metacall(Goal, Module, Caller)
metacall(G, M, C) :- '$choice'(K), metacall_pc(G, M, K, C).

% undefined_goal(Goal, Module, Caller): an existence error for the
% procedure, unless the unknown flag says to fail.  (A warning is to be
% printed before failing once messages can be printed.)
undefined_goal(_, _, _) :-
        '$unknown'(U, U), U \== error, !,
        fail.
undefined_goal(G, M, _) :-
        functor(G, N, A),
        raise_exception(error(existence_error(procedure, M:N/A), M:N/A)).

% call_internal(Goal): the entry of a query.
call_internal(G) :- call(G).

% call_goals(List): the woken goals, the rest of the list first.
call_goals([]).
call_goals([G|Gs]) :- call_goals(Gs), G.

% unify_cva(Var, Value): Var, a variable with attributes, was bound to
% Value; the binding has been undone.  Every attribute module that defines
% verify_attributes/3 sees the binding first and returns goals to run
% after it; then Var loses its attributes and is bound, and its suspended
% goals run (or, when Value is a variable too, move to it).
unify_cva(Var, Value) :-
        '$get_cva'(Var, Attr, Goals),
        '$get_attribute_modules'(Attr, Modules),
        verify_attributes_(Modules, Var, Value, Later),
        '$put_cva'(Var, [], []),
        (   var(Value) ->
            '$get_cva'(Value, VA, VG),
            append(Goals, VG, G2),
            '$put_cva'(Value, VA, G2),
            Var = Value
        ;   Var = Value,
            call_goals(Goals)
        ),
        call_all(Later).

verify_attributes_([], _, _, []).
verify_attributes_([M|Ms], Var, Value, Later) :-
        (   '$fast_goal'(verify_attributes(_, _, _), M) ->
            M:verify_attributes(Var, Value, G),
            append(G, Later1, Later)
        ;   Later = Later1
        ),
        verify_attributes_(Ms, Var, Value, Later1).

call_all([]).
call_all([G|Gs]) :- call(G), call_all(Gs).

% call_cleanup(Goal): runs a clean-up goal once, keeping a pending
% exception intact.
call_cleanup(G) :-
        (   '$load_exception'(E) -> '$erase_exception', run_cleanup(G), '$store_exception'(E)
        ;   run_cleanup(G)
        ).

run_cleanup(G) :- \+ \+ catch_ignore(G).

catch_ignore(G) :- catch(G, _, true), !.
catch_ignore(_).


% ---- Exceptions ----

throw(Ball) :- raise_exception(Ball).

raise_exception(Ball) :- var(Ball), !,
        raise_exception(error(instantiation_error, context(throw(Ball), 1))).
raise_exception(Ball) :-
        '$store_exception'(Ball),
        '$unwind_stack'.

% catch(Goal, Catcher, Recovery).  The choicepoint of '$catch'/4 carries
% '$$catch_hook' in its second argument, which is how the unwinder knows
% it; it belongs to catch/3's own environment, so it catches only while
% Goal runs.
catch(G, C, R) :-
        '$catch'(G, '$$catch_hook', C, R),
        '$catch_exit'.

'$catch'(G, _, _, _) :- call(G).
'$catch'(_, _, C, R) :-
        '$load_exception'(E0),
        '$erase_exception',
        iso_ball(E0, E),
        (   C = E -> call(R)
        ;   raise_exception(E)
        ).

'$catch_exit'.

% The preallocated ball of a memory fault, resource_error(0, memory),
% reaches catchers as the ISO error term.
iso_ball(resource_error(_, memory), error(resource_error(memory), _)) :- !.
iso_ball(E, E).

% prolog_catch(Goal, Catcher, Recovery): the runtime's own catch.
prolog_catch(G, C, R) :- catch(G, C, R).

% ---- Leaving ----

% The reserved exception '$reserved'(N) asks whoever runs the query to end
% the process: kind N /\ 255 = 4 exits with status N >> 8, kind 3 (an
% abort) with status 1.
halt :- halt(0).
halt(Code) :- var(Code), !,
        raise_exception(error(instantiation_error, context(halt(Code), 1))).
halt(Code) :- integer(Code), !,
        N is (Code << 8) \/ 4,
        raise_exception('$reserved'(N)).
halt(Code) :-
        raise_exception(error(type_error(integer, Code), context(halt(Code), 1))).
abort :- raise_exception('$reserved'(3)).
