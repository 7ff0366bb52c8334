% The arithmetic constraints #=, #\=, #<, #=<, #>, #>= over expressions
% of integers and domain variables.  Part of module clpfd.
%
% Both sides are read into one linear form, sum of K*X plus a constant,
% with every nonlinear part replaced by an auxiliary variable bound to it
% by its own propagator: products and squares (post_product/3,
% post_square/2), quotients and remainders (post_quotient/3,
% post_modulo/3, post_remainder/3), min/max (minimum/2, maximum/2) and
% abs (the indexical constraint '|x|=y').  The linear form is then
% posted by its shape:
%     no variable          the relation is checked at once;
%     one variable         its domain is restricted directly;
%     X - Y = 0            X and Y unified;
%     X - Y against C      a library indexical ('t=<u+c', 't=u+c',
%                          't\=u+c'): the binary cases' best propagators
%                          (t\=u+c waits until one side is fixed; t=u+c
%                          keeps the domains' holes);
%     anything else        the linear propagator (post_linear/4).
% Errors (naming the constraint): a constant that is not an integer, or a
% term that is no expression, is a type error; a variable stands for a
% domain variable anywhere in an expression.

X #= Y :- arith_rel(=, X, Y, X #= Y).
X #\= Y :- arith_rel(\=, X, Y, X #\= Y).
X #< Y :- arith_rel(<, X, Y, X #< Y).
X #=< Y :- arith_rel(=<, X, Y, X #=< Y).
X #> Y :- arith_rel(>, X, Y, X #> Y).
X #>= Y :- arith_rel(>=, X, Y, X #>= Y).

% arith_rel(+Rel, ?L, ?R, +Goal): L Rel R.
arith_rel(Rel, L, R, Goal) :-
        must_be_expression(L, Goal, 1),
        must_be_expression(R, Goal, 2),
        linearize(L, 1, Ts0, Ts1, 0, C1),
        linearize(R, -1, Ts1, [], C1, C),
        merge_terms(Ts0, C, Ts, C2),
        Rhs0 is -C2,
        rel_op(Rel, Rhs0, Op, Rhs),
        post_linear_form(Ts, Op, Rhs).

% rel_op(+Rel, +Rhs0, -Op, -Rhs): sum Rel Rhs0 as sum Op Rhs with Op one
% of =, \=, =<, >=.
rel_op(=, R, =, R).
rel_op(\=, R, \=, R).
rel_op(=<, R, =<, R).
rel_op(>=, R, >=, R).
rel_op(<, R0, =<, R) :- R is R0 - 1.
rel_op(>, R0, >=, R) :- R is R0 + 1.

% must_be_expression(+E, +Goal, +ArgNo): every leaf of E is a variable or
% an integer, every inner node an operation of the language.
must_be_expression(E, _, _) :- var(E), !.
must_be_expression(E, _, _) :- integer(E), !.
must_be_expression(E, Goal, ArgNo) :-
        expression_args(E, Args), !,
        must_be_expressions(Args, Goal, ArgNo).
must_be_expression(E, Goal, ArgNo) :-
        illarg(type(integer), Goal, ArgNo, E).

must_be_expressions([], _, _).
must_be_expressions([E|Es], Goal, ArgNo) :-
        must_be_expression(E, Goal, ArgNo),
        must_be_expressions(Es, Goal, ArgNo).

expression_args(A + B, [A, B]).
expression_args(A - B, [A, B]).
expression_args(-A, [A]).
expression_args(A * B, [A, B]).
expression_args(A // B, [A, B]).
expression_args(A mod B, [A, B]).
expression_args(A rem B, [A, B]).
expression_args(min(A, B), [A, B]).
expression_args(max(A, B), [A, B]).
expression_args(abs(A), [A]).

% linearize(+E, +K, -Ts, ?Tail, +C0, -C): K*E as the terms K1*X1, ...
% in front of Tail and the constant C - C0.
linearize(E, K, [K*E|Ts], Ts, C, C) :- var(E), !.
linearize(E, K, Ts, Ts, C0, C) :- integer(E), !, C is C0 + K*E.
linearize(A + B, K, Ts0, Ts, C0, C) :- !,
        linearize(A, K, Ts0, Ts1, C0, C1),
        linearize(B, K, Ts1, Ts, C1, C).
linearize(A - B, K, Ts0, Ts, C0, C) :- !,
        K1 is -K,
        linearize(A, K, Ts0, Ts1, C0, C1),
        linearize(B, K1, Ts1, Ts, C1, C).
linearize(-A, K, Ts0, Ts, C0, C) :- !,
        K1 is -K,
        linearize(A, K1, Ts0, Ts, C0, C).
linearize(A * B, K, Ts0, Ts, C0, C) :- !,
        linearize(A, 1, La, [], 0, Ca),
        linearize(B, 1, Lb, [], 0, Cb),
        (   La == [] -> K1 is K*Ca, linearize_form(Lb, Cb, K1, Ts0, Ts, C0, C)
        ;   Lb == [] -> K1 is K*Cb, linearize_form(La, Ca, K1, Ts0, Ts, C0, C)
        ;   form_var(La, Ca, X),
            form_var(Lb, Cb, Y),
            (   X == Y -> post_square(X, Z) ; post_product(X, Y, Z) ),
            Ts0 = [K*Z|Ts], C = C0
        ).
linearize(E, K, Ts0, Ts, C0, C) :-
        nonlinear(E, Z),
        (   integer(Z) -> Ts0 = Ts, C is C0 + K*Z
        ;   Ts0 = [K*Z|Ts], C = C0
        ).

% linearize_form(+L, +C1, +K, -Ts, ?Tail, +C0, -C): K times the form
% L + C1 added.
linearize_form([], C1, K, Ts, Ts, C0, C) :- C is C0 + K*C1.
linearize_form([K0*X|L], C1, K, [K2*X|Ts0], Ts, C0, C) :-
        K2 is K*K0,
        linearize_form(L, C1, K, Ts0, Ts, C0, C).

% nonlinear(+E, -Z): Z a variable (or integer) equal to E, an operation
% that is not linear.
nonlinear(A // B, Z) :- operands(A, B, X, Y), divmod(X, Y, //, Z).
nonlinear(A mod B, Z) :- operands(A, B, X, Y), divmod(X, Y, mod, Z).
nonlinear(A rem B, Z) :- operands(A, B, X, Y), divmod(X, Y, rem, Z).
nonlinear(min(A, B), Z) :-
        operands(A, B, X, Y),
        (   integer(X), integer(Y) -> Z is min(X, Y)
        ;   beyond(X, Side) -> ( Side == above -> Z = Y ; Z = X )
        ;   beyond(Y, Side) -> ( Side == above -> Z = X ; Z = Y )
        ;   minimum(Z, [X, Y])
        ).
nonlinear(max(A, B), Z) :-
        operands(A, B, X, Y),
        (   integer(X), integer(Y) -> Z is max(X, Y)
        ;   beyond(X, Side) -> ( Side == below -> Z = Y ; Z = X )
        ;   beyond(Y, Side) -> ( Side == below -> Z = X ; Z = Y )
        ;   maximum(Z, [X, Y])
        ).
nonlinear(abs(A), Z) :-
        expression_var(A, X),
        (   integer(X) -> Z is abs(X) ; '|x|=y'(X, Z) ).

operands(A, B, X, Y) :- expression_var(A, X), expression_var(B, Y).

% divmod(?X, ?Y, +Op, -Z): Z = X Op Y; two integers are computed (a zero
% divisor has no solution).
divmod(X, Y, Op, Z) :-
        integer(X), integer(Y), !,
        Y =\= 0,
        E =.. [Op, X, Y],
        Z is E.
divmod(X, Y, Op, _) :-
        ( beyond(X, _) -> C = X ; beyond(Y, _) -> C = Y ), !,
        E =.. [Op, X, Y],
        illarg(representation(max_fd_integer), E, 0, C).
divmod(X, Y, //, Z) :- post_quotient(X, Y, Z).
divmod(X, Y, mod, Z) :- post_modulo(X, Y, Z).
divmod(X, Y, rem, Z) :- post_remainder(X, Y, Z).

% fd_integer(+N): N lies within the integers a domain holds.
% beyond(+N, -Side): N is an integer above (Side = above) or below (below)
% them: a domain variable is always below (above) it.
fd_integer(N) :-
        '$fd_minint_maxint'(MinInt, MaxInt),
        N >= MinInt, N =< MaxInt.

beyond(N, Side) :-
        integer(N),
        '$fd_minint_maxint'(MinInt, MaxInt),
        (   N > MaxInt -> Side = above ; N < MinInt -> Side = below ).

% expression_var(+E, -X): a variable or an integer equal to E.
expression_var(E, E) :- var(E), !.
expression_var(E, E) :- integer(E), !.
expression_var(E, X) :-
        linearize(E, 1, L, [], 0, C),
        form_var(L, C, X).

% form_var(+L, +C, -X): a variable (or integer) equal to the form L + C.
form_var(L0, C0, X) :-
        merge_terms(L0, C0, L, C),
        (   L == [] -> X = C
        ;   L = [1*V], C =:= 0 -> X = V
        ;   Rhs is -C,
            post_linear_form([-1*X|L], =, Rhs)
        ).

% merge_terms(+Ts0, +C0, -Ts, -C): the terms with each variable once,
% zero coefficients dropped, and variables bound meanwhile folded into
% the constant.
merge_terms(Ts0, C0, Ts, C) :- merge_terms(Ts0, [], C0, Ts, C).

merge_terms([], Acc, C, Ts, C) :- nonzero(Acc, Ts).
merge_terms([K*X|Ts0], Acc, C0, Ts, C) :-
        (   integer(X) -> C1 is C0 + K*X, merge_terms(Ts0, Acc, C1, Ts, C)
        ;   add_term(Acc, K, X, Acc1), merge_terms(Ts0, Acc1, C0, Ts, C)
        ).

add_term([], K, X, [K*X]).
add_term([K0*Y|Ts], K, X, Out) :-
        (   X == Y -> K1 is K0 + K, Out = [K1*Y|Ts]
        ;   Out = [K0*Y|Out1], add_term(Ts, K, X, Out1)
        ).

nonzero([], []).
nonzero([K*X|Ts0], Ts) :-
        (   K =:= 0 -> Ts = Ts1 ; Ts = [K*X|Ts1] ),
        nonzero(Ts0, Ts1).

% post_linear_form(+Ts, +Op, +Rhs): sum of Ts Op Rhs, Op one of =, \=,
% =<, >=.
post_linear_form([], Op, Rhs) :- !, compare_op(Op, 0, Rhs).
post_linear_form([K*X], Op, Rhs) :- !, post_one(Op, K, X, Rhs).
post_linear_form([K1*X, K2*Y], Op, Rhs) :-
        K1 =:= -K2, abs(K1) =:= 1, fd_integer(Rhs), !,
        (   K1 =:= 1 -> post_difference(Op, X, Y, Rhs)
        ;   post_difference(Op, Y, X, Rhs)
        ).
post_linear_form(Ts, Op, Rhs) :-
        split_terms(Ts, Ks, Xs),
        post_linear(Ks, Xs, Op, Rhs).

split_terms([], [], []).
split_terms([K*X|Ts], [K|Ks], [X|Xs]) :- split_terms(Ts, Ks, Xs).

compare_op(=, A, B) :- A =:= B.
compare_op(\=, A, B) :- A =\= B.
compare_op(=<, A, B) :- A =< B.
compare_op(>=, A, B) :- A >= B.

% post_one(+Op, +K, ?X, +Rhs): K*X Op Rhs.
post_one(=, K, X, Rhs) :-
        Rhs mod K =:= 0,
        V is Rhs // K,
        X = V.
post_one(\=, K, X, Rhs) :-
        (   Rhs mod K =:= 0, V is Rhs // K, fd_integer(V) -> 't\\=c'(X, V)
        ;   arg_attribute(X, _, K*X #\= Rhs, 1)
        ).
post_one(=<, K, X, Rhs) :-
        (   K > 0 -> floor_div(Rhs, K, Max), at_most(X, Max)
        ;   ceiling_div(Rhs, K, Min), at_least(X, Min)
        ).
post_one(>=, K, X, Rhs) :-
        (   K > 0 -> ceiling_div(Rhs, K, Min), at_least(X, Min)
        ;   floor_div(Rhs, K, Max), at_most(X, Max)
        ).

% at_most(?X, +Max), at_least(?X, +Min): a bound beyond the integers a
% domain holds restricts nothing on its side (X only becomes a domain
% variable).
at_most(X, Max) :-
        '$fd_minint_maxint'(_, MaxInt),
        (   Max > MaxInt -> propagate_interval(X, inf, sup) ; propagate_interval(X, inf, Max) ).

at_least(X, Min) :-
        '$fd_minint_maxint'(MinInt, _),
        (   Min < MinInt -> propagate_interval(X, inf, sup) ; propagate_interval(X, Min, sup) ).

% floor_div(+A, +B, -Q), ceiling_div(+A, +B, -Q): A / B rounded down, up
% (// truncates).
floor_div(A, B, Q) :-
        Q0 is A // B,
        (   Q0 * B =\= A, A * B < 0 -> Q is Q0 - 1 ; Q = Q0 ).

ceiling_div(A, B, Q) :-
        Q0 is A // B,
        (   Q0 * B =\= A, A * B > 0 -> Q is Q0 + 1 ; Q = Q0 ).

% X - Y Op C through the library's indexical constraints.
post_difference(=<, X, Y, C) :- 't=<u+c'(X, Y, C).
post_difference(>=, X, Y, C) :- C1 is -C, 't=<u+c'(Y, X, C1).
post_difference(=, X, Y, C) :- ( C =:= 0 -> X = Y ; 't=u+c'(X, Y, C) ).
post_difference(\=, X, Y, C) :- 't\\=u+c'(X, Y, C).
