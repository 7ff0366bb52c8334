% The atom table under pressure: atoms made and dropped by the million are
% collected as the table fills, and a query that really fills the table
% gets a resource error it can catch, after which the runtime goes on.

% A new atom for each N >= 1000: the text for an unknown system error.
new_atom(N, A) :- prolog:'$error_message'(N, A).

between(L, H, L) :- L =< H.
between(L, H, X) :- L < H, L1 is L + 1, between(L1, H, X).

% More atoms than the table can hold, each one garbage once it is made.
test(garbage_atoms_are_collected) :-
        \+ ( between(1000, 1200000, N), new_atom(N, _), fail ),
        new_atom(3000000, A), atom(A).

% Every atom made is held in a list: the table fills up.
hold(N, H, []) :- N > H, !.
hold(N, H, [A|As]) :- new_atom(N, A), N1 is N + 1, hold(N1, H, As).

test(a_full_table_is_a_resource_error_and_the_runtime_goes_on) :-
        prolog:'$agc_margin'(M, 200000),
        catch(hold(1000, 1200000, _), error(resource_error(R), _), true),
        prolog:'$agc_margin'(_, M),
        R == atoms,
        new_atom(5000000, A), atom(A),
        \+ ( between(1000, 100000, N), new_atom(N, _), fail ).
