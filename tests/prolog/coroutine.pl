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

% ---- freeze/2 ----

:- use_module(library(codesio)).

printed(Goal, Text) :- with_output_to_codes(Goal, Cs), atom_codes(Text, Cs).

expect(freeze_fires_once, T, printed((freeze(X, write(a)), X = 1, X = 1), T), [a]).
expect(freeze_fires_through_an_alias, T, printed((freeze(X, write(a)), X = Y, write(-), Y = 1), T), ['-a']).
expect(freeze_on_bound_runs_at_once, R, freeze(1, R = ran), [ran]).
expect(freeze_stays_while_unbound, R, (freeze(X, R = ran), X = Y, (var(R) -> R = waiting ; true), var(Y)), [waiting]).
% Both goals survive the unification of two frozen variables.
expect(freeze_two_frozen_variables_unified, S, (printed((freeze(X, write(x)), freeze(Y, write(y)), X = Y, X = 1), T), atom_codes(T, Cs), msort(Cs, S0), atom_codes(S, S0)), [xy]).
expect(freeze_failing_goal_refuses_binding, R, (freeze(X, X > 5), (X = 3 -> R = bound ; R = refused)), [refused]).
expect(freeze_undone_by_backtracking, R, ((freeze(X, fail) ; true), X = 1, R = X), [1]).
expect(freeze_module_of_goal, R, (freeze(X, member_(R, [m])), X = 1), [m]).

% ---- frozen/2 ----

expect(frozen_plain_variable, G, frozen(_, G), [true]).
expect(frozen_bound_term, G, frozen(f(_), G), [true]).
expect(frozen_after_goals_ran, G, (freeze(X, true), X = 1, frozen(X, G)), [true]).
expect(frozen_goal_moves_to_alias, G, (freeze(X, true), X = Y, frozen(Y, G)), [prolog:freeze(_, user:true)]).
% The newest goal comes first; a blocked freeze/2 call stays as it is in
% the first place and gives its goal in the others.
expect(frozen_one_goal, G, (freeze(X, foo), frozen(X, G)), [prolog:freeze(_, user:foo)]).
expect(frozen_freeze_wrapper, G, (freeze(X, foo), freeze(X, bar), freeze(X, baz), frozen(X, G)),
       [((prolog:freeze(_, user:baz), user:bar), user:foo)]).
expect(frozen_dif, G, (dif(X, a), frozen(X, G)), [prolog:dif(_, a)]).
expect(frozen_reports_with_the_variable, ok, (freeze(X, foo), frozen(X, prolog:freeze(Y, _)), Y == X), [ok]).

% ---- dif/2 ----

% dif_case(Name, Goal, Outcome): how Goal ends.
dif_case(identical_atoms, dif(a, a), fails).
dif_case(different_atoms, dif(a, b), succeeds).
dif_case(identical_variables, dif(X, X), fails).
dif_case(not_unifiable_leaves_nothing, (dif(f(X), g(X)), frozen(X, true)), succeeds).
dif_case(suspends_on_both_sides, (dif(f(X), f(Y)), frozen(X, GX), frozen(Y, GY), GX \== true, GY \== true), succeeds).
dif_case(later_aliasing_fails, (dif(f(X), f(Y)), X = Y), fails).
dif_case(different_values_satisfy, (dif(f(X), f(Y)), X = 1, Y = 2), succeeds).
dif_case(same_values_fail, (dif(f(X), f(Y)), X = 1, Y = 1), fails).
dif_case(args_x_then_y_equal, (dif(f(X, Y), f(a, b)), X = a, Y = b), fails).
dif_case(args_y_then_x_equal, (dif(f(X, Y), f(a, b)), Y = b, X = a), fails).
dif_case(args_x_equal_y_differs, (dif(f(X, Y), f(a, b)), X = a, Y = c), succeeds).
dif_case(args_y_equal_x_differs, (dif(f(X, Y), f(a, b)), Y = b, X = c), succeeds).
dif_case(args_one_differs_then_rest_free, (dif(f(X, Y), f(a, b)), X = c, Y = b), succeeds).
dif_case(args_bound_together, (dif(f(X, Y), f(a, b)), f(X, Y) = f(a, b)), fails).
dif_case(partial_lists_equal, (dif([X|T], [1|U]), T = U, X = 1), fails).
dif_case(partial_lists_differ_in_length, (dif([X|T], [1|U]), X = 1, T = [], U = [2]), succeeds).
dif_case(two_dif_variables_unified_ok, (dif(X, a), dif(Y, b), X = Y, X = c), succeeds).
dif_case(two_dif_variables_unified_first, (dif(X, a), dif(Y, b), X = Y, X = a), fails).
dif_case(two_dif_variables_unified_second, (dif(X, a), dif(Y, b), X = Y, X = b), fails).
dif_case(two_variables_of_one_dif, (dif(X, Y), X = Z, Y = Z), fails).
dif_case(undone_by_backtracking, ((dif(X, a), fail ; true), X = a), succeeds).
dif_case(dif_against_nested_term, (dif(g(X, h(Y)), g(1, h(2))), Y = 2, X = 1), fails).

dif_outcome(N, R) :-
        dif_case(N, G, _),
        (   call(G) -> R = succeeds ; R = fails ).

expect(dif_table_wrong_outcomes, N-R, (dif_case(N, _, E), dif_outcome(N, R), R \== E), []).

% ---- when/2 ----

% when_case(Name, Goal, Expected): Goal runs when/2 and then binds, taking
% a snapshot of whether the goal ran (w: waiting, f: fired) after each step.
snap(R, S) :- ( var(R) -> S = w ; S = f ).

when_case(nonvar_waits_then_fires, (when(nonvar(X), R = 1), snap(R, S1), X = f(_), snap(R, S2)), [S1, S2], [w, f]).
when_case(nonvar_already_bound, (when(nonvar(g), R = 1), snap(R, S1)), [S1], [f]).
when_case(ground_step_by_step, (when(ground(f(X, Y)), R = 1), snap(R, S1), X = a, snap(R, S2), Y = b, snap(R, S3)), [S1, S2, S3], [w, w, f]).
when_case(ground_new_variables, (when(ground(X), R = 1), X = g(Z), snap(R, S1), Z = 1, snap(R, S2)), [S1, S2], [w, f]).
when_case(ground_already, (when(ground(f(a)), R = 1), snap(R, S1)), [S1], [f]).
when_case(decidable_by_mismatch, (when(?=(X, Y), R = 1), X = a, snap(R, S1), Y = b, snap(R, S2)), [S1, S2], [w, f]).
when_case(decidable_by_identity, (when(?=(f(X), f(Y)), R = 1), snap(R, S1), X = Y, snap(R, S2)), [S1, S2], [w, f]).
when_case(decidable_already, (when(?=(f(a), f(b)), R = 1), snap(R, S1)), [S1], [f]).
when_case(decidable_not_by_unrelated, (when(?=(f(X, Z), f(a, b)), R = 1), X = a, snap(R, S1), Z = b, snap(R, S2)), [S1, S2], [w, f]).
when_case(conjunction_in_order, (when((nonvar(X), nonvar(Y)), R = 1), X = 1, snap(R, S1), Y = 1, snap(R, S2)), [S1, S2], [w, f]).
when_case(conjunction_reverse_order, (when((nonvar(X), nonvar(Y)), R = 1), Y = 1, snap(R, S1), X = 1, snap(R, S2)), [S1, S2], [w, f]).
when_case(disjunction_first, (when((nonvar(X) ; nonvar(Y)), R = 1), snap(R, S1), X = 1, snap(R, S2)), [S1, S2], [w, f]).
when_case(disjunction_second, (when((nonvar(X) ; nonvar(Y)), R = 1), Y = 1, snap(R, S1), var(X)), [S1], [f]).
when_case(disjunction_one_already_true, (when((nonvar(_) ; nonvar(a)), R = 1), snap(R, S1)), [S1], [f]).
when_case(nested, (when(((nonvar(X), nonvar(Y)) ; ground(Z)), R = 1), X = 1, snap(R, S1), Z = f(W), snap(R, S2), W = 1, snap(R, S3), var(Y)), [S1, S2, S3], [w, w, f]).

expect(when_table_wrong_snapshots, N-Ss, (when_case(N, G, Ss, E), call(G), Ss \== E), []).
expect(when_disjunction_runs_once, N,
       (create_mutable(0, M), when((nonvar(X) ; ground(Y)), tick(1, M)), X = 1, Y = 2, get_mutable(N, M)), [1]).
expect(when_goal_failure_refuses_binding, R, (when(nonvar(X), fail), (X = 1 -> R = bound ; R = refused)), [refused]).

expect(when_condition_not_a_condition, E, catch(when(foo, true), error(E, _), true), [domain_error(when_condition, foo)]).
expect(when_condition_unbound, E, catch(when(_, true), error(E, _), true), [domain_error(when_condition, _)]).
expect(when_condition_bad_part, E, catch(when((nonvar(_), bad), true), error(E, _), true), [domain_error(when_condition, (nonvar(_), bad))]).
expect(when_goal_not_callable, E, catch(when(nonvar(_), 1), error(E, _), true), [type_error(callable, 1)]).
expect(when_goal_unbound, E, catch(when(nonvar(_), _), error(E, _), true), [instantiation_error]).
