% case/3,4 and table/2,3 (library(clpfd)): the values left are exactly
% those of some accepted row (against brute force on random small
% tables), after posting, after later changes and after backtracking; the
% per-column prune and wake-up choices; entailment; the graph checks and
% argument errors.

:- use_module(library(clpfd)).

mem(X, [X|_]).
mem(X, [_|Xs]) :- mem(X, Xs).

% lab(+Vars): every assignment of Vars, values ascending, left to right.
lab([]).
lab([X|Xs]) :- fd_set(X, S), fdset_to_list(S, Vs), mem(X, Vs), lab(Xs).

dom(X, D) :- ( integer(X) -> D = X ; fd_dom(X, D) ).
doms([], []).
doms([X|Xs], [D|Ds]) :- dom(X, D), doms(Xs, Ds).

values(X, Vs) :- ( integer(X) -> Vs = [X] ; fd_set(X, S), fdset_to_list(S, Vs) ).

% ---- Random small tables ----

next(S0, S) :- S is (S0 * 1103515245 + 12345) mod 2147483648.
pick(S0, N, V, S) :- next(S0, S), V is (S >> 8) mod N.

% random_row(+S0, +N, -Row, -S): N elements within -2..3, some of them
% ranges.
random_row(S, 0, [], S) :- !.
random_row(S0, N, [E|Es], S) :-
        pick(S0, 6, A, S1), pick(S1, 5, K, S2),
        V is A - 2,
        (   K =:= 0 -> pick(S2, 3, W, S3), H is V + W, E = V..H
        ;   E = V, S3 = S2
        ),
        N1 is N - 1,
        random_row(S3, N1, Es, S).

random_rows(S, 0, _, [], S) :- !.
random_rows(S0, K, N, [R|Rs], S) :-
        random_row(S0, N, R, S1), K1 is K - 1, random_rows(S1, K1, N, Rs, S).

% random_dom(+S0, -Dom, -S): a domain within -3..4, often with a hole.
random_dom(S0, D, S) :-
        pick(S0, 8, A, S1), pick(S1, 8, B, S2), pick(S2, 3, K, S3), pick(S3, 8, H, S),
        Lo is min(A, B) - 3, Hi is max(A, B) - 3, Hole is H - 3,
        (   K =:= 0, Hole > Lo, Hole < Hi -> D = (Lo..Hi) /\ \ {Hole}
        ;   D = Lo..Hi
        ).

random_doms(S, [], S).
random_doms(S0, [X|Xs], S) :- random_dom(S0, D, S1), X in D, random_doms(S1, Xs, S).

% fits(+Values, +Row): the integers Values match Row element by element.
fits([], []).
fits([V|Vs], [E|Es]) :-
        (   integer(E) -> V =:= E ; E = Lo..Hi, V >= Lo, V =< Hi ),
        fits(Vs, Es).

% supported(+Vars, +Relation, -Sets): per variable the values that lie in
% some row of Relation that fits every variable's domain (brute force).
supported(Vars, Relation, Sets) :-
        findall(Vs, ( mem(Row, Relation), assignment(Vars, Vs), fits(Vs, Row) ), Sols),
        columns(Vars, Sols, Sets).

assignment([], []).
assignment([X|Xs], [V|Vs]) :- values(X, Ws), mem(V, Ws), assignment(Xs, Vs).

columns([], _, []).
columns([_|Xs], Sols, [Set|Sets]) :-
        heads(Sols, Hs, Tails), sort(Hs, Set), columns(Xs, Tails, Sets).

heads([], [], []).
heads([[H|T]|Rs], [H|Hs], [T|Ts]) :- heads(Rs, Hs, Ts).

all_values([], []).
all_values([X|Xs], [Vs|Vss]) :- values(X, Vs), all_values(Xs, Vss).

% consistent(+Tag, +Vars, +Relation): the domains of Vars are exactly the
% supported values (one tuple, so the table alone decides them).
consistent(Tag, Vars, Relation) :-
        supported(Vars, Relation, Expected),
        all_values(Vars, Got),
        (   Got == Expected -> true
        ;   writeq(Tag-Relation), nl, write('   expected '), writeq(Expected),
            write(' got '), writeq(Got), nl, fail
        ).

% One tuple: after posting exactly the supported values remain, or the
% posting fails when there are none; then, one random restriction after
% another (each a wake-up), the same holds.
dc_case(S0, S) :-
        pick(S0, 3, N0, S1), N is N0 + 1,
        pick(S1, 6, K, S2),
        random_rows(S2, K, N, Relation, S3),
        length(Vars, N),
        random_doms(S3, Vars, S4),
        supported(Vars, Relation, Expected),
        (   table([Vars], Relation)
        ->  consistent(post, Vars, Relation),
            restrict_steps(S4, 3, Vars, Relation, S)
        ;   S = S4,
            (   mem([], Expected) -> true
            ;   writeq(failed(Relation)), nl, fail
            )
        ).

% restrict_steps(+S0, +K, +Vars, +Relation, -S): K times, remove a random
% value from a random variable; the constraint follows (or fails exactly
% when no row fits any more).
restrict_steps(S, 0, _, _, S) :- !.
restrict_steps(S0, K, Vars, Relation, S) :-
        length(Vars, N),
        pick(S0, N, I, S1), pick(S1, 8, V0, S2), V is V0 - 3,
        nth0(I, Vars, X),
        (   X #\= V
        ->  consistent(step(X, V), Vars, Relation),
            K1 is K - 1,
            restrict_steps(S2, K1, Vars, Relation, S)
        ;   S = S2,
            (   supported_without(Vars, Relation, I, V) -> writeq(step_failed(Relation, I, V)), nl, fail
            ;   true
            )
        ).

supported_without(Vars, Relation, I, V) :-
        mem(Row, Relation), assignment(Vars, Vs), nth0(I, Vs, W), W =\= V, fits(Vs, Row), !.

nth0(0, [X|_], X) :- !.
nth0(I, [_|Xs], X) :- I1 is I - 1, nth0(I1, Xs, X).

dc_runs(S, 0) :- !, S > 0.
dc_runs(S0, K) :- dc_case(S0, S1), K1 is K - 1, dc_runs(S1, K1).

test(table_domain_consistent_random) :- dc_runs(7, 120).

% Several tuples sharing variables: the solutions are exactly those of
% generate-and-test.
solutions_case(S0, S) :-
        pick(S0, 3, K, S1), NT is K + 1,
        pick(S1, 5, R, S2), NR is R + 1,
        random_rows(S2, NR, 2, Relation, S3),
        length(Pool, 3),
        random_doms(S3, Pool, S4),
        tuples(S4, NT, Pool, Tuples, S),
        term_variables(Pool, Vars),
        doms(Vars, Doms),
        copy_term(Vars-Tuples-Doms, V1-T1-D1),
        findall(V1, ( ins(V1, D1), table(T1, Relation), lab(V1) ), S1s),
        copy_term(Vars-Tuples-Doms, V2-T2-D2),
        findall(V2, ( ins(V2, D2), lab(V2), rows_fit(T2, Relation) ), S2s),
        (   S1s == S2s -> true
        ;   writeq(Tuples-Relation-Doms), nl, writeq(S1s), nl, write('   expected '), writeq(S2s), nl, fail
        ).

ins([], []).
ins([X|Xs], [D|Ds]) :- X in D, ins(Xs, Ds).

tuples(S, 0, _, [], S) :- !.
tuples(S0, K, Pool, [[A, B]|Ts], S) :-
        pick(S0, 3, I, S1), pick(S1, 3, J, S2),
        nth0(I, Pool, A), nth0(J, Pool, B),
        K1 is K - 1,
        tuples(S2, K1, Pool, Ts, S).

rows_fit([], _).
rows_fit([T|Ts], Relation) :- mem(Row, Relation), fits(T, Row), !, rows_fit(Ts, Relation).

solution_runs(_, 0) :- !.
solution_runs(S0, K) :- solutions_case(S0, S1), K1 is K - 1, solution_runs(S1, K1).

test(table_shared_variables_solutions) :- solution_runs(11, 60).

% ---- Backtracking ----

% A random sequence of restrictions tried in one branch and undone: then
% another sequence gives the domains a fresh posting with that sequence
% gives (the memos of the abandoned branch are not trusted).
backtrack_case(S0, S) :-
        pick(S0, 2, N0, S1), N is N0 + 2,
        pick(S1, 6, K, S2), NR is K + 2,
        random_rows(S2, NR, N, Relation, S3),
        removals(S3, 3, N, First, S4),
        removals(S4, 3, N, Second, S),
        length(Vars, N), ins_all(Vars, -3..4),
        (   table([Vars], Relation) ->
            (   apply_removals(First, Vars), fail ; true ),
            (   apply_removals(Second, Vars) -> all_values(Vars, Got) ; Got = fails ),
            length(Fresh, N), ins_all(Fresh, -3..4),
            table([Fresh], Relation),
            (   apply_removals(Second, Fresh) -> all_values(Fresh, Want) ; Want = fails ),
            (   Got == Want -> true
            ;   writeq(Relation-First-Second), nl, writeq(Got), write(' expected '), writeq(Want), nl, fail
            )
        ;   true
        ).

ins_all([], _).
ins_all([X|Xs], D) :- X in D, ins_all(Xs, D).

removals(S, 0, _, [], S) :- !.
removals(S0, K, N, [I-V|Rs], S) :-
        pick(S0, N, I, S1), pick(S1, 8, V0, S2), V is V0 - 3,
        K1 is K - 1,
        removals(S2, K1, N, Rs, S).

apply_removals([], _).
apply_removals([I-V|Rs], Vars) :- nth0(I, Vars, X), X #\= V, apply_removals(Rs, Vars).

backtrack_runs(_, 0) :- !.
backtrack_runs(S0, K) :- backtrack_case(S0, S1), K1 is K - 1, backtrack_runs(S1, K1).

test(table_backtrack_then_propagate_like_fresh) :- backtrack_runs(5, 100).

% Every solution by labeling, after the search backtracked over the
% constraint many times, is a row.
test(table_labeling_all_solutions) :-
        Rel = [[1,2,3],[1,3,2],[2,1,3],[2,3,1],[3,1,2],[3,2,1],[1,1,1]],
        findall([A,B,C], ( [A,B,C] = L, ins_all(L, 0..4), table([L], Rel), lab(L) ), Sols),
        sort(Rel, Want),
        Sols == Want.

% The count of open rows is restored by backtracking: a row fixed in a
% branch that failed is open again, so fixing the other row does not end
% the constraint while the first can still break it.
test(table_open_rows_restored_on_backtracking) :-
        ins_all([X, Y, Z, W], 0..1),
        table([[X, Y], [Z, W]], [[0, 0], [1, 1]]),
        (   X = 0, Y = 0, fail ; true ),
        Z = 0, W = 0,
        X = 0,
        Y == 0,
        \+ Y = 1.

% Entailment: once every row is fixed and accepted the constraint is done.
test(table_entailed_when_all_rows_fixed) :-
        ins_all([X, Y], 0..3),
        table([[X, Y], [Y, X]], [[1, 2], [2, 1], [3, 3]]),
        fd_statistics(entailments, _),
        X = 1,
        Y == 2,
        fd_statistics(entailments, E), E >= 1.

expect(table_edge_cases, R,
       (   mem(G, [table([[X]], []),                      % no row
                   table([], [[1]]),                      % no tuple
                   table([[]], [[]]),                     % zero columns, one row
                   table([[]], []),                       % zero columns, no row
                   table([[X]], [[5..3]]),                % an empty range
                   table([[X]], [[2..4], [7]]),           % ranges
                   table([[X, 5]], [[1, 5], [2, 6]]),     % an integer in a tuple
                   table([[X, X]], [[1, 2], [3, 3]])]),   % one variable twice
           (   X in 0..9, call(G) -> dom(X, D), R = yes(D) ; R = no )
       ),
       [no, yes(0..9), yes(0..9), no, no, yes((2..4)\/{7}), yes(1), yes(3)]).

expect(table_errors, E,
       (   mem(G, [table(_, [[1]]), table([a], [[1]]), table([[a]], [[1]]), table([[_]], [[a]]),
                   table([[_]], [[1, 2]]), table([[_], [_, _]], [[1]]), table([[_]], [[_]]),
                   table([[_]], [[1]], [foo]), table([[_]], [[1]], [on(nope)])]),
           catch(G, error(E0, _), true),
           ( var(E0) -> E = none ; functor(E0, E, _) )
       ),
       [instantiation_error, type_error, type_error, type_error, domain_error, domain_error,
        instantiation_error, domain_error, domain_error]).

% prune(minmax): only the bounds move; prune(val): fixed only when one
% supported value is left; prune(min), prune(max): one bound only.
expect(table_prune_kinds, R,
       (   mem(P, [dom, minmax, val, min, max]),
           X in 0..9, Y in 0..9,
           table([[X, Y]], [[1, 5], [4, 5], [7, 6]], [prune(P)]),
           Y #\= 6,
           dom(X, DX), dom(Y, DY), R = P:DX/DY
       ),
       [dom:({1}\/{4})/5, minmax:(1..4)/5, val:(0..9)/5, min:(1..9)/({5}\/(7..9)), max:(0..4)/(0..5)]).

% on(val): a change that fixes nothing does not wake the constraint.
test(table_on_val_waits_for_fix) :-
        X in 0..9, Y in 0..9,
        table([[X, Y]], [[1, 5], [4, 5], [7, 6], [8, 7]], [on(val)]),
        fd_dom(X, {1}\/{4}\/(7..8)),
        Y #\= 6,
        fd_dom(X, {1}\/{4}\/(7..8)),
        Y = 5,
        fd_dom(X, {1}\/{4}).

% ---- case/3,4 ----

% A graph over f(X, Y, Z) whose column order differs from the template's:
% Y first, then X, then Z; nodes shared by two parents.
graph([node(r, Y, [1-a, (2..3)-b]),
       node(a, X, [(0..1)-c]),
       node(b, X, [2-c, 5-d]),
       node(c, Z, [7]),
       node(d, Z, [(8..9)])], X, Y, Z).

test(case_solutions_against_brute_force) :-
        graph(Dag, X, Y, Z),
        findall([X, Y, Z], ( ins_all([X, Y, Z], 0..9), case(f(X, Y, Z), [f(X, Y, Z)], Dag), lab([X, Y, Z]) ), Sols),
        Sols == [[0,1,7], [1,1,7], [2,2,7], [2,3,7], [5,2,8], [5,2,9], [5,3,8], [5,3,9]].

expect(case_pruning, R,
       (   graph(Dag, X, Y, Z),
           mem(Step, [true, Z = 8, Y = 1, X = 2]),
           ins_all([A, B, C], 0..9),
           case(f(X, Y, Z), [f(A, B, C)], Dag),
           copy_term(f(X, Y, Z)-Step, f(A, B, C)-S), call(S),
           doms([A, B, C], R)
       ),
       [[(0..2)\/{5}, 1..3, 7..9], [5, 2..3, 8], [0..1, 1, 7], [2, 2..3, 7]]).

% A root without children accepts nothing; with no tuple nothing is
% posted.
expect(case_edge_cases, R,
       (   mem(G, [case(f(X), [f(A)], [node(0, X, [])]),
                   case(f(X), [], [node(0, X, [])]),
                   case(f(X), [f(A), f(3)], [node(0, X, [(1..4)])]),
                   case(f(X), [f(A)], [node(0, X, [(inf..2), (5..sup)])], [prune(minmax(X))])]),
           A in 0..9,
           (   call(G) -> dom(A, D), R = yes(D) ; R = no )
       ),
       [no, yes(0..9), yes(1..4), yes(0..9)]).

expect(case_errors, E,
       (   mem(G, [case(_, [], [node(0, _, [1])]),
                   case(f(X, X), [], [node(0, X, [1])]),
                   case(f(X), [g(1)], [node(0, X, [1])]),
                   case(f(X), [f(a)], [node(0, X, [1])]),
                   case(f(X), [f(1)], []),
                   case(f(X), [f(1)], [node(0, X, [1, 1..2])]),          % overlapping successors
                   case(f(X), [f(1)], [node(0, X, [1-z])]),             % unknown node
                   case(f(X, Y), [f(1, 1)], [node(0, X, [1])]),          % Y never tested
                   case(f(X, Y), [f(1, 1)], [node(0, X, [1-1]), node(1, X, [1])]), % X twice
                   case(f(X), [f(1)], [node(0, X, [1])], [on(foo(X))]),
                   case(f(X), [f(1)], [node(0, X, [1])], [prune(dom(_))])]),
           catch(G, error(E0, _), true),
           ( var(E0) -> E = none ; functor(E0, E, _) )
       ),
       [instantiation_error, domain_error, domain_error, type_error, domain_error, domain_error,
        domain_error, domain_error, domain_error, domain_error, domain_error]).

% A state posted directly through fd_global/3 with a graph the propagator
% cannot walk is refused, not run.
test(case_malformed_state_refused) :-
        X in 0..3,
        catch(fd_global(case(a, b, c, d),
                        case(case(1, 1, 1, [[X-_]], [node(0, 0, x, [(0..1)-5])], [dom], [dom]), 1, _, 0), []),
              error(domain_error(_, _), _), true).
