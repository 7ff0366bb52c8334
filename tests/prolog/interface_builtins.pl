% The interface's built-ins that Prolog reaches: the predefined term
% references by index and by name ($ref_term/2), environment values
% ($getenv/2) and the platform name.

% The four named slots hold '$mutable'(0, 0) at start-up; slots 0 to 4
% and 9 fresh variables.
expect(named_slots, K-V, (member_(K, [clpfd, tessik, global, reserved]), prolog:'$ref_term'(K, V)),
       [clpfd-'$mutable'(0,0), tessik-'$mutable'(0,0), global-'$mutable'(0,0), reserved-'$mutable'(0,0)]).
test(index_slots_are_the_named_ones) :-
        prolog:'$ref_term'(5, A), prolog:'$ref_term'(clpfd, B), A == B,
        prolog:'$ref_term'(8, C), prolog:'$ref_term'(reserved, D), C == D.
test(variable_slots) :-
        prolog:'$ref_term'(0, V0), var(V0), prolog:'$ref_term'(9, V9), var(V9), V0 \== V9.
% Other keys fail: unknown names, negative indices, indices past the
% slots in use, non-keys.
expect(bad_keys_fail, K, (member_(K, [foo, -1, 100000, 1.0, f(x)]), prolog:'$ref_term'(K, _)), []).
% A slot's mutable can be updated and is seen again by name.
test(mutable_slot_updates) :-
        prolog:'$ref_term'(global, M),
        update_mutable(seen, M),
        prolog:'$ref_term'(global, M2), get_mutable(V, M2), V == seen.

test(getenv_of_a_set_variable) :- prolog:'$getenv'('PATH', V), atom(V).
test(getenv_of_an_unset_variable_fails) :- \+ prolog:'$getenv'('TRELIX_SURELY_NOT_SET_XYZ', _).
test(getenv_needs_an_atom) :- \+ prolog:'$getenv'(_, _), \+ prolog:'$getenv'(3, _).
expect(platform_name, N, prolog:'$platform_name'(N), ['x86-linux-glibc2.7']).

member_(X, [X|_]).
member_(X, [_|T]) :- member_(X, T).
