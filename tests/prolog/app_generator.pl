% The generator's Prolog: every solver of the feature-model vocabulary on
% a table of cases (the actions and their order), the constraints posted
% and woken through the solver, the pair enumeration, pw and the row
% constraint on small matrices, and a row check nested in a running
% propagation.

:- include('../../app/feature_model.pl').
:- include('../../app/pairs.pl').
:- include('../../app/driver.pl').

% ---- Solver cases ----
%
% case(Name, Goal, Acts, Expected): Goal sets the domains up and runs a
% solver, giving Acts; Expected names the actions: abs(X) X absent,
% pres(X) X present, is(X, V) X in_set {V}, not(X, V) X in_set the
% complement of {V}, other actions as they are.

b(Xs) :- domain(Xs, -1, 0).

case(and_child_absent, (b([A,B,C]), B = -1, and_solver(A, [B,C], Acts)), Acts, [exit, abs(A), abs(B), abs(C)]).
case(and_parent_absent, (b([A,B,C]), A = -1, and_solver(A, [B,C], Acts)), Acts, [exit, abs(B), abs(C)]).
case(and_parent_present, (b([A,B,C]), A = 0, and_solver(A, [B,C], Acts)), Acts, [exit, pres(B), pres(C)]).
case(and_child_present, (b([A,B,C]), C = 0, and_solver(A, [B,C], Acts)), Acts, [exit, pres(A), pres(B), pres(C)]).
case(and_undecided, (b([A,B,C]), and_solver(A, [B,C], Acts)), Acts, []).
case(and_no_children_absent, (and_solver(-1, [], Acts)), Acts, [exit]).
case(and_no_children_present, (and_solver(0, [], Acts)), Acts, [exit]).
case(and_no_children_open, (b([A]), and_solver(A, [], Acts)), Acts, []).
case(mand_is_and, (b([A,B]), B = 0, mand_solver(A, [B], Acts)), Acts, [exit, pres(A), pres(B)]).
case(or_parent_absent, (b([A,B,C]), A = -1, or_solver(A, [B,C], _, Acts)), Acts, [exit, abs(B), abs(C)]).
case(or_two_present, (b([A]), A = 0, or_solver(A, [0,0,-1], _, Acts)), Acts, [exit]).
case(or_last_undecided, (b([A,B]), A = 0, or_solver(A, [-1,B], U, Acts)), U-Acts, [B]-[exit, pres(B)]).
case(or_single_child, (b([A,B]), A = 0, or_solver(A, [B], _, Acts)), Acts, [exit, pres(B)]).
case(or_child_present, (b([A,B]), or_solver(A, [0,B], _, Acts)), Acts, [exit, pres(A)]).
case(or_all_absent, (b([A]), or_solver(A, [-1,-1], _, Acts)), Acts, [exit, abs(A)]).
case(or_keeps_undecided, (b([A,B,C]), or_solver(A, [B,-1,C], U, Acts)), U-Acts, [B,C]-[]).
case(xor_parent_absent, (b([A,B]), A = -1, xor_solver(A, [B], _, Acts)), Acts, [exit, abs(B)]).
case(xor_two_present, (b([A]), xor_solver(A, [0,0], _, Acts)), Acts, [fail]).
case(xor_one_present, (b([A,B,C]), xor_solver(A, [B,0,C], _, Acts)), Acts, [exit, abs(B), abs(C), pres(A)]).
case(xor_last_one_left, (b([A,B]), A = 0, xor_solver(A, [-1,B], _, Acts)), Acts, [exit, pres(B), pres(A)]).
case(xor_all_absent, (b([A]), xor_solver(A, [-1,-1], _, Acts)), Acts, [exit, abs(A)]).
case(xor_undecided, (b([A,B,C]), xor_solver(A, [B,C], U, Acts)), U-Acts, [B,C]-[]).
case(opt_child_present, (b([A,B]), opt_solver(A, [B,0], Acts)), Acts, [exit, pres(A)]).
case(opt_parent_absent, (b([A,B]), A = -1, opt_solver(A, [B], Acts)), Acts, [exit, abs(B)]).
case(opt_parent_present, (b([A,B]), A = 0, opt_solver(A, [B], Acts)), Acts, [exit]).
case(opt_undecided, (b([A,B]), opt_solver(A, [B], Acts)), Acts, []).
case(cardinal_min_above_max, (b([P,X]), cardinal_solver(2, 1, P, [X], _, Acts)), Acts, [fail]).
case(cardinal_negative_min, (b([P,X]), cardinal_solver(-1, 1, P, [X], _, Acts)), Acts, [fail]).
case(cardinal_all_absent, (b([P]), cardinal_solver(1, 2, P, [-1,-1], _, Acts)), Acts, [exit, abs(P)]).
case(cardinal_present_parent_fills, (b([X]), cardinal_solver(2, 3, 0, [-1,0,-1,X], L, Acts)), L-Acts,
     [-1,0,-1,X]-[exit, is(X, 0)]).
case(cardinal_absent_parent, (b([X,Y]), cardinal_solver(1, 2, -1, [X,-1,Y], _, Acts)), Acts, [exit, abs(X), abs(Y)]).
case(cardinal_too_few_left, (b([P,X]), cardinal_solver(2, 2, P, [-1,-1,X], _, Acts)), Acts, [exit, abs(P), abs(X)]).
case(cardinal_max_reached, (b([P,X]), cardinal_solver(1, 1, P, [0,X], _, Acts)), Acts, [exit, is(P, 0), abs(X)]).
case(cardinal_undecided, (b([P,X,Y]), cardinal_solver(1, 2, P, [X,Y], _, Acts)), Acts, []).
% Mended: more present children than Max allow fail; a present child
% under an absent parent fails; with Min = 0 every child absent leaves
% the parent open, and so does Max = 0.
case(cardinal_more_present_than_max_fails, (b([P]), cardinal_solver(1, 1, P, [0,0], _, Acts)), Acts, [fail]).
case(cardinal_present_child_absent_parent_fails, (b([X]), cardinal_solver(1, 2, -1, [0,X], _, Acts)), Acts, [fail]).
case(cardinal_min0_all_absent_parent_open, (b([P]), cardinal_solver(0, 2, P, [-1,-1], _, Acts)), Acts, []).
case(cardinal_max0_parent_open, (b([P,X]), cardinal_solver(0, 0, P, [X], _, Acts)), Acts, [exit, abs(X)]).
case(require_a_present, (b([B]), require_solver(0, B, Acts)), Acts, [exit, is(B, 0)]).
case(require_b_absent, (b([A]), require_solver(A, -1, Acts)), Acts, [exit, abs(A)]).
case(require_a_absent, (b([B]), require_solver(-1, B, Acts)), Acts, [B in -1..0, exit]).
case(require_b_present, (b([A]), require_solver(A, 0, Acts)), Acts, [A in -1..0, exit]).
case(require_undecided, (b([A,B]), require_solver(A, B, Acts)), Acts, []).
case(require4_a_is_va, (B in 0..3, require_solver(2, 2, B, 1, Acts)), Acts, [exit, B = 1]).
case(require4_a_absent, (B in 0..3, require_solver(-1, 2, B, 1, Acts)), Acts, [exit]).
case(require4_b_is_vb, (A in -1..3, require_solver(A, 2, 1, 1, Acts)), Acts, [exit]).
% Mended: B unable to be VB excludes VA alone; a present A with another
% value stands.
case(require4_b_cannot_be_vb, (A in -1..3, B in 2..3, require_solver(A, 2, B, 1, Acts)), Acts, [exit, not(A, 2)]).
case(require4_b_absent, (A in -1..3, require_solver(A, 2, -1, 1, Acts)), Acts, [exit, not(A, 2)]).
case(require4_undecided, (A in -1..3, B in 0..3, require_solver(A, 2, B, 1, Acts)), Acts, []).
case(mutex_a_present, (b([B]), mutex_solver(0, B, Acts)), Acts, [exit, abs(B)]).
case(mutex_b_present, (b([A]), mutex_solver(A, 0, Acts)), Acts, [exit, abs(A)]).
case(mutex_undecided, (b([A,B]), mutex_solver(A, B, Acts)), Acts, []).
case(mutex4_a_is_va, (B in -1..3, mutex_solver(1, 1, B, 2, Acts)), Acts, [exit, abs(B)]).
case(mutex4_b_is_vb, (A in -1..3, mutex_solver(A, 1, 2, 2, Acts)), Acts, [exit, abs(A)]).
case(mutex4_undecided, (A in -1..3, B in -1..3, mutex_solver(A, 1, B, 2, Acts)), Acts, []).
case(mutex2_a_is_va, (B in -1..3, mutex_solver2(1, 1, B, 2, Acts)), Acts, [exit, not(B, 2)]).
case(mutex2_b_is_vb, (A in -1..3, mutex_solver2(A, 1, 2, 2, Acts)), Acts, [exit, not(A, 1)]).
case(mutex2_a_other_value, (B in -1..3, mutex_solver2(3, 1, B, 2, Acts)), Acts, [exit]).
case(mutex2_b_cannot_be_vb, (A in -1..3, B in 3..4, mutex_solver2(A, 1, B, 2, Acts)), Acts, [exit]).
case(mutex2_undecided, (A in -1..3, B in -1..3, mutex_solver2(A, 1, B, 2, Acts)), Acts, []).

named([], []).
named([X in_set S|As], [N|Ns]) :- !, set_name(X, S, N), named(As, Ns).
named([A|As], [A|Ns]) :- named(As, Ns).

set_name(X, [[-1|-1]], abs(X)) :- !.
set_name(X, [[inf|-2],[0|sup]], pres(X)) :- !.
set_name(X, [[V|V]], is(X, V)) :- !.
set_name(X, [[inf|W],[V|sup]], not(X, U)) :- U is W + 1, V =:= U + 1, !.
set_name(X, S, X in_set S).

% Every case, failures named.
test(solver_cases) :-
        findall(Name, (case(Name, Goal, Out, Expected),
                       \+ ( call(Goal), named_out(Out, Named), Named == Expected )), Failed),
        (   Failed == [] -> true ; write(failed_cases(Failed)), nl, fail ).

named_out(U-Acts, U-Named) :- !, named(Acts, Named).
named_out(Acts, Named) :- named(Acts, Named).

% ---- Posted constraints, woken by the solver ----

% or keeps the undecided children: once two are absent, the parent
% present makes the last one present; undone on backtracking.
test(or_posted_wakes_and_backtracks) :-
        b([A,B,C,D]), or(A, [B,C,D]),
        \+ \+ ( B = -1, C = -1, A = 0, D == 0 ),
        \+ \+ ( B = -1, C = -1, D = -1, A == -1 ),
        fd_dom(D, -1..0).

% xor: one child present makes the others absent and the parent present.
test(xor_posted) :-
        b([A,B,C,D]), xor(A, [B,C,D]),
        C = 0, A == 0, B == -1, D == -1.

test(xor_two_present_fails) :-
        b([A,B,C]), xor(A, [B,C]),
        \+ ( B = 0, C = 0 ).

% The group cardinality of a present parent, posted.
test(cardinal_posted) :-
        b([P,X,Y,Z]), cardinal(1, 2, P, [X,Y,Z]),
        \+ ( X = 0, Y = 0, Z = 0 ),
        \+ ( P = -1, X = 0 ),
        \+ ( P = 0, X = -1, Y = -1, Z = -1 ).

test(require_and_mutex_posted) :-
        b([A,B,C]), require(A, B), mutex(B, C),
        A = 0, B == 0, C == -1.

% ---- Pairs ----

% Two free Boolean variables: four pairs, in the order of the values.
test(pair_enumeration_order) :-
        b([A,B]), columns(2, 4, M), column_bounds(M, [A,B], 1),
        contraintePaire(M, [A,B], PIs, model([A,B], [], Most)),
        length(PIs, 4), Most == 4,
        findall(Row, ( nth1(K, PIs, PI), PI = 1, row(1, M, Row), K > 0 ), Rows),
        Rows == [[-1,-1], [-1,0], [0,-1], [0,0]].

% Three variables, one group: pairs by variable, value, later variable.
test(pair_enumeration_count_and_witness) :-
        domain([P,X,Y,Z], -1, 0), P = 0, cardinal(2, 2, P, [X,Y,Z]),
        columns(3, 5, M), column_bounds(M, [X,Y,Z], 1),
        contraintePaire(M, [X,Y,Z], PIs, model([X,Y,Z], [], Most)),
        length(PIs, 9), Most == 3.

test(dead_value_skipped) :-
        b([A,B,C]), and(A, [B]), mutex(A, B),
        fd_dom(A, -1..0),
        columns(3, 4, M), column_bounds(M, [A,B,C], 1),
        contraintePaire(M, [A,B,C], PIs, model([A,B,C], [], _)),
        length(PIs, 5).

test(one_variable_no_pairs) :-
        b([A]), contraintePaire([[_]], [A], PIs, model([A], [], _)), PIs == [].

test(no_variables_fails) :- \+ contraintePaire([], [], _, model([], [], _)).

% pw on a 3-row matrix: rows whose cells cannot hold the pair go.
test(pw_prunes_rows) :-
        C1 = [X1,X2,X3], C2 = [Y1,Y2,Y3], domain(C1, -1, 0), domain(C2, -1, 0),
        pairwise(PI, (C1, C2), (0, -1)),
        X1 = -1, fd_dom(PI, 2..3),
        Y3 = 0, PI == 2, X2 == 0, Y2 == -1,
        var(X3), var(Y1).

test(pw_no_row_fails) :-
        C1 = [X1,X2], C2 = [_,_], domain(C1, -1, 0), domain(C2, -1, 0),
        pairwise(_, (C1, C2), (0, 0)),
        \+ ( X1 = -1, X2 = -1 ).

test(pw_fixed_row_binds_cells) :-
        C1 = [_,X2], C2 = [_,Y2], domain(C1, -1, 0), domain(C2, -1, 0),
        pairwise(PI, (C1, C2), (-1, 0)),
        PI = 2, X2 == -1, Y2 == 0.

test(pairwise_unequal_columns_fails) :- \+ pairwise(_, ([_,_], [_]), (0, 0)).

% ctrLigne: a row takes what the model allows and ends once every cell
% is decided; a row the model rejects fails.
test(ctrLigne_row_check) :-
        b([A,B,C]), xor(A, [B,C]), A = 0,
        Row = [R1,R2], domain(Row, -1, 0),
        ctrLigne(Row, [], [B,C]),
        R1 = 0, R2 == -1,
        fd_dom(B, -1..0).

test(ctrLigne_rejects) :-
        b([A,B,C]), xor(A, [B,C]), A = 0,
        Row = [R1,R2], domain(Row, -1, 0),
        ctrLigne(Row, [], [B,C]),
        \+ ( R1 = -1, R2 = -1 ).

% A row check runs the model's propagation inside a running propagation
% (cells woken by a pw fixing its row); the outer run's results stand and
% backtracking undoes both.
test(row_check_nested_in_propagation) :-
        b([A,B,C]), xor(A, [B,C]), A = 0,
        C1 = [X1,X2], C2 = [Y1,Y2], domain(C1, -1, 0), domain(C2, -1, 0),
        ctrLigne([X1,Y1], [], [B,C]), ctrLigne([X2,Y2], [], [B,C]),
        pairwise(PI, (C1, C2), (0, -1)),
        pairwise(PJ, (C1, C2), (-1, 0)),
        \+ \+ ( PI = 1, X1 == 0, Y1 == -1, PJ == 2, X2 == -1, Y2 == 0 ),
        var(X1), var(PJ), fd_dom(B, -1..0), fd_dom(PI, 1..2).
