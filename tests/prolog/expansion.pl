% The loader's expansion hooks: term_expansion/2 of user (one term for
% several, or for none), goal_expansion/5 of the module that defines a
% goal's predicate (in clause bodies, through control constructs, again
% on its own result, and in meta-calls), and prolog_load_context/2.

:- dynamic(load_info/2).
:- prolog_load_context(module, M), prolog_load_context(source, F), assertz(load_info(M, F)).

expect(load_context_in_directive, M, (load_info(M, F), atom(F)), [user]).
expect(load_context_outside_a_load, no, \+ prolog_load_context(module, _), [no]).

term_expansion(twice(C), [C, C]).
term_expansion(dropped(_), []).
term_expansion(renamed(X), renamed_to(X)).

twice(fact(1)).
dropped(fact(2)).
renamed(fact(3)).

expect(term_expansion_to_a_list, X, fact(X), [1, 1]).
expect(term_expansion_to_nothing, no, \+ current_predicate(dropped/1), [no]).
expect(term_expansion_to_one_term, X, renamed_to(X), [fact(3)]).

goal_expansion(old_name(X), _, user, new_name(X), _).
goal_expansion(step(0, X), _, _, (X = done), _).
goal_expansion(step(N, X), _, _, step(N1, X), _) :- integer(N), N > 0, N1 is N - 1.

old_name(not_expanded).
new_name(expanded).
step(_, not_expanded).

plain(X) :- old_name(X).
in_control(X, Y) :- ( old_name(X) -> \+ old_name(y) ; true ), ( fail ; old_name(Y) ).
repeated(X) :- step(3, X).
qualified(X) :- user:old_name(X).

expect(goal_expansion_plain_goal, X, plain(X), [expanded]).
expect(goal_expansion_in_control_constructs, X-Y, in_control(X, Y), [expanded-expanded]).
expect(goal_expansion_repeated_on_result, X, repeated(X), [done]).
expect(goal_expansion_qualified_goal, X, qualified(X), [expanded]).
expect(goal_expansion_in_meta_call, X, (G = old_name(X), call(G)), [expanded]).
