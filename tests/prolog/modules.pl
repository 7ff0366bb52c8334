% Modules: a chain of use_module (user -> a -> b -> c), mutual use between
% a and b, an import list, the same predicate name defined differently in
% several modules, and calls qualified with a module name, including
% qualified control constructs.  The module files are in modules/.

:- use_module('modules/a').
:- use_module('modules/b', [b_one/1]).


helper(user).

% Not imported from b (the import list names only b_one/1): user's own.
b_two(user_version).

expect(chain_of_three_modules, X, a_calls_b(X), [leaf1, leaf2]).
expect(imported_definition_wins_in_user, X, same(X), [from_a]).
expect(qualified_same_name_b, X, b:same(X), [from_b]).
expect(qualified_same_name_c, X, c:same(X), [from_c]).
expect(local_helper_in_user, X, helper(X), [user]).
expect(local_helper_in_module, X, a_helper(X), [a]).
expect(module_calls_user_qualified, X, a_user(X), [user]).
expect(import_list_imports_named, X, b_one(X), [b_one]).
expect(import_list_leaves_others, X, b_two(X), [user_version]).
expect(qualified_call_to_unimported, X, b:b_two(X), [b_version]).
expect(qualified_call_to_unexported, X, c:c_hidden(X), [secret]).
expect(qualified_call_from_module_to_module, X, b:asks_a(X), [from_a]).
expect(qualified_disjunction, X, b:(hidden_p(X) ; hidden_q(X)), [p1, p2, q1]).
expect(qualified_conjunction, X-Y, b:(hidden_p(X), hidden_q(Y)), [p1-q1, p2-q1]).
expect(qualified_if_then_else, X, b:(hidden_q(q9) -> X = then ; hidden_p(X)), [p1, p2]).
expect(qualified_negation, X, (b:hidden_p(X), \+ b:hidden_q(X)), [p1, p2]).
expect(qualified_cut_cuts_the_clause, X, (b:(hidden_p(X), !) ; X = none), [p1]).
expect(nested_qualification, X, a:(b:hidden_q(X)), [q1]).
expect(qualified_goal_in_call, X, call(c:c_hidden, X), [secret]).
expect(mutual_recursion_between_modules, L, ping(s(s(s(0))), L), [[ping, pong, ping, pong]]).
expect(mutual_recursion_from_b, L, b:pong(s(s(0)), L), [[pong, ping, pong]]).

% A clause for another module's predicate (a hook, say) written here: the
% predicate is that module's, its body runs here.
c:hook_from_user(X) :- helper(X).
expect(qualified_head_body_runs_where_written, X, c:hook_from_user(X), [user]).
