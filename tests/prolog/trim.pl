% Trimming memory in the middle of a query: level 2 gives back the stack
% space no longer in use, moving the stacks under the running query, whose
% environments, choicepoints and terms must come through unharmed.

build(0, []) :- !.
build(N, [N|T]) :- N1 is N - 1, build(N1, T).

sum([], S, S).
sum([X|Xs], S0, S) :- S1 is S0 + X, sum(Xs, S1, S).

% Grows the heap far (a list of two million elements), then drops it.
grow_and_drop :- \+ \+ ( build(2000000, L), L = [_|_] ).

alt(1).
alt(2).

test(trim_after_the_heap_grew_keeps_the_live_terms) :-
        build(1000, Keep),
        grow_and_drop,
        prolog:'$trimcore'(2),
        sum(Keep, 0, S), S =:= 500500,
        build(100000, L2), sum(L2, 0, S2), S2 =:= 5000050000.

% A choicepoint of the query is kept, and backtracking into it after the
% move finds its saved state.
expect(trim_keeps_choicepoints, X-S,
       ( alt(X), build(500, K), grow_and_drop, prolog:'$trimcore'(2), sum(K, 0, S) ),
       [1-125250, 2-125250]).

% Trimming again and again, with nothing to give back, changes nothing.
test(trim_repeatedly) :-
        build(300, K),
        prolog:'$trimcore'(2), prolog:'$trimcore'(2), prolog:'$trimcore'(1),
        sum(K, 0, S), S =:= 45150.
