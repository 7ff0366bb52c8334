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
expect(undefined_predicate, F, error_of(no_such_pred(1), F), [existence_error(procedure, user:no_such_pred/1)]).
expect(undefined_called, F, (G = nope, error_of(call(G, a), F)), [existence_error(procedure, user:nope/1)]).
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

% halt/1 and abort/0 raise the reserved exceptions the launcher decodes.
expect(halt_reserved, E, catch(halt(3), E, true), ['$reserved'(772)]).
expect(abort_reserved, E, catch(abort, E, true), ['$reserved'(3)]).

% A cut in the then-branch of a soft cut cuts the clause.
sc(X) :- ( p(X) *-> ! ; X = none ).
sc(4).
expect(soft_cut_then_cut_is_transparent, X, sc(X), [1]).

% The clean-up escape runs its goal once, ignoring its failure and its
% exceptions, and leaves no bindings.
expect(cleanup_goal_runs, X, (prolog:call_cleanup(user:p(Y)), var(Y), X = ok), [ok]).
expect(cleanup_goal_throws, X, (prolog:call_cleanup(user:throw(oops)), X = ok), [ok]).
expect(cleanup_goal_fails, X, (prolog:call_cleanup(user:fail), X = ok), [ok]).
