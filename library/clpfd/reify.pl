% The reification front end: the connectives #<=>, #=>, #<=, #\/, #\
% (exclusive or), #/\ and the negation #\ over arithmetic comparisons
% (#= #\= #< #=< #> #>= between expressions), 0/1 variables and the
% integers 0 and 1.  Part of module clpfd.
%
% Every subformula is given a 0/1 variable that is 1 exactly when it
% holds: a comparison's through eq_iff/3 or le_iff/3 of reif.pl, both
% sides first reduced to one variable or integer by the arithmetic front
% end (expression_var/2, which posts auxiliary variables for compound
% expressions); a connective's through bool/4.  The formula at the top
% is then posted true.  Errors name the whole formula: an argument that
% is neither a formula nor an integer is a type error, an integer other
% than 0 or 1 a domain error, as are the errors of the expressions.

P #<=> Q :- connective(P, Q, 7, P #<=> Q).
P #=> Q :- connective(Q, P, 4, P #=> Q).
P #<= Q :- connective(P, Q, 4, P #<= Q).
P #\/ Q :- connective(P, Q, 3, P #\/ Q).
P #\ Q :- connective(P, Q, 6, P #\ Q).
P #/\ Q :- connective(P, Q, 0, P #/\ Q).
#\ P :- check_formula(P, #\ P, 1), reify(P, B, #\ P, 1), B = 0.

% connective(?P, ?Q, +Op, +Goal): Op(P, Q) holds, Op a code of bool/4.
connective(P, Q, Op, Goal) :-
        check_formula(P, Goal, 1),
        check_formula(Q, Goal, 2),
        reify(P, BP, Goal, 1),
        reify(Q, BQ, Goal, 2),
        bool(Op, BP, BQ, 1).

% check_formula(?F, +Goal, +ArgNo): F is a formula, all its parts
% checked before anything is posted.
check_formula(F, Goal, ArgNo) :- var(F), !, must_be_boolean(F, Goal, ArgNo).
check_formula(F, Goal, ArgNo) :- integer(F), !, must_be_boolean(F, Goal, ArgNo).
check_formula(F, Goal, ArgNo) :-
        comparison(F, _, L, R), !,
        must_be_expression(L, Goal, ArgNo),
        must_be_expression(R, Goal, ArgNo).
check_formula(F, Goal, ArgNo) :-
        formula_args(F, _, Args), !,
        check_formulas(Args, Goal, ArgNo).
check_formula(F, Goal, ArgNo) :-
        illarg(type(integer), Goal, ArgNo, F).

check_formulas([], _, _).
check_formulas([F|Fs], Goal, ArgNo) :-
        check_formula(F, Goal, ArgNo),
        check_formulas(Fs, Goal, ArgNo).

comparison(L #= R, =, L, R).
comparison(L #\= R, \=, L, R).
comparison(L #< R, <, L, R).
comparison(L #=< R, =<, L, R).
comparison(L #> R, >, L, R).
comparison(L #>= R, >=, L, R).

% formula_args(+F, -Op, -Args): a connective, its code of bool/4 (not for
% the negation) and its operands in the order bool/4 takes them.
formula_args(P #<=> Q, 7, [P, Q]).
formula_args(P #=> Q, 4, [Q, P]).
formula_args(P #<= Q, 4, [P, Q]).
formula_args(P #\/ Q, 3, [P, Q]).
formula_args(P #\ Q, 6, [P, Q]).
formula_args(P #/\ Q, 0, [P, Q]).
formula_args(#\ P, not, [P]).

% reify(?F, -B, +Goal, +ArgNo): B is 1 exactly when the checked formula F
% holds.
reify(F, B, Goal, ArgNo) :- var(F), !, must_be_boolean(F, Goal, ArgNo), B = F.
reify(F, B, _, _) :- integer(F), !, B = F.
reify(F, B, _, _) :-
        comparison(F, Rel, L, R), !,
        reify_comparison(Rel, L, R, B).
reify(F, B, Goal, ArgNo) :-
        formula_args(F, Op, Args),
        reify_args(Args, Bs, Goal, ArgNo),
        (   Op == not -> Bs = [BP], bool(6, BP, 1, B)
        ;   Bs = [BP, BQ], bool(Op, BP, BQ, B)
        ).

reify_args([], [], _, _).
reify_args([F|Fs], [B|Bs], Goal, ArgNo) :-
        reify(F, B, Goal, ArgNo),
        reify_args(Fs, Bs, Goal, ArgNo).

% reify_comparison(+Rel, ?L, ?R, -B): B is 1 exactly when L Rel R; X < Y
% is read as X + 1 =< Y.
reify_comparison(=, L, R, B) :- sides(L, R, X, Y), eq_iff(X, Y, B).
reify_comparison(\=, L, R, B) :- sides(L, R, X, Y), eq_iff(X, Y, NB), bool(6, NB, 1, B).
reify_comparison(=<, L, R, B) :- sides(L, R, X, Y), le_iff(X, Y, B).
reify_comparison(>=, L, R, B) :- sides(R, L, X, Y), le_iff(X, Y, B).
reify_comparison(<, L, R, B) :- sides(L + 1, R, X, Y), le_iff(X, Y, B).
reify_comparison(>, L, R, B) :- sides(R + 1, L, X, Y), le_iff(X, Y, B).

sides(L, R, X, Y) :- expression_var(L, X), expression_var(R, Y).
