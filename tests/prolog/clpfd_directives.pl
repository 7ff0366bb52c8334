% Constraints posted by the directives of a file being loaded.  A
% directive's bindings are undone when it ends, and the constraints it
% left live are released with them: their native blocks hold global
% references to the variables' attributes, in the heap the loader gives
% back after the directive, so collections later in the load (and after
% it) must never find those references still registered.

:- use_module(library(clpfd)).

% fill(+N, -L): N small terms, to reuse the heap given back.
fill(0, []) :- !.
fill(N, [f(N, g(N), [N, N])|T]) :- N1 is N - 1, fill(N1, T).

% Left live: no constraint here is entailed when the directive ends.
:- X in 0..9, Y in 0..9, Z in 0..9,
   maximum(X, [X, Y, Z]), minimum(Y, [Y, Z, 3]),
   element(I, [X, Y, Z], W), W in 2..5, I in 1..2.

% Reuses the heap the directive above was given and collects it, within
% the load.
:- fill(2000, L), garbage_collect, length(L, 2000).

% Left live again, with a variable the later clauses never see.
:- domain([A, B], 1, 5), maximum(A, [A, B]), B in 4..5.

p(a(1, b(2), [c, d, e], "text", 3.5)).
p(a(2, b(3), [c, d, e], "text", 4.5)).

test(collections_after_directives_left_constraints) :-
        fill(3000, L), garbage_collect, fill(3000, L2), garbage_collect,
        length(L, 3000), length(L2, 3000),
        findall(N, p(a(N, _, _, _, _)), [1, 2]).

% The same constraints posted by a test item are live while it runs and
% propagate as usual; the runner undoes the item afterwards.
test(directive_constraints_propagate_as_usual) :-
        domain([A, B], 1, 5), maximum(A, [A, B]), B in 4..5,
        fd_dom(A, 4..5), garbage_collect, fd_dom(A, 4..5).
