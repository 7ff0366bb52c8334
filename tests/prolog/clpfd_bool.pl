% bool/4 (library(clpfd)): every entry of the Boolean table against the
% truth tables of the eight connectives, at posting and on later runs,
% aliased arguments, and the argument checks (a non-Boolean argument is
% refused or restricted, never read as another entry).  The reification
% front end built on it is tested in clpfd_reify.pl.

:- use_module(library(clpfd)).

mem(X, [X|_]).
mem(X, [_|Xs]) :- mem(X, Xs).

btw(L, H, L) :- L =< H.
btw(L, H, X) :- L < H, L1 is L + 1, btw(L1, H, X).

% lab(+Vars): every assignment of Vars, in the order given.
lab([]).
lab([X|Xs]) :- fd_set(X, S), fdset_to_list(S, Vs), mem(X, Vs), lab(Xs).

% truth(+Op, ?X, ?Y, ?Z): Z = Op(X, Y) over 0/1, by enumeration.
truth(Op, X, Y, Z) :- mem(X, [0, 1]), mem(Y, [0, 1]), op_value(Op, X, Y, Z).

op_value(0, X, Y, Z) :- Z is X /\ Y.
op_value(1, X, Y, Z) :- Z is X /\ (1 - Y).
op_value(2, X, Y, Z) :- Z is 1 - (X /\ Y).
op_value(3, X, Y, Z) :- Z is X \/ Y.
op_value(4, X, Y, Z) :- Z is X \/ (1 - Y).
op_value(5, X, Y, Z) :- Z is 1 - (X \/ Y).
op_value(6, X, Y, Z) :- Z is (X + Y) mod 2.
op_value(7, X, Y, Z) :- Z is 1 - (X + Y) mod 2.

% state(+S, -V): an argument in state S: 0, 1, or a fresh variable.
state(u, V) :- V in 0..1.
state(0, 0).
state(1, 1).

% expected(+Op, +[SX, SY, SZ], -Outcome): the complete propagation: fails,
% or the arguments' values (a variable where undecided) and whether the
% constraint is entailed.
expected(Op, Ss, Outcome) :-
        findall([X, Y, Z], ( truth(Op, X, Y, Z), fits(Ss, [X, Y, Z]) ), Sols),
        (   Sols == [] -> Outcome = fails
        ;   forced(Ss, 1, Sols, Vs),
            (   entailed(Op, Vs) -> E = entailed ; E = suspended ),
            Outcome = Vs-E
        ).

fits([], []).
fits([S|Ss], [V|Vs]) :- ( S == u -> true ; S =:= V ), fits(Ss, Vs).

% forced(+Ss, +I, +Sols, -Vs): the value of argument I onwards that every
% solution shares, else u.
forced([], _, _, []).
forced([_|Ss], I, Sols, [V|Vs]) :-
        findall(X, ( mem(S, Sols), nth(I, S, X) ), Xs),
        sort(Xs, Set),
        (   Set = [V0] -> V = V0 ; V = u ),
        I1 is I + 1,
        forced(Ss, I1, Sols, Vs).

entailed(Op, Vs) :-
        \+ ( instantiate(Vs, [X, Y, Z]), \+ op_value(Op, X, Y, Z) ).

instantiate([], []).
instantiate([V|Vs], [X|Xs]) :- ( V == u -> mem(X, [0, 1]) ; X = V ), instantiate(Vs, Xs).

nth(1, [X|_], X) :- !.
nth(N, [_|Xs], X) :- N1 is N - 1, nth(N1, Xs, X).

% got(+Op, +Ss, -Outcome): the same read off one posting.
got(Op, Ss, Outcome) :-
        mk_args(Ss, Args),
        Args = [X, Y, Z],
        fd_statistics(entailments, _),
        (   bool(Op, X, Y, Z) ->
            fd_statistics(entailments, N),
            values(Args, Vs),
            (   N > 0 -> E = entailed ; E = suspended ),
            Outcome = Vs-E
        ;   Outcome = fails
        ).

mk_args([], []).
mk_args([S|Ss], [V|Vs]) :- state(S, V), mk_args(Ss, Vs).

values([], []).
values([X|Xs], [V|Vs]) :- ( integer(X) -> V = X ; V = u ), values(Xs, Vs).

% All 216 entries: the operator and the three states chosen at posting;
% the prunings, failure and entailment are those of the truth table.
test(all_entries_against_the_truth_tables) :-
        findall(Op/Ss-Got, ( btw(0, 7, Op), states(Ss), got(Op, Ss, Got) ), Gots),
        findall(Op/Ss-Exp, ( btw(0, 7, Op), states(Ss), expected(Op, Ss, Exp) ), Exps),
        length(Gots, 216),
        compare_lists(Gots, Exps).

states([SX, SY, SZ]) :- mem(SX, [0, 1, u]), mem(SY, [0, 1, u]), mem(SZ, [0, 1, u]).

compare_lists([], []).
compare_lists([G|Gs], [E|Es]) :-
        (   G == E -> true
        ;   write('got '), writeq(G), write(' expected '), writeq(E), nl, fail
        ),
        compare_lists(Gs, Es).

% Fixing the variables one by one after posting (every order) leaves
% exactly the truth table's rows: the later runs read the right entries.
test(incremental_runs_give_the_truth_tables) :-
        forall(( btw(0, 7, Op), mem(Order, [[1, 2, 3], [1, 3, 2], [2, 3, 1], [3, 2, 1]]) ),
               (   findall([X, Y, Z],
                           ( Vs = [X, Y, Z], domain(Vs, 0, 1), bool(Op, X, Y, Z), ordered(Order, Vs, Ls), lab(Ls) ),
                           S0),
                   findall([X, Y, Z], truth(Op, X, Y, Z), T0),
                   msort(S0, S), msort(T0, T),
                   (   S == T -> true
                   ;   writeq(Op/Order-S), write(' expected '), writeq(T), nl, fail
                   )
               )).

ordered([], _, []).
ordered([I|Is], Vs, [V|Ws]) :- nth(I, Vs, V), ordered(Is, Vs, Ws).

% Aliased undecided arguments: the solutions left are exactly those of
% the truth table with the shared variable equal in both places, and a
% posting that can decide from the aliasing alone does.
test(aliased_arguments_keep_exactly_the_solutions) :-
        forall(( btw(0, 7, Op), mem(Shape, [xy, xz, yz, xyz]), mem(Other, [0, 1, u]) ),
               (   findall(Sol, ( alias(Shape, Other, Args, Sol), Args = [X, Y, Z], bool(Op, X, Y, Z), lab(Sol) ), S0),
                   findall(Sol, ( alias(Shape, Other, Args, Sol), Args = [X, Y, Z], lab(Sol), op_value(Op, X, Y, Z0), Z0 =:= Z ), T0),
                   msort(S0, S), msort(T0, T),
                   (   S == T -> true
                   ;   writeq(Op/Shape/Other-S), write(' expected '), writeq(T), nl, fail
                   )
               )).

% alias(+Shape, +Other, -Args, -Vars): the arguments with the shared
% variable A in the places Shape names, the third in state Other; Vars
% the variables to label.
alias(xy, O, [A, A, C], Vs) :- A in 0..1, state(O, C), vars([A, C], Vs).
alias(xz, O, [A, B, A], Vs) :- A in 0..1, state(O, B), vars([A, B], Vs).
alias(yz, O, [B, A, A], Vs) :- A in 0..1, state(O, B), vars([A, B], Vs).
alias(xyz, _, [A, A, A], [A]) :- A in 0..1.

vars([], []).
vars([X|Xs], Vs) :- ( integer(X) -> Vs = Vs1 ; Vs = [X|Vs1] ), vars(Xs, Vs1).

% What the aliasing decides at posting: Z fixed for equivalence of a
% variable with itself, failure for exclusive or with itself true, and
% nothing pruned where only the table of distinct variables applies.
expect(aliased_postings, R,
       (   mem(G, [7/xyz, 6/xy1, 0/x1yz, 2/xz, 5/yz]),
           alias_case(G, Vs, Goal),
           (   call(Goal) -> values(Vs, R0), R = G-R0 ; R = G-fails )
       ),
       [7/xyz-[1], 6/xy1-fails, 0/x1yz-[u], 2/xz-[1, 0], 5/yz-[1, 0]]).

alias_case(7/xyz, [A], bool(7, A, A, A)) :- A in 0..1.
alias_case(6/xy1, [A], bool(6, A, A, 1)) :- A in 0..1.
alias_case(0/x1yz, [A], bool(0, 1, A, A)) :- A in 0..1.
alias_case(2/xz, [A, B], bool(2, A, B, A)) :- A in 0..1, B in 0..1.
alias_case(5/yz, [A, B], bool(5, A, B, B)) :- A in 0..1, B in 0..1.

% Arguments: the operator a code 0..7; X, Y, Z integers 0 or 1 or
% variables, which are restricted to 0..1 (a value outside it would
% otherwise select another operator's entry).
expect(bool_errors, R,
       (   mem(G, [bool(_, _, _, _), bool(a, _, _, _), bool(8, _, _, _), bool(-1, _, _, _),
                   bool(0, 2, _, _), bool(3, _, -1, _), bool(6, _, _, 5), bool(0, a, _, _),
                   bool(0, _, f(x), _)]),
           catch(( call(G) -> R = succeeds ; R = fails ), error(E, _), R = E)
       ),
       [instantiation_error, type_error(integer, a), domain_error(bool_operator, 8),
        domain_error(bool_operator, -1), domain_error(boolean, 2), domain_error(boolean, -1),
        domain_error(boolean, 5), type_error(integer, a), type_error(integer, f(x))]).

expect(bool_restricts_to_booleans, R,
       (   mem(D, [0..5, -3..0, 1..9, 2..9]),
           X in D,
           (   bool(3, X, Y, Z) -> fd_dom(Y, DY), ( integer(X) -> R = D-X-DY ; fd_dom(X, DX), R = D-DX-DY ) ; R = D-fails )
       ),
       [(0..5)-(0..1)-(0..1), (-3..0)-0-(0..1), (1..9)-1-(0..1), (2..9)-fails]).
