% Valid pairs and the covering constraints.
%
% The matrix is a list of columns, one per model variable, each a list of
% R cells (one per row, that is per configuration).  Every valid pair
% [a, b] of two model variables Vi, Vj (i < j) gets a pair-index variable
% PI, the row that holds it, tied to columns i and j by a pw constraint;
% every row is held to the model by a ctrLigne constraint.
%
% A pair is valid when some valid configuration holds it: propagation of
% Vi = a first rules out values cheaply, then a search for a witness
% confirms what propagation admits.  Every witness found is remembered
% with all the pairs it holds (witnessed/3), so most pairs need no search
% of their own.  A value that propagation rejects outright is in no valid
% pair and is skipped.
%
% p1/1 carries a result out of a double negation (\+ \+), which undoes
% every binding and domain change; it holds no clause between calls.
%
% Callers: the driver (app/driver.pl); the hook clauses of
% app/feature_model.pl run pw_solver/6 and ctrLigne_solver/5.

:- use_module(library(clpfd)).

:- op(700, xfx, [in, in_set]).
:- op(550, xfx, ..).
:- use_module(library(lists)).

:- dynamic p1/1.
:- dynamic witnessed/3.

% ---- Enumeration ----

% contraintePaire(+Matrix, +Vars, -PairIdx, +Model): the pair-index
% variables of every valid pair, in the order: variable i, value of Vi,
% later variable j, value of Vj.  Model is model(Vars, Aux, Most): a
% witness search labels Vars and Aux; Most becomes the largest number of
% valid pairs of two variables.
contraintePaire(Matrix, Vars, PairIdx, model(Vars, Aux, Most)) :-
        Vars = [_|_],
        retractall(witnessed(_, _, _)),
        length(Vars, N),
        pairs_from(Matrix, Vars, 1, N, model(Vars, Aux), PairIdx, [], 0, Most),
        retractall(witnessed(_, _, _)).

pairs_from([_], [_], _, _, _, Ps, Ps, Most, Most) :- !.
pairs_from([Ci|Cs], [Vi|Vs], I, N, Model, Ps, Tail, Most0, Most) :-
        fd_dom(Vi, R), range_to_fdset(R, S), fdset_to_list(S, As),
        zeros(Vs, Counts0),
        pairs_of_values(As, Ci, Cs, Vi, Vs, I, N, Model, Ps, Ps1, Counts0, Counts),
        largest(Counts, Most0, Most1),
        I1 is I + 1,
        pairs_from(Cs, Vs, I1, N, Model, Ps1, Tail, Most1, Most).

largest([], M, M).
largest([X|Xs], M0, M) :- M1 is max(X, M0), largest(Xs, M1, M).

zeros([], []).
zeros([_|Xs], [0|Zs]) :- zeros(Xs, Zs).

% Counts: the number of pairs so far with each later variable.
pairs_of_values([], _, _, _, _, _, _, _, Ps, Ps, Counts, Counts).
pairs_of_values([A|As], Ci, Cs, Vi, Vs, I, N, Model, Ps, Tail, Counts0, Counts) :-
        retractall(p1(_)),
        J is I + 1,
        (   \+ \+ ( Vi = A,
                    later_pairs(Vs, J, A, I, N, Model, Pairs),
                    assert(p1(Pairs)) )
        ->  p1(Pairs), retractall(p1(_)),
            post_pairs(Cs, Pairs, Ci, Ps, Ps1),
            add_counts(Pairs, Counts0, Counts1)
        ;   Ps1 = Ps, Counts1 = Counts0      % a dead value: in no valid pair
        ),
        pairs_of_values(As, Ci, Cs, Vi, Vs, I, N, Model, Ps1, Tail, Counts1, Counts).

add_counts([], [], []).
add_counts([Ps|Pss], [C0|Cs0], [C|Cs]) :-
        length(Ps, K), C is C0 + K,
        add_counts(Pss, Cs0, Cs).

% later_pairs(+Vs, +J, +A, +I, +N, +Model, -Pairs): with Vi = A posted,
% the list, per later variable Vj (J on), of the confirmed pairs [A, B].
later_pairs([], _, _, _, _, _, []).
later_pairs([Vj|Vs], J, A, I, N, Model, [Ps|Pss]) :-
        fd_dom(Vj, R), range_to_fdset(R, S), fdset_to_list(S, Bs),
        Key is I * (N + 1) + J,
        confirmed(Bs, Vj, Key, A, Model, Ps),
        J1 is J + 1,
        later_pairs(Vs, J1, A, I, N, Model, Pss).

confirmed([], _, _, _, _, []).
confirmed([B|Bs], Vj, Key, A, Model, Ps) :-
        (   witness(Vj, B, Key, A, Model) -> Ps = [[A, B]|Ps1] ; Ps = Ps1 ),
        confirmed(Bs, Vj, Key, A, Model, Ps1).

% witness(Vj, B, Key, A, Model): a valid configuration holds Vi = A (posted)
% and Vj = B: one remembered, or one searched for and then remembered with
% every pair it holds.
witness(_, B, Key, A, _) :- witnessed(Key, A, B), !.
witness(Vj, B, _, _, model(Vars, Aux)) :-
        \+ \+ ( Vj = B,
                append(Vars, Aux, All),
                label_leftmost(All), !,
                remember_witness(Vars, 1) ).

% label_leftmost(+Vars): the first assignment, leftmost variable first,
% smallest value first.
label_leftmost([]).
label_leftmost([X|Xs]) :-
        (   integer(X) -> true
        ;   fd_set(X, S), fdset_to_list(S, Vs), value_of(X, Vs)
        ),
        label_leftmost(Xs).

value_of(X, [X|_]).
value_of(X, [_|Xs]) :- value_of(X, Xs).

remember_witness([], _).
remember_witness([V|Vs], I) :-
        length(Vs, M), N is I + M,
        J is I + 1,
        remember_pairs(Vs, V, I, J, N),
        remember_witness(Vs, J).

remember_pairs([], _, _, _, _).
remember_pairs([W|Ws], V, I, J, N) :-
        Key is I * (N + 1) + J,
        (   witnessed(Key, V, W) -> true ; assertz(witnessed(Key, V, W)) ),
        J1 is J + 1,
        remember_pairs(Ws, V, I, J1, N).

% post_pairs(+Cs, +Pairs, +Ci, -Ps, ?Tail): a pair-index variable and a pw
% constraint per pair, column by column.
post_pairs([], [], _, Ps, Ps).
post_pairs([Cj|Cs], [Pairs|Pss], Ci, Ps, Tail) :-
        post_column_pairs(Pairs, Ci, Cj, Ps, Ps1),
        post_pairs(Cs, Pss, Ci, Ps1, Tail).

post_column_pairs([], _, _, Ps, Ps).
post_column_pairs([[A, B]|Pairs], Ci, Cj, [PI|Ps], Tail) :-
        pairwise(PI, (Ci, Cj), (A, B)),
        post_column_pairs(Pairs, Ci, Cj, Ps, Tail).

% pairwise(-PI, +(Ci, Cj), +(A, B)): PI is the row where column Ci holds A
% and column Cj holds B.
pairwise(PI, (Ci, Cj), (A, B)) :-
        is_list(Ci), is_list(Cj),
        minmax_susps(Ci, S1, S2, N1),
        minmax_susps(Cj, S2, [], N2),
        N1 == N2,
        PI in 1..N1, !,
        fd_global(user:pw(PI, Ci, Cj, A, B), state, [dom(PI)|S1]).

minmax_susps([], S, S, 0).
minmax_susps([X|Xs], [minmax(X)|S], T, N) :-
        minmax_susps(Xs, S, T, N0),
        N is N0 + 1.

% pw_solver(PI, C1, C2, A, B, Acts): the rows left to PI are those whose
% cell of C1 can hold A and whose cell of C2 can hold B.
pw_solver(PI, C1, C2, A, B, Acts) :-
        integer(PI), !,
        nth1(PI, C1, E1), nth1(PI, C2, E2),
        Acts = [exit, call(A = E1), call(B = E2)].
pw_solver(PI, C1, C2, A, B, Acts) :-
        fd_set(PI, RS), fd_set(A, SA), fd_set(B, SB),
        fdset_to_list(RS, Rows),
        empty_fdset(E),
        pw_rows(Rows, 1, C1, C2, SA, SB, RS, RS2, E, UA, E, UB),
        fdset_intersection(SA, UA, SA2),
        fdset_intersection(SB, UB, SB2),
        (   ( empty_fdset(RS2) ; empty_fdset(SA2) ; empty_fdset(SB2) ) -> Acts = [fail]
        ;   fdset_singleton(RS2, I) ->
            nth1(I, C1, E1), nth1(I, C2, E2),
            Acts = [exit, call(PI = I), call(A = E1), call(B = E2)]
        ;   Acts = [PI in_set RS2, A in_set SA2, B in_set SB2]
        ).

% pw_rows(+Rows, +R, +C1, +C2, ...): walks the columns from row R down to
% each row of Rows (ascending).  A row goes when its cell of C1 cannot be
% A or its cell of C2 cannot be B; the cells' sets that are kept are
% gathered into UA and UB (a row dropped by the first test still adds
% its C2 cell to UB when the second keeps it).
pw_rows([], _, _, _, _, _, RS, RS, UA, UA, UB, UB).
pw_rows([I|Is], R, C1, C2, SA, SB, RS0, RS, UA0, UA, UB0, UB) :-
        Skip is I - R,
        skip_cells(Skip, C1, [X1|C1r]),
        skip_cells(Skip, C2, [X2|C2r]),
        fd_set(X1, S1), fd_set(X2, S2),
        (   fdset_disjoint(S1, SA) -> fdset_del_element(RS0, I, RS1), UA1 = UA0
        ;   RS1 = RS0, fdset_union(UA0, S1, UA1)
        ),
        (   fdset_disjoint(S2, SB) -> fdset_del_element(RS1, I, RS2), UB1 = UB0
        ;   RS2 = RS1, fdset_union(UB0, S2, UB1)
        ),
        R1 is I + 1,
        pw_rows(Is, R1, C1r, C2r, SA, SB, RS2, RS, UA1, UA, UB1, UB).

skip_cells(0, L, L) :- !.
skip_cells(K, [_|L0], L) :- K1 is K - 1, skip_cells(K1, L0, L).

% ---- Rows ----

% contrainteFD(+Matrix, +Vars, +Aux): a ctrLigne constraint per row, the
% last row first.
contrainteFD(Matrix, Vars, Aux) :-
        Matrix = [C|_],
        length(C, R),
        rows_down(R, Matrix, Vars, Aux).

rows_down(0, _, _, _) :- !.
rows_down(I, Matrix, Vars, Aux) :-
        row(I, Matrix, Row),
        ctrLigne(Row, Aux, Vars),
        I1 is I - 1,
        rows_down(I1, Matrix, Vars, Aux).

% row(+I, +Matrix, -Row): cell I of every column.
row(_, [], []).
row(I, [C|Cs], [X|Xs]) :- nth1(I, C, X), row(I, Cs, Xs).

ctrLigne(Row, X, Vars) :-
        dom_susps(Row, Susp),
        fd_global(user:ctrLigne(Row, X, Vars), state(Row), Susp).

dom_susps([], []).
dom_susps([X|Xs], [dom(X)|S]) :- dom_susps(Xs, S).

% ctrLigne_solver(Row, Row2, Aux, Vars, Acts): every cell of Row keeps
% only what the model allows once the row's domains are the model
% variables' domains, and some valid configuration (with values of the
% auxiliary variables Aux) must still complete the row: propagation alone
% admits rows that no configuration completes, and a search that fills
% such a row would only find out much later.  The model variables are
% narrowed to the cells' domains (rather than unified with the cells,
% which would wake every constraint on the cells) under a double
% negation; the domains come back through p1/1.
ctrLigne_solver(Row, Row, Aux, Vars, Acts) :-
        retractall(p1(_)),
        (   \+ \+ ( narrow_to(Row, Vars),
                    assert(p1(Vars)),
                    append(Vars, Aux, All),
                    label_leftmost(All), ! )
        ->  p1(Copy), retractall(p1(_)),
            row_actions(Row, Copy, Acts0, K),
            (   K =:= 0 -> Acts = [exit|Acts0] ; Acts = Acts0 )
        ;   retractall(p1(_)),
            Acts = [fail]
        ).

narrow_to([], []).
narrow_to([X|Xs], [V|Vs]) :-
        fd_set(X, S), V in_set S,
        narrow_to(Xs, Vs).

row_actions([], [], [], 0).
row_actions([X|Xs], [Y|Ys], [X in_set S|Acts], K) :-
        fd_set(Y, S),
        row_actions(Xs, Ys, Acts, K0),
        (   number(Y) -> K = K0 ; K is K0 + 1 ).
