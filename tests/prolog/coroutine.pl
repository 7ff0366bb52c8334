% Coroutining: calls blocked by block declarations run when their
% variables are bound, before the next call.

:- block watch(-, ?).
watch(X, Log) :- Log = woke(X).

logged(R) :- watch(X, Log), X = 1, state(Log, R).
state(Log, R) :- ( nonvar(Log) -> R = Log ; R = not_yet ).

expect(woken_before_next_call, R, logged(R), [woke(1)]).
expect(stays_suspended, R, (watch(_, Log), state(Log, R)), [not_yet]).
expect(bound_at_call_runs_at_once, R, (watch(2, Log), state(Log, R)), [woke(2)]).

% A woken goal that leaves a choicepoint: backtracking into it resumes the
% clause that was interrupted, once per solution.
:- block choose(-, ?).
choose(_, Y) :- member_(Y, [a, b, c]).
member_(X, [X|_]).
member_(X, [_|T]) :- member_(X, T).

resumed(X, Y, Z) :- choose(X, Y), X = go, Z = after(Y).
expect(woken_choicepoint, Z, resumed(_, _, Z), [after(a), after(b), after(c)]).

% Only when every listed argument is unbound.
:- block both(-, -).
both(A, B) :- A = B.
expect(block_needs_all_unbound, [A, B], (both(A, B), A = x), [[x, x]]).
expect(block_waits_for_one, R, (both(A, _), (var(A) -> R = waiting ; R = ran)), [waiting]).

% Several goals on one variable all run, and a goal on several variables
% runs once.
:- block tick(-, ?).
tick(_, M) :- get_mutable(N, M), N1 is N + 1, update_mutable(N1, M).
expect(several_goals_one_variable, N, (create_mutable(0, M), tick(X, M), tick(X, M), X = 1, get_mutable(N, M)), [2]).

% An attribute module sees the binding of its variables first.
:- initialization(prolog:'$save_attribute_info'(colour)).
colour:verify_attributes(X, Value, Goals) :-
        colour:'$get_attributes'(X, A, _),
        (   A = allowed(L), user:member_(Value, L) -> Goals = [user:note(Value)] ; fail ).
note(_).
paint(X, L) :- colour:'$put_attributes'(X, allowed(L)).

expect(attribute_accepts, X, (paint(X, [red, blue]), X = blue), [blue]).
expect(attribute_rejects, R, ((paint(X, [red]), X = green) -> R = bound ; R = refused), [refused]).
expect(attribute_gone_after_binding, R, (paint(X, [red]), X = red, prolog:'$get_cva'(Y, A, G), R = A-G, var(Y)), [[]-[]]).
