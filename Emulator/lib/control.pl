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
        forall(0, 0), catch(0, ?, 0), call_cleanup(0, 0), if(0, 0, 0), ^(?, 0).

false :- fail.

X = X.

X \= Y :- \+ X = Y.

% ---- Control constructs called as goals ----

(A , B) :- '$choice'(K), metacall((A , B), prolog, K, (A , B)).
(A ; B) :- '$choice'(K), metacall((A ; B), prolog, K, (A ; B)).
(A -> B) :- '$choice'(K), metacall((A -> B), prolog, K, (A -> B)).
(A *-> B) :- '$choice'(K), metacall((A *-> B), prolog, K, (A *-> B)).
if(C, T, E) :- '$choice'(K), metacall(if(C, T, E), prolog, K, if(C, T, E)).
V^G :- metacall(V^G, prolog, ?, V^G).
\+ G :- \+ call(G).
once(G) :- call(G), !.
ignore(G) :- (call(G) -> true ; true).
forall(C, A) :- \+ (call(C), \+ call(A)).

% metacall(Body, Module, CutValue, Context): a body given to a meta-call
% is checked as a whole before any of it runs: a goal of its control
% constructs that is neither callable nor a variable makes the whole body
% the culprit.
metacall(G, M, K, X) :-
        (   bad_body(G, 0) -> raise_exception(error(type_error(callable, G), context(X, 0)))
        ;   metacall_pc(G, M, K, X)
        ).

% bad_body(Body, Depth): Body holds a goal that cannot be called.  The
% walk goes through the constructs that metacall_pc/4 runs in the body's
% own context; \+ and ^ check their goal when they run it, as call/1 does.
% A body nested deeper than 1000 is tested for a cycle first: a cyclic
% body is left unchecked, to run as it is.
bad_body(G, _) :- var(G), !, fail.
bad_body(G, D) :- control_parts(G, Gs), !,
        deeper(D, G, D1),
        bad_part(Gs, D1).
bad_body(G, _) :- \+ callable(G).

control_parts((A , B), [A, B]).
control_parts((A ; B), [A, B]).
control_parts((A -> B), [A, B]).
control_parts((A *-> B), [A, B]).
control_parts(if(A, B, C), [A, B, C]).
control_parts(_:G, [G]).

bad_part([G|Gs], D) :-
        (   bad_body(G, D) -> true
        ;   bad_part(Gs, D)
        ).

deeper(checked, _, checked) :- !.
deeper(D, _, D1) :- D < 1000, !, D1 is D + 1.
deeper(_, G, checked) :- '$acyclic'(G).

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
metacall_pc(if(C, T, E), M, K, X) :- !,
        soft_cut(C, T, E, M, K, X).
metacall_pc(\+ G, M, _, X) :- !,
        \+ metacall_call(G, M, X).
metacall_pc(_^G, M, _, X) :- !,
        metacall_call(G, M, X).
metacall_pc(G, M, _, X) :- callable(G), !,
        (   expand_goal(G, M, G1) -> metacall_call(G1, M, X)
        ;   qualify_meta_args(G, M, G1),
            call_module(G1, M, X)
        ).

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

% A goal run as call/1 runs it: checked first, its ! local.
metacall_call(G, M, X) :- '$choice'(K), metacall(G, M, K, X).

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
        metacall(G, M, B, C).
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
metacall(G, M, C) :- '$choice'(K), metacall(G, M, K, C).

% undefined_goal(Goal, Module, Caller): an existence error for the
% procedure, unless the unknown flag says to fail (after a warning when
% it is warning); the procedure is named as ISO names it for a program's
% own (user) procedures and qualified for those of other modules.
undefined_goal(G, M, _) :-
        undefined_procedure(G, M, P),
        '$unknown'(U, U),
        (   U == error -> raise_exception(error(existence_error(procedure, P), P))
        ;   U == warning -> print_message(warning, error(existence_error(procedure, P), P)), fail
        ;   fail
        ).

undefined_procedure(G, M, P) :-
        functor(G, N, A),
        (   M == user -> P = N/A
        ;   P = M:N/A
        ).

% solve_fd_constraint(Goal, Definition): the engine's call of a predicate
% defined by indexicals (an FD predicate, whose code the finite-domain
% library installed): the library posts it.  Definition is the
% predicate's handle.
solve_fd_constraint(G, D) :- clpfd:solve_fd_constraint(G, D).

% call_internal(Goal): the entry of a query.
call_internal(G) :- call(G).

% call_user_def(Goal, Module): Goal called in Module when Module defines
% its predicate (or imports it); fails otherwise.
call_user_def(Goal, M) :-
        '$predicate_property'(Goal, _, _, M, _),
        M:Goal.

% retract_exception(E): the exception that ended a query run from native
% code, taken out of the store (the interface's VR_exception_term).
retract_exception(E) :-
        '$load_exception'(E0),
        '$erase_exception',
        iso_ball(E0, E).

% The interrupt key and break requests of the interface.  A runtime
% without the development system has no break level: the interrupt key
% aborts the running query, a break request does nothing.
control_c_handler :- abort.
control_break_handler.

% call_cleanup(Goal, Cleanup): Goal as call/1; Cleanup runs once, as
% soon as Goal is finished: at its deterministic exit, its failure, an
% exception out of it, or the cut of the choicepoints it left.  Cleanup's
% failure is ignored; its bindings stay and its exceptions propagate.
%
% The clean-up record [Flag|Cleanup] on the trail does the rest.  Flag
% unbound: Goal is running or can still be backtracked into (backtracking
% over the record runs Cleanup).  Flag = 1, bound at a nondeterministic
% exit and undone by backtracking into Goal: Cleanup is due when the
% choicepoints are cut, and the cut finds it because the choicepoints
% under Goal's are marked then.  Flag = 0, bound for good at a
% deterministic exit, by '$cleanup_done'/1 without a trail entry: Cleanup
% has run.  Nothing is due while Flag is
% unbound, so the record goes on unmarked ($trail_undo/1, not
% $trail_cleanup/1): a mark would only make the next call scan the trail.
call_cleanup(Goal, Cleanup) :-
        '$trail_undo'([Flag|Cleanup]),
        '$nth_choicepoint'(0, C0),
        call(Goal),
        '$nth_choicepoint'(0, C),
        (   C == C0 ->
            '$cleanup_done'(Flag),
            run_cleanup(Cleanup)
        ;   Flag = 1,
            '$undo_cleanup'(C)
        ).

% call_cleanup(Goal): the escape the emulator calls with a clean-up goal
% that is due; a pending exception (the clean-up runs while an exception
% unwinds) is kept for the catcher.
call_cleanup(G) :-
        (   '$load_exception'(E) ->
            '$erase_exception',
            run_cleanup(G),
            '$store_exception'(E)
        ;   run_cleanup(G)
        ).

run_cleanup(G) :-
        (   '$nodebug_call'(G, prolog, 0) -> true
        ;   true
        ).


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
        (   E0 = '$reserved'(_) -> '$unwind_stack'
        ;   '$erase_exception',
            iso_ball(E0, E),
            (   C = E -> call(R)
            ;   raise_exception(E)
            )
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
% abort) with status 1.  No catcher stops it ('$catch'/4 passes it on),
% so that a catch-all cannot swallow halt/0,1 or abort/0.  Whatever ends the
% process afterwards, everything written to an output stream has reached
% its device first.
halt :- halt(0).
halt(Code) :- var(Code), !,
        raise_exception(error(instantiation_error, context(halt(Code), 1))).
halt(Code) :- integer(Code), !,
        N is (Code << 8) \/ 4,
        flush_all_output,
        raise_exception('$reserved'(N)).
halt(Code) :-
        raise_exception(error(type_error(integer, Code), context(halt(Code), 1))).
abort :- raise_exception('$reserved'(3)).

% main/0: the entry that a launcher runs once its application is restored.
% It runs user:runtime_entry(start) and then halt/0, committing to the
% first solution.  halt and abort pass every catcher and end the query
% with their reserved exception, from which the launcher takes the exit
% status; an exception is reported with the uncaught-exception report and
% a failure with a warning, and main/0 then fails (status 1).
main :-
        catch(main_run(Outcome), Ball, Outcome = exception(Ball)),
        main_outcome(Outcome).

main_run(Outcome) :-
        (   user:runtime_entry(start) -> Outcome = true
        ;   Outcome = failed
        ).

main_outcome(true) :- halt.
main_outcome(failed) :-
        print_message(warning, failed(user:runtime_entry(start))),
        fail.
main_outcome(exception(Ball)) :-
        '$print_uncaught'(Ball),
        fail.
