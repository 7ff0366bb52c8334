% Meta-calls, exceptions and the control constructs called as goals.

p(1). p(2). p(3).
q(X, Y) :- Y is X * 10.
add(X, Y, Z) :- Z is X + Y.


error_of(G, F) :- catch((G, F = none), error(F0, _), F = F0).

% call/N with extra arguments, built and bound at run time.
expect(call_extra_args, Y, (G = q(2), call(G, Y)), [20]).
expect(call_extra_args_atom, Z, (G = add, call(G, 1, 2, Z)), [3]).
expect(call_closure_partial, Z, (G = add(5), call(G, 6, Z)), [11]).
expect(call_enumerates, X, call(p, X), [1, 2, 3]).
expect(call_qualified, X, (G = user:p(X), call(G)), [1, 2, 3]).
expect(call_qualified_closure, X, (G = user:p, call(G, X)), [1, 2, 3]).
expect(call_conjunction, X, (G = (p(X), X > 1), call(G)), [2, 3]).
expect(call_disjunction, X, (G = (X = a ; X = b), call(G)), [a, b]).
expect(call_if_then_else, X, (G = (p(Y) -> X = Y ; X = none), call(G)), [1]).
expect(call_negation, X, (G = (\+ p(7)), (call(G) -> X = yes ; X = no)), [yes]).

% A cut inside call/1 is local to it.
expect(cut_local_to_call, X, (call((p(X), !)) ; X = after), [1, after]).
expect(cut_in_meta_disjunction, X, (G = (p(X), ! ; X = 9), call(G)), [1]).
expect(cut_in_meta_condition, X, (G = ((p(X), !) -> true ; X = 9), call(G)), [1]).
expect(once, X, once(p(X)), [1]).
expect(ignore, X, (ignore(fail), X = ok), [ok]).
expect(forall_holds, X, (forall(p(A), A > 0) -> X = yes ; X = no), [yes]).
expect(forall_fails, X, (forall(p(A), A > 1) -> X = yes ; X = no), [no]).
expect(soft_cut_solutions, X, (p(Y) *-> X = Y ; X = none), [1, 2, 3]).
expect(soft_cut_else, X, (G = (fail *-> X = then ; X = else), call(G)), [else]).
expect(soft_cut_meta, X, (G = (p(Y) *-> X = Y ; X = none), call(G)), [1, 2, 3]).

% Errors of calls.
% A procedure of user is named as ISO names it; one of another module is
% qualified.
expect(undefined_predicate, F, error_of(no_such_pred(1), F), [existence_error(procedure, no_such_pred/1)]).
expect(undefined_called, F, (G = nope, error_of(call(G, a), F)), [existence_error(procedure, nope/1)]).
expect(undefined_culprit, E, catch(undef_pred, E, true), [error(existence_error(procedure, undef_pred/0), undef_pred/0)]).
expect(undefined_other_module, F, error_of(lists:nope(1), F), [existence_error(procedure, lists:nope/1)]).
expect(undefined_through_call_module, F, error_of(call_module(nope, user, x), F), [existence_error(procedure, nope/0)]).
expect(call_unbound, F, error_of(call(_), F), [instantiation_error]).
expect(call_not_callable, F, error_of(call(3), F), [type_error(callable, 3)]).
expect(call_unbound_module, F, error_of(call(_:p(_)), F), [instantiation_error]).

% catch/3 and throw/1
expect(catch_ball, B, catch(throw(ball), B, true), [ball]).
expect(catch_matching_only, X, catch(catch(throw(b), a, X = inner), b, X = outer), [outer]).
expect(rethrow, X, catch(catch(throw(first), E, throw(again(E))), again(Y), X = Y), [first]).
expect(throw_unbound, F, error_of(throw(_), F), [instantiation_error]).
expect(catch_is_transparent, X, catch(p(X), _, true), [1, 2, 3]).
expect(catch_after_exit_does_not_catch, X,
       catch((catch(p(Y), _, fail), Y >= 2, throw(late(Y))), late(X), true), [2]).
expect(exception_undoes_bindings, X, catch((X = bound, throw(oops)), oops, true), [_]).
expect(error_in_recovery, E, catch(catch(throw(a), a, throw(b)), E, true), [b]).
test(deep_catch) :- catch(deep_throw(2000), bottom, true).
deep_throw(0) :- !, throw(bottom).
deep_throw(N) :- N1 is N - 1, catch(deep_throw(N1), other, true).
expect(deep_catch_reaches, X, catch(deep_throw(500), X, true), [bottom]).

% halt/0,1 and abort/0 raise the reserved exceptions the launcher decodes;
% no catcher stops them on their way to the query boundary, and clean-ups
% still run on the way.
uncaught(halt_reserved, catch(halt(3), _, true), '$reserved'(772)).
uncaught(halt_passes_catch_all, (catch(halt, _, true), fail), '$reserved'(4)).
uncaught(halt_passes_matching_catcher, catch(halt, '$reserved'(_), true), '$reserved'(4)).
uncaught(abort_reserved, catch(abort, _, true), '$reserved'(3)).
uncaught(abort_passes_nested, catch(catch(abort, E, throw(E)), _, true), '$reserved'(3)).
uncaught(halt_in_meta_call, (G = catch(halt(1), _, true), catch(call(G), _, true)), '$reserved'(260)).
uncaught(halt_runs_cleanup, (log_reset, catch(call_cleanup(halt, log(cleaned)), _, true)), '$reserved'(4)).
expect(halt_ran_cleanup, L, logged(L), [[cleaned]]).

% A cut in the then-branch of a soft cut cuts the clause.
sc(X) :- ( p(X) *-> ! ; X = none ).
sc(4).
expect(soft_cut_then_cut_is_transparent, X, sc(X), [1]).

% The clean-up escape runs its goal once and ignores its failure; the
% goal's bindings stay and its exceptions propagate.
expect(cleanup_goal_runs, Y, prolog:call_cleanup(user:p(Y)), [1]).
expect(cleanup_goal_throws, E, catch(prolog:call_cleanup(user:throw(oops)), E, true), [oops]).
expect(cleanup_goal_fails, X, (prolog:call_cleanup(user:fail), X = ok), [ok]).
expect(cleanup_goal_keeps_pending_exception, E,
       catch((prolog:'$store_exception'(first), prolog:call_cleanup(user:true),
              prolog:'$load_exception'(E0), prolog:'$erase_exception', throw(E0)), E, true),
       [first]).

% call_cleanup/2: the clean-up runs exactly once, as soon as the goal is
% finished, whichever way it finishes.  The log is kept on the blackboard,
% which backtracking does not undo.
log_reset :- prolog:'$bb_put'(user, log, []).
log(X) :- prolog:'$bb_get'(user, log, L), prolog:'$bb_put'(user, log, [X|L]).
logged(L) :- prolog:'$bb_get'(user, log, R), rev(R, [], L).
rev([], L, L).
rev([X|Xs], A, L) :- rev(Xs, [X|A], L).

expect(cleanup_det_exit, L, (log_reset, call_cleanup(log(goal), log(cleanup)), log(after), logged(L)),
       [[goal, cleanup, after]]).
expect(cleanup_det_exit_bindings_stay, X-Y, call_cleanup(X = 1, Y = 2), [1-2]).
expect(cleanup_failure, L, (log_reset, \+ call_cleanup(fail, log(cleanup)), logged(L)), [[cleanup]]).
expect(cleanup_exception, B-L, (log_reset, catch(call_cleanup(throw(ball), log(cleanup)), B, true), logged(L)),
       [ball-[cleanup]]).
expect(cleanup_exception_after_nondet_exit, L,
       (log_reset, catch((call_cleanup(p(_), log(cleanup)), log(exited), throw(late)), late, true), logged(L)),
       [[exited, cleanup]]).
% Backtracking into the goal: the clean-up runs at the deterministic exit
% of its last solution.
expect(cleanup_backtracking, L,
       (log_reset, (call_cleanup(p(X), log(cleanup)), log(X), fail ; true), logged(L)),
       [[1, 2, cleanup, 3]]).
expect(cleanup_backtracking_to_failure, L,
       (log_reset, (call_cleanup((p(X) ; fail), log(cleanup)), log(X), fail ; true), logged(L)),
       [[1, 2, 3, cleanup]]).
% A cut of the goal's choicepoints runs it before the next call, once,
% with the goal's bindings.
expect(cleanup_cut, L, (log_reset, once(call_cleanup(p(X), log(cleanup(X)))), log(after), logged(L)),
       [[cleanup(1), after]]).
expect(cleanup_cut_then_fail, L, (log_reset, (once(call_cleanup(p(_), log(cleanup))), fail ; true), logged(L)),
       [[cleanup]]).
cut_below(X) :- p(X), call_cleanup(p(_), log(cleanup)), !.
expect(cleanup_cut_below_its_caller, L, (log_reset, cut_below(X), log(X), logged(L)), [[cleanup, 1]]).
% Its exceptions propagate and its failure is ignored.
expect(cleanup_throws, B, catch(call_cleanup(true, throw(oops)), B, true), [oops]).
expect(cleanup_fails, X, (call_cleanup(X = 1, fail)), [1]).
expect(cleanup_throws_on_failure, B, catch(call_cleanup(fail, throw(oops)), B, true), [oops]).
expect(cleanup_throws_at_cut, B, catch((once(call_cleanup(p(_), throw(oops))), true), B, true), [oops]).
expect(cleanup_fails_at_cut, X, (once(call_cleanup(p(X), fail)), true), [1]).
expect(cleanup_fails_on_failure, R, (call_cleanup(fail, fail) -> R = yes ; R = no), [no]).
% An exception pending while the clean-up runs reaches the catcher.
expect(cleanup_keeps_unwinding_exception, B,
       catch(call_cleanup(throw(first), catch(throw(second), _, true)), B, true), [first]).
% Nested clean-ups run innermost first.
expect(cleanup_nested, L,
       (log_reset, once(call_cleanup(call_cleanup(p(_), log(inner)), log(outer))), log(after), logged(L)),
       [[inner, outer, after]]).

% Blocked predicates and the other entry kinds reached through meta-calls:
% a blocked goal suspends however it is called.
:- block bp(-).
bp(x).
state(X, R) :- ( var(X) -> R = suspended ; R = ran(X) ).
expect(block_in_meta_conjunction, R, (G = (true, bp(X)), call(G), state(X, R)), [suspended]).
expect(block_in_meta_disjunction, R, (G = (bp(X) ; fail), call(G), state(X, R)), [suspended]).
expect(block_through_call_module, R, (call_module(bp(X), user, x), state(X, R)), [suspended]).
expect(block_through_colon, R, (M = user, M:bp(X), state(X, R)), [suspended]).
expect(block_through_meta_colon, R, (G = (true, user:bp(X)), call(G), state(X, R)), [suspended]).
expect(block_through_call, R, (G = bp(X), call(G), state(X, R)), [suspended]).
expect(block_woken_after_meta_call, X, (G = (true, bp(X)), call(G), X = x), [x]).
expect(block_woken_fails, R, ((G = (true, bp(X)), call(G), X = y) -> R = yes ; R = no), [no]).
expect(block_bound_runs_through_call_module, R, (call_module(bp(y), user, x) -> R = yes ; R = no), [no]).
% Built-in kinds through call_module/3 and a meta-called conjunction.
expect(call_module_true, X, (call_module(true, user, x), X = ok), [ok]).
expect(call_module_fail, X, (call_module(fail, user, x) -> X = yes ; X = no), [no]).
expect(call_module_native, X, (call_module('$eq'(a, a), prolog, x), X = ok), [ok]).
expect(call_module_compiled, X, call_module(p(X), user, x), [1, 2, 3]).
expect(call_module_colon, X, call_module(user:p(X), prolog, x), [1, 2, 3]).
expect(meta_conjunction_compiled, X, (G = (true, p(X)), call(G)), [1, 2, 3]).
expect(meta_conjunction_inline, X, (G = (true, X is 1 + 2), call(G)), [3]).

% ^/2 and if/3, compiled and meta-called alike.
expect(caret_compiled, X, Y^p(X), [1, 2, 3]).
expect(caret_meta, X, (G = Y^p(X), call(G)), [1, 2, 3]).
expect(caret_meta_nested, X, (G = (true, Y^Z^p(X)), call(G)), [1, 2, 3]).
expect(caret_cut_local, X, (_^(p(X), !) ; X = 9), [1, 9]).
expect(caret_cut_local_meta, X, (G = (_^(p(X), !) ; X = 9), call(G)), [1, 9]).
expect(if_compiled_then, X, if(p(Y), X = Y, X = none), [1, 2, 3]).
expect(if_compiled_else, X, if(fail, X = then, X = else), [else]).
expect(if_meta_then, X, (G = if(p(Y), X = Y, X = none), call(G)), [1, 2, 3]).
expect(if_meta_else, X, (G = if(fail, X = then, X = else), call(G)), [else]).
if_cut(X) :- if(p(X), !, X = none).
if_cut(4).
expect(if_then_cut_is_transparent, X, if_cut(X), [1]).
% By name, as a call of the predicates (a compiled call qualifies their
% goals).
expect(if_called_by_name, X, call_module(if(user:p(Y), X = Y, X = none), user, x), [1, 2, 3]).
expect(caret_called_by_name, X, call_module(_^(user:p(X)), user, x), [1, 2, 3]).

% A meta-called body is checked as a whole before anything runs; the
% culprit is the whole body.
expect(body_fail_first, F, (G = (fail, 1), error_of(call(G), F)), [type_error(callable, (fail, 1))]).
expect(body_nothing_runs, L,
       (log_reset, G = (log(ran), 1), error_of(call(G), _), logged(L)), [[]]).
expect(body_disjunction, F, (G = (1 ; true), error_of(call(G), F)), [type_error(callable, (1 ; true))]).
expect(body_if_then_else, F, (G = (true -> fail ; 3), error_of(call(G), F)), [type_error(callable, (true -> fail ; 3))]).
expect(body_soft_cut, F, (G = (fail *-> true ; 3.0), error_of(call(G), F)), [type_error(callable, (fail *-> true ; 3.0))]).
expect(body_if3, F, (G = if(fail, 1, true), error_of(call(G), F)), [type_error(callable, if(fail, 1, true))]).
expect(body_qualified, F, (G = (fail, user:1), error_of(call(G), F)), [type_error(callable, (fail, user:1))]).
expect(body_once, F, (G = (fail, 1), error_of(once(G), F)), [type_error(callable, (fail, 1))]).
expect(body_negation, F, (G = (fail, 1), error_of(\+ G, F)), [type_error(callable, (fail, 1))]).
expect(body_catch, F, (G = (fail, 1), error_of(catch(G, nothing, true), F)), [type_error(callable, (fail, 1))]).
expect(body_call_module, F, (error_of(call_module((fail, 1), user, x), F)), [type_error(callable, (fail, 1))]).
% \+ and ^ run their goal as call/1 does: the goal is the culprit when
% they are reached, and not before.
expect(body_inner_negation, F, (G = (true, \+ 1), error_of(call(G), F)), [type_error(callable, 1)]).
expect(body_inner_negation_not_reached, R, (G = (fail, \+ 1), (call(G) -> R = yes ; R = no)), [no]).
expect(body_variable_goal, R, (G = (fail, _), (call(G) -> R = yes ; R = no)), [no]).
test(body_deep_checked) :-
        deep_body(2000, B), G = (fail, B),
        catch(call(G), error(type_error(callable, C), _), true), C == G.
test(body_cyclic_runs) :- G = (fail, G), \+ call(G).
deep_body(0, 1) :- !.
deep_body(N, (true, B)) :- N1 is N - 1, deep_body(N1, B).
