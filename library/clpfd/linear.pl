% Linear constraints: scalar_product/4,5, sum/3 and post_linear/4, the
% posting of the native global constraint of linear.cpp.  Part of module
% clpfd.
%
% Every linear constraint is posted as Σ Ci*Xi Op Rhs with Op one of =<,
% >=, = and \=, integer terms folded into Rhs, repeated variables merged
% and zero coefficients dropped.  The native side keeps the variables
% through global references and wakes itself through daemons on them, so
% the constraint is posted with no suspensions of its own.  Its state is
% linear(Terms, Flags, Rhs, Eliminated, Handle, Stamp): Terms a list of
% t(C, X, Attribute), Flags the relation (1 =<, 2 >=, 3 =, 4 \=) plus 8 for
% the single-word variant.

% scalar_product(+Coeffs, +Xs, +RelOp, ?Value): Σ Coeffs[i]*Xs[i] RelOp
% Value, RelOp one of #=, #\=, #<, #=<, #>, #>=.
scalar_product(Coeffs, Xs, RelOp, Value) :-
        scalar_product_checked(Coeffs, Xs, RelOp, Value, [],
                               scalar_product(Coeffs, Xs, RelOp, Value)).

% scalar_product(+Coeffs, +Xs, +RelOp, ?Value, +Options): the same; the
% only option, consistency(C), is checked and has no further effect (the
% propagator is bounds-consistent).
scalar_product(Coeffs, Xs, RelOp, Value, Options) :-
        scalar_product_checked(Coeffs, Xs, RelOp, Value, Options,
                               scalar_product(Coeffs, Xs, RelOp, Value, Options)).

% sum(+Xs, +RelOp, ?Value): Σ Xs[i] RelOp Value.
sum(Xs, RelOp, Value) :-
        Goal = sum(Xs, RelOp, Value),
        must_be_dvar_list(Xs, Goal, 1),
        unit_coefficients(Xs, Coeffs),
        linear_relop(RelOp, Goal, 2, Op, Shift),
        linear_value(Value, Goal, 3),
        post_scalar(Coeffs, Xs, Op, Shift, Value, Goal).

scalar_product_checked(Coeffs, Xs, RelOp, Value, Options, Goal) :-
        must_be(Coeffs, list, Goal, 1),
        coefficients(Coeffs, Goal, 1),
        must_be_dvar_list(Xs, Goal, 2),
        length(Coeffs, N),
        (   length(Xs, N) -> true
        ;   illarg(domain(list, same_length_as_coefficients), Goal, 2, Xs)
        ),
        linear_relop(RelOp, Goal, 3, Op, Shift),
        linear_value(Value, Goal, 4),
        linear_options(Options, Goal, 5),
        post_scalar(Coeffs, Xs, Op, Shift, Value, Goal).

% coefficients(+Coeffs, +Goal, +ArgNo): every element an integer.
coefficients([], _, _).
coefficients([C|Cs], Goal, ArgNo) :-
        (   integer(C) -> true
        ;   var(C) -> illarg(var, Goal, ArgNo)
        ;   illarg(type(integer), Goal, ArgNo, C)
        ),
        coefficients(Cs, Goal, ArgNo).

unit_coefficients([], []).
unit_coefficients([_|Xs], [1|Cs]) :- unit_coefficients(Xs, Cs).

% linear_relop(+RelOp, +Goal, +ArgNo, -Op, -Shift): Sum RelOp V is
% Sum Op V + Shift.
linear_relop(R, Goal, ArgNo, _, _) :- var(R), !, illarg(var, Goal, ArgNo).
linear_relop(R, _, _, Op, Shift) :- relop(R, Op, Shift), !.
linear_relop(R, Goal, ArgNo, _, _) :- illarg(domain(term, relop), Goal, ArgNo, R).

relop(#=, =, 0).
relop(#\=, \=, 0).
relop(#=<, =<, 0).
relop(#<, =<, -1).
relop(#>=, >=, 0).
relop(#>, >=, 1).

linear_value(V, _, _) :- var(V), !.
linear_value(V, _, _) :- integer(V), !.
linear_value(V, Goal, ArgNo) :- illarg(type(integer), Goal, ArgNo, V).

linear_options(Options, Goal, ArgNo) :-
        must_be(Options, list, Goal, ArgNo),
        linear_options_(Options, Goal, ArgNo).

linear_options_([], _, _).
linear_options_([O|Os], Goal, ArgNo) :-
        (   var(O) -> illarg(var, Goal, ArgNo)
        ;   O = consistency(C), nonvar(C), consistency_option(C, _, _) -> true
        ;   illarg(domain(term, scalar_product_option), Goal, ArgNo, O)
        ),
        linear_options_(Os, Goal, ArgNo).

% post_scalar(+Coeffs, +Xs, +Op, +Shift, ?Value, +Goal): a variable Value
% joins the sum with coefficient -1.
post_scalar(Coeffs, Xs, Op, Shift, Value, Goal) :-
        (   integer(Value) ->
            Rhs is Value + Shift,
            post_linear(Coeffs, Xs, Op, Rhs, Goal)
        ;   Rhs = Shift,
            post_linear([-1|Coeffs], [Value|Xs], Op, Rhs, Goal)
        ).

% post_linear(+Coeffs, +Xs, +Op, +Rhs): the internal entry of the
% arithmetic front end: Σ Coeffs[i]*Xs[i] Op Rhs with Op one of =<, >=, =,
% \=, Rhs an integer, Coeffs integers and Xs integers or domain variables
% (lists of equal length, already checked).
post_linear(Coeffs, Xs, Op, Rhs) :-
        post_linear(Coeffs, Xs, Op, Rhs, post_linear(Coeffs, Xs, Op, Rhs)).

post_linear(Coeffs, Xs, Op, Rhs0, Goal) :-
        linear_terms(Coeffs, Xs, Rhs0, Rhs, [], Pairs),
        (   Pairs == [] ->
            linear_holds(Op, 0, Rhs)
        ;   linear_op_code(Op, Code),
            linear_state_terms(Pairs, Goal, Terms),
            linear_variant(Pairs, Rhs, Variant),
            Flags is Code + Variant,
            fd_global_internal(scalar_product(Coeffs, Xs, Op, Rhs0),
                               linear(Terms, Flags, Rhs, 0, _, 0),
                               [], _, clpfd:Goal, 0)
        ).

linear_op_code(=<, 1).
linear_op_code(>=, 2).
linear_op_code(=, 3).
linear_op_code(\=, 4).

linear_holds(=<, S, R) :- S =< R.
linear_holds(>=, S, R) :- S >= R.
linear_holds(=, S, R) :- S =:= R.
linear_holds(\=, S, R) :- S =\= R.

% linear_terms(+Coeffs, +Xs, +Rhs0, -Rhs, +Acc, -Pairs): the C-X pairs of
% the variables (in order of first occurrence), a repeated
% variable's coefficients summed, zero ones dropped; integer terms moved
% to the right-hand side.
linear_terms([], [], Rhs, Rhs, Acc, Pairs) :-
        drop_zero_pairs(Acc, Pairs).
linear_terms([C|Cs], [X|Xs], Rhs0, Rhs, Acc0, Pairs) :-
        (   integer(X) ->
            Rhs1 is Rhs0 - C*X, Acc = Acc0
        ;   Rhs1 = Rhs0, add_pair(Acc0, C, X, Acc)
        ),
        linear_terms(Cs, Xs, Rhs1, Rhs, Acc, Pairs).

add_pair([], C, X, [C-X]).
add_pair([C0-Y|Ps], C, X, Acc) :-
        (   X == Y -> C1 is C0 + C, Acc = [C1-Y|Ps]
        ;   Acc = [C0-Y|Acc1], add_pair(Ps, C, X, Acc1)
        ).

drop_zero_pairs([], []).
drop_zero_pairs([C-X|Ps], Qs) :-
        (   C =:= 0 -> Qs = Qs1 ; Qs = [C-X|Qs1] ),
        drop_zero_pairs(Ps, Qs1).

% linear_state_terms(+Pairs, +Goal, -Terms): t(C, X, Attribute) for each
% pair; a coefficient beyond the small integers cannot be represented.
linear_state_terms([], _, []).
linear_state_terms([C-X|Ps], Goal, [t(C, X, A)|Ts]) :-
        (   small_fd_integer(C) -> true
        ;   raise_exception(error(representation_error(max_fd_integer), Goal))
        ),
        arg_attribute(X, A, Goal, 2),
        linear_state_terms(Ps, Goal, Ts).

small_fd_integer(C) :- C >= -268435456, C =< 268435455.

% linear_variant(+Pairs, +Rhs, -Variant): 8 (single-word) when every
% variable's bounds are finite now and S = |Rhs| + Σ |C|*max(|Min|, |Max|)
% is below 2^30.  Bounds only shrink, so each product, slack (at most S)
% and slack plus product (at most 2S) then fits a signed 32-bit word for
% the constraint's whole life; otherwise 0 (multi-word).
linear_variant(Pairs, Rhs, Variant) :-
        S0 is abs(Rhs),
        (   single_word_bound(Pairs, S0, S), S < 1073741824 -> Variant = 8
        ;   Variant = 0
        ).

single_word_bound([], S, S).
single_word_bound([C-X|Ps], S0, S) :-
        fd_min(X, Min), integer(Min),
        fd_max(X, Max), integer(Max),
        S1 is S0 + abs(C) * max(abs(Min), abs(Max)),
        S1 < 1073741824,
        single_word_bound(Ps, S1, S).
